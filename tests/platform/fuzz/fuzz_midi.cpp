// Fuzz target: the Standard MIDI File reader (MidiSong). Built as a
// libFuzzer program with clang (ORVA_LIBFUZZER); every build also runs it as
// a regression program over seeds it writes itself and deterministic
// mutations aimed at the chunk sizes, counts and variable-length numbers the
// reader checks:
//
//   fuzz_midi_regression [MUTATIONS]
//   fuzz_midi_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutBig32(Bytes* b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) b->push_back(uint8_t(v >> shift));
}

void PutNumber(Bytes* b, uint32_t v)
{
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = uint8_t(v & 0x7F);
        v >>= 7;
    } while (v != 0 && n < 4);
    while (n > 1) b->push_back(uint8_t(groups[--n] | 0x80));
    b->push_back(groups[0]);
}

// A file of one track, one tick a frame (a quarter of kAudioRate / 2 ticks
// at the default 120 beats a minute), holding `events` at their frames and
// ending at `length`. Longer gaps than a delta can say are bridged with
// empty text events, which play nothing.
Bytes WriteSong(const std::vector<platform::MidiEvent>& events, const std::vector<uint8_t>& sysex, int64_t length)
{
    constexpr uint32_t kMaxDelta = 0x0FFFFFFF;
    Bytes track;
    int64_t at = 0;
    auto advance = [&](int64_t frame) {
        while (frame - at > kMaxDelta) {
            PutNumber(&track, kMaxDelta);
            track.push_back(0xFF);
            track.push_back(0x01);
            track.push_back(0x00);
            at += kMaxDelta;
        }
        PutNumber(&track, uint32_t(frame - at));
        at = frame;
    };
    for (const platform::MidiEvent& e : events) {
        advance(e.frame);
        track.push_back(e.status);
        if (e.status == 0xF0) {
            PutNumber(&track, e.sysexSize + 1);
            track.insert(track.end(), sysex.begin() + e.sysexOffset, sysex.begin() + e.sysexOffset + e.sysexSize);
            track.push_back(0xF7);
            continue;
        }
        track.push_back(e.data1);
        if ((e.status & 0xF0) != 0xC0 && (e.status & 0xF0) != 0xD0) track.push_back(e.data2);
    }
    advance(length);
    track.push_back(0xFF);
    track.push_back(0x2F);
    track.push_back(0x00);
    Bytes b = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};
    b.push_back(uint8_t((platform::kAudioRate / 2) >> 8));
    b.push_back(uint8_t(platform::kAudioRate / 2));
    b.push_back('M');
    b.push_back('T');
    b.push_back('r');
    b.push_back('k');
    PutBig32(&b, uint32_t(track.size()));
    b.insert(b.end(), track.begin(), track.end());
    return b;
}

bool SameEvent(const platform::MidiEvent& a, const std::vector<uint8_t>& sysexA, const platform::MidiEvent& b,
               const std::vector<uint8_t>& sysexB)
{
    if (a.frame != b.frame || a.status != b.status || a.data1 != b.data1 || a.data2 != b.data2 ||
        a.sysexSize != b.sysexSize) {
        return false;
    }
    return a.sysexSize == 0 ||
           std::memcmp(sysexA.data() + a.sysexOffset, sysexB.data() + b.sysexOffset, a.sysexSize) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A block of exactly the input's size, so that a read past the end is
    // one past the block for the address sanitizer.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    platform::MidiResult result = platform::MidiResult::kOk;
    const std::unique_ptr<platform::MidiSong> song = platform::MidiSong::Parse(copy.get(), size, &result);
    if (song == nullptr) {
        if (result == platform::MidiResult::kOk) __builtin_trap();
        return 0;
    }
    if (result != platform::MidiResult::kOk) __builtin_trap();
    const std::vector<platform::MidiEvent>& events = song->GetEvents();
    const std::vector<uint8_t>& sysex = song->GetSysexBytes();
    // Every event took at least two bytes of a track (a delta and a data
    // byte under running status), every sysex byte one; the events are in
    // time order within the song's length, and each is a whole message.
    if (events.size() > size / 2 || sysex.size() > size || song->GetLength() < 0) __builtin_trap();
    size_t sysexBytes = 0;
    int64_t last = 0;
    for (const platform::MidiEvent& e : events) {
        if (e.frame < last || e.frame > song->GetLength()) __builtin_trap();
        last = e.frame;
        if (e.status == 0xF0) {
            if (e.sysexOffset > sysex.size() || e.sysexSize > sysex.size() - e.sysexOffset || e.data1 != 0 ||
                e.data2 != 0) {
                __builtin_trap();
            }
            sysexBytes += e.sysexSize;
            continue;
        }
        const uint8_t kind = e.status & 0xF0;
        if (e.status < 0x80 || e.status >= 0xF0 || e.data1 >= 0x80 || e.data2 >= 0x80 || e.sysexSize != 0 ||
            ((kind == 0xC0 || kind == 0xD0) && e.data2 != 0)) {
            __builtin_trap();
        }
    }
    if (sysexBytes != sysex.size()) __builtin_trap();

    // Written again as one track timed in frames, it reads to the same
    // events and length (for songs short enough to write in a few bytes a
    // gap).
    if (song->GetLength() > (int64_t(1) << 36)) return 0;
    const Bytes again = WriteSong(events, sysex, song->GetLength());
    const std::unique_ptr<platform::MidiSong> reread = platform::MidiSong::Parse(again.data(), again.size(), &result);
    if (reread == nullptr || reread->GetLength() != song->GetLength() ||
        reread->GetEvents().size() != events.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < events.size(); ++i) {
        if (!SameEvent(events[i], sysex, reread->GetEvents()[i], reread->GetSysexBytes())) __builtin_trap();
    }
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using fuzzrun::Random;

Bytes Chunk(const char* id, const Bytes& body)
{
    Bytes b(id, id + 4);
    PutBig32(&b, uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes Header(uint16_t format, uint16_t tracks, uint16_t division)
{
    return Chunk("MThd", {uint8_t(format >> 8), uint8_t(format), uint8_t(tracks >> 8), uint8_t(tracks),
                          uint8_t(division >> 8), uint8_t(division)});
}

// A tempo change, notes under running status, a program change, a pitch
// bend, a whole and a split sysex message, a text event, the end marker.
Bytes Track(uint8_t channel, uint32_t tempo, bool endMarker)
{
    Bytes t = {0x00, 0xFF, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)};
    const uint8_t on = uint8_t(0x90 | channel);
    t.insert(t.end(), {0x00, uint8_t(0xC0 | channel), 0x05, 0x10, on, 0x3C, 0x64, 0x60, 0x40, 0x64});
    t.insert(t.end(), {0x81, 0x00, 0x3C, 0x00, 0x00, 0x40, 0x00});
    t.insert(t.end(), {0x20, uint8_t(0xE0 | channel), 0x00, 0x48});
    t.insert(t.end(), {0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    t.insert(t.end(), {0x00, 0xF0, 0x02, 0x43, 0x10, 0x00, 0xF7, 0x01, 0xF7});
    t.insert(t.end(), {0x83, 0x60, 0xFF, 0x01, 0x03, 'a', 'b', 'c'});
    t.insert(t.end(), {0x10, uint8_t(0xB0 | channel), 0x07, 0x50});
    if (endMarker) t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    return t;
}

Bytes Song(int variant)
{
    Bytes b;
    auto add = [&](const Bytes& chunk) { b.insert(b.end(), chunk.begin(), chunk.end()); };
    switch (variant) {
    case 0:  // format 0, metrical
        add(Header(0, 1, 96));
        add(Chunk("MTrk", Track(0, 500000, true)));
        break;
    case 1:  // format 1, three tracks, a foreign chunk between them
        add(Header(1, 3, 480));
        add(Chunk("MTrk", Track(0, 400000, true)));
        add(Chunk("XFIH", {1, 2, 3}));
        add(Chunk("MTrk", Track(3, 250000, false)));
        add(Chunk("MTrk", Track(9, 600000, true)));
        break;
    case 2:  // SMPTE time: 25 frames of 40 ticks
        add(Header(2, 2, uint16_t(0xE700 | 40)));
        add(Chunk("MTrk", Track(1, 500000, true)));
        add(Chunk("MTrk", Track(2, 300000, true)));
        break;
    default:  // 29.97 frames of 80 ticks, a header longer than six bytes
        b = Chunk("MThd", {0, 0, 0, 1, 0xE3, 80, 0, 0});
        add(Chunk("MTrk", Track(4, 700000, true)));
        break;
    }
    return b;
}

// The slowest tempo, one tick a quarter and the longest delta before every
// note: a song whose times run past what 64-bit frames hold.
Bytes LongSong()
{
    Bytes t = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 0x3C, 0x64};
    for (int i = 0; i < 50000; ++i) t.insert(t.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0x3C, uint8_t(i % 2 ? 0x64 : 0)});
    Bytes b = Header(0, 1, 1);
    const Bytes track = Chunk("MTrk", t);
    b.insert(b.end(), track.begin(), track.end());
    return b;
}

void PutBig32At(Bytes* b, size_t at, uint32_t v)
{
    if (at + 4 > b->size()) return;
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// Mutations where the reader has something to check: the header's fields,
// any chunk size, bytes that become statuses or continued numbers, and the
// file's length.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 2, 5, 6, 7, 0x7F, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFFu,
                                            0xFFFFFFF8u};
    static const uint8_t kBytes[] = {0x00, 0x7F, 0x80, 0x81, 0xFF, 0xF0, 0xF7, 0x2F, 0x51, 0x90, 0xC0, 0xE7};
    switch (r->Below(7)) {
    case 0: PutBig32At(b, 4 * r->Below(4), kInteresting[r->Below(13)]); break;
    case 1: PutBig32At(b, r->Below(b->size() + 1), kInteresting[r->Below(13)]); break;
    case 2: if (!b->empty()) (*b)[r->Below(b->size())] = kBytes[r->Below(12)]; break;
    case 3: b->resize(r->Below(b->size() + 1)); break;
    case 4: if (!b->empty()) (*b)[r->Below(b->size())] ^= uint8_t(1u << r->Below(8)); break;
    case 5:
        if (b->size() > 14) {
            const size_t at = 14 + r->Below(b->size() - 14);
            b->insert(b->begin() + long(at), kBytes[r->Below(12)]);
        }
        break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    const std::vector<Bytes> seeds = {Song(0), Song(1), Song(2), Song(3)};
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    // The seeds read as written: each is a valid song with every kind of
    // event.
    for (size_t i = 0; i < seeds.size(); ++i) {
        platform::MidiResult result;
        const std::unique_ptr<platform::MidiSong> song = platform::MidiSong::Parse(seeds[i].data(), seeds[i].size(), &result);
        if (song == nullptr || song->GetEvents().size() < 7 || song->GetSysexBytes().size() != 4 * (i == 1 ? 3 : i == 2 ? 2 : 1)) {
            std::fprintf(stderr, "seed %zu does not read as written\n", i);
            return 1;
        }
    }
    // Too big to mutate in bulk: read once.
    const Bytes longSong = LongSong();
    LLVMFuzzerTestOneInput(longSong.data(), longSong.size());
    fuzzrun::Random random(0xBB67AE8584CAA73Bull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
