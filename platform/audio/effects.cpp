// The sound effects: parameters checked against their ranges, and each
// effect's processing of stereo frames.
#include "platform/audio/effects.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace platform {

static constexpr double kPi = 3.14159265358979323846;

// NaN fails every comparison, so it is out of every range.
static bool InRange(float value, float low, float high)
{
    return value >= low && value <= high;
}

static bool InRange(int32_t value, int32_t low, int32_t high)
{
    return value >= low && value <= high;
}

static float DbToGain(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

// A filter frequency the sampling rate can carry.
static double BelowNyquist(double hz, int32_t rate)
{
    return std::min(hz, 0.45 * rate);
}

// One second-order section per side, direct form I.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1[2] = {}, x2[2] = {}, y1[2] = {}, y2[2] = {};

    void SetNormalised(double nb0, double nb1, double nb2, double na0, double na1, double na2)
    {
        b0 = nb0 / na0;
        b1 = nb1 / na0;
        b2 = nb2 / na0;
        a1 = na1 / na0;
        a2 = na2 / na0;
    }
    void Clear()
    {
        for (int c = 0; c < 2; ++c) {
            x1[c] = x2[c] = y1[c] = y2[c] = 0.0;
        }
    }
    float Run(int channel, float in)
    {
        const double out = b0 * in + b1 * x1[channel] + b2 * x2[channel] - a1 * y1[channel] - a2 * y2[channel];
        x2[channel] = x1[channel];
        x1[channel] = in;
        y2[channel] = y1[channel];
        y1[channel] = out;
        return static_cast<float>(out);
    }
};

// A delay line of floats that is read a whole or fractional number of
// samples behind the write position.
class DelayLine {
public:
    bool Allocate(size_t samples)
    {
        try {
            data.assign(samples, 0.0f);
        } catch (const std::bad_alloc&) {
            return false;
        }
        write = 0;
        return true;
    }
    void Clear()
    {
        std::fill(data.begin(), data.end(), 0.0f);
        write = 0;
    }
    size_t Size() const { return data.size(); }
    // `samples` back from the sample about to be written: 1 is the last one.
    float Read(size_t samples) const { return data[(write + data.size() - samples) % data.size()]; }
    float ReadFraction(double samples) const
    {
        const double clamped = std::clamp(samples, 1.0, static_cast<double>(data.size() - 2));
        const size_t whole = static_cast<size_t>(clamped);
        const float part = static_cast<float>(clamped - static_cast<double>(whole));
        return Read(whole) * (1.0f - part) + Read(whole + 1) * part;
    }
    void Write(float value)
    {
        data[write] = value;
        write = (write + 1) % data.size();
    }

private:
    std::vector<float> data;
    size_t write = 0;
};

// Wet and dry in the proportion the effects give in percent.
static float Mix(float dry, float wet, float wetPercent)
{
    const float w = wetPercent * 0.01f;
    return dry * (1.0f - w) + wet * w;
}

class EchoEffect final : public AudioEffect {
public:
    explicit EchoEffect(int32_t rate) : rate(rate) {}
    bool Allocate()
    {
        const size_t longest = static_cast<size_t>(rate) * 2 + 2;
        return lines[0].Allocate(longest) && lines[1].Allocate(longest);
    }
    EffectKind GetKind() const override { return EffectKind::kEcho; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const EchoParams* p = std::get_if<EchoParams>(&any);
        if (p == nullptr || !InRange(p->wetDryMix, 0.0f, 100.0f) || !InRange(p->feedback, 0.0f, 100.0f) ||
            !InRange(p->leftDelay, 1.0f, 2000.0f) || !InRange(p->rightDelay, 1.0f, 2000.0f) ||
            !InRange(p->panDelay, 0, 1)) {
            return false;
        }
        params = *p;
        return true;
    }
    void Reset() override
    {
        lines[0].Clear();
        lines[1].Clear();
    }
    void Process(float* frames, size_t count) override
    {
        const size_t delays[2] = {DelaySamples(params.leftDelay), DelaySamples(params.rightDelay)};
        const float feedback = params.feedback * 0.01f;
        for (size_t i = 0; i < count; ++i) {
            float* frame = frames + 2 * i;
            const float echoed[2] = {lines[0].Read(delays[0]), lines[1].Read(delays[1])};
            // With panDelay each repeat comes back on the other side.
            const int cross = params.panDelay != 0 ? 1 : 0;
            lines[0].Write(frame[0] + feedback * echoed[cross]);
            lines[1].Write(frame[1] + feedback * echoed[1 - cross]);
            frame[0] = Mix(frame[0], echoed[0], params.wetDryMix);
            frame[1] = Mix(frame[1], echoed[1], params.wetDryMix);
        }
    }

private:
    size_t DelaySamples(float ms) const
    {
        return std::max<size_t>(1, static_cast<size_t>(std::lround(ms * 0.001 * rate)));
    }
    int32_t rate;
    EchoParams params;
    DelayLine lines[2];
};

// The chorus and the flanger: a short delay swept by a slow oscillator, the
// right side's sweep shifted by the phase.
template <typename Params, EffectKind Kind>
class SweptDelayEffect final : public AudioEffect {
public:
    SweptDelayEffect(int32_t rate, float longestDelayMs) : rate(rate), longestDelayMs(longestDelayMs) {}
    bool Allocate()
    {
        // The sweep reaches twice the delay at full depth.
        const size_t longest = static_cast<size_t>(2.0 * longestDelayMs * 0.001 * rate) + 4;
        return lines[0].Allocate(longest) && lines[1].Allocate(longest);
    }
    EffectKind GetKind() const override { return Kind; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const Params* p = std::get_if<Params>(&any);
        if (p == nullptr || !InRange(p->wetDryMix, 0.0f, 100.0f) || !InRange(p->depth, 0.0f, 100.0f) ||
            !InRange(p->feedback, -99.0f, 99.0f) || !InRange(p->frequency, 0.0f, 10.0f) ||
            !InRange(p->waveform, kSweepTriangle, kSweepSine) || !InRange(p->delay, 0.0f, longestDelayMs) ||
            !InRange(p->phase, 0, 4)) {
            return false;
        }
        params = *p;
        return true;
    }
    void Reset() override
    {
        lines[0].Clear();
        lines[1].Clear();
        sweep = 0.0;
    }
    void Process(float* frames, size_t count) override
    {
        const double centre = params.delay * 0.001 * rate;
        const double swing = centre * params.depth * 0.01;
        const double step = params.frequency / rate;
        const double offset = (params.phase - 2) * 0.25;
        const float feedback = params.feedback * 0.01f;
        for (size_t i = 0; i < count; ++i) {
            float* frame = frames + 2 * i;
            for (int c = 0; c < 2; ++c) {
                const double at = centre + swing * Oscillator(sweep + (c == 1 ? offset : 0.0));
                const float delayed = lines[c].ReadFraction(at);
                lines[c].Write(frame[c] + feedback * delayed);
                frame[c] = Mix(frame[c], delayed, params.wetDryMix);
            }
            sweep += step;
            sweep -= std::floor(sweep);
        }
    }

private:
    // -1 to 1 over one cycle of `phase` (in cycles).
    double Oscillator(double phase) const
    {
        phase -= std::floor(phase);
        if (params.waveform == kSweepSine) {
            return std::sin(2.0 * kPi * phase);
        }
        return phase < 0.25 ? 4.0 * phase : phase < 0.75 ? 2.0 - 4.0 * phase : 4.0 * phase - 4.0;
    }
    int32_t rate;
    float longestDelayMs;
    Params params;
    DelayLine lines[2];
    double sweep = 0.0;  // cycles, 0 to 1
};

using ChorusEffect = SweptDelayEffect<ChorusParams, EffectKind::kChorus>;
using FlangerEffect = SweptDelayEffect<FlangerParams, EffectKind::kFlanger>;

class CompressorEffect final : public AudioEffect {
public:
    explicit CompressorEffect(int32_t rate) : rate(rate) {}
    bool Allocate()
    {
        const size_t longest = static_cast<size_t>(0.004 * rate) + 2;
        return lines[0].Allocate(longest) && lines[1].Allocate(longest);
    }
    EffectKind GetKind() const override { return EffectKind::kCompressor; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const CompressorParams* p = std::get_if<CompressorParams>(&any);
        if (p == nullptr || !InRange(p->gain, -60.0f, 60.0f) || !InRange(p->attack, 0.01f, 500.0f) ||
            !InRange(p->release, 50.0f, 3000.0f) || !InRange(p->threshold, -60.0f, 0.0f) ||
            !InRange(p->ratio, 1.0f, 100.0f) || !InRange(p->predelay, 0.0f, 4.0f)) {
            return false;
        }
        params = *p;
        return true;
    }
    void Reset() override
    {
        lines[0].Clear();
        lines[1].Clear();
        envelope = 0.0;
    }
    void Process(float* frames, size_t count) override
    {
        const double attack = 1.0 - std::exp(-1000.0 / (params.attack * rate));
        const double release = 1.0 - std::exp(-1000.0 / (params.release * rate));
        const size_t lag = static_cast<size_t>(std::lround(params.predelay * 0.001 * rate));
        const double slope = 1.0 - 1.0 / params.ratio;
        for (size_t i = 0; i < count; ++i) {
            float* frame = frames + 2 * i;
            // The detector hears the sound `lag` samples before it is let
            // through, so the gain is down when a sudden peak arrives.
            const double level = std::max(std::fabs(frame[0]), std::fabs(frame[1]));
            envelope += (level - envelope) * (level > envelope ? attack : release);
            double gainDb = params.gain;
            if (envelope > 1e-9) {
                const double levelDb = 20.0 * std::log10(envelope);
                if (levelDb > params.threshold) {
                    gainDb -= (levelDb - params.threshold) * slope;
                }
            }
            const float gain = DbToGain(gainDb);
            for (int c = 0; c < 2; ++c) {
                float out = frame[c];
                if (lag > 0) {
                    out = lines[c].Read(lag);
                    lines[c].Write(frame[c]);
                }
                frame[c] = out * gain;
            }
        }
    }

private:
    int32_t rate;
    CompressorParams params;
    DelayLine lines[2];
    double envelope = 0.0;  // peak level, full scale 1
};

class DistortionEffect final : public AudioEffect {
public:
    explicit DistortionEffect(int32_t rate) : rate(rate) { Configure(); }
    EffectKind GetKind() const override { return EffectKind::kDistortion; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const DistortionParams* p = std::get_if<DistortionParams>(&any);
        if (p == nullptr || !InRange(p->gain, -60.0f, 0.0f) || !InRange(p->edge, 0.0f, 100.0f) ||
            !InRange(p->postEqCenter, 100.0f, 8000.0f) || !InRange(p->postEqBandwidth, 100.0f, 8000.0f) ||
            !InRange(p->preLowpassCutoff, 100.0f, 8000.0f)) {
            return false;
        }
        params = *p;
        Configure();
        return true;
    }
    void Reset() override
    {
        lowpass[0] = lowpass[1] = 0.0f;
        band.Clear();
    }
    void Process(float* frames, size_t count) override
    {
        for (size_t i = 0; i < count; ++i) {
            for (int c = 0; c < 2; ++c) {
                float& sample = frames[2 * i + c];
                lowpass[c] = (1.0f - pole) * sample + pole * lowpass[c];
                const float shaped = std::tanh(drive * lowpass[c]) / tanhDrive;
                sample = band.Run(c, shaped) * gain;
            }
        }
    }

private:
    void Configure()
    {
        pole = static_cast<float>(std::exp(-2.0 * kPi * BelowNyquist(params.preLowpassCutoff, rate) / rate));
        drive = 1.0f + params.edge * 0.3f;
        tanhDrive = std::tanh(drive);
        gain = DbToGain(params.gain);
        // A band-pass with 0 dB at its centre.
        const double w0 = 2.0 * kPi * BelowNyquist(params.postEqCenter, rate) / rate;
        const double q = params.postEqCenter / params.postEqBandwidth;
        const double alpha = std::sin(w0) / (2.0 * q);
        band.SetNormalised(alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * std::cos(w0), 1.0 - alpha);
    }
    int32_t rate;
    DistortionParams params;
    float pole = 0.0f;
    float drive = 1.0f;
    float tanhDrive = 1.0f;
    float gain = 1.0f;
    float lowpass[2] = {};
    Biquad band;
};

class GargleEffect final : public AudioEffect {
public:
    explicit GargleEffect(int32_t rate) : rate(rate) {}
    EffectKind GetKind() const override { return EffectKind::kGargle; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const GargleParams* p = std::get_if<GargleParams>(&any);
        if (p == nullptr || !InRange(p->rate, 1, 1000) || !InRange(p->waveShape, kGargleTriangle, kGargleSquare)) {
            return false;
        }
        params = *p;
        return true;
    }
    void Reset() override { cycle = 0; }
    void Process(float* frames, size_t count) override
    {
        for (size_t i = 0; i < count; ++i) {
            // Position in the cycle counted in whole units of 1 / rate, so the
            // modulation never drifts.
            const double phase = static_cast<double>(cycle) / rate;
            float amount = 0.0f;
            if (params.waveShape == kGargleSquare) {
                amount = phase < 0.5 ? 1.0f : 0.0f;
            } else {
                amount = static_cast<float>(1.0 - std::fabs(2.0 * phase - 1.0));
            }
            frames[2 * i] *= amount;
            frames[2 * i + 1] *= amount;
            cycle = (cycle + params.rate) % rate;
        }
    }

private:
    int32_t rate;
    GargleParams params;
    int64_t cycle = 0;  // 0 to rate - 1
};

class ParamEqEffect final : public AudioEffect {
public:
    explicit ParamEqEffect(int32_t rate) : rate(rate) { Configure(); }
    EffectKind GetKind() const override { return EffectKind::kParamEq; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const ParamEqParams* p = std::get_if<ParamEqParams>(&any);
        if (p == nullptr || !InRange(p->center, 80.0f, 16000.0f) || !InRange(p->bandwidth, 1.0f, 36.0f) ||
            !InRange(p->gain, -15.0f, 15.0f)) {
            return false;
        }
        params = *p;
        Configure();
        return true;
    }
    void Reset() override { peak.Clear(); }
    void Process(float* frames, size_t count) override
    {
        if (params.gain == 0.0f) {
            // A flat bell: pass the sound as it is, bit for bit.
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            frames[2 * i] = peak.Run(0, frames[2 * i]);
            frames[2 * i + 1] = peak.Run(1, frames[2 * i + 1]);
        }
    }

private:
    void Configure()
    {
        // A peaking bell `bandwidth` semitones wide.
        const double a = std::pow(10.0, params.gain / 40.0);
        const double w0 = 2.0 * kPi * BelowNyquist(params.center, rate) / rate;
        const double octaves = params.bandwidth / 12.0;
        const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0));
        const double c = -2.0 * std::cos(w0);
        peak.SetNormalised(1.0 + alpha * a, c, 1.0 - alpha * a, 1.0 + alpha / a, c, 1.0 - alpha / a);
    }
    int32_t rate;
    ParamEqParams params;
    Biquad peak;
};

// Parallel damped combs into two all-pass diffusers per side, after a
// pre-delay; the reverberation is added to the dry sound.
class ReverbEffect final : public AudioEffect {
public:
    explicit ReverbEffect(int32_t rate) : rate(rate) {}
    bool Allocate()
    {
        // Prime-ish lengths at 44.1 kHz, the right side a little longer so
        // the two sides do not ring alike.
        static const int32_t kCombs[kCombCount] = {1103, 1201, 1301, 1409};
        static const int32_t kPasses[kPassCount] = {241, 557};
        const double scale = rate / 44100.0;
        for (int c = 0; c < 2; ++c) {
            for (int k = 0; k < kCombCount; ++k) {
                if (!combs[c][k].Allocate(static_cast<size_t>((kCombs[k] + 29 * c) * scale) + 1)) {
                    return false;
                }
            }
            for (int k = 0; k < kPassCount; ++k) {
                if (!passes[c][k].Allocate(static_cast<size_t>((kPasses[k] + 17 * c) * scale) + 1)) {
                    return false;
                }
            }
            if (!preDelay[c].Allocate(static_cast<size_t>(0.3 * rate) + 2)) {
                return false;
            }
        }
        Configure();
        return true;
    }
    EffectKind GetKind() const override { return EffectKind::kReverb; }
    EffectParams GetParams() const override { return params; }
    bool SetParams(const EffectParams& any) override
    {
        const ReverbParams* p = std::get_if<ReverbParams>(&any);
        if (p == nullptr || !InRange(p->level, -10000, 0) || !InRange(p->decayTime, 0.1f, 20.0f) ||
            !InRange(p->hfRatio, 0.1f, 2.0f) || !InRange(p->preDelay, 0.0f, 0.3f) ||
            !InRange(p->diffusion, 0.0f, 100.0f)) {
            return false;
        }
        params = *p;
        Configure();
        return true;
    }
    void Reset() override
    {
        for (int c = 0; c < 2; ++c) {
            for (DelayLine& line : combs[c]) {
                line.Clear();
            }
            for (DelayLine& line : passes[c]) {
                line.Clear();
            }
            preDelay[c].Clear();
            for (float& state : damped[c]) {
                state = 0.0f;
            }
        }
    }
    void Process(float* frames, size_t count) override
    {
        const size_t lag = static_cast<size_t>(std::lround(params.preDelay * rate));
        for (size_t i = 0; i < count; ++i) {
            for (int c = 0; c < 2; ++c) {
                float& sample = frames[2 * i + c];
                float in = sample;
                if (lag > 0) {
                    in = preDelay[c].Read(lag);
                    preDelay[c].Write(sample);
                }
                float sum = 0.0f;
                for (int k = 0; k < kCombCount; ++k) {
                    DelayLine& line = combs[c][k];
                    const float out = line.Read(line.Size());
                    damped[c][k] = out * (1.0f - damping) + damped[c][k] * damping;
                    line.Write(in + feedback[k] * damped[c][k]);
                    sum += out;
                }
                float wet = sum * 0.25f;
                for (DelayLine& line : passes[c]) {
                    const float behind = line.Read(line.Size());
                    const float w = wet + allpass * behind;
                    line.Write(w);
                    wet = behind - allpass * w;
                }
                sample += wet * level;
            }
        }
    }

private:
    static constexpr int kCombCount = 4;
    static constexpr int kPassCount = 2;

    void Configure()
    {
        for (int k = 0; k < kCombCount; ++k) {
            const double seconds = static_cast<double>(combs[0][k].Size()) / rate;
            // Each pass round the comb loses its share of 60 dB over decayTime.
            feedback[k] = static_cast<float>(std::pow(10.0, -3.0 * seconds / params.decayTime));
        }
        // Highs die sooner the lower the ratio.
        damping = params.hfRatio >= 1.0f ? 0.0f : std::min(0.6f, (1.0f - params.hfRatio) * 0.6f);
        allpass = 0.7f * params.diffusion * 0.01f;
        level = params.level <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, params.level / 2000.0));
    }
    int32_t rate;
    ReverbParams params;
    DelayLine combs[2][kCombCount];
    DelayLine passes[2][kPassCount];
    DelayLine preDelay[2];
    float damped[2][kCombCount] = {};
    float feedback[kCombCount] = {};
    float damping = 0.0f;
    float allpass = 0.0f;
    float level = 0.0f;
};

bool GetReverbPreset(int32_t preset, ReverbParams* out)
{
    // level (hundredths of a dB), decay (s), high-frequency ratio,
    // pre-delay (s), diffusion (%).
    static const ReverbParams kPresets[kReverbPresetCount] = {
        {-1000, 1.49f, 0.83f, 0.020f, 100.0f},  // default
        {-1000, 1.49f, 0.83f, 0.020f, 100.0f},  // generic
        {-1000, 0.17f, 0.10f, 0.003f, 100.0f},  // padded cell
        {-1000, 0.40f, 0.83f, 0.004f, 100.0f},  // room
        {-700, 1.49f, 0.54f, 0.010f, 100.0f},   // bathroom
        {-1000, 0.50f, 0.10f, 0.004f, 100.0f},  // living room
        {-800, 2.31f, 0.64f, 0.017f, 100.0f},   // stone room
        {-1000, 4.32f, 0.59f, 0.030f, 100.0f},  // auditorium
        {-1000, 3.92f, 0.70f, 0.029f, 100.0f},  // concert hall
        {-700, 2.91f, 1.30f, 0.022f, 100.0f},   // cave
        {-1100, 7.24f, 0.33f, 0.030f, 100.0f},  // arena
        {-1000, 10.05f, 0.23f, 0.030f, 100.0f}, // hangar
        {-1500, 0.30f, 0.10f, 0.030f, 100.0f},  // carpeted hallway
        {-1000, 1.49f, 0.59f, 0.011f, 100.0f},  // hallway
        {-900, 2.70f, 0.79f, 0.020f, 100.0f},   // stone corridor
        {-1100, 1.49f, 0.86f, 0.011f, 30.0f},   // alley
        {-1800, 1.49f, 0.54f, 0.088f, 80.0f},   // forest
        {-1800, 1.49f, 0.67f, 0.011f, 50.0f},   // city
        {-2500, 1.49f, 0.21f, 0.100f, 27.0f},   // mountains
        {-1000, 1.49f, 0.83f, 0.025f, 100.0f},  // quarry
        {-2500, 1.49f, 0.50f, 0.100f, 21.0f},   // plain
        {-1000, 1.65f, 1.50f, 0.012f, 100.0f},  // parking lot
        {-600, 2.81f, 0.14f, 0.021f, 80.0f},    // sewer pipe
        {-800, 1.49f, 0.10f, 0.011f, 100.0f},   // underwater
        {-600, 1.10f, 0.83f, 0.010f, 100.0f},   // small room
        {-700, 1.30f, 0.83f, 0.015f, 100.0f},   // medium room
        {-800, 1.50f, 0.83f, 0.020f, 100.0f},   // large room
        {-800, 1.80f, 0.70f, 0.025f, 100.0f},   // medium hall
        {-900, 1.80f, 0.70f, 0.030f, 100.0f},   // large hall
        {-500, 1.30f, 0.90f, 0.002f, 75.0f},    // plate
    };
    if (out == nullptr || preset < 0 || preset >= kReverbPresetCount) {
        return false;
    }
    *out = kPresets[preset];
    return true;
}

template <typename Effect, typename... Args>
static std::unique_ptr<AudioEffect> Make(Args... args)
{
    std::unique_ptr<Effect> effect(new (std::nothrow) Effect(args...));
    if (effect == nullptr) {
        return nullptr;
    }
    if constexpr (requires { effect->Allocate(); }) {
        if (!effect->Allocate()) {
            return nullptr;
        }
    }
    return effect;
}

std::unique_ptr<AudioEffect> CreateEffect(EffectKind kind, int32_t rate)
{
    if (rate < 8000 || rate > 192000) {
        return nullptr;
    }
    switch (kind) {
    case EffectKind::kChorus:
        return Make<ChorusEffect>(rate, 20.0f);
    case EffectKind::kCompressor:
        return Make<CompressorEffect>(rate);
    case EffectKind::kDistortion:
        return Make<DistortionEffect>(rate);
    case EffectKind::kEcho:
        return Make<EchoEffect>(rate);
    case EffectKind::kFlanger:
        return Make<FlangerEffect>(rate, 4.0f);
    case EffectKind::kGargle:
        return Make<GargleEffect>(rate);
    case EffectKind::kParamEq:
        return Make<ParamEqEffect>(rate);
    case EffectKind::kReverb:
        return Make<ReverbEffect>(rate);
    }
    return nullptr;
}

}  // namespace platform
