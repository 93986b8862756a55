#include "engine/render/primitive3d.h"

#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/graphics.h"
#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "platform/gfx/soft_device.h"

namespace {

OrvaObjectList g_primitives;

constexpr uint32_t kPageBytes = 4096;
constexpr double kBytesToMegabytes = 1.0 / 1048576.0;
constexpr const char* kBlendNames[8] = {"None Blend / ",  "Normal Blend / ", "Add Blend / ",    "Sub Blend / ",
                                        "Mul Blend / ",   "OneOne Blend / ", "Bright Blend / ", "Revease Blend / "};

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t RoundToPages(uint32_t bytes)
{
    return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
}

platform::SoftVertexBuffer* MakeVertexBuffer(uint32_t bytes)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr || bytes == 0) {
        return nullptr;
    }
    platform::SoftVertexBuffer* buffer = nullptr;
    const platform::GfxResult r =
        device->CreateVertexBuffer(bytes, platform::UsageWriteOnly | platform::UsageDynamic,
                                   OrvaPrimitive3D::kVertexFormat, platform::PoolDefault, &buffer);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : 頂点バッファの作成に失敗 [%s]\n", OrvaDevice::GetErrorString(r));
        return nullptr;
    }
    return buffer;
}

}  // namespace

OrvaPrimitive3D::OrvaPrimitive3D()
{
    world.Identity();
}

OrvaPrimitive3D::~OrvaPrimitive3D()
{
    if (OrvaDevice::IsSoftwareVertexProcessing()) {
        OrvaDebug::Log("● ReleasePrimitive3D  / ID [0x%08X]\n", Address(this));
    } else {
        OrvaGraphics::AddVramSize(-static_cast<int32_t>(BufferBytes()));
        OrvaDebug::Log("● ReleasePrimitive3D  / ID [0x%08X] / [VRAM %.3lfMB]\n", Address(this),
                       OrvaGraphics::GetVramSize() * kBytesToMegabytes);
    }
    systemCopy.reset();
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    InvalidateDeviceObjects();
}

bool OrvaPrimitive3D::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Primitive\n");
    g_primitives.Init();
    OrvaDevice::AddResetWalkers(&OrvaPrimitive3D::OnLostDevice, &OrvaPrimitive3D::OnResetDevice);
    return true;
}

void OrvaPrimitive3D::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Primitive\n");
    g_primitives.ReleaseAll();
}

void OrvaPrimitive3D::OnLostDevice()
{
    for (OrvaObject* o = g_primitives.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaPrimitive3D*>(o)->InvalidateDeviceObjects();
    }
}

void OrvaPrimitive3D::OnResetDevice()
{
    for (OrvaObject* o = g_primitives.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaPrimitive3D*>(o)->RestoreDeviceObjects();
    }
}

void OrvaPrimitive3D::RenderAll()
{
    for (OrvaObject* o = g_primitives.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaPrimitive3D*>(o)->Render();
    }
}

OrvaPrimitive3D* OrvaPrimitive3D::CreatePoints(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 1, platform::PrimPointList);
}

OrvaPrimitive3D* OrvaPrimitive3D::CreateLines(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 2, platform::PrimLineList);
}

OrvaPrimitive3D* OrvaPrimitive3D::CreateTriangles(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 3, platform::PrimTriangleList);
}

OrvaPrimitive3D* OrvaPrimitive3D::CreateTriangles2(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 3, platform::PrimTriangleList);
}

OrvaPrimitive3D* OrvaPrimitive3D::Create(int32_t capacity, int32_t blend, uint32_t verticesPerPrimitive,
                                         uint32_t primitiveType)
{
    OrvaPrimitive3D* p = new (std::nothrow) OrvaPrimitive3D();
    if (p == nullptr) {
        return nullptr;
    }
    OrvaDebug::Log("○ CreatePrimitive3D / ID [0x%08X] / ", Address(p));
    g_primitives.PushFront(p);
    p->blend = blend;
    p->verticesPerPrimitive = verticesPerPrimitive;
    p->primitiveType = primitiveType;
    // A capacity the buffers cannot be sized for leaves an empty batch
    // rather than a buffer of a wrapped-around size.
    if (capacity < 0 || static_cast<int64_t>(capacity) * verticesPerPrimitive > kMaxVertices) {
        OrvaDebug::Log("エラー : プリミティブ数が不正です [%d] / ", capacity);
    } else {
        const uint32_t bytes = kVertexSize * verticesPerPrimitive * static_cast<uint32_t>(capacity);
        p->systemCopy.reset(new (std::nothrow) uint8_t[RoundToPages(bytes)]);
        if (p->systemCopy == nullptr && bytes > 0) {
            OrvaDebug::Log("エラー : メモリの確保に失敗 [%u Byte] / ", RoundToPages(bytes));
        } else {
            p->capacity = capacity;
        }
    }
    p->vertexBuffer = MakeVertexBuffer(p->BufferBytes());
    if (blend >= 0 && blend < 8) {
        OrvaDebug::Log("%s", kBlendNames[blend]);
    }
    const uint32_t vertices = verticesPerPrimitive * static_cast<uint32_t>(p->capacity);
    const uint32_t kilobytes = static_cast<uint32_t>((p->BufferBytes() + sizeof(OrvaPrimitive3D)) / 1024);
    if (OrvaDevice::IsSoftwareVertexProcessing()) {
        OrvaDebug::Log("MaxPolygon %d / MaxVertex %u / %u KByteUse / Complete!\n", p->capacity, vertices, kilobytes);
    } else {
        OrvaGraphics::AddVramSize(static_cast<int32_t>(p->BufferBytes()));
        OrvaDebug::Log("MaxPolygon %d / MaxVertex %u / %u KByteUse / Complete! [VRAM %.3lfMB]\n", p->capacity,
                       vertices, kilobytes, OrvaGraphics::GetVramSize() * kBytesToMegabytes);
    }
    return p;
}

uint32_t OrvaPrimitive3D::BufferBytes() const
{
    return kVertexSize * verticesPerPrimitive * static_cast<uint32_t>(capacity);
}

bool OrvaPrimitive3D::AddPrimitive(OrvaVertex3D* vertices, int32_t vertexCount)
{
    // A primitive of another size would not line up with the batch's
    // primitive type nor fit the buffer sized for it.
    if (vertices == nullptr || vertexCount != static_cast<int32_t>(verticesPerPrimitive)) {
        return false;
    }
    if (static_cast<int32_t>(primitiveCount) >= capacity) {
        return false;
    }
    const float offset = OrvaTexture::GetPixelOffset();
    for (int32_t i = 0; i < vertexCount; ++i) {
        vertices[i].x += offset;
        vertices[i].y += offset;
    }
    std::memcpy(systemCopy.get() + queuedBytes, vertices, kVertexSize * static_cast<uint32_t>(vertexCount));
    queuedBytes += kVertexSize * static_cast<uint32_t>(vertexCount);
    ++primitiveCount;
    return true;
}

void OrvaPrimitive3D::InvalidateDeviceObjects()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaPrimitive3D::RestoreDeviceObjects()
{
    InvalidateDeviceObjects();
    vertexBuffer = MakeVertexBuffer(BufferBytes());
}

void OrvaPrimitive3D::Clear()
{
    primitiveCount = 0;
    queuedBytes = 0;
}

void OrvaPrimitive3D::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // Without a buffer (the device is lost) there is nothing to draw from.
    if (primitiveCount == 0 || device == nullptr || vertexBuffer == nullptr) {
        return;
    }
    uint8_t* bits = nullptr;
    if (vertexBuffer->Lock(0, queuedBytes, &bits, platform::LockDiscard) == platform::kGfxOk) {
        std::memcpy(bits, systemCopy.get(), queuedBytes);
        vertexBuffer->Unlock();
    }
    platform::Matrix4 m;
    std::memcpy(m.m, world.GetData(), sizeof(m.m));
    device->SetTransform(platform::TsWorld, m);
    const bool sub = blend == kOrvaBlendSub;
    if (sub) {
        OrvaEffect::Begin(kOrvaBlendSub);
    }
    device->SetVertexShader(kVertexFormat);
    device->SetStreamSource(0, vertexBuffer, kVertexSize);
    OrvaDevice::SetTexture(texture, 0);
    OrvaDevice::SetBlendMode(sub ? kOrvaBlendAdd : blend);
    device->DrawPrimitive(primitiveType, 0, primitiveCount);
    OrvaApplication::AddPolygonCount(static_cast<int32_t>(primitiveCount));
    if (sub) {
        OrvaEffect::End();
    }
}

void OrvaPrimitive3D::SetTexture(OrvaTexture* newTexture)
{
    if (newTexture == nullptr || !newTexture->IsValid()) {
        return;
    }
    // AddRef first: setting the texture already held must not free it.
    newTexture->AddRef();
    if (texture != nullptr) {
        texture->Release();
    }
    texture = newTexture;
}

OrvaVertex3D OrvaPrimitive3D::ShapeVertex(const OrvaVertex3D& v) const
{
    OrvaVertex3D out = v;
    if (texture != nullptr) {
        out.u = v.u * texture->GetScaleU();
        out.v = v.v * texture->GetScaleV();
    }
    return out;
}

void OrvaPrimitive3D::QueueTriangle(const OrvaVertex3D& a, const OrvaVertex3D& b, const OrvaVertex3D& c)
{
    OrvaVertex3D t[3] = {a, b, c};
    AddPrimitive(t, 3);
}

bool OrvaPrimitive3D::AddRibbon(int32_t mode, const OrvaVertex3D* points, const float* widths,
                                const int32_t* angles, const uint32_t* colors, const int32_t* source, int32_t count)
{
    if (points == nullptr || widths == nullptr || angles == nullptr || colors == nullptr || count < 2) {
        return true;
    }
    int32_t firstPass = 0;
    switch (mode) {
    case 0: firstPass = 0; break;
    case 1: firstPass = 1; break;
    case 2: firstPass = 2; break;
    default: return true;
    }
    float uLeft = 0.0f, uRight = 0.0f, vTop = 0.0f, vBottom = 0.0f;
    if (texture != nullptr && source != nullptr) {
        const float t = OrvaTexture::GetTexelOffset();
        const float su = texture->GetScaleU();
        const float sv = texture->GetScaleV();
        uLeft = (static_cast<float>(source[0]) + t) * su;
        vTop = (static_cast<float>(source[1]) + t) * sv;
        uRight = (static_cast<float>(source[2]) - t) * su;
        vBottom = (static_cast<float>(source[3]) - t) * sv;
    }
    const float vStep = (vBottom - vTop) / static_cast<float>(count - 1);
    for (int32_t pass = firstPass; pass < 3; ++pass) {
        // The left and right corners of point j in this pass.
        auto corners = [&](int32_t j, OrvaVertex3D* left, OrvaVertex3D* rightCorner) {
            const float p = -widths[j] * OrvaMath::Sin(angles[j]);
            const float q = widths[j] * OrvaMath::Cos(angles[j]);
            float dx = 0.0f, dy = 0.0f, dz = 0.0f;
            if (pass == 0) {
                dx = p;
                dy = q;
            } else if (pass == 1) {
                dy = p;
                dz = q;
            } else {
                dx = q;
                dz = p;
            }
            const OrvaVertex3D& pt = points[j];
            const float v = vTop + static_cast<float>(j) * vStep;
            *left = OrvaVertex3D{pt.x - dx, pt.y - dy, pt.z - dz, colors[j], uLeft, v};
            *rightCorner = OrvaVertex3D{pt.x + dx, pt.y + dy, pt.z + dz, colors[j], uRight, v};
        };
        OrvaVertex3D l0, r0, l1, r1;
        for (int32_t i = 0; i + 1 < count; ++i) {
            corners(i, &l0, &r0);
            corners(i + 1, &l1, &r1);
            QueueTriangle(l0, r0, l1);
            QueueTriangle(l1, r1, r0);
        }
    }
    return true;
}

bool OrvaPrimitive3D::AddQuad(const OrvaVertex3D* quad)
{
    if (quad == nullptr) {
        return true;
    }
    const OrvaVertex3D q0 = ShapeVertex(quad[0]);
    const OrvaVertex3D q1 = ShapeVertex(quad[1]);
    const OrvaVertex3D q2 = ShapeVertex(quad[2]);
    const OrvaVertex3D q3 = ShapeVertex(quad[3]);
    QueueTriangle(q0, q1, q2);
    QueueTriangle(q2, q3, q0);
    return true;
}

bool OrvaPrimitive3D::AddTriangle(const OrvaVertex3D* triangle)
{
    if (triangle != nullptr) {
        QueueTriangle(ShapeVertex(triangle[0]), ShapeVertex(triangle[1]), ShapeVertex(triangle[2]));
    }
    return true;
}

bool OrvaPrimitive3D::AddLine(const OrvaVertex3D* line)
{
    if (line != nullptr) {
        OrvaVertex3D l[2] = {ShapeVertex(line[0]), ShapeVertex(line[1])};
        AddPrimitive(l, 2);
    }
    return true;
}

bool OrvaPrimitive3D::AddPoint(const OrvaVertex3D* point)
{
    if (point != nullptr) {
        OrvaVertex3D p = ShapeVertex(*point);
        AddPrimitive(&p, 1);
    }
    return true;
}

void OrvaPrimitive3D::ResetTransform()
{
    front.Set(0.0f, 0.0f, 1.0f);
    up.Set(0.0f, 1.0f, 0.0f);
    right.Set(1.0f, 0.0f, 0.0f);
    position.Set(0.0f, 0.0f, 0.0f);
}

void OrvaPrimitive3D::UpdateTransform()
{
    right.Normalize();
    up.Normalize();
    front.Normalize();
    const float rows[16] = {right.x, right.y, right.z, 0.0f,  //
                            up.x,    up.y,    up.z,    0.0f,  //
                            front.x, front.y, front.z, 0.0f,  //
                            position.x, position.y, position.z, 1.0f};
    world.Set(rows);
}

void OrvaPrimitive3D::Yaw(int32_t angle)
{
    RotateY(angle);
}

void OrvaPrimitive3D::Pitch(int32_t angle)
{
    RotateX(angle);
}

void OrvaPrimitive3D::Roll(int32_t angle)
{
    RotateZ(angle);
}

// Each turn is R x M with M the rows right, up, front; the axes are left
// unnormalised until UpdateTransform.
void OrvaPrimitive3D::RotateX(int32_t angle)
{
    const float c = OrvaMath::Cos(angle);
    const float s = OrvaMath::Sin(angle);
    const OrvaVector u = up;
    const OrvaVector f = front;
    up.Set(c * u.x + s * f.x, c * u.y + s * f.y, c * u.z + s * f.z);
    front.Set(-s * u.x + c * f.x, -s * u.y + c * f.y, -s * u.z + c * f.z);
}

void OrvaPrimitive3D::RotateY(int32_t angle)
{
    const float c = OrvaMath::Cos(angle);
    const float s = OrvaMath::Sin(angle);
    const OrvaVector r = right;
    const OrvaVector f = front;
    right.Set(c * r.x - s * f.x, c * r.y - s * f.y, c * r.z - s * f.z);
    front.Set(s * r.x + c * f.x, s * r.y + c * f.y, s * r.z + c * f.z);
}

void OrvaPrimitive3D::RotateZ(int32_t angle)
{
    const float c = OrvaMath::Cos(angle);
    const float s = OrvaMath::Sin(angle);
    const OrvaVector r = right;
    const OrvaVector u = up;
    right.Set(c * r.x + s * u.x, c * r.y + s * u.y, c * r.z + s * u.z);
    up.Set(-s * r.x + c * u.x, -s * r.y + c * u.y, -s * r.z + c * u.z);
}

void OrvaPrimitive3D::Translate(float dx, float dy, float dz)
{
    position.Set(position.x + dx, position.y + dy, position.z + dz);
}

void OrvaPrimitive3D::GetWorld(OrvaMatrix* out) const
{
    if (out != nullptr) {
        *out = world;
    }
}

void OrvaPrimitive3D::GetFront(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = front;
    }
}

void OrvaPrimitive3D::GetUp(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = up;
    }
}

void OrvaPrimitive3D::GetRight(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = right;
    }
}

void OrvaPrimitive3D::GetPosition(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = position;
    }
}
