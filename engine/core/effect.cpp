// The 2D drawing set-up and the Sub blend mode drawn as two frame-buffer
// inversions around an additive draw.
#include "engine/core/effect.h"

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"

namespace {

int32_t g_mode = kOrvaBlendNone;

// Pre-transformed position and colour: the full-screen quad's vertex.
struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t color;
};

// White over the whole viewport with the Revease preset: every channel d
// becomes 255 - d.
void InvertFrame()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr) {
        return;
    }
    OrvaRect vp;
    OrvaDevice::GetViewport(&vp);
    const float l = static_cast<float>(vp.left), t = static_cast<float>(vp.top);
    const float r = static_cast<float>(vp.right), b = static_cast<float>(vp.bottom);
    const ScreenVertex quad[4] = {{l, t, 0.0f, 1.0f, 0xFFFFFFFFu}, {r, t, 0.0f, 1.0f, 0xFFFFFFFFu},
                                  {r, b, 0.0f, 1.0f, 0xFFFFFFFFu}, {l, b, 0.0f, 1.0f, 0xFFFFFFFFu}};
    OrvaDevice::SetBlendMode(kOrvaBlendRevease);
    device->SetVertexShader(platform::FvfXyzRhw | platform::FvfDiffuse);
    device->DrawPrimitiveUP(platform::PrimTriangleFan, 2, quad, sizeof(ScreenVertex));
    OrvaApplication::AddPolygonCount(2);
}

}  // namespace

void OrvaEffect::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Effect\n");
    g_mode = kOrvaBlendNone;
}

void OrvaEffect::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Effect\n");
    g_mode = kOrvaBlendNone;
}

int32_t OrvaEffect::GetMode()
{
    return g_mode;
}

void OrvaEffect::Begin(int32_t mode)
{
    g_mode = mode;
    OrvaDevice::SetRenderState(platform::RsZEnable, 0);
    OrvaDevice::SetRenderState(platform::RsZWriteEnable, 0);
    OrvaDevice::SetRenderState(platform::RsAlphaTestEnable, 0);
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaDevice::SetRenderState(platform::RsFogEnable, 0);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    OrvaDevice::SetRenderState(platform::RsFillMode, platform::FillSolid);
    OrvaDevice::SetRenderState(platform::RsShadeMode, platform::ShadeGouraud);
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        OrvaDevice::SetTexture(nullptr, stage);
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device != nullptr) {
        device->SetVertexShader(platform::FvfXyzRhw | platform::FvfDiffuse);
    }
    if (mode == kOrvaBlendSub) {
        InvertFrame();
        OrvaDevice::SetBlendMode(kOrvaBlendAdd);
    } else {
        OrvaDevice::SetBlendMode(mode);
    }
}

void OrvaEffect::End()
{
    if (g_mode != kOrvaBlendSub) {
        return;
    }
    // The batch left its textures bound; the quad must read white to invert.
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        OrvaDevice::SetTexture(nullptr, stage);
    }
    InvertFrame();
}
