#pragma once

// Vector, matrix, quaternion and plane maths in the Direct3D convention:
// row vectors multiplied on the left of row-major 4 x 4 matrices, so a
// point p goes to p x M and "A then B" is the product A x B. Angles are
// radians. Every function is pure: it reads its arguments and returns a
// new value, so an output may safely be one of the inputs.

namespace platform {

struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;
};

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;
};

// m[row][column], zero-based; row 3 holds the translation.
struct Mat4 {
    float m[4][4] = {};
};

// x, y, z is the vector part, w the scalar part; (0, 0, 0, 1) is no turn.
struct Quat {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;
};

// A plane (a, b, c, d): the points p with a p.x + b p.y + c p.z + d = 0.
// The side the normal (a, b, c) points to gives positive values.
struct PlaneEquation {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;
    float d = 0.0f;
};

// Two-component vectors.
Vec2 operator+(const Vec2& a, const Vec2& b);
Vec2 operator-(const Vec2& a, const Vec2& b);
Vec2 operator*(const Vec2& v, float s);
float Dot(const Vec2& a, const Vec2& b);
// The z component of the 3D cross product: positive when b lies
// counter-clockwise of a in a y-up plane.
float Cross(const Vec2& a, const Vec2& b);
float Length(const Vec2& v);
float LengthSq(const Vec2& v);
// Divides by the length; a zero vector stays zero.
Vec2 Normalize(const Vec2& v);
Vec2 Lerp(const Vec2& a, const Vec2& b, float t);
// (v, 0, 1) x m, all four results kept.
Vec4 Transform(const Vec2& v, const Mat4& m);
// (v, 0, 1) x m divided by the resulting w.
Vec2 TransformCoord(const Vec2& v, const Mat4& m);
// (v, 0) x the upper 2 x 2 of m: directions, no translation.
Vec2 TransformNormal(const Vec2& v, const Mat4& m);

// Three-component vectors.
Vec3 operator+(const Vec3& a, const Vec3& b);
Vec3 operator-(const Vec3& a, const Vec3& b);
Vec3 operator-(const Vec3& v);
Vec3 operator*(const Vec3& v, float s);
float Dot(const Vec3& a, const Vec3& b);
Vec3 Cross(const Vec3& a, const Vec3& b);
float Length(const Vec3& v);
float LengthSq(const Vec3& v);
// Divides by the length; a zero vector stays zero.
Vec3 Normalize(const Vec3& v);
Vec3 Lerp(const Vec3& a, const Vec3& b, float t);
// (v, 1) x m, all four results kept; a caller that wants a point drops w.
Vec4 Transform(const Vec3& v, const Mat4& m);
// (v, 1) x m divided by the resulting w: points through a projection.
Vec3 TransformCoord(const Vec3& v, const Mat4& m);
// v x the upper 3 x 3 of m: directions, no translation.
Vec3 TransformNormal(const Vec3& v, const Mat4& m);

// Four-component vectors.
Vec4 operator+(const Vec4& a, const Vec4& b);
Vec4 operator-(const Vec4& a, const Vec4& b);
Vec4 operator*(const Vec4& v, float s);
float Dot(const Vec4& a, const Vec4& b);
float Length(const Vec4& v);
float LengthSq(const Vec4& v);
Vec4 Normalize(const Vec4& v);
Vec4 Lerp(const Vec4& a, const Vec4& b, float t);
Vec4 Transform(const Vec4& v, const Mat4& m);

// Matrices.
Mat4 MatrixIdentity();
// a x b: a's transform first, then b's.
Mat4 MatrixMultiply(const Mat4& a, const Mat4& b);
Mat4 MatrixTranspose(const Mat4& m);
float MatrixDeterminant(const Mat4& m);
// Writes the inverse of m into out and returns m's determinant. When the
// determinant is exactly 0 there is no inverse: out is left as it was.
float MatrixInverse(Mat4& out, const Mat4& m);
Mat4 MatrixTranslation(float x, float y, float z);
Mat4 MatrixScaling(float x, float y, float z);
// Turns by the angle about one axis: with the row-vector convention a
// quarter turn about X takes +Y to +Z, about Y takes +Z to +X, about Z
// takes +X to +Y.
Mat4 MatrixRotationX(float angle);
Mat4 MatrixRotationY(float angle);
Mat4 MatrixRotationZ(float angle);
// About any axis through the origin, in the same sense as the three above;
// the axis need not be of unit length.
Mat4 MatrixRotationAxis(const Vec3& axis, float angle);
// Roll about Z first, then pitch about X, then yaw about Y.
Mat4 MatrixRotationYawPitchRoll(float yaw, float pitch, float roll);
// The rotation of a unit quaternion.
Mat4 MatrixRotationQuat(const Quat& q);
// Views that put the eye at the origin looking down +Z (left-handed) or -Z
// (right-handed), with up as near +Y as the direction allows.
Mat4 MatrixLookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up);
Mat4 MatrixLookAtRH(const Vec3& eye, const Vec3& at, const Vec3& up);
// Projections to clip space with depth 0 at the near plane and 1 at the far
// plane; fovY is the vertical field of view, aspect is width / height.
Mat4 MatrixPerspectiveFovLH(float fovY, float aspect, float zNear, float zFar);
Mat4 MatrixPerspectiveFovRH(float fovY, float aspect, float zNear, float zFar);
Mat4 MatrixOrthoLH(float width, float height, float zNear, float zFar);
Mat4 MatrixOrthoRH(float width, float height, float zNear, float zFar);
Mat4 MatrixOrthoOffCenterLH(float left, float right, float bottom, float top, float zNear, float zFar);
Mat4 MatrixOrthoOffCenterRH(float left, float right, float bottom, float top, float zNear, float zFar);

// Quaternions.
float Dot(const Quat& a, const Quat& b);
// The turn a followed by the turn b, so that
// MatrixRotationQuat(QuatMultiply(a, b)) equals
// MatrixMultiply(MatrixRotationQuat(a), MatrixRotationQuat(b)).
Quat QuatMultiply(const Quat& a, const Quat& b);
// Divides by the length; a zero quaternion stays zero.
Quat QuatNormalize(const Quat& q);
// The turn by the angle about the axis, in the sense of MatrixRotationAxis.
Quat QuatRotationAxis(const Vec3& axis, float angle);
// The unit quaternion of the rotation held in m's upper 3 x 3 (which must
// be a pure rotation).
Quat QuatRotationMatrix(const Mat4& m);
// Constant-speed interpolation along the shorter arc from a (t = 0) to b
// (t = 1).
Quat QuatSlerp(const Quat& a, const Quat& b, float t);

// Planes.
// Normal = normalize((p2 - p1) x (p3 - p1)), d = -(normal . p1).
PlaneEquation PlaneFromPoints(const Vec3& p1, const Vec3& p2, const Vec3& p3);
PlaneEquation PlaneFromPointNormal(const Vec3& point, const Vec3& normal);
// a x + b y + c z + d: the signed distance when the normal is of unit length.
float PlaneDotCoord(const PlaneEquation& p, const Vec3& v);
// a x + b y + c z.
float PlaneDotNormal(const PlaneEquation& p, const Vec3& v);
// Scales all four values so that the normal has unit length.
PlaneEquation PlaneNormalize(const PlaneEquation& p);
// Where the line through p1 and p2 (not just the segment) meets the plane;
// false, out untouched, when the line is parallel to it.
bool PlaneIntersectLine(Vec3& out, const PlaneEquation& p, const Vec3& p1, const Vec3& p2);

// Rays: a ray starts at origin and runs along direction (any length, not
// zero) for t >= 0.
// True when the ray meets the solid sphere (a ray starting inside does).
bool SphereBoundProbe(const Vec3& center, float radius, const Vec3& origin, const Vec3& direction);
// True when the ray meets the solid axis-aligned box from minimum to
// maximum: some t >= 0 lies in all three slabs (a ray starting inside does).
bool BoxBoundProbe(const Vec3& minimum, const Vec3& maximum, const Vec3& origin, const Vec3& direction);

struct RayTriangleHit {
    // The hit point is v0 + u (v1 - v0) + v (v2 - v0) = origin + t direction.
    float u = 0.0f;
    float v = 0.0f;
    float t = 0.0f;  // in units of the direction's length
};
// The least determinant a ray-triangle test takes for a hit, where the
// determinant is direction . (e1 x e2) for the edges e1 = v1 - v0 and
// e2 = v2 - v0. Divided by |e1| |e2| |direction| it is the sine of the
// triangle's corner at v0 times the cosine between the ray and the
// triangle's normal: an angle, whatever the units. So the limit grows with
// the triangle's size, and a model is hit by the same rays at any scale;
// rays that run along the triangle's plane (within about 0.006 degrees at a
// right corner) and triangles without area stay below it.
float RayTriangleMinDeterminant(const Vec3& e1, const Vec3& e2, const Vec3& direction);
// Möller-Trumbore test of the ray against triangle v0, v1, v2 from either
// side; edge-on and degenerate triangles (RayTriangleMinDeterminant) and
// hits behind the origin fail. The hit is written only on success.
bool RayTriangle(RayTriangleHit& hit, const Vec3& origin, const Vec3& direction, const Vec3& v0,
                 const Vec3& v1, const Vec3& v2);

}  // namespace platform
