// Graphics services: the video-memory counter, the 2D polygon clipper and
// the pixel converter.
#include "engine/core/graphics.h"

#include <cstring>

namespace {

int32_t g_vramSize = 0;   // bytes
int32_t g_vramPeak = 0;

// One vertex as the clipper carries it: twelve floats and the colour.
struct ClipVertex {
    float f[12];   // x, y, z, rhw, u0, v0 .. u3, v3
    uint32_t color;
};

ClipVertex Load(const uint32_t* words)
{
    ClipVertex v;
    std::memcpy(&v.f[0], words, 16);
    v.color = words[4];
    std::memcpy(&v.f[4], words + 5, 32);
    return v;
}

void Store(const ClipVertex& v, uint32_t* words)
{
    std::memcpy(words, &v.f[0], 16);
    words[4] = v.color;
    std::memcpy(words + 5, &v.f[4], 32);
}

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t)
{
    ClipVertex r;
    for (int i = 0; i < 12; ++i) {
        r.f[i] = a.f[i] + (b.f[i] - a.f[i]) * t;
    }
    r.color = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const float ca = static_cast<float>((a.color >> shift) & 0xFF);
        const float cb = static_cast<float>((b.color >> shift) & 0xFF);
        // Truncate toward zero as every float-to-integer conversion here does.
        int32_t c = static_cast<int32_t>(ca + (cb - ca) * t);
        c = c < 0 ? 0 : (c > 255 ? 255 : c);
        r.color |= static_cast<uint32_t>(c) << shift;
    }
    return r;
}

// Keeps the part of the polygon where inside(v) holds; edge(a, b) gives the
// parameter where the segment crosses the edge.
template <typename Inside, typename Cross>
int32_t ClipEdge(const ClipVertex* in, int32_t n, ClipVertex* out, Inside inside, Cross cross)
{
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i) {
        const ClipVertex& a = in[i];
        const ClipVertex& b = in[(i + 1) % n];
        const bool ia = inside(a), ib = inside(b);
        if (ia) {
            out[m++] = a;
        }
        if (ia != ib) {
            out[m++] = Lerp(a, b, cross(a, b));
        }
    }
    return m;
}

}  // namespace

void OrvaGraphics::AddVramSize(int32_t bytes)
{
    g_vramSize += bytes;
    if (g_vramSize > g_vramPeak) {
        g_vramPeak = g_vramSize;
    }
}

int32_t OrvaGraphics::GetVramSize()
{
    return g_vramSize;
}

int32_t OrvaGraphics::GetVramPeak()
{
    return g_vramPeak;
}

void OrvaGraphics::ResetVramCounter()
{
    g_vramSize = 0;
    g_vramPeak = 0;
}

int32_t OrvaGraphics::ClipPolygon(const uint32_t* in, uint32_t* out, const OrvaRect& rect, int32_t count)
{
    // Each edge adds at most one corner, so four edges need count + 4 slots.
    if (in == nullptr || out == nullptr || count < 3 || count > kMaxClipCorners - 4) {
        return 0;
    }
    ClipVertex a[kMaxClipCorners], b[kMaxClipCorners];
    for (int32_t i = 0; i < count; ++i) {
        a[i] = Load(in + i * kClipVertexWords);
    }
    const float left = static_cast<float>(rect.left), top = static_cast<float>(rect.top);
    const float right = static_cast<float>(rect.right), bottom = static_cast<float>(rect.bottom);
    int32_t n = count;
    n = ClipEdge(a, n, b, [&](const ClipVertex& v) { return v.f[0] >= left; },
                 [&](const ClipVertex& p, const ClipVertex& q) { return (left - p.f[0]) / (q.f[0] - p.f[0]); });
    n = ClipEdge(b, n, a, [&](const ClipVertex& v) { return v.f[1] >= top; },
                 [&](const ClipVertex& p, const ClipVertex& q) { return (top - p.f[1]) / (q.f[1] - p.f[1]); });
    n = ClipEdge(a, n, b, [&](const ClipVertex& v) { return v.f[0] <= right; },
                 [&](const ClipVertex& p, const ClipVertex& q) { return (right - p.f[0]) / (q.f[0] - p.f[0]); });
    n = ClipEdge(b, n, a, [&](const ClipVertex& v) { return v.f[1] <= bottom; },
                 [&](const ClipVertex& p, const ClipVertex& q) { return (bottom - p.f[1]) / (q.f[1] - p.f[1]); });
    if (n < 3) {
        return 0;
    }
    int32_t triangles = 0;
    for (int32_t k = 0; k + 2 < n; ++k) {
        Store(a[0], out + (triangles * 3 + 0) * kClipVertexWords);
        Store(a[k + 1], out + (triangles * 3 + 1) * kClipVertexWords);
        Store(a[k + 2], out + (triangles * 3 + 2) * kClipVertexWords);
        ++triangles;
    }
    return triangles;
}

int32_t OrvaGraphics::ConvertPixels(const OrvaPixelImage* destination, const OrvaPixelImage* source, uint32_t format,
                                    OrvaProgress progress)
{
    if (destination == nullptr || source == nullptr || destination->bits == nullptr || source->bits == nullptr) {
        return 0;
    }
    const OrvaPixelImage& d = *destination;
    const OrvaPixelImage& s = *source;
    if (d.width <= 0 || d.height <= 0 || s.width <= 0 || s.height <= 0) {
        return 0;
    }
    int32_t bytes = 0;
    if (format == 21 || format == 22) {
        bytes = 4;
    } else if (format >= 23 && format <= 26) {
        bytes = 2;
    } else {
        return 1;
    }
    // A pitch too small for its row would read or write past each row.
    if (d.pitch < d.width * bytes || s.pitch < s.width * bytes) {
        return 0;
    }
    auto* dst = static_cast<uint8_t*>(d.bits);
    const auto* src = static_cast<const uint8_t*>(s.bits);
    if (d.pitch == s.pitch && d.width == s.width && d.height == s.height) {
        std::memcpy(dst, src, static_cast<size_t>(d.pitch) * d.height);
        return 1;
    }
    const uint32_t stepX = static_cast<uint32_t>((static_cast<uint64_t>(s.width) << 16) / static_cast<uint32_t>(d.width));
    const uint32_t stepY = static_cast<uint32_t>((static_cast<uint64_t>(s.height) << 16) / static_cast<uint32_t>(d.height));
    uint32_t texels = 0;
    uint32_t sy = 0;
    for (int32_t y = 0; y < d.height; ++y, sy += stepY) {
        const uint8_t* srow = src + static_cast<size_t>(sy >> 16) * s.pitch;
        uint8_t* drow = dst + static_cast<size_t>(y) * d.pitch;
        uint32_t sx = 0;
        for (int32_t x = 0; x < d.width; ++x, sx += stepX) {
            std::memcpy(drow + static_cast<size_t>(x) * bytes, srow + static_cast<size_t>(sx >> 16) * bytes,
                        static_cast<size_t>(bytes));
            if (++texels == 65536) {
                texels = 0;
                if (progress != nullptr) {
                    progress(0);
                }
            }
        }
    }
    return 1;
}
