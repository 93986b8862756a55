// The attack-pattern interpreter: the pattern table by id and difficulty
// and the dispatch of one call.
#include "game/patterns/attack_pattern.h"

#include <cmath>
#include <cstdio>

#include "game/patterns/pattern_kit.h"

void PatternTable::Set(int bandedId, PatternFn fn)
{
    if (bandedId < 1 || bandedId >= kPatternTableSize) {
        std::fprintf(stderr, "patterns: banded id %d outside the table\n", bandedId);
        return;
    }
    entries[bandedId] = fn;
}

static const PatternTable& Table()
{
    static const PatternTable table = [] {
        PatternTable t;
        RegisterAimedFans(t);
        RegisterChildReleases(t);
        RegisterAimedVolleys(t);
        RegisterSideGuns(t);
        RegisterWaveSpawners(t);
        RegisterScatteredChildren(t);
        RegisterRingStacks(t);
        RegisterChildDrops(t);
        RegisterChildWaves(t);
        RegisterChildLaunchers(t);
        RegisterBulletColumns(t);
        RegisterBulletVolleys(t);
        RegisterBossAssembly(t);
        return t;
    }();
    return table;
}

bool AttackPatternIsLive(int bandedId)
{
    return bandedId >= 1 && bandedId < kPatternTableSize && Table().entries[bandedId] != nullptr;
}

void AttackPatternRun(int16_t slot, int16_t patternId, uint8_t once)
{
    if (slot < 0 || slot >= kEnemySlots) {
        std::fprintf(stderr, "patterns: enemy slot %d out of range\n", slot);
        return;
    }
    const EnemyRecord& enemy = g_enemies[slot];
    PatternFrame f;
    f.slot = slot;
    f.once = once;
    f.x = enemy.x;
    f.y = enemy.y;
    f.move = enemy.moveAngle;
    f.clock = static_cast<int16_t>(enemy.stepClock);

    if (g_player.state != 1) {
        return;
    }
    f.owner = once == 1 ? static_cast<int16_t>(-1) : slot;

    const uint8_t d = g_session.difficulty;
    int16_t id = patternId;
    if (id != 0 && d >= 1 && d <= 3) {
        id = static_cast<int16_t>(id + kPatternBandSize * d);
    }
    // Ids 0 and below, and above the table, name no pattern.
    if (static_cast<uint32_t>(static_cast<int32_t>(id) - 1) > static_cast<uint32_t>(kPatternTableSize - 2)) {
        return;
    }
    const PatternFn fn = Table().entries[id];
    if (fn != nullptr) {
        fn(f);
    }
}

// ------------------------------------------------------------------ kit

// Rounds the exact value hi + lo (|lo| at most half an ulp of hi) to f32
// once. Rounding hi alone is right except when hi lies exactly halfway
// between two floats: then lo decides.
static float RoundPairToF32(double hi, double lo)
{
    const float r = static_cast<float>(hi);
    const double rd = r;
    if (rd == hi || lo == 0.0 || !std::isfinite(hi)) {
        return r;
    }
    const float other = std::nextafter(r, hi > rd ? INFINITY : -INFINITY);
    const double mid = (rd + static_cast<double>(other)) * 0.5;
    if (hi != mid) {
        return r;
    }
    const bool beyond = (lo > 0.0) == (hi > rd);
    return beyond ? other : r;
}

float F32Mul(double a, double b)
{
    const double p = a * b;
    const double e = std::fma(a, b, -p);
    return RoundPairToF32(p, e);
}

float F32Add(double a, double b)
{
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return RoundPairToF32(s, e);
}

void FireFrom(const PatternFrame& f, float x0, float y0, const Shot& s)
{
    BulletSpawn(f.owner, s.kind, s.life, x0, y0, s.r1, s.r2, s.speed, s.dr2, s.A, s.dA, s.heading, s.C, s.dB, s.dC,
                s.age);
}

void Fire(const PatternFrame& f, const Shot& s)
{
    FireFrom(f, f.x, f.y, s);
}
