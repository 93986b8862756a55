#pragma once
// Threads of the process.
#include <memory>

namespace platform {

// One thread of the process, started with a plain function and joined by its
// owner. A Thread that is destroyed while its thread still runs joins it.
class Thread {
public:
    using Proc = void (*)(void* argument);

    Thread();
    ~Thread();

    // Starts proc(argument) on a new thread; the name (at most 15 characters
    // are kept) shows in debuggers. False when the thread cannot be created
    // or this Thread already runs one.
    bool Start(const char* name, Proc proc, void* argument);
    // Waits for the thread to return; does nothing when none was started.
    void Join();
    bool IsStarted() const;
    // True when called on this Thread's own thread.
    bool IsCurrent() const;

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace platform
