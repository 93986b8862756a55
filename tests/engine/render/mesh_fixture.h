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
#include "tests/engine/render/ortho_view.h"
#include "tests/platform/gfx/xfile_writer.h"

namespace meshtest {

using orvatest::g_frame;
using orvatest::Hex;

// One log per process: ctest runs the tests side by side.
inline std::string LogPath()
{
    return ::testing::TempDir() + "orva_mesh_test_" + std::to_string(getpid()) + ".log";
}

inline std::string ReadLog()
{
    return orvatest::ReadFile(LogPath());
}

constexpr int kSize = 16;
constexpr uint32_t kClear = 0xFF000000u;

class MeshFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove(LogPath().c_str());
        OrvaDebug::SetLogPath(LogPath().c_str());
        camera = orvatest::StartOrthoView(kSize, kSize, 10.0f);
        ASSERT_TRUE(OrvaShader::Initialize());
        OrvaMesh::Initialize();
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
        orvatest::StopOrthoView();
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
