// The vertex stage: a draw's pixel state is captured, its vertices fetched
// by their format, transformed, clipped and mapped to the viewport, and its
// primitives set up and binned at once (setup.cpp). The stages are
// FixedDraw's; the vertex shader's draw (vertex_shader.cpp) shares the
// reading of a draw, the clipping and the mapping (vertex_stages.h).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <emmintrin.h>
#include <new>

#include "platform/gfx/device_core.h"
#include "platform/gfx/pixel_shader.h"
#include "platform/gfx/spans.h"
#include "platform/gfx/vertex_stages.h"

namespace platform {

// ---------------------------------------------------------------------------
// Drawing

uint32_t DeviceCore::CurrentState()
{
    if (!stateDirty && !frame.states.empty()) {
        return static_cast<uint32_t>(frame.states.size() - 1);
    }
    PixelState ps;
    ps.stageCount = 0;
    // What a stage's texture read needs: the texture, addressing, filters.
    auto sampler = [&](int s, StageSnap& st) {
        const uint32_t* t = tss[s];
        st.addressU = static_cast<uint8_t>(t[TssAddressU]);
        st.addressV = static_cast<uint8_t>(t[TssAddressV]);
        st.magFilter = static_cast<uint8_t>(t[TssMagFilter]);
        st.minFilter = static_cast<uint8_t>(t[TssMinFilter]);
        st.borderColor = t[TssBorderColor];
        if (textures[s] != nullptr) {
            st.tex = textures[s]->image->View();
            UseImage(textures[s]->image.get());
        }
    };
    for (int s = 0; s < kStageCount && pixelProgram == nullptr; ++s) {
        const uint32_t* t = tss[s];
        if (t[TssColorOp] == TopDisable) {
            break;
        }
        StageSnap& st = ps.stage[s];
        st.colorOp = static_cast<uint8_t>(t[TssColorOp]);
        st.colorArg1 = static_cast<uint8_t>(t[TssColorArg1]);
        st.colorArg2 = static_cast<uint8_t>(t[TssColorArg2]);
        st.colorArg0 = static_cast<uint8_t>(t[TssColorArg0]);
        st.alphaOp = static_cast<uint8_t>(t[TssAlphaOp]);
        st.alphaArg1 = static_cast<uint8_t>(t[TssAlphaArg1]);
        st.alphaArg2 = static_cast<uint8_t>(t[TssAlphaArg2]);
        st.alphaArg0 = static_cast<uint8_t>(t[TssAlphaArg0]);
        st.resultArg = static_cast<uint8_t>(t[TssResultArg]);
        st.coordSet = static_cast<uint8_t>(t[TssTexCoordIndex] & 7);
        sampler(s, st);
        ps.stageCount = s + 1;
    }
    ps.blend = rs[RsAlphaBlendEnable] != 0;
    ps.srcBlend = static_cast<uint8_t>(rs[RsSrcBlend]);
    ps.destBlend = static_cast<uint8_t>(rs[RsDestBlend]);
    ps.blendOp = static_cast<uint8_t>(rs[RsBlendOp]);
    ps.alphaTest = rs[RsAlphaTestEnable] != 0;
    ps.alphaFunc = static_cast<uint8_t>(rs[RsAlphaFunc]);
    ps.alphaRef = static_cast<uint8_t>(rs[RsAlphaRef] & 0xFF);
    ps.zTest = rs[RsZEnable] != 0 && depth != nullptr;
    ps.zWrite = rs[RsZWriteEnable] != 0;
    ps.zFunc = static_cast<uint8_t>(rs[RsZFunc]);
    ps.specular = rs[RsSpecularEnable] != 0;
    ps.fog = rs[RsFogEnable] != 0;
    ps.fogColor = rs[RsFogColor];
    ps.tfactor = rs[RsTextureFactor];
    ps.writeMask = rs[RsColorWriteEnable] & 0xF;

    // Which fast span family may run this state.
    const bool plain = !ps.alphaTest && !ps.zTest && !ps.specular && !ps.fog && ps.writeMask == 0xF;
    int8_t blendKind = -1;
    if (!ps.blend || (ps.srcBlend == BlendOne && ps.destBlend == BlendZero && ps.blendOp == BlendOpAdd)) {
        blendKind = 0;
    } else if (ps.blendOp == BlendOpAdd && ps.srcBlend == BlendSrcAlpha && ps.destBlend == BlendInvSrcAlpha) {
        blendKind = 1;
    } else if (ps.blendOp == BlendOpAdd && ps.srcBlend == BlendSrcAlpha && ps.destBlend == BlendOne) {
        blendKind = 2;
    }
    ps.fastBlend = plain ? blendKind : -1;
    ps.sampledBlend = !ps.alphaTest && !ps.specular && !ps.fog && ps.writeMask == 0xF ? blendKind : -1;
    bool textured = false;
    bool stageZeroFolds = false;
    if (ps.stageCount == 1) {
        const StageSnap& st = ps.stage[0];
        auto isDiffuse = [](uint8_t a) { return a == TaDiffuse || a == TaCurrent; };
        auto textureTerm = [&](uint8_t op, uint8_t a1, uint8_t a2) {
            return (op == TopModulate && ((a1 == TaTexture && isDiffuse(a2)) || (a2 == TaTexture && isDiffuse(a1)))) ||
                   (op == TopSelectArg1 && a1 == TaTexture) || (op == TopSelectArg2 && a2 == TaTexture);
        };
        const bool sampled = st.tex.texels != nullptr && st.resultArg == TaCurrent &&
                             textureTerm(st.colorOp, st.colorArg1, st.colorArg2) &&
                             textureTerm(st.alphaOp, st.alphaArg1, st.alphaArg2);
        textured = sampled && st.magFilter <= FilterPoint && st.minFilter <= FilterPoint;
        auto plainAddress = [](uint32_t mode) { return mode == AddressWrap || mode == AddressClamp; };
        ps.fastSampled = sampled && plainAddress(st.addressU) && plainAddress(st.addressV);
        stageZeroFolds = st.tex.texels == nullptr;
    }
    ps.fastTextured = textured;
    // A 1:1 additive sprite adds the texels times their alpha: made once for
    // the texture rather than for every pixel of every sprite.
    if (textured && ps.fastBlend == FastAdd && textures[0] != nullptr) {
        ps.stage[0].tex.premultiplied = textures[0]->image->Premultiplied();
    }
    // Without a texture the stages see only constants when the triangle's
    // colours are even, so they fold into one colour.
    ps.fastUntextured = ps.stageCount == 0 || stageZeroFolds;
    if (pixelProgram != nullptr) {
        // The pixel shader colours the pixels: no fast span family, and its
        // program, constants and stages are kept with the state.
        ps.fastBlend = -1;
        ps.fastTextured = false;
        ps.fastUntextured = false;
        ps.sampledBlend = -1;
        ps.fastSampled = false;
        PixelShaderSnap& snap = frame.shaderSnaps.emplace_back();
        snap.program = pixelProgram;
        std::memcpy(snap.constants, pixelConstants, sizeof snap.constants);
        pixelProgram->ApplyDefinitions(snap.constants);
        for (auto& row : snap.constants) {
            for (float& v : row) {
                // Constants are read within -1 to 1; what is not a number as 0.
                v = v > -1.0f ? (v < 1.0f ? v : 1.0f) : (v == v ? -1.0f : 0.0f);
            }
        }
        for (int s = 0; s < kPixelShaderStages; ++s) {
            if (pixelProgram->GetStageMask() >> s & 1u) {
                sampler(s, snap.stage[s]);
            }
            const uint32_t* t = tss[s];
            BumpSnap& b = snap.bump[s];
            b.matrix[0] = BitsFloat(t[TssBumpEnvMat00]);
            b.matrix[1] = BitsFloat(t[TssBumpEnvMat01]);
            b.matrix[2] = BitsFloat(t[TssBumpEnvMat10]);
            b.matrix[3] = BitsFloat(t[TssBumpEnvMat11]);
            b.scale = BitsFloat(t[TssBumpEnvLScale]);
            b.offset = BitsFloat(t[TssBumpEnvLOffset]);
        }
        ps.shader = &snap;
    }
    frame.states.push_back(ps);
    stateDirty = false;
    return static_cast<uint32_t>(frame.states.size() - 1);
}

namespace {

// ---------------------------------------------------------------------------
// Fetch: a vertex's fields where its format lays them out

struct VertexLayout {
    int stride = 0;
    bool transformed = false;
    int diffuse = -1, specular = -1;
    int tex[kTexCoordSets] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int texFloats[kTexCoordSets] = {};
    int texSets = 0;
};

VertexLayout LayoutOf(uint32_t fvf)
{
    VertexLayout l;
    l.stride = FvfStride(fvf);
    if (l.stride == 0) {
        return l;
    }
    int off = 0;
    if ((fvf & FvfPositionMask) == FvfXyzRhw) {
        l.transformed = true;
        off = 16;
    } else {
        off = 12;
    }
    if (fvf & FvfNormal) {
        off += 12;
    }
    if (fvf & FvfPointSize) {
        off += 4;
    }
    if (fvf & FvfDiffuse) {
        l.diffuse = off;
        off += 4;
    }
    if (fvf & FvfSpecular) {
        l.specular = off;
        off += 4;
    }
    l.texSets = static_cast<int>((fvf & FvfTexCountMask) >> FvfTexCountShift);
    for (int i = 0; i < l.texSets; ++i) {
        static const int kFloats[4] = {2, 3, 4, 1};
        l.tex[i] = off;
        l.texFloats[i] = kFloats[(fvf >> (16 + 2 * i)) & 3];
        off += 4 * l.texFloats[i];
    }
    return l;
}

inline float ReadFloat(const uint8_t* p)
{
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

inline uint32_t ReadU32(const uint8_t* p)
{
    uint32_t u;
    std::memcpy(&u, p, 4);
    return u;
}

// The four bytes of a colour (blue first) as 0 .. 255 floats.
inline void SetColor(float out[4], uint32_t c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lanes = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c)), zero), zero);
    _mm_storeu_ps(out, _mm_cvtepi32_ps(lanes));
}

// ---------------------------------------------------------------------------
// Transform: world, view and projection, and what else the position gives

Matrix4 Multiply(const Matrix4& a, const Matrix4& b)
{
    Matrix4 r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k) {
                s += a.m[i][k] * b.m[k][j];
            }
            r.m[i][j] = s;
        }
    }
    return r;
}

// An untransformed position's clip-space position, its distances to the
// enabled user clip planes (given in world space) and its vertex fog.
class Transform {
public:
    Transform(const DeviceCore& dc, bool transformed)
        : world(dc.world), wv(Multiply(dc.world, dc.view)),
          fog(dc.rs[RsFogEnable] != 0 && !transformed &&
              (dc.rs[RsFogVertexMode] == FogLinear || dc.rs[RsFogTableMode] == FogLinear)),
          fogStart(BitsFloat(dc.rs[RsFogStart])), fogEnd(BitsFloat(dc.rs[RsFogEnd])),
          userPlanes(transformed ? 0u : dc.rs[RsClipPlaneEnable] & ((1u << SoftDevice::kMaxClipPlanes) - 1u)),
          clipPlanes(dc.clipPlanes)
    {
        const Matrix4 wvp = Multiply(wv, dc.projection);
        for (int r = 0; r < 4; ++r) {
            wvpRow[r] = _mm_loadu_ps(wvp.m[r]);
        }
    }

    // Clip coordinates: x m0c + y m1c + z m2c + m3c for the four columns at
    // once, each lane summed in that order.
    void ToClip(float x, float y, float z, float* clip) const
    {
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(x), wvpRow[0]),
                                                            _mm_mul_ps(_mm_set1_ps(y), wvpRow[1])),
                                                 _mm_mul_ps(_mm_set1_ps(z), wvpRow[2])),
                                      wvpRow[3]);
        _mm_storeu_ps(clip, sum);
    }

    void UserDistances(float x, float y, float z, float* user) const
    {
        float w[4];
        for (int c = 0; c < 4; ++c) {
            w[c] = x * world.m[0][c] + y * world.m[1][c] + z * world.m[2][c] + world.m[3][c];
        }
        for (uint32_t k = 0; k < SoftDevice::kMaxClipPlanes; ++k) {
            const float* pl = clipPlanes[k];
            user[k] = (userPlanes >> k & 1u) ? pl[0] * w[0] + pl[1] * w[1] + pl[2] * w[2] + pl[3] * w[3] : 0.0f;
        }
    }

    // Linear vertex fog from the depth in view space, 0 to 255.
    float Fog(float x, float y, float z) const
    {
        const float depthView = x * wv.m[0][2] + y * wv.m[1][2] + z * wv.m[2][2] + wv.m[3][2];
        const float f = fogEnd != fogStart ? (fogEnd - depthView) / (fogEnd - fogStart) : 1.0f;
        return std::clamp(f, 0.0f, 1.0f) * 255.0f;
    }

    const Matrix4 world, wv;
    __m128 wvpRow[4];
    const bool fog;
    const float fogStart, fogEnd;
    const uint32_t userPlanes;   // enabled user clip planes: untransformed vertices only

private:
    const float (*clipPlanes)[4];
};

// ---------------------------------------------------------------------------
// Clip: against the view volume and the user planes, or the guard band

// A vertex in clip space with its attributes, while it is being clipped.
struct ClipVertex {
    float p[4];   // x, y, z, w (clip space) or x, y (screen) for the guard band
    // Signed distances to the enabled user clip planes, in world space.
    float user[SoftDevice::kMaxClipPlanes] = {};
    ScreenVertex v;
};

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t)
{
    ClipVertex r;
    for (uint32_t k = 0; k < SoftDevice::kMaxClipPlanes; ++k) {
        r.user[k] = a.user[k] + (b.user[k] - a.user[k]) * t;
    }
    for (int i = 0; i < 4; ++i) {
        r.p[i] = a.p[i] + (b.p[i] - a.p[i]) * t;
        r.v.color[i] = a.v.color[i] + (b.v.color[i] - a.v.color[i]) * t;
        r.v.spec[i] = a.v.spec[i] + (b.v.spec[i] - a.v.spec[i]) * t;
    }
    for (int i = 0; i < kTexCoordSets; ++i) {
        for (int k = 0; k < 4; ++k) {
            r.v.tc[i][k] = a.v.tc[i][k] + (b.v.tc[i][k] - a.v.tc[i][k]) * t;
        }
    }
    r.v.x = a.v.x + (b.v.x - a.v.x) * t;
    r.v.y = a.v.y + (b.v.y - a.v.y) * t;
    r.v.z = a.v.z + (b.v.z - a.v.z) * t;
    r.v.rhw = a.v.rhw + (b.v.rhw - a.v.rhw) * t;
    return r;
}

// Distance to clip plane `plane` as ClipPlanes numbers them.
inline float PlaneDistance(const ClipVertex& c, int plane)
{
    return plane < kViewPlanes ? ViewPlaneDistance(c.p, plane) : c.user[plane - kViewPlanes];
}

// Pre-transformed vertices beyond this many pixels are clipped in screen
// space so that the fixed-point edge functions cannot overflow.
constexpr float kGuardBand = 32768.0f;

inline bool InGuard(const ClipVertex& x)
{
    return std::fabs(x.v.x) <= kGuardBand && std::fabs(x.v.y) <= kGuardBand;
}

// A pre-transformed polygon clipped to the guard band in screen space, as
// ClipPolygon clips (its screen x and y in p).
int ClipToGuardBand(ClipVertex*& poly, ClipVertex*& other, int n)
{
    for (int axis = 0; axis < 2 && n >= 3; ++axis) {
        n = ClipAgainst(poly, n, other, [axis](const ClipVertex& c) { return kGuardBand - c.p[axis]; });
        std::swap(poly, other);
        n = ClipAgainst(poly, n, other, [axis](const ClipVertex& c) { return kGuardBand + c.p[axis]; });
        std::swap(poly, other);
    }
    for (int i = 0; i < n; ++i) {
        poly[i].v.x = poly[i].p[0];
        poly[i].v.y = poly[i].p[1];
    }
    return n;
}

// The clipper's two polygons (three corners and one more per plane each).
struct ClipBuffers {
    ClipVertex a[16], b[16];
};

// Kept from draw to draw: draws are recorded on the device's thread only,
// and a draw that clips nothing should not pay for setting them up.
ClipBuffers& TheClipBuffers()
{
    static thread_local ClipBuffers buffers;
    return buffers;
}

}  // namespace

bool DrawSource::TouchedRange(uint64_t* first, uint64_t* last) const
{
    uint64_t lo = UINT64_MAX, hi = 0;
    for (uint64_t i = 0; i < needed; ++i) {
        const uint64_t v = VertexOf(i);
        if (v < vertexCount) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (lo == UINT64_MAX) {
        return false;
    }
    *first = lo;
    *last = hi;
    return true;
}

GfxResult CheckDraw(uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData, uint32_t vertexBytes,
                    uint32_t vertexSize, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                    uint32_t indexFormat, uint32_t baseVertex, const char* what, DrawSource* source)
{
    if (type < PrimPointList || type > PrimTriangleFan || primitiveCount == 0) {
        return kGfxInvalidCall;
    }
    uint64_t needed = 0;
    switch (type) {
    case PrimPointList: needed = primitiveCount; break;
    case PrimLineList: needed = 2ull * primitiveCount; break;
    case PrimLineStrip: needed = primitiveCount + 1ull; break;
    case PrimTriangleList: needed = 3ull * primitiveCount; break;
    default: needed = primitiveCount + 2ull; break;
    }
    const uint32_t indexSize = indexFormat == FormatIndex32 ? 4 : 2;
    if (indexData != nullptr && needed * indexSize > indexBytes) {
        std::fprintf(stderr, "gfx: %s reads %llu indices past the index data\n", what,
                     static_cast<unsigned long long>(needed));
        return kGfxInvalidCall;
    }
    const uint64_t vertexCount = vertexBytes < vertexSize ? 0 : (vertexBytes - vertexSize) / stride + 1;
    if (indexData == nullptr && needed > vertexCount) {
        std::fprintf(stderr, "gfx: %s reads %llu vertices of %llu\n", what, static_cast<unsigned long long>(needed),
                     static_cast<unsigned long long>(vertexCount));
        return kGfxInvalidCall;
    }
    source->type = type;
    source->primitiveCount = primitiveCount;
    source->vertexData = vertexData;
    source->stride = stride;
    source->vertexCount = vertexCount;
    source->indexData = indexData;
    source->indexSize = indexSize;
    source->baseVertex = baseVertex;
    source->needed = needed;
    return kGfxOk;
}

namespace {

// What SetupEvenQuad would take, left in the frame for another thread to
// set up; false when SetupEvenQuad would turn it away. Kept out of the
// recording loop, which runs on one thread without it.
__attribute__((noinline)) bool DeferQuad(DeviceCore& dc, uint32_t state, const EvenQuad& q, uint32_t cull,
                                         const ClipBox& box, QuadSpanMemo* memo)
{
    if (!EvenQuadFits(dc.frame.states[state], q, memo)) {
        return false;
    }
    // Made from its fields (made empty first, it would be cleared and then
    // written over).
    dc.frame.deferred.push_back(DeferredQuad{q, state, cull, box, dc.drawSerial});
    // The frame is worth handing off by the pixels it covers: its box, near
    // enough (set-up clips it later).
    dc.frame.area += static_cast<uint64_t>(std::fabs(q.corner[2].x - q.corner[0].x) *
                                           std::fabs(q.corner[2].y - q.corner[0].y));
    dc.frame.empty = false;
    return true;
}

// One fixed-function draw on its way through the stages: its vertices
// fetched by their format and transformed, its primitives clipped and
// mapped to the viewport, then set up and binned.
class FixedDraw {
public:
    FixedDraw(DeviceCore& dc, const DrawSource& src, const VertexLayout& layout, uint32_t state)
        : dc(dc), src(src), layout(layout), state(state),
          box{static_cast<int32_t>(dc.viewport.x), static_cast<int32_t>(dc.viewport.y),
              static_cast<int32_t>(dc.viewport.x + dc.viewport.width) - 1,
              static_cast<int32_t>(dc.viewport.y + dc.viewport.height) - 1},
          flat(dc.rs[RsShadeMode] == ShadeFlat), cull(dc.rs[RsCullMode]), fill(dc.rs[RsFillMode]),
          lastPixel(dc.rs[RsLastPixel] != 0), transform(dc, layout.transformed), planes(transform.userPlanes),
          viewport(dc.viewport), buffers(TheClipBuffers())
    {
    }

    void Points();
    void Lines();
    void Triangles();
    // Set when primitives were skipped for indices past the vertices.
    bool badIndex = false;

private:
    // --- fetch and transform ---
    // Vertex vi of the data: its clip-space position (or screen position),
    // user clip distances and the attributes of its screen vertex. Fields
    // the format does not give are left as they are.
    void FetchInto(uint64_t vi, float* clip, float* user, ScreenVertex& v) const
    {
        const uint8_t* p = src.vertexData + vi * src.stride;
        if (layout.diffuse >= 0) {
            SetColor(v.color, ReadU32(p + layout.diffuse));
        }
        if (layout.specular >= 0) {
            SetColor(v.spec, ReadU32(p + layout.specular));
        }
        for (int s = 0; s < layout.texSets; ++s) {
            // Sizes the compiler knows, so that no call copies four floats.
            const uint8_t* t = p + layout.tex[s];
            switch (layout.texFloats[s]) {
            case 1: std::memcpy(v.tc[s], t, 4); break;
            case 2: std::memcpy(v.tc[s], t, 8); break;
            case 3: std::memcpy(v.tc[s], t, 12); break;
            default: std::memcpy(v.tc[s], t, 16); break;
            }
        }
        const float x = ReadFloat(p), y = ReadFloat(p + 4), z = ReadFloat(p + 8);
        if (layout.transformed) {
            v.x = x;
            v.y = y;
            v.z = z;
            v.rhw = ReadFloat(p + 12);
            clip[0] = x;
            clip[1] = y;
            clip[2] = z;
            clip[3] = 1.0f;
            return;
        }
        transform.ToClip(x, y, z, clip);
        if (transform.userPlanes != 0) {
            transform.UserDistances(x, y, z, user);
        }
        if (transform.fog) {
            v.spec[3] = transform.Fog(x, y, z);
        }
    }
    // Vertex i of the draw as a clip vertex; false when its index lies
    // outside the vertex data.
    bool Fetch(uint64_t i, ClipVertex* out) const
    {
        const uint64_t vi = src.VertexOf(i);
        if (vi >= src.vertexCount) {
            return false;
        }
        FetchInto(vi, out->p, out->user, out->v);
        return true;
    }
    // Whether draw indices i and j name vertices whose fetched bytes are
    // all alike, so that their screen vertices are equal bit for bit
    // (every field is a copy or a one-to-one conversion of those bytes).
    bool SameData(uint64_t i, uint64_t j) const;

    // --- clip and map to the viewport ---
    static_assert(offsetof(ScreenVertex, rhw) == offsetof(ScreenVertex, x) + 12, "x, y, z, rhw lie together");
    void ToScreen(ClipVertex& c) const
    {
        if (!layout.transformed) {
            viewport.Map(c.p, &c.v.x);
        }
    }
    // Clips the polygon of n clip vertices in the first clip buffer and
    // sets it up as a fan; flat shaded with the colours of *flatFrom when
    // it is given.
    void Polygon(int n, const ScreenVertex* flatFrom);
    // A flat line takes the colours of its first vertex as drawn, clipped
    // or not.
    void Line(const ClipVertex& a, const ClipVertex& b);

    // --- set up and bin ---
    // A clipped polygon as a fan of triangles, or its edges or corners by
    // the fill mode.
    void SetUpPolygon(const ClipVertex* poly, int n, const ScreenVertex* flatFrom);

    // --- the triangles' quicker ways ---
    // Every vertex the draw touches transformed once, into dc.verts, and
    // whether each is inside every plane (dc.inside); false when the draw
    // is not one to take this way.
    bool TransformTouched();
    // Whether list triangles may go to SetupEvenQuad straight from the
    // data, two at a time (see QuadReader), and whether they are left to
    // the workers' set-up.
    void PrepareQuads();
    // Fetched triangle i (a, b, c) with the next one as one rectangle when
    // they make one.
    bool Rectangle(uint32_t i, const ClipVertex& a, const ClipVertex& b, const ClipVertex& c,
                   const ScreenVertex* flatFrom);

    DeviceCore& dc;
    const DrawSource& src;
    const VertexLayout& layout;
    uint32_t state;
    const ClipBox box;
    const bool flat;
    const uint32_t cull, fill;
    const bool lastPixel;
    const Transform transform;
    const ClipPlanes planes;
    const ViewportMap viewport;
    ClipBuffers& buffers;
    // What set-up chose for the draw's primitives so far (its state does
    // not change).
    QuadSpanMemo spanMemo;
    // The triangle after a fetched one, when it may make a rectangle with it.
    ClipVertex next[3];
    // The run of vertices TransformTouched transformed.
    uint64_t first = 0;
    // The even-quad way (PrepareQuads): whether it is taken, whether its
    // quads are left to the workers' set-up, where the u, v every stage
    // reads lie in a vertex (-1: none read or none given) and how many of
    // them the data gives.
    bool quads = false, defer = false;
    int quadTex = -1, quadFloats = 0;
};

// Fetch for the even-quad way: list triangles 2k and 2k + 1 read straight
// from the data as one quad. Its own copy of what it reads, apart from the
// draw's state that set-up may change, so that the recording loop keeps it
// in registers.
class QuadReader {
public:
    QuadReader(const DrawSource& src, const VertexLayout& layout, int tex, int floats)
        : vertexData(src.vertexData), indexData(src.indexData), stride(src.stride), vertexCount(src.vertexCount),
          src(src), vertexSize(static_cast<size_t>(layout.stride)), diffuse(layout.diffuse),
          specular(layout.specular), tex(tex), floats(floats)
    {
    }
    // Triangles i and i + 1 as a quad; false when they are not one quad of
    // one colour inside the guard band (they then go the general way).
    bool Read(uint32_t i, EvenQuad* q) const;

private:
    // Whether two vertices' bytes are alike (every field the format
    // gives, the unread point size included).
    bool SameBytes(const uint8_t* p, const uint8_t* q) const
    {
        if (vertexSize > 32) {
            return std::memcmp(p, q, vertexSize) == 0;
        }
        // Two loads of 16 that overlap when the vertex is shorter than 32.
        const uint8_t* pe = p + vertexSize - 16;
        const uint8_t* qe = q + vertexSize - 16;
        const __m128i head = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
        const __m128i tail = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pe)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(qe)));
        return _mm_movemask_epi8(_mm_and_si128(head, tail)) == 0xFFFF;
    }

    const uint8_t* const vertexData;
    const uint8_t* const indexData;
    const uint64_t stride, vertexCount;
    const DrawSource src;
    const size_t vertexSize;
    const int diffuse, specular, tex, floats;
};

bool FixedDraw::SameData(uint64_t i, uint64_t j) const
{
    const uint64_t vi = src.VertexOf(i), vj = src.VertexOf(j);
    if (vi >= src.vertexCount || vj >= src.vertexCount) {
        return false;
    }
    const uint8_t* p = src.vertexData + vi * src.stride;
    const uint8_t* q = src.vertexData + vj * src.stride;
    if (vi == vj) {
        return true;
    }
    if (std::memcmp(p, q, 16) != 0 ||
        (layout.diffuse >= 0 && std::memcmp(p + layout.diffuse, q + layout.diffuse, 4) != 0) ||
        (layout.specular >= 0 && std::memcmp(p + layout.specular, q + layout.specular, 4) != 0)) {
        return false;
    }
    for (int s = 0; s < layout.texSets; ++s) {
        const size_t bytes = 4 * static_cast<size_t>(layout.texFloats[s]);
        if (std::memcmp(p + layout.tex[s], q + layout.tex[s], bytes) != 0) {
            return false;
        }
    }
    return true;
}

void FixedDraw::Polygon(int n, const ScreenVertex* flatFrom)
{
    ClipVertex* poly = buffers.a;
    ClipVertex* other = buffers.b;
    if (layout.transformed) {
        bool inside = true;
        for (int i = 0; i < n; ++i) {
            if (!std::isfinite(poly[i].p[0]) || !std::isfinite(poly[i].p[1])) {
                return;
            }
            inside = inside && std::fabs(poly[i].p[0]) <= kGuardBand && std::fabs(poly[i].p[1]) <= kGuardBand;
        }
        if (!inside) {
            n = ClipToGuardBand(poly, other, n);
        }
    } else {
        n = ClipPolygon(poly, other, n, planes, [](const ClipVertex& c, int plane) { return PlaneDistance(c, plane); });
        for (int i = 0; i < n; ++i) {
            if (!(poly[i].p[3] > 0.0f)) {
                return;
            }
            ToScreen(poly[i]);
        }
    }
    if (n >= 3) {
        SetUpPolygon(poly, n, flatFrom);
    }
}

void FixedDraw::SetUpPolygon(const ClipVertex* poly, int n, const ScreenVertex* flatFrom)
{
    if (fill == FillSolid || fill == 0 || fill > FillSolid) {
        for (int k = 1; k + 1 < n; ++k) {
            SetupTriangle(dc.frame, state, poly[0].v, poly[k].v, poly[k + 1].v, cull, flatFrom, box, &spanMemo);
        }
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (fill == FillWireframe) {
            SetupLine(dc.frame, state, poly[i].v, poly[(i + 1) % n].v, flatFrom, true, box);
        } else {
            SetupPoint(dc.frame, state, poly[i].v, box);
        }
    }
}

void FixedDraw::Line(const ClipVertex& a, const ClipVertex& b)
{
    const ScreenVertex* from = &a.v;
    const ScreenVertex* to = &b.v;
    if (!layout.transformed) {
        ClipVertex* ends = buffers.a;
        ends[0] = a;
        ends[1] = b;
        if (!ClipLine(ends[0], ends[1], planes, [](const ClipVertex& c, int plane) { return PlaneDistance(c, plane); })) {
            return;
        }
        ToScreen(ends[0]);
        ToScreen(ends[1]);
        from = &ends[0].v;
        to = &ends[1].v;
    } else if (!std::isfinite(a.v.x) || !std::isfinite(a.v.y) || !std::isfinite(b.v.x) || !std::isfinite(b.v.y) ||
               std::fabs(a.v.x) > kGuardBand || std::fabs(a.v.y) > kGuardBand || std::fabs(b.v.x) > kGuardBand ||
               std::fabs(b.v.y) > kGuardBand) {
        return;
    }
    SetupLine(dc.frame, state, *from, *to, flat ? &a.v : nullptr, lastPixel, box);
}

void FixedDraw::Points()
{
    ClipVertex a;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        if (!Fetch(i, &a)) {
            badIndex = true;
            continue;
        }
        if (!layout.transformed) {
            if (!(a.p[3] > 0.0f) || std::fabs(a.p[0]) > a.p[3] || std::fabs(a.p[1]) > a.p[3] || a.p[2] < 0.0f ||
                a.p[2] > a.p[3]) {
                continue;
            }
            bool kept = true;
            for (uint32_t k = 0; k < SoftDevice::kMaxClipPlanes; ++k) {
                kept = kept && (!(transform.userPlanes >> k & 1u) || a.user[k] >= 0.0f);
            }
            if (!kept) {
                continue;
            }
            ToScreen(a);
        } else if (!std::isfinite(a.v.x) || !std::isfinite(a.v.y)) {
            continue;
        }
        SetupPoint(dc.frame, state, a.v, box);
    }
}

void FixedDraw::Lines()
{
    ClipVertex a, b;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        const uint64_t i0 = src.type == PrimLineList ? 2ull * i : i;
        if (!Fetch(i0, &a) || !Fetch(i0 + 1, &b)) {
            badIndex = true;
            continue;
        }
        Line(a, b);
    }
}

bool FixedDraw::TransformTouched()
{
    // Untransformed solid triangles only, whose vertices lie near enough
    // together that transforming all of them wastes little work. Without
    // indices the draw's vertices are the run 0 .. needed - 1 of the data
    // (all in it, as checked).
    const bool solid = fill == FillSolid || fill == 0 || fill > FillSolid;
    if (layout.transformed || !solid) {
        return false;
    }
    uint64_t last = src.needed - 1;
    first = 0;
    if (src.indexData != nullptr && (!src.TouchedRange(&first, &last) || last - first >= 2 * src.needed + 64)) {
        return false;
    }
    const size_t count = static_cast<size_t>(last - first + 1);
    // The scratch vertices are fetched into where they stay: what the
    // format does not give must hold its default, so they are made anew
    // when the last batch had other fields.
    const uint64_t key = static_cast<uint64_t>(dc.fvf) << 1 | (transform.fog ? 1u : 0u);
    if (key != dc.vertsKey) {
        dc.verts.assign(dc.verts.size(), ScreenVertex{});
        dc.vertsKey = key;
    }
    dc.verts.resize(count);
    dc.inside.resize(count);
    float p[4];
    float user[SoftDevice::kMaxClipPlanes] = {};
    const uint32_t userPlanes = transform.userPlanes;
    // Copies that no store to a vertex can touch, kept in registers.
    const Transform toClip = transform;
    const ViewportMap toScreen = viewport;
    // The usual mesh vertex (a position, a colour and one pair of
    // coordinates; no clip planes, no vertex fog) is fetched without asking
    // the format of each field: what FetchInto does for it.
    const bool usual = userPlanes == 0 && !transform.fog && layout.diffuse >= 0 && layout.specular < 0 &&
                       layout.texSets == 1 && layout.texFloats[0] == 2;
    const uint8_t* data = src.vertexData + first * src.stride;
    for (size_t k = 0; k < count; ++k, data += src.stride) {
        ScreenVertex& v = dc.verts[k];
        if (usual) {
            SetColor(v.color, ReadU32(data + layout.diffuse));
            std::memcpy(v.tc[0], data + layout.tex[0], 8);
            toClip.ToClip(ReadFloat(data), ReadFloat(data + 4), ReadFloat(data + 8), p);
        } else {
            FetchInto(first + k, p, user, v);
        }
        // Inside the view volume, -w <= x, y <= w and 0 <= z <= w, by the
        // distances the clipper takes (w + x, w - x, ..., z, w - z at least
        // 0, and w above it), a register at a time.
        const __m128 c = _mm_loadu_ps(p);
        const __m128 w = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 3, 3));
        const __m128 zero = _mm_setzero_ps();
        const int plus = _mm_movemask_ps(_mm_cmpge_ps(_mm_add_ps(w, c), zero));
        const int minus = _mm_movemask_ps(_mm_cmpge_ps(_mm_sub_ps(w, c), zero));
        const int atLeastZero = _mm_movemask_ps(_mm_cmpge_ps(c, zero));
        const int aboveZero = _mm_movemask_ps(_mm_cmpgt_ps(c, zero));
        bool in = (plus & 3) == 3 && (minus & 7) == 7 && (atLeastZero & 4) != 0 && (aboveZero & 8) != 0;
        for (uint32_t u = 0; u < SoftDevice::kMaxClipPlanes && userPlanes != 0; ++u) {
            in = in && (!(userPlanes >> u & 1u) || user[u] >= 0.0f);
        }
        if (in) {
            toScreen.Map(p, &v.x);
        }
        dc.inside[k] = in;
    }
    return true;
}

void FixedDraw::PrepareQuads()
{
    // Sprites of a pre-transformed triangle list, each corner of one
    // colour: their six vertices are read straight from the data into
    // SetupEvenQuad, with no screen vertices made or compared. What it does
    // not take goes the general way, which gives the same. Span level 0
    // keeps to the general way here too, to hold this to.
    quads = layout.transformed && src.type == PrimTriangleList && fill == FillSolid && dc.spanLevel > 0;
    if (quads) {
        const PixelState& ps = dc.frame.states[state];
        uint32_t sets = 0;
        for (int s = 0; s < ps.stageCount; ++s) {
            sets |= 1u << (ps.stage[s].coordSet & 7);
        }
        const int set = sets != 0 ? __builtin_ctz(sets) : 0;
        quads = ps.shader == nullptr && (sets & (sets - 1)) == 0 &&
                (set >= layout.texSets || layout.texFloats[set] <= 2);
        if (sets != 0 && set < layout.texSets) {
            quadTex = layout.tex[set];
            quadFloats = layout.texFloats[set];
        }
    }
    // With other threads to draw the frame's parts, the quads this way
    // takes are only checked and copied here, and set up by the first
    // thread to take their part up: the drawing thread records faster than
    // it could set them up, and the workers wait on it less.
    defer = quads && dc.pool.GetThreadCount() >= 2;
    if (!defer) {
        dc.SettleDeferred();
    }
}

inline bool QuadReader::Read(uint32_t i, EvenQuad* quad) const
{
    const uint8_t* p[6];
    if (indexData == nullptr) {
        // The draw's vertices all lie in the data (checked).
        p[0] = vertexData + 3ull * i * stride;
        for (int k = 1; k < 6; ++k) {
            p[k] = p[k - 1] + stride;
        }
    } else {
        for (int k = 0; k < 6; ++k) {
            const uint64_t vi = src.VertexOf(3ull * i + k);
            if (vi >= vertexCount) {
                return false;
            }
            p[k] = vertexData + vi * stride;
        }
    }
    if (!SameBytes(p[3], p[2]) || !SameBytes(p[5], p[0])) {
        return false;
    }
    const uint8_t* const corner[4] = {p[0], p[1], p[2], p[4]};
    // Every x and y within the guard band (not a number is not), four at a
    // time.
    double xy[4];
    for (int k = 0; k < 4; ++k) {
        std::memcpy(&xy[k], corner[k], 8);
    }
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 guard = _mm_set1_ps(kGuardBand);
    const __m128 xy01 = _mm_and_ps(_mm_castpd_ps(_mm_set_pd(xy[1], xy[0])), magnitude);
    const __m128 xy23 = _mm_and_ps(_mm_castpd_ps(_mm_set_pd(xy[3], xy[2])), magnitude);
    if (_mm_movemask_ps(_mm_and_ps(_mm_cmple_ps(xy01, guard), _mm_cmple_ps(xy23, guard))) != 0xF) {
        return false;
    }
    EvenQuad& q = *quad;
    for (int k = 0; k < 4; ++k) {
        const uint8_t* v = corner[k];
        QuadCorner& c = q.corner[k];
        // x, y, z, rhw as they lie, then u and v (0 for what the format
        // does not give).
        std::memcpy(&c, v, 16);
        if (floats >= 2) {
            std::memcpy(&c.u, v + tex, 8);
        } else {
            c.u = tex >= 0 ? ReadFloat(v + tex) : 0.0f;
            c.v = 0.0f;
        }
        if (diffuse >= 0) {
            const uint32_t color = ReadU32(v + diffuse);
            if (k != 0 && color != q.diffuse) {
                return false;
            }
            q.diffuse = color;
        }
        if (specular >= 0) {
            const uint32_t color = ReadU32(v + specular);
            if (k != 0 && color != q.specular) {
                return false;
            }
            q.specular = color;
        }
    }
    return true;
}

bool FixedDraw::Rectangle(uint32_t i, const ClipVertex& a, const ClipVertex& b, const ClipVertex& c,
                          const ScreenVertex* flatFrom)
{
    uint64_t i0, i1, i2, j0, j1, j2;
    src.Corners(i, &i0, &i1, &i2);
    src.Corners(i + 1, &j0, &j1, &j2);
    // The two corners the triangles must share, compared in the bytes they
    // are read from first: that is cheaper than fetching the next triangle,
    // and the same answer.
    bool shared = false;
    if (src.type == PrimTriangleList) {
        shared = SameData(j0, i2) && SameData(j2, i0);
    } else if (src.type == PrimTriangleFan) {
        shared = SameData(j0, i0) && SameData(j1, i2);
    } else {
        shared = !(i & 1) && SameData(j0, i1) && SameData(j2, i2);
    }
    if (!shared || !Fetch(j0, &next[0]) || !Fetch(j1, &next[1]) || !Fetch(j2, &next[2]) || !InGuard(next[1])) {
        return false;
    }
    const ScreenVertex* const corners[3] = {&a.v, &b.v, &c.v};
    const ScreenVertex* const following[3] = {&next[0].v, &next[1].v, &next[2].v};
    const ScreenVertex* flatFollowing = flat ? following[src.FlatCorner()] : nullptr;
    return SetupRectangle(dc.frame, state, corners, following, flatFrom, flatFollowing, cull, box);
}

void FixedDraw::Triangles()
{
    // Untransformed solid triangles: every vertex the draw touches is
    // transformed once, and a triangle with no corner outside a plane is
    // set up straight from them, as the clipper would hand it on
    // unchanged; only the others are fetched and clipped one by one.
    const bool batched = TransformTouched();
    PrepareQuads();
    const QuadReader reader(src, layout, quadTex, quadFloats);
    const int flatCorner = src.FlatCorner();
    ClipVertex a, b, c;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        if ((i & 31) == 0 && i != 0) {
            state = dc.HandOffDuringDraw(state);
        }
        // Set when the quad's corners were read and make no upright
        // rectangle: SetupRectangle would turn the same corners away.
        bool notUpright = false;
        if (quads && i + 1 < src.primitiveCount) {
            spanMemo.refusedShape = false;
            EvenQuad q;
            if (reader.Read(i, &q) && (defer ? DeferQuad(dc, state, q, cull, box, &spanMemo)
                                             : SetupEvenQuad(dc.frame, state, q, cull, flat, box, &spanMemo))) {
                ++i;
                continue;
            }
            notUpright = spanMemo.refusedShape;
        }
        if (defer) {
            dc.SettleDeferred();
        }
        uint64_t i0, i1, i2;
        src.Corners(i, &i0, &i1, &i2);
        if (batched) {
            const uint64_t v0 = src.VertexOf(i0), v1 = src.VertexOf(i1), v2 = src.VertexOf(i2);
            if (v0 < src.vertexCount && v1 < src.vertexCount && v2 < src.vertexCount && dc.inside[v0 - first] &&
                dc.inside[v1 - first] && dc.inside[v2 - first]) {
                const ScreenVertex* flatFrom = flat ? &dc.verts[(flatCorner == 0 ? v0 : v1) - first] : nullptr;
                SetupTriangle(dc.frame, state, dc.verts[v0 - first], dc.verts[v1 - first], dc.verts[v2 - first], cull,
                              flatFrom, box, &spanMemo);
                continue;
            }
        }
        if (!Fetch(i0, &a) || !Fetch(i1, &b) || !Fetch(i2, &c)) {
            badIndex = true;
            continue;
        }
        const ScreenVertex* flatFrom = flat ? (flatCorner == 0 ? &a.v : &b.v) : nullptr;
        if (layout.transformed && fill == FillSolid && InGuard(a) && InGuard(b) && InGuard(c)) {
            // Sprites come as two triangles of a rectangle: draw them as one
            // primitive when the next triangle completes it.
            if (i + 1 < src.primitiveCount && !notUpright && Rectangle(i, a, b, c, flatFrom)) {
                ++i;
                continue;
            }
            SetupTriangle(dc.frame, state, a.v, b.v, c.v, cull, flatFrom, box, &spanMemo);
            continue;
        }
        ClipVertex* poly = buffers.a;
        poly[0] = a;
        poly[1] = b;
        poly[2] = c;
        Polygon(3, flatFrom);
    }
}

}  // namespace

static GfxResult DrawRecord(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                            uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                            uint32_t indexFormat, uint32_t baseVertex)
{
    if (!dc.inScene) {
        return kGfxInvalidCall;
    }
    const VertexLayout layout = LayoutOf(dc.fvf);
    if (layout.stride == 0 || stride < static_cast<uint32_t>(layout.stride)) {
        std::fprintf(stderr, "gfx: draw with vertex format 0x%X and stride %u\n", dc.fvf, stride);
        return kGfxInvalidCall;
    }
    DrawSource src;
    const GfxResult checked = CheckDraw(type, primitiveCount, vertexData, vertexBytes, static_cast<uint32_t>(layout.stride),
                                        stride, indexData, indexBytes, indexFormat, baseVertex, "draw", &src);
    if (checked != kGfxOk || dc.lost) {
        return checked;
    }
    const uint32_t state = dc.CurrentState();
    // Quads left for the workers' set-up come before anything else is
    // recorded; only a list of sprites may add to them (see PrepareQuads).
    ++dc.drawSerial;
    if (type != PrimTriangleList) {
        dc.SettleDeferred();
    }
    FixedDraw draw(dc, src, layout, state);
    switch (type) {
    case PrimPointList: draw.Points(); break;
    case PrimLineList:
    case PrimLineStrip: draw.Lines(); break;
    default: draw.Triangles(); break;
    }
    if (draw.badIndex) {
        std::fprintf(stderr, "gfx: draw skipped primitives whose indices lie outside the vertices\n");
    }
    return kGfxOk;
}

GfxResult DrawCore(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                   uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                   uint32_t indexFormat, uint32_t baseVertex)
{
    // The recorded frame grows with the draws; a primitive half added when
    // memory ran out is never reachable (its planes go in before it is binned).
    try {
        return DrawRecord(dc, type, primitiveCount, vertexData, vertexBytes, stride, indexData, indexBytes, indexFormat,
                          baseVertex);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: out of memory while recording a draw of %u primitives\n", primitiveCount);
        return kGfxOutOfMemory;
    }
}

}  // namespace platform
