#pragma once
// Surfaces: plain images in system memory (backgrounds, side panels) that
// are copied to the back buffer as they are. They live outside the device's
// video memory, so a lost device leaves them untouched. Main thread only.
#include <cstdint>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "platform/gfx/soft_device.h"

namespace platform {
struct Image;
}

// The pixel format a surface is made in.
enum OrvaSurfaceFormat : int32_t {
    kOrvaSurfaceBackBuffer = 1,     // the back buffer's format
    kOrvaSurfaceTexture = 2,        // the Normal texture format
    kOrvaSurfaceAlphaTexture = 3,   // the Alpha texture format
    kOrvaSurfaceWideUse = 4,        // A8R8G8B8
};

class OrvaSurface : public OrvaObject {
public:
    // ---- module
    static void Initialize();
    static void Destroy();

    // ---- creation (the object is returned also when a later step failed)
    static OrvaSurface* Create(int32_t width, int32_t height, int32_t format, OrvaProgress progress);
    // file: an engine file name; texels of the colour key (A8R8G8B8, 0 for
    // none) become transparent black.
    static OrvaSurface* CreateFromFile(const char* file, int32_t format, uint32_t colorKey, OrvaProgress progress);
    static OrvaSurface* CreateFromPack(const char* packFile, const char* entryName, int32_t format,
                                       OrvaProgress progress);

    // The device format (21 to 26) of a surface format selector; 0 when the
    // selector is unknown.
    static uint32_t GetDeviceFormat(int32_t format);
    static int32_t GetCount();

    // ---- methods
    int32_t IsValid() const { return deviceSurface != nullptr ? 1 : 0; }
    int32_t GetWidth() const;    // pixels
    int32_t GetHeight() const;   // pixels
    uint32_t GetFormat() const;  // device format, 0 when there is no surface
    // Locks the whole surface; false (nothing written) when there is none.
    bool Lock(void** bits, int32_t* pitch);
    void Unlock();
    bool IsLocked() const { return locked; }
    platform::SoftSurface* GetDeviceSurface() const { return deviceSurface; }

    ~OrvaSurface() override;

private:
    OrvaSurface();
    static OrvaSurface* CreateFromImage(const char* what, bool loaded, const platform::Image& image, int32_t format,
                                        uint32_t colorKey);

    platform::SoftSurface* deviceSurface = nullptr;
    bool locked = false;
};
