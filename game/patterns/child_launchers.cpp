// Child launchers and timed child fans: the child patterns of base ids 164 to 199.
#include <initializer_list>

#include "game/patterns/pattern_kit.h"

// Straight down the screen, as the templates' launch angle constant.
static constexpr float kDown = 1.5707964f;
// Straight back along the enemy's aim angle.
static constexpr float kHalfTurn = 3.1415927f;

// ------------------------------------------------------------------ streams along the enemy's own aim angle

// The aim angle is read from the record at each use: a stream follows
// whatever turns that field, and the child's spawn comes before the shot.
static void OwnAngleChild(const PatternFrame& f, int32_t templateId)
{
    const float a = AimAngle(f);
    Child(templateId, f.x, f.y, a, a);
}

static void OwnAngleShot(const PatternFrame& f, uint16_t kind)
{
    Fire(f, {.kind = kind, .speed = 2.4f, .heading = AimAngle(f), .life = 800});
}

// A child of the template and a shot of the kind along the own angle, both
// every `kPeriod` frames.
template <int32_t kTemplate, int32_t kPeriod, uint16_t kShotKind>
static void StreamEvery(const PatternFrame& f)
{
    if (!Every(f, kPeriod)) return;
    OwnAngleChild(f, kTemplate);
    OwnAngleShot(f, kShotKind);
}

// The shot goes out on every call; only the child keeps the beat, and the
// beat is tested on the death path as on any other call.
template <int32_t kTemplate>
static void StreamEveryCall(const PatternFrame& f)
{
    if (f.clock % 2 == 0) OwnAngleChild(f, kTemplate);
    OwnAngleShot(f, 5);
}

// Shots thrown backwards, fanned about the reverse of the aim angle.
static void Backward199Band012(const PatternFrame& f)
{
    if (!EveryStrict(f, 15)) return;
    const float b = AimAngle(f) + kHalfTurn;
    for (const int32_t d : {10, -10}) {
        const float h = b + Deg(d);
        Fire(f, {.kind = 12, .speed = 3.0f, .heading = h, .A = h});
    }
}

static void Backward199Band3(const PatternFrame& f)
{
    if (!EveryStrict(f, 12)) return;
    const float b = AimAngle(f) + kHalfTurn;
    for (const int32_t d : {10, -10, -20, 20}) {
        const float h = b + Deg(d);
        Fire(f, {.kind = 12, .speed = 3.0f, .heading = h, .A = h});
    }
}

// ------------------------------------------------------------------ side pairs

// A flash and a child 40 pixels to each side, left first, both sent down.
static void SidePair(const PatternFrame& f, int32_t leftTemplate, int32_t rightTemplate)
{
    if (!Every(f, 15)) return;
    const float down = Deg(90);
    Effect(12, f.x - 40.0f, f.y);
    Child(leftTemplate, f.x - 40.0f, f.y, down, down);
    Effect(12, f.x + 40.0f, f.y);
    Child(rightTemplate, f.x + 40.0f, f.y, down, down);
}

static void SidePair166(const PatternFrame& f)
{
    SidePair(f, 108, 109);
}

static void SidePair167(const PatternFrame& f)
{
    SidePair(f, 109, 108);
}

static void SidePair168(const PatternFrame& f)
{
    SidePair(f, 108, 108);
}

static void SidePair169(const PatternFrame& f)
{
    SidePair(f, 109, 109);
}

static void Flashes178(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    Effect(20, f.x - 60.0f, f.y + 100.0f);
    Effect(20, f.x + 60.0f, f.y + 100.0f);
}

// One child a firing, below the enemy, alternating sides: left on the
// firings that fall on the side period, right on the others (and on a
// death between firings).
static void Alternate192(const PatternFrame& f, int32_t period, int32_t sidePeriod)
{
    if (!Every(f, period)) return;
    const float dx = f.clock % sidePeriod == 0 ? -26.0f : 26.0f;
    Child(152, f.x + dx, f.y + 40.0f, kDown, kDown);
    Sound(12);
}

static void Alternate192Band0(const PatternFrame& f)
{
    Alternate192(f, 30, 60);
}

static void Alternate192Band1(const PatternFrame& f)
{
    Alternate192(f, 25, 50);
}

static void Alternate192Band2(const PatternFrame& f)
{
    Alternate192(f, 20, 40);
}

static void Alternate192Band3(const PatternFrame& f)
{
    Alternate192(f, 15, 30);
}

// As 192 with a ring fired from a gun on the opposite side, up and out.
static void Alternate173(const PatternFrame& f, int32_t period, int32_t sidePeriod, int32_t ringStep, uint16_t kind,
                         float speed)
{
    if (!Every(f, period)) return;
    const bool left = f.clock % sidePeriod == 0;
    Child(114, f.x + (left ? -26.0f : 26.0f), f.y + 40.0f, kDown, kDown);
    Sound(12);
    const float gunX = f.x + (left ? 65.0f : -65.0f);
    const float gunY = f.y - 30.0f;
    for (int32_t k = 0; k < 360; k += ringStep) {
        FireFrom(f, gunX, gunY, {.kind = kind, .speed = speed, .heading = Deg(k), .life = 800});
    }
}

static void Alternate173Band0(const PatternFrame& f)
{
    Alternate173(f, 24, 48, 36, 4, 2.0f);
}

static void Alternate173Band1(const PatternFrame& f)
{
    Alternate173(f, 20, 40, 30, 4, 2.0f);
}

static void Alternate173Band2(const PatternFrame& f)
{
    Alternate173(f, 18, 36, 24, 4, 2.0f);
}

static void Alternate173Band3(const PatternFrame& f)
{
    Alternate173(f, 15, 30, 18, 6, 2.4f);
}

// ------------------------------------------------------------------ aimed child fans

// Every child faces the player; only the move angles fan out.
static void MoveFan171(const PatternFrame& f, std::initializer_list<int32_t> offsets)
{
    if (!Every(f, 70)) return;
    const float aim = Aim(f);
    for (const int32_t d : offsets) {
        Child(111, f.x, f.y, aim, aim + Deg(d));
    }
}

static void MoveFan171Band0(const PatternFrame& f)
{
    if (!Every(f, 70)) return;
    const float aim = Aim(f);
    Child(111, f.x, f.y, aim, aim);
}

static void MoveFan171Band1(const PatternFrame& f)
{
    MoveFan171(f, {20, -20});
}

// The straight child is passed the aim itself, not aim + 0.
static void MoveFan171Band2(const PatternFrame& f)
{
    if (!Every(f, 70)) return;
    const float aim = Aim(f);
    Child(111, f.x, f.y, aim, aim);
    Child(111, f.x, f.y, aim, aim + Deg(40));
    Child(111, f.x, f.y, aim, aim - Deg(40));
}

static void MoveFan171Band3(const PatternFrame& f)
{
    MoveFan171(f, {20, -20, 50, -50});
}

// Both angles fan out: each child flies the way it faces.
static void Fan197(const PatternFrame& f, int32_t period, std::initializer_list<int32_t> offsets)
{
    if (!Every(f, period)) return;
    const float aim = Aim(f);
    Child(158, f.x, f.y, aim, aim);
    for (const int32_t d : offsets) {
        const float a = aim + Deg(d);
        Child(158, f.x, f.y, a, a);
    }
}

static void Fan197Band0(const PatternFrame& f)
{
    Fan197(f, 70, {});
}

static void Fan197Band1(const PatternFrame& f)
{
    Fan197(f, 60, {30, -30});
}

static void Fan197Band2(const PatternFrame& f)
{
    Fan197(f, 50, {30, -30});
}

static void Fan197Band3(const PatternFrame& f)
{
    Fan197(f, 40, {20, -20, 40, -40});
}

// ------------------------------------------------------------------ random-angle launchers

// One draw serves both children: they leave in parallel from the two guns.
static void Parallel174(const PatternFrame& f, int32_t period, int32_t spread)
{
    if (!Every(f, period)) return;
    const float a = Deg(Rnd(-spread, spread) + 90);
    Child(115, f.x - 65.0f, f.y - 30.0f, a, a);
    Child(115, f.x + 65.0f, f.y - 30.0f, a, a);
    Sound(10);
}

static void Parallel174Band0(const PatternFrame& f)
{
    Parallel174(f, 3, 80);
}

static void Parallel174Band1(const PatternFrame& f)
{
    Parallel174(f, 3, 60);
}

static void Parallel174Band23(const PatternFrame& f)
{
    Parallel174(f, 2, 60);
}

// The right child's angle is drawn and the child placed before the left
// one's draw: the order fixes which draws each child gets.
static void Splay193(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    const float a = Deg(Rnd(-60, 60));
    Child(153, f.x + 50.0f, f.y, a, a);
    const float b = Deg(Rnd(120, 240));
    Child(153, f.x - 50.0f, f.y, b, b);
}

static void Splay193Band0(const PatternFrame& f)
{
    Splay193(f, 40);
}

static void Splay193Band13(const PatternFrame& f)
{
    Splay193(f, 30);
}

static void Splay193Band2(const PatternFrame& f)
{
    Splay193(f, 20);
}

// ------------------------------------------------------------------ child rings and fans

// Thirteen children over the lower half-turn and a little beyond.
static void Arc170(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    for (int32_t k = -30; k <= 210; k += 20) {
        Child(110, f.x, f.y, Deg(k), Deg(k));
    }
}

static void Drop172(const PatternFrame& f)
{
    if (!Every(f, 4)) return;
    Child(112, f.x, f.y, kDown, kDown);
}

// No gate: as a death pattern the burst comes once; as an attack pattern
// on every frame.
static void Burst177Children(const PatternFrame& f)
{
    for (int32_t k = 0; k < 360; k += 60) {
        Child(117, f.x, f.y, Deg(k), Deg(k));
    }
}

static void Burst177(const PatternFrame& f)
{
    Burst177Children(f);
    Effect(18, f.x, f.y);
}

static void Burst177Band3(const PatternFrame& f)
{
    Burst177Children(f);
    for (int32_t k = 8; k < 368; k += 30) {
        const float h = Deg(k);
        Fire(f, {.kind = 11, .speed = 2.0f, .heading = h, .A = h});
    }
    Effect(18, f.x, f.y);
}

// Two fans of template-49 children, left then right. Their aim angle is
// left to the template; only the right fan's children are moved on to
// step 4 at once, so the two fans behave differently from their first
// frame.
static void Fans179(const PatternFrame& f, int32_t leftFrom, int32_t leftTo, int32_t rightFrom, int32_t rightTo,
                    int32_t step)
{
    if (!At(f, 40)) return;
    for (int32_t k = leftFrom; k < leftTo; k += step) {
        Child(49, f.x, f.y, 0.0f, Deg(k));
    }
    for (int32_t k = rightFrom; k > rightTo; k -= step) {
        const int32_t child = Child(49, f.x, f.y, 0.0f, Deg(k));
        g_enemies[child].stepIndex = 4;
    }
}

static void Fans179Band0(const PatternFrame& f)
{
    Fans179(f, 200, 245, 340, 295, 15);
}

static void Fans179Band1(const PatternFrame& f)
{
    Fans179(f, 180, 240, 360, 300, 15);
}

static void Fans179Band2(const PatternFrame& f)
{
    Fans179(f, 190, 250, 350, 290, 10);
}

static void Fans179Band3(const PatternFrame& f)
{
    Fans179(f, 180, 260, 360, 280, 10);
}

// Two children at fixed field points, not relative to the enemy.
static void Pair184(const PatternFrame& f)
{
    if (!At(f, 90)) return;
    Child(137, 290.0f, 100.0f, kDown, kDown);
    Child(137, 340.0f, 100.0f, kDown, kDown);
    Effect(4, 290.0f, 100.0f);
    Effect(4, 340.0f, 100.0f);
}

// A fan from a fixed field point; the flashes mark the points of 184,
// either side of it.
static void Fan185(const PatternFrame& f, int32_t from, int32_t to, int32_t step)
{
    if (!At(f, 5)) return;
    for (int32_t k = from; k < to; k += step) {
        Child(138, 320.0f, 100.0f, Deg(k), Deg(k));
    }
    Effect(4, 290.0f, 100.0f);
    Effect(4, 340.0f, 100.0f);
}

static void Fan185Band0(const PatternFrame& f)
{
    Fan185(f, 30, 180, 30);
}

static void Fan185Band1(const PatternFrame& f)
{
    Fan185(f, 15, 190, 25);
}

static void Fan185Band2(const PatternFrame& f)
{
    Fan185(f, 10, 190, 20);
}

static void Fan185Band3(const PatternFrame& f)
{
    Fan185(f, 30, 165, 15);
}

static void Escort196Pair(const PatternFrame& f)
{
    Child(157, f.x + 60.0f, f.y + 50.0f, Deg(60), Deg(60));
    Child(157, f.x - 60.0f, f.y + 50.0f, Deg(120), Deg(120));
}

static void Escort196Band01(const PatternFrame& f)
{
    if (!At(f, 10)) return;
    Escort196Pair(f);
}

static void Escort196Band23(const PatternFrame& f)
{
    if (!At(f, 10)) return;
    Escort196Pair(f);
    Child(157, f.x, f.y - 30.0f, Deg(270), Deg(270));
}

// Two fans from above the enemy's shoulders; as in 179, only the right
// fan's children are moved on to step 4.
static void Fans198(const PatternFrame& f, int32_t step, int32_t leftTo, int32_t rightTo)
{
    if (!At(f, 10)) return;
    for (int32_t k = 200; k < leftTo; k += step) {
        Child(159, f.x - 100.0f, f.y - 50.0f, Deg(k), Deg(k));
    }
    for (int32_t k = 340; k > rightTo; k -= step) {
        const int32_t child = Child(159, f.x + 100.0f, f.y - 50.0f, Deg(k), Deg(k));
        g_enemies[child].stepIndex = 4;
    }
}

static void Fans198Band0(const PatternFrame& f)
{
    Fans198(f, 20, 260, 280);
}

static void Fans198Band1(const PatternFrame& f)
{
    Fans198(f, 14, 270, 270);
}

static void Fans198Band2(const PatternFrame& f)
{
    Fans198(f, 12, 272, 268);
}

static void Fans198Band3(const PatternFrame& f)
{
    Fans198(f, 10, 280, 260);
}

// ------------------------------------------------------------------ table

// Sets one behaviour for the base id in each of the given bands.
static void SetBands(PatternTable& t, int baseId, std::initializer_list<int> bands, PatternFn fn)
{
    for (const int band : bands) {
        t.Set(baseId + 1000 * band, fn);
    }
}

void RegisterChildLaunchers(PatternTable& t)
{
    t.Set(164, StreamEvery<106, 4, 1>);
    t.Set(1164, StreamEvery<106, 3, 3>);
    t.Set(2164, StreamEvery<106, 2, 3>);
    t.Set(3164, StreamEveryCall<106>);

    t.Set(165, StreamEvery<107, 4, 1>);
    t.Set(1165, StreamEvery<107, 3, 3>);
    t.Set(2165, StreamEvery<107, 2, 3>);
    t.Set(3165, StreamEveryCall<107>);

    SetBands(t, 166, {0, 1, 2, 3}, SidePair166);
    SetBands(t, 167, {0, 1, 2, 3}, SidePair167);
    SetBands(t, 168, {0, 1, 2, 3}, SidePair168);
    SetBands(t, 169, {0, 1, 2, 3}, SidePair169);

    // Band 3 has no 170.
    SetBands(t, 170, {0, 1, 2}, Arc170);

    t.Set(171, MoveFan171Band0);
    t.Set(1171, MoveFan171Band1);
    t.Set(2171, MoveFan171Band2);
    t.Set(3171, MoveFan171Band3);

    SetBands(t, 172, {0, 1, 2, 3}, Drop172);

    t.Set(173, Alternate173Band0);
    t.Set(1173, Alternate173Band1);
    t.Set(2173, Alternate173Band2);
    t.Set(3173, Alternate173Band3);

    t.Set(174, Parallel174Band0);
    t.Set(1174, Parallel174Band1);
    SetBands(t, 174, {2, 3}, Parallel174Band23);

    SetBands(t, 177, {0, 1, 2}, Burst177);
    t.Set(3177, Burst177Band3);

    SetBands(t, 178, {0, 1, 2, 3}, Flashes178);

    t.Set(179, Fans179Band0);
    t.Set(1179, Fans179Band1);
    t.Set(2179, Fans179Band2);
    t.Set(3179, Fans179Band3);

    SetBands(t, 184, {0, 1, 2, 3}, Pair184);

    t.Set(185, Fan185Band0);
    t.Set(1185, Fan185Band1);
    t.Set(2185, Fan185Band2);
    t.Set(3185, Fan185Band3);

    t.Set(192, Alternate192Band0);
    t.Set(1192, Alternate192Band1);
    t.Set(2192, Alternate192Band2);
    t.Set(3192, Alternate192Band3);

    t.Set(193, Splay193Band0);
    SetBands(t, 193, {1, 3}, Splay193Band13);
    t.Set(2193, Splay193Band2);

    SetBands(t, 196, {0, 1}, Escort196Band01);
    SetBands(t, 196, {2, 3}, Escort196Band23);

    t.Set(197, Fan197Band0);
    t.Set(1197, Fan197Band1);
    t.Set(2197, Fan197Band2);
    t.Set(3197, Fan197Band3);

    t.Set(198, Fans198Band0);
    t.Set(1198, Fans198Band1);
    t.Set(2198, Fans198Band2);
    t.Set(3198, Fans198Band3);

    SetBands(t, 199, {0, 1, 2}, Backward199Band012);
    t.Set(3199, Backward199Band3);
}
