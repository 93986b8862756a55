#pragma once
// Vertex shader 1.1 programs: the vertex declaration that says where each
// input register comes from, the checked program decoded from its token
// code (shader_asm.h), and the interpreter that runs it over one vertex.
// A program is immutable once loaded, so any thread may run it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"

namespace platform {

// ---- Vertex declarations: the device's token tables, ended by kDeclEnd.
enum DeclType : uint32_t {
    DeclFloat1 = 0,
    DeclFloat2 = 1,
    DeclFloat3 = 2,
    DeclFloat4 = 3,
    DeclColor = 4,    // ARGB u32 read as (r, g, b, a) / 255
    DeclUByte4 = 5,   // four bytes in memory order
    DeclShort2 = 6,
    DeclShort4 = 7,
};
constexpr uint32_t kDeclEnd = 0xFFFFFFFFu;
constexpr uint32_t kDeclNop = 0;
constexpr uint32_t DeclStream(uint32_t stream) { return (1u << 29) | stream; }
constexpr uint32_t DeclReg(uint32_t reg, uint32_t type) { return (2u << 29) | (type << 16) | reg; }
constexpr uint32_t DeclSkip(uint32_t dwords) { return (2u << 29) | (1u << 28) | (dwords << 16); }
// Followed by 4 x count float bit patterns loaded into c[address] onwards.
constexpr uint32_t DeclConst(uint32_t address, uint32_t count) { return (4u << 29) | (count << 25) | address; }
// Longest declaration read, END token included.
constexpr size_t kMaxDeclTokens = 512;

struct VertexDeclaration {
    struct Element {
        uint32_t offset = 0;   // bytes into the vertex
        uint32_t reg = 0;      // v0 to v15
        uint32_t type = 0;     // DeclType
    };
    std::vector<Element> elements;
    uint32_t stride = 0;       // bytes of one vertex of stream 0
    struct Constant {
        uint32_t reg = 0;
        float value[4] = {};
    };
    std::vector<Constant> constants;
};

// Reads a declaration of at most maxTokens tokens (the END token must be
// among them). Only stream 0 is supported. False with a reason otherwise.
bool ParseVertexDeclaration(const uint32_t* tokens, size_t maxTokens, VertexDeclaration* out, std::string* error);
// Bytes of one element of the type; 0 for an unknown type.
uint32_t DeclTypeBytes(uint32_t type);
// Fills v0 to v15 from one vertex: declared registers from their elements,
// the others (0, 0, 0, 1); missing components of short types are 0 and w 1.
void FetchVertexInputs(const VertexDeclaration& decl, const uint8_t* vertex, float (*inputs)[4]);

// What one run of a program writes. Outputs the program leaves alone keep
// these starting values.
struct VertexShaderOutput {
    float position[4] = {0.0f, 0.0f, 0.0f, 1.0f};   // clip space
    float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};    // oD0 as written (r, g, b, a)
    float specular[4] = {0.0f, 0.0f, 0.0f, 0.0f};   // oD1
    float texCoord[shader::kVertexTexCoords][4] = {};
    float fog = 1.0f;                               // 1: no fog
    float pointSize = 1.0f;
};

class VertexProgram {
public:
    // Decodes and checks tokens of code; `tokens` (and at most
    // shader::kMaxCodeTokens) bounds the read. The end token must lie
    // within it and the program take at most 128 instruction slots. False
    // with a reason otherwise, and the program stays empty.
    bool Load(const uint32_t* code, size_t tokens, std::string* error);
    bool IsLoaded() const { return loaded; }
    // Writes the program's def constants over the table (96 registers).
    void ApplyDefinitions(float (*constants)[4]) const;
    // Runs over one vertex: inputs v0 to v15, the 96 constants. A constant
    // addressed through a0.x outside the table reads as zero.
    void Run(const float (*constants)[4], const float (*inputs)[4], VertexShaderOutput* out) const;
    // Bit n set when the program reads vn.
    uint32_t GetInputMask() const { return inputMask; }
    // Bit k set when the program writes output component k (VertexRun's
    // order); the others keep their starting values.
    uint64_t GetOutputMask() const { return outputMask; }
    size_t GetInstructionCount() const { return instructions.size(); }

    struct Source {
        uint8_t kind = 0;
        uint8_t index = 0;
        bool relative = false;
        bool negate = false;
        uint8_t swizzle[4] = {0, 1, 2, 3};
    };
    struct Instruction {
        uint32_t op = 0;
        uint8_t destKind = 0;
        uint8_t destIndex = 0;
        uint8_t mask = 0xF;
        uint8_t sourceCount = 0;
        Source src[3];
    };
    // One step of the program as VertexRun runs it: one operation on one
    // register component (a slot) of every lane.
    struct Step {
        uint8_t op = 0;
        uint8_t aux = 0;
        uint16_t d = 0;
        uint16_t s[8] = {};
    };
    // A slot that holds a constant component, the same in every lane.
    struct Splat {
        uint16_t slot = 0;
        uint8_t reg = 0;
        uint8_t component = 0;
        bool negate = false;
    };

private:
    friend class VertexRun;
    // The steps both runs leave to plain scalar code: exp, log, expp, logp,
    // lit and dst, from the three sources read.
    static void ScalarStep(uint32_t op, const float (*s)[4], float* r);
    // Turns the instructions into steps over slots; false when memory ran out.
    bool Lower();

    std::vector<Instruction> instructions;
    struct Definition {
        uint32_t reg = 0;
        float value[4] = {};
    };
    std::vector<Definition> definitions;
    std::vector<Step> steps;
    std::vector<Splat> splats;
    uint32_t slotCount = 0;
    uint32_t inputMask = 0;
    uint64_t outputMask = 0;
    bool loaded = false;
};

// Runs a loaded program over kLanes vertices at a time: every step across
// all of them before the next, in SIMD lanes (AVX2 where the processor has
// it, the same float operations in the same order either way), with one
// set of constants. Each lane's outputs are Run's, bit for bit (a NaN stays
// a NaN, its payload aside). A VertexRun belongs to one thread; the program
// must outlive its use.
class VertexRun {
public:
    static constexpr int kLanes = 32;
    // Output components in VertexShaderOutput's order: position, diffuse,
    // specular, the coordinate sets, fog, point size.
    static constexpr int kOutputs = 12 + 4 * shader::kVertexTexCoords + 2;

    // Takes the program and its constants (its definitions applied). False
    // when the program is not loaded or memory ran out. A run may be begun
    // again with another program; its registers are kept for reuse.
    bool Begin(const VertexProgram& program, const float (*constants)[4]);
    // The kLanes values of component `component` of input vreg, to fill
    // before Run: every input the program reads (GetInputMask). Inputs keep
    // their values between runs, and between programs.
    float* Input(int reg, int component) { return slots[kInputSlot + 4 * reg + component].lane; }
    // Fills one lane's inputs v0 to v15.
    void SetInputs(int lane, const float (*inputs)[4]);
    // Runs the program over every lane.
    void Run();
    // The same with the code for any x86-64 processor, whatever this one
    // has (the tests hold both to the same bits).
    void RunPortable();
    // The kLanes values of output component `index` (see kOutputs).
    const float* Output(int index) const { return slots[kOutputSlot + index].lane; }
    // One lane's outputs as Run writes them.
    void GetOutput(int lane, VertexShaderOutput* out) const;

    // Where the register file's slots lie: temporaries, inputs, outputs,
    // zeros of both signs, then the program's constants and scratch.
    static constexpr int kTempSlot = 0;
    static constexpr int kInputSlot = kTempSlot + 4 * shader::kVertexTemps;
    static constexpr int kOutputSlot = kInputSlot + 4 * shader::kVertexInputs;
    static constexpr int kZeroSlot = kOutputSlot + kOutputs;
    static constexpr int kNegZeroSlot = kZeroSlot + 1;
    static constexpr int kFirstFreeSlot = kNegZeroSlot + 1;

private:
    struct alignas(64) Slot {
        float lane[kLanes];
    };
    void RunAvx2();

    const VertexProgram* program = nullptr;
    std::vector<Slot> slots;
    float constants[shader::kVertexConstants][4] = {};
    int32_t a0[kLanes] = {};
};

struct DeviceCore;

class PixelProgram;

// The device's programmable stages: the vertex and pixel shaders made on
// it, the 96 vertex shader constants and the bound vertex shader (the
// bound pixel shader is part of the device's state). Handles are odd
// numbers, so the device tells a shader from a vertex format (formats
// never set bit 0). Called on the device's thread only.
class ShaderUnit {
public:
    static constexpr uint32_t kMaxShaders = 4096;

    // 0 (ok) with a new handle, or the device's failure code (InvalidCall,
    // OutOfMemory) with a "gfx:" line on stderr.
    int32_t CreateVertexShader(const uint32_t* declaration, const uint32_t* code, uint32_t codeTokens,
                               uint32_t* handle);
    int32_t DeleteVertexShader(uint32_t handle);
    int32_t CreatePixelShader(const uint32_t* code, uint32_t codeTokens, uint32_t* handle);
    int32_t DeletePixelShader(uint32_t handle);
    // The pixel shader of a handle; null for an unknown one.
    std::shared_ptr<const PixelProgram> FindPixelShader(uint32_t handle) const;
    int32_t SetConstant(uint32_t reg, const void* data, uint32_t count);
    int32_t GetConstant(uint32_t reg, void* data, uint32_t count) const;
    // Binds a vertex shader (its declaration's constants are loaded then);
    // 0 unbinds. InvalidCall for an unknown handle.
    int32_t Bind(uint32_t handle);
    uint32_t GetBound() const { return bound; }
    bool IsBound() const { return bound != 0; }
    // Back to the starting state: nothing bound, every constant zero.
    void ResetStates();

    // Runs the bound shader over the draw's vertices, clips the primitives
    // in clip space and records them through the device's vertex stage as
    // pre-transformed vertices. Arguments as DrawCore's.
    int32_t Draw(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                 uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                 uint32_t indexFormat, uint32_t baseVertex);

private:
    struct VertexShaderEntry {
        VertexDeclaration declaration;
        VertexProgram program;
    };
    std::vector<std::unique_ptr<VertexShaderEntry>> vertexShaders;   // slot = handle >> 1
    // Shared with the draws recorded while one was bound.
    std::vector<std::shared_ptr<const PixelProgram>> pixelShaders;
    float constants[shader::kVertexConstants][4] = {};
    uint32_t bound = 0;
    // Scratch kept between draws.
    std::vector<float> shaded;      // per vertex: kShadedFloats
    // Pre-transformed vertices for the vertex stage: each shaded vertex's
    // when it is whole, then those the clipper makes.
    std::vector<uint8_t> screen;
    std::vector<uint32_t> emitted;   // the primitives' corners in screen
    std::vector<uint8_t> whole;      // per shaded vertex: 1 when no plane clips it
    VertexRun run;                   // shades draws on the device's thread
};

}  // namespace platform
