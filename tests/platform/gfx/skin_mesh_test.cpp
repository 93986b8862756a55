#include "platform/gfx/skin_mesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/gfx/xfile.h"
#include "tests/platform/gfx/xfile_writer.h"

namespace {

using platform::MeshData;
using platform::MeshMaterial;
using platform::SkinMeshData;

// A cube with a normal per face, texture coordinates, two used materials
// (one by reference) and one that no face uses.
const char kCube[] = R"(
Mesh Cube {
  8;
  -2.0;-2.0;-2.0;, 2.0;-2.0;-2.0;, -2.0;2.0;-2.0;, 2.0;2.0;-2.0;,
  -2.0;-2.0;2.0;, 2.0;-2.0;2.0;, -2.0;2.0;2.0;, 2.0;2.0;2.0;;
  6;
  4;0,2,3,1;, 4;4,5,7,6;, 4;0,1,5,4;, 4;2,6,7,3;, 4;0,4,6,2;, 4;1,3,7,5;;
  MeshNormals { 6; 0.0;0.0;-1.0;, 0.0;0.0;1.0;, 0.0;-1.0;0.0;, 0.0;1.0;0.0;, -1.0;0.0;0.0;, 1.0;0.0;0.0;;
    6; 4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;; }
  MeshTextureCoords { 8; 0.0;0.0;, 1.0;0.0;, 0.0;1.0;, 1.0;1.0;, 0.0;0.0;, 1.0;0.0;, 0.0;1.0;, 1.0;1.0;; }
  MeshMaterialList { 3; 6; 1,1,0,0,0,0;;
    Material Red { 1.0;0.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
    {Green}
    Material Blue { 0.0;0.0;1.0;1.0;; 1.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
  }
}
Material Green { 0.0;1.0;0.0;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "maps\green.png"; } }
)";

struct Loaded {
    platform::XFile file;
    SkinMeshData skin;
    std::vector<MeshMaterial> materials;
    std::string error;
    bool ok = false;
};

void Load(const std::string& body, Loaded* l)
{
    const xtest::Bytes bytes = xtest::Text(body);
    ASSERT_TRUE(l->file.Parse(bytes.data(), bytes.size(), &l->error)) << l->error;
    l->ok = platform::LoadSkinMesh(l->file, l->file.GetObjects()[0], &l->skin, &l->materials, &l->error);
}

platform::Vec3 Vec(const MeshData& m, uint32_t vertex, uint32_t offset)
{
    platform::Vec3 v;
    std::memcpy(&v, m.GetVertices() + vertex * m.GetStride() + offset, 12);
    return v;
}

TEST(SkinMesh, LoadsCubeSplittingVerticesByNormal)
{
    Loaded l;
    Load(kCube, &l);
    ASSERT_TRUE(l.ok) << l.error;
    const MeshData& m = l.skin.GetOriginalMesh();
    EXPECT_EQ(m.GetFvf(), 0x112u);
    // Every corner of the cube meets three faces of different normals.
    EXPECT_EQ(m.GetVertexCount(), 24u);
    EXPECT_EQ(m.GetFaceCount(), 12u);
    for (uint32_t f = 0; f < m.GetFaceCount(); ++f) {
        const platform::Vec3 n = Vec(m, m.GetIndices()[3 * f], 12);
        for (int c = 1; c < 3; ++c) {
            const platform::Vec3 o = Vec(m, m.GetIndices()[3 * f + c], 12);
            EXPECT_EQ(n.x, o.x);
            EXPECT_EQ(n.y, o.y);
            EXPECT_EQ(n.z, o.z);
        }
        EXPECT_EQ(m.GetAttributes()[f], f < 4 ? 1u : 0u);
    }
    // The fan of face 0 (0, 2, 3, 1) and its texture coordinates.
    EXPECT_EQ(Vec(m, m.GetIndices()[1], 0).y, 2.0f);
    float uv[2];
    std::memcpy(uv, m.GetVertices() + m.GetIndices()[2] * m.GetStride() + 24, 8);
    EXPECT_EQ(uv[0], 1.0f);
    EXPECT_EQ(uv[1], 1.0f);
    ASSERT_EQ(l.materials.size(), 3u);
    EXPECT_EQ(l.materials[0].diffuse[0], 1.0f);
    EXPECT_EQ(l.materials[1].diffuse[1], 1.0f);
    EXPECT_EQ(l.materials[1].textureFile, "maps\\green.png");
    EXPECT_EQ(l.materials[2].power, 1.0f);
    EXPECT_EQ(l.skin.GetBoneCount(), 0u);
}

TEST(SkinMesh, AttributeSortCloneAndNormals)
{
    Loaded l;
    Load(kCube, &l);
    ASSERT_TRUE(l.ok) << l.error;
    MeshData clone;
    ASSERT_TRUE(l.skin.GetOriginalMesh().CloneFvf(platform::kFvfMeshStatic, &clone));
    EXPECT_EQ(clone.GetStride(), 36u);
    MeshData sorted;
    ASSERT_TRUE(clone.OptimizeAttributeSort(&sorted));
    const auto& table = sorted.GetAttributeTable();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].attribId, 0u);
    EXPECT_EQ(table[0].faceStart, 0u);
    EXPECT_EQ(table[0].faceCount, 8u);
    EXPECT_EQ(table[1].attribId, 1u);
    EXPECT_EQ(table[1].faceStart, 8u);
    EXPECT_EQ(table[1].faceCount, 4u);
    // Positions and normals survive the clone; the added colour is zero.
    const MeshData& original = l.skin.GetOriginalMesh();
    for (uint32_t v = 0; v < original.GetVertexCount(); ++v) {
        EXPECT_EQ(Vec(clone, v, 0).x, Vec(original, v, 0).x);
        EXPECT_EQ(Vec(clone, v, 12).z, Vec(original, v, 12).z);
        uint32_t diffuse = 1;
        std::memcpy(&diffuse, clone.GetVertices() + v * 36 + 24, 4);
        EXPECT_EQ(diffuse, 0u);
    }
    // Recomputed normals of split vertices are the face normals again.
    MeshData again;
    ASSERT_TRUE(sorted.CloneFvf(platform::kFvfMeshStatic, &again));
    ASSERT_TRUE(again.ComputeNormals());
    for (uint32_t v = 0; v < again.GetVertexCount(); ++v) {
        const platform::Vec3 a = Vec(again, v, 12);
        const platform::Vec3 b = Vec(sorted, v, 12);
        EXPECT_NEAR(a.x, b.x, 1e-6f);
        EXPECT_NEAR(a.y, b.y, 1e-6f);
        EXPECT_NEAR(a.z, b.z, 1e-6f);
    }
    MeshData unhandled;
    EXPECT_FALSE(original.CloneFvf(0x004, &unhandled));
}

TEST(SkinMesh, RejectsOutOfRangeIndices)
{
    const char* bad[] = {
        "Mesh M { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,3;; }",
        "Mesh M { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; "
        "MeshNormals { 1; 0.0;0.0;1.0;; 1; 3;0,0,1;; } }",
        "Mesh M { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; "
        "MeshMaterialList { 1; 1; 1;; Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } } }",
        "Mesh M { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; "
        "SkinWeights { \"B\"; 1; 9; 1.0; 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;; } }",
    };
    for (const char* body : bad) {
        Loaded l;
        Load(body, &l);
        EXPECT_FALSE(l.ok) << body;
        EXPECT_EQ(l.error.rfind("mesh: ", 0), 0u) << l.error;
    }
}

// A strip of three quads along x, bones A, B, C: A holds x = 0, A and B
// share x = 1, B holds x = 2 and C x = 3.
const char kStrip[] = R"(
Mesh Strip {
  8;
  0.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 2.0;0.0;0.0;, 2.0;1.0;0.0;, 3.0;0.0;0.0;, 3.0;1.0;0.0;;
  3;
  4;0,1,3,2;, 4;2,3,5,4;, 4;4,5,7,6;;
  MeshNormals { 1; 0.0;0.0;-1.0;; 3; 4;0,0,0,0;, 4;0,0,0,0;, 4;0,0,0,0;; }
  XSkinMeshHeader { 2; 6; 3; }
  SkinWeights { "A"; 4; 0,1,2,3; 1.0,1.0,0.75,0.75;
    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
  SkinWeights { "B"; 4; 2,3,4,5; 0.25,0.25,1.0,1.0;
    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -1.0,0.0,0.0,1.0;; }
  SkinWeights { "C"; 2; 6,7; 1.0,1.0;
    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -2.0,0.0,0.0,1.0;; }
}
)";

struct Blend {
    platform::Vec3 position;
    float w0, w1;
    uint8_t index[4];
};

Blend BlendAt(const MeshData& m, uint32_t v)
{
    Blend b;
    const uint8_t* p = m.GetVertices() + v * m.GetStride();
    std::memcpy(&b.position, p, 12);
    std::memcpy(&b.w0, p + 12, 4);
    std::memcpy(&b.w1, p + 16, 4);
    std::memcpy(b.index, p + 20, 4);
    return b;
}

TEST(SkinMesh, BoneCombinationsFitThePalette)
{
    Loaded l;
    Load(kStrip, &l);
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.skin.GetBoneCount(), 3u);
    EXPECT_EQ(l.skin.GetBones()[2].name, "C");
    EXPECT_EQ(l.skin.GetBones()[1].offset.m[3][0], -1.0f);

    // All three bones fit: one combination, palette slots are bone numbers.
    MeshData all;
    std::vector<platform::BoneCombination> combos;
    std::string error;
    ASSERT_TRUE(l.skin.ConvertToIndexedBlendedMesh(3, &all, &combos, &error)) << error;
    EXPECT_EQ(all.GetFvf(), platform::kFvfXyzB3 | platform::kFvfLastBetaUByte4 | 0x10u);
    ASSERT_EQ(combos.size(), 1u);
    EXPECT_EQ(combos[0].faceCount, 6u);
    EXPECT_EQ(combos[0].vertexCount, 8u);
    // Vertex at x = 1: A 0.75 first, then B 0.25.
    for (uint32_t v = 0; v < all.GetVertexCount(); ++v) {
        const Blend b = BlendAt(all, v);
        if (b.position.x == 1.0f) {
            EXPECT_EQ(b.w0, 0.75f);
            EXPECT_EQ(b.w1, 0.25f);
            EXPECT_EQ(combos[0].boneIds[b.index[0]], 0u);
            EXPECT_EQ(combos[0].boneIds[b.index[1]], 1u);
        }
        if (b.position.x == 3.0f) {
            EXPECT_EQ(b.w0, 1.0f);
            EXPECT_EQ(b.w1, 0.0f);
            EXPECT_EQ(combos[0].boneIds[b.index[0]], 2u);
        }
    }

    // Two slots: the first two quads share {A, B}, the last needs {B, C};
    // the vertices at x = 2 are copied into both combinations.
    MeshData two;
    ASSERT_TRUE(l.skin.ConvertToIndexedBlendedMesh(2, &two, &combos, &error)) << error;
    ASSERT_EQ(combos.size(), 2u);
    EXPECT_EQ(two.GetVertexCount(), 10u);
    const uint32_t faceStart[2] = {0, 4}, faceCount[2] = {4, 2}, vertexStart[2] = {0, 6}, vertexCount[2] = {6, 4};
    const uint32_t bones[2][2] = {{0, 1}, {1, 2}};
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(combos[k].faceStart, faceStart[k]);
        EXPECT_EQ(combos[k].faceCount, faceCount[k]);
        EXPECT_EQ(combos[k].vertexStart, vertexStart[k]);
        EXPECT_EQ(combos[k].vertexCount, vertexCount[k]);
        ASSERT_EQ(combos[k].boneIds.size(), 2u);
        EXPECT_EQ(combos[k].boneIds[0], bones[k][0]);
        EXPECT_EQ(combos[k].boneIds[1], bones[k][1]);
        for (uint32_t i = 3 * combos[k].faceStart; i < 3 * (combos[k].faceStart + combos[k].faceCount); ++i) {
            const uint16_t v = two.GetIndices()[i];
            EXPECT_GE(v, combos[k].vertexStart);
            EXPECT_LT(v, combos[k].vertexStart + combos[k].vertexCount);
            // A vertex at x = 2 is all B, in either palette.
            const Blend b = BlendAt(two, v);
            if (b.position.x == 2.0f) {
                EXPECT_EQ(b.w0, 1.0f);
                EXPECT_EQ(combos[k].boneIds[b.index[0]], 1u);
            }
        }
    }
    // One slot cannot hold a face blended from two bones.
    MeshData one;
    EXPECT_FALSE(l.skin.ConvertToIndexedBlendedMesh(1, &one, &combos, &error));
    EXPECT_NE(error.find("needs 2 bones"), std::string::npos) << error;
}

TEST(SkinMesh, VerticesNoBoneWeighsFollowTheMeshsOwnFrame)
{
    // Bone C's weights are dropped (zero): its two vertices are weighed by
    // no bone, nor is a vertex no SkinWeights names.
    std::string body = kStrip;
    const size_t at = body.find("1.0,1.0;\n    1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -2.0");
    ASSERT_NE(at, std::string::npos);
    body.replace(at, 8, "0.0,0.0;");
    Loaded l;
    Load(body, &l);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(l.skin.HasUnweightedVertices());
    // The mesh's own frame is the bone after the last: a fourth palette
    // slot for the face of B and the frame.
    MeshData out;
    std::vector<platform::BoneCombination> combos;
    std::string error;
    ASSERT_TRUE(l.skin.ConvertToIndexedBlendedMesh(4, &out, &combos, &error)) << error;
    ASSERT_EQ(combos.size(), 1u);
    int unweighted = 0;
    for (uint32_t v = 0; v < out.GetVertexCount(); ++v) {
        const Blend b = BlendAt(out, v);
        if (b.position.x == 3.0f) {
            ++unweighted;
            EXPECT_EQ(b.w0, 1.0f);
            EXPECT_EQ(b.w1, 0.0f);
            EXPECT_EQ(combos[0].boneIds[b.index[0]], 3u);
        } else {
            EXPECT_NE(combos[0].boneIds[b.index[0]], 3u);
        }
    }
    EXPECT_EQ(unweighted, 2);
    // With every vertex weighed there is no such bone.
    Loaded all;
    Load(kStrip, &all);
    ASSERT_TRUE(all.ok) << all.error;
    EXPECT_FALSE(all.skin.HasUnweightedVertices());
}

}  // namespace
