// Songs played through FluidSynth into the mixer.
#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <utility>

#include "platform/audio/audio.h"
#include "platform/midi/midi.h"
#include "platform/sys/file.h"

namespace platform {

static constexpr const char* kDefaultSoundFonts[] = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
};
// Songs play on the first 16 channels; the rest only keep instruments
// selected, so that the SoundFont's samples for them stay loaded.
static constexpr int kSongChannels = 16;
static constexpr int kAllChannels = 64;
static constexpr int kDrumChannel = 9;
static constexpr int kDrumBank = 128;
// Frames rendered per synthesizer call.
static constexpr size_t kBlockFrames = 512;

std::string GetSoundFontPath()
{
    const char* chosen = std::getenv("ORVA_SOUNDFONT");
    if (chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    for (const char* path : kDefaultSoundFonts) {
        if (std::FILE* file = platform::OpenRegularFileStream(path)) {
            std::fclose(file);
            return path;
        }
    }
    return kDefaultSoundFonts[0];
}

bool IsSoundFontAvailable()
{
    const std::string path = GetSoundFontPath();
    std::FILE* file = platform::OpenRegularFileStream(path.c_str());
    if (file == nullptr) {
        return false;
    }
    uint8_t head[12] = {};
    const bool ok = std::fread(head, 1, sizeof head, file) == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
                    std::memcmp(head + 8, "sfbk", 4) == 0;
    std::fclose(file);
    return ok;
}

// FluidSynth's own messages: errors reach stderr in our form, chatter does not.
static void LogFluidError(int, const char* message, void*)
{
    std::fprintf(stderr, "midi: %s\n", message);
}

static void QuietFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, LogFluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, LogFluidError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

struct MidiSynth::Impl : AudioSource {
    // Guards everything below; the mixer holds it for the whole of a pull.
    mutable std::mutex lock;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int soundFont = -1;
    bool attached = false;

    const MidiSong* song = nullptr;
    size_t next = 0;        // the next event of the song to send
    int64_t position = 0;   // frames into the song
    bool repeat = false;
    bool running = false;

    int32_t volume = 0;   // hundredths of a decibel
    int32_t balance = 0;  // hundredths of a decibel
    float gainLeft = 1.0f;
    float gainRight = 1.0f;
    std::unique_ptr<AudioEffect> effect;

    float left[kBlockFrames] = {};
    float right[kBlockFrames] = {};
    float frames[kBlockFrames * kAudioChannels] = {};

    // The synthesizer's volume on a system mixer is its own line.
    AudioLine GetLine() const override { return AudioLine::kSynthesizer; }

    ~Impl() override
    {
        // First out of the mixer: after this no pull is running or to come.
        if (attached) {
            AudioDevice::RemoveSource(this);
            AudioDevice::Close();
        }
        if (synth != nullptr) {
            delete_fluid_synth(synth);
        }
        if (settings != nullptr) {
            delete_fluid_settings(settings);
        }
    }

    void UpdateGains()
    {
        const float gain = volume <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0));
        float l = gain;
        float r = gain;
        if (balance > 0) {
            l *= balance >= 10000 ? 0.0f : static_cast<float>(std::pow(10.0, -balance / 2000.0));
        } else if (balance < 0) {
            r *= balance <= -10000 ? 0.0f : static_cast<float>(std::pow(10.0, balance / 2000.0));
        }
        gainLeft = l;
        gainRight = r;
    }

    void Send(const MidiEvent& event)
    {
        const int channel = event.status & 0x0F;
        switch (event.status & 0xF0) {
        case 0x80:
            fluid_synth_noteoff(synth, channel, event.data1);
            break;
        case 0x90:
            fluid_synth_noteon(synth, channel, event.data1, event.data2);
            break;
        case 0xA0:
            fluid_synth_key_pressure(synth, channel, event.data1, event.data2);
            break;
        case 0xB0:
            fluid_synth_cc(synth, channel, event.data1, event.data2);
            break;
        case 0xC0:
            fluid_synth_program_change(synth, channel, event.data1);
            break;
        case 0xD0:
            fluid_synth_channel_pressure(synth, channel, event.data1);
            break;
        case 0xE0:
            fluid_synth_pitch_bend(synth, channel, event.data1 | (event.data2 << 7));
            break;
        case 0xF0: {
            const uint8_t* data = song->GetSysexBytes().data() + event.sysexOffset;
            // A General MIDI reset would reset every channel, the ones that
            // keep instruments loaded too; each play resets the song's own.
            if (event.sysexSize >= 4 && data[0] == 0x7E && data[2] == 0x09) {
                break;
            }
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(data), static_cast<int>(event.sysexSize),
                              nullptr, nullptr, nullptr, 0);
            break;
        }
        default:
            break;
        }
    }

    // Cuts every voice and throws away what the synthesizer had rendered
    // ahead (it works in blocks of 64 frames), so silence starts at once.
    void Silence()
    {
        fluid_synth_all_sounds_off(synth, -1);
        fluid_synth_write_float(synth, 64, left, 0, 1, right, 0, 1);
        if (effect != nullptr) {
            effect->Reset();
        }
    }

    // The song's channels as a new song finds them.
    void ResetSongChannels()
    {
        Silence();
        for (int channel = 0; channel < kSongChannels; ++channel) {
            fluid_synth_cc(synth, channel, 121, 0);
            fluid_synth_cc(synth, channel, 0, 0);
            fluid_synth_cc(synth, channel, 32, 0);
            fluid_synth_cc(synth, channel, 7, 100);
            fluid_synth_cc(synth, channel, 10, 64);
            fluid_synth_program_change(synth, channel, 0);
        }
    }

    void Pull(float* out, size_t count) override
    {
        std::lock_guard<std::mutex> guard(lock);
        size_t done = 0;
        while (done < count) {
            size_t block = std::min(kBlockFrames, count - done);
            if (running) {
                const std::vector<MidiEvent>& events = song->GetEvents();
                while (next < events.size() && events[next].frame <= position) {
                    Send(events[next++]);
                }
                if (next == events.size() && position >= song->GetLength()) {
                    if (repeat && song->GetLength() > 0) {
                        position = 0;
                        next = 0;
                        continue;
                    }
                    running = false;
                    song = nullptr;
                } else {
                    int64_t until = song->GetLength();
                    if (next < events.size()) {
                        until = events[next].frame;
                    }
                    block = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), until - position));
                }
            }
            fluid_synth_write_float(synth, static_cast<int>(block), left, 0, 1, right, 0, 1);
            for (size_t i = 0; i < block; ++i) {
                frames[2 * i] = left[i];
                frames[2 * i + 1] = right[i];
            }
            if (effect != nullptr) {
                effect->Process(frames, block);
            }
            float* target = out + done * kAudioChannels;
            for (size_t i = 0; i < block; ++i) {
                target[2 * i] = frames[2 * i] * gainLeft;
                target[2 * i + 1] = frames[2 * i + 1] * gainRight;
            }
            if (running) {
                position += static_cast<int64_t>(block);
            }
            done += block;
        }
    }
};

MidiSynth::MidiSynth(std::unique_ptr<Impl> impl) : impl(std::move(impl)) {}

MidiSynth::~MidiSynth() = default;

static std::unique_ptr<MidiSynth> Refuse(MidiResult* result, MidiResult why)
{
    if (result != nullptr) {
        *result = why;
    }
    return nullptr;
}

std::unique_ptr<MidiSynth> MidiSynth::Create(MidiResult* result)
{
    QuietFluidLog();
    const std::string path = GetSoundFontPath();
    if (!IsSoundFontAvailable()) {
        std::fprintf(stderr, "midi: no General MIDI SoundFont at %s\n", path.c_str());
        return Refuse(result, MidiResult::kNoSoundFont);
    }
    std::unique_ptr<Impl> impl(new (std::nothrow) Impl());
    if (impl == nullptr) {
        return Refuse(result, MidiResult::kOutOfMemory);
    }
    impl->settings = new_fluid_settings();
    if (impl->settings == nullptr) {
        return Refuse(result, MidiResult::kOutOfMemory);
    }
    fluid_settings_setnum(impl->settings, "synth.sample-rate", kAudioRate);
    fluid_settings_setint(impl->settings, "synth.midi-channels", kAllChannels);
    // The output effects are ours, chosen per synthesizer.
    fluid_settings_setint(impl->settings, "synth.reverb.active", 0);
    fluid_settings_setint(impl->settings, "synth.chorus.active", 0);
    // Read an instrument's samples when a song selects it, not all 140 MB.
    fluid_settings_setint(impl->settings, "synth.dynamic-sample-loading", 1);
    // Our own lock guards every call; no threads of FluidSynth's own.
    fluid_settings_setint(impl->settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(impl->settings, "synth.cpu-cores", 1);
    impl->synth = new_fluid_synth(impl->settings);
    if (impl->synth == nullptr) {
        std::fprintf(stderr, "midi: the synthesizer did not start\n");
        return Refuse(result, MidiResult::kNoDevice);
    }
    impl->soundFont = fluid_synth_sfload(impl->synth, path.c_str(), 1);
    if (impl->soundFont == FLUID_FAILED) {
        std::fprintf(stderr, "midi: the SoundFont %s did not load\n", path.c_str());
        return Refuse(result, MidiResult::kNoSoundFont);
    }
    if (!AudioDevice::Open()) {
        return Refuse(result, MidiResult::kNoDevice);
    }
    if (!AudioDevice::AddSource(impl.get())) {
        AudioDevice::Close();
        return Refuse(result, MidiResult::kNoDevice);
    }
    impl->attached = true;
    std::unique_ptr<MidiSynth> made(new (std::nothrow) MidiSynth(std::move(impl)));
    if (made == nullptr) {
        return Refuse(result, MidiResult::kOutOfMemory);
    }
    if (result != nullptr) {
        *result = MidiResult::kOk;
    }
    return made;
}

void MidiSynth::Play(const MidiSong* song, int64_t startFrame, bool repeat)
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->ResetSongChannels();
    impl->song = song;
    impl->running = song != nullptr;
    impl->repeat = repeat;
    impl->next = 0;
    impl->position = 0;
    if (song == nullptr) {
        return;
    }
    const int64_t start = std::clamp<int64_t>(startFrame, 0, song->GetLength());
    // What the song set before the start point still holds: programs,
    // controllers and bends are sent, notes are not.
    const std::vector<MidiEvent>& events = song->GetEvents();
    while (impl->next < events.size() && events[impl->next].frame < start) {
        const MidiEvent& event = events[impl->next++];
        const uint8_t kind = event.status & 0xF0;
        if (kind != 0x80 && kind != 0x90 && kind != 0xA0) {
            impl->Send(event);
        }
    }
    impl->position = start;
}

void MidiSynth::Stop()
{
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->Silence();
    impl->song = nullptr;
    impl->running = false;
    impl->next = 0;
    impl->position = 0;
}

int64_t MidiSynth::GetPosition() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->position;
}

bool MidiSynth::IsPlaying() const
{
    std::lock_guard<std::mutex> guard(impl->lock);
    return impl->running;
}

void MidiSynth::Preload(const MidiSong& song)
{
    // The instruments the song can select, channel by channel as it plays.
    std::set<std::pair<int, int>> used;
    int bank[kSongChannels] = {};
    for (int channel = 0; channel < kSongChannels; ++channel) {
        bank[channel] = channel == kDrumChannel ? kDrumBank : 0;
        used.insert({bank[channel], 0});
    }
    try {
        for (const MidiEvent& event : song.GetEvents()) {
            const int channel = event.status & 0x0F;
            if ((event.status & 0xF0) == 0xB0 && event.data1 == 0 && channel != kDrumChannel) {
                bank[channel] = event.data2;
            } else if ((event.status & 0xF0) == 0xC0) {
                used.insert({bank[channel], event.data1});
            }
        }
    } catch (const std::bad_alloc&) {
        // Preloading is an optimisation: what is not loaded now loads on use.
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    int holder = kSongChannels;
    for (const auto& [bankNumber, program] : used) {
        if (holder == kAllChannels) {
            break;
        }
        if (fluid_synth_program_select(impl->synth, holder, impl->soundFont, bankNumber, program) == FLUID_OK) {
            ++holder;
        }
    }
}

bool MidiSynth::SetVolume(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 0) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->volume = hundredthsDb;
    impl->UpdateGains();
    return true;
}

bool MidiSynth::SetBalance(int32_t hundredthsDb)
{
    if (hundredthsDb < -10000 || hundredthsDb > 10000) {
        return false;
    }
    std::lock_guard<std::mutex> guard(impl->lock);
    impl->balance = hundredthsDb;
    impl->UpdateGains();
    return true;
}

void MidiSynth::SetEffect(std::unique_ptr<AudioEffect> effect)
{
    std::unique_ptr<AudioEffect> old;
    {
        std::lock_guard<std::mutex> guard(impl->lock);
        old = std::move(impl->effect);
        impl->effect = std::move(effect);
    }
    // The old one goes outside the lock: the mixer need not wait for it.
}

}  // namespace platform
