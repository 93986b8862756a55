// Sprite batches: triangles queued with perspective, zoom, clipping and
// depth sorting, the quad operations, and drawing in one call.
#include "engine/render/sprite.h"

#include <cmath>
#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/matrix.h"
#include "engine/core/texture.h"
#include "engine/core/vector.h"
#include "engine/render/batch.h"

namespace {

// One triangle as the clipper reads it, and its pieces as it writes them.
uint32_t g_clipIn[3 * OrvaGraphics::kClipVertexWords];
uint32_t g_clipWords[OrvaSprite::kMaxClipTriangles * 3 * OrvaGraphics::kClipVertexWords];
OrvaSpriteVertex g_clipped[OrvaSprite::kMaxClipTriangles * 3];

constexpr float kDepthToZ = 1.52587890625e-05f;            // 1 / 65536

// Source rectangle in texels as floats, whichever form it was given in.
struct SourceRect {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
};

SourceRect ToSource(const OrvaRect& r)
{
    return {static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right),
            static_cast<float>(r.bottom)};
}

SourceRect ToSource(const OrvaRectF& r)
{
    return {r.GetLeft(), r.GetTop(), r.GetRight(), r.GetBottom()};
}

// (u, v) of the four corners for one stage: the source shrunk by the texel
// offset on every side, so that edge texels are sampled at their centres.
void CornerUv(const SourceRect& s, const OrvaTexture* texture, float texel, float (*uv)[4][2], int32_t stage)
{
    const float su = texture->GetScaleU();
    const float sv = texture->GetScaleV();
    const float uL = (s.left + texel) * su;
    const float vT = (s.top + texel) * sv;
    const float uR = (s.right - texel) * su;
    const float vB = (s.bottom - texel) * sv;
    uv[0][stage][0] = uL;
    uv[0][stage][1] = vT;
    uv[1][stage][0] = uR;
    uv[1][stage][1] = vT;
    uv[2][stage][0] = uR;
    uv[2][stage][1] = vB;
    uv[3][stage][0] = uL;
    uv[3][stage][1] = vB;
}

bool DepthInRange(float depth)
{
    // Written so that a non-number fails too.
    return depth >= 0.0f && depth <= OrvaSprite::kMaxDepth;
}

bool StageCountInRange(int32_t stageCount)
{
    return stageCount >= 0 && stageCount <= OrvaSprite::kMaxStages;
}

void RectCorners(const SourceRect& r, float (*c)[3])
{
    const float xs[4] = {r.left, r.right, r.right, r.left};
    const float ys[4] = {r.top, r.top, r.bottom, r.bottom};
    for (int32_t k = 0; k < 4; ++k) {
        c[k][0] = xs[k];
        c[k][1] = ys[k];
        c[k][2] = 1.0f;
    }
}

// Corners turned about the pivot in the screen plane.
void RotatedCorners(const SourceRect& r, float pivotX, float pivotY, int32_t angle, float (*c)[3])
{
    RectCorners(r, c);
    for (int32_t k = 0; k < 4; ++k) {
        float x = c[k][0] - pivotX;
        float y = c[k][1] - pivotY;
        OrvaMath::RotatePoint(x, y, angle);
        c[k][0] = pivotX + x;
        c[k][1] = pivotY + y;
    }
}

// Corners turned in space about the centre and projected with the focal
// distance d = 4 x the larger half size; rhw carries the depth of each.
void ProjectedCorners(float left, float top, float hw, float hh, int32_t a1, int32_t a2, int32_t a3,
                      float (*c)[3])
{
    // Made once: the matrix object is reused by every call.
    static OrvaMatrix rotation;
    rotation.RotationEuler(a2, a1, a3);
    const float d = 4.0f * (hw > hh ? hw : hh);
    const float cx = left + hw;
    const float cy = top + hh;
    const float rx[4] = {-hw, hw, hw, -hw};
    const float ry[4] = {-hh, -hh, hh, hh};
    for (int32_t k = 0; k < 4; ++k) {
        OrvaVector p;
        p.TransformCoord(OrvaVector(rx[k], ry[k], 0.0f), rotation);
        const float w = p.z + d;
        c[k][0] = d * p.x / w + cx;
        c[k][1] = d * p.y / w + cy;
        c[k][2] = 1.0f / (w / d);
    }
}

bool IsFinite(const OrvaSpriteVertex& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y);
}

}  // namespace

// ---------------------------------------------------------------------------
// Module

OrvaSprite* OrvaSprite::Create(int32_t quads, int32_t stages, int32_t blend, OrvaProgress)
{
    OrvaSprite* s = new (std::nothrow) OrvaSprite();
    if (s == nullptr) {
        OrvaDebug::Log("エラー : スプライトを作成するメモリが足りません\n");
        return nullptr;
    }
    OrvaDebug::Log("○ CreateSprite  / ID [0x%08X] / ", OrvaBatch::Address(s));
    List().PushFront(s);
    s->blendMode = blend;
    if (quads <= 0 || quads > kMaxQuads || !StageCountInRange(stages)) {
        // No row of the vertex table fits, or the byte counts would not fit
        // in 32 bits: the batch exists but takes nothing.
        OrvaDebug::Log("エラー : スプライトの大きさが範囲外です [Quad %d / Stage %d]\n", quads, stages);
        return s;
    }
    s->stageCount = stages;
    s->vertexSize = 20u + 8u * static_cast<uint32_t>(stages);
    s->fvf = 0x44u + 0x100u * static_cast<uint32_t>(stages);
    s->capacity = 2u * static_cast<uint32_t>(quads);

    s->polygonPool = new (std::nothrow) OrvaSpritePolygon[s->capacity];
    s->vertexCopy = new (std::nothrow) uint8_t[static_cast<size_t>(s->capacity) * 3u * s->vertexSize];
    bool memoryShort = false;
    if (s->polygonPool == nullptr || s->vertexCopy == nullptr) {
        delete[] s->polygonPool;
        delete[] s->vertexCopy;
        s->polygonPool = nullptr;
        s->vertexCopy = nullptr;
        s->capacity = 0;
        memoryShort = true;
    }
    platform::GfxResult made = platform::kGfxOk;
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (s->capacity > 0) {
        made = device != nullptr ? device->CreateVertexBuffer(s->capacity * s->vertexSize * 3u,
                                                              platform::UsageWriteOnly | platform::UsageDynamic,
                                                              s->fvf, platform::PoolDefault, &s->vertexBuffer)
                                 : platform::kGfxInvalidCall;
    }

    OrvaBatch::LogBlendName(blend);
    const uint32_t kilobytes = static_cast<uint32_t>(
        (sizeof(OrvaSprite) + static_cast<size_t>(s->capacity) * (3u * s->vertexSize + sizeof(OrvaSpritePolygon))) /
        1024u);
    OrvaBatch::LogCreated(static_cast<int32_t>(s->capacity), s->capacity * 3u, kilobytes,
                                s->capacity * s->vertexSize * 3u);
    if (memoryShort) {
        OrvaDebug::Log("エラー : スプライトのバッファを確保できません [Quad %d]\n", quads);
    } else if (made != platform::kGfxOk) {
        OrvaDebug::Log("エラー : スプライトの頂点バッファを作成できません [%s]\n", OrvaDevice::GetErrorString(made));
    }
    return s;
}

// ---------------------------------------------------------------------------
// Object

OrvaSprite::OrvaSprite() = default;

OrvaSprite::~OrvaSprite()
{
    OrvaBatch::LogReleased("Sprite ", this, capacity * vertexSize * 3u);
    delete[] vertexCopy;
    vertexCopy = nullptr;
    delete[] polygonPool;
    polygonPool = nullptr;
    for (OrvaTexture*& t : stageTexture) {
        if (t != nullptr) {
            t->Release();
            t = nullptr;
        }
    }
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaSprite::InvalidateDeviceObjects()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaSprite::RestoreDeviceObjects()
{
    InvalidateDeviceObjects();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (capacity == 0 || device == nullptr) {
        return;
    }
    const platform::GfxResult r =
        device->CreateVertexBuffer(capacity * vertexSize * 3u, platform::UsageWriteOnly | platform::UsageDynamic, fvf,
                                   platform::PoolDefault, &vertexBuffer);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : スプライトの頂点バッファを作成できません [%s]\n", OrvaDevice::GetErrorString(r));
    }
}

void OrvaSprite::SetTexture(OrvaTexture* texture, int32_t stage)
{
    if (stage < 0 || stage >= kMaxStages) {
        OrvaDebug::Log("エラー : スプライトのステージが範囲外です [%d]\n", stage);
        return;
    }
    if (stageTexture[stage] != nullptr) {
        stageTexture[stage]->Release();
        stageTexture[stage] = nullptr;
    }
    if (texture != nullptr && texture->IsValid() != 0) {
        stageTexture[stage] = texture;
        texture->AddRef();
    }
}

OrvaTexture* OrvaSprite::GetTexture(int32_t stage) const
{
    return (stage >= 0 && stage < kMaxStages) ? stageTexture[stage] : nullptr;
}

void OrvaSprite::SetPerspective(float x, float y, float base, float factor)
{
    warp.SetPerspective(x, y, base, factor);
}

void OrvaSprite::DisablePerspective()
{
    warp.DisablePerspective();
}

void OrvaSprite::SetZoom(float centreX, float centreY, float scale)
{
    warp.SetZoom(centreX, centreY, scale);
}

void OrvaSprite::DisableZoom()
{
    warp.DisableZoom();
}

void OrvaSprite::SetSort(uint32_t on)
{
    sortOn = on;
    Clear();
}

void OrvaSprite::SetClip(const OrvaRect* rect)
{
    if (rect != nullptr) {
        clipRect = *rect;
        clipOn = 1;
    } else {
        clipRect = OrvaRect{};
        clipOn = 0;
    }
}

void OrvaSprite::Clear()
{
    for (int32_t b = lowBucket; b <= highBucket; ++b) {
        depthBucket[b] = nullptr;
    }
    lowBucket = kDepthBuckets;
    highBucket = -1;
    polygonCount = 0;
    queuedBytes = 0;
}

// ---------------------------------------------------------------------------
// Queue

bool OrvaSprite::IsFull(uint32_t triangles)
{
    if (triangles <= capacity - polygonCount) {
        return false;
    }
    // Once per batch: the quad operations go on silently, so the log is the
    // only place that tells the batch is too small.
    if (!fullReported && capacity > 0) {
        fullReported = true;
        OrvaDebug::Log("エラー : スプライトが一杯です / ID [0x%08X] / MaxPolygon %u\n", OrvaBatch::Address(this), capacity);
    }
    return true;
}

void OrvaSprite::Queue(const OrvaSpriteVertex* v, int32_t bucket)
{
    if (sortOn != 0) {
        OrvaSpritePolygon& record = polygonPool[polygonCount];
        std::memcpy(record.vertices, v, sizeof record.vertices);
        OrvaSpritePolygon*& last = depthBucket[bucket];
        if (last == nullptr) {
            record.next = &record;
        } else {
            record.next = last->next;
            last->next = &record;
        }
        last = &record;
        if (bucket < lowBucket) {
            lowBucket = bucket;
        }
        if (bucket > highBucket) {
            highBucket = bucket;
        }
    } else {
        uint8_t* out = vertexCopy + queuedBytes;
        for (int32_t k = 0; k < 3; ++k) {
            std::memcpy(out + k * vertexSize, &v[k], vertexSize);
        }
        queuedBytes += 3u * vertexSize;
    }
    ++polygonCount;
}

uint32_t OrvaSprite::AddTriangle(OrvaSpriteVertex* v, float depth)
{
    if (v == nullptr) {
        return 0;
    }
    // The bucket index must stay inside the table.
    if (sortOn != 0 && !DepthInRange(depth)) {
        return 0;
    }
    const float pixel = OrvaTexture::GetPixelOffset();
    warp.Apply(v, 3, depth);
    for (int32_t k = 0; k < 3; ++k) {
        v[k].x += pixel;
        v[k].y += pixel;
    }
    // A perspective divide by zero or an overflowing zoom gives positions
    // the clipper and the rasterizer cannot take.
    if (!IsFinite(v[0]) || !IsFinite(v[1]) || !IsFinite(v[2])) {
        return 0;
    }
    const int32_t bucket = sortOn != 0 ? static_cast<int32_t>(depth) : 0;

    if (clipOn == 0) {
        if (IsFull(1)) {
            return 0;
        }
        Queue(v, bucket);
        return 1;
    }

    std::memcpy(g_clipIn, v, sizeof g_clipIn);
    const int32_t n = OrvaGraphics::ClipPolygon(g_clipIn, g_clipWords, clipRect, 3);
    if (n <= 0) {
        return 0;
    }
    std::memcpy(g_clipped, g_clipWords, static_cast<size_t>(n) * 3 * sizeof(OrvaSpriteVertex));
    if (sortOn == 0) {
        // All pieces or none: a half-drawn triangle would look like a fault.
        if (IsFull(static_cast<uint32_t>(n))) {
            return 0;
        }
        for (int32_t t = 0; t < n; ++t) {
            Queue(&g_clipped[t * 3], bucket);
        }
        return 1;
    }
    for (int32_t t = 0; t < n; ++t) {
        if (IsFull(1)) {
            return 0;
        }
        Queue(&g_clipped[t * 3], bucket);
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Drawing

void OrvaSprite::FillVertexBuffer()
{
    if (vertexBuffer == nullptr) {
        return;
    }
    uint8_t* out = nullptr;
    if (vertexBuffer->Lock(0, queuedBytes, &out, platform::LockDiscard) != platform::kGfxOk) {
        return;
    }
    if (sortOn == 0) {
        std::memcpy(out, vertexCopy, queuedBytes);
    } else {
        // Far to near; within one depth in the order of queueing. The
        // buckets stay filled, so a second Render (also after a reset)
        // draws the same picture.
        for (int32_t b = highBucket; b >= lowBucket; --b) {
            const OrvaSpritePolygon* last = depthBucket[b];
            if (last == nullptr) {
                continue;
            }
            const OrvaSpritePolygon* record = last->next;
            for (;;) {
                for (int32_t k = 0; k < 3; ++k) {
                    std::memcpy(out, &record->vertices[k], vertexSize);
                    out += vertexSize;
                }
                if (record == last) {
                    break;
                }
                record = record->next;
            }
        }
    }
    vertexBuffer->Unlock();
}

void OrvaSprite::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // Without a vertex buffer (creation or the last reset failed) there is
    // nothing to draw from.
    if (polygonCount == 0 || vertexBuffer == nullptr || device == nullptr) {
        return;
    }
    FillVertexBuffer();
    const bool sub = blendMode == kOrvaBlendSub;
    if (sub) {
        OrvaEffect::Begin(kOrvaBlendSub);
    }
    device->SetVertexShader(fvf);
    for (int32_t stage = 0; stage < kMaxStages; ++stage) {
        // Stages the batch has no coordinates for are unbound as well: a
        // texture left there by an earlier batch would tint this one.
        OrvaDevice::SetTexture(stage < stageCount ? stageTexture[stage] : nullptr, stage);
    }
    OrvaDevice::SetBlendMode(sub ? kOrvaBlendAdd : blendMode);
    device->SetStreamSource(0, vertexBuffer, vertexSize);
    device->DrawPrimitive(platform::PrimTriangleList, 0, polygonCount);
    OrvaApplication::AddPolygonCount(static_cast<int32_t>(polygonCount));
    if (sub) {
        OrvaEffect::End();
    }
}

// ---------------------------------------------------------------------------
// Quads

uint32_t OrvaSprite::QueueQuad(const float (*c)[3], float depth, const uint32_t* colors, const float (*uv)[4][2])
{
    const float z = depth * kDepthToZ;
    static const int32_t kOrder[6] = {0, 1, 2, 2, 3, 0};
    OrvaSpriteVertex v[6];
    for (int32_t i = 0; i < 6; ++i) {
        const int32_t k = kOrder[i];
        v[i].x = c[k][0];
        v[i].y = c[k][1];
        v[i].z = z;
        v[i].rhw = c[k][2];
        v[i].color = colors[k];
        std::memcpy(v[i].uv, uv[k], sizeof v[i].uv);
    }
    AddTriangle(&v[0], depth);
    AddTriangle(&v[3], depth);
    return 1;
}

namespace {

// Checks shared by the quad forms and the coordinates of every stage below
// stageCount that has a texture; the others stay 0.
template <typename Rect>
bool PrepareQuad(float depth, const Rect* src, int32_t stageCount, OrvaTexture* const* textures, float (*uv)[4][2])
{
    if (!DepthInRange(depth) || !StageCountInRange(stageCount) || (stageCount > 0 && src == nullptr)) {
        return false;
    }
    const float texel = OrvaTexture::GetTexelOffset();
    for (int32_t s = 0; s < stageCount; ++s) {
        if (textures[s] != nullptr) {
            CornerUv(ToSource(src[s]), textures[s], texel, uv, s);
        }
    }
    return true;
}

}  // namespace

uint32_t OrvaSprite::DrawRectFGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                       const uint32_t* colors, int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    float c[4][3];
    RectCorners(ToSource(dst), c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRectF(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                               int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectFGradient(dst, depth, src, colors, stageCount);
}

uint32_t OrvaSprite::DrawRectGradient(const OrvaRect& dst, float depth, const OrvaRect* src, const uint32_t* colors,
                                      int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    float c[4][3];
    RectCorners(ToSource(dst), c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRect(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                              int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectGradient(dst, depth, src, colors, stageCount);
}

uint32_t OrvaSprite::DrawRectFRotateGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                             const uint32_t* colors, int32_t angle, float pivotX, float pivotY,
                                             int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    float c[4][3];
    RotatedCorners(ToSource(dst), dst.GetLeft() + pivotX, dst.GetTop() + pivotY, angle, c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRectFRotate(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                                     int32_t angle, float pivotX, float pivotY, int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectFRotateGradient(dst, depth, src, colors, angle, pivotX, pivotY, stageCount);
}

uint32_t OrvaSprite::DrawRectRotateGradient(const OrvaRect& dst, float depth, const OrvaRect* src,
                                            const uint32_t* colors, int32_t angle, int32_t pivotX, int32_t pivotY,
                                            int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    // The pivot is summed in integers (in 64 bits, so that no sum overflows).
    const float px = static_cast<float>(static_cast<int64_t>(dst.left) + pivotX);
    const float py = static_cast<float>(static_cast<int64_t>(dst.top) + pivotY);
    float c[4][3];
    RotatedCorners(ToSource(dst), px, py, angle, c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRectRotate(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                                    int32_t angle, int32_t pivotX, int32_t pivotY, int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectRotateGradient(dst, depth, src, colors, angle, pivotX, pivotY, stageCount);
}

uint32_t OrvaSprite::DrawRectFRotate3DGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                               const uint32_t* colors, int32_t a1, int32_t a2, int32_t a3,
                                               int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    const float hw = dst.GetWidth() * 0.5f;
    const float hh = dst.GetHeight() * 0.5f;
    // No focal distance for a rectangle without size: nothing to draw.
    if (!(hw > 0.0f || hh > 0.0f)) {
        return 1;
    }
    float c[4][3];
    ProjectedCorners(dst.GetLeft(), dst.GetTop(), hw, hh, a1, a2, a3, c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRectFRotate3D(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                                       int32_t a1, int32_t a2, int32_t a3, int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectFRotate3DGradient(dst, depth, src, colors, a1, a2, a3, stageCount);
}

uint32_t OrvaSprite::DrawRectRotate3DGradient(const OrvaRect& dst, float depth, const OrvaRect* src,
                                              const uint32_t* colors, int32_t a1, int32_t a2, int32_t a3,
                                              int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    // Truncating halves: an odd size loses its last pixel.
    const float hw = static_cast<float>((static_cast<int64_t>(dst.right) - dst.left) / 2);
    const float hh = static_cast<float>((static_cast<int64_t>(dst.bottom) - dst.top) / 2);
    if (!(hw > 0.0f || hh > 0.0f)) {
        return 1;
    }
    float c[4][3];
    ProjectedCorners(static_cast<float>(dst.left), static_cast<float>(dst.top), hw, hh, a1, a2, a3, c);
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawRectRotate3D(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                                      int32_t a1, int32_t a2, int32_t a3, int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawRectRotate3DGradient(dst, depth, src, colors, a1, a2, a3, stageCount);
}

uint32_t OrvaSprite::DrawQuadFGradient(const OrvaPointF* corners, float depth, const OrvaRectF* src,
                                       const uint32_t* colors, int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (corners == nullptr || colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    float c[4][3];
    for (int32_t k = 0; k < 4; ++k) {
        c[k][0] = corners[k].GetX();
        c[k][1] = corners[k].GetY();
        c[k][2] = 1.0f;
    }
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawQuadF(const OrvaPointF* corners, float depth, const OrvaRectF* src, uint32_t color,
                               int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawQuadFGradient(corners, depth, src, colors, stageCount);
}

uint32_t OrvaSprite::DrawQuadGradient(const OrvaPoint* corners, float depth, const OrvaRect* src,
                                      const uint32_t* colors, int32_t stageCount)
{
    float uv[4][4][2] = {};
    if (corners == nullptr || colors == nullptr || !PrepareQuad(depth, src, stageCount, stageTexture, uv)) {
        return 0;
    }
    float c[4][3];
    for (int32_t k = 0; k < 4; ++k) {
        c[k][0] = static_cast<float>(corners[k].x);
        c[k][1] = static_cast<float>(corners[k].y);
        c[k][2] = 1.0f;
    }
    return QueueQuad(c, depth, colors, uv);
}

uint32_t OrvaSprite::DrawQuad(const OrvaPoint* corners, float depth, const OrvaRect* src, uint32_t color,
                              int32_t stageCount)
{
    const uint32_t colors[4] = {color, color, color, color};
    return OrvaSprite::DrawQuadGradient(corners, depth, src, colors, stageCount);
}

namespace {

// One ribbon through count centre points; x and y are read through the
// caller's accessors so that both point forms share the walk.
template <typename PointAt>
void QueueRibbon(OrvaSprite* sprite, PointAt pointAt, float depth, const float* halfWidths, const int32_t* angles,
                 const uint32_t* colors, const SourceRect& src, const OrvaTexture* texture, int32_t count)
{
    float uL = 0.0f, vT = 0.0f, uR = 0.0f, vB = 0.0f;
    if (texture != nullptr) {
        float uv[4][4][2] = {};
        CornerUv(src, texture, OrvaTexture::GetTexelOffset(), uv, 0);
        uL = uv[0][0][0];
        vT = uv[0][0][1];
        uR = uv[2][0][0];
        vB = uv[2][0][1];
    }
    const float z = depth * kDepthToZ;
    const float steps = static_cast<float>(count - 1);
    for (int32_t i = 0; i + 1 < count; ++i) {
        float ax = 0.0f, ay = 0.0f, bx = 0.0f, by = 0.0f;
        pointAt(i, ax, ay);
        pointAt(i + 1, bx, by);
        float rax = 0.0f, ray = halfWidths[i];
        OrvaMath::RotatePoint(rax, ray, angles[i]);
        float rbx = 0.0f, rby = halfWidths[i + 1];
        OrvaMath::RotatePoint(rbx, rby, angles[i + 1]);
        const float va = static_cast<float>(i) * (vB - vT) / steps + vT;
        const float vb = static_cast<float>(i + 1) * (vB - vT) / steps + vT;
        auto make = [&](float x, float y, float u, float v, uint32_t color) {
            OrvaSpriteVertex out;
            out.x = x;
            out.y = y;
            out.z = z;
            out.rhw = 1.0f;
            out.color = color;
            out.uv[0][0] = u;
            out.uv[0][1] = v;
            return out;
        };
        const OrvaSpriteVertex aMinus = make(ax - rax, ay - ray, uL, va, colors[i]);
        const OrvaSpriteVertex aPlus = make(ax + rax, ay + ray, uR, va, colors[i]);
        const OrvaSpriteVertex bMinus = make(bx - rbx, by - rby, uL, vb, colors[i + 1]);
        const OrvaSpriteVertex bPlus = make(bx + rbx, by + rby, uR, vb, colors[i + 1]);
        OrvaSpriteVertex first[3] = {aMinus, aPlus, bMinus};
        OrvaSpriteVertex second[3] = {bMinus, bPlus, aPlus};
        sprite->AddTriangle(first, depth);
        sprite->AddTriangle(second, depth);
    }
}

}  // namespace

uint32_t OrvaSprite::DrawRibbonF(const OrvaPointF* points, float depth, const float* halfWidths,
                                 const int32_t* angles, const uint32_t* colors, const OrvaRectF& src, int32_t count)
{
    if (!DepthInRange(depth)) {
        return 0;
    }
    if (count < 2) {
        return 1;
    }
    if (points == nullptr || halfWidths == nullptr || angles == nullptr || colors == nullptr) {
        return 0;
    }
    auto pointAt = [points](int32_t i, float& x, float& y) {
        x = points[i].GetX();
        y = points[i].GetY();
    };
    QueueRibbon(this, pointAt, depth, halfWidths, angles, colors, ToSource(src), stageTexture[0], count);
    return 1;
}

uint32_t OrvaSprite::DrawRibbon(const float* x, const float* y, float depth, const float* halfWidths,
                                const int32_t* angles, const uint32_t* colors, const OrvaRect& src, int32_t count)
{
    if (!DepthInRange(depth)) {
        return 0;
    }
    if (count < 2) {
        return 1;
    }
    if (x == nullptr || y == nullptr || halfWidths == nullptr || angles == nullptr || colors == nullptr) {
        return 0;
    }
    auto pointAt = [x, y](int32_t i, float& px, float& py) {
        px = x[i];
        py = y[i];
    };
    QueueRibbon(this, pointAt, depth, halfWidths, angles, colors, ToSource(src), stageTexture[0], count);
    return 1;
}
