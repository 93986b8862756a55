// Fuzz target: audio files and movies as the media layer opens them through
// FFmpeg. The input is a file; it is opened as a stream of sound and as a
// movie, and what opens is played for a moment on the null audio device,
// which mixes only when asked, so that every run decodes the same. Opening
// either succeeds with a stream or fails with a reason, never both; a movie
// that opens has a size within bounds and a whole frame buffer; the mix
// stays within full scale; and nothing is left open once the streams are
// gone. A damaged file must fail fast: a slow input shows up as libFuzzer's
// timeout. Built as a libFuzzer program with clang (ORVA_LIBFUZZER); every
// build also runs it as a regression program over the committed corpus
// (small files made by ffmpeg and sox, `scripts/fuzz seeds`) and
// deterministic mutations of it:
//
//   fuzz_media_regression MUTATIONS CORPUS
#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/media/media.h"
#include "platform/media/video.h"
#include "tests/platform/fuzz/fuzz_check.h"

namespace {

using platform::AudioDevice;

// The input lives in memory as a file of its own; the media layer opens it
// by a path like any other.
int g_file = -1;
std::string g_path;
// Where the frames' bytes are summed, so that reading them is not left out.
volatile uint32_t g_frameSum = 0;

bool SetUp()
{
    setenv("ORVA_AUDIO", "null", 1);
    AudioDevice::SetRenderByHand(true);
    // Held open for the whole run, so that streams do not start and stop
    // the device for every input.
    FUZZ_CHECK(AudioDevice::Open());
    g_file = memfd_create("fuzz_media", 0);
    FUZZ_CHECK(g_file >= 0);
    g_path = "/proc/self/fd/" + std::to_string(g_file);
    return true;
}

void WriteInput(const uint8_t* data, size_t size)
{
    static const bool ready = SetUp();
    (void)ready;
    FUZZ_CHECK(ftruncate(g_file, 0) == 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = pwrite(g_file, data + done, size - done, off_t(done));
        FUZZ_CHECK(wrote > 0);
        done += size_t(wrote);
    }
}

int OpenDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    FUZZ_CHECK(dir != nullptr);
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

// Mixes `periods` device periods; every sample a number within full scale,
// whatever the file holds (a file of float samples can hold NaN).
void Play(int periods)
{
    static float mix[AudioDevice::kPeriodFrames * platform::kAudioChannels];
    for (int i = 0; i < periods; ++i) {
        FUZZ_CHECK(AudioDevice::Render(mix, AudioDevice::kPeriodFrames));
        for (float sample : mix) FUZZ_CHECK(sample >= -1.0f && sample <= 1.0f);
    }
}

// True when the file opened as a stream.
bool CheckStream(const char* path)
{
    platform::MediaOpenResult result = platform::MediaOpenResult::kOk;
    std::unique_ptr<platform::MediaStream> stream = platform::MediaStream::Open(path, &result);
    FUZZ_CHECK((stream != nullptr) == (result == platform::MediaOpenResult::kOk));
    if (stream == nullptr) return false;
    FUZZ_CHECK(stream->GetDuration() >= 0);
    stream->SetLooping(true);
    stream->Run();
    Play(3);
    int32_t code = 0;
    while (stream->GetEvent(&code)) FUZZ_CHECK(code == platform::kMediaEventComplete);
    stream->Rewind();
    stream->SetRate(2.0);
    Play(2);
    return true;
}

// True when the file opened as a movie.
bool CheckMovie(const char* path)
{
    platform::VideoOpenResult result = platform::VideoOpenResult::kOk;
    std::unique_ptr<platform::VideoStream> movie = platform::VideoStream::Open(path, platform::kVideoX8R8G8B8, &result);
    FUZZ_CHECK((movie != nullptr) == (result == platform::VideoOpenResult::kOk));
    if (movie == nullptr) return false;
    const int32_t width = movie->GetWidth(), height = movie->GetHeight();
    FUZZ_CHECK(width >= 1 && width <= platform::VideoStream::kMaxSize);
    FUZZ_CHECK(height >= 1 && height <= platform::VideoStream::kMaxSize);
    FUZZ_CHECK(movie->GetDuration() >= 0);
    auto readFrame = [&] {
        int32_t pitch = 0;
        const uint8_t* frame = movie->GetFrame(&pitch);
        FUZZ_CHECK(frame != nullptr && pitch == width * 4);
        // Every byte is read, so that a buffer short of its size shows.
        uint32_t sum = 0;
        for (size_t i = 0; i < size_t(pitch) * size_t(height); ++i) sum += frame[i];
        g_frameSum = sum;
    };
    readFrame();
    movie->Run();
    for (int i = 0; i < 3; ++i) {
        Play(2);
        movie->UpdateFrame();
        readFrame();
    }
    movie->Rewind();
    FUZZ_CHECK(movie->SetFormat(platform::kVideoR5G6B5));
    movie->UpdateFrame();
    int32_t pitch = 0;
    FUZZ_CHECK(movie->GetFrame(&pitch) != nullptr && pitch == width * 2);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteInput(data, size);
    const int open = OpenDescriptors();
    CheckStream(g_path.c_str());
    CheckMovie(g_path.c_str());
    FUZZ_CHECK(OpenDescriptors() == open);
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

void PutU32(Bytes* b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4 && at + i < b->size(); ++i) (*b)[at + i] = uint8_t(v >> (8 * i));
}

// Mutations where the demuxers and decoders have something to check: the
// sizes and counts of chunks, atoms and pages (any word), single bits,
// the file's length, and runs of bytes lost or repeated.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kInteresting[] = {0, 1, 0x7F, 0x80, 0xFF, 0xFFFF, 0x10000, 0x7FFFFFFF,
                                            0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF8u, 0x00FFFFFF};
    if (b->empty()) return;
    switch (r->Below(6)) {
    case 0: (*b)[r->Below(b->size())] ^= uint8_t(1u << r->Below(8)); break;
    case 1: PutU32(b, r->Below(b->size()), kInteresting[r->Below(sizeof kInteresting / sizeof kInteresting[0])]); break;
    case 2: b->resize(r->Below(b->size() + 1)); break;
    case 3: {
        const size_t at = r->Below(b->size());
        b->erase(b->begin() + long(at), b->begin() + long(std::min(b->size(), at + 1 + r->Below(64))));
        break;
    }
    case 4: {
        const size_t at = r->Below(b->size());
        const Bytes run(b->begin() + long(at), b->begin() + long(std::min(b->size(), at + 1 + r->Below(64))));
        b->insert(b->begin() + long(r->Below(b->size() + 1)), run.begin(), run.end());
        break;
    }
    default: (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MUTATIONS CORPUS\n", argv[0]);
        return 2;
    }
    const long mutations = std::strtol(argv[1], nullptr, 10);
    std::vector<std::string> paths;
    fuzzmain::AddInputs(argv[2], &paths);
    std::vector<Bytes> seeds;
    for (const std::string& path : paths) {
        Bytes bytes;
        if (!fuzzmain::ReadFile(path, &bytes)) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 1;
        }
        seeds.push_back(bytes);
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds in %s\n", argv[2]);
        return 1;
    }
    // Each seed is a sound file or a movie that opens as one.
    for (size_t i = 0; i < seeds.size(); ++i) {
        WriteInput(seeds[i].data(), seeds[i].size());
        if (!CheckStream(g_path.c_str()) && !CheckMovie(g_path.c_str())) {
            std::fprintf(stderr, "%s opens neither as a sound nor as a movie\n", paths[i].c_str());
            return 1;
        }
    }
    fuzzrun::Random random(0x9B05688C2B3E6C1Full);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
