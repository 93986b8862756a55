// Scene items: values from their channels and the local matrix of a pose.
#include "engine/render/scene_item.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/core/graphics.h"
#include "engine/render/camera.h"
#include "engine/render/scene_layer.h"

OrvaSceneItem::OrvaSceneItem()
{
    local.Identity();
    world.Identity();
}

OrvaSceneItem::~OrvaSceneItem() = default;

void OrvaSceneItem::GetPosition(float time, float* x, float* y, float* z) const
{
    *x = channels[kPositionX].Evaluate(time, 0.0f);
    *y = channels[kPositionY].Evaluate(time, 0.0f);
    *z = channels[kPositionZ].Evaluate(time, 0.0f);
}

void OrvaSceneItem::GetRotation(float time, float* pitch, float* heading, float* bank) const
{
    *pitch = channels[kPitch].Evaluate(time, 0.0f);
    *heading = channels[kHeading].Evaluate(time, 0.0f);
    *bank = channels[kBank].Evaluate(time, 0.0f);
}

void OrvaSceneItem::GetScale(float time, float* x, float* y, float* z) const
{
    *x = channels[kScaleX].Evaluate(time, 1.0f);
    *y = channels[kScaleY].Evaluate(time, 1.0f);
    *z = channels[kScaleZ].Evaluate(time, 1.0f);
}

void OrvaSceneItem::SetRecord(const OsfItemRecord& record)
{
    kind = record.kind;
    std::snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof name - 1), record.name);
    std::memcpy(kept, record.kept, sizeof kept);
    parentItem = record.parentItem;
    parentNo = record.parentNo;
}

bool OrvaSceneItem::SetParent(OrvaSceneItem* newParent)
{
    parent = nullptr;
    for (const OrvaSceneItem* a = newParent; a != nullptr; a = a->parent) {
        if (a == this) {
            return false;
        }
    }
    parent = newParent;
    return true;
}

int32_t OrvaSceneItem::ToAngle(float value)
{
    // Only the low 16 bits of an angle count, so the remainder of a turn
    // truncates to the same angle as the value itself would.
    const double turn = std::fmod(std::trunc(static_cast<double>(value)), 65536.0);
    return turn == turn ? static_cast<int32_t>(turn) : 0;
}

void OrvaSceneItem::Pose(float time, bool camera)
{
    float* v = values;
    GetPosition(time, &v[kValuePositionX], &v[kValuePositionY], &v[kValuePositionZ]);
    GetRotation(time, &v[kValuePitch], &v[kValueHeading], &v[kValueBank]);
    if (camera) {
        v[kValueScaleX] = v[kValueScaleY] = v[kValueScaleZ] = 1.0f;
    } else {
        GetScale(time, &v[kValueScaleX], &v[kValueScaleY], &v[kValueScaleZ]);
    }
    OrvaMatrix m;
    if (camera) {
        local.Identity();
    } else {
        local.Scaling(v[kValueScaleX], v[kValueScaleY], v[kValueScaleZ]);
    }
    m.RotationZ(ToAngle(v[kValueBank]));
    local.Multiply(m);
    m.RotationX(ToAngle(v[kValuePitch]));
    local.Multiply(m);
    m.RotationY(ToAngle(v[kValueHeading]));
    local.Multiply(m);
    m.Translation(v[kValuePositionX], v[kValuePositionY], v[kValuePositionZ]);
    local.Multiply(m);
}

void OrvaSceneItem::ComputeView(OrvaMatrix* out) const
{
    out->Identity();
    OrvaMatrix inverse;
    OrvaMatrix m;
    for (const OrvaSceneItem* a = this; a != nullptr; a = a->parent) {
        const float* v = a->values;
        inverse.Translation(-v[kValuePositionX], -v[kValuePositionY], -v[kValuePositionZ]);
        m.RotationY(-ToAngle(v[kValueHeading]));
        inverse.Multiply(m);
        m.RotationX(-ToAngle(v[kValuePitch]));
        inverse.Multiply(m);
        m.RotationZ(-ToAngle(v[kValueBank]));
        inverse.Multiply(m);
        out->Multiply(inverse, *out);
    }
}

void OrvaSceneItem::ComputeWorld()
{
    world.Identity();
    for (const OrvaSceneItem* a = this; a != nullptr; a = a->parent) {
        world.Multiply(a->local);
    }
}

void OrvaSceneItem::ComputeVisibility()
{
    visible = 0;
    if (layer == nullptr) {
        return;
    }
    const float* lo = layer->GetBoxMin();
    const float* hi = layer->GetBoxMax();
    OrvaGraphics::BuildFrustum(OrvaVector(lo[0], lo[1], lo[2]), OrvaVector(hi[0], hi[1], hi[2]), corners, planes,
                               world);
    visible = OrvaCamera::IsBoxVisible(corners, planes) ? 1 : 0;
}

OrvaSceneChannel* OrvaSceneItem::GetChannel(int32_t channel)
{
    return channel >= 0 && channel < kChannels ? &channels[channel] : nullptr;
}

const OrvaSceneChannel* OrvaSceneItem::GetChannel(int32_t channel) const
{
    return channel >= 0 && channel < kChannels ? &channels[channel] : nullptr;
}
