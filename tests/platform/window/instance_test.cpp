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

constexpr InstanceLockResult kAcquired = InstanceLockResult::Acquired;
constexpr InstanceLockResult kHeldElsewhere = InstanceLockResult::HeldElsewhere;
constexpr InstanceLockResult kFailed = InstanceLockResult::Failed;

TEST_F(InstanceLockTest, SecondHolderIsRefusedUntilRelease)
{
    InstanceLock first;
    InstanceLock second;
    ASSERT_EQ(first.Acquire("tarvolenix"), kAcquired);
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(first.GetPath(), folder + "/tarvolenix.lock");
    EXPECT_EQ(second.Acquire("tarvolenix"), kHeldElsewhere);
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_EQ(second.Acquire("tarvolenix"), kAcquired);
}

TEST_F(InstanceLockTest, NamesAreIndependent)
{
    InstanceLock a;
    InstanceLock b;
    EXPECT_EQ(a.Acquire("one"), kAcquired);
    EXPECT_EQ(b.Acquire("two"), kAcquired);
}

TEST_F(InstanceLockTest, SlashInNameStaysInTheFolder)
{
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire("a/b"), kAcquired);
    EXPECT_EQ(lock.GetPath(), folder + "/a_b.lock");
    InstanceLock empty;
    EXPECT_EQ(empty.Acquire(""), kFailed);
}

TEST_F(InstanceLockTest, AnotherProcessIsRefusedAndTheLockEndsWithItsHolder)
{
    InstanceLock mine;
    ASSERT_EQ(mine.Acquire("shared"), kAcquired);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock theirs;
        _exit(theirs.Acquire("shared") == kHeldElsewhere ? 0 : 1);
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
        _exit(held.Acquire("shared") == kAcquired ? 0 : 1);
    }
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(mine.Acquire("shared"), kAcquired);
}

TEST_F(InstanceLockTest, ALockFileThatCannotBeOpenedIsNoOtherInstance)
{
    ASSERT_EQ(mkdir((folder + "/blocked.lock").c_str(), 0700), 0);
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire("blocked"), kFailed);
    EXPECT_EQ(lock.GetError(), "cannot open " + folder + "/blocked.lock: Is a directory");
}

TEST_F(InstanceLockTest, WithoutARuntimeFolderTheLockIsInAFolderOfTheUsersOwn)
{
    // A runtime folder that is missing, or that belongs to someone else (the
    // one a user keeps after su), is passed over: a folder of root's for a
    // user, one of nobody's for root.
    std::string others = "/";
    if (geteuid() == 0) {
        others = folder + "/nobody";
        ASSERT_EQ(mkdir(others.c_str(), 0700), 0);
        ASSERT_EQ(chown(others.c_str(), 65534, 65534), 0);
    }
    const std::string name = "orva-lock-test-" + std::to_string(getpid());
    const std::string own = "/tmp/" + name + "-" + std::to_string(geteuid());
    InstanceLock lock;
    for (const std::string& runtime : {folder + "/missing", others}) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ASSERT_EQ(lock.Acquire(name), kAcquired) << lock.GetError();
        EXPECT_EQ(lock.GetPath(), own + "/" + name + ".lock");
        struct stat info;
        ASSERT_EQ(lstat(own.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        lock.Release();
        unlink(lock.GetPath().c_str());
        rmdir(own.c_str());
    }

    // A folder of that name that another could have put there is not used.
    ASSERT_EQ(symlink(folder.c_str(), own.c_str()), 0);
    EXPECT_EQ(lock.Acquire(name), kFailed);
    EXPECT_EQ(lock.GetError(), own + " is not a folder of this user's own");
    unlink(own.c_str());
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
