// The game's set-up callback and key hook, and its main loop with the play
// screen it runs.
#include "game/game.h"

#include <cstdio>
#include <string>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/input.h"
#include "engine/sound/audio.h"
#include "game/crt_random.h"
#include "game/play.h"

static int64_t g_frameLimit = 0;
static bool g_printTables = false;

// Play's music, from the program's folder; silent when the file is missing.
static const char kPlayMusic[] = "se\\play.mp3";
static OrvaAudio* g_music = nullptr;
// Ends of the music's passes the window has been told of.
static int32_t g_musicEnds = 0;

// Until the stage files are read the enemies come from these templates.
static const char kStageTemplates[] = R"(# enemies of the first stage
template 0 hp 40 speed 1.2 score 100 effect 4
step aim 1.5707964 move 1.5707964 attack 1 death 3 frames 200
step aim 1.5707964 move 4.712389 attack 4 death 3
template 1 hp 60 speed 0.8 score 150 effect 4
step aim 1.5707964 move 1.5707964 attack 6 death 12 frames 240
step aim 1.5707964 move 0.3 attack 8
template 2 hp 80 speed 0.6 score 200 effect 4
step aim 1.5707964 move 1.5707964 attack 5 death 1 frames 300
step aim 1.5707964 move 2.8 attack 7
template 11 hp 2 speed 2.4 score 10
step attack 0
template 12 hp 2 speed 2.0 score 10
step attack 1
template 13 hp 2 speed 1.6 score 10
step attack 0
template 53 hp 2 speed 1.4 score 10
step attack 0
)";

void GameSetFrameLimit(int64_t frames)
{
    g_frameLimit = frames;
}

void GameOnKeyDown(uintptr_t wParam, intptr_t)
{
    if (wParam == platform::VK_ESCAPE) {
        OrvaApplication::Exit();
    }
}

// The streamed-audio event: a stream reached the end of a pass.
static void GameOnMusicEvent(uintptr_t, intptr_t)
{
    ++g_musicEnds;
}

void GameSetup()
{
    OrvaApplication::SetApplicationName("tarvolenix");
    OrvaApplication::SetScreenSize(640, 480);
    OrvaApplication::SetFrameRate(60);
    OrvaApplication::SetWindowed(true);
    OrvaApplication::SetCursorVisible(false);
    OrvaApplication::SetFrameRateInTitle(false);
    OrvaApplication::AddMessageHook(platform::WM_KEYDOWN, GameOnKeyDown);
    OrvaApplication::AddMessageHook(kOrvaGraphEventMessage, GameOnMusicEvent);
    OrvaApplication::SetUseFlags(kOrvaUseGraphics | kOrvaUseInput | kOrvaUseAudio);
    OrvaApplication::SetStartupText(false);
}

// ------------------------------------------------------------------ drawing

// A pre-transformed vertex with a colour (format 0x44).
struct ColorVertex {
    float x, y, z, rhw;
    uint32_t color;
};

static std::vector<ColorVertex> g_quads;

static void AddQuad(float x, float y, float w, float h, uint32_t color)
{
    // The pixel offset puts pixel centres on the quad's integer edges.
    const float l = x - 0.5f, t = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
    const ColorVertex v[6] = {{l, t, 0, 1, color}, {r, t, 0, 1, color}, {l, b, 0, 1, color},
                              {r, t, 0, 1, color}, {r, b, 0, 1, color}, {l, b, 0, 1, color}};
    g_quads.insert(g_quads.end(), v, v + 6);
}

static uint32_t BulletColor(uint16_t kind)
{
    static const uint32_t kColors[] = {0xFFFF4040, 0xFF40A0FF, 0xFFFFE040, 0xFF40FF80,
                                       0xFFFF80FF, 0xFFFFA040, 0xFFA0A0FF, 0xFFFFFFFF};
    return kColors[kind % 8];
}

static void DrawPlay()
{
    if (!OrvaDevice::BeginScene()) {
        return;
    }
    OrvaDevice::Clear(0xFF000000);
    g_quads.clear();
    AddQuad(120, 0, 400, 480, 0xFF080C18);
    for (const EffectRecord& fx : g_effects) {
        if (fx.active != 0 && fx.age >= 0) {
            const float size = 8.0f + static_cast<float>(fx.age);
            AddQuad(fx.x - size / 2, fx.y - size / 2, size, size, 0xFF604020);
        }
    }
    for (const EnemyRecord& e : g_enemies) {
        if (e.active != 0) {
            AddQuad(e.x - 10, e.y - 10, 20, 20, 0xFFC0C0C8);
        }
    }
    AddQuad(g_player.x - 4, g_player.y - 6, 8, 12, 0xFF60FF60);
    for (const BulletRecord& b : g_bullets) {
        if (b.active != 0 && b.age > 0) {
            AddQuad(b.x - 3, b.y - 3, 6, 6, BulletColor(b.kind));
        }
    }
    // The side panels cover what leaves the field.
    AddQuad(0, 0, 120, 480, 0xFF283040);
    AddQuad(520, 0, 120, 480, 0xFF283040);
    OrvaEffect::Begin(kOrvaBlendNone);
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device != nullptr && !g_quads.empty()) {
        const uint32_t triangles = static_cast<uint32_t>(g_quads.size() / 3);
        device->DrawPrimitiveUP(platform::PrimTriangleList, triangles, g_quads.data(), sizeof(ColorVertex));
        OrvaApplication::AddPolygonCount(static_cast<int32_t>(triangles));
    }
    OrvaEffect::End();
    OrvaDevice::EndScene();
    OrvaDevice::Present();
}

// ------------------------------------------------------------------ play

static void PlayEnter()
{
    SpawnRecordsClear();
    // A bad line is logged by the reader, which then loads nothing.
    SpawnTemplatesParse(kStageTemplates, nullptr);
    PlayReset();
    CrtSeed(static_cast<uint32_t>(platform::GetTimeMs()));
    g_player = PlayerRecord{};
    g_session.difficulty = DifficultyNormal;
}

static void PlayMovePlayer()
{
    const float speed = OrvaInput::IsKeyDown(platform::VK_SHIFT) ? 2.0f : 4.0f;
    const uint32_t pad = OrvaInput::GetJoystickDirections();
    if (OrvaInput::IsKeyDown(platform::VK_LEFT) || (pad & OrvaInput::kLeft) != 0) g_player.x -= speed;
    if (OrvaInput::IsKeyDown(platform::VK_RIGHT) || (pad & OrvaInput::kRight) != 0) g_player.x += speed;
    if (OrvaInput::IsKeyDown(platform::VK_UP) || (pad & OrvaInput::kUp) != 0) g_player.y -= speed;
    if (OrvaInput::IsKeyDown(platform::VK_DOWN) || (pad & OrvaInput::kDown) != 0) g_player.y += speed;
    g_player.x = g_player.x < 128.0f ? 128.0f : (g_player.x > 512.0f ? 512.0f : g_player.x);
    g_player.y = g_player.y < 16.0f ? 16.0f : (g_player.y > 464.0f ? 464.0f : g_player.y);
}

static void PlayFrame(int64_t frame)
{
    PlayMovePlayer();
    // A wave every 90 frames across the top of the field.
    if (frame % 90 == 1) {
        const int32_t kind = RandomRange(0, 2);
        const float x = static_cast<float>(RandomRange(160, 480));
        EnemySpawnFromTemplate(kind, x, 10.0f, 0.0f, 0.0f, -1);
    }
    // Z shoots down the lowest enemy in front of the player.
    if (OrvaInput::IsKeyPressed('Z')) {
        int target = -1;
        for (int slot = 0; slot < kEnemySlots; ++slot) {
            const EnemyRecord& e = g_enemies[slot];
            if (e.active != 0 && e.y < g_player.y && (target < 0 || e.y > g_enemies[target].y)) {
                target = slot;
            }
        }
        if (target >= 0) {
            EnemyDestroy(target);
        }
    }
    PlayUpdateFrame();
}

int32_t GameMain()
{
    OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    OrvaDevice::SetBlendMode(kOrvaBlendNormal);
    OrvaDevice::SetTextureStageState(0, platform::TssColorOp, platform::TopModulate);
    OrvaDevice::SetTextureStageState(0, platform::TssColorArg1, platform::TaTexture);
    OrvaDevice::SetTextureStageState(0, platform::TssColorArg2, platform::TaDiffuse);
    g_printTables = !platform::HasDisplay();

    PlayEnter();
    g_music = OrvaAudio::Create(kPlayMusic);
    OrvaAudio::SetVolume(g_music, 100.0f);
    OrvaAudio::Play(g_music, 1);
    int64_t frame = 0;
    while (OrvaApplication::Pump()) {
        ++frame;
        PlayFrame(frame);
        DrawPlay();
        if (g_printTables && frame % 60 == 0) {
            // The music's passes so far, or "off" when it does not play.
            char music[16] = "off";
            if (OrvaAudio::IsPlaying(g_music) != 0) {
                std::snprintf(music, sizeof music, "%d", g_musicEnds + 1);
            }
            std::printf("frame %6lld  enemies %3d  bullets %3d  score %u  music %s\n", static_cast<long long>(frame),
                        EnemyCountActive(), BulletCountActive(), g_session.score, music);
            std::fflush(stdout);
        }
        if (g_frameLimit > 0 && frame >= g_frameLimit && !OrvaApplication::IsExiting()) {
            OrvaApplication::Exit();
        }
    }
    OrvaAudio::PostRelease(g_music);
    g_music = nullptr;
    return 0;
}
