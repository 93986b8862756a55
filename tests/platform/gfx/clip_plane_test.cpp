// User clip planes: world space for the fixed-function transform, clip
// space for vertex shaders, none for pre-transformed vertices. A plane that
// cuts a triangle leaves exactly the pixels on its positive side, with the
// colours the whole triangle has there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace {

using namespace platform;

constexpr int kSize = 32;
constexpr uint32_t kClearColor = 0xFF000000u;

struct WorldVertex {
    float x, y, z;
    uint32_t color;
};

Matrix4 Affine(float sx, float sy, float tx, float ty)
{
    Matrix4 m{};
    m.m[0][0] = sx;
    m.m[1][1] = sy;
    m.m[2][2] = 1.0f;
    m.m[3][3] = 1.0f;
    m.m[3][0] = tx;
    m.m[3][1] = ty;
    return m;
}

// The pixel centre (x, y) in normalised device coordinates.
void CentreNdc(int x, int y, float* nx, float* ny)
{
    *nx = static_cast<float>(x) / (kSize / 2) - 1.0f;
    *ny = 1.0f - static_cast<float>(y) / (kSize / 2);
}

bool CloseColours(uint32_t a, uint32_t b)
{
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 1) {
            return false;
        }
    }
    return true;
}

// Holds `cut` to `whole`: a pixel is drawn exactly when the whole triangle
// draws it and side(pixel) is positive, in the whole triangle's colour.
// No drawn centre may lie within `margin` of the plane, where rounding
// could go either way.
template <typename Side>
void ExpectCut(const std::vector<uint32_t>& whole, const std::vector<uint32_t>& cut, Side side)
{
    int kept = 0, dropped = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const uint32_t w = whole[y * kSize + x], c = cut[y * kSize + x];
            const float d = side(x, y);
            if (w == kClearColor) {
                EXPECT_EQ(c, kClearColor) << x << "," << y;
                continue;
            }
            ASSERT_GT(std::fabs(d), 1e-3f) << "centre on the plane at " << x << "," << y;
            if (d > 0.0f) {
                EXPECT_TRUE(CloseColours(c, w)) << x << "," << y << std::hex << " " << c << " " << w;
                ++kept;
            } else {
                EXPECT_EQ(c, kClearColor) << x << "," << y;
                ++dropped;
            }
        }
    }
    // The plane really cuts the triangle.
    EXPECT_GT(kept, 20);
    EXPECT_GT(dropped, 20);
}

class ClipPlaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(gfxtest::MakeDevice(dev, kSize, kSize));
        dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
        dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    }
    template <typename Vertex>
    std::vector<uint32_t> Draw(uint32_t type, uint32_t count, const Vertex* v)
    {
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
        EXPECT_EQ(dev.DrawPrimitiveUP(type, count, v, sizeof(Vertex)), kGfxOk);
        dev.EndScene();
        return gfxtest::Frame(dev);
    }
    SoftDevice dev;
};

const WorldVertex kTriangle[3] = {
    {-0.9f, -0.8f, 0.5f, 0xFFFF0000u}, {0.7f, -0.6f, 0.5f, 0xFF00FF00u}, {-0.2f, 0.9f, 0.5f, 0xFF0000FFu}};

TEST_F(ClipPlaneTest, FixedFunctionPlanesCutInWorldSpace)
{
    // World, view and projection all move the triangle: only a plane taken
    // in world space lands where this test expects it.
    dev.SetTransform(TsWorld, Affine(1.0f, 1.0f, 0.15f, -0.05f));
    dev.SetTransform(TsView, Affine(1.0f, 1.0f, -0.1f, 0.2f));
    dev.SetTransform(TsProjection, Affine(1.25f, 0.8f, 0.0f, 0.0f));
    dev.SetVertexShader(0x042);
    const std::vector<uint32_t> whole = Draw(PrimTriangleList, 1, kTriangle);

    const float plane[4] = {0.6f, 0.8f, 0.0f, -0.13f};
    ASSERT_EQ(dev.SetClipPlane(2, plane), kGfxOk);
    // A plane that is not enabled cuts nothing.
    EXPECT_EQ(Draw(PrimTriangleList, 1, kTriangle), whole);
    dev.SetRenderState(RsClipPlaneEnable, 1u << 2);
    const std::vector<uint32_t> cut = Draw(PrimTriangleList, 1, kTriangle);
    ExpectCut(whole, cut, [&](int x, int y) {
        float nx, ny;
        CentreNdc(x, y, &nx, &ny);
        // Back through projection and view to the world.
        const float wx = nx / 1.25f + 0.1f, wy = ny / 0.8f - 0.2f;
        return plane[0] * wx + plane[1] * wy + plane[3];
    });

    // Two planes at once keep what both keep.
    const float left[4] = {-1.0f, 0.0f, 0.0f, 0.13f};
    dev.SetClipPlane(5, left);
    dev.SetRenderState(RsClipPlaneEnable, 1u << 2 | 1u << 5);
    const std::vector<uint32_t> both = Draw(PrimTriangleList, 1, kTriangle);
    ExpectCut(cut, both, [&](int x, int y) {
        float nx, ny;
        CentreNdc(x, y, &nx, &ny);
        return -(nx / 1.25f + 0.1f) + 0.13f;
    });
}

TEST_F(ClipPlaneTest, ShaderPlanesCutInClipSpace)
{
    // oPos = v0 x c0..c3: a projection whose w grows with y, so that clip
    // space and the world differ; the world matrix plays no part.
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclColor), kDeclEnd};
    const std::string text = "vs.1.1\nm4x4 oPos, v0, c0\nmov oD0, v1\n";
    ShaderAsmResult code;
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &code)) << code.error;
    uint32_t handle = 0;
    ASSERT_EQ(dev.CreateVertexShader(decl, code.code.data(), static_cast<uint32_t>(code.code.size()), &handle, 0),
              kGfxOk);
    // Rows of the transposed matrix: x' = x, y' = y, z' = z, w' = 1 + 0.3 y.
    const float rows[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.3f, 0, 1};
    dev.SetVertexShaderConstant(0, rows, 4);
    dev.SetTransform(TsWorld, Affine(3.0f, 3.0f, 5.0f, 5.0f));
    ASSERT_EQ(dev.SetVertexShader(handle), kGfxOk);
    const std::vector<uint32_t> whole = Draw(PrimTriangleList, 1, kTriangle);

    // x + 0.5 y - 0.1 w >= 0 in clip space: x/w + 0.5 y/w >= 0.1 on screen.
    const float plane[4] = {1.0f, 0.5f, 0.0f, -0.1f};
    dev.SetClipPlane(0, plane);
    dev.SetRenderState(RsClipPlaneEnable, 1);
    const std::vector<uint32_t> cut = Draw(PrimTriangleList, 1, kTriangle);
    ExpectCut(whole, cut, [&](int x, int y) {
        float nx, ny;
        CentreNdc(x, y, &nx, &ny);
        return nx + 0.5f * ny - 0.1f;
    });

    // Lines and points are clipped too.
    const WorldVertex line[2] = {{-0.95f, 0.0f, 0.5f, 0xFFFFFFFFu}, {0.95f, 0.0f, 0.5f, 0xFFFFFFFFu}};
    const std::vector<uint32_t> lineFrame = Draw(PrimLineList, 1, line);
    const int row = kSize / 2;
    for (int x = 1; x < kSize - 1; ++x) {
        float nx, ny;
        CentreNdc(x, row, &nx, &ny);
        EXPECT_EQ(lineFrame[row * kSize + x], nx > 0.1f ? 0xFFFFFFFFu : kClearColor) << x;
    }
    const WorldVertex points[2] = {{-0.5f, 0.25f, 0.5f, 0xFFFFFFFFu}, {0.5f, 0.25f, 0.5f, 0xFFFFFFFFu}};
    const std::vector<uint32_t> pointFrame = Draw(PrimPointList, 2, points);
    int lit = 0;
    for (int i = 0; i < kSize * kSize; ++i) {
        lit += pointFrame[i] != kClearColor;
        if (pointFrame[i] != kClearColor) {
            EXPECT_GT(i % kSize, kSize / 2) << "the point left of the plane is drawn";
        }
    }
    EXPECT_EQ(lit, 1);
}

TEST_F(ClipPlaneTest, PreTransformedVerticesAreNotClipped)
{
    const float plane[4] = {-1.0f, 0.0f, 0.0f, -1.0f};   // keeps nothing of the view
    for (uint32_t i = 0; i < SoftDevice::kMaxClipPlanes; ++i) {
        dev.SetClipPlane(i, plane);
    }
    dev.SetRenderState(RsClipPlaneEnable, 0x3F);
    const gfxtest::ColorVertex quad[4] = {
        {2, 2, 0, 1, 0xFFFFFFFFu}, {30, 2, 0, 1, 0xFFFFFFFFu}, {30, 30, 0, 1, 0xFFFFFFFFu}, {2, 30, 0, 1, 0xFFFFFFFFu}};
    dev.SetVertexShader(0x44);
    const std::vector<uint32_t> frame = Draw(PrimTriangleFan, 2, quad);
    EXPECT_EQ(frame[16 * kSize + 16], 0xFFFFFFFFu);
    // Untransformed, the same plane removes everything.
    dev.SetVertexShader(0x042);
    const std::vector<uint32_t> none = Draw(PrimTriangleList, 1, kTriangle);
    EXPECT_EQ(none, std::vector<uint32_t>(kSize * kSize, kClearColor));
}

TEST_F(ClipPlaneTest, PlanesAreSixAndAResetClearsThem)
{
    const float plane[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    float back[4] = {};
    EXPECT_EQ(dev.SetClipPlane(5, plane), kGfxOk);
    EXPECT_EQ(dev.GetClipPlane(5, back), kGfxOk);
    EXPECT_EQ(back[1], 2.0f);
    EXPECT_EQ(back[3], 4.0f);
    EXPECT_EQ(dev.SetClipPlane(6, plane), kGfxInvalidCall);
    EXPECT_EQ(dev.GetClipPlane(6, back), kGfxInvalidCall);
    EXPECT_EQ(dev.SetClipPlane(0, nullptr), kGfxInvalidCall);
    dev.SetRenderState(RsClipPlaneEnable, 0x20);
    ASSERT_EQ(dev.Reset(dev.GetParams()), kGfxOk);
    EXPECT_EQ(dev.GetClipPlane(5, back), kGfxOk);
    EXPECT_EQ(back[1], 0.0f);
    uint32_t enabled = 1;
    dev.GetRenderState(RsClipPlaneEnable, &enabled);
    EXPECT_EQ(enabled, 0u);
}

}  // namespace
