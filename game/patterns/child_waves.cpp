// Child waves, beam lines and muzzle volleys: base ids 141 to 163.
#include "game/patterns/pattern_kit.h"

namespace {
struct Point {
    float x;
    float y;
};
}  // namespace

// The point `d` pixels from (x, y) along `a`; the distance is a double
// constant, so each product is rounded once to f32.
static Point Along(float x, float y, float a, double d)
{
    return {x + F32Mul(d, Cos(a)), y + F32Mul(d, Sin(a))};
}

// The muzzle: `d` pixels ahead along the enemy's aim angle.
static Point Muzzle(const PatternFrame& f, double d)
{
    return Along(f.x, f.y, AimAngle(f), d);
}

// ------------------------------------------------------------------ drop-ins from above

// A child above the field, its fall tilted toward the middle by up to
// `tiltMax` degrees. Draws: x, then y, then the tilt.
static Point DropPoint(int32_t tiltMax, float* tilt)
{
    const int32_t px = Rnd(120, 520);
    const int32_t py = Rnd(-90, -40);
    const int32_t r = Rnd(0, tiltMax);
    *tilt = px >= 320 ? Deg(r) : -Deg(r);
    return {static_cast<float>(px), static_cast<float>(py)};
}

static void DropIn141(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    float o = 0.0f;
    const Point p = DropPoint(10, &o);
    const int32_t templateId = f.clock % (2 * period) == 0 ? 66 : 67;
    Child(templateId, p.x, p.y, Deg(90), Deg(90) + o);
}

static void DropIn141Band01(const PatternFrame& f)
{
    DropIn141(f, 10);
}

static void DropIn141Band23(const PatternFrame& f)
{
    DropIn141(f, 8);
}

static void DropIn144(const PatternFrame& f)
{
    float o = 0.0f;
    const Point p = DropPoint(20, &o);
    const int32_t templateId = f.clock % 2 == 0 ? 68 : 69;
    const float a = Deg(90) + o;
    Child(templateId, p.x, p.y, a, a);
}

// ------------------------------------------------------------------ children from the enemy

// Behind the enemy's aim, with a random spread.
static void BackChild145(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    const float a = Deg(Rnd(-40, 40)) + AimAngle(f) + 3.1415927f;
    Child(70, f.x, f.y, a, a);
}

static void BackChild145Band012(const PatternFrame& f)
{
    BackChild145(f, 5);
}

static void BackChild145Band3(const PatternFrame& f)
{
    BackChild145(f, 3);
}

// Seven children fanned behind the enemy's aim. The aim angle is read for
// each child, as the record stands at that moment.
static void BackFan146(const PatternFrame& f)
{
    for (int32_t k = -60; k <= 60; k += 20) {
        const float a = Deg(k) + AimAngle(f) + 3.1415927f;
        Child(71, f.x, f.y, a, a);
    }
}

static void BackFan146Band012(const PatternFrame& f)
{
    BackFan146(f);
    Sound(19);
}

static void BackFan146Band3(const PatternFrame& f)
{
    BackFan146(f);
    for (int32_t k = 0; k < 360; k += 18) {
        const float h = Deg(k);
        Fire(f, {.kind = 12, .speed = 3.0f, .heading = h, .A = h});
    }
    Sound(19);
}

static void UpTrio147(const PatternFrame& f)
{
    if (!EveryStrict(f, 80)) return;
    Child(72, f.x, f.y, Deg(270), Deg(270));
    Child(72, f.x + 40.0f, f.y, Deg(270), Deg(270));
    Child(72, f.x - 40.0f, f.y, Deg(270), Deg(270));
}

// Two children that face up while they move down.
static void Pair149(const PatternFrame& f)
{
    Child(76, f.x, f.y, Deg(270), Deg(90));
    Child(77, f.x, f.y, Deg(270), Deg(90));
}

// One child dropped below the enemy, then a fan of children from it.
static void Fan150(const PatternFrame& f, int32_t from, int32_t to, int32_t step)
{
    if (!EveryStrict(f, 8)) return;
    Child(84, f.x, f.y + 40.0f, Deg(90), Deg(90));
    for (int32_t k = from; k < to; k += step) {
        Child(124, f.x, f.y, Deg(k), Deg(k));
    }
}

static void Fan150Band0(const PatternFrame& f)
{
    Fan150(f, 20, 230, 70);
}

static void Fan150Band1(const PatternFrame& f)
{
    Fan150(f, -10, 240, 50);
}

static void Fan150Band23(const PatternFrame& f)
{
    Fan150(f, -30, 250, 40);
}

// Faces the player and moves on a heading that turns 30 degrees every 15
// frames of the clock.
static void Turning151(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    Child(85, f.x, f.y, Aim(f), Deg((f.clock / 15) * 30));
}

static void Turning151Band0(const PatternFrame& f)
{
    Turning151(f, 20);
}

static void Turning151Band1(const PatternFrame& f)
{
    Turning151(f, 15);
}

static void Turning151Band2(const PatternFrame& f)
{
    Turning151(f, 10);
}

static void Turning151Band3(const PatternFrame& f)
{
    Turning151(f, 8);
}

// Falls straight down, facing a random way.
static void Faller152(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    Child(86, f.x, f.y, Deg(Rnd(0, 360)), Deg(90));
}

static void Faller152Band0(const PatternFrame& f)
{
    Faller152(f, 15);
}

static void Faller152Band1(const PatternFrame& f)
{
    Faller152(f, 12);
}

static void Faller152Band2(const PatternFrame& f)
{
    Faller152(f, 9);
}

static void Faller152Band3(const PatternFrame& f)
{
    Faller152(f, 6);
}

static void Drop156(const PatternFrame& f)
{
    Child(89, f.x, f.y + 40.0f, Deg(90), Deg(90));
}

static void Drop156Band01(const PatternFrame& f)
{
    if (!EveryStrict(f, 18)) return;
    Drop156(f);
}

// The aim is taken after the child: the child cannot move the player, so
// only the order of the calls is at stake.
static void Drop156Band2(const PatternFrame& f)
{
    if (!EveryStrict(f, 18)) return;
    Drop156(f);
    const float aim = Aim(f);
    for (int32_t k = 0; k < 360; k += 24) {
        Fire(f, {.kind = 3, .speed = 2.0f, .heading = aim + Deg(k), .life = 1000});
    }
}

static void Drop156Band3(const PatternFrame& f)
{
    if (!EveryStrict(f, 18)) return;
    Drop156(f);
    for (int32_t k = 0; k < 360; k += 18) {
        Fire(f, {.kind = 3, .speed = 2.0f, .heading = f.move + Deg(k), .life = 1000});
    }
}

static void MuzzleChild159(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    const float a = AimAngle(f);
    const Point m = Along(f.x, f.y, a, 26.0);
    Child(95, m.x, m.y, a, a);
}

static void MuzzleChild159Band01(const PatternFrame& f)
{
    MuzzleChild159(f, 40);
}

static void MuzzleChild159Band2(const PatternFrame& f)
{
    MuzzleChild159(f, 35);
}

static void MuzzleChild159Band3(const PatternFrame& f)
{
    MuzzleChild159(f, 30);
}

// A child on each side of the enemy, each announced by a flash.
static void Flanks161(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    Effect(12, f.x - 40.0f, f.y);
    Child(102, f.x - 40.0f, f.y, Deg(90), Deg(90));
    Effect(12, f.x + 40.0f, f.y);
    Child(103, f.x + 40.0f, f.y, Deg(90), Deg(90));
}

// ------------------------------------------------------------------ crosses of four

static void Cross142(const PatternFrame& f, float speed)
{
    const float headings[] = {Deg(90) + Deg(60), Deg(90) - Deg(60), Deg(90) + Deg(120), Deg(90) - Deg(120)};
    for (const float h : headings) {
        Fire(f, {.kind = 12, .speed = speed, .heading = h, .A = h});
    }
}

static void Cross142Band012(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Cross142(f, 3.0f);
}

static void Cross142Band3(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Cross142(f, 3.6f);
}

static void Cross143(const PatternFrame& f, float speed)
{
    for (const int32_t degrees : {90, 180, 0, 270}) {
        const float h = Deg(degrees);
        Fire(f, {.kind = 11, .speed = speed, .heading = h, .A = h});
    }
}

static void Cross143Band012(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Cross143(f, 3.0f);
}

static void Cross143Band3(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Cross143(f, 3.6f);
}

// ------------------------------------------------------------------ muzzle volleys

static void Volley153Band0(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    const Point m = Muzzle(f, 26.0);
    FireFrom(f, m.x, m.y, {.kind = 4, .speed = 1.8f, .heading = AimAngle(f), .life = 500});
}

// A lead bullet on the aim angle and two slower ones just either side.
static void Volley153(const PatternFrame& f, float leadSpeed, float sideSpeed, float spread)
{
    if (!Every(f, 8)) return;
    const Point m = Muzzle(f, 26.0);
    const float a = AimAngle(f);
    FireFrom(f, m.x, m.y, {.kind = 4, .speed = leadSpeed, .heading = a, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 2, .speed = sideSpeed, .heading = a + spread, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 2, .speed = sideSpeed, .heading = a - spread, .life = 500});
}

static void Volley153Band1(const PatternFrame& f)
{
    Volley153(f, 2.0f, 1.8f, 0.005f);
}

static void Volley153Band2(const PatternFrame& f)
{
    Volley153(f, 2.0f, 1.8f, 0.01f);
}

static void Volley153Band3(const PatternFrame& f)
{
    Volley153(f, 2.6f, 2.4f, 0.01f);
}

// Two bullets either side of the aim angle and one aimed at the player
// from the muzzle itself.
static void Volley154(const PatternFrame& f, int32_t period, float spread, float sideSpeed, float aimedSpeed)
{
    if (!Every(f, period)) return;
    const Point m = Muzzle(f, 26.0);
    const float a = AimAngle(f);
    FireFrom(f, m.x, m.y, {.kind = 4, .speed = sideSpeed, .heading = a + spread, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 4, .speed = sideSpeed, .heading = a - spread, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 6, .speed = aimedSpeed, .heading = AimFrom(m.x, m.y), .life = 500});
}

static void Volley154Band0(const PatternFrame& f)
{
    Volley154(f, 12, 0.2f, 2.2f, 3.0f);
}

static void Volley154Band1(const PatternFrame& f)
{
    Volley154(f, 10, 0.3f, 2.2f, 3.0f);
}

static void Volley154Band2(const PatternFrame& f)
{
    Volley154(f, 8, 0.5f, 2.2f, 3.6f);
}

static void Volley154Band3(const PatternFrame& f)
{
    Volley154(f, 6, 0.5f, 2.8f, 4.0f);
}

// A slow bullet aimed at the player from the muzzle, on its own beat.
static void AimedFromMuzzle158(const PatternFrame& f, const Point& m, int32_t every, float speed)
{
    if (f.clock % every != 0) return;
    FireFrom(f, m.x, m.y, {.kind = 10, .speed = speed, .heading = AimFrom(m.x, m.y), .life = 800});
}

static void Volley158Band0(const PatternFrame& f)
{
    if (!Every(f, 5)) return;
    const Point m = Muzzle(f, 26.0);
    FireFrom(f, m.x, m.y, {.kind = 8, .speed = 1.6f, .heading = AimAngle(f), .life = 500});
    AimedFromMuzzle158(f, m, 20, 1.2f);
}

// Three bullets on and just either side of the aim angle, then the aimed one.
static void Volley158(const PatternFrame& f, double distance, float speed, float spread, int32_t aimedEvery,
                      float aimedSpeed)
{
    const Point m = Muzzle(f, distance);
    const float a = AimAngle(f);
    FireFrom(f, m.x, m.y, {.kind = 8, .speed = speed, .heading = a, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 8, .speed = speed, .heading = a + spread, .life = 500});
    FireFrom(f, m.x, m.y, {.kind = 8, .speed = speed, .heading = a - spread, .life = 500});
    AimedFromMuzzle158(f, m, aimedEvery, aimedSpeed);
}

static void Volley158Band1(const PatternFrame& f)
{
    if (!Every(f, 4)) return;
    Volley158(f, 26.0, 1.6f, 0.01f, 16, 1.2f);
}

static void Volley158Band2(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    Volley158(f, 26.0, 1.6f, 0.015f, 15, 1.2f);
}

static void Volley158Band3(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Volley158(f, 30.0, 2.4f, 0.015f, 12, 1.8f);
}

// ------------------------------------------------------------------ beam lines

// 48 still one-frame bullets, 10 pixels apart, through p along phi.
static void BeamLine(const PatternFrame& f, const Point& p, float phi)
{
    const float c = Cos(phi);
    const float s = Sin(phi);
    for (int32_t n = -24; n < 24; ++n) {
        const double along = 10.0 * n;
        FireFrom(f, p.x + F32Mul(along, c), p.y + F32Mul(along, s),
                 {.kind = 21, .speed = 0.0f, .heading = 0.0f, .life = 1});
    }
}

// A child gathers at the far point; from `beamFrom` on, the child's
// template alternates with the clock and the beam runs through it.
static void BeamEnd(const PatternFrame& f, const Point& p, float phi, int32_t beamFrom, int32_t before,
                    int32_t even, int32_t odd)
{
    if (f.clock < beamFrom) {
        Child(before, p.x, p.y, phi, phi);
        return;
    }
    Child(f.clock % 2 == 0 ? even : odd, p.x, p.y, phi, phi);
    BeamLine(f, p, phi);
}

// Two beams 30 degrees either side of the move angle, announced once.
static void Beams148(const PatternFrame& f)
{
    for (const float phi : {f.move - 0.5235988f, f.move + 0.5235988f}) {
        const Point p = Along(f.x, f.y, phi, 260.0);
        BeamEnd(f, p, phi, 100, 73, 74, 75);
    }
    if (f.clock == 100) {
        Sound(14);
    }
}

// One beam along the aim angle, announced once.
static void Beam157(const PatternFrame& f)
{
    const float phi = AimAngle(f);
    const Point p = Along(f.x, f.y, phi, 280.0);
    BeamEnd(f, p, phi, 50, 90, 92, 91);
    if (f.clock == 50) {
        Sound(14);
    }
}

// A short beam through the enemy along its aim angle.
static void Beam162(const PatternFrame& f)
{
    const float a = AimAngle(f);
    const float c = Cos(a);
    const float s = Sin(a);
    for (int32_t n = -8; n < 10; ++n) {
        const double along = 10.0 * n;
        FireFrom(f, f.x + F32Mul(along, c), f.y + F32Mul(along, s),
                 {.kind = 22, .speed = 0.0f, .heading = 0.0f, .life = 1});
    }
}

// ------------------------------------------------------------------ circle around the player

// Children close in on the player from a circle about it, each with a flash.
static void Circle160(const PatternFrame& f, double radius, int32_t step)
{
    if (!Every(f, 15)) return;
    for (int32_t k = 0; k < 360; k += step) {
        const Point q = Along(g_player.x, g_player.y, Deg(k), radius);
        Effect(12, q.x, q.y);
        const float a = Deg(k + 180);
        Child(100, q.x, q.y, a, a);
    }
}

static void Circle160Band0(const PatternFrame& f)
{
    Circle160(f, 140.0, 45);
}

static void Circle160Band1(const PatternFrame& f)
{
    Circle160(f, 150.0, 36);
}

static void Circle160Band2(const PatternFrame& f)
{
    Circle160(f, 150.0, 24);
}

static void Circle160Band3(const PatternFrame& f)
{
    Circle160(f, 150.0, 18);
}

// ------------------------------------------------------------------ bottom fan and widening spread

namespace {
struct BottomBeats {
    int32_t childEvery;     // Q
    int32_t spreadEvery;    // W
    int32_t pairDivisor;    // D: the clock over D is the number of pairs
    float speed;            // V
};
}  // namespace

// A bullet up from the bottom edge fanned away from a point below it, a
// child rising from the bottom on one beat, and on another a spread of
// pairs under the enemy that grows finer as the clock runs on.
static void Bottom155(const PatternFrame& f, const BottomBeats& b)
{
    const int32_t fanX = Rnd(200, 440);
    const float fanHeading = Atan2(321.0f, static_cast<float>(320 - fanX)) + 3.1415927f;
    FireFrom(f, static_cast<float>(fanX), 479.0f, {.kind = 10, .speed = 3.0f, .heading = fanHeading, .life = 500});

    if (f.clock % b.childEvery == 0) {
        // The aim angle is drawn before the position.
        const float aim = Deg(Rnd(0, 360));
        const float cx = static_cast<float>(Rnd(120, 520));
        Child(87, cx, 479.0f, aim, Deg(270));
    }

    const int32_t n = f.clock / b.pairDivisor;
    if (f.clock % b.spreadEvery != 0 || n <= 0) return;
    int32_t a = 270;
    int32_t bb = 270;
    const int32_t da = 90 / n;
    const int32_t db = -90 / n;
    for (int32_t i = 0; i < n; ++i) {
        const float ha = Deg(a);
        FireFrom(f, f.x, 479.0f, {.kind = 11, .speed = b.speed, .heading = ha, .life = 500, .A = ha});
        const float hb = Deg(bb);
        FireFrom(f, f.x, 479.0f, {.kind = 11, .speed = b.speed, .heading = hb, .life = 500, .A = hb});
        bb += db;
        a += da;
    }
}

static void Bottom155Band0(const PatternFrame& f)
{
    if (!Every(f, 5)) return;
    Bottom155(f, {10, 40, 10, 2.2f});
}

static void Bottom155Band1(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Bottom155(f, {8, 30, 10, 2.2f});
}

static void Bottom155Band2(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Bottom155(f, {6, 16, 10, 2.2f});
}

static void Bottom155Band3(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Bottom155(f, {4, 20, 5, 2.8f});
}

// ------------------------------------------------------------------ formation call by step index

namespace {
// One child of a corner group: x = r + dx on the left, dx - r on the right.
struct FormationPlace {
    int16_t dx;
    int16_t y;
};

struct Formation {
    const FormationPlace* upperLeft;
    const FormationPlace* upperRight;
    const FormationPlace* lowerLeft;
    const FormationPlace* lowerRight;
    int count;              // children per group
    int32_t ringFrom, ringTo, ringStep;
};

constexpr FormationPlace kUpperLeft3[] = {{20, -60}, {120, -160}, {-80, 40}};
constexpr FormationPlace kUpperRight3[] = {{620, -60}, {720, 40}, {520, -160}};
constexpr FormationPlace kLowerLeft3[] = {{20, 540}, {120, 640}, {-80, 440}};
constexpr FormationPlace kLowerRight3[] = {{620, 540}, {720, 440}, {520, 640}};

constexpr FormationPlace kUpperLeft5[] = {{20, -60}, {80, -120}, {-40, 0}, {140, -180}, {-100, 60}};
constexpr FormationPlace kUpperRight5[] = {{620, -60}, {680, 0}, {560, -120}, {740, 60}, {500, -180}};
constexpr FormationPlace kLowerLeft5[] = {{20, 540}, {80, 600}, {-40, 480}, {140, 660}, {-100, 420}};
constexpr FormationPlace kLowerRight5[] = {{620, 540}, {680, 480}, {560, 600}, {740, 420}, {500, 660}};

constexpr FormationPlace kUpperLeft7[] = {{20, -60},   {70, -110}, {-30, -10}, {120, -160},
                                          {-80, 40},   {170, -210}, {-130, 90}};
constexpr FormationPlace kUpperRight7[] = {{620, -60}, {670, -10}, {570, -110}, {720, 40},
                                           {520, -160}, {770, 90},  {470, -210}};
constexpr FormationPlace kLowerLeft7[] = {{20, 540},  {70, 590},  {-30, 490}, {120, 640},
                                          {-80, 440}, {170, 690}, {-130, 390}};
constexpr FormationPlace kLowerRight7[] = {{620, 540}, {670, 490}, {570, 590}, {720, 440},
                                           {520, 640}, {770, 390}, {470, 690}};
}  // namespace

static void FormationGroup(const FormationPlace* places, int count, int32_t r, bool left, int32_t degrees)
{
    const float a = Deg(degrees);
    for (int i = 0; i < count; ++i) {
        const int32_t x = left ? r + places[i].dx : places[i].dx - r;
        Child(104, static_cast<float>(x), static_cast<float>(places[i].y), a, a);
    }
}

// The enemy's step index says which corners call their groups in; one
// random shift, shared by every group of the firing, mirrors between the
// left and right sides. A ring of children about the field's centre comes
// every time.
static void Formation163(const PatternFrame& f, const Formation& form)
{
    if (!Every(f, 70)) return;
    const int32_t r = Rnd(-40, 40);
    const int32_t s = g_enemies[f.slot].stepIndex;
    if (s == 3 || s == 9 || s == 12) {
        FormationGroup(form.upperLeft, form.count, r, true, 45);
    }
    if (s == 3 || s == 6 || s == 12) {
        FormationGroup(form.upperRight, form.count, r, false, 135);
    }
    if (s == 15) {
        FormationGroup(form.lowerLeft, form.count, r, true, 315);
    }
    // Read afresh: with the enemy table full, the children above can land
    // in the running enemy's own slot.
    if (g_enemies[f.slot].stepIndex == 15) {
        FormationGroup(form.lowerRight, form.count, r, false, 225);
    }
    for (int32_t k = form.ringFrom; k < form.ringTo; k += form.ringStep) {
        const Point q = Along(320.0f, 240.0f, Deg(k), 150.0);
        Child(116, q.x, q.y, Deg(90), Deg(90));
        Effect(12, q.x, q.y);
    }
}

static void Formation163Band0(const PatternFrame& f)
{
    Formation163(f, {kUpperLeft3, kUpperRight3, kLowerLeft3, kLowerRight3, 3, -90, 270, 120});
}

static void Formation163Band1(const PatternFrame& f)
{
    Formation163(f, {kUpperLeft5, kUpperRight5, kLowerLeft5, kLowerRight5, 5, -45, 315, 90});
}

static void Formation163Band2(const PatternFrame& f)
{
    Formation163(f, {kUpperLeft7, kUpperRight7, kLowerLeft7, kLowerRight7, 7, 0, 360, 90});
}

static void Formation163Band3(const PatternFrame& f)
{
    Formation163(f, {kUpperLeft7, kUpperRight7, kLowerLeft7, kLowerRight7, 7, -90, 270, 72});
}

void RegisterChildWaves(PatternTable& t)
{
    t.Set(141, DropIn141Band01);
    t.Set(1141, DropIn141Band01);
    t.Set(2141, DropIn141Band23);
    t.Set(3141, DropIn141Band23);

    t.Set(142, Cross142Band012);
    t.Set(1142, Cross142Band012);
    t.Set(2142, Cross142Band012);
    t.Set(3142, Cross142Band3);

    t.Set(143, Cross143Band012);
    t.Set(1143, Cross143Band012);
    t.Set(2143, Cross143Band012);
    t.Set(3143, Cross143Band3);

    t.Set(144, DropIn144);
    t.Set(1144, DropIn144);
    t.Set(2144, DropIn144);
    t.Set(3144, DropIn144);

    t.Set(145, BackChild145Band012);
    t.Set(1145, BackChild145Band012);
    t.Set(2145, BackChild145Band012);
    t.Set(3145, BackChild145Band3);

    t.Set(146, BackFan146Band012);
    t.Set(1146, BackFan146Band012);
    t.Set(2146, BackFan146Band012);
    t.Set(3146, BackFan146Band3);

    t.Set(147, UpTrio147);
    t.Set(1147, UpTrio147);
    t.Set(2147, UpTrio147);

    t.Set(148, Beams148);
    t.Set(1148, Beams148);
    t.Set(2148, Beams148);
    t.Set(3148, Beams148);

    t.Set(149, Pair149);
    t.Set(1149, Pair149);
    t.Set(2149, Pair149);

    t.Set(150, Fan150Band0);
    t.Set(1150, Fan150Band1);
    t.Set(2150, Fan150Band23);
    t.Set(3150, Fan150Band23);

    t.Set(151, Turning151Band0);
    t.Set(1151, Turning151Band1);
    t.Set(2151, Turning151Band2);
    t.Set(3151, Turning151Band3);

    t.Set(152, Faller152Band0);
    t.Set(1152, Faller152Band1);
    t.Set(2152, Faller152Band2);
    t.Set(3152, Faller152Band3);

    t.Set(153, Volley153Band0);
    t.Set(1153, Volley153Band1);
    t.Set(2153, Volley153Band2);
    t.Set(3153, Volley153Band3);

    t.Set(154, Volley154Band0);
    t.Set(1154, Volley154Band1);
    t.Set(2154, Volley154Band2);
    t.Set(3154, Volley154Band3);

    t.Set(155, Bottom155Band0);
    t.Set(1155, Bottom155Band1);
    t.Set(2155, Bottom155Band2);
    t.Set(3155, Bottom155Band3);

    t.Set(156, Drop156Band01);
    t.Set(1156, Drop156Band01);
    t.Set(2156, Drop156Band2);
    t.Set(3156, Drop156Band3);

    t.Set(157, Beam157);
    t.Set(1157, Beam157);
    t.Set(2157, Beam157);
    t.Set(3157, Beam157);

    t.Set(158, Volley158Band0);
    t.Set(1158, Volley158Band1);
    t.Set(2158, Volley158Band2);
    t.Set(3158, Volley158Band3);

    t.Set(159, MuzzleChild159Band01);
    t.Set(1159, MuzzleChild159Band01);
    t.Set(2159, MuzzleChild159Band2);
    t.Set(3159, MuzzleChild159Band3);

    t.Set(160, Circle160Band0);
    t.Set(1160, Circle160Band1);
    t.Set(2160, Circle160Band2);
    t.Set(3160, Circle160Band3);

    t.Set(161, Flanks161);
    t.Set(1161, Flanks161);
    t.Set(2161, Flanks161);
    t.Set(3161, Flanks161);

    t.Set(162, Beam162);
    t.Set(1162, Beam162);
    t.Set(2162, Beam162);
    t.Set(3162, Beam162);

    t.Set(163, Formation163Band0);
    t.Set(1163, Formation163Band1);
    t.Set(2163, Formation163Band2);
    t.Set(3163, Formation163Band3);
}
