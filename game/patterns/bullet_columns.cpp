// Bullet columns, rings and circling spawn points: the other patterns of base ids 164 to 199.
#include <initializer_list>

#include "game/patterns/pattern_kit.h"

// Straight down the screen, as the emitters' launch angle constant.
static constexpr float kDown = 1.5707964f;

// A still bullet that lives one frame: laid on every call, a row of them
// shows as a standing beam that the next frame's row replaces.
static void BeamBullet(const PatternFrame& f, float x0, float y0)
{
    FireFrom(f, x0, y0, {.kind = 21, .speed = 0.0f, .heading = 0.0f, .life = 1});
}

// ------------------------------------------------------------------ bullet columns

// The emitter child 310 pixels below the enemy, on the side `sign`, and
// beside it a column of 60 beam bullets, 8 pixels apart. The emitter
// flickers between templates 64 and 65 with the clock's parity.
static void Column(const PatternFrame& f, float sign)
{
    Child(f.clock % 2 == 0 ? 64 : 65, f.x + sign * 81.0f, f.y + 310.0f, kDown, kDown);
    const float columnX = f.x + sign * 75.0f;
    for (int32_t k = -240; k < 240; k += 8) {
        BeamBullet(f, columnX, (static_cast<float>(k) + f.y) + 320.0f);
    }
}

// No top gate: the columns are rebuilt on every call. For the first 60
// frames only the warning emitters (template 63) stand where the columns
// will be; the sound marks the columns' first frame.
static void Columns175(const PatternFrame& f)
{
    for (const float sign : {-1.0f, 1.0f}) {
        if (f.clock < 60) {
            Child(63, f.x + sign * 81.0f, f.y + 310.0f, kDown, kDown);
        } else {
            Column(f, sign);
        }
    }
    if (f.clock == 60) {
        Sound(14);
    }
    if (!Every(f, 3)) return;
    const float a = Deg(Rnd(-80, 80) + 90);
    Child(115, f.x - 65.0f, f.y - 30.0f, a, a);
    Child(115, f.x + 65.0f, f.y - 30.0f, a, a);
    Sound(10);
}

// Columns from the first frame, and a splayed pair of children on a
// strict beat: the right child's angle is drawn and the child placed
// before the left one's draw.
static void Columns176(const PatternFrame& f, int32_t pairPeriod)
{
    Column(f, -1.0f);
    Column(f, 1.0f);
    if (!EveryStrict(f, pairPeriod)) return;
    const float a = Deg(Rnd(-60, 60));
    Child(129, f.x + 50.0f, f.y, a, a);
    const float b = Deg(Rnd(120, 240));
    Child(129, f.x - 50.0f, f.y, b, b);
}

static void Columns176Band0(const PatternFrame& f)
{
    Columns176(f, 50);
}

static void Columns176Band1(const PatternFrame& f)
{
    Columns176(f, 40);
}

static void Columns176Band2(const PatternFrame& f)
{
    Columns176(f, 30);
}

static void Columns176Band3(const PatternFrame& f)
{
    Columns176(f, 20);
}

// A beam along the enemy's aim angle from 20 to 488 pixels out, with its
// emitter 230 pixels out. Position and aim angle are read from the record
// at each use, not from the values taken on entry.
static void AimBeam183(const PatternFrame& f)
{
    const EnemyRecord& self = g_enemies[f.slot];
    const float a = self.aimAngle;
    const float px = self.x + 230.0f * Cos(a);
    const float py = self.y + 230.0f * Sin(a);
    if (f.clock < 30) {
        Child(134, px, py, a, a);
    } else {
        Child(f.clock % 2 == 0 ? 135 : 136, px, py, a, a);
        // Read again after the spawn: a full enemy table hands the emitter
        // slot 10, which may be this enemy's own record.
        const float c = Cos(self.aimAngle);
        const float s = Sin(self.aimAngle);
        const float ox = c * 260.0f + self.x;
        const float oy = s * 260.0f + self.y;
        for (int32_t i = -20; i < 20; ++i) {
            const float n = static_cast<float>(i);
            BeamBullet(f, c * n * 12.0f + ox, s * n * 12.0f + oy);
        }
    }
    if (f.clock == 10) {
        Sound(14);
    }
}

// ------------------------------------------------------------------ aimed volleys and rings

static void Aimed180Band01(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    Fire(f, {.kind = 11, .speed = 3.6f, .heading = aim, .A = aim});
}

static void AimedFan180(const PatternFrame& f, float speed, std::initializer_list<int32_t> offsets)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    for (const int32_t d : offsets) {
        const float h = aim + Deg(d);
        Fire(f, {.kind = 11, .speed = speed, .heading = h, .A = h});
    }
}

static void Aimed180Band2(const PatternFrame& f)
{
    AimedFan180(f, 3.6f, {0, -20, 20});
}

static void Aimed180Band3(const PatternFrame& f)
{
    AimedFan180(f, 3.8f, {0, -20, 20, -40, 40});
}

// A slow long-lived ring, once at clock 38.
static void Ring187(const PatternFrame& f, int32_t step, float speed)
{
    if (!At(f, 38)) return;
    for (int32_t k = 0; k < 360; k += step) {
        const float h = Deg(k);
        Fire(f, {.kind = 12, .speed = speed, .heading = h, .life = 2000, .A = h});
    }
}

static void Ring187Band0(const PatternFrame& f)
{
    Ring187(f, 90, 2.0f);
}

static void Ring187Band1(const PatternFrame& f)
{
    Ring187(f, 60, 2.0f);
}

static void Ring187Band2(const PatternFrame& f)
{
    Ring187(f, 40, 2.4f);
}

static void Ring187Band3(const PatternFrame& f)
{
    Ring187(f, 30, 2.4f);
}

// A ring about the aim with gaps: runs of bullets left out by position.
using GapTest = bool (*)(int32_t position);

static void GappedRing194(const PatternFrame& f, int32_t period, int32_t step, uint16_t kind, GapTest fires)
{
    if (!Every(f, period)) return;
    const float aim = Aim(f);
    for (int32_t i = 0; step * i < 360; ++i) {
        if (fires(i)) {
            Fire(f, {.kind = kind, .speed = 2.4f, .heading = aim + Deg(step * i)});
        }
    }
}

static void GappedRing194Band0(const PatternFrame& f)
{
    GappedRing194(f, 50, 10, 2, [](int32_t i) { return (i / 6) % 2 == 0; });
}

static void GappedRing194Band1(const PatternFrame& f)
{
    GappedRing194(f, 40, 10, 2, [](int32_t i) { return (i / 4) % 2 == 0; });
}

static void GappedRing194Band2(const PatternFrame& f)
{
    GappedRing194(f, 30, 5, 2, [](int32_t i) { return (i / 6) % 3 != 0; });
}

// Full runs alternate with runs thinned to every other bullet.
static void GappedRing194Band3(const PatternFrame& f)
{
    GappedRing194(f, 30, 5, 4, [](int32_t i) { return (i / 6) % 2 != 0 || i % 2 == 0; });
}

// A child along the move angle on every firing; by the hundreds of the
// clock one of two rings about the move angle, each on its own strict
// beat. `ringAOnEven` says whether the even hundreds take ring A.
struct AlternatingRings {
    int32_t period;
    int32_t templateId;
    int32_t periodA, stepA;
    uint16_t kindA;
    int32_t periodB, stepB;
    float speed;
};

static void AlternatingRingsRun(const PatternFrame& f, const AlternatingRings& r, bool ringAOnEven)
{
    if (!Every(f, r.period)) return;
    Child(r.templateId, f.x, f.y, f.move, f.move);
    const bool even = (f.clock / 100) % 2 == 0;
    int32_t period = r.periodB;
    int32_t step = r.stepB;
    uint16_t kind = 5;
    if (even == ringAOnEven) {
        period = r.periodA;
        step = r.stepA;
        kind = r.kindA;
    }
    if (!EveryStrict(f, period)) return;
    for (int32_t k = 0; k < 360; k += step) {
        const float h = f.move + Deg(k);
        Fire(f, {.kind = kind, .speed = r.speed, .heading = h, .A = h});
    }
}

static constexpr AlternatingRings kRings181[4] = {
    {4, 132, 8, 90, 11, 20, 40, 2.2f},
    {4, 132, 8, 40, 11, 20, 30, 2.2f},
    {3, 132, 9, 20, 11, 18, 20, 2.4f},
    {2, 132, 8, 18, 13, 16, 18, 2.6f},
};

static constexpr AlternatingRings kRings182[4] = {
    {4, 132, 8, 90, 11, 20, 40, 2.2f},
    {4, 133, 8, 40, 11, 20, 30, 2.2f},
    {3, 133, 9, 20, 11, 18, 20, 2.4f},
    {2, 133, 8, 18, 13, 16, 18, 2.6f},
};

static void Rings181Band0(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings181[0], true);
}

static void Rings181Band1(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings181[1], true);
}

static void Rings181Band2(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings181[2], true);
}

static void Rings181Band3(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings181[3], true);
}

static void Rings182Band0(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings182[0], false);
}

static void Rings182Band1(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings182[1], false);
}

static void Rings182Band2(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings182[2], false);
}

static void Rings182Band3(const PatternFrame& f)
{
    AlternatingRingsRun(f, kRings182[3], false);
}

// ------------------------------------------------------------------ circling spawn points

// A child on a flat ellipse about a fixed field point, turning 15 degrees
// a frame of the clock.
static void Ellipse186(const PatternFrame& f, int32_t period, float ry)
{
    if (!Every(f, period)) return;
    const float t = Deg(15 * f.clock);
    const float down = Deg(90);
    Child(143, 320.0f + 200.0f * Cos(t), 200.0f + ry * Sin(t), down, down);
    Sound(12);
}

static void Ellipse186Band0(const PatternFrame& f)
{
    Ellipse186(f, 20, 40.0f);
}

static void Ellipse186Band12(const PatternFrame& f)
{
    Ellipse186(f, 20, 50.0f);
}

static void Ellipse186Band3(const PatternFrame& f)
{
    Ellipse186(f, 15, 80.0f);
}

// A child on a circle of radius 200 about the field's centre, with a flash.
static void Circle189(const PatternFrame& f, int32_t period, int32_t degreesPerFrame)
{
    if (!EveryStrict(f, period)) return;
    const float t = Deg(degreesPerFrame * f.clock);
    const float px = 320.0f + 200.0f * Cos(t);
    const float py = 240.0f + 200.0f * Sin(t);
    const float down = Deg(90);
    Child(140, px, py, down, down);
    Effect(12, px, py);
}

static void Circle189Band0(const PatternFrame& f)
{
    Circle189(f, 10, 4);
}

static void Circle189Band2(const PatternFrame& f)
{
    Circle189(f, 6, 5);
}

// A child on a small circle about the enemy, facing the player from where
// it stands; on a stricter beat a ring about that aim from the same point.
static void Orbit190(const PatternFrame& f, int32_t period, float radius, int32_t ringPeriod, int32_t ringStep,
                     uint16_t kind, float speed)
{
    if (!Every(f, period)) return;
    const float t = Deg(6 * f.clock);
    const float px = f.x + radius * Cos(t);
    const float py = f.y + radius * Sin(t);
    const float a = AimFrom(px, py);
    Child(142, px, py, a, a);
    if (!EveryStrict(f, ringPeriod)) return;
    for (int32_t k = 0; k < 360; k += ringStep) {
        FireFrom(f, px, py, {.kind = kind, .speed = speed, .heading = a + Deg(k)});
    }
}

static void Orbit190Band0(const PatternFrame& f)
{
    Orbit190(f, 5, 40.0f, 10, 60, 2, 2.4f);
}

static void Orbit190Band1(const PatternFrame& f)
{
    Orbit190(f, 5, 50.0f, 10, 36, 4, 2.4f);
}

static void Orbit190Band2(const PatternFrame& f)
{
    Orbit190(f, 4, 50.0f, 8, 24, 4, 2.4f);
}

static void Orbit190Band3(const PatternFrame& f)
{
    Orbit190(f, 3, 60.0f, 6, 24, 6, 2.0f);
}

static void Orbit191(const PatternFrame& f, int32_t period, float radius)
{
    if (!EveryStrict(f, period)) return;
    const float t = Deg(6 * f.clock);
    const float px = f.x + radius * Cos(t);
    const float py = f.y + radius * Sin(t);
    const float down = Deg(90);
    Child(141, px, py, down, down);
    Effect(12, px, py);
}

static void Orbit191Band0(const PatternFrame& f)
{
    Orbit191(f, 15, 40.0f);
}

static void Orbit191Band1(const PatternFrame& f)
{
    Orbit191(f, 12, 40.0f);
}

static void Orbit191Band2(const PatternFrame& f)
{
    Orbit191(f, 10, 60.0f);
}

static void Orbit191Band3(const PatternFrame& f)
{
    Orbit191(f, 8, 80.0f);
}

// Two streams turning in opposite senses from guns above the enemy's
// shoulders, mirror images about the enemy's vertical.
static void Twin195(const PatternFrame& f)
{
    const float right = Deg(4 * f.clock);
    FireFrom(f, f.x + 100.0f, f.y - 50.0f, {.kind = 12, .speed = 4.0f, .heading = right, .A = right});
    const float left = Deg((45 - f.clock) * 4);
    FireFrom(f, f.x - 100.0f, f.y - 50.0f, {.kind = 12, .speed = 4.0f, .heading = left, .A = left});
}

// ------------------------------------------------------------------ table

void RegisterBulletColumns(PatternTable& t)
{
    for (const int band : {0, 1, 2, 3}) {
        t.Set(175 + 1000 * band, Columns175);
        t.Set(183 + 1000 * band, AimBeam183);
    }

    t.Set(176, Columns176Band0);
    t.Set(1176, Columns176Band1);
    t.Set(2176, Columns176Band2);
    t.Set(3176, Columns176Band3);

    t.Set(180, Aimed180Band01);
    t.Set(1180, Aimed180Band01);
    t.Set(2180, Aimed180Band2);
    t.Set(3180, Aimed180Band3);

    t.Set(181, Rings181Band0);
    t.Set(1181, Rings181Band1);
    t.Set(2181, Rings181Band2);
    t.Set(3181, Rings181Band3);

    t.Set(182, Rings182Band0);
    t.Set(1182, Rings182Band1);
    t.Set(2182, Rings182Band2);
    t.Set(3182, Rings182Band3);

    t.Set(186, Ellipse186Band0);
    t.Set(1186, Ellipse186Band12);
    t.Set(2186, Ellipse186Band12);
    t.Set(3186, Ellipse186Band3);

    t.Set(187, Ring187Band0);
    t.Set(1187, Ring187Band1);
    t.Set(2187, Ring187Band2);
    t.Set(3187, Ring187Band3);

    // 189 exists only in bands 0 and 2.
    t.Set(189, Circle189Band0);
    t.Set(2189, Circle189Band2);

    t.Set(190, Orbit190Band0);
    t.Set(1190, Orbit190Band1);
    t.Set(2190, Orbit190Band2);
    t.Set(3190, Orbit190Band3);

    t.Set(191, Orbit191Band0);
    t.Set(1191, Orbit191Band1);
    t.Set(2191, Orbit191Band2);
    t.Set(3191, Orbit191Band3);

    t.Set(194, GappedRing194Band0);
    t.Set(1194, GappedRing194Band1);
    t.Set(2194, GappedRing194Band2);
    t.Set(3194, GappedRing194Band3);

    // 195 exists only in band 0.
    t.Set(195, Twin195);
}
