#pragma once
// Encoders that make the image files the reader tests and the fuzz seeds
// need. They are written from the formats' layouts, independent of the
// readers under test.
#include <cstdint>
#include <vector>

#include "platform/image/image.h"

namespace imagetest {

using Bytes = std::vector<uint8_t>;

// A small picture with distinct colours, alpha varying across.
platform::Image Pattern(int width, int height, bool withAlpha);

void Put16(Bytes* b, size_t at, uint32_t v);
void Put32(Bytes* b, size_t at, uint32_t v);

// BMP with an info header of `infoSize` (12, 40 or 124) bytes. 24 and 32
// bits store the pixels; 1, 4 and 8 bits take the image's colours as a
// palette (at most 2^bits distinct colours). 16 bits is X1R5G5B5.
Bytes MakeBmp(const platform::Image& image, int bits, bool topDown, int infoSize = 40);
// RLE8 from an 8-bit image; raw run-length bytes appended after the palette.
Bytes MakeBmpRle(int width, int height, const std::vector<uint32_t>& palette, const Bytes& runs, bool four);

// TGA: depth 8 (grey), 16, 24 or 32 true colour, or 8-bit colour-mapped.
Bytes MakeTga(const platform::Image& image, int depth, bool rle, bool topDown, bool colourMapped = false);

// PPM P6 / P3 (or P5 / P2 when grey), maximum value `maxValue`.
Bytes MakePpm(const platform::Image& image, bool binary, bool grey, int maxValue);

// DDS: 32 (A8R8G8B8), 24 (R8G8B8) or 16 (R5G6B5) bits uncompressed.
Bytes MakeDds(const platform::Image& image, int bits);
// DDS header with a four-character code and the given block bytes.
Bytes MakeDdsBlocks(int width, int height, const char* fourCc, const Bytes& blocks);

// PNG via libpng's simplified writer: channels 4 (BGRA), 3 (BGR), 1 (grey).
Bytes MakePng(const platform::Image& image, int channels);
// PNG via libpng's full writer: an 8-bit palette with a transparency entry
// for the first colour, optionally Adam7-interlaced.
Bytes MakePngPalette(const platform::Image& image, bool interlaced);
// JPEG via libjpeg: colour or grey.
Bytes MakeJpeg(const platform::Image& image, int quality, bool grey, bool progressive = false);

}  // namespace imagetest
