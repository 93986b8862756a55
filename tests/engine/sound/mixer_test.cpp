#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/core/debug.h"
#include "engine/sound/mixer.h"
#include "engine/sound/music.h"
#include "engine/sound/sound.h"
#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "platform/mixer/mixer.h"
#include "tests/platform/media/test_audio_files.h"
#include "tests/platform/midi/test_midi_files.h"

using platform::MemoryMixer;
using platform::MemoryMixerLayout;
using platform::MemoryMixerLine;
using platform::MixerLineKind;

static MemoryMixerLine Line(MixerLineKind kind, const char* name, uint32_t volume)
{
    MemoryMixerLine line;
    line.kind = kind;
    line.name = name;
    line.shortName = name;
    platform::MemoryMixerControl control;
    control.volume = volume;
    line.controls.push_back(control);
    return line;
}

// Speakers at 1000 fed by wave output 2000, synthesizer 3000 and CD 4000.
static MemoryMixerLayout FourLines()
{
    MemoryMixerLayout layout;
    MemoryMixerLine speakers = Line(MixerLineKind::Speakers, "Master", 1000);
    speakers.sources.push_back(Line(MixerLineKind::WaveOut, "PCM", 2000));
    speakers.sources.push_back(Line(MixerLineKind::Synthesizer, "Synth", 3000));
    speakers.sources.push_back(Line(MixerLineKind::CompactDisc, "CD", 4000));
    layout.destinations.push_back(speakers);
    return layout;
}

// The volume of the first control of destination 0 (source -1) or its source.
static uint32_t Peek(int32_t source, uint32_t destination = 0)
{
    uint32_t volume = 0xFFFFFFFF;
    EXPECT_TRUE(MemoryMixer::PeekVolume(destination, source, 0, &volume));
    return volume;
}

class OrvaMixerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(platform::MixerSystem::SelectBackend("memory"));
        MemoryMixer::SetLayout(FourLines());
        char name[] = "/tmp/orva_mixer_logXXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        logPath = name;
        OrvaDebug::SetLogPath(logPath.c_str());
    }
    void TearDown() override
    {
        OrvaMixer::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove(logPath.c_str());
        MemoryMixer::SetLayout(MemoryMixer::DefaultLayout());
    }
    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool Logged(const std::string& line) const { return Log().find(line) != std::string::npos; }

    std::string logPath;
};

TEST_F(OrvaMixerTest, StartFindsTheLinesAndRecordsTheirVolumes)
{
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_TRUE(OrvaMixer::IsStarted());
    EXPECT_EQ(Log(),
              "\n============================================== Initialize Audio Mixer\n"
              "  ■ ミキサーデバイス数 1\n"
              "    ○デバイスNo.00 \"Master\" [Master]\n"
              "       スピーカーに接続\n"
              "       ライン出力をサポート\n"
              "            ・WAVE OUTボリュームコントロールをサポート\n"
              "            ・SYNTHESIZERボリュームコントロールをサポート\n"
              "            ・ANALOG-CDAUDIOボリュームコントロールをサポート\n");
    for (int32_t line = 0; line < OrvaMixer::kLineCount; ++line) {
        EXPECT_TRUE(OrvaMixer::IsSupported(line));
        EXPECT_EQ(OrvaMixer::GetSavedVolume(line), 1000u * (line + 1));
        EXPECT_EQ(OrvaMixer::GetVolume(line), 1000 * (line + 1));
    }
}

TEST_F(OrvaMixerTest, SetVolumeWritesOnlyItsLineAndClamps)
{
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 12345), 1);
    EXPECT_EQ(Peek(0), 12345u);
    EXPECT_EQ(OrvaMixer::GetVolume(OrvaMixer::kLineWave), 12345);
    EXPECT_EQ(Peek(-1), 1000u);
    EXPECT_EQ(Peek(1), 3000u);
    EXPECT_EQ(Peek(2), 4000u);

    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineCompactDisc, 70000), 1);
    EXPECT_EQ(Peek(2), 65535u);
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSpeaker, -5), 1);
    EXPECT_EQ(Peek(-1), 0u);
    EXPECT_TRUE(Logged("音量 70000 を 65535 に補正\n"));
    EXPECT_TRUE(Logged("音量 -5 を 0 に補正\n"));
    // The saved volumes are those of the start, not the latest.
    EXPECT_EQ(OrvaMixer::GetSavedVolume(OrvaMixer::kLineWave), 2000u);
}

TEST_F(OrvaMixerTest, BadLineIndexesAreRefusedAndLogged)
{
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    for (int32_t line : {-1, 4, 1 << 30}) {
        EXPECT_EQ(OrvaMixer::SetVolume(line, 100), 0);
        EXPECT_EQ(OrvaMixer::GetVolume(line), -1);
        EXPECT_EQ(OrvaMixer::GetSavedVolume(line), 0u);
        EXPECT_FALSE(OrvaMixer::IsSupported(line));
    }
    std::unique_ptr<platform::MixerDevice> mixer = platform::MixerSystem::Open(0);
    ASSERT_NE(mixer, nullptr);
    EXPECT_EQ(OrvaMixer::ApplyVolume(mixer.get(), 4), 0);
    EXPECT_EQ(OrvaMixer::ApplyVolume(nullptr, 0), 0);
    EXPECT_TRUE(Logged("  エラー : SetVolume : ライン番号 -1 は範囲外です (0 - 3)\n"));
    EXPECT_TRUE(Logged("  エラー : ApplyVolume : ライン番号 4 は範囲外です (0 - 3)\n"));
    EXPECT_EQ(Peek(-1), 1000u);
    EXPECT_EQ(Peek(0), 2000u);
    EXPECT_EQ(Peek(1), 3000u);
    EXPECT_EQ(Peek(2), 4000u);
}

TEST_F(OrvaMixerTest, StopPutsBackTheVolumesOfTheStart)
{
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 1000), 1);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSpeaker, 50000), 1);
    OrvaMixer::RestoreVolumes();
    EXPECT_EQ(Peek(0), 2000u);
    EXPECT_EQ(Peek(-1), 1000u);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(OrvaMixer::kLineWave), 2000u);

    // A second start must not take the changed volumes for the originals.
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 9), 1);
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(OrvaMixer::kLineSynthesizer), 3000u);
    OrvaMixer::Destroy();
    EXPECT_EQ(Peek(1), 3000u);
    EXPECT_FALSE(OrvaMixer::IsStarted());
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 9), 0);
    EXPECT_EQ(Peek(1), 3000u);
}

TEST_F(OrvaMixerTest, NothingHappensBeforeStart)
{
    EXPECT_FALSE(OrvaMixer::IsStarted());
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 5), 0);
    EXPECT_EQ(OrvaMixer::GetVolume(OrvaMixer::kLineWave), -1);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(OrvaMixer::kLineWave), 0u);
    OrvaMixer::RestoreVolumes();
    EXPECT_EQ(Peek(0), 2000u);
    EXPECT_TRUE(Logged("  エラー : SetVolume : ミキサーが初期化されていません\n"));
}

// Without a control of its own the line's record is empty; writing it would
// reach the control whose id is 0, the speakers' volume here.
TEST_F(OrvaMixerTest, LineWithoutVolumeControlIsRefusedAndTouchesNoOther)
{
    MemoryMixerLayout layout = FourLines();
    layout.destinations[0].sources[1].controls.clear();
    MemoryMixer::SetLayout(layout);
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_FALSE(OrvaMixer::IsSupported(OrvaMixer::kLineSynthesizer));
    EXPECT_FALSE(Logged("SYNTHESIZER"));
    EXPECT_EQ(OrvaMixer::GetSavedVolume(OrvaMixer::kLineSynthesizer), 0u);
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 0), 0);
    EXPECT_EQ(Peek(-1), 1000u);
    EXPECT_EQ(Peek(0), 2000u);
    EXPECT_EQ(Peek(2), 4000u);
}

TEST_F(OrvaMixerTest, SpeakerWithoutReadableVolumeContributesNoSources)
{
    MemoryMixerLayout layout = FourLines();
    layout.destinations[0].controls[0].readable = false;
    MemoryMixer::SetLayout(layout);
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_TRUE(Logged("       スピーカーに接続\n"));
    EXPECT_FALSE(Logged("ライン出力をサポート"));
    for (int32_t line = 0; line < OrvaMixer::kLineCount; ++line) {
        EXPECT_FALSE(OrvaMixer::IsSupported(line));
        EXPECT_EQ(OrvaMixer::SetVolume(line, 7), 0);
    }
    EXPECT_EQ(Peek(0), 2000u);
}

TEST_F(OrvaMixerTest, TwoSpeakerOutputsTakeTheLastSpeakerAndTheFirstOfEachSource)
{
    MemoryMixerLayout layout;
    MemoryMixerLine first = Line(MixerLineKind::Speakers, "Speakers A", 100);
    first.sources.push_back(Line(MixerLineKind::WaveOut, "Wave A", 201));
    MemoryMixerLine other = Line(MixerLineKind::Other, "Recording", 7);
    other.sources.push_back(Line(MixerLineKind::CompactDisc, "CD rec", 8));
    MemoryMixerLine second = Line(MixerLineKind::Speakers, "Speakers B", 300);
    // A mute switch, then a volume that cannot be read, then the one to use.
    platform::MemoryMixerControl mute;
    mute.type = 0x20010002;
    platform::MemoryMixerControl unreadable;
    unreadable.readable = false;
    second.controls.insert(second.controls.begin(), {mute, unreadable});
    second.sources.push_back(Line(MixerLineKind::WaveOut, "Wave B", 401));
    second.sources.push_back(Line(MixerLineKind::Synthesizer, "Synth B", 402));
    second.sources.push_back(Line(MixerLineKind::CompactDisc, "CD B", 403));
    layout.destinations = {first, other, second};
    MemoryMixer::SetLayout(layout);

    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_TRUE(Logged("    ○デバイスNo.01 \"Recording\" [Recording]\n"));
    EXPECT_EQ(OrvaMixer::GetSavedVolume(0), 300u);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(1), 201u);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(2), 402u);
    EXPECT_EQ(OrvaMixer::GetSavedVolume(3), 403u);

    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSpeaker, 5555), 1);
    uint32_t volume = 0;
    ASSERT_TRUE(MemoryMixer::PeekVolume(2, -1, 2, &volume));
    EXPECT_EQ(volume, 5555u);
    EXPECT_EQ(Peek(-1, 0), 100u);
}

TEST_F(OrvaMixerTest, StartFailuresLeaveTheModuleStopped)
{
    MemoryMixerLayout layout = FourLines();
    layout.devices = 0;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(OrvaMixer::Initialize(), 0);
    EXPECT_TRUE(Logged("  エラー : ミキサーデバイスがありません\n"));

    layout.devices = 1;
    layout.opens = false;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(OrvaMixer::Initialize(), 0);
    EXPECT_TRUE(Logged("  エラー : ミキサーデバイスのオープンに失敗\n"));

    layout.opens = true;
    layout.capsReadable = false;
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(OrvaMixer::Initialize(), 0);
    EXPECT_TRUE(Logged("  ミキサーデバイス情報の取得に失敗\n"));
    EXPECT_FALSE(OrvaMixer::IsStarted());
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSpeaker, 1), 0);
    EXPECT_EQ(Peek(-1), 1000u);
}

TEST_F(OrvaMixerTest, DeviceThatRefusesOrLosesAControlIsReportedAsAFailure)
{
    MemoryMixerLayout layout = FourLines();
    layout.destinations[0].sources[0].controls[0].writable = false;
    MemoryMixer::SetLayout(layout);
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 10), 0);
    EXPECT_TRUE(Logged("  エラー : ライン 1 の音量設定に失敗\n"));

    // The CD control goes away while started: nothing is written in its place.
    layout.destinations[0].sources[2].controls.clear();
    MemoryMixer::SetLayout(layout);
    EXPECT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineCompactDisc, 10), 0);
    EXPECT_TRUE(Logged("  エラー : ライン 3 の音量コントロールが見つかりません\n"));
    EXPECT_EQ(Peek(-1), 1000u);
    EXPECT_EQ(Peek(1), 3000u);
}

// The first frame's left sample of the next `frames` frames heard, and
// whether the rest of them carry it too.
static float Level(size_t frames = 256)
{
    const std::vector<float> out = test_audio::Render(frames);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i], out[0]) << "sample " << i;
    }
    return out[0];
}

TEST_F(OrvaMixerTest, WithoutHardwareTheLinesSetTheEnginesOwnOutput)
{
    setenv("ORVA_AUDIO", "null", 1);
    platform::AudioDevice::SetRenderByHand(true);
    MemoryMixer::SetLayout(MemoryMixer::DefaultLayout());
    ASSERT_EQ(OrvaMixer::Initialize(), 1);
    ASSERT_EQ(OrvaSound::Initialize(), 1);
    // A sound effect holding one level, looping.
    const std::string path = test_audio::TempFile("level.wav");
    ASSERT_TRUE(test_audio::WriteWav(path, 2, 44100, std::vector<int16_t>(2 * 1000, 8192)));
    OrvaSound* effect = OrvaSound::Create(path.c_str());
    OrvaSound::Play(effect, 1);
    OrvaSound::WaitIdle();
    EXPECT_EQ(Level(), 0.25f);

    // The wave line silences sound effects; half way, half as loud.
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 0), 1);
    EXPECT_EQ(Level(), 0.0f);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 32768), 1);
    EXPECT_FLOAT_EQ(Level(), 0.25f * 32768.0f / 65535.0f);
    // The synthesizer and CD lines leave them alone; the speakers do not.
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 65535), 1);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 0), 1);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineCompactDisc, 0), 1);
    EXPECT_EQ(Level(), 0.25f);
    ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSpeaker, 0), 1);
    EXPECT_EQ(Level(), 0.0f);
    // Put back as they were at start-up, the sound is whole again.
    OrvaMixer::RestoreVolumes();
    EXPECT_EQ(Level(), 0.25f);

    // The synthesizer line is MIDI music's, and only its.
    if (platform::IsSoundFontAvailable()) {
        ASSERT_EQ(OrvaMusic::Initialize(), 1);
        const std::string song = test_midi::TempFile("held.mid");
        ASSERT_TRUE(test_midi::WriteFile(song, test_midi::OneNote(384, 384)));
        OrvaMusic* music = OrvaMusic::Create(song.c_str());
        OrvaSound::Stop(effect);
        OrvaSound::WaitIdle();
        OrvaMusic::Play(music, 1);
        OrvaMusic::WaitIdle();
        EXPECT_GT(test_midi::Rms(test_audio::Render(4410), 0, 4410), 0.005);
        ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 0), 1);
        EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(4410)));
        ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineSynthesizer, 65535), 1);
        ASSERT_EQ(OrvaMixer::SetVolume(OrvaMixer::kLineWave, 0), 1);
        EXPECT_GT(test_midi::Rms(test_audio::Render(4410), 0, 4410), 0.005);
        OrvaMusic::Destroy();
        std::remove(song.c_str());
    }
    OrvaSound::Destroy();
    std::remove(path.c_str());
}
