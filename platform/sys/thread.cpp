// Threads of the process.
#include "platform/sys/thread.h"

#include <pthread.h>

#include <cstdio>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <atomic>

namespace platform {

struct Thread::State {
    std::thread thread;
    // Written by the new thread before it runs proc, so IsCurrent called from
    // proc never reads the std::thread that its starter is still storing.
    std::atomic<std::thread::id> id{};
};

Thread::Thread() = default;

Thread::~Thread()
{
    Join();
}

bool Thread::Start(const char* name, Proc proc, void* argument)
{
    if (proc == nullptr || IsStarted()) {
        return false;
    }
    try {
        state = std::make_unique<State>();
        State* started = state.get();
        std::string threadName = name != nullptr ? name : "";
        started->thread = std::thread([proc, argument, threadName, started] {
            started->id.store(std::this_thread::get_id());
            if (!threadName.empty()) {
                // The kernel keeps 15 characters and the terminator.
                pthread_setname_np(pthread_self(), threadName.substr(0, 15).c_str());
            }
            proc(argument);
        });
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "sys: cannot start thread %s: %s\n", name != nullptr ? name : "", error.what());
        state.reset();
        return false;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "sys: out of memory starting thread %s\n", name != nullptr ? name : "");
        state.reset();
        return false;
    }
    return true;
}

void Thread::Join()
{
    if (state != nullptr && state->thread.joinable()) {
        state->thread.join();
    }
    state.reset();
}

bool Thread::IsStarted() const
{
    return state != nullptr;
}

bool Thread::IsCurrent() const
{
    return state != nullptr && state->id.load() == std::this_thread::get_id();
}

}  // namespace platform
