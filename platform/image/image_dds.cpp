// DirectDraw surfaces: the top level of the first face, uncompressed (8, 16,
// 24 or 32 bits with masks: RGB, luminance or alpha only) or block
// compressed (DXT1 to DXT5; DXT2 and DXT4 are read like DXT3 and DXT5).
#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

enum : uint32_t {
    kPfAlphaPixels = 0x1,
    kPfAlpha = 0x2,
    kPfFourCc = 0x4,
    kPfRgb = 0x40,
    kPfLuminance = 0x20000,
    kFlagPitch = 0x8,
};

constexpr size_t kHeaderEnd = 128;  // "DDS " and the 124-byte header

constexpr uint32_t FourCc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

struct Field {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
};

Field MakeField(uint32_t mask) {
    Field f;
    f.mask = mask;
    if (mask) {
        while (((mask >> f.shift) & 1) == 0) {
            ++f.shift;
        }
        f.max = mask >> f.shift;
    }
    return f;
}

inline uint32_t Scale(const Field& f, uint32_t pixel, uint32_t absent) {
    if (!f.mask) {
        return absent;
    }
    return uint32_t(((uint64_t((pixel & f.mask) >> f.shift)) * 255 + f.max / 2) / f.max);
}

inline void Expand565(uint16_t v, uint32_t rgb[3]) {
    const uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
    rgb[0] = (r << 3) | (r >> 2);
    rgb[1] = (g << 2) | (g >> 4);
    rgb[2] = (b << 3) | (b >> 2);
}

// The colour half of a block: 16 pixels into `pixels` (alpha 0xFF, or 0 for
// the transparent entry of a three-colour DXT1 block).
void DecodeColourBlock(const uint8_t* block, bool dxt1, uint32_t pixels[16]) {
    const uint16_t c0 = Le16(block), c1 = Le16(block + 2);
    uint32_t p[4][3];
    uint32_t alpha[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    Expand565(c0, p[0]);
    Expand565(c1, p[1]);
    for (int k = 0; k < 3; ++k) {
        if (c0 > c1 || !dxt1) {
            p[2][k] = (2 * p[0][k] + p[1][k]) / 3;
            p[3][k] = (p[0][k] + 2 * p[1][k]) / 3;
        } else {
            p[2][k] = (p[0][k] + p[1][k]) / 2;
            p[3][k] = 0;
        }
    }
    if (dxt1 && c0 <= c1) {
        alpha[3] = 0;
    }
    const uint32_t indices = Le32(block + 4);
    for (int i = 0; i < 16; ++i) {
        const uint32_t k = (indices >> (2 * i)) & 3;
        pixels[i] = Argb(alpha[k], p[k][0], p[k][1], p[k][2]);
    }
}

void ApplyExplicitAlpha(const uint8_t* block, uint32_t pixels[16]) {
    for (int i = 0; i < 16; ++i) {
        const uint32_t a = (block[i / 2] >> ((i & 1) * 4)) & 0x0F;
        pixels[i] = (pixels[i] & 0x00FFFFFFu) | ((a * 17) << 24);
    }
}

void ApplyInterpolatedAlpha(const uint8_t* block, uint32_t pixels[16]) {
    uint32_t a[8];
    a[0] = block[0];
    a[1] = block[1];
    if (a[0] > a[1]) {
        for (int i = 1; i < 7; ++i) {
            a[i + 1] = ((7 - i) * a[0] + i * a[1]) / 7;
        }
    } else {
        for (int i = 1; i < 5; ++i) {
            a[i + 1] = ((5 - i) * a[0] + i * a[1]) / 5;
        }
        a[6] = 0;
        a[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) {
        bits |= uint64_t(block[2 + i]) << (8 * i);
    }
    for (int i = 0; i < 16; ++i) {
        const uint32_t k = uint32_t(bits >> (3 * i)) & 7;
        pixels[i] = (pixels[i] & 0x00FFFFFFu) | (a[k] << 24);
    }
}

}  // namespace

bool ReadDds(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    if (size < kHeaderEnd) {
        return Fail(error, "DDS: truncated header (%zu bytes)", size);
    }
    const uint8_t* h = data + 4;
    if (Le32(h) != 124) {
        return Fail(error, "DDS: header size %u is not 124", Le32(h));
    }
    const uint32_t flags = Le32(h + 4);
    const uint32_t height = Le32(h + 8);
    const uint32_t width = Le32(h + 12);
    const uint32_t pitch = Le32(h + 16);
    const uint8_t* pf = h + 72;
    if (Le32(pf) != 32) {
        return Fail(error, "DDS: pixel format size %u is not 32", Le32(pf));
    }
    const uint32_t pfFlags = Le32(pf + 4);
    const uint32_t fourCc = Le32(pf + 8);
    const uint32_t bitCount = Le32(pf + 12);
    const uint32_t masks[4] = {Le32(pf + 16), Le32(pf + 20), Le32(pf + 24), Le32(pf + 28)};
    if (!CheckDimensions(width, height, error)) {
        return false;
    }

    int blockBytes = 0;
    bool explicitAlpha = false;
    if (pfFlags & kPfFourCc) {
        if (fourCc == FourCc('D', 'X', 'T', '1')) {
            blockBytes = 8;
        } else if (fourCc == FourCc('D', 'X', 'T', '2') || fourCc == FourCc('D', 'X', 'T', '3')) {
            blockBytes = 16;
            explicitAlpha = true;
        } else if (fourCc == FourCc('D', 'X', 'T', '4') || fourCc == FourCc('D', 'X', 'T', '5')) {
            blockBytes = 16;
        } else {
            return Fail(error, "DDS: compressed format 0x%08X is not supported", fourCc);
        }
    } else if (pfFlags & (kPfRgb | kPfLuminance | kPfAlpha)) {
        if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
            return Fail(error, "DDS: %u bits per pixel is not supported", bitCount);
        }
    } else {
        return Fail(error, "DDS: pixel format flags 0x%X are not supported", pfFlags);
    }

    info->format = ImageFileFormat::Dds;
    info->width = int(width);
    info->height = int(height);
    info->bitsPerPixel = blockBytes ? (blockBytes == 8 ? 4 : 8) : int(bitCount);
    // Even DXT1 may hold transparent pixels (in its three-colour blocks).
    info->hasAlpha = blockBytes ? true : (pfFlags & (kPfAlphaPixels | kPfAlpha)) != 0;
    if (!out) {
        return true;
    }

    const uint8_t* pixelsStart = data + kHeaderEnd;
    const size_t available = size - kHeaderEnd;
    if (blockBytes) {
        const size_t blocksX = (size_t(width) + 3) / 4, blocksY = (size_t(height) + 3) / 4;
        const uint64_t needed = uint64_t(blocksX) * blocksY * uint64_t(blockBytes);
        if (needed > available) {
            return Fail(error, "DDS: truncated blocks (%llu bytes needed, %zu present)",
                        (unsigned long long)needed, available);
        }
        if (!AllocatePixels(out, int(width), int(height), 0, error)) {
            return false;
        }
        for (size_t by = 0; by < blocksY; ++by) {
            for (size_t bx = 0; bx < blocksX; ++bx) {
                const uint8_t* block = pixelsStart + (by * blocksX + bx) * size_t(blockBytes);
                uint32_t px[16];
                if (blockBytes == 8) {
                    DecodeColourBlock(block, true, px);
                } else {
                    DecodeColourBlock(block + 8, false, px);
                    if (explicitAlpha) {
                        ApplyExplicitAlpha(block, px);
                    } else {
                        ApplyInterpolatedAlpha(block, px);
                    }
                }
                for (size_t i = 0; i < 16; ++i) {
                    const size_t x = bx * 4 + (i & 3), y = by * 4 + (i >> 2);
                    if (x < width && y < height) {
                        out->argb[y * width + x] = px[i];
                    }
                }
            }
        }
        return true;
    }

    const size_t pixelBytes = bitCount / 8;
    const size_t minPitch = size_t(width) * pixelBytes;
    size_t rowPitch = minPitch;
    // Trust a declared pitch only when it can hold a row and is not absurd.
    if ((flags & kFlagPitch) && pitch >= minPitch && pitch <= minPitch + 256) {
        rowPitch = pitch;
    }
    const uint64_t needed = uint64_t(rowPitch) * (height - 1) + minPitch;
    if (needed > available) {
        return Fail(error, "DDS: truncated pixel data (%llu bytes needed, %zu present)", (unsigned long long)needed,
                    available);
    }
    if (!AllocatePixels(out, int(width), int(height), 0xFF000000u, error)) {
        return false;
    }
    const bool luminance = (pfFlags & kPfLuminance) != 0;
    const bool alphaOnly = (pfFlags & kPfAlpha) && !(pfFlags & (kPfRgb | kPfLuminance));
    const Field r = MakeField(masks[0]), g = MakeField(masks[1]), b = MakeField(masks[2]);
    const Field a = MakeField((pfFlags & (kPfAlphaPixels | kPfAlpha)) ? masks[3] : 0);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = pixelsStart + y * rowPitch;
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* p = row + x * pixelBytes;
            uint32_t v = 0;
            for (size_t k = 0; k < pixelBytes; ++k) {
                v |= uint32_t(p[k]) << (8 * k);
            }
            uint32_t colour;
            if (alphaOnly) {
                colour = Argb(Scale(a, v, 0xFF), 0, 0, 0);
            } else if (luminance) {
                const uint32_t l = Scale(r, v, 0);
                colour = Argb(Scale(a, v, 0xFF), l, l, l);
            } else {
                colour = Argb(Scale(a, v, 0xFF), Scale(r, v, 0), Scale(g, v, 0), Scale(b, v, 0));
            }
            out->argb[y * width + x] = colour;
        }
    }
    return true;
}

}  // namespace platform::image_detail
