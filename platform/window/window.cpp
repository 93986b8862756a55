// The portable part of the window library: the choice of backend, the
// message queue, dispatch, key state, joystick injection and message boxes.
#include "platform/window/window.h"

#include "platform/window/window_backend.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

namespace platform {

namespace {

constexpr int kKeyCount = 256;
constexpr uint16_t kKeyDownBit = 0x8000;
constexpr uint16_t kKeyToggleBit = 0x0001;
// WM_KEYDOWN and WM_KEYUP: repeat count in bits 0 to 15, the side-specific
// key code (VK_LSHIFT...) in bits 16 to 23, the key's previous state in
// bit 30, the transition (set on release) in bit 31.
constexpr intptr_t kKeyPreviousDown = intptr_t(1) << 30;
constexpr intptr_t kKeyReleasing = intptr_t(1) << 31;

// Reached from any thread: the queue, the injected events, the simulated
// joystick and the message-box record.
struct SharedState {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Message> queue;
    std::vector<BackendEvent> injected;
    bool joystickInjected = false;
    JoystickState joystick;
    int messageBoxCount = 0;
    std::string lastCaption;
    std::string lastText;
};

// Never destroyed: the main thread may still pump, and a window closed at
// exit still posts its WM_QUIT here, while exit destroys the static objects.
SharedState& Shared()
{
    static SharedState* state = new SharedState();
    return *state;
}

// Main thread only.
Window* g_liveWindow = nullptr;
uint16_t g_keyState[kKeyCount] = {};
uint16_t g_asyncKeyState[kKeyCount] = {};

bool EnvSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

std::unique_ptr<WindowBackend> ChooseBackend()
{
    std::string reason;
    const char* asked = std::getenv("ORVA_WINDOW");
    if (asked != nullptr && asked[0] != '\0') {
        if (std::strcmp(asked, "headless") == 0) {
            std::fprintf(stderr, "window: headless (ORVA_WINDOW)\n");
            return CreateHeadlessWindowBackend();
        }
        if (std::strcmp(asked, "sdl2") == 0) {
            auto backend = CreateSdl2WindowBackend(&reason);
            if (backend != nullptr) {
                return backend;
            }
            std::fprintf(stderr, "window: sdl2 does not start (%s); headless\n", reason.c_str());
            return CreateHeadlessWindowBackend();
        }
        std::fprintf(stderr, "window: unknown ORVA_WINDOW \"%s\"; choosing by display\n", asked);
    }
    if (!EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "window: headless (no display)\n");
        return CreateHeadlessWindowBackend();
    }
    auto backend = CreateSdl2WindowBackend(&reason);
    if (backend == nullptr) {
        std::fprintf(stderr, "window: headless (sdl2 does not start: %s)\n", reason.c_str());
        return CreateHeadlessWindowBackend();
    }
    if (!backend->HasDisplay()) {
        backend.reset();
        std::fprintf(stderr, "window: headless (sdl2 reaches no display)\n");
        return CreateHeadlessWindowBackend();
    }
    return backend;
}

// Chosen on first use and kept to the process's end: SDL is started once.
// Never destroyed, for the same reason as the shared state; the system
// closes the display connection when the process ends.
WindowBackend& Backend()
{
    static WindowBackend* backend = ChooseBackend().release();
    return *backend;
}

int GenericKey(int virtualKey)
{
    switch (virtualKey) {
    case VK_LSHIFT:
    case VK_RSHIFT: return VK_SHIFT;
    case VK_LCONTROL:
    case VK_RCONTROL: return VK_CONTROL;
    case VK_LMENU:
    case VK_RMENU: return VK_MENU;
    default: return virtualKey;
    }
}

bool ValidKey(int virtualKey)
{
    return virtualKey > 0 && virtualKey < kKeyCount;
}

// Sets one key of a state table; the shift, control and alt keys also set
// their generic code, down while either side is.
void SetKey(uint16_t* table, int sideKey, bool down)
{
    const int generic = GenericKey(sideKey);
    const int keys[2] = {sideKey, generic};
    const int count = generic != sideKey ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        uint16_t& state = table[keys[i]];
        if (down && (state & kKeyDownBit) == 0) {
            state ^= kKeyToggleBit;
        }
        state = down ? uint16_t(state | kKeyDownBit) : uint16_t(state & ~kKeyDownBit);
    }
    if (generic != sideKey && !down) {
        // The generic key stays down while the other side is held.
        int other = 0;
        switch (sideKey) {
        case VK_LSHIFT: other = VK_RSHIFT; break;
        case VK_RSHIFT: other = VK_LSHIFT; break;
        case VK_LCONTROL: other = VK_RCONTROL; break;
        case VK_RCONTROL: other = VK_LCONTROL; break;
        case VK_LMENU: other = VK_RMENU; break;
        default: other = VK_LMENU; break;
        }
        if ((table[other] & kKeyDownBit) != 0) {
            table[generic] |= kKeyDownBit;
        }
    }
}

void ClearKeys(uint16_t* table)
{
    for (int i = 0; i < kKeyCount; ++i) {
        table[i] &= ~kKeyDownBit;
    }
}

void Enqueue(const Message& message)
{
    SharedState& shared = Shared();
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.queue.push_back(message);
    }
    shared.arrived.notify_all();
}

void TranslateEvent(const BackendEvent& event)
{
    Message message;
    message.window = g_liveWindow;
    switch (event.kind) {
    case BackendEvent::Key: {
        if (!ValidKey(event.virtualKey)) {
            return;
        }
        const bool wasDown = (g_asyncKeyState[event.virtualKey] & kKeyDownBit) != 0;
        SetKey(g_asyncKeyState, event.virtualKey, event.down);
        message.message = event.down ? WM_KEYDOWN : WM_KEYUP;
        message.wParam = uintptr_t(GenericKey(event.virtualKey));
        message.lParam = 1 | (intptr_t(event.virtualKey) << 16);
        if (wasDown || !event.down) {
            message.lParam |= kKeyPreviousDown;
        }
        if (!event.down) {
            message.lParam |= kKeyReleasing;
        }
        break;
    }
    case BackendEvent::Char:
        message.message = WM_CHAR;
        message.wParam = event.codePoint;
        message.lParam = 1;
        break;
    case BackendEvent::Close:
        message.message = WM_CLOSE;
        break;
    case BackendEvent::Activate:
        // Keys released while another program had the focus never report
        // their release here.
        if (!event.active) {
            ClearKeys(g_asyncKeyState);
            ClearKeys(g_keyState);
        }
        message.message = WM_ACTIVATEAPP;
        message.wParam = event.active ? 1 : 0;
        break;
    }
    if (message.window == nullptr) {
        return;
    }
    Enqueue(message);
}

// Gathers what the window system and the injection calls reported since
// the last time, as messages in the queue.
void GatherEvents()
{
    std::vector<BackendEvent> events;
    Backend().PollEvents(&events);
    {
        SharedState& shared = Shared();
        std::lock_guard<std::mutex> lock(shared.mutex);
        events.insert(events.end(), shared.injected.begin(), shared.injected.end());
        shared.injected.clear();
    }
    for (const BackendEvent& event : events) {
        TranslateEvent(event);
    }
}

void Inject(const BackendEvent& event)
{
    SharedState& shared = Shared();
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.injected.push_back(event);
    }
    shared.arrived.notify_all();
}

// A key message taken from the queue moves the key state that GetKeyState
// reads.
void FollowKeyMessage(const Message& message)
{
    if (message.message != WM_KEYDOWN && message.message != WM_KEYUP) {
        return;
    }
    const int sideKey = int((message.lParam >> 16) & 0xFF);
    const int key = ValidKey(sideKey) ? sideKey : int(message.wParam);
    if (!ValidKey(key)) {
        return;
    }
    SetKey(g_keyState, key, message.message == WM_KEYDOWN);
}

}  // namespace

int DefaultMessageBoxResult(uint32_t type)
{
    return (type & 0x0F) == MB_YESNO ? IDYES : IDOK;
}

const char* GetWindowBackendName()
{
    return Backend().GetName();
}

bool HasDisplay()
{
    return Backend().HasDisplay();
}

// ---------------------------------------------------------------- Window

std::unique_ptr<Window> Window::Create(const WindowDesc& desc, WindowProc proc, void* userData)
{
    if (proc == nullptr) {
        std::fprintf(stderr, "window: no window procedure\n");
        return nullptr;
    }
    if (g_liveWindow != nullptr) {
        std::fprintf(stderr, "window: \"%s\" is open already\n", g_liveWindow->desc.title.c_str());
        return nullptr;
    }
    WindowBackend& backend = Backend();
    if (!backend.OpenWindow(desc)) {
        std::fprintf(stderr, "window: cannot open \"%s\" %dx%d\n", desc.title.c_str(), desc.width, desc.height);
        return nullptr;
    }
    std::unique_ptr<Window> window(new Window());
    window->desc = desc;
    window->proc = proc;
    window->userData = userData;
    g_liveWindow = window.get();
    ClearKeys(g_keyState);
    ClearKeys(g_asyncKeyState);
    std::fprintf(stderr, "window: \"%s\" %dx%d %s on %s\n", desc.title.c_str(), desc.width, desc.height,
                 desc.windowed ? "windowed" : "full screen", backend.GetName());
    return window;
}

Window::~Window()
{
    Destroy();
}

void Window::Destroy()
{
    if (destroyed) {
        return;
    }
    // Set first: a procedure that destroys the window again while handling
    // WM_DESTROY must not get a second one.
    destroyed = true;
    proc(this, WM_DESTROY, 0, 0);
    if (g_liveWindow == this) {
        Backend().CloseWindow();
        g_liveWindow = nullptr;
    }
}

void Window::SetTitle(const std::string& title)
{
    desc.title = title;
    if (!destroyed) {
        Backend().SetTitle(title);
    }
}

void Window::SetCursorVisible(bool visible)
{
    desc.cursorVisible = visible;
    if (!destroyed) {
        Backend().SetCursorVisible(visible);
    }
}

bool Window::SetMode(bool windowed, int width, int height)
{
    if (destroyed || width <= 0 || height <= 0) {
        return false;
    }
    if (!Backend().SetMode(windowed, width, height)) {
        return false;
    }
    desc.windowed = windowed;
    desc.width = width;
    desc.height = height;
    return true;
}

bool Window::PresentFrame(const uint32_t* pixels, int width, int height, int pitchBytes)
{
    if (destroyed || pixels == nullptr || width <= 0 || height <= 0 ||
        pitchBytes < width * int(sizeof(uint32_t)) || pitchBytes % int(sizeof(uint32_t)) != 0) {
        std::fprintf(stderr, "window: bad frame %dx%d pitch %d\n", width, height, pitchBytes);
        return false;
    }
    try {
        frame.resize(size_t(width) * size_t(height));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "window: no memory for a %dx%d frame\n", width, height);
        return false;
    }
    const size_t stride = size_t(pitchBytes) / sizeof(uint32_t);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&frame[size_t(y) * size_t(width)], pixels + size_t(y) * stride, size_t(width) * 4);
    }
    frameWidth = width;
    frameHeight = height;
    ++presentCount;
    return Backend().Present(pixels, width, height, pitchBytes);
}

bool Window::ReadFrame(std::vector<uint32_t>* pixels, int* width, int* height) const
{
    if (presentCount == 0 || pixels == nullptr) {
        return false;
    }
    *pixels = frame;
    if (width != nullptr) {
        *width = frameWidth;
    }
    if (height != nullptr) {
        *height = frameHeight;
    }
    return true;
}

// ---------------------------------------------------------------- messages

bool PostMessage(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (window == nullptr) {
        return false;
    }
    Message entry;
    entry.window = window;
    entry.message = message;
    entry.wParam = wParam;
    entry.lParam = lParam;
    Enqueue(entry);
    return true;
}

void PostQuitMessage(int exitCode)
{
    Message entry;
    entry.message = WM_QUIT;
    entry.wParam = uintptr_t(intptr_t(exitCode));
    Enqueue(entry);
}

bool PeekMessage(Message* out, bool remove)
{
    GatherEvents();
    SharedState& shared = Shared();
    Message message;
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.queue.empty()) {
            return false;
        }
        message = shared.queue.front();
        if (remove) {
            shared.queue.pop_front();
        }
    }
    if (remove) {
        FollowKeyMessage(message);
    }
    if (out != nullptr) {
        *out = message;
    }
    return true;
}

bool GetMessage(Message* out)
{
    Message message;
    // Short waits: window-system events are only gathered between them.
    while (!PeekMessage(&message, true)) {
        WaitMessage(5);
    }
    if (out != nullptr) {
        *out = message;
    }
    return message.message != WM_QUIT;
}

bool WaitMessage(uint32_t timeoutMs)
{
    SharedState& shared = Shared();
    std::unique_lock<std::mutex> lock(shared.mutex);
    return shared.arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&shared] {
        return !shared.queue.empty() || !shared.injected.empty();
    });
}

intptr_t DispatchMessage(const Message& message)
{
    // A message for a window that is gone (or for none) has nobody to go to.
    Window* window = message.window;
    if (window == nullptr || window != g_liveWindow || window->destroyed) {
        return 0;
    }
    return window->proc(window, message.message, message.wParam, message.lParam);
}

intptr_t SendMessage(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Message entry;
    entry.window = window;
    entry.message = message;
    entry.wParam = wParam;
    entry.lParam = lParam;
    return DispatchMessage(entry);
}

intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t, intptr_t)
{
    if (message == WM_CLOSE && window != nullptr) {
        window->Destroy();
    }
    return 0;
}

// ---------------------------------------------------------------- input

uint16_t GetKeyState(int virtualKey)
{
    return ValidKey(virtualKey) ? g_keyState[virtualKey] : 0;
}

uint16_t GetAsyncKeyState(int virtualKey)
{
    return ValidKey(virtualKey) ? g_asyncKeyState[virtualKey] : 0;
}

int GetJoystickCount()
{
    const int real = Backend().GetJoystickCount();
    SharedState& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.joystickInjected && real < 1) {
        return 1;
    }
    return real;
}

bool GetJoystickState(int index, JoystickState* out)
{
    if (out == nullptr) {
        return false;
    }
    *out = JoystickState();
    if (index < 0) {
        return false;
    }
    {
        SharedState& shared = Shared();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (index == 0 && shared.joystickInjected) {
            *out = shared.joystick;
            return true;
        }
    }
    if (!Backend().ReadJoystick(index, out)) {
        *out = JoystickState();
        return false;
    }
    return true;
}

void InjectKey(int virtualKey, bool down)
{
    BackendEvent event;
    event.kind = BackendEvent::Key;
    event.virtualKey = virtualKey;
    event.down = down;
    Inject(event);
}

void InjectChar(uint32_t codePoint)
{
    BackendEvent event;
    event.kind = BackendEvent::Char;
    event.codePoint = codePoint;
    Inject(event);
}

void InjectClose()
{
    BackendEvent event;
    event.kind = BackendEvent::Close;
    Inject(event);
}

void InjectActivate(bool active)
{
    BackendEvent event;
    event.kind = BackendEvent::Activate;
    event.active = active;
    Inject(event);
}

void InjectJoystick(const JoystickState& state)
{
    SharedState& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.joystick = state;
    shared.joystickInjected = true;
}

void RemoveInjectedJoystick()
{
    SharedState& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.joystickInjected = false;
    shared.joystick = JoystickState();
}

// ---------------------------------------------------------------- message boxes

int ShowMessageBox(uint32_t type, const std::string& caption, const std::string& text)
{
    // Always on stderr too: a box can go unseen, and with no display it is
    // the only place the text goes.
    std::fprintf(stderr, "window: message box [%s] %s\n", caption.c_str(), text.c_str());
    {
        SharedState& shared = Shared();
        std::lock_guard<std::mutex> lock(shared.mutex);
        ++shared.messageBoxCount;
        shared.lastCaption = caption;
        shared.lastText = text;
    }
    return Backend().ShowMessageBox(type, caption, text);
}

int GetMessageBoxCount()
{
    SharedState& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.messageBoxCount;
}

bool GetLastMessageBox(std::string* caption, std::string* text)
{
    SharedState& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.messageBoxCount == 0) {
        return false;
    }
    if (caption != nullptr) {
        *caption = shared.lastCaption;
    }
    if (text != nullptr) {
        *text = shared.lastText;
    }
    return true;
}

}  // namespace platform
