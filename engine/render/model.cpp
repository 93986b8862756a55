#include "engine/render/model.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/math.h"
#include "engine/render/camera.h"
#include "engine/render/frame.h"
#include "engine/render/mesh.h"
#include "engine/render/model_loader.h"
#include "engine/render/quad_tree_node.h"

static constexpr auto& Models = OrvaModuleList<OrvaModule::Model>;
static OrvaMeshModuleState* g_moduleState = nullptr;

// The two world-composition temporaries: Update allocates nothing.
static OrvaMatrix g_scaling{};
static OrvaMatrix g_axes{};

// 65536 / 2 pi as the nearest f32, and pi as an f32: the angle getters'
// constants.
static constexpr float kAngleUnits = 10430.378f;
static constexpr float kPi = 3.1415927f;

// ---------------------------------------------------------------- module

bool OrvaModel::Initialize()
{
    Models().Init();
    OrvaMesh::Initialize();
    StartModuleState();
    return true;
}

void OrvaModel::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Model\n");
    // A model releasing its attached model inside the list walk could
    // destroy the member the walk reads next: drop every attachment first.
    std::vector<OrvaModel*> held;
    for (OrvaObject* o = Models().GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaModel* model = static_cast<OrvaModel*>(o);
        if (model->attached != nullptr) {
            held.push_back(model->attached);
            model->attached = nullptr;
        }
    }
    for (OrvaModel* model : held) {
        model->Release();
    }
    Models().ReleaseAll();
    StopModuleState();
}

OrvaObjectList* OrvaModel::GetModelList()
{
    return &Models();
}

void OrvaModel::SetModuleState(OrvaMeshModuleState* state)
{
    g_moduleState = state;
}

int32_t OrvaModel::GetCount()
{
    return Models().GetCount();
}

OrvaModel* OrvaModel::Create()
{
    OrvaModel* model = new (std::nothrow) OrvaModel();
    if (model == nullptr) {
        return nullptr;
    }
    Models().PushBack(model);
    return model;
}

OrvaModel::OrvaModel()
{
    world.Identity();
}

OrvaModel::~OrvaModel()
{
    frames.ReleaseAll();
    meshes.ReleaseAll();
    animations.ReleaseAll();
    quadTree.ReleaseAll();
    root = nullptr;
    if (attached != nullptr) {
        OrvaModel* held = attached;
        attached = nullptr;
        held->Release();
    }
    heightField.visibleMeshes.clear();
    heightField.visibleMeshes.shrink_to_fit();
    OrvaDebug::Log("● ReleaseModel / ID [0x%08X]\n", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)));
}

// ---------------------------------------------------------------- loading

OrvaModelParts OrvaModel::MakeParts()
{
    OrvaModelParts parts;
    parts.frames = &frames;
    parts.meshes = &meshes;
    parts.animations = &animations;
    parts.root = root;
    parts.modelBytes = static_cast<uint32_t>(sizeof(OrvaModel));
    return parts;
}

void OrvaModel::LoadFromXof(const platform::XFile& file, OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.LoadFromXof(file, progress);
}

void OrvaModel::LoadFrameTransform(const platform::XObject& object, OrvaFrame* frame, OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.LoadFrameTransform(object, frame, progress);
}

void OrvaModel::LoadFrame(const platform::XFile& file, const platform::XObject& object, OrvaFrame* parent,
                          OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.SetFile(&file);
    loader.LoadFrame(object, parent, progress);
}

void OrvaModel::LoadMesh(const platform::XFile& file, const platform::XObject& object, OrvaFrame* parent,
                         OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.SetFile(&file);
    loader.LoadMesh(object, parent, progress);
}

void OrvaModel::LoadAnimationSet(const platform::XFile& file, const platform::XObject& object,
                                 OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.SetFile(&file);
    loader.LoadAnimationSet(object, progress);
    loader.BindAnimations();
}

void OrvaModel::LoadAnimation(const platform::XFile& file, const platform::XObject& object, OrvaProgress progress)
{
    OrvaModelLoader loader(MakeParts());
    loader.SetFile(&file);
    loader.LoadAnimation(object, progress);
    loader.BindAnimations();
}

void OrvaModel::Animate(float time)
{
    OrvaModelLoader::Animate(&frames, time);
}

bool OrvaModel::GetFrameMatrix(OrvaMatrix* out, int32_t frameIndex, float time)
{
    return OrvaModelLoader::GetFrameMatrix(&frames, out, frameIndex, time);
}

OrvaFrame* OrvaModel::CreateRootFrame(const char* name)
{
    if (root != nullptr) {
        return nullptr;
    }
    OrvaFrame* frame = new (std::nothrow) OrvaFrame();
    if (frame == nullptr) {
        return nullptr;
    }
    frame->SetName(name);
    frames.PushFront(frame);
    root = frame;
    return frame;
}

OrvaMesh* OrvaModel::GetMesh(int32_t meshIndex) const
{
    return meshIndex < 0 ? nullptr : static_cast<OrvaMesh*>(meshes.GetAt(meshIndex));
}

OrvaFrame* OrvaModel::GetFrame(int32_t frameIndex) const
{
    return frameIndex < 0 ? nullptr : static_cast<OrvaFrame*>(frames.GetAt(frameIndex));
}

// ---------------------------------------------------------------- placement

OrvaVector* OrvaModel::GetPosition(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = position;
    }
    return out;
}

OrvaVector* OrvaModel::GetFront(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = front;
    }
    return out;
}

OrvaVector* OrvaModel::GetRight(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = right;
    }
    return out;
}

OrvaVector* OrvaModel::GetUp(OrvaVector* out) const
{
    if (out != nullptr) {
        *out = up;
    }
    return out;
}

void OrvaModel::GetViewPosition(OrvaVector* out) const
{
    if (out == nullptr) {
        return;
    }
    OrvaMatrix view;
    OrvaCamera::GetView(&view);
    out->Transform(position, view);
}

bool OrvaModel::GetScreenPosition(OrvaVector* out, float* outW) const
{
    if (out == nullptr) {
        return false;
    }
    OrvaMatrix m;
    OrvaCamera::GetViewProjection(&m);
    OrvaRect viewport;
    OrvaDevice::GetViewport(&viewport);
    const float width = static_cast<float>(viewport.right - viewport.left);
    const float height = static_cast<float>(viewport.bottom - viewport.top);
    const float* e = m.GetData();
    const float x = position.x * e[0] + position.y * e[4] + position.z * e[8] + e[12];
    const float y = position.x * e[1] + position.y * e[5] + position.z * e[9] + e[13];
    const float z = position.x * e[2] + position.y * e[6] + position.z * e[10] + e[14];
    const float w = position.x * e[3] + position.y * e[7] + position.z * e[11] + e[15];
    // A point on the eye's plane (w 0) has no screen position: its depth
    // would be a non-number that passes both tests below.
    if (!(w > 0.0f)) {
        return false;
    }
    const float depth = z / w;
    if (depth < 0.0f || !(depth < w)) {
        return false;
    }
    out->x = (x / w + 1.0f) * width * 0.5f + static_cast<float>(viewport.left);
    out->y = (1.0f - y / w) * height * 0.5f + static_cast<float>(viewport.top);
    out->z = depth;
    if (outW != nullptr) {
        *outW = w;
    }
    return true;
}

void OrvaModel::Reset()
{
    ResetAxes();
    scale.Set(1.0f, 1.0f, 1.0f);
}

// ---------------------------------------------------------------- update

void OrvaModel::FaceEye()
{
    if (billboard == 0) {
        return;
    }
    OrvaVector eye;
    OrvaCamera::GetEyePosition(&eye);
    // LookAt writes the position and up it reads: hand it copies.
    const OrvaVector from = position;
    const OrvaVector hint = up;
    LookAt(&from, &eye, &hint);
}

void OrvaModel::PushDown(float time)
{
    Animate(time);
    if (attached != nullptr) {
        attached->world = world;
        attached->Animate(time);
    }
    OrvaMatrix identity;
    identity.Identity();
    for (OrvaObject* o = meshes.GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaMesh* mesh = static_cast<OrvaMesh*>(o);
        // A generated mesh may sit on no frame: it takes the world alone.
        OrvaFrame* frame = mesh->GetFrame();
        OrvaMatrix placed;
        mesh->UpdateWorld(&placed, frame != nullptr ? *frame->GetCombinedMatrix() : identity, world);
        mesh->UpdateBox(placed);
    }
    for (OrvaObject* o = quadTree.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaQuadTreeNode*>(o)->UpdateBox(world);
    }
}

void OrvaModel::Update(float time)
{
    FaceEye();
    g_scaling.Scaling(scale.x, scale.y, scale.z);
    GetPlacement(&g_axes);
    world.Multiply(g_scaling, g_axes);
    PushDown(time);
}

void OrvaModel::UpdateWithMatrix(const OrvaMatrix& m)
{
    FaceEye();
    world = m;
    PushDown(0.0f);
}

// ---------------------------------------------------------------- setters

void OrvaModel::SetPosition(float x, float y, float z)
{
    position.Set(x, y, z);
}

void OrvaModel::SetScale(float x, float y, float z)
{
    scale.Set(x, y, z);
}

void OrvaModel::LookAt(const OrvaVector* eye, const OrvaVector* target, const OrvaVector* upHint)
{
    if (eye == nullptr || target == nullptr) {
        return;
    }
    OrvaVector f(target->x - eye->x, target->y - eye->y, target->z - eye->z);
    f.Normalize();
    const OrvaVector hint = upHint != nullptr ? *upHint : OrvaVector(0.0f, 1.0f, 0.0f);
    position = *eye;
    front = f;
    Aim(f, hint, &right, &up);
}

void OrvaModel::SetAxes(const OrvaVector* newFront, const OrvaVector* newUp, const OrvaVector* newRight)
{
    if (newFront == nullptr || newUp == nullptr || newRight == nullptr) {
        return;
    }
    front = *newFront;
    up = *newUp;
    right = *newRight;
}

void OrvaModel::SetFront(const OrvaVector* v)
{
    if (v == nullptr) {
        return;
    }
    front = *v;
    right.Cross(up, front);
    right.Normalize();
    up.Cross(front, right);
}

void OrvaModel::SetRight(const OrvaVector* v)
{
    if (v == nullptr) {
        return;
    }
    right = *v;
    front.Cross(right, up);
    front.Normalize();
    up.Cross(front, right);
}

void OrvaModel::SetUp(const OrvaVector* v)
{
    if (v == nullptr) {
        return;
    }
    up.Normalize(*v);
    front.Cross(right, up);
    front.Normalize();
    right.Cross(up, front);
}

void OrvaModel::SetMatrix(const OrvaMatrix& m)
{
    right.Set(m.GetElement(1, 1), m.GetElement(1, 2), m.GetElement(1, 3));
    up.Set(m.GetElement(2, 1), m.GetElement(2, 2), m.GetElement(2, 3));
    front.Set(m.GetElement(3, 1), m.GetElement(3, 2), m.GetElement(3, 3));
    position.Set(m.GetElement(4, 1), m.GetElement(4, 2), m.GetElement(4, 3));
}

void OrvaModel::SetQuaternion(const float* q)
{
    if (q == nullptr) {
        return;
    }
    OrvaMatrix r;
    r.RotationQuaternion(q);
    right.Set(r.GetElement(1, 1), r.GetElement(1, 2), r.GetElement(1, 3));
    up.Set(r.GetElement(2, 1), r.GetElement(2, 2), r.GetElement(2, 3));
    front.Set(r.GetElement(3, 1), r.GetElement(3, 2), r.GetElement(3, 3));
}

// ---------------------------------------------------------------- angles

// Radians to an OrvaAngle: truncated toward zero, then the low 16 bits. A
// non-number (axes that are not finite) gives 0 rather than an undefined
// conversion.
static int32_t ToAngle(double radians)
{
    const double units = radians * static_cast<double>(kAngleUnits);
    if (!std::isfinite(units) || std::fabs(units) > 2147483647.0) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(units)) & 0xFFFFu);
}

// asin of a sine that rounding (or an axis that is not quite unit length)
// may carry just past 1.
static double ClampedAsin(double s)
{
    if (s > 1.0) {
        s = 1.0;
    } else if (s < -1.0) {
        s = -1.0;
    }
    return std::asin(s);
}

int32_t OrvaModel::GetPitch() const
{
    return ToAngle(ClampedAsin(front.y));
}

int32_t OrvaModel::GetYaw() const
{
    // Straight up or down the front has no heading: the up axis gives it.
    if (front.y == 1.0f || front.y == -1.0f) {
        return ToAngle(std::atan2(static_cast<double>(up.x), static_cast<double>(up.z)));
    }
    return ToAngle(std::atan2(static_cast<double>(front.x), static_cast<double>(front.z)));
}

int32_t OrvaModel::GetRoll() const
{
    const double s = std::sqrt(1.0 - static_cast<double>(front.y) * static_cast<double>(front.y));
    double r = ClampedAsin(static_cast<double>(right.y) / s);
    if (up.y < 0.0f) {
        r = static_cast<double>(kPi) - r;
    }
    return ToAngle(r);
}

// ---------------------------------------------------------------- drawing

int32_t OrvaModel::GetMeshCount() const
{
    return meshes.GetCount();
}

void OrvaModel::Draw(int32_t mirror)
{
    if (g_moduleState != nullptr) {
        g_moduleState->mirror = mirror;
    }
    heightField.visibleMeshCount = 0;
    const int32_t side = heightField.blocksPerSide;
    const size_t blocks = side > 0 ? static_cast<size_t>(side) * static_cast<size_t>(side) : 0;
    for (size_t i = 0; i < blocks && i < heightField.visibleMeshes.size(); ++i) {
        heightField.visibleMeshes[i] = 0;
    }
    for (int32_t stage = 0; stage < OrvaDevice::kStageCount; ++stage) {
        OrvaDevice::SetTexture(nullptr, stage);
    }
    // A height field's blocks are drawn by its quadtree, which visits only
    // the visible ones.
    if (quadTree.GetHead() != nullptr) {
        static_cast<OrvaQuadTreeNode*>(quadTree.GetHead())
            ->Visit(&heightField.visibleMeshCount, heightField.visibleMeshes.data(),
                    static_cast<int32_t>(heightField.visibleMeshes.size()));
        return;
    }
    for (OrvaObject* o = meshes.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaMesh*>(o)->Draw();
    }
}

void OrvaModel::Render()
{
    Draw(0);
}

void OrvaModel::RenderReflected()
{
    Draw(1);
}

void OrvaModel::DrawBoxes(uint32_t color)
{
    if (quadTree.GetHead() != nullptr) {
        return;
    }
    for (OrvaObject* o = meshes.GetHead(); o != nullptr; o = o->GetNext()) {
        static_cast<OrvaMesh*>(o)->DrawBox(color);
    }
}
