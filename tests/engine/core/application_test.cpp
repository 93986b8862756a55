#include "engine/core/application.h"

#include "engine/core/debug.h"
#include "engine/core/input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const bool kHeadless = (setenv("ORVA_WINDOW", "headless", 1), true);

constexpr int kModuleCount = int(OrvaModule::Count);

const char* const kNames[kModuleCount] = {
    "SystemInfo", "Timer",      "AngleTables", "Ime",        "DebugWindow", "Device",      "Camera",
    "Shader",     "Texture",    "Sprite",      "Scene",      "Model",       "Surface",     "ListSprite",
    "GdiFont",    "FontSprite", "FontEffects", "Sheet",      "Primitive2D", "Primitive3D", "Particle",
    "PixelLock",  "Input",      "Sound",       "Music",      "Audio",       "Network",     "Media",
    "Mci",
};

std::vector<std::string> g_calls;
bool g_fails[kModuleCount] = {};

template <int N>
bool FakeInitialize()
{
    g_calls.push_back(std::string("+") + kNames[N]);
    return !g_fails[N];
}

template <int N>
void FakeDestroy()
{
    g_calls.push_back(std::string("-") + kNames[N]);
}

template <int... N>
void FillAllSlots(std::integer_sequence<int, N...>)
{
    (OrvaApplication::SetModuleEntry(OrvaModule(N), &FakeInitialize<N>, &FakeDestroy<N>), ...);
}

// Settings the set-up callback records for the next run.
uint32_t g_useFlags = 0;
int32_t g_frameRate = 1000;
std::string g_name;
std::vector<std::pair<uint32_t, OrvaMessageHandler>> g_hooksToAdd;
std::vector<bool> g_hookResults;
bool g_frameRateInTitle = false;

void RecordSettings()
{
    g_calls.push_back("setup");
    OrvaApplication::SetApplicationName(g_name.c_str());
    OrvaApplication::SetScreenSize(64, 48);
    OrvaApplication::SetFrameRate(g_frameRate);
    OrvaApplication::SetUseFlags(g_useFlags);
    OrvaApplication::SetFrameRateInTitle(g_frameRateInTitle);
    g_hookResults.clear();
    for (const auto& hook : g_hooksToAdd) {
        g_hookResults.push_back(OrvaApplication::AddMessageHook(hook.first, hook.second));
    }
}

int32_t (*g_body)() = nullptr;

int32_t Main()
{
    g_calls.push_back("main");
    return g_body != nullptr ? g_body() : 0;
}

// Frames until the pump reports the end; stops at a bound so that a fault
// fails the test instead of hanging it.
int32_t PumpToEnd(int32_t bound)
{
    int32_t frames = 0;
    while (OrvaApplication::Pump()) {
        if (++frames >= bound) {
            break;
        }
    }
    return frames;
}

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kHeadless);
        g_calls.clear();
        for (bool& fails : g_fails) {
            fails = false;
        }
        for (int i = 0; i < kModuleCount; ++i) {
            OrvaApplication::SetModuleEntry(OrvaModule(i), nullptr, nullptr);
        }
        OrvaApplication::SetGraphEventHandler(nullptr);
        OrvaApplication::SetMciNotifyHandler(nullptr);
        g_useFlags = 0;
        g_frameRate = 1000;
        g_frameRateInTitle = false;
        // A name of this process's own: parallel test runs never meet. Its
        // lock goes in the test's own folder, removed at the end.
        g_name = "orva-application-test-" + std::to_string(getpid());
        const std::string folder = ::testing::TempDir();
        setenv("XDG_RUNTIME_DIR", folder.substr(0, folder.size() - 1).c_str(), 1);
        g_hooksToAdd.clear();
        g_body = nullptr;
    }
    void TearDown() override
    {
        // The frame's own input module goes back into its slot, the
        // platform's clock into the limiter.
        OrvaApplication::SetModuleEntry(OrvaModule::Input, &OrvaInput::Initialize, &OrvaInput::Destroy);
        OrvaApplication::SetFrameClock(nullptr, nullptr);
    }
};

// ------------------------------------------------------------ module lists

std::vector<std::string> Calls(std::initializer_list<const char*> names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

TEST_F(ApplicationTest, StartsAndStopsTheGameModulesInTheirOrder)
{
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    g_useFlags = kOrvaUseGraphics | kOrvaUseInput | kOrvaUseAudio;
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_EQ(g_calls, Calls({"setup",        "+SystemInfo",  "+Timer",       "+AngleTables", "+Ime",
                              "+Device",      "+Camera",      "+Shader",      "+Texture",     "+Sprite",
                              "+Scene",       "+Model",       "+Surface",     "+ListSprite",  "+GdiFont",
                              "+FontSprite",  "+FontEffects", "+Sheet",       "+Primitive2D", "+Primitive3D",
                              "+Particle",    "+PixelLock",   "+Input",       "+Audio",       "main",
                              "-Timer",       "-Ime",         "-DebugWindow", "-Audio",       "-Input",
                              "-PixelLock",   "-Particle",    "-Primitive3D", "-Primitive2D", "-Sheet",
                              "-FontEffects", "-FontSprite",  "-GdiFont",     "-ListSprite",  "-Sprite",
                              "-Scene",       "-Model",       "-Shader",      "-Surface",     "-Texture",
                              "-Camera",      "-Device"}));
}

TEST_F(ApplicationTest, EveryFlagStartsItsModuleInOrder)
{
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    g_useFlags = 0xFE;  // everything but graphics
    OrvaApplication::Run(&RecordSettings, &Main);
    EXPECT_EQ(g_calls, Calls({"setup", "+SystemInfo", "+Timer", "+AngleTables", "+Ime", "+Input", "+Sound",
                              "+Music", "+Audio", "+Network", "+Media", "+Mci", "main", "-Timer", "-Ime",
                              "-DebugWindow", "-Mci", "-Media", "-Network", "-Audio", "-Music", "-Sound",
                              "-Input"}));
}

TEST_F(ApplicationTest, WithoutFlagsOnlyTheFixedModulesRun)
{
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    OrvaApplication::Run(&RecordSettings, &Main);
    EXPECT_EQ(g_calls, Calls({"setup", "+SystemInfo", "+Timer", "+AngleTables", "+Ime", "main", "-Timer", "-Ime",
                              "-DebugWindow"}));
}

TEST_F(ApplicationTest, EmptySlotsAreSkipped)
{
    OrvaApplication::SetModuleEntry(OrvaModule::Camera, &FakeInitialize<int(OrvaModule::Camera)>,
                                    &FakeDestroy<int(OrvaModule::Camera)>);
    OrvaApplication::SetModuleEntry(OrvaModule::Input, nullptr, nullptr);
    // Out of range: ignored, nothing is written outside the table.
    OrvaApplication::SetModuleEntry(OrvaModule(-1), &FakeInitialize<0>, &FakeDestroy<0>);
    OrvaApplication::SetModuleEntry(OrvaModule::Count, &FakeInitialize<0>, &FakeDestroy<0>);
    g_useFlags = 0xFF;
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_EQ(g_calls, Calls({"setup", "+Camera", "main", "-Camera"}));
}

TEST_F(ApplicationTest, OtherFailuresAreIgnored)
{
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    g_fails[int(OrvaModule::Camera)] = true;
    g_fails[int(OrvaModule::Input)] = true;
    g_fails[int(OrvaModule::Timer)] = true;
    g_useFlags = kOrvaUseGraphics | kOrvaUseInput;
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_NE(std::find(g_calls.begin(), g_calls.end(), "main"), g_calls.end());
    EXPECT_NE(std::find(g_calls.begin(), g_calls.end(), "+PixelLock"), g_calls.end());
    EXPECT_NE(std::find(g_calls.begin(), g_calls.end(), "-Camera"), g_calls.end());
}

TEST_F(ApplicationTest, DeviceFailureStopsTheStart)
{
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    g_fails[int(OrvaModule::Device)] = true;
    g_useFlags = kOrvaUseGraphics | kOrvaUseInput | kOrvaUseAudio;
    const int before = platform::GetMessageBoxCount();
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), -1);
    // Nothing after the device starts; what did start is stopped again.
    EXPECT_EQ(g_calls, Calls({"setup", "+SystemInfo", "+Timer", "+AngleTables", "+Ime", "+Device", "-Timer", "-Ime",
                              "-DebugWindow", "-Device"}));
    EXPECT_EQ(platform::GetMessageBoxCount(), before + 1);
    std::string caption;
    std::string text;
    ASSERT_TRUE(platform::GetLastMessageBox(&caption, &text));
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, "DirectX8.1が正しくインストールされていない可能性があります");
}

// ------------------------------------------------------------ single instance

// Runs the application, which must refuse to start, before any module,
// with one error box saying `text`.
void ExpectStartRefused(const std::string& text)
{
    const int before = platform::GetMessageBoxCount();
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), -1);
    EXPECT_EQ(g_calls, Calls({"setup"}));
    EXPECT_EQ(platform::GetMessageBoxCount(), before + 1);
    std::string caption;
    std::string shown;
    EXPECT_TRUE(platform::GetLastMessageBox(&caption, &shown));
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(shown, text);
}

TEST_F(ApplicationTest, SecondInstanceIsRefused)
{
    platform::InstanceLock other;
    ASSERT_EQ(other.Acquire(g_name), platform::InstanceLockResult::Acquired);
    FillAllSlots(std::make_integer_sequence<int, kModuleCount>());
    ExpectStartRefused("2重起動は出来ません");

    // Released, the name can run again, and a run frees it at its end.
    g_calls.clear();
    other.Release();
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_EQ(other.Acquire(g_name), platform::InstanceLockResult::Acquired);
}

TEST_F(ApplicationTest, ALockThatCannotBeOpenedIsReportedAsSuch)
{
    // A folder where the lock file belongs: no one holds the lock, but it
    // cannot be had either.
    const std::string lock = ::testing::TempDir() + g_name + ".lock";
    unlink(lock.c_str());
    ASSERT_EQ(mkdir(lock.c_str(), 0700), 0);
    ExpectStartRefused("2重起動を調べるロックが使えません\ncannot open " + lock + ": Is a directory");
    rmdir(lock.c_str());
}

// ------------------------------------------------------------ hooks

std::vector<std::string> g_hookCalls;

std::string Note(const char* format, uintptr_t wParam, intptr_t lParam)
{
    char text[64];
    std::snprintf(text, sizeof text, format, unsigned(wParam), int(lParam));
    return text;
}

void HookA(uintptr_t wParam, intptr_t lParam)
{
    g_hookCalls.push_back(Note("A%u", wParam, lParam));
}
void HookB(uintptr_t wParam, intptr_t lParam)
{
    g_hookCalls.push_back(Note("B%u", wParam, lParam));
}
void HookC(uintptr_t wParam, intptr_t lParam)
{
    g_hookCalls.push_back(Note("C%u:%d", wParam, lParam));
}
void HookOnClose(uintptr_t, intptr_t)
{
    // The default handling (the window's destruction) comes after the hooks.
    platform::Window* window = OrvaApplication::GetWindowHandle();
    g_hookCalls.push_back(window != nullptr && !window->IsDestroyed() ? "close-before-default" : "close-late");
}
void HookCount(uintptr_t, intptr_t)
{
    g_hookCalls.push_back("n");
}
void HookLast(uintptr_t, intptr_t)
{
    g_hookCalls.push_back("last");
}

TEST_F(ApplicationTest, HooksRunInRegistrationOrderBeforeTheDefault)
{
    g_hookCalls.clear();
    g_hooksToAdd = {{platform::WM_USER + 3, &HookA},
                    {platform::WM_USER + 4, &HookB},
                    {platform::WM_USER + 3, &HookC},
                    {platform::WM_CLOSE, &HookOnClose}};
    g_body = [] {
        platform::PostMessage(OrvaApplication::GetWindowHandle(), platform::WM_USER + 3, 5, 6);
        platform::PostMessage(OrvaApplication::GetWindowHandle(), platform::WM_USER + 4, 7, 0);
        EXPECT_TRUE(OrvaApplication::Pump());
        OrvaApplication::Exit();
        return PumpToEnd(100);
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_EQ(g_hookResults, std::vector<bool>(4, true));
    EXPECT_EQ(g_hookCalls, Calls({"A5", "C5:6", "B7", "close-before-default"}));
}

TEST_F(ApplicationTest, HookTableHoldsSixtyFour)
{
    g_hookCalls.clear();
    for (int i = 0; i < OrvaApplication::kMaxMessageHooks - 1; ++i) {
        g_hooksToAdd.push_back({platform::WM_USER + 2, &HookCount});
    }
    g_hooksToAdd.push_back({platform::WM_USER + 2, &HookLast});
    g_hooksToAdd.push_back({platform::WM_USER + 2, &HookA});  // the 65th
    g_hooksToAdd.push_back({platform::WM_USER + 2, nullptr});
    g_body = [] {
        EXPECT_EQ(OrvaApplication::GetMessageHookCount(), 64);
        platform::PostMessage(OrvaApplication::GetWindowHandle(), platform::WM_USER + 2, 0, 0);
        EXPECT_TRUE(OrvaApplication::Pump());
        return 0;
    };
    OrvaApplication::Run(&RecordSettings, &Main);
    std::vector<bool> expected(64, true);
    expected.push_back(false);
    expected.push_back(false);
    EXPECT_EQ(g_hookResults, expected);
    ASSERT_EQ(g_hookCalls.size(), 64u);
    EXPECT_EQ(g_hookCalls.back(), "last");
}

TEST_F(ApplicationTest, AFreshRunStartsWithAnEmptyHookTable)
{
    g_hooksToAdd = {{platform::WM_USER, &HookA}};
    OrvaApplication::Run(&RecordSettings, &Main);
    g_hooksToAdd.clear();
    g_body = [] { return OrvaApplication::GetMessageHookCount(); };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

// ------------------------------------------------------------ ending the run

void QuitOnEscape(uintptr_t wParam, intptr_t)
{
    if (wParam == platform::VK_ESCAPE) {
        OrvaApplication::Exit();
    }
}

TEST_F(ApplicationTest, EscapeThroughTheKeyHookEndsTheRun)
{
    g_hooksToAdd = {{platform::WM_KEYDOWN, &QuitOnEscape}};
    g_body = [] {
        int32_t frames = 0;
        while (OrvaApplication::Pump()) {
            ++frames;
            if (frames == 3) {
                // Another key first: only Escape ends it.
                platform::InjectKey('Z', true);
                platform::InjectKey(platform::VK_ESCAPE, true);
            }
            if (frames > 100) {
                break;
            }
        }
        EXPECT_TRUE(OrvaApplication::IsExiting());
        EXPECT_TRUE(OrvaApplication::GetWindowHandle()->IsDestroyed());
        // The end is final.
        EXPECT_FALSE(OrvaApplication::Pump());
        return frames;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 3);
}

TEST_F(ApplicationTest, EscapeAloneDoesNothingWithoutAHook)
{
    g_body = [] {
        platform::InjectKey(platform::VK_ESCAPE, true);
        int32_t frames = 0;
        for (; frames < 5 && OrvaApplication::Pump(); ++frames) {
        }
        return frames;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 5);
}

TEST_F(ApplicationTest, ClosingTheWindowEndsTheRun)
{
    g_body = [] {
        EXPECT_TRUE(OrvaApplication::Pump());
        platform::InjectClose();
        const int32_t frames = PumpToEnd(100);
        EXPECT_FALSE(OrvaApplication::IsExiting());
        return frames;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

// ------------------------------------------------------------ messages from other threads

std::atomic<int> g_graphEvents{0};
std::thread::id g_graphEventThread;
std::atomic<bool> g_graphEventOffMain{false};

void OnGraphEvent()
{
    if (std::this_thread::get_id() != g_graphEventThread) {
        g_graphEventOffMain = true;
    }
    ++g_graphEvents;
}

TEST_F(ApplicationTest, GraphEventPostedFromAnotherThreadReachesTheMainThread)
{
    g_graphEvents = 0;
    g_graphEventOffMain = false;
    g_graphEventThread = std::this_thread::get_id();
    OrvaApplication::SetGraphEventHandler(&OnGraphEvent);
    g_body = [] {
        std::thread worker([] {
            for (int i = 0; i < 5; ++i) {
                platform::PostMessage(OrvaApplication::GetWindowHandle(), kOrvaGraphEventMessage, 0, 0);
            }
        });
        worker.join();
        for (int frames = 0; g_graphEvents < 5 && frames < 100; ++frames) {
            OrvaApplication::Pump();
        }
        return 0;
    };
    OrvaApplication::Run(&RecordSettings, &Main);
    EXPECT_EQ(g_graphEvents, 5);
    EXPECT_FALSE(g_graphEventOffMain);
}

std::vector<std::pair<uintptr_t, intptr_t>> g_mciNotes;

void OnMciNotify(uintptr_t wParam, intptr_t lParam)
{
    g_mciNotes.push_back({wParam, lParam});
}

TEST_F(ApplicationTest, OnlySuccessfulMciNotificationsArePassedOn)
{
    g_mciNotes.clear();
    OrvaApplication::SetMciNotifyHandler(&OnMciNotify);
    g_body = [] {
        platform::Window* window = OrvaApplication::GetWindowHandle();
        platform::PostMessage(window, platform::MM_MCINOTIFY, 2, 11);  // superseded
        platform::PostMessage(window, platform::MM_MCINOTIFY, 1, 12);  // successful
        platform::PostMessage(window, platform::MM_MCINOTIFY, 4, 13);  // aborted
        platform::PostMessage(window, platform::MM_MCINOTIFY, 8, 14);  // failure
        OrvaApplication::Pump();
        return 0;
    };
    OrvaApplication::Run(&RecordSettings, &Main);
    ASSERT_EQ(g_mciNotes.size(), 1u);
    EXPECT_EQ(g_mciNotes[0].first, 1u);
    EXPECT_EQ(g_mciNotes[0].second, 12);
}

std::atomic<bool> g_reactivated{false};
std::atomic<bool> g_servedWhileInactive{false};

TEST_F(ApplicationTest, InactiveApplicationKeepsServingMessagesButGetsNoFrame)
{
    g_graphEvents = 0;
    g_reactivated = false;
    g_servedWhileInactive = false;
    g_graphEventThread = std::this_thread::get_id();
    OrvaApplication::SetGraphEventHandler(&OnGraphEvent);
    g_body = [] {
        platform::InjectActivate(false);
        std::thread other([] {
            platform::PostMessage(OrvaApplication::GetWindowHandle(), kOrvaGraphEventMessage, 0, 0);
            for (int i = 0; i < 2000 && g_graphEvents == 0; ++i) {
                platform::SleepMs(1);
            }
            g_servedWhileInactive = g_graphEvents == 1;
            g_reactivated = true;
            platform::InjectActivate(true);
        });
        const bool more = OrvaApplication::Pump();
        // The pump could only come back after the focus did.
        const bool reactivatedFirst = g_reactivated;
        other.join();
        EXPECT_TRUE(more);
        EXPECT_TRUE(reactivatedFirst);
        EXPECT_TRUE(OrvaApplication::IsActive());
        return 0;
    };
    OrvaApplication::Run(&RecordSettings, &Main);
    EXPECT_TRUE(g_servedWhileInactive);
}

// ------------------------------------------------------------ frame limiter

TEST(OrvaApplicationFrameLimiter, SleepsWhatIsLeftOfTheFrame)
{
    EXPECT_EQ(OrvaApplication::FrameSleepMs(60, 0), 16);
    EXPECT_EQ(OrvaApplication::FrameSleepMs(60, 5), 11);    // (1000 - 300) / 60
    EXPECT_EQ(OrvaApplication::FrameSleepMs(60, 16), 0);    // 40 / 60
    EXPECT_EQ(OrvaApplication::FrameSleepMs(60, 17), 0);    // negative
    EXPECT_EQ(OrvaApplication::FrameSleepMs(30, 10), 23);   // (1000 - 300) / 30
    EXPECT_EQ(OrvaApplication::FrameSleepMs(1, 999), 1);
    EXPECT_EQ(OrvaApplication::FrameSleepMs(1000, 0), 1);
    EXPECT_EQ(OrvaApplication::FrameSleepMs(1000, 1), 0);
    EXPECT_EQ(OrvaApplication::FrameSleepMs(0, 0), 0);      // no limit
    EXPECT_EQ(OrvaApplication::FrameSleepMs(-5, 0), 0);
    // A stall of weeks must not wrap into a long sleep.
    EXPECT_EQ(OrvaApplication::FrameSleepMs(60, 0xFFFFFFFFu), 0);
    EXPECT_EQ(OrvaApplication::FrameSleepMs(0x7FFFFFFF, 0x7FFFFFFFu), 0);
}

// The test's own clock: frames take the time the test gives them, and a
// sleep moves the clock on by what it was asked for.
uint32_t g_clockMs = 0;
uint32_t g_sleptMs = 0;

TEST_F(ApplicationTest, PumpSleepsWhatTheLimiterLeavesOfEachFrame)
{
    OrvaApplication::SetFrameClock([] { return g_clockMs; },
                                   [](uint32_t ms) {
                                       g_sleptMs += ms;
                                       g_clockMs += ms;
                                   });
    g_frameRate = 60;
    g_clockMs = 7000;
    g_body = [] {
        // (1000 - 60 x E) / 60 whole milliseconds after E of work; nothing
        // once the frame has used up its time.
        const struct {
            uint32_t workMs;
            uint32_t sleepMs;
        } frames[] = {{0, 16}, {5, 11}, {10, 6}, {15, 1}, {16, 0}, {17, 0}, {40, 0}, {1, 15}, {0, 16}};
        for (const auto& frame : frames) {
            g_clockMs += frame.workMs;
            g_sleptMs = 0;
            EXPECT_TRUE(OrvaApplication::Pump());
            EXPECT_EQ(g_sleptMs, frame.sleepMs) << "after " << frame.workMs << " ms of work";
        }
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

TEST_F(ApplicationTest, TitleShowsFramesAndPolygonsOfTheLastSecond)
{
    g_frameRate = 100;
    g_frameRateInTitle = true;
    g_body = [] {
        // Ten polygons a frame for a little over one second.
        for (int frames = 0; frames < 400 && OrvaApplication::GetFramesPerSecond() == 0; ++frames) {
            OrvaApplication::AddPolygonCount(10);
            OrvaApplication::Pump();
        }
        const std::string title = OrvaApplication::GetWindowHandle()->GetTitle();
        int fps = 0;
        int pps = 0;
        int ppf = 0;
        char name[128] = "";
        EXPECT_EQ(std::sscanf(title.c_str(), "%127s  FPS[%d] PPS[%d] PPF[%d]", name, &fps, &pps, &ppf), 4)
            << title;
        EXPECT_EQ(std::string(name), OrvaApplication::GetApplicationName());
        EXPECT_EQ(fps, OrvaApplication::GetFramesPerSecond());
        EXPECT_GT(fps, 0);
        EXPECT_EQ(pps, OrvaApplication::GetPolygonsPerSecond());
        EXPECT_EQ(ppf, pps / fps);
        // The polygons of one frame can fall into the second before.
        EXPECT_GE(ppf, 9);
        EXPECT_LE(ppf, 10);
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

// ------------------------------------------------------------ services

TEST_F(ApplicationTest, ServicesOfTheRunningApplication)
{
    g_body = [] {
        int32_t width = 0;
        int32_t height = 0;
        OrvaApplication::GetScreenSize(&width, nullptr);
        OrvaApplication::GetScreenSize(nullptr, &height);
        OrvaApplication::GetScreenSize(nullptr, nullptr);
        EXPECT_EQ(width, 64);
        EXPECT_EQ(height, 48);
        EXPECT_NE(OrvaApplication::GetInstanceHandle(), nullptr);

        platform::Window* window = OrvaApplication::GetWindowHandle();
        EXPECT_NE(window, nullptr);
        EXPECT_EQ(window->GetTitle(), OrvaApplication::GetApplicationName());

        // The program's folder is current.
        char cwd[4096];
        EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
        EXPECT_EQ(std::string(cwd), platform::GetProgramFolder());

        // Frames from the device reach the window.
        const uint32_t frame[4] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};
        OrvaApplication::PresentFrame(frame, 2, 2, 8);
        std::vector<uint32_t> shown;
        EXPECT_TRUE(window->ReadFrame(&shown, nullptr, nullptr));
        EXPECT_EQ(shown, std::vector<uint32_t>(frame, frame + 4));

        // The engine's message boxes go through the window layer.
        const int boxes = platform::GetMessageBoxCount();
        OrvaDebug::MsgBox(0x10, "Error", "code %d", 42);
        std::string caption;
        std::string text;
        EXPECT_TRUE(platform::GetLastMessageBox(&caption, &text));
        EXPECT_EQ(platform::GetMessageBoxCount(), boxes + 1);
        EXPECT_EQ(text, "code 42");
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_EQ(OrvaApplication::GetWindowHandle(), nullptr);
    // No window, nothing to show: no crash.
    const uint32_t pixel = 0;
    OrvaApplication::PresentFrame(&pixel, 1, 1, 4);
}

}  // namespace
