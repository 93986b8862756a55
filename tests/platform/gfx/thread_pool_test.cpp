#include "platform/gfx/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "platform/gfx/soft_device.h"

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

TEST(SoftDeviceThreads, CountComesFromTheEnvironmentOrTheCall)
{
    platform::DeviceParams params;
    params.width = 8;
    params.height = 8;
    ASSERT_EQ(setenv("ORVA_GFX_THREADS", "3", 1), 0);
    {
        platform::SoftDevice dev;
        ASSERT_TRUE(dev.Create(params));
        EXPECT_EQ(dev.GetThreadCount(), 3);
        dev.SetThreadCount(2);
        EXPECT_EQ(dev.GetThreadCount(), 2);
        dev.SetThreadCount(0);
        EXPECT_EQ(dev.GetThreadCount(), ThreadPool::CoreCount());
    }
    ASSERT_EQ(setenv("ORVA_GFX_THREADS", "lots", 1), 0);
    {
        platform::SoftDevice dev;
        ASSERT_TRUE(dev.Create(params));
        EXPECT_EQ(dev.GetThreadCount(), ThreadPool::CoreCount());
    }
    unsetenv("ORVA_GFX_THREADS");
}
