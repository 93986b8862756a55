#pragma once
// Angles as OrvaAngle values with the engine's sine and arctangent tables,
// and the turns of a point.
#include <cstdint>

// An angle in 1/65536 of a full turn. Angles are handed around as plain
// integers and only their low 16 bits count, so adding turns wraps for free.
typedef uint16_t OrvaAngle;

// The engine's table sine, cosine and arctangent. Sin and Cos read a
// 65,536-entry table of floats, one per OrvaAngle step; the tables are built
// by Initialize and freed by Destroy. Before Initialize (or after Destroy)
// every query computes the same entry directly, so results never depend on
// whether the module is up, only the speed does.
class OrvaMath {
public:
    // Builds the sine and arctangent tables; false when they cannot be
    // allocated (the queries then keep computing their entries).
    static bool Initialize();
    static void Destroy();

    // The table sine of the angle's low 16 bits; 0, 16384, 32768 and 49152
    // give exactly 0, 1, 0 and -1.
    static float Sin(int32_t angle);
    // The table sine a quarter turn further on.
    static float Cos(int32_t angle);
    // The low 16 bits: the same direction within one turn.
    static OrvaAngle Angle(int32_t value);
    // Turns (x, y) by the angle about the origin, counter-clockwise with y
    // up: x' = c x - s y, y' = s x + c y.
    static void RotatePoint(float& x, float& y, int32_t angle);
    // The direction of (x, y) as an angle, 0 along +x and 16384 along +y,
    // as atan2(y, x) in turns: within one unit of the exact direction. (0, 0)
    // and non-numbers give 0.
    static OrvaAngle Atan2(float y, float x);
};
