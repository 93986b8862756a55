// Bullet volleys, beams and the clock spiral: the bullet patterns of base ids 200 to 231.
#include "game/patterns/pattern_kit.h"

// Straight down the screen, toward the player's side.
static constexpr float kDown = 1.5707964f;

// ------------------------------------------------------------------ pulses

static void Pulse200(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    Sound(11);
}

static void Pulse223(const PatternFrame& f)
{
    if (!EveryStrict(f, 16)) return;
    Effect(24, f.x, f.y);
}

// ------------------------------------------------------------------ move-angle rings, kind by slot

// The enemy in slot 1 fires its own colours; every enemy alternates a
// slower and a faster ring on the beat `beat`.
static void Ring202(const PatternFrame& f, int32_t beat, float onBeatSpeed, float offBeatSpeed, int32_t step)
{
    const float m = f.move;
    const bool onBeat = f.clock % beat == 0;
    const bool lead = f.slot == 1;
    const uint16_t kind = lead ? (onBeat ? 4 : 6) : (onBeat ? 3 : 5);
    const float speed = onBeat ? onBeatSpeed : offBeatSpeed;
    for (int32_t k = 0; k < 360; k += step) {
        Fire(f, {.kind = kind, .speed = speed, .heading = m + Deg(k), .life = 800});
    }
}

static void Ring202Band0(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    Ring202(f, 16, 3.4f, 4.0f, 30);
}

static void Ring202Band1(const PatternFrame& f)
{
    if (!Every(f, 5)) return;
    Ring202(f, 10, 3.6f, 4.2f, 24);
}

static void Ring202Band2(const PatternFrame& f)
{
    if (!Every(f, 5)) return;
    Ring202(f, 10, 4.0f, 4.6f, 18);
}

// ------------------------------------------------------------------ aimed volleys

// A long-lived shot turned to its heading.
static void TurnedShot(const PatternFrame& f, uint16_t kind, int16_t life, float speed, float heading)
{
    Fire(f, {.kind = kind, .speed = speed, .heading = heading, .life = life, .A = heading});
}

static void Volley214Band0(const PatternFrame& f)
{
    if (!EveryStrict(f, 20)) return;
    TurnedShot(f, 11, 800, 2.0f, Aim(f));
}

// Two shots square to the aim angle first, then the one at the player.
static void Volley214(const PatternFrame& f)
{
    if (!EveryStrict(f, 20)) return;
    TurnedShot(f, 11, 800, 2.0f, AimAngle(f) + Deg(90));
    TurnedShot(f, 11, 800, 2.0f, AimAngle(f) - Deg(90));
    TurnedShot(f, 11, 800, 2.0f, Aim(f));
}

// Three groups of three, each group speeding up from 2.5 by 0.2; the
// speed step and base are double constants computed at single precision.
static void Volley216(const PatternFrame& f)
{
    if (!EveryStrict(f, 60)) return;
    const float aim = Aim(f);
    const float headings[] = {aim, aim + Deg(30), aim - Deg(30)};
    for (const float h : headings) {
        for (int32_t n = 0; n < 3; ++n) {
            const float speed = F32Add(F32Mul(static_cast<float>(n), 0.2), 2.5);
            TurnedShot(f, 12, 400, speed, h);
        }
    }
}

static void Ring218(const PatternFrame& f)
{
    if (!At(f, 20)) return;
    const float aim = Aim(f);
    for (int32_t k = 0; k < 360; k += 60) {
        TurnedShot(f, 2, 400, 2.4f, aim + Deg(k));
    }
}

static void Shot225(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    TurnedShot(f, 12, 400, 3.0f, AimAngle(f));
}

static void Shot225Band0(const PatternFrame& f)
{
    Shot225(f, 30);
}

static void Shot225Band1(const PatternFrame& f)
{
    Shot225(f, 20);
}

static void Shot225Band23(const PatternFrame& f)
{
    Shot225(f, 15);
}

// A burst: scattered shots drawn one random offset per bullet, a slow ring
// and three children fanning out about the aim.
static void Burst227(const PatternFrame& f)
{
    if (!At(f, 40)) return;
    const float aim = Aim(f);
    for (const float speed : {2.0f, 2.1f, 2.2f, 2.3f}) {
        Fire(f, {.kind = 4, .speed = speed, .heading = aim + Deg(Rnd(-20, 20))});
    }
    for (const float speed : {2.4f, 2.5f}) {
        Fire(f, {.kind = 6, .speed = speed, .heading = aim + Deg(Rnd(-10, 10))});
    }
    for (int32_t k = 0; k < 360; k += 12) {
        Fire(f, {.kind = 2, .speed = 1.6f, .heading = aim + Deg(k), .life = 1000});
    }
    Child(182, f.x, f.y, aim, aim);
    const float left = aim + Deg(40);
    Child(182, f.x, f.y, left, left);
    const float right = aim - Deg(40);
    Child(182, f.x, f.y, right, right);
}

static void Cross231(const PatternFrame& f, float speed)
{
    if (!At(f, 20)) return;
    const float aim = Aim(f);
    for (int32_t k = 0; k < 360; k += 90) {
        Fire(f, {.kind = 6, .speed = speed, .heading = aim + Deg(k), .life = 1000});
    }
}

static void Cross231Band01(const PatternFrame& f)
{
    Cross231(f, 2.0f);
}

static void Cross231Band23(const PatternFrame& f)
{
    Cross231(f, 2.4f);
}

// ------------------------------------------------------------------ fans around straight down

namespace {
// One bullet of a downward fan: degrees from straight down (negative to the
// other side), and the sprite's own turn where it differs from the heading.
struct DownShot {
    uint16_t kind;
    float speed;
    int32_t degrees;
    bool ownTurn = false;
    int32_t turnDegrees = 0;
};
}  // namespace

static float FromDown(int32_t degrees)
{
    return degrees < 0 ? kDown - Deg(-degrees) : kDown + Deg(degrees);
}

// The +170 and -190 degree bullets coincide on purpose: the pair reads as
// one heavier bullet drifting up the screen.
static void DownFan(const PatternFrame& f, const DownShot* shots, int count)
{
    if (!At(f, 15)) return;
    for (int i = 0; i < count; ++i) {
        const DownShot& s = shots[i];
        const float h = FromDown(s.degrees);
        const float a = s.ownTurn ? FromDown(s.turnDegrees) : h;
        Fire(f, {.kind = s.kind, .speed = s.speed, .heading = h, .life = 800, .A = a});
    }
}

static void Fan210Band0(const PatternFrame& f)
{
    static constexpr DownShot kShots[] = {
        {4, 1.6f, 0}, {3, 1.2f, 20}, {3, 1.2f, -20}, {3, 1.2f, 170}, {3, 1.2f, -190}, {3, 1.2f, -180},
    };
    DownFan(f, kShots, 6);
}

static void Fan210Band1(const PatternFrame& f)
{
    // The two 30-degree bullets are drawn turned only 20 degrees from down.
    static constexpr DownShot kShots[] = {
        {3, 1.8f, 10},
        {3, 1.8f, -10},
        {3, 1.8f, 0},
        {4, 1.4f, 30, true, 20},
        {4, 1.4f, -30, true, -20},
        {4, 1.4f, 170},
        {4, 1.4f, -190},
        {4, 1.4f, -180},
    };
    DownFan(f, kShots, 8);
}

static void Fan210Band2(const PatternFrame& f)
{
    static constexpr DownShot kShots[] = {
        {3, 2.0f, 10}, {3, 2.0f, -10}, {3, 2.0f, 0}, {4, 2.0f, 20}, {4, 2.0f, -20}, {4, 1.6f, 170}, {4, 1.6f, -190},
        {4, 1.6f, -180},
    };
    DownFan(f, kShots, 8);
}

static void Fan210Band3(const PatternFrame& f)
{
    static constexpr DownShot kShots[] = {
        {3, 2.4f, 10},  {3, 2.4f, -10},  {3, 2.4f, 0},   {4, 1.8f, 20},   {4, 1.8f, -20},
        {5, 2.4f, 40},  {5, 2.4f, -40},  {4, 1.8f, 170}, {4, 1.8f, -190}, {4, 1.8f, -180},
    };
    DownFan(f, kShots, 10);
}

// ------------------------------------------------------------------ spreads about the aim angle

namespace {
struct SpreadShot {
    uint16_t kind;
    float speed;
    int32_t degrees;    // from the aim angle
};
}  // namespace

// The aim angle is read anew for every child and bullet: a child that lands
// on the running enemy's own slot (a full table) turns the rest of the spread.
static void SpreadChild(const PatternFrame& f, float angle)
{
    Child(162, f.x, f.y, angle, angle);
}

static void SpreadShots(const PatternFrame& f, const SpreadShot* shots, int count)
{
    for (int i = 0; i < count; ++i) {
        const SpreadShot& s = shots[i];
        Fire(f, {.kind = s.kind, .speed = s.speed, .heading = AimAngle(f) + Deg(s.degrees), .life = 800});
    }
}

// The second child leaves square to the aim angle, a quarter turn given in
// radians rather than degrees.
static void Children206(const PatternFrame& f)
{
    SpreadChild(f, AimAngle(f));
    SpreadChild(f, AimAngle(f) + kDown);
}

static void Children207(const PatternFrame& f)
{
    SpreadChild(f, AimAngle(f));
    SpreadChild(f, AimAngle(f) + Deg(130));
    SpreadChild(f, AimAngle(f) + Deg(270));
}

// The wide spread of the higher bands, every `kPeriod` frames on both paths.
template <int32_t kPeriod, PatternFn kWide>
static void WideEvery(const PatternFrame& f)
{
    if (!EveryStrict(f, kPeriod)) return;
    kWide(f);
}

static void Spread206Band0(const PatternFrame& f)
{
    if (!EveryStrict(f, 17)) return;
    static constexpr SpreadShot kShots[] = {
        {6, 2.0f, 120}, {4, 2.8f, 80}, {4, 2.8f, 320}, {2, 3.2f, 60}, {2, 3.3f, 100}, {2, 3.4f, 170}, {2, 3.6f, 340},
    };
    Children206(f);
    SpreadShots(f, kShots, 7);
}

static void Spread206Wide(const PatternFrame& f)
{
    static constexpr SpreadShot kShots[] = {
        {6, 2.0f, 120}, {6, 2.4f, 240}, {4, 2.8f, 80},  {4, 3.0f, 160}, {4, 2.8f, 320},
        {2, 3.2f, 60},  {2, 3.3f, 100}, {2, 3.4f, 170}, {2, 3.5f, 280}, {2, 3.6f, 340},
    };
    Children206(f);
    SpreadShots(f, kShots, 10);
}

static void Spread207Band0(const PatternFrame& f)
{
    if (!EveryStrict(f, 9)) return;
    static constexpr SpreadShot kShots[] = {
        {6, 2.4f, 120}, {6, 2.8f, 240}, {4, 3.2f, 80}, {4, 3.2f, 320}, {2, 3.6f, 60}, {2, 3.8f, 180}, {2, 4.0f, 340},
    };
    Children207(f);
    SpreadShots(f, kShots, 7);
}

static void Spread207Wide(const PatternFrame& f)
{
    static constexpr SpreadShot kShots[] = {
        {6, 2.4f, 120}, {6, 2.8f, 240}, {4, 3.2f, 80},  {4, 3.4f, 160}, {4, 3.2f, 320},
        {2, 3.6f, 60},  {2, 3.7f, 100}, {2, 3.8f, 180}, {2, 3.9f, 280}, {2, 4.0f, 340},
    };
    Children207(f);
    SpreadShots(f, kShots, 10);
}

// ------------------------------------------------------------------ clock spiral

// The firing angle turns 5 degrees a frame of the step clock and the child
// drifts outward with it, 0.3 pixels a frame (a double constant computed at
// single precision). The effect pulses on its own beat, before the firing
// and whether or not the firing follows.
static void Spiral213(const PatternFrame& f, int32_t period, int32_t templateBeat, float sideSpeed, float backSpeed)
{
    if (EveryStrict(f, 16)) {
        Effect(26, f.x, f.y);
    }
    if (!EveryStrict(f, period)) return;
    const float theta = Deg(5 * f.clock);
    const float clock = static_cast<float>(f.clock);
    const float cx = F32Mul(Cos(theta) * clock, 0.3) + f.x;
    const float cy = F32Mul(Sin(theta) * clock, 0.3) + f.y;
    Child(f.clock % templateBeat == 0 ? 169 : 170, cx, cy, theta, theta);
    TurnedShot(f, 1, 800, sideSpeed, theta + Deg(90));
    TurnedShot(f, 1, 800, sideSpeed, theta - Deg(90));
    TurnedShot(f, 3, 800, backSpeed, theta - Deg(180));
    TurnedShot(f, 5, 800, backSpeed, theta);
}

static void Spiral213Band0(const PatternFrame& f)
{
    Spiral213(f, 8, 16, 2.0f, 2.6f);
}

static void Spiral213Band1(const PatternFrame& f)
{
    Spiral213(f, 6, 12, 2.4f, 3.0f);
}

static void Spiral213Band2(const PatternFrame& f)
{
    Spiral213(f, 5, 10, 2.4f, 3.0f);
}

static void Spiral213Band3(const PatternFrame& f)
{
    Spiral213(f, 4, 8, 2.4f, 3.0f);
}

// ------------------------------------------------------------------ beams

// A standing bullet: no speed, gone after one frame, laid again next call.
static void Standing(const PatternFrame& f, uint16_t kind, float x0, float y0)
{
    FireFrom(f, x0, y0, {.kind = kind, .speed = 0.0f, .heading = 0.0f, .life = 1});
}

// A muzzle child 240 pixels out along the aim angle charges until clock 70,
// then a 40-bullet beam stands from 20 to 488 pixels out. Position and aim
// come from the record at each use, so a muzzle child that takes the
// running enemy's own slot (a full table) moves the beam with it.
static void Beam209(const PatternFrame& f)
{
    const EnemyRecord& self = g_enemies[f.slot];
    float a = self.aimAngle;
    const float px = Cos(a) * 240.0f + self.x;
    const float py = Sin(a) * 240.0f + self.y;
    if (f.clock < 70) {
        Child(165, px, py, a, a);
        return;
    }
    Child(f.clock % 2 == 0 ? 166 : 167, px, py, a, a);
    a = self.aimAngle;
    const float c = Cos(a);
    const float s = Sin(a);
    const float x = self.x;
    const float y = self.y;
    for (int32_t k = -20; k < 20; ++k) {
        const float kf = static_cast<float>(k);
        Standing(f, 21, c * 260.0f + x + c * kf * 12.0f, s * 260.0f + y + s * kf * 12.0f);
    }
}

// A short bar of seven standing bullets through the enemy along its aim angle.
static void Bar221(const PatternFrame& f)
{
    const EnemyRecord& self = g_enemies[f.slot];
    const float c = Cos(self.aimAngle);
    const float s = Sin(self.aimAngle);
    for (int32_t k = -3; k < 4; ++k) {
        const float kf = static_cast<float>(k);
        Standing(f, 22, c * kf * 10.0f + self.x, s * kf * 10.0f + self.y);
    }
}

void RegisterBulletVolleys(PatternTable& t)
{
    for (int band = 0; band < 4; ++band) {
        const int b = 1000 * band;
        t.Set(b + 200, Pulse200);
        t.Set(b + 223, Pulse223);
        t.Set(b + 209, Beam209);
        t.Set(b + 221, Bar221);
        t.Set(b + 218, Ring218);
    }

    t.Set(202, Ring202Band0);
    t.Set(1202, Ring202Band1);
    t.Set(2202, Ring202Band2);

    t.Set(206, Spread206Band0);
    t.Set(1206, WideEvery<15, Spread206Wide>);
    t.Set(2206, WideEvery<12, Spread206Wide>);
    t.Set(3206, WideEvery<10, Spread206Wide>);

    t.Set(207, Spread207Band0);
    t.Set(1207, WideEvery<8, Spread207Wide>);
    t.Set(2207, WideEvery<6, Spread207Wide>);
    t.Set(3207, WideEvery<5, Spread207Wide>);

    t.Set(210, Fan210Band0);
    t.Set(1210, Fan210Band1);
    t.Set(2210, Fan210Band2);
    t.Set(3210, Fan210Band3);

    t.Set(213, Spiral213Band0);
    t.Set(1213, Spiral213Band1);
    t.Set(2213, Spiral213Band2);
    t.Set(3213, Spiral213Band3);

    t.Set(214, Volley214Band0);
    t.Set(1214, Volley214);
    t.Set(2214, Volley214);
    t.Set(3214, Volley214);

    t.Set(216, Volley216);

    t.Set(225, Shot225Band0);
    t.Set(1225, Shot225Band1);
    t.Set(2225, Shot225Band23);
    t.Set(3225, Shot225Band23);

    t.Set(227, Burst227);

    t.Set(231, Cross231Band01);
    t.Set(1231, Cross231Band01);
    t.Set(2231, Cross231Band23);
    t.Set(3231, Cross231Band23);
}
