#include "platform/window/window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

// Each test gets a runtime folder of its own, so that runs in parallel and
// other programs' locks never meet.
class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orva-lock-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadRuntime = old != nullptr;
        oldRuntime = hadRuntime ? old : "";
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadRuntime) {
            setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        std::string command = "rm -rf '" + folder + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string folder;
    bool hadRuntime = false;
    std::string oldRuntime;
};

TEST_F(InstanceLockTest, SecondHolderIsRefusedUntilRelease)
{
    InstanceLock first;
    InstanceLock second;
    ASSERT_TRUE(first.Acquire("tarvolenix"));
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(first.GetPath(), folder + "/tarvolenix.lock");
    EXPECT_FALSE(second.Acquire("tarvolenix"));
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_TRUE(second.Acquire("tarvolenix"));
}

TEST_F(InstanceLockTest, NamesAreIndependent)
{
    InstanceLock a;
    InstanceLock b;
    EXPECT_TRUE(a.Acquire("one"));
    EXPECT_TRUE(b.Acquire("two"));
}

TEST_F(InstanceLockTest, SlashInNameStaysInTheFolder)
{
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire("a/b"));
    EXPECT_EQ(lock.GetPath(), folder + "/a_b.lock");
    InstanceLock empty;
    EXPECT_FALSE(empty.Acquire(""));
}

TEST_F(InstanceLockTest, AnotherProcessIsRefusedAndTheLockEndsWithItsHolder)
{
    InstanceLock mine;
    ASSERT_TRUE(mine.Acquire("shared"));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock theirs;
        _exit(theirs.Acquire("shared") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    mine.Release();

    // A holder that ends without releasing frees the lock all the same.
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        static InstanceLock held;
        _exit(held.Acquire("shared") ? 0 : 1);
    }
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(mine.Acquire("shared"));
}

TEST_F(InstanceLockTest, FallsBackToTmpWithoutAUsableRuntimeFolder)
{
    setenv("XDG_RUNTIME_DIR", (folder + "/missing").c_str(), 1);
    InstanceLock lock;
    const std::string name = "orva-lock-test-" + std::to_string(getpid());
    ASSERT_TRUE(lock.Acquire(name));
    EXPECT_EQ(lock.GetPath(), "/tmp/" + name + ".lock");
    lock.Release();
    unlink(("/tmp/" + name + ".lock").c_str());
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgram)
{
    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder[0], '/');
    EXPECT_NE(folder.back(), '/');
    // This test program lives there.
    EXPECT_EQ(access((folder + "/platform_window_test").c_str(), X_OK), 0);

    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_TRUE(SetCurrentFolder(folder));
    char now[4096];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(std::string(now), folder);
    EXPECT_FALSE(SetCurrentFolder("/no/such/folder/here"));
    ASSERT_TRUE(SetCurrentFolder(before));
}

TEST(Clock, SleepLastsAtLeastItsTimeAndTheClockNeverGoesBack)
{
    const uint32_t start = GetTimeMs();
    SleepMs(25);
    const uint32_t later = GetTimeMs();
    EXPECT_GE(later - start, 25u);
    EXPECT_GE(GetTimeMs(), later);
}

}  // namespace
