#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/tools/tool_run.h"

TEST(OsfDumpTool, SaysADirectoryIsADirectory)
{
    std::string out;
    const std::string folder = ::testing::TempDir();
    EXPECT_EQ(tooltest::Run(OSF_DUMP_EXE, folder, &out), 1);
    EXPECT_NE(out.find(" is a directory"), std::string::npos) << out;
    EXPECT_EQ(out.find("not an OSF file"), std::string::npos) << out;
    // Its name reaches the terminal escaped.
    const std::string hostile = folder + "osf_dump_\x1b[2J";
    mkdir(hostile.c_str(), 0755);
    EXPECT_EQ(tooltest::Run(OSF_DUMP_EXE, "'" + hostile + "'", &out), 1);
    EXPECT_NE(out.find("osf_dump_\\x1b[2J is a directory"), std::string::npos) << out;
    rmdir(hostile.c_str());
    // A real file that is no OSF file is still called that.
    const std::string path = folder + "osf_dump_not_osf.bin";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("hello", f);
    fclose(f);
    EXPECT_EQ(tooltest::Run(OSF_DUMP_EXE, path, &out), 1);
    EXPECT_NE(out.find("end not an OSF file"), std::string::npos) << out;
    remove(path.c_str());
}
