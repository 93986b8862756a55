#include "platform/window/window.h"
#include "platform/window/message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// Chosen before any test touches the window system: these tests run
// without a display.
const bool kHeadless = (setenv("ORVA_WINDOW", "headless", 1), true);

struct Seen {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

std::vector<Seen> g_seen;
bool g_quitOnDestroy = true;

intptr_t RecordingProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    g_seen.push_back({message, wParam, lParam});
    if (message == WM_DESTROY && g_quitOnDestroy) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

void DrainQueue()
{
    Message message;
    while (PeekMessage(&message, true)) {
    }
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kHeadless);
        g_seen.clear();
        g_quitOnDestroy = true;
        DrainQueue();
        WindowDesc desc;
        desc.title = "window-test";
        desc.width = 64;
        desc.height = 48;
        window = Window::Create(desc, &RecordingProc, this);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        window.reset();
        DrainQueue();
        RemoveInjectedJoystick();
    }
    // Takes and dispatches every waiting message.
    void PumpAll()
    {
        Message message;
        while (PeekMessage(&message, true)) {
            DispatchMessage(message);
        }
    }
    std::unique_ptr<Window> window;
};

TEST_F(WindowTest, OnlyOneWindowAtATime)
{
    EXPECT_STREQ(GetWindowBackendName(), "headless");
    EXPECT_FALSE(HasDisplay());
    WindowDesc desc;
    EXPECT_EQ(Window::Create(desc, &RecordingProc, nullptr), nullptr);
    window.reset();
    auto second = Window::Create(desc, &RecordingProc, nullptr);
    EXPECT_NE(second, nullptr);
}

TEST_F(WindowTest, RejectsBadSizeAndMissingProc)
{
    window.reset();
    WindowDesc desc;
    EXPECT_EQ(Window::Create(desc, nullptr, nullptr), nullptr);
    desc.width = 0;
    EXPECT_EQ(Window::Create(desc, &RecordingProc, nullptr), nullptr);
}

TEST_F(WindowTest, KeyStateFollowsTakenMessagesAsyncStateFollowsEvents)
{
    InjectKey('Z', true);
    Message message;
    ASSERT_TRUE(PeekMessage(&message, false));
    // Looked at, not taken: only the physical state has moved.
    EXPECT_EQ(GetKeyState('Z') & 0x8000, 0);
    EXPECT_NE(GetAsyncKeyState('Z') & 0x8000, 0);
    ASSERT_TRUE(PeekMessage(&message, true));
    EXPECT_EQ(message.message, WM_KEYDOWN);
    EXPECT_EQ(message.wParam, uintptr_t('Z'));
    EXPECT_EQ(message.window, window.get());
    EXPECT_EQ(message.lParam & 0xFFFF, 1);
    EXPECT_EQ(message.lParam & (intptr_t(1) << 30), 0);
    EXPECT_NE(GetKeyState('Z') & 0x8000, 0);

    InjectKey('Z', false);
    ASSERT_TRUE(PeekMessage(&message, true));
    EXPECT_EQ(message.message, WM_KEYUP);
    EXPECT_NE(message.lParam & (intptr_t(1) << 30), 0);
    EXPECT_NE(message.lParam & (intptr_t(1) << 31), 0);
    EXPECT_EQ(GetKeyState('Z') & 0x8000, 0);
    EXPECT_EQ(GetAsyncKeyState('Z') & 0x8000, 0);
}

TEST_F(WindowTest, HeldKeyRepeatsWithPreviousStateBit)
{
    InjectKey(VK_SPACE, true);
    InjectKey(VK_SPACE, true);
    Message first;
    Message second;
    ASSERT_TRUE(PeekMessage(&first, true));
    ASSERT_TRUE(PeekMessage(&second, true));
    EXPECT_EQ(first.lParam & (intptr_t(1) << 30), 0);
    EXPECT_NE(second.lParam & (intptr_t(1) << 30), 0);
}

TEST_F(WindowTest, ToggleBitFlipsOnEachPress)
{
    const uint16_t before = GetKeyState(VK_CAPITAL) & 1;
    InjectKey(VK_CAPITAL, true);
    InjectKey(VK_CAPITAL, false);
    PumpAll();
    EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, before ^ 1);
    InjectKey(VK_CAPITAL, true);
    InjectKey(VK_CAPITAL, false);
    PumpAll();
    EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, before);
}

TEST_F(WindowTest, ShiftSidesShareTheGenericKey)
{
    InjectKey(VK_LSHIFT, true);
    Message message;
    ASSERT_TRUE(PeekMessage(&message, true));
    EXPECT_EQ(message.wParam, uintptr_t(VK_SHIFT));
    EXPECT_NE(GetKeyState(VK_SHIFT) & 0x8000, 0);
    EXPECT_NE(GetKeyState(VK_LSHIFT) & 0x8000, 0);
    EXPECT_EQ(GetKeyState(VK_RSHIFT) & 0x8000, 0);

    InjectKey(VK_RSHIFT, true);
    InjectKey(VK_LSHIFT, false);
    PumpAll();
    // The right side still holds shift down.
    EXPECT_NE(GetKeyState(VK_SHIFT) & 0x8000, 0);
    EXPECT_EQ(GetKeyState(VK_LSHIFT) & 0x8000, 0);

    InjectKey(VK_RSHIFT, false);
    PumpAll();
    EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0);
}

TEST_F(WindowTest, KeyCodesOutsideTheTableReadAsUp)
{
    InjectKey(300, true);
    InjectKey(-1, true);
    PumpAll();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(GetKeyState(-1), 0);
    EXPECT_EQ(GetKeyState(256), 0);
    EXPECT_EQ(GetAsyncKeyState(1000), 0);
}

TEST_F(WindowTest, DeactivationReportsAndReleasesKeys)
{
    InjectKey('X', true);
    PumpAll();
    ASSERT_NE(GetKeyState('X') & 0x8000, 0);
    InjectActivate(false);
    PumpAll();
    ASSERT_FALSE(g_seen.empty());
    EXPECT_EQ(g_seen.back().message, uint32_t(WM_ACTIVATEAPP));
    EXPECT_EQ(g_seen.back().wParam, 0u);
    EXPECT_EQ(GetKeyState('X') & 0x8000, 0);
    EXPECT_EQ(GetAsyncKeyState('X') & 0x8000, 0);
}

TEST_F(WindowTest, CharEventsBecomeCharMessages)
{
    InjectChar(0x3042);
    PumpAll();
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].message, uint32_t(WM_CHAR));
    EXPECT_EQ(g_seen[0].wParam, 0x3042u);
}

TEST_F(WindowTest, CloseDestroysTheWindowAndQuitEndsGetMessage)
{
    InjectClose();
    Message message;
    int dispatched = 0;
    while (GetMessage(&message)) {
        DispatchMessage(message);
        ASSERT_LT(++dispatched, 100);
    }
    EXPECT_EQ(message.message, uint32_t(WM_QUIT));
    EXPECT_EQ(message.wParam, 7u);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].message, uint32_t(WM_CLOSE));
    EXPECT_EQ(g_seen[1].message, uint32_t(WM_DESTROY));
    EXPECT_TRUE(window->IsDestroyed());
}

TEST_F(WindowTest, DestroyIsSentOnce)
{
    window->Destroy();
    window->Destroy();
    window.reset();
    int destroys = 0;
    for (const Seen& seen : g_seen) {
        destroys += seen.message == WM_DESTROY ? 1 : 0;
    }
    EXPECT_EQ(destroys, 1);
}

TEST_F(WindowTest, MessagesForAWindowThatIsGoneAreDropped)
{
    g_quitOnDestroy = false;
    ASSERT_TRUE(PostMessage(window.get(), WM_USER + 5, 1, 2));
    window->Destroy();
    g_seen.clear();
    PumpAll();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_FALSE(PostMessage(nullptr, WM_USER, 0, 0));
}

TEST_F(WindowTest, PostsFromOtherThreadsKeepEachThreadsOrder)
{
    constexpr int kPerThread = 2000;
    auto poster = [this](uintptr_t thread) {
        for (int i = 0; i < kPerThread; ++i) {
            PostMessage(window.get(), WM_USER + 1, thread, i);
        }
    };
    std::thread a(poster, 0);
    std::thread b(poster, 1);
    a.join();
    b.join();
    PumpAll();
    ASSERT_EQ(g_seen.size(), size_t(2 * kPerThread));
    intptr_t next[2] = {0, 0};
    for (const Seen& seen : g_seen) {
        ASSERT_EQ(seen.message, uint32_t(WM_USER + 1));
        ASSERT_LT(seen.wParam, 2u);
        EXPECT_EQ(seen.lParam, next[seen.wParam]);
        next[seen.wParam] = seen.lParam + 1;
    }
}

TEST_F(WindowTest, WaitMessageWakesForAPostFromAnotherThread)
{
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        SleepMs(20);
        posted = true;
        PostMessage(window.get(), WM_USER + 1, 0, 0);
    });
    // Generous: a wake-up arrives long before; a missed one would time out.
    const bool arrived = WaitMessage(10000);
    poster.join();
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(posted);
}

TEST_F(WindowTest, PresentKeepsAPackedCopyOfTheFrame)
{
    std::vector<uint32_t> out;
    int width = 0;
    int height = 0;
    EXPECT_FALSE(window->ReadFrame(&out, &width, &height));

    // 3 x 2 pixels in rows of 4: the fourth of each row is padding.
    const uint32_t pixels[8] = {1, 2, 3, 0xDEAD, 4, 5, 6, 0xBEEF};
    ASSERT_TRUE(window->PresentFrame(pixels, 3, 2, 16));
    ASSERT_TRUE(window->ReadFrame(&out, &width, &height));
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(out, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(window->GetPresentCount(), 1u);

    EXPECT_FALSE(window->PresentFrame(pixels, 3, 2, 8));   // pitch shorter than a row
    EXPECT_FALSE(window->PresentFrame(pixels, 3, 2, 14));  // not whole pixels
    EXPECT_FALSE(window->PresentFrame(nullptr, 3, 2, 16));
    EXPECT_FALSE(window->PresentFrame(pixels, 0, 2, 16));
    EXPECT_EQ(window->GetPresentCount(), 1u);
}

TEST(Joystick, InjectedJoystickStandsInForJoystickZero)
{
    JoystickState state;
    EXPECT_EQ(GetJoystickCount(), 0);
    EXPECT_FALSE(GetJoystickState(0, &state));

    JoystickState fake;
    fake.buttonCount = 4;
    fake.axisCount = 2;
    fake.buttons = 0x5;
    fake.axes[0] = -32768;
    fake.axes[1] = 1234;
    InjectJoystick(fake);
    EXPECT_EQ(GetJoystickCount(), 1);
    ASSERT_TRUE(GetJoystickState(0, &state));
    EXPECT_EQ(state.buttons, 0x5u);
    EXPECT_EQ(state.axes[0], -32768);
    EXPECT_EQ(state.axes[1], 1234);
    EXPECT_FALSE(GetJoystickState(1, &state));
    EXPECT_EQ(state.buttons, 0u);
    EXPECT_FALSE(GetJoystickState(-1, &state));
    EXPECT_FALSE(GetJoystickState(0, nullptr));

    RemoveInjectedJoystick();
    EXPECT_EQ(GetJoystickCount(), 0);
}

TEST(MessageBox, HeadlessBoxTakesTheFirstButtonAndIsRecorded)
{
    const int before = GetMessageBoxCount();
    EXPECT_EQ(ShowMessageBox(MB_YESNO | MB_ICONQUESTION, "Question", "続けますか"), IDYES);
    EXPECT_EQ(ShowMessageBox(MB_OKCANCEL, "Note", "text"), IDOK);
    EXPECT_EQ(ShowMessageBox(MB_ICONERROR, "Error", "2重起動は出来ません"), IDOK);
    EXPECT_EQ(GetMessageBoxCount(), before + 3);
    std::string caption;
    std::string text;
    ASSERT_TRUE(GetLastMessageBox(&caption, &text));
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, "2重起動は出来ません");
}

// Dark pixels above the button strip: the text's ink.
int InkAboveButtons(const MessageBoxLayout& layout, const MessageBoxPicture& picture)
{
    int ink = 0;
    for (int y = 0; y < layout.buttons[0].y; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            ink += (picture.pixels[size_t(y) * size_t(picture.width) + size_t(x)] & 0xFF) < 0x80 ? 1 : 0;
        }
    }
    return ink;
}

// Strong red pixels: the error icon's disc.
int RedPixels(const MessageBoxPicture& picture)
{
    int red = 0;
    for (uint32_t pixel : picture.pixels) {
        red += ((pixel >> 16) & 0xFF) > 0xC0 && ((pixel >> 8) & 0xFF) < 0x60 ? 1 : 0;
    }
    return red;
}

bool Inside(const MessageBoxRect& outer, int x, int y, int width, int height)
{
    return x >= outer.x && y >= outer.y && x + width <= outer.x + outer.width && y + height <= outer.y + outer.height;
}

TEST(MessageBox, DrawnBoxHasItsTypesButtonsAndInksItsText)
{
    struct Case {
        uint32_t type;
        int count;
        int results[2];
        int escape;
    };
    const Case cases[] = {
        {MB_OK | MB_ICONERROR, 1, {IDOK, 0}, IDOK},
        {MB_OKCANCEL, 2, {IDOK, IDCANCEL}, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, 2, {IDYES, IDNO}, IDNO},
    };
    for (const Case& c : cases) {
        MessageBoxLayout layout;
        MessageBoxPicture picture;
        std::string error;
        const std::string text = "2重起動は出来ません";
        ASSERT_TRUE(LayOutMessageBox(c.type, text, {0, 0, 1024, 768}, &layout, &error)) << error;
        ASSERT_TRUE(DrawMessageBox(layout, 0, 0, &picture, &error)) << error;
        ASSERT_EQ(layout.buttonCount, c.count);
        EXPECT_EQ(layout.escapeResult, c.escape);
        EXPECT_EQ(picture.width, layout.box.width);
        EXPECT_EQ(picture.pixels.size(), size_t(picture.width) * size_t(picture.height));
        for (int i = 0; i < c.count; ++i) {
            const MessageBoxButton& b = layout.buttons[i];
            EXPECT_EQ(b.result, c.results[i]);
            EXPECT_EQ(MessageBoxButtonAt(layout, b.x + b.width / 2, b.y + b.height / 2), i);
        }
        EXPECT_EQ(MessageBoxButtonAt(layout, 0, 0), -1);
        EXPECT_GT(InkAboveButtons(layout, picture), 100);
    }
}

// Whatever the text, the box stays inside the screen's work area with its
// buttons, and the text is all there: wrapped, and scrolled when it is
// taller than the screen. A short message keeps the box it always had, and
// an error shows its icon beside the text.
TEST(MessageBox, LayoutKeepsEveryBoxOnItsScreen)
{
    std::string words;
    while (words.size() + 5 <= 4095) {
        words += "word ";
    }
    words.append(4095 - words.size(), 'w');
    std::string lines;
    for (int i = 0; i < 80; ++i) {
        lines += "line " + std::to_string(i) + "\n";
    }
    std::string path = "cannot open /run/user/1000";
    while (path.size() < 4000) {
        path += "/folder_without_spaces";
    }
    std::string japanese;
    while (japanese.size() + 57 <= 4095) {
        japanese += "日本語の長い文章は空白なしで続きます。";
    }
    const std::string shortText = "2重起動は出来ません";
    struct Case {
        const char* name;
        uint32_t type;
        const std::string& text;
        MessageBoxRect screen;
        bool scrolls;
    };
    const Case cases[] = {
        {"4095 bytes of words", MB_ICONERROR, words, {0, 0, 1024, 768}, true},
        {"80 short lines", MB_OK, lines, {0, 0, 1024, 768}, true},
        {"path without spaces", MB_ICONERROR, path, {0, 0, 1024, 768}, true},
        {"Japanese", MB_ICONWARNING, japanese, {0, 0, 1024, 768}, true},
        {"words, small screen below a panel", MB_YESNO | MB_ICONQUESTION, words, {0, 28, 640, 452}, true},
        {"path, second screen", MB_OKCANCEL | MB_ICONINFORMATION, path, {1024, 0, 800, 600}, true},
        {"short", MB_OK, shortText, {0, 0, 1024, 768}, false},
        {"short error", MB_ICONERROR, shortText, {0, 0, 1024, 768}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxLayout layout;
        std::string error;
        ASSERT_TRUE(LayOutMessageBox(c.type, c.text, c.screen, &layout, &error)) << error;
        const MessageBoxRect& box = layout.box;
        EXPECT_TRUE(Inside(c.screen, box.x, box.y, box.width, box.height))
            << box.width << "x" << box.height << " at " << box.x << "," << box.y;
        const MessageBoxRect inBox = {0, 0, box.width, box.height};
        for (int i = 0; i < layout.buttonCount; ++i) {
            const MessageBoxButton& b = layout.buttons[i];
            EXPECT_TRUE(Inside(inBox, b.x, b.y, b.width, b.height)) << "button " << i;
            EXPECT_GE(b.y, layout.textRect.y + layout.textRect.height) << "button " << i;
        }
        EXPECT_TRUE(Inside(inBox, layout.textRect.x, layout.textRect.y, layout.textRect.width,
                           layout.textRect.height));
        if ((c.type & 0xF0) == MB_ICONERROR) {
            const MessageBoxRect& icon = layout.iconRect;
            EXPECT_EQ(layout.icon, MessageBoxIcon::Error);
            EXPECT_GE(icon.width, 16);
            EXPECT_TRUE(Inside(inBox, icon.x, icon.y, icon.width, icon.height));
            EXPECT_LE(icon.x + icon.width, layout.textRect.x);
        }

        // Nothing of the text is lost: the lines are the text without its
        // line breaks.
        std::string joined;
        std::string unbroken;
        for (const std::string& line : layout.lines) {
            joined += line;
        }
        for (char ch : c.text) {
            unbroken += ch != '\n' ? std::string(1, ch) : "";
        }
        EXPECT_EQ(joined, unbroken);
        EXPECT_EQ(layout.scrolls, c.scrolls);
        EXPECT_EQ(layout.scrolls, int(layout.lines.size()) > layout.visibleLines);
        EXPECT_EQ(layout.textRect.height, layout.visibleLines * layout.lineHeight);
        if (layout.scrolls) {
            const MessageBoxRect& bar = layout.scrollBar;
            EXPECT_TRUE(Inside(inBox, bar.x, bar.y, bar.width, bar.height));
            EXPECT_GE(bar.x, layout.textRect.x + layout.textRect.width);
            const int end = ScrollMessageBox(layout, 0, 100000);
            EXPECT_EQ(end + layout.visibleLines, int(layout.lines.size()));
            EXPECT_EQ(ScrollMessageBox(layout, end, 1), end);
            EXPECT_EQ(ScrollMessageBox(layout, 2, -5), 0);
        }

        // The drawing follows the layout: the text's ink, and the red of the
        // error icon only in a box of an error.
        MessageBoxPicture picture;
        ASSERT_TRUE(DrawMessageBox(layout, 0, 0, &picture, &error)) << error;
        EXPECT_EQ(picture.width, box.width);
        EXPECT_EQ(picture.height, box.height);
        EXPECT_GT(InkAboveButtons(layout, picture), 100);
        if ((c.type & 0xF0) == MB_ICONERROR) {
            EXPECT_GT(RedPixels(picture), 300);
        } else {
            EXPECT_EQ(RedPixels(picture), 0);
        }
    }

    // The box a short message always had: one line, no larger than a box
    // of the engine's day, centred.
    MessageBoxLayout plain;
    std::string error;
    ASSERT_TRUE(LayOutMessageBox(MB_OK, shortText, {0, 0, 1024, 768}, &plain, &error)) << error;
    EXPECT_EQ(plain.lines, std::vector<std::string>{shortText});
    EXPECT_EQ(plain.box.width, 240);
    EXPECT_EQ(plain.box.height, 101);
    EXPECT_EQ(plain.box.x, 392);
    EXPECT_EQ(plain.box.y, 333);
    EXPECT_EQ(plain.iconRect.width, 0);
}

}  // namespace
