// Side-gun volleys, offset rings, chevrons and child rings (base ids 35 to
// 49), checked through the trace of single calls. Expected values are
// worked out here with the same single-precision rules the game uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "game/play.h"
#include "game/patterns/pattern_kit.h"
#include "tests/game/patterns/trace_util.h"

namespace {

float AimFromPoint(const TraceOptions& o, float x, float y)
{
    return TraceAim(x, y, o.playerX, o.playerY);
}

// An enemy off the player's axis, so that every side point and aim differs.
TraceOptions Options(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = 300.0f, .enemyY = 120.0f, .enemyAim = 1.2f, .enemyMove = 2.0f, .playerX = 250.0f, .playerY = 420.0f}, id, difficulty, clock, once);
}

struct Want {
    int kind;
    float speed;
    float heading;
    float A;
    float x0;
    float y0;
    int life = 400;
    float C = 0.0f;
    float dr2 = 0.0f;
};

void ExpectBullet(const std::string& line, const Want& w, int owner)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "owner"), owner);
    EXPECT_EQ(TraceInt(line, "kind"), w.kind);
    EXPECT_EQ(TraceInt(line, "life"), w.life);
    EXPECT_EQ(TraceField(line, "dr1"), G9(w.speed));
    EXPECT_EQ(TraceField(line, "B"), G9(w.heading));
    EXPECT_EQ(TraceField(line, "A"), G9(w.A));
    EXPECT_EQ(TraceField(line, "x0"), G9(w.x0));
    EXPECT_EQ(TraceField(line, "y0"), G9(w.y0));
    EXPECT_EQ(TraceField(line, "C"), G9(w.C));
    EXPECT_EQ(TraceField(line, "dr2"), G9(w.dr2));
    EXPECT_EQ(TraceField(line, "r1"), "0");
    EXPECT_EQ(TraceField(line, "age"), "0");
}

// The side point 30 pixels off the enemy, a quarter turn off the aim.
void SidePoint(const TraceOptions& o, int quarter, float* x, float* y)
{
    const float a = AimFromPoint(o, o.enemyX, o.enemyY) + DegToRad(quarter);
    *x = o.enemyX + 30.0f * TraceCos(a);
    *y = o.enemyY + 30.0f * TraceSin(a);
}

std::vector<int> RndValues(const std::vector<std::string>& lines)
{
    std::vector<int> values;
    for (const std::string& line : TraceLines(lines, "rnd")) {
        EXPECT_EQ(line.compare(0, 9, "rnd -4 4 "), 0) << line;
        values.push_back(std::stoi(line.substr(line.find("-> ") + 3)));
    }
    return values;
}

}  // namespace

// ------------------------------------------------------------------ child rings and arcs

TEST(SideGuns, Child35TakesTheAimAngleAndBand3AddsARing)
{
    const TraceOptions o = Options(35, 3, 36);
    const auto lines = PatternTraceRun(o);
    const auto enemies = TraceLines(lines, "enemy");
    ASSERT_EQ(enemies.size(), 1u);
    EXPECT_EQ(enemies[0], "enemy template=18 x=300 y=120 aim=" + G9(1.2f) + " move=" + G9(1.2f) + " slot=-1 -> 11");
    EXPECT_EQ(lines[0].compare(0, 6, "enemy "), 0);  // the child comes before the ring
    const auto bullets = TraceLines(lines, "bullet");
    ASSERT_EQ(bullets.size(), 18u);
    for (int i = 0; i < 18; ++i) {
        ExpectBullet(bullets[i], {1, 2.4f, DegToRad(20 * i), 0.0f, 300.0f, 120.0f}, 10);
    }
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(35, 1, 18)), "bullet").size(), 6u);
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(35, 2, 18)), "bullet").size(), 12u);
    EXPECT_TRUE(TraceLines(PatternTraceRun(Options(35, 0, 18)), "bullet").empty());
}

TEST(SideGuns, ChildAnglesOfExactlyZeroBecomeTheTemplates)
{
    TraceOptions o = Options(35, 0, 18);
    o.enemyAim = 0.0f;
    auto lines = PatternTraceRun(o);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state slot=11 step=0 hp=1018 x=300 y=120 aim=0.25 move=0.5"),
              lines.end());

    // Base id 44: only the child at k = 0 keeps the aim angle 0.0.
    o.id = 44;
    o.clock = 20;
    lines = PatternTraceRun(o);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "state slot=11 step=0 hp=1082 x=300 y=120 aim=0.25 move=0.5"),
              lines.end());
    const std::string turned = G9(DegToRad(120));
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "state slot=12 step=0 hp=1082 x=300 y=120 aim=" + turned + " move=" + turned),
              lines.end());
}

TEST(SideGuns, ChildCirclesAndStarsStandWhereTheirRowsPutThem)
{
    struct Case {
        int id, difficulty, templateId, count, step;
        float radius;
    };
    for (const Case c : {Case{41, 0, 78, 4, 90, 50.0f}, Case{41, 3, 78, 12, 30, 60.0f}, Case{43, 2, 79, 10, 36, 80.0f},
                         Case{43, 3, 79, 15, 24, 100.0f}}) {
        const TraceOptions o = Options(c.id, c.difficulty, 15);
        const auto lines = PatternTraceRun(o);
        const auto enemies = TraceLines(lines, "enemy");
        ASSERT_EQ(enemies.size(), static_cast<size_t>(c.count)) << c.id;
        for (int i = 0; i < c.count; ++i) {
            const float a = DegToRad(i * c.step);
            EXPECT_EQ(TraceInt(enemies[i], "template"), c.templateId);
            EXPECT_EQ(TraceField(enemies[i], "x"), G9(300.0f + c.radius * TraceCos(a)));
            EXPECT_EQ(TraceField(enemies[i], "y"), G9(120.0f + c.radius * TraceSin(a)));
            EXPECT_EQ(TraceField(enemies[i], "aim"), "0");
            EXPECT_EQ(TraceField(enemies[i], "move"), "0");
        }
        const auto effects = TraceLines(lines, "effect");
        ASSERT_EQ(effects.size(), c.id == 43 ? 1u : 0u);
        if (c.id == 43) {
            EXPECT_EQ(lines[c.count], "effect kind=22 x=300 y=120 angle=0 age=0");  // after the children
        }
    }

    // 3044: six children from the aim angle, read once, as both angles.
    const auto enemies = TraceLines(PatternTraceRun(Options(44, 3, 12)), "enemy");
    ASSERT_EQ(enemies.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        const std::string a = G9(1.2f + DegToRad(60 * i));
        EXPECT_EQ(enemies[i], "enemy template=82 x=300 y=120 aim=" + a + " move=" + a + " slot=-1 -> " +
                                  std::to_string(11 + i));
    }
}

TEST(SideGuns, Burst43HasNoGate)
{
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(43, 3, 7)), "enemy").size(), 15u);
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(43, 0, 1)), "enemy").size(), 3u);
}

TEST(SideGuns, Arc47ReachesFurtherInHigherBands)
{
    const auto enemies = TraceLines(PatternTraceRun(Options(47, 3, 20)), "enemy");
    ASSERT_EQ(enemies.size(), 11u);
    const std::string down = G9(DegToRad(90));
    for (int i = 0; i < 11; ++i) {
        const float a = DegToRad(-10 + 20 * i);
        EXPECT_EQ(TraceField(enemies[i], "x"), G9(300.0f + 150.0f * TraceCos(a)));
        EXPECT_EQ(TraceField(enemies[i], "y"), G9(120.0f + 50.0f * TraceSin(a)));
        EXPECT_EQ(TraceField(enemies[i], "aim"), down);
        EXPECT_EQ(TraceField(enemies[i], "move"), down);
    }
    // The two end children stand above the enemy, the others below.
    EXPECT_NEAR(TraceFloat(enemies[0], "y"), 120.0f - 8.68f, 0.01f);
    EXPECT_NEAR(TraceFloat(enemies[10], "y"), 120.0f - 8.68f, 0.01f);
    EXPECT_GT(TraceFloat(enemies[1], "y"), 120.0f);
    EXPECT_EQ(TraceFloat(enemies[5], "y"), 170.0f);  // k = 90, straight below

    EXPECT_EQ(TraceLines(PatternTraceRun(Options(47, 0, 20)), "enemy").size(), 5u);
    const auto band1 = TraceLines(PatternTraceRun(Options(47, 1, 20)), "enemy");
    ASSERT_EQ(band1.size(), 9u);
    EXPECT_EQ(TraceField(band1[0], "x"), G9(300.0f + 150.0f * TraceCos(DegToRad(10))));
}

TEST(SideGuns, FullEnemyTableSendsEveryChildToSlot10)
{
    TraceOptions o = Options(41, 1, 15);
    o.slot = 5;
    for (int s = 10; s < 300; ++s) {
        o.others.push_back({s, 200.0f, 50.0f, 0.0f});
    }
    const auto enemies = TraceLines(PatternTraceRun(o), "enemy");
    ASSERT_EQ(enemies.size(), 6u);
    for (const std::string& e : enemies) {
        EXPECT_EQ(e.substr(e.size() - 13), "slot=-1 -> 10");
    }
}

// ------------------------------------------------------------------ side guns

TEST(SideGuns, Volley3036FiresEachGunInFullThenTwoRings)
{
    const TraceOptions o = Options(36, 3, 80);
    const auto bullets = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(bullets.size(), 120u);
    int n = 0;
    for (const int quarter : {90, -90}) {
        float px = 0.0f, py = 0.0f;
        SidePoint(o, quarter, &px, &py);
        const float aim = AimFromPoint(o, px, py);
        for (const float h : {aim, aim + DegToRad(30), aim - DegToRad(30)}) {
            for (int i = 0; i < 8; ++i) {
                const float speed = F32Add(3.0, F32Mul(0.2, static_cast<float>(i)));
                ExpectBullet(bullets[n++], {12, speed, h, h, px, py}, 10);
            }
        }
    }
    for (int k = 0; k < 360; k += 10) {
        ExpectBullet(bullets[n++], {4, 3.6f, DegToRad(k), DegToRad(k), 300.0f, 120.0f}, 10);
    }
    for (int k = 5; k < 365; k += 10) {
        ExpectBullet(bullets[n++], {4, 3.0f, DegToRad(k), DegToRad(k), 300.0f, 120.0f}, 10);
    }
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(36, 2, 40)), "bullet").size(), 84u);
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(36, 1, 40)), "bullet").size(), 30u);
    const auto band0 = TraceLines(PatternTraceRun(Options(36, 0, 40)), "bullet");
    ASSERT_EQ(band0.size(), 18u);
    EXPECT_EQ(TraceField(band0[2], "dr1"), G9(2.5f + 0.2f * 2.0f));
}

TEST(SideGuns, Guns38DrawOneJitterPerBurstShotPlusSideFirst)
{
    const TraceOptions o = Options(38, 2, 80, 1);
    const auto lines = PatternTraceRun(o);
    const auto bullets = TraceLines(lines, "bullet");
    const std::vector<int> draws = RndValues(lines);
    ASSERT_EQ(bullets.size(), 2u * (54u + 10u));
    ASSERT_EQ(draws.size(), 20u);
    int n = 0;
    for (int side = 0; side < 2; ++side) {
        float px = 0.0f, py = 0.0f;
        SidePoint(o, side == 0 ? 90 : -90, &px, &py);
        const float aim = AimFromPoint(o, px, py);
        for (const float speed : {2.0f, 2.2f, 2.4f}) {
            for (int k = 0; k < 360; k += 20) {
                ExpectBullet(bullets[n++], {3, speed, aim + DegToRad(k), aim, px, py}, -1);
            }
        }
        for (int i = 0; i < 10; ++i) {
            const float speed = F32Add(2.5, F32Mul(0.1, static_cast<float>(i)));
            ExpectBullet(bullets[n++], {5, speed, aim + DegToRad(draws[side * 10 + i]), aim, px, py}, -1);
        }
    }
    // Each draw comes just before its own shot.
    EXPECT_EQ(lines[54].compare(0, 4, "rnd "), 0);
    EXPECT_EQ(lines[55].compare(0, 7, "bullet "), 0);

    EXPECT_EQ(RndValues(PatternTraceRun(Options(38, 1, 80))).size(), 10u);
    EXPECT_EQ(RndValues(PatternTraceRun(Options(38, 3, 60))).size(), 20u);
    const auto band0 = PatternTraceRun(Options(38, 0, 80));
    EXPECT_TRUE(TraceLines(band0, "rnd").empty());
    EXPECT_EQ(TraceLines(band0, "bullet").size(), 24u);
}

// ------------------------------------------------------------------ aimed fans, rings, volleys

TEST(SideGuns, AimedFansAndSingleShots)
{
    const TraceOptions o = Options(37, 3, 40);
    const float aim = AimFromPoint(o, 300.0f, 120.0f);
    auto bullets = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(bullets.size(), 5u);
    const int offsets[] = {0, 30, -30, 60, -60};
    for (int i = 0; i < 5; ++i) {
        ExpectBullet(bullets[i], {2, 3.2f, aim + DegToRad(offsets[i]), 0.0f, 300.0f, 120.0f}, 10);
    }
    bullets = TraceLines(PatternTraceRun(Options(46, 2, 20)), "bullet");
    ASSERT_EQ(bullets.size(), 1u);
    ExpectBullet(bullets[0], {3, 2.4f, aim, aim, 300.0f, 120.0f, 500}, 10);
    bullets = TraceLines(PatternTraceRun(Options(48, 3, 4)), "bullet");
    ASSERT_EQ(bullets.size(), 1u);
    ExpectBullet(bullets[0], {12, 7.0f, aim, aim, 300.0f, 120.0f, 500}, 10);
}

TEST(SideGuns, DoubleRingsAboutTheAimAndTheMoveAngleRing)
{
    const TraceOptions o = Options(39, 3, 15);
    const float aim = AimFromPoint(o, 300.0f, 120.0f);
    auto bullets = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(bullets.size(), 30u);
    for (int i = 0; i < 15; ++i) {
        ExpectBullet(bullets[i], {4, 2.8f, aim + DegToRad(24 * i), 0.0f, 300.0f, 120.0f}, 10);
        ExpectBullet(bullets[15 + i], {6, 2.4f, aim + DegToRad(12 + 24 * i), 0.0f, 300.0f, 120.0f}, 10);
    }
    bullets = TraceLines(PatternTraceRun(Options(42, 2, 12)), "bullet");
    ASSERT_EQ(bullets.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const float h = 2.0f + DegToRad(120 * i);
        ExpectBullet(bullets[i], {12, 3.0f, h, h, 300.0f, 120.0f}, 10);
    }
}

TEST(SideGuns, Volley3040RingIsTurnedByTheAimFromItsLastPoint)
{
    TraceOptions o = Options(40, 3, 20);
    o.playerX = 300.0f;  // straight below the enemy
    const auto bullets = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(bullets.size(), 14u);
    for (int i = 0; i < 4; ++i) {
        const float a = DegToRad(60 * i);
        const float qx = 300.0f + 50.0f * TraceCos(a);
        const float qy = 120.0f + 50.0f * TraceSin(a);
        ExpectBullet(bullets[i], {3, 3.6f, AimFromPoint(o, qx, qy), 0.0f, qx, qy}, 10);
    }
    const float qx = 300.0f + 50.0f * TraceCos(DegToRad(180));
    const float qy = 120.0f + 50.0f * TraceSin(DegToRad(180));
    const float turn = AimFromPoint(o, qx, qy);
    EXPECT_NE(G9(turn), G9(DegToRad(90)));
    for (int i = 0; i < 10; ++i) {
        ExpectBullet(bullets[4 + i], {1, 3.0f, turn + DegToRad(36 * i), 0.0f, 300.0f, 120.0f}, 10);
    }
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(40, 2, 20)), "bullet").size(), 5u);
}

TEST(SideGuns, ChevronsOpenFromTheAimMinusSideFirst)
{
    const TraceOptions o = Options(45, 3, 15);
    const float aim = AimFromPoint(o, 300.0f, 120.0f);
    auto bullets = TraceLines(PatternTraceRun(o), "bullet");
    ASSERT_EQ(bullets.size(), 20u);
    for (int n = 0; n < 10; ++n) {
        const float speed = F32Sub(3.4, F32Mul(0.25, static_cast<float>(n)));
        ExpectBullet(bullets[2 * n], {11, speed, aim - DegToRad(15 * n), aim - DegToRad(18 * n), 300.0f, 120.0f}, 10);
        ExpectBullet(bullets[2 * n + 1], {11, speed, aim + DegToRad(15 * n), aim + DegToRad(18 * n), 300.0f, 120.0f},
                     10);
    }
    bullets = TraceLines(PatternTraceRun(Options(45, 1, 25)), "bullet");
    ASSERT_EQ(bullets.size(), 16u);
    EXPECT_EQ(bullets[0].substr(bullets[0].find(" kind")), bullets[1].substr(bullets[1].find(" kind")));
    ExpectBullet(bullets[15], {11, F32Sub(3.4, F32Mul(0.25, 7.0f)), aim + DegToRad(140), aim + DegToRad(140), 300.0f, 120.0f}, 10);
}

TEST(SideGuns, TwinRings49TurnWithTheClockBroughtToAMultipleOf20)
{
    for (const int once : {0, 1}) {
        const int clock = once ? 59 : 40;
        const auto bullets = TraceLines(PatternTraceRun(Options(49, 3, clock, once)), "bullet");
        ASSERT_EQ(bullets.size(), 48u);
        const float t = DegToRad(40);
        const int owner = once ? -1 : 10;
        for (int i = 0; i < 15; ++i) {
            const float c = DegToRad(24 * i) + t;
            ExpectBullet(bullets[i], {6, 2.8f, DegToRad(160) - t, 0.0f, 250.0f, 100.0f, 1000, c, 1.5f}, owner);
            ExpectBullet(bullets[15 + i], {6, 2.8f, DegToRad(20) + t, 0.0f, 350.0f, 100.0f, 1000, c, 1.5f}, owner);
        }
        for (int i = 0; i < 18; ++i) {
            const float h = DegToRad(20 * i);
            ExpectBullet(bullets[30 + i], {6, 2.0f, h, h, 300.0f, 120.0f, 500}, owner);
        }
    }
    EXPECT_EQ(TraceLines(PatternTraceRun(Options(49, 0, 20)), "bullet").size(), 18u);
}

// ------------------------------------------------------------------ gates and the checklist

TEST(SideGuns, EveryLiveIdFiresOnItsGateAndTheDeathPathOnly)
{
    // Base id -> gate period per band; 43 has none.
    const int periods[15][4] = {{18, 18, 18, 18}, {40, 40, 40, 40}, {50, 50, 50, 40}, {80, 80, 80, 60},
                                {15, 15, 15, 15}, {40, 30, 20, 20}, {15, 15, 15, 15}, {12, 12, 12, 12},
                                {0, 0, 0, 0},     {20, 15, 15, 12}, {30, 25, 18, 15}, {40, 20, 20, 20},
                                {20, 20, 20, 20}, {5, 5, 4, 4},     {20, 20, 20, 20}};
    for (int base = 35; base <= 49; ++base) {
        for (int d = 0; d < 4; ++d) {
            SCOPED_TRACE("base " + std::to_string(base) + " band " + std::to_string(d));
            const int p = periods[base - 35][d];
            const auto fired = [&](int clock, int once) {
                const auto lines = PatternTraceRun(Options(base, d, clock, once));
                return lines.size() > 1;  // anything besides the running enemy's state line
            };
            if (p == 0) {
                EXPECT_TRUE(fired(1, 0));
                EXPECT_TRUE(fired(2, 1));
                EXPECT_TRUE(TraceLines(PatternTraceRun(Options(base, d, 7, 0)), "rnd").empty());
                continue;
            }
            EXPECT_TRUE(fired(p, 0));
            EXPECT_TRUE(fired(3 * p, 0));
            EXPECT_FALSE(fired(p - 1, 0));
            EXPECT_FALSE(fired(p + 1, 0));
            EXPECT_TRUE(fired(p + 1, 1));
            const auto deathLines = PatternTraceRun(Options(base, d, p + 1, 1));
            // Only the jittered bursts of base id 38 draw random numbers.
            EXPECT_EQ(TraceLines(deathLines, "rnd").empty(), base != 38 || d == 0);
            for (const std::string& b : TraceLines(deathLines, "bullet")) {
                EXPECT_EQ(TraceInt(b, "owner"), -1);
            }
        }
    }
}
