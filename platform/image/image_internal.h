#pragma once
// Shared by the readers of platform/image; not part of its interface.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image/image.h"

namespace platform::image_detail {

// Sets `error` (when given) from a printf-style text; always returns false so
// that a reader can `return Fail(...)`.
bool Fail(std::string* error, const char* format, ...) __attribute__((format(printf, 2, 3)));

// 1..kMaxImageSide on each side.
bool CheckDimensions(int64_t width, int64_t height, std::string* error);

// Guards allocations that the input cannot justify: a small file that claims
// a huge compressed image is refused before anything is allocated. Images up
// to kFreePixelBudget pixels always pass; larger ones must not need more than
// `maxPixelsPerInputByte` pixels for every byte of input.
constexpr uint64_t kFreePixelBudget = 4096ull * 4096ull;
bool CheckPixelBudget(int width, int height, size_t inputSize, uint64_t maxPixelsPerInputByte,
                      std::string* error);

// Sizes `out` to width x height pixels filled with `fill`; false (with a
// message) when memory runs out.
bool AllocatePixels(Image* out, int width, int height, uint32_t fill, std::string* error);

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// Each reader fills `info` from the header and, when `out` is not null,
// decodes the pixels. None reads outside [data, data + size).
bool ReadBmp(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);
bool ReadTga(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);
bool ReadPpm(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);
bool ReadDds(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);
bool ReadPng(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);
bool ReadJpeg(const uint8_t* data, size_t size, ImageInfo* info, Image* out, std::string* error);

// True when the 18-byte header could start a TGA image (the format has no
// signature, so it is tried last).
bool LooksLikeTga(const uint8_t* data, size_t size);

}  // namespace platform::image_detail
