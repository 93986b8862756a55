#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/audio/audio.h"
#include "platform/media/video.h"
#include "tests/platform/media/test_audio_files.h"
#include "tests/platform/media/test_movie_files.h"

using platform::AudioDevice;
using platform::VideoOpenResult;
using platform::VideoStream;
using namespace test_movie;

namespace {

constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0x0000FF;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr size_t kQuarterSecond = 44100 / 4;  // mixer frames

class VideoStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Four quarter-second frames with a second of constant sound.
        MovieRecipe recipe;
        recipe.sound = "0.25|-0.5";
        recipe.soundSeconds = 1.0;
        ASSERT_TRUE(MakeMovie(ColoursPath(), recipe, Solid({kRed, kGreen, kBlue, kWhite})));
        MovieRecipe silent;
        silent.frames = 2;
        ASSERT_TRUE(MakeMovie(SilentPath(), silent, Solid({kBlue, kRed})));
    }
    static void TearDownTestSuite()
    {
        std::remove(ColoursPath().c_str());
        std::remove(SilentPath().c_str());
    }
    static std::string ColoursPath() { return TempPath("colours.avi"); }
    static std::string SilentPath() { return TempPath("silent.avi"); }

    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        ASSERT_TRUE(AudioDevice::Open());
    }
    void TearDown() override
    {
        AudioDevice::SetClock(nullptr);
        AudioDevice::Close();
    }

    static std::unique_ptr<VideoStream> Open(const std::string& path, uint32_t format = platform::kVideoA8R8G8B8)
    {
        VideoOpenResult result = VideoOpenResult::kUnreadable;
        auto stream = VideoStream::Open(path.c_str(), format, &result);
        EXPECT_EQ(result, VideoOpenResult::kOk);
        return stream;
    }
    static VideoOpenResult Refusal(const std::string& path, uint32_t format = platform::kVideoA8R8G8B8)
    {
        VideoOpenResult result = VideoOpenResult::kOk;
        EXPECT_EQ(VideoStream::Open(path.c_str(), format, &result), nullptr);
        return result;
    }
};

// The texel at (x, y) of the frame buffer, 32-bit formats only.
uint32_t Texel32(const VideoStream& stream, int x, int y)
{
    int32_t pitch = 0;
    const uint8_t* bits = stream.GetFrame(&pitch);
    uint32_t texel = 0;
    std::memcpy(&texel, bits + y * pitch + x * 4, 4);
    return texel;
}

uint16_t Texel16(const VideoStream& stream, int x, int y)
{
    int32_t pitch = 0;
    const uint8_t* bits = stream.GetFrame(&pitch);
    uint16_t texel = 0;
    std::memcpy(&texel, bits + y * pitch + x * 2, 2);
    return texel;
}

// True when every texel of a 32-bit frame is the opaque colour.
bool IsSolid(const VideoStream& stream, uint32_t rgb)
{
    for (int y = 0; y < stream.GetHeight(); ++y) {
        for (int x = 0; x < stream.GetWidth(); ++x) {
            if (Texel32(stream, x, y) != (0xFF000000u | rgb)) {
                return false;
            }
        }
    }
    return true;
}

void Advance(size_t frames)
{
    std::vector<float> out(frames * 2);
    ASSERT_TRUE(AudioDevice::Render(out.data(), frames));
}

TEST_F(VideoStreamTest, OpensStoppedWithTheFirstPictureInItsFrameBuffer)
{
    auto stream = Open(ColoursPath());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetWidth(), 16);
    EXPECT_EQ(stream->GetHeight(), 16);
    EXPECT_EQ(stream->GetDuration(), 10000000);
    EXPECT_TRUE(stream->HasSound());
    EXPECT_EQ(stream->GetState(), VideoStream::State::kStopped);
    int32_t pitch = 0;
    ASSERT_NE(stream->GetFrame(&pitch), nullptr);
    EXPECT_EQ(pitch, 16 * 4);
    EXPECT_TRUE(IsSolid(*stream, kRed));
    // A stopped movie's clock stands still however much the mixer plays.
    Advance(kQuarterSecond * 2);
    EXPECT_EQ(stream->GetTime(), 0);
}

TEST_F(VideoStreamTest, PicturesFollowTheMixerClock)
{
    auto stream = Open(ColoursPath());
    ASSERT_NE(stream, nullptr);
    stream->Run();
    // The first picture is reported once, then nothing new until its time.
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_FALSE(stream->UpdateFrame());
    Advance(kQuarterSecond - 1);
    EXPECT_FALSE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kRed));
    Advance(1);
    EXPECT_EQ(stream->GetTime(), 2500000);
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kGreen));
    // A late caller gets the picture due now, skipping the one it missed.
    Advance(kQuarterSecond * 2 + 100);
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kWhite));
    // Past the end the clock runs on and the last picture stays.
    Advance(kQuarterSecond * 4);
    EXPECT_FALSE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kWhite));
    EXPECT_GT(stream->GetTime(), stream->GetDuration());
    // Stopped, the clock holds.
    stream->Stop();
    const int64_t held = stream->GetTime();
    Advance(1000);
    EXPECT_EQ(stream->GetTime(), held);
}

int64_t g_now = 0;  // nanoseconds, the clock the device's periods are timed by

int ShownNumber(const VideoStream& stream)
{
    int32_t pitch = 0;
    const uint8_t* texels = stream.GetFrame(&pitch);
    return ReadNumber(texels, pitch);
}

TEST_F(VideoStreamTest, AFastMovieShowsEveryPictureBetweenTheDevicesPeriods)
{
    // 60 pictures a second: two or three fall in each 23 ms period the
    // device takes.
    const std::string path = TempPath("sixty.avi");
    ASSERT_TRUE(MakeMovie(path, NumberedMovie(60, 300, "mpeg4"), Numbered));
    auto stream = Open(path);
    ASSERT_NE(stream, nullptr);
    // The device takes a period when the last one has played, as a sound
    // card asks; the caller looks for a new picture every millisecond.
    g_now = 0;
    AudioDevice::SetClock([] { return g_now; });
    stream->Run();
    std::vector<int> shown;
    int64_t periods = 0;
    for (int64_t ms = 0; ms < 5100; ++ms) {
        g_now = ms * 1000000;
        while (periods * static_cast<int64_t>(AudioDevice::kPeriodFrames) * 1000000000 / 44100 <= g_now) {
            Advance(AudioDevice::kPeriodFrames);
            ++periods;
        }
        if (stream->UpdateFrame()) {
            shown.push_back(ShownNumber(*stream));
        }
    }
    EXPECT_EQ(shown, Counting(300));
    std::remove(path.c_str());
}

TEST_F(VideoStreamTest, ARawStreamWithoutTimesOrLengthShowsEveryPictureThenEnds)
{
    // Four seconds at 24 pictures a second, as an encoder writes it bare.
    const std::string path = TempPath("bare.h264");
    ASSERT_TRUE(MakeMovie(path, NumberedMovie(24, 96, "h264"), Numbered));
    auto stream = Open(path);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetDuration(), 0);
    stream->Run();
    std::vector<int> shown;
    while (!stream->HasEnded() && stream->GetTime() < 60000000) {
        if (stream->UpdateFrame()) {
            shown.push_back(ShownNumber(*stream));
        }
        Advance(256);
    }
    EXPECT_EQ(shown, Counting(96));
    // The last picture had its 1/24 s: the end comes at 4 s.
    EXPECT_NEAR(static_cast<double>(stream->GetTime()), 40000000.0, 256 * 1e7 / 44100);
    std::remove(path.c_str());
}

TEST_F(VideoStreamTest, RewindStartsPictureAndSoundAgain)
{
    auto stream = Open(ColoursPath());
    ASSERT_NE(stream, nullptr);
    // Rewinding a movie that never moved still hands out its first picture.
    ASSERT_TRUE(stream->Rewind());
    EXPECT_TRUE(stream->UpdateFrame());
    stream->Run();
    Advance(kQuarterSecond * 3 + 10);
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kWhite));
    ASSERT_TRUE(stream->Rewind());
    EXPECT_EQ(stream->GetTime(), 0);
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kRed));
    Advance(kQuarterSecond + 10);
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kGreen));
}

TEST_F(VideoStreamTest, TheSoundPlaysThroughTheMixerOnlyWhileRunning)
{
    auto stream = Open(ColoursPath());
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(500)));
    stream->Run();
    const std::vector<float> heard = test_audio::Render(2000);
    for (size_t i = 0; i < 2000; ++i) {
        ASSERT_FLOAT_EQ(heard[2 * i], 0.25f) << i;
        ASSERT_FLOAT_EQ(heard[2 * i + 1], -0.5f) << i;
    }
    stream->Stop();
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(500)));
    // Past the end of the sound: silence, and the clock still runs.
    stream->Run();
    const std::vector<float> tail = test_audio::Render(44100);
    const size_t end = 44100 - 2000;
    EXPECT_FLOAT_EQ(tail[0], 0.25f);
    EXPECT_FLOAT_EQ(tail[2 * (end - 1) + 1], -0.5f);
    EXPECT_TRUE(test_audio::IsSilent(std::vector<float>(tail.begin() + 2 * end, tail.end())));
    EXPECT_EQ(stream->GetTime(), (2000 + 44100) * 10000000LL / 44100);
}

TEST_F(VideoStreamTest, MonoSoundAtAnotherRateIsResampledToBothSides)
{
    const std::string path = TempPath("mono.avi");
    MovieRecipe recipe;
    recipe.sound = "0.25";
    recipe.soundSeconds = 1.0;
    recipe.soundRate = 22050;
    ASSERT_TRUE(MakeMovie(path, recipe, Solid({kRed, kGreen, kBlue, kWhite})));
    auto stream = Open(path);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(stream->HasSound());
    stream->Run();
    const std::vector<float> heard = test_audio::Render(44100 + 4000);
    // Away from the edges, where the resampler's filter settles.
    for (size_t i = 1000; i < 43000; i += 97) {
        ASSERT_NEAR(heard[2 * i], 0.25f, 0.002f) << i;
        ASSERT_EQ(heard[2 * i], heard[2 * i + 1]) << i;
    }
    EXPECT_TRUE(test_audio::IsSilent(std::vector<float>(heard.begin() + 2 * 44200, heard.end())));
    std::remove(path.c_str());
}

TEST_F(VideoStreamTest, AMovieWithoutSoundRunsOnTheMixerClock)
{
    auto stream = Open(SilentPath());
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(stream->HasSound());
    EXPECT_EQ(stream->GetDuration(), 5000000);
    stream->Run();
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kBlue));
    EXPECT_TRUE(test_audio::IsSilent(test_audio::Render(kQuarterSecond)));
    EXPECT_TRUE(stream->UpdateFrame());
    EXPECT_TRUE(IsSolid(*stream, kRed));
}

TEST_F(VideoStreamTest, PicturesKeepTheirOrientationAndEveryPixel)
{
    // Each pixel's colour says where it is: red from x, green from y.
    const std::string path = TempPath("gradient.avi");
    MovieRecipe recipe;
    recipe.width = 40;
    recipe.height = 24;
    recipe.frames = 1;
    ASSERT_TRUE(MakeMovie(path, recipe, [](int, int x, int y) {
        return static_cast<uint32_t>(x * 6) << 16 | static_cast<uint32_t>(y * 10) << 8 | 0x40;
    }));
    auto stream = Open(path);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(stream->GetWidth(), 40);
    ASSERT_EQ(stream->GetHeight(), 24);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(Texel32(*stream, x, y), 0xFF000040u | static_cast<uint32_t>(x * 6) << 16 |
                                                  static_cast<uint32_t>(y * 10) << 8)
                << x << "," << y;
        }
    }
    std::remove(path.c_str());
}

TEST_F(VideoStreamTest, SixteenBitFormatsPackChannelsWithAlphaSetWhereThereIsOne)
{
    struct Case {
        uint32_t format;
        uint16_t red, green, blue, white;
    };
    const Case cases[] = {
        {platform::kVideoR5G6B5, 0xF800, 0x07E0, 0x001F, 0xFFFF},
        {platform::kVideoX1R5G5B5, 0x7C00, 0x03E0, 0x001F, 0x7FFF},
        {platform::kVideoA1R5G5B5, 0xFC00, 0x83E0, 0x801F, 0xFFFF},
        {platform::kVideoA4R4G4B4, 0xFF00, 0xF0F0, 0xF00F, 0xFFFF},
    };
    for (const Case& c : cases) {
        auto stream = Open(ColoursPath(), c.format);
        ASSERT_NE(stream, nullptr);
        int32_t pitch = 0;
        stream->GetFrame(&pitch);
        EXPECT_EQ(pitch, 32);
        // X1R5G5B5's top bit is not looked at.
        const uint16_t mask = c.format == platform::kVideoX1R5G5B5 ? 0x7FFF : 0xFFFF;
        EXPECT_EQ(Texel16(*stream, 3, 5) & mask, c.red) << c.format;
        stream->Run();
        const uint16_t expected[] = {c.green, c.blue, c.white};
        for (uint16_t want : expected) {
            Advance(kQuarterSecond);
            stream->UpdateFrame();
            EXPECT_EQ(Texel16(*stream, 15, 15) & mask, want) << c.format;
        }
    }
}

TEST_F(VideoStreamTest, ChangingTheFormatConvertsThePictureShown)
{
    auto stream = Open(ColoursPath(), platform::kVideoR5G6B5);
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(stream->SetFormat(20));
    EXPECT_EQ(stream->GetFormat(), platform::kVideoR5G6B5);
    ASSERT_TRUE(stream->SetFormat(platform::kVideoA8R8G8B8));
    EXPECT_EQ(stream->GetFormat(), platform::kVideoA8R8G8B8);
    EXPECT_TRUE(IsSolid(*stream, kRed));
}

TEST_F(VideoStreamTest, ALossyMovieComesOutCloseToItsColours)
{
    const std::string path = TempPath("lossy.avi");
    MovieRecipe recipe;
    recipe.codec = "mpeg4";
    recipe.width = 32;
    recipe.height = 32;
    recipe.frames = 2;
    ASSERT_TRUE(MakeMovie(path, recipe, Solid({0xC03020, 0x2080E0})));
    auto stream = Open(path);
    ASSERT_NE(stream, nullptr);
    auto near = [&](uint32_t want) {
        const uint32_t got = Texel32(*stream, 16, 16);
        EXPECT_EQ(got >> 24, 0xFFu);
        for (int shift = 0; shift < 24; shift += 8) {
            EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), static_cast<int>((want >> shift) & 0xFF), 6)
                << std::hex << got;
        }
    };
    near(0xC03020);
    stream->Run();
    Advance(kQuarterSecond);
    EXPECT_TRUE(stream->UpdateFrame());
    near(0x2080E0);
    std::remove(path.c_str());
}

TEST_F(VideoStreamTest, FilesThatAreNoMovieAreRefused)
{
    EXPECT_EQ(Refusal(TempPath("missing.avi")), VideoOpenResult::kUnreadable);
    EXPECT_EQ(Refusal(""), VideoOpenResult::kUnreadable);
    EXPECT_EQ(Refusal(ColoursPath(), 20), VideoOpenResult::kBadFormat);
    EXPECT_EQ(Refusal(ColoursPath(), 27), VideoOpenResult::kBadFormat);

    // Nor a FIFO, which would hold the reader until a writer came.
    const std::string fifo = TempPath("fifo.avi");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Refusal(fifo), VideoOpenResult::kUnreadable);
    std::remove(fifo.c_str());

    const std::string text = TempPath("text.avi");
    ASSERT_TRUE(WriteBytes(text, "RIFF this is not a movie at all, only a few words\n"));
    EXPECT_EQ(Refusal(text), VideoOpenResult::kUnreadable);
    std::remove(text.c_str());

    // Sound alone is no movie.
    const std::string wav = TempPath("sound.wav");
    ASSERT_TRUE(test_audio::WriteWav(wav, 2, 44100, test_audio::Ramp(4000)));
    EXPECT_EQ(Refusal(wav), VideoOpenResult::kNoVideo);
    std::remove(wav.c_str());

    const std::string wide = TempPath("wide.avi");
    MovieRecipe recipe;
    recipe.width = VideoStream::kMaxSize + 4;
    recipe.height = 2;
    recipe.frames = 1;
    ASSERT_TRUE(MakeMovie(wide, recipe, Solid({kRed})));
    EXPECT_EQ(Refusal(wide), VideoOpenResult::kTooLarge);
    std::remove(wide.c_str());
}

TEST_F(VideoStreamTest, ATruncatedMovieFailsCleanlyOrPlaysWhatItHas)
{
    const std::string whole = ReadBytes(ColoursPath());
    ASSERT_GT(whole.size(), 4000u);
    // Cut in the header, in the first picture, and in the last.
    for (size_t size : {size_t{40}, size_t{600}, whole.size() / 2, whole.size() - 700}) {
        const std::string path = TempPath("cut.avi");
        ASSERT_TRUE(WriteBytes(path, whole.substr(0, size)));
        VideoOpenResult result = VideoOpenResult::kOk;
        auto stream = VideoStream::Open(path.c_str(), platform::kVideoA8R8G8B8, &result);
        if (stream == nullptr) {
            EXPECT_EQ(result, VideoOpenResult::kUnreadable) << size;
        } else {
            // What opens plays to its end without harm; the first picture is whole.
            EXPECT_TRUE(IsSolid(*stream, kRed)) << size;
            stream->Run();
            for (int i = 0; i < 8; ++i) {
                Advance(kQuarterSecond);
                stream->UpdateFrame();
            }
            EXPECT_GE(stream->GetTime(), stream->GetDuration()) << size;
        }
        std::remove(path.c_str());
    }
}

}  // namespace
