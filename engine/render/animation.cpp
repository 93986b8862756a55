#include "engine/render/animation.h"

#include <cstring>

#include "platform/gfx/math3d.h"

OrvaAnimation::~OrvaAnimation() = default;

// The key time of a time: truncated toward zero, held inside the range of a
// key time (a non-number lies before every key).
static int32_t KeyTime(float time)
{
    if (time != time) {
        return INT32_MIN;
    }
    if (time >= 2147483647.0f) {
        return INT32_MAX;
    }
    if (time <= -2147483648.0f) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(time);
}

// Bisection through the class's own (virtual) find operation. It never
// leaves keys[0 .. count - 1], also for keys out of order.
template <typename Key>
static const Key* Bisect(OrvaAnimation* self, const Key* (OrvaAnimation::*find)(const Key*, int32_t, int32_t),
                         const Key* keys, int32_t count, int32_t t)
{
    if (keys == nullptr || count <= 0) {
        return nullptr;
    }
    const int32_t m = count / 2;
    if (keys[m].time > t) {
        return m > 0 ? (self->*find)(keys, m, t) : keys;
    }
    if (m + 1 >= count || keys[m + 1].time >= t) {
        return keys + m;
    }
    return (self->*find)(keys + m + 1, count - m - 1, t);
}

// The two keys around the time and the fraction between them; a and b are
// the same key before the first and after the last key. False without keys.
template <typename Key>
static bool Bracket(OrvaAnimation* self, const Key* (OrvaAnimation::*find)(const Key*, int32_t, int32_t),
                    const std::vector<Key>& keys, float time, const Key** a, const Key** b, float* f)
{
    if (keys.empty()) {
        return false;
    }
    const int32_t t = KeyTime(time);
    *f = 0.0f;
    if (t <= keys.front().time) {
        *a = *b = &keys.front();
        return true;
    }
    if (t >= keys.back().time) {
        *a = *b = &keys.back();
        return true;
    }
    const int32_t count = static_cast<int32_t>(keys.size());
    const Key* k = (self->*find)(keys.data(), count, t);
    int32_t index = k != nullptr ? static_cast<int32_t>(k - keys.data()) : 0;
    if (index > count - 2) {
        index = count - 2;
    }
    if (index < 0) {
        index = 0;
    }
    *a = &keys[static_cast<size_t>(index)];
    *b = *a + 1;
    // Equal key times give the earlier key, not a zero divided by zero.
    const double span = double((*b)->time) - double((*a)->time);
    *f = span > 0.0 ? static_cast<float>((double(time) - double((*a)->time)) / span) : 0.0f;
    return true;
}

OrvaMatrix* OrvaAnimation::EvaluateMatrix(float time)
{
    static OrvaMatrix result{};
    const OrvaMatrixKey* a = nullptr;
    const OrvaMatrixKey* b = nullptr;
    float f = 0.0f;
    if (Bracket(this, &OrvaAnimation::FindMatrixKey, matrixKeys, time, &a, &b, &f)) {
        result = a->matrix;
    } else {
        result.Identity();
    }
    return &result;
}

static void Lerp(const OrvaVectorKey* a, const OrvaVectorKey* b, float f, float* x, float* y, float* z)
{
    *x = a->x + (b->x - a->x) * f;
    *y = a->y + (b->y - a->y) * f;
    *z = a->z + (b->z - a->z) * f;
}

OrvaMatrix* OrvaAnimation::EvaluateScale(float time)
{
    static OrvaMatrix result{};
    const OrvaVectorKey* a = nullptr;
    const OrvaVectorKey* b = nullptr;
    float f = 0.0f;
    if (Bracket(this, &OrvaAnimation::FindScaleKey, scaleKeys, time, &a, &b, &f)) {
        float x = 0.0f, y = 0.0f, z = 0.0f;
        Lerp(a, b, f, &x, &y, &z);
        result.Scaling(x, y, z);
    } else {
        result.Identity();
    }
    return &result;
}

OrvaMatrix* OrvaAnimation::EvaluatePosition(float time)
{
    static OrvaMatrix result{};
    const OrvaVectorKey* a = nullptr;
    const OrvaVectorKey* b = nullptr;
    float f = 0.0f;
    if (Bracket(this, &OrvaAnimation::FindPositionKey, positionKeys, time, &a, &b, &f)) {
        float x = 0.0f, y = 0.0f, z = 0.0f;
        Lerp(a, b, f, &x, &y, &z);
        result.Translation(x, y, z);
    } else {
        result.Identity();
    }
    return &result;
}

OrvaMatrix* OrvaAnimation::EvaluateRotation(float time)
{
    static OrvaMatrix result{};
    const OrvaRotationKey* a = nullptr;
    const OrvaRotationKey* b = nullptr;
    float f = 0.0f;
    if (!Bracket(this, &OrvaAnimation::FindRotationKey, rotationKeys, time, &a, &b, &f)) {
        result.Identity();
        return &result;
    }
    // The keys turn the other way round from the matrices we build: use
    // their conjugates.
    const platform::Quat qa{-a->x, -a->y, -a->z, a->w};
    const platform::Quat qb{-b->x, -b->y, -b->z, b->w};
    result.RotationQuaternion(a == b ? qa : platform::QuatSlerp(qa, qb, f));
    return &result;
}

const OrvaMatrixKey* OrvaAnimation::FindMatrixKey(const OrvaMatrixKey* keys, int32_t count, int32_t t)
{
    return Bisect(this, &OrvaAnimation::FindMatrixKey, keys, count, t);
}

const OrvaVectorKey* OrvaAnimation::FindPositionKey(const OrvaVectorKey* keys, int32_t count, int32_t t)
{
    return Bisect(this, &OrvaAnimation::FindPositionKey, keys, count, t);
}

const OrvaRotationKey* OrvaAnimation::FindRotationKey(const OrvaRotationKey* keys, int32_t count, int32_t t)
{
    return Bisect(this, &OrvaAnimation::FindRotationKey, keys, count, t);
}

const OrvaVectorKey* OrvaAnimation::FindScaleKey(const OrvaVectorKey* keys, int32_t count, int32_t t)
{
    return Bisect(this, &OrvaAnimation::FindScaleKey, keys, count, t);
}

void OrvaAnimation::SetRotationKeys(const OrvaRotationKey* keys, uint32_t count)
{
    rotationKeys.assign(keys, keys + (keys != nullptr ? count : 0));
}

void OrvaAnimation::SetScaleKeys(const OrvaVectorKey* keys, uint32_t count)
{
    scaleKeys.assign(keys, keys + (keys != nullptr ? count : 0));
}

void OrvaAnimation::SetPositionKeys(const OrvaVectorKey* keys, uint32_t count)
{
    positionKeys.assign(keys, keys + (keys != nullptr ? count : 0));
}

void OrvaAnimation::SetMatrixKeys(const OrvaMatrixKey* keys, uint32_t count)
{
    matrixKeys.assign(keys, keys + (keys != nullptr ? count : 0));
}

void OrvaAnimation::SetName(const char* text)
{
    std::memset(name, 0, sizeof name);
    if (text != nullptr) {
        std::strncpy(name, text, sizeof name - 1);
    }
}
