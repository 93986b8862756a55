#include "engine/render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/graphics.h"
#include "engine/core/texture.h"
#include "engine/render/light.h"
#include "engine/render/model.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

void ExpectVector(const OrvaVector& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-5f);
    EXPECT_NEAR(v.y, y, 1e-5f);
    EXPECT_NEAR(v.z, z, 1e-5f);
}

void ExpectRow(const OrvaMatrix& m, int row, float a, float b, float c, float d)
{
    EXPECT_NEAR(m.GetElement(row, 1), a, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.GetElement(row, 2), b, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.GetElement(row, 3), c, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.GetElement(row, 4), d, 1e-5f) << "row " << row;
}

// An axis-aligned box as the eight corners and six planes of the frustum's
// order.
struct Box {
    OrvaVector corners[8];
    float planes[6][4];
};

Box MakeBox(const OrvaVector& minimum, const OrvaVector& maximum)
{
    Box b;
    OrvaMatrix identity;
    identity.Identity();
    OrvaGraphics::BuildFrustum(minimum, maximum, b.corners, b.planes, identity);
    return b;
}

class CameraTest : public ::testing::Test {
protected:
    void Start(int w, int h)
    {
        StartDevice(w, h);
        OrvaDevice::GetDevice()->SetThreadCount(2);
        OrvaTexture::Initialize();
        OrvaEffect::Initialize();
        ASSERT_TRUE(OrvaCamera::Initialize());
    }
    void TearDown() override
    {
        OrvaCamera::Destroy();
        StopDevice2D();
    }
    // A square of half-size `half` around `centre` in the plane z = centre.z,
    // drawn untransformed with the identity world.
    static void Square(const OrvaVector& centre, float half, uint32_t color)
    {
        struct V {
            float x, y, z;
            uint32_t c;
            float u, v;
        };
        const float l = centre.x - half, r = centre.x + half, b = centre.y - half, t = centre.y + half;
        const V v[6] = {{l, t, centre.z, color, 0, 0}, {r, t, centre.z, color, 0, 0}, {l, b, centre.z, color, 0, 0},
                        {l, b, centre.z, color, 0, 0}, {r, t, centre.z, color, 0, 0}, {r, b, centre.z, color, 0, 0}};
        platform::SoftDevice* dev = OrvaDevice::GetDevice();
        platform::Matrix4 identity = {};
        for (int i = 0; i < 4; ++i) {
            identity.m[i][i] = 1.0f;
        }
        dev->SetTransform(platform::TsWorld, identity);
        dev->SetVertexShader(0x142);
        ASSERT_EQ(dev->DrawPrimitiveUP(platform::PrimTriangleList, 2, v, sizeof(V)), platform::kGfxOk);
    }
    static std::vector<uint32_t> DrawFrame(const OrvaVector& centre, float half)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(0xFF000000u);
        Square(centre, half, 0xFF00FF00u);
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }
};

}  // namespace

TEST_F(CameraTest, PerspectiveAndOrthoProjections)
{
    Start(640, 480);
    OrvaCamera* cam = OrvaCamera::Create();
    ASSERT_NE(cam, nullptr);
    OrvaMatrix p;
    cam->SetPerspective(90.0f, 1.0f, 101.0f, 1.0f);
    cam->GetProjectionMatrix(&p);
    ExpectRow(p, 1, 1, 0, 0, 0);
    ExpectRow(p, 2, 0, 1, 0, 0);
    ExpectRow(p, 3, 0, 0, 1.01f, 1);
    ExpectRow(p, 4, 0, 0, -1.01f, 0);
    EXPECT_NEAR(cam->GetFov(), 3.14159265f / 2.0f, 1e-6f);
    EXPECT_EQ(cam->GetNear(), 1.0f);
    EXPECT_EQ(cam->GetFar(), 101.0f);

    // Aspect 0: the viewport's.
    cam->SetPerspective(60.0f, 1.0f, 100.0f, 0.0f);
    cam->GetProjectionMatrix(&p);
    EXPECT_FLOAT_EQ(cam->GetAspect(), 640.0f / 480.0f);
    const float cot = 1.0f / std::tan(30.0f * 3.14159265f / 180.0f);
    EXPECT_NEAR(p.GetElement(1, 1), cot * 0.75f, 1e-5f);
    EXPECT_NEAR(p.GetElement(2, 2), cot, 1e-5f);

    cam->SetOrtho(640.0f, 480.0f, 1.0f, 100.0f);
    cam->GetProjectionMatrix(&p);
    EXPECT_FLOAT_EQ(cam->GetAspect(), 640.0f / 480.0f);
    EXPECT_EQ(cam->GetFov(), 1.0f);
    ExpectRow(p, 1, 2.0f / 640.0f, 0, 0, 0);
    ExpectRow(p, 3, 0, 0, 1.0f / 99.0f, 0);
    ExpectRow(p, 4, 0, 0, -1.0f / 99.0f, 1);

    // Shaping the projection leaves the product alone until UpdateView.
    OrvaMatrix vp;
    cam->GetViewProjectionMatrix(&vp);
    ExpectRow(vp, 1, 1, 0, 0, 0);
    cam->UpdateView();
    cam->GetViewProjectionMatrix(&vp);
    ExpectRow(vp, 1, 2.0f / 640.0f, 0, 0, 0);
}

TEST_F(CameraTest, ViewFromAxesAndPosition)
{
    Start(8, 8);
    OrvaCamera* cam = OrvaCamera::Create();
    ASSERT_NE(cam, nullptr);
    OrvaMatrix v;
    cam->UpdateView();
    cam->GetViewMatrix(&v);
    for (int r = 1; r <= 4; ++r) {
        ExpectRow(v, r, r == 1, r == 2, r == 3, r == 4);
    }
    cam->Translate(0.0f, 0.0f, -10.0f);
    cam->GetViewMatrix(&v);
    ExpectRow(v, 4, 0, 0, 0, 1);   // not rebuilt yet
    cam->UpdateView();
    cam->GetViewMatrix(&v);
    ExpectRow(v, 4, 0, 0, 10, 1);

    // A quarter turn about Y; Yaw goes through RotateY.
    cam->Reset();
    cam->Yaw(16384);
    OrvaVector r, u, f, pos(1, 1, 1);
    cam->GetRight(&r);
    cam->GetUp(&u);
    cam->GetFront(&f);
    cam->GetPosition(&pos);
    ExpectVector(r, 0, 0, -1);
    ExpectVector(u, 0, 1, 0);
    ExpectVector(f, 1, 0, 0);
    ExpectVector(pos, 0, 0, 0);
    // SetViewMatrix refreshes the camera's product at once.
    cam->SetOrtho(2.0f, 2.0f, 0.0f, 1.0f);
    OrvaMatrix t;
    t.Translation(5.0f, 0.0f, 0.0f);
    cam->SetViewMatrix(t);
    OrvaMatrix vp;
    cam->GetViewProjectionMatrix(&vp);
    ExpectRow(vp, 4, 5, 0, 0, 1);
}

TEST_F(CameraTest, LookAtAndLookAlongLight)
{
    Start(8, 8);
    OrvaCamera* cam = OrvaCamera::Create();
    ASSERT_NE(cam, nullptr);
    OrvaVector r, u, f, p;
    // Straight down with no up vector: the up hint becomes +Z.
    const OrvaVector above(0, 10, 0), origin(0, 0, 0);
    cam->LookAt(&above, &origin, nullptr);
    cam->GetRight(&r);
    cam->GetUp(&u);
    cam->GetFront(&f);
    cam->GetPosition(&p);
    ExpectVector(f, 0, -1, 0);
    ExpectVector(u, 0, 0, 1);
    ExpectVector(r, 1, 0, 0);
    ExpectVector(p, 0, 10, 0);

    const OrvaVector behind(0, 0, -10), yUp(0, 1, 0);
    cam->LookAt(&behind, &origin, &yUp);
    cam->GetRight(&r);
    cam->GetUp(&u);
    cam->GetFront(&f);
    ExpectVector(f, 0, 0, 1);
    ExpectVector(r, 1, 0, 0);
    ExpectVector(u, 0, 1, 0);

    // Along a light: the same direction gives the frame half a turn about
    // the front axis.
    OrvaVector dir(0, 0, 3);
    OrvaLight::SetPosition(1, &behind);
    OrvaLight::SetDirection(1, &dir);
    cam->Reset();
    cam->LookAlongLight(1);
    cam->GetRight(&r);
    cam->GetUp(&u);
    cam->GetFront(&f);
    cam->GetPosition(&p);
    ExpectVector(p, 0, 0, -10);
    ExpectVector(f, 0, 0, 1);
    ExpectVector(r, -1, 0, 0);
    ExpectVector(u, 0, -1, 0);

    // No such light: position and front stay, right and up rebuilt from front.
    cam->LookAt(&above, &origin, nullptr);
    cam->LookAlongLight(4);
    cam->GetFront(&f);
    cam->GetPosition(&p);
    cam->GetRight(&r);
    cam->GetUp(&u);
    ExpectVector(f, 0, -1, 0);
    ExpectVector(p, 0, 10, 0);
    ExpectVector(r, -1, 0, 0);
    ExpectVector(u, 0, 0, -1);
}

TEST_F(CameraTest, GlobalsChangeOnlyThroughUpdateTransformsAndApply)
{
    Start(8, 8);
    OrvaMatrix identity;
    identity.Identity();
    OrvaCamera::SetView(identity);
    OrvaCamera::SetProjection(identity);
    OrvaCamera::UpdateTransforms();

    // The identity frustum is the clip box itself.
    const OrvaFrustum& fr = OrvaCamera::GetFrustum();
    for (int i = 0; i < 8; ++i) {
        ExpectVector(fr.corners[i], (i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : 0.0f);
    }
    EXPECT_NEAR(fr.planes[0][0], 0.0f, 1e-6f);
    EXPECT_NEAR(fr.planes[0][1], 0.0f, 1e-6f);
    EXPECT_NEAR(fr.planes[0][2], 1.0f, 1e-6f);
    EXPECT_NEAR(fr.planes[0][3], 0.0f, 1e-6f);
    const Box around = MakeBox(OrvaVector(-0.5f, -0.5f, 0.2f), OrvaVector(0.5f, 0.5f, 0.8f));
    const Box aside = MakeBox(OrvaVector(2.5f, -0.5f, 0.2f), OrvaVector(3.5f, 0.5f, 0.8f));
    EXPECT_TRUE(OrvaCamera::IsBoxVisible(around.corners, around.planes));
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(aside.corners, aside.planes));
    // A box holding the whole frustum touches it.
    const Box huge = MakeBox(OrvaVector(-5, -5, -5), OrvaVector(5, 5, 5));
    EXPECT_TRUE(OrvaCamera::IsBoxVisible(huge.corners, huge.planes));

    // SetView alone leaves product, frustum and device as they were.
    OrvaMatrix moved;
    moved.Translation(3.0f, 0.0f, 0.0f);
    OrvaCamera::SetView(moved);
    OrvaMatrix vp;
    OrvaCamera::GetViewProjection(&vp);
    ExpectRow(vp, 4, 0, 0, 0, 1);
    platform::Matrix4 deviceView;
    OrvaDevice::GetDevice()->GetTransform(platform::TsView, &deviceView);
    EXPECT_EQ(deviceView.m[3][0], 0.0f);
    OrvaCamera::UpdateTransforms();
    OrvaCamera::GetViewProjection(&vp);
    ExpectRow(vp, 4, 3, 0, 0, 1);
    OrvaDevice::GetDevice()->GetTransform(platform::TsView, &deviceView);
    EXPECT_EQ(deviceView.m[3][0], 3.0f);
    // The frustum moved the other way: the box around the origin now lies
    // at x -3.5 to -2.5 in clip space.
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(around.corners, around.planes));
}

TEST_F(CameraTest, PointStraightAheadLandsAtTheScreenCentre)
{
    Start(16, 16);
    OrvaCamera* cam = OrvaCamera::Create();
    ASSERT_NE(cam, nullptr);
    const OrvaVector eye(3.0f, 2.0f, -5.0f), target(3.0f, 2.0f, 5.0f);
    cam->SetPerspective(90.0f, 1.0f, 100.0f, 0.0f);
    cam->LookAt(&eye, &target, nullptr);
    cam->UpdateView();
    cam->Apply();

    OrvaVector e;
    OrvaCamera::GetEyePosition(&e);
    ExpectVector(e, 3, 2, -5);
    OrvaMatrix vp;
    OrvaCamera::GetViewProjection(&vp);
    OrvaVector clip;
    clip.TransformCoord(target, vp);
    EXPECT_NEAR(clip.x, 0.0f, 1e-6f);
    EXPECT_NEAR(clip.y, 0.0f, 1e-6f);
    EXPECT_GT(clip.z, 0.0f);
    EXPECT_LT(clip.z, 1.0f);

    // Screen to world reads the camera's product: the screen centre at the
    // target's depth is the target.
    OrvaVector world;
    OrvaGraphics::ScreenToWorld(&world, OrvaVector(8.0f, 8.0f, clip.z));
    ExpectVector(world, 3, 2, 5);

    // At distance 10 with a 90-degree field the half-screen is 10 units, so
    // a square of half-size 1.5 spans 8 -/+ 1.2 pixels: columns and rows 7
    // to 9.
    const std::vector<uint32_t> frame = DrawFrame(target, 1.5f);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 7 && x <= 9 && y >= 7 && y <= 9;
            EXPECT_EQ(frame[y * 16 + x], inside ? 0xFF00FF00u : 0xFF000000u) << x << "," << y;
        }
    }

    // Device reset: the walker sends view and projection again, so the
    // picture is the same.
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_EQ(DrawFrame(target, 1.5f), frame);
}

TEST_F(CameraTest, FrustumHoldsWhatTheCameraSeesAndNotWhatIsBehind)
{
    Start(16, 16);
    OrvaCamera* cam = OrvaCamera::Create();
    ASSERT_NE(cam, nullptr);
    const OrvaVector eye(0.0f, 0.0f, -5.0f), target(10.0f, 0.0f, -5.0f);
    cam->SetPerspective(60.0f, 1.0f, 50.0f, 1.0f);
    cam->LookAt(&eye, &target, nullptr);
    cam->UpdateView();
    cam->Apply();

    const Box ahead = MakeBox(OrvaVector(9, -1, -6), OrvaVector(11, 1, -4));
    const Box behind = MakeBox(OrvaVector(-11, -1, -6), OrvaVector(-9, 1, -4));
    const Box aside = MakeBox(OrvaVector(9, -1, 20), OrvaVector(11, 1, 22));
    const Box beyondFar = MakeBox(OrvaVector(60, -1, -6), OrvaVector(62, 1, -4));
    // Between the eye and the near plane.
    const Box nearEye = MakeBox(OrvaVector(0.2f, -0.1f, -5.1f), OrvaVector(0.6f, 0.1f, -4.9f));
    EXPECT_TRUE(OrvaCamera::IsBoxVisible(ahead.corners, ahead.planes));
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(behind.corners, behind.planes));
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(aside.corners, aside.planes));
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(beyondFar.corners, beyondFar.planes));
    EXPECT_FALSE(OrvaCamera::IsBoxVisible(nearEye.corners, nearEye.planes));

    // The near corners lie one unit in front of the eye, the far ones 50.
    const OrvaFrustum& fr = OrvaCamera::GetFrustum();
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(fr.corners[i].x, 1.0f, 1e-4f);
        EXPECT_NEAR(fr.corners[i + 4].x, 50.0f, 1e-3f);
    }
}

TEST_F(CameraTest, ApplyCopiesTheCamerasStateAndDestroyReleasesCameras)
{
    Start(8, 8);
    OrvaCamera* a = OrvaCamera::Create();
    OrvaCamera* b = OrvaCamera::Create();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    a->SetOrtho(4.0f, 4.0f, 0.0f, 10.0f);
    a->Translate(1.0f, 2.0f, 3.0f);
    a->UpdateView();
    a->Apply();
    OrvaMatrix view, projection;
    OrvaCamera::GetView(&view);
    OrvaCamera::GetProjection(&projection);
    ExpectRow(view, 4, -1, -2, -3, 1);
    ExpectRow(projection, 1, 0.5f, 0, 0, 0);
    platform::Matrix4 deviceProjection;
    OrvaDevice::GetDevice()->GetTransform(platform::TsProjection, &deviceProjection);
    EXPECT_EQ(deviceProjection.m[0][0], 0.5f);

    // Apply copies the product the camera holds, even a stale one.
    b->SetOrtho(2.0f, 2.0f, 0.0f, 1.0f);
    b->Apply();
    OrvaMatrix vp;
    OrvaCamera::GetViewProjection(&vp);
    ExpectRow(vp, 1, 1, 0, 0, 0);
    OrvaVector eye(9, 9, 9);
    OrvaCamera::GetEyePosition(&eye);
    ExpectVector(eye, 0, 0, 0);

    // Destroy releases every camera once.
    b->AddRef();
    OrvaCamera::Destroy();
    EXPECT_EQ(b->GetRefCount(), 1);
    EXPECT_EQ(b->GetOwner(), nullptr);
    b->Release();
}

TEST_F(CameraTest, RidesOnAModelTakingItsPlaceAndAxes)
{
    Start(8, 8);
    ASSERT_TRUE(OrvaModel::Initialize());
    OrvaCamera* cam = OrvaCamera::Create();
    OrvaModel* model = OrvaModel::Create();
    ASSERT_NE(cam, nullptr);
    ASSERT_NE(model, nullptr);
    // A model turned a quarter about Y and placed away from the origin.
    model->SetPosition(3.0f, -2.0f, 7.0f);
    const OrvaVector front(1, 0, 0), up(0, 1, 0), right(0, 0, -1);
    model->SetAxes(&front, &up, &right);
    cam->SetFromModel(model);
    OrvaVector r, u, f, p;
    cam->GetRight(&r);
    cam->GetUp(&u);
    cam->GetFront(&f);
    cam->GetPosition(&p);
    ExpectVector(p, 3, -2, 7);
    ExpectVector(f, 1, 0, 0);
    ExpectVector(u, 0, 1, 0);
    ExpectVector(r, 0, 0, -1);
    // The view is rebuilt only by UpdateView: then a point one unit in front
    // of the model lies one unit ahead of the eye.
    OrvaMatrix view;
    cam->GetViewMatrix(&view);
    ExpectRow(view, 4, 0, 0, 0, 1);
    cam->UpdateView();
    cam->GetViewMatrix(&view);
    OrvaVector ahead(4, -2, 7);
    ahead.Transform(view);
    ExpectVector(ahead, 0, 0, 1);

    // No model: nothing changes.
    cam->SetFromModel(nullptr);
    cam->GetPosition(&p);
    cam->GetRight(&r);
    ExpectVector(p, 3, -2, 7);
    ExpectVector(r, 0, 0, -1);
    OrvaModel::Destroy();
}
