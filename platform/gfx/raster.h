#pragma once
// The back end of the software device: what a recorded frame holds and the
// functions that turn it into pixels, one tile at a time.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace platform {

// Texture coordinate sets a vertex carries (Direct3D 8's eight).
constexpr int kTexCoordSets = 8;

// A texture as the pixel stage reads it: A8R8G8B8 texels, rows top-down.
struct TexView {
    const uint32_t* texels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    // For an additive state only, or null: the texels with every channel
    // (alpha too) multiplied by the texel's alpha over 255, rounded as the
    // additive blend rounds that product, so that a 1:1 additive sprite
    // only adds them to the target.
    const uint32_t* premultiplied = nullptr;
};

struct StageSnap {
    uint8_t colorOp = 1, colorArg1 = 2, colorArg2 = 1, colorArg0 = 1;
    uint8_t alphaOp = 1, alphaArg1 = 2, alphaArg2 = 1, alphaArg0 = 1;
    uint8_t resultArg = 1;
    uint8_t coordSet = 0;
    uint8_t addressU = 1, addressV = 1;
    uint8_t magFilter = 1, minFilter = 1;
    uint32_t borderColor = 0;
    TexView tex;   // texels null: the stage reads white
};

// A pixel shader draw's own state (pixel_shader.h), captured when it was
// recorded: the program, its constants (definitions applied), and the
// stages it samples (t0-t3, or r0-r5 in version 1.4) with their bump
// matrix (00, 01, 10, 11) and luminance scale and offset.
class PixelProgram;
constexpr int kPixelShaderConstants = 8;
constexpr int kPixelShaderStages = 6;
struct BumpSnap {
    float matrix[4] = {};
    float scale = 0.0f;
    float offset = 0.0f;
};
struct PixelShaderSnap {
    std::shared_ptr<const PixelProgram> program;
    float constants[kPixelShaderConstants][4] = {};
    StageSnap stage[kPixelShaderStages];
    BumpSnap bump[kPixelShaderStages];
};

// The pixel-stage state of one draw call, captured when it was recorded.
struct PixelState {
    StageSnap stage[4];
    int32_t stageCount = 0;   // stages before the first disabled colour op
    bool blend = false;
    uint8_t srcBlend = 2, destBlend = 1, blendOp = 1;
    bool alphaTest = false;
    uint8_t alphaFunc = 8;
    uint8_t alphaRef = 0;
    bool zTest = false;
    bool zWrite = false;
    uint8_t zFunc = 4;
    bool specular = false;
    bool fog = false;
    uint32_t fogColor = 0;
    uint32_t tfactor = 0xFFFFFFFFu;
    uint32_t writeMask = 0xF;   // bit 0 red, 1 green, 2 blue, 3 alpha
    // Set when a pixel shader draws in place of the stages (none of the
    // fast spans then); it lives in RecordedFrame::shaderSnaps.
    const PixelShaderSnap* shader = nullptr;
    // Fast span families this state allows (see SelectFastSpan).
    int8_t fastBlend = -1;   // 0 opaque, 1 alpha, 2 add; -1 none
    bool fastTextured = false;
    bool fastUntextured = false;
    // The sampled spans: the blend kind when nothing but the depth test
    // (if any) stands between the stages and the blend, and whether stage 0
    // is one wrapped or clamped texture, modulated or selected.
    int8_t sampledBlend = -1;
    bool fastSampled = false;
};

// Plane of an attribute over the screen: value(x, y) = a + dx * x + dy * y.
struct Plane {
    double a = 0.0, dx = 0.0, dy = 0.0;
    double At(double x, double y) const { return a + dx * x + dy * y; }
};

enum PrimKind : uint8_t { KindTriangle = 0, KindLine = 1, KindPoint = 2 };

// Where each attribute's plane sits in the primitive's block of planes.
// Texture planes are in texels (u x width) for affine primitives, and in
// texels x rhw for perspective ones.
// A primitive stores the planes up to the last one it needs: colour planes
// only when its colours vary.
enum PlaneSlot : int {
    SlotZ = 0,
    SlotQ = 1,           // rhw
    SlotTex = 2,         // s, t per stage
    SlotDiffuse = 10,    // b, g, r, a
    SlotSpecular = 14,   // b, g, r, fog
    kPlaneCount = 18,
};

// A pixel shader primitive's planes instead: z and q as above, the two
// colours (b, g, r, a each), then u, v, w, q of every coordinate set up to
// the last one the program reads (in texture coordinates, times rhw for
// perspective primitives).
enum ShaderPlaneSlot : int {
    ShaderSlotDiffuse = 2,
    ShaderSlotSpecular = 6,
    ShaderSlotCoords = 10,
    kShaderPlaneCount = ShaderSlotCoords + 4 * kTexCoordSets,
};

// What a rectangle's tiles read comes first, on one cache line: the bands
// that draw a primitive are often on other cores than the one that set it
// up, and each line they read is fetched from there.
struct Prim {
    uint8_t kind = KindTriangle;
    bool perspective = false;
    bool flatColor = false;    // one colour: flatDiffuse and flatSpecular, no planes
    uint8_t fastSpan = 0;      // index into the span table; 0 = general
    uint8_t linearStages = 0;  // bit per stage that filters linearly
    // Triangle: inside when ea * x + eb * y + ec >= 0 for all its edges (three,
    // or four for an axis-aligned rectangle made of two triangles, whose
    // tiles need only its box); the top-left rule is in ec.
    uint8_t edgeCount = 3;
    bool lastPixel = true;     // line
    // A rectangle whose pixels read its stage 0 texel for texel (MarkSprite):
    // pixel (x, y) reads texel column x + spriteColumn of texel row
    // y + spriteRow, where that row is inside the texture.
    bool sprite = false;
    uint32_t state = 0;        // index of its PixelState
    uint32_t fastColor = 0;    // the modulate factor or the constant colour
    int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;   // inclusive, clipped
    uint32_t flatDiffuse = 0, flatSpecular = 0;
    uint32_t planeBase = 0;    // first of its planes in RecordedFrame::planes
    int16_t spriteColumn = 0, spriteRow = 0;
    int64_t ea[4] = {0, 0, 0, 0}, eb[4] = {0, 0, 0, 0}, ec[4] = {0, 0, 0, 0};
    // Line: end points in pixels; point: the pixel in minX, minY.
    double lx0 = 0, ly0 = 0, lx1 = 0, ly1 = 0;
};
static_assert(offsetof(Prim, spriteRow) + sizeof(int16_t) <= 64, "a rectangle's fields on the first cache line");
static_assert(sizeof(Prim) == 176);

struct ClearCmd {
    int32_t left, top, right, bottom;   // right and bottom exclusive
    uint32_t flags;
    uint32_t color;
    float z;
};

struct CopyCmd {
    TexView source;
    int32_t srcLeft, srcTop;
    int32_t left, top, right, bottom;   // destination, exclusive ends
};

// The render target a tile writes to.
struct Target {
    uint32_t* color = nullptr;
    float* depth = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    // Per tile: a depth clear not yet written (2D frames clear the depth
    // buffer every frame and never read it). kNoPendingDepth when none.
    float* pendingDepth = nullptr;
};
constexpr float kNoPendingDepth = -1.0f;

// Bin entries carry their kind in the top bits.
constexpr uint32_t kBinPrim = 0u << 30;
constexpr uint32_t kBinClear = 1u << 30;
constexpr uint32_t kBinCopy = 2u << 30;
constexpr uint32_t kBinIndexMask = (1u << 30) - 1;

struct DeferredQuad;

struct RecordedFrame {
    std::vector<PixelState> states;
    std::vector<Prim> prims;
    std::vector<Plane> planes;
    std::vector<ClearCmd> clears;
    std::vector<CopyCmd> copies;
    // A deque, so that states keep pointing at their snapshot while more
    // are recorded.
    std::deque<PixelShaderSnap> shaderSnaps;
    std::vector<std::vector<uint32_t>> bins;
    // Sprites recorded but not yet set up, which come after every other
    // entry (SetUpDeferred puts them in the bins). The drawing thread only
    // copies them here when other threads draw its parts, so that the
    // first thread to take a part up does their set-up, not the recording.
    std::vector<DeferredQuad> deferred;
    int32_t tileWidth = 0, tileHeight = 0;
    int32_t tilesX = 0, tilesY = 0;
    bool empty = true;
    uint64_t area = 0;            // pixels of the boxes binned, a measure of the work
    uint64_t primCount = 0;       // primitives recorded over the device's life
    uint64_t fastPrimCount = 0;

    // Tiles of bandRows full rows (at most 1024 pixels wide).
    void Reset(int32_t width, int32_t height, int32_t bandRows);
    void Clear();
    // Adds the entry to every tile the inclusive pixel box touches (here,
    // so that set-up adds its primitives without a call).
    void Bin(uint32_t entry, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY);
};

inline void RecordedFrame::Bin(uint32_t entry, int32_t minX, int32_t minY, int32_t maxX, int32_t maxY)
{
    // Rows of tiles by a shift when their height is a power of two (a
    // division per end costs more than the rest of the binning).
    int32_t ty0, ty1;
    if (tileHeight > 0 && (tileHeight & (tileHeight - 1)) == 0 && minY >= 0) {
        const int shift = __builtin_ctz(static_cast<uint32_t>(tileHeight));
        ty0 = minY >> shift;
        ty1 = maxY >> shift;
    } else {
        ty0 = minY / tileHeight;
        ty1 = maxY / tileHeight;
    }
    std::vector<uint32_t>* row = bins.data() + static_cast<size_t>(ty0) * tilesX;
    if (tilesX == 1) {
        // Tiles as wide as the target: one bin per row of tiles, in a row.
        for (int32_t ty = ty0; ty <= ty1; ++ty, ++row) {
            row->push_back(entry);
        }
    } else {
        const int32_t tx0 = minX / tileWidth, tx1 = maxX / tileWidth;
        for (int32_t ty = ty0; ty <= ty1; ++ty, row += tilesX) {
            for (int32_t tx = tx0; tx <= tx1; ++tx) {
                row[tx].push_back(entry);
            }
        }
    }
    area += static_cast<uint64_t>(maxX - minX + 1) * static_cast<uint64_t>(maxY - minY + 1);
    empty = false;
}

// ---- pixel arithmetic shared by every path --------------------------------
// round(v / 255) for the 0 .. 255 x 255 x 4 products of blending.
inline uint32_t Div255(uint32_t v)
{
    return (v + 127) / 255;
}

// Texture coordinates in 32.32 fixed point texels.
constexpr double kFixOne = 4294967296.0;
inline int64_t ToFixed(double texels)
{
    // Keep far-out coordinates (huge wraps, NaN) inside int64.
    if (!(texels > -1073741824.0)) {
        texels = -1073741824.0;
    }
    if (texels > 1073741824.0) {
        texels = 1073741824.0;
    }
    // Floor without a library call: truncate, then step down below zero.
    const double v = texels * kFixOne;
    int64_t i = static_cast<int64_t>(v);
    if (static_cast<double>(i) > v) {
        --i;
    }
    return i;
}

// A vertex after transformation: screen pixels, depth, rhw; colours as
// 0 .. 255 channel values (b, g, r, a; the specular's fourth is the fog
// factor); texture coordinates (u, v, w, q) per coordinate set, with 0 for
// what the vertex does not give and 1 for a missing q.
struct ScreenVertex {
    float x = 0, y = 0, z = 0, rhw = 1;
    float color[4] = {255, 255, 255, 255};
    float spec[4] = {0, 0, 0, 255};
    float tc[kTexCoordSets][4] = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1},
                                  {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
};

// Pixel rectangle a draw may touch (the viewport), inclusive.
struct ClipBox {
    int32_t minX, minY, maxX, maxY;
};

// Set-up of one primitive into the frame (binned at once). The triangle
// is dropped when culled, empty or outside the box. A flat shaded one takes
// the colours of *flat (null: Gouraud shaded), which need not be one of its
// corners: a clipped triangle keeps those of the vertex it was drawn with.
void SetupTriangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0, const ScreenVertex& v1,
                   const ScreenVertex& v2, uint32_t cullMode, const ScreenVertex* flat, const ClipBox& box);
struct QuadSpanMemo;
// The same, with a memo kept over the triangles of one draw (see below).
void SetupTriangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0, const ScreenVertex& v1,
                   const ScreenVertex& v2, uint32_t cullMode, const ScreenVertex* flat, const ClipBox& box,
                   QuadSpanMemo* memo);
// Two triangles drawn one after the other, each given by its corners in the
// order it is drawn with (and, when flat shaded, the vertex it takes its
// colours from), that make an axis-aligned rectangle: one primitive with
// four edges that covers exactly the pixels the two triangles would, when
// it gives each of them the bytes the triangles give: the second triangle's
// planes, as its own set-up computes them, are the first's. False when they
// do not qualify (nothing is recorded; the caller then sets up two
// triangles).
bool SetupRectangle(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex* const first[3],
                    const ScreenVertex* const second[3], const ScreenVertex* flatFirst, const ScreenVertex* flatSecond,
                    uint32_t cullMode, const ClipBox& box);
// A pre-transformed quad as its vertex data gives it: a, b, c of its first
// triangle and d, the corner the second triangle (c, d, a) adds; u and v of
// the one coordinate set every stage reads (0 where the data has none); and
// the diffuse and specular colours all four corners share (blue in the low
// byte; white, and black with fog 255, when the data has none).
struct QuadCorner {
    float x, y, z, rhw, u, v;
};
struct EvenQuad {
    QuadCorner corner[4];
    uint32_t diffuse = 0xFFFFFFFFu;
    uint32_t specular = 0xFF000000u;
};
// SetupRectangle for such a quad drawn as the triangles (a, b, c) and
// (c, d, a), without building its screen vertices, for a state with no
// pixel shader whose stages read one coordinate set at most, and corners
// within the guard band as SetupRectangle's: the same primitive and planes
// when SetupRectangle takes it, and the two triangles' when only its
// attributes turn SetupRectangle away (their planes differ). False when it
// is no upright rectangle or its attributes are not one plane.
// memo, when given, keeps what SelectFastSpan chose for the quads of one
// draw (whose state does not change) by colours and filtering.
struct QuadSpanMemo {
    bool valid = false;
    bool perspective = false;
    uint32_t diffuse = 0, specular = 0;
    uint8_t linearStages = 0;
    uint8_t fastSpan = 0;
    uint32_t fastColor = 0;
    // The stages' filtering when no stage chooses it by the footprint (both
    // filters alike or no texture): 0 .. 15; -1 when one does; -2 not yet
    // known, nor the stages' texture sizes (width, height; 1 without one).
    int8_t stateLinear = -2;
    double texScale[4][2] = {};
    // The last flat colours packed (bits of the vertex's diffuse, then its
    // specular), and what they packed to.
    // Set by SetupEvenQuad when the last quad it turned away did not make an
    // upright rectangle (SetupRectangle turns those corners away too).
    bool refusedShape = false;
    bool packedValid = false;
    uint32_t colorBits[8] = {};
    uint32_t packedDiffuse = 0, packedSpecular = 0;
};
bool SetupEvenQuad(RecordedFrame& frame, uint32_t stateIndex, const EvenQuad& quad, uint32_t cullMode, bool flat,
                   const ClipBox& box, QuadSpanMemo* memo = nullptr);
// Whether SetupEvenQuad takes the quad (records it, or drops it as culled or
// outside the box) with this state, rather than turning it away; the memo's
// refusedShape as SetupEvenQuad sets it.
bool EvenQuadFits(const PixelState& state, const EvenQuad& quad, QuadSpanMemo* memo);
// SetupEvenQuad for a quad EvenQuadFits took with the frame's state
// stateIndex (flat shading changes nothing for it): the same primitive and
// planes, without testing the quad again.
void SetupFittingQuad(RecordedFrame& frame, uint32_t stateIndex, const EvenQuad& quad, uint32_t cullMode,
                      const ClipBox& box, QuadSpanMemo* memo);
// A quad EvenQuadFits takes, kept for SetupFittingQuads with what its draw
// gave (flat shading changes nothing for it).
// `draw` tells one draw's quads from the next one's.
struct DeferredQuad {
    EvenQuad quad;
    uint32_t state = 0;
    uint32_t cullMode = 0;
    ClipBox box{0, 0, 0, 0};
    uint32_t draw = 0;
};
// Sets up the frame's deferred quads in the order they were recorded (each
// after every other entry already in the frame) and empties the list.
void SetUpDeferred(RecordedFrame& frame);
// SetupFittingQuad for count quads EvenQuadFits took, in their order, with
// a memo for each draw's run of them: the same frame as a call for each.
void SetupFittingQuads(RecordedFrame& frame, const DeferredQuad* quads, size_t count);
void SetupLine(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v0, const ScreenVertex& v1,
               const ScreenVertex* flat, bool lastPixel, const ClipBox& box);
void SetupPoint(RecordedFrame& frame, uint32_t stateIndex, const ScreenVertex& v, const ClipBox& box);

// Rows a frame's bands have when `threads` threads draw it.
int32_t BandRowsFor(int32_t height, int threads);

// Writes a tile's pending depth clear into the depth buffer.
void SettleDepth(const RecordedFrame& frame, const Target& target, int tile);

// A stage's texel at fixed-point texel coordinates (32.32), through its
// addressing, point or linear; white for a stage without a texture.
uint32_t SampleStage(const StageSnap& stage, int64_t s, int64_t t, bool linear);

// Which span functions run: the general path only, the SSE2 fast spans, or
// those with AVX2 rows.
enum SpanLevel : int { kSpansGeneral = 0, kSpansSse2 = 1, kSpansWide = 2 };
// The highest level this processor runs.
int WidestSpans();

// Runs the entries of one tile in recorded order.
void RunTile(const RecordedFrame& frame, const Target& target, int tile, int spanLevel);

// Marks a rectangle as a sprite (Prim::sprite) when its pixels read its
// stage 0 texels one for one: the fast spans then find each row's texels
// without working out a coordinate. Clears the mark otherwise.
void MarkSprite(const RecordedFrame& frame, Prim& prim);
// Whether the texture planes sp and tp make every pixel (x, y) of the box
// (inclusive) read texel column x + column, inside a texture `width` texels
// wide, of texel row y + row, as MarkSprite asks of a sprite.
bool SpriteTexels(const Plane& sp, const Plane& tp, int32_t width, int32_t minX, int32_t minY, int32_t maxX,
                  int32_t maxY, int64_t* column, int64_t* row);

// Chooses the fast span for a primitive, or 0 for the general path; fills
// prim.fastColor.
uint8_t SelectFastSpan(const PixelState& state, Prim& prim, uint32_t diffuse, uint32_t specular);

// The colour the stages make from constant inputs (used to fold an
// untextured, evenly coloured triangle into one colour).
uint32_t CombineConstant(const PixelState& state, uint32_t diffuse, uint32_t specular);

}  // namespace platform
