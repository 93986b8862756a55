#include "engine/render/scene_layer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/render/scene_surface.h"
#include "platform/gfx/soft_device.h"

namespace {

constexpr float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};

uint32_t Tint(uint32_t color, int shift, float factor)
{
    const float v = static_cast<float>((color >> shift) & 0xFFu) * factor;
    const float held = v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v);
    // A non-number factor gives black rather than an undefined conversion.
    const uint32_t byte = held == held ? static_cast<uint32_t>(std::lround(held)) : 0u;
    return byte << shift;
}

}  // namespace

OrvaSceneLayer::~OrvaSceneLayer()
{
    surfaces.ReleaseAll();
    ReleaseBuffers();
}

bool OrvaSceneLayer::SetGeometry(const char* modelName, const OsfLayerHeader& header,
                                 const OrvaSceneVertex* sourceVertices, int32_t sourceVertexCount,
                                 const uint16_t* sourceIndices, int32_t sourceIndexCount)
{
    std::snprintf(name, sizeof name, "%s", modelName != nullptr ? modelName : "");
    std::memcpy(boxMin, header.boxMin, sizeof boxMin);
    std::memcpy(boxMax, header.boxMax, sizeof boxMax);
    vertexSize = kVertexSize;
    vertexCount = 0;
    indexCount = 0;
    try {
        vertices.assign(sourceVertices, sourceVertices + (sourceVertexCount > 0 ? sourceVertexCount : 0));
        indices.assign(sourceIndices, sourceIndices + (sourceIndexCount > 0 ? sourceIndexCount : 0));
    } catch (const std::bad_alloc&) {
        vertices.clear();
        indices.clear();
        OrvaDebug::Log("ERROR : レイヤーのメモリを確保できません [%s]\n", name);
        return false;
    }
    vertexCount = static_cast<int32_t>(vertices.size());
    indexCount = static_cast<int32_t>(indices.size());
    return true;
}

void OrvaSceneLayer::AddSurface(OrvaSceneSurface* surface)
{
    if (surface != nullptr) {
        surfaces.PushBack(surface);
    }
}

void OrvaSceneLayer::ReleaseBuffers()
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

void OrvaSceneLayer::CreateBuffers()
{
    ReleaseBuffers();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    // An empty layer has nothing to draw and needs no buffers.
    if (device == nullptr || vertexCount <= 0 || indexCount <= 0) {
        return;
    }
    const uint32_t pool = OrvaDevice::IsSoftwareVertexProcessing() ? platform::PoolSystemMem : platform::PoolDefault;
    const uint32_t vertexBytes = static_cast<uint32_t>(vertexCount) * static_cast<uint32_t>(vertexSize);
    const uint32_t indexBytes = static_cast<uint32_t>(indexCount) * 2u;
    platform::GfxResult r = device->CreateVertexBuffer(vertexBytes, platform::UsageWriteOnly, 0, pool, &vertexBuffer);
    if (r != platform::kGfxOk) {
        vertexBuffer = nullptr;
        OrvaDebug::Log("エラー : 頂点バッファの作成に失敗 [%s]\n", OrvaDevice::GetErrorString(r));
    }
    r = device->CreateIndexBuffer(indexBytes, platform::UsageWriteOnly, platform::FormatIndex16, pool, &indexBuffer);
    if (r != platform::kGfxOk) {
        indexBuffer = nullptr;
        OrvaDebug::Log("エラー : インデックスバッファの作成に失敗 [%s]\n", OrvaDevice::GetErrorString(r));
    }
    WriteVertices(kWhite);
    uint8_t* bits = nullptr;
    if (indexBuffer != nullptr && indexBuffer->Lock(0, indexBytes, &bits, 0) == platform::kGfxOk) {
        std::memcpy(bits, indices.data(), indexBytes);
        indexBuffer->Unlock();
    }
}

void OrvaSceneLayer::ApplyColor(const float* rgba)
{
    if (std::memcmp(rgba, bufferColor, sizeof bufferColor) != 0) {
        WriteVertices(rgba);
    }
}

void OrvaSceneLayer::WriteVertices(const float* rgba)
{
    uint8_t* bits = nullptr;
    const uint32_t bytes = static_cast<uint32_t>(vertices.size() * sizeof(OrvaSceneVertex));
    if (vertexBuffer == nullptr || vertexBuffer->Lock(0, bytes, &bits, 0) != platform::kGfxOk) {
        return;
    }
    const bool white = std::memcmp(rgba, kWhite, sizeof kWhite) == 0;
    for (size_t i = 0; i < vertices.size(); ++i) {
        OrvaSceneVertex v = vertices[i];
        if (!white) {
            v.color = Tint(v.color, 24, rgba[3]) | Tint(v.color, 16, rgba[0]) | Tint(v.color, 8, rgba[1]) |
                      Tint(v.color, 0, rgba[2]);
        }
        std::memcpy(bits + i * sizeof v, &v, sizeof v);
    }
    vertexBuffer->Unlock();
    std::memcpy(bufferColor, rgba, sizeof bufferColor);
}
