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

TEST(PatternTrace, ToolPrintsTheLibraryLinesAndExitsZero)
{
    std::string out;
    ASSERT_EQ(RunTool("--id 3 --difficulty 1 --clock 40 --seed 99 --enemy 300,120,1.25,0.5 --player 1,200,380", &out),
              0);
    TraceOptions o;
    o.id = 3;
    o.difficulty = 1;
    o.clock = 40;
    o.seed = 99;
    o.enemyX = 300.0f;
    o.enemyY = 120.0f;
    o.enemyAim = 1.25f;
    o.enemyMove = 0.5f;
    o.playerX = 200.0f;
    o.playerY = 380.0f;
    std::string expected;
    for (const std::string& line : PatternTraceRun(o)) {
        expected += line + "\n";
    }
    EXPECT_EQ(out, expected);
    // 6 draws, 6 spread bullets, an 18-bullet ring, one state line.
    EXPECT_EQ(PatternTraceRun(o).size(), 6u + 6u + 18u + 1u);
}

TEST(PatternTrace, OtherEnemiesAppearInSlotOrder)
{
    std::string out;
    ASSERT_EQ(RunTool("--id 0 --slot 12 --other 3,150,60,0.5 --other 250,400,70,1", &out), 0);
    EXPECT_EQ(out,
              "state slot=3 step=0 hp=0 x=150 y=60 aim=0.5 move=0\n"
              "state slot=12 step=0 hp=0 x=320 y=100 aim=1.57079637 move=1.57079637\n"
              "state slot=250 step=0 hp=0 x=400 y=70 aim=1 move=0\n");
}
