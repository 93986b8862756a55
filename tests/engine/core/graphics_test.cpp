#include "engine/core/graphics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Vertex13 {
    float x, y, z, rhw;
    uint32_t color;
    float uv[8];
};
static_assert(sizeof(Vertex13) == 52, "thirteen words");

Vertex13 V(float x, float y, uint32_t color, float u)
{
    Vertex13 v{};
    v.x = x;
    v.y = y;
    v.z = 0.5f;
    v.rhw = 1.0f;
    v.color = color;
    v.uv[0] = u;
    return v;
}

}  // namespace

TEST(OrvaGraphics, ClipPolygonCutsEachEdgeAndFans)
{
    // A square from (-10, 0) to (10, 20) with colour and u running left to
    // right, clipped to x >= 0 and y <= 10.
    const Vertex13 in[4] = {V(-10, 0, 0x00000000u, 0.0f), V(10, 0, 0xC8C8C8C8u, 1.0f), V(10, 20, 0xC8C8C8C8u, 1.0f),
                            V(-10, 20, 0x00000000u, 0.0f)};
    Vertex13 out[3 * 8];
    const OrvaRect rect{0, -100, 100, 10};
    const int32_t n = OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
                                                rect, 4);
    ASSERT_EQ(n, 2);
    // Corners after the cut, in order: (0,0), (10,0), (10,10), (0,10).
    const float xs[4] = {0, 10, 10, 0}, ys[4] = {0, 0, 10, 10};
    const int fan[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(out[i].x, xs[fan[i]]) << i;
        EXPECT_FLOAT_EQ(out[i].y, ys[fan[i]]) << i;
        EXPECT_FLOAT_EQ(out[i].z, 0.5f);
        // Half way across: u 0.5 and each channel 100.
        const bool left = xs[fan[i]] == 0.0f;
        EXPECT_FLOAT_EQ(out[i].uv[0], left ? 0.5f : 1.0f) << i;
        EXPECT_EQ(out[i].color, left ? 0x64646464u : 0xC8C8C8C8u) << i;
    }
}

TEST(OrvaGraphics, ClipPolygonDropsWhatLiesOutside)
{
    const Vertex13 in[3] = {V(0, 0, 0, 0), V(5, 0, 0, 0), V(0, 5, 0, 0)};
    Vertex13 out[3 * 8];
    EXPECT_EQ(OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
                                        OrvaRect{10, 10, 20, 20}, 3),
              0);
    EXPECT_EQ(OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
                                        OrvaRect{0, 0, 20, 20}, 2),
              0);
    EXPECT_EQ(OrvaGraphics::ClipPolygon(nullptr, reinterpret_cast<uint32_t*>(out), OrvaRect{0, 0, 20, 20}, 3), 0);
    EXPECT_EQ(OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
                                        OrvaRect{0, 0, 20, 20}, 1000),
              0);
    // Wholly inside: the triangle comes back as it was.
    ASSERT_EQ(OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(in), reinterpret_cast<uint32_t*>(out),
                                        OrvaRect{0, 0, 20, 20}, 3),
              1);
    EXPECT_EQ(std::memcmp(out, in, sizeof(in)), 0);
}

TEST(OrvaGraphics, ConvertPixelsCopiesOrStretches)
{
    // Same size and pitch: a plain copy.
    uint32_t src[4] = {1, 2, 3, 4}, dst[16] = {};
    OrvaPixelImage s{src, 8, 2, 2}, d{dst, 8, 2, 2};
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&d, &s, 21, nullptr), 1);
    EXPECT_EQ(dst[3], 4u);
    // 2 x 2 over 4 x 4: each texel twice in each direction.
    OrvaPixelImage big{dst, 16, 4, 4};
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&big, &s, 22, nullptr), 1);
    const uint32_t want[16] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
    EXPECT_EQ(std::memcmp(dst, want, sizeof(want)), 0);
    // 16-bit texels, 4 x 1 down to 2 x 1: texels 0 and 2.
    uint16_t s16[4] = {10, 11, 12, 13}, d16[2] = {};
    OrvaPixelImage a{s16, 8, 4, 1}, b{d16, 4, 2, 1};
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&b, &a, 23, nullptr), 1);
    EXPECT_EQ(d16[0], 10);
    EXPECT_EQ(d16[1], 12);
    // Another format copies nothing.
    d16[0] = 0;
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&b, &a, 50, nullptr), 1);
    EXPECT_EQ(d16[0], 0);
    // Missing images and rows longer than their pitch are refused.
    OrvaPixelImage none{nullptr, 8, 2, 2};
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&none, &s, 21, nullptr), 0);
    EXPECT_EQ(OrvaGraphics::ConvertPixels(nullptr, &s, 21, nullptr), 0);
    OrvaPixelImage shortRows{dst, 4, 4, 4};
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&shortRows, &s, 21, nullptr), 0);
}

int g_progressCalls = 0;
void CountProgress(int32_t)
{
    ++g_progressCalls;
}

TEST(OrvaGraphics, ConvertPixelsReportsProgressEvery65536Texels)
{
    std::vector<uint32_t> src(4), dst(512 * 300);
    OrvaPixelImage s{src.data(), 8, 2, 2}, d{dst.data(), 512 * 4, 512, 300};
    g_progressCalls = 0;
    EXPECT_EQ(OrvaGraphics::ConvertPixels(&d, &s, 21, &CountProgress), 1);
    EXPECT_EQ(g_progressCalls, 512 * 300 / 65536);
}

TEST(OrvaGraphics, VramCounterKeepsItsPeak)
{
    OrvaGraphics::ResetVramCounter();
    OrvaGraphics::AddVramSize(1000);
    OrvaGraphics::AddVramSize(500);
    OrvaGraphics::AddVramSize(-1200);
    EXPECT_EQ(OrvaGraphics::GetVramSize(), 300);
    EXPECT_EQ(OrvaGraphics::GetVramPeak(), 1500);
}
