#pragma once
// Audio files the sound tests make for themselves, and the null device's
// output read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/audio/audio.h"

namespace test_audio {

// A path in the test's temporary folder, unique to this process, so that
// tests running side by side never share a file.
inline std::string TempFile(const std::string& name)
{
    return ::testing::TempDir() + "orva_" + std::to_string(getpid()) + "_" + name;
}

// Writes a 16-bit PCM WAV file; samples are interleaved.
inline bool WriteWav(const std::string& path, int channels, int rate, const std::vector<int16_t>& samples)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    auto u32 = [file](uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    auto u16 = [file](uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
        std::fwrite(b, 1, 2, file);
    };
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::fwrite("RIFF", 1, 4, file);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    u32(16);
    u16(1);
    u16(static_cast<uint16_t>(channels));
    u32(static_cast<uint32_t>(rate));
    u32(static_cast<uint32_t>(rate * channels * 2));
    u16(static_cast<uint16_t>(channels * 2));
    u16(16);
    std::fwrite("data", 1, 4, file);
    u32(dataBytes);
    for (int16_t s : samples) {
        u16(static_cast<uint16_t>(s));
    }
    return std::fclose(file) == 0;
}

// A stereo ramp whose every frame differs: left i*4 - 12000, right its
// negation; each value wraps within 16 bits and is known to the test.
inline int16_t RampLeft(size_t frame)
{
    return static_cast<int16_t>(static_cast<int>(frame % 6000) * 4 - 12000);
}
inline int16_t RampRight(size_t frame)
{
    return static_cast<int16_t>(-RampLeft(frame));
}

inline std::vector<int16_t> Ramp(size_t frames)
{
    std::vector<int16_t> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        samples[2 * i] = RampLeft(i);
        samples[2 * i + 1] = RampRight(i);
    }
    return samples;
}

// Runs a shell command (ffmpeg, sox) with no input, its output discarded,
// and a time limit, so a tool that waits cannot hang the test.
inline bool RunTool(const std::string& command)
{
    return std::system(("timeout 60 " + command + " </dev/null >/dev/null 2>&1").c_str()) == 0;
}

// The next `frames` frames the null device would have played.
inline std::vector<float> Render(size_t frames)
{
    std::vector<float> out(frames * platform::kAudioChannels, -2.0f);
    EXPECT_TRUE(platform::AudioDevice::Render(out.data(), frames));
    return out;
}

inline bool IsSilent(const std::vector<float>& samples)
{
    for (float s : samples) {
        if (s != 0.0f) {
            return false;
        }
    }
    return true;
}

}  // namespace test_audio
