#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/audio/effects.h"

using namespace platform;

static constexpr int32_t kRate = 44100;

static std::unique_ptr<AudioEffect> Make(EffectKind kind)
{
    std::unique_ptr<AudioEffect> effect = CreateEffect(kind, kRate);
    EXPECT_NE(effect, nullptr);
    return effect;
}

template <typename Params>
static std::unique_ptr<AudioEffect> Make(EffectKind kind, const Params* params)
{
    std::unique_ptr<AudioEffect> effect = Make(kind);
    if (effect != nullptr) {
        EXPECT_TRUE(effect->SetParams(*params));
    }
    return effect;
}

// Stereo frames: an impulse of 1 on the chosen sides at frame 0.
static std::vector<float> Impulse(size_t frames, bool left = true, bool right = true)
{
    std::vector<float> out(frames * 2, 0.0f);
    out[0] = left ? 1.0f : 0.0f;
    out[1] = right ? 1.0f : 0.0f;
    return out;
}

static std::vector<float> Sine(size_t frames, double hertz, float amplitude)
{
    std::vector<float> out(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(2.0 * 3.14159265358979 * hertz * i / kRate));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
    return out;
}

static float Peak(const std::vector<float>& frames, size_t fromFrame, size_t toFrame, int channel = 0)
{
    float peak = 0.0f;
    for (size_t i = fromFrame; i < toFrame; ++i) {
        peak = std::max(peak, std::fabs(frames[2 * i + channel]));
    }
    return peak;
}

static double Energy(const std::vector<float>& frames, size_t fromFrame, size_t toFrame)
{
    double sum = 0.0;
    for (size_t i = 2 * fromFrame; i < 2 * toFrame; ++i) {
        sum += static_cast<double>(frames[i]) * frames[i];
    }
    return sum;
}

TEST(AudioEffect, EchoRepeatsAtItsDelayLosingTheFeedbackEachTime)
{
    EchoParams params;
    params.leftDelay = 10.0f;  // 441 frames
    params.rightDelay = 20.0f;
    std::unique_ptr<AudioEffect> echo = Make(EffectKind::kEcho, &params);
    std::vector<float> frames = Impulse(2000);
    echo->Process(frames.data(), 2000);
    EXPECT_FLOAT_EQ(frames[0], 0.5f);
    EXPECT_FLOAT_EQ(frames[2 * 441], 0.5f);
    EXPECT_FLOAT_EQ(frames[2 * 882], 0.25f);
    EXPECT_FLOAT_EQ(frames[2 * 1323], 0.125f);
    EXPECT_FLOAT_EQ(frames[2 * 441 + 1], 0.0f);
    EXPECT_FLOAT_EQ(frames[2 * 882 + 1], 0.5f);
    EXPECT_NEAR(Energy(frames, 1, 441), 0.0, 0.0);

    // With panDelay each repeat comes back on the other side.
    params.rightDelay = 10.0f;
    params.panDelay = 1;
    ASSERT_TRUE(echo->SetParams(params));
    echo->Reset();
    frames = Impulse(1000, true, false);
    echo->Process(frames.data(), 1000);
    EXPECT_FLOAT_EQ(frames[2 * 441], 0.5f);
    EXPECT_FLOAT_EQ(frames[2 * 441 + 1], 0.0f);
    EXPECT_FLOAT_EQ(frames[2 * 882], 0.0f);
    EXPECT_FLOAT_EQ(frames[2 * 882 + 1], 0.25f);
}

TEST(AudioEffect, ChorusAndFlangerSweepTheirDelay)
{
    // No sweep: a plain delay with feedback.
    ChorusParams chorus;
    chorus.depth = 0.0f;
    chorus.delay = 10.0f;
    std::unique_ptr<AudioEffect> still = Make(EffectKind::kChorus, &chorus);
    std::vector<float> frames = Impulse(1000);
    still->Process(frames.data(), 1000);
    EXPECT_FLOAT_EQ(frames[0], 0.5f);
    EXPECT_FLOAT_EQ(frames[2 * 441], 0.5f);
    EXPECT_FLOAT_EQ(frames[2 * 882], 0.125f);

    // Frozen at a quarter cycle ahead on the right, full depth doubles that
    // side's delay: 2 ms (88.2 frames) on the left, 4 ms on the right.
    FlangerParams flanger;
    flanger.frequency = 0.0f;
    flanger.phase = 3;
    flanger.feedback = 0.0f;
    std::unique_ptr<AudioEffect> swept = Make(EffectKind::kFlanger, &flanger);
    frames = Impulse(400);
    swept->Process(frames.data(), 400);
    EXPECT_NEAR(frames[2 * 88], 0.5f * 0.8f, 1e-4);
    EXPECT_NEAR(frames[2 * 89], 0.5f * 0.2f, 1e-4);
    EXPECT_NEAR(frames[2 * 176 + 1], 0.5f * 0.6f, 1e-4);
    EXPECT_NEAR(frames[2 * 177 + 1], 0.5f * 0.4f, 1e-4);

    // At their defaults both change a tone.
    for (EffectKind kind : {EffectKind::kChorus, EffectKind::kFlanger}) {
        std::vector<float> tone = Sine(4000, 440.0, 0.5f);
        const std::vector<float> dry = tone;
        Make(kind)->Process(tone.data(), 4000);
        EXPECT_NE(tone, dry);
    }
}

TEST(AudioEffect, CompressorPullsLoudSoundTowardsTheThreshold)
{
    std::unique_ptr<AudioEffect> compressor = Make(EffectKind::kCompressor);
    std::vector<float> loud(2 * kRate, 1.0f);
    compressor->Process(loud.data(), kRate);
    // 20 dB over the threshold at 3:1 comes out 13.3 dB down.
    EXPECT_NEAR(loud[2 * (kRate - 1)], std::pow(10.0, -40.0 / 3.0 / 20.0), 1e-3);
    // The sound lags its detector by the 4 ms predelay.
    EXPECT_EQ(loud[2 * 175], 0.0f);
    EXPECT_GT(loud[2 * 177], 0.0f);

    compressor->Reset();
    std::vector<float> quiet(2 * 2000, 0.01f);
    compressor->Process(quiet.data(), 2000);
    EXPECT_FLOAT_EQ(quiet[2 * 1999], 0.01f);
}

TEST(AudioEffect, DistortionShapesAndKeepsTheBandAtItsGain)
{
    std::vector<float> tone = Sine(8000, 2400.0, 0.9f);
    const std::vector<float> dry = tone;
    Make(EffectKind::kDistortion)->Process(tone.data(), 8000);
    const float peak = Peak(tone, 4000, 8000);
    // -18 dB of a shaped full-scale tone.
    EXPECT_GT(peak, 0.06f);
    EXPECT_LT(peak, 0.2f);
    // A steady level is outside the band that is kept.
    std::vector<float> level(2 * 8000, 0.5f);
    Make(EffectKind::kDistortion)->Process(level.data(), 8000);
    EXPECT_LT(Peak(level, 6000, 8000), 1e-3f);
    // More edge, a different sound.
    DistortionParams hard;
    hard.edge = 100.0f;
    std::vector<float> harder = dry;
    Make(EffectKind::kDistortion, &hard)->Process(harder.data(), 8000);
    EXPECT_NE(harder, tone);
}

TEST(AudioEffect, GargleModulatesTheAmplitudeAtItsRate)
{
    GargleParams square;
    square.waveShape = kGargleSquare;
    std::vector<float> frames(2 * 2300, 0.5f);
    Make(EffectKind::kGargle, &square)->Process(frames.data(), 2300);
    // 20 Hz: 2205 frames a cycle, the first half open.
    EXPECT_EQ(frames[2 * 1102], 0.5f);
    EXPECT_EQ(frames[2 * 1103], 0.0f);
    EXPECT_EQ(frames[2 * 2204 + 1], 0.0f);
    EXPECT_EQ(frames[2 * 2205], 0.5f);

    std::vector<float> ramp(2 * 2300, 0.5f);
    Make(EffectKind::kGargle)->Process(ramp.data(), 2300);
    EXPECT_EQ(ramp[0], 0.0f);
    for (size_t n : {100u, 551u, 1000u, 1700u}) {
        const double phase = n * 20.0 / kRate;
        EXPECT_NEAR(ramp[2 * n], 0.5 * (1.0 - std::fabs(2.0 * phase - 1.0)), 1e-6) << n;
    }
}

TEST(AudioEffect, ParamEqRaisesItsBandOnly)
{
    std::vector<float> tone = Sine(4000, 1000.0, 0.1f);
    const std::vector<float> dry = tone;
    // At its default gain of 0 dB the sound passes bit for bit.
    Make(EffectKind::kParamEq)->Process(tone.data(), 4000);
    EXPECT_EQ(tone, dry);

    ParamEqParams boost;
    boost.center = 1000.0f;
    boost.gain = 12.0f;
    Make(EffectKind::kParamEq, &boost)->Process(tone.data(), 4000);
    EXPECT_NEAR(Peak(tone, 2000, 4000) / 0.1f, std::pow(10.0, 12.0 / 20.0), 0.1);
    std::vector<float> low = Sine(8000, 60.0, 0.1f);
    Make(EffectKind::kParamEq, &boost)->Process(low.data(), 8000);
    EXPECT_NEAR(Peak(low, 4000, 8000), 0.1f, 0.01f);
}

TEST(AudioEffect, ReverbTailDecaysAsItsPresetSays)
{
    ReverbParams generic;
    ASSERT_TRUE(GetReverbPreset(1, &generic));
    std::unique_ptr<AudioEffect> reverb = Make(EffectKind::kReverb, &generic);
    const size_t frames = 2 * kRate;
    std::vector<float> hall = Impulse(frames);
    reverb->Process(hall.data(), frames);
    EXPECT_FLOAT_EQ(hall[0], 1.0f);
    // Nothing before the pre-delay and the shortest comb.
    EXPECT_EQ(Energy(hall, 1, 882 + 1103), 0.0);
    const double early = Energy(hall, kRate / 20, kRate / 20 * 3);
    const double late = Energy(hall, kRate * 3 / 2, kRate * 3 / 2 + kRate / 10);
    EXPECT_GT(early, 0.0);
    // 1.49 s later the tail is about 60 dB (energy 10^6) down.
    EXPECT_LT(late, early * 1e-4);

    // A padded cell dies far sooner than a hangar.
    ReverbParams cell;
    ReverbParams hangar;
    ASSERT_TRUE(GetReverbPreset(2, &cell));
    ASSERT_TRUE(GetReverbPreset(11, &hangar));
    std::vector<float> small = Impulse(frames);
    std::vector<float> big = Impulse(frames);
    Make(EffectKind::kReverb, &cell)->Process(small.data(), frames);
    Make(EffectKind::kReverb, &hangar)->Process(big.data(), frames);
    EXPECT_LT(Energy(small, kRate / 2, kRate), Energy(big, kRate / 2, kRate) * 1e-6);

    ReverbParams unused;
    EXPECT_FALSE(GetReverbPreset(kReverbPresetCount, &unused));
    EXPECT_FALSE(GetReverbPreset(-1, &unused));
}

TEST(AudioEffect, ParametersOutOfRangeOrOfAnotherEffectAreRefused)
{
    std::unique_ptr<AudioEffect> echo = Make(EffectKind::kEcho);
    EchoParams bad;
    bad.feedback = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(echo->SetParams(bad));
    bad = EchoParams();
    bad.leftDelay = 2001.0f;
    EXPECT_FALSE(echo->SetParams(bad));
    EXPECT_FALSE(echo->SetParams(ChorusParams()));
    // Nothing changed.
    EXPECT_EQ(std::get<EchoParams>(echo->GetParams()).leftDelay, 500.0f);

    GargleParams gargle;
    gargle.rate = 0;
    EXPECT_FALSE(Make(EffectKind::kGargle)->SetParams(gargle));
    ReverbParams loud;
    loud.level = 1;
    EXPECT_FALSE(Make(EffectKind::kReverb)->SetParams(loud));
    EXPECT_EQ(CreateEffect(EffectKind::kEcho, 0), nullptr);
    for (EffectKind kind : {EffectKind::kChorus, EffectKind::kCompressor, EffectKind::kDistortion, EffectKind::kEcho,
                            EffectKind::kFlanger, EffectKind::kGargle, EffectKind::kParamEq, EffectKind::kReverb}) {
        EXPECT_EQ(Make(kind)->GetKind(), kind);
    }
}
