// Shader code checked against token streams written out by hand from the
// Direct3D 8 token format (version token, instruction tokens that carry
// only the opcode and the co-issue bit, destination and source parameter
// tokens, end token): the assembler must write exactly these tokens, and
// the device must take them as they are.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"
#include "platform/gfx/vertex_shader.h"

namespace {

using namespace platform;

struct Program {
    const char* text;
    std::vector<uint32_t> tokens;
};

// Every vs.1.1 instruction, masks, swizzles, negation, relative constants
// and every output register.
const Program kVertexProgram = {
    "vs.1.1\n"
    "def c95, 1, 0.5, 0, -2\n"
    "nop\n"
    "mov a0.x, v1.x\n"
    "mov r0, c[a0.x + 5]\n"
    "add r1.xy, -v0, c1.wzyx\n"
    "sub r2, r0, v0\n"
    "mad r3.xyz, r0, c2.y, v0\n"
    "mul r4.w, r0.z, v0.w\n"
    "rcp r5.x, r0.w\n"
    "rsq r5.y, r0.x\n"
    "dp3 r6.x, r0, c3\n"
    "dp4 r6.y, r0, c3\n"
    "min r7, r0, c4\n"
    "max r7, r7, c4\n"
    "slt r8, r0, v0\n"
    "sge r8, r8, v0\n"
    "exp r9, r0.x\n"
    "log r9, r9.y\n"
    "lit r10, r0\n"
    "dst r10, r0, r1\n"
    "frc r11.xy, r0\n"
    "m4x4 oPos, v0, c[a0.x + 10]\n"
    "m4x3 r0.xyz, v0, c10\n"
    "m3x4 r1, v0, c10\n"
    "m3x3 r2.xyz, v0, c10\n"
    "m3x2 r3.xy, v0, c10\n"
    "expp r4, r0.x\n"
    "logp r4, r0.w\n"
    "mov oD0, v1\n"
    "mov oD1.xyz, r0\n"
    "mov oT7.xy, r1\n"
    "mov oFog, r0.x\n"
    "mov oPts, r0.y\n",
    {
        0xFFFE0101,
        0x00000051, 0xA00F005F, 0x3F800000, 0x3F000000, 0x00000000, 0xC0000000,
        0x00000000,
        0x00000001, 0xB0010000, 0x90000001,
        0x00000001, 0x800F0000, 0xA0E42005,
        0x00000002, 0x80030001, 0x91E40000, 0xA01B0001,
        0x00000003, 0x800F0002, 0x80E40000, 0x90E40000,
        0x00000004, 0x80070003, 0x80E40000, 0xA0550002, 0x90E40000,
        0x00000005, 0x80080004, 0x80AA0000, 0x90FF0000,
        0x00000006, 0x80010005, 0x80FF0000,
        0x00000007, 0x80020005, 0x80000000,
        0x00000008, 0x80010006, 0x80E40000, 0xA0E40003,
        0x00000009, 0x80020006, 0x80E40000, 0xA0E40003,
        0x0000000A, 0x800F0007, 0x80E40000, 0xA0E40004,
        0x0000000B, 0x800F0007, 0x80E40007, 0xA0E40004,
        0x0000000C, 0x800F0008, 0x80E40000, 0x90E40000,
        0x0000000D, 0x800F0008, 0x80E40008, 0x90E40000,
        0x0000000E, 0x800F0009, 0x80000000,
        0x0000000F, 0x800F0009, 0x80550009,
        0x00000010, 0x800F000A, 0x80E40000,
        0x00000011, 0x800F000A, 0x80E40000, 0x80E40001,
        0x00000013, 0x8003000B, 0x80E40000,
        0x00000014, 0xC00F0000, 0x90E40000, 0xA0E4200A,
        0x00000015, 0x80070000, 0x90E40000, 0xA0E4000A,
        0x00000016, 0x800F0001, 0x90E40000, 0xA0E4000A,
        0x00000017, 0x80070002, 0x90E40000, 0xA0E4000A,
        0x00000018, 0x80030003, 0x90E40000, 0xA0E4000A,
        0x0000004E, 0x800F0004, 0x80000000,
        0x0000004F, 0x800F0004, 0x80FF0000,
        0x00000001, 0xD00F0000, 0x90E40001,
        0x00000001, 0xD0070001, 0x80E40000,
        0x00000001, 0xE0030007, 0x80E40001,
        0x00000001, 0xC00F0001, 0x80000000,
        0x00000001, 0xC00F0002, 0x80550000,
        0x0000FFFF,
    },
};

// Every ps.1.1 to 1.4 instruction over a handful of programs, with the
// instruction and source modifiers, masks, replicate swizzles and co-issue.
const Program kPixelPrograms[] = {
    {"ps.1.1\n"
     "def c7, 1, 0.5, 0, 0.25\n"
     "tex t0\n"
     "texcoord t1\n"
     "texkill t2\n"
     "texbem t3, t0\n"
     "add r0, t0, v0\n"
     "sub r1.rgb, t1, c7\n"
     "+mul r1.a, t0.a, v1.a\n"
     "mad_x2 r0.rgb, t0_bx2, v0_bias, -c7\n"
     "+mov_sat r0.a, 1 - t3.a\n"
     "dp3_sat r1, t0_bx2, v0_bx2\n"
     "lrp r0, t3.a, r0, r1\n"
     "mul_d2 r1, r0, c7\n"
     "cnd r0, r0.a, t0, -t1_bias\n"
     "mul_x4 r0, r0, r1\n"
     "nop\n",
     {
         0xFFFF0101,
         0x00000051, 0xA00F0007, 0x3F800000, 0x3F000000, 0x00000000, 0x3E800000,
         0x00000042, 0xB00F0000,
         0x00000040, 0xB00F0001,
         0x00000041, 0xB00F0002,
         0x00000043, 0xB00F0003, 0xB0E40000,
         0x00000002, 0x800F0000, 0xB0E40000, 0x90E40000,
         0x00000003, 0x80070001, 0xB0E40001, 0xA0E40007,
         0x40000005, 0x80080001, 0xB0FF0000, 0x90FF0001,
         0x00000004, 0x81070000, 0xB4E40000, 0x92E40000, 0xA1E40007,
         0x40000001, 0x80180000, 0xB6FF0003,
         0x00000008, 0x801F0001, 0xB4E40000, 0x94E40000,
         0x00000012, 0x800F0000, 0xB0FF0003, 0x80E40000, 0x80E40001,
         0x00000005, 0x8F0F0001, 0x80E40000, 0xA0E40007,
         0x00000050, 0x800F0000, 0x80FF0000, 0xB0E40000, 0xB3E40001,
         0x00000005, 0x820F0000, 0x80E40000, 0x80E40001,
         0x00000000,
         0x0000FFFF,
     }},
    {"ps.1.1\n"
     "tex t0\n"
     "texreg2ar t1, t0\n"
     "texreg2gb t2, t0\n"
     "texbeml t3, t0\n"
     "mul r0, t1, t2\n",
     {
         0xFFFF0101,
         0x00000042, 0xB00F0000,
         0x00000045, 0xB00F0001, 0xB0E40000,
         0x00000046, 0xB00F0002, 0xB0E40000,
         0x00000044, 0xB00F0003, 0xB0E40000,
         0x00000005, 0x800F0000, 0xB0E40001, 0xB0E40002,
         0x0000FFFF,
     }},
    {"ps.1.1\n"
     "tex t0\n"
     "texm3x2pad t1, t0_bx2\n"
     "texm3x2tex t2, t0_bx2\n"
     "mov r0, t2\n",
     {
         0xFFFF0101,
         0x00000042, 0xB00F0000,
         0x00000047, 0xB00F0001, 0xB4E40000,
         0x00000048, 0xB00F0002, 0xB4E40000,
         0x00000001, 0x800F0000, 0xB0E40002,
         0x0000FFFF,
     }},
    {"ps.1.1\n"
     "tex t0\n"
     "texm3x3pad t1, t0_bx2\n"
     "texm3x3pad t2, t0_bx2\n"
     "texm3x3spec t3, t0_bx2, c0\n"
     "mov r0, t3\n",
     {
         0xFFFF0101,
         0x00000042, 0xB00F0000,
         0x00000049, 0xB00F0001, 0xB4E40000,
         0x00000049, 0xB00F0002, 0xB4E40000,
         0x0000004C, 0xB00F0003, 0xB4E40000, 0xA0E40000,
         0x00000001, 0x800F0000, 0xB0E40003,
         0x0000FFFF,
     }},
    {"ps.1.1\n"
     "tex t0\n"
     "texm3x3pad t1, t0\n"
     "texm3x3pad t2, t0\n"
     "texm3x3vspec t3, t0\n"
     "mov r0, t3\n",
     {
         0xFFFF0101,
         0x00000042, 0xB00F0000,
         0x00000049, 0xB00F0001, 0xB0E40000,
         0x00000049, 0xB00F0002, 0xB0E40000,
         0x0000004D, 0xB00F0003, 0xB0E40000,
         0x00000001, 0x800F0000, 0xB0E40003,
         0x0000FFFF,
     }},
    {"ps.1.1\n"
     "tex t0\n"
     "texm3x3pad t1, t0\n"
     "texm3x3pad t2, t0\n"
     "texm3x3tex t3, t0\n"
     "mov r0, t3\n",
     {
         0xFFFF0101,
         0x00000042, 0xB00F0000,
         0x00000049, 0xB00F0001, 0xB0E40000,
         0x00000049, 0xB00F0002, 0xB0E40000,
         0x0000004A, 0xB00F0003, 0xB0E40000,
         0x00000001, 0x800F0000, 0xB0E40003,
         0x0000FFFF,
     }},
    {"ps.1.2\n"
     "tex t0\n"
     "texreg2rgb t1, t0\n"
     "texdp3tex t2, t0\n"
     "texdp3 t3, t0\n"
     "dp4 r0, t1, t2\n"
     "cmp r0, r0, t3, c0\n",
     {
         0xFFFF0102,
         0x00000042, 0xB00F0000,
         0x00000052, 0xB00F0001, 0xB0E40000,
         0x00000053, 0xB00F0002, 0xB0E40000,
         0x00000055, 0xB00F0003, 0xB0E40000,
         0x00000009, 0x800F0000, 0xB0E40001, 0xB0E40002,
         0x00000058, 0x800F0000, 0x80E40000, 0xB0E40003, 0xA0E40000,
         0x0000FFFF,
     }},
    {"ps.1.2\n"
     "tex t0\n"
     "texm3x3pad t1, t0\n"
     "texm3x3pad t2, t0\n"
     "texm3x3 t3, t0\n"
     "mov r0, t3\n",
     {
         0xFFFF0102,
         0x00000042, 0xB00F0000,
         0x00000049, 0xB00F0001, 0xB0E40000,
         0x00000049, 0xB00F0002, 0xB0E40000,
         0x00000056, 0xB00F0003, 0xB0E40000,
         0x00000001, 0x800F0000, 0xB0E40003,
         0x0000FFFF,
     }},
    {"ps.1.3\n"
     "tex t0\n"
     "texm3x2pad t1, t0\n"
     "texm3x2depth t2, t0\n"
     "mov r0, t0\n",
     {
         0xFFFF0103,
         0x00000042, 0xB00F0000,
         0x00000047, 0xB00F0001, 0xB0E40000,
         0x00000054, 0xB00F0002, 0xB0E40000,
         0x00000001, 0x800F0000, 0xB0E40000,
         0x0000FFFF,
     }},
    {"ps.1.4\n"
     "def c0, 0.5, 0.5, 0.5, 0.5\n"
     "texcrd r0.rgb, t0.xyw\n"
     "texld r1, t1_dz.xyz\n"
     "texld r2, t2_dw.xyw\n"
     "mov r5, c0\n"
     "bem r3.rg, c0, r0\n"
     "phase\n"
     "texld r3, r3\n"
     "texdepth r5\n"
     "texkill r1\n"
     "mul_x8 r0, r1, v0\n"
     "mad_d8 r0, r0, r2_x2, -r3_x2\n"
     "cnd r0, r0, r1, r2\n"
     "cmp_sat r0.rgb, r0, r1.r, r2.g\n"
     "+add r0.a, r1.b, -c0.a\n",
     {
         0xFFFF0104,
         0x00000051, 0xA00F0000, 0x3F000000, 0x3F000000, 0x3F000000, 0x3F000000,
         0x00000040, 0x80070000, 0xB0F40000,
         0x00000042, 0x800F0001, 0xB9A40001,
         0x00000042, 0x800F0002, 0xBAF40002,
         0x00000001, 0x800F0005, 0xA0E40000,
         0x00000059, 0x80030003, 0xA0E40000, 0x80E40000,
         0x0000FFFD,
         0x00000042, 0x800F0003, 0x80E40003,
         0x00000057, 0x800F0005,
         0x00000041, 0x800F0001,
         0x00000005, 0x830F0000, 0x80E40001, 0x90E40000,
         0x00000004, 0x8D0F0000, 0x80E40000, 0x87E40002, 0x88E40003,
         0x00000050, 0x800F0000, 0x80E40000, 0x80E40001, 0x80E40002,
         0x00000058, 0x80170000, 0x80E40000, 0x80000001, 0x80550002,
         0x40000002, 0x80080000, 0x80AA0001, 0xA1FF0000,
         0x0000FFFF,
     }},
    {"ps.1.0\n"
     "tex t0\n"
     "mov r0, t0\n",
     {0xFFFF0100, 0x00000042, 0xB00F0000, 0x00000001, 0x800F0000, 0xB0E40000, 0x0000FFFF}},
};

std::string Hex(const std::vector<uint32_t>& tokens)
{
    std::string s;
    char word[16];
    for (uint32_t t : tokens) {
        std::snprintf(word, sizeof word, "%08X ", t);
        s += word;
    }
    return s;
}

class ShaderBytecode : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeviceParams params;
        params.width = 8;
        params.height = 8;
        ASSERT_TRUE(device.Create(params));
    }
    SoftDevice device;
};

TEST_F(ShaderBytecode, AssemblerWritesTheStandardTokens)
{
    ShaderAsmResult r;
    ASSERT_TRUE(AssembleShader(kVertexProgram.text, std::strlen(kVertexProgram.text), &r)) << r.error;
    EXPECT_EQ(Hex(r.code), Hex(kVertexProgram.tokens));
    for (const Program& p : kPixelPrograms) {
        ASSERT_TRUE(AssembleShader(p.text, std::strlen(p.text), &r)) << r.error << "\n" << p.text;
        EXPECT_EQ(Hex(r.code), Hex(p.tokens)) << p.text;
    }
}

TEST_F(ShaderBytecode, DeviceTakesTheStandardTokens)
{
    const uint32_t declaration[] = {DeclStream(0), DeclReg(0, DeclFloat4), DeclReg(1, DeclFloat4), kDeclEnd};
    uint32_t handle = 0;
    EXPECT_EQ(device.CreateVertexShader(declaration, kVertexProgram.tokens.data(),
                                        static_cast<uint32_t>(kVertexProgram.tokens.size()), &handle, 0),
              kGfxOk);
    for (const Program& p : kPixelPrograms) {
        handle = 0;
        EXPECT_EQ(device.CreatePixelShader(p.tokens.data(), static_cast<uint32_t>(p.tokens.size()), &handle), kGfxOk)
            << p.text;
        EXPECT_NE(handle, 0u);
    }
}

TEST_F(ShaderBytecode, OperandCountsComeFromTheOpcode)
{
    // The counts of other shader versions' encoding in bits 24-27 are not
    // part of version 1 code.
    std::vector<uint32_t> counted = kPixelPrograms[2].tokens;
    counted[1] |= 1u << 24;
    uint32_t handle = 0;
    EXPECT_NE(device.CreatePixelShader(counted.data(), static_cast<uint32_t>(counted.size()), &handle), kGfxOk);
    const uint32_t declaration[] = {DeclStream(0), DeclReg(0, DeclFloat4), DeclReg(1, DeclFloat4), kDeclEnd};
    counted = kVertexProgram.tokens;
    counted[8] |= 2u << 24;   // mov a0.x, v1.x
    EXPECT_NE(device.CreateVertexShader(declaration, counted.data(), static_cast<uint32_t>(counted.size()), &handle, 0),
              kGfxOk);
    // nop takes no parameter: a program of three of them and a matrix macro.
    const std::vector<uint32_t> nops = {0xFFFE0101, 0, 0, 0, 0x00000014, 0xC00F0000, 0x90E40000, 0xA0E40000,
                                        0x0000FFFF};
    EXPECT_EQ(device.CreateVertexShader(declaration, nops.data(), static_cast<uint32_t>(nops.size()), &handle, 0),
              kGfxOk);
    // A comment block is skipped by length.
    const std::vector<uint32_t> commented = {0xFFFF0101, 0x0002FFFE, 0x00000001, 0x800F0000, 0x00000001,
                                             0x800F0000, 0x90E40000, 0x0000FFFF};
    EXPECT_EQ(device.CreatePixelShader(commented.data(), static_cast<uint32_t>(commented.size()), &handle), kGfxOk);
}

TEST_F(ShaderBytecode, SpacedComplementAndWholeFogMask)
{
    auto assemble = [](const char* text, ShaderAsmResult* r) { return AssembleShader(text, std::strlen(text), r); };
    ShaderAsmResult spaced, tight;
    ASSERT_TRUE(assemble("ps.1.1\ntex t0\nmov r0, 1 - t0\n", &spaced)) << spaced.error;
    ASSERT_TRUE(assemble("ps.1.1\ntex t0\nmov r0, 1-t0\n", &tight)) << tight.error;
    EXPECT_EQ(spaced.code, tight.code);
    EXPECT_EQ(spaced.code[5], 0xB6E40000u);
    // Named by its x, the fog write keeps that mask.
    ShaderAsmResult fogX;
    ASSERT_TRUE(assemble("vs.1.1\nmov oPos, v0\nmov oFog.x, v0.x\n", &fogX)) << fogX.error;
    EXPECT_EQ(fogX.code[5], 0xC0010001u);
}

TEST_F(ShaderBytecode, LongStreamsAndProgramsAreCapped)
{
    // 129 slots of moves: loaded from tokens they are refused as the
    // assembler refuses the text.
    std::vector<uint32_t> code = {0xFFFE0101};
    for (int i = 0; i < 129; ++i) {
        code.insert(code.end(), {0x00000001, 0xC00F0000, 0x90E40000});
    }
    code.push_back(0x0000FFFF);
    VertexProgram program;
    std::string why;
    EXPECT_FALSE(program.Load(code.data(), code.size(), &why));
    EXPECT_NE(why.find("128"), std::string::npos) << why;
    code.erase(code.begin() + 1, code.begin() + 4);
    EXPECT_TRUE(program.Load(code.data(), code.size(), &why)) << why;

    // A stream whose end lies past the cap is not read to its end.
    std::vector<uint32_t> huge = {0xFFFF0101, 0x7FFFFFFE};
    huge.resize(shader::kMaxCodeTokens + 8, 0);
    huge.insert(huge.end(), {0x00000001, 0x800F0000, 0x90E40000, 0x0000FFFF});
    EXPECT_FALSE(ValidatePixelShaderCode(huge.data(), huge.size(), &why));
    EXPECT_NE(why.find(std::to_string(shader::kMaxCodeTokens)), std::string::npos) << why;
    huge[0] = 0xFFFE0101;
    EXPECT_FALSE(program.Load(huge.data(), huge.size(), &why));
    EXPECT_NE(why.find(std::to_string(shader::kMaxCodeTokens)), std::string::npos) << why;
}

}  // namespace
