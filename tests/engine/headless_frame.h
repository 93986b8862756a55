#pragma once
// What the engine's drawing tests share: the headless device started on a
// small frame whose presented pictures land in g_frame, read back by Pixel;
// one frame drawn with the 2D states; a texture of distinct texels; a file's
// text and an object's address as the log lines print it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"

namespace orvatest {

// The last presented frame, A8R8G8B8 row by row.
inline std::vector<uint32_t> g_frame;
inline int g_frameWidth = 0;
inline int g_frameHeight = 0;

// The device's present hook.
inline void CaptureFrame(const uint32_t* argb, int width, int height, int pitchBytes)
{
    g_frame.assign(static_cast<size_t>(width) * height, 0);
    g_frameWidth = width;
    g_frameHeight = height;
    for (int y = 0; y < height; ++y) {
        std::memcpy(&g_frame[static_cast<size_t>(y) * width],
                    reinterpret_cast<const uint8_t*>(argb) + static_cast<size_t>(y) * pitchBytes,
                    static_cast<size_t>(width) * 4);
    }
}

inline uint32_t Pixel(int x, int y)
{
    return g_frame[static_cast<size_t>(y) * g_frameWidth + x];
}

// The pixels of a frame of g_frame's size that hold the colour, as rows of
// '#' and '.', for failures that show the picture.
inline std::string Mask(const std::vector<uint32_t>& frame, uint32_t color)
{
    std::string s;
    for (int y = 0; y < g_frameHeight; ++y) {
        for (int x = 0; x < g_frameWidth; ++x) {
            s += frame[static_cast<size_t>(y) * g_frameWidth + x] == color ? '#' : '.';
        }
        s += '\n';
    }
    return s;
}

// The headless device on a w x h frame that presents into g_frame.
inline void StartDevice(int w, int h)
{
    OrvaDevice::Configure(w, h, true, &CaptureFrame);
    ASSERT_TRUE(OrvaDevice::Initialize());
}

// The device with the texture and 2D-effect modules, and their stop.
inline void StartDevice2D(int w, int h)
{
    StartDevice(w, h);
    OrvaTexture::Initialize();
    OrvaEffect::Initialize();
}

inline void StopDevice2D()
{
    OrvaEffect::Destroy();
    OrvaTexture::Destroy();
    OrvaDevice::Destroy();
}

// One frame: begin, clear, the 2D states without blending (a batch in the
// Sub mode brackets itself), the body, end, present.
inline void DrawFrame(uint32_t clear, const std::function<void()>& body)
{
    ASSERT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(clear);
    OrvaEffect::Begin(kOrvaBlendNone);
    body();
    OrvaDevice::EndScene();
    ASSERT_TRUE(OrvaDevice::Present());
}

// Distinct opaque texels: red from x, green from y.
inline uint32_t Texel(int x, int y)
{
    return 0xFF000000u | static_cast<uint32_t>(x * 0x28 + 0x10) << 16 | static_cast<uint32_t>(y * 0x28 + 0x10) << 8 |
           0x05u;
}

// A w x h texture in the Alpha format holding Texel(x, y), sent to the
// device.
inline OrvaTexture* MakeTexture(int w, int h)
{
    OrvaTexture* t = OrvaTexture::Create(w, h, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    if (t->Lock(&bits, &pitch) != 1) {
        return t;
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t texel = Texel(x, y);
            std::memcpy(static_cast<uint8_t*>(bits) + y * pitch + x * 4, &texel, 4);
        }
    }
    t->Unlock();
    t->Update();
    return t;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// "0x%08X" of the address, as the creation and release lines print it.
inline std::string Hex(const void* p)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

}  // namespace orvatest
