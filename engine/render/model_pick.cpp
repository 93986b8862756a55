// Collision between meshes of two models and picking of a model's
// triangles by a world segment or a screen point, with the module's hit
// table and its readers.
#include "engine/render/model_pick.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/core/graphics.h"
#include "engine/core/matrix.h"
#include "engine/core/vector.h"
#include "engine/render/mesh.h"
#include "engine/render/model.h"
#include "platform/gfx/math3d.h"

// 3.4 MB: static storage, so that no query allocates.
static OrvaModelHitTable g_hits;

static platform::Vec3 ToVec3(const OrvaVector& v)
{
    return {v.x, v.y, v.z};
}

static OrvaVector ToVector(const platform::Vec3& v)
{
    return OrvaVector(v.x, v.y, v.z);
}

static platform::Vec3 Position(const OrvaMeshVertex& v)
{
    return {v.position[0], v.position[1], v.position[2]};
}

// (v, 1) x m with w dropped.
static platform::Vec3 TransformPoint(const platform::Vec3& v, const platform::Mat4& m)
{
    const platform::Vec4 r = platform::Transform(v, m);
    return {r.x, r.y, r.z};
}

// The mesh's local bounding-sphere centre placed by its world matrix.
static platform::Vec3 WorldCenter(OrvaMesh* mesh)
{
    const float* c = mesh->GetCenter();
    return TransformPoint({c[0], c[1], c[2]}, mesh->GetWorldMatrix()->ToMat4());
}

// ---------------------------------------------------------------- hit table

void OrvaModel::ClearHitTable()
{
    std::memset(static_cast<void*>(&g_hits), 0, sizeof g_hits);
}

// Only the slots below the hit-mesh count are ever written (a mesh without
// hits writes nothing into its slot), so clearing those leaves the whole
// table zero without touching its 3.4 MB at every pick.
static void ClearUsedSlots()
{
    const uint32_t used = g_hits.meshCount < OrvaModelHitTable::kMaxMeshes ? g_hits.meshCount
                                                                            : OrvaModelHitTable::kMaxMeshes;
    std::memset(static_cast<void*>(g_hits.slots), 0, sizeof(OrvaMeshHits) * used);
    std::memset(g_hits.meshIndex, 0, sizeof g_hits.meshIndex);
    g_hits.meshCount = 0;
}

// ---------------------------------------------------------------- collision

static bool SpheresCollide(OrvaMesh* a, OrvaMesh* b)
{
    const platform::Vec3 ca = WorldCenter(a);
    const platform::Vec3 cb = WorldCenter(b);
    const float r = a->GetRadius() + b->GetRadius();
    // Spheres that only touch are apart.
    return r * r > platform::LengthSq(ca - cb);
}

// The local box carried along with its centre: the world matrix's
// rotation and scale are ignored. The box keeps its place around the
// centre, so an off-centre mesh's box lies where the mesh is drawn.
static void MovedBox(OrvaMesh* mesh, float* lo, float* hi)
{
    const platform::Vec3 world = WorldCenter(mesh);
    const float placed[3] = {world.x, world.y, world.z};
    const float* c = mesh->GetCenter();
    for (int k = 0; k < 3; ++k) {
        lo[k] = mesh->GetBoxMin()[k] - c[k] + placed[k];
        hi[k] = mesh->GetBoxMax()[k] - c[k] + placed[k];
    }
}

static bool BoxesCollide(OrvaMesh* a, OrvaMesh* b)
{
    float loA[3], hiA[3], loB[3], hiB[3];
    MovedBox(a, loA, hiA);
    MovedBox(b, loB, hiB);
    // Boxes whose faces touch collide.
    for (int k = 0; k < 3; ++k) {
        if (!(hiA[k] >= loB[k])) {
            return false;
        }
    }
    for (int k = 0; k < 3; ++k) {
        if (!(loA[k] <= hiB[k])) {
            return false;
        }
    }
    return true;
}

// One direction of the box test sees A's corners against B and B's edges
// against A's faces only: boxes apart across one of A's faces, or along an
// edge pair, answer 3 as well as a thin box passing through the other
// without a corner inside. Asking both ways covers every way two convex
// boxes can meet: a corner of either inside the other or an edge of either
// through a face of the other.
static bool OrientedBoxesCollide(OrvaMesh* a, OrvaMesh* b)
{
    const int32_t ab = OrvaGraphics::CheckBoxInFrustum(a->GetBoxCorners(), a->GetBoxPlanes(), b->GetBoxCorners(),
                                                       b->GetBoxPlanes());
    if (ab == 0 || ab == 2) {
        return true;
    }
    if (ab == 1) {
        return false;
    }
    const int32_t ba = OrvaGraphics::CheckBoxInFrustum(b->GetBoxCorners(), b->GetBoxPlanes(), a->GetBoxCorners(),
                                                       a->GetBoxPlanes());
    return ba == 0 || ba == 2;
}

int32_t OrvaModel::CheckCollision(int32_t kind, OrvaModel* a, int32_t meshA, OrvaModel* b, int32_t meshB)
{
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    // The models' own lists: an attached model does not take part.
    OrvaMesh* ma = a->GetMesh(meshA);
    OrvaMesh* mb = b->GetMesh(meshB);
    if (ma == nullptr || mb == nullptr) {
        return 0;
    }
    switch (kind) {
    case kOrvaCollideSphere:
        return SpheresCollide(ma, mb) ? 1 : 0;
    case kOrvaCollideBox:
        return BoxesCollide(ma, mb) ? 1 : 0;
    case kOrvaCollideOrientedBox:
        return OrientedBoxesCollide(ma, mb) ? 1 : 0;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------- picking

bool OrvaModel::RayTriangle(const OrvaVector& origin, const OrvaVector& direction, const OrvaVector& a,
                            const OrvaVector& b, const OrvaVector& c, float* t, float* u, float* v)
{
    const platform::Vec3 va = ToVec3(a);
    const platform::Vec3 e1 = ToVec3(b) - va;
    const platform::Vec3 e2 = ToVec3(c) - va;
    const platform::Vec3 d = ToVec3(direction);
    const platform::Vec3 p = platform::Cross(d, e2);
    const float det = platform::Dot(e1, p);
    // A triangle seen from behind has a negative determinant; one seen
    // edge-on, or without area, one too small for its size. The limit is
    // relative, not a fixed 0.0001 in the mesh's units, which no triangle
    // with edges of about 0.01 could ever reach. Written as a negated pass
    // so that a NaN anywhere fails.
    if (!(det > platform::RayTriangleMinDeterminant(e1, e2, d))) {
        return false;
    }
    const platform::Vec3 s = ToVec3(origin) - va;
    const float uu = platform::Dot(s, p);
    if (!(uu >= 0.0f && uu <= det)) {
        return false;
    }
    const platform::Vec3 q = platform::Cross(s, e1);
    const float vv = platform::Dot(d, q);
    if (!(vv >= 0.0f && uu + vv <= det)) {
        return false;
    }
    if (t != nullptr) {
        *t = platform::Dot(e2, q) / det;
    }
    if (u != nullptr) {
        *u = uu / det;
    }
    if (v != nullptr) {
        *v = vv / det;
    }
    return true;
}

bool OrvaModel::RayPickMesh(OrvaMesh* mesh, const OrvaVector& from, const OrvaVector& to, int32_t twoSided,
                            int32_t wantNormals)
{
    if (g_hits.meshCount >= OrvaModelHitTable::kMaxMeshes) {
        return false;
    }
    OrvaMeshHits& slot = g_hits.slots[g_hits.meshCount];
    const OrvaMeshVertex* vertices = mesh->GetVertexArray();
    const uint16_t* indices = mesh->GetIndexArray();
    const int32_t vertexCount = mesh->GetVertexCount();
    const int32_t indexCount = mesh->GetIndexCount();
    if (vertices == nullptr || indices == nullptr || vertexCount <= 0 || indexCount < 3) {
        return false;
    }
    const platform::Mat4 world = mesh->GetWorldMatrix()->ToMat4();
    // A flattened mesh (a scale of 0) has no inverse and nothing to hit.
    platform::Mat4 inverse;
    if (platform::MatrixInverse(inverse, world) == 0.0f) {
        return false;
    }
    // Work in the mesh's own space: only the segment and the hits are
    // transformed, never the vertices.
    const platform::Vec3 q0 = TransformPoint(ToVec3(from), inverse);
    const platform::Vec3 q1 = TransformPoint(ToVec3(to), inverse);
    const platform::Vec3 dir = q1 - q0;
    const float len = platform::Length(dir);
    if (!(len > 0.0f) || !std::isfinite(len)) {
        return false;
    }
    const platform::Vec3 n = dir * (1.0f / len);
    const float lo[3] = {std::fmin(q0.x, q1.x), std::fmin(q0.y, q1.y), std::fmin(q0.z, q1.z)};
    const float hi[3] = {std::fmax(q0.x, q1.x), std::fmax(q0.y, q1.y), std::fmax(q0.z, q1.z)};
    const OrvaVector origin = ToVector(q0);
    const OrvaVector direction = ToVector(n);

    const uint32_t triangles = static_cast<uint32_t>(indexCount) / 3;
    for (uint32_t k = 0; k < triangles; ++k) {
        const uint16_t i0 = indices[3 * k];
        const uint16_t i1 = indices[3 * k + 1];
        const uint16_t i2 = indices[3 * k + 2];
        // A face naming a vertex the mesh does not have is skipped rather
        // than read past the vertex array.
        if (i0 >= vertexCount || i1 >= vertexCount || i2 >= vertexCount) {
            continue;
        }
        const platform::Vec3 v0 = Position(vertices[i0]);
        const platform::Vec3 v1 = Position(vertices[i1]);
        const platform::Vec3 v2 = Position(vertices[i2]);
        // Cheap rejection against the segment's box, axis by axis.
        bool outside = false;
        const platform::Vec3 corners[3] = {v0, v1, v2};
        for (int axis = 0; axis < 3 && !outside; ++axis) {
            float c[3];
            for (int j = 0; j < 3; ++j) {
                c[j] = axis == 0 ? corners[j].x : axis == 1 ? corners[j].y : corners[j].z;
            }
            outside = (c[0] < lo[axis] && c[1] < lo[axis] && c[2] < lo[axis]) ||
                      (c[0] > hi[axis] && c[1] > hi[axis] && c[2] > hi[axis]);
        }
        if (outside) {
            continue;
        }
        float t = 0.0f;
        float u = 0.0f;
        float v = 0.0f;
        const OrvaVector a = ToVector(v0);
        const OrvaVector b = ToVector(v1);
        const OrvaVector c = ToVector(v2);
        if (!RayTriangle(origin, direction, a, b, c, &t, &u, &v) &&
            (twoSided == 0 || !RayTriangle(origin, direction, a, c, b, &t, &u, &v))) {
            continue;
        }
        if (!(t >= 0.0f && t <= len)) {
            continue;
        }
        const uint32_t h = slot.count;
        const platform::Vec3 local = q0 + n * t;
        slot.face[h] = k;
        slot.localPosition[h] = ToVector(local);
        slot.worldPosition[h] = ToVector(TransformPoint(local, world));
        if (wantNormals != 0) {
            // The triangle's own winding, also for a hit from behind.
            const platform::Vec3 normal = platform::Normalize(platform::Cross(v1 - v0, v2 - v0));
            slot.localNormal[h] = ToVector(normal);
            slot.worldNormal[h] = ToVector(platform::TransformNormal(normal, world));
        }
        ++slot.count;
        if (slot.count >= OrvaMeshHits::kMaxHits) {
            break;
        }
    }
    return slot.count > 0;
}

bool OrvaModel::RayPick(OrvaModel* model, int32_t meshIndex, const OrvaVector* from, const OrvaVector* to,
                        int32_t twoSided, int32_t wantNormals)
{
    ClearUsedSlots();
    if (model == nullptr || from == nullptr || to == nullptr) {
        return false;
    }
    // Copied: the caller may pass vectors that a hit write could reach.
    const OrvaVector start = *from;
    const OrvaVector end = *to;
    OrvaObjectList* meshes = model->GetAttached() != nullptr ? model->GetAttached()->GetMeshes() : model->GetMeshes();
    if (meshIndex >= 0 && meshIndex < meshes->GetCount()) {
        if (RayPickMesh(static_cast<OrvaMesh*>(meshes->GetAt(meshIndex)), start, end, twoSided, wantNormals)) {
            g_hits.meshIndex[g_hits.meshCount++] = static_cast<uint32_t>(meshIndex);
        }
        return g_hits.meshCount > 0;
    }
    uint32_t index = 0;
    for (OrvaObject* o = meshes->GetHead(); o != nullptr; o = o->GetNext(), ++index) {
        // A full table ends the pick: later meshes are not tested.
        if (g_hits.meshCount >= OrvaModelHitTable::kMaxMeshes) {
            break;
        }
        if (RayPickMesh(static_cast<OrvaMesh*>(o), start, end, twoSided, wantNormals)) {
            g_hits.meshIndex[g_hits.meshCount++] = index;
        }
    }
    return g_hits.meshCount > 0;
}

bool OrvaModel::ScreenPick(OrvaModel* model, int32_t meshIndex, const OrvaVector* screenPoint, int32_t twoSided,
                           int32_t wantNormals)
{
    if (screenPoint == nullptr) {
        ClearUsedSlots();
        return false;
    }
    // The segment runs through the picked pixel, from its depth to the far
    // end of the view, as OrvaModel::PickMesh takes it. Without a usable
    // view both points stay equal and the pick finds nothing.
    OrvaVector from(0.0f, 0.0f, 0.0f);
    OrvaVector to(0.0f, 0.0f, 0.0f);
    OrvaGraphics::ScreenToWorld(&from, *screenPoint);
    OrvaGraphics::ScreenToWorld(&to, OrvaVector(screenPoint->x, screenPoint->y, 1.0f));
    return RayPick(model, meshIndex, &from, &to, twoSided, wantNormals);
}

// ---------------------------------------------------------------- readers

uint32_t OrvaModel::GetHitMeshes(uint32_t* out)
{
    if (out != nullptr) {
        std::memcpy(out, g_hits.meshIndex, sizeof(uint32_t) * g_hits.meshCount);
    }
    return g_hits.meshCount;
}

// The slot when it holds a recorded hit mesh, else null.
static const OrvaMeshHits* UsedSlot(int32_t slot)
{
    if (slot < 0 || static_cast<uint32_t>(slot) >= g_hits.meshCount) {
        return nullptr;
    }
    return &g_hits.slots[slot];
}

uint32_t OrvaModel::GetHitFaces(int32_t slot, uint32_t* out)
{
    const OrvaMeshHits* hits = UsedSlot(slot);
    if (hits == nullptr) {
        return 0;
    }
    if (out != nullptr) {
        std::memcpy(out, hits->face, sizeof(uint32_t) * hits->count);
    }
    return hits->count;
}

bool OrvaModel::GetHitPosition(int32_t slot, int32_t hit, OrvaVector* local, OrvaVector* world)
{
    const OrvaMeshHits* hits = UsedSlot(slot);
    if (hits == nullptr || hit < 0 || static_cast<uint32_t>(hit) >= hits->count) {
        return false;
    }
    if (local != nullptr) {
        *local = hits->localPosition[hit];
    }
    if (world != nullptr) {
        *world = hits->worldPosition[hit];
    }
    return true;
}

bool OrvaModel::GetHitNormal(int32_t slot, int32_t hit, OrvaVector* local, OrvaVector* world)
{
    const OrvaMeshHits* hits = UsedSlot(slot);
    if (hits == nullptr || hit < 0 || static_cast<uint32_t>(hit) >= hits->count) {
        return false;
    }
    if (local != nullptr) {
        *local = hits->localNormal[hit];
    }
    if (world != nullptr) {
        *world = hits->worldNormal[hit];
    }
    return true;
}
