// Fuzz target: the sound module's readers, the RIFF WAVE reader and the OSD
// pack reader, over the same bytes (each refuses the other's files at their
// magic, so every seed exercises the reader it was written for). Built as a
// libFuzzer program with clang (ORVA_LIBFUZZER); every build also runs it as
// a regression program over seeds it writes itself and deterministic
// mutations aimed at the chunk and entry sizes the readers check:
//
//   fuzz_wav_regression [MUTATIONS]
//   fuzz_wav_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/sound/sound.h"
#include "platform/audio/sound_buffer.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32At(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool SameFormat(const platform::WaveFormat& a, const platform::WaveFormat& b)
{
    return a.formatTag == b.formatTag && a.channels == b.channels && a.samplesPerSec == b.samplesPerSec &&
           a.avgBytesPerSec == b.avgBytesPerSec && a.blockAlign == b.blockAlign && a.bitsPerSample == b.bitsPerSample &&
           a.extraSize == b.extraSize && a.validBitsPerSample == b.validBitsPerSample &&
           a.channelMask == b.channelMask && std::memcmp(a.subFormat, b.subFormat, sizeof a.subFormat) == 0;
}

void Put16(Bytes* b, uint32_t v)
{
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

void Put32(Bytes* b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

void PutId(Bytes* b, const char* id)
{
    for (int i = 0; i < 4; ++i) b->push_back(uint8_t(id[i]));
}

// The stored form of a format: 16 bytes for PCM and float (the form the
// reader takes for them), 40 for extensible, else 18.
Bytes StoredFormat(const platform::WaveFormat& f)
{
    Bytes b;
    Put16(&b, f.formatTag);
    Put16(&b, f.channels);
    Put32(&b, f.samplesPerSec);
    Put32(&b, f.avgBytesPerSec);
    Put16(&b, f.blockAlign);
    Put16(&b, f.bitsPerSample);
    if (f.formatTag == platform::kWaveFormatPcm || f.formatTag == platform::kWaveFormatFloat) return b;
    Put16(&b, f.extraSize);
    if (f.formatTag != platform::kWaveFormatExtensible) return b;
    Put16(&b, f.validBitsPerSample);
    Put32(&b, f.channelMask);
    b.insert(b.end(), f.subFormat, f.subFormat + sizeof f.subFormat);
    return b;
}

// A plain WAVE: the format chunk, then the data.
Bytes WriteWave(const platform::WaveFormat& format, const uint8_t* samples, size_t count)
{
    const Bytes fmt = StoredFormat(format);
    Bytes b;
    PutId(&b, "RIFF");
    Put32(&b, uint32_t(4 + 8 + fmt.size() + 8 + count));
    PutId(&b, "WAVE");
    PutId(&b, "fmt ");
    Put32(&b, uint32_t(fmt.size()));
    b.insert(b.end(), fmt.begin(), fmt.end());
    PutId(&b, "data");
    Put32(&b, uint32_t(count));
    b.insert(b.end(), samples, samples + count);
    return b;
}

void CheckWave(const uint8_t* data, size_t size)
{
    platform::WaveFormat format;
    size_t offset = 0;
    uint32_t bytes = 0;
    if (!OrvaSound::ParseWave(data, size, &format, &offset, &bytes)) return;
    // The data read lies inside the image, after the RIFF header and a
    // format chunk: the size its chunk says, or, when that runs past the end,
    // all the image holds.
    const uint32_t stated = offset >= 4 && offset <= size ? U32At(data + offset - 4) : 0;
    if (bytes == 0 || offset < 12 + 8 + 8 + 16 || offset > size || bytes > size - offset ||
        std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0 ||
        std::memcmp(data + offset - 8, "data", 4) != 0 ||
        (stated <= size - offset ? stated != bytes : bytes != size - offset)) {
        __builtin_trap();
    }
    // The format is what some "fmt " chunk before the data stores.
    const Bytes stored = StoredFormat(format);
    bool fromChunk = false;
    for (size_t body = 20; !fromChunk && body + stored.size() <= offset - 8; ++body) {
        fromChunk = std::memcmp(data + body - 8, "fmt ", 4) == 0 && U32At(data + body - 4) >= stored.size() &&
                    std::memcmp(data + body, stored.data(), stored.size()) == 0;
    }
    const bool plain = format.formatTag == platform::kWaveFormatPcm || format.formatTag == platform::kWaveFormatFloat;
    if (!fromChunk || (plain && format.extraSize != 0)) __builtin_trap();
    // Nothing past the samples is needed: the image cut after them reads
    // the same.
    platform::WaveFormat cutFormat;
    size_t cutOffset = 0;
    uint32_t cutBytes = 0;
    const size_t end = offset + bytes;
    std::unique_ptr<uint8_t[]> cut(new uint8_t[end]);
    std::memcpy(cut.get(), data, end);
    if (!OrvaSound::ParseWave(cut.get(), end, &cutFormat, &cutOffset, &cutBytes) || !SameFormat(cutFormat, format) ||
        cutOffset != offset || cutBytes != bytes) {
        __builtin_trap();
    }
    // Written again as a plain WAVE, it reads to the same format and samples.
    const Bytes again = WriteWave(format, data + offset, bytes);
    platform::WaveFormat reread;
    size_t rereadOffset = 0;
    uint32_t rereadBytes = 0;
    if (!OrvaSound::ParseWave(again.data(), again.size(), &reread, &rereadOffset, &rereadBytes) ||
        !SameFormat(reread, format) || rereadBytes != bytes || rereadOffset != again.size() - bytes ||
        std::memcmp(again.data() + rereadOffset, data + offset, bytes) != 0) {
        __builtin_trap();
    }
}

// What the pack reader must find for `wanted`, worked out from the layout:
// the magic, then entries of a 32-byte name, a 4-byte size, an 18-byte
// format and the samples. The first entry of the name decides.
struct Expected {
    bool found = false;
    size_t format = 0;  // offset of the stored format
    uint32_t size = 0;
};

Expected ExpectEntry(const uint8_t* data, size_t size, const std::string& wanted)
{
    Expected e;
    if (size < 4 || std::memcmp(data, "OSD\0", 4) != 0) return e;
    size_t at = 4;
    while (size - at >= 36) {
        const char* name = reinterpret_cast<const char*>(data + at);
        const uint32_t entrySize = U32At(data + at + 32);
        const uint64_t format = at + 36;
        if (strnlen(name, 32) == wanted.size() && std::memcmp(name, wanted.data(), wanted.size()) == 0) {
            e.found = entrySize != 0 && format + 18 + entrySize <= size &&
                      U32At(data + format) % 0x10000 != platform::kWaveFormatExtensible;
            e.format = size_t(format);
            e.size = entrySize;
            return e;
        }
        if (format + 18 + entrySize > size) break;
        at = size_t(format + 18 + entrySize);
    }
    return e;
}

void CheckPack(const uint8_t* data, size_t size)
{
    if (size == 0) return;
    // The names asked for: those of the first entries, and one that is in
    // no pack the seeds make.
    std::vector<std::string> names = {std::string("\x01missing")};
    for (size_t at = 4, n = 0; n < 6 && at + 36 <= size; ++n) {
        names.emplace_back(reinterpret_cast<const char*>(data + at), strnlen(reinterpret_cast<const char*>(data + at), 32));
        const uint64_t next = at + 36 + 18 + uint64_t(U32At(data + at + 32));
        if (next > size) break;
        at = size_t(next);
    }
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (file == nullptr) return;
    for (const std::string& name : names) {
        platform::WaveFormat format;
        uint32_t bytes = 0;
        const bool found = OrvaSound::FindPackEntry(file, name.c_str(), &format, &bytes);
        const Expected e = ExpectEntry(data, size, name);
        if (found != e.found) __builtin_trap();
        if (!found) continue;
        // The entry's own format and size, with the file at its samples.
        platform::WaveFormat stored;
        if (!platform::WaveFormat::Read(data + e.format, 18, &stored) || !SameFormat(stored, format) ||
            bytes != e.size || std::ftell(file) != long(e.format + 18)) {
            __builtin_trap();
        }
    }
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A block of exactly the input's size, so that a read past the end is
    // one past the block for the address sanitizer.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    CheckWave(copy.get(), size);
    CheckPack(copy.get(), size);
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using fuzzrun::Random;

platform::WaveFormat Format(uint16_t tag, uint16_t channels, uint16_t bits)
{
    platform::WaveFormat f;
    f.formatTag = tag;
    f.channels = channels;
    f.samplesPerSec = 22050;
    f.blockAlign = uint16_t(channels * bits / 8);
    f.bitsPerSample = bits;
    f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
    if (tag == platform::kWaveFormatExtensible) {
        f.extraSize = 22;
        f.validBitsPerSample = bits;
        f.channelMask = 3;
        f.subFormat[0] = 1;
    }
    return f;
}

Bytes Ramp(size_t count)
{
    Bytes b(count);
    for (size_t i = 0; i < count; ++i) b[i] = uint8_t(i * 7 + 3);
    return b;
}

Bytes Wave(const platform::WaveFormat& f, size_t count)
{
    const Bytes samples = Ramp(count);
    return WriteWave(f, samples.data(), samples.size());
}

// A wave with an odd-sized chunk before the format (padded or not) and a
// chunk after the data.
Bytes WaveWithChunks(bool padded)
{
    const Bytes fmt = StoredFormat(Format(platform::kWaveFormatPcm, 1, 8));
    Bytes b;
    PutId(&b, "RIFF");
    Put32(&b, 0);
    PutId(&b, "WAVE");
    PutId(&b, "LIST");
    Put32(&b, 5);
    b.insert(b.end(), {'I', 'N', 'F', 'O', '!'});
    if (padded) b.push_back(0);
    PutId(&b, "fmt ");
    Put32(&b, uint32_t(fmt.size()));
    b.insert(b.end(), fmt.begin(), fmt.end());
    PutId(&b, "data");
    Put32(&b, 9);
    const Bytes samples = Ramp(9);
    b.insert(b.end(), samples.begin(), samples.end());
    b.push_back(0);
    PutId(&b, "cue ");
    Put32(&b, 4);
    Put32(&b, 0);
    return b;
}

void PackEntry(Bytes* b, const std::string& name, const platform::WaveFormat& f, size_t count)
{
    const size_t at = b->size();
    b->resize(at + 32);
    std::memcpy(b->data() + at, name.data(), std::min<size_t>(name.size(), 32));
    Put32(b, uint32_t(count));
    Bytes stored = StoredFormat(f);
    stored.resize(18);
    b->insert(b->end(), stored.begin(), stored.end());
    const Bytes samples = Ramp(count);
    b->insert(b->end(), samples.begin(), samples.end());
}

Bytes Pack(int variant)
{
    Bytes b = {'O', 'S', 'D', 0};
    const platform::WaveFormat pcm = Format(platform::kWaveFormatPcm, 2, 16);
    if (variant == 0) {
        PackEntry(&b, "shot", pcm, 40);
        return b;
    }
    PackEntry(&b, "other", Format(platform::kWaveFormatPcm, 1, 8), 5);
    PackEntry(&b, "shot", pcm, 24);
    PackEntry(&b, "shot", Format(platform::kWaveFormatFloat, 1, 32), 8);
    PackEntry(&b, std::string(32, 'n'), pcm, 3);
    PackEntry(&b, "empty", pcm, 0);
    PackEntry(&b, "wide", Format(platform::kWaveFormatExtensible, 2, 16), 12);
    return b;
}

void PutU32(Bytes* b, size_t at, uint32_t v)
{
    if (at + 4 > b->size()) return;
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Mutations where the readers have something to check: any word (chunk and
// entry sizes, format fields), the ids and names, and the image's length.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 2, 3, 15, 16, 17, 18, 39, 40, 0xFFFE, 0x7FFFFFFF,
                                            0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF8u};
    const uint32_t value = kInteresting[r->Below(15)];
    switch (r->Below(7)) {
    case 0: if (!b->empty()) (*b)[r->Below(b->size())] ^= uint8_t(1u << r->Below(8)); break;
    case 1: PutU32(b, r->Below(b->size() + 1), value); break;
    case 2: PutU32(b, 4 * r->Below(b->size() / 4 + 1), uint32_t(b->size()) - uint32_t(r->Below(64))); break;
    case 3: b->resize(r->Below(b->size() + 1)); break;
    case 4: b->resize(b->size() + 1 + r->Below(64), uint8_t(r->Next())); break;
    case 5:
        if (b->size() > 8) {
            const size_t at = r->Below(b->size() - 1);
            b->erase(b->begin() + long(at), b->begin() + long(std::min(b->size(), at + 1 + r->Below(8))));
        }
        break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    const std::vector<Bytes> seeds = {
        Wave(Format(platform::kWaveFormatPcm, 2, 16), 64),
        Wave(Format(platform::kWaveFormatFloat, 1, 32), 16),
        Wave(Format(platform::kWaveFormatExtensible, 2, 24), 30),
        Wave(Format(0x0011, 1, 4), 7),
        WaveWithChunks(true),
        WaveWithChunks(false),
        Pack(0),
        Pack(1),
    };
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    // The seeds read as written: each is a valid file of its kind.
    for (size_t i = 0; i < seeds.size(); ++i) {
        platform::WaveFormat format;
        size_t offset = 0;
        uint32_t bytes = 0;
        bool read = false;
        if (i < 6) {
            read = OrvaSound::ParseWave(seeds[i].data(), seeds[i].size(), &format, &offset, &bytes);
        } else if (FILE* file = fmemopen(const_cast<uint8_t*>(seeds[i].data()), seeds[i].size(), "r")) {
            read = OrvaSound::FindPackEntry(file, "shot", &format, &bytes);
            std::fclose(file);
        }
        if (!read) {
            std::fprintf(stderr, "seed %zu does not read\n", i);
            return 1;
        }
    }
    fuzzrun::Random random(0x6A09E667F3BCC909ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
