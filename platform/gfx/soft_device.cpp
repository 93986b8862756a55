// Front end of the software device: states, resources, vertex processing and
// clipping. Draw calls turn their vertices into screen primitives at once and
// record them; RecordedFrame and the tile runner (raster.cpp) do the pixels.
#include "platform/gfx/soft_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

#include "platform/gfx/raster.h"
#include "platform/gfx/thread_pool.h"

namespace platform {

// ---------------------------------------------------------------------------
// Images

struct ImageData {
    uint32_t format = FormatA8R8G8B8;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;
    std::vector<uint8_t> bytes;
    // A8R8G8B8 copy that the pixel stage reads, for formats other than 21.
    std::vector<uint32_t> argb;
    bool locked = false;
    bool lockedWrite = false;
    uint64_t useSerial = 0;   // the recording serial of the last draw that read it

    bool Allocate(uint32_t fmt, int32_t w, int32_t h)
    {
        const int bpp = fmt == FormatD32 ? 4 : FormatBytes(fmt);
        format = fmt;
        width = w;
        height = h;
        pitch = w * bpp;
        try {
            bytes.assign(static_cast<size_t>(pitch) * h, 0);
            if (fmt != FormatA8R8G8B8 && fmt != FormatD32) {
                argb.assign(static_cast<size_t>(w) * h, 0);
                RefreshSamples();
            }
        } catch (const std::bad_alloc&) {
            bytes.clear();
            argb.clear();
            return false;
        }
        return true;
    }

    void RefreshSamples()
    {
        if (argb.empty()) {
            return;
        }
        const int bpp = FormatBytes(format);
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* row = bytes.data() + static_cast<size_t>(y) * pitch;
            uint32_t* out = argb.data() + static_cast<size_t>(y) * width;
            for (int32_t x = 0; x < width; ++x) {
                out[x] = FormatToArgb(format, row + x * bpp);
            }
        }
    }

    TexView View() const
    {
        TexView v;
        v.texels = format == FormatA8R8G8B8 ? reinterpret_cast<const uint32_t*>(bytes.data()) : argb.data();
        v.width = width;
        v.height = height;
        return v;
    }
};

// ---------------------------------------------------------------------------
// Device state

struct DeviceCore {
    DeviceParams params;
    bool created = false;
    bool lost = false;
    int lostChecks = 0;   // TestCooperativeLevel answers "lost" this many more times
    bool inScene = false;

    uint32_t rs[kRenderStateCount] = {};
    uint32_t tss[kStageCount][kStageStateCount] = {};
    SoftTexture* textures[kStageCount] = {};
    Matrix4 world{}, view{}, projection{};
    Viewport viewport;
    uint32_t fvf = 0;
    SoftVertexBuffer* stream = nullptr;
    uint32_t streamStride = 0;
    SoftIndexBuffer* indices = nullptr;
    uint32_t baseVertex = 0;

    std::shared_ptr<ImageData> back, front, depth;
    SoftSurface* backSurface = nullptr;
    SoftSurface* depthSurface = nullptr;
    PresentSink sink;

    std::unordered_set<SoftResource*> live;
    int32_t defaultPoolCount = 0;

    std::vector<float> pendingDepth;   // per tile, see Target::pendingDepth
    RecordedFrame frame;
    // The buffers of the frame before: recording alternates between two sets
    // so that it rarely writes lines the workers have just read.
    RecordedFrame spare;
    uint64_t serial = 1;
    bool stateDirty = true;
    ThreadPool pool;
    int spanLevel = kSpansWide;

    // Scratch of the vertex stage, kept to avoid allocation per draw.
    std::vector<ScreenVertex> verts;
    std::vector<float> clipW;   // clip-space x, y, z, w per vertex (untransformed)

    ~DeviceCore();
    void SetDefaultStates();
    void ReleaseBindings();
    bool MakeBuffers();
    void FlushFrame();
    // Writes every tile's pending depth clear (before the depth buffer is read).
    void SettleAllDepth();
    Target MakeTarget();
    void UseImage(ImageData* image);
    uint32_t CurrentState();
};

static Matrix4 Identity()
{
    Matrix4 m{};
    for (int i = 0; i < 4; ++i) {
        m.m[i][i] = 1.0f;
    }
    return m;
}

static uint32_t FloatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

static float BitsFloat(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

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
    for (int s = 0; s < kStageCount; ++s) {
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
    frame.Reset(params.width, params.height);
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

void DeviceCore::FlushFrame()
{
    if (frame.empty) {
        frame.Clear();
        ++serial;
        return;
    }
    const Target target = MakeTarget();
    const RecordedFrame& f = frame;
    const int level = std::min(spanLevel, WidestSpans());
    pool.Run(f.tilesX * f.tilesY, [&](int tile) { RunTile(f, target, tile, level); });
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
// Resources

SoftResource::SoftResource(DeviceCore* c, Pool p) : core(c), pool(p)
{
    if (core != nullptr) {
        core->live.insert(this);
        if (pool == PoolDefault) {
            ++core->defaultPoolCount;
        }
    }
}

SoftResource::~SoftResource()
{
    // The device's own back and depth surfaces were never counted.
    if (core != nullptr && core->live.erase(this) != 0 && pool == PoolDefault) {
        --core->defaultPoolCount;
    }
}

uint32_t SoftResource::Release()
{
    const uint32_t left = --refs;
    if (left == 0) {
        delete this;
    }
    return left;
}

// Locks one image: flushes first when recorded draws still read or write it.
static GfxResult LockImage(DeviceCore* core, ImageData& image, LockedRect* out, const Rect* rect, uint32_t flags,
                           bool isTarget)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    if (image.locked) {
        std::fprintf(stderr, "gfx: image already locked\n");
        return kGfxInvalidCall;
    }
    int32_t left = 0, top = 0;
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->right > image.width || rect->bottom > image.height ||
            rect->left >= rect->right || rect->top >= rect->bottom) {
            std::fprintf(stderr, "gfx: lock rectangle (%d,%d)-(%d,%d) outside %dx%d\n", rect->left, rect->top,
                         rect->right, rect->bottom, image.width, image.height);
            return kGfxInvalidCall;
        }
        left = rect->left;
        top = rect->top;
    }
    if (core != nullptr && !core->frame.empty && (isTarget || image.useSerial == core->serial)) {
        core->FlushFrame();
    }
    const int bpp = image.format == FormatD32 ? 4 : FormatBytes(image.format);
    out->pitch = image.pitch;
    out->bits = image.bytes.data() + static_cast<size_t>(top) * image.pitch + static_cast<size_t>(left) * bpp;
    image.locked = true;
    image.lockedWrite = (flags & LockReadOnly) == 0;
    return kGfxOk;
}

static GfxResult UnlockImage(ImageData& image)
{
    if (!image.locked) {
        return kGfxInvalidCall;
    }
    image.locked = false;
    if (image.lockedWrite) {
        image.RefreshSamples();
    }
    return kGfxOk;
}

SoftSurface::SoftSurface(DeviceCore* c, Pool p, std::shared_ptr<ImageData> img) : SoftResource(c, p), image(std::move(img)) {}

SoftSurface::~SoftSurface()
{
    // Recorded copies may still read the pixels.
    if (core != nullptr && !core->frame.empty && image->useSerial == core->serial) {
        core->FlushFrame();
    }
}
int32_t SoftSurface::GetWidth() const { return image->width; }
int32_t SoftSurface::GetHeight() const { return image->height; }
uint32_t SoftSurface::GetFormat() const { return image->format; }
bool SoftSurface::IsLocked() const { return image->locked; }

GfxResult SoftSurface::LockRect(LockedRect* out, const Rect* rect, uint32_t flags)
{
    const bool isTarget = core != nullptr && (image == core->back || image == core->depth);
    const GfxResult r = LockImage(core, *image, out, rect, flags, isTarget);
    if (r == kGfxOk && core != nullptr && image == core->depth) {
        core->SettleAllDepth();
    }
    return r;
}

GfxResult SoftSurface::UnlockRect()
{
    return UnlockImage(*image);
}

SoftTexture::SoftTexture(DeviceCore* c, Pool p, std::shared_ptr<ImageData> img) : SoftResource(c, p), image(std::move(img)) {}

SoftTexture::~SoftTexture()
{
    // Recorded draws may still read the texels.
    if (core != nullptr && !core->frame.empty && image->useSerial == core->serial) {
        core->FlushFrame();
    }
}

int32_t SoftTexture::GetWidth() const { return image->width; }
int32_t SoftTexture::GetHeight() const { return image->height; }
uint32_t SoftTexture::GetFormat() const { return image->format; }

GfxResult SoftTexture::LockRect(uint32_t level, LockedRect* out, const Rect* rect, uint32_t flags)
{
    if (level != 0) {
        std::fprintf(stderr, "gfx: texture level %u does not exist\n", level);
        return kGfxInvalidCall;
    }
    return LockImage(core, *image, out, rect, flags, false);
}

GfxResult SoftTexture::UnlockRect(uint32_t level)
{
    if (level != 0) {
        return kGfxInvalidCall;
    }
    return UnlockImage(*image);
}

SoftVertexBuffer::SoftVertexBuffer(DeviceCore* c, Pool p, uint32_t length, uint32_t f)
    : SoftResource(c, p), data(length), fvf(f)
{
}

static GfxResult LockBuffer(std::vector<uint8_t>& data, bool& locked, uint32_t offset, uint32_t size, uint8_t** out)
{
    if (out == nullptr || locked) {
        return kGfxInvalidCall;
    }
    // Size 0 locks from the offset to the end.
    if (offset > data.size() || (size != 0 && size > data.size() - offset)) {
        std::fprintf(stderr, "gfx: buffer lock %u+%u outside %zu bytes\n", offset, size, data.size());
        return kGfxInvalidCall;
    }
    *out = data.data() + offset;
    locked = true;
    return kGfxOk;
}

GfxResult SoftVertexBuffer::Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t)
{
    // Draws take their vertices when recorded, so discard and no-overwrite
    // both just hand out the memory.
    return LockBuffer(data, locked, offset, size, out);
}

GfxResult SoftVertexBuffer::Unlock()
{
    if (!locked) {
        return kGfxInvalidCall;
    }
    locked = false;
    return kGfxOk;
}

SoftIndexBuffer::SoftIndexBuffer(DeviceCore* c, Pool p, uint32_t length, uint32_t f)
    : SoftResource(c, p), data(length), format(f)
{
}

GfxResult SoftIndexBuffer::Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t)
{
    return LockBuffer(data, locked, offset, size, out);
}

GfxResult SoftIndexBuffer::Unlock()
{
    if (!locked) {
        return kGfxInvalidCall;
    }
    locked = false;
    return kGfxOk;
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
    core->created = true;
    return true;
}

void SoftDevice::SetThreadCount(int threads)
{
    core->pool.SetThreadCount(threads);
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
    core->frame.Clear();
    const DeviceParams old = core->params;
    core->params = params;
    if (!core->MakeBuffers()) {
        core->params = old;
        core->lost = true;
        return kGfxOutOfVideoMemory;
    }
    core->SetDefaultStates();
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
        core->frame.clears.push_back(cmd);
        core->frame.Bin(kBinClear | index, cmd.left, cmd.top, cmd.right - 1, cmd.bottom - 1);
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
    if (stage >= kStageCount || type >= kStageStateCount) {
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
    if (stage >= kStageCount || type >= kStageStateCount || value == nullptr) {
        return kGfxInvalidCall;
    }
    *value = core->tss[stage][type];
    return kGfxOk;
}

GfxResult SoftDevice::SetTexture(uint32_t stage, SoftTexture* texture)
{
    if (stage >= kStageCount) {
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
    return stage < kStageCount ? core->textures[stage] : nullptr;
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

GfxResult SoftDevice::SetVertexShader(uint32_t fvf)
{
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
    auto image = std::make_shared<ImageData>();
    if (!image->Allocate(format, width, height)) {
        return kGfxOutOfVideoMemory;
    }
    *out = new (std::nothrow) SoftTexture(core.get(), static_cast<Pool>(pool), image);
    return *out != nullptr ? kGfxOk : kGfxOutOfMemory;
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
    auto image = std::make_shared<ImageData>();
    if (!image->Allocate(format, width, height)) {
        return kGfxOutOfMemory;
    }
    *out = new (std::nothrow) SoftSurface(core.get(), PoolSystemMem, image);
    return *out != nullptr ? kGfxOk : kGfxOutOfMemory;
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
            core->frame.copies.push_back(cmd);
            core->frame.Bin(kBinCopy | index, cmd.left, cmd.top, cmd.right - 1, cmd.bottom - 1);
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

// ---------------------------------------------------------------------------
// Drawing

uint32_t DeviceCore::CurrentState()
{
    if (!stateDirty && !frame.states.empty()) {
        return static_cast<uint32_t>(frame.states.size() - 1);
    }
    PixelState ps;
    ps.stageCount = 0;
    for (int s = 0; s < kStageCount; ++s) {
        const uint32_t* t = tss[s];
        if (t[TssColorOp] == TopDisable) {
            break;
        }
        StageSnap& st = ps.stage[s];
        st.colorOp = static_cast<uint8_t>(t[TssColorOp]);
        st.colorArg1 = static_cast<uint8_t>(t[TssColorArg1]);
        st.colorArg2 = static_cast<uint8_t>(t[TssColorArg2]);
        st.colorArg0 = static_cast<uint8_t>(t[TssColorArg0]);
        st.alphaOp = static_cast<uint8_t>(t[TssAlphaOp]);
        st.alphaArg1 = static_cast<uint8_t>(t[TssAlphaArg1]);
        st.alphaArg2 = static_cast<uint8_t>(t[TssAlphaArg2]);
        st.alphaArg0 = static_cast<uint8_t>(t[TssAlphaArg0]);
        st.resultArg = static_cast<uint8_t>(t[TssResultArg]);
        st.coordSet = static_cast<uint8_t>(t[TssTexCoordIndex] & 3);
        st.addressU = static_cast<uint8_t>(t[TssAddressU]);
        st.addressV = static_cast<uint8_t>(t[TssAddressV]);
        st.magFilter = static_cast<uint8_t>(t[TssMagFilter]);
        st.minFilter = static_cast<uint8_t>(t[TssMinFilter]);
        st.borderColor = t[TssBorderColor];
        if (textures[s] != nullptr) {
            st.tex = textures[s]->image->View();
            UseImage(textures[s]->image.get());
        }
        ps.stageCount = s + 1;
    }
    ps.blend = rs[RsAlphaBlendEnable] != 0;
    ps.srcBlend = static_cast<uint8_t>(rs[RsSrcBlend]);
    ps.destBlend = static_cast<uint8_t>(rs[RsDestBlend]);
    ps.blendOp = static_cast<uint8_t>(rs[RsBlendOp]);
    ps.alphaTest = rs[RsAlphaTestEnable] != 0;
    ps.alphaFunc = static_cast<uint8_t>(rs[RsAlphaFunc]);
    ps.alphaRef = static_cast<uint8_t>(rs[RsAlphaRef] & 0xFF);
    ps.zTest = rs[RsZEnable] != 0 && depth != nullptr;
    ps.zWrite = rs[RsZWriteEnable] != 0;
    ps.zFunc = static_cast<uint8_t>(rs[RsZFunc]);
    ps.specular = rs[RsSpecularEnable] != 0;
    ps.fog = rs[RsFogEnable] != 0;
    ps.fogColor = rs[RsFogColor];
    ps.tfactor = rs[RsTextureFactor];
    ps.writeMask = rs[RsColorWriteEnable] & 0xF;

    // Which fast span family may run this state.
    const bool plain = !ps.alphaTest && !ps.zTest && !ps.specular && !ps.fog && ps.writeMask == 0xF;
    int8_t blendKind = -1;
    if (!ps.blend || (ps.srcBlend == BlendOne && ps.destBlend == BlendZero && ps.blendOp == BlendOpAdd)) {
        blendKind = 0;
    } else if (ps.blendOp == BlendOpAdd && ps.srcBlend == BlendSrcAlpha && ps.destBlend == BlendInvSrcAlpha) {
        blendKind = 1;
    } else if (ps.blendOp == BlendOpAdd && ps.srcBlend == BlendSrcAlpha && ps.destBlend == BlendOne) {
        blendKind = 2;
    }
    ps.fastBlend = plain ? blendKind : -1;
    bool textured = false;
    bool stageZeroFolds = false;
    if (ps.stageCount == 1) {
        const StageSnap& st = ps.stage[0];
        auto isDiffuse = [](uint8_t a) { return a == TaDiffuse || a == TaCurrent; };
        auto textureTerm = [&](uint8_t op, uint8_t a1, uint8_t a2) {
            return (op == TopModulate && ((a1 == TaTexture && isDiffuse(a2)) || (a2 == TaTexture && isDiffuse(a1)))) ||
                   (op == TopSelectArg1 && a1 == TaTexture) || (op == TopSelectArg2 && a2 == TaTexture);
        };
        textured = st.tex.texels != nullptr && st.resultArg == TaCurrent &&
                   textureTerm(st.colorOp, st.colorArg1, st.colorArg2) &&
                   textureTerm(st.alphaOp, st.alphaArg1, st.alphaArg2) && st.magFilter <= FilterPoint &&
                   st.minFilter <= FilterPoint;
        stageZeroFolds = st.tex.texels == nullptr;
    }
    ps.fastTextured = textured;
    // Without a texture the stages see only constants when the triangle's
    // colours are even, so they fold into one colour.
    ps.fastUntextured = ps.stageCount == 0 || stageZeroFolds;
    frame.states.push_back(ps);
    stateDirty = false;
    return static_cast<uint32_t>(frame.states.size() - 1);
}

namespace {

struct VertexLayout {
    int stride = 0;
    bool transformed = false;
    int diffuse = -1, specular = -1;
    int tex[4] = {-1, -1, -1, -1};
    int texSets = 0;
};

VertexLayout LayoutOf(uint32_t fvf)
{
    VertexLayout l;
    l.stride = FvfStride(fvf);
    if (l.stride == 0) {
        return l;
    }
    int off = 0;
    if ((fvf & FvfPositionMask) == FvfXyzRhw) {
        l.transformed = true;
        off = 16;
    } else {
        off = 12;
    }
    if (fvf & FvfNormal) {
        off += 12;
    }
    if (fvf & FvfPointSize) {
        off += 4;
    }
    if (fvf & FvfDiffuse) {
        l.diffuse = off;
        off += 4;
    }
    if (fvf & FvfSpecular) {
        l.specular = off;
        off += 4;
    }
    l.texSets = static_cast<int>((fvf & FvfTexCountMask) >> FvfTexCountShift);
    for (int i = 0; i < l.texSets; ++i) {
        static const int kFloats[4] = {2, 3, 4, 1};
        l.tex[i] = off;
        off += 4 * kFloats[(fvf >> (16 + 2 * i)) & 3];
    }
    return l;
}

inline float ReadFloat(const uint8_t* p)
{
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

inline uint32_t ReadU32(const uint8_t* p)
{
    uint32_t u;
    std::memcpy(&u, p, 4);
    return u;
}

inline void SetColor(float out[4], uint32_t c)
{
    out[0] = static_cast<float>(c & 0xFF);
    out[1] = static_cast<float>((c >> 8) & 0xFF);
    out[2] = static_cast<float>((c >> 16) & 0xFF);
    out[3] = static_cast<float>(c >> 24);
}

Matrix4 Multiply(const Matrix4& a, const Matrix4& b)
{
    Matrix4 r{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float s = 0.0f;
            for (int k = 0; k < 4; ++k) {
                s += a.m[i][k] * b.m[k][j];
            }
            r.m[i][j] = s;
        }
    }
    return r;
}

// A vertex in clip space with its attributes, while it is being clipped.
struct ClipVertex {
    float p[4];   // x, y, z, w (clip space) or x, y (screen) for the guard band
    ScreenVertex v;
};

ClipVertex Lerp(const ClipVertex& a, const ClipVertex& b, float t)
{
    ClipVertex r;
    for (int i = 0; i < 4; ++i) {
        r.p[i] = a.p[i] + (b.p[i] - a.p[i]) * t;
        r.v.color[i] = a.v.color[i] + (b.v.color[i] - a.v.color[i]) * t;
        r.v.spec[i] = a.v.spec[i] + (b.v.spec[i] - a.v.spec[i]) * t;
        r.v.tc[i][0] = a.v.tc[i][0] + (b.v.tc[i][0] - a.v.tc[i][0]) * t;
        r.v.tc[i][1] = a.v.tc[i][1] + (b.v.tc[i][1] - a.v.tc[i][1]) * t;
    }
    r.v.x = a.v.x + (b.v.x - a.v.x) * t;
    r.v.y = a.v.y + (b.v.y - a.v.y) * t;
    r.v.z = a.v.z + (b.v.z - a.v.z) * t;
    r.v.rhw = a.v.rhw + (b.v.rhw - a.v.rhw) * t;
    return r;
}

// Sutherland-Hodgman against one plane: keeps points where dist >= 0.
template <typename Dist>
int ClipAgainst(const ClipVertex* in, int n, ClipVertex* out, Dist dist)
{
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const ClipVertex& a = in[i];
        const ClipVertex& b = in[(i + 1) % n];
        const float da = dist(a), db = dist(b);
        if (da >= 0.0f) {
            out[m++] = a;
        }
        if ((da >= 0.0f) != (db >= 0.0f)) {
            out[m++] = Lerp(a, b, da / (da - db));
        }
    }
    return m;
}

// Pre-transformed vertices beyond this many pixels are clipped in screen
// space so that the fixed-point edge functions cannot overflow.
constexpr float kGuardBand = 32768.0f;

}  // namespace

// Fetches, transforms and records one draw's primitives.
static GfxResult DrawCore(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                          uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                          uint32_t indexFormat, uint32_t baseVertex)
{
    if (!dc.inScene) {
        return kGfxInvalidCall;
    }
    if (type < PrimPointList || type > PrimTriangleFan || primitiveCount == 0) {
        return kGfxInvalidCall;
    }
    const VertexLayout layout = LayoutOf(dc.fvf);
    if (layout.stride == 0 || stride < static_cast<uint32_t>(layout.stride)) {
        std::fprintf(stderr, "gfx: draw with vertex format 0x%X and stride %u\n", dc.fvf, stride);
        return kGfxInvalidCall;
    }
    uint64_t needed = 0;
    switch (type) {
    case PrimPointList: needed = primitiveCount; break;
    case PrimLineList: needed = 2ull * primitiveCount; break;
    case PrimLineStrip: needed = primitiveCount + 1ull; break;
    case PrimTriangleList: needed = 3ull * primitiveCount; break;
    default: needed = primitiveCount + 2ull; break;
    }
    const uint32_t indexSize = indexFormat == FormatIndex32 ? 4 : 2;
    if (indexData != nullptr && needed * indexSize > indexBytes) {
        std::fprintf(stderr, "gfx: draw reads %llu indices past the index data\n", static_cast<unsigned long long>(needed));
        return kGfxInvalidCall;
    }
    const uint64_t vertexCount = vertexBytes < static_cast<uint32_t>(layout.stride)
                                     ? 0
                                     : (vertexBytes - layout.stride) / stride + 1;
    if (indexData == nullptr && needed > vertexCount) {
        std::fprintf(stderr, "gfx: draw reads %llu vertices of %llu\n", static_cast<unsigned long long>(needed),
                     static_cast<unsigned long long>(vertexCount));
        return kGfxInvalidCall;
    }
    if (dc.lost) {
        return kGfxOk;
    }
    const uint32_t state = dc.CurrentState();
    const PixelState& ps = dc.frame.states[state];
    (void)ps;
    const Viewport& vp = dc.viewport;
    const ClipBox box{static_cast<int32_t>(vp.x), static_cast<int32_t>(vp.y),
                      static_cast<int32_t>(vp.x + vp.width) - 1, static_cast<int32_t>(vp.y + vp.height) - 1};
    const bool flat = dc.rs[RsShadeMode] == ShadeFlat;
    const uint32_t cull = dc.rs[RsCullMode];
    const uint32_t fill = dc.rs[RsFillMode];
    const bool lastPixel = dc.rs[RsLastPixel] != 0;
    const Matrix4 wvp = Multiply(Multiply(dc.world, dc.view), dc.projection);
    const Matrix4 wv = Multiply(dc.world, dc.view);
    const bool fogVertex = dc.rs[RsFogEnable] != 0 && !layout.transformed &&
                           (dc.rs[RsFogVertexMode] == FogLinear || dc.rs[RsFogTableMode] == FogLinear);
    const float fogStart = BitsFloat(dc.rs[RsFogStart]), fogEnd = BitsFloat(dc.rs[RsFogEnd]);

    // Vertex i of the draw as a clip vertex; false when its index lies
    // outside the vertex data.
    auto fetch = [&](uint64_t i, ClipVertex* out) -> bool {
        uint64_t vi = i;
        if (indexData != nullptr) {
            vi = indexSize == 4 ? ReadU32(indexData + i * 4)
                                : static_cast<uint64_t>(indexData[i * 2] | (indexData[i * 2 + 1] << 8));
            vi += baseVertex;
        }
        if (vi >= vertexCount) {
            return false;
        }
        const uint8_t* p = vertexData + vi * stride;
        ScreenVertex& v = out->v;
        if (layout.diffuse >= 0) {
            SetColor(v.color, ReadU32(p + layout.diffuse));
        }
        if (layout.specular >= 0) {
            SetColor(v.spec, ReadU32(p + layout.specular));
        }
        for (int s = 0; s < 4; ++s) {
            const int set = s < layout.texSets ? s : -1;
            if (set >= 0) {
                v.tc[s][0] = ReadFloat(p + layout.tex[set]);
                v.tc[s][1] = ((dc.fvf >> (16 + 2 * set)) & 3) == 3 ? 0.0f : ReadFloat(p + layout.tex[set] + 4);
            }
        }
        const float x = ReadFloat(p), y = ReadFloat(p + 4), z = ReadFloat(p + 8);
        if (layout.transformed) {
            v.x = x;
            v.y = y;
            v.z = z;
            v.rhw = ReadFloat(p + 12);
            out->p[0] = x;
            out->p[1] = y;
            out->p[2] = z;
            out->p[3] = 1.0f;
        } else {
            for (int c = 0; c < 4; ++c) {
                out->p[c] = x * wvp.m[0][c] + y * wvp.m[1][c] + z * wvp.m[2][c] + wvp.m[3][c];
            }
            if (fogVertex) {
                const float depthView = x * wv.m[0][2] + y * wv.m[1][2] + z * wv.m[2][2] + wv.m[3][2];
                const float f = fogEnd != fogStart ? (fogEnd - depthView) / (fogEnd - fogStart) : 1.0f;
                v.spec[3] = std::clamp(f, 0.0f, 1.0f) * 255.0f;
            }
        }
        return true;
    };
    auto toScreen = [&](ClipVertex& c) {
        if (layout.transformed) {
            return;
        }
        const float invW = 1.0f / c.p[3];
        c.v.x = static_cast<float>(vp.x) + (1.0f + c.p[0] * invW) * static_cast<float>(vp.width) * 0.5f;
        c.v.y = static_cast<float>(vp.y) + (1.0f - c.p[1] * invW) * static_cast<float>(vp.height) * 0.5f;
        c.v.z = vp.minZ + c.p[2] * invW * (vp.maxZ - vp.minZ);
        c.v.rhw = invW;
    };
    // Clips a polygon of n clip vertices and records it as a fan.
    ClipVertex bufA[16], bufB[16];
    auto emitPolygon = [&](int n) {
        ClipVertex* poly = bufA;
        ClipVertex* other = bufB;
        if (layout.transformed) {
            bool inside = true;
            for (int i = 0; i < n; ++i) {
                if (!std::isfinite(poly[i].p[0]) || !std::isfinite(poly[i].p[1])) {
                    return;
                }
                inside = inside && std::fabs(poly[i].p[0]) <= kGuardBand && std::fabs(poly[i].p[1]) <= kGuardBand;
            }
            if (!inside) {
                for (int axis = 0; axis < 2 && n >= 3; ++axis) {
                    n = ClipAgainst(poly, n, other, [axis](const ClipVertex& c) { return kGuardBand - c.p[axis]; });
                    std::swap(poly, other);
                    n = ClipAgainst(poly, n, other, [axis](const ClipVertex& c) { return kGuardBand + c.p[axis]; });
                    std::swap(poly, other);
                }
                for (int i = 0; i < n; ++i) {
                    poly[i].v.x = poly[i].p[0];
                    poly[i].v.y = poly[i].p[1];
                }
            }
        } else {
            // The six planes of the view volume: -w <= x, y <= w, 0 <= z <= w.
            for (int plane = 0; plane < 6 && n >= 3; ++plane) {
                bool allIn = true;
                auto dist = [plane](const ClipVertex& c) {
                    switch (plane) {
                    case 0: return c.p[3] + c.p[0];
                    case 1: return c.p[3] - c.p[0];
                    case 2: return c.p[3] + c.p[1];
                    case 3: return c.p[3] - c.p[1];
                    case 4: return c.p[2];
                    default: return c.p[3] - c.p[2];
                    }
                };
                for (int i = 0; i < n; ++i) {
                    allIn = allIn && dist(poly[i]) >= 0.0f;
                }
                if (allIn) {
                    continue;
                }
                n = ClipAgainst(poly, n, other, dist);
                std::swap(poly, other);
            }
            for (int i = 0; i < n; ++i) {
                if (!(poly[i].p[3] > 0.0f)) {
                    return;
                }
                toScreen(poly[i]);
            }
        }
        if (n < 3) {
            return;
        }
        if (fill == FillSolid || fill == 0 || fill > FillSolid) {
            for (int k = 1; k + 1 < n; ++k) {
                SetupTriangle(dc.frame, state, poly[0].v, poly[k].v, poly[k + 1].v, cull, flat, box);
            }
        } else {
            for (int i = 0; i < n; ++i) {
                if (fill == FillWireframe) {
                    SetupLine(dc.frame, state, poly[i].v, poly[(i + 1) % n].v, flat, true, box);
                } else {
                    SetupPoint(dc.frame, state, poly[i].v, box);
                }
            }
        }
    };
    auto emitLine = [&](ClipVertex a, ClipVertex b) {
        if (!layout.transformed) {
            bufA[0] = a;
            bufA[1] = b;
            for (int plane = 0; plane < 6; ++plane) {
                auto dist = [plane](const ClipVertex& c) {
                    switch (plane) {
                    case 0: return c.p[3] + c.p[0];
                    case 1: return c.p[3] - c.p[0];
                    case 2: return c.p[3] + c.p[1];
                    case 3: return c.p[3] - c.p[1];
                    case 4: return c.p[2];
                    default: return c.p[3] - c.p[2];
                    }
                };
                const float da = dist(bufA[0]), db = dist(bufA[1]);
                if (da < 0.0f && db < 0.0f) {
                    return;
                }
                if (da < 0.0f) {
                    bufA[0] = Lerp(bufA[0], bufA[1], da / (da - db));
                } else if (db < 0.0f) {
                    bufA[1] = Lerp(bufA[0], bufA[1], da / (da - db));
                }
            }
            a = bufA[0];
            b = bufA[1];
            toScreen(a);
            toScreen(b);
        } else if (!std::isfinite(a.v.x) || !std::isfinite(a.v.y) || !std::isfinite(b.v.x) || !std::isfinite(b.v.y) ||
                   std::fabs(a.v.x) > kGuardBand || std::fabs(a.v.y) > kGuardBand || std::fabs(b.v.x) > kGuardBand ||
                   std::fabs(b.v.y) > kGuardBand) {
            return;
        }
        SetupLine(dc.frame, state, a.v, b.v, flat, lastPixel, box);
    };

    bool badIndex = false;
    ClipVertex a, b, c;
    switch (type) {
    case PrimPointList:
        for (uint32_t i = 0; i < primitiveCount; ++i) {
            if (!fetch(i, &a)) {
                badIndex = true;
                continue;
            }
            if (!layout.transformed) {
                if (!(a.p[3] > 0.0f) || std::fabs(a.p[0]) > a.p[3] || std::fabs(a.p[1]) > a.p[3] || a.p[2] < 0.0f ||
                    a.p[2] > a.p[3]) {
                    continue;
                }
                toScreen(a);
            } else if (!std::isfinite(a.v.x) || !std::isfinite(a.v.y)) {
                continue;
            }
            SetupPoint(dc.frame, state, a.v, box);
        }
        break;
    case PrimLineList:
    case PrimLineStrip:
        for (uint32_t i = 0; i < primitiveCount; ++i) {
            const uint64_t i0 = type == PrimLineList ? 2ull * i : i;
            if (!fetch(i0, &a) || !fetch(i0 + 1, &b)) {
                badIndex = true;
                continue;
            }
            emitLine(a, b);
        }
        break;
    default: {
        auto corners = [type](uint64_t i, uint64_t* i0, uint64_t* i1, uint64_t* i2) {
            if (type == PrimTriangleList) {
                *i0 = 3 * i;
                *i1 = *i0 + 1;
                *i2 = *i0 + 2;
            } else if (type == PrimTriangleStrip) {
                // Every other strip triangle swaps two corners to keep its winding.
                *i0 = i;
                *i1 = (i & 1) ? i + 2 : i + 1;
                *i2 = (i & 1) ? i + 1 : i + 2;
            } else {
                *i0 = 0;
                *i1 = i + 1;
                *i2 = i + 2;
            }
        };
        auto same = [](const ClipVertex& x, const ClipVertex& y) { return std::memcmp(&x.v, &y.v, sizeof(x.v)) == 0; };
        auto inGuard = [](const ClipVertex& x) {
            return std::fabs(x.v.x) <= kGuardBand && std::fabs(x.v.y) <= kGuardBand;
        };
        ClipVertex d, e, g;
        for (uint32_t i = 0; i < primitiveCount; ++i) {
            uint64_t i0, i1, i2;
            corners(i, &i0, &i1, &i2);
            if (!fetch(i0, &a) || !fetch(i1, &b) || !fetch(i2, &c)) {
                badIndex = true;
                continue;
            }
            if (layout.transformed && fill == FillSolid && inGuard(a) && inGuard(b) && inGuard(c)) {
                // Sprites come as two triangles of a rectangle: draw them as
                // one primitive when the next triangle completes it.
                if (i + 1 < primitiveCount && (type == PrimTriangleList || !flat)) {
                    uint64_t j0, j1, j2;
                    corners(i + 1, &j0, &j1, &j2);
                    if (fetch(j0, &d) && fetch(j1, &e) && fetch(j2, &g) && inGuard(e)) {
                        bool merged = false;
                        if (type == PrimTriangleList && same(d, c) && same(g, a)) {
                            merged = SetupRectangle(dc.frame, state, a.v, b.v, c.v, e.v, cull, flat, box);
                        } else if (type == PrimTriangleFan && same(d, a) && same(e, c)) {
                            merged = SetupRectangle(dc.frame, state, a.v, b.v, c.v, g.v, cull, flat, box);
                        } else if (type == PrimTriangleStrip && !(i & 1) && same(d, b) && same(g, c)) {
                            // (v0, v1, v2) and (v1, v3, v2): the diagonal runs v1 to v2.
                            merged = SetupRectangle(dc.frame, state, d.v, e.v, g.v, a.v, cull, flat, box);
                        }
                        if (merged) {
                            ++i;
                            continue;
                        }
                    }
                }
                SetupTriangle(dc.frame, state, a.v, b.v, c.v, cull, flat, box);
                continue;
            }
            bufA[0] = a;
            bufA[1] = b;
            bufA[2] = c;
            emitPolygon(3);
        }
        break;
    }
    }
    if (badIndex) {
        std::fprintf(stderr, "gfx: draw skipped primitives whose indices lie outside the vertices\n");
    }
    return kGfxOk;
}

GfxResult SoftDevice::DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount)
{
    if (core->stream == nullptr) {
        return kGfxInvalidCall;
    }
    const std::vector<uint8_t>& data = core->stream->data;
    const uint64_t offset = static_cast<uint64_t>(startVertex) * core->streamStride;
    if (offset >= data.size()) {
        return kGfxInvalidCall;
    }
    return DrawCore(*core, type, primitiveCount, data.data() + offset, static_cast<uint32_t>(data.size() - offset),
                    core->streamStride, nullptr, 0, FormatIndex16, 0);
}

GfxResult SoftDevice::DrawIndexedPrimitive(uint32_t type, uint32_t, uint32_t, uint32_t startIndex,
                                           uint32_t primitiveCount)
{
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
    return DrawCore(*core, type, primitiveCount, static_cast<const uint8_t*>(vertices), UserBytes(count, stride),
                    stride, nullptr, 0, FormatIndex16, 0);
}

GfxResult SoftDevice::DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t vertexCount,
                                             uint32_t primitiveCount, const void* indices, uint32_t indexFormat,
                                             const void* vertices, uint32_t stride)
{
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
    return DrawCore(*core, type, primitiveCount, static_cast<const uint8_t*>(vertices),
                    UserBytes(static_cast<uint64_t>(minIndex) + vertexCount, stride), stride,
                    static_cast<const uint8_t*>(indices), UserBytes(count, indexSize), indexFormat, 0);
}

}  // namespace platform
