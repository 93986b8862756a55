// The model's operations that reach into its meshes: settings for one mesh
// or every mesh, morph targets, single-mesh draws, lookup by name, sharing
// and picking.
#include <cstdint>
#include <cstring>

#include "engine/core/graphics.h"
#include "engine/render/frame.h"
#include "engine/render/material.h"
#include "engine/render/mesh.h"
#include "engine/render/model.h"

// SetMorphTarget's two messages are copied here; the next failing call
// overwrites it.
static char g_message[128];

static const char kNoSuchMesh[] = "存在しないメッシュIDを指定しています";
static const char kNoSuchTargetMesh[] = "ターゲットに存在しないメッシュIDを指定しています";

static const char* Message(const char* text)
{
    std::strncpy(g_message, text, sizeof g_message - 1);
    g_message[sizeof g_message - 1] = '\0';
    return g_message;
}

// Calls apply on the object of list at index when the index is inside the
// list, else on every object in list order.
template <typename T, typename F>
static void ForEachAddressed(OrvaObjectList* list, int32_t index, F apply)
{
    if (index >= 0 && index < list->GetCount()) {
        apply(static_cast<T*>(list->GetAt(index)));
        return;
    }
    for (OrvaObject* o = list->GetHead(); o != nullptr; o = o->GetNext()) {
        apply(static_cast<T*>(o));
    }
}

template <typename F>
static void ForEachMesh(OrvaObjectList* meshes, int32_t meshIndex, F apply)
{
    ForEachAddressed<OrvaMesh>(meshes, meshIndex, apply);
}

// ---------------------------------------------------------------- settings

const char* OrvaModel::SetMorphTarget(int32_t meshIndex, OrvaModel* target, int32_t targetIndex)
{
    // Compared unsigned: -1 is no mesh here, not every mesh.
    if (static_cast<uint32_t>(meshIndex) >= static_cast<uint32_t>(GetMeshCount())) {
        return Message(kNoSuchMesh);
    }
    if (target == nullptr || static_cast<uint32_t>(targetIndex) >= static_cast<uint32_t>(target->GetMeshCount())) {
        return Message(kNoSuchTargetMesh);
    }
    return GetMesh(meshIndex)->SetMorphTarget(target->GetMesh(targetIndex), nullptr);
}

void OrvaModel::SetMorphWeight(float weight, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [weight](OrvaMesh* mesh) { mesh->SetMorphWeight(weight); });
}

void OrvaModel::SetTexture(int32_t stage, OrvaTexture* texture, int32_t meshIndex, int32_t materialIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [=](OrvaMesh* mesh) {
        ForEachAddressed<OrvaMaterial>(mesh->GetMaterials(), materialIndex,
                                       [=](OrvaMaterial* material) { material->SetTexture(texture, stage); });
    });
}

void OrvaModel::SetCulling(int32_t flag, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [flag](OrvaMesh* mesh) { mesh->SetCull(flag); });
}

void OrvaModel::SetStealthScale(float value, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [value](OrvaMesh* mesh) { mesh->SetStealthScale(value); });
}

void OrvaModel::SetInflate(float value, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [value](OrvaMesh* mesh) { mesh->SetInflate(value); });
}

void OrvaModel::SetTextureScrollU(float value, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [value](OrvaMesh* mesh) { mesh->SetTextureScrollU(value); });
}

void OrvaModel::SetTextureScrollV(float value, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [value](OrvaMesh* mesh) { mesh->SetTextureScrollV(value); });
}

void OrvaModel::SetColorMode(uint32_t selector, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [selector](OrvaMesh* mesh) { mesh->GetShaderDesc()->color = selector; });
}

void OrvaModel::SetTextureMode(uint32_t selector, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [selector](OrvaMesh* mesh) { mesh->GetShaderDesc()->texture = selector; });
}

void OrvaModel::SetFogMode(uint32_t selector, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [selector](OrvaMesh* mesh) { mesh->GetShaderDesc()->fog = selector; });
}

void OrvaModel::RebuildShader(int32_t meshIndex)
{
    // The mesh makes its vertex shader from its description only while it
    // builds its device objects; the buffers come again from the system
    // copy, unchanged. Meshes that gave their buffers up stay without.
    const bool released = AreMeshBuffersReleased();
    ForEachMesh(GetMeshes(), meshIndex, [released](OrvaMesh* mesh) {
        if (!released) {
            mesh->CreateBuffers(nullptr);
        }
    });
}

void OrvaModel::BakeLighting(int32_t meshIndex)
{
    const OrvaMatrix placed = *GetWorldMatrix();
    ForEachMesh(GetMeshes(), meshIndex, [&placed](OrvaMesh* mesh) { mesh->BakeLighting(placed, nullptr); });
}

void OrvaModel::SetDiffuse(float a, float r, float g, float b, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [=](OrvaMesh* mesh) {
        for (OrvaObject* o = mesh->GetMaterials()->GetHead(); o != nullptr; o = o->GetNext()) {
            OrvaMaterial* material = static_cast<OrvaMaterial*>(o);
            OrvaMaterialBlock block;
            material->GetMaterial(&block);
            block.diffuse.r = r;
            block.diffuse.g = g;
            block.diffuse.b = b;
            block.diffuse.a = a;
            material->SetMaterial(block);
        }
    });
}

void OrvaModel::SetVisible(int32_t flag, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex, [flag](OrvaMesh* mesh) { mesh->SetShow(flag); });
}

void OrvaModel::SetRenderState(uint32_t state, uint32_t value, int32_t meshIndex, int32_t materialIndex)
{
    ForEachMesh(GetMeshes(), meshIndex,
                [=](OrvaMesh* mesh) { mesh->SetRenderState(state, value, materialIndex); });
}

void OrvaModel::SetVertexShaderConstant(int32_t reg, int32_t enable, const float* vector, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex,
                [=](OrvaMesh* mesh) { mesh->SetVertexShaderConstant(reg, enable, vector); });
}

void OrvaModel::SetPixelShaderConstant(int32_t reg, int32_t enable, const float* vector, int32_t meshIndex)
{
    ForEachMesh(GetMeshes(), meshIndex,
                [=](OrvaMesh* mesh) { mesh->SetPixelShaderConstant(reg, enable, vector); });
}

// ---------------------------------------------------------------- picking

int32_t OrvaModel::PickMesh(float x, float y, float z)
{
    // The segment runs through the picked pixel, from its depth to the far
    // end of the view.
    OrvaVector nearPoint;
    OrvaVector farPoint;
    OrvaGraphics::ScreenToWorld(&nearPoint, OrvaVector(x, y, z));
    OrvaGraphics::ScreenToWorld(&farPoint, OrvaVector(x, y, 1.0f));
    int32_t index = 0;
    for (OrvaObject* o = GetMeshes()->GetHead(); o != nullptr; o = o->GetNext(), ++index) {
        OrvaMesh* mesh = static_cast<OrvaMesh*>(o);
        const float* lo = mesh->GetBoxMin();
        const float* hi = mesh->GetBoxMax();
        if (OrvaGraphics::RayProbeBox(*mesh->GetWorldMatrix(), OrvaVector(lo[0], lo[1], lo[2]),
                                      OrvaVector(hi[0], hi[1], hi[2]), nearPoint, farPoint)) {
            return index;
        }
    }
    return -1;
}

// ---------------------------------------------------------------- sharing

bool OrvaModel::ReleaseMeshBuffers()
{
    if (buffersReleased != 0) {
        return false;
    }
    for (OrvaObject* o = GetMeshes()->GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaMesh* mesh = static_cast<OrvaMesh*>(o);
        mesh->GetMaterials()->ReleaseAll();
        mesh->InvalidateDeviceObjects();
        mesh->SetShow(0);
    }
    buffersReleased = 1;
    return true;
}

bool OrvaModel::Attach(OrvaModel* other)
{
    // Attaching itself would hold its own last reference: it could never
    // be destroyed.
    if (other == nullptr || other == this || other->buffersReleased == 0) {
        return false;
    }
    // The new reference first: other may be the attached model and hold no
    // other reference.
    other->AddRef();
    if (attached != nullptr) {
        attached->Release();
    }
    attached = other;
    return true;
}

// ---------------------------------------------------------------- single meshes

bool OrvaModel::GetMeshMatrix(int32_t meshIndex, OrvaMatrix* out)
{
    OrvaMesh* mesh = GetMesh(meshIndex);
    if (mesh == nullptr || out == nullptr) {
        return false;
    }
    *out = *mesh->GetWorldMatrix();
    return true;
}

bool OrvaModel::DrawMeshWithMatrix(int32_t meshIndex, const OrvaMatrix& m)
{
    OrvaMesh* mesh = GetMesh(meshIndex);
    if (mesh == nullptr) {
        return false;
    }
    // m may be this mesh's own world matrix: copy before storing.
    const OrvaMatrix placed = m;
    *mesh->GetWorldMatrix() = placed;
    mesh->UpdateBox(placed);
    mesh->Draw();
    return true;
}

bool OrvaModel::DrawMeshWithMeshMatrix(int32_t meshIndex, OrvaModel* other, int32_t otherIndex)
{
    OrvaMesh* source = other != nullptr ? other->GetMesh(otherIndex) : nullptr;
    if (source == nullptr) {
        return false;
    }
    return DrawMeshWithMatrix(meshIndex, *source->GetWorldMatrix());
}

bool OrvaModel::DrawMeshWithFrameMatrix(int32_t meshIndex, OrvaModel* other, int32_t frameIndex)
{
    OrvaFrame* frame = other != nullptr ? other->GetFrame(frameIndex) : nullptr;
    if (frame == nullptr) {
        return false;
    }
    return DrawMeshWithMatrix(meshIndex, *frame->GetTransformMatrix());
}

// ---------------------------------------------------------------- lookup

int32_t OrvaModel::FindFrame(const char* name)
{
    if (name == nullptr) {
        return -1;
    }
    int32_t index = 0;
    for (OrvaObject* o = GetFrames()->GetHead(); o != nullptr; o = o->GetNext(), ++index) {
        if (std::strcmp(static_cast<OrvaFrame*>(o)->GetName(), name) == 0) {
            return index;
        }
    }
    return -1;
}

int32_t OrvaModel::FindMesh(const char* name)
{
    if (name == nullptr) {
        return -1;
    }
    int32_t index = 0;
    for (OrvaObject* o = GetMeshes()->GetHead(); o != nullptr; o = o->GetNext(), ++index) {
        if (std::strcmp(static_cast<OrvaMesh*>(o)->GetName(), name) == 0) {
            return index;
        }
    }
    return -1;
}
