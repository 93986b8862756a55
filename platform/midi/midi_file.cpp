// The Standard MIDI File reader: chunks, tracks and events, every size
// checked.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "platform/sys/file.h"

namespace platform {

// A tempo of 120 beats a minute until the song says otherwise.
static constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note

namespace {

// A bounded reader over one chunk: every read checks what is left first.
struct Cursor {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;

    size_t Left() const { return size - at; }
    bool Byte(uint8_t* out)
    {
        if (at >= size) {
            return false;
        }
        *out = data[at++];
        return true;
    }
    bool Peek(uint8_t* out) const
    {
        if (at >= size) {
            return false;
        }
        *out = data[at];
        return true;
    }
    // A variable-length quantity: at most four bytes, 28 bits.
    bool Number(uint32_t* out)
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!Byte(&b)) {
                return false;
            }
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) {
                *out = value;
                return true;
            }
        }
        return false;
    }
    bool Skip(size_t count)
    {
        if (count > Left()) {
            return false;
        }
        at += count;
        return true;
    }
};

// An event before the tempo map is applied.
struct TickEvent {
    uint64_t tick = 0;
    uint32_t order = 0;  // place in the file: keeps the order of same-tick events
    MidiEvent event;
    uint32_t tempo = 0;  // non-zero for a tempo change, which plays nothing
};

uint32_t ReadBig32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint16_t ReadBig16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Number of data bytes after a channel status byte.
int DataBytes(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

// Reads one track's events; false when the track breaks its own bounds.
bool ReadTrack(Cursor track, std::vector<TickEvent>& out, std::vector<uint8_t>& sysex,
               uint64_t* endTick)
{
    uint64_t tick = 0;
    uint8_t running = 0;
    while (track.Left() > 0) {
        uint32_t delta = 0;
        if (!track.Number(&delta)) {
            return false;
        }
        tick += delta;
        uint8_t status = 0;
        if (!track.Peek(&status)) {
            return false;
        }
        if (status < 0x80) {
            // Running status: the byte read is the first data byte.
            if (running == 0) {
                return false;
            }
            status = running;
        } else {
            track.Skip(1);
        }
        TickEvent item;
        item.tick = tick;
        if (status == 0xFF) {
            uint8_t type = 0;
            uint32_t length = 0;
            if (!track.Byte(&type) || !track.Number(&length) || length > track.Left()) {
                return false;
            }
            const uint8_t* body = track.data + track.at;
            track.Skip(length);
            if (type == 0x2F) {
                *endTick = tick;
                return true;
            }
            if (type == 0x51 && length == 3) {
                const uint32_t tempo = (uint32_t{body[0]} << 16) | (uint32_t{body[1]} << 8) | body[2];
                if (tempo != 0) {
                    item.tempo = tempo;
                    out.push_back(item);
                }
            }
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            uint32_t length = 0;
            if (!track.Number(&length) || length > track.Left()) {
                return false;
            }
            const uint8_t* body = track.data + track.at;
            track.Skip(length);
            // Only whole F0 ... F7 messages reach the synthesizer; escapes and
            // split messages are dropped.
            if (status == 0xF0 && length >= 1 && body[length - 1] == 0xF7) {
                item.event.status = 0xF0;
                item.event.sysexOffset = static_cast<uint32_t>(sysex.size());
                item.event.sysexSize = length - 1;
                sysex.insert(sysex.end(), body, body + length - 1);
                out.push_back(item);
            }
            // A system message cancels running status.
            running = 0;
            continue;
        }
        if (status >= 0xF0) {
            // Other system bytes have no place in a file.
            return false;
        }
        running = status;
        const int count = DataBytes(status);
        uint8_t data[2] = {0, 0};
        for (int i = 0; i < count; ++i) {
            if (!track.Byte(&data[i]) || data[i] >= 0x80) {
                return false;
            }
        }
        item.event.status = status;
        item.event.data1 = data[0];
        item.event.data2 = data[1];
        out.push_back(item);
    }
    // A track without its end marker ends after its last event.
    *endTick = tick;
    return true;
}

}  // namespace

static std::unique_ptr<MidiSong> Fail(MidiResult* result, MidiResult why)
{
    if (result != nullptr) {
        *result = why;
    }
    return nullptr;
}

std::unique_ptr<MidiSong> MidiSong::Parse(const uint8_t* bytes, size_t size, MidiResult* result)
{
    if (bytes == nullptr || size < 14 || std::memcmp(bytes, "MThd", 4) != 0) {
        return Fail(result, MidiResult::kMalformed);
    }
    const uint32_t headerSize = ReadBig32(bytes + 4);
    if (headerSize < 6 || headerSize > size - 8) {
        return Fail(result, MidiResult::kMalformed);
    }
    const uint16_t format = ReadBig16(bytes + 8);
    const uint16_t trackCount = ReadBig16(bytes + 10);
    const uint16_t division = ReadBig16(bytes + 12);
    if (format > 2 || trackCount == 0) {
        return Fail(result, MidiResult::kMalformed);
    }
    // Seconds per tick: metrical time depends on the tempo, SMPTE time does not.
    double smpteSecondsPerTick = 0.0;
    uint32_t ticksPerQuarter = 0;
    if ((division & 0x8000u) != 0) {
        const int framesPerSecond = -static_cast<int8_t>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        if ((framesPerSecond != 24 && framesPerSecond != 25 && framesPerSecond != 29 && framesPerSecond != 30) ||
            ticksPerFrame == 0) {
            return Fail(result, MidiResult::kMalformed);
        }
        const double rate = framesPerSecond == 29 ? 29.97 : framesPerSecond;
        smpteSecondsPerTick = 1.0 / (rate * ticksPerFrame);
    } else {
        ticksPerQuarter = division;
        if (ticksPerQuarter == 0) {
            return Fail(result, MidiResult::kMalformed);
        }
    }

    std::unique_ptr<MidiSong> song;
    std::vector<TickEvent> items;
    uint64_t endTick = 0;
    try {
        song.reset(new MidiSong());
        size_t at = 8 + size_t{headerSize};
        uint32_t tracksRead = 0;
        while (tracksRead < trackCount) {
            // Every declared track must be there: fewer means a cut file.
            if (size - at < 8) {
                return Fail(result, MidiResult::kMalformed);
            }
            const uint32_t chunkSize = ReadBig32(bytes + at + 4);
            if (chunkSize > size - at - 8) {
                return Fail(result, MidiResult::kMalformed);
            }
            if (std::memcmp(bytes + at, "MTrk", 4) == 0) {
                Cursor track{bytes + at + 8, chunkSize, 0};
                uint64_t trackEnd = 0;
                if (!ReadTrack(track, items, song->sysex, &trackEnd)) {
                    return Fail(result, MidiResult::kMalformed);
                }
                endTick = std::max(endTick, trackEnd);
                ++tracksRead;
            }
            // Chunks of other kinds are skipped, as the format allows.
            at += 8 + size_t{chunkSize};
        }
        // Order by tick; same-tick events keep their track and file order.
        for (size_t i = 0; i < items.size(); ++i) {
            items[i].order = static_cast<uint32_t>(i);
        }
        std::sort(items.begin(), items.end(), [](const TickEvent& a, const TickEvent& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });

        // Seconds of every tick through the tempo map, from the last change.
        uint64_t baseTick = 0;
        double baseSeconds = 0.0;
        uint32_t tempo = kDefaultTempo;
        auto secondsAt = [&](uint64_t tick) {
            const double ticks = static_cast<double>(tick - baseTick);
            if (ticksPerQuarter == 0) {
                return baseSeconds + ticks * smpteSecondsPerTick;
            }
            return baseSeconds + ticks * (tempo * 1e-6) / ticksPerQuarter;
        };
        auto toFrame = [](double seconds) { return static_cast<int64_t>(std::llround(seconds * kAudioRate)); };
        song->events.reserve(items.size());
        for (const TickEvent& item : items) {
            const double seconds = secondsAt(item.tick);
            if (item.tempo != 0) {
                baseSeconds = seconds;
                baseTick = item.tick;
                tempo = item.tempo;
                continue;
            }
            MidiEvent event = item.event;
            event.frame = toFrame(seconds);
            song->events.push_back(event);
        }
        // Every frame is at most the length's. Frames are 64-bit: a song that
        // runs past them (a hostile file: millions of years of ticks at the
        // slowest tempo) is refused rather than timed with wrapped numbers.
        const double lengthSeconds = secondsAt(std::max(endTick, baseTick));
        if (!(lengthSeconds * kAudioRate < 4.0e18)) {
            return Fail(result, MidiResult::kMalformed);
        }
        song->length = toFrame(lengthSeconds);
    } catch (const std::bad_alloc&) {
        return Fail(result, MidiResult::kOutOfMemory);
    }
    if (result != nullptr) {
        *result = MidiResult::kOk;
    }
    return song;
}

std::unique_ptr<MidiSong> MidiSong::Load(const char* hostPath, MidiResult* result)
{
    if (hostPath == nullptr || hostPath[0] == '\0') {
        return Fail(result, MidiResult::kUnreadable);
    }
    std::FILE* file = platform::OpenRegularFileStream(hostPath);
    if (file == nullptr) {
        return Fail(result, MidiResult::kUnreadable);
    }
    std::vector<uint8_t> bytes;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long end = ok ? std::ftell(file) : -1;
    ok = ok && end > 0 && static_cast<unsigned long>(end) <= kMaxFileSize && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok) {
        try {
            bytes.resize(static_cast<size_t>(end));
        } catch (const std::bad_alloc&) {
            std::fclose(file);
            return Fail(result, MidiResult::kOutOfMemory);
        }
        ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    if (!ok) {
        return Fail(result, end > 0 && static_cast<unsigned long>(end) > kMaxFileSize ? MidiResult::kMalformed
                                                                                        : MidiResult::kUnreadable);
    }
    return Parse(bytes.data(), bytes.size(), result);
}

}  // namespace platform
