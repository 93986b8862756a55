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

bool ParseNumber(const char* text, unsigned long* out)
{
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    char* end = nullptr;
    *out = std::strtoul(text, &end, 0);
    return end != nullptr && *end == '\0';
}

bool ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (option == "--fullscreen") {
            options->windowed = false;
        } else if (option == "--fps-title") {
            options->frameRateInTitle = true;
        } else if (option == "--flags" && ParseNumber(value, &number)) {
            options->useFlags = uint32_t(number);
            ++i;
        } else if (option == "--fps" && ParseNumber(value, &number) && number <= 1000) {
            options->framesPerSecond = int32_t(number);
            ++i;
        } else if (option == "--frames" && ParseNumber(value, &number)) {
            options->frames = long(number);
            ++i;
        } else if ((option == "--colour" || option == "--color") && ParseNumber(value, &number)) {
            options->colour = uint32_t(number);
            ++i;
        } else if (option == "--size" && value != nullptr &&
                   std::sscanf(value, "%dx%d", &options->width, &options->height) == 2 && options->width > 0 &&
                   options->height > 0 && options->width <= 8192 && options->height <= 8192) {
            ++i;
        } else {
            std::fprintf(stderr, "orva-app-smoke: bad option %s\n", option.c_str());
            return false;
        }
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
    std::printf("app-smoke: backend %s %dx%d colour 0x%08X\n", platform::GetWindowBackendName(), g_options.width,
                g_options.height, g_options.colour);
    std::fflush(stdout);
    long presented = 0;
    while (OrvaApplication::Pump()) {
        OrvaApplication::PresentFrame(frame.data(), g_options.width, g_options.height, g_options.width * 4);
        OrvaApplication::AddPolygonCount(2);
        ++presented;
        if (presented == kAnnounceFrame) {
            std::printf("app-smoke: presenting\n");
            std::fflush(stdout);
        }
        if (g_options.frames > 0 && presented == g_options.frames) {
            OrvaApplication::Exit();
        }
    }
    std::printf("app-smoke: %ld frames\n", presented);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!ParseOptions(argc, argv, &g_options)) {
        Usage();
        return 2;
    }
    const int32_t result = OrvaApplication::Run(&Setup, &Main);
    return result < 0 ? 1 : result;
}
