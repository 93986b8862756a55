#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/core/debug.h"
#include "engine/sound/music.h"
#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "platform/sys/resource.h"
#include "platform/window/window.h"
#include "tests/platform/midi/test_midi_files.h"

using namespace test_midi;

class OrvaMusicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        if (!platform::IsSoundFontAvailable()) {
            GTEST_SKIP() << "no General MIDI SoundFont at " << platform::GetSoundFontPath();
        }
        logPath = TempFile("music.log");
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        ASSERT_EQ(OrvaMusic::Initialize(), 1);
        // A quarter-second song: a note for its first eighth.
        shortPath = TempFile("short.mid");
        ASSERT_TRUE(WriteFile(shortPath, OneNote(24, 48)));
        // Two seconds of one held note.
        longPath = TempFile("long.mid");
        ASSERT_TRUE(WriteFile(longPath, OneNote(384, 384)));
    }
    void TearDown() override
    {
        OrvaMusic::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove(shortPath.c_str());
        std::remove(longPath.c_str());
    }
    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static OrvaMusic* CreateLoaded(const std::string& path)
    {
        OrvaMusic* music = OrvaMusic::Create(path.c_str());
        EXPECT_NE(music, nullptr);
        OrvaMusic::WaitIdle();
        return music;
    }
    static std::vector<float> Heard(size_t frames)
    {
        OrvaMusic::WaitIdle();
        std::vector<float> out(frames * 2);
        EXPECT_TRUE(platform::AudioDevice::Render(out.data(), frames));
        return out;
    }
    static std::string Id(const void* object)
    {
        char text[32];
        std::snprintf(text, sizeof text, "ID [0x%08X]", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object)));
        return text;
    }

    std::string logPath;
    std::string shortPath;
    std::string longPath;
};

TEST_F(OrvaMusicTest, StartsLoadsPlaysStopsAndReleasesWithItsLogLines)
{
    OrvaMusic* music = CreateLoaded(longPath);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    OrvaMusic::Play(music, 0);
    EXPECT_GT(Rms(Heard(4410), 0, 4410), 0.005);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    OrvaMusic::Stop(music);
    EXPECT_TRUE(IsSilent(Heard(2048)));
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    OrvaMusic::PostRelease(music);
    OrvaMusic::WaitIdle();
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    OrvaMusic::Destroy();
    const std::string expected = "\n============================================== Initialize DirectMusic\n"
                                 "  ■ DirectMusicLoaderを生成\n"
                                 "  ■ パフォーマンスオブジェクトを生成\n"
                                 "  ■ パフォーマンスオブジェクトを初期化\n"
                                 "○ CreateMusic   / " + Id(music) + " / " + longPath + " / 76 ByteUse / Complete!\n"
                                 "● ReleaseMusic / " + Id(music) + "\n"
                                 "\n============================================== Destroy DirectMusic\n"
                                 "  ■ DirectMusicPerformanceを解体 [参照カウント0]\n"
                                 "  ■ DirectMusicLoaderを解体 [参照カウント0]\n"
                                 "  ■ DirectMusicObjectを解体 [参照カウント0]\n";
    EXPECT_EQ(Log(), expected);
}

TEST_F(OrvaMusicTest, VolumeAndPanScaleTheMusic)
{
    OrvaMusic* music = CreateLoaded(longPath);
    OrvaMusic::Play(music, 0);
    const std::vector<float> full = Heard(8820);
    OrvaMusic::Play(music, 0);
    // 50 % is 2500 hundredths of a decibel down (2499 after truncation).
    OrvaMusic::SetVolume(music, 50.0f);
    const std::vector<float> half = Heard(8820);
    EXPECT_NEAR(Rms(half, 0, 8820) / Rms(full, 0, 8820), std::pow(10.0, -2499 / 2000.0), 0.01);
    OrvaMusic::SetVolume(music, -5.0f);
    EXPECT_TRUE(IsSilent(Heard(1000)));
    OrvaMusic::SetVolume(music, 120.0f);
    OrvaMusic::SetPan(music, -150.0f);
    const std::vector<float> left = Heard(1000);
    EXPECT_GT(Rms(left, 0, 1000), 0.001);
    for (size_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(left[2 * i + 1], 0.0f);
    }
    OrvaMusic::PostRelease(music);
}

// The RMS of one side (0 left, 1 right) of frames [from, to).
static double SideRms(const std::vector<float>& out, size_t side, size_t from, size_t to)
{
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(out[2 * i + side]) * out[2 * i + side];
    }
    return std::sqrt(sum / static_cast<double>(to - from));
}

TEST_F(OrvaMusicTest, PanLowersTheFarSideOnlyBySquareLaw)
{
    OrvaMusic* music = CreateLoaded(longPath);
    OrvaMusic::Play(music, 0);
    const std::vector<float> centre = Heard(8820);
    // Each pan as the worker serves it, then the same notes from the start.
    // Negative pans are the left side: the right falls by pan squared
    // hundredths of a decibel (-10: 100, -50: 2500) and the left keeps its
    // level; positive ones mirror them.
    const struct {
        float pan;
        double left;
        double right;
    } cases[] = {
        {-10.0f, 1.0, std::pow(10.0, -100 / 2000.0)},
        {-50.0f, 1.0, std::pow(10.0, -2500 / 2000.0)},
        {50.0f, std::pow(10.0, -2500 / 2000.0), 1.0},
        {-100.0f, 1.0, 0.0},
    };
    for (const auto& c : cases) {
        OrvaMusic::SetPan(music, c.pan);
        OrvaMusic::Play(music, 0);
        const std::vector<float> panned = Heard(8820);
        EXPECT_NEAR(SideRms(panned, 0, 0, 8820) / SideRms(centre, 0, 0, 8820), c.left, 0.01) << c.pan;
        EXPECT_NEAR(SideRms(panned, 1, 0, 8820) / SideRms(centre, 1, 0, 8820), c.right, 0.01) << c.pan;
    }
    OrvaMusic::PostRelease(music);
}

TEST_F(OrvaMusicTest, TheReverbPresetSetsTheRoom)
{
    // The short song's note ends within its first eighth of a second: what
    // is heard half a second on is the room's tail.
    OrvaMusic* music = CreateLoaded(shortPath);
    auto tail = [music](int32_t preset) {
        OrvaMusic::SetReverb(music, preset);
        OrvaMusic::Play(music, 0);
        const std::vector<float> out = Heard(44100);
        return Rms(out, 22050, 44100);
    };
    const double paddedCell = tail(2);   // decays in 0.17 s
    const double concertHall = tail(8);  // 3.92 s
    const double hangar = tail(11);      // 10.05 s
    const double defaults = tail(0);     // 1.49 s
    EXPECT_GT(concertHall, 5.0 * paddedCell);
    EXPECT_GT(hangar, concertHall);
    EXPECT_GT(concertHall, defaults);
    // A number outside the table leaves the reverb at its defaults.
    EXPECT_NEAR(tail(30), defaults, 0.05 * defaults);
    EXPECT_NEAR(tail(-1), defaults, 0.05 * defaults);
    OrvaMusic::PostRelease(music);
}

TEST_F(OrvaMusicTest, LoopingMusicStartsAgainAndMusicPlayedOnceEnds)
{
    OrvaMusic* music = CreateLoaded(shortPath);
    OrvaMusic::Play(music, 1);
    const std::vector<float> looping = Heard(3 * 11025);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    OrvaMusic::Play(music, 0);
    const std::vector<float> once = Heard(3 * 11025);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    const double start = Rms(once, 0, 2000);
    EXPECT_GT(Rms(looping, 22050, 24050), 0.5 * start);
    EXPECT_LT(Rms(once, 22050, 24050), 0.01 * start);
}

TEST_F(OrvaMusicTest, PauseHoldsAndResumesWherePlayStartsOver)
{
    // Half a second: one note for the first 1/8 s, another from 1/4 s to 3/8 s.
    Track track;
    track.Event(0, {0x90, 60, 100}).Event(24, {0x80, 60, 0}).Event(24, {0x90, 67, 100}).Event(24, {0x80, 67, 0});
    track.End(24);
    const std::string path = TempFile("two.mid");
    ASSERT_TRUE(WriteFile(path, Song(0, kDivision, {track})));
    OrvaMusic* music = CreateLoaded(path);
    // Pause on music that is not playing does nothing.
    OrvaMusic::Pause(music);
    EXPECT_TRUE(IsSilent(Heard(1000)));
    OrvaMusic::Play(music, 0);
    Heard(8820);
    OrvaMusic::Pause(music);
    EXPECT_TRUE(IsSilent(Heard(2000)));
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    // Resumed 0.2 s in: silence until the second note, 0.05 s later, and the
    // end 0.3 s after the resume.
    OrvaMusic::Pause(music);
    const std::vector<float> resumed = Heard(2205 + 4000);
    EXPECT_TRUE(IsSilent(std::vector<float>(resumed.begin(), resumed.begin() + 2 * 2000)));
    EXPECT_GT(Rms(resumed, 2300, 6205), 0.001);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    Heard(13230 - 6205 + 64);
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    // Pause, then Play: from the beginning (the first note at once), and the
    // next Pause holds it rather than starting it over.
    OrvaMusic::Play(music, 1);
    Heard(1000);
    OrvaMusic::Pause(music);
    OrvaMusic::Play(music, 1);
    EXPECT_GT(Rms(Heard(1000), 0, 1000), 0.001);
    OrvaMusic::Pause(music);
    EXPECT_TRUE(IsSilent(Heard(1000)));
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    OrvaMusic::PostRelease(music);
    OrvaMusic::WaitIdle();
    std::remove(path.c_str());
}

TEST_F(OrvaMusicTest, EffectsRestartPlayingMusicAndKeepItLooping)
{
    OrvaMusic* music = CreateLoaded(shortPath);
    OrvaMusic::Play(music, 1);
    const std::vector<float> dry = Heard(4000);
    Heard(3000);
    OrvaMusic::SetChorus(music);
    const std::vector<float> chorus = Heard(3 * 11025);
    // From the start again (the note sounds at once) and still looping.
    EXPECT_GT(Rms(chorus, 0, 2000), 0.5 * Rms(dry, 0, 2000));
    EXPECT_GT(Rms(chorus, 22050, 24050), 0.5 * Rms(dry, 0, 2000));
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    // Echo keeps sounding after the note has gone; without it the tail dies.
    OrvaMusic::SetEcho(music);
    const std::vector<float> echo = Heard(11025 + 22050);
    OrvaMusic::ClearEffects(music);
    const std::vector<float> clean = Heard(11025 + 22050);
    EXPECT_NEAR(Rms(clean, 0, 4000), Rms(dry, 0, 4000), 0.02 * Rms(dry, 0, 4000));
    EXPECT_GT(Rms(echo, 0, 4000), 0.0);
    for (int preset : {0, 8, 29, 30, -1}) {
        OrvaMusic::SetReverb(music, preset);
        EXPECT_GT(Rms(Heard(4000), 0, 4000), 0.001) << preset;
    }
    for (void (*set)(OrvaMusic*) : {OrvaMusic::SetCompressor, OrvaMusic::SetDistortion, OrvaMusic::SetFlanger,
                                    OrvaMusic::SetGargle, OrvaMusic::SetParamEq}) {
        set(music);
        EXPECT_GT(Rms(Heard(4000), 0, 4000), 0.001);
        EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    }
    // On stopped music an effect starts nothing.
    OrvaMusic::Stop(music);
    OrvaMusic::SetGargle(music);
    EXPECT_TRUE(IsSilent(Heard(2000)));
    OrvaMusic::PostRelease(music);
}

TEST_F(OrvaMusicTest, BrokenAndMissingFilesFailCleanlyAndTheWorkerServesOn)
{
    const std::string missing = TempFile("missing.mid");
    const std::string cut = TempFile("cut.mid");
    Bytes bytes = OneNote(24, 48);
    bytes.erase(bytes.end() - 5, bytes.end());
    ASSERT_TRUE(WriteFile(cut, bytes));
    const std::string hostile = TempFile("hostile.mid");
    bytes = OneNote(24, 48);
    bytes[18] = 0x7F;  // a track 2 GB long
    ASSERT_TRUE(WriteFile(hostile, bytes));
    for (const std::string& path : {missing, cut, hostile}) {
        OrvaMusic* music = CreateLoaded(path);
        OrvaMusic::Play(music, 1);
        OrvaMusic::SetVolume(music, 50.0f);
        OrvaMusic::Pause(music);
        OrvaMusic::SetEcho(music);
        EXPECT_TRUE(IsSilent(Heard(1000)));
        EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
        EXPECT_NE(Log().find(path + " / エラー : MIDIファイルの読み込みに失敗\n"), std::string::npos) << Log();
        OrvaMusic::PostRelease(music);
    }
    std::remove(cut.c_str());
    std::remove(hostile.c_str());
    OrvaMusic* music = CreateLoaded(shortPath);
    OrvaMusic::Play(music, 0);
    EXPECT_GT(Rms(Heard(2000), 0, 2000), 0.001);
}

TEST_F(OrvaMusicTest, RelativeNamesAreTakenFromTheProgramsFolder)
{
    const std::string name = "orva_" + std::to_string(getpid()) + "_relative.mid";
    const std::string beside = platform::GetProgramFolder() + "/" + name;
    ASSERT_TRUE(WriteFile(beside, OneNote(24, 48)));
    // Whatever folder is current when the music loads.
    ASSERT_EQ(chdir(::testing::TempDir().c_str()), 0);
    OrvaMusic* music = CreateLoaded(name);
    OrvaMusic::Play(music, 0);
    EXPECT_GT(Rms(Heard(2000), 0, 2000), 0.001);
    OrvaMusic::PostRelease(music);
    std::remove(beside.c_str());
}

TEST_F(OrvaMusicTest, ABuiltInResourceLoadsBeforeAFileOfThatName)
{
    static const Bytes song = OneNote(24, 48);
    static const platform::ResourceEntry table[] = {{"MIDI", "TITLE_THEME", song.data(), song.size()}};
    ASSERT_TRUE(platform::AddResources(table, 1));
    OrvaMusic* music = CreateLoaded("title_theme");
    OrvaMusic::Play(music, 0);
    EXPECT_GT(Rms(Heard(2000), 0, 2000), 0.001);
    EXPECT_NE(Log().find("title_theme / from Resource / 76 ByteUse / Complete!\n"), std::string::npos) << Log();
    OrvaMusic::PostRelease(music);
    platform::RemoveResources(table);
}

TEST_F(OrvaMusicTest, CommandsAreServedInPostingOrderAcrossTheRingsWrap)
{
    OrvaMusic* music = CreateLoaded(longPath);
    // More commands than the ring has slots; the last volume wins, and the
    // play posted first is served before them all.
    OrvaMusic::Play(music, 1);
    for (int i = 0; i < 150; ++i) {
        OrvaMusic::SetVolume(music, static_cast<float>(i % 100));
    }
    OrvaMusic::SetVolume(music, -1.0f);
    EXPECT_TRUE(IsSilent(Heard(1000)));
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 1);
    OrvaMusic::SetVolume(music, 100.0f);
    OrvaMusic::Stop(music);
    OrvaMusic::Play(music, 1);
    EXPECT_GT(Rms(Heard(2000), 0, 2000), 0.001);
    OrvaMusic::PostRelease(music);
}

TEST_F(OrvaMusicTest, ShutDownReleasesMusicStillAliveAndTwoPlayAtOnce)
{
    OrvaMusic* first = CreateLoaded(longPath);
    OrvaMusic* second = CreateLoaded(longPath);
    OrvaMusic::Play(first, 1);
    const double one = Rms(Heard(4410), 0, 4410);
    OrvaMusic::Play(first, 1);
    OrvaMusic::Play(second, 1);
    // The same notes twice, in step: twice the amplitude.
    const double two = Rms(Heard(4410), 0, 4410);
    EXPECT_NEAR(two / one, 2.0, 0.1);
    OrvaMusic::Destroy();
    const std::string log = Log();
    EXPECT_NE(log.find("● ReleaseMusic / " + Id(first) + "\n"), std::string::npos);
    EXPECT_NE(log.find("● ReleaseMusic / " + Id(second) + "\n"), std::string::npos);
    EXPECT_LT(log.find("● ReleaseMusic / " + Id(second)), log.find("  ■ DirectMusicPerformanceを解体"));
    // After shut-down posts are dropped and nothing is heard.
    OrvaMusic::Play(first, 1);
    EXPECT_EQ(OrvaMusic::IsPlaying(first), 0);
}

TEST(OrvaMusic, WithoutASoundFontSetUpAndLoadsFailWithTheirLines)
{
    setenv("ORVA_AUDIO", "null", 1);
    setenv("ORVA_SOUNDFONT", "/nonexistent/none.sf2", 1);
    const std::string logPath = TempFile("nofont.log");
    std::remove(logPath.c_str());
    OrvaDebug::SetLogPath(logPath.c_str());
    ASSERT_EQ(OrvaMusic::Initialize(), 1);
    const std::string path = TempFile("nofont.mid");
    ASSERT_TRUE(WriteFile(path, OneNote(24, 48)));
    OrvaMusic* music = OrvaMusic::Create(path.c_str());
    OrvaMusic::Play(music, 1);
    OrvaMusic::WaitIdle();
    EXPECT_EQ(OrvaMusic::IsPlaying(music), 0);
    OrvaMusic::Destroy();
    OrvaDebug::SetLogPath(nullptr);
    unsetenv("ORVA_SOUNDFONT");
    std::ifstream file(logPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string expected = "\n============================================== Initialize DirectMusic\n"
                                 "  エラー : DirectMusicLoaderの生成に失敗\n"
                                 "    [ DirectX8.1以降をインストールしてください。 ]\n";
    EXPECT_EQ(text.str().rfind(expected, 0), 0u) << text.str();
    EXPECT_NE(text.str().find(path + " / エラー : パフォーマンスオブジェクトの生成に失敗\n"), std::string::npos);
    std::remove(path.c_str());
}
