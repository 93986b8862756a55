#pragma once
// Two more fixed frames beside the busy 2D one: the same sprites turned,
// scaled, filtered and tinted, and 200 textured cubes in perspective with a
// depth buffer. Shared by the device tests and the benchmark, so that both
// draw exactly the scene the benchmark measures.
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/gfx/math3d.h"
#include "tests/platform/gfx/busy2d_scene.h"

namespace frames {

constexpr double kPi = 3.14159265358979323846;

// The generator of the busy 2D frame, from any seed.
struct Generator {
    uint32_t s;
    uint32_t Next()
    {
        s = s * 1664525u + 1013904223u;
        return s >> 16;
    }
};

// ---- Rotated sprites --------------------------------------------------------

constexpr uint32_t kSpriteTint = 0xFFC0C0FFu;

struct TurnedQuad {
    float cx, cy;   // centre, continuous pixel coordinates
    float half;     // half the side after scaling
    float angle;    // radians
    int size;       // texture size N
};

// The 1200 sprites in drawing order: the busy 2D positions, then an angle
// each from the same generator.
inline std::vector<TurnedQuad> TurnedQuads()
{
    Generator g{20240607u};
    const std::vector<busy2d::Quad> quads = busy2d::Quads();
    for (size_t i = 0; i < 2 * quads.size(); ++i) {
        g.Next();
    }
    std::vector<TurnedQuad> out;
    out.reserve(quads.size());
    for (const busy2d::Quad& q : quads) {
        const double a = static_cast<double>(g.Next()) * 2.0 * kPi / 65536.0;
        out.push_back({static_cast<float>(q.x + q.size / 2.0), static_cast<float>(q.y + q.size / 2.0),
                       static_cast<float>(0.75 * q.size), static_cast<float>(a), q.size});
    }
    return out;
}

// Two triangles of a turned sprite as the sprite batch queues them: corners
// top-left, top-right, bottom-right, bottom-left, moved by the engine's
// -0.5 pixel offset (pixel centres lie on whole coordinates), tinted.
inline void AppendTurnedQuad(std::vector<busy2d::Vertex>& out, const TurnedQuad& q)
{
    const double c = std::cos(static_cast<double>(q.angle)), s = std::sin(static_cast<double>(q.angle));
    const int dxs[4] = {-1, 1, 1, -1}, dys[4] = {-1, -1, 1, 1};
    busy2d::Vertex v[4];
    for (int k = 0; k < 4; ++k) {
        const double dx = dxs[k] * static_cast<double>(q.half), dy = dys[k] * static_cast<double>(q.half);
        const double x = q.cx + c * dx - s * dy;
        const double y = q.cy + s * dx + c * dy;
        v[k] = {static_cast<float>(x) - 0.5f, static_cast<float>(y) - 0.5f, 0.0f, 1.0f, kSpriteTint,
                dxs[k] > 0 ? 1.0f : 0.0f, dys[k] > 0 ? 1.0f : 0.0f};
    }
    out.insert(out.end(), {v[0], v[1], v[2], v[2], v[3], v[0]});
}

// ---- Textured cubes ----------------------------------------------------------

constexpr int kCubeCount = 200;
constexpr uint32_t kCubeClear = 0xFF203040u;
constexpr int kCubeTexSize = 64;

// The vertex of the 3D primitives: x, y, z, colour, u, v (format 0x142).
struct Vertex3D {
    float x, y, z;
    uint32_t color;
    float u, v;
};

inline std::vector<uint32_t> CubeTexture()
{
    std::vector<uint32_t> px(static_cast<size_t>(kCubeTexSize) * kCubeTexSize);
    for (int y = 0; y < kCubeTexSize; ++y) {
        for (int x = 0; x < kCubeTexSize; ++x) {
            uint32_t r, g, b;
            if (((x >> 3) ^ (y >> 3)) & 1) {
                r = 230;
                g = 200;
                b = 90;
            } else {
                r = static_cast<uint32_t>(60 + 2 * x);
                g = static_cast<uint32_t>(60 + 2 * y);
                b = 200;
            }
            px[static_cast<size_t>(y) * kCubeTexSize + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return px;
}

// 36 vertices: per face two triangles over its corners c0 c1 c2, c2 c3 c0
// with texture coordinates (0,1) (1,1) (1,0), (1,0) (0,0) (0,1).
inline std::vector<Vertex3D> CubeVertices()
{
    // Each face: its centre direction and two in-face axes (u to the right,
    // v up), so that c0 = centre - u - v, c1 = + u - v, c2 = + u + v, c3 = - u + v.
    const float faces[6][3][3] = {
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},   {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
        {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}},  {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},  {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
    };
    const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    const int order[6] = {0, 1, 2, 2, 3, 0};
    std::vector<Vertex3D> out;
    for (const auto& f : faces) {
        for (const int k : order) {
            Vertex3D v;
            v.x = 0.5f * (f[0][0] + corner[k][0] * f[1][0] + corner[k][1] * f[2][0]);
            v.y = 0.5f * (f[0][1] + corner[k][0] * f[1][1] + corner[k][1] * f[2][1]);
            v.z = 0.5f * (f[0][2] + corner[k][0] * f[1][2] + corner[k][1] * f[2][2]);
            v.color = 0xFFFFFFFFu;
            v.u = uv[k][0];
            v.v = uv[k][1];
            out.push_back(v);
        }
    }
    return out;
}

// World matrices of the cubes: turn about x, then about y, then move.
inline std::vector<platform::Mat4> CubeWorlds()
{
    Generator g{777u};
    std::vector<platform::Mat4> out;
    for (int i = 0; i < kCubeCount; ++i) {
        const double px = (g.Next() % 1000) / 1000.0 * 10.0 - 5.0;
        const double py = (g.Next() % 1000) / 1000.0 * 7.0 - 3.5;
        const double pz = -5.0 - (g.Next() % 1000) / 1000.0 * 14.0;
        const float ax = static_cast<float>(g.Next() * 2.0 * kPi / 65536.0);
        const float ay = static_cast<float>(g.Next() * 2.0 * kPi / 65536.0);
        const platform::Mat4 turn = platform::MatrixMultiply(platform::MatrixRotationX(ax), platform::MatrixRotationY(ay));
        out.push_back(platform::MatrixMultiply(
            turn, platform::MatrixTranslation(static_cast<float>(px), static_cast<float>(py), static_cast<float>(pz))));
    }
    return out;
}

inline platform::Mat4 CubeProjection()
{
    return platform::MatrixPerspectiveFovRH(static_cast<float>(kPi / 3.0), 640.0f / 480.0f, 1.0f, 50.0f);
}

}  // namespace frames
