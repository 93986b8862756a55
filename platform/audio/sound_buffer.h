#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/audio/effects.h"

// Whole sounds held in memory and played through the mixer: the device that
// makes them, its primary (output) buffer, and the static sound buffers.
namespace platform {

// Sample codings of a wave format.
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatFloat = 3;
// The coding is in the first two bytes of subFormat.
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// A wave format as WAV files store it (the 18-byte header, then the 22 bytes
// an extensible format adds).
struct WaveFormat {
    uint16_t formatTag = kWaveFormatPcm;
    uint16_t channels = 2;
    uint32_t samplesPerSec = kAudioRate;
    uint32_t avgBytesPerSec = kAudioRate * 4;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 0;
    uint16_t validBitsPerSample = 0;  // extensible only
    uint32_t channelMask = 0;         // extensible only
    uint8_t subFormat[16] = {};       // extensible only

    // The sizes of the two stored forms.
    static constexpr size_t kBaseBytes = 18;
    static constexpr size_t kExtensibleBytes = 40;
    // Reads the little-endian stored form: kBaseBytes, or kExtensibleBytes
    // when the tag is kWaveFormatExtensible. False when `size` is too short.
    static bool Read(const uint8_t* bytes, size_t size, WaveFormat* out);
};

// The coding of a format: its tag, or for an extensible format the tag in
// the first two bytes of its sub-format.
uint16_t GetWaveCoding(const WaveFormat& format);
// The usual name of a coding ("PCM", "MPEG Layer-3", "IMA ADPCM"); null for
// one we have no name for.
const char* GetWaveCodingName(uint16_t coding);
// True when sound buffers can be made in the format: PCM of 8, 16, 24 or 32
// bits or 32-bit float, 1 to 8 channels, 100 Hz to 200 kHz, one sample of
// each channel a block. Compressed codings never are: buffers hold samples.
bool IsWaveFormatPlayable(const WaveFormat& format);

enum class SoundResult {
    kOk,
    kNoDevice,       // the device was not initialised, or no output started
    kBadFormat,      // a coding, size or rate the mixer cannot play
    kBadParam,       // a value outside its range
    kInvalidCall,    // not possible in the buffer's present state
    kOutOfMemory,
};

// How a program shares the output: at priority it may set the primary
// buffer's format.
enum class CooperativeLevel { kNormal = 1, kPriority = 2 };

class SoundBuffer;

// The output mix as a buffer: its format says what the program asked the
// output to be. The mixer itself always runs at kAudioRate in floats and
// converts every buffer to that.
class PrimaryBuffer {
public:
    SoundResult SetFormat(const WaveFormat& format);
    WaveFormat GetFormat() const;

private:
    friend class SoundDevice;
    explicit PrimaryBuffer(const class SoundDevice& device) : device(device) {}
    const SoundDevice& device;
    mutable std::mutex lock;
    WaveFormat format;
};

// Makes sound buffers. Its operations run on one thread (the sound worker).
class SoundDevice {
public:
    // Null only when memory runs out.
    static std::unique_ptr<SoundDevice> Create();
    // Closes the output when it was opened.
    ~SoundDevice();

    // Opens the output device (AudioDevice) for this device's buffers.
    SoundResult Initialize();
    bool IsInitialized() const { return initialized; }
    SoundResult SetCooperativeLevel(CooperativeLevel level);
    CooperativeLevel GetCooperativeLevel() const { return level; }
    // Our buffers live in ordinary memory: nothing moves, so this only checks
    // that the device is usable.
    SoundResult Compact();
    // The one primary buffer; null (with result) before Initialize.
    std::unique_ptr<PrimaryBuffer> CreatePrimaryBuffer(SoundResult* result);
    // A stopped buffer of `bytes` bytes of silence in `format`, attached to
    // the mixer. Null (with result) when the device is not initialised, the
    // format is not one we play or bytes is 0 or over kMaxBufferBytes.
    std::unique_ptr<SoundBuffer> CreateSoundBuffer(const WaveFormat& format, uint32_t bytes, SoundResult* result);

    static constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;

    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

private:
    SoundDevice() = default;
    bool initialized = false;
    CooperativeLevel level = CooperativeLevel::kNormal;
};

// A whole sound in memory, played from a position at its own rate through
// its effects, volume and pan into the mixer. Control may come from any one
// thread at a time; the mixer pulls on its own.
class SoundBuffer final : public AudioSource {
public:
    // GetStatus bits.
    static constexpr uint32_t kStatusPlaying = 0x1;
    static constexpr uint32_t kStatusLooping = 0x4;

    static constexpr int32_t kVolumeMin = -10000;  // hundredths of a decibel: silence
    static constexpr int32_t kVolumeMax = 0;
    static constexpr int32_t kPanLeft = -10000;    // the right side silenced
    static constexpr int32_t kPanRight = 10000;
    static constexpr uint32_t kFrequencyOriginal = 0;
    static constexpr uint32_t kFrequencyMin = 100;     // Hz
    static constexpr uint32_t kFrequencyMax = 200000;  // Hz

    // Leaves the mixer before the samples go.
    ~SoundBuffer() override;

    // A second buffer playing the same samples with its own position, volume,
    // pan and frequency, stopped, without effects. Null with result when memory
    // runs out or this buffer carries effects.
    std::unique_ptr<SoundBuffer> Duplicate(SoundResult* result) const;

    // Gives the whole buffer for writing; it plays silence until Unlock. False
    // when it is locked already. Every duplicate shares the lock.
    bool Lock(void** data, uint32_t* bytes);
    void Unlock();

    // Plays from the current position; at the end a looping buffer goes on
    // from the start, another stops with its position back at the start.
    void Play(bool looping);
    // Holds the position.
    void Stop();
    uint32_t GetStatus() const;
    // In bytes from the start; kBadParam at or past the end.
    SoundResult SetCurrentPosition(uint32_t byteOffset);
    uint32_t GetCurrentPosition() const;

    SoundResult SetVolume(int32_t hundredthsDb);
    int32_t GetVolume() const;
    SoundResult SetPan(int32_t hundredthsDb);
    int32_t GetPan() const;
    // Samples a second the buffer plays at (kFrequencyOriginal: its format's).
    SoundResult SetFrequency(uint32_t hertz);
    uint32_t GetFrequency() const;

    // Replaces the effects, in processing order (none for count 0). Only
    // while stopped: kInvalidCall while playing. On failure the buffer keeps
    // no effects.
    SoundResult SetEffects(const EffectKind* kinds, size_t count);
    size_t GetEffectCount() const;
    // False for an index past the effects or parameters of another kind or
    // out of range.
    bool SetEffectParams(size_t index, const EffectParams& params);
    bool GetEffectParams(size_t index, EffectParams* out) const;

    const WaveFormat& GetFormat() const { return format; }
    uint32_t GetSize() const;

    void Pull(float* out, size_t frames) override;

    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

private:
    friend class SoundDevice;
    struct Samples;
    SoundBuffer(const WaveFormat& format, std::shared_ptr<Samples> samples);
    void UpdateGains();
    void ReadFrame(const uint8_t* data, uint64_t frameIndex, float* left, float* right) const;

    // Fixed; read without the lock.
    const WaveFormat format;
    const std::shared_ptr<Samples> samples;
    const uint64_t frameCount;
    const int32_t coding;  // how one sample is stored, from the format

    // Guards everything below; taken inside the mixer's lock by Pull.
    mutable std::mutex lock;
    bool playing = false;
    bool looping = false;
    uint64_t position = 0;  // frames, 32.32 fixed point
    uint32_t frequency = kFrequencyOriginal;
    int32_t volume = kVolumeMax;
    int32_t pan = 0;
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    std::vector<std::unique_ptr<AudioEffect>> effects;
};

}  // namespace platform
