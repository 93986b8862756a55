// Quadtree nodes of a height field: their boxes and the visit that draws
// the blocks in view.
#include "engine/render/quad_tree_node.h"

#include <algorithm>

#include "engine/core/graphics.h"
#include "engine/render/camera.h"
#include "engine/render/mesh.h"

void OrvaQuadTreeNode::Visit(int32_t* count, int32_t* table, int32_t tableEntries)
{
    if (!OrvaCamera::IsBoxVisible(corners, planes)) {
        return;
    }
    if (mesh != nullptr) {
        // The generator switched the block's own frustum test off: this
        // node has just made it.
        mesh->Draw();
        if (table != nullptr && meshIndex >= 0 && meshIndex < tableEntries) {
            table[meshIndex] = 1;
        }
        if (count != nullptr) {
            *count += 1;
        }
        return;
    }
    for (OrvaQuadTreeNode* child : children) {
        if (child != nullptr) {
            child->Visit(count, table, tableEntries);
        }
    }
}

void OrvaQuadTreeNode::UpdateBox(const OrvaMatrix& m)
{
    OrvaGraphics::BuildFrustum(boxMin, boxMax, corners, planes, m);
}

void OrvaQuadTreeNode::SetLeaf(int32_t index, OrvaMesh* block)
{
    meshIndex = index;
    mesh = block;
    if (block != nullptr) {
        const float* lo = block->GetBoxMin();
        const float* hi = block->GetBoxMax();
        boxMin.Set(lo[0], lo[1], lo[2]);
        boxMax.Set(hi[0], hi[1], hi[2]);
    }
}

void OrvaQuadTreeNode::MergeChildBoxes()
{
    bool first = true;
    for (const OrvaQuadTreeNode* child : children) {
        if (child == nullptr) {
            continue;
        }
        if (first) {
            boxMin = child->boxMin;
            boxMax = child->boxMax;
            first = false;
            continue;
        }
        boxMin.Set(std::min(boxMin.x, child->boxMin.x), std::min(boxMin.y, child->boxMin.y),
                   std::min(boxMin.z, child->boxMin.z));
        boxMax.Set(std::max(boxMax.x, child->boxMax.x), std::max(boxMax.y, child->boxMax.y),
                   std::max(boxMax.z, child->boxMax.z));
    }
}
