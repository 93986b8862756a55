// The model module's own side: its state that meshes and models read while
// they draw and load (camera, reflection matrix and pass flag, texture
// pack), the device-loss walk over every model's meshes, and the
// generators of simple shapes and of models read from X files. The height
// field's generator is in model_height_field.cpp.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/render/camera.h"
#include "engine/render/frame.h"
#include "engine/render/material.h"
#include "engine/render/mesh.h"
#include "engine/render/model.h"
#include "engine/render/model_shape.h"
#include "platform/gfx/math3d.h"
#include "platform/gfx/xfile.h"
#include "platform/sys/file.h"
#include "platform/sys/resource.h"

// The state installed into meshes and models while the module runs. The
// reflection matrix exists only between Initialize and Destroy: a mirror
// set outside that life has nowhere to go.
static OrvaMeshModuleState g_state;
static OrvaMatrix* g_reflection = nullptr;
static char g_texturePack[OrvaModel::kTexturePackBytes];
// The mirror's clip planes, sent to the device again after a reset (which
// clears the device's planes while the reflection matrix stays).
static float g_mirrorPlanes[4][4];
static bool g_mirrorPlanesSet = false;

// Each kind's number in its next frame and mesh name; the two plane forms
// share one.
static uint32_t g_billboardCount = 0;
static uint32_t g_sphereCount = 0;
static uint32_t g_planeCount = 0;
static uint32_t g_cubeCount = 0;

// The largest vertex count that 16-bit indices can address.
static constexpr int64_t kMaxShortIndexedVertices = 65536;

static const char kCountMessage[] = "Error 頂点数は最低でも各軸2つ必要です\n";
static const char kSphereMessage[] = "Error スライスとスタックが少なすぎます\n";

void OrvaModelShape::Progress(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

void OrvaModelShape::PutVertex(OrvaMeshVertex* v, float x, float y, float z, float nx, float ny, float nz, float u,
                               float tv)
{
    v->position[0] = v->morphPosition[0] = x;
    v->position[1] = v->morphPosition[1] = y;
    v->position[2] = v->morphPosition[2] = z;
    v->normal[0] = v->morphNormal[0] = nx;
    v->normal[1] = v->morphNormal[1] = ny;
    v->normal[2] = v->morphNormal[2] = nz;
    v->diffuse = 0xFFFFFFFFu;
    v->u = u;
    v->v = tv;
}

void OrvaModelShape::LogCreate(const OrvaModel* model)
{
    OrvaDebug::Log("○ CreateModel   / ID [0x%08X] / ", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(model)));
}

OrvaMesh* OrvaModelShape::AddMesh(OrvaModel* model, OrvaFrame* frame, const char* name, int32_t vertices,
                                  int32_t indices)
{
    OrvaMesh* mesh = new (std::nothrow) OrvaMesh();
    if (mesh == nullptr) {
        OrvaDebug::Log("ERROR : メッシュの生成に失敗\n");
        return nullptr;
    }
    mesh->SetName(name);
    model->GetMeshes()->PushBack(mesh);
    OrvaMaterial* material = new (std::nothrow) OrvaMaterial();
    if (material == nullptr) {
        OrvaDebug::Log("ERROR : マテリアルの生成に失敗\n");
        return nullptr;
    }
    mesh->GetMaterials()->PushBack(material);
    mesh->SetVertexKind(kOrvaMeshStatic);
    mesh->SetVertexSize(OrvaMesh::GetKindVertexSize(kOrvaMeshStatic));
    if (!mesh->AllocateArrays(vertices, indices)) {
        return nullptr;
    }
    material->SetFaceRange(0, static_cast<uint32_t>(indices / 3));
    mesh->SetFrame(frame);
    return mesh;
}

// Frame, mesh and material of a one-mesh shape, named with the kind's
// counter, which then advances; null (logged) when a part cannot be made.
static OrvaMesh* BeginShape(OrvaModel* model, const char* kind, uint32_t* counter, int32_t vertices,
                            int32_t indices)
{
    char name[64];
    std::snprintf(name, sizeof name, "Frame_%s_%02u", kind, *counter);
    OrvaFrame* frame = model->CreateRootFrame(name);
    if (frame == nullptr) {
        OrvaDebug::Log("ERROR : フレームの生成に失敗\n");
        return nullptr;
    }
    std::snprintf(name, sizeof name, "Mesh_%s_%02u", kind, *counter);
    *counter += 1;
    return OrvaModelShape::AddMesh(model, frame, name, vertices, indices);
}

// Device buffers and bounds, then the completion line.
static void FinishShape(OrvaMesh* mesh, OrvaProgress progress)
{
    OrvaModelShape::Progress(progress);
    mesh->CreateBuffers(progress);
    OrvaModelShape::Progress(progress);
    const float* lo = mesh->GetBoxMin();
    const float* hi = mesh->GetBoxMax();
    OrvaDebug::Log("Vertex %d, Index %d, (%8.3lf,%8.3lf,%8.3lf)-(%8.3lf,%8.3lf,%8.3lf), %.3lfKB / Complete!\n",
                   mesh->GetVertexCount(), mesh->GetIndexCount(), static_cast<double>(lo[0]),
                   static_cast<double>(lo[1]), static_cast<double>(lo[2]), static_cast<double>(hi[0]),
                   static_cast<double>(hi[1]), static_cast<double>(hi[2]),
                   static_cast<double>(mesh->GetMemorySize()) / 1024.0);
}

// A new model at the back of the model list, announced in the log.
static OrvaModel* NewModel()
{
    OrvaModel* model = OrvaModel::Create();
    if (model == nullptr) {
        OrvaDebug::Log("ERROR : モデルの生成に失敗\n");
        return nullptr;
    }
    OrvaModelShape::LogCreate(model);
    return model;
}

// ---------------------------------------------------------------- module

// A device reset clears the device's clip planes; the mirror's come back.
static void RestoreMirrorPlanes()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (g_mirrorPlanesSet && device != nullptr) {
        for (uint32_t i = 0; i < 4; ++i) {
            device->SetClipPlane(i, g_mirrorPlanes[i]);
        }
    }
}

void OrvaModel::StartModuleState()
{
    OrvaDevice::AddResetWalkers(nullptr, &RestoreMirrorPlanes);
    g_state = OrvaMeshModuleState{};
    std::memset(g_texturePack, 0, sizeof g_texturePack);
    std::memset(g_mirrorPlanes, 0, sizeof g_mirrorPlanes);
    g_mirrorPlanesSet = false;
    g_billboardCount = g_sphereCount = g_planeCount = g_cubeCount = 0;
    OrvaModelShape::ResetHeightFieldCount();
    // Picking's results belong to the module state too.
    ClearHitTable();
    g_state.mirrorMatrix.Identity();
    g_reflection = &g_state.mirrorMatrix;
    OrvaMesh::SetModuleState(&g_state);
    SetModuleState(&g_state);
}

void OrvaModel::StopModuleState()
{
    if (g_state.camera != nullptr) {
        OrvaCamera* held = g_state.camera;
        g_state.camera = nullptr;
        held->Release();
    }
    g_reflection = nullptr;
    g_mirrorPlanesSet = false;
    g_state.mirror = 0;
    g_state.mirrorMatrix.Identity();
}

void OrvaModel::OnLostDevice()
{
    for (OrvaObject* m = GetModelList()->GetHead(); m != nullptr; m = m->GetNext()) {
        for (OrvaObject* o = static_cast<OrvaModel*>(m)->GetMeshes()->GetHead(); o != nullptr; o = o->GetNext()) {
            static_cast<OrvaMesh*>(o)->InvalidateDeviceObjects();
        }
    }
}

void OrvaModel::OnResetDevice()
{
    for (OrvaObject* m = GetModelList()->GetHead(); m != nullptr; m = m->GetNext()) {
        for (OrvaObject* o = static_cast<OrvaModel*>(m)->GetMeshes()->GetHead(); o != nullptr; o = o->GetNext()) {
            static_cast<OrvaMesh*>(o)->RestoreDeviceObjects();
        }
    }
}

void OrvaModel::SetCamera(OrvaCamera* camera)
{
    // The new reference first: setting the camera already held must not
    // let it go.
    if (camera != nullptr) {
        camera->AddRef();
    }
    if (g_state.camera != nullptr) {
        g_state.camera->Release();
    }
    g_state.camera = camera;
}

OrvaCamera* OrvaModel::GetCamera()
{
    return g_state.camera;
}

void OrvaModel::SetTexturePack(const char* packFile)
{
    std::memset(g_texturePack, 0, sizeof g_texturePack);
    if (packFile != nullptr) {
        std::strncpy(g_texturePack, packFile, sizeof g_texturePack - 1);
    }
    g_state.texturePack = g_texturePack[0] != '\0' ? g_texturePack : nullptr;
}

const char* OrvaModel::GetTexturePack()
{
    return g_texturePack;
}

const OrvaMatrix* OrvaModel::GetReflectionMatrix()
{
    return g_reflection;
}

static platform::Vec3 ToVec3(const OrvaVector& v)
{
    return platform::Vec3{v.x, v.y, v.z};
}

static void StorePlane(float* out, const platform::PlaneEquation& p)
{
    out[0] = p.a;
    out[1] = p.b;
    out[2] = p.c;
    out[3] = p.d;
}

void OrvaModel::SetMirror(const OrvaVector* p0, const OrvaVector* p1, const OrvaVector* p2, const OrvaVector* p3)
{
    if (g_reflection == nullptr || p0 == nullptr || p1 == nullptr || p2 == nullptr || p3 == nullptr) {
        return;
    }
    OrvaMatrix m;
    OrvaCamera::GetViewProjection(&m);
    // Reflection through the unit plane (a, b, c, d): p' = p - 2 (n.p + d) n.
    const platform::PlaneEquation plane =
        platform::PlaneNormalize(platform::PlaneFromPoints(ToVec3(*p0), ToVec3(*p1), ToVec3(*p2)));
    const float n[3] = {plane.a, plane.b, plane.c};
    OrvaMatrix& r = *g_reflection;
    r.Identity();
    for (int32_t row = 0; row < 3; ++row) {
        for (int32_t col = 0; col < 3; ++col) {
            r.SetElement(row + 1, col + 1, (row == col ? 1.0f : 0.0f) - 2.0f * n[row] * n[col]);
        }
        r.SetElement(4, row + 1, -2.0f * plane.d * n[row]);
    }
    OrvaVector a, b, c, d;
    a.TransformCoord(*p0, m);
    b.TransformCoord(*p1, m);
    c.TransformCoord(*p2, m);
    d.TransformCoord(*p3, m);
    // Each edge's plane holds the edge and the lines of sight through it.
    // After the divide by w every line of sight runs along z, so the plane
    // goes through the edge and a point one unit nearer the eye from its
    // first corner: its z term is 0, and taken as a clip-space plane
    // (a, b, 0, d) it keeps the same screen half at every depth. (A plane
    // through the divided coordinates' origin instead tilts with depth and
    // shows the reflection, which lies behind the mirror, past its edges.)
    // The mirror's inside is on the positive side of all four.
    const platform::Vec3 toEye{0.0f, 0.0f, -1.0f};
    const platform::Vec3 corners[4][2] = {
        {ToVec3(b), ToVec3(a)}, {ToVec3(d), ToVec3(b)}, {ToVec3(c), ToVec3(d)}, {ToVec3(a), ToVec3(c)}};
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    for (uint32_t i = 0; i < 4; ++i) {
        const platform::Vec3& first = corners[i][0];
        StorePlane(g_mirrorPlanes[i], platform::PlaneFromPoints(first, corners[i][1], first + toEye));
        if (device != nullptr) {
            device->SetClipPlane(i, g_mirrorPlanes[i]);
        }
    }
    g_mirrorPlanesSet = true;
}

// ---------------------------------------------------------------- shapes

OrvaModel* OrvaModel::CreateBillboard(float width, float height, OrvaProgress progress)
{
    OrvaModel* model = NewModel();
    if (model == nullptr) {
        return nullptr;
    }
    OrvaMesh* mesh = BeginShape(model, "Billboard", &g_billboardCount, 4, 6);
    if (mesh == nullptr) {
        return model;
    }
    model->SetBillboard(1);
    OrvaModelShape::Progress(progress);
    const float w = width * 0.5f;
    const float h = height * 0.5f;
    OrvaMeshVertex* v = mesh->GetVertexArray();
    OrvaModelShape::PutVertex(&v[0], -w, h, 0.0f, 0.0f, 0.0f, -1.0f, 0.0f, 0.0f);
    OrvaModelShape::PutVertex(&v[1], w, h, 0.0f, 0.0f, 0.0f, -1.0f, 1.0f, 0.0f);
    OrvaModelShape::PutVertex(&v[2], -w, -h, 0.0f, 0.0f, 0.0f, -1.0f, 0.0f, 1.0f);
    OrvaModelShape::PutVertex(&v[3], w, -h, 0.0f, 0.0f, 0.0f, -1.0f, 1.0f, 1.0f);
    OrvaModelShape::Progress(progress);
    static const uint16_t kIndices[6] = {0, 1, 2, 2, 1, 3};
    std::memcpy(mesh->GetIndexArray(), kIndices, sizeof kIndices);
    FinishShape(mesh, progress);
    return model;
}

// The grid of both plane forms; xz puts the row coordinate in z.
static OrvaModel* CreateGrid(float width, float height, int32_t columns, int32_t rows, float uvScale, bool xz,
                             OrvaProgress progress)
{
    OrvaModel* model = NewModel();
    if (model == nullptr) {
        return nullptr;
    }
    if (columns < 2 || rows < 2) {
        OrvaDebug::Log(kCountMessage);
        return model;
    }
    const int64_t vertexCount = static_cast<int64_t>(columns) * rows;
    if (vertexCount > kMaxShortIndexedVertices) {
        // 16-bit indices cannot reach the vertices past 65535.
        OrvaDebug::Log("ERROR : Vertex Overflow!!! [%u]\n", static_cast<uint32_t>(vertexCount));
        return model;
    }
    const int32_t indexCount = 6 * (columns - 1) * (rows - 1);
    OrvaMesh* mesh = BeginShape(model, "Plane", &g_planeCount, static_cast<int32_t>(vertexCount), indexCount);
    if (mesh == nullptr) {
        return model;
    }
    OrvaModelShape::Progress(progress);
    OrvaMeshVertex* v = mesh->GetVertexArray();
    const float lastColumn = static_cast<float>(columns - 1);
    const float lastRow = static_cast<float>(rows - 1);
    for (int32_t i = 0; i < rows; ++i) {
        const float r = static_cast<float>(i) * height / lastRow - height * 0.5f;
        const float tv = ((1.0f - static_cast<float>(i) / lastRow) - 0.5f) * uvScale + 0.5f;
        for (int32_t j = 0; j < columns; ++j) {
            const float x = static_cast<float>(j) * width / lastColumn - width * 0.5f;
            const float u = (static_cast<float>(j) / lastColumn - 0.5f) * uvScale + 0.5f;
            OrvaMeshVertex* out = &v[i * columns + j];
            if (xz) {
                OrvaModelShape::PutVertex(out, x, 0.0f, r, 0.0f, 1.0f, 0.0f, u, tv);
            } else {
                OrvaModelShape::PutVertex(out, x, r, 0.0f, 0.0f, 0.0f, -1.0f, u, tv);
            }
        }
    }
    OrvaModelShape::Progress(progress);
    OrvaModelShape::GridTriangles(mesh->GetIndexArray(), columns, rows);
    FinishShape(mesh, progress);
    return model;
}

void OrvaModelShape::GridTriangles(uint16_t* out, int32_t columns, int32_t rows)
{
    size_t k = 0;
    for (int32_t i = 0; i + 1 < rows; ++i) {
        for (int32_t j = 0; j + 1 < columns; ++j) {
            const uint16_t a = static_cast<uint16_t>(i * columns + j);
            const uint16_t b = static_cast<uint16_t>(a + 1);
            const uint16_t c = static_cast<uint16_t>(a + columns);
            const uint16_t d = static_cast<uint16_t>(c + 1);
            const uint16_t cell[6] = {c, b, a, d, b, c};
            std::memcpy(out + k, cell, sizeof cell);
            k += 6;
        }
    }
}

OrvaModel* OrvaModel::CreatePlane(float width, float height, int32_t columns, int32_t rows, float uvScale,
                                  OrvaProgress progress)
{
    return CreateGrid(width, height, columns, rows, uvScale, false, progress);
}

OrvaModel* OrvaModel::CreatePlaneXZ(float width, float depth, int32_t columns, int32_t rows, float uvScale,
                                    OrvaProgress progress)
{
    return CreateGrid(width, depth, columns, rows, uvScale, true, progress);
}

OrvaModel* OrvaModel::CreateCube(float width, float height, float depth, OrvaProgress progress)
{
    OrvaModel* model = NewModel();
    if (model == nullptr) {
        return nullptr;
    }
    OrvaMesh* mesh = BeginShape(model, "Cube", &g_cubeCount, 24, 36);
    if (mesh == nullptr) {
        return model;
    }
    OrvaModelShape::Progress(progress);
    const float w = width * 0.5f;
    const float h = height * 0.5f;
    const float d = depth * 0.5f;
    struct Face {
        float normal[3];
        float corners[4][3];
    };
    // Each face seen from outside: vertex 0 top left, 1 top right, 2 bottom
    // left, 3 bottom right.
    const Face faces[6] = {
        {{0, 1, 0}, {{-w, h, d}, {w, h, d}, {-w, h, -d}, {w, h, -d}}},
        {{0, -1, 0}, {{w, -h, d}, {-w, -h, d}, {w, -h, -d}, {-w, -h, -d}}},
        {{0, 0, -1}, {{-w, h, -d}, {w, h, -d}, {-w, -h, -d}, {w, -h, -d}}},
        {{0, 0, 1}, {{w, h, d}, {-w, h, d}, {w, -h, d}, {-w, -h, d}}},
        {{1, 0, 0}, {{w, h, -d}, {w, h, d}, {w, -h, -d}, {w, -h, d}}},
        {{-1, 0, 0}, {{-w, h, d}, {-w, h, -d}, {-w, -h, d}, {-w, -h, -d}}},
    };
    static const float kUv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    OrvaMeshVertex* v = mesh->GetVertexArray();
    for (int32_t f = 0; f < 6; ++f) {
        const Face& face = faces[f];
        for (int32_t k = 0; k < 4; ++k) {
            OrvaModelShape::PutVertex(&v[4 * f + k], face.corners[k][0], face.corners[k][1], face.corners[k][2],
                                      face.normal[0], face.normal[1], face.normal[2], kUv[k][0], kUv[k][1]);
        }
    }
    OrvaModelShape::Progress(progress);
    uint16_t* out = mesh->GetIndexArray();
    for (int32_t f = 0; f < 6; ++f) {
        const uint16_t k = static_cast<uint16_t>(4 * f);
        const uint16_t tri[6] = {k, static_cast<uint16_t>(k + 1), static_cast<uint16_t>(k + 2),
                                 static_cast<uint16_t>(k + 3), static_cast<uint16_t>(k + 2),
                                 static_cast<uint16_t>(k + 1)};
        std::memcpy(out + 6 * f, tri, sizeof tri);
    }
    FinishShape(mesh, progress);
    return model;
}

OrvaModel* OrvaModel::CreateSphere(float radiusX, float radiusY, float radiusZ, int32_t stacks, int32_t slices,
                                   OrvaProgress progress)
{
    OrvaModel* model = NewModel();
    if (model == nullptr) {
        return nullptr;
    }
    if (stacks < 3 || slices < 3) {
        OrvaDebug::Log(kSphereMessage);
        return model;
    }
    const int64_t vertexCount = static_cast<int64_t>(slices + 1LL) * stacks;
    if (vertexCount > kMaxShortIndexedVertices) {
        OrvaDebug::Log("ERROR : Vertex Overflow!!! [%u]\n", static_cast<uint32_t>(vertexCount));
        return model;
    }
    const int32_t indexCount = 6 * (stacks - 1) * slices;
    OrvaMesh* mesh = BeginShape(model, "Sphere", &g_sphereCount, static_cast<int32_t>(vertexCount), indexCount);
    if (mesh == nullptr) {
        return model;
    }
    OrvaModelShape::Progress(progress);
    constexpr float kPi = 3.1415927f;
    constexpr float kTwoPi = 6.2831855f;
    OrvaMeshVertex* v = mesh->GetVertexArray();
    const int32_t ring = slices + 1;
    for (int32_t i = 0; i < stacks; ++i) {
        const float theta = static_cast<float>(i) * kPi / static_cast<float>(stacks - 1);
        const platform::Mat4 tilt = platform::MatrixRotationX(theta);
        for (int32_t j = 0; j <= slices; ++j) {
            const float phi = kTwoPi - static_cast<float>(j) * kTwoPi / static_cast<float>(slices);
            const platform::Mat4 turn = platform::MatrixMultiply(tilt, platform::MatrixRotationY(phi));
            const platform::Vec3 dir = platform::TransformCoord(platform::Vec3{0.0f, 1.0f, 0.0f}, turn);
            const platform::Vec3 p{dir.x * radiusX, dir.y * radiusY, dir.z * radiusZ};
            const platform::Vec3 n = platform::Normalize(p);
            OrvaModelShape::PutVertex(&v[i * ring + j], p.x, p.y, p.z, n.x, n.y, n.z,
                                      1.0f - static_cast<float>(j) / static_cast<float>(slices),
                                      (1.0f - dir.y) * 0.5f);
        }
    }
    OrvaModelShape::Progress(progress);
    uint16_t* out = mesh->GetIndexArray();
    size_t k = 0;
    for (int32_t i = 0; i + 1 < stacks; ++i) {
        for (int32_t j = 0; j < slices; ++j) {
            const uint16_t a = static_cast<uint16_t>(i * ring + j);
            const uint16_t b = static_cast<uint16_t>(a + 1);
            const uint16_t c = static_cast<uint16_t>(a + ring);
            const uint16_t d = static_cast<uint16_t>(c + 1);
            const uint16_t band[6] = {a, b, c, b, d, c};
            std::memcpy(out + k, band, sizeof band);
            k += 6;
        }
    }
    FinishShape(mesh, progress);
    return model;
}

// ---------------------------------------------------------------- X files

// Largest X file read. The reader holds the whole file and the tree made
// from it in memory; scenes of tens of thousands of vertices take a few
// megabytes even as text.
static constexpr size_t kMaxXFileBytes = size_t(64) << 20;

// The whole file, or the program's "XFILE" resource of that name; false
// when neither exists or the file is larger than kMaxXFileBytes (then with
// a log line, and *reason says so). The file is read in pieces up to the
// cap, so neither a size the system reports nor a file that keeps growing
// can make it take more.
static bool ReadXSource(const char* fileName, std::vector<uint8_t>* bytes, std::string* reason)
{
    FILE* file = platform::OpenEngineFileStream(fileName);
    if (file != nullptr) {
        bool read = false;
        bool tooLarge = false;
        try {
            constexpr size_t kPiece = size_t(1) << 16;
            bytes->clear();
            for (;;) {
                const size_t at = bytes->size();
                if (at > kMaxXFileBytes) {
                    tooLarge = true;
                    break;
                }
                bytes->resize(at + kPiece);
                const size_t got = std::fread(bytes->data() + at, 1, kPiece, file);
                bytes->resize(at + got);
                if (got < kPiece) {
                    // A folder opens but does not read.
                    read = std::ferror(file) == 0;
                    break;
                }
            }
        } catch (const std::bad_alloc&) {
            read = false;
        }
        std::fclose(file);
        if (tooLarge || bytes->size() > kMaxXFileBytes) {
            OrvaDebug::Log("ERROR : Xファイルが大きすぎます [%s] (上限 %u Byte)\n", fileName,
                           static_cast<uint32_t>(kMaxXFileBytes));
            *reason = "file larger than " + std::to_string(kMaxXFileBytes) + " bytes";
            std::vector<uint8_t>().swap(*bytes);
            return false;
        }
        if (read) {
            return true;
        }
    }
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (fileName == nullptr || !platform::FindResource("XFILE", fileName, &data, &size)) {
        return false;
    }
    if (size > kMaxXFileBytes) {
        OrvaDebug::Log("ERROR : Xファイルが大きすぎます [%s] (上限 %u Byte)\n", fileName,
                       static_cast<uint32_t>(kMaxXFileBytes));
        *reason = "resource larger than " + std::to_string(kMaxXFileBytes) + " bytes";
        return false;
    }
    try {
        bytes->assign(data, data + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

OrvaModel* OrvaModel::CreateFromX(const char* fileName, OrvaProgress progress)
{
    OrvaModel* model = NewModel();
    if (model == nullptr) {
        return nullptr;
    }
    if (model->CreateRootFrame("MASTER_FRAME") == nullptr) {
        OrvaDebug::Log("ERROR : フレームの生成に失敗\n");
        return model;
    }
    OrvaModelShape::Progress(progress);
    OrvaApplication::SetCurrentDirectory();
    OrvaDebug::Log("%s {\n", fileName != nullptr ? fileName : "(null)");
    std::vector<uint8_t> bytes;
    std::string reason = "ファイルがありません";
    platform::XFile file;
    if (!ReadXSource(fileName, &bytes, &reason) || !file.Parse(bytes.data(), bytes.size(), &reason)) {
        OrvaDebug::Log("ERROR 列挙オブジェクトの作成に失敗\nファイルがないか無効な可能性があります [%s]\n",
                       reason.c_str());
        return model;
    }
    OrvaModelShape::Progress(progress);
    model->LoadFromXof(file, progress);
    OrvaModelShape::Progress(progress);
    return model;
}
