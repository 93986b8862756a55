// Scene layers: the geometry's system copy and its device buffers.
#include "engine/render/scene_layer.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/render/scene_surface.h"
#include "platform/gfx/soft_device.h"

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
    uint8_t* bits = nullptr;
    if (vertexBuffer != nullptr && vertexBuffer->Lock(0, vertexBytes, &bits, 0) == platform::kGfxOk) {
        std::memcpy(bits, vertices.data(), vertexBytes);
        vertexBuffer->Unlock();
    }
    if (indexBuffer != nullptr && indexBuffer->Lock(0, indexBytes, &bits, 0) == platform::kGfxOk) {
        std::memcpy(bits, indices.data(), indexBytes);
        indexBuffer->Unlock();
    }
}
