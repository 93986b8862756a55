#pragma once
// The software device's state and images, shared by its front-end files
// (soft_device.cpp, resources.cpp, vertex_stage.cpp). Not for the engine.
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/gfx/band_pipeline.h"
#include "platform/gfx/raster.h"
#include "platform/gfx/soft_device.h"
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
    // Moved on whenever the texels change. The premultiplied texels (see
    // TexView) are made when an additive draw reads them a second time
    // after that: a texture rewritten for every draw (a movie frame, say)
    // never pays for a copy it would use once. Texels change only after
    // every recorded draw that reads them is drawn (a write flushes the
    // frame first), so no part in flight reads a premultiplied copy while
    // it is made again.
    uint64_t version = 0;
    uint64_t premultipliedVersion = ~uint64_t{0};
    uint64_t additiveReadVersion = ~uint64_t{0};
    std::vector<uint32_t> premultiplied;

    bool Allocate(uint32_t fmt, int32_t w, int32_t h)
    {
        ++version;
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
        ++version;
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

    // The premultiplied texels as they are now for an additive draw, or
    // null (on its first read since the texels changed, or without memory)
    // when the draw is to blend the texels as they are.
    const uint32_t* Premultiplied();
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
    uint32_t tss[kTextureStageCount][kStageStateCount] = {};
    SoftTexture* textures[kTextureStageCount] = {};
    Matrix4 world{}, view{}, projection{};
    float clipPlanes[SoftDevice::kMaxClipPlanes][4] = {};
    // The bound pixel shader (handle 0: none) and its constants.
    uint32_t pixelShaderHandle = 0;
    std::shared_ptr<const PixelProgram> pixelProgram;
    float pixelConstants[kPixelShaderConstants][4] = {};
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
    // The parts of the frame the workers draw while the rest is recorded
    // (see HandOff), whether this frame has any, and the task that draws them.
    BandPipeline pipeline;
    bool handedOff = false;
    std::function<void(int)> drainTask;
    ThreadPool pool;
    std::vector<int> tileOrder;   // the order the pool takes the tiles in
    int spanLevel = kSpansWide;
    // Draws recorded, telling one draw's deferred quads from the next's.
    uint32_t drawSerial = 0;

    // Scratch of the vertex stage, kept to avoid allocation per draw.
    std::vector<ScreenVertex> verts;
    // The vertex format (times two, plus one with vertex fog) verts were
    // last filled for: the fields it does not give still hold defaults.
    uint64_t vertsKey = 0;
    std::vector<float> clipW;   // clip-space x, y, z, w per vertex (untransformed)
    std::vector<uint8_t> inside;   // per vertex: 1 when no plane clips it

    ~DeviceCore();
    void SetDefaultStates();
    void ReleaseBindings();
    bool MakeBuffers();
    bool MakeBuffersOrThrow();
    void FlushFrame();
    // Gives what is recorded so far to the workers, when there is enough
    // of it and a part is free; recording goes on into empty buffers.
    bool HandOff();
    // The same in the middle of a draw: the draw goes on with the state
    // index this returns.
    uint32_t HandOffDuringDraw(uint32_t state);
    // True when HandOff would hand the frame so far to the workers.
    bool WorthHandingOff();
    // Puts the workers to drawing the handed-off parts, unless they are at it.
    void WakeDrawers();
    // Draws every handed-off part, the drawing thread too, and returns when
    // they are done.
    void FinishInFlight();
    // Writes every tile's pending depth clear (before the depth buffer is read).
    void SettleAllDepth();
    // Bands of the height the pool's threads draw fastest (see BandRowsFor).
    void FitBands();
    Target MakeTarget();
    void UseImage(ImageData* image);
    uint32_t CurrentState();
    // Sets up the quads left for the workers before anything else is
    // recorded after them (on the drawing thread).
    void SettleDeferred()
    {
        if (!frame.deferred.empty()) {
            SetUpDeferred(frame);
        }
    }
};

inline Matrix4 Identity()
{
    Matrix4 m{};
    for (int i = 0; i < 4; ++i) {
        m.m[i][i] = 1.0f;
    }
    return m;
}

inline uint32_t FloatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

inline float BitsFloat(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Fetches, transforms and records one draw's primitives (vertex_stage.cpp).
GfxResult DrawCore(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                   uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                   uint32_t indexFormat, uint32_t baseVertex);

}  // namespace platform
