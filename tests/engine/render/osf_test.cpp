#include "engine/render/osf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/render/osf_test_data.h"

namespace {

using osftest::Bytes;
using osftest::Demo;
using osftest::PutI32;

// Offsets in the demo file.
constexpr size_t kSquareLayer = 8 + 68;                              // its layer header
constexpr size_t kSquareSurfaces = kSquareLayer + 36 + 4 * 24 + 6 * 2;
constexpr size_t kPairModel = kSquareSurfaces + 3 * 72;
constexpr size_t kPairLayer0 = kPairModel + 68;
constexpr size_t kPairLayer1 = kPairLayer0 + 36 + 4 * 24 + 6 * 2 + 72;
constexpr size_t kSceneHeader = kPairLayer1 + 36 + 4 * 24 + 6 * 2;
constexpr size_t kSceneRecord = kSceneHeader + 16;
constexpr size_t kCamera = kSceneRecord + 96;
constexpr size_t kFirstItem = kCamera + 92 + 9 * 12 + 36;            // the camera has one key

void ExpectSameKeys(const OrvaOsf::Item& a, const OrvaOsf::Item& b)
{
    for (size_t c = 0; c < 9; ++c) {
        ASSERT_EQ(a.channels[c].keys.size(), b.channels[c].keys.size());
        if (!a.channels[c].keys.empty()) {
            EXPECT_EQ(std::memcmp(a.channels[c].keys.data(), b.channels[c].keys.data(), a.channels[c].keys.size() * 36),
                      0);
        }
        EXPECT_EQ(a.channels[c].header.preBehavior, b.channels[c].header.preBehavior);
        EXPECT_EQ(a.channels[c].header.postBehavior, b.channels[c].header.postBehavior);
    }
}

TEST(OrvaOsf, RecordsAreLaidOutAsInTheFile)
{
    const std::vector<uint8_t> bytes = Bytes(Demo());
    ASSERT_EQ(bytes.size(), kFirstItem + 3 * (92 + 9 * 12));
    EXPECT_EQ(std::memcmp(bytes.data(), "OMD\0", 4), 0);
    int32_t v = 0;
    std::memcpy(&v, bytes.data() + 4, 4);
    EXPECT_EQ(v, 2);                                                  // models
    std::memcpy(&v, bytes.data() + 8 + 64, 4);
    EXPECT_EQ(v, 1);                                                  // layers of "square"
    std::memcpy(&v, bytes.data() + kSquareLayer + 24, 4);
    EXPECT_EQ(v, 6);                                                  // indices
    std::memcpy(&v, bytes.data() + kSquareLayer + 28, 4);
    EXPECT_EQ(v, 4);                                                  // vertices
    std::memcpy(&v, bytes.data() + kSquareLayer + 32, 4);
    EXPECT_EQ(v, 3);                                                  // surfaces
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + kSquareSurfaces), "wall");
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + kPairModel), "pair");
    EXPECT_EQ(std::memcmp(bytes.data() + kSceneHeader, "OSD\0\0\0\1\0", 8), 0);
    std::memcpy(&v, bytes.data() + kSceneRecord + 80, 4);
    EXPECT_EQ(v, 3);                                                  // items after the camera
    float f = 0.0f;
    std::memcpy(&f, bytes.data() + kSceneRecord + 92, 4);
    EXPECT_EQ(f, 1.0f);                                               // field of view B
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + kCamera + 4), "Camera");
    std::memcpy(&v, bytes.data() + kFirstItem + 88, 4);
    EXPECT_EQ(v, -1);                                                 // ParentNo of "square"
}

TEST(OrvaOsf, RoundTrip)
{
    const OrvaOsf demo = Demo();
    const std::vector<uint8_t> bytes = Bytes(demo);
    OrvaOsf read;
    ASSERT_EQ(read.Parse(bytes.data(), bytes.size()), OrvaOsfStatus::Complete);
    ASSERT_EQ(read.models.size(), 2u);
    ASSERT_EQ(read.models[1].layers.size(), 2u);
    const OrvaOsf::Layer& layer = read.models[0].layers[0];
    ASSERT_EQ(layer.vertices.size(), 4u);
    EXPECT_EQ(layer.vertices[2].x, 1.0f);
    EXPECT_EQ(layer.vertices[2].color, 0xFF20C040u);
    EXPECT_EQ(layer.indices, demo.models[0].layers[0].indices);
    ASSERT_EQ(layer.surfaces.size(), 3u);
    EXPECT_EQ(layer.surfaces[2].firstIndex, 3);
    EXPECT_STREQ(read.scene.name, "demo");
    EXPECT_EQ(read.scene.frameParameterB, 9);
    ASSERT_TRUE(read.hasCamera);
    EXPECT_EQ(read.camera.channelsRead, 9);
    ExpectSameKeys(read.camera, demo.camera);
    ASSERT_EQ(read.items.size(), 3u);
    EXPECT_EQ(read.items[2].record.parentItem, 3);
    EXPECT_EQ(Bytes(read), bytes);
}

TEST(OrvaOsf, WrongMagicsAndVersion)
{
    std::vector<uint8_t> bytes = Bytes(Demo());
    OrvaOsf read;
    std::vector<uint8_t> bad = bytes;
    bad[3] = 'X';   // "OMD" without its zero byte
    EXPECT_EQ(read.Parse(bad.data(), bad.size()), OrvaOsfStatus::NotOsf);
    EXPECT_TRUE(read.models.empty());
    bad = bytes;
    bad[kSceneHeader + 1] = 'M';
    EXPECT_EQ(read.Parse(bad.data(), bad.size()), OrvaOsfStatus::NotScene);
    EXPECT_EQ(read.models.size(), 2u);   // what came before stays
    EXPECT_FALSE(read.hasScene);
    bad = bytes;
    PutI32(&bad, kSceneHeader + 4, 0x10001);
    EXPECT_EQ(read.Parse(bad.data(), bad.size()), OrvaOsfStatus::WrongVersion);
    EXPECT_EQ(read.Parse(nullptr, 0), OrvaOsfStatus::NotOsf);
}

TEST(OrvaOsf, EveryTruncationStopsCleanlyAndKeepsOnlyWholeRecords)
{
    const std::vector<uint8_t> bytes = Bytes(Demo());
    OrvaOsf read;
    for (size_t n = 0; n < bytes.size(); ++n) {
        const OrvaOsfStatus s = read.Parse(bytes.data(), n);
        ASSERT_EQ(s, n < 4 ? OrvaOsfStatus::NotOsf : OrvaOsfStatus::Truncated) << n;
        // A re-written prefix never holds more than the bytes it came from.
        ASSERT_LE(Bytes(read).size(), n < 8 ? 8 : n + 9 * 12) << n;
    }
    // Cut inside the square's indices: its layer is not kept.
    read.Parse(bytes.data(), kSquareSurfaces - 1);
    ASSERT_EQ(read.models.size(), 1u);
    EXPECT_TRUE(read.models[0].layers.empty());
    // Cut after the camera's third channel.
    read.Parse(bytes.data(), kCamera + 92 + 3 * 12 + 36);
    EXPECT_TRUE(read.hasCamera);
    EXPECT_EQ(read.camera.channelsRead, 3);
    EXPECT_TRUE(read.items.empty());
    // Cut inside the second item's record: one item.
    read.Parse(bytes.data(), kFirstItem + 92 + 9 * 12 + 50);
    EXPECT_EQ(read.items.size(), 1u);
}

TEST(OrvaOsf, HostileCountsFailWithoutAllocatingForThem)
{
    const std::vector<uint8_t> bytes = Bytes(Demo());
    OrvaOsf read;
    const size_t counts[] = {4, 8 + 64, kSquareLayer + 24, kSquareLayer + 28, kSquareLayer + 32, kSceneRecord + 80,
                             kCamera + 92};
    for (size_t at : counts) {
        for (int32_t value : {0x7FFFFFFF, 0x10000000, 0x40000000}) {
            std::vector<uint8_t> bad = bytes;
            PutI32(&bad, at, value);
            EXPECT_EQ(read.Parse(bad.data(), bad.size()), OrvaOsfStatus::Truncated) << at << " " << value;
        }
    }
}

TEST(OrvaOsf, NegativeCountsReadNothing)
{
    OrvaOsf doc = Demo();
    doc.models[1].layers[1].surfaces.clear();
    doc.items[0].channels[4].keys.clear();
    std::vector<uint8_t> bytes = Bytes(doc);
    PutI32(&bytes, kPairLayer1 + 32, -3);               // surface count
    PutI32(&bytes, kFirstItem + 92 + 4 * 12, -100);     // keys of channel 4
    OrvaOsf read;
    ASSERT_EQ(read.Parse(bytes.data(), bytes.size()), OrvaOsfStatus::Complete);
    EXPECT_TRUE(read.models[1].layers[1].surfaces.empty());
    EXPECT_TRUE(read.items[0].channels[4].keys.empty());
    EXPECT_EQ(read.items.size(), 3u);
    // A negative model count: straight to the scene.
    std::vector<uint8_t> none = {'O', 'M', 'D', 0, 0xFF, 0xFF, 0xFF, 0xFF};
    none.insert(none.end(), bytes.begin() + static_cast<long>(kSceneHeader), bytes.end());
    ASSERT_EQ(read.Parse(none.data(), none.size()), OrvaOsfStatus::Complete);
    EXPECT_TRUE(read.models.empty());
    EXPECT_EQ(read.items.size(), 3u);
}

TEST(OrvaOsf, NamesEndWithinTheirSixtyFourBytes)
{
    std::vector<uint8_t> bytes = Bytes(Demo());
    std::memset(bytes.data() + 8, 'A', 64);
    std::memset(bytes.data() + kFirstItem + 4, 'B', 64);
    OrvaOsf read;
    ASSERT_EQ(read.Parse(bytes.data(), bytes.size()), OrvaOsfStatus::Complete);
    EXPECT_EQ(std::string(read.models[0].record.name), std::string(63, 'A'));
    EXPECT_EQ(std::string(read.items[0].record.name), std::string(63, 'B'));
}

TEST(OrvaOsf, NothingAfterTheLastItemIsRead)
{
    std::vector<uint8_t> bytes = Bytes(Demo());
    bytes.resize(bytes.size() + 100, 0xEE);
    OrvaOsf read;
    ASSERT_EQ(read.Parse(bytes.data(), bytes.size()), OrvaOsfStatus::Complete);
    EXPECT_EQ(Bytes(read).size(), bytes.size() - 100);
}

}  // namespace
