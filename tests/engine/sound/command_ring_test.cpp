#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/object.h"
#include "engine/sound/command_ring.h"
#include "platform/sys/event.h"
#include "platform/sys/thread.h"

// A module of the tests' own on the shared frame: objects record what the
// worker ran for them, in order.
static OrvaObjectList g_testList;
static platform::Event g_gate;
static std::atomic<int> g_destroyed{0};
static std::atomic<bool> g_destroyedOnWorker{true};
static std::thread::id g_workerId;

class Recorder : public OrvaObject {
public:
    std::vector<uint32_t> seen;  // written on the worker, read after WaitIdle
    std::string name;
    ~Recorder() override
    {
        g_destroyed.fetch_add(1);
        if (std::this_thread::get_id() != g_workerId) {
            g_destroyedOnWorker.store(false);
        }
    }
};

enum : uint32_t { kRecord = 0, kRelease = 1, kBlock = 2, kName = 3, kQuit = 4 };

static const OrvaCommandEntry kCommands[] = {
    {[](OrvaObject* o, const OrvaCommandMessage& m) { static_cast<Recorder*>(o)->seen.push_back(m.GetWord()); }, false},
    {[](OrvaObject* o, const OrvaCommandMessage&) { o->Release(); }, false},
    {[](OrvaObject*, const OrvaCommandMessage&) { g_gate.Wait(); }, true},
    {[](OrvaObject* o, const OrvaCommandMessage& m) {
         static_cast<Recorder*>(o)->name = std::string(m.GetName()) + "|" + m.GetSecondName();
     },
     false},
};

static const OrvaWorkerModule kModule = {
    "orva-test",
    "\n=== Initialize Test\n",
    "\n=== Destroy Test\n",
    kCommands,
    4,
    kQuit,
    []() -> OrvaObjectList& { return g_testList; },
    [] { g_workerId = std::this_thread::get_id(); },
    nullptr,
};

static std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class CommandRingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = ::testing::TempDir() + "orva_ring_" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        g_gate.Reset();
        g_destroyed.store(0);
        g_destroyedOnWorker.store(true);
    }
    void TearDown() override
    {
        g_gate.Set();
        ring.Stop();
        OrvaDebug::SetLogPath(nullptr);
    }
    Recorder* NewRecorder()
    {
        auto* recorder = new Recorder();
        platform::ScopedLock guard(ring.GetLock());
        g_testList.PushFront(recorder);
        return recorder;
    }

    OrvaCommandRing ring{kModule};
    std::string logPath;
};

TEST_F(CommandRingTest, ServesInPostingOrderAcrossTheWrap)
{
    ASSERT_EQ(ring.Start(), 1);
    Recorder* recorder = NewRecorder();
    // Move the write position near the end of the ring.
    for (uint32_t i = 0; i < 60; ++i) {
        ring.PostWord(kRecord, recorder, i);
    }
    ring.WaitIdle();
    // Hold the worker, then fill slots 61 to 63 and wrap to 0 to 9: the
    // lowest signalled slot is then 0, while the oldest command is in 61.
    ring.PostWord(kBlock, recorder, 0);
    for (uint32_t i = 60; i < 73; ++i) {
        ring.PostWord(kRecord, recorder, i);
    }
    g_gate.Set();
    ring.WaitIdle();
    // And many more laps with the worker running alongside.
    for (uint32_t i = 73; i < 3000; ++i) {
        ring.PostWord(kRecord, recorder, i);
    }
    ring.WaitIdle();
    ASSERT_EQ(recorder->seen.size(), 3000u);
    for (uint32_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(recorder->seen[i], i);
    }
}

TEST_F(CommandRingTest, AFullRingMakesThePosterWaitInsteadOfOverwriting)
{
    ASSERT_EQ(ring.Start(), 1);
    Recorder* recorder = NewRecorder();
    ring.PostWord(kBlock, recorder, 0);
    struct Poster {
        OrvaCommandRing* ring;
        Recorder* recorder;
    } poster{&ring, recorder};
    platform::Thread thread;
    ASSERT_TRUE(thread.Start("poster", [](void* argument) {
        auto* p = static_cast<Poster*>(argument);
        for (uint32_t i = 0; i < 200; ++i) {
            p->ring->PostWord(kRecord, p->recorder, i);
        }
    }, &poster));
    // The worker holds one command; the poster fills the other 63 slots and
    // then says it waits.
    for (int i = 0; i < 2000 && ReadFile(logPath).find("コマンドリングが満杯") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_NE(ReadFile(logPath).find("■ コマンドリングが満杯"), std::string::npos);
    g_gate.Set();
    thread.Join();
    ring.WaitIdle();
    ASSERT_EQ(recorder->seen.size(), 200u);
    for (uint32_t i = 0; i < 200; ++i) {
        ASSERT_EQ(recorder->seen[i], i);
    }
}

TEST_F(CommandRingTest, WaitIdleWaitsForTheCommandInHand)
{
    ASSERT_EQ(ring.Start(), 1);
    // Nothing posted yet: nothing to wait for.
    ring.WaitIdle();
    Recorder* recorder = NewRecorder();
    ring.PostWord(kBlock, recorder, 0);
    std::atomic<bool> idle{false};
    struct Waiter {
        OrvaCommandRing* ring;
        std::atomic<bool>* idle;
    } waiter{&ring, &idle};
    platform::Thread thread;
    ASSERT_TRUE(thread.Start("idle", [](void* argument) {
        auto* w = static_cast<Waiter*>(argument);
        w->ring->WaitIdle();
        w->idle->store(true);
    }, &waiter));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(idle.load());
    ring.PostWord(kRecord, recorder, 7);
    g_gate.Set();
    thread.Join();
    EXPECT_TRUE(idle.load());
    ring.WaitIdle();
    EXPECT_EQ(recorder->seen, std::vector<uint32_t>{7});
}

TEST_F(CommandRingTest, UnknownCodesAndNullObjectsAreTakenAndIgnored)
{
    ASSERT_EQ(ring.Start(), 1);
    Recorder* recorder = NewRecorder();
    // More than a ring's worth: each must free its slot or this would block.
    for (int i = 0; i < 100; ++i) {
        ring.PostWord(40 + i, recorder, 1);
    }
    ring.PostWord(kRecord, nullptr, 2);
    ring.PostWord(kRecord, recorder, 3);
    ring.WaitIdle();
    EXPECT_EQ(recorder->seen, std::vector<uint32_t>{3});
}

TEST_F(CommandRingTest, PostsToAStoppedModuleAreDropped)
{
    Recorder* recorder = NewRecorder();
    ring.PostWord(kRecord, recorder, 1);
    ring.WaitIdle();
    ASSERT_EQ(ring.Start(), 1);
    ring.PostWord(kRecord, recorder, 2);
    ring.WaitIdle();
    EXPECT_EQ(recorder->seen, std::vector<uint32_t>{2});
    ring.Stop();
    ring.PostWord(kRecord, recorder, 3);
    ring.WaitIdle();
    // The recorder was released at quit.
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_EQ(g_testList.GetCount(), 0);
}

TEST_F(CommandRingTest, QuitReleasesEveryObjectOnTheWorker)
{
    ASSERT_EQ(ring.Start(), 1);
    for (int i = 0; i < 5; ++i) {
        ring.PostWord(kRecord, NewRecorder(), 1);
    }
    ring.Stop();
    EXPECT_EQ(g_destroyed.load(), 5);
    EXPECT_TRUE(g_destroyedOnWorker.load());
    EXPECT_EQ(g_testList.GetCount(), 0);
    const std::string log = ReadFile(logPath);
    EXPECT_EQ(log, "\n=== Initialize Test\n\n=== Destroy Test\n");
}

TEST_F(CommandRingTest, CommandsAfterAReleaseNeverReachTheObject)
{
    ASSERT_EQ(ring.Start(), 1);
    Recorder* recorder = NewRecorder();
    ring.PostWord(kRecord, recorder, 1);
    ring.PostWord(kRelease, recorder, 0);
    // A client's mistake: the object is gone when this is served.
    ring.PostWord(kRecord, recorder, 2);
    ring.WaitIdle();
    EXPECT_EQ(g_destroyed.load(), 1);
    EXPECT_NE(ReadFile(logPath).find("エラー : 解放済みのオブジェクトへのコマンド 0"), std::string::npos);
}

TEST_F(CommandRingTest, NamesMustFitTheirArea)
{
    ASSERT_EQ(ring.Start(), 1);
    Recorder* recorder = NewRecorder();
    EXPECT_TRUE(ring.PostNames(kName, recorder, std::string(127, 'a').c_str(), "second"));
    ring.WaitIdle();
    EXPECT_EQ(recorder->name, std::string(127, 'a') + "|second");
    EXPECT_FALSE(ring.PostNames(kName, recorder, std::string(128, 'a').c_str(), "b"));
    EXPECT_FALSE(ring.PostNames(kName, recorder, "a", std::string(128, 'b').c_str()));
    EXPECT_TRUE(ring.PostName(kName, recorder, std::string(255, 'c').c_str()));
    EXPECT_FALSE(ring.PostName(kName, recorder, std::string(256, 'c').c_str()));
    ring.WaitIdle();
    // The 255-byte name arrived whole; the refused ones never did.
    EXPECT_EQ(recorder->name, std::string(255, 'c') + "|" + std::string(127, 'c'));
    EXPECT_NE(ReadFile(logPath).find("エラー : ファイル名が長すぎます [256 バイト]\n"), std::string::npos);
}
