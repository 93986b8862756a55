#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "engine/core/debug.h"
#include "engine/sound/audio.h"
#include "platform/audio/audio.h"
#include "platform/window/window.h"
#include "tests/platform/media/test_audio_files.h"

using namespace test_audio;

static std::atomic<int> g_posted{0};

class OrvaAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        logPath = TempFile("audio.log");
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        g_posted.store(0);
        // As the window would: note that WM_USER + 1 was asked for.
        OrvaAudio::SetEventPoster([] { g_posted.fetch_add(1); });
        ASSERT_EQ(OrvaAudio::Initialize(), 1);
        rampPath = TempFile("ramp.wav");
        ASSERT_TRUE(WriteWav(rampPath, 2, 44100, Ramp(kRampFrames)));
    }
    void TearDown() override
    {
        OrvaAudio::Destroy();
        OrvaAudio::SetEventPoster(nullptr);
        OrvaDebug::SetLogPath(nullptr);
    }
    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // A stream of the ramp file, loaded.
    OrvaAudio* CreateRamp()
    {
        OrvaAudio* audio = OrvaAudio::Create(rampPath.c_str());
        EXPECT_NE(audio, nullptr);
        OrvaAudio::WaitIdle();
        return audio;
    }
    std::vector<float> Heard(size_t frames)
    {
        OrvaAudio::WaitIdle();
        return Render(frames);
    }

    static constexpr size_t kRampFrames = 3000;
    std::string logPath;
    std::string rampPath;
};

static void ExpectRamp(const std::vector<float>& out, size_t firstFrame, float gainLeft = 1.0f, float gainRight = 1.0f)
{
    for (size_t i = 0; i < out.size() / 2; ++i) {
        ASSERT_FLOAT_EQ(out[2 * i], RampLeft(firstFrame + i) / 32768.0f * gainLeft) << "frame " << i;
        ASSERT_FLOAT_EQ(out[2 * i + 1], RampRight(firstFrame + i) / 32768.0f * gainRight) << "frame " << i;
    }
}

static std::vector<float> Slice(const std::vector<float>& out, size_t fromFrame, size_t toFrame)
{
    return std::vector<float>(out.begin() + 2 * fromFrame, out.begin() + 2 * toFrame);
}

TEST_F(OrvaAudioTest, ALoopingStreamGoesOnFromItsStartWithoutAGap)
{
    OrvaAudio* audio = CreateRamp();
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    OrvaAudio::Play(audio, 1);
    // Across the loop point the file's last frame is followed by its first:
    // no run of silence that the file does not have.
    const std::vector<float> first = Heard(kRampFrames + 500);
    ExpectRamp(Slice(first, 0, kRampFrames), 0);
    ExpectRamp(Slice(first, kRampFrames, kRampFrames + 500), 0);
    // The end still asks the main thread to handle its event, and handling
    // it leaves the pass already under way where it is.
    EXPECT_EQ(g_posted.load(), 1);
    OrvaAudio::HandleGraphEvents();
    ExpectRamp(Heard(kRampFrames - 500), 500);
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 1);
    // Stopped, it loops no more; played once, the pass under way is its last.
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(kRampFrames), 0);
    EXPECT_TRUE(IsSilent(Heard(500)));
    OrvaAudio::HandleGraphEvents();
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    OrvaAudio::PostRelease(audio);
}

TEST_F(OrvaAudioTest, AStreamPlayedOnceStopsAtItsEnd)
{
    OrvaAudio* audio = CreateRamp();
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(kRampFrames), 0);
    Heard(100);
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 1);
    OrvaAudio::HandleGraphEvents();
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    EXPECT_TRUE(IsSilent(Heard(kRampFrames)));
    // Stopped at the end, it plays again from the start.
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(200), 0);
}

TEST_F(OrvaAudioTest, StopClearsTheLoopAndPlayStartsOver)
{
    OrvaAudio* audio = CreateRamp();
    OrvaAudio::Play(audio, 1);
    ExpectRamp(Heard(700), 0);
    // Play on a playing stream rewinds it.
    OrvaAudio::Play(audio, 1);
    ExpectRamp(Heard(300), 0);
    OrvaAudio::Stop(audio);
    EXPECT_TRUE(IsSilent(Heard(100)));
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    // An end event after Stop restarts nothing.
    OrvaAudio::HandleGraphEvents();
    EXPECT_TRUE(IsSilent(Heard(100)));
}

TEST_F(OrvaAudioTest, VolumeAndPanFollowTheSquareLaw)
{
    OrvaAudio* audio = CreateRamp();
    OrvaAudio::Play(audio, 1);
    // 50 % is 2500 hundredths of a decibel down (2499 after truncation).
    OrvaAudio::SetVolume(audio, 50.0f);
    const float half = static_cast<float>(std::pow(10.0, -2499 / 2000.0));
    ExpectRamp(Heard(100), 0, half, half);
    // Beyond 100 is full; below 0 is silence.
    OrvaAudio::SetVolume(audio, 120.0f);
    ExpectRamp(Heard(100), 100);
    OrvaAudio::SetVolume(audio, -5.0f);
    EXPECT_TRUE(IsSilent(Heard(100)));
    OrvaAudio::SetVolume(audio, 100.0f);
    // Pan 10 lowers the left side by 100 hundredths (about), -150 silences the right.
    OrvaAudio::SetPan(audio, 10.0f);
    const std::vector<float> panned = Heard(100);
    const float expectedLeft = static_cast<float>(std::pow(10.0, -0.05));
    EXPECT_NEAR(panned[0] / (RampLeft(300) / 32768.0f), expectedLeft, 0.002f);
    EXPECT_FLOAT_EQ(panned[1], RampRight(300) / 32768.0f);
    OrvaAudio::SetPan(audio, -150.0f);
    ExpectRamp(Heard(100), 400, 1.0f, 0.0f);
    OrvaAudio::SetPan(audio, 0.0f);
    ExpectRamp(Heard(100), 500);
}

TEST_F(OrvaAudioTest, NonFiniteAndNonPositiveValuesAreIgnored)
{
    OrvaAudio* audio = CreateRamp();
    OrvaAudio::Play(audio, 1);
    OrvaAudio::SetVolume(audio, std::numeric_limits<float>::quiet_NaN());
    OrvaAudio::SetVolume(audio, std::numeric_limits<float>::infinity());
    OrvaAudio::SetPan(audio, -std::numeric_limits<float>::infinity());
    OrvaAudio::SetPan(audio, std::numeric_limits<float>::quiet_NaN());
    OrvaAudio::SetSpeed(audio, 0.0f);
    OrvaAudio::SetSpeed(audio, -50.0f);
    OrvaAudio::SetSpeed(audio, std::numeric_limits<float>::quiet_NaN());
    ExpectRamp(Heard(500), 0);
    // A real speed still takes: twice the pace.
    OrvaAudio::SetSpeed(audio, 200.0f);
    const std::vector<float> fast = Heard(100);
    for (size_t k = 0; k < 100; ++k) {
        ASSERT_FLOAT_EQ(fast[2 * k], RampLeft(500 + 2 * k) / 32768.0f);
    }
}

TEST_F(OrvaAudioTest, PauseStopPlayAndPauseAgainLeavesItPaused)
{
    OrvaAudio* audio = CreateRamp();
    // Pause before any play does nothing.
    OrvaAudio::Pause(audio);
    OrvaAudio::Play(audio, 1);
    ExpectRamp(Heard(100), 0);
    OrvaAudio::Pause(audio);
    EXPECT_TRUE(IsSilent(Heard(100)));
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 1);
    OrvaAudio::Stop(audio);
    OrvaAudio::Play(audio, 1);
    ExpectRamp(Heard(100), 0);
    OrvaAudio::Pause(audio);
    EXPECT_TRUE(IsSilent(Heard(100)));
    // The second pause resumes where it was held.
    OrvaAudio::Pause(audio);
    ExpectRamp(Heard(100), 100);
}

TEST_F(OrvaAudioTest, FailedLoadsLogTheirReasonAndTheWorkerServesOn)
{
    const std::string missing = TempFile("missing.mp3");
    const std::string empty = TempFile("empty.mp3");
    std::ofstream(empty, std::ios::binary).close();
    const std::string movie = TempFile("movie.avi");
    ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x32:rate=5:d=0.4 -f lavfi -i sine=duration=0.4 -c:v mjpeg " + movie));
    // One at a time: the worker's load lines would otherwise interleave with
    // the next creation's line, as two threads write the one log.
    OrvaAudio* lost = OrvaAudio::Create(missing.c_str());
    OrvaAudio::WaitIdle();
    OrvaAudio* hollow = OrvaAudio::Create(empty.c_str());
    OrvaAudio::WaitIdle();
    OrvaAudio* video = OrvaAudio::Create(movie.c_str());
    OrvaAudio::Play(lost, 1);
    OrvaAudio::SetVolume(hollow, 50.0f);
    OrvaAudio::Play(video, 1);
    OrvaAudio::WaitIdle();
    EXPECT_EQ(OrvaAudio::IsPlaying(lost), 0);
    EXPECT_EQ(OrvaAudio::IsPlaying(video), 0);
    const std::string log = Log();
    EXPECT_NE(log.find(missing + " / エラー : ファイル読み込みに失敗\n"), std::string::npos) << log;
    EXPECT_NE(log.find(empty + " / エラー : ファイル読み込みに失敗\n"), std::string::npos) << log;
    EXPECT_NE(log.find(movie + " / エラー : 所有者ウィンドウを指定に失敗\n"), std::string::npos) << log;
    // The worker lives on.
    OrvaAudio* audio = CreateRamp();
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(100), 0);
    EXPECT_NE(Log().find(rampPath + " / Complete\n"), std::string::npos);
}

TEST_F(OrvaAudioTest, ShiftJisNamesReachTheFile)
{
    // 音楽.wav on disk, named in Shift-JIS by the engine.
    const std::string onDisk = ::testing::TempDir() + "orva_" + std::to_string(getpid()) + "_音楽.wav";
    ASSERT_TRUE(WriteWav(onDisk, 2, 44100, Ramp(500)));
    const std::string engineName = ::testing::TempDir() + "orva_" + std::to_string(getpid()) + "_\x89\xb9\x8a\x79.wav";
    OrvaAudio* audio = OrvaAudio::Create(engineName.c_str());
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(500), 0);
}

TEST_F(OrvaAudioTest, RelativeNamesAreTakenFromTheProgramsFolder)
{
    const std::string name = "orva_" + std::to_string(getpid()) + "_relative.wav";
    const std::string beside = platform::GetProgramFolder() + "/" + name;
    ASSERT_TRUE(WriteWav(beside, 2, 44100, Ramp(500)));
    // Whatever folder is current when the stream loads.
    ASSERT_EQ(chdir(::testing::TempDir().c_str()), 0);
    OrvaAudio* audio = OrvaAudio::Create(name.c_str());
    OrvaAudio::Play(audio, 0);
    ExpectRamp(Heard(500), 0);
    std::remove(beside.c_str());
}

TEST_F(OrvaAudioTest, ReleaseIsServedAfterEarlierCommandsAndLogged)
{
    OrvaAudio* audio = OrvaAudio::Create(rampPath.c_str());
    OrvaAudio::Play(audio, 1);
    OrvaAudio::SetVolume(audio, 0.0f);
    OrvaAudio::PostRelease(audio);
    OrvaAudio::WaitIdle();
    // Gone: asking after it reads nothing of it.
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    EXPECT_TRUE(IsSilent(Render(200)));
    char id[32];
    std::snprintf(id, sizeof id, "ID [0x%08X]", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(audio)));
    const std::string log = Log();
    const size_t created = log.find(std::string("○ CreateAudio   / ") + id + " / ");
    const size_t loaded = log.find("Complete\n");
    const size_t released = log.find(std::string("● ReleaseAudio / ") + id + "\n");
    ASSERT_NE(created, std::string::npos) << log;
    ASSERT_NE(released, std::string::npos) << log;
    EXPECT_LT(created, loaded);
    EXPECT_LT(loaded, released);
}

TEST_F(OrvaAudioTest, ShutDownReleasesEveryStreamStillAlive)
{
    for (int i = 0; i < 3; ++i) {
        OrvaAudio::Play(OrvaAudio::Create(rampPath.c_str()), 1);
    }
    EXPECT_FALSE(IsSilent(Heard(100)));
    OrvaAudio::Destroy();
    const std::string log = Log();
    size_t releases = 0;
    for (size_t at = log.find("● ReleaseAudio"); at != std::string::npos; at = log.find("● ReleaseAudio", at + 1)) {
        ++releases;
    }
    EXPECT_EQ(releases, 3u);
    EXPECT_NE(log.find("\n============================================== Destroy DirectShow(Audio)\n"), std::string::npos);
    EXPECT_FALSE(platform::AudioDevice::IsOpen());
    // Posts after shut-down are dropped; a creation still returns an object.
    OrvaAudio* late = OrvaAudio::Create(rampPath.c_str());
    ASSERT_NE(late, nullptr);
    OrvaAudio::Play(late, 1);
    OrvaAudio::WaitIdle();
    EXPECT_EQ(OrvaAudio::IsPlaying(late), 0);
    // Started again, the module serves afresh.
    ASSERT_EQ(OrvaAudio::Initialize(), 1);
    OrvaAudio* again = CreateRamp();
    OrvaAudio::Play(again, 0);
    ExpectRamp(Heard(100), 0);
}

TEST_F(OrvaAudioTest, OnTheNullDeviceALoopingStreamLoopsInRealTime)
{
    // A quarter of a second, looping.
    const std::string path = TempFile("quarter.wav");
    ASSERT_TRUE(WriteWav(path, 2, 44100, Ramp(11025)));
    // As on a machine without a sound card: nobody renders the mix.
    platform::AudioDevice::SetRenderByHand(false);
    OrvaAudio* audio = OrvaAudio::Create(path.c_str());
    OrvaAudio::WaitIdle();
    const auto start = std::chrono::steady_clock::now();
    OrvaAudio::Play(audio, 1);
    // The main thread's frames: each end it is told of, it handles.
    int handled = 0;
    double seconds = 0.0;
    while (handled < 3 && seconds < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int posted = g_posted.exchange(0);
        if (posted > 0) {
            handled += posted;
            OrvaAudio::HandleGraphEvents();
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_GE(handled, 3);
    // Three passes take three quarters of a second, less the device period
    // in which the last one ends; a loaded machine may be late, never early.
    EXPECT_GE(seconds, 0.7);
    EXPECT_LE(seconds, 6.0);
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 1);
    // Played once, it ends at the end of the pass and says so.
    OrvaAudio::Play(audio, 0);
    while (OrvaAudio::IsPlaying(audio) != 0 && seconds < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (g_posted.exchange(0) > 0) {
            OrvaAudio::HandleGraphEvents();
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_EQ(OrvaAudio::IsPlaying(audio), 0);
    OrvaAudio::PostRelease(audio);
    OrvaAudio::WaitIdle();
}
