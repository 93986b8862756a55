#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/audio/sound_buffer.h"

using namespace platform;

static WaveFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits)
{
    WaveFormat format;
    format.formatTag = kWaveFormatPcm;
    format.channels = channels;
    format.samplesPerSec = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.avgBytesPerSec = rate * format.blockAlign;
    return format;
}

class SoundBufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        device = SoundDevice::Create();
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(device->Initialize(), SoundResult::kOk);
    }
    // A buffer holding the samples, as 16-bit stereo at the mixer's rate
    // unless another format is given.
    std::unique_ptr<SoundBuffer> Make(const std::vector<int16_t>& samples, WaveFormat format = Pcm(2, 44100, 16))
    {
        return MakeBytes(samples.data(), samples.size() * 2, format);
    }
    std::unique_ptr<SoundBuffer> MakeBytes(const void* data, size_t bytes, const WaveFormat& format)
    {
        SoundResult result = SoundResult::kBadParam;
        std::unique_ptr<SoundBuffer> buffer =
            device->CreateSoundBuffer(format, static_cast<uint32_t>(bytes), &result);
        EXPECT_EQ(result, SoundResult::kOk);
        if (buffer == nullptr) {
            return nullptr;
        }
        void* target = nullptr;
        uint32_t size = 0;
        EXPECT_TRUE(buffer->Lock(&target, &size));
        EXPECT_EQ(size, bytes);
        std::memcpy(target, data, bytes);
        buffer->Unlock();
        return buffer;
    }
    static std::vector<float> Render(size_t frames)
    {
        std::vector<float> out(frames * 2, 9.0f);
        EXPECT_TRUE(AudioDevice::Render(out.data(), frames));
        return out;
    }
    std::unique_ptr<SoundDevice> device;
};

static float S(int16_t v)
{
    return v / 32768.0f;
}

// Four frames: left 1000, 2000, 3000, 4000 and the right their negations.
static const std::vector<int16_t> kFour = {1000, -1000, 2000, -2000, 3000, -3000, 4000, -4000};

TEST_F(SoundBufferTest, PlaysOnceToItsEndOrLoops)
{
    std::unique_ptr<SoundBuffer> buffer = Make(kFour);
    // A new buffer is silent and stopped.
    EXPECT_EQ(Render(4), std::vector<float>(8, 0.0f));
    buffer->Play(false);
    EXPECT_EQ(buffer->GetStatus(), SoundBuffer::kStatusPlaying);
    std::vector<float> out = Render(6);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(out[2 * i], S(kFour[2 * i]));
        EXPECT_EQ(out[2 * i + 1], S(kFour[2 * i + 1]));
    }
    EXPECT_EQ(out[8], 0.0f);
    EXPECT_EQ(out[11], 0.0f);
    // At its end it stopped, back at the start.
    EXPECT_EQ(buffer->GetStatus(), 0u);
    EXPECT_EQ(buffer->GetCurrentPosition(), 0u);

    buffer->Play(true);
    EXPECT_EQ(buffer->GetStatus(), SoundBuffer::kStatusPlaying | SoundBuffer::kStatusLooping);
    out = Render(10);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(out[2 * i], S(kFour[2 * (i % 4)])) << i;
    }
    // Stop holds the position; Play goes on from it.
    buffer->Stop();
    EXPECT_EQ(buffer->GetCurrentPosition(), 2u * 4u);
    EXPECT_EQ(Render(2), std::vector<float>(4, 0.0f));
    ASSERT_EQ(buffer->SetCurrentPosition(4), SoundResult::kOk);
    buffer->Play(false);
    out = Render(2);
    EXPECT_EQ(out[0], S(2000));
    EXPECT_EQ(out[2], S(3000));
    EXPECT_EQ(buffer->SetCurrentPosition(16), SoundResult::kBadParam);
}

TEST_F(SoundBufferTest, VolumeAndPanAttenuateInHundredthsOfADecibel)
{
    std::unique_ptr<SoundBuffer> buffer = Make(kFour);
    buffer->Play(true);
    ASSERT_EQ(buffer->SetVolume(-600), SoundResult::kOk);
    std::vector<float> out = Render(1);
    const float down6 = static_cast<float>(std::pow(10.0, -0.3));
    EXPECT_FLOAT_EQ(out[0], S(1000) * down6);
    EXPECT_FLOAT_EQ(out[1], S(-1000) * down6);
    ASSERT_EQ(buffer->SetVolume(0), SoundResult::kOk);
    // Pan to the right lowers the left only.
    ASSERT_EQ(buffer->SetPan(2000), SoundResult::kOk);
    out = Render(1);
    EXPECT_FLOAT_EQ(out[0], S(2000) * 0.1f);
    EXPECT_FLOAT_EQ(out[1], S(-2000));
    ASSERT_EQ(buffer->SetPan(SoundBuffer::kPanLeft), SoundResult::kOk);
    out = Render(1);
    EXPECT_FLOAT_EQ(out[0], S(3000));
    EXPECT_EQ(out[1], 0.0f);
    ASSERT_EQ(buffer->SetVolume(SoundBuffer::kVolumeMin), SoundResult::kOk);
    EXPECT_EQ(Render(4), std::vector<float>(8, 0.0f));
    EXPECT_EQ(buffer->SetVolume(1), SoundResult::kBadParam);
    EXPECT_EQ(buffer->SetPan(10001), SoundResult::kBadParam);
    EXPECT_EQ(buffer->GetVolume(), SoundBuffer::kVolumeMin);
}

TEST_F(SoundBufferTest, FrequencyChangesThePaceBetweenFrames)
{
    // Mono 8-bit at half the mixer's rate: each frame lasts two, the second
    // half way to the next frame, and both sides hear it.
    const uint8_t mono[] = {128, 192, 64};
    std::unique_ptr<SoundBuffer> buffer = MakeBytes(mono, sizeof mono, Pcm(1, 22050, 8));
    EXPECT_EQ(buffer->GetFrequency(), 22050u);
    buffer->Play(false);
    std::vector<float> out = Render(6);
    const float expected[] = {0.0f, 0.25f, 0.5f, 0.0f, -0.5f, -0.5f};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(out[2 * i], expected[i]) << i;
        EXPECT_FLOAT_EQ(out[2 * i + 1], expected[i]) << i;
    }
    // Twice the mixer's rate skips every other frame.
    std::unique_ptr<SoundBuffer> fast = Make(kFour);
    ASSERT_EQ(fast->SetFrequency(88200), SoundResult::kOk);
    fast->Play(false);
    out = Render(3);
    EXPECT_EQ(out[0], S(1000));
    EXPECT_EQ(out[2], S(3000));
    EXPECT_EQ(out[4], 0.0f);
    EXPECT_EQ(fast->SetFrequency(99), SoundResult::kBadParam);
    ASSERT_EQ(fast->SetFrequency(SoundBuffer::kFrequencyOriginal), SoundResult::kOk);
    EXPECT_EQ(fast->GetFrequency(), 44100u);
}

TEST_F(SoundBufferTest, DecodesEveryCodingWePlay)
{
    // 24-bit: -0.5 and 0.25.
    const uint8_t wide[] = {0x00, 0x00, 0xC0, 0x00, 0x00, 0x20};
    std::unique_ptr<SoundBuffer> a = MakeBytes(wide, sizeof wide, Pcm(2, 44100, 24));
    // Float through the extensible form.
    WaveFormat floats = Pcm(2, 44100, 32);
    floats.formatTag = kWaveFormatExtensible;
    floats.subFormat[0] = kWaveFormatFloat;
    const float values[] = {0.125f, std::numeric_limits<float>::quiet_NaN()};
    std::unique_ptr<SoundBuffer> b = MakeBytes(values, sizeof values, floats);
    a->Play(false);
    b->Play(false);
    const std::vector<float> out = Render(1);
    EXPECT_FLOAT_EQ(out[0], -0.5f + 0.125f);
    // A stored NaN plays as silence.
    EXPECT_FLOAT_EQ(out[1], 0.25f);
}

TEST_F(SoundBufferTest, RefusesWhatItCannotPlay)
{
    SoundResult result = SoundResult::kOk;
    WaveFormat misaligned = Pcm(2, 44100, 16);
    misaligned.blockAlign = 3;
    WaveFormat twelve = Pcm(1, 44100, 16);
    twelve.bitsPerSample = 12;
    WaveFormat adpcm = Pcm(1, 44100, 16);
    adpcm.formatTag = 2;
    for (const WaveFormat& format : {misaligned, twelve, adpcm, Pcm(0, 44100, 16), Pcm(2, 50, 16), Pcm(9, 44100, 8)}) {
        EXPECT_EQ(device->CreateSoundBuffer(format, 64, &result), nullptr);
        EXPECT_EQ(result, SoundResult::kBadFormat);
    }
    EXPECT_EQ(device->CreateSoundBuffer(Pcm(2, 44100, 16), 0, &result), nullptr);
    EXPECT_EQ(result, SoundResult::kBadParam);
    EXPECT_EQ(device->CreateSoundBuffer(Pcm(2, 44100, 16), SoundDevice::kMaxBufferBytes + 1, &result), nullptr);
    // A device never initialised makes nothing.
    std::unique_ptr<SoundDevice> idle = SoundDevice::Create();
    EXPECT_EQ(idle->CreateSoundBuffer(Pcm(2, 44100, 16), 64, &result), nullptr);
    EXPECT_EQ(result, SoundResult::kNoDevice);
    EXPECT_EQ(idle->CreatePrimaryBuffer(&result), nullptr);
    // A wave format image shorter than its form is refused.
    uint8_t stored[WaveFormat::kExtensibleBytes] = {0xFE, 0xFF};
    WaveFormat read;
    EXPECT_FALSE(WaveFormat::Read(stored, WaveFormat::kBaseBytes, &read));
    EXPECT_TRUE(WaveFormat::Read(stored, sizeof stored, &read));
}

TEST_F(SoundBufferTest, DuplicatesShareSamplesButNotState)
{
    std::unique_ptr<SoundBuffer> original = Make(kFour);
    ASSERT_EQ(original->SetVolume(-10000), SoundResult::kOk);
    std::unique_ptr<SoundBuffer> copy = original->Duplicate(nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetVolume(), -10000);
    ASSERT_EQ(copy->SetVolume(0), SoundResult::kOk);
    ASSERT_EQ(copy->SetCurrentPosition(12), SoundResult::kOk);
    original->Play(true);
    copy->Play(false);
    std::vector<float> out = Render(2);
    EXPECT_EQ(out[0], S(4000));
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(original->GetStatus() & SoundBuffer::kStatusPlaying, SoundBuffer::kStatusPlaying);
    EXPECT_EQ(copy->GetStatus(), 0u);

    // A writer holding the shared samples silences both and keeps out a second.
    void* data = nullptr;
    uint32_t bytes = 0;
    ASSERT_TRUE(copy->Lock(&data, &bytes));
    EXPECT_FALSE(original->Lock(&data, &bytes));
    static_cast<int16_t*>(data)[0] = 8000;
    ASSERT_EQ(original->SetVolume(0), SoundResult::kOk);
    ASSERT_EQ(original->SetCurrentPosition(0), SoundResult::kOk);
    EXPECT_EQ(Render(1), std::vector<float>(2, 0.0f));
    copy->Unlock();
    ASSERT_EQ(original->SetCurrentPosition(0), SoundResult::kOk);
    EXPECT_EQ(Render(1)[0], S(8000));
    // Gone, the original plays on.
    copy.reset();
    EXPECT_EQ(Render(1)[0], S(2000));

    const EffectKind echo = EffectKind::kEcho;
    original->Stop();
    ASSERT_EQ(original->SetEffects(&echo, 1), SoundResult::kOk);
    SoundResult result = SoundResult::kOk;
    EXPECT_EQ(original->Duplicate(&result), nullptr);
    EXPECT_EQ(result, SoundResult::kInvalidCall);
}

TEST_F(SoundBufferTest, EffectsAreSetWhileStoppedAndHeardInTheOutput)
{
    std::vector<int16_t> impulse(2 * 1000, 0);
    impulse[0] = impulse[1] = 16384;
    std::unique_ptr<SoundBuffer> buffer = Make(impulse);
    const EffectKind chain[] = {EffectKind::kEcho, EffectKind::kGargle};
    buffer->Play(false);
    EXPECT_EQ(buffer->SetEffects(chain, 1), SoundResult::kInvalidCall);
    buffer->Stop();
    ASSERT_EQ(buffer->SetEffects(chain, 1), SoundResult::kOk);
    EchoParams echo;
    echo.leftDelay = echo.rightDelay = 10.0f;
    EXPECT_FALSE(buffer->SetEffectParams(0, GargleParams()));
    EXPECT_FALSE(buffer->SetEffectParams(1, echo));
    ASSERT_TRUE(buffer->SetEffectParams(0, echo));
    EffectParams read;
    ASSERT_TRUE(buffer->GetEffectParams(0, &read));
    EXPECT_EQ(std::get<EchoParams>(read).leftDelay, 10.0f);
    ASSERT_EQ(buffer->SetPan(-2000), SoundResult::kOk);
    ASSERT_EQ(buffer->SetCurrentPosition(0), SoundResult::kOk);
    buffer->Play(false);
    // Volume and pan follow the effects.
    const std::vector<float> out = Render(500);
    EXPECT_FLOAT_EQ(out[0], 0.25f);
    EXPECT_FLOAT_EQ(out[1], 0.025f);
    EXPECT_FLOAT_EQ(out[2 * 441], 0.25f);
    EXPECT_EQ(out[2 * 440], 0.0f);

    // Replaced by none, the sound is dry again.
    buffer->Stop();
    ASSERT_EQ(buffer->SetEffects(nullptr, 0), SoundResult::kOk);
    EXPECT_EQ(buffer->GetEffectCount(), 0u);
    ASSERT_EQ(buffer->SetCurrentPosition(0), SoundResult::kOk);
    buffer->Play(false);
    EXPECT_FLOAT_EQ(Render(1)[0], 0.5f);
}

TEST_F(SoundBufferTest, PrimaryFormatNeedsPriority)
{
    std::unique_ptr<PrimaryBuffer> primary = device->CreatePrimaryBuffer(nullptr);
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->SetFormat(Pcm(2, 22050, 16)), SoundResult::kInvalidCall);
    ASSERT_EQ(device->SetCooperativeLevel(CooperativeLevel::kPriority), SoundResult::kOk);
    EXPECT_EQ(primary->SetFormat(Pcm(2, 22050, 16)), SoundResult::kOk);
    EXPECT_EQ(primary->GetFormat().samplesPerSec, 22050u);
    WaveFormat odd = Pcm(2, 22050, 16);
    odd.blockAlign = 1;
    EXPECT_EQ(primary->SetFormat(odd), SoundResult::kBadFormat);
    EXPECT_EQ(device->Compact(), SoundResult::kOk);
}
