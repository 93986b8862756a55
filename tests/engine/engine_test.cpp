#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "engine/core/input.h"
#include "engine/core/texture.h"
#include "engine/engine.h"
#include "engine/render/sprite.h"

namespace {

int g_frames = 0;
bool g_deviceUp = false;
bool g_inputUp = false;

void EngineSetup()
{
    OrvaApplication::SetApplicationName("orva-engine-test");
    OrvaApplication::SetScreenSize(64, 48);
    OrvaApplication::SetFrameRate(0);
    OrvaApplication::SetWindowed(true);
    OrvaApplication::SetUseFlags(kOrvaUseGraphics | kOrvaUseInput | kOrvaUseSound | kOrvaUseMusic | kOrvaUseAudio |
                                 kOrvaUseNetwork | kOrvaUseMedia | kOrvaUseMci);
}

int32_t EngineMain()
{
    g_deviceUp = OrvaDevice::IsInitialized();
    g_inputUp = OrvaInput::IsInitialized();
    // Objects still alive at the end are released by their modules' shut-down.
    OrvaTexture::Create(16, 16, true, nullptr);
    OrvaSprite::Create(8, 1, 1, nullptr);
    while (OrvaApplication::Pump()) {
        if (OrvaDevice::BeginScene()) {
            OrvaDevice::Clear(0xFF102030);
            OrvaDevice::EndScene();
            OrvaDevice::Present();
        }
        if (++g_frames == 5) {
            OrvaApplication::Exit();
        }
    }
    return 7;
}

}  // namespace

// Every module the engine wires in starts, serves a few frames and stops
// again, releasing what was left alive; the sanitizer builds check the rest.
TEST(OrvaEngine, EveryModuleStartsAndStopsInOneRun)
{
    setenv("ORVA_WINDOW", "headless", 1);
    setenv("ORVA_AUDIO", "null", 1);
    setenv("ORVA_MIXER", "memory", 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
    OrvaEngine::RegisterModules();
    EXPECT_EQ(OrvaApplication::Run(EngineSetup, EngineMain), 7);
    EXPECT_TRUE(g_deviceUp);
    EXPECT_TRUE(g_inputUp);
    EXPECT_EQ(g_frames, 5);
    EXPECT_FALSE(OrvaDevice::IsInitialized());
    EXPECT_EQ(OrvaTexture::GetCount(), 0);
    EXPECT_EQ(OrvaSprite::GetCount(), 0);
}
