// The "waveaudio" device: an audio file played by MediaStream into the mixer.
#include <sys/stat.h>

#include <new>

#include "platform/media/media.h"
#include "platform/mci/mci_device.h"

namespace platform {

namespace {

// MediaStream can go back to the start but has no position of its own, so
// this device knows where it is only at the start and at the end; a play or
// seek to anywhere else is refused rather than approximated.
class WaveDevice : public MciDevice {
public:
    explicit WaveDevice(std::unique_ptr<MediaStream> stream) : stream(std::move(stream))
    {
        this->stream->SetNotify(&WakeOnEvent, nullptr);
    }
    ~WaveDevice() override { stream->SetNotify(nullptr, nullptr); }

    uint32_t Play(int64_t fromMs, int64_t toMs) override
    {
        if (toMs >= 0 && toMs != LengthMs()) {
            return kMciErrorUnsupportedFunction;
        }
        if (fromMs > 0) {
            return kMciErrorUnsupportedFunction;
        }
        if (fromMs == 0 && !Rewind()) {
            return kMciErrorHardware;
        }
        mode = MciMode::kPlaying;
        if (atEnd) {
            // Nothing left to play: the play is over as soon as it starts.
            mode = MciMode::kStopped;
            ended = true;
            MciWakeWatcher();
            return kMciOk;
        }
        atStart = false;
        stream->Run();
        return kMciOk;
    }

    uint32_t Stop() override
    {
        stream->Stop();
        mode = MciMode::kStopped;
        return kMciOk;
    }

    uint32_t Pause() override
    {
        if (mode == MciMode::kPlaying) {
            stream->Pause();
            mode = MciMode::kPaused;
        }
        return kMciOk;
    }

    uint32_t Resume() override
    {
        if (mode == MciMode::kPaused) {
            stream->Run();
            mode = MciMode::kPlaying;
        }
        return kMciOk;
    }

    uint32_t Seek(MciSeekTarget target, int64_t positionMs) override
    {
        if (target == MciSeekTarget::kPosition && positionMs != 0) {
            return positionMs == LengthMs() ? Seek(MciSeekTarget::kEnd, 0) : kMciErrorUnsupportedFunction;
        }
        stream->Stop();
        mode = MciMode::kStopped;
        if (target == MciSeekTarget::kEnd) {
            atEnd = true;
            atStart = false;
            return kMciOk;
        }
        return Rewind() ? kMciOk : kMciErrorHardware;
    }

    MciMode GetMode() override { return mode; }

    uint32_t GetLength(int32_t track, int64_t* ms) override
    {
        if (track > 1) {
            return kMciErrorOutOfRange;
        }
        *ms = LengthMs();
        return kMciOk;
    }

    uint32_t GetPosition(int32_t track, int64_t* ms) override
    {
        if (track > 1) {
            return kMciErrorOutOfRange;
        }
        if (track == 1 || atStart) {
            *ms = 0;
            return kMciOk;
        }
        if (atEnd) {
            *ms = LengthMs();
            return kMciOk;
        }
        return kMciErrorUnsupportedFunction;
    }

    bool TakeEnded() override
    {
        int32_t code = 0;
        while (stream->GetEvent(&code)) {
            if (code == kMediaEventComplete && mode == MciMode::kPlaying) {
                stream->Stop();
                mode = MciMode::kStopped;
                atEnd = true;
                ended = true;
            }
        }
        const bool result = ended;
        ended = false;
        return result;
    }

private:
    // Called on the mixer's thread: only wakes the watcher, which takes the
    // event under the interpreter's lock.
    static void WakeOnEvent(void*) { MciWakeWatcher(); }

    bool Rewind()
    {
        if (!stream->Rewind()) {
            return false;
        }
        atStart = true;
        atEnd = false;
        return true;
    }

    int64_t LengthMs() const { return stream->GetDuration() / 10000; }

    std::unique_ptr<MediaStream> stream;
    MciMode mode = MciMode::kStopped;
    bool atStart = true;
    bool atEnd = false;
    bool ended = false;
};

bool FileExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::unique_ptr<MciDevice> OpenWaveDevice(const std::string& hostPath, uint32_t* error)
{
    if (!FileExists(hostPath)) {
        *error = kMciErrorFileNotFound;
        return nullptr;
    }
    MediaOpenResult result = MediaOpenResult::kOk;
    std::unique_ptr<MediaStream> stream = MediaStream::Open(hostPath.c_str(), &result);
    if (stream == nullptr) {
        switch (result) {
        case MediaOpenResult::kNoAudioDevice:
            *error = kMciErrorCannotLoadDriver;
            break;
        case MediaOpenResult::kOutOfMemory:
            *error = kMciErrorOutOfMemory;
            break;
        default:
            *error = kMciErrorInvalidFile;
            break;
        }
        return nullptr;
    }
    std::unique_ptr<MciDevice> device(new (std::nothrow) WaveDevice(std::move(stream)));
    *error = device != nullptr ? kMciOk : kMciErrorOutOfMemory;
    return device;
}

}  // namespace platform
