#include "platform/media/media.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/audio/audio.h"
#include "platform/media/ffmpeg_file.h"
#include "platform/sys/printable.h"

// Decoding happens in the mixer's pull, a packet at a time, into a buffer
// that holds one decoded packet (a few thousand frames at most). An MP3 frame
// decodes in tens of microseconds against a 23 ms device period, so a
// decode-ahead thread per stream would buy nothing but another thread to
// synchronise; and pulling keeps the null device exact: the frames a test
// renders are the frames of the file, with no dependence on timing.
namespace platform {

struct MediaStream::Impl final : AudioSource {
    mutable std::mutex lock;
    // The file's sound; touched under lock only (the mixer's pull included).
    SoundDecoder decoder;
    // Position between decoded frames when the rate is not 1.
    double fraction = 0.0;
    bool ended = false;
    State state = State::kStopped;
    double rate = 1.0;
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    float volumeGain = 1.0f;
    int32_t balance = 0;

    bool looping = false;

    static constexpr int kMaxEvents = 8;
    struct Event {
        int32_t code = 0;
        bool looped = false;
    };
    Event events[kMaxEvents] = {};
    int eventCount = 0;
    Notify notify = nullptr;
    void* notifyUser = nullptr;
    bool attached = false;

    ~Impl() override
    {
        // First out of the mixer: after this no pull is running or to come.
        if (attached) {
            AudioDevice::RemoveSource(this);
            AudioDevice::Close();
        }
    }

    void UpdateGains()
    {
        float left = volumeGain;
        float right = volumeGain;
        if (balance > 0) {
            left *= balance >= 10000 ? 0.0f : static_cast<float>(std::pow(10.0, -balance / 2000.0));
        } else if (balance < 0) {
            right *= balance <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, balance / 2000.0));
        }
        gainLeft = left;
        gainRight = right;
    }

    void Pull(float* out, size_t frames) override
    {
        Notify toNotify = nullptr;
        void* user = nullptr;
        size_t written = 0;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (state == State::kRunning && !ended) {
                written = Produce(out, frames);
                // Looping, the decoder goes on into the next pass itself:
                // the end is reported, but nobody has to restart anything.
                if (decoder.TakePassEnds() > 0 && QueueEvent(kMediaEventComplete, true)) {
                    toNotify = notify;
                    user = notifyUser;
                }
                // Looping was turned on after the decoder had ended: the
                // next pass starts afresh, in the same pull all the same.
                while (written < frames && looping && RewindLocked(false)) {
                    if (QueueEvent(kMediaEventComplete, true)) {
                        toNotify = notify;
                        user = notifyUser;
                    }
                    const size_t more = Produce(out + written * kAudioChannels, frames - written);
                    written += more;
                    if (more == 0) {
                        // A file with nothing to play would loop for ever.
                        break;
                    }
                }
                if (written < frames) {
                    ended = true;
                    QueueEvent(kMediaEventComplete, false);
                    toNotify = notify;
                    user = notifyUser;
                }
            }
        }
        std::fill(out + written * kAudioChannels, out + frames * kAudioChannels, 0.0f);
        if (toNotify != nullptr) {
            toNotify(user);
        }
    }

    // Writes up to `frames` frames at the rate and gains; fewer only at the
    // end of the file. lock is held.
    size_t Produce(float* out, size_t frames)
    {
        size_t written = 0;
        while (written < frames) {
            const size_t available = decoder.Available();
            if (rate == 1.0) {
                if (available == 0) {
                    if (!decoder.DecodeMore()) {
                        break;
                    }
                    continue;
                }
                const size_t count = std::min(available, frames - written);
                const float* from = decoder.Next();
                float* to = out + written * kAudioChannels;
                for (size_t i = 0; i < count; ++i) {
                    to[2 * i] = from[2 * i] * gainLeft;
                    to[2 * i + 1] = from[2 * i + 1] * gainRight;
                }
                decoder.Consume(count);
                written += count;
                continue;
            }
            // Another speed: read the file at `rate` frames per output frame,
            // between two neighbours by straight-line interpolation.
            if (available < 2 && !decoder.IsFinished() && decoder.DecodeMore()) {
                continue;
            }
            if (available == 0) {
                break;
            }
            const float* a = decoder.Next();
            const float* b = available >= 2 ? a + kAudioChannels : a;
            const float t = static_cast<float>(fraction);
            out[written * 2] = (a[0] + (b[0] - a[0]) * t) * gainLeft;
            out[written * 2 + 1] = (a[1] + (b[1] - a[1]) * t) * gainRight;
            ++written;
            fraction += rate;
            const double step = std::floor(fraction);
            fraction -= step;
            decoder.Consume(static_cast<size_t>(step));
        }
        return written;
    }

    // False when the event adds nothing to what waits: the ends of a short
    // loop, a thousand a second for a 1 ms file, are one event until the
    // owner takes it, since nothing is left to do for any of them.
    bool QueueEvent(int32_t code, bool looped)
    {
        if (looped && eventCount > 0 && events[eventCount - 1].code == code && events[eventCount - 1].looped) {
            return false;
        }
        if (eventCount == kMaxEvents) {
            std::fprintf(stderr, "media: event queue full, oldest event dropped\n");
            std::copy(events + 1, events + kMaxEvents, events);
            --eventCount;
        }
        events[eventCount++] = Event{code, looped};
        return true;
    }

    // Back to the start of the file. dropEvents: the end events still queued
    // belong to the pass just left behind (a rewind by the owner); a loop
    // inside the mixer keeps them for the owner to take.
    bool RewindLocked(bool dropEvents)
    {
        if (!decoder.Rewind()) {
            return false;
        }
        fraction = 0.0;
        ended = false;
        if (dropEvents) {
            eventCount = 0;
        }
        return true;
    }

    MediaOpenResult OpenFile(const char* hostPath);
};

MediaOpenResult MediaStream::Impl::OpenFile(const char* hostPath)
{
    switch (decoder.Open(hostPath, true)) {
    case SoundDecoder::OpenResult::kOk:
        break;
    case SoundDecoder::OpenResult::kHasVideo:
        return MediaOpenResult::kHasVideo;
    case SoundDecoder::OpenResult::kOutOfMemory:
        return MediaOpenResult::kOutOfMemory;
    case SoundDecoder::OpenResult::kNoSound:
        std::fprintf(stderr, "media: %s has no audio we can decode\n", PrintableText(hostPath).c_str());
        return MediaOpenResult::kUnreadable;
    case SoundDecoder::OpenResult::kUnreadable:
        return MediaOpenResult::kUnreadable;
    }
    // A file whose header reads but whose audio does not decode is no audio
    // file: decode the first packet now. Its frames are the first played.
    if (!decoder.DecodeMore()) {
        std::fprintf(stderr, "media: %s holds no decodable audio\n", PrintableText(hostPath).c_str());
        return MediaOpenResult::kUnreadable;
    }
    return MediaOpenResult::kOk;
}

std::unique_ptr<MediaStream> MediaStream::Open(const char* hostPath, MediaOpenResult* result)
{
    MediaOpenResult dummy = MediaOpenResult::kOk;
    MediaOpenResult& outcome = result != nullptr ? *result : dummy;
    if (hostPath == nullptr || hostPath[0] == '\0') {
        std::fprintf(stderr, "media: no file name\n");
        outcome = MediaOpenResult::kUnreadable;
        return nullptr;
    }
    SetUpFfmpegLog();
    std::unique_ptr<Impl> impl;
    try {
        impl = std::make_unique<Impl>();
        outcome = impl->OpenFile(hostPath);
    } catch (const std::bad_alloc&) {
        outcome = MediaOpenResult::kOutOfMemory;
    }
    if (outcome == MediaOpenResult::kOutOfMemory) {
        std::fprintf(stderr, "media: out of memory opening %s\n", PrintableText(hostPath).c_str());
    }
    if (outcome != MediaOpenResult::kOk) {
        return nullptr;
    }
    if (!AudioDevice::Open()) {
        outcome = MediaOpenResult::kNoAudioDevice;
        return nullptr;
    }
    if (!AudioDevice::AddSource(impl.get())) {
        AudioDevice::Close();
        outcome = MediaOpenResult::kNoAudioDevice;
        return nullptr;
    }
    impl->attached = true;
    std::unique_ptr<MediaStream> stream(new (std::nothrow) MediaStream(std::move(impl)));
    if (stream == nullptr) {
        outcome = MediaOpenResult::kOutOfMemory;
    }
    return stream;
}

MediaStream::MediaStream(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}

MediaStream::~MediaStream() = default;

void MediaStream::Run()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kRunning;
}

void MediaStream::Pause()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kPaused;
}

void MediaStream::Stop()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->state = State::kStopped;
}

MediaStream::State MediaStream::GetState() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->state;
}

bool MediaStream::Rewind()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->RewindLocked(true);
}

bool MediaStream::SetRate(double rate)
{
    if (!(rate > 0.0 && rate <= kMaxRate)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->rate = rate;
    impl->fraction = 0.0;
    return true;
}

bool MediaStream::SetVolume(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    // The floor is silence rather than -100 dB.
    impl->volumeGain = hundredthsDb == -10000 ? 0.0f : static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
    impl->UpdateGains();
    return true;
}

bool MediaStream::SetBalance(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 10000) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->balance = hundredthsDb;
    impl->UpdateGains();
    return true;
}

int64_t MediaStream::GetDuration() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->decoder.GetDuration();
}

void MediaStream::SetNotify(Notify notify, void* user)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->notify = notify;
    impl->notifyUser = user;
}

void MediaStream::SetLooping(bool looping)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->looping = looping;
    impl->decoder.SetLooping(looping);
}

bool MediaStream::GetEvent(int32_t* code, bool* looped)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    if (impl->eventCount == 0) {
        return false;
    }
    if (code != nullptr) {
        *code = impl->events[0].code;
    }
    if (looped != nullptr) {
        *looped = impl->events[0].looped;
    }
    --impl->eventCount;
    std::copy(impl->events + 1, impl->events + 1 + impl->eventCount, impl->events);
    return true;
}

}  // namespace platform
