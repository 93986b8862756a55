#include "engine/render/primitive3d.h"

#include <gtest/gtest.h>

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
#include "engine/render/camera.h"
#include "tests/engine/render/ortho_view.h"

using namespace orvatest;

namespace {

constexpr int kSize = 8;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;

std::string LogPath()
{
    return testing::TempDir() + "primitive3d_test.log";
}

// A quad of world corners (l, t), (r, t), (r, b), (l, b) at depth z.
void Quad(OrvaVertex3D* q, float l, float t, float r, float b, float z, uint32_t color)
{
    q[0] = {l, t, z, color, 0, 0};
    q[1] = {r, t, z, color, 0, 0};
    q[2] = {r, b, z, color, 0, 0};
    q[3] = {l, b, z, color, 0, 0};
}

// The mask of a filled block of pixels, columns x0..x1 and rows y0..y1.
std::string Block(int x0, int y0, int x1, int y1)
{
    std::string s;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            s += x >= x0 && x <= x1 && y >= y0 && y <= y1 ? '#' : '.';
        }
        s += '\n';
    }
    return s;
}

class Primitive3DTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove(LogPath().c_str());
        // One world unit per pixel, origin at the frame's centre, y up:
        // world (x, y) lands on screen (4 + x, 4 - y).
        camera = StartOrthoView(kSize, kSize, 10.0f);
        OrvaPrimitive3D::Initialize();
    }
    void TearDown() override
    {
        OrvaDebug::SetLogPath(nullptr);
        OrvaPrimitive3D::Destroy();
        StopOrthoView();
        OrvaTexture::SetFullColor(false);
        std::remove(LogPath().c_str());
    }
    static std::vector<uint32_t> Frame(uint32_t background, OrvaPrimitive3D* p)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(background);
        if (p != nullptr) {
            p->Render();
        } else {
            OrvaPrimitive3D::RenderAll();
        }
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }
    OrvaCamera* camera = nullptr;
};

}  // namespace

TEST_F(Primitive3DTest, CreationAndReleaseLogLines)
{
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(10, kOrvaBlendAdd);
    ASSERT_NE(p, nullptr);
    OrvaPrimitive3D* q = OrvaPrimitive3D::CreateLines(3, 9);
    ASSERT_NE(q, nullptr);
    const unsigned kbP = static_cast<unsigned>((24 * 30 + sizeof(OrvaPrimitive3D)) / 1024);
    const unsigned kbQ = static_cast<unsigned>((24 * 6 + sizeof(OrvaPrimitive3D)) / 1024);
    std::string want = "○ CreatePrimitive3D / ID [" + Hex(p) + "] / Add Blend / MaxPolygon 10 / MaxVertex 30 / " +
                       std::to_string(kbP) + " KByteUse / Complete!\n";
    // A blend outside 0 to 7 has no name.
    want += "○ CreatePrimitive3D / ID [" + Hex(q) + "] / MaxPolygon 3 / MaxVertex 6 / " + std::to_string(kbQ) +
            " KByteUse / Complete!\n";
    const std::string idP = Hex(p);
    p->Release();
    want += "● ReleasePrimitive3D  / ID [" + idP + "]\n";
    OrvaPrimitive3D::Destroy();
    want += "\n============================================== Destroy Primitive\n● ReleasePrimitive3D  / ID [" +
            Hex(q) + "]\n";
    EXPECT_EQ(ReadFile(LogPath()), want);
}

TEST_F(Primitive3DTest, CapacityAndVertexCountsAreEnforced)
{
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(3, kOrvaBlendNone);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetCapacity(), 3);
    EXPECT_EQ(p->GetVerticesPerPrimitive(), 3u);
    OrvaVertex3D q[4];
    Quad(q, 0, 1, 1, 0, 1, kRed);
    EXPECT_TRUE(p->AddQuad(q));
    // A quad needs two places; one is left, so the second loses its half.
    EXPECT_TRUE(p->AddQuad(q));
    EXPECT_EQ(p->GetPrimitiveCount(), 3u);
    EXPECT_EQ(p->GetQueuedBytes(), 3u * 3u * 24u);
    OrvaVertex3D t[3] = {q[0], q[1], q[2]};
    EXPECT_FALSE(p->AddPrimitive(t, 3));
    EXPECT_TRUE(p->AddTriangle(t));   // answers true, full or not
    EXPECT_EQ(p->GetPrimitiveCount(), 3u);
    p->Clear();
    EXPECT_EQ(p->GetPrimitiveCount(), 0u);
    EXPECT_EQ(p->GetQueuedBytes(), 0u);

    // A primitive of another size does not fit the batch: refused, and the
    // caller's vertices are not moved.
    OrvaPrimitive3D* lines = OrvaPrimitive3D::CreateLines(4, kOrvaBlendNone);
    OrvaVertex3D three[3] = {{10, 10, 0, 0, 0, 0}, {11, 10, 0, 0, 0, 0}, {12, 10, 0, 0, 0, 0}};
    EXPECT_FALSE(lines->AddPrimitive(three, 3));
    EXPECT_FALSE(lines->AddPrimitive(nullptr, 2));
    EXPECT_EQ(three[0].x, 10.0f);
    EXPECT_TRUE(lines->AddQuad(q));
    EXPECT_EQ(lines->GetPrimitiveCount(), 0u);
    EXPECT_TRUE(lines->AddLine(q));
    EXPECT_EQ(lines->GetPrimitiveCount(), 1u);

    // Capacities the buffers cannot be sized for leave an empty batch.
    OrvaPrimitive3D* bad = OrvaPrimitive3D::CreatePoints(-5, kOrvaBlendNone);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->GetCapacity(), 0);
    EXPECT_TRUE(bad->AddPoint(q));
    EXPECT_EQ(bad->GetPrimitiveCount(), 0u);
    OrvaPrimitive3D* huge = OrvaPrimitive3D::CreateTriangles(0x7FFFFFFF, kOrvaBlendNone);
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->GetCapacity(), 0);
    bad->Render();   // nothing queued, nothing drawn
}

TEST_F(Primitive3DTest, QueuedVerticesTakeThePixelOffsetOnce)
{
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreatePoints(4, kOrvaBlendNone);
    OrvaVertex3D v = {10, 10, 0, kRed, 0, 0};
    EXPECT_TRUE(p->AddPrimitive(&v, 1));
    // Shifted in the caller's array too.
    EXPECT_EQ(v.x, 9.5f);
    EXPECT_EQ(v.y, 9.5f);
    EXPECT_EQ(p->GetVertices()[0].x, 9.5f);

    // The shape adders copy: the caller's quad stays, and the two corners
    // a quad's triangles share are shifted once each time.
    OrvaPrimitive3D* t = OrvaPrimitive3D::CreateTriangles(4, kOrvaBlendNone);
    OrvaVertex3D q[4];
    Quad(q, 0, 2, 2, 0, 1, kRed);
    q[1].color = kGreen;
    EXPECT_TRUE(t->AddQuad(q));
    EXPECT_EQ(q[0].x, 0.0f);
    const OrvaVertex3D* out = t->GetVertices();
    const int order[6] = {0, 1, 2, 2, 3, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[i].x, q[order[i]].x - 0.5f) << i;
        EXPECT_EQ(out[i].y, q[order[i]].y - 0.5f) << i;
        EXPECT_EQ(out[i].color, q[order[i]].color) << i;
    }
}

TEST_F(Primitive3DTest, ShapesTakeTextureCoordinatesInImagePixels)
{
    OrvaTexture::SetFullColor(true);
    OrvaTexture* tex = OrvaTexture::Create(4, 8, true, nullptr);
    ASSERT_TRUE(tex->IsValid());
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(8, kOrvaBlendNone);
    OrvaVertex3D t[3] = {{0, 0, 0, kRed, 2, 4}, {1, 0, 0, kRed, 4, 8}, {0, 1, 0, kRed, 0, 0}};
    p->AddTriangle(t);
    // Without a texture, u and v go through as given.
    EXPECT_EQ(p->GetVertices()[0].u, 2.0f);
    p->SetTexture(tex);
    EXPECT_EQ(tex->GetRefCount(), 2);
    p->AddTriangle(t);
    EXPECT_EQ(p->GetVertices()[3].u, 0.5f);
    EXPECT_EQ(p->GetVertices()[3].v, 0.5f);
    EXPECT_EQ(p->GetVertices()[4].u, 1.0f);

    // An invalid or null texture keeps the one held.
    p->SetTexture(nullptr);
    EXPECT_EQ(p->GetTexture(), tex);
    p->SetTexture(tex);   // the same again: still one reference held
    EXPECT_EQ(tex->GetRefCount(), 2);
    p->Release();
    EXPECT_EQ(tex->GetRefCount(), 1);
}

TEST_F(Primitive3DTest, RibbonsCornersCountsAndCoordinates)
{
    OrvaTexture::SetFullColor(true);
    OrvaTexture* tex = OrvaTexture::Create(16, 16, true, nullptr);
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(64, kOrvaBlendNone);
    const OrvaVertex3D pts[3] = {{0, 0, 0, 0, 0, 0}, {4, 0, 0, 0, 0, 0}, {8, 0, 0, 0, 0, 0}};
    const float widths[3] = {2, 2, 2};
    const int32_t angles[3] = {0, 0, 0};
    const uint32_t colors[3] = {kRed, kGreen, 0xFF0000FFu};
    const int32_t source[4] = {0, 0, 8, 12};

    p->AddRibbon(2, pts, widths, angles, colors, source, 3);
    EXPECT_EQ(p->GetPrimitiveCount(), 4u);
    p->Clear();
    p->AddRibbon(0, pts, widths, angles, colors, source, 3);
    EXPECT_EQ(p->GetPrimitiveCount(), 12u);
    // Pass 0, first segment: L(0), R(0), L(1) with the width along y.
    const OrvaVertex3D* v = p->GetVertices();
    const float o = -0.5f;
    EXPECT_EQ(v[0].x, 0 + o);
    EXPECT_EQ(v[0].y, -2 + o);
    EXPECT_EQ(v[1].y, 2 + o);
    EXPECT_EQ(v[2].x, 4 + o);
    EXPECT_EQ(v[2].y, -2 + o);
    EXPECT_EQ(v[0].color, kRed);
    EXPECT_EQ(v[2].color, kGreen);
    // Second triangle: L(1), R(1), R(0).
    EXPECT_EQ(v[5].x, 0 + o);
    EXPECT_EQ(v[5].y, 2 + o);
    // Pass 2 starts after 4 triangles of pass 0 and 4 of pass 1: width
    // along x.
    const OrvaVertex3D* w = v + 8 * 3;
    EXPECT_EQ(w[0].x, -2 + o);
    EXPECT_EQ(w[0].z, 0.0f);
    EXPECT_EQ(w[1].x, 2 + o);
    // Without the texture nothing is scaled; here u is (0 + 0.5) / 16 on
    // the left, (8 - 0.5) / 16 on the right; v runs from (0 + 0.5) / 16 at
    // the first point to (12 - 0.5) / 16 at the last.
    EXPECT_EQ(v[0].u, 0.0f);
    p->Clear();
    p->SetTexture(tex);
    p->AddRibbon(2, pts, widths, angles, colors, source, 3);
    v = p->GetVertices();
    EXPECT_FLOAT_EQ(v[0].u, 0.5f / 16);
    EXPECT_FLOAT_EQ(v[1].u, 7.5f / 16);
    EXPECT_FLOAT_EQ(v[0].v, 0.5f / 16);
    EXPECT_FLOAT_EQ(v[2].v, 6.0f / 16);    // halfway
    EXPECT_FLOAT_EQ(v[9].v, 11.5f / 16);   // L(2) of the second segment

    // A quarter-turned width in pass 0 lies along -x.
    p->Clear();
    const int32_t turned[3] = {16384, 16384, 16384};
    p->AddRibbon(2, pts, widths, turned, colors, nullptr, 2);
    // Mode 2 is pass 2: d = (q, 0, p) = (0, 0, -2).
    EXPECT_NEAR(p->GetVertices()[0].z, 2.0f, 1e-6f);
    EXPECT_NEAR(p->GetVertices()[0].x, -0.5f, 1e-6f);

    // Too few points or an unknown mode queue nothing.
    p->Clear();
    EXPECT_TRUE(p->AddRibbon(0, pts, widths, angles, colors, source, 1));
    EXPECT_TRUE(p->AddRibbon(3, pts, widths, angles, colors, source, 3));
    EXPECT_TRUE(p->AddRibbon(-1, pts, widths, angles, colors, source, 3));
    EXPECT_TRUE(p->AddRibbon(0, nullptr, widths, angles, colors, source, 3));
    EXPECT_EQ(p->GetPrimitiveCount(), 0u);
}

TEST_F(Primitive3DTest, FrameTurnsAndMovesOnlyThroughUpdateTransform)
{
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(4, kOrvaBlendNone);
    p->Yaw(16384);
    OrvaVector r, f;
    p->GetRight(&r);
    p->GetFront(&f);
    EXPECT_NEAR(r.x, 0.0f, 1e-6f);
    EXPECT_NEAR(r.z, -1.0f, 1e-6f);
    EXPECT_NEAR(f.x, 1.0f, 1e-6f);
    EXPECT_NEAR(f.z, 0.0f, 1e-6f);
    p->ResetTransform();

    // A 2 x 2 square at world (0..2, 0..2) after the offset spans screen x
    // 3.5 to 5.5 and y 2.5 to 4.5: pixels x 4..5, y 3..4.
    OrvaVertex3D q[4];
    Quad(q, 0, 2, 2, 0, 1, kRed);
    p->AddQuad(q);
    EXPECT_EQ(Mask(Frame(kBlack, p), kRed), Block(4, 3, 5, 4));
    p->Translate(-3.0f, 1.0f, 0.0f);
    EXPECT_EQ(Mask(Frame(kBlack, p), kRed), Block(4, 3, 5, 4));
    p->UpdateTransform();
    EXPECT_EQ(Mask(Frame(kBlack, p), kRed), Block(1, 2, 2, 3));
    // A half turn about Z: model corners -0.5..1.5 land on -1.5..0.5,
    // screen x 2.5..4.5 and y 3.5..5.5.
    p->ResetTransform();
    p->Roll(32768);
    p->UpdateTransform();
    EXPECT_EQ(Mask(Frame(kBlack, p), kRed), Block(3, 4, 4, 5));
}

TEST_F(Primitive3DTest, PointsLandOnPixelCentres)
{
    OrvaPrimitive3D* points = OrvaPrimitive3D::CreatePoints(4, kOrvaBlendNone);
    // World (0.5, -0.5) goes to (0, -1) and lands on pixel (4, 5).
    OrvaVertex3D v = {0.5f, -0.5f, 1.0f, kGreen, 0, 0};
    points->AddPoint(&v);
    EXPECT_EQ(Mask(Frame(kBlack, points), kGreen), Block(4, 5, 4, 5));
}

TEST_F(Primitive3DTest, BlendModesAndDrawOrder)
{
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    OrvaPrimitive3D* older = OrvaPrimitive3D::CreateTriangles(2, kOrvaBlendNone);
    OrvaPrimitive3D* newer = OrvaPrimitive3D::CreateTriangles(2, kOrvaBlendNone);
    OrvaVertex3D q[4];
    Quad(q, -4, 4, 4, -4, 1, kRed);
    older->AddQuad(q);
    Quad(q, -4, 4, 4, -4, 1, kGreen);
    newer->AddQuad(q);
    // Newest first: the older batch is drawn last and covers the newer at
    // equal depth.
    std::vector<uint32_t> frame = Frame(kBlack, nullptr);
    EXPECT_EQ(frame[3 * kSize + 3], kRed);
    older->Release();
    newer->Release();

    // Sub takes the colour away from the frame.
    OrvaPrimitive3D* sub = OrvaPrimitive3D::CreateTriangles(2, kOrvaBlendSub);
    Quad(q, -4, 4, 4, -4, 1, 0xFF203040u);
    sub->AddQuad(q);
    frame = Frame(0xFF808080u, sub);
    EXPECT_EQ(frame[3 * kSize + 3] & 0xFFFFFFu, 0x605040u);
    sub->Release();

    OrvaPrimitive3D* add = OrvaPrimitive3D::CreateTriangles(2, kOrvaBlendAdd);
    Quad(q, -4, 4, 4, -4, 1, 0xFF203040u);
    add->AddQuad(q);
    frame = Frame(0xFF808080u, add);
    EXPECT_EQ(frame[3 * kSize + 3] & 0xFFFFFFu, 0xA0B0C0u);
}

TEST_F(Primitive3DTest, DeviceResetKeepsThePicture)
{
    OrvaPrimitive3D* p = OrvaPrimitive3D::CreateTriangles(8, kOrvaBlendNone);
    const OrvaVertex3D pts[2] = {{0, 0, -2, 0, 0, 0}, {0, 0, 2, 0, 0, 0}};
    const float widths[2] = {1, 1};
    const int32_t angles[2] = {0, 0};
    const uint32_t colors[2] = {kRed, kRed};
    p->AddRibbon(2, pts, widths, angles, colors, nullptr, 2);
    // Turned so that the XZ ribbon faces the camera, and moved in front of
    // its near plane.
    p->Pitch(16384);
    p->Translate(0.0f, 0.0f, 1.0f);
    p->UpdateTransform();
    // The offset moves model x and y: model x -1.5..0.5 is screen x
    // 2.5..4.5; model z -2..2 turns into world y 2..-2, screen y 2..6 (the
    // top edge on the pixel centres of row 2 takes them, the bottom edge on
    // row 6 does not).
    const std::vector<uint32_t> before = Frame(kBlack, p);
    EXPECT_EQ(Mask(before, kRed),
              Block(3, 2, 4, 5));

    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(p->HasVertexBuffer());
    EXPECT_EQ(p->GetPrimitiveCount(), 2u);
    EXPECT_EQ(Frame(kBlack, p), before);

    // While lost a batch has no buffer and draws nothing, without harm.
    OrvaPrimitive3D::OnLostDevice();
    EXPECT_FALSE(p->HasVertexBuffer());
    EXPECT_EQ(Mask(Frame(kBlack, p), kRed).find('#'), std::string::npos);
    OrvaPrimitive3D::OnResetDevice();
    EXPECT_EQ(Frame(kBlack, p), before);
}
