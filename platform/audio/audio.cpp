// The portable part of the audio device: the mixer over every source, the
// choice of backend and the users' count.
#include "platform/audio/audio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/audio/audio_backend.h"

namespace platform {

// Sources are pulled in blocks of this many frames through one scratch
// buffer, so mixing allocates nothing.
static constexpr size_t kMixBlockFrames = 512;
// Larger than any sample a source means to play: the mix clips at full
// scale anyway.
static constexpr float kLoudestSample = 1.0e6f;

struct MixerState {
    // Serialises opening, closing and the choice of rendering by hand, which
    // start and stop device threads; never held by a mix.
    std::mutex control;
    // Guards the rest; held for the whole of a mix, which is what lets
    // RemoveSource promise the source is no longer used.
    std::mutex lock;
    std::unique_ptr<AudioBackend> backend;
    int32_t users = 0;
    bool renderByHand = false;
    float masterGain = 1.0f;
    float lineGains[kAudioLineCount] = {1.0f, 1.0f, 1.0f};
    std::vector<AudioSource*> sources;
    float scratch[kMixBlockFrames * kAudioChannels] = {};
    // Frames mixed so far, and during a mix the first frame of the block
    // being pulled.
    uint64_t mixedFrames = 0;
    uint64_t pullFrame = 0;

    // The period last taken, under a lock of its own so that reading the
    // played position never waits for a mix.
    std::mutex periodLock;
    uint64_t periodStart = 0;   // output frame
    uint64_t periodFrames = 0;
    int64_t periodTime = 0;     // nanoseconds, when it was taken
    bool periodTimed = false;   // false: heard as soon as it was mixed
    int64_t (*clock)() = nullptr;
};

// Never destroyed: a stream released by another file's static destructor
// at exit must still find the mixer to leave it.
static MixerState& Mixer()
{
    static MixerState* state = new MixerState();
    return *state;
}

// Tries the backends in order, or only the one ORVA_AUDIO names.
static std::unique_ptr<AudioBackend> StartBackend(bool renderByHand)
{
    const char* wanted = std::getenv("ORVA_AUDIO");
    const bool any = wanted == nullptr || wanted[0] == '\0';
    if (!any && std::strcmp(wanted, "sdl2") != 0 && std::strcmp(wanted, "null") != 0) {
        std::fprintf(stderr, "audio: ORVA_AUDIO=%s is not a device (sdl2 or null)\n", wanted);
        return nullptr;
    }
    using Factory = std::unique_ptr<AudioBackend> (*)();
    const struct {
        const char* name;
        Factory create;
    } backends[] = {{"sdl2", CreateSdl2AudioBackend}, {"null", CreateNullAudioBackend}};
    for (const auto& entry : backends) {
        if (!any && std::strcmp(wanted, entry.name) != 0) {
            continue;
        }
        std::unique_ptr<AudioBackend> backend = entry.create();
        if (backend == nullptr) {
            continue;
        }
        backend->SetRenderByHand(renderByHand);
        if (backend->Start()) {
            std::fprintf(stderr, "audio: using the %s device (%d Hz, %d channels, f32%s)\n", entry.name, kAudioRate,
                         kAudioChannels, backend->MixesOnRequest() ? ", mixed only when rendered by hand" : "");
            return backend;
        }
    }
    std::fprintf(stderr, "audio: no output device started\n");
    return nullptr;
}

bool AudioDevice::Open()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> control(mixer.control);
    {
        std::lock_guard<std::mutex> guard(mixer.lock);
        if (mixer.users > 0) {
            ++mixer.users;
            return true;
        }
    }
    // A backend's thread may mix as soon as it starts: start it unlocked.
    std::unique_ptr<AudioBackend> backend;
    try {
        backend = StartBackend(mixer.renderByHand);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "audio: out of memory opening the device\n");
        return false;
    }
    if (backend == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> guard(mixer.lock);
    mixer.backend = std::move(backend);
    mixer.users = 1;
    return true;
}

void AudioDevice::Close()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> control(mixer.control);
    std::unique_ptr<AudioBackend> closing;
    {
        std::lock_guard<std::mutex> guard(mixer.lock);
        if (mixer.users == 0) {
            return;
        }
        if (--mixer.users > 0) {
            return;
        }
        closing = std::move(mixer.backend);
        if (!mixer.sources.empty()) {
            std::fprintf(stderr, "audio: device closed with %zu sources still attached\n", mixer.sources.size());
            mixer.sources.clear();
        }
    }
    // Stopping waits for the device's thread, which may be waiting for the lock.
    closing->Stop();
}

bool AudioDevice::IsOpen()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    return mixer.users > 0;
}

const char* AudioDevice::GetBackendName()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    return mixer.backend != nullptr ? mixer.backend->GetName() : "";
}

void AudioDevice::SetRenderByHand(bool byHand)
{
    MixerState& mixer = Mixer();
    // Held throughout: the backend cannot be closed under us.
    std::lock_guard<std::mutex> control(mixer.control);
    AudioBackend* backend = nullptr;
    {
        std::lock_guard<std::mutex> guard(mixer.lock);
        mixer.renderByHand = byHand;
        backend = mixer.backend.get();
    }
    if (backend != nullptr) {
        backend->SetRenderByHand(byHand);
    }
}

bool AudioDevice::IsRenderByHand()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    return mixer.renderByHand;
}

// NaN counts as silence: a gain must never poison the mix.
static float ClampGain(float gain)
{
    return gain >= 0.0f ? std::min(gain, 1.0f) : 0.0f;
}

void AudioDevice::SetMasterGain(float gain)
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    mixer.masterGain = ClampGain(gain);
}

float AudioDevice::GetMasterGain()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    return mixer.masterGain;
}

static int32_t LineIndex(AudioLine line)
{
    const int32_t index = static_cast<int32_t>(line);
    return index >= 0 && index < kAudioLineCount ? index : -1;
}

void AudioDevice::SetLineGain(AudioLine line, float gain)
{
    const int32_t index = LineIndex(line);
    if (index < 0) {
        return;
    }
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    mixer.lineGains[index] = ClampGain(gain);
}

float AudioDevice::GetLineGain(AudioLine line)
{
    const int32_t index = LineIndex(line);
    if (index < 0) {
        return 1.0f;
    }
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    return mixer.lineGains[index];
}

bool AudioDevice::AddSource(AudioSource* source)
{
    if (source == nullptr) {
        return false;
    }
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    if (mixer.users == 0) {
        return false;
    }
    if (std::find(mixer.sources.begin(), mixer.sources.end(), source) != mixer.sources.end()) {
        return true;
    }
    try {
        mixer.sources.push_back(source);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "audio: out of memory adding a source\n");
        return false;
    }
    return true;
}

void AudioDevice::RemoveSource(AudioSource* source)
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    mixer.sources.erase(std::remove(mixer.sources.begin(), mixer.sources.end(), source), mixer.sources.end());
}

// Nanoseconds by the steady clock, or by the one set for tests. The period
// lock is held.
static int64_t NowLocked(const MixerState& mixer)
{
    if (mixer.clock != nullptr) {
        return mixer.clock();
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint64_t AudioDevice::GetPlayedFrames()
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.periodLock);
    if (!mixer.periodTimed) {
        return mixer.periodStart + mixer.periodFrames;
    }
    const int64_t elapsed = std::max<int64_t>(NowLocked(mixer) - mixer.periodTime, 0);
    const uint64_t played = static_cast<uint64_t>(elapsed / 1000) * kAudioRate / 1000000;
    return mixer.periodStart + std::min(played, mixer.periodFrames);
}

uint64_t AudioDevice::GetPullFrame()
{
    return Mixer().pullFrame;
}

void AudioDevice::SetClock(int64_t (*nanoseconds)())
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.periodLock);
    mixer.clock = nanoseconds;
}

// The mix itself; the mixer's lock is held. A gain of 1 multiplies exactly,
// so at the default gains every sample is the plain sum. timed: the device
// plays the period out in real time from now, rather than at once.
static void MixLocked(float* out, size_t frames, bool timed)
{
    MixerState& mixer = Mixer();
    {
        std::lock_guard<std::mutex> guard(mixer.periodLock);
        mixer.periodStart = mixer.mixedFrames;
        mixer.periodFrames = frames;
        mixer.periodTimed = timed || mixer.clock != nullptr;
        mixer.periodTime = mixer.periodTimed ? NowLocked(mixer) : 0;
    }
    std::memset(out, 0, frames * kAudioChannels * sizeof(float));
    for (size_t done = 0; done < frames;) {
        const size_t block = std::min(kMixBlockFrames, frames - done);
        float* target = out + done * kAudioChannels;
        mixer.pullFrame = mixer.mixedFrames + done;
        for (AudioSource* source : mixer.sources) {
            // A silenced source is still pulled: its time goes on.
            source->Pull(mixer.scratch, block);
            const int32_t line = LineIndex(source->GetLine());
            const float gain = line >= 0 ? mixer.lineGains[line] : 1.0f;
            // A sample that is no number, or infinite (a damaged float
            // file), is silence: added in, it would wipe out every other
            // source and reach the device as it is. Written as a negated
            // pass so that a NaN fails it.
            for (size_t i = 0; i < block * kAudioChannels; ++i) {
                const float sample = mixer.scratch[i] * gain;
                target[i] += std::fabs(sample) <= kLoudestSample ? sample : 0.0f;
            }
        }
        done += block;
    }
    mixer.mixedFrames += frames;
    const float master = mixer.masterGain;
    for (size_t i = 0; i < frames * kAudioChannels; ++i) {
        out[i] = std::clamp(out[i] * master, -1.0f, 1.0f);
    }
}

bool AudioDevice::Render(float* out, size_t frames)
{
    if (out == nullptr) {
        return false;
    }
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    if (mixer.backend == nullptr || !mixer.backend->MixesOnRequest()) {
        return false;
    }
    MixLocked(out, frames, false);
    return true;
}

void MixAudio(float* out, size_t frames)
{
    MixerState& mixer = Mixer();
    std::lock_guard<std::mutex> guard(mixer.lock);
    MixLocked(out, frames, true);
}

}  // namespace platform
