// Child launchers and timed child fans of base ids 164 to 199. Every call's
// emissions are compared in full with lines built here from the rows, the
// numbers worked out independently with the same f32 rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/trace_util.h"

namespace {

constexpr float kX = 300.0f;
constexpr float kY = 120.0f;
constexpr float kOwnAim = 0.7f;
constexpr float kPlayerX = 250.0f;
constexpr float kPlayerY = 420.0f;
constexpr float kDown = 1.5707964f;

TraceOptions Opts(int id, int difficulty, int clock, int once = 0)
{
    return SceneOptions({.enemyX = kX, .enemyY = kY, .enemyAim = kOwnAim, .playerX = kPlayerX, .playerY = kPlayerY},
                        id, difficulty, clock, once);
}

float PlayerAim()
{
    return TraceAim(kX, kY, kPlayerX, kPlayerY);
}

std::vector<std::string> TraceWithoutSlots(int id, int difficulty, int clock, int once = 0)
{
    return TraceWithoutSlots(Opts(id, difficulty, clock, once));
}

// The value of the draw at `line`, after checking its range.
int DrawAt(const std::vector<std::string>& lines, size_t at, int lo, int hi)
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

using Lines = std::vector<std::string>;

}  // namespace

// ------------------------------------------------------------------ own-angle streams

TEST(ChildLaunchers, OwnAngleStreamsChildThenShot)
{
    struct Case {
        int id, difficulty, period, templateId, kind;
    };
    const Case cases[] = {{164, 0, 4, 106, 1}, {164, 1, 3, 106, 3}, {164, 2, 2, 106, 3},
                          {165, 0, 4, 107, 1}, {165, 1, 3, 107, 3}, {165, 2, 2, 107, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        const Lines both = {TraceChildLine(c.templateId, kX, kY, kOwnAim, kOwnAim),
                            TraceShotLine(10, c.kind, 800, kX, kY, 2.4f, kOwnAim, 0.0f)};
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, 12), both);
        EXPECT_TRUE(TraceWithoutSlots(c.id, c.difficulty, 12 + 1).empty());
        // Off the beat, the death path fires both with no owner.
        const Lines death = TraceWithoutSlots(c.id, c.difficulty, 13, 1);
        ASSERT_EQ(death.size(), 2u);
        EXPECT_EQ(TraceInt(death[1], "owner"), -1);
    }
}

TEST(ChildLaunchers, OwnAngleStreamsInBand3ShootOnEveryCall)
{
    for (const int id : {164, 165}) {
        const int templateId = id == 164 ? 106 : 107;
        const std::string child = TraceChildLine(templateId, kX, kY, kOwnAim, kOwnAim);
        for (int once = 0; once < 2; ++once) {
            SCOPED_TRACE(testing::Message() << id << " once " << once);
            const std::string shot = TraceShotLine(once != 0 ? -1 : 10, 5, 800, kX, kY, 2.4f, kOwnAim, 0.0f);
            EXPECT_EQ(TraceWithoutSlots(id, 3, 7, once), (Lines{shot}));
            EXPECT_EQ(TraceWithoutSlots(id, 3, 8, once), (Lines{child, shot}));
        }
    }
}

TEST(ChildLaunchers, BackwardShotsOnStrictBeat)
{
    const float b = kOwnAim + 3.1415927f;
    auto backShot = [&](int d) { return TraceShotLine(10, 12, 400, kX, kY, 3.0f, b + DegToRad(d), b + DegToRad(d)); };
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(TraceWithoutSlots(199, d, 45), (Lines{backShot(10), backShot(-10)}));
        EXPECT_TRUE(TraceWithoutSlots(199, d, 46, 1).empty());
    }
    EXPECT_EQ(TraceWithoutSlots(199, 3, 24), (Lines{backShot(10), backShot(-10), backShot(-20), backShot(20)}));
    EXPECT_TRUE(TraceWithoutSlots(199, 3, 15).empty());
}

// ------------------------------------------------------------------ side pairs

TEST(ChildLaunchers, SidePairsFlashThenChildOnEachSide)
{
    const float down = DegToRad(90);
    struct Case {
        int id, left, right;
    };
    for (const Case c : {Case{166, 108, 109}, Case{167, 109, 108}, Case{168, 108, 108}, Case{169, 109, 109}}) {
        const Lines want = {TraceEffectLine(12, kX - 40.0f, kY), TraceChildLine(c.left, kX - 40.0f, kY, down, down),
                            TraceEffectLine(12, kX + 40.0f, kY), TraceChildLine(c.right, kX + 40.0f, kY, down, down)};
        for (int d = 0; d < 4; ++d) {
            SCOPED_TRACE(testing::Message() << c.id << " band " << d);
            EXPECT_EQ(TraceWithoutSlots(c.id, d, 30), want);
            EXPECT_TRUE(TraceWithoutSlots(c.id, d, 20).empty());
        }
    }
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(TraceWithoutSlots(178, d, 9), (Lines{TraceEffectLine(20, kX - 60.0f, kY + 100.0f), TraceEffectLine(20, kX + 60.0f, kY + 100.0f)}));
        EXPECT_TRUE(TraceWithoutSlots(178, d, 10).empty());
    }
}

TEST(ChildLaunchers, AlternatingChildSidesFollowTheClock)
{
    struct Case {
        int difficulty, period;
    };
    for (const Case c : {Case{0, 30}, Case{1, 25}, Case{2, 20}, Case{3, 15}}) {
        SCOPED_TRACE(c.difficulty);
        const Lines left = {TraceChildLine(152, kX - 26.0f, kY + 40.0f, kDown, kDown), TraceSoundLine(12)};
        const Lines right = {TraceChildLine(152, kX + 26.0f, kY + 40.0f, kDown, kDown), TraceSoundLine(12)};
        EXPECT_EQ(TraceWithoutSlots(192, c.difficulty, 2 * c.period), left);
        EXPECT_EQ(TraceWithoutSlots(192, c.difficulty, 3 * c.period), right);
        EXPECT_EQ(TraceWithoutSlots(192, c.difficulty, c.period + 1, 1), right);
        EXPECT_EQ(TraceWithoutSlots(192, c.difficulty, 0, 1), left);
        EXPECT_TRUE(TraceWithoutSlots(192, c.difficulty, c.period + 1).empty());
    }
}

TEST(ChildLaunchers, AlternatingChildWithRingFromTheOtherSide)
{
    struct Case {
        int difficulty, period, step, kind;
        float speed;
    };
    for (const Case c : {Case{0, 24, 36, 4, 2.0f}, Case{1, 20, 30, 4, 2.0f}, Case{2, 18, 24, 4, 2.0f},
                         Case{3, 15, 18, 6, 2.4f}}) {
        for (const bool left : {true, false}) {
            SCOPED_TRACE(testing::Message() << "band " << c.difficulty << (left ? " left" : " right"));
            Lines want = {TraceChildLine(114, kX + (left ? -26.0f : 26.0f), kY + 40.0f, kDown, kDown), TraceSoundLine(12)};
            for (int k = 0; k < 360; k += c.step) {
                want.push_back(TraceShotLine(10, c.kind, 800, kX + (left ? 65.0f : -65.0f), kY - 30.0f, c.speed,
                                        DegToRad(k), 0.0f));
            }
            EXPECT_EQ(TraceWithoutSlots(173, c.difficulty, (left ? 2 : 3) * c.period), want);
        }
        EXPECT_TRUE(TraceWithoutSlots(173, c.difficulty, c.period - 1).empty());
        // A death between firings takes the right-hand side.
        const Lines death = TraceWithoutSlots(173, c.difficulty, c.period + 1, 1);
        ASSERT_FALSE(death.empty());
        EXPECT_EQ(death[0], TraceChildLine(114, kX + 26.0f, kY + 40.0f, kDown, kDown));
    }
}

// ------------------------------------------------------------------ aimed child fans

TEST(ChildLaunchers, AimedFansFanMoveAngleOrBoth)
{
    const float aim = PlayerAim();
    auto fan171 = [&](std::vector<int> offsets) {
        Lines out;
        for (const int d : offsets) out.push_back(TraceChildLine(111, kX, kY, aim, d == 0 ? aim : aim + DegToRad(d)));
        return out;
    };
    EXPECT_EQ(TraceWithoutSlots(171, 0, 140), fan171({0}));
    EXPECT_EQ(TraceWithoutSlots(171, 1, 140), fan171({20, -20}));
    EXPECT_EQ(TraceWithoutSlots(171, 2, 140), fan171({0, 40, -40}));
    EXPECT_EQ(TraceWithoutSlots(171, 3, 140), fan171({20, -20, 50, -50}));
    EXPECT_TRUE(TraceWithoutSlots(171, 3, 100).empty());

    auto fan197 = [&](std::vector<int> offsets) {
        Lines out;
        for (const int d : offsets) {
            const float a = d == 0 ? aim : aim + DegToRad(d);
            out.push_back(TraceChildLine(158, kX, kY, a, a));
        }
        return out;
    };
    struct Case {
        int difficulty, period;
        std::vector<int> offsets;
    };
    const Case cases[] = {{0, 70, {0}}, {1, 60, {0, 30, -30}}, {2, 50, {0, 30, -30}}, {3, 40, {0, 20, -20, 40, -40}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.difficulty);
        EXPECT_EQ(TraceWithoutSlots(197, c.difficulty, 2 * c.period), fan197(c.offsets));
        EXPECT_TRUE(TraceWithoutSlots(197, c.difficulty, c.period + 10).empty());
    }
}

// ------------------------------------------------------------------ random-angle launchers

TEST(ChildLaunchers, ParallelLaunchersShareOneDraw)
{
    struct Case {
        int difficulty, period, spread;
    };
    for (const Case c : {Case{0, 3, 80}, Case{1, 3, 60}, Case{2, 2, 60}, Case{3, 2, 60}}) {
        SCOPED_TRACE(c.difficulty);
        TraceOptions o = Opts(174, c.difficulty, 6 * c.period);
        o.seed = 9;
        const Lines did = TraceWithoutSlots(o);
        ASSERT_EQ(did.size(), 4u);
        const float a = DegToRad(DrawAt(did, 0, -c.spread, c.spread) + 90);
        EXPECT_EQ(did[1], TraceChildLine(115, kX - 65.0f, kY - 30.0f, a, a));
        EXPECT_EQ(did[2], TraceChildLine(115, kX + 65.0f, kY - 30.0f, a, a));
        EXPECT_EQ(did[3], TraceSoundLine(10));
        EXPECT_TRUE(TraceWithoutSlots(174, c.difficulty, 6 * c.period + 1).empty());
    }
}

TEST(ChildLaunchers, SplayedPairDrawsRightThenLeft)
{
    struct Case {
        int difficulty, period;
    };
    for (const Case c : {Case{0, 40}, Case{1, 30}, Case{2, 20}, Case{3, 30}}) {
        SCOPED_TRACE(c.difficulty);
        TraceOptions o = Opts(193, c.difficulty, 3 * c.period);
        o.seed = 4;
        const Lines did = TraceWithoutSlots(o);
        ASSERT_EQ(did.size(), 4u);
        const float a = DegToRad(DrawAt(did, 0, -60, 60));
        EXPECT_EQ(did[1], TraceChildLine(153, kX + 50.0f, kY, a, a));
        const float b = DegToRad(DrawAt(did, 2, 120, 240));
        EXPECT_EQ(did[3], TraceChildLine(153, kX - 50.0f, kY, b, b));
        EXPECT_TRUE(TraceWithoutSlots(193, c.difficulty, 3 * c.period + 5).empty());
    }
}

TEST(ChildLaunchers, SplayedPairZeroDrawTakesTemplateAngles)
{
    // Find a seed whose first draw is 0: that child is passed exactly 0.0.
    for (uint32_t seed = 1; seed < 20000; ++seed) {
        TraceOptions o = Opts(193, 0, 40);
        o.seed = seed;
        const Lines lines = PatternTraceRun(o);
        if (lines.empty() || lines[0] != "rnd -60 60 -> 0") continue;
        const Lines states = TraceLines(lines, "state");
        ASSERT_EQ(states.size(), 3u);
        EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
        EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
        EXPECT_NE(TraceField(states[2], "move"), G9(0.5f));
        return;
    }
    FAIL() << "no seed gave a zero draw";
}

// ------------------------------------------------------------------ child rings and fans

TEST(ChildLaunchers, ArcDropAndBurst)
{
    Lines arc;
    for (int k = -30; k <= 210; k += 20) arc.push_back(TraceChildLine(110, kX, kY, DegToRad(k), DegToRad(k)));
    ASSERT_EQ(arc.size(), 13u);
    for (int d = 0; d < 3; ++d) EXPECT_EQ(TraceWithoutSlots(170, d, 60), arc);
    EXPECT_TRUE(TraceWithoutSlots(170, 0, 50).empty());

    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(TraceWithoutSlots(172, d, 8), (Lines{TraceChildLine(112, kX, kY, kDown, kDown)}));
        EXPECT_TRUE(TraceWithoutSlots(172, d, 9).empty());
    }

    Lines burst;
    for (int k = 0; k < 360; k += 60) burst.push_back(TraceChildLine(117, kX, kY, DegToRad(k), DegToRad(k)));
    Lines burst3 = burst;
    for (int k = 8; k < 368; k += 30) burst3.push_back(TraceShotLine(10, 11, 400, kX, kY, 2.0f, DegToRad(k), DegToRad(k)));
    ASSERT_EQ(burst3.size(), 18u);
    burst.push_back(TraceEffectLine(18, kX, kY));
    burst3.push_back(TraceEffectLine(18, kX, kY));
    // No gate: any clock fires.
    for (const int clock : {1, 37}) {
        for (int d = 0; d < 3; ++d) EXPECT_EQ(TraceWithoutSlots(177, d, clock), burst);
        EXPECT_EQ(TraceWithoutSlots(177, 3, clock), burst3);
    }
    // The first child of the ring is passed 0.0 and takes its template's angles.
    const Lines states = TraceLines(PatternTraceRun(Opts(177, 0, 5, 1)), "state");
    ASSERT_EQ(states.size(), 7u);
    EXPECT_EQ(TraceField(states[1], "aim"), G9(0.25f));
    EXPECT_EQ(TraceField(states[1], "move"), G9(0.5f));
    EXPECT_EQ(TraceField(states[2], "aim"), G9(DegToRad(60)));
}

TEST(ChildLaunchers, TwoFansOnlySecondMovedToStep4)
{
    struct Case {
        int id, difficulty, templateId, clock;
        int leftFrom, leftTo, rightFrom, rightTo, step;
        float dx, dy;
    };
    const Case cases[] = {
        {179, 0, 49, 40, 200, 245, 340, 295, 15, 0.0f, 0.0f},    {179, 1, 49, 40, 180, 240, 360, 300, 15, 0.0f, 0.0f},
        {179, 2, 49, 40, 190, 250, 350, 290, 10, 0.0f, 0.0f},    {179, 3, 49, 40, 180, 260, 360, 280, 10, 0.0f, 0.0f},
        {198, 0, 159, 10, 200, 260, 340, 280, 20, 100.0f, -50.0f}, {198, 1, 159, 10, 200, 270, 340, 270, 14, 100.0f, -50.0f},
        {198, 2, 159, 10, 200, 272, 340, 268, 12, 100.0f, -50.0f}, {198, 3, 159, 10, 200, 280, 340, 260, 10, 100.0f, -50.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        // 179's children leave their aim angle to the template; 198's face their way.
        auto aimFor = [&](int k) { return c.id == 179 ? 0.0f : DegToRad(k); };
        Lines want;
        std::vector<int> steps;
        for (int k = c.leftFrom; k < c.leftTo; k += c.step) {
            want.push_back(TraceChildLine(c.templateId, kX - c.dx, kY + c.dy, aimFor(k), DegToRad(k)));
            steps.push_back(0);
        }
        for (int k = c.rightFrom; k > c.rightTo; k -= c.step) {
            want.push_back(TraceChildLine(c.templateId, kX + c.dx, kY + c.dy, aimFor(k), DegToRad(k)));
            steps.push_back(4);
        }
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, c.clock), want);
        const Lines states = TraceLines(PatternTraceRun(Opts(c.id, c.difficulty, c.clock)), "state");
        ASSERT_EQ(states.size(), steps.size() + 1);
        for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(TraceInt(states[i + 1], "step"), steps[i]) << states[i + 1];
        // Once, at the exact clock only, on both paths.
        EXPECT_TRUE(TraceWithoutSlots(c.id, c.difficulty, c.clock + 1, 1).empty());
        EXPECT_EQ(TraceWithoutSlots(c.id, c.difficulty, c.clock, 1).size(), want.size());
    }
}

TEST(ChildLaunchers, FullTableSendsEveryChildToSlot10)
{
    for (const int id : {179, 198}) {
        TraceOptions o = Opts(id, 0, id == 179 ? 40 : 10);
        o.slot = 3;
        for (int s = 10; s < kEnemySlots; ++s) o.others.push_back({s, 200.0f, 200.0f, 0.0f});
        const Lines lines = PatternTraceRun(o);
        const Lines children = TraceLines(lines, "enemy");
        ASSERT_EQ(children.size(), 6u);
        for (const std::string& line : children) EXPECT_NE(line.find(" -> 10"), std::string::npos) << line;
        // The last child placed there belongs to the second fan.
        bool sawSlot10 = false;
        for (const std::string& line : TraceLines(lines, "state")) {
            if (TraceInt(line, "slot") == 10) {
                sawSlot10 = true;
                EXPECT_EQ(TraceInt(line, "step"), 4);
                EXPECT_EQ(TraceInt(line, "hp"), id == 179 ? 1049 : 1159);
            }
        }
        EXPECT_TRUE(sawSlot10);
    }
}

TEST(ChildLaunchers, FixedFieldPointsAndEscorts)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(TraceWithoutSlots(184, d, 90), (Lines{TraceChildLine(137, 290.0f, 100.0f, kDown, kDown),
                                          TraceChildLine(137, 340.0f, 100.0f, kDown, kDown), TraceEffectLine(4, 290.0f, 100.0f),
                                          TraceEffectLine(4, 340.0f, 100.0f)}));
        EXPECT_TRUE(TraceWithoutSlots(184, d, 89, 1).empty());
        EXPECT_TRUE(TraceWithoutSlots(184, d, 180).empty());

        Lines escort = {TraceChildLine(157, kX + 60.0f, kY + 50.0f, DegToRad(60), DegToRad(60)),
                        TraceChildLine(157, kX - 60.0f, kY + 50.0f, DegToRad(120), DegToRad(120))};
        if (d >= 2) escort.push_back(TraceChildLine(157, kX, kY - 30.0f, DegToRad(270), DegToRad(270)));
        EXPECT_EQ(TraceWithoutSlots(196, d, 10), escort);
        EXPECT_TRUE(TraceWithoutSlots(196, d, 20).empty());
    }
    struct Case {
        int difficulty, from, to, step;
        size_t count;
    };
    for (const Case c : {Case{0, 30, 180, 30, 5}, Case{1, 15, 190, 25, 7}, Case{2, 10, 190, 20, 9},
                         Case{3, 30, 165, 15, 9}}) {
        Lines want;
        for (int k = c.from; k < c.to; k += c.step) want.push_back(TraceChildLine(138, 320.0f, 100.0f, DegToRad(k), DegToRad(k)));
        ASSERT_EQ(want.size(), c.count);
        want.push_back(TraceEffectLine(4, 290.0f, 100.0f));
        want.push_back(TraceEffectLine(4, 340.0f, 100.0f));
        EXPECT_EQ(TraceWithoutSlots(185, c.difficulty, 5, 1), want);
        EXPECT_TRUE(TraceWithoutSlots(185, c.difficulty, 10).empty());
    }
}

// ------------------------------------------------------------------ checklist

TEST(ChildLaunchers, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    const int bases[] = {164, 165, 166, 167, 168, 169, 170, 171, 172, 173, 174, 177,
                         178, 179, 184, 185, 188, 192, 193, 196, 197, 198, 199};
    for (const int base : bases) {
        for (int d = 0; d < 4; ++d) {
            const bool live = base != 188 && !(base == 170 && d == 3);
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
