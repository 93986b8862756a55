#pragma once
// A layer of a scene: the triangles of one layer of a model, with their
// surfaces, a system-memory copy of the geometry and the device buffers
// made from it (again after a device reset, with no file access). Main
// thread only.
#include <cstdint>
#include <vector>

#include "engine/core/object.h"
#include "engine/render/osf.h"

class OrvaSceneSurface;
namespace platform {
class SoftVertexBuffer;
class SoftIndexBuffer;
}  // namespace platform

class OrvaSceneLayer : public OrvaObject {
public:
    static constexpr int32_t kVertexSize = static_cast<int32_t>(sizeof(OrvaSceneVertex));

    OrvaSceneLayer() = default;
    // Releases the surfaces and both buffers.
    ~OrvaSceneLayer() override;

    // Name (the model's), box and geometry; false when the copies cannot be
    // allocated (the layer then holds no geometry).
    bool SetGeometry(const char* modelName, const OsfLayerHeader& header, const OrvaSceneVertex* sourceVertices,
                     int32_t sourceVertexCount, const uint16_t* sourceIndices, int32_t sourceIndexCount);
    // Takes the surface into the layer's list.
    void AddSurface(OrvaSceneSurface* surface);

    // Makes both device buffers anew from the system copies. A buffer that
    // cannot be made stays null, and the layer is not drawn.
    void CreateBuffers();
    void ReleaseBuffers();

    const char* GetName() const { return name; }
    const OrvaObjectList& GetSurfaces() const { return surfaces; }
    const float* GetBoxMin() const { return boxMin; }
    const float* GetBoxMax() const { return boxMax; }
    int32_t GetVertexCount() const { return vertexCount; }
    int32_t GetIndexCount() const { return indexCount; }
    const OrvaSceneVertex* GetVertices() const { return vertices.data(); }
    const uint16_t* GetIndices() const { return indices.data(); }
    platform::SoftVertexBuffer* GetVertexBuffer() const { return vertexBuffer; }
    platform::SoftIndexBuffer* GetIndexBuffer() const { return indexBuffer; }
    bool HasBuffers() const { return vertexBuffer != nullptr && indexBuffer != nullptr; }

private:
    char name[64] = {};
    OrvaObjectList surfaces;
    platform::SoftVertexBuffer* vertexBuffer = nullptr;
    platform::SoftIndexBuffer* indexBuffer = nullptr;
    std::vector<OrvaSceneVertex> vertices;   // the system copies
    std::vector<uint16_t> indices;
    float boxMin[3] = {};
    float boxMax[3] = {};
    int32_t vertexSize = kVertexSize;
    int32_t vertexCount = 0;
    int32_t indexCount = 0;
};
