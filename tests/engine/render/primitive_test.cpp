#include "engine/render/primitive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "platform/gfx/soft_device.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

constexpr int kW = 8;
constexpr int kH = 8;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kBlue = 0xFF0000FFu;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

// A frame drawn by hand: '.' background, letters from a legend.
std::vector<uint32_t> Picture(const char* rows, uint32_t background, const std::vector<std::pair<char, uint32_t>>& legend)
{
    std::vector<uint32_t> out(static_cast<size_t>(kW) * kH, background);
    for (int i = 0; i < kW * kH; ++i) {
        for (const auto& entry : legend) {
            if (rows[i] == entry.first) {
                out[static_cast<size_t>(i)] = entry.second;
            }
        }
    }
    return out;
}

std::string Describe(const std::vector<uint32_t>& frame)
{
    std::ostringstream s;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            char b[12];
            std::snprintf(b, sizeof(b), "%08X ", frame[static_cast<size_t>(y) * kW + x]);
            s << b;
        }
        s << "\n";
    }
    return s.str();
}

OrvaPrimitivePoint P(float x, float y, uint32_t color, float u = 0.0f, float v = 0.0f)
{
    OrvaPrimitivePoint p;
    p.x = x;
    p.y = y;
    p.color = color;
    p.u = u;
    p.v = v;
    return p;
}

class OrvaPrimitiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDevice2D(kW, kH);
        ASSERT_TRUE(OrvaPrimitive::Initialize());
        OrvaDevice::GetDevice()->SetThreadCount(2);
    }
    void TearDown() override
    {
        OrvaPrimitive::Destroy();
        StopDevice2D();
        OrvaDebug::SetLogPath(nullptr);
    }

    // One frame: cleared, the 2D states set with alpha blending on, the
    // batches rendered, presented; returns the picture.
    static std::vector<uint32_t> Frame(std::initializer_list<OrvaPrimitive*> batches, uint32_t clear = kBlack)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(clear);
        OrvaEffect::Begin(kOrvaBlendNone);
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        for (OrvaPrimitive* b : batches) {
            b->Render();
        }
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }

    static void Rect(OrvaPrimitive* batch, float l, float t, float r, float b, uint32_t color, float depth = 0.0f)
    {
        const OrvaPrimitivePoint q[4] = {P(l, t, color), P(r, t, color), P(r, b, color), P(l, b, color)};
        EXPECT_TRUE(batch->AddQuad(q, depth));
    }

    static uint64_t DrawnPrimitives() { return OrvaDevice::GetDevice()->GetStats().primitives; }
};

TEST_F(OrvaPrimitiveTest, QuadCoversItsPixelsExactly)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(4, kOrvaBlendNone);
    ASSERT_NE(batch, nullptr);
    Rect(batch, 1, 1, 5, 4, kRed);
    EXPECT_EQ(batch->GetPrimitiveCount(), 2u);
    const auto want = Picture("........"
                              ".RRRR..."
                              ".RRRR..."
                              ".RRRR..."
                              "........"
                              "........"
                              "........"
                              "........",
                              kBlack, {{'R', kRed}});
    const auto got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);
}

TEST_F(OrvaPrimitiveTest, QuadSplitsAlongTheFirstAndThirdCorners)
{
    // Only p1 differs: with the (p0, p1, p2) + (p2, p3, p0) split the half
    // below the p0-p2 diagonal is untouched by its colour.
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(2, kOrvaBlendNone);
    const OrvaPrimitivePoint q[4] = {P(0, 0, kBlue), P(8, 0, kRed), P(8, 8, kBlue), P(0, 8, kBlue)};
    ASSERT_TRUE(batch->AddQuad(q, 0.0f));
    const auto got = Frame({batch});
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < y; ++x) {
            EXPECT_EQ(got[static_cast<size_t>(y) * kW + x], kBlue) << x << "," << y;
        }
    }
    EXPECT_NE(got[7], kBlue);  // the top-right corner takes p1's colour
}

TEST_F(OrvaPrimitiveTest, PointsAndLinesDrawTheirPixels)
{
    OrvaPrimitive* points = OrvaPrimitive::CreatePoints(8, kOrvaBlendNone);
    OrvaPrimitive* lines = OrvaPrimitive::CreateLines(8, kOrvaBlendNone);
    // Pixel centres lie at half-pixel positions in the engine's 2D space; a
    // line takes the pixels from its start up to its end's.
    const OrvaPrimitivePoint a = P(0.5f, 0.5f, kRed), b = P(6.5f, 7.5f, kGreen);
    EXPECT_TRUE(points->AddPoint(&a, 1.0f));
    EXPECT_TRUE(points->AddPoint(&b, 1.0f));
    const OrvaPrimitivePoint h[2] = {P(1.0f, 2.5f, kBlue), P(5.0f, 2.5f, kBlue)};
    const OrvaPrimitivePoint v[2] = {P(6.5f, 1.0f, kWhite), P(6.5f, 4.0f, kWhite)};
    EXPECT_TRUE(lines->AddLine(h, 1.0f));
    EXPECT_TRUE(lines->AddLine(v, 1.0f));
    const uint64_t before = DrawnPrimitives();
    const auto got = Frame({points, lines});
    // One primitive per point and per line.
    EXPECT_EQ(DrawnPrimitives() - before, 4u);
    const auto want = Picture("R......."
                              "......W."
                              ".BBBB.W."
                              "......W."
                              "........"
                              "........"
                              "........"
                              "......G.",
                              kBlack, {{'R', kRed}, {'G', kGreen}, {'B', kBlue}, {'W', kWhite}});
    EXPECT_EQ(got, want) << Describe(got);
}

TEST_F(OrvaPrimitiveTest, BlendModesOnKnownColours)
{
    struct Case {
        int32_t blend;
        uint32_t want;
    };
    // Source 0x80402010 over 0x40C08020, as the device blends on 8-bit
    // channels. Sub inverts the frame, adds and inverts back:
    // 255 - min(255, (255 - d) + round(s a / 255)).
    const Case cases[] = {
        {kOrvaBlendNone, 0x80402010u},    {kOrvaBlendNormal, 0x60805018u}, {kOrvaBlendAdd, 0x80E09028u},
        {kOrvaBlendSub, 0x00A07018u},     {kOrvaBlendMul, 0x20301002u},    {kOrvaBlendOneOne, 0xC0FFA030u},
        {kOrvaBlendBright, 0x60F09022u},  {kOrvaBlendRevease, 0x6010100Eu},
    };
    for (const Case& c : cases) {
        OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(2, c.blend);
        EXPECT_EQ(batch->GetBlend(), c.blend);
        Rect(batch, 2, 2, 4, 4, 0x80402010u);
        const auto got = Frame({batch}, 0x40C08020u);
        EXPECT_EQ(got[2 * kW + 2], c.want) << "blend " << c.blend;
        EXPECT_EQ(got[3 * kW + 3], c.want) << "blend " << c.blend;
        // Sub leaves the frame outside the batch as it was.
        EXPECT_EQ(got[0], 0x40C08020u) << "blend " << c.blend;
        EXPECT_EQ(got[5 * kW + 5], 0x40C08020u) << "blend " << c.blend;
        batch->Release();
    }
}

TEST_F(OrvaPrimitiveTest, SortedBatchDrawsBackToFront)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(16, kOrvaBlendNone);
    batch->SetSort(1);
    EXPECT_TRUE(batch->IsSorted());
    // Queued front first: depth 0 must still end on top of 65535.
    Rect(batch, 0, 0, 4, 8, kRed, 0.0f);
    Rect(batch, 0, 0, 8, 8, kBlue, 65535.0f);
    // Within one depth the order queued: B covers A, C covers both. Each
    // quad is two primitives, which must stay together.
    Rect(batch, 4, 0, 8, 1, kRed, 100.0f);    // A
    Rect(batch, 5, 0, 8, 1, kWhite, 100.0f);  // B
    Rect(batch, 6, 0, 8, 1, kGreen, 100.0f);  // C
    // 12.9 shares bucket 12 with 12.0 and draws first, being first queued.
    Rect(batch, 4, 2, 8, 3, kGreen, 12.9f);
    Rect(batch, 6, 2, 8, 3, kWhite, 12.0f);
    const auto want = Picture("RRRRRWGG"
                              "RRRR...."
                              "RRRRGGWW"
                              "RRRR...."
                              "RRRR...."
                              "RRRR...."
                              "RRRR...."
                              "RRRR....",
                              kBlue, {{'R', kRed}, {'G', kGreen}, {'W', kWhite}});
    auto got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);
    // The records stay: a second render draws the same picture.
    got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);
    // SetSort empties the batch.
    batch->SetSort(0);
    EXPECT_EQ(batch->GetPrimitiveCount(), 0u);
    got = Frame({batch});
    EXPECT_EQ(got, std::vector<uint32_t>(kW * kH, kBlack));
}

TEST_F(OrvaPrimitiveTest, UnsortedBatchKeepsItsQueueUntilCleared)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(4, kOrvaBlendAdd);
    Rect(batch, 0, 0, 2, 2, 0xFF202020u);
    uint64_t before = DrawnPrimitives();
    Frame({batch});
    const uint64_t once = DrawnPrimitives() - before;
    EXPECT_GT(once, 0u);
    const auto got2 = Frame({batch});
    EXPECT_EQ(DrawnPrimitives() - before, 2 * once);
    EXPECT_EQ(got2[0], 0xFF202020u);
    batch->Clear();
    EXPECT_EQ(batch->GetQueuedBytes(), 0u);
    // An empty batch makes no draw at all.
    before = DrawnPrimitives();
    const auto got = Frame({batch});
    EXPECT_EQ(DrawnPrimitives(), before);
    EXPECT_EQ(got[0], kBlack);
}

TEST_F(OrvaPrimitiveTest, FullBatchAndBadInputQueueNothing)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(3, kOrvaBlendNone);
    const OrvaPrimitivePoint t[3] = {P(0, 0, kRed), P(4, 0, kRed), P(0, 4, kRed)};
    EXPECT_FALSE(batch->AddTriangle(t, -1.0f));
    EXPECT_FALSE(batch->AddTriangle(t, 65536.0f));
    EXPECT_FALSE(batch->AddTriangle(t, std::nanf("")));
    EXPECT_FALSE(batch->AddTriangle(nullptr, 1.0f));
    EXPECT_EQ(batch->GetPrimitiveCount(), 0u);
    EXPECT_TRUE(batch->AddTriangle(t, 65535.0f));
    // A quad whose first triangle takes the last place loses its second;
    // the adder still answers true.
    const OrvaPrimitivePoint q[4] = {P(0, 0, kRed), P(4, 0, kRed), P(4, 4, kRed), P(0, 4, kRed)};
    EXPECT_TRUE(batch->AddQuad(q, 1.0f));
    EXPECT_EQ(batch->GetPrimitiveCount(), 3u);
    EXPECT_TRUE(batch->AddTriangle(t, 1.0f));
    EXPECT_EQ(batch->GetPrimitiveCount(), 3u);
    OrvaVertex2D v[3];
    EXPECT_FALSE(batch->AddPrimitive(v, 1.0f, 3));

    // A primitive of another size than the batch's does not fit its memory.
    OrvaPrimitive* points = OrvaPrimitive::CreatePoints(4, kOrvaBlendNone);
    EXPECT_FALSE(points->AddPrimitive(v, 1.0f, 3));
    EXPECT_FALSE(points->AddPrimitive(v, 1.0f, -1));
    EXPECT_TRUE(points->AddPrimitive(v, 1.0f, 1));
    // Sorted, a depth without a bucket is refused.
    points->SetSort(1);
    EXPECT_FALSE(points->AddPrimitive(v, 70000.0f, 1));
    EXPECT_FALSE(points->AddPrimitive(v, -0.5f, 1));
    EXPECT_EQ(points->GetPrimitiveCount(), 0u);

    // A capacity that cannot be had gives a batch that takes nothing.
    OrvaPrimitive* none = OrvaPrimitive::CreateTriangles(-5, kOrvaBlendNone);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetCapacity(), 0);
    EXPECT_TRUE(none->AddTriangle(t, 1.0f));
    EXPECT_EQ(none->GetPrimitiveCount(), 0u);
    EXPECT_EQ(Frame({none})[0], kBlack);
}

TEST_F(OrvaPrimitiveTest, PerspectiveThenZoomMovePositions)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(8, kOrvaBlendNone);
    // k = 0 and depth = z0 both leave positions where they are.
    batch->SetPerspective(0.0f, 0.0f, 100.0f, 0.0f);
    Rect(batch, 1, 1, 3, 3, kRed, 5000.0f);
    batch->SetPerspective(0.0f, 0.0f, 100.0f, 7.0f);
    Rect(batch, 5, 5, 7, 7, kGreen, 100.0f);
    auto want = Picture("........"
                        ".RR....."
                        ".RR....."
                        "........"
                        "........"
                        ".....GG."
                        ".....GG."
                        "........",
                        kBlack, {{'R', kRed}, {'G', kGreen}});
    auto got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);

    // Factor 1 / ((0 + 65536) + 65536) / 65536) = 0.5 toward (0, 0), then
    // doubled about (1, 1): (2, 2)-(6, 6) becomes (1, 1)-(5, 5).
    batch->Clear();
    batch->SetPerspective(0.0f, 0.0f, -65536.0f, 1.0f);
    batch->SetZoom(1.0f, 1.0f, 2.0f);
    Rect(batch, 2, 2, 6, 6, kBlue, 0.0f);
    want = Picture("........"
                   ".BBBB..."
                   ".BBBB..."
                   ".BBBB..."
                   ".BBBB..."
                   "........"
                   "........"
                   "........",
                   kBlack, {{'B', kBlue}});
    got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);

    // Both off: positions as given.
    batch->Clear();
    batch->DisablePerspective();
    batch->DisableZoom();
    Rect(batch, 6, 0, 8, 1, kWhite, 3.0f);
    got = Frame({batch});
    EXPECT_EQ(got[6], kWhite);
    EXPECT_EQ(got[7], kWhite);
    EXPECT_EQ(got[5], kBlack);
}

TEST_F(OrvaPrimitiveTest, TextureCoordinatesAreImagePixels)
{
    OrvaTexture* texture = OrvaTexture::Create(2, 2, true, nullptr);
    ASSERT_TRUE(texture->IsValid());
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(texture->Lock(&bits, &pitch), 1);
    const uint32_t texels[4] = {kRed, kGreen, kBlue, kWhite};
    const int bytes = platform::FormatBytes(texture->GetFormat());
    for (int i = 0; i < 4; ++i) {
        platform::ArgbToFormat(texture->GetFormat(), texels[i],
                               static_cast<uint8_t*>(bits) + (i / 2) * pitch + (i % 2) * bytes);
    }
    texture->Unlock();
    ASSERT_TRUE(texture->Update());

    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(2, kOrvaBlendNone);
    OrvaTexture* invalid = OrvaTexture::Create(0, 0, true, nullptr);
    batch->SetTexture(invalid);
    batch->SetTexture(nullptr);
    EXPECT_EQ(batch->GetTexture(), nullptr);
    batch->SetTexture(texture);
    EXPECT_EQ(batch->GetTexture(), texture);
    EXPECT_EQ(texture->GetRefCount(), 2);
    // The whole 2 x 2 image over 4 x 4 pixels: each texel covers 2 x 2.
    const OrvaPrimitivePoint q[4] = {P(0, 0, kWhite, 0, 0), P(4, 0, kWhite, 2, 0), P(4, 4, kWhite, 2, 2),
                                     P(0, 4, kWhite, 0, 2)};
    ASSERT_TRUE(batch->AddQuad(q, 0.0f));
    const auto want = Picture("RRGG...."
                              "RRGG...."
                              "BBWW...."
                              "BBWW...."
                              "........"
                              "........"
                              "........"
                              "........",
                              kBlack, {{'R', kRed}, {'G', kGreen}, {'B', kBlue}, {'W', kWhite}});
    const auto got = Frame({batch});
    EXPECT_EQ(got, want) << Describe(got);
    batch->Release();
    EXPECT_EQ(texture->GetRefCount(), 1);
}

TEST_F(OrvaPrimitiveTest, ClipRectangleCutsTheDrawing)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(2, kOrvaBlendSub);
    Rect(batch, 0, 0, 8, 8, 0xFFFFFFFFu);
    const OrvaRect clip{2, 1, 5, 3};
    batch->SetClip(&clip);
    EXPECT_TRUE(batch->IsClipped());
    // Sub of white turns white to black inside the rectangle only.
    const auto want = Picture("........"
                              "..KKK..."
                              "..KKK..."
                              "........"
                              "........"
                              "........"
                              "........"
                              "........",
                              kWhite, {{'K', 0x00000000u}});
    auto got = Frame({batch}, kWhite);
    EXPECT_EQ(got, want) << Describe(got);
    // The viewport is back for what follows.
    OrvaRect vp;
    OrvaDevice::GetViewport(&vp);
    EXPECT_EQ(vp.right, kW);
    EXPECT_EQ(vp.bottom, kH);
    // A rectangle off the screen draws nothing; null clips no more.
    const OrvaRect away{20, 20, 30, 30};
    batch->SetClip(&away);
    EXPECT_EQ(Frame({batch}, kWhite), std::vector<uint32_t>(kW * kH, kWhite));
    batch->SetClip(nullptr);
    EXPECT_FALSE(batch->IsClipped());
    EXPECT_EQ(batch->GetClip().right, 0);
    EXPECT_EQ(Frame({batch}, kWhite)[7 * kW + 7], 0x00000000u);
}

TEST_F(OrvaPrimitiveTest, DeviceResetKeepsTheQueue)
{
    OrvaPrimitive* batch = OrvaPrimitive::CreateTriangles(2, kOrvaBlendNone);
    Rect(batch, 0, 0, 1, 1, kGreen);
    ASSERT_TRUE(batch->HasVertexBuffer());
    OrvaDevice::GetDevice()->SimulateLoss();
    // Reset fails while a default-pool buffer is alive: the walker must drop it.
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(batch->HasVertexBuffer());
    const auto got = Frame({batch});
    EXPECT_EQ(got[0], kGreen);
    EXPECT_EQ(got[1], kBlack);
}

TEST_F(OrvaPrimitiveTest, RenderAllDrawsNewestFirstAndDestroyReleasesAll)
{
    OrvaPrimitive* older = OrvaPrimitive::CreateTriangles(2, kOrvaBlendNone);
    OrvaPrimitive* newer = OrvaPrimitive::CreateTriangles(2, kOrvaBlendNone);
    Rect(older, 0, 0, 2, 1, kRed);
    Rect(newer, 1, 0, 3, 1, kBlue);
    EXPECT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(kBlack);
    OrvaEffect::Begin(kOrvaBlendNone);
    OrvaPrimitive::RenderAll();
    OrvaDevice::EndScene();
    ASSERT_TRUE(OrvaDevice::Present());
    EXPECT_EQ(g_frame[0], kRed);
    EXPECT_EQ(g_frame[1], kRed);   // the older batch drew last
    EXPECT_EQ(g_frame[2], kBlue);
    EXPECT_EQ(OrvaPrimitive::GetCount(), 2);
    OrvaPrimitive::Destroy();
    EXPECT_EQ(OrvaPrimitive::GetCount(), 0);
}

TEST_F(OrvaPrimitiveTest, LogsCreationAndRelease)
{
    const std::string path = ::testing::TempDir() + "primitive_log.txt";
    std::remove(path.c_str());
    OrvaDebug::SetLogPath(path.c_str());
    OrvaPrimitive* batch = OrvaPrimitive::CreateLines(10, kOrvaBlendAdd);
    OrvaPrimitive* odd = OrvaPrimitive::CreatePoints(1, 9);
    const uint32_t id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(batch));
    const uint32_t oddId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(odd));
    batch->Release();
    OrvaDebug::SetLogPath(nullptr);
    std::ifstream in(path, std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char want[512];
    std::snprintf(want, sizeof(want),
                  "○ CreatePrimitive  / ID [0x%08X] / Add Blend / MaxPolygon 10 / MaxVertex 20 / %u KByteUse / "
                  "Complete!\n"
                  "○ CreatePrimitive  / ID [0x%08X] / MaxPolygon 1 / MaxVertex 1 / %u KByteUse / Complete!\n"
                  "● ReleasePrimitive  / ID [0x%08X]\n",
                  id, static_cast<uint32_t>((20 * 28 + 20 * 88 + sizeof(OrvaPrimitive)) / 1024), oddId,
                  static_cast<uint32_t>((28 + 88 + sizeof(OrvaPrimitive)) / 1024), id);
    EXPECT_EQ(log, want);
}

}  // namespace
