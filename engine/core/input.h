#pragma once
// Keyboard and joystick 0, read once a frame by the application's pump so
// that everything in one frame sees the same state.
#include <cstdint>

class OrvaInput {
public:
    // Joystick directions, from axes 0 (x) and 1 (y).
    static constexpr uint32_t kLeft = 0x1;
    static constexpr uint32_t kRight = 0x2;
    static constexpr uint32_t kUp = 0x4;
    static constexpr uint32_t kDown = 0x8;
    // Axis positions run from -1000 to 1000; past half way is a direction.
    static constexpr int32_t kAxisRange = 1000;
    static constexpr int32_t kDirectionThreshold = 500;

    static bool Initialize();
    static void Destroy();
    static bool IsInitialized();
    // Takes this frame's state; does nothing while the module is stopped.
    static void Update();

    // Keys by virtual-key code, as of the last Update.
    static bool IsKeyDown(int32_t virtualKey);
    // Down now and up at the Update before.
    static bool IsKeyPressed(int32_t virtualKey);

    static bool IsJoystickPresent();
    static int32_t GetJoystickButtonCount();
    // Bit n: button n held.
    static uint32_t GetJoystickButtons();
    // Bit n: button n went down at the last Update.
    static uint32_t GetJoystickButtonsPressed();
    static bool IsJoystickButtonDown(int32_t button);
    // -1000 to 1000; 0 for an axis the joystick lacks.
    static int32_t GetJoystickAxis(int32_t axis);
    // kLeft, kRight, kUp, kDown.
    static uint32_t GetJoystickDirections();
};
