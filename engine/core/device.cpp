// The engine's graphics device: start, the render-state and texture-stage
// caches, blend presets, scenes, present, and the lost-device reset.
#include "engine/core/device.h"

#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/texture.h"

namespace {

struct Walkers {
    OrvaDeviceWalker onLost;
    OrvaDeviceWalker onReset;
};

struct DeviceModule {
    platform::DeviceParams params;
    OrvaPresentSink sink = nullptr;
    platform::SoftDevice* device = nullptr;
    uint32_t renderStates[OrvaDevice::kRenderStateCount] = {};
    uint32_t stageStates[OrvaDevice::kStageCount][OrvaDevice::kStageStateCount] = {};
    OrvaTexture* stageTextures[OrvaDevice::kStageCount] = {};
    uint32_t currentKey = 0;
    bool keyValid = false;
    float fogStart = 0.0f;
    float fogEnd = 1.0f;
    // Without a device the program cannot go on: ask it to close.
    OrvaDeviceFailureHandler failureHandler = &OrvaApplication::Exit;
};

// Plain data, so never destroyed: objects released at process exit, after
// any static destructor, still ask for the device and its stage bindings.
DeviceModule g_device;
static_assert(std::is_trivially_destructible_v<DeviceModule>);

// The modules' device-loss and reset walkers; never destroyed either.
std::vector<Walkers>& ResetWalkers()
{
    static std::vector<Walkers>* walkers = new std::vector<Walkers>();
    return *walkers;
}

uint32_t FloatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// The cache mirrors what the device holds now.
void ReadCachesFromDevice()
{
    for (int32_t s = 0; s < OrvaDevice::kRenderStateCount; ++s) {
        g_device.device->GetRenderState(static_cast<uint32_t>(s), &g_device.renderStates[s]);
    }
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        for (int32_t t = 0; t < OrvaDevice::kStageStateCount; ++t) {
            g_device.device->GetTextureStageState(static_cast<uint32_t>(stage), static_cast<uint32_t>(t),
                                                  &g_device.stageStates[stage][t]);
        }
    }
}

// The states every engine drawing module starts from.
void SetDefaultStates()
{
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    OrvaDevice::SetRenderState(platform::RsDitherEnable, 0);
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        OrvaDevice::SetTextureStageState(stage, platform::TssMagFilter, platform::FilterPoint);
        OrvaDevice::SetTextureStageState(stage, platform::TssMinFilter, platform::FilterPoint);
    }
    OrvaDevice::SetTextureStageState(0, platform::TssColorOp, platform::TopModulate);
    OrvaDevice::SetTextureStageState(0, platform::TssColorArg1, platform::TaTexture);
    OrvaDevice::SetTextureStageState(0, platform::TssColorArg2, platform::TaDiffuse);
    OrvaDevice::SetTextureStageState(0, platform::TssAlphaOp, platform::TopModulate);
    OrvaDevice::SetTextureStageState(0, platform::TssAlphaArg1, platform::TaTexture);
    OrvaDevice::SetTextureStageState(0, platform::TssAlphaArg2, platform::TaDiffuse);
    // 2D drawing samples texel centres from here on.
    OrvaTexture::SetTexelOffset(0.5f);
}

void ForwardFrame(const platform::FrameView& frame)
{
    if (g_device.sink != nullptr) {
        g_device.sink(frame.pixels, frame.width, frame.height, frame.pitch);
    }
}

}  // namespace

void OrvaDevice::Configure(int32_t width, int32_t height, bool windowed, OrvaPresentSink presentSink)
{
    g_device.params.width = width;
    g_device.params.height = height;
    g_device.params.windowed = windowed;
    g_device.params.depthBuffer = true;
    g_device.sink = presentSink;
}

bool OrvaDevice::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Device\n");
    if (g_device.device != nullptr) {
        return true;
    }
    platform::SoftDevice* device = new (std::nothrow) platform::SoftDevice();
    if (device == nullptr || !device->Create(g_device.params)) {
        delete device;
        OrvaDebug::Log("DirectX8.1が正しくインストールされていない可能性があります");
        OrvaDebug::Log("\n");
        return false;
    }
    g_device.device = device;
    device->SetPresentSink(ForwardFrame);
    ReadCachesFromDevice();
    for (OrvaTexture*& t : g_device.stageTextures) {
        t = nullptr;
    }
    g_device.keyValid = false;
    SetDefaultStates();
    OrvaDebug::Log("■ デバイス作成 / %d x %d / %s / スレッド数 %d\n", g_device.params.width, g_device.params.height,
                   g_device.params.windowed ? "ウィンドウ" : "フルスクリーン", device->GetThreadCount());
    return true;
}

void OrvaDevice::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Device\n");
    if (g_device.device == nullptr) {
        return;
    }
    for (int32_t stage = 0; stage < kStageCount; ++stage) {
        g_device.device->SetTexture(static_cast<uint32_t>(stage), nullptr);
        g_device.stageTextures[stage] = nullptr;
    }
    delete g_device.device;
    g_device.device = nullptr;
    ResetWalkers().clear();
    g_device.keyValid = false;
    g_device.failureHandler = &OrvaApplication::Exit;
    // Without the device's states 2D drawing is back to whole texels.
    OrvaTexture::SetTexelOffset(0.0f);
}

bool OrvaDevice::IsInitialized()
{
    return g_device.device != nullptr;
}

bool OrvaDevice::AddResetWalkers(OrvaDeviceWalker onLostDevice, OrvaDeviceWalker onResetDevice)
{
    if (onLostDevice == nullptr && onResetDevice == nullptr) {
        return false;
    }
    for (const Walkers& w : ResetWalkers()) {
        if (w.onLost == onLostDevice && w.onReset == onResetDevice) {
            return true;
        }
    }
    try {
        ResetWalkers().push_back({onLostDevice, onResetDevice});
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("エラー : リセット処理を登録できません\n");
        return false;
    }
    return true;
}

void OrvaDevice::SetFailureHandler(OrvaDeviceFailureHandler handler)
{
    g_device.failureHandler = handler;
}

platform::SoftDevice* OrvaDevice::GetDevice()
{
    return g_device.device;
}

int32_t OrvaDevice::IsSoftwareVertexProcessing()
{
    return 1;
}

void OrvaDevice::GetViewport(OrvaRect* out)
{
    if (out == nullptr) {
        return;
    }
    platform::Viewport vp;
    if (g_device.device == nullptr || g_device.device->GetViewport(&vp) != platform::kGfxOk) {
        *out = OrvaRect{};
        return;
    }
    out->left = static_cast<int32_t>(vp.x);
    out->top = static_cast<int32_t>(vp.y);
    out->right = static_cast<int32_t>(vp.x + vp.width);
    out->bottom = static_cast<int32_t>(vp.y + vp.height);
}

int32_t OrvaDevice::GetMaxTextureWidth()
{
    return platform::SoftDevice::kMaxTextureSize;
}

int32_t OrvaDevice::GetMaxTextureHeight()
{
    return platform::SoftDevice::kMaxTextureSize;
}

int32_t OrvaDevice::GetMaxSkinBones()
{
    return (platform::SoftDevice::kMaxVertexShaderConstants - 27) / 3;
}

void OrvaDevice::SetFog(uint32_t color, float start, float end)
{
    g_device.fogStart = start;
    g_device.fogEnd = end;
    SetRenderState(platform::RsFogColor, color);
    SetRenderState(platform::RsFogStart, FloatBits(start));
    SetRenderState(platform::RsFogEnd, FloatBits(end));
    SetRenderState(platform::RsFogVertexMode, platform::FogLinear);
}

float OrvaDevice::GetFogStart()
{
    return g_device.fogStart;
}

float OrvaDevice::GetFogEnd()
{
    return g_device.fogEnd;
}

const char* OrvaDevice::GetErrorString(int32_t result, int32_t)
{
    switch (result) {
    case platform::kGfxOk: return "正常に終了しました";
    case platform::kGfxFail: return "処理に失敗しました";
    case platform::kGfxOutOfMemory: return "メモリが不足しています";
    case platform::kGfxInvalidCall: return "無効な呼び出しです（引数か状態が正しくありません）";
    case platform::kGfxDeviceLost: return "デバイスが失われていて、まだリセットできません";
    case platform::kGfxDeviceNotReset: return "デバイスが失われています。リセットが必要です";
    case platform::kGfxNotAvailable: return "この機能は使用できません";
    case platform::kGfxOutOfVideoMemory: return "ビデオメモリが不足しています";
    case platform::kGfxWasStillDrawing: return "描画処理が終わっていません";
    default: return "不明なエラーです";
    }
}

void OrvaDevice::SetRenderState(int32_t state, uint32_t value)
{
    if (state < 0 || state >= kRenderStateCount) {
        OrvaDebug::Log("エラー : レンダーステートの番号が範囲外です [%d]\n", state);
        return;
    }
    if (g_device.renderStates[state] == value) {
        return;
    }
    g_device.renderStates[state] = value;
    if (g_device.device != nullptr) {
        g_device.device->SetRenderState(static_cast<uint32_t>(state), value);
    }
}

uint32_t OrvaDevice::GetRenderState(int32_t state)
{
    return (state >= 0 && state < kRenderStateCount) ? g_device.renderStates[state] : 0;
}

void OrvaDevice::SetTextureStageState(int32_t stage, int32_t type, uint32_t value)
{
    if (stage < 0 || stage >= kStageCount || type < 0 || type >= kStageStateCount) {
        OrvaDebug::Log("エラー : テクスチャステージの番号が範囲外です [%d, %d]\n", stage, type);
        return;
    }
    if (g_device.stageStates[stage][type] == value) {
        return;
    }
    g_device.stageStates[stage][type] = value;
    if (g_device.device != nullptr) {
        g_device.device->SetTextureStageState(static_cast<uint32_t>(stage), static_cast<uint32_t>(type), value);
    }
}

uint32_t OrvaDevice::GetTextureStageState(int32_t stage, int32_t type)
{
    if (stage < 0 || stage >= kStageCount || type < 0 || type >= kStageStateCount) {
        return 0;
    }
    return g_device.stageStates[stage][type];
}

void OrvaDevice::SetTexture(OrvaTexture* texture, int32_t stage)
{
    if (stage < 0 || stage >= kStageCount) {
        OrvaDebug::Log("エラー : テクスチャステージの番号が範囲外です [%d]\n", stage);
        return;
    }
    if (g_device.stageTextures[stage] == texture) {
        return;
    }
    g_device.stageTextures[stage] = texture;
    if (g_device.device != nullptr) {
        g_device.device->SetTexture(static_cast<uint32_t>(stage),
                                    texture != nullptr ? texture->GetDeviceTexture() : nullptr);
    }
}

OrvaTexture* OrvaDevice::GetTexture(int32_t stage)
{
    return (stage >= 0 && stage < kStageCount) ? g_device.stageTextures[stage] : nullptr;
}

void OrvaDevice::SetBlendMode(int32_t mode)
{
    static const uint32_t kFactors[8][2] = {
        {platform::BlendOne, platform::BlendZero},          // None
        {platform::BlendSrcAlpha, platform::BlendInvSrcAlpha},   // Normal
        {platform::BlendSrcAlpha, platform::BlendOne},      // Add
        {0, 0},                                             // Sub: drawn through OrvaEffect
        {platform::BlendZero, platform::BlendSrcColor},     // Mul
        {platform::BlendOne, platform::BlendOne},           // OneOne
        {platform::BlendDestColor, platform::BlendOne},     // Bright
        {platform::BlendInvDestColor, platform::BlendZero},   // Revease
    };
    if (mode < 0 || mode > 7 || mode == kOrvaBlendSub) {
        return;
    }
    SetRenderState(platform::RsSrcBlend, kFactors[mode][0]);
    SetRenderState(platform::RsDestBlend, kFactors[mode][1]);
}

int32_t OrvaDevice::SetVertexShader(uint32_t handle)
{
    if (g_device.device == nullptr) {
        return 0;
    }
    const platform::GfxResult r = g_device.device->SetVertexShader(handle);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : 頂点シェーダーを設定できません [0x%X] [%s]\n", handle, GetErrorString(r));
        return 0;
    }
    return 1;
}

int32_t OrvaDevice::IsTextureCurrent(uint32_t key)
{
    if (g_device.keyValid && g_device.currentKey == key) {
        return 1;
    }
    g_device.currentKey = key;
    g_device.keyValid = true;
    return 0;
}

bool OrvaDevice::BeginScene()
{
    g_device.keyValid = false;
    if (g_device.device == nullptr) {
        return false;
    }
    const platform::GfxResult r = g_device.device->BeginScene();
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : シーンを開始できません [%s]\n", GetErrorString(r));
        return false;
    }
    return true;
}

void OrvaDevice::EndScene()
{
    if (g_device.device != nullptr) {
        g_device.device->EndScene();
    }
}

void OrvaDevice::Clear(uint32_t color)
{
    if (g_device.device == nullptr) {
        return;
    }
    const uint32_t flags = platform::ClearTarget | (g_device.params.depthBuffer ? platform::ClearZBuffer : 0u);
    g_device.device->Clear(0, nullptr, flags, color, 1.0f, 0);
}

bool OrvaDevice::Present()
{
    if (g_device.device == nullptr) {
        return false;
    }
    const platform::GfxResult r = g_device.device->Present();
    if (r == platform::kGfxDeviceLost) {
        Reset();
        return false;
    }
    return r == platform::kGfxOk;
}

bool OrvaDevice::Reset()
{
    platform::SoftDevice* device = g_device.device;
    if (device == nullptr) {
        return false;
    }
    OrvaDebug::Log("■ デバイスのリセットを開始します\n");
    for (const Walkers& w : ResetWalkers()) {
        if (w.onLost != nullptr) {
            w.onLost();
        }
    }
    // The device holds references to what is bound; let go of them so that
    // the modules' released resources are really gone.
    for (int32_t stage = 0; stage < kStageCount; ++stage) {
        device->SetTexture(static_cast<uint32_t>(stage), nullptr);
        g_device.stageTextures[stage] = nullptr;
    }
    device->SetStreamSource(0, nullptr, 0);
    device->SetIndices(nullptr, 0);
    platform::GfxResult r = platform::kGfxDeviceLost;
    for (int32_t attempt = 0; attempt < kResetTries; ++attempt) {
        if (attempt > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kResetRetryMs));
        }
        if (device->TestCooperativeLevel() == platform::kGfxDeviceLost) {
            continue;
        }
        r = device->Reset(g_device.params);
        if (r == platform::kGfxOk) {
            break;
        }
    }
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("エラー : デバイスのリセットに失敗しました [%s]\n", GetErrorString(r));
        if (g_device.failureHandler != nullptr) {
            g_device.failureHandler();
        }
        return false;
    }
    // The device is back with its defaults: send every cached state again.
    for (int32_t s = 0; s < kRenderStateCount; ++s) {
        device->SetRenderState(static_cast<uint32_t>(s), g_device.renderStates[s]);
    }
    for (int32_t stage = 0; stage < kStageCount; ++stage) {
        for (int32_t t = 0; t < kStageStateCount; ++t) {
            device->SetTextureStageState(static_cast<uint32_t>(stage), static_cast<uint32_t>(t),
                                         g_device.stageStates[stage][t]);
        }
    }
    g_device.keyValid = false;
    for (const Walkers& w : ResetWalkers()) {
        if (w.onReset != nullptr) {
            w.onReset();
        }
    }
    OrvaDebug::Log("■ デバイスのリセットが完了しました\n");
    return true;
}
