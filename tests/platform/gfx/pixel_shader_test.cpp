// Pixel shader programs run over one pixel: every instruction, modifier and
// register of versions 1.0 to 1.4, with values worked out by hand, and the
// rules a program must keep.
#include "platform/gfx/pixel_shader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"

namespace {

using namespace platform;

std::vector<uint32_t> Code(const std::string& text)
{
    ShaderAsmResult r;
    EXPECT_TRUE(AssembleShader(text.c_str(), text.size(), &r)) << r.error << "\n" << text;
    return r.code;
}

// Texel (x, y) of the test textures: red 64 x, green 64 y, blue 200 - 10 x,
// alpha 255 - 16 y; 4 x 4 texels.
uint32_t Texel(int x, int y)
{
    return static_cast<uint32_t>(255 - 16 * y) << 24 | static_cast<uint32_t>(64 * x) << 16 |
           static_cast<uint32_t>(64 * y) << 8 | static_cast<uint32_t>(200 - 10 * x);
}

struct Rig {
    std::vector<uint32_t> texels;
    PixelProgram program;
    PixelShaderSnap snap;
    PixelContext ctx;
    float out[4] = {};

    Rig()
    {
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                texels.push_back(Texel(x, y));
            }
        }
        for (StageSnap& st : snap.stage) {
            st.tex.texels = texels.data();
            st.tex.width = 4;
            st.tex.height = 4;
        }
        ctx.snap = &snap;
    }
    // Loads the text; false when the device's loader refuses the code.
    bool Load(const std::string& text)
    {
        const std::vector<uint32_t> code = Code(text);
        std::string why;
        if (!program.Load(code.data(), code.size(), &why)) {
            ADD_FAILURE() << why << "\n" << text;
            return false;
        }
        program.ApplyDefinitions(snap.constants);
        return true;
    }
    // Runs; false when the pixel is dropped.
    bool Run(const std::string& text)
    {
        if (!Load(text)) {
            return false;
        }
        return program.Run(ctx, out);
    }
    void V(int n, float r, float g, float b, float a) { Set(ctx.color[n], r, g, b, a); }
    void C(int n, float r, float g, float b, float a) { Set(snap.constants[n], r, g, b, a); }
    void T(int n, float u, float v, float w, float q) { Set(ctx.coord[n], u, v, w, q); }
    static void Set(float* p, float a, float b, float c, float d) { p[0] = a, p[1] = b, p[2] = c, p[3] = d; }
};

void ExpectOut(const Rig& rig, float r, float g, float b, float a, const std::string& what)
{
    EXPECT_NEAR(rig.out[0], r, 1e-5f) << what << " red";
    EXPECT_NEAR(rig.out[1], g, 1e-5f) << what << " green";
    EXPECT_NEAR(rig.out[2], b, 1e-5f) << what << " blue";
    EXPECT_NEAR(rig.out[3], a, 1e-5f) << what << " alpha";
}

// The texel as the shader reads it.
void ExpectTexel(const Rig& rig, int x, int y, const std::string& what)
{
    const uint32_t t = Texel(x, y);
    ExpectOut(rig, static_cast<float>((t >> 16) & 0xFF) / 255.0f, static_cast<float>((t >> 8) & 0xFF) / 255.0f,
              static_cast<float>(t & 0xFF) / 255.0f, static_cast<float>(t >> 24) / 255.0f, what);
}

struct Case {
    const char* body;
    float r, g, b, a;
};

TEST(PixelProgram, ArithmeticWithSourceAndInstructionModifiers)
{
    // v0 (0.2, 0.4, 0.6, 0.8), v1 (1, 0.5, 0.25, 0), c0 (0.5, -0.5, 0.25, 1),
    // c1 (0.1, 0.2, 0.3, 0.4), c2 0.5 everywhere.
    const Case cases[] = {
        {"mov r0, v0", 0.2f, 0.4f, 0.6f, 0.8f},
        {"add r0, v0, c1", 0.3f, 0.6f, 0.9f, 1.0f},
        {"sub r0, v1, v0", 0.8f, 0.1f, 0.0f, 0.0f},
        {"mul r0, v0, v1", 0.2f, 0.2f, 0.15f, 0.0f},
        {"mad r0, v0, v1, c1", 0.3f, 0.4f, 0.45f, 0.4f},
        {"lrp r0, v0, v1, c1", 0.28f, 0.32f, 0.27f, 0.08f},
        {"dp3 r0, v0, v1", 0.55f, 0.55f, 0.55f, 0.55f},
        {"cnd r0, v0, v1, c1", 0.1f, 0.2f, 0.25f, 0.0f},
        {"mov r0, -c0", 0.0f, 0.5f, 0.0f, 0.0f},
        {"mov r0, v0_bias", 0.0f, 0.0f, 0.1f, 0.3f},
        {"mov r0, -v0_bias", 0.3f, 0.1f, 0.0f, 0.0f},
        {"mov r0, v1_bx2", 1.0f, 0.0f, 0.0f, 0.0f},
        {"mov r0, -v1_bx2", 0.0f, 0.0f, 0.5f, 1.0f},
        {"mov r0, 1 - v0", 0.8f, 0.6f, 0.4f, 0.2f},
        {"mul_x2 r0, v0, v1", 0.4f, 0.4f, 0.3f, 0.0f},
        {"mul_x4 r0, v0, v1", 0.8f, 0.8f, 0.6f, 0.0f},
        {"mov_d2 r0, v0", 0.1f, 0.2f, 0.3f, 0.4f},
        {"add_sat r0, v0, v0", 0.4f, 0.8f, 1.0f, 1.0f},
        // Values past 1 are kept to 1 in a register of these versions.
        {"add r1, v0, v0\nmul r0, r1, c2", 0.2f, 0.4f, 0.5f, 0.5f},
        {"mov r0, v0.a", 0.8f, 0.8f, 0.8f, 0.8f},
        {"mov r0, v0.b", 0.6f, 0.6f, 0.6f, 0.6f},
        {"mov r0, c1\nmov r0.rgb, v0", 0.2f, 0.4f, 0.6f, 0.4f},
        // A co-issued pair reads what the registers held before the pair.
        {"mov r0, c1\nmov r0.rgb, v0\n+mov r0.a, r0.r", 0.2f, 0.4f, 0.6f, 0.1f},
        {"mov r0, c1\nmov r0.a, v0\n+mov r0.rgb, r0.a", 0.4f, 0.4f, 0.4f, 0.8f},
        {"nop\nmov r0, v1", 1.0f, 0.5f, 0.25f, 0.0f},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.V(0, 0.2f, 0.4f, 0.6f, 0.8f);
        rig.V(1, 1.0f, 0.5f, 0.25f, 0.0f);
        rig.C(0, 0.5f, -0.5f, 0.25f, 1.0f);
        rig.C(1, 0.1f, 0.2f, 0.3f, 0.4f);
        rig.C(2, 0.5f, 0.5f, 0.5f, 0.5f);
        ASSERT_TRUE(rig.Run(std::string("ps.1.1\n") + c.body + "\n")) << c.body;
        ExpectOut(rig, c.r, c.g, c.b, c.a, c.body);
    }
    // Versions 1.2 and 1.3 add dp4 and cmp; def sets a constant.
    const Case later[] = {
        {"dp4 r0, v0, c1", 0.6f, 0.6f, 0.6f, 0.6f},
        {"cmp r0, c0, v0, v1", 0.2f, 0.5f, 0.6f, 0.8f},
        {"def c3, 0.75, 0.5, 0.25, 2\nmov r0, c3", 0.75f, 0.5f, 0.25f, 1.0f},
    };
    for (const Case& c : later) {
        Rig rig;
        rig.V(0, 0.2f, 0.4f, 0.6f, 0.8f);
        rig.V(1, 1.0f, 0.5f, 0.25f, 0.0f);
        rig.C(0, 0.5f, -0.5f, 0.25f, 1.0f);
        rig.C(1, 0.1f, 0.2f, 0.3f, 0.4f);
        ASSERT_TRUE(rig.Run(std::string("ps.1.3\n") + c.body + "\n")) << c.body;
        ExpectOut(rig, c.r, c.g, c.b, c.a, c.body);
    }
}

TEST(PixelProgram, Version14RangeAndModifiers)
{
    // v0 (0.2, 0.4, 0.6, 0.8); c2 0.125, c3 1, c4 0.0625.
    const Case cases[] = {
        // 1.4 keeps values to -8 .. 8: 0.8 .. 6.4 survive and come back down.
        {"add r1, v0, v0\nadd r1, r1, r1\nadd r1, r1, r1\nmul r0, r1, c2", 0.2f, 0.4f, 0.6f, 0.8f},
        {"add_x8 r1, c3, c3\nmul r0, r1, c4", 0.5f, 0.5f, 0.5f, 0.5f},
        {"mul_x8 r0, v0, c2", 0.2f, 0.4f, 0.6f, 0.8f},
        {"mov_d8 r0, v0_x2", 0.05f, 0.1f, 0.15f, 0.2f},
        {"mov_d4 r0, -v0_x2", 0.0f, 0.0f, 0.0f, 0.0f},
        {"mov r1, -v0_x2\nmov_d4 r0, -r1", 0.1f, 0.2f, 0.3f, 0.4f},
        {"mov r0, v0.g", 0.4f, 0.4f, 0.4f, 0.4f},
        {"mov r0, v0.r", 0.2f, 0.2f, 0.2f, 0.2f},
        {"mov r0, v0.abgr", 0.8f, 0.6f, 0.4f, 0.2f},
        {"mov r5, v0\nmov r0.ga, r5", 0.0f, 0.4f, 0.0f, 0.8f},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.V(0, 0.2f, 0.4f, 0.6f, 0.8f);
        rig.C(2, 0.125f, 0.125f, 0.125f, 0.125f);
        rig.C(3, 1.0f, 1.0f, 1.0f, 1.0f);
        rig.C(4, 0.0625f, 0.0625f, 0.0625f, 0.0625f);
        ASSERT_TRUE(rig.Run(std::string("ps.1.4\n") + c.body + "\n")) << c.body;
        ExpectOut(rig, c.r, c.g, c.b, c.a, c.body);
    }
}

// Coordinates at texel (x, y)'s centre of the 4 x 4 textures.
float Centre(int i)
{
    return (static_cast<float>(i) + 0.5f) / 4.0f;
}

TEST(PixelProgram, TextureInstructionsOfVersions10To13)
{
    {
        Rig rig;
        rig.T(0, Centre(1), Centre(2), 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.0\ntex t0\nmov r0, t0\n"));
        ExpectTexel(rig, 1, 2, "tex");
    }
    {
        // texcoord: the coordinates, each kept to 0 .. 1, alpha 1.
        Rig rig;
        rig.T(1, 1.5f, -0.25f, 0.5f, 9.0f);
        ASSERT_TRUE(rig.Run("ps.1.1\ntexcoord t1\nmov r0, t1\n"));
        ExpectOut(rig, 1.0f, 0.0f, 0.5f, 1.0f, "texcoord");
    }
    {
        // texkill looks at u, v, w of its coordinates.
        Rig rig;
        rig.V(0, 1, 1, 1, 1);
        rig.T(2, 0.1f, 0.2f, -0.01f, 1);
        EXPECT_FALSE(rig.Run("ps.1.1\ntexkill t2\nmov r0, v0\n"));
        rig.T(2, 0.0f, 0.0f, 0.0f, -1.0f);
        EXPECT_TRUE(rig.program.Run(rig.ctx, rig.out));
    }
    {
        // texbem: stage 0's texel (3, 3) (red 192, green 192) through the
        // matrix (0.5, 0, 0, 0.25) moves stage 1's read from texel (0, 1)
        // by (0.376, 0.188) to texel (2, 2).
        Rig rig;
        rig.snap.bump[1].matrix[0] = 0.5f;
        rig.snap.bump[1].matrix[3] = 0.25f;
        rig.T(0, Centre(3), Centre(3), 0, 1);
        rig.T(1, Centre(0), Centre(1), 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.1\ntex t0\ntexbem t1, t0\nmov r0, t1\n"));
        ExpectTexel(rig, 2, 2, "texbem");
        // texbeml scales the colour by blue x scale + offset, kept to 0 .. 1:
        // 0.6667 x 0.75 + 0 = 0.5.
        Rig lum;
        lum.snap.bump[1].matrix[0] = 0.5f;
        lum.snap.bump[1].matrix[3] = 0.25f;
        lum.snap.bump[1].scale = 0.75f;
        lum.T(0, Centre(3), Centre(3), 0, 1);
        lum.T(1, Centre(0), Centre(1), 0, 1);
        ASSERT_TRUE(lum.Run("ps.1.1\ntex t0\ntexbeml t1, t0\nmov r0, t1\n"));
        const float l = (170.0f / 255.0f) * 0.75f;
        ExpectOut(lum, 128.0f / 255.0f * l, 128.0f / 255.0f * l, 180.0f / 255.0f * l, 223.0f / 255.0f, "texbeml");
    }
    {
        // texreg2ar reads at (alpha, red), texreg2gb at (green, blue):
        // texel (2, 1) has red 128, green 64, blue 180, alpha 239.
        Rig rig;
        rig.T(0, Centre(2), Centre(1), 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.1\ntex t0\ntexreg2ar t1, t0\nmov r0, t1\n"));
        ExpectTexel(rig, 3, 2, "texreg2ar");
        ASSERT_TRUE(rig.Run("ps.1.1\ntex t0\ntexreg2gb t1, t0\nmov r0, t1\n"));
        ExpectTexel(rig, 1, 2, "texreg2gb");
        ASSERT_TRUE(rig.Run("ps.1.2\ntex t0\ntexreg2rgb t1, t0\nmov r0, t1\n"));
        ExpectTexel(rig, 2, 1, "texreg2rgb");
    }
    // The matrix rows: stage 0's texel (1, 0) is red 64, green 0, blue 190:
    // with _bx2, n = (-0.498, -1, 0.490).
    const float n[3] = {2.0f * (64.0f / 255.0f - 0.5f), -1.0f, 2.0f * (190.0f / 255.0f - 0.5f)};
    {
        // Rows (-0.25, 0, 0) and (0, -0.6, 0): u = 0.1245, v = 0.6.
        Rig rig;
        rig.T(0, Centre(1), Centre(0), 0, 1);
        rig.T(1, -0.25f, 0, 0, 1);
        rig.T(2, 0, -0.6f, 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.1\ntex t0\ntexm3x2pad t1, t0_bx2\ntexm3x2tex t2, t0_bx2\nmov r0, t2\n"));
        EXPECT_NEAR(-0.25f * n[0], 0.1245f, 1e-3f);
        ExpectTexel(rig, 0, 2, "texm3x2tex");
        // The depth is the first row over the second: 0.1245 / 0.6.
        rig.ctx.depth = 0.9f;
        ASSERT_TRUE(rig.Run("ps.1.3\ntex t0\ntexm3x2pad t1, t0_bx2\ntexm3x2depth t2, t0_bx2\nmov r0, t0\n"));
        EXPECT_TRUE(rig.program.WritesDepth());
        EXPECT_NEAR(rig.ctx.depth, -0.25f * n[0] / 0.6f, 1e-6f);
    }
    {
        // Three rows pick (u, v, w) = (0.1245, 0.6, 0.0490).
        Rig rig;
        rig.T(0, Centre(1), Centre(0), 0, 1);
        rig.T(1, -0.25f, 0, 0, 0.5f);
        rig.T(2, 0, -0.6f, 0, 0.25f);
        rig.T(3, 0, 0, 0.1f, 0.125f);
        const std::string pads = "tex t0\ntexm3x3pad t1, t0_bx2\ntexm3x3pad t2, t0_bx2\n";
        ASSERT_TRUE(rig.Run("ps.1.1\n" + pads + "texm3x3tex t3, t0_bx2\nmov r0, t3\n"));
        ExpectTexel(rig, 0, 2, "texm3x3tex");
        ASSERT_TRUE(rig.Run("ps.1.2\n" + pads + "texm3x3 t3, t0_bx2\nmov r0, t3\n"));
        ExpectOut(rig, -0.25f * n[0], 0.6f, 0.1f * n[2], 1.0f, "texm3x3");
        // Reflections of the eye vector about N: from c0, or from the
        // coordinates' fourth components (0.5, 0.25, 0.125).
        auto reflect = [&](const float* e, int* x, int* y) {
            const float nv[3] = {-0.25f * n[0], 0.6f, 0.1f * n[2]};
            const float nn = nv[0] * nv[0] + nv[1] * nv[1] + nv[2] * nv[2];
            const float ne = nv[0] * e[0] + nv[1] * e[1] + nv[2] * e[2];
            *x = static_cast<int>(std::floor((2.0f * nv[0] * ne / nn - e[0]) * 4.0f)) & 3;
            *y = static_cast<int>(std::floor((2.0f * nv[1] * ne / nn - e[1]) * 4.0f)) & 3;
        };
        rig.C(0, 0.1f, 0.2f, 0.9f, 0);
        ASSERT_TRUE(rig.Run("ps.1.1\n" + pads + "texm3x3spec t3, t0_bx2, c0\nmov r0, t3\n"));
        int x = 0, y = 0;
        const float e0[3] = {0.1f, 0.2f, 0.9f};
        reflect(e0, &x, &y);
        ExpectTexel(rig, x, y, "texm3x3spec");
        ASSERT_TRUE(rig.Run("ps.1.1\n" + pads + "texm3x3vspec t3, t0_bx2\nmov r0, t3\n"));
        const float e1[3] = {0.5f, 0.25f, 0.125f};
        reflect(e1, &x, &y);
        ExpectTexel(rig, x, y, "texm3x3vspec");
    }
    {
        // texdp3tex reads at (coordinates . t0, 0); texdp3 gives the dot.
        Rig rig;
        rig.T(0, Centre(2), Centre(1), 0, 1);   // red 128, green 64, blue 180
        rig.T(1, 0.5f, 1.0f, 0.25f, 1);
        ASSERT_TRUE(rig.Run("ps.1.2\ntex t0\ntexdp3tex t1, t0\nmov r0, t1\n"));
        const float dot = 0.5f * 128.0f / 255.0f + 64.0f / 255.0f + 0.25f * 180.0f / 255.0f;
        ExpectTexel(rig, static_cast<int>(dot * 4.0f) & 3, 0, "texdp3tex");
        ASSERT_TRUE(rig.Run("ps.1.2\ntex t0\ntexdp3 t1, t0\nmov r0, t1\n"));
        ExpectOut(rig, dot, dot, dot, dot, "texdp3");
    }
}

TEST(PixelProgram, Version14TextureInstructionsAndPhases)
{
    {
        // texcrd with the .xyw selector, and divided by w or z.
        Rig rig;
        rig.T(0, 0.25f, 0.5f, 0.75f, 0.125f);
        rig.C(0, 0.125f, 0.125f, 1.0f, 1.0f);
        ASSERT_TRUE(rig.Run("ps.1.4\ntexcrd r0.rgb, t0.xyw\nmov r0.a, c0\n"));
        ExpectOut(rig, 0.25f, 0.5f, 0.125f, 1.0f, "texcrd .xyw");
        ASSERT_TRUE(rig.Run("ps.1.4\ntexcrd r1.rgb, t0_dw.xyw\nmul r0, r1, c0\n"));
        ExpectOut(rig, 0.25f, 0.5f, 0.125f, 0.0f, "texcrd _dw");
        ASSERT_TRUE(rig.Run("ps.1.4\ntexcrd r0.rgb, t0_dz.xyz\nmov r0.a, c0\n"));
        ExpectOut(rig, 0.25f / 0.75f, 0.5f / 0.75f, 0.75f, 1.0f, "texcrd _dz");
    }
    {
        // texld samples the stage of its destination's number, here at
        // coordinates divided by w.
        Rig rig;
        rig.T(4, Centre(3) * 2.0f, Centre(1) * 2.0f, 0, 2.0f);
        ASSERT_TRUE(rig.Run("ps.1.4\ntexld r2, t4_dw.xyw\nmov r0, r2\n"));
        ExpectTexel(rig, 3, 1, "texld _dw");
        EXPECT_EQ(rig.program.GetStageMask(), 1u << 2);
        EXPECT_EQ(rig.program.GetCoordMask(), 1u << 4);
    }
    {
        // A dependent read: the second phase reads at what the first read.
        // Stage 0's texel (1, 2) is red 64, green 128: stage 1 is read at
        // (0.251, 0.502), texel (1, 2).
        Rig rig;
        rig.T(0, Centre(1), Centre(2), 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.4\ntexld r0, t0\nphase\ntexld r1, r0\nmov r0, r1\n"));
        ExpectTexel(rig, 1, 2, "dependent texld");
    }
    {
        // bem moves r0's coordinates by r1 through stage 2's matrix, and the
        // second phase reads stage 2 there.
        Rig rig;
        rig.snap.bump[2].matrix[0] = 1.0f;
        rig.snap.bump[2].matrix[1] = 0.5f;
        rig.snap.bump[2].matrix[3] = 1.0f;
        rig.T(0, Centre(0), Centre(0), 0, 1);
        rig.T(1, 0.25f, 0.25f, 0, 1);
        ASSERT_TRUE(rig.Run("ps.1.4\ntexcrd r0.rgb, t0\ntexcrd r1.rgb, t1\nbem r2.rg, r0, r1\nphase\n"
                            "texld r2, r2\nmov r0, r2\n"));
        ExpectTexel(rig, 1, 2, "bem");
    }
    {
        // texkill on coordinates and on a register; texdepth from r5.r / r5.g.
        Rig rig;
        rig.V(0, 1, 1, 1, 1);
        rig.T(0, -0.5f, 0.5f, 0, 1);
        EXPECT_FALSE(rig.Run("ps.1.4\ntexkill t0\nmov r0, v0\n"));
        EXPECT_FALSE(rig.Run("ps.1.4\ntexcrd r1.rgb, t0\nphase\ntexkill r1\nmov r0, v0\n"));
        rig.T(0, 0.25f, 0.5f, 0, 1);
        EXPECT_TRUE(rig.Run("ps.1.4\ntexkill t0\nmov r0, v0\n"));
        ASSERT_TRUE(rig.Run("ps.1.4\ntexcrd r5.rgb, t0\nphase\ntexdepth r5\nmov r0, v0\n"));
        EXPECT_TRUE(rig.program.WritesDepth());
        EXPECT_FLOAT_EQ(rig.ctx.depth, 0.5f);
        rig.T(0, 0.25f, 0.0f, 0, 1);
        ASSERT_TRUE(rig.program.Run(rig.ctx, rig.out));
        EXPECT_FLOAT_EQ(rig.ctx.depth, 1.0f);
    }
}

TEST(PixelProgram, RulesRefuseWhatTheInterpreterDoesNotDefine)
{
    const char* bad[] = {
        "ps.1.1\ntex t1\ntex t1\nmov r0, t1\n",                           // t1 written twice
        "ps.1.1\ntex t0\ntexbem t0, t1\nmov r0, t0\n",                    // source not below the destination
        "ps.1.1\ntexbem t1, t0\nmov r0, t1\n",                            // t0 never written
        "ps.1.1\ntex t0\ntexm3x2tex t2, t0\nmov r0, t2\n",                // no pad row
        "ps.1.1\ntex t0\ntexm3x2pad t1, t0\nmov r0, t0\n",                // run cut short
        "ps.1.1\ntex t0\ntexm3x3pad t1, t0\ntexm3x3tex t2, t0\nmov r0, t2\n",
        "ps.1.1\ntex t0\ntexm3x2pad t1, t0\ntexm3x2tex t3, t0\nmov r0, t3\n",
        "ps.1.1\ntex t0\ntex t1\ntexm3x2pad t2, t0\ntexm3x2tex t3, t1\nmov r0, t3\n",
        "ps.1.1\ntex t0\ntexbem t1, t0.a\nmov r0, t1\n",                  // swizzle on a texture source
        "ps.1.1\ntex t0\ntexbem t1, t0_bx2\nmov r0, t1\n",
        "ps.1.1\ntex t0.rgb\nmov r0, t0\n",                               // part of a t register
        "ps.1.1\nmul_x8 r0, v0, v0\n",                                    // a 1.4 shift
        "ps.1.4\ntexld r0, r1\nmov r0, r0\n",                             // dependent read in phase 1
        "ps.1.4\ntexdepth r5\nmov r0, v0\n",
        "ps.1.4\ntexcrd r0.rgb, t0\nphase\ntexdepth r4\nmov r0, v0\n",
        "ps.1.4\nmov r0, r1_dz\n",                                        // _dz outside texld
        "ps.1.4\ntexcrd r0.rgb, r1\nmov r0, r0\n",                        // texcrd reads t
        "ps.1.4\ntexcrd r0.rgb, t0\nphase\nbem r1.rg, r0, r0\nmov r0, r1\n",   // bem after the phase
        "ps.1.4\ntexcrd r0.rgb, t0\nbem r1.rgb, r0, r0\nmov r0, r1\n",    // bem writes .rg
        "ps.1.4\nmov r0, v0\ntexld r1, t0\nmov r0, r1\n",                 // texture after arithmetic
    };
    for (const char* text : bad) {
        ShaderAsmResult r;
        EXPECT_FALSE(AssembleShader(text, std::strlen(text), &r)) << text;
        EXPECT_FALSE(r.error.empty()) << text;
    }
    // The loader holds hand-made code to the same rules: t1 written twice.
    const uint32_t twice[] = {0xFFFF0101, 0x00000042, 0xB00F0001, 0x00000042, 0xB00F0001,
                              0x00000001, 0x800F0000, 0xB0E40001, 0x0000FFFF};
    PixelProgram program;
    std::string why;
    EXPECT_FALSE(program.Load(twice, 9, &why));
    EXPECT_FALSE(program.IsLoaded());
    EXPECT_NE(why.find("once"), std::string::npos) << why;
    // A shift of 5 is not one of the encoding's.
    const uint32_t shifted[] = {0xFFFF0101, 0x00000001, 0x850F0000, 0x90E40000, 0x0000FFFF};
    EXPECT_FALSE(program.Load(shifted, 5, &why));
}

}  // namespace
