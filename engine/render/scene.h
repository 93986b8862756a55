#pragma once
// Key-framed scenes read from OSF files: a camera item and object items
// posed by their channels in a parent hierarchy, and layers of textured,
// vertex-coloured triangles that the items carry. Update poses everything
// at a time in frames and makes the global camera follow the scene's
// camera; Draw then draws the items in view, between the device's begin and
// end of scene. Update and Draw allocate nothing. Main thread only.
#include <cstddef>
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"

class OrvaSceneItem;
class OrvaSceneLayer;
class OrvaTexture;

class OrvaScene : public OrvaObject {
public:
    // The scene module's drawing program when none is made.
    static constexpr uint32_t kNoShader = 0xFFFFFFFFu;
    static constexpr int32_t kNameBytes = 64;

    // ---- module
    // Empties the scene list, makes the scenes' vertex program and registers
    // the device-reset walkers. Always true.
    static bool Initialize();
    // Drops the vertex program and releases every scene.
    static void Destroy();
    // Release / make again every layer's device buffers.
    static void OnLostDevice();
    static void OnResetDevice();
    static int32_t GetCount();
    static uint32_t GetShaderHandle();

    // ---- creation: the scene is returned, in the module's list, also when
    // the file is missing or broken (then empty, or with what was read
    // before the fault); null only when it cannot be allocated.
    // path: an engine file name, from the program's folder; pack: the image
    // archive of the surfaces' textures (null or empty: none).
    static OrvaScene* Load(const char* path, const char* pack);
    // The same from a file's bytes in memory.
    static OrvaScene* LoadFromMemory(const uint8_t* bytes, size_t size, const char* pack);

    // ---- methods
    // Poses every item at time (frames), sets the global camera from the
    // scene's camera and decides which items are in view. The time is taken
    // as given: each channel's behaviours decide what lies outside its keys.
    void Update(float time);
    // Draws the items in view with the scene colour.
    void Draw();
    void RebuildBuffers();
    // Clip distances in world units; recomputes the projection.
    void SetClip(float nearClip, float farClip);
    // Multiplies every vertex colour; alpha first.
    void SetColor(float a, float r, float g, float b);
    int32_t GetFirstFrame() const { return firstFrame; }
    int32_t GetLastFrame() const { return lastFrame; }
    // Frame parameter B of the file.
    int32_t GetFrameParameter() const { return frameParameterB; }
    int32_t GetFrameParameterA() const { return frameParameterA; }
    // The camera item for parentKind 3; otherwise the item at index in file
    // order, null when index is negative or past the end.
    OrvaSceneItem* GetItem(int32_t parentKind, int32_t index) const;
    // The texture of the first entry of that name, else a new entry's
    // texture loaded from the scene's pack.
    OrvaTexture* FindTexture(const char* name);

    int32_t GetItemCount() const { return items.GetCount(); }
    int32_t GetLayerCount() const { return layers.GetCount(); }
    OrvaSceneLayer* GetLayer(int32_t index) const;
    int32_t GetTextureCount() const { return textures.GetCount(); }
    const char* GetName() const { return sceneName; }
    const char* GetPackName() const { return packName; }
    const OrvaMatrix& GetProjection() const { return projection; }
    const OrvaMatrix& GetView() const { return view; }
    float GetNear() const { return nearClip; }
    float GetFar() const { return farClip; }
    float GetAspect() const { return aspect; }
    float GetFovA() const { return fovA; }
    float GetFovB() const { return fovB; }
    const float* GetColor() const { return color; }   // r, g, b, a

    ~OrvaScene() override;

private:
    class Loader;
    OrvaScene();
    static OrvaScene* Create(const char* pack);
    // Builds the scene from a file's bytes and logs how the read ended.
    void Read(const uint8_t* bytes, size_t size);
    // The projection from the lens and clip distances; a lens that gives
    // none (no field of view, no aspect, equal clip distances) keeps the
    // one there is, with a log line.
    void UpdateProjection();
    // Parents by ParentItem and ParentNo, for the camera and every item.
    void LinkParents();

    OrvaObjectList layers;
    OrvaObjectList textures;
    OrvaSceneItem* camera = nullptr;
    OrvaMatrix projection{};
    OrvaMatrix view{};
    OrvaObjectList items;
    int32_t firstFrame = 0;
    int32_t lastFrame = 0;
    int32_t frameParameterB = 0;
    int32_t frameParameterA = 0;
    float fovA = 0.0f;
    float fovB = 0.0f;     // vertical, radians
    float aspect = 0.0f;   // width / height
    char packName[kNameBytes] = {};
    char sceneName[kNameBytes] = {};
    float nearClip = 1.0f;
    float farClip = 10000.0f;
    float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};   // r, g, b, a
};
