#pragma once
// Meshes: one drawable piece of a model. A system-memory copy of the
// vertices (OrvaMeshVertex) and 16-bit indices that survives a lost device,
// the device vertex and index buffers built from it in the layout of the
// mesh's vertex kind, the materials that each own a run of the index
// buffer, a bounding box, and the vertex shader generated from the mesh's
// shader description, through which every mesh is drawn.
//
// Meshes are made by the model's X-file loader and by the model module's
// generators; the model calls every operation here. Main thread only.
#include <cstdint>
#include <vector>

#include "engine/core/graphics.h"
#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "engine/render/shader.h"
#include "platform/gfx/skin_mesh.h"
#include "platform/gfx/soft_device.h"

class OrvaCamera;
class OrvaFrame;
class OrvaVertexShader;

// The system-memory vertex of every mesh: 72 bytes.
struct OrvaMeshVertex {
    float position[3] = {};
    float normal[3] = {};
    float morphPosition[3] = {};
    float morphNormal[3] = {};
    float weight0 = 0.0f;
    float weight1 = 0.0f;
    uint8_t blendIndices[4] = {};
    uint32_t diffuse = 0;   // ARGB
    float u = 0.0f;
    float v = 0.0f;
};
static_assert(sizeof(OrvaMeshVertex) == 72, "the mesh vertex is 72 bytes");

// The matrices of one draw, for the constant uploads.
struct OrvaMeshMatrices {
    OrvaMatrix world{};                 // W
    OrvaMatrix worldView{};             // W x V
    OrvaMatrix worldViewProjection{};   // W x V x P
    OrvaMatrix view{};                  // V
    OrvaMatrix viewProjection{};        // V x P
    OrvaMatrix worldInverse{};          // inverse of W
};

// One entry of the stored shader-constant tables.
struct OrvaShaderConstant {
    int32_t enable = 0;
    float value[4] = {};
};

// What meshes read of the model module's state while they draw and load.
// The model module owns it and installs it with OrvaMesh::SetModuleState;
// without it meshes draw unmirrored, skip the shadow-map constants and look
// for textures in files only.
struct OrvaMeshModuleState {
    OrvaCamera* camera = nullptr;        // the shadow-map camera, or null
    int32_t mirror = 0;                  // nonzero: W = world x mirrorMatrix
    OrvaMatrix mirrorMatrix{};
    const char* texturePack = nullptr;   // the texture pack's file, or null
};

// Vertex kinds: the layout of the device vertex.
enum OrvaMeshKind : int32_t {
    kOrvaMeshStatic = 0,         // 36 bytes: position, normal, diffuse, u, v
    kOrvaMeshMorph = 1,          // 60: position, normal, morph position and normal, diffuse, u, v
    kOrvaMeshSkinned = 2,        // 52: position, normal, three weights, four indices, diffuse, u, v
    kOrvaMeshSkinnedMorph = 3,   // 76: all of the above
    kOrvaMeshEmpty = 5,          // no vertices yet
};

class OrvaMesh : public OrvaObject {
public:
    static constexpr int32_t kNameBytes = 64;
    static constexpr int32_t kVertexConstantCount = 96;
    static constexpr int32_t kPixelConstantCount = 8;

    // ---- module
    // Registers the device-loss and reset walkers over every live mesh
    // (again after a new device; a second call adds nothing).
    static void Initialize();
    // Every mesh drops its device buffers; at reset each mesh that had them
    // builds them again from its system copy.
    static void OnLostDevice();
    static void OnResetDevice();
    // The model module's state; null: none. Not copied.
    static void SetModuleState(const OrvaMeshModuleState* state);
    // Bytes of the device vertex of a kind; 0 for another value.
    static int32_t GetKindVertexSize(int32_t kind);
    static int32_t GetLiveCount();

    OrvaMesh();
    // Releases the vertex shader, the buffers, the arrays, then every
    // material.
    ~OrvaMesh() override;

    // ---- operations, in the order of the model's calls
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    // Device vertices and indices plus the mesh object itself, in bytes.
    virtual uint32_t GetMemorySize() const;
    // Static kind: the skin's original mesh in the 36-byte format, faces
    // sorted by material, face ranges given to the materials and the
    // materials without faces released. 1 when done, 0 (with a log line)
    // when a step failed.
    virtual int32_t PrepareFromSkinMesh(const platform::SkinMeshData* skin, platform::MeshData* out,
                                        OrvaProgress progress);
    // One material per record, in order, ambient taken from diffuse; the
    // texture from its file, else from the model module's texture pack.
    virtual void LoadMaterials(uint32_t count, const platform::MeshMaterial* materials, OrvaProgress progress);
    // A plain mesh has no bones to find.
    virtual void BindFrames(OrvaObjectList* frames);
    // Box from every position and morph position; centre and radius.
    virtual void ComputeBounds();
    // Normals from the 16-bit faces, each corner weighted by its angle.
    virtual void ComputeNormals();
    virtual void Draw();
    // The twelve edges of the world box, in one colour.
    virtual void DrawBox(uint32_t color);
    // Sets one entry of the state table of one material (index inside the
    // list) or of every material (any other index).
    virtual void SetRenderState(uint32_t state, uint32_t value, int32_t materialIndex);
    virtual void Reserved0(int32_t, int32_t);
    virtual void Reserved1(int32_t, int32_t, int32_t);
    virtual void Reserved2(int32_t, int32_t);
    virtual void Reserved3(int32_t);
    virtual void Reserved4(int32_t);
    // Vertex shader, index buffer and vertex buffer from the system copy,
    // then the bounds.
    virtual void CreateBuffers(OrvaProgress progress);
    // The system copy from a mesh in format 0x152 or 0x115A (another format
    // leaves the vertices as they were), then CreateBuffers.
    virtual void BuildFromMesh(const platform::MeshData* mesh, OrvaProgress progress);
    // Morph fields from the target's vertices; null when done, else the
    // reason (the mesh is then unchanged).
    virtual const char* SetMorphTarget(const OrvaMesh* target, OrvaProgress progress);
    virtual void SetMorphWeight(float value);
    virtual void SetStealthScale(float value);
    virtual void SetInflate(float value);
    virtual void SetTextureScrollU(float value);
    virtual void SetTextureScrollV(float value);
    // Vertex colours from the four lights and the ambient term, then
    // CreateBuffers.
    virtual void BakeLighting(const OrvaMatrix& matrix, OrvaProgress progress);
    // world = combined x world; copied to out, which is returned.
    virtual OrvaMatrix* UpdateWorld(OrvaMatrix* out, const OrvaMatrix& combined, const OrvaMatrix& world);
    virtual void SetCommonConstants(const OrvaMeshMatrices* matrices);
    virtual void SetTransformConstants(const OrvaMeshMatrices* matrices);
    virtual void SetLightConstants(const OrvaMeshMatrices* matrices);
    virtual void SetEffectConstants(const OrvaMeshMatrices* matrices);
    virtual void SetFogConstants(const OrvaMeshMatrices* matrices);
    // Stored only; a register outside the table is ignored.
    virtual void SetVertexShaderConstant(int32_t reg, int32_t enable, const float* value);
    virtual void SetPixelShaderConstant(int32_t reg, int32_t enable, const float* value);

    // ---- for the model and its generators
    // Normals of a work mesh whose faces are 32-bit indices (the mesh's own
    // index array is 16-bit): indexCount / 3 triangles.
    void ComputeNormals(const uint32_t* faceIndices, uint32_t indexCount);
    // Fresh zeroed arrays and the counts; false
    // when a count is negative or memory is short (the old arrays stay).
    bool AllocateArrays(int32_t vertices, int32_t indices);
    OrvaMeshVertex* GetVertexArray() { return vertexArray.data(); }
    const OrvaMeshVertex* GetVertexArray() const { return vertexArray.data(); }
    uint16_t* GetIndexArray() { return indexArray.data(); }
    const uint16_t* GetIndexArray() const { return indexArray.data(); }

    void SetName(const char* text);
    const char* GetName() const { return name; }
    void SetFrame(OrvaFrame* owner) { frame = owner; }
    OrvaFrame* GetFrame() const { return frame; }
    OrvaObjectList* GetMaterials() { return &materials; }
    int32_t GetVertexKind() const { return vertexKind; }
    void SetVertexKind(int32_t kind) { vertexKind = kind; }
    int32_t GetVertexSize() const { return vertexSize; }
    void SetVertexSize(int32_t bytes) { vertexSize = bytes; }
    int32_t GetVertexCount() const { return vertexCount; }
    void SetVertexCount(int32_t count) { vertexCount = count; }
    int32_t GetIndexCount() const { return indexCount; }
    void SetIndexCount(int32_t count) { indexCount = count; }
    void SetShow(int32_t on) { show = on; }
    int32_t GetShow() const { return show; }
    void SetCull(int32_t on) { cull = on; }
    int32_t GetCull() const { return cull; }
    OrvaShaderDesc* GetShaderDesc() { return &shaderDesc; }
    OrvaMatrix* GetWorldMatrix() { return &worldMatrix; }
    float GetRadius() const { return radius; }
    const float* GetCenter() const { return center; }
    const float* GetBoxMin() const { return boxMin; }
    const float* GetBoxMax() const { return boxMax; }
    // World-space box for culling; the owner fills both before drawing.
    OrvaVector* GetBoxCorners() { return boxCorners; }
    float (*GetBoxPlanes())[4] { return boxPlanes; }
    // Builds both from the model-space box and a matrix.
    void UpdateBox(const OrvaMatrix& m);
    platform::SoftVertexBuffer* GetVertexBuffer() const { return vertexBuffer; }
    platform::SoftIndexBuffer* GetIndexBuffer() const { return indexBuffer; }
    OrvaVertexShader* GetVertexShader() const { return vertexShader; }
    float GetMorphWeight() const { return morphWeight; }
    const OrvaShaderConstant* GetVertexConstant(int32_t reg) const;
    const OrvaShaderConstant* GetPixelConstant(int32_t reg) const;

protected:
    // The model module's state, or null.
    static const OrvaMeshModuleState* GetModuleState();
    // Steps 1 to 5 of a draw: false when nothing is to be drawn.
    bool BeginDraw();
    // Diffuse colour constant and textures of one material.
    void ApplyMaterial(const class OrvaMaterial* material);
    void ReleaseBuffers();

    char name[kNameBytes] = {};
    OrvaObjectList materials;
    OrvaFrame* frame = nullptr;
    float radius = 0.0f;
    float center[3] = {};
    float boxMin[3] = {};
    float boxMax[3] = {};
    OrvaVector boxCorners[8];
    float boxPlanes[6][4] = {};
    platform::SoftVertexBuffer* vertexBuffer = nullptr;
    platform::SoftIndexBuffer* indexBuffer = nullptr;
    std::vector<OrvaMeshVertex> vertexArray;
    std::vector<uint16_t> indexArray;
    int32_t show = 1;
    int32_t cull = 1;
    int32_t vertexKind = kOrvaMeshEmpty;
    int32_t vertexSize = 0;    // bytes of one device vertex
    int32_t vertexCount = 0;
    int32_t indexCount = 0;
    float morphWeight = 0.0f;
    float stealthScale = 0.0f;
    float inflate = 0.0f;
    float textureScrollU = 0.0f;
    float textureScrollV = 0.0f;
    OrvaShaderDesc shaderDesc{kOrvaShaderStatic, kOrvaShaderLights, kOrvaShaderTexture, kOrvaShaderNoFog, 0};
    OrvaShaderConstant vertexConstants[kVertexConstantCount];
    OrvaShaderConstant pixelConstants[kPixelConstantCount];
    OrvaVertexShader* vertexShader = nullptr;
    OrvaMatrix worldMatrix{};
    // Buffers were built once: a reset builds them again.
    bool hasBuffers = false;
};
