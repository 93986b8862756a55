#pragma once
// Batches of untransformed 3D points, lines and triangles (with quads and
// ribbons built from triangles), drawn with one draw call, one blend mode
// and the batch's own world matrix under the current camera's view and
// projection. The world matrix is built from a frame (right, up, front and
// a position) that turns and moves like a camera; UpdateTransform rebuilds
// it after the frame changed. Main thread only.
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "engine/render/axes.h"
#include "engine/render/batch.h"

class OrvaTexture;

// The untransformed vertex of 3D primitives and particles: position,
// ARGB colour, texture coordinates; vertex format 0x142, 24 bytes.
struct OrvaVertex3D {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    uint32_t color = 0;   // ARGB, alpha in the top byte
    float u = 0.0f;
    float v = 0.0f;
};
static_assert(sizeof(OrvaVertex3D) == 24, "OrvaVertex3D is the 24-byte vertex of format 0x142");

class OrvaPrimitive3D : public OrvaObject, public OrvaAxes, public OrvaBatchModule<OrvaPrimitive3D> {
public:
    static constexpr uint32_t kVertexFormat = 0x142;
    static constexpr uint32_t kVertexSize = sizeof(OrvaVertex3D);
    // The largest capacity in vertices a batch may ask for (a 96 MB buffer).
    static constexpr int64_t kMaxVertices = 4 * 1024 * 1024;

    // ---- module: Initialize, Destroy, OnLostDevice, OnResetDevice,
    // RenderAll and GetCount come from OrvaBatchModule.
    // Device loss drops every batch's vertex buffer; a reset makes new,
    // empty ones (the queued vertices reach them at the next render).
    static constexpr const char* kModuleName = "Primitive";
    static constexpr OrvaModule kModule = OrvaModule::Primitive3D;

    // ---- creation: capacity in primitives, blend an OrvaBlendMode. The
    // batch is returned also when its buffers could not be made (it then
    // holds nothing); null only when the object cannot be allocated.
    static OrvaPrimitive3D* CreatePoints(int32_t capacity, int32_t blend);
    static OrvaPrimitive3D* CreateLines(int32_t capacity, int32_t blend);
    static OrvaPrimitive3D* CreateTriangles(int32_t capacity, int32_t blend);
    static OrvaPrimitive3D* CreateTriangles2(int32_t capacity, int32_t blend);

    // ---- batch methods
    // Queues one primitive of vertexCount vertices, which must be the
    // batch's vertices per primitive; false when it is not or the batch is
    // full. Every vertex is moved by the 2D pixel offset in x and y, in the
    // caller's array, so that an orthographic camera of one unit per pixel
    // samples pixel centres as the 2D modules do.
    virtual bool AddPrimitive(OrvaVertex3D* vertices, int32_t vertexCount);
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    virtual void Clear();
    // Draws what is queued; the batch stays queued.
    virtual void Render();
    // Keeps a valid texture (one reference); a null or invalid one changes
    // nothing.
    virtual void SetTexture(OrvaTexture* texture);
    // A strip of quads along `count` points: mode 0 three crossed ribbons
    // (width in the XY, YZ and XZ planes), mode 1 two (YZ, XZ), mode 2 one
    // (XZ); others nothing. Point i has width widths[i] turned by
    // angles[i] and colour colours[i]; only x, y, z of the points are read.
    // source: left, top, right, bottom in image pixels (may be null without
    // a texture). Always true.
    virtual bool AddRibbon(int32_t mode, const OrvaVertex3D* points, const float* widths, const int32_t* angles,
                           const uint32_t* colors, const int32_t* source, int32_t count);
    // u, v of the given vertices are image pixels. Always true, whether or
    // not the batch had room. A quad is (q0, q1, q2) then (q2, q3, q0).
    virtual bool AddQuad(const OrvaVertex3D* quad);
    virtual bool AddTriangle(const OrvaVertex3D* triangle);
    virtual bool AddLine(const OrvaVertex3D* line);
    virtual bool AddPoint(const OrvaVertex3D* point);
    // Frame back to the axes and the origin; the world matrix stays.
    virtual void ResetTransform();
    // World matrix from the normalised frame.
    virtual void UpdateTransform();
    // Yaw, Pitch, Roll, RotateX, RotateY, RotateZ and Translate (OrvaAxes)
    // turn and move the frame.

    int32_t GetBlend() const { return blend; }
    uint32_t GetPrimitiveCount() const { return primitiveCount; }
    int32_t GetCapacity() const { return capacity; }   // primitives
    uint32_t GetVerticesPerPrimitive() const { return verticesPerPrimitive; }
    uint32_t GetQueuedBytes() const { return buffer.GetQueuedBytes(); }
    // The queued vertices, as they will be drawn.
    const OrvaVertex3D* GetVertices() const { return reinterpret_cast<const OrvaVertex3D*>(buffer.GetData()); }
    OrvaTexture* GetTexture() const { return texture; }
    bool HasVertexBuffer() const { return buffer.GetDeviceBuffer() != nullptr; }
    void GetWorld(OrvaMatrix* out) const;

    ~OrvaPrimitive3D() override;

private:
    OrvaPrimitive3D();
    static OrvaPrimitive3D* Create(int32_t capacity, int32_t blend, uint32_t verticesPerPrimitive,
                                   uint32_t primitiveType);
    uint32_t BufferBytes() const;
    // Queues a triangle of copies; the copies take the pixel offset.
    void QueueTriangle(const OrvaVertex3D& a, const OrvaVertex3D& b, const OrvaVertex3D& c);
    // The copy of a shape vertex with u, v turned into texture coordinates.
    OrvaVertex3D ShapeVertex(const OrvaVertex3D& v) const;

    OrvaTexture* texture = nullptr;
    int32_t blend = 0;
    uint32_t primitiveCount = 0;
    int32_t capacity = 0;                 // primitives
    uint32_t verticesPerPrimitive = 0;    // 1, 2 or 3
    uint32_t primitiveType = 0;           // the device's point, line or triangle list
    OrvaBatchBuffer buffer;
    // front, up, right and position come from OrvaAxes.
    OrvaMatrix world{};
};
