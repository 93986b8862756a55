#pragma once
// A small pool of workers that runs one job of N independent tasks at a time;
// the calling thread takes tasks too. Tasks are taken in index order from a
// shared counter, so which thread runs a task never changes what it computes.
//
// A frame is one job, a few hundred microseconds apart from the next, so
// waking the workers is a large share of a job's cost: a worker that has
// finished spins for a short while before it sleeps, and a job is handed
// out by one atomic store that a spinning worker sees at once. Only threads
// that stopped spinning sleep on the condition variables, and only then
// does a job's start or end take the mutex.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <functional>
#include <thread>
#include <vector>

namespace platform {

class ThreadPool {
public:
    ThreadPool() = default;
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Total threads including the caller; 0 means every core.
    void SetThreadCount(int threads);
    int GetThreadCount() const { return threadCount; }
    // Runs task(0) .. task(count - 1) and returns when all are done (after
    // the job handed out by Start, if one is still running).
    void Run(int count, const std::function<void(int)>& task);
    // Hands task(0) .. task(count - 1) to the workers and returns at once,
    // so that the caller can go on with other work; task must live until
    // Wait. Without workers it runs the tasks before it returns.
    void Start(int count, const std::function<void(int)>& task);
    // Takes part in the started job, if any, and returns when it is done.
    void Wait();
    // True when no started job has tasks still running.
    bool Idle() const;

    static int CoreCount();
    // 1 .. threads - 1 on a pool's worker (the same for the worker's life),
    // 0 on any other thread.
    static int WorkerIndex();

private:
    void Stop();
    void WorkerMain(uint32_t seen, int index);
    // Takes tasks of the job numbered `generation` until none is left.
    void TakeTasks(uint32_t generation);

    std::vector<std::thread> workers;
    int threadCount = 1;
    // The current job's number; workers wait on it. Odd jobs use slot 1,
    // even ones slot 0, so a worker late from one job never reads fields
    // being written for the next.
    std::atomic<uint32_t> generation{0};
    std::atomic<bool> quitting{false};
    struct Slot {
        std::atomic<const std::function<void(int)>*> task{nullptr};
        std::atomic<int> count{0};
    };
    Slot slots[2];
    // The next task to hand out, with the job's number in the high half:
    // a claim succeeds only for the job it was read for.
    std::atomic<uint64_t> claim{0};
    std::atomic<int> completed{0};   // tasks of the current job finished
    // Sleeping: a thread counts itself in before it looks at the word it
    // waits for a last time under the mutex; the one that changes the word
    // looks at the count after the change, so no wake-up is lost.
    std::mutex mutex;
    std::condition_variable jobStarted;
    std::condition_variable jobDone;
    std::atomic<int> sleepingWorkers{0};
    std::atomic<bool> callerSleeping{false};
    // The job Start handed out and its task count, until Wait.
    bool started = false;
    uint32_t startedJob = 0;
    int startedCount = 0;
};

}  // namespace platform
