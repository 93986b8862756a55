#pragma once
// One drawing state of a mesh: the material block whose diffuse colour the
// mesh's vertex shader reads, the textures of stages 0 and 1, the run of the
// mesh's index buffer drawn with it, and per-material render-state and
// texture-stage-state values. Materials live in their mesh's list, not in a
// module list, and go with the mesh. Main thread only.
#include <cstdint>

#include "engine/core/object.h"

class OrvaTexture;

struct OrvaColorValue {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;
};

// Laid out as the device's material record: seventeen floats.
struct OrvaMaterialBlock {
    OrvaColorValue diffuse;
    OrvaColorValue ambient;
    OrvaColorValue specular;
    OrvaColorValue emissive;
    float power = 0.0f;
};
static_assert(sizeof(OrvaMaterialBlock) == 17 * sizeof(float), "the material block is seventeen floats");

class OrvaMaterial : public OrvaObject {
public:
    static constexpr int32_t kStageCount = 2;
    static constexpr int32_t kRenderStateCount = 256;
    static constexpr int32_t kStageStateCount = 256;
    // Render states 0 to 255, then stage 0's states, then stage 1's.
    static constexpr int32_t kStateCount = kRenderStateCount + kStageCount * kStageStateCount;
    static constexpr uint32_t kStateUnset = 0xFFFFFFFFu;

    // Diffuse and ambient white, no faces, no textures, every state unset.
    OrvaMaterial();
    // Releases the textures, stage 0 then stage 1.
    ~OrvaMaterial() override;

    virtual void SetFaceRange(uint32_t firstIndex, uint32_t primitiveCount);
    virtual void SetMaterial(const OrvaMaterialBlock& material);
    // The stored block, for the mesh to upload its diffuse colour.
    virtual const OrvaMaterialBlock* GetMaterialPointer() const;
    virtual void GetMaterial(OrvaMaterialBlock* out) const;
    // Holds a reference to the new texture (null empties the stage) and
    // drops the one held before; a stage other than 0 or 1 is ignored.
    virtual void SetTexture(OrvaTexture* texture, int32_t stage);
    // The stage's texture; null for an empty stage or one other than 0 or 1.
    virtual OrvaTexture* GetTexture(int32_t stage) const;
    virtual uint32_t GetFirstIndex() const;
    // Triangles drawn from the first index; 0 draws nothing.
    virtual uint32_t GetPrimitiveCount() const;

    // The state tables as one run of kStateCount entries; a number outside
    // it is ignored by SetState and reads as kStateUnset.
    void SetState(int32_t number, uint32_t value);
    uint32_t GetState(int32_t number) const;

private:
    OrvaTexture* textures[kStageCount] = {nullptr, nullptr};
    uint32_t states[kStateCount] = {};
    OrvaMaterialBlock material;
    uint32_t firstIndex = 0;
    uint32_t primitiveCount = 0;
};
