#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/trace/pattern_trace_run.h"

static int RunTool(const std::string& args, std::string* out)
{
    const std::string command = std::string(PATTERN_TRACE_EXE) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out->append(buffer, n);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PatternTrace, MalformedArgumentsExitWithTwo)
{
    std::string out;
    EXPECT_EQ(RunTool("", &out), 2);
    EXPECT_EQ(RunTool("--id x", &out), 2);
    EXPECT_EQ(RunTool("--id 1 --once 2", &out), 2);
    EXPECT_EQ(RunTool("--id 1 --enemy 1,2,3", &out), 2);
    EXPECT_EQ(RunTool("--id 1 --slot 300", &out), 2);
    EXPECT_EQ(RunTool("--id 1 --bogus 1", &out), 2);
    EXPECT_TRUE(out.empty());
}
