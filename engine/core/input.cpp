// Keyboard and joystick 0, read once a frame.
#include "engine/core/input.h"

#include "engine/core/debug.h"
#include "platform/window/window.h"

namespace {

constexpr int32_t kKeyCount = 256;
constexpr int32_t kAxisCount = platform::kJoystickAxes;

struct InputState {
    bool keys[kKeyCount] = {};
    bool joystickPresent = false;
    int32_t buttonCount = 0;
    uint32_t buttons = 0;
    int32_t axes[kAxisCount] = {};  // -1000 to 1000
};

bool g_initialized = false;
InputState g_current;
InputState g_previous;

int32_t ScaleAxis(int16_t raw)
{
    // Truncation toward zero keeps -32768 at -1000 too.
    return int32_t(raw) * OrvaInput::kAxisRange / 32767;
}

bool ValidKey(int32_t virtualKey)
{
    return virtualKey >= 0 && virtualKey < kKeyCount;
}

}  // namespace

bool OrvaInput::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Input\n");
    g_current = InputState();
    g_previous = InputState();
    g_initialized = true;
    const int32_t joysticks = platform::GetJoystickCount();
    OrvaDebug::Log("■ Joystick %d\n", joysticks);
    Update();
    // Keys held at the start count as held, not as pressed.
    g_previous = g_current;
    return true;
}

void OrvaInput::Destroy()
{
    if (!g_initialized) {
        return;
    }
    OrvaDebug::Log("\n============================================== Destroy Input\n");
    g_initialized = false;
    g_current = InputState();
    g_previous = InputState();
}

bool OrvaInput::IsInitialized()
{
    return g_initialized;
}

void OrvaInput::Update()
{
    if (!g_initialized) {
        return;
    }
    g_previous = g_current;
    InputState next;
    for (int32_t key = 0; key < kKeyCount; ++key) {
        next.keys[key] = (platform::GetKeyState(key) & 0x8000) != 0;
    }
    platform::JoystickState joystick;
    if (platform::GetJoystickState(0, &joystick)) {
        next.joystickPresent = true;
        next.buttonCount = joystick.buttonCount;
        next.buttons = joystick.buttons;
        for (int32_t axis = 0; axis < kAxisCount && axis < joystick.axisCount; ++axis) {
            next.axes[axis] = ScaleAxis(joystick.axes[axis]);
        }
    }
    g_current = next;
}

bool OrvaInput::IsKeyDown(int32_t virtualKey)
{
    return ValidKey(virtualKey) && g_current.keys[virtualKey];
}

bool OrvaInput::IsKeyPressed(int32_t virtualKey)
{
    return ValidKey(virtualKey) && g_current.keys[virtualKey] && !g_previous.keys[virtualKey];
}

bool OrvaInput::IsJoystickPresent()
{
    return g_current.joystickPresent;
}

int32_t OrvaInput::GetJoystickButtonCount()
{
    return g_current.buttonCount;
}

uint32_t OrvaInput::GetJoystickButtons()
{
    return g_current.buttons;
}

uint32_t OrvaInput::GetJoystickButtonsPressed()
{
    return g_current.buttons & ~g_previous.buttons;
}

bool OrvaInput::IsJoystickButtonDown(int32_t button)
{
    if (button < 0 || button >= platform::kJoystickButtons) {
        return false;
    }
    return (g_current.buttons >> button) & 1u;
}

int32_t OrvaInput::GetJoystickAxis(int32_t axis)
{
    if (axis < 0 || axis >= kAxisCount) {
        return 0;
    }
    return g_current.axes[axis];
}

uint32_t OrvaInput::GetJoystickDirections()
{
    uint32_t directions = 0;
    if (g_current.axes[0] < -kDirectionThreshold) {
        directions |= kLeft;
    }
    if (g_current.axes[0] > kDirectionThreshold) {
        directions |= kRight;
    }
    if (g_current.axes[1] < -kDirectionThreshold) {
        directions |= kUp;
    }
    if (g_current.axes[1] > kDirectionThreshold) {
        directions |= kDown;
    }
    return directions;
}
