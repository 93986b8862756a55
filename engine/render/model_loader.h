#pragma once
// What a model does with an X file and with time: its loaders make frames,
// meshes and animations from the file's data objects, and its animation
// step computes every frame's local and combined matrix for one time.
//
// The model owns the three lists and the root frame; it hands them over as
// OrvaModelParts and calls these operations from its own (the X-file
// generator calls LoadFromXof once; the model's update calls Animate).
// Main thread only; between its calls a loader keeps nothing but the
// animations that wait to be bound.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/graphics.h"
#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "platform/gfx/xfile.h"

class OrvaAnimation;
class OrvaFrame;

struct OrvaModelParts {
    OrvaObjectList* frames = nullptr;       // OrvaFrame, depth first, parents first
    OrvaObjectList* meshes = nullptr;       // OrvaMesh and SkinnedMesh
    OrvaObjectList* animations = nullptr;   // OrvaAnimation
    OrvaFrame* root = nullptr;              // parent of the file's top-level frames and meshes
    uint32_t modelBytes = 0;                // the model object's own size, for the memory estimate
};

class OrvaModelLoader {
public:
    explicit OrvaModelLoader(const OrvaModelParts& modelParts) : parts(modelParts) {}

    // Every top-level Frame, Mesh and AnimationSet of the file, then the
    // animations and the skinned meshes' bones bound to frames by name,
    // then the summary line.
    void LoadFromXof(const platform::XFile& file, OrvaProgress progress);
    // The sixteen floats of a FrameTransformMatrix into the frame's matrix.
    void LoadFrameTransform(const platform::XObject& object, OrvaFrame* frame, OrvaProgress progress);
    // A new frame at the back of the list and its children in file order.
    void LoadFrame(const platform::XObject& object, OrvaFrame* parent, OrvaProgress progress);
    // A new mesh (skinned when the mesh has bones) at the back of the list;
    // a mesh that cannot be read is logged and skipped.
    void LoadMesh(const platform::XObject& object, OrvaFrame* parent, OrvaProgress progress);
    void LoadAnimationSet(const platform::XObject& object, OrvaProgress progress);
    // A new animation with the keys of its AnimationKey children, named
    // after the frame its Frame reference gives; BindAnimations binds it.
    void LoadAnimation(const platform::XObject& object, OrvaProgress progress);
    // Every animation loaded by this loader, in load order, drives every
    // frame of the list whose name its reference gave: a frame named by
    // two animations keeps the later one.
    void BindAnimations();
    // The file whose objects the single-object loaders above read (meshes
    // and references need it); LoadFromXof sets it itself.
    void SetFile(const platform::XFile* source) { file = source; }

    // Every frame's local matrix for the time, then every combined matrix
    // (local x parent's local x ... x root's local). Allocates nothing.
    static void Animate(OrvaObjectList* frames, float time);
    // The local matrix of the frame at frameIndex for the time, into out;
    // the frame is not changed. False (out untouched) for an index outside
    // the list.
    static bool GetFrameMatrix(OrvaObjectList* frames, OrvaMatrix* out, int32_t frameIndex, float time);

private:
    // An animation and the name of a frame it drives.
    struct Binding {
        OrvaAnimation* animation;
        std::string frameName;
    };

    OrvaModelParts parts;
    const platform::XFile* file = nullptr;   // the file being read, for references
    std::vector<Binding> bindings;           // in load order, until BindAnimations
};
