#pragma once
// 2D primitive batches: screen-space points, lines or triangles queued with
// a depth, a colour and texture coordinates, drawn with one draw call in one
// blend mode. Positions may pass through a perspective and a zoom as they
// are queued; a batch may draw back to front by depth. Main thread only.
#include <cstdint>
#include <memory>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "engine/render/batch.h"

class OrvaTexture;
namespace platform {
class SoftVertexBuffer;
}

// The pre-transformed vertex of the 2D modules (format 0x144, 28 bytes).
struct OrvaVertex2D {
    float x = 0.0f;      // screen pixels
    float y = 0.0f;      // screen pixels
    float z = 0.0f;      // depth / 65536: 0 front, just below 1 back
    float rhw = 1.0f;
    uint32_t color = 0;  // ARGB
    float u = 0.0f;      // 0 to 1 across the texture
    float v = 0.0f;
};
static_assert(sizeof(OrvaVertex2D) == 28, "OrvaVertex2D is the device's 28-byte vertex");

// What the shape adders take: u and v in pixels of the texture's image.
struct OrvaPrimitivePoint {
    float x = 0.0f;
    float y = 0.0f;
    uint32_t color = 0;  // ARGB
    float u = 0.0f;      // image pixels
    float v = 0.0f;      // image pixels
};

class OrvaPrimitive : public OrvaObject, public OrvaBatchModule<OrvaPrimitive> {
public:
    static constexpr uint32_t kVertexFormat = 0x144;   // XYZRHW | DIFFUSE | TEX1
    static constexpr uint32_t kVertexStride = 28;      // bytes
    static constexpr int32_t kDepthBuckets = 65536;
    static constexpr float kMaxDepth = 65535.0f;
    // The most primitives one batch takes: its vertex bytes and sorted
    // records stay within 32-bit sizes.
    static constexpr int32_t kMaxCapacity = 0x7FFFFFFF / (3 * 88);

    // ---- module: Initialize, Destroy, OnLostDevice, OnResetDevice,
    // RenderAll and GetCount come from OrvaBatchModule.
    static constexpr const char* kModuleName = "Primitive";
    static constexpr OrvaModule kModule = OrvaModule::Primitive2D;

    // ---- creation: capacity in primitives, blend an OrvaBlendMode. The
    // batch is returned also when its memory cannot be had (it then takes
    // nothing); null only when the object itself cannot be made.
    static OrvaPrimitive* CreatePoints(int32_t capacity, int32_t blend);
    static OrvaPrimitive* CreateLines(int32_t capacity, int32_t blend);
    static OrvaPrimitive* CreateTriangles(int32_t capacity, int32_t blend);
    static OrvaPrimitive* CreateTriangles2(int32_t capacity, int32_t blend);

    // ---- methods
    // Queues one primitive of exactly the batch's vertices per primitive;
    // moves the caller's vertices by the perspective and zoom in place.
    // False when the batch is full, the count is wrong, or (sorted) the
    // depth lies outside 0 to 65535.
    virtual bool AddPrimitive(OrvaVertex2D* vertices, float depth, int32_t vertexCount);
    // Copies the queued vertices into the vertex buffer; sorted, greater
    // depth first and, within one depth bucket, in the order queued.
    virtual void FillVertexBuffer(int32_t verticesPerPrimitive);
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    // Holds a valid texture with a reference; null or invalid changes nothing.
    virtual void SetTexture(OrvaTexture* texture);
    // Draws everything queued; the queue stays until Clear.
    virtual void Render();
    virtual void SetPerspective(float vanishX, float vanishY, float z0, float k);
    virtual void DisablePerspective();
    virtual void SetZoom(float centreX, float centreY, float scale);
    virtual void DisableZoom();
    // The shape adders: false (nothing queued) when depth lies outside 0 to
    // 65535; otherwise true, also when the batch had no room. A quad becomes
    // (p0, p1, p2) and (p2, p3, p0).
    virtual bool AddQuad(const OrvaPrimitivePoint* points, float depth);
    virtual bool AddTriangle(const OrvaPrimitivePoint* points, float depth);
    virtual bool AddLine(const OrvaPrimitivePoint* points, float depth);
    virtual bool AddPoint(const OrvaPrimitivePoint* points, float depth);
    // Switches depth sorting and empties the queue.
    virtual void SetSort(uint32_t on);
    virtual void Clear();
    // Drawing is cut to the rectangle while one is set; null removes it.
    virtual void SetClip(const OrvaRect* rect);

    uint32_t GetPrimitiveCount() const { return primitiveCount; }
    int32_t GetCapacity() const { return capacity; }
    int32_t GetBlend() const { return blend; }
    uint32_t GetVerticesPerPrimitive() const { return verticesPerPrimitive; }
    uint32_t GetQueuedBytes() const { return queuedBytes; }
    bool IsSorted() const { return sort != 0; }
    bool IsClipped() const { return clip != 0; }
    OrvaRect GetClip() const { return clipRect; }
    OrvaTexture* GetTexture() const { return texture; }
    bool HasVertexBuffer() const { return vertexBuffer != nullptr; }

    ~OrvaPrimitive() override;

private:
    // One queued primitive of a sorted batch, in queueing order, with the
    // depth bucket it is drawn in.
    struct SortedRecord {
        OrvaVertex2D vertices[3];
        uint32_t bucket = 0;
    };
    static_assert(sizeof(SortedRecord) == 88, "a sorted record is three vertices and a bucket");

    OrvaPrimitive();
    static OrvaPrimitive* Create(int32_t capacity, int32_t blend, uint32_t verticesPerPrimitive);
    uint32_t VertexCapacity() const { return static_cast<uint32_t>(capacity) * verticesPerPrimitive; }
    void BuildVertex(const OrvaPrimitivePoint& point, float depth, OrvaVertex2D* out) const;
    void Draw();

    OrvaTexture* texture = nullptr;                       // held with a reference
    platform::SoftVertexBuffer* vertexBuffer = nullptr;   // null while the device is lost
    int32_t blend = 0;
    uint32_t primitiveCount = 0;
    int32_t capacity = 0;                                 // primitives
    uint32_t queuedBytes = 0;                             // of the unsorted copy
    uint32_t verticesPerPrimitive = 0;                    // 1, 2 or 3
    OrvaBatchWarp warp;
    uint32_t sort = 0;
    uint32_t clip = 0;
    OrvaRect clipRect;
    // Records queued in each depth bucket.
    uint32_t depthCounts[kDepthBuckets] = {};
    // The buckets that may hold records, so that a fill and a clear visit
    // only those.
    int32_t lowestBucket = kDepthBuckets;
    int32_t highestBucket = -1;
    std::unique_ptr<SortedRecord[]> sortedPool;
    std::unique_ptr<OrvaVertex2D[]> unsortedCopy;
};
