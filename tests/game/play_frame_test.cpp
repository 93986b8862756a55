// The order of one frame of play, pinned through the public functions, and a
// whole run of play checked against a model of it written apart from the
// game's code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"
#include "game/play.h"

namespace {

// What the services were asked for during a frame, in call order.
struct Calls {
    std::vector<int> bulletOwners;
    std::vector<BulletRecord> bullets;
    std::vector<int32_t> enemyTemplates;
    std::vector<int> sounds;
    std::vector<std::string> logs;
};
Calls* g_calls = nullptr;

const PlayTrace kRecorder = [] {
    PlayTrace t;
    t.onBullet = [](int, const BulletRecord& b) {
        g_calls->bulletOwners.push_back(b.owner);
        g_calls->bullets.push_back(b);
    };
    t.onEnemy = [](int32_t templateId, float, float, float, float, int32_t, int32_t) {
        g_calls->enemyTemplates.push_back(templateId);
    };
    t.onLog = [](const char* line) { g_calls->logs.emplace_back(line); };
    return t;
}();

class PlayFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayReset();
        SpawnRecordsClear();
        CrtSeed(1);
        g_player = PlayerRecord{};
        g_session = SessionRecord{};
        g_calls = &calls;
        PlaySetTrace(&kRecorder);
        SoundEffectSetHook(nullptr);
    }
    void TearDown() override
    {
        PlaySetTrace(nullptr);
        SoundEffectSetHook(nullptr);
        g_calls = nullptr;
    }
    void Load(const char* text)
    {
        std::string error;
        ASSERT_TRUE(SpawnTemplatesParse(text, &error)) << error;
    }
    // An enemy of `templateId` standing still at (x, y) in `slot`, its step
    // clock at `clock`.
    int Place(int32_t templateId, int slot, float x, float y, uint16_t clock)
    {
        const int used = EnemySpawnFromTemplate(templateId, x, y, 1.0f, 1.0f, slot);
        g_enemies[used].stepClock = clock;
        return used;
    }
    Calls calls;
};

std::vector<int> g_soundsPlayed;

}  // namespace

TEST_F(PlayFrame, EnemiesRunTheirPatternsInSlotOrder)
{
    // Base id 1 at difficulty 0 fires one bullet every 40 frames, owned by
    // the enemy's slot; the enemies are placed out of order.
    Load("template 1 hp 5\nstep attack 1\n");
    const int slots[] = {299, 0, 150, 10, 9, 11};
    for (int slot : slots) {
        Place(1, slot, 300.0f, 100.0f, 39);
    }
    PlayUpdateFrame();
    ASSERT_EQ(calls.bulletOwners, (std::vector<int>{0, 9, 10, 11, 150, 299}));
    // The bullets took the table's slots in the same order.
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(g_bullets[i].owner, calls.bulletOwners[static_cast<size_t>(i)]);
    }
}

TEST_F(PlayFrame, MoveThenPatternsThenBulletsWithinOneFrame)
{
    // The enemy moves 2 pixels a frame straight down.
    Load("template 1 hp 5 speed 2\nstep move 1.5707964 attack 1\n");
    const int slot = EnemySpawnFromTemplate(1, 300.0f, 100.0f, 1.0f, 0.0f, -1);
    g_enemies[slot].stepClock = 39;
    const float movedY = 100.0f + 2.0f * static_cast<float>(std::sin(static_cast<double>(1.5707964f)));
    PlayUpdateFrame();
    EXPECT_EQ(g_enemies[slot].stepClock, 40);
    EXPECT_EQ(g_enemies[slot].y, movedY);
    // The pattern ran on clock 40, so after the move: it fired from where
    // the enemy has just moved to.
    ASSERT_EQ(calls.bullets.size(), 1u);
    EXPECT_EQ(calls.bullets[0].y0, movedY);
    EXPECT_EQ(calls.bullets[0].age, 0);
    // And before the bullet update: the new bullet has made its first step.
    const BulletRecord& b = g_bullets[0];
    EXPECT_EQ(b.age, 1);
    EXPECT_EQ(b.r1, 2.9f);
    const float aim = calls.bullets[0].B;
    EXPECT_EQ(b.x, b.x0 + 2.9f * static_cast<float>(std::cos(static_cast<double>(aim))));
    EXPECT_EQ(b.y, b.y0 + 2.9f * static_cast<float>(std::sin(static_cast<double>(aim))));

    // A fresh enemy's clock is 0 until its first move, and clock 0 never
    // dispatches: a pattern that fires on every call fires in the frame the
    // enemy first moves, on clock 1.
    PlayReset();
    calls = Calls{};
    Load("template 2 hp 5\nstep attack 122\n");
    const int beam = EnemySpawnFromTemplate(2, 300.0f, 200.0f, 1.0f, 1.0f, -1);
    EnemyAttackDispatch();
    EXPECT_TRUE(calls.bullets.empty());
    PlayUpdateFrame();
    EXPECT_EQ(g_enemies[beam].stepClock, 1);
    EXPECT_EQ(calls.bullets.size(), 20u);
}

TEST_F(PlayFrame, Ids61And122FireOutsideTheField)
{
    Load("template 1 hp 5\nstep attack 61\n"
         "template 2 hp 5\nstep attack 122\n"
         "template 3 hp 5\nstep attack 1\n"
         "template 4 hp 5\nstep attack 1061\n"
         "template 125 hp 1\nstep attack 0\n");
    // Left of the field, clocks on every gate of the patterns.
    Place(1, 20, 60.0f, 100.0f, 120);
    Place(2, 21, 60.0f, 100.0f, 120);
    Place(3, 22, 60.0f, 100.0f, 120);
    Place(4, 23, 60.0f, 100.0f, 120);
    calls = Calls{};
    EnemyAttackDispatch();
    // 61 releases its child, 122 lays its 20-bullet cross; base id 1 and
    // 1061 (61 of band 1 named directly, not 61 itself) stay silent.
    EXPECT_EQ(calls.enemyTemplates, (std::vector<int32_t>{125}));
    EXPECT_EQ(calls.bullets.size(), 20u);
    for (int owner : calls.bulletOwners) {
        EXPECT_EQ(owner, 21);
    }

    // The test is on the id before banding: 61 at difficulty 1 runs 1061
    // outside the field too.
    calls = Calls{};
    g_session.difficulty = DifficultyNormal;
    EnemyAttackDispatch();
    EXPECT_EQ(calls.enemyTemplates, (std::vector<int32_t>{125}));
}

TEST_F(PlayFrame, FieldEdgesCountAsOutside)
{
    Load("template 3 hp 5\nstep attack 1\n");
    const float outside[][2] = {{120.0f, 100.0f}, {520.0f, 100.0f}, {300.0f, 0.0f}, {300.0f, 480.0f},
                                {60.0f, 100.0f},  {300.0f, -30.0f}};
    for (const auto& p : outside) {
        Place(3, 20, p[0], p[1], 40);
        calls = Calls{};
        EnemyAttackDispatch();
        EXPECT_TRUE(calls.bullets.empty()) << p[0] << "," << p[1];
    }
    // The nearest floats inside each edge.
    const float inside[][2] = {{std::nextafter(120.0f, 300.0f), 100.0f},
                               {std::nextafter(520.0f, 300.0f), 100.0f},
                               {300.0f, std::nextafter(0.0f, 1.0f)},
                               {300.0f, std::nextafter(480.0f, 0.0f)}};
    for (const auto& p : inside) {
        Place(3, 20, p[0], p[1], 40);
        calls = Calls{};
        EnemyAttackDispatch();
        EXPECT_EQ(calls.bullets.size(), 1u) << std::hexfloat << p[0] << "," << p[1];
    }
}

TEST_F(PlayFrame, SoundsAreArmedAgainAtTheStartOfEveryFrame)
{
    // Base id 11 sends two template-13 children back and plays sound 10
    // every 80 frames. Two enemies fire it in the same frame.
    Load("template 1 hp 5\nstep aim 1.5707964 attack 11\n"
         "template 13 hp 2\nstep attack 0\n");
    g_soundsPlayed.clear();
    SoundEffectSetHook([](int n) { g_soundsPlayed.push_back(n); });
    const int a = Place(1, 20, 300.0f, 100.0f, 79);
    const int b = Place(1, 21, 340.0f, 100.0f, 79);
    calls = Calls{};
    // Sound 10 was played (and disarmed) earlier, outside the frame.
    SoundEffectPlay(10);
    ASSERT_EQ(g_soundsPlayed.size(), 1u);
    PlayUpdateFrame();
    // Armed again before the patterns ran, then started once for both.
    EXPECT_EQ(g_soundsPlayed, (std::vector<int>{10, 10}));
    EXPECT_EQ(calls.enemyTemplates.size(), 4u);
    g_enemies[a].stepClock = 79;
    g_enemies[b].stepClock = 79;
    PlayUpdateFrame();
    EXPECT_EQ(g_soundsPlayed, (std::vector<int>{10, 10, 10}));
}

TEST_F(PlayFrame, BulletPositionAddsTheArmThenTheTurn)
{
    // At 256 one f32 step is 2^-15. The first arm adds three quarters of a
    // step, the second half a step; with headings 0 both cosines are exactly
    // 1. Summed as (x0 + arm) + turn, the first sum rounds up to 256 + u and
    // the second lands halfway, rounding to the even 256 + 2u. Either other
    // order gives 256 + u.
    const float u = std::ldexp(1.0f, -15);
    const float arm = 0.75f * u;
    const float turn = 0.5f * u;
    const float armFirst = (256.0f + arm) + turn;
    ASSERT_EQ(armFirst, 256.0f + 2.0f * u);
    ASSERT_NE(armFirst, (256.0f + turn) + arm);
    ASSERT_NE(armFirst, 256.0f + (arm + turn));

    BulletSpawn(0, 1, 400, 256.0f, 300.0f, 0.0f, 0.0f, arm, turn, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0);
    // The same along y: sin(1.5707964) rounds to exactly 1 in f32.
    ASSERT_EQ(static_cast<float>(std::sin(static_cast<double>(1.5707964f))), 1.0f);
    BulletSpawn(0, 1, 400, 300.0f, 256.0f, 0.0f, 0.0f, arm, turn, 0.0f, 0.0f, 1.5707964f, 1.5707964f, 0.0f, 0.0f, 0);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].x, 256.0f + 2.0f * u);
    EXPECT_EQ(g_bullets[0].y, 300.0f);
    EXPECT_EQ(g_bullets[1].y, 256.0f + 2.0f * u);
    EXPECT_EQ(g_bullets[1].x, 300.0f);
}

TEST_F(PlayFrame, LargeNegativeAnglesDoNotStopTheFrame)
{
    // Base id 122 lays its cross about the enemy's aim angle; an aim angle
    // far below -2^27 once kept the bullet update adding turns for ever.
    Load("template 2 hp 5\nstep attack 122\n");
    const int slot = EnemySpawnFromTemplate(2, 300.0f, 200.0f, -1.0e9f, 1.0f, -1);
    PlayUpdateFrame();
    ASSERT_EQ(calls.bullets.size(), 20u);
    for (const BulletRecord& b : g_bullets) {
        if (b.active != 0) {
            EXPECT_GE(b.B, 0.0f);
            EXPECT_LE(b.B, 6.2831855f);
            EXPECT_GE(b.C, 0.0f);
            EXPECT_LE(b.C, 6.2831855f);
        }
    }
    EXPECT_EQ(g_enemies[slot].active, 1);
    // Every speed of turn, however large, ends too.
    BulletSpawn(0, 1, 400, 300.0f, 200.0f, 0.0f, 5.0f, 1.0f, 0.0f, -3.0e38f, -3.0e38f, -1.0e30f, -2.0e8f, -1.0e20f,
                -3.0e38f, 0);
    BulletUpdate();
    BulletUpdate();
}

// ---------------------------------------------------------------- the model

// A model of play for the run below, written from what the play services and
// the first patterns are meant to do, sharing no code with them: its own
// generator, its own tables, its own arithmetic. The run then checks the
// game's tables against the model's frame by frame.
namespace model {

constexpr float kTurn = 6.2831855f;

struct Step {
    float aim, move;
    int attack, death, frames;
};
struct Template {
    uint32_t hp;
    float speed;
    std::vector<Step> steps;
};
struct Enemy {
    bool active = false;
    int tmpl = 0, step = 0;
    int clock = 0;  // 16-bit
    float x = 800.0f, y = 0.0f, aim = 0.0f, move = 0.0f, speed = 0.0f;
};
struct Bullet {
    bool active = false;
    int owner = 0, kind = 0, life = 0, age = 0;
    float x0 = 0, y0 = 0, r1 = 0, dr1 = 0, A = 0, B = 0, x = 0, y = 0;
};

struct World {
    uint32_t rng = 0;
    Enemy enemies[300];
    Bullet bullets[600];
    const Template* templates[200] = {};
    float playerX = 320.0f, playerY = 400.0f;
    int bulletsFired = 0, childrenSpawned = 0, draws = 0;

    int Rand()
    {
        rng = rng * 214013u + 2531011u;
        ++draws;
        return static_cast<int>((rng >> 16) & 0x7FFFu);
    }
    int Rnd(int lo, int hi)
    {
        const int a = Rand();
        const int b = Rand();
        return lo + (a * b) % (hi - lo + 1);
    }
    static float Deg(int d)
    {
        const float t = static_cast<float>(d) * 0.0027777778f;
        return t * 6.2831855f;
    }
    static float Cos(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }
    static float Sin(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }
    float AimFrom(float x, float y) const
    {
        const float dy = playerY - y;
        const float dx = playerX - x;
        return static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
    }

    void Shot(int owner, int kind, float speed, float heading, float x0, float y0, float A = 0.0f)
    {
        int slot = 0;
        for (int i = 0; i < 600; ++i) {
            if (!bullets[i].active) {
                slot = i;
                break;
            }
        }
        Bullet& b = bullets[slot];
        b = Bullet{};
        b.active = true;
        b.owner = owner;
        b.kind = kind;
        b.life = 400;
        b.x0 = x0;
        b.y0 = y0;
        b.dr1 = speed;
        b.B = heading;
        b.A = A;
        b.x = x0;
        b.y = y0;
        ++bulletsFired;
    }

    int Spawn(int t, float x, float y, float aim, float move)
    {
        int slot = 10;
        for (int i = 10; i < 300; ++i) {
            if (!enemies[i].active) {
                slot = i;
                break;
            }
        }
        const Template& tp = *templates[t];
        Enemy& e = enemies[slot];
        e = Enemy{};
        e.active = true;
        e.tmpl = t;
        e.x = x;
        e.y = y;
        e.speed = tp.speed;
        e.aim = aim == 0.0f ? tp.steps[0].aim : aim;
        e.move = move == 0.0f ? tp.steps[0].move : move;
        return slot;
    }

    // Base ids 1, 3, 4, 5 and 9 at difficulty 0.
    void Pattern(int slot, int id, bool once)
    {
        const Enemy& e = enemies[slot];
        const float x = e.x, y = e.y;
        const int clock = static_cast<int16_t>(static_cast<uint16_t>(e.clock));
        const int owner = once ? -1 : slot;
        auto every = [&](int p) { return once || clock % p == 0; };
        if (id == 1 && every(40)) {
            Shot(owner, 1, 2.9f, AimFrom(x, y), x, y);
        } else if (id == 3 && every(40)) {
            const float aim = AimFrom(x, y);
            const int kinds[] = {4, 4, 6, 6};
            const float speeds[] = {2.8f, 2.7f, 3.9f, 3.0f};
            for (int i = 0; i < 4; ++i) {
                const int r = Rnd(-10, 10);
                Shot(owner, kinds[i], speeds[i], enemies[slot].aim + Deg(r), x, y);
            }
            for (int k = 0; k < 360; k += 36) {
                const float h = aim + Deg(k);
                Shot(owner, 11, 2.4f, h, x, y, h);
            }
        } else if (id == 4 && every(50)) {
            const float aim = AimFrom(x, y);
            for (int k = 0; k < 360; k += 90) {
                Shot(owner, 2, 2.2f, aim + Deg(k), x, y);
            }
            for (int k = 45; k < 405; k += 90) {
                Shot(owner, 4, 1.8f, aim + Deg(k), x, y);
            }
        } else if (id == 5 && every(30)) {
            for (int k = 0; k < 360; k += 20) {
                Shot(owner, 11, 2.8f, Deg(k), x, y, Deg(k));
            }
        } else if (id == 9 && every(30)) {
            const float aim = AimFrom(x, y);
            Spawn(11, x, y, aim, aim);
            ++childrenSpawned;
        }
    }

    const Step& StepOf(const Enemy& e) const { return templates[e.tmpl]->steps[static_cast<size_t>(e.step)]; }

    void Free(Enemy& e)
    {
        e.active = false;
        e.x = 800.0f;
    }

    void Destroy(int slot)
    {
        Pattern(slot, StepOf(enemies[slot]).death, true);
        Free(enemies[slot]);
    }

    static float Wrap(float a)
    {
        while (a < 0.0f) {
            a += kTurn;
        }
        return a;
    }

    void Frame()
    {
        for (Enemy& e : enemies) {
            if (!e.active) continue;
            e.clock = (e.clock + 1) & 0xFFFF;
            const Template& tp = *templates[e.tmpl];
            const Step& s = StepOf(e);
            if (s.frames != 0 && e.clock > s.frames && e.step + 1 < static_cast<int>(tp.steps.size())) {
                ++e.step;
                e.clock = 0;
                if (StepOf(e).aim != 0.0f) e.aim = StepOf(e).aim;
                if (StepOf(e).move != 0.0f) e.move = StepOf(e).move;
            }
            const float dx = e.speed * Cos(e.move);
            const float dy = e.speed * Sin(e.move);
            e.x = e.x + dx;
            e.y = e.y + dy;
            if (e.x < 0.0f || e.x > 640.0f || e.y < -160.0f || e.y > 640.0f) {
                Free(e);
            }
        }
        for (int slot = 0; slot < 300; ++slot) {
            const Enemy& e = enemies[slot];
            if (!e.active || e.clock == 0) continue;
            const int id = StepOf(e).attack;
            if ((e.x > 120.0f && e.x < 520.0f && e.y > 0.0f && e.y < 480.0f) || id == 61 || id == 122) {
                Pattern(slot, id, false);
            }
        }
        for (Bullet& b : bullets) {
            if (!b.active) continue;
            if (b.age < 0) {
                ++b.age;
                continue;
            }
            ++b.age;
            const bool expired = b.age > b.life;
            b.A = Wrap(b.A);
            b.B = Wrap(b.B);
            b.r1 = b.r1 + b.dr1;
            // The second arm is 0 in every bullet of this run; C = 0 keeps
            // its cosine 1 and its product 0, which still takes its part in
            // the sum.
            const float arm = b.r1 * Cos(b.B);
            const float armY = b.r1 * Sin(b.B);
            b.x = (b.x0 + arm) + 0.0f;
            b.y = (b.y0 + armY) + 0.0f;
            if (expired || b.x < 100.0f || b.x > 540.0f || b.y > 500.0f || b.y < -20.0f) {
                b.active = false;
            }
        }
    }
};

}  // namespace model

namespace {

// Difficulty 0; template 0 fires spreads and rings, template 1 aimed shots
// and then aimed children of template 11, which fire aimed shots in turn.
const char kRunTemplates[] = "template 0 hp 40 speed 0.9 score 100\n"
                             "step aim 1.5707964 move 1.5707964 attack 3 death 4 frames 150\n"
                             "step aim 1.5707964 move 4.712389 attack 5\n"
                             "template 1 hp 60 speed 0.7 score 150\n"
                             "step aim 1.2 move 1.5707964 attack 1 death 5 frames 200\n"
                             "step move 0.3 attack 9\n"
                             "template 11 hp 2 speed 2.4\n"
                             "step attack 1\n";
const model::Template kModelTemplate0{40, 0.9f, {{1.5707964f, 1.5707964f, 3, 4, 150}, {1.5707964f, 4.712389f, 5, 0, 0}}};
const model::Template kModelTemplate1{60, 0.7f, {{1.2f, 1.5707964f, 1, 5, 200}, {0.0f, 0.3f, 9, 0, 0}}};
const model::Template kModelTemplate11{2, 2.4f, {{0.0f, 0.0f, 1, 0, 0}}};

// The first difference between the game's tables and the model's, or "".
std::string Difference(const model::World& w)
{
    char text[160];
    for (int i = 0; i < 300; ++i) {
        const EnemyRecord& g = g_enemies[i];
        const model::Enemy& m = w.enemies[i];
        if ((g.active != 0) != m.active || g.x != m.x || (m.active && (g.y != m.y || g.stepClock != m.clock ||
                                                                        g.stepIndex != m.step ||
                                                                        g.aimAngle != m.aim))) {
            std::snprintf(text, sizeof text, "enemy %d: game %d (%.9g, %.9g) model %d (%.9g, %.9g)", i, g.active,
                          g.x, g.y, m.active, m.x, m.y);
            return text;
        }
    }
    for (int i = 0; i < 600; ++i) {
        const BulletRecord& g = g_bullets[i];
        const model::Bullet& m = w.bullets[i];
        if ((g.active != 0) != m.active ||
            (m.active && (g.x != m.x || g.y != m.y || g.kind != m.kind || g.owner != m.owner || g.B != m.B))) {
            std::snprintf(text, sizeof text, "bullet %d: game %d (%.9g, %.9g) model %d (%.9g, %.9g)", i, g.active,
                          g.x, g.y, m.active, m.x, m.y);
            return text;
        }
    }
    if (CrtGetState() != w.rng) {
        return "generator state";
    }
    return "";
}

}  // namespace

TEST_F(PlayFrame, RunAgreesWithAModelOfPlayFrameByFrame)
{
    PlaySetTrace(nullptr);
    Load(kRunTemplates);
    const uint32_t seed = 20240611;
    CrtSeed(seed);
    model::World w;
    w.rng = seed;
    w.templates[0] = &kModelTemplate0;
    w.templates[1] = &kModelTemplate1;
    w.templates[11] = &kModelTemplate11;

    int destroyed = 0;
    int peakBullets = 0;
    for (int frame = 1; frame <= 900; ++frame) {
        if (frame % 45 == 1) {
            const int t = RandomRange(0, 1);
            const int x = RandomRange(160, 480);
            EnemySpawnFromTemplate(t, static_cast<float>(x), 20.0f, 0.0f, 0.0f, -1);
            const int mt = w.Rnd(0, 1);
            const int mx = w.Rnd(160, 480);
            w.Spawn(mt, static_cast<float>(mx), 20.0f, 0.0f, 0.0f);
        }
        // The player drifts, so the aimed patterns change their headings.
        g_player.x = 320.0f + static_cast<float>((frame % 200) - 100);
        w.playerX = g_player.x;
        // Now and then the first enemy from slot 10 is shot down.
        if (frame % 97 == 0) {
            for (int s = kFirstFreeEnemySlot; s < kEnemySlots; ++s) {
                if (g_enemies[s].active != 0) {
                    EnemyDestroy(s);
                    w.Destroy(s);
                    ++destroyed;
                    break;
                }
            }
        }
        PlayUpdateFrame();
        w.Frame();
        const std::string diff = Difference(w);
        ASSERT_EQ(diff, "") << "frame " << frame;
        peakBullets = std::max(peakBullets, BulletCountActive());
    }
    // The run did exercise what it is meant to check.
    EXPECT_GT(w.bulletsFired, 500);
    EXPECT_GT(peakBullets, 40);
    EXPECT_GT(w.childrenSpawned, 3);
    EXPECT_GE(destroyed, 5);
    EXPECT_GT(w.draws, 100);
}
