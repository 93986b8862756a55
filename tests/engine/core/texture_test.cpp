#include "engine/core/texture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/image_pack.h"
#include "engine/core/surface.h"
#include "platform/image/image.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDevice(16, 12);
        OrvaTexture::Initialize();
        OrvaSurface::Initialize();
    }
    void TearDown() override
    {
        OrvaSurface::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        OrvaTexture::SetFullColor(false);
    }
};

// Fills the system copy texel by texel through the texture's format.
void Fill(OrvaTexture* t, uint32_t seed)
{
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(t->Lock(&bits, &pitch), 1);
    const int bytes = platform::FormatBytes(t->GetFormat());
    for (int y = 0; y < t->GetHeight(); ++y) {
        for (int x = 0; x < t->GetWidth(); ++x) {
            const uint32_t argb = (seed * 2654435761u) ^ static_cast<uint32_t>(x * 73 + y * 151) * 16777619u;
            platform::ArgbToFormat(t->GetFormat(), argb, static_cast<uint8_t*>(bits) + y * pitch + x * bytes);
        }
    }
    t->Unlock();
    ASSERT_TRUE(t->Update());
}

std::vector<uint8_t> DeviceBytes(OrvaTexture* t)
{
    platform::LockedRect lr;
    std::vector<uint8_t> out;
    if (t->GetDeviceTexture() == nullptr || t->GetDeviceTexture()->LockRect(0, &lr, nullptr, 0) != platform::kGfxOk) {
        return out;
    }
    const int row = t->GetWidth() * platform::FormatBytes(t->GetFormat());
    for (int y = 0; y < t->GetHeight(); ++y) {
        const uint8_t* p = static_cast<const uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch;
        out.insert(out.end(), p, p + row);
    }
    t->GetDeviceTexture()->UnlockRect(0);
    return out;
}

}  // namespace

TEST_F(TextureTest, CreateGivesSizesScalesAndFormats)
{
    OrvaTexture* a = OrvaTexture::Create(40, 20, true, nullptr);
    OrvaTexture* n = OrvaTexture::Create(8, 4, false, nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->IsValid(), 1);
    EXPECT_EQ(a->GetWidth(), 40);
    EXPECT_EQ(a->GetHeight(), 20);
    EXPECT_FLOAT_EQ(a->GetScaleU(), 1.0f / 40.0f);
    EXPECT_FLOAT_EQ(a->GetScaleV(), 1.0f / 20.0f);
    EXPECT_EQ(a->GetFormat(), static_cast<uint32_t>(platform::FormatA4R4G4B4));
    EXPECT_EQ(n->GetFormat(), static_cast<uint32_t>(platform::FormatR5G6B5));
    EXPECT_EQ(a->GetMemorySize(), 40u * 20u * 2u * 2u);
    OrvaTexture::SetFullColor(true);
    OrvaTexture* f = OrvaTexture::Create(8, 4, false, nullptr);
    EXPECT_EQ(f->GetFormat(), static_cast<uint32_t>(platform::FormatA8R8G8B8));
    EXPECT_EQ(f->GetMemorySize(), 8u * 4u * 2u * 4u);
    OrvaTexture* s = OrvaTexture::CreateScreenFormat(16, 12, nullptr);
    EXPECT_EQ(s->GetFormat(), OrvaDevice::GetDevice()->GetBackBuffer()->GetFormat());
    EXPECT_EQ(OrvaTexture::GetCount(), 4);
    s->Release();
    EXPECT_EQ(OrvaTexture::GetCount(), 3);
}

TEST_F(TextureTest, BadSizesGiveAnInvalidTextureThatFailsSafely)
{
    for (const auto& size : {std::pair<int, int>{0, 4}, {4, -1}, {5000, 4}, {4, 70000}}) {
        OrvaTexture* t = OrvaTexture::Create(size.first, size.second, true, nullptr);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->IsValid(), 0);
        void* bits = reinterpret_cast<void*>(1);
        int32_t pitch = 7;
        EXPECT_EQ(t->Lock(&bits, &pitch), 0);
        EXPECT_EQ(pitch, 7);
        EXPECT_FALSE(t->Update());
        EXPECT_EQ(t->GetMemorySize(), 0u);
        t->Unlock();
    }
    OrvaTexture* t = OrvaTexture::Create(4, 4, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    EXPECT_EQ(t->Lock(nullptr, &pitch), 0);
    EXPECT_EQ(t->Lock(&bits, nullptr), 0);
    ASSERT_EQ(t->Lock(&bits, &pitch), 1);
    EXPECT_EQ(pitch, 8);
    EXPECT_EQ(t->Lock(&bits, &pitch), 0);   // already locked
    t->Unlock();
}

TEST_F(TextureTest, LostDeviceAndResetKeepEveryTexture)
{
    OrvaTexture* t[3] = {OrvaTexture::Create(7, 5, true, nullptr), OrvaTexture::Create(16, 3, false, nullptr), nullptr};
    OrvaTexture::SetFullColor(true);
    t[2] = OrvaTexture::Create(9, 9, true, nullptr);
    std::vector<uint8_t> before[3];
    for (int i = 0; i < 3; ++i) {
        Fill(t[i], static_cast<uint32_t>(i + 1));
        before[i] = DeviceBytes(t[i]);
        ASSERT_FALSE(before[i].empty());
    }
    OrvaDevice::SetTexture(t[0], 0);
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i]->IsValid(), 1);
        EXPECT_EQ(DeviceBytes(t[i]), before[i]) << "texture " << i;
    }
    // The stage cache was emptied with the old device textures.
    EXPECT_EQ(OrvaDevice::GetTexture(0), nullptr);
}

TEST_F(TextureTest, DrawnOneToOneWithTheEngineOffsets)
{
    OrvaTexture::SetFullColor(true);
    OrvaTexture* t = OrvaTexture::Create(5, 3, true, nullptr);
    Fill(t, 9);
    std::vector<uint32_t> texels(15);
    {
        void* bits = nullptr;
        int32_t pitch = 0;
        ASSERT_EQ(t->Lock(&bits, &pitch), 1);
        for (int y = 0; y < 3; ++y) {
            std::memcpy(&texels[y * 5], static_cast<uint8_t*>(bits) + y * pitch, 20);
        }
        t->Unlock();
    }
    // The source rectangle (0, 0, 5, 3) shrunk by the texel offset and
    // scaled; the screen rectangle (6, 4, 11, 7) moved by the pixel offset.
    const float to = OrvaTexture::GetTexelOffset(), po = OrvaTexture::GetPixelOffset();
    const float u0 = (0 + to) * t->GetScaleU(), u1 = (5 - to) * t->GetScaleU();
    const float v0 = (0 + to) * t->GetScaleV(), v1 = (3 - to) * t->GetScaleV();
    const struct {
        float x, y, z, rhw;
        uint32_t c;
        float u, v;
    } q[4] = {{6 + po, 4 + po, 0, 1, 0xFFFFFFFFu, u0, v0},
              {11 + po, 4 + po, 0, 1, 0xFFFFFFFFu, u1, v0},
              {11 + po, 7 + po, 0, 1, 0xFFFFFFFFu, u1, v1},
              {6 + po, 7 + po, 0, 1, 0xFFFFFFFFu, u0, v1}};
    ASSERT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(0xFF000000u);
    OrvaDevice::SetRenderState(platform::RsZEnable, 0);
    OrvaDevice::SetBlendMode(kOrvaBlendNone);
    OrvaDevice::SetTexture(t, 0);
    OrvaDevice::GetDevice()->SetVertexShader(0x144);
    OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleFan, 2, q, sizeof(q[0]));
    OrvaDevice::EndScene();
    ASSERT_TRUE(OrvaDevice::Present());
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool in = x >= 6 && x < 11 && y >= 4 && y < 7;
            EXPECT_EQ(g_frame[y * 16 + x], in ? texels[(y - 4) * 5 + (x - 6)] : 0xFF000000u) << x << "," << y;
        }
    }
}

TEST_F(TextureTest, CopyRectFromSurfaceConvertsTheFormat)
{
    OrvaSurface* s = OrvaSurface::Create(4, 4, kOrvaSurfaceWideUse, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_TRUE(s->Lock(&bits, &pitch));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            static_cast<uint32_t*>(bits)[y * (pitch / 4) + x] = 0xFF000000u | static_cast<uint32_t>(x * 0x40) << 16 |
                                                               static_cast<uint32_t>(y * 0x40);
        }
    }
    s->Unlock();
    OrvaTexture* t = OrvaTexture::Create(4, 4, false, nullptr);   // R5G6B5
    ASSERT_TRUE(t->CopyRectFromSurface(1, 2, 2, 1, 4, 3, s));
    EXPECT_FALSE(t->CopyRectFromSurface(3, 3, 0, 0, 2, 2, s));   // leaves the texture
    EXPECT_FALSE(t->CopyRectFromSurface(0, 0, 2, 2, 5, 3, s));   // leaves the surface
    EXPECT_FALSE(t->CopyRectFromSurface(0, 0, 0, 0, 2, 2, nullptr));
    ASSERT_EQ(t->Lock(&bits, &pitch), 1);
    const uint8_t* row = static_cast<const uint8_t*>(bits) + 2 * pitch;
    // Texel (1, 2) came from surface pixel (2, 1): red 0x80, blue 0x40.
    uint8_t expected[2];
    platform::ArgbToFormat(platform::FormatR5G6B5, 0xFF800040u, expected);
    EXPECT_EQ(std::memcmp(row + 2, expected, 2), 0);
    EXPECT_EQ(row[0], 0);
    t->Unlock();
}

TEST_F(TextureTest, LoadersReturnAnInvalidTextureWhenTheImageIsMissing)
{
    OrvaTexture* f = OrvaTexture::CreateFromFile("no\\such\\file.bmp", 0, 0, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->IsValid(), 0);
    OrvaTexture* p = OrvaTexture::CreateFromPack("no_such_pack.oag", "entry", true, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->IsValid(), 0);
    EXPECT_EQ(OrvaTexture::CreateFromPack(nullptr, nullptr, true, nullptr)->IsValid(), 0);
}

TEST_F(TextureTest, LoadsFromAnArchiveAndAFile)
{
    platform::Image image;
    image.width = 3;
    image.height = 2;
    image.argb = {0xFF102030u, 0x80405060u, 0x00708090u, 0xFFFFFFFFu, 0xFF000000u, 0x11223344u};
    const std::string pack = ::testing::TempDir() + "texture_test.oag";
    ASSERT_TRUE(OrvaImagePack::Write(pack.c_str(), {{"pic", &image, 0}}));
    OrvaTexture::SetFullColor(true);
    OrvaTexture* t = OrvaTexture::CreateFromPack(pack.c_str(), "pic", true, nullptr);
    ASSERT_EQ(t->IsValid(), 1);
    EXPECT_EQ(t->GetWidth(), 3);
    EXPECT_EQ(t->GetHeight(), 2);
    EXPECT_FLOAT_EQ(t->GetScaleU(), 1.0f / 3.0f);
    const std::vector<uint8_t> bytes = DeviceBytes(t);
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_EQ(std::memcmp(bytes.data(), image.argb.data(), 24), 0);

    // A 2 x 1 24-bit BMP written by hand: blue then red.
    const std::string bmp = ::testing::TempDir() + "texture_test.bmp";
    const uint8_t file[] = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
                            1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0};
    FILE* out = std::fopen(bmp.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(file, 1, sizeof(file), out);
    std::fclose(out);
    OrvaTexture* b = OrvaTexture::CreateFromFile(bmp.c_str(), 0, 0, nullptr);
    ASSERT_EQ(b->IsValid(), 1);
    const std::vector<uint8_t> px = DeviceBytes(b);
    ASSERT_EQ(px.size(), 8u);
    uint32_t p0, p1;
    std::memcpy(&p0, px.data(), 4);
    std::memcpy(&p1, px.data() + 4, 4);
    EXPECT_EQ(p0, 0xFF0000FFu);
    EXPECT_EQ(p1, 0xFFFF0000u);
    std::remove(pack.c_str());
    std::remove(bmp.c_str());
}
