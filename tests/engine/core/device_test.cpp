#include "engine/core/device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "tests/engine/headless_frame.h"
#include "tests/platform/gfx/busy2d_scene.h"

using namespace orvatest;

namespace {

class DeviceTest : public ::testing::Test {
protected:
    void Start(int w, int h)
    {
        StartDevice2D(w, h);
        OrvaDevice::GetDevice()->SetThreadCount(2);
    }
    void TearDown() override
    {
        StopDevice2D();
    }
    // A quad of one colour over pixels [l, r) x [t, b), drawn as the 2D
    // modules draw: pre-transformed, moved by the pixel offset.
    static void Quad(int l, int t, int r, int b, uint32_t color)
    {
        const float o = OrvaTexture::GetPixelOffset();
        const struct {
            float x, y, z, rhw;
            uint32_t c;
        } v[4] = {{l + o, t + o, 0, 1, color}, {r + o, t + o, 0, 1, color}, {r + o, b + o, 0, 1, color},
                  {l + o, b + o, 0, 1, color}};
        OrvaDevice::GetDevice()->SetVertexShader(0x44);
        ASSERT_EQ(OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleFan, 2, v, sizeof(v[0])),
                  platform::kGfxOk);
    }
};

int g_order[8];
int g_orderCount = 0;
void LostA() { g_order[g_orderCount++] = 1; }
void LostB() { g_order[g_orderCount++] = 2; }
void ResetA() { g_order[g_orderCount++] = 3; }
void ResetB() { g_order[g_orderCount++] = 4; }
int g_failures = 0;
void CountFailure() { ++g_failures; }

}  // namespace

TEST_F(DeviceTest, RenderStateCacheSkipsUnchangedValues)
{
    Start(4, 4);
    platform::SoftDevice* dev = OrvaDevice::GetDevice();
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    uint32_t v = 0;
    dev->GetRenderState(platform::RsAlphaBlendEnable, &v);
    EXPECT_EQ(v, 1u);
    // Changed behind the cache's back: the same value is not sent again.
    dev->SetRenderState(platform::RsAlphaBlendEnable, 0);
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    dev->GetRenderState(platform::RsAlphaBlendEnable, &v);
    EXPECT_EQ(v, 0u);
    OrvaDevice::SetTextureStageState(2, platform::TssAddressU, platform::AddressClamp);
    dev->SetTextureStageState(2, platform::TssAddressU, platform::AddressWrap);
    OrvaDevice::SetTextureStageState(2, platform::TssAddressU, platform::AddressClamp);
    dev->GetTextureStageState(2, platform::TssAddressU, &v);
    EXPECT_EQ(v, static_cast<uint32_t>(platform::AddressWrap));
    EXPECT_EQ(OrvaDevice::GetTextureStageState(2, platform::TssAddressU), static_cast<uint32_t>(platform::AddressClamp));
    // Out-of-range numbers are refused without touching anything.
    OrvaDevice::SetRenderState(256, 5);
    OrvaDevice::SetRenderState(-1, 5);
    OrvaDevice::SetTextureStageState(4, 1, 1);
    OrvaDevice::SetTextureStageState(0, 300, 1);
    OrvaDevice::SetTexture(nullptr, 4);
    OrvaDevice::SetTexture(nullptr, -1);
    EXPECT_EQ(OrvaDevice::GetRenderState(256), 0u);
    EXPECT_EQ(OrvaDevice::GetTexture(9), nullptr);
}

TEST_F(DeviceTest, BlendPresetsOnKnownColours)
{
    Start(4, 4);
    struct Case {
        int mode;
        uint32_t want;
    };
    // Source 0x80402010 over 0x40C08020 (values worked out in the comments).
    const Case cases[] = {
        {kOrvaBlendNone, 0x80402010u},
        {kOrvaBlendNormal, 0x60805018u},   // round((s a + d (255 - a)) / 255)
        {kOrvaBlendAdd, 0x80E09028u},      // d + round(s a / 255)
        {kOrvaBlendMul, 0x20301002u},      // round(d s / 255)
        {kOrvaBlendOneOne, 0xC0FFA030u},   // min(255, s + d)
        {kOrvaBlendBright, 0x60F09022u},   // d + round(d s / 255)
        {kOrvaBlendRevease, 0x6010100Eu},  // round(s (255 - d) / 255)
    };
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    for (const Case& c : cases) {
        ASSERT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(0x40C08020u);
        OrvaEffect::Begin(c.mode);
        Quad(0, 0, 4, 4, 0x80402010u);
        OrvaEffect::End();
        OrvaDevice::EndScene();
        ASSERT_TRUE(OrvaDevice::Present());
        EXPECT_EQ(g_frame[5], c.want) << "mode " << c.mode << std::hex << " got " << g_frame[5];
    }
}

TEST_F(DeviceTest, SubAndOutOfRangeModesLeaveTheFactorsAlone)
{
    Start(2, 2);
    OrvaDevice::SetBlendMode(kOrvaBlendMul);
    for (int mode : {3, -1, 8, 100}) {
        OrvaDevice::SetBlendMode(mode);
        EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsSrcBlend), static_cast<uint32_t>(platform::BlendZero));
        EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsDestBlend), static_cast<uint32_t>(platform::BlendSrcColor));
    }
}

TEST_F(DeviceTest, VertexShaderHandles)
{
    Start(2, 2);
    EXPECT_EQ(OrvaDevice::SetVertexShader(0x142), 1);
    EXPECT_EQ(OrvaDevice::GetDevice()->GetVertexShader(), 0x142u);
    EXPECT_EQ(OrvaDevice::SetVertexShader(0x40), 0);   // no position: not a format
    EXPECT_EQ(OrvaDevice::GetDevice()->GetVertexShader(), 0x142u);
    EXPECT_EQ(OrvaDevice::SetVertexShader(0), 1);
    ASSERT_TRUE(OrvaDevice::BeginScene());
    const float v[12] = {};
    EXPECT_EQ(OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleList, 1, v, 16), platform::kGfxInvalidCall);
    OrvaDevice::EndScene();
}

TEST_F(DeviceTest, TextureKeyIsForgottenAtBeginScene)
{
    Start(2, 2);
    EXPECT_EQ(OrvaDevice::IsTextureCurrent(7), 0);
    EXPECT_EQ(OrvaDevice::IsTextureCurrent(7), 1);
    EXPECT_EQ(OrvaDevice::IsTextureCurrent(8), 0);
    EXPECT_EQ(OrvaDevice::IsTextureCurrent(7), 0);
    ASSERT_TRUE(OrvaDevice::BeginScene());
    EXPECT_EQ(OrvaDevice::IsTextureCurrent(7), 0);
    OrvaDevice::EndScene();
}

TEST_F(DeviceTest, QueriesOfTheDevice)
{
    Start(64, 48);
    OrvaRect vp;
    OrvaDevice::GetViewport(&vp);
    EXPECT_EQ(vp.left, 0);
    EXPECT_EQ(vp.top, 0);
    EXPECT_EQ(vp.right, 64);
    EXPECT_EQ(vp.bottom, 48);
    OrvaDevice::GetViewport(nullptr);
    EXPECT_EQ(OrvaDevice::GetMaxSkinBones(), 23);
    EXPECT_GE(OrvaDevice::GetMaxTextureWidth(), 2048);
    EXPECT_EQ(OrvaDevice::IsSoftwareVertexProcessing(), 1);
    OrvaDevice::SetFog(0xFF808080u, 10.0f, 250.0f);
    EXPECT_EQ(OrvaDevice::GetFogStart(), 10.0f);
    EXPECT_EQ(OrvaDevice::GetFogEnd(), 250.0f);
    EXPECT_STREQ(OrvaDevice::GetErrorString(platform::kGfxDeviceLost, 0), "デバイスが失われていて、まだリセットできません");
    EXPECT_STRNE(OrvaDevice::GetErrorString(platform::kGfxInvalidCall), OrvaDevice::GetErrorString(12345));
    EXPECT_EQ(OrvaTexture::GetTexelOffset(), 0.5f);
    EXPECT_EQ(OrvaTexture::GetPixelOffset(), -0.5f);
}

TEST_F(DeviceTest, InitializeRefusesAnImpossibleFrame)
{
    OrvaDevice::Configure(0, 480, true, nullptr);
    EXPECT_FALSE(OrvaDevice::Initialize());
    EXPECT_EQ(OrvaDevice::GetDevice(), nullptr);
    OrvaDevice::Configure(8, 8, true, nullptr);
    EXPECT_TRUE(OrvaDevice::Initialize());
    OrvaTexture::Initialize();
    OrvaEffect::Initialize();
}

TEST_F(DeviceTest, ResetCallsWalkersInOrderAndSendsTheCachedStatesAgain)
{
    Start(8, 8);
    g_orderCount = 0;
    OrvaDevice::AddResetWalkers(&LostA, &ResetA);
    OrvaDevice::AddResetWalkers(&LostB, &ResetB);
    OrvaDevice::AddResetWalkers(&LostA, &ResetA);   // listed once only
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullCw);
    OrvaDevice::GetDevice()->SimulateLoss(2);
    ASSERT_TRUE(OrvaDevice::Reset());
    ASSERT_EQ(g_orderCount, 4);
    EXPECT_EQ(g_order[0], 1);
    EXPECT_EQ(g_order[1], 2);
    EXPECT_EQ(g_order[2], 3);
    EXPECT_EQ(g_order[3], 4);
    uint32_t cull = 0;
    OrvaDevice::GetDevice()->GetRenderState(platform::RsCullMode, &cull);
    EXPECT_EQ(cull, static_cast<uint32_t>(platform::CullCw));
    EXPECT_EQ(OrvaDevice::GetDevice()->TestCooperativeLevel(), platform::kGfxOk);
}

TEST_F(DeviceTest, PresentOnALostDeviceResetsIt)
{
    Start(4, 4);
    OrvaTexture* t = OrvaTexture::Create(4, 4, true, nullptr);
    ASSERT_TRUE(t->IsValid());
    OrvaDevice::GetDevice()->SimulateLoss();
    EXPECT_FALSE(OrvaDevice::Present());
    EXPECT_EQ(OrvaDevice::GetDevice()->TestCooperativeLevel(), platform::kGfxOk);
    EXPECT_TRUE(t->IsValid());
    ASSERT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(0xFF112233u);
    OrvaDevice::EndScene();
    EXPECT_TRUE(OrvaDevice::Present());
    EXPECT_EQ(g_frame[0], 0xFF112233u);
}

TEST_F(DeviceTest, ResetGivesUpAfterTenTries)
{
    Start(4, 4);
    g_failures = 0;
    OrvaDevice::SetFailureHandler(&CountFailure);
    OrvaDevice::GetDevice()->SimulateLoss(50);
    EXPECT_FALSE(OrvaDevice::Reset());
    EXPECT_EQ(g_failures, 1);
    // Ten cooperative-level checks were spent; the rest of the loss remains.
    int lostChecks = 0;
    while (OrvaDevice::GetDevice()->TestCooperativeLevel() == platform::kGfxDeviceLost) {
        ++lostChecks;
    }
    EXPECT_EQ(lostChecks, 40);
    OrvaDevice::SetFailureHandler(nullptr);
}

TEST_F(DeviceTest, BusyFrameThroughTheEngine)
{
    Start(busy2d::kWidth, busy2d::kHeight);
    OrvaTexture::SetFullColor(true);
    OrvaTexture* bg = OrvaTexture::Create(busy2d::kWidth, busy2d::kHeight, false, nullptr);
    OrvaTexture* sprites[3] = {OrvaTexture::Create(16, 16, true, nullptr), OrvaTexture::Create(32, 32, true, nullptr),
                               OrvaTexture::Create(64, 64, true, nullptr)};
    auto fill = [](OrvaTexture* t, const std::vector<uint32_t>& px) {
        void* bits = nullptr;
        int32_t pitch = 0;
        ASSERT_EQ(t->Lock(&bits, &pitch), 1);
        for (int y = 0; y < t->GetHeight(); ++y) {
            std::memcpy(static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * pitch,
                        &px[static_cast<size_t>(y) * t->GetWidth()], static_cast<size_t>(t->GetWidth()) * 4);
        }
        t->Unlock();
        ASSERT_TRUE(t->Update());
    };
    fill(bg, busy2d::Background());
    for (int g = 0; g < 3; ++g) {
        fill(sprites[g], busy2d::Sprite(16 << g));
    }
    const std::vector<busy2d::Quad> quads = busy2d::Quads();
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(0xFF000000u);
        OrvaDevice::SetRenderState(platform::RsZEnable, 0);
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        OrvaDevice::GetDevice()->SetVertexShader(0x144);
        std::vector<busy2d::Vertex> v;
        busy2d::AppendQuad(v, 0, 0, busy2d::kWidth, busy2d::kHeight, busy2d::kWidth, busy2d::kHeight);
        OrvaDevice::SetBlendMode(kOrvaBlendNone);
        OrvaDevice::SetTexture(bg, 0);
        OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleList, 2, v.data(), sizeof(busy2d::Vertex));
        for (int g = 0; g < 3; ++g) {
            v.clear();
            for (const busy2d::Quad& q : quads) {
                if (q.size == (16 << g)) {
                    busy2d::AppendQuad(v, q.x, q.y, q.size, q.size, q.size, q.size);
                }
            }
            OrvaDevice::SetBlendMode(g == 2 ? kOrvaBlendAdd : kOrvaBlendNormal);
            OrvaDevice::SetTexture(sprites[g], 0);
            OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleList, static_cast<uint32_t>(v.size() / 3),
                                                     v.data(), sizeof(busy2d::Vertex));
        }
        OrvaDevice::EndScene();
        ASSERT_TRUE(OrvaDevice::Present());
        EXPECT_EQ(busy2d::HashRgb(g_frame.data(), busy2d::kWidth, busy2d::kHeight, busy2d::kWidth * 4),
                  busy2d::kExpectedHash)
            << "frame " << frame;
    }
    OrvaTexture::SetFullColor(false);
}
