#pragma once
// Small Standard MIDI Files written byte by byte for the MIDI tests.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace test_midi {

using Bytes = std::vector<uint8_t>;

inline void Put32(Bytes& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

inline void PutNumber(Bytes& out, uint32_t v)
{
    uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0 && count < 4);
    for (int i = count - 1; i >= 0; --i) {
        out.push_back(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
    }
}

// One track's events: a delta time, then the raw bytes.
struct Track {
    Bytes bytes;
    Track& Event(uint32_t delta, std::initializer_list<uint8_t> data)
    {
        PutNumber(bytes, delta);
        bytes.insert(bytes.end(), data);
        return *this;
    }
    Track& Tempo(uint32_t delta, uint32_t microsecondsPerQuarter)
    {
        return Event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                             static_cast<uint8_t>(microsecondsPerQuarter >> 8),
                             static_cast<uint8_t>(microsecondsPerQuarter)});
    }
    Track& End(uint32_t delta) { return Event(delta, {0xFF, 0x2F, 0x00}); }
};

inline Bytes Song(uint16_t format, uint16_t division, const std::vector<Track>& tracks)
{
    Bytes out = {'M', 'T', 'h', 'd'};
    Put32(out, 6);
    out.push_back(static_cast<uint8_t>(format >> 8));
    out.push_back(static_cast<uint8_t>(format));
    out.push_back(static_cast<uint8_t>(tracks.size() >> 8));
    out.push_back(static_cast<uint8_t>(tracks.size()));
    out.push_back(static_cast<uint8_t>(division >> 8));
    out.push_back(static_cast<uint8_t>(division));
    for (const Track& track : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        Put32(out, static_cast<uint32_t>(track.bytes.size()));
        out.insert(out.end(), track.bytes.begin(), track.bytes.end());
    }
    return out;
}

// At 96 ticks a quarter and 500000 us a quarter, one tick is 1/192 s.
constexpr uint16_t kDivision = 96;

// A piano middle C held for `holdTicks`, then silence to `lengthTicks`.
inline Bytes OneNote(uint32_t holdTicks, uint32_t lengthTicks, uint8_t velocity = 100)
{
    Track track;
    track.Event(0, {0xC0, 0x00}).Event(0, {0x90, 60, velocity}).Event(holdTicks, {0x80, 60, 0}).End(lengthTicks - holdTicks);
    return Song(0, kDivision, {track});
}

inline std::string TempFile(const std::string& name)
{
    return ::testing::TempDir() + "orva_midi_" + std::to_string(getpid()) + "_" + name;
}

inline bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Root mean square of interleaved samples in frames [from, to).
inline double Rms(const std::vector<float>& out, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = 2 * from; i < 2 * to; ++i) {
        sum += static_cast<double>(out[i]) * out[i];
    }
    return to > from ? std::sqrt(sum / (2.0 * (to - from))) : 0.0;
}

inline bool IsSilent(const std::vector<float>& out)
{
    for (float sample : out) {
        if (sample != 0.0f) {
            return false;
        }
    }
    return true;
}

}  // namespace test_midi
