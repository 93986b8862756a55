#include "engine/render/particle.h"

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
    return testing::TempDir() + "particle_test.log";
}

void ExpectAt(const OrvaVertex3D& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-5f);
    EXPECT_NEAR(v.y, y, 1e-5f);
    EXPECT_NEAR(v.z, z, 1e-5f);
}

class ParticleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove(LogPath().c_str());
        // At the origin looking along +z, one world unit per pixel.
        camera = StartOrthoView(kSize, kSize, 20.0f);
        ASSERT_TRUE(OrvaParticle::Initialize());
    }
    void TearDown() override
    {
        OrvaDebug::SetLogPath(nullptr);
        OrvaParticle::Destroy();
        StopOrthoView();
        OrvaTexture::SetFullColor(false);
        std::remove(LogPath().c_str());
    }
    void MoveEye(float x, float y, float z)
    {
        camera->Reset();
        camera->Translate(x, y, z);
        camera->UpdateView();
        camera->Apply();
    }
    static std::vector<uint32_t> Frame(OrvaParticle* p)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kBlack);
        p->Render();
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }
    OrvaCamera* camera = nullptr;
};

}  // namespace

TEST_F(ParticleTest, BillboardsFaceTheEye)
{
    OrvaParticle* p = OrvaParticle::Create(4, kOrvaBlendNone);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->AddParticle(0, 0, 10, 2, 4, nullptr, kRed));
    const OrvaVertex3D* v = p->GetVertices();
    // (c0, c1, c2) then (c2, c3, c1).
    ExpectAt(v[0], -1, 2, 10);
    ExpectAt(v[1], 1, 2, 10);
    ExpectAt(v[2], -1, -2, 10);
    ExpectAt(v[3], -1, -2, 10);
    ExpectAt(v[4], 1, -2, 10);
    ExpectAt(v[5], 1, 2, 10);
    EXPECT_EQ(v[4].color, kRed);

    // A quarter turn takes the top-left offset (-1, 2) to (-2, -1).
    p->Clear();
    EXPECT_TRUE(p->AddRotatedParticle(0, 0, 10, 2, 4, nullptr, kRed, 16384));
    ExpectAt(p->GetVertices()[0], -2, -1, 10);

    // Looking straight down from (0, 10, 0): right +x, up +z.
    MoveEye(0, 10, 0);
    p->Clear();
    p->AddParticle(0, 0, 0, 2, 4, nullptr, kRed);
    ExpectAt(p->GetVertices()[0], -1, 0, 2);
    ExpectAt(p->GetVertices()[4], 1, 0, -2);

    // Queued particles keep facing the eye they were queued for.
    OrvaVertex3D before[6];
    std::memcpy(before, p->GetVertices(), sizeof(before));
    MoveEye(10, 0, 0);
    EXPECT_EQ(std::memcmp(before, p->GetVertices(), sizeof(before)), 0);
    // Refilled, it faces the new eye (looking along -x: right is +z).
    p->Clear();
    p->AddParticle(0, 0, 0, 2, 4, nullptr, kRed);
    ExpectAt(p->GetVertices()[0], 0, 2, -1);

    // A particle at the eye has no direction to face and is left out.
    p->Clear();
    EXPECT_TRUE(p->AddParticle(10, 0, 0, 2, 2, nullptr, kRed));
    EXPECT_EQ(p->GetTriangleCount(), 0u);
}

TEST_F(ParticleTest, CapacityAndLogLines)
{
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaParticle* p = OrvaParticle::Create(3, kOrvaBlendOneOne);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetCapacity(), 6u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(p->AddParticle(0, 0, 5, 1, 1, nullptr, kRed));
    }
    EXPECT_TRUE(p->AddParticle(0, 0, 5, 1, 1, nullptr, kRed));   // full, still true
    EXPECT_EQ(p->GetTriangleCount(), 6u);
    EXPECT_EQ(p->GetQueuedBytes(), 6u * 72u);
    p->Clear();
    // After a single triangle, the third particle keeps only its first half.
    const OrvaVertex3D t[3] = {};
    EXPECT_TRUE(p->AddTriangle(t));
    p->AddParticle(0, 0, 5, 1, 1, nullptr, kRed);
    p->AddParticle(0, 0, 5, 1, 1, nullptr, kRed);
    p->AddParticle(0, 0, 5, 1, 1, nullptr, kRed);
    EXPECT_EQ(p->GetTriangleCount(), 6u);
    EXPECT_FALSE(p->AddTriangle(t));

    // Counts the buffers cannot be sized for leave an empty batch.
    OrvaParticle* bad = OrvaParticle::Create(-1, kOrvaBlendNone);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->GetCapacity(), 0u);
    EXPECT_TRUE(bad->AddParticle(0, 0, 5, 1, 1, nullptr, kRed));
    EXPECT_EQ(bad->GetTriangleCount(), 0u);
    bad->Render();

    char id[16];
    std::snprintf(id, sizeof(id), "%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    p->Release();
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const unsigned kb = static_cast<unsigned>(((6 * 24 + 160) * 6 + sizeof(OrvaParticle)) / 1024);
    const std::string created = std::string("○ CreatePerticle  / ID [0x") + id +
                                "] / OneOne Blend / MaxPolygon 6 / MaxVertex 18 / " + std::to_string(kb) +
                                " KByteUse / Complete!\n";
    EXPECT_EQ(s.str().rfind(created, 0), 0u) << s.str();
    EXPECT_NE(s.str().find(std::string("● ReleasePerticle  / ID [0x") + id + "]\n"), std::string::npos);
}

TEST_F(ParticleTest, TextureCoordinatesAndTexture)
{
    OrvaTexture::SetFullColor(true);
    OrvaTexture* tex = OrvaTexture::Create(4, 8, true, nullptr);
    ASSERT_TRUE(tex->IsValid());
    OrvaParticle* p = OrvaParticle::Create(2, kOrvaBlendNone);
    p->SetTexture(tex);
    EXPECT_EQ(tex->GetRefCount(), 2);
    const int32_t source[4] = {0, 2, 2, 6};
    p->AddParticle(0, 0, 5, 1, 1, source, kRed);
    const OrvaVertex3D* v = p->GetVertices();
    // The source shrinks by the texel offset (0.5) on each side.
    EXPECT_FLOAT_EQ(v[0].u, 0.5f / 4);
    EXPECT_FLOAT_EQ(v[0].v, 2.5f / 8);
    EXPECT_FLOAT_EQ(v[4].u, 1.5f / 4);
    EXPECT_FLOAT_EQ(v[4].v, 5.5f / 8);
    // Null removes the texture and lets its reference go.
    p->SetTexture(nullptr);
    EXPECT_EQ(p->GetTexture(), nullptr);
    EXPECT_EQ(tex->GetRefCount(), 1);
}

TEST_F(ParticleTest, DrawnWhereTheyStandAndKeptUntilCleared)
{
    OrvaParticle* p = OrvaParticle::Create(4, kOrvaBlendNone);
    // 3 x 1 at (0, 0, 5): screen x 2.5 to 5.5, y 3.5 to 4.5. No pixel offset.
    p->AddParticle(0, 0, 5, 3, 1, nullptr, kRed);
    // 1 x 5 just behind it, turned a quarter: 5 wide, 1 high, screen x 1.5
    // to 6.5; hidden by the first where they overlap. (Particles off the
    // axis turn toward the eye, so they stay on it here.)
    p->AddRotatedParticle(0, 0, 6, 1, 5, nullptr, kGreen, 16384);
    const std::string red = "........\n"
                            "........\n"
                            "........\n"
                            "........\n"
                            "...###..\n"
                            "........\n"
                            "........\n"
                            "........\n";
    const std::string green = "........\n"
                              "........\n"
                              "........\n"
                              "........\n"
                              "..#...#.\n"
                              "........\n"
                              "........\n"
                              "........\n";
    const std::vector<uint32_t> frame = Frame(p);
    EXPECT_EQ(Mask(frame, kRed), red);
    EXPECT_EQ(Mask(frame, kGreen), green);
    // Rendering keeps the batch: the same picture again.
    EXPECT_EQ(Frame(p), frame);

    // Device loss and reset: a new buffer, filled at the next render.
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(p->HasVertexBuffer());
    EXPECT_EQ(Frame(p), frame);

    p->Clear();
    EXPECT_EQ(Mask(Frame(p), kRed).find('#'), std::string::npos);
}

TEST_F(ParticleTest, SubBlendTakesColourAway)
{
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    OrvaParticle* p = OrvaParticle::Create(1, kOrvaBlendSub);
    p->AddParticle(0, 0, 5, 8, 8, nullptr, 0xFF102030u);
    EXPECT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(0xFF808080u);
    OrvaParticle::RenderAll();
    OrvaDevice::EndScene();
    EXPECT_TRUE(OrvaDevice::Present());
    EXPECT_EQ(g_frame[3 * kSize + 3] & 0xFFFFFFu, 0x706050u);
    // The particle states stay set.
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsLighting), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsCullMode), static_cast<uint32_t>(platform::CullNone));
}
