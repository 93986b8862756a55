// The three fixed frames through the engine's device, drawn as play and the
// 3D modules draw them: the busy 2D frame, the rotated sprites (bilinear,
// clamped, tinted, turned and scaled sprites in dynamic vertex buffers, as
// the sprite batches draw) and the textured cubes (format 0x142 with a world
// matrix per draw, depth-tested, as the 3D primitives draw). Frames of each
// kind on one thread and on every core are timed in interleaved rounds, so
// that load from elsewhere falls on all of them alike. Prints median and
// best milliseconds per frame and the FNV-1a hash of each finished frame's
// R, G, B bytes, which must be the same for every thread count and for the
// general pixel path alone. ORVA_BENCH_ROUNDS, ORVA_BENCH_FRAMES (per round,
// thread count and frame) and ORVA_BENCH_WARMUP change the run's length.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "bench/presented_frame.h"
#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "tests/platform/gfx/busy2d_scene.h"
#include "tests/platform/gfx/frames_scene.h"

namespace {

using namespace benchframe;

enum FrameKind { kBusy = 0, kRotated = 1, kCubes = 2, kKinds = 3 };
const char* const kNames[kKinds] = {"busy 2D", "rotated sprites", "textured cubes"};

struct Scene {
    OrvaTexture* background = nullptr;
    OrvaTexture* sprites[3] = {};
    OrvaTexture* cubeTexture = nullptr;
    platform::SoftVertexBuffer* spriteBuffer = nullptr;
    platform::SoftVertexBuffer* cubeBuffer = nullptr;
    std::vector<busy2d::Vertex> busy[4];      // background, 16, 32, 64
    std::vector<busy2d::Vertex> rotated[4];
    std::vector<platform::Mat4> cubeWorlds;
};

Scene* g_scene = nullptr;

void FillTexture(OrvaTexture* t, const std::vector<uint32_t>& px)
{
    void* bits = nullptr;
    int32_t pitch = 0;
    if (t->Lock(&bits, &pitch) == 0) {
        return;
    }
    for (int y = 0; y < t->GetHeight(); ++y) {
        std::memcpy(static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * pitch,
                    &px[static_cast<size_t>(y) * t->GetWidth()], static_cast<size_t>(t->GetWidth()) * 4);
    }
    t->Unlock();
    t->Update();
}

platform::Matrix4 ToDevice(const platform::Mat4& m)
{
    platform::Matrix4 out;
    std::memcpy(out.m, m.m, sizeof(out.m));
    return out;
}

bool StartEngine()
{
    OrvaDevice::Configure(busy2d::kWidth, busy2d::kHeight, true, &KeepFrame);
    if (!OrvaDevice::Initialize()) {
        return false;
    }
    OrvaTexture::Initialize();
    OrvaTexture::SetFullColor(true);
    g_scene = new Scene;
    Scene& s = *g_scene;
    s.background = OrvaTexture::Create(busy2d::kWidth, busy2d::kHeight, false, nullptr);
    FillTexture(s.background, busy2d::Background());
    for (int g = 0; g < 3; ++g) {
        s.sprites[g] = OrvaTexture::Create(16 << g, 16 << g, true, nullptr);
        FillTexture(s.sprites[g], busy2d::Sprite(16 << g));
    }
    s.cubeTexture = OrvaTexture::Create(frames::kCubeTexSize, frames::kCubeTexSize, false, nullptr);
    FillTexture(s.cubeTexture, frames::CubeTexture());
    for (std::vector<busy2d::Vertex>* groups : {s.busy, s.rotated}) {
        busy2d::AppendQuad(groups[0], 0, 0, busy2d::kWidth, busy2d::kHeight, busy2d::kWidth, busy2d::kHeight);
    }
    for (const busy2d::Quad& q : busy2d::Quads()) {
        busy2d::AppendQuad(s.busy[q.size == 16 ? 1 : (q.size == 32 ? 2 : 3)], q.x, q.y, q.size, q.size, q.size, q.size);
    }
    for (const frames::TurnedQuad& q : frames::TurnedQuads()) {
        frames::AppendTurnedQuad(s.rotated[q.size == 16 ? 1 : (q.size == 32 ? 2 : 3)], q);
    }
    s.cubeWorlds = frames::CubeWorlds();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const uint32_t bytes = static_cast<uint32_t>(s.busy[1].size() * sizeof(busy2d::Vertex));
    if (device->CreateVertexBuffer(bytes, platform::UsageWriteOnly | platform::UsageDynamic, 0x144,
                                   platform::PoolDefault, &s.spriteBuffer) != platform::kGfxOk) {
        return false;
    }
    const std::vector<frames::Vertex3D> cube = frames::CubeVertices();
    const uint32_t cubeBytes = static_cast<uint32_t>(cube.size() * sizeof(frames::Vertex3D));
    if (device->CreateVertexBuffer(cubeBytes, platform::UsageWriteOnly, 0x142, platform::PoolManaged,
                                   &s.cubeBuffer) != platform::kGfxOk) {
        return false;
    }
    uint8_t* p = nullptr;
    if (s.cubeBuffer->Lock(0, cubeBytes, &p, 0) != platform::kGfxOk) {
        return false;
    }
    std::memcpy(p, cube.data(), cubeBytes);
    s.cubeBuffer->Unlock();
    return true;
}

void StopEngine()
{
    if (g_scene != nullptr) {
        OrvaDevice::GetDevice()->SetStreamSource(0, nullptr, 0);
        for (platform::SoftVertexBuffer* b : {g_scene->spriteBuffer, g_scene->cubeBuffer}) {
            if (b != nullptr) {
                b->Release();
            }
        }
    }
    delete g_scene;
    g_scene = nullptr;
    OrvaTexture::Destroy();
    OrvaDevice::Destroy();
}

// The 2D frames: four sprite batches, each filled with a discarding lock.
void RenderSprites(const std::vector<busy2d::Vertex>* groups, bool filtered)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    OrvaDevice::BeginScene();
    OrvaDevice::Clear(0xFF000000u);
    OrvaDevice::SetRenderState(platform::RsZEnable, 0);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    OrvaDevice::SetTextureStageState(0, platform::TssAddressU, filtered ? platform::AddressClamp : platform::AddressWrap);
    OrvaDevice::SetTextureStageState(0, platform::TssAddressV, filtered ? platform::AddressClamp : platform::AddressWrap);
    device->SetVertexShader(0x144);
    device->SetStreamSource(0, g_scene->spriteBuffer, sizeof(busy2d::Vertex));
    for (int g = 0; g < 4; ++g) {
        const std::vector<busy2d::Vertex>& v = groups[g];
        uint8_t* p = nullptr;
        const uint32_t bytes = static_cast<uint32_t>(v.size() * sizeof(busy2d::Vertex));
        if (g_scene->spriteBuffer->Lock(0, bytes, &p, platform::LockDiscard) != platform::kGfxOk) {
            continue;
        }
        std::memcpy(p, v.data(), bytes);
        g_scene->spriteBuffer->Unlock();
        const uint32_t filter = filtered && g > 0 ? platform::FilterLinear : platform::FilterPoint;
        OrvaDevice::SetTextureStageState(0, platform::TssMagFilter, filter);
        OrvaDevice::SetTextureStageState(0, platform::TssMinFilter, filter);
        OrvaDevice::SetBlendMode(g == 0 ? kOrvaBlendNone : (g == 3 ? kOrvaBlendAdd : kOrvaBlendNormal));
        OrvaDevice::SetTexture(g == 0 ? g_scene->background : g_scene->sprites[g - 1], 0);
        device->DrawPrimitive(platform::PrimTriangleList, 0, static_cast<uint32_t>(v.size() / 3));
    }
    OrvaDevice::EndScene();
    OrvaDevice::Present();
}

void RenderCubes()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    OrvaDevice::BeginScene();
    OrvaDevice::Clear(frames::kCubeClear);
    OrvaDevice::SetRenderState(platform::RsZEnable, 1);
    OrvaDevice::SetRenderState(platform::RsZWriteEnable, 1);
    OrvaDevice::SetRenderState(platform::RsZFunc, platform::CmpLessEqual);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 0);
    OrvaDevice::SetBlendMode(kOrvaBlendNone);
    OrvaDevice::SetTextureStageState(0, platform::TssMagFilter, platform::FilterLinear);
    OrvaDevice::SetTextureStageState(0, platform::TssMinFilter, platform::FilterLinear);
    OrvaDevice::SetTextureStageState(0, platform::TssAddressU, platform::AddressWrap);
    OrvaDevice::SetTextureStageState(0, platform::TssAddressV, platform::AddressWrap);
    device->SetTransform(platform::TsView, ToDevice(platform::MatrixIdentity()));
    device->SetTransform(platform::TsProjection, ToDevice(frames::CubeProjection()));
    device->SetVertexShader(0x142);
    device->SetStreamSource(0, g_scene->cubeBuffer, sizeof(frames::Vertex3D));
    OrvaDevice::SetTexture(g_scene->cubeTexture, 0);
    for (const platform::Mat4& world : g_scene->cubeWorlds) {
        device->SetTransform(platform::TsWorld, ToDevice(world));
        device->DrawPrimitive(platform::PrimTriangleList, 0, 12);
    }
    OrvaDevice::EndScene();
    OrvaDevice::Present();
}

void Render(int kind)
{
    switch (kind) {
    case kBusy: RenderSprites(g_scene->busy, false); break;
    case kRotated: RenderSprites(g_scene->rotated, true); break;
    default: RenderCubes(); break;
    }
}

uint32_t PresentedHash()
{
    const std::vector<uint32_t> f = CopyPresented();
    return busy2d::HashRgb(f.data(), busy2d::kWidth, busy2d::kHeight, busy2d::kWidth * 4);
}

void BM_Frame(benchmark::State& state)
{
    OrvaDevice::GetDevice()->SetThreadCount(static_cast<int>(state.range(1)));
    for (auto _ : state) {
        Render(static_cast<int>(state.range(0)));
    }
}
BENCHMARK(BM_Frame)
    ->ArgNames({"frame", "threads"})
    ->ArgsProduct({{kBusy, kRotated, kCubes}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!StartEngine()) {
        std::fprintf(stderr, "frames: the device could not be made\n");
        return 1;
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const int rounds = EnvCount("ORVA_BENCH_ROUNDS", 5);
    const int perRound[kKinds] = {EnvCount("ORVA_BENCH_FRAMES", 400), EnvCount("ORVA_BENCH_FRAMES", 40),
                                  EnvCount("ORVA_BENCH_FRAMES", 100)};
    const int warmup = EnvCount("ORVA_BENCH_WARMUP", 10);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int threadCounts[2] = {1, cores};
    // ORVA_BENCH_SPANS=0, 1 or 2 runs the general path, the SSE2 spans or the
    // AVX2 ones (the default: the widest the processor has).
    const char* spansText = std::getenv("ORVA_BENCH_SPANS");
    const int spans = spansText != nullptr && *spansText != '\0' ? std::clamp(std::atoi(spansText), 0, 2) : 2;

    // ORVA_BENCH_PROFILE=k draws frame kind k (0 busy, 1 rotated, 2 cubes)
    // on one thread ORVA_BENCH_FRAMES times and nothing else, for a profiler.
    if (const char* only = std::getenv("ORVA_BENCH_PROFILE")) {
        const int k = std::clamp(std::atoi(only), 0, kKinds - 1);
        device->SetThreadCount(EnvCount("ORVA_GFX_THREADS", 1));
        device->SetSpanLevel(spans);
        const int n = EnvCount("ORVA_BENCH_FRAMES", 100);
        std::vector<double> times;
        double total = 0.0;
        for (int i = 0; i < n; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            Render(k);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            total += ms;
            times.push_back(ms);
        }
        std::sort(times.begin(), times.end());
        std::printf("%s: %.3f ms per frame over %d frames, median %.3f, best %.3f\n", kNames[k], total / n, n,
                    times[times.size() / 2], times.front());
        StopEngine();
        return 0;
    }
    // What the general pixel path alone draws, to hold the fast paths to.
    uint32_t generalHash[kKinds];
    device->SetSpanLevel(0);
    device->SetThreadCount(cores);
    for (int k = 0; k < kKinds; ++k) {
        Render(k);
        generalHash[k] = PresentedHash();
    }
    device->SetSpanLevel(spans);
    // ORVA_BENCH_DUMP=prefix writes each finished frame as prefixN.ppm to look at.
    if (const char* dump = std::getenv("ORVA_BENCH_DUMP")) {
        for (int k = 0; k < kKinds; ++k) {
            Render(k);
            const std::vector<uint32_t> f = CopyPresented();
            char name[512];
            std::snprintf(name, sizeof name, "%s%d.ppm", dump, k);
            if (FILE* out = std::fopen(name, "wb")) {
                std::fprintf(out, "P6\n%d %d\n255\n", busy2d::kWidth, busy2d::kHeight);
                for (const uint32_t px : f) {
                    const unsigned char rgb[3] = {static_cast<unsigned char>(px >> 16),
                                                  static_cast<unsigned char>(px >> 8), static_cast<unsigned char>(px)};
                    std::fwrite(rgb, 1, 3, out);
                }
                std::fclose(out);
            }
        }
    }

    std::vector<double> ms[kKinds][2];
    uint32_t hash[kKinds][2] = {};
    bool same = true;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < kKinds; ++k) {
            for (int t = 0; t < 2; ++t) {
                device->SetThreadCount(threadCounts[t]);
                for (int i = 0; i < warmup; ++i) {
                    Render(k);
                }
                for (int i = 0; i < perRound[k]; ++i) {
                    const auto t0 = std::chrono::steady_clock::now();
                    Render(k);
                    ms[k][t].push_back(
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
                }
                const uint32_t h = PresentedHash();
                if (r > 0 && h != hash[k][t]) {
                    same = false;
                }
                hash[k][t] = h;
            }
        }
    }
    std::printf("frames: %d rounds of %d / %d / %d frames per thread count, %d warm-up each\n", rounds, perRound[0],
                perRound[1], perRound[2], warmup);
    std::printf("%-16s %8s %10s %10s %10s %10s  %-8s %s\n", "frame", "", "1 median", "1 best", "all median",
                "all best", "hash", "");
    for (int k = 0; k < kKinds; ++k) {
        double median[2], best[2];
        for (int t = 0; t < 2; ++t) {
            std::vector<double>& v = ms[k][t];
            std::sort(v.begin(), v.end());
            median[t] = v[v.size() / 2];
            best[t] = v.front();
        }
        const bool agree = hash[k][0] == hash[k][1] && hash[k][0] == generalHash[k];
        same = same && agree;
        std::printf("%-16s %2d cores %10.3f %10.3f %10.3f %10.3f  %08x %s\n", kNames[k], cores, median[0], best[0],
                    median[1], best[1], hash[k][1], agree ? "same bytes on 1 and all threads and the general path"
                                                          : "DIFFERENT BYTES");
    }
    const bool busyRight = hash[kBusy][0] == busy2d::kExpectedHash;
    if (!busyRight) {
        std::printf("frames: busy 2D hash is not the reference %08x\n", busy2d::kExpectedHash);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopEngine();
    return (same && busyRight) ? 0 : 1;
}
