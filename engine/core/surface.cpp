// Surfaces: images in system memory, made from archive entries, files,
// plug-ins or nothing, and copied to the back buffer.
#include "engine/core/surface.h"

#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/image_pack.h"
#include "engine/core/texture.h"
#include "platform/image/image.h"
#include "platform/sys/path.h"

namespace {

constexpr auto& Surfaces = OrvaModuleList<OrvaModule::Surface>;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

OrvaSurface::OrvaSurface()
{
    Surfaces().PushFront(this);
}

OrvaSurface::~OrvaSurface()
{
    if (deviceSurface != nullptr) {
        deviceSurface->Release();
        deviceSurface = nullptr;
    }
    OrvaDebug::Log("● ReleaseSurface / ID [0x%08X]\n", Address(this));
}

void OrvaSurface::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Surface\n");
    Surfaces().Init();
}

void OrvaSurface::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Surface\n");
    Surfaces().ReleaseAll();
}

int32_t OrvaSurface::GetCount()
{
    return Surfaces().GetCount();
}

uint32_t OrvaSurface::GetDeviceFormat(int32_t format)
{
    switch (format) {
    case kOrvaSurfaceBackBuffer: {
        platform::SoftDevice* device = OrvaDevice::GetDevice();
        return (device != nullptr && device->GetBackBuffer() != nullptr) ? device->GetBackBuffer()->GetFormat()
                                                                           : platform::FormatA8R8G8B8;
    }
    case kOrvaSurfaceTexture: return OrvaTexture::GetTextureFormat(kOrvaTextureNormal);
    case kOrvaSurfaceAlphaTexture: return OrvaTexture::GetTextureFormat(kOrvaTextureAlpha);
    case kOrvaSurfaceWideUse: return platform::FormatA8R8G8B8;
    default: return 0;
    }
}

OrvaSurface* OrvaSurface::Create(int32_t width, int32_t height, int32_t format, OrvaProgress progress)
{
    OrvaSurface* s = new (std::nothrow) OrvaSurface();
    if (s == nullptr) {
        OrvaDebug::Log("エラー : サーフェスのメモリを確保できません\n");
        return nullptr;
    }
    OrvaDebug::Log("○ CreateSurface / ID [0x%08X] / ", Address(s));
    if (progress != nullptr) {
        progress(1);
    }
    const uint32_t deviceFormat = GetDeviceFormat(format);
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (deviceFormat == 0 || device == nullptr) {
        OrvaDebug::Log("エラー : サーフェスの形式が正しくないか、デバイスがありません [%d]\n", format);
        return s;
    }
    platform::SoftSurface* surface = nullptr;
    const platform::GfxResult r = device->CreateImageSurface(width, height, deviceFormat, &surface);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : サーフェスを作成できません [%d x %d] [%s]\n", width, height,
                       OrvaDevice::GetErrorString(r));
        return s;
    }
    s->deviceSurface = surface;
    OrvaDebug::Log("%d x %d / Format %u / Complete!\n", width, height, deviceFormat);
    return s;
}

OrvaSurface* OrvaSurface::CreateFromImage(const char* what, bool loaded, const platform::Image& image, int32_t format,
                                          uint32_t colorKey)
{
    if (!loaded) {
        OrvaSurface* s = new (std::nothrow) OrvaSurface();
        if (s != nullptr) {
            OrvaDebug::Log("○ CreateSurface / ID [0x%08X] / ", Address(s));
        }
        OrvaDebug::Log("エラー : 画像を読み込めません [%s]\n", what);
        return s;
    }
    OrvaSurface* s = Create(image.width, image.height, format, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    if (s == nullptr || !s->Lock(&bits, &pitch)) {
        return s;
    }
    const uint32_t deviceFormat = s->GetFormat();
    const int32_t bytes = platform::FormatBytes(deviceFormat);
    for (int32_t y = 0; y < image.height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * pitch;
        for (int32_t x = 0; x < image.width; ++x) {
            uint32_t argb = image.argb[static_cast<size_t>(y) * image.width + x];
            if (colorKey != 0 && (argb | 0xFF000000u) == (colorKey | 0xFF000000u)) {
                argb = 0;
            }
            platform::ArgbToFormat(deviceFormat, argb, row + x * bytes);
        }
    }
    s->Unlock();
    return s;
}

OrvaSurface* OrvaSurface::CreateFromFile(const char* file, int32_t format, uint32_t colorKey, OrvaProgress progress)
{
    platform::Image image;
    std::string error;
    const std::string host = platform::HostPath(file);
    const bool loaded = !host.empty() && platform::DecodeImageFile(host.c_str(), &image, &error);
    if (progress != nullptr) {
        progress(1);
    }
    const std::string what = std::string(file != nullptr ? file : "(null)") + (error.empty() ? "" : " " + error);
    return CreateFromImage(what.c_str(), loaded, image, format, colorKey);
}

OrvaSurface* OrvaSurface::CreateFromPack(const char* packFile, const char* entryName, int32_t format,
                                         OrvaProgress progress)
{
    platform::Image image;
    const bool loaded = packFile != nullptr && entryName != nullptr &&
                        OrvaImagePack::LoadEntry(packFile, entryName, &image);
    if (progress != nullptr) {
        progress(1);
    }
    const std::string what = std::string(packFile != nullptr ? packFile : "(null)") + " : " +
                             (entryName != nullptr ? entryName : "(null)");
    return CreateFromImage(what.c_str(), loaded, image, format, 0);
}

int32_t OrvaSurface::GetWidth() const
{
    return deviceSurface != nullptr ? deviceSurface->GetWidth() : 0;
}

int32_t OrvaSurface::GetHeight() const
{
    return deviceSurface != nullptr ? deviceSurface->GetHeight() : 0;
}

uint32_t OrvaSurface::GetFormat() const
{
    return deviceSurface != nullptr ? deviceSurface->GetFormat() : 0;
}

bool OrvaSurface::Lock(void** bits, int32_t* pitch)
{
    if (bits == nullptr || pitch == nullptr || deviceSurface == nullptr || locked) {
        return false;
    }
    platform::LockedRect lr;
    if (deviceSurface->LockRect(&lr, nullptr, 0) != platform::kGfxOk) {
        return false;
    }
    *bits = lr.bits;
    *pitch = lr.pitch;
    locked = true;
    return true;
}

void OrvaSurface::Unlock()
{
    if (locked && deviceSurface != nullptr) {
        deviceSurface->UnlockRect();
    }
    locked = false;
}
