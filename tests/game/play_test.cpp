#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "game/crt_random.h"
#include "game/play.h"

using namespace std::string_view_literals;

namespace {

std::vector<std::string> g_logs;

// Play's log lines, as the trace hands them over.
const PlayTrace kLogRecorder = [] {
    PlayTrace t;
    t.onLog = [](const char* line) { g_logs.emplace_back(line); };
    return t;
}();

// A fresh play state, so each test starts alike; play's log lines are kept.
class Play : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayReset();
        SpawnRecordsClear();
        CrtSeed(1);
        g_player = PlayerRecord{};
        g_session = SessionRecord{};
        g_logs.clear();
        PlaySetTrace(&kLogRecorder);
        SoundEffectSetHook(nullptr);
    }
    void TearDown() override
    {
        PlaySetTrace(nullptr);
        SoundEffectSetHook(nullptr);
    }
    static std::string LastLog() { return g_logs.empty() ? std::string() : g_logs.back(); }
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

int FreeBulletCount()
{
    return kBulletSlots - BulletCountActive();
}

}  // namespace

TEST(CrtRandom, FollowsTheLinearCongruentialSequence)
{
    CrtSeed(1);
    // The first numbers of the generator seeded with 1.
    EXPECT_EQ(CrtRand(), 41);
    EXPECT_EQ(CrtRand(), 18467);
    EXPECT_EQ(CrtRand(), 6334);
    EXPECT_EQ(CrtRand(), 26500);
    CrtSeed(0xFFFFFFFFu);
    // The state wraps in 32 bits: 0xFFFFFFFF * 214013 + 2531011.
    const uint32_t expected = 0xFFFFFFFFu * 214013u + 2531011u;
    CrtRand();
    EXPECT_EQ(CrtGetState(), expected);
}

// The generator's state after two more draws from `seed`.
uint32_t StateAfterTwoDraws(uint32_t seed)
{
    CrtSeed(seed);
    CrtRand();
    CrtRand();
    return CrtGetState();
}

TEST_F(Play, RandomRangeDrawsTwiceAndMultiplies)
{
    CrtSeed(7);
    const int r1 = CrtRand();
    const int r2 = CrtRand();
    CrtSeed(7);
    EXPECT_EQ(RandomRange(-10, 10), -10 + (r1 * r2) % 21);
    EXPECT_EQ(CrtGetState(), StateAfterTwoDraws(7));
}

TEST_F(Play, RandomRangeKeepsItsFormulaOnReversedAndWideRanges)
{
    // Seeded with 3 the generator draws 48 and 7196: a product of 345408.
    CrtSeed(3);
    ASSERT_EQ(CrtRand(), 48);
    ASSERT_EQ(CrtRand(), 7196);
    // Reversed: the divisor is 0 - 10 + 1 = -9, and 345408 leaves 6 by 9.
    CrtSeed(3);
    EXPECT_EQ(RandomRange(10, 0), 16);
    // The divisor 2^31 wraps to INT32_MIN, which the product never reaches.
    CrtSeed(3);
    EXPECT_EQ(RandomRange(0, INT32_MAX), 345408);
    // The sum wraps too: INT32_MAX + 345408, with a divisor of -(2^31 - 2).
    CrtSeed(3);
    EXPECT_EQ(RandomRange(INT32_MAX, 0), INT32_MIN + 345407);
    CrtSeed(3);
    EXPECT_EQ(RandomRange(-5, -8), -5 + 345408 % 2);
    EXPECT_TRUE(g_logs.empty());
}

TEST_F(Play, RandomRangeWithAZeroDivisorGivesLo)
{
    // hi = lo - 1 makes the divisor 0: lo, a log line, and still two draws.
    const int32_t cases[][2] = {{5, 4}, {0, -1}, {INT32_MIN, INT32_MAX}, {-100, -101}};
    for (const auto& c : cases) {
        g_logs.clear();
        CrtSeed(11);
        EXPECT_EQ(RandomRange(c[0], c[1]), c[0]);
        EXPECT_EQ(CrtGetState(), StateAfterTwoDraws(11));
        ASSERT_EQ(g_logs.size(), 1u);
        EXPECT_TRUE(Contains(g_logs[0], "RandomRange(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ")"))
            << g_logs[0];
    }
}

TEST_F(Play, DegToRadRoundsEachProduct)
{
    const float turns = 90.0f * 0.0027777778f;
    EXPECT_EQ(DegToRad(90), turns * 6.2831855f);
    EXPECT_EQ(DegToRad(0), 0.0f);
    EXPECT_EQ(DegToRad(-20), -DegToRad(20));
}

// Adding a turn while the angle is negative, one f32 sum at a time.
float AngleWrapByTurns(float angle)
{
    while (angle < 0.0f) {
        angle += 6.2831855f;
    }
    return angle;
}

uint32_t Bits(float v)
{
    uint32_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

TEST(AngleWrap, AgreesBitForBitWithTheTurnByTurnLoopWhereverItEnds)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    std::vector<float> angles = {-0.0f, -FLT_MIN, -1e-45f, -0.5f, -6.2831855f, -6.2831850f, -13.0f, -100.0f,
                                 -134217728.0f, std::nextafter(-134217728.0f, 0.0f)};
    // Every binade up to the loop's reach, more samples where the loop is
    // short, and the binade edges with their neighbours.
    for (int e = -30; e < 27; ++e) {
        const int samples = e < 16 ? 300 : (e < 22 ? 20 : 2);
        for (int i = 0; i < samples; ++i) {
            angles.push_back(-std::ldexp(mantissa(random), e));
        }
        const float edge = -std::ldexp(1.0f, e);
        angles.push_back(edge);
        if (e < 24) {
            angles.push_back(std::nextafter(edge, 0.0f));
            angles.push_back(std::nextafter(edge, -INFINITY));
        }
    }
    for (float a : angles) {
        ASSERT_EQ(Bits(AngleWrap(a)), Bits(AngleWrapByTurns(a))) << std::hexfloat << a;
    }
    // Non-negative angles are left alone, however large.
    for (float a : {0.0f, 1.0f, 7.0f, 1.0e9f, FLT_MAX}) {
        EXPECT_EQ(AngleWrap(a), a);
    }
    EXPECT_TRUE(std::isnan(AngleWrap(NAN)));
    EXPECT_EQ(AngleWrap(-INFINITY), -INFINITY);
}

TEST(AngleWrap, AnglesBeyondTheLoopsReachComeIntoOneTurn)
{
    // Below -2^27 a turn no longer changes the f32, so the loop would never
    // end; these angles come out within one turn, a whole number of turns
    // from where they were.
    const float turn = 6.2831855f;
    for (float a : {std::nextafter(-134217728.0f, -INFINITY), -2.0e8f, -1.0e9f, -123456789012.0f, -3.0e38f,
                    -FLT_MAX}) {
        const float w = AngleWrap(a);
        EXPECT_GE(w, 0.0f) << a;
        EXPECT_LE(w, turn) << a;
        const long double turns = (static_cast<long double>(w) - a) / turn;
        EXPECT_NEAR(static_cast<double>(turns - std::nearbyint(turns)), 0.0, 1e-6) << a;
    }
}

TEST_F(Play, BulletMovesOneStepOnItsFirstUpdate)
{
    BulletSpawn(3, 1, 400, 300.0f, 200.0f, 0.0f, 0.0f, 2.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0);
    EXPECT_EQ(g_bullets[0].active, 1);
    EXPECT_EQ(g_bullets[0].owner, 3);
    BulletUpdate();
    EXPECT_FLOAT_EQ(g_bullets[0].x, 302.5f);
    EXPECT_FLOAT_EQ(g_bullets[0].y, 200.0f);
    BulletUpdate();
    EXPECT_FLOAT_EQ(g_bullets[0].x, 305.0f);
    EXPECT_EQ(g_bullets[0].age, 2);
}

TEST_F(Play, BulletWithNegativeAgeWaitsAtItsOrigin)
{
    BulletSpawn(0, 1, 2, 300.0f, 200.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, -3);
    for (int i = 0; i < 3; ++i) {
        BulletUpdate();
        EXPECT_EQ(g_bullets[0].x, 300.0f) << "frame " << i;
        EXPECT_EQ(g_bullets[0].r1, 0.0f);
    }
    // The lifetime counts from the end of the wait: ages 1 and 2 live, 3 ends.
    BulletUpdate();
    EXPECT_FLOAT_EQ(g_bullets[0].x, 301.0f);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].active, 1);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].active, 0);
}

TEST_F(Play, OneFrameBeamStandsForOneUpdate)
{
    BulletSpawn(0, 21, 1, 250.0f, 250.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].active, 1);
    EXPECT_EQ(g_bullets[0].x, 250.0f);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].active, 0);
}

TEST_F(Play, BulletArmsTurnWrapAndLeaveTheField)
{
    // Second arm only: a circle of radius 10 about the origin, turning back
    // through zero so that the wrap shows.
    BulletSpawn(0, 2, 400, 300.0f, 200.0f, 0.0f, 10.0f, 0.0f, 0.0f, 0.0f, -0.5f, 0.0f, 0.25f, 0.0f, -0.5f, 0);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].C, -0.25f + 6.2831855f);
    EXPECT_EQ(g_bullets[0].A, -0.5f + 6.2831855f);
    EXPECT_NEAR(g_bullets[0].x, 300.0f + 10.0f * std::cos(-0.25f), 1e-4);
    EXPECT_NEAR(g_bullets[0].y, 200.0f + 10.0f * std::sin(-0.25f), 1e-4);

    // Each edge of the field frees a bullet.
    const float edges[][3] = {{101.0f, 200.0f, 3.1415927f}, {539.0f, 200.0f, 0.0f},
                              {300.0f, 499.0f, 1.5707964f}, {300.0f, -19.0f, 4.712389f}};
    for (const auto& e : edges) {
        PlayReset();
        BulletSpawn(0, 1, 400, e[0], e[1], 0.0f, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f, e[2], 0.0f, 0.0f, 0.0f, 0);
        BulletUpdate();
        EXPECT_EQ(g_bullets[0].active, 0) << e[0] << "," << e[1];
    }
}

TEST_F(Play, BulletSpawnTakesFirstFreeSlotElseSlotZero)
{
    for (int i = 0; i < kBulletSlots; ++i) {
        BulletSpawn(0, 1, 400, 300.0f, 200.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    EXPECT_EQ(FreeBulletCount(), 0);
    g_bullets[17].active = 0;
    BulletSpawn(5, 7, 400, 300.0f, 200.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(g_bullets[17].kind, 7);
    BulletSpawn(6, 8, 400, 300.0f, 200.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(g_bullets[0].kind, 8);
    EXPECT_EQ(g_bullets[0].owner, 6);
}

TEST_F(Play, EnemySpawnUsesTemplateAndSlotRules)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 7 hp 55 speed 1.5 alpha 128 scale 2 effect 4\n"
                                    "step aim 0.25 move 0.5 attack 1 frames 10\n",
                                    &error))
        << error;
    const int slot = EnemySpawnFromTemplate(7, 200.0f, 50.0f, 0.0f, 1.0f, -1);
    EXPECT_EQ(slot, kFirstFreeEnemySlot);
    const EnemyRecord& e = g_enemies[slot];
    EXPECT_EQ(e.active, 1);
    EXPECT_EQ(e.spawnIndex, 307);
    EXPECT_EQ(e.hp, 55u);
    EXPECT_EQ(e.hpAtSpawn, 55u);
    EXPECT_EQ(e.aimAngle, 0.25f);  // exactly 0.0 passed: the template's own
    EXPECT_EQ(e.moveAngle, 1.0f);
    EXPECT_EQ(e.alpha, 128);
    EXPECT_EQ(e.speed, 1.5f);
    // The appearance effect at the enemy.
    EXPECT_EQ(g_effects[0].active, 1);
    EXPECT_EQ(g_effects[0].kind, 4);
    EXPECT_EQ(g_effects[0].x, 200.0f);

    // Slots 0 to 9 are taken only by number; a full table falls back to 10.
    EXPECT_EQ(EnemySpawnFromTemplate(7, 1, 1, 1, 1, 3), 3);
    for (int i = kFirstFreeEnemySlot; i < kEnemySlots; ++i) {
        g_enemies[i].active = 1;
    }
    EXPECT_EQ(EnemySpawnFromTemplate(7, 9.0f, 9.0f, 1, 1, -5), kFirstFreeEnemySlot);
    EXPECT_EQ(g_enemies[kFirstFreeEnemySlot].x, 9.0f);
    // An out-of-range slot is refused without touching memory outside the
    // table.
    EXPECT_EQ(EnemySpawnFromTemplate(7, 1, 1, 1, 1, kEnemySlots), kFirstFreeEnemySlot);
    EXPECT_TRUE(Contains(LastLog(), "slot 300 out of range")) << LastLog();
}

TEST_F(Play, UndefinedTemplateSpawnsNothing)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 7 hp 55 speed 1.5 effect 4\nstep attack 1\n", &error)) << error;
    const int held = EnemySpawnFromTemplate(7, 200.0f, 50.0f, 1.0f, 1.0f, 3);
    const EnemyRecord before = g_enemies[held];
    for (int32_t id : {5, 8, 199, 200, -1, 5000, INT32_MIN}) {
        g_logs.clear();
        // The slot that would have been used comes back, untouched.
        EXPECT_EQ(EnemySpawnFromTemplate(id, 300.0f, 100.0f, 1.0f, 1.0f, -1), kFirstFreeEnemySlot) << id;
        EXPECT_EQ(g_enemies[kFirstFreeEnemySlot].active, 0) << id;
        EXPECT_EQ(EnemySpawnFromTemplate(id, 300.0f, 100.0f, 1.0f, 1.0f, held), held) << id;
        EXPECT_EQ(std::memcmp(&g_enemies[held], &before, sizeof before), 0) << id;
        ASSERT_EQ(g_logs.size(), 2u) << id;
        EXPECT_TRUE(Contains(g_logs[0], "spawn template " + std::to_string(id) + " is not defined")) << g_logs[0];
    }
    EXPECT_EQ(EnemyCountActive(), 1);
    // No appearance effect either.
    EXPECT_EQ(g_effects[1].active, 0);
    // A pattern that asks for an undefined template (base id 9 releases
    // template 11) gets no enemy.
    g_logs.clear();
    g_enemies[held].x = 300.0f;
    g_enemies[held].stepClock = 30;
    SpawnRecordsClear();
    ASSERT_TRUE(SpawnTemplatesParse("template 7\nstep attack 9\n", &error)) << error;
    EnemyAttackDispatch();
    EXPECT_EQ(EnemyCountActive(), 1);
    ASSERT_EQ(g_logs.size(), 1u);
    EXPECT_TRUE(Contains(g_logs[0], "spawn template 11 is not defined")) << g_logs[0];
}

TEST_F(Play, EffectsIgnoreUnknownKindsAndFallBackToSlotZero)
{
    EffectSpawn(0, 1, 1, 0, 0);
    EffectSpawn(28, 1, 1, 0, 0);
    EXPECT_EQ(g_effects[0].active, 0);
    for (int i = 0; i < kEffectSlots; ++i) {
        EffectSpawn(12, 1, 1, 0, 0);
    }
    EffectSpawn(27, 5, 5, 0, 0);
    EXPECT_EQ(g_effects[0].kind, 27);
}

static std::vector<int> g_played;

TEST_F(Play, SoundEffectStartsAtMostOnceAFrame)
{
    g_played.clear();
    SoundEffectSetHook([](int n) { g_played.push_back(n); });
    SoundEffectPlay(10);
    SoundEffectPlay(10);
    SoundEffectPlay(11);
    SoundEffectPlay(0);
    SoundEffectPlay(27);
    EXPECT_EQ(g_played, (std::vector<int>{10, 11}));
    SoundEffectRearmAll();
    SoundEffectPlay(10);
    EXPECT_EQ(g_played.size(), 3u);
    g_session.soundOn = 0;
    SoundEffectRearmAll();
    SoundEffectPlay(12);
    EXPECT_EQ(g_played.size(), 3u);
}

TEST_F(Play, TemplateTextRefusesBadLinesNamingThem)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 1 hp 10\nstep attack 3\n", &error));
    struct Case {
        std::string_view text;
        int line;           // the bad line
        const char* says;   // part of the message
    };
    const Case cases[] = {
        {"step attack 1\n", 1, "step before any template"},
        {"template 200 hp 1\n", 1, "template id '200' is out of range"},
        {"template\n", 1, "without an id"},
        {"template 2 hp -1\n", 1, "hp '-1' is out of range"},
        {"template 2 colour 3\n", 1, "unknown key 'colour'"},
        {"template 2 hp\n", 1, "no value for 'hp'"},
        {"template 2 hp 1x\n", 1, "whole number"},
        {"template 2\nstep attack 40000\n", 2, "attack '40000' is out of range"},
        {"monster 1\n", 1, "unknown record 'monster'"},
        // Fractions where whole numbers belong are not cut down.
        {"template 2 hp 10.9\n", 1, "hp must be a whole number, not '10.9'"},
        {"template 2\n\nstep attack 1.9\n", 3, "attack must be a whole number"},
        {"template 2.5\n", 1, "template id must be a whole number"},
        {"template 2 score 1e3\n", 1, "score must be a whole number"},
        // Nor is hexadecimal read, whole or real.
        {"template 2\nstep attack 0x3d\n", 2, "attack must be a whole number, not '0x3d'"},
        {"template 0x2\n", 1, "whole number"},
        {"template 2 speed 0x1p3\n", 1, "speed must be a decimal number"},
        // Numbers an f32 cannot hold.
        {"template 2 speed 1e39\n", 1, "speed '1e39' does not fit"},
        {"template 2 scale -1e39\n", 1, "does not fit"},
        {"template 2 speed inf\n", 1, "decimal number"},
        {"template 2 speed nan\n", 1, "decimal number"},
        {"template 2 hp 4294967296\n", 1, "out of range"},
        {"template 2 alpha 256\n", 1, "out of range"},
        {"template 2 effect 28\n", 1, "out of range"},
        {"template 2 hp 99999999999999999999999\n", 1, "out of range"},
        // Angles past a hundred radians, the way to a long wrap.
        {"template 2\nstep aim -1e9 attack 122\n", 2, "aim '-1e9' is out of range"},
        {"template 2\nstep move 100.5\n", 2, "move '100.5' is out of range"},
        // A key given twice, a template defined twice.
        {"template 2 hp 5 hp 6\n", 1, "key 'hp' given twice"},
        {"template 2\nstep frames 3 attack 1 frames 4\n", 2, "key 'frames' given twice"},
        {"template 2 hp 5\nstep attack 1\n# again\ntemplate 2 hp 6\n", 4, "template 2 is defined twice (first on line 1)"},
        {"template 1 hp 11\n", 1, "template 1 is already loaded"},
        // Bad words are shown escaped: no terminal sequence, no NUL.
        {"template 2 hp 1\x1b[2J\n", 1, "hp must be a whole number, not '1\\x1b[2J'"},
        {"template 2 hp 1\0x\n"sv, 1, "hp must be a whole number, not '1\\0x'"},
        {"\x9b" "31m\n", 1, "unknown record '\\x9b" "31m'"},
    };
    for (const Case& c : cases) {
        error.clear();
        g_logs.clear();
        EXPECT_FALSE(SpawnTemplatesParse(c.text, &error)) << c.text;
        const std::string line = "line " + std::to_string(c.line) + ": ";
        EXPECT_EQ(error.rfind(line, 0), 0u) << c.text << " -> " << error;
        EXPECT_TRUE(Contains(error, c.says)) << c.text << " -> " << error;
        ASSERT_EQ(g_logs.size(), 1u) << c.text;
        EXPECT_EQ(g_logs[0], "spawn templates " + error);
    }
    std::string many = "template 3\n";
    for (int i = 0; i <= kSpawnSteps; ++i) {
        many += "step frames 1\n";
    }
    EXPECT_FALSE(SpawnTemplatesParse(many, &error));
    EXPECT_TRUE(Contains(error, "line 14: more than 12 steps")) << error;
    // Nothing of a refused text is kept.
    EXPECT_EQ(g_spawnRecords[301].hp, 10u);
    EXPECT_EQ(g_spawnRecords[301].steps[0].attackId, 3);
    EXPECT_EQ(g_spawnRecords[302].used, 0);
    EXPECT_EQ(g_spawnRecords[303].used, 0);
    // Cleared, a template may be loaded anew.
    SpawnRecordsClear();
    EXPECT_TRUE(SpawnTemplatesParse("template 1 hp 11\n", &error)) << error;
    EXPECT_EQ(g_spawnRecords[301].hp, 11u);
}

TEST_F(Play, TemplateTextLoadsEveryFieldExactly)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("# a stage\r\n"
                                    "template 0 hp 4294967295 speed -1.25 alpha 0 scale .5 effect 27 score +7\r\n"
                                    "  step aim 1.5707964 move -100 attack -32768 death 32767 frames 65535  # a comment\r\n"
                                    "\r\n"
                                    "step move 100 aim 5. attack +61 frames 0\n"
                                    "template 199\n"
                                    "template 5 speed 2.5e-1 scale 1E1\n"
                                    "step\n",
                                    &error))
        << error;
    EXPECT_TRUE(g_logs.empty());
    const SpawnRecord& t0 = g_spawnRecords[300];
    EXPECT_EQ(t0.used, 1);
    EXPECT_EQ(t0.hp, 4294967295u);
    EXPECT_EQ(t0.speed, -1.25f);
    EXPECT_EQ(t0.alpha, 0);
    EXPECT_EQ(t0.scale, 0.5f);
    EXPECT_EQ(t0.appearEffect, 27);
    EXPECT_EQ(t0.score, 7u);
    ASSERT_EQ(t0.stepCount, 2);
    EXPECT_EQ(t0.steps[0].aimAngle, 1.5707964f);
    EXPECT_EQ(t0.steps[0].moveAngle, -100.0f);
    EXPECT_EQ(t0.steps[0].attackId, -32768);
    EXPECT_EQ(t0.steps[0].deathId, 32767);
    EXPECT_EQ(t0.steps[0].frames, 65535);
    EXPECT_EQ(t0.steps[1].aimAngle, 5.0f);
    EXPECT_EQ(t0.steps[1].moveAngle, 100.0f);
    EXPECT_EQ(t0.steps[1].attackId, 61);
    // Keys left out take their defaults.
    const SpawnRecord& t199 = g_spawnRecords[499];
    EXPECT_EQ(t199.used, 1);
    EXPECT_EQ(t199.hp, 0u);
    EXPECT_EQ(t199.alpha, 255);
    EXPECT_EQ(t199.scale, 1.0f);
    EXPECT_EQ(t199.stepCount, 0);
    EXPECT_EQ(g_spawnRecords[305].speed, 0.25f);
    EXPECT_EQ(g_spawnRecords[305].scale, 10.0f);
    EXPECT_EQ(g_spawnRecords[305].stepCount, 1);
    EXPECT_EQ(g_spawnRecords[305].steps[0].attackId, 0);
}

// A file in the test's own temporary folder, removed at the end.
class TemplateFile {
public:
    explicit TemplateFile(const std::string& text)
    {
        path_ = (std::filesystem::temp_directory_path() / ("templates_" + std::to_string(getpid()) + ".txt")).string();
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    ~TemplateFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

TEST_F(Play, TemplateFileLoadsAndRefusesWhatIsNoTemplateText)
{
    std::string error;
    {
        const TemplateFile file("template 4 hp 9\nstep attack 2\n");
        ASSERT_TRUE(SpawnTemplatesLoad(file.path(), &error)) << error;
        EXPECT_EQ(g_spawnRecords[304].hp, 9u);
        EXPECT_EQ(g_spawnRecords[304].steps[0].attackId, 2);
    }
    {
        // The log line names the file and the line.
        const TemplateFile file("template 6\nstep attack 1\nstep frames 2.5\n");
        g_logs.clear();
        EXPECT_FALSE(SpawnTemplatesLoad(file.path(), &error));
        EXPECT_EQ(error, "line 3: frames must be a whole number, not '2.5'");
        ASSERT_EQ(g_logs.size(), 1u);
        EXPECT_EQ(g_logs[0], std::string(file.path()) + " " + error);
        EXPECT_EQ(g_spawnRecords[306].used, 0);
    }
    {
        // Beyond any stage's size.
        const TemplateFile file(std::string(1100000, '#'));
        EXPECT_FALSE(SpawnTemplatesLoad(file.path(), &error));
        EXPECT_TRUE(Contains(error, "larger than")) << error;
    }
    // A folder or a FIFO is refused at once: a FIFO would wait for a writer
    // for ever.
    const std::string folder = ::testing::TempDir() + "templates\x1b[2J";
    const std::string fifo = folder + "/fifo";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {folder, fifo}) {
        g_logs.clear();
        EXPECT_FALSE(SpawnTemplatesLoad(path.c_str(), &error));
        EXPECT_TRUE(Contains(error, "templates\\x1b[2J")) << error;
        EXPECT_TRUE(Contains(error, " is not a regular file")) << error;
        EXPECT_EQ(g_logs.size(), 1u);
    }
    unlink(fifo.c_str());
    rmdir(folder.c_str());
    EXPECT_FALSE(SpawnTemplatesLoad("/nonexistent/templates.txt", &error));
    EXPECT_TRUE(Contains(error, "cannot open /nonexistent/templates.txt")) << error;
    EXPECT_FALSE(SpawnTemplatesLoad(nullptr, &error));
    EXPECT_EQ(g_spawnRecords[304].hp, 9u);
}

TEST_F(Play, LongestBulletLifetimeStillEnds)
{
    // At the 16-bit top of the age, a lifetime of 32767 once wrapped the age
    // negative, so the bullet waited for ever and its slot was lost.
    BulletSpawn(0, 1, 32767, 300.0f, 200.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    BulletSpawn(0, 1, 32766, 300.0f, 200.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2);
    for (int frame = 1; frame <= 32767; ++frame) {
        BulletUpdate();
    }
    EXPECT_EQ(g_bullets[0].active, 1);
    EXPECT_EQ(g_bullets[0].age, 32767);
    // The one below waited two frames, then lived 32766 frames from age 0.
    EXPECT_EQ(g_bullets[1].active, 1);
    EXPECT_EQ(g_bullets[1].age, 32765);
    BulletUpdate();
    EXPECT_EQ(g_bullets[0].active, 0);
    EXPECT_EQ(g_bullets[1].active, 1);
    BulletUpdate();
    EXPECT_EQ(g_bullets[1].active, 0);
}

TEST_F(Play, EnemyMoveAdvancesStepsAndReadsWrittenStepIndex)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 4 hp 9 speed 1\n"
                                    "step aim 1 move 1.5707964 attack 1 frames 3\n"
                                    "step aim 2 move 0.5 attack 2 frames 0\n"
                                    "step aim 3 move 0 attack 3\n",
                                    &error));
    const int slot = EnemySpawnFromTemplate(4, 300.0f, 100.0f, 0.0f, 0.0f, -1);
    EnemyRecord& e = g_enemies[slot];
    std::vector<int> clocks;
    for (int i = 0; i < 5; ++i) {
        EnemyMove();
        clocks.push_back(e.stepClock);
    }
    // Clocks 1, 2, 3 on the first step, then 0 as the second begins.
    EXPECT_EQ(clocks, (std::vector<int>{1, 2, 3, 0, 1}));
    EXPECT_EQ(e.stepIndex, 1);
    EXPECT_EQ(e.moveAngle, 0.5f);
    EXPECT_EQ(EnemyCurrentStep(e).attackId, 2);
    // A written step index selects that step from the next update on; the
    // clock is not touched.
    e.stepIndex = 2;
    EnemyMove();
    EXPECT_EQ(EnemyCurrentStep(e).attackId, 3);
    EXPECT_EQ(e.stepClock, 2);
    // A hostile step index reads as an empty step.
    e.stepIndex = -4;
    EXPECT_EQ(EnemyCurrentStep(e).attackId, 0);
    EnemyMove();
}

TEST_F(Play, DispatchRunsOnlyInsideTheFieldAndDestroyRunsTheDeathPattern)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 1 hp 9 score 25\nstep attack 1 death 1\n", &error));
    g_player.x = 320.0f;
    g_player.y = 400.0f;
    const int inside = EnemySpawnFromTemplate(1, 121.0f, 100.0f, 1.0f, 1.0f, -1);
    const int edge = EnemySpawnFromTemplate(1, 120.0f, 100.0f, 1.0f, 1.0f, -1);
    g_enemies[inside].stepClock = 40;
    g_enemies[edge].stepClock = 40;
    EnemyAttackDispatch();
    ASSERT_EQ(BulletCountActive(), 1);
    EXPECT_EQ(g_bullets[0].owner, inside);

    // A step clock of 0 never dispatches.
    PlayReset();
    const int fresh = EnemySpawnFromTemplate(1, 300.0f, 100.0f, 1.0f, 1.0f, -1);
    EnemyAttackDispatch();
    EXPECT_EQ(BulletCountActive(), 0);

    // Death: the pattern fires with owner -1 on any clock, then the slot is
    // freed and parked, and the score counts.
    g_enemies[fresh].stepClock = 17;
    EnemyDestroy(fresh);
    ASSERT_EQ(BulletCountActive(), 1);
    EXPECT_EQ(g_bullets[0].owner, -1);
    EXPECT_EQ(g_bullets[0].x0, 300.0f);
    EXPECT_EQ(g_enemies[fresh].active, 0);
    EXPECT_EQ(g_enemies[fresh].x, kParkedX);
    EXPECT_EQ(g_enemies[fresh].y, 100.0f);
    EXPECT_EQ(g_session.score, 25u);
    EnemyDestroy(-1);
    EnemyDestroy(kEnemySlots);
}

namespace {

// A fingerprint of the play tables after a frame.
uint64_t Fingerprint()
{
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const void* data, size_t size) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            h = (h ^ p[i]) * 1099511628211ull;
        }
    };
    for (const BulletRecord& b : g_bullets) {
        mix(&b.active, 1);
        mix(&b.x, sizeof b.x);
        mix(&b.y, sizeof b.y);
        mix(&b.kind, sizeof b.kind);
    }
    for (const EnemyRecord& e : g_enemies) {
        mix(&e.active, 1);
        mix(&e.x, sizeof e.x);
        mix(&e.y, sizeof e.y);
    }
    const uint32_t state = CrtGetState();
    mix(&state, sizeof state);
    return h;
}

struct RunStats {
    std::vector<uint64_t> prints;
    int peakBullets = 0;
    int bulletsFreed = 0;
    int destroyed = 0;
};

RunStats RunPlay(uint32_t seed, int difficulty)
{
    static const char kTemplates[] = "template 0 hp 40 speed 0.9 score 100\n"
                                     "step aim 1.5707964 move 1.5707964 attack 3 death 4 frames 150\n"
                                     "step aim 1.5707964 move 4.712389 attack 7\n"
                                     "template 1 hp 60 speed 0.7 score 150\n"
                                     "step aim 1.2 move 1.5707964 attack 10 death 5 frames 200\n"
                                     "step move 0.3 attack 9\n"
                                     "template 11 hp 2 speed 2.4\nstep attack 1\n"
                                     "template 12 hp 2 speed 2\nstep attack 0\n"
                                     "template 13 hp 2 speed 1.6\nstep attack 0\n";
    std::string error;
    SpawnRecordsClear();
    if (!SpawnTemplatesParse(kTemplates, &error)) {
        ADD_FAILURE() << error;
        return {};
    }
    PlayReset();
    CrtSeed(seed);
    g_session.difficulty = static_cast<uint8_t>(difficulty);
    g_player = PlayerRecord{};
    RunStats stats;
    for (int frame = 1; frame <= 600; ++frame) {
        if (frame % 60 == 1) {
            EnemySpawnFromTemplate(RandomRange(0, 1), static_cast<float>(RandomRange(160, 480)), 20.0f, 0.0f, 0.0f,
                                   -1);
        }
        // The player drifts, so aimed patterns change their headings.
        g_player.x = 320.0f + static_cast<float>((frame % 200) - 100);
        if (frame % 97 == 0) {
            for (int s = kFirstFreeEnemySlot; s < kEnemySlots; ++s) {
                if (g_enemies[s].active != 0) {
                    EnemyDestroy(s);
                    ++stats.destroyed;
                    break;
                }
            }
        }
        const int before = BulletCountActive();
        SoundEffectRearmAll();
        EnemyMove();
        EnemyAttackDispatch();
        const int spawned = BulletCountActive();
        BulletUpdate();
        EffectUpdate();
        stats.bulletsFreed += spawned - BulletCountActive();
        stats.peakBullets = std::max(stats.peakBullets, BulletCountActive());
        (void)before;
        stats.prints.push_back(Fingerprint());
    }
    return stats;
}

}  // namespace

TEST_F(Play, RecordedRunRepeatsBitForBit)
{
    const RunStats first = RunPlay(12345, 2);
    const RunStats second = RunPlay(12345, 2);
    ASSERT_EQ(first.prints.size(), 600u);
    EXPECT_EQ(first.prints, second.prints);
    // Bullets were fired, moved off or expired, and their slots came back.
    EXPECT_GT(first.peakBullets, 20);
    EXPECT_GT(first.bulletsFreed, 100);
    EXPECT_GT(first.destroyed, 3);
    EXPECT_LT(BulletCountActive(), kBulletSlots);
    // Another seed plays differently.
    const RunStats other = RunPlay(999, 2);
    EXPECT_NE(first.prints, other.prints);
}
