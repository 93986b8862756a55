#include "engine/render/skinned_mesh.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/render/material.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::Hex;
using meshtest::kSize;
using meshtest::ReadLog;

// An arm of two bones: Arm at (-4, 0, 5) and its child Hand four units
// along x. The arm quad (x -4 to 0, y 0 to 1) follows Arm, the hand quad
// (x 0 to 4) follows Hand. Hand turns a quarter about z (+X to +Y) from
// time 0 to 10, about its own origin, which stays at world (0, 0, 5).
const char kArm[] = R"(
Frame Arm {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -4.0,0.0,5.0,1.0;; }
  Frame Hand {
    FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,0.0,1.0;; }
  }
}
Mesh Strip {
  8;
  -4.0;0.0;5.0;, 0.0;0.0;5.0;, -4.0;1.0;5.0;, 0.0;1.0;5.0;,
  0.0;0.0;5.0;, 4.0;0.0;5.0;, 0.0;1.0;5.0;, 4.0;1.0;5.0;;
  2;
  4;0,2,3,1;, 4;4,6,7,5;;
  MeshNormals { 1; 0.0;0.0;-1.0;; 2; 4;0,0,0,0;, 4;0,0,0,0;; }
  MeshMaterialList { 1; 2; 0,0;; Material { 1.0;1.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } }
  XSkinMeshHeader { 1; 2; 2; }
  SkinWeights { "Arm"; 4; 0,1,2,3; 1.0,1.0,1.0,1.0;
    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,-5.0,1.0;; }
  SkinWeights { "Hand"; 4; 4,5,6,7; 1.0,1.0,1.0,1.0;
    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,-5.0,1.0;; }
}
AnimationSet Bend {
  Animation { {Hand} AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 10; 4; 0.70710678,0.0,0.0,-0.70710678;;; } }
}
)";

class SkinnedMeshTest : public meshtest::MeshFixture {
protected:
    SkinnedMesh* LoadArm(const char* body)
    {
        EXPECT_TRUE(Load(xtest::Text(body))) << error;
        SkinnedMesh* mesh = dynamic_cast<SkinnedMesh*>(MeshAt(0));
        if (mesh != nullptr) {
            mesh->GetShaderDesc()->color = kOrvaShaderDiffuse;
            mesh->RestoreDeviceObjects();
        }
        return mesh;
    }
};

TEST_F(SkinnedMeshTest, TwoBonesBentByARotationKey)
{
    SkinnedMesh* mesh = LoadArm(kArm);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetShaderDesc()->transform, kOrvaShaderSkin);
    EXPECT_EQ(mesh->GetVertexKind(), kOrvaMeshSkinned);
    EXPECT_EQ(mesh->GetVertexSize(), 52);
    EXPECT_EQ(mesh->GetBoneCount(), 2u);
    EXPECT_EQ(mesh->GetPaletteSize(), 2u);
    EXPECT_EQ(mesh->GetCombinationCount(), 1u);
    ASSERT_EQ(mesh->GetBoneMatrixPointer(1), FrameAt(2)->GetCombinedMatrix());
    const std::string log = ReadLog();
    const std::string bones = "    SkinnedMesh [2 BONE]\n";
    const std::string bind = "-> Find Bone...\n    [Arm] [" + Hex(FrameAt(1)->GetCombinedMatrix()) + "]\n    [Hand] [" +
                             Hex(FrameAt(2)->GetCombinedMatrix()) + "]\n";
    EXPECT_NE(log.find(bones), std::string::npos) << log;
    EXPECT_NE(log.find(bind), std::string::npos) << log;

    // Bind pose: the strip lies along row 7 from x = -4 to 4: pixels 4 to 11.
    OrvaModelLoader::Animate(&frames, 0.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()),
              MeshFixture::Expected([](int x, int y) { return y == 7 && x >= 4 && x <= 11; }));
    EXPECT_EQ(meshtest::g_frame[7 * kSize + 5], 0xFFFFFF00u);

    // Bent: a hand vertex (x, y) goes to (-y, x); the hand covers x -1 to 0,
    // y 0 to 4: pixel column 7, rows 4 to 7. The arm stays.
    const std::string bent =
        MeshFixture::Expected([](int x, int y) { return (y == 7 && x >= 4 && x <= 7) || (x == 7 && y >= 4 && y <= 7); });
    OrvaModelLoader::Animate(&frames, 10.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), bent);
    // After the last key the hand holds it.
    OrvaModelLoader::Animate(&frames, 25.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), bent);

    // The skin survives a lost device.
    OrvaDevice::GetDevice()->SimulateLoss(0);
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), bent);
}

TEST_F(SkinnedMeshTest, ABoneWithoutItsFrameMovesByItsOffset)
{
    // Hand's weights name a frame that does not exist.
    const std::string arm = kArm;
    const size_t at = arm.find("\"Hand\"");
    const std::string body = arm.substr(0, at) + "\"Wrist\"" + arm.substr(at + 6);
    SkinnedMesh* mesh = LoadArm(body.c_str());
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetBoneMatrixPointer(1), nullptr);
    EXPECT_NE(ReadLog().find("    [Wrist] [0x00000000]\n"), std::string::npos) << ReadLog();
    // Its quad is carried by the offset alone: z from 5 to 0, still in view.
    OrvaModelLoader::Animate(&frames, 10.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()),
              MeshFixture::Expected([](int x, int y) { return y == 7 && x >= 4 && x <= 11; }));
}

TEST_F(SkinnedMeshTest, ManyBonesSplitIntoCombinationsOfTheDevicePalette)
{
    // Thirty bones, one per quad of a strip; each quad's right edge also
    // leans on the next bone. No normals: the split mesh is cloned to the
    // skinned format and its normals computed.
    platform::SkinMeshData skin;
    platform::MeshData& m = skin.GetMesh();
    const uint32_t quads = 30;
    ASSERT_TRUE(m.Create(0x102, 2 * (quads + 1), 2 * quads));
    for (uint32_t i = 0; i <= quads; ++i) {
        for (uint32_t k = 0; k < 2; ++k) {
            const float p[3] = {float(i), float(k), 1.0f};
            std::memcpy(m.GetVertices() + (2 * i + k) * m.GetStride(), p, 12);
        }
    }
    for (uint32_t q = 0; q < quads; ++q) {
        const uint16_t v[6] = {uint16_t(2 * q), uint16_t(2 * q + 1), uint16_t(2 * q + 3),
                               uint16_t(2 * q), uint16_t(2 * q + 3), uint16_t(2 * q + 2)};
        std::memcpy(m.GetIndices() + 6 * q, v, sizeof v);
    }
    std::vector<std::string> names;
    std::vector<OrvaMatrix> offsets;
    for (uint32_t b = 0; b < quads; ++b) {
        platform::SkinMeshData::Bone bone;
        char name[16];
        std::snprintf(name, sizeof name, "B%u", b);
        bone.name = name;
        bone.offset = platform::MatrixIdentity();
        bone.vertices = {2 * b, 2 * b + 1, 2 * b + 2, 2 * b + 3};
        bone.weights = {1.0f, 1.0f, 0.5f, 0.5f};
        skin.GetEditableBones().push_back(bone);
        names.push_back(bone.name);
        OrvaMatrix o;
        o.Identity();
        offsets.push_back(o);
    }
    SkinnedMesh* mesh = new SkinnedMesh();
    meshes.PushBack(mesh);
    mesh->GetMaterials()->PushBack(new OrvaMaterial());
    ASSERT_TRUE(mesh->SetBones(names, offsets));
    platform::MeshData prepared;
    ASSERT_EQ(mesh->PrepareFromSkinMesh(&skin, &prepared, nullptr), 1);
    EXPECT_EQ(OrvaDevice::GetMaxSkinBones(), 23);
    EXPECT_EQ(mesh->GetPaletteSize(), 23u);
    ASSERT_GE(mesh->GetCombinationCount(), 2u);
    uint32_t faces = 0;
    for (const platform::BoneCombination& c : mesh->GetCombinations()) {
        faces += c.faceCount;
        EXPECT_EQ(c.boneIds.size(), 23u);
    }
    EXPECT_EQ(faces, 2 * quads);
    // The last combination does not fill its palette: those slots are empty.
    EXPECT_EQ(mesh->GetCombinations().back().boneIds.back(), platform::kNoBone);
    EXPECT_EQ(prepared.GetFvf(), platform::kFvfMeshSkinned);
    mesh->SetVertexSize(52);
    mesh->SetVertexCount(int32_t(prepared.GetVertexCount()));
    mesh->SetIndexCount(int32_t(prepared.GetFaceCount() * 3));
    mesh->BuildFromMesh(&prepared, nullptr);
    ASSERT_NE(mesh->GetVertexBuffer(), nullptr);
    // Normals were computed: the strip faces -z or +z, never zero.
    const OrvaMeshVertex& v = mesh->GetVertexArray()[0];
    EXPECT_FLOAT_EQ(v.normal[2] * v.normal[2], 1.0f);
    OrvaObjectList none;
    mesh->BindFrames(&none);
    OrvaModelLoader::Animate(&frames, 0.0f);
    DrawFrame();
}

// The arm of kArm inside a frame Holder three units below the origin,
// with a third quad (x -2 to 2, y 0 to 1) that no bone weighs. Holder's
// position keys take it from y -3 at time 0 to y -5 at time 10.
const char kHeld[] = R"(
Frame Arm {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -4.0,0.0,5.0,1.0;; }
  Frame Hand {
    FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,0.0,1.0;; }
  }
}
Frame Holder {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,-3.0,0.0,1.0;; }
  Mesh Strip {
    12;
    -4.0;0.0;5.0;, 0.0;0.0;5.0;, -4.0;1.0;5.0;, 0.0;1.0;5.0;,
    0.0;0.0;5.0;, 4.0;0.0;5.0;, 0.0;1.0;5.0;, 4.0;1.0;5.0;,
    -2.0;0.0;5.0;, 2.0;0.0;5.0;, -2.0;1.0;5.0;, 2.0;1.0;5.0;;
    3;
    4;0,2,3,1;, 4;4,6,7,5;, 4;8,10,11,9;;
    MeshNormals { 1; 0.0;0.0;-1.0;; 3; 4;0,0,0,0;, 4;0,0,0,0;, 4;0,0,0,0;; }
    MeshMaterialList { 1; 3; 0,0,0;; Material { 1.0;1.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } }
    XSkinMeshHeader { 1; 2; 2; }
    SkinWeights { "Arm"; 4; 0,1,2,3; 1.0,1.0,1.0,1.0;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 4.0,0.0,-5.0,1.0;; }
    SkinWeights { "Hand"; 4; 4,5,6,7; 1.0,1.0,1.0,1.0;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,-5.0,1.0;; }
  }
}
AnimationSet Bend {
  Animation { {Hand} AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 10; 4; 0.70710678,0.0,0.0,-0.70710678;;; } }
  Animation { {Holder} AnimationKey { 2; 2; 0; 3; 0.0,-3.0,0.0;;, 10; 3; 0.0,-5.0,0.0;;; } }
}
)";

TEST_F(SkinnedMeshTest, VerticesNoBoneWeighsFollowTheirFramesOwnTransform)
{
    SkinnedMesh* mesh = LoadArm(kHeld);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetBoneCount(), 2u);
    // The two bones and the mesh's frame.
    EXPECT_EQ(mesh->GetPaletteSize(), 3u);
    EXPECT_EQ(mesh->GetFrame(), FrameAt(3));
    // The weighed quads follow their bones, not the frame the mesh sits in;
    // the third quad follows that frame: row 10 (y -3 to -2), columns 6 to 9.
    OrvaModelLoader::Animate(&frames, 0.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), MeshFixture::Expected([](int x, int y) {
                  return (y == 7 && x >= 4 && x <= 11) || (y == 10 && x >= 6 && x <= 9);
              }));
    // And it moves with the frame's own animation: row 12 at time 10.
    OrvaModelLoader::Animate(&frames, 10.0f);
    EXPECT_EQ(MeshFixture::Covered(DrawFrame()), MeshFixture::Expected([](int x, int y) {
                  return (y == 7 && x >= 4 && x <= 7) || (x == 7 && y >= 4 && y <= 7) || (y == 12 && x >= 6 && x <= 9);
              }));
}

}  // namespace
