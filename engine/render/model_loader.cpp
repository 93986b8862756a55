#include "engine/render/model_loader.h"

#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/core/debug.h"
#include "engine/render/animation.h"
#include "engine/render/frame.h"
#include "engine/render/mesh.h"
#include "engine/render/skinned_mesh.h"
#include "platform/gfx/skin_mesh.h"

static void Progress(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

// Object names are read into a buffer of this many bytes, cut to fit.
static constexpr size_t kNameBuffer = 256;

static void ReadName(const platform::XObject& object, char* buffer)
{
    std::memset(buffer, 0, kNameBuffer);
    if (!object.name.empty()) {
        std::strncpy(buffer, object.name.c_str(), kNameBuffer - 1);
    }
}

void OrvaModelLoader::LoadFromXof(const platform::XFile& xfile, OrvaProgress progress)
{
    file = &xfile;
    for (const platform::XObject& object : xfile.GetObjects()) {
        Progress(progress);
        if (object.isReference || object.templateName.empty()) {
            continue;
        }
        Progress(progress);
        if (object.templateName == "Frame") {
            LoadFrame(object, parts.root, nullptr);
        } else if (object.templateName == "Mesh") {
            LoadMesh(object, parts.root, nullptr);
        } else if (object.templateName == "AnimationSet") {
            LoadAnimationSet(object, nullptr);
        }
        Progress(progress);
    }
    // Only now: the format does not order them, and exporters write an
    // AnimationSet before the frames it drives as often as after.
    BindAnimations();
    int32_t meshCount = 0;
    uint64_t bytes = parts.modelBytes;
    if (parts.meshes != nullptr) {
        for (OrvaObject* o = parts.meshes->GetHead(); o != nullptr; o = o->GetNext()) {
            static_cast<OrvaMesh*>(o)->BindFrames(parts.frames);
        }
    }
    Progress(progress);
    const int32_t frameCount = parts.frames != nullptr ? parts.frames->GetCount() : 0;
    bytes += static_cast<uint64_t>(frameCount) * sizeof(OrvaFrame);
    if (parts.meshes != nullptr) {
        for (OrvaObject* o = parts.meshes->GetHead(); o != nullptr; o = o->GetNext()) {
            bytes += static_cast<OrvaMesh*>(o)->GetMemorySize();
            ++meshCount;
        }
    }
    Progress(progress);
    OrvaDebug::Log("} Frame %d / Mesh %d / %8.3lf KByteUse / Complete!\n", frameCount, meshCount,
                   static_cast<double>(bytes) / 1024.0);
    file = nullptr;
}

void OrvaModelLoader::LoadFrameTransform(const platform::XObject& object, OrvaFrame* frame, OrvaProgress progress)
{
    float values[16];
    for (int i = 0; i < 16; ++i) {
        if (!object.ReadF32(static_cast<size_t>(i) * 4, &values[i])) {
            return;
        }
    }
    if (frame != nullptr) {
        frame->GetTransformMatrix()->Set(values);
    }
    Progress(progress);
}

// A new frame at the back of the list, named after the object; null when
// it cannot be allocated.
static OrvaFrame* NewFrame(OrvaObjectList* frames, const platform::XObject& object, OrvaFrame* parent)
{
    char name[kNameBuffer];
    ReadName(object, name);
    OrvaFrame* frame = new (std::nothrow) OrvaFrame();
    if (frame == nullptr) {
        return nullptr;
    }
    frames->PushBack(frame);
    frame->SetParent(parent);
    frame->SetName(name);
    return frame;
}

void OrvaModelLoader::LoadFrame(const platform::XObject& object, OrvaFrame* parent, OrvaProgress progress)
{
    if (parts.frames == nullptr) {
        return;
    }
    OrvaFrame* top = NewFrame(parts.frames, object, parent);
    if (top == nullptr) {
        return;
    }
    Progress(progress);
    // The frames being read, each with the next child to look at, innermost
    // last: a skeleton as deep as the reader allows is loaded without
    // recursion. The list still gets every frame before its children, and
    // children in file order.
    struct Open {
        const platform::XObject* object;
        OrvaFrame* frame;
        size_t next;
    };
    std::vector<Open> open;
    try {
        open.push_back({&object, top, 0});
        while (!open.empty()) {
            Open& current = open.back();
            if (current.next >= current.object->children.size()) {
                open.pop_back();
                continue;
            }
            const platform::XObject& child = current.object->children[current.next++];
            OrvaFrame* frame = current.frame;
            Progress(progress);
            if (child.isReference) {
                continue;
            }
            Progress(progress);
            Progress(progress);
            if (child.templateName == "FrameTransformMatrix") {
                LoadFrameTransform(child, frame, progress);
            } else if (child.templateName == "Frame") {
                OrvaFrame* inner = NewFrame(parts.frames, child, frame);
                if (inner != nullptr) {
                    Progress(progress);
                    open.push_back({&child, inner, 0});
                }
                continue;
            } else if (child.templateName == "Mesh") {
                LoadMesh(child, frame, progress);
            }
            Progress(progress);
        }
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("ERROR : フレームの読み込みに失敗 [%s]\n", top->GetName());
    }
}

// Says which mesh the model goes without and why. The frame is named too:
// exporters leave many meshes unnamed, and their frame is then all that
// tells them apart.
static void LogLeftOut(const char* name, const OrvaFrame* frame, const std::string& why)
{
    OrvaDebug::Log("    Error : メッシュ [%s] (フレーム [%s]) を外しました : %s\n", name,
                   frame != nullptr ? frame->GetName() : "", why.c_str());
}

void OrvaModelLoader::LoadMesh(const platform::XObject& object, OrvaFrame* parent, OrvaProgress progress)
{
    if (parts.meshes == nullptr || file == nullptr) {
        return;
    }
    char name[kNameBuffer];
    ReadName(object, name);
    Progress(progress);
    platform::SkinMeshData skin;
    std::vector<platform::MeshMaterial> materials;
    std::string why;
    if (!platform::LoadSkinMesh(*file, object, &skin, &materials, &why)) {
        OrvaDebug::Log("    Error : メッシュ [%s] の読み込みに失敗\n", name);
        LogLeftOut(name, parent, why);
        return;
    }
    // A mesh the file leaves without materials is still drawn: one white
    // material without a texture covers its faces (all of attribute 0).
    // Drawing goes material by material, so with none it would not show.
    if (materials.empty()) {
        platform::MeshMaterial white;
        for (int c = 0; c < 4; ++c) {
            white.diffuse[c] = 1.0f;
        }
        white.specular[3] = 1.0f;
        white.emissive[3] = 1.0f;
        materials.push_back(white);
    }
    Progress(progress);
    OrvaMesh* mesh = nullptr;
    if (skin.GetBoneCount() >= 1) {
        SkinnedMesh* skinned = new (std::nothrow) SkinnedMesh();
        if (skinned != nullptr) {
            std::vector<std::string> names;
            std::vector<OrvaMatrix> offsets;
            for (const platform::SkinMeshData::Bone& bone : skin.GetBones()) {
                names.push_back(bone.name);
                OrvaMatrix offset;
                offset = bone.offset;
                offsets.push_back(offset);
            }
            skinned->SetBones(names, offsets);
            OrvaDebug::Log("    SkinnedMesh [%d BONE]\n", static_cast<int32_t>(skin.GetBoneCount()));
        }
        mesh = skinned;
    } else {
        mesh = new (std::nothrow) OrvaMesh();
    }
    if (mesh == nullptr) {
        return;
    }
    Progress(progress);
    parts.meshes->PushBack(mesh);
    mesh->SetName(name);
    mesh->SetFrame(parent);
    mesh->LoadMaterials(static_cast<uint32_t>(materials.size()), materials.data(), progress);
    Progress(progress);
    platform::MeshData prepared;
    // A mesh that cannot be prepared stays in the list, empty: there is no
    // mesh to build it from.
    if (mesh->PrepareFromSkinMesh(&skin, &prepared, progress) == 0) {
        LogLeftOut(name, parent, "its vertices could not be prepared for drawing (see the line above)");
        return;
    }
    Progress(progress);
    mesh->SetVertexSize(OrvaMesh::GetKindVertexSize(mesh->GetVertexKind()));
    mesh->SetVertexCount(static_cast<int32_t>(prepared.GetVertexCount()));
    mesh->SetIndexCount(static_cast<int32_t>(prepared.GetFaceCount() * 3));
    mesh->BuildFromMesh(&prepared, progress);
    Progress(progress);
    const float* lo = mesh->GetBoxMin();
    const float* hi = mesh->GetBoxMax();
    OrvaDebug::Log("\tMesh { Vertex %d, Index %d, (%8.3lf,%8.3lf,%8.3lf)-(%8.3lf,%8.3lf,%8.3lf), %.3lfKB}\n",
                   mesh->GetVertexCount(), mesh->GetIndexCount(), static_cast<double>(lo[0]),
                   static_cast<double>(lo[1]), static_cast<double>(lo[2]), static_cast<double>(hi[0]),
                   static_cast<double>(hi[1]), static_cast<double>(hi[2]),
                   static_cast<double>(mesh->GetMemorySize()) / 1024.0);
}

void OrvaModelLoader::LoadAnimationSet(const platform::XObject& object, OrvaProgress progress)
{
    char name[kNameBuffer];
    ReadName(object, name);
    for (const platform::XObject& child : object.children) {
        Progress(progress);
        if (!child.isReference) {
            Progress(progress);
            if (child.templateName == "Animation") {
                LoadAnimation(child, nullptr);
            }
        }
        Progress(progress);
    }
}

// Values each key of a kind needs: rotation w, x, y, z; scale and position
// x, y, z; a matrix's sixteen.
static uint32_t ValuesOfKind(uint32_t type)
{
    switch (type) {
    case 0: return 4;
    case 1:
    case 2: return 3;
    case 4: return 16;
    default: return 0;
    }
}

// Reads the keys of an AnimationKey into the animation. Each key is walked
// by the value count it states, so a key with more values than its kind
// needs does not shift the ones after it; a key with fewer refuses the set.
static void ReadKeys(const platform::XObject& key, OrvaAnimation* animation)
{
    uint32_t type = 0;
    uint32_t count = 0;
    if (!key.ReadU32(0, &type) || !key.ReadU32(4, &count)) {
        return;
    }
    const uint32_t need = ValuesOfKind(type);
    if (need == 0) {
        return;
    }
    // Each key takes its time, its value count and its values.
    if (count > (key.data.size() - 8) / (8 + 4 * size_t(need))) {
        OrvaDebug::Log("    Error : アニメーションキーの読み込みに失敗 [Type %u / %u Key]\n", type, count);
        return;
    }
    std::vector<int32_t> times(count);
    std::vector<float> values(static_cast<size_t>(count) * need);
    size_t at = 8;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t time = 0;
        uint32_t stated = 0;
        if (!key.ReadU32(at, &time) || !key.ReadU32(at + 4, &stated) || stated < need ||
            stated > (key.data.size() - at - 8) / 4) {
            OrvaDebug::Log("    Error : アニメーションキーの読み込みに失敗 [Type %u / %u Key]\n", type, count);
            return;
        }
        times[k] = static_cast<int32_t>(time);
        for (uint32_t v = 0; v < need; ++v) {
            key.ReadF32(at + 8 + 4 * size_t(v), &values[size_t(k) * need + v]);
        }
        at += 8 + 4 * size_t(stated);
    }
    if (type == 0) {
        std::vector<OrvaRotationKey> keys(count);
        for (uint32_t k = 0; k < count; ++k) {
            const float* q = &values[size_t(k) * 4];
            keys[k] = {times[k], q[1], q[2], q[3], q[0]};
        }
        animation->SetRotationKeys(keys.data(), count);
    } else if (type == 1 || type == 2) {
        std::vector<OrvaVectorKey> keys(count);
        for (uint32_t k = 0; k < count; ++k) {
            const float* p = &values[size_t(k) * 3];
            keys[k] = {times[k], p[0], p[1], p[2]};
        }
        if (type == 1) {
            animation->SetScaleKeys(keys.data(), count);
        } else {
            animation->SetPositionKeys(keys.data(), count);
        }
    } else {
        std::vector<OrvaMatrixKey> keys(count);
        for (uint32_t k = 0; k < count; ++k) {
            keys[k].time = times[k];
            keys[k].matrix.Set(&values[size_t(k) * 16]);
        }
        animation->SetMatrixKeys(keys.data(), count);
    }
}

void OrvaModelLoader::LoadAnimation(const platform::XObject& object, OrvaProgress progress)
{
    if (parts.animations == nullptr) {
        return;
    }
    OrvaAnimation* animation = new (std::nothrow) OrvaAnimation();
    if (animation == nullptr) {
        return;
    }
    parts.animations->PushBack(animation);
    for (const platform::XObject& child : object.children) {
        if (child.isReference) {
            Progress(progress);
            const platform::XObject* target = file != nullptr ? file->Resolve(child) : nullptr;
            if (target != nullptr) {
                Progress(progress);
                if (target->templateName == "Frame" && !target->name.empty()) {
                    Progress(progress);
                    animation->SetName(target->name.c_str());
                    try {
                        bindings.push_back({animation, animation->GetName()});
                    } catch (const std::bad_alloc&) {
                        OrvaDebug::Log("ERROR : アニメーションの読み込みに失敗 [%s]\n", animation->GetName());
                    }
                    Progress(progress);
                }
            }
            Progress(progress);
            continue;
        }
        Progress(progress);
        if (child.templateName == "AnimationKey") {
            ReadKeys(child, animation);
            Progress(progress);
        }
        Progress(progress);
    }
}

void OrvaModelLoader::BindAnimations()
{
    if (parts.frames != nullptr && !bindings.empty()) {
        // The frames by name, looked up once each: a file of many frames and
        // many animations binds in time linear in both.
        try {
            std::unordered_map<std::string, std::vector<OrvaFrame*>> named;
            for (OrvaObject* o = parts.frames->GetHead(); o != nullptr; o = o->GetNext()) {
                OrvaFrame* frame = static_cast<OrvaFrame*>(o);
                named[frame->GetName()].push_back(frame);
            }
            for (const Binding& binding : bindings) {
                const auto found = named.find(binding.frameName);
                if (found == named.end()) {
                    continue;
                }
                for (OrvaFrame* frame : found->second) {
                    frame->SetAnimation(binding.animation);
                }
            }
        } catch (const std::bad_alloc&) {
            OrvaDebug::Log("ERROR : アニメーションの読み込みに失敗 [%u Animation]\n",
                           static_cast<uint32_t>(bindings.size()));
        }
    }
    bindings.clear();
}

// ---------------------------------------------------------------- animation

static void LocalMatrix(OrvaFrame* frame, float time, OrvaMatrix* out)
{
    OrvaAnimation* animation = frame->GetAnimation();
    if (animation == nullptr) {
        *out = *frame->GetTransformMatrix();
        return;
    }
    if (animation->GetMatrixKeyCount() > 0) {
        *out = *animation->EvaluateMatrix(time);
        return;
    }
    out->Identity();
    if (animation->GetScaleKeyCount() > 0) {
        out->Multiply(*animation->EvaluateScale(time));
    }
    if (animation->GetRotationKeyCount() > 0) {
        out->Multiply(*animation->EvaluateRotation(time));
    }
    if (animation->GetPositionKeyCount() > 0) {
        out->Multiply(*animation->EvaluatePosition(time));
        return;
    }
    // Without position keys the frame keeps its loaded place.
    const OrvaMatrix* t = frame->GetTransformMatrix();
    for (int32_t c = 1; c <= 3; ++c) {
        out->SetElement(4, c, out->GetElement(4, c) + t->GetElement(4, c));
    }
}

void OrvaModelLoader::Animate(OrvaObjectList* frames, float time)
{
    if (frames == nullptr) {
        return;
    }
    for (OrvaObject* o = frames->GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaFrame* frame = static_cast<OrvaFrame*>(o);
        LocalMatrix(frame, time, frame->GetLocalMatrix());
    }
    const int32_t limit = frames->GetCount();
    for (OrvaObject* o = frames->GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaFrame* frame = static_cast<OrvaFrame*>(o);
        OrvaMatrix* combined = frame->GetCombinedMatrix();
        combined->Identity();
        // A parent chain longer than the list would be a loop: stop there.
        int32_t steps = 0;
        for (OrvaFrame* g = frame; g != nullptr && steps <= limit; g = g->GetParent(), ++steps) {
            combined->Multiply(*g->GetLocalMatrix());
        }
    }
}

bool OrvaModelLoader::GetFrameMatrix(OrvaObjectList* frames, OrvaMatrix* out, int32_t frameIndex, float time)
{
    if (frames == nullptr || out == nullptr) {
        return false;
    }
    OrvaFrame* frame = static_cast<OrvaFrame*>(frames->GetAt(frameIndex));
    if (frame == nullptr) {
        return false;
    }
    LocalMatrix(frame, time, out);
    return true;
}
