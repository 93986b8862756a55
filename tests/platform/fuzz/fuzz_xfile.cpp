// Fuzz target: the X-file reader, the mesh and skin reader over every Mesh
// it finds, the split into bone combinations, and the model's X-file
// loader over what was read (frames, meshes and skinned meshes with their
// materials and device buffers, animations), its animation step and a draw
// of every mesh on a small headless device. Built as a libFuzzer program
// with clang (ORVA_LIBFUZZER); every build also runs it as a regression
// program over seeds it writes itself (text, binary and both compressed
// forms) and deterministic mutations:
//
//   fuzz_xfile_regression [MUTATIONS]
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/object.h"
#include "engine/core/texture.h"
#include "engine/render/animation.h"
#include "engine/render/camera.h"
#include "engine/render/frame.h"
#include "engine/render/mesh.h"
#include "engine/render/model_loader.h"
#include "engine/render/shader.h"
#include "platform/gfx/skin_mesh.h"
#include "platform/gfx/xfile.h"
#include "tests/platform/gfx/xfile_writer.h"

namespace {

// Every Mesh of the file, at any depth (walked with a stack of our own, as
// files may nest thousands of levels), read by the skin reader and split.
void CheckMeshes(const platform::XFile& file)
{
    std::vector<std::pair<const std::vector<platform::XObject>*, size_t>> stack = {{&file.GetObjects(), 0}};
    while (!stack.empty()) {
        auto& [level, next] = stack.back();
        if (next >= level->size()) {
            stack.pop_back();
            continue;
        }
        const platform::XObject& o = (*level)[next++];
        if (o.templateName == "Mesh") {
            platform::SkinMeshData skin;
            std::vector<platform::MeshMaterial> materials;
            std::string error;
            if (platform::LoadSkinMesh(file, o, &skin, &materials, &error)) {
                const platform::MeshData& m = skin.GetOriginalMesh();
                if (m.GetVertexCount() > platform::kMaxMeshVertices) __builtin_trap();
                for (uint32_t i = 0; i < m.GetFaceCount() * 3; ++i) {
                    if (m.GetIndices()[i] >= m.GetVertexCount()) __builtin_trap();
                }
                for (uint32_t palette : {4u, 23u}) {
                    platform::MeshData out;
                    std::vector<platform::BoneCombination> combos;
                    if (skin.ConvertToIndexedBlendedMesh(palette, &out, &combos, &error)) {
                        for (const platform::BoneCombination& c : combos) {
                            if (c.vertexStart + c.vertexCount > out.GetVertexCount()) __builtin_trap();
                            for (uint32_t b : c.boneIds) {
                                if (b != platform::kNoBone && b > skin.GetBoneCount()) __builtin_trap();
                            }
                        }
                    }
                }
            } else if (error.rfind("mesh: ", 0) != 0) {
                __builtin_trap();
            }
        }
        if (!o.children.empty()) {
            stack.emplace_back(&o.children, 0);
        }
    }
}

// The engine modules a model's meshes need, started once: a 16 x 16
// headless device drawing on one thread, textures, shaders, meshes and a
// camera looking along +z. Texture names from the inputs are looked up in
// an empty folder of our own.
char g_folder[] = "/tmp/fuzz_xfile_XXXXXX";

void RemoveFolder()
{
    rmdir(g_folder);
}

OrvaCamera* StartModules()
{
    if (mkdtemp(g_folder) == nullptr || chdir(g_folder) != 0) {
        std::fprintf(stderr, "fuzz_xfile: cannot make an empty folder\n");
        std::abort();
    }
    std::atexit(&RemoveFolder);
    OrvaDevice::Configure(16, 16, true, nullptr);
    if (!OrvaDevice::Initialize()) {
        std::fprintf(stderr, "fuzz_xfile: no device\n");
        std::abort();
    }
    OrvaDevice::GetDevice()->SetThreadCount(1);
    OrvaTexture::Initialize();
    OrvaShader::Initialize();
    OrvaMesh::Initialize();
    OrvaCamera::Initialize();
    OrvaCamera* camera = OrvaCamera::Create();
    camera->SetPerspective(60.0f, 0.5f, 100.0f, 1.0f);
    camera->Translate(0.0f, 0.0f, -10.0f);
    camera->UpdateView();
    camera->Apply();
    return camera;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static OrvaCamera* const camera = StartModules();
    (void)camera;
    platform::XFile file;
    std::string error;
    if (!file.Parse(data, size, &error)) {
        if (error.rfind("xfile: ", 0) != 0 || !file.GetObjects().empty()) __builtin_trap();
        return 0;
    }
    CheckMeshes(file);

    // The whole file as the model's X-file generator loads it.
    OrvaObjectList frames;
    OrvaObjectList meshes;
    OrvaObjectList animations;
    OrvaFrame* root = new OrvaFrame();
    root->SetName("MASTER_FRAME");
    frames.PushBack(root);
    OrvaModelParts parts;
    parts.frames = &frames;
    parts.meshes = &meshes;
    parts.animations = &animations;
    parts.root = root;
    OrvaModelLoader loader(parts);
    loader.LoadFromXof(file, nullptr);
    OrvaMatrix world;
    world.Identity();
    for (float time : {0.0f, 37.5f, -12.0f, 1.0e9f}) {
        OrvaModelLoader::Animate(&frames, time);
        OrvaMatrix out;
        OrvaModelLoader::GetFrameMatrix(&frames, &out, frames.GetCount() - 1, time);
    }
    if (OrvaDevice::BeginScene()) {
        OrvaDevice::Clear(0xFF000000u);
        for (OrvaObject* o = meshes.GetHead(); o != nullptr; o = o->GetNext()) {
            OrvaMesh* mesh = static_cast<OrvaMesh*>(o);
            if (mesh->GetVertexCount() < 0 || mesh->GetIndexCount() < 0) __builtin_trap();
            OrvaMatrix placed;
            mesh->UpdateWorld(&placed, mesh->GetFrame() != nullptr ? *mesh->GetFrame()->GetCombinedMatrix() : world,
                              world);
            mesh->UpdateBox(placed);
            mesh->Draw();
        }
        OrvaDevice::EndScene();
    }
    meshes.ReleaseAll();
    animations.ReleaseAll();
    frames.ReleaseAll();
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

const char kSkin[] = R"(
template Extra { <11111111-2222-3333-4444-555555555555> WORD n; array FLOAT v[n]; }
Frame Arm {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -4.0,0.0,5.0,1.0;; }
  Extra { 2; 1.0, 2.0;; }
  Frame Hand { FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,0.0,1.0;; } }
  Mesh Strip {
    6; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;1.0;0.0;, 2.0;0.0;0.0;, 2.0;1.0;0.0;;
    2; 4;0,2,3,1;, 4;1,3,5,4;;
    MeshNormals { 2; 0.0;0.0;-1.0;, 0.0;0.0;1.0;; 2; 4;0,0,0,0;, 4;1,1,1,1;; }
    MeshTextureCoords { 6; 0.0;0.0;, 1.0;0.0;, 0.0;1.0;, 1.0;1.0;, 0.5;0.5;, 0.25;0.25;; }
    MeshVertexColors { 2; 0; 1.0;0.0;0.0;1.0;;, 5; 0.0;1.0;0.0;1.0;;; }
    MeshMaterialList { 2; 2; 0,1;; Material { 1.0;1.0;1.0;1.0;; 2.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;
      TextureFileName { "a\b.png"; } } {Shared} }
    XSkinMeshHeader { 2; 4; 2; }
    SkinWeights { "Arm"; 4; 0,1,2,3; 1.0,0.5,1.0,0.5;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,-5.0,1.0;; }
    SkinWeights { "Hand"; 4; 1,3,4,5; 0.5,0.5,1.0,1.0;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,-5.0,1.0;; }
  }
}
Material Shared { 0.0;1.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
AnimationSet Bend {
  Animation { {Hand} AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 10; 4; 0.7,0.0,0.0,-0.7;;; }
    AnimationKey { 1; 2; 0; 3; 1.0,1.0,1.0;;, 10; 3; 2.0,2.0,2.0;;; } }
  Animation { {Arm} AnimationKey { 4; 1; 0; 16; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; } }
  Animation { AnimationKey { 2; 2; 0; 3; 0.0,0.0,0.0;;, 20; 3; 1.0,2.0,3.0;;; } {Arm} }
}
)";

void PutU32(Bytes* b, size_t at, uint32_t v)
{
    if (at + 4 > b->size()) return;
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Mutations where the reader has something to check: the header and the
// compressed block headers, any aligned word (counts, list lengths, token
// numbers), text digits, and the file's length.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 2, 3, 16, 255, 0xFFFF, 0x10000, 0x7FFF, 0x8000, 0x7FFFFFFF,
                                            0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    const uint32_t value = kInteresting[r->Below(sizeof kInteresting / sizeof kInteresting[0])];
    switch (r->Below(7)) {
    case 0: if (!b->empty()) (*b)[r->Below(b->size() < 32 ? b->size() : 32)] ^= uint8_t(1u << r->Below(8)); break;
    case 1: PutU32(b, 16 + 2 * r->Below(20), value); break;
    case 2: PutU32(b, r->Below(b->size() + 1), value); break;
    case 3: b->resize(r->Below(b->size() + 1)); break;
    case 4: b->resize(b->size() + 1 + r->Below(64), uint8_t(r->Next())); break;
    case 5: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t("0123456789;,{}\"-."[r->Below(17)]); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "Frame D" + std::to_string(i) + " { ";
    deep += "Mesh Bare { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; }" + std::string(300, '}');
    const std::vector<Bytes> seeds = {xtest::Text(kSkin),
                                      xtest::Binary(kSkin),
                                      xtest::Binary(kSkin, xtest::StringEnd::Wide),
                                      xtest::Compressed(kSkin, "tzip"),
                                      xtest::Compressed(kSkin, "bzip"),
                                      xtest::Binary(deep),
                                      xtest::Text("")};
    for (const Bytes& seed : seeds) {
        // Every seed is a good file: the mutations start from what reads.
        platform::XFile file;
        std::string error;
        if (!file.Parse(seed.data(), seed.size(), &error)) {
            std::fprintf(stderr, "seed does not read: %s\n", error.c_str());
            return 1;
        }
    }
    fuzzrun::Random random(0x9E3779B97F4A7C15ull);
    long readable = 0;
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3, [&](const Bytes& input) {
        platform::XFile file;
        readable += file.Parse(input.data(), input.size(), nullptr) ? 1 : 0;
    });
    std::printf("%zu seeds and %ld mutations ran, %ld of them readable\n", seeds.size(), mutations, readable);
    return 0;
}
#endif
