#include "platform/sys/thread.h"

#include <pthread.h>

#include <cstdio>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace platform {

struct Thread::State {
    std::thread thread;
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
        auto next = std::make_unique<State>();
        std::string threadName = name != nullptr ? name : "";
        next->thread = std::thread([proc, argument, threadName] {
            if (!threadName.empty()) {
                // The kernel keeps 15 characters and the terminator.
                pthread_setname_np(pthread_self(), threadName.substr(0, 15).c_str());
            }
            proc(argument);
        });
        state = std::move(next);
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "sys: cannot start thread %s: %s\n", name != nullptr ? name : "", error.what());
        return false;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "sys: out of memory starting thread %s\n", name != nullptr ? name : "");
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
    return state != nullptr && state->thread.joinable();
}

bool Thread::IsCurrent() const
{
    return state != nullptr && state->thread.get_id() == std::this_thread::get_id();
}

}  // namespace platform
