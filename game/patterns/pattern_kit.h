#pragma once
// What every pattern definition is written with: the values a call starts
// from, the gates, f32 arithmetic and the emissions. Internal to the
// pattern files.
#include <cmath>
#include <cstdint>

#include "game/play.h"

struct PatternFrame {
    int16_t slot = 0;       // the running enemy
    int16_t owner = 0;      // -1 on the death path, else the slot
    uint8_t once = 0;       // 0 every frame, non-zero on the death path
    float x = 0.0f;         // enemy position and move angle as taken on entry
    float y = 0.0f;
    float move = 0.0f;
    int32_t clock = 0;      // step clock read as signed 16 bits, widened
};

using PatternFn = void (*)(const PatternFrame&);

// Fills the entries of one group of patterns; an entry left null is dead.
struct PatternTable {
    PatternFn entries[3232] = {};
    void Set(int bandedId, PatternFn fn);
};

// ------------------------------------------------------------------ gates

// every P: a multiple of P on the every-frame path, always on the death path.
inline bool Every(const PatternFrame& f, int32_t period)
{
    return f.once != 0 || f.clock % period == 0;
}
// every P strict: a multiple of P on both paths.
inline bool EveryStrict(const PatternFrame& f, int32_t period)
{
    return f.clock % period == 0;
}
// at N: the clock equals N on both paths.
inline bool At(const PatternFrame& f, int32_t n)
{
    return f.clock == n;
}

// ------------------------------------------------------------------ numbers

// f32 results of the C library's functions, called with doubles made from floats.
inline float Cos(float a)
{
    return static_cast<float>(std::cos(static_cast<double>(a)));
}
inline float Sin(float a)
{
    return static_cast<float>(std::sin(static_cast<double>(a)));
}
inline float Atan2(float dy, float dx)
{
    return static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
}

// Whole degrees to radians.
inline float Deg(int32_t degrees)
{
    return DegToRad(degrees);
}

// The running enemy's aim angle, read from its record when used.
inline float AimAngle(const PatternFrame& f)
{
    return g_enemies[f.slot].aimAngle;
}

// The heading from the enemy to the player.
inline float Aim(const PatternFrame& f)
{
    const float dy = g_player.y - f.y;
    const float dx = g_player.x - f.x;
    return Atan2(dy, dx);
}

// The heading from a point to the player.
inline float AimFrom(float x, float y)
{
    const float dy = g_player.y - y;
    const float dx = g_player.x - x;
    return Atan2(dy, dx);
}

// Single-precision arithmetic on operands that may be doubles: the exact
// result rounded once to f32, as the play arithmetic computes it when a
// constant is a double (a counter times 0.1, subtracted from 2).
float F32Mul(double a, double b);
float F32Add(double a, double b);
inline float F32Sub(double a, double b)
{
    return F32Add(a, -b);
}

inline int32_t Rnd(int32_t lo, int32_t hi)
{
    return RandomRange(lo, hi);
}

// ------------------------------------------------------------------ emissions

// One bullet as the pattern tables write it: kind, speed along a heading,
// and whatever differs from the plain shot.
struct Shot {
    uint16_t kind = 1;
    float speed = 0.0f;     // dr1, pixels per frame
    float heading = 0.0f;   // B
    int16_t life = 400;
    float A = 0.0f;         // sprite turn
    float dA = 0.0f;
    float dB = 0.0f;        // turn of the heading per frame
    float r1 = 0.0f;
    float r2 = 0.0f;        // second arm
    float dr2 = 0.0f;
    float C = 0.0f;
    float dC = 0.0f;
    int16_t age = 0;
};

// A shot from the enemy's position.
void Fire(const PatternFrame& f, const Shot& shot);
// A shot from another origin.
void FireFrom(const PatternFrame& f, float x0, float y0, const Shot& shot);

// A child enemy from a spawn template; returns the slot used.
inline int32_t Child(int32_t templateId, float x, float y, float aimAngle, float moveAngle, int32_t slot = -1)
{
    return EnemySpawnFromTemplate(templateId, x, y, aimAngle, moveAngle, slot);
}

inline void Effect(int32_t kind, float x, float y, float angle = 0.0f, int16_t age = 0)
{
    EffectSpawn(kind, x, y, angle, age);
}

inline void Sound(int32_t n)
{
    SoundEffectPlay(n);
}

// ------------------------------------------------------------------ groups

// Each pattern group fills its own entries of the table.
void RegisterAimedFans(PatternTable& table);
void RegisterChildReleases(PatternTable& table);
void RegisterAimedVolleys(PatternTable& table);
void RegisterSideGuns(PatternTable& table);
void RegisterWaveSpawners(PatternTable& table);
void RegisterScatteredChildren(PatternTable& table);
void RegisterRingStacks(PatternTable& table);
void RegisterChildDrops(PatternTable& table);
void RegisterChildWaves(PatternTable& table);
void RegisterChildLaunchers(PatternTable& table);
void RegisterBulletColumns(PatternTable& table);
void RegisterBulletVolleys(PatternTable& table);
void RegisterBossAssembly(PatternTable& table);
