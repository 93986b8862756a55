// The application frame: start-up and shut-down lists, the window and its
// procedure with message hooks, the per-frame pump and frame limiter, settings.
#include "engine/core/application.h"

#include "engine/core/debug.h"
#include "engine/core/input.h"
#include "engine/core/object.h"
#include "platform/sys/printable.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {

constexpr int32_t kModuleCount = int32_t(OrvaModule::Count);
constexpr uint32_t kAlways = 0;  // a list entry started and stopped whatever the flags

struct ModuleEntry {
    OrvaApplication::ModuleInitialize initialize = nullptr;
    OrvaApplication::ModuleDestroy destroy = nullptr;
    // Initialize was called in this run (whatever it answered): only those
    // modules are stopped, besides the ones without an Initialize.
    bool started = false;
    // The module's live objects, built in listRoom on first use, and what
    // stops its worker before they are released at exit.
    OrvaObjectList* objects = nullptr;
    void (*stopAtExit)() = nullptr;
};

struct ListEntry {
    OrvaModule id;
    uint32_t flag;
};

const char* const kModuleNames[kModuleCount] = {
    "SystemInfo", "Timer",      "AngleTables", "Ime",        "DebugWindow", "Device",      "Camera",
    "Shader",     "Texture",    "Sprite",      "Scene",      "Model",       "Surface",     "ListSprite",
    "GdiFont",    "FontSprite", "FontEffects", "Sheet",      "Primitive2D", "Primitive3D", "Particle",
    "PixelLock",  "Input",      "Sound",       "Music",      "Audio",       "Network",     "Media",
    "Mci",
};

// The start-up list. Only the device's failure stops it.
const ListEntry kStartOrder[] = {
    {OrvaModule::SystemInfo, kAlways},
    {OrvaModule::Timer, kAlways},
    {OrvaModule::AngleTables, kAlways},
    {OrvaModule::Ime, kAlways},
    {OrvaModule::Device, kOrvaUseGraphics},
    {OrvaModule::Camera, kOrvaUseGraphics},
    {OrvaModule::Shader, kOrvaUseGraphics},
    {OrvaModule::Texture, kOrvaUseGraphics},
    {OrvaModule::Sprite, kOrvaUseGraphics},
    {OrvaModule::Scene, kOrvaUseGraphics},
    {OrvaModule::Model, kOrvaUseGraphics},
    {OrvaModule::Surface, kOrvaUseGraphics},
    {OrvaModule::ListSprite, kOrvaUseGraphics},
    {OrvaModule::GdiFont, kOrvaUseGraphics},
    {OrvaModule::FontSprite, kOrvaUseGraphics},
    {OrvaModule::FontEffects, kOrvaUseGraphics},
    {OrvaModule::Sheet, kOrvaUseGraphics},
    {OrvaModule::Primitive2D, kOrvaUseGraphics},
    {OrvaModule::Primitive3D, kOrvaUseGraphics},
    {OrvaModule::Particle, kOrvaUseGraphics},
    {OrvaModule::PixelLock, kOrvaUseGraphics},
    {OrvaModule::Input, kOrvaUseInput},
    {OrvaModule::Sound, kOrvaUseSound},
    {OrvaModule::Music, kOrvaUseMusic},
    {OrvaModule::Audio, kOrvaUseAudio},
    {OrvaModule::Network, kOrvaUseNetwork},
    {OrvaModule::Media, kOrvaUseMedia},
    {OrvaModule::Mci, kOrvaUseMci},
};

// The shut-down list: not the start's mirror image, the device goes last.
const ListEntry kStopOrder[] = {
    {OrvaModule::Timer, kAlways},
    {OrvaModule::Ime, kAlways},
    {OrvaModule::DebugWindow, kAlways},
    {OrvaModule::Mci, kOrvaUseMci},
    {OrvaModule::Media, kOrvaUseMedia},
    {OrvaModule::Network, kOrvaUseNetwork},
    {OrvaModule::Audio, kOrvaUseAudio},
    {OrvaModule::Music, kOrvaUseMusic},
    {OrvaModule::Sound, kOrvaUseSound},
    {OrvaModule::Input, kOrvaUseInput},
    {OrvaModule::PixelLock, kOrvaUseGraphics},
    {OrvaModule::Particle, kOrvaUseGraphics},
    {OrvaModule::Primitive3D, kOrvaUseGraphics},
    {OrvaModule::Primitive2D, kOrvaUseGraphics},
    {OrvaModule::Sheet, kOrvaUseGraphics},
    {OrvaModule::FontEffects, kOrvaUseGraphics},
    {OrvaModule::FontSprite, kOrvaUseGraphics},
    {OrvaModule::GdiFont, kOrvaUseGraphics},
    {OrvaModule::ListSprite, kOrvaUseGraphics},
    {OrvaModule::Sprite, kOrvaUseGraphics},
    {OrvaModule::Scene, kOrvaUseGraphics},
    {OrvaModule::Model, kOrvaUseGraphics},
    {OrvaModule::Shader, kOrvaUseGraphics},
    {OrvaModule::Surface, kOrvaUseGraphics},
    {OrvaModule::Texture, kOrvaUseGraphics},
    {OrvaModule::Camera, kOrvaUseGraphics},
    {OrvaModule::Device, kOrvaUseGraphics},
};

struct Settings {
    std::string name = "Orva";
    int32_t width = 640;  // pixels
    int32_t height = 480;
    int32_t framesPerSecond = 60;
    bool windowed = true;
    bool cursorVisible = true;
    bool frameRateInTitle = false;
    uint32_t useFlags = 0;
    bool startupText = false;
};

ModuleEntry g_modules[kModuleCount];
// Where the modules' lists are built. Plain bytes, never destroyed: the
// lists must outlive every static destructor that may release an object,
// and building one never fails.
alignas(OrvaObjectList) unsigned char g_listRoom[kModuleCount][sizeof(OrvaObjectList)];

// The module slots outlive a run: the engine's glue fills them once. The
// frame's own input module is there from the start.
const bool g_defaultModules = [] {
    g_modules[int32_t(OrvaModule::Input)].initialize = &OrvaInput::Initialize;
    g_modules[int32_t(OrvaModule::Input)].destroy = &OrvaInput::Destroy;
    return true;
}();
OrvaApplication::GraphEventHandler g_graphEventHandler = nullptr;
OrvaApplication::MciNotifyHandler g_mciNotifyHandler = nullptr;

// Neither the settings nor the window are destroyed by exit: the main thread
// may still read them while another thread runs exit, and the window is
// closed by the release at exit, after the objects, not by a destructor.
Settings& g_settings = *new Settings();
OrvaMessageHook g_hooks[OrvaApplication::kMaxMessageHooks];
int32_t g_hookCount = 0;

platform::Window* g_window = nullptr;
bool g_ended = false;
bool g_active = true;
bool g_exiting = false;

OrvaApplication::ClockFunction g_clock = &platform::GetTimeMs;
OrvaApplication::SleepFunction g_sleep = &platform::SleepMs;
uint32_t g_lastFrameMs = 0;
uint32_t g_secondStartMs = 0;
int32_t g_framesThisSecond = 0;
int32_t g_polygonsThisSecond = 0;
int32_t g_framesPerSecond = 0;  // measured over the last whole second
int32_t g_polygonsPerSecond = 0;

// Its address is the program's instance handle.
const char g_instanceToken = 0;

bool ValidModule(OrvaModule id)
{
    return int32_t(id) >= 0 && int32_t(id) < kModuleCount;
}

bool Selected(const ListEntry& entry)
{
    return entry.flag == kAlways || (g_settings.useFlags & entry.flag) != 0;
}

void StartupText(const char* format, const char* name, const char* result)
{
    if (g_settings.startupText) {
        std::printf(format, name, result);
        std::fflush(stdout);
    }
}

// Runs the start-up list; false when the device could not start.
bool StartModules()
{
    for (ModuleEntry& module : g_modules) {
        module.started = false;
    }
    for (const ListEntry& entry : kStartOrder) {
        ModuleEntry& module = g_modules[int32_t(entry.id)];
        const char* name = kModuleNames[int32_t(entry.id)];
        if (!Selected(entry) || module.initialize == nullptr) {
            continue;
        }
        module.started = true;
        if (module.initialize()) {
            StartupText("start %s: %s\n", name, "ok");
            continue;
        }
        StartupText("start %s: %s\n", name, "failed");
        if (entry.id == OrvaModule::Device) {
            OrvaDebug::Log("エラー : デバイスの初期化に失敗しました\n");
            OrvaDebug::MsgBox(platform::MB_ICONERROR, "Error",
                              "DirectX8.1が正しくインストールされていない可能性があります");
            return false;
        }
        OrvaDebug::Log("エラー : %s の初期化に失敗しました\n", name);
    }
    return true;
}

bool InStartList(OrvaModule id)
{
    for (const ListEntry& entry : kStartOrder) {
        if (entry.id == id) {
            return true;
        }
    }
    return false;
}

// Closes the window of the run. The handle is cleared first, as the run's
// own shut-down leaves it: the procedure gets WM_DESTROY from a window the
// frame no longer hands out.
void CloseWindow()
{
    platform::Window* window = g_window;
    g_window = nullptr;
    delete window;
}

// What the program left at process exit, in the run's shut-down order: the
// list of every module that has one (SystemInfo and AngleTables have none),
// then the window.
void ReleaseLeftovers()
{
    for (const ListEntry& entry : kStopOrder) {
        ModuleEntry& module = g_modules[int32_t(entry.id)];
        if (module.stopAtExit != nullptr) {
            module.stopAtExit();
        }
        if (module.objects != nullptr) {
            module.objects->ReleaseAll();
        }
    }
    CloseWindow();
}

// Exit called on another thread while the main thread is in Run: releasing
// there would pull the objects and the window from under the main thread,
// which goes on drawing and pumping. The exiting thread asks instead, and
// the main thread does the release itself at its next safe point (a Pump,
// the end of the run), then stays there while the process ends.
enum class ExitRequest { None, Asked, Released };

struct ExitHandOver {
    std::mutex mutex;
    std::condition_variable changed;
    std::thread::id runThread;  // the thread in Run; none outside a run
    ExitRequest request = ExitRequest::None;
};

// How long the exiting thread waits for the main thread to reach a safe
// point: a frame, even a slow one, is far shorter.
constexpr std::chrono::milliseconds kExitHandOverWait(5000);

// Never destroyed: the main thread waits on it while the exiting thread
// destroys the static objects.
ExitHandOver& HandOver()
{
    static ExitHandOver* handOver = new ExitHandOver();
    return *handOver;
}

// On the main thread, where the game holds no object in use, with the
// hand-over's lock held. Returns at once unless exit waits on another
// thread; then releases everything and never returns. The lock is held
// through the release, so an exiting thread whose wait runs out meanwhile
// still sees it to its end before static objects go.
void ServeExitRequest(std::unique_lock<std::mutex>& lock)
{
    ExitHandOver& handOver = HandOver();
    if (handOver.request != ExitRequest::Asked) {
        return;
    }
    ReleaseLeftovers();
    handOver.request = ExitRequest::Released;
    handOver.changed.notify_all();
    handOver.changed.wait(lock, [] { return false; });
}

void ServeExitRequest()
{
    std::unique_lock<std::mutex> lock(HandOver().mutex);
    ServeExitRequest(lock);
}

void ReleaseAtExit()
{
    ExitHandOver& handOver = HandOver();
    std::unique_lock<std::mutex> lock(handOver.mutex);
    if (handOver.runThread == std::thread::id() || handOver.runThread == std::this_thread::get_id()) {
        lock.unlock();
        ReleaseLeftovers();
        return;
    }
    handOver.request = ExitRequest::Asked;
    const auto answered = [&handOver] { return handOver.request == ExitRequest::Released; };
    if (handOver.changed.wait_for(lock, kExitHandOverWait, answered)) {
        return;
    }
    handOver.request = ExitRequest::None;
    OrvaDebug::Log("ERROR : exit on another thread: the main thread did not stop within %d ms, objects left alive "
                   "are not released\n",
                   int32_t(kExitHandOverWait.count()));
}

// Once, when main runs (a run, or a module's first list): after every static
// object made before main, so the release runs before any of them (a worker
// ring, a device, a library's state) is destroyed.
void RegisterReleaseAtExit()
{
    [[maybe_unused]] static const bool registered = [] {
        if (std::atexit(ReleaseAtExit) != 0) {
            OrvaDebug::Log("ERROR : objects left at exit will not be released\n");
            return false;
        }
        return true;
    }();
}

// The main thread enters Run.
void EnterRun()
{
    ExitHandOver& handOver = HandOver();
    std::lock_guard<std::mutex> lock(handOver.mutex);
    handOver.runThread = std::this_thread::get_id();
}

// The end of Run is a safe point too: an exit asked for during the shut-down
// is served here; one asked for later is released by the exiting thread.
void LeaveRun()
{
    ExitHandOver& handOver = HandOver();
    std::unique_lock<std::mutex> lock(handOver.mutex);
    ServeExitRequest(lock);
    handOver.runThread = std::thread::id();
}

void StopModules()
{
    for (const ListEntry& entry : kStopOrder) {
        ModuleEntry& module = g_modules[int32_t(entry.id)];
        if (!Selected(entry) || module.destroy == nullptr) {
            continue;
        }
        // A module that was never asked to start has nothing to stop; one
        // that is not started from the list (the debug window opens on
        // demand) always may have.
        if (module.initialize != nullptr && InStartList(entry.id) && !module.started) {
            continue;
        }
        module.destroy();
        module.started = false;
    }
}

// Drops what a previous run left in the queue (its WM_QUIT above all).
void DrainMessages()
{
    platform::Message message;
    while (platform::PeekMessage(&message, true)) {
    }
}

int32_t ShowMessageBox(uint32_t type, const char* caption, const char* text)
{
    return platform::ShowMessageBox(type, caption != nullptr ? caption : "", text != nullptr ? text : "");
}

void ResetRunState()
{
    g_settings = Settings();
    g_hookCount = 0;
    for (OrvaMessageHook& hook : g_hooks) {
        hook = OrvaMessageHook();
    }
    g_ended = false;
    g_active = true;
    g_exiting = false;
    g_framesThisSecond = 0;
    g_polygonsThisSecond = 0;
    g_framesPerSecond = 0;
    g_polygonsPerSecond = 0;
}

void CountFrame(uint32_t nowMs)
{
    ++g_framesThisSecond;
    if (nowMs - g_secondStartMs < 1000) {
        return;
    }
    g_framesPerSecond = g_framesThisSecond;
    g_polygonsPerSecond = g_polygonsThisSecond;
    g_framesThisSecond = 0;
    g_polygonsThisSecond = 0;
    g_secondStartMs = nowMs;
    if (g_settings.frameRateInTitle && g_window != nullptr) {
        const int32_t perFrame = g_framesPerSecond > 0 ? g_polygonsPerSecond / g_framesPerSecond : 0;
        char title[512];
        std::snprintf(title, sizeof title, "%s  FPS[%d] PPS[%d] PPF[%d]", g_settings.name.c_str(), g_framesPerSecond,
                      g_polygonsPerSecond, perFrame);
        g_window->SetTitle(title);
    }
}

void LimitFrame()
{
    const uint32_t elapsed = g_clock() - g_lastFrameMs;
    const int32_t wait = OrvaApplication::FrameSleepMs(g_settings.framesPerSecond, elapsed);
    if (wait > 0) {
        g_sleep(uint32_t(wait));
    }
    g_lastFrameMs = g_clock();
    CountFrame(g_lastFrameMs);
}

}  // namespace

int32_t OrvaApplication::Run(SetupFunction setup, MainFunction mainFunction)
{
    RegisterReleaseAtExit();
    ResetRunState();
    OrvaDebug::SetMessageBoxHandler(&ShowMessageBox);
    SetCurrentDirectory();
    if (setup != nullptr) {
        setup();
    }

    platform::InstanceLock instanceLock;
    const platform::InstanceLockResult locked = instanceLock.Acquire(g_settings.name);
    if (locked == platform::InstanceLockResult::HeldElsewhere) {
        OrvaDebug::MsgBox(platform::MB_ICONERROR, "Error", "2重起動は出来ません");
        return -1;
    }
    // Without the lock nobody can tell whether another instance runs; say
    // what stands in the way rather than claim that one does.
    if (locked != platform::InstanceLockResult::Acquired) {
        const std::string reason = platform::PrintableText(instanceLock.GetError());
        OrvaDebug::Log("エラー : 2重起動を調べるロックが使えません [%s]\n", reason.c_str());
        OrvaDebug::MsgBox(platform::MB_ICONERROR, "Error", "2重起動を調べるロックが使えません\n%s", reason.c_str());
        return -1;
    }

    DrainMessages();
    EnterRun();
    platform::WindowDesc desc;
    desc.title = g_settings.name;
    desc.width = g_settings.width;
    desc.height = g_settings.height;
    desc.windowed = g_settings.windowed;
    desc.cursorVisible = g_settings.cursorVisible;
    g_window = platform::Window::Create(desc, &OrvaApplication::WindowProc, nullptr).release();
    if (g_window == nullptr) {
        LeaveRun();
        OrvaDebug::Log("エラー : ウィンドウの作成に失敗しました [%s]\n", g_settings.name.c_str());
        OrvaDebug::MsgBox(platform::MB_ICONERROR, "Error", "ウィンドウの作成に失敗しました");
        return -1;
    }

    int32_t result = -1;
    if (StartModules()) {
        OrvaDebug::Log("\n-------------------------->> Start Application <<--------------------------\n\n");
        g_lastFrameMs = g_clock();
        g_secondStartMs = g_lastFrameMs;
        result = mainFunction != nullptr ? mainFunction() : 0;
        OrvaDebug::Log("\n-------------------------->> Exit Application <<--------------------------\n\n");
    }
    StopModules();

    CloseWindow();
    LeaveRun();
    DrainMessages();
    g_ended = true;
    instanceLock.Release();
    return result;
}

void OrvaApplication::SetApplicationName(const char* name)
{
    g_settings.name = name != nullptr && name[0] != '\0' ? name : "Orva";
}

void OrvaApplication::SetScreenSize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) {
        OrvaDebug::Log("ERROR : screen size %d x %d\n", width, height);
        return;
    }
    g_settings.width = width;
    g_settings.height = height;
}

void OrvaApplication::SetFrameRate(int32_t framesPerSecond)
{
    g_settings.framesPerSecond = framesPerSecond > 0 ? framesPerSecond : 0;
}

void OrvaApplication::SetWindowed(bool windowed)
{
    g_settings.windowed = windowed;
    if (g_window != nullptr && !g_window->IsDestroyed() && g_window->IsWindowed() != windowed) {
        g_window->SetMode(windowed, g_settings.width, g_settings.height);
    }
}

void OrvaApplication::SetCursorVisible(bool visible)
{
    g_settings.cursorVisible = visible;
    if (g_window != nullptr && !g_window->IsDestroyed()) {
        g_window->SetCursorVisible(visible);
    }
}

void OrvaApplication::SetFrameRateInTitle(bool show)
{
    g_settings.frameRateInTitle = show;
}

void OrvaApplication::SetUseFlags(uint32_t flags)
{
    g_settings.useFlags = flags;
}

void OrvaApplication::SetStartupText(bool show)
{
    g_settings.startupText = show;
}

bool OrvaApplication::AddMessageHook(uint32_t message, OrvaMessageHandler handler)
{
    if (handler == nullptr) {
        return false;
    }
    if (g_hookCount >= kMaxMessageHooks) {
        OrvaDebug::Log("ERROR : message hook table full (%d), 0x%04X not added\n", kMaxMessageHooks, message);
        return false;
    }
    g_hooks[g_hookCount].message = message;
    g_hooks[g_hookCount].handler = handler;
    ++g_hookCount;
    return true;
}

const char* OrvaApplication::GetApplicationName()
{
    return g_settings.name.c_str();
}

int32_t OrvaApplication::GetFrameRate()
{
    return g_settings.framesPerSecond;
}

bool OrvaApplication::IsWindowed()
{
    return g_settings.windowed;
}

uint32_t OrvaApplication::GetUseFlags()
{
    return g_settings.useFlags;
}

int32_t OrvaApplication::GetMessageHookCount()
{
    return g_hookCount;
}

void OrvaApplication::SetModuleEntry(OrvaModule id, ModuleInitialize initialize, ModuleDestroy destroy)
{
    if (!ValidModule(id)) {
        OrvaDebug::Log("ERROR : module slot %d out of range\n", int32_t(id));
        return;
    }
    ModuleEntry& module = g_modules[int32_t(id)];
    module.initialize = initialize;
    module.destroy = destroy;
}

OrvaObjectList& OrvaApplication::GetModuleList(OrvaModule id, void (*stopAtExit)())
{
    // The modules make their first list once main runs.
    RegisterReleaseAtExit();
    ModuleEntry& module = g_modules[int32_t(id)];
    if (module.objects == nullptr) {
        module.objects = new (g_listRoom[int32_t(id)]) OrvaObjectList();
        module.stopAtExit = stopAtExit;
    }
    return *module.objects;
}

void OrvaApplication::SetGraphEventHandler(GraphEventHandler handler)
{
    g_graphEventHandler = handler;
}

void OrvaApplication::SetMciNotifyHandler(MciNotifyHandler handler)
{
    g_mciNotifyHandler = handler;
}

bool OrvaApplication::Pump()
{
    ServeExitRequest();
    if (g_ended) {
        return false;
    }
    platform::Message message;
    for (;;) {
        while (platform::PeekMessage(&message, true)) {
            if (message.message == platform::WM_QUIT) {
                g_ended = true;
                return false;
            }
            platform::DispatchMessage(message);
        }
        if (g_active) {
            break;
        }
        // Inactive: keep serving the window, without spinning, and give the
        // game no frame until the focus comes back.
        platform::WaitMessage(10);
        ServeExitRequest();
    }
    LimitFrame();
    OrvaInput::Update();
    return true;
}

intptr_t OrvaApplication::WindowProc(platform::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    for (int32_t i = 0; i < g_hookCount; ++i) {
        if (g_hooks[i].message == message && g_hooks[i].handler != nullptr) {
            g_hooks[i].handler(wParam, lParam);
        }
    }
    switch (message) {
    case kOrvaGraphEventMessage:
        if (g_graphEventHandler != nullptr) {
            g_graphEventHandler();
        }
        return 0;
    case platform::MM_MCINOTIFY:
        // Only completed commands are passed on: aborted and superseded
        // ones would restart what their owner has just stopped.
        if (wParam == kOrvaMciNotifySuccessful && g_mciNotifyHandler != nullptr) {
            g_mciNotifyHandler(wParam, lParam);
        }
        return 0;
    case platform::WM_ACTIVATEAPP:
        g_active = wParam != 0;
        break;
    case platform::WM_DESTROY:
        platform::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

int32_t OrvaApplication::FrameSleepMs(int32_t framesPerSecond, uint32_t elapsedMs)
{
    if (framesPerSecond <= 0) {
        return 0;
    }
    // 64 bits: a long stall times the frame rate overflows 32.
    const int64_t wait = (1000 - int64_t(framesPerSecond) * int64_t(elapsedMs)) / framesPerSecond;
    return wait > 0 ? int32_t(wait) : 0;
}

void OrvaApplication::SetFrameClock(ClockFunction now, SleepFunction sleep)
{
    g_clock = now != nullptr ? now : &platform::GetTimeMs;
    g_sleep = sleep != nullptr ? sleep : &platform::SleepMs;
}

void OrvaApplication::Exit()
{
    g_exiting = true;
    if (g_window != nullptr && !g_window->IsDestroyed()) {
        platform::PostMessage(g_window, platform::WM_CLOSE, 0, 0);
    }
}

bool OrvaApplication::IsExiting()
{
    return g_exiting;
}

bool OrvaApplication::IsActive()
{
    return g_active;
}

platform::Window* OrvaApplication::GetWindowHandle()
{
    return g_window;
}

void* OrvaApplication::GetInstanceHandle()
{
    return const_cast<char*>(&g_instanceToken);
}

void OrvaApplication::GetScreenSize(int32_t* width, int32_t* height)
{
    if (width != nullptr) {
        *width = g_settings.width;
    }
    if (height != nullptr) {
        *height = g_settings.height;
    }
}

void OrvaApplication::SetCurrentDirectory()
{
    platform::SetCurrentFolder(platform::GetProgramFolder());
}

void OrvaApplication::AddPolygonCount(int32_t count)
{
    g_polygonsThisSecond += count;
}

int32_t OrvaApplication::GetFramesPerSecond()
{
    return g_framesPerSecond;
}

int32_t OrvaApplication::GetPolygonsPerSecond()
{
    return g_polygonsPerSecond;
}

void OrvaApplication::PresentFrame(const uint32_t* argb, int width, int height, int pitchBytes)
{
    if (g_window == nullptr || g_window->IsDestroyed()) {
        return;
    }
    g_window->PresentFrame(argb, width, height, pitchBytes);
}
