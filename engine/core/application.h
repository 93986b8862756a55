#pragma once
// The application frame: start-up and shut-down of the engine's modules, the
// window and its procedure with message hooks, the per-frame pump and the
// frame-rate limiter.
//
// Threads: everything here runs on the main thread except the window
// messages that other threads post through platform::PostMessage (the audio
// worker posts kOrvaGraphEventMessage); they are handled on the main thread.
// exit may be called on any thread: when it is not the one in Run, the
// main thread does the release at exit at its next Pump (see GetModuleList).
#include "platform/window/window.h"

#include <cstdint>

class OrvaObjectList;

// Engine modules to start, by bit.
enum OrvaUseFlags : uint32_t {
    kOrvaUseGraphics = 0x01,
    kOrvaUseInput = 0x02,
    kOrvaUseSound = 0x04,     // DirectSound-style sounds
    kOrvaUseMusic = 0x08,     // MIDI music
    kOrvaUseAudio = 0x10,     // streamed audio
    kOrvaUseNetwork = 0x20,
    kOrvaUseMedia = 0x40,     // movie streams
    kOrvaUseMci = 0x80,
    kOrvaUseThreadMode = 0x100,
};

// The streamed-audio module's event message, posted from its worker.
constexpr uint32_t kOrvaGraphEventMessage = platform::WM_USER + 1;
// MM_MCINOTIFY's wParam for a command that completed.
constexpr uintptr_t kOrvaMciNotifySuccessful = 1;

using OrvaMessageHandler = void (*)(uintptr_t wParam, intptr_t lParam);

// One entry of the window procedure's hook table.
struct OrvaMessageHook {
    uint32_t message = 0;
    OrvaMessageHandler handler = nullptr;
};

// The slots of the start-up and shut-down lists. Each is filled with the
// module's Initialize and Destroy through OrvaApplication::SetModuleEntry;
// an empty slot is skipped.
enum class OrvaModule : int32_t {
    SystemInfo,   // the system-information log
    Timer,        // the 1 ms timer and the performance counter
    AngleTables,
    Ime,
    DebugWindow,  // shut-down only
    Device,
    Camera,
    Shader,
    Texture,
    Sprite,
    Scene,
    Model,
    Surface,
    ListSprite,
    GdiFont,
    FontSprite,
    FontEffects,
    Sheet,
    Primitive2D,
    Primitive3D,
    Particle,
    PixelLock,
    Input,
    Sound,
    Music,
    Audio,
    Network,
    Media,
    Mci,
    Count,
};

class OrvaApplication {
public:
    using SetupFunction = void (*)();
    using MainFunction = int32_t (*)();
    using ModuleInitialize = bool (*)();
    using ModuleDestroy = void (*)();
    using GraphEventHandler = void (*)();
    using MciNotifyHandler = void (*)(uintptr_t wParam, intptr_t lParam);

    static constexpr int32_t kMaxMessageHooks = 64;

    // Makes the program's folder current, calls setup (which only records
    // settings), takes the single-instance lock, opens the window, starts
    // the modules, calls mainFunction once and stops everything again.
    // Returns mainFunction's result, or -1 when the start was refused. When
    // the program calls exit instead, the release at exit stops what the
    // run left (see GetModuleList) and the status given to exit stands.
    static int32_t Run(SetupFunction setup, MainFunction mainFunction);

    // Settings, recorded by the set-up callback before the window exists.
    static void SetApplicationName(const char* name);
    static void SetScreenSize(int32_t width, int32_t height);  // pixels
    static void SetFrameRate(int32_t framesPerSecond);         // 0: no limit
    // Also switches the open window.
    static void SetWindowed(bool windowed);
    static void SetCursorVisible(bool visible);
    static void SetFrameRateInTitle(bool show);
    static void SetUseFlags(uint32_t flags);  // OrvaUseFlags
    static void SetStartupText(bool show);
    // Hooks are called in the order of registration; false when the 64
    // entries are taken or the handler is null.
    static bool AddMessageHook(uint32_t message, OrvaMessageHandler handler);

    static const char* GetApplicationName();
    static int32_t GetFrameRate();
    static bool IsWindowed();
    static uint32_t GetUseFlags();
    static int32_t GetMessageHookCount();

    // Fills one slot of the start-up and shut-down lists; nulls empty it.
    static void SetModuleEntry(OrvaModule id, ModuleInitialize initialize, ModuleDestroy destroy);
    // The list of a module's live objects, made on the first call and never
    // destroyed: an object released late at process exit, from whatever
    // static destructor, still finds its own list and those of the objects
    // it holds. What the lists still hold when the program ends is released
    // then, before the static objects made before main are destroyed, module
    // by module in the shut-down order, so that each object goes before what
    // it holds. stopAtExit, when given, runs just before the module's list
    // is released: a worker module stops its thread, which releases its own
    // objects. The window of a run still open is closed after all lists.
    // Each module asks once, from the function-local static of its list.
    //
    // Exit called on another thread while the main thread is in Run does
    // not release under the main thread's feet: it waits, a few seconds at
    // most, for the main thread to reach a Pump (or the end of the run),
    // where the main thread releases everything itself and stays until the
    // process has ended. A main thread that does not come is left alone,
    // with its objects, and the log says so.
    static OrvaObjectList& GetModuleList(OrvaModule id, void (*stopAtExit)() = nullptr);
    static void SetGraphEventHandler(GraphEventHandler handler);
    static void SetMciNotifyHandler(MciNotifyHandler handler);

    // Dispatches every waiting message, waits while the application is
    // inactive, then waits out the frame. False once WM_QUIT has come: the
    // run is over.
    static bool Pump();
    // The window procedure: the hooks, then the engine's own handling, then
    // the default.
    static intptr_t WindowProc(platform::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
    // How long the limiter sleeps after elapsedMs of a frame at
    // framesPerSecond: (1000 - F x E) / F when positive, else 0.
    static int32_t FrameSleepMs(int32_t framesPerSecond, uint32_t elapsedMs);
    // The limiter's millisecond clock and sleep: the platform's, unless a
    // caller (a test replaying frames) puts its own in their place; nulls
    // put the platform's back.
    using ClockFunction = uint32_t (*)();
    using SleepFunction = void (*)(uint32_t milliseconds);
    static void SetFrameClock(ClockFunction now, SleepFunction sleep);

    // Asks the run to end: the flag, then WM_CLOSE to the window.
    static void Exit();
    static bool IsExiting();
    static bool IsActive();

    static platform::Window* GetWindowHandle();
    // The program is one module; the handle only identifies it.
    static void* GetInstanceHandle();
    static void GetScreenSize(int32_t* width, int32_t* height);
    // Makes the program's own folder current; relative file names are
    // taken from there.
    static void SetCurrentDirectory();
    static void AddPolygonCount(int32_t count);
    // Frames and polygons of the last whole second.
    static int32_t GetFramesPerSecond();
    static int32_t GetPolygonsPerSecond();

    // The device's present sink: shows a finished A8R8G8B8 frame in the
    // window.
    static void PresentFrame(const uint32_t* argb, int width, int height, int pitchBytes);
};

// A module's list of live objects, looked up once: made on first use and
// never destroyed; what it holds at exit is released then (see
// OrvaApplication::GetModuleList).
template <OrvaModule id>
OrvaObjectList& OrvaModuleList()
{
    static OrvaObjectList& list = OrvaApplication::GetModuleList(id);
    return list;
}
