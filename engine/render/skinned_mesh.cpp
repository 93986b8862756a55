#include "engine/render/skinned_mesh.h"

#include <algorithm>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/render/frame.h"
#include "engine/render/material.h"

static void Progress(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

SkinnedMesh::SkinnedMesh()
{
    shaderDesc.transform = kOrvaShaderSkin;
}

SkinnedMesh::~SkinnedMesh() = default;

bool SkinnedMesh::SetBones(const std::vector<std::string>& names, const std::vector<OrvaMatrix>& offsets)
{
    try {
        boneNames = names;
        boneOffsets = offsets;
        boneOffsets.resize(boneNames.size());
        boneMatrices.assign(boneNames.size(), nullptr);
    } catch (const std::bad_alloc&) {
        boneNames.clear();
        boneOffsets.clear();
        boneMatrices.clear();
        boneCount = 0;
        return false;
    }
    boneCount = static_cast<uint32_t>(boneNames.size());
    return true;
}

OrvaMatrix* SkinnedMesh::GetBoneMatrixPointer(uint32_t bone) const
{
    return bone < boneMatrices.size() ? boneMatrices[bone] : nullptr;
}

void SkinnedMesh::SetBoneMatrixPointer(uint32_t bone, OrvaMatrix* matrix)
{
    if (bone < boneMatrices.size()) {
        boneMatrices[bone] = matrix;
    }
}

int32_t SkinnedMesh::PrepareFromSkinMesh(const platform::SkinMeshData* skin, platform::MeshData* out,
                                         OrvaProgress progress)
{
    vertexKind = kOrvaMeshSkinned;
    if (skin == nullptr || out == nullptr) {
        return 0;
    }
    // Vertices no bone weighs follow the mesh's own frame, one palette entry
    // more (the bone number after the last).
    const uint32_t bones = boneCount + (skin->HasUnweightedVertices() ? 1u : 0u);
    paletteSize = std::min<uint32_t>(bones, static_cast<uint32_t>(std::max(OrvaDevice::GetMaxSkinBones(), 0)));
    std::string why;
    if (!skin->ConvertToIndexedBlendedMesh(paletteSize, out, &combinations, &why)) {
        OrvaDebug::Log("ERROR Failed ConvertToIndexedBlendedMesh [%s]\n", why.c_str());
        combinations.clear();
        return 0;
    }
    const uint32_t producedFvf = out->GetFvf();
    Progress(progress);
    if (producedFvf != platform::kFvfMeshSkinned) {
        platform::MeshData clone;
        if (out->CloneFvf(platform::kFvfMeshSkinned, &clone)) {
            *out = std::move(clone);
        }
    }
    Progress(progress);
    if ((producedFvf & platform::FvfNormal) == 0) {
        out->ComputeNormals();
    }
    Progress(progress);
    return 1;
}

OrvaMatrix* SkinnedMesh::FindFrameMatrix(const char* text, OrvaObjectList* frames)
{
    if (text == nullptr || frames == nullptr) {
        return nullptr;
    }
    for (OrvaObject* o = frames->GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaFrame* frame = static_cast<OrvaFrame*>(o);
        if (frame->CompareName(text)) {
            return frame->GetCombinedMatrix();
        }
    }
    return nullptr;
}

void SkinnedMesh::BindFrames(OrvaObjectList* frames)
{
    OrvaDebug::Log("-> Find Bone...\n");
    for (uint32_t i = 0; i < boneCount && i < boneNames.size(); ++i) {
        boneMatrices[i] = FindFrameMatrix(boneNames[i].c_str(), frames);
        OrvaDebug::Log("    [%s] [0x%08X]\n", boneNames[i].c_str(),
                       static_cast<uint32_t>(reinterpret_cast<uintptr_t>(boneMatrices[i])));
    }
}

OrvaMatrix* SkinnedMesh::UpdateWorld(OrvaMatrix* out, const OrvaMatrix& combined, const OrvaMatrix& world)
{
    (void)combined;
    worldMatrix = world;
    if (out != nullptr) {
        *out = worldMatrix;
    }
    return out;
}

void SkinnedMesh::Draw()
{
    if (!BeginDraw()) {
        return;
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    for (const platform::BoneCombination& combo : combinations) {
        if (combo.attribId > 0x7FFFFFFFu) {
            continue;
        }
        const OrvaMaterial* material =
            static_cast<const OrvaMaterial*>(materials.GetAt(static_cast<int32_t>(combo.attribId)));
        // A run outside the buffers, or without a material, is not drawn.
        if (material == nullptr || combo.faceCount == 0 ||
            (uint64_t(combo.faceStart) + combo.faceCount) * 3 > static_cast<uint64_t>(indexCount) ||
            uint64_t(combo.vertexStart) + combo.vertexCount > static_cast<uint64_t>(vertexCount)) {
            continue;
        }
        for (uint32_t j = 0; j < paletteSize && j < combo.boneIds.size(); ++j) {
            const uint32_t b = combo.boneIds[j];
            OrvaMatrix m;
            if (b == boneOffsets.size()) {
                // The vertices no bone weighs: the mesh's own frame.
                m.Identity();
                if (frame != nullptr) {
                    m = *frame->GetCombinedMatrix();
                }
            } else if (b == platform::kNoBone || b > boneOffsets.size()) {
                continue;
            } else {
                // A bone whose frame was not found moves by its offset alone.
                m = boneOffsets[b];
                if (boneMatrices[b] != nullptr) {
                    m.Multiply(boneOffsets[b], *boneMatrices[b]);
                }
            }
            OrvaMatrix t;
            t.Transpose(m);
            device->SetVertexShaderConstant(static_cast<uint32_t>(kPaletteRegister) + 3 * j, t.GetData(), 3);
        }
        ApplyMaterial(material);
        if (device->DrawIndexedPrimitive(platform::PrimTriangleList, combo.vertexStart, combo.vertexCount,
                                         combo.faceStart * 3, combo.faceCount) == platform::kGfxOk) {
            OrvaApplication::AddPolygonCount(static_cast<int32_t>(combo.faceCount));
        }
    }
}
