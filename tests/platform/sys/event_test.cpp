#include <gtest/gtest.h>

#include <atomic>

#include "platform/sys/event.h"
#include "platform/sys/thread.h"

using platform::Event;
using platform::WaitForAnyEvent;

TEST(Event, StaysSetUntilReset)
{
    Event event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    // Manual reset: any number of waits pass until Reset.
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
    Event initiallySet(true);
    EXPECT_TRUE(initiallySet.Wait(0));
}

TEST(Event, WaitForAnyReturnsTheLowestSetIndex)
{
    Event events[5];
    Event* list[5];
    for (int i = 0; i < 5; ++i) {
        list[i] = &events[i];
    }
    EXPECT_EQ(WaitForAnyEvent(list, 5, 0), -1);
    events[3].Set();
    events[1].Set();
    EXPECT_EQ(WaitForAnyEvent(list, 5, 0), 1);
    events[1].Reset();
    EXPECT_EQ(WaitForAnyEvent(list, 5, 0), 3);
    // Nothing is reset by the wait itself.
    EXPECT_TRUE(events[3].IsSet());
}

TEST(Event, WaitForAnyRefusesBadLists)
{
    Event event(true);
    Event* list[65];
    for (auto& entry : list) {
        entry = &event;
    }
    EXPECT_EQ(WaitForAnyEvent(list, 0, 0), -1);
    EXPECT_EQ(WaitForAnyEvent(list, 65, 0), -1);
    EXPECT_EQ(WaitForAnyEvent(list, 64, 0), 0);
    list[0] = nullptr;
    EXPECT_EQ(WaitForAnyEvent(list, 2, 0), -1);
    EXPECT_EQ(WaitForAnyEvent(nullptr, 1, 0), -1);
}

struct Waker {
    Event* target = nullptr;
    Event* ready = nullptr;
};

TEST(Event, SetOnAnotherThreadWakesAWaitOnManyEvents)
{
    Event events[64];
    Event* list[64];
    for (int i = 0; i < 64; ++i) {
        list[i] = &events[i];
    }
    for (int round = 0; round < 50; ++round) {
        const int index = (round * 37) % 64;
        Waker waker{&events[index], nullptr};
        platform::Thread thread;
        ASSERT_TRUE(thread.Start("waker", [](void* argument) { static_cast<Waker*>(argument)->target->Set(); }, &waker));
        EXPECT_EQ(WaitForAnyEvent(list, 64), index);
        thread.Join();
        events[index].Reset();
    }
}

TEST(Event, ManyWaitersOnOneEventAllWake)
{
    Event gate;
    std::atomic<int> woken{0};
    struct Context {
        Event* gate;
        std::atomic<int>* woken;
    } context{&gate, &woken};
    platform::Thread threads[4];
    for (auto& thread : threads) {
        ASSERT_TRUE(thread.Start("waiter",
                                 [](void* argument) {
                                     auto* c = static_cast<Context*>(argument);
                                     c->gate->Wait();
                                     c->woken->fetch_add(1);
                                 },
                                 &context));
    }
    EXPECT_EQ(woken.load(), 0);
    gate.Set();
    for (auto& thread : threads) {
        thread.Join();
    }
    EXPECT_EQ(woken.load(), 4);
}
