// Child releases, formations, backward child fans and curved streams: base ids 13 to 17, 21, 22, 24, 26, 27, 30 and 33.
#include "game/patterns/pattern_kit.h"

// Straight back along the enemy's aim angle.
static constexpr float kHalfTurn = 3.1415927f;
// Straight down the screen.
static constexpr float kDown = 1.5707964f;

// A speed or angle of the form base + j x step, the two constants being
// doubles: the product is rounded to f32, then the sum.
static float Graded(double base, int32_t j, double step)
{
    return F32Add(base, F32Mul(static_cast<float>(j), step));
}

// ------------------------------------------------------------------ single child releases

// Five children fanned round the enemy; the first one's angles come out
// exactly 0.0 and so take the template's own.
static void Release13(const PatternFrame& f)
{
    for (int k = 0; k < 360; k += 72) {
        Child(14, f.x, f.y, Deg(k), Deg(k));
    }
}

// A child of the template at the enemy, angles 0, every `kPeriod` frames.
template <int32_t kTemplate, int32_t kPeriod>
static void ReleaseEvery(const PatternFrame& f)
{
    if (!Every(f, kPeriod)) return;
    Child(kTemplate, f.x, f.y, 0.0f, 0.0f);
}

static void Release21(const PatternFrame& f)
{
    Child(55, f.x, f.y, 0.0f, 0.0f);
}

static void Release26(const PatternFrame& f)
{
    Child(60, f.x, f.y, 0.0f, 0.0f);
}

// A template-62 child along the enemy's aim angle, read from its record now:
// an earlier child may have landed in the enemy's own slot when the table
// was full.
static void AimAngleChild30(const PatternFrame& f)
{
    Child(62, f.x, f.y, AimAngle(f), AimAngle(f));
}

static void Release30Band0(const PatternFrame& f)
{
    if (!Every(f, 3)) return;
    AimAngleChild30(f);
}

// ------------------------------------------------------------------ children with rings or rows of shots

struct Ring16 {
    int32_t childPeriod;
    int32_t ringPeriod;     // strict
    int step;               // degrees
    uint16_t kind;
    float speed;
    int16_t age;
};

// The child on every firing of the first gate, the aimed ring only when the
// clock is also a multiple of the second period.
static void ChildAndRing16(const PatternFrame& f, const Ring16& r)
{
    if (!Every(f, r.childPeriod)) return;
    Child(19, f.x, f.y, AimAngle(f), AimAngle(f));
    if (!EveryStrict(f, r.ringPeriod)) return;
    const float aim = Aim(f);
    for (int k = 0; k < 360; k += r.step) {
        Fire(f, {.kind = r.kind, .speed = r.speed, .heading = Deg(k) + aim, .life = 500, .age = r.age});
    }
}

static void Ring16Band0(const PatternFrame& f)
{
    ChildAndRing16(f, {40, 120, 60, 1, 2.0f, -2});
}

static void Ring16Band1(const PatternFrame& f)
{
    ChildAndRing16(f, {25, 90, 40, 1, 2.0f, -2});
}

static void Ring16Band2(const PatternFrame& f)
{
    ChildAndRing16(f, {10, 100, 30, 1, 2.0f, -4});
}

static void Ring16Band3(const PatternFrame& f)
{
    ChildAndRing16(f, {8, 64, 20, 3, 2.6f, -4});
}

// A ring of template-58 children round the enemy's aim angle, then rings of
// four-bullet stacks of rising speed. The aim angle is read once: a child
// that fell back into the enemy's own slot must not turn the rest.
static void Spokes22(const PatternFrame& f, int childStep, int shotStep, double baseSpeed)
{
    if (!Every(f, 10)) return;
    const float a = AimAngle(f);
    for (int k = 0; k < 360; k += childStep) {
        const float v = Deg(k) + a;
        Child(58, f.x, f.y, v, v);
    }
    for (int p = 0; p < 360; p += shotStep) {
        for (int j = 0; j < 4; ++j) {
            Fire(f, {.kind = 3, .speed = Graded(baseSpeed, j, 0.2), .heading = Deg(p) + a});
        }
    }
}

static void Spokes22Band0(const PatternFrame& f)
{
    Spokes22(f, 60, 36, 2.0);
}

static void Spokes22Band1(const PatternFrame& f)
{
    Spokes22(f, 36, 20, 2.0);
}

static void Spokes22Band2(const PatternFrame& f)
{
    Spokes22(f, 24, 15, 2.0);
}

static void Spokes22Band3(const PatternFrame& f)
{
    Spokes22(f, 18, 12, 2.4);
}

// Kind-12 shots fanning out from the enemy's aim angle with falling speed.
static void Stream30(const PatternFrame& f, int count, double startSpeed, double turn, double spriteTurn)
{
    for (int j = 0; j < count; ++j) {
        const float speed = F32Sub(startSpeed, F32Mul(static_cast<float>(j), 0.2));
        const float heading = F32Mul(static_cast<float>(j), turn) + AimAngle(f);
        const float sprite = F32Mul(static_cast<float>(j), spriteTurn) + AimAngle(f);
        Fire(f, {.kind = 12, .speed = speed, .heading = heading, .A = sprite});
    }
}

static void Stream30Band1(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    AimAngleChild30(f);
    if (!EveryStrict(f, 6)) return;
    Stream30(f, 3, 3.2, 0.06, 0.06);
}

static void Stream30Band2(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    AimAngleChild30(f);
    if (!EveryStrict(f, 6)) return;
    Stream30(f, 4, 3.2, 0.1, 0.1);
}

// The sprites turn by 0.08 a shot while the headings turn by 0.1.
static void Stream30Band3(const PatternFrame& f)
{
    if (!Every(f, 2)) return;
    AimAngleChild30(f);
    const float turned = AimAngle(f) + 0.1f;
    Child(62, f.x, f.y, turned, turned);
    if (!EveryStrict(f, 6)) return;
    Stream30(f, 6, 3.6, 0.1, 0.08);
}

// A template-53 child sent back along the enemy's aim angle, then an aimed
// ring.
static void BackChildRing33(const PatternFrame& f, int moveTurn, int step, float speed)
{
    const float aim = Aim(f);
    const float aimAngle = Deg(180) + AimAngle(f);
    const float moveAngle = Deg(moveTurn) + AimAngle(f);
    Child(53, f.x, f.y, aimAngle, moveAngle);
    for (int k = 0; k < 360; k += step) {
        Fire(f, {.kind = 3, .speed = speed, .heading = Deg(k) + aim});
    }
}

static void Ring33Band0(const PatternFrame& f)
{
    if (!Every(f, 140)) return;
    BackChildRing33(f, 150, 60, 2.0f);
}

static void Ring33Band1(const PatternFrame& f)
{
    if (!Every(f, 140)) return;
    BackChildRing33(f, 180, 36, 2.0f);
}

static void Ring33Band2(const PatternFrame& f)
{
    if (!Every(f, 140)) return;
    BackChildRing33(f, 180, 20, 2.0f);
}

static void Ring33Band3(const PatternFrame& f)
{
    if (!Every(f, 80)) return;
    BackChildRing33(f, 180, 15, 3.0f);
}

// ------------------------------------------------------------------ formations

// One aimed child 20 pixels below the enemy, in one of four columns 20
// pixels apart that the clock steps through.
static void Column24(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    const float aim = Aim(f);
    const int32_t q = (f.clock % (4 * period)) / period;
    const float cx = (f.x - 30.0f) + static_cast<float>(20 * q);
    Child(59, cx, f.y + 20.0f, aim, aim);
}

static void Column24Band0(const PatternFrame& f)
{
    Column24(f, 10);
}

static void Column24Band1(const PatternFrame& f)
{
    Column24(f, 8);
}

static void Column24Band2(const PatternFrame& f)
{
    Column24(f, 5);
}

// Template-61 children above the top edge at fixed screen columns, heading
// straight down.
static void TopLine27(int from, int to, int step)
{
    for (int x = from; x < to; x += step) {
        Child(61, static_cast<float>(x), -30.0f, kDown, kDown);
    }
}

static void TopLine27Band01(const PatternFrame& f)
{
    if (!Every(f, 100)) return;
    TopLine27(145, 545, 50);
}

// Alternate firings fill the right and the left part of the top edge.
static void TopLine27Halves(const PatternFrame& f, int32_t period)
{
    if (!Every(f, period)) return;
    if (f.clock % (2 * period) == 0) {
        TopLine27(340, 540, 40);
    } else {
        TopLine27(140, 340, 40);
    }
}

static void TopLine27Band2(const PatternFrame& f)
{
    TopLine27Halves(f, 40);
}

static void TopLine27Band3(const PatternFrame& f)
{
    TopLine27Halves(f, 30);
}

// ------------------------------------------------------------------ backward child fans, curved streams, graded bursts

// Template-54 children leaving backwards: first those turned by +degrees
// from straight back (in the order given), then those turned by -degrees.
// The aim angle is read for each child.
static void BackFan14(const PatternFrame& f, const int* plus, int plusCount, const int* minus, int minusCount)
{
    for (int i = 0; i < plusCount; ++i) {
        const float v = (Deg(plus[i]) + AimAngle(f)) + kHalfTurn;
        Child(54, f.x, f.y, v, v);
    }
    for (int i = 0; i < minusCount; ++i) {
        const float v = (AimAngle(f) + kHalfTurn) - Deg(minus[i]);
        Child(54, f.x, f.y, v, v);
    }
}

static void BackFan14Of6(const PatternFrame& f)
{
    static constexpr int kPlus[] = {30, 20, 10};
    static constexpr int kMinus[] = {10, 20, 30};
    BackFan14(f, kPlus, 3, kMinus, 3);
}

// Two sets of nine bending streams of four bullets each, one frame apart: the
// first set bends by +bend degrees a bullet and leaves at once, the second
// starts at `secondStart`, bends the other way and leaves 8 frames later.
static void Streams14(const PatternFrame& f, float aim, uint16_t kind, float speed, int bend, int secondStart)
{
    for (int p = 0; p < 360; p += 40) {
        for (int j = 0; j < 4; ++j) {
            Fire(f, {.kind = kind, .speed = speed, .heading = Deg(p + bend * j) + aim, .age = static_cast<int16_t>(-j)});
        }
    }
    for (int p = secondStart; p < secondStart + 360; p += 40) {
        for (int j = 0; j < 4; ++j) {
            Fire(f, {.kind = kind,
                     .speed = speed,
                     .heading = Deg(p - bend * j) + aim,
                     .age = static_cast<int16_t>(-8 - j)});
        }
    }
}

// Bullets whose speed falls as base - j x step (double constants), on
// headings `offset + j` degrees either side of the aim, the pair mirrored.
struct BurstRow14 {
    uint16_t kind;
    int jFrom;
    int jTo;                // inclusive
    double step;
    int offset;             // degrees added to j
};

static void Burst14(const PatternFrame& f, float aim, double base, const BurstRow14* rows, int rowCount)
{
    for (int r = 0; r < rowCount; ++r) {
        const BurstRow14& row = rows[r];
        for (int j = row.jFrom; j <= row.jTo; ++j) {
            const float speed = F32Sub(base, F32Mul(static_cast<float>(j), row.step));
            Fire(f, {.kind = row.kind, .speed = speed, .heading = Deg(j + row.offset) + aim});
        }
        for (int j = row.jFrom; j <= row.jTo; ++j) {
            const float speed = F32Sub(base, F32Mul(static_cast<float>(j), row.step));
            Fire(f, {.kind = row.kind, .speed = speed, .heading = aim - Deg(j + row.offset)});
        }
    }
    // The centre line: three kind-6 bullets straight at the player.
    for (int j = 0; j < 3; ++j) {
        const float speed = F32Sub(base, F32Mul(static_cast<float>(j), 0.6));
        Fire(f, {.kind = 6, .speed = speed, .heading = aim});
    }
}

static void Curved14Band0(const PatternFrame& f)
{
    if (!EveryStrict(f, 80)) return;
    const float aim = Aim(f);
    if (f.clock % 160 == 0) {
        BackFan14Of6(f);
    } else {
        Streams14(f, aim, 1, 2.0f, 1, -20);
    }
}

// The tests go burst, then fan, then streams: a clock that is a multiple of
// both the burst and the fan period gives the burst.
static void Curved14Band1(const PatternFrame& f)
{
    if (!EveryStrict(f, 80)) return;
    const float aim = Aim(f);
    if (f.clock % 240 == 0) {
        static constexpr BurstRow14 kRows[] = {{2, 1, 3, 0.6, 2}, {4, 0, 2, 0.4, 1}};
        Burst14(f, aim, 5.0, kRows, 2);
    } else if (f.clock % 160 == 0) {
        BackFan14Of6(f);
    } else {
        Streams14(f, aim, 3, 2.4f, 2, -16);
    }
}

static void Curved14Band2(const PatternFrame& f)
{
    if (!EveryStrict(f, 60)) return;
    const float aim = Aim(f);
    if (f.clock % 180 == 0) {
        static constexpr BurstRow14 kRows[] = {{2, 2, 4, 0.6, 5}, {4, 1, 2, 0.4, 2}};
        Burst14(f, aim, 5.2, kRows, 2);
    } else if (f.clock % 120 == 0) {
        static constexpr int kPlus[] = {40, 30, 20, 10};
        static constexpr int kMinus[] = {10, 20, 30, 40};
        BackFan14(f, kPlus, 4, kMinus, 4);
    } else {
        Streams14(f, aim, 5, 2.6f, 4, -10);
    }
}

void RegisterChildReleases(PatternTable& t)
{
    t.Set(13, Release13);
    t.Set(1013, Release13);
    t.Set(2013, Release13);

    t.Set(14, Curved14Band0);
    t.Set(1014, Curved14Band1);
    t.Set(2014, Curved14Band2);

    t.Set(15, ReleaseEvery<15, 40>);
    t.Set(1015, ReleaseEvery<15, 25>);
    t.Set(2015, ReleaseEvery<15, 20>);
    t.Set(3015, ReleaseEvery<15, 15>);

    t.Set(16, Ring16Band0);
    t.Set(1016, Ring16Band1);
    t.Set(2016, Ring16Band2);
    t.Set(3016, Ring16Band3);

    t.Set(17, ReleaseEvery<16, 40>);
    t.Set(1017, ReleaseEvery<16, 25>);
    t.Set(2017, ReleaseEvery<16, 20>);

    t.Set(21, Release21);
    t.Set(1021, Release21);
    t.Set(2021, Release21);
    t.Set(3021, Release21);

    t.Set(22, Spokes22Band0);
    t.Set(1022, Spokes22Band1);
    t.Set(2022, Spokes22Band2);
    t.Set(3022, Spokes22Band3);

    t.Set(24, Column24Band0);
    t.Set(1024, Column24Band1);
    t.Set(2024, Column24Band2);

    t.Set(26, Release26);
    t.Set(1026, Release26);
    t.Set(2026, Release26);
    t.Set(3026, Release26);

    t.Set(27, TopLine27Band01);
    t.Set(1027, TopLine27Band01);
    t.Set(2027, TopLine27Band2);
    t.Set(3027, TopLine27Band3);

    t.Set(30, Release30Band0);
    t.Set(1030, Stream30Band1);
    t.Set(2030, Stream30Band2);
    t.Set(3030, Stream30Band3);

    t.Set(33, Ring33Band0);
    t.Set(1033, Ring33Band1);
    t.Set(2033, Ring33Band2);
    t.Set(3033, Ring33Band3);
}
