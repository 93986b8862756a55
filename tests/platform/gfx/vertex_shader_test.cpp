#include "platform/gfx/vertex_shader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform;

struct Machine {
    float constants[96][4] = {};
    float inputs[16][4] = {};
    VertexProgram program;
    VertexShaderOutput out;

    // Assembles and runs the body after "vs.1.1"; oPos is written for it.
    void Run(const std::string& body)
    {
        const std::string text = "vs.1.1\n" + body + "\nmov oPos, v0\n";
        ShaderAsmResult r;
        ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error;
        std::string why;
        ASSERT_TRUE(program.Load(r.code.data(), r.code.size(), &why)) << why;
        program.ApplyDefinitions(constants);
        program.Run(constants, inputs, &out);
    }
    void SetC(int reg, float x, float y, float z, float w)
    {
        constants[reg][0] = x, constants[reg][1] = y, constants[reg][2] = z, constants[reg][3] = w;
    }
    void SetV(int reg, float x, float y, float z, float w)
    {
        inputs[reg][0] = x, inputs[reg][1] = y, inputs[reg][2] = z, inputs[reg][3] = w;
    }
};

// Every float of two outputs the same bits; NaNs may differ in payload only
// (operands of an addition may be swapped by the compiler).
::testing::AssertionResult SameOutput(const VertexShaderOutput& one, const VertexShaderOutput& batch)
{
    float a[sizeof one / sizeof(float)], b[sizeof one / sizeof(float)];
    std::memcpy(a, &one, sizeof a);
    std::memcpy(b, &batch, sizeof b);
    for (size_t k = 0; k < sizeof a / sizeof a[0]; ++k) {
        uint32_t x, y;
        std::memcpy(&x, &a[k], 4);
        std::memcpy(&y, &b[k], 4);
        if (x != y && !(std::isnan(a[k]) && std::isnan(b[k]))) {
            return ::testing::AssertionFailure() << "float " << k << ": " << a[k] << " against " << b[k];
        }
    }
    return ::testing::AssertionSuccess();
}

void ExpectT(const VertexShaderOutput& o, int n, float x, float y, float z, float w)
{
    EXPECT_FLOAT_EQ(o.texCoord[n][0], x) << "oT" << n << ".x";
    EXPECT_FLOAT_EQ(o.texCoord[n][1], y) << "oT" << n << ".y";
    EXPECT_FLOAT_EQ(o.texCoord[n][2], z) << "oT" << n << ".z";
    EXPECT_FLOAT_EQ(o.texCoord[n][3], w) << "oT" << n << ".w";
}

TEST(VertexProgram, ArithmeticWithSwizzlesNegationAndMasks)
{
    Machine m;
    m.SetV(1, 1, 2, 3, 4);
    m.SetC(0, 10, 20, 30, 40);
    m.SetC(1, 0.5f, -1, 2, 0);
    m.Run("mov r0, v1\n"
          "add oT0, r0, c0\n"
          "sub oT1, r0.wzyx, c0\n"
          "mul oT2, -r0, c1\n"
          "mov r1, c1\n"
          "mad oT3, r0, r1.x, c0\n"
          "min oT4, r0, c1\n"
          "max oT5, r0, c1\n"
          "mov oT6.yw, r0.x\n");
    ExpectT(m.out, 0, 11, 22, 33, 44);
    ExpectT(m.out, 1, -6, -17, -28, -39);
    ExpectT(m.out, 2, -0.5f, 2, -6, 0);
    ExpectT(m.out, 3, 10.5f, 21, 31.5f, 42);
    ExpectT(m.out, 4, 0.5f, -1, 2, 0);
    ExpectT(m.out, 5, 1, 2, 3, 4);
    ExpectT(m.out, 6, 0, 1, 0, 1);   // x and z keep their starting zero
}

TEST(VertexProgram, DotProductsComparesAndScalars)
{
    Machine m;
    m.SetV(0, 1, 2, 3, 4);
    m.SetC(0, 2, 3, 4, 5);
    m.SetC(1, 4, 0.25f, -16, 0);
    m.SetC(2, 1, 2, 3, 4);
    m.Run("dp3 oT0, v0, c0\n"
          "dp4 oT1.xy, v0, c0\n"
          "slt oT2, v0, c2.zzzz\n"
          "sge oT3, v0, c2.zzzz\n"
          "rcp oT4, c1.x\n"
          "rsq oT5, c1.z\n"
          "rcp oT6.x, c1.w\n"
          "rsq oT6.y, c1.w\n");
    ExpectT(m.out, 0, 20, 20, 20, 20);
    ExpectT(m.out, 1, 40, 40, 0, 0);
    ExpectT(m.out, 2, 1, 1, 0, 0);
    ExpectT(m.out, 3, 0, 0, 1, 1);
    ExpectT(m.out, 4, 0.25f, 0.25f, 0.25f, 0.25f);
    ExpectT(m.out, 5, 0.25f, 0.25f, 0.25f, 0.25f);   // of |-16|
    EXPECT_EQ(m.out.texCoord[6][0], std::numeric_limits<float>::infinity());
    EXPECT_EQ(m.out.texCoord[6][1], std::numeric_limits<float>::infinity());
}

TEST(VertexProgram, ScalarOperationsReadTheLastSwizzledComponent)
{
    Machine m;
    m.SetC(0, 8, 0, 0, 2);
    m.Run("rcp oT0, c0\n"        // w = 2
          "rcp oT1, c0.x\n");    // x = 8 replicated
    ExpectT(m.out, 0, 0.5f, 0.5f, 0.5f, 0.5f);
    ExpectT(m.out, 1, 0.125f, 0.125f, 0.125f, 0.125f);
}

TEST(VertexProgram, ExponentsLogarithmsAndFractions)
{
    Machine m;
    m.SetC(0, 0, 0, 0, 2.5f);
    m.SetC(1, 0, 0, 0, -12);
    m.SetC(2, 1.75f, -0.25f, 0, 0);
    m.Run("exp oT0, c0.w\n"
          "expp oT1, c0.w\n"
          "log oT2, c1.w\n"
          "logp oT3, c1.w\n"
          "frc oT4.xy, c2\n");
    const float e = std::exp2(2.5f);
    ExpectT(m.out, 0, e, e, e, e);
    ExpectT(m.out, 1, 4, 0.5f, e, 1);
    const float l = std::log2(12.0f);
    ExpectT(m.out, 2, l, l, l, l);
    ExpectT(m.out, 3, 3, 1.5f, l, 1);
    ExpectT(m.out, 4, 0.75f, 0.75f, 0, 0);
}

TEST(VertexProgram, LitAndDst)
{
    Machine m;
    m.SetC(0, 0.5f, 0.25f, 0, 2);     // lit: N.L, N.H, -, power
    m.SetC(1, -0.5f, 0.25f, 0, 2);    // facing away: no diffuse, no specular
    m.SetC(2, 0.5f, 0, 0, 2);         // N.H = 0: no specular
    m.SetC(3, 9, 3, 9, 0);            // dst: (-, d*d, d*d, -)
    m.SetC(4, 0, 0.5f, 0, 0.125f);    // dst: (-, 1/d, -, 1/d)
    m.Run("lit oT0, c0\nlit oT1, c1\nlit oT2, c2\nmov r0, c3\ndst oT3, r0, c4\n");
    ExpectT(m.out, 0, 1, 0.5f, 0.0625f, 1);
    ExpectT(m.out, 1, 1, 0, 0, 1);
    ExpectT(m.out, 2, 1, 0.5f, 0, 1);
    ExpectT(m.out, 3, 1, 1.5f, 9, 0.125f);
}

TEST(VertexProgram, MatrixMacrosTakeConsecutiveRows)
{
    Machine m;
    m.SetV(0, 1, 2, 3, 1);
    for (int r = 0; r < 4; ++r) {
        m.SetC(10 + r, static_cast<float>(r + 1), static_cast<float>(10 * (r + 1)), 0, 100);
    }
    m.Run("m4x4 oT0, v0, c10\n"
          "m4x3 oT1, v0, c10\n"
          "m3x4 oT2, v0, c10\n"
          "m3x3 oT3, v0, c10\n"
          "m3x2 oT4, v0, c10\n"
          "mov r1, v0\n"
          "m4x4 r1, r1, c10\n"   // a destination that is also the source
          "mov oT5, r1\n");
    // Row r gives (r + 1) x 1 + 10 (r + 1) x 2 (+ 100 when four wide).
    ExpectT(m.out, 0, 121, 142, 163, 184);
    ExpectT(m.out, 1, 121, 142, 163, 0);
    ExpectT(m.out, 2, 21, 42, 63, 84);
    ExpectT(m.out, 3, 21, 42, 63, 0);
    ExpectT(m.out, 4, 21, 42, 0, 0);
    ExpectT(m.out, 5, 121, 142, 163, 184);
}

TEST(VertexProgram, AddressRegisterFloorsAndOutOfRangeReadsZero)
{
    Machine m;
    m.SetC(30, 1, 2, 3, 4);
    m.SetC(31, 5, 6, 7, 8);
    m.SetC(0, 1.9f, -100, 200, 2.0f);
    m.Run("mov a0.x, c0.x\n"
          "mov oT0, c[a0.x + 29]\n"   // floor(1.9) = 1: c30
          "mov oT1, c[a0.x + 30]\n"
          "mov a0.x, c0.y\n"
          "mov oT2, c[a0.x + 30]\n"   // c-70: nothing there
          "mov a0.x, c0.z\n"
          "mov oT3, c[a0.x + 30]\n"); // c230: nothing there
    ExpectT(m.out, 0, 1, 2, 3, 4);
    ExpectT(m.out, 1, 5, 6, 7, 8);
    ExpectT(m.out, 2, 0, 0, 0, 0);
    ExpectT(m.out, 3, 0, 0, 0, 0);
}

TEST(VertexProgram, SkinningIndicesFromAColourLandOnTheirBones)
{
    // The indices arrive as colour bytes; x 765 (= 255 x 3) must give
    // 3 x index (after the floor) for every byte value, or bones would be mixed up.
    VertexDeclaration decl;
    const uint32_t tokens[] = {DeclStream(0), DeclReg(5, DeclColor), kDeclEnd};
    ASSERT_TRUE(ParseVertexDeclaration(tokens, 3, &decl, nullptr));
    Machine m;
    m.SetC(0, 0, 0, 0, 765.0f);
    for (int i = 0; i < 96; ++i) {
        m.constants[i][0] = static_cast<float>(i);
    }
    m.constants[0][3] = 765.0f;
    for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t colour = b << 16;   // the red byte
        FetchVertexInputs(decl, reinterpret_cast<const uint8_t*>(&colour), m.inputs);
        m.Run("mul r3, v5, c[0].wwww\nmov a0.x, r3.x\nmov oT0, c[a0.x + 0]\nmov oT1, r3\n");
        // Not exact, but never below: the floor of a0 finds the bone.
        EXPECT_EQ(std::floor(m.out.texCoord[1][0]), static_cast<float>(3 * b)) << b;
        if (b < 32) {
            EXPECT_EQ(m.out.texCoord[0][0], b == 0 ? 0.0f : static_cast<float>(3 * b)) << b;
        }
    }
}

TEST(VertexProgram, OutputsReachTheirRegisters)
{
    Machine m;
    m.SetC(1, 0.25f, 0.5f, 0.75f, 1);
    m.Run("mov oD0, c1\nmov oD1.zw, c1\nmov oFog, c1.y\nmov oPts, c1.w\nmov oT7, c1\n");
    EXPECT_FLOAT_EQ(m.out.diffuse[2], 0.75f);
    EXPECT_FLOAT_EQ(m.out.specular[0], 0.0f);
    EXPECT_FLOAT_EQ(m.out.specular[3], 1.0f);
    EXPECT_FLOAT_EQ(m.out.fog, 0.5f);
    EXPECT_FLOAT_EQ(m.out.pointSize, 1.0f);
    ExpectT(m.out, 7, 0.25f, 0.5f, 0.75f, 1);
}

TEST(VertexProgram, RefusesDamagedCode)
{
    const std::string text = "vs.1.1\nmov r0, v0\nmov oPos, r0\n";
    ShaderAsmResult r;
    ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &r));
    VertexProgram p;
    std::string why;
    EXPECT_TRUE(p.Load(r.code.data(), r.code.size(), &why)) << why;
    EXPECT_EQ(p.GetInputMask(), 1u);
    EXPECT_FALSE(p.Load(r.code.data(), r.code.size() - 1, &why));   // no end token
    EXPECT_FALSE(p.IsLoaded());
    EXPECT_FALSE(p.Load(r.code.data(), 2, &why));                    // cut inside
    auto damaged = [&](size_t at, uint32_t value) {
        std::vector<uint32_t> c = r.code;
        c[at] = value;
        return p.Load(c.data(), c.size(), &why);
    };
    EXPECT_FALSE(damaged(0, 0xFFFF0101u));                       // pixel version
    EXPECT_FALSE(damaged(1, 0x02001234u));                       // unknown opcode
    EXPECT_FALSE(damaged(1, r.code[1] + (1u << 24)));            // wrong count
    EXPECT_FALSE(damaged(2, r.code[2] | 0x7FF));                 // r2047
    EXPECT_FALSE(damaged(2, (r.code[2] & ~(7u << 28)) | (2u << 28)));   // write a constant
    EXPECT_FALSE(damaged(3, r.code[3] | shader::kRelativeBit));  // relative input
    EXPECT_FALSE(damaged(3, r.code[3] | (6u << 24)));            // pixel modifier
    EXPECT_FALSE(damaged(3, r.code[3] & ~shader::kParamBit));
    // Dropping the oPos write leaves a program with no position.
    std::vector<uint32_t> noPos = {r.code[0], r.code[1], r.code[2], r.code[3], shader::kEndToken};
    EXPECT_FALSE(p.Load(noPos.data(), noPos.size(), &why));
    // A matrix whose rows run past c95 is refused as the assembler refuses
    // its text, with the same words; relative rows are checked as they are read.
    struct Matrix {
        const char* op;
        int first;
        const char* why;   // null: taken
    };
    const Matrix matrices[] = {{"m4x4", 94, "c97 is past the last constant (c95)"},
                               {"m3x2", 95, "c96 is past the last constant (c95)"},
                               {"m4x3", 93, nullptr},
                               {"m3x3", 93, nullptr}};
    for (const Matrix& m : matrices) {
        const std::string text = std::string("vs.1.1\n") + m.op + " r0, v0, c" + std::to_string(m.first) + "\nmov oPos, r0\n";
        const std::string taken = std::string("vs.1.1\n") + m.op + " r0, v0, c80\nmov oPos, r0\n";
        ShaderAsmResult asmText, asmTaken;
        EXPECT_EQ(AssembleShader(text.c_str(), text.size(), &asmText), m.why == nullptr) << text;
        ASSERT_TRUE(AssembleShader(taken.c_str(), taken.size(), &asmTaken)) << asmTaken.error;
        // The taken code with the matrix moved to the register of the text.
        std::vector<uint32_t> code = asmTaken.code;
        code[4] = (code[4] & ~0x7FFu) | static_cast<uint32_t>(m.first);
        EXPECT_EQ(p.Load(code.data(), code.size(), &why), m.why == nullptr) << text;
        if (m.why != nullptr) {
            EXPECT_EQ(why, m.why) << text;
            EXPECT_NE(asmText.error.find(m.why), std::string::npos) << asmText.error;
        }
    }
    const std::string relative = "vs.1.1\nm4x4 r0, v0, c[a0.x + 94]\nmov oPos, r0\n";
    ASSERT_TRUE(AssembleShader(relative.c_str(), relative.size(), &r)) << r.error;
    EXPECT_TRUE(p.Load(r.code.data(), r.code.size(), &why)) << why;
}

TEST(VertexDeclaration, LaysOutElementsAndReadsEachType)
{
    const uint32_t tokens[] = {DeclStream(0),         DeclReg(0, DeclFloat3), DeclSkip(1), DeclReg(6, DeclColor),
                               DeclReg(3, DeclUByte4), DeclReg(4, DeclShort2), DeclConst(90, 1),
                               0x3F800000u,           0x40000000u,            0,           0,
                               kDeclEnd};
    VertexDeclaration d;
    std::string why;
    ASSERT_TRUE(ParseVertexDeclaration(tokens, sizeof tokens / 4, &d, &why)) << why;
    ASSERT_EQ(d.elements.size(), 4u);
    EXPECT_EQ(d.elements[1].offset, 16u);
    EXPECT_EQ(d.stride, 28u);
    ASSERT_EQ(d.constants.size(), 1u);
    EXPECT_EQ(d.constants[0].reg, 90u);
    EXPECT_EQ(d.constants[0].value[1], 2.0f);

    uint8_t vertex[28] = {};
    const float pos[3] = {1, 2, 3};
    std::memcpy(vertex, pos, 12);
    const uint32_t colour = 0x80FF0033u;
    std::memcpy(vertex + 16, &colour, 4);
    const uint8_t bytes[4] = {1, 2, 3, 250};
    std::memcpy(vertex + 20, bytes, 4);
    const int16_t shorts[2] = {-7, 300};
    std::memcpy(vertex + 24, shorts, 4);
    float in[16][4];
    FetchVertexInputs(d, vertex, in);
    EXPECT_EQ(in[0][2], 3.0f);
    EXPECT_EQ(in[0][3], 1.0f);
    EXPECT_FLOAT_EQ(in[6][0], 1.0f);
    EXPECT_FLOAT_EQ(in[6][2], 0.2f);
    EXPECT_FLOAT_EQ(in[6][3], 128.0f / 255.0f);
    EXPECT_EQ(in[3][3], 250.0f);
    EXPECT_EQ(in[4][0], -7.0f);
    EXPECT_EQ(in[4][3], 1.0f);
    EXPECT_EQ(in[9][0], 0.0f);   // undeclared
    EXPECT_EQ(in[9][3], 1.0f);
}

TEST(VertexDeclaration, RefusesBadTables)
{
    VertexDeclaration d;
    std::string why;
    const uint32_t noEnd[] = {DeclStream(0), DeclReg(0, DeclFloat3)};
    EXPECT_FALSE(ParseVertexDeclaration(noEnd, 2, &d, &why));
    const uint32_t stream1[] = {DeclStream(1), DeclReg(0, DeclFloat3), kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(stream1, 3, &d, &why));
    const uint32_t twice[] = {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(0, DeclFloat2), kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(twice, 4, &d, &why));
    const uint32_t badType[] = {DeclStream(0), DeclReg(0, 9), kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(badType, 3, &d, &why));
    const uint32_t noStream[] = {DeclReg(0, DeclFloat3), kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(noStream, 2, &d, &why));
    // Constants that run past the table or past c95.
    const uint32_t shortConst[] = {DeclConst(0, 2), 0, 0, 0, 0, kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(shortConst, 6, &d, &why));
    const uint32_t highConst[] = {DeclConst(95, 2), 0, 0, 0, 0, 0, 0, 0, 0, kDeclEnd};
    EXPECT_FALSE(ParseVertexDeclaration(highConst, 10, &d, &why));
}

// Mutated texts and mutated code: whatever the assembler accepts, the
// loader accepts and runs; whatever the loader accepts runs without reading
// outside its registers (the sanitizer builds check the memory).
TEST(VertexProgram, MutatedTextsAndCodeAreSafe)
{
    const std::string seed =
        "vs.1.1\n"
        "mul r3.xyzw, v5.zyxw, c[0].wwww\n"
        "mov a0.x, r3.x\n"
        "m4x3 r4, v0, c[a0.x + 26]\n"
        "m3x3 r5, v1, c[a0.x + 26]\n"
        "mad r0, r5, c[12].yyyw, r4\n"
        "m4x4 oPos, r0, c[20]\n"
        "lit r6, r5\n"
        "dst r7, r6, c[3]\n"
        "expp r8, r7.y\n"
        "logp r9, -r8.x\n"
        "frc r10.xy, r9\n"
        "mov oD0, r10\n"
        "mad oFog.x, r9.x, c[1].z, c[1].w\n";
    const char alphabet[] = "vrcoa0123456789[]+-.,xyzwrgba \n;";
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    float constants[96][4];
    float inputs[16][4];
    for (int i = 0; i < 96; ++i) {
        for (int c = 0; c < 4; ++c) {
            constants[i][c] = static_cast<float>(i * 4 + c) * 0.37f - 40.0f;
        }
    }
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 4; ++c) {
            inputs[i][c] = static_cast<float>(i - c) * 0.5f;
        }
    }
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(next() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = next() % text.size();
            switch (next() % 3) {
            case 0: text[at] = alphabet[next() % (sizeof alphabet - 1)]; break;
            case 1: text.erase(at, 1 + next() % 3); break;
            default: text.insert(at, 1, alphabet[next() % (sizeof alphabet - 1)]); break;
            }
            if (text.empty()) {
                text.push_back('x');
            }
        }
        ShaderAsmResult r;
        if (!AssembleShader(text.c_str(), text.size(), &r)) {
            EXPECT_TRUE(r.code.empty());
            EXPECT_GT(r.errorLine, 0);
            continue;
        }
        VertexProgram p;
        std::string why;
        ASSERT_TRUE(p.Load(r.code.data(), r.code.size(), &why)) << text << "\n" << why;
        VertexShaderOutput out;
        p.Run(constants, inputs, &out);
        ++accepted;
        // Flip one bit of the code: the loader refuses or the program runs.
        std::vector<uint32_t> code = r.code;
        code[next() % code.size()] ^= 1u << (next() % 32);
        if (p.Load(code.data(), code.size(), &why)) {
            p.Run(constants, inputs, &out);
        }
    }
    EXPECT_GT(accepted, 50);   // the mutations also reach the interpreter
}

}  // namespace

// Random programs over every instruction, swizzle, negation, write mask and
// relative constant address, run one vertex at a time and a batch at a
// time, on inputs that include zeros of both signs, infinities and NaNs:
// the batch must give every output bit for bit (a NaN is any NaN).
TEST(VertexProgram, BatchRunsGiveTheBitsOfSingleRuns)
{
    std::mt19937 rng(12);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    const char* kComponents = "xyzw";
    auto swizzle = [&]() {
        if (pick(3) == 0) {
            return std::string();
        }
        std::string s = ".";
        const int n = 1 + pick(4);
        for (int i = 0; i < n; ++i) {
            s += kComponents[pick(4)];
        }
        return s;
    };
    auto mask = [&]() {
        if (pick(3) == 0) {
            return std::string();
        }
        std::string m = ".";
        for (int c = 0; c < 4; ++c) {
            if (pick(2) == 0 || (c == 3 && m.size() == 1)) {
                m += kComponents[c];
            }
        }
        return m;
    };
    // Names built by appending (GCC 12 warns falsely on a literal + string).
    auto name = [](const char* prefix, int n, const char* suffix) {
        std::string s(prefix);
        s += std::to_string(n);
        s += suffix;
        return s;
    };
    auto temp = [&]() { return name("r", pick(12), ""); };
    // Fixed addresses leave room for a matrix's rows; relative ones reach
    // past the end now and then.
    auto constant = [&]() { return pick(3) == 0 ? name("c[a0.x + ", pick(96), "]") : name("c", pick(92), ""); };
    // At most one input and one constant register per instruction.
    auto sources = [&](int count, bool matrix) {
        std::vector<std::string> out;
        bool usedInput = false, usedConstant = false;
        for (int k = 0; k < count; ++k) {
            std::string reg;
            if (matrix && k == 1) {
                reg = constant();
            } else {
                const int kind = pick(3);
                if (kind == 1 && !usedInput) {
                    reg = name("v", pick(12), "");
                    usedInput = true;
                } else if (kind == 2 && !usedConstant && !matrix) {
                    reg = constant();
                    usedConstant = true;
                } else {
                    reg = temp();
                }
            }
            std::string source = pick(4) == 0 && !(matrix && k == 1) ? "-" : "";
            source += reg;
            source += matrix && k == 1 ? std::string() : swizzle();
            out.push_back(source);
        }
        return out;
    };
    struct Op {
        const char* name;
        int sources;
        bool matrix;
    };
    const Op ops[] = {{"mov", 1, false},  {"add", 2, false},  {"sub", 2, false},  {"mul", 2, false},
                      {"mad", 3, false},  {"min", 2, false},  {"max", 2, false},  {"slt", 2, false},
                      {"sge", 2, false},  {"dp3", 2, false},  {"dp4", 2, false},  {"rcp", 1, false},
                      {"rsq", 1, false},  {"exp", 1, false},  {"log", 1, false},  {"expp", 1, false},
                      {"logp", 1, false}, {"lit", 1, false},  {"dst", 2, false},  {"frc", 1, false},
                      {"m4x4", 2, true},  {"m4x3", 2, true},  {"m3x4", 2, true},  {"m3x3", 2, true},
                      {"m3x2", 2, true}};
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e30f, -1e-30f,
                              std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    std::uniform_real_distribution<float> uni(-4.0f, 4.0f);
    auto value = [&]() { return pick(3) == 0 ? specials[pick(10)] : uni(rng); };
    int programs = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text = "vs.1.1\n";
        for (int r = 0; r < 12; ++r) {
            text += name("mov r", r, ", ") + name("v", r, "\n");
        }
        text += "mov a0.x, v12.x\n";
        // Within the 128 instruction slots (a matrix or exp takes several).
        for (int i = 0; i < 20; ++i) {
            const Op& op = ops[pick(static_cast<int>(sizeof ops / sizeof ops[0]))];
            std::string dest;
            const int where = pick(6);
            if (where == 0) {
                dest = pick(2) == 0 ? "oD0" : "oD1";
                dest += mask();
            } else if (where == 1) {
                dest = name("oT", pick(8), "");
                dest += mask();
            } else if (where == 2 && pick(4) == 0) {
                text += "mov a0.x, ";
                text += temp();
                text += '.';
                text += kComponents[pick(4)];
                text += '\n';
                continue;
            } else {
                dest = temp();
                dest += op.matrix ? std::string() : mask();
            }
            // frc writes x and y at most.
            if (std::string(op.name) == "frc") {
                dest = temp() + (pick(2) == 0 ? ".x" : ".xy");
            }
            text += op.name;
            text += ' ';
            text += dest;
            for (const std::string& s : sources(op.sources, op.matrix)) {
                text += ", " + s;
            }
            text += "\n";
        }
        text += "mov oPos, ";
        text += temp();
        text += '\n';
        ShaderAsmResult asmResult;
        if (!AssembleShader(text.c_str(), text.size(), &asmResult)) {
            ADD_FAILURE() << asmResult.error << "\n" << text;
            continue;
        }
        VertexProgram program;
        std::string why;
        ASSERT_TRUE(program.Load(asmResult.code.data(), asmResult.code.size(), &why)) << why << "\n" << text;
        ++programs;
        float constants[96][4];
        for (auto& c : constants) {
            for (float& x : c) {
                x = value();
            }
        }
        program.ApplyDefinitions(constants);
        // Two runs of the same lanes, so that nothing of one run leaks
        // into the next; the last run fills only some lanes.
        constexpr int kLanes = VertexRun::kLanes;
        VertexRun run;
        ASSERT_TRUE(run.Begin(program, constants));
        // The second pass runs the code for any processor.
        for (int pass = 0; pass < 2; ++pass) {
            float inputs[kLanes][16][4];
            for (auto& v : inputs) {
                for (auto& reg : v) {
                    for (float& x : reg) {
                        x = value();
                    }
                }
                // Relative addresses inside and outside the constants.
                v[12][0] = static_cast<float>(pick(120) - 12) + (pick(2) == 0 ? 0.5f : 0.0f);
            }
            const int count = pass == 0 ? kLanes : 1 + round % kLanes;
            for (int l = 0; l < count; ++l) {
                run.SetInputs(l, inputs[l]);
            }
            if (pass == 0) {
                run.Run();
            } else {
                run.RunPortable();
            }
            for (int l = 0; l < count; ++l) {
                VertexShaderOutput one, batch;
                program.Run(constants, inputs[l], &one);
                run.GetOutput(l, &batch);
                ASSERT_TRUE(SameOutput(one, batch)) << "pass " << pass << " vertex " << l << " in\n" << text;
            }
        }
    }
    EXPECT_EQ(programs, 300);
}

// Cases a lowering can get wrong, each over lanes whose inputs and
// constants run through zeros of both signs, infinities, NaNs and plain
// numbers: destinations that are also sources, temporaries read before they
// are written, scalar steps on the special values, a0 outside the table.
TEST(VertexProgram, BatchRunsGiveTheBitsOfSingleRunsOnHardCases)
{
    const char* const bodies[] = {
        "mov r0, v0\nmov r0.xy, r0.yx\nmov r1, -r0.wzyx\nmov oT0, r1\nmov oT1, r0",
        "mov r0, v0\nm4x4 r0, r0, c4\nmov oT0, r0\nm3x3 r1.xyzw, v1, c4\nmov oT1, r1",
        "mov r0, v0\nm4x3 r0.xyw, r0.wzyx, c10\nm3x2 r1, -r0, c90\nmov oT0, r0\nmov oT1, r1",
        "add oT0, r3, v0\nmov r3, v1\nmad r3.yz, r3.zzyy, -v2, r3.x\nmov oT1, r3",
        "rcp r0.x, v0.x\nrcp r0.y, v0.y\nrsq r0.z, v0.z\nrsq r0.w, -v0.w\nmov oT0, r0\nrcp oT1.yw, v1",
        "mov r5, v1\nmin r0, v0, r5\nmax r1, v0, -r5\nslt r2, v0, r5\nsge r3, r5, v0\n"
        "mov oT0, r0\nmov oT1, r1\nmov oT2, r2\n"
        "mov oT3, r3",
        "expp r0, v0.x\nlogp r1, v0.y\nexp r2, v0.z\nlog r3, v0.w\nmov oT0, r0\nmov oT1, r1\nmov oT2, r2\n"
        "mov oT3, r3",
        "lit r0, v0\nmov r5, v1\ndst r1, v0, r5\nfrc r2.xy, v1\nmov oT0, r0\nmov oT1, r1\nmov oT2, r2",
        "mov a0.x, v2.x\nmov oT0, c[a0.x + 3]\nmov oT1, -c[a0.x + 95].wzyx\nmov a0.x, v2.y\n"
        "m4x3 oT2, v0, c[a0.x + 20]\nmov oT3, c[a0.x]",
        // a0 read before it is written: zero for every vertex of every run.
        "mov oT0, c[a0.x + 3]\nmov a0.x, v2.x\nmov oT1, c[a0.x + 1]",
        "mov r5, v1\ndp3 r0.x, v0, r5\ndp4 r0.yw, v0, -r5\nmov oD0, r0\nmov oD1.xz, r0\nmov oFog, -v1.y\n"
        "mov oPts.x, r0.w",
    };
    const float specials[] = {0.0f,
                              -0.0f,
                              1.0f,
                              -1.0f,
                              0.25f,
                              -2.5f,
                              3.75f,
                              1e30f,
                              -1e-30f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    constexpr int kSpecials = sizeof specials / sizeof specials[0];
    for (const char* body : bodies) {
        const std::string text = std::string("vs.1.1\n") + body + "\nmov oPos, v0\n";
        ShaderAsmResult asmResult;
        ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &asmResult)) << asmResult.error << "\n" << text;
        VertexProgram program;
        std::string why;
        ASSERT_TRUE(program.Load(asmResult.code.data(), asmResult.code.size(), &why)) << why;
        float constants[96][4];
        for (int r = 0; r < 96; ++r) {
            for (int c = 0; c < 4; ++c) {
                constants[r][c] = specials[(r * 4 + c) % kSpecials];
            }
        }
        VertexRun run;
        ASSERT_TRUE(run.Begin(program, constants));
        constexpr int kLanes = VertexRun::kLanes;
        float inputs[kLanes][16][4];
        for (int l = 0; l < kLanes; ++l) {
            for (int r = 0; r < 16; ++r) {
                for (int c = 0; c < 4; ++c) {
                    inputs[l][r][c] = specials[(l * 5 + r * 3 + c * 7) % kSpecials];
                }
            }
            // a0 from -7 to past the table, halves floored.
            inputs[l][2][0] = static_cast<float>(l * 4 - 7) + 0.5f;
            inputs[l][2][1] = l == 0 ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(90 - 3 * l);
            run.SetInputs(l, inputs[l]);
        }
        // Twice: the second run must not see anything of the first.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 0) {
                run.Run();
            } else {
                run.RunPortable();
            }
            for (int l = 0; l < kLanes; ++l) {
                VertexShaderOutput one, batch;
                program.Run(constants, inputs[l], &one);
                run.GetOutput(l, &batch);
                ASSERT_TRUE(SameOutput(one, batch)) << "lane " << l << " in\n" << text;
            }
        }
    }
}

// One run begun again with another program: temporaries read before they
// are written are zero and untouched outputs keep their starting values,
// whatever the program before left.
TEST(VertexProgram, BatchRunBegunAgainStartsClean)
{
    auto load = [](const std::string& body, VertexProgram* program) {
        const std::string text = "vs.1.1\n" + body;
        ShaderAsmResult r;
        ASSERT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error;
        std::string why;
        ASSERT_TRUE(program->Load(r.code.data(), r.code.size(), &why)) << why;
    };
    VertexProgram first, second;
    load("mov r0, v0\nmov r5, -v1\nmov r11, v2\nmov oPos, v0\nmov oD0, v0\nmov oT3, v0\nmov oFog, v0.y\n", &first);
    load("mov oPos, v0\nadd oT0, r0, r5\nmov oT1, r11.wzyx\n", &second);
    float constants[96][4] = {};
    float inputs[16][4] = {};
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 4; ++c) {
            inputs[r][c] = static_cast<float>(r * 4 + c) + 0.5f;
        }
    }
    VertexRun run;
    ASSERT_TRUE(run.Begin(first, constants));
    for (int l = 0; l < VertexRun::kLanes; ++l) {
        run.SetInputs(l, inputs);
    }
    run.Run();
    ASSERT_TRUE(run.Begin(second, constants));
    run.Run();
    VertexShaderOutput one, batch;
    second.Run(constants, inputs, &one);
    run.GetOutput(VertexRun::kLanes - 1, &batch);
    EXPECT_EQ(std::memcmp(&one, &batch, sizeof one), 0);
    EXPECT_EQ(batch.texCoord[0][0], 0.0f);
    EXPECT_EQ(batch.diffuse[0], 1.0f);
    EXPECT_EQ(batch.texCoord[3][1], 0.0f);
    EXPECT_EQ(batch.fog, 1.0f);
}
