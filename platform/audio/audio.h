#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// The one format the mixer works in: 44.1 kHz, stereo, interleaved floats
// with full scale at -1 and 1.
constexpr int32_t kAudioRate = 44100;
constexpr int32_t kAudioChannels = 2;

// Something the mixer plays: a stream, a sound buffer.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Called on the mixer's thread: writes exactly `frames` interleaved stereo
    // frames into out, silence where it has nothing to play. It must not
    // call into AudioDevice.
    virtual void Pull(float* out, size_t frames) = 0;
};

// The process's one output device and the mixer that feeds it. Every
// operation may be called from any thread.
class AudioDevice {
public:
    // Opens the device for its first user and counts the others. The device
    // is the one named by ORVA_AUDIO (sdl2 or null), else the first that
    // starts, sdl2 before null; the choice is logged. False when none starts.
    static bool Open();
    // Drops one user; the last closes the device.
    static void Close();
    static bool IsOpen();
    // "sdl2" or "null"; empty while closed.
    static const char* GetBackendName();

    // Mixes the source into the output until it is removed. False when the
    // device is closed.
    static bool AddSource(AudioSource* source);
    // When this returns the mixer is not inside source->Pull and never calls
    // it again, so the source may be destroyed.
    static void RemoveSource(AudioSource* source);

    // On the null device, mixes `frames` frames now into out (interleaved
    // stereo); false on a device that pulls by itself, or when closed.
    static bool Render(float* out, size_t frames);
};

}  // namespace platform
