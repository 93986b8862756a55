// The bullet patterns of base ids 111 to 140: rings, stars, stacks,
// streams, long-lived pairs, orbiting clusters and one-frame beams.
// Expected values are worked out here with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/trace_util.h"

namespace {

constexpr float kEnemyX = 300.0f;
constexpr float kEnemyY = 120.0f;
constexpr float kPlayerX = 380.0f;
constexpr float kPlayerY = 410.0f;
constexpr float kAimAngle = 0.7f;   // the enemy record's aim angle
constexpr float kMoveAngle = 2.1f;  // the enemy's move angle
constexpr int kSlot = 10;

TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .enemyAim = kAimAngle, .enemyMove = kMoveAngle, .playerX = kPlayerX, .playerY = kPlayerY, .slot = kSlot}, id, difficulty, clock, once);
}

std::vector<std::string> CallTrace(int id, int difficulty, int clock, int once = 0)
{
    return PatternTraceRun(Options(id, difficulty, clock, once));
}

std::vector<std::string> Shots(int id, int difficulty, int clock, int once = 0)
{
    return TraceLines(CallTrace(id, difficulty, clock, once), "bullet");
}

// The player seen from the enemy, as the patterns compute it.
float PlayerAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

// A plain shot: kind, life, speed and heading; no second arm, no turn.
void ExpectShot(const std::string& line, int kind, int life, float speed, float heading, int owner = kSlot)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "owner"), owner);
    EXPECT_EQ(TraceInt(line, "kind"), kind);
    EXPECT_EQ(TraceInt(line, "life"), life);
    EXPECT_EQ(TraceField(line, "dr1"), G9(speed));
    EXPECT_EQ(TraceField(line, "B"), G9(heading));
    EXPECT_EQ(TraceField(line, "x0"), G9(kEnemyX));
    EXPECT_EQ(TraceField(line, "y0"), G9(kEnemyY));
    EXPECT_EQ(TraceInt(line, "age"), 0);
}

// A ring k from `from` while k < `to` by `step` about `base`.
void ExpectRing(const std::vector<std::string>& shots, size_t first, int kind, int life, float speed, float base,
                int from, int to, int step, int owner = kSlot)
{
    size_t i = first;
    for (int k = from; k < to; k += step, ++i) {
        ASSERT_LT(i, shots.size());
        ExpectShot(shots[i], kind, life, speed, base + DegToRad(k), owner);
        EXPECT_EQ(TraceField(shots[i], "r2"), "0");
        EXPECT_EQ(TraceField(shots[i], "dB"), "0");
    }
}

// speed = base + 0.1 x n with double constants, rounded once: the long
// double products and sums here are exact for the small counters used.
float DoubleStepSpeed(double base, int n)
{
    const float step = static_cast<float>(static_cast<long double>(n) * static_cast<long double>(0.1));
    return static_cast<float>(static_cast<long double>(base) + static_cast<long double>(step));
}

}  // namespace

// ------------------------------------------------------------------ rings

TEST(RingStacks, RingsAboutAimOrMoveAngle)
{
    struct Case {
        int id, difficulty, clock, kind, step;
        float speed;
        bool aboutAim;
    };
    const Case cases[] = {
        {111, 0, 3, 1, 30, 2.4f, true},    {111, 1, 6, 1, 24, 2.6f, true},    {111, 2, 9, 1, 20, 2.8f, false},
        {118, 0, 10, 3, 36, 1.4f, true},   {118, 1, 20, 3, 30, 1.4f, true},   {118, 2, 30, 3, 30, 1.4f, false},
        {118, 3, 40, 3, 30, 1.4f, false},  {127, 0, 20, 3, 30, 1.8f, true},   {127, 1, 40, 3, 30, 1.8f, true},
        {127, 2, 60, 3, 30, 1.8f, true},   {127, 3, 80, 3, 30, 1.8f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        const auto shots = Shots(c.id, c.difficulty, c.clock);
        EXPECT_EQ(shots.size(), static_cast<size_t>((360 + c.step - 1) / c.step));
        ExpectRing(shots, 0, c.kind, 800, c.speed, c.aboutAim ? PlayerAim() : kMoveAngle, 0, 360, c.step);
        // One past the gate fires nothing.
        EXPECT_TRUE(TraceEmissions(CallTrace(c.id, c.difficulty, c.clock + 1)).empty());
        // The death path fires at any clock, with no owner.
        const auto death = Shots(c.id, c.difficulty, c.clock + 1, 1);
        ASSERT_EQ(death.size(), shots.size());
        EXPECT_EQ(TraceInt(death[0], "owner"), -1);
    }
}

// ------------------------------------------------------------------ stars

TEST(RingStacks, StarTurnsOnSecondMultipleOfClock)
{
    struct Case {
        int difficulty, clock, once;
        bool turned;
        float speed;
    };
    const Case cases[] = {
        {0, 60, 0, false, 2.8f},  {0, 120, 0, false, 2.8f}, {1, 30, 0, false, 2.8f}, {1, 60, 0, true, 2.8f},
        {1, 61, 1, false, 2.8f},  {1, 120, 1, true, 2.8f},  {2, 25, 0, false, 2.8f}, {2, 50, 0, true, 2.8f},
        {2, 75, 0, false, 2.8f},  {3, 100, 0, true, 3.6f},  {3, 25, 0, false, 3.6f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock);
        const auto shots = Shots(129, c.difficulty, c.clock, c.once);
        ASSERT_EQ(shots.size(), 5u);
        const float base = c.turned ? PlayerAim() + DegToRad(36) : PlayerAim();
        ExpectRing(shots, 0, 7, 400, c.speed, base, 0, 360, 72, c.once ? -1 : kSlot);
    }
    EXPECT_TRUE(Shots(129, 0, 30).empty());
    EXPECT_TRUE(Shots(129, 1, 45).empty());
}

TEST(RingStacks, LeadBulletThenStarOfAnotherKind)
{
    struct Case {
        int difficulty, clock;
        bool turned;
    };
    for (const Case c : {Case{1, 50, false}, Case{1, 100, false}, Case{1, 150, true}, Case{2, 150, true}}) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock);
        const auto shots = Shots(136, c.difficulty, c.clock);
        ASSERT_EQ(shots.size(), 6u);
        const float a = c.turned ? PlayerAim() + DegToRad(20) : PlayerAim();
        ExpectShot(shots[0], 1, 400, 1.2f, a + DegToRad(0));
        ExpectRing(shots, 1, 2, 400, 1.2f, a, 60, 360, 60);
    }
    {
        const auto shots = Shots(136, 3, 120);
        ASSERT_EQ(shots.size(), 9u);
        const float a = PlayerAim() + DegToRad(20);
        ExpectShot(shots[0], 3, 400, 1.2f, a);
        ExpectRing(shots, 1, 2, 400, 1.2f, a, 40, 360, 40);
    }
    EXPECT_EQ(Shots(136, 3, 80).size(), 9u);
    EXPECT_TRUE(Shots(136, 1, 40).empty());
    EXPECT_TRUE(Shots(136, 3, 50).empty());
}

// ------------------------------------------------------------------ stacks and streams

TEST(RingStacks, StacksRiseInSpeedOnMoveAngle)
{
    struct Bullet {
        int kind;
        float speed;
    };
    const std::vector<Bullet> band0 = {{1, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    const std::vector<Bullet> band1 = {{1, 3.8f}, {1, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    const std::vector<Bullet> band2 = {{1, 3.6f}, {1, 3.8f}, {3, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    struct Case {
        int difficulty, period;
        const std::vector<Bullet>* bullets;
    };
    for (const Case c : {Case{0, 6, &band0}, Case{1, 4, &band1}, Case{2, 3, &band2}}) {
        SCOPED_TRACE(c.difficulty);
        const auto shots = Shots(116, c.difficulty, 2 * c.period);
        ASSERT_EQ(shots.size(), c.bullets->size());
        for (size_t i = 0; i < shots.size(); ++i) {
            ExpectShot(shots[i], (*c.bullets)[i].kind, 400, (*c.bullets)[i].speed, kMoveAngle);
        }
        EXPECT_TRUE(Shots(116, c.difficulty, 2 * c.period + 1).empty());
    }
}

TEST(RingStacks, VerticalStreamsSpeedUpAlongColumn)
{
    // Band 0: speeds 2.8 and 2.9 down, then the same up.
    const auto band0 = Shots(140, 0, 30);
    ASSERT_EQ(band0.size(), 4u);
    EXPECT_EQ(TraceField(band0[1], "dr1"), G9(2.9f));
    EXPECT_EQ(TraceField(band0[3], "dr1"), G9(2.9f));

    struct Column {
        int count;
        double base;
        int degrees;
    };
    struct Case {
        int difficulty, clock;
        std::vector<Column> columns;
    };
    const Case cases[] = {
        {0, 30, {{2, 2.8, 90}, {2, 2.8, 270}}},
        {1, 20, {{3, 2.8, 90}, {3, 2.8, 270}}},
        {2, 15, {{5, 2.8, 90}, {5, 2.8, 270}}},
        {3, 10, {{6, 3.4, 90}, {4, 2.8, 270}, {4, 2.8, 110}, {4, 2.8, 70}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.difficulty);
        const auto shots = Shots(140, c.difficulty, c.clock);
        size_t i = 0;
        for (const Column& column : c.columns) {
            const float heading = DegToRad(column.degrees);
            for (int n = 0; n < column.count; ++n, ++i) {
                ASSERT_LT(i, shots.size());
                ExpectShot(shots[i], 11, 400, DoubleStepSpeed(column.base, n), heading);
                EXPECT_EQ(TraceField(shots[i], "A"), G9(heading)) << shots[i];
            }
        }
        EXPECT_EQ(i, shots.size());
        EXPECT_TRUE(Shots(140, c.difficulty, c.clock + 1).empty());
    }
}

// ------------------------------------------------------------------ strict gates: pairs, growing stars, clusters

TEST(RingStacks, LongLivedPairSquareToMoveAngle)
{
    const float h = kMoveAngle + 1.5707964f;
    struct Case {
        int difficulty, kind;
        float speed;
    };
    for (const Case c : {Case{0, 1, 1.5f}, Case{1, 1, 1.5f}, Case{2, 3, 1.8f}, Case{3, 3, 1.8f}}) {
        SCOPED_TRACE(c.difficulty);
        for (int once = 0; once < 2; ++once) {
            const auto shots = Shots(131, c.difficulty, 30, once);
            ASSERT_EQ(shots.size(), 2u);
            const int owner = once ? -1 : kSlot;
            ExpectShot(shots[0], c.kind, 10000, c.speed, h, owner);
            ExpectShot(shots[1], c.kind, 10000, c.speed, h + 3.1415927f, owner);
        }
        // Strict: a death off the multiple fires nothing.
        EXPECT_TRUE(TraceEmissions(CallTrace(131, c.difficulty, 31, 1)).empty());
        EXPECT_EQ(TraceEmissions(CallTrace(131, c.difficulty, 0, 1)).size(), 2u);
    }
}

TEST(RingStacks, StarsGrowSecondArmAlongMoveAngle)
{
    struct Case {
        int difficulty;
        float speed;
        int spread;
    };
    for (const Case c : {Case{2, 1.2f, 4}, Case{3, 1.5f, 6}}) {
        SCOPED_TRACE(c.difficulty);
        const auto shots = Shots(135, c.difficulty, 200);
        ASSERT_EQ(shots.size(), 15u);
        const int starts[] = {c.spread, 0, -c.spread};
        const int kinds[] = {4, 6, 4};
        size_t i = 0;
        for (int star = 0; star < 3; ++star) {
            for (int k = starts[star]; k < starts[star] + 360; k += 72, ++i) {
                const std::string& line = shots[i];
                ExpectShot(line, kinds[star], 1000, c.speed, kMoveAngle);
                EXPECT_EQ(TraceField(line, "dr2"), "1") << line;
                EXPECT_EQ(TraceField(line, "r2"), "0") << line;
                EXPECT_EQ(TraceField(line, "C"), G9(kMoveAngle + DegToRad(k))) << line;
            }
        }
        EXPECT_TRUE(TraceEmissions(CallTrace(135, c.difficulty, 150, 1)).empty());
        EXPECT_EQ(Shots(135, c.difficulty, 300, 1).size(), 15u);
    }
}

TEST(RingStacks, ClusterAlternatesSideOfAim)
{
    for (int d = 0; d < 3; ++d) {
        for (const int clock : {5, 10, 35, 40}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock);
            TraceOptions o = Options(130, d, clock);
            o.seed = 1234u + static_cast<uint32_t>(clock);
            const auto lines = TraceEmissions(PatternTraceRun(o));
            ASSERT_EQ(lines.size(), 7u);
            int lo = 0, hi = 0, r = 0;
            ASSERT_EQ(std::sscanf(lines[0].c_str(), "rnd %d %d -> %d", &lo, &hi, &r), 3) << lines[0];
            EXPECT_EQ(lo, 10);
            EXPECT_EQ(hi, 60);
            const bool after = clock % 10 == 0;
            const float a = after ? PlayerAim() + DegToRad(r) : PlayerAim() - DegToRad(r);
            const float turn = after ? -0.006f : 0.006f;
            for (int k = 0; k < 5; ++k) {
                const std::string& line = lines[1 + k];
                ASSERT_EQ(line.compare(0, 7, "bullet "), 0) << line;
                ExpectShot(line, 8, 800, 4.4f, a);
                EXPECT_EQ(TraceField(line, "dB"), G9(turn)) << line;
                EXPECT_EQ(TraceField(line, "r2"), "16") << line;
                EXPECT_EQ(TraceField(line, "C"), G9(DegToRad(72 * k))) << line;
                EXPECT_EQ(TraceField(line, "dC"), G9(0.02f)) << line;
            }
            ExpectShot(lines[6], 10, 800, 4.4f, a);
            EXPECT_EQ(TraceField(lines[6], "dB"), G9(turn));
            EXPECT_EQ(TraceField(lines[6], "r2"), "0");
            EXPECT_EQ(TraceField(lines[6], "dC"), "0");
        }
        // Strict, and nothing drawn when the gate fails.
        EXPECT_TRUE(TraceEmissions(CallTrace(130, d, 7, 1)).empty());
        EXPECT_TRUE(TraceEmissions(CallTrace(130, d, 12)).empty());
    }
}

// ------------------------------------------------------------------ one-frame beams

TEST(RingStacks, CrossOfOneFrameBulletsFollowsAimAngle)
{
    struct Case {
        int difficulty, from, to, step;
    };
    const Case cases[] = {{0, 58, 98, 8}, {1, 58, 98, 8}, {2, 62, 122, 12}, {3, 66, 146, 16}};
    for (const Case& c : cases) {
        for (const float aim : {kAimAngle, 2.5f}) {
            SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " aim " << aim);
            TraceOptions o = Options(122, c.difficulty, 7);
            o.enemyAim = aim;
            const auto shots = TraceLines(PatternTraceRun(o), "bullet");
            ASSERT_EQ(shots.size(), 20u);
            size_t i = 0;
            // Arms outside, distances inside.
            for (int k = 0; k < 360; k += 90) {
                for (int r = c.from; r < c.to; r += c.step, ++i) {
                    ExpectShot(shots[i], 4, 1, 0.0f, aim);
                    EXPECT_EQ(TraceField(shots[i], "r2"), G9(static_cast<float>(r))) << shots[i];
                    EXPECT_EQ(TraceField(shots[i], "C"), G9(aim + DegToRad(k))) << shots[i];
                }
            }
        }
    }
    // Laid on every call, wherever the enemy stands.
    TraceOptions outside = Options(122, 0, 3);
    outside.enemyX = 60.0f;
    outside.enemyY = -30.0f;
    EXPECT_EQ(TraceLines(PatternTraceRun(outside), "bullet").size(), 20u);
}

namespace {

struct BeamPoint {
    float x, y, c, s;
};

// M(260) along the aim angle, the distance a double constant.
BeamPoint BeamCentre(float aim)
{
    const float c = static_cast<float>(std::cos(static_cast<double>(aim)));
    const float s = static_cast<float>(std::sin(static_cast<double>(aim)));
    const float dx = static_cast<float>(260.0 * static_cast<double>(c));
    const float dy = static_cast<float>(260.0 * static_cast<double>(s));
    return {kEnemyX + dx, kEnemyY + dy, c, s};
}

}  // namespace

TEST(RingStacks, BeamStartsAtThresholdWithOneSound)
{
    const BeamPoint m = BeamCentre(kAimAngle);
    struct Case {
        int difficulty, threshold;
    };
    for (const Case c : {Case{0, 100}, Case{1, 100}, Case{2, 60}, Case{3, 60}}) {
        SCOPED_TRACE(c.difficulty);
        {
            const auto lines = TraceEmissions(CallTrace(137, c.difficulty, c.threshold - 1));
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], "enemy template=63 x=" + G9(m.x) + " y=" + G9(m.y) + " aim=" + G9(kAimAngle) +
                                    " move=" + G9(kAimAngle) + " slot=-1 -> 11");
        }
        for (int clock = c.threshold; clock <= c.threshold + 1; ++clock) {
            const auto lines = TraceEmissions(CallTrace(137, c.difficulty, clock));
            const bool first = clock == c.threshold;
            ASSERT_EQ(lines.size(), first ? 62u : 61u);
            EXPECT_EQ(TraceInt(lines[0], "template"), clock % 2 == 0 ? 64 : 65) << lines[0];
            EXPECT_EQ(TraceField(lines[0], "x"), G9(m.x));
            EXPECT_EQ(TraceField(lines[0], "y"), G9(m.y));
            for (int n = -30; n < 30; ++n) {
                const std::string& line = lines[static_cast<size_t>(n + 31)];
                SCOPED_TRACE(line);
                const float along = static_cast<float>(n * 8);
                EXPECT_EQ(TraceField(line, "x0"), G9(m.x + along * m.c));
                EXPECT_EQ(TraceField(line, "y0"), G9(m.y + along * m.s));
                EXPECT_EQ(TraceInt(line, "kind"), 21);
                EXPECT_EQ(TraceInt(line, "life"), 1);
                EXPECT_EQ(TraceField(line, "dr1"), "0");
                EXPECT_EQ(TraceField(line, "B"), "0");
            }
            if (first) {
                EXPECT_EQ(lines.back(), "sound 14");
            }
        }
    }
    // The death path runs the same body, bullets without an owner.
    const auto death = TraceLines(CallTrace(137, 0, 100, 1), "bullet");
    ASSERT_EQ(death.size(), 60u);
    EXPECT_EQ(TraceInt(death[0], "owner"), -1);
}

TEST(RingStacks, BeamChildFallsBackToSlotTenWhenTableIsFull)
{
    TraceOptions o = Options(137, 0, 150);
    o.slot = 4;
    for (int s = 10; s < kEnemySlots; ++s) {
        o.others.push_back({s, 200.0f, 200.0f, 0.0f});
    }
    const auto children = TraceLines(PatternTraceRun(o), "enemy");
    ASSERT_EQ(children.size(), 1u);
    EXPECT_NE(children[0].find("template=64"), std::string::npos) << children[0];
    EXPECT_NE(children[0].find("slot=-1 -> 10"), std::string::npos) << children[0];
}

// ------------------------------------------------------------------ checklist

TEST(RingStacks, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    struct Base {
        int id;
        bool live[4];
    };
    const Base bases[] = {
        {111, {true, true, true, false}},  {115, {false, false, false, false}}, {116, {true, true, true, false}},
        {118, {true, true, true, true}},   {122, {true, true, true, true}},     {127, {true, true, true, true}},
        {129, {true, true, true, true}},   {130, {true, true, true, false}},    {131, {true, true, true, true}},
        {135, {false, false, true, true}}, {136, {false, true, true, true}},    {137, {true, true, true, true}},
        {138, {false, false, false, false}}, {140, {true, true, true, true}},
    };
    for (const Base& b : bases) {
        for (int d = 0; d < 4; ++d) {
            SCOPED_TRACE(testing::Message() << "base " << b.id << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(b.id + 1000 * d), b.live[d]);
            bool fired = false;
            for (int clock = 0; clock <= 200 && !(fired && b.live[d]); ++clock) {
                for (int once = 0; once < 2; ++once) {
                    fired = fired || !TraceEmissions(CallTrace(b.id, d, clock, once)).empty();
                }
            }
            EXPECT_EQ(fired, b.live[d]);
        }
    }
}
