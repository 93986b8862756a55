#pragma once
// A CD drive held in memory, and a recorder of notifications and commands,
// for the command-interpreter tests and the engine module's tests.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mci/mci.h"

namespace test_mci {

// Three tracks of 30, 45 and 60 sectors from sector 0. Every sample of a
// sector carries the sector's number (left) and its negation (right), so the
// output tells which sector is playing.
struct FakeDisc {
    std::vector<int32_t> trackStarts = {0, 30, 75};
    int32_t leadOut = 135;
    bool present = true;
};

inline FakeDisc& Disc()
{
    static FakeDisc disc;
    return disc;
}

// The sector after the furthest one read so far.
inline std::atomic<int32_t>& ReadEnd()
{
    static std::atomic<int32_t> end{0};
    return end;
}

// The drive is read ahead on a thread of its own: waits (up to two
// seconds) until it has read to `sector`, and a moment more for the
// sectors to reach the player.
inline bool WaitForReadAhead(int32_t sector)
{
    for (int i = 0; i < 400 && ReadEnd().load() < sector; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadEnd().load() >= sector;
}

class FakeCdDrive : public platform::CdDrive {
public:
    bool ReadToc(platform::CdToc* out) override
    {
        if (!Disc().present) {
            return false;
        }
        out->trackStarts = Disc().trackStarts;
        out->leadOut = Disc().leadOut;
        return true;
    }
    bool ReadAudio(int32_t sector, int32_t count, uint8_t* out) override
    {
        if (sector < 0 || sector + count > Disc().leadOut) {
            return false;
        }
        int32_t end = ReadEnd().load();
        while (end < sector + count && !ReadEnd().compare_exchange_weak(end, sector + count)) {
        }
        for (int32_t s = 0; s < count; ++s) {
            const int16_t left = static_cast<int16_t>(sector + s);
            const int16_t right = static_cast<int16_t>(-left);
            for (int32_t f = 0; f < kFramesPerSector; ++f) {
                uint8_t* frame = out + (static_cast<size_t>(s) * kFramesPerSector + f) * 4;
                frame[0] = static_cast<uint8_t>(left);
                frame[1] = static_cast<uint8_t>(static_cast<uint16_t>(left) >> 8);
                frame[2] = static_cast<uint8_t>(right);
                frame[3] = static_cast<uint8_t>(static_cast<uint16_t>(right) >> 8);
            }
        }
        return true;
    }
    bool OpenDoor() override
    {
        Disc().present = false;
        return true;
    }
    bool CloseDoor() override { return true; }
};

inline std::unique_ptr<platform::CdDrive> OpenFakeDrive()
{
    return std::make_unique<FakeCdDrive>();
}

// The sector a rendered frame came from.
inline int32_t SectorOf(const std::vector<float>& out, size_t frame)
{
    return static_cast<int32_t>(out[frame * 2] * 32768.0f + (out[frame * 2] >= 0 ? 0.5f : -0.5f));
}

struct Notice {
    uint32_t status = 0;
    uint32_t id = 0;
};

// Notifications as they arrive, from whichever thread.
class Notices {
public:
    static Notices& Get()
    {
        static Notices notices;
        return notices;
    }
    void Add(uint32_t status, uint32_t id)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            list.push_back(Notice{status, id});
        }
        changed.notify_all();
    }
    std::vector<Notice> Take()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Notice> out;
        out.swap(list);
        return out;
    }
    // Waits up to the timeout for a notification with the status.
    bool WaitFor(uint32_t status, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
    {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, timeout, [&] {
            for (const Notice& notice : list) {
                if (notice.status == status) {
                    return true;
                }
            }
            return false;
        });
    }
    size_t Count(uint32_t status)
    {
        std::lock_guard<std::mutex> guard(lock);
        size_t n = 0;
        for (const Notice& notice : list) {
            n += notice.status == status ? 1 : 0;
        }
        return n;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Notice> list;
};

inline void RecordNotice(void*, uint32_t status, uint32_t id)
{
    Notices::Get().Add(status, id);
}

// Commands as the interpreter served them.
class Commands {
public:
    static Commands& Get()
    {
        static Commands commands;
        return commands;
    }
    static void Observe(const char* command, uint32_t result)
    {
        std::lock_guard<std::mutex> guard(Get().lock);
        Get().list.push_back(command);
        Get().results.push_back(result);
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> out;
        out.swap(list);
        results.clear();
        return out;
    }

private:
    std::mutex lock;
    std::vector<std::string> list;
    std::vector<uint32_t> results;
};

}  // namespace test_mci
