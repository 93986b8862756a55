// The model module's mirror through a perspective camera: the reflection
// pass, clipped by the planes SetMirror puts on the device, shows the
// reflected cube only inside the mirror.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/mesh.h"
#include "engine/render/model.h"
#include "engine/render/shader.h"

namespace {

// Large enough that planes which drift with depth would show: at this
// size they would let the reflection past the mirror's edges by 3 pixels.
constexpr int kSize = 256;
constexpr uint32_t kClear = 0xFF000000u;
std::vector<uint32_t> g_frame;

void Capture(const uint32_t* argb, int width, int height, int pitchBytes)
{
    g_frame.assign(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&g_frame[static_cast<size_t>(y) * width],
                    reinterpret_cast<const uint8_t*>(argb) + static_cast<size_t>(y) * pitchBytes,
                    static_cast<size_t>(width) * 4);
    }
}

class MirrorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OrvaDevice::Configure(kSize, kSize, true, &Capture);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        OrvaEffect::Initialize();
        OrvaCamera::Initialize();
        ASSERT_TRUE(OrvaShader::Initialize());
        OrvaMesh::Initialize();
        OrvaMath::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
        camera = OrvaCamera::Create();
        // 60 degrees, square: x / z = 1 / sqrt(3) reaches the frame's edge.
        camera->SetPerspective(60.0f, 1.0f, 100.0f, 1.0f);
        const OrvaVector eye(0, 0, 0), target(0, 0, 1);
        camera->LookAt(&eye, &target, nullptr);
        camera->UpdateView();
        camera->Apply();
    }
    void TearDown() override
    {
        OrvaModel::Destroy();
        OrvaShader::Destroy();
        OrvaCamera::Destroy();
        OrvaEffect::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
    }
    std::vector<uint32_t> Draw(OrvaModel* model, bool reflected, uint32_t planes)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        OrvaDevice::SetRenderState(platform::RsClipPlaneEnable, planes);
        reflected ? model->RenderReflected() : model->Render();
        OrvaDevice::SetRenderState(platform::RsClipPlaneEnable, 0);
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }
    OrvaCamera* camera = nullptr;
};

// Where a point at (x, y, z) in front of the camera lands on the screen.
float ScreenX(float x, float z)
{
    return (1.0f + x / (z * std::tan(30.0f * 3.14159265f / 180.0f))) * kSize / 2;
}
float ScreenY(float y, float z)
{
    return (1.0f - y / (z * std::tan(30.0f * 3.14159265f / 180.0f))) * kSize / 2;
}

TEST_F(MirrorTest, ReflectionShowsOnlyInsideTheMirror)
{
    // A 2 x 2 mirror facing the camera at z = 6 and a cube beside it,
    // nearer the camera and up to the right: its reflection, behind the
    // mirror, reaches over the mirror's right and top edges.
    OrvaModel* cube = OrvaModel::CreateCube(1.0f, 1.0f, 1.0f, nullptr);
    cube->SetColorMode(kOrvaShaderDiffuse, -1);
    cube->RebuildShader(-1);
    cube->SetCulling(0, -1);
    cube->SetRenderState(platform::RsCullMode, platform::CullNone, -1, -1);
    cube->SetPosition(1.4f, 1.2f, 3.0f);
    cube->Update(0.0f);
    const OrvaVector p0(-1, 1, 6), p1(1, 1, 6), p2(-1, -1, 6), p3(1, -1, 6);
    OrvaModel::SetMirror(&p0, &p1, &p2, &p3);

    const std::vector<uint32_t> whole = Draw(cube, true, 0);
    const std::vector<uint32_t> clipped = Draw(cube, true, 0xF);
    const float left = ScreenX(-1, 6), right = ScreenX(1, 6), top = ScreenY(1, 6), bottom = ScreenY(-1, 6);
    int inside = 0, outside = 0;
    // For the failure message: '#' drawn inside the mirror, '!' drawn
    // outside it, '+' cut away.
    std::string picture;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const size_t i = static_cast<size_t>(y) * kSize + x;
            const bool inMirror = x > left && x < right && y > top && y < bottom;
            picture += clipped[i] != kClear ? (inMirror ? '#' : '!') : (whole[i] != kClear ? '+' : '.');
            if (whole[i] == kClear) {
                EXPECT_EQ(clipped[i], kClear) << x << "," << y;
            } else if (inMirror) {
                EXPECT_EQ(clipped[i], whole[i]) << x << "," << y;
                ++inside;
            } else {
                EXPECT_EQ(clipped[i], kClear) << x << "," << y;
                ++outside;
            }
        }
        picture += '\n';
    }
    EXPECT_GT(inside, 10) << picture;
    EXPECT_GT(outside, 10) << picture;
}

TEST_F(MirrorTest, PlanesAndPixelShadersLiveThroughADeviceReset)
{
    OrvaModel* cube = OrvaModel::CreateCube(1.0f, 1.0f, 1.0f, nullptr);
    cube->SetColorMode(kOrvaShaderDiffuse, -1);
    cube->RebuildShader(-1);
    cube->SetCulling(0, -1);
    cube->SetRenderState(platform::RsCullMode, platform::CullNone, -1, -1);
    cube->SetPosition(1.4f, 1.2f, 3.0f);
    cube->Update(0.0f);
    const OrvaVector p0(-1, 1, 6), p1(1, 1, 6), p2(-1, -1, 6), p3(1, -1, 6);
    OrvaModel::SetMirror(&p0, &p1, &p2, &p3);
    const std::vector<uint32_t> before = Draw(cube, true, 0xF);

    // A pixel shader made by the shader module, bound on the device.
    OrvaPixelShader* green = OrvaShader::CreatePixelShader();
    ASSERT_TRUE(green->CreateFromText("ps.1.1\ndef c0, 0, 1, 0, 1\nmov r0, c0\n"));
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    ASSERT_EQ(device->SetPixelShader(green->GetHandle()), platform::kGfxOk);
    OrvaDevice::SetRenderState(platform::RsClipPlaneEnable, 0xF);

    // Lost, then reset inside Present.
    device->SimulateLoss();
    EXPECT_FALSE(OrvaDevice::Present());
    EXPECT_EQ(device->TestCooperativeLevel(), platform::kGfxOk);
    // The reset unbinds the shader, the engine sends its cached states
    // again (the planes' enable bits among them) and the mirror's planes
    // come back.
    EXPECT_EQ(device->GetPixelShader(), 0u);
    uint32_t enabled = 0;
    device->GetRenderState(platform::RsClipPlaneEnable, &enabled);
    EXPECT_EQ(enabled, 0xFu);
    OrvaDevice::SetRenderState(platform::RsClipPlaneEnable, 0);
    EXPECT_EQ(Draw(cube, true, 0xF), before);

    // The shader is still there: bound again it colours the reflection.
    ASSERT_EQ(device->SetPixelShader(green->GetHandle()), platform::kGfxOk);
    const std::vector<uint32_t> shaded = Draw(cube, true, 0xF);
    int drawn = 0;
    for (size_t i = 0; i < shaded.size(); ++i) {
        EXPECT_EQ(shaded[i], before[i] != kClear ? 0xFF00FF00u : kClear) << i;
        drawn += before[i] != kClear;
    }
    EXPECT_GT(drawn, 10);
    // Left bound with the planes enabled: the modules' shut-down in
    // TearDown deletes the shader from under the binding.
    OrvaDevice::SetRenderState(platform::RsClipPlaneEnable, 0xF);
}

}  // namespace
