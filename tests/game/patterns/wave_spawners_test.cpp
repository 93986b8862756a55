#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "game/patterns/attack_pattern.h"
#include "game/play.h"
#include "game/patterns/pattern_kit.h"
#include "tests/game/patterns/trace_util.h"

namespace {

// An enemy and a player off every axis, so that the aim exercises real
// rounding; the running enemy sits in slot 10 and owns its bullets.
constexpr float kEnemyX = 301.5f;
constexpr float kEnemyY = 87.25f;
constexpr float kPlayerX = 262.75f;
constexpr float kPlayerY = 412.5f;
constexpr float kAimAngle = 1.2345f;
constexpr float kMoveAngle = 0.7f;

float TestAim()
{
    return TraceAim(kEnemyX, kEnemyY, kPlayerX, kPlayerY);
}

TraceOptions Options(int bandedId, int clock, int once = 0)
{
    TraceOptions o;
    o.id = bandedId % 1000;
    o.difficulty = bandedId / 1000;
    o.clock = clock;
    o.once = once;
    o.enemyX = kEnemyX;
    o.enemyY = kEnemyY;
    o.enemyAim = kAimAngle;
    o.enemyMove = kMoveAngle;
    o.playerX = kPlayerX;
    o.playerY = kPlayerY;
    return o;
}

std::vector<std::string> Call(int bandedId, int clock, int once = 0)
{
    return PatternTraceRun(Options(bandedId, clock, once));
}

// Every call the pattern made, without the closing table dump.
std::vector<std::string> Emissions(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, 6, "state ") != 0) {
            out.push_back(line);
        }
    }
    return out;
}

struct ExpectedShot {
    int kind;
    float speed;
    float heading;
    int life = 400;
    float x0 = kEnemyX;
    float y0 = kEnemyY;
    float A = 0.0f;
};

void ExpectShot(const std::string& line, const ExpectedShot& s, int owner = 10)
{
    SCOPED_TRACE(line);
    EXPECT_EQ(TraceInt(line, "owner"), owner);
    EXPECT_EQ(TraceInt(line, "kind"), s.kind);
    EXPECT_EQ(TraceInt(line, "life"), s.life);
    EXPECT_EQ(TraceField(line, "dr1"), G9(s.speed));
    EXPECT_EQ(TraceField(line, "B"), G9(s.heading));
    EXPECT_EQ(TraceField(line, "A"), G9(s.A));
    EXPECT_EQ(TraceField(line, "x0"), G9(s.x0));
    EXPECT_EQ(TraceField(line, "y0"), G9(s.y0));
    for (const char* key : {"r1", "r2", "dr2", "dA", "C", "dB", "dC", "age"}) {
        EXPECT_EQ(TraceField(line, key), "0") << key;
    }
}

std::vector<float> WaveColumns(const std::vector<std::string>& lines, int templateId = 121)
{
    std::vector<float> xs;
    for (const std::string& line : TraceLines(lines, "enemy")) {
        EXPECT_EQ(TraceInt(line, "template"), templateId) << line;
        EXPECT_EQ(TraceField(line, "y"), "-100") << line;
        EXPECT_EQ(TraceField(line, "aim"), "0") << line;
        EXPECT_EQ(TraceField(line, "move"), "0") << line;
        xs.push_back(TraceFloat(line, "x"));
    }
    return xs;
}

// Every live id, its gate period (1 = no gate) and a clock on which it fires.
struct LiveId {
    int id;
    int period;
    int clock;
};

const std::vector<LiveId>& LiveIds()
{
    static const std::vector<LiveId> ids = [] {
        std::vector<LiveId> v;
        for (int band = 0; band < 4; ++band) {
            const int b = band * 1000;
            v.push_back({b + 50, 17, 34});
            v.push_back({b + 51, 9, band < 2 ? 36 : 27});
            v.push_back({b + 52, 17, 68});
            v.push_back({b + 53, 9, 9});
            v.push_back({b + 58, 17, 17});
            v.push_back({b + 61, 15, 15});
            v.push_back({b + 67, 50, 50});
            v.push_back({b + 68, 40, 40});
            v.push_back({b + 64, band < 2 ? 12 : 8, 24});
            struct Periods {
                int base;
                int period[4];
            };
            static constexpr Periods kAimed[] = {{54, {40, 35, 30, 20}}, {55, {40, 35, 30, 25}},
                                                 {56, {60, 50, 40, 30}}, {57, {70, 50, 40, 35}},
                                                 {62, {60, 50, 40, 30}}, {63, {30, 30, 30, 25}},
                                                 {65, {50, 50, 40, 30}}, {69, {40, 35, 30, 30}}};
            for (const Periods& p : kAimed) {
                v.push_back({b + p.base, p.period[band], 2 * p.period[band]});
            }
            if (band < 3) {
                v.push_back({b + 59, 1, 1});
                v.push_back({b + 60, 1, 1});
            }
        }
        return v;
    }();
    return ids;
}

}  // namespace

// ------------------------------------------------------------------ which ids live, and their gates

TEST(WaveSpawners, LiveAndDeadIdsPerBand)
{
    std::vector<int> live;
    for (const LiveId& l : LiveIds()) {
        live.push_back(l.id);
    }
    EXPECT_EQ(live.size(), 74u);
    for (int band = 0; band < 4; ++band) {
        for (int base = 50; base <= 69; ++base) {
            const int id = band * 1000 + base;
            const bool expectLive = std::find(live.begin(), live.end(), id) != live.end();
            EXPECT_EQ(AttackPatternIsLive(id), expectLive) << id;
            if (expectLive) continue;
            for (int clock = 0; clock <= 240; ++clock) {
                ASSERT_TRUE(Emissions(Call(id, clock, 0)).empty()) << id << " clock " << clock;
                ASSERT_TRUE(Emissions(Call(id, clock, 1)).empty()) << id << " death clock " << clock;
            }
        }
    }
}

// Off the gate nothing fires; on the death path the gate passes and the
// pattern makes the same calls as on the firing frame, with owner -1.
TEST(WaveSpawners, GatesAndDeathPath)
{
    for (const LiveId& l : LiveIds()) {
        SCOPED_TRACE(l.id);
        const auto fired = Emissions(Call(l.id, l.clock));
        ASSERT_FALSE(fired.empty());
        if (l.period == 1) {
            for (int clock : {2, 3, 7, 40}) {
                EXPECT_EQ(Emissions(Call(l.id, clock)), fired) << clock;
            }
        } else {
            for (int off = 1; off < l.period; ++off) {
                EXPECT_TRUE(Emissions(Call(l.id, l.clock + off)).empty()) << off;
            }
        }
        std::vector<std::string> death = fired;
        for (std::string& line : death) {
            const size_t at = line.find(" owner=10 ");
            if (at != std::string::npos) line.replace(at, 10, " owner=-1 ");
        }
        EXPECT_EQ(Emissions(Call(l.id, l.clock + (l.period == 1 ? 5 : 1), 1)), death);
    }
}

// ------------------------------------------------------------------ spawners at the top edge

TEST(WaveSpawners, TwoColumnsTakeTurns)
{
    EXPECT_TRUE(WaveColumns(Call(50, 17)).empty());
    EXPECT_EQ(WaveColumns(Call(50, 34)), std::vector<float>{440.0f});
    EXPECT_TRUE(WaveColumns(Call(3050, 51)).empty());
    EXPECT_EQ(WaveColumns(Call(2050, 68)), std::vector<float>{200.0f});
    // The death path passes the gate but still takes the phase of the clock.
    EXPECT_EQ(WaveColumns(Call(50, 5, 1)), std::vector<float>{200.0f});
}

TEST(WaveSpawners, CentreColumnRestsLongerInLowBands)
{
    for (int clock = 9; clock <= 216; clock += 9) {
        const int k = clock / 9 % 12;
        EXPECT_EQ(WaveColumns(Call(1051, clock)).size(), k < 4 ? 0u : 1u) << clock;
        EXPECT_EQ(WaveColumns(Call(3051, clock)).size(), k < 3 ? 0u : 1u) << clock;
    }
    EXPECT_EQ(WaveColumns(Call(2051, 27)), std::vector<float>{320.0f});
}

TEST(WaveSpawners, LinesOfFourFromEachSide)
{
    const std::vector<float> fromLeft = {120.0f, 190.0f, 260.0f, 330.0f};
    const std::vector<float> fromRight = {520.0f, 450.0f, 380.0f, 310.0f};
    EXPECT_EQ(WaveColumns(Call(52, 136)), fromLeft);
    EXPECT_EQ(WaveColumns(Call(3052, 68)), fromRight);
    for (int clock : {17, 34, 51, 85, 102, 119}) {
        EXPECT_TRUE(WaveColumns(Call(1052, clock)).empty()) << clock;
    }
}

TEST(WaveSpawners, SweepingColumnsRepeatAtTheEnds)
{
    for (int k = 1; k <= 40; ++k) {
        const int low = k % 16, high = k % 18;
        const float m0 = static_cast<float>(std::min(low, 15 - low));
        const float m2 = static_cast<float>(std::min(high, 17 - high));
        EXPECT_EQ(WaveColumns(Call(1053, 9 * k)), (std::vector<float>{120 + 25 * m0, 345 + 25 * m0})) << k;
        EXPECT_EQ(WaveColumns(Call(3053, 9 * k)), (std::vector<float>{120 + 25 * m2, 320 + 25 * m2})) << k;
    }
    EXPECT_EQ(WaveColumns(Call(53, 63)), WaveColumns(Call(53, 72)));
    EXPECT_EQ(WaveColumns(Call(2053, 72)), (std::vector<float>{320.0f, 520.0f}));
    EXPECT_EQ(WaveColumns(Call(2053, 81)), (std::vector<float>{320.0f, 520.0f}));
}

// A step clock past 32767 reads as negative and its phases with it: only
// the phases a row names stay silent, every other value spawns.
TEST(WaveSpawners, NegativeClockPhases)
{
    EXPECT_EQ(WaveColumns(Call(51, -27)), std::vector<float>{320.0f});
    EXPECT_TRUE(WaveColumns(Call(50, -34)).empty());
    EXPECT_EQ(WaveColumns(Call(53, -9)), (std::vector<float>{95.0f, 320.0f}));
    EXPECT_EQ(WaveColumns(Call(58, -17), 123), std::vector<float>{320.0f});
}

TEST(WaveSpawners, LeaderThenFollowers)
{
    EXPECT_EQ(WaveColumns(Call(58, 85), 122), std::vector<float>{320.0f});
    EXPECT_EQ(WaveColumns(Call(1058, 51), 123), std::vector<float>{320.0f});
    EXPECT_EQ(WaveColumns(Call(2058, 51), 122), std::vector<float>{320.0f});
    EXPECT_EQ(WaveColumns(Call(3058, 68), 123), std::vector<float>{320.0f});
}

// ------------------------------------------------------------------ aimed fans, with and without children

struct Offset {
    int kind;
    float speed;
    int degrees;
};

void ExpectAimedFan(int id, int clock, int children, int childDegrees, const std::vector<Offset>& shots)
{
    SCOPED_TRACE(id);
    const auto lines = Call(id, clock);
    const float aim = TestAim();
    const auto kids = TraceLines(lines, "enemy");
    ASSERT_EQ(kids.size(), static_cast<size_t>(children));
    for (int i = 0; i < children; ++i) {
        const float a = aim + TraceRad(i == 0 ? childDegrees : -childDegrees);
        ExpectTraceChild(kids[i], 12, kEnemyX, kEnemyY, a, a);
    }
    // Children come before any shot.
    for (int i = 0; i < children; ++i) {
        EXPECT_EQ(lines[i].rfind("enemy ", 0), 0u) << lines[i];
    }
    const auto bullets = TraceLines(lines, "bullet");
    ASSERT_EQ(bullets.size(), shots.size());
    for (size_t i = 0; i < shots.size(); ++i) {
        ExpectShot(bullets[i], {shots[i].kind, shots[i].speed, aim + TraceRad(shots[i].degrees)});
    }
}

TEST(WaveSpawners, EscortsAndFans)
{
    ExpectAimedFan(54, 40, 2, 20, {{4, 3.0f, -10}, {4, 3.0f, 10}});
    ExpectAimedFan(1054, 35, 2, 20, {{4, 3.2f, -10}, {4, 3.2f, 10}, {2, 2.7f, -20}, {2, 2.7f, 20}});
    ExpectAimedFan(2054, 30, 2, 20,
                   {{4, 3.6f, -10}, {4, 3.6f, 10}, {2, 3.2f, -20}, {2, 3.2f, 20}, {2, 2.9f, -25}, {2, 2.9f, 25}});
    ExpectAimedFan(3054, 20, 2, 20,
                   {{4, 3.6f, -10}, {4, 3.6f, 10}, {2, 3.2f, -20}, {2, 3.2f, 20}, {2, 3.2f, -30}, {2, 3.2f, 30}});

    ExpectAimedFan(63, 30, 1, 0, {});
    ExpectAimedFan(1063, 30, 1, 0, {{1, 2.6f, -10}, {1, 2.6f, 10}, {1, 2.6f, 0}});
    ExpectAimedFan(2063, 60, 1, 0, {{1, 2.6f, 0}, {1, 2.6f, -10}, {1, 2.6f, 10}, {1, 2.6f, -20}, {1, 2.6f, 20}});
    ExpectAimedFan(3063, 25, 1, 0,
                   {{1, 2.6f, 0}, {1, 2.6f, -10}, {1, 2.6f, 10}, {1, 2.6f, -20}, {1, 2.6f, 20}, {1, 2.6f, -30},
                    {1, 2.6f, 30}});

    ExpectAimedFan(62, 60, 0, 0, {{2, 1.6f, 0}});
    ExpectAimedFan(1062, 50, 0, 0, {{2, 1.8f, 0}});
    ExpectAimedFan(2062, 40, 0, 0, {{2, 2.0f, 0}});
    ExpectAimedFan(3062, 30, 0, 0, {{4, 2.4f, 0}});
}

// Fans and rings about the aim closed by a flash at the enemy.
TEST(WaveSpawners, FlashFansAndRings)
{
    struct Case {
        int id, kind;
        float speed;
        int life, from, to, step;
    };
    const Case cases[] = {
        {55, 1, 2.4f, 400, -5, 10, 5},   {1055, 1, 2.6f, 400, -4, 8, 4},  {2055, 1, 2.8f, 400, -6, 9, 3},
        {3055, 3, 3.2f, 400, -9, 12, 3}, {56, 1, 1.2f, 800, 0, 360, 60},  {1056, 1, 1.4f, 800, 0, 360, 36},
        {2056, 1, 1.5f, 800, 0, 360, 24}, {3056, 3, 2.0f, 800, 0, 360, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto calls = Emissions(Call(c.id, 0, 1));
        ASSERT_EQ(calls.size(), static_cast<size_t>((c.to - c.from) / c.step + 1));
        size_t i = 0;
        for (int k = c.from; k < c.to; k += c.step, ++i) {
            ExpectShot(calls[i], {c.kind, c.speed, TestAim() + TraceRad(k), c.life}, -1);
        }
        EXPECT_EQ(calls.back(), "effect kind=21 x=301.5 y=87.25 angle=0 age=0");
    }
}

// Rings of kind-8 shots about the aim, sprites turned to their headings.
TEST(WaveSpawners, TurnedRings)
{
    struct Case {
        int id;
        float speed;
        int step;
    };
    const Case cases[] = {{69, 2.4f, 30}, {1069, 2.4f, 20}, {2069, 2.6f, 15}, {3069, 2.8f, 10}};
    for (const Case& c : cases) {
        const auto bullets = TraceLines(Call(c.id, 0, 1), "bullet");
        ASSERT_EQ(bullets.size(), static_cast<size_t>(360 / c.step)) << c.id;
        for (int k = 0; k < 360; k += c.step) {
            const float h = TestAim() + TraceRad(k);
            ExpectShot(bullets[k / c.step], {.kind = 8, .speed = c.speed, .heading = h, .A = h}, -1);
        }
    }
}

// ------------------------------------------------------------------ the enemy's own angles

TEST(WaveSpawners, GunBurstsBelowTheEnemyAlongItsAimAngle)
{
    const float gunY = kEnemyY + 20.0f;
    const std::vector<float> speeds[] = {{4.0f}, {4.4f, 4.3f, 4.2f}, {4.8f, 4.7f, 4.6f, 4.5f, 4.4f},
                                         {4.8f, 4.7f, 4.6f, 4.5f, 4.4f}};
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        const auto calls = Emissions(Call(band * 1000 + 57, 0, 1));
        const size_t fan = band == 3 ? 5 : 0;
        ASSERT_EQ(calls.size(), speeds[band].size() + fan + 1);
        for (size_t i = 0; i < speeds[band].size(); ++i) {
            ExpectShot(calls[i], {.kind = 4, .speed = speeds[band][i], .heading = kAimAngle, .life = 800,
                                  .y0 = gunY}, -1);
        }
        for (size_t i = 0; i < fan; ++i) {
            const int k = -20 + 10 * static_cast<int>(i);
            ExpectShot(calls[speeds[band].size() + i], {1, 3.2f, kAimAngle + TraceRad(k)}, -1);
        }
        EXPECT_EQ(calls.back(), "effect kind=18 x=301.5 y=" + G9(gunY) + " angle=0 age=0");
    }
}

TEST(WaveSpawners, ThreeWaysFromTheMoveAngle)
{
    for (int id : {64, 1064, 2064, 3064}) {
        const auto bullets = TraceLines(Call(id, 24), "bullet");
        ASSERT_EQ(bullets.size(), 3u) << id;
        const int kinds[] = {2, 2, 4};
        for (int i = 0; i < 3; ++i) {
            const float h = kMoveAngle + TraceRad(120 * i);
            ExpectShot(bullets[i], {.kind = kinds[i], .speed = 2.0f, .heading = h, .A = h});
        }
    }
}

TEST(WaveSpawners, ChildAlongTheAimAngle)
{
    for (int band = 0; band < 4; ++band) {
        const auto lines = Call(band * 1000 + 61, 30);
        const auto kids = TraceLines(lines, "enemy");
        ASSERT_EQ(kids.size(), 1u);
        ExpectTraceChild(kids[0], 125, kEnemyX, kEnemyY, kAimAngle, kAimAngle);
    }
    // An aim angle of exactly 0 leaves the child its template's angles.
    TraceOptions o = Options(61, 15);
    o.enemyAim = 0.0f;
    const auto lines = PatternTraceRun(o);
    const auto states = TraceLines(lines, "state");
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(TraceField(states[1], "aim"), "0.25");
    EXPECT_EQ(TraceField(states[1], "move"), "0.5");
}

// The every-frame dispatch runs base id 61 for an enemy outside the field,
// where another id of this group stays silent.
TEST(WaveSpawners, LauncherRunsOutsideTheField)
{
    for (int id : {61, 62}) {
        PlayReset();
        SpawnRecordsClear();
        g_player = PlayerRecord{};
        g_session.difficulty = 2;
        SpawnRecord& r = g_spawnRecords[kSpawnTemplateBase + 7];
        r.used = 1;
        r.stepCount = 1;
        r.steps[0].attackId = static_cast<int16_t>(id);
        g_spawnRecords[kSpawnTemplateBase + 125].used = 1;
        g_spawnRecords[kSpawnTemplateBase + 125].stepCount = 1;
        EnemyRecord& e = g_enemies[10];
        e.active = 1;
        e.spawnIndex = kSpawnTemplateBase + 7;
        e.stepClock = 120;
        e.x = 560.0f;
        e.y = 200.0f;
        e.aimAngle = 2.0f;
        EnemyAttackDispatch();
        EXPECT_EQ(EnemyCountActive(), id == 61 ? 2 : 1) << id;
        EXPECT_EQ(BulletCountActive(), 0) << id;
    }
    PlayReset();
}

// ------------------------------------------------------------------ arms, bursts and child fans

TEST(WaveSpawners, ArmsOfStandingBullets)
{
    struct Case {
        int id;
        float angle;
        int from, step;
    };
    const Case cases[] = {{59, 3.1415927f, 45, 25}, {1059, 3.1415927f, 45, 25}, {2059, 3.1415927f, 40, 20},
                          {60, 0.0f, 45, 25},       {1060, 0.0f, 45, 25},       {2060, 0.0f, 40, 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const auto bullets = TraceLines(Call(c.id, 13), "bullet");
        ASSERT_EQ(bullets.size(), static_cast<size_t>((220 - c.from + c.step - 1) / c.step));
        int d = c.from;
        for (const std::string& line : bullets) {
            EXPECT_EQ(TraceInt(line, "kind"), 4);
            EXPECT_EQ(TraceInt(line, "life"), 1);
            EXPECT_EQ(TraceField(line, "dr1"), "0");
            EXPECT_EQ(TraceField(line, "r1"), "0");
            EXPECT_EQ(TraceField(line, "r2"), G9(static_cast<float>(d)));
            EXPECT_EQ(TraceField(line, "B"), G9(c.angle));
            EXPECT_EQ(TraceField(line, "C"), G9(c.angle));
            d += c.step;
        }
        EXPECT_GE(d, 220);
        EXPECT_LT(d - c.step, 220);
    }
}

// One draw per shot, just before it, group by group; speeds fall by 0.08.
TEST(WaveSpawners, RandomBurstsDrawInShotOrder)
{
    const int counts[4][3] = {{3, 2, 1}, {4, 3, 2}, {5, 3, 2}, {5, 4, 3}};
    const int kinds[] = {1, 4, 8}, ranges[] = {60, 40, 30};
    const double bases[] = {2.8, 3.0, 3.2};
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        TraceOptions o = Options(band * 1000 + 65, 0, 1);
        o.seed = 12345u + static_cast<uint32_t>(band);
        const auto calls = Emissions(PatternTraceRun(o));
        size_t at = 0;
        for (int g = 0; g < 3; ++g) {
            for (int i = 0; i < counts[band][g]; ++i) {
                ASSERT_LT(at + 1, calls.size());
                const std::string& draw = calls[at++];
                const std::string prefix =
                    "rnd " + std::to_string(-ranges[g]) + " " + std::to_string(ranges[g]) + " -> ";
                ASSERT_EQ(draw.compare(0, prefix.size(), prefix), 0) << draw;
                const int turn = std::stoi(draw.substr(prefix.size()));
                EXPECT_LE(std::abs(turn), ranges[g]);
                // Double constants at single precision: the exact result rounded once.
                const float speed = F32Sub(bases[g], F32Mul(static_cast<float>(i), 0.08));
                ExpectShot(calls[at++], {kinds[g], speed, TestAim() + TraceRad(turn)}, -1);
            }
        }
        EXPECT_EQ(at, calls.size());
    }
    EXPECT_EQ(TraceLines(Call(65, 50), "rnd").size(), 6u);
    EXPECT_EQ(TraceLines(Call(3065, 30), "rnd").size(), 12u);
}

TEST(WaveSpawners, ChildFansFaceDownTheScreen)
{
    const std::vector<int> offsets[] = {{-30, 0, 30}, {-30, 0, 30}, {-40, -20, 0, 20, 40},
                                        {-60, -40, -20, 0, 20, 40, 60}};
    for (int band = 0; band < 4; ++band) {
        const auto kids = TraceLines(Call(band * 1000 + 67, 100), "enemy");
        ASSERT_EQ(kids.size(), offsets[band].size()) << band;
        for (size_t i = 0; i < kids.size(); ++i) {
            ExpectTraceChild(kids[i], 144, kEnemyX, kEnemyY, 1.5707964f, TestAim() + TraceRad(offsets[band][i]));
        }
    }
}

TEST(WaveSpawners, SpeedGradedBursts)
{
    for (int id : {68, 1068, 2068, 3068}) {
        const double start = id < 2000 ? 3.0 : 3.6;
        const auto bullets = TraceLines(Call(id, 80), "bullet");
        ASSERT_EQ(bullets.size(), 5u) << id;
        for (int i = 0; i < 5; ++i) {
            ExpectShot(bullets[i], {8, F32Sub(start, F32Mul(static_cast<float>(i), 0.1)), TestAim()});
        }
    }
}
