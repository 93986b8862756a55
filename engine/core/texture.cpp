// Textures: creation from archives, files and sizes, the system-memory
// copy, locks and updates, and the module's device-loss walkers.
#include "engine/core/texture.h"

#include <cstring>
#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/image_pack.h"
#include "engine/core/surface.h"
#include "platform/image/image.h"
#include "platform/sys/path.h"

namespace {

constexpr auto& Textures = OrvaModuleList<OrvaModule::Texture>;

bool g_fullColor = false;
float g_texelOffset = 0.0f;
float g_pixelOffset = -0.5f;

constexpr double kBytesToMegabytes = 1.0 / 1048576.0;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

OrvaTexture::OrvaTexture()
{
    Textures().PushFront(this);
}

OrvaTexture::~OrvaTexture()
{
    ReleaseDeviceTexture();
    OrvaDebug::Log("● ReleaseTexture / ID [0x%08X] / [VRAM %.3lfMB]\n", Address(this),
                   OrvaGraphics::GetVramSize() * kBytesToMegabytes);
}

void OrvaTexture::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Texture\n");
    Textures().Init();
    OrvaDevice::AddResetWalkers(&OrvaTexture::OnLostDevice, &OrvaTexture::OnResetDevice);
}

void OrvaTexture::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Texture\n");
    Textures().ReleaseAll();
}

void OrvaTexture::OnLostDevice()
{
    for (OrvaObject* o = Textures().GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaTexture*>(o)->ReleaseDeviceTexture();
    }
}

void OrvaTexture::OnResetDevice()
{
    for (OrvaObject* o = Textures().GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaTexture* t = static_cast<OrvaTexture*>(o);
        if (!t->systemCopy.empty() && t->MakeDeviceTexture()) {
            t->Update();
        }
    }
}

void OrvaTexture::SetFullColor(bool on)
{
    g_fullColor = on;
}

bool OrvaTexture::IsFullColor()
{
    return g_fullColor;
}

uint32_t OrvaTexture::GetTextureFormat(OrvaTextureFormat kind)
{
    if (g_fullColor || kind == kOrvaTextureFullColor) {
        return platform::FormatA8R8G8B8;
    }
    return kind == kOrvaTextureAlpha ? platform::FormatA4R4G4B4 : platform::FormatR5G6B5;
}

float OrvaTexture::GetTexelOffset()
{
    return g_texelOffset;
}

void OrvaTexture::SetTexelOffset(float texels)
{
    g_texelOffset = texels;
}

float OrvaTexture::GetPixelOffset()
{
    return g_pixelOffset;
}

void OrvaTexture::SetPixelOffset(float pixels)
{
    g_pixelOffset = pixels;
}

int32_t OrvaTexture::GetCount()
{
    return Textures().GetCount();
}

OrvaTexture* OrvaTexture::CreateEmpty(int32_t width, int32_t height, uint32_t format, int32_t imageWidth,
                                      int32_t imageHeight)
{
    OrvaTexture* t = new (std::nothrow) OrvaTexture();
    if (t == nullptr) {
        OrvaDebug::Log("エラー : テクスチャのメモリを確保できません\n");
        return nullptr;
    }
    OrvaDebug::Log("○ CreateTexture / ID [0x%08X] / ", Address(t));
    const int32_t bytes = platform::FormatBytes(format);
    if (width <= 0 || height <= 0 || width > OrvaDevice::GetMaxTextureWidth() ||
        height > OrvaDevice::GetMaxTextureHeight() || bytes == 0) {
        OrvaDebug::Log("エラー : テクスチャのサイズか形式が正しくありません [%d x %d / Format %u]\n", width, height,
                       format);
        return t;
    }
    t->width = width;
    t->height = height;
    t->format = format;
    t->pitch = width * bytes;
    t->scaleU = 1.0f / static_cast<float>(imageWidth > 0 ? imageWidth : width);
    t->scaleV = 1.0f / static_cast<float>(imageHeight > 0 ? imageHeight : height);
    try {
        t->systemCopy.assign(static_cast<size_t>(t->pitch) * height, 0);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("エラー : テクスチャのシステムメモリを確保できません [%d x %d]\n", width, height);
        return t;
    }
    if (!t->MakeDeviceTexture()) {
        return t;
    }
    OrvaDebug::Log("%d x %d / Format %u / Complete! [VRAM %.3lfMB]\n", width, height, format,
                   OrvaGraphics::GetVramSize() * kBytesToMegabytes);
    return t;
}

OrvaTexture* OrvaTexture::Create(int32_t width, int32_t height, bool alpha, OrvaProgress progress)
{
    OrvaTexture* t = CreateEmpty(width, height, GetTextureFormat(alpha ? kOrvaTextureAlpha : kOrvaTextureNormal),
                                 width, height);
    if (progress != nullptr) {
        progress(1);
    }
    return t;
}

OrvaTexture* OrvaTexture::CreateScreenFormat(int32_t width, int32_t height, OrvaProgress progress)
{
    uint32_t format = platform::FormatA8R8G8B8;
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device != nullptr && device->GetBackBuffer() != nullptr) {
        format = device->GetBackBuffer()->GetFormat();
    }
    OrvaTexture* t = CreateEmpty(width, height, format, width, height);
    if (progress != nullptr) {
        progress(1);
    }
    return t;
}

OrvaTexture* OrvaTexture::CreateFromFile(const char* path, int32_t, int32_t, OrvaProgress progress)
{
    platform::Image image;
    std::string error;
    const std::string host = platform::HostPath(path);
    const bool loaded = !host.empty() && platform::DecodeImageFile(host.c_str(), &image, &error);
    if (progress != nullptr) {
        progress(1);
    }
    if (!loaded) {
        OrvaTexture* t = new (std::nothrow) OrvaTexture();
        if (t != nullptr) {
            OrvaDebug::Log("○ CreateTexture / ID [0x%08X] / ", Address(t));
        }
        OrvaDebug::Log("エラー : 画像を読み込めません [%s] %s\n", path != nullptr ? path : "(null)", error.c_str());
        return t;
    }
    // An image that uses its alpha channel keeps it.
    bool alpha = false;
    for (const uint32_t p : image.argb) {
        if ((p >> 24) != 0xFF) {
            alpha = true;
            break;
        }
    }
    OrvaTexture* t = CreateEmpty(image.width, image.height,
                                 GetTextureFormat(alpha ? kOrvaTextureAlpha : kOrvaTextureNormal), image.width,
                                 image.height);
    if (t != nullptr && !t->systemCopy.empty()) {
        t->StorePixels(image.argb, image.width, image.height);
        t->Update();
    }
    return t;
}

OrvaTexture* OrvaTexture::CreateFromPack(const char* packFile, const char* entryName, bool alpha,
                                         OrvaProgress progress)
{
    platform::Image image;
    const bool loaded = packFile != nullptr && entryName != nullptr &&
                        OrvaImagePack::LoadEntry(packFile, entryName, &image);
    if (progress != nullptr) {
        progress(1);
    }
    if (!loaded) {
        OrvaTexture* t = new (std::nothrow) OrvaTexture();
        if (t != nullptr) {
            OrvaDebug::Log("○ CreateTexture / ID [0x%08X] / ", Address(t));
        }
        OrvaDebug::Log("エラー : アーカイブの画像を読み込めません [%s : %s]\n", packFile != nullptr ? packFile : "(null)",
                       entryName != nullptr ? entryName : "(null)");
        return t;
    }
    OrvaTexture* t = CreateEmpty(image.width, image.height,
                                 GetTextureFormat(alpha ? kOrvaTextureAlpha : kOrvaTextureNormal), image.width,
                                 image.height);
    if (t != nullptr && !t->systemCopy.empty()) {
        t->StorePixels(image.argb, image.width, image.height);
        t->Update();
    }
    return t;
}

bool OrvaTexture::MakeDeviceTexture()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr) {
        OrvaDebug::Log("エラー : デバイスがありません\n");
        return false;
    }
    platform::SoftTexture* tex = nullptr;
    const platform::GfxResult r =
        device->CreateTexture(width, height, 1, 0, format, platform::PoolDefault, &tex);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : テクスチャを作成できません [%s]\n", OrvaDevice::GetErrorString(r));
        return false;
    }
    deviceTexture = tex;
    valid = true;
    OrvaGraphics::AddVramSize(width * height * platform::FormatBytes(format));
    return true;
}

void OrvaTexture::ReleaseDeviceTexture()
{
    if (deviceTexture == nullptr) {
        return;
    }
    // The device must not keep drawing with a texture that is going away.
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        if (OrvaDevice::GetTexture(stage) == this) {
            OrvaDevice::SetTexture(nullptr, stage);
        }
    }
    deviceTexture->Release();
    deviceTexture = nullptr;
    valid = false;
    OrvaGraphics::AddVramSize(-(width * height * platform::FormatBytes(format)));
}

void OrvaTexture::StorePixels(const std::vector<uint32_t>& argb, int32_t imageWidth, int32_t imageHeight)
{
    const int32_t bytes = platform::FormatBytes(format);
    const int32_t w = imageWidth < width ? imageWidth : width;
    const int32_t h = imageHeight < height ? imageHeight : height;
    if (argb.size() < static_cast<size_t>(imageWidth) * static_cast<size_t>(imageHeight)) {
        return;
    }
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = systemCopy.data() + static_cast<size_t>(y) * pitch;
        for (int32_t x = 0; x < w; ++x) {
            platform::ArgbToFormat(format, argb[static_cast<size_t>(y) * imageWidth + x], row + x * bytes);
        }
    }
}

uint32_t OrvaTexture::GetMemorySize() const
{
    const int32_t bytes = platform::FormatBytes(format);
    const uint32_t perTexel = bytes == 4 ? 4u : (bytes == 2 ? 2u : 1u);
    return static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 2u * perTexel;
}

int32_t OrvaTexture::Lock(void** bits, int32_t* pitchOut)
{
    if (bits == nullptr || pitchOut == nullptr || systemCopy.empty() || locked) {
        return 0;
    }
    *bits = systemCopy.data();
    *pitchOut = pitch;
    locked = true;
    return 1;
}

void OrvaTexture::Unlock()
{
    locked = false;
}

bool OrvaTexture::Update()
{
    if (deviceTexture == nullptr || systemCopy.empty()) {
        OrvaDebug::Log("テクスチャの更新に失敗 [%s]\n", OrvaDevice::GetErrorString(platform::kGfxInvalidCall));
        return false;
    }
    platform::LockedRect lr;
    const platform::GfxResult r = deviceTexture->LockRect(0, &lr, nullptr, 0);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("テクスチャの更新に失敗 [%s]\n", OrvaDevice::GetErrorString(r));
        return false;
    }
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(static_cast<uint8_t*>(lr.bits) + static_cast<size_t>(y) * lr.pitch,
                    systemCopy.data() + static_cast<size_t>(y) * pitch, static_cast<size_t>(pitch));
    }
    deviceTexture->UnlockRect(0);
    return true;
}

bool OrvaTexture::CopyRectFromSurface(int32_t x, int32_t y, int32_t left, int32_t top, int32_t right,
                                      int32_t bottom, OrvaSurface* source)
{
    if (source == nullptr || systemCopy.empty() || left >= right || top >= bottom || left < 0 || top < 0 ||
        right > source->GetWidth() || bottom > source->GetHeight() || x < 0 || y < 0 ||
        x + (right - left) > width || y + (bottom - top) > height) {
        OrvaDebug::Log("エラー : 転送する矩形が画像の外にあります [%d, %d, %d, %d -> %d, %d]\n", left, top, right,
                       bottom, x, y);
        return false;
    }
    void* bits = nullptr;
    int32_t srcPitch = 0;
    if (!source->Lock(&bits, &srcPitch)) {
        return false;
    }
    const uint32_t srcFormat = source->GetFormat();
    const int32_t srcBytes = platform::FormatBytes(srcFormat);
    const int32_t dstBytes = platform::FormatBytes(format);
    for (int32_t j = 0; j < bottom - top; ++j) {
        const uint8_t* srow = static_cast<const uint8_t*>(bits) + static_cast<size_t>(top + j) * srcPitch;
        uint8_t* drow = systemCopy.data() + static_cast<size_t>(y + j) * pitch;
        for (int32_t i = 0; i < right - left; ++i) {
            const uint32_t argb = platform::FormatToArgb(srcFormat, srow + (left + i) * srcBytes);
            platform::ArgbToFormat(format, argb, drow + (x + i) * dstBytes);
        }
    }
    source->Unlock();
    return true;
}
