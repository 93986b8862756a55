#include "platform/gfx/shader_asm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace platform;
using namespace platform::shader;

ShaderAsmResult Assemble(const std::string& text)
{
    ShaderAsmResult r;
    AssembleShader(text.c_str(), text.size(), &r);
    return r;
}

uint32_t Dest(uint32_t kind, uint32_t index, uint32_t mask)
{
    return kParamBit | kind << kKindShift | index | mask << kMaskShift;
}

uint32_t Src(uint32_t kind, uint32_t index, uint32_t swizzle = kIdentitySwizzle, uint32_t mod = 0, bool rel = false)
{
    return kParamBit | kind << kKindShift | index | swizzle << kSwizzleShift | mod << kModifierShift |
           (rel ? kRelativeBit : 0u);
}

TEST(ShaderAsm, EncodesVertexInstructionsWithMasksSwizzlesAndRelativeConstants)
{
    const ShaderAsmResult r = Assemble(
        "; a comment line\n"
        "vs.1.1\n"
        "mad r0, r2, c[12].yyyw, v0   // trailing comment\n"
        "mov a0.x, r3.x\n"
        "m4x3 r4, v0, c[a0.x + 26]\n"
        "add oT1.xy, -v7.xy, c1.xy\n"
        "mov oD0.rgba, c[11].rgba\n"
        "mov oFog, r0.z\n"
        "mov oPos, r1\n");
    ASSERT_TRUE(r.error.empty()) << r.error;
    const std::vector<uint32_t> expected = {
        0xFFFE0101u,
        OpMad, Dest(RegTemp, 0, 0xF), Src(RegTemp, 2), Src(RegConst, 12, 0xD5),
        Src(RegInput, 0),
        OpMov, Dest(RegAddress, 0, 0x1), Src(RegTemp, 3, 0x00),
        // The macro's natural xyz mask when none is written.
        OpM4x3, Dest(RegTemp, 4, 0x7), Src(RegInput, 0), Src(RegConst, 26, 0xE4, 0, true),
        // xy swizzle repeats its last letter: x y y y = 0x54.
        OpAdd, Dest(RegTexCoordOut, 1, 0x3), Src(RegInput, 7, 0x54, ModNegate),
        Src(RegConst, 1, 0x54),
        OpMov, Dest(RegAttributeOut, 0, 0xF), Src(RegConst, 11),
        OpMov, Dest(RegRasterOut, OutFog, 0xF), Src(RegTemp, 0, 0xAA),
        OpMov, Dest(RegRasterOut, OutPosition, 0xF), Src(RegTemp, 1),
        kEndToken,
    };
    EXPECT_EQ(r.code, expected);
}

TEST(ShaderAsm, DefStoresFourFloats)
{
    const ShaderAsmResult r = Assemble("vs.1.1\ndef c5, 1.0, -2.5, 0, 3e2\nmov oPos, c5\n");
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_GE(r.code.size(), 7u);
    EXPECT_EQ(r.code[1], OpDef);
    float f[4];
    std::memcpy(f, &r.code[3], 16);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[1], -2.5f);
    EXPECT_EQ(f[2], 0.0f);
    EXPECT_EQ(f[3], 300.0f);
}

TEST(ShaderAsm, RefusesMalformedVertexTexts)
{
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"", 1},                                          // no version
        {"mov oPos, v0\n", 1},                            // version missing
        {"vs.2.0\nmov oPos, v0\n", 1},                    // unknown version
        {"vs.1.1\nfoo r0, r1\nmov oPos, v0\n", 2},        // unknown instruction
        {"vs.1.1\nmov r0\nmov oPos, v0\n", 2},            // operand count
        {"vs.1.1\nadd r0, r1, , \n", 2},                  // empty operand
        {"vs.1.1\nmov r12, v0\nmov oPos, v0\n", 2},       // temp out of range
        {"vs.1.1\nmov r0, v16\nmov oPos, v0\n", 2},       // input out of range
        {"vs.1.1\nmov r0, c96\nmov oPos, v0\n", 2},       // constant out of range
        {"vs.1.1\nm4x4 r0, v0, c93\nmov oPos, r0\n", 2},  // matrix runs past c95
        {"vs.1.1\nmov c0, v0\nmov oPos, v0\n", 2},        // write to a constant
        {"vs.1.1\nmov v0, r0\nmov oPos, v0\n", 2},        // write to an input
        {"vs.1.1\nmov r0, oPos\nmov oPos, v0\n", 2},      // read an output
        {"vs.1.1\nadd r0, c0, c1\nmov oPos, v0\n", 2},    // two constants
        {"vs.1.1\nadd r0, v0, v1\nmov oPos, v0\n", 2},    // two inputs
        {"vs.1.1\nmov r0.yx, v0\nmov oPos, v0\n", 2},     // mask order
        {"vs.1.1\nmov r0, v0.xr\nmov oPos, v0\n", 2},     // mixed swizzle letters
        {"vs.1.1\nmov r0, v0.xyzwx\nmov oPos, v0\n", 2},  // swizzle too long
        {"vs.1.1\nmov r0, v[a0.x]\nmov oPos, v0\n", 2},   // relative input
        {"vs.1.1\nmov r0, c[a0.x + a0.x]\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov r0, c[a0.y]\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov r0, c[5 - 9]\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov a0.y, r0.x\nmov oPos, v0\n", 2},    // a0 only .x
        {"vs.1.1\nadd a0.x, r0.x, r1.x\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov oFog.y, r0\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov oT8, r0\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov oD2, r0\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov r0, r1_bx2\nmov oPos, v0\n", 2},    // pixel modifier
        {"vs.1.1\nmov_sat r0, r1\nmov oPos, v0\n", 2},
        {"vs.1.1\ndef c0, 1, 2, 3\nmov oPos, v0\n", 2},
        {"vs.1.1\ndef c0, 1, x, 3, 4\nmov oPos, v0\n", 2},
        {"vs.1.1\ndef r0, 1, 2, 3, 4\nmov oPos, v0\n", 2},
        {"vs.1.1\nfrc r0.xyz, v0\nmov oPos, v0\n", 2},
        {"vs.1.1\n#define X 1\nmov oPos, v0\n", 2},
        {"vs.1.1\nmov r0, v0\n", 3},                      // oPos never written
        {"vs.1.1\n+mov r0, v0\nmov oPos, v0\n", 2},       // co-issue in a vertex shader
    };
    for (const Case& c : cases) {
        const ShaderAsmResult r = Assemble(c.text);
        EXPECT_FALSE(r.error.empty()) << c.text;
        EXPECT_TRUE(r.code.empty()) << c.text;
        EXPECT_EQ(r.errorLine, c.line) << c.text << " -> " << r.error;
    }
}

TEST(ShaderAsm, CountsMacroSlotsAgainstTheLimit)
{
    // 31 x 4 slots of m4x4, the oPos write and three moves: 128 in all.
    std::string text = "vs.1.1\n";
    for (int i = 0; i < 31; ++i) {
        text += "m4x4 r0, v0, c0\n";
    }
    text += "mov oPos, r0\nmov r1, r0\nmov r1, r0\nmov r1, r0\n";
    const ShaderAsmResult fits = Assemble(text);
    EXPECT_TRUE(fits.error.empty()) << fits.error;
    const ShaderAsmResult over = Assemble(text + "mov r1, r0\n");
    EXPECT_NE(over.error.find("128"), std::string::npos) << over.error;
    // exp is a macro of many slots.
    const ShaderAsmResult expMacro = Assemble(text.substr(0, text.size() - 11) + "exp r1, r0.x\n");
    EXPECT_NE(expMacro.error.find("128"), std::string::npos) << expMacro.error;
}

TEST(ShaderAsm, StopsAtTheLengthAndAtAZeroByte)
{
    const char text[] = "vs.1.1\nmov oPos, v0\nthis is not read";
    ShaderAsmResult r;
    EXPECT_TRUE(AssembleShader(text, std::strlen("vs.1.1\nmov oPos, v0\n"), &r)) << r.error;
    const char zero[] = "vs.1.1\nmov oPos, v0\n\0garbage";
    EXPECT_TRUE(AssembleShader(zero, sizeof zero, &r)) << r.error;
    EXPECT_FALSE(AssembleShader(nullptr, 4, &r));
}

TEST(ShaderAsm, AssemblesAndChecksPixelShaders)
{
    const ShaderAsmResult ok = Assemble(
        "ps.1.1\n"
        "def c0, 0.5, 0.5, 0.5, 1\n"
        "tex t0\n"
        "texcoord t1\n"
        "mul_x2 r0.rgb, t0, v0_bx2\n"
        "+mov_sat r0.a, 1-t0\n"
        "lrp r1, c0, r0, -t1_bias\n"
        "mad r0, r1, c1, r0\n");
    ASSERT_TRUE(ok.error.empty()) << ok.error;
    EXPECT_EQ(ok.code.front(), 0xFFFF0101u);
    EXPECT_EQ(ok.code.back(), kEndToken);
    std::string why;
    EXPECT_TRUE(ValidatePixelShaderCode(ok.code.data(), ok.code.size(), &why)) << why;

    const ShaderAsmResult v14 = Assemble("ps.1.4\ntexld r0, t0\ntexcrd r1.rgb, t1\nphase\nmul r0, r0, r1\n");
    EXPECT_TRUE(v14.error.empty()) << v14.error;

    const char* bad[] = {
        "ps.1.1\nmov r0, t4\n",                 // t4 past t3
        "ps.1.1\nmov r2, v0\nmov r0, v0\n",     // r2 past r1
        "ps.1.1\nmov r0, c8\n",                 // c8 past c7
        "ps.1.1\nmov r0, v0\ntex t0\n",         // texture after arithmetic
        "ps.1.1\nmov r1, v0\n",                 // r0 never written
        "ps.1.1\n+mov r0.a, v0\n",              // co-issue without a partner
        "ps.1.1\nmov r0.rgb, v0\n+mov r0.rgb, v1\n",
        "ps.1.1\ntexld r0, t0\n",               // 1.4 instruction in 1.1
        "ps.1.4\ntex t0\nmov r0, v0\n",         // 1.1 instruction in 1.4
        "ps.1.1\nmov_x3 r0, v0\n",
        "ps.1.1\nmov r0, v0_foo\n",
        "ps.1.1\nm4x4 r0, v0, c0\n",            // vertex instruction
        "ps.1.4\nmov r0, t0\n",                 // 1.4 reads t only in texld/texcrd
        "ps.1.4\nmov t0, v0\nmov r0, v0\n",     // nor writes it
        "ps.1.0\ntex t0\nmov t0, v0\nmov r0, t0\n",   // 1.0 writes only r
        "ps.1.1\nmov t4, v0\nmov r0, v0\n",     // t4 past t3
        "ps.1.1\ntex t0\nmov t0, v0\n",         // t0 is not r0
        "ps.1.4\nphase\nphase\nmov r0, v0\n",
        "ps.1.1\nmov r0, v0\nmov r0, v0\nmov r0, v0\nmov r0, v0\nmov r0, v0\nmov r0, v0\nmov r0, v0\n"
        "mov r0, v0\nmov r0, v0\n",             // nine arithmetic instructions
    };
    for (const char* text : bad) {
        const ShaderAsmResult r = Assemble(text);
        EXPECT_FALSE(r.error.empty()) << text;
    }
}

TEST(ShaderAsm, PixelCodeValidatorRefusesDamagedCode)
{
    const ShaderAsmResult ok = Assemble("ps.1.1\ntex t0\nmov r0, t0\n");
    ASSERT_TRUE(ok.error.empty());
    std::string why;
    // Cut before the end token, or inside an instruction.
    EXPECT_FALSE(ValidatePixelShaderCode(ok.code.data(), ok.code.size() - 1, &why));
    EXPECT_FALSE(ValidatePixelShaderCode(ok.code.data(), 3, &why));
    std::vector<uint32_t> bad = ok.code;
    bad[0] = 0xFFFE0101u;   // vertex code
    EXPECT_FALSE(ValidatePixelShaderCode(bad.data(), bad.size(), &why));
    bad = ok.code;
    bad[3] = 0x12345;       // unknown instruction
    EXPECT_FALSE(ValidatePixelShaderCode(bad.data(), bad.size(), &why));
    bad = ok.code;
    bad[4] |= 0x7FF;        // register number past the file
    EXPECT_FALSE(ValidatePixelShaderCode(bad.data(), bad.size(), &why));
}

}  // namespace
