#pragma once
// Particle batches: textured, coloured rectangles centred on 3D points and
// turned to face the eye of the current camera (billboards), optionally
// rotated in their own plane. The billboard is worked out when a particle
// is queued, so apply the camera first, and clear and refill the batch when
// the camera or the particles move. A batch draws with one draw call, one
// blend mode and the identity world matrix. Main thread only.
#include <cstdint>

#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "engine/render/batch.h"
#include "engine/render/primitive3d.h"

class OrvaTexture;

class OrvaParticle : public OrvaObject, public OrvaBatchModule<OrvaParticle> {
public:
    static constexpr uint32_t kVertexFormat = 0x142;
    static constexpr uint32_t kVertexSize = sizeof(OrvaVertex3D);
    // The most particles a batch may ask for (a 96 MB buffer).
    static constexpr int64_t kMaxParticles = 1024 * 1024 * 2 / 3;

    // ---- module: Initialize, Destroy, OnLostDevice, OnResetDevice,
    // RenderAll and GetCount come from OrvaBatchModule.
    static constexpr const char* kModuleName = "Perticle";
    static constexpr OrvaModule kModule = OrvaModule::Particle;

    // ---- creation: room for `particles` particles (two triangles each).
    // Returned also when its buffers could not be made (it then holds
    // nothing); null only when the object cannot be allocated.
    static OrvaParticle* Create(int32_t particles, int32_t blend);

    // ---- batch methods
    // Queues one triangle as given (world positions); false when full.
    virtual bool AddTriangle(const OrvaVertex3D* vertices);
    // Turns four corner offsets (x right, y up, z along the view) into world
    // positions around `position`, facing the eye of the camera applied
    // last. False, with the corners untouched, when the position is the eye
    // itself (there is no direction to face).
    virtual bool Billboard(OrvaVector* corners, const OrvaVector& position);
    virtual void InvalidateDeviceObjects();
    virtual void RestoreDeviceObjects();
    // Keeps a valid texture (one reference); null or an invalid texture
    // leaves the batch without one.
    virtual void SetTexture(OrvaTexture* texture);
    // A particle of width x height world units at (x, y, z) showing the
    // source rectangle (left, top, right, bottom, image pixels; may be null
    // without a texture). Always true, also when the batch is full.
    virtual bool AddParticle(float x, float y, float z, float width, float height, const int32_t* source,
                             uint32_t color);
    // The same, turned by `angle` (OrvaAngle, low 16 bits) in its plane.
    virtual bool AddRotatedParticle(float x, float y, float z, float width, float height, const int32_t* source,
                                    uint32_t color, int32_t angle);
    virtual void Clear();
    // Draws what is queued; the batch stays queued.
    virtual void Render();

    int32_t GetBlend() const { return blend; }
    uint32_t GetTriangleCount() const { return triangleCount; }
    uint32_t GetCapacity() const { return capacity; }   // triangles
    uint32_t GetQueuedBytes() const { return buffer.GetQueuedBytes(); }
    const OrvaVertex3D* GetVertices() const { return reinterpret_cast<const OrvaVertex3D*>(buffer.GetData()); }
    OrvaTexture* GetTexture() const { return texture; }
    bool HasVertexBuffer() const { return buffer.GetDeviceBuffer() != nullptr; }

    ~OrvaParticle() override;

private:
    OrvaParticle() = default;
    uint32_t BufferBytes() const;
    bool Queue(float x, float y, float z, float width, float height, const int32_t* source, uint32_t color,
               bool rotated, int32_t angle);

    OrvaTexture* texture = nullptr;
    int32_t blend = 0;
    uint32_t triangleCount = 0;
    uint32_t capacity = 0;              // triangles
    uint32_t vertexSize = kVertexSize;
    uint32_t vertexFormat = kVertexFormat;
    OrvaBatchBuffer buffer;
};
