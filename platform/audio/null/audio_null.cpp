#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/audio/audio_backend.h"

namespace platform {

// A device without a speaker. By default it takes the mix in real time on a
// thread of its own, one period at a time as a sound card would, and
// throws it away: on a machine without sound every clock that follows the
// output (a stream's end, a sound played once, a movie's picture) moves as
// it would with one. Rendering by hand, it takes the mix only when a caller
// renders it into memory, so a test hears exactly the samples a listener
// would, frame for frame, at moments of its own choosing.
class NullAudioBackend final : public AudioBackend {
public:
    ~NullAudioBackend() override { Stop(); }

    const char* GetName() const override { return "null"; }

    bool Start() override
    {
        started = true;
        return byHand.load() || StartClock();
    }

    void Stop() override
    {
        StopClock();
        started = false;
    }

    bool MixesOnRequest() const override { return byHand.load(); }

    void SetRenderByHand(bool value) override
    {
        if (value == byHand.load()) {
            return;
        }
        byHand.store(value);
        if (!started) {
            return;
        }
        if (value) {
            StopClock();
        } else {
            StartClock();
        }
    }

private:
    // A real device that falls this far behind drops the time it lost
    // rather than play it all at once; so does this one.
    static constexpr int64_t kMaxLagPeriods = 4;

    bool StartClock()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            quit = false;
        }
        try {
            clock = std::thread(&NullAudioBackend::Run, this);
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "audio: the null device's thread did not start: %s\n", error.what());
            return false;
        }
        return true;
    }

    void StopClock()
    {
        if (!clock.joinable()) {
            return;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            quit = true;
        }
        wake.notify_all();
        clock.join();
    }

    // The time of the period that starts `frames` frames after the clock's
    // start, counted in frames so that the periods never drift.
    static std::chrono::steady_clock::duration At(int64_t frames)
    {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::nanoseconds(frames * 1000000000LL / kAudioRate));
    }

    void Run()
    {
        pthread_setname_np(pthread_self(), "orva-null-audio");
        std::vector<float> period;
        try {
            period.resize(AudioDevice::kPeriodFrames * kAudioChannels);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "audio: out of memory starting the null device\n");
            return;
        }
        const int64_t periodFrames = static_cast<int64_t>(AudioDevice::kPeriodFrames);
        auto start = std::chrono::steady_clock::now();
        int64_t frames = 0;
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            // Sleeps until the period is due: a device asks for its next
            // period when it has played the one before.
            if (wake.wait_until(guard, start + At(frames + periodFrames), [this] { return quit; })) {
                return;
            }
            guard.unlock();
            frames += periodFrames;
            const auto now = std::chrono::steady_clock::now();
            if (now - (start + At(frames)) > At(kMaxLagPeriods * periodFrames)) {
                start = now;
                frames = 0;
            }
            MixAudio(period.data(), AudioDevice::kPeriodFrames);
            guard.lock();
        }
    }

    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;  // under lock
    std::thread clock;
    std::atomic<bool> byHand{false};
    bool started = false;
};

std::unique_ptr<AudioBackend> CreateNullAudioBackend()
{
    return std::make_unique<NullAudioBackend>();
}

}  // namespace platform
