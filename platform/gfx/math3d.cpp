#include "platform/gfx/math3d.h"

#include <cmath>
#include <limits>

namespace platform {

// ---------------------------------------------------------------- Vec2

Vec2 operator+(const Vec2& a, const Vec2& b) { return {a.x + b.x, a.y + b.y}; }
Vec2 operator-(const Vec2& a, const Vec2& b) { return {a.x - b.x, a.y - b.y}; }
Vec2 operator*(const Vec2& v, float s) { return {v.x * s, v.y * s}; }
float Dot(const Vec2& a, const Vec2& b) { return a.x * b.x + a.y * b.y; }
float Cross(const Vec2& a, const Vec2& b) { return a.x * b.y - a.y * b.x; }
float LengthSq(const Vec2& v) { return Dot(v, v); }
float Length(const Vec2& v) { return std::sqrt(LengthSq(v)); }

Vec2 Normalize(const Vec2& v)
{
    float length = Length(v);
    if (length == 0.0f) {
        return {};
    }
    return v * (1.0f / length);
}

Vec2 Lerp(const Vec2& a, const Vec2& b, float t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

Vec4 Transform(const Vec2& v, const Mat4& m)
{
    Vec4 r;
    r.x = v.x * m.m[0][0] + v.y * m.m[1][0] + m.m[3][0];
    r.y = v.x * m.m[0][1] + v.y * m.m[1][1] + m.m[3][1];
    r.z = v.x * m.m[0][2] + v.y * m.m[1][2] + m.m[3][2];
    r.w = v.x * m.m[0][3] + v.y * m.m[1][3] + m.m[3][3];
    return r;
}

Vec2 TransformCoord(const Vec2& v, const Mat4& m)
{
    Vec4 r = Transform(v, m);
    return {r.x / r.w, r.y / r.w};
}

Vec2 TransformNormal(const Vec2& v, const Mat4& m)
{
    return {v.x * m.m[0][0] + v.y * m.m[1][0], v.x * m.m[0][1] + v.y * m.m[1][1]};
}

// ---------------------------------------------------------------- Vec3

Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator-(const Vec3& v) { return {-v.x, -v.y, -v.z}; }
Vec3 operator*(const Vec3& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float LengthSq(const Vec3& v) { return Dot(v, v); }
float Length(const Vec3& v) { return std::sqrt(LengthSq(v)); }

Vec3 Normalize(const Vec3& v)
{
    float length = Length(v);
    if (length == 0.0f) {
        return {};
    }
    return v * (1.0f / length);
}

Vec3 Lerp(const Vec3& a, const Vec3& b, float t)
{
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

Vec4 Transform(const Vec3& v, const Mat4& m)
{
    Vec4 r;
    r.x = v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0] + m.m[3][0];
    r.y = v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1] + m.m[3][1];
    r.z = v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2] + m.m[3][2];
    r.w = v.x * m.m[0][3] + v.y * m.m[1][3] + v.z * m.m[2][3] + m.m[3][3];
    return r;
}

Vec3 TransformCoord(const Vec3& v, const Mat4& m)
{
    Vec4 r = Transform(v, m);
    return {r.x / r.w, r.y / r.w, r.z / r.w};
}

Vec3 TransformNormal(const Vec3& v, const Mat4& m)
{
    return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
            v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
            v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

// ---------------------------------------------------------------- Vec4

Vec4 operator+(const Vec4& a, const Vec4& b) { return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w}; }
Vec4 operator-(const Vec4& a, const Vec4& b) { return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w}; }
Vec4 operator*(const Vec4& v, float s) { return {v.x * s, v.y * s, v.z * s, v.w * s}; }
float Dot(const Vec4& a, const Vec4& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }
float LengthSq(const Vec4& v) { return Dot(v, v); }
float Length(const Vec4& v) { return std::sqrt(LengthSq(v)); }

Vec4 Normalize(const Vec4& v)
{
    float length = Length(v);
    if (length == 0.0f) {
        return {};
    }
    return v * (1.0f / length);
}

Vec4 Lerp(const Vec4& a, const Vec4& b, float t) { return a + (b - a) * t; }

Vec4 Transform(const Vec4& v, const Mat4& m)
{
    Vec4 r;
    r.x = v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0] + v.w * m.m[3][0];
    r.y = v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1] + v.w * m.m[3][1];
    r.z = v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2] + v.w * m.m[3][2];
    r.w = v.x * m.m[0][3] + v.y * m.m[1][3] + v.z * m.m[2][3] + v.w * m.m[3][3];
    return r;
}

// ---------------------------------------------------------------- matrices

Mat4 MatrixIdentity()
{
    Mat4 r;
    r.m[0][0] = r.m[1][1] = r.m[2][2] = r.m[3][3] = 1.0f;
    return r;
}

Mat4 MatrixMultiply(const Mat4& a, const Mat4& b)
{
    Mat4 r;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            r.m[row][col] = a.m[row][0] * b.m[0][col] + a.m[row][1] * b.m[1][col] + a.m[row][2] * b.m[2][col] +
                            a.m[row][3] * b.m[3][col];
        }
    }
    return r;
}

Mat4 MatrixTranspose(const Mat4& m)
{
    Mat4 r;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            r.m[row][col] = m.m[col][row];
        }
    }
    return r;
}

namespace {

// The 2 x 2 minors of the top two rows (s) and of the bottom two rows (c),
// in double: each cofactor and the determinant are sums of their products
// (Laplace expansion by complementary minors), and double keeps the
// cancellation in them from eating the float result.
struct Minors {
    double s[6] = {};
    double c[6] = {};
};

}  // namespace

static Minors ComputeMinors(const Mat4& m)
{
    const auto& a = m.m;
    Minors r;
    r.s[0] = double(a[0][0]) * a[1][1] - double(a[1][0]) * a[0][1];
    r.s[1] = double(a[0][0]) * a[1][2] - double(a[1][0]) * a[0][2];
    r.s[2] = double(a[0][0]) * a[1][3] - double(a[1][0]) * a[0][3];
    r.s[3] = double(a[0][1]) * a[1][2] - double(a[1][1]) * a[0][2];
    r.s[4] = double(a[0][1]) * a[1][3] - double(a[1][1]) * a[0][3];
    r.s[5] = double(a[0][2]) * a[1][3] - double(a[1][2]) * a[0][3];
    r.c[0] = double(a[2][0]) * a[3][1] - double(a[3][0]) * a[2][1];
    r.c[1] = double(a[2][0]) * a[3][2] - double(a[3][0]) * a[2][2];
    r.c[2] = double(a[2][0]) * a[3][3] - double(a[3][0]) * a[2][3];
    r.c[3] = double(a[2][1]) * a[3][2] - double(a[3][1]) * a[2][2];
    r.c[4] = double(a[2][1]) * a[3][3] - double(a[3][1]) * a[2][3];
    r.c[5] = double(a[2][2]) * a[3][3] - double(a[3][2]) * a[2][3];
    return r;
}

static double DeterminantFromMinors(const Minors& n)
{
    return n.s[0] * n.c[5] - n.s[1] * n.c[4] + n.s[2] * n.c[3] + n.s[3] * n.c[2] - n.s[4] * n.c[1] +
           n.s[5] * n.c[0];
}

float MatrixDeterminant(const Mat4& m)
{
    return float(DeterminantFromMinors(ComputeMinors(m)));
}

float MatrixInverse(Mat4& out, const Mat4& m)
{
    Minors n = ComputeMinors(m);
    double det = DeterminantFromMinors(n);
    if (det == 0.0) {
        return 0.0f;
    }
    const auto& a = m.m;
    const double* s = n.s;
    const double* c = n.c;
    double k = 1.0 / det;
    Mat4 r;
    r.m[0][0] = float((a[1][1] * c[5] - a[1][2] * c[4] + a[1][3] * c[3]) * k);
    r.m[0][1] = float((-a[0][1] * c[5] + a[0][2] * c[4] - a[0][3] * c[3]) * k);
    r.m[0][2] = float((a[3][1] * s[5] - a[3][2] * s[4] + a[3][3] * s[3]) * k);
    r.m[0][3] = float((-a[2][1] * s[5] + a[2][2] * s[4] - a[2][3] * s[3]) * k);
    r.m[1][0] = float((-a[1][0] * c[5] + a[1][2] * c[2] - a[1][3] * c[1]) * k);
    r.m[1][1] = float((a[0][0] * c[5] - a[0][2] * c[2] + a[0][3] * c[1]) * k);
    r.m[1][2] = float((-a[3][0] * s[5] + a[3][2] * s[2] - a[3][3] * s[1]) * k);
    r.m[1][3] = float((a[2][0] * s[5] - a[2][2] * s[2] + a[2][3] * s[1]) * k);
    r.m[2][0] = float((a[1][0] * c[4] - a[1][1] * c[2] + a[1][3] * c[0]) * k);
    r.m[2][1] = float((-a[0][0] * c[4] + a[0][1] * c[2] - a[0][3] * c[0]) * k);
    r.m[2][2] = float((a[3][0] * s[4] - a[3][1] * s[2] + a[3][3] * s[0]) * k);
    r.m[2][3] = float((-a[2][0] * s[4] + a[2][1] * s[2] - a[2][3] * s[0]) * k);
    r.m[3][0] = float((-a[1][0] * c[3] + a[1][1] * c[1] - a[1][2] * c[0]) * k);
    r.m[3][1] = float((a[0][0] * c[3] - a[0][1] * c[1] + a[0][2] * c[0]) * k);
    r.m[3][2] = float((-a[3][0] * s[3] + a[3][1] * s[1] - a[3][2] * s[0]) * k);
    r.m[3][3] = float((a[2][0] * s[3] - a[2][1] * s[1] + a[2][2] * s[0]) * k);
    out = r;
    return float(det);
}

Mat4 MatrixTranslation(float x, float y, float z)
{
    Mat4 r = MatrixIdentity();
    r.m[3][0] = x;
    r.m[3][1] = y;
    r.m[3][2] = z;
    return r;
}

Mat4 MatrixScaling(float x, float y, float z)
{
    Mat4 r;
    r.m[0][0] = x;
    r.m[1][1] = y;
    r.m[2][2] = z;
    r.m[3][3] = 1.0f;
    return r;
}

Mat4 MatrixRotationX(float angle)
{
    float s = std::sin(angle);
    float c = std::cos(angle);
    Mat4 r = MatrixIdentity();
    r.m[1][1] = c;
    r.m[1][2] = s;
    r.m[2][1] = -s;
    r.m[2][2] = c;
    return r;
}

Mat4 MatrixRotationY(float angle)
{
    float s = std::sin(angle);
    float c = std::cos(angle);
    Mat4 r = MatrixIdentity();
    r.m[0][0] = c;
    r.m[0][2] = -s;
    r.m[2][0] = s;
    r.m[2][2] = c;
    return r;
}

Mat4 MatrixRotationZ(float angle)
{
    float s = std::sin(angle);
    float c = std::cos(angle);
    Mat4 r = MatrixIdentity();
    r.m[0][0] = c;
    r.m[0][1] = s;
    r.m[1][0] = -s;
    r.m[1][1] = c;
    return r;
}

Mat4 MatrixRotationAxis(const Vec3& axis, float angle)
{
    Vec3 n = Normalize(axis);
    float s = std::sin(angle);
    float c = std::cos(angle);
    float t = 1.0f - c;
    // The transpose of Rodrigues' column-vector rotation
    // c I + s [n]x + (1 - c) n n^T, because our vectors are rows.
    Mat4 r = MatrixIdentity();
    r.m[0][0] = c + t * n.x * n.x;
    r.m[0][1] = t * n.x * n.y + s * n.z;
    r.m[0][2] = t * n.x * n.z - s * n.y;
    r.m[1][0] = t * n.x * n.y - s * n.z;
    r.m[1][1] = c + t * n.y * n.y;
    r.m[1][2] = t * n.y * n.z + s * n.x;
    r.m[2][0] = t * n.x * n.z + s * n.y;
    r.m[2][1] = t * n.y * n.z - s * n.x;
    r.m[2][2] = c + t * n.z * n.z;
    return r;
}

Mat4 MatrixRotationYawPitchRoll(float yaw, float pitch, float roll)
{
    return MatrixMultiply(MatrixMultiply(MatrixRotationZ(roll), MatrixRotationX(pitch)), MatrixRotationY(yaw));
}

Mat4 MatrixRotationQuat(const Quat& q)
{
    float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    Mat4 r = MatrixIdentity();
    r.m[0][0] = 1.0f - 2.0f * (yy + zz);
    r.m[0][1] = 2.0f * (xy + wz);
    r.m[0][2] = 2.0f * (xz - wy);
    r.m[1][0] = 2.0f * (xy - wz);
    r.m[1][1] = 1.0f - 2.0f * (xx + zz);
    r.m[1][2] = 2.0f * (yz + wx);
    r.m[2][0] = 2.0f * (xz + wy);
    r.m[2][1] = 2.0f * (yz - wx);
    r.m[2][2] = 1.0f - 2.0f * (xx + yy);
    return r;
}

// The view whose rows hold the camera axes as columns, so that a world
// point lands on (right, up, forward) coordinates relative to the eye.
static Mat4 ViewFromAxes(const Vec3& eye, const Vec3& forward, const Vec3& up)
{
    Vec3 zAxis = Normalize(forward);
    Vec3 xAxis = Normalize(Cross(up, zAxis));
    Vec3 yAxis = Cross(zAxis, xAxis);
    Mat4 r;
    r.m[0][0] = xAxis.x;
    r.m[1][0] = xAxis.y;
    r.m[2][0] = xAxis.z;
    r.m[0][1] = yAxis.x;
    r.m[1][1] = yAxis.y;
    r.m[2][1] = yAxis.z;
    r.m[0][2] = zAxis.x;
    r.m[1][2] = zAxis.y;
    r.m[2][2] = zAxis.z;
    r.m[3][0] = -Dot(xAxis, eye);
    r.m[3][1] = -Dot(yAxis, eye);
    r.m[3][2] = -Dot(zAxis, eye);
    r.m[3][3] = 1.0f;
    return r;
}

Mat4 MatrixLookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up)
{
    return ViewFromAxes(eye, at - eye, up);
}

Mat4 MatrixLookAtRH(const Vec3& eye, const Vec3& at, const Vec3& up)
{
    return ViewFromAxes(eye, eye - at, up);
}

Mat4 MatrixPerspectiveFovLH(float fovY, float aspect, float zNear, float zFar)
{
    float yScale = 1.0f / std::tan(fovY * 0.5f);
    float q = zFar / (zFar - zNear);
    Mat4 r;
    r.m[0][0] = yScale / aspect;
    r.m[1][1] = yScale;
    r.m[2][2] = q;
    r.m[2][3] = 1.0f;
    r.m[3][2] = -q * zNear;
    return r;
}

Mat4 MatrixPerspectiveFovRH(float fovY, float aspect, float zNear, float zFar)
{
    float yScale = 1.0f / std::tan(fovY * 0.5f);
    float q = zFar / (zNear - zFar);
    Mat4 r;
    r.m[0][0] = yScale / aspect;
    r.m[1][1] = yScale;
    r.m[2][2] = q;
    r.m[2][3] = -1.0f;
    r.m[3][2] = q * zNear;
    return r;
}

Mat4 MatrixOrthoLH(float width, float height, float zNear, float zFar)
{
    return MatrixOrthoOffCenterLH(-width * 0.5f, width * 0.5f, -height * 0.5f, height * 0.5f, zNear, zFar);
}

Mat4 MatrixOrthoRH(float width, float height, float zNear, float zFar)
{
    return MatrixOrthoOffCenterRH(-width * 0.5f, width * 0.5f, -height * 0.5f, height * 0.5f, zNear, zFar);
}

Mat4 MatrixOrthoOffCenterLH(float left, float right, float bottom, float top, float zNear, float zFar)
{
    Mat4 r = MatrixIdentity();
    r.m[0][0] = 2.0f / (right - left);
    r.m[1][1] = 2.0f / (top - bottom);
    r.m[2][2] = 1.0f / (zFar - zNear);
    r.m[3][0] = (left + right) / (left - right);
    r.m[3][1] = (top + bottom) / (bottom - top);
    r.m[3][2] = zNear / (zNear - zFar);
    return r;
}

Mat4 MatrixOrthoOffCenterRH(float left, float right, float bottom, float top, float zNear, float zFar)
{
    Mat4 r = MatrixOrthoOffCenterLH(left, right, bottom, top, zNear, zFar);
    // Looking down -Z: depth grows as z falls.
    r.m[2][2] = 1.0f / (zNear - zFar);
    return r;
}

// ---------------------------------------------------------------- quaternions

float Dot(const Quat& a, const Quat& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

Quat QuatMultiply(const Quat& a, const Quat& b)
{
    // The Hamilton product b a: with row vectors the first turn stands on
    // the left of a matrix product, with quaternions on the right.
    Quat r;
    r.w = b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z;
    r.x = b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y;
    r.y = b.w * a.y + b.y * a.w + b.z * a.x - b.x * a.z;
    r.z = b.w * a.z + b.z * a.w + b.x * a.y - b.y * a.x;
    return r;
}

Quat QuatNormalize(const Quat& q)
{
    float length = std::sqrt(Dot(q, q));
    if (length == 0.0f) {
        return {0.0f, 0.0f, 0.0f, 0.0f};
    }
    float k = 1.0f / length;
    return {q.x * k, q.y * k, q.z * k, q.w * k};
}

Quat QuatRotationAxis(const Vec3& axis, float angle)
{
    Vec3 n = Normalize(axis);
    float s = std::sin(angle * 0.5f);
    return {n.x * s, n.y * s, n.z * s, std::cos(angle * 0.5f)};
}

Quat QuatRotationMatrix(const Mat4& m)
{
    const auto& a = m.m;
    float trace = a[0][0] + a[1][1] + a[2][2];
    Quat q;
    // Take the square root of the largest of the four candidates (w, x, y,
    // z) so that the divisions below never lose precision near a half turn.
    if (trace > 0.0f) {
        float s = std::sqrt(trace + 1.0f) * 2.0f;
        q.w = 0.25f * s;
        q.x = (a[1][2] - a[2][1]) / s;
        q.y = (a[2][0] - a[0][2]) / s;
        q.z = (a[0][1] - a[1][0]) / s;
    } else if (a[0][0] >= a[1][1] && a[0][0] >= a[2][2]) {
        float s = std::sqrt(1.0f + a[0][0] - a[1][1] - a[2][2]) * 2.0f;
        q.x = 0.25f * s;
        q.w = (a[1][2] - a[2][1]) / s;
        q.y = (a[0][1] + a[1][0]) / s;
        q.z = (a[0][2] + a[2][0]) / s;
    } else if (a[1][1] >= a[2][2]) {
        float s = std::sqrt(1.0f + a[1][1] - a[0][0] - a[2][2]) * 2.0f;
        q.y = 0.25f * s;
        q.w = (a[2][0] - a[0][2]) / s;
        q.x = (a[0][1] + a[1][0]) / s;
        q.z = (a[1][2] + a[2][1]) / s;
    } else {
        float s = std::sqrt(1.0f + a[2][2] - a[0][0] - a[1][1]) * 2.0f;
        q.z = 0.25f * s;
        q.w = (a[0][1] - a[1][0]) / s;
        q.x = (a[0][2] + a[2][0]) / s;
        q.y = (a[1][2] + a[2][1]) / s;
    }
    return q;
}

Quat QuatSlerp(const Quat& a, const Quat& b, float t)
{
    float cosine = Dot(a, b);
    Quat to = b;
    // q and -q are the same turn; going to the nearer one takes the short way.
    if (cosine < 0.0f) {
        cosine = -cosine;
        to = {-b.x, -b.y, -b.z, -b.w};
    }
    float wa = 1.0f - t;
    float wb = t;
    // Nearly equal: sin(theta) would vanish, and straight interpolation is
    // then indistinguishable from the arc.
    if (cosine < 0.9999f) {
        float theta = std::acos(cosine);
        float inv = 1.0f / std::sin(theta);
        wa = std::sin((1.0f - t) * theta) * inv;
        wb = std::sin(t * theta) * inv;
    }
    return {a.x * wa + to.x * wb, a.y * wa + to.y * wb, a.z * wa + to.z * wb, a.w * wa + to.w * wb};
}

// ---------------------------------------------------------------- planes

PlaneEquation PlaneFromPointNormal(const Vec3& point, const Vec3& normal)
{
    return {normal.x, normal.y, normal.z, -Dot(normal, point)};
}

PlaneEquation PlaneFromPoints(const Vec3& p1, const Vec3& p2, const Vec3& p3)
{
    return PlaneFromPointNormal(p1, Normalize(Cross(p2 - p1, p3 - p1)));
}

float PlaneDotCoord(const PlaneEquation& p, const Vec3& v) { return p.a * v.x + p.b * v.y + p.c * v.z + p.d; }
float PlaneDotNormal(const PlaneEquation& p, const Vec3& v) { return p.a * v.x + p.b * v.y + p.c * v.z; }

PlaneEquation PlaneNormalize(const PlaneEquation& p)
{
    float length = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    if (length == 0.0f) {
        return {};
    }
    float k = 1.0f / length;
    return {p.a * k, p.b * k, p.c * k, p.d * k};
}

bool PlaneIntersectLine(Vec3& out, const PlaneEquation& p, const Vec3& p1, const Vec3& p2)
{
    Vec3 direction = p2 - p1;
    float denominator = PlaneDotNormal(p, direction);
    if (denominator == 0.0f) {
        return false;
    }
    float t = -PlaneDotCoord(p, p1) / denominator;
    out = p1 + direction * t;
    return true;
}

// ---------------------------------------------------------------- rays

bool SphereBoundProbe(const Vec3& center, float radius, const Vec3& origin, const Vec3& direction)
{
    // Solve |origin + t direction - center|^2 = radius^2, written
    // a t^2 + 2 b t + c = 0.
    Vec3 m = origin - center;
    float a = Dot(direction, direction);
    float b = Dot(m, direction);
    float c = Dot(m, m) - radius * radius;
    if (c <= 0.0f) {
        return true;  // the origin is inside
    }
    if (b > 0.0f || a == 0.0f) {
        return false;  // outside and heading away (or not moving)
    }
    return b * b - a * c >= 0.0f;
}

bool BoxBoundProbe(const Vec3& minimum, const Vec3& maximum, const Vec3& origin, const Vec3& direction)
{
    const float lo[3] = {minimum.x, minimum.y, minimum.z};
    const float hi[3] = {maximum.x, maximum.y, maximum.z};
    const float p[3] = {origin.x, origin.y, origin.z};
    const float d[3] = {direction.x, direction.y, direction.z};
    float tNear = 0.0f;
    float tFar = std::numeric_limits<float>::infinity();
    for (int axis = 0; axis < 3; ++axis) {
        if (d[axis] == 0.0f) {
            // Parallel to this slab: it holds every t or none.
            if (p[axis] < lo[axis] || p[axis] > hi[axis]) {
                return false;
            }
            continue;
        }
        float t1 = (lo[axis] - p[axis]) / d[axis];
        float t2 = (hi[axis] - p[axis]) / d[axis];
        if (t1 > t2) {
            float swap = t1;
            t1 = t2;
            t2 = swap;
        }
        if (t1 > tNear) {
            tNear = t1;
        }
        if (t2 < tFar) {
            tFar = t2;
        }
        if (tNear > tFar) {
            return false;
        }
    }
    return true;
}

float RayTriangleMinDeterminant(const Vec3& e1, const Vec3& e2, const Vec3& direction)
{
    // The sine below which a ray counts as running along the triangle: at a
    // triangle with unit edges the same as an absolute limit of 0.0001.
    constexpr float kMinSine = 0.0001f;
    return kMinSine * Length(e1) * Length(e2) * Length(direction);
}

bool RayTriangle(RayTriangleHit& hit, const Vec3& origin, const Vec3& direction, const Vec3& v0, const Vec3& v1,
                 const Vec3& v2)
{
    Vec3 e1 = v1 - v0;
    Vec3 e2 = v2 - v0;
    Vec3 p = Cross(direction, e2);
    float det = Dot(e1, p);
    // Strictly above: a triangle without area has a limit and a determinant
    // of 0.
    if (!(std::fabs(det) > RayTriangleMinDeterminant(e1, e2, direction))) {
        return false;
    }
    float inv = 1.0f / det;
    Vec3 s = origin - v0;
    float u = Dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f) {
        return false;
    }
    Vec3 q = Cross(s, e1);
    float v = Dot(direction, q) * inv;
    if (v < 0.0f || u + v > 1.0f) {
        return false;
    }
    float t = Dot(e2, q) * inv;
    if (t < 0.0f) {
        return false;
    }
    hit.u = u;
    hit.v = v;
    hit.t = t;
    return true;
}

}  // namespace platform
