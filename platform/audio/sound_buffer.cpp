// Sound buffers: wave formats, whole sounds in memory, their playing
// through the mixer and their effects.
#include "platform/audio/sound_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace platform {

// How one sample is stored.
enum SampleCoding : int32_t {
    kCodingNone,
    kCodingUnsigned8,
    kCodingSigned16,
    kCodingSigned24,
    kCodingSigned32,
    kCodingFloat32,
};

struct SoundBuffer::Samples {
    // Guards `locked` and the bytes against a reader while a writer holds
    // them; taken inside a buffer's lock by Pull.
    std::mutex lock;
    bool locked = false;
    std::vector<uint8_t> bytes;
};

static uint16_t ReadU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

static uint32_t ReadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool WaveFormat::Read(const uint8_t* bytes, size_t size, WaveFormat* out)
{
    if (bytes == nullptr || out == nullptr || size < kBaseBytes) {
        return false;
    }
    WaveFormat format;
    format.formatTag = ReadU16(bytes);
    format.channels = ReadU16(bytes + 2);
    format.samplesPerSec = ReadU32(bytes + 4);
    format.avgBytesPerSec = ReadU32(bytes + 8);
    format.blockAlign = ReadU16(bytes + 12);
    format.bitsPerSample = ReadU16(bytes + 14);
    format.extraSize = ReadU16(bytes + 16);
    if (format.formatTag == kWaveFormatExtensible) {
        if (size < kExtensibleBytes) {
            return false;
        }
        format.validBitsPerSample = ReadU16(bytes + 18);
        format.channelMask = ReadU32(bytes + 20);
        std::memcpy(format.subFormat, bytes + 24, sizeof format.subFormat);
    }
    *out = format;
    return true;
}

uint16_t GetWaveCoding(const WaveFormat& format)
{
    if (format.formatTag == kWaveFormatExtensible) {
        return static_cast<uint16_t>(format.subFormat[0] | (format.subFormat[1] << 8));
    }
    return format.formatTag;
}

const char* GetWaveCodingName(uint16_t coding)
{
    // The registered codings one meets in WAV files.
    static const struct {
        uint16_t coding;
        const char* name;
    } kNames[] = {
        {0x0001, "PCM"},          {0x0002, "Microsoft ADPCM"}, {0x0003, "IEEE float"},
        {0x0006, "A-law"},        {0x0007, "mu-law"},          {0x0011, "IMA ADPCM"},
        {0x0022, "TrueSpeech"},   {0x0031, "GSM 6.10"},        {0x0040, "G.721 ADPCM"},
        {0x0050, "MPEG"},         {0x0055, "MPEG Layer-3"},    {0x0092, "AC-3 over S/PDIF"},
        {0x00FF, "AAC"},          {0x0160, "WMA 1"},           {0x0161, "WMA 2"},
        {0x0162, "WMA Pro"},      {0x0163, "WMA Lossless"},    {0x1610, "HE-AAC"},
        {0x2000, "AC-3"},         {0x2001, "DTS"},             {0x674F, "Vorbis"},
        {0x6750, "Vorbis"},       {0x6751, "Vorbis"},          {0xF1AC, "FLAC"},
        {0xFFFE, "extensible"},
    };
    for (const auto& entry : kNames) {
        if (entry.coding == coding) {
            return entry.name;
        }
    }
    return nullptr;
}

// The coding of a format the mixer can play, else kCodingNone.
static SampleCoding CodingOf(const WaveFormat& format)
{
    const uint16_t tag = GetWaveCoding(format);
    if (format.channels < 1 || format.channels > 8 || format.samplesPerSec < SoundBuffer::kFrequencyMin ||
        format.samplesPerSec > SoundBuffer::kFrequencyMax) {
        return kCodingNone;
    }
    // A block must be exactly one sample of each channel, or frames would be
    // read across their neighbours.
    if (format.bitsPerSample % 8 != 0 || format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
        return kCodingNone;
    }
    if (tag == kWaveFormatPcm) {
        switch (format.bitsPerSample) {
        case 8:
            return kCodingUnsigned8;
        case 16:
            return kCodingSigned16;
        case 24:
            return kCodingSigned24;
        case 32:
            return kCodingSigned32;
        default:
            return kCodingNone;
        }
    }
    if (tag == kWaveFormatFloat && format.bitsPerSample == 32) {
        return kCodingFloat32;
    }
    return kCodingNone;
}

bool IsWaveFormatPlayable(const WaveFormat& format)
{
    return CodingOf(format) != kCodingNone;
}

static float DecodeSample(const uint8_t* p, int32_t coding)
{
    switch (coding) {
    case kCodingUnsigned8:
        return (static_cast<int32_t>(p[0]) - 128) / 128.0f;
    case kCodingSigned16:
        return static_cast<int16_t>(ReadU16(p)) / 32768.0f;
    case kCodingSigned24: {
        // The three bytes at the top of a word, shifted down to sign-extend.
        const uint32_t top = (static_cast<uint32_t>(p[0]) << 8) | (static_cast<uint32_t>(p[1]) << 16) |
                             (static_cast<uint32_t>(p[2]) << 24);
        return static_cast<float>((static_cast<int32_t>(top) >> 8) / 8388608.0);
    }
    case kCodingSigned32:
        return static_cast<float>(static_cast<int32_t>(ReadU32(p)) / 2147483648.0);
    case kCodingFloat32: {
        const uint32_t bits = ReadU32(p);
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        // A stored NaN or infinity would poison the whole mix.
        return std::isfinite(value) ? value : 0.0f;
    }
    default:
        return 0.0f;
    }
}

// Hundredths of a decibel to a gain factor; the floor is silence.
static float AttenuationToGain(int32_t hundredthsDb)
{
    if (hundredthsDb <= SoundBuffer::kVolumeMin) {
        return 0.0f;
    }
    return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

SoundResult PrimaryBuffer::SetFormat(const WaveFormat& wanted)
{
    if (device.GetCooperativeLevel() != CooperativeLevel::kPriority) {
        return SoundResult::kInvalidCall;
    }
    if (CodingOf(wanted) == kCodingNone) {
        return SoundResult::kBadFormat;
    }
    std::lock_guard<std::mutex> guard(lock);
    format = wanted;
    return SoundResult::kOk;
}

WaveFormat PrimaryBuffer::GetFormat() const
{
    std::lock_guard<std::mutex> guard(lock);
    return format;
}

std::unique_ptr<SoundDevice> SoundDevice::Create()
{
    return std::unique_ptr<SoundDevice>(new (std::nothrow) SoundDevice());
}

SoundDevice::~SoundDevice()
{
    if (initialized) {
        AudioDevice::Close();
    }
}

SoundResult SoundDevice::Initialize()
{
    if (initialized) {
        return SoundResult::kInvalidCall;
    }
    if (!AudioDevice::Open()) {
        return SoundResult::kNoDevice;
    }
    initialized = true;
    return SoundResult::kOk;
}

SoundResult SoundDevice::SetCooperativeLevel(CooperativeLevel wanted)
{
    if (!initialized) {
        return SoundResult::kNoDevice;
    }
    if (wanted != CooperativeLevel::kNormal && wanted != CooperativeLevel::kPriority) {
        return SoundResult::kBadParam;
    }
    level = wanted;
    return SoundResult::kOk;
}

SoundResult SoundDevice::Compact()
{
    return initialized ? SoundResult::kOk : SoundResult::kNoDevice;
}

std::unique_ptr<PrimaryBuffer> SoundDevice::CreatePrimaryBuffer(SoundResult* result)
{
    SoundResult ignored = SoundResult::kOk;
    SoundResult& r = result != nullptr ? *result : ignored;
    if (!initialized) {
        r = SoundResult::kNoDevice;
        return nullptr;
    }
    std::unique_ptr<PrimaryBuffer> primary(new (std::nothrow) PrimaryBuffer(*this));
    r = primary != nullptr ? SoundResult::kOk : SoundResult::kOutOfMemory;
    return primary;
}

std::unique_ptr<SoundBuffer> SoundDevice::CreateSoundBuffer(const WaveFormat& format, uint32_t bytes,
                                                            SoundResult* result)
{
    SoundResult ignored = SoundResult::kOk;
    SoundResult& r = result != nullptr ? *result : ignored;
    if (!initialized) {
        r = SoundResult::kNoDevice;
        return nullptr;
    }
    if (CodingOf(format) == kCodingNone) {
        r = SoundResult::kBadFormat;
        return nullptr;
    }
    if (bytes == 0 || bytes > kMaxBufferBytes) {
        r = SoundResult::kBadParam;
        return nullptr;
    }
    std::unique_ptr<SoundBuffer> buffer;
    try {
        auto samples = std::make_shared<SoundBuffer::Samples>();
        samples->bytes.assign(bytes, 0);
        buffer.reset(new SoundBuffer(format, std::move(samples)));
    } catch (const std::bad_alloc&) {
        r = SoundResult::kOutOfMemory;
        return nullptr;
    }
    if (!AudioDevice::AddSource(buffer.get())) {
        r = SoundResult::kNoDevice;
        return nullptr;
    }
    r = SoundResult::kOk;
    return buffer;
}

SoundBuffer::SoundBuffer(const WaveFormat& format, std::shared_ptr<Samples> samples)
    : format(format),
      samples(std::move(samples)),
      frameCount(this->samples->bytes.size() / format.blockAlign),
      coding(CodingOf(format))
{
}

SoundBuffer::~SoundBuffer()
{
    AudioDevice::RemoveSource(this);
}

std::unique_ptr<SoundBuffer> SoundBuffer::Duplicate(SoundResult* result) const
{
    SoundResult ignored = SoundResult::kOk;
    SoundResult& r = result != nullptr ? *result : ignored;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!effects.empty()) {
            r = SoundResult::kInvalidCall;
            return nullptr;
        }
    }
    std::unique_ptr<SoundBuffer> copy(new (std::nothrow) SoundBuffer(format, samples));
    if (copy == nullptr) {
        r = SoundResult::kOutOfMemory;
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        copy->volume = volume;
        copy->pan = pan;
        copy->frequency = frequency;
    }
    copy->UpdateGains();
    if (!AudioDevice::AddSource(copy.get())) {
        r = SoundResult::kNoDevice;
        return nullptr;
    }
    r = SoundResult::kOk;
    return copy;
}

bool SoundBuffer::Lock(void** data, uint32_t* bytes)
{
    if (data == nullptr || bytes == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(samples->lock);
    if (samples->locked) {
        return false;
    }
    samples->locked = true;
    *data = samples->bytes.data();
    *bytes = static_cast<uint32_t>(samples->bytes.size());
    return true;
}

void SoundBuffer::Unlock()
{
    std::lock_guard<std::mutex> guard(samples->lock);
    samples->locked = false;
}

uint32_t SoundBuffer::GetSize() const
{
    return static_cast<uint32_t>(samples->bytes.size());
}

void SoundBuffer::Play(bool loop)
{
    std::lock_guard<std::mutex> guard(lock);
    playing = true;
    looping = loop;
}

void SoundBuffer::Stop()
{
    std::lock_guard<std::mutex> guard(lock);
    playing = false;
}

uint32_t SoundBuffer::GetStatus() const
{
    std::lock_guard<std::mutex> guard(lock);
    if (!playing) {
        return 0;
    }
    return kStatusPlaying | (looping ? kStatusLooping : 0);
}

SoundResult SoundBuffer::SetCurrentPosition(uint32_t byteOffset)
{
    const uint64_t frame = byteOffset / format.blockAlign;
    if (byteOffset >= samples->bytes.size()) {
        return SoundResult::kBadParam;
    }
    std::lock_guard<std::mutex> guard(lock);
    position = frame << 32;
    return SoundResult::kOk;
}

uint32_t SoundBuffer::GetCurrentPosition() const
{
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<uint32_t>((position >> 32) * format.blockAlign);
}

SoundResult SoundBuffer::SetVolume(int32_t hundredthsDb)
{
    if (hundredthsDb < kVolumeMin || hundredthsDb > kVolumeMax) {
        return SoundResult::kBadParam;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        volume = hundredthsDb;
    }
    UpdateGains();
    return SoundResult::kOk;
}

int32_t SoundBuffer::GetVolume() const
{
    std::lock_guard<std::mutex> guard(lock);
    return volume;
}

SoundResult SoundBuffer::SetPan(int32_t hundredthsDb)
{
    if (hundredthsDb < kPanLeft || hundredthsDb > kPanRight) {
        return SoundResult::kBadParam;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        pan = hundredthsDb;
    }
    UpdateGains();
    return SoundResult::kOk;
}

int32_t SoundBuffer::GetPan() const
{
    std::lock_guard<std::mutex> guard(lock);
    return pan;
}

SoundResult SoundBuffer::SetFrequency(uint32_t hertz)
{
    if (hertz != kFrequencyOriginal && (hertz < kFrequencyMin || hertz > kFrequencyMax)) {
        return SoundResult::kBadParam;
    }
    std::lock_guard<std::mutex> guard(lock);
    frequency = hertz;
    return SoundResult::kOk;
}

uint32_t SoundBuffer::GetFrequency() const
{
    std::lock_guard<std::mutex> guard(lock);
    return frequency == kFrequencyOriginal ? format.samplesPerSec : frequency;
}

void SoundBuffer::UpdateGains()
{
    std::lock_guard<std::mutex> guard(lock);
    const float level = AttenuationToGain(volume);
    // Pan attenuates the far side only, as the volume does the whole.
    gainLeft = level * (pan > 0 ? AttenuationToGain(-pan) : 1.0f);
    gainRight = level * (pan < 0 ? AttenuationToGain(pan) : 1.0f);
}

SoundResult SoundBuffer::SetEffects(const EffectKind* kinds, size_t count)
{
    if (count > 0 && kinds == nullptr) {
        return SoundResult::kBadParam;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        if (playing) {
            return SoundResult::kInvalidCall;
        }
    }
    // Built outside the lock: the mixer must not wait for the allocations.
    std::vector<std::unique_ptr<AudioEffect>> built;
    SoundResult result = SoundResult::kOk;
    try {
        built.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            std::unique_ptr<AudioEffect> effect = CreateEffect(kinds[i], kAudioRate);
            if (effect == nullptr) {
                result = SoundResult::kOutOfMemory;
                built.clear();
                break;
            }
            built.push_back(std::move(effect));
        }
    } catch (const std::bad_alloc&) {
        result = SoundResult::kOutOfMemory;
        built.clear();
    }
    std::lock_guard<std::mutex> guard(lock);
    if (playing) {
        return SoundResult::kInvalidCall;
    }
    effects.swap(built);
    // The old effects go when `built` does, after the lock.
    return result;
}

size_t SoundBuffer::GetEffectCount() const
{
    std::lock_guard<std::mutex> guard(lock);
    return effects.size();
}

bool SoundBuffer::SetEffectParams(size_t index, const EffectParams& params)
{
    std::lock_guard<std::mutex> guard(lock);
    if (index >= effects.size()) {
        return false;
    }
    return effects[index]->SetParams(params);
}

bool SoundBuffer::GetEffectParams(size_t index, EffectParams* out) const
{
    std::lock_guard<std::mutex> guard(lock);
    if (out == nullptr || index >= effects.size()) {
        return false;
    }
    *out = effects[index]->GetParams();
    return true;
}

void SoundBuffer::ReadFrame(const uint8_t* data, uint64_t frameIndex, float* left, float* right) const
{
    const uint8_t* frame = data + frameIndex * format.blockAlign;
    const size_t sampleBytes = format.bitsPerSample / 8;
    *left = DecodeSample(frame, coding);
    // Mono plays on both sides; of more channels, the front pair.
    *right = format.channels > 1 ? DecodeSample(frame + sampleBytes, coding) : *left;
}

void SoundBuffer::Pull(float* out, size_t frames)
{
    std::memset(out, 0, frames * kAudioChannels * sizeof(float));
    std::lock_guard<std::mutex> guard(lock);
    if (!playing) {
        return;
    }
    std::lock_guard<std::mutex> samplesGuard(samples->lock);
    // While a writer holds the samples, the buffer plays on in silence.
    const uint8_t* data = samples->locked ? nullptr : samples->bytes.data();
    const uint32_t rate = frequency == kFrequencyOriginal ? format.samplesPerSec : frequency;
    const uint64_t step = (static_cast<uint64_t>(rate) << 32) / kAudioRate;
    const uint64_t end = frameCount << 32;
    size_t rendered = 0;
    for (; rendered < frames; ++rendered) {
        if (position >= end) {
            if (looping && frameCount > 0) {
                position %= end;
            } else {
                playing = false;
                position = 0;
                break;
            }
        }
        if (data == nullptr) {
            position += step;
            continue;
        }
        const uint64_t index = position >> 32;
        const uint32_t fraction = static_cast<uint32_t>(position);
        float left = 0.0f;
        float right = 0.0f;
        ReadFrame(data, index, &left, &right);
        if (fraction != 0) {
            // Between two frames: a straight line from this one to the next
            // (the first again when looping, else this one held).
            uint64_t next = index + 1;
            if (next >= frameCount) {
                next = looping ? 0 : index;
            }
            float nextLeft = 0.0f;
            float nextRight = 0.0f;
            ReadFrame(data, next, &nextLeft, &nextRight);
            const float t = static_cast<float>(fraction / 4294967296.0);
            left += (nextLeft - left) * t;
            right += (nextRight - right) * t;
        }
        out[2 * rendered] = left;
        out[2 * rendered + 1] = right;
        position += step;
    }
    for (const std::unique_ptr<AudioEffect>& effect : effects) {
        effect->Process(out, rendered);
    }
    for (size_t i = 0; i < rendered; ++i) {
        out[2 * i] *= gainLeft;
        out[2 * i + 1] *= gainRight;
    }
}

}  // namespace platform
