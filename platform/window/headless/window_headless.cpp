// A window that exists only in memory: runs without a display and tests.
// Events come only from the injection calls, which the portable part feeds
// in directly, so this backend reports none of its own.
#include "platform/window/window_backend.h"

#include <cstdio>

namespace platform {

namespace {

class HeadlessWindowBackend final : public WindowBackend {
public:
    const char* GetName() const override { return "headless"; }
    bool HasDisplay() const override { return false; }

    bool OpenWindow(const WindowDesc& desc) override
    {
        if (desc.width <= 0 || desc.height <= 0) {
            std::fprintf(stderr, "window: bad window size %dx%d\n", desc.width, desc.height);
            return false;
        }
        return true;
    }
    void CloseWindow() override {}
    void PollEvents(std::vector<BackendEvent>*) override {}
    void SetTitle(const std::string&) override {}
    void SetCursorVisible(bool) override {}
    bool SetMode(bool, int width, int height) override { return width > 0 && height > 0; }
    // The portable part keeps the copy that tests and screenshots read.
    bool Present(const uint32_t*, int, int, int) override { return true; }

    int GetJoystickCount() override { return 0; }
    bool ReadJoystick(int, JoystickState*) override { return false; }

    int ShowMessageBox(uint32_t type, const std::string&, const std::string&) override
    {
        // Nobody can press a button here, and the text is on stderr
        // already: take the first button, so that the run goes on.
        return DefaultMessageBoxResult(type);
    }
};

}  // namespace

std::unique_ptr<WindowBackend> CreateHeadlessWindowBackend()
{
    return std::make_unique<HeadlessWindowBackend>();
}

}  // namespace platform
