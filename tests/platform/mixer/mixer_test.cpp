#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/mixer/mixer.h"

using namespace platform;

// Raw ranges as drivers report them: small faders, a signed one, ranges
// either side of our 16 bits, and one spanning most of int64.
struct Range {
    int64_t minimum;
    int64_t maximum;
};
static const Range kCoarse[] = {{0, 1}, {0, 31}, {0, 87}, {0, 255}, {-10239, 400}, {-5, 5}, {0, 65535}};
static const Range kFine[] = {{0, 65535}, {0, 65536}, {-100000, 100000}, {0, 1LL << 40}, {7, 7 + 999999}};

TEST(MixerVolumeScale, EndsMapToEnds)
{
    for (const Range& r : kCoarse) {
        EXPECT_EQ(ScaleVolumeToRange(0, r.minimum, r.maximum), r.minimum);
        EXPECT_EQ(ScaleVolumeToRange(kMixerVolumeMax, r.minimum, r.maximum), r.maximum);
        EXPECT_EQ(ScaleVolumeFromRange(r.minimum, r.minimum, r.maximum), 0u);
        EXPECT_EQ(ScaleVolumeFromRange(r.maximum, r.minimum, r.maximum), kMixerVolumeMax);
    }
    const int64_t lo = std::numeric_limits<int64_t>::min();
    const int64_t hi = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(ScaleVolumeToRange(kMixerVolumeMax, lo, hi), hi);
    EXPECT_EQ(ScaleVolumeToRange(0, lo, hi), lo);
    EXPECT_EQ(ScaleVolumeFromRange(hi - 1, lo, hi), kMixerVolumeMax);
}

TEST(MixerVolumeScale, CoarseRangeSurvivesTheTripThroughVolumes)
{
    for (const Range& r : kCoarse) {
        for (int64_t raw = r.minimum; raw <= r.maximum; ++raw) {
            const uint32_t volume = ScaleVolumeFromRange(raw, r.minimum, r.maximum);
            ASSERT_EQ(ScaleVolumeToRange(volume, r.minimum, r.maximum), raw) << r.minimum << ".." << r.maximum;
        }
    }
}

TEST(MixerVolumeScale, VolumesSurviveTheTripThroughAFineRange)
{
    for (const Range& r : kFine) {
        int64_t previous = r.minimum;
        for (uint32_t volume = 0; volume <= kMixerVolumeMax; ++volume) {
            const int64_t raw = ScaleVolumeToRange(volume, r.minimum, r.maximum);
            ASSERT_GE(raw, previous);
            ASSERT_LE(raw, r.maximum);
            ASSERT_EQ(ScaleVolumeFromRange(raw, r.minimum, r.maximum), volume) << r.minimum << ".." << r.maximum;
            previous = raw;
        }
    }
}

TEST(MixerVolumeScale, RoundsToNearestAndClampsOutsiders)
{
    // 32767 of 65535 on a 3-step fader is 0.99998 of a step.
    EXPECT_EQ(ScaleVolumeToRange(32767, 0, 2), 1);
    EXPECT_EQ(ScaleVolumeToRange(16383, 0, 2), 0);
    EXPECT_EQ(ScaleVolumeToRange(16384, 0, 2), 1);
    EXPECT_EQ(ScaleVolumeToRange(70000, 0, 31), 31);
    EXPECT_EQ(ScaleVolumeFromRange(40, 0, 31), kMixerVolumeMax);
    EXPECT_EQ(ScaleVolumeFromRange(-1, 0, 31), 0u);
    EXPECT_EQ(ScaleVolumeToRange(500, 9, 9), 9);
    EXPECT_EQ(ScaleVolumeFromRange(9, 9, 9), 0u);
    EXPECT_EQ(ScaleVolumeToRange(500, 10, 3), 10);
}

TEST(MixerSystem, ChoosesTheNamedBackend)
{
    ASSERT_TRUE(MixerSystem::SelectBackend("memory"));
    EXPECT_STREQ(MixerSystem::GetBackendName(), "memory");
    EXPECT_EQ(MixerSystem::GetDeviceCount(), 1u);

    EXPECT_FALSE(MixerSystem::SelectBackend("winmm"));
    EXPECT_STREQ(MixerSystem::GetBackendName(), "");
    EXPECT_EQ(MixerSystem::GetDeviceCount(), 0u);
    EXPECT_EQ(MixerSystem::Open(0), nullptr);

    // ALSA opens only where there is a sound card; either way the answer
    // and the state agree, and the automatic choice always finds a mixer.
    const bool alsa = MixerSystem::SelectBackend("alsa");
    EXPECT_EQ(alsa, std::strcmp(MixerSystem::GetBackendName(), "alsa") == 0);
    EXPECT_EQ(MixerSystem::GetDeviceCount(), alsa ? 1u : 0u);
    ASSERT_TRUE(MixerSystem::SelectBackend(nullptr));
    EXPECT_STREQ(MixerSystem::GetBackendName(), alsa ? "alsa" : "memory");
    EXPECT_NE(MixerSystem::Open(0), nullptr);
}

// The first use reads ORVA_MIXER: check it in a fresh process.
TEST(MixerSystem, FirstUseFollowsTheEnvironmentAndLogsTheChoice)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("ORVA_MIXER", "memory", 1);
            std::exit(std::strcmp(MixerSystem::GetBackendName(), "memory") == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "mixer: volumes are kept in memory");
    EXPECT_EXIT(
        {
            unsetenv("ORVA_MIXER");
            std::exit(MixerSystem::GetDeviceCount() == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "mixer: (using the ALSA mixer|no ALSA mixer could be opened .*; volumes are kept in memory)");
}

// The id of the first control of a destination (source < 0) or its source.
static uint32_t ControlOf(MixerDevice* mixer, uint32_t destination, int32_t source)
{
    MixerLineInfo line;
    const bool found = source < 0 ? mixer->GetDestination(destination, &line)
                                  : mixer->GetSource(destination, static_cast<uint32_t>(source), &line);
    std::vector<MixerControlInfo> controls;
    if (!found || !mixer->GetControls(line.id, &controls) || controls.empty()) {
        ADD_FAILURE() << "no control on line " << destination << "/" << source;
        return 0xFFFFFFFF;
    }
    return controls[0].id;
}

class MemoryMixerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MixerSystem::SelectBackend("memory"));
        MemoryMixer::SetLayout(MemoryMixer::DefaultLayout());
    }
    void TearDown() override { MemoryMixer::SetLayout(MemoryMixer::DefaultLayout()); }
};

TEST_F(MemoryMixerTest, DefaultDeviceHasTheFourLines)
{
    std::unique_ptr<MixerDevice> mixer = MixerSystem::Open(0);
    ASSERT_NE(mixer, nullptr);
    MixerDeviceCaps caps;
    ASSERT_TRUE(mixer->GetCaps(&caps));
    ASSERT_EQ(caps.destinations, 1u);
    MixerLineInfo speakers;
    ASSERT_TRUE(mixer->GetDestination(0, &speakers));
    EXPECT_EQ(speakers.kind, MixerLineKind::Speakers);
    EXPECT_EQ(speakers.name, "Master");
    ASSERT_EQ(speakers.connections, 3u);

    const MixerLineKind kinds[] = {MixerLineKind::WaveOut, MixerLineKind::Synthesizer, MixerLineKind::CompactDisc};
    MixerLineInfo lines[4] = {speakers};
    for (uint32_t s = 0; s < 3; ++s) {
        ASSERT_TRUE(mixer->GetSource(0, s, &lines[s + 1]));
        EXPECT_EQ(lines[s + 1].kind, kinds[s]);
    }
    for (int i = 0; i < 4; ++i) {
        std::vector<MixerControlInfo> controls;
        ASSERT_TRUE(mixer->GetControls(lines[i].id, &controls));
        ASSERT_EQ(controls.size(), 1u);
        EXPECT_EQ(controls[0].type, kMixerControlTypeVolume);
        uint32_t volume = 0;
        ASSERT_TRUE(mixer->GetVolume(controls[0].id, &volume));
        EXPECT_EQ(volume, MemoryMixer::kDefaultVolume);
    }

    MixerLineInfo none;
    EXPECT_FALSE(mixer->GetDestination(1, &none));
    EXPECT_FALSE(mixer->GetSource(0, 3, &none));
    EXPECT_FALSE(mixer->GetSource(1, 0, &none));
    std::vector<MixerControlInfo> controls;
    EXPECT_FALSE(mixer->GetControls(0x12345678, &controls));
    uint32_t volume = 0;
    EXPECT_FALSE(mixer->GetVolume(99, &volume));
    EXPECT_FALSE(mixer->SetVolume(99, 1));
}

TEST_F(MemoryMixerTest, LayoutCanRefuseEachStep)
{
    MemoryMixerLayout layout = MemoryMixer::DefaultLayout();
    layout.destinations[0].controls[0].readable = false;
    layout.destinations[0].sources[0].controls[0].writable = false;
    layout.destinations[0].sources[1].controls[0].volume = 70000;
    layout.capsReadable = false;
    MemoryMixer::SetLayout(layout);
    {
        std::unique_ptr<MixerDevice> mixer = MixerSystem::Open(0);
        ASSERT_NE(mixer, nullptr);
        MixerDeviceCaps caps;
        EXPECT_FALSE(mixer->GetCaps(&caps));
        uint32_t volume = 0;
        EXPECT_FALSE(mixer->GetVolume(ControlOf(mixer.get(), 0, -1), &volume));
        EXPECT_FALSE(mixer->SetVolume(ControlOf(mixer.get(), 0, 0), 5));
        ASSERT_TRUE(mixer->GetVolume(ControlOf(mixer.get(), 0, 1), &volume));
        EXPECT_EQ(volume, kMixerVolumeMax);
        ASSERT_TRUE(MemoryMixer::PeekVolume(0, 0, 0, &volume));
        EXPECT_EQ(volume, MemoryMixer::kDefaultVolume);
    }
    layout.opens = false;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(MixerSystem::GetDeviceCount(), 1u);
    EXPECT_EQ(MixerSystem::Open(0), nullptr);
    layout.devices = 0;
    layout.opens = true;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(MixerSystem::GetDeviceCount(), 0u);
    EXPECT_EQ(MixerSystem::Open(0), nullptr);
}

// One value on one line of the mix, for ever.
class LineSource : public AudioSource {
public:
    LineSource(AudioLine line, float value) : line(line), value(value) {}
    void Pull(float* out, size_t frames) override
    {
        for (size_t i = 0; i < frames * kAudioChannels; ++i) {
            out[i] = value;
        }
    }
    AudioLine GetLine() const override { return line; }

private:
    AudioLine line;
    float value;
};

// The first frame's left sample of what the null device plays now.
static float Heard()
{
    float out[2 * 4] = {};
    EXPECT_TRUE(AudioDevice::Render(out, 4));
    return out[0];
}

TEST_F(MemoryMixerTest, VolumesAreTheMixsGainsWhileItIsTheMixer)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    ASSERT_TRUE(AudioDevice::Open());
    // Powers of two, so every sum below is exact.
    LineSource wave(AudioLine::kWave, 0.5f);
    LineSource synth(AudioLine::kSynthesizer, 0.25f);
    LineSource cd(AudioLine::kCompactDisc, 0.125f);
    ASSERT_TRUE(AudioDevice::AddSource(&wave));
    ASSERT_TRUE(AudioDevice::AddSource(&synth));
    ASSERT_TRUE(AudioDevice::AddSource(&cd));
    // At the default volumes the mix is as it is without a mixer.
    EXPECT_EQ(Heard(), 0.875f);
    {
        std::unique_ptr<MixerDevice> mixer = MixerSystem::Open(0);
        ASSERT_NE(mixer, nullptr);
        // Each source line scales its own sources only.
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, 0), 0));
        EXPECT_EQ(Heard(), 0.375f);
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, 0), kMixerVolumeMax));
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, 1), 0));
        EXPECT_EQ(Heard(), 0.625f);
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, 2), 0));
        EXPECT_EQ(Heard(), 0.5f);
        // The speakers' volume scales everything, linear in amplitude.
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, -1), 0));
        EXPECT_EQ(Heard(), 0.0f);
        ASSERT_TRUE(mixer->SetVolume(ControlOf(mixer.get(), 0, -1), 13107));
        EXPECT_FLOAT_EQ(Heard(), 0.1f);
    }
    // A new layout drives the mix at once; only what feeds the speakers is
    // heard, so a recording input's CD line changes nothing.
    MemoryMixerLayout layout = MemoryMixer::DefaultLayout();
    MemoryMixerLine capture;
    capture.kind = MixerLineKind::Other;
    capture.name = "Capture";
    capture.sources.push_back(layout.destinations[0].sources[2]);
    capture.sources[0].controls[0].volume = 0;
    layout.destinations.push_back(capture);
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(Heard(), 0.875f);
    layout.destinations[0].sources[0].controls[0].volume = 0;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(Heard(), 0.375f);
    // Another backend takes over: the mix is no longer ours to scale.
    ASSERT_FALSE(MixerSystem::SelectBackend("winmm"));
    EXPECT_EQ(Heard(), 0.875f);
    EXPECT_EQ(AudioDevice::GetMasterGain(), 1.0f);
    ASSERT_TRUE(MixerSystem::SelectBackend("memory"));
    EXPECT_EQ(Heard(), 0.375f);
    AudioDevice::RemoveSource(&wave);
    AudioDevice::RemoveSource(&synth);
    AudioDevice::RemoveSource(&cd);
    AudioDevice::Close();
}
