// The software device: its states, frame, loss and reset. Draw calls turn
// their vertices into screen primitives at once (vertex_stage.cpp) and record
// them; RecordedFrame and the tile runner (raster.cpp) do the pixels.
#include "platform/gfx/soft_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gfx/device_core.h"
#include "platform/gfx/vertex_shader.h"

namespace platform {

void DeviceCore::SetDefaultStates()
{
    std::memset(rs, 0, sizeof(rs));
    rs[RsZEnable] = params.depthBuffer ? 1 : 0;
    rs[RsFillMode] = FillSolid;
    rs[RsShadeMode] = ShadeGouraud;
    rs[RsZWriteEnable] = 1;
    rs[RsLastPixel] = 1;
    rs[RsSrcBlend] = BlendOne;
    rs[RsDestBlend] = BlendZero;
    rs[RsCullMode] = CullCcw;
    rs[RsZFunc] = CmpLessEqual;
    rs[RsAlphaFunc] = CmpAlways;
    rs[RsFogEnd] = FloatBits(1.0f);
    rs[RsFogDensity] = FloatBits(1.0f);
    rs[RsStencilFunc] = CmpAlways;
    rs[RsStencilMask] = 0xFFFFFFFFu;
    rs[RsStencilWriteMask] = 0xFFFFFFFFu;
    rs[RsTextureFactor] = 0xFFFFFFFFu;
    rs[RsClipping] = 1;
    rs[RsLighting] = 1;
    rs[RsColorVertex] = 1;
    rs[RsLocalViewer] = 1;
    rs[RsDiffuseMaterialSource] = 1;
    rs[RsSpecularMaterialSource] = 2;
    rs[RsPointSize] = FloatBits(1.0f);
    rs[RsPointSizeMax] = FloatBits(64.0f);
    rs[RsMultisampleAntialias] = 1;
    rs[RsMultisampleMask] = 0xFFFFFFFFu;
    rs[RsColorWriteEnable] = 0xF;
    rs[RsBlendOp] = BlendOpAdd;
    for (int s = 0; s < kTextureStageCount; ++s) {
        uint32_t* t = tss[s];
        std::memset(t, 0, sizeof(tss[s]));
        t[TssColorOp] = s == 0 ? TopModulate : TopDisable;
        t[TssColorArg1] = TaTexture;
        t[TssColorArg2] = TaCurrent;
        t[TssAlphaOp] = s == 0 ? TopSelectArg1 : TopDisable;
        t[TssAlphaArg1] = TaTexture;
        t[TssAlphaArg2] = TaCurrent;
        t[TssTexCoordIndex] = static_cast<uint32_t>(s);
        t[TssAddressU] = AddressWrap;
        t[TssAddressV] = AddressWrap;
        t[TssAddressW] = AddressWrap;
        t[TssMagFilter] = FilterPoint;
        t[TssMinFilter] = FilterPoint;
        t[TssMipFilter] = FilterNone;
        t[TssColorArg0] = TaCurrent;
        t[TssAlphaArg0] = TaCurrent;
        t[TssResultArg] = TaCurrent;
    }
    world = view = projection = Identity();
    std::memset(clipPlanes, 0, sizeof clipPlanes);
    pixelShaderHandle = 0;
    pixelProgram.reset();
    std::memset(pixelConstants, 0, sizeof pixelConstants);
    viewport = Viewport{0, 0, static_cast<uint32_t>(params.width), static_cast<uint32_t>(params.height), 0.0f, 1.0f};
    fvf = 0;
    stateDirty = true;
}

void DeviceCore::ReleaseBindings()
{
    for (SoftTexture*& t : textures) {
        if (t != nullptr) {
            t->Release();
            t = nullptr;
        }
    }
    if (stream != nullptr) {
        stream->Release();
        stream = nullptr;
    }
    if (indices != nullptr) {
        indices->Release();
        indices = nullptr;
    }
}

DeviceCore::~DeviceCore()
{
    FinishInFlight();
    ReleaseBindings();
    if (backSurface != nullptr) {
        backSurface->Release();
    }
    if (depthSurface != nullptr) {
        depthSurface->Release();
    }
    // Whatever the engine still holds keeps its memory but loses the device.
    for (SoftResource* r : live) {
        r->core = nullptr;
    }
}

bool DeviceCore::MakeBuffers()
{
    try {
        return MakeBuffersOrThrow();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: no memory for a %dx%d frame\n", params.width, params.height);
        return false;
    }
}

bool DeviceCore::MakeBuffersOrThrow()
{
    auto b = std::make_shared<ImageData>();
    auto f = std::make_shared<ImageData>();
    if (!b->Allocate(FormatA8R8G8B8, params.width, params.height) ||
        !f->Allocate(FormatA8R8G8B8, params.width, params.height)) {
        std::fprintf(stderr, "gfx: no memory for a %dx%d frame\n", params.width, params.height);
        return false;
    }
    std::shared_ptr<ImageData> d;
    if (params.depthBuffer) {
        d = std::make_shared<ImageData>();
        if (!d->Allocate(FormatD32, params.width, params.height)) {
            std::fprintf(stderr, "gfx: no memory for a %dx%d depth buffer\n", params.width, params.height);
            return false;
        }
        float one = 1.0f;
        for (size_t i = 0; i < d->bytes.size(); i += 4) {
            std::memcpy(&d->bytes[i], &one, 4);
        }
    }
    if (backSurface != nullptr) {
        backSurface->Release();
        backSurface = nullptr;
    }
    if (depthSurface != nullptr) {
        depthSurface->Release();
        depthSurface = nullptr;
    }
    back = b;
    front = f;
    depth = d;
    frame.Reset(params.width, params.height, BandRowsFor(params.height, pool.GetThreadCount()));
    pendingDepth.assign(static_cast<size_t>(frame.tilesX) * frame.tilesY, kNoPendingDepth);
    return true;
}

void DeviceCore::UseImage(ImageData* image)
{
    image->useSerial = serial;
}

Target DeviceCore::MakeTarget()
{
    Target target;
    target.color = reinterpret_cast<uint32_t*>(back->bytes.data());
    target.depth = depth ? reinterpret_cast<float*>(depth->bytes.data()) : nullptr;
    target.width = back->width;
    target.height = back->height;
    if (target.depth != nullptr) {
        pendingDepth.resize(static_cast<size_t>(frame.tilesX) * frame.tilesY, kNoPendingDepth);
        target.pendingDepth = pendingDepth.data();
    }
    return target;
}

void DeviceCore::FitBands()
{
    const int32_t rows = BandRowsFor(params.height, pool.GetThreadCount());
    if (rows == frame.tileHeight) {
        return;
    }
    // What is recorded so far is binned in the old bands, and the pending
    // depth clears are kept by them: both are drawn out first.
    if (!frame.empty) {
        FlushFrame();
    }
    SettleAllDepth();
    frame.Reset(params.width, params.height, rows);
    pendingDepth.assign(static_cast<size_t>(frame.tilesX) * frame.tilesY, kNoPendingDepth);
}

void DeviceCore::SettleAllDepth()
{
    if (!depth) {
        return;
    }
    const Target target = MakeTarget();
    for (int tile = 0; tile < frame.tilesX * frame.tilesY; ++tile) {
        SettleDepth(frame, target, tile);
    }
}

namespace {

// How long a worker that has drawn every part handed off so far waits for
// the next before it leaves the job: parts come a few tens of microseconds
// apart while a frame is recorded, and the job ends at the frame's end.
constexpr int kDrainWaitMicros = 1000;

// The tiles with entries, busiest first, so that no thread starts a long
// one when the others are about to finish. (A tile without entries has
// nothing to do.)
void BusiestFirst(const RecordedFrame& f, std::vector<int>& order)
{
    const int tiles = f.tilesX * f.tilesY;
    order.clear();
    for (int t = 0; t < tiles; ++t) {
        if (!f.bins[static_cast<size_t>(t)].empty()) {
            order.push_back(t);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&f](int a, int b) {
        return f.bins[static_cast<size_t>(a)].size() > f.bins[static_cast<size_t>(b)].size();
    });
}

}  // namespace

void DeviceCore::FinishInFlight()
{
    pipeline.Close();
    if (pipeline.Pending()) {
        WakeDrawers();
        pipeline.Drain(0, 0, 0);
    }
    // The workers still drawing bands the drawing thread found held.
    pool.Wait();
    pipeline.TakeCounts(&frame.primCount, &frame.fastPrimCount);
    handedOff = false;
}

void DeviceCore::WakeDrawers()
{
    if (!pool.Idle()) {
        return;
    }
    if (!drainTask) {
        // Each worker has its own share of the bands, the same every part
        // and every frame, and takes others' only when it has run out.
        drainTask = [this](int) {
            const int workers = pool.GetThreadCount() - 1;
            const int worker = ThreadPool::WorkerIndex() - 1;
            const int tiles = pipeline.TileCount();
            if (worker < 0 || workers < 1) {
                pipeline.Drain(0, 0, kDrainWaitMicros);
                return;
            }
            const int first = worker * tiles / workers;
            pipeline.Drain(first, (worker + 1) * tiles / workers - first, kDrainWaitMicros);
        };
    }
    pool.Start(pool.GetThreadCount() - 1, drainTask);
}

bool DeviceCore::WorthHandingOff()
{
    // An eighth of the target's pixels is worth waking the workers for.
    const uint64_t worth = static_cast<uint64_t>(params.width) * static_cast<uint64_t>(params.height) / 8;
    return frame.area >= worth && pool.GetThreadCount() >= 2 &&
           (pipeline.TileCount() != frame.tilesX * frame.tilesY || pipeline.HasFreeSlot());
}

bool DeviceCore::HandOff()
{
    if (!WorthHandingOff()) {
        // Workers that stopped looking for parts before the last one came.
        if (handedOff && pipeline.Pending()) {
            WakeDrawers();
        }
        return false;
    }
    const int tiles = frame.tilesX * frame.tilesY;
    if (pipeline.TileCount() != tiles) {
        FinishInFlight();
        pipeline.Reset(tiles);
    }
    RecordedFrame* part = pipeline.FreePart();
    if (part == nullptr) {
        return false;
    }
    if (part->bins.size() != frame.bins.size()) {
        part->bins.assign(frame.bins.size(), {});
    }
    part->tileWidth = frame.tileWidth;
    part->tileHeight = frame.tileHeight;
    part->tilesX = frame.tilesX;
    part->tilesY = frame.tilesY;
    std::swap(frame.states, part->states);
    std::swap(frame.prims, part->prims);
    std::swap(frame.planes, part->planes);
    std::swap(frame.clears, part->clears);
    std::swap(frame.copies, part->copies);
    std::swap(frame.shaderSnaps, part->shaderSnaps);
    std::swap(frame.bins, part->bins);
    std::swap(frame.deferred, part->deferred);
    part->empty = false;
    // The frame is not done while a part of it is drawn: resources it reads
    // and the target still wait for a flush.
    frame.empty = false;
    frame.area = 0;
    stateDirty = true;
    pipeline.Seal(part, MakeTarget(), std::min(spanLevel, WidestSpans()), false);
    handedOff = true;
    WakeDrawers();
    return true;
}

uint32_t DeviceCore::HandOffDuringDraw(uint32_t state)
{
    if (!WorthHandingOff()) {
        return state;
    }
    PixelState ps = frame.states[state];
    PixelShaderSnap snap;
    if (ps.shader != nullptr) {
        snap = *ps.shader;
    }
    if (!HandOff()) {
        return state;
    }
    // The draw's state goes on in the new part; nothing changes it within
    // a draw, so it is the device's current state too.
    if (ps.shader != nullptr) {
        frame.shaderSnaps.push_back(std::move(snap));
        ps.shader = &frame.shaderSnaps.back();
    }
    frame.states.push_back(ps);
    stateDirty = false;
    return static_cast<uint32_t>(frame.states.size() - 1);
}

void DeviceCore::FlushFrame()
{
    if (frame.empty) {
        FinishInFlight();
        frame.Clear();
        ++serial;
        return;
    }
    const Target target = MakeTarget();
    const int level = std::min(spanLevel, WidestSpans());
    if (handedOff) {
        // The rest of the frame is its last part, drawn in place. Each band
        // takes it up as soon as it is through the parts before it.
        if (!frame.prims.empty() || !frame.clears.empty() || !frame.copies.empty() || !frame.deferred.empty()) {
            // Its sprites are set up here, not left for a worker: every band
            // waits for them, and this thread, which has just written them,
            // sets them up faster than one that must first fetch them.
            SettleDeferred();
            while (!pipeline.HasFreeSlot(true)) {
                pipeline.Drain(0, 0, 0);
            }
            pipeline.Seal(&frame, target, level, true);
        }
        FinishInFlight();
    } else {
        SettleDeferred();
        const RecordedFrame& f = frame;
        BusiestFirst(f, tileOrder);
        pool.Run(static_cast<int>(tileOrder.size()),
                 [&](int task) { RunTile(f, target, tileOrder[static_cast<size_t>(task)], level); });
    }
    frame.Clear();
    std::swap(frame.states, spare.states);
    std::swap(frame.prims, spare.prims);
    std::swap(frame.planes, spare.planes);
    std::swap(frame.clears, spare.clears);
    std::swap(frame.copies, spare.copies);
    if (spare.bins.size() == frame.bins.size()) {
        std::swap(frame.bins, spare.bins);
    } else {
        spare.bins = frame.bins;
    }
    ++serial;
    stateDirty = true;
}

// ---------------------------------------------------------------------------
// Device

SoftDevice::SoftDevice() : core(std::make_unique<DeviceCore>()) {}

SoftDevice::~SoftDevice() = default;

static bool ValidParams(const DeviceParams& p)
{
    if (p.width <= 0 || p.height <= 0 || p.width > SoftDevice::kMaxTargetSize || p.height > SoftDevice::kMaxTargetSize) {
        std::fprintf(stderr, "gfx: frame size %dx%d out of range\n", p.width, p.height);
        return false;
    }
    return true;
}

static int ThreadsFromEnvironment()
{
    const char* text = std::getenv("ORVA_GFX_THREADS");
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (*end != '\0' || n < 0 || n > 1024) {
        std::fprintf(stderr, "gfx: ORVA_GFX_THREADS=\"%s\" is not a thread count; using every core\n", text);
        return 0;
    }
    return static_cast<int>(n);
}

bool SoftDevice::Create(const DeviceParams& params)
{
    if (core->created) {
        std::fprintf(stderr, "gfx: device made twice\n");
        return false;
    }
    if (!ValidParams(params)) {
        return false;
    }
    core->params = params;
    if (!core->MakeBuffers()) {
        return false;
    }
    core->SetDefaultStates();
    core->pool.SetThreadCount(ThreadsFromEnvironment());
    core->FitBands();
    core->created = true;
    return true;
}

void SoftDevice::SetThreadCount(int threads)
{
    core->FinishInFlight();
    core->pool.SetThreadCount(threads);
    core->FitBands();
}

int SoftDevice::GetThreadCount() const
{
    return core->pool.GetThreadCount();
}

void SoftDevice::SetSpanLevel(int level)
{
    core->FlushFrame();
    core->spanLevel = std::clamp(level, 0, 2);
}

SoftDevice::Stats SoftDevice::GetStats() const
{
    Stats s;
    s.primitives = core->frame.primCount;
    s.fastPrimitives = core->frame.fastPrimCount;
    return s;
}

GfxResult SoftDevice::TestCooperativeLevel() const
{
    if (!core->lost) {
        return kGfxOk;
    }
    if (core->lostChecks > 0) {
        --core->lostChecks;
        return kGfxDeviceLost;
    }
    return kGfxDeviceNotReset;
}

void SoftDevice::SimulateLoss(int lostChecks)
{
    core->FinishInFlight();
    core->frame.Clear();
    core->lost = true;
    core->lostChecks = lostChecks < 0 ? 0 : lostChecks;
    core->inScene = false;
}

GfxResult SoftDevice::Reset(const DeviceParams& params)
{
    if (!core->created || !ValidParams(params)) {
        return kGfxInvalidCall;
    }
    if (core->lost && core->lostChecks > 0) {
        return kGfxDeviceLost;
    }
    // Our own bindings go first; what is left is the engine's.
    core->ReleaseBindings();
    if (core->defaultPoolCount > 0) {
        std::fprintf(stderr, "gfx: reset refused: %d default-pool resources still alive\n", core->defaultPoolCount);
        return kGfxInvalidCall;
    }
    core->FinishInFlight();
    core->frame.Clear();
    const DeviceParams old = core->params;
    core->params = params;
    if (!core->MakeBuffers()) {
        core->params = old;
        core->lost = true;
        return kGfxOutOfVideoMemory;
    }
    core->SetDefaultStates();
    if (shaders != nullptr) {
        shaders->ResetStates();
    }
    core->lost = false;
    core->inScene = false;
    return kGfxOk;
}

const DeviceParams& SoftDevice::GetParams() const
{
    return core->params;
}

GfxResult SoftDevice::BeginScene()
{
    if (core->inScene) {
        return kGfxInvalidCall;
    }
    core->inScene = true;
    return kGfxOk;
}

GfxResult SoftDevice::EndScene()
{
    if (!core->inScene) {
        return kGfxInvalidCall;
    }
    core->inScene = false;
    return kGfxOk;
}

GfxResult SoftDevice::Clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z, uint32_t)
{
    if ((count != 0 && rects == nullptr) || (flags & (ClearTarget | ClearZBuffer | ClearStencil)) == 0) {
        return kGfxInvalidCall;
    }
    if ((flags & (ClearZBuffer | ClearStencil)) && !core->depth) {
        return kGfxInvalidCall;
    }
    if (core->lost || !core->created) {
        return kGfxOk;
    }
    const Viewport& vp = core->viewport;
    Rect whole{static_cast<int32_t>(vp.x), static_cast<int32_t>(vp.y), static_cast<int32_t>(vp.x + vp.width),
               static_cast<int32_t>(vp.y + vp.height)};
    const uint32_t n = count == 0 ? 1 : count;
    for (uint32_t i = 0; i < n; ++i) {
        const Rect r = count == 0 ? whole : rects[i];
        ClearCmd cmd;
        cmd.left = std::max(r.left, whole.left);
        cmd.top = std::max(r.top, whole.top);
        cmd.right = std::min(r.right, whole.right);
        cmd.bottom = std::min(r.bottom, whole.bottom);
        if (cmd.left >= cmd.right || cmd.top >= cmd.bottom) {
            continue;
        }
        cmd.flags = flags;
        cmd.color = color;
        cmd.z = std::clamp(z, 0.0f, 1.0f);
        const uint32_t index = static_cast<uint32_t>(core->frame.clears.size());
        // A clear alone is not worth handing to the workers: the draw after
        // it often covers the target (a background), and drawn together the
        // tile runner skips the clear's colour.
        const uint64_t area = core->frame.area;
        try {
            core->SettleDeferred();
            core->frame.clears.push_back(cmd);
            core->frame.Bin(kBinClear | index, cmd.left, cmd.top, cmd.right - 1, cmd.bottom - 1);
            core->frame.area = area;
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "gfx: out of memory while recording a clear\n");
            return kGfxOutOfMemory;
        }
    }
    return kGfxOk;
}

GfxResult SoftDevice::Present()
{
    if (!core->created) {
        return kGfxInvalidCall;
    }
    if (core->lost) {
        return kGfxDeviceLost;
    }
    if (core->inScene) {
        return kGfxInvalidCall;
    }
    core->FlushFrame();
    // The back buffer's contents after a present are undefined, as with a
    // discarding swap chain, so the two buffers simply trade places.
    std::swap(core->back->bytes, core->front->bytes);
    if (core->sink) {
        core->sink(GetFrontBuffer());
    }
    return kGfxOk;
}

void SoftDevice::SetPresentSink(PresentSink sink)
{
    core->sink = std::move(sink);
}

FrameView SoftDevice::GetFrontBuffer() const
{
    FrameView v;
    if (!core->front) {
        return v;
    }
    v.pixels = reinterpret_cast<const uint32_t*>(core->front->bytes.data());
    v.width = core->front->width;
    v.height = core->front->height;
    v.pitch = core->front->pitch;
    return v;
}

void SoftDevice::Flush()
{
    core->FlushFrame();
}

SoftSurface* SoftDevice::GetBackBuffer()
{
    if (!core->back) {
        return nullptr;
    }
    if (core->backSurface == nullptr) {
        core->backSurface = new (std::nothrow) SoftSurface(nullptr, PoolDefault, core->back);
        if (core->backSurface != nullptr) {
            core->backSurface->core = core.get();
        }
    }
    return core->backSurface;
}

SoftSurface* SoftDevice::GetDepthBuffer()
{
    if (!core->depth) {
        return nullptr;
    }
    if (core->depthSurface == nullptr) {
        core->depthSurface = new (std::nothrow) SoftSurface(nullptr, PoolDefault, core->depth);
        if (core->depthSurface != nullptr) {
            core->depthSurface->core = core.get();
        }
    }
    return core->depthSurface;
}

GfxResult SoftDevice::SetRenderState(uint32_t state, uint32_t value)
{
    if (state >= kRenderStateCount) {
        return kGfxInvalidCall;
    }
    if (core->rs[state] != value) {
        core->rs[state] = value;
        core->stateDirty = true;
    }
    return kGfxOk;
}

GfxResult SoftDevice::GetRenderState(uint32_t state, uint32_t* value) const
{
    if (state >= kRenderStateCount || value == nullptr) {
        return kGfxInvalidCall;
    }
    *value = core->rs[state];
    return kGfxOk;
}

GfxResult SoftDevice::SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    if (stage >= kTextureStageCount || type >= kStageStateCount) {
        return kGfxInvalidCall;
    }
    if (core->tss[stage][type] != value) {
        core->tss[stage][type] = value;
        core->stateDirty = true;
    }
    return kGfxOk;
}

GfxResult SoftDevice::GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const
{
    if (stage >= kTextureStageCount || type >= kStageStateCount || value == nullptr) {
        return kGfxInvalidCall;
    }
    *value = core->tss[stage][type];
    return kGfxOk;
}

GfxResult SoftDevice::SetTexture(uint32_t stage, SoftTexture* texture)
{
    if (stage >= kTextureStageCount) {
        return kGfxInvalidCall;
    }
    if (texture != nullptr && texture->core != core.get()) {
        return kGfxInvalidCall;
    }
    if (core->textures[stage] == texture) {
        return kGfxOk;
    }
    if (texture != nullptr) {
        texture->AddRef();
    }
    if (core->textures[stage] != nullptr) {
        core->textures[stage]->Release();
    }
    core->textures[stage] = texture;
    core->stateDirty = true;
    return kGfxOk;
}

SoftTexture* SoftDevice::GetTexture(uint32_t stage) const
{
    return stage < kTextureStageCount ? core->textures[stage] : nullptr;
}

GfxResult SoftDevice::SetTransform(uint32_t state, const Matrix4& matrix)
{
    switch (state) {
    case TsWorld: core->world = matrix; return kGfxOk;
    case TsView: core->view = matrix; return kGfxOk;
    case TsProjection: core->projection = matrix; return kGfxOk;
    default:
        // Texture transforms are accepted and not applied.
        return (state >= TsTexture0 && state < TsTexture0 + 8) ? kGfxOk : kGfxInvalidCall;
    }
}

GfxResult SoftDevice::GetTransform(uint32_t state, Matrix4* matrix) const
{
    if (matrix == nullptr) {
        return kGfxInvalidCall;
    }
    switch (state) {
    case TsWorld: *matrix = core->world; return kGfxOk;
    case TsView: *matrix = core->view; return kGfxOk;
    case TsProjection: *matrix = core->projection; return kGfxOk;
    default:
        if (state >= TsTexture0 && state < TsTexture0 + 8) {
            *matrix = Identity();
            return kGfxOk;
        }
        return kGfxInvalidCall;
    }
}

GfxResult SoftDevice::SetViewport(const Viewport& vp)
{
    const uint64_t right = static_cast<uint64_t>(vp.x) + vp.width;
    const uint64_t bottom = static_cast<uint64_t>(vp.y) + vp.height;
    if (vp.width == 0 || vp.height == 0 || right > static_cast<uint64_t>(core->params.width) ||
        bottom > static_cast<uint64_t>(core->params.height) || !(vp.minZ >= 0.0f && vp.maxZ <= 1.0f)) {
        return kGfxInvalidCall;
    }
    core->viewport = vp;
    return kGfxOk;
}

GfxResult SoftDevice::GetViewport(Viewport* vp) const
{
    if (vp == nullptr) {
        return kGfxInvalidCall;
    }
    *vp = core->viewport;
    return kGfxOk;
}

GfxResult SoftDevice::SetClipPlane(uint32_t index, const float* plane)
{
    if (index >= kMaxClipPlanes || plane == nullptr) {
        return kGfxInvalidCall;
    }
    std::memcpy(core->clipPlanes[index], plane, sizeof core->clipPlanes[index]);
    return kGfxOk;
}

GfxResult SoftDevice::GetClipPlane(uint32_t index, float* plane) const
{
    if (index >= kMaxClipPlanes || plane == nullptr) {
        return kGfxInvalidCall;
    }
    std::memcpy(plane, core->clipPlanes[index], sizeof core->clipPlanes[index]);
    return kGfxOk;
}

GfxResult SoftDevice::SetVertexShader(uint32_t fvf)
{
    // Odd values are shader handles; vertex formats never set bit 0.
    if ((fvf & 1u) != 0) {
        return shaders != nullptr ? shaders->Bind(fvf) : kGfxInvalidCall;
    }
    if (shaders != nullptr) {
        shaders->Bind(0);
    }
    // 0 unsets the format: draws are refused until another is set.
    if (fvf != 0 && FvfStride(fvf) == 0) {
        std::fprintf(stderr, "gfx: vertex format 0x%X is not drawable\n", fvf);
        return kGfxInvalidCall;
    }
    core->fvf = fvf;
    return kGfxOk;
}

uint32_t SoftDevice::GetVertexShader() const
{
    if (shaders != nullptr && shaders->IsBound()) {
        return shaders->GetBound();
    }
    return core->fvf;
}

static bool ValidTextureArgs(int32_t width, int32_t height, uint32_t format)
{
    if (width <= 0 || height <= 0 || width > SoftDevice::kMaxTextureSize || height > SoftDevice::kMaxTextureSize) {
        std::fprintf(stderr, "gfx: image size %dx%d out of range\n", width, height);
        return false;
    }
    if (FormatBytes(format) == 0) {
        std::fprintf(stderr, "gfx: image format %u not supported\n", format);
        return false;
    }
    return true;
}

GfxResult SoftDevice::CreateTexture(int32_t width, int32_t height, uint32_t levels, uint32_t, uint32_t format,
                                    uint32_t pool, SoftTexture** out)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    *out = nullptr;
    if (!core->created || !ValidTextureArgs(width, height, format) || levels > 1 || pool > PoolSystemMem) {
        return kGfxInvalidCall;
    }
    if (core->lost && pool == PoolDefault) {
        return kGfxDeviceLost;
    }
    try {
        auto image = std::make_shared<ImageData>();
        if (!image->Allocate(format, width, height)) {
            return kGfxOutOfVideoMemory;
        }
        *out = new SoftTexture(core.get(), static_cast<Pool>(pool), image);
    } catch (const std::bad_alloc&) {
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

GfxResult SoftDevice::CreateImageSurface(int32_t width, int32_t height, uint32_t format, SoftSurface** out)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    *out = nullptr;
    if (!core->created || !ValidTextureArgs(width, height, format)) {
        return kGfxInvalidCall;
    }
    try {
        auto image = std::make_shared<ImageData>();
        if (!image->Allocate(format, width, height)) {
            return kGfxOutOfMemory;
        }
        *out = new SoftSurface(core.get(), PoolSystemMem, image);
    } catch (const std::bad_alloc&) {
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

GfxResult SoftDevice::CreateVertexBuffer(uint32_t length, uint32_t, uint32_t fvf, uint32_t pool,
                                         SoftVertexBuffer** out)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    *out = nullptr;
    // Our own limit: 64 MB per buffer.
    if (!core->created || length == 0 || length > (64u << 20) || pool > PoolSystemMem ||
        (fvf != 0 && FvfStride(fvf) == 0)) {
        return kGfxInvalidCall;
    }
    if (core->lost && pool == PoolDefault) {
        return kGfxDeviceLost;
    }
    try {
        *out = new SoftVertexBuffer(core.get(), static_cast<Pool>(pool), length, fvf);
    } catch (const std::bad_alloc&) {
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

GfxResult SoftDevice::CreateIndexBuffer(uint32_t length, uint32_t, uint32_t format, uint32_t pool,
                                        SoftIndexBuffer** out)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    *out = nullptr;
    if (!core->created || length == 0 || length > (64u << 20) || pool > PoolSystemMem ||
        (format != FormatIndex16 && format != FormatIndex32)) {
        return kGfxInvalidCall;
    }
    if (core->lost && pool == PoolDefault) {
        return kGfxDeviceLost;
    }
    try {
        *out = new SoftIndexBuffer(core.get(), static_cast<Pool>(pool), length, format);
    } catch (const std::bad_alloc&) {
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

GfxResult SoftDevice::CopyRects(SoftSurface* source, const Rect* sourceRects, uint32_t count, SoftSurface* destination,
                                const Point* destPoints)
{
    if (source == nullptr || destination == nullptr || source == destination || source->image->locked ||
        destination->image->locked) {
        return kGfxInvalidCall;
    }
    ImageData& src = *source->image;
    ImageData& dst = *destination->image;
    const bool toTarget = destination->image == core->back;
    if (!toTarget && src.format != dst.format) {
        return kGfxInvalidCall;
    }
    if (count != 0 && sourceRects == nullptr) {
        return kGfxInvalidCall;
    }
    const uint32_t n = count == 0 ? 1 : count;
    // Check every rectangle before copying any.
    for (uint32_t i = 0; i < n; ++i) {
        const Rect r = count == 0 ? Rect{0, 0, src.width, src.height} : sourceRects[i];
        const Point p = destPoints != nullptr ? destPoints[i] : Point{r.left, r.top};
        if (r.left < 0 || r.top < 0 || r.right > src.width || r.bottom > src.height || r.left >= r.right ||
            r.top >= r.bottom || p.x < 0 || p.y < 0 || p.x + (r.right - r.left) > dst.width ||
            p.y + (r.bottom - r.top) > dst.height) {
            std::fprintf(stderr, "gfx: copy rectangle %u out of range\n", i);
            return kGfxInvalidCall;
        }
    }
    if (core->lost && toTarget) {
        return kGfxOk;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const Rect r = count == 0 ? Rect{0, 0, src.width, src.height} : sourceRects[i];
        const Point p = destPoints != nullptr ? destPoints[i] : Point{r.left, r.top};
        if (toTarget) {
            CopyCmd cmd;
            cmd.source = src.View();
            cmd.srcLeft = r.left;
            cmd.srcTop = r.top;
            cmd.left = p.x;
            cmd.top = p.y;
            cmd.right = p.x + (r.right - r.left);
            cmd.bottom = p.y + (r.bottom - r.top);
            core->UseImage(&src);
            const uint32_t index = static_cast<uint32_t>(core->frame.copies.size());
            try {
                core->SettleDeferred();
                core->frame.copies.push_back(cmd);
                core->frame.Bin(kBinCopy | index, cmd.left, cmd.top, cmd.right - 1, cmd.bottom - 1);
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "gfx: out of memory while recording a copy\n");
                return kGfxOutOfMemory;
            }
        } else {
            if (core != nullptr && !core->frame.empty && (src.useSerial == core->serial || dst.useSerial == core->serial)) {
                core->FlushFrame();
            }
            const int bpp = FormatBytes(src.format);
            for (int32_t y = 0; y < r.bottom - r.top; ++y) {
                std::memcpy(dst.bytes.data() + static_cast<size_t>(p.y + y) * dst.pitch + static_cast<size_t>(p.x) * bpp,
                            src.bytes.data() + static_cast<size_t>(r.top + y) * src.pitch + static_cast<size_t>(r.left) * bpp,
                            static_cast<size_t>(r.right - r.left) * bpp);
            }
            dst.RefreshSamples();
        }
    }
    return kGfxOk;
}

GfxResult SoftDevice::SetStreamSource(uint32_t stream, SoftVertexBuffer* buffer, uint32_t stride)
{
    if (stream != 0 || (buffer != nullptr && (stride == 0 || stride > 1024))) {
        return kGfxInvalidCall;
    }
    if (buffer != nullptr) {
        buffer->AddRef();
    }
    if (core->stream != nullptr) {
        core->stream->Release();
    }
    core->stream = buffer;
    core->streamStride = stride;
    return kGfxOk;
}

GfxResult SoftDevice::SetIndices(SoftIndexBuffer* buffer, uint32_t baseVertexIndex)
{
    if (buffer != nullptr) {
        buffer->AddRef();
    }
    if (core->indices != nullptr) {
        core->indices->Release();
    }
    core->indices = buffer;
    core->baseVertex = baseVertexIndex;
    return kGfxOk;
}

GfxResult SoftDevice::DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount)
{
    core->HandOff();
    if (core->stream == nullptr) {
        return kGfxInvalidCall;
    }
    const std::vector<uint8_t>& data = core->stream->data;
    const uint64_t offset = static_cast<uint64_t>(startVertex) * core->streamStride;
    if (offset >= data.size()) {
        return kGfxInvalidCall;
    }
    if (shaders != nullptr && shaders->IsBound()) {
        return shaders->Draw(*core, type, primitiveCount,
                             data.data() + offset, static_cast<uint32_t>(data.size() - offset),
                             core->streamStride, nullptr, 0, FormatIndex16, 0);
    }
    return DrawCore(*core, type, primitiveCount, data.data() + offset, static_cast<uint32_t>(data.size() - offset),
                    core->streamStride, nullptr, 0, FormatIndex16, 0);
}

GfxResult SoftDevice::DrawIndexedPrimitive(uint32_t type, uint32_t, uint32_t, uint32_t startIndex,
                                           uint32_t primitiveCount)
{
    core->HandOff();
    if (core->stream == nullptr || core->indices == nullptr) {
        return kGfxInvalidCall;
    }
    const std::vector<uint8_t>& ib = core->indices->data;
    const uint32_t indexSize = core->indices->format == FormatIndex32 ? 4 : 2;
    const uint64_t offset = static_cast<uint64_t>(startIndex) * indexSize;
    if (offset >= ib.size()) {
        return kGfxInvalidCall;
    }
    const std::vector<uint8_t>& vb = core->stream->data;
    if (shaders != nullptr && shaders->IsBound()) {
        return shaders->Draw(*core, type, primitiveCount,
                             vb.data(), static_cast<uint32_t>(vb.size()), core->streamStride,
                             ib.data() + offset, static_cast<uint32_t>(ib.size() - offset), core->indices->format,
                             core->baseVertex);
    }
    return DrawCore(*core, type, primitiveCount, vb.data(), static_cast<uint32_t>(vb.size()), core->streamStride,
                    ib.data() + offset, static_cast<uint32_t>(ib.size() - offset), core->indices->format,
                    core->baseVertex);
}

// Bytes the user-memory vertices span for a draw of this many vertices.
static uint32_t UserBytes(uint64_t vertices, uint32_t stride)
{
    const uint64_t bytes = vertices * stride;
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
}

GfxResult SoftDevice::DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices, uint32_t stride)
{
    core->HandOff();
    if (vertices == nullptr || stride == 0 || primitiveCount > (1u << 24)) {
        return kGfxInvalidCall;
    }
    uint64_t count = 0;
    switch (type) {
    case PrimPointList: count = primitiveCount; break;
    case PrimLineList: count = 2ull * primitiveCount; break;
    case PrimLineStrip: count = primitiveCount + 1ull; break;
    case PrimTriangleList: count = 3ull * primitiveCount; break;
    default: count = primitiveCount + 2ull; break;
    }
    if (shaders != nullptr && shaders->IsBound()) {
        return shaders->Draw(*core, type, primitiveCount,
                             static_cast<const uint8_t*>(vertices), UserBytes(count, stride),
                             stride, nullptr, 0, FormatIndex16, 0);
    }
    return DrawCore(*core, type, primitiveCount, static_cast<const uint8_t*>(vertices), UserBytes(count, stride),
                    stride, nullptr, 0, FormatIndex16, 0);
}

GfxResult SoftDevice::DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                                             uint32_t primitiveCount, const void* indices, uint32_t indexFormat,
                                             const void* vertices, uint32_t stride)
{
    core->HandOff();
    if (indices == nullptr || vertices == nullptr || stride == 0 || primitiveCount > (1u << 24) ||
        (indexFormat != FormatIndex16 && indexFormat != FormatIndex32)) {
        return kGfxInvalidCall;
    }
    uint64_t count = 0;
    switch (type) {
    case PrimPointList: count = primitiveCount; break;
    case PrimLineList: count = 2ull * primitiveCount; break;
    case PrimLineStrip: count = primitiveCount + 1ull; break;
    case PrimTriangleList: count = 3ull * primitiveCount; break;
    default: count = primitiveCount + 2ull; break;
    }
    // The caller vouches for vertices [0, minIndex + vertexCount).
    const uint32_t indexSize = indexFormat == FormatIndex32 ? 4 : 2;
    if (shaders != nullptr && shaders->IsBound()) {
        return shaders->Draw(*core, type, primitiveCount, static_cast<const uint8_t*>(vertices),
                             UserBytes(static_cast<uint64_t>(minIndex) + vertexCount, stride), stride,
                             static_cast<const uint8_t*>(indices), UserBytes(count, indexSize), indexFormat, 0);
    }
    return DrawCore(*core, type, primitiveCount, static_cast<const uint8_t*>(vertices),
                    UserBytes(static_cast<uint64_t>(minIndex) + vertexCount, stride), stride,
                    static_cast<const uint8_t*>(indices), UserBytes(count, indexSize), indexFormat, 0);
}

// ---------------------------------------------------------------------------
// Programmable vertex stage

bool SoftDevice::MakeShaderUnit()
{
    if (shaders == nullptr) {
        try {
            shaders = std::make_unique<ShaderUnit>();
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "gfx: out of memory for the shader unit\n");
            return false;
        }
    }
    return true;
}

GfxResult SoftDevice::CreateVertexShader(const uint32_t* declaration, const uint32_t* code, uint32_t codeTokens,
                                         uint32_t* handle, uint32_t)
{
    // Every vertex is processed in software here, so the usage changes nothing.
    return MakeShaderUnit() ? shaders->CreateVertexShader(declaration, code, codeTokens, handle) : kGfxOutOfMemory;
}

GfxResult SoftDevice::DeleteVertexShader(uint32_t handle)
{
    return shaders != nullptr ? shaders->DeleteVertexShader(handle) : kGfxInvalidCall;
}

GfxResult SoftDevice::SetVertexShaderConstant(uint32_t reg, const void* data, uint32_t count)
{
    return MakeShaderUnit() ? shaders->SetConstant(reg, data, count) : kGfxOutOfMemory;
}

GfxResult SoftDevice::GetVertexShaderConstant(uint32_t reg, void* data, uint32_t count) const
{
    if (shaders == nullptr) {
        ShaderUnit empty;
        return empty.GetConstant(reg, data, count);
    }
    return shaders->GetConstant(reg, data, count);
}

GfxResult SoftDevice::CreatePixelShader(const uint32_t* code, uint32_t codeTokens, uint32_t* handle)
{
    return MakeShaderUnit() ? shaders->CreatePixelShader(code, codeTokens, handle) : kGfxOutOfMemory;
}

GfxResult SoftDevice::DeletePixelShader(uint32_t handle)
{
    if (shaders == nullptr) {
        return kGfxInvalidCall;
    }
    const GfxResult r = shaders->DeletePixelShader(handle);
    if (r == kGfxOk && core->pixelShaderHandle == handle) {
        core->pixelShaderHandle = 0;
        core->pixelProgram.reset();
        core->stateDirty = true;
    }
    return r;
}

GfxResult SoftDevice::SetPixelShader(uint32_t handle)
{
    std::shared_ptr<const PixelProgram> program;
    if (handle != 0) {
        program = shaders != nullptr ? shaders->FindPixelShader(handle) : nullptr;
        if (program == nullptr) {
            std::fprintf(stderr, "gfx: no pixel shader 0x%X\n", handle);
            return kGfxInvalidCall;
        }
    }
    if (core->pixelShaderHandle != handle) {
        core->pixelShaderHandle = handle;
        core->pixelProgram = std::move(program);
        core->stateDirty = true;
    }
    return kGfxOk;
}

uint32_t SoftDevice::GetPixelShader() const
{
    return core->pixelShaderHandle;
}

GfxResult SoftDevice::SetPixelShaderConstant(uint32_t reg, const void* data, uint32_t count)
{
    if (data == nullptr || reg >= kPixelShaderConstants || count > kPixelShaderConstants - reg) {
        return kGfxInvalidCall;
    }
    std::memcpy(core->pixelConstants[reg], data, static_cast<size_t>(count) * 16);
    core->stateDirty = true;
    return kGfxOk;
}

GfxResult SoftDevice::GetPixelShaderConstant(uint32_t reg, void* data, uint32_t count) const
{
    if (data == nullptr || reg >= kPixelShaderConstants || count > kPixelShaderConstants - reg) {
        return kGfxInvalidCall;
    }
    std::memcpy(data, core->pixelConstants[reg], static_cast<size_t>(count) * 16);
    return kGfxOk;
}

}  // namespace platform

