// The "sequencer" device: a Standard MIDI File played by MidiSynth.
#include <algorithm>
#include <new>

#include "platform/audio/audio.h"
#include "platform/mci/mci_device.h"
#include "platform/midi/midi.h"

namespace platform {

namespace {

int64_t MsToFrames(int64_t ms)
{
    return ms * kAudioRate / 1000;
}

int64_t FramesToMs(int64_t frames)
{
    return frames * 1000 / kAudioRate;
}

// The synthesizer forgets the song when stopped, so a pause keeps the
// position here and a resume plays on from it. The synthesizer cannot stop
// by itself at a given frame: a play with an end short of the song's is
// stopped by the watcher's poll, a few milliseconds late at worst.
class SequencerDevice : public MciDevice {
public:
    SequencerDevice(std::unique_ptr<MidiSong> song, std::unique_ptr<MidiSynth> synth)
        : song(std::move(song)), synth(std::move(synth))
    {
    }
    ~SequencerDevice() override { synth->Stop(); }

    uint32_t Play(int64_t fromMs, int64_t toMs) override
    {
        const int64_t length = song->GetLength();
        int64_t from = position;
        if (fromMs >= 0) {
            from = MsToFrames(fromMs);
        }
        int64_t to = length;
        if (toMs >= 0) {
            to = MsToFrames(toMs);
        }
        if (from > length || to > length || to < from) {
            return kMciErrorOutOfRange;
        }
        synth->Stop();
        position = from;
        end = to;
        mode = MciMode::kPlaying;
        if (from >= to) {
            // An empty range is played at once.
            mode = MciMode::kStopped;
            ended = true;
            MciWakeWatcher();
            return kMciOk;
        }
        synth->Play(song.get(), from, false);
        return kMciOk;
    }

    uint32_t Stop() override
    {
        Halt(MciMode::kStopped);
        return kMciOk;
    }

    uint32_t Pause() override
    {
        if (mode == MciMode::kPlaying) {
            Halt(MciMode::kPaused);
        }
        return kMciOk;
    }

    uint32_t Resume() override
    {
        if (mode == MciMode::kPaused) {
            synth->Play(song.get(), position, false);
            mode = MciMode::kPlaying;
        }
        return kMciOk;
    }

    uint32_t Seek(MciSeekTarget target, int64_t positionMs) override
    {
        int64_t frame = 0;
        if (target == MciSeekTarget::kEnd) {
            frame = song->GetLength();
        } else if (target == MciSeekTarget::kPosition) {
            frame = MsToFrames(positionMs);
            if (frame > song->GetLength()) {
                return kMciErrorOutOfRange;
            }
        }
        Halt(MciMode::kStopped);
        position = frame;
        return kMciOk;
    }

    MciMode GetMode() override { return mode; }

    uint32_t GetLength(int32_t track, int64_t* ms) override
    {
        if (track > 1) {
            return kMciErrorOutOfRange;
        }
        *ms = FramesToMs(song->GetLength());
        return kMciOk;
    }

    uint32_t GetPosition(int32_t track, int64_t* ms) override
    {
        if (track > 1) {
            return kMciErrorOutOfRange;
        }
        if (track == 1) {
            *ms = 0;
            return kMciOk;
        }
        *ms = FramesToMs(mode == MciMode::kPlaying ? std::min(synth->GetPosition(), end) : position);
        return kMciOk;
    }

    bool TakeEnded() override
    {
        if (mode == MciMode::kPlaying) {
            const int64_t at = synth->GetPosition();
            if (!synth->IsPlaying() || at >= end) {
                synth->Stop();
                position = std::min(at, end);
                mode = MciMode::kStopped;
                ended = true;
            }
        }
        const bool result = ended;
        ended = false;
        return result;
    }

private:
    void Halt(MciMode next)
    {
        if (mode == MciMode::kPlaying) {
            position = std::min(synth->GetPosition(), end);
            synth->Stop();
        }
        mode = next;
    }

    std::unique_ptr<MidiSong> song;
    std::unique_ptr<MidiSynth> synth;
    MciMode mode = MciMode::kStopped;
    int64_t position = 0;  // frames at kAudioRate, while not playing
    int64_t end = 0;       // frames: where the current play stops
    bool ended = false;
};

}  // namespace

std::unique_ptr<MciDevice> OpenSequencerDevice(const std::string& hostPath, uint32_t* error)
{
    MidiResult result = MidiResult::kOk;
    std::unique_ptr<MidiSong> song = MidiSong::Load(hostPath.c_str(), &result);
    if (song == nullptr) {
        *error = result == MidiResult::kUnreadable  ? kMciErrorFileNotFound
                 : result == MidiResult::kOutOfMemory ? kMciErrorOutOfMemory
                                                      : kMciErrorInvalidFile;
        return nullptr;
    }
    std::unique_ptr<MidiSynth> synth = MidiSynth::Create(&result);
    if (synth == nullptr) {
        *error = result == MidiResult::kOutOfMemory ? kMciErrorOutOfMemory : kMciErrorCannotLoadDriver;
        return nullptr;
    }
    // Instruments are read now, not by the mixer in the middle of the play.
    synth->Preload(*song);
    std::unique_ptr<MciDevice> device(new (std::nothrow) SequencerDevice(std::move(song), std::move(synth)));
    *error = device != nullptr ? kMciOk : kMciErrorOutOfMemory;
    return device;
}

}  // namespace platform
