#pragma once
// What a window backend provides. Only the window library includes this; a
// backend sees nothing of the message queue, it reports events.
#include "platform/window/window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct BackendEvent {
    enum Kind { Key, Char, Close, Activate };
    Kind kind = Key;
    // Key: a virtual-key code; the shift, control and alt keys come as
    // their left or right codes (VK_LSHIFT...).
    int virtualKey = 0;
    bool down = false;
    bool repeat = false;
    uint32_t codePoint = 0;  // Char
    bool active = false;     // Activate
};

class WindowBackend {
public:
    virtual ~WindowBackend() = default;
    virtual const char* GetName() const = 0;
    virtual bool HasDisplay() const = 0;

    virtual bool OpenWindow(const WindowDesc& desc) = 0;
    virtual void CloseWindow() = 0;
    // Appends the events that arrived since the last call.
    virtual void PollEvents(std::vector<BackendEvent>* events) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetCursorVisible(bool visible) = 0;
    virtual bool SetMode(bool windowed, int width, int height) = 0;
    virtual bool Present(const uint32_t* pixels, int width, int height, int pitchBytes) = 0;

    virtual int GetJoystickCount() = 0;
    virtual bool ReadJoystick(int index, JoystickState* out) = 0;

    // Returns the pressed button's result.
    virtual int ShowMessageBox(uint32_t type, const std::string& caption, const std::string& text) = 0;
};

// Null, with the reason, when SDL's video cannot start.
std::unique_ptr<WindowBackend> CreateSdl2WindowBackend(std::string* reason);
std::unique_ptr<WindowBackend> CreateHeadlessWindowBackend();

// The message-box result of the type's first button, which a run without a
// display takes as pressed.
int DefaultMessageBoxResult(uint32_t type);

}  // namespace platform
