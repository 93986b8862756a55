// Side-gun volleys, offset rings, chevrons and child rings: base ids 35 to 49.
#include "game/patterns/pattern_kit.h"

namespace {

struct Point {
    float x;
    float y;
};

}  // namespace

// The point `radius` pixels from the enemy along `angle`, each coordinate
// rounded as it is formed.
static Point Around(const PatternFrame& f, float radius, float angle)
{
    return {f.x + radius * Cos(angle), f.y + radius * Sin(angle)};
}

// ------------------------------------------------------------------ child rings and arcs

// A child that flies off along the enemy's own aim angle.
static void Child35(const PatternFrame& f)
{
    const float aimAngle = AimAngle(f);
    Child(18, f.x, f.y, aimAngle, aimAngle);
}

// A ring k from 0 while k < 360 by `step` degrees, sprites left unturned.
static void PlainRing(const PatternFrame& f, uint16_t kind, float speed, int step)
{
    for (int k = 0; k < 360; k += step) {
        Fire(f, {.kind = kind, .speed = speed, .heading = Deg(k)});
    }
}

static void Child35Band0(const PatternFrame& f)
{
    if (!Every(f, 18)) return;
    Child35(f);
}

static void Child35Band1(const PatternFrame& f)
{
    if (!Every(f, 18)) return;
    Child35(f);
    PlainRing(f, 1, 2.0f, 60);
}

static void Child35Band2(const PatternFrame& f)
{
    if (!Every(f, 18)) return;
    Child35(f);
    PlainRing(f, 1, 2.0f, 30);
}

static void Child35Band3(const PatternFrame& f)
{
    if (!Every(f, 18)) return;
    Child35(f);
    PlainRing(f, 1, 2.4f, 20);
}

// Children on a circle around the enemy that keep their template's angles.
static void ChildCircle(const PatternFrame& f, int32_t templateId, float radius, int step)
{
    for (int k = 0; k < 360; k += step) {
        const Point p = Around(f, radius, Deg(k));
        Child(templateId, p.x, p.y, 0.0f, 0.0f);
    }
}

static void Circle41Band0(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    ChildCircle(f, 78, 50.0f, 90);
}

static void Circle41Band1(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    ChildCircle(f, 78, 60.0f, 60);
}

static void Circle41Band2(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    ChildCircle(f, 78, 60.0f, 40);
}

static void Circle41Band3(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    ChildCircle(f, 78, 60.0f, 30);
}

// No gate: as an attack id this bursts every frame, as a death id once.
static void Burst43(const PatternFrame& f, float radius, int step)
{
    ChildCircle(f, 79, radius, step);
    Effect(22, f.x, f.y);
}

static void Burst43Band0(const PatternFrame& f)
{
    Burst43(f, 50.0f, 120);
}

static void Burst43Band1(const PatternFrame& f)
{
    Burst43(f, 60.0f, 60);
}

static void Burst43Band2(const PatternFrame& f)
{
    Burst43(f, 80.0f, 36);
}

static void Burst43Band3(const PatternFrame& f)
{
    Burst43(f, 100.0f, 24);
}

// Children leaving the enemy in a star about its aim angle, read once.
static void Star44(const PatternFrame& f, int step)
{
    const float aimAngle = AimAngle(f);
    for (int k = 0; k < 360; k += step) {
        const float a = aimAngle + Deg(k);
        Child(82, f.x, f.y, a, a);
    }
}

static void Star44Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Star44(f, 120);
}

static void Star44Band12(const PatternFrame& f, int step)
{
    if (!Every(f, 15)) return;
    Star44(f, step);
}

static void Star44Band1(const PatternFrame& f)
{
    Star44Band12(f, 120);
}

static void Star44Band2(const PatternFrame& f)
{
    Star44Band12(f, 72);
}

static void Star44Band3(const PatternFrame& f)
{
    if (!Every(f, 12)) return;
    Star44(f, 60);
}

// Children on an arc of an ellipse 150 wide and 50 high, from the right
// through below the enemy to the left, all heading straight down.
static void Arc47(const PatternFrame& f, int from, int to)
{
    for (int k = from; k < to; k += 20) {
        const float a = Deg(k);
        const float cx = f.x + 150.0f * Cos(a);
        const float cy = f.y + 50.0f * Sin(a);
        Child(83, cx, cy, Deg(90), Deg(90));
    }
}

static void Arc47Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Arc47(f, 50, 150);
}

static void Arc47Band12(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Arc47(f, 10, 190);
}

static void Arc47Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Arc47(f, -10, 210);
}

// ------------------------------------------------------------------ side guns

// The gun point 30 pixels beside the enemy, a quarter turn off the aim.
// The aim is taken afresh for each side.
static Point SidePoint(const PatternFrame& f, int quarterTurn)
{
    const float a = Aim(f) + Deg(quarterTurn);
    return Around(f, 30.0f, a);
}

// Three streams from a gun: at the gun's aim, 30 degrees right of it, then
// 30 degrees left; speeds rise by `step` per shot of a stream.
static void Streams36(const PatternFrame& f, Point p, int count, double base, double step)
{
    const float aim = AimFrom(p.x, p.y);
    const float headings[3] = {aim, aim + Deg(30), aim + Deg(-30)};
    for (const float h : headings) {
        for (int i = 0; i < count; ++i) {
            // Counter speeds take double constants at single precision.
            const float speed = F32Add(base, F32Mul(step, static_cast<float>(i)));
            FireFrom(f, p.x, p.y, {.kind = 12, .speed = speed, .heading = h, .A = h});
        }
    }
}

static void Guns36(const PatternFrame& f, int count, double base)
{
    Streams36(f, SidePoint(f, 90), count, base, 0.2);
    Streams36(f, SidePoint(f, -90), count, base, 0.2);
}

// A ring k from `from` while k < `to` by 10 degrees, sprites turned to
// their headings.
static void TurnedRing36(const PatternFrame& f, float speed, int from, int to)
{
    for (int k = from; k < to; k += 10) {
        const float h = Deg(k);
        Fire(f, {.kind = 4, .speed = speed, .heading = h, .A = h});
    }
}

static void Guns36Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Guns36(f, 3, 2.5);
}

static void Guns36Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Guns36(f, 5, 2.5);
}

static void Guns36Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Guns36(f, 8, 2.5);
    TurnedRing36(f, 3.0f, 0, 360);
}

static void Guns36Band3(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Guns36(f, 8, 3.0);
    TurnedRing36(f, 3.6f, 0, 360);
    TurnedRing36(f, 3.0f, 5, 365);
}

// One gun of base id 38: rings about the gun's aim, one per speed, then a
// burst of aimed shots that each draw their own jitter. Every sprite is
// turned to the gun's aim.
static void Gun38(const PatternFrame& f, Point p, int ringStep, const float* ringSpeeds, int rings, int burst)
{
    const float aim = AimFrom(p.x, p.y);
    for (int r = 0; r < rings; ++r) {
        for (int k = 0; k < 360; k += ringStep) {
            FireFrom(f, p.x, p.y, {.kind = 3, .speed = ringSpeeds[r], .heading = aim + Deg(k), .A = aim});
        }
    }
    for (int i = 0; i < burst; ++i) {
        const float speed = F32Add(2.5, F32Mul(0.1, static_cast<float>(i)));
        const float h = aim + Deg(Rnd(-4, 4));
        FireFrom(f, p.x, p.y, {.kind = 5, .speed = speed, .heading = h, .A = aim});
    }
}

static void Guns38(const PatternFrame& f, int ringStep, const float* ringSpeeds, int rings, int burst)
{
    Gun38(f, SidePoint(f, 90), ringStep, ringSpeeds, rings, burst);
    Gun38(f, SidePoint(f, -90), ringStep, ringSpeeds, rings, burst);
}

static void Guns38Band0(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    static constexpr float kSpeeds[] = {2.5f};
    Guns38(f, 30, kSpeeds, 1, 0);
}

static void Guns38Band1(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    static constexpr float kSpeeds[] = {2.0f, 2.2f};
    Guns38(f, 30, kSpeeds, 2, 5);
}

static constexpr float kSpeeds38Band23[] = {2.0f, 2.2f, 2.4f};

static void Guns38Band2(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    Guns38(f, 20, kSpeeds38Band23, 3, 10);
}

static void Guns38Band3(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Guns38(f, 20, kSpeeds38Band23, 3, 10);
}

// ------------------------------------------------------------------ aimed fans and single shots

static void Fan37Band012(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    for (const int d : {0, 30, -30}) {
        Fire(f, {.kind = 2, .speed = 3.0f, .heading = aim + Deg(d)});
    }
}

static void Fan37Band3(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    for (const int d : {0, 30, -30, 60, -60}) {
        Fire(f, {.kind = 2, .speed = 3.2f, .heading = aim + Deg(d)});
    }
}

// One long-lived aimed shot with its sprite along the heading.
static void AimedShot(const PatternFrame& f, uint16_t kind, float speed)
{
    const float aim = Aim(f);
    Fire(f, {.kind = kind, .speed = speed, .heading = aim, .life = 500, .A = aim});
}

static void Shot46Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    AimedShot(f, 1, 2.0f);
}

static void Shot46Band1(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    AimedShot(f, 3, 2.0f);
}

static void Shot46Band23(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    AimedShot(f, 3, 2.4f);
}

static void Shot48Band01(const PatternFrame& f)
{
    if (!Every(f, 5)) return;
    AimedShot(f, 12, 6.0f);
}

static void Shot48Band23(const PatternFrame& f)
{
    if (!Every(f, 4)) return;
    AimedShot(f, 12, 7.0f);
}

// ------------------------------------------------------------------ double rings and the move-angle ring

// Two interleaved rings about the aim, the second offset by half a step.
static void DoubleRing39(const PatternFrame& f, int step, uint16_t firstKind, float firstSpeed, uint16_t secondKind,
                         float secondSpeed)
{
    const float aim = Aim(f);
    for (int k = 0; k < 360; k += step) {
        Fire(f, {.kind = firstKind, .speed = firstSpeed, .heading = aim + Deg(k)});
    }
    const int half = step / 2;
    for (int k = half; k < 360 + half; k += step) {
        Fire(f, {.kind = secondKind, .speed = secondSpeed, .heading = aim + Deg(k)});
    }
}

static void Ring39Band0(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    DoubleRing39(f, 60, 2, 2.2f, 4, 1.8f);
}

static void Ring39Band1(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    DoubleRing39(f, 40, 2, 2.4f, 4, 2.0f);
}

static void Ring39Band2(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    DoubleRing39(f, 30, 4, 2.6f, 6, 2.2f);
}

static void Ring39Band3(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    DoubleRing39(f, 24, 4, 2.8f, 6, 2.4f);
}

// Three shots a third of a turn apart, led by the enemy's move angle.
static void MoveRing42(const PatternFrame& f, uint16_t kind, float speed)
{
    for (int k = 0; k < 360; k += 120) {
        const float h = f.move + Deg(k);
        Fire(f, {.kind = kind, .speed = speed, .heading = h, .A = h});
    }
}

static void Ring42Band01(const PatternFrame& f)
{
    if (!Every(f, 12)) return;
    MoveRing42(f, 2, 2.4f);
}

static void Ring42Band23(const PatternFrame& f)
{
    if (!Every(f, 12)) return;
    MoveRing42(f, 12, 3.0f);
}

// ------------------------------------------------------------------ volleys from points around the enemy

// Each shot is aimed from its own point on a circle around the enemy.
// Returns the last point, whose aim band 3 turns its ring by.
static Point Volley40(const PatternFrame& f, float radius, int bound, int step, float speed)
{
    Point last = {f.x, f.y};
    for (int k = 0; k < bound; k += step) {
        const Point q = Around(f, radius, Deg(k));
        FireFrom(f, q.x, q.y, {.kind = 3, .speed = speed, .heading = AimFrom(q.x, q.y)});
        last = q;
    }
    return last;
}

static void Volley40Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Volley40(f, 30.0f, 360, 120, 3.0f);
}

static void Volley40Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Volley40(f, 30.0f, 360, 90, 3.2f);
}

static void Volley40Band2(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Volley40(f, 40.0f, 360, 72, 3.4f);
}

// The volley stops at k = 180, half a turn short; the ring that follows is
// fired from the enemy but turned by the aim from that last point, the
// one 50 pixels to the enemy's left.
static void Volley40Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    const Point last = Volley40(f, 50.0f, 240, 60, 3.6f);
    for (int k = 0; k < 360; k += 36) {
        Fire(f, {.kind = 1, .speed = 3.0f, .heading = AimFrom(last.x, last.y) + Deg(k)});
    }
}

// ------------------------------------------------------------------ chevrons

// Pairs of shots opening from the aim, minus side first, each pair slower
// than the last so that the arms of the V fall behind its point. The
// sprite turns `spriteStep` degrees per pair while the heading turns
// `headingStep`.
static void Chevron45(const PatternFrame& f, int headingStep, int spriteStep, int pairs)
{
    const float aim = Aim(f);
    for (int n = 0; n < pairs; ++n) {
        const float speed = F32Sub(3.4, F32Mul(0.25, static_cast<float>(n)));
        Fire(f, {.kind = 11, .speed = speed, .heading = aim + Deg(-headingStep * n), .A = aim + Deg(-spriteStep * n)});
        Fire(f, {.kind = 11, .speed = speed, .heading = aim + Deg(headingStep * n), .A = aim + Deg(spriteStep * n)});
    }
}

static void Chevron45Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Chevron45(f, 20, 20, 8);
}

static void Chevron45Band1(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    Chevron45(f, 20, 20, 8);
}

static void Chevron45Band2(const PatternFrame& f)
{
    if (!Every(f, 18)) return;
    Chevron45(f, 20, 20, 8);
}

static void Chevron45Band3(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    Chevron45(f, 15, 18, 10);
}

// ------------------------------------------------------------------ twin rings of two-armed bullets

struct Twin49 {
    int step;           // degrees between the arms of a gun's ring
    uint16_t kind;
    float speed;        // travel of a gun ring's centre, pixels per frame
    float spread;       // growth of a gun ring's radius, pixels per frame
    int centreStep;
    float centreSpeed;
};

// Two guns whose rings travel along mirrored headings that turn 20 degrees
// per firing, then a plain ring from the enemy. The turn comes from the
// clock brought down to a multiple of 20, so a death between firings
// repeats the last firing's orientation.
static void Twin49Body(const PatternFrame& f, const Twin49& p)
{
    const float t = Deg(20 * (f.clock / 20));
    const float left = Deg(160) - t;
    for (int k = 0; k < 360; k += p.step) {
        FireFrom(f, f.x - 50.0f, f.y - 20.0f,
                 {.kind = p.kind, .speed = p.speed, .heading = left, .life = 1000, .dr2 = p.spread, .C = Deg(k) + t});
    }
    const float right = Deg(20) + t;
    for (int k = 0; k < 360; k += p.step) {
        FireFrom(f, f.x + 50.0f, f.y - 20.0f,
                 {.kind = p.kind, .speed = p.speed, .heading = right, .life = 1000, .dr2 = p.spread, .C = Deg(k) + t});
    }
    for (int k = 0; k < 360; k += p.centreStep) {
        const float h = Deg(k);
        Fire(f, {.kind = p.kind, .speed = p.centreSpeed, .heading = h, .life = 500, .A = h});
    }
}

static void Twin49Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Twin49Body(f, {60, 4, 3.0f, 1.0f, 60, 2.0f});
}

static void Twin49Band1(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Twin49Body(f, {36, 4, 3.0f, 1.0f, 36, 2.0f});
}

static void Twin49Band2(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Twin49Body(f, {24, 4, 3.2f, 1.5f, 24, 2.2f});
}

static void Twin49Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Twin49Body(f, {24, 6, 2.8f, 1.5f, 20, 2.0f});
}

void RegisterSideGuns(PatternTable& t)
{
    t.Set(35, Child35Band0);
    t.Set(1035, Child35Band1);
    t.Set(2035, Child35Band2);
    t.Set(3035, Child35Band3);

    t.Set(36, Guns36Band0);
    t.Set(1036, Guns36Band1);
    t.Set(2036, Guns36Band2);
    t.Set(3036, Guns36Band3);

    t.Set(37, Fan37Band012);
    t.Set(1037, Fan37Band012);
    t.Set(2037, Fan37Band012);
    t.Set(3037, Fan37Band3);

    t.Set(38, Guns38Band0);
    t.Set(1038, Guns38Band1);
    t.Set(2038, Guns38Band2);
    t.Set(3038, Guns38Band3);

    t.Set(39, Ring39Band0);
    t.Set(1039, Ring39Band1);
    t.Set(2039, Ring39Band2);
    t.Set(3039, Ring39Band3);

    t.Set(40, Volley40Band0);
    t.Set(1040, Volley40Band1);
    t.Set(2040, Volley40Band2);
    t.Set(3040, Volley40Band3);

    t.Set(41, Circle41Band0);
    t.Set(1041, Circle41Band1);
    t.Set(2041, Circle41Band2);
    t.Set(3041, Circle41Band3);

    t.Set(42, Ring42Band01);
    t.Set(1042, Ring42Band01);
    t.Set(2042, Ring42Band23);
    t.Set(3042, Ring42Band23);

    t.Set(43, Burst43Band0);
    t.Set(1043, Burst43Band1);
    t.Set(2043, Burst43Band2);
    t.Set(3043, Burst43Band3);

    t.Set(44, Star44Band0);
    t.Set(1044, Star44Band1);
    t.Set(2044, Star44Band2);
    t.Set(3044, Star44Band3);

    t.Set(45, Chevron45Band0);
    t.Set(1045, Chevron45Band1);
    t.Set(2045, Chevron45Band2);
    t.Set(3045, Chevron45Band3);

    t.Set(46, Shot46Band0);
    t.Set(1046, Shot46Band1);
    t.Set(2046, Shot46Band23);
    t.Set(3046, Shot46Band23);

    t.Set(47, Arc47Band0);
    t.Set(1047, Arc47Band12);
    t.Set(2047, Arc47Band12);
    t.Set(3047, Arc47Band3);

    t.Set(48, Shot48Band01);
    t.Set(1048, Shot48Band01);
    t.Set(2048, Shot48Band23);
    t.Set(3048, Shot48Band23);

    t.Set(49, Twin49Band0);
    t.Set(1049, Twin49Band1);
    t.Set(2049, Twin49Band2);
    t.Set(3049, Twin49Band3);
}
