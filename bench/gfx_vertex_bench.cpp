// Vertex throughput of the engine's generated vertex shaders: the default
// static mesh with four lights and a texture, and the skinned mesh with the
// same lighting. Measures the program alone in ns per vertex (one vertex at
// a time and a batch at a time, one thread) and whole draws of a 55 000
// vertex mesh in view through the device (shading, clipping and set-up;
// every triangle faces away, so no pixel is drawn) on one thread and on
// every core, with the shaders and with the fixed-function transform.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/render/shader.h"
#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"

namespace {

using platform::VertexProgram;
using platform::VertexShaderOutput;

constexpr int kMeshVertices = 55000;

OrvaShaderDesc Desc(bool skinned)
{
    OrvaShaderDesc d;
    d.transform = skinned ? kOrvaShaderSkin : kOrvaShaderStatic;
    d.color = kOrvaShaderLights;
    d.texture = kOrvaShaderTexture;
    d.fog = kOrvaShaderNoFog;
    return d;
}

// The engine's shader module, which writes the program text of a
// description.
OrvaVertexShader* Generator()
{
    static OrvaVertexShader* shader = [] {
        OrvaShader::Initialize();
        return OrvaShader::CreateVertexShader();
    }();
    return shader;
}

// The program text the engine makes for the description.
std::string ProgramText(const OrvaShaderDesc& desc)
{
    OrvaVertexShader* g = Generator();
    std::string text;
    std::vector<char> fragment(OrvaVertexShader::kFragmentBytes);
    g->GetTransformText(fragment.data(), OrvaVertexShader::kFragmentBytes, &desc);
    text += fragment.data();
    g->GetColorText(fragment.data(), OrvaVertexShader::kFragmentBytes, &desc);
    text += fragment.data();
    g->GetTextureText(fragment.data(), OrvaVertexShader::kFragmentBytes, &desc);
    text += fragment.data();
    g->GetFogText(fragment.data(), OrvaVertexShader::kFragmentBytes, &desc);
    text += fragment.data();
    return text;
}

struct Setup {
    VertexProgram program;
    std::vector<uint32_t> code;
    float constants[platform::shader::kVertexConstants][4] = {};
    std::vector<std::array<std::array<float, 4>, platform::shader::kVertexInputs>> inputs;
};

// Constants as a mesh sets them: lights, matrices, a bone palette.
void FillConstants(float (*c)[4], std::mt19937& rng)
{
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int r = 0; r < platform::shader::kVertexConstants; ++r) {
        for (int k = 0; k < 4; ++k) {
            c[r][k] = u(rng);
        }
    }
    const float common[4] = {0.5f, -0.5f, 1.0f, 255.0f * 3.0f};   // c0
    std::memcpy(c[0], common, sizeof common);
    // No swelling along the normals.
    c[12][1] = 0.0f;
    c[12][3] = 0.0f;
    // World, view and projection in one: the mesh's [-2, 2] box lands
    // inside the view volume, as a mesh in view does.
    const float toClip[4][4] = {{0.4f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.4f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.2f, 0.5f},
                                {0.0f, 0.0f, 0.0f, 1.0f}};
    std::memcpy(c[20], toClip, sizeof toClip);
    // Bones that move their vertices a little and do not turn them.
    for (int b = 0; b < 23; ++b) {
        for (int row = 0; row < 3; ++row) {
            float* m = c[26 + 3 * b + row];
            m[0] = m[1] = m[2] = 0.0f;
            m[row] = 1.0f;
            m[3] = u(rng) * 0.05f;
        }
    }
}

bool Prepare(Setup& s, bool skinned, std::string* why)
{
    const std::string text = ProgramText(Desc(skinned));
    platform::ShaderAsmResult r;
    if (!platform::AssembleShader(text.c_str(), text.size(), &r)) {
        *why = r.error;
        return false;
    }
    s.code = r.code;
    if (!s.program.Load(s.code.data(), s.code.size(), why)) {
        return false;
    }
    std::mt19937 rng(5);
    FillConstants(s.constants, rng);
    s.program.ApplyDefinitions(s.constants);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    s.inputs.resize(4096);
    for (auto& v : s.inputs) {
        for (auto& reg : v) {
            reg = {u(rng), u(rng), u(rng), 1.0f};
        }
        // Bone indices (0 .. 22, times three in the program) and weights.
        // As the device reads them from a colour: byte / 255, times 765 in
        // the program.
        v[5] = {static_cast<float>(rng() % 23) / 255.0f, static_cast<float>(rng() % 23) / 255.0f,
                static_cast<float>(rng() % 23) / 255.0f, 0.0f};
        v[4] = {0.5f, 0.3f, 0.2f, 1.0f};
    }
    return true;
}

void BM_ProgramOneAtATime(benchmark::State& state)
{
    Setup s;
    std::string why;
    if (!Prepare(s, state.range(0) != 0, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    VertexShaderOutput out;
    size_t i = 0;
    for (auto _ : state) {
        s.program.Run(s.constants, reinterpret_cast<const float(*)[4]>(s.inputs[i].data()), &out);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % s.inputs.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["ns/vertex"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProgramOneAtATime)->ArgName("skinned")->Arg(0)->Arg(1);

// The program over VertexRun's lanes: each round fills the inputs the
// program reads from the next vertices, runs it and reads the position.
void BM_ProgramBatch(benchmark::State& state)
{
    Setup s;
    std::string why;
    if (!Prepare(s, state.range(0) != 0, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    constexpr int kLanes = platform::VertexRun::kLanes;
    platform::VertexRun run;
    if (!run.Begin(s.program, s.constants)) {
        state.SkipWithError("no run");
        return;
    }
    const uint32_t used = s.program.GetInputMask();
    size_t i = 0;
    for (auto _ : state) {
        for (int r = 0; r < platform::shader::kVertexInputs; ++r) {
            if ((used >> r & 1u) == 0) {
                continue;
            }
            // The inputs are whole blocks of lanes (4096 vertices).
            for (int c = 0; c < 4; ++c) {
                float* lanes = run.Input(r, c);
                for (int l = 0; l < kLanes; ++l) {
                    lanes[l] = s.inputs[i + l][r][c];
                }
            }
        }
        run.Run();
        benchmark::DoNotOptimize(run.Output(0)[0]);
        i = (i + kLanes) % s.inputs.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLanes);
    state.counters["ns/vertex"] = benchmark::Counter(static_cast<double>(state.iterations()) * kLanes,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ProgramBatch)->ArgName("skinned")->Arg(0)->Arg(1);

// Each three vertices of the mesh a small triangle somewhere in the
// [-2, 2] box, all of them wound alike: counter-clockwise on the screen.
void MeshPosition(const Setup& s, int v, float* position)
{
    const float corner[3][2] = {{0.0f, 0.0f}, {0.05f, 0.0f}, {0.0f, 0.05f}};
    const auto& centre = s.inputs[static_cast<size_t>(v / 3) % s.inputs.size()][0];
    position[0] = centre[0] * 1.5f + corner[v % 3][0];
    position[1] = centre[1] * 1.5f + corner[v % 3][1];
    position[2] = centre[2];
    position[3] = 1.0f;
}

// A 640 x 480 device on the given number of threads, or the benchmark
// skipped.
bool OpenDevice(platform::SoftDevice& dev, int threads, benchmark::State& state)
{
    platform::DeviceParams params;
    params.width = 640;
    params.height = 480;
    if (!dev.Create(params)) {
        state.SkipWithError("no device");
        return false;
    }
    dev.SetThreadCount(threads);
    return true;
}

// A draw of the whole mesh through the device with the shader bound.
void BM_MeshDraw(benchmark::State& state)
{
    const bool skinned = state.range(0) != 0;
    Setup s;
    std::string why;
    if (!Prepare(s, skinned, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    platform::SoftDevice dev;
    if (!OpenDevice(dev, static_cast<int>(state.range(1)), state)) {
        return;
    }
    const OrvaShaderDesc desc = Desc(skinned);
    const uint32_t* declaration = Generator()->GetDeclaration(&desc);
    uint32_t handle = 0;
    if (dev.CreateVertexShader(declaration, s.code.data(), static_cast<uint32_t>(s.code.size()), &handle, 0) !=
        platform::kGfxOk) {
        state.SkipWithError("shader refused");
        return;
    }
    // Vertices as the declaration lays them out, from the same inputs.
    platform::VertexDeclaration decl;
    std::string error;
    size_t tokens = 0;
    while (declaration[tokens] != platform::kDeclEnd) {
        ++tokens;
    }
    platform::ParseVertexDeclaration(declaration, tokens + 1, &decl, &error);
    std::vector<uint8_t> vertices(static_cast<size_t>(kMeshVertices) * decl.stride);
    for (int v = 0; v < kMeshVertices; ++v) {
        const auto& in = s.inputs[static_cast<size_t>(v) % s.inputs.size()];
        uint8_t* p = vertices.data() + static_cast<size_t>(v) * decl.stride;
        float position[4];
        MeshPosition(s, v, position);
        for (const auto& e : decl.elements) {
            if (e.reg == 0) {
                std::memcpy(p + e.offset, position, platform::DeclTypeBytes(e.type));
            } else if (e.type == platform::DeclColor) {
                uint32_t c = 0xFF808080u;
                if (e.reg == 5) {
                    // Index bytes reversed, as the loader writes them.
                    auto byte = [](float f) { return static_cast<uint32_t>(f * 255.0f + 0.5f); };
                    c = byte(in[5][2]) | (byte(in[5][1]) << 8) | (byte(in[5][0]) << 16);
                }
                std::memcpy(p + e.offset, &c, 4);
            } else {
                std::memcpy(p + e.offset, in[e.reg].data(), platform::DeclTypeBytes(e.type));
            }
        }
    }
    std::vector<uint16_t> indices(static_cast<size_t>(kMeshVertices / 3) * 3);
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<uint16_t>(i % 65536);
    }
    dev.SetVertexShader(handle);
    for (int r = 0; r < platform::shader::kVertexConstants; ++r) {
        dev.SetVertexShaderConstant(static_cast<uint32_t>(r), s.constants[r], 1);
    }
    // Every triangle is culled after shading: the work measured is the
    // vertex work.
    dev.SetRenderState(platform::RsCullMode, platform::CullCcw);
    dev.SetRenderState(platform::RsZEnable, 0);
    for (auto _ : state) {
        dev.BeginScene();
        dev.DrawIndexedPrimitiveUP(platform::PrimTriangleList, 0, kMeshVertices,
                                   static_cast<uint32_t>(indices.size() / 3), indices.data(), platform::FormatIndex16,
                                   vertices.data(), decl.stride);
        dev.EndScene();
    }
    state.counters["ns/vertex"] = benchmark::Counter(static_cast<double>(state.iterations()) * kMeshVertices,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    dev.DeleteVertexShader(handle);
}
BENCHMARK(BM_MeshDraw)
    ->ArgNames({"skinned", "threads"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same mesh through the fixed-function transform (position, normal,
// diffuse colour and a coordinate set; world, view and projection put it in
// view; lighting, which the device leaves to vertex shaders, off), with and
// without a user clip plane that keeps everything.
void BM_FixedDraw(benchmark::State& state)
{
    Setup s;
    std::string why;
    if (!Prepare(s, false, &why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    platform::SoftDevice dev;
    if (!OpenDevice(dev, static_cast<int>(state.range(0)), state)) {
        return;
    }
    struct FixedVertex {
        float x, y, z;
        float nx, ny, nz;
        uint32_t diffuse;
        float u, v;
    };
    std::vector<FixedVertex> vertices(kMeshVertices);
    for (int v = 0; v < kMeshVertices; ++v) {
        float position[4];
        MeshPosition(s, v, position);
        const auto& in = s.inputs[static_cast<size_t>(v) % s.inputs.size()];
        vertices[v] = {position[0], position[1], position[2], in[1][0], in[1][1], in[1][2], 0xFF808080u,
                       in[7][0], in[7][1]};
    }
    std::vector<uint16_t> indices(static_cast<size_t>(kMeshVertices / 3) * 3);
    for (size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<uint16_t>(i);
    }
    platform::Matrix4 world{}, identity{};
    for (int k = 0; k < 4; ++k) {
        identity.m[k][k] = 1.0f;
    }
    world.m[0][0] = 0.4f;
    world.m[1][1] = 0.4f;
    world.m[2][2] = 0.2f;
    world.m[3][2] = 0.5f;
    world.m[3][3] = 1.0f;
    dev.SetTransform(platform::TsWorld, world);
    dev.SetTransform(platform::TsView, identity);
    dev.SetTransform(platform::TsProjection, identity);
    dev.SetVertexShader(0x152);
    dev.SetRenderState(platform::RsLighting, 0);
    dev.SetRenderState(platform::RsCullMode, platform::CullCcw);
    dev.SetRenderState(platform::RsZEnable, 0);
    if (state.range(1) != 0) {
        const float plane[4] = {0.0f, 0.0f, 1.0f, 10.0f};
        dev.SetClipPlane(0, plane);
        dev.SetRenderState(platform::RsClipPlaneEnable, 1);
    }
    for (auto _ : state) {
        dev.BeginScene();
        dev.DrawIndexedPrimitiveUP(platform::PrimTriangleList, 0, kMeshVertices,
                                   static_cast<uint32_t>(indices.size() / 3), indices.data(), platform::FormatIndex16,
                                   vertices.data(), sizeof(FixedVertex));
        dev.EndScene();
    }
    state.counters["ns/vertex"] = benchmark::Counter(static_cast<double>(state.iterations()) * kMeshVertices,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FixedDraw)
    ->ArgNames({"threads", "plane"})
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
