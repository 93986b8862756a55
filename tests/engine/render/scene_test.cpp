#include "engine/render/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/scene_item.h"
#include "engine/render/scene_layer.h"
#include "engine/render/scene_surface.h"
#include "platform/gfx/math3d.h"
#include "platform/gfx/soft_device.h"
#include "tests/engine/render/osf_test_data.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

using osftest::Bytes;
using osftest::Constant;
using osftest::Demo;
using osftest::Item;
using osftest::Key;

constexpr int kSize = 32;
constexpr uint32_t kClear = 0xFF000000u;
constexpr uint32_t kSquareColor = 0xFF20C040u;

std::string LogPath()
{
    return testing::TempDir() + "scene_test.log";
}

OrvaSceneItem* ItemAt(OrvaScene* scene, int32_t index)
{
    return scene->GetItem(0, index);
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::remove(LogPath().c_str());
        StartDevice(kSize, kSize);
        OrvaTexture::Initialize();
        OrvaCamera::Initialize();
        ASSERT_TRUE(OrvaScene::Initialize());
    }
    void TearDown() override
    {
        OrvaScene::Destroy();
        OrvaCamera::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove(LogPath().c_str());
    }
    static OrvaScene* Load(const OrvaOsf& doc)
    {
        const std::vector<uint8_t> bytes = Bytes(doc);
        return OrvaScene::LoadFromMemory(bytes.data(), bytes.size(), "scene.oag");
    }
    static void Frame(OrvaScene* scene)
    {
        ASSERT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(kClear);
        scene->Draw();
        OrvaDevice::EndScene();
        ASSERT_TRUE(OrvaDevice::Present());
    }
    static uint32_t Pixel(int x, int y) { return g_frame[static_cast<size_t>(y) * kSize + x]; }
};

TEST_F(SceneTest, LoadLogsEveryRecord)
{
    OrvaOsf doc;
    OrvaOsf::Model& model = doc.models.emplace_back();
    osftest::Name(model.record.name, "m");
    OrvaOsf::Layer layer = osftest::Square(kSquareColor);
    layer.surfaces = {osftest::Surface("t", 0, 6), osftest::Surface("t", 6, 0)};
    model.layers.push_back(layer);
    doc.hasScene = true;
    osftest::Name(doc.scene.name, "s");
    doc.scene.firstFrame = 1;
    doc.scene.lastFrame = 60;
    doc.scene.aspect = 1.5f;
    doc.scene.fovA = 0.25f;
    doc.scene.fovB = 0.75f;
    doc.hasCamera = true;
    doc.camera = Item("cam", 3, -1);
    doc.camera.channels[2].keys = {Key(3, 0.0f, -5.0f), Key(3, 10.0f, -6.0f)};
    doc.items = {Item("m", 0, -1)};

    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaScene* scene = Load(doc);
    ASSERT_NE(scene, nullptr);
    // The texture module's own lines follow the arrow.
    const std::string head = "○ LoadScene ID [" + Hex(scene) + "] / Model [1] {\n" +
                             "    [m] / Layer [1] {\n"
                             "      Vertex {\n"
                             "        { Vertex [4], Polygon [2], Surface [2] }\n"
                             "      }\n"
                             "      Material {\n"
                             "          { [0] -> [6], [t] }\n"
                             "          -> ";
    std::string expected = "          { [6] -> [0], [t] }\n"
                           "      }\n"
                           "    }\n"
                           "} Load Scene Data [s] {\n"
                           "    Frame [1] -> [60]\n"
                           "    Camera Fov(0.250, 0.750), Aspect 1.500\n"
                           "    { [cam] ParentItem [3] ParentNo [-1] }\n";
    for (int c = 0; c < 9; ++c) {
        expected += "       { Channnel " + std::to_string(c) + " { Keys [" + (c == 2 ? "2" : "0") + "] } }\n";
    }
    expected += "    { [m] ParentItem [0] ParentNo [-1] }\n}\n";
    const std::string log = ReadFile(LogPath());
    EXPECT_EQ(log.substr(0, head.size()), head);
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
    const std::string texture = "○ CreateTexture / ID [" + Hex(scene->FindTexture("t")) + "]";
    EXPECT_NE(log.find(texture, head.size()), std::string::npos);

    std::remove(LogPath().c_str());
    scene->Release();
    const std::string released = "● ReleaseScene ID [" + Hex(scene) + "]\n";
    const std::string tail = ReadFile(LogPath());
    ASSERT_GE(tail.size(), released.size());
    EXPECT_EQ(tail.substr(tail.size() - released.size()), released);
}

TEST_F(SceneTest, FaultsAreLoggedAndTheSceneIsStillReturned)
{
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaScene* missing = OrvaScene::Load("/nonexistent/folder/none.osf", nullptr);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(ReadFile(LogPath()), "○ LoadScene ID [" + Hex(missing) + "] / ERROR : ファイル[/nonexistent/folder/none.osf]が読めません\n}\n");
    EXPECT_EQ(missing->GetLayerCount(), 0);
    EXPECT_EQ(OrvaScene::GetCount(), 1);

    std::vector<uint8_t> bytes = Bytes(OrvaOsf());
    bytes[2] = 'F';
    std::remove(LogPath().c_str());
    OrvaScene* notOsf = OrvaScene::LoadFromMemory(bytes.data(), bytes.size(), nullptr);
    EXPECT_EQ(ReadFile(LogPath()), "○ LoadScene ID [" + Hex(notOsf) + "] / ERROR : 正しいOSFファイルではありません\n}\n");

    OrvaOsf doc;
    doc.hasScene = true;
    doc.sceneHeader.version = 0x20000;
    bytes = Bytes(doc);
    std::remove(LogPath().c_str());
    OrvaScene* version = OrvaScene::LoadFromMemory(bytes.data(), bytes.size(), nullptr);
    EXPECT_EQ(ReadFile(LogPath()), "○ LoadScene ID [" + Hex(version) + "] / Model [0] {\n} ERROR : 正しいバージョンではありません\n}\n");
    EXPECT_EQ(OrvaScene::GetCount(), 3);
    EXPECT_EQ(version->GetItem(3, 0), nullptr);
    version->Update(0.0f);   // nothing to pose, nothing to fail
}

TEST_F(SceneTest, BuildsLayersSurfacesTexturesAndItems)
{
    OrvaScene* scene = Load(Demo());
    ASSERT_EQ(scene->GetLayerCount(), 3);
    EXPECT_STREQ(scene->GetLayer(0)->GetName(), "square");
    EXPECT_STREQ(scene->GetLayer(1)->GetName(), "pair");
    EXPECT_STREQ(scene->GetLayer(2)->GetName(), "pair");
    EXPECT_EQ(scene->GetLayer(3), nullptr);
    EXPECT_TRUE(scene->GetLayer(0)->HasBuffers());

    // The empty surface is skipped; both "wall" surfaces share one entry.
    const OrvaObjectList& surfaces = scene->GetLayer(0)->GetSurfaces();
    ASSERT_EQ(surfaces.GetCount(), 2);
    const auto* first = static_cast<const OrvaSceneSurface*>(surfaces.GetAt(0));
    const auto* second = static_cast<const OrvaSceneSurface*>(surfaces.GetAt(1));
    EXPECT_EQ(second->GetFirstIndex(), 3);
    EXPECT_EQ(second->GetIndexCount(), 3);
    EXPECT_NE(first->GetTexture(), nullptr);
    EXPECT_EQ(first->GetTexture(), second->GetTexture());
    EXPECT_EQ(scene->GetTextureCount(), 2);
    EXPECT_EQ(first->GetZEnable(), 1);
    EXPECT_EQ(first->IsDoubleSided(), 0);

    ASSERT_EQ(scene->GetItemCount(), 3);
    OrvaSceneItem* camera = scene->GetItem(3, 12345);
    ASSERT_NE(camera, nullptr);
    EXPECT_STREQ(camera->GetName(), "Camera");
    EXPECT_EQ(camera->GetParent(), nullptr);
    OrvaSceneItem* square = ItemAt(scene, 0);
    OrvaSceneItem* ghost = ItemAt(scene, 1);
    OrvaSceneItem* pair = ItemAt(scene, 2);
    EXPECT_EQ(ItemAt(scene, 3), nullptr);
    EXPECT_EQ(scene->GetItem(0, -1), nullptr);
    EXPECT_EQ(square->GetLayer(), scene->GetLayer(0));
    EXPECT_EQ(ghost->GetLayer(), nullptr);
    EXPECT_EQ(pair->GetLayer(), scene->GetLayer(1));   // the first of the model's layers
    EXPECT_EQ(square->GetParent(), nullptr);
    EXPECT_EQ(ghost->GetParent(), square);
    EXPECT_EQ(pair->GetParent(), camera);               // ParentItem 3 wins over ParentNo

    EXPECT_EQ(scene->GetFirstFrame(), 0);
    EXPECT_EQ(scene->GetLastFrame(), 100);
    EXPECT_EQ(scene->GetFrameParameter(), 9);
    EXPECT_EQ(scene->GetFrameParameterA(), 7);
    EXPECT_STREQ(scene->GetName(), "demo");
    EXPECT_STREQ(scene->GetPackName(), "scene.oag");
    OrvaMatrix expected;
    expected = platform::MatrixPerspectiveFovLH(1.0f, 1.0f, 1.0f, 10000.0f);
    EXPECT_EQ(std::memcmp(scene->GetProjection().GetData(), expected.GetData(), 64), 0);
    scene->SetClip(2.0f, 200.0f);
    EXPECT_FLOAT_EQ(scene->GetProjection().GetElement(3, 3), 200.0f / 198.0f);
    EXPECT_FLOAT_EQ(scene->GetProjection().GetElement(4, 3), -2.0f * 200.0f / 198.0f);
}

TEST_F(SceneTest, ALoadedFileMatchesTheBytesInMemory)
{
    const std::string path = testing::TempDir() + "scene_test.osf";
    ASSERT_TRUE(Demo().Save(path.c_str()));
    OrvaScene* scene = OrvaScene::Load(path.c_str(), "");
    std::remove(path.c_str());
    EXPECT_EQ(scene->GetLayerCount(), 3);
    EXPECT_EQ(scene->GetItemCount(), 3);
    EXPECT_STREQ(scene->GetPackName(), "");
    EXPECT_EQ(scene->GetLayer(2)->GetVertices()[1].color, 0xFFFF0000u);
}

TEST_F(SceneTest, HostileReferencesAreCut)
{
    OrvaOsf doc = Demo();
    doc.models[0].layers[0].surfaces = {osftest::Surface("wall", 4, 6), osftest::Surface("wall", -3, 3),
                                        osftest::Surface("wall", 0x7FFFFFFF, 3), osftest::Surface("wall", 0, 6)};
    doc.camera.record.parentItem = 3;                     // itself
    doc.items = {Item("square", 0, 0),                    // itself
                 Item("b", 0, 2), Item("c", 0, 1),        // each other
                 Item("d", 0, 99)};                       // past the end
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaScene* scene = Load(doc);
    EXPECT_NE(ReadFile(LogPath()).find("ERROR : サーフェスのインデックスが範囲外です [4] -> [6] / Index [6]\n"), std::string::npos);
    EXPECT_EQ(scene->GetLayer(0)->GetSurfaces().GetCount(), 1);
    EXPECT_EQ(scene->GetItem(3, 0)->GetParent(), nullptr);
    EXPECT_EQ(ItemAt(scene, 0)->GetParent(), nullptr);
    EXPECT_EQ(ItemAt(scene, 1)->GetParent(), ItemAt(scene, 2));
    EXPECT_EQ(ItemAt(scene, 2)->GetParent(), nullptr);
    EXPECT_EQ(ItemAt(scene, 3)->GetParent(), nullptr);
    scene->Update(5.0f);   // the walks end
    Frame(scene);

    // Numbers no scene should hold still pose and draw without harm.
    doc = Demo();
    Constant(&doc.items[0], 0, NAN);
    Constant(&doc.items[0], 6, 3.0e38f);
    Constant(&doc.items[2], 3, -INFINITY);
    Constant(&doc.camera, 1, 1.0e30f);
    scene->Release();
    scene = Load(doc);
    scene->Update(1.0e20f);
    Frame(scene);
    EXPECT_EQ(Pixel(0, 0), kClear);
}

TEST_F(SceneTest, UpdatePosesItemsFromTheirChannels)
{
    OrvaOsf doc = Demo();
    OrvaOsf::Item& square = doc.items[0];
    // Scale x keyed from 0 to 10, reset outside; no other keys.
    square.channels[6].keys = {Key(3, 0.0f, 2.0f), Key(3, 10.0f, 2.0f)};
    Constant(&doc.items[1], 3, 16384.9f);
    Constant(&doc.items[2], 3, -16384.9f);
    OrvaScene* scene = Load(doc);
    scene->Update(5.0f);
    const OrvaMatrix& local = ItemAt(scene, 0)->GetLocal();
    EXPECT_EQ(local.GetElement(1, 1), 2.0f);
    EXPECT_EQ(local.GetElement(2, 2), 1.0f);   // no keys: scale 1
    EXPECT_EQ(local.GetElement(4, 1), 0.0f);   // no keys: position 0
    scene->Update(-1.0f);
    EXPECT_EQ(ItemAt(scene, 0)->GetLocal().GetElement(1, 1), 0.0f);
    EXPECT_EQ(ItemAt(scene, 0)->GetValue(OrvaSceneItem::kValueScaleX), 0.0f);

    OrvaMatrix quarter;
    quarter.RotationY(16384);
    for (int e = 0; e < 16; ++e) {
        EXPECT_EQ(ItemAt(scene, 1)->GetLocal().GetData()[e], quarter.GetData()[e]) << e;
    }
    quarter.RotationY(-16384);
    for (int e = 0; e < 16; ++e) {
        EXPECT_EQ(ItemAt(scene, 2)->GetLocal().GetData()[e], quarter.GetData()[e]) << e;
    }
    EXPECT_EQ(OrvaSceneItem::ToAngle(16384.9f), 16384);
    EXPECT_EQ(OrvaSceneItem::ToAngle(-16384.9f), -16384);
    EXPECT_EQ(OrvaSceneItem::ToAngle(65536.0f * 3.0f + 5.5f), 5);
    EXPECT_EQ(OrvaSceneItem::ToAngle(NAN), 0);
}

// An item turns by bank, then pitch, then heading (row vectors: RZ x RX x
// RY). A quarter of pitch takes +y to +z, a quarter of heading then takes
// +z to +x; the other order would leave +y on +z.
TEST_F(SceneTest, ItemsPitchBeforeTheyHead)
{
    OrvaOsf doc = Demo();
    Constant(&doc.items[0], 4, 16384.0f);   // pitch
    Constant(&doc.items[0], 3, 16384.0f);   // heading
    Constant(&doc.items[1], 4, 4000.0f);
    Constant(&doc.items[1], 3, 9000.0f);
    Constant(&doc.items[1], 5, 20000.0f);   // bank
    OrvaScene* scene = Load(doc);
    scene->Update(0.0f);
    const OrvaMatrix& local = ItemAt(scene, 0)->GetLocal();
    const float rows[3][3] = {{0.0f, 0.0f, -1.0f}, {1.0f, 0.0f, 0.0f}, {0.0f, -1.0f, 0.0f}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(local.GetElement(r + 1, c + 1), rows[r][c], 1e-6f) << r << "," << c;
        }
    }
    // Any three angles: the product in that order.
    OrvaMatrix bank, pitch, heading, want;
    bank.RotationZ(20000);
    pitch.RotationX(4000);
    heading.RotationY(9000);
    want.Multiply(bank, pitch);
    want.Multiply(heading);
    for (int r = 1; r <= 4; ++r) {
        for (int c = 1; c <= 4; ++c) {
            EXPECT_NEAR(ItemAt(scene, 1)->GetLocal().GetElement(r, c), want.GetElement(r, c), 1e-6f) << r << "," << c;
        }
    }
}

TEST_F(SceneTest, ChildrenFollowParentsAndTheCameraFollowsItsParent)
{
    OrvaOsf doc = Demo();
    Constant(&doc.items[0], 0, 3.0f);        // square at x 3,
    Constant(&doc.items[0], 3, 16384.0f);    // turned a quarter about y
    Constant(&doc.items[1], 1, 2.0f);        // ghost 2 up and 1 along z from it
    Constant(&doc.items[1], 2, 1.0f);
    doc.camera.record.parentItem = 0;        // the camera rides on the square
    doc.camera.record.parentNo = 0;
    OrvaScene* scene = Load(doc);
    scene->Update(0.0f);
    const OrvaMatrix& world = ItemAt(scene, 1)->GetWorld();
    EXPECT_NEAR(world.GetElement(4, 1), 4.0f, 1e-6);
    EXPECT_NEAR(world.GetElement(4, 2), 2.0f, 1e-6);
    EXPECT_NEAR(world.GetElement(4, 3), 0.0f, 1e-6);

    // The camera's place in the world (its local 10 back along z, through
    // the square's turn and move) goes back to the origin through the view.
    OrvaMatrix cameraWorld;
    cameraWorld.Multiply(scene->GetItem(3, 0)->GetLocal(), ItemAt(scene, 0)->GetLocal());
    OrvaVector eye(cameraWorld.GetElement(4, 1), cameraWorld.GetElement(4, 2), cameraWorld.GetElement(4, 3));
    EXPECT_NEAR(eye.x, -7.0f, 1e-5);
    OrvaVector seen;
    seen.Transform(eye, scene->GetView());
    EXPECT_NEAR(seen.x, 0.0f, 1e-5);
    EXPECT_NEAR(seen.y, 0.0f, 1e-5);
    EXPECT_NEAR(seen.z, 0.0f, 1e-5);
    EXPECT_EQ(std::memcmp(scene->GetItem(3, 0)->GetWorld().GetData(), scene->GetView().GetData(), 64), 0);
    OrvaMatrix global;
    OrvaCamera::GetView(&global);
    EXPECT_EQ(std::memcmp(global.GetData(), scene->GetView().GetData(), 64), 0);
}

TEST_F(SceneTest, DrawsOnlyItemsInView)
{
    OrvaOsf doc = Demo();
    Constant(&doc.items[2], 2, 20.0f);   // the pair, 20 ahead of the camera, behind the square
    OrvaScene* scene = Load(doc);
    scene->Update(0.0f);
    EXPECT_EQ(ItemAt(scene, 0)->IsVisible(), 1);
    EXPECT_EQ(ItemAt(scene, 1)->IsVisible(), 0);   // no layer
    EXPECT_EQ(ItemAt(scene, 2)->IsVisible(), 1);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kSquareColor);
    EXPECT_EQ(Pixel(0, 0), kClear);

    // Moved out of view, the square is skipped and the pair shows.
    doc.items[0].channels[0].keys = {Key(3, 0.0f, 0.0f), Key(3, 10.0f, 1000.0f)};
    scene->Release();
    scene = Load(doc);
    scene->Update(10.0f);
    EXPECT_EQ(ItemAt(scene, 0)->IsVisible(), 0);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), 0xFF0000FFu);
}

// Scene surfaces are single-sided: drawn with counter-clockwise culling, so
// a layer wound the other way round, facing away from the camera, shows
// nothing.
TEST_F(SceneTest, SingleSidedSurfacesCullTheirBacks)
{
    OrvaOsf doc = Demo();
    doc.items.resize(1);
    OrvaScene* scene = Load(doc);
    scene->Update(0.0f);
    OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
    Frame(scene);
    EXPECT_EQ(OrvaDevice::GetRenderState(platform::RsCullMode), static_cast<uint32_t>(platform::CullCcw));
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kSquareColor);
    EXPECT_EQ(Pixel(kSize / 2 - 1, kSize / 2 - 1), kSquareColor);

    doc.models[0].layers[0].indices = {0, 2, 1, 2, 0, 3};
    scene->Release();
    scene = Load(doc);
    scene->Update(0.0f);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kClear);
    EXPECT_EQ(Pixel(kSize / 2 - 1, kSize / 2 - 1), kClear);
}

TEST_F(SceneTest, SceneColourMultipliesVertexColours)
{
    OrvaScene* scene = Load(Demo());
    scene->SetColor(0.5f, 1.0f, 0.5f, 1.0f);
    scene->Update(0.0f);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), 0x80206040u);
    // The program gets the colour; the geometry keeps the file's colours.
    float constant[4] = {};
    OrvaDevice::GetDevice()->GetVertexShaderConstant(4, constant, 1);
    EXPECT_EQ(constant[0], 1.0f);
    EXPECT_EQ(constant[1], 0.5f);
    EXPECT_EQ(constant[3], 0.5f);
    EXPECT_EQ(scene->GetLayer(0)->GetVertices()[0].color, kSquareColor);
    scene->SetColor(1.0f, 1.0f, 1.0f, 1.0f);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kSquareColor);
}

TEST_F(SceneTest, TheProgramGetsTheTransposedWorldViewProjection)
{
    OrvaOsf doc = Demo();
    Constant(&doc.items[0], 0, 0.5f);
    doc.items.resize(1);
    OrvaScene* scene = Load(doc);
    scene->Update(0.0f);
    Frame(scene);
    OrvaMatrix expected;
    expected.Multiply(ItemAt(scene, 0)->GetWorld(), scene->GetView());
    expected.Multiply(scene->GetProjection());
    float constants[16] = {};
    OrvaDevice::GetDevice()->GetVertexShaderConstant(0, constants, 4);
    for (int r = 1; r <= 4; ++r) {
        for (int c = 1; c <= 4; ++c) {
            EXPECT_FLOAT_EQ(constants[(c - 1) * 4 + (r - 1)], expected.GetElement(r, c)) << r << "," << c;
        }
    }
    // The square moved right by half a unit at 10 units: its centre is now
    // right of the frame's middle.
    EXPECT_EQ(Pixel(kSize / 2 + 3, kSize / 2), kSquareColor);
}

TEST_F(SceneTest, DeviceResetRebuildsTheLayers)
{
    OrvaScene* scene = Load(Demo());
    scene->Update(0.0f);
    OrvaScene::OnLostDevice();
    EXPECT_FALSE(scene->GetLayer(0)->HasBuffers());
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kClear);
    OrvaScene::OnResetDevice();
    EXPECT_TRUE(scene->GetLayer(0)->HasBuffers());
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    scene->Update(0.0f);
    Frame(scene);
    EXPECT_EQ(Pixel(kSize / 2, kSize / 2), kSquareColor);
}

TEST_F(SceneTest, ALensWithoutAProjectionKeepsTheOldOne)
{
    OrvaOsf doc = Demo();
    doc.scene.aspect = 0.0f;
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaScene* scene = Load(doc);
    OrvaMatrix identity;
    identity.Identity();
    EXPECT_EQ(std::memcmp(scene->GetProjection().GetData(), identity.GetData(), 64), 0);
    EXPECT_NE(ReadFile(LogPath()).find("ERROR : カメラの設定が不正です"), std::string::npos);
    doc.scene.aspect = 1.0f;
    scene->Release();
    scene = Load(doc);
    scene->SetClip(5.0f, 5.0f);
    EXPECT_FLOAT_EQ(scene->GetProjection().GetElement(3, 3), 10000.0f / 9999.0f);
}

TEST_F(SceneTest, DestroyReleasesEveryScene)
{
    Load(Demo());
    Load(Demo());
    EXPECT_EQ(OrvaScene::GetCount(), 2);
    EXPECT_NE(OrvaScene::GetShaderHandle(), OrvaScene::kNoShader);
    OrvaDebug::SetLogPath(LogPath().c_str());
    OrvaScene::Destroy();
    EXPECT_EQ(OrvaScene::GetCount(), 0);
    EXPECT_EQ(OrvaScene::GetShaderHandle(), OrvaScene::kNoShader);
    const std::string log = ReadFile(LogPath());
    EXPECT_EQ(log.rfind("\n============================================== Destroy Scene\n", 0), 0u);
    EXPECT_NE(log.find("● ReleaseScene ID ["), std::string::npos);
}

}  // namespace
