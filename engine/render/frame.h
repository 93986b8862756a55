#pragma once
// Frames of a model's hierarchy: a name, the matrix the X file gives the
// frame, the local matrix the last animation step computed and the combined
// matrix to model space, and the animation that drives the frame. Frames
// live in their model's frame list. Main thread only.
#include <cstdint>

#include "engine/core/matrix.h"
#include "engine/core/object.h"

class OrvaAnimation;

class OrvaFrame : public OrvaObject {
public:
    static constexpr int32_t kNameBytes = 256;

    // Matrices identity, no name, no parent, no animation.
    OrvaFrame();
    // Neither the animation nor the parent is touched.
    ~OrvaFrame() override;

    virtual const char* GetName() const;
    virtual OrvaMatrix* GetCombinedMatrix();
    // Clears the whole name, then copies at most kNameBytes - 1 bytes of
    // the text (null reads as empty).
    virtual void SetName(const char* text);
    // 1 when the name equals the text byte for byte, else 0.
    virtual int32_t CompareName(const char* text) const;
    // Stored without a reference: the model's animation list owns it.
    virtual void SetAnimation(OrvaAnimation* driver);

    OrvaAnimation* GetAnimation() const { return animation; }
    OrvaFrame* GetParent() const { return parent; }
    void SetParent(OrvaFrame* frame) { parent = frame; }
    OrvaMatrix* GetTransformMatrix() { return &transform; }
    OrvaMatrix* GetLocalMatrix() { return &local; }

private:
    OrvaFrame* parent = nullptr;
    char name[kNameBytes] = {};
    OrvaMatrix transform{};   // as loaded (FrameTransformMatrix)
    OrvaMatrix combined{};    // local x every ancestor's local
    OrvaMatrix local{};       // of the last animation step
    OrvaAnimation* animation = nullptr;
};
