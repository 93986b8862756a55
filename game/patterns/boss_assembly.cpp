// Boss assembly and child-enemy launchers: the child patterns of base ids 200 to 231.
#include "game/patterns/pattern_kit.h"

// Straight down the screen, toward the player's side.
static constexpr float kDown = 1.5707964f;

// A child that looks and heads the same way.
static int32_t ChildAt(int32_t templateId, float x, float y, float angle)
{
    return Child(templateId, x, y, angle, angle);
}

// ------------------------------------------------------------------ boss assembly

// The five parts of the boss go into fixed slots 1 to 5, whatever those
// hold, on a row at y 120; each part's step and hp are set right after its
// spawn, so the centre and the wings start on their own steps with 100 hp
// while the left part keeps the template's.
static void Assemble201(const PatternFrame& f)
{
    if (!Every(f, 8)) return;
    Child(128, 270.0f, 120.0f, 0.0f, kDown, 1);
    Child(128, 370.0f, 120.0f, 0.0f, kDown, 2);
    g_enemies[2].stepIndex = 5;
    Child(128, 320.0f, 120.0f, 0.0f, kDown, 3);
    g_enemies[3].stepIndex = 10;
    g_enemies[3].hp = 100;
    Child(128, 220.0f, 120.0f, 0.0f, kDown, 4);
    g_enemies[4].stepIndex = 10;
    g_enemies[4].hp = 100;
    Child(128, 420.0f, 120.0f, 0.0f, kDown, 5);
    g_enemies[5].stepIndex = 10;
    g_enemies[5].hp = 100;
    Sound(11);
}

// ------------------------------------------------------------------ aimed children

// One child 40 degrees off the aim, the side alternating every firing.
static void Aimed203(const PatternFrame& f)
{
    if (!EveryStrict(f, 40)) return;
    const float aim = Aim(f);
    if (f.clock % 80 == 0) {
        ChildAt(148, f.x, f.y, aim + Deg(40));
    } else {
        ChildAt(148, f.x, f.y, aim - Deg(40));
    }
}

static void Aimed211(const PatternFrame& f)
{
    if (!EveryStrict(f, 24)) return;
    const float aim = Aim(f);
    ChildAt(148, f.x, f.y, aim);
}

// Children at the aim and then in pairs `spread`, 2 x `spread`, ... degrees
// to either side, plus side first.
static void AimedFan220(const PatternFrame& f, float aim, int32_t spread, int32_t pairs)
{
    ChildAt(174, f.x, f.y, aim);
    for (int32_t p = 1; p <= pairs; ++p) {
        ChildAt(174, f.x, f.y, aim + Deg(spread * p));
        ChildAt(174, f.x, f.y, aim - Deg(spread * p));
    }
}

// A ring of sprite-turned bullets about the aim, offset so that it falls
// between the children.
static void Ring220(const PatternFrame& f, float aim, float speed, int32_t from, int32_t step)
{
    for (int32_t k = from; k < from + 360; k += step) {
        const float h = aim + Deg(k);
        Fire(f, {.kind = 11, .speed = speed, .heading = h, .A = h});
    }
}

static void Aimed220Band0(const PatternFrame& f)
{
    if (!EveryStrict(f, 40)) return;
    const float aim = Aim(f);
    AimedFan220(f, aim, 60, 1);
}

static void Aimed220Band1(const PatternFrame& f)
{
    if (!EveryStrict(f, 40)) return;
    const float aim = Aim(f);
    AimedFan220(f, aim, 60, 1);
    Ring220(f, aim, 2.0f, 30, 60);
}

static void Aimed220Band2(const PatternFrame& f)
{
    if (!EveryStrict(f, 30)) return;
    const float aim = Aim(f);
    AimedFan220(f, aim, 50, 1);
    Ring220(f, aim, 2.4f, 15, 30);
}

static void Aimed220Band3(const PatternFrame& f)
{
    if (!EveryStrict(f, 30)) return;
    const float aim = Aim(f);
    AimedFan220(f, aim, 40, 2);
    Ring220(f, aim, 2.4f, 10, 20);
}

// A ring of children about the aim on every call.
static void Ring222(const PatternFrame& f, int32_t step)
{
    const float aim = Aim(f);
    for (int32_t k = 0; k < 360; k += step) {
        ChildAt(176, f.x, f.y, aim + Deg(k));
    }
}

static void Ring222Band0(const PatternFrame& f)
{
    Ring222(f, 120);
}

static void Ring222Band12(const PatternFrame& f)
{
    Ring222(f, 90);
}

static void Ring222Band3(const PatternFrame& f)
{
    Ring222(f, 60);
}

// ------------------------------------------------------------------ children at fixed places and angles

static void Pair212(const PatternFrame& f)
{
    if (!At(f, 20)) return;
    ChildAt(148, 170.0f, 60.0f, kDown);
    ChildAt(148, 470.0f, 60.0f, kDown);
}

static void Cross219(const PatternFrame& f)
{
    if (!At(f, 20)) return;
    ChildAt(173, f.x + 120.0f, f.y, kDown);
    ChildAt(173, f.x - 120.0f, f.y, kDown);
    ChildAt(173, f.x, f.y + 50.0f, kDown);
    ChildAt(173, f.x, f.y - 50.0f, kDown);
}

// Children enter from alternate top corners, each firing 20 pixels lower
// than the one before.
static void Corner226(const PatternFrame& f)
{
    if (!EveryStrict(f, 40)) return;
    const int32_t x = f.clock % 80 == 0 ? 140 : 500;
    const int32_t y = 20 * (f.clock / 40 + 1);
    ChildAt(181, static_cast<float>(x), static_cast<float>(y), kDown);
}

// The aim angle is read for every child: a child placed in the running
// enemy's own slot (a full table) turns the ones after it.
static void Cross229(const PatternFrame& f)
{
    if (!At(f, 15)) return;
    for (int32_t k = 0; k < 360; k += 90) {
        ChildAt(184, f.x, f.y, AimAngle(f) + Deg(k));
    }
}

// ------------------------------------------------------------------ children along the move angle

static void Trail204(const PatternFrame& f, int32_t period)
{
    if (!EveryStrict(f, period)) return;
    Effect(25, f.x, f.y);
    ChildAt(149, f.x, f.y, f.move);
}

static void Trail204Band0(const PatternFrame& f)
{
    Trail204(f, 12);
}

static void Trail204Band1(const PatternFrame& f)
{
    Trail204(f, 10);
}

static void Trail204Band23(const PatternFrame& f)
{
    Trail204(f, 8);
}

// ------------------------------------------------------------------ random children

// A pulse on its own beat, made whether or not the firing that follows it
// in the same call passes its gate.
static void Pulse(const PatternFrame& f, int32_t kind)
{
    if (EveryStrict(f, 16)) {
        Effect(kind, f.x, f.y);
    }
}

// One child below the enemy looking and heading at random: the move angle
// is drawn first.
static void Random205(const PatternFrame& f)
{
    Pulse(f, 24);
    if (!At(f, 10)) return;
    const int32_t r1 = Rnd(0, 360);
    const int32_t r2 = Rnd(0, 360);
    Child(161, f.x, f.y + 50.0f, Deg(r2), Deg(r1));
}

// One child on a circle of 40 pixels about the enemy, heading outward.
static void Random208(const PatternFrame& f, int32_t period)
{
    Pulse(f, 26);
    if (!EveryStrict(f, period)) return;
    const float theta = Deg(Rnd(0, 360));
    ChildAt(164, Cos(theta) * 40.0f + f.x, Sin(theta) * 40.0f + f.y, theta);
}

static void Random208Band0(const PatternFrame& f)
{
    Random208(f, 24);
}

static void Random208Band1(const PatternFrame& f)
{
    Random208(f, 18);
}

static void Random208Band2(const PatternFrame& f)
{
    Random208(f, 12);
}

static void Random208Band3(const PatternFrame& f)
{
    Random208(f, 8);
}

static void Random215(const PatternFrame& f)
{
    if (!EveryStrict(f, 10)) return;
    const float theta = Deg(Rnd(0, 360));
    ChildAt(172, f.x, f.y, theta);
    Effect(25, f.x, f.y);
}

// A child dropped at a random place near the top, on a 20-pixel grid. The
// two grid columns on the field's edges are pulled one pixel inside, since
// an enemy at x 120 or 520 exactly would never fire.
static void Random217(const PatternFrame& f, int32_t period)
{
    Pulse(f, 26);
    if (!EveryStrict(f, period)) return;
    int32_t x = 20 * (Rnd(0, 20) + 6);
    const int32_t y = Rnd(2, 50);
    if (x <= 120) {
        x = 121;
    } else if (x >= 520) {
        x = 519;
    }
    const float cx = static_cast<float>(x);
    const float cy = static_cast<float>(y);
    ChildAt(164, cx, cy, Deg(90));
    Effect(25, cx, cy);
}

static void Random217Band01(const PatternFrame& f)
{
    Random217(f, 12);
}

static void Random217Band2(const PatternFrame& f)
{
    Random217(f, 10);
}

static void Random217Band3(const PatternFrame& f)
{
    Random217(f, 8);
}

// Children in random directions; every other one (on the beat `beat`) is
// sent on to its template's step 10.
static void Random228(const PatternFrame& f, int32_t period, int32_t beat)
{
    if (!EveryStrict(f, period)) return;
    const float theta = Deg(Rnd(0, 360));
    const int32_t child = ChildAt(178, f.x, f.y, theta);
    if (f.clock % beat == 0) {
        g_enemies[child].stepIndex = 10;
    }
}

static void Random228Band0(const PatternFrame& f)
{
    Random228(f, 8, 16);
}

static void Random228Band1(const PatternFrame& f)
{
    Random228(f, 6, 12);
}

static void Random228Band2(const PatternFrame& f)
{
    Random228(f, 5, 10);
}

static void Random228Band3(const PatternFrame& f)
{
    Random228(f, 4, 8);
}

// A child at a random offset in a box about the enemy, with a random move
// angle drawn before a random aim angle.
static void Random230(const PatternFrame& f, int32_t period, int32_t reachX, int32_t reachY)
{
    Pulse(f, 26);
    if (!EveryStrict(f, period)) return;
    const int32_t r1 = Rnd(-reachX, reachX);
    const int32_t r2 = Rnd(-reachY, reachY);
    const int32_t r3 = Rnd(0, 360);
    const int32_t r4 = Rnd(0, 360);
    Child(183, f.x + static_cast<float>(r1), f.y + static_cast<float>(r2), Deg(r4), Deg(r3));
}

static void Random230Band0(const PatternFrame& f)
{
    Random230(f, 24, 150, 50);
}

static void Random230Band1(const PatternFrame& f)
{
    Random230(f, 18, 150, 50);
}

static void Random230Band2(const PatternFrame& f)
{
    Random230(f, 14, 180, 80);
}

static void Random230Band3(const PatternFrame& f)
{
    Random230(f, 8, 180, 100);
}

// ------------------------------------------------------------------ ring of child pairs

// Thirty pairs fly out together; the second of each pair goes on to step 10
// at once, so the ring splits into two behaviours.
static void Pairs224(const PatternFrame& f)
{
    Pulse(f, 26);
    if (!At(f, 20)) return;
    for (int32_t k = 0; k < 360; k += 12) {
        const float a = Deg(k);
        ChildAt(178, f.x, f.y, a);
        const int32_t second = ChildAt(178, f.x, f.y, a);
        g_enemies[second].stepIndex = 10;
    }
}

void RegisterBossAssembly(PatternTable& t)
{
    t.Set(201, Assemble201);
    t.Set(1201, Assemble201);
    t.Set(2201, Assemble201);

    t.Set(204, Trail204Band0);
    t.Set(1204, Trail204Band1);
    t.Set(2204, Trail204Band23);
    t.Set(3204, Trail204Band23);

    t.Set(208, Random208Band0);
    t.Set(1208, Random208Band1);
    t.Set(2208, Random208Band2);
    t.Set(3208, Random208Band3);

    t.Set(215, Random215);
    t.Set(219, Cross219);
    t.Set(226, Corner226);

    t.Set(217, Random217Band01);
    t.Set(1217, Random217Band01);
    t.Set(2217, Random217Band2);
    t.Set(3217, Random217Band3);

    t.Set(220, Aimed220Band0);
    t.Set(1220, Aimed220Band1);
    t.Set(2220, Aimed220Band2);
    t.Set(3220, Aimed220Band3);

    t.Set(222, Ring222Band0);
    t.Set(1222, Ring222Band12);
    t.Set(2222, Ring222Band12);
    t.Set(3222, Ring222Band3);

    t.Set(228, Random228Band0);
    t.Set(1228, Random228Band1);
    t.Set(2228, Random228Band2);
    t.Set(3228, Random228Band3);

    t.Set(230, Random230Band0);
    t.Set(1230, Random230Band1);
    t.Set(2230, Random230Band2);
    t.Set(3230, Random230Band3);

    for (int band = 0; band < 4; ++band) {
        const int b = 1000 * band;
        t.Set(b + 203, Aimed203);
        t.Set(b + 205, Random205);
        t.Set(b + 211, Aimed211);
        t.Set(b + 212, Pair212);
        t.Set(b + 224, Pairs224);
        t.Set(b + 229, Cross229);
    }
}
