// PNG through libpng. libpng reports errors by longjmp: the functions that
// call setjmp below hold no C++ object with a destructor, and every C++
// object (the pixel vector, the row table) lives in the caller, outside the
// jumped-over frames.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

struct PngSource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    char message[256] = {0};
};

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    bool hasAlpha = false;
};

void PngOnError(png_structp png, png_const_charp message) {
    PngSource* source = static_cast<PngSource*>(png_get_error_ptr(png));
    snprintf(source->message, sizeof(source->message), "%s", message ? message : "error");
    png_longjmp(png, 1);
}

void PngOnWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t length) {
    PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->pos) {
        png_error(png, "the data ends early");
    }
    memcpy(out, source->data + source->pos, length);
    source->pos += length;
}

int PngReadHeader(png_structp png, png_infop info, PngHeader* h) {
    if (setjmp(png_jmpbuf(png))) {
        return 0;
    }
    png_read_info(png, info);
    png_get_IHDR(png, info, &h->width, &h->height, &h->bitDepth, &h->colorType, &h->interlace, nullptr,
                 nullptr);
    h->hasAlpha = (h->colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    return 1;
}

// Asks libpng for B, G, R, A bytes per pixel: a little-endian 0xAARRGGBB.
int PngSetOutput(png_structp png, png_infop info, const PngHeader* h, size_t* rowBytes) {
    if (setjmp(png_jmpbuf(png))) {
        return 0;
    }
    if (h->colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (h->colorType == PNG_COLOR_TYPE_GRAY && h->bitDepth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
    }
    if (h->bitDepth == 16) {
        png_set_strip_16(png);
    }
    if (h->colorType == PNG_COLOR_TYPE_GRAY || h->colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *rowBytes = png_get_rowbytes(png, info);
    return 1;
}

int PngReadPixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) {
        return 0;
    }
    png_read_image(png, rows);
    return 1;
}

// The chunks after the pixels carry nothing we use; a file cut after its
// image data still gives its picture.
void PngReadEnd(png_structp png) {
    if (setjmp(png_jmpbuf(png))) {
        return;
    }
    png_read_end(png, nullptr);
}

}  // namespace

bool ReadPng(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    PngSource source;
    source.data = data;
    source.size = size;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngOnError, PngOnWarning);
    if (!png) {
        return Fail(error, "PNG: cannot start libpng");
    }
    png_infop pngInfo = png_create_info_struct(png);
    if (!pngInfo) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Fail(error, "PNG: cannot start libpng");
    }
    png_set_read_fn(png, &source, PngRead);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);

    bool ok = false;
    PngHeader h;
    if (!PngReadHeader(png, pngInfo, &h)) {
        Fail(error, "PNG: %s", source.message);
    } else if (CheckDimensions(h.width, h.height, error)) {
        info->format = ImageFileFormat::Png;
        info->width = int(h.width);
        info->height = int(h.height);
        const int channels = h.colorType == PNG_COLOR_TYPE_PALETTE ? 1
                             : h.colorType == PNG_COLOR_TYPE_GRAY  ? 1
                             : h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                             : h.colorType == PNG_COLOR_TYPE_RGB ? 3
                                                                  : 4;
        info->bitsPerPixel = channels * h.bitDepth;
        info->hasAlpha = h.hasAlpha;
        ok = true;
        if (out) {
            ok = false;
            // Deflate packs at most 1032 bytes into one: a file too small
            // for its filtered rows is refused before the pixels are allocated.
            const uint64_t filtered = uint64_t(h.height) * (1 + (uint64_t(h.width) * info->bitsPerPixel + 7) / 8);
            size_t rowBytes = 0;
            std::vector<png_bytep> rows;
            if (uint64_t(h.width) * h.height > kFreePixelBudget && filtered / 1032 > size) {
                Fail(error, "PNG: %ux%u pixels cannot come from %zu bytes", unsigned(h.width), unsigned(h.height),
                     size);
            } else if (!PngSetOutput(png, pngInfo, &h, &rowBytes)) {
                Fail(error, "PNG: %s", source.message);
            } else if (rowBytes != size_t(h.width) * 4) {
                Fail(error, "PNG: unexpected row size %zu", rowBytes);
            } else if (AllocatePixels(out, int(h.width), int(h.height), 0xFF000000u, error)) {
                try {
                    rows.resize(h.height);
                    for (png_uint_32 y = 0; y < h.height; ++y) {
                        rows[y] = reinterpret_cast<png_bytep>(out->argb.data() + size_t(y) * h.width);
                    }
                    if (PngReadPixels(png, rows.data())) {
                        PngReadEnd(png);
                        ok = true;
                    } else {
                        Fail(error, "PNG: %s", source.message);
                    }
                } catch (const std::bad_alloc&) {
                    Fail(error, "PNG: out of memory");
                }
            }
        }
    }
    png_destroy_read_struct(&png, &pngInfo, nullptr);
    return ok;
}

}  // namespace platform::image_detail
