// Fuzz target: the X-file reader, the mesh and skin reader over every Mesh
// it finds, the split into bone combinations, and the model's loaders and
// animation step over what was read (no device: nothing is drawn). Built
// as a libFuzzer program with clang (ORVA_LIBFUZZER); every build also runs
// it as a regression program over seeds it writes itself (text, binary and
// both compressed forms) and deterministic mutations:
//
//   fuzz_xfile_regression [MUTATIONS]
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/object.h"
#include "engine/render/animation.h"
#include "engine/render/frame.h"
#include "engine/render/model_loader.h"
#include "platform/gfx/skin_mesh.h"
#include "platform/gfx/xfile.h"
#include "tests/platform/gfx/xfile_writer.h"

static void CheckMeshes(const platform::XFile& file, const std::vector<platform::XObject>& objects, size_t size)
{
    for (const platform::XObject& o : objects) {
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
                        }
                    }
                }
            } else if (error.rfind("mesh: ", 0) != 0) {
                __builtin_trap();
            }
        }
        CheckMeshes(file, o.children, size);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    platform::XFile file;
    std::string error;
    if (!file.Parse(data, size, &error)) {
        if (error.rfind("xfile: ", 0) != 0 || !file.GetObjects().empty()) __builtin_trap();
        return 0;
    }
    CheckMeshes(file, file.GetObjects(), size);

    // Frames and animations as a model loads them. Meshes are left out:
    // without a device they would only log their buffer failures.
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
    for (const platform::XObject& o : file.GetObjects()) {
        if (o.templateName == "Frame") loader.LoadFrame(o, root, nullptr);
    }
    for (const platform::XObject& o : file.GetObjects()) {
        if (o.templateName == "AnimationSet") loader.LoadAnimationSet(o, nullptr);
    }
    for (float time : {0.0f, 37.5f, -12.0f, 1.0e9f}) {
        OrvaModelLoader::Animate(&frames, time);
        OrvaMatrix out;
        OrvaModelLoader::GetFrameMatrix(&frames, &out, frames.GetCount() - 1, time);
    }
    meshes.ReleaseAll();
    animations.ReleaseAll();
    frames.ReleaseAll();
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
namespace {

using Bytes = std::vector<uint8_t>;

struct Random {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
    size_t Below(size_t n) { return n ? Next() % n : 0; }
};

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
      TextureFilename { "a\b.png"; } } {Shared} }
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
    const std::vector<Bytes> seeds = {xtest::Text(kSkin), xtest::Binary(kSkin), xtest::Compressed(kSkin, "tzip"),
                                      xtest::Compressed(kSkin, "bzip"), xtest::Text("")};
    for (const Bytes& seed : seeds) {
        // Every seed is a good file: the mutations start from what reads.
        platform::XFile file;
        std::string error;
        if (!file.Parse(seed.data(), seed.size(), &error)) {
            std::fprintf(stderr, "seed does not read: %s\n", error.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    Random random;
    long readable = 0;
    for (long i = 0; i < mutations; ++i) {
        Bytes input = seeds[random.Below(seeds.size())];
        for (size_t steps = 1 + random.Below(3); steps > 0; --steps) {
            Mutate(&input, &random);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
        platform::XFile file;
        readable += file.Parse(input.data(), input.size(), nullptr) ? 1 : 0;
    }
    std::printf("%zu seeds and %ld mutations ran, %ld of them readable\n", seeds.size(), mutations, readable);
    return 0;
}
#endif
