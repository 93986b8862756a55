// Aimed shots, fans, rings with arms and volleys: base ids 18 to 20, 23, 25, 28, 29, 31, 32 and 34.
#include "game/patterns/pattern_kit.h"

void RegisterAimedVolleys(PatternTable& t)
{
    (void)t;
}
