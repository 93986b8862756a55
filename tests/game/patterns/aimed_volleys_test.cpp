// Aimed shots, fans, rings with arms and volleys (base ids 18 to 20, 23, 25,
// 28, 29, 31, 32 and 34), checked through the pattern trace with every
// expected value worked out here at f32.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "tests/game/patterns/trace_util.h"

namespace {

// The enemy's aim angle points away from the player, so a shot along the
// aim angle and one at the player are told apart.
constexpr float kEnemyX = 280.0f;
constexpr float kEnemyY = 150.0f;
constexpr float kEnemyAim = 0.9f;
constexpr float kEnemyMove = 0.2f;
constexpr float kPlayerX = 360.0f;
constexpr float kPlayerY = 430.0f;

TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .enemyAim = kEnemyAim, .enemyMove = kEnemyMove, .playerX = kPlayerX, .playerY = kPlayerY}, id, difficulty, clock, once);
}

std::vector<std::string> Trace(int id, int difficulty, int clock, int once = 0)
{
    return PatternTraceRun(Options(id, difficulty, clock, once));
}

float AimFromPoint(float x, float y)
{
    return TraceAim(x, y, kPlayerX, kPlayerY);
}

float ExpectedAim()
{
    return AimFromPoint(kEnemyX, kEnemyY);
}

struct Expected {
    int kind;
    float speed;
    float heading;
    float x0 = kEnemyX;
    float y0 = kEnemyY;
    int age = 0;
};

void ExpectShot(const std::string& line, const Expected& e)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "kind"), e.kind);
    EXPECT_EQ(TraceField(line, "dr1"), G9(e.speed));
    EXPECT_EQ(TraceField(line, "B"), G9(e.heading));
    EXPECT_EQ(TraceField(line, "x0"), G9(e.x0));
    EXPECT_EQ(TraceField(line, "y0"), G9(e.y0));
    EXPECT_EQ(TraceInt(line, "age"), e.age);
    EXPECT_EQ(TraceInt(line, "life"), 400);
    EXPECT_EQ(TraceField(line, "r1"), "0");
    EXPECT_EQ(TraceField(line, "r2"), "0");
}

void ExpectShots(const std::vector<std::string>& lines, const std::vector<Expected>& expected)
{
    const auto shots = TraceLines(lines, "bullet");
    ASSERT_EQ(shots.size(), expected.size());
    for (size_t i = 0; i < shots.size(); ++i) {
        ExpectShot(shots[i], expected[i]);
    }
}

// Fires at a multiple of the period, not one frame either side, and on the
// death path at any clock.
void ExpectEveryGate(int id, int difficulty, int period)
{
    SCOPED_TRACE(id + 1000 * difficulty);
    EXPECT_GT(TraceEmissionCount(Trace(id, difficulty, 3 * period)), 0u);
    EXPECT_EQ(TraceEmissionCount(Trace(id, difficulty, 3 * period - 1)), 0u);
    EXPECT_EQ(TraceEmissionCount(Trace(id, difficulty, 3 * period + 1)), 0u);
    EXPECT_GT(TraceEmissionCount(Trace(id, difficulty, 3 * period + 1, 1)), 0u);
}

}  // namespace

// ------------------------------------------------------------------ aimed shots, stacks and fans

TEST(AimedVolleys, BaseId18FliesAlongTheAimAngle)
{
    for (int d = 0; d < 2; ++d) {
        const auto lines = Trace(18, d, 30);
        EXPECT_TRUE(TraceLines(lines, "rnd").empty());
        ExpectShots(lines, {{4, 1.8f, kEnemyAim}});
        ExpectEveryGate(18, d, 30);
    }
}

TEST(AimedVolleys, BaseId18DrawsOneTurnPerFiringInBands2And3)
{
    const int ranges[] = {15, 20};
    for (int d = 2; d < 4; ++d) {
        for (int once = 0; once < 2; ++once) {
            for (uint32_t seed : {1u, 7u, 12345u}) {
                TraceOptions o = Options(18, d, once ? 26 : 50, once);
                o.seed = seed;
                const auto lines = PatternTraceRun(o);
                const auto draws = TraceLines(lines, "rnd");
                ASSERT_EQ(draws.size(), 1u);
                const int range = ranges[d - 2];
                EXPECT_EQ(draws[0].rfind("rnd " + std::to_string(-range) + " " + std::to_string(range) + " -> ", 0), 0u);
                const int turn = std::atoi(draws[0].c_str() + draws[0].rfind("-> ") + 3);
                // The draw is made before the shot.
                EXPECT_EQ(lines[0], draws[0]);
                ExpectShots(lines, {{4, 2.2f, TraceRad(turn) + kEnemyAim}});
                EXPECT_EQ(TraceInt(TraceLines(lines, "bullet")[0], "owner"), once ? -1 : 10);
            }
        }
        ExpectEveryGate(18, d, 25);
    }
}

TEST(AimedVolleys, BaseId23ShootsAtThePlayer)
{
    const float aim = ExpectedAim();
    const int periods[] = {30, 25, 20, 20};
    const float speeds[] = {3.6f, 4.0f, 4.0f, 4.2f};
    for (int d = 0; d < 4; ++d) {
        ExpectShots(Trace(23, d, periods[d]), {{2, speeds[d], aim}});
        ExpectEveryGate(23, d, periods[d]);
    }
}

TEST(AimedVolleys, StacksOnTheAimTurnedToIt)
{
    const float aim = ExpectedAim();
    struct Row {
        int difficulty;
        int period;
        std::vector<float> speeds;
    };
    const Row rows[] = {{1, 60, {3.0f}}, {2, 60, {3.0f, 3.2f, 3.4f}}, {3, 30, {3.2f, 3.4f, 3.6f, 3.8f}}};
    for (const Row& r : rows) {
        std::vector<Expected> expected;
        for (float s : r.speeds) {
            expected.push_back({1, s, aim});
        }
        const auto lines = Trace(29, r.difficulty, r.period);
        ExpectShots(lines, expected);
        for (const auto& shot : TraceLines(lines, "bullet")) {
            EXPECT_EQ(TraceField(shot, "A"), G9(aim));
        }
        ExpectEveryGate(29, r.difficulty, r.period);
    }
    // Base id 29 is dead in band 0.
    EXPECT_EQ(TraceEmissionCount(Trace(29, 0, 0, 1)), 0u);
    EXPECT_EQ(TraceEmissionCount(Trace(29, 0, 60)), 0u);
}

TEST(AimedVolleys, SymmetricFansCentreFirstThenPairsOutward)
{
    const float aim = ExpectedAim();
    struct Row {
        int difficulty;
        int period;
        float speed;
        int step;
        int pairs;
    };
    const Row rows[] = {{0, 50, 3.0f, 20, 1}, {1, 40, 3.6f, 18, 1}, {2, 30, 4.0f, 15, 2}, {3, 30, 4.6f, 10, 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        std::vector<Expected> expected = {{12, r.speed, aim}};
        for (int i = 1; i <= r.pairs; ++i) {
            expected.push_back({12, r.speed, TraceRad(r.step * i) + aim});
            expected.push_back({12, r.speed, aim - TraceRad(r.step * i)});
        }
        const auto lines = Trace(32, r.difficulty, r.period);
        ExpectShots(lines, expected);
        const auto shots = TraceLines(lines, "bullet");
        for (const auto& shot : shots) {
            EXPECT_EQ(TraceField(shot, "A"), TraceField(shot, "B"));
        }
        ExpectEveryGate(32, r.difficulty, r.period);
    }
}

TEST(AimedVolleys, TwinMuzzlesBesideTheAimAngleFireParallel)
{
    const float aim = ExpectedAim();
    struct Row {
        int difficulty;
        int period;
        float speed;
    };
    const Row rows[] = {{0, 60, 3.6f}, {1, 50, 3.6f}, {2, 50, 3.6f}, {3, 30, 4.4f}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        const float left = TraceRad(90) + kEnemyAim;
        const float right = kEnemyAim - TraceRad(90);
        const float lx = static_cast<float>(10.0 * static_cast<float>(std::cos(static_cast<double>(left))));
        const float ly = static_cast<float>(10.0 * static_cast<float>(std::sin(static_cast<double>(left))));
        const float rx = static_cast<float>(10.0 * static_cast<float>(std::cos(static_cast<double>(right))));
        const float ry = static_cast<float>(10.0 * static_cast<float>(std::sin(static_cast<double>(right))));
        const auto lines = Trace(34, r.difficulty, r.period);
        ExpectShots(lines, {{11, r.speed, aim, lx + kEnemyX, ly + kEnemyY}, {11, r.speed, aim, rx + kEnemyX, ry + kEnemyY}});
        for (const auto& shot : TraceLines(lines, "bullet")) {
            EXPECT_EQ(TraceField(shot, "A"), G9(aim));
        }
        ExpectEveryGate(34, r.difficulty, r.period);
    }
}

TEST(AimedVolleys, MuzzlesWithAimAngleZeroStandBelowThenAbove)
{
    TraceOptions o = Options(34, 0, 60);
    o.enemyAim = 0.0f;
    const auto shots = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(shots.size(), 2u);
    EXPECT_NEAR(TraceFloat(shots[0], "x0"), kEnemyX, 1e-3f);
    EXPECT_EQ(TraceField(shots[0], "y0"), G9(kEnemyY + 10.0f));
    EXPECT_NEAR(TraceFloat(shots[1], "x0"), kEnemyX, 1e-3f);
    EXPECT_EQ(TraceField(shots[1], "y0"), G9(kEnemyY - 10.0f));
    // Both fly along the aim taken at the enemy, not at their muzzles.
    EXPECT_EQ(TraceField(shots[0], "B"), G9(ExpectedAim()));
    EXPECT_EQ(TraceField(shots[1], "B"), G9(ExpectedAim()));
}

// ------------------------------------------------------------------ fixed ring with aimed arms

namespace {

std::vector<Expected> RingWithArms(int ringStep, int sideCount, int sideStep, double speedStep)
{
    const float aim = ExpectedAim();
    std::vector<Expected> out;
    for (int k = 0; k < 360; k += ringStep) {
        out.push_back({7, 2.5f, TraceRad(k)});
    }
    for (int p = 0; p < 360; p += 72) {
        out.push_back({5, 3.0f, TraceRad(p) + aim});
        for (int j = 1; j <= sideCount; ++j) {
            const float sum = TraceRad(sideStep * j) + TraceRad(p);
            out.push_back({8, TraceGraded(2.8, -j, speedStep), sum + aim});
        }
        for (int j = 1; j <= sideCount; ++j) {
            const float base = TraceRad(p) + aim;
            out.push_back({8, TraceGraded(2.8, -j, speedStep), base - TraceRad(sideStep * j)});
        }
    }
    return out;
}

}  // namespace

TEST(AimedVolleys, FixedRingThenFiveCompleteArms)
{
    for (int d = 0; d < 2; ++d) {
        ExpectShots(Trace(19, d, 60), RingWithArms(20, 2, 3, 0.6));
        ExpectEveryGate(19, d, 60);
    }
    ExpectShots(Trace(19, 2, 60), RingWithArms(15, 3, 5, 0.4));
    ExpectEveryGate(19, 2, 60);
    ExpectShots(Trace(19, 3, 50), RingWithArms(15, 3, 5, 0.4));
    ExpectEveryGate(19, 3, 50);
}

TEST(AimedVolleys, RingIgnoresThePlayerArmsFollowIt)
{
    TraceOptions moved = Options(19, 0, 60);
    moved.playerX = 150.0f;
    moved.playerY = 300.0f;
    const auto here = TraceLines(Trace(19, 0, 60), "bullet");
    const auto there = TraceLines(PatternTraceRun(moved), "bullet");
    ASSERT_EQ(here.size(), there.size());
    for (size_t i = 0; i < here.size(); ++i) {
        if (i < 18) {
            EXPECT_EQ(TraceField(here[i], "B"), TraceField(there[i], "B"));
        } else {
            EXPECT_NE(TraceField(here[i], "B"), TraceField(there[i], "B"));
        }
    }
}

// ------------------------------------------------------------------ twin-origin volleys

namespace {

std::vector<Expected> TwinVolley(int rowLength, int spread, bool centreRow)
{
    const float aim = ExpectedAim();
    std::vector<float> headings = {TraceRad(spread) + aim, aim - TraceRad(spread)};
    if (centreRow) {
        headings.push_back(aim);
    }
    std::vector<Expected> out;
    for (float mx : {kEnemyX - 40.0f, kEnemyX + 40.0f}) {
        for (float h : headings) {
            for (int j = 0; j < rowLength; ++j) {
                out.push_back({3, TraceGraded(2.5, j, 0.3), h, mx, kEnemyY + 20.0f, -3 * j});
            }
        }
    }
    return out;
}

}  // namespace

TEST(AimedVolleys, TwinMuzzleRowsLeftThenRight)
{
    ExpectShots(Trace(25, 0, 60), TwinVolley(3, 30, false));
    ExpectShots(Trace(25, 1, 120), TwinVolley(4, 20, false));
    ExpectShots(Trace(25, 2, 60, 1), TwinVolley(6, 30, true));
    for (int d = 0; d < 3; ++d) {
        ExpectEveryGate(25, d, 60);
    }
    // The rows aim from the enemy, not from the muzzles.
    EXPECT_NE(G9(ExpectedAim()), G9(AimFromPoint(kEnemyX - 40.0f, kEnemyY + 20.0f)));
}

// ------------------------------------------------------------------ downward volleys

TEST(AimedVolleys, DownwardShotsThenLowerHalfRing)
{
    struct Row {
        int difficulty;
        double base;
        int ringKind;
        float ringSpeed;
    };
    const Row rows[] = {{0, 3.5, 2, 2.6f}, {1, 3.5, 2, 2.6f}, {2, 4.4, 4, 4.0f}, {3, 4.4, 4, 4.0f}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.difficulty);
        std::vector<Expected> expected;
        for (int j = 0; j < 3; ++j) {
            expected.push_back({1, TraceGraded(r.base, j, 0.3), TraceRad(90), kEnemyX, kEnemyY, -3 * j});
        }
        for (int k = 0; k < 180; k += 18) {
            expected.push_back({r.ringKind, r.ringSpeed, TraceRad(k)});
        }
        ExpectShots(Trace(28, r.difficulty, 50), expected);
        ExpectEveryGate(28, r.difficulty, 25);
    }
}

// ------------------------------------------------------------------ phased rings with an aimed child

namespace {

std::vector<Expected> PhasedRing(int clock, int count, int step, double base)
{
    const int m = clock % 20;
    const int kind = clock % 4 == 0 ? 3 : 5;
    std::vector<Expected> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({kind, TraceGraded(base, m, 0.1), TraceRad(m + step * i) + ExpectedAim()});
    }
    return out;
}

void ExpectAimedChild(const std::vector<std::string>& lines)
{
    const auto children = TraceLines(lines, "enemy");
    ASSERT_EQ(children.size(), 1u);
    EXPECT_TRUE(TraceLines(lines, "bullet").empty());
    EXPECT_EQ(TraceInt(children[0], "template"), 20);
    EXPECT_EQ(TraceField(children[0], "x"), G9(kEnemyX));
    EXPECT_EQ(TraceField(children[0], "y"), G9(kEnemyY));
    EXPECT_EQ(TraceField(children[0], "aim"), G9(ExpectedAim()));
    EXPECT_EQ(TraceField(children[0], "move"), G9(ExpectedAim()));
}

}  // namespace

TEST(AimedVolleys, PhasedRingFollowsTheClock)
{
    // Clocks 2 to 8 of the first tenth: start angle, speed and kind step.
    for (int clock : {2, 4, 6, 8, 100, 102, 108, 200}) {
        SCOPED_TRACE(clock);
        const auto lines = Trace(31, 0, clock);
        EXPECT_TRUE(TraceLines(lines, "enemy").empty());
        ExpectShots(lines, PhasedRing(clock, 6, 60, 2.0));
    }
    ExpectShots(Trace(31, 1, 104), PhasedRing(104, 9, 40, 2.0));
    ExpectShots(Trace(31, 2, 106), PhasedRing(106, 12, 30, 2.0));
    ExpectShots(Trace(31, 3, 106), PhasedRing(106, 12, 30, 2.4));
    // Odd clocks and the rest of the hundred: no ring.
    for (int clock : {1, 3, 9, 10, 12, 98}) {
        EXPECT_EQ(TraceEmissionCount(Trace(31, 0, clock)), 0u) << clock;
    }
}

TEST(AimedVolleys, PhasedChildOnAStrictPeriodOutsideTheRings)
{
    ExpectAimedChild(Trace(31, 0, 150));
    ExpectAimedChild(Trace(31, 0, 50));
    ExpectAimedChild(Trace(31, 1, 40));
    ExpectAimedChild(Trace(31, 1, 120));
    ExpectAimedChild(Trace(31, 2, 30));
    ExpectAimedChild(Trace(31, 3, 20));
    ExpectAimedChild(Trace(31, 3, 160));
    EXPECT_EQ(TraceEmissionCount(Trace(31, 0, 60)), 0u);
    EXPECT_EQ(TraceEmissionCount(Trace(31, 1, 50)), 0u);
    // Clock 200 passes both tests: the ring only.
    EXPECT_TRUE(TraceLines(Trace(31, 0, 200), "enemy").empty());
}

TEST(AimedVolleys, PhasedOnTheDeathPathTheClockAloneDecides)
{
    const auto atZero = Trace(31, 0, 0, 1);
    ExpectShots(atZero, PhasedRing(0, 6, 60, 2.0));
    EXPECT_EQ(TraceInt(TraceLines(atZero, "bullet")[0], "kind"), 3);
    ExpectAimedChild(Trace(31, 0, 50, 1));
    EXPECT_EQ(TraceEmissionCount(Trace(31, 0, 51, 1)), 0u);
}

// ------------------------------------------------------------------ repeating effect

TEST(AimedVolleys, EffectEverySixthFrameOnBothPaths)
{
    for (int d = 0; d < 4; ++d) {
        for (int once = 0; once < 2; ++once) {
            const auto lines = Trace(20, d, 36, once);
            const auto effects = TraceLines(lines, "effect");
            ASSERT_EQ(effects.size(), 1u);
            EXPECT_EQ(TraceInt(effects[0], "kind"), 13);
            EXPECT_EQ(TraceField(effects[0], "x"), G9(kEnemyX));
            EXPECT_EQ(TraceField(effects[0], "y"), G9(kEnemyY));
            EXPECT_EQ(TraceField(effects[0], "angle"), "0");
            EXPECT_EQ(TraceInt(effects[0], "age"), 0);
            EXPECT_EQ(TraceEmissionCount(lines), 1u);
            EXPECT_EQ(TraceEmissionCount(Trace(20, d, 37, once)), 0u);
        }
    }
}

// ------------------------------------------------------------------ the table

TEST(AimedVolleys, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    const int bases[] = {18, 19, 20, 23, 25, 28, 29, 31, 32, 34};
    for (int d = 0; d < 4; ++d) {
        for (int base : bases) {
            const bool dead = (d == 0 && base == 29) || (d == 3 && base == 25);
            SCOPED_TRACE(base + 1000 * d);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * d), !dead);
            // Clock 0 on the death path passes every gate of these patterns.
            const auto onDeath = Trace(base, d, 0, 1);
            if (dead) {
                EXPECT_EQ(TraceEmissionCount(onDeath), 0u);
                for (int clock : {1, 30, 60, 120}) {
                    EXPECT_EQ(TraceEmissionCount(Trace(base, d, clock)), 0u);
                }
            } else {
                EXPECT_GT(TraceEmissionCount(onDeath), 0u);
                for (const auto& shot : TraceLines(onDeath, "bullet")) {
                    EXPECT_EQ(TraceInt(shot, "owner"), -1);
                }
            }
        }
    }
}

TEST(AimedVolleys, OnlyBaseId18InBands2And3DrawsRandomNumbers)
{
    const int bases[] = {18, 19, 20, 23, 25, 28, 29, 31, 32, 34};
    for (int d = 0; d < 4; ++d) {
        for (int base : bases) {
            const bool draws = base == 18 && d >= 2;
            EXPECT_EQ(TraceLines(Trace(base, d, 0, 1), "rnd").size(), draws ? 1u : 0u) << base + 1000 * d;
        }
    }
}
