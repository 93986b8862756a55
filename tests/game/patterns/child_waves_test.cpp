// Base ids 141 to 163: drop-ins from above, children from the enemy,
// crosses, muzzle volleys, beam lines, circles about the player, the bottom
// fan and the formation called by the step index. Every call's emissions
// are compared line by line with a list built here in call order, its
// numbers worked out with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/child_scene.h"
#include "tests/game/patterns/trace_util.h"

namespace {

using namespace childscene;

struct Point {
    float x, y;
};

// The point d pixels from (x, y) along a.
Point Along(float x, float y, float a, int d)
{
    return {TracePlusAlong(x, d, TraceCos(a)), TracePlusAlong(y, d, TraceSin(a))};
}

}  // namespace

// ------------------------------------------------------------------ drop-ins from above

namespace {

// x, then y, then the tilt toward the middle.
void ExpectDropPoint(Expected& e, int tiltMax, Point* p, float* tilt)
{
    const int x = e.Rnd(120, 520);
    const int y = e.Rnd(-90, -40);
    const int r = e.Rnd(0, tiltMax);
    *p = {static_cast<float>(x), static_cast<float>(y)};
    *tilt = x >= 320 ? TraceRad(r) : -TraceRad(r);
}

}  // namespace

TEST(ChildWaves, DropInsTiltTowardTheMiddleAndAlternateTemplates)
{
    struct Case {
        int id, difficulty, clock, once, templateId;
    };
    const Case cases[] = {
        {141, 0, 10, 0, 67}, {141, 0, 20, 0, 66},  {141, 1, 30, 1, 67}, {141, 2, 8, 0, 67},  {141, 3, 16, 0, 66},
        {144, 0, 3, 0, 69},  {144, 1, 4, 0, 68},   {144, 2, 7, 1, 69},  {144, 3, 12, 0, 68},
    };
    for (const Case& c : cases) {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty << " clock " << c.clock << " seed "
                                            << seed);
            TraceOptions o = Options(c.id, c.difficulty, c.clock, c.once);
            o.seed = seed;
            Expected e(TraceEmissions(PatternTraceRun(o)), OwnerOf(c.once));
            Point p{};
            float tilt = 0.0f;
            ExpectDropPoint(e, c.id == 141 ? 10 : 20, &p, &tilt);
            if (c.id == 141) {
                e.Child(c.templateId, p.x, p.y, TraceRad(90), TraceRad(90) + tilt);
            } else {
                e.Child(c.templateId, p.x, p.y, TraceRad(90) + tilt, TraceRad(90) + tilt);
            }
            e.Check();
        }
    }
    // Strict: nothing, not even a draw, off the period on either path.
    EXPECT_TRUE(Emit(141, 0, 15, 1).empty());
    EXPECT_TRUE(Emit(141, 2, 12).empty());
}

TEST(ChildWaves, DropInAtTheMiddleTiltsByPlusR)
{
    // Find a seed whose first draw puts the child at x = 320 with a tilt.
    bool found = false;
    for (uint32_t seed = 1; seed < 20000 && !found; ++seed) {
        TraceOptions o = Options(144, 0, 2);
        o.seed = seed;
        const auto lines = TraceEmissions(PatternTraceRun(o));
        int lo = 0, hi = 0, x = 0, r = 0;
        if (lines.size() != 4 || std::sscanf(lines[0].c_str(), "rnd %d %d -> %d", &lo, &hi, &x) != 3 || x != 320 ||
            std::sscanf(lines[2].c_str(), "rnd %d %d -> %d", &lo, &hi, &r) != 3 || r == 0) {
            continue;
        }
        found = true;
        EXPECT_EQ(TraceField(lines[3], "move"), G9(TraceRad(90) + TraceRad(r))) << lines[3];
    }
    EXPECT_TRUE(found);
}

// ------------------------------------------------------------------ children from the enemy

TEST(ChildWaves, ChildrenBehindTheAimAngle)
{
    const float pi = 3.1415927f;
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const int period = d == 3 ? 3 : 5;
        Expected one(Emit(145, d, 6 * period), kSlot);
        const float a = TraceRad(one.Rnd(-40, 40)) + kAimAngle + pi;
        one.Child(70, kEnemyX, kEnemyY, a, a);
        one.Check();
        EXPECT_TRUE(Emit(145, d, 6 * period + 1, 1).empty());

        // Every call, also on the death path.
        Expected fan(Emit(146, d, 7, 1), -1);
        for (int k = -60; k <= 60; k += 20) {
            const float b = TraceRad(k) + kAimAngle + pi;
            fan.Child(71, kEnemyX, kEnemyY, b, b);
        }
        if (d == 3) {
            for (int k = 0; k < 360; k += 18) {
                fan.Shot(kEnemyX, kEnemyY, 12, 400, 3.0f, TraceRad(k), TraceRad(k));
            }
        }
        fan.Sound(19);
        fan.Check();
    }
}

TEST(ChildWaves, TriosPairsAndFansFromTheEnemy)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        if (d < 3) {
            Expected trio(Emit(147, d, 160), kSlot);
            for (const float dx : {0.0f, 40.0f, -40.0f}) {
                trio.Child(72, kEnemyX + dx, kEnemyY, TraceRad(270), TraceRad(270));
            }
            trio.Check();
            EXPECT_TRUE(Emit(147, d, 100, 1).empty());

            Expected pair(Emit(149, d, 3), kSlot);
            pair.Child(76, kEnemyX, kEnemyY, TraceRad(270), TraceRad(90));
            pair.Child(77, kEnemyX, kEnemyY, TraceRad(270), TraceRad(90));
            pair.Check();
        }
        const int from[] = {20, -10, -30, -30};
        const int to[] = {230, 240, 250, 250};
        const int step[] = {70, 50, 40, 40};
        Expected fan(Emit(150, d, 16), kSlot);
        fan.Child(84, kEnemyX, kEnemyY + 40.0f, TraceRad(90), TraceRad(90));
        for (int k = from[d]; k < to[d]; k += step[d]) {
            fan.Child(124, kEnemyX, kEnemyY, TraceRad(k), TraceRad(k));
        }
        fan.Check();
        EXPECT_TRUE(Emit(150, d, 12, 1).empty());
    }
}

TEST(ChildWaves, TurningAndRandomlyFacingChildren)
{
    const int turnPeriods[] = {20, 15, 10, 8};
    const int fallPeriods[] = {15, 12, 9, 6};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        for (const int clock : {4 * turnPeriods[d], 9 * turnPeriods[d]}) {
            Expected e(Emit(151, d, clock), kSlot);
            e.Child(85, kEnemyX, kEnemyY, AimFromPoint(kEnemyX, kEnemyY), TraceRad(clock / 15 * 30));
            e.Check();
        }
        EXPECT_TRUE(Emit(151, d, turnPeriods[d] + 1, 1).empty());

        Expected fall(Emit(152, d, 2 * fallPeriods[d]), kSlot);
        fall.Child(86, kEnemyX, kEnemyY, TraceRad(fall.Rnd(0, 360)), TraceRad(90));
        fall.Check();
        EXPECT_TRUE(Emit(152, d, 2 * fallPeriods[d] + 1).empty());
    }
}

TEST(ChildWaves, DropBelowWithRingsInTheHigherBands)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(156, d, 36, 1), -1);
        e.Child(89, kEnemyX, kEnemyY + 40.0f, TraceRad(90), TraceRad(90));
        if (d == 2) {
            const float aim = AimFromPoint(kEnemyX, kEnemyY);
            for (int k = 0; k < 360; k += 24) {
                e.Shot(kEnemyX, kEnemyY, 3, 1000, 2.0f, aim + TraceRad(k));
            }
        } else if (d == 3) {
            for (int k = 0; k < 360; k += 18) {
                e.Shot(kEnemyX, kEnemyY, 3, 1000, 2.0f, kMoveAngle + TraceRad(k));
            }
        }
        e.Check();
        EXPECT_TRUE(Emit(156, d, 20, 1).empty());
    }
}

TEST(ChildWaves, MuzzleChildAndFlankingChildren)
{
    const int periods[] = {40, 40, 35, 30};
    const Point m = Along(kEnemyX, kEnemyY, kAimAngle, 26);
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(159, d, 2 * periods[d]), kSlot);
        e.Child(95, m.x, m.y, kAimAngle, kAimAngle);
        e.Check();
        EXPECT_TRUE(Emit(159, d, periods[d] + 1).empty());
        EXPECT_EQ(Emit(159, d, periods[d] + 1, 1).size(), 1u);

        Expected flanks(Emit(161, d, 45), kSlot);
        flanks.Effect(kEnemyX - 40.0f, kEnemyY);
        flanks.Child(102, kEnemyX - 40.0f, kEnemyY, TraceRad(90), TraceRad(90));
        flanks.Effect(kEnemyX + 40.0f, kEnemyY);
        flanks.Child(103, kEnemyX + 40.0f, kEnemyY, TraceRad(90), TraceRad(90));
        flanks.Check();
        EXPECT_TRUE(Emit(161, d, 40).empty());
    }
}

TEST(ChildWaves, FullTableChildrenTakeSlotTenAndTheAimAngleIsReadPerChild)
{
    // The running enemy in slot 10 and every other slot taken: each child
    // overwrites the running enemy, whose aim angle the next child reads.
    TraceOptions o = Options(146, 0, 5);
    for (int s = 11; s < kEnemySlots; ++s) {
        o.others.push_back({s, 200.0f, 200.0f, 0.0f});
    }
    Expected e(TraceEmissions(PatternTraceRun(o)), kSlot, 10, 0);
    float aim = kAimAngle;
    for (int k = -60; k <= 60; k += 20) {
        const float a = TraceRad(k) + aim + 3.1415927f;
        e.Child(71, kEnemyX, kEnemyY, a, a);
        aim = a;
    }
    e.Sound(19);
    e.Check();
}

// ------------------------------------------------------------------ crosses and muzzle volleys

TEST(ChildWaves, CrossesOfFourOnFixedHeadings)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const int period = d == 3 ? 50 : 60;
        const float speed = d == 3 ? 3.6f : 3.0f;
        Expected diagonal(Emit(142, d, period), kSlot);
        for (const float h : {TraceRad(90) + TraceRad(60), TraceRad(90) - TraceRad(60), TraceRad(90) + TraceRad(120), TraceRad(90) - TraceRad(120)}) {
            diagonal.Shot(kEnemyX, kEnemyY, 12, 400, speed, h, h);
        }
        diagonal.Check();
        Expected square(Emit(143, d, 2 * period), kSlot);
        for (const int deg : {90, 180, 0, 270}) {
            square.Shot(kEnemyX, kEnemyY, 11, 400, speed, TraceRad(deg), TraceRad(deg));
        }
        square.Check();
        EXPECT_TRUE(Emit(142, d, period + 10).empty());
        EXPECT_TRUE(Emit(143, d, period + 10).empty());
    }
}

TEST(ChildWaves, MuzzleVolleysOnTheAimAngle)
{
    const float a = kAimAngle;
    const Point m = Along(kEnemyX, kEnemyY, a, 26);
    {
        Expected e(Emit(153, 0, 16), kSlot);
        e.Shot(m.x, m.y, 4, 500, 1.8f, a);
        e.Check();
    }
    struct Trio {
        int difficulty;
        float lead, side, spread;
    };
    for (const Trio t : {Trio{1, 2.0f, 1.8f, 0.005f}, Trio{2, 2.0f, 1.8f, 0.01f}, Trio{3, 2.6f, 2.4f, 0.01f}}) {
        SCOPED_TRACE(t.difficulty);
        Expected e(Emit(153, t.difficulty, 3, 1), -1);
        e.Shot(m.x, m.y, 4, 500, t.lead, a);
        e.Shot(m.x, m.y, 2, 500, t.side, a + t.spread);
        e.Shot(m.x, m.y, 2, 500, t.side, a - t.spread);
        e.Check();
        EXPECT_TRUE(Emit(153, t.difficulty, 12).empty());
    }
    struct Pair {
        int difficulty, period;
        float spread, side, aimed;
    };
    const float fromMuzzle = AimFromPoint(m.x, m.y);
    for (const Pair p : {Pair{0, 12, 0.2f, 2.2f, 3.0f}, Pair{1, 10, 0.3f, 2.2f, 3.0f}, Pair{2, 8, 0.5f, 2.2f, 3.6f},
                         Pair{3, 6, 0.5f, 2.8f, 4.0f}}) {
        SCOPED_TRACE(p.difficulty);
        Expected e(Emit(154, p.difficulty, 5 * p.period), kSlot);
        e.Shot(m.x, m.y, 4, 500, p.side, a + p.spread);
        e.Shot(m.x, m.y, 4, 500, p.side, a - p.spread);
        e.Shot(m.x, m.y, 6, 500, p.aimed, fromMuzzle);
        e.Check();
        EXPECT_TRUE(Emit(154, p.difficulty, 5 * p.period + 1).empty());
    }
}

TEST(ChildWaves, MuzzleStreamWithAnAimedBulletOnItsOwnBeat)
{
    struct Case {
        int difficulty, clock, once, muzzle;
        bool trio, aimed;
        float speed, spread, aimedSpeed;
    };
    const Case cases[] = {
        {0, 20, 0, 26, false, true, 1.6f, 0.0f, 1.2f},      {0, 15, 0, 26, false, false, 1.6f, 0.0f, 1.2f},
        {0, 7, 1, 26, false, false, 1.6f, 0.0f, 1.2f},      {1, 16, 0, 26, true, true, 1.6f, 0.01f, 1.2f},
        {1, 12, 0, 26, true, false, 1.6f, 0.01f, 1.2f},     {2, 15, 0, 26, true, true, 1.6f, 0.015f, 1.2f},
        {2, 9, 0, 26, true, false, 1.6f, 0.015f, 1.2f},     {3, 12, 0, 30, true, true, 2.4f, 0.015f, 1.8f},
        {3, 24, 1, 30, true, true, 2.4f, 0.015f, 1.8f},     {3, 14, 0, 30, true, false, 2.4f, 0.015f, 1.8f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock << " once " << c.once);
        const Point m = Along(kEnemyX, kEnemyY, kAimAngle, c.muzzle);
        Expected e(Emit(158, c.difficulty, c.clock, c.once), OwnerOf(c.once));
        e.Shot(m.x, m.y, 8, 500, c.speed, kAimAngle);
        if (c.trio) {
            e.Shot(m.x, m.y, 8, 500, c.speed, kAimAngle + c.spread);
            e.Shot(m.x, m.y, 8, 500, c.speed, kAimAngle - c.spread);
        }
        if (c.aimed) {
            e.Shot(m.x, m.y, 10, 800, c.aimedSpeed, AimFromPoint(m.x, m.y));
        }
        e.Check();
    }
    EXPECT_TRUE(Emit(158, 0, 6).empty());
    EXPECT_TRUE(Emit(158, 3, 5).empty());
}

// ------------------------------------------------------------------ beam lines

namespace {

void ExpectBeamLine(Expected& e, const Point& p, float phi, int from, int to, int kind)
{
    const float c = TraceCos(phi);
    const float s = TraceSin(phi);
    for (int n = from; n < to; ++n) {
        e.Shot(TracePlusAlong(p.x, 10 * n, c), TracePlusAlong(p.y, 10 * n, s), kind, 1, 0.0f, 0.0f);
    }
}

}  // namespace

TEST(ChildWaves, TwinBeamsFromTheThresholdWithOneSound)
{
    for (int d = 0; d < 4; ++d) {
        for (const int clock : {99, 100, 101, 102}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock);
            Expected e(Emit(148, d, clock), kSlot);
            for (const float phi : {kMoveAngle - 0.5235988f, kMoveAngle + 0.5235988f}) {
                const Point p = Along(kEnemyX, kEnemyY, phi, 260);
                if (clock < 100) {
                    e.Child(73, p.x, p.y, phi, phi);
                } else {
                    e.Child(clock % 2 == 0 ? 74 : 75, p.x, p.y, phi, phi);
                    ExpectBeamLine(e, p, phi, -24, 24, 21);
                }
            }
            if (clock == 100) {
                e.Sound(14);
            }
            e.Check();
        }
    }
}

TEST(ChildWaves, AimBeamPairsTheEvenClockWithTemplate92)
{
    const Point p = Along(kEnemyX, kEnemyY, kAimAngle, 280);
    for (int d = 0; d < 4; ++d) {
        for (const int clock : {49, 50, 51, 52}) {
            for (const int once : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock << " once " << once);
                Expected e(Emit(157, d, clock, once), OwnerOf(once));
                if (clock < 50) {
                    e.Child(90, p.x, p.y, kAimAngle, kAimAngle);
                } else {
                    e.Child(clock % 2 == 0 ? 92 : 91, p.x, p.y, kAimAngle, kAimAngle);
                    ExpectBeamLine(e, p, kAimAngle, -24, 24, 21);
                }
                if (clock == 50) {
                    e.Sound(14);
                }
                e.Check();
            }
        }
    }
}

TEST(ChildWaves, ShortBeamThroughTheEnemyOnEveryCall)
{
    for (int d = 0; d < 4; ++d) {
        for (const float aim : {kAimAngle, 4.0f}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " aim " << aim);
            TraceOptions o = Options(162, d, 13);
            o.enemyAim = aim;
            Expected e(TraceEmissions(PatternTraceRun(o)), kSlot);
            ExpectBeamLine(e, {kEnemyX, kEnemyY}, aim, -8, 10, 22);
            e.Check();
        }
    }
}

// ------------------------------------------------------------------ circle, bottom fan, formation

TEST(ChildWaves, CircleOfChildrenFacingThePlayer)
{
    const int radii[] = {140, 150, 150, 150};
    const int steps[] = {45, 36, 24, 18};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(160, d, 30), kSlot);
        for (int k = 0; k < 360; k += steps[d]) {
            const Point q = Along(kPlayerX, kPlayerY, TraceRad(k), radii[d]);
            e.Effect(q.x, q.y);
            e.Child(100, q.x, q.y, TraceRad(k + 180), TraceRad(k + 180));
        }
        e.Check();
        EXPECT_TRUE(Emit(160, d, 31).empty());
    }
}

TEST(ChildWaves, BottomFanChildAndWideningPairs)
{
    struct Case {
        int difficulty, clock, once;
        bool child;
        int pairs;
        float speed;
    };
    const Case cases[] = {
        {0, 40, 0, true, 4, 2.2f},  {0, 15, 0, false, 0, 2.2f}, {0, 0, 1, true, 0, 2.2f},  {0, 80, 0, true, 8, 2.2f},
        {1, 30, 0, false, 3, 2.2f}, {1, 8, 0, true, 0, 2.2f},   {2, 16, 0, false, 1, 2.2f}, {2, 48, 0, true, 4, 2.2f},
        {3, 20, 0, true, 4, 2.8f},  {3, 7, 1, false, 0, 2.8f},
    };
    for (const Case& c : cases) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock << " seed " << seed);
            TraceOptions o = Options(155, c.difficulty, c.clock, c.once);
            o.seed = seed;
            Expected e(TraceEmissions(PatternTraceRun(o)), OwnerOf(c.once));
            const int fanX = e.Rnd(200, 440);
            const float heading = static_cast<float>(std::atan2(321.0, static_cast<double>(320 - fanX))) + 3.1415927f;
            e.Shot(static_cast<float>(fanX), 479.0f, 10, 500, 3.0f, heading);
            if (c.child) {
                const float aim = TraceRad(e.Rnd(0, 360));
                const float x = static_cast<float>(e.Rnd(120, 520));
                e.Child(87, x, 479.0f, aim, TraceRad(270));
            }
            int a = 270;
            int b = 270;
            for (int i = 0; i < c.pairs; ++i) {
                e.Shot(kEnemyX, 479.0f, 11, 500, c.speed, TraceRad(a), TraceRad(a));
                e.Shot(kEnemyX, 479.0f, 11, 500, c.speed, TraceRad(b), TraceRad(b));
                a += 90 / c.pairs;
                b -= 90 / c.pairs;
            }
            e.Check();
        }
    }
    EXPECT_TRUE(Emit(155, 0, 12).empty());
    EXPECT_TRUE(Emit(155, 2, 13).empty());
}

namespace {

// One corner group as its table gives it: x = r + dx (left) or dx - r (right).
struct Group {
    bool left;
    int degrees;
    std::vector<std::pair<int, int>> places;
};

struct FormationBand {
    Group upperLeft, upperRight, lowerLeft, lowerRight;
    int ringFrom, ringTo, ringStep;
};

const FormationBand& Formation(int difficulty)
{
    static const FormationBand band0 = {
        {true, 45, {{20, -60}, {120, -160}, {-80, 40}}},
        {false, 135, {{620, -60}, {720, 40}, {520, -160}}},
        {true, 315, {{20, 540}, {120, 640}, {-80, 440}}},
        {false, 225, {{620, 540}, {720, 440}, {520, 640}}},
        -90, 270, 120};
    static const FormationBand band1 = {
        {true, 45, {{20, -60}, {80, -120}, {-40, 0}, {140, -180}, {-100, 60}}},
        {false, 135, {{620, -60}, {680, 0}, {560, -120}, {740, 60}, {500, -180}}},
        {true, 315, {{20, 540}, {80, 600}, {-40, 480}, {140, 660}, {-100, 420}}},
        {false, 225, {{620, 540}, {680, 480}, {560, 600}, {740, 420}, {500, 660}}},
        -45, 315, 90};
    static const FormationBand band2 = {
        {true, 45, {{20, -60}, {70, -110}, {-30, -10}, {120, -160}, {-80, 40}, {170, -210}, {-130, 90}}},
        {false, 135, {{620, -60}, {670, -10}, {570, -110}, {720, 40}, {520, -160}, {770, 90}, {470, -210}}},
        {true, 315, {{20, 540}, {70, 590}, {-30, 490}, {120, 640}, {-80, 440}, {170, 690}, {-130, 390}}},
        {false, 225, {{620, 540}, {670, 490}, {570, 590}, {720, 440}, {520, 640}, {770, 390}, {470, 690}}},
        0, 360, 90};
    static const FormationBand band3 = {band2.upperLeft, band2.upperRight, band2.lowerLeft, band2.lowerRight,
                                        -90, 270, 72};
    const FormationBand* bands[] = {&band0, &band1, &band2, &band3};
    return *bands[difficulty];
}

void ExpectGroup(Expected& e, const Group& g, int r)
{
    for (const auto& [dx, y] : g.places) {
        const int x = g.left ? r + dx : dx - r;
        e.Child(104, static_cast<float>(x), static_cast<float>(y), TraceRad(g.degrees), TraceRad(g.degrees));
    }
}

void ExpectRing(Expected& e, const FormationBand& f)
{
    for (int k = f.ringFrom; k < f.ringTo; k += f.ringStep) {
        const Point q = Along(320.0f, 240.0f, TraceRad(k), 150);
        e.Child(116, q.x, q.y, TraceRad(90), TraceRad(90));
        e.Effect(q.x, q.y);
    }
}

}  // namespace

TEST(ChildWaves, FormationCornersChosenByTheStepIndex)
{
    struct Case {
        int step;
        bool upperLeft, upperRight, lower;
    };
    const Case cases[] = {{3, true, true, false},  {6, false, true, false}, {9, true, false, false},
                          {12, true, true, false}, {15, false, false, true}, {0, false, false, false},
                          {7, false, false, false}};
    for (int d = 0; d < 4; ++d) {
        const FormationBand& f = Formation(d);
        for (const Case& c : cases) {
            for (const int once : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "band " << d << " step " << c.step << " once " << once);
                TraceOptions o = Options(163, d, once ? 13 : 140, once);
                o.step = c.step;
                o.seed = static_cast<uint32_t>(7 + c.step);
                Expected e(TraceEmissions(PatternTraceRun(o)), OwnerOf(once));
                const int r = e.Rnd(-40, 40);
                if (c.upperLeft) ExpectGroup(e, f.upperLeft, r);
                if (c.upperRight) ExpectGroup(e, f.upperRight, r);
                if (c.lower) {
                    ExpectGroup(e, f.lowerLeft, r);
                    ExpectGroup(e, f.lowerRight, r);
                }
                ExpectRing(e, f);
                e.Check();
            }
        }
        EXPECT_TRUE(Emit(163, d, 69).empty());
    }
}

TEST(ChildWaves, FormationRereadsTheStepIndexBeforeTheLowerRightGroup)
{
    // With the table full and the running enemy in slot 10, the lower-left
    // children land in its own slot and clear its step index, so the
    // lower-right group, which reads the index afresh, does not come.
    TraceOptions o = Options(163, 0, 70);
    o.step = 15;
    for (int s = 11; s < kEnemySlots; ++s) {
        o.others.push_back({s, 200.0f, 200.0f, 0.0f});
    }
    Expected e(TraceEmissions(PatternTraceRun(o)), kSlot, 10, 0);
    const int r = e.Rnd(-40, 40);
    ExpectGroup(e, Formation(0).lowerLeft, r);
    ExpectRing(e, Formation(0));
    e.Check();
}

// ------------------------------------------------------------------ checklist

TEST(ChildWaves, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    for (int base = 141; base <= 163; ++base) {
        for (int d = 0; d < 4; ++d) {
            const bool live = !(d == 3 && (base == 147 || base == 149));
            SCOPED_TRACE(testing::Message() << "base " << base << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * d), live);
            bool fired = false;
            for (int clock = 0; clock <= 200 && !fired; ++clock) {
                for (int once = 0; once < 2 && !fired; ++once) {
                    fired = !Emit(base, d, clock, once).empty();
                }
            }
            EXPECT_EQ(fired, live);
        }
    }
}
