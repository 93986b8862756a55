// Pixel and vertex formats: sizes and conversions to and from A8R8G8B8.
#include <cstring>

#include "platform/gfx/soft_device.h"

namespace platform {

int FormatBytes(uint32_t format)
{
    switch (format) {
    case FormatA8R8G8B8:
    case FormatX8R8G8B8:
        return 4;
    case FormatR5G6B5:
    case FormatX1R5G5B5:
    case FormatA1R5G5B5:
    case FormatA4R4G4B4:
        return 2;
    default:
        return 0;
    }
}

static uint32_t Expand5(uint32_t v)
{
    return (v << 3) | (v >> 2);
}

static uint32_t Expand6(uint32_t v)
{
    return (v << 2) | (v >> 4);
}

static uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

uint32_t FormatToArgb(uint32_t format, const uint8_t* pixel)
{
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    if (FormatBytes(format) == 4) {
        std::memcpy(&v32, pixel, 4);
    } else {
        std::memcpy(&v16, pixel, 2);
    }
    switch (format) {
    case FormatA8R8G8B8:
        return v32;
    case FormatX8R8G8B8:
        return v32 | 0xFF000000u;
    case FormatR5G6B5:
        return Argb(255, Expand5((v16 >> 11) & 31), Expand6((v16 >> 5) & 63), Expand5(v16 & 31));
    case FormatX1R5G5B5:
        return Argb(255, Expand5((v16 >> 10) & 31), Expand5((v16 >> 5) & 31), Expand5(v16 & 31));
    case FormatA1R5G5B5:
        return Argb((v16 & 0x8000) ? 255 : 0, Expand5((v16 >> 10) & 31), Expand5((v16 >> 5) & 31), Expand5(v16 & 31));
    case FormatA4R4G4B4:
        return Argb(((v16 >> 12) & 15) * 17, ((v16 >> 8) & 15) * 17, ((v16 >> 4) & 15) * 17, (v16 & 15) * 17);
    default:
        return 0;
    }
}

// Nearest level of an n-bit channel for an 8-bit value.
static uint32_t Reduce(uint32_t v, uint32_t levels)
{
    return (v * levels + 127) / 255;
}

void ArgbToFormat(uint32_t format, uint32_t argb, uint8_t* pixel)
{
    const uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    uint16_t v16 = 0;
    switch (format) {
    case FormatA8R8G8B8:
    case FormatX8R8G8B8:
        std::memcpy(pixel, &argb, 4);
        return;
    case FormatR5G6B5:
        v16 = static_cast<uint16_t>((Reduce(r, 31) << 11) | (Reduce(g, 63) << 5) | Reduce(b, 31));
        break;
    case FormatX1R5G5B5:
        v16 = static_cast<uint16_t>(0x8000 | (Reduce(r, 31) << 10) | (Reduce(g, 31) << 5) | Reduce(b, 31));
        break;
    case FormatA1R5G5B5:
        v16 = static_cast<uint16_t>((a >= 128 ? 0x8000 : 0) | (Reduce(r, 31) << 10) | (Reduce(g, 31) << 5) |
                                    Reduce(b, 31));
        break;
    case FormatA4R4G4B4:
        v16 = static_cast<uint16_t>((Reduce(a, 15) << 12) | (Reduce(r, 15) << 8) | (Reduce(g, 15) << 4) |
                                    Reduce(b, 15));
        break;
    default:
        return;
    }
    std::memcpy(pixel, &v16, 2);
}

int FvfStride(uint32_t fvf)
{
    int size = 0;
    switch (fvf & FvfPositionMask) {
    case FvfXyz:
        size = 12;
        break;
    case FvfXyzRhw:
        size = 16;
        break;
    default:
        // No position, or blend weights: not a fixed-function format we draw.
        return 0;
    }
    if (fvf & FvfNormal) {
        size += 12;
    }
    if (fvf & FvfPointSize) {
        size += 4;
    }
    if (fvf & FvfDiffuse) {
        size += 4;
    }
    if (fvf & FvfSpecular) {
        size += 4;
    }
    const uint32_t sets = (fvf & FvfTexCountMask) >> FvfTexCountShift;
    if (sets > 8) {
        return 0;
    }
    for (uint32_t i = 0; i < sets; ++i) {
        // Two bits per set from bit 16: 0 two floats, 1 three, 2 four, 3 one.
        static const int kFloats[4] = {2, 3, 4, 1};
        size += 4 * kFloats[(fvf >> (16 + 2 * i)) & 3];
    }
    return size;
}

}  // namespace platform
