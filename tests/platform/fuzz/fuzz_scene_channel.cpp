// Fuzz target: key-frame channels evaluated at times of the input's choice.
// Built as a libFuzzer program with clang (ORVA_LIBFUZZER); every build also
// runs it as a regression program over channels it makes itself and
// deterministic mutations of them:
//
//   fuzz_scene_channel_regression [MUTATIONS]
//   fuzz_scene_channel_regression --write-seeds FOLDER
//
// Input: flags (u8), pre and post behaviour (a byte each, taken as -7 to
// 7 so that unknown values come up about as often as known ones), key
// count (u8), each key as a file stores it (shape, time, value, p1 to p6:
// nine 32-bit words), then times (f32) until the input ends.
//
// Every channel: evaluation reads the keys and nothing past them, gives the
// same bits for the same time twice, and the caller's default when there are
// no keys. With flag bit 0 the keys are first tamed into a flat channel:
// times rising by at least one frame, values within a million, and every
// tangent and handle zero, so that no span leaves the range of its two
// keys' values. Any time within a million frames must then give a value
// within the range of all the keys' values (and 0 for Reset), shifted by the
// cycles' rise for OffsetRepeat: a wrap that left the key range, a mirror
// about the wrong middle or a span chosen wrongly shows there.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/render/scene_channel.h"
#include "tests/platform/fuzz/fuzz_check.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

namespace {

constexpr float kFlatLimit = 1.0e6f;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More(size_t bytes) const { return size - at >= bytes; }
    uint8_t U8() { return at < size ? data[at++] : 0; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(U8()) << (8 * i);
        return v;
    }
    float F32()
    {
        const uint32_t bits = U32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
};

// Any float to a finite one within the limit; the fraction is kept so that
// times and values do not all fall on whole numbers.
float Tame(float f, float limit)
{
    if (!std::isfinite(f)) return 0.0f;
    return std::fmod(f, limit);
}

// Shapes 0 to 5, finite parameters, and every tangent and handle that
// shapes the value zero: tension 1 for TCB, no tangents for Hermite and
// Bezier, no value handles for Bezier2D (whose time handles may stay, the
// bisection keeps its parameter within the span), and p2 zero for the keys
// a Bezier2D span starts from.
void Flatten(OrvaSceneKey* keys, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        OrvaSceneKey& k = keys[i];
        k.shape = int32_t(uint32_t(k.shape) % 6);
        const float step = 1.0f + std::fabs(Tame(k.time, 1000.0f));
        k.time = i == 0 ? Tame(k.time, kFlatLimit) : keys[i - 1].time + step;
        k.value = Tame(k.value, kFlatLimit);
        for (float& p : k.p) p = Tame(p, 1000.0f);
        k.p[1] = 0.0f;
        switch (k.shape) {
        case kOrvaKeyTcb: k.p[0] = 1.0f; break;
        case kOrvaKeyHermite:
        case kOrvaKeyBezier: k.p[3] = k.p[4] = 0.0f; break;
        case kOrvaKeyBezier2D: k.p[3] = 0.0f; break;
        default: break;
        }
    }
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The flat channel's value at time lies between its lowest and highest key
// values, within the rounding of the spans' arithmetic and of the wrap: a
// wrapped time is formed in f32 and can land a rounding step outside the
// key range, where the end span goes on at its slope.
void CheckFlat(const OrvaSceneChannel& channel, float time, float got)
{
    const OrvaSceneKey* keys = channel.GetKeys();
    const int32_t count = channel.GetKeyCount();
    const OrvaSceneKey& first = keys[0];
    const OrvaSceneKey& last = keys[count - 1];
    const bool before = time < first.time;
    const bool after = time > last.time;
    const int32_t behavior = before ? channel.GetPreBehavior() : after ? channel.GetPostBehavior() : -1;
    if ((before || after) && (behavior < kOrvaChannelReset || behavior > kOrvaChannelLinear)) {
        // An unknown behaviour extends the end span past its key.
        return;
    }
    if (behavior == kOrvaChannelReset) {
        FUZZ_CHECK(got == 0.0f);
        return;
    }
    float low = first.value, high = first.value;
    // Steepest secant; a span with zero tangents is at most half as steep
    // again.
    double slope = 0.0;
    for (int32_t i = 1; i < count; ++i) {
        low = std::min(low, keys[i].value);
        high = std::max(high, keys[i].value);
        slope = std::max(slope, std::fabs(double(keys[i].value) - keys[i - 1].value) /
                                    (double(keys[i].time) - keys[i - 1].time));
    }
    const float reach = std::fabs(time) + std::fabs(first.time) + std::fabs(last.time);
    const double wrapSlack = 1.5 * slope * 4.0 * double(std::nextafter(reach, INFINITY) - reach);
    double shift = 0.0;
    if (behavior == kOrvaChannelOffsetRepeat) {
        int32_t cycles = 0;
        OrvaSceneChannel::WrapTime(time, first.time, last.time, &cycles);
        shift = double(last.value - first.value) * cycles;
    }
    const double slack =
        1.0e-4 * (1.0 + std::max(std::fabs(low), std::fabs(high)) + std::fabs(shift)) + wrapSlack;
    FUZZ_CHECK(got - shift >= low - slack && got - shift <= high + slack);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    const uint8_t flags = in.U8();
    const int32_t pre = int8_t(in.U8()) % 8;
    const int32_t post = int8_t(in.U8()) % 8;
    const int32_t count = in.U8();
    OrvaSceneChannel* channel = new OrvaSceneChannel(pre, post);
    // A block of exactly count keys, so that a read past the last key is one
    // past the block for the address sanitizer.
    OrvaSceneKey* keys = channel->ResetKeys(count);
    for (int32_t i = 0; i < count; ++i) {
        OrvaSceneKey& k = keys[i];
        k.shape = int32_t(in.U32());
        k.time = in.F32();
        k.value = in.F32();
        for (float& p : k.p) p = in.F32();
    }
    const bool flat = (flags & 1) != 0 && count > 0;
    if (flat) {
        Flatten(keys, count);
    }
    std::vector<uint8_t> before(size_t(count) * sizeof(OrvaSceneKey));
    if (count > 0) std::memcpy(before.data(), keys, before.size());

    constexpr float kDefault = -12345.5f;
    for (int steps = 0; in.More(4) && steps < 64; ++steps) {
        float time = in.F32();
        if (flat) time = Tame(time, kFlatLimit);
        const float got = channel->Evaluate(time, kDefault);
        FUZZ_CHECK(SameBits(got, channel->Evaluate(time, kDefault)));
        if (count == 0) {
            FUZZ_CHECK(SameBits(got, kDefault));
        } else if (flat) {
            CheckFlat(*channel, time, got);
        }
    }
    // Evaluation changes nothing, links included.
    FUZZ_CHECK(count == 0 || std::memcmp(before.data(), keys, before.size()) == 0);
    channel->Release();
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

void Put32(Bytes* b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b->push_back(uint8_t(v >> (8 * i)));
}

void PutF32(Bytes* b, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    Put32(b, bits);
}

struct SeedKey {
    int32_t shape;
    float time;
    float value;
    float p[6];
};

Bytes Channel(uint8_t flags, int8_t pre, int8_t post, const std::vector<SeedKey>& keys, const std::vector<float>& times)
{
    Bytes b = {flags, uint8_t(pre), uint8_t(post), uint8_t(keys.size())};
    for (const SeedKey& k : keys) {
        Put32(&b, uint32_t(k.shape));
        PutF32(&b, k.time);
        PutF32(&b, k.value);
        for (float p : k.p) PutF32(&b, p);
    }
    for (float t : times) PutF32(&b, t);
    return b;
}

// Times before, inside and after a range of keys from 0 to 30 frames, and
// far outside it.
const std::vector<float> kTimes = {-100.0f, -15.0f, -0.5f, 0.0f, 5.0f, 10.0f, 12.0f, 15.0f, 20.0f,
                                   25.0f,   30.0f,  31.0f, 45.0f, 61.0f, 1.0e5f, -1.0e5f};

// Mutations where evaluation has something to choose: the flags and
// behaviours, any word of a key (shape, time, value, parameters), the key
// count against the bytes that follow, and the times.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 2, 3, 4, 5, 6, 0xFFFFFFFFu, 0x80000000u,
                                            0x7F800000u,   // +infinity
                                            0x7FC00000u,   // NaN
                                            0x3F800000u,   // 1.0f
                                            0x00000001u,   // the smallest subnormal
                                            0x4E6E6B28u};  // 1e9f
    const uint32_t value = kInteresting[r->Below(sizeof kInteresting / sizeof kInteresting[0])];
    switch (r->Below(6)) {
    case 0: if (b->size() > 0) (*b)[0] ^= uint8_t(1u << r->Below(2)); break;
    case 1: if (b->size() > 2) (*b)[1 + r->Below(2)] = uint8_t(r->Below(16) - 8); break;
    case 2: if (b->size() > 3) (*b)[3] = uint8_t(r->Below(8)); break;
    case 3:
        if (b->size() >= 8) {
            const size_t at = 4 + 4 * r->Below((b->size() - 4) / 4);
            for (int i = 0; i < 4 && at + size_t(i) < b->size(); ++i) (*b)[at + size_t(i)] = uint8_t(value >> (8 * i));
        }
        break;
    case 4: b->resize(r->Below(b->size() + 1)); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    auto key = [](int32_t shape, float time, float value, std::initializer_list<float> p = {}) {
        SeedKey k = {shape, time, value, {}};
        std::copy(p.begin(), p.end(), k.p);
        return k;
    };
    const std::vector<SeedKey> line = {key(kOrvaKeyLinear, 0.0f, 0.0f), key(kOrvaKeyLinear, 10.0f, 10.0f)};
    const std::vector<SeedKey> mixed = {
        key(kOrvaKeyTcb, 0.0f, 1.0f, {0.5f, -0.5f, 0.25f}), key(kOrvaKeyHermite, 7.5f, -2.0f, {0, 0, 0, 1.0f, -1.0f}),
        key(kOrvaKeyBezier, 12.0f, 3.0f, {0, 0, 0, 2.0f, 0.5f}), key(kOrvaKeyStepped, 20.0f, 4.0f),
        key(kOrvaKeyBezier2D, 25.0f, -1.0f, {-1.0f, 2.0f, 1.5f, -0.5f}),
        key(kOrvaKeyBezier2D, 30.0f, 6.0f, {-2.0f, 1.0f})};
    const std::vector<SeedKey> single = {key(kOrvaKeyTcb, 4.0f, 2.5f)};
    const std::vector<SeedKey> sameTime = {key(kOrvaKeyLinear, 5.0f, 1.0f), key(kOrvaKeyTcb, 5.0f, 2.0f),
                                           key(kOrvaKeyHermite, 5.0f, 3.0f)};
    const std::vector<Bytes> seeds = {
        Channel(0, kOrvaChannelConstant, kOrvaChannelRepeat, line, kTimes),
        Channel(1, kOrvaChannelLinear, kOrvaChannelOscillate, line, kTimes),
        Channel(0, kOrvaChannelReset, kOrvaChannelOffsetRepeat, line, kTimes),
        Channel(0, kOrvaChannelOscillate, kOrvaChannelLinear, mixed, kTimes),
        Channel(1, kOrvaChannelOffsetRepeat, kOrvaChannelRepeat, mixed, kTimes),
        Channel(0, kOrvaChannelRepeat, 7, mixed, kTimes),
        Channel(1, kOrvaChannelOscillate, kOrvaChannelOffsetRepeat, single, kTimes),
        Channel(0, kOrvaChannelRepeat, kOrvaChannelOscillate, sameTime, kTimes),
        Channel(0, -3, kOrvaChannelConstant, {}, kTimes),
    };
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    fuzzrun::Random random(0x510E527FADE682D1ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
