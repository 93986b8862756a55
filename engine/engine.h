#pragma once
// The engine as one: fills the application frame's start-up and shut-down
// lists with the modules of every engine folder, and connects the device to
// the window and the streamed audio to the window's messages.
class OrvaEngine {
public:
    // Call before OrvaApplication::Run.
    static void RegisterModules();
};
