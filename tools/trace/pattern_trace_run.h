#pragma once
// The engine of the pattern-trace tool, shared with the tests: parse the
// command line, run one call of AttackPatternRun on a fresh play state and
// return the lines the tool prints.
#include <cstdint>
#include <string>
#include <vector>

struct TraceOther {
    int slot = 0;
    float x = 0.0f, y = 0.0f, aim = 0.0f;
};

struct TraceOptions {
    int id = 0;                 // read as a signed 16-bit value
    int difficulty = 0;
    int once = 0;
    int clock = 1;              // stored as the 16-bit step clock
    int slot = 10;
    float enemyX = 320.0f, enemyY = 100.0f;
    float enemyAim = 1.5707964f, enemyMove = 1.5707964f;
    int step = 0;
    int playerState = 1;
    float playerX = 320.0f, playerY = 400.0f;
    uint32_t seed = 1;
    std::vector<TraceOther> others;
};

// False with a message when an argument is malformed or --id is missing.
bool PatternTraceParseArgs(int argc, const char* const* argv, TraceOptions* options, std::string* error);

// Every line the tool prints for these options, without newlines.
std::vector<std::string> PatternTraceRun(const TraceOptions& options);

extern const char kPatternTraceUsage[];
