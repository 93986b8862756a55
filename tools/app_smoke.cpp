// orva-app-smoke: runs the application frame with a window that shows one
// fill colour, so that a person or a script can see the frame work: start it
// (under Xvfb, say), take a screenshot, check the colour. Escape or closing
// the window ends it, as does --frames.
//
// Output (stable, one line each):
//   app-smoke: backend <name> <width>x<height> colour 0x<AARRGGBB>
//   app-smoke: presenting          after the 10th presented frame
//   app-smoke: <n> frames
#include "engine/core/application.h"
#include "platform/sys/printable.h"
#include "tools/output.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kAnnounceFrame = 10;

struct Options {
    uint32_t useFlags = 0;
    int32_t framesPerSecond = 60;
    long frames = 0;  // 0: until Escape or the window closes
    uint32_t colour = 0xFF2080C0;
    int32_t width = 640;
    int32_t height = 480;
    bool windowed = true;
    bool frameRateInTitle = false;
};

Options g_options;

void Usage()
{
    std::fprintf(stderr,
                 "usage: orva-app-smoke [--flags N] [--fps N] [--frames N] [--colour 0xAARRGGBB]\n"
                 "                      [--size WxH] [--fullscreen] [--fps-title]\n");
}

// A whole number, decimal or 0x hexadecimal with nothing around it: a sign,
// a space or a trailing word is refused rather than read as something else.
bool ParseWhole(const char* text, unsigned long long* out)
{
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    const bool first = hex ? std::isxdigit(uint8_t(digits[0])) != 0 : std::isdigit(uint8_t(digits[0])) != 0;
    if (!first) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    *out = std::strtoull(digits, &end, hex ? 16 : 10);
    return errno == 0 && *end == '\0';
}

// Reads the value of a numeric option, from lo to hi; says what is wrong
// when it cannot.
bool TakeWhole(const std::string& option, const char* value, unsigned long long lo, unsigned long long hi,
               unsigned long long* out)
{
    if (value == nullptr) {
        std::fprintf(stderr, "orva-app-smoke: %s wants a value\n", option.c_str());
        return false;
    }
    if (!ParseWhole(value, out) || *out < lo || *out > hi) {
        std::fprintf(stderr, "orva-app-smoke: %s wants a whole number from %llu to %llu, not '%s'\n",
                     option.c_str(), lo, hi, platform::PrintableText(value).c_str());
        return false;
    }
    return true;
}

// WxH, each side from 1 to 8192 pixels.
bool TakeSize(const char* value, int32_t* width, int32_t* height)
{
    const char* cross = value != nullptr ? std::strchr(value, 'x') : nullptr;
    unsigned long long w = 0;
    unsigned long long h = 0;
    if (cross == nullptr || cross == value || !ParseWhole(std::string(value, cross).c_str(), &w) ||
        !ParseWhole(cross + 1, &h) || w < 1 || h < 1 || w > 8192 || h > 8192) {
        std::fprintf(stderr, "orva-app-smoke: --size wants WIDTHxHEIGHT, each 1 to 8192, not '%s'\n",
                     value != nullptr ? platform::PrintableText(value).c_str() : "");
        return false;
    }
    *width = int32_t(w);
    *height = int32_t(h);
    return true;
}

bool ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long long number = 0;
        if (option == "--fullscreen") {
            options->windowed = false;
            continue;
        }
        if (option == "--fps-title") {
            options->frameRateInTitle = true;
            continue;
        }
        if (option == "--flags") {
            if (!TakeWhole(option, value, 0, 0xFFFFFFFFu, &number)) {
                return false;
            }
            options->useFlags = uint32_t(number);
        } else if (option == "--fps") {
            if (!TakeWhole(option, value, 1, 1000, &number)) {
                return false;
            }
            options->framesPerSecond = int32_t(number);
        } else if (option == "--frames") {
            if (!TakeWhole(option, value, 0, 0x7FFFFFFF, &number)) {
                return false;
            }
            options->frames = long(number);
        } else if (option == "--colour" || option == "--color") {
            if (!TakeWhole(option, value, 0, 0xFFFFFFFFu, &number)) {
                return false;
            }
            options->colour = uint32_t(number);
        } else if (option == "--size") {
            if (!TakeSize(value, &options->width, &options->height)) {
                return false;
            }
        } else {
            std::fprintf(stderr, "orva-app-smoke: unknown option '%s'\n", platform::PrintableText(option).c_str());
            return false;
        }
        ++i;
    }
    return true;
}

void OnKeyDown(uintptr_t wParam, intptr_t)
{
    if (wParam == platform::VK_ESCAPE) {
        OrvaApplication::Exit();
    }
}

void Setup()
{
    OrvaApplication::SetApplicationName("orva-app-smoke");
    OrvaApplication::SetScreenSize(g_options.width, g_options.height);
    OrvaApplication::SetFrameRate(g_options.framesPerSecond);
    OrvaApplication::SetWindowed(g_options.windowed);
    OrvaApplication::SetCursorVisible(false);
    OrvaApplication::SetFrameRateInTitle(g_options.frameRateInTitle);
    OrvaApplication::AddMessageHook(platform::WM_KEYDOWN, &OnKeyDown);
    OrvaApplication::SetUseFlags(g_options.useFlags);
}

int32_t Main()
{
    std::vector<uint32_t> frame(size_t(g_options.width) * size_t(g_options.height), g_options.colour);
    ToolPrint("app-smoke: backend %s %dx%d colour 0x%08X\n", platform::GetWindowBackendName(), g_options.width,
                g_options.height, g_options.colour);
    ToolFlush();
    long presented = 0;
    while (OrvaApplication::Pump()) {
        OrvaApplication::PresentFrame(frame.data(), g_options.width, g_options.height, g_options.width * 4);
        OrvaApplication::AddPolygonCount(2);
        ++presented;
        if (presented == kAnnounceFrame) {
            ToolPrint("app-smoke: presenting\n");
            ToolFlush();
        }
        if (g_options.frames > 0 && presented == g_options.frames) {
            OrvaApplication::Exit();
        }
    }
    ToolPrint("app-smoke: %ld frames\n", presented);
    ToolFlush();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!ParseOptions(argc, argv, &g_options)) {
        Usage();
        return 2;
    }
    ToolOutputBegin();
    const int32_t result = OrvaApplication::Run(&Setup, &Main);
    if (!ToolOutputEnd("orva-app-smoke")) {
        return 1;
    }
    return result < 0 ? 1 : result;
}
