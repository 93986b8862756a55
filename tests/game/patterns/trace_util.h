#pragma once
// Helpers of the pattern tests: reading the lines of a pattern trace,
// running calls in a chosen scene, the f32 rules of play by which the tests
// work out their expected values, and the trace lines those values make.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/trace/pattern_trace_run.h"

// The lines of a trace that start with `kind` ("bullet", "enemy", "rnd", ...).
inline std::vector<std::string> TraceLines(const std::vector<std::string>& lines, const std::string& kind)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, kind.size() + 1, kind + " ") == 0) {
            out.push_back(line);
        }
    }
    return out;
}

// The text after " key=" (or "key=" at the start), up to the next space.
inline std::string TraceField(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + "=");
    at = at == std::string::npos ? (line.compare(0, key.size() + 1, key + "=") == 0 ? 0 : std::string::npos) : at + 1;
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = at + key.size() + 1;
    const size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

inline float TraceFloat(const std::string& line, const std::string& key)
{
    return std::strtof(TraceField(line, key).c_str(), nullptr);
}

inline long TraceInt(const std::string& line, const std::string& key)
{
    return std::strtol(TraceField(line, key).c_str(), nullptr, 10);
}

// Runs one call with the defaults of the tool and the given id, difficulty,
// clock and path.
inline std::vector<std::string> TraceCall(int id, int difficulty, int clock, int once = 0)
{
    TraceOptions o;
    o.id = id;
    o.difficulty = difficulty;
    o.clock = clock;
    o.once = once;
    return PatternTraceRun(o);
}

// Where a test puts the running enemy and the player.
struct TraceScene {
    float enemyX = 320.0f, enemyY = 100.0f;
    float enemyAim = 1.5707964f, enemyMove = 1.5707964f;
    float playerX = 320.0f, playerY = 400.0f;
    int slot = 10;
};

inline TraceOptions SceneOptions(const TraceScene& scene, int id, int difficulty, int clock, int once)
{
    TraceOptions o;
    o.id = id;
    o.difficulty = difficulty;
    o.clock = clock;
    o.once = once;
    o.slot = scene.slot;
    o.enemyX = scene.enemyX;
    o.enemyY = scene.enemyY;
    o.enemyAim = scene.enemyAim;
    o.enemyMove = scene.enemyMove;
    o.playerX = scene.playerX;
    o.playerY = scene.playerY;
    return o;
}

// The lines of the calls a pattern made, without the trailing state lines.
inline std::vector<std::string> TraceEmissions(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, 6, "state ") != 0) {
            out.push_back(line);
        }
    }
    return out;
}

// The value of %.9g formatting, as the trace prints it.
inline std::string G9(float v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
    return buffer;
}

// The calls of one options set without the closing state lines and without
// the slots the tables handed out: a bullet's own slot and the slot an
// enemy spawn came back with.
inline std::vector<std::string> TraceWithoutSlots(const TraceOptions& o)
{
    std::vector<std::string> out;
    for (std::string line : PatternTraceRun(o)) {
        if (line.compare(0, 6, "state ") == 0) {
            continue;
        }
        if (line.compare(0, 12, "bullet slot=") == 0) {
            line.erase(7, line.find(' ', 7) - 6);
        } else if (line.compare(0, 6, "enemy ") == 0) {
            line.erase(line.find(" -> "));
        }
        out.push_back(line);
    }
    return out;
}

// How many lines of a trace are calls the pattern made.
inline size_t TraceEmissionCount(const std::vector<std::string>& lines)
{
    return TraceLines(lines, "bullet").size() + TraceLines(lines, "enemy").size() +
           TraceLines(lines, "effect").size() + TraceLines(lines, "sound").size() + TraceLines(lines, "rnd").size();
}

// The slot an enemy line says its spawn took ("-> S"); -999 without one.
inline long TraceUsedSlot(const std::string& enemyLine)
{
    const size_t arrow = enemyLine.rfind("-> ");
    return arrow == std::string::npos ? -999 : std::strtol(enemyLine.c_str() + arrow + 3, nullptr, 10);
}

// The value drawn by an "rnd lo hi -> v" line, expecting its range.
inline int TraceRndValue(const std::string& line, int lo, int hi)
{
    int a = 0, b = 0, v = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "rnd %d %d -> %d", &a, &b, &v), 3) << line;
    EXPECT_EQ(a, lo) << line;
    EXPECT_EQ(b, hi) << line;
    return v;
}

// An enemy line spawning a child of the template at (x, y) with its aim and
// move angles and the slot it asked for.
inline void ExpectTraceChild(const std::string& line, int templateId, float x, float y, float aim, float move,
                             int slot = -1)
{
    SCOPED_TRACE(line);
    ASSERT_EQ(line.compare(0, 6, "enemy "), 0);
    EXPECT_EQ(TraceInt(line, "template"), templateId);
    EXPECT_EQ(TraceField(line, "x"), G9(x));
    EXPECT_EQ(TraceField(line, "y"), G9(y));
    EXPECT_EQ(TraceField(line, "aim"), G9(aim));
    EXPECT_EQ(TraceField(line, "move"), G9(move));
    EXPECT_EQ(TraceInt(line, "slot"), slot);
}

// The lines TraceWithoutSlots gives for a bullet, a child, an effect and a
// sound.
inline std::string TraceShotLine(int owner, int kind, int life, float x0, float y0, float speed, float heading,
                                 float spin)
{
    return "bullet owner=" + std::to_string(owner) + " kind=" + std::to_string(kind) + " life=" + std::to_string(life) +
           " x0=" + G9(x0) + " y0=" + G9(y0) + " r1=0 r2=0 dr1=" + G9(speed) + " dr2=0 A=" + G9(spin) +
           " dA=0 B=" + G9(heading) + " C=0 dB=0 dC=0 age=0";
}

inline std::string TraceChildLine(int templateId, float x, float y, float aim, float move)
{
    return "enemy template=" + std::to_string(templateId) + " x=" + G9(x) + " y=" + G9(y) + " aim=" + G9(aim) +
           " move=" + G9(move) + " slot=-1";
}

inline std::string TraceEffectLine(int kind, float x, float y)
{
    return "effect kind=" + std::to_string(kind) + " x=" + G9(x) + " y=" + G9(y) + " angle=0 age=0";
}

inline std::string TraceSoundLine(int n)
{
    return "sound " + std::to_string(n);
}

// printf into a string, for expected lines.
inline std::string TraceFormat(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// ---- the f32 rules of play, for expected values

// Degrees to radians as play computes them: two f32 products.
inline float TraceRad(int degrees)
{
    const float turns = static_cast<float>(degrees) * 0.0027777778f;
    return turns * 6.2831855f;
}

// The angle from one point to another: the f32 differences, atan2 in
// double, rounded once.
inline float TraceAim(float fromX, float fromY, float toX, float toY)
{
    const float dy = toY - fromY;
    const float dx = toX - fromX;
    return static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
}

inline float TraceCos(float a)
{
    return static_cast<float>(std::cos(static_cast<double>(a)));
}

inline float TraceSin(float a)
{
    return static_cast<float>(std::sin(static_cast<double>(a)));
}

// base + j x step with double constants: the product rounded to f32, then
// the sum. Long double holds both exactly here, so each cast rounds once.
inline float TraceGraded(double base, int j, double step)
{
    const float product = static_cast<float>(static_cast<long double>(j) * static_cast<long double>(step));
    return static_cast<float>(static_cast<long double>(base) + static_cast<long double>(product));
}

// base + d x (a cosine or sine) with d a whole number: the double product
// is exact, so the cast rounds it once.
inline float TracePlusAlong(float base, int d, float cosOrSin)
{
    return base + static_cast<float>(d * static_cast<double>(cosOrSin));
}
