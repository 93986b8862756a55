#include "platform/image/image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/platform/image/image_test_util.h"

using imagetest::Bytes;
using platform::Image;

namespace {

bool Decode(const Bytes& bytes, Image* out, std::string* error = nullptr) {
    return platform::DecodeImageMemory(bytes.data(), bytes.size(), out, error);
}

// Every channel within `tolerance` of the expected image.
void ExpectNear(const Image& got, const Image& want, int tolerance, bool compareAlpha) {
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    ASSERT_EQ(got.argb.size(), want.argb.size());
    for (size_t i = 0; i < want.argb.size(); ++i) {
        for (int shift = 0; shift < (compareAlpha ? 32 : 24); shift += 8) {
            const int a = int((got.argb[i] >> shift) & 0xFF), b = int((want.argb[i] >> shift) & 0xFF);
            ASSERT_LE(std::abs(a - b), tolerance) << "pixel " << i << " shift " << shift << std::hex << " got "
                                                  << got.argb[i] << " want " << want.argb[i];
        }
    }
}

Image Opaque(Image image) {
    for (uint32_t& c : image.argb) {
        c |= 0xFF000000u;
    }
    return image;
}

// An image with few colours, for palettes.
Image Few(int width, int height, int colours) {
    Image image;
    image.width = width;
    image.height = height;
    static const uint32_t kColours[16] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF123456,
                                          0xFF808080, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF, 0xFF102030, 0xFF405060,
                                          0xFF708090, 0xFFA0B0C0, 0xFFD0E0F0, 0xFF010203};
    for (int i = 0; i < width * height; ++i) {
        image.argb.push_back(kColours[(i * 7 + i / width) % colours]);
    }
    return image;
}

// Every strict prefix of the file fails cleanly (no crash, an error text).
void ExpectEveryPrefixFails(const Bytes& full, size_t keepTail = 0) {
    for (size_t n = 0; n + keepTail < full.size(); n += 1 + n / 64) {
        Bytes cut(full.begin(), full.begin() + long(n));
        Image out;
        std::string error;
        EXPECT_FALSE(Decode(cut, &out, &error)) << "prefix of " << n << " bytes";
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(out.argb.empty());
    }
}

}  // namespace

TEST(ImageBmp, ReadsTrueColourBottomUpAndTopDown) {
    const Image want = Opaque(imagetest::Pattern(7, 5, false));
    for (bool topDown : {false, true}) {
        for (int bits : {24, 32}) {
            Image got;
            ASSERT_TRUE(Decode(imagetest::MakeBmp(want, bits, topDown), &got)) << bits;
            ExpectNear(got, want, 0, true);
        }
    }
    Image got;
    ASSERT_TRUE(Decode(imagetest::MakeBmp(want, 24, false, 12), &got));
    ExpectNear(got, want, 0, true);
}

TEST(ImageBmp, PlainThirtyTwoBitsIgnoresTheFourthByteButBitFieldsKeepAlpha) {
    const Image source = imagetest::Pattern(6, 4, true);
    Image got;
    ASSERT_TRUE(Decode(imagetest::MakeBmp(source, 32, false), &got));
    ExpectNear(got, Opaque(source), 0, true);
    ASSERT_TRUE(Decode(imagetest::MakeBmp(source, 32, false, 124), &got));
    ExpectNear(got, source, 0, true);
}

TEST(ImageBmp, ReadsPaletteAndSixteenBitImages) {
    for (int bits : {1, 4, 8}) {
        const Image want = Few(13, 3, bits == 1 ? 2 : 16);
        Image got;
        ASSERT_TRUE(Decode(imagetest::MakeBmp(want, bits, bits == 4), &got)) << bits;
        ExpectNear(got, want, 0, true);
    }
    const Image want = Opaque(imagetest::Pattern(5, 3, false));
    Image got;
    ASSERT_TRUE(Decode(imagetest::MakeBmp(want, 16, false), &got));
    ExpectNear(got, want, 8, true);  // five bits per channel
}

TEST(ImageBmp, ReadsRunLengthEightAndFour) {
    const std::vector<uint32_t> palette = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    // 4 x 3, rows from the bottom: 1 1 2 2 / 0 1 2 3 / moved right by 2: _ _ 3 3
    const Bytes runs8 = {2, 1, 2, 2, 0, 0,        // bottom row
                         0, 4, 0, 1, 2, 3, 0, 0,  // literal row
                         0, 2, 2, 0, 2, 3, 0, 1}; // move, run, end of bitmap
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakeBmpRle(4, 3, palette, runs8, false), &got, &error)) << error;
    const std::vector<uint32_t> want = {0xFF000000, 0xFF000000, 0xFF0000FF, 0xFF0000FF,
                                        0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                        0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0xFF00FF00};
    EXPECT_EQ(got.argb, want);
    // RLE4: a run alternates the two nibbles; a literal holds nibbles.
    const Bytes runs4 = {4, 0x12, 0, 0,
                         0, 3, 0x32, 0x10, 0, 0};  // 3 2 1 padded to a word
    ASSERT_TRUE(Decode(imagetest::MakeBmpRle(4, 2, palette, runs4, true), &got, &error)) << error;
    const std::vector<uint32_t> want4 = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF000000,
                                         0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0xFF00FF00};
    EXPECT_EQ(got.argb, want4);
}

TEST(ImageBmp, RunLengthRunsAndMovesOutsideTheImageAreClipped) {
    const std::vector<uint32_t> palette = {0xFF000000, 0xFFFFFFFF};
    // A run of 200 in a 3-wide row, a literal of 5, a move far away.
    const Bytes runs = {200, 1, 0, 0, 0, 5, 1, 1, 1, 1, 1, 0, 0, 2, 250, 250, 1, 1, 0, 1};
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakeBmpRle(3, 2, palette, runs, false), &got, &error)) << error;
    EXPECT_EQ(got.argb, std::vector<uint32_t>(6, 0xFFFFFFFF));
    // A stream that stops before the image is complete is refused.
    const Bytes shortRuns = {3, 1};
    EXPECT_FALSE(Decode(imagetest::MakeBmpRle(3, 2, palette, shortRuns, false), &got, &error));
    EXPECT_TRUE(got.argb.empty());
}

TEST(ImageBmp, RejectsTruncatedAndHostileHeaders) {
    const Bytes good = imagetest::MakeBmp(imagetest::Pattern(9, 7, false), 24, false);
    ExpectEveryPrefixFails(good);
    Image got;
    std::string error;
    Bytes b = good;
    imagetest::Put32(&b, 10, 0xFFFFFFF0u);  // pixel offset past the end
    EXPECT_FALSE(Decode(b, &got, &error));
    b = good;
    imagetest::Put32(&b, 10, uint32_t(good.size() - 4));
    EXPECT_FALSE(Decode(b, &got, &error));
    b = good;
    imagetest::Put32(&b, 18, 16385);  // over the side limit
    EXPECT_FALSE(Decode(b, &got, &error));
    EXPECT_NE(error.find("limit"), std::string::npos) << error;
    b = good;
    imagetest::Put32(&b, 22, 0x80000000u);  // the most negative height
    EXPECT_FALSE(Decode(b, &got, &error));
    b = good;
    imagetest::Put32(&b, 14, 0x7FFFFFFF);  // absurd info header size
    EXPECT_FALSE(Decode(b, &got, &error));
    b = good;
    imagetest::Put16(&b, 28, 7);  // unsupported depth
    EXPECT_FALSE(Decode(b, &got, &error));
    // A palette that declares more colours than the file holds is cut to
    // what is there; indices beyond it read as black.
    Bytes pal = imagetest::MakeBmp(Few(4, 4, 2), 8, false);
    imagetest::Put32(&pal, 46, 0xFFFFFFFF);
    EXPECT_TRUE(Decode(pal, &got, &error)) << error;
}

TEST(ImageBmp, RefusesHugeRunLengthImagesFromTinyFiles) {
    const std::vector<uint32_t> palette = {0xFF000000};
    const Bytes runs = {0, 1};
    Image got;
    std::string error;
    EXPECT_FALSE(Decode(imagetest::MakeBmpRle(16384, 16384, palette, runs, false), &got, &error));
    EXPECT_NE(error.find("cannot come from"), std::string::npos) << error;
}

TEST(ImageTga, ReadsEveryDepthRawAndPacked) {
    const Image colour = imagetest::Pattern(9, 6, true);
    for (bool rle : {false, true}) {
        for (bool topDown : {false, true}) {
            Image got;
            std::string error;
            ASSERT_TRUE(Decode(imagetest::MakeTga(colour, 32, rle, topDown), &got, &error)) << error;
            ExpectNear(got, colour, 0, true);
            ASSERT_TRUE(Decode(imagetest::MakeTga(colour, 24, rle, topDown), &got, &error)) << error;
            ExpectNear(got, Opaque(colour), 0, true);
            ASSERT_TRUE(Decode(imagetest::MakeTga(colour, 16, rle, topDown), &got, &error)) << error;
            // One alpha bit: alpha is 0 or 255 by the top bit.
            for (size_t i = 0; i < colour.argb.size(); ++i) {
                ASSERT_EQ(got.argb[i] >> 24, (colour.argb[i] >> 31) ? 0xFFu : 0u);
            }
            ExpectNear(got, colour, 8, false);
            const Image few = Few(9, 6, 16);
            ASSERT_TRUE(Decode(imagetest::MakeTga(few, 8, rle, topDown, true), &got, &error)) << error;
            ExpectNear(got, few, 0, true);
            ASSERT_TRUE(Decode(imagetest::MakeTga(colour, 8, rle, topDown), &got, &error)) << error;
            for (size_t i = 0; i < colour.argb.size(); ++i) {
                const uint32_t g = colour.argb[i] & 0xFF;
                ASSERT_EQ(got.argb[i], 0xFF000000u | g << 16 | g << 8 | g);
            }
        }
    }
}

TEST(ImageTga, RejectsTruncatedPackedAndHostileFiles) {
    const Image image = imagetest::Pattern(8, 8, true);
    ExpectEveryPrefixFails(imagetest::MakeTga(image, 32, false, false));
    ExpectEveryPrefixFails(imagetest::MakeTga(image, 32, true, false));
    Image got;
    std::string error;
    Bytes b = imagetest::MakeTga(image, 32, false, false);
    b[0] = 255;  // an id field that runs over the pixels
    EXPECT_FALSE(Decode(b, &got, &error));
    b = imagetest::MakeTga(Few(4, 4, 3), 8, false, false, true);
    imagetest::Put16(&b, 5, 0xFFFF);  // colour map longer than the file
    EXPECT_FALSE(Decode(b, &got, &error));
    // A run packet longer than the image is corrupt.
    Bytes packed = imagetest::MakeTga(Few(2, 2, 1), 24, true, false);
    packed.resize(18);
    packed.insert(packed.end(), {0xFF, 1, 2, 3});
    EXPECT_FALSE(Decode(packed, &got, &error));
    // A tiny packed file cannot claim a huge image.
    Bytes huge(18, 0);
    huge[2] = 10;
    imagetest::Put16(&huge, 12, 16384);
    imagetest::Put16(&huge, 14, 16384);
    huge[16] = 24;
    huge.insert(huge.end(), {0xFF, 0, 0, 0});
    EXPECT_FALSE(Decode(huge, &got, &error));
    EXPECT_NE(error.find("cannot come from"), std::string::npos) << error;
}

TEST(ImagePpm, ReadsTextAndBinaryColourAndGrey) {
    const Image want = Opaque(imagetest::Pattern(5, 4, false));
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakePpm(want, true, false, 255), &got, &error)) << error;
    ExpectNear(got, want, 0, true);
    ASSERT_TRUE(Decode(imagetest::MakePpm(want, false, false, 255), &got, &error)) << error;
    ExpectNear(got, want, 0, true);
    ASSERT_TRUE(Decode(imagetest::MakePpm(want, true, false, 65535), &got, &error)) << error;
    ExpectNear(got, want, 0, true);
    ASSERT_TRUE(Decode(imagetest::MakePpm(want, false, false, 15), &got, &error)) << error;
    ExpectNear(got, want, 9, true);
    ASSERT_TRUE(Decode(imagetest::MakePpm(want, true, true, 255), &got, &error)) << error;
    for (size_t i = 0; i < want.argb.size(); ++i) {
        const uint32_t g = want.argb[i] & 0xFF;
        ASSERT_EQ(got.argb[i], 0xFF000000u | g << 16 | g << 8 | g);
    }
}

TEST(ImagePpm, RejectsTruncatedAndMalformedFiles) {
    ExpectEveryPrefixFails(imagetest::MakePpm(imagetest::Pattern(6, 5, false), true, false, 255));
    Image got;
    std::string error;
    for (const char* text : {"P6\n4 4\n0\n", "P6\n4 4\n70000\n", "P6\n99999 4\n255\n", "P6 -4 4 255\n",
                             "P3\n2 1\n255\n1 2 3 4 5", "P3\n2 1\n255\n1 2 3 4 5 x", "P6\n1234567890 1\n255\n"}) {
        Bytes b(text, text + strlen(text));
        EXPECT_FALSE(Decode(b, &got, &error)) << text;
    }
    // Samples above the maximum are clamped rather than overflowing.
    const char* high = "P3 1 1 10 20 5 10";
    Bytes b(high, high + strlen(high));
    ASSERT_TRUE(Decode(b, &got, &error)) << error;
    EXPECT_EQ(got.argb[0], 0xFFFF80FFu);
}

TEST(ImageDds, ReadsUncompressedFormats) {
    const Image source = imagetest::Pattern(7, 3, true);
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakeDds(source, 32), &got, &error)) << error;
    ExpectNear(got, source, 0, true);
    ASSERT_TRUE(Decode(imagetest::MakeDds(source, 24), &got, &error)) << error;
    ExpectNear(got, Opaque(source), 0, true);
    ASSERT_TRUE(Decode(imagetest::MakeDds(source, 16), &got, &error)) << error;
    ExpectNear(got, Opaque(source), 8, true);
}

TEST(ImageDds, DecodesBlockCompression) {
    Image got;
    std::string error;
    // DXT1, four colours: red and blue ends, indices 0, 1, 2, 3 in the first row.
    const Bytes dxt1 = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0};
    ASSERT_TRUE(Decode(imagetest::MakeDdsBlocks(4, 4, "DXT1", dxt1), &got, &error)) << error;
    EXPECT_EQ(got.argb[0], 0xFFFF0000u);
    EXPECT_EQ(got.argb[1], 0xFF0000FFu);
    EXPECT_EQ(got.argb[2], 0xFFAA0055u);
    EXPECT_EQ(got.argb[3], 0xFF5500AAu);
    EXPECT_EQ(got.argb[4], 0xFFFF0000u);
    // Three colours and transparent black when the first colour is not larger.
    const Bytes dxt1b = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    ASSERT_TRUE(Decode(imagetest::MakeDdsBlocks(3, 2, "DXT1", dxt1b), &got, &error)) << error;
    ASSERT_EQ(got.argb.size(), 6u);  // a partial block is cut to the image
    EXPECT_EQ(got.argb[2], 0xFF7F007Fu);
    // DXT3: explicit four-bit alpha.
    // Alpha words, then the colour block.
    const Bytes dxt3 = {0x10, 0x32, 0, 0, 0, 0, 0, 0xF0, 0xE0, 0x07, 0xE0, 0x07, 0, 0, 0, 0};
    ASSERT_TRUE(Decode(imagetest::MakeDdsBlocks(4, 4, "DXT3", dxt3), &got, &error)) << error;
    EXPECT_EQ(got.argb[0], 0x0000FF00u);
    EXPECT_EQ(got.argb[1], 0x1100FF00u);
    EXPECT_EQ(got.argb[15], 0xFF00FF00u);
    // DXT5: alpha 255 to 0 in eight steps; index 1 is the second end.
    // Alpha block (pixel 0: index 0, pixel 1: index 1), then the colour block.
    const Bytes dxt5 = {0xFF, 0x00, 0x08, 0, 0, 0, 0, 0, 0x1F, 0x00, 0x1F, 0x00, 0, 0, 0, 0};
    ASSERT_TRUE(Decode(imagetest::MakeDdsBlocks(4, 4, "DXT5", dxt5), &got, &error)) << error;
    EXPECT_EQ(got.argb[0], 0xFF0000FFu);
    EXPECT_EQ(got.argb[1], 0x000000FFu);
    EXPECT_EQ(got.argb[2], 0xFF0000FFu);
}

TEST(ImageDds, RejectsTruncatedAndUnknownFiles) {
    ExpectEveryPrefixFails(imagetest::MakeDds(imagetest::Pattern(5, 5, true), 32));
    ExpectEveryPrefixFails(imagetest::MakeDdsBlocks(8, 8, "DXT5", Bytes(64, 0x55)));
    Image got;
    std::string error;
    EXPECT_FALSE(Decode(imagetest::MakeDdsBlocks(4, 4, "ATI2", Bytes(16, 0)), &got, &error));
    Bytes b = imagetest::MakeDds(imagetest::Pattern(5, 5, true), 32);
    imagetest::Put32(&b, 12, 0x40000000);  // height
    EXPECT_FALSE(Decode(b, &got, &error));
    b = imagetest::MakeDds(imagetest::Pattern(5, 5, true), 32);
    imagetest::Put32(&b, 88, 12);  // 12 bits per pixel
    EXPECT_FALSE(Decode(b, &got, &error));
}

TEST(ImagePng, RoundTripsColourAlphaAndGrey) {
    const Image source = imagetest::Pattern(11, 7, true);
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakePng(source, 4), &got, &error)) << error;
    ExpectNear(got, source, 0, true);
    ASSERT_TRUE(Decode(imagetest::MakePng(source, 3), &got, &error)) << error;
    ExpectNear(got, Opaque(source), 0, true);
    ASSERT_TRUE(Decode(imagetest::MakePng(source, 1), &got, &error)) << error;
    for (size_t i = 0; i < source.argb.size(); ++i) {
        const uint32_t g = source.argb[i] & 0xFF;
        ASSERT_EQ(got.argb[i], 0xFF000000u | g << 16 | g << 8 | g);
    }
    platform::ImageInfo info;
    const Bytes png = imagetest::MakePng(source, 4);
    ASSERT_TRUE(platform::GetImageInfoMemory(png.data(), png.size(), &info, &error));
    EXPECT_EQ(info.format, platform::ImageFileFormat::Png);
    EXPECT_EQ(info.width, 11);
    EXPECT_EQ(info.height, 7);
    EXPECT_TRUE(info.hasAlpha);
}

TEST(ImagePng, ExpandsPalettesWithTransparencyAndInterlacing) {
    const Image few = Few(13, 11, 9);
    for (bool interlaced : {false, true}) {
        Image got;
        std::string error;
        ASSERT_TRUE(Decode(imagetest::MakePngPalette(few, interlaced), &got, &error)) << error;
        ASSERT_EQ(got.argb.size(), few.argb.size());
        // The first palette entry is fully transparent, the rest opaque.
        const uint32_t first = few.argb[0] | 0xFF000000u;
        for (size_t i = 0; i < few.argb.size(); ++i) {
            const uint32_t want = few.argb[i] == first ? few.argb[i] & 0x00FFFFFFu : few.argb[i];
            ASSERT_EQ(got.argb[i], want) << "interlaced " << interlaced << " pixel " << i;
        }
    }
}

static void SetPngSize(Bytes* png, uint32_t width, uint32_t height) {
    // IHDR data starts at byte 16; its CRC covers the type and data.
    for (int i = 0; i < 4; ++i) {
        (*png)[16 + i] = uint8_t(width >> (24 - 8 * i));
        (*png)[20 + i] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(crc32(0, png->data() + 12, 17));
    for (int i = 0; i < 4; ++i) {
        (*png)[29 + i] = uint8_t(crc >> (24 - 8 * i));
    }
}

TEST(ImagePng, RejectsTruncatedCorruptAndOversizedFiles) {
    const Bytes good = imagetest::MakePng(imagetest::Pattern(16, 16, true), 4);
    // A file cut after its pixel data still gives its picture: the final
    // chunk (12 bytes) may be missing.
    ExpectEveryPrefixFails(good, 12);
    Image got;
    std::string error;
    Bytes b = good;
    b[40] ^= 0xFF;  // inside the compressed pixels: the CRC no longer matches
    EXPECT_FALSE(Decode(b, &got, &error));
    EXPECT_TRUE(got.argb.empty());
    b = good;
    SetPngSize(&b, 16385, 16);
    EXPECT_FALSE(Decode(b, &got, &error));
    b = good;
    SetPngSize(&b, 16384, 16384);
    EXPECT_FALSE(Decode(b, &got, &error));
    EXPECT_NE(error.find("cannot come from"), std::string::npos) << error;
}

TEST(ImageJpeg, DecodesColourGreyAndProgressive) {
    const Image source = Opaque(imagetest::Pattern(32, 24, false));
    Image smooth = source;
    // JPEG is lossy: compare on a smooth picture with a loose bound.
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 32; ++x) {
            const uint32_t v = uint32_t(x * 8);
            smooth.argb[size_t(y) * 32 + x] = 0xFF000000u | v << 16 | uint32_t(y * 10) << 8 | 0x40;
        }
    }
    Image got;
    std::string error;
    ASSERT_TRUE(Decode(imagetest::MakeJpeg(smooth, 95, false), &got, &error)) << error;
    ExpectNear(got, smooth, 12, true);
    ASSERT_TRUE(Decode(imagetest::MakeJpeg(smooth, 95, false, true), &got, &error)) << error;
    ExpectNear(got, smooth, 12, true);
    ASSERT_TRUE(Decode(imagetest::MakeJpeg(smooth, 95, true), &got, &error)) << error;
    for (uint32_t c : got.argb) {
        ASSERT_EQ((c >> 16) & 0xFF, c & 0xFF);
        ASSERT_EQ(c >> 24, 0xFFu);
    }
}

TEST(ImageJpeg, RejectsTruncatedAndOversizedFiles) {
    const Bytes good = imagetest::MakeJpeg(imagetest::Pattern(24, 16, false), 80, false);
    ExpectEveryPrefixFails(good);
    // The frame header (SOF0) declares 16384 x 16384 in a file of a few
    // hundred bytes.
    Bytes b = good;
    for (size_t i = 2; i + 9 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = 0x40;
            b[i + 6] = 0x00;
            b[i + 7] = 0x40;
            b[i + 8] = 0x00;
            break;
        }
    }
    Image got;
    std::string error;
    EXPECT_FALSE(Decode(b, &got, &error));
    EXPECT_NE(error.find("cannot come from"), std::string::npos) << error;
}

TEST(Image, ChoosesTheFormatByContentAndReportsFailures) {
    const Image source = imagetest::Pattern(4, 3, true);
    const std::string path = ::testing::TempDir() + "image_test_named.bmp";
    const Bytes png = imagetest::MakePng(source, 4);
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
    Image got;
    std::string error;
    ASSERT_TRUE(platform::DecodeImageFile(path.c_str(), &got, &error)) << error;
    ExpectNear(got, source, 0, true);
    platform::ImageInfo info;
    ASSERT_TRUE(platform::GetImageInfoFile(path.c_str(), &info, &error));
    EXPECT_EQ(info.format, platform::ImageFileFormat::Png);
    remove(path.c_str());

    EXPECT_FALSE(platform::DecodeImageFile(path.c_str(), &got, &error));
    EXPECT_TRUE(got.argb.empty());
    EXPECT_FALSE(error.empty());
    const Bytes junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(Decode(junk, &got, &error));
    EXPECT_FALSE(platform::DecodeImageMemory(nullptr, 0, &got, &error));
    EXPECT_FALSE(platform::DecodeImageMemory(png.data(), png.size(), nullptr, &error));
    // A directory where a file is expected is named as one.
    EXPECT_FALSE(platform::DecodeImageFile(::testing::TempDir().c_str(), &got, &error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    EXPECT_FALSE(platform::GetImageInfoFile(::testing::TempDir().c_str(), &info, &error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    // A FIFO would hold the reader until a writer came.
    const std::string fifo = ::testing::TempDir() + "image_test_fifo.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::DecodeImageFile(fifo.c_str(), &got, &error));
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
    remove(fifo.c_str());
}

TEST(Image, WritesTwentyFourBitBitmapsThatReadBack) {
    const Image source = imagetest::Pattern(5, 3, true);
    // A pitch wider than the row, as a locked surface has.
    std::vector<uint32_t> padded(8 * 3, 0xDEADBEEF);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            padded[size_t(y) * 8 + x] = source.argb[size_t(y) * 5 + x];
        }
    }
    const std::string path = ::testing::TempDir() + "image_test_shot.bmp";
    std::string error;
    ASSERT_TRUE(platform::WriteBmp24(path.c_str(), padded.data(), 5, 3, 32, &error)) << error;
    Image got;
    ASSERT_TRUE(platform::DecodeImageFile(path.c_str(), &got, &error)) << error;
    ExpectNear(got, Opaque(source), 0, true);
    platform::ImageInfo info;
    ASSERT_TRUE(platform::GetImageInfoFile(path.c_str(), &info, &error));
    EXPECT_EQ(info.bitsPerPixel, 24);
    remove(path.c_str());
    EXPECT_FALSE(platform::WriteBmp24(path.c_str(), padded.data(), 5, 3, 8, &error));  // pitch too small
    EXPECT_FALSE(platform::WriteBmp24("/nonexistent-folder/x.bmp", padded.data(), 5, 3, 32, &error));
}
