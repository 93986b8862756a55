#include "platform/gfx/skin_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <new>

#include "platform/gfx/xfile.h"

namespace platform {

// ---------------------------------------------------------------- formats

namespace {

// Where each component of a vertex format lies; -1 when absent.
struct Layout {
    uint32_t stride = 0;
    int betas = 0;            // floats after the position (the last may be indices)
    bool lastIndices = false;
    int position = -1, weights = -1, indices = -1, normal = -1, diffuse = -1, specular = -1, tex = -1;
};

bool LayoutOf(uint32_t fvf, Layout* l)
{
    *l = Layout();
    const uint32_t pos = fvf & 0xE;
    if (pos == 0x2) {
        l->betas = 0;
    } else if (pos >= kFvfXyzB1 && pos <= kFvfXyzB4) {
        l->betas = static_cast<int>((pos - 0x4) / 2);
    } else {
        return false;
    }
    if ((fvf & ~(0xEu | 0x10u | 0x20u | 0x40u | 0x80u | 0xF00u | kFvfLastBetaUByte4)) != 0) {
        return false;
    }
    const uint32_t texCount = (fvf >> 8) & 0xF;
    if (texCount > 8) {
        return false;
    }
    l->lastIndices = (fvf & kFvfLastBetaUByte4) != 0 && l->betas > 0;
    uint32_t at = 0;
    l->position = 0;
    at += 12;
    const int weightFloats = l->betas - (l->lastIndices ? 1 : 0);
    if (weightFloats > 0) {
        l->weights = static_cast<int>(at);
    }
    at += 4 * static_cast<uint32_t>(weightFloats);
    if (l->lastIndices) {
        l->indices = static_cast<int>(at);
        at += 4;
    }
    if (fvf & 0x10) {
        l->normal = static_cast<int>(at);
        at += 12;
    }
    if (fvf & 0x20) {
        at += 4;
    }
    if (fvf & 0x40) {
        l->diffuse = static_cast<int>(at);
        at += 4;
    }
    if (fvf & 0x80) {
        l->specular = static_cast<int>(at);
        at += 4;
    }
    if (texCount > 0) {
        l->tex = static_cast<int>(at);
    }
    at += 8 * texCount;
    l->stride = at;
    return true;
}

// One vertex with every component the mesh code knows.
struct Canon {
    float position[3] = {};
    float weights[4] = {};
    uint8_t indices[4] = {};
    float normal[3] = {};
    uint32_t diffuse = 0;
    uint32_t specular = 0;
    float tex[2] = {};
};

void Decode(const Layout& l, const uint8_t* v, Canon* c, int* weightCount)
{
    std::memcpy(c->position, v, 12);
    const int wf = l.betas - (l.lastIndices ? 1 : 0);
    if (l.weights >= 0) {
        std::memcpy(c->weights, v + l.weights, 4 * static_cast<size_t>(wf));
    }
    *weightCount = wf > 0 ? wf : 0;
    if (l.indices >= 0) std::memcpy(c->indices, v + l.indices, 4);
    if (l.normal >= 0) std::memcpy(c->normal, v + l.normal, 12);
    if (l.diffuse >= 0) std::memcpy(&c->diffuse, v + l.diffuse, 4);
    if (l.specular >= 0) std::memcpy(&c->specular, v + l.specular, 4);
    if (l.tex >= 0) std::memcpy(c->tex, v + l.tex, 8);
}

void Encode(const Layout& l, const Canon& c, int weightCount, uint8_t* v)
{
    std::memcpy(v, c.position, 12);
    const int wf = l.betas - (l.lastIndices ? 1 : 0);
    if (l.weights >= 0) {
        std::memcpy(v + l.weights, c.weights, 4 * static_cast<size_t>(std::min(wf, weightCount)));
    }
    if (l.indices >= 0) std::memcpy(v + l.indices, c.indices, 4);
    if (l.normal >= 0) std::memcpy(v + l.normal, c.normal, 12);
    if (l.diffuse >= 0) std::memcpy(v + l.diffuse, &c.diffuse, 4);
    if (l.specular >= 0) std::memcpy(v + l.specular, &c.specular, 4);
    if (l.tex >= 0) std::memcpy(v + l.tex, c.tex, 8);
}

Vec3 PositionAt(const MeshData& m, uint32_t vertex)
{
    Vec3 p;
    std::memcpy(&p, m.GetVertices() + static_cast<size_t>(vertex) * m.GetStride(), 12);
    return p;
}

}  // namespace

uint32_t MeshFvfStride(uint32_t fvf)
{
    Layout l;
    return LayoutOf(fvf, &l) ? l.stride : 0;
}

// ---------------------------------------------------------------- meshes

bool MeshData::Create(uint32_t newFvf, uint32_t vertexCount, uint32_t faceCount)
{
    Layout l;
    if (!LayoutOf(newFvf, &l) || vertexCount > kMaxMeshVertices || faceCount > (1u << 24)) {
        return false;
    }
    try {
        vertices.assign(static_cast<size_t>(vertexCount) * l.stride, 0);
        indices.assign(static_cast<size_t>(faceCount) * 3, 0);
        attributes.assign(faceCount, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    table.clear();
    fvf = newFvf;
    stride = l.stride;
    return true;
}

bool MeshData::CloneFvf(uint32_t newFvf, MeshData* out) const
{
    Layout from;
    Layout to;
    if (out == this || !LayoutOf(fvf, &from) || !LayoutOf(newFvf, &to)) {
        return false;
    }
    if (!out->Create(newFvf, GetVertexCount(), GetFaceCount())) {
        return false;
    }
    for (uint32_t i = 0; i < GetVertexCount(); ++i) {
        Canon c;
        int weights = 0;
        Decode(from, vertices.data() + static_cast<size_t>(i) * stride, &c, &weights);
        Encode(to, c, weights, out->vertices.data() + static_cast<size_t>(i) * to.stride);
    }
    out->indices = indices;
    out->attributes = attributes;
    out->table = table;
    return true;
}

bool MeshData::OptimizeAttributeSort(MeshData* out) const
{
    if (out == this || !out->Create(fvf, GetVertexCount(), GetFaceCount())) {
        return false;
    }
    std::vector<uint32_t> order(GetFaceCount());
    for (uint32_t f = 0; f < order.size(); ++f) {
        order[f] = f;
    }
    std::stable_sort(order.begin(), order.end(),
                     [this](uint32_t a, uint32_t b) { return attributes[a] < attributes[b]; });
    out->vertices = vertices;
    for (uint32_t f = 0; f < order.size(); ++f) {
        out->attributes[f] = attributes[order[f]];
        for (int c = 0; c < 3; ++c) {
            out->indices[3 * f + static_cast<size_t>(c)] = indices[3 * static_cast<size_t>(order[f]) + static_cast<size_t>(c)];
        }
    }
    for (uint32_t f = 0; f < order.size(); ++f) {
        if (out->table.empty() || out->table.back().attribId != out->attributes[f]) {
            AttributeRange r;
            r.attribId = out->attributes[f];
            r.faceStart = f;
            out->table.push_back(r);
        }
        ++out->table.back().faceCount;
    }
    for (AttributeRange& r : out->table) {
        uint32_t lo = 0xFFFFFFFFu;
        uint32_t hi = 0;
        for (uint32_t i = 3 * r.faceStart; i < 3 * (r.faceStart + r.faceCount); ++i) {
            lo = std::min<uint32_t>(lo, out->indices[i]);
            hi = std::max<uint32_t>(hi, out->indices[i]);
        }
        r.vertexStart = lo;
        r.vertexCount = hi - lo + 1;
    }
    return true;
}

bool MeshData::ComputeNormals()
{
    Layout l;
    if (!LayoutOf(fvf, &l) || l.normal < 0) {
        return false;
    }
    const uint32_t count = GetVertexCount();
    std::vector<Vec3> sums(count);
    for (uint32_t f = 0; f < GetFaceCount(); ++f) {
        const uint16_t* tri = &indices[3 * static_cast<size_t>(f)];
        if (tri[0] >= count || tri[1] >= count || tri[2] >= count) {
            continue;
        }
        const Vec3 p[3] = {PositionAt(*this, tri[0]), PositionAt(*this, tri[1]), PositionAt(*this, tri[2])};
        const Vec3 n = Normalize(Cross(p[1] - p[0], p[2] - p[0]));
        for (int c = 0; c < 3; ++c) {
            const Vec3 e1 = Normalize(p[(c + 1) % 3] - p[c]);
            const Vec3 e2 = Normalize(p[(c + 2) % 3] - p[c]);
            const float d = std::max(-1.0f, std::min(1.0f, Dot(e1, e2)));
            sums[tri[c]] = sums[tri[c]] + n * std::acos(d);
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        const Vec3 n = Normalize(sums[i]);
        std::memcpy(vertices.data() + static_cast<size_t>(i) * stride + l.normal, &n, 12);
    }
    return true;
}

// ---------------------------------------------------------------- skins

bool SkinMeshData::HasUnweightedVertices() const
{
    const uint32_t vertexCount = mesh.GetVertexCount();
    std::vector<bool> weighted(vertexCount, false);
    for (const Bone& bone : bones) {
        for (size_t i = 0; i < bone.vertices.size() && i < bone.weights.size(); ++i) {
            if (bone.vertices[i] < vertexCount && bone.weights[i] > 0.0f) {
                weighted[bone.vertices[i]] = true;
            }
        }
    }
    for (bool w : weighted) {
        if (!w) {
            return true;
        }
    }
    return false;
}

bool SkinMeshData::ConvertToIndexedBlendedMesh(uint32_t paletteSize, MeshData* out,
                                               std::vector<BoneCombination>* combinations, std::string* error) const
{
    auto fail = [error](const std::string& why) {
        if (error != nullptr) *error = "mesh: " + why;
        return false;
    };
    if (out == nullptr || combinations == nullptr || paletteSize == 0 || paletteSize > 255) {
        return fail("palette of " + std::to_string(paletteSize) + " bones");
    }
    Layout from;
    if (!LayoutOf(mesh.fvf, &from)) {
        return fail("vertex format not handled");
    }
    const uint32_t vertexCount = mesh.GetVertexCount();
    // The three strongest bones of each vertex, weights scaled to sum 1.
    struct Influence {
        uint32_t bone = 0;
        float weight = 0.0f;
    };
    std::vector<std::vector<Influence>> influences(vertexCount);
    for (uint32_t b = 0; b < bones.size(); ++b) {
        const Bone& bone = bones[b];
        for (size_t i = 0; i < bone.vertices.size() && i < bone.weights.size(); ++i) {
            if (bone.vertices[i] < vertexCount && bone.weights[i] > 0.0f) {
                influences[bone.vertices[i]].push_back({b, bone.weights[i]});
            }
        }
    }
    // A vertex no bone weighs follows the mesh's own frame, which takes the
    // bone number after the last bone.
    const uint32_t ownFrame = GetBoneCount();
    for (std::vector<Influence>& list : influences) {
        if (list.empty()) {
            list.push_back({ownFrame, 1.0f});
        }
    }
    for (std::vector<Influence>& list : influences) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Influence& a, const Influence& b) { return a.weight > b.weight; });
        if (list.size() > kMaxVertexInfluences) {
            list.resize(kMaxVertexInfluences);
        }
        float sum = 0.0f;
        for (const Influence& i : list) sum += i.weight;
        for (Influence& i : list) i.weight /= sum;
    }
    MeshData sorted;
    if (!mesh.OptimizeAttributeSort(&sorted)) {
        return fail("faces cannot be sorted");
    }
    // Faces grouped greedily: a combination takes faces of one attribute
    // while the union of their bones fits the palette.
    combinations->clear();
    std::vector<std::vector<uint32_t>> palettes;
    for (uint32_t f = 0; f < sorted.GetFaceCount(); ++f) {
        std::vector<uint32_t> faceBones;
        for (int c = 0; c < 3; ++c) {
            const uint16_t v = sorted.indices[3 * static_cast<size_t>(f) + static_cast<size_t>(c)];
            if (v >= vertexCount) {
                return fail("face " + std::to_string(f) + " names vertex " + std::to_string(v));
            }
            for (const Influence& i : influences[v]) {
                if (std::find(faceBones.begin(), faceBones.end(), i.bone) == faceBones.end()) {
                    faceBones.push_back(i.bone);
                }
            }
        }
        if (faceBones.size() > paletteSize) {
            return fail("face " + std::to_string(f) + " needs " + std::to_string(faceBones.size()) +
                        " bones, the palette holds " + std::to_string(paletteSize));
        }
        bool fits = !combinations->empty() && combinations->back().attribId == sorted.attributes[f];
        if (fits) {
            std::vector<uint32_t> merged = palettes.back();
            for (uint32_t b : faceBones) {
                if (std::find(merged.begin(), merged.end(), b) == merged.end()) merged.push_back(b);
            }
            fits = merged.size() <= paletteSize;
            if (fits) palettes.back() = merged;
        }
        if (!fits) {
            BoneCombination combo;
            combo.attribId = sorted.attributes[f];
            combo.faceStart = f;
            combinations->push_back(combo);
            palettes.push_back(faceBones);
        }
        ++combinations->back().faceCount;
    }
    // Each combination's vertices: copies of the ones its faces use, with
    // palette slots in place of bone numbers.
    const uint32_t outFvf = kFvfXyzB3 | kFvfLastBetaUByte4 | (mesh.fvf & (0x10u | 0x40u | 0x100u));
    Layout to;
    LayoutOf(outFvf, &to);
    std::vector<uint8_t> outVertices;
    std::vector<uint16_t> outIndices(sorted.indices.size());
    uint32_t outCount = 0;
    for (size_t k = 0; k < combinations->size(); ++k) {
        BoneCombination& combo = (*combinations)[k];
        combo.boneIds.assign(paletteSize, kNoBone);
        std::copy(palettes[k].begin(), palettes[k].end(), combo.boneIds.begin());
        combo.vertexStart = outCount;
        std::vector<int32_t> remap(vertexCount, -1);
        for (uint32_t i = 3 * combo.faceStart; i < 3 * (combo.faceStart + combo.faceCount); ++i) {
            const uint16_t v = sorted.indices[i];
            if (remap[v] < 0) {
                if (outCount >= kMaxMeshVertices) {
                    return fail("more than " + std::to_string(kMaxMeshVertices) + " vertices after the split");
                }
                Canon c;
                int ignored = 0;
                Decode(from, sorted.vertices.data() + static_cast<size_t>(v) * sorted.stride, &c, &ignored);
                std::memset(c.weights, 0, sizeof c.weights);
                std::memset(c.indices, 0, sizeof c.indices);
                const std::vector<Influence>& list = influences[v];
                for (size_t j = 0; j < list.size(); ++j) {
                    const auto slot = std::find(palettes[k].begin(), palettes[k].end(), list[j].bone);
                    c.indices[j] = static_cast<uint8_t>(slot - palettes[k].begin());
                    if (j < 2) c.weights[j] = list[j].weight;
                }
                // A vertex with one bone: weight 1 in the first place.
                if (list.size() == 1) c.weights[0] = 1.0f;
                outVertices.resize(outVertices.size() + to.stride);
                Encode(to, c, 2, outVertices.data() + outVertices.size() - to.stride);
                remap[v] = static_cast<int32_t>(outCount++);
            }
            outIndices[i] = static_cast<uint16_t>(remap[v]);
        }
        combo.vertexCount = outCount - combo.vertexStart;
    }
    if (!out->Create(outFvf, outCount, sorted.GetFaceCount())) {
        return fail("out of memory");
    }
    out->vertices = std::move(outVertices);
    out->indices = std::move(outIndices);
    out->attributes = sorted.attributes;
    out->table = sorted.table;
    return true;
}

// ---------------------------------------------------------------- X files

namespace {

struct Reader {
    const XObject& o;
    size_t at = 0;
    bool ok = true;
    uint32_t U32()
    {
        uint32_t v = 0;
        ok = ok && o.ReadU32(at, &v);
        at += 4;
        return v;
    }
    float F32()
    {
        float v = 0.0f;
        ok = ok && o.ReadF32(at, &v);
        at += 4;
        return v;
    }
    // A count whose elements take at least `each` bytes of what is left.
    uint32_t Count(size_t each)
    {
        const uint32_t n = U32();
        if (ok && (at > o.data.size() || n > (o.data.size() - at) / each)) {
            ok = false;
        }
        return ok ? n : 0;
    }
};

const XObject* Deref(const XFile& file, const XObject& o)
{
    return o.isReference ? file.Resolve(o) : &o;
}

bool ReadMaterial(const XFile& file, const XObject& m, MeshMaterial* out)
{
    Reader r{m};
    for (float& f : out->diffuse) f = r.F32();
    out->power = r.F32();
    for (int i = 0; i < 3; ++i) out->specular[i] = r.F32();
    for (int i = 0; i < 3; ++i) out->emissive[i] = r.F32();
    out->specular[3] = 1.0f;
    out->emissive[3] = 1.0f;
    for (const XObject& child : m.children) {
        const XObject* c = Deref(file, child);
        if (c != nullptr && c->templateName == "TextureFilename") {
            c->ReadString(0, &out->textureFile);
        }
    }
    return r.ok;
}

}  // namespace

bool LoadSkinMesh(const XFile& file, const XObject& object, SkinMeshData* out, std::vector<MeshMaterial>* materials,
                  std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error != nullptr) *error = "mesh: " + why;
        return false;
    };
    if (out == nullptr || materials == nullptr || object.templateName != "Mesh") {
        return fail("not a Mesh data object");
    }
    try {
        Reader r{object};
        const uint32_t positionCount = r.Count(12);
        std::vector<Vec3> positions(positionCount);
        for (Vec3& p : positions) {
            p.x = r.F32();
            p.y = r.F32();
            p.z = r.F32();
        }
        const uint32_t faceCount = r.Count(4);
        std::vector<std::vector<uint32_t>> faces(faceCount);
        for (std::vector<uint32_t>& face : faces) {
            const uint32_t n = r.Count(4);
            face.resize(n);
            for (uint32_t& v : face) {
                v = r.U32();
                if (r.ok && v >= positionCount) {
                    return fail("face names vertex " + std::to_string(v) + " of " + std::to_string(positionCount));
                }
            }
        }
        if (!r.ok) {
            return fail("Mesh data shorter than its counts");
        }
        // Children.
        std::vector<Vec3> normals;
        std::vector<std::vector<uint32_t>> faceNormals;
        std::vector<float> texcoords;
        std::vector<uint32_t> colors;
        std::vector<uint32_t> faceMaterial;
        materials->clear();
        SkinMeshData skin;
        for (const XObject& child : object.children) {
            const XObject* c = Deref(file, child);
            if (c == nullptr) {
                continue;
            }
            Reader cr{*c};
            if (c->templateName == "MeshNormals") {
                normals.resize(cr.Count(12));
                for (Vec3& n : normals) {
                    n.x = cr.F32();
                    n.y = cr.F32();
                    n.z = cr.F32();
                }
                faceNormals.resize(cr.Count(4));
                for (std::vector<uint32_t>& face : faceNormals) {
                    face.resize(cr.Count(4));
                    for (uint32_t& v : face) {
                        v = cr.U32();
                        if (cr.ok && v >= normals.size()) return fail("face names normal " + std::to_string(v));
                    }
                }
            } else if (c->templateName == "MeshTextureCoords") {
                texcoords.resize(2 * static_cast<size_t>(cr.Count(8)));
                for (float& f : texcoords) f = cr.F32();
            } else if (c->templateName == "MeshVertexColors") {
                colors.assign(positionCount, 0xFFFFFFFFu);
                const uint32_t n = cr.Count(20);
                for (uint32_t i = 0; i < n && cr.ok; ++i) {
                    const uint32_t index = cr.U32();
                    float rgba[4];
                    for (float& f : rgba) f = std::max(0.0f, std::min(1.0f, cr.F32()));
                    if (index >= positionCount) return fail("colour of vertex " + std::to_string(index));
                    colors[index] = uint32_t(rgba[3] * 255.0f + 0.5f) << 24 | uint32_t(rgba[0] * 255.0f + 0.5f) << 16 |
                                    uint32_t(rgba[1] * 255.0f + 0.5f) << 8 | uint32_t(rgba[2] * 255.0f + 0.5f);
                }
            } else if (c->templateName == "MeshMaterialList") {
                cr.U32();
                faceMaterial.resize(cr.Count(4));
                for (uint32_t& m : faceMaterial) m = cr.U32();
                for (const XObject& mc : c->children) {
                    const XObject* mo = Deref(file, mc);
                    if (mo != nullptr && mo->templateName == "Material") {
                        MeshMaterial material;
                        if (!ReadMaterial(file, *mo, &material)) return fail("Material data too short");
                        materials->push_back(material);
                    }
                }
            } else if (c->templateName == "SkinWeights") {
                SkinMeshData::Bone bone;
                std::string name;
                if (!c->ReadString(0, &name)) return fail("SkinWeights without a name");
                bone.name = name;
                cr.at = 4;
                const uint32_t n = cr.Count(8);
                bone.vertices.resize(n);
                bone.weights.resize(n);
                for (uint32_t& v : bone.vertices) {
                    v = cr.U32();
                    if (cr.ok && v >= positionCount) return fail("weight on vertex " + std::to_string(v));
                }
                for (float& w : bone.weights) w = cr.F32();
                for (int i = 0; i < 16; ++i) bone.offset.m[i / 4][i % 4] = cr.F32();
                skin.bones.push_back(std::move(bone));
            }
            if (!cr.ok) {
                return fail(c->templateName + " data shorter than its counts");
            }
        }
        for (uint32_t m : faceMaterial) {
            if (m >= materials->size()) {
                return fail("face material " + std::to_string(m) + " of " + std::to_string(materials->size()));
            }
        }
        const bool perCornerNormals = !normals.empty() && faceNormals.size() == faces.size();
        if (!perCornerNormals) {
            faceNormals.clear();
        }
        // Vertices: one per position, split where corners disagree on the
        // normal.
        std::vector<uint32_t> origin(positionCount);
        std::vector<int64_t> normalOf(positionCount, -1);
        for (uint32_t i = 0; i < positionCount; ++i) origin[i] = i;
        std::vector<std::vector<uint32_t>> copiesOf(positionCount);
        std::map<uint64_t, uint32_t> copyOf;
        std::vector<std::vector<uint32_t>> corners(faces.size());
        for (size_t f = 0; f < faces.size(); ++f) {
            corners[f] = faces[f];
            if (!perCornerNormals) {
                if (normals.size() == positionCount) {
                    for (uint32_t v : faces[f]) normalOf[v] = v;
                }
                continue;
            }
            if (faceNormals[f].size() != faces[f].size()) {
                return fail("face " + std::to_string(f) + " has normals for another corner count");
            }
            for (size_t c = 0; c < faces[f].size(); ++c) {
                const uint32_t v = faces[f][c];
                const uint32_t n = faceNormals[f][c];
                if (normalOf[v] < 0 || normalOf[v] == n) {
                    normalOf[v] = n;
                    continue;
                }
                // A copy of this position with this normal, made once.
                uint32_t copy = 0;
                const uint64_t key = uint64_t(v) << 32 | n;
                const auto known = copyOf.find(key);
                if (known != copyOf.end()) {
                    copy = known->second;
                } else {
                    copy = static_cast<uint32_t>(origin.size());
                    origin.push_back(v);
                    normalOf.push_back(n);
                    copiesOf[v].push_back(copy);
                    copyOf[key] = copy;
                }
                corners[f][c] = copy;
            }
        }
        // Counted to the end, so that the reason gives the whole count; the
        // copies are bounded by the corners the file holds.
        if (origin.size() > kMaxMeshVertices) {
            std::string count = std::to_string(origin.size()) + " vertices";
            if (origin.size() != positionCount) {
                count += " (" + std::to_string(positionCount) + " positions, split where their normals differ)";
            }
            return fail(count + ", more than the " + std::to_string(kMaxMeshVertices) +
                        " that 16-bit indices reach");
        }
        size_t triangles = 0;
        for (const std::vector<uint32_t>& face : faces) {
            triangles += face.size() >= 3 ? face.size() - 2 : 0;
        }
        const uint32_t fvf = 0x002u | (normals.empty() ? 0u : 0x10u) | (colors.empty() ? 0u : 0x40u) |
                             (texcoords.empty() ? 0u : 0x100u);
        MeshData& mesh = skin.mesh;
        if (!mesh.Create(fvf, static_cast<uint32_t>(origin.size()), static_cast<uint32_t>(triangles))) {
            return fail("mesh too large");
        }
        Layout l;
        LayoutOf(fvf, &l);
        for (uint32_t i = 0; i < origin.size(); ++i) {
            Canon c;
            const uint32_t p = origin[i];
            std::memcpy(c.position, &positions[p], 12);
            if (normalOf[i] >= 0 && static_cast<size_t>(normalOf[i]) < normals.size()) {
                std::memcpy(c.normal, &normals[static_cast<size_t>(normalOf[i])], 12);
            }
            if (!colors.empty()) c.diffuse = colors[p];
            if (2 * static_cast<size_t>(p) + 1 < texcoords.size()) {
                c.tex[0] = texcoords[2 * static_cast<size_t>(p)];
                c.tex[1] = texcoords[2 * static_cast<size_t>(p) + 1];
            }
            Encode(l, c, 0, mesh.GetVertices() + static_cast<size_t>(i) * l.stride);
        }
        size_t t = 0;
        for (size_t f = 0; f < faces.size(); ++f) {
            // Faces beyond the material list keep its last entry.
            const uint32_t attribute =
                faceMaterial.empty() ? 0 : faceMaterial[std::min(f, faceMaterial.size() - 1)];
            for (size_t k = 1; k + 1 < corners[f].size(); ++k, ++t) {
                mesh.GetIndices()[3 * t] = static_cast<uint16_t>(corners[f][0]);
                mesh.GetIndices()[3 * t + 1] = static_cast<uint16_t>(corners[f][k]);
                mesh.GetIndices()[3 * t + 2] = static_cast<uint16_t>(corners[f][k + 1]);
                mesh.GetAttributes()[t] = attribute;
            }
        }
        // Bone weights follow a position into every copy of it.
        for (SkinMeshData::Bone& bone : skin.bones) {
            std::vector<uint32_t> vertices;
            std::vector<float> weights;
            for (size_t i = 0; i < bone.vertices.size(); ++i) {
                vertices.push_back(bone.vertices[i]);
                weights.push_back(bone.weights[i]);
                for (uint32_t k : copiesOf[bone.vertices[i]]) {
                    vertices.push_back(k);
                    weights.push_back(bone.weights[i]);
                }
            }
            bone.vertices = std::move(vertices);
            bone.weights = std::move(weights);
        }
        *out = std::move(skin);
        return true;
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}

}  // namespace platform
