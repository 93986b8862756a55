#include "engine/sound/media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "platform/audio/audio.h"
#include "tests/platform/media/test_audio_files.h"
#include "tests/platform/media/test_movie_files.h"

using namespace test_movie;

namespace {

constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr size_t kQuarterSecond = 44100 / 4;  // mixer frames

// A picture whose every pixel says where it is.
uint32_t Pattern(int x, int y)
{
    return static_cast<uint32_t>(x & 0xFF) << 16 | static_cast<uint32_t>(y & 0xFF) << 8 | (x >= 256 ? 0xC0 : 0x40);
}

int g_progressZeros = 0;
int g_progressOthers = 0;

void CountProgress(int32_t step)
{
    ++(step == 0 ? g_progressZeros : g_progressOthers);
}

class OrvaMediaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MovieRecipe colours;
        colours.sound = "0.25|-0.5";
        colours.soundSeconds = 1.0;
        ASSERT_TRUE(MakeMovie(Path("colours.avi"), colours, Solid({kRed, kGreen, kBlue, kWhite})));
        MovieRecipe wide;
        wide.width = 320;
        wide.height = 240;
        wide.frames = 1;
        ASSERT_TRUE(MakeMovie(Path("wide.avi"), wide, [](int, int x, int y) { return Pattern(x, y); }));
        MovieRecipe square;
        square.width = 256;
        square.height = 256;
        square.frames = 1;
        ASSERT_TRUE(MakeMovie(Path("square.avi"), square, [](int, int x, int y) { return Pattern(x, y) ^ 0x0F0F0F; }));
        ASSERT_TRUE(test_audio::WriteWav(Path("sound.wav"), 2, 44100, test_audio::Ramp(4000)));
        ASSERT_TRUE(WriteBytes(Path("text.avi"), "RIFF, then a few words and no movie\n"));
    }
    static void TearDownTestSuite()
    {
        for (const char* name : {"colours.avi", "wide.avi", "square.avi", "sound.wav", "text.avi"}) {
            std::remove(Path(name).c_str());
        }
    }
    static std::string Path(const char* name) { return TempPath(name); }

    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        setenv("ORVA_WINDOW", "headless", 1);
        logPath = TempPath("media.log");
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        OrvaDevice::Configure(16, 12, true, [](const uint32_t*, int, int, int) {});
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        // The tests hear and move the clock through the null device too.
        ASSERT_TRUE(platform::AudioDevice::Open());
        g_progressZeros = 0;
        g_progressOthers = 0;
    }
    void TearDown() override
    {
        OrvaMedia::Destroy();
        platform::AudioDevice::Close();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove(logPath.c_str());
    }

    std::string Log() const { return ReadBytes(logPath); }
    void ClearLog() const { std::remove(logPath.c_str()); }

    // Started module, a loaded movie, playing.
    OrvaMedia* PlayColours(int32_t loop)
    {
        EXPECT_EQ(OrvaMedia::Initialize(), 1);
        OrvaMedia* media = OrvaMedia::Create(Path("colours.avi").c_str(), nullptr);
        EXPECT_NE(media, nullptr);
        EXPECT_EQ(media->Play(loop), 1);
        return media;
    }

    std::string logPath;
};

// The log with what differs from run to run masked: object addresses as
// [0x*], memory counts as [VRAM *MB].
std::string Masked(std::string log)
{
    for (size_t at = log.find("[0x"); at != std::string::npos; at = log.find("[0x", at + 1)) {
        const size_t end = log.find(']', at);
        if (end == at + 11 && log.find_first_not_of("0123456789ABCDEF", at + 3) == end) {
            log.replace(at, 12, "[0x*]");
        }
    }
    for (size_t at = log.find("[VRAM "); at != std::string::npos; at = log.find("[VRAM ", at + 1)) {
        const size_t end = log.find("MB]", at);
        if (end != std::string::npos) {
            log.replace(at, end + 3 - at, "[VRAM *MB]");
        }
    }
    return log;
}

void Advance(size_t frames)
{
    std::vector<float> out(frames * 2);
    ASSERT_TRUE(platform::AudioDevice::Render(out.data(), frames));
}

// The device texture's texels (what drawing reads), 32-bit formats.
std::vector<uint32_t> DeviceTexels(OrvaTexture* texture)
{
    std::vector<uint32_t> texels;
    platform::LockedRect rect;
    if (texture->GetDeviceTexture() == nullptr ||
        texture->GetDeviceTexture()->LockRect(0, &rect, nullptr, 0) != platform::kGfxOk) {
        return texels;
    }
    for (int y = 0; y < texture->GetHeight(); ++y) {
        const auto* row = static_cast<const uint8_t*>(rect.bits) + static_cast<size_t>(y) * rect.pitch;
        for (int x = 0; x < texture->GetWidth(); ++x) {
            uint32_t texel = 0;
            std::memcpy(&texel, row + 4 * x, 4);
            texels.push_back(texel);
        }
    }
    texture->GetDeviceTexture()->UnlockRect(0);
    return texels;
}

// True when the movie's texture shows one opaque colour all over.
bool Shows(OrvaMedia* media, uint32_t rgb)
{
    OrvaTexture* texture = nullptr;
    if (media->GetTexture(&texture) == 0) {
        return false;
    }
    const std::vector<uint32_t> texels = DeviceTexels(texture);
    texture->Release();
    if (texels.empty()) {
        return false;
    }
    for (uint32_t texel : texels) {
        if (texel != (0xFF000000u | rgb)) {
            return false;
        }
    }
    return true;
}

TEST_F(OrvaMediaTest, ModuleStartAndShutDownLogTheirLines)
{
    ClearLog();
    EXPECT_EQ(OrvaMedia::Initialize(), 1);
    EXPECT_EQ(Log(),
              "\n============================================== Initialize MediaStream\n"
              "  ■ DirectDrawオブジェクトを生成\n"
              "  ■ DirectDrawオブジェクトを初期化\n"
              "  ■ 協調レベルを設定\n");
    ClearLog();
    OrvaMedia::Destroy();
    EXPECT_EQ(Log(),
              "\n============================================== Destroy MediaStream\n"
              "  ■ Release DirectDraw Object [参照カウント0]\n");
    // Once stopped, a second shut-down has nothing to release.
    ClearLog();
    OrvaMedia::Destroy();
    EXPECT_EQ(Log(), "\n============================================== Destroy MediaStream\n");
}

TEST_F(OrvaMediaTest, ShutDownReleasesTheMoviesStillAlive)
{
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    const int32_t textures = OrvaTexture::GetCount();
    OrvaMedia* media = OrvaMedia::Create(Path("colours.avi").c_str(), nullptr);
    ASSERT_EQ(media->IsLoaded(), 1);
    media->Play(1);
    EXPECT_EQ(OrvaMedia::GetCount(), 1);
    EXPECT_EQ(OrvaTexture::GetCount(), textures + 1);
    ClearLog();
    OrvaMedia::Destroy();
    // The movie still held the module's state when it was let go.
    EXPECT_NE(Log().find("  ■ Release DirectDraw Object [参照カウント1]\n"), std::string::npos);
    EXPECT_EQ(OrvaMedia::GetCount(), 0);
    EXPECT_EQ(OrvaTexture::GetCount(), textures);
    // Its sound left the mixer with it.
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(1000)));
}

TEST_F(OrvaMediaTest, CreationLogsItsStepsAndMakesAPowerOfTwoTexture)
{
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    ClearLog();
    const std::string name = Path("colours.avi");
    OrvaMedia* media = OrvaMedia::Create(name.c_str(), &CountProgress);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(Masked(Log()), "○ CreateMediaFile / ID [0x*] / " + name +
                                 " / {\n\t○ CreateTexture / ID [0x*] / 16 x 16 / Format 21 / Complete! "
                                 "[VRAM *MB]\n} 16x16 / Complete!\n");
    EXPECT_EQ(g_progressZeros, 10);
    EXPECT_EQ(media->IsLoaded(), 1);
    EXPECT_EQ(media->IsPlaying(), 0);
    EXPECT_EQ(media->GetWidth(), 16);
    EXPECT_EQ(media->GetHeight(), 16);
    EXPECT_EQ(media->GetDuration(), 10000000);
    // Before the first update the texture is still empty.
    OrvaTexture* texture = nullptr;
    ASSERT_EQ(media->GetTexture(&texture), 1);
    EXPECT_EQ(texture->GetWidth(), 16);
    EXPECT_EQ(texture->GetHeight(), 16);
    EXPECT_EQ(texture->GetRefCount(), 2);
    texture->Release();
    EXPECT_EQ(media->Release(), 0);
    EXPECT_EQ(OrvaMedia::GetCount(), 0);
}

TEST_F(OrvaMediaTest, UpdateShowsThePictureDueAtTheMovieTime)
{
    OrvaMedia* media = PlayColours(0);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kRed));
    Advance(kQuarterSecond + 100);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kGreen));
    Advance(kQuarterSecond);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kBlue));
    Advance(kQuarterSecond);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kWhite));
    // The end is reported once; the last picture stays.
    Advance(kQuarterSecond);
    EXPECT_EQ(media->Update(), 1);
    EXPECT_EQ(media->IsPlaying(), 0);
    EXPECT_EQ(media->Update(), 0);
    Advance(kQuarterSecond);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kWhite));
    // Played again, it starts from its first picture.
    EXPECT_EQ(media->Play(0), 1);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kRed));
    media->Release();
}

TEST_F(OrvaMediaTest, AMovieWhoseFileGivesNoLengthEndsAfterItsLastPicture)
{
    // Two seconds at 24 pictures a second, bare: the file has no length.
    const std::string path = Path("bare.h264");
    ASSERT_TRUE(MakeMovie(path, NumberedMovie(24, 48, "h264"), Numbered));
    OrvaMedia* media = OrvaMedia::Create(path.c_str(), nullptr);
    ASSERT_EQ(media->IsLoaded(), 1);
    EXPECT_EQ(media->GetDuration(), 0);
    ASSERT_EQ(media->Play(0), 1);
    int quarters = 0;
    while (media->Update() == 0 && quarters < 40) {
        Advance(kQuarterSecond);
        ++quarters;
    }
    EXPECT_EQ(quarters, 8);
    EXPECT_EQ(media->IsPlaying(), 0);
    media->Release();
    std::remove(path.c_str());
}

TEST_F(OrvaMediaTest, ALoopingMovieStartsAgainAtItsEnd)
{
    OrvaMedia* media = PlayColours(1);
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(media->Update(), 0);
        EXPECT_TRUE(Shows(media, kRed)) << pass;
        Advance(kQuarterSecond * 3);
        EXPECT_EQ(media->Update(), 0);
        EXPECT_TRUE(Shows(media, kWhite)) << pass;
        Advance(kQuarterSecond);
        EXPECT_EQ(media->Update(), 0);
        EXPECT_EQ(media->IsPlaying(), 1);
    }
    media->Release();
}

TEST_F(OrvaMediaTest, StopHoldsTheMovieAndPlayStartsItFromTheBeginning)
{
    OrvaMedia* media = PlayColours(1);
    Advance(kQuarterSecond * 2);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kBlue));
    EXPECT_EQ(media->Stop(), 1);
    EXPECT_EQ(media->IsPlaying(), 0);
    // The sound stops with it; the texture keeps the last picture.
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(kQuarterSecond * 4)));
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kBlue));
    EXPECT_EQ(media->Stop(), 1);
    EXPECT_EQ(media->Play(0), 1);
    const std::vector<float> heard = test_audio::Render(100);
    EXPECT_FLOAT_EQ(heard[0], 0.25f);
    EXPECT_FLOAT_EQ(heard[1], -0.5f);
    EXPECT_EQ(media->Update(), 0);
    EXPECT_TRUE(Shows(media, kRed));
    media->Release();
}

TEST_F(OrvaMediaTest, APictureIsStretchedOverTheWholeTexture)
{
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    OrvaMedia* media = OrvaMedia::Create(Path("wide.avi").c_str(), nullptr);
    ASSERT_EQ(media->IsLoaded(), 1);
    EXPECT_EQ(media->GetWidth(), 320);
    EXPECT_EQ(media->GetHeight(), 240);
    ASSERT_EQ(media->Play(0), 1);
    media->Update();
    OrvaTexture* texture = nullptr;
    ASSERT_EQ(media->GetTexture(&texture), 1);
    ASSERT_EQ(texture->GetWidth(), 512);
    ASSERT_EQ(texture->GetHeight(), 256);
    const std::vector<uint32_t> texels = DeviceTexels(texture);
    ASSERT_EQ(texels.size(), 512u * 256u);
    // Nearest sample: texel (x, y) shows pixel (x * 320 / 512, y * 240 / 256).
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 512; ++x) {
            ASSERT_EQ(texels[static_cast<size_t>(y) * 512 + x], 0xFF000000u | Pattern(x * 5 / 8, y * 15 / 16))
                << x << "," << y;
        }
    }
    // Texture coordinates 0 to 1 span the picture: the last texel shows its corner.
    EXPECT_EQ(texels.back(), 0xFF000000u | Pattern(319, 239));
    texture->Release();
    media->Release();
}

TEST_F(OrvaMediaTest, APowerOfTwoPictureIsCopiedTexelForTexel)
{
    OrvaMedia* media = OrvaMedia::Create(Path("square.avi").c_str(), nullptr);
    ASSERT_EQ(media->IsLoaded(), 1);
    ASSERT_EQ(media->Play(0), 1);
    media->Update();
    OrvaTexture* texture = nullptr;
    ASSERT_EQ(media->GetTexture(&texture), 1);
    ASSERT_EQ(texture->GetWidth(), 256);
    ASSERT_EQ(texture->GetHeight(), 256);
    const std::vector<uint32_t> texels = DeviceTexels(texture);
    ASSERT_EQ(texels.size(), 256u * 256u);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            ASSERT_EQ(texels[static_cast<size_t>(y) * 256 + x], 0xFF000000u | (Pattern(x, y) ^ 0x0F0F0F))
                << x << "," << y;
        }
    }
    texture->Release();
    media->Release();
}

TEST_F(OrvaMediaTest, FilesThatCannotPlayLeaveAnUnloadedMovie)
{
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    struct Case {
        std::string name;
        const char* error;
        int progress;
    };
    const Case cases[] = {
        {Path("missing.avi"), "エラー : ファイルが開けません\n", 4},
        {Path("text.avi"), "エラー : ファイルが開けません\n", 4},
        {"", "エラー : ファイルが開けません\n", 4},
        // Sound alone is not a movie.
        {Path("sound.wav"), "エラー : 初期化に失敗しました\n", 5},
    };
    for (const Case& c : cases) {
        ClearLog();
        g_progressZeros = 0;
        OrvaMedia* media = OrvaMedia::Create(c.name.c_str(), &CountProgress);
        ASSERT_NE(media, nullptr);
        EXPECT_EQ(Masked(Log()), "○ CreateMediaFile / ID [0x*] / " + c.name + " / " + c.error);
        EXPECT_EQ(g_progressZeros, c.progress) << c.name;
        EXPECT_EQ(media->IsLoaded(), 0);
        EXPECT_EQ(media->Play(0), 0);
        EXPECT_EQ(media->Update(), 0);
        EXPECT_EQ(media->Stop(), 1);
        OrvaTexture* untouched = reinterpret_cast<OrvaTexture*>(0x1234);
        EXPECT_EQ(media->GetTexture(&untouched), 0);
        EXPECT_EQ(untouched, reinterpret_cast<OrvaTexture*>(0x1234));
        EXPECT_EQ(OrvaMedia::GetCount(), 1);
        EXPECT_EQ(media->Release(), 0);
    }
    // A null name is taken as an empty one.
    OrvaMedia* media = OrvaMedia::Create(nullptr, nullptr);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(media->IsLoaded(), 0);
    media->Release();
}

TEST_F(OrvaMediaTest, MoviesNeedNoStartAndOnesMadeBeforeItStayListed)
{
    OrvaMedia* early = OrvaMedia::Create(Path("colours.avi").c_str(), nullptr);
    ASSERT_EQ(early->IsLoaded(), 1);
    EXPECT_EQ(early->Play(0), 1);
    EXPECT_EQ(early->Update(), 0);
    EXPECT_TRUE(Shows(early, kRed));
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    OrvaMedia* late = OrvaMedia::Create(Path("square.avi").c_str(), nullptr);
    EXPECT_EQ(OrvaMedia::GetCount(), 2);
    // Releasing the first must leave the list whole for the second.
    EXPECT_EQ(early->Release(), 0);
    EXPECT_EQ(OrvaMedia::GetCount(), 1);
    ClearLog();
    OrvaMedia::Destroy();
    EXPECT_NE(Log().find("[参照カウント1]"), std::string::npos);
    EXPECT_EQ(OrvaMedia::GetCount(), 0);
    (void)late;
}

TEST_F(OrvaMediaTest, ATextureTakenOutlivesItsMovie)
{
    OrvaMedia* media = PlayColours(0);
    media->Update();
    OrvaTexture* texture = nullptr;
    ASSERT_EQ(media->GetTexture(&texture), 1);
    EXPECT_EQ(media->Release(), 0);
    EXPECT_EQ(texture->GetRefCount(), 1);
    EXPECT_EQ(DeviceTexels(texture).front(), 0xFF000000u | kRed);
    EXPECT_EQ(texture->Release(), 0);
}

}  // namespace

TEST_F(OrvaMediaTest, OnTheNullDeviceATwoSecondMovieEndsAfterTwoSeconds)
{
    // Eight pictures at 4 a second, sound all through.
    MovieRecipe recipe;
    recipe.frames = 8;
    recipe.sound = "0.25|-0.5";
    recipe.soundSeconds = 2.0;
    const std::string path = Path("two-seconds.avi");
    ASSERT_TRUE(MakeMovie(path, recipe, Solid({kRed, kGreen, kBlue, kWhite})));
    // As on a machine without a sound card: the null device takes the mix in
    // real time and nobody renders it.
    platform::AudioDevice::SetRenderByHand(false);
    ASSERT_EQ(OrvaMedia::Initialize(), 1);
    OrvaMedia* media = OrvaMedia::Create(path.c_str(), nullptr);
    ASSERT_EQ(media->IsLoaded(), 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(media->Play(0), 1);
    // The caller's frames, as an opening-movie screen runs them.
    int32_t ended = 0;
    bool sawLaterPicture = false;
    double seconds = 0.0;
    while (ended == 0 && seconds < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ended = media->Update();
        sawLaterPicture = sawLaterPicture || Shows(media, kBlue);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    EXPECT_EQ(ended, 1);
    // Generous above: a loaded machine may be late, never early.
    EXPECT_GE(seconds, 1.8);
    EXPECT_LE(seconds, 6.0);
    EXPECT_TRUE(sawLaterPicture);
    EXPECT_TRUE(Shows(media, kWhite));
    EXPECT_EQ(media->Update(), 0);
    media->Release();
    std::remove(path.c_str());
}
