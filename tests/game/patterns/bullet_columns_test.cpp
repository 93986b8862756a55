// Bullet columns, rings and circling spawn points of base ids 164 to 199.
// Every call's emissions are compared in full with lines built here from
// the rows, the numbers worked out independently with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/trace_util.h"

namespace {

constexpr float kX = 300.21f;
constexpr float kY = 100.068497f;  // a height at which the order of the column sums shows
constexpr float kOwnAim = 0.7f;
constexpr float kMove = 0.4f;
constexpr float kPlayerX = 250.0f;
constexpr float kPlayerY = 420.0f;
constexpr float kDown = 1.5707964f;

using Lines = std::vector<std::string>;

TraceOptions Opts(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kX, .enemyY = kY, .enemyAim = kOwnAim, .enemyMove = kMove, .playerX = kPlayerX, .playerY = kPlayerY},
                        id, difficulty, clock, once);
}

float F(double v)
{
    return static_cast<float>(v);
}

float AimFromPoint(float x, float y)
{
    return TraceAim(x, y, kPlayerX, kPlayerY);
}

Lines TraceWithoutSlots(int id, int difficulty, int clock, int once = 0)
{
    return TraceWithoutSlots(Opts(id, difficulty, clock, once));
}

std::string BeamLine(int owner, float x0, float y0)
{
    return TraceShotLine(owner, 21, 1, x0, y0, 0.0f, 0.0f, 0.0f);
}

int DrawAt(const Lines& lines, size_t at, int lo, int hi)
{
    int l = 0, h = 0, v = 0;
    if (at >= lines.size() || std::sscanf(lines[at].c_str(), "rnd %d %d -> %d", &l, &h, &v) != 3) {
        ADD_FAILURE() << "no draw at line " << at;
        return 0;
    }
    EXPECT_EQ(l, lo);
    EXPECT_EQ(h, hi);
    return v;
}

// One emitter and its 60-bullet column, as the rows lay them.
void AppendColumn(Lines& out, int owner, int templateId, float sign)
{
    out.push_back(TraceChildLine(templateId, kX + sign * 81.0f, kY + 310.0f, kDown, kDown));
    for (int k = -240; k < 240; k += 8) {
        out.push_back(BeamLine(owner, kX + sign * 75.0f, (static_cast<float>(k) + kY) + 320.0f));
    }
}

}  // namespace

// ------------------------------------------------------------------ bullet columns

TEST(BulletColumns, ColumnsStartAtClock60WithSound)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        // 59: warning emitters only, and no pair (59 is off the beat of 3).
        EXPECT_EQ(TraceWithoutSlots(175, d, 59), (Lines{TraceChildLine(63, kX - 81.0f, kY + 310.0f, kDown, kDown),
                                          TraceChildLine(63, kX + 81.0f, kY + 310.0f, kDown, kDown)}));

        TraceOptions o = Opts(175, d, 60);
        o.seed = 3;
        const Lines at60 = TraceWithoutSlots(o);
        Lines want;
        AppendColumn(want, 10, 64, -1.0f);
        AppendColumn(want, 10, 64, 1.0f);
        want.push_back(TraceSoundLine(14));
        ASSERT_EQ(at60.size(), want.size() + 4);
        const float a = DegToRad(DrawAt(at60, want.size(), -80, 80) + 90);
        want.push_back(at60[want.size()]);
        want.push_back(TraceChildLine(115, kX - 65.0f, kY - 30.0f, a, a));
        want.push_back(TraceChildLine(115, kX + 65.0f, kY - 30.0f, a, a));
        want.push_back(TraceSoundLine(10));
        EXPECT_EQ(at60, want);

        Lines at61;
        AppendColumn(at61, 10, 65, -1.0f);
        AppendColumn(at61, 10, 65, 1.0f);
        EXPECT_EQ(TraceWithoutSlots(175, d, 61), at61);

        // The death path passes the pair's beat whatever the clock.
        const Lines death = TraceWithoutSlots(175, d, 61, 1);
        ASSERT_EQ(death.size(), at61.size() + 4);
        EXPECT_EQ(death[1], BeamLine(-1, kX - 75.0f, (-240.0f + kY) + 320.0f));
        EXPECT_EQ(death.back(), TraceSoundLine(10));
    }
}

TEST(BulletColumns, ColumnsWithSplayedPairOnStrictBeat)
{
    struct Case {
        int difficulty, period;
    };
    for (const Case c : {Case{0, 50}, Case{1, 40}, Case{2, 30}, Case{3, 20}}) {
        SCOPED_TRACE(c.difficulty);
        Lines columns;
        AppendColumn(columns, 10, 64, -1.0f);
        AppendColumn(columns, 10, 64, 1.0f);
        // Columns from the first frames, with no warning phase and no sound.
        Lines early;
        AppendColumn(early, 10, 65, -1.0f);
        AppendColumn(early, 10, 65, 1.0f);
        EXPECT_EQ(TraceWithoutSlots(176, c.difficulty, 1), early);

        TraceOptions o = Opts(176, c.difficulty, 2 * c.period);
        o.seed = 11;
        const Lines did = TraceWithoutSlots(o);
        ASSERT_EQ(did.size(), columns.size() + 4);
        EXPECT_EQ(Lines(did.begin(), did.begin() + static_cast<long>(columns.size())), columns);
        const size_t at = columns.size();
        const float a = DegToRad(DrawAt(did, at, -60, 60));
        EXPECT_EQ(did[at + 1], TraceChildLine(129, kX + 50.0f, kY, a, a));
        const float b = DegToRad(DrawAt(did, at + 2, 120, 240));
        EXPECT_EQ(did[at + 3], TraceChildLine(129, kX - 50.0f, kY, b, b));

        // Strict: a death off the beat lays the columns only.
        EXPECT_EQ(TraceWithoutSlots(176, c.difficulty, c.period + 2, 1).size(), columns.size());
    }
}

TEST(BulletColumns, BeamAlongAimAngle)
{
    const float c = F(std::cos(static_cast<double>(kOwnAim)));
    const float s = F(std::sin(static_cast<double>(kOwnAim)));
    const float px = kX + 230.0f * c;
    const float py = kY + 230.0f * s;
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(TraceWithoutSlots(183, d, 29), (Lines{TraceChildLine(134, px, py, kOwnAim, kOwnAim)}));
        EXPECT_EQ(TraceWithoutSlots(183, d, 10), (Lines{TraceChildLine(134, px, py, kOwnAim, kOwnAim), TraceSoundLine(14)}));
        for (const int clock : {30, 31}) {
            Lines want = {TraceChildLine(clock == 30 ? 135 : 136, px, py, kOwnAim, kOwnAim)};
            for (int i = -20; i < 20; ++i) {
                const float n = static_cast<float>(i);
                want.push_back(BeamLine(10, c * n * 12.0f + (c * 260.0f + kX), s * n * 12.0f + (s * 260.0f + kY)));
            }
            EXPECT_EQ(TraceWithoutSlots(183, d, clock), want);
        }
    }
}

// The beam reads the enemy's record after placing its emitter: when the
// emitter falls back onto the enemy's own slot, the beam follows the
// emitter's record.
TEST(BulletColumns, BeamReadsRecordAfterEmitterOverwritesIt)
{
    TraceOptions o = Opts(183, 0, 40);
    o.slot = 10;
    for (int s = 11; s < kEnemySlots; ++s) o.others.push_back({s, 200.0f, 200.0f, 0.0f});
    const Lines did = TraceWithoutSlots(o);
    ASSERT_EQ(did.size(), 41u);
    const float c = F(std::cos(static_cast<double>(kOwnAim)));
    const float px = kX + 230.0f * c;
    EXPECT_EQ(TraceField(did[1], "x0"), G9(c * -20.0f * 12.0f + (c * 260.0f + px)));
}

// ------------------------------------------------------------------ aimed volleys and rings

TEST(BulletColumns, AimedShotsAndFans)
{
    const float aim = AimFromPoint(kX, kY);
    auto fan = [&](float speed, std::vector<int> offsets) {
        Lines out;
        for (const int d : offsets) {
            const float h = d == 0 ? aim : aim + DegToRad(d);
            out.push_back(TraceShotLine(10, 11, 400, kX, kY, speed, h, h));
        }
        return out;
    };
    EXPECT_EQ(TraceWithoutSlots(180, 0, 80), fan(3.6f, {0}));
    EXPECT_EQ(TraceWithoutSlots(180, 1, 80), fan(3.6f, {0}));
    EXPECT_EQ(TraceWithoutSlots(180, 2, 80), fan(3.6f, {0, -20, 20}));
    EXPECT_EQ(TraceWithoutSlots(180, 3, 80), fan(3.8f, {0, -20, 20, -40, 40}));
    EXPECT_TRUE(TraceWithoutSlots(180, 3, 60).empty());
}

TEST(BulletColumns, SlowRingOnceAtClock38)
{
    struct Case {
        int difficulty, step;
        float speed;
    };
    for (const Case c : {Case{0, 90, 2.0f}, Case{1, 60, 2.0f}, Case{2, 40, 2.4f}, Case{3, 30, 2.4f}}) {
        SCOPED_TRACE(c.difficulty);
        Lines want;
        for (int k = 0; k < 360; k += c.step) {
            want.push_back(TraceShotLine(-1, 12, 2000, kX, kY, c.speed, DegToRad(k), DegToRad(k)));
        }
        EXPECT_EQ(TraceWithoutSlots(187, c.difficulty, 38, 1), want);
        EXPECT_TRUE(TraceWithoutSlots(187, c.difficulty, 39, 1).empty());
        EXPECT_TRUE(TraceWithoutSlots(187, c.difficulty, 76).empty());
    }
}

TEST(BulletColumns, GappedRingsLeaveRunsOut)
{
    const float aim = AimFromPoint(kX, kY);
    struct Case {
        int difficulty, clock, step, kind;
        size_t count;
        std::vector<int> firstPositions;
    };
    const Case cases[] = {
        {0, 100, 10, 2, 18, {0, 1, 2, 3, 4, 5, 12}},
        {1, 80, 10, 2, 20, {0, 1, 2, 3, 8, 9}},
        {2, 60, 5, 2, 48, {6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 24}},
        {3, 60, 5, 4, 54, {0, 2, 4, 6, 7, 8, 9, 10, 11, 12, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.difficulty);
        const Lines did = TraceWithoutSlots(194, c.difficulty, c.clock);
        ASSERT_EQ(did.size(), c.count);
        for (size_t i = 0; i < c.firstPositions.size(); ++i) {
            EXPECT_EQ(did[i], TraceShotLine(10, c.kind, 400, kX, kY, 2.4f, aim + DegToRad(c.step * c.firstPositions[i]), 0.0f));
        }
        EXPECT_TRUE(TraceWithoutSlots(194, c.difficulty, c.clock + 1).empty());
    }
}

TEST(BulletColumns, AlternatingRingsByHundredsOfTheClock)
{
    struct Case {
        int id, difficulty, period, templateId, periodA, stepA, kindA, periodB, stepB;
        float speed;
    };
    const Case cases[] = {
        {181, 0, 4, 132, 8, 90, 11, 20, 40, 2.2f}, {181, 1, 4, 132, 8, 40, 11, 20, 30, 2.2f},
        {181, 2, 3, 132, 9, 20, 11, 18, 20, 2.4f}, {181, 3, 2, 132, 8, 18, 13, 16, 18, 2.6f},
        {182, 0, 4, 132, 8, 90, 11, 20, 40, 2.2f}, {182, 1, 4, 133, 8, 40, 11, 20, 30, 2.2f},
        {182, 2, 3, 133, 9, 20, 11, 18, 20, 2.4f}, {182, 3, 2, 133, 8, 18, 13, 16, 18, 2.6f},
    };
    auto ring = [](int kind, int step, float speed) {
        Lines out;
        for (int k = 0; k < 360; k += step) {
            const float h = kMove + DegToRad(k);
            out.push_back(TraceShotLine(10, kind, 400, kX, kY, speed, h, h));
        }
        return out;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        const std::string child = TraceChildLine(c.templateId, kX, kY, kMove, kMove);
        const Lines ringA = ring(c.kindA, c.stepA, c.speed);
        const Lines ringB = ring(5, c.stepB, c.speed);
        // Clocks that are multiples of both ring beats and of the gate, in
        // an even and an odd hundred.
        const int both = std::lcm(std::lcm(c.periodA, c.periodB), c.period);
        int even = both;
        while ((even / 100) % 2 != 0) even += both;
        int odd = both;
        while ((odd / 100) % 2 != 1) odd += both;
        Lines onEven = {child}, onOdd = {child};
        const Lines& evenRing = c.id == 181 ? ringA : ringB;
        const Lines& oddRing = c.id == 181 ? ringB : ringA;
        onEven.insert(onEven.end(), evenRing.begin(), evenRing.end());
        onOdd.insert(onOdd.end(), oddRing.begin(), oddRing.end());
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, even), onEven);
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, odd), onOdd);
        EXPECT_TRUE(TraceWithoutSlots(c.id, c.difficulty, even + 1).empty());
    }
    // A firing off its ring's beat spawns the child alone.
    const std::string child = TraceChildLine(132, kX, kY, kMove, kMove);
    EXPECT_EQ(TraceWithoutSlots(181, 0, 96).size(), 5u);
    EXPECT_EQ(TraceWithoutSlots(181, 0, 160).size(), 10u);
    EXPECT_EQ(TraceWithoutSlots(182, 0, 96), (Lines{child}));
    EXPECT_EQ(TraceWithoutSlots(182, 0, 160).size(), 5u);
    EXPECT_EQ(TraceWithoutSlots(181, 0, 97, 1), (Lines{child}));
}

// ------------------------------------------------------------------ circling spawn points

TEST(BulletColumns, ChildrenOnTurningEllipseAndCircle)
{
    const float down = DegToRad(90);
    struct Ellipse {
        int difficulty, clock;
        float ry;
    };
    for (const Ellipse e : {Ellipse{0, 20, 40.0f}, Ellipse{1, 40, 50.0f}, Ellipse{2, 60, 50.0f}, Ellipse{3, 45, 80.0f}}) {
        SCOPED_TRACE(e.difficulty);
        const float t = DegToRad(15 * e.clock);
        const float x = 320.0f + 200.0f * F(std::cos(static_cast<double>(t)));
        const float y = 200.0f + e.ry * F(std::sin(static_cast<double>(t)));
        EXPECT_EQ(TraceWithoutSlots(186, e.difficulty, e.clock), (Lines{TraceChildLine(143, x, y, down, down), TraceSoundLine(12)}));
    }
    EXPECT_TRUE(TraceWithoutSlots(186, 3, 20).empty());

    struct Circle {
        int id, difficulty, clock, degrees;
        float cx, cy, radius;
        int templateId;
    };
    const Circle circles[] = {
        {189, 0, 30, 4, 320.0f, 240.0f, 200.0f, 140}, {189, 2, 42, 5, 320.0f, 240.0f, 200.0f, 140},
        {191, 0, 45, 6, kX, kY, 40.0f, 141},          {191, 1, 36, 6, kX, kY, 40.0f, 141},
        {191, 2, 30, 6, kX, kY, 60.0f, 141},          {191, 3, 16, 6, kX, kY, 80.0f, 141},
    };
    for (const Circle& c : circles) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        const float t = DegToRad(c.degrees * c.clock);
        const float x = c.cx + c.radius * F(std::cos(static_cast<double>(t)));
        const float y = c.cy + c.radius * F(std::sin(static_cast<double>(t)));
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, c.clock), (Lines{TraceChildLine(c.templateId, x, y, down, down), TraceEffectLine(12, x, y)}));
        // Strict beat: a death one frame later does nothing.
        EXPECT_TRUE(TraceWithoutSlots(c.id, c.difficulty, c.clock + 1, 1).empty());
    }
}

TEST(BulletColumns, OrbitingChildAimsFromItsOwnPoint)
{
    struct Case {
        int difficulty, period;
        float radius;
        int ringPeriod, step, kind;
        float speed;
    };
    for (const Case c : {Case{0, 5, 40.0f, 10, 60, 2, 2.4f}, Case{1, 5, 50.0f, 10, 36, 4, 2.4f},
                         Case{2, 4, 50.0f, 8, 24, 4, 2.4f}, Case{3, 3, 60.0f, 6, 24, 6, 2.0f}}) {
        SCOPED_TRACE(c.difficulty);
        for (const int clock : {c.ringPeriod * 3, c.ringPeriod * 3 + c.period}) {
            const float t = DegToRad(6 * clock);
            const float x = kX + c.radius * F(std::cos(static_cast<double>(t)));
            const float y = kY + c.radius * F(std::sin(static_cast<double>(t)));
            const float a = AimFromPoint(x, y);
            ASSERT_NE(a, AimFromPoint(kX, kY));
            Lines want = {TraceChildLine(142, x, y, a, a)};
            if (clock % c.ringPeriod == 0) {
                for (int k = 0; k < 360; k += c.step) {
                    want.push_back(TraceShotLine(10, c.kind, 400, x, y, c.speed, a + DegToRad(k), 0.0f));
                }
            }
            EXPECT_EQ(TraceWithoutSlots(190, c.difficulty, clock), want);
        }
        EXPECT_TRUE(TraceWithoutSlots(190, c.difficulty, c.ringPeriod * 3 + 1).empty());
    }
}

TEST(BulletColumns, MirroredStreamsFromShoulders)
{
    for (const int clock : {0, 1, 30, 200}) {
        for (int once = 0; once < 2; ++once) {
            const int owner = once != 0 ? -1 : 10;
            const float right = DegToRad(4 * clock);
            const float left = DegToRad((45 - clock) * 4);
            EXPECT_EQ(TraceWithoutSlots(195, 0, clock, once), (Lines{TraceShotLine(owner, 12, 400, kX + 100.0f, kY - 50.0f, 4.0f, right, right),
                                                       TraceShotLine(owner, 12, 400, kX - 100.0f, kY - 50.0f, 4.0f, left, left)}));
        }
    }
}

// ------------------------------------------------------------------ checklist

TEST(BulletColumns, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    const int bases[] = {175, 176, 180, 181, 182, 183, 186, 187, 189, 190, 191, 194, 195};
    for (const int base : bases) {
        for (int d = 0; d < 4; ++d) {
            const bool live = !(base == 189 && (d == 1 || d == 3)) && !(base == 195 && d != 0);
            SCOPED_TRACE(testing::Message() << "base " << base << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(base + 1000 * d), live);
            bool fired = false;
            for (int clock = 0; clock <= 100 && !(fired && live); ++clock) {
                for (int once = 0; once < 2; ++once) fired = fired || !TraceWithoutSlots(base, d, clock, once).empty();
            }
            EXPECT_EQ(fired, live);
        }
    }
}
