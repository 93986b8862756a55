// OrvaVector: products, lengths and transforms of three-float vectors.
#include "engine/core/vector.h"

#include <cmath>
#include <type_traits>

#include "engine/core/matrix.h"

static_assert(sizeof(OrvaVector) == 3 * sizeof(float) && std::is_standard_layout_v<OrvaVector>,
              "a vector is three packed floats");

void OrvaVector::Set(float nx, float ny, float nz)
{
    x = nx;
    y = ny;
    z = nz;
}

float OrvaVector::Dot(const OrvaVector& v) const
{
    return x * v.x + y * v.y + z * v.z;
}

void OrvaVector::Cross(const OrvaVector& a, const OrvaVector& b)
{
    float nx = a.y * b.z - a.z * b.y;
    float ny = a.z * b.x - a.x * b.z;
    float nz = a.x * b.y - a.y * b.x;
    Set(nx, ny, nz);
}

float OrvaVector::Length() const
{
    return std::sqrt(LengthSq());
}

float OrvaVector::LengthSq() const
{
    return x * x + y * y + z * z;
}

void OrvaVector::Normalize()
{
    Normalize(*this);
}

void OrvaVector::Normalize(const OrvaVector& v)
{
    float length = v.Length();
    Set(v.x / length, v.y / length, v.z / length);
}

void OrvaVector::Scale(float sx, float sy, float sz)
{
    x *= sx;
    y *= sy;
    z *= sz;
}

OrvaVector& OrvaVector::operator-(const OrvaVector& b) const
{
    thread_local OrvaVector difference;
    difference.Set(x - b.x, y - b.y, z - b.z);
    return difference;
}

OrvaVector& OrvaVector::operator+=(const OrvaVector& v)
{
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
}

void OrvaVector::Transform(const OrvaVector& v, const OrvaMatrix& m)
{
    const float* e = m.GetData();
    float nx = v.x * e[0] + v.y * e[4] + v.z * e[8] + e[12];
    float ny = v.x * e[1] + v.y * e[5] + v.z * e[9] + e[13];
    float nz = v.x * e[2] + v.y * e[6] + v.z * e[10] + e[14];
    Set(nx, ny, nz);
}

void OrvaVector::Transform(const OrvaMatrix& m)
{
    Transform(*this, m);
}

void OrvaVector::TransformCoord(const OrvaVector& v, const OrvaMatrix& m)
{
    const float* e = m.GetData();
    float w = v.x * e[3] + v.y * e[7] + v.z * e[11] + e[15];
    Transform(v, m);
    Set(x / w, y / w, z / w);
}

void OrvaVector::TransformNormal(const OrvaVector& v, const OrvaMatrix& m)
{
    const float* e = m.GetData();
    float nx = v.x * e[0] + v.y * e[4] + v.z * e[8];
    float ny = v.x * e[1] + v.y * e[5] + v.z * e[9];
    float nz = v.x * e[2] + v.y * e[6] + v.z * e[10];
    Set(nx, ny, nz);
}

void OrvaVector::TransformNormal(const OrvaMatrix& m)
{
    TransformNormal(*this, m);
}
