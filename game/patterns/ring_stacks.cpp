// Rings, stacks, streams and one-frame beams: the bullet patterns of base ids 111 to 140.
#include "game/patterns/pattern_kit.h"

// ------------------------------------------------------------------ rings

// A ring k from 0 while k < 360 by `step` degrees about `base`.
static void Ring(const PatternFrame& f, uint16_t kind, int16_t life, float speed, float base, int32_t step)
{
    for (int32_t k = 0; k < 360; k += step) {
        Fire(f, {.kind = kind, .speed = speed, .heading = base + Deg(k), .life = life});
    }
}

static void Ring111Band0(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    Ring(f, 1, 800, 2.4f, Aim(f), 30);
}

static void Ring111Band1(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    Ring(f, 1, 800, 2.6f, Aim(f), 24);
}

static void Ring111Band2(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    Ring(f, 1, 800, 2.8f, f.move, 20);
}

static void Ring118Band0(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    Ring(f, 3, 800, 1.4f, Aim(f), 36);
}

static void Ring118Band1(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    Ring(f, 3, 800, 1.4f, Aim(f), 30);
}

static void Ring118Band23(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    Ring(f, 3, 800, 1.4f, f.move, 30);
}

static void Ring127(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Ring(f, 3, 800, 1.8f, Aim(f), 30);
}

// ------------------------------------------------------------------ stars with a turning phase

static void Star129Band0(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Ring(f, 7, 400, 2.8f, Aim(f), 72);
}

// The star turns by 36 degrees, half its spacing, on every other firing,
// so that consecutive stars interleave. The death path decides by the
// clock at death like any other call.
static void TurningStar129(const PatternFrame& f, int32_t turnPeriod, float speed)
{
    float a = Aim(f);
    if (f.clock % turnPeriod == 0) {
        a = a + Deg(36);
    }
    Ring(f, 7, 400, speed, a, 72);
}

static void Star129Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    TurningStar129(f, 60, 2.8f);
}

static void Star129Band2(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    TurningStar129(f, 50, 2.8f);
}

static void Star129Band3(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    TurningStar129(f, 50, 3.6f);
}

// A lead bullet on the (possibly turned) aim, then the rest of the star in
// another kind, starting one step past the lead.
static void Star136(const PatternFrame& f, uint16_t leadKind, int32_t step)
{
    float a = Aim(f);
    if (f.clock % 30 == 0) {
        a = a + Deg(20);
    }
    Fire(f, {.kind = leadKind, .speed = 1.2f, .heading = a + Deg(0)});
    for (int32_t k = step; k < 360; k += step) {
        Fire(f, {.kind = 2, .speed = 1.2f, .heading = a + Deg(k)});
    }
}

static void Star136Band12(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Star136(f, 1, 60);
}

static void Star136Band3(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Star136(f, 3, 40);
}

// ------------------------------------------------------------------ stacks on the move angle

namespace {
struct StackShot {
    uint16_t kind;
    float speed;
};
}  // namespace

// Bullets on one heading with rising speeds fly out as a short column.
static void Stack(const PatternFrame& f, const StackShot* shots, int count)
{
    for (int i = 0; i < count; ++i) {
        Fire(f, {.kind = shots[i].kind, .speed = shots[i].speed, .heading = f.move});
    }
}

static void Stack116Band0(const PatternFrame& f)
{
    if (!Every(f, 6)) return;
    static constexpr StackShot kShots[] = {{1, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    Stack(f, kShots, 3);
}

static void Stack116Band1(const PatternFrame& f)
{
    if (!Every(f, 4)) return;
    static constexpr StackShot kShots[] = {{1, 3.8f}, {1, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    Stack(f, kShots, 4);
}

static void Stack116Band2(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    static constexpr StackShot kShots[] = {{1, 3.6f}, {1, 3.8f}, {3, 4.0f}, {3, 4.3f}, {5, 4.6f}};
    Stack(f, kShots, 5);
}

// ------------------------------------------------------------------ vertical streams

// A column of `count` bullets on one heading, sprites turned to it; the
// speed rises by 0.1 per bullet, base and step being double constants
// computed at single precision.
static void Column(const PatternFrame& f, int32_t count, double baseSpeed, int32_t degrees)
{
    const float heading = Deg(degrees);
    for (int32_t n = 0; n < count; ++n) {
        const float speed = F32Add(baseSpeed, F32Mul(static_cast<float>(n), 0.1));
        Fire(f, {.kind = 11, .speed = speed, .heading = heading, .A = heading});
    }
}

static void Stream140(const PatternFrame& f, int32_t period, int32_t count)
{
    if (!Every(f, period)) return;
    Column(f, count, 2.8, 90);
    Column(f, count, 2.8, 270);
}

static void Stream140Band0(const PatternFrame& f)
{
    Stream140(f, 30, 2);
}

static void Stream140Band1(const PatternFrame& f)
{
    Stream140(f, 20, 3);
}

static void Stream140Band2(const PatternFrame& f)
{
    Stream140(f, 15, 5);
}

static void Stream140Band3(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    Column(f, 6, 3.4, 90);
    Column(f, 4, 2.8, 270);
    Column(f, 4, 2.8, 110);
    Column(f, 4, 2.8, 70);
}

// ------------------------------------------------------------------ long-lived pairs

// Two bullets square to the move angle, one each side; they live until
// they cross the field's bounds.
static void Pair131(const PatternFrame& f, uint16_t kind, float speed)
{
    if (!EveryStrict(f, 15)) return;
    const float h = f.move + 1.5707964f;
    Fire(f, {.kind = kind, .speed = speed, .heading = h, .life = 10000});
    Fire(f, {.kind = kind, .speed = speed, .heading = h + 3.1415927f, .life = 10000});
}

static void Pair131Band01(const PatternFrame& f)
{
    Pair131(f, 1, 1.5f);
}

static void Pair131Band23(const PatternFrame& f)
{
    Pair131(f, 3, 1.8f);
}

// ------------------------------------------------------------------ stars with a growing arm

// One star of five drifting along the move angle while its second arm
// opens toward m + k degrees.
static void GrowingStar(const PatternFrame& f, uint16_t kind, float speed, float m, int32_t from)
{
    for (int32_t k = from; k < from + 360; k += 72) {
        Fire(f, {.kind = kind, .speed = speed, .heading = m, .life = 1000, .dr2 = 1.0f, .C = m + Deg(k)});
    }
}

static void Stars135(const PatternFrame& f, float speed, int32_t spread)
{
    if (!EveryStrict(f, 100)) return;
    const float m = f.move;
    GrowingStar(f, 4, speed, m, spread);
    GrowingStar(f, 6, speed, m, 0);
    GrowingStar(f, 4, speed, m, -spread);
}

static void Stars135Band2(const PatternFrame& f)
{
    Stars135(f, 1.2f, 4);
}

static void Stars135Band3(const PatternFrame& f)
{
    Stars135(f, 1.5f, 6);
}

// ------------------------------------------------------------------ orbiting clusters

// Five bullets circle a sixth at 16 pixels while the cluster curves back
// toward the aim from one side; the side alternates every firing.
static void Cluster130(const PatternFrame& f)
{
    if (!EveryStrict(f, 5)) return;
    const int32_t r = Rnd(10, 60);
    float a = 0.0f;
    float t = 0.0f;
    if (f.clock % 10 == 0) {
        a = Aim(f) + Deg(r);
        t = -0.006f;
    } else {
        a = Aim(f) - Deg(r);
        t = 0.006f;
    }
    for (int32_t k = 0; k < 360; k += 72) {
        Fire(f, {.kind = 8, .speed = 4.4f, .heading = a, .life = 800, .dB = t, .r2 = 16.0f, .C = Deg(k), .dC = 0.02f});
    }
    Fire(f, {.kind = 10, .speed = 4.4f, .heading = a, .life = 800, .dB = t});
}

// ------------------------------------------------------------------ one-frame beams

// A cross of four arms about the enemy, turning with its aim angle: each
// bullet lives one frame and the next call lays the cross again.
static void Cross122(const PatternFrame& f, int32_t rFrom, int32_t rTo, int32_t rStep)
{
    const float a = AimAngle(f);
    for (int32_t k = 0; k < 360; k += 90) {
        const float c = a + Deg(k);
        for (int32_t r = rFrom; r < rTo; r += rStep) {
            Fire(f, {.kind = 4, .speed = 0.0f, .heading = a, .life = 1, .r2 = static_cast<float>(r), .C = c});
        }
    }
}

static void Cross122Band01(const PatternFrame& f)
{
    Cross122(f, 58, 98, 8);
}

static void Cross122Band2(const PatternFrame& f)
{
    Cross122(f, 62, 122, 12);
}

static void Cross122Band3(const PatternFrame& f)
{
    Cross122(f, 66, 146, 16);
}

// Children gather 260 pixels ahead of the enemy; from the clock `beamFrom`
// on, a beam of still one-frame bullets runs through that point along the
// aim angle, announced once by a sound on its first frame.
static void Beam137(const PatternFrame& f, int32_t beamFrom)
{
    const float a = AimAngle(f);
    const float c = Cos(a);
    const float s = Sin(a);
    const float mx = f.x + F32Mul(260.0, c);
    const float my = f.y + F32Mul(260.0, s);
    if (f.clock < beamFrom) {
        Child(63, mx, my, a, a);
    } else {
        Child(f.clock % 2 == 0 ? 64 : 65, mx, my, a, a);
        for (int32_t n = -30; n < 30; ++n) {
            const float along = static_cast<float>(n * 8);
            FireFrom(f, mx + along * c, my + along * s, {.kind = 21, .speed = 0.0f, .heading = 0.0f, .life = 1});
        }
    }
    if (f.clock == beamFrom) {
        Sound(14);
    }
}

static void Beam137Band01(const PatternFrame& f)
{
    Beam137(f, 100);
}

static void Beam137Band23(const PatternFrame& f)
{
    Beam137(f, 60);
}

void RegisterRingStacks(PatternTable& t)
{
    t.Set(111, Ring111Band0);
    t.Set(1111, Ring111Band1);
    t.Set(2111, Ring111Band2);

    t.Set(116, Stack116Band0);
    t.Set(1116, Stack116Band1);
    t.Set(2116, Stack116Band2);

    t.Set(118, Ring118Band0);
    t.Set(1118, Ring118Band1);
    t.Set(2118, Ring118Band23);
    t.Set(3118, Ring118Band23);

    t.Set(122, Cross122Band01);
    t.Set(1122, Cross122Band01);
    t.Set(2122, Cross122Band2);
    t.Set(3122, Cross122Band3);

    t.Set(127, Ring127);
    t.Set(1127, Ring127);
    t.Set(2127, Ring127);
    t.Set(3127, Ring127);

    t.Set(129, Star129Band0);
    t.Set(1129, Star129Band1);
    t.Set(2129, Star129Band2);
    t.Set(3129, Star129Band3);

    t.Set(130, Cluster130);
    t.Set(1130, Cluster130);
    t.Set(2130, Cluster130);

    t.Set(131, Pair131Band01);
    t.Set(1131, Pair131Band01);
    t.Set(2131, Pair131Band23);
    t.Set(3131, Pair131Band23);

    t.Set(2135, Stars135Band2);
    t.Set(3135, Stars135Band3);

    t.Set(1136, Star136Band12);
    t.Set(2136, Star136Band12);
    t.Set(3136, Star136Band3);

    t.Set(137, Beam137Band01);
    t.Set(1137, Beam137Band01);
    t.Set(2137, Beam137Band23);
    t.Set(3137, Beam137Band23);

    t.Set(140, Stream140Band0);
    t.Set(1140, Stream140Band1);
    t.Set(2140, Stream140Band2);
    t.Set(3140, Stream140Band3);
}
