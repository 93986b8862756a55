#include "platform/gfx/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
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

TEST(ThreadPool, EachWorkerKnowsItsOwnIndex)
{
    ThreadPool pool;
    pool.SetThreadCount(5);
    EXPECT_EQ(ThreadPool::WorkerIndex(), 0);
    // Tasks that last until every worker has one, so that each runs one.
    std::vector<std::atomic<int>> seen(5);
    std::atomic<int> running{0};
    pool.Run(5, [&](int) {
        seen[static_cast<size_t>(ThreadPool::WorkerIndex())].fetch_add(1);
        running.fetch_add(1);
        const auto start = std::chrono::steady_clock::now();
        while (running.load() < 5 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            std::this_thread::yield();
        }
    });
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].load(), 1) << "index " << i;
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

TEST(ThreadPool, SleepingWorkersWakeForTheNextJob)
{
    ThreadPool pool;
    pool.SetThreadCount(4);
    std::atomic<int> sum{0};
    for (int round = 0; round < 10; ++round) {
        // Long enough for every worker to stop spinning and sleep.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Tasks that wait for each other prove that the workers woke.
        std::atomic<int> arrived{0};
        pool.Run(4, [&](int task) {
            arrived.fetch_add(1);
            while (arrived.load() < 4) {
                std::this_thread::yield();
            }
            sum.fetch_add(task);
        });
    }
    EXPECT_EQ(sum.load(), 10 * 6);
}

TEST(ThreadPool, RestartsRightAfterStarting)
{
    // Workers may begin running only after the pool has been asked to stop
    // them again; they must still see the request.
    ThreadPool pool;
    for (int round = 0; round < 200; ++round) {
        pool.SetThreadCount(2 + round % 5);
    }
    int count = 0;
    pool.Run(3, [&](int) {});
    pool.Run(1, [&](int) { ++count; });
    EXPECT_EQ(count, 1);
}

TEST(ThreadPool, StartedJobRunsWhileTheCallerGoesOn)
{
    ThreadPool pool;
    pool.SetThreadCount(4);
    for (int round = 1; round <= 20; ++round) {
        // The tasks wait for the caller, so Start must return before they end.
        std::atomic<bool> go{false};
        std::vector<int> out(64, 0);
        const std::function<void(int)> task = [&](int i) {
            while (!go.load()) {
                std::this_thread::yield();
            }
            out[static_cast<size_t>(i)] = i * round;
        };
        pool.Start(64, task);
        EXPECT_FALSE(pool.Idle());
        go.store(true);
        if (round % 2 == 0) {
            pool.Wait();
        }
        // A job run now starts after the started one has ended.
        std::vector<int> next(64, 0);
        pool.Run(64, [&](int i) { next[static_cast<size_t>(i)] = out[static_cast<size_t>(i)] + 1; });
        EXPECT_TRUE(pool.Idle());
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(out[static_cast<size_t>(i)], i * round);
            ASSERT_EQ(next[static_cast<size_t>(i)], i * round + 1);
        }
    }
    // Without workers the tasks run before Start returns.
    pool.SetThreadCount(1);
    int sum = 0;
    const std::function<void(int)> add = [&](int i) { sum += i; };
    pool.Start(5, add);
    EXPECT_EQ(sum, 10);
    EXPECT_TRUE(pool.Idle());
    pool.Wait();
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
