#pragma once
// Our software Direct3D-8-style device. The numbers that cross this interface
// (render states, formats, vertex-format codes, primitive types, blend
// factors, result codes) are Direct3D 8's, under our own names, so the engine
// passes them through unchanged.
//
// Threads: every method is called from one thread (the engine's main thread).
// Drawing calls only record; the frame is run tile by tile on the device's own
// worker pool when something needs the pixels (Present, a lock of the back
// buffer, a lock of a texture that recorded draws still read, Reset).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// ---- Result codes -----------------------------------------------------------
using GfxResult = int32_t;
constexpr GfxResult kGfxOk = 0;
constexpr GfxResult kGfxFail = static_cast<int32_t>(0x80004005u);
constexpr GfxResult kGfxOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr GfxResult kGfxInvalidCall = static_cast<int32_t>(0x8876086Cu);
constexpr GfxResult kGfxDeviceLost = static_cast<int32_t>(0x88760868u);
constexpr GfxResult kGfxDeviceNotReset = static_cast<int32_t>(0x88760869u);
constexpr GfxResult kGfxNotAvailable = static_cast<int32_t>(0x8876086Au);
constexpr GfxResult kGfxOutOfVideoMemory = static_cast<int32_t>(0x8876017Cu);
constexpr GfxResult kGfxWasStillDrawing = static_cast<int32_t>(0x8876021Cu);

// ---- Pixel formats ----------------------------------------------------------
enum Format : uint32_t {
    FormatUnknown = 0,
    FormatA8R8G8B8 = 21,
    FormatX8R8G8B8 = 22,
    FormatR5G6B5 = 23,
    FormatX1R5G5B5 = 24,
    FormatA1R5G5B5 = 25,
    FormatA4R4G4B4 = 26,
    FormatD32 = 71,
    FormatIndex16 = 101,
    FormatIndex32 = 102,
};
// Bytes per pixel of formats 21 to 26; 0 for anything else.
int FormatBytes(uint32_t format);
// One pixel of a colour format turned into A8R8G8B8 (alpha 255 where the
// format has none) and back (rounded to the nearest level).
uint32_t FormatToArgb(uint32_t format, const uint8_t* pixel);
void ArgbToFormat(uint32_t format, uint32_t argb, uint8_t* pixel);

enum Pool : uint32_t { PoolDefault = 0, PoolManaged = 1, PoolSystemMem = 2 };

enum Usage : uint32_t { UsageRenderTarget = 0x1, UsageDepthStencil = 0x2, UsageWriteOnly = 0x8, UsageDynamic = 0x200 };

enum LockFlags : uint32_t { LockReadOnly = 0x10, LockNoOverwrite = 0x1000, LockDiscard = 0x2000 };

enum ClearFlags : uint32_t { ClearTarget = 0x1, ClearZBuffer = 0x2, ClearStencil = 0x4 };

// ---- Vertex formats ---------------------------------------------------------
enum Fvf : uint32_t {
    FvfXyz = 0x002,
    FvfXyzRhw = 0x004,
    FvfPositionMask = 0x00E,
    FvfNormal = 0x010,
    FvfPointSize = 0x020,
    FvfDiffuse = 0x040,
    FvfSpecular = 0x080,
    FvfTexCountMask = 0xF00,
    FvfTexCountShift = 8,
    FvfTex1 = 0x100,
    FvfTex2 = 0x200,
    FvfTex3 = 0x300,
    FvfTex4 = 0x400,
    FvfTex8 = 0x800,
};
// Bits 16 + 2 i of a format give coordinate set i's size: 0 two floats,
// 1 three, 2 four, 3 one.
constexpr uint32_t FvfTexCoordSize4(int set) { return 2u << (16 + 2 * set); }
// Stride in bytes of a vertex of the format; 0 for a format we cannot draw
// (no position, blend weights, more than eight coordinate sets).
int FvfStride(uint32_t fvf);

enum PrimitiveType : uint32_t {
    PrimPointList = 1,
    PrimLineList = 2,
    PrimLineStrip = 3,
    PrimTriangleList = 4,
    PrimTriangleStrip = 5,
    PrimTriangleFan = 6,
};

// ---- Render states ----------------------------------------------------------
enum RenderState : uint32_t {
    RsZEnable = 7,
    RsFillMode = 8,
    RsShadeMode = 9,
    RsLinePattern = 10,
    RsZWriteEnable = 14,
    RsAlphaTestEnable = 15,
    RsLastPixel = 16,
    RsSrcBlend = 19,
    RsDestBlend = 20,
    RsCullMode = 22,
    RsZFunc = 23,
    RsAlphaRef = 24,
    RsAlphaFunc = 25,
    RsDitherEnable = 26,
    RsAlphaBlendEnable = 27,
    RsFogEnable = 28,
    RsSpecularEnable = 29,
    RsZVisible = 30,
    RsFogColor = 34,
    RsFogTableMode = 35,
    RsFogStart = 36,
    RsFogEnd = 37,
    RsFogDensity = 38,
    RsEdgeAntialias = 40,
    RsZBias = 47,
    RsRangeFogEnable = 48,
    RsStencilEnable = 52,
    RsStencilFail = 53,
    RsStencilZFail = 54,
    RsStencilPass = 55,
    RsStencilFunc = 56,
    RsStencilRef = 57,
    RsStencilMask = 58,
    RsStencilWriteMask = 59,
    RsTextureFactor = 60,
    RsWrap0 = 128,
    RsClipping = 136,
    RsLighting = 137,
    RsAmbient = 139,
    RsFogVertexMode = 140,
    RsColorVertex = 141,
    RsLocalViewer = 142,
    RsNormalizeNormals = 143,
    RsDiffuseMaterialSource = 145,
    RsSpecularMaterialSource = 146,
    RsAmbientMaterialSource = 147,
    RsEmissiveMaterialSource = 148,
    RsVertexBlend = 151,
    RsClipPlaneEnable = 152,
    RsSoftwareVertexProcessing = 153,
    RsPointSize = 154,
    RsPointSizeMin = 155,
    RsPointSpriteEnable = 156,
    RsPointScaleEnable = 157,
    RsMultisampleAntialias = 161,
    RsMultisampleMask = 162,
    RsPointSizeMax = 166,
    RsColorWriteEnable = 168,
    RsBlendOp = 171,
    kRenderStateCount = 256,
};

enum FillMode : uint32_t { FillPoint = 1, FillWireframe = 2, FillSolid = 3 };
enum ShadeMode : uint32_t { ShadeFlat = 1, ShadeGouraud = 2 };
enum CullMode : uint32_t { CullNone = 1, CullCw = 2, CullCcw = 3 };
enum CompareFunc : uint32_t {
    CmpNever = 1, CmpLess = 2, CmpEqual = 3, CmpLessEqual = 4,
    CmpGreater = 5, CmpNotEqual = 6, CmpGreaterEqual = 7, CmpAlways = 8,
};
enum BlendFactor : uint32_t {
    BlendZero = 1, BlendOne = 2, BlendSrcColor = 3, BlendInvSrcColor = 4,
    BlendSrcAlpha = 5, BlendInvSrcAlpha = 6, BlendDestAlpha = 7, BlendInvDestAlpha = 8,
    BlendDestColor = 9, BlendInvDestColor = 10, BlendSrcAlphaSat = 11,
    BlendBothSrcAlpha = 12, BlendBothInvSrcAlpha = 13,
};
enum BlendOp : uint32_t { BlendOpAdd = 1, BlendOpSubtract = 2, BlendOpRevSubtract = 3, BlendOpMin = 4, BlendOpMax = 5 };
enum FogMode : uint32_t { FogNone = 0, FogExp = 1, FogExp2 = 2, FogLinear = 3 };

// ---- Texture stage states ---------------------------------------------------
// Stages of the colour and alpha cascade; textures and their states can be
// set on all eight of Direct3D 8's stages (pixel shaders sample six).
constexpr int kStageCount = 4;
constexpr int kTextureStageCount = 8;
enum StageState : uint32_t {
    TssColorOp = 1,
    TssColorArg1 = 2,
    TssColorArg2 = 3,
    TssAlphaOp = 4,
    TssAlphaArg1 = 5,
    TssAlphaArg2 = 6,
    TssBumpEnvMat00 = 7,
    TssBumpEnvMat01 = 8,
    TssBumpEnvMat10 = 9,
    TssBumpEnvMat11 = 10,
    TssTexCoordIndex = 11,
    TssAddressU = 13,
    TssAddressV = 14,
    TssBorderColor = 15,
    TssMagFilter = 16,
    TssMinFilter = 17,
    TssMipFilter = 18,
    TssBumpEnvLScale = 22,
    TssBumpEnvLOffset = 23,
    TssTextureTransformFlags = 24,
    TssAddressW = 25,
    TssColorArg0 = 26,
    TssAlphaArg0 = 27,
    TssResultArg = 28,
    kStageStateCount = 256,
};
enum TextureOp : uint32_t {
    TopDisable = 1, TopSelectArg1 = 2, TopSelectArg2 = 3,
    TopModulate = 4, TopModulate2x = 5, TopModulate4x = 6,
    TopAdd = 7, TopAddSigned = 8, TopAddSigned2x = 9, TopSubtract = 10, TopAddSmooth = 11,
    TopBlendDiffuseAlpha = 12, TopBlendTextureAlpha = 13, TopBlendFactorAlpha = 14,
    TopBlendTextureAlphaPm = 15, TopBlendCurrentAlpha = 16,
    TopModulateAlphaAddColor = 18, TopModulateColorAddAlpha = 19,
    TopModulateInvAlphaAddColor = 20, TopModulateInvColorAddAlpha = 21,
    TopDotProduct3 = 24, TopMultiplyAdd = 25, TopLerp = 26,
};
enum TextureArg : uint32_t {
    TaDiffuse = 0, TaCurrent = 1, TaTexture = 2, TaTFactor = 3, TaSpecular = 4, TaTemp = 5,
    TaSelectMask = 0xF, TaComplement = 0x10, TaAlphaReplicate = 0x20,
};
enum TextureAddress : uint32_t { AddressWrap = 1, AddressMirror = 2, AddressClamp = 3, AddressBorder = 4, AddressMirrorOnce = 5 };
enum TextureFilter : uint32_t { FilterNone = 0, FilterPoint = 1, FilterLinear = 2, FilterAnisotropic = 3 };

// ---- Transforms -------------------------------------------------------------
enum TransformState : uint32_t { TsView = 2, TsProjection = 3, TsTexture0 = 16, TsWorld = 256 };

// Row-major 4 x 4 with row vectors, as the engine's matrices are laid out.
struct Matrix4 {
    float m[4][4];
};

struct Viewport {
    uint32_t x = 0, y = 0, width = 0, height = 0;
    float minZ = 0.0f, maxZ = 1.0f;
};

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct Point {
    int32_t x = 0, y = 0;
};

struct LockedRect {
    int32_t pitch = 0;   // bytes from one row to the next
    void* bits = nullptr;
};

// The finished frame handed to the present sink: A8R8G8B8, rows top-down.
struct FrameView {
    const uint32_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pitch = 0;   // bytes
};
using PresentSink = std::function<void(const FrameView&)>;

struct DeviceParams {
    int32_t width = 640;
    int32_t height = 480;
    bool windowed = true;
    bool depthBuffer = true;   // a 32-bit depth buffer made with the frame
};

class SoftDevice;
struct DeviceCore;
class ShaderUnit;
struct ImageData;

// Reference-counted resources; Release deletes at 0. A resource may outlive
// its device (it is then detached and only its memory remains usable).
class SoftResource {
public:
    virtual ~SoftResource();
    uint32_t AddRef() { return ++refs; }
    uint32_t Release();
    Pool GetPool() const { return pool; }

    SoftResource(const SoftResource&) = delete;
    SoftResource& operator=(const SoftResource&) = delete;

protected:
    SoftResource(DeviceCore* core, Pool pool);
    friend struct DeviceCore;
    friend class SoftDevice;
    DeviceCore* core = nullptr;
    Pool pool = PoolDefault;
    uint32_t refs = 1;
};

// A 2D image: a plain surface, level 0 of a texture, the back buffer.
class SoftSurface : public SoftResource {
public:
    ~SoftSurface() override;
    int32_t GetWidth() const;
    int32_t GetHeight() const;
    uint32_t GetFormat() const;
    // Locks the whole surface (rect null) or a rectangle inside it.
    GfxResult LockRect(LockedRect* out, const Rect* rect, uint32_t flags);
    GfxResult UnlockRect();
    bool IsLocked() const;

private:
    friend class SoftDevice;
    friend class SoftTexture;
    friend struct DeviceCore;
    SoftSurface(DeviceCore* core, Pool pool, std::shared_ptr<ImageData> image);
    std::shared_ptr<ImageData> image;
};

// One-level texture (the engine creates no mip chains).
class SoftTexture : public SoftResource {
public:
    ~SoftTexture() override;
    int32_t GetWidth() const;
    int32_t GetHeight() const;
    uint32_t GetFormat() const;
    uint32_t GetLevelCount() const { return 1; }
    GfxResult LockRect(uint32_t level, LockedRect* out, const Rect* rect, uint32_t flags);
    GfxResult UnlockRect(uint32_t level);

private:
    friend class SoftDevice;
    friend struct DeviceCore;
    SoftTexture(DeviceCore* core, Pool pool, std::shared_ptr<ImageData> image);
    std::shared_ptr<ImageData> image;
};

class SoftVertexBuffer : public SoftResource {
public:
    uint32_t GetLength() const { return static_cast<uint32_t>(data.size()); }
    uint32_t GetFvf() const { return fvf; }
    GfxResult Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t flags);
    GfxResult Unlock();

private:
    friend class SoftDevice;
    SoftVertexBuffer(DeviceCore* core, Pool pool, uint32_t length, uint32_t fvf);
    std::vector<uint8_t> data;
    uint32_t fvf = 0;
    bool locked = false;
};

class SoftIndexBuffer : public SoftResource {
public:
    uint32_t GetLength() const { return static_cast<uint32_t>(data.size()); }
    uint32_t GetFormat() const { return format; }
    GfxResult Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t flags);
    GfxResult Unlock();

private:
    friend class SoftDevice;
    SoftIndexBuffer(DeviceCore* core, Pool pool, uint32_t length, uint32_t format);
    std::vector<uint8_t> data;
    uint32_t format = FormatIndex16;
    bool locked = false;
};

class SoftDevice {
public:
    // Capabilities the engine asks for.
    static constexpr int32_t kMaxTextureSize = 4096;
    static constexpr int32_t kMaxVertexShaderConstants = 96;
    static constexpr int32_t kMaxTargetSize = 8192;
    // User clip planes, enabled by bits 0 to 5 of RsClipPlaneEnable.
    static constexpr uint32_t kMaxClipPlanes = 6;

    SoftDevice();
    ~SoftDevice();
    SoftDevice(const SoftDevice&) = delete;
    SoftDevice& operator=(const SoftDevice&) = delete;

    // Makes the frame, depth buffer and worker pool; false with a "gfx:" line
    // on stderr when the size is out of range or memory is short.
    bool Create(const DeviceParams& params);

    // ---- threads: 0 means every core; ORVA_GFX_THREADS sets the start value.
    void SetThreadCount(int threads);
    int GetThreadCount() const;

    // ---- loss and reset
    GfxResult TestCooperativeLevel() const;
    // Puts the device into the lost state, as losing full-screen focus does;
    // it cannot be reset during the next lostChecks TestCooperativeLevel
    // calls (they answer DeviceLost, later ones DeviceNotReset).
    void SimulateLoss(int lostChecks = 0);
    // Fails (InvalidCall) while default-pool resources are alive; on success
    // every state returns to its default and the frame is made anew.
    GfxResult Reset(const DeviceParams& params);
    const DeviceParams& GetParams() const;

    // ---- frame
    GfxResult BeginScene();
    GfxResult EndScene();
    GfxResult Clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z, uint32_t stencil);
    // Finishes the frame, hands it to the sink and makes it the front buffer.
    GfxResult Present();
    void SetPresentSink(PresentSink sink);
    // The last presented frame (kept for headless runs, tests, screenshots).
    FrameView GetFrontBuffer() const;
    // Runs everything recorded so far.
    void Flush();
    // The back buffer and depth buffer; no reference is added, and Reset
    // makes new ones (ask again after it).
    SoftSurface* GetBackBuffer();
    SoftSurface* GetDepthBuffer();

    // ---- states
    GfxResult SetRenderState(uint32_t state, uint32_t value);
    GfxResult GetRenderState(uint32_t state, uint32_t* value) const;
    GfxResult SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
    GfxResult GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) const;
    GfxResult SetTexture(uint32_t stage, SoftTexture* texture);
    SoftTexture* GetTexture(uint32_t stage) const;
    GfxResult SetTransform(uint32_t state, const Matrix4& matrix);
    GfxResult GetTransform(uint32_t state, Matrix4* matrix) const;
    GfxResult SetViewport(const Viewport& viewport);
    GfxResult GetViewport(Viewport* viewport) const;
    // Plane (a, b, c, d) keeps the points where a x + b y + c z + d w >= 0:
    // world space for vertices the fixed-function transform takes, clip
    // space (what oPos holds) for vertex shaders; pre-transformed vertices
    // are not clipped by them. Every plane is (0, 0, 0, 0) after a reset.
    GfxResult SetClipPlane(uint32_t index, const float* plane);
    GfxResult GetClipPlane(uint32_t index, float* plane) const;
    // Direct3D 8 sets the fixed-function vertex format through this call.
    GfxResult SetVertexShader(uint32_t fvf);
    uint32_t GetVertexShader() const;

    // ---- resources (the out pointer gets a new reference)
    GfxResult CreateTexture(int32_t width, int32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                            uint32_t pool, SoftTexture** out);
    GfxResult CreateImageSurface(int32_t width, int32_t height, uint32_t format, SoftSurface** out);
    GfxResult CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool, SoftVertexBuffer** out);
    GfxResult CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool, SoftIndexBuffer** out);
    // Copies rectangles between surfaces of one format, or into the back
    // buffer from any colour format (recorded in drawing order then).
    GfxResult CopyRects(SoftSurface* source, const Rect* sourceRects, uint32_t count, SoftSurface* destination,
                        const Point* destPoints);

    // ---- drawing
    GfxResult SetStreamSource(uint32_t stream, SoftVertexBuffer* buffer, uint32_t stride);
    GfxResult SetIndices(SoftIndexBuffer* buffer, uint32_t baseVertexIndex);
    GfxResult DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount);
    GfxResult DrawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t vertexCount, uint32_t startIndex,
                                   uint32_t primitiveCount);
    GfxResult DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices, uint32_t stride);
    GfxResult DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t vertexCount, uint32_t primitiveCount,
                                     const void* indices, uint32_t indexFormat, const void* vertices, uint32_t stride);

    // ---- programmable stages (vertex_shader.h, pixel_shader.h). A shader
    // handle is odd, which tells a vertex shader from a vertex format in
    // SetVertexShader. Code is shader_asm.h's tokens, codeTokens long; a
    // declaration ends with its END token.
    GfxResult CreateVertexShader(const uint32_t* declaration, const uint32_t* code, uint32_t codeTokens,
                                 uint32_t* handle, uint32_t usage);
    GfxResult DeleteVertexShader(uint32_t handle);
    GfxResult SetVertexShaderConstant(uint32_t reg, const void* data, uint32_t count);
    GfxResult GetVertexShaderConstant(uint32_t reg, void* data, uint32_t count) const;
    GfxResult CreatePixelShader(const uint32_t* code, uint32_t codeTokens, uint32_t* handle);
    // Deleting the bound pixel shader unbinds it; draws already recorded
    // keep it until they are run.
    GfxResult DeletePixelShader(uint32_t handle);
    // While a pixel shader is bound it colours every pixel in place of the
    // texture-stage cascade (fog, the alpha test, blending and the depth
    // test follow it as before). 0 unbinds; InvalidCall for an unknown
    // handle. A reset unbinds it and zeroes the constants.
    GfxResult SetPixelShader(uint32_t handle);
    uint32_t GetPixelShader() const;
    // Constants c0 to c7 (four floats each), read within -1 to 1.
    GfxResult SetPixelShaderConstant(uint32_t reg, const void* data, uint32_t count);
    GfxResult GetPixelShaderConstant(uint32_t reg, void* data, uint32_t count) const;

    // ---- for tests: which pixel loops run (0 the general path only, in
    // set-up as well, 1 the SSE2 fast spans, 2 also AVX2 rows where the
    // processor has them, the default), and counts of what was recorded
    // since the device was made (sprites the workers set up are counted
    // when their frame has been drawn: by Present or anything that flushes).
    void SetSpanLevel(int level);
    struct Stats {
        uint64_t primitives = 0;       // set up and binned
        uint64_t fastPrimitives = 0;   // of which a fast span family can draw
    };
    Stats GetStats() const;

private:
    std::unique_ptr<DeviceCore> core;
    // Made with the first shader call.
    std::unique_ptr<ShaderUnit> shaders;
    bool MakeShaderUnit();
};

}  // namespace platform
