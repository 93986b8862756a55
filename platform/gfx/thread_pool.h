#pragma once
// A small pool of workers that runs one job of N independent tasks at a time;
// the calling thread takes tasks too. Tasks are taken in index order from a
// shared counter, so which thread runs a task never changes what it computes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
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
    // Runs task(0) .. task(count - 1) and returns when all are done.
    void Run(int count, const std::function<void(int)>& task);

    static int CoreCount();

private:
    void Stop();
    void WorkerMain();
    void TakeTasks();

    std::vector<std::thread> workers;
    int threadCount = 1;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    uint64_t generation = 0;   // guarded by mutex
    bool quitting = false;     // guarded by mutex
    int busyWorkers = 0;       // guarded by mutex
    const std::function<void(int)>* job = nullptr;
    int jobCount = 0;
    std::atomic<int> nextTask{0};
    std::atomic<int> completed{0};   // tasks of the current job finished
};

}  // namespace platform
