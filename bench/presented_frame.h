#pragma once
// What the frame benchmarks share: the sink that notes where the device
// keeps the presented frame (until the next present, as a headless run
// does), a copy of that frame, and run lengths read from the environment.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gfx/soft_device.h"

namespace benchframe {

inline platform::FrameView g_presented;

inline void KeepFrame(const uint32_t* argb, int width, int height, int pitchBytes)
{
    g_presented.pixels = argb;
    g_presented.width = width;
    g_presented.height = height;
    g_presented.pitch = pitchBytes;
}

inline std::vector<uint32_t> CopyPresented()
{
    std::vector<uint32_t> out(static_cast<size_t>(g_presented.width) * g_presented.height);
    for (int y = 0; y < g_presented.height; ++y) {
        std::memcpy(&out[static_cast<size_t>(y) * g_presented.width],
                    reinterpret_cast<const uint8_t*>(g_presented.pixels) + static_cast<size_t>(y) * g_presented.pitch,
                    static_cast<size_t>(g_presented.width) * 4);
    }
    return out;
}

// The positive count in the environment variable, else the fallback.
inline int EnvCount(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    const int n = std::atoi(text);
    return n > 0 ? n : fallback;
}

}  // namespace benchframe
