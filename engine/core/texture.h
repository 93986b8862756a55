#pragma once
// Textures: a device texture with a system-memory copy that survives a lost
// device (the device texture is made again from it at reset). Main thread
// only.
#include <cstdint>
#include <vector>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "platform/gfx/soft_device.h"

class OrvaSurface;

// The texture formats chosen at device start-up.
enum OrvaTextureFormat : int32_t {
    kOrvaTextureNormal = 0,      // opaque images
    kOrvaTextureAlpha = 1,       // images with alpha
    kOrvaTextureFullColor = 2,   // 32 bits for both when full colour is on
};

class OrvaTexture : public OrvaObject {
public:
    // ---- module
    static void Initialize();
    static void Destroy();
    // Drop every device texture; make them again from the system copies.
    static void OnLostDevice();
    static void OnResetDevice();

    // ---- creation (each returns the object, also when a later step failed:
    // it is then not valid and draws nothing)
    static OrvaTexture* Create(int32_t width, int32_t height, bool alpha, OrvaProgress progress);
    static OrvaTexture* CreateScreenFormat(int32_t width, int32_t height, OrvaProgress progress);
    // path: an engine file name; the two zeros of the callers are unused.
    static OrvaTexture* CreateFromFile(const char* path, int32_t, int32_t, OrvaProgress progress);
    static OrvaTexture* CreateFromPack(const char* packFile, const char* entryName, bool alpha, OrvaProgress progress);

    // ---- module settings
    // Full colour makes later textures 32-bit whatever their kind.
    static void SetFullColor(bool on);
    static bool IsFullColor();
    // The device format (21 to 26) of a kind of texture, full colour applied.
    static uint32_t GetTextureFormat(OrvaTextureFormat kind);
    // Texels added to the left and top and taken from the right and bottom
    // of integer source rectangles (0.5 once the device's defaults are set).
    static float GetTexelOffset();
    static void SetTexelOffset(float texels);
    // Pixels added to every screen x and y of 2D drawing (-0.5).
    static float GetPixelOffset();
    static void SetPixelOffset(float pixels);
    static int32_t GetCount();

    // ---- methods
    int32_t IsValid() const { return valid ? 1 : 0; }
    int32_t GetWidth() const { return width; }     // texels
    int32_t GetHeight() const { return height; }   // texels
    uint32_t GetFormat() const { return format; }
    float GetScaleU() const { return scaleU; }
    float GetScaleV() const { return scaleV; }
    // Bytes of the device texture and its system copy.
    uint32_t GetMemorySize() const;
    // Locks the system copy: its first byte and row pitch in bytes; 0 when
    // there is none or it is already locked.
    int32_t Lock(void** bits, int32_t* pitch);
    void Unlock();
    bool IsLocked() const { return locked; }
    // Copies the system copy into the device texture.
    bool Update();
    // Copies a rectangle of the surface into the system copy at (x, y),
    // converting the pixel format; false when a rectangle leaves an image.
    bool CopyRectFromSurface(int32_t x, int32_t y, int32_t left, int32_t top, int32_t right, int32_t bottom,
                             OrvaSurface* source);
    platform::SoftTexture* GetDeviceTexture() const { return deviceTexture; }

    ~OrvaTexture() override;

private:
    OrvaTexture();
    static OrvaTexture* CreateEmpty(int32_t width, int32_t height, uint32_t format, int32_t imageWidth,
                                    int32_t imageHeight);
    bool MakeDeviceTexture();
    void ReleaseDeviceTexture();
    // Writes A8R8G8B8 pixels into the system copy in the texture's format.
    void StorePixels(const std::vector<uint32_t>& argb, int32_t imageWidth, int32_t imageHeight);

    platform::SoftTexture* deviceTexture = nullptr;
    std::vector<uint8_t> systemCopy;
    int32_t width = 0;          // texels
    int32_t height = 0;         // texels
    int32_t pitch = 0;          // bytes per row of the system copy
    uint32_t format = 0;        // 21 to 26
    float scaleU = 1.0f;        // 1 / the width recorded at creation
    float scaleV = 1.0f;
    bool valid = false;
    bool locked = false;
};
