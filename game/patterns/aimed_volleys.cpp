// Aimed shots, fans, rings with arms and volleys: base ids 18 to 20, 23, 25, 28, 29, 31, 32 and 34.
#include "game/patterns/pattern_kit.h"

// A speed of the form base + j x step, the two constants being doubles: the
// product is rounded to f32, then the sum.
static float Graded(double base, int32_t j, double step)
{
    return F32Add(base, F32Mul(static_cast<float>(j), step));
}

// ------------------------------------------------------------------ aimed shots, stacks and fans

// Along the enemy's aim angle, not at the player.
static void AimAngleShot18(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Fire(f, {.kind = 4, .speed = 1.8f, .heading = AimAngle(f)});
}

// One random turn drawn per firing, on the death path too.
static void AimAngleShot18Random(const PatternFrame& f, int32_t range)
{
    if (!Every(f, 25)) return;
    const float heading = Deg(Rnd(-range, range)) + AimAngle(f);
    Fire(f, {.kind = 4, .speed = 2.2f, .heading = heading});
}

static void AimAngleShot18Band2(const PatternFrame& f)
{
    AimAngleShot18Random(f, 15);
}

static void AimAngleShot18Band3(const PatternFrame& f)
{
    AimAngleShot18Random(f, 20);
}

static void Aimed23Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Fire(f, {.kind = 2, .speed = 3.6f, .heading = Aim(f)});
}

static void Aimed23Band1(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    Fire(f, {.kind = 2, .speed = 4.0f, .heading = Aim(f)});
}

static void Aimed23Band2(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Fire(f, {.kind = 2, .speed = 4.0f, .heading = Aim(f)});
}

static void Aimed23Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    Fire(f, {.kind = 2, .speed = 4.2f, .heading = Aim(f)});
}

// Several kind-1 shots on the one aimed line, sprites turned to it, at the
// given speeds.
static void Stack29(const PatternFrame& f, const float* speeds, int count)
{
    const float aim = Aim(f);
    for (int i = 0; i < count; ++i) {
        Fire(f, {.kind = 1, .speed = speeds[i], .heading = aim, .A = aim});
    }
}

static void Stack29Band1(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    static constexpr float kSpeeds[] = {3.0f};
    Stack29(f, kSpeeds, 1);
}

static void Stack29Band2(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    static constexpr float kSpeeds[] = {3.0f, 3.2f, 3.4f};
    Stack29(f, kSpeeds, 3);
}

static void Stack29Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    static constexpr float kSpeeds[] = {3.2f, 3.4f, 3.6f, 3.8f};
    Stack29(f, kSpeeds, 4);
}

// A symmetric kind-12 fan: the centre shot, then each pair above and below
// the aim, `step` degrees apart, sprites turned to their headings.
static void Fan32(const PatternFrame& f, float speed, int step, int pairs)
{
    const float aim = Aim(f);
    Fire(f, {.kind = 12, .speed = speed, .heading = aim, .A = aim});
    for (int i = 1; i <= pairs; ++i) {
        const float up = Deg(step * i) + aim;
        Fire(f, {.kind = 12, .speed = speed, .heading = up, .A = up});
        const float down = aim - Deg(step * i);
        Fire(f, {.kind = 12, .speed = speed, .heading = down, .A = down});
    }
}

static void Fan32Band0(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Fan32(f, 3.0f, 20, 1);
}

static void Fan32Band1(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Fan32(f, 3.6f, 18, 1);
}

static void Fan32Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Fan32(f, 4.0f, 15, 2);
}

static void Fan32Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Fan32(f, 4.6f, 10, 3);
}

// Two parallel shots along the aim from muzzles 10 pixels either side of the
// line of the enemy's aim angle (the factor 10 is a double constant).
static void Muzzles34(const PatternFrame& f, float speed)
{
    const float aim = Aim(f);
    const float left = Deg(90) + AimAngle(f);
    FireFrom(f, F32Mul(10.0, Cos(left)) + f.x, F32Mul(10.0, Sin(left)) + f.y,
             {.kind = 11, .speed = speed, .heading = aim, .A = aim});
    const float right = AimAngle(f) - Deg(90);
    FireFrom(f, F32Mul(10.0, Cos(right)) + f.x, F32Mul(10.0, Sin(right)) + f.y,
             {.kind = 11, .speed = speed, .heading = aim, .A = aim});
}

static void Muzzles34Band0(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Muzzles34(f, 3.6f);
}

static void Muzzles34Band12(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Muzzles34(f, 3.6f);
}

static void Muzzles34Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Muzzles34(f, 4.4f);
}

// ------------------------------------------------------------------ fixed ring with aimed arms

// A ring fixed to the screen, then five aimed arms; each arm is complete
// (its kind-5 shot, one side, the other side) before the next begins.
static void RingArms19(const PatternFrame& f, int ringStep, int sideCount, int sideStep, double speedStep)
{
    const float aim = Aim(f);
    for (int k = 0; k < 360; k += ringStep) {
        Fire(f, {.kind = 7, .speed = 2.5f, .heading = Deg(k)});
    }
    for (int p = 0; p < 360; p += 72) {
        Fire(f, {.kind = 5, .speed = 3.0f, .heading = Deg(p) + aim});
        for (int j = 1; j <= sideCount; ++j) {
            const float speed = F32Sub(2.8, F32Mul(static_cast<float>(j), speedStep));
            Fire(f, {.kind = 8, .speed = speed, .heading = (Deg(sideStep * j) + Deg(p)) + aim});
        }
        for (int j = 1; j <= sideCount; ++j) {
            const float speed = F32Sub(2.8, F32Mul(static_cast<float>(j), speedStep));
            Fire(f, {.kind = 8, .speed = speed, .heading = (Deg(p) + aim) - Deg(sideStep * j)});
        }
    }
}

static void RingArms19Band01(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    RingArms19(f, 20, 2, 3, 0.6);
}

static void RingArms19Band2(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    RingArms19(f, 15, 3, 5, 0.4);
}

static void RingArms19Band3(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    RingArms19(f, 15, 3, 5, 0.4);
}

// ------------------------------------------------------------------ twin-origin volleys

// Rows of kind-3 shots from two muzzles below the enemy, each shot faster
// and 3 frames later than the one before; the rows of the left muzzle first.
static void Volley25(const PatternFrame& f, int rowLength, int spread, bool centreRow)
{
    if (!Every(f, 60)) return;
    const float aim = Aim(f);
    const float headings[3] = {Deg(spread) + aim, aim - Deg(spread), aim};
    const int rows = centreRow ? 3 : 2;
    const float muzzleX[2] = {f.x - 40.0f, f.x + 40.0f};
    const float muzzleY = f.y + 20.0f;
    for (const float mx : muzzleX) {
        for (int r = 0; r < rows; ++r) {
            for (int j = 0; j < rowLength; ++j) {
                FireFrom(f, mx, muzzleY,
                         {.kind = 3,
                          .speed = Graded(2.5, j, 0.3),
                          .heading = headings[r],
                          .age = static_cast<int16_t>(-3 * j)});
            }
        }
    }
}

static void Volley25Band0(const PatternFrame& f)
{
    Volley25(f, 3, 30, false);
}

static void Volley25Band1(const PatternFrame& f)
{
    Volley25(f, 4, 20, false);
}

static void Volley25Band2(const PatternFrame& f)
{
    Volley25(f, 6, 30, true);
}

// ------------------------------------------------------------------ downward volleys

// Three shots straight down, faster and later one after the other, then a
// half ring over the lower half of the screen.
static void Downward28(const PatternFrame& f, double baseSpeed, uint16_t ringKind, float ringSpeed)
{
    if (!Every(f, 25)) return;
    for (int j = 0; j < 3; ++j) {
        Fire(f, {.kind = 1, .speed = Graded(baseSpeed, j, 0.3), .heading = Deg(90), .age = static_cast<int16_t>(-3 * j)});
    }
    for (int k = 0; k < 180; k += 18) {
        Fire(f, {.kind = ringKind, .speed = ringSpeed, .heading = Deg(k)});
    }
}

static void Downward28Band01(const PatternFrame& f)
{
    Downward28(f, 3.5, 2, 2.6f);
}

static void Downward28Band23(const PatternFrame& f)
{
    Downward28(f, 4.4, 4, 4.0f);
}

// ------------------------------------------------------------------ phased rings with an aimed child

// In the first tenth of every 100 clock values, on even clocks, an aimed ring
// whose start angle, speed and kind follow the clock; otherwise an aimed
// template-20 child on a strict period. The clock alone decides, on both
// paths, and a clock that passes both tests gives the ring only.
static void Phased31(const PatternFrame& f, int count, int step, double baseSpeed, int32_t childPeriod)
{
    if ((f.clock % 100) / 10 == 0 && f.clock % 2 == 0) {
        const float aim = Aim(f);
        const int32_t m = f.clock % 20;
        const uint16_t kind = f.clock % 4 == 0 ? 3 : 5;
        const float speed = Graded(baseSpeed, m, 0.1);
        for (int i = 0; i < count; ++i) {
            Fire(f, {.kind = kind, .speed = speed, .heading = Deg(m + step * i) + aim});
        }
        return;
    }
    if (!EveryStrict(f, childPeriod)) return;
    const float aim = Aim(f);
    Child(20, f.x, f.y, aim, aim);
}

static void Phased31Band0(const PatternFrame& f)
{
    Phased31(f, 6, 60, 2.0, 50);
}

static void Phased31Band1(const PatternFrame& f)
{
    Phased31(f, 9, 40, 2.0, 40);
}

static void Phased31Band2(const PatternFrame& f)
{
    Phased31(f, 12, 30, 2.0, 30);
}

static void Phased31Band3(const PatternFrame& f)
{
    Phased31(f, 12, 30, 2.4, 20);
}

// ------------------------------------------------------------------ repeating effect

static void Effect20(const PatternFrame& f)
{
    if (!EveryStrict(f, 6)) return;
    Effect(13, f.x, f.y);
}

void RegisterAimedVolleys(PatternTable& t)
{
    t.Set(18, AimAngleShot18);
    t.Set(1018, AimAngleShot18);
    t.Set(2018, AimAngleShot18Band2);
    t.Set(3018, AimAngleShot18Band3);

    t.Set(19, RingArms19Band01);
    t.Set(1019, RingArms19Band01);
    t.Set(2019, RingArms19Band2);
    t.Set(3019, RingArms19Band3);

    t.Set(20, Effect20);
    t.Set(1020, Effect20);
    t.Set(2020, Effect20);
    t.Set(3020, Effect20);

    t.Set(23, Aimed23Band0);
    t.Set(1023, Aimed23Band1);
    t.Set(2023, Aimed23Band2);
    t.Set(3023, Aimed23Band3);

    t.Set(25, Volley25Band0);
    t.Set(1025, Volley25Band1);
    t.Set(2025, Volley25Band2);

    t.Set(28, Downward28Band01);
    t.Set(1028, Downward28Band01);
    t.Set(2028, Downward28Band23);
    t.Set(3028, Downward28Band23);

    t.Set(1029, Stack29Band1);
    t.Set(2029, Stack29Band2);
    t.Set(3029, Stack29Band3);

    t.Set(31, Phased31Band0);
    t.Set(1031, Phased31Band1);
    t.Set(2031, Phased31Band2);
    t.Set(3031, Phased31Band3);

    t.Set(32, Fan32Band0);
    t.Set(1032, Fan32Band1);
    t.Set(2032, Fan32Band2);
    t.Set(3032, Fan32Band3);

    t.Set(34, Muzzles34Band0);
    t.Set(1034, Muzzles34Band12);
    t.Set(2034, Muzzles34Band12);
    t.Set(3034, Muzzles34Band3);
}
