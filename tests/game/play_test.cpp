#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "game/crt_random.h"
#include "game/play.h"

namespace {

// A fresh play state with one test template, so each test starts alike.
class Play : public ::testing::Test {
protected:
    void SetUp() override
    {
        PlayReset();
        SpawnRecordsClear();
        CrtSeed(1);
        g_player = PlayerRecord{};
        g_session = SessionRecord{};
        PlaySetTrace(nullptr);
        SoundEffectSetHook(nullptr);
    }
    void TearDown() override
    {
        PlaySetTrace(nullptr);
        SoundEffectSetHook(nullptr);
    }
};

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

TEST_F(Play, RandomRangeDrawsTwiceAndMultiplies)
{
    CrtSeed(7);
    const int r1 = CrtRand();
    const int r2 = CrtRand();
    CrtSeed(7);
    EXPECT_EQ(RandomRange(-10, 10), -10 + (r1 * r2) % 21);
    EXPECT_EQ(CrtGetState(), [] {
        CrtSeed(7);
        CrtRand();
        CrtRand();
        return CrtGetState();
    }());
    // An empty range yields lo instead of dividing by zero, and still draws.
    CrtSeed(7);
    EXPECT_EQ(RandomRange(5, 4), 5);
    const uint32_t after = CrtGetState();
    CrtSeed(7);
    CrtRand();
    CrtRand();
    EXPECT_EQ(after, CrtGetState());
}

TEST_F(Play, DegToRadRoundsEachProduct)
{
    const float turns = 90.0f * 0.0027777778f;
    EXPECT_EQ(DegToRad(90), turns * 6.2831855f);
    EXPECT_EQ(DegToRad(0), 0.0f);
    EXPECT_EQ(DegToRad(-20), -DegToRad(20));
    EXPECT_EQ(AngleWrap(-0.5f), -0.5f + 6.2831855f);
    EXPECT_EQ(AngleWrap(-13.0f), (-13.0f + 6.2831855f) + 6.2831855f + 6.2831855f);
    EXPECT_EQ(AngleWrap(1.0f), 1.0f);
    EXPECT_TRUE(std::isnan(AngleWrap(NAN)));
    EXPECT_EQ(AngleWrap(-INFINITY), -INFINITY);
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
    // Out-of-range slots and templates are refused without touching memory
    // outside the tables.
    EXPECT_EQ(EnemySpawnFromTemplate(7, 1, 1, 1, 1, kEnemySlots), kFirstFreeEnemySlot);
    const int odd = EnemySpawnFromTemplate(5000, 1, 1, 1, 1, 20);
    EXPECT_EQ(odd, 20);
    EXPECT_EQ(g_enemies[20].hp, 0u);
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

TEST_F(Play, TemplateTextErrorsLeaveRecordsUnchanged)
{
    std::string error;
    ASSERT_TRUE(SpawnTemplatesParse("template 1 hp 10\nstep attack 3\n", &error));
    const char* bad[] = {
        "step attack 1\n",                          // step before a template
        "template 200 hp 1\n",                      // id out of range
        "template 2 hp -1\n",                       // negative hp
        "template 2 colour 3\n",                    // unknown key
        "template 2 hp\n",                          // no value
        "template 2 hp 1x\n",                       // bad number
        "template 2\nstep attack 40000\n",          // id out of 16 bits
        "monster 1\n",                              // unknown record
    };
    for (const char* text : bad) {
        error.clear();
        EXPECT_FALSE(SpawnTemplatesParse(text, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
    std::string many = "template 3\n";
    for (int i = 0; i <= kSpawnSteps; ++i) {
        many += "step frames 1\n";
    }
    EXPECT_FALSE(SpawnTemplatesParse(many, &error));
    EXPECT_EQ(g_spawnRecords[301].hp, 10u);
    EXPECT_EQ(g_spawnRecords[301].steps[0].attackId, 3);
    EXPECT_EQ(g_spawnRecords[303].used, 0);
    EXPECT_FALSE(SpawnTemplatesLoad("/nonexistent/templates.txt", &error));
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
