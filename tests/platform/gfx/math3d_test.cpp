#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/gfx/math3d.h"

using namespace platform;

namespace {

constexpr float kPi = 3.14159265358979f;

void ExpectNear(const Vec3& actual, const Vec3& expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void ExpectNear(const Mat4& actual, const Mat4& expected, float tolerance = 1e-5f)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], tolerance) << "element " << r << ", " << c;
        }
    }
}

// A rotation, a non-uniform scale, a shear and a translation: invertible
// with a condition number small enough for float.
Mat4 RandomWellConditioned(std::mt19937& rng)
{
    std::uniform_real_distribution<float> angle(-kPi, kPi);
    std::uniform_real_distribution<float> scale(0.5f, 3.0f);
    std::uniform_real_distribution<float> offset(-10.0f, 10.0f);
    Vec3 axis{offset(rng), offset(rng), offset(rng) + 0.1f};
    Mat4 m = MatrixMultiply(MatrixScaling(scale(rng), scale(rng), scale(rng)), MatrixRotationAxis(axis, angle(rng)));
    m.m[1][0] += 0.3f;
    m.m[0][3] = 0.05f;  // a projective column too
    return MatrixMultiply(m, MatrixTranslation(offset(rng), offset(rng), offset(rng)));
}

Vec3 Point(const Vec3& v, const Mat4& m)
{
    Vec4 r = Transform(v, m);
    return {r.x, r.y, r.z};
}

}  // namespace

TEST(Math3dMatrix, InverseUndoesRandomWellConditionedMatrices)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        Mat4 m = RandomWellConditioned(rng);
        Mat4 inv;
        float det = MatrixInverse(inv, m);
        EXPECT_NEAR(det * MatrixDeterminant(inv), 1.0f, 1e-4f);
        ExpectNear(MatrixMultiply(m, inv), MatrixIdentity(), 1e-4f);
        ExpectNear(MatrixMultiply(inv, m), MatrixIdentity(), 1e-4f);
    }
}

TEST(Math3dMatrix, InverseReportsDeterminantAndLeavesSingularOutput)
{
    Mat4 out = MatrixTranslation(1.0f, 2.0f, 3.0f);
    EXPECT_FLOAT_EQ(MatrixInverse(out, MatrixScaling(2.0f, 3.0f, 4.0f)), 24.0f);
    EXPECT_FLOAT_EQ(out.m[1][1], 1.0f / 3.0f);

    Mat4 singular = MatrixScaling(1.0f, 0.0f, 1.0f);
    Mat4 untouched = MatrixTranslation(1.0f, 2.0f, 3.0f);
    EXPECT_EQ(MatrixInverse(untouched, singular), 0.0f);
    ExpectNear(untouched, MatrixTranslation(1.0f, 2.0f, 3.0f), 0.0f);
}

TEST(Math3dMatrix, ProductAppliesLeftOperandFirst)
{
    Mat4 turn = MatrixRotationZ(kPi / 2);
    Mat4 move = MatrixTranslation(5.0f, 0.0f, 0.0f);
    ExpectNear(Point({1, 0, 0}, MatrixMultiply(turn, move)), {5, 1, 0});
    ExpectNear(Point({1, 0, 0}, MatrixMultiply(move, turn)), {0, 6, 0});
    Mat4 t = MatrixTranspose(move);
    EXPECT_EQ(t.m[0][3], 5.0f);
    EXPECT_EQ(t.m[3][0], 0.0f);
}

TEST(Math3dMatrix, QuarterTurnsAndAxisRotationAgree)
{
    ExpectNear(Point({0, 1, 0}, MatrixRotationX(kPi / 2)), {0, 0, 1});
    ExpectNear(Point({0, 0, 1}, MatrixRotationY(kPi / 2)), {1, 0, 0});
    ExpectNear(Point({1, 0, 0}, MatrixRotationZ(kPi / 2)), {0, 1, 0});
    for (float a : {0.3f, -1.2f, 2.9f}) {
        ExpectNear(MatrixRotationAxis({2, 0, 0}, a), MatrixRotationX(a));
        ExpectNear(MatrixRotationAxis({0, 1, 0}, a), MatrixRotationY(a));
        ExpectNear(MatrixRotationAxis({0, 0, 3}, a), MatrixRotationZ(a));
    }
    // A turn about an axis keeps the axis and every length.
    Mat4 r = MatrixRotationAxis({1, 2, 3}, 1.1f);
    ExpectNear(Point({1, 2, 3}, r), {1, 2, 3});
    EXPECT_NEAR(Length(Point({4, -1, 2}, r)), Length(Vec3{4, -1, 2}), 1e-5f);
    EXPECT_NEAR(MatrixDeterminant(r), 1.0f, 1e-5f);
}

TEST(Math3dMatrix, YawPitchRollTurnsRollThenPitchThenYaw)
{
    // Each pair of quarter turns sends the probe somewhere else when applied
    // in the other order.
    ExpectNear(Point({0, 1, 0}, MatrixRotationYawPitchRoll(kPi / 2, kPi / 2, 0)), {1, 0, 0});
    ExpectNear(Point({1, 0, 0}, MatrixRotationYawPitchRoll(0, kPi / 2, kPi / 2)), {0, 0, 1});
    ExpectNear(Point({1, 0, 0}, MatrixRotationYawPitchRoll(kPi / 2, 0, kPi / 2)), {0, 1, 0});
}

TEST(Math3dMatrix, LookAtPutsTargetOnTheViewAxis)
{
    Mat4 lh = MatrixLookAtLH({0, 0, -5}, {0, 0, 0}, {0, 1, 0});
    ExpectNear(Point({0, 0, 0}, lh), {0, 0, 5});
    ExpectNear(Point({1, 2, 0}, lh), {1, 2, 5});
    Mat4 rh = MatrixLookAtRH({0, 0, 5}, {0, 0, 0}, {0, 1, 0});
    ExpectNear(Point({0, 0, 0}, rh), {0, 0, -5});
    ExpectNear(Point({1, 2, 0}, rh), {1, 2, -5});
    // From the side: the eye on +X looking toward -X sees +Z to its right.
    Mat4 side = MatrixLookAtLH({10, 3, 0}, {0, 3, 0}, {0, 1, 0});
    ExpectNear(Point({0, 3, 1}, side), {1, 0, 10});
}

TEST(Math3dMatrix, ProjectionsMapFrustumEdgesToClipBounds)
{
    // 90 degrees vertically at aspect 2: at depth d the view is 2d wide
    // and d high each side of the axis.
    Mat4 lh = MatrixPerspectiveFovLH(kPi / 2, 2.0f, 1.0f, 11.0f);
    ExpectNear(TransformCoord({0, 0, 1}, lh), {0, 0, 0});
    ExpectNear(TransformCoord({0, 0, 11}, lh), {0, 0, 1});
    ExpectNear(TransformCoord({-8, 4, 4}, lh), {-1, 1, (4.0f - 1.0f) * 11.0f / (10.0f * 4.0f)});
    EXPECT_FLOAT_EQ(Transform(Vec3{0, 0, 6}, lh).w, 6.0f);

    Mat4 rh = MatrixPerspectiveFovRH(kPi / 2, 2.0f, 1.0f, 11.0f);
    ExpectNear(TransformCoord({0, 0, -1}, rh), {0, 0, 0});
    ExpectNear(TransformCoord({2, -1, -1}, rh), {1, -1, 0});
    ExpectNear(TransformCoord({0, 0, -11}, rh), {0, 0, 1});

    ExpectNear(Point({2, 1, 10}, MatrixOrthoLH(4, 2, 0, 10)), {1, 1, 1});
    ExpectNear(Point({2, 1, -10}, MatrixOrthoRH(4, 2, 0, 10)), {1, 1, 1});
    Mat4 screen = MatrixOrthoOffCenterLH(0, 640, 480, 0, 1, 2);
    ExpectNear(Point({0, 0, 1}, screen), {-1, 1, 0});
    ExpectNear(Point({640, 480, 2}, screen), {1, -1, 1});
    ExpectNear(Point({0, 0, -2}, MatrixOrthoOffCenterRH(0, 640, 480, 0, 1, 2)), {-1, 1, 1});
}

TEST(Math3dVector, TransformsKeepOrDivideByW)
{
    Mat4 m = MatrixTranslation(1, 2, 3);
    m.m[2][3] = 1.0f;  // w = z + 1
    Vec4 full = Transform(Vec3{1, 1, 1}, m);
    EXPECT_FLOAT_EQ(full.w, 2.0f);
    ExpectNear(TransformCoord(Vec3{1, 1, 1}, m), {1, 1.5f, 2});
    ExpectNear(TransformNormal(Vec3{1, 1, 1}, m), {1, 1, 1});
    EXPECT_FLOAT_EQ(Transform(Vec2{1, 1}, m).w, 1.0f);
    EXPECT_FLOAT_EQ(TransformCoord(Vec2{1, 1}, m).y, 3.0f);

    ExpectNear(Cross(Vec3{1, 0, 0}, Vec3{0, 1, 0}), {0, 0, 1});
    EXPECT_GT(Cross(Vec2{1, 0}, Vec2{0, 1}), 0.0f);
    ExpectNear(Normalize(Vec3{}), {0, 0, 0}, 0.0f);
    EXPECT_FLOAT_EQ(Length(Normalize(Vec4{1, 2, 3, 4})), 1.0f);
    ExpectNear(Lerp(Vec3{0, 0, 0}, Vec3{2, 4, 6}, 0.25f), {0.5f, 1, 1.5f});
}

TEST(Math3dQuat, MatchesAxisRotationAndComposesLikeMatrices)
{
    Quat a = QuatRotationAxis({1, 2, -1}, 0.8f);
    Quat b = QuatRotationAxis({0, -3, 1}, 2.2f);
    ExpectNear(MatrixRotationQuat(a), MatrixRotationAxis({1, 2, -1}, 0.8f));
    ExpectNear(MatrixRotationQuat(QuatMultiply(a, b)), MatrixMultiply(MatrixRotationQuat(a), MatrixRotationQuat(b)));
    Quat n = QuatNormalize(Quat{1, 1, 1, 1});
    EXPECT_FLOAT_EQ(n.w, 0.5f);
}

TEST(Math3dQuat, MatrixRoundTripCoversEveryBranch)
{
    // Turns near a half turn about each axis drive the trace negative and
    // pick each of the other three branches.
    const Vec3 axes[] = {{1, 0.1f, 0}, {0.1f, 1, 0}, {0, 0.1f, 1}, {1, 1, 1}, {-2, 1, 0.5f}};
    for (const Vec3& axis : axes) {
        for (float angle : {0.2f, 1.5f, 3.0f, -2.9f}) {
            Quat q = QuatRotationAxis(axis, angle);
            Quat back = QuatRotationMatrix(MatrixRotationQuat(q));
            // q and -q are the same turn.
            EXPECT_NEAR(std::fabs(Dot(q, back)), 1.0f, 1e-5f) << angle;
            ExpectNear(MatrixRotationQuat(back), MatrixRotationQuat(q));
        }
    }
}

TEST(Math3dQuat, SlerpMovesAtConstantSpeedTheShortWay)
{
    Quat a = QuatRotationAxis({0, 0, 1}, 0.0f);
    Quat b = QuatRotationAxis({0, 0, 1}, kPi / 2);
    ExpectNear(MatrixRotationQuat(QuatSlerp(a, b, 0.5f)), MatrixRotationZ(kPi / 4));
    ExpectNear(MatrixRotationQuat(QuatSlerp(a, b, 0.25f)), MatrixRotationZ(kPi / 8));
    // -b is b: the result still turns by an eighth, not the long way round.
    Quat negB{-b.x, -b.y, -b.z, -b.w};
    ExpectNear(MatrixRotationQuat(QuatSlerp(a, negB, 0.25f)), MatrixRotationZ(kPi / 8));
    Quat end = QuatSlerp(a, b, 1.0f);
    EXPECT_NEAR(Dot(end, b), 1.0f, 1e-6f);
}

TEST(Math3dPlane, FromPointsFacesCounterClockwiseSide)
{
    PlaneEquation p = PlaneFromPoints({0, 0, 2}, {1, 0, 2}, {0, 1, 2});
    EXPECT_FLOAT_EQ(p.c, 1.0f);
    EXPECT_FLOAT_EQ(p.d, -2.0f);
    EXPECT_FLOAT_EQ(PlaneDotCoord(p, {5, 5, 5}), 3.0f);
    EXPECT_FLOAT_EQ(PlaneDotNormal(p, {5, 5, 5}), 5.0f);

    PlaneEquation n = PlaneNormalize(PlaneEquation{0, 3, 4, 10});
    EXPECT_FLOAT_EQ(n.b, 0.6f);
    EXPECT_FLOAT_EQ(n.d, 2.0f);

    Vec3 hit{9, 9, 9};
    // The line, not only the segment: both points lie below the plane.
    ASSERT_TRUE(PlaneIntersectLine(hit, p, {1, 1, 0}, {1, 1, 1}));
    ExpectNear(hit, {1, 1, 2});
    EXPECT_FALSE(PlaneIntersectLine(hit, p, {0, 0, 0}, {1, 0, 0}));
    ExpectNear(hit, {1, 1, 2});
}

TEST(Math3dRay, SphereProbe)
{
    Vec3 c{0, 0, 10};
    EXPECT_TRUE(SphereBoundProbe(c, 1.0f, {0, 0, 0}, {0, 0, 1}));
    EXPECT_TRUE(SphereBoundProbe(c, 1.0f, {0.99f, 0, 0}, {0, 0, 5}));
    EXPECT_FALSE(SphereBoundProbe(c, 1.0f, {1.01f, 0, 0}, {0, 0, 5}));
    EXPECT_FALSE(SphereBoundProbe(c, 1.0f, {0, 0, 0}, {0, 0, -1}));  // away
    EXPECT_TRUE(SphereBoundProbe(c, 1.0f, {0, 0, 10.5f}, {1, 0, 0}));  // from inside
}

TEST(Math3dRay, BoxProbe)
{
    Vec3 lo{-1, -1, -1};
    Vec3 hi{1, 1, 1};
    EXPECT_TRUE(BoxBoundProbe(lo, hi, {-5, 0.5f, 0.5f}, {1, 0, 0}));
    EXPECT_TRUE(BoxBoundProbe(lo, hi, {-5, -5, -5}, {1, 1, 1}));
    EXPECT_FALSE(BoxBoundProbe(lo, hi, {-5, 0, 0}, {-1, 0, 0}));  // pointing away
    EXPECT_TRUE(BoxBoundProbe(lo, hi, {0.2f, 0.3f, 0}, {0, 0, -1}));  // starting inside
    EXPECT_FALSE(BoxBoundProbe(lo, hi, {-5, 1.5f, 0}, {1, 0, 0}));  // parallel, beside
    EXPECT_FALSE(BoxBoundProbe(lo, hi, {-5, 0, 0}, {1, 1.5f, 0}));  // slabs do not overlap
    EXPECT_TRUE(BoxBoundProbe(lo, hi, {-5, 0, 0}, {1, 0.15f, 0}));
}

TEST(Math3dRay, TriangleGivesBarycentricsAndDistanceFromEitherSide)
{
    Vec3 v0{0, 0, 5}, v1{4, 0, 5}, v2{0, 4, 5};
    RayTriangleHit hit;
    ASSERT_TRUE(RayTriangle(hit, {1, 2, 0}, {0, 0, 2}, v0, v1, v2));
    EXPECT_FLOAT_EQ(hit.u, 0.25f);
    EXPECT_FLOAT_EQ(hit.v, 0.5f);
    EXPECT_FLOAT_EQ(hit.t, 2.5f);  // in units of the direction's length
    ASSERT_TRUE(RayTriangle(hit, {1, 2, 9}, {0, 0, -1}, v0, v1, v2));
    EXPECT_FLOAT_EQ(hit.t, 4.0f);

    RayTriangleHit untouched{7, 7, 7};
    EXPECT_FALSE(RayTriangle(untouched, {3, 3, 0}, {0, 0, 1}, v0, v1, v2));  // u + v > 1
    EXPECT_FALSE(RayTriangle(untouched, {1, 1, 9}, {0, 0, 1}, v0, v1, v2));  // behind
    EXPECT_FALSE(RayTriangle(untouched, {-1, 1, 5}, {1, 0, 0}, v0, v1, v2));  // edge-on
    EXPECT_FALSE(RayTriangle(untouched, {1, 0, 0}, {0, 0, 1}, v0, v1, {8, 0, 5}));  // no area
    EXPECT_FALSE(RayTriangle(untouched, {0, 0, 0}, {0, 0, 1}, v0, v0, v2));  // two corners in one
    EXPECT_EQ(untouched.t, 7.0f);

    // The same triangle at any scale meets the same rays: a grazing ray
    // whose sine against the plane is 0.0002 hits, one of 0.00005 does not.
    for (float scale : {0.001f, 1.0f, 1000.0f}) {
        const Vec3 a{0, 0, 0}, b{scale, 0, 0}, c{0, scale, 0}, centre{scale / 3, scale / 3, 0};
        for (float sine : {0.0002f, 0.00005f}) {
            const Vec3 d{1.0f, 0.0f, -sine};
            const bool hits = RayTriangle(hit, centre - d * (2 * scale), d, a, b, c);
            EXPECT_EQ(hits, sine > 0.0001f) << scale << " " << sine;
        }
    }
}
