#include "platform/sys/file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string ReadAll(const std::string& path)
{
    std::string bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, n);
        }
        std::fclose(file);
    }
    return bytes;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info = {};
    lstat(path.c_str(), &info);
    return info.st_mode;
}

}  // namespace

TEST(WriteWholeFile, KeepsThePermissionsAndTheLinkOfWhatItReplaces)
{
    const std::string folder = ::testing::TempDir();
    const std::string fresh = folder + "fresh.dat";
    std::string error;
    const mode_t mask = umask(022);
    ASSERT_TRUE(platform::WriteWholeFile(fresh.c_str(), "abc", 3, &error)) << error;
    EXPECT_EQ(ModeOf(fresh) & 0777, 0644u);
    EXPECT_EQ(ReadAll(fresh), "abc");

    const std::string kept = folder + "kept.dat";
    ASSERT_TRUE(platform::WriteWholeFile(kept.c_str(), "old", 3, &error)) << error;
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
    const std::string link = folder + "link.dat";
    ASSERT_EQ(symlink(kept.c_str(), link.c_str()), 0);
    ASSERT_TRUE(platform::WriteWholeFile(link.c_str(), "newer", 5, &error)) << error;
    EXPECT_TRUE(S_ISLNK(ModeOf(link)));
    EXPECT_EQ(ModeOf(kept) & 0777, 0640u);
    EXPECT_EQ(ReadAll(kept), "newer");
    umask(mask);

    // A folder is not replaced by a file.
    EXPECT_FALSE(platform::WriteWholeFile(folder.c_str(), "x", 1, &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
}
