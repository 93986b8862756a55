// The engine's start-up and shut-down lists: each module's start and stop
// by use flag, and the device joined to the window.
#include "engine/engine.h"

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/font.h"
#include "engine/core/input.h"
#include "engine/core/math.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/font_fx.h"
#include "engine/render/font_sprite.h"
#include "engine/render/list_sprite.h"
#include "engine/render/model.h"
#include "engine/render/particle.h"
#include "engine/render/primitive.h"
#include "engine/render/primitive3d.h"
#include "engine/render/scene.h"
#include "engine/render/shader.h"
#include "engine/render/sheet.h"
#include "engine/render/sprite.h"
#include "engine/sound/audio.h"
#include "engine/sound/mci.h"
#include "engine/sound/media.h"
#include "engine/sound/music.h"
#include "engine/sound/network.h"
#include "engine/sound/sound.h"

// The device draws into the window the frame set up before the start.
static bool StartDevice()
{
    int32_t width = 0;
    int32_t height = 0;
    OrvaApplication::GetScreenSize(&width, &height);
    OrvaDevice::Configure(width, height, OrvaApplication::IsWindowed(), OrvaApplication::PresentFrame);
    if (!OrvaDevice::Initialize()) {
        return false;
    }
    OrvaEffect::Initialize();
    return true;
}

static void StopDevice()
{
    OrvaEffect::Destroy();
    OrvaDevice::Destroy();
}

template <void (*Start)()>
static bool StartAlways()
{
    Start();
    return true;
}

template <int32_t (*Start)()>
static bool StartedIfNonZero()
{
    return Start() != 0;
}

// The audio worker asks for the window's event message from its own thread.
static void PostGraphEvent()
{
    platform::PostMessage(OrvaApplication::GetWindowHandle(), OrvaAudio::kGraphEventMessage, 0, 0);
}

static bool StartAudio()
{
    OrvaAudio::SetEventPoster(PostGraphEvent);
    OrvaApplication::SetGraphEventHandler(OrvaAudio::HandleGraphEvents);
    return OrvaAudio::Initialize() != 0;
}

static void StopAudio()
{
    OrvaAudio::Destroy();
    OrvaApplication::SetGraphEventHandler(nullptr);
    OrvaAudio::SetEventPoster(nullptr);
}

// MCI completions reach the window from the playback threads.
static void PostMciNotify(uintptr_t wParam, intptr_t lParam)
{
    platform::PostMessage(OrvaApplication::GetWindowHandle(), platform::MM_MCINOTIFY, wParam, lParam);
}

static bool StartMci()
{
    OrvaMci::SetNotifyPoster(PostMciNotify);
    OrvaApplication::SetMciNotifyHandler(OrvaMci::OnNotify);
    return OrvaMci::Initialize() != 0;
}

static void StopMci()
{
    OrvaMci::Destroy();
    OrvaApplication::SetMciNotifyHandler(nullptr);
    OrvaMci::SetNotifyPoster(nullptr);
}

void OrvaEngine::RegisterModules()
{
    OrvaApplication::SetModuleEntry(OrvaModule::AngleTables, OrvaMath::Initialize, OrvaMath::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Device, StartDevice, StopDevice);
    OrvaApplication::SetModuleEntry(OrvaModule::Camera, OrvaCamera::Initialize, OrvaCamera::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Shader, OrvaShader::Initialize, OrvaShader::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Texture, StartAlways<OrvaTexture::Initialize>, OrvaTexture::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Surface, StartAlways<OrvaSurface::Initialize>, OrvaSurface::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Scene, OrvaScene::Initialize, OrvaScene::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Model, OrvaModel::Initialize, OrvaModel::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Sprite, OrvaSprite::Initialize, OrvaSprite::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::ListSprite, OrvaListSprite::Initialize, OrvaListSprite::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::GdiFont, StartAlways<OrvaFont::Initialize>, OrvaFont::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::FontSprite, OrvaFontSprite::Initialize, OrvaFontSprite::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::FontEffects, OrvaFontFx::Initialize, OrvaFontFx::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Sheet, OrvaSheet::Initialize, OrvaSheet::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Primitive2D, OrvaPrimitive::Initialize, OrvaPrimitive::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Primitive3D, OrvaPrimitive3D::Initialize, OrvaPrimitive3D::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Particle, OrvaParticle::Initialize, OrvaParticle::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Input, OrvaInput::Initialize, OrvaInput::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Sound, StartedIfNonZero<OrvaSound::Initialize>, OrvaSound::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Music, StartedIfNonZero<OrvaMusic::Initialize>, OrvaMusic::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Audio, StartAudio, StopAudio);
    OrvaApplication::SetModuleEntry(OrvaModule::Media, StartedIfNonZero<OrvaMedia::Initialize>, OrvaMedia::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Network, OrvaNetwork::Initialize, OrvaNetwork::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Mci, StartMci, StopMci);
}
