#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/math.h"
#include "engine/render/frame.h"
#include "engine/render/material.h"
#include "engine/render/model.h"
#include "platform/sys/resource.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::kClear;
using meshtest::kSize;
using meshtest::MeshFixture;

class OrvaModelModuleTest : public MeshFixture {
protected:
    void SetUp() override
    {
        MeshFixture::SetUp();
        OrvaMath::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
    }
    void TearDown() override
    {
        OrvaModel::Destroy();
        MeshFixture::TearDown();
    }
    static const OrvaMeshVertex& Vertex(OrvaModel* model, int i) { return model->GetMesh(0)->GetVertexArray()[i]; }
    static std::vector<int> Indices(OrvaModel* model)
    {
        const OrvaMesh* mesh = model->GetMesh(0);
        return std::vector<int>(mesh->GetIndexArray(), mesh->GetIndexArray() + mesh->GetIndexCount());
    }
    static void ExpectVector(const float* v, float x, float y, float z, float tolerance = 0.0f)
    {
        EXPECT_NEAR(v[0], x, tolerance);
        EXPECT_NEAR(v[1], y, tolerance);
        EXPECT_NEAR(v[2], z, tolerance);
    }
};

TEST_F(OrvaModelModuleTest, PlanesLayTheirGridRowByRowWithOneMaterial)
{
    OrvaModel* xy = OrvaModel::CreatePlane(4.0f, 8.0f, 3, 2, 1.0f, nullptr);
    ASSERT_EQ(xy->GetMeshCount(), 1);
    OrvaMesh* mesh = xy->GetMesh(0);
    ASSERT_EQ(mesh->GetVertexCount(), 6);
    EXPECT_EQ(mesh->GetVertexSize(), 36);
    EXPECT_EQ(mesh->GetVertexKind(), kOrvaMeshStatic);
    const float positions[6][3] = {{-2, -4, 0}, {0, -4, 0}, {2, -4, 0}, {-2, 4, 0}, {0, 4, 0}, {2, 4, 0}};
    const float uvs[6][2] = {{0, 1}, {0.5f, 1}, {1, 1}, {0, 0}, {0.5f, 0}, {1, 0}};
    for (int i = 0; i < 6; ++i) {
        const OrvaMeshVertex& v = Vertex(xy, i);
        ExpectVector(v.position, positions[i][0], positions[i][1], positions[i][2]);
        ExpectVector(v.morphPosition, positions[i][0], positions[i][1], positions[i][2]);
        ExpectVector(v.normal, 0, 0, -1);
        ExpectVector(v.morphNormal, 0, 0, -1);
        EXPECT_EQ(v.u, uvs[i][0]) << i;
        EXPECT_EQ(v.v, uvs[i][1]) << i;
        EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
    }
    EXPECT_EQ(Indices(xy), (std::vector<int>{3, 1, 0, 4, 1, 3, 4, 2, 1, 5, 2, 4}));
    ASSERT_EQ(mesh->GetMaterials()->GetCount(), 1);
    const OrvaMaterial* material = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetHead());
    EXPECT_EQ(material->GetFirstIndex(), 0u);
    EXPECT_EQ(material->GetPrimitiveCount(), 4u);
    EXPECT_EQ(mesh->GetFrame(), xy->GetRootFrame());
    EXPECT_NE(mesh->GetVertexBuffer(), nullptr);

    // The XZ form puts the rows in z; both forms share one numbering.
    OrvaModel* xz = OrvaModel::CreatePlaneXZ(4.0f, 8.0f, 3, 2, 2.0f, nullptr);
    ExpectVector(Vertex(xz, 0).position, -2, 0, -4);
    ExpectVector(Vertex(xz, 5).position, 2, 0, 4);
    ExpectVector(Vertex(xz, 3).normal, 0, 1, 0);
    // A uvScale of 2 scales the mapping about the texture's centre.
    EXPECT_EQ(Vertex(xz, 0).u, -0.5f);
    EXPECT_EQ(Vertex(xz, 2).u, 1.5f);
    EXPECT_EQ(Vertex(xz, 0).v, 1.5f);
    EXPECT_EQ(Vertex(xz, 3).v, -0.5f);
    EXPECT_STREQ(xy->GetRootFrame()->GetName(), "Frame_Plane_00");
    EXPECT_STREQ(xz->GetRootFrame()->GetName(), "Frame_Plane_01");
    EXPECT_STREQ(xz->GetMesh(0)->GetName(), "Mesh_Plane_01");
    EXPECT_EQ(OrvaModel::GetCount(), 2);
}

TEST_F(OrvaModelModuleTest, RefusedCountsLeaveAnEmptyModelAndTheNumberingUnused)
{
    OrvaModel* plane = OrvaModel::CreatePlane(1.0f, 1.0f, 1, 5, 1.0f, nullptr);
    EXPECT_EQ(plane->GetMeshCount(), 0);
    EXPECT_EQ(plane->GetRootFrame(), nullptr);
    OrvaModel* sphere = OrvaModel::CreateSphere(1.0f, 1.0f, 1.0f, 2, 8, nullptr);
    EXPECT_EQ(sphere->GetMeshCount(), 0);
    EXPECT_EQ(sphere->GetRootFrame(), nullptr);
    // 300 x 300 vertices are more than 16-bit indices can reach.
    OrvaModel* huge = OrvaModel::CreatePlaneXZ(1.0f, 1.0f, 300, 300, 1.0f, nullptr);
    EXPECT_EQ(huge->GetMeshCount(), 0);
    EXPECT_EQ(OrvaModel::GetCount(), 3);
    const std::string log = meshtest::ReadLog();
    EXPECT_NE(log.find("○ CreateModel   / ID [" + meshtest::Hex(plane) + "] / Error 頂点数は最低でも各軸2つ必要です\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("○ CreateModel   / ID [" + meshtest::Hex(sphere) + "] / Error スライスとスタックが少なすぎます\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ERROR : Vertex Overflow!!! [90000]\n"), std::string::npos) << log;

    OrvaModel* next = OrvaModel::CreatePlane(1.0f, 1.0f, 2, 2, 1.0f, nullptr);
    EXPECT_STREQ(next->GetRootFrame()->GetName(), "Frame_Plane_00");
    OrvaModel* ball = OrvaModel::CreateSphere(1.0f, 1.0f, 1.0f, 3, 3, nullptr);
    EXPECT_STREQ(ball->GetMesh(0)->GetName(), "Mesh_Sphere_00");
}

TEST_F(OrvaModelModuleTest, SphereRingsRunFromTopPoleWithASeamColumn)
{
    OrvaModel* model = OrvaModel::CreateSphere(1.0f, 2.0f, 4.0f, 4, 3, nullptr);
    ASSERT_EQ(model->GetMesh(0)->GetVertexCount(), 16);
    ASSERT_EQ(model->GetMesh(0)->GetIndexCount(), 54);
    const float us[4] = {1.0f, 2.0f / 3.0f, 1.0f / 3.0f, 0.0f};
    for (int j = 0; j < 4; ++j) {
        ExpectVector(Vertex(model, j).position, 0, 2, 0, 1e-6f);
        EXPECT_NEAR(Vertex(model, j).u, us[j], 1e-6f);
        EXPECT_EQ(Vertex(model, j).v, 0.0f);
        // Ring 1 lies at 60 degrees from the top: y = cos 60 x 2.
        EXPECT_NEAR(Vertex(model, 4 + j).position[1], 1.0f, 1e-6f);
        EXPECT_NEAR(Vertex(model, 4 + j).v, 0.25f, 1e-6f);
        ExpectVector(Vertex(model, 12 + j).position, 0, -2, 0, 1e-6f);
    }
    // Column 1 is a third of a turn: D = (-sin 60 sin 120, cos 60, sin 60 cos 120).
    const float s60 = std::sqrt(3.0f) / 2.0f;
    ExpectVector(Vertex(model, 5).position, -s60 * s60 * 1.0f, 1.0f, s60 * -0.5f * 4.0f, 1e-5f);
    for (int i = 0; i < 16; ++i) {
        const OrvaMeshVertex& v = Vertex(model, i);
        const float length = std::sqrt(v.position[0] * v.position[0] + v.position[1] * v.position[1] +
                                       v.position[2] * v.position[2]);
        ExpectVector(v.normal, v.position[0] / length, v.position[1] / length, v.position[2] / length, 1e-5f);
    }
    const std::vector<int> indices = Indices(model);
    EXPECT_EQ(std::vector<int>(indices.begin(), indices.begin() + 6), (std::vector<int>{0, 1, 4, 1, 5, 4}));
    // The last cell of the last band: a 10, b 11, c 14, d 15.
    EXPECT_EQ(std::vector<int>(indices.end() - 6, indices.end()), (std::vector<int>{10, 11, 14, 11, 15, 14}));
}

TEST_F(OrvaModelModuleTest, CubeFacesFaceOutwardFromTheirPlanes)
{
    OrvaModel* model = OrvaModel::CreateCube(2.0f, 4.0f, 6.0f, nullptr);
    ASSERT_EQ(model->GetMesh(0)->GetVertexCount(), 24);
    const std::vector<int> indices = Indices(model);
    ASSERT_EQ(indices.size(), 36u);
    const float half[3] = {1.0f, 2.0f, 3.0f};
    const float normals[6][3] = {{0, 1, 0}, {0, -1, 0}, {0, 0, -1}, {0, 0, 1}, {1, 0, 0}, {-1, 0, 0}};
    for (int f = 0; f < 6; ++f) {
        for (int k = 0; k < 4; ++k) {
            const OrvaMeshVertex& v = Vertex(model, 4 * f + k);
            ExpectVector(v.normal, normals[f][0], normals[f][1], normals[f][2]);
            // Every corner lies on its face's plane, at the half size along
            // the normal.
            float along = 0.0f, extent = 0.0f;
            for (int a = 0; a < 3; ++a) {
                along += v.position[a] * normals[f][a];
                extent += std::fabs(normals[f][a]) * half[a];
                EXPECT_EQ(std::fabs(v.position[a]), half[a]);
            }
            EXPECT_EQ(along, extent) << "face " << f;
            EXPECT_EQ(v.u, (k & 1) ? 1.0f : 0.0f);
            EXPECT_EQ(v.v, (k & 2) ? 1.0f : 0.0f);
        }
        // Both triangles turn about the outward normal the same way.
        for (int t = 0; t < 2; ++t) {
            const float* p[3];
            for (int c = 0; c < 3; ++c) p[c] = Vertex(model, indices[6 * f + 3 * t + c]).position;
            const float e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
            const float e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
            const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                e1[0] * e2[1] - e1[1] * e2[0]};
            EXPECT_GT(n[0] * normals[f][0] + n[1] * normals[f][1] + n[2] * normals[f][2], 0.0f)
                << "face " << f << " triangle " << t;
        }
    }
    const float* lo = model->GetMesh(0)->GetBoxMin();
    const float* hi = model->GetMesh(0)->GetBoxMax();
    ExpectVector(lo, -1, -2, -3);
    ExpectVector(hi, 1, 2, 3);
}

TEST_F(OrvaModelModuleTest, BillboardFacesTheEyeAndDrawsItsRectangle)
{
    OrvaModel* first = OrvaModel::CreateBillboard(4.0f, 6.0f, nullptr);
    OrvaModel* second = OrvaModel::CreateBillboard(1.0f, 1.0f, nullptr);
    EXPECT_EQ(first->GetBillboard(), 1);
    EXPECT_STREQ(first->GetRootFrame()->GetName(), "Frame_Billboard_00");
    EXPECT_STREQ(second->GetMesh(0)->GetName(), "Mesh_Billboard_01");
    EXPECT_EQ(Indices(first), (std::vector<int>{0, 1, 2, 2, 1, 3}));
    ExpectVector(Vertex(first, 1).position, 2, 3, 0);
    ExpectVector(Vertex(first, 2).normal, 0, 0, -1);
    EXPECT_NE(meshtest::ReadLog().find("○ CreateModel   / ID [" + meshtest::Hex(first) +
                                       "] / Vertex 4, Index 6, (  -2.000,  -3.000,   0.000)-(   2.000,   3.000,   "
                                       "0.000), "),
              std::string::npos)
        << meshtest::ReadLog();
    second->Release();

    first->SetColorMode(kOrvaShaderDiffuse, -1);
    first->RebuildShader(-1);
    first->SetPosition(1.0f, 0.0f, 5.0f);
    first->Update(0.0f);
    // Turned toward the eye at the origin.
    OrvaVector front;
    first->GetFront(&front);
    EXPECT_NEAR(front.z, -0.98058f, 1e-4f);
    EXPECT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(kClear);
    first->Render();
    OrvaDevice::EndScene();
    EXPECT_TRUE(OrvaDevice::Present());
    // Pixel centres on whole screen positions: world x = column - 8,
    // y = 8 - row. The turned billboard spans about x -0.96..2.96.
    std::string want;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const float wx = float(x - kSize / 2), wy = float(kSize / 2 - y);
            want += (wx >= -0.5f && wx < 3.0f && wy <= 3.0f && wy > -3.0f) ? '#' : '.';
        }
        want += '\n';
    }
    EXPECT_EQ(MeshFixture::Covered(meshtest::g_frame), want);
    EXPECT_EQ(meshtest::g_frame[8 * kSize + 9], 0xFFFFFFFFu);
}

TEST_F(OrvaModelModuleTest, ModuleStateReachesMeshesAndEndsWithTheModule)
{
    // Camera: one reference held, none added twice, the old one dropped.
    EXPECT_EQ(camera->GetRefCount(), 1);
    OrvaModel::SetCamera(camera);
    EXPECT_EQ(camera->GetRefCount(), 2);
    OrvaModel::SetCamera(camera);
    EXPECT_EQ(camera->GetRefCount(), 2);
    EXPECT_EQ(OrvaModel::GetCamera(), camera);
    OrvaModel::SetCamera(nullptr);
    EXPECT_EQ(camera->GetRefCount(), 1);
    EXPECT_EQ(OrvaModel::GetCamera(), nullptr);

    // The texture pack keeps at most 255 bytes; null clears it.
    const std::string longName(300, 'p');
    OrvaModel::SetTexturePack(longName.c_str());
    EXPECT_EQ(std::string(OrvaModel::GetTexturePack()), longName.substr(0, 255));
    OrvaModel::SetTexturePack(nullptr);
    EXPECT_STREQ(OrvaModel::GetTexturePack(), "");

    // A mirror in the plane x = 1: the reflection pass draws a plane model
    // over x 2..6 at x -4..0.
    const OrvaMatrix* reflection = OrvaModel::GetReflectionMatrix();
    ASSERT_NE(reflection, nullptr);
    EXPECT_EQ(reflection->GetElement(1, 1), 1.0f);
    EXPECT_EQ(reflection->GetElement(4, 1), 0.0f);
    const OrvaVector p0(1, 1, 0), p1(1, 1, 10), p2(1, -1, 0), p3(1, -1, 10);
    OrvaModel::SetMirror(&p0, &p1, &p2, &p3);
    EXPECT_NEAR(reflection->GetElement(1, 1), -1.0f, 1e-6f);
    EXPECT_NEAR(reflection->GetElement(4, 1), 2.0f, 1e-6f);
    EXPECT_NEAR(reflection->GetElement(2, 2), 1.0f, 1e-6f);
    // The device's plane 1 runs through the eye and the mirror's edge
    // p1-p3, which the orthographic view x projection puts at x = 1/8 on
    // the screen: it keeps x <= 1/8 in clip space. (The mirror is seen
    // edge on here; planes 0 and 2 lie along the lines of sight.)
    float plane[4];
    ASSERT_EQ(OrvaDevice::GetDevice()->GetClipPlane(1, plane), platform::kGfxOk);
    EXPECT_NEAR(plane[0], -1.0f, 1e-5f);
    EXPECT_NEAR(plane[1], 0.0f, 1e-6f);
    EXPECT_NEAR(plane[2], 0.0f, 1e-6f);
    EXPECT_NEAR(plane[3], 0.125f, 1e-5f);

    OrvaModel* model = OrvaModel::CreatePlane(4.0f, 4.0f, 2, 2, 1.0f, nullptr);
    model->SetColorMode(kOrvaShaderDiffuse, -1);
    model->RebuildShader(-1);
    model->SetCulling(0, -1);
    model->SetRenderState(platform::RsCullMode, platform::CullNone, -1, -1);
    model->SetPosition(4.0f, 0.0f, 5.0f);
    model->Update(0.0f);
    auto draw = [&](bool reflected) {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        reflected ? model->RenderReflected() : model->Render();
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return MeshFixture::Covered(meshtest::g_frame);
    };
    auto square = [](float x0) {
        return MeshFixture::Expected([x0](int x, int y) {
            const float wx = float(x - kSize / 2), wy = float(kSize / 2 - y);
            return wx >= x0 && wx < x0 + 4 && wy <= 2 && wy > -2;
        });
    };
    EXPECT_EQ(draw(true), square(-4.0f));
    EXPECT_EQ(draw(false), square(2.0f));

    // Device loss through the model walk.
    OrvaModel::OnLostDevice();
    EXPECT_EQ(model->GetMesh(0)->GetVertexBuffer(), nullptr);
    OrvaModel::OnResetDevice();
    EXPECT_NE(model->GetMesh(0)->GetVertexBuffer(), nullptr);

    // Shut-down: banner, models, camera and matrix gone; a mirror then does
    // nothing.
    OrvaModel::SetCamera(camera);
    OrvaModel::Destroy();
    EXPECT_EQ(camera->GetRefCount(), 1);
    EXPECT_EQ(OrvaModel::GetReflectionMatrix(), nullptr);
    OrvaModel::SetMirror(&p0, &p1, &p2, &p3);
    const std::string log = meshtest::ReadLog();
    const size_t banner = log.find("\n============================================== Destroy Model\n");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_NE(log.find("● ReleaseModel / ID [" + meshtest::Hex(model) + "]", banner), std::string::npos);
    EXPECT_EQ(OrvaModel::GetCount(), 0);
}

// A flat square 5 units in front of the camera, with one material.
const char kSquare[] = R"(
Mesh Square {
  4; -1.0;-1.0;5.0;, 1.0;-1.0;5.0;, -1.0;1.0;5.0;, 1.0;1.0;5.0;;
  2; 3;0,2,3;, 3;0,3,1;;
}
)";

TEST_F(OrvaModelModuleTest, XModelsComeFromAFileOrAResource)
{
    OrvaModel* missing = OrvaModel::CreateFromX("no_such_model.x", nullptr);
    ASSERT_NE(missing->GetRootFrame(), nullptr);
    EXPECT_STREQ(missing->GetRootFrame()->GetName(), "MASTER_FRAME");
    EXPECT_EQ(missing->GetMeshCount(), 0);
    EXPECT_NE(meshtest::ReadLog().find("no_such_model.x {\nERROR 列挙オブジェクトの作成に失敗\n"
                                       "ファイルがないか無効な可能性があります ["),
              std::string::npos)
        << meshtest::ReadLog();

    const xtest::Bytes bytes = xtest::Text(kSquare);
    platform::ResourceEntry table[1];
    table[0].type = "XFILE";
    table[0].name = "square_model.x";
    table[0].data = bytes.data();
    table[0].size = bytes.size();
    ASSERT_TRUE(platform::AddResources(table, 1));
    OrvaModel* loaded = OrvaModel::CreateFromX("square_model.x", nullptr);
    platform::RemoveResources(table);
    ASSERT_EQ(loaded->GetMeshCount(), 1);
    EXPECT_EQ(loaded->GetMesh(0)->GetVertexCount(), 4);
    EXPECT_EQ(loaded->GetMesh(0)->GetFrame(), loaded->GetRootFrame());
}

}  // namespace
