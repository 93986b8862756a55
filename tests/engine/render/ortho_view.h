#pragma once
// Set-up shared by the 3D drawing tests: the headless frame of
// headless_frame.h drawn in tiles on two threads, seen through an
// orthographic camera of one world unit per pixel with the origin at the
// frame's centre, y up and depth from 0 to `far`.
#include <gtest/gtest.h>

#include "engine/core/device.h"
#include "engine/render/camera.h"
#include "tests/engine/headless_frame.h"

namespace orvatest {

inline OrvaCamera* StartOrthoView(int w, int h, float far)
{
    StartDevice2D(w, h);
    OrvaDevice::GetDevice()->SetThreadCount(2);
    OrvaCamera::Initialize();
    OrvaCamera* camera = OrvaCamera::Create();
    camera->SetOrtho(static_cast<float>(w), static_cast<float>(h), 0.0f, far);
    camera->UpdateView();
    camera->Apply();
    return camera;
}

inline void StopOrthoView()
{
    OrvaCamera::Destroy();
    StopDevice2D();
}

}  // namespace orvatest
