// Wave spawners, aimed fans, rings and bullet arms: base ids 50 to 69.
#include "game/patterns/attack_pattern.h"
#include "game/patterns/pattern_kit.h"

// Waves enter from above the top edge of the field, out of sight.
static constexpr float kWaveY = -100.0f;

// Children keep their template's own angles when handed exactly 0.0.
static constexpr float kTemplateAngle = 0.0f;

static void WaveChild(int32_t templateId, float x)
{
    Child(templateId, x, kWaveY, kTemplateAngle, kTemplateAngle);
}

// ------------------------------------------------------------------ spawners at the top edge

// Two columns, taking turns on every other firing of a four-firing cycle.
static void Wave50(const PatternFrame& f)
{
    if (!Every(f, 17)) return;
    const int32_t k = f.clock / 17 % 4;
    if (k == 0) {
        WaveChild(121, 200.0f);
    } else if (k == 2) {
        WaveChild(121, 440.0f);
    }
}

// A centre column that rests for the first `rest` firings of twelve.
static void CentreColumn51(const PatternFrame& f, int32_t rest)
{
    if (!Every(f, 9)) return;
    const int32_t k = f.clock / 9 % 12;
    if (k >= 0 && k < rest) return;
    WaveChild(121, 320.0f);
}

static void Wave51Band01(const PatternFrame& f)
{
    CentreColumn51(f, 4);
}

static void Wave51Band23(const PatternFrame& f)
{
    CentreColumn51(f, 3);
}

// A line of four from the left edge, then half a cycle later from the right.
static void Wave52(const PatternFrame& f)
{
    if (!Every(f, 17)) return;
    const int32_t k = f.clock / 17 % 8;
    static constexpr float kFromLeft[] = {120.0f, 190.0f, 260.0f, 330.0f};
    static constexpr float kFromRight[] = {520.0f, 450.0f, 380.0f, 310.0f};
    const float* columns = k == 0 ? kFromLeft : k == 4 ? kFromRight : nullptr;
    if (columns == nullptr) return;
    for (int i = 0; i < 4; ++i) {
        WaveChild(121, columns[i]);
    }
}

// Two columns sweeping right and back in step over `period` firings; the end
// columns repeat on two firings in a row. The columns are whole pixels.
static void Sweep53(const PatternFrame& f, int32_t period, int32_t secondColumn)
{
    if (!Every(f, 9)) return;
    const int32_t k = f.clock / 9 % period;
    const int32_t m = k < period / 2 ? k : period - 1 - k;
    WaveChild(121, static_cast<float>(120 + 25 * m));
    WaveChild(121, static_cast<float>(secondColumn + 25 * m));
}

static void Wave53Band01(const PatternFrame& f)
{
    Sweep53(f, 16, 345);
}

static void Wave53Band23(const PatternFrame& f)
{
    Sweep53(f, 18, 320);
}

// One template-122 leader, then template-123 followers, down the centre.
static void Leader58(const PatternFrame& f, int32_t cycle)
{
    if (!Every(f, 17)) return;
    const int32_t k = f.clock / 17 % cycle;
    WaveChild(k == 0 ? 122 : 123, 320.0f);
}

static void Wave58Band01(const PatternFrame& f)
{
    Leader58(f, 5);
}

static void Wave58Band23(const PatternFrame& f)
{
    Leader58(f, 3);
}

// ------------------------------------------------------------------ aimed fans with children

// A pair of shots at aim - n and aim + n degrees, the left one first.
static void Pair(const PatternFrame& f, uint16_t kind, float speed, float aim, int degrees)
{
    Fire(f, {.kind = kind, .speed = speed, .heading = aim - Deg(degrees)});
    Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(degrees)});
}

// Two template-12 escorts peeling off 20 degrees to either side of the aim.
static void Escorts54(const PatternFrame& f, float aim)
{
    const float right = aim + Deg(20);
    Child(12, f.x, f.y, right, right);
    const float left = aim - Deg(20);
    Child(12, f.x, f.y, left, left);
}

static void Escort54Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    Escorts54(f, aim);
    Pair(f, 4, 3.0f, aim, 10);
}

static void Escort54Band1(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float aim = Aim(f);
    Escorts54(f, aim);
    Pair(f, 4, 3.2f, aim, 10);
    Pair(f, 2, 2.7f, aim, 20);
}

static void Escort54Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Escorts54(f, aim);
    Pair(f, 4, 3.6f, aim, 10);
    Pair(f, 2, 3.2f, aim, 20);
    Pair(f, 2, 2.9f, aim, 25);
}

static void Escort54Band3(const PatternFrame& f)
{
    if (!Every(f, 20)) return;
    const float aim = Aim(f);
    Escorts54(f, aim);
    Pair(f, 4, 3.6f, aim, 10);
    Pair(f, 2, 3.2f, aim, 20);
    Pair(f, 2, 3.2f, aim, 30);
}

static void Escort63Band0(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Child(12, f.x, f.y, Aim(f), Aim(f));
}

static void Escort63Band1(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Child(12, f.x, f.y, aim, aim);
    Fire(f, {.kind = 1, .speed = 2.6f, .heading = aim - Deg(10)});
    Fire(f, {.kind = 1, .speed = 2.6f, .heading = aim + Deg(10)});
    Fire(f, {.kind = 1, .speed = 2.6f, .heading = aim});
}

// A centre shot, then pairs widening by ten degrees out to `widest`.
static void CentreOutFan63(const PatternFrame& f, float aim, int widest)
{
    Fire(f, {.kind = 1, .speed = 2.6f, .heading = aim});
    for (int n = 10; n <= widest; n += 10) {
        Pair(f, 1, 2.6f, aim, n);
    }
}

static void Escort63Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    const float aim = Aim(f);
    Child(12, f.x, f.y, aim, aim);
    CentreOutFan63(f, aim, 20);
}

static void Escort63Band3(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    const float aim = Aim(f);
    Child(12, f.x, f.y, aim, aim);
    CentreOutFan63(f, aim, 30);
}

// ------------------------------------------------------------------ aimed fans and rings with a flash

// Shots at aim + k degrees for k from `from` while k < `to`, then a muzzle
// flash at the enemy.
static void FlashFan(const PatternFrame& f, uint16_t kind, float speed, int16_t life, int from, int to, int step)
{
    const float aim = Aim(f);
    for (int k = from; k < to; k += step) {
        Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(k), .life = life});
    }
    Effect(21, f.x, f.y);
}

static void Flash55Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    FlashFan(f, 1, 2.4f, 400, -5, 10, 5);
}

static void Flash55Band1(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    FlashFan(f, 1, 2.6f, 400, -4, 8, 4);
}

static void Flash55Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    FlashFan(f, 1, 2.8f, 400, -6, 9, 3);
}

static void Flash55Band3(const PatternFrame& f)
{
    if (!Every(f, 25)) return;
    FlashFan(f, 3, 3.2f, 400, -9, 12, 3);
}

// Slow rings live twice as long, so they cross the whole field.
static void Flash56Band0(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    FlashFan(f, 1, 1.2f, 800, 0, 360, 60);
}

static void Flash56Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    FlashFan(f, 1, 1.4f, 800, 0, 360, 36);
}

static void Flash56Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    FlashFan(f, 1, 1.5f, 800, 0, 360, 24);
}

static void Flash56Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    FlashFan(f, 3, 2.0f, 800, 0, 360, 18);
}

// ------------------------------------------------------------------ shots along the aim angle

// The gun sits 20 pixels below the enemy's centre.
static constexpr float kGunDrop = 20.0f;

// A burst down the enemy's aim angle from the gun, fastest first.
static void GunBurst57(const PatternFrame& f, float heading, const float* speeds, int count)
{
    const float gunY = f.y + kGunDrop;
    for (int i = 0; i < count; ++i) {
        FireFrom(f, f.x, gunY, {.kind = 4, .speed = speeds[i], .heading = heading, .life = 800});
    }
}

static void GunFlash57(const PatternFrame& f)
{
    Effect(18, f.x, f.y + kGunDrop);
}

static constexpr float kBurst57Band0[] = {4.0f};
static constexpr float kBurst57Band1[] = {4.4f, 4.3f, 4.2f};
static constexpr float kBurst57Band23[] = {4.8f, 4.7f, 4.6f, 4.5f, 4.4f};

static void Gun57Band0(const PatternFrame& f)
{
    if (!Every(f, 70)) return;
    GunBurst57(f, AimAngle(f), kBurst57Band0, 1);
    GunFlash57(f);
}

static void Gun57Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    GunBurst57(f, AimAngle(f), kBurst57Band1, 3);
    GunFlash57(f);
}

static void Gun57Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    GunBurst57(f, AimAngle(f), kBurst57Band23, 5);
    GunFlash57(f);
}

// The top band adds a short-lived fan from the enemy's own centre about the
// same aim angle.
static void Gun57Band3(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    const float heading = AimAngle(f);
    GunBurst57(f, heading, kBurst57Band23, 5);
    for (int k = -20; k < 30; k += 10) {
        Fire(f, {.kind = 1, .speed = 3.2f, .heading = heading + Deg(k)});
    }
    GunFlash57(f);
}

// ------------------------------------------------------------------ bullet arms

// A row of standing bullets along the second arm, each living one frame so
// that the row is laid afresh at the enemy's new position every call.
static void Arm(const PatternFrame& f, float angle, int from, int step)
{
    for (int d = from; d < 220; d += step) {
        Fire(f, {.kind = 4, .speed = 0.0f, .heading = angle, .life = 1, .r2 = static_cast<float>(d), .C = angle});
    }
}

static constexpr float kLeft = 3.1415927f;
static constexpr float kRight = 0.0f;

static void Arm59Band01(const PatternFrame& f)
{
    Arm(f, kLeft, 45, 25);
}

static void Arm59Band2(const PatternFrame& f)
{
    Arm(f, kLeft, 40, 20);
}

static void Arm60Band01(const PatternFrame& f)
{
    Arm(f, kRight, 45, 25);
}

static void Arm60Band2(const PatternFrame& f)
{
    Arm(f, kRight, 40, 20);
}

// ------------------------------------------------------------------ child along the aim angle

static void Launch61(const PatternFrame& f)
{
    if (!Every(f, 15)) return;
    Child(125, f.x, f.y, AimAngle(f), AimAngle(f));
}

// ------------------------------------------------------------------ single aimed shot

static void Shot62Band0(const PatternFrame& f)
{
    if (!Every(f, 60)) return;
    Fire(f, {.kind = 2, .speed = 1.6f, .heading = Aim(f)});
}

static void Shot62Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    Fire(f, {.kind = 2, .speed = 1.8f, .heading = Aim(f)});
}

static void Shot62Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    Fire(f, {.kind = 2, .speed = 2.0f, .heading = Aim(f)});
}

static void Shot62Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    Fire(f, {.kind = 4, .speed = 2.4f, .heading = Aim(f)});
}

// ------------------------------------------------------------------ three ways from the move angle

// Two kind-2 arms and a kind-4 third arm, 120 degrees apart.
static void ThreeWay64(const PatternFrame& f)
{
    for (int k = 0; k < 240; k += 120) {
        const float h = f.move + Deg(k);
        Fire(f, {.kind = 2, .speed = 2.0f, .heading = h, .A = h});
    }
    const float third = f.move + Deg(240);
    Fire(f, {.kind = 4, .speed = 2.0f, .heading = third, .A = third});
}

static void ThreeWay64Band01(const PatternFrame& f)
{
    if (!Every(f, 12)) return;
    ThreeWay64(f);
}

static void ThreeWay64Band23(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    ThreeWay64(f);
}

// ------------------------------------------------------------------ random bursts

// Each shot draws its own turn just before it is fired; within a group the
// speed falls by 0.08 a shot.
static void RandomGroup(const PatternFrame& f, float aim, uint16_t kind, double baseSpeed, int32_t range, int count)
{
    for (int i = 0; i < count; ++i) {
        const int32_t turn = Rnd(-range, range);
        // Counter speeds take double constants at single precision.
        const float speed = F32Sub(baseSpeed, F32Mul(static_cast<float>(i), 0.08));
        Fire(f, {.kind = kind, .speed = speed, .heading = aim + Deg(turn)});
    }
}

static void RandomBurst65(const PatternFrame& f, int wide, int middle, int narrow)
{
    const float aim = Aim(f);
    RandomGroup(f, aim, 1, 2.8, 60, wide);
    RandomGroup(f, aim, 4, 3.0, 40, middle);
    RandomGroup(f, aim, 8, 3.2, 30, narrow);
}

static void Random65Band0(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    RandomBurst65(f, 3, 2, 1);
}

static void Random65Band1(const PatternFrame& f)
{
    if (!Every(f, 50)) return;
    RandomBurst65(f, 4, 3, 2);
}

static void Random65Band2(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    RandomBurst65(f, 5, 3, 2);
}

static void Random65Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    RandomBurst65(f, 5, 4, 3);
}

// ------------------------------------------------------------------ fan of children

// The children face straight down the screen while they fan out about the aim.
static void ChildFan67(const PatternFrame& f, int from, int to, int step)
{
    if (!Every(f, 50)) return;
    const float aim = Aim(f);
    for (int k = from; k < to; k += step) {
        Child(144, f.x, f.y, Deg(90), aim + Deg(k));
    }
}

static void ChildFan67Band01(const PatternFrame& f)
{
    ChildFan67(f, -30, 60, 30);
}

static void ChildFan67Band2(const PatternFrame& f)
{
    ChildFan67(f, -40, 60, 20);
}

static void ChildFan67Band3(const PatternFrame& f)
{
    ChildFan67(f, -60, 80, 20);
}

// ------------------------------------------------------------------ speed-graded bursts

// Five shots down the aim, each 0.1 slower than the one before.
static void Graded68(const PatternFrame& f, double startSpeed)
{
    if (!Every(f, 40)) return;
    const float aim = Aim(f);
    for (int i = 0; i < 5; ++i) {
        const float speed = F32Sub(startSpeed, F32Mul(static_cast<float>(i), 0.1));
        Fire(f, {.kind = 8, .speed = speed, .heading = aim});
    }
}

static void Graded68Band01(const PatternFrame& f)
{
    Graded68(f, 3.0);
}

static void Graded68Band23(const PatternFrame& f)
{
    Graded68(f, 3.6);
}

// ------------------------------------------------------------------ rings of turned shots

static void TurnedRing69(const PatternFrame& f, float speed, int step)
{
    const float aim = Aim(f);
    for (int k = 0; k < 360; k += step) {
        const float h = aim + Deg(k);
        Fire(f, {.kind = 8, .speed = speed, .heading = h, .A = h});
    }
}

static void Ring69Band0(const PatternFrame& f)
{
    if (!Every(f, 40)) return;
    TurnedRing69(f, 2.4f, 30);
}

static void Ring69Band1(const PatternFrame& f)
{
    if (!Every(f, 35)) return;
    TurnedRing69(f, 2.4f, 20);
}

static void Ring69Band2(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    TurnedRing69(f, 2.6f, 15);
}

static void Ring69Band3(const PatternFrame& f)
{
    if (!Every(f, 30)) return;
    TurnedRing69(f, 2.8f, 10);
}

void RegisterWaveSpawners(PatternTable& t)
{
    for (int band = 0; band < 4; ++band) {
        const int b = band * kPatternBandSize;
        t.Set(b + 50, Wave50);
        t.Set(b + 51, band < 2 ? Wave51Band01 : Wave51Band23);
        t.Set(b + 52, Wave52);
        t.Set(b + 53, band < 2 ? Wave53Band01 : Wave53Band23);
        t.Set(b + 58, band < 2 ? Wave58Band01 : Wave58Band23);
        t.Set(b + 61, Launch61);
        t.Set(b + 64, band < 2 ? ThreeWay64Band01 : ThreeWay64Band23);
        t.Set(b + 68, band < 2 ? Graded68Band01 : Graded68Band23);
    }

    t.Set(54, Escort54Band0);
    t.Set(1054, Escort54Band1);
    t.Set(2054, Escort54Band2);
    t.Set(3054, Escort54Band3);

    t.Set(55, Flash55Band0);
    t.Set(1055, Flash55Band1);
    t.Set(2055, Flash55Band2);
    t.Set(3055, Flash55Band3);

    t.Set(56, Flash56Band0);
    t.Set(1056, Flash56Band1);
    t.Set(2056, Flash56Band2);
    t.Set(3056, Flash56Band3);

    t.Set(57, Gun57Band0);
    t.Set(1057, Gun57Band1);
    t.Set(2057, Gun57Band2);
    t.Set(3057, Gun57Band3);

    // The arms are not used at the top difficulty: 3059 and 3060 stay dead.
    t.Set(59, Arm59Band01);
    t.Set(1059, Arm59Band01);
    t.Set(2059, Arm59Band2);
    t.Set(60, Arm60Band01);
    t.Set(1060, Arm60Band01);
    t.Set(2060, Arm60Band2);

    t.Set(62, Shot62Band0);
    t.Set(1062, Shot62Band1);
    t.Set(2062, Shot62Band2);
    t.Set(3062, Shot62Band3);

    t.Set(63, Escort63Band0);
    t.Set(1063, Escort63Band1);
    t.Set(2063, Escort63Band2);
    t.Set(3063, Escort63Band3);

    t.Set(65, Random65Band0);
    t.Set(1065, Random65Band1);
    t.Set(2065, Random65Band2);
    t.Set(3065, Random65Band3);

    t.Set(67, ChildFan67Band01);
    t.Set(1067, ChildFan67Band01);
    t.Set(2067, ChildFan67Band2);
    t.Set(3067, ChildFan67Band3);

    t.Set(69, Ring69Band0);
    t.Set(1069, Ring69Band1);
    t.Set(2069, Ring69Band2);
    t.Set(3069, Ring69Band3);
}
