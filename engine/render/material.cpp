#include "engine/render/material.h"

#include <algorithm>

#include "engine/core/texture.h"

OrvaMaterial::OrvaMaterial()
{
    std::fill(std::begin(states), std::end(states), kStateUnset);
    material.diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.ambient = {1.0f, 1.0f, 1.0f, 1.0f};
}

OrvaMaterial::~OrvaMaterial()
{
    for (OrvaTexture*& texture : textures) {
        if (texture != nullptr) {
            texture->Release();
            texture = nullptr;
        }
    }
}

void OrvaMaterial::SetFaceRange(uint32_t first, uint32_t count)
{
    firstIndex = first;
    primitiveCount = count;
}

void OrvaMaterial::SetMaterial(const OrvaMaterialBlock& block)
{
    material = block;
}

const OrvaMaterialBlock* OrvaMaterial::GetMaterialPointer() const
{
    return &material;
}

void OrvaMaterial::GetMaterial(OrvaMaterialBlock* out) const
{
    if (out != nullptr) {
        *out = material;
    }
}

void OrvaMaterial::SetTexture(OrvaTexture* texture, int32_t stage)
{
    if (stage < 0 || stage >= kStageCount) {
        return;
    }
    // Take the new reference first: setting the texture a stage already
    // holds must not free it in between.
    if (texture != nullptr) {
        texture->AddRef();
    }
    OrvaTexture* old = textures[stage];
    textures[stage] = texture;
    if (old != nullptr) {
        old->Release();
    }
}

OrvaTexture* OrvaMaterial::GetTexture(int32_t stage) const
{
    return stage >= 0 && stage < kStageCount ? textures[stage] : nullptr;
}

uint32_t OrvaMaterial::GetFirstIndex() const
{
    return firstIndex;
}

uint32_t OrvaMaterial::GetPrimitiveCount() const
{
    return primitiveCount;
}

void OrvaMaterial::SetState(int32_t number, uint32_t value)
{
    if (number >= 0 && number < kStateCount) {
        states[number] = value;
    }
}

uint32_t OrvaMaterial::GetState(int32_t number) const
{
    return number >= 0 && number < kStateCount ? states[number] : kStateUnset;
}
