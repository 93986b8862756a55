#pragma once
// Manual-reset events.
#include <cstdint>

namespace platform {

struct EventWaitLink;

// A manual-reset event: once set it stays set, releasing every waiter, until
// it is reset. Any thread may set, reset or wait on it.
class Event {
public:
    explicit Event(bool initiallySet = false);
    ~Event();

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the event is set; false when timeoutMs (>= 0) ran out first.
    bool Wait(int32_t timeoutMs = kInfinite);

    static constexpr int32_t kInfinite = -1;

    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

private:
    friend int32_t WaitForAnyEvent(Event* const* events, int32_t count, int32_t timeoutMs);
    bool set = false;
    // Threads blocked in a wait that includes this event.
    EventWaitLink* waiters = nullptr;
};

// The most events one wait can watch.
constexpr int32_t kMaxWaitEvents = 64;

// Waits until at least one of the events is set and returns the lowest index
// of a set event; -1 when timeoutMs (>= 0) ran out, when count is outside
// 1 to kMaxWaitEvents, or when an entry is null. Nothing is reset.
int32_t WaitForAnyEvent(Event* const* events, int32_t count, int32_t timeoutMs = Event::kInfinite);

}  // namespace platform
