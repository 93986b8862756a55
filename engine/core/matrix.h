#pragma once
// OrvaMatrix: a 4 x 4 float matrix held aligned inside the object.
#include <cstdint>

#include "platform/gfx/math3d.h"

namespace platform {
struct Matrix4;
}

// A 4 x 4 float matrix in the device's convention: row-major, row vectors
// multiplied on the left (p' = p x M), so "A then B" is A x B and row 4
// holds the translation. Elements are addressed (row, column) from 1.
// Angles are OrvaAngle values passed as integers (low 16 bits, 65536 = a
// full turn) whose sine and cosine come from OrvaMath's table.
class OrvaMatrix {
public:
    // The sixteen elements are left uninitialised: matrices are made in
    // bulk and are always written before use. Write OrvaMatrix m{} for zeros.
    OrvaMatrix() = default;
    OrvaMatrix(const OrvaMatrix& other) = default;

    // The sixteen floats row by row, for the device and the platform maths.
    float* GetData() { return elements; }
    const float* GetData() const { return elements; }
    // row and column from 1 to 4.
    float GetElement(int32_t row, int32_t column) const;
    void SetElement(int32_t row, int32_t column, float value);

    void Identity();
    OrvaMatrix& operator=(const OrvaMatrix& other) = default;
    OrvaMatrix& operator=(const platform::Mat4& other);
    // A transform as the device hands it back.
    OrvaMatrix& operator=(const platform::Matrix4& other);
    // Copies sixteen floats, row by row.
    void Set(const float* values);
    // The same contents as a platform matrix, for the platform maths.
    platform::Mat4 ToMat4() const;

    // this = a x b; either may be this matrix.
    void Multiply(const OrvaMatrix& a, const OrvaMatrix& b);
    // this = this x m.
    void Multiply(const OrvaMatrix& m);
    OrvaMatrix& operator*=(const OrvaMatrix& m);
    void Transpose();
    void Transpose(const OrvaMatrix& m);
    // this = the inverse of m. Callers do not test the determinant: a
    // singular matrix has no inverse and leaves this matrix as it was.
    void Inverse();
    void Inverse(const OrvaMatrix& m);

    // Quarter turns take +Y to +Z (X), +Z to +X (Y) and +X to +Y (Z):
    // X: m22 = c, m23 = s, m32 = -s, m33 = c; Y: m11 = c, m13 = -s,
    // m31 = s, m33 = c; Z: m11 = c, m12 = s, m21 = -s, m22 = c; the other
    // elements those of the identity.
    void RotationX(int32_t angle);
    void RotationY(int32_t angle);
    void RotationZ(int32_t angle);
    // Turns by a about X, then by b about Y, then by c about Z (applied to a
    // row vector in that order): this = RotationX(a) x RotationY(b) x
    // RotationZ(c).
    void RotationEuler(int32_t a, int32_t b, int32_t c);
    // The rotation of the unit quaternion q = (x, y, z, w).
    void RotationQuaternion(const float* q);
    void RotationQuaternion(const platform::Quat& q);
    // Diagonal (x, y, z, 1).
    void Scaling(float x, float y, float z);
    // The identity with row 4 = (x, y, z, 1).
    void Translation(float x, float y, float z);

private:
    void Store(const platform::Mat4& m);

    // Aligned for the vector loads of the software device's transform path.
    alignas(16) float elements[16];
};
