// Bullet columns, rings and circling spawn points: the other patterns of base ids 164 to 199.
#include "game/patterns/pattern_kit.h"

void RegisterBulletColumns(PatternTable& t)
{
    (void)t;
}
