// The window on SDL2: video, events, keyboard and joystick. The only file
// of the window library that includes SDL.
#include "platform/window/window_backend.h"

#include "platform/sys/printable.h"
#include "platform/window/message_box.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// Keys by their place on the keyboard, so that the play keys stay where
// they are whatever the layout.
int VirtualKeyFromScancode(SDL_Scancode code)
{
    if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z) {
        return 'A' + (code - SDL_SCANCODE_A);
    }
    // SDL orders the digit row 1 to 9, then 0.
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9) {
        return '1' + (code - SDL_SCANCODE_1);
    }
    if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F12) {
        return VK_F1 + (code - SDL_SCANCODE_F1);
    }
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9) {
        return VK_NUMPAD0 + 1 + (code - SDL_SCANCODE_KP_1);
    }
    switch (code) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    // The punctuation keys of a US layout, as the game's Windows build
    // would have seen them.
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    default: return 0;
    }
}

// Appends one Char event per code point of a UTF-8 text; a broken sequence
// ends the text.
void AppendCharEvents(const char* text, std::vector<BackendEvent>* events)
{
    const std::string_view bytes = text;
    uint32_t code = 0;
    for (size_t at = 0, length = 0; (length = ReadUtf8Char(bytes, at, &code)) > 0; at += length) {
        BackendEvent event;
        event.kind = BackendEvent::Char;
        event.codePoint = code;
        events->push_back(event);
    }
}

class Sdl2WindowBackend final : public WindowBackend {
public:
    ~Sdl2WindowBackend() override
    {
        CloseWindow();
        if (joystick != nullptr) {
            SDL_JoystickClose(joystick);
        }
        SDL_QuitSubSystem(subsystems);
        SDL_Quit();
    }

    bool Start(std::string* reason)
    {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            *reason = SDL_GetError();
            return false;
        }
        subsystems = SDL_INIT_VIDEO;
        const char* driver = SDL_GetCurrentVideoDriver();
        // SDL falls back on drivers that draw nowhere when no display
        // answers: such a window is no display to show a box or a frame on.
        onDisplay = driver != nullptr && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
        std::fprintf(stderr, "window: sdl2, video driver %s\n", driver != nullptr ? driver : "?");
        // A missing joystick subsystem only means no joystick.
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0) {
            subsystems |= SDL_INIT_JOYSTICK;
            OpenJoystick();
        } else {
            std::fprintf(stderr, "window: no joystick support (%s)\n", SDL_GetError());
        }
        return true;
    }

    const char* GetName() const override { return "sdl2"; }
    bool HasDisplay() const override { return onDisplay; }

    bool OpenWindow(const WindowDesc& desc) override
    {
        if (window != nullptr) {
            std::fprintf(stderr, "window: a window is open already\n");
            return false;
        }
        if (desc.width <= 0 || desc.height <= 0) {
            std::fprintf(stderr, "window: bad window size %dx%d\n", desc.width, desc.height);
            return false;
        }
        window = SDL_CreateWindow(desc.title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  desc.width, desc.height, SDL_WINDOW_HIDDEN);
        if (window == nullptr) {
            std::fprintf(stderr, "window: SDL_CreateWindow failed (%s)\n", SDL_GetError());
            return false;
        }
        renderer = SDL_CreateRenderer(window, -1, 0);
        if (renderer == nullptr) {
            // Machines without a GPU still have SDL's own renderer.
            renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        }
        if (renderer == nullptr) {
            std::fprintf(stderr, "window: SDL_CreateRenderer failed (%s)\n", SDL_GetError());
            SDL_DestroyWindow(window);
            window = nullptr;
            return false;
        }
        if (!SetMode(desc.windowed, desc.width, desc.height)) {
            CloseWindow();
            return false;
        }
        SetCursorVisible(desc.cursorVisible);
        SDL_ShowWindow(window);
        SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
        SDL_RenderClear(renderer);
        SDL_RenderPresent(renderer);
        return true;
    }

    void CloseWindow() override
    {
        if (texture != nullptr) {
            SDL_DestroyTexture(texture);
            texture = nullptr;
        }
        if (renderer != nullptr) {
            SDL_DestroyRenderer(renderer);
            renderer = nullptr;
        }
        if (window != nullptr) {
            SDL_DestroyWindow(window);
            window = nullptr;
        }
        textureWidth = 0;
        textureHeight = 0;
    }

    void PollEvents(std::vector<BackendEvent>* events) override
    {
        SDL_Event e;
        while (SDL_PollEvent(&e) != 0) {
            BackendEvent event;
            switch (e.type) {
            case SDL_QUIT:
                event.kind = BackendEvent::Close;
                events->push_back(event);
                break;
            case SDL_WINDOWEVENT:
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
                    event.kind = BackendEvent::Close;
                    events->push_back(event);
                } else if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
                           e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
                    event.kind = BackendEvent::Activate;
                    event.active = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
                    events->push_back(event);
                }
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP:
                event.kind = BackendEvent::Key;
                event.virtualKey = VirtualKeyFromScancode(e.key.keysym.scancode);
                event.down = e.type == SDL_KEYDOWN;
                event.repeat = e.key.repeat != 0;
                if (event.virtualKey != 0) {
                    events->push_back(event);
                }
                break;
            case SDL_TEXTINPUT:
                AppendCharEvents(e.text.text, events);
                break;
            case SDL_JOYDEVICEADDED:
                if (joystick == nullptr) {
                    OpenJoystick();
                }
                break;
            case SDL_JOYDEVICEREMOVED:
                if (joystick != nullptr && e.jdevice.which == SDL_JoystickInstanceID(joystick)) {
                    SDL_JoystickClose(joystick);
                    joystick = nullptr;
                    OpenJoystick();
                }
                break;
            default:
                break;
            }
        }
    }

    void SetTitle(const std::string& title) override
    {
        if (window != nullptr) {
            SDL_SetWindowTitle(window, title.c_str());
        }
    }

    void SetCursorVisible(bool visible) override
    {
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
    }

    bool SetMode(bool windowed, int width, int height) override
    {
        if (window == nullptr || width <= 0 || height <= 0) {
            return false;
        }
        if (windowed) {
            if (SDL_SetWindowFullscreen(window, 0) != 0) {
                std::fprintf(stderr, "window: leaving full screen failed (%s)\n", SDL_GetError());
                return false;
            }
            SDL_SetWindowBordered(window, SDL_TRUE);
            SDL_SetWindowSize(window, width, height);
            SDL_SetWindowPosition(window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
        } else {
            SDL_SetWindowBordered(window, SDL_FALSE);
            SDL_SetWindowPosition(window, 0, 0);
            // The desktop's own mode: the frame is scaled up, the monitor is
            // never switched.
            if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
                std::fprintf(stderr, "window: full screen failed (%s)\n", SDL_GetError());
                return false;
            }
        }
        SDL_RenderSetLogicalSize(renderer, width, height);
        return true;
    }

    bool Present(const uint32_t* pixels, int width, int height, int pitchBytes) override
    {
        if (renderer == nullptr) {
            return false;
        }
        if (texture == nullptr || width != textureWidth || height != textureHeight) {
            if (texture != nullptr) {
                SDL_DestroyTexture(texture);
            }
            texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                        width, height);
            if (texture == nullptr) {
                std::fprintf(stderr, "window: SDL_CreateTexture %dx%d failed (%s)\n", width, height,
                             SDL_GetError());
                textureWidth = 0;
                textureHeight = 0;
                return false;
            }
            textureWidth = width;
            textureHeight = height;
        }
        if (SDL_UpdateTexture(texture, nullptr, pixels, pitchBytes) != 0) {
            std::fprintf(stderr, "window: SDL_UpdateTexture failed (%s)\n", SDL_GetError());
            return false;
        }
        SDL_RenderClear(renderer);
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
        return true;
    }

    int GetJoystickCount() override
    {
        if ((subsystems & SDL_INIT_JOYSTICK) == 0) {
            return 0;
        }
        const int count = SDL_NumJoysticks();
        return count > 0 ? count : 0;
    }

    bool ReadJoystick(int index, JoystickState* out) override
    {
        // Only joystick 0 is kept open: it is the only one the engine reads.
        if (index != 0 || joystick == nullptr) {
            return false;
        }
        const int buttons = SDL_JoystickNumButtons(joystick);
        const int axes = SDL_JoystickNumAxes(joystick);
        out->buttonCount = buttons < kJoystickButtons ? (buttons > 0 ? buttons : 0) : kJoystickButtons;
        out->axisCount = axes < kJoystickAxes ? (axes > 0 ? axes : 0) : kJoystickAxes;
        out->buttons = 0;
        for (int i = 0; i < out->buttonCount; ++i) {
            if (SDL_JoystickGetButton(joystick, i) != 0) {
                out->buttons |= 1u << i;
            }
        }
        for (int i = 0; i < kJoystickAxes; ++i) {
            out->axes[i] = i < out->axisCount ? SDL_JoystickGetAxis(joystick, i) : 0;
        }
        return true;
    }

    int ShowMessageBox(uint32_t type, const std::string& caption, const std::string& text) override
    {
        // The text is on stderr already: without a display that is all.
        if (!onDisplay) {
            return DefaultMessageBoxResult(type);
        }
        MessageBoxLayout layout;
        MessageBoxPicture picture;
        std::string error;
        if (LayOutMessageBox(type, text, WorkArea(), &layout, &error) &&
            DrawMessageBox(layout, 0, 0, &picture, &error)) {
            return RunDrawnMessageBox(type, caption, layout, &picture);
        }
        // Without our fonts SDL's own box is the one left, and its core X
        // fonts show plain ASCII only.
        std::fprintf(stderr, "window: message box not drawn (%s)\n", error.c_str());
        if (!IsPlainAscii(caption) || !IsPlainAscii(text)) {
            return DefaultMessageBoxResult(type);
        }
        return RunSdlMessageBox(type, caption, text);
    }

private:
    static bool IsPlainAscii(const std::string& text)
    {
        return std::all_of(text.begin(), text.end(), [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\n'; });
    }

    // Where a box may go: the work area (the screen less panels and docks)
    // of the screen the program's window is on, else of the first screen.
    MessageBoxRect WorkArea() const
    {
        int display = window != nullptr ? SDL_GetWindowDisplayIndex(window) : 0;
        display = display >= 0 ? display : 0;
        SDL_Rect area = {};
        if (SDL_GetDisplayUsableBounds(display, &area) != 0 && SDL_GetDisplayBounds(display, &area) != 0) {
            // A box laid out for the smallest screen of the engine's day
            // fits on any other.
            std::fprintf(stderr, "window: no bounds of screen %d (%s), a box is laid out for 640x480\n", display,
                         SDL_GetError());
            area = {0, 0, 640, 480};
        }
        return {area.x, area.y, area.w, area.h};
    }

    // Shows the box in a window of its own over the program's and waits for
    // a button: Return or Space presses the marked one, Tab and the left and
    // right arrows move the mark, Escape and closing the box answer its
    // escape result. A text too long for the screen scrolls by the wheel,
    // the up and down arrows, Page Up and Page Down, Home and End. A request
    // to quit ends the box that way too, and is passed on.
    int RunDrawnMessageBox(uint32_t type, const std::string& caption, const MessageBoxLayout& layout,
                           MessageBoxPicture* picture)
    {
        SDL_Window* box = SDL_CreateWindow(caption.c_str(), layout.box.x, layout.box.y, picture->width,
                                           picture->height, SDL_WINDOW_SHOWN);
        if (box == nullptr) {
            std::fprintf(stderr, "window: message box not shown (%s)\n", SDL_GetError());
            return DefaultMessageBoxResult(type);
        }
        if (window != nullptr) {
            SDL_SetWindowModalFor(box, window);
        }
        SDL_RaiseWindow(box);
        const uint32_t id = SDL_GetWindowID(box);
        const int page = std::max(layout.visibleLines - 1, 1);
        int focused = 0;
        int firstLine = 0;
        int result = 0;
        bool quit = false;
        bool dirty = true;
        while (result == 0) {
            if (dirty) {
                ShowPicture(box, *picture);
                dirty = false;
            }
            SDL_Event e;
            if (SDL_WaitEvent(&e) == 0) {
                std::fprintf(stderr, "window: message box lost its events (%s)\n", SDL_GetError());
                result = layout.escapeResult;
                break;
            }
            const int shown = firstLine;
            const int marked = focused;
            if (e.type == SDL_QUIT) {
                quit = true;
                result = layout.escapeResult;
            } else if (e.type == SDL_WINDOWEVENT && e.window.windowID == id) {
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
                    result = layout.escapeResult;
                }
                dirty = e.window.event == SDL_WINDOWEVENT_EXPOSED;
            } else if (e.type == SDL_KEYDOWN && e.key.windowID == id) {
                const SDL_Keycode key = e.key.keysym.sym;
                if (key == SDLK_RETURN || key == SDLK_KP_ENTER || key == SDLK_SPACE) {
                    result = layout.buttons[focused].result;
                } else if (key == SDLK_ESCAPE) {
                    result = layout.escapeResult;
                } else if (key == SDLK_TAB || key == SDLK_LEFT || key == SDLK_RIGHT) {
                    focused = (focused + 1) % layout.buttonCount;
                } else if (key == SDLK_UP || key == SDLK_DOWN) {
                    firstLine = ScrollMessageBox(layout, firstLine, key == SDLK_UP ? -1 : 1);
                } else if (key == SDLK_PAGEUP || key == SDLK_PAGEDOWN) {
                    firstLine = ScrollMessageBox(layout, firstLine, key == SDLK_PAGEUP ? -page : page);
                } else if (key == SDLK_HOME || key == SDLK_END) {
                    firstLine = ScrollMessageBox(layout, 0, key == SDLK_HOME ? 0 : int(layout.lines.size()));
                }
            } else if (e.type == SDL_MOUSEWHEEL && e.wheel.windowID == id) {
                const int notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
                firstLine = ScrollMessageBox(layout, firstLine, -3 * notches);
            } else if (e.type == SDL_MOUSEBUTTONUP && e.button.windowID == id && e.button.button == SDL_BUTTON_LEFT) {
                const int pressed = MessageBoxButtonAt(layout, e.button.x, e.button.y);
                if (pressed >= 0) {
                    result = layout.buttons[pressed].result;
                }
            }
            if (result == 0 && (firstLine != shown || focused != marked)) {
                std::string error;
                if (DrawMessageBox(layout, focused, firstLine, picture, &error)) {
                    dirty = true;
                } else {
                    std::fprintf(stderr, "window: message box not drawn (%s)\n", error.c_str());
                }
            }
        }
        SDL_DestroyWindow(box);
        if (quit) {
            SDL_Event again = {};
            again.type = SDL_QUIT;
            SDL_PushEvent(&again);
        }
        return result;
    }

    static void ShowPicture(SDL_Window* box, const MessageBoxPicture& picture)
    {
        SDL_Surface* target = SDL_GetWindowSurface(box);
        SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<uint32_t*>(picture.pixels.data()), picture.width, picture.height, 32, picture.width * 4,
            SDL_PIXELFORMAT_ARGB8888);
        if (target == nullptr || source == nullptr || SDL_BlitSurface(source, nullptr, target, nullptr) != 0 ||
            SDL_UpdateWindowSurface(box) != 0) {
            std::fprintf(stderr, "window: message box not drawn (%s)\n", SDL_GetError());
        }
        SDL_FreeSurface(source);
    }

    int RunSdlMessageBox(uint32_t type, const std::string& caption, const std::string& text)
    {
        SDL_MessageBoxButtonData buttons[2] = {};
        int count = 1;
        const uint32_t kind = type & 0x0F;
        if (kind == MB_OKCANCEL) {
            buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDOK, "OK"};
            buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDCANCEL, "Cancel"};
            count = 2;
        } else if (kind == MB_YESNO) {
            buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"};
            buttons[1] = {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"};
            count = 2;
        } else {
            buttons[0] = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                          IDOK, "OK"};
        }
        uint32_t flags = SDL_MESSAGEBOX_INFORMATION;
        const uint32_t icon = type & 0xF0;
        if (icon == MB_ICONERROR) {
            flags = SDL_MESSAGEBOX_ERROR;
        } else if (icon == MB_ICONWARNING) {
            flags = SDL_MESSAGEBOX_WARNING;
        }
        SDL_MessageBoxData data = {};
        data.flags = flags;
        data.window = window;
        data.title = caption.c_str();
        data.message = text.c_str();
        data.numbuttons = count;
        data.buttons = buttons;
        int pressed = -1;
        if (SDL_ShowMessageBox(&data, &pressed) != 0 || pressed < 0) {
            std::fprintf(stderr, "window: message box not shown (%s)\n", SDL_GetError());
            return DefaultMessageBoxResult(type);
        }
        return pressed;
    }

    void OpenJoystick()
    {
        if ((subsystems & SDL_INIT_JOYSTICK) == 0 || SDL_NumJoysticks() <= 0) {
            return;
        }
        joystick = SDL_JoystickOpen(0);
        if (joystick == nullptr) {
            std::fprintf(stderr, "window: joystick 0 cannot be opened (%s)\n", SDL_GetError());
            return;
        }
        const char* name = SDL_JoystickName(joystick);
        std::fprintf(stderr, "window: joystick 0 \"%s\", %d buttons, %d axes\n", name != nullptr ? name : "",
                     SDL_JoystickNumButtons(joystick), SDL_JoystickNumAxes(joystick));
    }

    uint32_t subsystems = 0;
    bool onDisplay = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int textureWidth = 0;  // pixels
    int textureHeight = 0;
    SDL_Joystick* joystick = nullptr;
};

}  // namespace

std::unique_ptr<WindowBackend> CreateSdl2WindowBackend(std::string* reason)
{
    auto backend = std::make_unique<Sdl2WindowBackend>();
    if (!backend->Start(reason)) {
        return nullptr;
    }
    return backend;
}

}  // namespace platform
