#include "engine/core/surface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/device.h"
#include "engine/core/image_pack.h"
#include "engine/core/texture.h"
#include "platform/image/image.h"

namespace {

class SurfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OrvaDevice::Configure(8, 8, true, nullptr);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        OrvaSurface::Initialize();
    }
    void TearDown() override
    {
        OrvaSurface::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
    }
};

}  // namespace

TEST_F(SurfaceTest, EmptySurfacesTakeTheirSelectorsFormat)
{
    struct Case {
        int32_t selector;
        uint32_t format;
        int32_t pitch;
    };
    const Case cases[] = {{kOrvaSurfaceBackBuffer, platform::FormatA8R8G8B8, 40},
                          {kOrvaSurfaceTexture, platform::FormatR5G6B5, 20},
                          {kOrvaSurfaceAlphaTexture, platform::FormatA4R4G4B4, 20},
                          {kOrvaSurfaceWideUse, platform::FormatA8R8G8B8, 40}};
    for (const Case& c : cases) {
        OrvaSurface* s = OrvaSurface::Create(10, 3, c.selector, nullptr);
        ASSERT_EQ(s->IsValid(), 1);
        EXPECT_EQ(s->GetWidth(), 10);
        EXPECT_EQ(s->GetHeight(), 3);
        EXPECT_EQ(s->GetFormat(), c.format) << "selector " << c.selector;
        void* bits = nullptr;
        int32_t pitch = 0;
        ASSERT_TRUE(s->Lock(&bits, &pitch));
        EXPECT_EQ(pitch, c.pitch);
        std::memset(bits, 0xAB, static_cast<size_t>(pitch) * 3);
        s->Unlock();
        s->Release();
    }
    EXPECT_EQ(OrvaSurface::GetCount(), 0);
}

TEST_F(SurfaceTest, BadArgumentsLeaveAnEmptySurface)
{
    for (const auto& c : {std::tuple<int, int, int>{0, 4, 4}, {4, -2, 4}, {5000, 4, 4}, {4, 4, 9}, {4, 4, 0}}) {
        OrvaSurface* s = OrvaSurface::Create(std::get<0>(c), std::get<1>(c), std::get<2>(c), nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->IsValid(), 0);
        EXPECT_EQ(s->GetWidth(), 0);
        EXPECT_EQ(s->GetFormat(), 0u);
        void* bits = reinterpret_cast<void*>(3);
        int32_t pitch = 5;
        EXPECT_FALSE(s->Lock(&bits, &pitch));
        EXPECT_EQ(bits, reinterpret_cast<void*>(3));
        EXPECT_EQ(pitch, 5);
        s->Unlock();
    }
    OrvaSurface* s = OrvaSurface::Create(2, 2, kOrvaSurfaceWideUse, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    EXPECT_FALSE(s->Lock(nullptr, &pitch));
    ASSERT_TRUE(s->Lock(&bits, &pitch));
    EXPECT_FALSE(s->Lock(&bits, &pitch));
    s->Unlock();
    EXPECT_TRUE(s->Lock(&bits, &pitch));
    s->Unlock();
}

TEST_F(SurfaceTest, SurvivesALostDevice)
{
    OrvaSurface* s = OrvaSurface::Create(2, 1, kOrvaSurfaceWideUse, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_TRUE(s->Lock(&bits, &pitch));
    static_cast<uint32_t*>(bits)[1] = 0x12345678u;
    s->Unlock();
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    ASSERT_TRUE(s->Lock(&bits, &pitch));
    EXPECT_EQ(static_cast<uint32_t*>(bits)[1], 0x12345678u);
    s->Unlock();
}

TEST_F(SurfaceTest, LoadsFromAnArchive)
{
    platform::Image image;
    image.width = 2;
    image.height = 2;
    image.argb = {0xFF112233u, 0xFF445566u, 0x80778899u, 0xFFAABBCCu};
    const std::string pack = ::testing::TempDir() + "surface_test.oag";
    ASSERT_TRUE(OrvaImagePack::Write(pack.c_str(), {{"bg", &image, 0}}));
    OrvaSurface* s = OrvaSurface::CreateFromPack(pack.c_str(), "bg", kOrvaSurfaceWideUse, nullptr);
    ASSERT_EQ(s->IsValid(), 1);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_TRUE(s->Lock(&bits, &pitch));
    EXPECT_EQ(static_cast<uint32_t*>(bits)[0], 0xFF112233u);
    EXPECT_EQ(static_cast<uint32_t*>(bits)[pitch / 4 + 0], 0x80778899u);
    s->Unlock();
    OrvaSurface* missing = OrvaSurface::CreateFromPack(pack.c_str(), "nothing", kOrvaSurfaceWideUse, nullptr);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->IsValid(), 0);
    OrvaSurface* noFile = OrvaSurface::CreateFromFile("missing\\image.bmp", kOrvaSurfaceWideUse, 0, nullptr);
    ASSERT_NE(noFile, nullptr);
    EXPECT_EQ(noFile->IsValid(), 0);
    std::remove(pack.c_str());
}
