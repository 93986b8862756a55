// OrvaMatrix: the 4 x 4 matrix operations over the platform's maths.
#include "engine/core/matrix.h"

#include <cassert>
#include <cstring>

#include "engine/core/math.h"
#include "platform/gfx/soft_device.h"

static_assert(sizeof(OrvaMatrix) == 64 && alignof(OrvaMatrix) == 16, "sixteen aligned floats, nothing else");
static_assert(sizeof(platform::Mat4) == sizeof(float) * 16, "Mat4 is sixteen floats row by row");
static_assert(sizeof(platform::Matrix4) == sizeof(float) * 16, "Matrix4 is sixteen floats row by row");

float OrvaMatrix::GetElement(int32_t row, int32_t column) const
{
    assert(row >= 1 && row <= 4 && column >= 1 && column <= 4);
    return elements[(row - 1) * 4 + (column - 1)];
}

void OrvaMatrix::SetElement(int32_t row, int32_t column, float value)
{
    assert(row >= 1 && row <= 4 && column >= 1 && column <= 4);
    elements[(row - 1) * 4 + (column - 1)] = value;
}

void OrvaMatrix::Identity()
{
    Store(platform::MatrixIdentity());
}

OrvaMatrix& OrvaMatrix::operator=(const platform::Mat4& other)
{
    Store(other);
    return *this;
}

OrvaMatrix& OrvaMatrix::operator=(const platform::Matrix4& other)
{
    std::memcpy(elements, other.m, sizeof elements);
    return *this;
}

void OrvaMatrix::Set(const float* values)
{
    std::memmove(elements, values, sizeof elements);
}

platform::Mat4 OrvaMatrix::ToMat4() const
{
    platform::Mat4 m;
    std::memcpy(m.m, elements, sizeof elements);
    return m;
}

void OrvaMatrix::Store(const platform::Mat4& m)
{
    std::memcpy(elements, m.m, sizeof elements);
}

void OrvaMatrix::Multiply(const OrvaMatrix& a, const OrvaMatrix& b)
{
    Store(platform::MatrixMultiply(a.ToMat4(), b.ToMat4()));
}

void OrvaMatrix::Multiply(const OrvaMatrix& m)
{
    Multiply(*this, m);
}

OrvaMatrix& OrvaMatrix::operator*=(const OrvaMatrix& m)
{
    Multiply(*this, m);
    return *this;
}

void OrvaMatrix::Transpose()
{
    Transpose(*this);
}

void OrvaMatrix::Transpose(const OrvaMatrix& m)
{
    Store(platform::MatrixTranspose(m.ToMat4()));
}

void OrvaMatrix::Inverse()
{
    Inverse(*this);
}

void OrvaMatrix::Inverse(const OrvaMatrix& m)
{
    platform::Mat4 result;
    if (platform::MatrixInverse(result, m.ToMat4()) != 0.0f) {
        Store(result);
    }
}

void OrvaMatrix::RotationX(int32_t angle)
{
    float s = OrvaMath::Sin(angle);
    float c = OrvaMath::Cos(angle);
    Identity();
    SetElement(2, 2, c);
    SetElement(2, 3, s);
    SetElement(3, 2, -s);
    SetElement(3, 3, c);
}

void OrvaMatrix::RotationY(int32_t angle)
{
    float s = OrvaMath::Sin(angle);
    float c = OrvaMath::Cos(angle);
    Identity();
    SetElement(1, 1, c);
    SetElement(1, 3, -s);
    SetElement(3, 1, s);
    SetElement(3, 3, c);
}

void OrvaMatrix::RotationZ(int32_t angle)
{
    float s = OrvaMath::Sin(angle);
    float c = OrvaMath::Cos(angle);
    Identity();
    SetElement(1, 1, c);
    SetElement(1, 2, s);
    SetElement(2, 1, -s);
    SetElement(2, 2, c);
}

void OrvaMatrix::RotationEuler(int32_t a, int32_t b, int32_t c)
{
    // X first, then Y, then Z, as row vectors meet them.
    OrvaMatrix y;
    OrvaMatrix z;
    RotationX(a);
    y.RotationY(b);
    z.RotationZ(c);
    Multiply(y);
    Multiply(z);
}

void OrvaMatrix::RotationQuaternion(const float* q)
{
    RotationQuaternion(platform::Quat{q[0], q[1], q[2], q[3]});
}

void OrvaMatrix::RotationQuaternion(const platform::Quat& q)
{
    Store(platform::MatrixRotationQuat(q));
}

void OrvaMatrix::Scaling(float x, float y, float z)
{
    Store(platform::MatrixScaling(x, y, z));
}

void OrvaMatrix::Translation(float x, float y, float z)
{
    Store(platform::MatrixTranslation(x, y, z));
}
