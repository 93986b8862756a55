// Child drops, side entries and edge ambushes: the child patterns of base ids 111 to 140.
#include "game/patterns/pattern_kit.h"

namespace {
struct Point {
    float x;
    float y;
};
}  // namespace

// The point `d` pixels ahead along the aim angle `a`; the distance is a
// double constant, so each product is rounded once to f32.
static Point Muzzle(const PatternFrame& f, float a, double d)
{
    return {f.x + F32Mul(d, Cos(a)), f.y + F32Mul(d, Sin(a))};
}

// ------------------------------------------------------------------ corner pairs

// Two children from opposite corners, crossing the field toward each other.
static void CornerPair112(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Child(39, 120.0f, 0.0f, Deg(90), Deg(90));
    Child(39, 520.0f, 480.0f, Deg(270), Deg(270));
}

// The second child keeps its template's own angles.
static void CornerPair113(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Child(29, 520.0f, 0.0f, Deg(180), Deg(180));
    Child(29, 120.0f, 480.0f, 0.0f, 0.0f);
}

// ------------------------------------------------------------------ single children from the enemy

// Turns 10 degrees per frame of the clock; at clock 0 (the death path) the
// angle is exactly 0.0 and the template's own is used.
static void TurningChild114(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    const float a = Deg(10 * f.clock);
    Child(24, f.x, f.y, a, a);
}

static void TurningChild114Band0(const PatternFrame& f)
{
    TurningChild114(f, 12);
}

static void TurningChild114Band1(const PatternFrame& f)
{
    TurningChild114(f, 8);
}

static void TurningChild114Band2(const PatternFrame& f)
{
    TurningChild114(f, 5);
}

static void DownChild117(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    Child(34, f.x, f.y, Deg(90), Deg(90));
}

static void DownChild117Band0(const PatternFrame& f)
{
    DownChild117(f, 50);
}

static void DownChild117Band1(const PatternFrame& f)
{
    DownChild117(f, 40);
}

static void DownChild117Band2(const PatternFrame& f)
{
    DownChild117(f, 30);
}

// Toward the player with a random spread.
static void SpreadChild121(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    const int32_t r = Rnd(-30, 30);
    const float a = Aim(f) + Deg(r);
    Child(41, f.x, f.y, a, a);
}

static void SpreadChild121Band0(const PatternFrame& f)
{
    SpreadChild121(f, 50);
}

static void SpreadChild121Band1(const PatternFrame& f)
{
    SpreadChild121(f, 40);
}

static void SpreadChild121Band23(const PatternFrame& f)
{
    SpreadChild121(f, 30);
}

// ------------------------------------------------------------------ groups of children

// Two pairs rising beside the enemy, each pair on its own random tilt; the
// second sound request of the frame starts nothing, which is harmless.
static void RisingPairs123(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    for (int pair = 0; pair < 2; ++pair) {
        const int32_t r = Rnd(-40, 40);
        const float a = Deg(270 + r);
        Child(43, f.x + 30.0f, f.y - 40.0f, a, a);
        Child(43, f.x - 30.0f, f.y - 40.0f, a, a);
        Sound(10);
    }
}

// Two templates on one random point; X is drawn before Y.
static void PointPair126(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    const float px = static_cast<float>(Rnd(140, 500));
    const float py = static_cast<float>(Rnd(20, 460));
    Child(44, px, py, Deg(90), 0.0f);
    Child(45, px, py, Deg(90), 0.0f);
    Sound(11);
}

static void PointPair126Band0(const PatternFrame& f)
{
    PointPair126(f, 12);
}

static void PointPair126Band1(const PatternFrame& f)
{
    PointPair126(f, 8);
}

static void PointPair126Band2(const PatternFrame& f)
{
    PointPair126(f, 6);
}

static void PointPair126Band3(const PatternFrame& f)
{
    PointPair126(f, 4);
}

// A half circle of children over the upper side, 180 to 360 inclusive.
static void HalfCircle139(const PatternFrame& f, int32_t step)
{
    if (!Every(f, 2)) return;
    for (int32_t k = 180; k <= 360; k += step) {
        Child(10, f.x, f.y, Deg(k), Deg(k));
    }
}

static void HalfCircle139Band01(const PatternFrame& f)
{
    HalfCircle139(f, 30);
}

static void HalfCircle139Band2(const PatternFrame& f)
{
    HalfCircle139(f, 15);
}

static void HalfCircle139Band3(const PatternFrame& f)
{
    HalfCircle139(f, 10);
}

// ------------------------------------------------------------------ side entries

// A template-43 child at a random height: from the right edge heading left
// when the clock is a multiple of `rightEvery`, else from the left edge with
// its template's own angles.
static void SideChild(const PatternFrame& f, int32_t rightEvery)
{
    if (f.clock % rightEvery != 0) {
        Child(43, 100.0f, static_cast<float>(Rnd(0, 480)), 0.0f, 0.0f);
    } else {
        Child(43, 540.0f, static_cast<float>(Rnd(0, 480)), Deg(180), Deg(180));
    }
}

static void Side124Band0(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    SideChild(f, 20);
}

static void Side124Band1(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    SideChild(f, 16);
}

static void Side124Band2(const PatternFrame& f)
{
    if (!Every(f, 4)) return;
    SideChild(f, 8);
}

static void Side124Band3(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    SideChild(f, 6);
}

// Two independent strict beats: the side entry, and on a longer beat a
// child at the muzzle with a ring of bullets from the same point.
static void Side125(const PatternFrame& f, int32_t sidePeriod, int32_t ringPeriod, int32_t ringStep, uint16_t ringKind)
{
    if (EveryStrict(f, sidePeriod)) {
        SideChild(f, 2 * sidePeriod);
    }
    if (EveryStrict(f, ringPeriod)) {
        const float a = AimAngle(f);
        const Point m = Muzzle(f, a, 26.0);
        Child(95, m.x, m.y, a, a);
        for (int32_t k = 0; k < 360; k += ringStep) {
            FireFrom(f, m.x, m.y, {.kind = ringKind, .speed = 1.8f, .heading = Deg(k), .life = 800});
        }
        Sound(12);
    }
}

static void Side125Band0(const PatternFrame& f)
{
    Side125(f, 14, 120, 30, 3);
}

static void Side125Band1(const PatternFrame& f)
{
    Side125(f, 10, 80, 24, 3);
}

static void Side125Band2(const PatternFrame& f)
{
    Side125(f, 7, 60, 20, 3);
}

static void Side125Band3(const PatternFrame& f)
{
    Side125(f, 6, 40, 15, 5);
}

// ------------------------------------------------------------------ cycling children with rings

namespace {
struct RingPair {
    int32_t ringEvery;      // clock multiple that adds the rings
    int32_t step;           // degrees between bullets of one ring
    int32_t offset;         // start of the second ring, between the first's bullets
    float innerSpeed;       // kind 7
    float outerSpeed;       // kind 8
};
}  // namespace

// A child square to the move angle whose template cycles with the firing
// count; on some firings two interleaved rings about the aim follow.
static void Cycling119(const PatternFrame& f, int32_t period, const RingPair& rings)
{
    if (!Every(f, period)) return;
    const float aim = Aim(f);
    // A negative clock (a step longer than 32767 frames) picks no template.
    static constexpr int32_t kTemplates[] = {147, 146, 37, 36};
    const int32_t q = (f.clock / period) % 4;
    const float side = f.move - Deg(90);
    if (q >= 0) {
        Child(kTemplates[q], f.x, f.y, side, side);
    }
    if (f.clock % rings.ringEvery != 0) return;
    for (int32_t k = 0; k < 360; k += rings.step) {
        Fire(f, {.kind = 7, .speed = rings.innerSpeed, .heading = aim + Deg(k), .life = 800});
    }
    for (int32_t k = rings.offset; k < 360 + rings.offset; k += rings.step) {
        Fire(f, {.kind = 8, .speed = rings.outerSpeed, .heading = aim + Deg(k), .life = 800});
    }
}

static void Cycling119Band0(const PatternFrame& f)
{
    Cycling119(f, 15, {45, 36, 18, 2.0f, 1.6f});
}

static void Cycling119Band1(const PatternFrame& f)
{
    Cycling119(f, 10, {40, 24, 12, 2.0f, 1.6f});
}

static void Cycling119Band2(const PatternFrame& f)
{
    Cycling119(f, 10, {40, 15, 7, 2.0f, 1.6f});
}

static void Cycling119Band3(const PatternFrame& f)
{
    Cycling119(f, 10, {30, 12, 6, 2.4f, 1.8f});
}

// ------------------------------------------------------------------ fans of five children

// Five children spread about the direction away from the player.
static void ChildFan120(const PatternFrame& f, float aim)
{
    struct FanChild {
        int32_t templateId;
        int32_t degrees;
    };
    static constexpr FanChild kChildren[] = {{38, 140}, {94, 160}, {38, 220}, {93, 200}, {39, 180}};
    for (const FanChild& c : kChildren) {
        const float a = aim + Deg(c.degrees);
        Child(c.templateId, f.x, f.y - 10.0f, a, a);
    }
}

static void ChildFan120Band0(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    ChildFan120(f, Aim(f));
}

static void ChildFan120Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    ChildFan120(f, Aim(f));
}

static void ChildFan120Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    ChildFan120(f, aim);
    for (int32_t k = -120; k < 120; k += 20) {
        const float h = aim + Deg(k);
        Fire(f, {.kind = 11, .speed = 2.4f, .heading = h, .life = 800, .A = h});
    }
}

// Alternate bullets of the fan are faster, so the fan arrives in two waves.
static void ChildFan120Band3(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    const float aim = Aim(f);
    ChildFan120(f, aim);
    int32_t n = 0;
    for (int32_t k = -160; k < 160; k += 20, ++n) {
        const float h = aim + Deg(k);
        Fire(f, {.kind = 11, .speed = n % 2 == 0 ? 2.8f : 3.2f, .heading = h, .life = 800, .A = h});
    }
}

// ------------------------------------------------------------------ child streams with fans

namespace {
struct StreamFan {
    int32_t childEvery;
    int32_t fanEvery;
    int32_t wideEvery;      // clock multiple that picks the wide fan
    int32_t wideFrom, wideTo, wideStep;
    int32_t narrowFrom, narrowTo, narrowStep;
    float speed;
};
}  // namespace

// A child on the aim angle each firing; on the longer beat a sound and a
// fan about the same angle whose width alternates.
static void Stream128(const PatternFrame& f, const StreamFan& s)
{
    if (!Every(f, s.childEvery)) return;
    const float a = AimAngle(f);
    Child(47, f.x, f.y, a, a);
    if (!Every(f, s.fanEvery)) return;
    Sound(10);
    const bool wide = f.clock % s.wideEvery == 0;
    const int32_t from = wide ? s.wideFrom : s.narrowFrom;
    const int32_t to = wide ? s.wideTo : s.narrowTo;
    const int32_t step = wide ? s.wideStep : s.narrowStep;
    for (int32_t k = from; k < to; k += step) {
        Fire(f, {.kind = 5, .speed = s.speed, .heading = a + Deg(k)});
    }
}

static void Stream128Band0(const PatternFrame& f)
{
    Stream128(f, {12, 36, 72, -40, 60, 20, -30, 50, 20, 3.4f});
}

static void Stream128Band1(const PatternFrame& f)
{
    Stream128(f, {8, 32, 64, -40, 60, 20, -30, 50, 20, 3.4f});
}

static void Stream128Band2(const PatternFrame& f)
{
    Stream128(f, {8, 24, 48, -40, 60, 20, -30, 50, 20, 3.4f});
}

static void Stream128Band3(const PatternFrame& f)
{
    Stream128(f, {8, 24, 48, -60, 75, 15, -50, 70, 20, 3.8f});
}

// ------------------------------------------------------------------ edge ambushes

// Children in line with the player from one of the four edges, the edge
// chosen by the first clock test that holds; a flash marks each arrival.
static void EdgeAmbush132(const PatternFrame& f)
{
    if (!EveryStrict(f, 30)) return;
    if (f.clock % 120 == 0) {
        Child(48, g_player.x, 0.0f, Deg(90), Deg(90));
        Effect(12, g_player.x, 0.0f);
    } else if (f.clock % 90 == 0) {
        Child(49, 120.0f, g_player.y, 0.0f, 0.0f);
        Effect(12, 120.0f, g_player.y);
    } else if (f.clock % 60 == 0) {
        Child(48, g_player.x, 480.0f, Deg(270), Deg(270));
        Effect(12, g_player.x, 480.0f);
    } else {
        Child(49, 520.0f, g_player.y, Deg(180), Deg(180));
        Effect(12, 520.0f, g_player.y);
    }
}

// A child at a corner aimed at the player, and a second in line with the
// player on an edge, sharing the corner's aim.
static void CornerAmbush133(const PatternFrame& f)
{
    if (!EveryStrict(f, 50)) return;
    if (f.clock % 200 == 0) {
        const float t = AimFrom(120.0f, 0.0f);
        Child(175, 120.0f, 0.0f, t, t);
        Child(176, g_player.x, 480.0f, t, Deg(270));
        Effect(12, g_player.x, 480.0f);
    } else if (f.clock % 150 == 0) {
        const float t = AimFrom(120.0f, 480.0f);
        Child(175, 120.0f, 480.0f, t, t);
        Child(176, 520.0f, g_player.y, t, Deg(180));
        Effect(12, 520.0f, g_player.y);
    } else if (f.clock % 100 == 0) {
        const float t = AimFrom(520.0f, 480.0f);
        Child(175, 520.0f, 480.0f, t, t);
        Child(176, g_player.x, 0.0f, t, Deg(90));
        Effect(12, g_player.x, 0.0f);
    } else {
        const float t = AimFrom(520.0f, 0.0f);
        Child(175, 520.0f, 0.0f, t, t);
        Child(176, 120.0f, g_player.y, t, 0.0f);
        Effect(12, 120.0f, g_player.y);
    }
}

void RegisterChildDrops(PatternTable& t)
{
    t.Set(112, CornerPair112);
    t.Set(1112, CornerPair112);
    t.Set(2112, CornerPair112);

    t.Set(113, CornerPair113);
    t.Set(1113, CornerPair113);
    t.Set(2113, CornerPair113);

    t.Set(114, TurningChild114Band0);
    t.Set(1114, TurningChild114Band1);
    t.Set(2114, TurningChild114Band2);

    t.Set(117, DownChild117Band0);
    t.Set(1117, DownChild117Band1);
    t.Set(2117, DownChild117Band2);

    t.Set(119, Cycling119Band0);
    t.Set(1119, Cycling119Band1);
    t.Set(2119, Cycling119Band2);
    t.Set(3119, Cycling119Band3);

    t.Set(120, ChildFan120Band0);
    t.Set(1120, ChildFan120Band1);
    t.Set(2120, ChildFan120Band2);
    t.Set(3120, ChildFan120Band3);

    t.Set(121, SpreadChild121Band0);
    t.Set(1121, SpreadChild121Band1);
    t.Set(2121, SpreadChild121Band23);
    t.Set(3121, SpreadChild121Band23);

    t.Set(123, RisingPairs123);
    t.Set(1123, RisingPairs123);
    t.Set(2123, RisingPairs123);
    t.Set(3123, RisingPairs123);

    t.Set(124, Side124Band0);
    t.Set(1124, Side124Band1);
    t.Set(2124, Side124Band2);
    t.Set(3124, Side124Band3);

    t.Set(125, Side125Band0);
    t.Set(1125, Side125Band1);
    t.Set(2125, Side125Band2);
    t.Set(3125, Side125Band3);

    t.Set(126, PointPair126Band0);
    t.Set(1126, PointPair126Band1);
    t.Set(2126, PointPair126Band2);
    t.Set(3126, PointPair126Band3);

    t.Set(128, Stream128Band0);
    t.Set(1128, Stream128Band1);
    t.Set(2128, Stream128Band2);
    t.Set(3128, Stream128Band3);

    t.Set(132, EdgeAmbush132);
    t.Set(1132, EdgeAmbush132);
    t.Set(2132, EdgeAmbush132);

    t.Set(133, CornerAmbush133);
    t.Set(1133, CornerAmbush133);
    t.Set(2133, CornerAmbush133);
    t.Set(134, CornerAmbush133);
    t.Set(1134, CornerAmbush133);
    t.Set(2134, CornerAmbush133);
    t.Set(3134, CornerAmbush133);

    t.Set(139, HalfCircle139Band01);
    t.Set(1139, HalfCircle139Band01);
    t.Set(2139, HalfCircle139Band2);
    t.Set(3139, HalfCircle139Band3);
}
