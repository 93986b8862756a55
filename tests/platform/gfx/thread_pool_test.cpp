#include "platform/gfx/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using platform::ThreadPool;

TEST(ThreadPool, RunsEveryTaskOnceForAnyThreadCount)
{
    ThreadPool pool;
    for (int threads : {1, 2, 5, 8}) {
        pool.SetThreadCount(threads);
        EXPECT_EQ(pool.GetThreadCount(), threads);
        for (int round = 0; round < 50; ++round) {
            std::vector<std::atomic<int>> hits(97);
            pool.Run(97, [&](int task) { hits[task].fetch_add(1); });
            for (const auto& h : hits) {
                ASSERT_EQ(h.load(), 1);
            }
        }
    }
}

TEST(ThreadPool, ZeroMeansEveryCore)
{
    ThreadPool pool;
    pool.SetThreadCount(0);
    EXPECT_EQ(pool.GetThreadCount(), ThreadPool::CoreCount());
    int sum = 0;
    pool.Run(1, [&](int) { ++sum; });
    pool.Run(0, [&](int) { ++sum; });
    EXPECT_EQ(sum, 1);
}

TEST(ThreadPool, WritesOfTasksAreVisibleAfterRun)
{
    ThreadPool pool;
    pool.SetThreadCount(4);
    std::vector<int> out(1000, 0);
    for (int round = 1; round <= 20; ++round) {
        pool.Run(1000, [&](int task) { out[task] = task * round; });
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(out[i], i * round);
        }
    }
}
