#pragma once
// The engine's graphics device: the software device, the render-state and
// texture-stage caches in front of it, blend presets, scenes, presenting and
// recovery from a lost device. Main thread only.
#include <cstdint>

#include "engine/core/graphics.h"
#include "platform/gfx/soft_device.h"

class OrvaTexture;

// Source and destination blend factors of the drawing modules.
enum OrvaBlendMode : int32_t {
    kOrvaBlendNone = 0,
    kOrvaBlendNormal = 1,
    kOrvaBlendAdd = 2,
    kOrvaBlendSub = 3,
    kOrvaBlendMul = 4,
    kOrvaBlendOneOne = 5,
    kOrvaBlendBright = 6,
    kOrvaBlendRevease = 7,
};

// Where a finished frame goes (the window); A8R8G8B8, rows top-down.
using OrvaPresentSink = void (*)(const uint32_t* argb, int width, int height, int pitchBytes);
// A module's device-loss or device-reset walker.
using OrvaDeviceWalker = void (*)();
// Called when the device cannot be brought back (the application exits).
using OrvaDeviceFailureHandler = void (*)();

class OrvaDevice {
public:
    static constexpr int32_t kRenderStateCount = 256;
    static constexpr int32_t kStageCount = 4;
    static constexpr int32_t kStageStateCount = 256;
    static constexpr int32_t kResetTries = 10;
    static constexpr int32_t kResetRetryMs = 100;

    // ---- module
    // Records the frame's size, window mode and sink; call before Initialize.
    static void Configure(int32_t width, int32_t height, bool windowed, OrvaPresentSink presentSink);
    // Makes the device and sets the engine's default states; false when the
    // device cannot be made.
    static bool Initialize();
    static void Destroy();
    static bool IsInitialized();

    // Adds a module's walkers (either may be null) to the lists Reset calls,
    // in registration order; a pair already listed is not added twice.
    static bool AddResetWalkers(OrvaDeviceWalker onLostDevice, OrvaDeviceWalker onResetDevice);
    static void SetFailureHandler(OrvaDeviceFailureHandler handler);

    // ---- queries
    // The platform device (no reference is added); null before Initialize.
    static platform::SoftDevice* GetDevice();
    // 1: vertices are processed in software (always so on our device).
    static int32_t IsSoftwareVertexProcessing();
    static void GetViewport(OrvaRect* out);
    static int32_t GetMaxTextureWidth();
    static int32_t GetMaxTextureHeight();
    static int32_t GetMaxSkinBones();
    // Linear fog: colour and range, kept for the getters.
    static void SetFog(uint32_t color, float start, float end);
    static float GetFogStart();
    static float GetFogEnd();
    static const char* GetErrorString(int32_t result, int32_t reserved = 0);

    // ---- state caches: the device is called only for a changed value.
    static void SetRenderState(int32_t state, uint32_t value);
    static uint32_t GetRenderState(int32_t state);
    static void SetTextureStageState(int32_t stage, int32_t type, uint32_t value);
    static uint32_t GetTextureStageState(int32_t stage, int32_t type);
    static void SetTexture(OrvaTexture* texture, int32_t stage);
    static OrvaTexture* GetTexture(int32_t stage);
    static void SetBlendMode(int32_t mode);
    // Sets the device's vertex shader by handle (on our device a vertex
    // format code; 0 for none); 1 on success. The shader module passes its
    // objects' handles here.
    static int32_t SetVertexShader(uint32_t handle);
    // 1 when the key is the one remembered, else remembers it and gives 0.
    static int32_t IsTextureCurrent(uint32_t key);

    // ---- frame
    static bool BeginScene();
    static void EndScene();
    // Clears the whole target (and the depth buffer to 1) to the colour.
    static void Clear(uint32_t color);
    // Shows the frame; on a lost device resets it within this call. False
    // when the frame was not shown.
    static bool Present();
    // Releases every module's device resources, resets the device (up to
    // kResetTries tries kResetRetryMs apart), sends every cached state again
    // and lets the modules re-create their resources. False (and the
    // failure handler called) when the device stays lost.
    static bool Reset();
};
