// Scenes: the module's shader, loading from OSF files, posing the items at a
// time and drawing the layers of the items in view.
#include "engine/render/scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/texture.h"
#include "engine/render/camera.h"
#include "engine/render/osf.h"
#include "engine/render/scene_item.h"
#include "engine/render/scene_layer.h"
#include "engine/render/scene_surface.h"
#include "engine/render/scene_texture.h"
#include "platform/gfx/math3d.h"
#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"
#include "platform/sys/file.h"

namespace {

constexpr auto& Scenes = OrvaModuleList<OrvaModule::Scene>;

// The scenes' vertex program: positions through c0 to c3 (the item's
// world x view x projection, transposed), vertex colours times the scene
// colour in c4, texture coordinates as they are.
uint32_t g_shader = OrvaScene::kNoShader;

constexpr char kShaderText[] =
    "vs.1.1\t\t\t\t\t\t\n"
    "\t\t\t\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "; 座標変換\t\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "m4x4\toPos,\t\tv0,\t\t\tc[0]\t\t\n"
    "\t\t\t\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "; 頂点カラー\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "mul\toD0,\t\tv1,\t\t\tc[4]\t\t\n"
    "\t\t\t\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "; テクスチャ\t\t\t\t\t\n"
    ";------------------------------------------------------\n"
    "mov\toT0,\t\tv2\t\t\t\t\n"
    "\t\t\t\t\t\t\t\t\n";

// Stream 0: v0 position, v1 colour, v2 texture coordinates (OrvaSceneVertex).
constexpr uint32_t kShaderDeclaration[] = {
    platform::DeclStream(0),
    platform::DeclReg(0, platform::DeclFloat3),
    platform::DeclReg(1, platform::DeclColor),
    platform::DeclReg(2, platform::DeclFloat2),
    platform::kDeclEnd,
};

// Asks the device to process the scene's vertices in software.
constexpr uint32_t kUsageSoftwareProcessing = 0x10;

constexpr double kPi = 3.14159265358979323846;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Assembles the program and makes it on the device; kNoShader when either
// step fails.
uint32_t MakeShader()
{
    platform::ShaderAsmResult assembled;
    if (!platform::AssembleShader(kShaderText, sizeof kShaderText - 1, &assembled)) {
        OrvaDebug::Log("ERROR : シーン用の頂点シェーダーをアセンブルできません [%s]\n", assembled.error.c_str());
        return OrvaScene::kNoShader;
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr) {
        OrvaDebug::Log("ERROR : シーン用の頂点シェーダーを作成できません [no device]\n");
        return OrvaScene::kNoShader;
    }
    uint32_t handle = OrvaScene::kNoShader;
    const uint32_t usage = OrvaDevice::IsSoftwareVertexProcessing() ? kUsageSoftwareProcessing : 0u;
    const platform::GfxResult r =
        device->CreateVertexShader(kShaderDeclaration, assembled.code.data(),
                                   static_cast<uint32_t>(assembled.code.size()), &handle, usage);
    if (r != platform::kGfxOk) {
        OrvaDebug::Log("ERROR : シーン用の頂点シェーダーを作成できません [%s]\n", OrvaDevice::GetErrorString(r));
        return OrvaScene::kNoShader;
    }
    return handle;
}

}  // namespace

// Builds a scene from what the OSF reader hands over, logging as it goes.
class OrvaScene::Loader : public OrvaOsfVisitor {
public:
    explicit Loader(OrvaScene* target) : scene(target) {}

    void OnModelCount(int32_t count) override { OrvaDebug::Log("Model [%d] {\n", count); }
    void OnModel(const OsfModelRecord& model) override
    {
        OrvaDebug::Log("    [%s] / Layer [%d] {\n", model.name, model.layerCount);
        std::memcpy(modelName, model.name, sizeof modelName);
    }
    void OnLayerBegin() override { OrvaDebug::Log("      Vertex {\n"); }
    void OnLayerHeader(const OsfLayerHeader& header) override
    {
        OrvaDebug::Log("        { Vertex [%d], Polygon [%d], Surface [%d] }\n", header.vertexCount,
                       header.indexCount / 3, header.surfaceCount);
        OrvaDebug::Log("      }\n");
    }
    void OnLayerData(const OsfLayerHeader& header, const OrvaSceneVertex* vertices, int32_t vertexCount,
                     const uint16_t* indices, int32_t indexCount) override
    {
        layer = new (std::nothrow) OrvaSceneLayer();
        if (layer != nullptr) {
            scene->layers.PushBack(layer);
            layer->SetGeometry(modelName, header, vertices, vertexCount, indices, indexCount);
            layer->CreateBuffers();
        }
        OrvaDebug::Log("      Material {\n");
    }
    void OnSurface(const OsfSurfaceRecord& record) override
    {
        OrvaDebug::Log("          { [%d] -> [%d], [%s] }\n", record.firstIndex, record.indexCount, record.name);
        if (record.indexCount <= 0 || layer == nullptr) {
            return;
        }
        // A run outside the layer's indices would draw from past its index
        // buffer.
        const int64_t end = static_cast<int64_t>(record.firstIndex) + record.indexCount;
        if (record.firstIndex < 0 || end > layer->GetIndexCount()) {
            OrvaDebug::Log("ERROR : サーフェスのインデックスが範囲外です [%d] -> [%d] / Index [%d]\n",
                           record.firstIndex, record.indexCount, layer->GetIndexCount());
            return;
        }
        // Surfaces log nothing themselves, so the texture may come first.
        OrvaTexture* texture = scene->FindTexture(record.name);
        layer->AddSurface(new (std::nothrow) OrvaSceneSurface(record.firstIndex, record.indexCount, texture));
    }
    void OnLayerEnd() override { OrvaDebug::Log("      }\n"); }
    void OnModelEnd() override { OrvaDebug::Log("    }\n"); }
    void OnSceneBegin() override { OrvaDebug::Log("} "); }
    void OnScene(const OsfSceneRecord& record) override
    {
        std::memcpy(scene->sceneName, record.name, sizeof scene->sceneName);
        scene->firstFrame = record.firstFrame;
        scene->lastFrame = record.lastFrame;
        scene->frameParameterA = record.frameParameterA;
        scene->frameParameterB = record.frameParameterB;
        scene->fovA = record.fovA;
        scene->fovB = record.fovB;
        scene->aspect = record.aspect;
        OrvaDebug::Log("Load Scene Data [%s] {\n", scene->sceneName);
        OrvaDebug::Log("    Frame [%d] -> [%d]\n", scene->firstFrame, scene->lastFrame);
        OrvaDebug::Log("    Camera Fov(%.3lf, %.3lf), Aspect %.3lf\n", static_cast<double>(scene->fovA),
                       static_cast<double>(scene->fovB), static_cast<double>(scene->aspect));
        scene->UpdateProjection();
    }
    void OnItem(bool camera, const OsfItemRecord& record) override
    {
        OrvaDebug::Log("    { [%s] ParentItem [%d] ParentNo [%d] }\n", record.name, record.parentItem,
                       record.parentNo);
        item = new (std::nothrow) OrvaSceneItem();
        if (item == nullptr) {
            return;
        }
        item->SetRecord(record);
        if (camera) {
            delete scene->camera;
            scene->camera = item;
            return;
        }
        scene->items.PushBack(item);
        for (OrvaObject* o = scene->layers.GetHead(); o != nullptr; o = o->GetNext()) {
            OrvaSceneLayer* l = static_cast<OrvaSceneLayer*>(o);
            if (std::strcmp(l->GetName(), item->GetName()) == 0) {
                item->SetLayer(l);
                break;
            }
        }
    }
    void OnChannel(bool camera, int32_t index, const OsfChannelHeader& header, const OsfKey* keys,
                   int32_t keyCount) override
    {
        if (camera) {
            OrvaDebug::Log("       { Channnel %d { Keys [%d] } }\n", index, header.keyCount);
        }
        OrvaSceneChannel* channel = item != nullptr ? item->GetChannel(index) : nullptr;
        if (channel == nullptr) {
            return;
        }
        channel->SetBehavior(header.preBehavior, header.postBehavior);
        OrvaSceneKey* k = channel->ResetKeys(keyCount);
        for (int32_t i = 0; k != nullptr && i < keyCount; ++i) {
            k[i].shape = keys[i].shape;
            k[i].time = keys[i].time;
            k[i].value = keys[i].value;
            std::memcpy(k[i].p, keys[i].p, sizeof k[i].p);
        }
    }

private:
    OrvaScene* scene = nullptr;
    OrvaSceneLayer* layer = nullptr;
    OrvaSceneItem* item = nullptr;
    char modelName[OrvaOsf::kNameBytes] = {};
};

OrvaScene::OrvaScene()
{
    projection.Identity();
    view.Identity();
    OrvaDebug::Log("○ LoadScene ID [0x%08X] / ", Address(this));
}

OrvaScene::~OrvaScene()
{
    delete camera;
    camera = nullptr;
    items.ReleaseAll();
    layers.ReleaseAll();
    textures.ReleaseAll();
    OrvaDebug::Log("● ReleaseScene ID [0x%08X]\n", Address(this));
}

bool OrvaScene::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize Scene\n");
    Scenes().Init();
    g_shader = MakeShader();
    OrvaDevice::AddResetWalkers(&OrvaScene::OnLostDevice, &OrvaScene::OnResetDevice);
    return true;
}

void OrvaScene::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Scene\n");
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (g_shader != kNoShader && device != nullptr) {
        device->DeleteVertexShader(g_shader);
    }
    g_shader = kNoShader;
    Scenes().ReleaseAll();
}

void OrvaScene::OnLostDevice()
{
    for (OrvaObject* s = Scenes().GetHead(); s != nullptr; s = s->GetNext()) {
        for (OrvaObject* l = static_cast<OrvaScene*>(s)->layers.GetHead(); l != nullptr; l = l->GetNext()) {
            static_cast<OrvaSceneLayer*>(l)->ReleaseBuffers();
        }
    }
}

void OrvaScene::OnResetDevice()
{
    for (OrvaObject* s = Scenes().GetHead(); s != nullptr; s = s->GetNext()) {
        static_cast<OrvaScene*>(s)->RebuildBuffers();
    }
}

int32_t OrvaScene::GetCount()
{
    return Scenes().GetCount();
}

uint32_t OrvaScene::GetShaderHandle()
{
    return g_shader;
}

OrvaScene* OrvaScene::Create(const char* pack)
{
    OrvaScene* scene = new (std::nothrow) OrvaScene();
    if (scene == nullptr) {
        OrvaDebug::Log("ERROR : シーンのメモリを確保できません\n");
        return nullptr;
    }
    Scenes().PushBack(scene);
    if (pack != nullptr && pack[0] != '\0') {
        std::snprintf(scene->packName, sizeof scene->packName, "%s", pack);
    }
    return scene;
}

OrvaScene* OrvaScene::Load(const char* path, const char* pack)
{
    OrvaScene* scene = Create(pack);
    if (scene == nullptr) {
        return nullptr;
    }
    OrvaApplication::SetCurrentDirectory();
    FILE* file = platform::OpenEngineFileStream(path);
    long size = -1;
    if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
        std::rewind(file);
    }
    std::vector<uint8_t> bytes;
    bool read = false;
    if (size >= 0) {
        try {
            bytes.resize(static_cast<size_t>(size));
            read = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
        } catch (const std::bad_alloc&) {
            read = false;
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!read) {
        OrvaDebug::Log("ERROR : ファイル[%s]が読めません\n", path != nullptr ? path : "(null)");
        OrvaDebug::Log("}\n");
        return scene;
    }
    scene->Read(bytes.data(), bytes.size());
    return scene;
}

OrvaScene* OrvaScene::LoadFromMemory(const uint8_t* bytes, size_t size, const char* pack)
{
    OrvaScene* scene = Create(pack);
    if (scene != nullptr) {
        scene->Read(bytes, size);
    }
    return scene;
}

void OrvaScene::Read(const uint8_t* bytes, size_t size)
{
    Loader loader(this);
    const OrvaOsfStatus status = OrvaOsf::Read(bytes, size, &loader);
    switch (status) {
    case OrvaOsfStatus::NotOsf:
    case OrvaOsfStatus::NotScene:
        OrvaDebug::Log("ERROR : 正しいOSFファイルではありません\n");
        break;
    case OrvaOsfStatus::WrongVersion:
        OrvaDebug::Log("ERROR : 正しいバージョンではありません\n");
        break;
    case OrvaOsfStatus::Truncated:
    case OrvaOsfStatus::Complete:
        // A file that ends early keeps its complete items, and they keep
        // their places in the hierarchy.
        LinkParents();
        break;
    }
    OrvaDebug::Log("}\n");
}

void OrvaScene::LinkParents()
{
    auto link = [this](OrvaSceneItem* item) {
        OrvaSceneItem* parent = nullptr;
        if (item->GetParentItem() == OrvaSceneItem::kParentCamera) {
            parent = camera;
        } else if (item->GetParentNo() >= 0) {
            parent = static_cast<OrvaSceneItem*>(items.GetAt(item->GetParentNo()));
        }
        // A reference that would close a loop (the camera naming itself, an
        // item naming itself or a descendant) is no parent.
        item->SetParent(parent);
    };
    if (camera != nullptr) {
        link(camera);
    }
    for (OrvaObject* o = items.GetHead(); o != nullptr; o = o->GetNext()) {
        link(static_cast<OrvaSceneItem*>(o));
    }
}

void OrvaScene::UpdateProjection()
{
    const bool lens = fovB > 0.0f && static_cast<double>(fovB) < kPi && aspect > 0.0f && std::isfinite(aspect) &&
                      std::isfinite(nearClip) && std::isfinite(farClip) && nearClip != farClip;
    if (!lens) {
        OrvaDebug::Log("ERROR : カメラの設定が不正です Fov(%.3lf), Aspect %.3lf, Clip(%.3lf, %.3lf)\n",
                       static_cast<double>(fovB), static_cast<double>(aspect), static_cast<double>(nearClip),
                       static_cast<double>(farClip));
        return;
    }
    projection = platform::MatrixPerspectiveFovLH(fovB, aspect, nearClip, farClip);
}

void OrvaScene::SetClip(float nearDistance, float farDistance)
{
    nearClip = nearDistance;
    farClip = farDistance;
    UpdateProjection();
}

void OrvaScene::SetColor(float a, float r, float g, float b)
{
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = a;
}

OrvaSceneItem* OrvaScene::GetItem(int32_t parentKind, int32_t index) const
{
    if (parentKind == OrvaSceneItem::kParentCamera) {
        return camera;
    }
    if (index < 0) {
        return nullptr;
    }
    return static_cast<OrvaSceneItem*>(items.GetAt(index));
}

OrvaSceneLayer* OrvaScene::GetLayer(int32_t index) const
{
    return index < 0 ? nullptr : static_cast<OrvaSceneLayer*>(layers.GetAt(index));
}

OrvaTexture* OrvaScene::FindTexture(const char* name)
{
    const char* wanted = name != nullptr ? name : "";
    for (OrvaObject* o = textures.GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaSceneTexture* entry = static_cast<OrvaSceneTexture*>(o);
        if (std::strcmp(entry->GetName(), wanted) == 0) {
            return entry->GetTexture();
        }
    }
    OrvaDebug::Log("          -> ");
    OrvaTexture* texture = OrvaTexture::CreateFromPack(packName, wanted, false, nullptr);
    OrvaSceneTexture* entry = new (std::nothrow) OrvaSceneTexture(wanted, texture);
    if (entry == nullptr) {
        // Without an entry nothing would release the texture later.
        if (texture != nullptr) {
            texture->Release();
        }
        return nullptr;
    }
    textures.PushBack(entry);
    return texture;
}

void OrvaScene::RebuildBuffers()
{
    for (OrvaObject* o = layers.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaSceneLayer*>(o)->CreateBuffers();
    }
}

void OrvaScene::Update(float time)
{
    if (camera != nullptr) {
        camera->Pose(time, true);
    }
    for (OrvaObject* o = items.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaSceneItem*>(o)->Pose(time, false);
    }
    if (camera != nullptr) {
        camera->ComputeView(&view);
        camera->SetWorld(view);
    } else {
        view.Identity();
    }
    for (OrvaObject* o = items.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaSceneItem*>(o)->ComputeWorld();
    }
    OrvaCamera::SetProjection(projection);
    OrvaCamera::SetView(view);
    OrvaCamera::UpdateTransforms();
    for (OrvaObject* o = items.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaSceneItem*>(o)->ComputeVisibility();
    }
}

void OrvaScene::Draw()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (g_shader == kNoShader || device == nullptr) {
        return;
    }
    OrvaDevice::SetRenderState(platform::RsLighting, 0);
    OrvaMatrix viewProjection;
    OrvaCamera::GetViewProjection(&viewProjection);
    OrvaDevice::SetVertexShader(g_shader);
    device->SetVertexShaderConstant(4, color, 1);
    OrvaMatrix constants;
    for (OrvaObject* o = items.GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaSceneItem* item = static_cast<OrvaSceneItem*>(o);
        OrvaSceneLayer* layer = item->GetLayer();
        if (item->IsVisible() == 0 || layer == nullptr || !layer->HasBuffers()) {
            continue;
        }
        constants.Multiply(item->GetWorld(), viewProjection);
        constants.Transpose();
        device->SetVertexShaderConstant(0, constants.GetData(), 4);
        device->SetStreamSource(0, layer->GetVertexBuffer(), OrvaSceneLayer::kVertexSize);
        device->SetIndices(layer->GetIndexBuffer(), 0);
        for (OrvaObject* s = layer->GetSurfaces().GetHead(); s != nullptr; s = s->GetNext()) {
            const OrvaSceneSurface* surface = static_cast<const OrvaSceneSurface*>(s);
            const int32_t primitives = surface->GetIndexCount() / 3;
            OrvaDevice::SetRenderState(platform::RsZEnable, static_cast<uint32_t>(surface->GetZEnable()));
            OrvaDevice::SetRenderState(platform::RsZWriteEnable, static_cast<uint32_t>(surface->GetZWrite()));
            OrvaDevice::SetRenderState(platform::RsCullMode,
                                       surface->IsDoubleSided() != 0 ? platform::CullNone : platform::CullCcw);
            OrvaDevice::SetTexture(surface->GetTexture(), 0);
            device->DrawIndexedPrimitive(platform::PrimTriangleList, 0,
                                         static_cast<uint32_t>(layer->GetVertexCount()),
                                         static_cast<uint32_t>(surface->GetFirstIndex()),
                                         static_cast<uint32_t>(primitives));
            OrvaApplication::AddPolygonCount(primitives);
        }
    }
}
