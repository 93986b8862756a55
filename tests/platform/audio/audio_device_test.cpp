#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"

using platform::AudioDevice;
using platform::AudioSource;

// Plays one stereo value for ever and counts how often it was pulled.
class ConstantSource : public AudioSource {
public:
    ConstantSource(float left, float right) : left(left), right(right) {}
    void Pull(float* out, size_t frames) override
    {
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = left;
            out[2 * i + 1] = right;
        }
        pulls.fetch_add(1);
    }
    std::atomic<int> pulls{0};

private:
    float left;
    float right;
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
    AudioDevice::RemoveSource(&b);
    AudioDevice::Close();
    EXPECT_FALSE(AudioDevice::IsOpen());
}

TEST(AudioDevice, CountsItsUsersAndRefusesWorkWhenClosed)
{
    setenv("ORVA_AUDIO", "null", 1);
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
