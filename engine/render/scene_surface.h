#pragma once
// One surface of a scene layer: a run of the layer's triangles drawn with
// one texture and one set of depth and cull states. Main thread only.
#include <cstdint>

#include "engine/core/object.h"

class OrvaTexture;

class OrvaSceneSurface : public OrvaObject {
public:
    // texture: not held (the scene's texture entry owns it).
    OrvaSceneSurface(int32_t first, int32_t count, OrvaTexture* surfaceTexture)
        : firstIndex(first), indexCount(count), texture(surfaceTexture)
    {
    }
    ~OrvaSceneSurface() override;

    const char* GetName() const { return name; }
    int32_t IsDoubleSided() const { return doubleSided; }
    int32_t GetZWrite() const { return zWrite; }
    int32_t GetZEnable() const { return zEnable; }
    OrvaTexture* GetTexture() const { return texture; }
    int32_t GetFirstIndex() const { return firstIndex; }
    int32_t GetIndexCount() const { return indexCount; }

private:
    char name[64] = {};
    // Render flags of the surface; files carry none, so they keep these.
    int32_t doubleSided = 0;
    int32_t zWrite = 1;
    int32_t zEnable = 1;
    int32_t firstIndex = 0;   // into the layer's index list
    int32_t indexCount = 0;   // triangles = indexCount / 3
    OrvaTexture* texture = nullptr;
};
