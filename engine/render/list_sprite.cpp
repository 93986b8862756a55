// List sprites: strips of quads through centre points, written into one
// vertex buffer and drawn strip by strip.
#include "engine/render/list_sprite.h"

#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "engine/render/batch.h"

namespace {

// The device's pre-transformed, coloured, one-stage vertex.
struct StripVertex {
    float x = 0.0f;    // pixels
    float y = 0.0f;    // pixels
    float z = 0.0f;
    float rhw = 1.0f;
    uint32_t color = 0;
    float u = 0.0f;
    float v = 0.0f;
};
static_assert(sizeof(StripVertex) == OrvaListSprite::kVertexSize, "strip vertex layout");

}  // namespace

// ---------------------------------------------------------------------------
// Module

OrvaListSprite* OrvaListSprite::Create(int32_t items, int32_t points, int32_t blend, OrvaProgress progress)
{
    OrvaListSprite* s = new (std::nothrow) OrvaListSprite();
    if (s == nullptr) {
        OrvaDebug::Log("エラー : リストスプライトを作成するメモリが足りません\n");
        return nullptr;
    }
    OrvaDebug::Log("○ CreateListSprite / ID [0x%08X] / ", OrvaBatch::Address(s));
    List().PushFront(s);
    s->blendMode = blend;
    // One point makes no triangle (and a division by zero for v); the byte
    // count must fit the buffer's 32-bit length.
    const int64_t bytes = static_cast<int64_t>(items) * 2 * points * kVertexSize;
    if (items <= 0 || points < 2 || bytes > kMaxBytes) {
        OrvaDebug::Log("エラー : リストスプライトの大きさが範囲外です [Item %d / Point %d]\n", items, points);
        return s;
    }
    s->itemCapacity = items;
    s->pointCount = points;
    s->stripVertices = 2 * points;
    if (progress != nullptr) {
        progress(0);
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const platform::GfxResult made =
        device != nullptr ? device->CreateVertexBuffer(static_cast<uint32_t>(bytes),
                                                       platform::UsageWriteOnly | platform::UsageDynamic, kFvf,
                                                       platform::PoolDefault, &s->vertexBuffer)
                          : platform::kGfxInvalidCall;
    if (progress != nullptr) {
        progress(0);
    }
    OrvaBatch::LogBlendName(blend);
    const uint32_t vertices = static_cast<uint32_t>(items) * 2u * static_cast<uint32_t>(points);
    OrvaDebug::Log("MaxPolygon %u / MaxVertex %u / %u ByteUse / Complete!\n",
                   (2u * static_cast<uint32_t>(points) - 2u) * static_cast<uint32_t>(items), vertices,
                   kVertexSize * vertices);
    if (made != platform::kGfxOk) {
        OrvaDebug::Log("エラー : リストスプライトの頂点バッファを作成できません [%s]\n",
                       OrvaDevice::GetErrorString(made));
    }
    return s;
}

// ---------------------------------------------------------------------------
// Object

OrvaListSprite::OrvaListSprite() = default;

OrvaListSprite::~OrvaListSprite()
{
    OrvaDebug::Log("● ReleaseSprite  / ID [0x%08X]\n", OrvaBatch::Address(this));
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaListSprite::InvalidateDeviceObjects()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
    // The strips lived only in the buffer: counting them on would draw a
    // new, empty buffer as if it held them.
    itemCount = 0;
    queuedBytes = 0;
}

void OrvaListSprite::RestoreDeviceObjects()
{
    InvalidateDeviceObjects();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (itemCapacity == 0 || device == nullptr) {
        return;
    }
    const uint32_t bytes = vertexSize * static_cast<uint32_t>(stripVertices) * static_cast<uint32_t>(itemCapacity);
    const platform::GfxResult r = device->CreateVertexBuffer(
        bytes, platform::UsageWriteOnly | platform::UsageDynamic, fvf, platform::PoolDefault, &vertexBuffer);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : リストスプライトの頂点バッファを作成できません [%s]\n",
                       OrvaDevice::GetErrorString(r));
    }
}

void OrvaListSprite::SetTexture(OrvaTexture* newTexture)
{
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
    if (newTexture != nullptr && newTexture->IsValid() != 0) {
        texture = newTexture;
        texture->AddRef();
    }
}

void OrvaListSprite::Clear()
{
    itemCount = 0;
    queuedBytes = 0;
}

uint32_t OrvaListSprite::AddStrip(const float* x, const float* y, const float* z, const float* halfWidth,
                                  const int32_t* angle, const uint32_t* color, const OrvaRect& source)
{
    if (itemCount >= itemCapacity) {
        return 0;
    }
    if (x == nullptr || y == nullptr || z == nullptr || halfWidth == nullptr || angle == nullptr ||
        color == nullptr) {
        return 0;
    }
    if (vertexBuffer == nullptr) {
        return 0;
    }
    const float texel = OrvaTexture::GetTexelOffset();
    const float pixel = OrvaTexture::GetPixelOffset();
    float uL = 0.0f, vT = 0.0f, uR = 0.0f, vB = 0.0f;
    if (texture != nullptr) {
        const float su = texture->GetScaleU();
        const float sv = texture->GetScaleV();
        uL = (static_cast<float>(source.left) + texel) * su;
        vT = (static_cast<float>(source.top) + texel) * sv;
        uR = (static_cast<float>(source.right) - texel) * su;
        vB = (static_cast<float>(source.bottom) - texel) * sv;
    }
    const uint32_t stripBytes = vertexSize * static_cast<uint32_t>(stripVertices);
    uint8_t* out = nullptr;
    // Each strip writes only its own range; the ranges of the strips added
    // before stay as the draws recorded them.
    if (vertexBuffer->Lock(queuedBytes, stripBytes, &out, platform::LockNoOverwrite) != platform::kGfxOk) {
        OrvaDebug::Log("エラー : リストスプライトの頂点バッファをロックできません\n");
        return 0;
    }
    float v = vT;
    const float dv = (vB - vT) * (1.0f / static_cast<float>(pointCount - 1));
    for (int32_t i = 0; i < pointCount; ++i) {
        float rx = 0.0f;
        float ry = halfWidth[i];
        OrvaMath::RotatePoint(rx, ry, angle[i]);
        StripVertex pair[2];
        pair[0].x = x[i] - rx + pixel;
        pair[0].y = y[i] - ry + pixel;
        pair[0].z = z[i];
        pair[0].color = color[i];
        pair[0].u = uL;
        pair[0].v = v;
        pair[1].x = rx + x[i] + pixel;
        pair[1].y = ry + y[i] + pixel;
        pair[1].z = z[i];
        pair[1].color = color[i];
        pair[1].u = uR;
        pair[1].v = v;
        std::memcpy(out + static_cast<size_t>(i) * 2u * vertexSize, pair, sizeof pair);
        v = v + dv;
    }
    queuedBytes += stripBytes;
    ++itemCount;
    vertexBuffer->Unlock();
    return 1;
}

void OrvaListSprite::Render()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (itemCount == 0 || vertexBuffer == nullptr || device == nullptr) {
        return;
    }
    const bool sub = blendMode == kOrvaBlendSub;
    if (sub) {
        OrvaEffect::Begin(kOrvaBlendSub);
    }
    device->SetVertexShader(fvf);
    OrvaDevice::SetTexture(texture, 0);
    // A texture left on a later stage by another batch would tint the strips.
    for (int32_t stage = 1; stage < OrvaDevice::kStageCount; ++stage) {
        OrvaDevice::SetTexture(nullptr, stage);
    }
    OrvaDevice::SetBlendMode(sub ? kOrvaBlendAdd : blendMode);
    device->SetStreamSource(0, vertexBuffer, vertexSize);
    const uint32_t triangles = static_cast<uint32_t>(stripVertices - 2);
    for (int32_t k = 0; k < itemCount; ++k) {
        device->DrawPrimitive(platform::PrimTriangleStrip, static_cast<uint32_t>(k * stripVertices), triangles);
        OrvaApplication::AddPolygonCount(static_cast<int32_t>(triangles));
    }
    if (sub) {
        OrvaEffect::End();
    }
}
