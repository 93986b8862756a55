#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"

using platform::AudioDevice;
using platform::AudioLine;
using platform::AudioSource;

// Plays one stereo value for ever on its line and counts how often, and
// how many frames, it was pulled.
class ConstantSource : public AudioSource {
public:
    ConstantSource(float left, float right, AudioLine line = AudioLine::kWave) : left(left), right(right), line(line)
    {
    }
    void Pull(float* out, size_t frames) override
    {
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = left;
            out[2 * i + 1] = right;
        }
        pulls.fetch_add(1);
        pulled.fetch_add(static_cast<int64_t>(frames));
    }
    AudioLine GetLine() const override { return line; }
    std::atomic<int> pulls{0};
    std::atomic<int64_t> pulled{0};

private:
    float left;
    float right;
    AudioLine line;
};

static std::vector<float> Render(size_t frames)
{
    std::vector<float> out(frames * 2, 9.0f);
    EXPECT_TRUE(AudioDevice::Render(out.data(), frames));
    return out;
}

TEST(AudioDevice, NullDeviceSumsSourcesAndClampsToFullScale)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    ASSERT_TRUE(AudioDevice::Open());
    EXPECT_STREQ(AudioDevice::GetBackendName(), "null");
    // Nothing attached: silence, over more than one mixing block.
    for (float s : Render(1500)) {
        ASSERT_EQ(s, 0.0f);
    }
    ConstantSource a(0.25f, -0.5f);
    ConstantSource b(0.5f, -0.75f);
    ASSERT_TRUE(AudioDevice::AddSource(&a));
    ASSERT_TRUE(AudioDevice::AddSource(&b));
    // Adding twice mixes once.
    ASSERT_TRUE(AudioDevice::AddSource(&b));
    std::vector<float> out = Render(1300);
    for (size_t i = 0; i < 1300; ++i) {
        ASSERT_EQ(out[2 * i], 0.75f);
        ASSERT_EQ(out[2 * i + 1], -1.0f);  // -1.25 clamped
    }
    AudioDevice::RemoveSource(&a);
    out = Render(10);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[1], -0.75f);
    // A damaged file's samples that are no numbers, or infinite, are
    // silence: they do not wipe out what plays beside them.
    ConstantSource broken(std::nanf(""), std::numeric_limits<float>::infinity());
    ASSERT_TRUE(AudioDevice::AddSource(&broken));
    out = Render(10);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[1], -0.75f);
    AudioDevice::RemoveSource(&broken);
    AudioDevice::RemoveSource(&b);
    AudioDevice::Close();
    EXPECT_FALSE(AudioDevice::IsOpen());
}

TEST(AudioDevice, CountsItsUsersAndRefusesWorkWhenClosed)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    ASSERT_TRUE(AudioDevice::Open());
    ASSERT_TRUE(AudioDevice::Open());
    AudioDevice::Close();
    EXPECT_TRUE(AudioDevice::IsOpen());
    AudioDevice::Close();
    EXPECT_FALSE(AudioDevice::IsOpen());
    EXPECT_STREQ(AudioDevice::GetBackendName(), "");
    ConstantSource source(1.0f, 1.0f);
    EXPECT_FALSE(AudioDevice::AddSource(&source));
    float out[4] = {};
    EXPECT_FALSE(AudioDevice::Render(out, 2));
    // An unknown device name opens nothing rather than guessing.
    setenv("ORVA_AUDIO", "speaker", 1);
    EXPECT_FALSE(AudioDevice::Open());
    EXPECT_FALSE(AudioDevice::IsOpen());
}

TEST(AudioDevice, Sdl2DevicePullsOnItsOwnThread)
{
    // SDL's dummy driver plays into nothing on a thread of its own: the
    // SDL path runs without a sound card.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("ORVA_AUDIO", "sdl2", 1);
    if (!AudioDevice::Open()) {
        GTEST_SKIP() << "SDL has no dummy audio driver here";
    }
    EXPECT_STREQ(AudioDevice::GetBackendName(), "sdl2");
    ConstantSource source(0.1f, 0.1f);
    ASSERT_TRUE(AudioDevice::AddSource(&source));
    for (int i = 0; i < 400 && source.pulls.load() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(source.pulls.load(), 3);
    // A device that pulls by itself renders nothing on request.
    float out[4] = {};
    EXPECT_FALSE(AudioDevice::Render(out, 2));
    AudioDevice::RemoveSource(&source);
    const int pulled = source.pulls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(source.pulls.load(), pulled);
    AudioDevice::Close();
}

TEST(AudioDevice, AlsaKeepsItsOwnReportsOffTheTerminalWhileTheDeviceIsProbed)
{
    // Without a sound card ALSA finds nothing, and would say so at length.
    setenv("SDL_AUDIODRIVER", "alsa", 1);
    setenv("ORVA_AUDIO", "sdl2", 1);
    ::testing::internal::CaptureStderr();
    const bool opened = AudioDevice::Open();
    const std::string said = ::testing::internal::GetCapturedStderr();
    if (opened) {
        AudioDevice::Close();
    }
    unsetenv("SDL_AUDIODRIVER");
    EXPECT_EQ(said.find("ALSA lib"), std::string::npos) << said;
    // Our own word on it stays.
    EXPECT_NE(said.find("audio: "), std::string::npos);
}

static double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(AudioDevice, NullDeviceTakesTheMixInRealTimeUnlessRenderedByHand)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(false);
    ASSERT_TRUE(AudioDevice::Open());
    ConstantSource source(0.1f, 0.1f);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(AudioDevice::AddSource(&source));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int64_t pulled = source.pulled.load();
    const double elapsed = SecondsSince(start);
    // Never ahead of the clock, and behind it by no more than a loaded
    // machine can explain. (A period is mixed in blocks, so a count read
    // while the device thread mixes may stand between two periods.)
    EXPECT_LE(pulled, static_cast<int64_t>(elapsed * platform::kAudioRate) + 1);
    EXPECT_GE(pulled, static_cast<int64_t>(0.4 * 0.4 * platform::kAudioRate));
    // A device that takes the mix by itself renders nothing on request.
    float out[4] = {};
    EXPECT_FALSE(AudioDevice::Render(out, 2));

    // By hand, on the open device: its own clock stops and time moves only
    // as the caller renders.
    AudioDevice::SetRenderByHand(true);
    EXPECT_TRUE(AudioDevice::IsRenderByHand());
    const int64_t held = source.pulled.load();
    // Switching waits for the period being mixed: the clock stopped after
    // whole device periods.
    EXPECT_EQ(held % static_cast<int64_t>(AudioDevice::kPeriodFrames), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(source.pulled.load(), held);
    std::vector<float> rendered(2 * 100);
    ASSERT_TRUE(AudioDevice::Render(rendered.data(), 100));
    EXPECT_EQ(source.pulled.load(), held + 100);
    EXPECT_EQ(rendered[0], 0.1f);

    // And back: the clock runs again.
    AudioDevice::SetRenderByHand(false);
    for (int i = 0; i < 400 && source.pulled.load() == held + 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(source.pulled.load(), held + 100);
    AudioDevice::RemoveSource(&source);
    AudioDevice::Close();
}

TEST(AudioDevice, LineAndMasterGainsScaleWhatTheyName)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    ASSERT_TRUE(AudioDevice::Open());
    ConstantSource wave(0.5f, -0.5f, AudioLine::kWave);
    ConstantSource synth(0.25f, 0.25f, AudioLine::kSynthesizer);
    ConstantSource cd(0.125f, 0.0f, AudioLine::kCompactDisc);
    ASSERT_TRUE(AudioDevice::AddSource(&wave));
    ASSERT_TRUE(AudioDevice::AddSource(&synth));
    ASSERT_TRUE(AudioDevice::AddSource(&cd));
    // At the default gains the mix is the plain sum.
    std::vector<float> out = Render(4);
    EXPECT_EQ(out[0], 0.875f);
    EXPECT_EQ(out[1], -0.25f);

    AudioDevice::SetLineGain(AudioLine::kWave, 0.0f);
    out = Render(4);
    EXPECT_EQ(out[0], 0.375f);
    EXPECT_EQ(out[1], 0.25f);
    AudioDevice::SetLineGain(AudioLine::kWave, 1.0f);
    AudioDevice::SetLineGain(AudioLine::kSynthesizer, 0.5f);
    AudioDevice::SetLineGain(AudioLine::kCompactDisc, 0.0f);
    out = Render(4);
    EXPECT_EQ(out[0], 0.625f);
    EXPECT_EQ(out[1], -0.375f);
    // The master gain scales the whole mix after the lines.
    AudioDevice::SetMasterGain(0.5f);
    out = Render(4);
    EXPECT_EQ(out[0], 0.3125f);
    EXPECT_EQ(out[1], -0.1875f);
    AudioDevice::SetMasterGain(0.0f);
    for (float s : Render(600)) {
        ASSERT_EQ(s, 0.0f);
    }
    // A silenced source is still pulled: its time goes on.
    EXPECT_EQ(wave.pulled.load(), 4 * 4 + 600);
    EXPECT_EQ(synth.pulled.load(), 4 * 4 + 600);

    // Out of range is clamped; NaN is silence; an unknown line changes nothing.
    AudioDevice::SetMasterGain(3.0f);
    EXPECT_EQ(AudioDevice::GetMasterGain(), 1.0f);
    AudioDevice::SetLineGain(AudioLine::kSynthesizer, -1.0f);
    EXPECT_EQ(AudioDevice::GetLineGain(AudioLine::kSynthesizer), 0.0f);
    AudioDevice::SetLineGain(AudioLine::kCompactDisc, std::nanf(""));
    EXPECT_EQ(AudioDevice::GetLineGain(AudioLine::kCompactDisc), 0.0f);
    AudioDevice::SetLineGain(static_cast<AudioLine>(7), 0.0f);
    EXPECT_EQ(AudioDevice::GetLineGain(static_cast<AudioLine>(7)), 1.0f);
    // Kept while the device is closed.
    AudioDevice::RemoveSource(&wave);
    AudioDevice::RemoveSource(&synth);
    AudioDevice::RemoveSource(&cd);
    AudioDevice::Close();
    EXPECT_EQ(AudioDevice::GetLineGain(AudioLine::kSynthesizer), 0.0f);
    AudioDevice::SetLineGain(AudioLine::kSynthesizer, 1.0f);
    AudioDevice::SetLineGain(AudioLine::kCompactDisc, 1.0f);
}

static int64_t g_nanoseconds = 0;

TEST(AudioDevice, ThePlayedPositionMovesThroughEachPeriodByTheClock)
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    ASSERT_TRUE(AudioDevice::Open());
    // Rendered by hand, a period is heard at once.
    Render(1024);
    const uint64_t start = AudioDevice::GetPlayedFrames();
    Render(1024);
    EXPECT_EQ(AudioDevice::GetPlayedFrames(), start + 1024);
    // By a clock, a period plays out as the clock moves, and no further.
    g_nanoseconds = 5000000000;
    AudioDevice::SetClock([] { return g_nanoseconds; });
    Render(1024);
    EXPECT_EQ(AudioDevice::GetPlayedFrames(), start + 1024);
    g_nanoseconds += 10000000;
    EXPECT_EQ(AudioDevice::GetPlayedFrames(), start + 1024 + 441);
    // A period taken early starts where the one before ends.
    Render(1024);
    EXPECT_EQ(AudioDevice::GetPlayedFrames(), start + 2048);
    g_nanoseconds += 1000000000;
    EXPECT_EQ(AudioDevice::GetPlayedFrames(), start + 3072);
    AudioDevice::SetClock(nullptr);
    AudioDevice::Close();
}
