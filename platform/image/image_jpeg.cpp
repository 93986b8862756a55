// JPEG through libjpeg. Its errors leave by longjmp from error_exit: the
// functions that call setjmp hold no C++ object with a destructor; the pixel
// vector lives in the caller.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>

#include "platform/image/image_internal.h"

namespace platform::image_detail {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;  // first: libjpeg sees only this part
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {0};
    bool truncated = false;
};

void JpegOnError(j_common_ptr cinfo) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->jump, 1);
}

// Warnings do not stop libjpeg; a file that ends early is the one we refuse
// (it would otherwise decode as grey).
void JpegOnMessage(j_common_ptr cinfo, int level) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        errors->truncated = true;
    }
}

// libjpeg's own limit on its working memory: beyond it a decode fails
// instead of growing (it has no backing store).
constexpr long kJpegWorkingMemory = 512L * 1024 * 1024;

int JpegReadHeader(jpeg_decompress_struct* cinfo, JpegErrors* errors, const uint8_t* data, size_t size,
                   bool* cmyk) {
    if (setjmp(errors->jump)) {
        return 0;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = kJpegWorkingMemory;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(cinfo, TRUE);
    *cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = *cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    return 1;
}

int JpegReadPixels(jpeg_decompress_struct* cinfo, JpegErrors* errors, uint8_t* pixels, size_t pitch) {
    if (setjmp(errors->jump)) {
        return 0;
    }
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 4) {
        errors->manager.msg_code = JERR_BAD_J_COLORSPACE;
        snprintf(errors->message, sizeof(errors->message), "unexpected output of %d components",
                 cinfo->output_components);
        return 0;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + size_t(cinfo->output_scanline) * pitch;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            snprintf(errors->message, sizeof(errors->message), "no scan line read");
            return 0;
        }
    }
    jpeg_finish_decompress(cinfo);
    return 1;
}

}  // namespace

bool ReadJpeg(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    jpeg_decompress_struct cinfo;
    memset(&cinfo, 0, sizeof(cinfo));
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegOnError;
    errors.manager.emit_message = JpegOnMessage;

    bool cmyk = false;
    bool ok = false;
    if (!JpegReadHeader(&cinfo, &errors, data, size, &cmyk)) {
        Fail(error, "JPEG: %s", errors.message);
    } else if (CheckDimensions(cinfo.image_width, cinfo.image_height, error)) {
        const int width = int(cinfo.image_width), height = int(cinfo.image_height);
        info->format = ImageFileFormat::Jpeg;
        info->width = width;
        info->height = height;
        info->bitsPerPixel = cinfo.num_components * 8;
        info->hasAlpha = false;
        ok = true;
        // Progressive files can describe large flat images in very few bytes;
        // the budget only stops tiny files that claim huge ones.
        if (out) {
            ok = CheckPixelBudget(width, height, size, 4096, error) &&
                 AllocatePixels(out, width, height, 0xFF000000u, error);
            if (ok && !JpegReadPixels(&cinfo, &errors, reinterpret_cast<uint8_t*>(out->argb.data()),
                                      size_t(width) * 4)) {
                ok = Fail(error, "JPEG: %s", errors.message);
            }
            if (ok && errors.truncated) {
                ok = Fail(error, "JPEG: the data ends early");
            }
            if (ok && cmyk) {
                // Adobe writes CMYK inverted: each stored value is 255 - ink.
                for (uint32_t& p : out->argb) {
                    const uint32_t c = p & 0xFF, m = (p >> 8) & 0xFF, y = (p >> 16) & 0xFF, k = p >> 24;
                    p = Argb(0xFF, (c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
                }
            }
        }
    }
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

}  // namespace platform::image_detail
