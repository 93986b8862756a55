#pragma once
// The busy 2D frame: a crowded shoot-'em-up screen defined exactly (textures,
// quad positions, blending), shared by the device tests and the benchmark.
#include <cmath>
#include <cstdint>
#include <vector>

namespace busy2d {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint32_t kExpectedHash = 0xea3c2b8au;

struct Quad {
    int x, y, size;
};

// 600 quads of 16, 300 of 32, 300 of 64, in drawing order.
inline std::vector<Quad> Quads()
{
    uint32_t s = 20240607u;
    auto next = [&s]() {
        s = s * 1664525u + 1013904223u;
        return s >> 16;
    };
    std::vector<Quad> quads;
    const int groups[3][2] = {{16, 600}, {32, 300}, {64, 300}};
    for (const auto& g : groups) {
        const int n = g[0];
        for (int i = 0; i < g[1]; ++i) {
            const int x = static_cast<int>(next() % static_cast<uint32_t>(kWidth - n + 1));
            const int y = static_cast<int>(next() % static_cast<uint32_t>(kHeight - n + 1));
            quads.push_back({x, y, n});
        }
    }
    return quads;
}

inline std::vector<uint32_t> Background()
{
    std::vector<uint32_t> px(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t r = static_cast<uint32_t>(x * 255 / 639);
            const uint32_t g = static_cast<uint32_t>(y * 255 / 479);
            const uint32_t b = (((x >> 5) ^ (y >> 5)) & 1) ? 160 : 48;
            px[static_cast<size_t>(y) * kWidth + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return px;
}

inline std::vector<uint32_t> Sprite(int n)
{
    uint32_t base = n == 16 ? 0xFFE040u : (n == 32 ? 0x40C0FFu : 0x703818u);
    const int rb = static_cast<int>((base >> 16) & 0xFF), gb = static_cast<int>((base >> 8) & 0xFF);
    const uint32_t bb = base & 0xFF;
    std::vector<uint32_t> px(static_cast<size_t>(n) * n);
    const double h = n / 2;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const double d = std::sqrt((x + 0.5 - h) * (x + 0.5 - h) + (y + 0.5 - h) * (y + 0.5 - h)) / h;
            const uint32_t a = d >= 1.0 ? 0u : static_cast<uint32_t>(static_cast<int>(255.0 * (1.0 - d) + 0.5));
            const uint32_t r = static_cast<uint32_t>(rb * (2 * n - x) / (2 * n));
            const uint32_t g = static_cast<uint32_t>(gb * (2 * n - y) / (2 * n));
            px[static_cast<size_t>(y) * n + x] = (a << 24) | (r << 16) | (g << 8) | bb;
        }
    }
    return px;
}

// The engine's 2D vertex: x, y, z, rhw, colour, u, v (28 bytes, format 0x144).
struct Vertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};

// Two triangles of a 1:1 sprite draw as the engine makes them: screen
// corners moved by the -0.5 pixel offset, the source rectangle shrunk by the
// 0.5 texel offset and scaled by 1 / texture size.
inline void AppendQuad(std::vector<Vertex>& out, int x, int y, int w, int h, int texW, int texH)
{
    const float l = static_cast<float>(x) - 0.5f, t = static_cast<float>(y) - 0.5f;
    const float r = static_cast<float>(x + w) - 0.5f, b = static_cast<float>(y + h) - 0.5f;
    const float su = 1.0f / static_cast<float>(texW), sv = 1.0f / static_cast<float>(texH);
    const float u0 = 0.5f * su, v0 = 0.5f * sv;
    const float u1 = (static_cast<float>(w) - 0.5f) * su, v1 = (static_cast<float>(h) - 0.5f) * sv;
    const Vertex c0{l, t, 0.0f, 1.0f, 0xFFFFFFFFu, u0, v0};
    const Vertex c1{r, t, 0.0f, 1.0f, 0xFFFFFFFFu, u1, v0};
    const Vertex c2{r, b, 0.0f, 1.0f, 0xFFFFFFFFu, u1, v1};
    const Vertex c3{l, b, 0.0f, 1.0f, 0xFFFFFFFFu, u0, v1};
    out.insert(out.end(), {c0, c1, c2, c2, c3, c0});
}

// FNV-1a over R, G, B of every pixel, top row first.
inline uint32_t HashRgb(const uint32_t* pixels, int width, int height, int pitchBytes)
{
    uint32_t hash = 2166136261u;
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(pixels) +
                                                                static_cast<size_t>(y) * pitchBytes);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            const uint32_t bytes[3] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
            for (const uint32_t byte : bytes) {
                hash ^= byte;
                hash *= 16777619u;
            }
        }
    }
    return hash;
}

// The frame by plain arithmetic, as the definition states it.
inline std::vector<uint32_t> Reference()
{
    std::vector<uint32_t> frame = Background();
    const std::vector<uint32_t> sprites[3] = {Sprite(16), Sprite(32), Sprite(64)};
    for (const Quad& q : Quads()) {
        const std::vector<uint32_t>& tex = sprites[q.size == 16 ? 0 : (q.size == 32 ? 1 : 2)];
        for (int j = 0; j < q.size; ++j) {
            for (int i = 0; i < q.size; ++i) {
                const uint32_t s = tex[static_cast<size_t>(j) * q.size + i];
                uint32_t& d = frame[static_cast<size_t>(q.y + j) * kWidth + q.x + i];
                const uint32_t as = s >> 24;
                uint32_t out = 0;
                for (int sh = 0; sh < 32; sh += 8) {
                    const uint32_t cs = (s >> sh) & 0xFF, cd = (d >> sh) & 0xFF;
                    uint32_t c;
                    if (q.size == 64) {
                        c = cd + (cs * as + 127) / 255;
                        c = c > 255 ? 255 : c;
                    } else {
                        c = (cs * as + cd * (255 - as) + 127) / 255;
                    }
                    out |= c << sh;
                }
                d = out;
            }
        }
    }
    return frame;
}

}  // namespace busy2d
