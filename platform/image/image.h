#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Image loading for textures and surfaces: PNG, JPEG, BMP, TGA, PPM and DDS,
// recognised by their content, decoded into one pixel layout.
namespace platform {

// Largest width or height any reader accepts.
constexpr int kMaxImageSide = 16384;

struct Image {
    int width = 0;
    int height = 0;
    // A8R8G8B8 as 0xAARRGGBB, rows top-down, width * height pixels. Formats
    // without alpha give 0xFF.
    std::vector<uint32_t> argb;
};

enum class ImageFileFormat { Unknown, Bmp, Png, Jpeg, Tga, Ppm, Dds };

struct ImageInfo {
    int width = 0;
    int height = 0;
    ImageFileFormat format = ImageFileFormat::Unknown;
    int bitsPerPixel = 0;   // as stored (a palette image counts its index bits)
    bool hasAlpha = false;  // the file carries an alpha channel
};

// Decodes a whole image. The format is chosen by the content's signature,
// never by the name. On failure `out` is left empty and `error` (optional)
// says why.
bool DecodeImageFile(const char* hostPath, Image* out, std::string* error);
bool DecodeImageMemory(const uint8_t* data, size_t size, Image* out, std::string* error);

// Reads only what is needed to tell the size and kind of an image.
bool GetImageInfoMemory(const uint8_t* data, size_t size, ImageInfo* out, std::string* error);
bool GetImageInfoFile(const char* hostPath, ImageInfo* out, std::string* error);

// The kind of image the bytes start with (Unknown when none matches).
ImageFileFormat DetectImageFormat(const uint8_t* data, size_t size);
const char* ImageFileFormatName(ImageFileFormat format);

// Writes a bottom-up 24-bit BMP (screenshots); `argb` rows are `pitchBytes`
// apart, top row first; alpha is dropped.
bool WriteBmp24(const char* hostPath, const uint32_t* argb, int width, int height, int pitchBytes,
                std::string* error);
// The same into memory.
bool EncodeBmp24(const uint32_t* argb, int width, int height, int pitchBytes,
                 std::vector<uint8_t>* out, std::string* error);

// Reads a whole host file into memory, refusing files larger than `maxBytes`.
bool ReadHostFile(const char* hostPath, std::vector<uint8_t>* out, size_t maxBytes, std::string* error);

}  // namespace platform
