// The child patterns of base ids 111 to 140: corner pairs, single children,
// groups, side entries, cycling children, child fans, child streams and edge
// ambushes. Every call's emissions are compared line by line with a list
// built here in call order, its numbers worked out with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "tests/game/patterns/child_scene.h"
#include "tests/game/patterns/trace_util.h"

namespace {

using namespace childscene;

}  // namespace

// ------------------------------------------------------------------ corner pairs and single children

TEST(ChildDrops, CornerPairsFromOppositeCorners)
{
    for (int d = 0; d < 3; ++d) {
        for (const int once : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " once " << once);
            const int clock = once ? 7 : 40;
            Expected a(Emit(112, d, clock, once), OwnerOf(once));
            a.Child(39, 120.0f, 0.0f, TraceRad(90), TraceRad(90));
            a.Child(39, 520.0f, 480.0f, TraceRad(270), TraceRad(270));
            a.Check();
            // The second child of 113 passes no angles and keeps its template's.
            Expected b(Emit(113, d, clock, once), OwnerOf(once));
            b.Child(29, 520.0f, 0.0f, TraceRad(180), TraceRad(180));
            b.Child(29, 120.0f, 480.0f, 0.0f, 0.0f);
            b.Check();
        }
        EXPECT_TRUE(Emit(112, d, 30).empty());
        EXPECT_TRUE(Emit(113, d, 10).empty());
    }
}

TEST(ChildDrops, SingleChildrenKeepTheirPeriodPerBand)
{
    struct Row {
        int id, difficulty, period;
    };
    const Row rows[] = {{114, 0, 12}, {114, 1, 8},  {114, 2, 5},  {117, 0, 50}, {117, 1, 40}, {117, 2, 30},
                        {121, 0, 50}, {121, 1, 40}, {121, 2, 30}, {121, 3, 30}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.id << " band " << r.difficulty);
        const int clock = 3 * r.period;
        Expected e(Emit(r.id, r.difficulty, clock), kSlot);
        if (r.id == 114) {
            e.Child(24, kEnemyX, kEnemyY, TraceRad(10 * clock), TraceRad(10 * clock));
        } else if (r.id == 117) {
            e.Child(34, kEnemyX, kEnemyY, TraceRad(90), TraceRad(90));
        } else {
            const float a = AimFromPoint(kEnemyX, kEnemyY) + TraceRad(e.Rnd(-30, 30));
            e.Child(41, kEnemyX, kEnemyY, a, a);
        }
        e.Check();
        EXPECT_TRUE(Emit(r.id, r.difficulty, clock + 1).empty());
    }
}

TEST(ChildDrops, TurningChildAtClockZeroTakesTheTemplateAngles)
{
    // 36 x 10 degrees is 2 pi, not 0.
    Expected full(Emit(114, 0, 36), kSlot);
    full.Child(24, kEnemyX, kEnemyY, TraceRad(360), TraceRad(360));
    full.Check();
    EXPECT_NE(TraceRad(360), 0.0f);

    const auto lines = PatternTraceRun(Options(114, 0, 0, 1));
    Expected death(TraceEmissions(lines), -1);
    death.Child(24, kEnemyX, kEnemyY, 0.0f, 0.0f);
    death.Check();
    const auto states = TraceLines(lines, "state");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
    EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
}

// ------------------------------------------------------------------ groups

TEST(ChildDrops, RisingPairsDrawOncePerPairAndAskForTheSoundTwice)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(123, d, 20), kSlot);
        for (int pair = 0; pair < 2; ++pair) {
            const float a = TraceRad(270 + e.Rnd(-40, 40));
            e.Child(43, kEnemyX + 30.0f, kEnemyY - 40.0f, a, a);
            e.Child(43, kEnemyX - 30.0f, kEnemyY - 40.0f, a, a);
            e.Sound(10);
        }
        e.Check();
        EXPECT_TRUE(Emit(123, d, 15).empty());
    }
}

TEST(ChildDrops, PointPairDrawsXBeforeY)
{
    const int periods[] = {12, 8, 6, 4};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(126, d, 2 * periods[d]), kSlot);
        const float x = static_cast<float>(e.Rnd(140, 500));
        const float y = static_cast<float>(e.Rnd(20, 460));
        e.Child(44, x, y, TraceRad(90), 0.0f);
        e.Child(45, x, y, TraceRad(90), 0.0f);
        e.Sound(11);
        e.Check();
        EXPECT_TRUE(Emit(126, d, 2 * periods[d] + 1).empty());
    }
}

TEST(ChildDrops, HalfCircleEndsAtThreeSixtyInclusive)
{
    const int steps[] = {30, 30, 15, 10};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(139, d, 4), kSlot);
        for (int k = 180; k <= 360; k += steps[d]) {
            e.Child(10, kEnemyX, kEnemyY, TraceRad(k), TraceRad(k));
        }
        e.Check();
        EXPECT_TRUE(Emit(139, d, 5).empty());
    }
}

// ------------------------------------------------------------------ side entries

namespace {

void ExpectSideChild(Expected& e, bool right)
{
    const float y = static_cast<float>(e.Rnd(0, 480));
    if (right) {
        e.Child(43, 540.0f, y, TraceRad(180), TraceRad(180));
    } else {
        e.Child(43, 100.0f, y, 0.0f, 0.0f);
    }
}

}  // namespace

TEST(ChildDrops, SideEntryAlternatesLeftAndRight)
{
    struct Case {
        int difficulty, clock, once;
        bool fires, right;
    };
    const Case cases[] = {
        {0, 10, 0, true, false}, {0, 20, 0, true, true},  {0, 30, 0, true, false}, {0, 15, 0, false, false},
        {0, 13, 1, true, false}, {0, 40, 1, true, true},  {1, 8, 0, true, false},  {1, 16, 0, true, true},
        {2, 4, 0, true, false},  {2, 8, 0, true, true},   {3, 3, 0, true, false},  {3, 6, 0, true, true},
        {3, 4, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock);
        Expected e(Emit(124, c.difficulty, c.clock, c.once), OwnerOf(c.once));
        if (c.fires) {
            ExpectSideChild(e, c.right);
        }
        e.Check();
    }
}

TEST(ChildDrops, SideEntryAndMuzzleRingOnIndependentStrictBeats)
{
    struct Band {
        int ringStep, kind;
    };
    const Band bands[] = {{30, 3}, {24, 3}, {20, 3}, {15, 5}};
    struct Case {
        int difficulty, clock, once;
        bool side, right, ring;
    };
    const Case cases[] = {
        {0, 14, 0, true, false, false}, {0, 28, 0, true, true, false}, {0, 120, 0, false, false, true},
        {0, 840, 0, true, true, true},  {0, 840, 1, true, true, true}, {0, 50, 1, false, false, false},
        {1, 10, 0, true, false, false}, {1, 80, 0, true, true, true},  {2, 60, 0, false, false, true},
        {2, 420, 0, true, true, true},  {3, 40, 0, false, false, true}, {3, 120, 0, true, true, true},
        {3, 18, 0, true, false, false},
    };
    const float c = static_cast<float>(std::cos(static_cast<double>(kAimAngle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(kAimAngle)));
    const float mx = TracePlusAlong(kEnemyX, 26, c);
    const float my = TracePlusAlong(kEnemyY, 26, s);
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "band " << k.difficulty << " clock " << k.clock << " once " << k.once);
        Expected e(Emit(125, k.difficulty, k.clock, k.once), OwnerOf(k.once));
        if (k.side) {
            ExpectSideChild(e, k.right);
        }
        if (k.ring) {
            e.Child(95, mx, my, kAimAngle, kAimAngle);
            for (int deg = 0; deg < 360; deg += bands[k.difficulty].ringStep) {
                e.Shot(mx, my, bands[k.difficulty].kind, 800, 1.8f, TraceRad(deg));
            }
            e.Sound(12);
        }
        e.Check();
    }
}

// ------------------------------------------------------------------ cycling children, fans and streams

TEST(ChildDrops, CyclingTemplateWithRingsOnTheLongerBeat)
{
    struct Rings {
        int step, offset;
        float inner, outer;
    };
    const Rings rings[] = {{36, 18, 2.0f, 1.6f}, {24, 12, 2.0f, 1.6f}, {15, 7, 2.0f, 1.6f}, {12, 6, 2.4f, 1.8f}};
    struct Case {
        int difficulty, clock, once, templateId;
        bool rings;
    };
    const Case cases[] = {
        {0, 15, 0, 146, false}, {0, 30, 0, 37, false},  {0, 45, 0, 36, true},  {0, 60, 0, 147, false},
        {0, 50, 1, 36, false},  {0, 90, 1, 37, true},   {1, 40, 0, 147, true}, {1, 30, 0, 36, false},
        {2, 80, 0, 147, true},  {2, 10, 0, 146, false}, {3, 30, 0, 36, true},  {3, 20, 0, 37, false},
    };
    const float aim = AimFromPoint(kEnemyX, kEnemyY);
    const float side = kMoveAngle - TraceRad(90);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock << " once " << c.once);
        Expected e(Emit(119, c.difficulty, c.clock, c.once), OwnerOf(c.once));
        e.Child(c.templateId, kEnemyX, kEnemyY, side, side);
        if (c.rings) {
            const Rings& r = rings[c.difficulty];
            for (int k = 0; k < 360; k += r.step) {
                e.Shot(kEnemyX, kEnemyY, 7, 800, r.inner, aim + TraceRad(k));
            }
            for (int k = r.offset; k < 360 + r.offset; k += r.step) {
                e.Shot(kEnemyX, kEnemyY, 8, 800, r.outer, aim + TraceRad(k));
            }
        }
        e.Check();
    }
    EXPECT_TRUE(Emit(119, 0, 10).empty());
}

TEST(ChildDrops, FiveChildrenAboveThenAimedFanInTheHigherBands)
{
    const int periods[] = {60, 40, 30, 25};
    const float aim = AimFromPoint(kEnemyX, kEnemyY);
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        Expected e(Emit(120, d, 2 * periods[d]), kSlot);
        const int templates[] = {38, 94, 38, 93, 39};
        const int offsets[] = {140, 160, 220, 200, 180};
        for (int i = 0; i < 5; ++i) {
            e.Child(templates[i], kEnemyX, kEnemyY - 10.0f, aim + TraceRad(offsets[i]), aim + TraceRad(offsets[i]));
        }
        if (d == 2) {
            for (int k = -120; k < 120; k += 20) {
                e.Shot(kEnemyX, kEnemyY, 11, 800, 2.4f, aim + TraceRad(k), aim + TraceRad(k));
            }
        } else if (d == 3) {
            for (int k = -160, n = 0; k < 160; k += 20, ++n) {
                e.Shot(kEnemyX, kEnemyY, 11, 800, n % 2 == 0 ? 2.8f : 3.2f, aim + TraceRad(k), aim + TraceRad(k));
            }
        }
        e.Check();
        EXPECT_TRUE(Emit(120, d, 2 * periods[d] + 1).empty());
    }
}

TEST(ChildDrops, ChildStreamWithFanOnTheSecondBeat)
{
    struct Case {
        int difficulty, clock, once;
        bool fan;
        int from, to, step;
        float speed;
    };
    const Case cases[] = {
        {0, 12, 0, false, 0, 0, 0, 0.0f},    {0, 36, 0, true, -30, 50, 20, 3.4f}, {0, 72, 0, true, -40, 60, 20, 3.4f},
        {0, 5, 1, true, -30, 50, 20, 3.4f},  {1, 32, 0, true, -30, 50, 20, 3.4f}, {1, 64, 0, true, -40, 60, 20, 3.4f},
        {1, 40, 0, false, 0, 0, 0, 0.0f},    {2, 24, 0, true, -30, 50, 20, 3.4f}, {2, 48, 0, true, -40, 60, 20, 3.4f},
        {3, 24, 0, true, -50, 70, 20, 3.8f}, {3, 48, 0, true, -60, 75, 15, 3.8f}, {3, 16, 0, false, 0, 0, 0, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock << " once " << c.once);
        Expected e(Emit(128, c.difficulty, c.clock, c.once), OwnerOf(c.once));
        e.Child(47, kEnemyX, kEnemyY, kAimAngle, kAimAngle);
        if (c.fan) {
            e.Sound(10);
            for (int k = c.from; k < c.to; k += c.step) {
                e.Shot(kEnemyX, kEnemyY, 5, 400, c.speed, kAimAngle + TraceRad(k));
            }
        }
        e.Check();
    }
    EXPECT_TRUE(Emit(128, 0, 6).empty());
    EXPECT_TRUE(Emit(128, 3, 4).empty());
}

// ------------------------------------------------------------------ edge ambushes

TEST(ChildDrops, EdgeAmbushCyclesThroughTheEdges)
{
    enum Edge { kTop, kLeft, kBottom, kRight };
    // Clocks 30, 60, ..., 360.
    const Edge cycle[] = {kRight, kBottom, kLeft,   kTop,  kRight, kLeft,
                          kRight, kTop,    kLeft,   kBottom, kRight, kTop};
    for (int d = 0; d < 3; ++d) {
        for (int i = 0; i < 12; ++i) {
            const int clock = 30 * (i + 1);
            const int once = i % 5 == 4 ? 1 : 0;
            SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock);
            Expected e(Emit(132, d, clock, once), OwnerOf(once));
            switch (cycle[i]) {
            case kTop:
                e.Child(48, kPlayerX, 0.0f, TraceRad(90), TraceRad(90));
                e.Effect(kPlayerX, 0.0f);
                break;
            case kLeft:
                e.Child(49, 120.0f, kPlayerY, 0.0f, 0.0f);
                e.Effect(120.0f, kPlayerY);
                break;
            case kBottom:
                e.Child(48, kPlayerX, 480.0f, TraceRad(270), TraceRad(270));
                e.Effect(kPlayerX, 480.0f);
                break;
            case kRight:
                e.Child(49, 520.0f, kPlayerY, TraceRad(180), TraceRad(180));
                e.Effect(520.0f, kPlayerY);
                break;
            }
            e.Check();
        }
        EXPECT_TRUE(Emit(132, d, 45, 1).empty());
    }
}

TEST(ChildDrops, CornerAmbushAimsFromTheCornerAndShadowsThePlayer)
{
    struct Corner {
        float x, y;
    };
    // Clocks 50, 100, ..., 600.
    const Corner corners[] = {{520, 0},   {520, 480}, {120, 480}, {120, 0},   {520, 0}, {120, 480},
                              {520, 0},   {120, 0},   {120, 480}, {520, 480}, {520, 0}, {120, 0}};
    for (const int id : {133, 1133, 2133, 134, 1134, 2134, 3134}) {
        for (int i = 0; i < 12; ++i) {
            const int clock = 50 * (i + 1);
            const int once = i % 4 == 1 ? 1 : 0;
            SCOPED_TRACE(testing::Message() << id << " clock " << clock);
            const Corner c = corners[i];
            const float t = AimFromPoint(c.x, c.y);
            Expected e(Emit(id, 0, clock, once), OwnerOf(once));
            e.Child(175, c.x, c.y, t, t);
            if (c.x == 120.0f && c.y == 0.0f) {
                e.Child(176, kPlayerX, 480.0f, t, TraceRad(270));
                e.Effect(kPlayerX, 480.0f);
            } else if (c.x == 120.0f) {
                e.Child(176, 520.0f, kPlayerY, t, TraceRad(180));
                e.Effect(520.0f, kPlayerY);
            } else if (c.y == 480.0f) {
                e.Child(176, kPlayerX, 0.0f, t, TraceRad(90));
                e.Effect(kPlayerX, 0.0f);
            } else {
                e.Child(176, 120.0f, kPlayerY, t, 0.0f);
                e.Effect(120.0f, kPlayerY);
            }
            e.Check();
        }
        EXPECT_TRUE(Emit(id, 0, 75, 1).empty());
    }
}

// ------------------------------------------------------------------ checklist

TEST(ChildDrops, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    struct Base {
        int id;
        bool live[4];
    };
    const Base bases[] = {
        {112, {true, true, true, false}}, {113, {true, true, true, false}}, {114, {true, true, true, false}},
        {117, {true, true, true, false}}, {119, {true, true, true, true}},  {120, {true, true, true, true}},
        {121, {true, true, true, true}},  {123, {true, true, true, true}},  {124, {true, true, true, true}},
        {125, {true, true, true, true}},  {126, {true, true, true, true}},  {128, {true, true, true, true}},
        {132, {true, true, true, false}}, {133, {true, true, true, false}}, {134, {true, true, true, true}},
        {139, {true, true, true, true}},
    };
    for (const Base& b : bases) {
        for (int d = 0; d < 4; ++d) {
            SCOPED_TRACE(testing::Message() << "base " << b.id << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(b.id + 1000 * d), b.live[d]);
            bool fired = false;
            for (int clock = 0; clock <= 200 && !fired; ++clock) {
                for (int once = 0; once < 2 && !fired; ++once) {
                    fired = !Emit(b.id, d, clock, once).empty();
                }
            }
            EXPECT_EQ(fired, b.live[d]);
        }
    }
}
