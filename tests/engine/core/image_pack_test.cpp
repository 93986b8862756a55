#include "engine/core/image_pack.h"
#include "engine/core/debug.h"
#include "tests/engine/headless_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>

namespace {

using Bytes = std::vector<uint8_t>;

platform::Image MakeImage(int width, int height, uint32_t seed) {
    platform::Image image;
    image.width = width;
    image.height = height;
    std::mt19937 random(seed);
    for (int i = 0; i < width * height; ++i) {
        // Runs of equal pixels so that packing has something to find.
        image.argb.push_back((i / 3) % 5 == 0 ? 0xFF102030u : uint32_t(random()));
    }
    return image;
}

// What a pixel becomes after a trip through a stored format.
uint32_t Quantize(uint32_t c, uint8_t format) {
    const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    switch (format & 3) {
    case 0: return c;
    case 1: return c | 0xFF000000u;
    case 2: {
        const uint32_t r5 = r >> 3, g6 = g >> 2, b5 = b >> 3;
        return 0xFF000000u | ((r5 << 3 | r5 >> 2) << 16) | ((g6 << 2 | g6 >> 4) << 8) | (b5 << 3 | b5 >> 2);
    }
    default: {
        auto q = [](uint32_t v) { return ((v + 8) / 17) * 17; };
        return q(a) << 24 | q(r) << 16 | q(g) << 8 | q(b);
    }
    }
}

Bytes BuildPack(const std::vector<OrvaImagePackSource>& sources) {
    Bytes bytes;
    EXPECT_TRUE(OrvaImagePack::Build(sources, &bytes));
    return bytes;
}

void Put32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        (*b)[at + i] = uint8_t(v >> (8 * i));
    }
}

bool Load(const Bytes& pack, const char* name, platform::Image* out) {
    return OrvaImagePack::LoadEntryFromMemory(pack.data(), pack.size(), name, out);
}

}  // namespace

TEST(OrvaImagePack, RoundTripsEveryPixelFormat) {
    std::vector<platform::Image> images;
    std::vector<OrvaImagePackSource> sources;
    for (uint8_t format = 0; format < 8; ++format) {
        images.push_back(MakeImage(13 + format, 7, format));
    }
    for (uint8_t format = 0; format < 8; ++format) {
        sources.push_back({"img" + std::to_string(format), &images[format], format});
    }
    const Bytes pack = BuildPack(sources);
    for (uint8_t format = 0; format < 8; ++format) {
        platform::Image got;
        ASSERT_TRUE(Load(pack, ("img" + std::to_string(format)).c_str(), &got)) << int(format);
        ASSERT_EQ(got.width, images[format].width);
        ASSERT_EQ(got.height, 7);
        for (size_t i = 0; i < got.argb.size(); ++i) {
            ASSERT_EQ(got.argb[i], Quantize(images[format].argb[i], format)) << int(format) << " pixel " << i;
        }
    }
    std::vector<OrvaImagePackEntry> entries;
    ASSERT_TRUE(OrvaImagePack::ReadDirectoryFromMemory(pack.data(), pack.size(), &entries));
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[5].name, "img5");
    EXPECT_EQ(entries[5].format, 5);
    EXPECT_EQ(entries[5].width, 18);
    EXPECT_EQ(entries[0].size, 13u * 7u * 4u);
    EXPECT_EQ(entries[1].size, 14u * 7u * 3u);
    EXPECT_EQ(entries[0].offset, 8u + 8u * 32u);
}

TEST(OrvaImagePack, PackedFormatsShrinkRepetitiveImages) {
    platform::Image flat;
    flat.width = 64;
    flat.height = 64;
    flat.argb.assign(64 * 64, 0xFF336699u);
    const Bytes pack = BuildPack({{"raw", &flat, 0}, {"packed", &flat, 4}});
    std::vector<OrvaImagePackEntry> entries;
    ASSERT_TRUE(OrvaImagePack::ReadDirectoryFromMemory(pack.data(), pack.size(), &entries));
    EXPECT_LT(entries[1].size * 6, entries[0].size);
    platform::Image got;
    ASSERT_TRUE(Load(pack, "packed", &got));
    EXPECT_EQ(got.argb, flat.argb);
}

TEST(OrvaImagePack, LoadsFromAFileNamedTheEngineWay) {
    const platform::Image image = MakeImage(4, 4, 9);
    const std::string folder = ::testing::TempDir() + "oag_test_dir";
    mkdir(folder.c_str(), 0755);
    const std::string hostPath = folder + "/stg.oag";
    ASSERT_TRUE(OrvaImagePack::Write(hostPath.c_str(), {{"Title_BG", &image, 6}}));
    // Backslashes between folders, as the game names its files.
    const std::string engineName = ::testing::TempDir() + "oag_test_dir\\stg.oag";
    platform::Image got;
    ASSERT_TRUE(OrvaImagePack::LoadEntry(engineName.c_str(), "title_bg", &got));
    EXPECT_EQ(got.width, 4);
    for (size_t i = 0; i < got.argb.size(); ++i) {
        EXPECT_EQ(got.argb[i], Quantize(image.argb[i], 2));
    }
    std::vector<OrvaImagePackEntry> entries;
    ASSERT_TRUE(OrvaImagePack::ReadDirectory(engineName.c_str(), &entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(OrvaImagePack::LoadEntry(engineName.c_str(), "missing", &got));
    EXPECT_TRUE(got.argb.empty());
    EXPECT_FALSE(OrvaImagePack::LoadEntry((folder + "/none.oag").c_str(), "title_bg", &got));
    EXPECT_FALSE(OrvaImagePack::LoadEntry(nullptr, "title_bg", &got));
    EXPECT_FALSE(OrvaImagePack::LoadEntry(engineName.c_str(), nullptr, &got));
    // A folder is named as one.
    const std::string logPath = ::testing::TempDir() + "oag_test_folder.log";
    std::remove(logPath.c_str());
    OrvaDebug::SetLogPath(logPath.c_str());
    EXPECT_FALSE(OrvaImagePack::ReadDirectory(folder.c_str(), &entries));
    OrvaDebug::SetLogPath(nullptr);
    EXPECT_NE(orvatest::ReadFile(logPath).find("] はフォルダです"), std::string::npos) << orvatest::ReadFile(logPath);
    EXPECT_TRUE(entries.empty());
    remove(hostPath.c_str());
    rmdir(folder.c_str());
}

TEST(OrvaImagePack, MatchesNamesByShiftJisBytesFoldingOnlyAscii) {
    const platform::Image a = MakeImage(1, 1, 1), b = MakeImage(1, 1, 2), c = MakeImage(2, 1, 3);
    // "\x83\x41" is ア and "\x83\x61" is ツ: a second byte that looks like
    // "A" or "a" must not be folded.
    const Bytes pack = BuildPack({{"\x83\x41" "bc", &a, 0}, {"\x83\x61" "BC", &b, 0},
                                  {"sixteen_bytes_xx", &c, 0}});
    platform::Image got;
    ASSERT_TRUE(Load(pack, "\x83\x41" "BC", &got));
    EXPECT_EQ(got.argb, a.argb);
    ASSERT_TRUE(Load(pack, "\x83\x61" "bc", &got));
    EXPECT_EQ(got.argb, b.argb);
    ASSERT_TRUE(Load(pack, "SIXTEEN_BYTES_XX", &got));
    EXPECT_EQ(got.width, 2);
    EXPECT_FALSE(Load(pack, "sixteen_bytes_xxy", &got));
    EXPECT_FALSE(Load(pack, "sixteen_bytes_x", &got));
    EXPECT_FALSE(Load(pack, "\x83\x41" "b", &got));
    EXPECT_FALSE(Load(pack, "", &got));
    EXPECT_TRUE(OrvaImagePack::NameMatches("abc", "ABC\0\0", 5));
    EXPECT_FALSE(OrvaImagePack::NameMatches("\x83", "\x83\x41", 2));
}

TEST(OrvaImagePack, WriterRefusesWhatTheLayoutCannotHold) {
    const platform::Image image = MakeImage(2, 2, 4);
    Bytes out;
    EXPECT_FALSE(OrvaImagePack::Build({{"a_name_of_17_byte", &image, 0}}, &out));
    EXPECT_FALSE(OrvaImagePack::Build({{"", &image, 0}}, &out));
    EXPECT_FALSE(OrvaImagePack::Build({{"x", &image, 8}}, &out));
    EXPECT_FALSE(OrvaImagePack::Build({{"x", nullptr, 0}}, &out));
    platform::Image broken = image;
    broken.argb.pop_back();
    EXPECT_FALSE(OrvaImagePack::Build({{"x", &broken, 0}}, &out));
    EXPECT_TRUE(out.empty());
    // Two entries of one name (as names are looked up: ASCII case folded)
    // would leave the second unreachable.
    EXPECT_FALSE(OrvaImagePack::Build({{"Boss", &image, 0}, {"other", &image, 0}, {"bOSS", &image, 1}}, &out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(OrvaImagePack::Build({{"\x83\x41", &image, 0}, {"\x83\x61", &image, 0}}, &out));
}

TEST(OrvaImagePack, RejectsCorruptHeadersAndRecords) {
    const platform::Image image = MakeImage(3, 3, 5);
    const Bytes good = BuildPack({{"a", &image, 0}, {"b", &image, 4}});
    platform::Image got;
    ASSERT_TRUE(Load(good, "b", &got));
    for (size_t n = 0; n < 8 + 64; ++n) {
        // Anything cut inside the header or record table is refused.
        Bytes cut(good.begin(), good.begin() + long(n));
        EXPECT_FALSE(Load(cut, "a", &got)) << n;
    }
    Bytes b = good;
    b[0] = 'X';
    EXPECT_FALSE(Load(b, "a", &got));
    b = good;
    Put32(&b, 4, 3);  // a third record that would overlap the data
    EXPECT_TRUE(Load(b, "a", &got)) << "the table still fits in the file";
    Put32(&b, 4, 0x08000000);
    EXPECT_FALSE(Load(b, "a", &got));
    Put32(&b, 4, 0xFFFFFFFF);
    EXPECT_FALSE(Load(b, "a", &got));

    struct Patch {
        size_t at;
        uint32_t value;
        int bytes;
    };
    const size_t rec = 8;  // first record
    for (const Patch& p : {Patch{rec + 16, uint32_t(good.size()), 4},   // offset at the end
                           Patch{rec + 16, 0xFFFFFFF0u, 4},             // offset wraps
                           Patch{rec + 20, 0xFFFFFFFFu, 4},             // size past the end
                           Patch{rec + 20, 3 * 3 * 4 - 1, 4},           // one byte short
                           Patch{rec + 24, 0, 2},                       // width 0
                           Patch{rec + 26, 16385, 2},                   // height over the limit
                           Patch{rec + 28, 8, 1}}) {                    // format 8
        b = good;
        for (int i = 0; i < p.bytes; ++i) {
            b[p.at + i] = uint8_t(p.value >> (8 * i));
        }
        EXPECT_FALSE(Load(b, "a", &got)) << "patch at " << p.at;
        EXPECT_TRUE(got.argb.empty());
    }
    // A bad record elsewhere does not stop a lookup of a good one, but a
    // directory listing checks them all.
    b = good;
    b[rec + 32 + 28] = 9;
    EXPECT_TRUE(Load(b, "a", &got));
    std::vector<OrvaImagePackEntry> entries;
    EXPECT_FALSE(OrvaImagePack::ReadDirectoryFromMemory(b.data(), b.size(), &entries));
    EXPECT_TRUE(entries.empty());
}

TEST(OrvaImagePack, LzssFollowsTheDocumentedStream) {
    // Flag 0b011: two literals, then a match of 3 from ring position 4078
    // (where the first byte went), overlapping what it writes.
    const Bytes stream = {0x03, 'A', 'B', 0xEE, 0xF0};
    uint8_t out[5] = {0};
    ASSERT_TRUE(OrvaImagePack::LzssDecode(stream.data(), stream.size(), out, sizeof(out)));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "ABABA");
    // The window starts as zeros: a match at position 0 of length 18.
    const Bytes zeros = {0x00, 0x00, 0x0F};
    uint8_t z[18];
    memset(z, 0xAA, sizeof(z));
    ASSERT_TRUE(OrvaImagePack::LzssDecode(zeros.data(), zeros.size(), z, sizeof(z)));
    for (uint8_t v : z) {
        EXPECT_EQ(v, 0);
    }
}

TEST(OrvaImagePack, LzssRoundTripsAndNeverOverrunsOnBadStreams) {
    std::mt19937 random(7);
    for (size_t size : {0u, 1u, 17u, 18u, 19u, 4095u, 4096u, 4097u, 20000u}) {
        Bytes data(size);
        for (size_t i = 0; i < size; ++i) {
            data[i] = (i / 50) % 2 ? uint8_t(random()) : uint8_t(i % 7);
        }
        Bytes packed;
        ASSERT_TRUE(OrvaImagePack::LzssEncode(data.data(), data.size(), &packed));
        Bytes back(size + 1, 0x5A);
        ASSERT_TRUE(OrvaImagePack::LzssDecode(packed.data(), packed.size(), back.data(), size)) << size;
        EXPECT_EQ(back[size], 0x5A) << "wrote past the output";
        back.pop_back();
        EXPECT_EQ(back, data);
        // Every shorter stream fails instead of reading past its end.
        for (size_t n = 0; n < packed.size() && size > 0; n += 1 + n / 16) {
            Bytes cut(packed.begin(), packed.begin() + long(n));
            Bytes sink(size);
            EXPECT_FALSE(OrvaImagePack::LzssDecode(cut.data(), cut.size(), sink.data(), size)) << n;
        }
    }
    // A match longer than the space left is corrupt, not a write past the end.
    const Bytes longMatch = {0x00, 0x00, 0x0F};
    uint8_t small[4];
    EXPECT_FALSE(OrvaImagePack::LzssDecode(longMatch.data(), longMatch.size(), small, sizeof(small)));
}

TEST(OrvaImagePack, RefusesPackedBombsBeforeAllocating) {
    // 16384 x 16384 pixels of format 4 (1 GiB unpacked) from 18 stored bytes.
    Bytes b(8 + 32, 0);
    memcpy(b.data(), "OAG", 4);
    Put32(&b, 4, 1);
    b[8] = 'x';
    Put32(&b, 8 + 16, 40);
    Put32(&b, 8 + 20, 18);
    b[8 + 24] = 0x00;
    b[8 + 25] = 0x40;
    b[8 + 26] = 0x00;
    b[8 + 27] = 0x40;
    b[8 + 28] = 4;
    for (int i = 0; i < 6; ++i) {
        b.insert(b.end(), {0x00, 0x00, 0x0F});
    }
    platform::Image got;
    EXPECT_FALSE(Load(b, "x", &got));
    // Within the ratio but the stream runs dry: refused after decoding.
    b[8 + 24] = 8;
    b[8 + 25] = 0;
    b[8 + 26] = 4;
    b[8 + 27] = 0;
    EXPECT_FALSE(Load(b, "x", &got));
    EXPECT_TRUE(got.argb.empty());
}
