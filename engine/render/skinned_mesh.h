#pragma once
// Skinned meshes: a mesh whose vertices blend up to three bones each, drawn
// in runs (bone combinations) whose bones fit the palette of bone matrices
// held in vertex-shader constants c26 onwards. Each bone has an offset
// matrix (mesh space to the bone's space) and points at the combined matrix
// of the frame of its name. Main thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/render/mesh.h"

class SkinnedMesh : public OrvaMesh {
public:
    // The first palette register; three per bone.
    static constexpr int32_t kPaletteRegister = 26;

    // The transform selector of the shader description is the skinned one.
    SkinnedMesh();
    ~SkinnedMesh() override;

    // Skinned kind: the skin split into bone combinations for a palette of
    // min(bones, OrvaDevice::GetMaxSkinBones()) in the 48-byte skinned
    // format. Vertices that no bone weighs follow the mesh's own frame: they
    // are blended from bone number GetBoneCount(), drawn with the frame's
    // combined matrix, and the palette counts it as one bone more. 1 when
    // done, 0 when the split failed.
    int32_t PrepareFromSkinMesh(const platform::SkinMeshData* skin, platform::MeshData* out,
                                OrvaProgress progress) override;
    // Each bone's matrix pointer from the frame of its name, logged.
    void BindFrames(OrvaObjectList* frames) override;
    void Draw() override;
    // world = world alone: the bones carry the frames' matrices.
    OrvaMatrix* UpdateWorld(OrvaMatrix* out, const OrvaMatrix& combined, const OrvaMatrix& world) override;
    // The combined matrix of the first frame of the list whose name is the
    // text (exact, case-sensitive); null when there is none.
    virtual OrvaMatrix* FindFrameMatrix(const char* text, OrvaObjectList* frames);

    // The loader's bones: names and offset matrices in bone order; the
    // matrix pointers start null. False when memory is short.
    bool SetBones(const std::vector<std::string>& names, const std::vector<OrvaMatrix>& offsets);
    uint32_t GetBoneCount() const { return boneCount; }
    uint32_t GetPaletteSize() const { return paletteSize; }
    uint32_t GetCombinationCount() const { return static_cast<uint32_t>(combinations.size()); }
    const std::vector<platform::BoneCombination>& GetCombinations() const { return combinations; }
    OrvaMatrix* GetBoneMatrixPointer(uint32_t bone) const;
    // For callers that point a bone at a matrix of their own.
    void SetBoneMatrixPointer(uint32_t bone, OrvaMatrix* matrix);

private:
    std::vector<std::string> boneNames;
    uint32_t paletteSize = 0;
    uint32_t boneCount = 0;
    std::vector<OrvaMatrix*> boneMatrices;
    std::vector<OrvaMatrix> boneOffsets;
    std::vector<platform::BoneCombination> combinations;
};
