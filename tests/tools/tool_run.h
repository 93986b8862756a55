#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tooltest {

// Runs a tool with its arguments; both of its output streams land in *out.
// The tool's exit status, -1 when it did not exit normally.
inline int Run(const char* exe, const std::string& args, std::string* out)
{
    const std::string command = std::string(exe) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    out->clear();
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out->append(buffer, n);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tooltest
