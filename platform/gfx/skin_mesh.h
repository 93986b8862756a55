#pragma once
// System-memory meshes and skin meshes, and the services the engine's mesh
// loader asks of them: reading a Mesh data object of an X file with its
// normals, texture coordinates, vertex colours, materials and skin weights;
// converting vertex formats; sorting faces by material; computing normals;
// and splitting a skin into bone combinations of a bounded palette with
// per-vertex blend weights and palette indices.
//
// Vertex formats are the device's codes (soft_device.h Fvf); besides those
// the blend weights 0x6 to 0xC (one to four floats after the position) and
// kFvfLastBetaUByte4, which makes the last of them four index bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/math3d.h"

namespace platform {

class XFile;
struct XObject;

constexpr uint32_t kFvfXyzB1 = 0x006;
constexpr uint32_t kFvfXyzB2 = 0x008;
constexpr uint32_t kFvfXyzB3 = 0x00A;
constexpr uint32_t kFvfXyzB4 = 0x00C;
constexpr uint32_t kFvfLastBetaUByte4 = 0x1000;
// Position, normal, diffuse, one texture pair: 36 bytes.
constexpr uint32_t kFvfMeshStatic = 0x152;
// Position, two weights and four index bytes, normal, diffuse, one texture
// pair: 48 bytes.
constexpr uint32_t kFvfMeshSkinned = 0x115A;
constexpr uint32_t kNoBone = 0xFFFFFFFFu;
// Most vertices a mesh with 16-bit indices can address.
constexpr uint32_t kMaxMeshVertices = 65535;
// Bones one vertex is blended from.
constexpr int kMaxVertexInfluences = 3;

// Bytes of one vertex of the format; 0 for one we do not handle.
uint32_t MeshFvfStride(uint32_t fvf);

// A material of a mesh as the file gives it: colours r, g, b, a.
struct MeshMaterial {
    float diffuse[4] = {};
    float ambient[4] = {};
    float specular[4] = {};
    float emissive[4] = {};
    float power = 0.0f;
    std::string textureFile;   // empty: none
};

// The faces of one attribute, and the vertices they use.
struct AttributeRange {
    uint32_t attribId = 0;
    uint32_t faceStart = 0;
    uint32_t faceCount = 0;
    uint32_t vertexStart = 0;
    uint32_t vertexCount = 0;
};

// A run of faces drawn with one palette of bones.
struct BoneCombination {
    uint32_t attribId = 0;
    uint32_t faceStart = 0;
    uint32_t faceCount = 0;
    uint32_t vertexStart = 0;
    uint32_t vertexCount = 0;
    std::vector<uint32_t> boneIds;   // palette size entries, kNoBone when unused
};

// A triangle mesh in system memory.
class MeshData {
public:
    // Empty vertices of the format (zeros) and faces (all indices 0,
    // attribute 0); false when the format is not handled, the count is
    // above kMaxMeshVertices or memory is short.
    bool Create(uint32_t fvf, uint32_t vertexCount, uint32_t faceCount);

    uint32_t GetFvf() const { return fvf; }
    uint32_t GetStride() const { return stride; }
    uint32_t GetVertexCount() const { return stride ? static_cast<uint32_t>(vertices.size() / stride) : 0; }
    uint32_t GetFaceCount() const { return static_cast<uint32_t>(attributes.size()); }
    uint8_t* GetVertices() { return vertices.data(); }
    const uint8_t* GetVertices() const { return vertices.data(); }
    uint16_t* GetIndices() { return indices.data(); }
    const uint16_t* GetIndices() const { return indices.data(); }
    uint32_t* GetAttributes() { return attributes.data(); }
    const uint32_t* GetAttributes() const { return attributes.data(); }
    // Filled by OptimizeAttributeSort; empty before.
    const std::vector<AttributeRange>& GetAttributeTable() const { return table; }

    // A copy in another format: components both formats have are copied,
    // new ones are zero. False when either format is not handled.
    bool CloneFvf(uint32_t newFvf, MeshData* out) const;
    // A copy whose faces are sorted by attribute (stable), with the
    // attribute table filled in.
    bool OptimizeAttributeSort(MeshData* out) const;
    // Every vertex normal from the faces around it, each face weighted by
    // its corner angle. False when the format has no normal.
    bool ComputeNormals();

private:
    friend class SkinMeshData;
    uint32_t fvf = 0;
    uint32_t stride = 0;
    std::vector<uint8_t> vertices;
    std::vector<uint16_t> indices;       // three per face
    std::vector<uint32_t> attributes;    // one per face
    std::vector<AttributeRange> table;
};

// A mesh with the bones that move it.
class SkinMeshData {
public:
    struct Bone {
        std::string name;
        Mat4 offset;                      // mesh space to the bone's space
        std::vector<uint32_t> vertices;   // indices into the mesh's vertices
        std::vector<float> weights;
    };

    const MeshData& GetOriginalMesh() const { return mesh; }
    uint32_t GetBoneCount() const { return static_cast<uint32_t>(bones.size()); }
    const std::vector<Bone>& GetBones() const { return bones; }
    // For callers that build a skin in code.
    MeshData& GetMesh() { return mesh; }
    std::vector<Bone>& GetEditableBones() { return bones; }

    // True when some vertex has no bone weight above zero.
    bool HasUnweightedVertices() const;

    // The mesh with blend data for a palette of paletteSize bones: format
    // kFvfXyzB3 | kFvfLastBetaUByte4 plus the normal, diffuse and texture
    // components of the original; faces grouped by attribute into
    // combinations of at most paletteSize bones; each vertex keeps its
    // three strongest bones (weights scaled to sum 1), weight 0 and 1 and
    // its palette slots stored, the third weight implied. A vertex that no
    // bone weighs follows the mesh's own frame as exporters expect: it gets
    // weight 1 on bone number GetBoneCount(), which the caller fills with
    // that frame's matrix (so the palette needs room for one bone more).
    // Vertices shared by two combinations are duplicated. False with a
    // reason when a face needs more bones than the palette holds or the
    // result has too many vertices.
    bool ConvertToIndexedBlendedMesh(uint32_t paletteSize, MeshData* out, std::vector<BoneCombination>* combinations,
                                     std::string* error) const;

private:
    friend bool LoadSkinMesh(const XFile&, const XObject&, SkinMeshData*, std::vector<MeshMaterial>*,
                             std::string*);
    MeshData mesh;
    std::vector<Bone> bones;
};

// Reads a Mesh data object (and its MeshNormals, MeshTextureCoords,
// MeshVertexColors, MeshMaterialList with its Materials and
// TextureFilenames, XSkinMeshHeader and SkinWeights children). Polygons are
// fanned into triangles; a vertex whose corners carry different normals is
// split. False with a reason when an index or count is out of range.
bool LoadSkinMesh(const XFile& file, const XObject& object, SkinMeshData* out, std::vector<MeshMaterial>* materials,
                  std::string* error);

}  // namespace platform
