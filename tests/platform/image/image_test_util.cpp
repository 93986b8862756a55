#include "tests/platform/image/image_test_util.h"

#include <cstdio>
// jpeglib.h wants FILE and size_t declared first.
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace imagetest {

platform::Image Pattern(int width, int height, bool withAlpha) {
    platform::Image image;
    image.width = width;
    image.height = height;
    image.argb.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t r = uint32_t(x * 255 / std::max(1, width - 1));
            const uint32_t g = uint32_t(y * 255 / std::max(1, height - 1));
            const uint32_t b = uint32_t((x * 37 + y * 91) & 0xFF);
            const uint32_t a = withAlpha ? uint32_t((x + y) * 255 / std::max(1, width + height - 2)) : 0xFF;
            image.argb[size_t(y) * width + x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return image;
}

void Put16(Bytes* b, size_t at, uint32_t v) {
    (*b)[at] = uint8_t(v);
    (*b)[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        (*b)[at + i] = uint8_t(v >> (8 * i));
    }
}

static std::vector<uint32_t> PaletteOf(const platform::Image& image, size_t most) {
    std::vector<uint32_t> palette;
    for (uint32_t c : image.argb) {
        c |= 0xFF000000u;
        if (std::find(palette.begin(), palette.end(), c) == palette.end()) {
            palette.push_back(c);
        }
    }
    if (palette.size() > most) {
        throw std::runtime_error("too many colours for the palette");
    }
    palette.resize(most, 0xFF000000u);
    return palette;
}

Bytes MakeBmp(const platform::Image& image, int bits, bool topDown, int infoSize) {
    const int w = image.width, h = image.height;
    const size_t stride = (size_t(w) * bits + 31) / 32 * 4;
    std::vector<uint32_t> palette;
    if (bits <= 8) {
        palette = PaletteOf(image, size_t(1) << bits);
    }
    const size_t entry = infoSize == 12 ? 3 : 4;
    const size_t pixelOffset = 14 + infoSize + palette.size() * entry;
    Bytes b(pixelOffset + stride * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(&b, 2, uint32_t(b.size()));
    Put32(&b, 10, uint32_t(pixelOffset));
    Put32(&b, 14, uint32_t(infoSize));
    if (infoSize == 12) {
        Put16(&b, 18, uint32_t(w));
        Put16(&b, 20, uint32_t(h));
        Put16(&b, 22, 1);
        Put16(&b, 24, uint32_t(bits));
    } else {
        Put32(&b, 18, uint32_t(w));
        Put32(&b, 22, uint32_t(topDown ? -h : h));
        Put16(&b, 26, 1);
        Put16(&b, 28, uint32_t(bits));
        Put32(&b, 34, uint32_t(stride * h));
        if (infoSize >= 56 && bits == 32) {
            // A version-5 header with bit fields that keep the alpha.
            Put32(&b, 30, 3);
            Put32(&b, 54, 0x00FF0000);
            Put32(&b, 58, 0x0000FF00);
            Put32(&b, 62, 0x000000FF);
            Put32(&b, 66, 0xFF000000);
        }
    }
    for (size_t i = 0; i < palette.size(); ++i) {
        uint8_t* e = b.data() + 14 + infoSize + i * entry;
        e[0] = uint8_t(palette[i]);
        e[1] = uint8_t(palette[i] >> 8);
        e[2] = uint8_t(palette[i] >> 16);
    }
    for (int y = 0; y < h; ++y) {
        const int fileRow = topDown ? y : h - 1 - y;
        uint8_t* row = b.data() + pixelOffset + size_t(fileRow) * stride;
        for (int x = 0; x < w; ++x) {
            const uint32_t c = image.argb[size_t(y) * w + x];
            if (bits <= 8) {
                const uint32_t index =
                    uint32_t(std::find(palette.begin(), palette.end(), c | 0xFF000000u) - palette.begin());
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                row[x / perByte] |= uint8_t(index << shift);
            } else if (bits == 16) {
                const uint32_t v = (((c >> 19) & 0x1F) << 10) | (((c >> 11) & 0x1F) << 5) | ((c >> 3) & 0x1F);
                row[x * 2] = uint8_t(v);
                row[x * 2 + 1] = uint8_t(v >> 8);
            } else {
                const int n = bits / 8;
                for (int k = 0; k < n; ++k) {
                    row[x * n + k] = uint8_t(c >> (8 * k));
                }
            }
        }
    }
    return b;
}

Bytes MakeBmpRle(int width, int height, const std::vector<uint32_t>& palette, const Bytes& runs, bool four) {
    const size_t pixelOffset = 14 + 40 + palette.size() * 4;
    Bytes b(pixelOffset, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(&b, 10, uint32_t(pixelOffset));
    Put32(&b, 14, 40);
    Put32(&b, 18, uint32_t(width));
    Put32(&b, 22, uint32_t(height));
    Put16(&b, 26, 1);
    Put16(&b, 28, four ? 4 : 8);
    Put32(&b, 30, four ? 2 : 1);
    Put32(&b, 34, uint32_t(runs.size()));
    Put32(&b, 46, uint32_t(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) {
        Put32(&b, 54 + i * 4, palette[i] & 0xFFFFFF);
    }
    b.insert(b.end(), runs.begin(), runs.end());
    Put32(&b, 2, uint32_t(b.size()));
    return b;
}

Bytes MakeTga(const platform::Image& image, int depth, bool rle, bool topDown, bool colourMapped) {
    const int w = image.width, h = image.height;
    Bytes b(18, 0);
    std::vector<uint32_t> palette;
    if (colourMapped) {
        palette = PaletteOf(image, 256);
        b[1] = 1;
        Put16(&b, 5, 256);
        b[7] = 24;
        for (uint32_t c : palette) {
            b.push_back(uint8_t(c));
            b.push_back(uint8_t(c >> 8));
            b.push_back(uint8_t(c >> 16));
        }
        depth = 8;
    }
    const bool grey = !colourMapped && depth == 8;
    b[2] = uint8_t((colourMapped ? 1 : grey ? 3 : 2) + (rle ? 8 : 0));
    Put16(&b, 12, uint32_t(w));
    Put16(&b, 14, uint32_t(h));
    b[16] = uint8_t(depth);
    b[17] = uint8_t((topDown ? 0x20 : 0) | (depth == 32 ? 8 : depth == 16 ? 1 : 0));
    const int n = (depth + 7) / 8;
    auto pixelBytes = [&](uint32_t c, uint8_t* out) {
        if (colourMapped) {
            out[0] = uint8_t(std::find(palette.begin(), palette.end(), c | 0xFF000000u) - palette.begin());
        } else if (grey) {
            out[0] = uint8_t(c);  // blue channel as the grey level
        } else if (depth == 16) {
            const uint32_t v = ((c >> 31) << 15) | (((c >> 19) & 0x1F) << 10) | (((c >> 11) & 0x1F) << 5) |
                               ((c >> 3) & 0x1F);
            out[0] = uint8_t(v);
            out[1] = uint8_t(v >> 8);
        } else {
            for (int k = 0; k < n; ++k) {
                out[k] = uint8_t(c >> (8 * k));
            }
        }
    };
    std::vector<uint32_t> order;
    for (int row = 0; row < h; ++row) {
        const int y = topDown ? row : h - 1 - row;
        for (int x = 0; x < w; ++x) {
            order.push_back(image.argb[size_t(y) * w + x]);
        }
    }
    uint8_t px[4];
    if (!rle) {
        for (uint32_t c : order) {
            pixelBytes(c, px);
            b.insert(b.end(), px, px + n);
        }
        return b;
    }
    // Runs of equal pixels as run packets, the rest as raw packets.
    size_t i = 0;
    while (i < order.size()) {
        size_t run = 1;
        while (i + run < order.size() && run < 128 && order[i + run] == order[i]) {
            ++run;
        }
        if (run >= 2) {
            b.push_back(uint8_t(0x80 | (run - 1)));
            pixelBytes(order[i], px);
            b.insert(b.end(), px, px + n);
            i += run;
            continue;
        }
        size_t raw = 1;
        while (i + raw < order.size() && raw < 128 &&
               !(i + raw + 1 < order.size() && order[i + raw] == order[i + raw + 1])) {
            ++raw;
        }
        b.push_back(uint8_t(raw - 1));
        for (size_t k = 0; k < raw; ++k) {
            pixelBytes(order[i + k], px);
            b.insert(b.end(), px, px + n);
        }
        i += raw;
    }
    return b;
}

Bytes MakePpm(const platform::Image& image, bool binary, bool grey, int maxValue) {
    char header[64];
    snprintf(header, sizeof(header), "P%c\n# made by a test\n%d %d\n%d\n",
             grey ? (binary ? '5' : '2') : (binary ? '6' : '3'), image.width, image.height, maxValue);
    Bytes b(header, header + strlen(header));
    for (uint32_t c : image.argb) {
        const uint32_t channels[3] = {(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF};
        for (int k = 0; k < (grey ? 1 : 3); ++k) {
            const uint32_t v = (channels[grey ? 2 : k] * uint32_t(maxValue) + 127) / 255;
            if (!binary) {
                char text[16];
                snprintf(text, sizeof(text), "%u ", v);
                b.insert(b.end(), text, text + strlen(text));
            } else if (maxValue > 255) {
                b.push_back(uint8_t(v >> 8));
                b.push_back(uint8_t(v));
            } else {
                b.push_back(uint8_t(v));
            }
        }
    }
    return b;
}

static Bytes DdsHeader(int width, int height, uint32_t pfFlags, uint32_t fourCc, int bits, const uint32_t masks[4]) {
    Bytes b(128, 0);
    memcpy(b.data(), "DDS ", 4);
    Put32(&b, 4, 124);
    Put32(&b, 8, 0x1007);
    Put32(&b, 12, uint32_t(height));
    Put32(&b, 16, uint32_t(width));
    Put32(&b, 76, 32);
    Put32(&b, 80, pfFlags);
    Put32(&b, 84, fourCc);
    Put32(&b, 88, uint32_t(bits));
    for (int i = 0; i < 4; ++i) {
        Put32(&b, 92 + i * 4, masks ? masks[i] : 0);
    }
    Put32(&b, 108, 0x1000);
    return b;
}

Bytes MakeDds(const platform::Image& image, int bits) {
    uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, bits == 32 ? 0xFF000000u : 0};
    if (bits == 16) {
        masks[0] = 0xF800;
        masks[1] = 0x07E0;
        masks[2] = 0x001F;
    }
    Bytes b = DdsHeader(image.width, image.height, 0x40 | (bits == 32 ? 1 : 0), 0, bits, masks);
    for (uint32_t c : image.argb) {
        if (bits == 16) {
            const uint32_t v = (((c >> 19) & 0x1F) << 11) | (((c >> 10) & 0x3F) << 5) | ((c >> 3) & 0x1F);
            b.push_back(uint8_t(v));
            b.push_back(uint8_t(v >> 8));
        } else {
            for (int k = 0; k < bits / 8; ++k) {
                b.push_back(uint8_t(c >> (8 * k)));
            }
        }
    }
    return b;
}

Bytes MakeDdsBlocks(int width, int height, const char* fourCc, const Bytes& blocks) {
    const uint32_t code = uint32_t(uint8_t(fourCc[0])) | (uint32_t(uint8_t(fourCc[1])) << 8) |
                          (uint32_t(uint8_t(fourCc[2])) << 16) | (uint32_t(uint8_t(fourCc[3])) << 24);
    Bytes b = DdsHeader(width, height, 0x4, code, 0, nullptr);
    b.insert(b.end(), blocks.begin(), blocks.end());
    return b;
}

Bytes MakePng(const platform::Image& image, int channels) {
    png_image pi;
    memset(&pi, 0, sizeof(pi));
    pi.version = PNG_IMAGE_VERSION;
    pi.width = uint32_t(image.width);
    pi.height = uint32_t(image.height);
    pi.format = channels == 4 ? PNG_FORMAT_BGRA : channels == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
    Bytes source;
    for (uint32_t c : image.argb) {
        if (channels == 1) {
            source.push_back(uint8_t(c));
        } else {
            for (int k = 0; k < channels; ++k) {
                source.push_back(uint8_t(c >> (8 * k)));
            }
        }
    }
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&pi, nullptr, &size, 0, source.data(), 0, nullptr)) {
        throw std::runtime_error("png size");
    }
    Bytes out(size);
    if (!png_image_write_to_memory(&pi, out.data(), &size, 0, source.data(), 0, nullptr)) {
        throw std::runtime_error("png write");
    }
    out.resize(size);
    png_image_free(&pi);
    return out;
}

static void PngWriteToVector(png_structp png, png_bytep data, size_t length) {
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

static void PngFlushNothing(png_structp) {}

Bytes MakePngPalette(const platform::Image& image, bool interlaced) {
    const std::vector<uint32_t> palette = PaletteOf(image, 256);
    std::vector<png_color> colours(256);
    for (size_t i = 0; i < 256; ++i) {
        colours[i] = {uint8_t(palette[i] >> 16), uint8_t(palette[i] >> 8), uint8_t(palette[i])};
    }
    Bytes indices(size_t(image.width) * image.height);
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = uint8_t(std::find(palette.begin(), palette.end(), image.argb[i] | 0xFF000000u) - palette.begin());
    }
    std::vector<png_bytep> rows(size_t(image.height));
    for (int y = 0; y < image.height; ++y) {
        rows[y] = indices.data() + size_t(y) * image.width;
    }
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png palette write");
    }
    png_set_write_fn(png, &out, PngWriteToVector, PngFlushNothing);
    png_set_IHDR(png, info, uint32_t(image.width), uint32_t(image.height), 8, PNG_COLOR_TYPE_PALETTE,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colours.data(), 256);
    png_byte transparent = 0;
    png_set_tRNS(png, info, &transparent, 1, nullptr);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes MakeJpeg(const platform::Image& image, int quality, bool grey, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* memory = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &memory, &size);
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    Bytes row(size_t(image.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint32_t* src = image.argb.data() + size_t(cinfo.next_scanline) * image.width;
        for (int x = 0; x < image.width; ++x) {
            if (grey) {
                row[x] = uint8_t(src[x]);
            } else {
                row[x * 3] = uint8_t(src[x] >> 16);
                row[x * 3 + 1] = uint8_t(src[x] >> 8);
                row[x * 3 + 2] = uint8_t(src[x]);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(memory, memory + size);
    jpeg_destroy_compress(&cinfo);
    free(memory);
    return out;
}

}  // namespace imagetest
