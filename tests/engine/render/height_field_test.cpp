#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/math.h"
#include "engine/core/surface.h"
#include "engine/render/frame.h"
#include "engine/render/model.h"
#include "engine/render/quad_tree_node.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using meshtest::kClear;
using meshtest::kSize;
using meshtest::MeshFixture;

class OrvaHeightFieldTest : public MeshFixture {
protected:
    void SetUp() override
    {
        MeshFixture::SetUp();
        OrvaMath::Initialize();
        OrvaSurface::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
    }
    void TearDown() override
    {
        OrvaModel::Destroy();
        for (OrvaSurface* s : surfaces) s->Release();
        OrvaSurface::Destroy();
        MeshFixture::TearDown();
    }
    // An image whose red channel at (column, row) is red(column, row); the
    // other channels carry noise the field must ignore.
    OrvaSurface* Image(int width, int height, const std::function<int(int, int)>& red,
                       int32_t format = kOrvaSurfaceWideUse)
    {
        OrvaSurface* s = OrvaSurface::Create(width, height, format, nullptr);
        surfaces.push_back(s);
        void* bits = nullptr;
        int32_t pitch = 0;
        if (format == kOrvaSurfaceWideUse && s->Lock(&bits, &pitch)) {
            for (int y = 0; y < height; ++y) {
                uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(bits) + y * pitch);
                for (int x = 0; x < width; ++x) {
                    row[x] = 0xA000C0E0u | (static_cast<uint32_t>(red(x, y)) << 16);
                }
            }
            s->Unlock();
        }
        return s;
    }
    static OrvaQuadTreeNode* Node(OrvaModel* model, int i)
    {
        return static_cast<OrvaQuadTreeNode*>(model->GetQuadTree()->GetAt(i));
    }
    // Stands the field up in front of the camera: model x to world x + dx,
    // model z to world y, model y to world z + 5.
    static void StandUp(OrvaModel* model, float dx)
    {
        OrvaMatrix m;
        m.Identity();
        m.SetElement(2, 2, 0.0f);
        m.SetElement(2, 3, 1.0f);
        m.SetElement(3, 3, 0.0f);
        m.SetElement(3, 2, 1.0f);
        m.SetElement(4, 1, dx);
        m.SetElement(4, 3, 5.0f);
        model->UpdateWithMatrix(m);
    }
    std::string Render(OrvaModel* model)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        model->Render();
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return MeshFixture::Covered(meshtest::g_frame);
    }
    static float Axis(const OrvaVector& v, int k) { return k == 0 ? v.x : k == 1 ? v.y : v.z; }
    std::vector<OrvaSurface*> surfaces;
};

TEST_F(OrvaHeightFieldTest, BlocksShareTheirEdgesAndFollowRowsThenColumns)
{
    OrvaModel* model = OrvaModel::CreateHeightField(Image(5, 5, [](int x, int y) { return 10 * x + y; }), 2, 4.0f,
                                                    4.0f, 255.0f, 2, nullptr);
    ASSERT_EQ(model->GetMeshCount(), 4);
    EXPECT_STREQ(model->GetRootFrame()->GetName(), "HightField_00");
    const char* names[4] = {"HightField_00_0_0", "HightField_00_1_0", "HightField_00_0_1", "HightField_00_1_1"};
    for (int i = 0; i < 4; ++i) {
        OrvaMesh* mesh = model->GetMesh(i);
        EXPECT_STREQ(mesh->GetName(), names[i]);
        EXPECT_EQ(mesh->GetVertexCount(), 9);
        EXPECT_EQ(mesh->GetIndexCount(), 24);
        EXPECT_EQ(mesh->GetCull(), 0);
        EXPECT_EQ(mesh->GetFrame(), model->GetRootFrame());
    }
    // Block 0 covers columns and rows 0 to 2 (x = column - 2, z = row - 2),
    // block 1 columns 2 to 4; heights are the red bytes, uv repeat 2.
    const OrvaMeshVertex* first = model->GetMesh(0)->GetVertexArray();
    const OrvaMeshVertex* second = model->GetMesh(1)->GetVertexArray();
    EXPECT_EQ(first[0].position[0], -2.0f);
    EXPECT_EQ(first[0].position[2], -2.0f);
    EXPECT_NEAR(first[5].position[1], 21.0f, 1e-4f);   // column 2, row 1
    EXPECT_EQ(first[5].u, 1.0f);
    EXPECT_EQ(first[5].v, 0.5f);
    EXPECT_EQ(second[0].position[0], 0.0f);
    EXPECT_NEAR(second[8].position[1], 42.0f, 1e-4f);   // column 4, row 2
    for (int row = 0; row < 3; ++row) {
        const OrvaMeshVertex& a = first[3 * row + 2];
        const OrvaMeshVertex& b = second[3 * row];
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(a.position[k], b.position[k]);
            EXPECT_EQ(a.normal[k], b.normal[k]);
        }
        EXPECT_NE(a.normal[1], 0.0f);
    }
    const OrvaHeightField* field = model->GetHeightField();
    EXPECT_EQ(field->blocksPerSide, 2);
    EXPECT_EQ(field->verticesPerBlockSide, 3);
    EXPECT_EQ(field->blockWidth, 2.0f);
    EXPECT_EQ(field->cellDepth, 1.0f);
    EXPECT_EQ(model->GetQuadTree()->GetCount(), 5);

    const std::string log = meshtest::ReadLog();
    EXPECT_NE(log.find("○ CreateModel   / ID [" + meshtest::Hex(model) +
                       "] / MeshNum [2 x 2 = 4] / CellSize [2 x 2] {\n"
                       "\tMesh { No.00, Vertex 9, Index 24, (  -2.000,   0.000,  -2.000)-(   0.000,  22.000,   0.000), "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tMesh { No.03, Vertex 9, Index 24, (   0.000,  22.000,   0.000)-(   2.000,  44.000,   2.000), "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("M ByteUse / Complete!\n"), std::string::npos);
}

TEST_F(OrvaHeightFieldTest, RefusesImagesItCannotCut)
{
    auto zero = [](int, int) { return 0; };
    struct Case {
        OrvaSurface* image;
        int32_t meshes;
        const char* message;
    };
    const char* size = "ERROR : 画像サイズが不正です\n    << 画像サイズ = (mesh_num * １メッシュの１列の頂点数) + 1 >>\n";
    const Case cases[] = {
        {Image(6, 6, zero), 2, size},
        {Image(5, 6, zero), 2, "ERROR : 画像サイズが正方形では有りません\n"},
        {Image(5, 5, zero), 0, size},
        {Image(5, 5, zero), -3, size},
        {Image(5, 5, zero), 9, size},
        // 11 = 4 x 2 + 3: the blocks would leave two columns uncovered.
        {Image(11, 11, zero), 4, size},
        {nullptr, 2, size},
        // 257 x 257 vertices in one block: past what 16-bit indices reach.
        {Image(257, 257, zero), 1, "ERROR : Vertex Overflow!!! [66049]\n"},
        {Image(5, 5, zero, kOrvaSurfaceTexture), 2,
         "ERROR : FORMAT_WIDEUSE を指定して作成されたサーフェイスではありません\n"},
    };
    ASSERT_NE(cases[8].image->GetFormat(), 21u);
    for (const Case& c : cases) {
        std::remove(meshtest::LogPath().c_str());
        OrvaModel* model = OrvaModel::CreateHeightField(c.image, c.meshes, 4.0f, 4.0f, 1.0f, 1, nullptr);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->GetMeshCount(), 0) << c.message;
        EXPECT_EQ(model->GetQuadTree()->GetCount(), 0);
        EXPECT_NE(meshtest::ReadLog().find(c.message), std::string::npos) << meshtest::ReadLog();
        EXPECT_FALSE(model->GetBlock(0.0f, 0.0f, nullptr, nullptr));
        OrvaVector normal(7, 7, 7);
        EXPECT_EQ(model->GetHeight(0.0f, 0.0f, &normal), 0.0f);
        EXPECT_EQ(normal.x, 7.0f);
        EXPECT_EQ(model->IsMeshVisible(0, 0), 0);
        model->Update(0.0f);
        Render(model);
    }
    // The size checks come before the frame is named and use no number; the
    // format and overflow checks come after it.
    // A single block of 2 x 2 cells.
    OrvaModel* ok = OrvaModel::CreateHeightField(Image(3, 3, zero), 1, 4.0f, 4.0f, 1.0f, 1, nullptr);
    EXPECT_STREQ(ok->GetRootFrame()->GetName(), "HightField_02");
    ASSERT_EQ(ok->GetMeshCount(), 1);
    EXPECT_EQ(ok->GetMesh(0)->GetVertexCount(), 9);
    int32_t column = -1, row = -1;
    EXPECT_TRUE(ok->GetBlock(1.9f, -2.0f, &column, &row));
    EXPECT_EQ(column + row, 0);
}

TEST_F(OrvaHeightFieldTest, HeightAndNormalFollowTheCellsTriangles)
{
    // One raised vertex at column 1, row 1, i.e. (x, z) = (-1, -1).
    OrvaModel* bump = OrvaModel::CreateHeightField(Image(5, 5, [](int x, int y) { return x == 1 && y == 1 ? 2 : 0; }),
                                                   2, 4.0f, 4.0f, 255.0f, 1, nullptr);
    ASSERT_EQ(bump->GetMeshCount(), 4);
    OrvaVector n;
    // In cell (0, 0) the far triangle (p1, p3, p2) is y = 2 (x + z + 3),
    // whose upward normal is (-2, 1, -2) / 3.
    EXPECT_NEAR(bump->GetHeight(-1.25f, -1.25f, &n), 1.0f, 1e-5f);
    EXPECT_NEAR(n.x, -2.0f / 3.0f, 1e-5f);
    EXPECT_NEAR(n.y, 1.0f / 3.0f, 1e-5f);
    EXPECT_NEAR(n.z, -2.0f / 3.0f, 1e-5f);
    EXPECT_NEAR(bump->GetHeight(-1.0f, -1.5f, nullptr), 1.0f, 1e-5f);
    // The near triangle (p0, p1, p2) is flat at 0.
    EXPECT_NEAR(bump->GetHeight(-1.75f, -1.75f, &n), 0.0f, 1e-6f);
    EXPECT_NEAR(n.y, 1.0f, 1e-6f);
    // On the diagonal the far triangle answers.
    EXPECT_NEAR(bump->GetHeight(-1.5f, -1.5f, &n), 0.0f, 1e-5f);
    EXPECT_NEAR(n.x, -2.0f / 3.0f, 1e-5f);
    // From the raised vertex the height falls linearly to its neighbour at
    // (0, -1): 1 halfway.
    EXPECT_NEAR(bump->GetHeight(-0.5f, -1.0f, nullptr), 1.0f, 1e-5f);

    // A flat field: the same height everywhere and straight up, up to the
    // field's far edges, where rounding must not step past the last cell.
    OrvaModel* flat = OrvaModel::CreateHeightField(Image(9, 9, [](int, int) { return 51; }), 4, 100.0f, 100.0f,
                                                   5.0f, 1, nullptr);
    ASSERT_EQ(flat->GetMeshCount(), 16);
    for (float x : {-50.0f, -12.3f, 0.0f, 24.99f, 49.9999f}) {
        for (float z : {-50.0f, 3.7f, 49.9999f}) {
            n.Set(9, 9, 9);
            EXPECT_NEAR(flat->GetHeight(x, z, &n), 1.0f, 1e-5f) << x << ", " << z;
            EXPECT_NEAR(n.x, 0.0f, 1e-6f);
            EXPECT_NEAR(n.y, 1.0f, 1e-6f);
            EXPECT_NEAR(n.z, 0.0f, 1e-6f);
        }
    }
    // Off the field: 0, normal untouched.
    n.Set(9, 9, 9);
    EXPECT_EQ(flat->GetHeight(50.0f, 0.0f, &n), 0.0f);
    EXPECT_EQ(flat->GetHeight(0.0f, -50.5f, &n), 0.0f);
    EXPECT_EQ(flat->GetHeight(std::nanf(""), 0.0f, &n), 0.0f);
    EXPECT_EQ(n.y, 9.0f);

    // Blocks of 25 units: -50 is column 0, 49.9 column 3, 50 off the field.
    int32_t column = -1, row = -1;
    EXPECT_TRUE(flat->GetBlock(-50.0f, 49.9f, &column, &row));
    EXPECT_EQ(column, 0);
    EXPECT_EQ(row, 3);
    EXPECT_TRUE(flat->GetBlock(49.9f, -0.1f, &column, &row));
    EXPECT_EQ(column, 3);
    EXPECT_EQ(row, 1);
    column = row = -1;
    EXPECT_FALSE(flat->GetBlock(50.0f, 0.0f, &column, &row));
    EXPECT_FALSE(flat->GetBlock(0.0f, -50.01f, &column, &row));
    EXPECT_EQ(column, -1);
    EXPECT_EQ(row, -1);
}

TEST_F(OrvaHeightFieldTest, QuadtreeDrawsOnlyBlocksInsideTheFrustum)
{
    // 16 x 16 units in 4 x 4 blocks of 4 units.
    OrvaModel* model = OrvaModel::CreateHeightField(Image(9, 9, [](int, int) { return 0; }), 4, 16.0f, 16.0f, 1.0f,
                                                    1, nullptr);
    ASSERT_EQ(model->GetQuadTree()->GetCount(), 21);
    OrvaQuadTreeNode* root = Node(model, 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(root->GetChild(k), Node(model, 1 + k));
        EXPECT_EQ(Node(model, 1)->GetChild(k), Node(model, 5 + k));
        EXPECT_EQ(Node(model, 2)->GetChild(k), Node(model, 9 + k));
    }
    EXPECT_EQ(root->GetMeshIndex(), -1);
    EXPECT_EQ(root->GetMesh(), nullptr);
    // Child 3 starts at (2, 2); its child 1 is column 3, row 2.
    OrvaQuadTreeNode* leaf = root->GetChild(3)->GetChild(1);
    EXPECT_EQ(leaf->GetMeshIndex(), 11);
    EXPECT_EQ(leaf->GetMesh(), model->GetMesh(11));
    EXPECT_EQ(leaf->GetChild(0), nullptr);
    EXPECT_EQ(root->GetBoxMin().x, -8.0f);
    EXPECT_EQ(root->GetBoxMax().z, 8.0f);
    EXPECT_EQ(root->GetChild(1)->GetBoxMin().x, 0.0f);
    EXPECT_EQ(root->GetChild(1)->GetBoxMax().z, 0.0f);

    model->SetColorMode(kOrvaShaderDiffuse, -1);
    model->RebuildShader(-1);
    model->SetRenderState(platform::RsCullMode, platform::CullNone, -1, -1);
    // World x 1..17: columns 0 and 1 reach into the view (x -8..8), 2 and 3
    // lie beyond it.
    StandUp(model, 9.0f);
    const std::string covered = Render(model);
    EXPECT_EQ(model->GetVisibleMeshCount(), 8);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(model->IsMeshVisible(c, r), c < 2 ? 1 : 0) << c << ", " << r;
        }
    }
    EXPECT_EQ(covered, MeshFixture::Expected([](int x, int) { return x - kSize / 2 >= 1; }));
    EXPECT_EQ(model->IsMeshVisible(4, 0), 0);
    EXPECT_EQ(model->IsMeshVisible(0, -1), 0);
    EXPECT_EQ(model->IsMeshVisible(-2147483647 - 1, 0), 0);

    // Wholly outside: nothing drawn, the table cleared.
    StandUp(model, 100.0f);
    EXPECT_EQ(Render(model), MeshFixture::Expected([](int, int) { return false; }));
    EXPECT_EQ(model->GetVisibleMeshCount(), 0);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(model->IsMeshVisible(c, r), 0);
    }
    // Boxes are not drawn for a height field.
    StandUp(model, 0.0f);
    Render(model);
    EXPECT_EQ(model->GetVisibleMeshCount(), 16);
}

// A leaf's box is its block's; an inner node's is the union of its four
// children's, so that a node outside the view stands for its whole subtree.
TEST_F(OrvaHeightFieldTest, InnerNodesSpanTheirChildrensBoxes)
{
    // Heights 0 to 199 scattered over 4 x 4 blocks, so that every block has
    // its own lowest and highest point.
    auto height = [](int x, int y) { return (x * 37 + y * 91) % 200; };
    OrvaModel* model = OrvaModel::CreateHeightField(Image(9, 9, height), 4, 16.0f, 16.0f, 255.0f, 1, nullptr);
    ASSERT_EQ(model->GetQuadTree()->GetCount(), 21);
    int inner = 0;
    for (OrvaObject* o = model->GetQuadTree()->GetHead(); o != nullptr; o = o->GetNext()) {
        const OrvaQuadTreeNode* node = static_cast<OrvaQuadTreeNode*>(o);
        if (node->GetMesh() != nullptr) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(Axis(node->GetBoxMin(), k), node->GetMesh()->GetBoxMin()[k]) << node->GetMeshIndex();
                EXPECT_EQ(Axis(node->GetBoxMax(), k), node->GetMesh()->GetBoxMax()[k]) << node->GetMeshIndex();
            }
            continue;
        }
        ++inner;
        float low[3] = {1e30f, 1e30f, 1e30f};
        float high[3] = {-1e30f, -1e30f, -1e30f};
        for (int c = 0; c < 4; ++c) {
            const OrvaQuadTreeNode* child = node->GetChild(c);
            ASSERT_NE(child, nullptr);
            for (int k = 0; k < 3; ++k) {
                EXPECT_LE(Axis(node->GetBoxMin(), k), Axis(child->GetBoxMin(), k)) << inner << ": " << c << ", " << k;
                EXPECT_GE(Axis(node->GetBoxMax(), k), Axis(child->GetBoxMax(), k)) << inner << ": " << c << ", " << k;
                low[k] = std::min(low[k], Axis(child->GetBoxMin(), k));
                high[k] = std::max(high[k], Axis(child->GetBoxMax(), k));
            }
        }
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(Axis(node->GetBoxMin(), k), low[k]) << inner << ", axis " << k;
            EXPECT_EQ(Axis(node->GetBoxMax(), k), high[k]) << inner << ", axis " << k;
        }
    }
    EXPECT_EQ(inner, 5);
    // The root spans the field: x and z from -8 to 8, y over every height.
    int lowest = 255, highest = 0;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            lowest = std::min(lowest, height(x, y));
            highest = std::max(highest, height(x, y));
        }
    }
    const OrvaQuadTreeNode* root = Node(model, 0);
    EXPECT_EQ(root->GetBoxMin().x, -8.0f);
    EXPECT_EQ(root->GetBoxMax().z, 8.0f);
    EXPECT_NEAR(root->GetBoxMin().y, static_cast<float>(lowest), 1e-4f);
    EXPECT_NEAR(root->GetBoxMax().y, static_cast<float>(highest), 1e-4f);
}

TEST_F(OrvaHeightFieldTest, TreeReachesEveryBlockOfAFieldThatIsNoPowerOfTwo)
{
    // 3 x 3 blocks of 2 units over 6 x 6 units.
    OrvaModel* model = OrvaModel::CreateHeightField(Image(7, 7, [](int x, int) { return x; }), 3, 6.0f, 6.0f, 1.0f,
                                                    1, nullptr);
    ASSERT_EQ(model->GetMeshCount(), 9);
    model->SetRenderState(platform::RsCullMode, platform::CullNone, -1, -1);
    StandUp(model, 0.0f);
    Render(model);
    EXPECT_EQ(model->GetVisibleMeshCount(), 9);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(model->IsMeshVisible(c, r), 1) << c << ", " << r;
    }
    // Each block in exactly one leaf.
    std::vector<int> leaves(9, 0);
    for (OrvaObject* o = model->GetQuadTree()->GetHead(); o != nullptr; o = o->GetNext()) {
        const int index = static_cast<OrvaQuadTreeNode*>(o)->GetMeshIndex();
        if (index >= 0) leaves[static_cast<size_t>(index)] += 1;
    }
    EXPECT_EQ(leaves, std::vector<int>(9, 1));
}

}  // namespace
