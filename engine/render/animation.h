#pragma once
// Animation keys of one frame: rotation, scale, position and matrix keys,
// each kind sorted by time, and the evaluation of each kind at a time.
// Times are the X file's units, compared as signed 32-bit integers; before
// the first key a kind holds its first key, after the last its last. Each
// Evaluate operation returns a matrix that belongs to the operation and is
// overwritten by its next call (not reentrant). Main thread only.
#include <cstdint>
#include <vector>

#include "engine/core/matrix.h"
#include "engine/core/object.h"

struct OrvaRotationKey {
    int32_t time = 0;
    float x = 0.0f;   // quaternion, used conjugated
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;
};

struct OrvaVectorKey {
    int32_t time = 0;
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct OrvaMatrixKey {
    int32_t time = 0;
    OrvaMatrix matrix{};
};

class OrvaAnimation : public OrvaObject {
public:
    static constexpr int32_t kNameBytes = 256;

    OrvaAnimation() = default;
    ~OrvaAnimation() override;

    // The key of the matrix in force at the time (no blending).
    virtual OrvaMatrix* EvaluateMatrix(float time);
    // Linear between the two keys around the time.
    virtual OrvaMatrix* EvaluateScale(float time);
    virtual OrvaMatrix* EvaluatePosition(float time);
    // Spherical between the conjugates of the two keys around the time.
    virtual OrvaMatrix* EvaluateRotation(float time);
    // The key k of keys[0 .. count - 1] with time of k <= t <= time of k + 1,
    // by bisection, for a t strictly between the first and last key's time.
    // Whatever the keys, the result lies inside the array (null for none).
    virtual const OrvaMatrixKey* FindMatrixKey(const OrvaMatrixKey* keys, int32_t count, int32_t t);
    virtual const OrvaVectorKey* FindPositionKey(const OrvaVectorKey* keys, int32_t count, int32_t t);
    virtual const OrvaRotationKey* FindRotationKey(const OrvaRotationKey* keys, int32_t count, int32_t t);
    virtual const OrvaVectorKey* FindScaleKey(const OrvaVectorKey* keys, int32_t count, int32_t t);

    // The keys of one kind, copied (an earlier set of that kind is replaced).
    void SetRotationKeys(const OrvaRotationKey* keys, uint32_t count);
    void SetScaleKeys(const OrvaVectorKey* keys, uint32_t count);
    void SetPositionKeys(const OrvaVectorKey* keys, uint32_t count);
    void SetMatrixKeys(const OrvaMatrixKey* keys, uint32_t count);
    uint32_t GetRotationKeyCount() const { return static_cast<uint32_t>(rotationKeys.size()); }
    uint32_t GetScaleKeyCount() const { return static_cast<uint32_t>(scaleKeys.size()); }
    uint32_t GetPositionKeyCount() const { return static_cast<uint32_t>(positionKeys.size()); }
    uint32_t GetMatrixKeyCount() const { return static_cast<uint32_t>(matrixKeys.size()); }
    const OrvaRotationKey* GetRotationKeys() const { return rotationKeys.data(); }
    const OrvaVectorKey* GetScaleKeys() const { return scaleKeys.data(); }
    const OrvaVectorKey* GetPositionKeys() const { return positionKeys.data(); }
    const OrvaMatrixKey* GetMatrixKeys() const { return matrixKeys.data(); }

    // The name of the frame the animation drives; cut to kNameBytes - 1.
    void SetName(const char* text);
    const char* GetName() const { return name; }

private:
    char name[kNameBytes] = {};
    std::vector<OrvaRotationKey> rotationKeys;
    std::vector<OrvaVectorKey> scaleKeys;
    std::vector<OrvaVectorKey> positionKeys;
    std::vector<OrvaMatrixKey> matrixKeys;
};
