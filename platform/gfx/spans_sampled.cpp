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
// and clamp.
struct Axis {
    int64_t size = 1;
    int64_t mask = -1;   // size - 1 when wrapping a power-of-two size
    bool clamp = false;

    int64_t At(int64_t i) const
    {
        if (clamp) {
            return i < 0 ? 0 : (i >= size ? size - 1 : i);
        }
        if (mask >= 0) {
            return i & mask;
        }
        const int64_t m = i % size;
        return m < 0 ? m + size : m;
    }
};

inline Axis MakeAxis(int32_t size, uint8_t mode)
{
    Axis a;
    a.size = size;
    a.clamp = mode == AddressClamp;
    if (!a.clamp && (size & (size - 1)) == 0) {
        a.mask = size - 1;
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

// The bilinear sample of the general path for one pixel, its four channels
// in 32-bit lanes (b, g, r, a). With t = c00 (256 - fx) + c10 fx and b the
// same below, the general path takes (t (256 - fy) + b fy + 32768) >> 16;
// t and b are split into their high and low bytes so that every product
// fits the signed 16-bit multiply-adds: t (256 - fy) + b fy =
// 256 (th (256 - fy) + bh fy) + (tl (256 - fy) + bl fy).
inline __m128i Filter(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, uint32_t fx, uint32_t fy)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i up = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c00)), _mm_cvtsi32_si128(static_cast<int>(c10)));
    const __m128i down =
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c01)), _mm_cvtsi32_si128(static_cast<int>(c11)));
    const __m128i both = _mm_unpacklo_epi64(up, down);
    const __m128i wx = _mm_set1_epi32(static_cast<int>((fx << 16) | (256 - fx)));
    const __m128i wy = _mm_set1_epi32(static_cast<int>((fy << 16) | (256 - fy)));
    const __m128i top = _mm_madd_epi16(_mm_unpacklo_epi8(both, zero), wx);
    const __m128i bottom = _mm_madd_epi16(_mm_unpackhi_epi8(both, zero), wx);
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128i high = _mm_madd_epi16(
        _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bottom, 8), 16)), wy);
    const __m128i lowPart = _mm_madd_epi16(
        _mm_or_si128(_mm_and_si128(top, low), _mm_slli_epi32(_mm_and_si128(bottom, low), 16)), wy);
    return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(high, 8), lowPart), _mm_set1_epi32(32768)), 16);
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

// The general path's bilinear sample in 32-bit lanes. With skipClear, a
// sample whose four texels all have alpha 0 (its alpha is then 0 as well)
// sets *clear and is not worked out.
template <bool SkipClear>
inline __m128i Linear(const Texture& tx, int64_t s, int64_t t, bool* clear)
{
    const int64_t s2 = s - (int64_t{1} << 31);
    const int64_t t2 = t - (int64_t{1} << 31);
    const int64_t i0 = s2 >> 32, j0 = t2 >> 32;
    const int64_t xa = tx.u.At(i0), xb = tx.u.At(i0 + 1);
    const uint32_t* rowA = tx.texels + tx.v.At(j0) * tx.width;
    const uint32_t* rowB = tx.texels + tx.v.At(j0 + 1) * tx.width;
    const uint32_t c00 = rowA[xa], c10 = rowA[xb], c01 = rowB[xa], c11 = rowB[xb];
    if (SkipClear && ((c00 | c10 | c01 | c11) >> 24) == 0) {
        *clear = true;
        return _mm_setzero_si128();
    }
    *clear = false;
    return Filter(c00, c10, c01, c11, static_cast<uint32_t>(s2 >> 24) & 0xFF, static_cast<uint32_t>(t2 >> 24) & 0xFF);
}

// One stage of texture, one of three blends. Pixels are gathered four at a
// time: sampled one by one, then modulated and blended together.
template <bool Persp, bool Bilinear, int Blend>
void SpanSampled(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1)
{
    const Prim& pr = *c.prim;
    const PixelState& ps = *c.ps;
    const StageSnap& st = ps.stage[0];
    const Texture tx{st.tex.texels, st.tex.width, MakeAxis(st.tex.width, st.addressU),
                     MakeAxis(st.tex.height, st.addressV)};
    const bool depthTest = ps.zTest && c.depthRow != nullptr;
    const bool depthWrite = depthTest && ps.zWrite;
    const uint8_t zFunc = ps.zFunc;
    float* const depthRow = c.depthRow;
    uint32_t* const out = c.colorRow;
    const uint32_t factor = pr.fastColor;
    const bool modulate = factor != 0xFFFFFFFFu;
    // A tint with alpha 0 leaves every pixel transparent.
    const bool tintClear = (factor >> 24) == 0;
    const __m128i m16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(factor)), _mm_setzero_si128());

    const double fy = py;
    const Plane& zp = c.planes[SlotZ];
    const double zRow = zp.dy * fy;
    // Planes evaluate as (a + dx x) + dy y: the row's dy y is the same for
    // every pixel of the span.
    const Plane& sp = c.planes[SlotTex];
    const Plane& tp = c.planes[SlotTex + 1];
    const Plane& qp = c.planes[SlotQ];
    const double sRowTerm = sp.dy * fy, tRowTerm = tp.dy * fy, qRowTerm = qp.dy * fy;
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
        // Lanes that write colour, and the sampled colour per lane (zero,
        // fully transparent, for the others).
        int liveMask = 0;
        alignas(16) uint32_t texel[4] = {0, 0, 0, 0};
        __m128i wide[4];
        for (int i = 0; i < n; ++i) {
            const int32_t x = px + i;
            const double fx = x;
            int64_t s, t;
            if constexpr (Persp) {
                if (depthTest) {
                    const float z = static_cast<float>(zp.a + zp.dx * fx + zRow);
                    if (!DepthPasses(zFunc, z, depthRow[x])) {
                        if constexpr (Bilinear) {
                            wide[i] = _mm_setzero_si128();
                        }
                        continue;
                    }
                    if (depthWrite) {
                        depthRow[x] = z;
                    }
                }
                const double w = 1.0 / (qp.a + qp.dx * fx + qRowTerm);
                s = ToFixed((sp.a + sp.dx * fx + sRowTerm) * w);
                t = ToFixed((tp.a + tp.dx * fx + tRowTerm) * w);
            } else {
                s = static_cast<int64_t>(sAff + static_cast<uint64_t>(i) * static_cast<uint64_t>(c.ds));
                t = static_cast<int64_t>(tAff + static_cast<uint64_t>(i) * static_cast<uint64_t>(c.dt));
                if (depthTest) {
                    const float z = static_cast<float>(zp.a + zp.dx * fx + zRow);
                    if (!DepthPasses(zFunc, z, depthRow[x])) {
                        if constexpr (Bilinear) {
                            wide[i] = _mm_setzero_si128();
                        }
                        continue;
                    }
                    if (depthWrite) {
                        depthRow[x] = z;
                    }
                }
            }
            if constexpr (Blend != FastOpaque) {
                if (tintClear) {
                    if constexpr (Bilinear) {
                        wide[i] = _mm_setzero_si128();
                    }
                    continue;
                }
            }
            if constexpr (Bilinear) {
                bool clear;
                wide[i] = Linear<Blend != FastOpaque>(tx, s, t, &clear);
                if (Blend != FastOpaque && clear) {
                    continue;
                }
            } else {
                texel[i] = Point(tx, s, t);
                if (Blend != FastOpaque && (texel[i] >> 24) == 0) {
                    texel[i] = 0;
                    continue;
                }
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
            for (int i = n; i < 4; ++i) {
                wide[i] = _mm_setzero_si128();
            }
            src = _mm_packus_epi16(_mm_packs_epi32(wide[0], wide[1]), _mm_packs_epi32(wide[2], wide[3]));
        } else {
            src = _mm_load_si128(reinterpret_cast<const __m128i*>(texel));
        }
        if (modulate) {
            src = Modulate4(src, m16);
        }
        if (n == 4 && (Blend != FastOpaque || liveMask == 0xF)) {
            // Transparent lanes (all the dead ones here) blend to the
            // target's own value.
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

}  // namespace

const SpanFn kSampledSpans[kSampledSpanCount] = {
    SpanSampled<false, false, FastOpaque>, SpanSampled<false, false, FastAlpha>, SpanSampled<false, false, FastAdd>,
    SpanSampled<false, true, FastOpaque>,  SpanSampled<false, true, FastAlpha>,  SpanSampled<false, true, FastAdd>,
    SpanSampled<true, false, FastOpaque>,  SpanSampled<true, false, FastAlpha>,  SpanSampled<true, false, FastAdd>,
    SpanSampled<true, true, FastOpaque>,   SpanSampled<true, true, FastAlpha>,   SpanSampled<true, true, FastAdd>,
};

}  // namespace platform
