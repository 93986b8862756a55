// Height fields: the generator that cuts a height image into a square grid
// of block meshes under a quadtree, the tree's construction, and the
// queries over the field (which blocks the last draw showed, the block
// under a point, the height and normal at a point).
#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/surface.h"
#include "engine/render/frame.h"
#include "engine/render/mesh.h"
#include "engine/render/model.h"
#include "engine/render/model_shape.h"
#include "engine/render/quad_tree_node.h"
#include "platform/gfx/math3d.h"

static uint32_t g_heightFieldCount = 0;

// The device format of a surface made with FORMAT_WIDEUSE (A8R8G8B8).
static constexpr uint32_t kWideUseFormat = 21;
// 16-bit indices address at most this many vertices per block.
static constexpr int64_t kMaxBlockVertices = 65536;

void OrvaModelShape::ResetHeightFieldCount()
{
    g_heightFieldCount = 0;
}

// The whole grid's vertices from the image's red channel; false when the
// work mesh cannot be allocated.
static bool FillWorkMesh(OrvaMesh* work, const uint8_t* bits, int32_t pitch, int32_t size, float width, float depth,
                         float heightScale, int32_t uvRepeat)
{
    // The grid's vertices and its 32-bit face list must be countable.
    const int64_t cells = static_cast<int64_t>(size - 1) * (size - 1);
    if (static_cast<int64_t>(size) * size > INT32_MAX || cells * 6 > static_cast<int64_t>(UINT32_MAX)) {
        OrvaDebug::Log("ERROR : メッシュの配列の確保に失敗 [%d / %d]\n", size, size);
        return false;
    }
    if (!work->AllocateArrays(size * size, 0)) {
        return false;
    }
    OrvaMeshVertex* v = work->GetVertexArray();
    const float last = static_cast<float>(size - 1);
    const float repeat = static_cast<float>(uvRepeat);
    for (int32_t i = 0; i < size; ++i) {
        const uint8_t* row = bits + static_cast<size_t>(i) * static_cast<size_t>(pitch);
        const float z = static_cast<float>(i) * depth / last - depth * 0.5f;
        for (int32_t j = 0; j < size; ++j) {
            // Red is byte 2 of the little-endian A8R8G8B8 pixel.
            const float red = static_cast<float>(row[static_cast<size_t>(j) * 4 + 2]);
            const float x = static_cast<float>(j) * width / last - width * 0.5f;
            OrvaModelShape::PutVertex(&v[static_cast<size_t>(i) * size + j], x, red * heightScale * (1.0f / 255.0f),
                                      z, 0.0f, 0.0f, 0.0f, static_cast<float>(j) / last * repeat,
                                      static_cast<float>(i) / last * repeat);
        }
    }
    return true;
}

// Smooth normals over the whole grid, so that blocks get identical normals
// along their shared edges; false when the faces cannot be allocated.
static bool ComputeWorkNormals(OrvaMesh* work, int32_t size)
{
    std::vector<uint32_t> faces;
    try {
        faces.reserve(static_cast<size_t>(size - 1) * static_cast<size_t>(size - 1) * 6);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("ERROR : メッシュの配列の確保に失敗 [%d / %d]\n", size * size, 0);
        return false;
    }
    for (int32_t i = 0; i + 1 < size; ++i) {
        for (int32_t j = 0; j + 1 < size; ++j) {
            const uint32_t a = static_cast<uint32_t>(i * size + j);
            const uint32_t b = a + 1;
            const uint32_t c = a + static_cast<uint32_t>(size);
            const uint32_t d = c + 1;
            faces.insert(faces.end(), {c, b, a, d, b, c});
        }
    }
    work->ComputeNormals(faces.data(), static_cast<uint32_t>(faces.size()));
    return true;
}

// The smallest power of two not below n: the tree halves its range down to
// single blocks and must reach every one.
static int32_t TreeSize(int32_t n)
{
    int32_t size = 1;
    while (size < n) {
        size <<= 1;
    }
    return size;
}

OrvaModel* OrvaModel::CreateHeightField(OrvaSurface* image, int32_t meshesPerSide, float width, float depth,
                                        float heightScale, int32_t uvRepeat, OrvaProgress progress)
{
    OrvaModel* model = OrvaModel::Create();
    if (model == nullptr) {
        OrvaDebug::Log("ERROR : モデルの生成に失敗\n");
        return nullptr;
    }
    const int32_t n = meshesPerSide;
    const int32_t imageWidth = image != nullptr ? image->GetWidth() : 0;
    const int32_t imageHeight = image != nullptr ? image->GetHeight() : 0;
    // Blocks share their edge rows, so the image is n x cell + 1 pixels
    // across: one block (n = 1) takes the whole image less one.
    const int32_t cell = n > 0 && imageWidth > 0 ? (imageWidth - 1) / n : 0;
    OrvaModelShape::LogCreate(model);
    OrvaDebug::Log("MeshNum [%d x %d = %d] / CellSize [%d x %d] {\n", n, n,
                   static_cast<int32_t>(static_cast<uint32_t>(n) * static_cast<uint32_t>(n)), cell, cell);
    if (imageWidth != imageHeight) {
        OrvaDebug::Log("ERROR : 画像サイズが正方形では有りません\n");
        return model;
    }
    // Any other width would leave columns that no block covers.
    if (cell < 1 || static_cast<int64_t>(n) * cell + 1 != imageWidth) {
        OrvaDebug::Log("ERROR : 画像サイズが不正です\n    << 画像サイズ = (mesh_num * １メッシュの１列の頂点数) + 1 >>\n");
        return model;
    }
    const int64_t blockVertices = static_cast<int64_t>(cell + 1) * (cell + 1);
    const int64_t blockIndices = static_cast<int64_t>(cell) * cell * 6;
    char frameName[32];
    std::snprintf(frameName, sizeof frameName, "HightField_%02u", g_heightFieldCount);
    OrvaFrame* frame = model->CreateRootFrame(frameName);
    if (frame == nullptr) {
        OrvaDebug::Log("ERROR : フレームの生成に失敗\n");
        return model;
    }
    g_heightFieldCount += 1;
    if (image->GetFormat() != kWideUseFormat) {
        OrvaDebug::Log("ERROR : FORMAT_WIDEUSE を指定して作成されたサーフェイスではありません\n");
        return model;
    }
    if (blockVertices > kMaxBlockVertices) {
        // A block's 16-bit indices could not reach all of its vertices.
        OrvaDebug::Log("ERROR : Vertex Overflow!!! [%u]\n", static_cast<uint32_t>(blockVertices));
        return model;
    }
    void* bits = nullptr;
    int32_t pitch = 0;
    if (!image->Lock(&bits, &pitch)) {
        OrvaDebug::Log("ERROR : サーフェイスロックに失敗\n");
        return model;
    }
    if (bits == nullptr || static_cast<int64_t>(pitch) < static_cast<int64_t>(imageWidth) * 4) {
        image->Unlock();
        OrvaDebug::Log("ERROR : サーフェイスロックに失敗\n");
        return model;
    }
    OrvaMesh* work = new (std::nothrow) OrvaMesh();
    const bool filled = work != nullptr && FillWorkMesh(work, static_cast<const uint8_t*>(bits), pitch, imageWidth,
                                                        width, depth, heightScale, uvRepeat);
    OrvaModelShape::Progress(progress);
    image->Unlock();
    if (!filled || !ComputeWorkNormals(work, imageWidth)) {
        if (work != nullptr) {
            work->Release();
        }
        return model;
    }
    OrvaModelShape::Progress(progress);
    OrvaModelShape::Progress(progress);

    const int32_t side = cell + 1;
    const OrvaMeshVertex* grid = work->GetVertexArray();
    double totalKb = 0.0;
    bool built = true;
    for (int32_t r = 0; r < n && built; ++r) {
        for (int32_t q = 0; q < n; ++q) {
            char name[OrvaMesh::kNameBytes];
            std::snprintf(name, sizeof name, "%s_%d_%d", frameName, q, r);
            OrvaMesh* mesh = OrvaModelShape::AddMesh(model, frame, name, static_cast<int32_t>(blockVertices),
                                                     static_cast<int32_t>(blockIndices));
            if (mesh == nullptr) {
                built = false;
                break;
            }
            if (blockIndices > 65535) {
                OrvaDebug::Log("ERROR : Index Overflow!!! [%u]\n", static_cast<uint32_t>(blockIndices));
            }
            OrvaModelShape::Progress(progress);
            OrvaMeshVertex* v = mesh->GetVertexArray();
            for (int32_t i = 0; i < side; ++i) {
                for (int32_t j = 0; j < side; ++j) {
                    const OrvaMeshVertex& from =
                        grid[static_cast<size_t>(r * cell + i) * imageWidth + static_cast<size_t>(q * cell + j)];
                    OrvaModelShape::PutVertex(&v[i * side + j], from.position[0], from.position[1],
                                              from.position[2], from.normal[0], from.normal[1], from.normal[2],
                                              from.u, from.v);
                }
            }
            OrvaModelShape::Progress(progress);
            OrvaModelShape::GridTriangles(mesh->GetIndexArray(), side, side);
            OrvaModelShape::Progress(progress);
            mesh->CreateBuffers(progress);
            OrvaModelShape::Progress(progress);
            const float* lo = mesh->GetBoxMin();
            const float* hi = mesh->GetBoxMax();
            const double kb = static_cast<double>(mesh->GetMemorySize()) / 1024.0;
            OrvaDebug::Log("\tMesh { No.%02d, Vertex %d, Index %d, (%8.3lf,%8.3lf,%8.3lf)-(%8.3lf,%8.3lf,%8.3lf), "
                           "%.3lfKB}\n",
                           r * n + q, mesh->GetVertexCount(), mesh->GetIndexCount(), static_cast<double>(lo[0]),
                           static_cast<double>(lo[1]), static_cast<double>(lo[2]), static_cast<double>(hi[0]),
                           static_cast<double>(hi[1]), static_cast<double>(hi[2]), kb);
            totalKb += kb;
        }
    }
    work->Release();
    if (!built) {
        return model;
    }
    const double tableBytes = 4.0 * static_cast<double>(n) * static_cast<double>(n);
    OrvaDebug::Log("} %.3lfM ByteUse / Complete!\n",
                   (totalKb + (static_cast<double>(sizeof(OrvaModel)) + tableBytes) / 1024.0) / 1024.0);

    model->SetCulling(0, -1);
    OrvaHeightField* field = model->GetHeightField();
    try {
        field->visibleMeshes.assign(static_cast<size_t>(n) * static_cast<size_t>(n), 0);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("ERROR : 表示テーブルの確保に失敗\n");
        return model;
    }
    field->blocksPerSide = n;
    field->verticesPerBlockSide = side;
    field->blockWidth = width / static_cast<float>(n);
    field->blockDepth = depth / static_cast<float>(n);
    field->fieldWidth = width;
    field->fieldDepth = depth;
    field->cellWidth = field->blockWidth / static_cast<float>(cell);
    field->cellDepth = field->blockDepth / static_cast<float>(cell);
    field->heightScale = heightScale;

    OrvaQuadTreeNode* root = new (std::nothrow) OrvaQuadTreeNode();
    if (root == nullptr) {
        OrvaDebug::Log("ERROR : 四分木の生成に失敗\n");
        return model;
    }
    model->GetQuadTree()->PushFront(root);
    model->BuildQuadTree(root, 0, 0, TreeSize(n), nullptr);
    model->Reset();
    model->Update(0.0f);
    OrvaModelShape::Progress(progress);
    return model;
}

// ---------------------------------------------------------------- quadtree

void OrvaModel::BuildQuadTree(OrvaQuadTreeNode* node, int32_t x, int32_t y, int32_t size, OrvaProgress progress)
{
    if (node == nullptr || size < 1) {
        return;
    }
    const int32_t n = heightField.blocksPerSide;
    if (size == 1) {
        if (x >= 0 && y >= 0 && x < n && y < n) {
            const int32_t index = n * y + x;
            node->SetLeaf(index, GetMesh(index));
        }
    } else {
        // Rounded up, so that a range that is not a power of two is still
        // covered; children whose first block lies off the grid are left
        // out.
        const int32_t half = (size + 1) >> 1;
        const int32_t origins[OrvaQuadTreeNode::kChildCount][2] = {
            {x, y}, {x + half, y}, {x, y + half}, {x + half, y + half}};
        for (int32_t k = 0; k < OrvaQuadTreeNode::kChildCount; ++k) {
            if (origins[k][0] >= n || origins[k][1] >= n) {
                continue;
            }
            OrvaQuadTreeNode* child = new (std::nothrow) OrvaQuadTreeNode();
            if (child == nullptr) {
                OrvaDebug::Log("ERROR : 四分木の生成に失敗\n");
                continue;
            }
            quadTree.PushBack(child);
            node->SetChild(k, child);
        }
        for (int32_t k = 0; k < OrvaQuadTreeNode::kChildCount; ++k) {
            BuildQuadTree(node->GetChild(k), origins[k][0], origins[k][1], half, nullptr);
        }
        node->MergeChildBoxes();
    }
    if (progress != nullptr) {
        progress(0);
    }
}

// ---------------------------------------------------------------- queries

int32_t OrvaModel::GetVisibleMeshCount() const
{
    return heightField.visibleMeshCount;
}

int32_t OrvaModel::IsMeshVisible(int32_t column, int32_t row) const
{
    const int32_t n = heightField.blocksPerSide;
    if (column < 0 || row < 0 || column >= n || row >= n) {
        return 0;
    }
    const size_t index = static_cast<size_t>(n) * static_cast<size_t>(row) + static_cast<size_t>(column);
    return index < heightField.visibleMeshes.size() ? heightField.visibleMeshes[index] : 0;
}

// The cell of a coordinate measured from the field's or block's start,
// truncated toward zero and kept inside 0 to last: rounding at the far
// edge must not step past it.
static int32_t CellOf(float offset, float cellSize, int32_t last)
{
    const float cells = offset / cellSize;
    if (!(cells >= 0.0f)) {
        return 0;
    }
    if (!(cells < static_cast<float>(last))) {
        return last;
    }
    return static_cast<int32_t>(cells);
}

bool OrvaModel::GetBlock(float x, float z, int32_t* column, int32_t* row) const
{
    const OrvaHeightField& f = heightField;
    if (f.blocksPerSide <= 0 || !(f.blockWidth > 0.0f) || !(f.blockDepth > 0.0f)) {
        return false;
    }
    const float halfWidth = f.fieldWidth / 2.0f;
    const float halfDepth = f.fieldDepth / 2.0f;
    if (x < -halfWidth || !(x < halfWidth) || z < -halfDepth || !(z < halfDepth)) {
        return false;
    }
    if (column != nullptr) {
        *column = CellOf(halfWidth + x, f.blockWidth, f.blocksPerSide - 1);
    }
    if (row != nullptr) {
        *row = CellOf(halfDepth + z, f.blockDepth, f.blocksPerSide - 1);
    }
    return true;
}

float OrvaModel::GetHeight(float x, float z, OrvaVector* normal)
{
    int32_t column = 0;
    int32_t row = 0;
    if (!GetBlock(x, z, &column, &row)) {
        return 0.0f;
    }
    const OrvaHeightField& f = heightField;
    const OrvaMesh* block = GetMesh(f.blocksPerSide * row + column);
    const int32_t k = f.verticesPerBlockSide;
    if (block == nullptr || k < 2 || block->GetVertexCount() < k * k || block->GetVertexArray() == nullptr ||
        !(f.cellWidth > 0.0f) || !(f.cellDepth > 0.0f)) {
        return 0.0f;
    }
    const OrvaMeshVertex* v = block->GetVertexArray();
    const float* o = v[0].position;
    const int32_t cx = CellOf(x - o[0], f.cellWidth, k - 2);
    const int32_t cz = CellOf(z - o[2], f.cellDepth, k - 2);
    auto corner = [&](int32_t i) {
        const float* p = v[i].position;
        return platform::Vec3{p[0], p[1], p[2]};
    };
    const platform::Vec3 p0 = corner(k * cz + cx);
    const platform::Vec3 p1 = corner(k * cz + cx + 1);
    const platform::Vec3 p2 = corner(k * (cz + 1) + cx);
    const platform::Vec3 p3 = corner(k * (cz + 1) + cx + 1);
    // Which side of the diagonal from p1 to p2 the point lies on.
    const float ax = x - p1.x, az = z - p1.z;
    const float bx = x - p2.x, bz = z - p2.z;
    const float s = bx * az - bz * ax;
    const platform::PlaneEquation plane =
        s < 0.0f ? platform::PlaneFromPoints(p0, p1, p2) : platform::PlaneFromPoints(p1, p3, p2);
    // A flat field of scale 0 would give two equal points and no line.
    const float reach = f.heightScale != 0.0f ? 1.1f * f.heightScale : 1.0f;
    platform::Vec3 hit;
    if (!platform::PlaneIntersectLine(hit, plane, platform::Vec3{x, reach, z}, platform::Vec3{x, -reach, z})) {
        return 0.0f;
    }
    if (normal != nullptr) {
        const platform::PlaneEquation unit = platform::PlaneNormalize(plane);
        normal->Set(-unit.a, -unit.b, -unit.c);
    }
    return hit.y;
}
