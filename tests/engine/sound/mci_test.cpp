#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/debug.h"
#include "engine/sound/mci.h"
#include "engine/sound/mixer.h"
#include "platform/audio/audio.h"
#include "platform/mci/mci.h"
#include "platform/midi/midi.h"
#include "platform/mixer/mixer.h"
#include "tests/platform/mci/test_mci.h"
#include "tests/platform/media/test_audio_files.h"
#include "tests/platform/midi/test_midi_files.h"

using test_mci::Commands;
using test_mci::Notices;
using Strings = std::vector<std::string>;

namespace {

// Stands in for the window procedure's post of the notification message.
void PostToMainThread(uintptr_t wParam, intptr_t lParam)
{
    Notices::Get().Add(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
}

class OrvaMciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        setenv("ORVA_MIXER", "memory", 1);
        ASSERT_TRUE(platform::MixerSystem::SelectBackend("memory"));
        platform::MemoryMixer::SetLayout(platform::MemoryMixer::DefaultLayout());
        ASSERT_TRUE(platform::AudioDevice::Open());
        logPath = test_audio::TempFile("mci.log");
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        test_mci::Disc() = test_mci::FakeDisc();
        test_mci::ReadEnd().store(0);
        platform::MciSetCdDriveOpener(&test_mci::OpenFakeDrive);
        platform::MciSetCommandObserver(&Commands::Observe);
        OrvaMci::SetNotifyPoster(&PostToMainThread);
        ASSERT_EQ(OrvaMci::Initialize(), 1);
        Commands::Get().Take();
        Notices::Get().Take();
    }
    void TearDown() override
    {
        OrvaMci::Destroy();
        OrvaMci::SetNotifyPoster(nullptr);
        platform::MciSetCommandObserver(nullptr);
        platform::MciSetCdDriveOpener(nullptr);
        platform::AudioDevice::Close();
        OrvaDebug::SetLogPath(nullptr);
        for (const std::string& path : files) {
            std::remove(path.c_str());
        }
        std::remove(logPath.c_str());
    }

    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string Wav(const std::string& name, size_t frames)
    {
        const std::string path = test_audio::TempFile(name);
        files.push_back(path);
        EXPECT_TRUE(test_audio::WriteWav(path, 2, platform::kAudioRate, test_audio::Ramp(frames)));
        return path;
    }
    std::string Midi(const std::string& name, uint32_t holdTicks, uint32_t lengthTicks)
    {
        const std::string path = test_audio::TempFile(name);
        files.push_back(path);
        EXPECT_TRUE(test_midi::WriteFile(path, test_midi::OneNote(holdTicks, lengthTicks)));
        return path;
    }
    // What the window procedure does with the notifications that arrived:
    // completed ones go to OnNotify. Returns how many did.
    static int Dispatch()
    {
        int count = 0;
        for (const test_mci::Notice& notice : Notices::Get().Take()) {
            if (notice.status == OrvaMci::kNotifySuccessful) {
                OrvaMci::OnNotify(notice.status, static_cast<intptr_t>(notice.id));
                ++count;
            }
        }
        return count;
    }
    static std::string Status(const char* command)
    {
        char reply[256] = {};
        platform::MciSendString(command, reply, sizeof reply, nullptr);
        return reply;
    }
    static bool Contains(const Strings& list, const std::string& item)
    {
        for (const std::string& entry : list) {
            if (entry == item) {
                return true;
            }
        }
        return false;
    }

    std::string logPath;
    std::vector<std::string> files;
};

bool HasCdDrive()
{
    struct stat info {};
    return stat("/dev/cdrom", &info) == 0 || stat("/dev/sr0", &info) == 0;
}

TEST_F(OrvaMciTest, CdWithoutDriveFailsCleanly)
{
    if (HasCdDrive()) {
        GTEST_SKIP() << "this machine has a CD drive";
    }
    OrvaMci::Destroy();
    platform::MciSetCdDriveOpener(nullptr);
    ASSERT_EQ(OrvaMci::Initialize(), 1);
    Commands::Get().Take();

    EXPECT_EQ(OrvaMci::OpenCd(), static_cast<int32_t>(platform::kMciErrorCannotLoadDriver));
    EXPECT_EQ(OrvaMci::ReadCdTracks(), 0);
    EXPECT_FALSE(OrvaMci::IsCdMediaPresent());
    EXPECT_EQ(OrvaMci::PlayCdAll(), 0);
    EXPECT_EQ(OrvaMci::PlayCdTrackLoop(1), 0);
    EXPECT_EQ(OrvaMci::PauseCd(), 0);
    OrvaMci::StopCd();
    EXPECT_EQ(Commands::Get().Take(), (Strings{"open cdaudio", "status cdaudio media present"}));
}

TEST_F(OrvaMciTest, ReadsTheDiscAndPlaysItAll)
{
    ASSERT_EQ(OrvaMci::ReadCdTracks(), 3);
    EXPECT_EQ(Commands::Get().Take(),
              (Strings{"status cdaudio media present", "status cdaudio number of tracks",
                       "set cdaudio time format milliseconds", "status cdaudio length",
                       "status cdaudio position track 1", "status cdaudio length track 1",
                       "status cdaudio position track 2", "status cdaudio length track 2",
                       "status cdaudio position track 3", "status cdaudio length track 3"}));
    EXPECT_EQ(OrvaMci::GetCdTrackPosition(1), 2000);
    EXPECT_EQ(OrvaMci::GetCdTrackPosition(3), 3000);
    EXPECT_EQ(OrvaMci::GetCdTrackLength(3), 800);
    EXPECT_EQ(OrvaMci::GetCdTrackPosition(4), 1800);  // the end entry: the disc length
    EXPECT_EQ(OrvaMci::GetCdTrackPosition(5), -1);

    // Track numbers outside 1 to 3 play nothing and send nothing.
    EXPECT_EQ(OrvaMci::PlayCd(0, 2, 0), 3);
    EXPECT_EQ(OrvaMci::PlayCd(1, 99, 0), 3);
    EXPECT_EQ(OrvaMci::PlayCdTracksLoop(2, 4), 3);
    EXPECT_TRUE(Commands::Get().Take().empty());
    EXPECT_FALSE(OrvaMci::IsCdPlaying());

    EXPECT_EQ(OrvaMci::PlayCdAll(), 0);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"play cdaudio from 2000 to 3800 notify"}));
    EXPECT_TRUE(OrvaMci::IsCdPlaying());
    // A range that ends before it starts is refused by the device, and the
    // module does not take the CD for playing.
    OrvaMci::StopCd();
    EXPECT_NE(OrvaMci::PlayCdTracks(3, 1), 0);
    EXPECT_FALSE(OrvaMci::IsCdPlaying());
}

TEST_F(OrvaMciTest, TrackLoopReplaysExactlyThatTrack)
{
    ASSERT_EQ(OrvaMci::ReadCdTracks(), 3);
    EXPECT_EQ(OrvaMci::PlayCdTrackLoop(2), 1);
    ASSERT_TRUE(test_mci::WaitForReadAhead(75));
    const std::vector<float> first = test_audio::Render(45 * 588);
    EXPECT_EQ(test_mci::SectorOf(first, 0), 30);
    EXPECT_EQ(test_mci::SectorOf(first, 45 * 588 - 1), 74);
    ASSERT_TRUE(Notices::Get().WaitFor(OrvaMci::kNotifySuccessful));
    Commands::Get().Take();
    test_mci::ReadEnd().store(0);
    EXPECT_EQ(Dispatch(), 1);
    const Strings sent = Commands::Get().Take();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "play cdaudio from 2400 to 3000 notify");
    EXPECT_TRUE(Contains(sent, "status cdaudio mode"));
    ASSERT_TRUE(test_mci::WaitForReadAhead(46));
    const std::vector<float> again = test_audio::Render(588);
    EXPECT_EQ(test_mci::SectorOf(again, 0), 30);
    EXPECT_TRUE(OrvaMci::IsCdPlaying());
}

TEST_F(OrvaMciTest, PauseCdKeepsThePositionAndIgnoresNotifications)
{
    ASSERT_EQ(OrvaMci::ReadCdTracks(), 3);
    ASSERT_EQ(OrvaMci::PlayCdTrackLoop(2), 1);
    ASSERT_TRUE(test_mci::WaitForReadAhead(46));
    test_audio::Render(10 * 588);
    Commands::Get().Take();

    EXPECT_EQ(OrvaMci::PauseCd(), 1);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"status cdaudio position", "stop cdaudio"}));
    EXPECT_TRUE(OrvaMci::IsCdPlaying());
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(2000)));

    // A notification in between leaves the paused CD alone.
    OrvaMci::OnNotify(OrvaMci::kNotifySuccessful, 0);
    for (const std::string& command : Commands::Get().Take()) {
        EXPECT_EQ(command.find("cdaudio"), std::string::npos) << command;
    }

    // Sector 40 is at (40 + 150) / 75 s; the resumed play still ends with
    // track 2, not with the disc.
    test_mci::ReadEnd().store(0);
    EXPECT_EQ(OrvaMci::PauseCd(), 0);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"seek cdaudio to 2533", "play cdaudio to 3000 notify"}));
    ASSERT_TRUE(test_mci::WaitForReadAhead(75));
    const std::vector<float> resumed = test_audio::Render(35 * 588);
    EXPECT_EQ(test_mci::SectorOf(resumed, 0), 40);
    EXPECT_EQ(test_mci::SectorOf(resumed, 35 * 588 - 1), 74);
    ASSERT_TRUE(Notices::Get().WaitFor(OrvaMci::kNotifySuccessful));
}

TEST_F(OrvaMciTest, WavePlaysOnceThenIsClosedByItsNotification)
{
    const std::string path = Wav("once.wav", 4410);
    EXPECT_EQ(OrvaMci::PlayWave(path.c_str()), 0);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"stop wave", "close wave",
                                               "open \"" + path + "\" type waveaudio alias wave",
                                               "seek wave to start", "play wave notify"}));
    EXPECT_TRUE(OrvaMci::IsWaveOpen());
    const std::vector<float> heard = test_audio::Render(4410);
    EXPECT_NEAR(heard[2 * 10], test_audio::RampLeft(10) / 32768.0f, 1e-4f);
    test_audio::Render(100);
    ASSERT_TRUE(Notices::Get().WaitFor(OrvaMci::kNotifySuccessful));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(Dispatch(), 1);
    EXPECT_FALSE(OrvaMci::IsWaveOpen());
    const Strings sent = Commands::Get().Take();
    EXPECT_TRUE(Contains(sent, "close wave"));
    EXPECT_FALSE(Contains(sent, "play wave notify"));
    EXPECT_EQ(Status("status wave mode"), "");
}

TEST_F(OrvaMciTest, LoopingWaveKeepsLoopingWhileMidiPlaysOnce)
{
    if (!platform::IsSoundFontAvailable()) {
        GTEST_SKIP() << "no General MIDI SoundFont";
    }
    const std::string wave = Wav("loop.wav", 3000);  // 68 ms
    const std::string midi = Midi("once.mid", 24, 48);  // 250 ms
    EXPECT_EQ(OrvaMci::PlayWaveLoop(wave.c_str()), 1);
    EXPECT_EQ(OrvaMci::PlayMidi(midi.c_str()), 0);
    ASSERT_TRUE(OrvaMci::IsMidiOpen());
    int restarts = 0;
    for (int chunk = 0; chunk < 20 && OrvaMci::IsMidiOpen(); ++chunk) {
        test_audio::Render(2205);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        Dispatch();
        for (const std::string& command : Commands::Get().Take()) {
            restarts += command == "play wave notify" ? 1 : 0;
        }
    }
    EXPECT_FALSE(OrvaMci::IsMidiOpen());
    EXPECT_GE(restarts, 2);
    EXPECT_TRUE(OrvaMci::IsWaveOpen());
    // Still looping: sound goes on in the chunks after the MIDI file closed.
    bool heard = false;
    for (int chunk = 0; chunk < 3; ++chunk) {
        heard = heard || !test_audio::IsSilent(test_audio::Render(2205));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        Dispatch();
    }
    EXPECT_TRUE(heard);
    EXPECT_TRUE(OrvaMci::IsWaveOpen());
}

TEST_F(OrvaMciTest, LoopingMidiRestartsWhileWavePlaysOnce)
{
    if (!platform::IsSoundFontAvailable()) {
        GTEST_SKIP() << "no General MIDI SoundFont";
    }
    const std::string wave = Wav("once.wav", 2205);  // 50 ms
    const std::string midi = Midi("loop.mid", 24, 24);  // 125 ms
    EXPECT_EQ(OrvaMci::PlayMidiLoop(midi.c_str()), 1);
    EXPECT_EQ(OrvaMci::PlayWave(wave.c_str()), 0);
    int restarts = 0;
    for (int chunk = 0; chunk < 10; ++chunk) {
        test_audio::Render(2205);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        Dispatch();
        for (const std::string& command : Commands::Get().Take()) {
            restarts += command == "seek midi to start" ? 1 : 0;
        }
    }
    EXPECT_FALSE(OrvaMci::IsWaveOpen());
    EXPECT_TRUE(OrvaMci::IsMidiOpen());
    EXPECT_GE(restarts, 2);
    EXPECT_EQ(Status("status midi mode"), "playing");
}

TEST_F(OrvaMciTest, PauseWaveStopsAndPlaysAgainFromTheStart)
{
    EXPECT_EQ(OrvaMci::PauseWave(), 0);
    EXPECT_EQ(OrvaMci::PauseMidi(), 0);
    EXPECT_TRUE(Commands::Get().Take().empty());

    const std::string path = Wav("pause.wav", 44100);
    EXPECT_EQ(OrvaMci::PlayWaveLoop(path.c_str()), 1);
    test_audio::Render(1000);
    Commands::Get().Take();
    EXPECT_EQ(OrvaMci::PauseWave(), 1);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"stop wave"}));
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));

    // Another device's completion must not restart (or close) the paused wave.
    OrvaMci::OnNotify(OrvaMci::kNotifySuccessful, 0);
    EXPECT_TRUE(OrvaMci::IsWaveOpen());
    EXPECT_EQ(Status("status wave mode"), "stopped");
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));
    Commands::Get().Take();

    EXPECT_EQ(OrvaMci::PauseWave(), 0);
    EXPECT_EQ(Commands::Get().Take(), (Strings{"seek wave to start", "play wave notify"}));
    const std::vector<float> resumed = test_audio::Render(10);
    EXPECT_NEAR(resumed[0], test_audio::RampLeft(0) / 32768.0f, 1e-4f);
}

TEST_F(OrvaMciTest, RefusesFileNamesThatWouldNotFitOrEndTheQuote)
{
    // "open \"\" type waveaudio alias wave" is 33 bytes: 222 more still fit.
    const std::string fits(222, 'a');
    OrvaMci::PlayWave(fits.c_str());
    EXPECT_TRUE(Contains(Commands::Get().Take(), "open \"" + fits + "\" type waveaudio alias wave"));

    const std::string tooLong(223, 'a');
    EXPECT_NE(OrvaMci::PlayWave(tooLong.c_str()), 0);
    EXPECT_NE(OrvaMci::PlayMidiLoop(std::string(1000, 'm').c_str()), 0);
    const std::string quoted = "a.wav\" type sequencer alias midi";
    EXPECT_NE(OrvaMci::PlayWave(quoted.c_str()), 0);
    EXPECT_NE(OrvaMci::PlayWave(nullptr), 0);
    for (const std::string& command : Commands::Get().Take()) {
        EXPECT_NE(command.rfind("open", 0), 0u) << command;
        EXPECT_EQ(command.find("play"), std::string::npos) << command;
    }
    EXPECT_FALSE(OrvaMci::IsWaveOpen());
    EXPECT_FALSE(OrvaMci::IsMidiOpen());
    const std::string log = Log();
    EXPECT_NE(log.find("  エラー : MCI : ファイル名が長すぎます (223 バイト) [" + tooLong + "]\n"), std::string::npos);
    EXPECT_NE(log.find("  エラー : MCI : ファイル名が不正です [" + quoted + "]\n"), std::string::npos);
}

TEST_F(OrvaMciTest, FileThatDoesNotOpenLeavesNothingOpen)
{
    EXPECT_NE(OrvaMci::PlayWave("/nonexistent/none.wav"), 0);
    EXPECT_FALSE(OrvaMci::IsWaveOpen());
    EXPECT_EQ(OrvaMci::PauseWave(), 0);
    EXPECT_EQ(OrvaMci::PlayMidiLoop("/nonexistent/none.mid"), 1);
    EXPECT_FALSE(OrvaMci::IsMidiOpen());
}

TEST_F(OrvaMciTest, DestroyPutsBackTheMixerVolumesAndClosesEverything)
{
    ASSERT_TRUE(OrvaMixer::IsStarted());
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 1000), 1);
    uint32_t volume = 0;
    ASSERT_TRUE(platform::MemoryMixer::PeekVolume(0, 0, 0, &volume));
    ASSERT_EQ(volume, 1000u);
    ASSERT_EQ(OrvaMci::ReadCdTracks(), 3);
    ASSERT_EQ(OrvaMci::PlayCdAll(), 0);
    const std::string path = Wav("destroy.wav", 44100);
    ASSERT_EQ(OrvaMci::PlayWave(path.c_str()), 0);
    Commands::Get().Take();

    OrvaMci::Destroy();
    EXPECT_EQ(Commands::Get().Take(), (Strings{"stop cdaudio", "stop midi", "close midi", "stop wave", "close wave",
                                               "close cdaudio"}));
    ASSERT_TRUE(platform::MemoryMixer::PeekVolume(0, 0, 0, &volume));
    EXPECT_EQ(volume, platform::MemoryMixer::kDefaultVolume);
    EXPECT_FALSE(OrvaMixer::IsStarted());
    EXPECT_FALSE(OrvaMci::IsCdPlaying());
    EXPECT_FALSE(OrvaMci::IsWaveOpen());
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));
    ASSERT_EQ(OrvaMci::Initialize(), 1);
}

}  // namespace
