// Fuzz target: the shader assembler, and the vertex and pixel program
// loaders and the vertex declaration reader over the same bytes taken as
// tokens. Code the assembler makes must pass its loader, and a loaded
// program runs over one vertex (alone and in a batch, to the same bits) or
// one pixel. Built as a libFuzzer program with clang (ORVA_LIBFUZZER);
// every build also runs it as a regression program over shader texts, their
// code and declarations that it writes itself, and deterministic mutations
// of them:
//
//   fuzz_shader_regression [MUTATIONS]
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/pixel_shader.h"
#include "platform/gfx/shader_asm.h"
#include "platform/gfx/vertex_shader.h"

namespace {

using namespace platform;

void RunProgram(const VertexProgram& program, const uint8_t* data, size_t size)
{
    float constants[shader::kVertexConstants][4] = {};
    float inputs[shader::kVertexInputs][4] = {};
    for (size_t i = 0; i < sizeof inputs / sizeof(float) && size; ++i) {
        inputs[i / 4][i % 4] = float(int(data[i % size]) - 100) * 0.25f;
    }
    for (int i = 0; i < shader::kVertexConstants; ++i) {
        for (int c = 0; c < 4; ++c) constants[i][c] = float(i % 7 - 3) + float(c) * 0.5f;
    }
    program.ApplyDefinitions(constants);
    VertexShaderOutput out;
    program.Run(constants, inputs, &out);
    // The same vertex in a lane of a batched run gives the same bits (a NaN
    // any NaN), on this processor's code and the portable code.
    VertexRun run;
    if (!run.Begin(program, constants)) __builtin_trap();
    for (int pass = 0; pass < 2; ++pass) {
        run.SetInputs(pass == 0 ? 0 : VertexRun::kLanes - 1, inputs);
        if (pass == 0) {
            run.Run();
        } else {
            run.RunPortable();
        }
        VertexShaderOutput lane;
        run.GetOutput(pass == 0 ? 0 : VertexRun::kLanes - 1, &lane);
        float a[sizeof out / sizeof(float)], b[sizeof out / sizeof(float)];
        std::memcpy(a, &out, sizeof a);
        std::memcpy(b, &lane, sizeof b);
        for (size_t k = 0; k < sizeof a / sizeof a[0]; ++k) {
            if (std::memcmp(&a[k], &b[k], 4) != 0 && !(a[k] != a[k] && b[k] != b[k])) __builtin_trap();
        }
    }
}

// A loaded pixel program over one pixel, with textures on every stage and
// inputs from the data; a loaded program never refuses to run.
void RunPixel(const PixelProgram& program, const uint8_t* data, size_t size)
{
    static const uint32_t kTexels[4] = {0xFF000000u, 0x80FF8040u, 0x00FFFFFFu, 0x7F102030u};
    PixelShaderSnap snap;
    for (int s = 0; s < kPixelShaderStages; ++s) {
        snap.stage[s].tex.texels = kTexels;
        snap.stage[s].tex.width = 2;
        snap.stage[s].tex.height = 2;
        snap.stage[s].addressU = uint8_t(1 + s % 5);
        snap.stage[s].addressV = uint8_t(1 + (s + 2) % 5);
        snap.bump[s].matrix[s % 4] = 1.5f;
        snap.bump[s].scale = 2.0f;
    }
    for (int i = 0; i < kPixelShaderConstants * 4; ++i) {
        snap.constants[i / 4][i % 4] = float(i % 9 - 4) * 0.25f;
    }
    program.ApplyDefinitions(snap.constants);
    PixelContext ctx;
    ctx.snap = &snap;
    ctx.linearStages = size ? data[0] : 0;
    for (size_t i = 0; i < sizeof ctx.coord / sizeof(float) && size; ++i) {
        ctx.coord[i / 4][i % 4] = float(int(data[i % size]) - 100) * 0.03125f;
    }
    ctx.coord[1][2] = 0.0f;   // a zero divisor for _dz
    ctx.color[0][1] = 0.5f;
    float out[4];
    if (program.Run(ctx, out)) {
        for (float v : out) {
            if (!(v >= 0.0f && v <= 1.0f)) __builtin_trap();
        }
        if (!(ctx.depth >= 0.0f && ctx.depth <= 1.0f)) __builtin_trap();
    }
}

void CheckText(const uint8_t* data, size_t size)
{
    // Exactly the input, with no terminator: the length bounds the read.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    ShaderAsmResult r;
    if (!AssembleShader(text.get(), size, &r)) {
        // The line is one of the text's, or the one after them for what is
        // missing at its end.
        size_t lines = 1;
        for (size_t i = 0; i < size && data[i] != 0; ++i) lines += data[i] == '\n';
        if (!r.code.empty() || r.error.empty() || r.errorLine < 1 || size_t(r.errorLine) > lines + 1) {
            __builtin_trap();
        }
        return;
    }
    if (r.code.size() < 2 || r.code.back() != shader::kEndToken || !r.error.empty() || r.errorLine != 0) {
        __builtin_trap();
    }
    std::string error;
    const uint32_t kind = r.code[0] & 0xFFFF0000u;
    if (kind == shader::kVertexVersionBase) {
        // What the assembler makes, the loader takes, and it fits the slots.
        VertexProgram program;
        if (!program.Load(r.code.data(), r.code.size(), &error) ||
            program.GetInstructionCount() > size_t(shader::kMaxVertexSlots)) {
            __builtin_trap();
        }
        RunProgram(program, data, size);
    } else {
        // What the assembler makes, the device's pixel program loader takes.
        PixelProgram program;
        if (kind != shader::kPixelVersionBase || !program.Load(r.code.data(), r.code.size(), &error)) {
            __builtin_trap();
        }
        RunPixel(program, data, size);
    }
}

void CheckTokens(const uint8_t* data, size_t size)
{
    const size_t count = size / 4;
    std::unique_ptr<uint32_t[]> tokens(new uint32_t[count ? count : 1]);
    if (count) std::memcpy(tokens.get(), data, count * 4);
    std::string error;
    VertexProgram program;
    if (program.Load(tokens.get(), count, &error)) {
        // Walked by the opcode table, the stream holds exactly the loaded
        // instructions before an end token inside it, and only v0 to v15
        // can be read.
        size_t instructions = 0;
        size_t i = 1;
        while (i < count && tokens[i] != shader::kEndToken) {
            const uint32_t t = tokens[i];
            if ((t & 0xFFFFu) == shader::kCommentToken && (t & shader::kParamBit) == 0) {
                i += 1 + ((t >> 16) & 0x7FFFu);
                continue;
            }
            const int params = InstructionParams(tokens[0], t & 0xFFFFu);
            if (params < 0) __builtin_trap();
            instructions += (t & 0xFFFFu) != shader::OpDef;
            i += 1 + size_t(params);
        }
        if (!program.IsLoaded() || i >= count || i >= shader::kMaxCodeTokens ||
            instructions != program.GetInstructionCount() || program.GetInputMask() >> shader::kVertexInputs != 0) {
            __builtin_trap();
        }
        RunProgram(program, data, size);
    } else if (program.IsLoaded() || program.GetInstructionCount() != 0 || error.empty()) {
        __builtin_trap();
    }
    error.clear();
    std::unique_ptr<PixelProgram> pixel(new PixelProgram);
    if (pixel->Load(tokens.get(), count, &error)) {
        if (!pixel->IsLoaded()) __builtin_trap();
        RunPixel(*pixel, data, size);
    } else if (pixel->IsLoaded() || error.empty()) {
        __builtin_trap();
    }

    VertexDeclaration decl;
    error.clear();
    if (!ParseVertexDeclaration(tokens.get(), count, &decl, &error)) {
        if (error.empty()) __builtin_trap();
        return;
    }
    // Every element lies inside the vertex, and each register is declared
    // once.
    uint32_t regs = 0;
    if (decl.elements.size() + 4 * decl.constants.size() >= count + 1) __builtin_trap();
    for (const VertexDeclaration::Element& e : decl.elements) {
        const uint32_t bytes = DeclTypeBytes(e.type);
        if (bytes == 0 || e.reg >= shader::kVertexInputs || (regs >> e.reg & 1u) != 0 || e.offset > decl.stride ||
            bytes > decl.stride - e.offset) {
            __builtin_trap();
        }
        regs |= 1u << e.reg;
    }
    for (const VertexDeclaration::Constant& c : decl.constants) {
        if (c.reg >= uint32_t(shader::kVertexConstants)) __builtin_trap();
    }
    // A vertex of exactly the stride: fetching reads nothing past it.
    std::unique_ptr<uint8_t[]> vertex(new uint8_t[decl.stride ? decl.stride : 1]);
    for (uint32_t i = 0; i < decl.stride; ++i) vertex[i] = uint8_t(i * 13 + 1);
    float inputs[shader::kVertexInputs][4];
    FetchVertexInputs(decl, vertex.get(), inputs);
    for (uint32_t r = 0; r < uint32_t(shader::kVertexInputs); ++r) {
        if ((regs >> r & 1u) == 0 &&
            (inputs[r][0] != 0.0f || inputs[r][1] != 0.0f || inputs[r][2] != 0.0f || inputs[r][3] != 1.0f)) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckText(data, size);
    CheckTokens(data, size);
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

const char* const kTexts[] = {
    "; transform and light\n"
    "vs.1.1\n"
    "dp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\ndp4 oPos.z, v0, c2\ndp4 oPos.w, v0, c3\n"
    "dp3 r0.x, v3, c4\nmax r0.x, r0.x, c5.x\nmul oD0, r0.x, c6\nmov oT0.xy, v7\n",
    "vs.1.1\n"
    "def c90, 1.0, -2.5, 0, 3e2\n"
    "mad r0, r2, c[12].yyyw, v0   // trailing comment\n"
    "mov a0.x, r3.x\n"
    "m4x3 r4, v0, c[a0.x + 26]\n"
    "add oT1.xy, -v7.xy, c1.xy\n"
    "rcp r5.w, r4.w\nrsq r6, r5.w\nexp r7, r6.x\nlog r8, r7.y\nlit r9, r8\ndst r10, r9, r8\n"
    "slt r11, r10, c90\nsge r11, r11, -c90\nmin r1, r11, r9\nexpp r2, r1.x\nlogp r3, r2.z\nfrc r1.xy, r3\n"
    "mov oD1.rgba, c[11].rgba\n"
    "mov oFog, r0.z\nmov oPts.x, c2.w\n"
    "m4x4 oPos, v0, c0\n",
    "vs.1.1\nm3x3 r0.xyz, v2, c8\nm3x2 r1.xy, v2, c8\nm3x4 r2, v2, c12\nmul r0.w, r1.x, r2.y\n"
    "sub oT7, r0, v4\nmov oPos, v0\n",
    "vs.1.1\nnop\nnop\nnop\nm4x4 oPos, v0, c0\n",
    "ps.1.1\ntex t0\ntex t1\nmul r0, t0, v0\nmad r1.rgb, t1_bx2, c0, r0\n+mov r1.a, v1.a\nlrp r0, c1, r1, t0\n",
    "ps.1.3\ntex t0\ntexm3x2pad t1, t0_bx2\ntexm3x2tex t2, t0_bx2\ncnd r0, r0.a, t2, v0\ncmp r0, r0, c1, c2\n",
    "ps.1.4\ntexld r0, t0\ntexcrd r1.rgb, t1\nphase\nmul r0, r0, r1\n",
    "ps.1.0\ndef c7, 0.5, 0.5, 0.5, 1\nmov r0, c7\n",
    "ps.1.1\ntex t0\ntexbeml t1, t0\ntexm3x2pad t2, t1_bx2\ntexm3x2tex t3, t1_bx2\nmul_x4 r0, t3, -v1_bias\n",
    "ps.1.1\ntexcoord t0\ntexm3x3pad t1, t0\ntexm3x3pad t2, t0\ntexm3x3vspec t3, t0\nmov r0, t3\n",
    "ps.1.3\ntex t0\ntexm3x2pad t1, t0\ntexm3x2depth t2, t0\ntexkill t3\nmov r0, t0\n",
    "ps.1.4\ntexcrd r0.rgb, t0_dz.xyz\ntexcrd r1.rgb, t1\nbem r2.rg, r0, r1\nphase\ntexld r2, r2_dz\n"
    "texkill r0\ntexdepth r5\nmad_x8 r0, r2_x2, c0, -v0\n",
};

Bytes TextSeed(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes TokenSeed(const std::vector<uint32_t>& tokens)
{
    Bytes b(tokens.size() * 4);
    if (!tokens.empty()) std::memcpy(b.data(), tokens.data(), b.size());
    return b;
}

std::vector<uint32_t> Declaration(int variant)
{
    std::vector<uint32_t> d = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(3, DeclFloat3), DeclReg(5, DeclColor)};
    if (variant == 1) {
        d.insert(d.end(), {DeclSkip(2), DeclReg(7, DeclFloat2), DeclReg(8, DeclShort4), DeclReg(9, DeclUByte4),
                           DeclReg(10, DeclShort2), DeclReg(11, DeclFloat1), DeclReg(12, DeclFloat4)});
        d.push_back(DeclConst(4, 2));
        for (int i = 0; i < 8; ++i) d.push_back(0x3F800000u);
    }
    d.push_back(kDeclEnd);
    return d;
}

// Byte edits suit the texts; token edits (kinds, counts, register numbers,
// the end) suit the code and the declarations.
void Mutate(Bytes* b, Random* r)
{
    static const uint32_t kTokens[] = {shader::kEndToken, kDeclEnd, 0x0000FFFEu, 0x7FFFFFFEu, 0xFFFE0101u,
                                       0xFFFF0104u, 0x80000000u, 0xA00F0000u, 0x0F000000u, DeclConst(95, 15),
                                       DeclSkip(15), DeclReg(15, 15), 0};
    static const char* const kText[] = {"\n", ",", " ", ".", "[", "]", "a0.x", "c95", "v15", "r11", "oPos", "-", "_bx2",
                                        "+", "def", "m4x4", "phase", "//", ";", "1e40"};
    switch (r->Below(8)) {
    case 0: if (!b->empty()) (*b)[r->Below(b->size())] ^= uint8_t(1u << r->Below(8)); break;
    case 1:
        if (b->size() >= 4) {
            const size_t at = 4 * r->Below(b->size() / 4);
            const uint32_t v = kTokens[r->Below(13)];
            std::memcpy(b->data() + at, &v, 4);
        }
        break;
    case 2:
        if (b->size() >= 4) {
            const size_t at = 4 * r->Below(b->size() / 4);
            (*b)[at + r->Below(4)] = uint8_t(r->Next());
        }
        break;
    case 3: b->resize(r->Below(b->size() + 1)); break;
    case 4: {
        const char* word = kText[r->Below(20)];
        b->insert(b->begin() + long(r->Below(b->size() + 1)), word, word + std::strlen(word));
        break;
    }
    case 5:
        if (b->size() > 2) {
            const size_t at = r->Below(b->size() - 1);
            b->erase(b->begin() + long(at), b->begin() + long(std::min(b->size(), at + 1 + r->Below(6))));
        }
        break;
    case 6:
        if (b->size() >= 8) {
            // Repeat a run of tokens, as a longer program would.
            const size_t at = 4 * r->Below(b->size() / 4), n = 4 * (1 + r->Below(6));
            const Bytes run(b->begin() + long(at), b->begin() + long(std::min(b->size(), at + n)));
            b->insert(b->begin() + long(at), run.begin(), run.end());
        }
        break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 3000;
    std::vector<Bytes> seeds;
    for (const char* text : kTexts) {
        ShaderAsmResult r;
        if (!AssembleShader(text, std::strlen(text), &r)) {
            std::fprintf(stderr, "seed text does not assemble: %s\n", r.error.c_str());
            return 1;
        }
        seeds.push_back(TextSeed(text));
        seeds.push_back(TokenSeed(r.code));
    }
    for (int variant = 0; variant < 2; ++variant) {
        VertexDeclaration decl;
        std::string error;
        if (!ParseVertexDeclaration(Declaration(variant).data(), Declaration(variant).size(), &decl, &error)) {
            std::fprintf(stderr, "seed declaration does not read: %s\n", error.c_str());
            return 1;
        }
        seeds.push_back(TokenSeed(Declaration(variant)));
    }
    fuzzrun::Random random(0xA54FF53A5F1D36F1ull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
