#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/core/debug.h"

TEST(OrvaDebug, LogAppendsOnlyWhileAPathIsSet)
{
    const std::string path = ::testing::TempDir() + "orva_debug_log.txt";
    std::remove(path.c_str());
    OrvaDebug::SetLogPath(nullptr);
    OrvaDebug::Log("lost %d\n", 1);
    OrvaDebug::SetLogPath(path.c_str());
    OrvaDebug::Log("■ line %d\n", 2);
    OrvaDebug::Log("エラー : %s\n", "x");
    OrvaDebug::SetLogPath("");
    OrvaDebug::Log("lost %d\n", 3);
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "■ line 2\nエラー : x\n");
}

static std::string g_lastBox;

TEST(OrvaDebug, MsgBoxFormatsAndGoesToTheHandler)
{
    OrvaDebug::SetMessageBoxHandler([](uint32_t type, const char* caption, const char* text) -> int32_t {
        g_lastBox = std::to_string(type) + "|" + caption + "|" + text;
        return 7;
    });
    EXPECT_EQ(OrvaDebug::MsgBox(0x10, "Error", "%s %d", "code", 42), 7);
    EXPECT_EQ(g_lastBox, "16|Error|code 42");
    // Text longer than the box's buffer is cut, not overrun.
    const std::string longText(10000, 'a');
    OrvaDebug::MsgBox(0, "c", "%s", longText.c_str());
    EXPECT_EQ(g_lastBox.size(), std::string("0|c|").size() + 4095);
    OrvaDebug::SetMessageBoxHandler(nullptr);
}
