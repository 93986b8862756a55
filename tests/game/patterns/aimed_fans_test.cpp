#include <gtest/gtest.h>

#include <cmath>

#include "game/patterns/pattern_kit.h"
#include "tests/game/patterns/trace_util.h"

// Expected values are worked out here with the same f32 rules: the aim from
// the trace's default enemy (320, 100) to the player (320, 400), whole
// degrees through DegToRad.
namespace {

float DefaultAim()
{
    return static_cast<float>(std::atan2(static_cast<double>(400.0f - 100.0f), static_cast<double>(320.0f - 320.0f)));
}

struct Expect {
    int kind;
    float speed;
    float heading;
};

void ExpectShots(const std::vector<std::string>& bullets, const std::vector<Expect>& want, const char* what)
{
    ASSERT_EQ(bullets.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(TraceInt(bullets[i], "kind"), want[i].kind) << what << " #" << i;
        EXPECT_EQ(TraceField(bullets[i], "dr1"), G9(want[i].speed)) << what << " #" << i;
        EXPECT_EQ(TraceField(bullets[i], "B"), G9(want[i].heading)) << what << " #" << i;
        EXPECT_EQ(TraceInt(bullets[i], "life"), 400) << what;
        EXPECT_EQ(TraceField(bullets[i], "x0"), "320") << what;
        EXPECT_EQ(TraceField(bullets[i], "y0"), "100") << what;
    }
}

std::vector<Expect> Fan(int kind, float speed, float aim, std::initializer_list<int> degrees)
{
    std::vector<Expect> out;
    for (int d : degrees) {
        out.push_back({kind, speed, aim + DegToRad(d)});
    }
    return out;
}

std::vector<Expect> operator+(std::vector<Expect> a, const std::vector<Expect>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Fired(int id, int difficulty, int clock)
{
    return TraceLines(TraceCall(id, difficulty, clock), "bullet");
}

}  // namespace

TEST(AimedFans, FansWidenWithTheBand)
{
    const float aim = DefaultAim();
    ExpectShots(Fired(1, 0, 40), Fan(1, 2.9f, aim, {0}), "1");
    ExpectShots(Fired(1, 1, 40), Fan(1, 3.1f, aim, {0, -20, 20}), "1001");
    ExpectShots(Fired(1, 2, 40), Fan(1, 3.1f, aim, {0, -20, 20, -40, 40}), "2001");
    ExpectShots(Fired(1, 3, 35), Fan(1, 3.4f, aim, {0, -20, 20, -40, 40, -60, 60}), "3001");
    EXPECT_TRUE(Fired(1, 3, 40).empty());

    ExpectShots(Fired(6, 0, 50), Fan(1, 2.2f, aim, {-20, 0, 20}) + Fan(5, 4.2f, aim, {0}), "6");
    ExpectShots(Fired(6, 1, 50), Fan(1, 2.2f, aim, {-40, -20, 0, 20, 40}) + Fan(5, 4.2f, aim, {0}), "1006");
    ExpectShots(Fired(6, 2, 50),
                Fan(3, 2.8f, aim, {-10, 0, 10}) + Fan(1, 2.2f, aim, {-40, -20, 0, 20, 40}) + Fan(5, 4.2f, aim, {0}),
                "2006");
    ExpectShots(Fired(6, 3, 50),
                Fan(3, 3.2f, aim, {-20, -10, 0, 10, 20}) + Fan(1, 2.4f, aim, {-60, -40, -20, 0, 20, 40, 60}) +
                    Fan(5, 4.2f, aim, {0}),
                "3006");

    ExpectShots(Fired(8, 0, 80), Fan(3, 3.8f, aim, {0}) + Fan(1, 3.6f, aim, {-20, 20}), "8");
    ExpectShots(Fired(8, 1, 60), Fan(3, 3.8f, aim, {0}) + Fan(1, 3.6f, aim, {-20, 20}), "1008");
    EXPECT_TRUE(Fired(8, 1, 80).empty());
    ExpectShots(Fired(8, 2, 10), Fan(3, 3.2f, aim, {0}) + Fan(1, 3.0f, aim, {-20, 20}) + Fan(1, 2.8f, aim, {-40, 40}),
                "2008");
    ExpectShots(Fired(8, 3, 10),
                Fan(3, 3.6f, aim, {0}) + Fan(3, 3.4f, aim, {-20, 20}) + Fan(1, 3.0f, aim, {-40, 40}) +
                    Fan(1, 2.8f, aim, {-60, 60}),
                "3008");
}

TEST(AimedFans, DeathOfThreeThousandOneFiresSevenWithNoOwner)
{
    const auto bullets = TraceLines(TraceCall(1, 3, 17, 1), "bullet");
    ASSERT_EQ(bullets.size(), 7u);
    for (const auto& b : bullets) {
        EXPECT_EQ(TraceInt(b, "owner"), -1);
    }
}

TEST(AimedChildren, ChildrenThenFans)
{
    const float aim = DefaultAim();
    const auto lines = TraceCall(2, 2, 40);
    const auto children = TraceLines(lines, "enemy");
    ASSERT_EQ(children.size(), 3u);
    const float moves[] = {aim - 0.4f, aim + 0.4f, aim};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(TraceInt(children[i], "template"), 12);
        EXPECT_EQ(TraceField(children[i], "aim"), G9(aim));
        EXPECT_EQ(TraceField(children[i], "move"), G9(moves[i]));
        EXPECT_NE(children[i].find(" slot=-1 -> " + std::to_string(11 + i)), std::string::npos);
    }
    // Children come before the bullets.
    EXPECT_EQ(lines[0].rfind("enemy", 0), 0u);
    ExpectShots(TraceLines(lines, "bullet"), Fan(1, 3.4f, aim, {-10, 10}) + Fan(3, 3.8f, aim, {0}), "2002");
    ExpectShots(Fired(2, 0, 40), Fan(3, 3.2f, aim, {0}), "2");
    ExpectShots(Fired(2, 3, 35), Fan(1, 3.4f, aim, {-10, 10, -20, 20}) + Fan(3, 3.8f, aim, {0}), "3002");

    const auto fan9 = TraceCall(9, 3, 30);
    const auto kids = TraceLines(fan9, "enemy");
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(TraceField(kids[1], "aim"), G9(aim - DegToRad(20)));
    EXPECT_EQ(TraceField(kids[2], "move"), G9(aim + DegToRad(20)));
    EXPECT_EQ(TraceInt(kids[0], "template"), 11);
    ExpectShots(TraceLines(fan9, "bullet"), Fan(1, 2.6f, aim, {0, -10, 10, -20, 20, -30, 30}), "3009");
    ExpectShots(Fired(9, 1, 30), Fan(1, 2.6f, aim, {-10, 10, 0}), "1009");
}

TEST(AimedChildren, SideChildrenStandOffTheAimAngleInRadians)
{
    TraceOptions o;
    o.id = 10;
    o.difficulty = 3;
    o.clock = 40;
    o.enemyAim = 0.7f;
    const auto lines = PatternTraceRun(o);
    const auto kids = TraceLines(lines, "enemy");
    ASSERT_EQ(kids.size(), 4u);
    const float distances[] = {15.0f, 15.0f, 30.0f, 30.0f};
    const float sides[] = {1.0f, -1.0f, 1.0f, -1.0f};
    for (int i = 0; i < 4; ++i) {
        const float a = 0.7f + sides[i];
        const float c = static_cast<float>(std::cos(static_cast<double>(a)));
        const float s = static_cast<float>(std::sin(static_cast<double>(a)));
        EXPECT_EQ(TraceField(kids[i], "x"), G9(320.0f + distances[i] * c)) << i;
        EXPECT_EQ(TraceField(kids[i], "y"), G9(100.0f + distances[i] * s)) << i;
        EXPECT_EQ(TraceField(kids[i], "aim"), G9(DefaultAim()));
    }
    const float aim = DefaultAim();
    ExpectShots(TraceLines(lines, "bullet"), Fan(4, 3.0f, aim, {-15, 15}) + Fan(2, 2.9f, aim, {-30, 30, -50, 50}),
                "3010");
    EXPECT_TRUE(Fired(10, 0, 40).empty());
    EXPECT_EQ(TraceLines(TraceCall(10, 0, 40), "enemy").size(), 2u);
}

TEST(RandomSpread, DrawsOnePerSpreadBulletBeforeIt)
{
    const size_t draws[] = {4, 6, 8, 12};
    const int periods[] = {40, 40, 35, 35};
    const int ringSteps[] = {36, 20, 15, 10};
    for (int d = 0; d < 4; ++d) {
        TraceOptions o;
        o.id = 3;
        o.difficulty = d;
        o.clock = periods[d];
        o.enemyAim = 1.2f;
        o.seed = 4242;
        const auto lines = PatternTraceRun(o);
        EXPECT_EQ(TraceLines(lines, "rnd").size(), draws[d]) << d;
        // rnd, bullet, rnd, bullet ... then the ring without draws.
        for (size_t i = 0; i < draws[d]; ++i) {
            ASSERT_EQ(lines[2 * i].rfind("rnd ", 0), 0u);
            const long v = std::strtol(lines[2 * i].substr(lines[2 * i].find("-> ") + 3).c_str(), nullptr, 10);
            EXPECT_EQ(TraceField(lines[2 * i + 1], "B"), G9(1.2f + DegToRad(static_cast<int>(v))));
        }
        const auto bullets = TraceLines(lines, "bullet");
        const size_t ring = 360 / ringSteps[d];
        ASSERT_EQ(bullets.size(), draws[d] + ring);
        const float aim = DefaultAim();
        for (size_t k = 0; k < ring; ++k) {
            const std::string& b = bullets[draws[d] + k];
            const float h = aim + DegToRad(static_cast<int>(k) * ringSteps[d]);
            EXPECT_EQ(TraceInt(b, "kind"), 11);
            EXPECT_EQ(TraceField(b, "B"), G9(h));
            EXPECT_EQ(TraceField(b, "A"), G9(h));
        }
    }
    // The ranges of 1003: three of +-15 then three of +-10.
    const auto lines = TraceLines(TraceCall(3, 1, 40), "rnd");
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i].substr(0, 10), i < 3 ? "rnd -15 15" : "rnd -10 10");
    }
}

TEST(Rings, InterleavedRingsAboutTheAim)
{
    const float aim = DefaultAim();
    const int steps[] = {90, 60, 40, 30};
    const int clocks[] = {50, 50, 40, 35};
    const float fast[] = {2.2f, 2.2f, 2.4f, 2.4f};
    const float slow[] = {1.8f, 1.8f, 2.0f, 2.0f};
    for (int d = 0; d < 4; ++d) {
        std::vector<Expect> want;
        for (int k = 0; k < 360; k += steps[d]) {
            want.push_back({2, fast[d], aim + DegToRad(k)});
        }
        for (int k = steps[d] / 2; k < 360 + steps[d] / 2; k += steps[d]) {
            want.push_back({4, slow[d], aim + DegToRad(k)});
        }
        ExpectShots(Fired(4, d, clocks[d]), want, "4");
    }
}

TEST(Rings, BurstArmsLeanByThePhase)
{
    auto burst = [](int clock, int once) { return TraceLines(TraceCall(5, 2, clock, once), "bullet"); };
    const auto forward = burst(60, 0);
    const auto backward = burst(90, 0);
    const auto death = burst(61, 1);
    ASSERT_EQ(forward.size(), 96u);
    ASSERT_EQ(backward.size(), 96u);
    ASSERT_EQ(death.size(), 96u);
    EXPECT_TRUE(burst(61, 0).empty());
    for (int b = 0, i = 0; b < 360; b += 15) {
        for (int j = 0; j < 4; ++j, ++i) {
            const float exactSpeed = F32Sub(4.0, F32Mul(static_cast<float>(j), 0.15));
            EXPECT_EQ(TraceField(forward[i], "dr1"), G9(exactSpeed));
            EXPECT_EQ(TraceField(forward[i], "B"), G9(DegToRad(b + 2 * j)));
            EXPECT_EQ(TraceField(backward[i], "B"), G9(DegToRad(b - 2 * j)));
            EXPECT_EQ(TraceField(death[i], "B"), G9(DegToRad(b - 2 * j)));
            EXPECT_EQ(TraceInt(death[i], "owner"), -1);
        }
    }
    // The speeds differ from plain f32 arithmetic: 4 - 0.15 x 3 taken in f32
    // rounds to another value than the exact result rounded once.
    const auto dense = TraceLines(TraceCall(5, 3, 40), "bullet");
    ASSERT_EQ(dense.size(), 120u);
    EXPECT_EQ(TraceField(dense[5], "B"), G9(DegToRad(2 * (6 + 1))));
    EXPECT_EQ(TraceField(dense[3], "dr1"), G9(F32Sub(4.4, F32Mul(3.0f, 0.15))));
    ExpectShots(Fired(5, 0, 30), [] {
        std::vector<Expect> w;
        for (int k = 0; k < 360; k += 20) w.push_back({11, 2.8f, DegToRad(k)});
        return w;
    }(), "5");
}

TEST(Rings, ChildBehindAndAimedRing)
{
    // 12 fires no bullet and ignores the player.
    TraceOptions o;
    o.id = 12;
    o.clock = 30;
    o.enemyAim = 1.0f;
    const auto a = PatternTraceRun(o);
    o.playerX = 150.0f;
    o.playerY = 20.0f;
    const auto b = PatternTraceRun(o);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(TraceLines(a, "bullet").empty());
    const auto child = TraceLines(a, "enemy");
    ASSERT_EQ(child.size(), 1u);
    EXPECT_EQ(TraceInt(child[0], "template"), 53);
    EXPECT_EQ(TraceField(child[0], "aim"), G9(1.0f + DegToRad(180)));
    EXPECT_EQ(TraceField(child[0], "move"), G9(1.0f + DegToRad(150)));

    o.difficulty = 3;
    const auto ring = PatternTraceRun(o);
    const float aim = static_cast<float>(std::atan2(static_cast<double>(20.0f - 100.0f), static_cast<double>(150.0f - 320.0f)));
    std::vector<Expect> want;
    for (int k = 0; k < 360; k += 24) want.push_back({3, 3.0f, aim + DegToRad(k)});
    ExpectShots(TraceLines(ring, "bullet"), want, "3012");
    EXPECT_EQ(TraceField(TraceLines(ring, "enemy")[0], "move"), G9(1.0f + DegToRad(180)));
    EXPECT_EQ(TraceLines(TraceCall(12, 2, 30), "bullet").size(), 10u);
    EXPECT_EQ(TraceLines(TraceCall(12, 1, 30), "bullet").size(), 6u);
}

TEST(Streams, KindFollowsTheSlotParity)
{
    for (int slot : {10, 11}) {
        TraceOptions o;
        o.id = 7;
        o.difficulty = 2;
        o.clock = 6;
        o.slot = slot;
        o.enemyAim = 2.0f;
        const auto bullets = TraceLines(PatternTraceRun(o), "bullet");
        ASSERT_EQ(bullets.size(), 7u);
        const int even = slot % 2 == 0;
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(TraceInt(bullets[j], "kind"), even ? 2 : 1);
            EXPECT_EQ(TraceField(bullets[j], "dr1"), G9(F32Sub(2.8, F32Mul(static_cast<float>(j), 0.1))));
            EXPECT_EQ(TraceField(bullets[j], "B"), G9(2.0f));
        }
        EXPECT_EQ(TraceInt(bullets[5], "kind"), even ? 4 : 3);
        EXPECT_EQ(TraceField(bullets[5], "B"), G9(2.0f - 0.05f));
        EXPECT_EQ(TraceField(bullets[6], "B"), G9(2.0f + 0.05f));
        o.difficulty = 0;
        EXPECT_EQ(TraceLines(PatternTraceRun(o), "bullet").size(), 3u);
    }
    // Double constants: 2 - 0.1 x 2 rounded once differs from f32 steps.
    EXPECT_EQ(F32Sub(2.0, F32Mul(2.0f, 0.1)), 1.79999995f);
}

TEST(ChildrenBehind, TwoChildrenAndASound)
{
    TraceOptions o;
    o.id = 11;
    o.clock = 80;
    o.enemyAim = 1.5707964f;
    const auto lines = PatternTraceRun(o);
    ASSERT_EQ(lines.size(), 6u);  // two children, a sound, three states
    const float left = (1.5707964f + 3.1415927f) - 0.3f;
    EXPECT_EQ(TraceField(lines[0], "aim"), G9(left));
    EXPECT_EQ(TraceField(lines[0], "move"), G9(left));
    EXPECT_EQ(TraceField(lines[1], "aim"), G9(1.5707964f + 3.4415927f));
    EXPECT_EQ(TraceInt(lines[1], "template"), 13);
    EXPECT_EQ(lines[2], "sound 10");
    // 2011 is 11 with a period of 50.
    o.difficulty = 2;
    o.clock = 50;
    EXPECT_EQ(PatternTraceRun(o).size(), 6u);
    o.clock = 80;
    EXPECT_EQ(PatternTraceRun(o).size(), 1u);
    o.difficulty = 3;
    o.once = 1;
    EXPECT_EQ(PatternTraceRun(o).size(), 1u);
}
