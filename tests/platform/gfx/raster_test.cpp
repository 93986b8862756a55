// Differential checks of the rasterizer: fast spans against the general path
// and one thread against many, on random scenes and on the busy 2D frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"
#include "tests/platform/gfx/busy2d_scene.h"
#include "tests/platform/gfx/frames_scene.h"
#include "tests/platform/gfx/gfx_test_util.h"

using namespace platform;

namespace {

struct SceneTextures {
    std::vector<SoftTexture*> list;
    ~SceneTextures()
    {
        for (SoftTexture* t : list) {
            t->Release();
        }
    }
};

void MakeSceneTextures(SoftDevice& dev, SceneTextures& out)
{
    std::mt19937 rng(7);
    const struct {
        int w, h;
        uint32_t format;
    } specs[] = {{16, 16, FormatA8R8G8B8}, {32, 8, FormatA8R8G8B8}, {13, 7, FormatA4R4G4B4},
                 {64, 64, FormatA8R8G8B8}, {5, 9, FormatR5G6B5},    {100, 60, FormatA1R5G5B5},
                 // One texel row (the row below is itself) and one pair across.
                 {8, 1, FormatA8R8G8B8},   {2, 4, FormatA8R8G8B8}};
    for (const auto& s : specs) {
        SoftTexture* t = nullptr;
        ASSERT_EQ(dev.CreateTexture(s.w, s.h, 1, 0, s.format, PoolManaged, &t), kGfxOk);
        LockedRect lr;
        ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), kGfxOk);
        for (int y = 0; y < s.h; ++y) {
            for (int x = 0; x < s.w; ++x) {
                // Whole transparent and opaque runs as well as every level between.
                uint32_t argb = rng();
                const int kind = (x / 3 + y / 2) % 4;
                argb = kind == 0 ? (argb & 0x00FFFFFFu) : (kind == 1 ? (argb | 0xFF000000u) : argb);
                ArgbToFormat(s.format, argb,
                             static_cast<uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch +
                                 static_cast<size_t>(x) * FormatBytes(s.format));
            }
        }
        t->UnlockRect(0);
        out.list.push_back(t);
    }
}

// A random scene of the kinds of draws the engine makes: 1:1 sprites (the
// fast spans' case), tinted and gradient quads, turned and stretched
// quads, perspective triangles, lines and points, under every blend preset.
void DrawRandomScene(SoftDevice& dev, const SceneTextures& tex, uint32_t seed, int w, int h)
{
    std::mt19937 rng(seed);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    const uint32_t blends[][2] = {{BlendOne, BlendZero},        {BlendSrcAlpha, BlendInvSrcAlpha},
                                  {BlendSrcAlpha, BlendOne},    {BlendZero, BlendSrcColor},
                                  {BlendOne, BlendOne},         {BlendDestColor, BlendOne},
                                  {BlendInvDestColor, BlendZero}};
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0xFF204060u, 1.0f, 0);
    for (int i = 0; i < 300; ++i) {
        const int b = pick(7);
        dev.SetRenderState(RsAlphaBlendEnable, pick(8) != 0);
        dev.SetRenderState(RsSrcBlend, blends[b][0]);
        dev.SetRenderState(RsDestBlend, blends[b][1]);
        const bool textured = pick(5) != 0;
        SoftTexture* t = textured ? tex.list[static_cast<size_t>(pick(static_cast<int>(tex.list.size())))] : nullptr;
        dev.SetTexture(0, t);
        dev.SetTextureStageState(0, TssAlphaOp, pick(4) == 0 ? TopSelectArg1 : TopModulate);
        dev.SetTextureStageState(0, TssColorOp, pick(6) == 0 ? TopSelectArg1 : TopModulate);
        const uint32_t filter = pick(4) == 0 ? FilterLinear : FilterPoint;
        dev.SetTextureStageState(0, TssMagFilter, filter);
        dev.SetTextureStageState(0, TssMinFilter, filter);
        const uint32_t address = pick(3) == 0 ? AddressClamp : AddressWrap;
        dev.SetTextureStageState(0, TssAddressU, address);
        dev.SetTextureStageState(0, TssAddressV, address);
        dev.SetRenderState(RsShadeMode, pick(5) == 0 ? ShadeFlat : ShadeGouraud);
        const int tw = t != nullptr ? t->GetWidth() : 16, th = t != nullptr ? t->GetHeight() : 16;
        const uint32_t color = pick(2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
        std::vector<busy2d::Vertex> v;
        const int kind = pick(6);
        if (kind <= 1) {
            // A 1:1 sprite, partly off screen now and then.
            const int x = pick(w + tw) - tw / 2, y = pick(h + th) - th / 2;
            busy2d::AppendQuad(v, x, y, tw, th, tw, th);
            for (auto& q : v) {
                q.color = color;
            }
        } else if (kind == 2) {
            // Stretched quad with corner colours and wrapped coordinates.
            const float x = uni(-20, static_cast<float>(w)), y = uni(-20, static_cast<float>(h));
            const float qw = uni(1, 90), qh = uni(1, 90);
            busy2d::AppendQuad(v, 0, 0, 1, 1, 1, 1);
            const float xs[4] = {x, x + qw, x + qw, x}, ys[4] = {y, y, y + qh, y + qh};
            const float us[4] = {uni(-2, 0), uni(1, 3), uni(1, 3), uni(-2, 0)};
            const float vs[4] = {uni(-2, 0), uni(-2, 0), uni(1, 3), uni(1, 3)};
            const int order[6] = {0, 1, 2, 2, 3, 0};
            for (int k = 0; k < 6; ++k) {
                v[k].x = xs[order[k]];
                v[k].y = ys[order[k]];
                v[k].u = us[order[k]];
                v[k].v = vs[order[k]];
                v[k].color = pick(3) == 0 ? static_cast<uint32_t>(rng()) : color;
            }
        } else if (kind == 3) {
            // Perspective triangle: rhw differs per corner.
            for (int k = 0; k < 3; ++k) {
                const float rhw = uni(0.2f, 2.0f);
                v.push_back({uni(-30, static_cast<float>(w + 30)), uni(-30, static_cast<float>(h + 30)), uni(0, 1),
                             rhw, static_cast<uint32_t>(rng()), uni(0, 1) * rhw, uni(0, 1) * rhw});
            }
        } else {
            // Turned quad (fast-path material when evenly coloured).
            const float cx = uni(0, static_cast<float>(w)), cy = uni(0, static_cast<float>(h));
            const float a = uni(0, 6.3f), r = uni(2, 40);
            const float c = std::cos(a) * r, s = std::sin(a) * r;
            const float px[4] = {cx - c + s, cx + c + s, cx + c - s, cx - c - s};
            const float py[4] = {cy - s - c, cy + s - c, cy + s + c, cy - s + c};
            const float us[4] = {0, 1, 1, 0}, vs[4] = {0, 0, 1, 1};
            const int order[6] = {0, 1, 2, 2, 3, 0};
            for (int k = 0; k < 6; ++k) {
                v.push_back({px[order[k]], py[order[k]], 0, 1, color, us[order[k]], vs[order[k]]});
            }
        }
        dev.SetVertexShader(0x144);
        ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(),
                                      sizeof(busy2d::Vertex)),
                  kGfxOk);
        if (pick(10) == 0) {
            const busy2d::Vertex l[2] = {{uni(0, static_cast<float>(w)), uni(0, static_cast<float>(h)), 0, 1,
                                          static_cast<uint32_t>(rng()), uni(0, 1), uni(0, 1)},
                                         {uni(0, static_cast<float>(w)), uni(0, static_cast<float>(h)), 0, 1,
                                          static_cast<uint32_t>(rng()), uni(0, 1), uni(0, 1)}};
            ASSERT_EQ(dev.DrawPrimitiveUP(pick(2) == 0 ? PrimLineList : PrimPointList, 1, l, sizeof(busy2d::Vertex)),
                      kGfxOk);
        }
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
}

std::vector<uint32_t> RenderRandom(uint32_t seed, int threads, int spanLevel, uint64_t* fastPrims = nullptr)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, 200, 150, threads));
    dev.SetSpanLevel(spanLevel);
    SceneTextures tex;
    MakeSceneTextures(dev, tex);
    DrawRandomScene(dev, tex, seed, 200, 150);
    if (fastPrims != nullptr) {
        *fastPrims = dev.GetStats().fastPrimitives;
    }
    return gfxtest::Frame(dev);
}

std::vector<uint32_t> RenderBusy(int threads)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, busy2d::kWidth, busy2d::kHeight, threads));
    SoftTexture* bg = gfxtest::MakeTexture(dev, busy2d::kWidth, busy2d::kHeight, busy2d::Background());
    SoftTexture* sprites[3] = {gfxtest::MakeTexture(dev, 16, 16, busy2d::Sprite(16)),
                               gfxtest::MakeTexture(dev, 32, 32, busy2d::Sprite(32)),
                               gfxtest::MakeTexture(dev, 64, 64, busy2d::Sprite(64))};
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
    std::vector<busy2d::Vertex> v;
    busy2d::AppendQuad(v, 0, 0, busy2d::kWidth, busy2d::kHeight, busy2d::kWidth, busy2d::kHeight);
    dev.SetTexture(0, bg);
    dev.DrawPrimitiveUP(PrimTriangleList, 2, v.data(), sizeof(busy2d::Vertex));
    const std::vector<busy2d::Quad> quads = busy2d::Quads();
    for (int group = 0; group < 3; ++group) {
        const int n = 16 << group;
        v.clear();
        for (const busy2d::Quad& q : quads) {
            if (q.size == n) {
                busy2d::AppendQuad(v, q.x, q.y, n, n, n, n);
            }
        }
        dev.SetRenderState(RsAlphaBlendEnable, 1);
        dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
        dev.SetRenderState(RsDestBlend, group == 2 ? BlendOne : BlendInvSrcAlpha);
        dev.SetTexture(0, sprites[group]);
        dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(), sizeof(busy2d::Vertex));
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    std::vector<uint32_t> frame = gfxtest::Frame(dev);
    bg->Release();
    for (SoftTexture* t : sprites) {
        t->Release();
    }
    return frame;
}

// A random scene for the sampled spans: tinted, turned and stretched
// sprites and foreshortened triangles, pre-transformed or through the
// fixed-function transform, each under a random filter, addressing, colour
// operation, blend and depth state, over a random depth clear.
void DrawSampledScene(SoftDevice& dev, const SceneTextures& tex, uint32_t seed, int w, int h)
{
    std::mt19937 rng(seed);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    const uint32_t blends[][2] = {{BlendOne, BlendZero}, {BlendSrcAlpha, BlendInvSrcAlpha}, {BlendSrcAlpha, BlendOne},
                                  {BlendOne, BlendOne}};
    // Wrap and clamp take the sampled spans; the others keep the general path.
    const uint32_t addresses[] = {AddressWrap, AddressClamp,  AddressWrap,      AddressClamp,
                                  AddressMirror, AddressBorder, AddressMirrorOnce};
    const uint32_t tints[] = {0xFFFFFFFFu, 0xFFC0C0FFu, 0x80FFFFFFu, 0x00FFFFFFu, 0xFF102030u};
    const std::vector<frames::Vertex3D> cube = frames::CubeVertices();
    const Matrix4 projection = [] {
        Matrix4 m;
        const Mat4 p = frames::CubeProjection();
        std::memcpy(m.m, p.m, sizeof m.m);
        return m;
    }();
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF204060u, pick(2) == 0 ? 1.0f : uni(0.3f, 0.9f), 0);
    dev.SetTransform(TsProjection, projection);
    for (int i = 0; i < 250; ++i) {
        const int b = pick(4);
        dev.SetRenderState(RsAlphaBlendEnable, pick(6) != 0);
        dev.SetRenderState(RsSrcBlend, blends[b][0]);
        dev.SetRenderState(RsDestBlend, blends[b][1]);
        dev.SetRenderState(RsZEnable, pick(4) != 0);
        dev.SetRenderState(RsZWriteEnable, pick(3) != 0);
        dev.SetRenderState(RsZFunc, static_cast<uint32_t>(1 + pick(8)));
        dev.SetRenderState(RsShadeMode, pick(4) == 0 ? ShadeFlat : ShadeGouraud);
        SoftTexture* t = tex.list[static_cast<size_t>(pick(static_cast<int>(tex.list.size())))];
        dev.SetTexture(0, t);
        dev.SetTextureStageState(0, TssColorOp, pick(5) == 0 ? TopSelectArg1 : TopModulate);
        dev.SetTextureStageState(0, TssAlphaOp, pick(5) == 0 ? TopSelectArg1 : TopModulate);
        dev.SetTextureStageState(0, TssMagFilter, pick(3) == 0 ? FilterPoint : FilterLinear);
        dev.SetTextureStageState(0, TssMinFilter, pick(3) == 0 ? FilterPoint : FilterLinear);
        dev.SetTextureStageState(0, TssAddressU, addresses[pick(7)]);
        dev.SetTextureStageState(0, TssAddressV, addresses[pick(7)]);
        dev.SetTextureStageState(0, TssBorderColor, static_cast<uint32_t>(rng()));
        const uint32_t tint = pick(4) == 0 ? static_cast<uint32_t>(rng()) : tints[pick(5)];
        const int kind = pick(3);
        if (kind == 2) {
            // A cube through the transform: foreshortened, depth-tested.
            const Mat4 world = MatrixMultiply(MatrixMultiply(MatrixRotationX(uni(0, 6.3f)), MatrixRotationY(uni(0, 6.3f))),
                                              MatrixTranslation(uni(-3, 3), uni(-2, 2), uni(-9, -3)));
            Matrix4 m;
            std::memcpy(m.m, world.m, sizeof m.m);
            dev.SetTransform(TsWorld, m);
            std::vector<frames::Vertex3D> v = cube;
            const float scale = uni(0.5f, 4.0f);
            for (frames::Vertex3D& x : v) {
                x.color = tint;
                x.u *= scale;
                x.v *= scale;
            }
            dev.SetRenderState(RsCullMode, pick(2) == 0 ? CullNone : CullCcw);
            dev.SetVertexShader(0x142);
            ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 12, v.data(), sizeof(frames::Vertex3D)), kGfxOk);
            dev.SetVertexShader(0x144);
            continue;
        }
        std::vector<busy2d::Vertex> v;
        if (kind == 0) {
            // A turned, scaled sprite at a slant in depth.
            const frames::TurnedQuad q{uni(-10, static_cast<float>(w + 10)), uni(-10, static_cast<float>(h + 10)),
                                       uni(1, 50), uni(0, 6.3f), 16};
            frames::AppendTurnedQuad(v, q);
            const float z0 = uni(0, 1), dz = uni(-0.01f, 0.01f);
            // Now and then coordinates far out, where wrapping takes the top
            // bits and the fixed point saturates.
            const bool far = pick(8) == 0;
            const float us = far ? uni(1e4f, 1e8f) : uni(0.2f, 3.0f), uo = far ? uni(-1e7f, 1e7f) : uni(-1.5f, 1.5f);
            // Now and then a depth that is not a number: it passes only
            // the "not equal" test, and is written as it is.
            const bool noDepth = pick(12) == 0;
            for (busy2d::Vertex& x : v) {
                x.color = tint;
                x.z = noDepth ? std::numeric_limits<float>::quiet_NaN() : std::min(1.0f, std::max(0.0f, z0 + dz * x.x));
                x.u = x.u * us + uo;
                x.v = x.v * us - uo;
            }
        } else {
            // Foreshortened triangle: rhw differs per corner.
            const float reach = pick(8) == 0 ? 1e7f : 2.0f;
            for (int k = 0; k < 3; ++k) {
                v.push_back({uni(-30, static_cast<float>(w + 30)), uni(-30, static_cast<float>(h + 30)), uni(0, 1),
                             uni(0.2f, 2.0f), tint, uni(-reach, reach), uni(-reach, reach)});
            }
        }
        dev.SetRenderState(RsCullMode, CullNone);
        ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(),
                                      sizeof(busy2d::Vertex)),
                  kGfxOk);
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
}

std::vector<float> DepthOf(SoftDevice& dev, int w, int h)
{
    std::vector<float> out(static_cast<size_t>(w) * h);
    LockedRect lr;
    if (dev.GetDepthBuffer()->LockRect(&lr, nullptr, LockReadOnly) != kGfxOk) {
        return {};
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(&out[static_cast<size_t>(y) * w], static_cast<const uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch,
                    static_cast<size_t>(w) * 4);
    }
    dev.GetDepthBuffer()->UnlockRect();
    return out;
}

struct Rendered {
    std::vector<uint32_t> color;
    std::vector<float> depth;
    uint64_t fastPrims = 0;
};

Rendered RenderSampled(uint32_t seed, int threads, int spanLevel, int w = 200, int h = 150)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, w, h, threads, true));
    dev.SetSpanLevel(spanLevel);
    SceneTextures tex;
    MakeSceneTextures(dev, tex);
    DrawSampledScene(dev, tex, seed, w, h);
    Rendered r;
    r.fastPrims = dev.GetStats().fastPrimitives;
    r.color = gfxtest::Frame(dev);
    r.depth = DepthOf(dev, w, h);
    return r;
}

// The rotated-sprite and textured-cube frames drawn straight on the device,
// with the states and formats of the benchmark.
std::vector<uint32_t> RenderNewFrame(bool cubes, int threads, int spanLevel)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, busy2d::kWidth, busy2d::kHeight, threads, true));
    dev.SetSpanLevel(spanLevel);
    dev.BeginScene();
    std::vector<SoftTexture*> textures;
    if (cubes) {
        SoftTexture* t = gfxtest::MakeTexture(dev, frames::kCubeTexSize, frames::kCubeTexSize, frames::CubeTexture());
        textures.push_back(t);
        dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, frames::kCubeClear, 1.0f, 0);
        dev.SetRenderState(RsZEnable, 1);
        dev.SetRenderState(RsZFunc, CmpLessEqual);
        dev.SetTextureStageState(0, TssMagFilter, FilterLinear);
        dev.SetTextureStageState(0, TssMinFilter, FilterLinear);
        Matrix4 m;
        const Mat4 p = frames::CubeProjection();
        std::memcpy(m.m, p.m, sizeof m.m);
        dev.SetTransform(TsProjection, m);
        dev.SetTexture(0, t);
        dev.SetVertexShader(0x142);
        const std::vector<frames::Vertex3D> cube = frames::CubeVertices();
        for (const Mat4& world : frames::CubeWorlds()) {
            std::memcpy(m.m, world.m, sizeof m.m);
            dev.SetTransform(TsWorld, m);
            dev.DrawPrimitiveUP(PrimTriangleList, 12, cube.data(), sizeof(frames::Vertex3D));
        }
    } else {
        textures.push_back(gfxtest::MakeTexture(dev, busy2d::kWidth, busy2d::kHeight, busy2d::Background()));
        for (int n = 16; n <= 64; n *= 2) {
            textures.push_back(gfxtest::MakeTexture(dev, n, n, busy2d::Sprite(n)));
        }
        dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 1.0f, 0);
        std::vector<busy2d::Vertex> v;
        busy2d::AppendQuad(v, 0, 0, busy2d::kWidth, busy2d::kHeight, busy2d::kWidth, busy2d::kHeight);
        dev.SetTexture(0, textures[0]);
        dev.DrawPrimitiveUP(PrimTriangleList, 2, v.data(), sizeof(busy2d::Vertex));
        const std::vector<frames::TurnedQuad> quads = frames::TurnedQuads();
        dev.SetTextureStageState(0, TssMagFilter, FilterLinear);
        dev.SetTextureStageState(0, TssMinFilter, FilterLinear);
        dev.SetTextureStageState(0, TssAddressU, AddressClamp);
        dev.SetTextureStageState(0, TssAddressV, AddressClamp);
        dev.SetRenderState(RsAlphaBlendEnable, 1);
        dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
        for (int group = 0; group < 3; ++group) {
            v.clear();
            for (const frames::TurnedQuad& q : quads) {
                if (q.size == 16 << group) {
                    frames::AppendTurnedQuad(v, q);
                }
            }
            dev.SetRenderState(RsDestBlend, group == 2 ? BlendOne : BlendInvSrcAlpha);
            dev.SetTexture(0, textures[static_cast<size_t>(group) + 1]);
            dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(), sizeof(busy2d::Vertex));
        }
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    std::vector<uint32_t> frame = gfxtest::Frame(dev);
    for (SoftTexture* t : textures) {
        t->Release();
    }
    return frame;
}

// A lit, skinned mesh of several thousand vertices through a vertex shader:
// large enough that its vertices are shaded on the worker threads.
std::vector<uint32_t> RenderShadedMesh(int threads)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, 160, 120, threads, true));
    const char* text = "vs.1.1\n"
                       "mov a0.x, v2.x\n"
                       "m4x4 r0, v0, c[a0.x + 20]\n"
                       "m4x4 oPos, r0, c0\n"
                       "dp3 r1.x, v1, c4\n"
                       "max r1.x, r1.x, c5.x\n"
                       "mul oD0, r1.xxxx, c6\n"
                       "mov oT0.xy, v1.xy\n";
    ShaderAsmResult code;
    EXPECT_TRUE(AssembleShader(text, std::strlen(text), &code)) << code.error;
    const uint32_t decl[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclFloat3), DeclReg(2, DeclFloat1),
                             kDeclEnd};
    uint32_t handle = 0;
    EXPECT_EQ(dev.CreateVertexShader(decl, code.code.data(), static_cast<uint32_t>(code.code.size()), &handle, 0),
              kGfxOk);
    // c0: a projection; c20 onwards: a palette of turned and moved bones.
    const Mat4 projection = frames::CubeProjection();
    dev.SetVertexShaderConstant(0, MatrixTranspose(projection).m, 4);
    const float light[3][4] = {{0.3f, 0.8f, 0.5f, 0}, {0, 0, 0, 0}, {1.0f, 0.9f, 0.7f, 1.0f}};
    dev.SetVertexShaderConstant(4, light, 3);
    std::mt19937 rng(3);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    for (int bone = 0; bone < 8; ++bone) {
        const Mat4 m = MatrixMultiply(MatrixRotationY(uni(0, 6.3f)), MatrixTranslation(uni(-2, 2), uni(-2, 2), uni(-9, -5)));
        dev.SetVertexShaderConstant(20 + 4 * static_cast<uint32_t>(bone), MatrixTranspose(m).m, 4);
    }
    struct Vertex {
        float p[3], n[3], bone;
    };
    std::vector<Vertex> v(3000);
    for (Vertex& x : v) {
        x = {{uni(-1, 1), uni(-1, 1), uni(-1, 1)}, {uni(-1, 1), uni(-1, 1), uni(-1, 1)}, 4.0f * (rng() % 8)};
    }
    std::vector<uint16_t> index(3000);
    for (size_t i = 0; i < index.size(); ++i) {
        index[i] = static_cast<uint16_t>(rng() % v.size());
    }
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsCullMode, CullNone);
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg2);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg2);
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 1.0f, 0);
    dev.SetVertexShader(handle);
    EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, static_cast<uint32_t>(v.size()),
                                         static_cast<uint32_t>(index.size() / 3), index.data(), FormatIndex16, v.data(),
                                         sizeof(Vertex)),
              kGfxOk);
    dev.EndScene();
    dev.SetVertexShader(0x144);
    dev.DeleteVertexShader(handle);
    return gfxtest::Frame(dev);
}

void ExpectSameFrames(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i], b[i]) << what << " pixel " << i % static_cast<size_t>(width) << "," << i / static_cast<size_t>(width);
    }
}

}  // namespace

void ExpectSameSampled(uint32_t seed, int w, int h)
{
    const Rendered general = RenderSampled(seed, 1, 0, w, h);
    // Most draws must take a fast span, or the check proves little.
    EXPECT_GT(general.fastPrims, 150u) << "seed " << seed;
    for (int level = 1; level <= 2; ++level) {
        const Rendered fast = RenderSampled(seed, level == 2 ? 3 : 1, level, w, h);
        SCOPED_TRACE(testing::Message() << "seed " << seed << " level " << level << " size " << w << "x" << h);
        ExpectSameFrames(fast.color, general.color, w, "colour");
        ASSERT_EQ(fast.depth.size(), general.depth.size());
        for (size_t i = 0; i < fast.depth.size(); ++i) {
            uint32_t a, b;
            std::memcpy(&a, &fast.depth[i], 4);
            std::memcpy(&b, &general.depth[i], 4);
            ASSERT_EQ(a, b) << "depth at " << i % static_cast<size_t>(w) << "," << i / static_cast<size_t>(w);
        }
    }
}

TEST(SoftDeviceRaster, SampledSpansMatchTheGeneralPathOnRandomScenes)
{
    for (uint32_t seed = 21; seed <= 26; ++seed) {
        ExpectSameSampled(seed, 200, 150);
    }
}

// Targets wider than a tile: rows of more groups than a band's colour
// passes take at once (the widest tile's rows), and rows that end at a
// tile's right edge, where a group reaches into the next tile.
// Foreshortened triangles at and about the depths already stored: flat ones
// exactly at the cleared depth (which "less or equal" draws and "less"
// does not), ones a float step behind or in front of it, slanted ones that
// cross it, and small near ones that leave the depth uneven first. A
// triangle the tile's stored depths hide wholly is passed over; every one
// that draws a pixel must draw it.
std::vector<uint32_t> RenderDepthBoundaries(int spanLevel, std::vector<float>* depth)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, 160, 96, spanLevel == 2 ? 2 : 1, true));
    dev.SetSpanLevel(spanLevel);
    std::vector<uint32_t> texels(16 * 16);
    for (size_t i = 0; i < texels.size(); ++i) {
        texels[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010305u);
    }
    SoftTexture* t = gfxtest::MakeTexture(dev, 16, 16, texels);
    std::mt19937 rng(5);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    const float cleared = 0.625f;
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF102030u, cleared, 0);
    dev.SetTexture(0, t);
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsCullMode, CullNone);
    dev.SetTextureStageState(0, TssMagFilter, FilterLinear);
    dev.SetTextureStageState(0, TssMinFilter, FilterLinear);
    const float depths[] = {cleared, std::nextafter(cleared, 1.0f), std::nextafter(cleared, 0.0f), 0.2f, 1.0f};
    for (int i = 0; i < 160; ++i) {
        dev.SetRenderState(RsZFunc, i % 3 == 0 ? CmpLess : CmpLessEqual);
        dev.SetRenderState(RsZWriteEnable, i % 5 != 0);
        const int kind = static_cast<int>(rng() % 6);
        const float cx = uni(0, 160), cy = uni(0, 96), r = kind == 5 ? uni(2, 10) : uni(5, 60);
        std::vector<busy2d::Vertex> v;
        for (int k = 0; k < 3; ++k) {
            const float a = uni(0, 6.3f);
            const float z = kind < 5 ? depths[kind] : uni(0.0f, 0.3f);
            v.push_back({cx + r * std::cos(a), cy + r * std::sin(a), kind == 4 ? uni(0.55f, 0.7f) : z, uni(0.3f, 2.0f),
                         0xFFFFFFFFu, uni(-2, 2), uni(-2, 2)});
        }
        EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, v.data(), sizeof(busy2d::Vertex)), kGfxOk);
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    std::vector<uint32_t> frame = gfxtest::Frame(dev);
    *depth = DepthOf(dev, 160, 96);
    t->Release();
    return frame;
}

// Opaque, depth-tested and depth-writing foreshortened triangles, as 3D
// meshes are drawn: bands of them colour each pixel once, by the last
// triangle to pass its depth test. Triangles drawn again at the same
// positions with other textures tie in depth: "less or equal" lets the
// later one win, "less" the earlier. With `blended`, one translucent
// triangle in the middle leaves its bands drawn one triangle at a time.
// Tall enough that one thread draws it in bands of 32 rows, and four in
// bands of 16.
constexpr int kOpaqueHeight = 192;

std::vector<uint32_t> RenderOpaqueScene(int spanLevel, int threads, bool blended, std::vector<float>* depth)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, 160, kOpaqueHeight, threads, true));
    dev.SetSpanLevel(spanLevel);
    std::mt19937 rng(17);
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    std::vector<SoftTexture*> textures;
    for (const int size : {16, 8}) {
        std::vector<uint32_t> texels(static_cast<size_t>(size) * size);
        for (uint32_t& t : texels) {
            t = 0xFF000000u | (rng() & 0x00FFFFFFu);
        }
        textures.push_back(gfxtest::MakeTexture(dev, size, size, texels));
    }
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF102030u, 1.0f, 0);
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsZWriteEnable, 1);
    dev.SetRenderState(RsCullMode, CullNone);
    std::vector<busy2d::Vertex> last;
    for (int i = 0; i < 300; ++i) {
        dev.SetTexture(0, textures[rng() % 2]);
        dev.SetRenderState(RsZFunc, rng() % 2 == 0 ? CmpLess : CmpLessEqual);
        const uint32_t filter = rng() % 2 == 0 ? FilterLinear : FilterPoint;
        dev.SetTextureStageState(0, TssMagFilter, filter);
        dev.SetTextureStageState(0, TssMinFilter, filter);
        const uint32_t address = rng() % 2 == 0 ? AddressWrap : AddressClamp;
        dev.SetTextureStageState(0, TssAddressU, address);
        dev.SetTextureStageState(0, TssAddressV, address);
        const bool translucent = blended && i == 150;
        dev.SetRenderState(RsAlphaBlendEnable, translucent);
        dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
        dev.SetRenderState(RsDestBlend, BlendInvSrcAlpha);
        std::vector<busy2d::Vertex> v;
        if (!last.empty() && rng() % 4 == 0) {
            // The same triangle again, other texels over it.
            v = last;
            for (busy2d::Vertex& c : v) {
                c.u = uni(-2, 2);
                c.v = uni(-2, 2);
            }
        } else {
            const float cx = uni(0, 160), cy = uni(0, kOpaqueHeight), r = uni(8, 50);
            for (int k = 0; k < 3; ++k) {
                const float a = uni(0, 6.3f);
                v.push_back({cx + r * std::cos(a), cy + r * std::sin(a), uni(0.1f, 0.9f), uni(0.3f, 2.0f),
                             translucent ? 0x80FFFFFFu : 0xFFFFFFFFu, uni(-2, 2), uni(-2, 2)});
            }
        }
        last = v;
        EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, v.data(), sizeof(busy2d::Vertex)), kGfxOk);
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    std::vector<uint32_t> frame = gfxtest::Frame(dev);
    *depth = DepthOf(dev, 160, kOpaqueHeight);
    for (SoftTexture* t : textures) {
        t->Release();
    }
    return frame;
}

TEST(SoftDeviceRaster, OpaqueDepthTestedScenesColourEachPixelAsDrawingInTurnDoes)
{
    for (const bool blended : {false, true}) {
        std::vector<float> generalDepth, fastDepth;
        const std::vector<uint32_t> general = RenderOpaqueScene(0, 1, blended, &generalDepth);
        EXPECT_LT(std::count(general.begin(), general.end(), 0xFF102030u), static_cast<std::ptrdiff_t>(general.size() / 4));
        for (const int threads : {1, 4}) {
            for (int level = 1; level <= 2; ++level) {
                SCOPED_TRACE(testing::Message() << (blended ? "blended, " : "") << "level " << level << ", " << threads
                                                << " threads");
                ExpectSameFrames(RenderOpaqueScene(level, threads, blended, &fastDepth), general, 160, "opaque scene");
                EXPECT_EQ(std::memcmp(fastDepth.data(), generalDepth.data(), generalDepth.size() * 4), 0);
            }
        }
    }
}

TEST(SoftDeviceRaster, TrianglesAtTheStoredDepthDrawAsTheGeneralPathDoes)
{
    std::vector<float> generalDepth, fastDepth;
    const std::vector<uint32_t> general = RenderDepthBoundaries(0, &generalDepth);
    // The scene must leave some triangles drawn and some hidden.
    const size_t cleared = static_cast<size_t>(std::count(general.begin(), general.end(), 0xFF102030u));
    EXPECT_GT(cleared, general.size() / 20);
    EXPECT_LT(cleared, general.size() - general.size() / 20);
    for (int level = 1; level <= 2; ++level) {
        const std::vector<uint32_t> fast = RenderDepthBoundaries(level, &fastDepth);
        SCOPED_TRACE(testing::Message() << "level " << level);
        ExpectSameFrames(fast, general, 160, "colour");
        ASSERT_EQ(std::memcmp(fastDepth.data(), generalDepth.data(), generalDepth.size() * 4), 0);
    }
}

TEST(SoftDeviceRaster, SampledSpansMatchTheGeneralPathOnWideTargets)
{
    ExpectSameSampled(31, 1100, 60);
    ExpectSameSampled(32, 1030, 40);
}

// Sprites whose texture coordinate races across the texture, a billion
// texels a pixel or more: the fixed-point steps saturate and a span's sum
// wraps round to where it began, while the pixels between lie far outside
// the texture. Every level must read them as the general path does, and
// never outside the texels.
std::vector<uint32_t> RenderRacingSprites(int spanLevel)
{
    SoftDevice dev;
    EXPECT_TRUE(gfxtest::MakeDevice(dev, 64, 40, 1));
    dev.SetSpanLevel(spanLevel);
    std::vector<uint32_t> texels(16 * 16);
    for (size_t i = 0; i < texels.size(); ++i) {
        texels[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010307u);
    }
    SoftTexture* t = gfxtest::MakeTexture(dev, 16, 16, texels);
    dev.SetTexture(0, t);
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
    int row = 0;
    for (const uint32_t filter : {FilterPoint, FilterLinear}) {
        dev.SetTextureStageState(0, TssMagFilter, filter);
        dev.SetTextureStageState(0, TssMinFilter, filter);
        for (const uint32_t address : {AddressWrap, AddressClamp}) {
            dev.SetTextureStageState(0, TssAddressU, address);
            dev.SetTextureStageState(0, TssAddressV, address);
            for (const float perPixel : {0x1p26f, 0x1p27f, 0x1p31f, 0x1p40f}) {
                for (const int width : {5, 9, 13}) {
                    // u is 0 at the first pixel's centre and climbs from there.
                    const float x0 = 0.5f + static_cast<float>((row * 7) % 40), y0 = static_cast<float>(row % 36);
                    const float x1 = x0 + static_cast<float>(width);
                    const float u1 = perPixel * static_cast<float>(width);
                    const busy2d::Vertex v[6] = {{x0, y0, 0, 1, 0xFFFFFFFFu, 0, 0},  {x1, y0, 0, 1, 0xFFFFFFFFu, u1, 0},
                                                 {x1, y0 + 3, 0, 1, 0xFFFFFFFFu, u1, 0}, {x1, y0 + 3, 0, 1, 0xFFFFFFFFu, u1, 0},
                                                 {x0, y0 + 3, 0, 1, 0xFFFFFFFFu, 0, 0},  {x0, y0, 0, 1, 0xFFFFFFFFu, 0, 0}};
                    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, v, sizeof(busy2d::Vertex)), kGfxOk);
                    ++row;
                }
            }
        }
    }
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    std::vector<uint32_t> frame = gfxtest::Frame(dev);
    t->Release();
    return frame;
}

TEST(SoftDeviceRaster, SpritesRacingAcrossTheTextureReadItAsTheGeneralPathDoes)
{
    const std::vector<uint32_t> general = RenderRacingSprites(0);
    size_t drawn = 0;
    for (const uint32_t p : general) {
        drawn += p != 0xFF000000u;
    }
    EXPECT_GT(drawn, 200u);
    ExpectSameFrames(RenderRacingSprites(1), general, 64, "level 1");
    ExpectSameFrames(RenderRacingSprites(2), general, 64, "level 2");
}

TEST(SoftDeviceRaster, RotatedAndCubeFramesAreTheGeneralPathsBytesOnAnyThreadCount)
{
    for (const bool cubes : {false, true}) {
        const std::vector<uint32_t> general = RenderNewFrame(cubes, 4, 0);
        ExpectSameFrames(RenderNewFrame(cubes, 1, 2), general, busy2d::kWidth, cubes ? "cubes, 1 thread" : "rotated, 1 thread");
        ExpectSameFrames(RenderNewFrame(cubes, 7, 2), general, busy2d::kWidth, cubes ? "cubes, 7 threads" : "rotated, 7 threads");
        // The scene is drawn at all: most pixels differ from the clear.
        const uint32_t clear = cubes ? frames::kCubeClear : 0xFF000000u;
        size_t drawn = 0;
        for (const uint32_t p : general) {
            drawn += p != clear;
        }
        EXPECT_GT(drawn, general.size() / 3);
    }
}

TEST(SoftDeviceRaster, MeshesShadedOnManyThreadsGiveTheSameBytes)
{
    const std::vector<uint32_t> one = RenderShadedMesh(1);
    ExpectSameFrames(RenderShadedMesh(6), one, 160, "six threads");
    size_t lit = 0;
    for (const uint32_t p : one) {
        lit += (p & 0x00FFFFFFu) != 0;
    }
    EXPECT_GT(lit, one.size() / 10);
}

TEST(SoftDeviceRaster, FastSpansMatchTheGeneralPathOnRandomScenes)
{
#if defined(__SANITIZE_THREAD__)
    // One thread throughout: nothing for the thread sanitizer to look at,
    // and most of its run's time.
    GTEST_SKIP() << "single-threaded";
#endif
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        uint64_t fastPrims = 0;
        const std::vector<uint32_t> general = RenderRandom(seed, 1, 0, &fastPrims);
        // The scene must give the fast spans work, or the check proves nothing.
        EXPECT_GT(fastPrims, 50u) << "seed " << seed;
        for (int level = 1; level <= 2; ++level) {
            const std::vector<uint32_t> fast = RenderRandom(seed, 1, level);
            ASSERT_EQ(fast.size(), general.size());
            for (size_t i = 0; i < fast.size(); ++i) {
                ASSERT_EQ(fast[i], general[i])
                    << "seed " << seed << " level " << level << " pixel " << i % 200 << "," << i / 200;
            }
        }
    }
}

TEST(SoftDeviceRaster, OneThreadAndManyGiveTheSameBytes)
{
    for (uint32_t seed = 11; seed <= 13; ++seed) {
        EXPECT_EQ(RenderRandom(seed, 1, 2), RenderRandom(seed, 7, 2)) << "seed " << seed;
    }
    EXPECT_EQ(RenderBusy(1), RenderBusy(8));
}

TEST(SoftDeviceRaster, BusyFrameMatchesItsDefinition)
{
    const std::vector<uint32_t> frame = RenderBusy(4);
    const std::vector<uint32_t> reference = busy2d::Reference();
    ASSERT_EQ(frame.size(), reference.size());
    for (size_t i = 0; i < frame.size(); ++i) {
        ASSERT_EQ(frame[i], reference[i]) << "pixel " << i % busy2d::kWidth << "," << i / busy2d::kWidth;
    }
    EXPECT_EQ(busy2d::HashRgb(frame.data(), busy2d::kWidth, busy2d::kHeight, busy2d::kWidth * 4),
              busy2d::kExpectedHash);
}

TEST(SoftDeviceRaster, BusySceneCheckValues)
{
    const std::vector<busy2d::Quad> q = busy2d::Quads();
    ASSERT_EQ(q.size(), 1200u);
    EXPECT_EQ(q[0].x, 518);
    EXPECT_EQ(q[0].y, 223);
    EXPECT_EQ(q[1].x, 115);
    EXPECT_EQ(q[1].y, 443);
    EXPECT_EQ(q[599].x, 59);
    EXPECT_EQ(q[599].y, 110);
    EXPECT_EQ(q[600].x, 151);
    EXPECT_EQ(q[600].y, 133);
    EXPECT_EQ(q[900].x, 39);
    EXPECT_EQ(q[900].y, 400);
    EXPECT_EQ(q[1199].x, 175);
    EXPECT_EQ(q[1199].y, 391);
}

namespace {

// How many of the triangles cover each pixel, worked out from the edge
// functions on the 1/256-pixel grid with the top-left rule, as the device
// defines coverage.
void CountCoverage(const gfxtest::ColorVertex* v, int w, int h, std::vector<int>& counts)
{
    auto snap = [](float c) { return static_cast<int64_t>(std::floor(static_cast<double>(c) * 256.0 + 0.5)); };
    int64_t x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = snap(v[i].x);
        y[i] = snap(v[i].y);
    }
    const int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
    if (area == 0) {
        return;
    }
    if (area < 0) {
        std::swap(x[1], x[2]);
        std::swap(y[1], y[2]);
    }
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            bool in = true;
            for (int e = 0; e < 3 && in; ++e) {
                const int64_t dx = x[(e + 1) % 3] - x[e], dy = y[(e + 1) % 3] - y[e];
                const int64_t edge = dx * (256 * py - y[e]) - dy * (256 * px - x[e]);
                const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
                in = edge > 0 || (edge == 0 && topLeft);
            }
            counts[static_cast<size_t>(py) * w + px] += in;
        }
    }
}

}  // namespace

TEST(SoftDeviceRaster, LevelAndUprightEdgesCoverWhatTheirEdgeFunctionsGiveAcrossBands)
{
    // Right triangles and rectangles (two triangles that set-up joins) with
    // corners on quarter pixels, many crossing the borders between bands,
    // some upside down, thin or outside the frame; each adds 1 to what it
    // covers.
    constexpr int kW = 72, kH = 44;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> cx(-20, 4 * kW + 20), cy(-20, 4 * kH + 20), side(0, 60);
    std::vector<gfxtest::ColorVertex> tris;
    std::vector<int> counts(kW * kH, 0);
    for (int i = 0; i < 240; ++i) {
        const float x0 = cx(rng) / 4.0f, y0 = cy(rng) / 4.0f;
        const float x1 = x0 + (side(rng) - 30) / 4.0f, y1 = y0 + (side(rng) - 30) / 4.0f;
        const uint32_t c = 0x01010101u;
        if (i % 2 == 0) {
            // A rectangle as the sprite batches give it: (a, b, c), (c, d, a).
            const gfxtest::ColorVertex a{x0, y0, 0, 1, c}, b{x1, y0, 0, 1, c}, cc{x1, y1, 0, 1, c}, d{x0, y1, 0, 1, c};
            for (const gfxtest::ColorVertex& v : {a, b, cc, cc, d, a}) {
                tris.push_back(v);
            }
        } else {
            // One level and one upright edge, the corner at either end.
            const bool flip = (i / 2) % 2 == 1;
            tris.push_back({x0, y0, 0, 1, c});
            tris.push_back({x1, y0, 0, 1, c});
            tris.push_back({flip ? x1 : x0, y1, 0, 1, c});
        }
    }
    for (size_t t = 0; t < tris.size(); t += 3) {
        CountCoverage(&tris[t], kW, kH, counts);
    }
    for (int threads : {1, 3}) {
        SoftDevice dev;
        ASSERT_TRUE(gfxtest::MakeDevice(dev, kW, kH, threads));
        dev.SetRenderState(RsAlphaBlendEnable, 1);
        dev.SetRenderState(RsSrcBlend, BlendOne);
        dev.SetRenderState(RsDestBlend, BlendOne);
        dev.SetVertexShader(0x44);
        dev.BeginScene();
        ASSERT_EQ(dev.Clear(0, nullptr, ClearTarget, 0, 1.0f, 0), kGfxOk);
        ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(tris.size() / 3), tris.data(),
                                      sizeof(gfxtest::ColorVertex)),
                  kGfxOk);
        dev.EndScene();
        const std::vector<uint32_t> f = gfxtest::Frame(dev);
        int covered = 0;
        for (int i = 0; i < kW * kH; ++i) {
            ASSERT_EQ(f[static_cast<size_t>(i)], 0x01010101u * static_cast<uint32_t>(counts[static_cast<size_t>(i)]))
                << "pixel " << i % kW << "," << i / kW << " threads " << threads;
            covered += counts[static_cast<size_t>(i)] > 0;
        }
        // Enough of the frame is drawn for the check to mean something.
        EXPECT_GT(covered, kW * kH / 3);
    }
}

TEST(SoftDeviceRaster, TexturesRewrittenWhileTheFrameIsDrawnKeepEachDrawsTexels)
{
    // Workers may draw the first part of a frame while the rest is still
    // recorded; a texture locked in between must not change what the draws
    // before the lock read, nor be read half-written.
    constexpr int kSize = 64;
    auto render = [](int threads) {
        SoftDevice dev;
        EXPECT_TRUE(gfxtest::MakeDevice(dev, kSize, kSize, threads));
        SoftTexture* tex = gfxtest::MakeTexture(dev, kSize, kSize, std::vector<uint32_t>(kSize * kSize, 0xFF102030u));
        std::vector<uint32_t> frame;
        if (tex == nullptr) {
            return frame;
        }
        dev.SetRenderState(RsAlphaBlendEnable, 0);
        dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
        dev.SetRenderState(RsDestBlend, BlendInvSrcAlpha);
        dev.SetTexture(0, tex);
        for (int round = 0; round < 3; ++round) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
            for (int k = 0; k < 8; ++k) {
                // A band of rows from the texture as it is now, then the texels
                // rewritten for the next band.
                std::vector<busy2d::Vertex> v;
                busy2d::AppendQuad(v, 0, k * 8, kSize, 8, kSize, 8);
                for (busy2d::Vertex& x : v) {
                    x.v = (x.v * 8.0f + static_cast<float>(k * 8)) / kSize;
                }
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, v.data(), sizeof(busy2d::Vertex)), kGfxOk);
                // Something large after it, so that the band goes to the workers.
                std::vector<busy2d::Vertex> w;
                busy2d::AppendQuad(w, 0, 0, kSize, kSize, kSize, kSize);
                for (busy2d::Vertex& x : w) {
                    x.color = 0x00FFFFFFu;
                }
                dev.SetRenderState(RsAlphaBlendEnable, 1);
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, w.data(), sizeof(busy2d::Vertex)), kGfxOk);
                dev.SetRenderState(RsAlphaBlendEnable, 0);
                // A draw that records nothing: the frame may be handed off
                // whole, and the lock must still wait for it.
                std::vector<busy2d::Vertex> away;
                busy2d::AppendQuad(away, -100, 0, 8, 8, 8, 8);
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, away.data(), sizeof(busy2d::Vertex)), kGfxOk);
                LockedRect lr;
                EXPECT_EQ(tex->LockRect(0, &lr, nullptr, 0), kGfxOk);
                for (int y = 0; y < kSize; ++y) {
                    uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.bits) + y * lr.pitch);
                    for (int x = 0; x < kSize; ++x) {
                        row[x] = 0xFF000000u | static_cast<uint32_t>((k + 1) * 0x1F0703 + round);
                    }
                }
                tex->UnlockRect(0);
            }
            dev.EndScene();
            frame = gfxtest::Frame(dev);
        }
        dev.SetTexture(0, nullptr);
        tex->Release();
        return frame;
    };
    const std::vector<uint32_t> one = render(1);
    ASSERT_EQ(one.size(), static_cast<size_t>(kSize * kSize));
    // Band k shows the texels written after band k - 1 of the last round.
    for (int k = 0; k < 8; ++k) {
        const uint32_t want = k == 0 ? 0xFF000000u | static_cast<uint32_t>(8 * 0x1F0703 + 1)
                                     : 0xFF000000u | static_cast<uint32_t>(k * 0x1F0703 + 2);
        EXPECT_EQ(one[static_cast<size_t>(k * 8 * kSize + 5)], want) << "band " << k;
    }
    for (int threads : {2, 5}) {
        EXPECT_EQ(render(threads), one) << threads << " threads";
    }
}

// What render(threads, span level) draws on both fast levels, on one
// thread and on four, against `general`, the general path's frame.
template <class Render>
void ExpectFastLevelsDrawIt(Render render, const std::vector<uint32_t>& general, int width)
{
    for (int level = 1; level <= 2; ++level) {
        for (const int threads : {1, 4}) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << threads << " threads");
            ExpectSameFrames(render(threads, level), general, width, "fast levels");
        }
    }
}

TEST(SoftDeviceRaster, AdditiveSpritesAddTheirTexelsAsTheyAreAtEachDraw)
{
    // 1:1 additive sprites add a premultiplied copy of their texture's
    // texels, made when the texture is drawn after a change: textures
    // rewritten between draws of one frame and of the next, with the state
    // left as it was, in a format read as it is and in one read through its
    // A8R8G8B8 copy, must draw what the general path draws.
    auto render = [](int threads, int spanLevel) {
        SoftDevice dev;
        EXPECT_TRUE(gfxtest::MakeDevice(dev, 96, 64, threads));
        dev.SetSpanLevel(spanLevel);
        std::mt19937 rng(29);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
        const struct {
            int size;
            uint32_t format;
        } specs[] = {{32, FormatA8R8G8B8}, {16, FormatA4R4G4B4}};
        std::vector<SoftTexture*> textures;
        auto rewrite = [&](SoftTexture* t, int size, uint32_t format) {
            LockedRect lr;
            ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), kGfxOk);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    uint32_t argb = rng();
                    const int kind = pick(4);
                    argb = kind == 0 ? (argb & 0x00FFFFFFu) : (kind == 1 ? (argb | 0xFF000000u) : argb);
                    ArgbToFormat(format, argb,
                                 static_cast<uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch +
                                     static_cast<size_t>(x) * FormatBytes(format));
                }
            }
            t->UnlockRect(0);
        };
        for (const auto& s : specs) {
            SoftTexture* t = nullptr;
            EXPECT_EQ(dev.CreateTexture(s.size, s.size, 1, 0, s.format, PoolManaged, &t), kGfxOk);
            rewrite(t, s.size, s.format);
            textures.push_back(t);
        }
        std::vector<uint32_t> frame;
        for (int round = 0; round < 3; ++round) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF302010u, 1.0f, 0);
            for (int k = 0; k < 24; ++k) {
                const int which = pick(2);
                const int size = specs[which].size;
                dev.SetTexture(0, textures[static_cast<size_t>(which)]);
                dev.SetRenderState(RsAlphaBlendEnable, 1);
                dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
                dev.SetRenderState(RsDestBlend, pick(5) == 0 ? BlendInvSrcAlpha : BlendOne);
                // Sprites at once, some partly off the target; a large one
                // now and then so that parts go to the workers.
                std::vector<busy2d::Vertex> v;
                for (int n = 1 + pick(6); n > 0; --n) {
                    busy2d::AppendQuad(v, pick(96 + size) - size / 2, pick(64 + size) - size / 2, size, size, size, size);
                }
                if (pick(3) == 0) {
                    busy2d::AppendQuad(v, 0, 0, 96, 64, size, size);
                }
                EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(),
                                              sizeof(busy2d::Vertex)),
                          kGfxOk);
                if (pick(2) == 0) {
                    rewrite(textures[static_cast<size_t>(which)], size, specs[which].format);
                }
            }
            dev.EndScene();
            frame = gfxtest::Frame(dev);
        }
        dev.SetTexture(0, nullptr);
        for (SoftTexture* t : textures) {
            t->Release();
        }
        return frame;
    };
    const std::vector<uint32_t> general = render(1, 0);
    ASSERT_EQ(general.size(), 96u * 64u);
    ExpectFastLevelsDrawIt(render, general, 96);
}

TEST(SoftDeviceRaster, SpriteRowsSteppingDownTheTextureReadItAsTheGeneralPathDoes)
{
    // Sprites read one texel per pixel across, while down the rows the
    // texture coordinate steps by one texel a row, by a little less (as an
    // unscaled sprite's does), by a little more, or by half, from above the
    // texture's top to past its bottom, wrapped and clamped, on rows that
    // cross the bands. Every level must read the rows the general path
    // reads, premultiplied additive copies included.
    auto render = [](int threads, int spanLevel) {
        SoftDevice dev;
        EXPECT_TRUE(gfxtest::MakeDevice(dev, 96, 80, threads));
        dev.SetSpanLevel(spanLevel);
        std::mt19937 rng(41);
        std::vector<uint32_t> texels(16 * 16);
        for (uint32_t& t : texels) {
            const uint32_t argb = rng();
            t = rng() % 3 == 0 ? (argb & 0x00FFFFFFu) : argb;
        }
        SoftTexture* tex = gfxtest::MakeTexture(dev, 16, 16, texels);
        dev.SetTexture(0, tex);
        std::vector<uint32_t> frame;
        for (int round = 0; round < 2; ++round) {
            dev.BeginScene();
            dev.Clear(0, nullptr, ClearTarget, 0xFF203040u, 1.0f, 0);
            int n = 0;
            for (const uint32_t address : {AddressWrap, AddressClamp}) {
                dev.SetTextureStageState(0, TssAddressU, address);
                dev.SetTextureStageState(0, TssAddressV, address);
                for (const int blend : {0, 1, 2}) {
                    dev.SetRenderState(RsAlphaBlendEnable, blend != 0);
                    dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
                    dev.SetRenderState(RsDestBlend, blend == 1 ? BlendInvSrcAlpha : BlendOne);
                    for (const float step : {1.0f, 15.0f / 16.0f, 0.999f, 1.001f, 0.5f}) {
                        for (const float top : {-20.0f, -3.0f, 0.0f, 0.25f, 5.0f, 14.0f}) {
                            const int rows = 9 + (n * 7) % 30;
                            const float x = static_cast<float>((n * 13) % 80) - 0.5f;
                            const float y = static_cast<float>((n * 11) % 70) - 6.5f;
                            const float u0 = 0.5f / 16.0f, u1 = 15.5f / 16.0f;
                            const float v0 = top / 16.0f, v1 = (top + step * static_cast<float>(rows)) / 16.0f;
                            const float b = y + static_cast<float>(rows);
                            const busy2d::Vertex v[6] = {
                                {x, y, 0, 1, 0xFFFFFFFFu, u0, v0},      {x + 16, y, 0, 1, 0xFFFFFFFFu, u1, v0},
                                {x + 16, b, 0, 1, 0xFFFFFFFFu, u1, v1}, {x + 16, b, 0, 1, 0xFFFFFFFFu, u1, v1},
                                {x, b, 0, 1, 0xFFFFFFFFu, u0, v1},      {x, y, 0, 1, 0xFFFFFFFFu, u0, v0}};
                            EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, v, sizeof(busy2d::Vertex)), kGfxOk);
                            ++n;
                        }
                    }
                }
            }
            dev.EndScene();
            frame = gfxtest::Frame(dev);
        }
        dev.SetTexture(0, nullptr);
        tex->Release();
        return frame;
    };
    const std::vector<uint32_t> general = render(1, 0);
    size_t drawn = 0;
    for (const uint32_t p : general) {
        drawn += p != 0xFF203040u;
    }
    EXPECT_GT(drawn, general.size() / 2);
    ExpectFastLevelsDrawIt(render, general, 96);
}

TEST(SoftDeviceRaster, SpritesJoinIntoOneRectangleWhateverTheirUnreadCoordinatesHold)
{
    // Two coordinate sets per vertex (format 0x244); stage 0 reads set 0.
    // Set 1 is skewed in the second sprite: nothing reads it, so the sprite
    // is still one rectangle and draws the same pixels.
    struct Vertex2 {
        float x, y, z, rhw;
        uint32_t color;
        float u0, v0, u1, v1;
    };
    SoftDevice dev;
    ASSERT_TRUE(gfxtest::MakeDevice(dev, 32, 16));
    std::vector<uint32_t> texels(64);
    for (uint32_t i = 0; i < 64; ++i) {
        texels[i] = 0xFF000000u | (i * 0x030507u);
    }
    SoftTexture* tex = gfxtest::MakeTexture(dev, 8, 8, texels);
    ASSERT_NE(tex, nullptr);
    dev.SetTexture(0, tex);
    dev.SetVertexShader(0x244);
    auto sprite = [](float x, bool skew) {
        const float l = x - 0.5f, t = 3.5f, r = l + 8, b = t + 8;
        const Vertex2 c[4] = {{l, t, 0, 1, 0xFFFFFFFFu, 0, 0, 0, 0},
                              {r, t, 0, 1, 0xFFFFFFFFu, 1, 0, skew ? 0.3f : 1.0f, 0},
                              {r, b, 0, 1, 0xFFFFFFFFu, 1, 1, 1, skew ? 7.0f : 1.0f},
                              {l, b, 0, 1, 0xFFFFFFFFu, 0, 1, 0, 1}};
        std::vector<Vertex2> v;
        for (int k : {0, 1, 2, 2, 3, 0}) {
            v.push_back(c[k]);
        }
        return v;
    };
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0, 1.0f, 0);
    const uint64_t before = dev.GetStats().primitives;
    const std::vector<Vertex2> plain = sprite(2, false), skewed = sprite(18, true);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, plain.data(), sizeof(Vertex2)), kGfxOk);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, skewed.data(), sizeof(Vertex2)), kGfxOk);
    EXPECT_EQ(dev.GetStats().primitives - before, 2u);
    dev.EndScene();
    const std::vector<uint32_t> f = gfxtest::Frame(dev);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(f[static_cast<size_t>((4 + y) * 32 + 2 + x)], texels[static_cast<size_t>(y * 8 + x)]);
            EXPECT_EQ(f[static_cast<size_t>((4 + y) * 32 + 18 + x)], texels[static_cast<size_t>(y * 8 + x)]);
        }
    }
    // With stage 0 reading set 1, the skewed sprite is two triangles.
    dev.SetTextureStageState(0, TssTexCoordIndex, 1);
    dev.BeginScene();
    const uint64_t again = dev.GetStats().primitives;
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, skewed.data(), sizeof(Vertex2)), kGfxOk);
    EXPECT_EQ(dev.GetStats().primitives - again, 2u);
    dev.EndScene();
    dev.SetTexture(0, nullptr);
    tex->Release();
}
