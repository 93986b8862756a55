// The busy 2D frame through the engine's device: clear, the background 1:1,
// 600 + 300 alpha-blended and 300 additive sprites, each group filled into a
// dynamic vertex buffer with a discarding lock and drawn with one call, as the
// sprite batches draw. Prints the median milliseconds per frame with one
// thread and with every core, checks that both give the same bytes and that
// the frame's hash is the reference one; then runs the Google Benchmark
// cases. ORVA_BENCH_FRAMES and ORVA_BENCH_WARMUP shorten the run.
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

namespace {

using namespace benchframe;

struct Scene {
    OrvaTexture* background = nullptr;
    OrvaTexture* sprites[3] = {};
    platform::SoftVertexBuffer* buffer = nullptr;
    std::vector<busy2d::Vertex> groups[4];   // background, 16, 32, 64
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

bool StartEngine()
{
    OrvaDevice::Configure(busy2d::kWidth, busy2d::kHeight, true, &KeepFrame);
    if (!OrvaDevice::Initialize()) {
        return false;
    }
    OrvaTexture::Initialize();
    OrvaTexture::SetFullColor(true);
    g_scene = new Scene;
    g_scene->background = OrvaTexture::Create(busy2d::kWidth, busy2d::kHeight, false, nullptr);
    FillTexture(g_scene->background, busy2d::Background());
    for (int g = 0; g < 3; ++g) {
        g_scene->sprites[g] = OrvaTexture::Create(16 << g, 16 << g, true, nullptr);
        FillTexture(g_scene->sprites[g], busy2d::Sprite(16 << g));
    }
    busy2d::AppendQuad(g_scene->groups[0], 0, 0, busy2d::kWidth, busy2d::kHeight, busy2d::kWidth, busy2d::kHeight);
    for (const busy2d::Quad& q : busy2d::Quads()) {
        const int g = q.size == 16 ? 1 : (q.size == 32 ? 2 : 3);
        busy2d::AppendQuad(g_scene->groups[g], q.x, q.y, q.size, q.size, q.size, q.size);
    }
    const uint32_t bytes = static_cast<uint32_t>(g_scene->groups[1].size() * sizeof(busy2d::Vertex));
    return OrvaDevice::GetDevice()->CreateVertexBuffer(bytes, platform::UsageWriteOnly | platform::UsageDynamic, 0x144,
                                                      platform::PoolDefault, &g_scene->buffer) == platform::kGfxOk;
}

void StopEngine()
{
    if (g_scene != nullptr && g_scene->buffer != nullptr) {
        OrvaDevice::GetDevice()->SetStreamSource(0, nullptr, 0);
        g_scene->buffer->Release();
    }
    delete g_scene;
    g_scene = nullptr;
    OrvaTexture::Destroy();
    OrvaDevice::Destroy();
}

void RenderFrame()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    OrvaDevice::BeginScene();
    OrvaDevice::Clear(0xFF000000u);
    OrvaDevice::SetRenderState(platform::RsZEnable, 0);
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    device->SetVertexShader(0x144);
    device->SetStreamSource(0, g_scene->buffer, sizeof(busy2d::Vertex));
    for (int g = 0; g < 4; ++g) {
        const std::vector<busy2d::Vertex>& v = g_scene->groups[g];
        uint8_t* p = nullptr;
        const uint32_t bytes = static_cast<uint32_t>(v.size() * sizeof(busy2d::Vertex));
        if (g_scene->buffer->Lock(0, bytes, &p, platform::LockDiscard) != platform::kGfxOk) {
            continue;
        }
        std::memcpy(p, v.data(), bytes);
        g_scene->buffer->Unlock();
        OrvaDevice::SetBlendMode(g == 0 ? kOrvaBlendNone : (g == 3 ? kOrvaBlendAdd : kOrvaBlendNormal));
        OrvaDevice::SetTexture(g == 0 ? g_scene->background : g_scene->sprites[g - 1], 0);
        device->DrawPrimitive(platform::PrimTriangleList, 0, static_cast<uint32_t>(v.size() / 3));
    }
    OrvaDevice::EndScene();
    OrvaDevice::Present();
}

double MedianMs(int threads, int warmup, int frames)
{
    OrvaDevice::GetDevice()->SetThreadCount(threads);
    for (int i = 0; i < warmup; ++i) {
        RenderFrame();
    }
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        RenderFrame();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void BM_BusyFrame(benchmark::State& state)
{
    OrvaDevice::GetDevice()->SetThreadCount(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RenderFrame();
    }
}
BENCHMARK(BM_BusyFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (!StartEngine()) {
        std::fprintf(stderr, "busy2d: the device could not be made\n");
        return 1;
    }
    const int frames = EnvCount("ORVA_BENCH_FRAMES", 2000);
    const int warmup = EnvCount("ORVA_BENCH_WARMUP", 100);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const double one = MedianMs(1, warmup, frames);
    const std::vector<uint32_t> frameOne = CopyPresented();
    const double all = MedianMs(cores, warmup, frames);
    const std::vector<uint32_t> frameAll = CopyPresented();
    const bool same = frameOne == frameAll;
    const uint32_t hash = busy2d::HashRgb(frameAll.data(), busy2d::kWidth, busy2d::kHeight, busy2d::kWidth * 4);
    std::printf("busy2d: %d frames after %d warm-up\n", frames, warmup);
    std::printf("busy2d: 1 thread    median %.3f ms per frame\n", one);
    std::printf("busy2d: %d threads  median %.3f ms per frame\n", cores, all);
    std::printf("busy2d: frames identical across thread counts: %s\n", same ? "yes" : "NO");
    std::printf("busy2d: FNV-1a of R, G, B: %08x (%s)\n", hash, hash == busy2d::kExpectedHash ? "matches" : "WRONG");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    StopEngine();
    return (same && hash == busy2d::kExpectedHash) ? 0 : 1;
}
