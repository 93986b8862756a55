#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/image.h"
#include "tests/tools/tool_run.h"

namespace {

class OagPackTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = ::testing::TempDir() + "oag_pack_tool";
        mkdir(folder.c_str(), 0755);
        image = folder + "/dot.bmp";
        const std::vector<uint32_t> pixels = {0xFF112233u, 0xFF445566u};
        std::string error;
        ASSERT_TRUE(platform::WriteBmp24(image.c_str(), pixels.data(), 2, 1, 8, &error)) << error;
        archive = folder + "/out.oag";
        remove(archive.c_str());
    }

    int Run(const std::string& args) { return tooltest::Run(OAG_PACK_EXE, args, &out); }

    std::string folder, image, archive, out;
};

}  // namespace

TEST_F(OagPackTool, RefusesTwoEntriesOfOneName)
{
    // Names are looked up with ASCII case folded, so these two are one.
    EXPECT_EQ(Run("create " + archive + " boss=" + image + " BOSS=" + image), 1);
    EXPECT_NE(out.find("two entries are named \"BOSS\""), std::string::npos) << out;
    struct stat info;
    EXPECT_NE(stat(archive.c_str(), &info), 0) << "no archive is written";

    ASSERT_EQ(Run("create " + archive + " boss=" + image + " boss2=" + image), 0) << out;
    ASSERT_EQ(Run("list " + archive), 0) << out;
    EXPECT_NE(out.find("0 boss 2x1"), std::string::npos) << out;
    EXPECT_NE(out.find("1 boss2 2x1"), std::string::npos) << out;
}

TEST_F(OagPackTool, SaysADirectoryIsADirectory)
{
    EXPECT_EQ(Run("create " + archive + " x=" + folder), 1);
    EXPECT_NE(out.find(folder + " is a directory"), std::string::npos) << out;
    EXPECT_EQ(out.find("over the limit"), std::string::npos) << out;
    EXPECT_EQ(Run("create " + folder + " x=" + image), 1);
    EXPECT_NE(out.find(folder + " is a directory"), std::string::npos) << out;
    EXPECT_EQ(Run("list " + folder), 1);
    EXPECT_NE(out.find(folder + " is a directory"), std::string::npos) << out;
    EXPECT_EQ(Run("extract " + folder + " x " + folder + "/x.bmp"), 1);
    EXPECT_NE(out.find(folder + " is a directory"), std::string::npos) << out;
}
