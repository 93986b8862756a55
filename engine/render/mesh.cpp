#include "engine/render/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/frame.h"
#include "engine/render/light.h"
#include "engine/render/material.h"

// Every live mesh, for the device-loss and reset walkers (a mesh's own list
// is its model's). Never destroyed: a mesh released at process exit, after
// any static destructor, still leaves it.
static std::vector<OrvaMesh*>& Meshes()
{
    static std::vector<OrvaMesh*>* meshes = new std::vector<OrvaMesh*>();
    return *meshes;
}
static const OrvaMeshModuleState* g_moduleState = nullptr;

static const char kVertexCountMismatch[] = "頂点数が一致しません";

// Progress is called once every this many vertices of a loop.
static constexpr int32_t kProgressVertices = 1024;

static void Progress(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

// ---------------------------------------------------------------- module

void OrvaMesh::Initialize()
{
    OrvaDevice::AddResetWalkers(&OrvaMesh::OnLostDevice, &OrvaMesh::OnResetDevice);
}

void OrvaMesh::OnLostDevice()
{
    for (OrvaMesh* mesh : Meshes()) {
        mesh->InvalidateDeviceObjects();
    }
}

void OrvaMesh::OnResetDevice()
{
    for (OrvaMesh* mesh : Meshes()) {
        if (mesh->hasBuffers) {
            mesh->RestoreDeviceObjects();
        }
    }
}

void OrvaMesh::SetModuleState(const OrvaMeshModuleState* state)
{
    g_moduleState = state;
}

const OrvaMeshModuleState* OrvaMesh::GetModuleState()
{
    return g_moduleState;
}

int32_t OrvaMesh::GetKindVertexSize(int32_t kind)
{
    switch (kind) {
    case kOrvaMeshStatic: return 36;
    case kOrvaMeshMorph: return 60;
    case kOrvaMeshSkinned: return 52;
    case kOrvaMeshSkinnedMorph: return 76;
    default: return 0;
    }
}

int32_t OrvaMesh::GetLiveCount()
{
    return static_cast<int32_t>(Meshes().size());
}

OrvaMesh::OrvaMesh()
{
    worldMatrix.Identity();
    try {
        Meshes().push_back(this);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("ERROR : メッシュの登録に失敗\n");
    }
}

OrvaMesh::~OrvaMesh()
{
    if (vertexShader != nullptr) {
        vertexShader->Release();
        vertexShader = nullptr;
    }
    ReleaseBuffers();
    std::vector<OrvaMeshVertex>().swap(vertexArray);
    std::vector<uint16_t>().swap(indexArray);
    materials.ReleaseAll();
    std::vector<OrvaMesh*>& meshes = Meshes();
    meshes.erase(std::remove(meshes.begin(), meshes.end(), this), meshes.end());
}

void OrvaMesh::ReleaseBuffers()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
    if (indexBuffer != nullptr) {
        indexBuffer->Release();
        indexBuffer = nullptr;
    }
}

// ---------------------------------------------------------------- device objects

void OrvaMesh::InvalidateDeviceObjects()
{
    ReleaseBuffers();
}

void OrvaMesh::RestoreDeviceObjects()
{
    CreateBuffers(nullptr);
}

uint32_t OrvaMesh::GetMemorySize() const
{
    return static_cast<uint32_t>(vertexSize) * static_cast<uint32_t>(vertexCount) +
           static_cast<uint32_t>(indexCount) * 2u + static_cast<uint32_t>(sizeof(OrvaMesh));
}

// ---------------------------------------------------------------- loading

int32_t OrvaMesh::PrepareFromSkinMesh(const platform::SkinMeshData* skin, platform::MeshData* out,
                                      OrvaProgress progress)
{
    (void)progress;
    vertexKind = kOrvaMeshStatic;
    if (skin == nullptr || out == nullptr || skin->GetOriginalMesh().GetFvf() == 0) {
        OrvaDebug::Log("ERROR Failed GetOriginalMesh\n");
        return 0;
    }
    const platform::MeshData& original = skin->GetOriginalMesh();
    const uint32_t keptFvf = original.GetFvf();
    platform::MeshData clone;
    if (!original.CloneFvf(platform::kFvfMeshStatic, &clone)) {
        OrvaDebug::Log("ERROR Failed CloneMeshFVF\n");
        return 0;
    }
    if (!clone.OptimizeAttributeSort(out)) {
        OrvaDebug::Log("ERROR Failed Optimize\n");
        return 0;
    }
    const std::vector<platform::AttributeRange>& table = out->GetAttributeTable();
    if (table.empty() && out->GetFaceCount() > 0) {
        OrvaDebug::Log("ERROR Failed GetAttributeTable\n");
        return 0;
    }
    for (const platform::AttributeRange& range : table) {
        if (range.attribId > 0x7FFFFFFFu) {
            continue;
        }
        OrvaMaterial* material = static_cast<OrvaMaterial*>(materials.GetAt(static_cast<int32_t>(range.attribId)));
        if (material != nullptr) {
            material->SetFaceRange(range.faceStart * 3, range.faceCount);
        }
    }
    for (OrvaObject* o = materials.GetHead(); o != nullptr;) {
        OrvaObject* next = o->GetNext();
        if (static_cast<OrvaMaterial*>(o)->GetPrimitiveCount() == 0) {
            o->Release();
        }
        o = next;
    }
    if ((keptFvf & platform::FvfNormal) == 0) {
        out->ComputeNormals();
    }
    return 1;
}

void OrvaMesh::LoadMaterials(uint32_t count, const platform::MeshMaterial* records, OrvaProgress progress)
{
    if (records == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const platform::MeshMaterial& record = records[i];
        OrvaMaterial* material = new (std::nothrow) OrvaMaterial();
        if (material == nullptr) {
            OrvaDebug::Log("ERROR : マテリアルの生成に失敗\n");
            return;
        }
        materials.PushBack(material);
        OrvaMaterialBlock block;
        block.diffuse = {record.diffuse[0], record.diffuse[1], record.diffuse[2], record.diffuse[3]};
        block.ambient = block.diffuse;
        block.specular = {record.specular[0], record.specular[1], record.specular[2], record.specular[3]};
        block.emissive = {record.emissive[0], record.emissive[1], record.emissive[2], record.emissive[3]};
        block.power = record.power;
        material->SetMaterial(block);
        if (record.textureFile.empty()) {
            continue;
        }
        const size_t slash = record.textureFile.find_last_of('\\');
        std::string file = slash == std::string::npos ? record.textureFile : record.textureFile.substr(slash + 1);
        OrvaTexture* texture = OrvaTexture::CreateFromFile(file.c_str(), 0, 0, progress);
        if (texture != nullptr && !texture->IsValid()) {
            texture->Release();
            texture = nullptr;
            const size_t dot = file.find_last_of('.');
            if (dot != std::string::npos) {
                file.resize(dot);
            }
            const OrvaMeshModuleState* state = GetModuleState();
            if (state != nullptr && state->texturePack != nullptr) {
                texture = OrvaTexture::CreateFromPack(state->texturePack, file.c_str(), true, progress);
            }
        }
        if (texture != nullptr) {
            if (texture->IsValid()) {
                material->SetTexture(texture, 0);
            }
            texture->Release();
        }
    }
}

void OrvaMesh::BindFrames(OrvaObjectList* frames)
{
    (void)frames;
}

bool OrvaMesh::AllocateArrays(int32_t vertices, int32_t indices)
{
    if (vertices < 0 || indices < 0) {
        return false;
    }
    try {
        std::vector<OrvaMeshVertex> v(static_cast<size_t>(vertices));
        std::vector<uint16_t> i(static_cast<size_t>(indices), 0);
        vertexArray.swap(v);
        indexArray.swap(i);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("ERROR : メッシュの配列の確保に失敗 [%d / %d]\n", vertices, indices);
        return false;
    }
    vertexCount = vertices;
    indexCount = indices;
    return true;
}

void OrvaMesh::BuildFromMesh(const platform::MeshData* mesh, OrvaProgress progress)
{
    if (mesh == nullptr || vertexCount < 0 || indexCount < 0) {
        return;
    }
    const int32_t vertices = vertexCount;
    const int32_t indices = indexCount;
    if (!AllocateArrays(vertices, indices)) {
        return;
    }
    Progress(progress);
    // Counts the mesh does not hold stay zero rather than being read past
    // its end.
    const size_t indexCopy = std::min<size_t>(static_cast<size_t>(indices), size_t(mesh->GetFaceCount()) * 3);
    if (indexCopy > 0) {
        std::memcpy(indexArray.data(), mesh->GetIndices(), indexCopy * 2);
    }
    Progress(progress);
    Progress(progress);
    const uint32_t fvf = mesh->GetFvf();
    const uint32_t stride = mesh->GetStride();
    const uint32_t available = std::min<uint32_t>(static_cast<uint32_t>(vertices), mesh->GetVertexCount());
    if (fvf == platform::kFvfMeshStatic || fvf == platform::kFvfMeshSkinned) {
        const bool skinned = fvf == platform::kFvfMeshSkinned;
        for (uint32_t i = 0; i < available; ++i) {
            const uint8_t* src = mesh->GetVertices() + static_cast<size_t>(i) * stride;
            OrvaMeshVertex& v = vertexArray[i];
            std::memcpy(v.position, src, 12);
            size_t at = 12;
            if (skinned) {
                std::memcpy(&v.weight0, src + 12, 4);
                std::memcpy(&v.weight1, src + 16, 4);
                std::memcpy(v.blendIndices, src + 20, 4);
                at = 24;
            }
            std::memcpy(v.normal, src + at, 12);
            std::memcpy(&v.diffuse, src + at + 12, 4);
            std::memcpy(&v.u, src + at + 16, 4);
            std::memcpy(&v.v, src + at + 20, 4);
            std::memcpy(v.morphPosition, v.position, 12);
            std::memcpy(v.morphNormal, v.normal, 12);
            if ((i + 1) % kProgressVertices == 0) {
                Progress(progress);
            }
        }
    }
    Progress(progress);
    CreateBuffers(progress);
    Progress(progress);
}

// ---------------------------------------------------------------- buffers

// Writes one device vertex of the kind.
static void WriteDeviceVertex(int32_t kind, const OrvaMeshVertex& v, uint8_t* out)
{
    size_t at = 0;
    auto put = [&](const void* data, size_t bytes) {
        std::memcpy(out + at, data, bytes);
        at += bytes;
    };
    put(v.position, 12);
    put(v.normal, 12);
    if (kind == kOrvaMeshMorph || kind == kOrvaMeshSkinnedMorph) {
        put(v.morphPosition, 12);
        put(v.morphNormal, 12);
    }
    if (kind == kOrvaMeshSkinned || kind == kOrvaMeshSkinnedMorph) {
        const float weights[3] = {v.weight0, v.weight1, 1.0f - v.weight0 - v.weight1};
        put(weights, 12);
        put(v.blendIndices, 4);
    }
    put(&v.diffuse, 4);
    put(&v.u, 4);
    put(&v.v, 4);
}

void OrvaMesh::CreateBuffers(OrvaProgress progress)
{
    ReleaseBuffers();
    if (vertexShader != nullptr) {
        vertexShader->Release();
        vertexShader = nullptr;
    }
    Initialize();
    hasBuffers = true;
    Progress(progress);
    vertexShader = OrvaShader::CreateVertexShader();
    if (vertexShader != nullptr) {
        vertexShader->CreateFromDesc(&shaderDesc);
    }
    Progress(progress);
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const uint32_t pool = OrvaDevice::IsSoftwareVertexProcessing() ? platform::PoolSystemMem : platform::PoolDefault;
    const int32_t kindSize = GetKindVertexSize(vertexKind);
    // The arrays must hold the counts, and a device vertex must fit its
    // kind's layout: otherwise the copies below would leave the arrays.
    const bool consistent = vertexCount >= 0 && indexCount >= 0 &&
                            vertexArray.size() >= static_cast<size_t>(vertexCount) &&
                            indexArray.size() >= static_cast<size_t>(indexCount) &&
                            (kindSize == 0 || vertexSize >= kindSize);
    if (device == nullptr || !consistent ||
        device->CreateIndexBuffer(static_cast<uint32_t>(indexCount) * 2, platform::UsageWriteOnly,
                                  platform::FormatIndex16, pool, &indexBuffer) != platform::kGfxOk) {
        indexBuffer = nullptr;
        OrvaDebug::Log("ERROR : インデックスバッファの生成に失敗\n");
        return;
    }
    Progress(progress);
    if (device->CreateVertexBuffer(static_cast<uint32_t>(vertexCount) * static_cast<uint32_t>(vertexSize),
                                   platform::UsageWriteOnly, 0, pool, &vertexBuffer) != platform::kGfxOk) {
        vertexBuffer = nullptr;
        OrvaDebug::Log("ERROR :頂点バッファの生成に失敗\n");
        return;
    }
    Progress(progress);
    uint8_t* bytes = nullptr;
    if (indexBuffer->Lock(0, 0, &bytes, 0) == platform::kGfxOk) {
        if (indexCount > 0) {
            std::memcpy(bytes, indexArray.data(), static_cast<size_t>(indexCount) * 2);
        }
        indexBuffer->Unlock();
    }
    Progress(progress);
    if (vertexBuffer->Lock(0, 0, &bytes, 0) == platform::kGfxOk) {
        if (kindSize > 0) {
            for (int32_t i = 0; i < vertexCount; ++i) {
                WriteDeviceVertex(vertexKind, vertexArray[static_cast<size_t>(i)],
                                  bytes + static_cast<size_t>(i) * static_cast<size_t>(vertexSize));
                if ((i + 1) % kProgressVertices == 0) {
                    Progress(progress);
                }
            }
        }
        vertexBuffer->Unlock();
    }
    Progress(progress);
    ComputeBounds();
    Progress(progress);
}

// ---------------------------------------------------------------- geometry

void OrvaMesh::ComputeBounds()
{
    if (vertexCount <= 0 || vertexArray.size() < static_cast<size_t>(vertexCount)) {
        return;
    }
    for (int k = 0; k < 3; ++k) {
        boxMin[k] = boxMax[k] = vertexArray[0].position[k];
    }
    for (int32_t i = 0; i < vertexCount; ++i) {
        const OrvaMeshVertex& v = vertexArray[static_cast<size_t>(i)];
        for (int k = 0; k < 3; ++k) {
            boxMin[k] = std::min(boxMin[k], std::min(v.position[k], v.morphPosition[k]));
            boxMax[k] = std::max(boxMax[k], std::max(v.position[k], v.morphPosition[k]));
        }
    }
    for (int k = 0; k < 3; ++k) {
        center[k] = (boxMin[k] + boxMax[k]) * 0.5f;
    }
    radius = ((boxMax[2] - boxMin[2]) + (boxMax[0] - boxMin[0]) + (boxMax[1] - boxMin[1])) * 0.16666667f;
}

void OrvaMesh::UpdateBox(const OrvaMatrix& m)
{
    OrvaGraphics::BuildFrustum(OrvaVector(boxMin[0], boxMin[1], boxMin[2]),
                               OrvaVector(boxMax[0], boxMax[1], boxMax[2]), boxCorners, boxPlanes, m);
}

// One triangle's contribution: its normal times each corner's angle / pi.
static void AddTriangleNormal(OrvaMeshVertex* vertices, uint32_t a, uint32_t b, uint32_t c)
{
    const platform::Vec3 pa{vertices[a].position[0], vertices[a].position[1], vertices[a].position[2]};
    const platform::Vec3 pb{vertices[b].position[0], vertices[b].position[1], vertices[b].position[2]};
    const platform::Vec3 pc{vertices[c].position[0], vertices[c].position[1], vertices[c].position[2]};
    const platform::Vec3 n = platform::Normalize(platform::Cross(pb - pa, pc - pa));
    const platform::Vec3 ab = pa - pb;
    const platform::Vec3 ca = pc - pa;
    const platform::Vec3 bc = pb - pc;
    const float lab = platform::Length(ab);
    const float lca = platform::Length(ca);
    const float lbc = platform::Length(bc);
    const struct {
        uint32_t vertex;
        float dot;
        float lengths;
    } corners[3] = {{a, platform::Dot(ab, ca), lab * lca}, {b, platform::Dot(ab, bc), lab * lbc},
                    {c, platform::Dot(ca, bc), lca * lbc}};
    for (const auto& corner : corners) {
        // A zero-length edge has no angle.
        if (corner.lengths <= 0.0f) {
            continue;
        }
        const float d = std::max(-1.0f, std::min(1.0f, corner.dot / corner.lengths));
        const float weight = (3.1415927f - std::acos(d)) * 0.31830988f;
        float* normal = vertices[corner.vertex].normal;
        normal[0] += n.x * weight;
        normal[1] += n.y * weight;
        normal[2] += n.z * weight;
    }
}

template <typename Index>
static void ComputeNormalsOf(std::vector<OrvaMeshVertex>& vertices, int32_t vertexCount, const Index* indices,
                             uint32_t indexCount)
{
    const uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(std::max(vertexCount, 0)),
                                              static_cast<uint32_t>(vertices.size()));
    for (uint32_t i = 0; i < count; ++i) {
        std::memset(vertices[i].normal, 0, sizeof vertices[i].normal);
    }
    for (uint32_t t = 0; indices != nullptr && t + 2 < indexCount; t += 3) {
        const uint32_t a = indices[t], b = indices[t + 1], c = indices[t + 2];
        if (a < count && b < count && c < count) {
            AddTriangleNormal(vertices.data(), a, b, c);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        float* n = vertices[i].normal;
        const platform::Vec3 unit = platform::Normalize(platform::Vec3{n[0], n[1], n[2]});
        n[0] = unit.x;
        n[1] = unit.y;
        n[2] = unit.z;
    }
}

void OrvaMesh::ComputeNormals()
{
    const uint32_t count = static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(std::max(indexCount, 0)),
                                                                  indexArray.size()));
    ComputeNormalsOf(vertexArray, vertexCount, indexArray.data(), count);
}

void OrvaMesh::ComputeNormals(const uint32_t* faceIndices, uint32_t count)
{
    ComputeNormalsOf(vertexArray, vertexCount, faceIndices, count);
}

const char* OrvaMesh::SetMorphTarget(const OrvaMesh* target, OrvaProgress progress)
{
    if (target == nullptr || target->vertexCount != vertexCount ||
        target->vertexArray.size() < static_cast<size_t>(std::max(vertexCount, 0)) ||
        vertexArray.size() < static_cast<size_t>(std::max(vertexCount, 0))) {
        return kVertexCountMismatch;
    }
    for (int32_t i = 0; i < vertexCount; ++i) {
        OrvaMeshVertex& v = vertexArray[static_cast<size_t>(i)];
        const OrvaMeshVertex& t = target->vertexArray[static_cast<size_t>(i)];
        std::memcpy(v.morphPosition, t.position, 12);
        std::memcpy(v.morphNormal, t.normal, 12);
    }
    if (vertexKind == kOrvaMeshStatic) {
        vertexKind = kOrvaMeshMorph;
        shaderDesc.transform = kOrvaShaderMorph;
    } else if (vertexKind == kOrvaMeshSkinned) {
        vertexKind = kOrvaMeshSkinnedMorph;
        shaderDesc.transform = kOrvaShaderMorphSkin;
    }
    if (GetKindVertexSize(vertexKind) > 0) {
        vertexSize = GetKindVertexSize(vertexKind);
    }
    CreateBuffers(progress);
    return nullptr;
}

void OrvaMesh::SetMorphWeight(float value) { morphWeight = value; }
void OrvaMesh::SetStealthScale(float value) { stealthScale = value; }
void OrvaMesh::SetInflate(float value) { inflate = value; }
void OrvaMesh::SetTextureScrollU(float value) { textureScrollU = value; }
void OrvaMesh::SetTextureScrollV(float value) { textureScrollV = value; }

void OrvaMesh::BakeLighting(const OrvaMatrix& matrix, OrvaProgress progress)
{
    OrvaMatrix m;
    if (frame != nullptr) {
        m.Multiply(*frame->GetCombinedMatrix(), matrix);
    } else {
        m = matrix;
    }
    m.SetElement(4, 1, 0.0f);
    m.SetElement(4, 2, 0.0f);
    m.SetElement(4, 3, 0.0f);
    m.SetElement(4, 4, 1.0f);
    OrvaMatrix r;
    r.Identity();
    r.Inverse(m);
    float ambient = 0.0f;
    OrvaLight::GetAmbient(&ambient);
    OrvaVector directions[OrvaLight::kLightCount];
    float colors[OrvaLight::kLightCount][3] = {};
    for (int32_t i = 0; i < OrvaLight::kLightCount; ++i) {
        OrvaLight::GetDirection(i, &directions[i]);
        directions[i].Transform(r);
        OrvaLight::GetDiffuse(i, &colors[i][0], &colors[i][1], &colors[i][2]);
    }
    const size_t count = std::min(vertexArray.size(), static_cast<size_t>(std::max(vertexCount, 0)));
    for (size_t k = 0; k < count; ++k) {
        OrvaMeshVertex& v = vertexArray[k];
        const OrvaVector n(v.normal[0], v.normal[1], v.normal[2]);
        float s[3] = {};
        for (int32_t i = 0; i < OrvaLight::kLightCount; ++i) {
            float f = -n.Dot(directions[i]);
            if (f < 0.0f) {
                f = 0.0f;
            }
            f += ambient;
            for (int c = 0; c < 3; ++c) {
                s[c] += f * colors[i][c];
            }
        }
        for (float& c : s) {
            c = std::min(c, 1.0f);
        }
        v.diffuse = 0xFF000000u | static_cast<uint32_t>(static_cast<int32_t>(s[0] * 255.0f)) << 16 |
                    (static_cast<uint32_t>(static_cast<int32_t>(s[1] * 255.0f)) & 0xFFu) << 8 |
                    (static_cast<uint32_t>(static_cast<int32_t>(s[2] * 255.0f)) & 0xFFu);
        if ((k + 1) % kProgressVertices == 0) {
            Progress(progress);
        }
    }
    CreateBuffers(progress);
}

OrvaMatrix* OrvaMesh::UpdateWorld(OrvaMatrix* out, const OrvaMatrix& combined, const OrvaMatrix& world)
{
    worldMatrix.Multiply(combined, world);
    if (out != nullptr) {
        *out = worldMatrix;
    }
    return out;
}

void OrvaMesh::SetRenderState(uint32_t state, uint32_t value, int32_t materialIndex)
{
    if (materialIndex >= 0 && materialIndex < materials.GetCount()) {
        static_cast<OrvaMaterial*>(materials.GetAt(materialIndex))->SetState(static_cast<int32_t>(state), value);
        return;
    }
    for (OrvaObject* o = materials.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaMaterial*>(o)->SetState(static_cast<int32_t>(state), value);
    }
}

void OrvaMesh::Reserved0(int32_t, int32_t) {}
void OrvaMesh::Reserved1(int32_t, int32_t, int32_t) {}
void OrvaMesh::Reserved2(int32_t, int32_t) {}
void OrvaMesh::Reserved3(int32_t) {}
void OrvaMesh::Reserved4(int32_t) {}

void OrvaMesh::SetVertexShaderConstant(int32_t reg, int32_t enable, const float* value)
{
    if (reg < 0 || reg >= kVertexConstantCount) {
        return;
    }
    vertexConstants[reg].enable = enable;
    if (value != nullptr) {
        std::memcpy(vertexConstants[reg].value, value, sizeof vertexConstants[reg].value);
    }
}

void OrvaMesh::SetPixelShaderConstant(int32_t reg, int32_t enable, const float* value)
{
    if (reg < 0 || reg >= kPixelConstantCount) {
        return;
    }
    pixelConstants[reg].enable = enable;
    if (value != nullptr) {
        std::memcpy(pixelConstants[reg].value, value, sizeof pixelConstants[reg].value);
    }
}

const OrvaShaderConstant* OrvaMesh::GetVertexConstant(int32_t reg) const
{
    return reg >= 0 && reg < kVertexConstantCount ? &vertexConstants[reg] : nullptr;
}

const OrvaShaderConstant* OrvaMesh::GetPixelConstant(int32_t reg) const
{
    return reg >= 0 && reg < kPixelConstantCount ? &pixelConstants[reg] : nullptr;
}

void OrvaMesh::SetName(const char* text)
{
    std::memset(name, 0, sizeof name);
    if (text != nullptr) {
        std::strncpy(name, text, sizeof name - 1);
    }
}

// ---------------------------------------------------------------- constants

static void Upload(int32_t reg, const float* data, int32_t count)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device != nullptr) {
        device->SetVertexShaderConstant(static_cast<uint32_t>(reg), data, static_cast<uint32_t>(count));
    }
}

static void Upload4(int32_t reg, float x, float y, float z, float w)
{
    const float v[4] = {x, y, z, w};
    Upload(reg, v, 1);
}

// The transpose of m: four constants, or the first three.
static void UploadTransposed(int32_t reg, const OrvaMatrix& m, int32_t rows)
{
    OrvaMatrix t;
    t.Transpose(m);
    Upload(reg, t.GetData(), rows);
}

void OrvaMesh::SetCommonConstants(const OrvaMeshMatrices* matrices)
{
    (void)matrices;
    Upload4(0, 0.5f, -0.5f, 1.0f, 765.01f);
    const float start = OrvaDevice::GetFogStart();
    const float end = OrvaDevice::GetFogEnd();
    // An empty fog range would divide by zero: it fogs nothing.
    const float range = end - start;
    Upload4(1, textureScrollU, textureScrollV, range != 0.0f ? -1.0f / range : 0.0f,
            range != 0.0f ? end / range : 1.0f);
    OrvaVector eye;
    OrvaCamera::GetEyePosition(&eye);
    float ambient = 0.0f;
    OrvaLight::GetAmbient(&ambient);
    Upload4(2, eye.x, eye.y, eye.z, ambient);
}

void OrvaMesh::SetTransformConstants(const OrvaMeshMatrices* matrices)
{
    Upload4(12, stealthScale, inflate, morphWeight, 0.0f);
    UploadTransposed(20, matrices->worldViewProjection, 4);
}

// A light's direction carried into model space.
static OrvaVector ModelDirection(int32_t light, const OrvaMatrix& worldInverse)
{
    OrvaVector d;
    OrvaLight::GetDirection(light, &d);
    d.TransformNormal(worldInverse);
    return d;
}

static void UploadDiffuse(int32_t reg, int32_t light)
{
    float r = 0.0f, g = 0.0f, b = 0.0f;
    OrvaLight::GetDiffuse(light, &r, &g, &b);
    Upload4(reg, r, g, b, 1.0f);
}

void OrvaMesh::SetLightConstants(const OrvaMeshMatrices* matrices)
{
    if (shaderDesc.color == kOrvaShaderLights) {
        for (int32_t i = 0; i < OrvaLight::kLightCount; ++i) {
            const OrvaVector d = ModelDirection(i, matrices->worldInverse);
            Upload4(3 + i, -d.x, -d.y, -d.z, 0.0f);
            UploadDiffuse(7 + i, i);
        }
    } else if (shaderDesc.color == kOrvaShaderHemisphere) {
        const OrvaVector d = ModelDirection(0, matrices->worldInverse);
        Upload4(3, -d.x, -d.y, -d.z, 0.0f);
        OrvaVector up(0.0f, 1.0f, 0.0f);
        up.TransformNormal(matrices->worldInverse);
        Upload4(4, up.x, up.y, up.z, 0.0f);
        UploadDiffuse(7, 0);
        UploadDiffuse(8, 1);
    }
}

void OrvaMesh::SetEffectConstants(const OrvaMeshMatrices* matrices)
{
    const uint32_t texture = shaderDesc.texture;
    if (texture == kOrvaShaderTextureToon || texture == kOrvaShaderToonTexture ||
        texture == kOrvaShaderToonReflection || texture == kOrvaShaderReflectionToon) {
        // The same value the light upload puts into c3 (toward light 0), so
        // that a toon mode beside a lit colour mode leaves light 0 where it
        // is; the toon fragment negates it back.
        const OrvaVector d = ModelDirection(0, matrices->worldInverse);
        Upload4(3, -d.x, -d.y, -d.z, 0.0f);
    }
    switch (texture) {
    case kOrvaShaderTextureStealth:
    case kOrvaShaderStealthTexture: UploadTransposed(16, matrices->worldView, 4); break;
    case kOrvaShaderTextureReflection:
    case kOrvaShaderReflectionTexture:
    case kOrvaShaderToonReflection:
    case kOrvaShaderReflectionToon: UploadTransposed(16, matrices->world, 4); break;
    case kOrvaShaderTextureShadow:
    case kOrvaShaderShadowTexture: {
        const OrvaMeshModuleState* state = GetModuleState();
        if (state == nullptr || state->camera == nullptr) {
            break;
        }
        OrvaMatrix shadow;
        state->camera->GetViewProjectionMatrix(&shadow);
        OrvaMatrix m;
        m.Multiply(matrices->world, shadow);
        UploadTransposed(16, m, 4);
        break;
    }
    default: break;
    }
}

void OrvaMesh::SetFogConstants(const OrvaMeshMatrices* matrices)
{
    switch (shaderDesc.fog) {
    case kOrvaShaderNoFog: OrvaDevice::SetRenderState(platform::RsFogEnable, 0); break;
    case kOrvaShaderLinearFog: {
        OrvaMatrix m;
        m.Multiply(worldMatrix, matrices->view);
        UploadTransposed(13, m, 3);
        OrvaDevice::SetRenderState(platform::RsFogEnable, 1);
        break;
    }
    case kOrvaShaderRangeFog:
        UploadTransposed(13, worldMatrix, 3);
        OrvaDevice::SetRenderState(platform::RsFogEnable, 1);
        break;
    default: break;
    }
}

// ---------------------------------------------------------------- drawing

bool OrvaMesh::BeginDraw()
{
    if (show == 0 || (cull != 0 && !OrvaCamera::IsBoxVisible(boxCorners, boxPlanes))) {
        return false;
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // Without both buffers or a shader there is nothing to draw with.
    if (device == nullptr || vertexBuffer == nullptr || indexBuffer == nullptr || vertexShader == nullptr ||
        vertexShader->GetHandle() == OrvaShader::kNoHandle) {
        return false;
    }
    OrvaMeshMatrices m;
    OrvaCamera::GetView(&m.view);
    OrvaCamera::GetViewProjection(&m.viewProjection);
    const OrvaMeshModuleState* state = GetModuleState();
    if (state != nullptr && state->mirror != 0) {
        m.world.Multiply(worldMatrix, state->mirrorMatrix);
    } else {
        m.world = worldMatrix;
    }
    m.worldView.Multiply(m.world, m.view);
    m.worldViewProjection.Multiply(m.world, m.viewProjection);
    m.worldInverse.Identity();
    m.worldInverse.Inverse(m.world);
    SetCommonConstants(&m);
    SetTransformConstants(&m);
    SetLightConstants(&m);
    SetEffectConstants(&m);
    SetFogConstants(&m);
    // The remembered key says only that the last mesh used the same
    // description; another module may have bound a vertex format since.
    const uint32_t handle = vertexShader->GetHandle();
    if (OrvaDevice::IsTextureCurrent(shaderDesc.flags) == 0 || device->GetVertexShader() != handle) {
        OrvaDevice::SetVertexShader(handle);
    }
    device->SetStreamSource(0, vertexBuffer, static_cast<uint32_t>(vertexSize));
    device->SetIndices(indexBuffer, 0);
    OrvaDevice::SetRenderState(platform::RsSoftwareVertexProcessing,
                               static_cast<uint32_t>(OrvaDevice::IsSoftwareVertexProcessing()));
    return true;
}

void OrvaMesh::ApplyMaterial(const OrvaMaterial* material)
{
    const OrvaMaterialBlock* block = material->GetMaterialPointer();
    Upload(11, &block->diffuse.r, 1);
    if (shaderDesc.color == kOrvaShaderDepth) {
        OrvaDevice::SetTexture(nullptr, 0);
        OrvaDevice::SetTexture(nullptr, 1);
    } else {
        OrvaDevice::SetTexture(material->GetTexture(0), 0);
        OrvaDevice::SetTexture(material->GetTexture(1), 1);
    }
}

void OrvaMesh::Draw()
{
    if (!BeginDraw()) {
        return;
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    for (OrvaObject* o = materials.GetHead(); o != nullptr; o = o->GetNext()) {
        const OrvaMaterial* material = static_cast<const OrvaMaterial*>(o);
        const uint64_t first = material->GetFirstIndex();
        const uint64_t primitives = material->GetPrimitiveCount();
        // A run outside the index buffer is not drawn.
        if (primitives == 0 || first + primitives * 3 > static_cast<uint64_t>(indexCount)) {
            continue;
        }
        ApplyMaterial(material);
        if (device->DrawIndexedPrimitive(platform::PrimTriangleList, 0, static_cast<uint32_t>(vertexCount),
                                         static_cast<uint32_t>(first), static_cast<uint32_t>(primitives)) ==
            platform::kGfxOk) {
            OrvaApplication::AddPolygonCount(static_cast<int32_t>(primitives));
        }
    }
}

void OrvaMesh::DrawBox(uint32_t color)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr) {
        return;
    }
    static const int kEdges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                                      {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    struct LineVertex {
        float x, y, z;
        uint32_t color;
    };
    LineVertex vertices[24];
    for (int e = 0; e < 12; ++e) {
        for (int k = 0; k < 2; ++k) {
            const OrvaVector& c = boxCorners[kEdges[e][k]];
            vertices[2 * e + k] = {c.x, c.y, c.z, color};
        }
    }
    for (int32_t stage = 0; stage < 4; ++stage) {
        OrvaDevice::SetTexture(nullptr, stage);
    }
    OrvaDevice::SetVertexShader(platform::FvfXyz | platform::FvfDiffuse);
    device->DrawPrimitiveUP(platform::PrimLineList, 12, vertices, sizeof(LineVertex));
}
