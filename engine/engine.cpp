#include "engine/engine.h"

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/font.h"
#include "engine/core/input.h"
#include "engine/core/math.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "engine/sound/audio.h"
#include "engine/sound/network.h"

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

void OrvaEngine::RegisterModules()
{
    OrvaApplication::SetModuleEntry(OrvaModule::AngleTables, OrvaMath::Initialize, OrvaMath::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Device, StartDevice, StopDevice);
    OrvaApplication::SetModuleEntry(OrvaModule::Texture, StartAlways<OrvaTexture::Initialize>, OrvaTexture::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Surface, StartAlways<OrvaSurface::Initialize>, OrvaSurface::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::GdiFont, StartAlways<OrvaFont::Initialize>, OrvaFont::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Input, OrvaInput::Initialize, OrvaInput::Destroy);
    OrvaApplication::SetModuleEntry(OrvaModule::Audio, StartAudio, StopAudio);
    OrvaApplication::SetModuleEntry(OrvaModule::Network, OrvaNetwork::Initialize, OrvaNetwork::Destroy);
}
