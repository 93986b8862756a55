#include "platform/gfx/thread_pool.h"

#include <cstdio>

namespace platform {

ThreadPool::~ThreadPool()
{
    Stop();
}

int ThreadPool::CoreCount()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

void ThreadPool::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    wake.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
    workers.clear();
    std::lock_guard<std::mutex> lock(mutex);
    quitting = false;
}

void ThreadPool::SetThreadCount(int threads)
{
    if (threads <= 0) {
        threads = CoreCount();
    }
    // More threads than this only adds wake-up cost for a frame's tiles.
    if (threads > 64) {
        threads = 64;
    }
    if (threads == threadCount && static_cast<int>(workers.size()) == threads - 1) {
        return;
    }
    Stop();
    threadCount = threads;
    try {
        for (int i = 1; i < threads; ++i) {
            workers.emplace_back([this] { WorkerMain(); });
        }
    } catch (const std::exception&) {
        // Fewer workers still render the same picture, only slower.
        std::fprintf(stderr, "gfx: could start only %zu of %d worker threads\n", workers.size(), threads - 1);
        threadCount = static_cast<int>(workers.size()) + 1;
    }
}

void ThreadPool::TakeTasks()
{
    for (;;) {
        const int task = nextTask.fetch_add(1, std::memory_order_relaxed);
        if (task >= jobCount) {
            return;
        }
        (*job)(task);
        // The thread that finishes the last task wakes the caller.
        if (completed.fetch_add(1, std::memory_order_acq_rel) + 1 == jobCount) {
            std::lock_guard<std::mutex> lock(mutex);
            done.notify_all();
        }
    }
}

void ThreadPool::WorkerMain()
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return quitting || generation != seen; });
            if (quitting) {
                return;
            }
            seen = generation;
            ++busyWorkers;
        }
        TakeTasks();
        {
            std::lock_guard<std::mutex> lock(mutex);
            --busyWorkers;
        }
        done.notify_all();
    }
}

void ThreadPool::Run(int count, const std::function<void(int)>& task)
{
    if (count <= 0) {
        return;
    }
    if (workers.empty() || count == 1) {
        for (int i = 0; i < count; ++i) {
            task(i);
        }
        return;
    }
    {
        // A worker still leaving the previous job reads these fields.
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return busyWorkers == 0; });
        job = &task;
        jobCount = count;
        nextTask.store(0, std::memory_order_relaxed);
        completed.store(0, std::memory_order_relaxed);
        ++generation;
    }
    wake.notify_all();
    TakeTasks();
    // Return once every task is done; a worker that wakes late finds the
    // counter spent, and the next job waits for it to leave (see above).
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return completed.load(std::memory_order_acquire) >= jobCount; });
}

}  // namespace platform
