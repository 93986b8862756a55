#pragma once
// Graphics services shared by the drawing modules: the video-memory counter,
// the 2D polygon clipper and the pixel converter.
#include <cstdint>

class OrvaVector;
class OrvaMatrix;

// Integer rectangle: left and top inside, right and bottom one past.
struct OrvaRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Loaders' progress callback: called between steps with a running count.
using OrvaProgress = void (*)(int32_t step);

// One image for OrvaGraphics::ConvertPixels.
struct OrvaPixelImage {
    void* bits = nullptr;
    int32_t pitch = 0;    // bytes per row
    int32_t width = 0;    // texels
    int32_t height = 0;   // texels
};

class OrvaGraphics {
public:
    // Thirteen 32-bit words per vertex: x, y, z, rhw, ARGB colour, four (u, v).
    static constexpr int32_t kClipVertexWords = 13;
    // The most corners a convex polygon can have after four clip edges.
    static constexpr int32_t kMaxClipCorners = 64;

    // Adds to the video-memory counter (bytes, may be negative) and raises
    // the recorded peak.
    static void AddVramSize(int32_t bytes);
    static int32_t GetVramSize();      // bytes
    static int32_t GetVramPeak();      // bytes
    static void ResetVramCounter();

    // Clips a convex polygon of `count` vertices against the rectangle's
    // left, top, right and bottom edges in that order and fans the rest into
    // triangles written to `out` (three vertices each); returns the number
    // of triangles, 0 when fewer than three corners remain. `out` holds at
    // least 3 x (count + 2) vertices; count runs from 0 to kMaxClipCorners - 4.
    static int32_t ClipPolygon(const uint32_t* in, uint32_t* out, const OrvaRect& rect, int32_t count);

    // Copies or stretches (nearest sample, 16.16 steps) the source over the
    // destination in texels of the given format (21, 22: 32 bits; 23 to 26:
    // 16 bits; others copy nothing). 1 when done, 0 when an image is missing.
    static int32_t ConvertPixels(const OrvaPixelImage* destination, const OrvaPixelImage* source, uint32_t format,
                                 OrvaProgress progress);

    // Frustum and picking helpers (graphics_geometry.cpp).
    static void BuildFrustum(const OrvaVector& minimum, const OrvaVector& maximum, OrvaVector* corners,
                             float (*planes)[4], const OrvaMatrix& m);
    static int32_t CheckBoxInFrustum(const OrvaVector* boxCorners, const float (*boxPlanes)[4],
                                     const OrvaVector* frustumCorners, const float (*frustumPlanes)[4]);
    static void ScreenToWorld(OrvaVector* out, const OrvaVector& screen);
    static bool RayProbeBox(const OrvaMatrix& m, const OrvaVector& minimum, const OrvaVector& maximum,
                            const OrvaVector& p1, const OrvaVector& p2);
    // Where ScreenToWorld reads the global view x projection (the camera
    // module installs its own); null, the default, reads the identity.
    static void SetViewProjectionSource(const OrvaMatrix* (*source)());
};
