#pragma once
// Models: the engine's 3D object. A model owns a frame hierarchy, its
// meshes, its animations and, for height fields, a quadtree of mesh blocks,
// and has a placement in the world (three axes, a position and a scale)
// from which Update builds the world matrix and pushes it down to the
// frames and meshes. Drawing uses what the last Update stored.
//
// Models live in the module's model list from Create until Release brings
// their count to 0 or Destroy. Their meshes are OrvaMesh objects, so the
// mesh module's own walkers take them through device loss and reset.
// The operations that reach into the meshes by index (settings, morph
// targets, single-mesh draws, lookup, sharing, picking) are defined in
// model_mesh.cpp. Main thread only: the module's temporaries make the
// operations non-reentrant.
#include <cstdint>
#include <vector>

#include "engine/core/graphics.h"
#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "platform/gfx/xfile.h"

class OrvaFrame;
class OrvaMesh;
class OrvaTexture;
struct OrvaMeshModuleState;
struct OrvaModelParts;

// The height-field layout a height-field generator writes; all zero for
// other models.
struct OrvaHeightField {
    int32_t blocksPerSide = 0;
    int32_t visibleMeshCount = 0;
    int32_t verticesPerBlockSide = 0;
    float blockWidth = 0.0f;    // world units
    float blockDepth = 0.0f;
    float fieldWidth = 0.0f;
    float fieldDepth = 0.0f;
    float cellWidth = 0.0f;     // vertex spacing inside a block
    float cellDepth = 0.0f;
    float heightScale = 0.0f;
    // blocksPerSide x blocksPerSide flags, cleared at every draw.
    std::vector<int32_t> visibleMeshes;
};

class OrvaModel : public OrvaObject {
public:
    // ---- module
    // Empties the model list and lets meshes follow device loss and reset.
    static bool Initialize();
    // Drops every attachment, then releases every model still alive.
    static void Destroy();
    // The model module's state, the same object it gives
    // OrvaMesh::SetModuleState: Render and RenderReflected set its mirror
    // flag. Null (the default): models draw unmirrored. Not copied.
    static void SetModuleState(OrvaMeshModuleState* state);
    static int32_t GetCount();

    // ---- creation: an empty model at the back of the model list, for the
    // generators to fill; null when it cannot be allocated.
    static OrvaModel* Create();

    // Releases the frames, meshes, animations and quadtree nodes, the
    // attached model, then logs the release.
    ~OrvaModel() override;

    // ---- X-file loading: each forwards to OrvaModelLoader over this
    // model's lists. The single-object loaders read objects of `file`.
    virtual void LoadFromXof(const platform::XFile& file, OrvaProgress progress);
    virtual void LoadFrameTransform(const platform::XObject& object, OrvaFrame* frame, OrvaProgress progress);
    virtual void LoadFrame(const platform::XFile& file, const platform::XObject& object, OrvaFrame* parent,
                           OrvaProgress progress);
    virtual void LoadMesh(const platform::XFile& file, const platform::XObject& object, OrvaFrame* parent,
                          OrvaProgress progress);
    virtual void LoadAnimationSet(const platform::XFile& file, const platform::XObject& object,
                                  OrvaProgress progress);
    virtual void LoadAnimation(const platform::XFile& file, const platform::XObject& object, OrvaProgress progress);
    // Every frame's local and combined matrix for the time.
    virtual void Animate(float time);

    // ---- placement and update
    virtual OrvaVector* GetPosition(OrvaVector* out) const;
    // The position through the global view matrix.
    virtual void GetViewPosition(OrvaVector* out) const;
    // The position in viewport pixels (x, y) with its depth (z) and, when
    // outW is not null, the clip w. False, nothing written, for a position
    // behind the eye or outside the depth range.
    virtual bool GetScreenPosition(OrvaVector* out, float* outW) const;
    // Axes, position and scale back to their construction values; the
    // world matrix stays until the next update.
    virtual void Reset();
    // world = m (the placement is not used), then as Update at time 0.
    virtual void UpdateWithMatrix(const OrvaMatrix& m);
    // world = scale x (axes and position), frames animated for the time,
    // the attached model moved along, every mesh's world matrix and box.
    virtual void Update(float time);

    // ---- turning about the model's own axes (OrvaAngle, low 16 bits)
    virtual void Yaw(int32_t angle);     // RotateY
    virtual void Pitch(int32_t angle);   // RotateX
    virtual void Roll(int32_t angle);    // RotateZ
    virtual void RotateX(int32_t angle);
    virtual void RotateY(int32_t angle);
    virtual void RotateZ(int32_t angle);

    // ---- placement setters: they change the placement only; call Update.
    virtual void SetPosition(float x, float y, float z);
    virtual void SetScale(float x, float y, float z);
    // Front toward the target, position at the eye; up may be null for +Y.
    virtual void LookAt(const OrvaVector* eye, const OrvaVector* target, const OrvaVector* up);
    // Copied as they are, nothing normalised; a null argument changes
    // nothing.
    virtual void SetAxes(const OrvaVector* front, const OrvaVector* up, const OrvaVector* right);
    // Replace one axis and rebuild the other two from it.
    virtual void SetFront(const OrvaVector* v);
    virtual void SetRight(const OrvaVector* v);
    virtual void SetUp(const OrvaVector* v);
    // Axes from rows 1 to 3, position from row 4; scale untouched.
    virtual void SetMatrix(const OrvaMatrix& m);
    // Axes from the rotation of (x, y, z, w); position and scale untouched.
    virtual void SetQuaternion(const float* q);

    // ---- angles of the front (and right and up) axes, 0 to 65535
    virtual int32_t GetPitch() const;
    virtual int32_t GetYaw() const;
    virtual int32_t GetRoll() const;

    virtual OrvaVector* GetFront(OrvaVector* out) const;
    virtual OrvaVector* GetRight(OrvaVector* out) const;
    virtual OrvaVector* GetUp(OrvaVector* out) const;

    // ---- drawing
    virtual int32_t GetMeshCount() const;
    // Every shown mesh that the view does not reject, unmirrored, or
    // mirrored through the model module's matrix for a reflection pass.
    virtual void Render();
    virtual void RenderReflected();
    // Every mesh's world box in one colour (ARGB); nothing for a height
    // field.
    virtual void DrawBoxes(uint32_t color);

    // ---- mesh settings (model_mesh.cpp). meshIndex (and materialIndex)
    // inside the list addresses that one; any other value, by convention
    // -1, addresses every one in list order.
    virtual const char* SetMorphTarget(int32_t meshIndex, OrvaModel* target, int32_t targetIndex);
    virtual void SetMorphWeight(float weight, int32_t meshIndex);
    virtual void SetTexture(int32_t stage, OrvaTexture* texture, int32_t meshIndex, int32_t materialIndex);
    virtual void SetCulling(int32_t flag, int32_t meshIndex);
    virtual void SetStealthScale(float value, int32_t meshIndex);
    virtual void SetInflate(float value, int32_t meshIndex);
    virtual void SetTextureScrollU(float value, int32_t meshIndex);
    virtual void SetTextureScrollV(float value, int32_t meshIndex);
    // The three selectors act from the mesh's next RebuildShader.
    virtual void SetColorMode(uint32_t selector, int32_t meshIndex);
    virtual void SetTextureMode(uint32_t selector, int32_t meshIndex);
    virtual void SetFogMode(uint32_t selector, int32_t meshIndex);
    virtual void RebuildShader(int32_t meshIndex);
    // Vertex colours from the lights for the current world matrix.
    virtual void BakeLighting(int32_t meshIndex);
    virtual void SetDiffuse(float a, float r, float g, float b, int32_t meshIndex);
    virtual void SetVisible(int32_t flag, int32_t meshIndex);
    virtual void SetRenderState(uint32_t state, uint32_t value, int32_t meshIndex, int32_t materialIndex);
    virtual void SetVertexShaderConstant(int32_t reg, int32_t enable, const float* vector, int32_t meshIndex);
    virtual void SetPixelShaderConstant(int32_t reg, int32_t enable, const float* vector, int32_t meshIndex);

    // ---- picking: the index of the first mesh whose world box the segment
    // from the screen point (x, y pixels, z depth) to depth 1 crosses, or -1.
    virtual int32_t PickMesh(float x, float y, float z);

    // ---- sharing
    // Every mesh drops its materials and device buffers and is hidden;
    // false (nothing done) on every call after the first.
    virtual bool ReleaseMeshBuffers();
    // Holds other (which must have released its mesh buffers) and moves it
    // along at every update; false, the old attachment kept, otherwise.
    virtual bool Attach(OrvaModel* other);

    // ---- single meshes with a given matrix; false (nothing done) for an
    // index outside the list.
    virtual bool GetMeshMatrix(int32_t meshIndex, OrvaMatrix* out);
    virtual bool DrawMeshWithMatrix(int32_t meshIndex, const OrvaMatrix& m);
    // With the world matrix of other's mesh at otherIndex.
    virtual bool DrawMeshWithMeshMatrix(int32_t meshIndex, OrvaModel* other, int32_t otherIndex);
    // With the loaded matrix (not the combined one) of other's frame.
    virtual bool DrawMeshWithFrameMatrix(int32_t meshIndex, OrvaModel* other, int32_t frameIndex);

    // ---- lookup: the first index whose name equals the text byte for
    // byte, else -1.
    virtual int32_t FindFrame(const char* name);
    virtual int32_t FindMesh(const char* name);

    // The local matrix of the frame at frameIndex for the time, into out;
    // false (out untouched) for an index outside the list.
    virtual bool GetFrameMatrix(OrvaMatrix* out, int32_t frameIndex, float time);

    // ---- for the generators and the model's neighbours
    // A new frame of that name at the front of the frame list, made the
    // root; null when it cannot be allocated or a root exists.
    OrvaFrame* CreateRootFrame(const char* name);
    OrvaFrame* GetRootFrame() const { return root; }
    OrvaObjectList* GetFrames() { return &frames; }
    OrvaObjectList* GetMeshes() { return &meshes; }
    OrvaObjectList* GetAnimations() { return &animations; }
    OrvaObjectList* GetQuadTree() { return &quadTree; }
    OrvaMesh* GetMesh(int32_t meshIndex) const;
    OrvaFrame* GetFrame(int32_t frameIndex) const;
    OrvaMatrix* GetWorldMatrix() { return &world; }
    const OrvaVector& GetScale() const { return scale; }
    void SetBillboard(int32_t on) { billboard = on; }
    int32_t GetBillboard() const { return billboard; }
    OrvaHeightField* GetHeightField() { return &heightField; }
    bool AreMeshBuffersReleased() const { return buffersReleased != 0; }
    OrvaModel* GetAttached() const { return attached; }

protected:
    OrvaModel();

private:
    // The parts the loader works on.
    OrvaModelParts MakeParts();
    // A billboard turns its front toward the eye, keeping its position.
    void FaceEye();
    // Steps shared by Update and UpdateWithMatrix once the world is set.
    void PushDown(float time);
    void Draw(int32_t mirror);

    OrvaFrame* root = nullptr;   // also in the frame list
    OrvaMatrix world{};
    OrvaVector front{0.0f, 0.0f, 1.0f};
    OrvaVector up{0.0f, 1.0f, 0.0f};
    OrvaVector right{1.0f, 0.0f, 0.0f};
    OrvaVector position{0.0f, 0.0f, 0.0f};
    OrvaVector scale{1.0f, 1.0f, 1.0f};
    OrvaObjectList frames;       // OrvaFrame, root first, then load order
    OrvaObjectList meshes;       // OrvaMesh and SkinnedMesh
    OrvaObjectList animations;   // OrvaAnimation
    OrvaObjectList quadTree;     // quadtree nodes, the root node first
    int32_t billboard = 0;       // nonzero: face the eye at every update
    OrvaHeightField heightField;
    int32_t buffersReleased = 0;
    OrvaModel* attached = nullptr;   // held with a reference
};
