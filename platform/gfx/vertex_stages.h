#pragma once
// The stages a draw's vertices pass through on their way to set-up, shared
// by the fixed-function vertex stage (vertex_stage.cpp) and the vertex
// shader's draw (vertex_shader.cpp): reading the draw's indices, clipping
// against the view volume and the user clip planes, and mapping clip space
// to the viewport. Not for the engine.
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <utility>

#include "platform/gfx/raster.h"
#include "platform/gfx/soft_device.h"

namespace platform {

// ---------------------------------------------------------------------------
// Fetch: what a draw reads

// A draw's vertex data and indices, checked against each other.
struct DrawSource {
    uint32_t type = 0;
    uint32_t primitiveCount = 0;
    const uint8_t* vertexData = nullptr;
    uint32_t stride = 0;
    uint64_t vertexCount = 0;   // whole vertices in the data
    const uint8_t* indexData = nullptr;
    uint32_t indexSize = 2;
    uint32_t baseVertex = 0;
    uint64_t needed = 0;        // draw indices the primitives read

    // The vertex that index i of the draw names (maybe past the data).
    uint64_t VertexOf(uint64_t i) const
    {
        if (indexData == nullptr) {
            return i;
        }
        uint32_t v = 0;
        if (indexSize == 4) {
            std::memcpy(&v, indexData + i * 4, 4);
        } else {
            v = static_cast<uint32_t>(indexData[i * 2] | (indexData[i * 2 + 1] << 8));
        }
        return static_cast<uint64_t>(v) + baseVertex;
    }

    // The draw indices of triangle i's corners: every other strip triangle
    // swaps two corners to keep its winding; a fan's start at its centre.
    void Corners(uint64_t i, uint64_t* i0, uint64_t* i1, uint64_t* i2) const
    {
        if (type == PrimTriangleList) {
            *i0 = 3 * i;
            *i1 = *i0 + 1;
            *i2 = *i0 + 2;
        } else if (type == PrimTriangleStrip) {
            *i0 = i;
            *i1 = (i & 1) ? i + 2 : i + 1;
            *i2 = (i & 1) ? i + 1 : i + 2;
        } else {
            *i0 = 0;
            *i1 = i + 1;
            *i2 = i + 2;
        }
    }

    // Which corner of a triangle (as Corners gives them) a flat triangle
    // takes its colours from: its first vertex as drawn, the one after the
    // centre for a fan (triangle i of a fan starts at vertex i + 1).
    int FlatCorner() const { return type == PrimTriangleFan ? 1 : 0; }

    // The run of vertices [first, last] the draw's indices name within the
    // data; false when none does.
    bool TouchedRange(uint64_t* first, uint64_t* last) const;
};

// Checks a draw of primitiveCount primitives of `type` over vertexBytes of
// vertices of vertexSize bytes (at least one) each stride bytes apart, and
// its indices, and fills source; kGfxInvalidCall, with a log line that
// names the draw as `what`, when the draw reads past them.
GfxResult CheckDraw(uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData, uint32_t vertexBytes,
                    uint32_t vertexSize, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                    uint32_t indexFormat, uint32_t baseVertex, const char* what, DrawSource* source);

// ---------------------------------------------------------------------------
// Clip: Sutherland-Hodgman against the view volume and the user clip planes

// The planes a draw clips against, by number: 0 to 5 the view volume's
// (-w <= x, y <= w, 0 <= z <= w), 6 on the enabled user clip planes.
constexpr int kViewPlanes = 6;
struct ClipPlanes {
    int plane[kViewPlanes + SoftDevice::kMaxClipPlanes];
    int count = 0;
    explicit ClipPlanes(uint32_t userPlanes)
    {
        for (int k = 0; k < kViewPlanes; ++k) {
            plane[count++] = k;
        }
        for (uint32_t k = 0; k < SoftDevice::kMaxClipPlanes; ++k) {
            if (userPlanes >> k & 1u) {
                plane[count++] = kViewPlanes + static_cast<int>(k);
            }
        }
    }
};

// Signed distance of a clip-space position to view plane 0 to 5.
inline float ViewPlaneDistance(const float* p, int plane)
{
    switch (plane) {
    case 0: return p[3] + p[0];
    case 1: return p[3] - p[0];
    case 2: return p[3] + p[1];
    case 3: return p[3] - p[1];
    case 4: return p[2];
    default: return p[3] - p[2];
    }
}

// One plane: keeps the points where dist >= 0, with a point made by
// Lerp(a, b, t) where an edge crosses it.
template <typename Vertex, typename Dist>
int ClipAgainst(const Vertex* in, int n, Vertex* out, Dist dist)
{
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const Vertex& a = in[i];
        const Vertex& b = in[(i + 1) % n];
        const float da = dist(a), db = dist(b);
        if (da >= 0.0f) {
            out[m++] = a;
        }
        if ((da >= 0.0f) != (db >= 0.0f)) {
            out[m++] = Lerp(a, b, da / (da - db));
        }
    }
    return m;
}

// A convex polygon of n vertices in poly clipped against each plane that
// cuts it (distance(vertex, plane)), other holding each step's result in
// turn; poly points at the clipped polygon after, whose size is returned.
template <typename Vertex, typename Distance>
int ClipPolygon(Vertex*& poly, Vertex*& other, int n, const ClipPlanes& planes, Distance distance)
{
    for (int i = 0; i < planes.count && n >= 3; ++i) {
        const int plane = planes.plane[i];
        auto dist = [&](const Vertex& v) { return distance(v, plane); };
        bool allIn = true;
        for (int k = 0; k < n; ++k) {
            allIn = allIn && dist(poly[k]) >= 0.0f;
        }
        if (allIn) {
            continue;
        }
        n = ClipAgainst(poly, n, other, dist);
        std::swap(poly, other);
    }
    return n;
}

// A line's ends clipped against each plane; false when a plane leaves
// nothing of it.
template <typename Vertex, typename Distance>
bool ClipLine(Vertex& a, Vertex& b, const ClipPlanes& planes, Distance distance)
{
    for (int i = 0; i < planes.count; ++i) {
        const int plane = planes.plane[i];
        const float da = distance(a, plane), db = distance(b, plane);
        if (da < 0.0f && db < 0.0f) {
            return false;
        }
        if (da < 0.0f) {
            a = Lerp(a, b, da / (da - db));
        } else if (db < 0.0f) {
            b = Lerp(a, b, da / (da - db));
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Map to the viewport

// x = vpX + (1 + cx / w) vpWidth 0.5, y = vpY + (1 - cy / w) vpHeight 0.5,
// z = vpMinZ + cz / w vpDepth (1 for the half), rhw = 1 / w: a lane each,
// every lane the same steps in the same order (as the scalar sums would
// take them).
class ViewportMap {
public:
    explicit ViewportMap(const Viewport& vp)
        : scale(_mm_setr_ps(static_cast<float>(vp.width), static_cast<float>(vp.height), vp.maxZ - vp.minZ, 1.0f)),
          half(_mm_setr_ps(0.5f, 0.5f, 1.0f, 1.0f)),
          origin(_mm_setr_ps(static_cast<float>(vp.x), static_cast<float>(vp.y), vp.minZ, 0.0f))
    {
    }
    // The clip-space position's x, y, z and rhw on the screen, written to
    // four floats in that order.
    void Map(const float* clip, float* screen) const
    {
        const __m128 c = _mm_loadu_ps(clip);
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 invW = _mm_div_ps(one, _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 3, 3)));
        const __m128 t = _mm_mul_ps(c, invW);
        const __m128 xy = _mm_move_ss(_mm_sub_ps(one, t), _mm_add_ps(one, t));
        const __m128 base = _mm_shuffle_ps(xy, t, _MM_SHUFFLE(3, 2, 1, 0));
        const __m128 r = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(base, scale), half), origin);
        _mm_storeu_ps(screen, _mm_shuffle_ps(r, _mm_unpackhi_ps(r, invW), _MM_SHUFFLE(1, 0, 1, 0)));
    }

private:
    // Read once per draw (stores to a screen vertex could otherwise be
    // taken to change the viewport's numbers).
    __m128 scale, half, origin;
};

}  // namespace platform
