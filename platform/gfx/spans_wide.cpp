// The sampled spans again, eight pixels at a time with AVX2, for processors
// that have it. Texel addresses, filter weights and depth are worked out in
// vector lanes, then the texels read, with the very arithmetic of the
// general path: affine coordinates step in 64-bit lanes as its products do,
// and foreshortened ones are divided four doubles at a time in its order of
// operations, so every byte and every depth value is the same.
#include "platform/gfx/spans.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <immintrin.h>
#include <new>

#include "platform/gfx/soft_device.h"

#define ORVA_WIDE __attribute__((target("avx2")))

namespace platform {

namespace {

// Texel addressing of one axis in 32-bit lanes, for clamping and for
// wrapping a power-of-two size. The texel is clamp(i & mask) and its
// neighbour clamp((min(i, lim) + 1) & mask): for clamping (mask all ones,
// lim = size - 2) the min keeps i + 1 from overflowing where the general
// path's 64-bit sum does not, and gives size - 1 as the clamp would; for
// wrapping (lim the largest int) the sum may wrap, which the mask makes
// what the 64-bit sum gives.
// The largest texture side, clamped or wrapped, the foreshortened bilinear
// spans take (see FixedBilinear).
constexpr int32_t kFixedReach = 1 << 22;

struct WideAxis {
    __m256i mask, lim, top;
};

ORVA_WIDE inline WideAxis MakeWideAxis(int32_t size, uint8_t mode)
{
    const bool wrap = mode != AddressClamp;
    return {_mm256_set1_epi32(wrap ? size - 1 : -1), _mm256_set1_epi32(wrap ? 0x7FFFFFFF : size - 2),
            _mm256_set1_epi32(size - 1)};
}

ORVA_WIDE inline __m256i Clamp(__m256i i, const WideAxis& a)
{
    return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), a.top);
}

ORVA_WIDE inline __m256i Near(__m256i i, const WideAxis& a)
{
    return Clamp(_mm256_and_si256(i, a.mask), a);
}

ORVA_WIDE inline __m256i Next(__m256i i, const WideAxis& a)
{
    return Clamp(_mm256_and_si256(_mm256_add_epi32(_mm256_min_epi32(i, a.lim), _mm256_set1_epi32(1)), a.mask), a);
}

// Eight texels by their indices. Loads one by one outrun the gather
// instruction on the processors at hand (several times over on some).
ORVA_WIDE inline __attribute__((always_inline)) __m256i Load8In(const uint32_t* texels, __m256i index)
{
    // Indices are never negative: unsigned, they need no widening.
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    auto texel = [&](int k) { return static_cast<int>(texels[at[k]]); };
    return _mm256_setr_epi32(texel(0), texel(1), texel(2), texel(3), texel(4), texel(5), texel(6), texel(7));
}

// Eight pairs of neighbouring texels, the first of each at its index: the
// left texels in *left, the right ones in *right, in pixel order.
ORVA_WIDE inline __attribute__((always_inline)) void LoadPairs8In(const uint32_t* texels, __m256i index, __m256i* left,
                                                                  __m256i* right)
{
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    auto pair = [&](int k) {
        long long v;
        std::memcpy(&v, texels + at[k], 8);
        return v;
    };
    // Pixels 0, 1, 4, 5 and 2, 3, 6, 7: one shuffle each then gives pixel order.
    const __m256i a = _mm256_setr_epi64x(pair(0), pair(1), pair(4), pair(5));
    const __m256i b = _mm256_setr_epi64x(pair(2), pair(3), pair(6), pair(7));
    *left = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
    *right = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

// The same where the compiler may keep them out of line.
ORVA_WIDE inline __m256i Load8(const uint32_t* texels, __m256i index)
{
    return Load8In(texels, index);
}

ORVA_WIDE inline void LoadPairs8(const uint32_t* texels, __m256i index, __m256i* left, __m256i* right)
{
    LoadPairs8In(texels, index, left, right);
}

// Eight pixels' texel positions: the whole texel (i) and the eighth of the
// 32.32 fixed-point fraction the filter weights take (f), in 32-bit lanes.
struct Coords {
    __m256i i, f, j, g;
};

// Affine coordinates in 64-bit lanes, pixels 0, 1, 4, 5 in the first
// vector and 2, 3, 6, 7 in the second: the high halves then shuffle into
// pixel order with one instruction.
ORVA_WIDE inline __m256i High32(__m256i a, __m256i b)
{
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
}

ORVA_WIDE inline __m256i Low32(__m256i a, __m256i b)
{
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// Eight foreshortened coordinates as the general path turns them into
// 32.32 fixed point (ToFixed) and then into a texel and weight. ToFixed
// clamps to +-2^30 texels (not-a-number to the bottom) and floors x 2^32,
// which is exact; the bilinear texel is then floor(x - 1/2) and the weight
// the eight bits below it. With k = floor(256 x) - 128, an exact integer,
// the texel is floor(k / 256) and the weight k mod 256. Adding 1.5 x 2^52
// puts k + 2^51 in the low bits of the double's fraction, exactly: the
// texel and weight are then bits 8 to 39 and 0 to 7 there, so the result is
// the general path's to the bit. Point sampling takes floor(x) instead.
// The pixels are 0, 1, 4, 5 in a and 2, 3, 6, 7 in b (see Low32).
ORVA_WIDE inline __m256i FixedBits(__m256d x, bool bilinear)
{
    const double magic = 6755399441055744.0;   // 1.5 x 2^52
    // max returns its second operand when the first is not a number.
    x = _mm256_min_pd(_mm256_max_pd(x, _mm256_set1_pd(-1073741824.0)), _mm256_set1_pd(1073741824.0));
    if (bilinear) {
        x = _mm256_add_pd(_mm256_floor_pd(_mm256_mul_pd(x, _mm256_set1_pd(256.0))), _mm256_set1_pd(magic - 128.0));
    } else {
        x = _mm256_add_pd(_mm256_floor_pd(x), _mm256_set1_pd(magic));
    }
    return _mm256_castpd_si256(x);
}

ORVA_WIDE inline void FixedParts(__m256d a, __m256d b, bool bilinear, __m256i* whole, __m256i* eighth)
{
    const __m256i ka = FixedBits(a, bilinear), kb = FixedBits(b, bilinear);
    if (!bilinear) {
        *whole = Low32(ka, kb);
        return;
    }
    *whole = Low32(_mm256_srli_epi64(ka, 8), _mm256_srli_epi64(kb, 8));
    *eighth = _mm256_and_si256(Low32(ka, kb), _mm256_set1_epi32(255));
}

// Constants of the filter, read from the span's prepared values in memory
// rather than built in registers on every group.
struct FilterConsts {
    __m256i w256x16, w256x32;   // 256 in 16-bit and in 32-bit lanes
    __m256i flip, round, even;
};

// One pair of channels of the filter: the two rows across, then down.
// t - 32768 and b - 32768 go as signed 16-bit pairs into a multiply-add,
// and 32768 x 256 comes back with the rounding term.
ORVA_WIDE inline __m256i FilterRows(__m256i a0, __m256i a1, __m256i b0, __m256i b1, __m256i wx, __m256i wxc,
                                    __m256i wyLo, __m256i wyHi, const FilterConsts& k)
{
    const __m256i top = _mm256_xor_si256(_mm256_add_epi16(_mm256_mullo_epi16(a0, wxc), _mm256_mullo_epi16(a1, wx)), k.flip);
    const __m256i bottom =
        _mm256_xor_si256(_mm256_add_epi16(_mm256_mullo_epi16(b0, wxc), _mm256_mullo_epi16(b1, wx)), k.flip);
    const __m256i lo =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(top, bottom), wyLo), k.round), 16);
    const __m256i hi =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(top, bottom), wyHi), k.round), 16);
    return _mm256_packs_epi32(lo, hi);
}

// v + n d for four pixels n, modulo 2^64.
ORVA_WIDE inline __m256i Lanes64(uint64_t v, uint64_t d, uint64_t a, uint64_t b, uint64_t e, uint64_t f)
{
    return _mm256_setr_epi64x(static_cast<long long>(v + a * d), static_cast<long long>(v + b * d),
                              static_cast<long long>(v + e * d), static_cast<long long>(v + f * d));
}

// The general path's bilinear sample of eight pixels, as Filter4 does it
// for four (spans_sampled.cpp): blue and red (*br), then green and alpha
// (*ga), in 16-bit lanes; every step stays within a 128-bit half, where the
// pairing of weights and channels is the same as there. The colour stays in
// those halves through modulation and blending, and is joined at the end.
ORVA_WIDE inline void Filter8(__m256i c00, __m256i c10, __m256i c01, __m256i c11, __m256i fx, __m256i fy, __m256i* br,
                              __m256i* ga, const FilterConsts& k)
{
    const __m256i wx = _mm256_or_si256(fx, _mm256_slli_epi32(fx, 16));
    const __m256i wxc = _mm256_sub_epi16(k.w256x16, wx);
    const __m256i wy = _mm256_or_si256(_mm256_slli_epi32(fy, 16), _mm256_sub_epi32(k.w256x32, fy));
    const __m256i wyLo = _mm256_unpacklo_epi32(wy, wy), wyHi = _mm256_unpackhi_epi32(wy, wy);
    *br = FilterRows(_mm256_and_si256(c00, k.even), _mm256_and_si256(c10, k.even), _mm256_and_si256(c01, k.even),
                     _mm256_and_si256(c11, k.even), wx, wxc, wyLo, wyHi, k);
    *ga = FilterRows(_mm256_srli_epi16(c00, 8), _mm256_srli_epi16(c10, 8), _mm256_srli_epi16(c01, 8),
                     _mm256_srli_epi16(c11, 8), wx, wxc, wyLo, wyHi, k);
}

ORVA_WIDE inline __m256i Div255x16(__m256i v)   // v holds x + 127 for x <= 65025
{
    return _mm256_srli_epi16(_mm256_mulhi_epu16(v, _mm256_set1_epi16(static_cast<short>(0x8081))), 7);
}

// round(a b / 255) per 16-bit lane, as Modulate4 and Blend4 work it out.
ORVA_WIDE inline __m256i MulDiv255(__m256i a, __m256i b)
{
    return Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(a, b), _mm256_set1_epi16(127)));
}

// The source's alpha in both 16-bit halves of each pixel's lane.
ORVA_WIDE inline __m256i AlphaPair(__m256i ga)
{
    const __m256i pick = _mm256_setr_epi8(2, -128, 2, -128, 6, -128, 6, -128, 10, -128, 10, -128, 14, -128, 14, -128,
                                          2, -128, 2, -128, 6, -128, 6, -128, 10, -128, 10, -128, 14, -128, 14, -128);
    return _mm256_shuffle_epi8(ga, pick);
}

// Blend4's three blends on the colour in halves; the target whole.
template <int Blend>
ORVA_WIDE inline __m256i Blend8(__m256i br, __m256i ga, __m256i dst)
{
    if constexpr (Blend == FastOpaque) {
        (void)dst;
        return _mm256_or_si256(br, _mm256_slli_epi32(ga, 8));
    } else {
        const __m256i a = AlphaPair(ga);
        if constexpr (Blend == FastAlpha) {
            const __m256i even = _mm256_set1_epi32(0x00FF00FF);
            const __m256i inverse = _mm256_sub_epi16(even, a);
            const __m256i bias = _mm256_set1_epi16(127);
            const __m256i dbr = _mm256_and_si256(dst, even);
            const __m256i dga = _mm256_and_si256(_mm256_srli_epi32(dst, 8), even);
            const __m256i vbr = Div255x16(_mm256_add_epi16(
                _mm256_add_epi16(_mm256_mullo_epi16(br, a), _mm256_mullo_epi16(dbr, inverse)), bias));
            const __m256i vga = Div255x16(_mm256_add_epi16(
                _mm256_add_epi16(_mm256_mullo_epi16(ga, a), _mm256_mullo_epi16(dga, inverse)), bias));
            return _mm256_or_si256(vbr, _mm256_slli_epi32(vga, 8));
        } else {
            return _mm256_adds_epu8(dst, _mm256_or_si256(MulDiv255(br, a), _mm256_slli_epi32(MulDiv255(ga, a), 8)));
        }
    }
}

// The depth comparison of the general path for eight pixels; a depth that
// is not a number passes only "not equal", as there.
ORVA_WIDE inline __m256i DepthPass(uint8_t func, __m256 z, __m256 stored)
{
    __m256 pass;
    switch (func) {
    case CmpNever: pass = _mm256_setzero_ps(); break;
    case CmpLess: pass = _mm256_cmp_ps(z, stored, _CMP_LT_OQ); break;
    case CmpEqual: pass = _mm256_cmp_ps(z, stored, _CMP_EQ_OQ); break;
    case CmpLessEqual: pass = _mm256_cmp_ps(z, stored, _CMP_LE_OQ); break;
    case CmpGreater: pass = _mm256_cmp_ps(z, stored, _CMP_GT_OQ); break;
    case CmpNotEqual: pass = _mm256_cmp_ps(z, stored, _CMP_NEQ_UQ); break;
    case CmpGreaterEqual: pass = _mm256_cmp_ps(z, stored, _CMP_GE_OQ); break;
    default: return _mm256_set1_epi32(-1);
    }
    return _mm256_castps_si256(pass);
}

// A plane's value at four pixels, (a + dx x) + row as the general path adds.
ORVA_WIDE inline __m256d PlaneAt(__m256d a, __m256d dx, __m256d row, __m256d x)
{
    return _mm256_add_pd(_mm256_add_pd(a, _mm256_mul_pd(dx, x)), row);
}

// What every row of a primitive in a tile shares, worked out on its first
// band and kept in the tile's scratch: the planes for each primitive, the
// rest for the first of those that share a state and colour.
struct WidePrep {
    __m256d zA, zDx, sA, sDx, tA, tDx, qA, qDx;
    __m256d dy;   // the depth, s, t and q planes' steps down a row
    __m256i width;
    WideAxis u, v;
    __m256i lastU, lastPairU;   // width - 1, width - 2
    // (height - 1) with the sign bit flipped: a texel row below it, as an
    // unsigned number, has the next row of texels after it in memory.
    __m256i pairRowLimit;
    // Both axes wrapped (see ColorGroup): height - 1, height - 2, and the
    // shift that multiplies by the width.
    __m256i lastV, lastPairV;
    __m128i widthShift;
    __m256i mBr, mGa;           // the modulation factors in halves
    FilterConsts filter;
    // Foreshortened bilinear coordinates (see FixedBilinear): 1, 256, the
    // rounding magic, and the bounds each axis clamps its texel
    // coordinate to, and the weight's mask.
    __m256d one, w256, magic, sLo, sHi, tLo, tHi;
    __m256i low8;
    // A group's step in x, in doubles and in 32-bit lanes, and Div255x16's
    // bias and factor.
    __m256d eight;
    __m256i eightLanes, bias127, div255;
    // Affine coordinates: the steps to the pixels of a group (in the lanes
    // of sA01 and sA23 below) and to the next group.
    __m256i sOff01, sOff23, tOff01, tOff23, sStep, tStep;
    const uint32_t* texels;
    const uint32_t* texelsBelow;   // the second row of texels (texels + width)
    bool narrow;      // the four-pixel spans take this texture
    bool clampU;
    bool wrapBoth;    // both axes wrap, and there are two rows or more
    bool modulate;
    bool drawColor;   // false: a tint of alpha 0 under a blend, depth only
    bool depthWrite;
    uint8_t zFunc;
};
static_assert(sizeof(WidePrep) <= sizeof(SpanScratch::bytes) && alignof(WidePrep) <= 32);

// Foreshortened bilinear coordinates of eight pixels as FixedParts gives
// them, from the low 32 bits of k alone: floor(k / 256) is then the texel
// modulo 2^24, all that a wrapped size up to kFixedReach needs, and the
// texel itself while |k| < 2^31. So a clamped axis (its size up to
// kFixedReach too) clamps its coordinate to +-kFixedReach texels rather
// than +-2^30: a texel beyond either is past the edge either way, and its
// weight then counts for nothing (both texels of its pair, or both rows,
// are the edge's).
ORVA_WIDE inline __m256i FixedBilinearBits(__m256d x, const __m256d& lo, const __m256d& hi, const WidePrep& w)
{
    // max returns its second operand when the first is not a number.
    x = _mm256_min_pd(_mm256_max_pd(x, lo), hi);
    return _mm256_castpd_si256(_mm256_add_pd(_mm256_floor_pd(_mm256_mul_pd(x, w.w256)), w.magic));
}

ORVA_WIDE inline void FixedBilinear(__m256d a, __m256d b, const __m256d& lo, const __m256d& hi, const WidePrep& w,
                                    __m256i* whole, __m256i* eighth)
{
    const __m256i k = Low32(FixedBilinearBits(a, lo, hi, w), FixedBilinearBits(b, lo, hi, w));
    *whole = _mm256_srai_epi32(k, 8);
    *eighth = _mm256_and_si256(k, w.low8);
}

}  // namespace

bool SampledNarrow(const StageSnap& st, bool bilinear, bool perspective)
{
    // Textures these lanes cannot address (a wrapped size that is not a
    // power of two, more texels than 32-bit indices reach, or a filtered
    // texture one texel wide, which has no pairs) take the four-pixel spans.
    auto addressable = [](int32_t size, uint8_t mode) { return mode == AddressClamp || (size & (size - 1)) == 0; };
    return !addressable(st.tex.width, st.addressU) || !addressable(st.tex.height, st.addressV) ||
           static_cast<int64_t>(st.tex.width) * st.tex.height > 0x7FFFFFFF || (bilinear && st.tex.width < 2) ||
           (perspective && bilinear && std::max(st.tex.width, st.tex.height) > kFixedReach);
}

namespace {

// The part of WidePrep that depends on the state and the even colour.
template <bool Persp, bool Bilinear, int Blend>
ORVA_WIDE void PrepareShared(const SpanCtx& c, WidePrep& w)
{
    const PixelState& ps = *c.ps;
    const StageSnap& st = ps.stage[0];
    w.narrow = SampledNarrow(st, Bilinear, Persp);
    w.width = _mm256_set1_epi32(st.tex.width);
    w.u = MakeWideAxis(st.tex.width, st.addressU);
    w.v = MakeWideAxis(st.tex.height, st.addressV);
    w.lastU = _mm256_set1_epi32(st.tex.width - 1);
    w.lastPairU = _mm256_set1_epi32(st.tex.width - 2);
    w.pairRowLimit = _mm256_set1_epi32(static_cast<int>(static_cast<uint32_t>(st.tex.height - 1) ^ 0x80000000u));
    w.lastV = _mm256_set1_epi32(st.tex.height - 1);
    w.lastPairV = _mm256_set1_epi32(st.tex.height - 2);
    w.widthShift = _mm_cvtsi32_si128(std::countr_zero(static_cast<uint32_t>(st.tex.width)));
    const uint32_t factor = c.prim->fastColor;
    const __m256i f = _mm256_set1_epi32(static_cast<int>(factor));
    const __m256i even = _mm256_set1_epi32(0x00FF00FF);
    w.mBr = _mm256_and_si256(f, even);
    w.mGa = _mm256_and_si256(_mm256_srli_epi32(f, 8), even);
    if constexpr (Bilinear) {
        w.filter = {_mm256_set1_epi16(256), _mm256_set1_epi32(256), _mm256_set1_epi16(static_cast<short>(0x8000)),
                    _mm256_set1_epi32(32768 * 256 + 32768), even};
    }
    if constexpr (Persp && Bilinear) {
        w.one = _mm256_set1_pd(1.0);
        w.w256 = _mm256_set1_pd(256.0);
        w.magic = _mm256_set1_pd(6755399441055744.0 - 128.0);   // 1.5 x 2^52, less half a texel
        const double sBound = st.addressU == AddressClamp ? kFixedReach : 1073741824.0;
        const double tBound = st.addressV == AddressClamp ? kFixedReach : 1073741824.0;
        w.sLo = _mm256_set1_pd(-sBound);
        w.sHi = _mm256_set1_pd(sBound);
        w.tLo = _mm256_set1_pd(-tBound);
        w.tHi = _mm256_set1_pd(tBound);
        w.low8 = _mm256_set1_epi32(255);
    } else if constexpr (Persp) {
        w.one = _mm256_set1_pd(1.0);
    }
    w.eight = _mm256_set1_pd(8.0);
    w.eightLanes = _mm256_set1_epi32(8);
    if (factor != 0xFFFFFFFFu) {
        w.bias127 = _mm256_set1_epi16(127);
        w.div255 = _mm256_set1_epi16(static_cast<short>(0x8081));
    }
    w.texels = st.tex.texels;
    // Read only where there are two rows or more (see ColorGroup).
    w.texelsBelow = st.tex.texels != nullptr ? st.tex.texels + st.tex.width : nullptr;
    w.clampU = st.addressU == AddressClamp;
    w.wrapBoth = st.addressU != AddressClamp && st.addressV != AddressClamp && st.tex.height >= 2;
    w.modulate = factor != 0xFFFFFFFFu;
    // Under the alpha and additive blends a transparent source leaves the
    // target as it is: a tint with alpha 0 draws nothing at all.
    w.drawColor = Blend == FastOpaque || (factor >> 24) != 0;
    w.depthWrite = ps.zTest && ps.zWrite;
    w.zFunc = ps.zFunc;
}

// The part of WidePrep that is the primitive's own: its planes and steps.
template <bool Persp>
ORVA_WIDE void PreparePrim(const SpanCtx& c, WidePrep& w)
{
    const Plane* planes = c.planes;
    w.zA = _mm256_set1_pd(planes[SlotZ].a);
    w.zDx = _mm256_set1_pd(planes[SlotZ].dx);
    w.dy = _mm256_setr_pd(planes[SlotZ].dy, planes[SlotTex].dy, planes[SlotTex + 1].dy,
                          Persp ? planes[SlotQ].dy : 0.0);
    if constexpr (Persp) {
        w.sA = _mm256_set1_pd(planes[SlotTex].a);
        w.sDx = _mm256_set1_pd(planes[SlotTex].dx);
        w.tA = _mm256_set1_pd(planes[SlotTex + 1].a);
        w.tDx = _mm256_set1_pd(planes[SlotTex + 1].dx);
        w.qA = _mm256_set1_pd(planes[SlotQ].a);
        w.qDx = _mm256_set1_pd(planes[SlotQ].dx);
    } else {
        const uint64_t ds = static_cast<uint64_t>(c.ds), dt = static_cast<uint64_t>(c.dt);
        w.sOff01 = Lanes64(0, ds, 0, 1, 4, 5);
        w.sOff23 = Lanes64(0, ds, 2, 3, 6, 7);
        w.tOff01 = Lanes64(0, dt, 0, 1, 4, 5);
        w.tOff23 = Lanes64(0, dt, 2, 3, 6, 7);
        w.sStep = _mm256_set1_epi64x(static_cast<long long>(8 * ds));
        w.tStep = _mm256_set1_epi64x(static_cast<long long>(8 * dt));
    }
}

// How a band's rows test depth: not at all, by the state's function, or by
// one compiled in (the common ones, without the choice on every group).
constexpr int kNoDepth = -1;
constexpr int kAnyDepth = 0;

template <int ZTest>
ORVA_WIDE inline __m256i DepthPassOf(uint8_t func, __m256 z, __m256 stored)
{
    if constexpr (ZTest == CmpLessEqual) {
        return _mm256_castps_si256(_mm256_cmp_ps(z, stored, _CMP_LE_OQ));
    } else if constexpr (ZTest == CmpLess) {
        return _mm256_castps_si256(_mm256_cmp_ps(z, stored, _CMP_LT_OQ));
    } else {
        return DepthPass(func, z, stored);
    }
}

// Eight pixels' four texels, where the texel row below is the next one in
// memory: each pair read at its index from the row above and the row below.
ORVA_WIDE inline void LoadQuads8(const uint32_t* above, const uint32_t* below, __m256i index, __m256i* c00,
                                 __m256i* c10, __m256i* c01, __m256i* c11)
{
    alignas(32) uint32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    auto pair = [&](const uint32_t* row, int k) {
        long long v;
        std::memcpy(&v, row + at[k], 8);
        return v;
    };
    const __m256i a = _mm256_setr_epi64x(pair(above, 0), pair(above, 1), pair(above, 4), pair(above, 5));
    const __m256i b = _mm256_setr_epi64x(pair(above, 2), pair(above, 3), pair(above, 6), pair(above, 7));
    const __m256i d = _mm256_setr_epi64x(pair(below, 0), pair(below, 1), pair(below, 4), pair(below, 5));
    const __m256i e = _mm256_setr_epi64x(pair(below, 2), pair(below, 3), pair(below, 6), pair(below, 7));
    *c00 = Low32(a, b);
    *c10 = High32(a, b);
    *c01 = Low32(d, e);
    *c11 = High32(d, e);
}

// Eight pixels' foreshortened coordinates, pixels 0, 1, 4, 5 at xLo and
// 2, 3, 6, 7 at xHi.
template <bool Bilinear>
ORVA_WIDE inline Coords PerspCoords(const WidePrep& w, __m256d sRow, __m256d tRow, __m256d qRow, __m256d xLo,
                                    __m256d xHi)
{
    const __m256d wLo = _mm256_div_pd(w.one, PlaneAt(w.qA, w.qDx, qRow, xLo));
    const __m256d wHi = _mm256_div_pd(w.one, PlaneAt(w.qA, w.qDx, qRow, xHi));
    const __m256d s0 = _mm256_mul_pd(PlaneAt(w.sA, w.sDx, sRow, xLo), wLo);
    const __m256d s1 = _mm256_mul_pd(PlaneAt(w.sA, w.sDx, sRow, xHi), wHi);
    const __m256d t0 = _mm256_mul_pd(PlaneAt(w.tA, w.tDx, tRow, xLo), wLo);
    const __m256d t1 = _mm256_mul_pd(PlaneAt(w.tA, w.tDx, tRow, xHi), wHi);
    Coords k;
    k.f = k.g = _mm256_setzero_si256();
    if constexpr (Bilinear) {
        FixedBilinear(s0, s1, w.sLo, w.sHi, w, &k.i, &k.f);
        FixedBilinear(t0, t1, w.tLo, w.tHi, w, &k.j, &k.g);
    } else {
        FixedParts(s0, s1, false, &k.i, &k.f);
        FixedParts(t0, t1, false, &k.j, &k.g);
    }
    return k;
}

// Eight pixels' colour from their texel positions: the texels read,
// filtered, modulated and blended into the target at out where live is
// set. whole: the eight pixels at out are this thread's to read and write
// back as they were, so plain loads and stores serve.
// Wrap: both axes wrap (w.wrapBoth), and a group that reads neither the
// last column nor the last row takes its four texels as pairs from a row
// and the next, with the least arithmetic.
// Modulate: 1 or 0 when it is known whether the texels are modulated (see
// w.modulate), -1 when the group asks.
template <bool Bilinear, int Blend, bool Wrap = false, int Modulate = -1>
ORVA_WIDE inline __attribute__((always_inline)) void ColorGroup(const WidePrep& w, const Coords& k, __m256i live,
                                                                uint32_t* out, bool whole)
{
    constexpr bool kSkipClear = Blend != FastOpaque;
    const __m256i alphaMask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i even = _mm256_set1_epi32(0x00FF00FF);
    __m256i br, ga;
    // Wrapped, a texel row and column are the coordinates masked. Live
    // lanes in neither the last row nor the last column read the pairs
    // there and in the next row; the others (whose texels count for
    // nothing) read pairs from the rows and columns before, which are in
    // the texture too.
    __m256i jmWrap, xaWrap;
    bool wrapFast = false;
    if constexpr (Bilinear && Wrap) {
        jmWrap = _mm256_and_si256(k.j, w.v.mask);
        xaWrap = _mm256_and_si256(k.i, w.u.mask);
        const __m256i edge = _mm256_or_si256(_mm256_cmpeq_epi32(xaWrap, w.lastU), _mm256_cmpeq_epi32(jmWrap, w.lastV));
        wrapFast = _mm256_testz_si256(edge, live);
    }
    if constexpr (Bilinear && Wrap) {
        __m256i c00, c10, c01, c11;
        const __m256i p = _mm256_min_epi32(xaWrap, w.lastPairU);
        if (__builtin_expect(wrapFast, 1)) {
            const __m256i index = _mm256_add_epi32(_mm256_sll_epi32(_mm256_min_epi32(jmWrap, w.lastPairV), w.widthShift), p);
            LoadQuads8(w.texels, w.texelsBelow, index, &c00, &c10, &c01, &c11);
        } else {
            // Pairs from the row and the one below it, which is the first
            // after the last; the last column's right texel is the first
            // column's, read on its own.
            const __m256i rowT = _mm256_sll_epi32(jmWrap, w.widthShift);
            const __m256i rowB =
                _mm256_sll_epi32(_mm256_and_si256(_mm256_sub_epi32(jmWrap, _mm256_set1_epi32(-1)), w.v.mask), w.widthShift);
            LoadPairs8In(w.texels, _mm256_add_epi32(rowT, p), &c00, &c10);
            LoadPairs8In(w.texels, _mm256_add_epi32(rowB, p), &c01, &c11);
            const __m256i seamLanes = _mm256_cmpeq_epi32(xaWrap, w.lastU);
            if (!_mm256_testz_si256(seamLanes, live)) {
                c00 = _mm256_blendv_epi8(c00, c10, seamLanes);
                c01 = _mm256_blendv_epi8(c01, c11, seamLanes);
                c10 = _mm256_blendv_epi8(c10, Load8In(w.texels, rowT), seamLanes);
                c11 = _mm256_blendv_epi8(c11, Load8In(w.texels, rowB), seamLanes);
            }
        }
        if (kSkipClear && _mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(c00, c10), _mm256_or_si256(c01, c11)),
                                             _mm256_and_si256(live, alphaMask))) {
            return;
        }
        Filter8(c00, c10, c01, c11, k.f, k.g, &br, &ga, w.filter);
    } else if constexpr (Bilinear) {
        const __m256i zero = _mm256_setzero_si256();
        // The texel row, masked as Near does; the row below is the next
        // in memory unless this is the last row (wrapping to the first,
        // or clamped), or a clamped row before the first. Every lane is
        // read, those the span or the depth test leave out too, so all
        // must have it.
        const __m256i jm = _mm256_and_si256(k.j, w.v.mask);
        const __m256i rowA = _mm256_mullo_epi32(Clamp(jm, w.v), w.width);
        const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80000000u));
        const __m256i below = _mm256_cmpgt_epi32(w.pairRowLimit, _mm256_xor_si256(jm, flip));
        const bool nextBelow = _mm256_testc_si256(below, _mm256_cmpeq_epi32(below, below));
        // The two texels across are neighbours in memory, read as one
        // pair from column p, except where wrapping joins the last
        // column to the first. A clamped texel before the first column
        // or past the last is both texels of its pair; the pair at the
        // edge with the weight all on the edge texel gives the same sums.
        __m256i p, fx = k.f;
        bool seam = false;
        if (w.clampU) {
            const __m256i before = _mm256_cmpgt_epi32(zero, k.i);
            const __m256i past = _mm256_cmpgt_epi32(k.i, w.lastPairU);
            p = _mm256_min_epi32(_mm256_max_epi32(k.i, zero), w.lastPairU);
            fx = _mm256_or_si256(_mm256_andnot_si256(_mm256_or_si256(before, past), fx),
                                 _mm256_and_si256(past, _mm256_set1_epi32(256)));
        } else {
            const __m256i xa = _mm256_and_si256(k.i, w.u.mask);
            p = _mm256_min_epi32(xa, w.lastPairU);
            seam = !_mm256_testz_si256(_mm256_cmpeq_epi32(xa, w.lastU), live);
        }
        __m256i c00, c10, c01, c11;
        if (__builtin_expect(!seam && nextBelow, 1)) {
            const uint32_t* above = w.texels;
            LoadQuads8(above, w.texelsBelow, _mm256_add_epi32(rowA, p), &c00, &c10, &c01, &c11);
        } else {
            const __m256i rowB = _mm256_mullo_epi32(Next(k.j, w.v), w.width);
            if (!seam) {
                LoadPairs8(w.texels, _mm256_add_epi32(rowA, p), &c00, &c10);
                LoadPairs8(w.texels, _mm256_add_epi32(rowB, p), &c01, &c11);
            } else {
                const __m256i xa = Near(k.i, w.u), xb = Next(k.i, w.u);
                c00 = Load8(w.texels, _mm256_add_epi32(rowA, xa));
                c10 = Load8(w.texels, _mm256_add_epi32(rowA, xb));
                c01 = Load8(w.texels, _mm256_add_epi32(rowB, xa));
                c11 = Load8(w.texels, _mm256_add_epi32(rowB, xb));
            }
        }
        // Four texels of alpha 0 filter to alpha 0, which leaves the
        // target as it is under these blends.
        if (kSkipClear && _mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(c00, c10), _mm256_or_si256(c01, c11)),
                                             _mm256_and_si256(live, alphaMask))) {
            return;
        }
        Filter8(c00, c10, c01, c11, fx, k.g, &br, &ga, w.filter);
    } else {
        const __m256i src = Load8(w.texels, _mm256_add_epi32(_mm256_mullo_epi32(Near(k.j, w.v), w.width), Near(k.i, w.u)));
        if (kSkipClear && _mm256_testz_si256(src, _mm256_and_si256(live, alphaMask))) {
            return;
        }
        br = _mm256_and_si256(src, even);
        ga = _mm256_and_si256(_mm256_srli_epi32(src, 8), even);
    }
    if (Modulate == 1 || (Modulate < 0 && w.modulate)) {
        // MulDiv255 with the constants read from memory.
        br = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(br, w.mBr), w.bias127), w.div255), 7);
        ga = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(_mm256_mullo_epi16(ga, w.mGa), w.bias127), w.div255), 7);
    }
    // Lanes the span or the depth test leave out keep the target's value.
    if (whole) {
        __m256i* dst = reinterpret_cast<__m256i*>(out);
        const __m256i d = _mm256_loadu_si256(dst);
        _mm256_storeu_si256(dst, _mm256_blendv_epi8(d, Blend8<Blend>(br, ga, d), live));
    } else {
        int* dst = reinterpret_cast<int*>(out);
        const __m256i d = Blend == FastOpaque ? _mm256_setzero_si256() : _mm256_maskload_epi32(dst, live);
        _mm256_maskstore_epi32(dst, live, Blend8<Blend>(br, ga, d));
    }
}

// One affine row of a band: pixels x0 to x1 of row py.
template <bool Bilinear, int Blend, int ZTest>
ORVA_WIDE inline __attribute__((always_inline)) void SpanWideOf(const SpanCtx& c, const WidePrep& w, bool drawColor,
                                                                bool depthWrite, uint32_t* out, float* depthRow,
                                                                int32_t py, int32_t x0, int32_t x1)
{
    constexpr bool kDepth = ZTest != kNoDepth;
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const double zRowValue = c.planes[SlotZ].dy * static_cast<double>(py);
    const __m256d zRow = _mm256_set1_pd(zRowValue);
    // Pixel x as a double, for pixels 0, 1, 4, 5 and 2, 3, 6, 7 of the
    // group (see Low32).
    __m256d xLo = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x0)), _mm256_setr_pd(0, 1, 4, 5));
    __m256d xHi = _mm256_add_pd(xLo, _mm256_set1_pd(2.0));
    // Groups up to this one end within the tile: they take plain loads and
    // stores, and lanes past the span keep what they read.
    const int32_t lastWhole = std::max(x1, c.tileRight) - 7;
    // Pixels of the span from the group's first on, in every lane.
    __m256i remaining = _mm256_set1_epi32(x1 - x0 + 1);

    // 32.32 fixed point stepped modulo 2^64, as the general path's
    // products wrap; lanes hold pixels 0, 1, 4, 5 and 2, 3, 6, 7 (see
    // High32).
    const Plane& sp = c.planes[SlotTex];
    const Plane& tp = c.planes[SlotTex + 1];
    const uint64_t sRow = static_cast<uint64_t>(c.sRowFixed ? c.sRow : ToFixed(sp.a + sp.dy * py));
    const uint64_t tRow = static_cast<uint64_t>(c.tRowFixed ? c.tRow : ToFixed(tp.a + tp.dy * py));
    const uint64_t ds = static_cast<uint64_t>(c.ds), dt = static_cast<uint64_t>(c.dt);
    // The bilinear sample reads from half a texel up and left.
    const uint64_t half = Bilinear ? uint64_t{1} << 31 : 0;
    const __m256i s0 =
        _mm256_set1_epi64x(static_cast<long long>(sRow + static_cast<uint64_t>(static_cast<int64_t>(x0)) * ds - half));
    const __m256i t0 =
        _mm256_set1_epi64x(static_cast<long long>(tRow + static_cast<uint64_t>(static_cast<int64_t>(x0)) * dt - half));
    __m256i sA01 = _mm256_add_epi64(s0, w.sOff01);
    __m256i sA23 = _mm256_add_epi64(s0, w.sOff23);
    __m256i tA01 = _mm256_add_epi64(t0, w.tOff01);
    __m256i tA23 = _mm256_add_epi64(t0, w.tOff23);

    for (int32_t px = x0; px <= x1; px += 8) {
        const bool whole = px <= lastWhole;
        const __m256i inSpan = _mm256_cmpgt_epi32(remaining, iota);
        remaining = _mm256_sub_epi32(remaining, w.eightLanes);
        __m256i live = inSpan;
        // This group's positions; the running ones move on to the next.
        const __m256d gxLo = xLo, gxHi = xHi;
        const __m256i gs01 = sA01, gs23 = sA23, gt01 = tA01, gt23 = tA23;
        xLo = _mm256_add_pd(xLo, w.eight);
        xHi = _mm256_add_pd(xHi, w.eight);
        sA01 = _mm256_add_epi64(sA01, w.sStep);
        sA23 = _mm256_add_epi64(sA23, w.sStep);
        tA01 = _mm256_add_epi64(tA01, w.tStep);
        tA23 = _mm256_add_epi64(tA23, w.tStep);
        // The depth test first: a group it hides wholly costs no more.
        if constexpr (kDepth) {
            const __m128d zLo = _mm_castps_pd(_mm256_cvtpd_ps(PlaneAt(w.zA, w.zDx, zRow, gxLo)));
            const __m128d zHi = _mm_castps_pd(_mm256_cvtpd_ps(PlaneAt(w.zA, w.zDx, zRow, gxHi)));
            const __m256 z = _mm256_set_m128(_mm_castpd_ps(_mm_unpackhi_pd(zLo, zHi)), _mm_castpd_ps(_mm_unpacklo_pd(zLo, zHi)));
            const __m256 stored = whole ? _mm256_loadu_ps(depthRow + px) : _mm256_maskload_ps(depthRow + px, inSpan);
            live = _mm256_and_si256(live, DepthPassOf<ZTest>(w.zFunc, z, stored));
            // A group the test hides wholly writes nothing.
            if (_mm256_testz_si256(live, live)) {
                continue;
            }
            if (depthWrite) {
                if (whole) {
                    _mm256_storeu_ps(depthRow + px, _mm256_blendv_ps(stored, z, _mm256_castsi256_ps(live)));
                } else {
                    _mm256_maskstore_ps(depthRow + px, live, z);
                }
            }
            if (!drawColor) {
                continue;
            }
        } else {
            (void)gxLo;
            (void)gxHi;
        }
        Coords k;
        k.i = High32(gs01, gs23);
        k.j = High32(gt01, gt23);
        k.f = _mm256_srli_epi32(Low32(gs01, gs23), 24);
        k.g = _mm256_srli_epi32(Low32(gt01, gt23), 24);
        ColorGroup<Bilinear, Blend>(w, k, live, out + px, whole);
    }
}

// A band's affine rows (see RowsFn) under one way of testing depth.
template <bool Bilinear, int Blend, int ZTest>
ORVA_WIDE void RowsWideOf(const SpanCtx& c, const WidePrep& w, const Target& target, int32_t py0, int32_t count,
                          const int32_t* lo, const int32_t* hi)
{
    constexpr bool kDepth = ZTest != kNoDepth;
    const bool depthWrite = kDepth && w.depthWrite;
    const bool drawColor = Blend == FastOpaque || w.drawColor;
    if (!drawColor && !depthWrite) {
        return;
    }
    // The rows that have pixels, gathered first: the loop over them then
    // keeps only where it is in registers while it runs their groups.
    struct Row {
        uint32_t* out;
        float* depth;
        int32_t py, x0, x1;
    } rows[kBandRows];
    Row* end = rows;
    size_t at = static_cast<size_t>(py0) * target.width;
    for (int32_t k = 0; k < count; ++k, at += target.width) {
        if (lo[k] <= hi[k]) {
            *end++ = {target.color + at, kDepth ? target.depth + at : nullptr, py0 + k, lo[k], hi[k]};
        }
    }
    for (const Row* r = rows; r != end; ++r) {
        SpanWideOf<Bilinear, Blend, ZTest>(c, w, drawColor, depthWrite, r->out, r->depth, r->py, r->x0, r->x1);
    }
}

// Foreshortened rows run a band in passes over its groups of eight pixels.
// The depth pass tests every group and queues those it leaves visible,
// without a branch on the outcome; the colour passes then work out the
// queued groups' texel positions, and after that their texels, filter and
// blend. No group there waits on another, so one group's divisions overlap
// another's loads and filter, and a hidden group costs its depth test
// alone. Each pixel is in one group only, and its depth is settled before
// its colour is drawn, as one group at a time would.
// The queue holds at least a row of the widest tile.
constexpr int kQueuedGroups = 160;
// The colour passes take this many groups at a time.
constexpr int kColorChunk = 32;

struct PerspRow {
    alignas(32) double terms[4];   // dy y of the depth, s, t and q planes
    uint32_t* out;
    int32_t lastWhole;   // groups up to this pixel end within the tile
};

// A queued group: which pixels of it are drawn, and its first pixel and
// where its row is in the band's PerspRow array, in bytes (in the low and
// high halves of where).
struct PerspQueue {
    __m256i live[kQueuedGroups];
    int64_t where[kQueuedGroups];
};

template <bool Bilinear, int Blend, bool Wrap, int Modulate>
ORVA_WIDE inline __attribute__((always_inline)) void ColorQueuedOf(const WidePrep& w, const PerspRow* rows,
                                                                   const PerspQueue& q, size_t n)
{
    Coords coords[kColorChunk];
    // Where each group's pixels are, and whether they are whole (see
    // ColorGroup), worked out beside the coordinates.
    uint32_t* outs[kColorChunk];
    bool wholes[kColorChunk];
    for (size_t first = 0; first < n; first += kColorChunk) {
        const size_t end = std::min(n, first + kColorChunk);
        for (size_t i = first; i < end; ++i) {
            const PerspRow& r = *reinterpret_cast<const PerspRow*>(reinterpret_cast<const char*>(rows) + (q.where[i] >> 32));
            const int32_t px = static_cast<int32_t>(q.where[i]);
            const __m256d xLo = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(px)), _mm256_setr_pd(0, 1, 4, 5));
            const __m256d xHi = _mm256_add_pd(xLo, _mm256_set1_pd(2.0));
            coords[i - first] = PerspCoords<Bilinear>(w, _mm256_broadcast_sd(&r.terms[1]), _mm256_broadcast_sd(&r.terms[2]),
                                                      _mm256_broadcast_sd(&r.terms[3]), xLo, xHi);
            outs[i - first] = r.out + px;
            wholes[i - first] = px <= r.lastWhole;
        }
        for (size_t i = first; i < end; ++i) {
            ColorGroup<Bilinear, Blend, Wrap, Modulate>(w, coords[i - first], q.live[i], outs[i - first],
                                                        wholes[i - first]);
        }
    }
}

template <bool Bilinear, int Blend>
ORVA_WIDE __attribute__((noinline)) void ColorQueued(const WidePrep& w, const PerspRow* rows, const PerspQueue& q,
                                                     size_t n)
{
    // The choices every group would make alike, made once.
    if (Bilinear && w.wrapBoth) {
        if (w.modulate) {
            ColorQueuedOf<Bilinear, Blend, true, 1>(w, rows, q, n);
        } else {
            ColorQueuedOf<Bilinear, Blend, true, 0>(w, rows, q, n);
        }
    } else if (w.modulate) {
        ColorQueuedOf<Bilinear, Blend, false, 1>(w, rows, q, n);
    } else {
        ColorQueuedOf<Bilinear, Blend, false, 0>(w, rows, q, n);
    }
}

// A group's depth test and write: the lanes the test and the span leave
// live. Pixels 0 to 3 are at xA, 4 to 7 at xB.
template <int ZTest>
ORVA_WIDE inline __attribute__((always_inline)) __m256i DepthGroup(const WidePrep& w, __m256d zRow, __m256d xA,
                                                                   __m256d xB, float* depthRow, int32_t px, __m256i inSpan,
                                                                   bool whole, bool depthWrite)
{
    if constexpr (ZTest == kNoDepth) {
        (void)w, (void)zRow, (void)xA, (void)xB, (void)depthRow, (void)px, (void)whole, (void)depthWrite;
        return inSpan;
    } else {
        float* depth = depthRow + px;
        const __m256 z = _mm256_set_m128(_mm256_cvtpd_ps(PlaneAt(w.zA, w.zDx, zRow, xB)),
                                         _mm256_cvtpd_ps(PlaneAt(w.zA, w.zDx, zRow, xA)));
        const __m256 stored = whole ? _mm256_loadu_ps(depth) : _mm256_maskload_ps(depth, inSpan);
        const __m256i live = _mm256_and_si256(inSpan, DepthPassOf<ZTest>(w.zFunc, z, stored));
        // A hidden group's depth is written back as it was.
        if (depthWrite) {
            if (whole) {
                _mm256_storeu_ps(depth, _mm256_blendv_ps(stored, z, _mm256_castsi256_ps(live)));
            } else {
                _mm256_maskstore_ps(depth, live, z);
            }
        }
        return live;
    }
}

// What a group's pixels in the span leave live: the depth test (which in
// pass 1 also marks the pixels it passes with the primitive's number, and
// keeps the first and last group with one in passed[0] and passed[1]), or
// in pass 2 the marks (see RowsPerspOf).
template <int ZTest, int Pass>
ORVA_WIDE inline __attribute__((always_inline)) __m256i GroupLive(const WidePrep& w, __m256d zRow, __m256d xA,
                                                                  __m256d xB, float* depthRow, uint32_t* owners,
                                                                  __m256i number, int32_t px, __m256i inSpan,
                                                                  bool whole, bool depthWrite, int32_t* passed)
{
    if constexpr (Pass == 2) {
        (void)w, (void)zRow, (void)xA, (void)xB, (void)depthRow, (void)whole, (void)depthWrite, (void)passed;
        const __m256i marked = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(owners + px));
        return _mm256_and_si256(inSpan, _mm256_cmpeq_epi32(marked, number));
    } else {
        const __m256i live = DepthGroup<ZTest>(w, zRow, xA, xB, depthRow, px, inSpan, whole, depthWrite);
        if constexpr (Pass == 1) {
            // The marks are this thread's alone and padded past the band:
            // a masked store would cost several times a whole one.
            if (!_mm256_testz_si256(live, live)) {
                __m256i* mark = reinterpret_cast<__m256i*>(owners + px);
                _mm256_storeu_si256(mark, _mm256_blendv_epi8(_mm256_loadu_si256(mark), number, live));
                passed[0] = std::min(passed[0], px);
                passed[1] = px;
            }
        } else {
            (void)owners, (void)number, (void)passed;
        }
        return live;
    }
}

// Pass: 0 draws the rows; 1 and 2 are the passes of a band coloured by
// the last primitive each pixel passes (see SpanScratch::pass): 1 tests
// and writes the depth and marks the pixels passed, 2 colours the pixels
// still marked, with no depth test.
template <bool Bilinear, int Blend, int ZTest, int Pass = 0>
ORVA_WIDE void RowsPerspOf(const SpanCtx& c, const WidePrep& w, const Target& target, int32_t py0, int32_t count,
                           const int32_t* lo, const int32_t* hi)
{
    constexpr bool kDepth = ZTest != kNoDepth && Pass != 2;
    const bool depthWrite = kDepth && w.depthWrite;
    const bool drawColor = Pass != 1 && (Blend == FastOpaque || w.drawColor);
    SpanScratch& marks = *c.scratch;
    const __m256i number = _mm256_set1_epi32(static_cast<int>(marks.number));
    // The marks of pixel (px, py0 + k) are at owners[k * stride + px].
    uint32_t* owners = Pass == 0 ? nullptr
                                 : marks.owners + static_cast<ptrdiff_t>(py0 - marks.ownersY) * marks.ownersStride -
                                       marks.ownersX;
    BandRows* kept = Pass == 1 ? marks.kept + marks.number : nullptr;
    if (!drawColor && !depthWrite) {
        return;
    }
    // The first n lanes set: eight lanes from kLeadingLanes + 8 - n.
    alignas(32) static const int32_t kLeadingLanes[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};
    const __m256i ones = _mm256_set1_epi32(-1);
    PerspRow rows[kBandRows];
    PerspQueue q;
    size_t queued = 0;
    // Read once: the stores below could be to them as far as the compiler
    // knows.
    const size_t stride = static_cast<size_t>(target.width);
    uint32_t* colorRow = target.color + static_cast<size_t>(py0) * stride;
    float* depthRow = kDepth ? target.depth + static_cast<size_t>(py0) * stride : nullptr;
    const int32_t tileRight = c.tileRight;
    const __m256d dy = w.dy, eight = w.eight;
    __m256d py = _mm256_set1_pd(static_cast<double>(py0));
    for (int32_t k = 0; k < count; ++k, colorRow += stride, depthRow = kDepth ? depthRow + stride : nullptr,
                 owners = Pass == 0 ? nullptr : owners + marks.ownersStride, py = _mm256_add_pd(py, _mm256_set1_pd(1.0))) {
        const int32_t x0 = lo[k], x1 = hi[k];
        if (x0 > x1) {
            if constexpr (Pass == 1) {
                kept->lo[k] = 1;
                kept->hi[k] = 0;
            }
            continue;
        }
        const int32_t last = x0 + ((x1 - x0) & ~7);   // the last group's first pixel
        if (drawColor && queued + static_cast<size_t>((x1 - x0) >> 3) + 1 > kQueuedGroups) {
            ColorQueued<Bilinear, Blend>(w, rows, q, queued);
            queued = 0;
        }
        // dy y for the four planes at once, each lane's product as the
        // general path's.
        const __m256d terms = _mm256_mul_pd(dy, py);
        _mm256_store_pd(rows[k].terms, terms);
        rows[k].out = colorRow;
        // Groups up to this one end within the tile: they take plain loads
        // and stores, and lanes past the span keep what they read.
        const int32_t lastWhole = std::max(x1, tileRight) - 7;
        rows[k].lastWhole = lastWhole;
        const __m256d zRow = _mm256_permute4x64_pd(terms, 0x00);
        // Pixels 0 to 3 and 4 to 7 of the group.
        __m256d xA = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x0)), _mm256_setr_pd(0, 1, 2, 3));
        __m256d xB = _mm256_add_pd(xA, _mm256_set1_pd(4.0));
        int64_t where = (static_cast<int64_t>(k * sizeof(PerspRow)) << 32) | static_cast<uint32_t>(x0);
        int32_t passed[2] = {INT32_MAX, -1};
        // Every group before the last is whole and in the span.
        for (int32_t px = x0; px < last; px += 8) {
            const __m256i live = GroupLive<ZTest, Pass>(w, zRow, xA, xB, depthRow, owners, number, px, ones, true,
                                                         depthWrite, passed);
            if (drawColor) {
                q.live[queued] = live;
                q.where[queued] = where;
                queued += !_mm256_testz_si256(live, live);
            }
            xA = _mm256_add_pd(xA, eight);
            xB = _mm256_add_pd(xB, eight);
            where += 8;
        }
        const __m256i inSpan = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLeadingLanes + 7 - (x1 - last)));
        const __m256i live = GroupLive<ZTest, Pass>(w, zRow, xA, xB, depthRow, owners, number, last, inSpan,
                                                     last <= lastWhole, depthWrite, passed);
        if (drawColor) {
            q.live[queued] = live;
            q.where[queued] = where;
            queued += !_mm256_testz_si256(live, live);
        }
        if constexpr (Pass == 1) {
            // The second pass need look no further than the groups this
            // one passed.
            const bool any = passed[1] >= 0;
            kept->lo[k] = any ? passed[0] : 1;
            kept->hi[k] = any ? std::min(passed[1] + 7, x1) : 0;
            marks.owned |= any;
        }
    }
    if (queued > 0) {
        ColorQueued<Bilinear, Blend>(w, rows, q, queued);
    }
}

template <bool Persp, bool Bilinear, int Blend, int ZTest>
ORVA_WIDE inline void RowsOf(const SpanCtx& c, const WidePrep& w, const Target& target, int32_t py0, int32_t count,
                             const int32_t* lo, const int32_t* hi)
{
    if constexpr (Persp && Blend == FastOpaque && ZTest != kNoDepth) {
        if (c.scratch->pass == 1) {
            RowsPerspOf<Bilinear, Blend, ZTest, 1>(c, w, target, py0, count, lo, hi);
            BandRows& kept = c.scratch->kept[c.scratch->number];
            kept.py0 = py0;
            kept.count = count;
        } else if (c.scratch->pass == 2) {
            RowsPerspOf<Bilinear, Blend, ZTest, 2>(c, w, target, py0, count, lo, hi);
        } else {
            RowsPerspOf<Bilinear, Blend, ZTest>(c, w, target, py0, count, lo, hi);
        }
    } else if constexpr (Persp) {
        RowsPerspOf<Bilinear, Blend, ZTest>(c, w, target, py0, count, lo, hi);
    } else {
        RowsWideOf<Bilinear, Blend, ZTest>(c, w, target, py0, count, lo, hi);
    }
}

template <bool Persp, bool Bilinear, int Blend>
ORVA_WIDE void RowsWide(SpanCtx& c, const Target& target, int32_t py0, int32_t count, const int32_t* lo,
                        const int32_t* hi)
{
    WidePrep& w = *std::launder(reinterpret_cast<WidePrep*>(c.scratch->bytes));
    if (!c.prepared) {
        const SpanScratch::Key key{c.prim->state, c.prim->fastColor, SampledSpanIndex(Persp, Bilinear, Blend)};
        if (!(c.scratch->key == key)) {
            PrepareShared<Persp, Bilinear, Blend>(c, *new (c.scratch->bytes) WidePrep);
            c.scratch->key = key;
        }
        PreparePrim<Persp>(c, w);
        c.prepared = true;
    }
    if (w.narrow) {
        SpanRowByRow(kSampledSpans[SampledSpanIndex(Persp, Bilinear, Blend) - kSampledSpanBase], c, target, py0, count,
                     lo, hi);
    } else if (!c.ps->zTest || target.depth == nullptr) {
        RowsOf<Persp, Bilinear, Blend, kNoDepth>(c, w, target, py0, count, lo, hi);
    } else if (w.zFunc == CmpLessEqual) {
        RowsOf<Persp, Bilinear, Blend, CmpLessEqual>(c, w, target, py0, count, lo, hi);
    } else if (w.zFunc == CmpLess) {
        RowsOf<Persp, Bilinear, Blend, CmpLess>(c, w, target, py0, count, lo, hi);
    } else {
        RowsOf<Persp, Bilinear, Blend, kAnyDepth>(c, w, target, py0, count, lo, hi);
    }
}

}  // namespace

const RowsFn kSampledRowsWide[kSampledSpanCount] = {
    RowsWide<false, false, FastOpaque>, RowsWide<false, false, FastAlpha>, RowsWide<false, false, FastAdd>,
    RowsWide<false, true, FastOpaque>,  RowsWide<false, true, FastAlpha>,  RowsWide<false, true, FastAdd>,
    RowsWide<true, false, FastOpaque>,  RowsWide<true, false, FastAlpha>,  RowsWide<true, false, FastAdd>,
    RowsWide<true, true, FastOpaque>,   RowsWide<true, true, FastAlpha>,   RowsWide<true, true, FastAdd>,
};

}  // namespace platform
