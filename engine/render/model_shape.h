#pragma once
// What the model module's generators share between their source files:
// the vertex writer, the grid's triangle pattern and the mesh set-up.
// Not part of the model's interface.
#include <cstdint>

#include "engine/core/graphics.h"

class OrvaFrame;
class OrvaMesh;
class OrvaModel;
struct OrvaMeshVertex;

struct OrvaModelShape {
    static void Progress(OrvaProgress progress);
    // Position and normal with their morph copies, white, (u, v).
    static void PutVertex(OrvaMeshVertex* v, float x, float y, float z, float nx, float ny, float nz, float u,
                          float tv);
    static void LogCreate(const OrvaModel* model);
    // A named static-kind mesh at the back of the model's mesh list with one
    // material over all faces and zeroed arrays of the counts; null (logged)
    // when a part cannot be made.
    static OrvaMesh* AddMesh(OrvaModel* model, OrvaFrame* frame, const char* name, int32_t vertices,
                             int32_t indices);
    // Triangles (c, b, a), (d, b, c) per cell of a columns x rows vertex
    // grid, rows outer; the vertex numbers must fit 16 bits.
    static void GridTriangles(uint16_t* out, int32_t columns, int32_t rows);
    // The height-field name counter back to 0 (module start).
    static void ResetHeightFieldCount();
};
