// Child launchers and timed child fans: the child patterns of base ids 164 to 199.
#include "game/patterns/pattern_kit.h"

void RegisterChildLaunchers(PatternTable& t)
{
    (void)t;
}
