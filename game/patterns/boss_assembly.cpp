// Boss assembly and child-enemy launchers: the child patterns of base ids 200 to 231.
#include "game/patterns/pattern_kit.h"

void RegisterBossAssembly(PatternTable& t)
{
    (void)t;
}
