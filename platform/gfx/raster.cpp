// Back end: runs a recorded frame's entries for one tile. Every pixel is
// computed from the primitive's planes at the pixel's own coordinates, never
// from where a span or tile starts, so tiling and thread count cannot change
// a single byte.
#include "platform/gfx/raster.h"

#include "platform/gfx/pixel_shader.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/spans.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <immintrin.h>

namespace platform {

// ---------------------------------------------------------------------------
// Frame bookkeeping

int32_t BandRowsFor(int32_t height, int threads)
{
    // Each band a primitive crosses repeats its set-up for the band and
    // reads the primitive and its planes again, often from another core's
    // cache. Bands of 32 rows halve that: the busy 2D frame on one thread
    // takes 10% less time, and the cubes 5%. But threads need bands enough
    // to share out evenly and end together: on eight threads the turned
    // sprites took 5% longer with 15 bands of 32 rows than with 30 of 16
    // (the busiest go first, see FlushFrame). Bands of 8 rows gave eight
    // threads no more even an end, and one thread more of that work.
    static_assert(kBandRows >= 32);
    constexpr int32_t kBandsAThread = 6;
    return height / 32 >= kBandsAThread * std::max(threads, 1) ? 32 : 16;
}

void RecordedFrame::Reset(int32_t width, int32_t height, int32_t bandRows)
{
    // Bands of full rows. Splitting rows across tiles costs more than it
    // gives, for the reason bands are not lower (see BandRowsFor).
    tileWidth = std::min<int32_t>(std::max<int32_t>(width, 1), 1024);
    tileHeight = bandRows;
    tilesX = (width + tileWidth - 1) / tileWidth;
    tilesY = (height + tileHeight - 1) / tileHeight;
    bins.assign(static_cast<size_t>(tilesX) * tilesY, {});
    Clear();
}

void RecordedFrame::Clear()
{
    states.clear();
    prims.clear();
    planes.clear();
    clears.clear();
    copies.clear();
    shaderSnaps.clear();
    deferred.clear();
    for (std::vector<uint32_t>& bin : bins) {
        bin.clear();
    }
    empty = true;
    area = 0;
}

// ---------------------------------------------------------------------------
// Pixel arithmetic

namespace {

struct Col {
    int32_t b, g, r, a;
};

inline Col Unpack(uint32_t c)
{
    return {static_cast<int32_t>(c & 0xFF), static_cast<int32_t>((c >> 8) & 0xFF),
            static_cast<int32_t>((c >> 16) & 0xFF), static_cast<int32_t>(c >> 24)};
}

inline uint32_t Pack(const Col& c)
{
    return static_cast<uint32_t>(c.b) | (static_cast<uint32_t>(c.g) << 8) | (static_cast<uint32_t>(c.r) << 16) |
           (static_cast<uint32_t>(c.a) << 24);
}

inline int32_t Clamp255(int32_t v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline int32_t Mul255(int32_t a, int32_t b)
{
    return static_cast<int32_t>(Div255(static_cast<uint32_t>(a * b)));
}

inline int32_t ChannelFromPlane(double v)
{
    // NaN (a zero rhw) reads as 0 like anything below the range.
    const double r = std::floor(v + 0.5);
    return !(r > 0.0) ? 0 : (r >= 255.0 ? 255 : static_cast<int32_t>(r));
}

inline int64_t WrapIndex(int64_t i, int32_t size, uint8_t mode)
{
    switch (mode) {
    case AddressMirror: {
        const int64_t period = 2 * static_cast<int64_t>(size);
        int64_t m = i % period;
        if (m < 0) {
            m += period;
        }
        return m < size ? m : period - 1 - m;
    }
    case AddressClamp:
        return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case AddressBorder:
        return (i < 0 || i >= size) ? -1 : i;
    case AddressMirrorOnce: {
        const int64_t j = i < 0 ? -1 - i : i;
        return j >= size ? size - 1 : j;
    }
    default: {
        int64_t m = i % size;
        return m < 0 ? m + size : m;
    }
    }
}

inline uint32_t Fetch(const StageSnap& st, int64_t i, int64_t j)
{
    const int64_t x = WrapIndex(i, st.tex.width, st.addressU);
    const int64_t y = WrapIndex(j, st.tex.height, st.addressV);
    if (x < 0 || y < 0) {
        return st.borderColor;
    }
    return st.tex.texels[y * st.tex.width + x];
}

uint32_t Sample(const StageSnap& st, int64_t s, int64_t t, bool linear)
{
    if (st.tex.texels == nullptr) {
        return 0xFFFFFFFFu;
    }
    if (!linear) {
        return Fetch(st, s >> 32, t >> 32);
    }
    // Half a texel back, wrapping as the coordinates do.
    const int64_t s2 = static_cast<int64_t>(static_cast<uint64_t>(s) - (uint64_t{1} << 31));
    const int64_t t2 = static_cast<int64_t>(static_cast<uint64_t>(t) - (uint64_t{1} << 31));
    const int64_t i0 = s2 >> 32, j0 = t2 >> 32;
    const uint32_t fx = static_cast<uint32_t>(s2 >> 24) & 0xFF;
    const uint32_t fy = static_cast<uint32_t>(t2 >> 24) & 0xFF;
    const uint32_t c00 = Fetch(st, i0, j0), c10 = Fetch(st, i0 + 1, j0);
    const uint32_t c01 = Fetch(st, i0, j0 + 1), c11 = Fetch(st, i0 + 1, j0 + 1);
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t top = ((c00 >> shift) & 0xFF) * (256 - fx) + ((c10 >> shift) & 0xFF) * fx;
        const uint32_t bottom = ((c01 >> shift) & 0xFF) * (256 - fx) + ((c11 >> shift) & 0xFF) * fx;
        const uint32_t v = (top * (256 - fy) + bottom * fy + 32768) >> 16;
        out |= v << shift;
    }
    return out;
}

struct CombineInputs {
    Col diffuse;
    Col specular;
    Col tex[4];
};

inline Col ArgValue(uint8_t arg, const CombineInputs& in, const Col& current, const Col& temp, const Col& tfactor,
                    int stage)
{
    Col v;
    switch (arg & TaSelectMask) {
    case TaDiffuse: v = in.diffuse; break;
    case TaCurrent: v = stage == 0 ? in.diffuse : current; break;
    case TaTexture: v = in.tex[stage]; break;
    case TaTFactor: v = tfactor; break;
    case TaSpecular: v = in.specular; break;
    case TaTemp: v = temp; break;
    default: v = current; break;
    }
    if (arg & TaComplement) {
        v = {255 - v.b, 255 - v.g, 255 - v.r, 255 - v.a};
    }
    if (arg & TaAlphaReplicate) {
        v = {v.a, v.a, v.a, v.a};
    }
    return v;
}

// One channel of a stage operation. a0, a1, a2 are the channel's arguments;
// the alpha values feed the blending operations.
inline int32_t Operate(uint8_t op, int32_t a0, int32_t a1, int32_t a2, int32_t a1Alpha, int32_t diffuseAlpha,
                       int32_t textureAlpha, int32_t factorAlpha, int32_t currentAlpha, int32_t current)
{
    switch (op) {
    case TopSelectArg1: return a1;
    case TopSelectArg2: return a2;
    case TopModulate: return Mul255(a1, a2);
    case TopModulate2x: return std::min(255, static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * a2 * 2))));
    case TopModulate4x: return std::min(255, static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * a2 * 4))));
    case TopAdd: return std::min(255, a1 + a2);
    case TopAddSigned: return Clamp255(a1 + a2 - 128);
    case TopAddSigned2x: return Clamp255((a1 + a2 - 128) * 2);
    case TopSubtract: return std::max(0, a1 - a2);
    case TopAddSmooth: return Clamp255(a1 + a2 - Mul255(a1, a2));
    case TopBlendDiffuseAlpha:
        return static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * diffuseAlpha + a2 * (255 - diffuseAlpha))));
    case TopBlendTextureAlpha:
        return static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * textureAlpha + a2 * (255 - textureAlpha))));
    case TopBlendFactorAlpha:
        return static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * factorAlpha + a2 * (255 - factorAlpha))));
    case TopBlendCurrentAlpha:
        return static_cast<int32_t>(Div255(static_cast<uint32_t>(a1 * currentAlpha + a2 * (255 - currentAlpha))));
    case TopBlendTextureAlphaPm: return std::min(255, a1 + Mul255(a2, 255 - textureAlpha));
    case TopModulateAlphaAddColor: return std::min(255, a1 + Mul255(a1Alpha, a2));
    case TopModulateColorAddAlpha: return std::min(255, Mul255(a1, a2) + a1Alpha);
    case TopModulateInvAlphaAddColor: return std::min(255, a1 + Mul255(255 - a1Alpha, a2));
    case TopModulateInvColorAddAlpha: return std::min(255, Mul255(255 - a1, a2) + a1Alpha);
    case TopMultiplyAdd: return std::min(255, a0 + Mul255(a1, a2));
    case TopLerp: return static_cast<int32_t>(Div255(static_cast<uint32_t>(a0 * a1 + (255 - a0) * a2)));
    default: return current;
    }
}

Col Combine(const PixelState& ps, const CombineInputs& in)
{
    Col current = in.diffuse;
    Col temp = {0, 0, 0, 0};
    const Col tfactor = Unpack(ps.tfactor);
    for (int s = 0; s < ps.stageCount; ++s) {
        const StageSnap& st = ps.stage[s];
        const Col c0 = ArgValue(st.colorArg0, in, current, temp, tfactor, s);
        const Col c1 = ArgValue(st.colorArg1, in, current, temp, tfactor, s);
        const Col c2 = ArgValue(st.colorArg2, in, current, temp, tfactor, s);
        const int32_t curA = s == 0 ? in.diffuse.a : current.a;
        Col out;
        if (st.colorOp == TopDotProduct3) {
            // Channels are signed vectors around 128; the dot product of two
            // unit-length ones is full white.
            const int32_t dot = (c1.r - 128) * (c2.r - 128) + (c1.g - 128) * (c2.g - 128) + (c1.b - 128) * (c2.b - 128);
            const int32_t v = Clamp255(dot * 255 / 16384);
            out = {v, v, v, v};
        } else {
            out.b = Operate(st.colorOp, c0.b, c1.b, c2.b, c1.a, in.diffuse.a, in.tex[s].a, tfactor.a, curA, current.b);
            out.g = Operate(st.colorOp, c0.g, c1.g, c2.g, c1.a, in.diffuse.a, in.tex[s].a, tfactor.a, curA, current.g);
            out.r = Operate(st.colorOp, c0.r, c1.r, c2.r, c1.a, in.diffuse.a, in.tex[s].a, tfactor.a, curA, current.r);
            if (st.alphaOp == TopDisable) {
                out.a = curA;
            } else {
                const Col x0 = ArgValue(st.alphaArg0, in, current, temp, tfactor, s);
                const Col x1 = ArgValue(st.alphaArg1, in, current, temp, tfactor, s);
                const Col x2 = ArgValue(st.alphaArg2, in, current, temp, tfactor, s);
                out.a = Operate(st.alphaOp, x0.a, x1.a, x2.a, x1.a, in.diffuse.a, in.tex[s].a, tfactor.a, curA, curA);
            }
        }
        if ((st.resultArg & TaSelectMask) == TaTemp) {
            temp = out;
        } else {
            current = out;
        }
    }
    return current;
}

inline bool Compare(uint8_t func, float a, float b)
{
    switch (func) {
    case CmpNever: return false;
    case CmpLess: return a < b;
    case CmpEqual: return a == b;
    case CmpLessEqual: return a <= b;
    case CmpGreater: return a > b;
    case CmpNotEqual: return a != b;
    case CmpGreaterEqual: return a >= b;
    default: return true;
    }
}

inline bool CompareInt(uint8_t func, int32_t a, int32_t b)
{
    switch (func) {
    case CmpNever: return false;
    case CmpLess: return a < b;
    case CmpEqual: return a == b;
    case CmpLessEqual: return a <= b;
    case CmpGreater: return a > b;
    case CmpNotEqual: return a != b;
    case CmpGreaterEqual: return a >= b;
    default: return true;
    }
}

inline int32_t Factor(uint8_t f, int channel, const Col& s, const Col& d, bool isSource)
{
    auto pick = [channel](const Col& c) { return channel == 0 ? c.b : channel == 1 ? c.g : channel == 2 ? c.r : c.a; };
    switch (f) {
    case BlendZero: return 0;
    case BlendOne: return 255;
    case BlendSrcColor: return pick(s);
    case BlendInvSrcColor: return 255 - pick(s);
    case BlendSrcAlpha: return s.a;
    case BlendInvSrcAlpha: return 255 - s.a;
    case BlendDestAlpha: return d.a;
    case BlendInvDestAlpha: return 255 - d.a;
    case BlendDestColor: return pick(d);
    case BlendInvDestColor: return 255 - pick(d);
    case BlendSrcAlphaSat: return channel == 3 ? 255 : std::min(s.a, 255 - d.a);
    case BlendBothSrcAlpha: return isSource ? s.a : 255 - s.a;
    case BlendBothInvSrcAlpha: return isSource ? 255 - s.a : s.a;
    default: return isSource ? 255 : 0;
    }
}

uint32_t BlendPixel(const PixelState& ps, uint32_t src, uint32_t dst)
{
    const Col s = Unpack(src);
    const Col d = Unpack(dst);
    uint8_t destFactor = ps.destBlend;
    // The "both" factors set the destination factor themselves.
    if (ps.srcBlend == BlendBothSrcAlpha || ps.srcBlend == BlendBothInvSrcAlpha) {
        destFactor = ps.srcBlend;
    }
    int32_t out[4];
    const int32_t sv[4] = {s.b, s.g, s.r, s.a};
    const int32_t dv[4] = {d.b, d.g, d.r, d.a};
    for (int c = 0; c < 4; ++c) {
        const int32_t fs = Factor(ps.srcBlend, c, s, d, true);
        const int32_t fd = Factor(destFactor, c, s, d, false);
        const int32_t x = sv[c] * fs;
        const int32_t y = dv[c] * fd;
        int32_t v;
        switch (ps.blendOp) {
        case BlendOpSubtract: v = x > y ? static_cast<int32_t>(Div255(static_cast<uint32_t>(x - y))) : 0; break;
        case BlendOpRevSubtract: v = y > x ? static_cast<int32_t>(Div255(static_cast<uint32_t>(y - x))) : 0; break;
        case BlendOpMin: v = std::min(sv[c], dv[c]); break;
        case BlendOpMax: v = std::max(sv[c], dv[c]); break;
        default: v = std::min(255, static_cast<int32_t>(Div255(static_cast<uint32_t>(x + y)))); break;
        }
        out[c] = v;
    }
    return Pack({out[0], out[1], out[2], out[3]});
}

// Fills the stage-0 steps of a span context (textured fast spans).
inline void PrepareStageZero(SpanCtx& c)
{
    const Plane& sp = c.planes[SlotTex];
    const Plane& tp = c.planes[SlotTex + 1];
    c.ds = ToFixed(sp.dx);
    c.dt = ToFixed(tp.dx);
    c.sRowFixed = sp.dy == 0.0;
    c.tRowFixed = tp.dy == 0.0;
    c.sRow = ToFixed(sp.a);
    c.tRow = ToFixed(tp.a);
}

// Far-out coordinates wrap modulo 2^64 (in unsigned arithmetic, where that
// is defined); the fast spans step the same way.
inline int64_t AffineFixed(const Plane& p, int32_t px, int32_t py)
{
    return static_cast<int64_t>(static_cast<uint64_t>(ToFixed(p.a + p.dy * py)) +
                                static_cast<uint64_t>(static_cast<int64_t>(px)) * static_cast<uint64_t>(ToFixed(p.dx)));
}

// What follows the colour: fog, the alpha test, blending, the write mask,
// the depth write.
inline void WritePixel(const SpanCtx& c, int32_t px, Col out, int32_t fog, float z)
{
    const PixelState& ps = *c.ps;
    if (ps.fog) {
        const int32_t f = fog;
        const Col fc = Unpack(ps.fogColor);
        out.b = static_cast<int32_t>(Div255(static_cast<uint32_t>(out.b * f + fc.b * (255 - f))));
        out.g = static_cast<int32_t>(Div255(static_cast<uint32_t>(out.g * f + fc.g * (255 - f))));
        out.r = static_cast<int32_t>(Div255(static_cast<uint32_t>(out.r * f + fc.r * (255 - f))));
    }
    if (ps.alphaTest && !CompareInt(ps.alphaFunc, out.a, ps.alphaRef)) {
        return;
    }
    const uint32_t src = Pack(out);
    const uint32_t dst = c.colorRow[px];
    uint32_t result = ps.blend ? BlendPixel(ps, src, dst) : src;
    if (ps.writeMask != 0xF) {
        uint32_t keep = 0;
        for (int ch = 0; ch < 4; ++ch) {
            // Mask bits are red, green, blue, alpha; the pixel is b, g, r, a.
            static const int kBit[4] = {2, 1, 0, 3};
            if (!((ps.writeMask >> kBit[ch]) & 1)) {
                keep |= 0xFFu << (8 * ch);
            }
        }
        result = (result & ~keep) | (dst & keep);
    }
    c.colorRow[px] = result;
    if (ps.zTest && ps.zWrite && c.depthRow != nullptr) {
        c.depthRow[px] = z;
    }
}

// A pixel of a pixel shader primitive. The depth test comes before the
// shader, or after it when the program gives the depth.
void PixelShaded(const SpanCtx& c, int32_t px, int32_t py)
{
    const PixelState& ps = *c.ps;
    float z = static_cast<float>(c.planes[SlotZ].At(px, py));
    const bool depthTest = ps.zTest && c.depthRow != nullptr;
    const bool late = ps.shader->program->WritesDepth();
    if (depthTest && !late && !Compare(ps.zFunc, z, c.depthRow[px])) {
        return;
    }
    uint32_t color = 0;
    int32_t fog = 255;
    if (!ShadePixel(ps, *c.prim, c.planes, px, py, &color, &fog, &z)) {
        return;
    }
    if (depthTest && late && !Compare(ps.zFunc, z, c.depthRow[px])) {
        return;
    }
    WritePixel(c, px, Unpack(color), fog, z);
}

// The general pixel path: every state, every attribute, every primitive kind.
void PixelGeneral(const SpanCtx& c, int32_t px, int32_t py)
{
    const Prim& pr = *c.prim;
    const Plane* planes = c.planes;
    const PixelState& ps = *c.ps;
    if (ps.shader != nullptr) {
        PixelShaded(c, px, py);
        return;
    }
    const double fx = px, fy = py;
    const float z = static_cast<float>(planes[SlotZ].At(fx, fy));
    if (ps.zTest && c.depthRow != nullptr && !Compare(ps.zFunc, z, c.depthRow[px])) {
        return;
    }
    const double w = pr.perspective ? 1.0 / planes[SlotQ].At(fx, fy) : 1.0;
    CombineInputs in;
    if (pr.flatColor) {
        in.diffuse = Unpack(pr.flatDiffuse);
        in.specular = Unpack(pr.flatSpecular);
    } else {
        const double cw = pr.perspective ? w : 1.0;
        in.diffuse = {ChannelFromPlane(planes[SlotDiffuse + 0].At(fx, fy) * cw),
                      ChannelFromPlane(planes[SlotDiffuse + 1].At(fx, fy) * cw),
                      ChannelFromPlane(planes[SlotDiffuse + 2].At(fx, fy) * cw),
                      ChannelFromPlane(planes[SlotDiffuse + 3].At(fx, fy) * cw)};
        in.specular = {ChannelFromPlane(planes[SlotSpecular + 0].At(fx, fy) * cw),
                       ChannelFromPlane(planes[SlotSpecular + 1].At(fx, fy) * cw),
                       ChannelFromPlane(planes[SlotSpecular + 2].At(fx, fy) * cw),
                       ChannelFromPlane(planes[SlotSpecular + 3].At(fx, fy) * cw)};
    }
    for (int s = 0; s < ps.stageCount; ++s) {
        const StageSnap& st = ps.stage[s];
        if (st.tex.texels == nullptr) {
            in.tex[s] = {255, 255, 255, 255};
            continue;
        }
        const Plane& ps_ = planes[SlotTex + 2 * s];
        const Plane& pt_ = planes[SlotTex + 2 * s + 1];
        int64_t sf, tf;
        if (pr.perspective) {
            sf = ToFixed(ps_.At(fx, fy) * w);
            tf = ToFixed(pt_.At(fx, fy) * w);
        } else {
            sf = AffineFixed(ps_, px, py);
            tf = AffineFixed(pt_, px, py);
        }
        in.tex[s] = Unpack(Sample(st, sf, tf, (pr.linearStages >> s) & 1));
    }
    Col out = Combine(ps, in);
    if (ps.specular) {
        out.b = std::min(255, out.b + in.specular.b);
        out.g = std::min(255, out.g + in.specular.g);
        out.r = std::min(255, out.r + in.specular.r);
    }
    WritePixel(c, px, out, in.specular.a, z);
}

}  // namespace

void SpanGeneral(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1)
{
    for (int32_t px = x0; px <= x1; ++px) {
        PixelGeneral(c, px, py);
    }
}

namespace {

// ---------------------------------------------------------------------------
// Fast spans: one plain function per common 2D case. Each gives exactly the
// bytes of the general path (the tests hold them to it).

// Eight pixels at a time with AVX2, for processors that have it: the same
// arithmetic as Blend4 and Modulate4 in 256-bit registers. Returns the first
// pixel it left for the caller.
__attribute__((target("avx2"))) inline __m256i Div255x16Avx2(__m256i v)
{
    return _mm256_srli_epi16(_mm256_mulhi_epu16(v, _mm256_set1_epi16(static_cast<short>(0x8081))), 7);
}

template <int Blend, bool Mod>
__attribute__((target("avx2"))) int32_t RowAvx2(const uint32_t* row, uint32_t* out, int32_t px, int32_t x1,
                                                 uint32_t factor)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi16(127);
    const __m256i full = _mm256_set1_epi16(255);
    const __m256i alphaMask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i m16 = _mm256_unpacklo_epi8(_mm256_set1_epi32(static_cast<int>(factor)), zero);
    for (; px + 7 <= x1; px += 8) {
        __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + px));
        if constexpr (Mod) {
            const __m256i sl = _mm256_unpacklo_epi8(src, zero), sh = _mm256_unpackhi_epi8(src, zero);
            src = _mm256_packus_epi16(Div255x16Avx2(_mm256_add_epi16(_mm256_mullo_epi16(sl, m16), bias)),
                                      Div255x16Avx2(_mm256_add_epi16(_mm256_mullo_epi16(sh, m16), bias)));
        }
        __m256i* dst = reinterpret_cast<__m256i*>(out + px);
        if constexpr (Blend == FastOpaque) {
            _mm256_storeu_si256(dst, src);
        } else {
            if (_mm256_testz_si256(src, alphaMask)) {
                continue;
            }
            const __m256i d = _mm256_loadu_si256(dst);
            const __m256i sl = _mm256_unpacklo_epi8(src, zero), sh = _mm256_unpackhi_epi8(src, zero);
            // Each pixel's alpha word in all four of its words.
            const __m256i spread = _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7, 6, 7,
                                                    6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15);
            const __m256i al = _mm256_shuffle_epi8(sl, spread), ah = _mm256_shuffle_epi8(sh, spread);
            if constexpr (Blend == FastAlpha) {
                const __m256i dl = _mm256_unpacklo_epi8(d, zero), dh = _mm256_unpackhi_epi8(d, zero);
                const __m256i vl = _mm256_add_epi16(
                    _mm256_add_epi16(_mm256_mullo_epi16(sl, al), _mm256_mullo_epi16(dl, _mm256_sub_epi16(full, al))),
                    bias);
                const __m256i vh = _mm256_add_epi16(
                    _mm256_add_epi16(_mm256_mullo_epi16(sh, ah), _mm256_mullo_epi16(dh, _mm256_sub_epi16(full, ah))),
                    bias);
                _mm256_storeu_si256(dst, _mm256_packus_epi16(Div255x16Avx2(vl), Div255x16Avx2(vh)));
            } else {
                const __m256i vl = _mm256_add_epi16(_mm256_mullo_epi16(sl, al), bias);
                const __m256i vh = _mm256_add_epi16(_mm256_mullo_epi16(sh, ah), bias);
                _mm256_storeu_si256(dst, _mm256_adds_epu8(d, _mm256_packus_epi16(Div255x16Avx2(vl), Div255x16Avx2(vh))));
            }
        }
    }
    return px;
}

// The additive blend of a row from premultiplied texels (see TexView): each
// channel of the target plus the texel's, saturated. Groups with no texel
// that adds anything are not written.
__attribute__((target("avx2"))) int32_t AddRowAvx2(const uint32_t* row, uint32_t* out, int32_t px, int32_t x1)
{
    for (; px + 7 <= x1; px += 8) {
        const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + px));
        if (_mm256_testz_si256(src, src)) {
            continue;
        }
        __m256i* dst = reinterpret_cast<__m256i*>(out + px);
        _mm256_storeu_si256(dst, _mm256_adds_epu8(_mm256_loadu_si256(dst), src));
    }
    return px;
}

template <bool Wide>
inline __attribute__((always_inline)) void AddRow(const uint32_t* row, uint32_t* out, int32_t x0, int32_t x1)
{
    int32_t px = x0;
    if constexpr (Wide) {
        px = AddRowAvx2(row, out, px, x1);
    }
    for (; px + 3 <= x1; px += 4) {
        const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + px));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(src, _mm_setzero_si128())) == 0xFFFF) {
            continue;
        }
        __m128i* dst = reinterpret_cast<__m128i*>(out + px);
        _mm_storeu_si128(dst, _mm_adds_epu8(_mm_loadu_si128(dst), src));
    }
    for (; px <= x1; ++px) {
        const __m128i sum = _mm_adds_epu8(_mm_cvtsi32_si128(static_cast<int>(out[px])),
                                          _mm_cvtsi32_si128(static_cast<int>(row[px])));
        out[px] = static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
    }
}

// Pixels x0 to x1 of a row that reads texel row[x] for pixel x: what a 1:1
// sprite's rows are.
template <int Blend, bool Mod, bool Wide>
inline __attribute__((always_inline)) void TexelRow(const uint32_t* row, uint32_t* out, int32_t x0, int32_t x1,
                                                    uint32_t color)
{
    const __m128i m16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(color)), _mm_setzero_si128());
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int32_t px = x0;
    if constexpr (Wide) {
        px = RowAvx2<Blend, Mod>(row, out, px, x1, color);
    }
    for (; px + 3 <= x1; px += 4) {
        __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + px));
        if constexpr (Mod) {
            src = Modulate4(src, m16);
        }
        if constexpr (Blend != FastOpaque) {
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(src, alphaMask), _mm_setzero_si128())) == 0xFFFF) {
                continue;
            }
        }
        __m128i* dst = reinterpret_cast<__m128i*>(out + px);
        _mm_storeu_si128(dst, Blend4<Blend>(src, _mm_loadu_si128(dst)));
    }
    for (; px <= x1; ++px) {
        uint32_t src = row[px];
        if constexpr (Mod) {
            src = static_cast<uint32_t>(_mm_cvtsi128_si32(Modulate4(_mm_cvtsi32_si128(static_cast<int>(src)), m16)));
        }
        out[px] = Blend1<Blend>(src, out[px]);
    }
}

template <int Blend, bool Mod, bool Wide>
void SpanTextured(const SpanCtx& c, int32_t py, int32_t x0, int32_t x1)
{
    const Prim& pr = *c.prim;
    const StageSnap& st = c.ps->stage[0];
    const Plane& sp = c.planes[SlotTex];
    const Plane& tp = c.planes[SlotTex + 1];
    const int64_t ds = c.ds, dt = c.dt;
    // The same values the general path works out per pixel (a + 0 x py is a).
    const int64_t sRow = c.sRowFixed ? c.sRow : ToFixed(sp.a + sp.dy * py);
    const int64_t tRow = c.tRowFixed ? c.tRow : ToFixed(tp.a + tp.dy * py);
    // The coordinates of the span's ends, when they fit in 64 bits: then
    // every pixel between lies between them. When they do not (steps of a
    // billion texels a pixel), the general path's sums wrap and the ends say
    // nothing about the pixels between.
    auto end = [](int64_t row, int32_t x, int64_t d, int64_t* out) {
        return !__builtin_mul_overflow(static_cast<int64_t>(x), d, out) && !__builtin_add_overflow(*out, row, out);
    };
    int64_t s = 0, t = 0, sEnd = 0, tEnd = 0;
    const bool exact = end(sRow, x0, ds, &s) && end(tRow, x0, dt, &t) && end(sRow, x1, ds, &sEnd) &&
                       end(tRow, x1, dt, &tEnd);
    const int64_t w = st.tex.width, h = st.tex.height;
    // Spans that leave the texture take the general path's addressing.
    if (!exact || (s >> 32) < 0 || (s >> 32) >= w || (sEnd >> 32) < 0 || (sEnd >> 32) >= w || (t >> 32) < 0 ||
        (t >> 32) >= h || (tEnd >> 32) < 0 || (tEnd >> 32) >= h) {
        SpanGeneral(c, py, x0, x1);
        return;
    }
    const uint32_t* texels = st.tex.texels;
    uint32_t* out = c.colorRow;
    const __m128i m16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(pr.fastColor)), _mm_setzero_si128());
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int32_t px = x0;
    auto fetch = [&](int64_t ss, int64_t tt) { return texels[(tt >> 32) * w + (ss >> 32)]; };
    // A 1:1 row (one texel per pixel, no step lost or doubled, as every
    // unscaled sprite gives) reads its texels straight from the row.
    const bool contiguous = dt == 0 && ds > 0 && ds <= (int64_t{1} << 32) && (sEnd >> 32) - (s >> 32) == x1 - x0;
    if (contiguous) {
        TexelRow<Blend, Mod, Wide>(texels + (t >> 32) * w + (s >> 32) - x0, out, x0, x1, pr.fastColor);
        return;
    }
    for (; px + 3 <= x1; px += 4) {
        const uint32_t a0 = fetch(s, t);
        const uint32_t a1 = fetch(s + ds, t + dt);
        const uint32_t a2 = fetch(s + 2 * ds, t + 2 * dt);
        const uint32_t a3 = fetch(s + 3 * ds, t + 3 * dt);
        s += 4 * ds;
        t += 4 * dt;
        __m128i src = _mm_set_epi32(static_cast<int>(a3), static_cast<int>(a2), static_cast<int>(a1),
                                    static_cast<int>(a0));
        if constexpr (Mod) {
            src = Modulate4(src, m16);
        }
        if constexpr (Blend != FastOpaque) {
            // Fully transparent texels leave the target as it is.
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(src, alphaMask), _mm_setzero_si128())) == 0xFFFF) {
                continue;
            }
        }
        __m128i* dst = reinterpret_cast<__m128i*>(out + px);
        _mm_storeu_si128(dst, Blend4<Blend>(src, _mm_loadu_si128(dst)));
    }
    for (; px <= x1; ++px) {
        uint32_t src = fetch(s, t);
        s += ds;
        t += dt;
        if constexpr (Mod) {
            src = static_cast<uint32_t>(_mm_cvtsi128_si32(Modulate4(_mm_cvtsi32_si128(static_cast<int>(src)), m16)));
        }
        out[px] = Blend1<Blend>(src, out[px]);
    }
}

// Whether pixels x0 to x1 of a row whose fixed-point coordinate is
// row + x ds read one texel each, in order, all of them in [0, width): the
// sums are exact, so with a step of at most one texel the first and last
// columns tell whether none is skipped or read twice. *first gets the
// first pixel's texel column.
inline bool OneTexelAPixel(int64_t row, int64_t ds, int32_t x0, int32_t x1, int64_t width, int64_t* first)
{
    int64_t s = 0, sEnd = 0;
    if (ds <= 0 || ds > (int64_t{1} << 32) || __builtin_mul_overflow(static_cast<int64_t>(x0), ds, &s) ||
        __builtin_add_overflow(s, row, &s) || __builtin_mul_overflow(static_cast<int64_t>(x1), ds, &sEnd) ||
        __builtin_add_overflow(sEnd, row, &sEnd) || (s >> 32) < 0 || (sEnd >> 32) >= width ||
        (sEnd >> 32) - (s >> 32) != x1 - x0) {
        return false;
    }
    *first = s >> 32;
    return true;
}

// Count rows of TexelRow (AddRow for premultiplied texels), the texels
// and the target each a row further on from one to the next.
template <int Blend, bool Mod, bool Wide>
inline __attribute__((always_inline)) void TexelRows(const uint32_t* from, int64_t texelStride, uint32_t* out,
                                                     int32_t outStride, int32_t count, int32_t x0, int32_t x1,
                                                     uint32_t color, bool add)
{
    for (int32_t i = 0; i < count; ++i, from += texelStride, out += outStride) {
        if (add) {
            AddRow<Wide>(from, out, x0, x1);
        } else {
            TexelRow<Blend, Mod, Wide>(from, out, x0, x1, color);
        }
    }
}

// A textured rectangle's rows in one band. A sprite's rows read their
// texel rows straight (see MarkSprite); other rows, and a sprite's rows
// above or below its texture, go through SpanTextured, which gives the
// same bytes. A 1:1 row that is not a sprite's still reads its texels
// straight once its texel row is known.
template <int Blend, bool Mod, bool Wide>
inline __attribute__((always_inline)) void RectTexturedRows(SpanCtx& c, const Target& target, int32_t y0, int32_t y1,
                                                            int32_t x0, int32_t x1)
{
    const Prim& pr = *c.prim;
    const StageSnap& st = c.ps->stage[0];
    const int64_t w = st.tex.width, h = st.tex.height;
    const uint32_t* texels = st.tex.texels;
    bool add = false;
    if constexpr (Blend == FastAdd && !Mod) {
        if (st.tex.premultiplied != nullptr) {
            texels = st.tex.premultiplied;
            add = true;
        }
    }
    bool prepared = false;
    auto general = [&](int32_t from, int32_t to) {
        if (from <= to && !prepared) {
            PrepareStageZero(c);
            prepared = true;
        }
        for (int32_t py = from; py <= to; ++py) {
            c.colorRow = target.color + static_cast<size_t>(py) * target.width;
            c.depthRow = target.depth != nullptr ? target.depth + static_cast<size_t>(py) * target.width : nullptr;
            SpanTextured<Blend, Mod, Wide>(c, py, x0, x1);
        }
    };
    if (pr.sprite) {
        const int32_t in0 = std::max<int32_t>(y0, -pr.spriteRow);
        const int32_t in1 = std::min<int32_t>(y1, static_cast<int32_t>(h - 1 - pr.spriteRow));
        if (in0 > in1) {
            general(y0, y1);
            return;
        }
        general(y0, in0 - 1);
        TexelRows<Blend, Mod, Wide>(texels + (in0 + pr.spriteRow) * w + pr.spriteColumn, w,
                                    target.color + static_cast<size_t>(in0) * target.width, target.width,
                                    in1 - in0 + 1, x0, x1, pr.fastColor, add);
        general(in1 + 1, y1);
        return;
    }
    PrepareStageZero(c);
    prepared = true;
    const Plane& tp = c.planes[SlotTex + 1];
    int64_t column = 0;
    const bool alike = c.sRowFixed && c.dt == 0 && OneTexelAPixel(c.sRow, c.ds, x0, x1, w, &column);
    for (int32_t py = y0; py <= y1; ++py) {
        const int64_t t = c.tRowFixed ? c.tRow : ToFixed(tp.a + tp.dy * py);
        if (!alike || (t >> 32) < 0 || (t >> 32) >= h) {
            general(py, py);
        } else {
            TexelRows<Blend, Mod, Wide>(texels + (t >> 32) * w + column - x0, w,
                                        target.color + static_cast<size_t>(py) * target.width, target.width, 1, x0,
                                        x1, pr.fastColor, add);
        }
    }
}

template <int Blend, bool Mod>
void RectTextured(SpanCtx& c, const Target& target, int32_t y0, int32_t y1, int32_t x0, int32_t x1)
{
    RectTexturedRows<Blend, Mod, false>(c, target, y0, y1, x0, x1);
}

// With AVX2 the eight-pixel rows are compiled into the loop over the rows.
template <int Blend, bool Mod>
__attribute__((target("avx2"))) void RectTexturedWide(SpanCtx& c, const Target& target, int32_t y0, int32_t y1,
                                                      int32_t x0, int32_t x1)
{
    RectTexturedRows<Blend, Mod, true>(c, target, y0, y1, x0, x1);
}

using RectFn = void (*)(SpanCtx&, const Target&, int32_t, int32_t, int32_t, int32_t);
// Indexed by the fast span less one (the textured spans 1 to 6).
const RectFn kRectTable[] = {
    RectTextured<FastOpaque, false>, RectTextured<FastAlpha, false>, RectTextured<FastAdd, false>,
    RectTextured<FastOpaque, true>,  RectTextured<FastAlpha, true>,  RectTextured<FastAdd, true>,
};
const RectFn kRectTableWide[] = {
    RectTexturedWide<FastOpaque, false>, RectTexturedWide<FastAlpha, false>, RectTexturedWide<FastAdd, false>,
    RectTexturedWide<FastOpaque, true>,  RectTexturedWide<FastAlpha, true>,  RectTexturedWide<FastAdd, true>,
};

template <int Blend>
void SpanConstant(const SpanCtx& c, int32_t, int32_t x0, int32_t x1)
{
    const uint32_t color = c.prim->fastColor;
    uint32_t* out = c.colorRow;
    if constexpr (Blend != FastOpaque) {
        if ((color >> 24) == 0) {
            return;
        }
    }
    const __m128i src = _mm_set1_epi32(static_cast<int>(color));
    int32_t px = x0;
    for (; px + 3 <= x1; px += 4) {
        __m128i* dst = reinterpret_cast<__m128i*>(out + px);
        _mm_storeu_si128(dst, Blend4<Blend>(src, _mm_loadu_si128(dst)));
    }
    for (; px <= x1; ++px) {
        out[px] = Blend1<Blend>(color, out[px]);
    }
}

// Index 0 is the general path; the others are picked by SelectFastSpan.
const SpanFn kSpanTable[] = {
    SpanGeneral,
    SpanTextured<FastOpaque, false, false>, SpanTextured<FastAlpha, false, false>, SpanTextured<FastAdd, false, false>,
    SpanTextured<FastOpaque, true, false>,  SpanTextured<FastAlpha, true, false>,  SpanTextured<FastAdd, true, false>,
    SpanConstant<FastOpaque>,               SpanConstant<FastAlpha>,               SpanConstant<FastAdd>,
};
// The same with AVX2 rows where the processor has them.
const SpanFn kSpanTableWide[] = {
    SpanGeneral,
    SpanTextured<FastOpaque, false, true>, SpanTextured<FastAlpha, false, true>, SpanTextured<FastAdd, false, true>,
    SpanTextured<FastOpaque, true, true>,  SpanTextured<FastAlpha, true, true>,  SpanTextured<FastAdd, true, true>,
    SpanConstant<FastOpaque>,              SpanConstant<FastAlpha>,              SpanConstant<FastAdd>,
};

// The quotient rounded down and the remainder that goes with it (0 <= r <
// b), from one division and no branch: a truncated quotient is one too
// high exactly when its remainder is negative.
inline void FloorDivMod(int64_t a, int64_t b, int64_t* q, int64_t* r)   // b > 0
{
    const int64_t tq = a / b, tr = a % b;
    const int64_t below = tr >> 63;   // -1 when the remainder is negative
    *q = tq + below;
    *r = tr + (b & below);
}

inline int64_t FloorDiv(int64_t a, int64_t b)   // b > 0
{
    int64_t q, r;
    FloorDivMod(a, b, &q, &r);
    return q;
}

inline int64_t CeilDiv(int64_t a, int64_t b)   // b > 0
{
    return -FloorDiv(-a, b);
}

// A sloped edge's bound on the rows of a tile: the bound, the remainder that
// makes it exact, what one row down adds to them, and the divisor.
struct RowBound {
    int64_t q, r, dq, dr, d;
};

struct RowRun {
    SpanFn fn;
    RowsFn rows;   // the band's rows in one call, or null: fn row by row
    SpanCtx* c;
    const Target* target;
    int64_t left, right;   // what upright edges and the tile leave
};

// Hands a band's rows to the span function: all at once where it takes
// them so, or one by one.
inline void EmitRows(const RowRun& run, int32_t from, int32_t count, const int32_t* lo, const int32_t* hi)
{
    if (run.rows != nullptr) {
        run.rows(*run.c, *run.target, from, count, lo, hi);
        return;
    }
    SpanRowByRow(run.fn, *run.c, *run.target, from, count, lo, hi);
}

// Rows from..to of a triangle bounded by L left and R right sloped edges
// (at most L and R, given in lefts and rights, when counts are passed). The
// remainders carry without a branch; the bounds of up to kBandRows rows are
// worked out in one loop that calls nothing, so the edges stay in
// registers, and then handed on together.
template <int L, int R>
inline void RunRows(const RowRun& run, const RowBound* lefts, const RowBound* rights, int32_t from, int32_t to, int nl = L,
                    int nr = R)
{
    // Copies the compiler can keep in registers across the calls.
    RowBound ls[L > 0 ? L : 1], rs[R > 0 ? R : 1];
    for (int i = 0; i < L && i < nl; ++i) {
        ls[i] = lefts[i];
    }
    for (int i = 0; i < R && i < nr; ++i) {
        rs[i] = rights[i];
    }
    int32_t lo[kBandRows], hi[kBandRows];
    for (int32_t first = from; first <= to; first += kBandRows) {
        const int32_t count = std::min<int32_t>(kBandRows, to - first + 1);
        for (int32_t k = 0; k < count; ++k) {
            int64_t l = run.left, h = run.right;
            for (int i = 0; i < L && i < nl; ++i) {
                RowBound& b = ls[i];
                l = std::max(l, b.q);
                b.q += b.dq;
                b.r -= b.dr;
                const int64_t borrow = b.r >> 63;   // -1 when r went below 0
                b.r += b.d & borrow;
                b.q -= borrow;
            }
            for (int i = 0; i < R && i < nr; ++i) {
                RowBound& b = rs[i];
                h = std::min(h, b.q);
                b.q += b.dq;
                b.r += b.dr - b.d;
                const int64_t keep = b.r >> 63;   // -1 when r was below d
                b.r += b.d & keep;
                b.q += 1 + keep;
            }
            // Within the tile's columns when not empty; an empty row is
            // any lo > hi.
            const bool empty = l > h;
            lo[k] = empty ? 1 : static_cast<int32_t>(l);
            hi[k] = empty ? 0 : static_cast<int32_t>(h);
        }
        EmitRows(run, first, count, lo, hi);
    }
}

// RunRows with AVX2, for the wide span level: the sloped edges (at most
// four) in the 64-bit lanes of one register, lefts first, so that a row
// steps every edge in a few instructions and no edge waits in memory. Lane
// by lane the arithmetic is RunRows': with m = -1 where the remainder went
// below 0, a left edge's bound moves by dq - m, and a right edge's (whose
// remainder steps by dr - d) by dq + m + 1, which is dq - (m ^ -1).
// One value of each edge in RunRowsWide's lanes (lefts, then rights, then
// zeros), built from the edges' own fields: never a vector load of values
// just stored one by one, which would wait for the stores to land.
template <int L, int R, typename Field>
__attribute__((target("avx2"))) inline __m256i EdgeLanes(const RowBound* lefts, const RowBound* rights, Field field)
{
    int64_t v[4] = {0, 0, 0, 0};
    for (int i = 0; i < L + R; ++i) {
        v[i] = i < L ? field(lefts[i], false) : field(rights[i - L], true);
    }
    return _mm256_setr_epi64x(v[0], v[1], v[2], v[3]);
}

template <int L, int R>
__attribute__((target("avx2"))) void RunRowsWide(const RowRun& run, const RowBound* lefts, const RowBound* rights,
                                                 int32_t from, int32_t to)
{
    static_assert(L >= 1 && R >= 1 && L + R <= 4);
    __m256i q = EdgeLanes<L, R>(lefts, rights, [](const RowBound& b, bool) { return b.q; });
    __m256i r = EdgeLanes<L, R>(lefts, rights, [](const RowBound& b, bool) { return b.r; });
    const __m256i vStep =
        EdgeLanes<L, R>(lefts, rights, [](const RowBound& b, bool right) { return right ? b.dr - b.d : -b.dr; });
    const __m256i vD = EdgeLanes<L, R>(lefts, rights, [](const RowBound& b, bool) { return b.d; });
    const __m256i vDq = EdgeLanes<L, R>(lefts, rights, [](const RowBound& b, bool) { return b.dq; });
    const __m256i vSide =
        EdgeLanes<L, R>(lefts, rights, [](const RowBound&, bool right) { return right ? int64_t{-1} : int64_t{0}; });
    const __m256i zero = _mm256_setzero_si256();
    int32_t lo[kBandRows], hi[kBandRows];
    for (int32_t first = from; first <= to; first += kBandRows) {
        const int32_t count = std::min<int32_t>(kBandRows, to - first + 1);
        for (int32_t k = 0; k < count; ++k) {
            // This row's bounds, taken from the lanes in registers.
            const __m128i q01 = _mm256_castsi256_si128(q), q23 = _mm256_extracti128_si256(q, 1);
            const int64_t lane[4] = {_mm_cvtsi128_si64(q01), _mm_extract_epi64(q01, 1), _mm_cvtsi128_si64(q23),
                                     _mm_extract_epi64(q23, 1)};
            int64_t l = run.left, h = run.right;
            for (int i = 0; i < L; ++i) {
                l = std::max(l, lane[i]);
            }
            for (int i = L; i < L + R; ++i) {
                h = std::min(h, lane[i]);
            }
            const bool empty = l > h;
            lo[k] = empty ? 1 : static_cast<int32_t>(l);
            hi[k] = empty ? 0 : static_cast<int32_t>(h);
            r = _mm256_add_epi64(r, vStep);
            const __m256i m = _mm256_cmpgt_epi64(zero, r);
            r = _mm256_add_epi64(r, _mm256_and_si256(vD, m));
            q = _mm256_sub_epi64(_mm256_add_epi64(q, vDq), _mm256_xor_si256(m, vSide));
        }
        EmitRows(run, first, count, lo, hi);
    }
}

// True when a depth test of less or less-equal fails at every pixel of the
// box x0..x1, y0..y1 (within the tile): the plane's least value over the
// box, less what rounding can take off at any pixel, is above every depth
// stored there (a stored value that is not a number fails the test anyway).
// The plane is linear, so its least value over the box is at a corner; each
// pixel's depth is ((a + dx x) + dy y) in doubles, off from the exact value
// by less than four roundings of the largest term sum, and then rounded to
// a float, which keeps the order.
__attribute__((target("avx2"))) bool BoxHidden(const Plane& z, const Target& target, int32_t x0, int32_t x1, int32_t y0,
                                               int32_t y1)
{
    const int32_t width = x1 - x0 + 1;
    const __m256i tail = _mm256_cmpgt_epi32(_mm256_set1_epi32(width), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    // Most boxes that are not hidden show it at once: the least below is
    // no more than the plane's value at the first corner, worked out as
    // there, so a stored depth at or beyond that value in the first pixels
    // is at or beyond the least too, and the search below would end on it.
    {
        const float* row = target.depth + static_cast<size_t>(y0) * target.width + x0;
        const __m256 first = width < 8 ? _mm256_maskload_ps(row, tail) : _mm256_loadu_ps(row);
        const float corner = static_cast<float>((z.a + z.dx * static_cast<double>(x0)) + z.dy * static_cast<double>(y0));
        const __m256 beyond =
            _mm256_and_ps(_mm256_cmp_ps(first, _mm256_set1_ps(corner), _CMP_GE_OQ), _mm256_castsi256_ps(tail));
        if (!_mm256_testz_ps(beyond, beyond)) {
            return false;
        }
    }
    double lowest = 0.0, reach = 0.0;
    for (int corner = 0; corner < 4; ++corner) {
        const double x = (corner & 1) ? x1 : x0, y = (corner & 2) ? y1 : y0;
        const double v = (z.a + z.dx * x) + z.dy * y;
        lowest = corner == 0 ? v : std::min(lowest, v);
        reach = std::max(reach, std::fabs(z.a) + std::fabs(z.dx * x) + std::fabs(z.dy * y));
    }
    // Far below 1, the margin could round away in subnormal numbers.
    const double bound = lowest - reach * 0x1p-50;
    if (!std::isfinite(bound) || !std::isfinite(reach) || (reach != 0.0 && reach < 0x1p-900)) {
        return false;
    }
    const float least = static_cast<float>(bound);
    // Any stored depth at or beyond the least ends the search: most boxes
    // that are not hidden show it in their first row. Groups of eight run
    // from x0, and one more ends at x1 (the two may overlap); narrower
    // boxes are masked. A stored value that is not a number compares false.
    const __m256 leastLanes = _mm256_set1_ps(least);
    for (int32_t y = y0; y <= y1; ++y) {
        const float* row = target.depth + static_cast<size_t>(y) * target.width;
        __m256 behind;
        if (width < 8) {
            behind = _mm256_and_ps(_mm256_cmp_ps(_mm256_maskload_ps(row + x0, tail), leastLanes, _CMP_GE_OQ),
                                   _mm256_castsi256_ps(tail));
        } else {
            // The greatest stored depth in each lane, then one comparison.
            // max takes its second operand when the first is not a number,
            // so such values are passed over and the running one never is.
            __m256 most = _mm256_max_ps(_mm256_loadu_ps(row + x1 - 7), _mm256_set1_ps(-__builtin_inff()));
            for (int32_t x = x0; x + 7 < x1; x += 8) {
                most = _mm256_max_ps(_mm256_loadu_ps(row + x), most);
            }
            behind = _mm256_cmp_ps(most, leastLanes, _CMP_GE_OQ);
        }
        if (!_mm256_testz_ps(behind, behind)) {
            return false;
        }
    }
    return true;
}

// Always inlined where the tile runs its entries: a call for every
// primitive of a band costs the busy 2D frame 2%.
[[gnu::always_inline]] inline void RunTriangle(const Prim& pr, const Plane* planes, const PixelState& ps,
                                               const Target& target, int32_t tx0, int32_t ty0, int32_t tx1,
                                               int32_t ty1, int spanLevel, SpanScratch& scratch)
{
    const int32_t y0 = std::max(pr.minY, ty0), y1 = std::min(pr.maxY, ty1);
    const int32_t xl = std::max(pr.minX, tx0), xr = std::min(pr.maxX, tx1);
    SpanFn fn = SpanGeneral;
    RowsFn rows = nullptr;
    if (pr.fastSpan >= kSampledSpanBase) {
        const int i = pr.fastSpan - kSampledSpanBase;
        if (spanLevel >= kSpansWide) {
            rows = kSampledRowsWide[i];
            fn = nullptr;
        } else {
            fn = spanLevel == kSpansSse2 ? kSampledSpans[i] : SpanGeneral;
        }
    } else {
        fn = spanLevel >= kSpansWide ? kSpanTableWide[pr.fastSpan]
                                     : (spanLevel == kSpansSse2 ? kSpanTable[pr.fastSpan] : SpanGeneral);
    }
    // A foreshortened primitive wholly behind what the tile holds in its
    // box draws nothing there: the test of the stored depths costs less than
    // the edges and the depth test of every pixel.
    if (rows != nullptr && pr.perspective && ps.zTest && target.depth != nullptr &&
        (ps.zFunc == CmpLessEqual || ps.zFunc == CmpLess) && y0 <= y1 && xl <= xr &&
        BoxHidden(planes[SlotZ], target, xl, xr, y0, y1)) {
        return;
    }
    SpanCtx c{&pr, planes, &ps, nullptr, nullptr};
    c.tileRight = tx1;
    c.scratch = &scratch;
    // A rectangle covers exactly its pixel box (set-up made the box from
    // its edges), so its rows need no edge at all; the textured ones work
    // out their stage 0 steps only if they need them.
    if (pr.edgeCount == 4 && fn != SpanGeneral && pr.fastSpan >= 1 && pr.fastSpan <= 6) {
        if (xl <= xr) {
            (spanLevel >= kSpansWide ? kRectTableWide : kRectTable)[pr.fastSpan - 1](c, target, y0, y1, xl, xr);
        }
        return;
    }
    if (fn != SpanGeneral && ((pr.fastSpan >= 1 && pr.fastSpan <= 6) || (pr.fastSpan >= kSampledSpanBase && !pr.perspective))) {
        PrepareStageZero(c);
    }
    if (pr.edgeCount == 4) {
        if (xl > xr) {
            return;
        }
        const RowRun run{fn, rows, &c, &target, xl, xr};
        int32_t lo[kBandRows], hi[kBandRows];
        std::fill(lo, lo + kBandRows, xl);
        std::fill(hi, hi + kBandRows, xr);
        for (int32_t first = y0; first <= y1; first += kBandRows) {
            EmitRows(run, first, std::min<int32_t>(kBandRows, y1 - first + 1), lo, hi);
        }
        return;
    }
    // Vertical edges bound every row alike, and horizontal ones the rows:
    // fold them in once.
    int64_t left = xl, right = xr;
    int64_t top = y0, bottom = y1;
    int rowEdges[3];
    int rowEdgeCount = 0;
    for (int e = 0; e < pr.edgeCount; ++e) {
        if (pr.eb[e] == 0 && pr.ea[e] > 0) {
            left = std::max(left, CeilDiv(-pr.ec[e], pr.ea[e]));
        } else if (pr.eb[e] == 0 && pr.ea[e] < 0) {
            right = std::min(right, FloorDiv(pr.ec[e], -pr.ea[e]));
        } else if (pr.ea[e] == 0 && pr.eb[e] > 0) {
            top = std::max(top, CeilDiv(-pr.ec[e], pr.eb[e]));
        } else if (pr.ea[e] == 0 && pr.eb[e] < 0) {
            bottom = std::min(bottom, FloorDiv(pr.ec[e], -pr.eb[e]));
        } else {
            rowEdges[rowEdgeCount++] = e;
        }
    }
    if (top > bottom || left > right) {
        return;
    }
    // Each sloped edge bounds a row at ceil(-k / a) (left) or floor(k / -a)
    // (right), with k = eb y + ec. Row to row the quotient moves by a fixed
    // amount and the remainder carries: one division per edge per tile
    // instead of one per row, and the same bounds.
    RowBound lefts[3], rights[3];
    int leftCount = 0, rightCount = 0;
    for (int i = 0; i < rowEdgeCount; ++i) {
        const int e = rowEdges[i];
        const int64_t a = pr.ea[e];
        const int64_t k = pr.eb[e] * top + pr.ec[e];
        if (a > 0) {
            // -k = q a - r, 0 <= r < a (q = -floor(k / a), r = k mod a); a
            // row down adds -eb = dq a + dr.
            RowBound& b = lefts[leftCount++];
            int64_t fq;
            FloorDivMod(k, a, &fq, &b.r);
            b.q = -fq;
            FloorDivMod(-pr.eb[e], a, &b.dq, &b.dr);
            b.d = a;
        } else if (a < 0) {
            // k = q d + r, 0 <= r < d; a row down adds eb = dq d + dr.
            RowBound& b = rights[rightCount++];
            b.d = -a;
            FloorDivMod(k, b.d, &b.q, &b.r);
            FloorDivMod(pr.eb[e], b.d, &b.dq, &b.dr);
        } else if (pr.ec[e] < 0) {
            // An edge of no length that nothing is inside of.
            return;
        }
    }
    const RowRun run{fn, rows, &c, &target, left, right};
    const int32_t from = static_cast<int32_t>(top), to = static_cast<int32_t>(bottom);
    // A triangle has one or two sloped edges on each side (none on a side
    // an upright edge bounds): the rows of those run with fixed counts.
    // With AVX2 the edges step in vector lanes (see RunRowsWide): the
    // common triangles there, all else here.
    if (spanLevel >= kSpansWide) {
        switch (leftCount * 4 + rightCount) {
        case 1 * 4 + 2: RunRowsWide<1, 2>(run, lefts, rights, from, to); return;
        case 2 * 4 + 1: RunRowsWide<2, 1>(run, lefts, rights, from, to); return;
        case 1 * 4 + 1: RunRowsWide<1, 1>(run, lefts, rights, from, to); return;
        default: break;
        }
    }
    switch (leftCount * 4 + rightCount) {
    case 1 * 4 + 1: RunRows<1, 1>(run, lefts, rights, from, to); break;
    case 1 * 4 + 2: RunRows<1, 2>(run, lefts, rights, from, to); break;
    case 2 * 4 + 1: RunRows<2, 1>(run, lefts, rights, from, to); break;
    case 0 * 4 + 1: RunRows<0, 1>(run, lefts, rights, from, to); break;
    case 1 * 4 + 0: RunRows<1, 0>(run, lefts, rights, from, to); break;
    case 0 * 4 + 2: RunRows<0, 2>(run, lefts, rights, from, to); break;
    case 2 * 4 + 0: RunRows<2, 0>(run, lefts, rights, from, to); break;
    case 0: RunRows<0, 0>(run, lefts, rights, from, to); break;
    default: RunRows<3, 3>(run, lefts, rights, from, to, leftCount, rightCount); break;
    }
}

void RunLine(const Prim& pr, const Plane* planes, const PixelState& ps, const Target& target, int32_t tx0,
             int32_t ty0, int32_t tx1, int32_t ty1)
{
    const double dx = pr.lx1 - pr.lx0, dy = pr.ly1 - pr.ly0;
    const bool xMajor = std::fabs(dx) >= std::fabs(dy);
    const double major0 = xMajor ? pr.lx0 : pr.ly0, major1 = xMajor ? pr.lx1 : pr.ly1;
    const double minor0 = xMajor ? pr.ly0 : pr.lx0;
    const double slope = xMajor ? (dx != 0.0 ? dy / dx : 0.0) : (dy != 0.0 ? dx / dy : 0.0);
    // The cells whose centre line the segment crosses, from its start to its
    // end; the end cell only with the last-pixel state on.
    int64_t first, last;
    if (major1 >= major0) {
        first = static_cast<int64_t>(std::ceil(major0));
        last = pr.lastPixel ? static_cast<int64_t>(std::floor(major1)) : static_cast<int64_t>(std::ceil(major1)) - 1;
    } else {
        first = pr.lastPixel ? static_cast<int64_t>(std::ceil(major1)) : static_cast<int64_t>(std::floor(major1)) + 1;
        last = static_cast<int64_t>(std::floor(major0));
    }
    const int32_t lo = xMajor ? std::max(pr.minX, tx0) : std::max(pr.minY, ty0);
    const int32_t hi = xMajor ? std::min(pr.maxX, tx1) : std::min(pr.maxY, ty1);
    first = std::max<int64_t>(first, lo);
    last = std::min<int64_t>(last, hi);
    SpanCtx c{&pr, planes, &ps, nullptr, nullptr};
    for (int64_t m = first; m <= last; ++m) {
        const double minor = minor0 + (static_cast<double>(m) - major0) * slope;
        const int64_t n = static_cast<int64_t>(std::floor(minor + 0.5));
        const int32_t px = xMajor ? static_cast<int32_t>(m) : static_cast<int32_t>(n);
        const int32_t py = xMajor ? static_cast<int32_t>(n) : static_cast<int32_t>(m);
        if (px < std::max(pr.minX, tx0) || px > std::min(pr.maxX, tx1) || py < std::max(pr.minY, ty0) ||
            py > std::min(pr.maxY, ty1)) {
            continue;
        }
        c.colorRow = target.color + static_cast<size_t>(py) * target.width;
        c.depthRow = target.depth != nullptr ? target.depth + static_cast<size_t>(py) * target.width : nullptr;
        PixelGeneral(c, px, py);
    }
}

}  // namespace

uint32_t SampleStage(const StageSnap& stage, int64_t s, int64_t t, bool linear)
{
    return Sample(stage, s, t, linear);
}

uint32_t CombineConstant(const PixelState& state, uint32_t diffuse, uint32_t specular)
{
    CombineInputs in;
    in.diffuse = Unpack(diffuse);
    in.specular = Unpack(specular);
    for (Col& t : in.tex) {
        t = {255, 255, 255, 255};
    }
    return Pack(Combine(state, in));
}

uint8_t SelectFastSpan(const PixelState& ps, Prim& prim, uint32_t diffuse, uint32_t specular)
{
    if (!prim.flatColor || prim.kind != KindTriangle) {
        return 0;
    }
    const bool plain2D = ps.fastBlend >= 0 && !prim.perspective;
    if (plain2D && ps.fastUntextured) {
        prim.fastColor = CombineConstant(ps, diffuse, specular);
        return static_cast<uint8_t>(7 + ps.fastBlend);
    }
    // The factor each channel of the texel is multiplied by: the diffuse
    // channel for a modulate, 255 for a plain select of the texture.
    const StageSnap& st = ps.stage[0];
    const uint32_t rgbFactor = st.colorOp == TopModulate ? (diffuse & 0x00FFFFFFu) : 0x00FFFFFFu;
    const uint32_t alphaFactor = st.alphaOp == TopModulate ? (diffuse & 0xFF000000u) : 0xFF000000u;
    if (plain2D && ps.fastTextured && prim.linearStages == 0) {
        prim.fastColor = rgbFactor | alphaFactor;
        const bool identity = prim.fastColor == 0xFFFFFFFFu;
        return static_cast<uint8_t>((identity ? 1 : 4) + ps.fastBlend);
    }
    if (ps.sampledBlend >= 0 && ps.fastSampled) {
        prim.fastColor = rgbFactor | alphaFactor;
        return SampledSpanIndex(prim.perspective, (prim.linearStages & 1) != 0, ps.sampledBlend);
    }
    return 0;
}

namespace {

// n values of 32 bits at p set to the bits v, eight at a time with AVX2:
// clearing a frame's colour and depth is a good part of drawing it.
__attribute__((target("avx2"))) void FillWide(void* p, size_t n, uint32_t v)
{
    const __m256i lanes = _mm256_set1_epi32(static_cast<int>(v));
    char* at = static_cast<char*>(p);
    char* const end = at + n * 4;
    for (; end - at >= 64; at += 64) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), lanes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 32), lanes);
    }
    if (end - at >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), lanes);
        at += 32;
    }
    const int left = static_cast<int>((end - at) / 4);
    // A masked store costs several plain ones even with no lane set.
    if (left == 0) {
        return;
    }
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(left), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(at), mask, lanes);
}

// A row of colour or depth values set to one value.
template <typename T>
void FillRow(T* p, int32_t n, T v)
{
    static_assert(sizeof(T) == 4);
    static const bool wide = __builtin_cpu_supports("avx2");
    if (n <= 0) {
        return;
    }
    if (wide) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        FillWide(p, static_cast<size_t>(n), bits);
    } else {
        std::fill(p, p + n, v);
    }
}

}  // namespace

void SettleDepth(const RecordedFrame& frame, const Target& target, int tile)
{
    if (target.pendingDepth == nullptr || target.depth == nullptr || target.pendingDepth[tile] == kNoPendingDepth) {
        return;
    }
    const int32_t tx = tile % frame.tilesX, ty = tile / frame.tilesX;
    const int32_t x0 = tx * frame.tileWidth, y0 = ty * frame.tileHeight;
    const int32_t x1 = std::min(x0 + frame.tileWidth, target.width);
    const int32_t y1 = std::min(y0 + frame.tileHeight, target.height);
    for (int32_t y = y0; y < y1; ++y) {
        FillRow(target.depth + static_cast<size_t>(y) * target.width + x0, x1 - x0, target.pendingDepth[tile]);
    }
    target.pendingDepth[tile] = kNoPendingDepth;
}

namespace {

// True when the entry after the one at `at` in the tile's bin writes every
// pixel of the tile without reading it: an opaque rectangle over the whole
// tile with no test or mask (a background image drawn right after the clear).
// Clearing the colour first would be wasted.
bool Overdrawn(const RecordedFrame& frame, int tile, size_t at, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    const std::vector<uint32_t>& bin = frame.bins[tile];
    if (at + 1 >= bin.size() || (bin[at + 1] & ~kBinIndexMask) != kBinPrim) {
        return false;
    }
    const Prim& pr = frame.prims[bin[at + 1] & kBinIndexMask];
    const PixelState& ps = frame.states[pr.state];
    // A rectangle's coverage is its box exactly; fastBlend 0 means no blend,
    // alpha test, depth test or write mask.
    return pr.kind == KindTriangle && pr.edgeCount == 4 && ps.fastBlend == 0 && pr.minX <= x0 && pr.maxX >= x1 &&
           pr.minY <= y0 && pr.maxY >= y1;
}

}  // namespace

int WidestSpans()
{
    return __builtin_cpu_supports("avx2") ? kSpansWide : kSpansSse2;
}

namespace {

// SpriteTexels, inlined into MarkSprite, which runs for every rectangle.
inline bool SpriteTexelsOf(const Plane& sp, const Plane& tp, int32_t width, int32_t minX, int32_t minY, int32_t maxX,
                           int32_t maxY, int64_t* column, int64_t* row)
{
    // Across: one texel a pixel, every column inside the texture.
    int64_t firstColumn = 0;
    if (sp.dy != 0.0 || ToFixed(tp.dx) != 0 || !OneTexelAPixel(ToFixed(sp.a), ToFixed(sp.dx), minX, maxX, width, &firstColumn)) {
        return false;
    }
    // Down: a row's texel row is the floor of a + dy y in doubles. When
    // that cannot step by more than one texel a row (by less than one, with
    // room for the rounding of the sum well under 2^20, or by exactly one
    // where the sum is exact), the first and last rows likewise tell
    // whether every row steps by one.
    const double scaled = tp.a * kFixOne;
    const bool small = tp.a > -1048576.0 && tp.a < 1048576.0 && minY >= 0 && maxY < 1048576;
    const bool stepsAtMostOne =
        small && ((tp.dy > 0.0 && tp.dy <= 1.0 - 0x1p-30) ||
                  (tp.dy == 1.0 && scaled == static_cast<double>(static_cast<int64_t>(scaled))));
    if (!stepsAtMostOne) {
        return false;
    }
    const int64_t t0 = ToFixed(tp.a + tp.dy * minY) >> 32, t1 = ToFixed(tp.a + tp.dy * maxY) >> 32;
    *column = firstColumn - minX;
    *row = t0 - minY;
    return t1 - t0 == maxY - minY;
}

}  // namespace

bool SpriteTexels(const Plane& sp, const Plane& tp, int32_t width, int32_t minX, int32_t minY, int32_t maxX,
                  int32_t maxY, int64_t* column, int64_t* row)
{
    return SpriteTexelsOf(sp, tp, width, minX, minY, maxX, maxY, column, row);
}

void MarkSprite(const RecordedFrame& frame, Prim& pr)
{
    // The fields are read one at a time: the primitive has just been
    // written field by field, and one wide load across several of those
    // stores would wait for them all to reach the cache.
    pr.sprite = false;
    const uint8_t fastSpan = pr.fastSpan;
    if (fastSpan < 1 || fastSpan > 6) {
        return;
    }
    // Only rectangles have four edges.
    const uint8_t edges = pr.edgeCount;
    if (edges != 4 || pr.minX > pr.maxX || pr.minY > pr.maxY) {
        return;
    }
    // Stage 0's coordinate planes are there only when the state has it.
    const PixelState& ps = frame.states[pr.state];
    const TexView& tex = ps.stage[0].tex;
    if (ps.stageCount < 1 || tex.texels == nullptr) {
        return;
    }
    const Plane* planes = frame.planes.data() + pr.planeBase;
    int64_t column = 0, row = 0;
    if (!SpriteTexelsOf(planes[SlotTex], planes[SlotTex + 1], tex.width, pr.minX, pr.minY, pr.maxX, pr.maxY, &column,
                        &row) ||
        column < INT16_MIN || column > INT16_MAX || row < INT16_MIN || row > INT16_MAX) {
        return;
    }
    pr.sprite = true;
    pr.spriteColumn = static_cast<int16_t>(column);
    pr.spriteRow = static_cast<int16_t>(row);
}

namespace {

// Whether a band's primitives, from the one at `first` in its bin on, may
// be drawn in two passes (see RunTile): all foreshortened sampled spans
// with no blend that test (less, or less or equal) and write the depth,
// so that a pixel's colour is that of the last primitive to pass its test
// and reads nothing of the target, and enough of them to overlap.
bool TwoPassBand(const RecordedFrame& frame, const std::vector<uint32_t>& bin, size_t first)
{
    constexpr size_t kEnough = 4;
    if (bin.size() - first < kEnough) {
        return false;
    }
    for (size_t i = first; i < bin.size(); ++i) {
        if ((bin[i] & ~kBinIndexMask) != kBinPrim) {
            return false;
        }
        const Prim& pr = frame.prims[bin[i] & kBinIndexMask];
        if (pr.kind != KindTriangle || !pr.perspective || pr.fastSpan < kSampledSpanBase) {
            return false;
        }
        const PixelState& ps = frame.states[pr.state];
        const bool linear = (pr.linearStages & 1) != 0;
        if (pr.fastSpan != SampledSpanIndex(true, linear, FastOpaque) || !ps.zTest || !ps.zWrite ||
            (ps.zFunc != CmpLessEqual && ps.zFunc != CmpLess) || SampledNarrow(ps.stage[0], linear, true)) {
            return false;
        }
    }
    return true;
}

}  // namespace

void RunTile(const RecordedFrame& frame, const Target& target, int tile, int spanLevel)
{
    const int32_t tx = tile % frame.tilesX, ty = tile / frame.tilesX;
    const int32_t x0 = tx * frame.tileWidth, y0 = ty * frame.tileHeight;
    const int32_t x1 = std::min(x0 + frame.tileWidth, target.width) - 1;
    const int32_t y1 = std::min(y0 + frame.tileHeight, target.height) - 1;
    const std::vector<uint32_t>& bin = frame.bins[tile];
    SpanScratch scratch;
    // Opaque depth-tested 3D scenes colour each pixel once rather than once
    // for every surface that passes its test on the way: from the band's
    // first primitive on, the first pass tests and writes the depth and
    // marks each pixel with the number of the last primitive to pass it
    // there; the second colours each primitive's marked pixels, over the
    // rows the first pass kept for it rather than walking its edges again.
    // The depth and the colour come out as drawing the primitives one by
    // one gives.
    size_t firstPrim = 0;
    while (firstPrim < bin.size() && (bin[firstPrim] & ~kBinIndexMask) != kBinPrim) {
        ++firstPrim;
    }
    // Each primitive's rows in a tile of at most kBandRows rows come in one
    // call of its span function, which the second pass repeats.
    const bool twoPass = spanLevel >= kSpansWide && target.depth != nullptr && y1 - y0 < kBandRows &&
                         TwoPassBand(frame, bin, firstPrim);
    thread_local std::vector<uint32_t> owners;
    thread_local std::vector<uint8_t> owned;
    thread_local std::vector<BandRows> kept;
    if (twoPass) {
        const size_t stride = static_cast<size_t>(x1 - x0 + 1);
        // No primitive's number is ~0: bins hold fewer than 2^30 entries.
        owners.assign(stride * static_cast<size_t>(y1 - y0 + 1) + 7, ~0u);
        owned.assign(bin.size(), 0);
        if (kept.size() < bin.size()) {
            kept.resize(bin.size());
        }
        scratch.kept = kept.data();
        scratch.owners = owners.data();
        scratch.ownersX = x0;
        scratch.ownersY = y0;
        scratch.ownersStride = static_cast<int32_t>(stride);
    }
    for (size_t entryIndex = 0; entryIndex < bin.size(); ++entryIndex) {
        if (twoPass && entryIndex >= firstPrim) {
            scratch.pass = 1;
            scratch.number = static_cast<uint32_t>(entryIndex);
            scratch.owned = false;
        }
        const uint32_t entry = bin[entryIndex];
        const uint32_t index = entry & kBinIndexMask;
        // Primitives and their planes are read from all over the frame's
        // arrays: ask for the ones two entries on, and for the planes of
        // the next, while this one runs.
        if (entryIndex + 2 < bin.size() && (bin[entryIndex + 2] & ~kBinIndexMask) == kBinPrim) {
            const Prim* ahead = frame.prims.data() + (bin[entryIndex + 2] & kBinIndexMask);
            __builtin_prefetch(ahead);
            __builtin_prefetch(reinterpret_cast<const char*>(ahead) + 64);
            __builtin_prefetch(reinterpret_cast<const char*>(ahead) + 128);
        }
        if (entryIndex + 1 < bin.size() && (bin[entryIndex + 1] & ~kBinIndexMask) == kBinPrim) {
            const Plane* next = frame.planes.data() + frame.prims[bin[entryIndex + 1] & kBinIndexMask].planeBase;
            __builtin_prefetch(next);
            __builtin_prefetch(reinterpret_cast<const char*>(next) + 64);
            __builtin_prefetch(reinterpret_cast<const char*>(next) + 128);
        }
        switch (entry & ~kBinIndexMask) {
        case kBinClear: {
            const ClearCmd& cl = frame.clears[index];
            const int32_t l = std::max(cl.left, x0), r = std::min(cl.right - 1, x1);
            const int32_t t = std::max(cl.top, y0), b = std::min(cl.bottom - 1, y1);
            bool fillDepth = (cl.flags & ClearZBuffer) && target.depth != nullptr;
            if (fillDepth && target.pendingDepth != nullptr) {
                if (l == x0 && r == x1 && t == y0 && b == y1) {
                    // The whole tile: remember the value, write it only if
                    // something reads the depth here.
                    target.pendingDepth[tile] = cl.z;
                    fillDepth = false;
                } else {
                    SettleDepth(frame, target, tile);
                }
            }
            const bool fillColor = (cl.flags & ClearTarget) && !Overdrawn(frame, tile, entryIndex, x0, y0, x1, y1);
            for (int32_t y = t; y <= b; ++y) {
                if (fillColor) {
                    FillRow(target.color + static_cast<size_t>(y) * target.width + l, r - l + 1, cl.color);
                }
                if (fillDepth) {
                    FillRow(target.depth + static_cast<size_t>(y) * target.width + l, r - l + 1, cl.z);
                }
            }
            break;
        }
        case kBinCopy: {
            const CopyCmd& cp = frame.copies[index];
            const int32_t l = std::max(cp.left, x0), r = std::min(cp.right - 1, x1);
            const int32_t t = std::max(cp.top, y0), b = std::min(cp.bottom - 1, y1);
            for (int32_t y = t; y <= b && l <= r; ++y) {
                const uint32_t* src = cp.source.texels + static_cast<size_t>(cp.srcTop + (y - cp.top)) * cp.source.width +
                                      cp.srcLeft + (l - cp.left);
                std::memcpy(target.color + static_cast<size_t>(y) * target.width + l, src,
                            static_cast<size_t>(r - l + 1) * 4);
            }
            break;
        }
        default: {
            const Prim& pr = frame.prims[index];
            const Plane* planes = frame.planes.data() + pr.planeBase;
            const PixelState& ps = frame.states[pr.state];
            if (ps.zTest && target.pendingDepth != nullptr && target.pendingDepth[tile] != kNoPendingDepth) {
                SettleDepth(frame, target, tile);
            }
            if (pr.kind == KindTriangle) {
                RunTriangle(pr, planes, ps, target, x0, y0, x1, y1, spanLevel, scratch);
            } else if (pr.kind == KindLine) {
                RunLine(pr, planes, ps, target, x0, y0, x1, y1);
            } else if (pr.minX >= x0 && pr.minX <= x1 && pr.minY >= y0 && pr.minY <= y1) {
                SpanCtx c{&pr, planes, &ps, target.color + static_cast<size_t>(pr.minY) * target.width,
                          target.depth != nullptr ? target.depth + static_cast<size_t>(pr.minY) * target.width
                                                  : nullptr};
                PixelGeneral(c, pr.minX, pr.minY);
            }
            break;
        }
        }
        if (scratch.pass == 1) {
            owned[entryIndex] = scratch.owned;
        }
    }
    if (!twoPass) {
        return;
    }
    scratch.pass = 2;
    for (size_t entryIndex = firstPrim; entryIndex < bin.size(); ++entryIndex) {
        if (!owned[entryIndex]) {
            continue;
        }
        const Prim& pr = frame.prims[bin[entryIndex] & kBinIndexMask];
        scratch.number = static_cast<uint32_t>(entryIndex);
        SpanCtx c{&pr, frame.planes.data() + pr.planeBase, &frame.states[pr.state], nullptr, nullptr};
        c.tileRight = x1;
        c.scratch = &scratch;
        const BandRows& rows = kept[entryIndex];
        kSampledRowsWide[pr.fastSpan - kSampledSpanBase](c, target, rows.py0, rows.count, rows.lo, rows.hi);
    }
}

}  // namespace platform
