// Needs an X server (scripts/test runs it under Xvfb): the window is shown
// through SDL, a screenshot of the whole screen is taken with ImageMagick's
// import, and the window's colour is looked for in it.
#include "engine/core/application.h"
#include "platform/window/message_box.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    // 0xRRGGBB of one pixel; -1 outside the picture.
    long At(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return -1;
        }
        const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return (long(rgb[i]) << 16) | (long(rgb[i + 1]) << 8) | long(rgb[i + 2]);
    }
};

// The whole screen as 8-bit RGB, through a binary PPM file.
bool TakeScreenshot(Screenshot* shot)
{
    char path[] = "/tmp/orva-screenshot-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return false;
    }
    close(fd);
    const std::string command = std::string("import -window root -depth 8 ppm:") + path;
    const int status = std::system(command.c_str());
    FILE* file = std::fopen(path, "rb");
    bool ok = false;
    if (status == 0 && file != nullptr) {
        int maxValue = 0;
        if (std::fscanf(file, "P6 %d %d %d", &shot->width, &shot->height, &maxValue) == 3 && maxValue == 255 &&
            shot->width > 0 && shot->height > 0 && shot->width <= 16384 && shot->height <= 16384 &&
            std::fgetc(file) != EOF) {
            shot->rgb.resize(size_t(shot->width) * size_t(shot->height) * 3);
            ok = std::fread(shot->rgb.data(), 1, shot->rgb.size(), file) == shot->rgb.size();
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    unlink(path);
    return ok;
}

bool HaveDisplay()
{
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && display[0] != '\0';
}

// The smoke tool beside this build's tests.
std::string SmokeToolPath()
{
    const char* given = std::getenv("ORVA_APP_SMOKE");
    if (given != nullptr && given[0] != '\0') {
        return given;
    }
    return platform::GetProgramFolder() + "/../../../tools/orva-app-smoke";
}

// Reads the child's output into `text` until `wanted` appears, the output
// ends or timeoutMs passes.
bool ReadUntil(int fd, std::string* text, const char* wanted, int timeoutMs)
{
    const uint32_t start = platform::GetTimeMs();
    while (text->find(wanted) == std::string::npos) {
        const int left = timeoutMs - int(platform::GetTimeMs() - start);
        if (left <= 0) {
            return false;
        }
        pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, left) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return text->find(wanted) != std::string::npos;
        }
        text->append(buffer, size_t(got));
    }
    return true;
}

// Starts the smoke tool in a window, its lock in the test's own folder, with
// `stream` (stdout or stderr) into a pipe whose end is *readFd. The child's
// id, -1 when it could not start.
pid_t StartSmokeTool(std::vector<const char*> args, int stream, int* readFd)
{
    const std::string tool = SmokeToolPath();
    int pipeFds[2];
    if (access(tool.c_str(), X_OK) != 0 || pipe(pipeFds) != 0) {
        return -1;
    }
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
    args.insert(args.begin(), tool.c_str());
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return -1;
    }
    if (child == 0) {
        dup2(pipeFds[1], stream);
        close(pipeFds[0]);
        close(pipeFds[1]);
        setenv("ORVA_WINDOW", "sdl2", 1);
        execv(tool.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(pipeFds[1]);
    *readFd = pipeFds[0];
    return child;
}

TEST(OrvaApplicationDisplay, SmokeToolShowsItsColourCentredOnTheScreen)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "no X display";
    }
    // The frame bound only ends a run that the test lost hold of.
    int readFd = -1;
    const pid_t child = StartSmokeTool({"--colour", "0xFF336699", "--frames", "3000"}, STDOUT_FILENO, &readFd);
    ASSERT_GT(child, 0) << SmokeToolPath();

    std::string output;
    const bool presenting = ReadUntil(readFd, &output, "app-smoke: presenting", 20000);
    Screenshot shot;
    const bool shotTaken = presenting && TakeScreenshot(&shot);

    // SDL takes the termination signal as a request to close the window.
    kill(child, SIGTERM);
    const bool ended = ReadUntil(readFd, &output, " frames\n", 20000);
    if (!ended) {
        kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(readFd);

    ASSERT_TRUE(presenting) << output;
    EXPECT_NE(output.find("app-smoke: backend sdl2 640x480 colour 0xFF336699"), std::string::npos) << output;
    ASSERT_TRUE(shotTaken);
    // The window is centred: the screen's middle is inside it, the corners
    // are not.
    const int cx = shot.width / 2;
    const int cy = shot.height / 2;
    EXPECT_EQ(shot.At(cx, cy), 0x336699L);
    EXPECT_EQ(shot.At(cx - 300, cy - 220), 0x336699L);
    EXPECT_EQ(shot.At(cx + 300, cy + 220), 0x336699L);
    EXPECT_NE(shot.At(2, 2), 0x336699L);
    EXPECT_NE(shot.At(shot.width - 3, shot.height - 3), 0x336699L);
    EXPECT_TRUE(ended) << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The box of a refused start, drawn with the engine's fonts so that its
// Japanese can be read, is what the screen shows; its text is on stderr too.
TEST(OrvaApplicationDisplay, RefusedStartShowsItsDrawnBoxAndWritesItsText)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "no X display";
    }
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
    platform::InstanceLock running;
    ASSERT_EQ(running.Acquire("orva-app-smoke"), platform::InstanceLockResult::Acquired);
    int readFd = -1;
    const pid_t child = StartSmokeTool({}, STDERR_FILENO, &readFd);
    ASSERT_GT(child, 0) << SmokeToolPath();
    std::string output;
    const bool written = ReadUntil(readFd, &output, "window: message box [Error] 2重起動は出来ません", 20000);

    // The box is where its layout for the screen puts it (Xvfb's whole
    // screen is its work area); it may take a moment to appear.
    int wrong = -1;
    std::string error;
    for (int attempt = 0; attempt < 50 && wrong != 0 && error.empty(); ++attempt) {
        platform::SleepMs(100);
        Screenshot shot;
        if (!TakeScreenshot(&shot)) {
            continue;
        }
        platform::MessageBoxLayout layout;
        platform::MessageBoxPicture expected;
        if (!platform::LayOutMessageBox(platform::MB_ICONERROR, "2重起動は出来ません",
                                        {0, 0, shot.width, shot.height}, &layout, &error) ||
            !platform::DrawMessageBox(layout, 0, 0, &expected, &error)) {
            break;
        }
        const int left = layout.box.x;
        const int top = layout.box.y;
        wrong = 0;
        for (int y = 0; y < expected.height; ++y) {
            for (int x = 0; x < expected.width; ++x) {
                const long want = long(expected.pixels[size_t(y) * size_t(expected.width) + size_t(x)] & 0xFFFFFF);
                wrong += shot.At(left + x, top + y) != want ? 1 : 0;
            }
        }
    }

    // SDL takes the termination signal as a request to quit, which ends the
    // box and then the run.
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    close(readFd);
    EXPECT_TRUE(written) << output;
    EXPECT_EQ(error, "");
    EXPECT_EQ(wrong, 0) << "pixels of the box that differ from its drawing";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

// ------------------------------------------------------------ in this process

uint32_t g_shownColour = 0xFFC04010;
long g_seenColour = -2;

void RecordSettings()
{
    OrvaApplication::SetApplicationName("orva-display-test");
    OrvaApplication::SetScreenSize(320, 240);
    OrvaApplication::SetFrameRate(60);
    OrvaApplication::SetCursorVisible(false);
}

int32_t ShowAndLook()
{
    std::vector<uint32_t> frame(320 * 240, g_shownColour);
    for (int frames = 0; frames < 10 && OrvaApplication::Pump(); ++frames) {
        OrvaApplication::PresentFrame(frame.data(), 320, 240, 320 * 4);
    }
    Screenshot shot;
    if (TakeScreenshot(&shot)) {
        g_seenColour = shot.At(shot.width / 2, shot.height / 2);
    }
    platform::InjectClose();
    int32_t more = 0;
    while (OrvaApplication::Pump() && more < 100) {
        ++more;
    }
    return std::strcmp(platform::GetWindowBackendName(), "sdl2") == 0 ? 0 : 1;
}

TEST(OrvaApplicationDisplay, RunShowsPresentedFramesThroughSdl)
{
    if (!HaveDisplay()) {
        GTEST_SKIP() << "no X display";
    }
    setenv("ORVA_WINDOW", "sdl2", 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &ShowAndLook), 0);
    EXPECT_EQ(g_seenColour, 0xC04010L);
}

}  // namespace
