#pragma once
// Helpers for reading pattern traces in tests.
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
