// The turning, aiming and placement rules of OrvaAxes.
#include "engine/render/axes.h"

#include "engine/core/math.h"
#include "engine/core/matrix.h"

namespace {

void CopyTo(const OrvaVector& v, OrvaVector* out)
{
    if (out != nullptr) {
        *out = v;
    }
}

}  // namespace

void OrvaAxes::GetFront(OrvaVector* out) const
{
    CopyTo(front, out);
}

void OrvaAxes::GetUp(OrvaVector* out) const
{
    CopyTo(up, out);
}

void OrvaAxes::GetRight(OrvaVector* out) const
{
    CopyTo(right, out);
}

void OrvaAxes::GetPosition(OrvaVector* out) const
{
    CopyTo(position, out);
}

void OrvaAxes::Turn(OrvaVector* a, OrvaVector* b, int32_t angle)
{
    const float c = OrvaMath::Cos(angle);
    const float s = OrvaMath::Sin(angle);
    const OrvaVector oldA = *a;
    const OrvaVector oldB = *b;
    a->Set(c * oldA.x + s * oldB.x, c * oldA.y + s * oldB.y, c * oldA.z + s * oldB.z);
    b->Set(-s * oldA.x + c * oldB.x, -s * oldA.y + c * oldB.y, -s * oldA.z + c * oldB.z);
}

void OrvaAxes::Aim(const OrvaVector& f, const OrvaVector& hint, OrvaVector* outRight, OrvaVector* outUp)
{
    OrvaVector u = hint;
    if (f.x == 0.0f && f.z == 0.0f && (f.y == 1.0f || f.y == -1.0f)) {
        u.Set(0.0f, 0.0f, -f.y);
    }
    // front x hint, normalised, then negated: hint x front without a second
    // rounding of the cross product.
    OrvaVector r;
    r.Cross(f, u);
    r.Normalize();
    r.Set(-r.x, -r.y, -r.z);
    OrvaVector v;
    v.Cross(f, r);
    v.Normalize();
    *outRight = r;
    *outUp = v;
}

void OrvaAxes::ResetAxes()
{
    front.Set(0.0f, 0.0f, 1.0f);
    up.Set(0.0f, 1.0f, 0.0f);
    right.Set(1.0f, 0.0f, 0.0f);
    position.Set(0.0f, 0.0f, 0.0f);
}

void OrvaAxes::NormalizeAxes()
{
    right.Normalize();
    up.Normalize();
    front.Normalize();
}

void OrvaAxes::Yaw(int32_t angle)
{
    RotateY(angle);
}

void OrvaAxes::Pitch(int32_t angle)
{
    RotateX(angle);
}

void OrvaAxes::Roll(int32_t angle)
{
    RotateZ(angle);
}

// RotationX, Y and Z each mix the two axes that leave the plane of the turn
// and keep the third: up and front for X, front and right for Y (right' =
// c right - s front), right and up for Z.
void OrvaAxes::RotateX(int32_t angle)
{
    Turn(&up, &front, angle);
}

void OrvaAxes::RotateY(int32_t angle)
{
    Turn(&front, &right, angle);
}

void OrvaAxes::RotateZ(int32_t angle)
{
    Turn(&right, &up, angle);
}

void OrvaAxes::Translate(float dx, float dy, float dz)
{
    position.Set(position.x + dx, position.y + dy, position.z + dz);
}

void OrvaAxes::GetPlacement(OrvaMatrix* out) const
{
    const float rows[16] = {right.x,    right.y,    right.z,    0.0f,  //
                            up.x,       up.y,       up.z,       0.0f,  //
                            front.x,    front.y,    front.z,    0.0f,  //
                            position.x, position.y, position.z, 1.0f};
    out->Set(rows);
}
