// Geometry services of OrvaGraphics: frusta and boxes as corners and
// planes, the box-against-frustum test, screen-to-world and ray-box picking.
//
// A box or frustum is eight corners and six planes. Corner i takes x from
// the maximum when bit 0 of i is set (else from the minimum), y by bit 1, z
// by bit 2. The planes are near, far, left, right, top, bottom, each
// (a, b, c, d) with a x + b y + c z + d >= 0 on the inner side, as long as
// the matrix that placed the corners keeps handedness.
#include <cmath>

#include "engine/core/device.h"
#include "engine/core/graphics.h"
#include "engine/core/matrix.h"
#include "engine/core/vector.h"
#include "platform/gfx/math3d.h"

static const OrvaMatrix* (*viewProjectionSource)() = nullptr;

// The corner triples of the six planes, near, far, left, right, top,
// bottom; each winds so that its normal points into the box.
constexpr int kPlaneCorners[6][3] = {{0, 1, 2}, {6, 7, 5}, {2, 6, 4}, {7, 3, 5}, {2, 3, 6}, {1, 0, 4}};

// The twelve edges of a box in corner numbering: the corner pairs that
// differ in one bit.
constexpr int kEdges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                               {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

static platform::Vec3 ToVec3(const OrvaVector& v)
{
    return {v.x, v.y, v.z};
}

static float PlaneDistance(const float plane[4], const platform::Vec3& p)
{
    return plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3];
}

static bool InsideAllPlanes(const float planes[6][4], const platform::Vec3& p)
{
    for (int i = 0; i < 6; ++i) {
        if (PlaneDistance(planes[i], p) < 0.0f) {
            return false;
        }
    }
    return true;
}

// True when the segment a-b passes through face `face` of the box: its ends
// lie on opposite sides of the face's plane and the crossing point lies
// within the other five planes. The crossing point is found in float, so
// it may sit a rounding error outside a neighbouring plane when it falls on
// the face's border; that slack is scaled to the size of the numbers.
static bool SegmentCrossesFace(const platform::Vec3& a, const platform::Vec3& b, const float planes[6][4], int face)
{
    float da = PlaneDistance(planes[face], a);
    float db = PlaneDistance(planes[face], b);
    if ((da < 0.0f) == (db < 0.0f)) {
        return false;
    }
    platform::Vec3 p = platform::Lerp(a, b, da / (da - db));
    float magnitude = std::fabs(p.x) + std::fabs(p.y) + std::fabs(p.z);
    for (int i = 0; i < 6; ++i) {
        if (i == face) {
            continue;
        }
        float slack = 1e-5f * (1.0f + magnitude + std::fabs(planes[i][3]));
        if (PlaneDistance(planes[i], p) < -slack) {
            return false;
        }
    }
    return true;
}

// Corners = the box's corners through m with the divide by w; planes from
// corner triples (0, 1, 2), (6, 7, 5), (2, 6, 4), (7, 3, 5), (2, 3, 6),
// (1, 0, 4). With the clip box (-1, -1, 0) to (1, 1, 1) and the inverse of a
// view x projection it gives the view frustum in world space.
void OrvaGraphics::BuildFrustum(const OrvaVector& minimum, const OrvaVector& maximum, OrvaVector* corners,
                                float (*planes)[4], const OrvaMatrix& m)
{
    // Copied first: minimum or maximum may be one of the output corners.
    const OrvaVector lo = minimum;
    const OrvaVector hi = maximum;
    for (int i = 0; i < 8; ++i) {
        OrvaVector corner((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
        corners[i].TransformCoord(corner, m);
    }
    for (int i = 0; i < 6; ++i) {
        const int* k = kPlaneCorners[i];
        platform::PlaneEquation p =
            platform::PlaneFromPoints(ToVec3(corners[k[0]]), ToVec3(corners[k[1]]), ToVec3(corners[k[2]]));
        planes[i][0] = p.a;
        planes[i][1] = p.b;
        planes[i][2] = p.c;
        planes[i][3] = p.d;
    }
}

// 0: a box corner lies inside all six frustum planes; 1: all eight box
// corners lie outside one frustum plane; 2: a frustum edge crosses a box
// face, or else frustum corner 0 lies inside the box; 3: none of these.
// Callers take 0 and 2 as inside or touching. A box that reaches across the
// frustum without holding one of its corners inside and without being
// crossed by one of its edges (a thin slab through the middle) answers 3.
int32_t OrvaGraphics::CheckBoxInFrustum(const OrvaVector* boxCorners, const float (*boxPlanes)[4],
                                        const OrvaVector* frustumCorners, const float (*frustumPlanes)[4])
{
    for (int i = 0; i < 8; ++i) {
        if (InsideAllPlanes(frustumPlanes, ToVec3(boxCorners[i]))) {
            return 0;
        }
    }
    for (int plane = 0; plane < 6; ++plane) {
        int outside = 0;
        for (int i = 0; i < 8; ++i) {
            if (PlaneDistance(frustumPlanes[plane], ToVec3(boxCorners[i])) < 0.0f) {
                ++outside;
            }
        }
        if (outside == 8) {
            return 1;
        }
    }
    for (const auto& edge : kEdges) {
        platform::Vec3 a = ToVec3(frustumCorners[edge[0]]);
        platform::Vec3 b = ToVec3(frustumCorners[edge[1]]);
        for (int face = 0; face < 6; ++face) {
            if (SegmentCrossesFace(a, b, boxPlanes, face)) {
                return 2;
            }
        }
    }
    // No edge crosses: the frustum is either wholly inside the box or
    // wholly apart from it, and one corner tells which.
    if (InsideAllPlanes(boxPlanes, ToVec3(frustumCorners[0]))) {
        return 2;
    }
    return 3;
}

// The world point under a screen point: x, y in pixels of the viewport, z
// the depth from 0 (near) to 1 (far). out = (screen, 1) x the inverse of
// (view x projection x viewport), divided by w. out is left as it was when
// that product is singular (no device, an empty viewport).
void OrvaGraphics::ScreenToWorld(OrvaVector* out, const OrvaVector& screen)
{
    if (out == nullptr) {
        return;
    }
    platform::Mat4 viewProjection = platform::MatrixIdentity();
    if (viewProjectionSource) {
        const OrvaMatrix* source = viewProjectionSource();
        if (source) {
            viewProjection = source->ToMat4();
        }
    }
    OrvaRect rect;
    OrvaDevice::GetViewport(&rect);
    float width = float(rect.right - rect.left);
    float height = float(rect.bottom - rect.top);
    // Clip x, y in -1 to 1 (y up) to pixels (y down); depth passes through.
    platform::Mat4 viewport = platform::MatrixIdentity();
    viewport.m[0][0] = width * 0.5f;
    viewport.m[1][1] = -height * 0.5f;
    viewport.m[3][0] = width * 0.5f;
    viewport.m[3][1] = height * 0.5f;
    platform::Mat4 inverse;
    if (platform::MatrixInverse(inverse, platform::MatrixMultiply(viewProjection, viewport)) == 0.0f) {
        return;
    }
    // The divide by w undoes the perspective divide, so that the result is
    // the world point itself and not the point scaled by its view depth.
    platform::Vec3 world = platform::TransformCoord(ToVec3(screen), inverse);
    out->Set(world.x, world.y, world.z);
}

// True when the ray from p1 through p2, and on beyond p2, meets the box
// minimum to maximum placed in the world by m (a mesh's world matrix): the
// ray is carried into the box's own frame by the inverse of m. False when m
// is singular; when p1 equals p2, whether p1 lies in the box.
bool OrvaGraphics::RayProbeBox(const OrvaMatrix& m, const OrvaVector& minimum, const OrvaVector& maximum,
                               const OrvaVector& p1, const OrvaVector& p2)
{
    platform::Mat4 toBox;
    if (platform::MatrixInverse(toBox, m.ToMat4()) == 0.0f) {
        return false;
    }
    platform::Vec4 start = platform::Transform(ToVec3(p1), toBox);
    platform::Vec4 end = platform::Transform(ToVec3(p2), toBox);
    platform::Vec3 origin{start.x, start.y, start.z};
    platform::Vec3 direction{end.x - start.x, end.y - start.y, end.z - start.z};
    return platform::BoxBoundProbe(ToVec3(minimum), ToVec3(maximum), origin, direction);
}

void OrvaGraphics::SetViewProjectionSource(const OrvaMatrix* (*source)())
{
    viewProjectionSource = source;
}
