// Set-up straight from a quad's vertex data against the set-up of its screen
// vertices: the same answer, primitive, planes and bins on random quads and
// states, the quads that must be turned away included, and for a quad taken
// when it was recorded and set up later without being tested again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "platform/gfx/raster.h"
#include "platform/gfx/soft_device.h"

using namespace platform;

namespace {

void SetColor(float out[4], uint32_t c)
{
    for (int k = 0; k < 4; ++k) {
        out[k] = static_cast<float>((c >> (8 * k)) & 0xFF);
    }
}

// The quad's corners as the vertex stage would fetch them.
ScreenVertex Screen(const EvenQuad& q, int k, int set)
{
    const QuadCorner& c = q.corner[k];
    ScreenVertex v;
    v.x = c.x;
    v.y = c.y;
    v.z = c.z;
    v.rhw = c.rhw;
    SetColor(v.color, q.diffuse);
    SetColor(v.spec, q.specular);
    v.tc[set][0] = c.u;
    v.tc[set][1] = c.v;
    return v;
}

bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectSameFrames(const RecordedFrame& want, const RecordedFrame& got, int trial)
{
    ASSERT_EQ(want.prims.size(), got.prims.size()) << trial;
    for (size_t i = 0; i < want.prims.size(); ++i) {
        const Prim& a = want.prims[i];
        const Prim& b = got.prims[i];
        EXPECT_EQ(a.kind, b.kind) << trial;
        EXPECT_EQ(a.perspective, b.perspective) << trial;
        EXPECT_EQ(a.flatColor, b.flatColor) << trial;
        EXPECT_EQ(a.fastSpan, b.fastSpan) << trial;
        EXPECT_EQ(a.linearStages, b.linearStages) << trial;
        EXPECT_EQ(a.state, b.state) << trial;
        EXPECT_EQ(a.fastColor, b.fastColor) << trial;
        EXPECT_EQ(a.minX, b.minX) << trial;
        EXPECT_EQ(a.minY, b.minY) << trial;
        EXPECT_EQ(a.maxX, b.maxX) << trial;
        EXPECT_EQ(a.maxY, b.maxY) << trial;
        EXPECT_EQ(a.edgeCount, b.edgeCount) << trial;
        for (int e = 0; e < 4; ++e) {
            EXPECT_EQ(a.ea[e], b.ea[e]) << trial;
            EXPECT_EQ(a.eb[e], b.eb[e]) << trial;
            EXPECT_EQ(a.ec[e], b.ec[e]) << trial;
        }
        EXPECT_EQ(a.flatDiffuse, b.flatDiffuse) << trial;
        EXPECT_EQ(a.flatSpecular, b.flatSpecular) << trial;
        EXPECT_EQ(a.planeBase, b.planeBase) << trial;
        EXPECT_EQ(a.sprite, b.sprite) << trial;
        EXPECT_EQ(a.spriteColumn, b.spriteColumn) << trial;
        EXPECT_EQ(a.spriteRow, b.spriteRow) << trial;
    }
    ASSERT_EQ(want.planes.size(), got.planes.size()) << trial;
    for (size_t i = 0; i < want.planes.size(); ++i) {
        EXPECT_TRUE(SameBits(want.planes[i].a, got.planes[i].a) && SameBits(want.planes[i].dx, got.planes[i].dx) &&
                    SameBits(want.planes[i].dy, got.planes[i].dy))
            << trial << " plane " << i;
    }
    EXPECT_EQ(want.bins, got.bins) << trial;
    EXPECT_EQ(want.area, got.area) << trial;
    EXPECT_EQ(want.primCount, got.primCount) << trial;
    EXPECT_EQ(want.fastPrimCount, got.fastPrimCount) << trial;
}

// Random fast families a state allows and the blends they draw with.
template <class Pick>
void PickFastFamilies(PixelState& ps, Pick& pick)
{
    ps.fastBlend = static_cast<int8_t>(pick(4) - 1);
    ps.fastTextured = pick(2) == 0;
    ps.fastUntextured = pick(2) == 0;
    ps.sampledBlend = static_cast<int8_t>(pick(4) - 1);
    ps.fastSampled = pick(2) == 0;
}

// A random stage that modulates or selects with either filter and reads a
// texture of up to 2^maxShift by `maxHeight` texels, or (one time in
// `bareOneIn`) none.
template <class Pick>
void PickStage(StageSnap& st, Pick& pick, const uint32_t* texels, int bareOneIn, int maxShift, int maxHeight)
{
    st.colorOp = static_cast<uint8_t>(pick(2) == 0 ? TopModulate : TopSelectArg1);
    st.alphaOp = static_cast<uint8_t>(pick(2) == 0 ? TopModulate : TopSelectArg1);
    st.magFilter = static_cast<uint8_t>(pick(2) == 0 ? FilterPoint : FilterLinear);
    st.minFilter = static_cast<uint8_t>(pick(2) == 0 ? FilterPoint : FilterLinear);
    if (pick(bareOneIn) != 0) {
        st.tex = TexView{texels, 1 << pick(maxShift), 1 + pick(maxHeight)};
    }
}

// Copies of a value at an address 4 bytes past an 8-byte boundary: quads
// live in vertex buffers and lists that only keep them 4-byte aligned, and
// set-up must not depend on finding its pairs of floats 8-byte aligned (the
// undefined-behaviour sanitizer reports such loads).
template <class T>
class Misaligned {
public:
    static_assert(alignof(T) == 4, "a value 4-byte aligned at most");
    explicit Misaligned(size_t count) : bytes_(count * sizeof(T) + 8)
    {
        for (size_t i = 0; i < count; ++i) {
            new (At() + i * sizeof(T)) T();
        }
    }
    T* data() { return std::launder(reinterpret_cast<T*>(At())); }

private:
    unsigned char* At()
    {
        const uintptr_t p = reinterpret_cast<uintptr_t>(bytes_.data());
        return bytes_.data() + ((p + 7) / 8 * 8 + 4 - p);
    }
    std::vector<unsigned char> bytes_;
};

}  // namespace

TEST(Setup, QuadsFromVertexDataSetUpAsTheirScreenVerticesDo)
{
    std::mt19937 rng(11);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    static const uint32_t texels[4] = {0xFF102030u, 0x80405060u, 0x00708090u, 0xFFA0B0C0u};
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    constexpr int kW = 200, kH = 120;
    int taken = 0, refused = 0, recorded = 0, shapeRefused = 0, halves = 0;
    for (int trial = 0; trial < 6000; ++trial) {
        // A state: up to two stages reading one coordinate set, textures
        // of assorted sizes (or none), either filter, any fast families.
        PixelState ps;
        ps.stageCount = pick(3);
        const int set = pick(3) == 0 ? pick(8) : 0;
        for (int s = 0; s < ps.stageCount; ++s) {
            StageSnap& st = ps.stage[s];
            st.coordSet = static_cast<uint8_t>(set);
            PickStage(st, pick, texels, 5, 9, 300);
        }
        PickFastFamilies(ps, pick);

        // A quad: mostly sprites with their corners in any of the eight
        // orders, and the kinds that may not become one rectangle.
        EvenQuad q;
        q.diffuse = pick(2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
        q.specular = pick(2) == 0 ? 0xFF000000u : static_cast<uint32_t>(rng());
        const int kind = pick(10);
        float l = static_cast<float>(pick(kW + 80) - 40) - 0.5f, t = static_cast<float>(pick(kH + 80) - 40) - 0.5f;
        if (kind == 4) {
            l = uni(-60, kW + 20);
            t = uni(-60, kH + 20);
        }
        const float w = static_cast<float>(1 + pick(70)), h = static_cast<float>(1 + pick(70));
        const float r = kind == 5 ? l : l + (kind == 4 ? uni(0.01f, 90) : w);   // kind 5: no width
        const float b = t + (kind == 4 ? uni(0.01f, 90) : h);
        const float xs[4] = {l, r, r, l}, ys[4] = {t, t, b, b};
        const float u0 = pick(2) == 0 ? 0.5f / w : uni(-3, 3), u1 = pick(2) == 0 ? (w - 0.5f) / w : uni(-3, 3);
        const float v0 = pick(2) == 0 ? 0.5f / h : uni(-3, 3), v1 = pick(2) == 0 ? (h - 0.5f) / h : uni(-3, 3);
        const float us[4] = {u0, u1, u1, u0}, vs[4] = {v0, v0, v1, v1};
        // z across the quad, or down it only (two corners alike).
        const float zs[2][4] = {{0.25f, 0.5f, 0.75f, 0.5f}, {0.25f, 0.25f, 0.75f, 0.75f}};
        const int ramp = pick(2);
        const bool zRamp = pick(4) == 0;
        const float z = pick(2) == 0 ? 0.0f : uni(0, 1), rhw = pick(3) == 0 ? uni(0.1f, 4) : 1.0f;
        const int start = pick(4), dir = pick(2) == 0 ? 1 : 3;
        for (int k = 0; k < 4; ++k) {
            const int c = (start + dir * k) % 4;
            q.corner[k] = QuadCorner{xs[c], ys[c], zRamp ? zs[ramp][c] : z, rhw, us[c], vs[c]};
        }
        if (kind == 3) {
            // Upright once snapped, though no two corners share an x or y
            // as floats.
            for (QuadCorner& c : q.corner) {
                c.x += uni(-1e-3f, 1e-3f);
                c.y += uni(-1e-3f, 1e-3f);
            }
        } else if (kind == 6) {
            // Turned: not upright.
            const float a = uni(0.05f, 1.5f), cx = uni(0, kW), cy = uni(0, kH), rad = uni(2, 40);
            for (int k = 0; k < 4; ++k) {
                const float ang = a + 1.5707964f * static_cast<float>(k);
                q.corner[k].x = cx + rad * std::cos(ang);
                q.corner[k].y = cy + rad * std::sin(ang);
            }
        } else if (kind == 7) {
            // One attribute of one corner off the plane of the others.
            QuadCorner& c = q.corner[pick(4)];
            const int which = pick(5);
            float* field = which == 0 ? &c.u : which == 1 ? &c.v : which == 2 ? &c.z : which == 3 ? &c.rhw : &c.x;
            *field += pick(2) == 0 ? 0.25f : 1e-6f;
        } else if (kind == 8) {
            // What is not a number, or is infinite.
            QuadCorner& c = q.corner[pick(4)];
            const float bad = pick(3) == 0 ? nan : (pick(2) == 0 ? inf : -inf);
            float* fields[4] = {&c.u, &c.v, &c.z, &c.rhw};
            *fields[pick(4)] = bad;
        } else if (kind == 9) {
            // Not a rectangle: the fourth corner moved along one axis.
            q.corner[3].x += 3.0f;
        }

        const uint32_t cull = static_cast<uint32_t>(1 + pick(3));
        const bool flat = pick(4) == 0;
        const ClipBox box = pick(3) == 0 ? ClipBox{pick(kW / 2), pick(kH / 2), kW / 2 + pick(kW / 2), kH / 2 + pick(kH / 2)}
                                         : ClipBox{0, 0, kW - 1, kH - 1};

        RecordedFrame want, got;
        for (RecordedFrame* f : {&want, &got}) {
            f->Reset(kW, kH, 16);
            f->states.push_back(PixelState{});
            f->states.push_back(ps);
        }
        const ScreenVertex a = Screen(q, 0, set), bv = Screen(q, 1, set), c = Screen(q, 2, set), d = Screen(q, 3, set);
        const ScreenVertex* const first[3] = {&a, &bv, &c};
        const ScreenVertex* const second[3] = {&c, &d, &a};
        // The general way: one rectangle, or the two triangles when their
        // planes differ; SetupEvenQuad takes a quad either way when its
        // attributes are one plane.
        auto general = [&] {
            if (SetupRectangle(want, 1, first, second, flat ? &a : nullptr, flat ? &c : nullptr, cull, box)) {
                return true;
            }
            if (!EvenQuadFits(ps, q, nullptr)) {
                return false;
            }
            SetupTriangle(want, 1, a, bv, c, cull, flat ? &a : nullptr, box);
            SetupTriangle(want, 1, c, d, a, cull, flat ? &c : nullptr, box);
            ++halves;
            return true;
        };
        const bool taking = general();
        // Every other quad read from an address 8-byte alignment misses.
        Misaligned<EvenQuad> misaligned(1);
        if (trial % 2 == 1) {
            *misaligned.data() = q;
        }
        const EvenQuad& quad = trial % 2 == 1 ? *misaligned.data() : q;
        // Twice with one memo of the span choice, as the quads of a draw:
        // the second takes what the first chose.
        QuadSpanMemo memo;
        const bool direct = SetupEvenQuad(got, 1, quad, cull, flat, box, &memo);
        ASSERT_EQ(taking, direct) << trial;
        // It tells when it turned the corners away as no upright rectangle
        // (the vertex stage then spares SetupRectangle), and only then.
        if (memo.refusedShape) {
            EXPECT_FALSE(direct) << trial;
            EXPECT_TRUE(kind == 4 || kind == 5 || kind == 6 || kind == 7 || kind == 9) << trial;
            ++shapeRefused;
        } else if (kind < 4 && !direct) {
            ADD_FAILURE() << trial << ": an upright quad refused for another reason";
        }
        general();
        SetupEvenQuad(got, 1, quad, cull, flat, box, &memo);
        ExpectSameFrames(want, got, trial);
        // A quad taken when it was recorded, set up later with no test.
        EXPECT_EQ(EvenQuadFits(ps, quad, nullptr), direct) << trial;
        if (direct) {
            RecordedFrame later;
            later.Reset(kW, kH, 16);
            later.states.push_back(PixelState{});
            later.states.push_back(ps);
            QuadSpanMemo laterMemo;
            SetupFittingQuad(later, 1, quad, cull, box, &laterMemo);
            SetupFittingQuad(later, 1, quad, cull, box, &laterMemo);
            ExpectSameFrames(want, later, trial);
        }
        taken += direct;
        refused += !direct;
        recorded += !got.prims.empty();
    }
    // Every kind was seen: rectangles recorded, dropped (culled or outside),
    // and refused.
    EXPECT_GT(recorded, 1000);
    EXPECT_GT(taken - recorded, 100);
    EXPECT_GT(refused, 1000);
    EXPECT_GT(shapeRefused, 500);
    // Stretched quads whose halves round their planes apart were seen.
    EXPECT_GT(halves, 100);
}

TEST(Setup, TrianglesOfADrawSetUpWithItsMemoAsOnTheirOwn)
{
    // The memo a draw keeps (the span chosen and the state's filtering) must
    // give every primitive what set-up without it gives: triangles of one
    // state with even and uneven colours, foreshortened or not, either
    // filter by the footprint or fixed, in runs that share a memo.
    std::mt19937 rng(37);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    static const uint32_t texels[4] = {0xFF102030u, 0x80405060u, 0x00708090u, 0xFFA0B0C0u};
    constexpr int kW = 160, kH = 100;
    int recorded = 0, fast = 0, perspective = 0;
    for (int draw = 0; draw < 1500; ++draw) {
        PixelState ps;
        ps.stageCount = pick(3);
        for (int s = 0; s < ps.stageCount; ++s) {
            StageSnap& st = ps.stage[s];
            st.coordSet = static_cast<uint8_t>(pick(3));
            st.colorOp = static_cast<uint8_t>(pick(2) == 0 ? TopModulate : TopSelectArg1);
            st.alphaOp = static_cast<uint8_t>(pick(2) == 0 ? TopModulate : TopSelectArg1);
            st.magFilter = static_cast<uint8_t>(pick(2) == 0 ? FilterPoint : FilterLinear);
            st.minFilter = pick(3) == 0 ? static_cast<uint8_t>(pick(2) == 0 ? FilterPoint : FilterLinear) : st.magFilter;
            if (pick(5) != 0) {
                st.tex = TexView{texels, 1 << pick(8), 1 + pick(200)};
            }
        }
        PickFastFamilies(ps, pick);
        const uint32_t cull = static_cast<uint32_t>(1 + pick(3));
        const bool flat = pick(4) == 0;
        const bool foreshortened = pick(2) == 0;
        const ClipBox box{0, 0, kW - 1, kH - 1};

        RecordedFrame want, got;
        for (RecordedFrame* f : {&want, &got}) {
            f->Reset(kW, kH, 16);
            f->states.push_back(PixelState{});
            f->states.push_back(ps);
        }
        QuadSpanMemo memo;
        const uint32_t color = pick(2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
        for (int t = 0; t < 8; ++t) {
            ScreenVertex v[3];
            for (ScreenVertex& sv : v) {
                sv.x = uni(-20, kW + 20);
                sv.y = uni(-20, kH + 20);
                sv.z = uni(0, 1);
                sv.rhw = foreshortened ? uni(0.05f, 2.0f) : 0.5f;
                // Mostly the draw's one colour, now and then another.
                const uint32_t c = pick(6) == 0 ? static_cast<uint32_t>(rng()) : color;
                for (int k = 0; k < 4; ++k) {
                    sv.color[k] = static_cast<float>((c >> (8 * k)) & 0xFF);
                }
                if (pick(8) == 0) {
                    sv.spec[pick(4)] = uni(0, 255);
                }
                for (auto& tc : sv.tc) {
                    tc[0] = uni(-2, 2);
                    tc[1] = uni(-2, 2);
                }
            }
            SetupTriangle(want, 1, v[0], v[1], v[2], cull, flat ? &v[0] : nullptr, box);
            SetupTriangle(got, 1, v[0], v[1], v[2], cull, flat ? &v[0] : nullptr, box, &memo);
        }
        ExpectSameFrames(want, got, draw);
        recorded += static_cast<int>(got.prims.size());
        for (const Prim& p : got.prims) {
            fast += p.fastSpan != 0;
            perspective += p.perspective;
        }
    }
    // Both kinds of triangle were set up, and fast spans chosen for some.
    EXPECT_GT(recorded, 3000);
    EXPECT_GT(fast, 300);
    EXPECT_GT(perspective, 1000);
}

TEST(Setup, SpritesSetUpTogetherAsOneByOne)
{
    // Quads taken when recorded and set up later as one list must give what
    // SetupEvenQuad gives them one by one with a memo per draw: draws of
    // assorted states and colours follow each other, so that a memo kept
    // past its draw would choose the wrong spans.
    std::mt19937 rng(53);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    static const uint32_t texels[4] = {0xFF102030u, 0x80405060u, 0x00708090u, 0xFFA0B0C0u};
    constexpr int kW = 160, kH = 120;
    int recorded = 0, draws = 0;
    for (int trial = 0; trial < 300; ++trial) {
        RecordedFrame want, got;
        PixelState states[3];
        for (int k = 1; k < 3; ++k) {
            PixelState& ps = states[k];
            ps.stageCount = pick(2);
            StageSnap& st = ps.stage[0];
            PickStage(st, pick, texels, 4, 7, 100);
            PickFastFamilies(ps, pick);
        }
        for (RecordedFrame* f : {&want, &got}) {
            f->Reset(kW, kH, 16);
            for (const PixelState& ps : states) {
                f->states.push_back(ps);
            }
        }
        std::vector<DeferredQuad> list;
        QuadSpanMemo memo;
        const int drawCount = 1 + pick(4);
        for (int draw = 0; draw < drawCount; ++draw) {
            memo = QuadSpanMemo();
            const uint32_t state = static_cast<uint32_t>(1 + pick(2));
            const uint32_t cull = static_cast<uint32_t>(1 + pick(3));
            const ClipBox box{pick(20), pick(20), kW - 1 - pick(20), kH - 1 - pick(20)};
            const uint32_t colors[2] = {static_cast<uint32_t>(rng()), 0xFFFFFFFFu};
            for (int n = 1 + pick(6); n > 0; --n) {
                EvenQuad q;
                q.diffuse = colors[pick(2)];
                const float l = static_cast<float>(pick(kW + 20) - 10) - 0.5f;
                const float t = static_cast<float>(pick(kH + 20) - 10) - 0.5f;
                const float r = l + static_cast<float>(1 + pick(40)), b = t + static_cast<float>(1 + pick(40));
                const float xs[4] = {l, r, r, l}, ys[4] = {t, t, b, b};
                const float us[4] = {0, 1, 1, 0}, vs[4] = {0, 0, 1, 1};
                const int start = pick(4), dir = pick(2) == 0 ? 1 : 3;
                for (int k = 0; k < 4; ++k) {
                    const int c = (start + dir * k) % 4;
                    q.corner[k] = QuadCorner{xs[c], ys[c], 0.5f, 1.0f, us[c], vs[c]};
                }
                ASSERT_TRUE(EvenQuadFits(want.states[state], q, nullptr)) << trial;
                SetupEvenQuad(want, state, q, cull, false, box, &memo);
                DeferredQuad d;
                d.quad = q;
                d.state = state;
                d.cullMode = cull;
                d.box = box;
                d.draw = static_cast<uint32_t>(draw);
                list.push_back(d);
            }
            ++draws;
        }
        // From a list at an address 8-byte alignment misses, in every
        // other trial.
        Misaligned<DeferredQuad> misaligned(list.size());
        std::copy(list.begin(), list.end(), misaligned.data());
        SetupFittingQuads(got, trial % 2 == 1 ? misaligned.data() : list.data(), list.size());
        ExpectSameFrames(want, got, trial);
        recorded += static_cast<int>(got.prims.size());
    }
    EXPECT_GT(recorded, 500);
    EXPECT_GT(draws, 500);
}

TEST(Setup, UnscaledSpritesReadTheirTexelsOneForOne)
{
    // A sprite drawn 1:1 (half a pixel up and left, texture coordinates
    // from the first texel's centre to the last one's) is marked to read
    // texel (x - left, y - top) at pixel (x, y); scaled, flipped, wider than
    // its texture or tinted sprites are not all marked, and never wrongly.
    static const uint32_t texels[64 * 64] = {};
    PixelState ps;
    ps.stageCount = 1;
    ps.stage[0].colorOp = TopSelectArg1;
    ps.stage[0].alphaOp = TopSelectArg1;
    ps.stage[0].tex = TexView{texels, 32, 16};
    ps.fastBlend = 1;
    ps.fastTextured = true;
    auto setUp = [&](float left, float top, float w, float h, float u0, float u1, float v0, float v1) {
        RecordedFrame frame;
        frame.Reset(200, 120, 16);
        frame.states.push_back(ps);
        EvenQuad q;
        q.diffuse = 0xFFFFFFFFu;
        q.specular = 0xFF000000u;
        q.corner[0] = QuadCorner{left, top, 0, 1, u0, v0};
        q.corner[1] = QuadCorner{left + w, top, 0, 1, u1, v0};
        q.corner[2] = QuadCorner{left + w, top + h, 0, 1, u1, v1};
        q.corner[3] = QuadCorner{left, top + h, 0, 1, u0, v1};
        QuadSpanMemo memo;
        EXPECT_TRUE(SetupEvenQuad(frame, 0, q, CullNone, false, ClipBox{0, 0, 199, 119}, &memo));
        // One rectangle, or two triangles (never marked) when stretching
        // makes its halves round their planes apart.
        EXPECT_FALSE(frame.prims.empty());
        return frame.prims.empty() ? Prim{} : frame.prims[0];
    };
    // Unscaled, at whole pixels and off the target's top-left corner.
    for (const auto& [x, y] : {std::pair{10, 20}, std::pair{0, 0}, std::pair{-5, -3}, std::pair{180, 110}}) {
        const Prim pr = setUp(static_cast<float>(x) - 0.5f, static_cast<float>(y) - 0.5f, 32, 16, 0.5f / 32,
                              31.5f / 32, 0.5f / 16, 15.5f / 16);
        EXPECT_EQ(pr.fastSpan, 2) << x << "," << y;
        ASSERT_TRUE(pr.sprite) << x << "," << y;
        EXPECT_EQ(pr.spriteColumn, -x) << x << "," << y;
        EXPECT_EQ(pr.spriteRow, -y) << x << "," << y;
    }
    // Texture coordinates from the corners: texel rows and columns step by
    // exactly one.
    {
        const Prim pr = setUp(10, 20, 32, 16, 0, 1, 0, 1);
        ASSERT_TRUE(pr.sprite);
        EXPECT_EQ(pr.spriteColumn, -10);
        EXPECT_EQ(pr.spriteRow, -20);
    }
    // Twice the size, flipped, or reading past the texture: not marked.
    EXPECT_FALSE(setUp(9.5f, 19.5f, 64, 32, 0.25f / 32, 31.75f / 32, 0.25f / 16, 15.75f / 16).sprite);
    EXPECT_FALSE(setUp(9.5f, 19.5f, 32, 16, 31.5f / 32, 0.5f / 32, 0.5f / 16, 15.5f / 16).sprite);
    EXPECT_FALSE(setUp(9.5f, 19.5f, 32, 16, 0.5f / 32, 31.5f / 32, 15.5f / 16, 0.5f / 16).sprite);
    EXPECT_FALSE(setUp(9.5f, 19.5f, 40, 16, 0.5f / 32, 39.5f / 32, 0.5f / 16, 15.5f / 16).sprite);
    // Rows past the texture's bottom do not stop the mark: those rows take
    // the addressing mode on the general path.
    EXPECT_TRUE(setUp(9.5f, 19.5f, 32, 24, 0.5f / 32, 31.5f / 32, 0.5f / 16, 23.5f / 16).sprite);
    // A primitive that is not a fast textured rectangle is never marked.
    ps.fastTextured = false;
    EXPECT_FALSE(setUp(9.5f, 19.5f, 32, 16, 0.5f / 32, 31.5f / 32, 0.5f / 16, 15.5f / 16).sprite);
}
