// Windows bitmaps: core (12-byte) and info headers up to version 5; 1, 4, 8,
// 16, 24 and 32 bits; uncompressed, RLE8, RLE4 and bit fields; bottom-up and
// top-down rows.
#include <cstring>

#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

enum : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // mask >> shift
};

Channel MakeChannel(uint32_t mask) {
    Channel c;
    c.mask = mask;
    if (mask == 0) {
        return c;
    }
    while (((mask >> c.shift) & 1) == 0) {
        ++c.shift;
    }
    c.max = mask >> c.shift;
    return c;
}

// Scales a masked field to 0..255; an absent channel reads as `absent`.
inline uint32_t Extract(const Channel& c, uint32_t pixel, uint32_t absent) {
    if (c.mask == 0) {
        return absent;
    }
    const uint64_t v = (pixel & c.mask) >> c.shift;
    return uint32_t((v * 255 + c.max / 2) / c.max);
}

struct Header {
    int64_t width = 0;
    int64_t height = 0;  // positive: bottom-up
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t pixelOffset = 0;
    uint32_t paletteOffset = 0;
    uint32_t paletteEntryBytes = 4;
    uint32_t paletteCount = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
};

bool ParseHeader(const uint8_t* data, size_t size, Header* h, std::string* error) {
    if (size < 14 + 12) {
        return Fail(error, "BMP: truncated header (%zu bytes)", size);
    }
    h->pixelOffset = Le32(data + 10);
    const uint32_t infoSize = Le32(data + 14);
    const uint8_t* info = data + 14;
    if (infoSize == 12) {
        h->width = Le16(info + 4);
        h->height = Le16(info + 6);
        h->bits = Le16(info + 10);
        h->paletteEntryBytes = 3;
    } else if (infoSize >= 40 && infoSize <= 124) {
        if (size < 14 + size_t(infoSize)) {
            return Fail(error, "BMP: truncated info header (%u bytes declared)", infoSize);
        }
        h->width = int32_t(Le32(info + 4));
        h->height = int32_t(Le32(info + 8));
        h->bits = Le16(info + 14);
        h->compression = Le32(info + 16);
        h->paletteCount = Le32(info + 32);
        if (infoSize >= 52) {
            h->masks[0] = Le32(info + 40);
            h->masks[1] = Le32(info + 44);
            h->masks[2] = Le32(info + 48);
        }
        if (infoSize >= 56) {
            h->masks[3] = Le32(info + 52);
        }
    } else {
        return Fail(error, "BMP: unknown info header size %u", infoSize);
    }
    if (Le16(info + (infoSize == 12 ? 8 : 12)) != 1) {
        return Fail(error, "BMP: plane count is not 1");
    }
    if (h->height < 0) {
        h->topDown = true;
        h->height = -h->height;
    }
    if (!CheckDimensions(h->width, h->height, error)) {
        return false;
    }
    size_t afterInfo = 14 + size_t(infoSize);
    // A 40-byte header keeps its bit fields just after it.
    if (infoSize == 40 && (h->compression == kBitFields || h->compression == kAlphaBitFields)) {
        const size_t fields = h->compression == kAlphaBitFields ? 4 : 3;
        if (size < afterInfo + fields * 4) {
            return Fail(error, "BMP: truncated bit fields");
        }
        for (size_t i = 0; i < fields; ++i) {
            h->masks[i] = Le32(data + afterInfo + i * 4);
        }
        afterInfo += fields * 4;
    }
    switch (h->compression) {
    case kRgb:
        if (h->bits != 1 && h->bits != 4 && h->bits != 8 && h->bits != 16 && h->bits != 24 && h->bits != 32) {
            return Fail(error, "BMP: %u bits per pixel is not supported", h->bits);
        }
        break;
    case kRle8:
        if (h->bits != 8) {
            return Fail(error, "BMP: RLE8 with %u bits per pixel", h->bits);
        }
        break;
    case kRle4:
        if (h->bits != 4) {
            return Fail(error, "BMP: RLE4 with %u bits per pixel", h->bits);
        }
        break;
    case kBitFields:
    case kAlphaBitFields:
        if (h->bits != 16 && h->bits != 32) {
            return Fail(error, "BMP: bit fields with %u bits per pixel", h->bits);
        }
        break;
    default:
        return Fail(error, "BMP: compression %u is not supported", h->compression);
    }
    if (h->topDown && (h->compression == kRle8 || h->compression == kRle4)) {
        return Fail(error, "BMP: compressed bitmaps cannot be top-down");
    }
    if (h->bits > 8) {
        // A colour table beside true-colour pixels is only a display hint.
        h->paletteCount = 0;
    } else {
        const uint32_t most = 1u << h->bits;
        if (h->paletteCount == 0 || h->paletteCount > most) {
            h->paletteCount = most;
        }
        h->paletteOffset = uint32_t(afterInfo);
        const uint64_t paletteEnd = uint64_t(afterInfo) + uint64_t(h->paletteCount) * h->paletteEntryBytes;
        if (paletteEnd > size) {
            // Some writers keep fewer entries than they declare: take what is there.
            h->paletteCount = uint32_t((size - afterInfo) / h->paletteEntryBytes);
            if (h->paletteCount == 0) {
                return Fail(error, "BMP: the palette is missing");
            }
        }
    }
    if (h->pixelOffset < 14 + 12 || h->pixelOffset >= size) {
        return Fail(error, "BMP: pixel data offset %u outside the %zu-byte file", h->pixelOffset, size);
    }
    return true;
}

void DefaultMasks(Header* h) {
    if (h->compression == kBitFields || h->compression == kAlphaBitFields) {
        return;
    }
    if (h->bits == 16) {
        h->masks[0] = 0x7C00;
        h->masks[1] = 0x03E0;
        h->masks[2] = 0x001F;
    } else if (h->bits == 32) {
        h->masks[0] = 0x00FF0000;
        h->masks[1] = 0x0000FF00;
        h->masks[2] = 0x000000FF;
    }
    // Plain 16- and 32-bit bitmaps have no alpha: the fourth byte is padding.
    h->masks[3] = 0;
}

bool ReadPalette(const uint8_t* data, const Header& h, uint32_t palette[256]) {
    for (int i = 0; i < 256; ++i) {
        palette[i] = 0xFF000000u;
    }
    for (uint32_t i = 0; i < h.paletteCount && i < 256; ++i) {
        const uint8_t* e = data + h.paletteOffset + size_t(i) * h.paletteEntryBytes;
        palette[i] = Argb(0xFF, e[2], e[1], e[0]);
    }
    return true;
}

uint32_t* RowOf(Image* out, const Header& h, int64_t fileRow) {
    const int64_t y = h.topDown ? fileRow : h.height - 1 - fileRow;
    return out->argb.data() + size_t(y) * size_t(h.width);
}

bool DecodeUncompressed(const uint8_t* data, size_t size, const Header& h, Image* out, std::string* error) {
    const size_t rowBytes = (size_t(h.width) * h.bits + 7) / 8;
    const size_t stride = (size_t(h.width) * h.bits + 31) / 32 * 4;
    // The last row may lack its padding.
    const uint64_t needed = uint64_t(h.pixelOffset) + uint64_t(stride) * uint64_t(h.height - 1) + rowBytes;
    if (needed > size) {
        return Fail(error, "BMP: truncated pixel data (%llu bytes needed, %zu present)",
                    (unsigned long long)needed, size);
    }
    if (!AllocatePixels(out, int(h.width), int(h.height), 0xFF000000u, error)) {
        return false;
    }
    uint32_t palette[256];
    ReadPalette(data, h, palette);
    const Channel r = MakeChannel(h.masks[0]), g = MakeChannel(h.masks[1]), b = MakeChannel(h.masks[2]),
                  a = MakeChannel(h.masks[3]);
    for (int64_t row = 0; row < h.height; ++row) {
        const uint8_t* src = data + h.pixelOffset + size_t(row) * stride;
        uint32_t* dst = RowOf(out, h, row);
        for (int64_t x = 0; x < h.width; ++x) {
            uint32_t pixel = 0;
            switch (h.bits) {
            case 1: pixel = palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
            case 4: pixel = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
            case 8: pixel = palette[src[x]]; break;
            case 24: pixel = Argb(0xFF, src[x * 3 + 2], src[x * 3 + 1], src[x * 3]); break;
            case 16:
            case 32: {
                const uint32_t v = h.bits == 16 ? Le16(src + x * 2) : Le32(src + x * 4);
                pixel = Argb(Extract(a, v, 0xFF), Extract(r, v, 0), Extract(g, v, 0), Extract(b, v, 0));
                break;
            }
            }
            dst[x] = pixel;
        }
    }
    return true;
}

// Run-length bitmaps: (count, index) runs, and escapes 0 0 (end of line),
// 0 1 (end of bitmap), 0 2 dx dy (move) and 0 n (n literal indices, padded to
// a 16-bit boundary). Pixels never written stay black.
bool DecodeRle(const uint8_t* data, size_t size, const Header& h, Image* out, std::string* error) {
    const bool four = h.compression == kRle4;
    // Each two-byte run yields at most 255 pixels; a move may skip more, so
    // the budget is only a guard against tiny files claiming huge images.
    if (!CheckPixelBudget(int(h.width), int(h.height), size, 256, error)) {
        return false;
    }
    if (!AllocatePixels(out, int(h.width), int(h.height), 0xFF000000u, error)) {
        return false;
    }
    uint32_t palette[256];
    ReadPalette(data, h, palette);
    size_t pos = h.pixelOffset;
    int64_t x = 0;
    int64_t y = 0;  // rows counted from the bottom
    auto put = [&](uint32_t index) {
        if (x < h.width && y < h.height) {
            out->argb[size_t(h.height - 1 - y) * size_t(h.width) + size_t(x)] = palette[index & 0xFF];
        }
        ++x;
    };
    while (y < h.height) {
        if (pos + 2 > size) {
            return Fail(error, "BMP: run-length data ends at row %lld of %lld", (long long)y,
                        (long long)h.height);
        }
        const uint8_t count = data[pos];
        const uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < h.width; ++i) {
                put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (pos + 2 > size) {
                return Fail(error, "BMP: truncated move in run-length data");
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {
            const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t(1);
            if (pos + bytes > size) {
                return Fail(error, "BMP: truncated literal run");
            }
            for (int i = 0; i < value; ++i) {
                if (x >= h.width) {
                    break;
                }
                const uint8_t byte = data[pos + (four ? size_t(i) / 2 : size_t(i))];
                put(four ? ((i & 1) ? byte & 0x0F : byte >> 4) : byte);
            }
            pos += padded;
        }
    }
    return true;
}

}  // namespace

bool ReadBmp(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    Header h;
    if (!ParseHeader(data, size, &h, error)) {
        return false;
    }
    DefaultMasks(&h);
    info->format = ImageFileFormat::Bmp;
    info->width = int(h.width);
    info->height = int(h.height);
    info->bitsPerPixel = int(h.bits);
    info->hasAlpha = h.masks[3] != 0;
    if (!out) {
        return true;
    }
    if (h.compression == kRle8 || h.compression == kRle4) {
        return DecodeRle(data, size, h, out, error);
    }
    return DecodeUncompressed(data, size, h, out, error);
}

}  // namespace platform::image_detail
