// Child releases, formations, backward child fans and curved streams
// (base ids 13 to 17, 21, 22, 24, 26, 27, 30 and 33), checked through the
// pattern trace with every expected value worked out here at f32.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "tests/game/patterns/trace_util.h"

namespace {

// The enemy, its aim angle and the player stand apart so that the aim at the
// player, the aim angle and the move angle all differ.
constexpr float kEnemyX = 300.0f;
constexpr float kEnemyY = 120.0f;
constexpr float kEnemyAim = 0.7f;
constexpr float kEnemyMove = 0.3f;
constexpr float kPlayerX = 350.0f;
constexpr float kPlayerY = 420.0f;

TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .enemyAim = kEnemyAim, .enemyMove = kEnemyMove, .playerX = kPlayerX, .playerY = kPlayerY}, id, difficulty, clock, once);
}

std::vector<std::string> Trace(int id, int difficulty, int clock, int once = 0)
{
    return PatternTraceRun(Options(id, difficulty, clock, once));
}

float ExpectedAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

void ExpectShot(const std::string& line, int kind, float speed, float heading, int age = 0, int life = 400)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "kind"), kind);
    EXPECT_EQ(TraceField(line, "dr1"), G9(speed));
    EXPECT_EQ(TraceField(line, "B"), G9(heading));
    EXPECT_EQ(TraceInt(line, "age"), age);
    EXPECT_EQ(TraceInt(line, "life"), life);
    EXPECT_EQ(TraceField(line, "x0"), G9(kEnemyX));
    EXPECT_EQ(TraceField(line, "y0"), G9(kEnemyY));
}

// Others in every enemy slot from 11 on, so that a child falls back to slot
// 10, where the running enemy stands.
TraceOptions FullTable(TraceOptions o)
{
    for (int s = 11; s < 300; ++s) {
        o.others.push_back({s, 200.0f, 50.0f, 0.0f});
    }
    return o;
}

}  // namespace

// ------------------------------------------------------------------ single child releases

TEST(ChildReleases, FiveChildrenEveryCallTheFirstWithTheTemplateAngles)
{
    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(d);
        const auto lines = Trace(13, d, 7);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 5u);
        EXPECT_TRUE(TraceLines(lines, "bullet").empty());
        for (int i = 0; i < 5; ++i) {
            ExpectTraceChild(children[i], 14, kEnemyX, kEnemyY, TraceRad(72 * i), TraceRad(72 * i));
            EXPECT_EQ(TraceUsedSlot(children[i]), 11 + i);
        }
        // The k = 0 child passed 0.0 and so took the template's first step.
        const auto states = TraceLines(lines, "state");
        ASSERT_GE(states.size(), 2u);
        EXPECT_EQ(TraceInt(states[1], "slot"), 11);
        EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
        EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
    }
}

TEST(ChildReleases, PlainReleasesKeepTheirPeriodPerBand)
{
    struct Row {
        int id;
        int difficulty;
        int period;
        int templateId;
    };
    const Row rows[] = {{15, 0, 40, 15}, {15, 1, 25, 15}, {15, 2, 20, 15}, {15, 3, 15, 15},
                        {17, 0, 40, 16}, {17, 1, 25, 16}, {17, 2, 20, 16}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id + 1000 * r.difficulty);
        const auto fired = TraceLines(Trace(r.id, r.difficulty, 2 * r.period), "enemy");
        ASSERT_EQ(fired.size(), 1u);
        ExpectTraceChild(fired[0], r.templateId, kEnemyX, kEnemyY, 0.0f, 0.0f);
        EXPECT_TRUE(TraceLines(Trace(r.id, r.difficulty, 2 * r.period - 1), "enemy").empty());
        EXPECT_TRUE(TraceLines(Trace(r.id, r.difficulty, r.period + 1), "enemy").empty());
        // Every P passes on the death path whatever the clock.
        EXPECT_EQ(TraceLines(Trace(r.id, r.difficulty, r.period + 1, 1), "enemy").size(), 1u);
    }
}

TEST(ChildReleases, BaseIds21And26ReleaseOnEveryCallInEveryBand)
{
    for (int d = 0; d < 4; ++d) {
        for (int clock : {1, 2, 37}) {
            const auto with21 = TraceLines(Trace(21, d, clock), "enemy");
            ASSERT_EQ(with21.size(), 1u);
            ExpectTraceChild(with21[0], 55, kEnemyX, kEnemyY, 0.0f, 0.0f);
            const auto with26 = TraceLines(Trace(26, d, clock), "enemy");
            ASSERT_EQ(with26.size(), 1u);
            ExpectTraceChild(with26[0], 60, kEnemyX, kEnemyY, 0.0f, 0.0f);
        }
    }
}

TEST(ChildReleases, BaseId30ReleasesAlongTheAimAngleEveryThirdFrame)
{
    const auto fired = TraceLines(Trace(30, 0, 9), "enemy");
    ASSERT_EQ(fired.size(), 1u);
    ExpectTraceChild(fired[0], 62, kEnemyX, kEnemyY, kEnemyAim, kEnemyAim);
    EXPECT_EQ(TraceEmissionCount(Trace(30, 0, 10)), 0u);
    EXPECT_EQ(TraceLines(Trace(30, 0, 10, 1), "enemy").size(), 1u);
}

// ------------------------------------------------------------------ children with rings or rows of shots

TEST(ChildReleases, ChildOnTheFirstGateRingOnlyOnTheStrictSecond)
{
    struct Row {
        int difficulty;
        int childPeriod;
        int ringPeriod;
        int step;
        int kind;
        float speed;
        int age;
    };
    const Row rows[] = {{0, 40, 120, 60, 1, 2.0f, -2},
                        {1, 25, 90, 40, 1, 2.0f, -2},
                        {2, 10, 100, 30, 1, 2.0f, -4},
                        {3, 8, 64, 20, 3, 2.6f, -4}};
    const float aim = ExpectedAim();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        const int both = r.childPeriod * r.ringPeriod;
        const auto lines = Trace(16, r.difficulty, both);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 1u);
        ExpectTraceChild(children[0], 19, kEnemyX, kEnemyY, kEnemyAim, kEnemyAim);
        // The child comes before the ring.
        EXPECT_EQ(lines[0].rfind("enemy ", 0), 0u);
        const auto shots = TraceLines(lines, "bullet");
        ASSERT_EQ(shots.size(), static_cast<size_t>(360 / r.step));
        for (size_t i = 0; i < shots.size(); ++i) {
            ExpectShot(shots[i], r.kind, r.speed, TraceRad(static_cast<int>(i) * r.step) + aim, r.age, 500);
        }
        // A multiple of the child period only: the child, no ring.
        const auto childOnly = Trace(16, r.difficulty, r.childPeriod);
        EXPECT_EQ(TraceLines(childOnly, "enemy").size(), 1u);
        EXPECT_TRUE(TraceLines(childOnly, "bullet").empty());
    }
}

TEST(ChildReleases, BaseId16OnTheDeathPath)
{
    const auto at50 = Trace(16, 0, 50, 1);
    EXPECT_EQ(TraceLines(at50, "enemy").size(), 1u);
    EXPECT_TRUE(TraceLines(at50, "bullet").empty());
    const auto at120 = Trace(16, 0, 120, 1);
    EXPECT_EQ(TraceLines(at120, "enemy").size(), 1u);
    const auto ring = TraceLines(at120, "bullet");
    ASSERT_EQ(ring.size(), 6u);
    for (const auto& shot : ring) {
        EXPECT_EQ(TraceInt(shot, "owner"), -1);
    }
    // Every-frame path at 120: owned by the enemy.
    EXPECT_EQ(TraceInt(TraceLines(Trace(16, 0, 120), "bullet")[0], "owner"), 10);
}

TEST(ChildReleases, SpokesAndStacksTurnWithTheAimAngle)
{
    struct Row {
        int difficulty;
        int childStep;
        int shotStep;
        double baseSpeed;
    };
    const Row rows[] = {{0, 60, 36, 2.0}, {1, 36, 20, 2.0}, {2, 24, 15, 2.0}, {3, 18, 12, 2.4}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        const auto lines = Trace(22, r.difficulty, 30);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), static_cast<size_t>(360 / r.childStep));
        for (size_t i = 0; i < children.size(); ++i) {
            const float v = TraceRad(static_cast<int>(i) * r.childStep) + kEnemyAim;
            ExpectTraceChild(children[i], 58, kEnemyX, kEnemyY, v, v);
        }
        const auto shots = TraceLines(lines, "bullet");
        ASSERT_EQ(shots.size(), static_cast<size_t>(360 / r.shotStep * 4));
        size_t n = 0;
        for (int p = 0; p < 360; p += r.shotStep) {
            for (int j = 0; j < 4; ++j) {
                ExpectShot(shots[n++], 3, TraceGraded(r.baseSpeed, j, 0.2), TraceRad(p) + kEnemyAim);
            }
        }
        EXPECT_EQ(TraceEmissionCount(Trace(22, r.difficulty, 31)), 0u);
    }
}

TEST(ChildReleases, SpokesReadTheAimAngleOnceEvenWhenAChildTakesTheEnemySlot)
{
    const auto lines = PatternTraceRun(FullTable(Options(22, 0, 10)));
    const auto children = TraceLines(lines, "enemy");
    ASSERT_EQ(children.size(), 6u);
    for (size_t i = 0; i < children.size(); ++i) {
        EXPECT_EQ(TraceUsedSlot(children[i]), 10);
        const float v = TraceRad(static_cast<int>(i) * 60) + kEnemyAim;
        ExpectTraceChild(children[i], 58, kEnemyX, kEnemyY, v, v);
    }
    const auto shots = TraceLines(lines, "bullet");
    ASSERT_EQ(shots.size(), 40u);
    size_t n = 0;
    for (int p = 0; p < 360; p += 36) {
        for (int j = 0; j < 4; ++j) {
            ExpectShot(shots[n++], 3, TraceGraded(2.0, j, 0.2), TraceRad(p) + kEnemyAim);
        }
    }
}

TEST(ChildReleases, StreamOfKind12ShotsEverySixthFrameChildEverySecond)
{
    struct Row {
        int difficulty;
        int count;
        double startSpeed;
        double turn;
        double spriteTurn;
    };
    const Row rows[] = {{1, 3, 3.2, 0.06, 0.06}, {2, 4, 3.2, 0.1, 0.1}, {3, 6, 3.6, 0.1, 0.08}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        const auto lines = Trace(30, r.difficulty, 12);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), r.difficulty == 3 ? 2u : 1u);
        ExpectTraceChild(children[0], 62, kEnemyX, kEnemyY, kEnemyAim, kEnemyAim);
        if (r.difficulty == 3) {
            const float turned = kEnemyAim + 0.1f;
            ExpectTraceChild(children[1], 62, kEnemyX, kEnemyY, turned, turned);
        }
        const auto shots = TraceLines(lines, "bullet");
        ASSERT_EQ(shots.size(), static_cast<size_t>(r.count));
        for (int j = 0; j < r.count; ++j) {
            const float speed = TraceGraded(r.startSpeed, -j, 0.2);
            const float heading = TraceGraded(0.0, j, r.turn) + kEnemyAim;
            const float sprite = TraceGraded(0.0, j, r.spriteTurn) + kEnemyAim;
            ExpectShot(shots[j], 12, speed, heading);
            EXPECT_EQ(TraceField(shots[j], "A"), G9(sprite));
        }
        // Clock 8: the child only; death at clock 7: the child only.
        EXPECT_TRUE(TraceLines(Trace(30, r.difficulty, 8), "bullet").empty());
        EXPECT_EQ(TraceLines(Trace(30, r.difficulty, 8), "enemy").size(), children.size());
        const auto death = Trace(30, r.difficulty, 7, 1);
        EXPECT_EQ(TraceLines(death, "enemy").size(), children.size());
        EXPECT_TRUE(TraceLines(death, "bullet").empty());
        EXPECT_EQ(TraceEmissionCount(Trace(30, r.difficulty, 7)), 0u);
    }
    // The sixth shot of 3030: the sprite is 0.1 radians off its heading.
    const auto last = TraceLines(Trace(30, 3, 6), "bullet")[5];
    EXPECT_NEAR(TraceFloat(last, "B") - TraceFloat(last, "A"), 0.1f, 1e-6f);
}

TEST(ChildReleases, SecondChildOf3030ReadsTheAimAngleAfterTheFirst)
{
    // With the table full the first child lands on the enemy itself; with
    // an aim angle of 0 it takes the template's 0.25, which the second child
    // and the shots then read.
    TraceOptions o = FullTable(Options(30, 3, 6));
    o.enemyAim = 0.0f;
    const auto lines = PatternTraceRun(o);
    const auto children = TraceLines(lines, "enemy");
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(TraceUsedSlot(children[0]), 10);
    EXPECT_EQ(TraceField(children[0], "aim"), G9(0.0f));
    const float turned = 0.25f + 0.1f;
    EXPECT_EQ(TraceField(children[1], "aim"), G9(turned));
    // The second child lands on the enemy too, so the shots read its angle.
    const auto shots = TraceLines(lines, "bullet");
    ASSERT_EQ(shots.size(), 6u);
    EXPECT_EQ(TraceField(shots[0], "B"), G9(turned));
}

TEST(ChildReleases, BackwardChildAndAimedRing)
{
    struct Row {
        int difficulty;
        int period;
        int moveTurn;
        int step;
        float speed;
    };
    const Row rows[] = {{0, 140, 150, 60, 2.0f}, {1, 140, 180, 36, 2.0f}, {2, 140, 180, 20, 2.0f},
                        {3, 80, 180, 15, 3.0f}};
    const float aim = ExpectedAim();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        const auto lines = Trace(33, r.difficulty, r.period);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 1u);
        ExpectTraceChild(children[0], 53, kEnemyX, kEnemyY, TraceRad(180) + kEnemyAim, TraceRad(r.moveTurn) + kEnemyAim);
        const auto shots = TraceLines(lines, "bullet");
        ASSERT_EQ(shots.size(), static_cast<size_t>(360 / r.step));
        for (size_t i = 0; i < shots.size(); ++i) {
            ExpectShot(shots[i], 3, r.speed, TraceRad(static_cast<int>(i) * r.step) + aim);
        }
        EXPECT_EQ(TraceEmissionCount(Trace(33, r.difficulty, r.period + 1)), 0u);
    }
}

// ------------------------------------------------------------------ formations

TEST(ChildReleases, ColumnStepsThroughFourPositionsBelowTheEnemy)
{
    const float aim = ExpectedAim();
    const int periods[] = {10, 8, 5};
    const float offsets[] = {-30.0f, -10.0f, 10.0f, 30.0f};
    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(d);
        const int p = periods[d];
        for (int i = 0; i < 8; ++i) {
            const int clock = p * (i + 1);
            const auto children = TraceLines(Trace(24, d, clock), "enemy");
            ASSERT_EQ(children.size(), 1u);
            const int q = (clock % (4 * p)) / p;
            ExpectTraceChild(children[0], 59, kEnemyX + offsets[q], kEnemyY + 20.0f, aim, aim);
        }
        // Strict: nothing between multiples, on either path.
        EXPECT_EQ(TraceEmissionCount(Trace(24, d, p + 1)), 0u);
        EXPECT_EQ(TraceEmissionCount(Trace(24, d, p + 1, 1)), 0u);
    }
    // Clocks 10, 20, 30, 40 of band 0: x - 10, x + 10, x + 30, x - 30.
    EXPECT_EQ(TraceField(TraceLines(Trace(24, 0, 40), "enemy")[0], "x"), G9(kEnemyX - 30.0f));
    EXPECT_EQ(TraceField(TraceLines(Trace(24, 0, 10), "enemy")[0], "x"), G9(kEnemyX - 10.0f));
}

TEST(ChildReleases, TopLineAtFixedColumnsHeadingDown)
{
    const float down = 1.5707964f;
    for (int d = 0; d < 2; ++d) {
        const auto children = TraceLines(Trace(27, d, 100), "enemy");
        ASSERT_EQ(children.size(), 8u);
        for (int i = 0; i < 8; ++i) {
            ExpectTraceChild(children[i], 61, static_cast<float>(145 + 50 * i), -30.0f, down, down);
        }
        EXPECT_EQ(TraceEmissionCount(Trace(27, d, 50)), 0u);
    }
    struct Case {
        int difficulty;
        int clock;
        int once;
        int firstX;
    };
    // Right half on the double period, left half on the other firings and on
    // a death between them.
    const Case cases[] = {{2, 80, 0, 340}, {2, 40, 0, 140}, {2, 120, 0, 140}, {2, 41, 1, 140},
                          {3, 60, 0, 340}, {3, 30, 0, 140}, {3, 90, 0, 140}, {3, 120, 0, 340}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clock);
        const auto children = TraceLines(Trace(27, c.difficulty, c.clock, c.once), "enemy");
        ASSERT_EQ(children.size(), 5u);
        for (int i = 0; i < 5; ++i) {
            ExpectTraceChild(children[i], 61, static_cast<float>(c.firstX + 40 * i), -30.0f, down, down);
        }
    }
    EXPECT_EQ(TraceEmissionCount(Trace(27, 2, 20)), 0u);
    EXPECT_EQ(TraceEmissionCount(Trace(27, 3, 20)), 0u);
}

// ------------------------------------------------------------------ backward child fans, curved streams, graded bursts

namespace {

// The fan at the clock given, for aim angles whose sums round differently
// when grouped otherwise.
void ExpectBackFan(int difficulty, int clock, const std::vector<int>& plus, const std::vector<int>& minus)
{
    for (float aimAngle : {kEnemyAim, 0.33f, 1.3f, 2.1f}) {
        SCOPED_TRACE(aimAngle);
        TraceOptions o = Options(14, difficulty, clock);
        o.enemyAim = aimAngle;
        const auto lines = PatternTraceRun(o);
        EXPECT_TRUE(TraceLines(lines, "bullet").empty());
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), plus.size() + minus.size());
        size_t n = 0;
        for (int k : plus) {
            const float v = (TraceRad(k) + aimAngle) + 3.1415927f;
            ExpectTraceChild(children[n++], 54, kEnemyX, kEnemyY, v, v);
        }
        for (int k : minus) {
            const float v = (aimAngle + 3.1415927f) - TraceRad(k);
            ExpectTraceChild(children[n++], 54, kEnemyX, kEnemyY, v, v);
        }
    }
}

void ExpectStreams(const std::vector<std::string>& shots, int kind, float speed, int bend, int secondStart)
{
    ASSERT_EQ(shots.size(), 72u);
    const float aim = ExpectedAim();
    size_t n = 0;
    for (int p = 0; p < 360; p += 40) {
        for (int j = 0; j < 4; ++j) {
            ExpectShot(shots[n++], kind, speed, TraceRad(p + bend * j) + aim, -j);
        }
    }
    for (int p = secondStart; p < secondStart + 360; p += 40) {
        for (int j = 0; j < 4; ++j) {
            ExpectShot(shots[n++], kind, speed, TraceRad(p - bend * j) + aim, -8 - j);
        }
    }
}

struct BurstShot {
    int kind;
    float speed;
    float heading;
};

std::vector<BurstShot> ExpectedBurst(double base, int kind2From, int kind2Offset, int kind4From, int kind4To,
                                     int kind4Offset)
{
    const float aim = ExpectedAim();
    std::vector<BurstShot> out;
    for (int j = kind2From; j < kind2From + 3; ++j) {
        out.push_back({2, TraceGraded(base, -j, 0.6), TraceRad(j + kind2Offset) + aim});
    }
    for (int j = kind2From; j < kind2From + 3; ++j) {
        out.push_back({2, TraceGraded(base, -j, 0.6), aim - TraceRad(j + kind2Offset)});
    }
    for (int j = kind4From; j <= kind4To; ++j) {
        out.push_back({4, TraceGraded(base, -j, 0.4), TraceRad(j + kind4Offset) + aim});
    }
    for (int j = kind4From; j <= kind4To; ++j) {
        out.push_back({4, TraceGraded(base, -j, 0.4), aim - TraceRad(j + kind4Offset)});
    }
    for (int j = 0; j < 3; ++j) {
        out.push_back({6, TraceGraded(base, -j, 0.6), aim});
    }
    return out;
}

}  // namespace

TEST(ChildReleases, Band0AlternatesBackwardFanAndCurvedStreams)
{
    ExpectBackFan(0, 160, {30, 20, 10}, {10, 20, 30});
    for (int clock : {80, 240}) {
        const auto streams = Trace(14, 0, clock);
        EXPECT_TRUE(TraceLines(streams, "enemy").empty());
        ExpectStreams(TraceLines(streams, "bullet"), 1, 2.0f, 1, -20);
    }
    // Strict on the death path too.
    EXPECT_EQ(TraceEmissionCount(Trace(14, 0, 81, 1)), 0u);
    EXPECT_EQ(TraceLines(Trace(14, 0, 80, 1), "bullet").size(), 72u);
}

TEST(ChildReleases, Band1BurstBeforeFanBeforeStreams)
{
    // 480 is a multiple of both 240 and 160: the burst wins.
    for (int clock : {240, 480}) {
        SCOPED_TRACE(clock);
        const auto lines = Trace(14, 1, clock);
        EXPECT_TRUE(TraceLines(lines, "enemy").empty());
        const auto shots = TraceLines(lines, "bullet");
        const auto expected = ExpectedBurst(5.0, 1, 2, 0, 2, 1);
        ASSERT_EQ(shots.size(), expected.size());
        for (size_t i = 0; i < shots.size(); ++i) {
            ExpectShot(shots[i], expected[i].kind, expected[i].speed, expected[i].heading);
        }
    }
    ExpectBackFan(1, 160, {30, 20, 10}, {10, 20, 30});
    ExpectStreams(TraceLines(Trace(14, 1, 80), "bullet"), 3, 2.4f, 2, -16);
    EXPECT_EQ(TraceEmissionCount(Trace(14, 1, 100)), 0u);
}

TEST(ChildReleases, Band2BurstFanOfEightAndWideStreams)
{
    for (int clock : {180, 360}) {
        SCOPED_TRACE(clock);
        const auto lines = Trace(14, 2, clock);
        EXPECT_TRUE(TraceLines(lines, "enemy").empty());
        const auto shots = TraceLines(lines, "bullet");
        const auto expected = ExpectedBurst(5.2, 2, 5, 1, 2, 2);
        ASSERT_EQ(shots.size(), expected.size());
        for (size_t i = 0; i < shots.size(); ++i) {
            ExpectShot(shots[i], expected[i].kind, expected[i].speed, expected[i].heading);
        }
    }
    ExpectBackFan(2, 120, {40, 30, 20, 10}, {10, 20, 30, 40});
    ExpectStreams(TraceLines(Trace(14, 2, 60), "bullet"), 5, 2.6f, 4, -10);
    EXPECT_EQ(TraceEmissionCount(Trace(14, 2, 80)), 0u);
}

// ------------------------------------------------------------------ the table

TEST(ChildReleases, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    const int bases[] = {13, 14, 15, 16, 17, 21, 22, 24, 26, 27, 30, 33};
    for (int d = 0; d < 4; ++d) {
        for (int base : bases) {
            const bool dead = d == 3 && (base == 13 || base == 14 || base == 17 || base == 24);
            SCOPED_TRACE(base + 1000 * d);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * d), !dead);
            // Clock 0 on the death path passes every gate of these patterns.
            const size_t onDeath = TraceEmissionCount(Trace(base, d, 0, 1));
            if (dead) {
                EXPECT_EQ(onDeath, 0u);
                for (int clock : {1, 80, 120, 240, 480}) {
                    EXPECT_EQ(TraceEmissionCount(Trace(base, d, clock)), 0u);
                }
            } else {
                EXPECT_GT(onDeath, 0u);
            }
        }
    }
}

TEST(ChildReleases, NothingDrawsFromTheRandomGenerator)
{
    const int bases[] = {13, 14, 15, 16, 17, 21, 22, 24, 26, 27, 30, 33};
    for (int d = 0; d < 4; ++d) {
        for (int base : bases) {
            for (int clock : {0, 80, 120, 160, 240, 360, 480}) {
                EXPECT_TRUE(TraceLines(Trace(base, d, clock, 1), "rnd").empty()) << base + 1000 * d;
            }
        }
    }
}
