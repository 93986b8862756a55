#include <gtest/gtest.h>

#include "platform/sys/critical_section.h"
#include "platform/sys/thread.h"

using platform::CriticalSection;
using platform::ScopedLock;
using platform::Thread;

struct Counter {
    CriticalSection lock;
    // Two fields changed apart: a torn update shows as a difference.
    int64_t a = 0;
    int64_t b = 0;
};

static void Count(void* argument)
{
    auto* counter = static_cast<Counter*>(argument);
    for (int i = 0; i < 20000; ++i) {
        ScopedLock guard(counter->lock);
        ++counter->a;
        ScopedLock again(counter->lock);  // the holder may take it again
        ++counter->b;
    }
}

TEST(CriticalSection, KeepsThreadsApartAndLetsTheHolderReenter)
{
    Counter counter;
    Thread threads[3];
    for (auto& thread : threads) {
        ASSERT_TRUE(thread.Start("counter", Count, &counter));
    }
    Count(&counter);
    for (auto& thread : threads) {
        thread.Join();
    }
    EXPECT_EQ(counter.a, 80000);
    EXPECT_EQ(counter.b, 80000);
}

TEST(Thread, RunsOnceKnowsItselfAndJoinsOnDestruction)
{
    struct Seen {
        Thread* thread = nullptr;
        bool current = false;
        int runs = 0;
    } seen;
    {
        Thread thread;
        seen.thread = &thread;
        EXPECT_FALSE(thread.IsStarted());
        ASSERT_TRUE(thread.Start("self", [](void* argument) {
            auto* s = static_cast<Seen*>(argument);
            s->current = s->thread->IsCurrent();
            ++s->runs;
        }, &seen));
        // A running Thread does not start a second one.
        EXPECT_FALSE(thread.Start("again", [](void*) {}, nullptr));
        EXPECT_FALSE(thread.IsCurrent());
    }
    EXPECT_TRUE(seen.current);
    EXPECT_EQ(seen.runs, 1);
    Thread empty;
    EXPECT_FALSE(empty.Start("none", nullptr, nullptr));
    empty.Join();
}
