// pattern-trace: runs one call of AttackPatternRun on a fresh play state and
// prints every service call the pattern makes, in order, then the enemy
// table. The output format is an interface: tests and people read it.
#include <cstdio>
#include <string>

#include "tools/output.h"
#include "tools/trace/pattern_trace_run.h"

int main(int argc, char** argv)
{
    TraceOptions options;
    std::string error;
    if (!PatternTraceParseArgs(argc, argv, &options, &error)) {
        std::fprintf(stderr, "pattern-trace: %s\n%s", error.c_str(), kPatternTraceUsage);
        return 2;
    }
    ToolOutputBegin();
    for (const std::string& line : PatternTraceRun(options)) {
        ToolPrint("%s\n", line.c_str());
    }
    return ToolOutputEnd("pattern-trace") ? 0 : 1;
}
