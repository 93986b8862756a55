#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <variant>

// The standard sound effects a sound buffer can run its output through, each
// a plain DSP of our own working on interleaved stereo float frames. The
// parameter structs start at each effect's default; every field carries its
// unit and range.
namespace platform {

enum class EffectKind : int32_t {
    kChorus,
    kCompressor,
    kDistortion,
    kEcho,
    kFlanger,
    kGargle,
    kParamEq,
    kReverb,
};

// Sweep shapes of the chorus and flanger.
constexpr int32_t kSweepTriangle = 0;
constexpr int32_t kSweepSine = 1;

struct ChorusParams {
    float wetDryMix = 50.0f;  // percent of the output that is delayed sound, 0 to 100
    float depth = 10.0f;      // percent of the delay swept each way, 0 to 100
    float feedback = 25.0f;   // percent fed back into the delay, -99 to 99
    float frequency = 1.1f;   // Hz of the sweep, 0 to 10
    int32_t waveform = kSweepSine;
    float delay = 16.0f;      // ms at the middle of the sweep, 0 to 20
    int32_t phase = 3;        // right sweep against the left: 0 to 4 for -180, -90, 0, 90, 180 degrees
};

struct FlangerParams {
    float wetDryMix = 50.0f;   // percent, 0 to 100
    float depth = 100.0f;      // percent, 0 to 100
    float feedback = -50.0f;   // percent, -99 to 99
    float frequency = 0.25f;   // Hz, 0 to 10
    int32_t waveform = kSweepSine;
    float delay = 2.0f;        // ms, 0 to 4
    int32_t phase = 2;         // 0 to 4, as the chorus
};

struct CompressorParams {
    float gain = 0.0f;         // dB after compression, -60 to 60
    float attack = 10.0f;      // ms, 0.01 to 500
    float release = 200.0f;    // ms, 50 to 3000
    float threshold = -20.0f;  // dB, -60 to 0
    float ratio = 3.0f;        // input dB over the threshold per output dB, 1 to 100
    float predelay = 4.0f;     // ms the sound lags its level detector, 0 to 4
};

struct DistortionParams {
    float gain = -18.0f;              // dB, -60 to 0
    float edge = 15.0f;               // percent of drive, 0 to 100
    float postEqCenter = 2400.0f;     // Hz of the band kept after shaping, 100 to 8000
    float postEqBandwidth = 2400.0f;  // Hz, 100 to 8000
    float preLowpassCutoff = 8000.0f; // Hz, 100 to 8000
};

struct EchoParams {
    float wetDryMix = 50.0f;    // percent, 0 to 100
    float feedback = 50.0f;     // percent, 0 to 100
    float leftDelay = 500.0f;   // ms, 1 to 2000
    float rightDelay = 500.0f;  // ms, 1 to 2000
    int32_t panDelay = 0;       // 1 swaps the sides at each repeat
};

// Square or triangle amplitude modulation.
constexpr int32_t kGargleTriangle = 0;
constexpr int32_t kGargleSquare = 1;

struct GargleParams {
    int32_t rate = 20;  // Hz, 1 to 1000
    int32_t waveShape = kGargleTriangle;
};

struct ParamEqParams {
    float center = 8000.0f;   // Hz, 80 to 16000 (held below the Nyquist limit)
    float bandwidth = 12.0f;  // semitones, 1 to 36
    float gain = 0.0f;        // dB at the centre, -15 to 15
};

struct ReverbParams {
    int32_t level = -1000;        // hundredths of a decibel of the reverberation, -10000 to 0
    float decayTime = 1.49f;      // seconds for the tail to fall by 60 dB, 0.1 to 20
    float hfRatio = 0.83f;        // high-frequency decay time against decayTime, 0.1 to 2
    float preDelay = 0.02f;       // seconds before the tail starts, 0 to 0.3
    float diffusion = 100.0f;     // percent of echo density, 0 to 100
};

// Rooms the reverb can be set to at once, numbered 0 to kReverbPresetCount - 1:
// default, generic, padded cell, room, bathroom, living room, stone room,
// auditorium, concert hall, cave, arena, hangar, carpeted hallway, hallway,
// stone corridor, alley, forest, city, mountains, quarry, plain, parking lot,
// sewer pipe, underwater, small room, medium room, large room, medium hall,
// large hall, plate.
constexpr int32_t kReverbPresetCount = 30;
// False for a number outside the table.
bool GetReverbPreset(int32_t preset, ReverbParams* out);

using EffectParams = std::variant<ChorusParams, CompressorParams, DistortionParams, EchoParams, FlangerParams,
                                  GargleParams, ParamEqParams, ReverbParams>;

class AudioEffect {
public:
    virtual ~AudioEffect() = default;
    virtual EffectKind GetKind() const = 0;
    virtual EffectParams GetParams() const = 0;
    // False, changing nothing, for another effect's parameters or a value
    // outside its range (NaN included).
    virtual bool SetParams(const EffectParams& params) = 0;
    // Forgets every sound heard so far: delay lines, envelopes, sweeps.
    virtual void Reset() = 0;
    // Processes interleaved stereo frames in place. Allocates nothing.
    virtual void Process(float* frames, size_t count) = 0;
};

// An effect at its defaults for frames at `rate` (Hz); null when memory runs
// out or the kind or rate is not one we have.
std::unique_ptr<AudioEffect> CreateEffect(EffectKind kind, int32_t rate);

}  // namespace platform
