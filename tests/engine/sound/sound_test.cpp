#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/debug.h"
#include "engine/sound/sound.h"
#include "platform/audio/audio.h"
#include "platform/audio/effects.h"
#include "platform/sys/resource.h"
#include "tests/platform/media/test_audio_files.h"

using namespace test_audio;

static std::string U32(uint32_t v)
{
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    return std::string(b, 4);
}

static std::string U16(uint16_t v)
{
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    return std::string(b, 2);
}

// The 16-byte PCM format body.
static std::string Fmt(uint16_t channels, uint32_t rate, uint16_t bits)
{
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return U16(1) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
}

static std::string Chunk(const std::string& id, const std::string& body, bool pad = true)
{
    std::string chunk = id + U32(static_cast<uint32_t>(body.size())) + body;
    if (pad && body.size() % 2 != 0) {
        chunk += '\0';
    }
    return chunk;
}

static std::string Riff(const std::string& chunks)
{
    return "RIFF" + U32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

static std::string RampBytes(size_t frames)
{
    std::string bytes;
    for (int16_t s : Ramp(frames)) {
        bytes += U16(static_cast<uint16_t>(s));
    }
    return bytes;
}

static void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One OSD pack entry: the name in 32 bytes, the size, the 18-byte format, the data.
static std::string PackEntry(const std::string& name, const std::string& data)
{
    std::string field = name.substr(0, 32);
    field.resize(32, '\0');
    return field + U32(static_cast<uint32_t>(data.size())) + Fmt(2, 44100, 16) + U16(0) + data;
}

static std::string Pack(const std::string& entries)
{
    return std::string("OSD\0", 4) + entries;
}

static std::string IdText(const void* object)
{
    char id[32];
    std::snprintf(id, sizeof id, "ID [0x%08X]", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object)));
    return id;
}

class OrvaSoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        logPath = TempFile("sound.log");
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        ASSERT_EQ(OrvaSound::Initialize(), 1);
        rampPath = TempFile("ramp.wav");
        WriteBytes(rampPath, Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("data", RampBytes(kRampFrames))));
    }
    void TearDown() override
    {
        OrvaSound::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        setenv("ORVA_AUDIO", "null", 1);
    }
    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    OrvaSound* Load(const std::string& path)
    {
        OrvaSound* sound = OrvaSound::Create(path.c_str());
        EXPECT_NE(sound, nullptr);
        OrvaSound::WaitIdle();
        return sound;
    }
    static std::vector<float> Heard(size_t frames)
    {
        OrvaSound::WaitIdle();
        return Render(frames);
    }

    static constexpr size_t kRampFrames = 2000;
    std::string logPath;
    std::string rampPath;
};

static void ExpectRamp(const std::vector<float>& out, size_t firstFrame, float gainLeft = 1.0f,
                       float gainRight = 1.0f)
{
    for (size_t i = 0; i < out.size() / 2; ++i) {
        ASSERT_FLOAT_EQ(out[2 * i], RampLeft(firstFrame + i) / 32768.0f * gainLeft) << "frame " << i;
        ASSERT_FLOAT_EQ(out[2 * i + 1], RampRight(firstFrame + i) / 32768.0f * gainRight) << "frame " << i;
    }
}

TEST_F(OrvaSoundTest, StartsTheDeviceAndLogsEachStep)
{
    EXPECT_NE(Log().find("\n============================================== Initialize DirectSound\n"
                         "  ■ DirectSoundオブジェクトを生成\n"
                         "  ■ DirectSoundオブジェクトを初期化\n"
                         "  ■ 協調レベルを 優先レベル に設定\n"
                         "  ■ メモリのコンパクションを実行\n"
                         "  ■ プライマリサウンドバッファを生成\n"
                         "     プライマリサウンドバッファのフォーマットを設定\n"),
              std::string::npos)
        << Log();
}

TEST_F(OrvaSoundTest, PlaysOnceThroughAListChunkAndReportsItsEnd)
{
    // An odd-sized chunk, padded as RIFF says, before the data.
    const std::string path = TempFile("list.wav");
    WriteBytes(path, Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("LIST", "INFOabc") +
                          Chunk("data", RampBytes(kRampFrames))));
    OrvaSound* sound = Load(path);
    EXPECT_NE(Log().find("○ CreateSound   / " + IdText(sound) + " / " + path +
                         " / DataSize 0.008MB / 16Bit 44.1KHz / Complete\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    OrvaSound::Play(sound, 0);
    ExpectRamp(Heard(1000), 0);
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 1);
    ExpectRamp(Heard(1000), 1000);
    EXPECT_TRUE(IsSilent(Heard(100)));
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    // Played again it starts over.
    OrvaSound::Play(sound, 0);
    ExpectRamp(Heard(10), 0);
    OrvaSound::PostRelease(sound);
}

TEST_F(OrvaSoundTest, LoopingWrapsAndIsNotReportedAsPlaying)
{
    OrvaSound* sound = Load(rampPath);
    OrvaSound::Play(sound, 1);
    const std::vector<float> out = Heard(kRampFrames + 300);
    ExpectRamp(std::vector<float>(out.begin(), out.begin() + 2 * kRampFrames), 0);
    ExpectRamp(std::vector<float>(out.begin() + 2 * kRampFrames, out.end()), 0);
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    OrvaSound::Stop(sound);
    EXPECT_TRUE(IsSilent(Heard(100)));
    EXPECT_EQ(OrvaSound::IsPlaying(nullptr), 0);
}

TEST_F(OrvaSoundTest, VolumeAndPanFollowTheSquareLaw)
{
    OrvaSound* sound = Load(rampPath);
    OrvaSound::Play(sound, 1);
    // 50 % is 2499 hundredths of a decibel down after truncation.
    OrvaSound::SetVolume(sound, 50.0f);
    const float half = static_cast<float>(std::pow(10.0, -2499 / 2000.0));
    ExpectRamp(Heard(100), 0, half, half);
    OrvaSound::SetVolume(sound, 150.0f);
    OrvaSound::SetPan(sound, 10.0f);
    const std::vector<float> panned = Heard(100);
    EXPECT_NEAR(panned[0] / (RampLeft(100) / 32768.0f), std::pow(10.0, -0.05), 0.002);
    EXPECT_FLOAT_EQ(panned[1], RampRight(100) / 32768.0f);
    OrvaSound::SetPan(sound, -150.0f);
    ExpectRamp(Heard(100), 200, 1.0f, 0.0f);
    OrvaSound::SetPan(sound, 0.0f);
    OrvaSound::SetVolume(sound, -1.0f);
    EXPECT_TRUE(IsSilent(Heard(100)));
}

TEST_F(OrvaSoundTest, PauseHoldsThePlaceAndResumesFromIt)
{
    OrvaSound* sound = Load(rampPath);
    // Pausing a stopped sound does nothing.
    OrvaSound::Pause(sound);
    EXPECT_TRUE(IsSilent(Heard(50)));
    OrvaSound::Play(sound, 0);
    ExpectRamp(Heard(100), 0);
    OrvaSound::Pause(sound);
    EXPECT_TRUE(IsSilent(Heard(100)));
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    OrvaSound::Pause(sound);
    ExpectRamp(Heard(100), 100);
    // Stopped while paused and played again, the next pause pauses.
    OrvaSound::Pause(sound);
    OrvaSound::Stop(sound);
    OrvaSound::Play(sound, 0);
    ExpectRamp(Heard(50), 0);
    OrvaSound::Pause(sound);
    EXPECT_TRUE(IsSilent(Heard(50)));
}

TEST_F(OrvaSoundTest, EachEffectRestartsThePlayingSoundThroughThatEffect)
{
    struct Case {
        void (*set)(OrvaSound*);
        platform::EffectKind kind;
    };
    const Case cases[] = {
        {OrvaSound::SetEcho, platform::EffectKind::kEcho},
        {OrvaSound::SetChorus, platform::EffectKind::kChorus},
        {OrvaSound::SetCompressor, platform::EffectKind::kCompressor},
        {OrvaSound::SetDistortion, platform::EffectKind::kDistortion},
        {OrvaSound::SetFlanger, platform::EffectKind::kFlanger},
        {OrvaSound::SetGargle, platform::EffectKind::kGargle},
        {OrvaSound::SetParamEq, platform::EffectKind::kParamEq},
        {[](OrvaSound* s) { OrvaSound::SetReverb(s, 9); }, platform::EffectKind::kReverb},
    };
    // Long enough, looping, for the reverb's tail to be heard.
    const size_t frames = 3 * kRampFrames;
    std::vector<float> dry(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        dry[2 * i] = RampLeft(i % kRampFrames) / 32768.0f;
        dry[2 * i + 1] = RampRight(i % kRampFrames) / 32768.0f;
    }
    OrvaSound* sound = Load(rampPath);
    for (const Case& c : cases) {
        OrvaSound::Play(sound, 1);
        Heard(300);
        c.set(sound);
        // From the start, looping still, through the effect at its defaults.
        std::vector<float> expected = dry;
        std::unique_ptr<platform::AudioEffect> effect = platform::CreateEffect(c.kind, platform::kAudioRate);
        if (c.kind == platform::EffectKind::kReverb) {
            platform::ReverbParams cave;
            ASSERT_TRUE(platform::GetReverbPreset(9, &cave));
            ASSERT_TRUE(effect->SetParams(cave));
        }
        effect->Process(expected.data(), frames);
        const std::vector<float> heard = Heard(frames);
        for (size_t i = 0; i < heard.size(); ++i) {
            ASSERT_FLOAT_EQ(heard[i], std::clamp(expected[i], -1.0f, 1.0f)) << static_cast<int>(c.kind) << " " << i;
        }
        // Every effect but the flat EQ changes the sound.
        EXPECT_EQ(heard == dry, c.kind == platform::EffectKind::kParamEq) << static_cast<int>(c.kind);
    }
    // Cleared, the sound restarts dry.
    Heard(100);
    OrvaSound::ClearEffects(sound);
    ExpectRamp(Heard(100), 0);
    // An effect set on a stopped sound starts nothing.
    OrvaSound::Stop(sound);
    OrvaSound::SetEcho(sound);
    EXPECT_TRUE(IsSilent(Heard(100)));
}

TEST_F(OrvaSoundTest, AFinishedSoundStaysSilentWhenAnEffectIsSet)
{
    OrvaSound* sound = Load(rampPath);
    OrvaSound::Play(sound, 0);
    Heard(kRampFrames + 10);
    OrvaSound::SetReverb(sound, 1);
    EXPECT_TRUE(IsSilent(Heard(200)));
}

TEST_F(OrvaSoundTest, MalformedWavesFailWithoutReadingPastTheirEnd)
{
    const std::string fmt = Chunk("fmt ", Fmt(2, 44100, 16));
    const std::string data = Chunk("data", RampBytes(10));
    const std::string extensibleShort = Chunk("fmt ", U16(0xFFFE) + Fmt(2, 44100, 16).substr(2) + U16(22));
    const std::vector<std::string> bad = {
        "RIFX" + Riff(fmt + data).substr(4),
        Riff(fmt + data).substr(0, 5),
        Riff(fmt + "LIST" + U32(0x7FFFFFFF) + data),
        Riff(Chunk("fmt ", Fmt(2, 44100, 16).substr(0, 12)) + data),
        Riff(extensibleShort + data),
        Riff(fmt),
        Riff(data + fmt),
        Riff(fmt + Chunk("data", "")),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const std::string path = TempFile("bad" + std::to_string(i) + ".wav");
        WriteBytes(path, bad[i]);
        OrvaSound* sound = Load(path);
        OrvaSound::Play(sound, 1);
        EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
        EXPECT_NE(Log().find(path + " /  エラー : ウェーブデータの取得に失敗\n"), std::string::npos) << i << Log();
        OrvaSound::PostRelease(sound);
    }
    // A format the mixer cannot play fails at its buffer, and says which.
    const std::string adpcm = TempFile("adpcm.wav");
    std::string adpcmFmt = Fmt(2, 44100, 16);
    adpcmFmt[0] = 2;
    WriteBytes(adpcm, Riff(Chunk("fmt ", adpcmFmt + U16(0)) + data));
    Load(adpcm);
    EXPECT_NE(Log().find(" エラー : サウンドバッファの生成に失敗\n"
                         " エラー : 形式 Microsoft ADPCM (0x0002) 16Bit 2ch 44100Hz は再生できません\n"),
              std::string::npos)
        << Log();
    const std::string missing = TempFile("missing.wav");
    Load(missing);
    EXPECT_NE(Log().find(missing + " /  エラー : ファイルが開けません\n"), std::string::npos);
    EXPECT_TRUE(IsSilent(Heard(100)));
}

TEST_F(OrvaSoundTest, DataSaidToRunPastTheEndPlaysWhatTheFileHolds)
{
    // As a recorder that streams leaves its file: both sizes never written.
    const std::string fmt = Chunk("fmt ", Fmt(2, 44100, 16));
    const std::string streamed = TempFile("streamed.wav");
    WriteBytes(streamed, "RIFF" + U32(0xFFFFFFFF) + "WAVE" + fmt + "data" + U32(0xFFFFFFFF) + RampBytes(500));
    OrvaSound* sound = Load(streamed);
    EXPECT_NE(Log().find(streamed + " / DataSize 0.002MB / 16Bit 44.1KHz / Complete\n"), std::string::npos) << Log();
    OrvaSound::Play(sound, 0);
    const std::vector<float> heard = Heard(600);
    ExpectRamp(std::vector<float>(heard.begin(), heard.begin() + 2 * 500), 0);
    EXPECT_TRUE(IsSilent(std::vector<float>(heard.begin() + 2 * 500, heard.end())));
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    OrvaSound::PostRelease(sound);

    // A recording cut inside a frame plays its whole frames.
    const std::string cut = TempFile("cut.wav");
    WriteBytes(cut, Riff(fmt + "data" + U32(0x7FFFFFFF) + RampBytes(300) + "\x01\x02\x03"));
    sound = Load(cut);
    OrvaSound::Play(sound, 1);
    const std::vector<float> looped = Heard(400);
    ExpectRamp(std::vector<float>(looped.begin(), looped.begin() + 2 * 300), 0);
    ExpectRamp(std::vector<float>(looped.begin() + 2 * 300, looped.end()), 0);
    OrvaSound::PostRelease(sound);

    // With no sample at all there is nothing to play.
    const std::string empty = TempFile("empty-stream.wav");
    WriteBytes(empty, Riff(fmt + "data" + U32(0xFFFFFFFF)));
    sound = Load(empty);
    EXPECT_NE(Log().find(empty + " /  エラー : ウェーブデータの取得に失敗\n"), std::string::npos) << Log();
    OrvaSound::PostRelease(sound);

    // Compressed data in an extensible format is refused by its name.
    std::string mp3 = U16(0xFFFE) + Fmt(2, 44100, 16).substr(2) + U16(22) + U16(16) + U32(3);
    mp3 += U16(0x0055) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    const std::string compressed = TempFile("mp3.wav");
    WriteBytes(compressed, Riff(Chunk("fmt ", mp3) + "data" + U32(0xFFFFFFFF) + RampBytes(10)));
    sound = Load(compressed);
    EXPECT_NE(Log().find(" エラー : 形式 MPEG Layer-3 (0x0055) 16Bit 2ch 44100Hz は再生できません\n"), std::string::npos)
        << Log();
    OrvaSound::PostRelease(sound);
}

TEST_F(OrvaSoundTest, PacksGiveTheFirstEntryOfTheName)
{
    const std::string path = TempFile("sounds.osd");
    const std::string name32(32, 'n');
    WriteBytes(path, Pack(PackEntry("other", RampBytes(5)) + PackEntry("shot", RampBytes(300)) +
                          PackEntry("shot", std::string(40, '\x7f')) + PackEntry(name32, RampBytes(3)) +
                          PackEntry("empty", "")));
    OrvaSound* shot = OrvaSound::CreateFromPack(path.c_str(), "shot");
    OrvaSound::WaitIdle();
    EXPECT_NE(Log().find("shot in " + path + " / Complete\n"), std::string::npos) << Log();
    OrvaSound::Play(shot, 0);
    ExpectRamp(Heard(300), 0);
    // A name that fills all 32 bytes is compared within them.
    OrvaSound* full = OrvaSound::CreateFromPack(path.c_str(), name32.c_str());
    OrvaSound::Play(full, 0);
    ExpectRamp(Heard(3), 0);
    OrvaSound::WaitIdle();

    for (const char* name : {"empty", "none", "sho"}) {
        OrvaSound* sound = OrvaSound::CreateFromPack(path.c_str(), name);
        OrvaSound::WaitIdle();
        EXPECT_NE(Log().find(std::string(name) + " in " + path + " /   エラー : データの取得に失敗\n"),
                  std::string::npos)
            << name;
        OrvaSound::PostRelease(sound);
    }
}

TEST_F(OrvaSoundTest, TruncatedAndForeignPacksFailCleanly)
{
    const std::string entry = PackEntry("shot", RampBytes(300));
    struct Case {
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {std::string("OSDx") + entry, "  エラー : パックファイルが不正です\n"},
        {"OS", "  エラー : パックファイルが不正です\n"},
        // The samples stop short of the size the entry gives.
        {Pack(entry.substr(0, entry.size() - 10)), "  エラー : データの取得に失敗\n"},
        {Pack(entry.substr(0, 40)), "  エラー : データの取得に失敗\n"},
        {Pack(std::string("shot").append(28, '\0') + U32(0xFFFFFFFF) + Fmt(2, 44100, 16)),
         "  エラー : データの取得に失敗\n"},
        {Pack(std::string("skip").append(28, '\0') + U32(0x7FFFFFFF) + entry), "  エラー : データの取得に失敗\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string path = TempFile("bad" + std::to_string(i) + ".osd");
        WriteBytes(path, cases[i].bytes);
        OrvaSound* sound = OrvaSound::CreateFromPack(path.c_str(), "shot");
        OrvaSound::Play(sound, 1);
        OrvaSound::WaitIdle();
        EXPECT_NE(Log().find("shot in " + path + " / " + cases[i].error), std::string::npos) << i << Log();
        EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    }
    OrvaSound::CreateFromPack(TempFile("nowhere.osd").c_str(), "shot");
    OrvaSound::WaitIdle();
    EXPECT_NE(Log().find("  エラー : パックファイルが開けません\n"), std::string::npos);
    EXPECT_TRUE(IsSilent(Heard(100)));
}

TEST_F(OrvaSoundTest, ABuiltInWaveIsTakenBeforeAFileOfTheSameName)
{
    // The file holds other sound than the resource of its name.
    const std::string name = TempFile("builtin.wav");
    WriteBytes(name, Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("data", std::string(400, '\0'))));
    static std::string wave;
    wave = Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("data", RampBytes(100)));
    static std::string raw;
    raw = Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("data", RampBytes(50)));
    static platform::ResourceEntry table[2];
    table[0] = {"WAVE", name.c_str(), reinterpret_cast<const uint8_t*>(wave.data()), wave.size()};
    table[1] = {platform::kResourceTypeRawData, "RAWSOUND", reinterpret_cast<const uint8_t*>(raw.data()), raw.size()};
    ASSERT_TRUE(platform::AddResources(table, 2));
    OrvaSound* builtIn = Load(name);
    OrvaSound::Play(builtIn, 0);
    ExpectRamp(Heard(100), 0);
    OrvaSound* rawSound = Load("rawsound");
    OrvaSound::Play(rawSound, 0);
    ExpectRamp(Heard(50), 0);
    platform::RemoveResources(table);
}

TEST_F(OrvaSoundTest, CommandsAreServedInPostingOrderAcrossTheRing)
{
    OrvaSound* sound = OrvaSound::Create(rampPath.c_str());
    OrvaSound::Play(sound, 1);
    // More posts than the ring has slots, ending at full volume.
    for (int i = 0; i < 150; ++i) {
        OrvaSound::SetVolume(sound, static_cast<float>(i % 7));
    }
    OrvaSound::SetVolume(sound, 100.0f);
    OrvaSound::Pause(sound);
    OrvaSound::Pause(sound);
    ExpectRamp(Heard(100), 0);
    OrvaSound::Stop(sound);
    OrvaSound::PostRelease(sound);
    OrvaSound::WaitIdle();
    EXPECT_TRUE(IsSilent(Render(100)));
    const std::string log = Log();
    const size_t loaded = log.find("Complete\n");
    const size_t released = log.find("● ReleaseSound / " + IdText(sound) + "\n");
    ASSERT_NE(released, std::string::npos) << log;
    EXPECT_LT(loaded, released);
    // Gone: asking after it reads nothing of it.
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
}

TEST_F(OrvaSoundTest, ShutDownReleasesEverySoundThenTheDevice)
{
    for (int i = 0; i < 3; ++i) {
        OrvaSound::Play(OrvaSound::Create(rampPath.c_str()), 1);
    }
    EXPECT_FALSE(IsSilent(Heard(100)));
    OrvaSound::Destroy();
    const std::string log = Log();
    size_t releases = 0;
    for (size_t at = log.find("● ReleaseSound"); at != std::string::npos; at = log.find("● ReleaseSound", at + 1)) {
        ++releases;
    }
    EXPECT_EQ(releases, 3u);
    const size_t banner = log.find("\n============================================== Destroy DirectSound\n");
    const size_t teardown = log.find("  ■ DirectSoundBufferを解体 [参照カウント0]\n  ■ DirectSoundを解体 [参照カウント0]\n");
    ASSERT_NE(banner, std::string::npos);
    ASSERT_NE(teardown, std::string::npos) << log;
    EXPECT_LT(log.rfind("● ReleaseSound"), teardown);
    EXPECT_FALSE(platform::AudioDevice::IsOpen());
    // Posts to the stopped module are dropped; a creation still returns an object.
    OrvaSound* late = OrvaSound::Create(rampPath.c_str());
    ASSERT_NE(late, nullptr);
    OrvaSound::Play(late, 0);
    OrvaSound::WaitIdle();
    EXPECT_EQ(OrvaSound::IsPlaying(late), 0);
    ASSERT_EQ(OrvaSound::Initialize(), 1);
    OrvaSound* again = Load(rampPath);
    OrvaSound::Play(again, 0);
    ExpectRamp(Heard(100), 0);
}

TEST_F(OrvaSoundTest, WithoutAnOutputDeviceEveryLoadFailsAtItsBuffer)
{
    OrvaSound::Destroy();
    const size_t before = Log().size();
    setenv("ORVA_AUDIO", "none-such", 1);
    ASSERT_EQ(OrvaSound::Initialize(), 1);
    EXPECT_NE(Log().find("  ■ DirectSoundオブジェクトを生成\n  エラー : DirectSoundオブジェクトの生成に失敗\n"),
              std::string::npos)
        << Log();
    OrvaSound* sound = Load(rampPath);
    OrvaSound::Play(sound, 0);
    OrvaSound::WaitIdle();
    EXPECT_NE(Log().find(rampPath + " / DataSize 0.008MB / 16Bit 44.1KHz /  エラー : サウンドバッファの生成に失敗\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    // The ring serves on; only the device object is torn down.
    OrvaSound::Destroy();
    const std::string after = Log().substr(before);
    EXPECT_EQ(after.find("DirectSoundBufferを解体"), std::string::npos) << after;
    EXPECT_NE(after.find("  ■ DirectSoundを解体 [参照カウント0]\n"), std::string::npos) << after;
}

TEST_F(OrvaSoundTest, OnTheNullDeviceASoundPlayedOnceStopsAfterItsLength)
{
    // A third of a second.
    const std::string path = TempFile("third.wav");
    WriteBytes(path, Riff(Chunk("fmt ", Fmt(2, 44100, 16)) + Chunk("data", RampBytes(14700))));
    // As on a machine without a sound card: nobody renders the mix.
    platform::AudioDevice::SetRenderByHand(false);
    OrvaSound* sound = Load(path);
    const auto start = std::chrono::steady_clock::now();
    OrvaSound::Play(sound, 0);
    OrvaSound::WaitIdle();
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 1);
    double seconds = 0.0;
    while (OrvaSound::IsPlaying(sound) != 0 && seconds < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_EQ(OrvaSound::IsPlaying(sound), 0);
    // Generous above: a loaded machine may be late, never early.
    EXPECT_GE(seconds, 0.3);
    EXPECT_LE(seconds, 3.0);
    OrvaSound::PostRelease(sound);
}
