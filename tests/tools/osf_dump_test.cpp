#include <gtest/gtest.h>

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
