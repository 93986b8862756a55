// The "cdaudio" device: a disc's audio sectors read ahead on a reader
// thread and played into the mixer. CD audio is 44.1 kHz 16-bit stereo, the
// mixer's own rate, so samples pass through without resampling.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/mci/mci_device.h"

namespace platform {

namespace {

// Disc addresses count the two-second gap before the first sector.
constexpr int32_t kLeadInSectors = 150;
// A disc names its sectors by minute, second and frame, with minutes up to
// 99: nothing lies at or past 100 minutes. A table reaching further comes
// from a broken drive or image, and its times would not fit the replies'
// 32-bit milliseconds that callers read back.
constexpr int32_t kSectorsAddressable = 100 * 60 * CdDrive::kSectorsPerSecond - kLeadInSectors;

int64_t SectorToMs(int64_t sector)
{
    return (sector + kLeadInSectors) * 1000 / CdDrive::kSectorsPerSecond;
}

// Rounds up: a position from SectorToMs (rounded down) gives back its sector.
int64_t MsToSector(int64_t ms)
{
    return (ms * CdDrive::kSectorsPerSecond + 999) / 1000 - kLeadInSectors;
}

// Plays sectors [first, end) of the drive. The reader thread keeps up to
// two seconds decoded ahead; the mixer thread takes from that and plays
// silence (without moving on) when the drive falls behind.
class CdPlayer : public AudioSource {
public:
    CdPlayer(CdDrive* drive, std::mutex* driveLock, int32_t first, int32_t end)
        : drive(drive), driveLock(driveLock), first(first), end(end), nextRead(first),
          ring(static_cast<size_t>(kRingFrames) * kAudioChannels, 0.0f)
    {
    }

    ~CdPlayer() override { Halt(); }

    AudioLine GetLine() const override { return AudioLine::kCompactDisc; }

    bool Start()
    {
        if (!AudioDevice::Open()) {
            return false;
        }
        deviceOpen = true;
        try {
            reader = std::thread([this] { ReadLoop(); });
        } catch (...) {
            return false;
        }
        if (!AudioDevice::AddSource(this)) {
            return false;
        }
        attached = true;
        return true;
    }

    void SetPaused(bool value)
    {
        std::lock_guard<std::mutex> guard(lock);
        paused = value;
    }

    // The sector now playing.
    int32_t GetSector()
    {
        std::lock_guard<std::mutex> guard(lock);
        return first + static_cast<int32_t>(played / CdDrive::kFramesPerSector);
    }

    bool HasEnded() const { return ended.load(); }

    void Pull(float* out, size_t frames) override
    {
        size_t written = 0;
        bool finished = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!paused && !ended.load()) {
                written = std::min(frames, count);
                for (size_t i = 0; i < written; ++i) {
                    out[i * 2] = ring[head * 2];
                    out[i * 2 + 1] = ring[head * 2 + 1];
                    head = (head + 1) % kRingFrames;
                }
                count -= written;
                played += written;
                if (readDone && count == 0) {
                    ended.store(true);
                    finished = true;
                }
            }
        }
        std::fill(out + written * 2, out + frames * 2, 0.0f);
        if (written > 0) {
            spaceFreed.notify_one();
        }
        if (finished) {
            MciWakeWatcher();
        }
    }

private:
    static constexpr size_t kRingFrames = 2 * kAudioRate;
    static constexpr int32_t kChunkSectors = 16;

    void Halt()
    {
        if (attached) {
            AudioDevice::RemoveSource(this);
            attached = false;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        spaceFreed.notify_one();
        if (reader.joinable()) {
            reader.join();
        }
        if (deviceOpen) {
            AudioDevice::Close();
            deviceOpen = false;
        }
    }

    void ReadLoop()
    {
        std::vector<uint8_t> raw(static_cast<size_t>(kChunkSectors) * CdDrive::kBytesPerSector);
        for (;;) {
            const int32_t sectors = std::min(kChunkSectors, end - nextRead);
            const size_t frames = static_cast<size_t>(sectors) * CdDrive::kFramesPerSector;
            {
                std::unique_lock<std::mutex> guard(lock);
                spaceFreed.wait(guard, [&] { return stopping || kRingFrames - count >= frames; });
                if (stopping) {
                    return;
                }
            }
            bool ok = false;
            {
                std::lock_guard<std::mutex> guard(*driveLock);
                ok = drive->ReadAudio(nextRead, sectors, raw.data());
            }
            if (!ok) {
                // A scratch plays as silence rather than ending the track.
                std::fprintf(stderr, "mci: CD sectors %d to %d could not be read\n", nextRead, nextRead + sectors - 1);
                std::fill(raw.begin(), raw.begin() + frames * 4, 0);
            }
            std::lock_guard<std::mutex> guard(lock);
            size_t tail = (head + count) % kRingFrames;
            for (size_t i = 0; i < frames * 2; ++i) {
                const int16_t sample = static_cast<int16_t>(raw[i * 2] | (raw[i * 2 + 1] << 8));
                ring[tail * 2 + (i & 1)] = static_cast<float>(sample) / 32768.0f;
                if (i & 1) {
                    tail = (tail + 1) % kRingFrames;
                }
            }
            count += frames;
            nextRead += sectors;
            if (nextRead >= end) {
                readDone = true;
                return;
            }
        }
    }

    CdDrive* drive;
    std::mutex* driveLock;
    const int32_t first;
    const int32_t end;
    int32_t nextRead;  // reader thread only

    std::mutex lock;  // guards everything below except ended
    std::condition_variable spaceFreed;
    std::vector<float> ring;  // interleaved stereo
    size_t head = 0;          // frames
    size_t count = 0;         // frames
    size_t played = 0;        // frames since first
    bool paused = false;
    bool readDone = false;
    bool stopping = false;
    std::atomic<bool> ended{false};

    std::thread reader;
    bool deviceOpen = false;
    bool attached = false;
};

class CdDevice : public MciDevice {
public:
    explicit CdDevice(std::unique_ptr<CdDrive> drive) : drive(std::move(drive)) { RefreshToc(); }
    ~CdDevice() override { player.reset(); }

    uint32_t Play(int64_t fromMs, int64_t toMs) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        const int32_t from = fromMs >= 0 ? ClampSector(MsToSector(fromMs)) : CurrentSector();
        const int32_t to = toMs >= 0 ? ClampSector(MsToSector(toMs)) : toc.leadOut;
        if (from < toc.trackStarts[0] || to > toc.leadOut || from >= to) {
            return kMciErrorOutOfRange;
        }
        player.reset();
        std::unique_ptr<CdPlayer> next(new (std::nothrow) CdPlayer(drive.get(), &driveLock, from, to));
        if (next == nullptr) {
            return kMciErrorOutOfMemory;
        }
        if (!next->Start()) {
            return kMciErrorHardware;
        }
        player = std::move(next);
        position = from;
        endSector = to;
        mode = MciMode::kPlaying;
        return kMciOk;
    }

    uint32_t Stop() override
    {
        Halt(MciMode::kStopped);
        return kMciOk;
    }

    uint32_t Pause() override
    {
        if (mode == MciMode::kPlaying && player != nullptr) {
            player->SetPaused(true);
            mode = MciMode::kPaused;
        }
        return kMciOk;
    }

    uint32_t Resume() override
    {
        if (mode == MciMode::kPaused && player != nullptr) {
            player->SetPaused(false);
            mode = MciMode::kPlaying;
        }
        return kMciOk;
    }

    uint32_t Seek(MciSeekTarget target, int64_t positionMs) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        int32_t sector = toc.trackStarts[0];
        if (target == MciSeekTarget::kEnd) {
            sector = toc.leadOut;
        } else if (target == MciSeekTarget::kPosition) {
            const int64_t wanted = MsToSector(positionMs);
            if (wanted < toc.trackStarts[0] || wanted > toc.leadOut) {
                return kMciErrorOutOfRange;
            }
            sector = static_cast<int32_t>(wanted);
        }
        Halt(MciMode::kStopped);
        position = sector;
        return kMciOk;
    }

    MciMode GetMode() override
    {
        if (doorOpen) {
            return MciMode::kOpen;
        }
        if (!hasMedia) {
            return MciMode::kNotReady;
        }
        return mode;
    }

    uint32_t GetLength(int32_t track, int64_t* ms) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        const int32_t tracks = static_cast<int32_t>(toc.trackStarts.size());
        if (track > tracks) {
            return kMciErrorOutOfRange;
        }
        if (track == 0) {
            *ms = SectorToMs(toc.leadOut) - SectorToMs(toc.trackStarts[0]);
            return kMciOk;
        }
        const int32_t next = track < tracks ? toc.trackStarts[track] : toc.leadOut;
        *ms = SectorToMs(next) - SectorToMs(toc.trackStarts[track - 1]);
        return kMciOk;
    }

    uint32_t GetPosition(int32_t track, int64_t* ms) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        if (track > static_cast<int32_t>(toc.trackStarts.size())) {
            return kMciErrorOutOfRange;
        }
        *ms = SectorToMs(track == 0 ? CurrentSector() : toc.trackStarts[track - 1]);
        return kMciOk;
    }

    bool TakeEnded() override
    {
        if (mode == MciMode::kPlaying && player != nullptr && player->HasEnded()) {
            player.reset();
            position = endSector;
            mode = MciMode::kStopped;
            return true;
        }
        return false;
    }

    uint32_t GetMediaPresent(bool* present) override
    {
        // A disc may have come or gone since the last look.
        if (mode != MciMode::kPlaying && mode != MciMode::kPaused) {
            RefreshToc();
        }
        *present = hasMedia;
        return kMciOk;
    }

    uint32_t GetTrackCount(int32_t* count) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        *count = static_cast<int32_t>(toc.trackStarts.size());
        return kMciOk;
    }

    uint32_t GetCurrentTrack(int32_t* track) override
    {
        if (!hasMedia) {
            return kMciErrorDeviceNotReady;
        }
        const int32_t sector = CurrentSector();
        int32_t current = 1;
        for (size_t k = 0; k < toc.trackStarts.size(); ++k) {
            if (toc.trackStarts[k] <= sector) {
                current = static_cast<int32_t>(k) + 1;
            }
        }
        *track = current;
        return kMciOk;
    }

    uint32_t SetDoor(bool open) override
    {
        Halt(MciMode::kStopped);
        bool ok = false;
        {
            std::lock_guard<std::mutex> guard(driveLock);
            ok = open ? drive->OpenDoor() : drive->CloseDoor();
        }
        if (!ok) {
            return kMciErrorHardware;
        }
        doorOpen = open;
        if (open) {
            hasMedia = false;
            toc = CdToc();
        } else {
            RefreshToc();
        }
        return kMciOk;
    }

    bool SupportsTimeFormat(MciTimeFormat format) override { return format != MciTimeFormat::kNone; }
    MciTimeFormat GetDefaultTimeFormat() override { return MciTimeFormat::kMsf; }

private:
    // A table is taken only when it makes sense: tracks in order, within
    // the 99 a disc can hold, ending before the lead-out, which lies within
    // what a disc can address.
    void RefreshToc()
    {
        CdToc next;
        bool read = false;
        {
            std::lock_guard<std::mutex> guard(driveLock);
            read = drive->ReadToc(&next);
        }
        bool ok = read && !next.trackStarts.empty() && next.trackStarts.size() <= 99 && next.trackStarts[0] >= 0;
        for (size_t k = 1; k < next.trackStarts.size() && ok; ++k) {
            ok = next.trackStarts[k] > next.trackStarts[k - 1];
        }
        ok = ok && next.leadOut > next.trackStarts.back() && next.leadOut <= kSectorsAddressable;
        if (read && !ok) {
            std::fprintf(stderr, "mci: the CD's table of contents makes no sense (%zu tracks, lead-out %d); no disc\n",
                         next.trackStarts.size(), next.leadOut);
        }
        if (!ok) {
            hasMedia = false;
            toc = CdToc();
            position = 0;
            return;
        }
        if (!hasMedia || next.trackStarts != toc.trackStarts || next.leadOut != toc.leadOut) {
            position = next.trackStarts[0];
        }
        toc = std::move(next);
        hasMedia = true;
        doorOpen = false;
    }

    int32_t ClampSector(int64_t sector) const
    {
        return static_cast<int32_t>(std::clamp<int64_t>(sector, -1, toc.leadOut + 1));
    }

    int32_t CurrentSector()
    {
        if (player != nullptr && (mode == MciMode::kPlaying || mode == MciMode::kPaused)) {
            return std::min(player->GetSector(), endSector);
        }
        return position;
    }

    void Halt(MciMode next)
    {
        if (player != nullptr) {
            position = CurrentSector();
            player.reset();
        }
        mode = next;
    }

    std::unique_ptr<CdDrive> drive;
    // The reader thread reads sectors while commands may read the table.
    std::mutex driveLock;
    CdToc toc;
    bool hasMedia = false;
    bool doorOpen = false;
    std::unique_ptr<CdPlayer> player;
    MciMode mode = MciMode::kStopped;
    int32_t position = 0;   // sector, while no player runs
    int32_t endSector = 0;  // where the current play stops
};

}  // namespace

std::unique_ptr<MciDevice> OpenCdDevice(std::unique_ptr<CdDrive> drive, uint32_t* error)
{
    if (drive == nullptr) {
        *error = kMciErrorCannotLoadDriver;
        return nullptr;
    }
    std::unique_ptr<MciDevice> device(new (std::nothrow) CdDevice(std::move(drive)));
    *error = device != nullptr ? kMciOk : kMciErrorOutOfMemory;
    return device;
}

}  // namespace platform
