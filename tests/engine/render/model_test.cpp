#include "engine/render/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/math.h"
#include "engine/render/frame.h"
#include "engine/render/material.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::kClear;
using meshtest::kSize;
using meshtest::MeshFixture;

// Two flat squares five units in front of the camera. Left (frame Body)
// covers world x -6..-2, y -2..2 with two materials; Right (frame Arm)
// covers x 0..2, y -1..1 and has a fifth, unused vertex; Arm's position
// keys move it from x 0 at time 0 to x 4 at time 10. A mesh that cannot be
// read is skipped.
const char kModel[] = R"(
Frame Body {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;; }
  Mesh Left {
    4; -6.0;-2.0;0.0;, -2.0;-2.0;0.0;, -6.0;2.0;0.0;, -2.0;2.0;0.0;;
    2; 3;0,2,3;, 3;0,3,1;;
    MeshMaterialList { 2; 2; 0,1;;
      Material A { 1.0;0.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
      Material B { 0.0;1.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
    }
  }
}
Frame Arm {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;; }
  Mesh Right {
    5; 0.0;-1.0;0.0;, 2.0;-1.0;0.0;, 0.0;1.0;0.0;, 2.0;1.0;0.0;, 1.0;0.0;0.0;;
    1; 4;0,2,3,1;;
    MeshMaterialList { 1; 1; 0;; Material C { 0.0;0.0;1.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } }
  }
}
Mesh Broken { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,9;; }
AnimationSet Move { Animation { {Arm} AnimationKey { 2; 2; 0; 3; 0.0,0.0,5.0;;, 10; 3; 4.0,0.0,5.0;;; } } }
)";

// Pixels covered by a world rectangle from (x0, y0) to (x1, y1), y up,
// shifted by dx world units. Pixel centres sit on whole screen positions,
// world x = column - 8 and y = 8 - row; a centre on a left or top edge is
// inside, on a right or bottom edge outside.
bool Inside(int x, int y, float x0, float x1, float y0, float y1, float dx = 0.0f)
{
    const float wx = float(x - kSize / 2), wy = float(kSize / 2 - y);
    return wx >= x0 + dx && wx < x1 + dx && wy <= y1 && wy > y0;
}
bool LeftSquare(int x, int y, float dx = 0.0f) { return Inside(x, y, -6, -2, -2, 2, dx); }
bool RightSquare(int x, int y, float dx = 0.0f) { return Inside(x, y, 0, 2, -1, 1, dx); }

class OrvaModelTest : public MeshFixture {
protected:
    void SetUp() override
    {
        MeshFixture::SetUp();
        OrvaMath::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
    }
    void TearDown() override
    {
        OrvaModel::SetModuleState(nullptr);
        OrvaMesh::SetModuleState(nullptr);
        OrvaModel::Destroy();
        MeshFixture::TearDown();
    }
    // A model made as the X-file generator makes it, drawing its material
    // colours flat.
    OrvaModel* LoadModel()
    {
        OrvaModel* model = OrvaModel::Create();
        EXPECT_NE(model, nullptr);
        EXPECT_NE(model->CreateRootFrame("MASTER_FRAME"), nullptr);
        const xtest::Bytes bytes = xtest::Text(kModel);
        platform::XFile xfile;
        EXPECT_TRUE(xfile.Parse(bytes.data(), bytes.size(), &error)) << error;
        model->LoadFromXof(xfile, nullptr);
        model->SetColorMode(kOrvaShaderDiffuse, -1);
        model->RebuildShader(-1);
        return model;
    }
    std::vector<uint32_t> Draw(OrvaModel* model, bool reflected = false)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        reflected ? model->RenderReflected() : model->Render();
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return meshtest::g_frame;
    }
    template <typename F>
    std::string Shape(F f)
    {
        return MeshFixture::Expected(f);
    }
    OrvaMesh* Mesh(OrvaModel* model, int i) { return model->GetMesh(i); }
    OrvaMaterial* Material(OrvaModel* model, int mesh, int i)
    {
        return static_cast<OrvaMaterial*>(Mesh(model, mesh)->GetMaterials()->GetAt(i));
    }
};

void ExpectRows(const OrvaMatrix& m, const std::vector<float>& want)
{
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.GetData()[i], want[i], 1e-6f) << "element " << i;
}

TEST_F(OrvaModelTest, LoadsAnXFileAndDrawsWhereWorldAndTimePutIt)
{
    OrvaModel* model = LoadModel();
    ASSERT_EQ(model->GetMeshCount(), 2);
    EXPECT_EQ(model->FindFrame("MASTER_FRAME"), 0);
    EXPECT_EQ(model->FindFrame("Arm"), 2);
    EXPECT_EQ(model->FindFrame("arm"), -1);
    EXPECT_EQ(model->FindMesh("Right"), 1);
    EXPECT_EQ(model->FindMesh("Broken"), -1);
    EXPECT_EQ(model->FindFrame(nullptr), -1);
    const std::string log = meshtest::ReadLog();
    EXPECT_NE(log.find("    Error : メッシュ [Broken] の読み込みに失敗\n"), std::string::npos) << log;
    EXPECT_NE(log.find("} Frame 3 / Mesh 2 / "), std::string::npos) << log;

    model->Update(0.0f);
    std::vector<uint32_t> frame = Draw(model);
    EXPECT_EQ(MeshFixture::Covered(frame),
              Shape([](int x, int y) { return LeftSquare(x, y) || RightSquare(x, y); }));
    // Flat material colours: the upper-left triangle is A, the lower-right B.
    EXPECT_EQ(frame[7 * kSize + 3], 0xFFFF0000u);
    EXPECT_EQ(frame[9 * kSize + 5], 0xFF00FF00u);
    EXPECT_EQ(frame[8 * kSize + 9], 0xFF0000FFu);

    // A placement change shows only after the next update; time 5 carries
    // Arm half way along its keys.
    model->SetPosition(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(Draw(model), frame);
    model->Update(5.0f);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)),
              Shape([](int x, int y) { return LeftSquare(x, y, 1) || RightSquare(x, y, 3); }));
    OrvaMatrix local;
    ASSERT_TRUE(model->GetFrameMatrix(&local, 2, 10.0f));
    EXPECT_EQ(local.GetElement(4, 1), 4.0f);
    EXPECT_FALSE(model->GetFrameMatrix(&local, 3, 0.0f));
    EXPECT_FALSE(model->GetFrameMatrix(&local, -1, 0.0f));

    // Scale is applied in model space, before the position.
    model->SetScale(0.5f, 0.5f, 1.0f);
    model->SetPosition(0.0f, 0.0f, 0.0f);
    model->Update(0.0f);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)), Shape([](int x, int y) {
                  return Inside(x, y, -3, -1, -1, 1) || Inside(x, y, 0, 1, -0.5f, 0.5f);
              }));

    // A world matrix given outright ignores the placement and takes time 0.
    OrvaMatrix m;
    m.Translation(-2.0f, 0.0f, 0.0f);
    model->UpdateWithMatrix(m);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)),
              Shape([](int x, int y) { return LeftSquare(x, y, -2) || RightSquare(x, y, -2); }));
}

TEST_F(OrvaModelTest, SingleObjectLoadersReadMeshesAndReferencesOfTheirFile)
{
    OrvaModel* model = OrvaModel::Create();
    OrvaFrame* root = model->CreateRootFrame("MASTER_FRAME");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(model->CreateRootFrame("SECOND"), nullptr);
    const xtest::Bytes bytes = xtest::Text(kModel);
    platform::XFile xfile;
    ASSERT_TRUE(xfile.Parse(bytes.data(), bytes.size(), &error)) << error;
    const std::vector<platform::XObject>& objects = xfile.GetObjects();
    ASSERT_EQ(objects.size(), 4u);
    // Arm with its mesh, then the animation set that names it.
    model->LoadFrame(xfile, objects[1], root, nullptr);
    model->LoadAnimationSet(xfile, objects[3], nullptr);
    ASSERT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(model->GetMesh(0)->GetFrame(), model->GetFrame(1));
    model->Update(10.0f);
    EXPECT_EQ(model->GetFrame(1)->GetCombinedMatrix()->GetElement(4, 1), 4.0f);
    model->LoadMesh(xfile, objects[0].children[1], root, nullptr);
    EXPECT_EQ(model->FindMesh("Left"), 1);
}

TEST_F(OrvaModelTest, PlacementComposesScaleAxesAndPosition)
{
    OrvaModel* model = OrvaModel::Create();
    model->Update(0.0f);
    ExpectRows(*model->GetWorldMatrix(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    model->SetScale(2, 2, 2);
    model->SetPosition(1, 2, 3);
    model->Update(0.0f);
    ExpectRows(*model->GetWorldMatrix(), {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1});

    // Model X turns to world Y; model Y, stretched first, to world -X.
    model->Reset();
    model->SetScale(1, 2, 1);
    model->RotateZ(16384);
    model->Update(0.0f);
    ExpectRows(*model->GetWorldMatrix(), {0, 1, 0, 0, -2, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    // Yaw and Pitch turn about the model's own Y and X.
    model->Reset();
    model->Yaw(16384);
    OrvaVector v;
    EXPECT_EQ(model->GetFront(&v)->x, 1.0f);
    EXPECT_EQ(model->GetRight(&v)->z, -1.0f);
    EXPECT_EQ(model->GetYaw(), 16383);
    model->Reset();
    model->Pitch(-16384);
    EXPECT_EQ(model->GetFront(&v)->y, 1.0f);
    EXPECT_EQ(model->GetPitch(), 16383);
    EXPECT_EQ(model->GetUp(&v)->z, -1.0f);

    model->Reset();
    EXPECT_EQ(model->GetPitch(), 0);
    EXPECT_EQ(model->GetYaw(), 0);
    EXPECT_EQ(model->GetRoll(), 0);
    const OrvaVector diagonal(1, 0, 1), ahead(0, 0, 1), side(1, 0, 0), upward(0, 1, 0);
    model->SetAxes(&diagonal, &upward, &side);
    EXPECT_EQ(model->GetYaw(), 8191);
    // Rolled upside down: pi - the angle of the right axis.
    const OrvaVector down(0, -1, 0);
    model->SetAxes(&ahead, &down, &side);
    EXPECT_EQ(model->GetRoll(), 32767);
    // Straight up the roll has no defined sine: a value, not a fault.
    model->SetAxes(&upward, &down, &side);
    EXPECT_EQ(model->GetRoll(), 0);

    // Replacing an axis by the one it already is keeps all three.
    model->Reset();
    model->SetFront(&ahead);
    model->SetRight(&side);
    model->SetUp(&upward);
    model->Update(0.0f);
    ExpectRows(*model->GetWorldMatrix(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    // A new front rebuilds right and up around it.
    const OrvaVector slanted(1, 0, 0);
    model->SetFront(&slanted);
    EXPECT_EQ(model->GetRight(&v)->z, -1.0f);
    EXPECT_EQ(model->GetUp(&v)->y, 1.0f);

    const OrvaVector eye(0, 10, 0), origin(0, 0, 0);
    model->LookAt(&eye, &origin, nullptr);
    EXPECT_EQ(model->GetFront(&v)->y, -1.0f);
    EXPECT_EQ(model->GetUp(&v)->z, 1.0f);
    EXPECT_EQ(model->GetRight(&v)->x, 1.0f);
    EXPECT_EQ(model->GetPosition(&v)->y, 10.0f);

    OrvaMatrix m;
    m.Translation(4, 5, 6);
    m.SetElement(1, 2, 7.0f);
    model->SetMatrix(m);
    EXPECT_EQ(model->GetPosition(&v)->z, 6.0f);
    EXPECT_EQ(model->GetRight(&v)->y, 7.0f);
    const float h = std::sqrt(0.5f);
    const float quarterZ[4] = {0.0f, 0.0f, h, h};
    model->SetQuaternion(quarterZ);
    EXPECT_NEAR(model->GetRight(&v)->y, 1.0f, 1e-6f);
    EXPECT_EQ(model->GetPosition(&v)->x, 4.0f);
}

TEST_F(OrvaModelTest, ScreenPositionAndBillboard)
{
    OrvaModel* model = OrvaModel::Create();
    OrvaVector out(-1, -1, -1);
    float w = 0.0f;
    model->SetPosition(0, 0, 5);
    ASSERT_TRUE(model->GetScreenPosition(&out, &w));
    EXPECT_FLOAT_EQ(out.x, kSize / 2);
    EXPECT_FLOAT_EQ(out.y, kSize / 2);
    EXPECT_FLOAT_EQ(out.z, 0.5f);
    EXPECT_FLOAT_EQ(w, 1.0f);
    model->SetPosition(4, 2, 5);
    ASSERT_TRUE(model->GetScreenPosition(&out, nullptr));
    EXPECT_FLOAT_EQ(out.x, 12.0f);
    EXPECT_FLOAT_EQ(out.y, 6.0f);
    // Behind the eye and beyond the far plane: nothing written.
    for (float z : {-1.0f, 11.0f}) {
        out.Set(-1, -1, -1);
        model->SetPosition(0, 0, z);
        EXPECT_FALSE(model->GetScreenPosition(&out, &w));
        EXPECT_EQ(out.x, -1.0f);
    }
    model->SetPosition(1, 2, 3);
    model->GetViewPosition(&out);
    EXPECT_FLOAT_EQ(out.z, 3.0f);

    // A billboard turns its front toward the eye (at the origin) and stays.
    model->SetPosition(0, 0, 5);
    model->SetBillboard(1);
    model->Update(0.0f);
    OrvaVector v;
    EXPECT_FLOAT_EQ(model->GetFront(&v)->z, -1.0f);
    EXPECT_FLOAT_EQ(model->GetWorldMatrix()->GetElement(4, 3), 5.0f);
    EXPECT_FLOAT_EQ(model->GetWorldMatrix()->GetElement(3, 3), -1.0f);
}

TEST_F(OrvaModelTest, AnIndexOutsideTheListAddressesEveryMeshOrMaterial)
{
    OrvaModel* model = LoadModel();
    model->Update(0.0f);
    model->SetVisible(0, 5);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)), Shape([](int, int) { return false; }));
    model->SetVisible(1, -1);
    model->SetVisible(0, 1);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)), Shape([](int x, int y) { return LeftSquare(x, y); }));
    model->SetVisible(1, -1);

    OrvaTexture* t = OrvaTexture::Create(2, 2, false, nullptr);
    model->SetTexture(1, t, 0, -1);
    EXPECT_EQ(Material(model, 0, 0)->GetTexture(1), t);
    EXPECT_EQ(Material(model, 0, 1)->GetTexture(1), t);
    EXPECT_EQ(Material(model, 1, 0)->GetTexture(1), nullptr);
    model->SetTexture(1, nullptr, -1, 0);
    EXPECT_EQ(Material(model, 0, 0)->GetTexture(1), nullptr);
    EXPECT_EQ(Material(model, 0, 1)->GetTexture(1), t);
    t->Release();

    model->SetRenderState(27, 1, -1, 1);
    EXPECT_EQ(Material(model, 0, 1)->GetState(27), 1u);
    EXPECT_EQ(Material(model, 0, 0)->GetState(27), OrvaMaterial::kStateUnset);
    // Mesh 1 has one material: index 1 is outside it, so it is every one.
    EXPECT_EQ(Material(model, 1, 0)->GetState(27), 1u);

    model->SetMorphWeight(0.25f, -1);
    model->SetMorphWeight(0.75f, 1);
    EXPECT_EQ(Mesh(model, 0)->GetMorphWeight(), 0.25f);
    EXPECT_EQ(Mesh(model, 1)->GetMorphWeight(), 0.75f);
    const float c[4] = {1, 2, 3, 4};
    model->SetVertexShaderConstant(40, 1, c, 0);
    EXPECT_EQ(Mesh(model, 0)->GetVertexConstant(40)->value[3], 4.0f);
    EXPECT_EQ(Mesh(model, 1)->GetVertexConstant(40)->enable, 0);
    model->SetCulling(0, -1);
    EXPECT_EQ(Mesh(model, 0)->GetCull() + Mesh(model, 1)->GetCull(), 0);

    // The diffuse colour is what the flat shader draws; the new colour
    // selector acts only after the shader is rebuilt.
    model->SetDiffuse(1.0f, 1.0f, 1.0f, 0.0f, 1);
    EXPECT_EQ(Draw(model)[8 * kSize + 9], 0xFFFFFF00u);
    model->SetColorMode(kOrvaShaderDepth, 1);
    EXPECT_EQ(Draw(model)[8 * kSize + 9], 0xFFFFFF00u);
    model->RebuildShader(1);
    EXPECT_NE(Draw(model)[8 * kSize + 9], 0xFFFFFF00u);
    EXPECT_EQ(Draw(model)[7 * kSize + 3], 0xFFFF0000u);
}

TEST_F(OrvaModelTest, MorphTargetsAreCheckedAndAnsweredWithMessages)
{
    OrvaModel* model = LoadModel();
    OrvaModel* other = LoadModel();
    ASSERT_NE(Mesh(model, 0)->GetVertexCount(), Mesh(model, 1)->GetVertexCount());
    EXPECT_STREQ(model->SetMorphTarget(2, other, 0), "存在しないメッシュIDを指定しています");
    EXPECT_STREQ(model->SetMorphTarget(-1, other, 0), "存在しないメッシュIDを指定しています");
    EXPECT_STREQ(model->SetMorphTarget(0, other, 7), "ターゲットに存在しないメッシュIDを指定しています");
    EXPECT_STREQ(model->SetMorphTarget(0, nullptr, 0), "ターゲットに存在しないメッシュIDを指定しています");
    EXPECT_STREQ(model->SetMorphTarget(0, other, 1), "頂点数が一致しません");
    EXPECT_EQ(Mesh(model, 0)->GetVertexKind(), kOrvaMeshStatic);
    EXPECT_EQ(model->SetMorphTarget(1, other, 1), nullptr);
    EXPECT_EQ(Mesh(model, 1)->GetVertexKind(), kOrvaMeshMorph);
}

TEST_F(OrvaModelTest, SingleMeshDrawsPickingAndReflection)
{
    OrvaModel* model = LoadModel();
    model->Update(0.0f);
    OrvaMatrix m;
    ASSERT_TRUE(model->GetMeshMatrix(1, &m));
    EXPECT_EQ(m.GetElement(4, 3), 5.0f);
    EXPECT_FALSE(model->GetMeshMatrix(2, &m));
    EXPECT_FALSE(model->GetMeshMatrix(-1, &m));

    EXPECT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(kClear);
    m.Translation(4.0f, 0.0f, 5.0f);
    EXPECT_TRUE(model->DrawMeshWithMatrix(1, m));
    EXPECT_FALSE(model->DrawMeshWithMatrix(7, m));
    // Mesh 0 with the loaded matrix of frame Body: where Update put it.
    EXPECT_TRUE(model->DrawMeshWithFrameMatrix(0, model, 1));
    EXPECT_FALSE(model->DrawMeshWithFrameMatrix(0, model, 9));
    EXPECT_FALSE(model->DrawMeshWithMeshMatrix(0, nullptr, 0));
    OrvaDevice::EndScene();
    EXPECT_TRUE(OrvaDevice::Present());
    EXPECT_EQ(MeshFixture::Covered(meshtest::g_frame),
              Shape([](int x, int y) { return LeftSquare(x, y) || RightSquare(x, y, 4); }));

    // Picks follow the stored world matrices: mesh 1 now sits at x 4..6.
    EXPECT_EQ(model->PickMesh(3.5f, 8.0f, 0.0f), 0);
    EXPECT_EQ(model->PickMesh(13.0f, 8.5f, 0.0f), 1);
    EXPECT_EQ(model->PickMesh(9.0f, 8.0f, 0.0f), -1);
    model->Update(0.0f);
    EXPECT_EQ(model->PickMesh(9.0f, 8.0f, 0.0f), 1);

    // A reflection pass draws through the module's mirror matrix.
    OrvaMeshModuleState state;
    state.mirrorMatrix.Scaling(-1.0f, 1.0f, 1.0f);
    OrvaMesh::SetModuleState(&state);
    OrvaModel::SetModuleState(&state);
    model->SetCulling(0, -1);
    EXPECT_EQ(MeshFixture::Covered(Draw(model, true)),
              Shape([](int x, int y) { return Inside(x, y, 2, 6, -2, 2) || Inside(x, y, -2, 0, -1, 1); }));
    EXPECT_EQ(state.mirror, 1);
    EXPECT_EQ(MeshFixture::Covered(Draw(model)),
              Shape([](int x, int y) { return LeftSquare(x, y) || RightSquare(x, y); }));
    EXPECT_EQ(state.mirror, 0);
}

TEST_F(OrvaModelTest, SharingReleasedBuffersAndAttachment)
{
    OrvaModel* owner = LoadModel();
    OrvaModel* shared = LoadModel();
    EXPECT_FALSE(owner->Attach(shared));
    EXPECT_FALSE(owner->Attach(nullptr));
    EXPECT_TRUE(shared->ReleaseMeshBuffers());
    EXPECT_FALSE(shared->ReleaseMeshBuffers());
    EXPECT_EQ(shared->GetMesh(0)->GetMaterials()->GetCount(), 0);
    EXPECT_EQ(shared->GetMesh(0)->GetVertexBuffer(), nullptr);
    EXPECT_EQ(shared->GetMesh(1)->GetShow(), 0);
    shared->Update(0.0f);
    EXPECT_EQ(MeshFixture::Covered(Draw(shared)), Shape([](int, int) { return false; }));
    EXPECT_FALSE(shared->Attach(shared));

    ASSERT_TRUE(owner->Attach(shared));
    EXPECT_EQ(shared->GetRefCount(), 2);
    // Held only by the owner, then attached again: it must survive.
    shared->Release();
    ASSERT_TRUE(owner->Attach(shared));
    EXPECT_EQ(shared->GetRefCount(), 1);
    EXPECT_EQ(OrvaModel::GetCount(), 2);

    // The attached model follows the owner's world and time.
    owner->SetPosition(3.0f, 0.0f, 0.0f);
    owner->Update(10.0f);
    EXPECT_EQ(shared->GetWorldMatrix()->GetElement(4, 1), 3.0f);
    EXPECT_EQ(shared->GetFrame(2)->GetCombinedMatrix()->GetElement(4, 1), 4.0f);

    const std::string ownerId = meshtest::Hex(owner), sharedId = meshtest::Hex(shared);
    owner->Release();
    EXPECT_EQ(OrvaModel::GetCount(), 0);
    const std::string log = meshtest::ReadLog();
    EXPECT_NE(log.find("● ReleaseModel / ID [" + ownerId + "]\n"), std::string::npos) << log;
    EXPECT_NE(log.find("● ReleaseModel / ID [" + sharedId + "]\n"), std::string::npos) << log;
}

TEST_F(OrvaModelTest, ShutDownWithModelsHoldingEachOtherAndDeviceReset)
{
    OrvaModel* first = LoadModel();
    OrvaModel* second = LoadModel();
    ASSERT_TRUE(second->ReleaseMeshBuffers());
    // The first in the list holds the second, which nobody else holds.
    ASSERT_TRUE(first->Attach(second));
    second->Release();

    first->Update(0.0f);
    const std::vector<uint32_t> before = Draw(first);
    OrvaDevice::GetDevice()->SimulateLoss(0);
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_NE(first->GetMesh(0)->GetVertexBuffer(), nullptr);
    EXPECT_EQ(Draw(first), before);

    OrvaModel::Destroy();
    EXPECT_EQ(OrvaModel::GetCount(), 0);
    EXPECT_NE(meshtest::ReadLog().find("● ReleaseModel / ID [" + meshtest::Hex(second) + "]\n"), std::string::npos);
}

}  // namespace
