#pragma once
// Pixel shaders 1.0 to 1.4: the rules a program's instructions follow (the
// assembler checks its texts by the same rules), the checked program
// decoded from its token code (shader_asm.h), and the interpreter that runs
// it over one pixel in place of the texture-stage cascade. A program is
// immutable once loaded, so any thread may run it.
//
// Values: registers hold floats kept to the version's range, -1 to 1 for
// versions 1.0 to 1.3 and -8 to 8 for 1.4 (texcrd's coordinates to
// +-2048); constants are read within -1 to 1; colours, texture samples and
// texcoord results lie in 0 to 1. Every result is shifted (_x2 ... _d8),
// then saturated (_sat), then kept to the range. The pixel's colour is r0,
// saturated and rounded to 8 bits per channel.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gfx/raster.h"

namespace platform {

namespace shader {

constexpr int kPixelConstants = kPixelShaderConstants;
constexpr int kPixelCoordSets = kTexCoordSets;   // interpolated coordinate sets a pixel carries
constexpr int kPixelStages = kPixelShaderStages; // stages a program samples
constexpr float kMaxTextureRepeat = 2048.0f;

}  // namespace shader

struct PixelSource {
    uint8_t kind = 0;
    uint8_t index = 0;
    uint8_t modifier = 0;
    uint8_t swizzle[4] = {0, 1, 2, 3};
};

// One decoded instruction.
struct PixelInstruction {
    uint32_t op = 0;
    bool texture = false;      // a texture-addressing instruction
    bool coIssue = false;
    bool hasDest = false;
    uint8_t destKind = 0;
    uint8_t destIndex = 0;
    uint8_t mask = 0xF;
    bool saturate = false;
    int8_t shift = 0;          // the result is scaled by 2^shift
    uint8_t sourceCount = 0;
    PixelSource src[3];
    float value[4] = {};       // def's constant
};

// Reads the instruction at code[0] (at most `available` tokens) of a
// program of the version token: its parameters' shape, register kinds and
// numbers, modifiers. `used` gets its length in tokens. False with a
// reason for anything else.
bool DecodePixelInstruction(uint32_t version, const uint32_t* code, size_t available, PixelInstruction* out,
                            size_t* used, std::string* why);

// The rules over a whole program, given its instructions in order: which
// registers each instruction may read and write where it stands, texture
// instructions before arithmetic (in each phase of 1.4), the instruction
// counts, co-issued pairs, the order of the matrix instructions and what
// they read.
class PixelRules {
public:
    explicit PixelRules(uint32_t version);
    bool Add(const PixelInstruction& in, std::string* why);
    // Checks what only the whole program shows (r0 written).
    bool Finish(std::string* why);

private:
    bool Texture(const PixelInstruction& in, std::string* why);
    bool Arithmetic(const PixelInstruction& in, std::string* why);

    int minor = 0;
    bool phaseSeen = false;
    bool arithmeticSeen = false;
    bool lastArithmetic = false;
    uint8_t lastMask = 0;
    int textureCount = 0;
    int arithmeticCount = 0;
    bool r0Written = false;
    uint32_t textureWritten = 0;   // t registers written (1.0 to 1.3)
    // A texm3x2 or texm3x3 run under way: its next register and source.
    int matrixRows = 0;            // rows still to come
    uint32_t matrixOp = 0;
    int matrixNext = 0;
    int matrixSource = 0;
};

// One pixel's inputs and outputs.
struct PixelContext {
    const PixelShaderSnap* snap = nullptr;
    float color[2][4] = {};                              // v0, v1 (r, g, b, a)
    float coord[shader::kPixelCoordSets][4] = {};        // u, v, w, q
    uint8_t linearStages = 0;                            // bit per stage that filters linearly
    float depth = 0.0f;                                  // in: interpolated; out: the program's
};

class PixelProgram {
public:
    // Decodes and checks the code (at most `tokens` and
    // shader::kMaxCodeTokens are read). False with a reason otherwise, and
    // the program stays empty.
    bool Load(const uint32_t* code, size_t tokens, std::string* error);
    bool IsLoaded() const { return loaded; }
    int GetMinorVersion() const { return minor; }
    // Bit n set when the program reads coordinate set n, or samples stage n.
    uint32_t GetCoordMask() const { return coordMask; }
    uint32_t GetStageMask() const { return stageMask; }
    // True when the program gives the pixel's depth (texdepth,
    // texm3x2depth): the depth test waits for it.
    bool WritesDepth() const { return writesDepth; }
    size_t GetInstructionCount() const { return count; }
    // Writes the program's def constants over the table (8 registers).
    void ApplyDefinitions(float (*constants)[4]) const;
    // Runs over one pixel; writes r0 (r, g, b, a, each 0 to 1) and, when
    // the program gives one, ctx.depth. False when texkill drops the pixel.
    bool Run(PixelContext& ctx, float* out) const;

    // The coordinate set a stage's texture is read at directly, for its
    // filter; -1 when it is read only at computed coordinates.
    int GetStageCoordSet(int stage) const { return stage >= 0 && stage < shader::kPixelStages ? stageCoord[stage] : -1; }

private:
    // More than the rules let a program have (two phases of 6 texture and
    // 8 co-issued pairs of arithmetic instructions).
    static constexpr size_t kMaxInstructions = 64;
    PixelInstruction program[kMaxInstructions];
    size_t count = 0;
    float defValues[shader::kPixelConstants][4] = {};
    uint32_t defMask = 0;
    int8_t stageCoord[shader::kPixelStages] = {};
    int minor = 0;
    uint32_t coordMask = 0;
    uint32_t stageMask = 0;
    bool writesDepth = false;
    bool loaded = false;
};

// The raster back end's hook: runs the primitive's pixel shader at pixel
// (px, py) from its planes (laid out as ShaderPlaneSlot says). Writes the
// colour (A8R8G8B8), the fog factor (0 to 255) and the depth; false when
// the pixel is dropped.
bool ShadePixel(const PixelState& ps, const Prim& prim, const Plane* planes, int32_t px, int32_t py,
                uint32_t* color, int32_t* fog, float* depth);

}  // namespace platform
