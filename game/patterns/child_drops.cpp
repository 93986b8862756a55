// Child drops, side entries and edge ambushes: the child patterns of base ids 111 to 140.
#include "game/patterns/pattern_kit.h"

void RegisterChildDrops(PatternTable& t)
{
    (void)t;
}
