// Host files read only when they are files, and written whole.
#include "platform/sys/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sys/path.h"
#include "platform/sys/printable.h"

namespace platform {

namespace {

bool Fail(std::string* error, const std::string& what, int code)
{
    if (error != nullptr) {
        *error = what + ": " + std::strerror(code);
    }
    return false;
}

// A name beside the destination that no other writer picks: the process,
// a counter and the clock, tried again while taken.
int CreateBeside(const std::string& destination, mode_t mode, std::string* tempPath)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u-%llx", long(getpid()), counter++,
                      static_cast<unsigned long long>(ticks) & 0xFFFFFu);
        *tempPath = destination + suffix;
        // The mode passes through the umask as fopen's would.
        const int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a file";
}

// Says why a file of another kind is not read; errno tells the caller.
void RefuseKind(const char* hostPath, mode_t mode)
{
    std::fprintf(stderr, "file: %s is %s, not a regular file\n", PrintableText(hostPath).c_str(), KindOf(mode));
    errno = S_ISDIR(mode) ? EISDIR : EINVAL;
}

}  // namespace

int OpenRegularFile(const char* hostPath)
{
    if (hostPath == nullptr || hostPath[0] == '\0') {
        errno = ENOENT;
        return -1;
    }
    // O_NONBLOCK only for the opening: a FIFO without a writer would
    // otherwise hold open() itself.
    const int fd = open(hostPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info;
    if (fd < 0) {
        // Some kinds cannot be opened at all (a socket gives "No such device
        // or address"): their kind says more than that.
        const int code = errno;
        if (code != ENOENT && stat(hostPath, &info) == 0 && !S_ISREG(info.st_mode)) {
            RefuseKind(hostPath, info.st_mode);
            return -1;
        }
        errno = code;
        return -1;
    }
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        close(fd);
        errno = code;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        RefuseKind(hostPath, info.st_mode);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int code = errno;
        close(fd);
        errno = code;
        return -1;
    }
    return fd;
}

std::FILE* OpenRegularFileStream(const char* hostPath)
{
    const int fd = OpenRegularFile(hostPath);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int code = errno;
        close(fd);
        errno = code;
    }
    return file;
}

std::FILE* OpenEngineFileStream(const char* engineName)
{
    const std::string host = HostPath(engineName);
    if (host.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    return OpenRegularFileStream(host.c_str());
}

bool WriteWholeFile(const char* hostPath, const void* data, size_t size, std::string* error)
{
    if (hostPath == nullptr || hostPath[0] == '\0') {
        return Fail(error, "no file name", EINVAL);
    }
    if (data == nullptr && size > 0) {
        return Fail(error, hostPath, EINVAL);
    }
    std::string destination = hostPath;
    struct stat info;
    bool replacing = false;
    if (lstat(hostPath, &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            // Renaming over the link would replace the link, not the file.
            char target[PATH_MAX];
            if (realpath(hostPath, target) == nullptr || stat(target, &info) != 0) {
                return Fail(error, std::string("cannot follow ") + hostPath, errno);
            }
            destination = target;
        }
        if (!S_ISREG(info.st_mode)) {
            return Fail(error, std::string("cannot replace ") + hostPath, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        }
        replacing = true;
    }
    std::string tempPath;
    const int fd = CreateBeside(destination, replacing ? 0600 : 0666, &tempPath);
    if (fd < 0) {
        return Fail(error, std::string("cannot create a file beside ") + hostPath, errno);
    }
    // The new file takes the old one's permissions before anyone can see it
    // under the name.
    bool ok = !replacing || fchmod(fd, info.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, data, size) && fsync(fd) == 0;
    int code = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && rename(tempPath.c_str(), destination.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        unlink(tempPath.c_str());
        return Fail(error, std::string("cannot write ") + hostPath, code);
    }
    return true;
}

}  // namespace platform
