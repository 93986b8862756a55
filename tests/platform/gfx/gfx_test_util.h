#pragma once
// Helpers of the software device tests: a small device set up for 2D, a
// texture from pixels, a frame read back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gfx/soft_device.h"
#include "tests/platform/gfx/busy2d_scene.h"

namespace gfxtest {

using platform::SoftDevice;

inline void Setup2D(SoftDevice& dev)
{
    dev.SetRenderState(platform::RsZEnable, 0);
    dev.SetRenderState(platform::RsCullMode, platform::CullNone);
    dev.SetRenderState(platform::RsLighting, 0);
    dev.SetTextureStageState(0, platform::TssColorOp, platform::TopModulate);
    dev.SetTextureStageState(0, platform::TssColorArg1, platform::TaTexture);
    dev.SetTextureStageState(0, platform::TssColorArg2, platform::TaDiffuse);
    dev.SetTextureStageState(0, platform::TssAlphaOp, platform::TopModulate);
    dev.SetTextureStageState(0, platform::TssAlphaArg1, platform::TaTexture);
    dev.SetTextureStageState(0, platform::TssAlphaArg2, platform::TaDiffuse);
    dev.SetVertexShader(0x144);
}

inline bool MakeDevice(SoftDevice& dev, int w, int h, int threads = 1, bool depth = false)
{
    platform::DeviceParams p;
    p.width = w;
    p.height = h;
    p.depthBuffer = depth;
    if (!dev.Create(p)) {
        return false;
    }
    dev.SetThreadCount(threads);
    Setup2D(dev);
    return true;
}

inline platform::SoftTexture* MakeTexture(SoftDevice& dev, int w, int h, const std::vector<uint32_t>& argb,
                                          uint32_t pool = platform::PoolManaged)
{
    platform::SoftTexture* tex = nullptr;
    if (dev.CreateTexture(w, h, 1, 0, platform::FormatA8R8G8B8, pool, &tex) != platform::kGfxOk) {
        return nullptr;
    }
    platform::LockedRect lr;
    tex->LockRect(0, &lr, nullptr, 0);
    for (int y = 0; y < h; ++y) {
        std::memcpy(static_cast<uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch, &argb[static_cast<size_t>(y) * w],
                    static_cast<size_t>(w) * 4);
    }
    tex->UnlockRect(0);
    return tex;
}

// Presents and copies the front buffer.
inline std::vector<uint32_t> Frame(SoftDevice& dev)
{
    dev.Present();
    const platform::FrameView v = dev.GetFrontBuffer();
    std::vector<uint32_t> out(static_cast<size_t>(v.width) * v.height);
    for (int y = 0; y < v.height; ++y) {
        std::memcpy(&out[static_cast<size_t>(y) * v.width],
                    reinterpret_cast<const uint8_t*>(v.pixels) + static_cast<size_t>(y) * v.pitch,
                    static_cast<size_t>(v.width) * 4);
    }
    return out;
}

// Pre-transformed, coloured vertex without texture (format 0x44).
struct ColorVertex {
    float x, y, z, rhw;
    uint32_t color;
};

}  // namespace gfxtest
