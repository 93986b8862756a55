// The fixed-function vertex stage: a draw's vertices transformed once and
// its triangles inside every plane set up straight from them must draw
// exactly what fetching and clipping each triangle on its own draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// Untransformed vertices given in clip space: every transform the identity.
void SetIdentityTransforms(SoftDevice& dev)
{
    Matrix4 identity{};
    for (int k = 0; k < 4; ++k) {
        identity.m[k][k] = 1.0f;
    }
    dev.SetTransform(TsWorld, identity);
    dev.SetTransform(TsView, identity);
    dev.SetTransform(TsProjection, identity);
}

// A vertex shader made on the device from its text; 0, with the failure
// recorded, when it cannot be.
uint32_t MakeVertexShader(SoftDevice& dev, const uint32_t* declaration, const std::string& text)
{
    ShaderAsmResult code;
    if (!AssembleShader(text.c_str(), text.size(), &code)) {
        ADD_FAILURE() << code.error << "\n" << text;
        return 0;
    }
    uint32_t shader = 0;
    EXPECT_EQ(dev.CreateVertexShader(declaration, code.code.data(), static_cast<uint32_t>(code.code.size()), &shader, 0),
              kGfxOk);
    return shader;
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
    std::vector<uint32_t> texels(64);
    for (uint32_t& t : texels) {
        t = static_cast<uint32_t>(rng()) | 0xFF000000u;
    }
    SoftTexture* texture = gfxtest::MakeTexture(dev, 8, 8, texels);
    ASSERT_NE(texture, nullptr);
    std::uniform_real_distribution<float> across(-4.0f, 4.0f), depth(-2.0f, 14.0f);
    constexpr int kVertices = 60, kTriangles = 50, kFar = 999;
    int drawn = 0;
    for (int round = 0; round < 10; ++round) {
        dev.SetRenderState(RsClipPlaneEnable, round % 2 == 0 ? 0u : 1u << 1);
        dev.SetRenderState(RsShadeMode, round % 3 == 2 ? ShadeFlat : ShadeGouraud);
        // The last rounds read the vertices as position, colour and one
        // pair of coordinates, without fog: the stage's usual mesh vertex
        // (the pair is the specular field, holding a float, and u), textured.
        const bool usual = round >= 6;
        dev.SetRenderState(RsFogEnable, usual ? 0u : 1u);
        dev.SetVertexShader(usual ? 0x142u : kLitFvf);
        if (round == 6) {
            dev.SetTexture(0, texture);
            dev.SetTextureStageState(0, TssColorOp, TopModulate);
            dev.SetTextureStageState(0, TssColorArg1, TaTexture);
            dev.SetTextureStageState(0, TssColorArg2, TaDiffuse);
        }
        std::vector<LitVertex> vertices(kFar + 1);
        for (int v = 0; v < kVertices; ++v) {
            LitVertex& lv = vertices[v];
            lv = {across(rng), across(rng), depth(rng), static_cast<uint32_t>(rng()) | 0xFF000000u,
                  static_cast<uint32_t>(rng()), across(rng), across(rng)};
            if (v == 7 && round >= 3) {
                lv.x = std::numeric_limits<float>::quiet_NaN();
            }
            if (usual) {
                lv.specular = FloatBits(across(rng));
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
    dev.SetTexture(0, nullptr);
    texture->Release();
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
    const uint32_t shader = MakeVertexShader(dev, decl, text);
    ASSERT_NE(shader, 0u);
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

// Colours and the fog factor a program writes reach the pixels clamped to
// 0 to 1: an infinity at the end it points to, what is not a number as 0
// (a fog of 1 is none, of 0 the fog colour).
TEST(VertexStage, ShaderColoursAndFogAreClampedToZeroToOne)
{
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 16, 16));
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaArg1, TaDiffuse);
    dev.SetRenderState(RsFogEnable, 1);
    dev.SetRenderState(RsFogColor, 0xFF204080u);
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat4), kDeclEnd};
    const std::string text = "vs.1.1\nmov oPos, v0\nmov oD0, c0\nmov oFog, c1.x\n";
    const uint32_t shader = MakeVertexShader(dev, decl, text);
    ASSERT_NE(shader, 0u);
    dev.SetVertexShader(shader);
    // One triangle over the whole target.
    const float corners[3][4] = {{-1.0f, -1.0f, 0.5f, 1.0f}, {-1.0f, 3.0f, 0.5f, 1.0f}, {3.0f, -1.0f, 0.5f, 1.0f}};
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float rgba[4];
        float fog;
        uint32_t rgb;
    };
    const Case cases[] = {
        {{nan, inf, 1.5f, 1.0f}, inf, 0x00FFFFu},
        {{-inf, 0.5f, -0.0f, 1.0f}, 1.0f, 0x008000u},
        {{0.999f, -2.0f, 1.0f / 255.0f, 1.0f}, -inf, 0x204080u},
        {{1.0f, 1.0f, 1.0f, 1.0f}, nan, 0x204080u},
        // Half fog: (255 x 128 + fog colour x 127) / 255 a channel.
        {{1.0f, 1.0f, 1.0f, 1.0f}, 0.5f, 0x90A0C0u},
    };
    for (const Case& c : cases) {
        const float fog[4] = {c.fog, 0.0f, 0.0f, 0.0f};
        dev.SetVertexShaderConstant(0, c.rgba, 1);
        dev.SetVertexShaderConstant(1, fog, 1);
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, 0xFF123456u, 1.0f, 0);
        EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, corners, 16), kGfxOk);
        dev.EndScene();
        const std::vector<uint32_t> frame = gfxtest::Frame(dev);
        EXPECT_EQ(frame[8 * 16 + 8] & 0xFFFFFFu, c.rgb) << std::hex << frame[8 * 16 + 8];
    }
}

// Every vertex of a shader draw starts from the same state, however the
// draw's vertices fall into the batches they are shaded in: a program that
// reads a constant through a0 before it sets a0 draws the same points in
// one draw as one point a draw.
TEST(VertexStage, ShaderDrawsDoNotDependOnWhereTheirBatchesSplit)
{
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 16, 16));
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat4), kDeclEnd};
    const std::string text = "vs.1.1\nmov r0, c[a0.x + 0]\nadd oPos, r0, v0\nmov oD0, c[a0.x + 2]\nmov a0.x, c4.x\n";
    const uint32_t shader = MakeVertexShader(dev, decl, text);
    ASSERT_NE(shader, 0u);
    dev.SetVertexShader(shader);
    // c0 no offset, c1 off the target; c2 red, c3 blue; c4.x moves a0 to 1.
    const float constants[5][4] = {{0, 0, 0, 0}, {5, 5, 0, 0}, {1, 0, 0, 1}, {0, 0, 1, 1}, {1, 0, 0, 0}};
    dev.SetVertexShaderConstant(0, constants, 5);
    // A point on every pixel centre, 256 over several batches.
    std::vector<std::array<float, 4>> points;
    for (int i = 0; i < 256; ++i) {
        const int x = i % 16, y = i / 16;
        points.push_back({(static_cast<float>(x) + 0.5f) / 8.0f - 1.0f, 1.0f - (static_cast<float>(y) + 0.5f) / 8.0f,
                          0.5f, 1.0f});
    }
    auto draw = [&](uint32_t each) {
        dev.BeginScene();
        dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
        for (size_t i = 0; i < points.size(); i += each) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(each, points.size() - i));
            EXPECT_EQ(dev.DrawPrimitiveUP(PrimPointList, n, &points[i], 16), kGfxOk);
        }
        dev.EndScene();
        return gfxtest::Frame(dev);
    };
    const std::vector<uint32_t> whole = draw(256);
    EXPECT_EQ(whole, draw(1));
    EXPECT_EQ(whole, draw(7));
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i], 0xFFFF0000u) << "pixel " << i;
    }
}

// A flat shaded primitive takes the colours of its first vertex as drawn:
// vertex 3i of a list's triangle i, vertex i of a strip's, vertex i + 1 of
// a fan's (not the centre), the first end of a line, also when clipping
// takes that vertex away, through a vertex shader too. Each draw is held to
// its primitives drawn one by one in the colour the rule gives them.
TEST(VertexStage, FlatShadingTakesEachPrimitivesFirstVertex)
{
    struct Case {
        const char* name;
        uint32_t type;
        bool transformed;
        bool clipped;   // first vertices beyond the guard band or outside the view volume
        uint32_t fill;
        bool shader;    // through a vertex shader that passes position and colour on
    };
    const Case cases[] = {
        {"list", PrimTriangleList, true, false, FillSolid, false},
        {"strip", PrimTriangleStrip, true, false, FillSolid, false},
        {"fan", PrimTriangleFan, true, false, FillSolid, false},
        {"fan beyond the guard band", PrimTriangleFan, true, true, FillSolid, false},
        {"strip in 3D", PrimTriangleStrip, false, false, FillSolid, false},
        {"fan in 3D", PrimTriangleFan, false, false, FillSolid, false},
        {"strip in 3D, clipped", PrimTriangleStrip, false, true, FillSolid, false},
        {"fan in 3D, clipped", PrimTriangleFan, false, true, FillSolid, false},
        {"fan in wireframe", PrimTriangleFan, true, false, FillWireframe, false},
        {"line strip in 3D, clipped", PrimLineStrip, false, true, FillSolid, false},
        {"line list", PrimLineList, true, false, FillSolid, false},
        {"fan through a shader", PrimTriangleFan, false, false, FillSolid, true},
        {"fan through a shader, clipped", PrimTriangleFan, false, true, FillSolid, true},
        {"strip through a shader, clipped", PrimTriangleStrip, false, true, FillSolid, true},
        {"line strip through a shader, clipped", PrimLineStrip, false, true, FillSolid, true},
    };
    constexpr int kSize = 64;
    struct Point {
        float x, y;
        uint32_t color;
    };
    for (const Case& c : cases) {
        // Screen positions: a zigzag for strips, lists and lines, a half
        // circle of rim vertices around a centre for fans.
        std::vector<Point> points;
        const bool fan = c.type == PrimTriangleFan;
        const int count = 8;
        for (int k = 0; k < count; ++k) {
            Point p{};
            if (fan && k == 0) {
                p = {c.clipped ? 12.0f : 32.0f, 32.0f, 0};
            } else if (fan) {
                const float angle = -2.6f + 0.75f * static_cast<float>(k - 1);
                const float radius = c.clipped ? 44.0f : 28.0f;
                p = {points[0].x + radius * std::cos(angle), 32.0f + radius * std::sin(angle), 0};
            } else {
                p = {4.0f + 8.0f * static_cast<float>(k) - (c.clipped ? 14.0f : 0.0f), k % 2 == 0 ? 8.0f : 56.0f, 0};
            }
            p.color = 0xFF000000u | (0x2F1D0Bu * static_cast<uint32_t>(k + 1) & 0xFFFFFFu);
            points.push_back(p);
        }
        if (c.clipped && c.transformed) {
            points[1].x = -40000.0f;
        }
        // Each primitive's vertices as drawn, and the one it takes its colour from.
        std::vector<std::array<int, 3>> prims;
        std::vector<int> from;
        const bool lines = c.type == PrimLineList || c.type == PrimLineStrip;
        if (c.type == PrimTriangleList) {
            // The strip's triangles, each with vertices of its own.
            std::vector<Point> list;
            for (int i = 0; i + 2 < count; ++i) {
                for (int k = 0; k < 3; ++k) {
                    Point p = points[static_cast<size_t>(i + k)];
                    p.color ^= static_cast<uint32_t>(k) << 4;
                    list.push_back(p);
                }
                prims.push_back({3 * i, 3 * i + 1, 3 * i + 2});
                from.push_back(3 * i);
            }
            points = list;
        } else if (c.type == PrimLineList) {
            for (int i = 0; 2 * i + 1 < count; ++i) {
                prims.push_back({2 * i, 2 * i + 1, 0});
                from.push_back(2 * i);
            }
        } else {
            for (int i = 0; i + (lines ? 1 : 2) < count; ++i) {
                if (lines) {
                    prims.push_back({i, i + 1, 0});
                } else if (fan) {
                    prims.push_back({0, i + 1, i + 2});
                } else {
                    // Odd strip triangles are drawn with their last two swapped.
                    prims.push_back(i % 2 == 0 ? std::array<int, 3>{i, i + 1, i + 2} : std::array<int, 3>{i, i + 2, i + 1});
                }
                from.push_back(fan ? i + 1 : i);
            }
        }
        // Vertex data: screen positions, or the same in clip space for the
        // identity transforms.
        auto data = [&](const std::vector<Point>& ps) {
            std::vector<float> out;
            for (const Point& p : ps) {
                if (c.transformed) {
                    out.insert(out.end(), {p.x, p.y, 0.5f, 1.0f});
                } else {
                    out.insert(out.end(), {p.x / (kSize / 2) - 1.0f, 1.0f - p.y / (kSize / 2), 0.5f});
                }
                float color;
                std::memcpy(&color, &p.color, 4);
                out.push_back(color);
            }
            return out;
        };
        const uint32_t stride = c.transformed ? 20 : 16;
        SoftDevice dev;
        ASSERT_TRUE(gfxtest::MakeDevice(dev, kSize, kSize));
        dev.SetVertexShader(c.transformed ? 0x44u : 0x42u);
        if (c.shader) {
            const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclColor), kDeclEnd};
            const std::string text = "vs.1.1\nmov oPos, v0\nmov oD0, v1\n";
            dev.SetVertexShader(MakeVertexShader(dev, decl, text));
        }
        SetIdentityTransforms(dev);
        dev.SetRenderState(RsFillMode, c.fill);
        dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
        auto frame = [&](auto draw) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF808080u, 1.0f, 0);
            draw();
            dev.EndScene();
            return gfxtest::Frame(dev);
        };
        dev.SetRenderState(RsShadeMode, ShadeFlat);
        const std::vector<float> all = data(points);
        const std::vector<uint32_t> drawn = frame([&] {
            EXPECT_EQ(dev.DrawPrimitiveUP(c.type, static_cast<uint32_t>(prims.size()), all.data(), stride), kGfxOk);
        });
        dev.SetRenderState(RsShadeMode, ShadeGouraud);
        const std::vector<uint32_t> want = frame([&] {
            for (size_t i = 0; i < prims.size(); ++i) {
                std::vector<Point> one;
                for (int k = 0; k < (lines ? 2 : 3); ++k) {
                    Point p = points[static_cast<size_t>(prims[i][k])];
                    p.color = points[static_cast<size_t>(from[i])].color;
                    one.push_back(p);
                }
                const std::vector<float> d = data(one);
                EXPECT_EQ(dev.DrawPrimitiveUP(lines ? PrimLineList : PrimTriangleList, 1, d.data(), stride), kGfxOk);
            }
        });
        EXPECT_EQ(drawn, want) << c.name;
        int covered = 0;
        for (uint32_t p : want) {
            covered += p != 0xFF808080u;
        }
        EXPECT_GT(covered, lines || c.fill == FillWireframe ? 40 : 600) << c.name;
    }
}

// Flat shading takes a primitive's colours from one vertex but leaves its
// fog factor (the specular alpha, given or made from the depth) to change
// across it: the same pixels as Gouraud shading with every corner in the
// flat colours, each with its own fog.
TEST(VertexStage, FlatShadingLeavesTheFogToChangeAcrossAPrimitive)
{
    struct Case {
        const char* name;
        bool transformed;
        uint32_t type;
        bool shader;
    };
    const Case cases[] = {
        {"triangle", true, PrimTriangleList, false},
        {"triangle in 3D with vertex fog", false, PrimTriangleList, false},
        {"line", true, PrimLineList, false},
        {"triangle through a pixel shader", true, PrimTriangleList, true},
    };
    constexpr int kSize = 48;
    const float xs[3] = {2.0f, 46.0f, 10.0f}, ys[3] = {2.0f, 12.0f, 46.0f}, zs[3] = {0.1f, 0.5f, 0.9f};
    const uint32_t diffuse[3] = {0xFF2040C0u, 0xFFC04020u, 0xFF40C020u};
    const uint32_t specular[3] = {0x00102030u, 0x80102030u, 0xFF102030u};
    for (const Case& c : cases) {
        SoftDevice dev;
        ASSERT_TRUE(gfxtest::MakeDevice(dev, kSize, kSize));
        dev.SetVertexShader(c.transformed ? 0xC4u : 0xC2u);
        SetIdentityTransforms(dev);
        dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
        dev.SetTextureStageState(0, TssColorArg1, TaDiffuse);
        dev.SetRenderState(RsFogEnable, 1);
        dev.SetRenderState(RsFogColor, 0xFFFFFF00u);
        dev.SetRenderState(RsFogVertexMode, FogLinear);
        dev.SetRenderState(RsFogStart, FloatBits(0.0f));
        dev.SetRenderState(RsFogEnd, FloatBits(1.0f));
        uint32_t shader = 0;
        if (c.shader) {
            ShaderAsmResult code;
            ASSERT_TRUE(AssembleShader("ps.1.1\nmov r0, v0\n", 20, &code)) << code.error;
            ASSERT_EQ(dev.CreatePixelShader(code.code.data(), static_cast<uint32_t>(code.code.size()), &shader), kGfxOk);
            dev.SetPixelShader(shader);
        }
        // Corners with the given colours (or all those of corner 0), each
        // its own fog.
        auto draw = [&](uint32_t shade, bool allFirst) {
            std::vector<float> data;
            for (int k = 0; k < 3; ++k) {
                const int from = allFirst ? 0 : k;
                const uint32_t spec = (specular[from] & 0xFFFFFFu) | (specular[k] & 0xFF000000u);
                if (c.transformed) {
                    data.insert(data.end(), {xs[k], ys[k], zs[k], 1.0f});
                } else {
                    data.insert(data.end(), {xs[k] / (kSize / 2) - 1.0f, 1.0f - ys[k] / (kSize / 2), zs[k]});
                }
                float bits[2];
                std::memcpy(&bits[0], &diffuse[from], 4);
                std::memcpy(&bits[1], &spec, 4);
                data.insert(data.end(), {bits[0], bits[1]});
            }
            dev.SetRenderState(RsShadeMode, shade);
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
            EXPECT_EQ(dev.DrawPrimitiveUP(c.type, 1, data.data(), c.transformed ? 24 : 20), kGfxOk);
            dev.EndScene();
            return gfxtest::Frame(dev);
        };
        const std::vector<uint32_t> flat = draw(ShadeFlat, false);
        EXPECT_EQ(flat, draw(ShadeGouraud, true)) << c.name;
        // The fog does change across it.
        std::vector<uint32_t> colours(flat);
        std::sort(colours.begin(), colours.end());
        EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 10) << c.name;
        if (c.shader) {
            dev.SetPixelShader(0);
            dev.DeletePixelShader(shader);
        }
    }
}

}  // namespace

// Sprites read straight from pre-transformed vertex data draw what the
// general way draws (span level 0 keeps to it), in several vertex formats,
// indexed or not, with the quads it must turn away among them: corners of
// different colours, shared corners whose bytes differ, corners beyond the
// guard band or not numbers, turned, stretched and foreshortened quads.
TEST(VertexStage, SpritesFromVertexDataDrawWhatTheGeneralWayDraws)
{
    struct Format {
        uint32_t fvf;
        int set;   // the coordinate set stage 0 reads
    };
    const Format formats[] = {{0x144, 0}, {0x1C4, 0}, {0x244, 1}, {0x164, 0}, {0x104, 0}, {0x44, 0},
                              {0x144 | FvfTexCoordSize4(0), 0}};
    constexpr int kW = 96, kH = 64;
    std::vector<uint32_t> texels(32 * 16);
    std::mt19937 rng(23);
    for (uint32_t& t : texels) {
        t = static_cast<uint32_t>(rng());
    }
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    int drawn = 0;
    for (int round = 0; round < 28; ++round) {
        const Format format = formats[round % 7];
        const int stride = FvfStride(format.fvf);
        const bool point = (format.fvf & FvfPointSize) != 0;
        const int diffuse = (format.fvf & FvfDiffuse) ? 16 + (point ? 4 : 0) : -1;
        const int specular = (format.fvf & FvfSpecular) ? diffuse + 4 : -1;
        const int texCount = static_cast<int>((format.fvf >> 8) & 0xF);
        const int tex = 16 + (point ? 4 : 0) + (diffuse >= 0 ? 4 : 0) + (specular >= 0 ? 4 : 0);
        const int texFloats = (format.fvf >> 16) & 3 ? 4 : 2;
        // Quads as six vertices (corners 0 1 2 2 3 0), each a field at a time.
        std::vector<uint8_t> data;
        auto put = [&](size_t at, int offset, const void* value) {
            if (offset >= 0 && offset + 4 <= stride) {
                std::memcpy(&data[at + static_cast<size_t>(offset)], value, 4);
            }
        };
        const int quads = 40;
        data.assign(static_cast<size_t>(quads) * 6 * stride, 0);
        for (int qi = 0; qi < quads; ++qi) {
            const int kind = pick(12);
            const float l = kind == 1 ? uni(-20, kW) : static_cast<float>(pick(kW + 20) - 10) - 0.5f;
            const float t = kind == 1 ? uni(-20, kH) : static_cast<float>(pick(kH + 20) - 10) - 0.5f;
            const float w = kind == 1 ? uni(0.5f, 40) : static_cast<float>(1 + pick(32));
            const float h = kind == 1 ? uni(0.5f, 40) : static_cast<float>(1 + pick(16));
            float xs[4] = {l, l + w, l + w, l}, ys[4] = {t, t, t + h, t + h};
            const float us[4] = {0, 1, 1, 0}, vs[4] = {0, 0, 1, 1};
            float rhw[4] = {1, 1, 1, 1};
            uint32_t colors[4], spec[4];
            const uint32_t color = pick(2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
            const uint32_t sp = static_cast<uint32_t>(rng());
            for (int k = 0; k < 4; ++k) {
                colors[k] = color;
                spec[k] = sp;
            }
            switch (kind) {
            case 2: colors[pick(4)] ^= 0x01000000u; break;   // corners of different colours
            case 3: spec[pick(4)] ^= 0x10u; break;
            case 4: xs[pick(4)] = pick(2) == 0 ? 40000.0f : nan; break;   // beyond the guard band
            case 5:                                                        // foreshortened
                for (float& r : rhw) {
                    r = uni(0.2f, 2.0f);
                }
                break;
            case 6:   // turned
                xs[1] += 3.0f;
                ys[3] += 2.0f;
                break;
            case 7:   // one and the same rhw other than 1
                for (float& r : rhw) {
                    r = 0.5f;
                }
                break;
            default: break;
            }
            const int order[6] = {0, 1, 2, 2, 3, 0};
            for (int k = 0; k < 6; ++k) {
                const int c = order[k];
                const size_t at = (static_cast<size_t>(qi) * 6 + k) * stride;
                const float z = 0.0f;
                put(at, 0, &xs[c]);
                put(at, 4, &ys[c]);
                put(at, 8, &z);
                put(at, 12, &rhw[c]);
                if (point) {
                    // The size is not read, but makes the shared corners'
                    // bytes differ now and then.
                    const float size = kind == 8 && k == 3 ? 2.0f : 1.0f;
                    put(at, 16, &size);
                }
                put(at, diffuse, &colors[c]);
                put(at, specular, &spec[c]);
                for (int s = 0; s < texCount; ++s) {
                    const int off = tex + s * texFloats * 4;
                    // The other set is skewed: nothing reads it.
                    const float u = s == format.set ? us[c] : us[c] * 0.3f + vs[c];
                    float v = vs[c];
                    if (kind == 9 && k == 5 && s == format.set) {
                        v += 0.125f;   // the shared corner's bytes differ
                    }
                    put(at, off, &u);
                    put(at, off + 4, &v);
                    if (texFloats == 4) {
                        const float wq[2] = {0.0f, k == 3 && kind == 10 ? 2.0f : 1.0f};
                        put(at, off + 8, &wq[0]);
                        put(at, off + 12, &wq[1]);
                    }
                }
            }
        }
        // Indexed draws read the same vertices through indices, one past them now and then.
        std::vector<uint16_t> indices(static_cast<size_t>(quads) * 6);
        for (size_t i = 0; i < indices.size(); ++i) {
            indices[i] = static_cast<uint16_t>(i);
        }
        const bool indexed = round % 2 == 1;
        if (indexed && round % 4 == 3) {
            indices[static_cast<size_t>(pick(quads * 6))] = static_cast<uint16_t>(quads * 6 + 5);
        }
        SoftDevice dev;
        ASSERT_TRUE(gfxtest::MakeDevice(dev, kW, kH));
        SoftTexture* texture = gfxtest::MakeTexture(dev, 32, 16, texels);
        ASSERT_NE(texture, nullptr);
        const uint32_t blends[3][2] = {{BlendOne, BlendZero}, {BlendSrcAlpha, BlendInvSrcAlpha}, {BlendSrcAlpha, BlendOne}};
        const int blend = pick(3);
        const uint32_t filter = pick(3) == 0 ? FilterLinear : FilterPoint;
        const uint32_t cull = static_cast<uint32_t>(1 + pick(3));
        const uint32_t shade = pick(4) == 0 ? ShadeFlat : ShadeGouraud;
        const bool textured = pick(6) != 0;
        // Odd counts leave the last triangle on its own.
        const uint32_t triangles = static_cast<uint32_t>(quads * 2 - (round % 3 == 0 ? 1 : 0));
        auto render = [&](int level) {
            dev.SetSpanLevel(level);
            dev.SetVertexShader(format.fvf);
            dev.SetTexture(0, textured ? texture : nullptr);
            dev.SetTextureStageState(0, TssTexCoordIndex, static_cast<uint32_t>(format.set));
            dev.SetTextureStageState(0, TssMagFilter, filter);
            dev.SetTextureStageState(0, TssMinFilter, filter);
            dev.SetRenderState(RsAlphaBlendEnable, blend != 0);
            dev.SetRenderState(RsSrcBlend, blends[blend][0]);
            dev.SetRenderState(RsDestBlend, blends[blend][1]);
            dev.SetRenderState(RsCullMode, cull);
            dev.SetRenderState(RsShadeMode, shade);
            dev.SetRenderState(RsSpecularEnable, format.fvf & FvfSpecular ? 1u : 0u);
            const uint64_t before = dev.GetStats().primitives;
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF204060u, 1.0f, 0);
            if (indexed) {
                EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, quads * 6, triangles, indices.data(),
                                                     FormatIndex16, data.data(), static_cast<uint32_t>(stride)),
                          kGfxOk);
            } else {
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, triangles, data.data(), static_cast<uint32_t>(stride)),
                          kGfxOk);
            }
            dev.EndScene();
            const uint64_t recorded = dev.GetStats().primitives - before;
            std::vector<uint32_t> frame = gfxtest::Frame(dev);
            frame.push_back(static_cast<uint32_t>(recorded));
            return frame;
        };
        const std::vector<uint32_t> general = render(0);
        EXPECT_EQ(render(1), general) << "round " << round << " format " << format.fvf;
        EXPECT_EQ(render(2), general) << "round " << round << " format " << format.fvf;
        for (size_t i = 0; i + 1 < general.size(); ++i) {
            drawn += general[i] != 0xFF204060u;
        }
        texture->Release();
    }
    EXPECT_GT(drawn, 20000);
}

// A quad's two triangles draw the same bytes in one draw (where the stage
// may join them into one rectangle) as drawn one by one: random textured
// quads, upright or turned, stretched and shrunk, point and bilinear, with
// even or graded colours, as a list, a fan and a strip, at every span level
// and on one and on three threads (where the workers set sprites up).
TEST(VertexStage, QuadsDrawTheSameInOneDrawAsTriangleByTriangle)
{
    struct Vertex {
        float x, y, z, rhw;
        uint32_t diffuse;
        float u, v;
    };
    constexpr int kW = 160, kH = 128;
    std::mt19937 rng(2025);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    const int sizes[][2] = {{32, 32}, {64, 32}, {16, 8}, {4, 4}};
    std::vector<uint32_t> texels(64 * 32);
    for (uint32_t& t : texels) {
        // Opaque and clear texels side by side, as sprites have them.
        t = (static_cast<uint32_t>(rng()) & 0x00FFFFFFu) | (pick(3) == 0 ? 0u : 0xFF000000u);
    }
    int drawn = 0;
    for (int round = 0; round < 48; ++round) {
        const int* size = sizes[round % 4];
        const bool linear = round % 8 >= 4;
        const bool graded = round % 3 == 2;
        // The quads of the round: corners a, b, c, d around each.
        std::vector<std::array<Vertex, 4>> quads(24);
        for (auto& q : quads) {
            const bool turned = pick(5) == 0;
            const bool snapped = pick(2) == 0;
            const float w = snapped ? static_cast<float>(1 + pick(120)) : uni(0.5f, 120.0f);
            const float h = snapped ? static_cast<float>(1 + pick(120)) : uni(0.5f, 120.0f);
            const float l = snapped ? static_cast<float>(pick(kW) - 20) - 0.5f : uni(-20.0f, kW);
            const float t = snapped ? static_cast<float>(pick(kH) - 20) - 0.5f : uni(-20.0f, kH);
            float xs[4] = {l, l + w, l + w, l}, ys[4] = {t, t, t + h, t + h};
            if (turned) {
                const float a = uni(0.0f, 6.28f), cx = l + w / 2, cy = t + h / 2;
                for (int k = 0; k < 4; ++k) {
                    const float dx = xs[k] - cx, dy = ys[k] - cy;
                    xs[k] = cx + std::cos(a) * dx - std::sin(a) * dy;
                    ys[k] = cy + std::sin(a) * dx + std::cos(a) * dy;
                }
            }
            // Whole texels with the half-texel offset, or anywhere.
            const float tw = static_cast<float>(size[0]), th = static_cast<float>(size[1]);
            const float u0 = pick(2) == 0 ? 0.5f / tw : uni(-1, 1), u1 = pick(2) == 0 ? (tw - 0.5f) / tw : uni(0, 2);
            const float v0 = pick(2) == 0 ? 0.5f / th : uni(-1, 1), v1 = pick(2) == 0 ? (th - 0.5f) / th : uni(0, 2);
            const float us[4] = {u0, u1, u1, u0}, vs[4] = {v0, v0, v1, v1};
            uint32_t colors[4];
            const uint32_t even = pick(2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng()) | 0xFF000000u;
            for (uint32_t& c : colors) {
                c = even;
            }
            if (graded) {
                // d = a + c - b channel by channel: the colours are one plane.
                for (int ch = 0; ch < 32; ch += 8) {
                    const uint32_t ca = static_cast<uint32_t>(64 + pick(128)), cb = static_cast<uint32_t>(64 + pick(128));
                    const uint32_t cc = static_cast<uint32_t>(64 + pick(128));
                    const uint32_t cd = std::clamp<uint32_t>(ca + cc - cb, 0, 255);
                    const uint32_t mask = ~(0xFFu << ch);
                    colors[0] = (colors[0] & mask) | ca << ch;
                    colors[1] = (colors[1] & mask) | cb << ch;
                    colors[2] = (colors[2] & mask) | cc << ch;
                    colors[3] = (colors[3] & mask) | cd << ch;
                }
            }
            const int start = pick(4), dir = pick(2) == 0 ? 1 : 3;
            for (int k = 0; k < 4; ++k) {
                const int c = (start + dir * k) % 4;
                q[k] = Vertex{xs[c], ys[c], 0.0f, 1.0f, colors[c], us[c], vs[c]};
            }
        }
        // The triangles as a list, a fan and a strip draw them.
        auto triangles = [](const std::array<Vertex, 4>& q, int shape) {
            const Vertex& a = q[0];
            const Vertex& b = q[1];
            const Vertex& c = q[2];
            const Vertex& d = q[3];
            if (shape == 0) {
                return std::array<Vertex, 6>{a, b, c, c, d, a};
            }
            if (shape == 1) {
                return std::array<Vertex, 6>{a, b, c, a, c, d};
            }
            // Strip b, a, c, d: (b, a, c), then (a, d, c).
            return std::array<Vertex, 6>{b, a, c, a, d, c};
        };
        auto render = [&](int shape, bool oneByOne, int level, int threads) {
            SoftDevice dev;
            EXPECT_TRUE(gfxtest::MakeDevice(dev, kW, kH, threads));
            SoftTexture* texture = gfxtest::MakeTexture(dev, size[0], size[1], texels);
            dev.SetSpanLevel(level);
            dev.SetTexture(0, texture);
            const uint32_t filter = linear ? FilterLinear : FilterPoint;
            dev.SetTextureStageState(0, TssMagFilter, filter);
            dev.SetTextureStageState(0, TssMinFilter, filter);
            dev.SetTextureStageState(0, TssAddressU, round % 2 == 0 ? AddressWrap : AddressClamp);
            dev.SetTextureStageState(0, TssAddressV, round % 2 == 0 ? AddressWrap : AddressClamp);
            dev.SetRenderState(RsAlphaBlendEnable, 1);
            dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
            dev.SetRenderState(RsDestBlend, round % 5 == 0 ? BlendOne : BlendInvSrcAlpha);
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF204060u, 1.0f, 0);
            for (const auto& q : quads) {
                const std::array<Vertex, 6> t = triangles(q, shape);
                if (oneByOne) {
                    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, &t[0], sizeof(Vertex)), kGfxOk);
                    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, &t[3], sizeof(Vertex)), kGfxOk);
                } else if (shape == 0) {
                    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, t.data(), sizeof(Vertex)), kGfxOk);
                } else {
                    const Vertex strip[4] = {q[1], q[0], q[2], q[3]};
                    EXPECT_EQ(dev.DrawPrimitiveUP(shape == 1 ? PrimTriangleFan : PrimTriangleStrip, 2,
                                                  shape == 1 ? q.data() : strip, sizeof(Vertex)),
                              kGfxOk);
                }
            }
            dev.EndScene();
            std::vector<uint32_t> frame = gfxtest::Frame(dev);
            dev.SetTexture(0, nullptr);
            texture->Release();
            return frame;
        };
        for (int shape = 0; shape < 3; ++shape) {
            const std::vector<uint32_t> want = render(shape, true, 0, 1);
            for (uint32_t p : want) {
                drawn += p != 0xFF204060u;
            }
            for (int level = 0; level <= 2; ++level) {
                for (int threads : {1, 3}) {
                    const std::vector<uint32_t> got = render(shape, false, level, threads);
                    int differ = 0;
                    for (size_t i = 0; i < got.size(); ++i) {
                        differ += got[i] != want[i];
                    }
                    EXPECT_EQ(differ, 0) << "round " << round << " shape " << shape << " level " << level
                                         << " threads " << threads;
                }
            }
        }
    }
    EXPECT_GT(drawn, 48 * 3 * kW * kH / 2);
}
