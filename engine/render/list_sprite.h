#pragma once
// List sprites: a batch of strips, each a triangle strip through a fixed
// number of centre points. Every point has its own position, depth,
// half-width, angle and colour, so a strip can bend along a path and change
// width and colour on the way; one texture is stretched along it, u across
// the strip and v along it. Strips are written straight into the vertex
// buffer as they are added and drawn one draw call per strip. Main thread
// only; AddStrip is not reentrant.
#include <cstdint>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "engine/render/batch.h"

class OrvaTexture;
namespace platform {
class SoftVertexBuffer;
}

class OrvaListSprite : public OrvaObject, public OrvaBatchModule<OrvaListSprite> {
public:
    // Keeps the vertex buffer's byte count inside 31 bits.
    static constexpr int64_t kMaxBytes = 0x7FFFFFFF;
    static constexpr uint32_t kVertexSize = 28;   // bytes: x, y, z, rhw, colour, u, v
    static constexpr uint32_t kFvf = 0x144;

    // ---- module: Initialize, Destroy, OnLostDevice, OnResetDevice,
    // RenderAll and GetCount come from OrvaBatchModule.
    // A lost device takes the written strips with it: the batch is empty
    // after a reset.
    static constexpr const char* kModuleName = "ListSprite";
    static constexpr OrvaModule kModule = OrvaModule::ListSprite;

    // ---- creation: items strips of points centre points each (points >= 2).
    // Returns the batch also when a later step failed (an impossible size
    // gives a batch that takes nothing); null only when the object itself
    // cannot be made. progress, when given, is called twice with 0.
    static OrvaListSprite* Create(int32_t items, int32_t points, int32_t blend, OrvaProgress progress);

    // ---- methods
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    // Holds the texture (with a reference) when it is valid; else none.
    virtual void SetTexture(OrvaTexture* texture);
    // Adds one strip; every array has GetPointCount() entries: centre x, y
    // (pixels), z (stored as given), half-width (pixels), angle (65536 a full
    // turn) and ARGB colour; source in texels. 1 when added; 0 when the batch
    // is full, an array is missing or the vertex buffer cannot be written.
    virtual uint32_t AddStrip(const float* x, const float* y, const float* z, const float* halfWidth,
                              const int32_t* angle, const uint32_t* color, const OrvaRect& source);
    // Draws every strip added since the last Clear (they stay added).
    virtual void Render();
    virtual void Clear();

    int32_t GetItemCount() const { return itemCount; }
    int32_t GetItemCapacity() const { return itemCapacity; }
    int32_t GetPointCount() const { return pointCount; }
    int32_t GetBlendMode() const { return blendMode; }
    OrvaTexture* GetTexture() const { return texture; }
    bool HasVertexBuffer() const { return vertexBuffer != nullptr; }

    ~OrvaListSprite() override;

private:
    OrvaListSprite();

    OrvaTexture* texture = nullptr;
    platform::SoftVertexBuffer* vertexBuffer = nullptr;
    int32_t blendMode = 0;
    int32_t itemCount = 0;       // strips added since the last Clear
    int32_t itemCapacity = 0;    // strips
    int32_t pointCount = 0;      // centre points per strip
    int32_t stripVertices = 0;   // 2 x pointCount
    uint32_t queuedBytes = 0;    // bytes of the vertex buffer written since the last Clear
    uint32_t vertexSize = kVertexSize;
    uint32_t fvf = kFvf;
};
