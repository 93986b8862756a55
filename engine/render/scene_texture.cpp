// Scene texture entries: one pack image shared by the surfaces naming it.
#include "engine/render/scene_texture.h"

#include <cstdio>

#include "engine/core/texture.h"

OrvaSceneTexture::OrvaSceneTexture(const char* entryName, OrvaTexture* entryTexture) : texture(entryTexture)
{
    std::snprintf(name, sizeof name, "%s", entryName != nullptr ? entryName : "");
}

OrvaSceneTexture::~OrvaSceneTexture()
{
    if (texture != nullptr) {
        texture->Release();
        texture = nullptr;
    }
}
