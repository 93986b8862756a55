#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/audio/audio.h"
#include "platform/mci/mci.h"
#include "platform/midi/midi.h"
#include "tests/platform/mci/test_mci.h"
#include "tests/platform/media/test_audio_files.h"
#include "tests/platform/midi/test_midi_files.h"

using namespace platform;
using test_mci::Notices;

namespace {

class MciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        // Held for the test, so that the null device can be rendered also
        // when no device of the interpreter has it open.
        ASSERT_TRUE(AudioDevice::Open());
        Notices::Get().Take();
        target.notify = &test_mci::RecordNotice;
        MciSetCdDriveOpener(&test_mci::OpenFakeDrive);
        test_mci::Disc() = test_mci::FakeDisc();
        test_mci::ReadEnd().store(0);
    }
    void TearDown() override
    {
        Send("close all");
        MciSetCdDriveOpener(nullptr);
        AudioDevice::Close();
        for (const std::string& path : files) {
            std::remove(path.c_str());
        }
    }

    uint32_t Send(const std::string& command, bool notify = false)
    {
        return MciSendString(command.c_str(), reply, sizeof reply, notify ? &target : nullptr);
    }
    std::string Status(const std::string& command)
    {
        EXPECT_EQ(Send(command), kMciOk) << command;
        return reply;
    }
    std::string WavFile(size_t frames)
    {
        const std::string path = test_audio::TempFile("mci.wav");
        files.push_back(path);
        EXPECT_TRUE(test_audio::WriteWav(path, 2, kAudioRate, test_audio::Ramp(frames)));
        return path;
    }

    MciNotifyTarget target;
    char reply[256] = {};
    std::vector<std::string> files;
};

TEST_F(MciTest, WavePlaysIntoMixerAndNotifiesOnceAtItsEnd)
{
    const size_t frames = 4410;  // 100 ms
    const std::string path = WavFile(frames);
    ASSERT_EQ(Send("open \"" + path + "\" type waveaudio alias wave"), kMciOk);
    EXPECT_EQ(Status("status wave length"), "100");
    EXPECT_EQ(Status("status wave mode"), "stopped");
    ASSERT_EQ(Send("play wave notify", true), kMciOk);
    EXPECT_EQ(Status("status wave mode"), "playing");

    const std::vector<float> first = test_audio::Render(2000);
    for (size_t i : {size_t(0), size_t(1), size_t(1999)}) {
        EXPECT_NEAR(first[i * 2], test_audio::RampLeft(i) / 32768.0f, 1e-4f) << i;
        EXPECT_NEAR(first[i * 2 + 1], test_audio::RampRight(i) / 32768.0f, 1e-4f) << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(Notices::Get().Count(kMciNotifySuccessful), 0u);

    test_audio::Render(3000);
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifySuccessful));
    EXPECT_EQ(Status("status wave mode"), "stopped");
    EXPECT_EQ(Status("status wave position"), "100");
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(Notices::Get().Take().size(), 1u);

    // From the start again: the whole file once more.
    ASSERT_EQ(Send("seek wave to start"), kMciOk);
    ASSERT_EQ(Send("play wave notify", true), kMciOk);
    const std::vector<float> again = test_audio::Render(10);
    EXPECT_NEAR(again[0], test_audio::RampLeft(0) / 32768.0f, 1e-4f);
}

TEST_F(MciTest, StopPauseAndResume)
{
    const std::string path = WavFile(44100);
    ASSERT_EQ(Send("open \"" + path + "\" type waveaudio alias w"), kMciOk);
    ASSERT_EQ(Send("play w notify", true), kMciOk);
    test_audio::Render(100);

    ASSERT_EQ(Send("pause w"), kMciOk);
    EXPECT_EQ(Status("status w mode"), "paused");
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(500)));
    ASSERT_EQ(Send("resume w"), kMciOk);
    EXPECT_EQ(Status("status w mode"), "playing");
    // Resumed where it paused: frame 100 of the ramp.
    const std::vector<float> resumed = test_audio::Render(10);
    EXPECT_NEAR(resumed[0], test_audio::RampLeft(100) / 32768.0f, 1e-4f);

    // Stopping aborts the play's notification; it never completes.
    ASSERT_EQ(Send("stop w"), kMciOk);
    EXPECT_EQ(Status("status w mode"), "stopped");
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifyAborted));
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(500)));
    EXPECT_EQ(Notices::Get().Count(kMciNotifySuccessful), 0u);
}

TEST_F(MciTest, NewPlaySupersedesPendingNotification)
{
    const std::string path = WavFile(44100);
    ASSERT_EQ(Send("open \"" + path + "\" type waveaudio alias w"), kMciOk);
    ASSERT_EQ(Send("play w notify", true), kMciOk);
    ASSERT_EQ(Send("seek w to start"), kMciOk);
    ASSERT_EQ(Send("play w notify", true), kMciOk);
    ASSERT_EQ(Send("play w notify", true), kMciOk);
    const std::vector<test_mci::Notice> notices = Notices::Get().Take();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].status, kMciNotifyAborted);
    EXPECT_EQ(notices[1].status, kMciNotifySuperseded);
}

TEST_F(MciTest, MidiFilePlaysAndNotifiesAtItsEnd)
{
    if (!IsSoundFontAvailable()) {
        GTEST_SKIP() << "no General MIDI SoundFont";
    }
    const std::string path = test_midi::TempFile("mci.mid");
    files.push_back(path);
    // A quarter-second song: a note for its first eighth.
    ASSERT_TRUE(test_midi::WriteFile(path, test_midi::OneNote(24, 48)));
    ASSERT_EQ(Send("open \"" + path + "\" type sequencer alias midi"), kMciOk);
    EXPECT_EQ(Status("status midi length"), "250");
    ASSERT_EQ(Send("play midi notify", true), kMciOk);
    const std::vector<float> heard = test_audio::Render(4410);
    EXPECT_GT(test_midi::Rms(heard, 0, 4410), 0.001);
    EXPECT_EQ(Notices::Get().Count(kMciNotifySuccessful), 0u);
    test_audio::Render(8000);
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifySuccessful));
    EXPECT_EQ(Status("status midi mode"), "stopped");
    EXPECT_EQ(Status("status midi position"), "250");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(Notices::Get().Take().size(), 1u);

    // A play that ends early stops where it was told to.
    ASSERT_EQ(Send("play midi from 0 to 100 notify", true), kMciOk);
    test_audio::Render(8000);
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifySuccessful));
    const int position = std::atoi(Status("status midi position").c_str());
    EXPECT_GE(position, 100);
    EXPECT_LT(position, 250);
    EXPECT_EQ(Send("play midi from 300"), kMciErrorOutOfRange);
}

TEST_F(MciTest, FilesThatCannotOpenFailCleanly)
{
    EXPECT_EQ(Send("open \"/nonexistent/none.wav\" type waveaudio alias wave"), kMciErrorFileNotFound);
    const std::string junk = test_audio::TempFile("junk.mid");
    files.push_back(junk);
    ASSERT_TRUE(test_midi::WriteFile(junk, {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'}));
    const uint32_t midi = Send("open \"" + junk + "\" type sequencer alias midi");
    EXPECT_TRUE(midi == kMciErrorInvalidFile || midi == kMciErrorCannotLoadDriver) << midi;
    EXPECT_EQ(Send("play wave notify", true), kMciErrorInvalidDeviceName);
    EXPECT_EQ(Send("status midi mode"), kMciErrorInvalidDeviceName);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(Send("open \"x.unknown\" alias x"), kMciErrorDeviceTypeRequired);
    EXPECT_EQ(Send("open waveaudio"), kMciErrorUnsupportedFunction);
    EXPECT_EQ(Send("close nothing"), kMciErrorInvalidDeviceName);
    EXPECT_EQ(Notices::Get().Take().size(), 0u);
}

TEST_F(MciTest, ReplyMayShareTheCommandBuffer)
{
    const std::string path = WavFile(441);
    ASSERT_EQ(Send("open \"" + path + "\" type waveaudio alias wave"), kMciOk);
    char buffer[256] = "status wave mode";
    ASSERT_EQ(MciSendString(buffer, buffer, sizeof buffer, nullptr), kMciOk);
    EXPECT_STREQ(buffer, "stopped");
    char tiny[4] = "x";
    EXPECT_EQ(MciSendString("status wave mode", tiny, sizeof tiny, nullptr), kMciErrorParamOverflow);
    EXPECT_STREQ(tiny, "");
    EXPECT_EQ(Send("open \"" + path + "\" type waveaudio alias WAVE"), kMciErrorDuplicateAlias);
}

TEST_F(MciTest, CdWithoutDriveFailsCleanly)
{
    struct stat info {};
    if (stat("/dev/cdrom", &info) == 0 || stat("/dev/sr0", &info) == 0) {
        GTEST_SKIP() << "this machine has a CD drive";
    }
    MciSetCdDriveOpener(nullptr);
    EXPECT_EQ(Send("open cdaudio"), kMciErrorCannotLoadDriver);
    EXPECT_EQ(Send("status cdaudio media present"), kMciErrorInvalidDeviceName);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(Send("play cdaudio from 0 to 1000 notify", true), kMciErrorInvalidDeviceName);
    EXPECT_EQ(Notices::Get().Take().size(), 0u);
}

TEST_F(MciTest, CdTableOfContentsInEachTimeFormat)
{
    ASSERT_EQ(Send("open cdaudio"), kMciOk);
    EXPECT_EQ(Status("status cdaudio media present"), "true");
    EXPECT_EQ(Status("status cdaudio number of tracks"), "3");
    EXPECT_EQ(Status("status cdaudio time format"), "msf");
    // Track 1 starts after the two-second lead-in; track 2 thirty sectors on.
    EXPECT_EQ(Status("status cdaudio position track 2"), "00:02:30");
    ASSERT_EQ(Send("set cdaudio time format milliseconds"), kMciOk);
    EXPECT_EQ(Status("status cdaudio position track 1"), "2000");
    EXPECT_EQ(Status("status cdaudio position track 2"), "2400");
    EXPECT_EQ(Status("status cdaudio length track 2"), "600");
    EXPECT_EQ(Status("status cdaudio length"), "1800");
    EXPECT_EQ(Send("status cdaudio length track 4"), kMciErrorOutOfRange);
    ASSERT_EQ(Send("set cdaudio time format tmsf"), kMciOk);
    ASSERT_EQ(Send("seek cdaudio to 2:0:0:10"), kMciOk);
    EXPECT_EQ(Status("status cdaudio position"), "02:00:00:10");
    EXPECT_EQ(Status("status cdaudio current track"), "2");
    EXPECT_EQ(Send("seek cdaudio to 4"), kMciErrorOutOfRange);
    EXPECT_EQ(Send("seek cdaudio to 1:0:60:0"), kMciErrorBadInteger);
}

TEST_F(MciTest, CdTableOfContentsThatMakesNoSenseIsNoDisc)
{
    ASSERT_EQ(Send("open cdaudio"), kMciOk);
    const test_mci::FakeDisc bad[] = {
        {{}, 10},                                    // no tracks
        {{-5, 30}, 75},                              // before the first sector
        {{0, 30, 30}, 75},                           // out of order
        {{0, 30}, 30},                               // lead-out on a track
        {{0, 1000}, 100 * 60 * 75 - 150 + 1},        // past 99:59:74
        {{0, 1000000000}, 1000000100},               // times past 32-bit milliseconds
    };
    for (const test_mci::FakeDisc& disc : bad) {
        test_mci::Disc() = disc;
        EXPECT_EQ(Status("status cdaudio media present"), "false") << disc.leadOut;
        EXPECT_EQ(Send("status cdaudio number of tracks"), kMciErrorDeviceNotReady);
    }
    // The last sector a disc can address ends a table that is taken.
    test_mci::Disc() = test_mci::FakeDisc{{0, 1000}, 100 * 60 * 75 - 150};
    EXPECT_EQ(Status("status cdaudio media present"), "true");
    ASSERT_EQ(Send("set cdaudio time format ms"), kMciOk);
    // 100 minutes, less the start of track 2 with the lead-in.
    EXPECT_EQ(Status("status cdaudio length track 2"), std::to_string(6000000 - (1000 + 150) * 1000 / 75));
}

TEST_F(MciTest, CdPlaysItsRangeAndNotifiesOnceAtTheEnd)
{
    ASSERT_EQ(Send("open cdaudio"), kMciOk);
    ASSERT_EQ(Send("set cdaudio time format milliseconds"), kMciOk);
    // Track 2 exactly: sectors 30 to 74.
    ASSERT_EQ(Send("play cdaudio from 2400 to 3000 notify", true), kMciOk);
    ASSERT_TRUE(test_mci::WaitForReadAhead(75));
    const std::vector<float> out = test_audio::Render(45 * 588);
    EXPECT_EQ(test_mci::SectorOf(out, 0), 30);
    EXPECT_EQ(test_mci::SectorOf(out, 588), 31);
    EXPECT_EQ(test_mci::SectorOf(out, 45 * 588 - 1), 74);
    EXPECT_NEAR(out[1], -30 / 32768.0f, 1e-6f);
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifySuccessful));
    EXPECT_EQ(Status("status cdaudio mode"), "stopped");
    EXPECT_EQ(Status("status cdaudio position"), "3000");
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));
    EXPECT_EQ(Notices::Get().Take().size(), 1u);

    EXPECT_EQ(Send("play cdaudio from 3000 to 2400"), kMciErrorOutOfRange);
    EXPECT_EQ(Send("play cdaudio from 0 to 2400"), kMciErrorOutOfRange);
    EXPECT_EQ(Send("play cdaudio from 2000 to 99999"), kMciErrorOutOfRange);
}

TEST_F(MciTest, CdPauseHoldsThePositionAndDoorOpenTakesTheDisc)
{
    ASSERT_EQ(Send("open cdaudio"), kMciOk);
    ASSERT_EQ(Send("set cdaudio time format ms"), kMciOk);
    ASSERT_EQ(Send("play cdaudio notify", true), kMciOk);
    ASSERT_TRUE(test_mci::WaitForReadAhead(16));
    test_audio::Render(10 * 588);
    ASSERT_EQ(Send("pause cdaudio"), kMciOk);
    EXPECT_EQ(Status("status cdaudio mode"), "paused");
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(2000)));
    ASSERT_EQ(Send("resume cdaudio"), kMciOk);
    EXPECT_EQ(test_mci::SectorOf(test_audio::Render(1), 0), 10);

    ASSERT_EQ(Send("set cdaudio door open"), kMciOk);
    ASSERT_TRUE(Notices::Get().WaitFor(kMciNotifyAborted));
    EXPECT_EQ(Status("status cdaudio mode"), "open");
    EXPECT_EQ(Status("status cdaudio media present"), "false");
    EXPECT_EQ(Send("play cdaudio"), kMciErrorDeviceNotReady);
    EXPECT_EQ(Send("status cdaudio number of tracks"), kMciErrorDeviceNotReady);
}

}  // namespace
