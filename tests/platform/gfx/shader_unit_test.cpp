// The device's programmable vertex stage: shaders made, bound, fed with
// constants and drawn with, through SoftDevice.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace {

using namespace platform;

// Position straight through to clip space, colour from v1.
const uint32_t kDecl[] = {DeclStream(0), DeclReg(0, DeclFloat4), DeclReg(1, DeclColor), kDeclEnd};

struct Vertex {
    float x, y, z, w;
    uint32_t color;
};

std::vector<uint32_t> Code(const std::string& text)
{
    ShaderAsmResult r;
    EXPECT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error;
    return r.code;
}

class ShaderUnitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gfxtest::MakeDevice(dev, 8, 8));
        dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
        dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
        code = Code("vs.1.1\nmov oPos, v0\nmul oD0, v1, c0\n");
        ASSERT_EQ(dev.CreateVertexShader(kDecl, code.data(), static_cast<uint32_t>(code.size()), &handle, 0), kGfxOk);
    }
    std::vector<uint32_t> DrawQuad(const Vertex* v, uint32_t count)
    {
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
        EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleStrip, count, v, sizeof(Vertex)), kGfxOk);
        dev.EndScene();
        return gfxtest::Frame(dev);
    }
    SoftDevice dev;
    std::vector<uint32_t> code;
    uint32_t handle = 0;
};

TEST_F(ShaderUnitTest, HandlesAreOddAndBindLikeAFormat)
{
    EXPECT_EQ(handle & 1u, 1u);
    EXPECT_EQ(dev.SetVertexShader(handle), kGfxOk);
    EXPECT_EQ(dev.GetVertexShader(), handle);
    EXPECT_EQ(dev.SetVertexShader(handle + 2), kGfxInvalidCall);   // never made
    EXPECT_EQ(dev.SetVertexShader(0x144), kGfxOk);
    EXPECT_EQ(dev.GetVertexShader(), 0x144u);
    EXPECT_EQ(dev.DeleteVertexShader(handle), kGfxOk);
    EXPECT_EQ(dev.DeleteVertexShader(handle), kGfxInvalidCall);
    EXPECT_EQ(dev.SetVertexShader(handle), kGfxInvalidCall);
    EXPECT_EQ(dev.DeleteVertexShader(0x144), kGfxInvalidCall);
}

TEST_F(ShaderUnitTest, RefusesBadShadersAndConstants)
{
    uint32_t h = 0;
    // Reads v2, which the declaration leaves out.
    const std::vector<uint32_t> undeclared = Code("vs.1.1\nmov oPos, v2\n");
    EXPECT_NE(dev.CreateVertexShader(kDecl, undeclared.data(), static_cast<uint32_t>(undeclared.size()), &h, 0),
              kGfxOk);
    // Cut short: no end token within the count.
    EXPECT_NE(dev.CreateVertexShader(kDecl, code.data(), static_cast<uint32_t>(code.size() - 1), &h, 0), kGfxOk);
    const std::vector<uint32_t> pixel = Code("ps.1.1\nmov r0, v0\n");
    EXPECT_NE(dev.CreateVertexShader(kDecl, pixel.data(), static_cast<uint32_t>(pixel.size()), &h, 0), kGfxOk);
    EXPECT_EQ(dev.CreatePixelShader(pixel.data(), static_cast<uint32_t>(pixel.size()), &h), kGfxOk);
    EXPECT_EQ(dev.DeletePixelShader(h), kGfxOk);
    EXPECT_NE(dev.CreatePixelShader(code.data(), static_cast<uint32_t>(code.size()), &h), kGfxOk);

    const float four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(dev.SetVertexShaderConstant(94, four, 2), kGfxOk);
    EXPECT_EQ(dev.SetVertexShaderConstant(95, four, 2), kGfxInvalidCall);
    EXPECT_EQ(dev.SetVertexShaderConstant(96, four, 1), kGfxInvalidCall);
    EXPECT_EQ(dev.SetVertexShaderConstant(0, nullptr, 1), kGfxInvalidCall);
    float back[8] = {};
    EXPECT_EQ(dev.GetVertexShaderConstant(94, back, 2), kGfxOk);
    EXPECT_EQ(back[7], 8.0f);
}

TEST_F(ShaderUnitTest, DrawsWhatTheProgramComputes)
{
    const float half[4] = {0.5f, 1.0f, 0.25f, 1.0f};   // r, g, b, a factors
    dev.SetVertexShaderConstant(0, half, 1);
    dev.SetVertexShader(handle);
    // The left half of the frame in clip space, w = 2 for the right corners.
    const Vertex quad[4] = {
        {-1, 1, 0.5f, 1, 0xFFFFFFFFu}, {0, 2, 1.0f, 2, 0xFFFFFFFFu},
        {-1, -1, 0.5f, 1, 0xFFFFFFFFu}, {0, -2, 1.0f, 2, 0xFFFFFFFFu},
    };
    const std::vector<uint32_t> frame = DrawQuad(quad, 2);
    const uint32_t colour = 0xFF80FF40u;   // 255 x (0.5, 1, 0.25)
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(frame[y * 8 + x], x < 4 ? colour : 0xFF000000u) << x << "," << y;
        }
    }
    // A reset unbinds the shader and clears the constants; the shader stays.
    dev.Reset(dev.GetParams());
    EXPECT_NE(dev.GetVertexShader(), handle);
    float back[4] = {1, 1, 1, 1};
    dev.GetVertexShaderConstant(0, back, 1);
    EXPECT_EQ(back[0], 0.0f);
    EXPECT_EQ(dev.SetVertexShader(handle), kGfxOk);
}

TEST_F(ShaderUnitTest, ClipsAtTheNearPlaneAndSkipsBadIndices)
{
    const float one[4] = {1, 1, 1, 1};
    dev.SetVertexShaderConstant(0, one, 1);
    dev.SetVertexShader(handle);
    // The whole frame, but the lower corners lie behind the eye (z < 0):
    // only the part with z >= 0, the upper half, is drawn.
    const Vertex quad[4] = {
        {-1, 1, 1, 1, 0xFFFFFFFFu}, {1, 1, 1, 1, 0xFFFFFFFFu},
        {-1, -1, -1, 1, 0xFFFFFFFFu}, {1, -1, -1, 1, 0xFFFFFFFFu},
    };
    const std::vector<uint32_t> frame = DrawQuad(quad, 2);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(frame[y * 8 + 3], y < 4 ? 0xFFFFFFFFu : 0xFF000000u) << y;
    }
    // Indices past the vertices skip their triangle, the others draw.
    const uint16_t indices[6] = {0, 1, 2, 2, 1, 40};
    dev.BeginScene();
    EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, 4, 2, indices, FormatIndex16, quad, sizeof(Vertex)),
              kGfxOk);
    // A stride under the declared vertex is refused.
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, quad, 16), kGfxInvalidCall);
    dev.EndScene();
    // Outside a scene nothing is recorded.
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, quad, sizeof(Vertex)), kGfxInvalidCall);
}

}  // namespace
