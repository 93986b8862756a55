// Image loading: the format told by content, the readers called, host files
// read; and the BMP writer of screenshots.
#include "platform/image/image.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/image/image_internal.h"
#include "platform/sys/file.h"
#include "platform/sys/printable.h"

namespace platform {
namespace image_detail {

bool Fail(std::string* error, const char* format, ...) {
    if (error) {
        char text[512];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        *error = text;
    }
    return false;
}

bool CheckDimensions(int64_t width, int64_t height, std::string* error) {
    if (width <= 0 || height <= 0) {
        return Fail(error, "bad size %lldx%lld", (long long)width, (long long)height);
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        return Fail(error, "size %lldx%lld is over the limit of %d", (long long)width, (long long)height,
                    kMaxImageSide);
    }
    return true;
}

bool CheckPixelBudget(int width, int height, size_t inputSize, uint64_t maxPixelsPerInputByte,
                      std::string* error) {
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (pixels <= kFreePixelBudget) {
        return true;
    }
    if (pixels / maxPixelsPerInputByte > inputSize) {
        return Fail(error, "%dx%d pixels cannot come from %zu bytes", width, height, inputSize);
    }
    return true;
}

bool AllocatePixels(Image* out, int width, int height, uint32_t fill, std::string* error) {
    out->width = 0;
    out->height = 0;
    try {
        out->argb.assign(size_t(width) * size_t(height), fill);
    } catch (const std::bad_alloc&) {
        out->argb.clear();
        out->argb.shrink_to_fit();
        return Fail(error, "out of memory for %dx%d pixels", width, height);
    }
    out->width = width;
    out->height = height;
    return true;
}

bool LooksLikeTga(const uint8_t* data, size_t size) {
    if (size < 18) {
        return false;
    }
    const uint8_t colorMapType = data[1];
    const uint8_t imageType = data[2];
    const uint8_t mapEntryBits = data[7];
    const uint16_t width = Le16(data + 12);
    const uint16_t height = Le16(data + 14);
    const uint8_t depth = data[16];
    const uint8_t descriptor = data[17];
    if (colorMapType > 1 || width == 0 || height == 0 || (descriptor & 0xC0) != 0) {
        return false;
    }
    switch (imageType) {
    case 1:
    case 9:
        return colorMapType == 1 && (depth == 8 || depth == 16) &&
               (mapEntryBits == 15 || mapEntryBits == 16 || mapEntryBits == 24 || mapEntryBits == 32);
    case 2:
    case 10:
        return depth == 15 || depth == 16 || depth == 24 || depth == 32;
    case 3:
    case 11:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

}  // namespace image_detail

using namespace image_detail;

ImageFileFormat DetectImageFormat(const uint8_t* data, size_t size) {
    if (!data) {
        return ImageFileFormat::Unknown;
    }
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && memcmp(data, kPng, 8) == 0) {
        return ImageFileFormat::Png;
    }
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        return ImageFileFormat::Jpeg;
    }
    if (size >= 4 && memcmp(data, "DDS ", 4) == 0) {
        return ImageFileFormat::Dds;
    }
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        return ImageFileFormat::Bmp;
    }
    if (size >= 3 && data[0] == 'P' && data[1] >= '2' && data[1] <= '6' && data[1] != '4' &&
        (data[2] == ' ' || data[2] == '\t' || data[2] == '\r' || data[2] == '\n' || data[2] == '#')) {
        return ImageFileFormat::Ppm;
    }
    if (LooksLikeTga(data, size)) {
        return ImageFileFormat::Tga;
    }
    return ImageFileFormat::Unknown;
}

const char* ImageFileFormatName(ImageFileFormat format) {
    switch (format) {
    case ImageFileFormat::Bmp: return "BMP";
    case ImageFileFormat::Png: return "PNG";
    case ImageFileFormat::Jpeg: return "JPEG";
    case ImageFileFormat::Tga: return "TGA";
    case ImageFileFormat::Ppm: return "PPM";
    case ImageFileFormat::Dds: return "DDS";
    case ImageFileFormat::Unknown: break;
    }
    return "unknown";
}

static bool Dispatch(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error) {
    if (!data || size == 0) {
        return Fail(error, "no data");
    }
    const ImageFileFormat format = DetectImageFormat(data, size);
    info->format = format;
    switch (format) {
    case ImageFileFormat::Bmp: return ReadBmp(data, size, info, out, error);
    case ImageFileFormat::Png: return ReadPng(data, size, info, out, error);
    case ImageFileFormat::Jpeg: return ReadJpeg(data, size, info, out, error);
    case ImageFileFormat::Tga: return ReadTga(data, size, info, out, error);
    case ImageFileFormat::Ppm: return ReadPpm(data, size, info, out, error);
    case ImageFileFormat::Dds: return ReadDds(data, size, info, out, error);
    case ImageFileFormat::Unknown: break;
    }
    return Fail(error, "not an image format that can be read");
}

bool DecodeImageMemory(const uint8_t* data, size_t size, Image* out, std::string* error) {
    if (!out) {
        return Fail(error, "no output image");
    }
    ImageInfo info;
    if (!Dispatch(data, size, &info, out, error)) {
        *out = Image();
        return false;
    }
    return true;
}

bool GetImageInfoMemory(const uint8_t* data, size_t size, ImageInfo* out, std::string* error) {
    if (!out) {
        return Fail(error, "no output info");
    }
    *out = ImageInfo();
    if (!Dispatch(data, size, out, nullptr, error)) {
        *out = ImageInfo();
        return false;
    }
    return true;
}

// Image files larger than this are refused before they are read.
static constexpr size_t kMaxImageFileBytes = size_t(1) << 30;

bool ReadHostFile(const char* hostPath, std::vector<uint8_t>* out, size_t maxBytes, std::string* error) {
    if (!hostPath || !out) {
        return Fail(error, "no file name");
    }
    out->clear();
    FILE* file = OpenRegularFileStream(hostPath);
    if (!file) {
        return Fail(error, errno == EISDIR ? "%s is a directory"
                           : errno == EINVAL ? "%s is not a regular file"
                                             : "cannot open %s",
                    hostPath);
    }
    bool ok = false;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0) {
        length = ftell(file);
    }
    if (length < 0 || fseek(file, 0, SEEK_SET) != 0) {
        Fail(error, "cannot tell the size of %s", hostPath);
    } else if (uint64_t(length) > maxBytes) {
        Fail(error, "%s is %ld bytes, over the limit", hostPath, length);
    } else {
        try {
            out->resize(size_t(length));
            ok = fread(out->data(), 1, size_t(length), file) == size_t(length);
            if (!ok) {
                Fail(error, "cannot read %s", hostPath);
            }
        } catch (const std::bad_alloc&) {
            Fail(error, "out of memory reading %s (%ld bytes)", hostPath, length);
        }
    }
    fclose(file);
    if (!ok) {
        out->clear();
    }
    return ok;
}

bool DecodeImageFile(const char* hostPath, Image* out, std::string* error) {
    std::string message;
    std::vector<uint8_t> bytes;
    bool ok = ReadHostFile(hostPath, &bytes, kMaxImageFileBytes, &message) &&
              DecodeImageMemory(bytes.data(), bytes.size(), out, &message);
    if (!ok) {
        if (out) {
            *out = Image();
        }
        // The path and the reader's words may come from anywhere: escaped.
        const std::string line = std::string(hostPath ? hostPath : "(null)") + ": " + message;
        fprintf(stderr, "image: %s\n", PrintableText(line).c_str());
        if (error) {
            *error = message;
        }
    }
    return ok;
}

bool GetImageInfoFile(const char* hostPath, ImageInfo* out, std::string* error) {
    std::vector<uint8_t> bytes;
    return ReadHostFile(hostPath, &bytes, kMaxImageFileBytes, error) &&
           GetImageInfoMemory(bytes.data(), bytes.size(), out, error);
}

bool EncodeBmp24(const uint32_t* argb, int width, int height, int pitchBytes, std::vector<uint8_t>* out,
                 std::string* error) {
    if (!argb || !out) {
        return Fail(error, "no pixels");
    }
    if (!CheckDimensions(width, height, error)) {
        return false;
    }
    if (pitchBytes < width * 4 || pitchBytes % 4 != 0) {
        return Fail(error, "bad pitch %d for width %d", pitchBytes, width);
    }
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const size_t pixelBytes = stride * size_t(height);
    const size_t total = 54 + pixelBytes;
    try {
        out->assign(total, 0);
    } catch (const std::bad_alloc&) {
        return Fail(error, "out of memory for a %dx%d bitmap", width, height);
    }
    uint8_t* p = out->data();
    auto put16 = [](uint8_t* d, uint32_t v) { d[0] = uint8_t(v); d[1] = uint8_t(v >> 8); };
    auto put32 = [](uint8_t* d, uint32_t v) {
        d[0] = uint8_t(v); d[1] = uint8_t(v >> 8); d[2] = uint8_t(v >> 16); d[3] = uint8_t(v >> 24);
    };
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, uint32_t(total));
    put32(p + 10, 54);
    put32(p + 14, 40);
    put32(p + 18, uint32_t(width));
    put32(p + 22, uint32_t(height));
    put16(p + 26, 1);
    put16(p + 28, 24);
    put32(p + 34, uint32_t(pixelBytes));
    put32(p + 38, 2835);  // 72 dots per inch
    put32(p + 42, 2835);
    const uint8_t* base = reinterpret_cast<const uint8_t*>(argb);
    for (int y = 0; y < height; ++y) {
        const uint32_t* src = reinterpret_cast<const uint32_t*>(base + size_t(y) * size_t(pitchBytes));
        uint8_t* dst = p + 54 + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            dst[x * 3 + 0] = uint8_t(src[x]);
            dst[x * 3 + 1] = uint8_t(src[x] >> 8);
            dst[x * 3 + 2] = uint8_t(src[x] >> 16);
        }
    }
    return true;
}

bool WriteBmp24(const char* hostPath, const uint32_t* argb, int width, int height, int pitchBytes,
                std::string* error) {
    if (!hostPath) {
        return Fail(error, "no file name");
    }
    std::vector<uint8_t> bytes;
    if (!EncodeBmp24(argb, width, height, pitchBytes, &bytes, error)) {
        return false;
    }
    std::string reason;
    if (!WriteWholeFile(hostPath, bytes.data(), bytes.size(), &reason)) {
        fprintf(stderr, "image: %s\n", PrintableText(reason).c_str());
        return Fail(error, "%s", reason.c_str());
    }
    return true;
}

}  // namespace platform
