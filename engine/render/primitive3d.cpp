// 3D primitive batches: points, lines, triangles, quads and ribbons queued
// in world units and drawn in one call.
#include "engine/render/primitive3d.h"

#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "engine/render/batch.h"
#include "platform/gfx/soft_device.h"

OrvaPrimitive3D::OrvaPrimitive3D()
{
    world.Identity();
}

OrvaPrimitive3D::~OrvaPrimitive3D()
{
    OrvaBatch::LogReleased("Primitive3D ", this, BufferBytes());
    buffer.FreeMemory();
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    InvalidateDeviceObjects();
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
    OrvaDebug::Log("○ CreatePrimitive3D / ID [0x%08X] / ", OrvaBatch::Address(p));
    List().PushFront(p);
    p->blend = blend;
    p->verticesPerPrimitive = verticesPerPrimitive;
    p->primitiveType = primitiveType;
    // A capacity the buffers cannot be sized for leaves an empty batch
    // rather than a buffer of a wrapped-around size.
    if (capacity < 0 || static_cast<int64_t>(capacity) * verticesPerPrimitive > kMaxVertices) {
        OrvaDebug::Log("エラー : プリミティブ数が不正です [%d] / ", capacity);
    } else if (p->buffer.Reserve(kVertexSize * verticesPerPrimitive * static_cast<uint32_t>(capacity))) {
        p->capacity = capacity;
    }
    p->buffer.CreateDeviceBuffer(p->BufferBytes(), kVertexFormat);
    OrvaBatch::LogBlendName(blend);
    const uint32_t vertices = verticesPerPrimitive * static_cast<uint32_t>(p->capacity);
    const uint32_t kilobytes = static_cast<uint32_t>((p->BufferBytes() + sizeof(OrvaPrimitive3D)) / 1024);
    OrvaBatch::LogCreated(p->capacity, vertices, kilobytes, p->BufferBytes());
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
    buffer.Append(vertices, kVertexSize * static_cast<uint32_t>(vertexCount));
    ++primitiveCount;
    return true;
}

void OrvaPrimitive3D::InvalidateDeviceObjects()
{
    buffer.ReleaseDeviceBuffer();
}

void OrvaPrimitive3D::RestoreDeviceObjects()
{
    buffer.CreateDeviceBuffer(BufferBytes(), kVertexFormat);
}

void OrvaPrimitive3D::Clear()
{
    primitiveCount = 0;
    buffer.Clear();
}

void OrvaPrimitive3D::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // Without a buffer (the device is lost) there is nothing to draw from.
    if (primitiveCount == 0 || device == nullptr || !HasVertexBuffer()) {
        return;
    }
    buffer.Upload();
    platform::Matrix4 m;
    std::memcpy(m.m, world.GetData(), sizeof(m.m));
    device->SetTransform(platform::TsWorld, m);
    const bool sub = blend == kOrvaBlendSub;
    if (sub) {
        OrvaEffect::Begin(kOrvaBlendSub);
    }
    device->SetVertexShader(kVertexFormat);
    device->SetStreamSource(0, buffer.GetDeviceBuffer(), kVertexSize);
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
    ResetAxes();
}

void OrvaPrimitive3D::UpdateTransform()
{
    NormalizeAxes();
    GetPlacement(&world);
}

void OrvaPrimitive3D::GetWorld(OrvaMatrix* out) const
{
    if (out != nullptr) {
        *out = world;
    }
}
