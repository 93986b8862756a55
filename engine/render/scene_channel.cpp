// Key-frame channels: behaviours outside the keys, the span shapes and
// their tangents, evaluated at a time.
#include "engine/render/scene_channel.h"

#include <cmath>
#include <new>

namespace {

// The default outgoing handle of a two-dimensional Bezier span lies a third
// of the way along; the constant is the f32 the curves were authored with.
constexpr float kThird = 0.33333334f;

// The largest cycle count a wrap reports; far beyond any scene's length, it
// keeps the conversion to an integer defined for absurd times.
constexpr double kMaxCycles = 1073741824.0;

}  // namespace

OrvaSceneChannel::~OrvaSceneChannel() = default;

OrvaSceneKey* OrvaSceneChannel::ResetKeys(int32_t count)
{
    keys.reset();
    keyCount = 0;
    if (count < 1) {
        return nullptr;
    }
    keys.reset(new (std::nothrow) OrvaSceneKey[static_cast<size_t>(count)]);
    if (keys == nullptr) {
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        OrvaSceneKey& k = keys[static_cast<size_t>(i)];
        k.previous = i > 0 ? &keys[static_cast<size_t>(i) - 1] : nullptr;
        k.next = i + 1 < count ? &keys[static_cast<size_t>(i) + 1] : nullptr;
    }
    keyCount = count;
    return keys.get();
}

void OrvaSceneChannel::SetBehavior(int32_t pre, int32_t post)
{
    preBehavior = pre;
    postBehavior = post;
}

void OrvaSceneChannel::HermiteBasis(float t, float* h)
{
    const float t2 = t * t;
    const float t3 = t2 * t;
    h[1] = 3.0f * t2 - 2.0f * t3;
    h[0] = 1.0f - h[1];
    h[3] = t3 - t2;
    h[2] = h[3] - t2 + t;
}

float OrvaSceneChannel::Outgoing(const OrvaSceneKey& k0, const OrvaSceneKey& k1)
{
    const OrvaSceneKey* p = k0.previous;
    // A previous key at the far end's own time leaves no span to scale by:
    // the tangent is then taken as at the first key.
    const bool scaled = p != nullptr && k1.time - p->time != 0.0f;
    switch (k0.shape) {
    case kOrvaKeyTcb: {
        const float tension = k0.p[0];
        const float continuity = k0.p[1];
        const float bias = k0.p[2];
        const float a = (1.0f - tension) * (1.0f + continuity) * (1.0f + bias);
        const float b = (1.0f - tension) * (1.0f - continuity) * (1.0f - bias);
        const float d = k1.value - k0.value;
        if (scaled) {
            return (a * (k0.value - p->value) + b * d) * (k1.time - k0.time) / (k1.time - p->time);
        }
        return b * d;
    }
    case kOrvaKeyHermite:
    case kOrvaKeyBezier:
        if (scaled) {
            return k0.p[4] * (k1.time - k0.time) / (k1.time - p->time);
        }
        return k0.p[4];
    default:
        return 0.0f;
    }
}

float OrvaSceneChannel::Incoming(const OrvaSceneKey& k0, const OrvaSceneKey& k1)
{
    const OrvaSceneKey* n = k1.next;
    const bool scaled = n != nullptr && n->time - k0.time != 0.0f;
    switch (k1.shape) {
    case kOrvaKeyTcb: {
        const float tension = k1.p[0];
        const float continuity = k1.p[1];
        const float bias = k1.p[2];
        const float a = (1.0f - tension) * (1.0f - continuity) * (1.0f + bias);
        const float b = (1.0f - tension) * (1.0f + continuity) * (1.0f - bias);
        const float d = k1.value - k0.value;
        if (scaled) {
            return (b * (n->value - k1.value) + a * d) * (k1.time - k0.time) / (n->time - k0.time);
        }
        return a * d;
    }
    case kOrvaKeyHermite:
    case kOrvaKeyBezier:
        if (scaled) {
            return k1.p[3] * (k1.time - k0.time) / (n->time - k0.time);
        }
        return k1.p[3];
    default:
        return 0.0f;
    }
}

float OrvaSceneChannel::LinearValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time)
{
    const float span = k1.time - k0.time;
    if (span == 0.0f) {
        return k1.value;
    }
    return k0.value + (k1.value - k0.value) * (time - k0.time) / span;
}

float OrvaSceneChannel::SteppedValue(const OrvaSceneKey& k0)
{
    return k0.value;
}

float OrvaSceneChannel::WrapTime(float time, float first, float last, int32_t* cycles)
{
    const float range = last - first;
    if (range == 0.0f) {
        *cycles = 0;
        return first;
    }
    // The quotient is floored in double; the cycle grid starts at time 0,
    // not at the first key.
    const double q = std::floor(static_cast<double>(time) / static_cast<double>(range));
    const float wrapped = static_cast<float>(static_cast<double>(first + time) - static_cast<double>(range) * q);
    const double shift = static_cast<double>((wrapped - time) / range) + (wrapped > time ? 0.5 : -0.5);
    const double n = -std::trunc(shift);
    *cycles = std::fabs(n) <= kMaxCycles ? static_cast<int32_t>(n) : 0;
    return wrapped;
}

float OrvaSceneChannel::Bezier(float x0, float x1, float x2, float x3, float t)
{
    const float c = 3.0f * (x1 - x0);
    const float b = 3.0f * (x2 - x1) - c;
    const float a = x3 - x0 - c - b;
    return a * t * t * t + b * t * t + c * t + x0;
}

float OrvaSceneChannel::BisectBezier(float x0, float x1, float x2, float x3, float time)
{
    float t0 = 0.0f;
    float t1 = 1.0f;
    float t = -1.0f;
    for (int32_t i = 0; i < kMaxBisections; ++i) {
        const float next = t0 + (t1 - t0) * 0.5f;
        if (next == t) {
            break;
        }
        t = next;
        const float v = Bezier(x0, x1, x2, x3, t);
        if (std::fabs(time - v) <= 0.0001f) {
            break;
        }
        if (v <= time) {
            t0 = t;
        } else {
            t1 = t;
        }
    }
    return t;
}

float OrvaSceneChannel::Bezier2DValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time)
{
    const bool handle = k0.shape == kOrvaKeyBezier2D;
    const float x1 = k0.time + (handle ? k0.p[2] : (k1.time - k0.time) * kThird);
    const float t = BisectBezier(k0.time, x1, k1.time + k1.p[0], k1.time, time);
    const float y1 = k0.value + (handle ? k0.p[3] : k0.p[1] * kThird);
    return Bezier(k0.value, y1, k1.value + k1.p[1], k1.value, t);
}

float OrvaSceneChannel::SpanValue(const OrvaSceneKey& k0, const OrvaSceneKey& k1, float time)
{
    switch (k1.shape) {
    case kOrvaKeyTcb:
    case kOrvaKeyHermite:
    case kOrvaKeyBezier: {
        const float span = k1.time - k0.time;
        // Two keys at one time: the later key holds from that time on.
        if (span == 0.0f) {
            return k1.value;
        }
        const float t = (time - k0.time) / span;
        float h[4];
        HermiteBasis(t, h);
        return h[0] * k0.value + h[1] * k1.value + h[2] * Outgoing(k0, k1) + h[3] * Incoming(k0, k1);
    }
    case kOrvaKeyLinear:
        return LinearValue(k0, k1, time);
    case kOrvaKeyStepped:
        return SteppedValue(k0);
    case kOrvaKeyBezier2D:
        return Bezier2DValue(k0, k1, time);
    default:
        return 0.0f;
    }
}

float OrvaSceneChannel::Evaluate(float time, float defaultValue) const
{
    if (keyCount <= 0 || keys == nullptr) {
        return defaultValue;
    }
    const OrvaSceneKey& first = keys[0];
    const OrvaSceneKey& last = keys[static_cast<size_t>(keyCount) - 1];
    float offset = 0.0f;
    const bool before = time < first.time;
    const bool after = !before && time > last.time;
    if (before || after) {
        const int32_t behavior = before ? preBehavior : postBehavior;
        switch (behavior) {
        case kOrvaChannelReset:
            return 0.0f;
        case kOrvaChannelConstant:
            return before ? first.value : last.value;
        case kOrvaChannelRepeat:
        case kOrvaChannelOscillate:
        case kOrvaChannelOffsetRepeat: {
            int32_t cycles = 0;
            time = WrapTime(time, first.time, last.time, &cycles);
            // Odd cycles run backwards through the keys: mirrored about the
            // middle of the key range, so that they stay inside it.
            if (behavior == kOrvaChannelOscillate && cycles % 2 != 0) {
                time = first.time + last.time - time;
            }
            if (behavior == kOrvaChannelOffsetRepeat) {
                offset = (last.value - first.value) * static_cast<float>(cycles);
            }
            break;
        }
        case kOrvaChannelLinear:
            if (before) {
                const OrvaSceneKey* next = first.next;
                if (next == nullptr || next->time == first.time) {
                    return first.value;
                }
                return first.value + (time - first.time) * Outgoing(first, *next) / (next->time - first.time);
            } else {
                const OrvaSceneKey* previous = last.previous;
                if (previous == nullptr || last.time == previous->time) {
                    return last.value;
                }
                return last.value + (time - last.time) * Incoming(*previous, last) / (last.time - previous->time);
            }
        default:
            break;
        }
    }
    if (keyCount == 1) {
        return first.value + offset;
    }
    // The walk stops at the last span: a time past the last key (only with
    // an unknown behaviour) extends it.
    const OrvaSceneKey* k0 = &first;
    while (k0->next != &last && time > k0->next->time) {
        k0 = k0->next;
    }
    return SpanValue(*k0, *k0->next, time) + offset;
}
