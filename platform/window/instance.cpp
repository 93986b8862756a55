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

// The lock files' folder, the user's own, so that one user's lock never
// keeps another out: the runtime folder when it is a folder of this user's,
// else /tmp/<name>-<uid>, made for the purpose and used only when nobody else
// can have made it or write into it. Empty, with the reason in *error, when
// neither can be had.
std::string LockFolder(const std::string& name, std::string* error)
{
    const uid_t user = geteuid();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info;
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == user && access(runtime, W_OK | X_OK) == 0) {
        return runtime;
    }
    const std::string folder = "/tmp/" + name + "-" + std::to_string(user);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create " + folder + ": " + std::strerror(errno);
        return std::string();
    }
    if (lstat(folder.c_str(), &info) != 0) {
        *error = "cannot use " + folder + ": " + std::strerror(errno);
        return std::string();
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != user || (info.st_mode & 022) != 0) {
        *error = folder + " is not a folder of this user's own";
        return std::string();
    }
    return folder;
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

InstanceLockResult InstanceLock::Acquire(const std::string& name)
{
    Release();
    path.clear();
    error.clear();
    if (name.empty()) {
        error = "an instance lock needs a name";
        return InstanceLockResult::Failed;
    }
    // The name is the application's: keep it to one path component.
    std::string fileName = name;
    for (char& c : fileName) {
        if (c == '/') {
            c = '_';
        }
    }
    const std::string folder = LockFolder(fileName, &error);
    if (folder.empty()) {
        return InstanceLockResult::Failed;
    }
    path = folder + "/" + fileName + ".lock";
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return InstanceLockResult::Failed;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        close(file);
        if (code == EWOULDBLOCK) {
            return InstanceLockResult::HeldElsewhere;
        }
        error = "cannot lock " + path + ": " + std::strerror(code);
        return InstanceLockResult::Failed;
    }
    fd = file;
    return InstanceLockResult::Acquired;
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
