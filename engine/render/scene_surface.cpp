#include "engine/render/scene_surface.h"

OrvaSceneSurface::~OrvaSceneSurface() = default;
