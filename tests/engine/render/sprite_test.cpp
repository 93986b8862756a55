#include "engine/render/sprite.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

constexpr uint32_t kClear = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

class SpriteTest : public ::testing::Test {
protected:
    void Start(int w, int h)
    {
        StartDevice2D(w, h);
        ASSERT_TRUE(OrvaSprite::Initialize());
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        OrvaTexture::SetFullColor(true);
    }
    void TearDown() override
    {
        OrvaSprite::Destroy();
        StopDevice2D();
        OrvaTexture::SetFullColor(false);
        OrvaTexture::SetPixelOffset(-0.5f);
        OrvaDebug::SetLogPath(nullptr);
    }
    // Expects texel (x - left + sx, y - top + sy) inside [left, right) x
    // [top, bottom) and the clear colour elsewhere.
    static void ExpectTexels(int left, int top, int right, int bottom, int sx, int sy)
    {
        for (int y = 0; y < g_frameHeight; ++y) {
            for (int x = 0; x < g_frameWidth; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                EXPECT_EQ(Pixel(x, y), inside ? Texel(x - left + sx, y - top + sy) : kClear) << x << "," << y;
            }
        }
    }
    // Expects the colour inside the rectangle and the clear colour outside.
    static void ExpectBlock(int left, int top, int right, int bottom, uint32_t color)
    {
        for (int y = 0; y < g_frameHeight; ++y) {
            for (int x = 0; x < g_frameWidth; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                EXPECT_EQ(Pixel(x, y), inside ? color : kClear) << x << "," << y;
            }
        }
    }
};

}  // namespace

TEST_F(SpriteTest, OneToOneSpriteLandsTexelForTexel)
{
    Start(8, 6);
    OrvaTexture* t = MakeTexture(4, 4);
    OrvaSprite* s = OrvaSprite::Create(2, 1, kOrvaBlendNone, nullptr);
    EXPECT_EQ(s->GetFvf(), 0x144u);
    EXPECT_EQ(s->GetVertexSize(), 28u);
    s->SetTexture(t, 0);
    const OrvaRect src{0, 0, 4, 4};
    EXPECT_EQ(s->DrawRect({2, 1, 6, 5}, 0.0f, &src, kWhite, 1), 1u);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectTexels(2, 1, 6, 5, 0, 0);

    // A part of the texture, through the float form.
    s->Clear();
    const OrvaRectF part(1.0f, 2.0f, 3.0f, 4.0f);
    EXPECT_EQ(s->DrawRectF(OrvaRectF(5.0f, 0.0f, 7.0f, 2.0f), 1.0f, &part, kWhite, 1), 1u);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectTexels(5, 0, 7, 2, 1, 2);

    // Stretched twice as wide: the source shrunk by half a texel on each side
    // gives texels 0, 1, 1, 1, 2, 2, 2, 3 from pixel centres at u x 4 =
    // 0.5 + 0.375 (i + 0.5).
    s->Clear();
    const OrvaRect row{0, 0, 4, 1};
    s->DrawRect({0, 3, 8, 4}, 0.0f, &row, kWhite, 1);
    DrawFrame(kClear, [&] { s->Render(); });
    const int texels[8] = {0, 1, 1, 1, 2, 2, 2, 3};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(Pixel(x, 3), Texel(texels[x], 0)) << x;
    }
}

TEST_F(SpriteTest, BlendModesOnKnownColours)
{
    Start(4, 4);
    struct Case {
        int mode;
        uint32_t want;
    };
    // Source 0x80402010 over 0x40C08020.
    const Case cases[] = {
        {kOrvaBlendNone, 0x80402010u},
        {kOrvaBlendNormal, 0x60805018u},   // round((s a + d (255 - a)) / 255)
        {kOrvaBlendAdd, 0x80E09028u},      // d + round(s a / 255)
        {kOrvaBlendSub, 0x00A07018u},      // max(0, d - round(s a / 255))
        {kOrvaBlendMul, 0x20301002u},      // round(d s / 255)
        {kOrvaBlendOneOne, 0xC0FFA030u},   // min(255, s + d)
        {kOrvaBlendBright, 0x60F09022u},   // d + round(d s / 255)
        {kOrvaBlendRevease, 0x6010100Eu},  // round(s (255 - d) / 255)
    };
    // A texture left on stage 0 by someone else must not tint an untextured
    // batch.
    OrvaTexture* stray = MakeTexture(2, 2);
    for (const Case& c : cases) {
        OrvaSprite* s = OrvaSprite::Create(1, 0, c.mode, nullptr);
        EXPECT_EQ(s->GetFvf(), 0x44u);
        EXPECT_EQ(s->GetVertexSize(), 20u);
        s->SetTexture(stray, 0);
        EXPECT_EQ(s->DrawRect({1, 1, 3, 3}, 0.0f, nullptr, 0x80402010u, 0), 1u);
        DrawFrame(0x40C08020u, [&] {
            OrvaDevice::SetTexture(stray, 0);
            s->Render();
        });
        EXPECT_EQ(Pixel(1, 1), c.want) << "mode " << c.mode << std::hex << " got " << Pixel(1, 1);
        EXPECT_EQ(Pixel(2, 2), c.want) << "mode " << c.mode;
        EXPECT_EQ(Pixel(0, 0), 0x40C08020u) << "mode " << c.mode;
        EXPECT_EQ(Pixel(3, 2), 0x40C08020u) << "mode " << c.mode;
        s->Release();
    }
}

TEST_F(SpriteTest, LogLinesOfTheModuleAndItsBatches)
{
    const std::string path = ::testing::TempDir() + "sprite_test_log.txt";
    std::remove(path.c_str());
    OrvaDebug::SetLogPath(path.c_str());
    Start(4, 4);
    OrvaSprite* s = OrvaSprite::Create(2, 1, kOrvaBlendNormal, nullptr);
    OrvaSprite* odd = OrvaSprite::Create(1, 4, 9, nullptr);
    const std::string sId = Hex(s), oddId = Hex(odd);
    const unsigned kb1 = static_cast<unsigned>((sizeof(OrvaSprite) + 4 * (3 * 28 + sizeof(OrvaSpritePolygon))) / 1024);
    const unsigned kb2 = static_cast<unsigned>((sizeof(OrvaSprite) + 2 * (3 * 52 + sizeof(OrvaSpritePolygon))) / 1024);
    s->Release();
    OrvaSprite::Destroy();
    OrvaDebug::SetLogPath(nullptr);
    const std::string log = ReadFile(path);
    const std::string want =
        "\n============================================== Initialize Sprite\n"
        "○ CreateSprite  / ID [" + sId + "] / Normal Blend / MaxPolygon 4 / MaxVertex 12 / " +
        std::to_string(kb1) + " KByteUse / Complete!\n"
        "○ CreateSprite  / ID [" + oddId + "] / MaxPolygon 2 / MaxVertex 6 / " + std::to_string(kb2) +
        " KByteUse / Complete!\n"
        "● ReleaseSprite  / ID [" + sId + "]\n"
        "\n============================================== Destroy Sprite\n"
        "● ReleaseSprite  / ID [" + oddId + "]\n";
    EXPECT_NE(log.find(want), std::string::npos) << log;
    EXPECT_EQ(OrvaSprite::GetCount(), 0);
    std::remove(path.c_str());
}

TEST_F(SpriteTest, CapacityIsTwiceTheQuadCount)
{
    const std::string path = ::testing::TempDir() + "sprite_full_log.txt";
    std::remove(path.c_str());
    OrvaDebug::SetLogPath(path.c_str());
    Start(4, 4);
    for (uint32_t sort : {0u, 1u}) {
        OrvaSprite* s = OrvaSprite::Create(2, 0, kOrvaBlendNone, nullptr);
        s->SetSort(sort);
        EXPECT_EQ(s->GetCapacity(), 4u);
        EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 3.0f, nullptr, kWhite, 0), 1u);
        EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 3.0f, nullptr, kWhite, 0), 1u);
        EXPECT_EQ(s->GetPolygonCount(), 4u);
        OrvaSpriteVertex v[3];
        EXPECT_EQ(s->AddTriangle(v, 3.0f), 0u);
        // The quad forms report the depth check only.
        EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 3.0f, nullptr, kWhite, 0), 1u);
        EXPECT_EQ(s->GetPolygonCount(), 4u);
        s->Clear();
        EXPECT_EQ(s->GetPolygonCount(), 0u);
        EXPECT_EQ(s->AddTriangle(v, 3.0f), 1u);
        s->Release();
    }
    OrvaDebug::SetLogPath(nullptr);
    // Running out of room is logged once per batch.
    const std::string log = ReadFile(path);
    size_t lines = 0;
    for (size_t at = log.find("スプライトが一杯です"); at != std::string::npos;
         at = log.find("スプライトが一杯です", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 2u);
    std::remove(path.c_str());
}

TEST_F(SpriteTest, ClippedPiecesAndTheCapacity)
{
    Start(4, 4);
    OrvaTexture::SetPixelOffset(0.0f);
    const OrvaRect clip{0, 0, 10, 10};
    // The left edge cuts a corner off: two pieces.
    auto cutCorner = [](OrvaSpriteVertex* v) {
        v[0].x = -2.0f, v[0].y = 1.0f;
        v[1].x = 6.0f, v[1].y = 1.0f;
        v[2].x = 6.0f, v[2].y = 9.0f;
    };
    auto inside = [](OrvaSpriteVertex* v) {
        v[0].x = 1.0f, v[0].y = 1.0f;
        v[1].x = 2.0f, v[1].y = 1.0f;
        v[2].x = 2.0f, v[2].y = 2.0f;
    };
    OrvaSpriteVertex v[3];

    // Unsorted: all pieces or none, up to the full capacity.
    OrvaSprite* s = OrvaSprite::Create(2, 0, kOrvaBlendNone, nullptr);
    s->SetClip(&clip);
    cutCorner(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 2u);
    inside(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    cutCorner(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 0u);
    EXPECT_EQ(s->GetPolygonCount(), 3u);
    inside(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 4u);
    // Wholly outside.
    s->Clear();
    for (OrvaSpriteVertex& p : v) {
        p.x += 20.0f;
    }
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 0u);
    EXPECT_EQ(s->GetPolygonCount(), 0u);

    // Sorted: the pieces that fit are queued and the answer is 0.
    s->SetSort(1);
    inside(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    inside(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    inside(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 1u);
    cutCorner(v);
    EXPECT_EQ(s->AddTriangle(v, 0.0f), 0u);
    EXPECT_EQ(s->GetPolygonCount(), 4u);
}

TEST_F(SpriteTest, ClipRectangleKeepsTheTexelsInside)
{
    Start(6, 4);
    OrvaTexture* t = MakeTexture(6, 4);
    OrvaSprite* s = OrvaSprite::Create(8, 1, kOrvaBlendNone, nullptr);
    s->SetTexture(t, 0);
    const OrvaRect clip{1, 1, 4, 3};
    s->SetClip(&clip);
    const OrvaRect src{0, 0, 6, 4};
    s->DrawRect({0, 0, 6, 4}, 0.0f, &src, kWhite, 1);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectTexels(1, 1, 4, 3, 1, 1);

    // Clipped to the viewport: the part on screen is drawn as it was.
    OrvaRect viewport;
    OrvaDevice::GetViewport(&viewport);
    s->SetClip(&viewport);
    s->Clear();
    const OrvaRect hanging{-2, -1, 4, 3};
    s->DrawRect(hanging, 0.0f, &src, kWhite, 1);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectTexels(0, 0, 4, 3, 2, 1);
    s->SetClip(nullptr);
}

TEST_F(SpriteTest, SortedBatchDrawsFarToNearAndEqualDepthsInQueueOrder)
{
    Start(4, 1);
    const uint32_t a = 0xFF800000u, b = 0xFF008000u, c = 0xFF000080u, d = 0xFF808080u;
    OrvaSprite* s = OrvaSprite::Create(8, 0, kOrvaBlendNone, nullptr);
    s->SetSort(1);
    // Depths 10, 5, 10: drawn A, C, B.
    s->DrawRect({0, 0, 4, 1}, 10.0f, nullptr, a, 0);
    s->DrawRect({0, 0, 2, 1}, 5.0f, nullptr, b, 0);
    s->DrawRect({0, 0, 3, 1}, 10.0f, nullptr, c, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(0, 0), b);
    EXPECT_EQ(Pixel(1, 0), b);
    EXPECT_EQ(Pixel(2, 0), c);
    EXPECT_EQ(Pixel(3, 0), a);
    // Drawn again without Clear: the same picture.
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(0, 0), b);
    EXPECT_EQ(Pixel(2, 0), c);

    // Four at one depth: whole quads in the order queued.
    s->Clear();
    s->DrawRect({0, 0, 4, 1}, 7.0f, nullptr, a, 0);
    s->DrawRect({0, 0, 3, 1}, 7.0f, nullptr, b, 0);
    s->DrawRect({0, 0, 2, 1}, 7.0f, nullptr, c, 0);
    s->DrawRect({0, 0, 1, 1}, 7.0f, nullptr, d, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(0, 0), d);
    EXPECT_EQ(Pixel(1, 0), c);
    EXPECT_EQ(Pixel(2, 0), b);
    EXPECT_EQ(Pixel(3, 0), a);

    // 65535 is drawn first, 0 last; 0.9 shares bucket 0 with 0.
    s->Clear();
    s->DrawRect({0, 0, 4, 1}, 0.9f, nullptr, a, 0);
    s->DrawRect({0, 0, 2, 1}, 1.0f, nullptr, b, 0);
    s->DrawRect({0, 0, 1, 1}, 0.0f, nullptr, c, 0);
    s->DrawRect({0, 0, 4, 1}, 65535.0f, nullptr, d, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(0, 0), c);
    EXPECT_EQ(Pixel(1, 0), a);
    EXPECT_EQ(Pixel(3, 0), a);

    // Switching sorting drops the queue.
    s->SetSort(1);
    EXPECT_EQ(s->GetPolygonCount(), 0u);
}

TEST_F(SpriteTest, DepthRangeOfQuadsAndSortedTriangles)
{
    Start(2, 2);
    OrvaSprite* s = OrvaSprite::Create(8, 0, kOrvaBlendNone, nullptr);
    s->SetSort(1);
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 0.0f, nullptr, kWhite, 0), 1u);
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 65535.0f, nullptr, kWhite, 0), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 4u);
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 65535.5f, nullptr, kWhite, 0), 0u);
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, -0.001f, nullptr, kWhite, 0), 0u);
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, std::nanf(""), nullptr, kWhite, 0), 0u);
    EXPECT_EQ(s->DrawQuad(nullptr, 1.0f, nullptr, kWhite, 0), 0u);
    // More source rectangles than stages exist.
    const OrvaRect src[5] = {};
    EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 1.0f, src, kWhite, 5), 0u);
    OrvaSpriteVertex v[3];
    EXPECT_EQ(s->AddTriangle(v, 65536.0f), 0u);
    EXPECT_EQ(s->AddTriangle(v, -1.0f), 0u);
    EXPECT_EQ(s->GetPolygonCount(), 4u);
}

TEST_F(SpriteTest, PerspectiveZoomAndPixelOffsetMoveTheVertices)
{
    Start(2, 2);
    OrvaSprite* s = OrvaSprite::Create(8, 0, kOrvaBlendNone, nullptr);
    OrvaSpriteVertex v[3];
    auto place = [&](float x, float y) {
        for (OrvaSpriteVertex& p : v) {
            p.x = x;
            p.y = y;
        }
    };
    place(330.0f, 250.0f);
    s->SetZoom(320.0f, 240.0f, 2.0f);
    ASSERT_EQ(s->AddTriangle(v, 0.0f), 1u);
    EXPECT_EQ(v[0].x, 339.5f);
    EXPECT_EQ(v[2].y, 259.5f);
    s->SetZoom(77.0f, 3.0f, 1.0f);
    place(330.0f, 250.0f);
    s->AddTriangle(v, 0.0f);
    EXPECT_EQ(v[1].x, 329.5f);
    s->DisableZoom();

    // Factor 2 and 32768 past the base depth: half the way to the vanishing point.
    s->SetPerspective(100.0f, 50.0f, 100.0f, 2.0f);
    place(300.0f, 250.0f);
    s->AddTriangle(v, 32868.0f);
    EXPECT_EQ(v[0].x, 199.5f);
    EXPECT_EQ(v[0].y, 149.5f);
    place(300.0f, 250.0f);
    s->AddTriangle(v, 100.0f);
    EXPECT_EQ(v[1].x, 299.5f);
    s->SetPerspective(100.0f, 50.0f, 100.0f, 0.0f);
    place(300.0f, 250.0f);
    s->AddTriangle(v, 5000.0f);
    EXPECT_EQ(v[2].y, 249.5f);
    // A divide by zero gives no position to draw: refused.
    s->SetPerspective(100.0f, 50.0f, 0.0f, -1.0f);
    place(300.0f, 250.0f);
    const uint32_t before = s->GetPolygonCount();
    EXPECT_EQ(s->AddTriangle(v, 65536.0f), 0u);
    EXPECT_EQ(s->GetPolygonCount(), before);
    s->DisablePerspective();
    place(300.0f, 250.0f);
    s->AddTriangle(v, 5000.0f);
    EXPECT_EQ(v[0].x, 299.5f);
}

TEST_F(SpriteTest, RotationInTheScreenPlane)
{
    Start(4, 4);
    OrvaSprite* s = OrvaSprite::Create(4, 0, kOrvaBlendNone, nullptr);
    const uint32_t red = 0xFFFF0000u;
    // A quarter turn about the top-left corner: clockwise on the screen,
    // (right, top) lands at (left, top + width).
    s->DrawRectRotate({1, 1, 3, 2}, 0.0f, nullptr, red, 16384, 0, 0, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(0, 1, 1, 3, red);
    // Angle 0 is the plain rectangle; the float form about its own pivot.
    s->Clear();
    s->DrawRectFRotate(OrvaRectF(1.0f, 1.0f, 3.0f, 2.0f), 0.0f, nullptr, red, 0, 1.0f, 0.5f, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(1, 1, 3, 2, red);
    // A half turn about the centre of a 2 x 2 block keeps it in place.
    s->Clear();
    s->DrawRectRotate({1, 1, 3, 3}, 0.0f, nullptr, red, 32768, 1, 1, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(1, 1, 3, 3, red);
}

TEST_F(SpriteTest, RotationInSpaceIsProjected)
{
    Start(8, 8);
    OrvaSprite* s = OrvaSprite::Create(4, 0, kOrvaBlendNone, nullptr);
    const uint32_t red = 0xFFFF0000u;
    // No turn: the plain rectangle, with an odd width losing its last pixel.
    s->DrawRectRotate3D({0, 0, 5, 2}, 0.0f, nullptr, red, 0, 0, 0, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(0, 0, 4, 2, red);

    // An eighth of a turn about X: the near bottom edge moves down less than
    // the far top edge moves up (focal distance 16 for an 8 x 8 square): the
    // top edge lands at y 0.56 and the bottom at y 6.40, so rows 1 to 5 are
    // covered where a flat turn would cover rows 1 to 6.
    s->Clear();
    s->DrawRectFRotate3D(OrvaRectF(0.0f, 0.0f, 8.0f, 8.0f), 0.0f, nullptr, red, 0, 8192, 0, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(0, 1, 8, 6, red);
    // Without size there is nothing to draw.
    s->Clear();
    EXPECT_EQ(s->DrawRectRotate3D({3, 3, 3, 3}, 0.0f, nullptr, red, 0, 0, 0, 0), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 0u);

    // A half turn about Y mirrors the texture left to right.
    OrvaTexture* t = MakeTexture(2, 2);
    OrvaSprite* textured = OrvaSprite::Create(1, 1, kOrvaBlendNone, nullptr);
    textured->SetTexture(t, 0);
    const OrvaRect src{0, 0, 2, 2};
    textured->DrawRectRotate3D({2, 2, 4, 4}, 0.0f, &src, kWhite, 32768, 0, 0, 1);
    DrawFrame(kClear, [&] { textured->Render(); });
    EXPECT_EQ(Pixel(2, 2), Texel(1, 0));
    EXPECT_EQ(Pixel(3, 2), Texel(0, 0));
    EXPECT_EQ(Pixel(2, 3), Texel(1, 1));
    EXPECT_EQ(Pixel(3, 3), Texel(0, 1));
    EXPECT_EQ(Pixel(1, 2), kClear);
    EXPECT_EQ(Pixel(4, 2), kClear);
}

// A sprite turned in space hands the device the reciprocal w of each
// corner, so the texture is foreshortened with the quad: its middle lands
// on the projected centre of the rectangle, not halfway between the
// projected edges.
TEST_F(SpriteTest, TextureOfASpriteTurnedInSpaceFollowsItsDepth)
{
    Start(16, 8);
    OrvaTexture* t = MakeTexture(2, 1);
    OrvaSprite* s = OrvaSprite::Create(1, 1, kOrvaBlendNone, nullptr);
    s->SetTexture(t, 0);
    const OrvaRect src{0, 0, 2, 1};
    // A sixth of a turn about Y: hw 8, hh 4, focal distance 32, centre (8,
    // 4). The left edge goes back (w = 32 + 8 sin 60 = 38.93) and lands at
    // x 4.71, the right edge comes forward (w 25.07) and lands at x 13.11;
    // the centre stays at x 8. With the pixel offset the texture's middle
    // (u 0.5 between texels 0 and 1) is at x 7.5 where the edges' midpoint
    // would give x 8.4.
    EXPECT_EQ(s->DrawRectRotate3D({0, 0, 16, 8}, 0.0f, &src, kWhite, 10923, 0, 0, 1), 1u);
    DrawFrame(kClear, [&] { s->Render(); });
    for (int y = 3; y <= 4; ++y) {
        EXPECT_EQ(Pixel(4, y), kClear) << y;
        for (int x = 5; x <= 12; ++x) {
            EXPECT_EQ(Pixel(x, y), Texel(x >= 8 ? 1 : 0, 0)) << x << "," << y;
        }
        EXPECT_EQ(Pixel(13, y), kClear) << y;
    }
}

TEST_F(SpriteTest, CornerFormsAndColours)
{
    Start(8, 8);
    OrvaSprite* s = OrvaSprite::Create(4, 0, kOrvaBlendNone, nullptr);
    const uint32_t red = 0xFFFF0000u;
    const OrvaPoint corners[4] = {{1, 1}, {4, 1}, {4, 3}, {1, 3}};
    s->DrawQuad(corners, 0.0f, nullptr, red, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(1, 1, 4, 3, red);
    s->Clear();
    const OrvaPointF cornersF[4] = {{2.0f, 2.0f}, {5.0f, 2.0f}, {5.0f, 6.0f}, {2.0f, 6.0f}};
    s->DrawQuadF(cornersF, 0.0f, nullptr, red, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectBlock(2, 2, 5, 6, red);

    // Four colours in corner order: each corner's pixel leans to its colour.
    s->Clear();
    const uint32_t colors[4] = {0xFF000000u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    s->DrawRectGradient({0, 0, 8, 8}, 0.0f, nullptr, colors, 0);
    DrawFrame(kClear, [&] { s->Render(); });
    auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    EXPECT_LT(channel(Pixel(0, 0), 16) + channel(Pixel(0, 0), 8) + channel(Pixel(0, 0), 0), 64);
    EXPECT_GT(channel(Pixel(7, 0), 16), 192);
    EXPECT_GT(channel(Pixel(7, 7), 8), 192);
    EXPECT_GT(channel(Pixel(0, 7), 0), 192);
}

TEST_F(SpriteTest, RibbonRunsTheTextureAlongItsPoints)
{
    Start(6, 4);
    // u across the ribbon (2 texels), v along it (4 texels).
    OrvaTexture* t = MakeTexture(2, 4);
    OrvaSprite* s = OrvaSprite::Create(4, 1, kOrvaBlendNone, nullptr);
    s->SetTexture(t, 0);
    const float xs[2] = {1.0f, 5.0f}, ys[2] = {2.0f, 2.0f}, widths[2] = {1.0f, 1.0f};
    const int32_t angles[2] = {0, 0};
    const uint32_t colors[2] = {kWhite, kWhite};
    EXPECT_EQ(s->DrawRibbon(xs, ys, 0.0f, widths, angles, colors, {0, 0, 2, 4}, 2), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 2u);
    DrawFrame(kClear, [&] { s->Render(); });
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 5 && y >= 1 && y < 3;
            EXPECT_EQ(Pixel(x, y), inside ? Texel(y - 1, x - 1) : kClear) << x << "," << y;
        }
    }
    // Three points along the same line give the same picture.
    s->Clear();
    const OrvaPointF points[3] = {{1.0f, 2.0f}, {3.0f, 2.0f}, {5.0f, 2.0f}};
    const float widths3[3] = {1.0f, 1.0f, 1.0f};
    const int32_t angles3[3] = {0, 0, 0};
    const uint32_t colors3[3] = {kWhite, kWhite, kWhite};
    EXPECT_EQ(s->DrawRibbonF(points, 0.0f, widths3, angles3, colors3, OrvaRectF(0.0f, 0.0f, 2.0f, 4.0f), 3), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 4u);
    const std::vector<uint32_t> twoPoints = g_frame;
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(g_frame, twoPoints);
    // One point makes no segment.
    s->Clear();
    EXPECT_EQ(s->DrawRibbon(xs, ys, 0.0f, widths, angles, colors, {0, 0, 2, 4}, 1), 1u);
    EXPECT_EQ(s->GetPolygonCount(), 0u);
}

TEST_F(SpriteTest, LostDeviceAndResetKeepThePicture)
{
    Start(6, 4);
    OrvaTexture* t = MakeTexture(4, 4);
    OrvaSprite* plain = OrvaSprite::Create(2, 1, kOrvaBlendNone, nullptr);
    OrvaSprite* sorted = OrvaSprite::Create(2, 0, kOrvaBlendAdd, nullptr);
    plain->SetTexture(t, 0);
    sorted->SetSort(1);
    const OrvaRect src{0, 0, 4, 4};
    plain->DrawRect({1, 0, 5, 4}, 0.0f, &src, kWhite, 1);
    sorted->DrawRect({0, 1, 6, 3}, 9.0f, nullptr, 0xFF202020u, 0);
    sorted->DrawRect({2, 0, 3, 4}, 3.0f, nullptr, 0xFF404040u, 0);
    auto draw = [&] {
        plain->Render();
        sorted->Render();
    };
    DrawFrame(kClear, draw);
    const std::vector<uint32_t> before = g_frame;
    EXPECT_EQ(Pixel(0, 1), 0xFF202020u);

    OrvaDevice::GetDevice()->SimulateLoss();
    OrvaSprite::OnLostDevice();
    EXPECT_FALSE(plain->HasVertexBuffer());
    // Nothing to draw from, and nothing breaks.
    plain->Render();
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(plain->HasVertexBuffer());
    EXPECT_TRUE(sorted->HasVertexBuffer());
    DrawFrame(kClear, draw);
    EXPECT_EQ(g_frame, before);
}

TEST_F(SpriteTest, ImpossibleSizesGiveABatchThatTakesNothing)
{
    Start(2, 2);
    for (auto size : {std::pair<int, int>{0, 1}, {-3, 1}, {1, 5}, {1, -1}, {OrvaSprite::kMaxQuads + 1, 4}}) {
        OrvaSprite* s = OrvaSprite::Create(size.first, size.second, kOrvaBlendNone, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->GetCapacity(), 0u);
        OrvaSpriteVertex v[3];
        EXPECT_EQ(s->AddTriangle(v, 0.0f), 0u);
        EXPECT_EQ(s->DrawRect({0, 0, 1, 1}, 0.0f, nullptr, kWhite, 0), 1u);
        EXPECT_EQ(s->GetPolygonCount(), 0u);
        s->Render();
    }
    EXPECT_EQ(OrvaSprite::GetCount(), 5);
}

TEST_F(SpriteTest, TexturesAreHeldByStage)
{
    Start(2, 2);
    OrvaTexture* t = MakeTexture(2, 2);
    OrvaTexture* broken = OrvaTexture::Create(0, 0, true, nullptr);
    OrvaSprite* s = OrvaSprite::Create(1, 2, kOrvaBlendNone, nullptr);
    s->SetTexture(t, 1);
    EXPECT_EQ(s->GetTexture(1), t);
    EXPECT_EQ(t->GetRefCount(), 2);
    s->SetTexture(broken, 1);
    EXPECT_EQ(s->GetTexture(1), nullptr);
    EXPECT_EQ(t->GetRefCount(), 1);
    s->SetTexture(t, 4);
    s->SetTexture(t, -1);
    EXPECT_EQ(t->GetRefCount(), 1);
    s->SetTexture(t, 3);
    s->Release();
    EXPECT_EQ(t->GetRefCount(), 1);
}
