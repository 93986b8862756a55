#include "engine/core/input.h"

#include "engine/core/application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const bool kHeadless = (setenv("ORVA_WINDOW", "headless", 1), true);

uint32_t g_useFlags = kOrvaUseInput;
std::string g_name;
int32_t (*g_body)() = nullptr;

void RecordSettings()
{
    OrvaApplication::SetApplicationName(g_name.c_str());
    OrvaApplication::SetScreenSize(32, 32);
    OrvaApplication::SetFrameRate(1000);
    OrvaApplication::SetUseFlags(g_useFlags);
}

int32_t Main()
{
    return g_body();
}

class OrvaInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kHeadless);
        g_useFlags = kOrvaUseInput;
        g_name = "orva-input-test-" + std::to_string(getpid());
        // The run's lock goes in the test's own folder, removed at the end.
        setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
        platform::RemoveInjectedJoystick();
    }
    void TearDown() override { platform::RemoveInjectedJoystick(); }
};

TEST_F(OrvaInputTest, KeysAreReadOnceAFrame)
{
    g_body = [] {
        EXPECT_TRUE(OrvaInput::IsInitialized());
        platform::InjectKey('Z', true);
        // Not before the pump has taken this frame's state.
        EXPECT_FALSE(OrvaInput::IsKeyDown('Z'));
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_TRUE(OrvaInput::IsKeyDown('Z'));
        EXPECT_TRUE(OrvaInput::IsKeyPressed('Z'));

        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_TRUE(OrvaInput::IsKeyDown('Z'));
        EXPECT_FALSE(OrvaInput::IsKeyPressed('Z'));

        platform::InjectKey(platform::VK_RSHIFT, true);
        platform::InjectKey('Z', false);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_FALSE(OrvaInput::IsKeyDown('Z'));
        EXPECT_TRUE(OrvaInput::IsKeyDown(platform::VK_SHIFT));
        EXPECT_TRUE(OrvaInput::IsKeyPressed(platform::VK_SHIFT));

        EXPECT_FALSE(OrvaInput::IsKeyDown(-1));
        EXPECT_FALSE(OrvaInput::IsKeyDown(256));
        EXPECT_FALSE(OrvaInput::IsKeyPressed(1 << 20));
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
    EXPECT_FALSE(OrvaInput::IsInitialized());
    EXPECT_FALSE(OrvaInput::IsKeyDown(platform::VK_SHIFT));
}

TEST_F(OrvaInputTest, JoystickButtonsAndAxesAsDirections)
{
    g_body = [] {
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_FALSE(OrvaInput::IsJoystickPresent());
        EXPECT_EQ(OrvaInput::GetJoystickDirections(), 0u);

        platform::JoystickState pad;
        pad.buttonCount = 6;
        pad.axisCount = 2;
        pad.buttons = 0x5;
        pad.axes[0] = -32768;
        pad.axes[1] = 20000;
        platform::InjectJoystick(pad);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_TRUE(OrvaInput::IsJoystickPresent());
        EXPECT_EQ(OrvaInput::GetJoystickButtonCount(), 6);
        EXPECT_EQ(OrvaInput::GetJoystickButtons(), 0x5u);
        EXPECT_EQ(OrvaInput::GetJoystickButtonsPressed(), 0x5u);
        EXPECT_TRUE(OrvaInput::IsJoystickButtonDown(2));
        EXPECT_FALSE(OrvaInput::IsJoystickButtonDown(1));
        EXPECT_EQ(OrvaInput::GetJoystickAxis(0), -1000);
        EXPECT_EQ(OrvaInput::GetJoystickAxis(1), 610);  // 20000 x 1000 / 32767
        EXPECT_EQ(OrvaInput::GetJoystickDirections(), OrvaInput::kLeft | OrvaInput::kDown);

        // Held: no longer pressed; a new button is.
        pad.buttons = 0x7;
        pad.axes[0] = 32767;
        pad.axes[1] = -32767;
        platform::InjectJoystick(pad);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_EQ(OrvaInput::GetJoystickButtonsPressed(), 0x2u);
        EXPECT_EQ(OrvaInput::GetJoystickDirections(), OrvaInput::kRight | OrvaInput::kUp);

        // Exactly half way is not yet a direction.
        pad.axes[0] = 16384;  // 500
        pad.axes[1] = 0;
        platform::InjectJoystick(pad);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_EQ(OrvaInput::GetJoystickAxis(0), 500);
        EXPECT_EQ(OrvaInput::GetJoystickDirections(), 0u);

        EXPECT_FALSE(OrvaInput::IsJoystickButtonDown(-1));
        EXPECT_FALSE(OrvaInput::IsJoystickButtonDown(32));
        EXPECT_EQ(OrvaInput::GetJoystickAxis(-1), 0);
        EXPECT_EQ(OrvaInput::GetJoystickAxis(8), 0);

        platform::RemoveInjectedJoystick();
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_FALSE(OrvaInput::IsJoystickPresent());
        EXPECT_EQ(OrvaInput::GetJoystickButtons(), 0u);
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

TEST_F(OrvaInputTest, KeysHeldAtTheStartAreNotPresses)
{
    g_body = [] {
        platform::InjectKey('X', true);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_TRUE(OrvaInput::IsKeyPressed('X'));
        // A restart of the module takes the held key as it is.
        OrvaInput::Destroy();
        EXPECT_TRUE(OrvaInput::Initialize());
        EXPECT_TRUE(OrvaInput::IsKeyDown('X'));
        EXPECT_FALSE(OrvaInput::IsKeyPressed('X'));
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

TEST_F(OrvaInputTest, StoppedModuleReadsNothing)
{
    g_useFlags = 0;
    g_body = [] {
        EXPECT_FALSE(OrvaInput::IsInitialized());
        platform::InjectKey('Z', true);
        platform::JoystickState pad;
        pad.buttons = 1;
        platform::InjectJoystick(pad);
        EXPECT_TRUE(OrvaApplication::Pump());
        EXPECT_FALSE(OrvaInput::IsKeyDown('Z'));
        EXPECT_FALSE(OrvaInput::IsJoystickPresent());
        EXPECT_EQ(OrvaInput::GetJoystickButtons(), 0u);
        return 0;
    };
    EXPECT_EQ(OrvaApplication::Run(&RecordSettings, &Main), 0);
}

}  // namespace
