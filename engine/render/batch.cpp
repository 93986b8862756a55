// The module start and stop, log lines and vertex storage the drawing
// batches share.
#include "engine/render/batch.h"

#include <cstring>
#include <new>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "platform/gfx/soft_device.h"

namespace {

constexpr uint32_t kPageBytes = 4096;
constexpr double kBytesToMegabytes = 1.0 / 1048576.0;
constexpr const char* kBlendNames[8] = {"None Blend / ",  "Normal Blend / ", "Add Blend / ",    "Sub Blend / ",
                                        "Mul Blend / ",   "OneOne Blend / ", "Bright Blend / ", "Revease Blend / "};

uint32_t RoundToPages(uint32_t bytes)
{
    return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
}

}  // namespace

OrvaBatchBuffer::~OrvaBatchBuffer()
{
    ReleaseDeviceBuffer();
}

bool OrvaBatchBuffer::Reserve(uint32_t bytes)
{
    systemCopy.reset(new (std::nothrow) uint8_t[RoundToPages(bytes)]);
    queuedBytes = 0;
    if (systemCopy == nullptr && bytes > 0) {
        OrvaDebug::Log("エラー : メモリの確保に失敗 [%u Byte] / ", RoundToPages(bytes));
        return false;
    }
    return true;
}

void OrvaBatchBuffer::FreeMemory()
{
    systemCopy.reset();
    queuedBytes = 0;
}

void OrvaBatchBuffer::CreateDeviceBuffer(uint32_t bytes, uint32_t format)
{
    ReleaseDeviceBuffer();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr || bytes == 0) {
        return;
    }
    const platform::GfxResult r = device->CreateVertexBuffer(
        bytes, platform::UsageWriteOnly | platform::UsageDynamic, format, platform::PoolDefault, &vertexBuffer);
    if (r != platform::kGfxOk) {
        vertexBuffer = nullptr;
        OrvaDebug::Log("エラー : 頂点バッファの作成に失敗 [%s]\n", OrvaDevice::GetErrorString(r));
    }
}

void OrvaBatchBuffer::ReleaseDeviceBuffer()
{
    if (vertexBuffer != nullptr) {
        vertexBuffer->Release();
        vertexBuffer = nullptr;
    }
}

void OrvaBatchBuffer::Append(const void* vertices, uint32_t bytes)
{
    std::memcpy(systemCopy.get() + queuedBytes, vertices, bytes);
    queuedBytes += bytes;
}

void OrvaBatchBuffer::Upload()
{
    uint8_t* bits = nullptr;
    if (vertexBuffer != nullptr &&
        vertexBuffer->Lock(0, queuedBytes, &bits, platform::LockDiscard) == platform::kGfxOk) {
        std::memcpy(bits, systemCopy.get(), queuedBytes);
        vertexBuffer->Unlock();
    }
}

bool OrvaBatch::StartModule(OrvaObjectList* list, const char* name, void (*onLost)(), void (*onReset)())
{
    OrvaDebug::Log("\n============================================== Initialize %s\n", name);
    list->Init();
    OrvaDevice::AddResetWalkers(onLost, onReset);
    return true;
}

void OrvaBatch::StopModule(OrvaObjectList* list, const char* name)
{
    OrvaDebug::Log("\n============================================== Destroy %s\n", name);
    list->ReleaseAll();
}

uint32_t OrvaBatch::Address(const void* object)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

void OrvaBatch::LogBlendName(int32_t blend)
{
    if (blend >= 0 && blend < 8) {
        OrvaDebug::Log("%s", kBlendNames[blend]);
    }
}

void OrvaBatch::LogCreated(int32_t maxPolygon, uint32_t maxVertex, uint32_t kilobytes, uint32_t vramBytes)
{
    if (OrvaDevice::IsSoftwareVertexProcessing() != 0) {
        OrvaDebug::Log("MaxPolygon %d / MaxVertex %u / %u KByteUse / Complete!\n", maxPolygon, maxVertex, kilobytes);
        return;
    }
    OrvaGraphics::AddVramSize(static_cast<int32_t>(vramBytes));
    OrvaDebug::Log("MaxPolygon %d / MaxVertex %u / %u KByteUse / Complete! [VRAM %.3lfMB]\n", maxPolygon, maxVertex,
                   kilobytes, OrvaGraphics::GetVramSize() * kBytesToMegabytes);
}

void OrvaBatch::LogReleased(const char* name, const void* object, uint32_t vramBytes)
{
    if (OrvaDevice::IsSoftwareVertexProcessing() != 0) {
        OrvaDebug::Log("● Release%s / ID [0x%08X]\n", name, Address(object));
        return;
    }
    OrvaGraphics::AddVramSize(-static_cast<int32_t>(vramBytes));
    OrvaDebug::Log("● Release%s / ID [0x%08X] / [VRAM %.3lfMB]\n", name, Address(object),
                   OrvaGraphics::GetVramSize() * kBytesToMegabytes);
}
