// The sampled spans: what games draw most after 1:1 sprites. Turned, scaled
// and filtered sprites (affine texture coordinates, point or bilinear,
// wrapped or clamped, tinted by an even vertex colour) and the textured
// triangles of 3D models (coordinates divided by rhw per pixel, depth test
// and depth write). Each pixel is worked out with the very arithmetic of the
// general path, so the bytes are the same; the gain is in doing it without
// the general path's switches, four pixels at a time where the arithmetic
// allows.
#include "platform/gfx/spans.h"

#include "platform/gfx/soft_device.h"

namespace platform {

namespace {

// Texel addressing along one axis as the general path does it, for wrap
// and clamp. Clamping and wrapping a power-of-two size are one mask and
// one clamp (for wrapping the clamp changes nothing); other wrapped sizes
// take the remainder.
struct Axis {
    int64_t size = 1;
    int64_t mask = -1;
    bool remainder = false;

    int64_t At(int64_t i) const
    {
        if (remainder) {
            const int64_t m = i % size;
            return m < 0 ? m + size : m;
        }
        i &= mask;
        i = i < 0 ? 0 : i;
        return i > size - 1 ? size - 1 : i;
    }
};

inline Axis MakeAxis(int32_t size, uint8_t mode)
{
    Axis a;
    a.size = size;
    if (mode != AddressClamp) {
        if ((size & (size - 1)) == 0) {
            a.mask = size - 1;
        } else {
            a.remainder = true;
        }
    }
    return a;
}

inline bool DepthPasses(uint8_t func, float z, float stored)
{
    switch (func) {
    case CmpNever: return false;
    case CmpLess: return z < stored;
    case CmpEqual: return z == stored;
    case CmpLessEqual: return z <= stored;
    case CmpGreater: return z > stored;
    case CmpNotEqual: return z != stored;
    case CmpGreaterEqual: return z >= stored;
    default: return true;
    }
}

struct Texture {
    const uint32_t* texels;
    int64_t width;
    Axis u, v;
};

// The texel the general path's point sampling reads.
inline uint32_t Point(const Texture& tx, int64_t s, int64_t t)
{
    return tx.texels[tx.v.At(t >> 32) * tx.width + tx.u.At(s >> 32)];
}

// Four pixels' bilinear inputs: the four texels of each and its weights,
// fx in both 16-bit halves and (256 - fy, fy) as a pair. Lanes that draw
// nothing filter to zero (a transparent sample).
struct Quad4 {
    alignas(16) uint32_t c00[4];
    alignas(16) uint32_t c10[4];
    alignas(16) uint32_t c01[4];
    alignas(16) uint32_t c11[4];
    alignas(16) uint32_t wx[4];
    alignas(16) uint32_t wy[4];

    // Zero texels with fx = fy = 0 filter to zero.
    void Clear()
    {
        const __m128i zero = _mm_setzero_si128();
        for (uint32_t* a : {c00, c10, c01, c11, wx}) {
            _mm_store_si128(reinterpret_cast<__m128i*>(a), zero);
        }
        _mm_store_si128(reinterpret_cast<__m128i*>(wy), _mm_set1_epi32(256));
    }
};

// Gathers one pixel's texels and weights as the general path finds them;
// false (lane untouched) when all four have alpha 0 and skipClear is set.
template <bool SkipClear>
inline bool Gather(const Texture& tx, int64_t s, int64_t t, Quad4& q, int lane)
{
    // Half a texel back, wrapping as the coordinates do.
    const int64_t s2 = static_cast<int64_t>(static_cast<uint64_t>(s) - (uint64_t{1} << 31));
    const int64_t t2 = static_cast<int64_t>(static_cast<uint64_t>(t) - (uint64_t{1} << 31));
    const int64_t i0 = s2 >> 32, j0 = t2 >> 32;
    const int64_t xa = tx.u.At(i0), xb = tx.u.At(i0 + 1);
    const uint32_t* rowA = tx.texels + tx.v.At(j0) * tx.width;
    const uint32_t* rowB = tx.texels + tx.v.At(j0 + 1) * tx.width;
    const uint32_t c00 = rowA[xa], c10 = rowA[xb], c01 = rowB[xa], c11 = rowB[xb];
    if (SkipClear && ((c00 | c10 | c01 | c11) >> 24) == 0) {
        return false;
    }
    const uint32_t fx = static_cast<uint32_t>(s2 >> 24) & 0xFF;
    const uint32_t fy = static_cast<uint32_t>(t2 >> 24) & 0xFF;
    q.c00[lane] = c00;
    q.c10[lane] = c10;
    q.c01[lane] = c01;
    q.c11[lane] = c11;
    q.wx[lane] = fx * 0x10001u;
    q.wy[lane] = (fy << 16) | (256 - fy);
    return true;
}

// The general path's bilinear sample for four pixels at once. Per channel
// it is (t (256 - fy) + b fy + 32768) >> 16 with t = c00 (256 - fx) + c10 fx
// and b = c01 (256 - fx) + c11 fx. Blue and red, then green and alpha, sit
// in 16-bit lanes; t and b (at most 65280) are exact there. The second step
// takes t - 32768 and b - 32768 as signed 16-bit pairs into a multiply-add,
// and puts 32768 x 256 back with the rounding term.
inline __m128i Filter4(const Quad4& q)
{
    auto load = [](const uint32_t* a) { return _mm_load_si128(reinterpret_cast<const __m128i*>(a)); };
    const __m128i c00 = load(q.c00), c10 = load(q.c10), c01 = load(q.c01), c11 = load(q.c11);
    const __m128i fx = load(q.wx);
    const __m128i fxc = _mm_sub_epi16(_mm_set1_epi16(256), fx);
    const __m128i wy = load(q.wy);
    const __m128i wyLo = _mm_unpacklo_epi32(wy, wy), wyHi = _mm_unpackhi_epi32(wy, wy);
    const __m128i even = _mm_set1_epi32(0x00FF00FF);
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i round = _mm_set1_epi32(32768 * 256 + 32768);
    auto rows = [&](__m128i a0, __m128i a1, __m128i b0, __m128i b1) {
        const __m128i top = _mm_xor_si128(_mm_add_epi16(_mm_mullo_epi16(a0, fxc), _mm_mullo_epi16(a1, fx)), flip);
        const __m128i bottom = _mm_xor_si128(_mm_add_epi16(_mm_mullo_epi16(b0, fxc), _mm_mullo_epi16(b1, fx)), flip);
        const __m128i lo = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(top, bottom), wyLo), round), 16);
        const __m128i hi = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(top, bottom), wyHi), round), 16);
        return _mm_packs_epi32(lo, hi);
    };
    const __m128i br = rows(_mm_and_si128(c00, even), _mm_and_si128(c10, even), _mm_and_si128(c01, even),
                            _mm_and_si128(c11, even));
    const __m128i ga = rows(_mm_srli_epi16(c00, 8), _mm_srli_epi16(c10, 8), _mm_srli_epi16(c01, 8),
                            _mm_srli_epi16(c11, 8));
    return _mm_or_si128(br, _mm_slli_epi16(ga, 8));
}

// One stage of texture, one of three blends. Pixels go four at a time:
// coordinates and depth one by one, then sampling, modulation and blending
// together.
template <bool Persp, bool Bilinear, int Blend, bool Depth>
void SpanSampledOf(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1)
{
    const Prim& pr = *c.prim;
    const PixelState& ps = *c.ps;
    const StageSnap& st = ps.stage[0];
    const Texture tx{st.tex.texels, st.tex.width, MakeAxis(st.tex.width, st.addressU),
                     MakeAxis(st.tex.height, st.addressV)};
    const bool depthWrite = Depth && ps.zWrite;
    const uint8_t zFunc = ps.zFunc;
    float* const depthRow = c.depthRow;
    uint32_t* const out = c.colorRow;
    const uint32_t factor = pr.fastColor;
    const bool modulate = factor != 0xFFFFFFFFu;
    // Under the alpha and additive blends a transparent source leaves the
    // target as it is: a tint with alpha 0 draws nothing at all.
    constexpr bool kSkipClear = Blend != FastOpaque;
    if (kSkipClear && (factor >> 24) == 0 && !depthWrite) {
        return;
    }
    const bool tintClear = (factor >> 24) == 0;
    const __m128i m16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(factor)), _mm_setzero_si128());

    const double fy = py;
    // Planes evaluate as (a + dx x) + dy y: the row's dy y is the same for
    // every pixel of the span.
    const Plane& zp = c.planes[SlotZ];
    const Plane& sp = c.planes[SlotTex];
    const Plane& tp = c.planes[SlotTex + 1];
    const Plane& qp = c.planes[SlotQ];
    const double zRow = zp.dy * fy, sRowTerm = sp.dy * fy, tRowTerm = tp.dy * fy, qRowTerm = qp.dy * fy;
    // Affine coordinates step by a whole fixed-point amount per pixel
    // (modulo 2^64, as the general path's products wrap).
    uint64_t sAff = 0, tAff = 0;
    if constexpr (!Persp) {
        const int64_t sRow = c.sRowFixed ? c.sRow : ToFixed(sp.a + sp.dy * py);
        const int64_t tRow = c.tRowFixed ? c.tRow : ToFixed(tp.a + tp.dy * py);
        sAff = static_cast<uint64_t>(sRow) + static_cast<uint64_t>(static_cast<int64_t>(x0)) * static_cast<uint64_t>(c.ds);
        tAff = static_cast<uint64_t>(tRow) + static_cast<uint64_t>(static_cast<int64_t>(x0)) * static_cast<uint64_t>(c.dt);
    }

    for (int32_t px = x0; px <= x1; px += 4) {
        const int n = x1 - px + 1 < 4 ? x1 - px + 1 : 4;
        // Lanes that write colour; the others sample zero, transparent.
        int liveMask = 0;
        Quad4 quad;
        alignas(16) uint32_t texel[4] = {0, 0, 0, 0};
        if constexpr (Bilinear) {
            quad.Clear();
        }
        for (int i = 0; i < n; ++i) {
            const int32_t x = px + i;
            const double fx = x;
            if constexpr (Depth) {
                const float z = static_cast<float>(zp.a + zp.dx * fx + zRow);
                if (!DepthPasses(zFunc, z, depthRow[x])) {
                    continue;
                }
                if (depthWrite) {
                    depthRow[x] = z;
                }
            }
            if (kSkipClear && tintClear) {
                continue;
            }
            int64_t s, t;
            if constexpr (Persp) {
                const double w = 1.0 / (qp.a + qp.dx * fx + qRowTerm);
                s = ToFixed((sp.a + sp.dx * fx + sRowTerm) * w);
                t = ToFixed((tp.a + tp.dx * fx + tRowTerm) * w);
            } else {
                s = static_cast<int64_t>(sAff + static_cast<uint64_t>(i) * static_cast<uint64_t>(c.ds));
                t = static_cast<int64_t>(tAff + static_cast<uint64_t>(i) * static_cast<uint64_t>(c.dt));
            }
            if constexpr (Bilinear) {
                // Four texels of alpha 0 filter to alpha 0.
                if (!Gather<kSkipClear>(tx, s, t, quad, i)) {
                    continue;
                }
            } else {
                const uint32_t v = Point(tx, s, t);
                if (kSkipClear && (v >> 24) == 0) {
                    continue;
                }
                texel[i] = v;
            }
            liveMask |= 1 << i;
        }
        if constexpr (!Persp) {
            sAff += 4 * static_cast<uint64_t>(c.ds);
            tAff += 4 * static_cast<uint64_t>(c.dt);
        }
        if (liveMask == 0) {
            continue;
        }
        __m128i src;
        if constexpr (Bilinear) {
            src = Filter4(quad);
        } else {
            src = _mm_load_si128(reinterpret_cast<const __m128i*>(texel));
        }
        if (modulate) {
            src = Modulate4(src, m16);
        }
        if (n == 4 && (Blend != FastOpaque || liveMask == 0xF)) {
            // Dead lanes hold zero, which blends to the target's own value.
            __m128i* dst = reinterpret_cast<__m128i*>(out + px);
            _mm_storeu_si128(dst, Blend4<Blend>(src, _mm_loadu_si128(dst)));
            continue;
        }
        alignas(16) uint32_t result[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(result), src);
        for (int i = 0; i < n; ++i) {
            if ((liveMask >> i) & 1) {
                out[px + i] = Blend1<Blend>(result[i], out[px + i]);
            }
        }
    }
}

// The depth test, when on, is the same for the whole primitive.
template <bool Persp, bool Bilinear, int Blend>
void SpanSampled(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1)
{
    if (c.ps->zTest && c.depthRow != nullptr) {
        SpanSampledOf<Persp, Bilinear, Blend, true>(c, py, x0, x1);
    } else {
        SpanSampledOf<Persp, Bilinear, Blend, false>(c, py, x0, x1);
    }
}

}  // namespace

const SpanFn kSampledSpans[kSampledSpanCount] = {
    SpanSampled<false, false, FastOpaque>, SpanSampled<false, false, FastAlpha>, SpanSampled<false, false, FastAdd>,
    SpanSampled<false, true, FastOpaque>,  SpanSampled<false, true, FastAlpha>,  SpanSampled<false, true, FastAdd>,
    SpanSampled<true, false, FastOpaque>,  SpanSampled<true, false, FastAlpha>,  SpanSampled<true, false, FastAdd>,
    SpanSampled<true, true, FastOpaque>,   SpanSampled<true, true, FastAlpha>,   SpanSampled<true, true, FastAdd>,
};

}  // namespace platform
