#pragma once
// Shared set-up of the mesh, skinned-mesh and animation tests: a tiny
// headless frame with an orthographic camera (one world unit per pixel,
// origin at the frame's centre, y up, depth 0 to 10), the log in a file,
// and a model's lists filled from an X file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/frame.h"
#include "engine/render/mesh.h"
#include "engine/render/model_loader.h"
#include "engine/render/shader.h"
#include "platform/gfx/xfile.h"
#include "tests/platform/gfx/xfile_writer.h"

namespace meshtest {

inline std::vector<uint32_t> g_frame;
inline int g_width = 0;

inline void CaptureFrame(const uint32_t* argb, int width, int height, int pitchBytes)
{
    g_frame.assign(static_cast<size_t>(width) * height, 0);
    g_width = width;
    for (int y = 0; y < height; ++y) {
        std::memcpy(&g_frame[static_cast<size_t>(y) * width],
                    reinterpret_cast<const uint8_t*>(argb) + static_cast<size_t>(y) * pitchBytes,
                    static_cast<size_t>(width) * 4);
    }
}

// One log per process: ctest runs the tests side by side.
inline std::string LogPath()
{
    return ::testing::TempDir() + "orva_mesh_test_" + std::to_string(getpid()) + ".log";
}

inline std::string ReadLog()
{
    std::ifstream in(LogPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Hex(const void* p)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

constexpr int kSize = 16;
constexpr uint32_t kClear = 0xFF000000u;

class MeshFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove(LogPath().c_str());
        OrvaDebug::SetLogPath(LogPath().c_str());
        OrvaDevice::Configure(kSize, kSize, true, &CaptureFrame);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        OrvaEffect::Initialize();
        OrvaCamera::Initialize();
        ASSERT_TRUE(OrvaShader::Initialize());
        OrvaMesh::Initialize();
        camera = OrvaCamera::Create();
        camera->SetOrtho(kSize, kSize, 0.0f, 10.0f);
        camera->UpdateView();
        camera->Apply();
        root = new OrvaFrame();
        root->SetName("MASTER_FRAME");
        frames.PushBack(root);
        parts.frames = &frames;
        parts.meshes = &meshes;
        parts.animations = &animations;
        parts.root = root;
        parts.modelBytes = 100;
    }
    void TearDown() override
    {
        meshes.ReleaseAll();
        animations.ReleaseAll();
        frames.ReleaseAll();
        OrvaDebug::SetLogPath(nullptr);
        OrvaShader::Destroy();
        OrvaCamera::Destroy();
        OrvaEffect::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        std::remove(LogPath().c_str());
    }
    // Reads the file and loads it into the lists; false when it does not parse.
    bool Load(const xtest::Bytes& bytes)
    {
        if (!file.Parse(bytes.data(), bytes.size(), &error)) {
            return false;
        }
        OrvaModelLoader loader(parts);
        loader.LoadFromXof(file, nullptr);
        return true;
    }
    OrvaMesh* MeshAt(int32_t i) { return static_cast<OrvaMesh*>(meshes.GetAt(i)); }
    OrvaFrame* FrameAt(int32_t i) { return static_cast<OrvaFrame*>(frames.GetAt(i)); }
    // Draws the meshes (world from their frame's combined matrix and the
    // given world) into a cleared frame and returns it.
    std::vector<uint32_t> DrawFrame(const OrvaMatrix* world = nullptr)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        OrvaMatrix identity;
        identity.Identity();
        for (OrvaObject* o = meshes.GetHead(); o != nullptr; o = o->GetNext()) {
            OrvaMesh* mesh = static_cast<OrvaMesh*>(o);
            OrvaMatrix out;
            mesh->UpdateWorld(&out, mesh->GetFrame() ? *mesh->GetFrame()->GetCombinedMatrix() : identity,
                              world ? *world : identity);
            mesh->UpdateBox(out);
            mesh->Draw();
        }
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    }
    // The pixels of the frame that are not the clear colour, as text rows.
    static std::string Covered(const std::vector<uint32_t>& frame)
    {
        std::string s;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                s += frame[static_cast<size_t>(y) * kSize + x] == kClear ? '.' : '#';
            }
            s += '\n';
        }
        return s;
    }
    // Rows of '.' with '#' where inside(x, y) holds.
    template <typename F>
    static std::string Expected(F inside)
    {
        std::string s;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) s += inside(x, y) ? '#' : '.';
            s += '\n';
        }
        return s;
    }

    OrvaCamera* camera = nullptr;
    OrvaFrame* root = nullptr;
    OrvaObjectList frames;
    OrvaObjectList meshes;
    OrvaObjectList animations;
    OrvaModelParts parts;
    platform::XFile file;
    std::string error;
};

}  // namespace meshtest
