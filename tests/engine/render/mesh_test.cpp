#include "engine/render/mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include <unistd.h>

#include "engine/core/math.h"
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

    // A target on the maximum side widens the box there too.
    OrvaMesh* base = Triangle(0.0f, kOrvaMeshStatic);
    OrvaMesh* right = Triangle(7.0f, kOrvaMeshStatic);
    EXPECT_EQ(base->SetMorphTarget(right, nullptr), nullptr);
    EXPECT_EQ(base->GetBoxMin()[0], 0.0f);
    EXPECT_EQ(base->GetBoxMax()[0], 9.0f);
    EXPECT_EQ(base->GetBoxMax()[1], 3.0f);
    EXPECT_FLOAT_EQ(base->GetCenter()[0], 4.5f);
    EXPECT_FLOAT_EQ(base->GetRadius(), (0.0f + 9.0f + 3.0f) * 0.16666667f);
    for (OrvaMesh* m : {plain, target, other, skinned, base, right}) m->Release();
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

// The constants a draw leaves on the device, c[first] onwards.
std::vector<float> Constants(uint32_t first, uint32_t count)
{
    std::vector<float> c(4 * count);
    EXPECT_EQ(OrvaDevice::GetDevice()->GetVertexShaderConstant(first, c.data(), count), platform::kGfxOk);
    return c;
}

void ExpectConstant(uint32_t reg, float x, float y, float z, float w, const char* what)
{
    const std::vector<float> c = Constants(reg, 1);
    EXPECT_NEAR(c[0], x, 1e-5f) << what << " c" << reg << ".x";
    EXPECT_NEAR(c[1], y, 1e-5f) << what << " c" << reg << ".y";
    EXPECT_NEAR(c[2], z, 1e-5f) << what << " c" << reg << ".z";
    EXPECT_NEAR(c[3], w, 1e-5f) << what << " c" << reg << ".w";
}

void ExpectRows(uint32_t reg, uint32_t rows, const std::vector<float>& want, const char* what)
{
    const std::vector<float> c = Constants(reg, rows);
    for (size_t i = 0; i < c.size(); ++i) EXPECT_NEAR(c[i], want[i], 1e-5f) << what << " c" << reg << " [" << i << "]";
}

TEST_F(OrvaMeshTest, ConstantUploadsOfEveryColourTextureAndFogSelector)
{
    OrvaMath::Initialize();
    // The world turns a quarter about z (+X to +Y) and moves 5 along z; the
    // camera stands at (1, 2, -3) with its axes unturned, so the view moves
    // everything by (-1, -2, 3).
    OrvaMesh* mesh = Triangle(0.0f, kOrvaMeshStatic);
    mesh->SetCull(0);
    OrvaMatrix world, identity, out;
    world.RotationZ(16384);
    world.SetElement(4, 3, 5.0f);
    identity.Identity();
    mesh->UpdateWorld(&out, identity, world);
    camera->Translate(1.0f, 2.0f, -3.0f);
    camera->UpdateView();
    camera->Apply();
    // Four lights along world axes; in model space (turned back a quarter)
    // +X becomes -Y, -Y becomes -X, +Z stays and -X becomes +Y.
    const float dirs[4][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {-1, 0, 0}};
    const float model[4][3] = {{0, -1, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        OrvaVector d(dirs[i][0], dirs[i][1], dirs[i][2]);
        OrvaLight::SetDirection(i, &d);
        OrvaLight::SetDiffuse(i, 0.1f * float(i + 1), 0.2f, 0.3f);
    }
    OrvaLight::SetAmbient(0.125f);
    OrvaDevice::SetFog(0xFF808080u, 10.0f, 50.0f);
    mesh->SetTextureScrollU(0.25f);
    mesh->SetStealthScale(0.5f);
    mesh->SetInflate(0.75f);
    mesh->SetMorphWeight(0.375f);
    auto draw = [&](uint32_t color, uint32_t texture, uint32_t fog) {
        *mesh->GetShaderDesc() = {kOrvaShaderStatic, color, texture, fog, 0};
        mesh->CreateBuffers(nullptr);
        ASSERT_NE(mesh->GetVertexShader()->GetHandle(), OrvaShader::kNoHandle);
        // A sentinel in the registers only some selectors write.
        const float sentinel[4 * 8] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                                       7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
        OrvaDevice::GetDevice()->SetVertexShaderConstant(3, sentinel, 8);
        OrvaDevice::GetDevice()->SetVertexShaderConstant(13, sentinel, 7);
        ASSERT_TRUE(OrvaDevice::BeginScene());
        mesh->Draw();
        OrvaDevice::EndScene();
    };

    // Common and transform constants, the same for every selector.
    draw(kOrvaShaderLights, kOrvaShaderTexture, kOrvaShaderNoFog);
    ExpectConstant(0, 0.5f, -0.5f, 1.0f, 765.01f, "common");
    ExpectConstant(1, 0.25f, 0.0f, -1.0f / 40.0f, 50.0f / 40.0f, "scroll and fog scale");
    ExpectConstant(2, 1.0f, 2.0f, -3.0f, 0.125f, "eye and ambient");
    ExpectConstant(12, 0.5f, 0.75f, 0.375f, 0.0f, "stealth, inflate, morph");
    // W x V x P with the fixture's orthographic projection (x / 8, y / 8,
    // z / 10): rows (0, 1/8, 0, 0), (-1/8, 0, 0, 0), (0, 0, 1/10, 0),
    // (-1/8, -2/8, 8/10, 1), uploaded transposed.
    ExpectRows(20, 4, {0, -0.125f, 0, -0.125f, 0.125f, 0, 0, -0.25f, 0, 0, 0.1f, 0.8f, 0, 0, 0, 1}, "W x V x P");

    // Four lights: c3 + i points toward light i in model space, c7 + i its
    // colour.
    for (int i = 0; i < 4; ++i) {
        ExpectConstant(3 + i, -model[i][0], -model[i][1], -model[i][2], 0.0f, "light direction");
        const std::vector<float> c = Constants(7 + i, 1);
        EXPECT_NEAR(c[0], 0.1f * float(i + 1), 1e-6f);
        EXPECT_EQ(c[1], 0.2f);
        EXPECT_EQ(c[2], 0.3f);
    }
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFogEnable), 0u);

    // Hemisphere: light 0 toward the light, c4 the world's up in model
    // space (+X), c7 and c8 the colours of lights 0 and 1; c5 and c6 stay.
    draw(kOrvaShaderHemisphere, kOrvaShaderTexture, kOrvaShaderNoFog);
    ExpectConstant(3, 0, 1, 0, 0, "hemisphere light");
    ExpectConstant(4, 1, 0, 0, 0, "hemisphere axis");
    ExpectConstant(5, 7, 7, 7, 7, "hemisphere");
    EXPECT_NEAR(Constants(8, 1)[0], 0.2f, 1e-6f);

    // The other colour selectors upload no light.
    for (uint32_t color : {kOrvaShaderNoLight, kOrvaShaderVertexColor, kOrvaShaderDiffuse, kOrvaShaderDepth}) {
        draw(color, kOrvaShaderTexture, kOrvaShaderNoFog);
        ExpectRows(3, 8, std::vector<float>(32, 7.0f), "no light");
    }

    // Toon modes put light 0 into c3 pointing toward it, as the lights do,
    // with or without lights: beside four lights light 0 keeps its side.
    for (uint32_t toon : {kOrvaShaderTextureToon, kOrvaShaderToonTexture, kOrvaShaderToonReflection,
                          kOrvaShaderReflectionToon}) {
        for (uint32_t color : {kOrvaShaderNoLight, kOrvaShaderLights}) {
            draw(color, toon, kOrvaShaderNoFog);
            ExpectConstant(3, 0, 1, 0, 0, "toon");
        }
    }
    // Stealth: W x V transposed in c16 to c19; reflection: W transposed.
    const std::vector<float> worldView = {0, -1, 0, -1, 1, 0, 0, -2, 0, 0, 1, 8, 0, 0, 0, 1};
    const std::vector<float> worldOnly = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 5, 0, 0, 0, 1};
    for (uint32_t stealth : {kOrvaShaderTextureStealth, kOrvaShaderStealthTexture}) {
        draw(kOrvaShaderNoLight, stealth, kOrvaShaderNoFog);
        ExpectRows(16, 4, worldView, "stealth");
        ExpectConstant(3, 7, 7, 7, 7, "stealth");
    }
    for (uint32_t reflection : {kOrvaShaderTextureReflection, kOrvaShaderReflectionTexture, kOrvaShaderToonReflection,
                                kOrvaShaderReflectionToon}) {
        draw(kOrvaShaderNoLight, reflection, kOrvaShaderNoFog);
        ExpectRows(16, 4, worldOnly, "reflection");
    }
    // Shadow maps: W x the module camera's view x projection; without a
    // module camera nothing.
    for (uint32_t shadow : {kOrvaShaderTextureShadow, kOrvaShaderShadowTexture}) {
        draw(kOrvaShaderNoLight, shadow, kOrvaShaderNoFog);
        ExpectRows(16, 4, std::vector<float>(16, 7.0f), "shadow without a camera");
        OrvaCamera* light = OrvaCamera::Create();
        light->SetOrtho(2.0f, 4.0f, 0.0f, 10.0f);
        light->UpdateView();
        OrvaMeshModuleState state;
        state.camera = light;
        OrvaMesh::SetModuleState(&state);
        draw(kOrvaShaderNoLight, shadow, kOrvaShaderNoFog);
        OrvaMesh::SetModuleState(nullptr);
        // W x (x, y / 2, z / 10), transposed.
        ExpectRows(16, 4, {0, -1, 0, 0, 0.5f, 0, 0, 0, 0, 0, 0.1f, 0.5f, 0, 0, 0, 1}, "shadow");
        light->Release();
    }

    // Fog: linear fog takes the first three rows of (W x V) transposed,
    // range fog those of W transposed; both switch fog on, none switches it
    // off.
    draw(kOrvaShaderNoLight, kOrvaShaderTexture, kOrvaShaderLinearFog);
    ExpectRows(13, 3, std::vector<float>(worldView.begin(), worldView.begin() + 12), "linear fog");
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFogEnable), 1u);
    draw(kOrvaShaderNoLight, kOrvaShaderTexture, kOrvaShaderNoFog);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFogEnable), 0u);
    ExpectRows(13, 3, std::vector<float>(12, 7.0f), "no fog");
    draw(kOrvaShaderNoLight, kOrvaShaderTexture, kOrvaShaderRangeFog);
    ExpectRows(13, 3, std::vector<float>(worldOnly.begin(), worldOnly.begin() + 12), "range fog");
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsFogEnable), 1u);

    for (int i = 0; i < 4; ++i) OrvaLight::Reset(i);
    OrvaLight::SetAmbient(0.0f);
    OrvaDevice::SetFog(0, 0.0f, 0.0f);
    mesh->Release();
}

}  // namespace
