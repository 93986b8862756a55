#include "engine/core/effect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDevice2D(4, 2);
    }
    void TearDown() override
    {
        StopDevice2D();
    }
};

struct TexVertex {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
};

}  // namespace

TEST_F(EffectTest, BeginSetsTheTwoDimensionalStates)
{
    OrvaDevice::SetRenderState(platform::RsZEnable, 1);
    OrvaDevice::SetRenderState(platform::RsAlphaTestEnable, 1);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullCcw);
    OrvaDevice::SetRenderState(platform::RsFillMode, platform::FillWireframe);
    OrvaTexture* t = OrvaTexture::Create(2, 2, true, nullptr);
    OrvaDevice::SetTexture(t, 1);
    OrvaEffect::Begin(kOrvaBlendNormal);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsZEnable), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsZWriteEnable), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsAlphaTestEnable), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsLighting), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFogEnable), 0u);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsCullMode), static_cast<uint32_t>(platform::CullNone));
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFillMode), static_cast<uint32_t>(platform::FillSolid));
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsShadeMode), static_cast<uint32_t>(platform::ShadeGouraud));
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsSrcBlend), static_cast<uint32_t>(platform::BlendSrcAlpha));
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsDestBlend), static_cast<uint32_t>(platform::BlendInvSrcAlpha));
    EXPECT_EQ(OrvaDevice::GetTexture(1), nullptr);
    EXPECT_EQ(OrvaDevice::GetDevice()->GetTexture(1), nullptr);
    EXPECT_EQ(OrvaDevice::GetDevice()->GetVertexShader(), 0x44u);
    EXPECT_EQ(OrvaEffect::GetMode(), kOrvaBlendNormal);
    OrvaEffect::End();
}

TEST_F(EffectTest, SubtractsATexturedBatchFromTheFrame)
{
    // Frame 0x80C08020; a texture 0x80402010 drawn with Sub: every channel
    // becomes d - round(s a / 255): red 192 - 32, green 128 - 16, blue
    // 32 - 8, alpha 128 - 64.
    OrvaTexture::SetFullColor(true);
    OrvaTexture* t = OrvaTexture::Create(1, 1, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(t->Lock(&bits, &pitch), 1);
    *static_cast<uint32_t*>(bits) = 0x80402010u;
    t->Unlock();
    ASSERT_TRUE(t->Update());
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    ASSERT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(0x80C08020u);
    OrvaEffect::Begin(kOrvaBlendSub);
    // The Add preset is left for the batch.
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsDestBlend), static_cast<uint32_t>(platform::BlendOne));
    OrvaDevice::GetDevice()->SetVertexShader(0x144);
    OrvaDevice::SetTexture(t, 0);
    const TexVertex v[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFFu, 0.5f, 0.5f},
                            {1.5f, -0.5f, 0, 1, 0xFFFFFFFFu, 0.5f, 0.5f},
                            {1.5f, 1.5f, 0, 1, 0xFFFFFFFFu, 0.5f, 0.5f},
                            {-0.5f, 1.5f, 0, 1, 0xFFFFFFFFu, 0.5f, 0.5f}};
    ASSERT_EQ(OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleFan, 2, v, sizeof(TexVertex)),
              platform::kGfxOk);
    OrvaEffect::End();
    OrvaDevice::EndScene();
    ASSERT_TRUE(OrvaDevice::Present());
    const uint32_t hit = (0x80u - 64u) << 24 | (192u - 32u) << 16 | (128u - 16u) << 8 | (32u - 8u);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(g_frame[y * 4 + x], x < 2 ? hit : 0x80C08020u) << x << "," << y;
        }
    }
    OrvaTexture::SetFullColor(false);
}

TEST_F(EffectTest, SubClampsAtZero)
{
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    ASSERT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(0xFF102030u);
    OrvaEffect::Begin(kOrvaBlendSub);
    const struct {
        float x, y, z, rhw;
        uint32_t c;
    } v[4] = {{-0.5f, -0.5f, 0, 1, 0xFF204020u}, {3.5f, -0.5f, 0, 1, 0xFF204020u},
              {3.5f, 1.5f, 0, 1, 0xFF204020u},   {-0.5f, 1.5f, 0, 1, 0xFF204020u}};
    OrvaDevice::GetDevice()->DrawPrimitiveUP(platform::PrimTriangleFan, 2, v, sizeof(v[0]));
    OrvaEffect::End();
    OrvaDevice::EndScene();
    ASSERT_TRUE(OrvaDevice::Present());
    // max(0, d - s): red 0x10 - 0x20 and green 0x20 - 0x40 clamp to 0, blue 0x30 - 0x20, alpha 255 - 255.
    EXPECT_EQ(g_frame[0], 0x00000010u);
    EXPECT_EQ(g_frame[7], 0x00000010u);
}

TEST_F(EffectTest, OtherModesOnlySetThePreset)
{
    OrvaEffect::Begin(kOrvaBlendBright);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsSrcBlend), static_cast<uint32_t>(platform::BlendDestColor));
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsDestBlend), static_cast<uint32_t>(platform::BlendOne));
    OrvaEffect::End();
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsSrcBlend), static_cast<uint32_t>(platform::BlendDestColor));
}
