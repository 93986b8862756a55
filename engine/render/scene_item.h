#pragma once
// An item of a scene: the camera or an object, posed at a time from nine
// key-frame channels (position x, y, z; heading, pitch, bank in OrvaAngle
// units; scale x, y, z), placed in the frame of its parent and, when it
// carries a layer, tested against the view frustum. Main thread only.
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"
#include "engine/core/vector.h"
#include "engine/render/osf.h"
#include "engine/render/scene_channel.h"

class OrvaSceneLayer;

class OrvaSceneItem : public OrvaObject {
public:
    static constexpr int32_t kChannels = 9;
    // Channels in file order.
    enum Channel : int32_t {
        kPositionX = 0,
        kPositionY = 1,
        kPositionZ = 2,
        kHeading = 3,   // about y
        kPitch = 4,     // about x
        kBank = 5,      // about z
        kScaleX = 6,
        kScaleY = 7,
        kScaleZ = 8,
    };
    // Current values, in this order.
    enum Value : int32_t {
        kValuePositionX = 0,
        kValuePositionY = 1,
        kValuePositionZ = 2,
        kValuePitch = 3,
        kValueHeading = 4,
        kValueBank = 5,
        kValueScaleX = 6,
        kValueScaleY = 7,
        kValueScaleZ = 8,
    };
    // The parent kind that names the camera item.
    static constexpr int32_t kParentCamera = 3;

    OrvaSceneItem();
    ~OrvaSceneItem() override;

    // The channels at a time, with defaults 0 (position, angles) and 1
    // (scale) where a channel has no keys.
    void GetPosition(float time, float* x, float* y, float* z) const;
    void GetRotation(float time, float* pitch, float* heading, float* bank) const;
    void GetScale(float time, float* x, float* y, float* z) const;

    // Kind, name, the four kept values, ParentItem and ParentNo.
    void SetRecord(const OsfItemRecord& record);
    void SetLayer(OrvaSceneLayer* itemLayer) { layer = itemLayer; }
    // Makes parent the item's parent; false, and no parent, when that would
    // make the item its own ancestor.
    bool SetParent(OrvaSceneItem* newParent);

    // Current values and the local matrix at a time: scale (1 for the
    // camera), then bank, pitch, heading (each truncated to an integer
    // OrvaAngle), then the position.
    void Pose(float time, bool camera);
    // The view matrix of a camera posed by Pose: the inverse turns and moves
    // of the item and its ancestors (scale is not undone).
    void ComputeView(OrvaMatrix* out) const;
    // world = local x local of the parent x ... up the chain.
    void ComputeWorld();
    // Box corners and planes from the layer's box through the world matrix,
    // then whether they touch the view frustum; never visible without a
    // layer.
    void ComputeVisibility();
    void SetWorld(const OrvaMatrix& m) { world = m; }

    // A value by OrvaAngle truncation: toward zero, low 16 bits kept for any
    // size; non-numbers give 0.
    static int32_t ToAngle(float value);

    OrvaSceneChannel* GetChannel(int32_t channel);
    const OrvaSceneChannel* GetChannel(int32_t channel) const;
    const OrvaMatrix& GetLocal() const { return local; }
    const OrvaMatrix& GetWorld() const { return world; }
    OrvaSceneLayer* GetLayer() const { return layer; }
    int32_t IsVisible() const { return visible; }
    int32_t GetKind() const { return kind; }
    const char* GetName() const { return name; }
    int32_t GetKept(int32_t index) const { return index >= 0 && index < 4 ? kept[index] : 0; }
    int32_t GetParentItem() const { return parentItem; }
    int32_t GetParentNo() const { return parentNo; }
    OrvaSceneItem* GetParent() const { return parent; }
    float GetValue(int32_t value) const { return value >= 0 && value < kChannels ? values[value] : 0.0f; }
    const OrvaVector* GetCorners() const { return corners; }

private:
    OrvaMatrix local{};
    OrvaMatrix world{};   // for the camera item: the view matrix
    OrvaSceneLayer* layer = nullptr;
    int32_t visible = 0;
    int32_t kind = 1;
    char name[64] = {};
    int32_t kept[4] = {};
    int32_t parentItem = 0;
    int32_t parentNo = 0;
    OrvaSceneItem* parent = nullptr;
    OrvaVector corners[8];     // world space
    float planes[6][4] = {};   // world space
    float values[kChannels] = {};
    OrvaSceneChannel channels[kChannels] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
                                            {0, 0}, {0, 0}, {0, 0}, {0, 0}};
};
