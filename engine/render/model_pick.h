#pragma once
// Collision and picking on models: the kinds of collision test and the hit
// table that every pick fills. The operations are static members of
// OrvaModel (model.h), defined in model_pick.cpp; the table is one module
// global read back through OrvaModel::GetHitMeshes, GetHitFaces,
// GetHitPosition and GetHitNormal. Main thread only.
#include <cstdint>

#include "engine/core/vector.h"

// The kind argument of OrvaModel::CheckCollision.
enum OrvaCollisionKind : int32_t {
    kOrvaCollideSphere = 0,       // bounding spheres, world centres, local radii
    kOrvaCollideBox = 1,          // local boxes moved to the world centre
    kOrvaCollideOrientedBox = 2,  // the world boxes the last update built
};

// The hits of one mesh, in triangle (index-list) order.
struct OrvaMeshHits {
    static constexpr uint32_t kMaxHits = 256;

    uint32_t count = 0;                    // 0 to kMaxHits
    uint32_t face[kMaxHits] = {};          // index position / 3
    OrvaVector localPosition[kMaxHits];    // the mesh's own space
    OrvaVector worldPosition[kMaxHits];
    OrvaVector localNormal[kMaxHits];      // unit; zero unless asked for
    OrvaVector worldNormal[kMaxHits];      // through the world's 3 x 3, not renormalised
};

// The results of the last pick: slot k holds the hits of the mesh whose
// index (in the picked mesh list) is meshIndex[k].
struct OrvaModelHitTable {
    static constexpr uint32_t kMaxMeshes = 256;

    uint32_t meshCount = 0;                // meshes with at least one hit
    uint32_t meshIndex[kMaxMeshes] = {};
    OrvaMeshHits slots[kMaxMeshes];
};
