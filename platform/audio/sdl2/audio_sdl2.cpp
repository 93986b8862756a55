#include <SDL.h>

#include <cstdio>
#include <memory>

#include "platform/audio/audio.h"
#include "platform/audio/audio_backend.h"
#include "platform/sys/alsa_quiet.h"

namespace platform {

// The mixer's output through SDL2. SDL calls back on its own audio thread;
// it converts our float frames to whatever the hardware takes.
class Sdl2AudioBackend final : public AudioBackend {
public:
    const char* GetName() const override { return "sdl2"; }

    bool Start() override
    {
        const QuietAlsa quiet;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            std::fprintf(stderr, "audio: sdl2 audio did not start: %s\n", SDL_GetError());
            return false;
        }
        SDL_AudioSpec want;
        SDL_zero(want);
        want.freq = kAudioRate;
        want.format = AUDIO_F32SYS;
        want.channels = kAudioChannels;
        // 1024 frames, 23 ms: short enough for a posted play to be heard
        // within two video frames, long enough not to starve under load.
        want.samples = 1024;
        want.callback = &Sdl2AudioBackend::Callback;
        want.userdata = nullptr;
        SDL_AudioSpec have;
        SDL_zero(have);
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device == 0) {
            std::fprintf(stderr, "audio: sdl2 device did not open: %s\n", SDL_GetError());
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        const char* driver = SDL_GetCurrentAudioDriver();
        std::fprintf(stderr, "audio: sdl2 driver %s, %d frames a callback\n", driver != nullptr ? driver : "?",
                     have.samples);
        SDL_PauseAudioDevice(device, 0);
        return true;
    }

    void Stop() override
    {
        if (device == 0) {
            return;
        }
        // Closing waits for a callback in progress.
        SDL_CloseAudioDevice(device);
        device = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool MixesOnRequest() const override { return false; }

    ~Sdl2AudioBackend() override { Stop(); }

private:
    static void SDLCALL Callback(void* /*userdata*/, Uint8* stream, int length)
    {
        const size_t frames = static_cast<size_t>(length) / (sizeof(float) * kAudioChannels);
        MixAudio(reinterpret_cast<float*>(stream), frames);
    }

    SDL_AudioDeviceID device = 0;
};

std::unique_ptr<AudioBackend> CreateSdl2AudioBackend()
{
    return std::make_unique<Sdl2AudioBackend>();
}

}  // namespace platform
