#pragma once
// A texture entry of a scene: one image of the scene's pack, shared by every
// surface that names it. Main thread only.
#include "engine/core/object.h"

class OrvaTexture;

class OrvaSceneTexture : public OrvaObject {
public:
    // Takes over the caller's reference to the texture (may be null).
    OrvaSceneTexture(const char* entryName, OrvaTexture* entryTexture);
    // Releases the texture.
    ~OrvaSceneTexture() override;

    OrvaTexture* GetTexture() const { return texture; }
    const char* GetName() const { return name; }

private:
    OrvaTexture* texture = nullptr;
    char name[64] = {};
};
