// Scene surfaces: one run of a layer's triangles with its states.
#include "engine/render/scene_surface.h"

OrvaSceneSurface::~OrvaSceneSurface() = default;
