// Wave spawners, aimed fans, rings and bullet arms: base ids 50 to 69.
#include "game/patterns/pattern_kit.h"

void RegisterWaveSpawners(PatternTable& t)
{
    (void)t;
}
