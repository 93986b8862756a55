#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <set>
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

namespace {

std::string ReadAll(const std::string& path)
{
    std::string bytes;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, n);
        }
        fclose(file);
    }
    return bytes;
}

}  // namespace

TEST_F(OagPackTool, AWriteThatFailsLeavesWhatWasThere)
{
    // A 64 x 64 picture is larger, stored or extracted, than the limit of
    // 4 blocks (of 512 or 1024 bytes) put on the tool below; the good files
    // are smaller.
    const std::string big = folder + "/big.bmp";
    const std::vector<uint32_t> pixels(64 * 64, 0xFF808080u);
    std::string error;
    ASSERT_TRUE(platform::WriteBmp24(big.c_str(), pixels.data(), 64, 64, 256, &error)) << error;
    const std::string bigArchive = folder + "/big.oag";
    const std::string picture = folder + "/dot-out.bmp";
    ASSERT_EQ(Run("create " + bigArchive + " big=" + big), 0) << out;
    ASSERT_EQ(Run("create " + archive + " dot=" + image), 0) << out;
    ASSERT_EQ(Run("extract " + archive + " dot " + picture), 0) << out;
    remove((folder + "/new.oag").c_str());
    remove((folder + "/new.bmp").c_str());

    struct Case {
        std::string args;
        std::string destination;
    };
    const Case cases[] = {
        {"create " + archive + " big=" + big, archive},
        {"extract " + bigArchive + " big " + picture, picture},
        {"create " + folder + "/new.oag big=" + big, folder + "/new.oag"},
        {"extract " + bigArchive + " big " + folder + "/new.bmp", folder + "/new.bmp"},
    };
    // Past the limit a write fails with EFBIG instead of ending the process,
    // which the tool asks for itself: killed by the signal, it would leave
    // its unfinished file beside the destination.
    const std::string limited = std::string("ulimit -f 4; ") + OAG_PACK_EXE;
    for (const Case& c : cases) {
        const std::string before = ReadAll(c.destination);
        EXPECT_EQ(tooltest::Run(limited.c_str(), c.args, &out), 1) << c.args;
        EXPECT_NE(out.find("File too large"), std::string::npos) << c.args << ": " << out;
        struct stat info;
        if (before.empty()) {
            EXPECT_NE(stat(c.destination.c_str(), &info), 0) << c.args;
        } else {
            EXPECT_TRUE(ReadAll(c.destination) == before) << c.args;
        }
        // Nothing is left beside it.
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        EXPECT_EQ(names, (std::set<std::string>{"big.bmp", "big.oag", "dot-out.bmp", "dot.bmp", "out.oag"}))
            << c.args;
    }
}

TEST_F(OagPackTool, ShowsNamesAndPathsEscaped)
{
    // A name from the command line or the archive that holds a terminal
    // sequence reaches the terminal escaped, in messages and in the list.
    const std::string esc = "$(printf '\\033')";
    ASSERT_EQ(Run("create " + archive + " " + esc + "[2Jx=" + image), 0) << out;
    ASSERT_EQ(Run("list " + archive), 0) << out;
    EXPECT_NE(out.find("0 \\x1b[2Jx 2x1"), std::string::npos) << out;
    EXPECT_EQ(Run("create " + archive + " " + folder + "/" + esc + "[2J.bmp"), 1);
    EXPECT_NE(out.find(folder + "/\\x1b[2J.bmp"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
}
