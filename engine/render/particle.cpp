// Particle batches: billboards queued as triangle pairs and drawn in one
// call.
#include "engine/render/particle.h"

#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/matrix.h"
#include "engine/core/texture.h"
#include "engine/render/axes.h"
#include "engine/render/batch.h"
#include "engine/render/camera.h"
#include "platform/gfx/soft_device.h"

OrvaParticle::~OrvaParticle()
{
    OrvaBatch::LogReleased("Perticle ", this, BufferBytes());
    buffer.FreeMemory();
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    InvalidateDeviceObjects();
}

OrvaParticle* OrvaParticle::Create(int32_t particles, int32_t blend)
{
    OrvaParticle* p = new (std::nothrow) OrvaParticle();
    if (p == nullptr) {
        return nullptr;
    }
    OrvaDebug::Log("○ CreatePerticle  / ID [0x%08X] / ", OrvaBatch::Address(p));
    List().PushFront(p);
    p->blend = blend;
    // A count the buffers cannot be sized for leaves an empty batch rather
    // than a buffer of a wrapped-around size.
    if (particles < 0 || particles > kMaxParticles) {
        OrvaDebug::Log("エラー : パーティクル数が不正です [%d] / ", particles);
    } else if (p->buffer.Reserve(3 * kVertexSize * 2 * static_cast<uint32_t>(particles))) {
        p->capacity = 2 * static_cast<uint32_t>(particles);
    }
    p->buffer.CreateDeviceBuffer(p->BufferBytes(), p->vertexFormat);
    OrvaBatch::LogBlendName(blend);
    const uint32_t kilobytes =
        static_cast<uint32_t>(((6 * p->vertexSize + 160) * static_cast<uint64_t>(p->capacity) + sizeof(OrvaParticle)) /
                              1024);
    OrvaBatch::LogCreated(static_cast<int32_t>(p->capacity), 3 * p->capacity, kilobytes, p->BufferBytes());
    return p;
}

uint32_t OrvaParticle::BufferBytes() const
{
    return 3 * vertexSize * capacity;
}

bool OrvaParticle::AddTriangle(const OrvaVertex3D* vertices)
{
    if (vertices == nullptr || triangleCount >= capacity) {
        return false;
    }
    buffer.Append(vertices, 3 * vertexSize);
    ++triangleCount;
    return true;
}

bool OrvaParticle::Billboard(OrvaVector* corners, const OrvaVector& position)
{
    if (corners == nullptr) {
        return false;
    }
    OrvaVector eye;
    OrvaCamera::GetEyePosition(&eye);
    OrvaVector front(position.x - eye.x, position.y - eye.y, position.z - eye.z);
    if (front.LengthSq() == 0.0f) {
        return false;
    }
    front.Normalize();
    OrvaVector right;
    OrvaVector up;
    OrvaAxes::Aim(front, OrvaVector(0.0f, 1.0f, 0.0f), &right, &up);
    const float rows[16] = {right.x, right.y, right.z, 0.0f,  //
                            up.x,    up.y,    up.z,    0.0f,  //
                            front.x, front.y, front.z, 0.0f,  //
                            position.x, position.y, position.z, 1.0f};
    OrvaMatrix m;
    m.Set(rows);
    for (int i = 0; i < 4; ++i) {
        corners[i].Transform(m);
    }
    return true;
}

void OrvaParticle::InvalidateDeviceObjects()
{
    buffer.ReleaseDeviceBuffer();
}

void OrvaParticle::RestoreDeviceObjects()
{
    buffer.CreateDeviceBuffer(BufferBytes(), vertexFormat);
}

void OrvaParticle::SetTexture(OrvaTexture* newTexture)
{
    // AddRef first: setting the texture already held must not free it.
    const bool keep = newTexture != nullptr && newTexture->IsValid();
    if (keep) {
        newTexture->AddRef();
    }
    if (texture != nullptr) {
        texture->Release();
    }
    texture = keep ? newTexture : nullptr;
}

bool OrvaParticle::AddParticle(float x, float y, float z, float width, float height, const int32_t* source,
                               uint32_t color)
{
    Queue(x, y, z, width, height, source, color, false, 0);
    return true;
}

bool OrvaParticle::AddRotatedParticle(float x, float y, float z, float width, float height, const int32_t* source,
                                      uint32_t color, int32_t angle)
{
    Queue(x, y, z, width, height, source, color, true, angle);
    return true;
}

bool OrvaParticle::Queue(float x, float y, float z, float width, float height, const int32_t* source, uint32_t color,
                         bool rotated, int32_t angle)
{
    float uLeft = 0.0f, uRight = 0.0f, vTop = 0.0f, vBottom = 0.0f;
    if (texture != nullptr && source != nullptr) {
        const float t = OrvaTexture::GetTexelOffset();
        uLeft = (static_cast<float>(source[0]) + t) * texture->GetScaleU();
        vTop = (static_cast<float>(source[1]) + t) * texture->GetScaleV();
        uRight = (static_cast<float>(source[2]) - t) * texture->GetScaleU();
        vBottom = (static_cast<float>(source[3]) - t) * texture->GetScaleV();
    }
    const float hw = width * 0.5f;
    const float hh = height * 0.5f;
    OrvaVector c[4] = {{-hw, hh, 0.0f}, {hw, hh, 0.0f}, {-hw, -hh, 0.0f}, {hw, -hh, 0.0f}};
    if (rotated) {
        for (OrvaVector& corner : c) {
            OrvaMath::RotatePoint(corner.x, corner.y, angle);
        }
    }
    // A particle at the eye faces no direction: it is left out.
    if (!Billboard(c, OrvaVector(x, y, z))) {
        return false;
    }
    const OrvaVertex3D v0{c[0].x, c[0].y, c[0].z, color, uLeft, vTop};
    const OrvaVertex3D v1{c[1].x, c[1].y, c[1].z, color, uRight, vTop};
    const OrvaVertex3D v2{c[2].x, c[2].y, c[2].z, color, uLeft, vBottom};
    const OrvaVertex3D v3{c[3].x, c[3].y, c[3].z, color, uRight, vBottom};
    const OrvaVertex3D first[3] = {v0, v1, v2};
    const OrvaVertex3D second[3] = {v2, v3, v1};
    const bool fitted = AddTriangle(first);
    return AddTriangle(second) && fitted;
}

void OrvaParticle::Clear()
{
    triangleCount = 0;
    buffer.Clear();
}

void OrvaParticle::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // Without a buffer (the device is lost) there is nothing to draw from.
    if (triangleCount == 0 || device == nullptr || !HasVertexBuffer()) {
        return;
    }
    buffer.Upload();
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaDevice::SetRenderState(platform::RsFogEnable, 0);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    platform::Matrix4 identity = {};
    for (int i = 0; i < 4; ++i) {
        identity.m[i][i] = 1.0f;
    }
    device->SetTransform(platform::TsWorld, identity);
    const bool sub = blend == kOrvaBlendSub;
    if (sub) {
        OrvaEffect::Begin(kOrvaBlendSub);
    }
    device->SetVertexShader(vertexFormat);
    OrvaDevice::SetTexture(texture, 0);
    OrvaDevice::SetBlendMode(sub ? kOrvaBlendAdd : blend);
    device->SetStreamSource(0, buffer.GetDeviceBuffer(), vertexSize);
    device->DrawPrimitive(platform::PrimTriangleList, 0, triangleCount);
    OrvaApplication::AddPolygonCount(static_cast<int32_t>(triangleCount));
    if (sub) {
        OrvaEffect::End();
    }
}
