#pragma once
// A reentrant lock.
#include <mutex>

namespace platform {

// A lock that the thread holding it may take again (each Enter matched by a
// Leave), so a locked operation can call another that locks.
class CriticalSection {
public:
    void Enter() { mutex.lock(); }
    bool TryEnter() { return mutex.try_lock(); }
    void Leave() { mutex.unlock(); }

private:
    std::recursive_mutex mutex;
};

// Holds a CriticalSection for the enclosing scope.
class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) : section(section) { section.Enter(); }
    ~ScopedLock() { section.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& section;
};

}  // namespace platform
