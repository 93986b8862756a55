#pragma once
// What the command interpreter asks of a device type. Private to platform/mci.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mci/mci.h"

namespace platform {

enum class MciMode { kNotReady, kStopped, kPlaying, kPaused, kOpen };

// One open device. Every call comes from the interpreter with its lock held.
// Positions and lengths are milliseconds: from the start of the file, or on
// a CD from the start of the disc's address space (track 1 usually begins
// at 2 s, after the lead-in gap).
class MciDevice {
public:
    virtual ~MciDevice() = default;

    // from: -1 plays from the current position; to: -1 plays to the end.
    virtual uint32_t Play(int64_t fromMs, int64_t toMs) = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t Pause() = 0;
    virtual uint32_t Resume() = 0;
    // Stops and moves to the target; positionMs for kPosition.
    virtual uint32_t Seek(MciSeekTarget target, int64_t positionMs) = 0;
    virtual MciMode GetMode() = 0;
    // Track 0: the whole medium.
    virtual uint32_t GetLength(int32_t track, int64_t* ms) = 0;
    // Track 0: the current position; else where the track starts.
    virtual uint32_t GetPosition(int32_t track, int64_t* ms) = 0;
    // True once after a play has run to its end; the device is then stopped.
    virtual bool TakeEnded() = 0;

    // Media with tracks: files are one track, always present.
    virtual uint32_t GetMediaPresent(bool* present)
    {
        *present = true;
        return kMciOk;
    }
    virtual uint32_t GetTrackCount(int32_t* count)
    {
        *count = 1;
        return kMciOk;
    }
    virtual uint32_t GetCurrentTrack(int32_t* track)
    {
        *track = 1;
        return kMciOk;
    }
    virtual uint32_t SetDoor(bool /*open*/) { return kMciErrorUnsupportedFunction; }
    virtual bool SupportsTimeFormat(MciTimeFormat format) { return format == MciTimeFormat::kMilliseconds; }
    virtual MciTimeFormat GetDefaultTimeFormat() { return MciTimeFormat::kMilliseconds; }
};

// Each sets *error and returns null when the device cannot open.
std::unique_ptr<MciDevice> OpenWaveDevice(const std::string& hostPath, uint32_t* error);
std::unique_ptr<MciDevice> OpenSequencerDevice(const std::string& hostPath, uint32_t* error);
std::unique_ptr<MciDevice> OpenCdDevice(std::unique_ptr<CdDrive> drive, uint32_t* error);

// Asks the watcher to look at the devices now rather than at its next tick.
// Safe from any thread, the mixer's included; takes no lock a device holds.
void MciWakeWatcher();

}  // namespace platform
