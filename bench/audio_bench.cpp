// What the music costs: decoding and mixing one looping MP3 stream through
// the null device (CPU time of the whole process over the audio time
// rendered), the same for a looping WAV file of one millisecond (a pass
// ends 23 times a device period), and the time from a posted play to the first sample the mixer
// renders. On a real device add up to one device period (23 ms) to the latter.
// Then what the null device's own thread costs as it takes the mix in real
// time, with the stream loaded and stopped and with it playing: process CPU
// time over two seconds of wall time while the main thread sleeps.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/sound/audio.h"
#include "platform/audio/audio.h"

static std::atomic<bool> g_ended{false};

static double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Four seconds of 192 kbit/s stereo: two tones over pink noise, so the
// encoder has real work in every band, as with music.
static const std::string& MusicFile()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string file = std::string(tmp != nullptr ? tmp : "/tmp") + "/orva_bench_" + std::to_string(getpid()) + ".mp3";
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i anoisesrc=color=pink:amplitude=0.2:duration=4:sample_rate=44100 "
            "-f lavfi -i sine=frequency=440:duration=4 -f lavfi -i sine=frequency=659:duration=4 "
            "-filter_complex amix=inputs=3 -ac 2 -b:a 192k " + file + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "audio_bench: ffmpeg could not make %s\n", file.c_str());
        }
        return file;
    }();
    return path;
}

// One millisecond of a tone: the shortest loop a file can make.
static const std::string& ClickFile()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string file = std::string(tmp != nullptr ? tmp : "/tmp") + "/orva_bench_" + std::to_string(getpid()) + ".wav";
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=441:duration=0.001 -ac 2 " + file + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "audio_bench: ffmpeg could not make %s\n", file.c_str());
        }
        return file;
    }();
    return path;
}

static OrvaAudio* StartModule(const std::string& file = MusicFile())
{
    setenv("ORVA_AUDIO", "null", 1);
    // The benchmark takes the mix itself, as fast as it can.
    platform::AudioDevice::SetRenderByHand(true);
    OrvaAudio::SetEventPoster([] { g_ended.store(true); });
    OrvaAudio::Initialize();
    OrvaAudio* audio = OrvaAudio::Create(file.c_str());
    OrvaAudio::WaitIdle();
    return audio;
}

static void MixLooping(benchmark::State& state, const std::string& file)
{
    OrvaAudio* audio = StartModule(file);
    OrvaAudio::Play(audio, 1);
    OrvaAudio::WaitIdle();
    // One device period per iteration, as SDL asks for it.
    constexpr size_t kFrames = 1024;
    std::vector<float> out(kFrames * platform::kAudioChannels);
    size_t rendered = 0;
    int64_t sounding = 0;
    const double cpuStart = ProcessCpuSeconds();
    for (auto _ : state) {
        platform::AudioDevice::Render(out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
        // Count what was heard, so a stream that never played shows as such.
        if (std::fabs(out[0]) + std::fabs(out[kFrames]) > 0.0f) {
            ++sounding;
        }
        if (g_ended.exchange(false)) {
            // What the window procedure does on the stream's message.
            OrvaAudio::HandleGraphEvents();
        }
        rendered += kFrames;
    }
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double audioSeconds = static_cast<double>(rendered) / platform::kAudioRate;
    state.counters["cpu_percent_of_core"] = audioSeconds > 0 ? 100.0 * cpu / audioSeconds : 0.0;
    state.counters["sounding_blocks"] = static_cast<double>(sounding);
    state.counters["realtime_x"] = cpu > 0 ? audioSeconds / cpu : 0.0;
    OrvaAudio::PostRelease(audio);
    OrvaAudio::Destroy();
}

static void BM_LoopingMp3DecodeAndMix(benchmark::State& state)
{
    MixLooping(state, MusicFile());
}
BENCHMARK(BM_LoopingMp3DecodeAndMix)->Iterations(2000);

static void BM_LoopingMillisecondWavMix(benchmark::State& state)
{
    MixLooping(state, ClickFile());
}
BENCHMARK(BM_LoopingMillisecondWavMix)->Iterations(2000);

static bool Heard(const std::vector<float>& out)
{
    for (float s : out) {
        if (std::fabs(s) > 1e-4f) {
            return true;
        }
    }
    return false;
}

static void BM_PostedPlayToFirstSample(benchmark::State& state)
{
    OrvaAudio* audio = StartModule();
    // The mixer's smallest useful step: 64 frames, 1.45 ms of audio.
    std::vector<float> out(64 * platform::kAudioChannels);
    double totalMicroseconds = 0.0;
    double worstMicroseconds = 0.0;
    int64_t plays = 0;
    for (auto _ : state) {
        OrvaAudio::Stop(audio);
        OrvaAudio::WaitIdle();
        const auto start = std::chrono::steady_clock::now();
        OrvaAudio::Play(audio, 0);
        do {
            platform::AudioDevice::Render(out.data(), 64);
        } while (!Heard(out));
        const double microseconds =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(microseconds * 1e-6);
        totalMicroseconds += microseconds;
        worstMicroseconds = std::max(worstMicroseconds, microseconds);
        ++plays;
    }
    state.counters["latency_us_mean"] = plays > 0 ? totalMicroseconds / static_cast<double>(plays) : 0.0;
    state.counters["latency_us_worst"] = worstMicroseconds;
    OrvaAudio::PostRelease(audio);
    OrvaAudio::Destroy();
}
BENCHMARK(BM_PostedPlayToFirstSample)->UseManualTime()->Iterations(300);

// The time on a CPU of this process's thread of that name, from the
// scheduler's own count (nanoseconds, unlike the ticks of /proc's stat).
static double ThreadCpuSeconds(const char* name)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        std::getline(comm, line);
        if (line != name) {
            continue;
        }
        std::ifstream schedstat(task.path() / "schedstat");
        double nanoseconds = 0.0;
        schedstat >> nanoseconds;
        return nanoseconds * 1e-9;
    }
    return 0.0;
}

// Two seconds of the null device's clock with the main thread asleep but
// for a look every 10 ms at whether the stream asked for its end handling.
static void MeasureRealTime(benchmark::State& state, bool playing)
{
    OrvaAudio* audio = StartModule();
    platform::AudioDevice::SetRenderByHand(false);
    if (playing) {
        OrvaAudio::Play(audio, 1);
        OrvaAudio::WaitIdle();
    }
    for (auto _ : state) {
        const double cpuStart = ProcessCpuSeconds();
        const double threadStart = ThreadCpuSeconds("orva-null-audio");
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (g_ended.exchange(false)) {
                OrvaAudio::HandleGraphEvents();
            }
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
        state.counters["null_thread_percent_of_core"] = 100.0 * (ThreadCpuSeconds("orva-null-audio") - threadStart) / wall;
        state.counters["playing"] = OrvaAudio::IsPlaying(audio);
    }
    OrvaAudio::PostRelease(audio);
    OrvaAudio::Destroy();
    platform::AudioDevice::SetRenderByHand(true);
}

static void BM_NullDeviceIdle(benchmark::State& state)
{
    MeasureRealTime(state, false);
}
BENCHMARK(BM_NullDeviceIdle)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

static void BM_NullDeviceMixingLoopingMp3(benchmark::State& state)
{
    MeasureRealTime(state, true);
}
BENCHMARK(BM_NullDeviceMixingLoopingMp3)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
