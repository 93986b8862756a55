// The bullet patterns of base ids 200 to 231: pulses, move-angle rings
// chosen by slot, aimed volleys, downward fans, spreads with children, the
// clock spiral and the standing beams. Every expected value is worked out
// here with the f32 rules of play.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "tests/game/patterns/boss_scene.h"
#include "tests/game/patterns/trace_util.h"

namespace {

using namespace bossscene;

std::vector<std::string> Emitted(int id, int difficulty, int clock, int once = 0)
{
    return TraceEmissions(PatternTraceRun(Options(id, difficulty, clock, once)));
}

std::vector<std::string> Shots(int id, int difficulty, int clock, int once = 0)
{
    return TraceLines(Emitted(id, difficulty, clock, once), "bullet");
}

float PlayerAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

struct Expect {
    int kind;
    float speed;
    float heading;
    int life;
    float sprite;   // A
};

void ExpectShot(const std::string& line, const Expect& e, int owner = kSlot)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "owner"), owner);
    EXPECT_EQ(TraceInt(line, "kind"), e.kind);
    EXPECT_EQ(TraceInt(line, "life"), e.life);
    EXPECT_EQ(TraceField(line, "dr1"), G9(e.speed));
    EXPECT_EQ(TraceField(line, "B"), G9(e.heading));
    EXPECT_EQ(TraceField(line, "A"), G9(e.sprite));
    EXPECT_EQ(TraceField(line, "x0"), G9(kEnemyX));
    EXPECT_EQ(TraceField(line, "y0"), G9(kEnemyY));
    EXPECT_EQ(TraceField(line, "r1"), "0");
    EXPECT_EQ(TraceField(line, "r2"), "0");
    EXPECT_EQ(TraceField(line, "dB"), "0");
    EXPECT_EQ(TraceInt(line, "age"), 0);
}

void ExpectShots(const std::vector<std::string>& shots, const std::vector<Expect>& expected, int owner = kSlot)
{
    ASSERT_EQ(shots.size(), expected.size());
    for (size_t i = 0; i < shots.size(); ++i) {
        ExpectShot(shots[i], expected[i], owner);
    }
}

void ExpectChild(const std::string& line, int templateId, float x, float y, float angle)
{
    ExpectTraceChild(line, templateId, x, y, angle, angle);
}

// Others in every enemy slot from 13 on and in 10 and 11, so that a child
// falls back to slot 10; with `selfInTen` the running enemy stands there.
TraceOptions FullTable(TraceOptions o, bool selfInTen)
{
    o.slot = selfInTen ? 10 : kSlot;
    for (int s = 10; s < 300; ++s) {
        if (s != o.slot) {
            o.others.push_back({s, 200.0f, 50.0f, 0.4f});
        }
    }
    return o;
}

}  // namespace

// ------------------------------------------------------------------ pulses

TEST(BulletVolleys, PulsesOnTheirBeats)
{
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        EXPECT_EQ(Emitted(200, d, 16), std::vector<std::string>{"sound 11"});
        EXPECT_TRUE(Emitted(200, d, 12).empty());
        // every 8: the death path fires off the beat.
        EXPECT_EQ(Emitted(200, d, 13, 1), std::vector<std::string>{"sound 11"});

        const std::string pulse = "effect kind=24 x=" + G9(kEnemyX) + " y=" + G9(kEnemyY) + " angle=0 age=0";
        EXPECT_EQ(Emitted(223, d, 32), std::vector<std::string>{pulse});
        EXPECT_TRUE(Emitted(223, d, 24).empty());
        // every 16 strict: not off the beat on the death path either.
        EXPECT_TRUE(Emitted(223, d, 24, 1).empty());
        EXPECT_EQ(Emitted(223, d, 48, 1), std::vector<std::string>{pulse});
    }
}

// ------------------------------------------------------------------ move-angle rings

TEST(BulletVolleys, MoveAngleRingKindBySlotAndBeat)
{
    struct Band {
        int difficulty, period, beat, step;
        float onBeat, offBeat;
    };
    const Band bands[] = {{0, 8, 16, 30, 3.4f, 4.0f}, {1, 5, 10, 24, 3.6f, 4.2f}, {2, 5, 10, 18, 4.0f, 4.6f}};
    for (const Band& b : bands) {
        for (const int slot : {0, 1, 2}) {
            for (const int clock : {b.period, 2 * b.period, 3 * b.period}) {
                for (int once = 0; once < 2; ++once) {
                    SCOPED_TRACE(testing::Message() << "band " << b.difficulty << " slot " << slot << " clock "
                                                    << clock << " once " << once);
                    TraceOptions o = Options(202, b.difficulty, clock, once);
                    o.slot = slot;
                    const bool beat = clock % b.beat == 0;
                    const int kind = slot == 1 ? (beat ? 4 : 6) : (beat ? 3 : 5);
                    const float speed = beat ? b.onBeat : b.offBeat;
                    std::vector<Expect> ring;
                    for (int k = 0; k < 360; k += b.step) {
                        ring.push_back({kind, speed, kEnemyMove + TraceRad(k), 800, 0.0f});
                    }
                    ExpectShots(TraceLines(TraceEmissions(PatternTraceRun(o)), "bullet"), ring, once ? -1 : slot);
                }
            }
        }
        EXPECT_TRUE(Emitted(202, b.difficulty, b.period + 1).empty());
    }
    EXPECT_EQ(Shots(202, 0, 8).size(), 12u);
    EXPECT_EQ(Shots(202, 1, 5).size(), 15u);
    EXPECT_EQ(Shots(202, 2, 5).size(), 20u);
    // The death path off the beat decides the kind by the clock at death.
    TraceOptions death = Options(202, 0, 17, 1);
    death.slot = 1;
    const auto shots = TraceLines(TraceEmissions(PatternTraceRun(death)), "bullet");
    ASSERT_EQ(shots.size(), 12u);
    EXPECT_EQ(TraceInt(shots[0], "kind"), 6);
}

// ------------------------------------------------------------------ aimed volleys

TEST(BulletVolleys, AimedVolleysAndRings)
{
    const float aim = PlayerAim();
    // Band 0: one shot at the player; the others first fire square to the aim angle.
    ExpectShots(Shots(214, 0, 40), {{11, 2.0f, aim, 800, aim}});
    for (int d = 1; d < 4; ++d) {
        SCOPED_TRACE(d);
        const float left = kEnemyAim + TraceRad(90);
        const float right = kEnemyAim - TraceRad(90);
        ExpectShots(Shots(214, d, 20), {{11, 2.0f, left, 800, left}, {11, 2.0f, right, 800, right},
                                        {11, 2.0f, aim, 800, aim}});
        EXPECT_TRUE(Emitted(214, d, 30, 1).empty());
    }

    // Three groups of three, speeds 2.5 + 0.2n with double constants.
    std::vector<Expect> groups;
    for (const float h : {aim, aim + TraceRad(30), aim - TraceRad(30)}) {
        for (int n = 0; n < 3; ++n) {
            const float step = static_cast<float>(static_cast<long double>(n) * static_cast<long double>(0.2));
            const float speed = static_cast<float>(static_cast<long double>(step) + 2.5L);
            groups.push_back({12, speed, h, 400, h});
        }
    }
    ExpectShots(Shots(216, 0, 120), groups);
    EXPECT_EQ(TraceField(Shots(216, 0, 60)[2], "dr1"), G9(2.9f));
    EXPECT_TRUE(Emitted(216, 0, 90, 1).empty());

    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        std::vector<Expect> ring;
        for (int k = 0; k < 360; k += 60) {
            ring.push_back({2, 2.4f, aim + TraceRad(k), 400, aim + TraceRad(k)});
        }
        ExpectShots(Shots(218, d, 20), ring);
        ExpectShots(Shots(218, d, 20, 1), ring, -1);
        EXPECT_TRUE(Emitted(218, d, 40).empty());
        EXPECT_TRUE(Emitted(218, d, 21, 1).empty());

        const int period = d == 0 ? 30 : d == 1 ? 20 : 15;
        ExpectShots(Shots(225, d, 2 * period), {{12, 3.0f, kEnemyAim, 400, kEnemyAim}});
        EXPECT_TRUE(Emitted(225, d, 2 * period + 1, 1).empty());
        EXPECT_TRUE(Emitted(225, d, period == 15 ? 10 : 15).empty());

        const float speed = d < 2 ? 2.0f : 2.4f;
        std::vector<Expect> cross;
        for (int k = 0; k < 360; k += 90) {
            cross.push_back({6, speed, aim + TraceRad(k), 1000, 0.0f});
        }
        ExpectShots(Shots(231, d, 20), cross);
        EXPECT_TRUE(Emitted(231, d, 19).empty());
    }
}

TEST(BulletVolleys, BurstDrawsSixOffsetsBeforeRingAndChildren)
{
    const float aim = PlayerAim();
    for (const uint32_t seed : {1u, 77u, 4242u}) {
        SCOPED_TRACE(seed);
        TraceOptions o = Options(227, 0, 40);
        o.seed = seed;
        const auto lines = TraceEmissions(PatternTraceRun(o));
        ASSERT_EQ(lines.size(), 12u + 30u + 3u);
        const float fastSpeeds[] = {2.0f, 2.1f, 2.2f, 2.3f};
        for (int i = 0; i < 4; ++i) {
            const int r = TraceRndValue(lines[2 * i], -20, 20);
            ExpectShot(lines[2 * i + 1], {4, fastSpeeds[i], aim + TraceRad(r), 400, 0.0f});
        }
        const float slowSpeeds[] = {2.4f, 2.5f};
        for (int i = 0; i < 2; ++i) {
            const int r = TraceRndValue(lines[8 + 2 * i], -10, 10);
            ExpectShot(lines[9 + 2 * i], {6, slowSpeeds[i], aim + TraceRad(r), 400, 0.0f});
        }
        for (int k = 0, i = 12; k < 360; k += 12, ++i) {
            ExpectShot(lines[i], {2, 1.6f, aim + TraceRad(k), 1000, 0.0f});
        }
        ExpectChild(lines[42], 182, kEnemyX, kEnemyY, aim);
        ExpectChild(lines[43], 182, kEnemyX, kEnemyY, aim + TraceRad(40));
        ExpectChild(lines[44], 182, kEnemyX, kEnemyY, aim - TraceRad(40));
    }
    EXPECT_TRUE(Emitted(227, 0, 80).empty());
    EXPECT_EQ(Emitted(227, 0, 40, 1).size(), 45u);
}

// ------------------------------------------------------------------ fans around straight down

TEST(BulletVolleys, DownwardFanAtClockFifteen)
{
    struct Row {
        int kind;
        float speed;
        int degrees;
        int spriteDegrees;
    };
    // Degrees from straight down; the sprite turn is the heading's unless
    // given (only band 1's 30-degree pair differs).
    constexpr int kSame = 999;
    const std::vector<Row> bands[4] = {
        {{4, 1.6f, 0, kSame}, {3, 1.2f, 20, kSame}, {3, 1.2f, -20, kSame}, {3, 1.2f, 170, kSame},
         {3, 1.2f, -190, kSame}, {3, 1.2f, -180, kSame}},
        {{3, 1.8f, 10, kSame}, {3, 1.8f, -10, kSame}, {3, 1.8f, 0, kSame}, {4, 1.4f, 30, 20}, {4, 1.4f, -30, -20},
         {4, 1.4f, 170, kSame}, {4, 1.4f, -190, kSame}, {4, 1.4f, -180, kSame}},
        {{3, 2.0f, 10, kSame}, {3, 2.0f, -10, kSame}, {3, 2.0f, 0, kSame}, {4, 2.0f, 20, kSame},
         {4, 2.0f, -20, kSame}, {4, 1.6f, 170, kSame}, {4, 1.6f, -190, kSame}, {4, 1.6f, -180, kSame}},
        {{3, 2.4f, 10, kSame}, {3, 2.4f, -10, kSame}, {3, 2.4f, 0, kSame}, {4, 1.8f, 20, kSame},
         {4, 1.8f, -20, kSame}, {5, 2.4f, 40, kSame}, {5, 2.4f, -40, kSame}, {4, 1.8f, 170, kSame},
         {4, 1.8f, -190, kSame}, {4, 1.8f, -180, kSame}},
    };
    auto fromDown = [](int degrees) { return degrees < 0 ? kDown - TraceRad(-degrees) : kDown + TraceRad(degrees); };
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        std::vector<Expect> fan;
        for (const Row& r : bands[d]) {
            const float h = fromDown(r.degrees);
            fan.push_back({r.kind, r.speed, h, 800, r.spriteDegrees == kSame ? h : fromDown(r.spriteDegrees)});
        }
        ExpectShots(Shots(210, d, 15), fan);
        ExpectShots(Shots(210, d, 15, 1), fan, -1);
        for (const int clock : {14, 16, 30}) {
            EXPECT_TRUE(Emitted(210, d, clock, 1).empty()) << clock;
        }
    }
}

// ------------------------------------------------------------------ spreads about the aim angle

TEST(BulletVolleys, SpreadsReleaseChildrenThenFixedBullets)
{
    struct Shot3 {
        int kind;
        float speed;
        int degrees;
    };
    const std::vector<Shot3> narrow206 = {{6, 2.0f, 120}, {4, 2.8f, 80}, {4, 2.8f, 320}, {2, 3.2f, 60},
                                          {2, 3.3f, 100}, {2, 3.4f, 170}, {2, 3.6f, 340}};
    const std::vector<Shot3> wide206 = {{6, 2.0f, 120}, {6, 2.4f, 240}, {4, 2.8f, 80},  {4, 3.0f, 160},
                                        {4, 2.8f, 320}, {2, 3.2f, 60},  {2, 3.3f, 100}, {2, 3.4f, 170},
                                        {2, 3.5f, 280}, {2, 3.6f, 340}};
    const std::vector<Shot3> narrow207 = {{6, 2.4f, 120}, {6, 2.8f, 240}, {4, 3.2f, 80}, {4, 3.2f, 320},
                                          {2, 3.6f, 60},  {2, 3.8f, 180}, {2, 4.0f, 340}};
    const std::vector<Shot3> wide207 = {{6, 2.4f, 120}, {6, 2.8f, 240}, {4, 3.2f, 80},  {4, 3.4f, 160},
                                        {4, 3.2f, 320}, {2, 3.6f, 60},  {2, 3.7f, 100}, {2, 3.8f, 180},
                                        {2, 3.9f, 280}, {2, 4.0f, 340}};
    struct Case {
        int id, difficulty, period;
        const std::vector<Shot3>* shots;
    };
    const Case cases[] = {
        {206, 0, 17, &narrow206}, {206, 1, 15, &wide206}, {206, 2, 12, &wide206}, {206, 3, 10, &wide206},
        {207, 0, 9, &narrow207},  {207, 1, 8, &wide207},  {207, 2, 6, &wide207},  {207, 3, 5, &wide207},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " band " << c.difficulty);
        const auto lines = Emitted(c.id, c.difficulty, 2 * c.period);
        const std::vector<float> childAngles =
            c.id == 206 ? std::vector<float>{kEnemyAim, kEnemyAim + kDown}
                        : std::vector<float>{kEnemyAim, kEnemyAim + TraceRad(130), kEnemyAim + TraceRad(270)};
        ASSERT_EQ(lines.size(), childAngles.size() + c.shots->size());
        for (size_t i = 0; i < childAngles.size(); ++i) {
            ExpectChild(lines[i], 162, kEnemyX, kEnemyY, childAngles[i]);
        }
        std::vector<Expect> expected;
        for (const Shot3& s : *c.shots) {
            expected.push_back({s.kind, s.speed, kEnemyAim + TraceRad(s.degrees), 800, 0.0f});
        }
        ExpectShots(TraceLines(lines, "bullet"), expected);
        EXPECT_TRUE(Emitted(c.id, c.difficulty, 2 * c.period + 1, 1).empty());
        EXPECT_EQ(Emitted(c.id, c.difficulty, 0, 1).size(), lines.size());
    }
}

TEST(BulletVolleys, SpreadReadsAimAngleAfterChildTakesOwnSlot)
{
    // With the table full and the enemy in slot 10, every child lands on the
    // running enemy: the spread turns with the last child's angle.
    const auto lines = TraceEmissions(PatternTraceRun(FullTable(Options(206, 0, 17), true)));
    const float second = kEnemyAim + kDown;
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_NE(lines[1].find("-> 10"), std::string::npos) << lines[1];
    EXPECT_EQ(TraceField(lines[2], "B"), G9(second + TraceRad(120)));

    const auto lines207 = TraceEmissions(PatternTraceRun(FullTable(Options(207, 0, 9), true)));
    ASSERT_EQ(lines207.size(), 10u);
    const float a1 = kEnemyAim + TraceRad(130);
    const float a2 = a1 + TraceRad(270);
    ExpectChild(lines207[1], 162, kEnemyX, kEnemyY, a1);
    ExpectChild(lines207[2], 162, kEnemyX, kEnemyY, a2);
    EXPECT_EQ(TraceField(lines207[3], "B"), G9(a2 + TraceRad(120)));
    // Elsewhere the children fall back to slot 10 and the enemy's aim holds.
    const auto apart = TraceEmissions(PatternTraceRun(FullTable(Options(206, 0, 17), false)));
    EXPECT_EQ(TraceField(apart[2], "B"), G9(kEnemyAim + TraceRad(120)));
}

// ------------------------------------------------------------------ clock spiral

TEST(BulletVolleys, ClockSpiralTurnsFiveDegreesPerFrame)
{
    struct Case {
        int difficulty, clock;
        bool effect, fires;
        int templateId;
        float side, back;
    };
    const Case cases[] = {
        {0, 16, true, true, 169, 2.0f, 2.6f},   {0, 24, false, true, 170, 2.0f, 2.6f},
        {0, 40, false, true, 170, 2.0f, 2.6f},  {0, 48, true, true, 169, 2.0f, 2.6f},
        {1, 6, false, true, 170, 2.4f, 3.0f},   {1, 12, false, true, 169, 2.4f, 3.0f},
        {1, 16, true, false, 0, 0.0f, 0.0f},    {1, 48, true, true, 169, 2.4f, 3.0f},
        {2, 5, false, true, 170, 2.4f, 3.0f},   {2, 10, false, true, 169, 2.4f, 3.0f},
        {2, 80, true, true, 169, 2.4f, 3.0f},   {3, 4, false, true, 170, 2.4f, 3.0f},
        {3, 8, false, true, 169, 2.4f, 3.0f},   {3, 32, true, true, 169, 2.4f, 3.0f},
        {3, 0, true, true, 169, 2.4f, 3.0f},    {0, 7, false, false, 0, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        for (int once = 0; once < 2; ++once) {
            SCOPED_TRACE(testing::Message() << "band " << c.difficulty << " clock " << c.clock << " once " << once);
            if (c.clock == 0 && once == 0) {
                continue;
            }
            const auto lines = Emitted(213, c.difficulty, c.clock, once);
            size_t i = 0;
            if (c.effect) {
                ASSERT_GE(lines.size(), 1u);
                EXPECT_EQ(lines[i++], "effect kind=26 x=" + G9(kEnemyX) + " y=" + G9(kEnemyY) + " angle=0 age=0");
            }
            if (!c.fires) {
                EXPECT_EQ(lines.size(), i);
                continue;
            }
            ASSERT_EQ(lines.size(), i + 5);
            const float theta = TraceRad(5 * c.clock);
            const float clock = static_cast<float>(c.clock);
            // The drift 0.3 is a double constant: the product rounded once.
            const float dx =
                static_cast<float>(static_cast<__float128>(TraceCos(theta) * clock) * static_cast<__float128>(0.3));
            const float dy =
                static_cast<float>(static_cast<__float128>(TraceSin(theta) * clock) * static_cast<__float128>(0.3));
            ExpectChild(lines[i], c.templateId, dx + kEnemyX, dy + kEnemyY, theta);
            const int owner = once ? -1 : kSlot;
            ExpectShot(lines[i + 1], {1, c.side, theta + TraceRad(90), 800, theta + TraceRad(90)}, owner);
            ExpectShot(lines[i + 2], {1, c.side, theta - TraceRad(90), 800, theta - TraceRad(90)}, owner);
            ExpectShot(lines[i + 3], {3, c.back, theta - TraceRad(180), 800, theta - TraceRad(180)}, owner);
            ExpectShot(lines[i + 4], {5, c.back, theta, 800, theta}, owner);
        }
    }
    // Over a long step the drift must stay the double constant: 0.3 as an
    // f32 gives other points on some clocks.
    for (int clock = 8; clock <= 4000; clock += 8) {
        SCOPED_TRACE(clock);
        const auto children = TraceLines(Emitted(213, 0, clock), "enemy");
        ASSERT_EQ(children.size(), 1u);
        const float theta = TraceRad(5 * clock);
        const float t = static_cast<float>(clock);
        const float dx = static_cast<float>(static_cast<__float128>(TraceCos(theta) * t) * static_cast<__float128>(0.3));
        const float dy = static_cast<float>(static_cast<__float128>(TraceSin(theta) * t) * static_cast<__float128>(0.3));
        ASSERT_EQ(TraceField(children[0], "x"), G9(dx + kEnemyX));
        ASSERT_EQ(TraceField(children[0], "y"), G9(dy + kEnemyY));
    }
    // The child drifts 0.3 pixels a frame of the clock: 4.8 out at clock 16.
    const auto at16 = TraceLines(Emitted(213, 0, 16), "enemy");
    ASSERT_EQ(at16.size(), 1u);
    EXPECT_NEAR(std::hypot(TraceFloat(at16[0], "x") - kEnemyX, TraceFloat(at16[0], "y") - kEnemyY), 4.8, 1e-4);
}

// ------------------------------------------------------------------ beams

namespace {

struct BeamPoint {
    float x, y;
};

// A point of the beam: cos a x 260 + x + cos a x k x 12, products first.
BeamPoint BeamBullet(float x, float y, float a, int k)
{
    const float c = TraceCos(a);
    const float s = TraceSin(a);
    const float kf = static_cast<float>(k);
    const float bx = c * 260.0f + x + c * kf * 12.0f;
    const float by = s * 260.0f + y + s * kf * 12.0f;
    return {bx, by};
}

void ExpectStanding(const std::string& line, int kind, BeamPoint p)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "kind"), kind);
    EXPECT_EQ(TraceInt(line, "life"), 1);
    EXPECT_EQ(TraceField(line, "dr1"), "0");
    EXPECT_EQ(TraceField(line, "B"), "0");
    EXPECT_EQ(TraceField(line, "A"), "0");
    EXPECT_EQ(TraceField(line, "x0"), G9(p.x));
    EXPECT_EQ(TraceField(line, "y0"), G9(p.y));
}

}  // namespace

TEST(BulletVolleys, BeamChargesUntilClockSeventyThenStands)
{
    const float mx = TraceCos(kEnemyAim) * 240.0f + kEnemyX;
    const float my = TraceSin(kEnemyAim) * 240.0f + kEnemyY;
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const auto charging = Emitted(209, d, 69);
        ASSERT_EQ(charging.size(), 1u);
        ExpectChild(charging[0], 165, mx, my, kEnemyAim);
        for (const int clock : {70, 71}) {
            const auto lines = Emitted(209, d, clock);
            ASSERT_EQ(lines.size(), 41u);
            ExpectChild(lines[0], clock == 70 ? 166 : 167, mx, my, kEnemyAim);
            for (int k = -20; k < 20; ++k) {
                ExpectStanding(lines[static_cast<size_t>(k + 21)], 21, BeamBullet(kEnemyX, kEnemyY, kEnemyAim, k));
            }
            // The row runs 20 to 488 pixels out along the aim angle.
            const float nearX = TraceFloat(lines[1], "x0") - kEnemyX;
            const float nearY = TraceFloat(lines[1], "y0") - kEnemyY;
            const float farX = TraceFloat(lines[40], "x0") - kEnemyX;
            const float farY = TraceFloat(lines[40], "y0") - kEnemyY;
            EXPECT_NEAR(std::hypot(nearX, nearY), 20.0, 1e-3);
            EXPECT_NEAR(std::hypot(farX, farY), 488.0, 1e-3);
        }
    }
    // On the death path too, without an owner.
    const auto death = TraceLines(Emitted(209, 0, 100, 1), "bullet");
    ASSERT_EQ(death.size(), 40u);
    EXPECT_EQ(TraceInt(death[0], "owner"), -1);
}

TEST(BulletVolleys, BeamReadsPositionAfterChildTakesOwnSlot)
{
    // The muzzle child replaces the running enemy in slot 10: the bullets
    // are laid from the child's place, the aim angle unchanged.
    const auto lines = TraceEmissions(PatternTraceRun(FullTable(Options(209, 0, 80), true)));
    ASSERT_EQ(lines.size(), 41u);
    const float mx = TraceCos(kEnemyAim) * 240.0f + kEnemyX;
    const float my = TraceSin(kEnemyAim) * 240.0f + kEnemyY;
    EXPECT_NE(lines[0].find("-> 10"), std::string::npos) << lines[0];
    ExpectStanding(lines[1], 21, BeamBullet(mx, my, kEnemyAim, -20));
    ExpectStanding(lines[40], 21, BeamBullet(mx, my, kEnemyAim, 19));
}

TEST(BulletVolleys, BarOfSevenStandingBulletsThroughEnemy)
{
    for (int d = 0; d < 4; ++d) {
        for (const float aim : {kEnemyAim, 2.5f}) {
            SCOPED_TRACE(testing::Message() << "band " << d << " aim " << aim);
            TraceOptions o = Options(221, d, 3);
            o.enemyAim = aim;
            const auto lines = TraceEmissions(PatternTraceRun(o));
            ASSERT_EQ(lines.size(), 7u);
            for (int k = -3; k < 4; ++k) {
                const float kf = static_cast<float>(k);
                const float c = TraceCos(aim);
                const float s = TraceSin(aim);
                ExpectStanding(lines[static_cast<size_t>(k + 3)], 22, {c * kf * 10.0f + kEnemyX, s * kf * 10.0f + kEnemyY});
            }
        }
    }
}

// ------------------------------------------------------------------ checklist

TEST(BulletVolleys, EveryLiveIdFiresAndEveryDeadIdStaysSilent)
{
    struct Base {
        int id;
        bool live[4];
    };
    const Base bases[] = {
        {200, {true, true, true, true}},   {202, {true, true, true, false}}, {206, {true, true, true, true}},
        {207, {true, true, true, true}},   {209, {true, true, true, true}},  {210, {true, true, true, true}},
        {213, {true, true, true, true}},   {214, {true, true, true, true}},  {216, {true, false, false, false}},
        {218, {true, true, true, true}},   {221, {true, true, true, true}},  {223, {true, true, true, true}},
        {225, {true, true, true, true}},   {227, {true, false, false, false}}, {231, {true, true, true, true}},
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
