#include <gtest/gtest.h>

#include "game/patterns/attack_pattern.h"
#include "tests/game/patterns/trace_util.h"

TEST(AttackPatternRun, IdZeroFiresNothingInEveryBand)
{
    for (int d = 0; d < 4; ++d) {
        const auto lines = TraceCall(0, d, 40, 1);
        EXPECT_TRUE(TraceLines(lines, "bullet").empty());
        EXPECT_EQ(lines.size(), 1u);  // the state line of the running enemy
    }
}
