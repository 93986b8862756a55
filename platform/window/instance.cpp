// The clock, the program folder and the single-instance lock: the services
// of the running program that go with its window.
#include "platform/window/window.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

std::chrono::steady_clock::time_point ClockStart()
{
    static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    return start;
}

// The lock files' folder: the user's runtime folder when there is one, so
// that two users do not lock each other out, else /tmp.
std::string LockFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        struct stat info;
        if (stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && access(runtime, W_OK) == 0) {
            return runtime;
        }
    }
    return "/tmp";
}

}  // namespace

uint32_t GetTimeMs()
{
    const auto elapsed = std::chrono::steady_clock::now() - ClockStart();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void SleepMs(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string GetProgramFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        std::fprintf(stderr, "window: cannot read /proc/self/exe (%s)\n", std::strerror(errno));
        return ".";
    }
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return ".";
    }
    if (slash == path) {
        return "/";
    }
    *slash = '\0';
    return path;
}

bool SetCurrentFolder(const std::string& folder)
{
    if (chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "window: cannot enter %s (%s)\n", folder.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

InstanceLock::~InstanceLock()
{
    Release();
}

bool InstanceLock::Acquire(const std::string& name)
{
    Release();
    if (name.empty()) {
        std::fprintf(stderr, "window: an instance lock needs a name\n");
        return false;
    }
    // The name is the application's: keep it to one path component.
    std::string fileName = name;
    for (char& c : fileName) {
        if (c == '/') {
            c = '_';
        }
    }
    path = LockFolder() + "/" + fileName + ".lock";
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        std::fprintf(stderr, "window: cannot open lock %s (%s)\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(file);
        if (error != EWOULDBLOCK) {
            std::fprintf(stderr, "window: cannot lock %s (%s)\n", path.c_str(), std::strerror(error));
        }
        return false;
    }
    fd = file;
    return true;
}

void InstanceLock::Release()
{
    if (fd < 0) {
        return;
    }
    // The file stays: removing it would let a newcomer lock a fresh file
    // while an older holder still has the old one.
    flock(fd, LOCK_UN);
    close(fd);
    fd = -1;
}

}  // namespace platform
