#pragma once
#include <cstddef>
#include <memory>

// What an output device provides to the mixer. Only the mixer and the
// backends include this.
namespace platform {

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual const char* GetName() const = 0;
    // Starts output; from then on the backend calls MixAudio whenever it
    // needs frames. False (with a line on stderr) when the device cannot start.
    virtual bool Start() = 0;
    // Stops output; MixAudio is not called after this returns.
    virtual void Stop() = 0;
    // True while the device plays nothing by itself and mixes into memory
    // only when asked (AudioDevice::Render).
    virtual bool MixesOnRequest() const = 0;
    // Asks a device that can do either to mix only on request (true) or by
    // itself in real time (false); before Start it chooses how Start begins.
    // Never called with the mixer's lock held: stopping a thread that mixes
    // waits for it. Devices that always mix by themselves ignore it.
    virtual void SetRenderByHand(bool /*byHand*/) {}
};

std::unique_ptr<AudioBackend> CreateSdl2AudioBackend();
std::unique_ptr<AudioBackend> CreateNullAudioBackend();

// Mixes every source into out (interleaved stereo, kAudioRate), clamped to
// full scale. The one entry the backends call.
void MixAudio(float* out, size_t frames);

}  // namespace platform
