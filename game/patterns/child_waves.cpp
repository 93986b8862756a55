// Child waves, beam lines and muzzle volleys: base ids 141 to 163.
#include "game/patterns/pattern_kit.h"

void RegisterChildWaves(PatternTable& t)
{
    (void)t;
}
