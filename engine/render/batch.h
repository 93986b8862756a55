#pragma once
// What the drawing-batch modules (sprites, list sprites, 2D and 3D
// primitives, particles) share: OrvaBatch, their module start and stop and
// the creation and release lines of their log; OrvaBatchBuffer, the vertex
// storage of a 3D batch. Main thread only.
#include <cstdint>
#include <memory>

class OrvaObjectList;
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
