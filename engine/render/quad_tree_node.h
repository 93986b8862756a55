#pragma once
// Nodes of a height field's quadtree. Each leaf holds one block mesh of the
// field; each inner node the union of its children's boxes, so that drawing
// can skip a whole subtree whose box lies outside the view with one test.
// Every node belongs to its model's quadtree list, which releases it; a
// node does not own its children. Main thread only.
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"

class OrvaMesh;

class OrvaQuadTreeNode : public OrvaObject {
public:
    static constexpr int32_t kChildCount = 4;

    OrvaQuadTreeNode() = default;
    ~OrvaQuadTreeNode() override = default;

    // Draws the blocks of the subtree that the view frustum does not reject:
    // each drawn block sets its entry of the table (tableEntries long) and
    // adds one to count.
    virtual void Visit(int32_t* count, int32_t* table, int32_t tableEntries);

    // World corners and planes of the box through m, in the order of the
    // camera's frustum.
    void UpdateBox(const OrvaMatrix& m);
    // Makes this node a leaf over the block, with the block's box.
    void SetLeaf(int32_t index, OrvaMesh* block);
    // Makes this node's box the union of its children's.
    void MergeChildBoxes();

    OrvaQuadTreeNode* GetChild(int32_t i) const { return i >= 0 && i < kChildCount ? children[i] : nullptr; }
    void SetChild(int32_t i, OrvaQuadTreeNode* child)
    {
        if (i >= 0 && i < kChildCount) {
            children[i] = child;
        }
    }
    const OrvaVector& GetBoxMin() const { return boxMin; }
    const OrvaVector& GetBoxMax() const { return boxMax; }
    const OrvaVector* GetCorners() const { return corners; }
    int32_t GetMeshIndex() const { return meshIndex; }
    OrvaMesh* GetMesh() const { return mesh; }

private:
    OrvaQuadTreeNode* children[kChildCount] = {nullptr, nullptr, nullptr, nullptr};
    OrvaVector boxMin;   // model space
    OrvaVector boxMax;
    OrvaVector corners[8];   // world space
    float planes[6][4] = {};
    int32_t meshIndex = -1;   // -1 for an inner node
    OrvaMesh* mesh = nullptr;
};
