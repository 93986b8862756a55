#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "platform/audio/audio.h"
#include "platform/media/media.h"
#include "tests/platform/media/test_audio_files.h"

using platform::AudioDevice;
using platform::MediaOpenResult;
using platform::MediaStream;
using namespace test_audio;

class MediaStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORVA_AUDIO", "null", 1);
        // The tests render the mix themselves, frame for frame.
        platform::AudioDevice::SetRenderByHand(true);
        ASSERT_TRUE(AudioDevice::Open());
    }
    void TearDown() override { AudioDevice::Close(); }

    // A stereo 44.1 kHz ramp of `frames` frames, opened.
    std::unique_ptr<MediaStream> OpenRamp(size_t frames, const char* name = "ramp.wav")
    {
        const std::string path = TempFile(name);
        EXPECT_TRUE(WriteWav(path, 2, 44100, Ramp(frames)));
        MediaOpenResult result = MediaOpenResult::kUnreadable;
        auto stream = MediaStream::Open(path.c_str(), &result);
        EXPECT_EQ(result, MediaOpenResult::kOk);
        return stream;
    }
};

static void ExpectRamp(const std::vector<float>& out, size_t firstFrame, float gainLeft = 1.0f,
                       float gainRight = 1.0f)
{
    for (size_t i = 0; i < out.size() / 2; ++i) {
        ASSERT_FLOAT_EQ(out[2 * i], RampLeft(firstFrame + i) / 32768.0f * gainLeft) << "frame " << i;
        ASSERT_FLOAT_EQ(out[2 * i + 1], RampRight(firstFrame + i) / 32768.0f * gainRight) << "frame " << i;
    }
}

TEST_F(MediaStreamTest, PlaysAWavFileSampleForSampleOnlyWhileRunning)
{
    auto stream = OpenRamp(8000);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetState(), MediaStream::State::kStopped);
    EXPECT_TRUE(IsSilent(Render(300)));
    stream->Run();
    ExpectRamp(Render(3000), 0);
    // Pause holds the position; Run goes on from it.
    stream->Pause();
    EXPECT_TRUE(IsSilent(Render(500)));
    stream->Run();
    ExpectRamp(Render(1000), 3000);
    // Stop keeps the position too; Rewind goes back to the first frame.
    stream->Stop();
    EXPECT_TRUE(IsSilent(Render(200)));
    EXPECT_TRUE(stream->Rewind());
    stream->Run();
    ExpectRamp(Render(100), 0);
    EXPECT_NEAR(static_cast<double>(stream->GetDuration()), 8000.0 / 44100 * 1e7, 1e4);
}

TEST_F(MediaStreamTest, VolumeAndBalanceAttenuateInHundredthsOfADecibel)
{
    auto stream = OpenRamp(4000);
    ASSERT_NE(stream, nullptr);
    stream->Run();
    ASSERT_TRUE(stream->SetVolume(-600));
    const float sixDb = static_cast<float>(std::pow(10.0, -0.3));
    ExpectRamp(Render(100), 0, sixDb, sixDb);
    // A positive balance lowers the left side only, a negative one the right.
    ASSERT_TRUE(stream->SetBalance(1000));
    ExpectRamp(Render(100), 100, sixDb * static_cast<float>(std::pow(10.0, -0.5)), sixDb);
    ASSERT_TRUE(stream->SetBalance(-10000));
    ExpectRamp(Render(100), 200, sixDb, 0.0f);
    // Out of range is refused and changes nothing.
    EXPECT_FALSE(stream->SetVolume(1));
    EXPECT_FALSE(stream->SetVolume(-10001));
    EXPECT_FALSE(stream->SetBalance(10001));
    ExpectRamp(Render(100), 300, sixDb, 0.0f);
    // The floor is silence.
    ASSERT_TRUE(stream->SetVolume(-10000));
    EXPECT_TRUE(IsSilent(Render(100)));
}

static int g_notified = 0;

TEST_F(MediaStreamTest, TheEndQueuesOneEventAndNotifiesOnce)
{
    auto stream = OpenRamp(1000);
    ASSERT_NE(stream, nullptr);
    g_notified = 0;
    stream->SetNotify([](void* user) { ++*static_cast<int*>(user); }, &g_notified);
    stream->Run();
    const std::vector<float> out = Render(1500);
    ExpectRamp(std::vector<float>(out.begin(), out.begin() + 2000), 0);
    EXPECT_TRUE(IsSilent(std::vector<float>(out.begin() + 2000, out.end())));
    EXPECT_EQ(g_notified, 1);
    EXPECT_TRUE(IsSilent(Render(500)));
    EXPECT_EQ(g_notified, 1);
    int32_t code = 0;
    ASSERT_TRUE(stream->GetEvent(&code));
    EXPECT_EQ(code, platform::kMediaEventComplete);
    EXPECT_FALSE(stream->GetEvent(&code));
    // Rewound while running, it plays the file again and ends again.
    ASSERT_TRUE(stream->Rewind());
    ExpectRamp(Render(1000), 0);
    Render(10);
    EXPECT_EQ(g_notified, 2);
}

TEST_F(MediaStreamTest, LoopingGoesOnFromTheStartInTheSamePullAndStillReportsTheEnd)
{
    // A millisecond of sound, looping.
    constexpr size_t kFrames = 44;
    const std::string path = TempFile("click.wav");
    ASSERT_TRUE(WriteWav(path, 2, 44100, Ramp(kFrames)));
    auto stream = MediaStream::Open(path.c_str(), nullptr);
    ASSERT_NE(stream, nullptr);
    g_notified = 0;
    stream->SetNotify([](void* user) { ++*static_cast<int*>(user); }, &g_notified);
    stream->SetLooping(true);
    stream->Run();
    // Every frame of the file, then the first again, with no silence
    // between, a thousand times over.
    auto expectPasses = [](const std::vector<float>& out) {
        for (size_t from = 0; from < out.size() / 2; from += kFrames) {
            const size_t to = std::min(from + kFrames, out.size() / 2);
            ExpectRamp(std::vector<float>(out.begin() + 2 * from, out.begin() + 2 * to), 0);
        }
    };
    expectPasses(Render(kFrames * 1000 + 10));
    // The ends that come before the owner takes one are one event and one
    // notice, saying the stream already went on: nothing is left to do for
    // any of them, and a short loop must not flood its owner.
    EXPECT_EQ(g_notified, 1);
    int32_t code = 0;
    bool looped = false;
    ASSERT_TRUE(stream->GetEvent(&code, &looped));
    EXPECT_EQ(code, platform::kMediaEventComplete);
    EXPECT_TRUE(looped);
    EXPECT_FALSE(stream->GetEvent(nullptr));
    // A pass that short is played from memory: the file is not read again.
    ASSERT_TRUE(WriteWav(path, 2, 44100, std::vector<int16_t>(kFrames * 2, 0)));
    const std::vector<float> more = Render(kFrames * 10);
    ExpectRamp(std::vector<float>(more.begin(), more.begin() + 2 * (kFrames - 10)), 10);
    expectPasses(std::vector<float>(more.begin() + 2 * (kFrames - 10), more.end()));
    EXPECT_EQ(g_notified, 2);
    ASSERT_TRUE(stream->GetEvent(nullptr));
    // Looping off, the pass under way is the last.
    stream->SetLooping(false);
    ExpectRamp(Render(kFrames - 10), 10);
    EXPECT_TRUE(IsSilent(Render(100)));
    looped = true;
    ASSERT_TRUE(stream->GetEvent(&code, &looped));
    EXPECT_FALSE(looped);
    EXPECT_EQ(g_notified, 3);
}

TEST_F(MediaStreamTest, RewindDropsTheEndEventOfThePassItLeaves)
{
    auto stream = OpenRamp(500);
    ASSERT_NE(stream, nullptr);
    stream->Run();
    Render(600);
    ASSERT_TRUE(stream->Rewind());
    EXPECT_FALSE(stream->GetEvent(nullptr));
}

TEST_F(MediaStreamTest, RateChangesThePace)
{
    auto stream = OpenRamp(4000);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(stream->SetRate(2.0));
    stream->Run();
    const std::vector<float> out = Render(2100);
    // Twice as fast: output frame k is file frame 2k, and the file ends after 2000.
    for (size_t k = 0; k < 1999; ++k) {
        ASSERT_FLOAT_EQ(out[2 * k], RampLeft(2 * k) / 32768.0f) << k;
    }
    EXPECT_TRUE(IsSilent(std::vector<float>(out.begin() + 4000, out.end())));
    EXPECT_FALSE(stream->SetRate(0.0));
    EXPECT_FALSE(stream->SetRate(-1.0));
    EXPECT_FALSE(stream->SetRate(std::nan("")));
    EXPECT_FALSE(stream->SetRate(MediaStream::kMaxRate * 2));
}

TEST_F(MediaStreamTest, MonoPlaysOnBothSidesAndOtherRatesAreResampled)
{
    const std::string mono = TempFile("mono.wav");
    ASSERT_TRUE(WriteWav(mono, 1, 44100, std::vector<int16_t>(1000, 8192)));
    auto stream = MediaStream::Open(mono.c_str(), nullptr);
    ASSERT_NE(stream, nullptr);
    stream->Run();
    const std::vector<float> out = Render(500);
    for (float s : out) {
        ASSERT_FLOAT_EQ(s, 0.25f);
    }
    stream.reset();

    // 11025 Hz for 0.1 s still lasts 0.1 s at the device's rate.
    const std::string low = TempFile("low.wav");
    ASSERT_TRUE(WriteWav(low, 2, 11025, std::vector<int16_t>(2 * 1103, 8192)));
    stream = MediaStream::Open(low.c_str(), nullptr);
    ASSERT_NE(stream, nullptr);
    stream->Run();
    const std::vector<float> resampled = Render(6000);
    size_t sounding = 0;
    for (size_t i = 0; i < 6000; ++i) {
        if (std::fabs(resampled[2 * i]) > 0.2f) {
            ++sounding;
        }
    }
    // The resampler's filter may shorten the end by a fraction of a millisecond.
    EXPECT_NEAR(static_cast<double>(sounding), 4412.0, 100.0);
}

// Plays a looping stream for `passes` passes into `heard` and returns the
// frame at which each pass after the first began. The end event comes with
// the pull that starts the next pass, so near an expected end the mix is
// taken one frame at a time.
static std::vector<size_t> PassStarts(MediaStream& stream, size_t passes, size_t expected, std::vector<float>* heard)
{
    constexpr size_t kMargin = 8192;
    std::vector<size_t> starts;
    size_t at = 0;
    size_t passStart = 0;
    while (starts.size() < passes && at < (passes + 2) * (expected + kMargin)) {
        const size_t near = passStart + expected;
        const size_t step = at + kMargin < near ? near - kMargin - at : 1;
        const std::vector<float> out = Render(step);
        heard->insert(heard->end(), out.begin(), out.end());
        at += step;
        if (stream.GetEvent(nullptr)) {
            passStart = at - 1;
            starts.push_back(passStart);
        }
    }
    return starts;
}

// The largest step between a frame and the one a cycle of a 441 Hz tone
// before it, over `span` frames around `at`: a tone that goes on smoothly
// repeats itself a cycle on, so this is the coding's error there, and at a
// seam it grows with any jump, drop or flattening.
static float CycleError(const std::vector<float>& heard, size_t at, size_t span)
{
    constexpr size_t kCycle = 44100 / 441;
    float worst = 0.0f;
    for (size_t i = at - span / 2; i < at + span / 2; ++i) {
        worst = std::max(worst, std::fabs(heard[2 * i] - heard[2 * (i - kCycle)]));
    }
    return worst;
}

TEST_F(MediaStreamTest, AnyRateLastsItsLengthAndEveryLoopingPassIsTheFirstAgainWithoutASeam)
{
    struct Case {
        const char* extension;
        int rate;
        int channels;
        int frames;          // of the file, at its rate: whole cycles of the tone
        bool sox;            // made by sox rather than by ffmpeg
        double tolerance;    // frames the first pass may differ from the file's length
        float seamError;     // of the peak, beyond the error mid-pass: the coding's at its edges
        const char* codec = nullptr;  // ffmpeg's choice for the extension when null
    };
    std::vector<Case> cases;
    for (const char* extension : {"wav", "mp3"}) {
        for (int rate : {8000, 11025, 22050, 32000, 48000, 96000}) {
            for (int channels : {1, 2}) {
                cases.push_back({extension, rate, channels, 3 * rate, false,
                                 extension[0] == 'w' ? 0.0 : 1152.0 * 44100 / rate, extension[0] == 'w' ? 1e-3f : 0.08f});
            }
        }
    }
    // Vorbis files hold their exact length in their last granule position,
    // as ffmpeg and sox write them alike.
    for (int rate : {8000, 22050, 32000, 44100, 88200}) {
        cases.push_back({"ogg", rate, 2, rate, false, 0.0, 0.08f});
    }
    for (int rate : {22050, 44100}) {
        cases.push_back({"ogg", rate, 1, rate, true, 0.0, 0.08f});
    }
    cases.push_back({"flac", 32000, 2, 32000, false, 0.0, 1e-3f});
    // Codings whose decoders trim their edges: Opus the start, AAC in MP4 a
    // priming packet before the start and its padding after the end. An MP4
    // track's length is its own to the sample, also where its edit holds it
    // rounded to milliseconds (54 400 frames are 1 233.56 ms).
    cases.push_back({"opus", 44100, 2, 44100, false, 0.0, 0.08f});
    for (int frames : {44100, 54400, 22000, 4400}) {
        cases.push_back({"m4a", 44100, 2, frames, false, 0.0, 0.08f});
    }
    cases.push_back({"m4a", 48000, 1, 64000, false, 0.0, 0.08f});
    cases.push_back({"m4a", 44100, 2, 54400, false, 0.0, 1e-3f, "alac"});
    cases.push_back({"mov", 22050, 2, 27200, false, 0.0, 1e-3f, "pcm_s16le"});
    for (const Case& c : cases) {
        const std::string name = std::string(c.extension) + (c.codec != nullptr ? std::string(" ") + c.codec : "") +
                                 " " + std::to_string(c.frames) + " frames at " + std::to_string(c.rate) + " Hz x" +
                                 std::to_string(c.channels) + (c.sox ? " (sox)" : "");
        SCOPED_TRACE(name);
        const std::string path = TempFile(std::string("sine.") + c.extension);
        // sox's lengths are whole seconds here: it makes the tone at its own
        // rate and converts it.
        const std::string frames = std::to_string(c.frames);
        ASSERT_TRUE(RunTool(c.sox ? "sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " +
                                        path + " synth " + std::to_string(c.frames / c.rate) + " sine 441 vol 0.5"
                                  : "ffmpeg -v error -y -f lavfi -i sine=frequency=441:sample_rate=" +
                                        std::to_string(c.rate) + ":duration=" + std::to_string(c.frames / c.rate + 1) +
                                        " -af atrim=end_sample=" + frames + " -ac " + std::to_string(c.channels) +
                                        (c.codec != nullptr ? std::string(" -c:a ") + c.codec : "") + " " + path));
        auto stream = MediaStream::Open(path.c_str(), nullptr);
        ASSERT_NE(stream, nullptr);
        stream->SetLooping(true);
        stream->Run();
        const size_t length = static_cast<size_t>(int64_t(c.frames) * 44100 / c.rate);
        std::vector<float> heard;
        const std::vector<size_t> starts = PassStarts(*stream, 3, length, &heard);
        ASSERT_EQ(starts.size(), 3u);
        const size_t pass = starts[0];
        EXPECT_NEAR(static_cast<double>(pass), static_cast<double>(length), c.tolerance);
        if (std::string(c.extension) == "m4a" || std::string(c.extension) == "mov") {
            // The length it reports, in 100-ns units, is the one it plays.
            EXPECT_NEAR(static_cast<double>(stream->GetDuration()), 1e7 * c.frames / c.rate, 1e7 / c.rate);
        }
        EXPECT_EQ(starts[1] - starts[0], pass);
        EXPECT_EQ(starts[2] - starts[1], pass);
        // Listen: the tone keeps its pitch (two swings a cycle between its
        // peaks, which an encoder's near-silent edges do not make), and each
        // later pass plays the first one's samples, but where the rate
        // converter began the first from silence and the others from the
        // end of the pass before.
        int crossings = 0;
        int side = 0;
        for (size_t i = 0; i < pass; ++i) {
            const int now = heard[2 * i] > 0.03f ? 1 : heard[2 * i] < -0.03f ? -1 : side;
            crossings += side != 0 && now != side ? 1 : 0;
            side = now;
        }
        EXPECT_NEAR(crossings, 2 * 441 * c.frames / c.rate, 4);
        constexpr size_t kConverterFrames = 256;
        float worst = 0.0f;
        for (size_t i = 0; i < 2 * pass; ++i) {
            worst = std::max(worst, std::fabs(heard[2 * starts[1] + i] - heard[2 * starts[0] + i]));
            if (i >= 2 * kConverterFrames) {
                worst = std::max(worst, std::fabs(heard[2 * starts[0] + i] - heard[i]));
            }
        }
        EXPECT_LT(worst, 1e-3f);
        // The file holds whole cycles, so the tone runs on through each seam
        // as smoothly as anywhere else in the pass, but for what a lossy
        // coder loses at the file's edges.
        float peak = 0.0f;
        for (size_t i = 0; i < pass; ++i) {
            peak = std::max(peak, std::fabs(heard[2 * i]));
        }
        const float middle = CycleError(heard, starts[0] + pass / 2, 2000);
        for (size_t seam : {starts[0], starts[1]}) {
            const float error = CycleError(heard, seam, 400);
            EXPECT_LE(error, 3.0f * middle + c.seamError * peak) << "mid-pass " << middle << ", peak " << peak;
        }
        std::remove(path.c_str());
    }
}

TEST_F(MediaStreamTest, DecodesCompressedFiles)
{
    for (const char* extension : {"mp3", "ogg", "flac"}) {
        SCOPED_TRACE(extension);
        const std::string path = TempFile(std::string("tone.") + extension);
        ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.3 " + path));
        MediaOpenResult result = MediaOpenResult::kUnreadable;
        auto stream = MediaStream::Open(path.c_str(), &result);
        ASSERT_EQ(result, MediaOpenResult::kOk);
        stream->Run();
        const std::vector<float> out = Render(44100 / 2);
        // A mono sine of amplitude 1/8 on both sides for about 0.3 s, then silence.
        float peak = 0.0f;
        size_t last = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            peak = std::max(peak, std::fabs(out[i]));
            if (out[i] != 0.0f) {
                last = i / 2;
            }
        }
        EXPECT_NEAR(peak, 0.125f, 0.02f);
        EXPECT_NEAR(static_cast<double>(last), 0.3 * 44100, 2500.0);
        EXPECT_TRUE(stream->GetEvent(nullptr));
    }
}

TEST_F(MediaStreamTest, RefusesVideoButNotCoverArt)
{
    const std::string movie = TempFile("movie.avi");
    ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i testsrc=size=32x32:rate=5:d=0.4 -f lavfi -i sine=duration=0.4 -c:v mjpeg " + movie));
    MediaOpenResult result = MediaOpenResult::kOk;
    EXPECT_EQ(MediaStream::Open(movie.c_str(), &result), nullptr);
    EXPECT_EQ(result, MediaOpenResult::kHasVideo);

    const std::string song = TempFile("cover.mp3");
    ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i sine=duration=0.3 -f lavfi -i color=c=red:s=16x16:d=0.04 -map 0:a -map 1:v "
                    "-frames:v 1 -c:v png -disposition:v:0 attached_pic -id3v2_version 3 " + song));
    auto stream = MediaStream::Open(song.c_str(), &result);
    EXPECT_EQ(result, MediaOpenResult::kOk);
    EXPECT_NE(stream, nullptr);
}

TEST_F(MediaStreamTest, RefusesMissingEmptyTruncatedAndNonAudioFiles)
{
    MediaOpenResult result = MediaOpenResult::kOk;
    EXPECT_EQ(MediaStream::Open(TempFile("missing.mp3").c_str(), &result), nullptr);
    EXPECT_EQ(result, MediaOpenResult::kUnreadable);
    EXPECT_EQ(MediaStream::Open("", &result), nullptr);
    EXPECT_EQ(MediaStream::Open(nullptr, &result), nullptr);

    const std::string empty = TempFile("empty.mp3");
    std::ofstream(empty, std::ios::binary).close();
    EXPECT_EQ(MediaStream::Open(empty.c_str(), &result), nullptr);
    EXPECT_EQ(result, MediaOpenResult::kUnreadable);
    // A name that holds a terminal sequence reaches the log escaped, in our
    // lines and in FFmpeg's.
    const std::string hostile = TempFile("\x1b[2J.mp3");
    std::ofstream(hostile) << "no sound here\n";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MediaStream::Open(hostile.c_str(), &result), nullptr);
    EXPECT_EQ(MediaStream::Open((hostile + ".missing").c_str(), &result), nullptr);
    const std::string escaped = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(escaped.find("\\x1b[2J.mp3"), std::string::npos) << escaped;
    EXPECT_EQ(escaped.find('\x1b'), std::string::npos) << escaped;
    std::remove(hostile.c_str());

    // Cut inside the header.
    const std::string whole = TempFile("whole.wav");
    ASSERT_TRUE(WriteWav(whole, 2, 44100, Ramp(100)));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = TempFile("cut.wav");
    std::ofstream(cut, std::ios::binary).write(bytes.data(), 30);
    EXPECT_EQ(MediaStream::Open(cut.c_str(), &result), nullptr);
    EXPECT_EQ(result, MediaOpenResult::kUnreadable);

    // A damaged header claiming a rate no sound has, its data cut short:
    // refused with a line that says why, rather than played at a cost.
    const std::string fast = TempFile("fast.wav");
    ASSERT_TRUE(WriteWav(fast, 2, 466752, Ramp(1000)));
    ASSERT_EQ(truncate(fast.c_str(), 684), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MediaStream::Open(fast.c_str(), &result), nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, MediaOpenResult::kUnreadable);
    EXPECT_NE(said.find("2 channels at 466752 Hz cannot be played"), std::string::npos) << said;

    const std::string text = TempFile("notes.txt");
    std::ofstream(text) << "just some notes about the game\n";
    EXPECT_EQ(MediaStream::Open(text.c_str(), &result), nullptr);
    EXPECT_NE(result, MediaOpenResult::kOk);

    // A name is a file, never another protocol, a FIFO or a device, which
    // would hold the reader for ever.
    EXPECT_EQ(MediaStream::Open("pipe:0", &result), nullptr);
    const std::string fifo = TempFile("fifo.mp3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = TempFile("zero.mp3");
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    for (const std::string& special : {fifo, zero}) {
        EXPECT_EQ(MediaStream::Open(special.c_str(), &result), nullptr) << special;
        EXPECT_EQ(result, MediaOpenResult::kUnreadable) << special;
        std::remove(special.c_str());
    }
    // Nor a list of other files to read in its place.
    const std::string wholeName = whole.substr(whole.rfind('/') + 1);
    const std::string playlist = TempFile("list.m3u8");
    std::ofstream(playlist) << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" << wholeName << "\n#EXT-X-ENDLIST\n";
    const std::string concat = TempFile("list.ffconcat");
    std::ofstream(concat) << "ffconcat version 1.0\nfile " << wholeName << "\n";
    for (const std::string& list : {playlist, concat}) {
        EXPECT_EQ(MediaStream::Open(list.c_str(), &result), nullptr) << list;
        EXPECT_EQ(result, MediaOpenResult::kUnreadable) << list;
    }
}

TEST_F(MediaStreamTest, AFileCutInItsDataPlaysWhatIsThereAndEnds)
{
    const std::string whole = TempFile("long.wav");
    ASSERT_TRUE(WriteWav(whole, 2, 44100, Ramp(2000)));
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The header still promises 2000 frames; 500 are left.
    const std::string cut = TempFile("short.wav");
    std::ofstream(cut, std::ios::binary).write(bytes.data(), 44 + 500 * 4);
    auto stream = MediaStream::Open(cut.c_str(), nullptr);
    ASSERT_NE(stream, nullptr);
    stream->Run();
    const std::vector<float> out = Render(800);
    ExpectRamp(std::vector<float>(out.begin(), out.begin() + 1000), 0);
    EXPECT_TRUE(IsSilent(std::vector<float>(out.begin() + 1000, out.end())));
    EXPECT_TRUE(stream->GetEvent(nullptr));
}
