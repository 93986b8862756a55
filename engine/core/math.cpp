// Angles: the sine and arctangent tables and the turns made from them.
#include "engine/core/math.h"

#include <cmath>
#include <new>

constexpr int32_t kSineEntries = 65536;
constexpr int32_t kQuarterTurn = 16384;
constexpr int32_t kHalfTurn = 32768;
// The arctangent table covers tan in [0, 1] (the first half quadrant) in
// this many steps; the other seven half quadrants are mirrors of it. A step
// of 1/16384 keeps the looked-up angle within a third of a unit of the
// exact one before rounding.
constexpr int32_t kAtanSteps = 16384;
constexpr double kTwoPi = 6.283185307179586476925286766559;

static float* sineTable = nullptr;       // kSineEntries floats
static OrvaAngle* atanTable = nullptr;   // kAtanSteps + 1 angles, atan(i / kAtanSteps)

// Only the first quadrant is computed: the other three are its mirrors,
// so quarter turns come out exact and Sin(a + 32768) == -Sin(a) bit for bit.
static float QuadrantSine(int32_t step)
{
    if (step == kQuarterTurn) {
        return 1.0f;
    }
    return float(std::sin(double(step) * kTwoPi / double(kSineEntries)));
}

static float SineEntry(int32_t index)
{
    int32_t quadrant = index >> 14;
    int32_t step = index & (kQuarterTurn - 1);
    switch (quadrant) {
    case 0:
        return QuadrantSine(step);
    case 1:
        return QuadrantSine(kQuarterTurn - step);
    case 2:
        return -QuadrantSine(step);
    default:
        return -QuadrantSine(kQuarterTurn - step);
    }
}

static OrvaAngle AtanEntry(int32_t index)
{
    double turns = std::atan(double(index) / double(kAtanSteps)) / kTwoPi;
    return OrvaAngle(std::lround(turns * double(kSineEntries)));
}

// The angle of tan = ratio for a ratio in [0, 1].
static int32_t AtanOfRatio(float ratio)
{
    int32_t index = 0;
    if (ratio >= 1.0f) {
        index = kAtanSteps;
    } else if (ratio > 0.0f) {
        index = int32_t(ratio * float(kAtanSteps) + 0.5f);
    }
    return atanTable ? atanTable[index] : AtanEntry(index);
}

bool OrvaMath::Initialize()
{
    Destroy();
    sineTable = new (std::nothrow) float[kSineEntries];
    atanTable = new (std::nothrow) OrvaAngle[kAtanSteps + 1];
    if (!sineTable || !atanTable) {
        Destroy();
        return false;
    }
    for (int32_t i = 0; i < kSineEntries; ++i) {
        sineTable[i] = SineEntry(i);
    }
    for (int32_t i = 0; i <= kAtanSteps; ++i) {
        atanTable[i] = AtanEntry(i);
    }
    return true;
}

void OrvaMath::Destroy()
{
    delete[] sineTable;
    sineTable = nullptr;
    delete[] atanTable;
    atanTable = nullptr;
}

float OrvaMath::Sin(int32_t angle)
{
    int32_t index = angle & 0xFFFF;
    return sineTable ? sineTable[index] : SineEntry(index);
}

float OrvaMath::Cos(int32_t angle)
{
    // Unsigned so that angles near INT32_MAX wrap instead of overflowing.
    return Sin(int32_t((uint32_t(angle) + kQuarterTurn) & 0xFFFF));
}

OrvaAngle OrvaMath::Angle(int32_t value)
{
    return OrvaAngle(value & 0xFFFF);
}

void OrvaMath::RotatePoint(float& x, float& y, int32_t angle)
{
    float s = Sin(angle);
    float c = Cos(angle);
    float nx = c * x - s * y;
    float ny = s * x + c * y;
    x = nx;
    y = ny;
}

OrvaAngle OrvaMath::Atan2(float y, float x)
{
    float ax = std::fabs(x);
    float ay = std::fabs(y);
    if (std::isnan(ax) || std::isnan(ay) || (ax == 0.0f && ay == 0.0f)) {
        return 0;
    }
    // Fold the direction into the first half quadrant (tan in [0, 1]),
    // look it up there, then unfold.
    int32_t angle = 0;
    if (ay <= ax) {
        angle = AtanOfRatio(std::isinf(ax) ? (std::isinf(ay) ? 1.0f : 0.0f) : ay / ax);
    } else {
        angle = kQuarterTurn - AtanOfRatio(std::isinf(ay) ? 0.0f : ax / ay);
    }
    if (x < 0.0f) {
        angle = kHalfTurn - angle;
    }
    if (y < 0.0f) {
        angle = -angle;
    }
    return OrvaAngle(angle & 0xFFFF);
}
