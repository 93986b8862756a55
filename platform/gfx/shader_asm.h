#pragma once
// Shader assembly: vertex shader 1.1 and pixel shader 1.0 to 1.4 texts
// turned into the token code that the device takes (pixel shaders are held
// to pixel_shader.h's rules as they are written). Pure functions, any
// thread.
//
// The code is a run of 32-bit tokens in Direct3D 8's shader format:
//   version   0xFFFE0000 | major << 8 | minor (vertex), 0xFFFF0000 | ... (pixel)
//   instruction  opcode (bits 0-15) | co-issue (bit 30, pixel shaders only);
//             every other bit is zero in version 1 code: how many parameter
//             tokens follow is the opcode's (InstructionParams), the
//             destination first, then the sources; def carries its
//             destination and four float bit patterns.
//   parameter bit 31 set; register number bits 0-10; register kind bits 28-30;
//             destination: write mask bits 16-19 (x, y, z, w), saturate bit 20,
//             result shift bits 24-27 (signed, -3 .. 3 as 0xD .. 3);
//             source: swizzle bits 16-23 (two bits per component, x first),
//             modifier bits 24-27, relative to a0.x bit 13.
//   comment   0xFFFE | length << 16, then length tokens that are skipped
//   end       0x0000FFFF
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

namespace shader {

constexpr uint32_t kVertexVersionBase = 0xFFFE0000u;
constexpr uint32_t kPixelVersionBase = 0xFFFF0000u;
constexpr uint32_t kEndToken = 0x0000FFFFu;
constexpr uint32_t kParamBit = 0x80000000u;
constexpr uint32_t kCoIssueBit = 0x40000000u;
constexpr uint32_t kRelativeBit = 0x2000u;
constexpr uint32_t kSaturateBit = 0x100000u;
constexpr uint32_t kCommentToken = 0x0000FFFEu;
// Bits of a version 1 instruction token that must be zero (the co-issue bit
// is checked apart: only pixel shaders have it).
constexpr uint32_t kInstructionReservedBits = 0xBFFF0000u;
constexpr int kKindShift = 28;
constexpr int kMaskShift = 16;
constexpr int kSwizzleShift = 16;
constexpr int kModifierShift = 24;
constexpr int kShiftShift = 24;
constexpr uint32_t kIdentitySwizzle = 0xE4u;   // x, y, z, w

// Register kinds; the texture kind of pixel shaders shares its number with
// the address register of vertex shaders.
enum RegisterKind : uint32_t {
    RegTemp = 0,
    RegInput = 1,
    RegConst = 2,
    RegAddress = 3,
    RegTexture = 3,
    RegRasterOut = 4,    // 0 position, 1 fog, 2 point size
    RegAttributeOut = 5, // diffuse and specular
    RegTexCoordOut = 6,
};

enum RasterOut : uint32_t { OutPosition = 0, OutFog = 1, OutPointSize = 2 };

// Source modifiers of pixel shaders (vertex shaders use only Negate).
enum SourceModifier : uint32_t {
    ModNone = 0,
    ModNegate = 1,
    ModBias = 2,
    ModBiasNegate = 3,
    ModSign = 4,
    ModSignNegate = 5,
    ModComplement = 6,
    ModX2 = 7,
    ModX2Negate = 8,
    ModDivideZ = 9,
    ModDivideW = 10,
};

enum Opcode : uint32_t {
    OpNop = 0,
    OpMov = 1,
    OpAdd = 2,
    OpSub = 3,
    OpMad = 4,
    OpMul = 5,
    OpRcp = 6,
    OpRsq = 7,
    OpDp3 = 8,
    OpDp4 = 9,
    OpMin = 10,
    OpMax = 11,
    OpSlt = 12,
    OpSge = 13,
    OpExp = 14,
    OpLog = 15,
    OpLit = 16,
    OpDst = 17,
    OpLrp = 18,
    OpFrc = 19,
    OpM4x4 = 20,
    OpM4x3 = 21,
    OpM3x4 = 22,
    OpM3x3 = 23,
    OpM3x2 = 24,
    OpTexCoord = 64,
    OpTexKill = 65,
    OpTex = 66,
    OpTexBem = 67,
    OpTexBemL = 68,
    OpTexReg2Ar = 69,
    OpTexReg2Gb = 70,
    OpTexM3x2Pad = 71,
    OpTexM3x2Tex = 72,
    OpTexM3x3Pad = 73,
    OpTexM3x3Tex = 74,
    OpTexM3x3Spec = 76,
    OpTexM3x3VSpec = 77,
    OpExpP = 78,
    OpLogP = 79,
    OpCnd = 80,
    OpDef = 81,
    OpTexReg2Rgb = 82,
    OpTexDp3Tex = 83,
    OpTexM3x2Depth = 84,
    OpTexDp3 = 85,
    OpTexM3x3 = 86,
    OpTexDepth = 87,
    OpCmp = 88,
    OpBem = 89,
    OpPhase = 0xFFFD,
};

// Instruction slots a vertex shader 1.1 may take (macros take several).
constexpr int kMaxVertexSlots = 128;
// Pixel shaders: texture and arithmetic instructions per program (per phase
// in version 1.4); a co-issued pair counts once.
constexpr int kMaxPixelTexture = 4;
constexpr int kMaxPixelTexture14 = 6;
constexpr int kMaxPixelArithmetic = 8;
// The longest token stream the device reads, comments included: far more
// than the longest program (128 slots and 96 def constants come to under
// 1200 tokens), so only a stream that is not a program reaches it.
constexpr size_t kMaxCodeTokens = 16384;
constexpr int kVertexTemps = 12;
constexpr int kVertexInputs = 16;
constexpr int kVertexConstants = 96;
constexpr int kVertexTexCoords = 8;

}  // namespace shader

struct ShaderAsmResult {
    std::vector<uint32_t> code;   // tokens, version first, end token last
    std::string error;            // "line N: what" when the text was refused
    int errorLine = 0;            // 1-based; 0 when there was no error
};

// What the opcode table says of one instruction of a version.
struct InstructionInfo {
    int params = 0;        // parameter tokens after the instruction token
    int slots = 0;         // vertex instruction slots (macros take several)
    bool texture = false;  // a pixel shader texture-addressing instruction
};
// Looks the opcode up for the version token's shader kind and version;
// false when that version has no such instruction.
bool LookUpInstruction(uint32_t version, uint32_t opcode, InstructionInfo* out);
// Parameter tokens of the opcode in that version; -1 when it has none such.
int InstructionParams(uint32_t version, uint32_t opcode);

// Assembles `length` bytes of text (a zero byte ends it early). True with
// the code in result->code; false with result->error set and no code.
bool AssembleShader(const char* text, size_t length, ShaderAsmResult* result);

// Checks pixel shader code as the device loads it (PixelProgram::Load in
// pixel_shader.h: version 1.0 to 1.4, the version's instructions, registers
// and rules, the end token within `tokens` and kMaxCodeTokens); false with
// a reason otherwise.
bool ValidatePixelShaderCode(const uint32_t* code, size_t tokens, std::string* error);

}  // namespace platform
