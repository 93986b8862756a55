#include <gtest/gtest.h>

#include "game/crt_random.h"
#include "game/play.h"

TEST(CrtRandom, FollowsTheLinearCongruentialSequence)
{
    CrtSeed(1);
    // The first numbers of the generator seeded with 1.
    EXPECT_EQ(CrtRand(), 41);
    EXPECT_EQ(CrtRand(), 18467);
    EXPECT_EQ(CrtRand(), 6334);
    EXPECT_EQ(CrtRand(), 26500);
}
