#pragma once
// Four directional lights and one ambient term for the engine's own vertex
// shaders. The module never talks to the device: meshes read the values
// when they fill their shader constants, and a camera can take its place
// and direction from a light. Values live for the whole program; nothing
// resets them at device loss. Main thread only.
#include <cstdint>

#include "engine/core/vector.h"

// One light, laid out as the device's light record. The module writes only
// type, diffuse, specular, position and direction.
struct OrvaLightRecord {
    uint32_t type = 0;              // 3: directional
    float diffuse[4] = {};          // r, g, b, a
    float specular[4] = {};
    float ambient[4] = {};
    float position[3] = {};         // x, y, z
    float direction[3] = {};
    float range = 0.0f;
    float falloff = 0.0f;
    float attenuation0 = 0.0f;
    float attenuation1 = 0.0f;
    float attenuation2 = 0.0f;
    float theta = 0.0f;             // radians
    float phi = 0.0f;               // radians
};

class OrvaLight {
public:
    static constexpr int32_t kLightCount = 4;
    static constexpr uint32_t kTypeDirectional = 3;

    // Every operation with an index outside 0 to 3 does nothing; getters
    // then leave their outputs as they were.
    // Records the flag and makes the light directional, whatever the flag.
    static void Enable(int32_t index, uint32_t flag);
    static void SetAmbient(float value);
    static void GetAmbient(float* out);
    // Alpha is always 1.
    static void SetDiffuse(int32_t index, float r, float g, float b);
    static void SetSpecular(int32_t index, float r, float g, float b);
    // Normalises the caller's vector in place, then stores it. A zero
    // vector has no direction and is not looked at: its components become
    // non-numbers.
    static void SetDirection(int32_t index, OrvaVector* direction);
    static void SetPosition(int32_t index, const OrvaVector* position);
    static void GetDiffuse(int32_t index, float* r, float* g, float* b);
    static void GetSpecular(int32_t index, float* r, float* g, float* b);
    static void GetDirection(int32_t index, OrvaVector* out);
    static void GetPosition(int32_t index, OrvaVector* out);
    // The whole record of the light becomes zero, type included; the
    // enabled flag stays.
    static void Reset(int32_t index);

    // The record and flag as the shaders read them; null and 0 for an
    // index outside 0 to 3.
    static const OrvaLightRecord* GetRecord(int32_t index);
    static uint32_t IsEnabled(int32_t index);
};
