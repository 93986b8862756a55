#pragma once
// The audio device and its mixer, and what the mixer plays.
#include <cstddef>
#include <cstdint>

namespace platform {

// The one format the mixer works in: 44.1 kHz, stereo, interleaved floats
// with full scale at -1 and 1.
constexpr int32_t kAudioRate = 44100;
constexpr int32_t kAudioChannels = 2;

// The input lines of the mix, as a system mixer names its volumes: digital
// sound played by programs, the MIDI synthesizer, CD audio.
enum class AudioLine : int32_t { kWave, kSynthesizer, kCompactDisc };
constexpr int32_t kAudioLineCount = 3;

// Something the mixer plays: a stream, a sound buffer.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Called on the mixer's thread: writes exactly `frames` interleaved stereo
    // frames into out, silence where it has nothing to play. It must not
    // call into AudioDevice.
    virtual void Pull(float* out, size_t frames) = 0;
    // The line whose gain the mixer applies to this source; fixed for the
    // source's life.
    virtual AudioLine GetLine() const { return AudioLine::kWave; }
};

// The process's one output device and the mixer that feeds it. Every
// operation may be called from any thread.
class AudioDevice {
public:
    // Opens the device for its first user and counts the others. The device
    // is the one named by ORVA_AUDIO (sdl2 or null), else the first that
    // starts, sdl2 before null; the choice is logged. False when none starts.
    //
    // Either device takes the mix in real time, one period of kPeriodFrames
    // at a time, so that every clock that follows the output (a stream's
    // end, a movie's picture) moves as a listener would hear it: SDL2 when
    // the hardware asks, the null device on a thread of its own that plays
    // into nothing.
    static bool Open();
    // Drops one user; the last closes the device.
    static void Close();
    static bool IsOpen();
    // "sdl2" or "null"; empty while closed.
    static const char* GetBackendName();

    // The frames of one device period: 23 ms.
    static constexpr size_t kPeriodFrames = 1024;

    // For tests that need the mix frame for frame: true makes the null
    // device take the mix only through Render, so its time moves only when
    // the caller renders; false (the default) lets it take the mix in real
    // time. Process-wide; takes effect at once, also on an open device.
    // The SDL2 device always takes the mix by itself.
    static void SetRenderByHand(bool byHand);
    static bool IsRenderByHand();

    // Where the listener is in the output, in frames since the process's
    // first mix: the frames mixed before the last period plus as much of
    // that period as has played since the device took it, so that a clock
    // that follows the output moves smoothly between periods, never ahead
    // of what was mixed and never back. Frames rendered by hand count as
    // heard once rendered, unless a clock was set for tests.
    static uint64_t GetPlayedFrames();
    // Within a source's Pull only: the output frame at which the frames it
    // is asked for begin. Takes no lock.
    static uint64_t GetPullFrame();
    // For tests: the clock (nanoseconds, any origin) by which the played
    // position moves through a period, in place of the steady clock; while
    // one is set, each render by hand is a period taken at its time. Null
    // restores the steady clock.
    static void SetClock(int64_t (*nanoseconds)());

    // Mixes the source into the output until it is removed. False when the
    // device is closed.
    static bool AddSource(AudioSource* source);
    // When this returns the mixer is not inside source->Pull and never calls
    // it again, so the source may be destroyed.
    static void RemoveSource(AudioSource* source);

    // On the null device rendering by hand, mixes `frames` frames now into
    // out (interleaved stereo); false on a device that takes the mix by
    // itself, or when closed.
    static bool Render(float* out, size_t frames);

    // Gains of the mix, 0 (silent) to 1 (unchanged, the default): the master
    // gain on the whole output, a line's gain on every source of that line.
    // This is the output volume a system mixer sets where no hardware
    // control exists. Process-wide, kept while the device is closed; a value
    // outside 0 to 1 (or NaN) is clamped into it.
    static void SetMasterGain(float gain);
    static float GetMasterGain();
    static void SetLineGain(AudioLine line, float gain);
    // 1 for a line that is not one of AudioLine.
    static float GetLineGain(AudioLine line);
};

}  // namespace platform
