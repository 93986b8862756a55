#include "engine/render/light.h"

namespace {

OrvaLightRecord g_lights[OrvaLight::kLightCount];
uint32_t g_enabled[OrvaLight::kLightCount] = {};
float g_ambient = 0.0f;

bool InRange(int32_t index)
{
    return index >= 0 && index < OrvaLight::kLightCount;
}

}  // namespace

void OrvaLight::Enable(int32_t index, uint32_t flag)
{
    if (!InRange(index)) {
        return;
    }
    g_enabled[index] = flag;
    g_lights[index].type = kTypeDirectional;
}

void OrvaLight::SetAmbient(float value)
{
    g_ambient = value;
}

void OrvaLight::GetAmbient(float* out)
{
    if (out != nullptr) {
        *out = g_ambient;
    }
}

void OrvaLight::SetDiffuse(int32_t index, float r, float g, float b)
{
    if (!InRange(index)) {
        return;
    }
    float* d = g_lights[index].diffuse;
    d[0] = r;
    d[1] = g;
    d[2] = b;
    d[3] = 1.0f;
}

void OrvaLight::SetSpecular(int32_t index, float r, float g, float b)
{
    if (!InRange(index)) {
        return;
    }
    float* s = g_lights[index].specular;
    s[0] = r;
    s[1] = g;
    s[2] = b;
    s[3] = 1.0f;
}

void OrvaLight::SetDirection(int32_t index, OrvaVector* direction)
{
    if (!InRange(index) || direction == nullptr) {
        return;
    }
    direction->Normalize();
    float* d = g_lights[index].direction;
    d[0] = direction->x;
    d[1] = direction->y;
    d[2] = direction->z;
}

void OrvaLight::SetPosition(int32_t index, const OrvaVector* position)
{
    if (!InRange(index) || position == nullptr) {
        return;
    }
    float* p = g_lights[index].position;
    p[0] = position->x;
    p[1] = position->y;
    p[2] = position->z;
}

void OrvaLight::GetDiffuse(int32_t index, float* r, float* g, float* b)
{
    if (!InRange(index) || r == nullptr || g == nullptr || b == nullptr) {
        return;
    }
    *r = g_lights[index].diffuse[0];
    *g = g_lights[index].diffuse[1];
    *b = g_lights[index].diffuse[2];
}

void OrvaLight::GetSpecular(int32_t index, float* r, float* g, float* b)
{
    if (!InRange(index) || r == nullptr || g == nullptr || b == nullptr) {
        return;
    }
    *r = g_lights[index].specular[0];
    *g = g_lights[index].specular[1];
    *b = g_lights[index].specular[2];
}

void OrvaLight::GetDirection(int32_t index, OrvaVector* out)
{
    if (!InRange(index) || out == nullptr) {
        return;
    }
    const float* d = g_lights[index].direction;
    out->Set(d[0], d[1], d[2]);
}

void OrvaLight::GetPosition(int32_t index, OrvaVector* out)
{
    if (!InRange(index) || out == nullptr) {
        return;
    }
    const float* p = g_lights[index].position;
    out->Set(p[0], p[1], p[2]);
}

void OrvaLight::Reset(int32_t index)
{
    if (!InRange(index)) {
        return;
    }
    g_lights[index] = OrvaLightRecord{};
}

const OrvaLightRecord* OrvaLight::GetRecord(int32_t index)
{
    return InRange(index) ? &g_lights[index] : nullptr;
}

uint32_t OrvaLight::IsEnabled(int32_t index)
{
    return InRange(index) ? g_enabled[index] : 0u;
}
