// Primitive set-up: snaps screen vertices to the 1/256-pixel grid, builds the
// edge functions with the top-left rule and the attribute planes, and bins
// the primitive into the tiles it touches.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include <new>
#include <optional>

#include "platform/gfx/pixel_shader.h"
#include "platform/gfx/raster.h"
#include "platform/gfx/soft_device.h"

namespace platform {

namespace {

constexpr double kSubPixels = 256.0;

struct Snapped {
    int64_t x, y;   // 1/256 pixel
};

// Nearest 1/256 pixel of x and y, halves rounded up (v * 256 + 0.5 in
// doubles, floored), both at once; inputs lie within the guard band, where
// the result fits 32 bits.
inline Snapped SnapPair(float x, float y)
{
    const __m128d s = _mm_add_pd(_mm_mul_pd(_mm_set_pd(y, x), _mm_set1_pd(kSubPixels)), _mm_set1_pd(0.5));
    const __m128d truncated = _mm_cvtepi32_pd(_mm_cvttpd_epi32(s));
    const __m128d floor = _mm_sub_pd(truncated, _mm_and_pd(_mm_cmpgt_pd(truncated, s), _mm_set1_pd(1.0)));
    return {static_cast<int64_t>(_mm_cvtsd_f64(floor)), static_cast<int64_t>(_mm_cvtsd_f64(_mm_unpackhi_pd(floor, floor)))};
}

inline Snapped Snap(const ScreenVertex& v)
{
    return SnapPair(v.x, v.y);
}

// Plane through three (x, y, value) points.
// invDet: 1 / ((x1 - x0) (y2 - y0) - (x2 - x0) (y1 - y0)).
Plane PlaneFrom(double x0, double y0, double a0, double x1, double y1, double a1, double x2, double y2, double a2,
                double invDet)
{
    Plane p;
    if (a0 == a1 && a1 == a2) {
        p.a = a0;
        return p;
    }
    p.dx = ((a1 - a0) * (y2 - y0) - (a2 - a0) * (y1 - y0)) * invDet;
    p.dy = ((a2 - a0) * (x1 - x0) - (a1 - a0) * (x2 - x0)) * invDet;
    p.a = a0 - p.dx * x0 - p.dy * y0;
    return p;
}

// The corners as the plane arithmetic takes them, each figure in both lanes.
struct PlaneGeometry {
    __m128d x0, y0, x1x0, x2x0, y1y0, y2y0, invDet;
};

inline PlaneGeometry Geometry(double x0, double y0, double x1, double y1, double x2, double y2, double invDet)
{
    return {_mm_set1_pd(x0),      _mm_set1_pd(y0),      _mm_set1_pd(x1 - x0),  _mm_set1_pd(x2 - x0),
            _mm_set1_pd(y1 - y0), _mm_set1_pd(y2 - y0), _mm_set1_pd(invDet)};
}

// A triangle's planes kept aside, with the frame's push_back and resize:
// those of a triangle that is only compared with another. Left unset until
// written (a quad's set-up makes one, and clearing it cost more than the
// rest of the comparison).
struct PlaneList {
    union {
        Plane planes[kShaderPlaneCount];
    };
    size_t count = 0;
    PlaneList() {}
    void push_back(const Plane& p) { planes[count++] = p; }
    void resize(size_t n)
    {
        for (; count < n; ++count) {
            planes[count] = Plane{};
        }
        count = n;
    }
    size_t size() const { return count; }
    Plane* data() { return planes; }
};

// Two planes, one a lane.
struct PlanePair {
    __m128d a, dx, dy;
};

// PlaneFrom for two attributes at once, one a lane: the same operations in
// the same order (so the same bits).
inline PlanePair PlanesOf(const PlaneGeometry& g, __m128d a0, __m128d a1, __m128d a2)
{
    const __m128d d1 = _mm_sub_pd(a1, a0), d2 = _mm_sub_pd(a2, a0);
    __m128d dx = _mm_mul_pd(_mm_sub_pd(_mm_mul_pd(d1, g.y2y0), _mm_mul_pd(d2, g.y1y0)), g.invDet);
    __m128d dy = _mm_mul_pd(_mm_sub_pd(_mm_mul_pd(d2, g.x1x0), _mm_mul_pd(d1, g.x2x0)), g.invDet);
    __m128d a = _mm_sub_pd(_mm_sub_pd(a0, _mm_mul_pd(dx, g.x0)), _mm_mul_pd(dy, g.y0));
    // An even attribute is the constant plane of its value.
    const __m128d even = _mm_and_pd(_mm_cmpeq_pd(a0, a1), _mm_cmpeq_pd(a1, a2));
    a = _mm_or_pd(_mm_and_pd(even, a0), _mm_andnot_pd(even, a));
    dx = _mm_andnot_pd(even, dx);
    dy = _mm_andnot_pd(even, dy);
    return {a, dx, dy};
}

template <typename Planes>
inline void PushPlanes(Planes& kept, const PlanePair& p)
{
    kept.push_back(Plane{_mm_cvtsd_f64(p.a), _mm_cvtsd_f64(p.dx), _mm_cvtsd_f64(p.dy)});
    kept.push_back(Plane{_mm_cvtsd_f64(_mm_unpackhi_pd(p.a, p.a)), _mm_cvtsd_f64(_mm_unpackhi_pd(p.dx, p.dx)),
                         _mm_cvtsd_f64(_mm_unpackhi_pd(p.dy, p.dy))});
}

// PlanesOf, with the planes added to the frame.
template <typename Planes>
inline void PushPlanePair(Planes& kept, const PlaneGeometry& g, __m128d a0, __m128d a1, __m128d a2)
{
    PushPlanes(kept, PlanesOf(g, a0, a1, a2));
}

// Whether planes give every pixel the same bits, however a sum of a and
// the gradient terms is taken: the same a, neither a NaN nor a negative
// zero, and gradients of the same value. Zeros of either sign among them
// make terms that leave such a sum as it is.
inline bool SamePlane(const Plane& x, const Plane& y)
{
    return x.a == y.a && x.dx == y.dx && x.dy == y.dy && std::memcmp(&x.a, &y.a, sizeof(double)) == 0 &&
           !(x.a == 0.0 && std::signbit(x.a));
}

// SamePlane for both lanes of two pairs of planes.
inline bool SamePlanePair(const PlanePair& x, const PlanePair& y)
{
    const __m128d values = _mm_and_pd(_mm_and_pd(_mm_cmpeq_pd(x.a, y.a), _mm_cmpeq_pd(x.dx, y.dx)),
                                      _mm_cmpeq_pd(x.dy, y.dy));
    // Bits compared a half at a time: both halves alike, and a's not those
    // of a negative zero.
    const __m128i bits = _mm_castpd_si128(x.a);
    const __m128i sameBits = _mm_cmpeq_epi32(bits, _mm_castpd_si128(y.a));
    const __m128i negativeZero = _mm_cmpeq_epi32(bits, _mm_castpd_si128(_mm_set1_pd(-0.0)));
    return _mm_movemask_pd(values) == 3 && _mm_movemask_ps(_mm_castsi128_ps(sameBits)) == 0xF &&
           (_mm_movemask_ps(_mm_castsi128_ps(negativeZero)) & 0x3) != 0x3 &&
           (_mm_movemask_ps(_mm_castsi128_ps(negativeZero)) & 0xC) != 0xC;
}

// Two adjacent floats in the low lanes. Vertices and corners are only
// 4-byte aligned, so the pair is read as an unaligned 8-byte load.
inline __m128 FloatPair(const float* f)
{
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(f)));
}

// Two floats of a vertex as doubles.
inline __m128d PairOf(const float* f)
{
    return _mm_cvtps_pd(FloatPair(f));
}

inline Plane Constant(double value)
{
    Plane p;
    p.a = value;
    return p;
}

// The texture size each stage's coordinates are scaled by.
inline void TexScale(const PixelState& ps, int s, double* w, double* h)
{
    const TexView& tex = ps.stage[s].tex;
    *w = tex.texels != nullptr ? tex.width : 1.0;
    *h = tex.texels != nullptr ? tex.height : 1.0;
}

// Attribute k of a vertex, in the order of the plane slots (z and q apart).
inline double Attribute(const ScreenVertex& v, const PixelState& ps, int slot)
{
    if (slot >= SlotDiffuse && slot < SlotDiffuse + 4) {
        return v.color[slot - SlotDiffuse];
    }
    if (slot >= SlotSpecular && slot < SlotSpecular + 4) {
        return v.spec[slot - SlotSpecular];
    }
    const int s = (slot - SlotTex) / 2;
    const int axis = (slot - SlotTex) % 2;
    double w, h;
    TexScale(ps, s, &w, &h);
    const int set = ps.stage[s].coordSet & 7;
    return static_cast<double>(v.tc[set][axis]) * (axis == 0 ? w : h);
}

bool SameColors(const ScreenVertex& a, const ScreenVertex& b)
{
    // Compared as floats, four at a time (a NaN is never the same).
    const __m128 color = _mm_cmpeq_ps(_mm_loadu_ps(a.color), _mm_loadu_ps(b.color));
    const __m128 spec = _mm_cmpeq_ps(_mm_loadu_ps(a.spec), _mm_loadu_ps(b.spec));
    return _mm_movemask_ps(_mm_and_ps(color, spec)) == 0xF;
}

uint32_t PackColor(const float c[4])
{
    // Nearest level, halves up: in doubles, so adding the half is exact and
    // truncation is a floor for what is left after the clamp at zero. A lane
    // that is not above zero (a NaN included) packs as 0.
    const __m128 v = _mm_loadu_ps(c);
    const __m128 positive = _mm_cmpgt_ps(v, _mm_setzero_ps());
    const __m128 m = _mm_min_ps(v, _mm_set1_ps(255.0f));
    const __m128d half = _mm_set1_pd(0.5);
    const __m128i lo = _mm_cvttpd_epi32(_mm_add_pd(_mm_cvtps_pd(m), half));
    const __m128i hi = _mm_cvttpd_epi32(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(m, m)), half));
    __m128i r = _mm_and_si128(_mm_unpacklo_epi64(lo, hi), _mm_castps_si128(positive));
    r = _mm_packs_epi32(r, r);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
}

// Chooses point or linear filtering per stage from the texel footprint of a
// pixel: magnified when a pixel steps at most one texel.
uint8_t LinearStages(const PixelState& ps, const Prim& pr, const Plane* planes, double cx, double cy)
{
    uint8_t mask = 0;
    for (int s = 0; s < ps.stageCount; ++s) {
        const StageSnap& st = ps.stage[s];
        if (st.tex.texels == nullptr) {
            continue;
        }
        if (st.magFilter == st.minFilter) {
            // The footprint chooses between two filters that are one.
            mask |= static_cast<uint8_t>((st.magFilter >= FilterLinear ? 1u : 0u) << s);
            continue;
        }
        const Plane& sp = planes[SlotTex + 2 * s];
        const Plane& tp = planes[SlotTex + 2 * s + 1];
        double dsdx = sp.dx, dsdy = sp.dy, dtdx = tp.dx, dtdy = tp.dy;
        if (pr.perspective) {
            const double q = planes[SlotQ].At(cx, cy);
            const Plane& qp = planes[SlotQ];
            if (q != 0.0) {
                const double sv = sp.At(cx, cy), tv = tp.At(cx, cy);
                dsdx = (sp.dx * q - sv * qp.dx) / (q * q);
                dsdy = (sp.dy * q - sv * qp.dy) / (q * q);
                dtdx = (tp.dx * q - tv * qp.dx) / (q * q);
                dtdy = (tp.dy * q - tv * qp.dy) / (q * q);
            }
        }
        const double rho = std::max(dsdx * dsdx + dtdx * dtdx, dsdy * dsdy + dtdy * dtdy);
        const uint8_t filter = rho <= 1.0 ? st.magFilter : st.minFilter;
        if (filter >= FilterLinear) {
            mask |= static_cast<uint8_t>(1u << s);
        }
    }
    return mask;
}

// Point or linear filtering per stage of a pixel shader primitive: the
// texel footprint of the coordinate set the stage is read at, or the
// magnifying filter for a stage read only at computed coordinates.
uint8_t ShaderLinearStages(const PixelShaderSnap& snap, const Prim& pr, const Plane* planes, double cx, double cy)
{
    const PixelProgram& program = *snap.program;
    uint8_t mask = 0;
    for (int s = 0; s < kPixelShaderStages; ++s) {
        const StageSnap& st = snap.stage[s];
        if (!(program.GetStageMask() >> s & 1u) || st.tex.texels == nullptr) {
            continue;
        }
        const int set = program.GetStageCoordSet(s);
        uint8_t filter = st.magFilter;
        if (set >= 0) {
            const Plane& sp = planes[ShaderSlotCoords + 4 * set];
            const Plane& tp = planes[ShaderSlotCoords + 4 * set + 1];
            double dsdx = sp.dx, dsdy = sp.dy, dtdx = tp.dx, dtdy = tp.dy;
            if (pr.perspective) {
                const Plane& qp = planes[SlotQ];
                const double q = qp.At(cx, cy);
                if (q != 0.0) {
                    const double sv = sp.At(cx, cy), tv = tp.At(cx, cy);
                    dsdx = (sp.dx * q - sv * qp.dx) / (q * q);
                    dsdy = (sp.dy * q - sv * qp.dy) / (q * q);
                    dtdx = (tp.dx * q - tv * qp.dx) / (q * q);
                    dtdy = (tp.dy * q - tv * qp.dy) / (q * q);
                }
            }
            const double w = st.tex.width, h = st.tex.height;
            const double rho = std::max((dsdx * w) * (dsdx * w) + (dtdx * h) * (dtdx * h),
                                        (dsdy * w) * (dsdy * w) + (dtdy * h) * (dtdy * h));
            filter = rho <= 1.0 ? st.magFilter : st.minFilter;
        }
        if (filter >= FilterLinear) {
            mask |= static_cast<uint8_t>(1u << s);
        }
    }
    return mask;
}

// A pixel shader primitive's planes after z and q (ShaderPlaneSlot): the
// colours, the first vertex's under flat shading, then every coordinate
// set up to the last the program reads, each made by plane() from one
// attribute of the corners (it multiplies by rhw for perspective
// primitives). Returns how many planes the primitive has.
template <typename MakePlane>
int ShadedPlanes(Prim& pr, const PixelShaderSnap& snap, Plane* planes, const ScreenVertex& first, bool flat, double cx,
                 double cy, MakePlane plane)
{
    const uint32_t sets = snap.program->GetCoordMask();
    int last = 0;
    for (int set = 0; set < kTexCoordSets; ++set) {
        if (sets >> set & 1u) {
            last = set + 1;
        }
    }
    for (int k = 0; k < 4; ++k) {
        for (int specular = 0; specular < 2; ++specular) {
            const int slot = (specular ? ShaderSlotSpecular : ShaderSlotDiffuse) + k;
            if (flat) {
                // Constant after the divide by q: the q plane scaled.
                const double v = specular ? first.spec[k] : first.color[k];
                const Plane& q = planes[SlotQ];
                Plane p;
                p.a = pr.perspective ? q.a * v : v;
                p.dx = pr.perspective ? q.dx * v : 0.0;
                p.dy = pr.perspective ? q.dy * v : 0.0;
                planes[slot] = p;
            } else {
                planes[slot] = plane([k, specular](const ScreenVertex& v) -> double {
                    return specular ? v.spec[k] : v.color[k];
                });
            }
        }
    }
    for (int set = 0; set < last; ++set) {
        for (int c = 0; c < 4; ++c) {
            planes[ShaderSlotCoords + 4 * set + c] =
                plane([set, c](const ScreenVertex& v) -> double { return v.tc[set][c]; });
        }
    }
    pr.flatColor = false;
    pr.fastSpan = 0;
    pr.linearStages = ShaderLinearStages(snap, pr, planes, cx, cy);
    return ShaderSlotCoords + 4 * last;
}

// Adds a pixel shader primitive with its planes to the frame and bins it.
void AddShaded(RecordedFrame& frame, Prim& pr, const Plane* planes, int count)
{
    pr.planeBase = static_cast<uint32_t>(frame.planes.size());
    frame.planes.insert(frame.planes.end(), planes, planes + count);
    const uint32_t index = static_cast<uint32_t>(frame.prims.size());
    frame.prims.push_back(pr);
    ++frame.primCount;
    frame.Bin(kBinPrim | index, pr.minX, pr.minY, pr.maxX, pr.maxY);
}

// ShadedPlanes, then the primitive added.
template <typename MakePlane>
void FinishShaded(RecordedFrame& frame, Prim& pr, const PixelShaderSnap& snap, Plane* planes, const ScreenVertex& first,
                  bool flat, double cx, double cy, MakePlane plane)
{
    AddShaded(frame, pr, planes, ShadedPlanes(pr, snap, planes, first, flat, cx, cy, plane));
}

// Adds a primitive's planes one by one: a primitive has few, and the
// general insert costs more in its bookkeeping than in the copying.
inline void AppendPlanes(RecordedFrame& frame, Prim& pr, const Plane* planes, int count)
{
    pr.planeBase = static_cast<uint32_t>(frame.planes.size());
    for (int k = 0; k < count; ++k) {
        frame.planes.push_back(planes[k]);
    }
}

// A new primitive at the end of the frame, as a default one: copied from
// one made once, which costs less than setting its fields one by one.
inline Prim& NewPrim(RecordedFrame& frame)
{
    static const Prim fresh;
    frame.prims.push_back(fresh);
    return frame.prims.back();
}

// Bins the primitive last added to the frame, marked if it is a sprite.
inline void BinLast(RecordedFrame& frame)
{
    const uint32_t index = static_cast<uint32_t>(frame.prims.size() - 1);
    Prim& pr = frame.prims.back();
    MarkSprite(frame, pr);
    ++frame.primCount;
    frame.fastPrimCount += pr.fastSpan != 0;
    frame.Bin(kBinPrim | index, pr.minX, pr.minY, pr.maxX, pr.maxY);
}

void Finish(RecordedFrame& frame, Prim& pr, const Plane* planes, int stageCount)
{
    // Colour planes only when the colours vary.
    AppendPlanes(frame, pr, planes, pr.flatColor ? SlotTex + 2 * stageCount : kPlaneCount);
    frame.prims.push_back(pr);
    BinLast(frame);
}

}  // namespace

namespace {

// The filtering of a state's stages when none chooses it by the footprint
// (both filters alike, or no texture): what LinearStages gives for any
// primitive then; -1 when a stage does choose.
int8_t StateLinear(const PixelState& ps)
{
    uint8_t mask = 0;
    for (int s = 0; s < ps.stageCount; ++s) {
        const StageSnap& st = ps.stage[s];
        if (st.tex.texels == nullptr) {
            continue;
        }
        if (st.magFilter != st.minFilter) {
            return -1;
        }
        mask |= static_cast<uint8_t>((st.magFilter >= FilterLinear ? 1u : 0u) << s);
    }
    return static_cast<int8_t>(mask);
}

// What the memo of a draw keeps of its state, made at its first primitive.
inline void MemoState(const PixelState& ps, QuadSpanMemo* memo)
{
    if (memo->stateLinear == -2) {
        memo->stateLinear = StateLinear(ps);
        for (int s = 0; s < ps.stageCount; ++s) {
            TexScale(ps, s, &memo->texScale[s][0], &memo->texScale[s][1]);
        }
    }
}

// The stages' filtering whatever the footprint, through the memo of a draw;
// -1 when the footprint matters (or there is no memo).
inline int MemoStateLinear(const PixelState& ps, QuadSpanMemo* memo)
{
    if (memo == nullptr) {
        return -1;
    }
    MemoState(ps, memo);
    return memo->stateLinear;
}

// Stage s's texture size, through the memo of a draw when there is one.
inline __m128d MemoTexScale(const PixelState& ps, int s, const QuadSpanMemo* memo)
{
    if (memo != nullptr) {
        return _mm_loadu_pd(memo->texScale[s]);
    }
    double w, h;
    TexScale(ps, s, &w, &h);
    return _mm_set_pd(h, w);
}

// SelectFastSpan for an evenly coloured primitive of a draw: what it chose
// for the last one with the same colours, filtering and foreshortening, as
// the state does not change within the draw.
inline void MemoFastSpan(const PixelState& ps, Prim& pr, QuadSpanMemo* memo)
{
    if (memo != nullptr && memo->valid && memo->diffuse == pr.flatDiffuse && memo->specular == pr.flatSpecular &&
        memo->linearStages == pr.linearStages && memo->perspective == pr.perspective) {
        pr.fastSpan = memo->fastSpan;
        pr.fastColor = memo->fastColor;
        return;
    }
    pr.fastSpan = SelectFastSpan(ps, pr, pr.flatDiffuse, pr.flatSpecular);
    if (memo != nullptr) {
        memo->valid = true;
        memo->perspective = pr.perspective;
        memo->diffuse = pr.flatDiffuse;
        memo->specular = pr.flatSpecular;
        memo->linearStages = pr.linearStages;
        memo->fastSpan = pr.fastSpan;
        memo->fastColor = pr.fastColor;
    }
}

// The first vertex's colours packed into pr, through the memo of a draw: a
// draw's vertices mostly share their colours, and the same bits pack alike.
inline void MemoPackColors(const ScreenVertex& first, Prim& pr, QuadSpanMemo* memo)
{
    if (memo == nullptr) {
        pr.flatDiffuse = PackColor(first.color);
        pr.flatSpecular = PackColor(first.spec);
        return;
    }
    const __m128i color = _mm_castps_si128(_mm_loadu_ps(first.color));
    const __m128i spec = _mm_castps_si128(_mm_loadu_ps(first.spec));
    const __m128i* kept = reinterpret_cast<const __m128i*>(memo->colorBits);
    const __m128i same = _mm_and_si128(_mm_cmpeq_epi32(color, _mm_loadu_si128(kept)),
                                       _mm_cmpeq_epi32(spec, _mm_loadu_si128(kept + 1)));
    if (!memo->packedValid || _mm_movemask_epi8(same) != 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(memo->colorBits), color);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(memo->colorBits) + 1, spec);
        memo->packedDiffuse = PackColor(first.color);
        memo->packedSpecular = PackColor(first.spec);
        memo->packedValid = true;
    }
    pr.flatDiffuse = memo->packedDiffuse;
    pr.flatSpecular = memo->packedSpecular;
}

// A triangle's coverage in pr: its kind, state, pixel box and edges (p in
// the order of set-up, clockwise), or a rectangle's four edges.
inline void Cover(Prim& pr, uint32_t stateIndex, const Snapped* p, const int64_t* rect, int32_t minX, int32_t minY,
                  int32_t maxX, int32_t maxY)
{
    pr.kind = KindTriangle;
    pr.state = stateIndex;
    pr.minX = minX;
    pr.maxX = maxX;
    pr.minY = minY;
    pr.maxY = maxY;
    if (rect != nullptr) {
        const int64_t l = rect[0], t = rect[1], r = rect[2], b = rect[3];
        pr.edgeCount = 4;
        const int64_t ea[4] = {256, -256, 0, 0}, eb[4] = {0, 0, 256, -256}, ec[4] = {-l, r - 1, -t, b - 1};
        for (int e = 0; e < 4; ++e) {
            pr.ea[e] = ea[e];
            pr.eb[e] = eb[e];
            pr.ec[e] = ec[e];
        }
        return;
    }
    for (int e = 0; e < 3; ++e) {
        const Snapped& a = p[e];
        const Snapped& b = p[e == 2 ? 0 : e + 1];
        const int64_t dx = b.x - a.x, dy = b.y - a.y;
        // E(P) = dx * (Py - ay) - dy * (Px - ax) with P = 256 * pixel.
        pr.ea[e] = -dy * 256;
        pr.eb[e] = dx * 256;
        // Top edges run right (interior below), left edges run up.
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        pr.ec[e] = -dx * a.y + dy * a.x - (topLeft ? 0 : 1);
    }
}

// A triangle's corners in pixels, the reciprocal of its doubled area and
// the weight each corner's attributes take (its rhw when foreshortened);
// marks the primitive foreshortened and flat as its corners are.
struct TriangleCorners {
    double x0, y0, x1, y1, x2, y2, invDet, qa, qb, qc;
};

inline TriangleCorners CornersOf(Prim& pr, const Snapped* p, const ScreenVertex& a, const ScreenVertex& b,
                                 const ScreenVertex& c, bool flat)
{
    TriangleCorners t;
    t.x0 = p[0].x / kSubPixels, t.y0 = p[0].y / kSubPixels;
    t.x1 = p[1].x / kSubPixels, t.y1 = p[1].y / kSubPixels;
    t.x2 = p[2].x / kSubPixels, t.y2 = p[2].y / kSubPixels;
    t.invDet = 1.0 / ((t.x1 - t.x0) * (t.y2 - t.y0) - (t.x2 - t.x0) * (t.y1 - t.y0));
    pr.perspective = !(a.rhw == b.rhw && b.rhw == c.rhw);
    pr.flatColor = flat || (SameColors(a, b) && SameColors(b, c));
    t.qa = pr.perspective ? a.rhw : 1.0, t.qb = pr.perspective ? b.rhw : 1.0, t.qc = pr.perspective ? c.rhw : 1.0;
    return t;
}

// The planes of a pixel shader's triangle (ShadedPlanes) from the corners
// a, b, c in set-up order; returns how many there are.
[[gnu::noinline]] int ShadedTrianglePlanes(Plane* shaded, Prim& pr, const PixelShaderSnap& snap,
                                           const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                                           const ScreenVertex& first, const Snapped* p, bool flat)
{
    const TriangleCorners t = CornersOf(pr, p, a, b, c, flat);
    shaded[SlotZ] = PlaneFrom(t.x0, t.y0, a.z, t.x1, t.y1, b.z, t.x2, t.y2, c.z, t.invDet);
    shaded[SlotQ] = pr.perspective ? PlaneFrom(t.x0, t.y0, a.rhw, t.x1, t.y1, b.rhw, t.x2, t.y2, c.rhw, t.invDet)
                                   : Constant(a.rhw);
    return ShadedPlanes(pr, snap, shaded, first, flat, (t.x0 + t.x1 + t.x2) / 3.0, (t.y0 + t.y1 + t.y2) / 3.0,
                        [&](auto attribute) {
                            return PlaneFrom(t.x0, t.y0, attribute(a) * t.qa, t.x1, t.y1, attribute(b) * t.qb, t.x2,
                                             t.y2, attribute(c) * t.qc, t.invDet);
                        });
}

// A fixed-function triangle's planes added to kept in slot order, and what
// pr takes from its corners a, b, c (in set-up order) and those planes:
// foreshortening, the flat colours (first's when flat) and the filtering.
// Colour planes only when the colours vary, those of stages past the last
// zero.
template <typename Planes>
inline void FixedTrianglePlanes(Planes& kept, Prim& pr, const PixelState& ps, const Snapped* p, const ScreenVertex& a,
                                const ScreenVertex& b, const ScreenVertex& c, const ScreenVertex& first, bool flat,
                                QuadSpanMemo* memo)
{
    const TriangleCorners t = CornersOf(pr, p, a, b, c, flat);
    MemoPackColors(first, pr, memo);
    const size_t base = kept.size();
    // Two planes at a time: z and q (q even when not foreshortened, which
    // makes it the constant plane of the rhw), then s and t of each stage,
    // then the colours in pairs of channels; each value is the one
    // Attribute gives, times q.
    const PlaneGeometry g = Geometry(t.x0, t.y0, t.x1, t.y1, t.x2, t.y2, t.invDet);
    PushPlanePair(kept, g, _mm_set_pd(a.rhw, a.z), _mm_set_pd(b.rhw, b.z), _mm_set_pd(c.rhw, c.z));
    const __m128d qa2 = _mm_set1_pd(t.qa), qb2 = _mm_set1_pd(t.qb), qc2 = _mm_set1_pd(t.qc);
    // The stages' scales and coordinate sets are read once per stage.
    const int fixedLinear = MemoStateLinear(ps, memo);
    for (int s = 0; s < ps.stageCount; ++s) {
        const __m128d scale = MemoTexScale(ps, s, memo);
        const int set = ps.stage[s].coordSet & 7;
        PushPlanePair(kept, g, _mm_mul_pd(_mm_mul_pd(PairOf(a.tc[set]), scale), qa2),
                      _mm_mul_pd(_mm_mul_pd(PairOf(b.tc[set]), scale), qb2),
                      _mm_mul_pd(_mm_mul_pd(PairOf(c.tc[set]), scale), qc2));
    }
    if (!pr.flatColor) {
        kept.resize(base + SlotDiffuse);
        for (int k = 0; k < 4; k += 2) {
            PushPlanePair(kept, g, _mm_mul_pd(PairOf(a.color + k), qa2), _mm_mul_pd(PairOf(b.color + k), qb2),
                          _mm_mul_pd(PairOf(c.color + k), qc2));
        }
        for (int k = 0; k < 4; k += 2) {
            PushPlanePair(kept, g, _mm_mul_pd(PairOf(a.spec + k), qa2), _mm_mul_pd(PairOf(b.spec + k), qb2),
                          _mm_mul_pd(PairOf(c.spec + k), qc2));
        }
    }
    const Plane* const planes = kept.data() + base;
    // The footprint at the centre, unless the state's filtering is fixed.
    pr.linearStages = fixedLinear >= 0
                          ? static_cast<uint8_t>(fixedLinear)
                          : LinearStages(ps, pr, planes, (t.x0 + t.x1 + t.x2) / 3.0, (t.y0 + t.y1 + t.y2) / 3.0);
}

// SamePlane for each of count planes.
bool SamePlanes(const Plane* x, const Plane* y, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (!SamePlane(x[i], y[i])) {
            return false;
        }
    }
    return true;
}

// Whether two triangles' planes, flat colours and filtering give every
// pixel of the box of x the same colour, depth and texels: the same planes,
// or planes that differ only in the coordinates of one point-sampled stage
// which read the same texel at each pixel with either (as a stretched
// background's halves do, whose planes round apart).
bool SameShading(const PixelState& ps, const Prim& x, const Plane* xPlanes, size_t xCount, const Prim& y,
                 const Plane* yPlanes, size_t yCount)
{
    if (x.perspective != y.perspective || x.flatColor != y.flatColor || x.linearStages != y.linearStages ||
        (x.flatColor && (x.flatDiffuse != y.flatDiffuse || x.flatSpecular != y.flatSpecular)) || xCount != yCount) {
        return false;
    }
    if (SamePlanes(xPlanes, yPlanes, xCount)) {
        return true;
    }
    const TexView& tex = ps.stage[0].tex;
    int64_t xColumn = 0, xRow = 0, yColumn = 0, yRow = 0;
    return ps.shader == nullptr && ps.stageCount == 1 && tex.texels != nullptr && (x.linearStages & 1) == 0 &&
           SamePlanes(xPlanes, yPlanes, SlotTex) &&
           SamePlanes(xPlanes + SlotTex + 2, yPlanes + SlotTex + 2, xCount - (SlotTex + 2)) &&
           SpriteTexels(xPlanes[SlotTex], xPlanes[SlotTex + 1], tex.width, x.minX, x.minY, x.maxX, x.maxY, &xColumn,
                        &xRow) &&
           SpriteTexels(yPlanes[SlotTex], yPlanes[SlotTex + 1], tex.width, x.minX, x.minY, x.maxX, x.maxY, &yColumn,
                        &yRow) &&
           xColumn == yColumn && xRow == yRow;
}

// The second triangle of a rectangle as its own set-up takes it: its corners
// in set-up order (clockwise on the screen), snapped, and the vertex it takes
// its colours from when flat (null: Gouraud shaded).
struct OtherHalf {
    const ScreenVertex* v[3];
    Snapped p[3];
    const ScreenVertex* flat;
};

// Set-up of a triangle, flat shaded with the colours of *flat when flat is
// given; with rect non-null, the rectangle whose half it is
// (its 1/256-pixel left, top, right, bottom) gives the coverage instead,
// when the other half shades every pixel as this one does (false, and
// nothing recorded, when it does not). snapped, when non-null, holds the
// corners already snapped. memo, when given, is kept over the primitives of
// one draw.
// Rect tells at compile time whether rect, snapped and other are given (all
// are, or none), so that a lone triangle's set-up carries no test of them.
template <bool Rect>
bool SetupTriangleOrRect(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0in, const ScreenVertex& v1in,
                         const ScreenVertex& v2in, uint32_t cullMode, const ScreenVertex* flat, const ClipBox& box,
                         const int64_t* rect, const Snapped* snapped, const OtherHalf* other, QuadSpanMemo* memo)
{
    if constexpr (!Rect) {
        rect = nullptr;
        snapped = nullptr;
        other = nullptr;
    }
    const ScreenVertex* v[3] = {&v0in, &v1in, &v2in};
    Snapped p[3];
    if (snapped != nullptr) {
        std::copy(snapped, snapped + 3, p);
    } else {
        p[0] = Snap(v0in);
        p[1] = Snap(v1in);
        p[2] = Snap(v2in);
    }
    const int64_t area = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    if (area == 0) {
        return true;
    }
    // Screen y runs down, so a positive area is a clockwise triangle, the
    // front face; counter-clockwise mode culls the others.
    if ((cullMode == CullCcw && area < 0) || (cullMode == CullCw && area > 0)) {
        return true;
    }
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(p[1], p[2]);
    }
    const int64_t minXs = std::min({p[0].x, p[1].x, p[2].x}), maxXs = std::max({p[0].x, p[1].x, p[2].x});
    const int64_t minYs = std::min({p[0].y, p[1].y, p[2].y}), maxYs = std::max({p[0].y, p[1].y, p[2].y});
    // Pixel centres inside the box of the snapped corners; a rectangle's
    // own edges (left and top inside, right and bottom outside) bound it
    // more tightly, never less.
    int64_t bx0 = (minXs + 255) >> 8, bx1 = maxXs >> 8;
    int64_t by0 = (minYs + 255) >> 8, by1 = maxYs >> 8;
    if (rect != nullptr) {
        bx0 = (rect[0] + 255) >> 8;
        bx1 = (rect[2] - 1) >> 8;
        by0 = (rect[1] + 255) >> 8;
        by1 = (rect[3] - 1) >> 8;
    }
    const int32_t minX = static_cast<int32_t>(std::max<int64_t>(bx0, box.minX));
    const int32_t maxX = static_cast<int32_t>(std::min<int64_t>(bx1, box.maxX));
    const int32_t minY = static_cast<int32_t>(std::max<int64_t>(by0, box.minY));
    const int32_t maxY = static_cast<int32_t>(std::min<int64_t>(by1, box.maxY));
    if (minX > maxX || minY > maxY) {
        return true;
    }
    const PixelState& ps = frame.states[stateIndex];
    const ScreenVertex& a = *v[0];
    const ScreenVertex& b = *v[1];
    const ScreenVertex& c = *v[2];
    // Colours the primitive takes when they are one (or it is flat).
    const ScreenVertex& first = flat != nullptr ? *flat : v0in;
    if (ps.shader != nullptr) {
        Prim pr;
        Cover(pr, stateIndex, p, rect, minX, minY, maxX, maxY);
        Plane shaded[kShaderPlaneCount];
        const int count = ShadedTrianglePlanes(shaded, pr, *ps.shader, a, b, c, first, p, flat != nullptr);
        if (other != nullptr) {
            Prim half;
            Plane halfPlanes[kShaderPlaneCount];
            const int halfCount =
                ShadedTrianglePlanes(halfPlanes, half, *ps.shader, *other->v[0], *other->v[1], *other->v[2],
                                     other->flat != nullptr ? *other->flat : *other->v[0], other->p, flat != nullptr);
            if (!SameShading(ps, pr, shaded, count, half, halfPlanes, halfCount)) {
                return false;
            }
        }
        AddShaded(frame, pr, shaded, count);
        return true;
    }
    // The primitive and its planes are made where they are kept.
    Prim& pr = NewPrim(frame);
    Cover(pr, stateIndex, p, rect, minX, minY, maxX, maxY);
    std::vector<Plane>& kept = frame.planes;
    const size_t base = kept.size();
    pr.planeBase = static_cast<uint32_t>(base);
    FixedTrianglePlanes(kept, pr, ps, p, a, b, c, first, flat != nullptr, memo);
    if (other != nullptr) {
        Prim half;
        PlaneList halfPlanes;
        FixedTrianglePlanes(halfPlanes, half, ps, other->p, *other->v[0], *other->v[1], *other->v[2],
                            other->flat != nullptr ? *other->flat : *other->v[0], flat != nullptr, nullptr);
        if (!SameShading(ps, pr, kept.data() + base, kept.size() - base, half, halfPlanes.planes, halfPlanes.count)) {
            frame.prims.pop_back();
            kept.resize(base);
            return false;
        }
    }
    if (pr.flatColor) {
        MemoFastSpan(ps, pr, memo);
    } else {
        pr.fastSpan = SelectFastSpan(ps, pr, pr.flatDiffuse, pr.flatSpecular);
    }
    BinLast(frame);
    return true;
}

// The texture coordinate sets a state reads (the others make no plane).
uint32_t CoordSetsRead(const PixelState& ps)
{
    if (ps.shader != nullptr) {
        return ps.shader->program->GetCoordMask();
    }
    uint32_t sets = 0;
    for (int s = 0; s < ps.stageCount; ++s) {
        sets |= 1u << (ps.stage[s].coordSet & 7);
    }
    return sets;
}

// Four lanes of d are each a + c - b, exactly (added and subtracted in
// doubles in that order; a NaN never matches).
bool Lin4(const float* a, const float* b, const float* c, const float* d)
{
    const __m128 fa = _mm_loadu_ps(a), fb = _mm_loadu_ps(b), fc = _mm_loadu_ps(c), fd = _mm_loadu_ps(d);
    auto half = [](__m128 x, __m128 y, __m128 z, __m128 w) {
        const __m128d sum = _mm_sub_pd(_mm_add_pd(_mm_cvtps_pd(x), _mm_cvtps_pd(z)), _mm_cvtps_pd(y));
        return _mm_movemask_pd(_mm_cmpeq_pd(_mm_cvtps_pd(w), sum));
    };
    return (half(fa, fb, fc, fd) & half(_mm_movehl_ps(fa, fa), _mm_movehl_ps(fb, fb), _mm_movehl_ps(fc, fc),
                                         _mm_movehl_ps(fd, fd))) == 3;
}

// Every attribute of d that is read is a + c - b, exactly: the rectangle's
// attributes are one plane. Without that its two halves' planes differ, and
// are not worth comparing.
bool Affine4(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, const ScreenVertex& d, uint32_t sets)
{
    auto lin = [](float va, float vb, float vc, float vd) {
        return static_cast<double>(vd) == static_cast<double>(va) + static_cast<double>(vc) - static_cast<double>(vb);
    };
    if (!(a.rhw == b.rhw && b.rhw == c.rhw && c.rhw == d.rhw) || !lin(a.z, b.z, c.z, d.z)) {
        return false;
    }
    if (!Lin4(a.color, b.color, c.color, d.color) || !Lin4(a.spec, b.spec, c.spec, d.spec)) {
        return false;
    }
    for (int i = 0; i < kTexCoordSets; ++i) {
        if ((sets >> i & 1u) && !Lin4(a.tc[i], b.tc[i], c.tc[i], d.tc[i])) {
            return false;
        }
    }
    return true;
}

// Whether a flat shaded primitive with fog has fog factors (the specular
// alphas) that differ from corner to corner: flat shading takes its colours
// from one vertex, but leaves the fog to change across the primitive.
inline bool FogAcross(const PixelState& ps, const ScreenVertex* const* corners, int count)
{
    if (!ps.fog) {
        return false;
    }
    for (int k = 1; k < count; ++k) {
        if (!(corners[k]->spec[3] == corners[0]->spec[3])) {
            return true;
        }
    }
    return false;
}

// A corner of such a primitive, to set it up Gouraud shaded: the colours
// as flat shading packs them from `flat`, and the corner's own fog.
ScreenVertex FlatFogCorner(const ScreenVertex& corner, const ScreenVertex& flat)
{
    ScreenVertex v = corner;
    const uint32_t diffuse = PackColor(flat.color), specular = PackColor(flat.spec);
    for (int ch = 0; ch < 4; ++ch) {
        v.color[ch] = static_cast<float>(diffuse >> (8 * ch) & 0xFFu);
    }
    for (int ch = 0; ch < 3; ++ch) {
        v.spec[ch] = static_cast<float>(specular >> (8 * ch) & 0xFFu);
    }
    return v;
}

inline int64_t Area(const Snapped* p)
{
    return (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
}

inline bool SamePoint(const Snapped& a, const Snapped& b)
{
    return a.x == b.x && a.y == b.y;
}

}  // namespace

void SetupTriangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0, const ScreenVertex& v1,
                   const ScreenVertex& v2, uint32_t cullMode, const ScreenVertex* flat, const ClipBox& box)
{
    SetupTriangle(frame, stateIndex, v0, v1, v2, cullMode, flat, box, nullptr);
}

void SetupTriangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0, const ScreenVertex& v1,
                   const ScreenVertex& v2, uint32_t cullMode, const ScreenVertex* flat, const ClipBox& box,
                   QuadSpanMemo* memo)
{
    const ScreenVertex* const corners[3] = {&v0, &v1, &v2};
    if (flat != nullptr && FogAcross(frame.states[stateIndex], corners, 3)) {
        SetupTriangleOrRect<false>(frame, stateIndex, FlatFogCorner(v0, *flat), FlatFogCorner(v1, *flat),
                                   FlatFogCorner(v2, *flat), cullMode, nullptr, box, nullptr, nullptr, nullptr, memo);
        return;
    }
    SetupTriangleOrRect<false>(frame, stateIndex, v0, v1, v2, cullMode, flat, box, nullptr, nullptr, nullptr, memo);
}

bool SetupRectangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex* const first[3],
                    const ScreenVertex* const second[3], const ScreenVertex* flatFirst,
                    const ScreenVertex* flatSecond, uint32_t cullMode, const ClipBox& box)
{
    Snapped p[3], q[3];
    for (int k = 0; k < 3; ++k) {
        p[k] = Snap(*first[k]);
        q[k] = Snap(*second[k]);
    }
    // The first triangle's corner k with the rectangle's corners on either
    // side (a before it, c after it): b shares a row with a and a column
    // with c, or a column with a and a row with c.
    int k = 0;
    for (; k < 3; ++k) {
        const Snapped& pa = p[(k + 2) % 3];
        const Snapped& pb = p[k];
        const Snapped& pc = p[(k + 1) % 3];
        const bool rowFirst = pa.y == pb.y && pb.x == pc.x;
        const bool columnFirst = pa.x == pb.x && pb.y == pc.y;
        if ((rowFirst || columnFirst) && pa.x != pc.x && pa.y != pc.y) {
            break;
        }
    }
    if (k == 3) {
        return false;
    }
    const Snapped& pa = p[(k + 2) % 3];
    const Snapped& pb = p[k];
    const Snapped& pc = p[(k + 1) % 3];
    const Snapped pd{pa.x + pc.x - pb.x, pa.y + pc.y - pb.y};
    // The second triangle covers the rest: corners a, c and the fourth, d,
    // turning the same way as the first (culled alike).
    int covered = 0, d = -1;
    for (int j = 0; j < 3; ++j) {
        if (SamePoint(q[j], pa)) {
            covered |= 1;
        } else if (SamePoint(q[j], pc)) {
            covered |= 2;
        } else if (SamePoint(q[j], pd)) {
            covered |= 4;
            d = j;
        }
    }
    const int64_t area = Area(p), otherArea = Area(q);
    if (covered != 7 || (area < 0) != (otherArea < 0)) {
        return false;
    }
    // Flat halves whose fog changes across them are set up apart.
    const PixelState& ps = frame.states[stateIndex];
    if ((flatFirst != nullptr && FogAcross(ps, first, 3)) || (flatSecond != nullptr && FogAcross(ps, second, 3))) {
        return false;
    }
    if (!Affine4(*first[(k + 2) % 3], *first[k], *first[(k + 1) % 3], *second[d], CoordSetsRead(ps))) {
        return false;
    }
    OtherHalf other{{second[0], second[1], second[2]}, {q[0], q[1], q[2]}, flatSecond};
    if (otherArea < 0) {
        std::swap(other.v[1], other.v[2]);
        std::swap(other.p[1], other.p[2]);
    }
    const int64_t rect[4] = {std::min(pa.x, pc.x), std::min(pa.y, pc.y), std::max(pa.x, pc.x), std::max(pa.y, pc.y)};
    return SetupTriangleOrRect<true>(frame, stateIndex, *first[0], *first[1], *first[2], cullMode, flatFirst, box,
                                     rect, p, &other, nullptr);
}

namespace {

// Whether SetupEvenQuad takes the quad rather than turning it away, and
// whether b shares a row with a (else a column).
inline bool QuadFits(const PixelState& ps, const EvenQuad& quad, QuadSpanMemo* memo, bool* rowFirstOut)
{
    const QuadCorner& a = quad.corner[0];
    const QuadCorner& b = quad.corner[1];
    const QuadCorner& c = quad.corner[2];
    const QuadCorner& d = quad.corner[3];
    // Corners in either order around the rectangle: b shares a row with a
    // and a column with c, or a column with a and a row with c. Corners
    // whose x or y are the same floats snap alike, so a sprite's shape is
    // seen before any corner is snapped, and only a and c are; corners that
    // are not seen so take the snapped comparison.
    static_assert(offsetof(QuadCorner, y) == offsetof(QuadCorner, x) + 4, "x and y lie together");
    const __m128 xyAB = _mm_movelh_ps(FloatPair(&a.x), FloatPair(&b.x));
    const __m128 xyCD = _mm_movelh_ps(FloatPair(&c.x), FloatPair(&d.x));
    // Bit 2k: corner k and the next around share x; bit 2k + 1: they share y.
    const int sameFloats =
        _mm_movemask_ps(_mm_cmpeq_ps(xyAB, _mm_shuffle_ps(xyAB, xyCD, _MM_SHUFFLE(1, 0, 3, 2)))) |
        _mm_movemask_ps(_mm_cmpeq_ps(xyCD, _mm_shuffle_ps(xyCD, xyAB, _MM_SHUFFLE(1, 0, 3, 2)))) << 4;
    bool rowFirst = (sameFloats & 0x66) == 0x66;
    bool columnFirst = (sameFloats & 0x99) == 0x99;
    const Snapped pa = SnapPair(a.x, a.y), pc = SnapPair(c.x, c.y);
    if (!(rowFirst || columnFirst)) {
        const Snapped pb = SnapPair(b.x, b.y), pd = SnapPair(d.x, d.y);
        rowFirst = pa.y == pb.y && pb.x == pc.x && pc.y == pd.y && pd.x == pa.x;
        columnFirst = pa.x == pb.x && pb.y == pc.y && pc.x == pd.x && pd.y == pa.y;
    }
    // Past the test below exactly one order holds, and b is where it puts it.
    if (!(rowFirst || columnFirst) || pa.x == pc.x || pa.y == pc.y) {
        if (memo != nullptr) {
            memo->refusedShape = true;
        }
        return false;
    }
    static_assert(offsetof(QuadCorner, v) == offsetof(QuadCorner, z) + 12, "z, rhw, u, v lie together");
    // One rhw, and z, u and v each of d equal to a + c - b exactly (added
    // and subtracted in doubles in that order; a NaN never matches): z, rhw,
    // u, v lie together in a corner, and are compared in lanes.
    const __m128 fa = _mm_loadu_ps(&a.z), fb = _mm_loadu_ps(&b.z), fc = _mm_loadu_ps(&c.z), fd = _mm_loadu_ps(&d.z);
    const int oneRhw =
        _mm_movemask_ps(_mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(fa, fb), _mm_cmpeq_ps(fb, fc)), _mm_cmpeq_ps(fc, fd)));
    auto lin = [](__m128 x, __m128 y, __m128 z, __m128 w) {
        const __m128d sum = _mm_sub_pd(_mm_add_pd(_mm_cvtps_pd(x), _mm_cvtps_pd(z)), _mm_cvtps_pd(y));
        return _mm_movemask_pd(_mm_cmpeq_pd(_mm_cvtps_pd(w), sum));
    };
    const int linZ = lin(fa, fb, fc, fd);
    *rowFirstOut = rowFirst;
    return (oneRhw & 2) && (linZ & 1) && ps.shader == nullptr &&
           (ps.stageCount == 0 ||
            lin(_mm_movehl_ps(fa, fa), _mm_movehl_ps(fb, fb), _mm_movehl_ps(fc, fc), _mm_movehl_ps(fd, fd)) == 3);
}

}  // namespace

bool EvenQuadFits(const PixelState& state, const EvenQuad& quad, QuadSpanMemo* memo)
{
    bool rowFirst;
    return QuadFits(state, quad, memo, &rowFirst);
}

namespace {

// A quad whose halves plane its attributes differently, set up from the
// screen vertices the vertex stage makes of its corners as SetupRectangle
// takes the triangles it is drawn as, (a, b, c) and (c, d, a): one
// rectangle when the two read the same texels even so, else the two
// triangles. Kept out of the quads' set-up, which is inlined where it runs.
[[gnu::noinline]] void SetupQuadHalves(RecordedFrame& frame, const PixelState& ps, uint32_t stateIndex,
                                       const EvenQuad& quad, uint32_t cullMode, const ClipBox& box,
                                       QuadSpanMemo* memo)
{
    // Every stage reads one coordinate set.
    const int set = ps.stageCount > 0 ? ps.stage[0].coordSet & 7 : 0;
    ScreenVertex v[4];
    for (int k = 0; k < 4; ++k) {
        const QuadCorner& c = quad.corner[k];
        v[k].x = c.x;
        v[k].y = c.y;
        v[k].z = c.z;
        v[k].rhw = c.rhw;
        for (int ch = 0; ch < 4; ++ch) {
            v[k].color[ch] = static_cast<float>(quad.diffuse >> (8 * ch) & 0xFFu);
            v[k].spec[ch] = static_cast<float>(quad.specular >> (8 * ch) & 0xFFu);
        }
        v[k].tc[set][0] = c.u;
        v[k].tc[set][1] = c.v;
    }
    const ScreenVertex* const first[3] = {&v[0], &v[1], &v[2]};
    const ScreenVertex* const second[3] = {&v[2], &v[3], &v[0]};
    if (SetupRectangle(frame, stateIndex, first, second, nullptr, nullptr, cullMode, box)) {
        return;
    }
    SetupTriangleOrRect<false>(frame, stateIndex, v[0], v[1], v[2], cullMode, nullptr, box, nullptr, nullptr, nullptr,
                               memo);
    SetupTriangleOrRect<false>(frame, stateIndex, v[2], v[3], v[0], cullMode, nullptr, box, nullptr, nullptr, nullptr,
                               memo);
}

// The set-up of a quad QuadFits took (rowFirst: b shares a row with a).
// Step for step what SetupRectangle and then SetupTriangleOrRect do with a
// rectangle: the colours being even leaves out their planes, and only u and
// v of one coordinate set can vary. Inlined where it is called: a call
// leaves the test's snapped corners behind and costs its registers.
[[gnu::always_inline]] inline void SetupTakenQuad(RecordedFrame& frame, const PixelState& ps, uint32_t stateIndex,
                                                  const EvenQuad& quad, bool rowFirst, uint32_t cullMode,
                                                  const ClipBox& box, QuadSpanMemo* memo)
{
    // a and c snapped again: the compiler shares them with the test.
    const QuadCorner& a = quad.corner[0];
    const QuadCorner& b = quad.corner[1];
    const QuadCorner& c = quad.corner[2];
    const Snapped pa = SnapPair(a.x, a.y), pc = SnapPair(c.x, c.y);
    const Snapped pb = rowFirst ? Snapped{pc.x, pa.y} : Snapped{pa.x, pc.y};
    Snapped p[3] = {pa, pb, pc};
    const QuadCorner* v[3] = {&a, &b, &c};
    const int64_t area = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    if ((cullMode == CullCcw && area < 0) || (cullMode == CullCw && area > 0)) {
        return;
    }
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(p[1], p[2]);
    }
    const int64_t l = std::min(pa.x, pc.x), t = std::min(pa.y, pc.y), r = std::max(pa.x, pc.x),
                  bottom = std::max(pa.y, pc.y);
    const int32_t minX = static_cast<int32_t>(std::max<int64_t>((l + 255) >> 8, box.minX));
    const int32_t maxX = static_cast<int32_t>(std::min<int64_t>((r - 1) >> 8, box.maxX));
    const int32_t minY = static_cast<int32_t>(std::max<int64_t>((t + 255) >> 8, box.minY));
    const int32_t maxY = static_cast<int32_t>(std::min<int64_t>((bottom - 1) >> 8, box.maxY));
    if (minX > maxX || minY > maxY) {
        return;
    }
    // Made where it is kept rather than copied there.
    Prim& pr = NewPrim(frame);
    pr.kind = KindTriangle;
    pr.state = stateIndex;
    pr.minX = minX;
    pr.maxX = maxX;
    pr.minY = minY;
    pr.maxY = maxY;
    pr.edgeCount = 4;
    pr.ea[0] = 256;
    pr.ea[1] = -256;
    pr.eb[2] = 256;
    pr.eb[3] = -256;
    pr.ec[0] = -l;
    pr.ec[1] = r - 1;
    pr.ec[2] = -t;
    pr.ec[3] = bottom - 1;
    pr.perspective = false;
    pr.flatColor = true;
    pr.flatDiffuse = quad.diffuse;
    pr.flatSpecular = quad.specular;
    std::vector<Plane>& kept = frame.planes;
    const size_t base = kept.size();
    pr.planeBase = static_cast<uint32_t>(base);
    const int stageCount = ps.stageCount;
    // (The memo learns the stages' texture sizes with their filtering.)
    const int fixedLinear = MemoStateLinear(ps, memo);
    // z and q (even: the constant plane of the rhw) as a pair, then s and t
    // of each stage. An even z makes the constant plane of its value too,
    // as PushPlanePair makes it (positive zeros for the gradient), with no
    // geometry needed for it.
    const bool evenZ = a.z == b.z && b.z == c.z;
    if (evenZ) {
        kept.push_back(Plane{a.z, 0.0, 0.0});
        kept.push_back(Plane{a.rhw, 0.0, 0.0});
    }
    if (!evenZ || stageCount > 0) {
        const double x0 = p[0].x / kSubPixels, y0 = p[0].y / kSubPixels;
        const double x1 = p[1].x / kSubPixels, y1 = p[1].y / kSubPixels;
        const double x2 = p[2].x / kSubPixels, y2 = p[2].y / kSubPixels;
        const double invDet = 1.0 / ((x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0));
        const PlaneGeometry g = Geometry(x0, y0, x1, y1, x2, y2, invDet);
        // The second triangle, (c, d, a), planed as its own set-up would
        // plane it: its determinant is the first's, made of the same
        // differences (a rectangle's halves have one area), so it shares
        // invDet. Each half rounds its planes from its own first corner:
        // the rectangle made here draws the two only when their planes are
        // alike (SamePlane); else SetupQuadHalves sees whether they draw
        // alike even so.
        const QuadCorner& d = quad.corner[3];
        Snapped q[3] = {pc, rowFirst ? Snapped{pa.x, pc.y} : Snapped{pc.x, pa.y}, pa};
        const QuadCorner* w[3] = {&c, &d, &a};
        if (area < 0) {
            std::swap(w[1], w[2]);
            std::swap(q[1], q[2]);
        }
        const PlaneGeometry h = Geometry(q[0].x / kSubPixels, q[0].y / kSubPixels, q[1].x / kSubPixels,
                                         q[1].y / kSubPixels, q[2].x / kSubPixels, q[2].y / kSubPixels, invDet);
        bool alike = true;
        if (!evenZ) {
            const PlanePair z = PlanesOf(g, _mm_set_pd(a.rhw, v[0]->z), _mm_set_pd(a.rhw, v[1]->z),
                                         _mm_set_pd(a.rhw, v[2]->z));
            alike = SamePlanePair(z, PlanesOf(h, _mm_set_pd(a.rhw, w[0]->z), _mm_set_pd(a.rhw, w[1]->z),
                                              _mm_set_pd(a.rhw, w[2]->z)));
            PushPlanes(kept, z);
        }
        for (int s = 0; s < stageCount; ++s) {
            const __m128d scale = MemoTexScale(ps, s, memo);
            const PlanePair st = PlanesOf(g, _mm_mul_pd(PairOf(&v[0]->u), scale), _mm_mul_pd(PairOf(&v[1]->u), scale),
                                          _mm_mul_pd(PairOf(&v[2]->u), scale));
            alike = alike && SamePlanePair(st, PlanesOf(h, _mm_mul_pd(PairOf(&w[0]->u), scale),
                                                        _mm_mul_pd(PairOf(&w[1]->u), scale),
                                                        _mm_mul_pd(PairOf(&w[2]->u), scale)));
            PushPlanes(kept, st);
        }
        if (!alike) {
            frame.prims.pop_back();
            kept.resize(base);
            SetupQuadHalves(frame, ps, stateIndex, quad, cullMode, box, memo);
            return;
        }
    }
    // Not foreshortened: the footprint is the same everywhere, and no
    // centre is needed.
    pr.linearStages =
        fixedLinear >= 0 ? static_cast<uint8_t>(fixedLinear) : LinearStages(ps, pr, kept.data() + base, 0.0, 0.0);
    MemoFastSpan(ps, pr, memo);
    BinLast(frame);
}

}  // namespace

bool SetupEvenQuad(RecordedFrame& frame, uint32_t stateIndex, const EvenQuad& quad, uint32_t cullMode, bool flat,
                   const ClipBox& box, QuadSpanMemo* memo)
{
    (void)flat;   // one colour: flat shading changes nothing
    const PixelState& ps = frame.states[stateIndex];
    bool rowFirst = false;
    if (!QuadFits(ps, quad, memo, &rowFirst)) {
        return false;
    }
    SetupTakenQuad(frame, ps, stateIndex, quad, rowFirst, cullMode, box, memo);
    return true;
}

namespace {

// SetupFittingQuad's work, inlined into the loop over a list of them.
[[gnu::always_inline]] inline void SetupFitting(RecordedFrame& frame, uint32_t stateIndex, const EvenQuad& quad,
                                                uint32_t cullMode, const ClipBox& box, QuadSpanMemo* memo)
{
    // The quad makes an upright rectangle of some width and height, so b
    // shares a row with a exactly when their snapped y are the same: the
    // other order puts b in c's row. The same floats snap alike; a shared x
    // means the other order.
    const QuadCorner& a = quad.corner[0];
    const QuadCorner& b = quad.corner[1];
    bool rowFirst = a.y == b.y;
    if (!rowFirst && a.x != b.x) {
        rowFirst = SnapPair(a.x, a.y).y == SnapPair(b.x, b.y).y;
    }
    SetupTakenQuad(frame, frame.states[stateIndex], stateIndex, quad, rowFirst, cullMode, box, memo);
}

}  // namespace

void SetupFittingQuad(RecordedFrame& frame, uint32_t stateIndex, const EvenQuad& quad, uint32_t cullMode,
                      const ClipBox& box, QuadSpanMemo* memo)
{
    SetupFitting(frame, stateIndex, quad, cullMode, box, memo);
}

void SetupFittingQuads(RecordedFrame& frame, const DeferredQuad* quads, size_t count)
{
    // A memo per draw, as recording keeps one.
    QuadSpanMemo memo;
    for (size_t i = 0; i < count; ++i) {
        const DeferredQuad& d = quads[i];
        if (i > 0 && d.draw != quads[i - 1].draw) {
            memo = QuadSpanMemo();
        }
        SetupFitting(frame, d.state, d.quad, d.cullMode, d.box, &memo);
    }
}

void SetUpDeferred(RecordedFrame& frame)
{
    // Runs on whichever thread takes the frame's part up: nothing may leave
    // it. A primitive half added when memory ran out is never binned.
    try {
        // Taken when recorded: set up with no test again.
        SetupFittingQuads(frame, frame.deferred.data(), frame.deferred.size());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: out of memory while setting up %zu sprites\n", frame.deferred.size());
    }
    frame.deferred.clear();
}

void SetupLine(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& a, const ScreenVertex& b,
               const ScreenVertex* flat, bool lastPixel, const ClipBox& box)
{
    const ScreenVertex* const ends[2] = {&a, &b};
    if (flat != nullptr && FogAcross(frame.states[stateIndex], ends, 2)) {
        SetupLine(frame, stateIndex, FlatFogCorner(a, *flat), FlatFogCorner(b, *flat), nullptr, lastPixel, box);
        return;
    }
    Prim pr;
    pr.kind = KindLine;
    pr.state = stateIndex;
    pr.lastPixel = lastPixel;
    pr.lx0 = a.x;
    pr.ly0 = a.y;
    pr.lx1 = b.x;
    pr.ly1 = b.y;
    const double dx = pr.lx1 - pr.lx0, dy = pr.ly1 - pr.ly0;
    const double len2 = dx * dx + dy * dy;
    if (!(len2 > 0.0)) {
        return;
    }
    pr.minX = std::max<int32_t>(box.minX, static_cast<int32_t>(std::floor(std::min(pr.lx0, pr.lx1))) - 1);
    pr.maxX = std::min<int32_t>(box.maxX, static_cast<int32_t>(std::ceil(std::max(pr.lx0, pr.lx1))) + 1);
    pr.minY = std::max<int32_t>(box.minY, static_cast<int32_t>(std::floor(std::min(pr.ly0, pr.ly1))) - 1);
    pr.maxY = std::min<int32_t>(box.maxY, static_cast<int32_t>(std::ceil(std::max(pr.ly0, pr.ly1))) + 1);
    if (pr.minX > pr.maxX || pr.minY > pr.maxY) {
        return;
    }
    // Attributes change only along the line: a plane whose gradient is the
    // line's direction over its squared length.
    auto along = [&](double va, double vb) {
        Plane p;
        p.dx = (vb - va) * dx / len2;
        p.dy = (vb - va) * dy / len2;
        p.a = va - p.dx * pr.lx0 - p.dy * pr.ly0;
        return p;
    };
    pr.perspective = a.rhw != b.rhw;
    const double qa = pr.perspective ? a.rhw : 1.0, qb = pr.perspective ? b.rhw : 1.0;
    Plane planes[kPlaneCount];
    planes[SlotZ] = along(a.z, b.z);
    planes[SlotQ] = pr.perspective ? along(a.rhw, b.rhw) : Constant(a.rhw);
    // Colours the line takes when they are one (or it is flat).
    const ScreenVertex& first = flat != nullptr ? *flat : a;
    pr.flatColor = flat != nullptr || SameColors(a, b);
    pr.flatDiffuse = PackColor(first.color);
    pr.flatSpecular = PackColor(first.spec);
    const PixelState& ps = frame.states[stateIndex];
    if (ps.shader != nullptr) {
        Plane shaded[kShaderPlaneCount];
        shaded[SlotZ] = planes[SlotZ];
        shaded[SlotQ] = planes[SlotQ];
        FinishShaded(frame, pr, *ps.shader, shaded, first, flat != nullptr, (pr.lx0 + pr.lx1) / 2.0,
                     (pr.ly0 + pr.ly1) / 2.0,
                     [&](auto attribute) { return along(attribute(a) * qa, attribute(b) * qb); });
        return;
    }
    const int last = pr.flatColor ? SlotTex + 2 * ps.stageCount : kPlaneCount;
    for (int slot = SlotTex; slot < last; ++slot) {
        if (slot >= SlotDiffuse || (slot - SlotTex) / 2 < ps.stageCount) {
            planes[slot] = along(Attribute(a, ps, slot) * qa, Attribute(b, ps, slot) * qb);
        }
    }
    pr.linearStages = LinearStages(ps, pr, planes, (pr.lx0 + pr.lx1) / 2.0, (pr.ly0 + pr.ly1) / 2.0);
    Finish(frame, pr, planes, ps.stageCount);
}

void SetupPoint(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v, const ClipBox& box)
{
    // A point covers the pixel whose centre lies in the unit square around
    // it, with the square's left and top edges inside.
    const double px = std::ceil(static_cast<double>(v.x) - 0.5);
    const double py = std::ceil(static_cast<double>(v.y) - 0.5);
    if (!(px >= box.minX && px <= box.maxX && py >= box.minY && py <= box.maxY)) {
        return;
    }
    Prim pr;
    pr.kind = KindPoint;
    pr.state = stateIndex;
    pr.minX = pr.maxX = static_cast<int32_t>(px);
    pr.minY = pr.maxY = static_cast<int32_t>(py);
    pr.flatColor = true;
    pr.flatDiffuse = PackColor(v.color);
    pr.flatSpecular = PackColor(v.spec);
    const PixelState& ps = frame.states[stateIndex];
    if (ps.shader != nullptr) {
        Plane shaded[kShaderPlaneCount];
        shaded[SlotZ] = Constant(v.z);
        shaded[SlotQ] = Constant(v.rhw);
        FinishShaded(frame, pr, *ps.shader, shaded, v, true, pr.minX, pr.minY,
                     [&](auto attribute) { return Constant(attribute(v)); });
        return;
    }
    Plane planes[kPlaneCount];
    planes[SlotZ] = Constant(v.z);
    planes[SlotQ] = Constant(v.rhw);
    for (int slot = SlotTex; slot < SlotTex + 2 * ps.stageCount; ++slot) {
        planes[slot] = Constant(Attribute(v, ps, slot));
    }
    pr.linearStages = 0;
    Finish(frame, pr, planes, ps.stageCount);
}

}  // namespace platform
