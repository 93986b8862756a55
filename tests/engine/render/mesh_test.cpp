#include "engine/render/mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/render/light.h"
#include "engine/render/material.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::kClear;
using meshtest::kSize;
using meshtest::ReadLog;

// A cube of side 4 inside a frame five units in front of the camera: the
// sides use the first material, the front and back the second (by
// reference); a third material has no faces.
const char kCube[] = R"(
Frame Box {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;; }
  Mesh Cube {
    8;
    -2.0;-2.0;-2.0;, 2.0;-2.0;-2.0;, -2.0;2.0;-2.0;, 2.0;2.0;-2.0;,
    -2.0;-2.0;2.0;, 2.0;-2.0;2.0;, -2.0;2.0;2.0;, 2.0;2.0;2.0;;
    6;
    4;0,2,3,1;, 4;4,5,7,6;, 4;0,1,5,4;, 4;2,6,7,3;, 4;0,4,6,2;, 4;1,3,7,5;;
    MeshNormals { 6; 0.0;0.0;-1.0;, 0.0;0.0;1.0;, 0.0;-1.0;0.0;, 0.0;1.0;0.0;, -1.0;0.0;0.0;, 1.0;0.0;0.0;;
      6; 4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;; }
    MeshMaterialList { 3; 6; 1,1,0,0,0,0;;
      Material Red { 1.0;0.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
      {Green}
      Material Blue { 0.0;0.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
    }
  }
}
Material Green { 0.0;1.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "maps\missing.png"; } }
Mesh Bad { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,7;; }
)";

class OrvaMeshTest : public meshtest::MeshFixture {
protected:
    // Loads the cube and rebuilds it to draw its material colour.
    OrvaMesh* LoadCube(const xtest::Bytes& bytes)
    {
        EXPECT_TRUE(Load(bytes)) << error;
        OrvaModelLoader::Animate(&frames, 0.0f);
        OrvaMesh* mesh = MeshAt(0);
        if (mesh != nullptr) {
            mesh->GetShaderDesc()->color = kOrvaShaderDiffuse;
            mesh->RestoreDeviceObjects();
        }
        return mesh;
    }
};

// The front face covers world x and y from -2 to 2: screen 6 to 10, pixel
// centres 6 to 9 on both axes.
bool FrontFace(int x, int y, int dx = 0)
{
    return x >= 6 + dx && x <= 9 + dx && y >= 6 && y <= 9;
}

TEST_F(OrvaMeshTest, LoadsCubeAndDrawsItsMaterialWhereTheFaceIs)
{
    for (const xtest::Bytes& bytes : {xtest::Text(kCube), xtest::Binary(kCube)}) {
        SCOPED_TRACE(bytes[11] == ' ' ? "text" : "binary");
        meshes.ReleaseAll();
        animations.ReleaseAll();
        while (frames.GetCount() > 1) frames.GetAt(1)->Release();
        std::remove(meshtest::LogPath().c_str());
        OrvaMesh* mesh = LoadCube(bytes);
        ASSERT_NE(mesh, nullptr);
        // The unreadable mesh is logged and left out.
        ASSERT_EQ(meshes.GetCount(), 1);
        EXPECT_STREQ(mesh->GetName(), "Cube");
        EXPECT_EQ(mesh->GetFrame(), FrameAt(1));
        EXPECT_EQ(mesh->GetVertexKind(), kOrvaMeshStatic);
        EXPECT_EQ(mesh->GetVertexSize(), 36);
        EXPECT_EQ(mesh->GetVertexCount(), 24);
        EXPECT_EQ(mesh->GetIndexCount(), 36);
        // Blue had no faces and is gone; the sorted faces give the ranges.
        OrvaObjectList* materials = mesh->GetMaterials();
        ASSERT_EQ(materials->GetCount(), 2);
        const OrvaMaterial* red = static_cast<OrvaMaterial*>(materials->GetAt(0));
        const OrvaMaterial* green = static_cast<OrvaMaterial*>(materials->GetAt(1));
        EXPECT_EQ(red->GetFirstIndex(), 0u);
        EXPECT_EQ(red->GetPrimitiveCount(), 8u);
        EXPECT_EQ(green->GetFirstIndex(), 24u);
        EXPECT_EQ(green->GetPrimitiveCount(), 4u);
        EXPECT_EQ(green->GetMaterialPointer()->ambient.g, 1.0f);
        EXPECT_EQ(green->GetTexture(0), nullptr);
        EXPECT_EQ(mesh->GetMemorySize(), 24u * 36u + 36u * 2u + sizeof(OrvaMesh));

        const std::string log = ReadLog();
        char line[256];
        std::snprintf(line, sizeof line,
                      "\tMesh { Vertex 24, Index 36, (  -2.000,  -2.000,  -2.000)-(   2.000,   2.000,   2.000), %.3lfKB}\n",
                      mesh->GetMemorySize() / 1024.0);
        EXPECT_NE(log.find(line), std::string::npos) << log;
        EXPECT_NE(log.find("    Error : メッシュ [Bad] の読み込みに失敗\n"), std::string::npos) << log;
        std::snprintf(line, sizeof line, "} Frame 2 / Mesh 1 / %8.3lf KByteUse / Complete!\n",
                      (100.0 + 2.0 * sizeof(OrvaFrame) + mesh->GetMemorySize()) / 1024.0);
        EXPECT_NE(log.find(line), std::string::npos) << log;

        const std::vector<uint32_t> frame = DrawFrame();
        EXPECT_EQ(MeshFixture::Covered(frame), MeshFixture::Expected([](int x, int y) { return FrontFace(x, y); }));
        EXPECT_EQ(frame[7 * kSize + 7], 0xFF00FF00u);
        // The world matrix follows the frame's: three units to the right.
        OrvaMatrix right;
        right.Translation(3.0f, 0.0f, 0.0f);
        EXPECT_EQ(MeshFixture::Covered(DrawFrame(&right)),
                  MeshFixture::Expected([](int x, int y) { return FrontFace(x, y, 3); }));
    }
}

TEST_F(OrvaMeshTest, ShowCullAndABoxDrawnBetweenMeshes)
{
    OrvaMesh* mesh = LoadCube(xtest::Text(kCube));
    ASSERT_NE(mesh, nullptr);
    const std::string face = MeshFixture::Expected([](int x, int y) { return FrontFace(x, y); });
    mesh->SetShow(0);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), MeshFixture::Expected([](int, int) { return false; }));
    mesh->SetShow(1);
    // Far outside the view the box test drops the mesh; without culling
    // it is drawn (and clipped away).
    OrvaMatrix away;
    away.Translation(100.0f, 0.0f, 0.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame(&away)), MeshFixture::Expected([](int, int) { return false; }));
    // A box drawn with its own vertex format, then the mesh again with the
    // same description in the same scene: its shader is bound again.
    EXPECT_TRUE(OrvaDevice::BeginScene());
    OrvaDevice::Clear(kClear);
    OrvaMatrix identity;
    identity.Identity();
    OrvaMatrix out;
    mesh->UpdateWorld(&out, *mesh->GetFrame()->GetCombinedMatrix(), identity);
    mesh->UpdateBox(out);
    mesh->Draw();
    mesh->DrawBox(0xFFFFFFFFu);
    mesh->Draw();
    OrvaDevice::EndScene();
    EXPECT_TRUE(OrvaDevice::Present());
    EXPECT_EQ(meshtest::g_frame[7 * kSize + 7], 0xFF00FF00u);
}

TEST_F(OrvaMeshTest, DeviceLossReleasesBuffersAndResetRebuildsThem)
{
    OrvaMesh* mesh = LoadCube(xtest::Text(kCube));
    ASSERT_NE(mesh, nullptr);
    const std::vector<uint32_t> before = DrawFrame();
    OrvaMesh::OnLostDevice();
    EXPECT_EQ(mesh->GetVertexBuffer(), nullptr);
    EXPECT_EQ(mesh->GetIndexBuffer(), nullptr);
    // Without buffers nothing is drawn, and nothing breaks.
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), MeshFixture::Expected([](int, int) { return false; }));
    OrvaMesh::OnResetDevice();
    EXPECT_EQ(DrawFrame(), before);
    // A real loss goes through the device's walkers.
    OrvaDevice::GetDevice()->SimulateLoss(0);
    ASSERT_TRUE(OrvaDevice::Reset());
    ASSERT_NE(mesh->GetVertexBuffer(), nullptr);
    ASSERT_NE(mesh->GetIndexBuffer(), nullptr);
    EXPECT_EQ(DrawFrame(), before);
}

// Reads the device vertex buffer back.
std::vector<float> DeviceVertices(OrvaMesh* mesh)
{
    platform::SoftVertexBuffer* vb = mesh->GetVertexBuffer();
    std::vector<float> out;
    uint8_t* bytes = nullptr;
    if (vb == nullptr || vb->Lock(0, 0, &bytes, platform::LockReadOnly) != platform::kGfxOk) return out;
    out.resize(vb->GetLength() / 4);
    std::memcpy(out.data(), bytes, out.size() * 4);
    vb->Unlock();
    return out;
}

OrvaMesh* Triangle(float x, int32_t kind)
{
    OrvaMesh* mesh = new OrvaMesh();
    EXPECT_TRUE(mesh->AllocateArrays(3, 3));
    const float positions[3][3] = {{x, 0.0f, 1.0f}, {x + 2.0f, 0.0f, 1.0f}, {x, 3.0f, 1.0f}};
    for (int i = 0; i < 3; ++i) {
        OrvaMeshVertex& v = mesh->GetVertexArray()[i];
        std::memcpy(v.position, positions[i], 12);
        std::memcpy(v.morphPosition, positions[i], 12);
        v.normal[2] = -1.0f;
        v.weight0 = 0.25f;
        v.weight1 = 0.5f;
        v.blendIndices[0] = 3;
        v.diffuse = 0xFF102030u;
        v.u = float(i);
        mesh->GetIndexArray()[i] = uint16_t(i);
    }
    mesh->SetVertexKind(kind);
    mesh->SetVertexSize(OrvaMesh::GetKindVertexSize(kind));
    if (kind == kOrvaMeshSkinned) mesh->GetShaderDesc()->transform = kOrvaShaderSkin;
    mesh->CreateBuffers(nullptr);
    return mesh;
}

TEST_F(OrvaMeshTest, DeviceVertexLayoutsMorphTargetsAndBounds)
{
    OrvaMesh* plain = Triangle(0.0f, kOrvaMeshStatic);
    std::vector<float> v = DeviceVertices(plain);
    ASSERT_EQ(v.size(), 3u * 9u);
    EXPECT_EQ(v[9 + 0], 2.0f);    // second position x
    EXPECT_EQ(v[5], -1.0f);       // normal z
    uint32_t diffuse = 0;
    std::memcpy(&diffuse, &v[6], 4);
    EXPECT_EQ(diffuse, 0xFF102030u);
    EXPECT_EQ(v[9 + 7], 1.0f);    // u of the second vertex
    EXPECT_EQ(plain->GetBoxMax()[1], 3.0f);
    EXPECT_FLOAT_EQ(plain->GetRadius(), (0.0f + 2.0f + 3.0f) * 0.16666667f);

    // A target outside the base widens the box; the kind becomes morphing.
    OrvaMesh* target = Triangle(-5.0f, kOrvaMeshStatic);
    OrvaMesh* other = new OrvaMesh();
    other->AllocateArrays(4, 3);
    EXPECT_STREQ(plain->SetMorphTarget(other, nullptr), "頂点数が一致しません");
    EXPECT_EQ(plain->GetVertexKind(), kOrvaMeshStatic);
    EXPECT_STREQ(plain->SetMorphTarget(nullptr, nullptr), "頂点数が一致しません");
    EXPECT_EQ(plain->SetMorphTarget(target, nullptr), nullptr);
    EXPECT_EQ(plain->GetVertexKind(), kOrvaMeshMorph);
    EXPECT_EQ(plain->GetVertexSize(), 60);
    EXPECT_EQ(plain->GetShaderDesc()->transform, kOrvaShaderMorph);
    EXPECT_EQ(plain->GetBoxMin()[0], -5.0f);
    EXPECT_EQ(plain->GetBoxMax()[0], 2.0f);
    v = DeviceVertices(plain);
    ASSERT_EQ(v.size(), 3u * 15u);
    EXPECT_EQ(v[15 + 6], -3.0f);   // morph position x of the second vertex

    // Skinned: three weights, the last implied; with a target, 76 bytes.
    OrvaMesh* skinned = Triangle(0.0f, kOrvaMeshSkinned);
    v = DeviceVertices(skinned);
    ASSERT_EQ(v.size(), 3u * 13u);
    EXPECT_EQ(v[6], 0.25f);
    EXPECT_EQ(v[7], 0.5f);
    EXPECT_EQ(v[8], 0.25f);
    uint8_t indices[4];
    std::memcpy(indices, &v[9], 4);
    EXPECT_EQ(indices[0], 3);
    EXPECT_EQ(skinned->SetMorphTarget(target, nullptr), nullptr);
    EXPECT_EQ(skinned->GetVertexKind(), kOrvaMeshSkinnedMorph);
    EXPECT_EQ(skinned->GetShaderDesc()->transform, kOrvaShaderMorphSkin);
    v = DeviceVertices(skinned);
    ASSERT_EQ(v.size(), 3u * 19u);
    EXPECT_EQ(v[19 + 6], -3.0f);
    EXPECT_EQ(v[19 + 14], 0.25f);
    for (OrvaMesh* m : {plain, target, other, skinned}) m->Release();
}

TEST_F(OrvaMeshTest, NormalsWeightEachCornerByItsAngle)
{
    OrvaMesh* mesh = new OrvaMesh();
    ASSERT_TRUE(mesh->AllocateArrays(4, 6));
    // Triangle 1 in z = 0 with a right angle at the origin, normal +z;
    // triangle 2 in y = 0 with 45 degrees at the origin, normal -y.
    const float p[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 1}};
    for (int i = 0; i < 4; ++i) std::memcpy(mesh->GetVertexArray()[i].position, p[i], 12);
    const uint16_t faces[6] = {0, 1, 2, 0, 1, 3};
    std::memcpy(mesh->GetIndexArray(), faces, sizeof faces);
    mesh->ComputeNormals();
    const float* n0 = mesh->GetVertexArray()[0].normal;
    EXPECT_NEAR(n0[0], 0.0f, 1e-6f);
    EXPECT_NEAR(n0[1], -0.25f / std::sqrt(0.3125f), 1e-6f);
    EXPECT_NEAR(n0[2], 0.5f / std::sqrt(0.3125f), 1e-6f);
    const float* n1 = mesh->GetVertexArray()[1].normal;
    EXPECT_NEAR(n1[1], -0.5f / std::sqrt(0.3125f), 1e-6f);
    EXPECT_NEAR(n1[2], 0.25f / std::sqrt(0.3125f), 1e-6f);
    // The 32-bit faces of a work mesh give the same, and an index past the
    // vertices is skipped.
    const uint32_t wide[9] = {0, 1, 2, 0, 1, 3, 0, 1, 99};
    mesh->ComputeNormals(wide, 9);
    EXPECT_NEAR(mesh->GetVertexArray()[0].normal[2], 0.5f / std::sqrt(0.3125f), 1e-6f);
    mesh->Release();
}

TEST_F(OrvaMeshTest, BakedLightingStatesAndConstants)
{
    OrvaMesh* mesh = Triangle(0.0f, kOrvaMeshStatic);
    OrvaLight::SetAmbient(0.25f);
    OrvaLight::SetDiffuse(0, 1.0f, 0.5f, 0.0f);
    OrvaVector d(0.0f, 0.0f, 1.0f);
    OrvaLight::SetDirection(0, &d);
    for (int i = 1; i < OrvaLight::kLightCount; ++i) OrvaLight::SetDiffuse(i, 0.0f, 0.0f, 0.0f);
    OrvaMatrix identity;
    identity.Identity();
    mesh->BakeLighting(identity, nullptr);
    // (1 + 0.25) x (1, 0.5, 0), each channel at most 1: 255, 159, 0.
    EXPECT_EQ(mesh->GetVertexArray()[0].diffuse, 0xFFFF9F00u);
    std::vector<float> v = DeviceVertices(mesh);
    uint32_t diffuse = 0;
    std::memcpy(&diffuse, &v[6], 4);
    EXPECT_EQ(diffuse, 0xFFFF9F00u);
    OrvaLight::SetAmbient(0.0f);
    OrvaLight::SetDiffuse(0, 0.0f, 0.0f, 0.0f);

    OrvaMaterial* a = new OrvaMaterial();
    OrvaMaterial* b = new OrvaMaterial();
    mesh->GetMaterials()->PushBack(a);
    mesh->GetMaterials()->PushBack(b);
    mesh->SetRenderState(27, 1, 1);
    EXPECT_EQ(a->GetState(27), OrvaMaterial::kStateUnset);
    EXPECT_EQ(b->GetState(27), 1u);
    mesh->SetRenderState(7, 0, -1);
    EXPECT_EQ(a->GetState(7), 0u);
    EXPECT_EQ(b->GetState(7), 0u);

    const float value[4] = {1, 2, 3, 4};
    mesh->SetVertexShaderConstant(95, 1, value);
    mesh->SetVertexShaderConstant(96, 1, value);
    mesh->SetVertexShaderConstant(-1, 1, value);
    mesh->SetPixelShaderConstant(7, 1, value);
    mesh->SetPixelShaderConstant(8, 1, value);
    EXPECT_EQ(mesh->GetVertexConstant(95)->value[3], 4.0f);
    EXPECT_EQ(mesh->GetPixelConstant(7)->enable, 1);
    mesh->SetPixelShaderConstant(7, 0, nullptr);
    EXPECT_EQ(mesh->GetPixelConstant(7)->enable, 0);
    EXPECT_EQ(mesh->GetPixelConstant(7)->value[0], 1.0f);
    EXPECT_EQ(mesh->GetVertexConstant(96), nullptr);
    mesh->Release();
}

// A 2 x 2 24-bit BMP file.
void WriteBmp(const std::string& path)
{
    uint8_t b[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    b[34] = 16;
    for (int i = 54; i < 70; ++i) b[i] = 0x80;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(b, 1, sizeof b, f);
    std::fclose(f);
}

TEST_F(OrvaMeshTest, MaterialTextureFromItsFileNameAfterTheLastBackslash)
{
    const std::string dir = ::testing::TempDir();
    WriteBmp(dir + "mesh_test_texture.bmp");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    platform::MeshMaterial records[2];
    records[0].diffuse[0] = 0.5f;
    records[0].textureFile = "models\\maps\\mesh_test_texture.bmp";
    records[1].textureFile = "maps\\not_there.bmp";
    OrvaMesh* mesh = new OrvaMesh();
    const int32_t textures = OrvaTexture::GetCount();
    mesh->LoadMaterials(2, records, nullptr);
    ASSERT_EQ(chdir(previous), 0);
    std::remove((dir + "mesh_test_texture.bmp").c_str());
    ASSERT_EQ(mesh->GetMaterials()->GetCount(), 2);
    OrvaMaterial* first = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(0));
    OrvaTexture* texture = first->GetTexture(0);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(texture->IsValid());
    EXPECT_EQ(texture->GetWidth(), 2);
    // The material holds the only reference; the missing file left none.
    EXPECT_EQ(texture->GetRefCount(), 1);
    EXPECT_EQ(OrvaTexture::GetCount(), textures + 1);
    EXPECT_EQ(first->GetMaterialPointer()->ambient.r, 0.5f);
    EXPECT_EQ(static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(1))->GetTexture(0), nullptr);
    mesh->Release();
    EXPECT_EQ(OrvaTexture::GetCount(), textures);
}

}  // namespace
