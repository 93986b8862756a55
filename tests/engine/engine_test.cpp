#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/font.h"
#include "engine/core/input.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "engine/engine.h"
#include "engine/render/camera.h"
#include "engine/render/font_buffer.h"
#include "engine/render/font_fx.h"
#include "engine/render/font_sprite.h"
#include "engine/render/list_sprite.h"
#include "engine/render/model.h"
#include "engine/render/particle.h"
#include "engine/render/primitive.h"
#include "engine/render/primitive3d.h"
#include "engine/render/scene.h"
#include "engine/render/shader.h"
#include "engine/render/sheet.h"
#include "engine/render/sprite.h"
#include "engine/sound/audio.h"
#include "engine/sound/media.h"
#include "engine/sound/music.h"
#include "engine/sound/sound.h"
#include "platform/sys/path.h"
#include "tests/engine/headless_frame.h"
#include "tests/platform/media/test_audio_files.h"

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

// No window, sound card or mixer of the machine's, and the single-instance
// lock in the test's own folder.
void UseDevicesInMemory()
{
    setenv("ORVA_WINDOW", "headless", 1);
    setenv("ORVA_AUDIO", "null", 1);
    setenv("ORVA_MIXER", "memory", 1);
    setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
}

}  // namespace

// Every module the engine wires in starts, serves a few frames and stops
// again, releasing what was left alive; the sanitizer builds check the rest.
TEST(OrvaEngine, EveryModuleStartsAndStopsInOneRun)
{
    UseDevicesInMemory();
    OrvaEngine::RegisterModules();
    EXPECT_EQ(OrvaApplication::Run(EngineSetup, EngineMain), 7);
    EXPECT_TRUE(g_deviceUp);
    EXPECT_TRUE(g_inputUp);
    EXPECT_EQ(g_frames, 5);
    EXPECT_FALSE(OrvaDevice::IsInitialized());
    EXPECT_EQ(OrvaTexture::GetCount(), 0);
    EXPECT_EQ(OrvaSprite::GetCount(), 0);
}

// ---------------------------------------------------------------- exit

namespace {

// The files the objects at exit are made from, written once per run.
struct ExitFiles {
    std::string wav;
    std::string xfile;
    std::string texture;  // beside the program, where the X file's texture is looked for
};

ExitFiles& Files()
{
    static ExitFiles files;
    return files;
}

// A skinned quad over one bone with a textured material: a model from it
// holds a frame, a skinned mesh, a material, its texture and an animation.
std::string SkinnedQuadX(const std::string& textureName)
{
    return "xof 0303txt 0032\n"
           "Frame Root {\n"
           "  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }\n"
           "  Frame Bone {\n"
           "    FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }\n"
           "  }\n"
           "  Mesh Quad {\n"
           "    4; -1.0;-1.0;0.0;, 1.0;-1.0;0.0;, -1.0;1.0;0.0;, 1.0;1.0;0.0;;\n"
           "    2; 3;2,3,1;, 3;2,1,0;;\n"
           "    MeshTextureCoords { 4; 0.0;1.0;, 1.0;1.0;, 0.0;0.0;, 1.0;0.0;; }\n"
           "    MeshMaterialList { 1; 2; 0,0;;\n"
           "      Material Skin { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;\n"
           "        TextureFilename { \"" + textureName + "\"; } }\n"
           "    }\n"
           "    XSkinMeshHeader { 1; 1; 1; }\n"
           "    SkinWeights { \"Bone\"; 4; 0,1,2,3; 1.0,1.0,1.0,1.0;\n"
           "      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }\n"
           "  }\n"
           "}\n"
           "AnimationSet Turn {\n"
           "  Animation { {Bone} AnimationKey { 2; 2; 0; 3; 0.0,0.0,0.0;;, 10; 3; 1.0,0.0,0.0;;; } }\n"
           "}\n";
}

// "ＭＳ ゴシック" in Shift-JIS: the face the engine's programs ask for.
const char kGothic[] = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";

OrvaFontSprite* MakeFontSprite()
{
    return OrvaFontSprite::CreateFromBuffer(OrvaFontBuffer::CreateFromString("\x82\x60"), 8, true, kGothic, 16,
                                            false, nullptr);
}

OrvaScene* MakeSceneWithTexture()
{
    const uint8_t notOsf[] = {'n', 'o', 't', ' ', 'o', 's', 'f'};
    OrvaScene* scene = OrvaScene::LoadFromMemory(notOsf, sizeof notOsf, "exit_scene.oag");
    scene->FindTexture("t");
    return scene;
}

// One module's live object at exit: how to start the module (true when it
// started) and how to make the object; the line its release writes into the
// log (null: it writes none). Exit during a run hands every module's release
// to the main thread alike: the cases marked duringRun stand for all there.
struct ExitCase {
    const char* module;
    bool (*start)();
    void (*make)();
    const char* releaseLine;
    bool duringRun = false;
};

template <void (*Start)()>
bool Started()
{
    Start();
    return true;
}

template <int32_t (*Start)()>
bool StartedIfOne()
{
    return Start() == 1;
}

const ExitCase kExitCases[] = {
    {"texture", Started<OrvaTexture::Initialize>, [] { OrvaTexture::Create(16, 16, true, nullptr); },
     "● ReleaseTexture"},
    {"surface", Started<OrvaSurface::Initialize>,
     [] { OrvaSurface::Create(16, 16, kOrvaSurfaceWideUse, nullptr); }, "● ReleaseSurface"},
    {"font", Started<OrvaFont::Initialize>,
     [] { OrvaFont::Create(kGothic, -16, false, false, nullptr)->SetTarget(kOrvaFontTargetTexture,
                                                                         OrvaTexture::Create(16, 16, true, nullptr)); },
     "● ReleaseGdiFont"},
    {"camera", OrvaCamera::Initialize, [] { OrvaCamera::Create(); }, nullptr},
    {"shader", OrvaShader::Initialize, [] { OrvaShader::CreateVertexShader(); }, nullptr},
    {"model from cube", OrvaModel::Initialize, [] { OrvaModel::CreateCube(1.0f, 1.0f, 1.0f, nullptr); },
     "● ReleaseModel"},
    {"model from X, skinned mesh", OrvaModel::Initialize,
     [] { OrvaModel::CreateFromX(Files().xfile.c_str(), nullptr); }, "● ReleaseModel", true},
    {"attached models", OrvaModel::Initialize,
     [] {
         OrvaModel* carried = OrvaModel::CreateCube(1.0f, 1.0f, 1.0f, nullptr);
         OrvaModel::CreateCube(2.0f, 2.0f, 2.0f, nullptr)->Attach(carried);
     },
     "● ReleaseModel"},
    {"scene", OrvaScene::Initialize, [] { MakeSceneWithTexture(); }, "● ReleaseScene"},
    {"sprite", OrvaSprite::Initialize, [] { OrvaSprite::Create(8, 1, 1, nullptr); }, "● ReleaseSprite"},
    // The list sprite's release line is the sprite's.
    {"list sprite", OrvaListSprite::Initialize, [] { OrvaListSprite::Create(4, 4, 1, nullptr); },
     "● ReleaseSprite"},
    {"primitive", OrvaPrimitive::Initialize, [] { OrvaPrimitive::CreateTriangles(8, 1); }, "● ReleasePrimitive"},
    {"primitive3d", OrvaPrimitive3D::Initialize, [] { OrvaPrimitive3D::CreateLines(8, 1); },
     "● ReleasePrimitive3D"},
    {"particle", OrvaParticle::Initialize, [] { OrvaParticle::Create(8, 1); }, "● ReleasePerticle"},
    {"font sprite", OrvaFontSprite::Initialize, [] { MakeFontSprite(); }, "● ReleaseFontSprite"},
    {"font effect", OrvaFontFx::Initialize, [] { OrvaFontFx::Create(MakeFontSprite(), nullptr, nullptr, nullptr); },
     "● Release OrvaFontFx", true},
    {"sheet", OrvaSheet::Initialize, [] { OrvaSheet::Create(Files().texture.c_str(), 0, true); }, "● ReleaseSheet"},
    {"movie", StartedIfOne<OrvaMedia::Initialize>, [] { OrvaMedia::Create(Files().wav.c_str(), nullptr); },
     nullptr},
    {"audio stream", StartedIfOne<OrvaAudio::Initialize>,
     [] {
         OrvaAudio* audio = OrvaAudio::Create(Files().wav.c_str());
         OrvaAudio::Play(audio, 1);
     },
     "● ReleaseAudio", true},
    {"sound", StartedIfOne<OrvaSound::Initialize>,
     [] {
         OrvaSound* sound = OrvaSound::Create(Files().wav.c_str());
         OrvaSound::Play(sound, 1);
     },
     "● ReleaseSound", true},
    {"music", StartedIfOne<OrvaMusic::Initialize>, [] { OrvaMusic::Create("exit_no_such.mid"); }, "● ReleaseMusic",
     true},
};

// What ran before the object was made and is still so at exit.
enum class ExitState {
    NothingStarted,     // neither the device nor the module
    Running,            // the device and the module started, never stopped
    DeviceStopped,      // both started, then the device stopped
    AfterApplication,   // an application ran and shut every module down
    // From here on, exit ends a run.
    ExitFromMain,       // the application's main function calls exit
    ExitFromThread,     // another thread calls exit while the main function pumps
};

const char* Name(ExitState state)
{
    switch (state) {
    case ExitState::NothingStarted: return "nothing started";
    case ExitState::Running: return "running";
    case ExitState::DeviceStopped: return "device stopped";
    case ExitState::AfterApplication: return "after an application";
    case ExitState::ExitFromMain: return "exit from the main function";
    case ExitState::ExitFromThread: return "exit from another thread";
    }
    return "";
}

// An application that starts the device and every module with objects,
// and ends at once.
void ExitSetup()
{
    OrvaApplication::SetScreenSize(64, 48);
    OrvaApplication::SetFrameRate(0);
    OrvaApplication::SetWindowed(true);
    OrvaApplication::SetUseFlags(kOrvaUseGraphics | kOrvaUseSound | kOrvaUseMusic | kOrvaUseAudio | kOrvaUseMedia);
}

int32_t ReturnAtOnce()
{
    return 0;
}

// Not 0, so that a status lost on the way shows.
constexpr int kExitStatus = 7;

const ExitCase* g_exitCase = nullptr;

int32_t MakeAndExit()
{
    g_exitCase->make();
    std::exit(kExitStatus);
}

// The thread ends the program a few frames into the loop, while the main
// thread pumps and draws.
int32_t MakeAndPumpUntilAnotherThreadExits()
{
    g_exitCase->make();
    static std::atomic<int> frames{0};
    std::thread([] {
        while (frames.load() < 3) {
            std::this_thread::yield();
        }
        std::exit(kExitStatus);
    }).detach();
    while (OrvaApplication::Pump()) {
        if (OrvaDevice::BeginScene()) {
            OrvaDevice::Clear(0xFF102030);
            OrvaDevice::EndScene();
            OrvaDevice::Present();
        }
        ++frames;
    }
    return 4;
}

void StartDeviceInChild()
{
    OrvaDevice::Configure(64, 48, true, nullptr);
    if (!OrvaDevice::Initialize()) {
        _exit(3);
    }
}

// In the child: reaches the state, makes the object and leaves through
// exit(), as a program returning from main does. 2: the module did not start;
// 4: the run ended without the exit.
[[noreturn]] void LeaveWithObject(const ExitCase& c, ExitState state, const std::string& logPath)
{
    OrvaDebug::SetLogPath(logPath.c_str());
    g_exitCase = &c;
    switch (state) {
    case ExitState::NothingStarted: break;
    case ExitState::Running:
    case ExitState::DeviceStopped:
        StartDeviceInChild();
        if (!c.start()) {
            _exit(2);
        }
        break;
    case ExitState::AfterApplication:
        OrvaEngine::RegisterModules();
        OrvaApplication::Run(ExitSetup, ReturnAtOnce);
        break;
    case ExitState::ExitFromMain:
        OrvaEngine::RegisterModules();
        _exit(int(OrvaApplication::Run(ExitSetup, MakeAndExit)));
    case ExitState::ExitFromThread:
        OrvaEngine::RegisterModules();
        _exit(int(OrvaApplication::Run(ExitSetup, MakeAndPumpUntilAnotherThreadExits)));
    }
    c.make();
    if (state == ExitState::DeviceStopped) {
        OrvaDevice::Destroy();
    }
    std::exit(kExitStatus);
}

}  // namespace

// Objects still alive when the program ends are released at exit, each
// module's, whatever ran before, and from whichever thread exit is called:
// the child ends with the status it gave (not by a signal, nor a sanitizer's
// report) and the object's release is in the log.
TEST(OrvaEngine, ObjectsAliveAtExitAreReleasedWithoutACrash)
{
    UseDevicesInMemory();
    const std::string tag = std::to_string(getpid());
    ExitFiles& files = Files();
    files.wav = ::testing::TempDir() + "orva_exit_" + tag + ".wav";
    ASSERT_TRUE(test_audio::WriteWav(files.wav, 2, 44100, test_audio::Ramp(4000)));
    const std::string textureName = "orva_exit_" + tag + ".bmp";
    files.texture = platform::GetProgramFolder() + "/" + textureName;
    {
        // A 2 x 2 24-bit BMP.
        uint8_t bmp[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,
                           1, 0, 24, 0};
        bmp[34] = 16;
        std::ofstream(files.texture, std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
    }
    files.xfile = ::testing::TempDir() + "orva_exit_" + tag + ".x";
    std::ofstream(files.xfile, std::ios::binary) << SkinnedQuadX(textureName);
    const std::string logPath = ::testing::TempDir() + "orva_exit_" + tag + ".log";

    for (const ExitCase& c : kExitCases) {
        for (ExitState state : {ExitState::NothingStarted, ExitState::Running, ExitState::DeviceStopped,
                                ExitState::AfterApplication, ExitState::ExitFromMain, ExitState::ExitFromThread}) {
            if (!c.duringRun && state >= ExitState::ExitFromMain) {
                continue;
            }
            SCOPED_TRACE(std::string(c.module) + ", " + Name(state));
            std::remove(logPath.c_str());
            std::fflush(nullptr);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                LeaveWithObject(c, state, logPath);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_FALSE(WIFSIGNALED(status)) << "signal " << WTERMSIG(status);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitStatus)
                << "exit status " << WEXITSTATUS(status);
            if (c.releaseLine != nullptr) {
                EXPECT_NE(orvatest::ReadFile(logPath).find(c.releaseLine), std::string::npos) << orvatest::ReadFile(logPath);
            }
        }
    }
    std::remove(logPath.c_str());
    std::remove(files.wav.c_str());
    std::remove(files.xfile.c_str());
    std::remove(files.texture.c_str());
}
