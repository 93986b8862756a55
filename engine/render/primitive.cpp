// 2D primitive batches: queueing with perspective, zoom, clipping and depth
// sorting, and drawing in one call.
#include "engine/render/primitive.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "engine/render/batch.h"
#include "platform/gfx/soft_device.h"

namespace {

constexpr float kDepthToZ = 1.0f / 65536.0f;

uint32_t PrimitiveType(uint32_t verticesPerPrimitive)
{
    switch (verticesPerPrimitive) {
    case 1: return platform::PrimPointList;
    case 2: return platform::PrimLineList;
    default: return platform::PrimTriangleList;
    }
}

bool DepthInRange(float depth)
{
    // Written so that a NaN depth is out of range too.
    return depth >= 0.0f && depth <= OrvaPrimitive::kMaxDepth;
}

}  // namespace

// ---- module -----------------------------------------------------------------

OrvaPrimitive::OrvaPrimitive()
{
    OrvaDebug::Log("○ CreatePrimitive  / ID [0x%08X] / ", OrvaBatch::Address(this));
    List().PushFront(this);
}

OrvaPrimitive::~OrvaPrimitive()
{
    const uint32_t vertexBytes = VertexCapacity() * kVertexStride;
    OrvaBatch::LogReleased("Primitive ", this, vertexBytes);
    unsortedCopy.reset();
    sortedPool.reset();
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    InvalidateDeviceObjects();
}

// ---- creation ---------------------------------------------------------------

OrvaPrimitive* OrvaPrimitive::CreatePoints(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 1);
}

OrvaPrimitive* OrvaPrimitive::CreateLines(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 2);
}

OrvaPrimitive* OrvaPrimitive::CreateTriangles(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 3);
}

OrvaPrimitive* OrvaPrimitive::CreateTriangles2(int32_t capacity, int32_t blend)
{
    return Create(capacity, blend, 3);
}

OrvaPrimitive* OrvaPrimitive::Create(int32_t capacity, int32_t blend, uint32_t verticesPerPrimitive)
{
    OrvaPrimitive* p = new (std::nothrow) OrvaPrimitive();
    if (p == nullptr) {
        OrvaDebug::Log("エラー : プリミティブのメモリを確保できません\n");
        return nullptr;
    }
    p->blend = blend;
    p->verticesPerPrimitive = verticesPerPrimitive;
    if (capacity < 0 || capacity > kMaxCapacity) {
        OrvaDebug::Log("エラー : プリミティブ数が正しくありません [%d]\n", capacity);
        capacity = 0;
    }
    p->capacity = capacity;
    const uint32_t vertices = p->VertexCapacity();
    // One sorted record per vertex of capacity: more than the primitives ever
    // use, but the pool then has the same size for every kind of batch.
    if (vertices > 0) {
        p->sortedPool.reset(new (std::nothrow) SortedRecord[vertices]);
        p->unsortedCopy.reset(new (std::nothrow) OrvaVertex2D[vertices]);
        if (p->sortedPool == nullptr || p->unsortedCopy == nullptr) {
            OrvaDebug::Log("エラー : プリミティブのメモリを確保できません [MaxPolygon %d]\n", capacity);
            p->sortedPool.reset();
            p->unsortedCopy.reset();
            p->capacity = 0;
        }
    }
    p->RestoreDeviceObjects();

    OrvaBatch::LogBlendName(blend);
    const uint32_t usedVertices = p->VertexCapacity();
    const uint32_t vertexBytes = usedVertices * kVertexStride;
    const uint64_t useBytes = uint64_t{vertexBytes} + uint64_t{usedVertices} * sizeof(SortedRecord) +
                              sizeof(OrvaPrimitive);
    const uint32_t useKBytes = static_cast<uint32_t>(useBytes / 1024);
    OrvaBatch::LogCreated(p->capacity, usedVertices, useKBytes, vertexBytes);
    return p;
}

// ---- device resources -------------------------------------------------------

void OrvaPrimitive::InvalidateDeviceObjects()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaPrimitive::RestoreDeviceObjects()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const uint32_t vertexBytes = VertexCapacity() * kVertexStride;
    if (vertexBuffer != nullptr || device == nullptr || vertexBytes == 0) {
        return;
    }
    const platform::GfxResult r =
        device->CreateVertexBuffer(vertexBytes, platform::UsageWriteOnly | platform::UsageDynamic, kVertexFormat,
                                   platform::PoolDefault, &vertexBuffer);
    if (r != platform::kGfxOk) {
        vertexBuffer = nullptr;
        OrvaDebug::Log("エラー : 頂点バッファを作成できません [%s]\n", OrvaDevice::GetErrorString(r));
    }
}

// ---- settings ---------------------------------------------------------------

void OrvaPrimitive::SetTexture(OrvaTexture* newTexture)
{
    if (newTexture == nullptr || newTexture->IsValid() == 0) {
        return;
    }
    // AddRef first: the new texture may be the one already held.
    newTexture->AddRef();
    if (texture != nullptr) {
        texture->Release();
    }
    texture = newTexture;
}

void OrvaPrimitive::SetPerspective(float newVanishX, float newVanishY, float z0, float k)
{
    warp.SetPerspective(newVanishX, newVanishY, z0, k);
}

void OrvaPrimitive::DisablePerspective()
{
    warp.DisablePerspective();
}

void OrvaPrimitive::SetZoom(float centreX, float centreY, float scale)
{
    warp.SetZoom(centreX, centreY, scale);
}

void OrvaPrimitive::DisableZoom()
{
    warp.DisableZoom();
}

void OrvaPrimitive::SetSort(uint32_t on)
{
    sort = on;
    Clear();
}

void OrvaPrimitive::Clear()
{
    primitiveCount = 0;
    queuedBytes = 0;
    for (int32_t b = lowestBucket; b <= highestBucket; ++b) {
        depthCounts[b] = 0;
    }
    lowestBucket = kDepthBuckets;
    highestBucket = -1;
}

void OrvaPrimitive::SetClip(const OrvaRect* rect)
{
    if (rect == nullptr) {
        clip = 0;
        clipRect = OrvaRect{};
        return;
    }
    clip = 1;
    clipRect = *rect;
}

// ---- queueing ---------------------------------------------------------------

bool OrvaPrimitive::AddPrimitive(OrvaVertex2D* vertices, float depth, int32_t vertexCount)
{
    if (primitiveCount >= static_cast<uint32_t>(capacity)) {
        return false;
    }
    // The blocks and the buffer hold exactly this many vertices a primitive.
    if (vertices == nullptr || vertexCount < 0 || static_cast<uint32_t>(vertexCount) != verticesPerPrimitive) {
        return false;
    }
    if (sort != 0 && !DepthInRange(depth)) {
        return false;
    }
    warp.Apply(vertices, vertexCount, depth);
    if (sort != 0) {
        SortedRecord& record = sortedPool[primitiveCount];
        std::memcpy(record.vertices, vertices, sizeof(OrvaVertex2D) * static_cast<size_t>(vertexCount));
        const int32_t bucket = static_cast<int32_t>(depth);
        record.bucket = static_cast<uint32_t>(bucket);
        ++depthCounts[bucket];
        lowestBucket = std::min(lowestBucket, bucket);
        highestBucket = std::max(highestBucket, bucket);
    } else {
        std::memcpy(&unsortedCopy[queuedBytes / kVertexStride], vertices,
                    sizeof(OrvaVertex2D) * static_cast<size_t>(vertexCount));
        queuedBytes += kVertexStride * static_cast<uint32_t>(vertexCount);
    }
    ++primitiveCount;
    return true;
}

void OrvaPrimitive::BuildVertex(const OrvaPrimitivePoint& point, float depth, OrvaVertex2D* out) const
{
    // Pixel centres lie half a pixel in from the engine's 2D coordinates.
    const float offset = OrvaTexture::GetPixelOffset();
    out->x = point.x + offset;
    out->y = point.y + offset;
    out->z = depth * kDepthToZ;
    out->rhw = 1.0f;
    out->color = point.color;
    // Without a texture the coordinates are never sampled.
    out->u = texture != nullptr ? point.u * texture->GetScaleU() : 0.0f;
    out->v = texture != nullptr ? point.v * texture->GetScaleV() : 0.0f;
}

bool OrvaPrimitive::AddQuad(const OrvaPrimitivePoint* points, float depth)
{
    if (points == nullptr || !DepthInRange(depth)) {
        return false;
    }
    OrvaVertex2D first[3];
    BuildVertex(points[0], depth, &first[0]);
    BuildVertex(points[1], depth, &first[1]);
    BuildVertex(points[2], depth, &first[2]);
    OrvaVertex2D second[3];
    BuildVertex(points[2], depth, &second[0]);
    BuildVertex(points[3], depth, &second[1]);
    BuildVertex(points[0], depth, &second[2]);
    AddPrimitive(first, depth, 3);
    AddPrimitive(second, depth, 3);
    return true;
}

bool OrvaPrimitive::AddTriangle(const OrvaPrimitivePoint* points, float depth)
{
    if (points == nullptr || !DepthInRange(depth)) {
        return false;
    }
    OrvaVertex2D v[3];
    for (int32_t i = 0; i < 3; ++i) {
        BuildVertex(points[i], depth, &v[i]);
    }
    AddPrimitive(v, depth, 3);
    return true;
}

bool OrvaPrimitive::AddLine(const OrvaPrimitivePoint* points, float depth)
{
    if (points == nullptr || !DepthInRange(depth)) {
        return false;
    }
    OrvaVertex2D v[2];
    BuildVertex(points[0], depth, &v[0]);
    BuildVertex(points[1], depth, &v[1]);
    AddPrimitive(v, depth, 2);
    return true;
}

bool OrvaPrimitive::AddPoint(const OrvaPrimitivePoint* points, float depth)
{
    if (points == nullptr || !DepthInRange(depth)) {
        return false;
    }
    OrvaVertex2D v;
    BuildVertex(points[0], depth, &v);
    AddPrimitive(&v, depth, 1);
    return true;
}

// ---- drawing ----------------------------------------------------------------

void OrvaPrimitive::FillVertexBuffer(int32_t k)
{
    if (vertexBuffer == nullptr || k < 0 || static_cast<uint32_t>(k) != verticesPerPrimitive) {
        return;
    }
    const size_t vertexBytes = sizeof(OrvaVertex2D) * static_cast<size_t>(k);
    if (sort == 0) {
        uint8_t* bits = nullptr;
        if (vertexBuffer->Lock(0, queuedBytes, &bits, platform::LockDiscard) != platform::kGfxOk) {
            return;
        }
        std::memcpy(bits, unsortedCopy.get(), queuedBytes);
        vertexBuffer->Unlock();
        return;
    }
    uint8_t* bits = nullptr;
    if (vertexBuffer->Lock(0, primitiveCount * static_cast<uint32_t>(k) * kVertexStride, &bits,
                           platform::LockDiscard) != platform::kGfxOk) {
        return;
    }
    // A counting sort, back to front and stable: within one depth the
    // primitives keep the order in which they were queued, so that the two
    // halves of a quad stay together. The counts become each bucket's first
    // place in the buffer...
    uint32_t place = 0;
    for (int32_t b = highestBucket; b >= lowestBucket; --b) {
        const uint32_t count = depthCounts[b];
        depthCounts[b] = place;
        place += count;
    }
    for (uint32_t i = 0; i < primitiveCount; ++i) {
        const SortedRecord& record = sortedPool[i];
        std::memcpy(bits + static_cast<size_t>(depthCounts[record.bucket]++) * vertexBytes, record.vertices,
                    vertexBytes);
    }
    // ...and, having moved to each bucket's end, the counts again: the
    // records stay, so that a second render without new adds draws the same
    // picture, as an unsorted batch does.
    uint32_t previousEnd = 0;
    for (int32_t b = highestBucket; b >= lowestBucket; --b) {
        const uint32_t end = depthCounts[b];
        depthCounts[b] = end - previousEnd;
        previousEnd = end;
    }
    vertexBuffer->Unlock();
}

void OrvaPrimitive::Draw()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    device->SetVertexShader(kVertexFormat);
    OrvaDevice::SetTexture(texture, 0);
    OrvaDevice::SetBlendMode(blend == kOrvaBlendSub ? static_cast<int32_t>(kOrvaBlendAdd) : blend);
    if (vertexBuffer == nullptr) {
        return;
    }
    device->SetStreamSource(0, vertexBuffer, kVertexStride);
    device->DrawPrimitive(PrimitiveType(verticesPerPrimitive), 0, primitiveCount);
    OrvaApplication::AddPolygonCount(static_cast<int32_t>(primitiveCount));
}

void OrvaPrimitive::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (primitiveCount == 0 || device == nullptr) {
        return;
    }
    FillVertexBuffer(static_cast<int32_t>(verticesPerPrimitive));

    // The clip rectangle becomes the viewport for the draw: pre-transformed
    // vertices are cut to the viewport by the device, and the Sub mode's
    // frame inversion then stays inside it too.
    platform::Viewport saved;
    bool viewportChanged = false;
    if (clip != 0) {
        device->GetViewport(&saved);
        const int32_t left = std::max(clipRect.left, static_cast<int32_t>(saved.x));
        const int32_t top = std::max(clipRect.top, static_cast<int32_t>(saved.y));
        const int32_t right = std::min(clipRect.right, static_cast<int32_t>(saved.x + saved.width));
        const int32_t bottom = std::min(clipRect.bottom, static_cast<int32_t>(saved.y + saved.height));
        if (left >= right || top >= bottom) {
            return;
        }
        platform::Viewport cut = saved;
        cut.x = static_cast<uint32_t>(left);
        cut.y = static_cast<uint32_t>(top);
        cut.width = static_cast<uint32_t>(right - left);
        cut.height = static_cast<uint32_t>(bottom - top);
        viewportChanged = device->SetViewport(cut) == platform::kGfxOk;
    }

    if (blend == kOrvaBlendSub) {
        OrvaEffect::Begin(kOrvaBlendSub);
        Draw();
        OrvaEffect::End();
    } else {
        Draw();
    }

    if (viewportChanged) {
        device->SetViewport(saved);
    }
}
