#include "platform/sys/file.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

TEST(OpenRegularFile, OpensFilesOnlyAndNeverWaitsForAWriter)
{
    const std::string folder = ::testing::TempDir();
    const std::string file = folder + "plain.dat";
    ASSERT_TRUE(platform::WriteWholeFile(file.c_str(), "abc", 3, nullptr));
    const std::string fifo = folder + "fifo.dat";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = folder + "zero.dat";
    unlink(zero.c_str());
    ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
    // A socket cannot even be opened: its kind is still what is said.
    const std::string socketPath = folder + "socket.dat";
    unlink(socketPath.c_str());
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(listener);
    struct Case {
        std::string path;
        int error;         // 0: opens
        const char* said;  // the log line's words
    };
    const Case cases[] = {
        {file, 0, ""},
        {fifo, EINVAL, "is a FIFO, not a regular file"},
        {zero, EINVAL, "is a character device, not a regular file"},
        {socketPath, EINVAL, "is a socket, not a regular file"},
        {folder, EISDIR, "is a directory, not a regular file"},
        {folder + "absent.dat", ENOENT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ::testing::internal::CaptureStderr();
        errno = 0;
        std::FILE* stream = platform::OpenRegularFileStream(c.path.c_str());
        const int error = errno;
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(stream != nullptr, c.error == 0);
        if (stream != nullptr) {
            char bytes[4] = {};
            EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, stream), 3u);
            EXPECT_STREQ(bytes, "abc");
            std::fclose(stream);
            continue;
        }
        EXPECT_EQ(error, c.error);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
    unlink(fifo.c_str());
    unlink(zero.c_str());
    unlink(socketPath.c_str());
}
