// Scattered children, slot-0 aim, twin spirals and rings: base ids 101 to 110.
#include "game/patterns/pattern_kit.h"

// ------------------------------------------------------------------ children around, below and along

// A template-1 child at a random offset from the enemy. The x offset is
// drawn first: locals fix the order that argument evaluation would not.
static void ScatterChild(const PatternFrame& f, int32_t xRange, int32_t yRange)
{
    const int32_t dx = Rnd(-xRange, xRange);
    const int32_t dy = Rnd(-yRange, yRange);
    Child(1, f.x + static_cast<float>(dx), f.y + static_cast<float>(dy), 0.0f, 0.0f);
}

static void Scatter101Band0(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    ScatterChild(f, 150, 100);
}

static void Scatter101Band123(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    ScatterChild(f, 200, 100);
}

static void Drop103(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    Child(9, f.x, f.y + 40.0f, 0.0f, 0.0f);
}

// A template-25 child sent along the aim, with a flash where it leaves.
static void AimedChild108(const PatternFrame& f)
{
    const float aim = Aim(f);
    Child(25, f.x, f.y, aim, aim);
    Effect(12, f.x, f.y);
}

static void AimedChild108Band0(const PatternFrame& f)
{
    if (!Every(f, 22)) return;
    AimedChild108(f);
}

static void AimedChild108Band12(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    AimedChild108(f);
}

// The child's heading turns 10 degrees per frame of the clock; at clock 0
// (the death path) the angle is exactly 0.0 and the template's own is used.
static void TurningChild109(const PatternFrame& f)
{
    const float a = Deg(10 * f.clock);
    Child(24, f.x, f.y, a, a);
}

static void TurningChild109Band0(const PatternFrame& f)
{
    if (!Every(f, 16)) return;
    TurningChild109(f);
}

static void TurningChild109Band1(const PatternFrame& f)
{
    if (!Every(f, 12)) return;
    TurningChild109(f);
}

static void TurningChild109Band2(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    TurningChild109(f);
}

// ------------------------------------------------------------------ shots on the aim from slot 0

// Slot 0 holds the formation's leader: its aim is read from whatever its
// record holds, active or not, so every follower fires parallel shots.
static float AimFromSlot0()
{
    return AimFrom(g_enemies[0].x, g_enemies[0].y);
}

static void Slot0Aim102Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    if (f.slot % 5 != 0) return;
    Fire(f, {.kind = 2, .speed = 2.8f, .heading = AimFromSlot0()});
}

static void Slot0Aim102Band1(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    if (f.slot % 4 != 0) return;
    Fire(f, {.kind = 2, .speed = 3.2f, .heading = AimFromSlot0()});
}

// The turn is drawn before the aim is read.
static void Slot0AimJitter(const PatternFrame& f, uint16_t kind, float speed)
{
    const int32_t turn = Rnd(-10, 10);
    const float aim = AimFromSlot0();
    Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(turn)});
}

static void Slot0Aim102Band2(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Slot0AimJitter(f, 2, 3.2f);
}

static void Slot0Aim102Band3(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    Slot0AimJitter(f, 4, 3.6f);
}

// ------------------------------------------------------------------ twin spirals

// One pair of guns `dx` pixels to each side of the enemy at height `gy`;
// the right gun turns clockwise and the left anticlockwise, 12 degrees a
// firing, mirrored about straight down.
static void SpiralPair(const PatternFrame& f, float dx, float gy, uint16_t kind, float speed)
{
    FireFrom(f, f.x + dx, gy, {.kind = kind, .speed = speed, .heading = Deg(6 * f.clock + 90)});
    FireFrom(f, f.x - dx, gy, {.kind = kind, .speed = speed, .heading = Deg(90 - 6 * f.clock)});
}

static void Spiral104Band0(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    SpiralPair(f, 50.0f, f.y, 4, 3.6f);
    SpiralPair(f, 50.0f, f.y, 4, 3.4f);
}

static void Spiral104Band1Guns(const PatternFrame& f)
{
    SpiralPair(f, 50.0f, f.y, 4, 3.6f);
    SpiralPair(f, 50.0f, f.y, 2, 3.2f);
}

static void Spiral104Band1(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Spiral104Band1Guns(f);
}

static void Spiral104Band2(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    Spiral104Band1Guns(f);
    SpiralPair(f, 20.0f, f.y - 40.0f, 4, 3.6f);
    SpiralPair(f, 20.0f, f.y - 40.0f, 2, 3.2f);
}

// ------------------------------------------------------------------ rings with a shifted start

// A slow ring about the aim, turned by `shift` degrees on the firings whose
// clock is also a multiple of `shiftPeriod`.
static void ShiftedRing(const PatternFrame& f, uint16_t kind, int32_t shiftPeriod, int32_t shift, int32_t step)
{
    const float aim = Aim(f);
    const float base = f.clock % shiftPeriod == 0 ? aim + Deg(shift) : aim;
    for (int32_t k = 0; k < 360; k += step) {
        Fire(f, {.kind = kind, .speed = 1.6f, .heading = base + Deg(k), .life = 800});
    }
}

static void Ring105Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    ShiftedRing(f, 1, 40, 20, 40);
}

static void Ring105Band1(const PatternFrame& f)
{
    if (!Every(f, 16)) return;
    ShiftedRing(f, 1, 30, 20, 40);
}

static void Ring105Band2(const PatternFrame& f)
{
    if (!Every(f, 14)) return;
    ShiftedRing(f, 1, 20, 15, 30);
}

static void Ring105Band3(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    ShiftedRing(f, 1, 20, 15, 30);
}

static void Ring106Band0(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    ShiftedRing(f, 2, 40, 20, 40);
}

static void Ring106Band1(const PatternFrame& f)
{
    if (!Every(f, 16)) return;
    ShiftedRing(f, 2, 30, 20, 40);
}

static void Ring106Band2(const PatternFrame& f)
{
    if (!Every(f, 14)) return;
    ShiftedRing(f, 2, 20, 15, 30);
}

static void Ring106Band3(const PatternFrame& f)
{
    if (!Every(f, 10)) return;
    ShiftedRing(f, 2, 20, 15, 30);
}

// ------------------------------------------------------------------ children beside the aim with a fixed ring

// The ring's headings are fixed on the screen, not turned by the aim.
static void FixedRing107(const PatternFrame& f, int32_t step)
{
    for (int32_t k = 0; k < 360; k += step) {
        Fire(f, {.kind = 4, .speed = 1.2f, .heading = Deg(k), .life = 800});
    }
}

static void Flank107Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    Child(23, f.x, f.y, aim + Deg(30), aim + Deg(45));
    Child(23, f.x, f.y, aim - Deg(30), aim - Deg(45));
    FixedRing107(f, 15);
}

static void Flank107Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    const float left = aim + Deg(30);
    Child(23, f.x, f.y, left, left);
    const float right = aim - Deg(30);
    Child(23, f.x, f.y, right, right);
    FixedRing107(f, 15);
}

static void Flank107Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    Child(23, f.x, f.y, aim, aim);
    const float left = aim + Deg(45);
    Child(23, f.x, f.y, left, left);
    const float right = aim - Deg(45);
    Child(23, f.x, f.y, right, right);
    FixedRing107(f, 10);
}

// ------------------------------------------------------------------ dense rings

static void DenseRing110(const PatternFrame& f, int32_t step, float speed)
{
    if (!Every(f, 3)) return;
    const float aim = Aim(f);
    for (int32_t k = 0; k < 360; k += step) {
        Fire(f, {.kind = 3, .speed = speed, .heading = aim + Deg(k), .life = 800});
    }
}

static void DenseRing110Band0(const PatternFrame& f)
{
    DenseRing110(f, 30, 1.8f);
}

static void DenseRing110Band1(const PatternFrame& f)
{
    DenseRing110(f, 24, 1.6f);
}

static void DenseRing110Band2(const PatternFrame& f)
{
    DenseRing110(f, 18, 1.6f);
}

void RegisterScatteredChildren(PatternTable& t)
{
    t.Set(101, Scatter101Band0);
    t.Set(1101, Scatter101Band123);
    t.Set(2101, Scatter101Band123);
    t.Set(3101, Scatter101Band123);

    t.Set(102, Slot0Aim102Band0);
    t.Set(1102, Slot0Aim102Band1);
    t.Set(2102, Slot0Aim102Band2);
    t.Set(3102, Slot0Aim102Band3);

    t.Set(103, Drop103);
    t.Set(1103, Drop103);
    t.Set(2103, Drop103);
    t.Set(3103, Drop103);

    t.Set(104, Spiral104Band0);
    t.Set(1104, Spiral104Band1);
    t.Set(2104, Spiral104Band2);

    t.Set(105, Ring105Band0);
    t.Set(1105, Ring105Band1);
    t.Set(2105, Ring105Band2);
    t.Set(3105, Ring105Band3);

    t.Set(106, Ring106Band0);
    t.Set(1106, Ring106Band1);
    t.Set(2106, Ring106Band2);
    t.Set(3106, Ring106Band3);

    t.Set(107, Flank107Band0);
    t.Set(1107, Flank107Band1);
    t.Set(2107, Flank107Band2);

    t.Set(108, AimedChild108Band0);
    t.Set(1108, AimedChild108Band12);
    t.Set(2108, AimedChild108Band12);

    t.Set(109, TurningChild109Band0);
    t.Set(1109, TurningChild109Band1);
    t.Set(2109, TurningChild109Band2);

    t.Set(110, DenseRing110Band0);
    t.Set(1110, DenseRing110Band1);
    t.Set(2110, DenseRing110Band2);
}
