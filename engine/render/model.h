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
#include "engine/render/axes.h"
#include "platform/gfx/xfile.h"

class OrvaCamera;
class OrvaFrame;
class OrvaMesh;
class OrvaQuadTreeNode;
class OrvaSurface;
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

class OrvaModel : public OrvaObject, private OrvaAxes {
public:
    // ---- module
    // Empties the model list, lets meshes follow device loss and reset, and
    // installs the module state (no camera, identity reflection, no texture
    // pack, no hits) into meshes and models.
    static bool Initialize();
    // Drops every attachment, releases every model still alive, then the
    // camera; the reflection matrix goes with the module.
    static void Destroy();
    // The model module's state, the same object it gives
    // OrvaMesh::SetModuleState: Render and RenderReflected set its mirror
    // flag. Null (the default): models draw unmirrored. Not copied.
    static void SetModuleState(OrvaMeshModuleState* state);
    static int32_t GetCount();
    // Every model's meshes, in list order, drop or rebuild their device
    // buffers (model_module.cpp).
    static void OnLostDevice();
    static void OnResetDevice();

    // ---- module state (model_module.cpp), read by meshes while they draw
    // and load.
    // Holds a reference to the camera (null: none) and drops the one held
    // before.
    static void SetCamera(OrvaCamera* camera);
    static OrvaCamera* GetCamera();
    // The OAG archive that X-file materials take a texture from when it is
    // not a plain file; at most kTexturePackBytes - 1 bytes are kept, null
    // clears it.
    static constexpr int32_t kTexturePackBytes = 256;
    static void SetTexturePack(const char* packFile);
    static const char* GetTexturePack();
    // The reflection matrix of the mirror plane through p0, p1, p2, and the
    // device's clip planes 0 to 3: clip-space planes through the eye along
    // the mirror's edges (corners in order p0, p1, p3, p2), for the current
    // view x projection, keeping what is seen through the mirror. The
    // caller enables them (RsClipPlaneEnable) for its reflection pass; a
    // device reset puts them back. Nothing before Initialize or after
    // Destroy.
    static void SetMirror(const OrvaVector* p0, const OrvaVector* p1, const OrvaVector* p2, const OrvaVector* p3);
    // The matrix a reflection pass draws through; null outside the
    // module's life.
    static const OrvaMatrix* GetReflectionMatrix();

    // ---- generators (model_module.cpp, model_height_field.cpp). Each
    // returns the new model, also when a later step failed (then empty or
    // partly built); null only when no model can be allocated.
    static OrvaModel* CreateBillboard(float width, float height, OrvaProgress progress);
    // A grid in the XY plane (rows along y) or the XZ plane (rows along z);
    // both counts at least 2.
    static OrvaModel* CreatePlane(float width, float height, int32_t columns, int32_t rows, float uvScale,
                                  OrvaProgress progress);
    static OrvaModel* CreatePlaneXZ(float width, float depth, int32_t columns, int32_t rows, float uvScale,
                                    OrvaProgress progress);
    static OrvaModel* CreateCube(float width, float height, float depth, OrvaProgress progress);
    // stacks: vertex rings from pole to pole, slices: segments about y;
    // both at least 3.
    static OrvaModel* CreateSphere(float radiusX, float radiusY, float radiusZ, int32_t stacks, int32_t slices,
                                   OrvaProgress progress);
    // A square A8R8G8B8 image of meshesPerSide x cells + 1 pixels a side,
    // its red channel the height (0 to heightScale), cut into
    // meshesPerSide x meshesPerSide blocks under a quadtree.
    static OrvaModel* CreateHeightField(OrvaSurface* image, int32_t meshesPerSide, float width, float depth,
                                        float heightScale, int32_t uvRepeat, OrvaProgress progress);
    // From a file, else from the program's "XFILE" resource of that name.
    static OrvaModel* CreateFromX(const char* fileName, OrvaProgress progress);

    // ---- creation: an empty model at the back of the model list, for the
    // generators to fill; null when it cannot be allocated.
    static OrvaModel* Create();

    // Releases the frames, meshes, animations and quadtree nodes, the
    // attached model, then logs the release.
    ~OrvaModel() override;

    // ---- X-file loading: each forwards to OrvaModelLoader over this
    // model's lists. The single-object loaders read objects of `file`; the
    // animation loaders bind to the frames loaded before them, LoadFromXof
    // to every frame of the file.
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
    using OrvaAxes::Yaw;     // RotateY
    using OrvaAxes::Pitch;   // RotateX
    using OrvaAxes::Roll;    // RotateZ
    using OrvaAxes::RotateX;
    using OrvaAxes::RotateY;
    using OrvaAxes::RotateZ;

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

    // ---- height field (model_height_field.cpp). Query points are in the
    // field's own coordinates: the world matrix is not applied.
    // The subtree of node over the size x size blocks from column x, row y;
    // every node is pushed at the back of the quadtree list.
    virtual void BuildQuadTree(OrvaQuadTreeNode* node, int32_t x, int32_t y, int32_t size, OrvaProgress progress);
    // Blocks drawn by the last Render or RenderReflected.
    virtual int32_t GetVisibleMeshCount() const;
    // 1 when the last render drew that block; 0 otherwise, also for a
    // column or row outside the field and for a model that is no field.
    virtual int32_t IsMeshVisible(int32_t column, int32_t row) const;
    // False (nothing written) for a point off the field.
    virtual bool GetBlock(float x, float z, int32_t* column, int32_t* row) const;
    // The surface height at the point and, when normal is not null, its
    // unit normal; 0 (normal untouched) off the field or on a vertical
    // triangle.
    virtual float GetHeight(float x, float z, OrvaVector* normal);

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

    // ---- collision and picking (model_pick.cpp, hit table in model_pick.h)
    // Empties the hit table; the module's Initialize calls it.
    static void ClearHitTable();
    // 1 when mesh meshA of a and mesh meshB of b collide by the kind
    // (OrvaCollisionKind), else 0; 0 for a missing model, an index outside
    // either model's own mesh list or an unknown kind.
    static int32_t CheckCollision(int32_t kind, OrvaModel* a, int32_t meshA, OrvaModel* b, int32_t meshB);
    // Clears the hit table, then records every triangle the world segment
    // from-to crosses, of mesh meshIndex or, for an index outside the list
    // (by convention -1), of every mesh in list order. The attached model's
    // meshes stand in for the model's own. Triangles count from their front
    // only unless twoSided; normals are recorded only when wantNormals.
    // True when any mesh was hit.
    static bool RayPick(OrvaModel* model, int32_t meshIndex, const OrvaVector* from, const OrvaVector* to,
                        int32_t twoSided, int32_t wantNormals);
    // As RayPick for the segment from the screen point (x, y pixels, z
    // depth) to the same pixel at depth 1, through the global camera.
    static bool ScreenPick(OrvaModel* model, int32_t meshIndex, const OrvaVector* screenPoint, int32_t twoSided,
                           int32_t wantNormals);
    // The readers of the last pick. The counts come back also for a null
    // out; an out array holds at least the count. A slot or hit outside
    // the recorded ones gives 0 (false) and leaves the outputs alone.
    static uint32_t GetHitMeshes(uint32_t* out);
    static uint32_t GetHitFaces(int32_t slot, uint32_t* out);
    static bool GetHitPosition(int32_t slot, int32_t hit, OrvaVector* local, OrvaVector* world);
    static bool GetHitNormal(int32_t slot, int32_t hit, OrvaVector* local, OrvaVector* world);
    // The ray from origin along the unit direction against triangle a, b,
    // c seen from the side (b - a) x (c - a) points to: true with the
    // distance t and the barycentric u (towards b) and v (towards c). Rays
    // along the triangle's plane and triangles without area fail, by a
    // limit relative to the triangle's size (platform::RayTriangleMinDeterminant).
    static bool RayTriangle(const OrvaVector& origin, const OrvaVector& direction, const OrvaVector& a,
                            const OrvaVector& b, const OrvaVector& c, float* t, float* u, float* v);

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
    // The module state's start and stop, model_module.cpp.
    static void StartModuleState();
    static void StopModuleState();
    // The list of every live model.
    static OrvaObjectList* GetModelList();

    // The parts the loader works on.
    OrvaModelParts MakeParts();
    // A billboard turns its front toward the eye, keeping its position.
    void FaceEye();
    // Steps shared by Update and UpdateWithMatrix once the world is set.
    void PushDown(float time);
    void Draw(int32_t mirror);
    // One mesh against the world segment into the next free hit slot;
    // true when it recorded hits.
    static bool RayPickMesh(OrvaMesh* mesh, const OrvaVector& from, const OrvaVector& to, int32_t twoSided,
                            int32_t wantNormals);

    OrvaFrame* root = nullptr;   // also in the frame list
    OrvaMatrix world{};
    // front, up, right and position come from OrvaAxes.
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
