#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/tools/tool_run.h"

TEST(AppSmokeTool, RefusesOptionsItCannotHonourSayingWhy)
{
    struct Case {
        const char* args;
        const char* says;
    };
    const Case cases[] = {
        {"--frames -1", "orva-app-smoke: --frames wants a whole number from 0 to 2147483647, not '-1'"},
        {"--frames 12abc", "not '12abc'"},
        {"--size 10x10junk", "--size wants WIDTHxHEIGHT, each 1 to 8192, not '10x10junk'"},
        {"--size 10x0", "not '10x0'"},
        {"--fps 0", "--fps wants a whole number from 1 to 1000, not '0'"},
        {"--flags 0x1ffffffff", "--flags wants a whole number from 0 to 4294967295, not '0x1ffffffff'"},
        {"--colour ' 7'", "not ' 7'"},
        {"--fps", "--fps wants a value"},
        {"$(printf '\\033[2J')", "unknown option '\\x1b[2J'"},
    };
    // In memory, with the lock in this test's own folder; a bound ends a
    // run that an option let go on for ever.
    setenv("ORVA_WINDOW", "headless", 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
    const std::string tool = std::string("timeout 20 ") + APP_SMOKE_EXE;
    std::string out;
    for (const Case& c : cases) {
        EXPECT_EQ(tooltest::Run(tool.c_str(), c.args, &out), 2) << c.args;
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
    }
    // What it can honour runs.
    EXPECT_EQ(tooltest::Run(tool.c_str(), "--frames 3 --size 32x16 --fps 1000 --flags 0 --colour 0xFF000000", &out),
              0);
    EXPECT_NE(out.find("app-smoke: backend headless 32x16 colour 0xFF000000"), std::string::npos) << out;
    EXPECT_NE(out.find("app-smoke: 3 frames"), std::string::npos) << out;
}
