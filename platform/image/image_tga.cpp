// Truevision TGA: colour-mapped (1, 9), true-colour (2, 10) and grey (3, 11)
// images, raw or run-length packed, 8, 15, 16, 24 and 32 bits per pixel.
#include <new>
#include <vector>

#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

struct Header {
    uint8_t idLength = 0;
    uint8_t colorMapType = 0;
    uint8_t imageType = 0;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntryBits = 0;
    int width = 0;
    int height = 0;
    uint8_t depth = 0;
    uint8_t descriptor = 0;
};

// One stored value of `bits` (15, 16, 24 or 32; 8 for grey) as A8R8G8B8.
inline uint32_t ToArgb(const uint8_t* p, int bits, bool grey, bool alpha16) {
    if (grey) {
        if (bits == 16) {
            return Argb(p[1], p[0], p[0], p[0]);
        }
        return Argb(0xFF, p[0], p[0], p[0]);
    }
    switch (bits) {
    case 15:
    case 16: {
        const uint32_t v = Le16(p);
        const uint32_t r = (v >> 10) & 0x1F, g = (v >> 5) & 0x1F, b = v & 0x1F;
        const uint32_t a = alpha16 ? ((v & 0x8000) ? 0xFF : 0) : 0xFF;
        return Argb(a, (r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
    }
    case 24: return Argb(0xFF, p[2], p[1], p[0]);
    case 32: return Argb(p[3], p[2], p[1], p[0]);
    default: return 0xFF000000u;
    }
}

}  // namespace

bool ReadTga(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    if (size < 18 || !LooksLikeTga(data, size)) {
        return Fail(error, "TGA: not a TGA header");
    }
    Header h;
    h.idLength = data[0];
    h.colorMapType = data[1];
    h.imageType = data[2];
    h.mapFirst = Le16(data + 3);
    h.mapLength = Le16(data + 5);
    h.mapEntryBits = data[7];
    h.width = Le16(data + 12);
    h.height = Le16(data + 14);
    h.depth = data[16];
    h.descriptor = data[17];
    if (!CheckDimensions(h.width, h.height, error)) {
        return false;
    }
    const bool mapped = h.imageType == 1 || h.imageType == 9;
    const bool grey = h.imageType == 3 || h.imageType == 11;
    const bool packed = h.imageType >= 9;
    const int attributeBits = h.descriptor & 0x0F;

    // A colour map may be present even in an image that does not use it.
    size_t pos = 18 + size_t(h.idLength);
    const size_t mapEntryBytes = h.colorMapType ? (size_t(h.mapEntryBits) + 7) / 8 : 0;
    const size_t mapOffset = pos;
    if (h.colorMapType) {
        if (h.mapEntryBits != 15 && h.mapEntryBits != 16 && h.mapEntryBits != 24 && h.mapEntryBits != 32) {
            return Fail(error, "TGA: colour-map entries of %u bits", h.mapEntryBits);
        }
        pos += size_t(h.mapLength) * mapEntryBytes;
    }
    if (pos > size) {
        return Fail(error, "TGA: header and colour map run past the end (%zu of %zu bytes)", pos, size);
    }
    if (mapped && h.mapLength == 0) {
        return Fail(error, "TGA: colour-mapped image without a colour map");
    }

    info->format = ImageFileFormat::Tga;
    info->width = h.width;
    info->height = h.height;
    info->bitsPerPixel = h.depth;
    info->hasAlpha = mapped ? h.mapEntryBits == 32 : (h.depth == 32 || (grey && h.depth == 16) ||
                                                      (h.depth == 16 && attributeBits == 1));
    if (!out) {
        return true;
    }

    const size_t pixelBytes = (size_t(h.depth) + 7) / 8;
    const uint64_t pixels = uint64_t(h.width) * uint64_t(h.height);
    if (!packed && uint64_t(pos) + pixels * pixelBytes > size) {
        return Fail(error, "TGA: truncated pixel data (%llu bytes needed, %zu present)",
                    (unsigned long long)(pos + pixels * pixelBytes), size);
    }
    // A packet takes at least two bytes and yields at most 128 pixels.
    if (packed && !CheckPixelBudget(h.width, h.height, size, 64, error)) {
        return false;
    }

    // 16-bit pixels carry their top bit as alpha only when the header says so.
    const bool alpha16 = attributeBits == 1;
    uint32_t palette[256];
    const bool wideIndex = mapped && h.depth == 16;
    std::vector<uint32_t> widePalette;
    if (mapped) {
        for (uint32_t& c : palette) {
            c = 0xFF000000u;
        }
        if (wideIndex) {
            try {
                widePalette.assign(65536, 0xFF000000u);
            } catch (const std::bad_alloc&) {
                return Fail(error, "TGA: out of memory for the colour map");
            }
        }
        for (size_t i = 0; i < h.mapLength; ++i) {
            const size_t index = size_t(h.mapFirst) + i;
            const uint32_t colour = ToArgb(data + mapOffset + i * mapEntryBytes, h.mapEntryBits, false, alpha16);
            if (wideIndex && index < 65536) {
                widePalette[index] = colour;
            } else if (index < 256) {
                palette[index] = colour;
            }
        }
    }
    if (!AllocatePixels(out, h.width, h.height, 0xFF000000u, error)) {
        return false;
    }

    const bool topDown = (h.descriptor & 0x20) != 0;
    const bool rightToLeft = (h.descriptor & 0x10) != 0;
    auto decode = [&](const uint8_t* p) -> uint32_t {
        if (mapped) {
            return wideIndex ? widePalette[Le16(p)] : palette[p[0]];
        }
        return ToArgb(p, h.depth, grey, alpha16);
    };
    auto store = [&](uint64_t index, uint32_t colour) {
        const int fileRow = int(index / uint64_t(h.width));
        const int fileCol = int(index % uint64_t(h.width));
        const int y = topDown ? fileRow : h.height - 1 - fileRow;
        const int x = rightToLeft ? h.width - 1 - fileCol : fileCol;
        out->argb[size_t(y) * size_t(h.width) + size_t(x)] = colour;
    };

    uint64_t done = 0;
    if (!packed) {
        for (; done < pixels; ++done) {
            store(done, decode(data + pos + done * pixelBytes));
        }
        return true;
    }
    while (done < pixels) {
        if (pos >= size) {
            return Fail(error, "TGA: run-length data ends after %llu of %llu pixels", (unsigned long long)done,
                        (unsigned long long)pixels);
        }
        const uint8_t packet = data[pos++];
        const uint64_t count = uint64_t(packet & 0x7F) + 1;
        if (done + count > pixels) {
            return Fail(error, "TGA: run-length packet runs past the image");
        }
        if (packet & 0x80) {
            if (pos + pixelBytes > size) {
                return Fail(error, "TGA: truncated run-length packet");
            }
            const uint32_t colour = decode(data + pos);
            pos += pixelBytes;
            for (uint64_t i = 0; i < count; ++i) {
                store(done++, colour);
            }
        } else {
            if (pos + count * pixelBytes > size) {
                return Fail(error, "TGA: truncated raw packet");
            }
            for (uint64_t i = 0; i < count; ++i) {
                store(done++, decode(data + pos));
                pos += pixelBytes;
            }
        }
    }
    return true;
}

}  // namespace platform::image_detail
