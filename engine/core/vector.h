#pragma once
// OrvaVector: three floats and the vector operations of the engine.

class OrvaMatrix;

// Three floats x, y, z and nothing else, so that arrays of vectors can be
// handed around as arrays of three-float points.
class OrvaVector {
public:
    OrvaVector() = default;
    OrvaVector(float nx, float ny, float nz) : x(nx), y(ny), z(nz) {}
    OrvaVector(const OrvaVector& other) = default;

    void Set(float nx, float ny, float nz);
    OrvaVector& operator=(const OrvaVector& other) = default;

    float Dot(const OrvaVector& v) const;
    // this = a x b; either may be this vector.
    void Cross(const OrvaVector& a, const OrvaVector& b);
    float Length() const;
    float LengthSq() const;
    // Divides by the length. A zero vector has none: callers do not test
    // for it, and its components become non-numbers.
    void Normalize();
    void Normalize(const OrvaVector& v);
    // Multiplies each component by its own factor.
    void Scale(float sx, float sy, float sz);

    // this - b, returned in a vector that belongs to the operation: the next
    // subtraction on the same thread overwrites it, so keep the value (copy
    // it) before subtracting again. In particular (a - b).Dot(c - d) sees
    // one result twice. Each thread has its own, so threads do not disturb
    // each other.
    OrvaVector& operator-(const OrvaVector& b) const;
    // Adds v to this vector in place and returns it.
    OrvaVector& operator+=(const OrvaVector& v);

    // this = (v, 1) x m with w dropped: a point through an affine matrix.
    // v may be this vector.
    void Transform(const OrvaVector& v, const OrvaMatrix& m);
    void Transform(const OrvaMatrix& m);
    // this = (v, 1) x m divided by the resulting w: a point through a
    // projection. v may be this vector.
    void TransformCoord(const OrvaVector& v, const OrvaMatrix& m);
    // this = v x the upper 3 x 3 of m: a direction, no translation. v may be
    // this vector.
    void TransformNormal(const OrvaVector& v, const OrvaMatrix& m);
    void TransformNormal(const OrvaMatrix& m);

    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};
