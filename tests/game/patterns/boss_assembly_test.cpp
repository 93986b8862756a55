// The child patterns of base ids 200 to 231: the boss assembled into fixed
// slots, aimed and fixed children, children along the move angle, random
// children and the ring of child pairs. Expected values are worked out here
// with the f32 rules of play; slots, steps and hp are read back from the
// enemy table after the call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "game/crt_random.h"
#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "tests/game/patterns/boss_scene.h"
#include "tests/game/patterns/trace_util.h"

namespace {

using namespace bossscene;

// The trace's templates: hp 1000 + T, first step aim 0.25 and move 0.5.
constexpr float kTemplateAim = 0.25f;
constexpr float kTemplateMove = 0.5f;

struct Outcome {
    std::vector<std::string> emitted;   // every call, in order
    std::vector<std::string> state;     // the active enemies afterwards
};

Outcome Call(const TraceOptions& o)
{
    Outcome out;
    for (const std::string& line : PatternTraceRun(o)) {
        (line.compare(0, 6, "state ") == 0 ? out.state : out.emitted).push_back(line);
    }
    return out;
}

std::vector<std::string> Emitted(int id, int difficulty, int clock, int once = 0)
{
    return Call(Options(id, difficulty, clock, once)).emitted;
}

// The state line of one slot, or "" when the slot is free.
std::string StateOf(const Outcome& out, int slot)
{
    for (const std::string& line : out.state) {
        if (TraceInt(line, "slot") == slot) {
            return line;
        }
    }
    return "";
}

float PlayerAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

// The first seed whose first draw of rnd(lo, hi) is `value`.
uint32_t SeedForFirstDraw(int lo, int hi, int value)
{
    for (uint32_t seed = 1; seed < 200000; ++seed) {
        CrtSeed(seed);
        if (RandomRange(lo, hi) == value) {
            return seed;
        }
    }
    ADD_FAILURE() << "no seed draws " << value;
    return 0;
}

// Every enemy slot from 10 on taken, the running enemy at `slot`.
TraceOptions FullTable(TraceOptions o, int slot)
{
    o.slot = slot;
    for (int s = 10; s < 300; ++s) {
        if (s != slot) {
            o.others.push_back({s, 200.0f, 50.0f, 0.4f});
        }
    }
    return o;
}

}  // namespace

// ------------------------------------------------------------------ boss assembly

TEST(BossAssembly, FivePartsIntoFixedSlotsWithStepsAndHp)
{
    struct Part {
        int slot;
        float x;
        int step;
        unsigned hp;
    };
    const Part parts[] = {{1, 270.0f, 0, 1128}, {2, 370.0f, 5, 1128}, {3, 320.0f, 10, 100},
                          {4, 220.0f, 10, 100}, {5, 420.0f, 10, 100}};
    for (int d = 0; d < 3; ++d) {
        // The running enemy elsewhere, and in slot 3, which the assembly overwrites.
        for (const int self : {kSlot, 3}) {
            for (const int once : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "band " << d << " self " << self << " once " << once);
                TraceOptions o = Options(201, d, once ? 13 : 16, once);
                o.slot = self;
                // Whatever slots 1 to 5 held is replaced.
                for (int s = 1; s <= 5; ++s) {
                    if (s != self) {
                        o.others.push_back({s, 150.0f, 300.0f, 1.0f});
                    }
                }
                const Outcome out = Call(o);
                ASSERT_EQ(out.emitted.size(), 6u);
                for (int i = 0; i < 5; ++i) {
                    const Part& p = parts[i];
                    ExpectTraceChild(out.emitted[i], 128, p.x, 120.0f, 0.0f, kDown, p.slot);
                    EXPECT_EQ(TraceUsedSlot(out.emitted[i]), p.slot);
                    const std::string state = StateOf(out, p.slot);
                    ASSERT_FALSE(state.empty()) << p.slot;
                    EXPECT_EQ(TraceInt(state, "step"), p.step) << state;
                    EXPECT_EQ(TraceInt(state, "hp"), static_cast<long>(p.hp)) << state;
                    EXPECT_EQ(TraceField(state, "aim"), G9(kTemplateAim)) << state;
                    EXPECT_EQ(TraceField(state, "x"), G9(p.x)) << state;
                }
                EXPECT_EQ(out.emitted[5], "sound 11");
            }
        }
        EXPECT_TRUE(Emitted(201, d, 12).empty());
    }
    EXPECT_FALSE(AttackPatternIsLive(3201));
}

// ------------------------------------------------------------------ aimed children

TEST(BossAssembly, AimedChildrenAndRings)
{
    const float aim = PlayerAim();
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        // 203: one side at 40, 120, ...; the other at 80, 160 and on a death at 0.
        for (const int clock : {40, 80, 120, 160}) {
            const auto lines = Emitted(203, d, clock);
            ASSERT_EQ(lines.size(), 1u);
            const float a = clock % 80 == 0 ? aim + TraceRad(40) : aim - TraceRad(40);
            ExpectTraceChild(lines[0], 148, kEnemyX, kEnemyY, a, a);
        }
        const auto death = Emitted(203, d, 0, 1);
        ASSERT_EQ(death.size(), 1u);
        EXPECT_EQ(TraceField(death[0], "aim"), G9(aim + TraceRad(40)));
        EXPECT_TRUE(Emitted(203, d, 60, 1).empty());

        const auto single = Emitted(211, d, 48);
        ASSERT_EQ(single.size(), 1u);
        ExpectTraceChild(single[0], 148, kEnemyX, kEnemyY, aim, aim);
        EXPECT_TRUE(Emitted(211, d, 36, 1).empty());
    }

    struct Case {
        int difficulty, period;
        std::vector<int> childDegrees;
        float ringSpeed;
        int ringFrom, ringStep;   // ringStep 0: no ring
    };
    const Case cases[] = {
        {0, 40, {0, 60, -60}, 0.0f, 0, 0},
        {1, 40, {0, 60, -60}, 2.0f, 30, 60},
        {2, 30, {0, 50, -50}, 2.4f, 15, 30},
        {3, 30, {0, 40, -40, 80, -80}, 2.4f, 10, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.difficulty);
        const auto lines = Emitted(220, c.difficulty, 2 * c.period);
        const size_t ring = c.ringStep == 0 ? 0 : static_cast<size_t>(360 / c.ringStep);
        ASSERT_EQ(lines.size(), c.childDegrees.size() + ring);
        for (size_t i = 0; i < c.childDegrees.size(); ++i) {
            const int deg = c.childDegrees[i];
            const float a = deg < 0 ? aim - TraceRad(-deg) : deg == 0 ? aim : aim + TraceRad(deg);
            ExpectTraceChild(lines[i], 174, kEnemyX, kEnemyY, a, a);
        }
        size_t i = c.childDegrees.size();
        for (int k = c.ringFrom; i < lines.size(); k += c.ringStep, ++i) {
            const std::string& line = lines[i];
            SCOPED_TRACE(line);
            const float h = aim + TraceRad(k);
            EXPECT_EQ(TraceInt(line, "kind"), 11);
            EXPECT_EQ(TraceInt(line, "life"), 400);
            EXPECT_EQ(TraceInt(line, "owner"), kSlot);
            EXPECT_EQ(TraceField(line, "dr1"), G9(c.ringSpeed));
            EXPECT_EQ(TraceField(line, "B"), G9(h));
            EXPECT_EQ(TraceField(line, "A"), G9(h));
        }
        EXPECT_TRUE(Emitted(220, c.difficulty, c.period + 1, 1).empty());
    }
}

TEST(BossAssembly, ChildRingAboutAimOnEveryCall)
{
    const float aim = PlayerAim();
    const int steps[] = {120, 90, 90, 60};
    for (int d = 0; d < 4; ++d) {
        for (const int clock : {1, 7, 33}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock);
            const auto lines = Emitted(222, d, clock);
            ASSERT_EQ(lines.size(), static_cast<size_t>(360 / steps[d]));
            for (int k = 0, i = 0; k < 360; k += steps[d], ++i) {
                ExpectTraceChild(lines[static_cast<size_t>(i)], 176, kEnemyX, kEnemyY, aim + TraceRad(k), aim + TraceRad(k));
            }
        }
    }
}

// ------------------------------------------------------------------ fixed places and angles

TEST(BossAssembly, ChildrenAtFixedPlaces)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const auto pair = Emitted(212, d, 20);
        ASSERT_EQ(pair.size(), 2u);
        ExpectTraceChild(pair[0], 148, 170.0f, 60.0f, kDown, kDown);
        ExpectTraceChild(pair[1], 148, 470.0f, 60.0f, kDown, kDown);
        EXPECT_TRUE(Emitted(212, d, 21, 1).empty());

        const auto cross = Emitted(229, d, 15);
        ASSERT_EQ(cross.size(), 4u);
        for (int k = 0; k < 4; ++k) {
            const float a = kEnemyAim + TraceRad(90 * k);
            ExpectTraceChild(cross[static_cast<size_t>(k)], 184, kEnemyX, kEnemyY, a, a);
        }
        EXPECT_TRUE(Emitted(229, d, 30, 1).empty());
    }

    const auto four = Emitted(219, 0, 20);
    ASSERT_EQ(four.size(), 4u);
    ExpectTraceChild(four[0], 173, kEnemyX + 120.0f, kEnemyY, kDown, kDown);
    ExpectTraceChild(four[1], 173, kEnemyX - 120.0f, kEnemyY, kDown, kDown);
    ExpectTraceChild(four[2], 173, kEnemyX, kEnemyY + 50.0f, kDown, kDown);
    ExpectTraceChild(four[3], 173, kEnemyX, kEnemyY - 50.0f, kDown, kDown);
    EXPECT_TRUE(Emitted(219, 0, 40).empty());

    // Alternate corners, 20 pixels lower each time; a death at clock 0 too.
    struct Corner {
        int clock, once;
        float x, y;
    };
    for (const Corner c : {Corner{40, 0, 500.0f, 40.0f}, Corner{80, 0, 140.0f, 60.0f}, Corner{120, 0, 500.0f, 80.0f},
                           Corner{0, 1, 140.0f, 20.0f}}) {
        SCOPED_TRACE(c.clock);
        const auto lines = Emitted(226, 0, c.clock, c.once);
        ASSERT_EQ(lines.size(), 1u);
        ExpectTraceChild(lines[0], 181, c.x, c.y, kDown, kDown);
    }
    EXPECT_TRUE(Emitted(226, 0, 50, 1).empty());
}

TEST(BossAssembly, CrossReadsAimAngleAfterChildTakesOwnSlot)
{
    // The table is full and the enemy stands in slot 10: each child replaces
    // it, so each turn starts from the angle of the child before.
    const Outcome out = Call(FullTable(Options(229, 0, 15), 10));
    ASSERT_EQ(out.emitted.size(), 4u);
    float a = kEnemyAim;
    for (int k = 0; k < 4; ++k) {
        a = a + TraceRad(90 * k);
        ExpectTraceChild(out.emitted[static_cast<size_t>(k)], 184, kEnemyX, kEnemyY, a, a);
        EXPECT_EQ(TraceUsedSlot(out.emitted[static_cast<size_t>(k)]), 10);
    }
}

// ------------------------------------------------------------------ along the move angle

TEST(BossAssembly, TrailAlongMoveAngle)
{
    const int periods[] = {12, 10, 8, 8};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const auto lines = Emitted(204, d, 3 * periods[d]);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], TraceEffectLine(25, kEnemyX, kEnemyY));
        ExpectTraceChild(lines[1], 149, kEnemyX, kEnemyY, kEnemyMove, kEnemyMove);
        EXPECT_TRUE(Emitted(204, d, 3 * periods[d] + 1, 1).empty());
        EXPECT_EQ(Emitted(204, d, 0, 1).size(), 2u);
    }
}

// ------------------------------------------------------------------ random children

TEST(BossAssembly, RandomChildBelowEnemyDrawsMoveAngleFirst)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const auto lines = Emitted(205, d, 10);
        ASSERT_EQ(lines.size(), 3u);
        const int r1 = TraceRndValue(lines[0], 0, 360);
        const int r2 = TraceRndValue(lines[1], 0, 360);
        ExpectTraceChild(lines[2], 161, kEnemyX, kEnemyY + 50.0f, TraceRad(r2), TraceRad(r1));
        // The pulse alone on its beat, on a death at clock 0 too.
        EXPECT_EQ(Emitted(205, d, 32), std::vector<std::string>{TraceEffectLine(24, kEnemyX, kEnemyY)});
        EXPECT_EQ(Emitted(205, d, 0, 1), std::vector<std::string>{TraceEffectLine(24, kEnemyX, kEnemyY)});
        EXPECT_TRUE(Emitted(205, d, 11, 1).empty());
    }
}

TEST(BossAssembly, RandomChildOnCircleWithPulse)
{
    const int periods[] = {24, 18, 12, 8};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        // The firing alone, then a clock where the pulse comes first.
        for (const int clock : {periods[d], std::lcm(16, periods[d])}) {
            const auto lines = Emitted(208, d, clock);
            const bool pulse = clock % 16 == 0;
            ASSERT_EQ(lines.size(), pulse ? 3u : 2u);
            size_t i = 0;
            if (pulse) {
                EXPECT_EQ(lines[i++], TraceEffectLine(26, kEnemyX, kEnemyY));
            }
            const float theta = TraceRad(TraceRndValue(lines[i], 0, 360));
            const float c = static_cast<float>(std::cos(static_cast<double>(theta)));
            const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
            ExpectTraceChild(lines[i + 1], 164, c * 40.0f + kEnemyX, s * 40.0f + kEnemyY, theta, theta);
        }
        // A pulse clock off the firing beat: the effect only (band 3 fires on
        // every pulse).
        if (d < 3) {
            EXPECT_EQ(Emitted(208, d, 16 * periods[d] + 16, 1),
                      std::vector<std::string>{TraceEffectLine(26, kEnemyX, kEnemyY)});
        }
        EXPECT_TRUE(Emitted(208, d, periods[d] + 1, 1).empty());
    }

    const auto lines = Emitted(215, 0, 30);
    ASSERT_EQ(lines.size(), 3u);
    const float theta = TraceRad(TraceRndValue(lines[0], 0, 360));
    ExpectTraceChild(lines[1], 172, kEnemyX, kEnemyY, theta, theta);
    EXPECT_EQ(lines[2], TraceEffectLine(25, kEnemyX, kEnemyY));
    EXPECT_TRUE(Emitted(215, 0, 35, 1).empty());
}

TEST(BossAssembly, RandomDropStaysInsideFiringBand)
{
    const int periods[] = {12, 12, 10, 8};
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        // Draws 0 and 20 land on the field's edges and are pulled inside.
        for (const int column : {0, 20, 7}) {
            TraceOptions o = Options(217, d, 3 * periods[d]);
            o.seed = SeedForFirstDraw(0, 20, column);
            const auto lines = Call(o).emitted;
            const bool pulse = o.clock % 16 == 0;
            ASSERT_EQ(lines.size(), pulse ? 5u : 4u);
            const size_t i = pulse ? 1 : 0;
            EXPECT_EQ(TraceRndValue(lines[i], 0, 20), column);
            const int y = TraceRndValue(lines[i + 1], 2, 50);
            const float x = column == 0 ? 121.0f : column == 20 ? 519.0f : static_cast<float>(20 * (column + 6));
            ExpectTraceChild(lines[i + 2], 164, x, static_cast<float>(y), TraceRad(90), TraceRad(90));
            EXPECT_EQ(lines[i + 3], TraceEffectLine(25, x, static_cast<float>(y)));
        }
    }
}

TEST(BossAssembly, RandomChildSentOnToStepTenOnBeat)
{
    struct Band {
        int period, beat;
    };
    const Band bands[] = {{8, 16}, {6, 12}, {5, 10}, {4, 8}};
    for (int d = 0; d < 4; ++d) {
        for (const int multiple : {1, 2, 3, 4}) {
            const int clock = bands[d].period * multiple;
            SCOPED_TRACE(testing::Message() << "band " << d << " clock " << clock);
            const Outcome out = Call(Options(228, d, clock));
            ASSERT_EQ(out.emitted.size(), 2u);
            const float theta = TraceRad(TraceRndValue(out.emitted[0], 0, 360));
            ExpectTraceChild(out.emitted[1], 178, kEnemyX, kEnemyY, theta, theta);
            const std::string state = StateOf(out, static_cast<int>(TraceUsedSlot(out.emitted[1])));
            EXPECT_EQ(TraceInt(state, "step"), clock % bands[d].beat == 0 ? 10 : 0) << state;
        }
        EXPECT_TRUE(Emitted(228, d, bands[d].period + 1, 1).empty());
    }
    // A full table: the child and its step write both go to slot 10.
    const Outcome full = Call(FullTable(Options(228, 0, 16), 4));
    ASSERT_EQ(full.emitted.size(), 2u);
    EXPECT_EQ(TraceUsedSlot(full.emitted[1]), 10);
    EXPECT_EQ(TraceInt(StateOf(full, 10), "step"), 10);
    EXPECT_EQ(TraceInt(StateOf(full, 10), "hp"), 1178);
    EXPECT_EQ(TraceInt(StateOf(full, 4), "step"), 0);
}

TEST(BossAssembly, RandomChildInBoxDrawsFourNumbers)
{
    struct Band {
        int period, reachX, reachY;
    };
    const Band bands[] = {{24, 150, 50}, {18, 150, 50}, {14, 180, 80}, {8, 180, 100}};
    for (int d = 0; d < 4; ++d) {
        for (const uint32_t seed : {1u, 99u}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " seed " << seed);
            TraceOptions o = Options(230, d, bands[d].period * 3);
            o.seed = seed;
            const auto lines = Call(o).emitted;
            const bool pulse = o.clock % 16 == 0;
            ASSERT_EQ(lines.size(), pulse ? 6u : 5u);
            const size_t i = pulse ? 1 : 0;
            const int r1 = TraceRndValue(lines[i], -bands[d].reachX, bands[d].reachX);
            const int r2 = TraceRndValue(lines[i + 1], -bands[d].reachY, bands[d].reachY);
            const int r3 = TraceRndValue(lines[i + 2], 0, 360);
            const int r4 = TraceRndValue(lines[i + 3], 0, 360);
            ExpectTraceChild(lines[i + 4], 183, kEnemyX + static_cast<float>(r1), kEnemyY + static_cast<float>(r2), TraceRad(r4),
                        TraceRad(r3));
        }
        EXPECT_TRUE(Emitted(230, d, bands[d].period + 1, 1).empty());
    }
}

TEST(BossAssembly, RandomAngleOfZeroTakesTemplateAngles)
{
    TraceOptions o = Options(215, 0, 10);
    o.seed = SeedForFirstDraw(0, 360, 0);
    const Outcome out = Call(o);
    ASSERT_EQ(out.emitted.size(), 3u);
    ExpectTraceChild(out.emitted[1], 172, kEnemyX, kEnemyY, 0.0f, 0.0f);
    const std::string state = StateOf(out, static_cast<int>(TraceUsedSlot(out.emitted[1])));
    EXPECT_EQ(TraceField(state, "aim"), G9(kTemplateAim)) << state;
    EXPECT_EQ(TraceField(state, "move"), G9(kTemplateMove)) << state;
}

// ------------------------------------------------------------------ ring of child pairs

TEST(BossAssembly, RingOfPairsSecondOfEachToStepTen)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const Outcome out = Call(Options(224, d, 20));
        ASSERT_EQ(out.emitted.size(), 60u);
        for (int k = 0, i = 0; k < 360; k += 12, i += 2) {
            const float a = TraceRad(k);
            for (int j = 0; j < 2; ++j) {
                const std::string& line = out.emitted[static_cast<size_t>(i + j)];
                ExpectTraceChild(line, 178, kEnemyX, kEnemyY, a, a);
                const std::string state = StateOf(out, static_cast<int>(TraceUsedSlot(line)));
                EXPECT_EQ(TraceInt(state, "step"), j == 0 ? 0 : 10) << state;
                // The first pair leaves at angle 0.0 and so takes the template's angles.
                EXPECT_EQ(TraceField(state, "aim"), G9(k == 0 ? kTemplateAim : a)) << state;
            }
        }
        EXPECT_EQ(Emitted(224, d, 32), std::vector<std::string>{TraceEffectLine(26, kEnemyX, kEnemyY)});
        EXPECT_EQ(Emitted(224, d, 0, 1), std::vector<std::string>{TraceEffectLine(26, kEnemyX, kEnemyY)});
        EXPECT_TRUE(Emitted(224, d, 21, 1).empty());
    }
}

// ------------------------------------------------------------------ checklist

TEST(BossAssembly, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    struct Base {
        int id;
        bool live[4];
    };
    const Base bases[] = {
        {201, {true, true, true, false}},  {203, {true, true, true, true}},   {204, {true, true, true, true}},
        {205, {true, true, true, true}},   {208, {true, true, true, true}},   {211, {true, true, true, true}},
        {212, {true, true, true, true}},   {215, {true, false, false, false}}, {217, {true, true, true, true}},
        {219, {true, false, false, false}}, {220, {true, true, true, true}},  {222, {true, true, true, true}},
        {224, {true, true, true, true}},   {226, {true, false, false, false}}, {228, {true, true, true, true}},
        {229, {true, true, true, true}},   {230, {true, true, true, true}},
    };
    for (const Base& b : bases) {
        for (int d = 0; d < 4; ++d) {
            SCOPED_TRACE(testing::Message() << "base " << b.id << " band " << d);
            EXPECT_EQ(AttackPatternIsLive(b.id + 1000 * d), b.live[d]);
            bool fired = false;
            for (int clock = 0; clock <= 130 && !(fired && b.live[d]); ++clock) {
                for (int once = 0; once < 2; ++once) {
                    fired = fired || !Emitted(b.id, d, clock, once).empty();
                }
            }
            EXPECT_EQ(fired, b.live[d]);
        }
    }
}
