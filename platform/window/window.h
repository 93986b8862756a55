#pragma once
// The program's window, its message queue and pump, message boxes, key and
// joystick state, the millisecond clock, the single-instance lock and the
// program folder.
//
// Threads: PostMessage may be called from any thread. Everything else runs on
// the main thread, the one that creates the window and pumps its messages.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Message numbers, the same values the engine and the game were written
// against.
enum MessageId : uint32_t {
    WM_NULL = 0x0000,
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ACTIVATEAPP = 0x001C,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_MOUSEMOVE = 0x0200,
    MM_MCINOTIFY = 0x03B9,
    WM_USER = 0x0400,
};

// Virtual-key codes.
enum VirtualKey : int {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_PAUSE = 0x13,
    VK_CAPITAL = 0x14,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    // '0' to '9' are 0x30 to 0x39 and 'A' to 'Z' 0x41 to 0x5A, as their
    // characters.
    VK_NUMPAD0 = 0x60,
    VK_MULTIPLY = 0x6A,
    VK_ADD = 0x6B,
    VK_SUBTRACT = 0x6D,
    VK_DECIMAL = 0x6E,
    VK_DIVIDE = 0x6F,
    VK_F1 = 0x70,
    VK_F2 = 0x71,
    VK_F12 = 0x7B,
    VK_LSHIFT = 0xA0,
    VK_RSHIFT = 0xA1,
    VK_LCONTROL = 0xA2,
    VK_RCONTROL = 0xA3,
    VK_LMENU = 0xA4,
    VK_RMENU = 0xA5,
};

// Message-box types and results: the low nibble picks the buttons, the next
// one the icon.
enum MessageBoxFlag : uint32_t {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxResult : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

class Window;

// One queued message. A null window marks a message of the whole program,
// such as WM_QUIT.
struct Message {
    Window* window = nullptr;
    uint32_t message = WM_NULL;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

using WindowProc = intptr_t (*)(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct WindowDesc {
    std::string title;
    int width = 640;  // pixels of the client area
    int height = 480;
    bool windowed = true;  // captioned and centred; else borderless at 0, 0
    bool cursorVisible = true;
};

constexpr int kJoystickButtons = 32;
constexpr int kJoystickAxes = 8;

struct JoystickState {
    int buttonCount = 0;
    int axisCount = 0;
    uint32_t buttons = 0;                 // bit n: button n held
    int16_t axes[kJoystickAxes] = {};     // -32768 (left, up) to 32767
};

// "sdl2" or "headless". The first call chooses: ORVA_WINDOW when set, else
// sdl2 when a display is named and SDL's video starts, else headless.
const char* GetWindowBackendName();
bool HasDisplay();

// The program's one window. The window procedure gets every message
// dispatched to it; DefWindowProc does what a window does by default.
class Window {
public:
    // Null when a window is open already or the backend refuses.
    static std::unique_ptr<Window> Create(const WindowDesc& desc, WindowProc proc, void* userData);
    // Destroys the window when that has not happened yet.
    ~Window();

    // Sends WM_DESTROY to the procedure and closes the window; later calls
    // do nothing.
    void Destroy();
    bool IsDestroyed() const { return destroyed; }

    void* GetUserData() const { return userData; }
    int GetWidth() const { return desc.width; }
    int GetHeight() const { return desc.height; }
    bool IsWindowed() const { return desc.windowed; }
    const std::string& GetTitle() const { return desc.title; }

    void SetTitle(const std::string& title);
    void SetCursorVisible(bool visible);
    bool IsCursorVisible() const { return desc.cursorVisible; }
    // Windowed (captioned, centred) or full screen (borderless at 0, 0 in
    // the desktop's mode), with a client area of width x height.
    bool SetMode(bool windowed, int width, int height);

    // Shows a finished A8R8G8B8 frame and keeps a copy of it.
    bool PresentFrame(const uint32_t* pixels, int width, int height, int pitchBytes);
    // The last presented frame, tightly packed; false before the first.
    bool ReadFrame(std::vector<uint32_t>* pixels, int* width, int* height) const;
    uint64_t GetPresentCount() const { return presentCount; }

    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

private:
    friend intptr_t DispatchMessage(const Message& message);
    Window() = default;

    WindowDesc desc;
    WindowProc proc = nullptr;
    void* userData = nullptr;
    bool destroyed = false;
    std::vector<uint32_t> frame;
    int frameWidth = 0;
    int frameHeight = 0;
    uint64_t presentCount = 0;
};

// The message queue. PostMessage is safe from any thread; a message for a
// window that is gone when it comes out is dropped.
bool PostMessage(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuitMessage(int exitCode);
// Gathers the window system's events, then takes the oldest message (and
// removes it when asked); false when the queue is empty.
bool PeekMessage(Message* out, bool remove);
// Waits for a message; false once it is WM_QUIT.
bool GetMessage(Message* out);
// Waits up to timeoutMs for a message to arrive; true when one waits.
bool WaitMessage(uint32_t timeoutMs);
intptr_t DispatchMessage(const Message& message);
// Calls the window's procedure at once.
intptr_t SendMessage(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// WM_CLOSE destroys the window; everything else is ignored and gives 0.
intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Key state: bit 15 set while the key is down, bit 0 toggled by each press.
// GetKeyState follows the messages taken from the queue, GetAsyncKeyState
// the events as they arrive. Codes outside 0 to 255 read as up.
uint16_t GetKeyState(int virtualKey);
uint16_t GetAsyncKeyState(int virtualKey);

int GetJoystickCount();
// False, with the state cleared, when there is no such joystick.
bool GetJoystickState(int index, JoystickState* out);

// Events fed in as if the window system had reported them: how tests and
// runs without a display drive the program.
void InjectKey(int virtualKey, bool down);
void InjectChar(uint32_t codePoint);
void InjectClose();
void InjectActivate(bool active);
// A simulated joystick 0 that takes the place of any real one.
void InjectJoystick(const JoystickState& state);
void RemoveInjectedJoystick();

// Shows a message box: the text (UTF-8) always on stderr, and a dialog drawn
// with the engine's fonts when the backend has a display. Never waits in a
// run without a display.
int ShowMessageBox(uint32_t type, const std::string& caption, const std::string& text);
// Every box shown so far is counted and the last one kept.
int GetMessageBoxCount();
bool GetLastMessageBox(std::string* caption, std::string* text);

// Milliseconds from an arbitrary start; wraps after 49 days.
uint32_t GetTimeMs();
void SleepMs(uint32_t milliseconds);

// The folder of the running program, without the trailing slash.
std::string GetProgramFolder();
bool SetCurrentFolder(const std::string& folder);

enum class InstanceLockResult {
    Acquired,       // this process holds it now
    HeldElsewhere,  // another holder has it
    Failed,         // the lock file could not be had; GetError says why
};

// A lock that one process at a time holds for a name: a file locked with
// flock in a folder of the user's own ($XDG_RUNTIME_DIR, else
// /tmp/<name>-<uid>), so that users never lock each other out. Released by
// Release, the destructor or the process's end.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLockResult Acquire(const std::string& name);
    void Release();
    bool IsHeld() const { return fd >= 0; }
    const std::string& GetPath() const { return path; }
    // Why the last Acquire failed: the path and the system's reason.
    const std::string& GetError() const { return error; }

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    int fd = -1;
    std::string path;
    std::string error;
};

}  // namespace platform
