#pragma once
// What the drawing-batch modules (sprites, list sprites, 2D and 3D
// primitives, particles) share: OrvaBatchModule, the module operations of
// each and its list of live batches; OrvaBatch, the creation and release
// lines of their log; OrvaBatchBuffer, the vertex storage of a 3D batch.
// Main thread only.
#include <cstdint>
#include <memory>

#include "engine/core/application.h"
#include "engine/core/object.h"

namespace platform {
class SoftVertexBuffer;
}

class OrvaBatch {
public:
    // A module's start: the "Initialize <name>" banner, its list emptied
    // and its device-loss and device-reset walkers registered. True.
    static bool StartModule(OrvaObjectList* list, const char* name, void (*onLost)(), void (*onReset)());
    // A module's stop: the "Destroy <name>" banner and every batch of the
    // list released.
    static void StopModule(OrvaObjectList* list, const char* name);

    // The batch's address as the log lines print it.
    static uint32_t Address(const void* object);
    // The blend mode's name ("None Blend / " to "Revease Blend / "); nothing
    // for a value outside 0 to 7.
    static void LogBlendName(int32_t blend);
    // The last part of a creation line: "MaxPolygon %d / MaxVertex %u / %u
    // KByteUse / Complete!\n", with " [VRAM %.3lfMB]" before the line end
    // after `vramBytes` were counted as video memory when the device
    // processes vertices in hardware.
    static void LogCreated(int32_t maxPolygon, uint32_t maxVertex, uint32_t kilobytes, uint32_t vramBytes);
    // "● Release<name> / ID [0x%08X]\n", or with " / [VRAM %.3lfMB]" after
    // `vramBytes` were taken off the count (hardware vertex processing).
    static void LogReleased(const char* name, const void* object, uint32_t vramBytes);
};

// The module operations of the batch class T, which names its log banner
// in kModuleName, its slot of the application's module lists in kModule,
// and has the virtual InvalidateDeviceObjects, RestoreDeviceObjects and
// Render. The list holds the live batches, newest first when T's creators
// push at the front.
template <typename T>
class OrvaBatchModule {
public:
    // Empties the list and registers the device-loss and device-reset
    // walkers; logs the module's banner. True.
    static bool Initialize()
    {
        return OrvaBatch::StartModule(&List(), T::kModuleName, &OnLostDevice, &OnResetDevice);
    }
    // Releases every batch still alive; logs the module's banner.
    static void Destroy() { OrvaBatch::StopModule(&List(), T::kModuleName); }
    // The device-loss and device-reset walkers over every batch.
    static void OnLostDevice() { List().ForEach(&T::InvalidateDeviceObjects); }
    static void OnResetDevice() { List().ForEach(&T::RestoreDeviceObjects); }
    // Render on every batch from the head of the list.
    static void RenderAll() { List().ForEach(&T::Render); }
    static int32_t GetCount() { return List().GetCount(); }

protected:
    static OrvaObjectList& List() { return OrvaModuleList<T::kModule>(); }
};

// The perspective and zoom of the 2D batches (sprites and 2D primitives):
// queued positions are pulled toward a vanishing point by their depth,
// scale 1 / (1 + (depth - baseDepth) x depthFactor / 65536), then scaled
// about the zoom centre; pixels.
class OrvaBatchWarp {
public:
    void SetPerspective(float x, float y, float base, float factor)
    {
        vanishX = x;
        vanishY = y;
        baseDepth = base;
        depthFactor = factor;
        perspectiveOn = true;
    }
    void DisablePerspective() { perspectiveOn = false; }
    void SetZoom(float x, float y, float scale)
    {
        zoomX = x;
        zoomY = y;
        zoomScale = scale;
        zoomOn = true;
    }
    void DisableZoom() { zoomOn = false; }

    // Moves x and y of the vertices in place for a primitive at `depth`.
    template <typename Vertex>
    void Apply(Vertex* v, int32_t count, float depth) const
    {
        if (perspectiveOn) {
            const float s = 1.0f / (((depth - baseDepth) * depthFactor + 65536.0f) * (1.0f / 65536.0f));
            for (int32_t k = 0; k < count; ++k) {
                v[k].x = vanishX + (v[k].x - vanishX) * s;
                v[k].y = vanishY + (v[k].y - vanishY) * s;
            }
        }
        if (zoomOn) {
            for (int32_t k = 0; k < count; ++k) {
                v[k].x = zoomX + (v[k].x - zoomX) * zoomScale;
                v[k].y = zoomY + (v[k].y - zoomY) * zoomScale;
            }
        }
    }

private:
    float vanishX = 0.0f;
    float vanishY = 0.0f;
    float baseDepth = 0.0f;     // the depth at which nothing moves
    float depthFactor = 0.0f;
    bool perspectiveOn = false;
    float zoomX = 0.0f;
    float zoomY = 0.0f;
    float zoomScale = 1.0f;
    bool zoomOn = false;
};

// The vertices a 3D batch queues: a copy in system memory taken at creation
// in whole 4096-byte pages, and a dynamic, write-only vertex buffer in the
// device's default pool that each render refills with one discard lock.
class OrvaBatchBuffer {
public:
    OrvaBatchBuffer() = default;
    // Releases the device buffer.
    ~OrvaBatchBuffer();
    OrvaBatchBuffer(const OrvaBatchBuffer&) = delete;
    OrvaBatchBuffer& operator=(const OrvaBatchBuffer&) = delete;

    // Takes `bytes` of system memory, rounded up to whole pages; false, with
    // "エラー : メモリの確保に失敗 [%u Byte] / " logged, when it cannot be had.
    bool Reserve(uint32_t bytes);
    void FreeMemory();
    // A new device buffer of `bytes` for the vertex format, in place of the
    // old one; none for 0 bytes or without a device, and none, with the
    // failure logged, when the device refuses.
    void CreateDeviceBuffer(uint32_t bytes, uint32_t format);
    void ReleaseDeviceBuffer();

    // Appends to the queue; the caller has checked the room.
    void Append(const void* vertices, uint32_t bytes);
    void Clear() { queuedBytes = 0; }
    // Copies the queue into the device buffer; a failed lock copies nothing.
    void Upload();

    const uint8_t* GetData() const { return systemCopy.get(); }
    uint32_t GetQueuedBytes() const { return queuedBytes; }
    platform::SoftVertexBuffer* GetDeviceBuffer() const { return vertexBuffer; }

private:
    std::unique_ptr<uint8_t[]> systemCopy;
    platform::SoftVertexBuffer* vertexBuffer = nullptr;
    uint32_t queuedBytes = 0;
};
