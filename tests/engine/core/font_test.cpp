#include "engine/core/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "engine/core/device.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "platform/gfx/soft_device.h"
#include "platform/text/font.h"

namespace {

// "ＭＳ ゴシック" in Shift-JIS, as the game names its face.
const char* const kGothic = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";
constexpr uint16_t kBlackSquare = 0x81A1;  // ■
constexpr uint16_t kHiraganaA = 0x82A0;    // あ

struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    bool Empty() const { return right < 0; }
};

// Reads every pixel of a locked image as A8R8G8B8.
template <typename Visit>
void ForEachPixel(void* bits, int32_t pitch, int32_t width, int32_t height, uint32_t format, Visit visit) {
    const int bytes = platform::FormatBytes(format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            visit(x, y, platform::FormatToArgb(format, static_cast<uint8_t*>(bits) + y * pitch + x * bytes));
        }
    }
}

class OrvaFontTest : public ::testing::Test {
protected:
    void SetUp() override {
        OrvaDevice::Configure(64, 48, true, nullptr);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        OrvaSurface::Initialize();
        OrvaFont::Initialize();
    }
    void TearDown() override {
        OrvaFont::Destroy();
        OrvaSurface::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
    }

    // Where DrawChar(x, y) must put the glyph's ink, from the platform font.
    static Box Expected(int x, int y, uint16_t code, int height) {
        std::string error;
        auto font = platform::Font::Open("ＭＳ ゴシック", height, false, false, &error);
        EXPECT_TRUE(font) << error;
        platform::GlyphBitmap glyph;
        EXPECT_TRUE(font->GetGlyph(code, &glyph));
        Box box;
        box.left = x;
        box.top = y + font->GetMetrics().ascent - glyph.originY;
        box.right = box.left + glyph.width - 1;
        box.bottom = box.top + glyph.height - 1;
        return box;
    }

    static Box InkOf(OrvaTexture* t, uint32_t* maxAlpha = nullptr) {
        void* bits = nullptr;
        int32_t pitch = 0;
        Box box;
        EXPECT_EQ(t->Lock(&bits, &pitch), 1);
        uint32_t most = 0;
        ForEachPixel(bits, pitch, t->GetWidth(), t->GetHeight(), t->GetFormat(), [&](int x, int y, uint32_t c) {
            if (c >> 24) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
                most = std::max(most, c >> 24);
            }
        });
        t->Unlock();
        if (maxAlpha) *maxAlpha = most;
        return box;
    }
};

}  // namespace

TEST_F(OrvaFontTest, CreatesFromAShiftJisFaceName) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, true, nullptr);
    ASSERT_NE(font, nullptr);
    EXPECT_TRUE(font->IsValid());
    EXPECT_EQ(OrvaFont::GetCount(), 1);
    EXPECT_GT(font->GetAscent(), 0);
    EXPECT_GT(font->GetHeight(), font->GetAscent());
    EXPECT_EQ(font->Release(), 0);
    EXPECT_EQ(OrvaFont::GetCount(), 0);
}

TEST_F(OrvaFontTest, CharAbcNeedsBeginDcAndAddsUpToTheAdvance) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, false, nullptr);
    int32_t a = -1, b = -1, c = -1;
    EXPECT_EQ(font->GetCharABC('A', &a, &b, &c), 0u);
    EXPECT_EQ(a + b + c, 0);
    ASSERT_TRUE(font->BeginDC());
    const uint32_t blackBox = font->GetCharABC('A', &a, &b, &c);
    EXPECT_GT(blackBox, 0u);
    EXPECT_EQ(uint32_t(b), blackBox);
    EXPECT_EQ(a + b + c, 8);  // half of a 16-pixel em in a fixed-pitch face
    const uint32_t kanaBox = font->GetCharABC(kHiraganaA, &a, &b, &c);
    EXPECT_EQ(kanaBox, uint32_t(b));
    EXPECT_GT(kanaBox, 8u);
    EXPECT_EQ(a + b + c, 16);
    EXPECT_EQ(font->GetCharABC(0x20, &a, &b, &c), 0u);
    EXPECT_EQ(a + b + c, 8);
    font->EndDC();
    EXPECT_EQ(font->GetCharABC('A', &a, &b, &c), 0u);
    font->Release();
}

TEST_F(OrvaFontTest, DrawsIntoATexturePlacedByBlackBoxAndAscent) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, false, nullptr);
    OrvaTexture* texture = OrvaTexture::Create(64, 32, true, nullptr);
    ASSERT_TRUE(texture->IsValid());
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, texture));
    font->DrawChar(5, 3, 0xFFFFFFFF, kHiraganaA);
    uint32_t maxAlpha = 0;
    const Box got = InkOf(texture, &maxAlpha);
    const Box want = Expected(5, 3, kHiraganaA, -16);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right, want.right);
    EXPECT_EQ(got.bottom, want.bottom);
    EXPECT_EQ(maxAlpha, 255u);
    font->Release();
    texture->Release();
}

TEST_F(OrvaFontTest, SkipsControlCodesAndSpaces) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, false, nullptr);
    OrvaTexture* texture = OrvaTexture::Create(32, 32, true, nullptr);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, texture));
    for (uint16_t code : {0x08, 0x09, 0x0A, 0x20, 0x8140}) {
        font->DrawChar(4, 4, 0xFFFFFFFF, code);
    }
    EXPECT_TRUE(InkOf(texture).Empty());
    // A locked target cannot be drawn into.
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(texture->Lock(&bits, &pitch), 1);
    font->DrawChar(4, 4, 0xFFFFFFFF, kBlackSquare);
    texture->Unlock();
    EXPECT_TRUE(InkOf(texture).Empty());
    font->Release();
    texture->Release();
}

TEST_F(OrvaFontTest, BlendsTheColourOverASurfaceWithSeventeenLevels) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, false, nullptr);
    OrvaSurface* surface = OrvaSurface::Create(32, 32, kOrvaSurfaceWideUse, nullptr);
    ASSERT_TRUE(surface->IsValid());
    ASSERT_EQ(surface->GetFormat(), uint32_t(platform::FormatA8R8G8B8));
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetSurface, surface));
    // Half-transparent red onto transparent black, twice.
    font->DrawChar(2, 2, 0x80FF0000, kBlackSquare);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_TRUE(surface->Lock(&bits, &pitch));
    const Box want = Expected(2, 2, kBlackSquare, -16);
    const int cx = (want.left + want.right) / 2, cy = (want.top + want.bottom) / 2;
    const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(bits) + cy * pitch);
    EXPECT_EQ(row[cx], 0x80FF0000u);
    // Every alpha is a multiple of the coverage step: 17 levels of 0x80.
    ForEachPixel(bits, pitch, 32, 32, surface->GetFormat(), [&](int, int, uint32_t c) {
        const uint32_t alpha = c >> 24;
        bool found = false;
        for (uint32_t level = 0; level <= 16; ++level) {
            found |= alpha == (level * 0x80 + 8) / 16;
        }
        EXPECT_TRUE(found) << std::hex << c;
    });
    surface->Unlock();
    font->DrawChar(2, 2, 0x80FF0000, kBlackSquare);
    ASSERT_TRUE(surface->Lock(&bits, &pitch));
    row = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(bits) + cy * pitch);
    EXPECT_EQ(row[cx], 0xC0FF0000u);  // 128 + 128 x 127 / 255
    surface->Unlock();
    font->Release();
    surface->Release();
}

TEST_F(OrvaFontTest, DrawsOntoTheBackBufferAndClipsAtItsEdges) {
    OrvaFont* font = OrvaFont::Create(kGothic, -16, false, false, nullptr);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetBackBuffer, nullptr));
    platform::SoftSurface* back = OrvaDevice::GetDevice()->GetBackBuffer();
    ASSERT_NE(back, nullptr);
    // Half out of every edge: nothing may be written outside the buffer.
    for (int x : {-8, 60}) {
        for (int y : {-10, 40}) {
            font->DrawChar(x, y, 0xFF00FF00, kBlackSquare);
        }
    }
    font->DrawChar(20, 10, 0xFF0000FF, kBlackSquare);
    platform::LockedRect locked;
    ASSERT_EQ(back->LockRect(&locked, nullptr, 0), platform::kGfxOk);
    int green = 0, blue = 0;
    ForEachPixel(locked.bits, locked.pitch, back->GetWidth(), back->GetHeight(), back->GetFormat(),
                 [&](int, int, uint32_t c) {
                     green += (c & 0x00FFFFFF) == 0x0000FF00;
                     blue += (c & 0x00FFFFFF) == 0x000000FF;
                 });
    back->UnlockRect();
    EXPECT_GT(green, 4 * 4);
    EXPECT_GT(blue, 10 * 10);
    font->Release();
}

TEST_F(OrvaFontTest, HoldsItsTargetWithAReference) {
    OrvaFont* font = OrvaFont::Create(kGothic, -12, true, false, nullptr);
    OrvaTexture* texture = OrvaTexture::Create(16, 16, true, nullptr);
    OrvaSurface* surface = OrvaSurface::Create(16, 16, kOrvaSurfaceWideUse, nullptr);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, texture));
    EXPECT_EQ(texture->GetRefCount(), 2);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, texture));
    EXPECT_EQ(texture->GetRefCount(), 2);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetSurface, surface));
    EXPECT_EQ(texture->GetRefCount(), 1);
    EXPECT_EQ(surface->GetRefCount(), 2);
    // The kind must match the object.
    EXPECT_FALSE(font->SetTarget(kOrvaFontTargetTexture, surface));
    EXPECT_EQ(surface->GetRefCount(), 1);
    EXPECT_FALSE(font->SetTarget(kOrvaFontTargetSurface, nullptr));
    EXPECT_FALSE(font->SetTarget(7, texture));
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, texture));
    font->Release();
    EXPECT_EQ(texture->GetRefCount(), 1);
    texture->Release();
    surface->Release();
}
