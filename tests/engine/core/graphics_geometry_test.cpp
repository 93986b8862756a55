#include <gtest/gtest.h>

#include <random>

#include "engine/core/device.h"
#include "engine/core/graphics.h"
#include "engine/core/math.h"
#include "engine/core/matrix.h"
#include "engine/core/vector.h"
#include "platform/gfx/math3d.h"

namespace {

constexpr float kPi = 3.14159265358979f;

class OrvaGraphicsGeometry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OrvaMath::Initialize()); }
    void TearDown() override
    {
        OrvaGraphics::SetViewProjectionSource(nullptr);
        OrvaMath::Destroy();
    }
};

float Side(const float plane[4], const OrvaVector& p)
{
    return plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3];
}

void ExpectVector(const OrvaVector& v, float x, float y, float z, float tolerance)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

// A camera at (0, 0, -10) looking at the origin, 90 degrees high, 4:3,
// near 1, far 100.
OrvaMatrix ViewProjection()
{
    platform::Mat4 view = platform::MatrixLookAtLH({0, 0, -10}, {0, 0, 0}, {0, 1, 0});
    platform::Mat4 projection = platform::MatrixPerspectiveFovLH(kPi / 2, 4.0f / 3.0f, 1.0f, 100.0f);
    OrvaMatrix m;
    m = platform::MatrixMultiply(view, projection);
    return m;
}

OrvaMatrix heldViewProjection;
const OrvaMatrix* HeldViewProjection()
{
    return &heldViewProjection;
}

struct Volume {
    OrvaVector corners[8];
    float planes[6][4];
};

Volume BoxVolume(float x0, float y0, float z0, float x1, float y1, float z1, const OrvaMatrix* m = nullptr)
{
    OrvaMatrix identity;
    identity.Identity();
    Volume v;
    OrvaGraphics::BuildFrustum(OrvaVector(x0, y0, z0), OrvaVector(x1, y1, z1), v.corners, v.planes,
                               m ? *m : identity);
    return v;
}

int32_t Check(const Volume& box, const Volume& frustum)
{
    return OrvaGraphics::CheckBoxInFrustum(box.corners, box.planes, frustum.corners, frustum.planes);
}

}  // namespace

TEST_F(OrvaGraphicsGeometry, BuildFrustumNumbersCornersByBitsAndPlanesFaceInward)
{
    Volume v = BoxVolume(-1, -2, 0, 1, 2, 1);
    ExpectVector(v.corners[0], -1, -2, 0, 0.0f);
    ExpectVector(v.corners[5], 1, -2, 1, 0.0f);
    ExpectVector(v.corners[6], -1, 2, 1, 0.0f);
    // One point just beyond each face, in plane order: near, far, left,
    // right, top, bottom.
    const OrvaVector beyond[6] = {{0, 0, -0.1f}, {0, 0, 1.1f}, {-1.1f, 0, 0.5f},
                                  {1.1f, 0, 0.5f}, {0, 2.1f, 0.5f}, {0, -2.1f, 0.5f}};
    for (int plane = 0; plane < 6; ++plane) {
        EXPECT_GT(Side(v.planes[plane], OrvaVector(0, 0, 0.5f)), 0.0f) << plane;
        for (int other = 0; other < 6; ++other) {
            EXPECT_EQ(Side(v.planes[plane], beyond[other]) < 0.0f, plane == other) << plane << " " << other;
        }
    }
}

TEST_F(OrvaGraphicsGeometry, ViewFrustumFromInverseViewProjectionHoldsWhatTheCameraSees)
{
    OrvaMatrix inverse;
    inverse.Inverse(ViewProjection());
    Volume f;
    OrvaGraphics::BuildFrustum(OrvaVector(-1, -1, 0), OrvaVector(1, 1, 1), f.corners, f.planes, inverse);
    // Near plane 1 from the eye, half as high as it is far.
    ExpectVector(f.corners[2], -4.0f / 3.0f, 1, -9, 1e-4f);
    ExpectVector(f.corners[5], 400.0f / 3.0f, -100, 90, 0.05f);

    // Any clip-space point inside the cube, carried back to the world, is
    // inside all six planes.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        OrvaVector p(unit(rng) * 1.98f - 0.99f, unit(rng) * 1.98f - 0.99f, 0.01f + unit(rng) * 0.98f);
        p.TransformCoord(p, inverse);
        for (int plane = 0; plane < 6; ++plane) {
            EXPECT_GE(Side(f.planes[plane], p), 0.0f) << plane;
        }
    }
    // What lies behind the eye, past the far plane or off to a side is
    // outside the matching plane.
    EXPECT_LT(Side(f.planes[0], OrvaVector(0, 0, -10)), 0.0f);
    EXPECT_LT(Side(f.planes[1], OrvaVector(0, 0, 95)), 0.0f);
    EXPECT_LT(Side(f.planes[2], OrvaVector(-20, 0, 0)), 0.0f);
    EXPECT_LT(Side(f.planes[3], OrvaVector(20, 0, 0)), 0.0f);
    EXPECT_LT(Side(f.planes[4], OrvaVector(0, 15, 0)), 0.0f);
    EXPECT_LT(Side(f.planes[5], OrvaVector(0, -15, 0)), 0.0f);
}

TEST_F(OrvaGraphicsGeometry, CheckBoxInFrustumGivesEachAnswer)
{
    Volume frustum = BoxVolume(-1, -1, 0, 1, 1, 1);
    EXPECT_EQ(Check(BoxVolume(-0.2f, -0.2f, 0.4f, 0.2f, 0.2f, 0.6f), frustum), 0);
    // Wholly behind the near plane.
    EXPECT_EQ(Check(BoxVolume(-0.5f, -0.5f, -3, 0.5f, 0.5f, -2), frustum), 1);
    // No corner inside, but the frustum's top near edge runs into its side.
    EXPECT_EQ(Check(BoxVolume(0.9f, 0.9f, -1, 2, 2, 2), frustum), 2);
    // The frustum wholly inside the box.
    EXPECT_EQ(Check(BoxVolume(-5, -5, -5, 5, 5, 5), frustum), 2);
    // A box turned 45 degrees off the frustum's top right edge: no corner
    // inside, no one plane with every corner beyond it, no edge meeting it.
    OrvaMatrix place, shift;
    place.RotationZ(8192);
    shift.Translation(2, 2, 0);
    place *= shift;
    EXPECT_EQ(Check(BoxVolume(-1.2f, -1.2f, 0.2f, 1.2f, 1.2f, 0.8f, &place), frustum), 3);
    // Moved half a unit nearer, still without a corner inside, it swallows
    // the frustum's top right edge, which crosses its faces.
    shift.Translation(1.5f, 1.5f, 0);
    place.RotationZ(8192);
    place *= shift;
    EXPECT_EQ(Check(BoxVolume(-1.2f, -1.2f, 0.2f, 1.2f, 1.2f, 0.8f, &place), frustum), 2);
}

TEST_F(OrvaGraphicsGeometry, ScreenToWorldUndoesTheProjection)
{
    OrvaDevice::Configure(640, 480, true, nullptr);
    ASSERT_TRUE(OrvaDevice::Initialize());
    OrvaVector out;
    // Without a camera the view x projection is the identity.
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(0, 0, 0.25f));
    ExpectVector(out, -1, 1, 0.25f, 1e-6f);
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(480, 360, 1));
    ExpectVector(out, 0.5f, -0.5f, 1, 1e-6f);

    heldViewProjection = ViewProjection();
    OrvaGraphics::SetViewProjectionSource(HeldViewProjection);
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(320, 240, 0));
    ExpectVector(out, 0, 0, -9, 1e-4f);
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(0, 0, 0));
    ExpectVector(out, -4.0f / 3.0f, 1, -9, 1e-4f);

    const OrvaVector points[] = {{0, 0, 0}, {3, -2, 5}, {-30, 20, 60}};
    for (const OrvaVector& p : points) {
        OrvaVector clip;
        clip.TransformCoord(p, heldViewProjection);
        OrvaVector screen((clip.x + 1.0f) * 320.0f, (1.0f - clip.y) * 240.0f, clip.z);
        OrvaGraphics::ScreenToWorld(&out, screen);
        ExpectVector(out, p.x, p.y, p.z, 2e-3f);
    }

    // The viewport's size, not the frame's, spans the clip square.
    platform::Viewport half;
    half.width = 320;
    half.height = 240;
    ASSERT_EQ(OrvaDevice::GetDevice()->SetViewport(half), platform::kGfxOk);
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(160, 120, 0));
    ExpectVector(out, 0, 0, -9, 1e-4f);

    // Without a device there is no viewport and no inverse: out keeps its
    // value.
    OrvaDevice::Destroy();
    out.Set(7, 8, 9);
    OrvaGraphics::ScreenToWorld(&out, OrvaVector(1, 1, 0));
    ExpectVector(out, 7, 8, 9, 0.0f);
}

TEST_F(OrvaGraphicsGeometry, RayProbeBoxTestsInTheBoxFrame)
{
    // The unit box turned 45 degrees about Z and set at x = 10.
    OrvaMatrix world, shift;
    world.RotationZ(8192);
    shift.Translation(10, 0, 0);
    world *= shift;
    OrvaVector lo(-1, -1, -1), hi(1, 1, 1);
    OrvaVector origin(0, 0, 0);
    // The ray runs on past p2.
    EXPECT_TRUE(OrvaGraphics::RayProbeBox(world, lo, hi, origin, OrvaVector(1, 0, 0)));
    EXPECT_FALSE(OrvaGraphics::RayProbeBox(world, lo, hi, origin, OrvaVector(-1, 0, 0)));
    EXPECT_FALSE(OrvaGraphics::RayProbeBox(world, lo, hi, origin, OrvaVector(0, 1, 0)));
    // Starting inside hits whichever way it points.
    EXPECT_TRUE(OrvaGraphics::RayProbeBox(world, lo, hi, OrvaVector(10, 0.2f, 0), OrvaVector(10, 5, 5)));
    // The turned box reaches 1.41 from its centre along x, not 1.
    EXPECT_TRUE(OrvaGraphics::RayProbeBox(world, lo, hi, OrvaVector(11.3f, -5, 0), OrvaVector(11.3f, 5, 0)));
    EXPECT_FALSE(OrvaGraphics::RayProbeBox(world, lo, hi, OrvaVector(11.5f, -5, 0), OrvaVector(11.5f, 5, 0)));

    OrvaMatrix flat;
    flat.Scaling(1, 0, 1);
    EXPECT_FALSE(OrvaGraphics::RayProbeBox(flat, lo, hi, OrvaVector(0, 0, -5), origin));
}
