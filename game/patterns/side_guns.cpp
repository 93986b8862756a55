// Side-gun volleys, offset rings, chevrons and child rings: base ids 35 to 49.
#include "game/patterns/pattern_kit.h"

void RegisterSideGuns(PatternTable& t)
{
    (void)t;
}
