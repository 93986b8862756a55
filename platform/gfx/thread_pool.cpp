#include "platform/gfx/thread_pool.h"

#include <chrono>
#include <cstdio>
#include <emmintrin.h>

namespace platform {

namespace {

// How long a thread spins for the next job, or for the end of its own,
// before it sleeps. Long enough to span the gap between two frames drawn
// back to back, short enough to cost nothing worth noting at 60 frames a
// second.
constexpr auto kSpinTime = std::chrono::microseconds(200);

// Spins until pred() holds or the spin time is spent; true if it held.
template <typename Pred>
bool SpinFor(Pred pred)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (pred()) {
                return true;
            }
            _mm_pause();
        }
        if (std::chrono::steady_clock::now() - start > kSpinTime) {
            return pred();
        }
    }
}

thread_local int workerIndex = 0;

}  // namespace

int ThreadPool::WorkerIndex()
{
    return workerIndex;
}

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
    Wait();
    quitting.store(true);
    generation.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(mutex);
    }
    jobStarted.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
    workers.clear();
    quitting.store(false);
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
        // A worker waits for jobs after the one current now, even if it
        // starts running only later.
        const uint32_t current = generation.load();
        for (int i = 1; i < threads; ++i) {
            workers.emplace_back([this, current, i] { WorkerMain(current, i); });
        }
    } catch (const std::exception&) {
        // Fewer workers still render the same picture, only slower.
        std::fprintf(stderr, "gfx: could start only %zu of %d worker threads\n", workers.size(), threads - 1);
        threadCount = static_cast<int>(workers.size()) + 1;
    }
}

void ThreadPool::TakeTasks(uint32_t job)
{
    const Slot& slot = slots[job & 1];
    const std::function<void(int)>* task = slot.task.load();
    const int count = slot.count.load();
    uint64_t word = claim.load();
    for (;;) {
        // The job moved on (or this thread read the slot too late to take
        // part): nothing left here.
        if (static_cast<uint32_t>(word >> 32) != job) {
            return;
        }
        const int index = static_cast<int>(static_cast<uint32_t>(word));
        if (index >= count) {
            return;
        }
        if (!claim.compare_exchange_weak(word, word + 1)) {
            continue;
        }
        (*task)(index);
        // The thread that finishes the last task wakes the caller.
        if (completed.fetch_add(1) + 1 == count && callerSleeping.load()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
            }
            jobDone.notify_all();
        }
        word = claim.load();
    }
}

void ThreadPool::WorkerMain(uint32_t seen, int index)
{
    workerIndex = index;
    for (;;) {
        if (!SpinFor([&] { return generation.load(std::memory_order_relaxed) != seen; })) {
            std::unique_lock<std::mutex> lock(mutex);
            sleepingWorkers.fetch_add(1);
            jobStarted.wait(lock, [&] { return generation.load() != seen; });
            sleepingWorkers.fetch_sub(1);
        }
        // The job number first: Stop sets the flag before it moves the
        // number on, so a thread that sees the last number sees the flag.
        seen = generation.load();
        if (quitting.load()) {
            return;
        }
        TakeTasks(seen);
    }
}

void ThreadPool::Run(int count, const std::function<void(int)>& task)
{
    Wait();
    if (count <= 0) {
        return;
    }
    if (workers.empty() || count == 1) {
        for (int i = 0; i < count; ++i) {
            task(i);
        }
        return;
    }
    Start(count, task);
    Wait();
}

void ThreadPool::Start(int count, const std::function<void(int)>& task)
{
    Wait();
    if (count <= 0) {
        return;
    }
    if (workers.empty()) {
        for (int i = 0; i < count; ++i) {
            task(i);
        }
        return;
    }
    const uint32_t job = generation.load() + 1;
    Slot& slot = slots[job & 1];
    slot.task.store(&task);
    slot.count.store(count);
    completed.store(0);
    claim.store(static_cast<uint64_t>(job) << 32);
    started = true;
    startedJob = job;
    startedCount = count;
    generation.store(job);
    if (sleepingWorkers.load() > 0) {
        {
            std::lock_guard<std::mutex> lock(mutex);
        }
        jobStarted.notify_all();
    }
}

bool ThreadPool::Idle() const
{
    return !started || completed.load() >= startedCount;
}

void ThreadPool::Wait()
{
    if (!started) {
        return;
    }
    const int count = startedCount;
    TakeTasks(startedJob);
    // Return once every task is done.
    if (!SpinFor([&] { return completed.load(std::memory_order_relaxed) >= count; })) {
        std::unique_lock<std::mutex> lock(mutex);
        callerSleeping.store(true);
        jobDone.wait(lock, [&] { return completed.load() >= count; });
        callerSleeping.store(false);
    }
    // Pairs with the finishing threads' increments, so their writes are
    // seen by the caller.
    (void)completed.load(std::memory_order_acquire);
    started = false;
}

}  // namespace platform
