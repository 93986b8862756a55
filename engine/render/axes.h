#pragma once
// OrvaAxes: three axes and a position that turn about themselves and move,
// the placement that cameras, 3D primitive batches and models share, with
// the aiming rule they and particles use to face a direction.
#include <cstdint>

#include "engine/core/vector.h"

class OrvaMatrix;

class OrvaAxes {
public:
    virtual void Yaw(int32_t angle);     // RotateY
    virtual void Pitch(int32_t angle);   // RotateX
    virtual void Roll(int32_t angle);    // RotateZ
    // Turn the three axes about one of their own (OrvaAngle, low 16 bits
    // used): the rows right, up, front of M become those of R x M, from a
    // copy of M. The axes are left unnormalised.
    virtual void RotateX(int32_t angle);
    virtual void RotateY(int32_t angle);
    virtual void RotateZ(int32_t angle);
    virtual void Translate(float dx, float dy, float dz);   // world units

    // Copies of the axes and the position; a null out is ignored.
    void GetFront(OrvaVector* out) const;
    void GetUp(OrvaVector* out) const;
    void GetRight(OrvaVector* out) const;
    void GetPosition(OrvaVector* out) const;

    // Turns the pair (a, b) by the angle in their plane: a' = c a + s b,
    // b' = -s a + c b, sine and cosine from the engine's table.
    static void Turn(OrvaVector* a, OrvaVector* b, int32_t angle);
    // Right and up for a normalised front, from the up hint: right =
    // normalise(hint x front), up = normalise(front x right). Looking
    // straight up or down the hint is parallel to the front, so -Z or +Z
    // takes its place.
    static void Aim(const OrvaVector& front, const OrvaVector& hint, OrvaVector* right, OrvaVector* up);

protected:
    OrvaAxes() = default;
    // Not deleted through this class: the object it is part of owns it.
    ~OrvaAxes() = default;
    OrvaAxes(const OrvaAxes&) = default;
    OrvaAxes& operator=(const OrvaAxes&) = default;

    // Axes back to X, Y, Z and the position to the origin.
    void ResetAxes();
    // Each axis divided by its length (no zero-length test).
    void NormalizeAxes();
    // The placement as a matrix: rows (right, 0), (up, 0), (front, 0),
    // (position, 1).
    void GetPlacement(OrvaMatrix* out) const;

    OrvaVector front{0.0f, 0.0f, 1.0f};
    OrvaVector up{0.0f, 1.0f, 0.0f};
    OrvaVector right{1.0f, 0.0f, 0.0f};
    OrvaVector position{0.0f, 0.0f, 0.0f};
};
