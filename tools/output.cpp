// The tools' standard output, checked write by write and at the last flush.
#include "tools/output.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The reason of the first write that failed; 0 while none has.
int g_firstError = 0;

void Keep(int error)
{
    if (g_firstError == 0) {
        g_firstError = error != 0 ? error : EIO;
    }
}

}  // namespace

void ToolOutputBegin()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void ToolPrint(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    errno = 0;
    const int written = std::vprintf(format, args);
    va_end(args);
    if (written < 0) {
        Keep(errno);
    }
}

void ToolFlush()
{
    errno = 0;
    if (std::fflush(stdout) != 0) {
        Keep(errno);
    }
}

bool ToolOutputEnd(const char* tool)
{
    ToolFlush();
    // A failure inside a write the stream made on its own (a full buffer)
    // leaves only its mark on the stream.
    if (std::ferror(stdout) != 0) {
        Keep(errno);
    }
    if (g_firstError == 0) {
        return true;
    }
    std::fprintf(stderr, "%s: cannot write the output: %s\n", tool, std::strerror(g_firstError));
    return false;
}
