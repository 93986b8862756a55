#pragma once
// What the span functions of the back end share: the context a span runs
// in, the general per-pixel path every fast span must match byte for byte,
// and the SSE2 arithmetic of modulation and the three plain blends.
// Private to raster.cpp, spans_sampled.cpp and spans_wide.cpp.
#include <cstdint>
#include <emmintrin.h>

#include "platform/gfx/raster.h"

namespace platform {

// A band of a primitive's rows in one call: row py0 + k covers lo[k] to
// hi[k], none when lo[k] > hi[k]; count is at most kBandRows. What rows
// share is then worked out once, and the span costs one call a band.
constexpr int kBandRows = 32;

// A primitive's rows in a band, as its span function was given them.
struct BandRows {
    int32_t py0 = 0, count = 0;
    int32_t lo[kBandRows], hi[kBandRows];
};

// A tile's scratch for the span functions: what they work out from a
// primitive's state and colour alone stays there for the primitives after it
// that share them (key), and the rest is worked out for each.
struct SpanScratch {
    struct Key {
        uint32_t state = ~0u;   // the state's index in the frame
        uint32_t color = 0;     // the primitive's even colour
        uint8_t span = 0;       // the span function's index

        bool operator==(const Key&) const = default;
    };
    Key key;
    alignas(32) unsigned char bytes[1600];
    // A band whose pixels are coloured by the last primitive that passes
    // their depth test (see RunTile): pass 1 tests and writes the depth and
    // marks each pixel it passes with the primitive's number in `owners`
    // (rows of ownersStride from pixel ownersX, ownersY), setting `owned`;
    // pass 2 colours the pixels still marked with the number. 0: neither.
    // Pass 1 keeps in kept[number] each row of the primitive from the first
    // to the last group of eight pixels it passed, for pass 2 to run over
    // without walking its edges again.
    // The marks run 7 past the band's last pixel, so that a group of eight
    // pixels reads and writes them whole.
    int pass = 0;
    uint32_t number = 0;
    bool owned = false;
    uint32_t* owners = nullptr;
    BandRows* kept = nullptr;
    int32_t ownersX = 0, ownersY = 0, ownersStride = 0;
};

struct SpanCtx {
    SpanCtx(const Prim* p, const Plane* pl, const PixelState* s, uint32_t* color, float* depth)
        : prim(p), planes(pl), ps(s), colorRow(color), depthRow(depth)
    {
    }

    const Prim* prim;
    const Plane* planes;   // the primitive's planes
    const PixelState* ps;
    uint32_t* colorRow;   // row py of the target
    float* depthRow;      // row py of the depth buffer or null
    // Stage 0's fixed-point steps per pixel, and its row starts when they do
    // not change from row to row; worked out once per primitive and tile.
    int64_t ds = 0, dt = 0;
    int64_t sRow = 0, tRow = 0;
    bool sRowFixed = false, tRowFixed = false;
    // The tile's last column (or -1): the row's pixels up to it are this
    // thread's, so a span may read some past its end and write them back
    // as they were, with plain loads and stores instead of masked ones.
    int32_t tileRight = -1;
    // What a span function works out once per primitive and tile rather
    // than on every row (the wide spans' lane constants), and whether it
    // has: the first row fills it, the rest read it. The scratch is the
    // tile's, kept from one primitive to the next.
    mutable bool prepared = false;
    SpanScratch* scratch = nullptr;
};

using SpanFn = void (*)(const SpanCtx&, int32_t, int32_t, int32_t);

// Every pixel of the span through the general path.
void SpanGeneral(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1);

// The sampled spans (spans_sampled.cpp): one texture stage read with point
// or bilinear filtering, wrapped or clamped, modulated by the primitive's
// even colour, with or without foreshortening and depth test, under the
// opaque, alpha and additive blends. Their span table indices start here.
constexpr uint8_t kSampledSpanBase = 10;
constexpr int kSampledSpanCount = 12;
// The index for a primitive: perspective, linear filtering, blend (FastBlend).
inline uint8_t SampledSpanIndex(bool perspective, bool linear, int blend)
{
    return static_cast<uint8_t>(kSampledSpanBase + (perspective ? 6 : 0) + (linear ? 3 : 0) + blend);
}
extern const SpanFn kSampledSpans[kSampledSpanCount];
// True when the eight-pixel sampled spans cannot address stage st's
// texture and leave it to the four-pixel ones.
bool SampledNarrow(const StageSnap& st, bool bilinear, bool perspective);

using RowsFn = void (*)(SpanCtx& c, const Target& target, int32_t py0, int32_t count, const int32_t* lo,
                        const int32_t* hi);
// The sampled spans eight pixels at a time with AVX2 (spans_wide.cpp), for
// processors that have it, a band at a time.
extern const RowsFn kSampledRowsWide[kSampledSpanCount];

// A band's rows through a span function that takes one row a call.
inline void SpanRowByRow(SpanFn fn, SpanCtx& c, const Target& target, int32_t py0, int32_t count, const int32_t* lo,
                         const int32_t* hi)
{
    for (int32_t k = 0; k < count; ++k) {
        if (lo[k] > hi[k]) {
            continue;
        }
        const int32_t py = py0 + k;
        c.colorRow = target.color + static_cast<size_t>(py) * target.width;
        c.depthRow = target.depth != nullptr ? target.depth + static_cast<size_t>(py) * target.width : nullptr;
        fn(c, py, lo[k], hi[k]);
    }
}

enum FastBlend { FastOpaque = 0, FastAlpha = 1, FastAdd = 2 };

inline __m128i Div255x16(__m128i v)   // v holds x + 127 for x <= 65025
{
    return _mm_srli_epi16(_mm_mulhi_epu16(v, _mm_set1_epi16(static_cast<short>(0x8081))), 7);
}

inline __m128i AlphaOf(__m128i v16)
{
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v16, 0xFF), 0xFF);
}

template <int Blend>
inline __m128i Blend4(__m128i src, __m128i dst)
{
    if constexpr (Blend == FastOpaque) {
        (void)dst;
        return src;
    } else {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bias = _mm_set1_epi16(127);
        const __m128i sl = _mm_unpacklo_epi8(src, zero), sh = _mm_unpackhi_epi8(src, zero);
        const __m128i al = AlphaOf(sl), ah = AlphaOf(sh);
        if constexpr (Blend == FastAlpha) {
            const __m128i full = _mm_set1_epi16(255);
            const __m128i dl = _mm_unpacklo_epi8(dst, zero), dh = _mm_unpackhi_epi8(dst, zero);
            const __m128i vl = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(sl, al),
                                                           _mm_mullo_epi16(dl, _mm_sub_epi16(full, al))), bias);
            const __m128i vh = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(sh, ah),
                                                           _mm_mullo_epi16(dh, _mm_sub_epi16(full, ah))), bias);
            return _mm_packus_epi16(Div255x16(vl), Div255x16(vh));
        } else {
            const __m128i vl = _mm_add_epi16(_mm_mullo_epi16(sl, al), bias);
            const __m128i vh = _mm_add_epi16(_mm_mullo_epi16(sh, ah), bias);
            return _mm_adds_epu8(dst, _mm_packus_epi16(Div255x16(vl), Div255x16(vh)));
        }
    }
}

inline __m128i Modulate4(__m128i src, __m128i m16)   // m16: the factor per channel, 16-bit lanes, twice
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(127);
    const __m128i sl = _mm_unpacklo_epi8(src, zero), sh = _mm_unpackhi_epi8(src, zero);
    return _mm_packus_epi16(Div255x16(_mm_add_epi16(_mm_mullo_epi16(sl, m16), bias)),
                            Div255x16(_mm_add_epi16(_mm_mullo_epi16(sh, m16), bias)));
}

template <int Blend>
inline uint32_t Blend1(uint32_t src, uint32_t dst)
{
    return static_cast<uint32_t>(_mm_cvtsi128_si32(Blend4<Blend>(_mm_cvtsi32_si128(static_cast<int>(src)),
                                                                  _mm_cvtsi32_si128(static_cast<int>(dst)))));
}

}  // namespace platform
