// Base ids 101 to 110: scattered children, the slot-0 aim, twin spirals and
// rings. Expected values are worked out here with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/trace_util.h"

namespace {

constexpr float kEnemyX = 320.0f;
constexpr float kEnemyY = 100.0f;
constexpr float kPlayerX = 250.0f;
constexpr float kPlayerY = 420.0f;

// A player off the enemy's vertical, so that the aim is not a round angle.
TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kEnemyX, .enemyY = kEnemyY, .playerX = kPlayerX, .playerY = kPlayerY}, id, difficulty, clock, once);
}

float EnemyAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

// Every line that is not the closing enemy-table dump: what the call did.
struct Draw {
    int lo, hi, value;
};

std::vector<Draw> Draws(const std::vector<std::string>& lines)
{
    std::vector<Draw> out;
    for (const std::string& line : TraceLines(lines, "rnd")) {
        Draw d{};
        if (std::sscanf(line.c_str(), "rnd %d %d -> %d", &d.lo, &d.hi, &d.value) == 3) {
            out.push_back(d);
        }
    }
    return out;
}

void ExpectShot(const std::string& line, int kind, float speed, float heading, int life, int owner)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "kind"), kind);
    EXPECT_EQ(TraceField(line, "dr1"), G9(speed));
    EXPECT_EQ(TraceField(line, "B"), G9(heading));
    EXPECT_EQ(TraceInt(line, "life"), life);
    EXPECT_EQ(TraceInt(line, "owner"), owner);
}

void ExpectOrigin(const std::string& line, float x0, float y0)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceField(line, "x0"), G9(x0));
    EXPECT_EQ(TraceField(line, "y0"), G9(y0));
}

}  // namespace

// ------------------------------------------------------------------ children

TEST(ScatteredChildren, ScatterDrawsXOffsetBeforeY)
{
    struct Case {
        int id, difficulty, clock, xRange;
    };
    for (const Case c : {Case{101, 0, 3, 150}, Case{101, 1, 2, 200}, Case{101, 2, 4, 200}, Case{101, 3, 6, 200}}) {
        SCOPED_TRACE(c.difficulty);
        TraceOptions o = Options(c.id, c.difficulty, c.clock);
        o.seed = 77;
        const auto lines = PatternTraceRun(o);
        const auto draws = Draws(lines);
        ASSERT_EQ(draws.size(), 2u);
        EXPECT_EQ(draws[0].lo, -c.xRange);
        EXPECT_EQ(draws[0].hi, c.xRange);
        EXPECT_EQ(draws[1].lo, -100);
        EXPECT_EQ(draws[1].hi, 100);
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 1u);
        ExpectTraceChild(children[0], 1, kEnemyX + static_cast<float>(draws[0].value),
                    kEnemyY + static_cast<float>(draws[1].value), 0.0f, 0.0f);
        // Only the draws and the child: no bullet, no effect.
        EXPECT_EQ(TraceEmissions(lines).size(), 3u);
    }
    // Band 0 fires every third frame, the others every second.
    EXPECT_TRUE(TraceEmissions(TraceCall(101, 0, 2)).empty());
    EXPECT_TRUE(TraceEmissions(TraceCall(101, 1, 3)).empty());
}

TEST(ScatteredChildren, DropBelowEveryEighthFrameInEveryBand)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const auto lines = PatternTraceRun(Options(103, d, 16));
        const auto children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 1u);
        ExpectTraceChild(children[0], 9, kEnemyX, kEnemyY + 40.0f, 0.0f, 0.0f);
        EXPECT_EQ(TraceEmissions(lines).size(), 1u);
        EXPECT_TRUE(TraceEmissions(PatternTraceRun(Options(103, d, 12))).empty());
    }
}

TEST(ScatteredChildren, DropFallsBackToSlotTenWhenTableIsFull)
{
    TraceOptions o = Options(103, 0, 8);
    o.slot = 3;
    for (int s = 10; s < kEnemySlots; ++s) {
        o.others.push_back({s, 200.0f, 200.0f, 0.0f});
    }
    const auto children = TraceLines(PatternTraceRun(o), "enemy");
    ASSERT_EQ(children.size(), 1u);
    EXPECT_NE(children[0].find("slot=-1 -> 10"), std::string::npos) << children[0];
}

TEST(ScatteredChildren, AimedChildLeavesWithFlash)
{
    struct Case {
        int difficulty, period;
    };
    for (const Case c : {Case{0, 22}, Case{1, 15}, Case{2, 15}}) {
        SCOPED_TRACE(c.difficulty);
        const auto lines = TraceEmissions(PatternTraceRun(Options(108, c.difficulty, 2 * c.period)));
        ASSERT_EQ(lines.size(), 2u);
        ExpectTraceChild(lines[0], 25, kEnemyX, kEnemyY, EnemyAim(), EnemyAim());
        EXPECT_EQ(lines[1], "effect kind=12 x=320 y=100 angle=0 age=0");
        EXPECT_TRUE(TraceEmissions(PatternTraceRun(Options(108, c.difficulty, c.period + 1))).empty());
    }
}

TEST(ScatteredChildren, TurningChildFollowsClock)
{
    struct Case {
        int difficulty, clock;
    };
    for (const Case c : {Case{0, 16}, Case{0, 48}, Case{1, 12}, Case{2, 8}, Case{2, 40}}) {
        SCOPED_TRACE(c.clock);
        const auto lines = TraceEmissions(PatternTraceRun(Options(109, c.difficulty, c.clock)));
        ASSERT_EQ(lines.size(), 1u);
        const float a = DegToRad(10 * c.clock);
        ExpectTraceChild(lines[0], 24, kEnemyX, kEnemyY, a, a);
    }
    EXPECT_TRUE(TraceEmissions(TraceCall(109, 0, 8)).empty());
    EXPECT_TRUE(TraceEmissions(TraceCall(109, 1, 16)).empty());

    // At clock 0 on the death path the angle is exactly 0.0: the child
    // takes both angles from its template.
    const auto death = PatternTraceRun(Options(109, 0, 0, 1));
    const auto states = TraceLines(death, "state");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
    EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
}

// ------------------------------------------------------------------ slot-0 aim

TEST(ScatteredChildren, Slot0AimIsSharedByEveryFiringEnemy)
{
    const float leaderX = 180.0f;
    const float leaderY = 60.0f;
    const float heading = TraceAim(leaderX, leaderY, kPlayerX, kPlayerY);
    for (const float enemyX : {200.0f, 450.0f}) {
        TraceOptions o = Options(102, 0, 40);
        o.enemyX = enemyX;
        o.slot = 15;
        o.others.push_back({0, leaderX, leaderY, 0.0f});
        const auto shots = TraceLines(PatternTraceRun(o), "bullet");
        ASSERT_EQ(shots.size(), 1u);
        ExpectShot(shots[0], 2, 2.8f, heading, 400, 15);
        ExpectOrigin(shots[0], enemyX, kEnemyY);
    }
    // An empty slot 0 still holds a position: parked at x 800, y 0.
    TraceOptions o = Options(102, 1, 20);
    o.slot = 8;
    const auto shots = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(shots.size(), 1u);
    ExpectShot(shots[0], 2, 3.2f, TraceAim(kParkedX, 0.0f, kPlayerX, kPlayerY), 400, 8);
}

TEST(ScatteredChildren, Slot0AimFiltersBySlotOnBothPaths)
{
    struct Case {
        int difficulty, slot;
        bool fires;
    };
    const Case cases[] = {{0, 0, true},  {0, 5, true},  {0, 7, false}, {0, 12, false}, {0, 20, true},
                          {1, 4, true},  {1, 10, false}, {1, 7, false}, {1, 20, true},
                          {2, 7, true},  {3, 13, true}};
    for (const Case& c : cases) {
        for (int once = 0; once < 2; ++once) {
            SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " slot " << c.slot << " once " << once);
            TraceOptions o = Options(102, c.difficulty, 60, once);
            o.slot = c.slot;
            EXPECT_EQ(TraceLines(PatternTraceRun(o), "bullet").size(), c.fires ? 1u : 0u);
        }
    }
}

TEST(ScatteredChildren, Slot0AimJitterDrawnBeforeAim)
{
    struct Case {
        int difficulty, clock, kind;
        float speed;
    };
    for (const Case c : {Case{2, 20, 2, 3.2f}, Case{3, 15, 4, 3.6f}}) {
        SCOPED_TRACE(c.difficulty);
        TraceOptions o = Options(102, c.difficulty, c.clock);
        o.seed = 5;
        o.others.push_back({0, 400.0f, 30.0f, 0.0f});
        const auto lines = TraceEmissions(PatternTraceRun(o));
        ASSERT_EQ(lines.size(), 2u);
        const auto draws = Draws(lines);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].lo, -10);
        EXPECT_EQ(draws[0].hi, 10);
        const float heading = TraceAim(400.0f, 30.0f, kPlayerX, kPlayerY) + DegToRad(draws[0].value);
        ExpectShot(lines[1], c.kind, c.speed, heading, 400, 10);
    }
    EXPECT_TRUE(TraceEmissions(TraceCall(102, 3, 20)).empty());
}

// ------------------------------------------------------------------ twin spirals

TEST(ScatteredChildren, TwinSpiralsTurnInOppositeSenses)
{
    const auto shots = TraceLines(PatternTraceRun(Options(104, 0, 10)), "bullet");
    ASSERT_EQ(shots.size(), 4u);
    const float right = DegToRad(150);
    const float left = DegToRad(30);
    ExpectShot(shots[0], 4, 3.6f, right, 400, 10);
    ExpectOrigin(shots[0], kEnemyX + 50.0f, kEnemyY);
    ExpectShot(shots[1], 4, 3.6f, left, 400, 10);
    ExpectOrigin(shots[1], kEnemyX - 50.0f, kEnemyY);
    ExpectShot(shots[2], 4, 3.4f, right, 400, 10);
    ExpectOrigin(shots[2], kEnemyX + 50.0f, kEnemyY);
    ExpectShot(shots[3], 4, 3.4f, left, 400, 10);
    ExpectOrigin(shots[3], kEnemyX - 50.0f, kEnemyY);

    // On the death path at clock 0 both guns fire straight down.
    for (const std::string& line : TraceLines(PatternTraceRun(Options(104, 0, 0, 1)), "bullet")) {
        EXPECT_EQ(TraceField(line, "B"), G9(DegToRad(90))) << line;
        EXPECT_EQ(TraceInt(line, "owner"), -1);
    }
    EXPECT_TRUE(TraceEmissions(TraceCall(104, 0, 11)).empty());
}

TEST(ScatteredChildren, TwinSpiralsUpperPairInBand2)
{
    const int clock = 34;
    const float right = DegToRad(6 * clock + 90);
    const float left = DegToRad(90 - 6 * clock);
    const auto band1 = TraceLines(PatternTraceRun(Options(104, 1, clock)), "bullet");
    const auto band2 = TraceLines(PatternTraceRun(Options(104, 2, clock)), "bullet");
    ASSERT_EQ(band1.size(), 4u);
    ASSERT_EQ(band2.size(), 8u);
    struct Gun {
        float x, y;
        int kind;
        float speed, heading;
    };
    const Gun guns[] = {
        {kEnemyX + 50.0f, kEnemyY, 4, 3.6f, right},         {kEnemyX - 50.0f, kEnemyY, 4, 3.6f, left},
        {kEnemyX + 50.0f, kEnemyY, 2, 3.2f, right},         {kEnemyX - 50.0f, kEnemyY, 2, 3.2f, left},
        {kEnemyX + 20.0f, kEnemyY - 40.0f, 4, 3.6f, right}, {kEnemyX - 20.0f, kEnemyY - 40.0f, 4, 3.6f, left},
        {kEnemyX + 20.0f, kEnemyY - 40.0f, 2, 3.2f, right}, {kEnemyX - 20.0f, kEnemyY - 40.0f, 2, 3.2f, left},
    };
    for (size_t i = 0; i < band2.size(); ++i) {
        ExpectShot(band2[i], guns[i].kind, guns[i].speed, guns[i].heading, 400, 10);
        ExpectOrigin(band2[i], guns[i].x, guns[i].y);
        if (i < band1.size()) {
            EXPECT_EQ(band1[i].substr(band1[i].find(' ')), band2[i].substr(band2[i].find(' ')));
        }
    }
}

// ------------------------------------------------------------------ rings

namespace {

void ExpectRing(const std::vector<std::string>& shots, int kind, float speed, float base, int step, int life,
                int owner = 10)
{
    ASSERT_EQ(shots.size(), static_cast<size_t>((360 + step - 1) / step));
    for (size_t i = 0; i < shots.size(); ++i) {
        ExpectShot(shots[i], kind, speed, base + DegToRad(static_cast<int>(i) * step), life, owner);
    }
}

}  // namespace

TEST(ScatteredChildren, ShiftedRingsTurnOnSecondMultiple)
{
    struct Case {
        int id, difficulty, clock, once;
        int shift, step;
    };
    const Case cases[] = {
        {105, 0, 40, 0, 20, 40},  {105, 0, 20, 0, 0, 40},  {105, 1, 240, 0, 20, 40}, {105, 1, 16, 0, 0, 40},
        {105, 1, 30, 1, 20, 40},  {105, 1, 31, 1, 0, 40},  {105, 2, 140, 0, 15, 30}, {105, 2, 14, 0, 0, 30},
        {105, 3, 20, 0, 15, 30},  {105, 3, 10, 0, 0, 30},  {106, 0, 80, 0, 20, 40},  {106, 0, 60, 0, 0, 40},
        {106, 1, 240, 0, 20, 40}, {106, 1, 48, 0, 0, 40},  {106, 2, 140, 0, 15, 30}, {106, 3, 30, 0, 0, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty << " clock " << c.clock);
        const auto shots = TraceLines(PatternTraceRun(Options(c.id, c.difficulty, c.clock, c.once)), "bullet");
        const float base = c.shift == 0 ? EnemyAim() : EnemyAim() + DegToRad(c.shift);
        ExpectRing(shots, c.id == 105 ? 1 : 2, 1.6f, base, c.step, 800, c.once != 0 ? -1 : 10);
    }
    EXPECT_TRUE(TraceEmissions(TraceCall(105, 1, 30)).empty());
    EXPECT_TRUE(TraceEmissions(TraceCall(106, 3, 15)).empty());
}

TEST(ScatteredChildren, FlankingChildrenThenFixedRing)
{
    const float aim = EnemyAim();
    {
        const auto lines = TraceEmissions(PatternTraceRun(Options(107, 0, 80)));
        ASSERT_EQ(lines.size(), 26u);
        ExpectTraceChild(lines[0], 23, kEnemyX, kEnemyY, aim + DegToRad(30), aim + DegToRad(45));
        ExpectTraceChild(lines[1], 23, kEnemyX, kEnemyY, aim - DegToRad(30), aim - DegToRad(45));
        ExpectRing({lines.begin() + 2, lines.end()}, 4, 1.2f, 0.0f, 15, 800);
    }
    {
        const auto lines = TraceEmissions(PatternTraceRun(Options(107, 1, 40)));
        ASSERT_EQ(lines.size(), 26u);
        ExpectTraceChild(lines[0], 23, kEnemyX, kEnemyY, aim + DegToRad(30), aim + DegToRad(30));
        ExpectTraceChild(lines[1], 23, kEnemyX, kEnemyY, aim - DegToRad(30), aim - DegToRad(30));
        ExpectRing({lines.begin() + 2, lines.end()}, 4, 1.2f, 0.0f, 15, 800);
    }
    {
        const auto lines = TraceEmissions(PatternTraceRun(Options(107, 2, 40)));
        ASSERT_EQ(lines.size(), 39u);
        ExpectTraceChild(lines[0], 23, kEnemyX, kEnemyY, aim, aim);
        ExpectTraceChild(lines[1], 23, kEnemyX, kEnemyY, aim + DegToRad(45), aim + DegToRad(45));
        ExpectTraceChild(lines[2], 23, kEnemyX, kEnemyY, aim - DegToRad(45), aim - DegToRad(45));
        ExpectRing({lines.begin() + 3, lines.end()}, 4, 1.2f, 0.0f, 10, 800);
    }
}

TEST(ScatteredChildren, AimOfExactlyZeroGivesTemplateAngles)
{
    // The player straight to the right at the enemy's height.
    TraceOptions o = Options(107, 2, 40);
    o.playerX = 500.0f;
    o.playerY = kEnemyY;
    const auto lines = PatternTraceRun(o);
    const auto children = TraceLines(lines, "enemy");
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(TraceField(children[0], "aim"), "0");
    const auto states = TraceLines(lines, "state");
    ASSERT_EQ(states.size(), 4u);  // the running enemy in slot 10, its children after it
    EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
    EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
    EXPECT_EQ(TraceField(states[2], "aim"), G9(DegToRad(45)));
}

TEST(ScatteredChildren, DenseRingsEveryThirdFrame)
{
    struct Case {
        int difficulty, step;
        float speed;
    };
    for (const Case c : {Case{0, 30, 1.8f}, Case{1, 24, 1.6f}, Case{2, 18, 1.6f}}) {
        SCOPED_TRACE(c.difficulty);
        ExpectRing(TraceLines(PatternTraceRun(Options(110, c.difficulty, 9)), "bullet"), 3, c.speed, EnemyAim(),
                   c.step, 800);
        EXPECT_TRUE(TraceEmissions(PatternTraceRun(Options(110, c.difficulty, 10))).empty());
    }
}

// ------------------------------------------------------------------ checklist

TEST(ScatteredChildren, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    const int deadInBand3[] = {104, 107, 108, 109, 110};
    for (int base = 101; base <= 110; ++base) {
        for (int d = 0; d < 4; ++d) {
            bool dead = false;
            for (int id : deadInBand3) {
                dead = dead || (d == 3 && id == base);
            }
            SCOPED_TRACE(testing::Message() << "base " << base << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * d), !dead);
            bool fired = false;
            for (int clock = 0; clock <= 240 && !(fired && !dead); ++clock) {
                for (int once = 0; once < 2; ++once) {
                    TraceOptions o = Options(base, d, clock, once);
                    o.slot = 20;  // a multiple of both 4 and 5, for base id 102
                    fired = fired || !TraceEmissions(PatternTraceRun(o)).empty();
                }
            }
            EXPECT_EQ(fired, !dead);
        }
    }
}
