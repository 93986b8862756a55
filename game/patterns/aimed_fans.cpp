// Aimed fans, spreads and rings: the plainest patterns, base ids 1 to 12.
#include "game/patterns/pattern_kit.h"

// ------------------------------------------------------------------ aimed fans

static void FanOffsets(const PatternFrame& f, uint16_t kind, float speed, float aim, const int* offsets, int count)
{
    for (int i = 0; i < count; ++i) {
        Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(offsets[i])});
    }
}

static constexpr int kCentreOut[] = {0, -20, 20, -40, 40, -60, 60};

static void Fan1Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Fire(f, {.kind = 1, .speed = 2.9f, .heading = Aim(f)});
}

static void Fan1Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    FanOffsets(f, 1, 3.1f, Aim(f), kCentreOut, 3);
}

static void Fan1Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    FanOffsets(f, 1, 3.1f, Aim(f), kCentreOut, 5);
}

static void Fan1Band3(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float aim = Aim(f);
    FanOffsets(f, 1, 3.4f, aim, kCentreOut, 7);
}

// A fan k from `from` while k < `to` by `step` degrees about the aim.
static void FanRange(const PatternFrame& f, uint16_t kind, float speed, float aim, int from, int to, int step)
{
    for (int k = from; k < to; k += step) {
        Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(k)});
    }
}

static void Fan6Band0(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    FanRange(f, 1, 2.2f, aim, -20, 40, 20);
    Fire(f, {.kind = 5, .speed = 4.2f, .heading = aim});
}

static void Fan6Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    FanRange(f, 1, 2.2f, aim, -40, 60, 20);
    Fire(f, {.kind = 5, .speed = 4.2f, .heading = aim});
}

static void Fan6Band2(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    FanRange(f, 3, 2.8f, aim, -10, 20, 10);
    FanRange(f, 1, 2.2f, aim, -40, 60, 20);
    Fire(f, {.kind = 5, .speed = 4.2f, .heading = aim});
}

static void Fan6Band3(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    FanRange(f, 3, 3.2f, aim, -20, 30, 10);
    FanRange(f, 1, 2.4f, aim, -60, 80, 20);
    Fire(f, {.kind = 5, .speed = 4.2f, .heading = aim});
}

// A pair of shots at aim - n and aim + n degrees.
static void Pair(const PatternFrame& f, uint16_t kind, float speed, float aim, int degrees)
{
    Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(-degrees)});
    Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(degrees)});
}

static void Fan8Body(const PatternFrame& f)
{
    const float aim = Aim(f);
    Fire(f, {.kind = 3, .speed = 3.8f, .heading = aim});
    Pair(f, 1, 3.6f, aim, 20);
}

static void Fan8Band0(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    Fan8Body(f);
}

static void Fan8Band1(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Fan8Body(f);
}

static void Fan8Band2(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    const float aim = Aim(f);
    Fire(f, {.kind = 3, .speed = 3.2f, .heading = aim});
    Pair(f, 1, 3.0f, aim, 20);
    Pair(f, 1, 2.8f, aim, 40);
}

static void Fan8Band3(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    const float aim = Aim(f);
    Fire(f, {.kind = 3, .speed = 3.6f, .heading = aim});
    Pair(f, 3, 3.4f, aim, 20);
    Pair(f, 1, 3.0f, aim, 40);
    Pair(f, 1, 2.8f, aim, 60);
}

// ------------------------------------------------------------------ aimed children with fans

static void TwinChildren2(const PatternFrame& f, float aim)
{
    Child(12, f.x, f.y, aim, aim - 0.4f);
    Child(12, f.x, f.y, aim, aim + 0.4f);
}

static void Child2Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinChildren2(f, Aim(f));
    Fire(f, {.kind = 3, .speed = 3.2f, .heading = Aim(f)});
}

static void Child2Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinChildren2(f, Aim(f));
    Pair(f, 1, 3.0f, Aim(f), 10);
    Fire(f, {.kind = 3, .speed = 3.4f, .heading = Aim(f)});
}

static void TripleChildren2(const PatternFrame& f, float aim)
{
    TwinChildren2(f, aim);
    Child(12, f.x, f.y, aim, aim);
}

static void Child2Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    TripleChildren2(f, aim);
    Pair(f, 1, 3.4f, aim, 10);
    Fire(f, {.kind = 3, .speed = 3.8f, .heading = aim});
}

static void Child2Band3(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float aim = Aim(f);
    TripleChildren2(f, aim);
    Pair(f, 1, 3.4f, aim, 10);
    Pair(f, 1, 3.4f, aim, 20);
    Fire(f, {.kind = 3, .speed = 3.8f, .heading = aim});
}

static void Child9Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Child(11, f.x, f.y, Aim(f), Aim(f));
}

static void Child9Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Child(11, f.x, f.y, aim, aim);
    static constexpr int kOffsets[] = {-10, 10, 0};
    FanOffsets(f, 1, 2.6f, aim, kOffsets, 3);
}

static constexpr int kTenStep[] = {0, -10, 10, -20, 20, -30, 30};

static void Child9Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Child(11, f.x, f.y, aim, aim);
    FanOffsets(f, 1, 2.6f, aim, kTenStep, 5);
}

static void Child9Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Child(11, f.x, f.y, aim, aim);
    const float left = aim + Deg(-20);
    Child(11, f.x, f.y, left, left);
    const float right = aim + Deg(20);
    Child(11, f.x, f.y, right, right);
    FanOffsets(f, 1, 2.6f, aim, kTenStep, 7);
}

// A template-12 child `distance` pixels from the enemy, `side` radians off
// its aim angle, aimed at the player.
static void SideChild10(const PatternFrame& f, float distance, float side, float aim)
{
    const float a = AimAngle(f) + side;
    const float cx = f.x + distance * Cos(a);
    const float cy = f.y + distance * Sin(a);
    Child(12, cx, cy, aim, aim);
}

static void TwinChildren10(const PatternFrame& f)
{
    SideChild10(f, 15.0f, 1.0f, Aim(f));
    SideChild10(f, 15.0f, -1.0f, Aim(f));
}

static void Child10Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinChildren10(f);
}

static void Child10Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinChildren10(f);
    Pair(f, 4, 3.0f, Aim(f), 15);
}

static void Child10Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinChildren10(f);
    Pair(f, 4, 3.0f, Aim(f), 15);
    Pair(f, 2, 2.9f, Aim(f), 30);
}

static void Child10Band3(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    SideChild10(f, 15.0f, 1.0f, aim);
    SideChild10(f, 15.0f, -1.0f, aim);
    SideChild10(f, 30.0f, 1.0f, aim);
    SideChild10(f, 30.0f, -1.0f, aim);
    Pair(f, 4, 3.0f, aim, 15);
    Pair(f, 2, 2.9f, aim, 30);
    Pair(f, 2, 2.9f, aim, 50);
}

// ------------------------------------------------------------------ random spread with an aimed ring

struct KindSpeed {
    uint16_t kind;
    float speed;
};

// Each spread bullet draws its own turn just before it is fired.
static void Spread(const PatternFrame& f, const KindSpeed* shots, int count, int32_t range)
{
    for (int i = 0; i < count; ++i) {
        const int32_t turn = Rnd(-range, range);
        Fire(f, {.kind = shots[i].kind, .speed = shots[i].speed, .heading = AimAngle(f) + Deg(turn)});
    }
}

// A ring k from 0 while k < 360 by `step` degrees about the aim, sprites
// turned to their headings.
static void TurnedRing(const PatternFrame& f, uint16_t kind, float speed, float base, int step)
{
    for (int k = 0; k < 360; k += step) {
        const float h = base + Deg(k);
        Fire(f, {.kind = kind, .speed = speed, .heading = h, .A = h});
    }
}

static void Spread3Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    static constexpr KindSpeed kShots[] = {{4, 2.8f}, {4, 2.7f}, {6, 3.9f}, {6, 3.0f}};
    Spread(f, kShots, 4, 10);
    TurnedRing(f, 11, 2.4f, aim, 36);
}

static void Spread3Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    static constexpr KindSpeed kWide[] = {{4, 2.8f}, {4, 2.7f}, {4, 2.6f}};
    static constexpr KindSpeed kNarrow[] = {{6, 3.9f}, {6, 3.0f}, {6, 3.1f}};
    Spread(f, kWide, 3, 15);
    Spread(f, kNarrow, 3, 10);
    TurnedRing(f, 11, 2.4f, aim, 20);
}

static void Spread3Band2(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float aim = Aim(f);
    static constexpr KindSpeed kShots[] = {{4, 2.8f}, {4, 2.9f}, {4, 3.0f}, {4, 3.2f},
                                           {6, 3.9f}, {6, 3.4f}, {6, 3.5f}, {6, 3.6f}};
    Spread(f, kShots, 8, 15);
    TurnedRing(f, 11, 2.6f, aim, 15);
}

static void Spread3Band3(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float aim = Aim(f);
    static constexpr KindSpeed kShots[] = {{4, 2.8f}, {4, 2.9f}, {4, 3.0f}, {4, 3.2f}, {4, 3.9f}, {6, 3.4f},
                                           {6, 3.5f}, {6, 3.6f}, {6, 3.7f}, {6, 3.8f}, {6, 3.9f}, {6, 4.0f}};
    Spread(f, kShots, 12, 15);
    TurnedRing(f, 11, 3.0f, aim, 10);
}

// ------------------------------------------------------------------ rings

// Two interleaved rings about the aim, the second offset by half a step.
static void TwinRings4(const PatternFrame& f, int step, float fastSpeed, float slowSpeed)
{
    const float aim = Aim(f);
    for (int k = 0; k < 360; k += step) {
        Fire(f, {.kind = 2, .speed = fastSpeed, .heading = aim + Deg(k)});
    }
    const int half = step / 2;
    for (int k = half; k < 360 + half; k += step) {
        Fire(f, {.kind = 4, .speed = slowSpeed, .heading = aim + Deg(k)});
    }
}

static void Ring4Band0(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    TwinRings4(f, 90, 2.2f, 1.8f);
}

static void Ring4Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    TwinRings4(f, 60, 2.2f, 1.8f);
}

static void Ring4Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TwinRings4(f, 40, 2.4f, 2.0f);
}

static void Ring4Band3(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    TwinRings4(f, 30, 2.4f, 2.0f);
}

static void Ring5Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    TurnedRing(f, 11, 2.8f, 0.0f, 20);
}

static void Ring5Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    TurnedRing(f, 11, 3.2f, 0.0f, 15);
}

// Four-armed bursts whose arms lean forward on the firings where the phase
// is 0 and backward otherwise. Speeds fall by 0.15 per arm bullet, the
// constants being doubles computed at single precision.
static void Ring5Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const int32_t s = f.clock % 60;
    for (int b = 0; b < 360; b += 15) {
        for (int j = 0; j < 4; ++j) {
            const int h = s == 0 ? b + 2 * j : b - 2 * j;
            const float heading = Deg(h);
            const float speed = F32Sub(4.0, F32Mul(static_cast<float>(j), 0.15));
            Fire(f, {.kind = 11, .speed = speed, .heading = heading, .A = heading});
        }
    }
}

static void Ring5Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    const int32_t s = f.clock % 40;
    for (int b = 0; b < 180; b += 6) {
        for (int j = 0; j < 4; ++j) {
            const int h = s == 0 ? 2 * (b + j) : 2 * (b - j);
            const float heading = Deg(h);
            const float speed = F32Sub(4.4, F32Mul(static_cast<float>(j), 0.15));
            Fire(f, {.kind = 11, .speed = speed, .heading = heading, .A = heading});
        }
    }
}

static void Ring12Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Child(53, f.x, f.y, AimAngle(f) + Deg(180), AimAngle(f) + Deg(150));
}

static void Ring12Body(const PatternFrame& f, int step, float speed)
{
    const float aim = Aim(f);
    const float back = AimAngle(f) + Deg(180);
    Child(53, f.x, f.y, back, AimAngle(f) + Deg(180));
    for (int k = 0; k < 360; k += step) {
        Fire(f, {.kind = 3, .speed = speed, .heading = aim + Deg(k)});
    }
}

static void Ring12Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Ring12Body(f, 60, 2.0f);
}

static void Ring12Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Ring12Body(f, 36, 2.0f);
}

static void Ring12Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Ring12Body(f, 24, 3.0f);
}

// ------------------------------------------------------------------ streams along the aim angle

// The kind alternates with the parity of the enemy's slot; speeds fall by
// 0.1 per bullet, double constants computed at single precision.
static void Stream7(const PatternFrame& f, int count, double startSpeed)
{
    const uint16_t kind = static_cast<uint16_t>(2 - f.slot % 2);
    for (int j = 0; j < count; ++j) {
        const float speed = F32Sub(startSpeed, F32Mul(static_cast<float>(j), 0.1));
        Fire(f, {.kind = kind, .speed = speed, .heading = AimAngle(f)});
    }
}

static void Stream7Band0(const PatternFrame& f)
{
    if (!Every(f, 6)) return;
    Stream7(f, 3, 2.0);
}

static void Stream7Band1(const PatternFrame& f)
{
    if (!Every(f, 6)) return;
    Stream7(f, 5, 2.4);
}

static void Stream7Band23(const PatternFrame& f)
{
    if (!Every(f, 6)) return;
    Stream7(f, 5, 2.8);
    const uint16_t flank = static_cast<uint16_t>(4 - f.slot % 2);
    Fire(f, {.kind = flank, .speed = 2.6f, .heading = AimAngle(f) - 0.05f});
    Fire(f, {.kind = flank, .speed = 2.6f, .heading = AimAngle(f) + 0.05f});
}

// ------------------------------------------------------------------ children behind the enemy

static void Behind11Body(const PatternFrame& f)
{
    // The sum first, then the difference: the rounding of each counts.
    const float back = AimAngle(f) + 3.1415927f;
    const float left = back - 0.3f;
    Child(13, f.x, f.y, left, left);
    const float right = AimAngle(f) + 3.4415927f;
    Child(13, f.x, f.y, right, right);
    Sound(10);
}

static void Behind11Band01(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    Behind11Body(f);
}

static void Behind11Band2(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Behind11Body(f);
}

void RegisterAimedFans(PatternTable& t)
{
    t.Set(1, Fan1Band0);
    t.Set(1001, Fan1Band1);
    t.Set(2001, Fan1Band2);
    t.Set(3001, Fan1Band3);

    t.Set(2, Child2Band0);
    t.Set(1002, Child2Band1);
    t.Set(2002, Child2Band2);
    t.Set(3002, Child2Band3);

    t.Set(3, Spread3Band0);
    t.Set(1003, Spread3Band1);
    t.Set(2003, Spread3Band2);
    t.Set(3003, Spread3Band3);

    t.Set(4, Ring4Band0);
    t.Set(1004, Ring4Band1);
    t.Set(2004, Ring4Band2);
    t.Set(3004, Ring4Band3);

    t.Set(5, Ring5Band0);
    t.Set(1005, Ring5Band1);
    t.Set(2005, Ring5Band2);
    t.Set(3005, Ring5Band3);

    t.Set(6, Fan6Band0);
    t.Set(1006, Fan6Band1);
    t.Set(2006, Fan6Band2);
    t.Set(3006, Fan6Band3);

    t.Set(7, Stream7Band0);
    t.Set(1007, Stream7Band1);
    t.Set(2007, Stream7Band23);
    t.Set(3007, Stream7Band23);

    t.Set(8, Fan8Band0);
    t.Set(1008, Fan8Band1);
    t.Set(2008, Fan8Band2);
    t.Set(3008, Fan8Band3);

    t.Set(9, Child9Band0);
    t.Set(1009, Child9Band1);
    t.Set(2009, Child9Band2);
    t.Set(3009, Child9Band3);

    t.Set(10, Child10Band0);
    t.Set(1010, Child10Band1);
    t.Set(2010, Child10Band2);
    t.Set(3010, Child10Band3);

    t.Set(11, Behind11Band01);
    t.Set(1011, Behind11Band01);
    t.Set(2011, Behind11Band2);

    t.Set(12, Ring12Band0);
    t.Set(1012, Ring12Band1);
    t.Set(2012, Ring12Band2);
    t.Set(3012, Ring12Band3);
}
