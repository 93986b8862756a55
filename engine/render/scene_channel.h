#pragma once
// Key-frame channels: one animated scalar of a scene item (a coordinate, an
// angle or a scale factor) as a time-ordered list of keys, with behaviours
// before the first key and after the last. Evaluation is pure and allocates
// nothing. Main thread only.
#include <cstdint>
#include <memory>

#include "engine/core/object.h"

// The shape of the span that ends at a key.
enum OrvaKeyShape : int32_t {
    kOrvaKeyTcb = 0,        // tension, continuity, bias (p1, p2, p3)
    kOrvaKeyHermite = 1,    // explicit tangents (p4 incoming, p5 outgoing)
    kOrvaKeyBezier = 2,     // the same tangents
    kOrvaKeyLinear = 3,
    kOrvaKeyStepped = 4,
    kOrvaKeyBezier2D = 5,   // handles in time and value (p1, p2 in; p3, p4 out)
};

// What a channel does before its first key (pre) and after its last (post).
enum OrvaChannelBehavior : int32_t {
    kOrvaChannelReset = 0,          // 0
    kOrvaChannelConstant = 1,       // the end key's value
    kOrvaChannelRepeat = 2,         // the time wrapped into the key range
    kOrvaChannelOscillate = 3,      // wrapped, every other cycle backwards
    kOrvaChannelOffsetRepeat = 4,   // wrapped, shifted by the cycles' rise
    kOrvaChannelLinear = 5,         // the end tangent extended
};

// One key: the 36 bytes of a file key followed by the links of the list.
struct OrvaSceneKey {
    int32_t shape = 0;    // OrvaKeyShape of the span from the previous key
    float time = 0.0f;    // frames; keys are in increasing time
    float value = 0.0f;
    float p[6] = {};      // shape parameters p1 to p6
    OrvaSceneKey* previous = nullptr;
    OrvaSceneKey* next = nullptr;
};

class OrvaSceneChannel : public OrvaObject {
public:
    // Bisection steps of a two-dimensional Bezier span at most; the search
    // normally ends well before, when the parameter stops changing.
    static constexpr int32_t kMaxBisections = 200;

    OrvaSceneChannel() = default;
    OrvaSceneChannel(int32_t pre, int32_t post) : preBehavior(pre), postBehavior(post) {}
    ~OrvaSceneChannel() override;

    // The value at a time in frames; defaultValue when there are no keys.
    float Evaluate(float time, float defaultValue) const;

    // Replaces the keys with count zeroed keys, linked in array order, and
    // returns them for the caller to fill in increasing time. A count below
    // 1 leaves the channel empty and returns null; so does a failed
    // allocation.
    OrvaSceneKey* ResetKeys(int32_t count);
    void SetBehavior(int32_t pre, int32_t post);

    int32_t GetPreBehavior() const { return preBehavior; }
    int32_t GetPostBehavior() const { return postBehavior; }
    int32_t GetKeyCount() const { return keyCount; }
    const OrvaSceneKey* GetKeys() const { return keys.get(); }

    // ---- the rules of Evaluate, one by one (Evaluate is built from them)
    // h[0..3] = h1, h2, h3, h4 of the Hermite basis at t.
    static void HermiteBasis(float t, float* h);
    // The tangent leaving k0 toward k1, by k0's shape.
    static float Outgoing(const OrvaSceneKey& k0, const OrvaSceneKey& k1);
    // The tangent entering k1 from k0, by k1's shape.
    static float Incoming(const OrvaSceneKey& k0, const OrvaSceneKey& k1);
    static float LinearValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time);
    static float SteppedValue(const OrvaSceneKey& k0);
    // Wraps time into [first, first + (last - first)) on a grid of cycles
    // counted from time 0; cycles gets the signed cycle count.
    static float WrapTime(float time, float first, float last, int32_t* cycles);
    static float Bezier(float x0, float x1, float x2, float x3, float t);
    // The curve parameter at which Bezier(x0..x3) reaches time.
    static float BisectBezier(float x0, float x1, float x2, float x3, float time);
    static float Bezier2DValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time);
    // The value of the span k0 to k1 at time, by k1's shape.
    static float SpanValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time);

private:
    int32_t preBehavior = kOrvaChannelConstant;
    int32_t postBehavior = kOrvaChannelConstant;
    int32_t keyCount = 0;
    std::unique_ptr<OrvaSceneKey[]> keys;
};
