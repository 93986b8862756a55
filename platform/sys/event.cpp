// Manual-reset events and waits on several of them.
#include "platform/sys/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// One lock for the state of every event: a wait on many events then checks
// them all at once without a lock order to get wrong. It is held only to flip
// or read flags, and the process has a handful of waiting threads.
static std::mutex g_eventLock;

struct EventWaitLink {
    std::condition_variable* wake = nullptr;
    EventWaitLink* prev = nullptr;
    EventWaitLink* next = nullptr;
};

static void LinkWaiter(EventWaitLink*& head, EventWaitLink* link)
{
    link->prev = nullptr;
    link->next = head;
    if (head != nullptr) {
        head->prev = link;
    }
    head = link;
}

static void UnlinkWaiter(EventWaitLink*& head, EventWaitLink* link)
{
    if (link->prev != nullptr) {
        link->prev->next = link->next;
    } else {
        head = link->next;
    }
    if (link->next != nullptr) {
        link->next->prev = link->prev;
    }
    link->prev = nullptr;
    link->next = nullptr;
}

Event::Event(bool initiallySet) : set(initiallySet) {}

Event::~Event() = default;

void Event::Set()
{
    std::lock_guard<std::mutex> guard(g_eventLock);
    set = true;
    for (EventWaitLink* link = waiters; link != nullptr; link = link->next) {
        link->wake->notify_one();
    }
}

void Event::Reset()
{
    std::lock_guard<std::mutex> guard(g_eventLock);
    set = false;
}

bool Event::IsSet() const
{
    std::lock_guard<std::mutex> guard(g_eventLock);
    return set;
}

bool Event::Wait(int32_t timeoutMs)
{
    Event* self = this;
    return WaitForAnyEvent(&self, 1, timeoutMs) == 0;
}

int32_t WaitForAnyEvent(Event* const* events, int32_t count, int32_t timeoutMs)
{
    if (events == nullptr || count < 1 || count > kMaxWaitEvents) {
        return -1;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            return -1;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::condition_variable wake;
    EventWaitLink links[kMaxWaitEvents];
    std::unique_lock<std::mutex> guard(g_eventLock);
    bool linked = false;
    int32_t found = -1;
    for (;;) {
        for (int32_t i = 0; i < count; ++i) {
            if (events[i]->set) {
                found = i;
                break;
            }
        }
        if (found >= 0) {
            break;
        }
        if (!linked) {
            for (int32_t i = 0; i < count; ++i) {
                links[i].wake = &wake;
                LinkWaiter(events[i]->waiters, &links[i]);
            }
            linked = true;
        }
        if (timeoutMs < 0) {
            wake.wait(guard);
        } else if (wake.wait_until(guard, deadline) == std::cv_status::timeout) {
            // One last look: a set may have come with the time-out.
            for (int32_t i = 0; i < count; ++i) {
                if (events[i]->set) {
                    found = i;
                    break;
                }
            }
            break;
        }
    }
    if (linked) {
        for (int32_t i = 0; i < count; ++i) {
            UnlinkWaiter(events[i]->waiters, &links[i]);
        }
    }
    return found;
}

}  // namespace platform
