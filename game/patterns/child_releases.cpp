// Child releases, formations, backward child fans and curved streams: base ids 13 to 17, 21, 22, 24, 26, 27, 30 and 33.
#include "game/patterns/pattern_kit.h"

void RegisterChildReleases(PatternTable& t)
{
    (void)t;
}
