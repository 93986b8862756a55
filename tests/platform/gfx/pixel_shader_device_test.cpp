// Pixel shaders drawn by the device: bound by handle, fed with constants,
// colouring every pixel in place of the texture stages. The typical
// shaders are held to pixels worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace {

using namespace platform;

constexpr int kSize = 8;
constexpr uint32_t kClearColor = 0xFF000000u;

// Pre-transformed, with a colour and two coordinate sets (format 0x244).
struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u0, v0, u1, v1;
};

class PixelShaderDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gfxtest::MakeDevice(dev, kSize, kSize)); }
    void TearDown() override
    {
        for (int s = 0; s < kTextureStageCount; ++s) {
            dev.SetTexture(static_cast<uint32_t>(s), nullptr);
        }
        for (SoftTexture* t : textures) {
            t->Release();
        }
    }
    uint32_t Shader(const std::string& text)
    {
        ShaderAsmResult r;
        EXPECT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error;
        uint32_t handle = 0;
        EXPECT_EQ(dev.CreatePixelShader(r.code.data(), static_cast<uint32_t>(r.code.size()), &handle), kGfxOk);
        return handle;
    }
    void Texture(int stage, int w, int h, const std::vector<uint32_t>& texels)
    {
        SoftTexture* t = gfxtest::MakeTexture(dev, w, h, texels);
        ASSERT_NE(t, nullptr);
        textures.push_back(t);
        dev.SetTexture(static_cast<uint32_t>(stage), t);
    }
    // The whole frame in one quad; set 0 spans (u0, v0)..(u1, v1), set 1 the
    // texture once.
    void Quad(uint32_t color, float u0 = 0.0f, float v0 = 0.0f, float u1 = 1.0f, float v1 = 1.0f, float z = 0.0f)
    {
        const float e = kSize - 0.5f;
        const Vertex q[4] = {{-0.5f, -0.5f, z, 1, color, u0, v0, 0, 0},
                             {e, -0.5f, z, 1, color, u1, v0, 1, 0},
                             {e, e, z, 1, color, u1, v1, 1, 1},
                             {-0.5f, e, z, 1, color, u0, v1, 0, 1}};
        dev.SetVertexShader(0x244);
        ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, q, sizeof(Vertex)), kGfxOk);
    }
    std::vector<uint32_t> Draw(uint32_t color)
    {
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
        Quad(color);
        dev.EndScene();
        return gfxtest::Frame(dev);
    }
    SoftDevice dev;
    std::vector<SoftTexture*> textures;
};

// round(a x b / 255) per channel, as an 8-bit modulate gives.
uint32_t Modulate(uint32_t a, uint32_t b)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        out |= (((a >> shift) & 0xFF) * ((b >> shift) & 0xFF) + 127) / 255 << shift;
    }
    return out;
}

std::vector<uint32_t> Pattern(uint32_t seed)
{
    std::vector<uint32_t> t(kSize * kSize);
    for (int i = 0; i < kSize * kSize; ++i) {
        t[i] = (seed * 2654435761u) ^ (static_cast<uint32_t>(i) * 0x9E3779B9u);
        seed = t[i];
    }
    return t;
}

TEST_F(PixelShaderDevice, ModulateMultipliesTexelAndColour)
{
    const std::vector<uint32_t> texels = Pattern(7);
    Texture(0, kSize, kSize, texels);
    const uint32_t handle = Shader("ps.1.1\ntex t0\nmul r0, t0, v0\n");
    ASSERT_EQ(dev.SetPixelShader(handle), kGfxOk);
    EXPECT_EQ(dev.GetPixelShader(), handle);
    const uint32_t color = 0xC0804020u;
    const std::vector<uint32_t> frame = Draw(color);
    for (int i = 0; i < kSize * kSize; ++i) {
        EXPECT_EQ(frame[i], Modulate(texels[i], color)) << i;
    }
    // Unbound, the stages draw again: stage 0 modulates texture and
    // colour, with the same result.
    ASSERT_EQ(dev.SetPixelShader(0), kGfxOk);
    EXPECT_EQ(Draw(color), frame);
    // Multithreaded the frame is the same.
    dev.SetPixelShader(handle);
    dev.SetThreadCount(4);
    EXPECT_EQ(Draw(color), frame);
}

TEST_F(PixelShaderDevice, LerpByTheFirstTexturesAlpha)
{
    const std::vector<uint32_t> a = Pattern(3), b = Pattern(11);
    Texture(0, kSize, kSize, a);
    Texture(1, kSize, kSize, b);
    dev.SetPixelShader(Shader("ps.1.1\ntex t0\ntex t1\nlrp r0, t0.a, t0, t1\n"));
    const std::vector<uint32_t> frame = Draw(0xFFFFFFFFu);
    for (int i = 0; i < kSize * kSize; ++i) {
        const uint32_t alpha = a[i] >> 24;
        uint32_t want = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t x = (a[i] >> shift) & 0xFF, y = (b[i] >> shift) & 0xFF;
            want |= ((alpha * x + (255 - alpha) * y) * 2 + 255) / 510 << shift;
        }
        EXPECT_EQ(frame[i], want) << i;
    }
}

// Versions 1.1 to 1.3 let arithmetic write the t registers and read them
// back: after a texture read, or as scratch registers of their own.
TEST_F(PixelShaderDevice, ArithmeticWritesTextureRegistersInVersions11To13)
{
    const std::vector<uint32_t> a = Pattern(5), b = Pattern(13);
    Texture(0, kSize, kSize, a);
    Texture(1, kSize, kSize, b);
    const uint32_t color = 0xC0804020u;
    struct Case {
        const char* text;
        uint32_t (*want)(uint32_t a, uint32_t b, uint32_t color);
    };
    const Case cases[] = {
        // The red of t1, through a dot product with (1, 0, 0), into t1's colour.
        {"ps.1.1\ndef c0, 1, 0, 0, 0\ntex t1\ndp3 t1.rgb, c0, t1\nmov r0, t1\n",
         [](uint32_t, uint32_t b, uint32_t) {
             const uint32_t red = (b >> 16) & 0xFF;
             return (b & 0xFF000000u) | red << 16 | red << 8 | red;
         }},
        {"ps.1.2\ntex t0\nmul t0, t0, v0\nmov r0, t0\n",
         [](uint32_t a, uint32_t, uint32_t c) { return Modulate(a, c); }},
        // A co-issued pair into t3, which no texture instruction wrote.
        {"ps.1.3\ndef c1, 0, 1, 0, 0\ntex t0\nmov t3.rgb, c1\n+mov t3.a, t0\nmov r0, t3\n",
         [](uint32_t a, uint32_t, uint32_t) { return (a & 0xFF000000u) | 0x00FF00u; }},
        {"ps.1.1\nmov t2, v0\nmul r0, t2, t2\n", [](uint32_t, uint32_t, uint32_t c) { return Modulate(c, c); }},
    };
    for (const Case& c : cases) {
        dev.SetPixelShader(Shader(c.text));
        const std::vector<uint32_t> frame = Draw(color);
        for (int i = 0; i < kSize * kSize; ++i) {
            EXPECT_EQ(frame[i], c.want(a[i], b[i], color)) << c.text << " pixel " << i;
        }
    }
}

TEST_F(PixelShaderDevice, Dp3BumpLightingWithSignedScale)
{
    // A 2 x 2 normal map, each texel over a 4 x 4 block of pixels, lit along
    // +x (the colour (255, 128, 128) taken with _bx2):
    //   +x          (1, 1/255, 1/255) . (1, 1/255, 1/255) = 1.00003 -> 255
    //   +y and +z   1/255 + 1/255 + 1/255^2 = 0.00786 -> 2.0 -> 2
    //   -x          -1 + ... -> 0
    Texture(0, 2, 2, {0xFFFF8080u, 0xFF80FF80u, 0xFF8080FFu, 0xFF008080u});
    dev.SetPixelShader(Shader("ps.1.1\ntex t0\ndp3_sat r0, t0_bx2, v0_bx2\n"));
    const std::vector<uint32_t> frame = Draw(0xFFFF8080u);
    const uint32_t want[4] = {0xFFFFFFFFu, 0x02020202u, 0x02020202u, 0x00000000u};
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            EXPECT_EQ(frame[y * kSize + x], want[(y / 4) * 2 + x / 4]) << x << "," << y;
        }
    }
}

TEST_F(PixelShaderDevice, CndSelectsOnAlphaOverOneHalf)
{
    // Alpha 128 is 0.502, over one half; 127 is not.
    Texture(0, 2, 2, {0x80000000u, 0x7F000000u, 0xFF000000u, 0x00000000u});
    dev.SetPixelShader(
        Shader("ps.1.1\ndef c0, 1, 0, 0, 1\ndef c1, 0, 0, 1, 1\ntex t0\nmov r0, t0\ncnd r0, r0.a, c0, c1\n"));
    const std::vector<uint32_t> frame = Draw(0xFFFFFFFFu);
    const uint32_t want[4] = {0xFFFF0000u, 0xFF0000FFu, 0xFFFF0000u, 0xFF0000FFu};
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            EXPECT_EQ(frame[y * kSize + x], want[(y / 4) * 2 + x / 4]) << x << "," << y;
        }
    }
}

TEST_F(PixelShaderDevice, TexkillDropsPixelsWithNegativeCoordinates)
{
    dev.SetPixelShader(Shader("ps.1.1\ntexkill t0\nmov r0, v0\n"));
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
    // u runs from -0.5 to 0.5: negative at the centres of columns 0 to 3.
    Quad(0xFF336699u, -0.5f, 0.0f, 0.5f, 1.0f);
    dev.EndScene();
    const std::vector<uint32_t> frame = gfxtest::Frame(dev);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            EXPECT_EQ(frame[y * kSize + x], x < 4 ? kClearColor : 0xFF336699u) << x << "," << y;
        }
    }
}

TEST_F(PixelShaderDevice, Version14DependentRead)
{
    // Stage 0 holds coordinates: texel (x, y) points at texel (7 - x, 7 - y)
    // of stage 1, so the frame shows stage 1 turned half round.
    std::vector<uint32_t> coordinates(kSize * kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            coordinates[y * kSize + x] =
                0xFF000000u | static_cast<uint32_t>((7 - x) * 32 + 16) << 16 | static_cast<uint32_t>((7 - y) * 32 + 16) << 8;
        }
    }
    const std::vector<uint32_t> picture = Pattern(5);
    Texture(0, kSize, kSize, coordinates);
    Texture(1, kSize, kSize, picture);
    dev.SetPixelShader(Shader("ps.1.4\ntexld r0, t0\nphase\ntexld r1, r0\nmov r0, r1\n"));
    const std::vector<uint32_t> frame = Draw(0xFFFFFFFFu);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            EXPECT_EQ(frame[y * kSize + x], picture[(7 - y) * kSize + (7 - x)]) << x << "," << y;
        }
    }
}

TEST_F(PixelShaderDevice, ConstantsAreKeptWithEachDrawAndReadWithinOne)
{
    dev.SetPixelShader(Shader("ps.1.1\nmov r0, c3\n"));
    const float first[4] = {2.0f, 0.5f, -1.0f, 0.25f};    // red kept to 1
    const float second[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
    ASSERT_EQ(dev.SetPixelShaderConstant(3, first, 1), kGfxOk);
    Quad(0xFFFFFFFFu);
    // A second draw over the lower half with other constants; the first
    // keeps its own.
    dev.SetPixelShaderConstant(3, second, 1);
    const Vertex lower[4] = {{-0.5f, 3.5f, 0, 1, 0, 0, 0, 0, 0},
                             {7.5f, 3.5f, 0, 1, 0, 0, 0, 0, 0},
                             {7.5f, 7.5f, 0, 1, 0, 0, 0, 0, 0},
                             {-0.5f, 7.5f, 0, 1, 0, 0, 0, 0, 0}};
    dev.DrawPrimitiveUP(PrimTriangleFan, 2, lower, sizeof(Vertex));
    dev.EndScene();
    const std::vector<uint32_t> frame = gfxtest::Frame(dev);
    EXPECT_EQ(frame[0], 0x40FF8000u);
    EXPECT_EQ(frame[7 * kSize + 7], 0xFF00FF00u);
    float back[4] = {};
    EXPECT_EQ(dev.GetPixelShaderConstant(3, back, 1), kGfxOk);
    EXPECT_EQ(back[1], 1.0f);
    EXPECT_EQ(dev.SetPixelShaderConstant(7, first, 2), kGfxInvalidCall);
    EXPECT_EQ(dev.SetPixelShaderConstant(8, first, 1), kGfxInvalidCall);
}

TEST_F(PixelShaderDevice, BlendingAndTheAlphaTestFollowTheShader)
{
    dev.SetPixelShader(Shader("ps.1.1\ndef c0, 1, 1, 1, 0.5\nmov r0, c0\n"));
    dev.SetRenderState(RsAlphaBlendEnable, 1);
    dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
    dev.SetRenderState(RsDestBlend, BlendInvSrcAlpha);
    // White at alpha 128 over opaque black: colour 255 x 128 / 255 = 128,
    // alpha (128 x 128 + 255 x 127) / 255 = 191.
    std::vector<uint32_t> frame = Draw(0xFFFFFFFFu);
    EXPECT_EQ(frame[9], 0xBF808080u) << std::hex << frame[9];
    dev.SetRenderState(RsAlphaBlendEnable, 0);
    dev.SetRenderState(RsAlphaTestEnable, 1);
    dev.SetRenderState(RsAlphaFunc, CmpGreater);
    dev.SetRenderState(RsAlphaRef, 0x80);
    frame = Draw(0xFFFFFFFFu);
    EXPECT_EQ(frame[9], kClearColor);
}

TEST_F(PixelShaderDevice, ShaderDepthDecidesTheDepthTest)
{
    SoftDevice deep;
    ASSERT_TRUE(gfxtest::MakeDevice(deep, kSize, kSize, 1, true));
    deep.SetRenderState(RsZEnable, 1);
    deep.SetRenderState(RsZFunc, CmpLessEqual);
    // The shader's depth is r5.r / r5.g with r5 = (u, v) = (u, 1).
    ShaderAsmResult r;
    const std::string text = "ps.1.4\ntexcrd r5.rgb, t0\nphase\ntexdepth r5\nmov r0, v0\n";
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error;
    uint32_t handle = 0;
    ASSERT_EQ(deep.CreatePixelShader(r.code.data(), static_cast<uint32_t>(r.code.size()), &handle), kGfxOk);
    deep.BeginScene();
    deep.Clear(0, nullptr, ClearTarget | ClearZBuffer, kClearColor, 1.0f, 0);
    // A wall at depth 0.5 first, drawn by the stages.
    const Vertex wall[4] = {{-0.5f, -0.5f, 0.5f, 1, 0xFF0000FFu, 0, 0, 0, 0},
                            {7.5f, -0.5f, 0.5f, 1, 0xFF0000FFu, 0, 0, 0, 0},
                            {7.5f, 7.5f, 0.5f, 1, 0xFF0000FFu, 0, 0, 0, 0},
                            {-0.5f, 7.5f, 0.5f, 1, 0xFF0000FFu, 0, 0, 0, 0}};
    deep.SetVertexShader(0x244);
    deep.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    deep.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    deep.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    deep.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    deep.DrawPrimitiveUP(PrimTriangleFan, 2, wall, sizeof(Vertex));
    // Then the shaded quad at interpolated depth 0, whose own depth is
    // u = (x + 0.5) / 8: columns 0 to 3 lie in front of the wall.
    deep.SetPixelShader(handle);
    const Vertex q[4] = {{-0.5f, -0.5f, 0.0f, 1, 0xFFFF0000u, 0, 1, 0, 0},
                         {7.5f, -0.5f, 0.0f, 1, 0xFFFF0000u, 1, 1, 0, 0},
                         {7.5f, 7.5f, 0.0f, 1, 0xFFFF0000u, 1, 1, 0, 0},
                         {-0.5f, 7.5f, 0.0f, 1, 0xFFFF0000u, 0, 1, 0, 0}};
    deep.DrawPrimitiveUP(PrimTriangleFan, 2, q, sizeof(Vertex));
    deep.EndScene();
    const std::vector<uint32_t> frame = gfxtest::Frame(deep);
    for (int x = 0; x < kSize; ++x) {
        EXPECT_EQ(frame[3 * kSize + x], x < 4 ? 0xFFFF0000u : 0xFF0000FFu) << x;
    }
}

TEST_F(PixelShaderDevice, HandlesDeletionAndReset)
{
    const uint32_t handle = Shader("ps.1.1\ndef c0, 0, 1, 0, 1\nmov r0, c0\n");
    EXPECT_EQ(dev.SetPixelShader(handle + 2), kGfxInvalidCall);
    EXPECT_EQ(dev.SetPixelShader(2), kGfxInvalidCall);
    ASSERT_EQ(dev.SetPixelShader(handle), kGfxOk);
    // A draw recorded before the shader is deleted still draws with it.
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
    Quad(0xFFFFFFFFu);
    dev.EndScene();
    EXPECT_EQ(dev.DeletePixelShader(handle), kGfxOk);
    EXPECT_EQ(dev.GetPixelShader(), 0u);
    EXPECT_EQ(gfxtest::Frame(dev)[0], 0xFF00FF00u);
    EXPECT_EQ(dev.DeletePixelShader(handle), kGfxInvalidCall);

    // A reset unbinds the shader and zeroes the constants; the shader stays.
    const uint32_t again = Shader("ps.1.1\nmov r0, c0\n");
    const float one[4] = {1, 1, 1, 1};
    dev.SetPixelShaderConstant(0, one, 1);
    dev.SetPixelShader(again);
    dev.SimulateLoss();
    EXPECT_EQ(dev.Reset(dev.GetParams()), kGfxOk);
    EXPECT_EQ(dev.GetPixelShader(), 0u);
    float back[4] = {1, 1, 1, 1};
    dev.GetPixelShaderConstant(0, back, 1);
    EXPECT_EQ(back[0], 0.0f);
    EXPECT_EQ(dev.SetPixelShader(again), kGfxOk);
    gfxtest::Setup2D(dev);
    EXPECT_EQ(Draw(0xFFFFFFFFu)[0], 0x00000000u);
}

}  // namespace

TEST_F(PixelShaderDevice, LongDrawsSharedWithTheWorkersKeepTheirShaderAndConstants)
{
    // Sixty whole-frame quads in one draw, added up: with several threads
    // the workers may take the first quads while the rest is recorded.
    const std::vector<uint32_t> texels = Pattern(5);
    Texture(0, kSize, kSize, texels);
    dev.SetPixelShader(Shader("ps.1.1\ntex t0\nmul r0, t0, c0\n"));
    dev.SetRenderState(RsAlphaBlendEnable, 1);
    dev.SetRenderState(RsSrcBlend, BlendOne);
    dev.SetRenderState(RsDestBlend, BlendOne);
    const float e = kSize - 0.5f;
    std::vector<Vertex> quads;
    for (int i = 0; i < 60; ++i) {
        const Vertex q[4] = {{-0.5f, -0.5f, 0, 1, 0, 0, 0, 0, 0},
                             {e, -0.5f, 0, 1, 0, 1, 0, 0, 0},
                             {e, e, 0, 1, 0, 1, 1, 0, 0},
                             {-0.5f, e, 0, 1, 0, 0, 1, 0, 0}};
        for (int k : {0, 1, 2, 2, 3, 0}) {
            quads.push_back(q[k]);
        }
    }
    auto render = [&](int threads) {
        dev.SetThreadCount(threads);
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, kClearColor, 1.0f, 0);
        for (int draw = 0; draw < 3; ++draw) {
            const float c = 0.004f * static_cast<float>(draw + 1);
            const float constant[4] = {c, c, c, c};
            dev.SetPixelShaderConstant(0, constant, 1);
            dev.SetVertexShader(0x244);
            EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(quads.size() / 3), quads.data(),
                                          sizeof(Vertex)),
                      kGfxOk);
        }
        dev.EndScene();
        return gfxtest::Frame(dev);
    };
    const std::vector<uint32_t> one = render(1);
    // Each draw adds its constant's share of the texel sixty times.
    int lit = 0;
    for (int i = 0; i < kSize * kSize; ++i) {
        lit += (one[static_cast<size_t>(i)] & 0x00FFFFFFu) != 0;
    }
    EXPECT_GT(lit, kSize * kSize / 2);
    for (int threads : {3, 6}) {
        EXPECT_EQ(render(threads), one) << threads << " threads";
    }
}
