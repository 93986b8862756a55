// Cameras and the global view, projection, frustum and eye of the 3D
// pipeline.
#include "engine/render/camera.h"

#include <cmath>
#include <new>

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "engine/core/graphics.h"
#include "engine/render/light.h"
#include "engine/render/model.h"
#include "platform/gfx/math3d.h"

namespace {

constexpr auto& Cameras = OrvaModuleList<OrvaModule::Camera>;
// Zero until first written: a device reset before any camera is applied
// sends two zero matrices, as the device was never given others.
OrvaMatrix g_view{};
OrvaMatrix g_projection{};
OrvaMatrix g_viewProjection{};
OrvaFrustum g_frustum;
OrvaVector g_eye;

constexpr float kPi = 3.14159265358979323846f;

const OrvaMatrix* ViewProjectionSource()
{
    return &g_viewProjection;
}

void SendTransform(uint32_t state, const OrvaMatrix& m)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr) {
        return;
    }
    platform::Matrix4 out;
    const float* e = m.GetData();
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out.m[r][c] = e[r * 4 + c];
        }
    }
    device->SetTransform(state, out);
}

}  // namespace

OrvaCamera::OrvaCamera()
{
    projection.Identity();
    view.Identity();
    // Apply before the first UpdateView copies the product as it stands:
    // the identity, not garbage.
    viewProjection.Identity();
    Cameras().PushBack(this);
}

OrvaCamera::~OrvaCamera() = default;

bool OrvaCamera::Initialize()
{
    Cameras().Init();
    OrvaGraphics::SetViewProjectionSource(&ViewProjectionSource);
    OrvaDevice::AddResetWalkers(&OrvaCamera::OnLostDevice, &OrvaCamera::OnResetDevice);
    return true;
}

void OrvaCamera::Destroy()
{
    Cameras().ReleaseAll();
}

void OrvaCamera::OnLostDevice()
{
}

void OrvaCamera::OnResetDevice()
{
    ApplyTransforms();
}

OrvaCamera* OrvaCamera::Create()
{
    return new (std::nothrow) OrvaCamera();
}

void OrvaCamera::GetViewProjection(OrvaMatrix* out)
{
    if (out != nullptr) {
        *out = g_viewProjection;
    }
}

void OrvaCamera::GetView(OrvaMatrix* out)
{
    if (out != nullptr) {
        *out = g_view;
    }
}

void OrvaCamera::GetProjection(OrvaMatrix* out)
{
    if (out != nullptr) {
        *out = g_projection;
    }
}

void OrvaCamera::GetEyePosition(OrvaVector* out)
{
    if (out != nullptr) {
        *out = g_eye;
    }
}

const OrvaFrustum& OrvaCamera::GetFrustum()
{
    return g_frustum;
}

void OrvaCamera::SetView(const OrvaMatrix& m)
{
    g_view = m;
}

void OrvaCamera::SetProjection(const OrvaMatrix& m)
{
    g_projection = m;
}

void OrvaCamera::UpdateTransforms()
{
    g_viewProjection.Multiply(g_view, g_projection);
    ComputeFrustum(g_viewProjection);
    SendTransform(platform::TsView, g_view);
    SendTransform(platform::TsProjection, g_projection);
}

void OrvaCamera::ApplyTransforms()
{
    SendTransform(platform::TsView, g_view);
    SendTransform(platform::TsProjection, g_projection);
}

bool OrvaCamera::IsBoxVisible(const OrvaVector* corners, const float (*planes)[4])
{
    if (corners == nullptr || planes == nullptr) {
        return false;
    }
    const int32_t r = OrvaGraphics::CheckBoxInFrustum(corners, planes, g_frustum.corners, g_frustum.planes);
    return r == 0 || r == 2;
}

void OrvaCamera::ComputeFrustum(const OrvaMatrix& m)
{
    platform::Mat4 inverse;
    if (platform::MatrixInverse(inverse, m.ToMat4()) == 0.0f) {
        return;
    }
    OrvaMatrix inv;
    inv = inverse;
    OrvaGraphics::BuildFrustum(OrvaVector(-1.0f, -1.0f, 0.0f), OrvaVector(1.0f, 1.0f, 1.0f), g_frustum.corners,
                               g_frustum.planes, inv);
}

void OrvaCamera::SetPerspective(float fovDegrees, float nearDistance, float farDistance, float aspectRatio)
{
    if (aspectRatio == 0.0f) {
        OrvaRect rect;
        OrvaDevice::GetViewport(&rect);
        aspectRatio = static_cast<float>(rect.right - rect.left) / static_cast<float>(rect.bottom - rect.top);
    }
    fov = fovDegrees * 2.0f * kPi / 360.0f;
    nearClip = nearDistance;
    farClip = farDistance;
    aspect = aspectRatio;
    const float h = fov * 0.5f;
    const float cot = std::cos(h) / std::sin(h);
    const float q = farDistance / (farDistance - nearDistance);
    const float rows[16] = {cot / aspectRatio, 0.0f, 0.0f, 0.0f,  //
                            0.0f, cot, 0.0f, 0.0f,                //
                            0.0f, 0.0f, q, 1.0f,                  //
                            0.0f, 0.0f, -q * nearDistance, 0.0f};
    projection.Set(rows);
}

void OrvaCamera::SetOrtho(float width, float height, float nearDistance, float farDistance)
{
    projection = platform::MatrixOrthoLH(width, height, nearDistance, farDistance);
    nearClip = nearDistance;
    farClip = farDistance;
    aspect = width / height;
    fov = 1.0f;
}

void OrvaCamera::GetViewProjectionMatrix(OrvaMatrix* out) const
{
    if (out != nullptr) {
        *out = viewProjection;
    }
}

void OrvaCamera::GetViewMatrix(OrvaMatrix* out) const
{
    if (out != nullptr) {
        *out = view;
    }
}

void OrvaCamera::GetProjectionMatrix(OrvaMatrix* out) const
{
    if (out != nullptr) {
        *out = projection;
    }
}

void OrvaCamera::Reset()
{
    ResetAxes();
}

void OrvaCamera::UpdateView()
{
    NormalizeAxes();
    const float rows[16] = {right.x, up.x, front.x, 0.0f,  //
                            right.y, up.y, front.y, 0.0f,  //
                            right.z, up.z, front.z, 0.0f,  //
                            -position.Dot(right), -position.Dot(up), -position.Dot(front), 1.0f};
    view.Set(rows);
    viewProjection.Multiply(view, projection);
}

void OrvaCamera::LookAt(const OrvaVector* eye, const OrvaVector* target, const OrvaVector* upHint)
{
    if (eye == nullptr || target == nullptr) {
        return;
    }
    OrvaVector f(target->x - eye->x, target->y - eye->y, target->z - eye->z);
    f.Normalize();
    Aim(f, upHint != nullptr ? *upHint : OrvaVector(0.0f, 1.0f, 0.0f), &right, &up);
    front = f;
    position = *eye;
}

// Unlike LookAt, right is front x up without the sign change: the frame is
// half a turn about the front axis from LookAt's for the same direction, so
// both of LookAt's side axes are negated (exactly, as every step of the aim
// keeps its sign symmetry).
void OrvaCamera::LookAlongLight(int32_t index)
{
    OrvaLight::GetPosition(index, &position);
    OrvaLight::GetDirection(index, &front);
    front.Normalize();
    Aim(front, OrvaVector(0.0f, 1.0f, 0.0f), &right, &up);
    right.Set(-right.x, -right.y, -right.z);
    up.Set(-up.x, -up.y, -up.z);
}

void OrvaCamera::SetFromModel(const OrvaModel* model)
{
    if (model == nullptr) {
        return;
    }
    model->GetPosition(&position);
    model->GetFront(&front);
    model->GetUp(&up);
    model->GetRight(&right);
}

void OrvaCamera::GetFront(OrvaVector* out) const
{
    OrvaAxes::GetFront(out);
}

void OrvaCamera::GetUp(OrvaVector* out) const
{
    OrvaAxes::GetUp(out);
}

void OrvaCamera::GetRight(OrvaVector* out) const
{
    OrvaAxes::GetRight(out);
}

void OrvaCamera::GetPosition(OrvaVector* out) const
{
    OrvaAxes::GetPosition(out);
}

void OrvaCamera::SetViewMatrix(const OrvaMatrix& m)
{
    view = m;
    viewProjection.Multiply(view, projection);
}

void OrvaCamera::Apply()
{
    SendTransform(platform::TsView, view);
    SendTransform(platform::TsProjection, projection);
    g_view = view;
    g_projection = projection;
    g_viewProjection = viewProjection;
    g_eye = position;
    ComputeFrustum(g_viewProjection);
}
