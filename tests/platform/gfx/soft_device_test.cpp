#include "platform/gfx/soft_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "tests/platform/gfx/gfx_test_util.h"

using namespace platform;
using gfxtest::ColorVertex;
using gfxtest::Frame;
using gfxtest::MakeDevice;
using gfxtest::MakeTexture;

namespace {

void DrawColorQuad(SoftDevice& dev, float l, float t, float r, float b, uint32_t color, float z = 0.0f)
{
    const ColorVertex v[4] = {{l, t, z, 1, color}, {r, t, z, 1, color}, {r, b, z, 1, color}, {l, b, z, 1, color}};
    dev.SetVertexShader(0x44);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(ColorVertex)), kGfxOk);
}

void Clear(SoftDevice& dev, uint32_t color)
{
    ASSERT_EQ(dev.Clear(0, nullptr, ClearTarget, color, 1.0f, 0), kGfxOk);
}

}  // namespace

TEST(SoftDevice, TextureDrawnOneToOneLandsTexelForTexel)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 24, 20));
    // 7 x 5 texels, every one different.
    std::vector<uint32_t> texels(35);
    for (int i = 0; i < 35; ++i) {
        texels[i] = 0xFF000000u | static_cast<uint32_t>(i * 7 + 1) << 8 | static_cast<uint32_t>(i);
    }
    SoftTexture* tex = MakeTexture(dev, 7, 5, texels);
    ASSERT_NE(tex, nullptr);
    dev.SetTexture(0, tex);
    std::vector<busy2d::Vertex> quad;
    busy2d::AppendQuad(quad, 3, 11, 7, 5, 7, 5);
    dev.BeginScene();
    Clear(dev, 0xFF102030u);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 2, quad.data(), sizeof(busy2d::Vertex)), kGfxOk);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) {
            const bool in = x >= 3 && x < 10 && y >= 11 && y < 16;
            const uint32_t want = in ? texels[(y - 11) * 7 + (x - 3)] : 0xFF102030u;
            ASSERT_EQ(f[y * 24 + x], want) << x << "," << y;
        }
    }
    dev.SetTexture(0, nullptr);
    tex->Release();
}

TEST(SoftDevice, SharedEdgeDrawnOnce)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 16, 16));
    dev.SetRenderState(RsAlphaBlendEnable, 1);
    dev.SetRenderState(RsSrcBlend, BlendOne);
    dev.SetRenderState(RsDestBlend, BlendOne);
    dev.BeginScene();
    Clear(dev, 0);
    // A fan of six triangles around a centre off the pixel grid, corners on
    // pixel centres and between them: each pixel gets 1 exactly once.
    const float cx = 7.25f, cy = 6.75f;
    const float ring[7][2] = {{2, 2}, {12.5f, 1}, {14, 8}, {11, 14}, {4, 13.5f}, {1, 7}, {2, 2}};
    std::vector<ColorVertex> fan;
    fan.push_back({cx, cy, 0, 1, 0x01010101u});
    for (const auto& p : ring) {
        fan.push_back({p[0], p[1], 0, 1, 0x01010101u});
    }
    dev.SetVertexShader(0x44);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 6, fan.data(), sizeof(ColorVertex)), kGfxOk);
    // And a quad split on its diagonal with both corners on pixel centres.
    DrawColorQuad(dev, 0, 15, 16, 16, 0x01010101u);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    int covered = 0;
    for (uint32_t p : f) {
        ASSERT_TRUE(p == 0 || p == 0x01010101u) << std::hex << p;
        covered += p != 0;
    }
    EXPECT_GT(covered, 100);
    // Top-left rule: the quad (0,15)-(16,16) owns row 15 only.
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(f[15 * 16 + x], 0x01010101u);
    }
}

TEST(SoftDevice, TopLeftRuleOnPixelCentres)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 8, 8));
    dev.BeginScene();
    Clear(dev, 0);
    // Edges through pixel centres: left and top edges take their pixels,
    // right and bottom edges do not.
    DrawColorQuad(dev, 2, 1, 5, 4, 0xFFFFFFFFu);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool in = x >= 2 && x < 5 && y >= 1 && y < 4;
            EXPECT_EQ(f[y * 8 + x], in ? 0xFFFFFFFFu : 0u) << x << "," << y;
        }
    }
}

TEST(SoftDevice, BlendFactorsOnKnownColours)
{
    struct Case {
        uint32_t src, dest, op;
        uint32_t want;
    };
    // Source 0x80402010 (a 128, r 64, g 32, b 16) over 0x40C08020 (a 64, r 192, g 128, b 32).
    const Case cases[] = {
        {BlendOne, BlendZero, BlendOpAdd, 0x80402010u},
        {BlendZero, BlendOne, BlendOpAdd, 0x40C08020u},
        // round((64*128 + 192*127) / 255) = 128; g: (32*128+128*127+127)/255 = 80; b: (16*128+32*127+127)/255 = 24;
        // a: (128*128+64*127+127)/255 = 96
        {BlendSrcAlpha, BlendInvSrcAlpha, BlendOpAdd, 0x60805018u},
        // a: 64 + round(128*128/255)=64+64; r: 192+32; g: 128+16; b: 32+8
        {BlendSrcAlpha, BlendOne, BlendOpAdd, 0x80E09028u},
        // dest x src colour: r round(192*64/255)=48, g round(128*32/255)=16, b round(32*16/255)=2, a round(64*128/255)=32
        {BlendZero, BlendSrcColor, BlendOpAdd, 0x20301002u},
        // inverse dest colour: r (64*63+127)/255=16, g (32*127+127)/255=16, b (16*223+127)/255=14, a (128*191+127)/255=96
        {BlendInvDestColor, BlendZero, BlendOpAdd, 0x6010100Eu},
        // dest colour + one: r min(255, 48+192), g 16+128, b 2+32, a 32+64
        {BlendDestColor, BlendOne, BlendOpAdd, 0x60F09022u},
        // one - one: dest minus source, clamped at 0 per channel
        {BlendOne, BlendOne, BlendOpRevSubtract, 0x00806010u},
        {BlendOne, BlendOne, BlendOpMax, 0x80C08020u},
    };
    for (const Case& c : cases) {
        SoftDevice dev;
        ASSERT_TRUE(MakeDevice(dev, 4, 4));
        dev.BeginScene();
        Clear(dev, 0x40C08020u);
        dev.SetRenderState(RsAlphaBlendEnable, 1);
        dev.SetRenderState(RsSrcBlend, c.src);
        dev.SetRenderState(RsDestBlend, c.dest);
        dev.SetRenderState(RsBlendOp, c.op);
        DrawColorQuad(dev, 0, 0, 4, 4, 0x80402010u);
        dev.EndScene();
        const std::vector<uint32_t> f = Frame(dev);
        EXPECT_EQ(f[5], c.want) << "src " << c.src << " dest " << c.dest << " op " << c.op << std::hex << " got "
                                << f[5];
    }
}

TEST(SoftDevice, AlphaBlendExactForEveryAlphaAndColour)
{
    // Texel (i, j): alpha j, red i, green 255 - i, blue i ^ j, over a target
    // whose pixels hold j in red, i in green and 200 in blue.
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 256, 256, 3));
    std::vector<uint32_t> src(256 * 256), dst(256 * 256);
    for (uint32_t j = 0; j < 256; ++j) {
        for (uint32_t i = 0; i < 256; ++i) {
            src[j * 256 + i] = (j << 24) | (i << 16) | ((255 - i) << 8) | (i ^ j);
            dst[j * 256 + i] = (i << 24) | (j << 16) | (i << 8) | 200;
        }
    }
    SoftTexture* s = MakeTexture(dev, 256, 256, src);
    SoftTexture* d = MakeTexture(dev, 256, 256, dst);
    for (int mode = 0; mode < 2; ++mode) {
        dev.BeginScene();
        std::vector<busy2d::Vertex> q;
        busy2d::AppendQuad(q, 0, 0, 256, 256, 256, 256);
        dev.SetRenderState(RsAlphaBlendEnable, 0);
        dev.SetTexture(0, d);
        dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
        dev.SetRenderState(RsAlphaBlendEnable, 1);
        dev.SetRenderState(RsSrcBlend, BlendSrcAlpha);
        dev.SetRenderState(RsDestBlend, mode == 0 ? BlendInvSrcAlpha : BlendOne);
        dev.SetTexture(0, s);
        dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
        dev.EndScene();
        const std::vector<uint32_t> f = Frame(dev);
        for (size_t k = 0; k < f.size(); ++k) {
            const uint32_t sv = src[k], dv = dst[k], as = sv >> 24;
            uint32_t want = 0;
            for (int sh = 0; sh < 32; sh += 8) {
                const uint32_t cs = (sv >> sh) & 0xFF, cd = (dv >> sh) & 0xFF;
                uint32_t c = mode == 0 ? (cs * as + cd * (255 - as) + 127) / 255 : cd + (cs * as + 127) / 255;
                want |= (c > 255 ? 255 : c) << sh;
            }
            ASSERT_EQ(f[k], want) << "mode " << mode << " pixel " << k;
        }
    }
    dev.SetTexture(0, nullptr);
    s->Release();
    d->Release();
}

TEST(SoftDevice, DepthTestKeepsTheNearerSurface)
{
    for (int order = 0; order < 2; ++order) {
        SoftDevice dev;
        ASSERT_TRUE(MakeDevice(dev, 8, 8, 1, true));
        dev.SetRenderState(RsZEnable, 1);
        dev.SetRenderState(RsZWriteEnable, 1);
        dev.SetRenderState(RsZFunc, CmpLessEqual);
        dev.BeginScene();
        ASSERT_EQ(dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0, 1.0f, 0), kGfxOk);
        // Near red over the left six columns, far green over the right six.
        if (order == 0) {
            DrawColorQuad(dev, 0, 0, 6, 8, 0xFFFF0000u, 0.25f);
            DrawColorQuad(dev, 2, 0, 8, 8, 0xFF00FF00u, 0.75f);
        } else {
            DrawColorQuad(dev, 2, 0, 8, 8, 0xFF00FF00u, 0.75f);
            DrawColorQuad(dev, 0, 0, 6, 8, 0xFFFF0000u, 0.25f);
        }
        dev.EndScene();
        const std::vector<uint32_t> f = Frame(dev);
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(f[3 * 8 + x], x < 6 ? 0xFFFF0000u : 0xFF00FF00u) << "order " << order << " x " << x;
        }
    }
}

TEST(SoftDevice, AlphaTestDropsPixels)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 1));
    dev.SetRenderState(RsAlphaTestEnable, 1);
    dev.SetRenderState(RsAlphaFunc, CmpGreaterEqual);
    dev.SetRenderState(RsAlphaRef, 0x80);
    dev.BeginScene();
    Clear(dev, 0);
    DrawColorQuad(dev, 0, 0, 2, 1, 0x7FFFFFFFu);
    DrawColorQuad(dev, 2, 0, 4, 1, 0x80FFFFFFu);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    EXPECT_EQ(f[0], 0u);
    EXPECT_EQ(f[1], 0u);
    EXPECT_EQ(f[2], 0x80FFFFFFu);
    EXPECT_EQ(f[3], 0x80FFFFFFu);
}

TEST(SoftDevice, CullingFollowsWinding)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 4));
    dev.SetRenderState(RsCullMode, CullCcw);
    dev.BeginScene();
    Clear(dev, 0);
    // Clockwise on screen (drawn), then counter-clockwise (culled).
    const ColorVertex cw[3] = {{0, 0, 0, 1, 0xFF0000FFu}, {4, 0, 0, 1, 0xFF0000FFu}, {0, 4, 0, 1, 0xFF0000FFu}};
    const ColorVertex ccw[3] = {{4, 4, 0, 1, 0xFFFF0000u}, {4, 0, 0, 1, 0xFFFF0000u}, {0, 4, 0, 1, 0xFFFF0000u}};
    dev.SetVertexShader(0x44);
    dev.DrawPrimitiveUP(PrimTriangleList, 1, cw, sizeof(ColorVertex));
    dev.DrawPrimitiveUP(PrimTriangleList, 1, ccw, sizeof(ColorVertex));
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    EXPECT_EQ(f[0], 0xFF0000FFu);
    EXPECT_EQ(f[3 * 4 + 3], 0u);
}

TEST(SoftDevice, UnboundStageReadsWhiteAndModulatesDiffuse)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 2, 2));
    dev.SetVertexShader(0x144);
    dev.BeginScene();
    Clear(dev, 0);
    std::vector<busy2d::Vertex> q;
    busy2d::AppendQuad(q, 0, 0, 2, 2, 2, 2);
    for (auto& v : q) {
        v.color = 0xC0336699u;
    }
    dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (uint32_t p : f) {
        EXPECT_EQ(p, 0xC0336699u);
    }
}

TEST(SoftDevice, TextureStageOperations)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 1, 1));
    SoftTexture* tex = MakeTexture(dev, 1, 1, {0x80604020u});
    dev.SetTexture(0, tex);
    struct Case {
        uint32_t op, arg1, arg2;
        uint32_t want;   // colour channels; alpha stays modulate(0x80, 0xFF)
    };
    // Texture 0x604020 with diffuse 0x204060.
    const Case cases[] = {
        {TopSelectArg1, TaTexture, TaDiffuse, 0x80604020u},
        {TopSelectArg2, TaTexture, TaDiffuse, 0x80204060u},
        {TopModulate, TaTexture, TaDiffuse, 0x800C100Cu},     // round(96*32/255)=12, round(64*64/255)=16
        {TopModulate2x, TaTexture, TaDiffuse, 0x80182018u},
        {TopAdd, TaTexture, TaDiffuse, 0x80808080u},
        {TopSubtract, TaTexture, TaDiffuse, 0x80400000u},
        {TopAddSigned, TaTexture, TaDiffuse, 0x80000000u},    // 96+32-128=0, 64+64-128=0, 32+96-128=0
        {TopSelectArg1, TaTexture | TaComplement, TaDiffuse, 0x809FBFDFu},
        {TopSelectArg1, TaTFactor, TaDiffuse, 0x80112233u},
    };
    dev.SetRenderState(RsTextureFactor, 0x44112233u);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaArg1, TaTexture);
    for (const Case& c : cases) {
        dev.SetTextureStageState(0, TssColorOp, c.op);
        dev.SetTextureStageState(0, TssColorArg1, c.arg1);
        dev.SetTextureStageState(0, TssColorArg2, c.arg2);
        dev.BeginScene();
        Clear(dev, 0);
        std::vector<busy2d::Vertex> q;
        busy2d::AppendQuad(q, 0, 0, 1, 1, 1, 1);
        for (auto& v : q) {
            v.color = 0xFF204060u;
        }
        dev.SetVertexShader(0x144);
        dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
        dev.EndScene();
        EXPECT_EQ(Frame(dev)[0], c.want) << "op " << c.op << " arg1 " << c.arg1;
    }
    dev.SetTexture(0, nullptr);
    tex->Release();
}

TEST(SoftDevice, LinesAndPointsFollowTheirRules)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 8, 8));
    dev.BeginScene();
    Clear(dev, 0);
    dev.SetVertexShader(0x44);
    // From pixel centre (1, 1) to (5, 1): columns 1 to 5 with the last pixel on.
    const ColorVertex line[2] = {{1, 1, 0, 1, 0xFFFFFFFFu}, {5, 1, 0, 1, 0xFFFFFFFFu}};
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimLineList, 1, line, sizeof(ColorVertex)), kGfxOk);
    // A vertical strip without the last pixel: rows 3 to 5 of column 6.
    dev.SetRenderState(RsLastPixel, 0);
    const ColorVertex strip[2] = {{6, 3, 0, 1, 0xFF00FF00u}, {6, 6, 0, 1, 0xFF00FF00u}};
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimLineStrip, 1, strip, sizeof(ColorVertex)), kGfxOk);
    // Points: (2.4, 3.6) is pixel (2, 4); (3.5, 6.5) is pixel (3, 6).
    const ColorVertex points[2] = {{2.4f, 3.6f, 0, 1, 0xFFFF0000u}, {3.5f, 6.5f, 0, 1, 0xFF0000FFu}};
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimPointList, 2, points, sizeof(ColorVertex)), kGfxOk);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    std::vector<uint32_t> want(64, 0);
    for (int x = 1; x <= 5; ++x) {
        want[1 * 8 + x] = 0xFFFFFFFFu;
    }
    for (int y = 3; y <= 5; ++y) {
        want[y * 8 + 6] = 0xFF00FF00u;
    }
    want[4 * 8 + 2] = 0xFFFF0000u;
    want[6 * 8 + 3] = 0xFF0000FFu;
    EXPECT_EQ(f, want);
}

TEST(SoftDevice, UntransformedVerticesGoThroughTheMatricesAndClip)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 8, 8));
    struct V3 {
        float x, y, z;
        uint32_t c;
    };
    dev.SetVertexShader(0x042);
    dev.BeginScene();
    Clear(dev, 0);
    // Identity matrices: clip space [-1, 1] maps onto the 8 x 8 viewport.
    // This quad covers x in [-1, 0] (columns 0 to 3) and y in [0, 1] (rows 0 to 3).
    const V3 q[4] = {{-1, 1, 0.5f, 0xFFFF0000u}, {0, 1, 0.5f, 0xFFFF0000u}, {0, 0, 0.5f, 0xFFFF0000u},
                     {-1, 0, 0.5f, 0xFFFF0000u}};
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, q, sizeof(V3)), kGfxOk);
    // Behind the far plane: clipped away entirely.
    const V3 far[3] = {{-1, -1, 1.5f, 0xFF00FF00u}, {1, -1, 1.5f, 0xFF00FF00u}, {1, 1, 1.5f, 0xFF00FF00u}};
    dev.SetRenderState(RsCullMode, CullNone);
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, far, sizeof(V3)), kGfxOk);
    // Reaching far outside on the right: clipped to the viewport's edge.
    Matrix4 world{};
    for (int i = 0; i < 4; ++i) {
        world.m[i][i] = 1.0f;
    }
    world.m[3][0] = 1.0f;   // x + 1: the left edge moves to the centre
    dev.SetTransform(TsWorld, world);
    const V3 wide[4] = {{-1, 0, 0.5f, 0xFF0000FFu}, {50, 0, 0.5f, 0xFF0000FFu}, {50, -1, 0.5f, 0xFF0000FFu},
                        {-1, -1, 0.5f, 0xFF0000FFu}};
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, wide, sizeof(V3)), kGfxOk);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            uint32_t want = 0;
            if (x < 4 && y < 4) {
                want = 0xFFFF0000u;
            } else if (x >= 4 && y >= 4) {
                want = 0xFF0000FFu;
            }
            EXPECT_EQ(f[y * 8 + x], want) << x << "," << y;
        }
    }
}

TEST(SoftDevice, IndexedDrawsFromBuffers)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 4));
    SoftVertexBuffer* vb = nullptr;
    SoftIndexBuffer* ib = nullptr;
    ASSERT_EQ(dev.CreateVertexBuffer(4 * sizeof(ColorVertex), UsageWriteOnly | UsageDynamic, 0x44, PoolDefault, &vb),
              kGfxOk);
    ASSERT_EQ(dev.CreateIndexBuffer(12, UsageWriteOnly, FormatIndex16, PoolDefault, &ib), kGfxOk);
    uint8_t* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &p, LockDiscard), kGfxOk);
    const ColorVertex v[4] = {{0, 0, 0, 1, 0xFF112233u}, {4, 0, 0, 1, 0xFF112233u}, {4, 4, 0, 1, 0xFF112233u},
                              {0, 4, 0, 1, 0xFF112233u}};
    std::memcpy(p, v, sizeof(v));
    vb->Unlock();
    ASSERT_EQ(ib->Lock(0, 12, &p, 0), kGfxOk);
    const uint16_t idx[6] = {0, 1, 2, 2, 3, 0};
    std::memcpy(p, idx, sizeof(idx));
    ib->Unlock();
    dev.SetStreamSource(0, vb, sizeof(ColorVertex));
    dev.SetIndices(ib, 0);
    dev.SetVertexShader(0x44);
    dev.BeginScene();
    Clear(dev, 0);
    ASSERT_EQ(dev.DrawIndexedPrimitive(PrimTriangleList, 0, 4, 0, 2), kGfxOk);
    // Reading past the index buffer is refused.
    EXPECT_EQ(dev.DrawIndexedPrimitive(PrimTriangleList, 0, 4, 0, 3), kGfxInvalidCall);
    EXPECT_EQ(dev.DrawPrimitive(PrimTriangleList, 0, 2), kGfxInvalidCall);
    dev.EndScene();
    for (uint32_t px : Frame(dev)) {
        EXPECT_EQ(px, 0xFF112233u);
    }
    dev.SetStreamSource(0, nullptr, 0);
    dev.SetIndices(nullptr, 0);
    vb->Release();
    ib->Release();
}

TEST(SoftDevice, IndicesOutsideTheVerticesAreSkippedSafely)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 4));
    const ColorVertex v[3] = {{0, 0, 0, 1, 0xFFFFFFFFu}, {4, 0, 0, 1, 0xFFFFFFFFu}, {0, 4, 0, 1, 0xFFFFFFFFu}};
    const uint16_t bad[3] = {0, 1, 60000};
    dev.SetVertexShader(0x44);
    dev.BeginScene();
    Clear(dev, 0);
    EXPECT_EQ(dev.DrawIndexedPrimitiveUP(PrimTriangleList, 0, 3, 1, bad, FormatIndex16, v, sizeof(ColorVertex)),
              kGfxOk);
    dev.EndScene();
    for (uint32_t px : Frame(dev)) {
        EXPECT_EQ(px, 0u);
    }
}

TEST(SoftDevice, LostDeviceRefusesResetUntilDefaultResourcesAreGone)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 8, 8));
    SoftTexture* tex = MakeTexture(dev, 2, 2, {1, 2, 3, 4}, PoolDefault);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(dev.TestCooperativeLevel(), kGfxOk);
    dev.SimulateLoss();
    EXPECT_EQ(dev.TestCooperativeLevel(), kGfxDeviceNotReset);
    EXPECT_EQ(dev.Present(), kGfxDeviceLost);
    // Drawing while lost succeeds and draws nothing.
    EXPECT_EQ(dev.BeginScene(), kGfxOk);
    EXPECT_EQ(dev.Clear(0, nullptr, ClearTarget, 0xFFFFFFFFu, 1.0f, 0), kGfxOk);
    EXPECT_EQ(dev.EndScene(), kGfxOk);
    EXPECT_EQ(dev.Reset(dev.GetParams()), kGfxInvalidCall);
    tex->Release();
    dev.SetRenderState(RsCullMode, CullCw);
    ASSERT_EQ(dev.Reset(dev.GetParams()), kGfxOk);
    EXPECT_EQ(dev.TestCooperativeLevel(), kGfxOk);
    // Reset brings every state back to its default.
    uint32_t cull = 0;
    dev.GetRenderState(RsCullMode, &cull);
    EXPECT_EQ(cull, static_cast<uint32_t>(CullCcw));
    EXPECT_EQ(dev.Present(), kGfxOk);
}

TEST(SoftDevice, RecordedDrawsSeeTheTextureAsItWasWhenDrawn)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 2, 1));
    SoftTexture* tex = MakeTexture(dev, 1, 1, {0xFF0000FFu});
    dev.SetTexture(0, tex);
    dev.BeginScene();
    std::vector<busy2d::Vertex> q;
    busy2d::AppendQuad(q, 0, 0, 1, 1, 1, 1);
    dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
    LockedRect lr;
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), kGfxOk);
    *static_cast<uint32_t*>(lr.bits) = 0xFF00FF00u;
    tex->UnlockRect(0);
    q.clear();
    busy2d::AppendQuad(q, 1, 0, 1, 1, 1, 1);
    dev.DrawPrimitiveUP(PrimTriangleList, 2, q.data(), sizeof(busy2d::Vertex));
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    EXPECT_EQ(f[0], 0xFF0000FFu);
    EXPECT_EQ(f[1], 0xFF00FF00u);
    dev.SetTexture(0, nullptr);
    tex->Release();
}

TEST(SoftDevice, CopyRectsToTheBackBufferKeepsDrawingOrder)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 2));
    SoftSurface* s = nullptr;
    ASSERT_EQ(dev.CreateImageSurface(2, 1, FormatR5G6B5, &s), kGfxOk);
    LockedRect lr;
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), kGfxOk);
    const uint16_t px[2] = {0xF800, 0x07E0};   // red, green
    std::memcpy(lr.bits, px, 4);
    s->UnlockRect();
    dev.BeginScene();
    Clear(dev, 0xFF000000u);
    DrawColorQuad(dev, 0, 0, 4, 2, 0xFF0000FFu);
    const Rect r{0, 0, 2, 1};
    const Point at{1, 1};
    ASSERT_EQ(dev.CopyRects(s, &r, 1, dev.GetBackBuffer(), &at), kGfxOk);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    EXPECT_EQ(f[0], 0xFF0000FFu);
    EXPECT_EQ(f[5], 0xFFFF0000u);
    EXPECT_EQ(f[6], 0xFF00FF00u);
    EXPECT_EQ(f[7], 0xFF0000FFu);
    s->Release();
}

TEST(SoftDevice, FormatsConvertToAndFromArgb)
{
    uint8_t px[4];
    ArgbToFormat(FormatR5G6B5, 0xFFFF8000u, px);
    EXPECT_EQ(FormatToArgb(FormatR5G6B5, px), 0xFFFF8200u);   // green 0x80 -> 32 of 63 -> 0x82
    ArgbToFormat(FormatA4R4G4B4, 0x80FF0011u, px);
    EXPECT_EQ(FormatToArgb(FormatA4R4G4B4, px), 0x88FF0011u);
    ArgbToFormat(FormatA1R5G5B5, 0x7FFFFFFFu, px);
    EXPECT_EQ(FormatToArgb(FormatA1R5G5B5, px), 0x00FFFFFFu);
    ArgbToFormat(FormatX1R5G5B5, 0x00080808u, px);
    EXPECT_EQ(FormatToArgb(FormatX1R5G5B5, px), 0xFF080808u);
    ArgbToFormat(FormatX8R8G8B8, 0x12345678u, px);
    EXPECT_EQ(FormatToArgb(FormatX8R8G8B8, px), 0xFF345678u);
    EXPECT_EQ(FormatBytes(FormatA8R8G8B8), 4);
    EXPECT_EQ(FormatBytes(FormatA4R4G4B4), 2);
    EXPECT_EQ(FormatBytes(99), 0);
    EXPECT_EQ(FvfStride(0x144), 28);
    EXPECT_EQ(FvfStride(0x142), 24);
    EXPECT_EQ(FvfStride(0x44), 20);
    EXPECT_EQ(FvfStride(0x252), 44);   // xyz, normal, diffuse, two sets
    EXPECT_EQ(FvfStride(0x40), 0);     // no position
}

TEST(SoftDevice, BadArgumentsAreRefused)
{
    SoftDevice dev;
    DeviceParams bad;
    bad.width = 0;
    EXPECT_FALSE(dev.Create(bad));
    ASSERT_TRUE(MakeDevice(dev, 8, 8));
    SoftTexture* tex = nullptr;
    EXPECT_EQ(dev.CreateTexture(0, 4, 1, 0, FormatA8R8G8B8, PoolManaged, &tex), kGfxInvalidCall);
    EXPECT_EQ(dev.CreateTexture(4, 5000, 1, 0, FormatA8R8G8B8, PoolManaged, &tex), kGfxInvalidCall);
    EXPECT_EQ(dev.CreateTexture(4, 4, 1, 0, 20, PoolManaged, &tex), kGfxInvalidCall);
    EXPECT_EQ(dev.CreateTexture(4, 4, 1, 0, FormatA8R8G8B8, PoolManaged, nullptr), kGfxInvalidCall);
    EXPECT_EQ(tex, nullptr);
    ASSERT_EQ(dev.CreateTexture(4, 4, 1, 0, FormatA4R4G4B4, PoolManaged, &tex), kGfxOk);
    LockedRect lr;
    EXPECT_EQ(tex->LockRect(1, &lr, nullptr, 0), kGfxInvalidCall);
    EXPECT_EQ(tex->LockRect(0, nullptr, nullptr, 0), kGfxInvalidCall);
    const Rect outside{2, 2, 5, 3};
    EXPECT_EQ(tex->LockRect(0, &lr, &outside, 0), kGfxInvalidCall);
    const Rect inside{1, 2, 3, 4};
    ASSERT_EQ(tex->LockRect(0, &lr, &inside, 0), kGfxOk);
    EXPECT_EQ(lr.pitch, 8);
    EXPECT_EQ(tex->LockRect(0, &lr, nullptr, 0), kGfxInvalidCall);   // already locked
    EXPECT_EQ(tex->UnlockRect(0), kGfxOk);
    EXPECT_EQ(tex->UnlockRect(0), kGfxInvalidCall);
    EXPECT_EQ(dev.SetTexture(8, tex), kGfxInvalidCall);
    EXPECT_EQ(dev.SetTextureStageState(8, TssColorOp, TopModulate), kGfxInvalidCall);
    EXPECT_EQ(dev.SetRenderState(256, 0), kGfxInvalidCall);
    EXPECT_EQ(dev.GetRenderState(7, nullptr), kGfxInvalidCall);
    EXPECT_EQ(dev.SetVertexShader(0x40), kGfxInvalidCall);
    Viewport vp;
    vp.width = 9;
    vp.height = 8;
    EXPECT_EQ(dev.SetViewport(vp), kGfxInvalidCall);
    SoftVertexBuffer* vb = nullptr;
    EXPECT_EQ(dev.CreateVertexBuffer(0, 0, 0x144, PoolDefault, &vb), kGfxInvalidCall);
    ASSERT_EQ(dev.CreateVertexBuffer(64, 0, 0x144, PoolDefault, &vb), kGfxOk);
    uint8_t* p = nullptr;
    EXPECT_EQ(vb->Lock(60, 8, &p, 0), kGfxInvalidCall);
    EXPECT_EQ(vb->Lock(65, 0, &p, 0), kGfxInvalidCall);
    EXPECT_EQ(vb->Lock(0, 64, nullptr, 0), kGfxInvalidCall);
    const busy2d::Vertex v[3] = {};
    // Drawing outside a scene, with an unknown type, or too few vertices.
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, v, sizeof(busy2d::Vertex)), kGfxInvalidCall);
    dev.BeginScene();
    EXPECT_EQ(dev.BeginScene(), kGfxInvalidCall);
    EXPECT_EQ(dev.DrawPrimitiveUP(7, 1, v, sizeof(busy2d::Vertex)), kGfxInvalidCall);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, v, 8), kGfxInvalidCall);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 1, nullptr, sizeof(busy2d::Vertex)), kGfxInvalidCall);
    dev.SetStreamSource(0, vb, 28);
    EXPECT_EQ(dev.DrawPrimitive(PrimTriangleList, 0, 1), kGfxInvalidCall);   // 64 bytes hold two vertices
    EXPECT_EQ(dev.DrawPrimitive(PrimTriangleList, 3, 1), kGfxInvalidCall);
    dev.SetStreamSource(0, nullptr, 0);
    EXPECT_EQ(dev.Clear(1, nullptr, ClearTarget, 0, 1, 0), kGfxInvalidCall);
    EXPECT_EQ(dev.Clear(0, nullptr, ClearZBuffer, 0, 1, 0), kGfxInvalidCall);   // no depth buffer
    dev.EndScene();
    SoftSurface* s = nullptr;
    EXPECT_EQ(dev.CreateImageSurface(-1, 4, FormatA8R8G8B8, &s), kGfxInvalidCall);
    ASSERT_EQ(dev.CreateImageSurface(4, 4, FormatA8R8G8B8, &s), kGfxOk);
    const Rect tooBig{0, 0, 5, 5};
    EXPECT_EQ(dev.CopyRects(s, &tooBig, 1, dev.GetBackBuffer(), nullptr), kGfxInvalidCall);
    const Point off{6, 6};
    const Rect fine{0, 0, 4, 4};
    EXPECT_EQ(dev.CopyRects(s, &fine, 1, dev.GetBackBuffer(), &off), kGfxInvalidCall);
    s->Release();
    vb->Release();
    tex->Release();
}

TEST(SoftDevice, ResourcesOutliveTheirDevice)
{
    SoftTexture* tex = nullptr;
    {
        SoftDevice dev;
        ASSERT_TRUE(MakeDevice(dev, 4, 4));
        ASSERT_EQ(dev.CreateTexture(2, 2, 1, 0, FormatA8R8G8B8, PoolManaged, &tex), kGfxOk);
    }
    LockedRect lr;
    EXPECT_EQ(tex->LockRect(0, &lr, nullptr, 0), kGfxOk);
    EXPECT_EQ(tex->UnlockRect(0), kGfxOk);
    tex->Release();
}

namespace {

struct TexVertex {
    float x, y, z, rhw;
    uint32_t c;
    float u, v;
};

// One row of a quad over pixels x0 .. x1 - 1 of row 0, u from u0 to u1.
std::vector<uint32_t> DrawRow(SoftDevice& dev, SoftTexture* tex, float x1, float u1, float rhwRight,
                              uint32_t address, uint32_t filter)
{
    dev.SetTexture(0, tex);
    dev.SetTextureStageState(0, TssAddressU, address);
    dev.SetTextureStageState(0, TssAddressV, AddressClamp);
    dev.SetTextureStageState(0, TssMagFilter, filter);
    dev.SetTextureStageState(0, TssMinFilter, filter);
    const float q = rhwRight;
    // Perspective: every attribute goes in as it is; rhw differs per side.
    const TexVertex v[4] = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0.5f},
                            {x1, 0, 0, q, 0xFFFFFFFFu, u1, 0.5f},
                            {x1, 1, 0, q, 0xFFFFFFFFu, u1, 0.5f},
                            {0, 1, 0, 1, 0xFFFFFFFFu, 0, 0.5f}};
    dev.SetVertexShader(0x144);
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0, 1.0f, 0);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(TexVertex)), kGfxOk);
    dev.EndScene();
    std::vector<uint32_t> f = Frame(dev);
    f.resize(static_cast<size_t>(x1));
    return f;
}

}  // namespace

TEST(SoftDevice, PerspectiveCorrectTextureCoordinates)
{
    // u runs 0 to 1 while w runs 1 to 3 across 18 pixels. With t = x / 18,
    // u = t / (3 - 2t) reaches 0.5 at t = 0.75 (x = 13.5), not at x = 9.
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 18, 1));
    SoftTexture* tex = MakeTexture(dev, 2, 1, {0xFFFF0000u, 0xFF00FF00u});
    const std::vector<uint32_t> row = DrawRow(dev, tex, 18, 1.0f, 1.0f / 3.0f, AddressClamp, FilterPoint);
    for (int x = 0; x < 18; ++x) {
        EXPECT_EQ(row[x], x <= 13 ? 0xFFFF0000u : 0xFF00FF00u) << x;
    }
    dev.SetTexture(0, nullptr);
    tex->Release();
}

TEST(SoftDevice, AddressingAndFiltering)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 1));
    SoftTexture* tex = MakeTexture(dev, 2, 1, {0xFF000000u, 0xFFFFFFFFu});
    // u 0 to 2 over four pixels: texel x at pixel x, wrapped or clamped.
    const std::vector<uint32_t> wrap = DrawRow(dev, tex, 4, 2.0f, 1.0f, AddressWrap, FilterPoint);
    const std::vector<uint32_t> clamp = DrawRow(dev, tex, 4, 2.0f, 1.0f, AddressClamp, FilterPoint);
    EXPECT_EQ(wrap, (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu}));
    EXPECT_EQ(clamp, (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}));
    // u 0 to 1, linear: texel coordinates 0, 0.5, 1, 1.5 less half a texel
    // give black, black, half way (128) and white.
    const std::vector<uint32_t> linear = DrawRow(dev, tex, 4, 1.0f, 1.0f, AddressClamp, FilterLinear);
    EXPECT_EQ(linear, (std::vector<uint32_t>{0xFF000000u, 0xFF000000u, 0xFF808080u, 0xFFFFFFFFu}));
    dev.SetTexture(0, nullptr);
    tex->Release();
}

TEST(SoftDevice, GouraudAndFlatShading)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 1));
    // Blue 0 at x = 0 to 200 at x = 4: 50 per pixel.
    const ColorVertex v[4] = {{0, 0, 0, 1, 0xFF000000u}, {4, 0, 0, 1, 0xFF0000C8u}, {4, 1, 0, 1, 0xFF0000C8u},
                              {0, 1, 0, 1, 0xFF000000u}};
    dev.SetVertexShader(0x44);
    dev.BeginScene();
    dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(ColorVertex));
    dev.EndScene();
    EXPECT_EQ(Frame(dev), (std::vector<uint32_t>{0xFF000000u, 0xFF000032u, 0xFF000064u, 0xFF000096u}));
    // Flat: each triangle takes its first vertex's colour, which for fan
    // triangle i is vertex i + 1, not the centre.
    dev.SetRenderState(RsShadeMode, ShadeFlat);
    dev.BeginScene();
    dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(ColorVertex));
    dev.EndScene();
    EXPECT_EQ(Frame(dev), std::vector<uint32_t>(4, 0xFF0000C8u));
}

TEST(SoftDevice, ViewportLimitsDrawingAndClearing)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 6, 4));
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget, 0xFF000000u, 1.0f, 0);
    Viewport vp;
    vp.x = 1;
    vp.y = 1;
    vp.width = 3;
    vp.height = 2;
    ASSERT_EQ(dev.SetViewport(vp), kGfxOk);
    dev.Clear(0, nullptr, ClearTarget, 0xFF0000FFu, 1.0f, 0);
    const ColorVertex v[4] = {{-100, -100, 0, 1, 0xFFFF0000u}, {100, -100, 0, 1, 0xFFFF0000u},
                              {100, 1.5f, 0, 1, 0xFFFF0000u},  {-100, 1.5f, 0, 1, 0xFFFF0000u}};
    dev.SetVertexShader(0x44);
    dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(ColorVertex));
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            const uint32_t want = !inside ? 0xFF000000u : (y == 1 ? 0xFFFF0000u : 0xFF0000FFu);
            EXPECT_EQ(f[y * 6 + x], want) << x << "," << y;
        }
    }
}

TEST(SoftDevice, ResetIsNotFooledByTheDevicesOwnSurfaces)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 4, 4));
    ASSERT_NE(dev.GetBackBuffer(), nullptr);
    dev.SimulateLoss();
    ASSERT_EQ(dev.Reset(dev.GetParams()), kGfxOk);   // drops the old back buffer surface
    SoftTexture* tex = MakeTexture(dev, 1, 1, {0}, PoolDefault);
    ASSERT_NE(dev.GetBackBuffer(), nullptr);
    dev.SimulateLoss();
    EXPECT_EQ(dev.Reset(dev.GetParams()), kGfxInvalidCall);
    tex->Release();
    EXPECT_EQ(dev.Reset(dev.GetParams()), kGfxOk);
}

TEST(SoftDevice, DepthClearsReachTheDepthBufferWhenRead)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 40, 40, 2, true));
    dev.BeginScene();
    ASSERT_EQ(dev.Clear(0, nullptr, ClearZBuffer, 0, 0.5f, 0), kGfxOk);
    const Rect corner{0, 0, 3, 2};
    ASSERT_EQ(dev.Clear(1, &corner, ClearZBuffer, 0, 0.25f, 0), kGfxOk);
    dev.EndScene();
    ASSERT_EQ(dev.Present(), kGfxOk);
    LockedRect lr;
    ASSERT_EQ(dev.GetDepthBuffer()->LockRect(&lr, nullptr, LockReadOnly), kGfxOk);
    for (int y = 0; y < 40; ++y) {
        const float* row = reinterpret_cast<const float*>(static_cast<const uint8_t*>(lr.bits) + y * lr.pitch);
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(row[x], (x < 3 && y < 2) ? 0.25f : 0.5f) << x << "," << y;
        }
    }
    dev.GetDepthBuffer()->UnlockRect();
    // A depth test after a whole clear compares against the cleared value.
    dev.SetRenderState(RsZEnable, 1);
    dev.SetRenderState(RsZFunc, CmpLess);
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0, 0.5f, 0);
    DrawColorQuad(dev, 0, 0, 40, 40, 0xFF00FF00u, 0.6f);   // behind: hidden
    DrawColorQuad(dev, 0, 0, 20, 40, 0xFFFF0000u, 0.4f);   // in front: drawn
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    EXPECT_EQ(f[5 * 40 + 10], 0xFFFF0000u);
    EXPECT_EQ(f[5 * 40 + 30], 0u);
}

// The bands a frame is cut into follow the thread count; a count changed in
// the middle of a frame must keep what is recorded and the depth clears
// not yet written, whichever way the bands change.
TEST(SoftDevice, ThreadCountChangedMidFrameDrawsAsAFixedCountDoes)
{
    constexpr int kW = 48, kH = 480;
    auto draw = [&](int first, int second) {
        SoftDevice dev;
        EXPECT_TRUE(MakeDevice(dev, kW, kH, first, true));
        dev.SetRenderState(RsZEnable, 1);
        dev.SetRenderState(RsZFunc, CmpLessEqual);
        dev.BeginScene();
        // Each depth clear is whole, so it waits in every band unwritten
        // until a depth test needs it.
        dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0xFF000000u, 0.25f, 0);
        dev.SetThreadCount(second);
        DrawColorQuad(dev, 0, 0, 16, kH, 0xFFFF0000u, 0.5f);   // behind the clear
        dev.Clear(0, nullptr, ClearZBuffer, 0, 1.0f, 0);
        DrawColorQuad(dev, 16, 0, 32, kH, 0xFF00FF00u, 0.5f);   // drawn after the change
        dev.Clear(0, nullptr, ClearZBuffer, 0, 0.75f, 0);
        dev.SetThreadCount(first);
        DrawColorQuad(dev, 32, 0, kW, kH, 0xFF0000FFu, 0.9f);   // behind the last clear
        dev.EndScene();
        return Frame(dev);
    };
    const std::vector<uint32_t> fixed = draw(8, 8);
    for (int y = 0; y < kH; y += 7) {
        ASSERT_EQ(fixed[static_cast<size_t>(y) * kW + 8], 0xFF000000u) << y;
        ASSERT_EQ(fixed[static_cast<size_t>(y) * kW + 24], 0xFF00FF00u) << y;
        ASSERT_EQ(fixed[static_cast<size_t>(y) * kW + 40], 0xFF000000u) << y;
    }
    EXPECT_EQ(draw(1, 1), fixed);
    EXPECT_EQ(draw(8, 1), fixed);
    EXPECT_EQ(draw(1, 8), fixed);
}

TEST(SoftDevice, HostileVerticesDoNotUpsetTheRasterizer)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 16, 16, 2, true));
    dev.SetRenderState(RsZEnable, 1);
    SoftTexture* tex = MakeTexture(dev, 2, 2, {1, 2, 3, 4});
    dev.SetTexture(0, tex);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const busy2d::Vertex v[] = {
        // Zero and negative rhw with differing values: perspective with w of 0.
        {0, 0, 0.5f, 0.0f, 0xFFFFFFFFu, 0, 0}, {16, 0, 0.5f, -1.0f, 0xFF00FF00u, 1, 0}, {0, 16, 0.5f, 2.0f, 0u, 0, 1},
        // Far beyond the guard band, and not numbers at all.
        {-1e30f, -1e30f, 0, 1, 0xFFFFFFFFu, 0, 0}, {1e30f, 5, 0, 1, 0xFFFFFFFFu, 1e20f, 0}, {3, 1e30f, 0, 1, 0, 0, nan},
        {nan, 0, 0, 1, 0, 0, 0}, {inf, 1, 0, 1, 0, 0, 0}, {2, 3, nan, 1, 0, 0, 0},
    };
    dev.SetVertexShader(0x144);
    dev.BeginScene();
    dev.Clear(0, nullptr, ClearTarget | ClearZBuffer, 0, 1.0f, 0);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimTriangleList, 3, v, sizeof(busy2d::Vertex)), kGfxOk);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimLineStrip, 8, v, sizeof(busy2d::Vertex)), kGfxOk);
    EXPECT_EQ(dev.DrawPrimitiveUP(PrimPointList, 9, v, sizeof(busy2d::Vertex)), kGfxOk);
    // The device goes on drawing as before.
    dev.SetTexture(0, nullptr);
    dev.SetRenderState(RsZEnable, 0);
    DrawColorQuad(dev, 0, 15, 16, 16, 0xFFFF0000u);
    dev.EndScene();
    const std::vector<uint32_t> f = Frame(dev);
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(f[15 * 16 + x], 0xFFFF0000u);
    }
    tex->Release();
}

TEST(SoftDevice, LinearVertexFogBlendsTowardTheFogColour)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 2, 2));
    struct V3 {
        float x, y, z;
        uint32_t c;
    };
    // Identity matrices: view depth 0.5 between fog start 0 and end 1 gives
    // the factor 0.5, stored as 128 of 255 (127.5 rounded up).
    const float start = 0.0f, end = 1.0f;
    uint32_t bits;
    std::memcpy(&bits, &start, 4);
    dev.SetRenderState(RsFogStart, bits);
    std::memcpy(&bits, &end, 4);
    dev.SetRenderState(RsFogEnd, bits);
    dev.SetRenderState(RsFogVertexMode, FogLinear);
    dev.SetRenderState(RsFogColor, 0xFF0000FFu);
    dev.SetRenderState(RsFogEnable, 1);
    dev.SetVertexShader(0x042);
    const V3 q[4] = {{-1, 1, 0.5f, 0xFFFF0000u}, {1, 1, 0.5f, 0xFFFF0000u}, {1, -1, 0.5f, 0xFFFF0000u},
                     {-1, -1, 0.5f, 0xFFFF0000u}};
    dev.BeginScene();
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, q, sizeof(V3)), kGfxOk);
    dev.EndScene();
    // Red (255 x 128 + 127) / 255 = 128; blue (255 x 127 + 127) / 255 = 127.
    for (uint32_t p : Frame(dev)) {
        EXPECT_EQ(p, 0xFF80007Fu);
    }
}

TEST(SoftDevice, SecondStageModulatesTheFirst)
{
    SoftDevice dev;
    ASSERT_TRUE(MakeDevice(dev, 1, 1));
    SoftTexture* a = MakeTexture(dev, 1, 1, {0xFF804020u});
    SoftTexture* b = MakeTexture(dev, 1, 1, {0x80FFFF80u});
    dev.SetTexture(0, a);
    dev.SetTexture(1, b);
    dev.SetTextureStageState(0, TssColorOp, TopSelectArg1);
    dev.SetTextureStageState(0, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(1, TssColorOp, TopModulate);
    dev.SetTextureStageState(1, TssColorArg1, TaTexture);
    dev.SetTextureStageState(1, TssColorArg2, TaCurrent);
    dev.SetTextureStageState(1, TssAlphaOp, TopSelectArg1);
    dev.SetTextureStageState(1, TssAlphaArg1, TaTexture);
    // Two coordinate sets (format 0x244); both read texel (0, 0).
    const struct {
        float x, y, z, rhw;
        uint32_t c;
        float uv[4];
    } v[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFFu, {0.5f, 0.5f, 0.5f, 0.5f}},
              {0.5f, -0.5f, 0, 1, 0xFFFFFFFFu, {0.5f, 0.5f, 0.5f, 0.5f}},
              {0.5f, 0.5f, 0, 1, 0xFFFFFFFFu, {0.5f, 0.5f, 0.5f, 0.5f}},
              {-0.5f, 0.5f, 0, 1, 0xFFFFFFFFu, {0.5f, 0.5f, 0.5f, 0.5f}}};
    dev.SetVertexShader(0x244);
    dev.BeginScene();
    ASSERT_EQ(dev.DrawPrimitiveUP(PrimTriangleFan, 2, v, sizeof(v[0])), kGfxOk);
    dev.EndScene();
    // Colour 0x804020 x 0xFFFF80: 0x80, 0x40, round(32 x 128 / 255) = 16;
    // alpha from the second texture.
    EXPECT_EQ(Frame(dev)[0], 0x80804010u);
    dev.SetTexture(0, nullptr);
    dev.SetTexture(1, nullptr);
    a->Release();
    b->Release();
}
