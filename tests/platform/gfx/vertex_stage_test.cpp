// The fixed-function vertex stage: a draw's vertices transformed once and
// its triangles inside every plane set up straight from them must draw
// exactly what fetching and clipping each triangle on its own draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace {

using namespace platform;

struct LitVertex {
    float x, y, z;
    uint32_t diffuse, specular;
    float u, v;
};
constexpr uint32_t kLitFvf = 0x1C2;   // position, diffuse, specular, one coordinate set

uint32_t FloatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// Random triangles in front of, around and behind the eye, drawn once with
// the vertices close together (transformed once) and once with one more
// vertex far away in the data, which makes the stage fetch and clip every
// triangle on its own. Fog, user clip planes, depth and NaN corners too.
TEST(VertexStage, BatchedTransformDrawsWhatOneByOneDraws)
{
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 64, 48, 1, true));
    dev.SetVertexShader(kLitFvf);
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsZWriteEnable, 1);
    dev.SetRenderState(RsZFunc, CmpLessEqual);
    dev.SetRenderState(RsFogEnable, 1);
    dev.SetRenderState(RsFogVertexMode, FogLinear);
    dev.SetRenderState(RsFogColor, 0xFF3060C0u);
    dev.SetRenderState(RsFogStart, FloatBits(2.0f));
    dev.SetRenderState(RsFogEnd, FloatBits(9.0f));
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    Matrix4 world{}, projection{};
    world.m[0][0] = 0.8f, world.m[0][1] = 0.6f, world.m[1][0] = -0.6f, world.m[1][1] = 0.8f;
    world.m[2][2] = 1.0f, world.m[3][3] = 1.0f, world.m[3][0] = 0.3f, world.m[3][2] = 0.5f;
    const float zn = 1.0f, zf = 20.0f;
    projection.m[0][0] = 1.2f, projection.m[1][1] = 1.6f;
    projection.m[2][2] = zf / (zf - zn), projection.m[2][3] = 1.0f, projection.m[3][2] = -zn * zf / (zf - zn);
    dev.SetTransform(TsWorld, world);
    dev.SetTransform(TsProjection, projection);
    const float plane[4] = {0.3f, -1.0f, 0.1f, 0.8f};
    dev.SetClipPlane(1, plane);

    std::mt19937 rng(41);
    std::uniform_real_distribution<float> across(-4.0f, 4.0f), depth(-2.0f, 14.0f);
    constexpr int kVertices = 60, kTriangles = 50, kFar = 999;
    int drawn = 0;
    for (int round = 0; round < 6; ++round) {
        dev.SetRenderState(RsClipPlaneEnable, round % 2 == 0 ? 0u : 1u << 1);
        dev.SetRenderState(RsShadeMode, round % 3 == 2 ? ShadeFlat : ShadeGouraud);
        std::vector<LitVertex> vertices(kFar + 1);
        for (int v = 0; v < kVertices; ++v) {
            LitVertex& lv = vertices[v];
            lv = {across(rng), across(rng), depth(rng), static_cast<uint32_t>(rng()) | 0xFF000000u,
                  static_cast<uint32_t>(rng()), across(rng), across(rng)};
            if (v == 7 && round >= 3) {
                lv.x = std::numeric_limits<float>::quiet_NaN();
            }
        }
        std::vector<uint16_t> indices;
        for (int t = 0; t < kTriangles; ++t) {
            // Neighbours mostly, so that many triangles are small and whole.
            const int a = static_cast<int>(rng() % kVertices);
            indices.push_back(static_cast<uint16_t>(a));
            indices.push_back(static_cast<uint16_t>((a + 1 + rng() % 3) % kVertices));
            indices.push_back(static_cast<uint16_t>((a + 2 + rng() % 5) % kVertices));
        }
        // The one more triangle draws nothing either way: all three corners
        // are vertex 0's data.
        vertices[kFar] = vertices[0];
        std::vector<uint16_t> near = indices, far = indices;
        near.insert(near.end(), {0, 0, 0});
        far.insert(far.end(), {0, kFar, 0});
        auto draw = [&](const std::vector<uint16_t>& list) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 1.0f, 0);
            EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, kFar + 1, kTriangles + 1, list.data(),
                                                 FormatIndex16, vertices.data(), sizeof(LitVertex)),
                      kGfxOk);
            dev.EndScene();
            return gfxtest::Frame(dev);
        };
        const std::vector<uint32_t> batched = draw(near);
        EXPECT_EQ(batched, draw(far)) << "round " << round;
        for (uint32_t p : batched) {
            drawn += p != 0xFF000000u;
        }
    }
    // The triangles did reach the frame.
    EXPECT_GT(drawn, 1000);
}

// A vertex shader that does what the fixed-function transform does (dp4 of
// (x, y, z, 1) with the matrix's columns is the transform's sum, term by
// term, and 1 x m is m) draws the same frame: whole triangles go through
// each stage's own quick way, so they are held to one another.
TEST(VertexStage, ShaderAndFixedFunctionDrawWholeTrianglesAlike)
{
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 64, 48, 1, true));
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsZWriteEnable, 1);
    dev.SetRenderState(RsZFunc, CmpLessEqual);
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    struct Vertex {
        float x, y, z;
        uint32_t diffuse;
        float u, v;
    };
    const uint32_t kFvf = 0x142;
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclColor), DeclReg(2, DeclFloat2),
                             kDeclEnd};
    const std::string text = "vs.1.1\ndp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\ndp4 oPos.z, v0, c2\n"
                             "dp4 oPos.w, v0, c3\nmov oD0, v1\nmov oT0, v2\n";
    ShaderAsmResult code;
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &code)) << code.error;
    uint32_t shader = 0;
    ASSERT_EQ(dev.CreateVertexShader(decl, code.code.data(), static_cast<uint32_t>(code.code.size()), &shader, 0),
              kGfxOk);
    // Turned, scaled and moved into the view volume, w not 1.
    Matrix4 m{};
    m.m[0][0] = 0.5f, m.m[0][1] = 0.2f, m.m[1][0] = -0.25f, m.m[1][1] = 0.45f;
    m.m[2][2] = 0.3f, m.m[2][3] = 0.1f, m.m[3][2] = 0.35f, m.m[3][3] = 1.0f;
    Matrix4 identity{};
    for (int k = 0; k < 4; ++k) {
        identity.m[k][k] = 1.0f;
    }
    float columns[4][4];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            columns[c][r] = m.m[r][c];
        }
    }
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<Vertex> vertices(90);
    for (Vertex& v : vertices) {
        v = {unit(rng), unit(rng), unit(rng), static_cast<uint32_t>(rng()) | 0xFF000000u, unit(rng), unit(rng)};
    }
    std::vector<uint16_t> indices;
    for (int t = 0; t < 60; ++t) {
        const int a = static_cast<int>(rng() % vertices.size());
        indices.push_back(static_cast<uint16_t>(a));
        indices.push_back(static_cast<uint16_t>((a + 1 + rng() % 4) % vertices.size()));
        indices.push_back(static_cast<uint16_t>((a + 2 + rng() % 6) % vertices.size()));
    }
    auto draw = [&](bool programmable) {
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 1.0f, 0);
        if (programmable) {
            dev.SetVertexShader(shader);
            dev.SetVertexShaderConstant(0, columns, 4);
        } else {
            dev.SetVertexShader(kFvf);
            dev.SetTransform(TsWorld, identity);
            dev.SetTransform(TsView, identity);
            dev.SetTransform(TsProjection, m);
        }
        EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, static_cast<uint32_t>(vertices.size()),
                                             static_cast<uint32_t>(indices.size() / 3), indices.data(), FormatIndex16,
                                             vertices.data(), sizeof(Vertex)),
                  kGfxOk);
        dev.EndScene();
        return gfxtest::Frame(dev);
    };
    const std::vector<uint32_t> fixed = draw(false);
    EXPECT_EQ(draw(true), fixed);
    int drawn = 0;
    for (uint32_t p : fixed) {
        drawn += p != 0xFF000000u;
    }
    EXPECT_GT(drawn, 400);
}

// Draws big enough to be shaded on the workers, one after the other so that
// the second is shaded while the workers draw the first: every thread count
// must give the bytes one thread gives.
TEST(VertexStage, LargeShaderDrawsGiveTheSameBytesOnAnyNumberOfThreads)
{
    struct Vertex {
        float x, y, z;
        uint32_t diffuse;
    };
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclColor), kDeclEnd};
    const std::string text = "vs.1.1\ndp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\ndp4 oPos.z, v0, c2\n"
                             "dp4 oPos.w, v0, c3\nmul oD0, v1, c4\n";
    ShaderAsmResult code;
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &code)) << code.error;
    // Leaning in depth so that w differs from corner to corner.
    const float columns[5][4] = {{0.9f, 0.1f, 0.0f, 0.0f},
                                 {-0.1f, 0.8f, 0.0f, 0.0f},
                                 {0.0f, 0.0f, 0.4f, 0.5f},
                                 {0.0f, 0.0f, 0.3f, 1.5f},
                                 {1.0f, 0.75f, 0.5f, 1.0f}};
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> unit(-1.2f, 1.2f);
    std::vector<Vertex> vertices(6000);
    for (Vertex& v : vertices) {
        v = {unit(rng), unit(rng), unit(rng), static_cast<uint32_t>(rng()) | 0xFF000000u};
    }
    auto render = [&](int threads) {
        SoftDevice dev;
        EXPECT_TRUE(gfxtest::MakeDevice(dev, 160, 120, threads, true));
        dev.SetRenderState(RsZEnable, 1);
        dev.SetRenderState(RsZWriteEnable, 1);
        dev.SetRenderState(RsZFunc, CmpLessEqual);
        dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
        dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
        uint32_t shader = 0;
        EXPECT_EQ(dev.CreateVertexShader(decl, code.code.data(), static_cast<uint32_t>(code.code.size()), &shader, 0),
                  kGfxOk);
        dev.SetVertexShader(shader);
        dev.SetVertexShaderConstant(0, columns, 5);
        std::vector<uint32_t> frame;
        for (int f = 0; f < 2; ++f) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 1.0f, 0);
            for (size_t first = 0; first < vertices.size(); first += 3000) {
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1000, &vertices[first], sizeof(Vertex)), kGfxOk);
            }
            dev.EndScene();
            frame = gfxtest::Frame(dev);
        }
        return frame;
    };
    const std::vector<uint32_t> one = render(1);
    int drawn = 0;
    for (uint32_t p : one) {
        drawn += p != 0xFF000000u;
    }
    EXPECT_GT(drawn, 160 * 120 / 2);
    EXPECT_EQ(render(3), one);
    EXPECT_EQ(render(6), one);
}

// Colours a program writes reach the pixels clamped to 0 to 1, with NaNs
// and infinities of either sign as 0.
TEST(VertexStage, ShaderColoursAreClampedAndNotNumbersAreZero)
{
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 16, 16));
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat4), kDeclEnd};
    const std::string text = "vs.1.1\nmov oPos, v0\nmov oD0, c0\n";
    ShaderAsmResult code;
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &code)) << code.error;
    uint32_t shader = 0;
    ASSERT_EQ(dev.CreateVertexShader(decl, code.code.data(), static_cast<uint32_t>(code.code.size()), &shader, 0),
              kGfxOk);
    dev.SetVertexShader(shader);
    // One triangle over the whole target.
    const float corners[3][4] = {{-1.0f, -1.0f, 0.5f, 1.0f}, {-1.0f, 3.0f, 0.5f, 1.0f}, {3.0f, -1.0f, 0.5f, 1.0f}};
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float rgba[4];
        uint32_t rgb;
    };
    const Case cases[] = {
        {{nan, inf, 1.5f, 1.0f}, 0x0000FFu},
        {{-inf, 0.5f, -0.0f, 1.0f}, 0x008000u},
        {{0.999f, -2.0f, 1.0f / 255.0f, 1.0f}, 0xFF0001u},
    };
    for (const Case& c : cases) {
        dev.SetVertexShaderConstant(0, c.rgba, 1);
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, 0xFF123456u, 1.0f, 0);
        EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, corners, 16), kGfxOk);
        dev.EndScene();
        const std::vector<uint32_t> frame = gfxtest::Frame(dev);
        EXPECT_EQ(frame[8 * 16 + 8] & 0xFFFFFFu, c.rgb) << std::hex << frame[8 * 16 + 8];
    }
}

}  // namespace
