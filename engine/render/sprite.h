#pragma once
// 2D sprite batches: textured, coloured triangles in screen pixels, with up
// to four texture stages and one blend mode, drawn with one draw call per
// batch. On the way in a triangle may be pulled towards a vanishing point by
// its depth, scaled about a zoom centre, clipped to a rectangle and sorted
// into one of 65,536 depth buckets (a larger depth is farther and drawn
// earlier). The quad operations turn rectangles and corner lists into two
// triangles each. Main thread only; queueing is not reentrant.
#include <cstdint>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "engine/render/batch.h"

class OrvaTexture;
namespace platform {
class SoftVertexBuffer;
}

// One vertex as it is handed to a batch, whatever the batch's stage count:
// thirteen 32-bit words. Only the first 5 + 2 x stages words reach the
// device.
struct OrvaSpriteVertex {
    float x = 0.0f;     // pixels
    float y = 0.0f;     // pixels
    float z = 0.0f;     // depth / 65536
    float rhw = 1.0f;
    uint32_t color = 0;  // ARGB
    float uv[4][2] = {};  // (u, v) of stages 0 to 3
};
static_assert(sizeof(OrvaSpriteVertex) == 13 * 4, "a sprite vertex is thirteen words");

// One queued triangle of a sorting batch and the next one of its depth.
struct OrvaSpritePolygon {
    OrvaSpriteVertex vertices[3];
    OrvaSpritePolygon* next = nullptr;
};

// Integer point in pixels.
struct OrvaPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Float rectangle: left and top inside, right and bottom one past, in pixels
// or texels.
class OrvaRectF {
public:
    OrvaRectF() = default;
    OrvaRectF(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
    float GetLeft() const { return left; }
    float GetTop() const { return top; }
    float GetRight() const { return right; }
    float GetBottom() const { return bottom; }
    float GetWidth() const { return right - left; }
    float GetHeight() const { return bottom - top; }

private:
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
};

// Float point in pixels.
class OrvaPointF {
public:
    OrvaPointF() = default;
    OrvaPointF(float px, float py) : x(px), y(py) {}
    float GetX() const { return x; }
    float GetY() const { return y; }

private:
    float x = 0.0f;
    float y = 0.0f;
};

class OrvaSprite : public OrvaObject, public OrvaBatchModule<OrvaSprite> {
public:
    static constexpr int32_t kMaxStages = 4;
    static constexpr int32_t kDepthBuckets = 65536;
    static constexpr float kMaxDepth = 65535.0f;
    // Keeps every byte count of a batch inside 32 bits (and well inside the
    // device's limit for one vertex buffer).
    static constexpr int32_t kMaxQuads = 1 << 18;
    // Triangles one queued triangle can become when clipped to a rectangle
    // (a triangle cut by four edges has at most seven corners).
    static constexpr int32_t kMaxClipTriangles = 5;

    // ---- module: Initialize, Destroy, OnLostDevice, OnResetDevice,
    // RenderAll and GetCount come from OrvaBatchModule.
    // Device loss and reset drop and re-create every vertex buffer.
    static constexpr const char* kModuleName = "Sprite";
    static constexpr OrvaModule kModule = OrvaModule::Sprite;

    // ---- creation: returns the batch also when a later step failed (an
    // impossible size gives a batch that takes nothing); null only when the
    // object itself cannot be made. The progress callback is not called.
    static OrvaSprite* Create(int32_t quads, int32_t stages, int32_t blend, OrvaProgress progress);

    // ---- methods
    // Queues three vertices at a depth. The vertices are changed in place
    // (perspective, zoom and pixel offset). 1 when queued; 0 when refused
    // (full, wholly clipped away, a depth outside 0 to 65535 while sorting,
    // or positions that are not finite numbers).
    virtual uint32_t AddTriangle(OrvaSpriteVertex* vertices, float depth);
    // Writes the queue into the vertex buffer (done by Render).
    virtual void FillVertexBuffer();
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    // Holds the texture (with a reference) for the stage when it is valid;
    // otherwise the stage is left empty. Stages 0 to 3.
    virtual void SetTexture(OrvaTexture* texture, int32_t stage);

    // The quad operations. Each queues triangles (0, 1, 2) and (2, 3, 0) of
    // corners numbered top-left, top-right, bottom-right, bottom-left, with
    // the source rectangle of every stage below stageCount that has a
    // texture shrunk by the texel offset on each side. Four-colour forms take
    // colours in corner order. They return 0 (queueing nothing) for a depth
    // outside 0 to 65535, a stageCount outside 0 to 4 or a missing array,
    // else 1 whatever the queue took.
    virtual uint32_t DrawRectFGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                       const uint32_t* colors, int32_t stageCount);
    virtual uint32_t DrawRectF(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                               int32_t stageCount);
    virtual uint32_t DrawRectGradient(const OrvaRect& dst, float depth, const OrvaRect* src, const uint32_t* colors,
                                      int32_t stageCount);
    virtual uint32_t DrawRect(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                              int32_t stageCount);
    // Turned in the screen plane by angle (65536 a full turn, clockwise on
    // the screen) about (left + pivotX, top + pivotY).
    virtual uint32_t DrawRectFRotateGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                             const uint32_t* colors, int32_t angle, float pivotX, float pivotY,
                                             int32_t stageCount);
    virtual uint32_t DrawRectFRotate(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                                     int32_t angle, float pivotX, float pivotY, int32_t stageCount);
    virtual uint32_t DrawRectRotateGradient(const OrvaRect& dst, float depth, const OrvaRect* src,
                                            const uint32_t* colors, int32_t angle, int32_t pivotX, int32_t pivotY,
                                            int32_t stageCount);
    virtual uint32_t DrawRectRotate(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                                    int32_t angle, int32_t pivotX, int32_t pivotY, int32_t stageCount);
    // Turned in space about its centre (a2 about X, then a1 about Y, then
    // a3 about Z) and projected from a focal distance of four half sizes.
    virtual uint32_t DrawRectFRotate3DGradient(const OrvaRectF& dst, float depth, const OrvaRectF* src,
                                               const uint32_t* colors, int32_t a1, int32_t a2, int32_t a3,
                                               int32_t stageCount);
    virtual uint32_t DrawRectFRotate3D(const OrvaRectF& dst, float depth, const OrvaRectF* src, uint32_t color,
                                       int32_t a1, int32_t a2, int32_t a3, int32_t stageCount);
    virtual uint32_t DrawRectRotate3DGradient(const OrvaRect& dst, float depth, const OrvaRect* src,
                                              const uint32_t* colors, int32_t a1, int32_t a2, int32_t a3,
                                              int32_t stageCount);
    virtual uint32_t DrawRectRotate3D(const OrvaRect& dst, float depth, const OrvaRect* src, uint32_t color,
                                      int32_t a1, int32_t a2, int32_t a3, int32_t stageCount);
    // Four corners in corner order.
    virtual uint32_t DrawQuadFGradient(const OrvaPointF* corners, float depth, const OrvaRectF* src,
                                       const uint32_t* colors, int32_t stageCount);
    virtual uint32_t DrawQuadF(const OrvaPointF* corners, float depth, const OrvaRectF* src, uint32_t color,
                               int32_t stageCount);
    virtual uint32_t DrawQuadGradient(const OrvaPoint* corners, float depth, const OrvaRect* src,
                                      const uint32_t* colors, int32_t stageCount);
    virtual uint32_t DrawQuad(const OrvaPoint* corners, float depth, const OrvaRect* src, uint32_t color,
                              int32_t stageCount);
    // A strip of quads through count centre points, each with its own
    // half-width, angle and colour; stage 0's source runs u across the strip
    // and v along it. Fewer than two points queue nothing.
    virtual uint32_t DrawRibbonF(const OrvaPointF* points, float depth, const float* halfWidths,
                                 const int32_t* angles, const uint32_t* colors, const OrvaRectF& src, int32_t count);
    virtual uint32_t DrawRibbon(const float* x, const float* y, float depth, const float* halfWidths,
                                const int32_t* angles, const uint32_t* colors, const OrvaRect& src, int32_t count);

    // Draws the queue (it stays queued until Clear).
    virtual void Render();
    // Pulls later triangles towards (vanishingX, vanishingY) by their depth:
    // positions scale by 1 / (1 + (depth - baseDepth) x depthFactor / 65536).
    virtual void SetPerspective(float vanishingX, float vanishingY, float baseDepth, float depthFactor);
    virtual void DisablePerspective();
    virtual void SetZoom(float centreX, float centreY, float scale);
    virtual void DisableZoom();
    // Switches depth sorting and empties the queue.
    virtual void SetSort(uint32_t on);
    // Clips later triangles to the rectangle (pixels); null stops clipping.
    virtual void SetClip(const OrvaRect* rect);
    virtual void Clear();

    uint32_t GetPolygonCount() const { return polygonCount; }
    uint32_t GetCapacity() const { return capacity; }   // triangles
    int32_t GetStageCount() const { return stageCount; }
    uint32_t GetVertexSize() const { return vertexSize; }  // bytes
    uint32_t GetFvf() const { return fvf; }
    int32_t GetBlendMode() const { return blendMode; }
    OrvaTexture* GetTexture(int32_t stage) const;
    bool HasVertexBuffer() const { return vertexBuffer != nullptr; }

    ~OrvaSprite() override;

private:
    OrvaSprite();
    // Appends one triangle to the queue; the caller has checked the room.
    void Queue(const OrvaSpriteVertex* vertices, int32_t bucket);
    bool IsFull(uint32_t triangles);
    // The six vertices of a quad: corners (x, y, rhw), colours in corner
    // order, (u, v) of every stage at every corner.
    uint32_t QueueQuad(const float (*corners)[3], float depth, const uint32_t* colors, const float (*uv)[4][2]);

    OrvaTexture* stageTexture[kMaxStages] = {};
    platform::SoftVertexBuffer* vertexBuffer = nullptr;
    int32_t blendMode = 0;
    uint32_t polygonCount = 0;   // triangles queued since the last Clear
    uint32_t capacity = 0;       // triangles
    int32_t stageCount = 0;
    uint32_t vertexSize = 20;    // bytes
    uint32_t fvf = 0x44;
    uint32_t queuedBytes = 0;    // bytes of vertexCopy in use (unsorted)
    OrvaBatchWarp warp;
    uint32_t sortOn = 0;
    uint32_t clipOn = 0;
    OrvaRect clipRect;           // pixels
    bool fullReported = false;   // the batch has logged running out of room
    // Buckets in use since the last Clear: [lowBucket, highBucket], empty
    // while lowBucket > highBucket.
    int32_t lowBucket = kDepthBuckets;
    int32_t highBucket = -1;
    // The last record queued at each depth; its next link closes the ring
    // back to the first, so a bucket is appended to and walked in queue
    // order.
    OrvaSpritePolygon* depthBucket[kDepthBuckets] = {};
    OrvaSpritePolygon* polygonPool = nullptr;   // capacity records
    uint8_t* vertexCopy = nullptr;              // capacity x 3 x vertexSize bytes
};
