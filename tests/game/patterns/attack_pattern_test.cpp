#include <gtest/gtest.h>

#include <cmath>

#include "game/patterns/attack_pattern.h"
#include "game/patterns/pattern_kit.h"
#include "tests/game/patterns/trace_util.h"

namespace {

size_t Bullets(const std::vector<std::string>& lines)
{
    return TraceLines(lines, "bullet").size();
}

}  // namespace

TEST(AttackPatternRun, IdZeroFiresNothingInEveryBand)
{
    for (int d = 0; d < 4; ++d) {
        for (int once = 0; once < 2; ++once) {
            const auto lines = TraceCall(0, d, 40, once);
            EXPECT_EQ(lines.size(), 1u) << "difficulty " << d;  // only the running enemy's state line
        }
    }
}

TEST(AttackPatternRun, BandsAddAThousandPerDifficulty)
{
    // Base id 1 fires 1, 3, 5 and 7 bullets at difficulties 0 to 3.
    EXPECT_EQ(Bullets(TraceCall(1, 0, 0, 1)), 1u);
    EXPECT_EQ(Bullets(TraceCall(1, 1, 0, 1)), 3u);
    EXPECT_EQ(Bullets(TraceCall(1, 2, 0, 1)), 5u);
    EXPECT_EQ(Bullets(TraceCall(1, 3, 0, 1)), 7u);
    // Difficulty 4 or more runs band 0.
    EXPECT_EQ(Bullets(TraceCall(1, 4, 0, 1)), 1u);
    EXPECT_EQ(Bullets(TraceCall(1, 255, 0, 1)), 1u);
    // The table is indexed by the sum alone: 1001 at difficulty 0 is band 1's
    // base id 1, at difficulty 1 it is entry 2001.
    EXPECT_EQ(Bullets(TraceCall(1001, 0, 0, 1)), 3u);
    EXPECT_EQ(Bullets(TraceCall(1001, 1, 0, 1)), 5u);
}

TEST(AttackPatternRun, IdsOutsideTheTableFireNothing)
{
    for (int id : {232, 500, 1000, 2232, 3000}) {
        EXPECT_EQ(Bullets(TraceCall(id, 0, 0, 1)), 0u) << id;
    }
    // 2500 at difficulty 1 is 3500, past the table.
    EXPECT_EQ(Bullets(TraceCall(2500, 1, 0, 1)), 0u);
    // Ids that read as negative in 16 bits, before or after banding.
    EXPECT_EQ(Bullets(TraceCall(-5, 0, 0, 1)), 0u);
    EXPECT_EQ(Bullets(TraceCall(40000, 0, 0, 1)), 0u);
    EXPECT_EQ(Bullets(TraceCall(32001, 3, 0, 1)), 0u);
    // Base id 11 is dead at difficulty 3 only.
    EXPECT_TRUE(TraceLines(TraceCall(11, 3, 0, 1), "enemy").empty());
    EXPECT_EQ(TraceLines(TraceCall(11, 2, 0, 1), "enemy").size(), 2u);
}

TEST(AttackPatternRun, TableEndsAtBandedId3231)
{
    // 231 at difficulty 3 is the last entry: a ring of four at clock 20.
    EXPECT_EQ(Bullets(TraceCall(231, 3, 20, 0)), 4u);
    EXPECT_EQ(Bullets(TraceCall(3231, 0, 20, 0)), 4u);
    // One past it names no pattern, whichever way the sum is reached; a
    // range test that let it through would read past the table (which the
    // sanitizer build reports).
    EXPECT_EQ(Bullets(TraceCall(232, 3, 20, 0)), 0u);
    EXPECT_EQ(Bullets(TraceCall(1232, 2, 20, 0)), 0u);
    EXPECT_EQ(Bullets(TraceCall(3232, 0, 20, 0)), 0u);
    EXPECT_EQ(Bullets(TraceCall(3233, 0, 20, 0)), 0u);
    EXPECT_EQ(Bullets(TraceCall(32767, 0, 20, 0)), 0u);
}

TEST(AttackPatternRun, PlayerNotPlayingStopsBothPaths)
{
    TraceOptions o;
    o.id = 1;
    o.clock = 40;
    o.playerState = 2;
    EXPECT_EQ(Bullets(PatternTraceRun(o)), 0u);
    o.once = 1;
    EXPECT_EQ(Bullets(PatternTraceRun(o)), 0u);
    o.playerState = 1;
    EXPECT_EQ(Bullets(PatternTraceRun(o)), 1u);
}

TEST(AttackPatternRun, EveryGatePassesOnDeathWithOwnerMinusOne)
{
    // Every 40: clock 39 fires only on the death path.
    EXPECT_EQ(Bullets(TraceCall(1, 0, 39, 0)), 0u);
    const auto death = TraceLines(TraceCall(1, 0, 39, 1), "bullet");
    ASSERT_EQ(death.size(), 1u);
    EXPECT_EQ(TraceInt(death[0], "owner"), -1);
    const auto alive = TraceLines(TraceCall(1, 0, 80, 0), "bullet");
    ASSERT_EQ(alive.size(), 1u);
    EXPECT_EQ(TraceInt(alive[0], "owner"), 10);
    // The clock is read as signed 16 bits: 65496 is -40, a multiple of 40.
    EXPECT_EQ(Bullets(TraceCall(1, 0, 65496, 0)), 1u);
    EXPECT_EQ(Bullets(TraceCall(1, 0, 65495, 0)), 0u);
}

TEST(AttackPatternRun, ComputedZeroChildAngleTakesTheTemplates)
{
    // The player level with the enemy and to its right: the aim is exactly
    // 0.0, so the child of base id 9 takes its template's angles.
    TraceOptions o;
    o.id = 9;
    o.clock = 30;
    o.enemyX = 300.0f;
    o.enemyY = 200.0f;
    o.playerX = 400.0f;
    o.playerY = 200.0f;
    const auto lines = PatternTraceRun(o);
    const auto enemy = TraceLines(lines, "enemy");
    ASSERT_EQ(enemy.size(), 1u);
    EXPECT_EQ(TraceField(enemy[0], "aim"), "0");
    const auto states = TraceLines(lines, "state");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(TraceInt(states[1], "slot"), 11);
    EXPECT_EQ(TraceInt(states[1], "hp"), 1011);
    EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
    EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
}

TEST(AttackPatternRun, LiveTableOfTheFirstTwelveBaseIds)
{
    int live = 0;
    for (int band = 0; band < 4; ++band) {
        for (int base = 1; base <= 12; ++base) {
            live += AttackPatternIsLive(base + 1000 * band);
        }
    }
    EXPECT_EQ(live, 47);
    EXPECT_FALSE(AttackPatternIsLive(3011));
    EXPECT_FALSE(AttackPatternIsLive(0));
    EXPECT_FALSE(AttackPatternIsLive(232));
    EXPECT_FALSE(AttackPatternIsLive(3232));
    // Base ids dead in every band.
    for (int base : {66, 70, 100, 115, 138, 188}) {
        for (int band = 0; band < 4; ++band) {
            EXPECT_FALSE(AttackPatternIsLive(base + 1000 * band)) << base + 1000 * band;
        }
    }
}

TEST(AttackPatternRun, BadSlotIsRefused)
{
    AttackPatternRun(-1, 1, 1);
    AttackPatternRun(kEnemySlots, 1, 1);
    SUCCEED();  // no out-of-bounds access: the sanitizer build checks it
}

// Single-precision arithmetic on double constants rounds the exact result once.
TEST(PatternKit, F32ArithmeticRoundsTheExactResultOnce)
{
    // 1 + 2^-24 lies halfway between two floats: ties to even gives 1.
    EXPECT_EQ(F32Add(1.0, std::ldexp(1.0, -24)), 1.0f);
    // A little above halfway must round up, although adding in double first
    // would lose the little and round down.
    const double halfway = 1.0 + std::ldexp(1.0, -24);
    EXPECT_EQ(F32Add(halfway, std::ldexp(1.0, -60)), 1.0f + std::ldexp(1.0f, -23));
    EXPECT_EQ(F32Add(halfway, -std::ldexp(1.0, -60)), 1.0f);
    // Products: 3 x 0.1 as a double product rounded once to f32.
    EXPECT_EQ(F32Mul(3.0, 0.1), static_cast<float>(3.0L * static_cast<long double>(0.1)));
    for (int j = 0; j < 64; ++j) {
        const long double exact = static_cast<long double>(j) * static_cast<long double>(0.15);
        EXPECT_EQ(F32Mul(static_cast<float>(j), 0.15), static_cast<float>(exact)) << j;
        const float t = F32Mul(static_cast<float>(j), 0.15);
        EXPECT_EQ(F32Sub(4.4, t), static_cast<float>(4.4L - static_cast<long double>(t))) << j;
    }
}

namespace {

struct Range {
    int from, to;
};

// The live base ids of each band.
const std::vector<Range> kLiveBands[4] = {
    {{1, 28}, {30, 65}, {67, 69}, {101, 114}, {116, 134}, {137, 137}, {139, 187}, {189, 231}},
    {{1, 65}, {67, 69}, {101, 114}, {116, 134}, {136, 137}, {139, 187}, {190, 194}, {196, 214}, {217, 218},
     {220, 225}, {228, 231}},
    {{1, 65}, {67, 69}, {101, 114}, {116, 137}, {139, 187}, {189, 194}, {196, 214}, {217, 218}, {220, 225},
     {228, 231}},
    {{1, 10}, {12, 12}, {15, 16}, {18, 23}, {26, 58}, {61, 65}, {67, 69}, {101, 103}, {105, 106}, {118, 129},
     {131, 131}, {134, 137}, {139, 146}, {148, 148}, {150, 169}, {171, 187}, {190, 194}, {196, 200}, {203, 214},
     {217, 218}, {220, 225}, {228, 231}},
};

bool InBandTable(int band, int base)
{
    for (const Range& r : kLiveBands[band]) {
        if (base >= r.from && base <= r.to) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(AttackPatternTable, LiveIdsFollowTheBandTable)
{
    int listed = 0;
    for (int band = 0; band < 4; ++band) {
        for (int base = 1; base <= 231; ++base) {
            listed += InBandTable(band, base);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * band), InBandTable(band, base)) << base + 1000 * band;
        }
    }
    EXPECT_EQ(listed, 733);
    int live = 0;
    for (int id = 0; id < kPatternTableSize + 10; ++id) {
        live += AttackPatternIsLive(id);
    }
    EXPECT_EQ(live, 733);
}
