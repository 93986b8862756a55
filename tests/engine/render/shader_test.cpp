#include "engine/render/shader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/device.h"
#include "engine/core/matrix.h"
#include "platform/gfx/vertex_shader.h"
#include "platform/window/window.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

class ShaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDevice(32, 24);
        ASSERT_TRUE(OrvaShader::Initialize());
    }
    void TearDown() override
    {
        OrvaShader::Destroy();
        OrvaDevice::Destroy();
    }
    static std::string Fragments(OrvaVertexShader* s, const OrvaShaderDesc& d)
    {
        char buffer[OrvaVertexShader::kFragmentBytes];
        std::string text;
        s->GetTransformText(buffer, sizeof buffer, &d);
        text += buffer;
        s->GetColorText(buffer, sizeof buffer, &d);
        text += buffer;
        s->GetTextureText(buffer, sizeof buffer, &d);
        text += buffer;
        s->GetFogText(buffer, sizeof buffer, &d);
        text += buffer;
        return text;
    }
    // The instructions of a text, comments and blank lines left out.
    static std::vector<std::string> Instructions(const std::string& text)
    {
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string line = text.substr(pos, end - pos);
            if (!line.empty() && line[0] != ';') {
                lines.push_back(line);
            }
            pos = end + 1;
        }
        return lines;
    }
};

TEST_F(ShaderTest, StaticDiffuseTexturedProgram)
{
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetHandle(), OrvaShader::kNoHandle);
    EXPECT_EQ(s->GetBuffer(), nullptr);
    OrvaShaderDesc d;
    d.transform = 1;
    d.color = 0x400;
    d.texture = 0x10000;
    d.fog = 0x10000000;
    const std::vector<std::string> expected = {
        "vs.1.1", "mov r2, v1", "mad r0, r2, c[12].yyyw, v0", "m4x4 r1, r0, c[20]", "mov oPos, r1",
        "mov oD0.rgba, c[11].rgba", "add oT0.xy, v7.xy, c[1].xy",
    };
    EXPECT_EQ(Instructions(Fragments(s, d)), expected);
    ASSERT_TRUE(s->CreateFromDesc(&d));
    EXPECT_EQ(d.flags, 0x10010401u);
    EXPECT_NE(s->GetHandle(), OrvaShader::kNoHandle);
    ASSERT_NE(s->GetBuffer(), nullptr);
    EXPECT_EQ(s->GetBuffer()->front(), 0xFFFE0101u);
    EXPECT_EQ(OrvaDevice::SetVertexShader(s->GetHandle()), 1);
    EXPECT_EQ(OrvaShader::GetCount(), 1);
    EXPECT_EQ(s->Release(), 0);
    EXPECT_EQ(OrvaShader::GetCount(), 0);
}

TEST_F(ShaderTest, DeclarationsOfTheFourTransforms)
{
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    const uint32_t strides[] = {36, 60, 52, 76};
    const uint32_t transforms[] = {1, 2, 4, 8};
    for (int i = 0; i < 4; ++i) {
        OrvaShaderDesc d;
        d.transform = transforms[i];
        platform::VertexDeclaration decl;
        ASSERT_TRUE(platform::ParseVertexDeclaration(s->GetDeclaration(&d), 64, &decl, nullptr));
        EXPECT_EQ(decl.stride, strides[i]) << transforms[i];
    }
    OrvaShaderDesc d;
    d.transform = 8;
    platform::VertexDeclaration decl;
    ASSERT_TRUE(platform::ParseVertexDeclaration(s->GetDeclaration(&d), 64, &decl, nullptr));
    ASSERT_EQ(decl.elements.size(), 8u);
    for (uint32_t r = 0; r < 8; ++r) {
        EXPECT_EQ(decl.elements[r].reg, r);
        const uint32_t type = r < 5 ? platform::DeclFloat3 : (r < 7 ? platform::DeclColor : platform::DeclFloat2);
        EXPECT_EQ(decl.elements[r].type, type) << r;
    }
    for (uint32_t bad : {0u, 3u, 16u}) {
        d.transform = bad;
        EXPECT_EQ(s->GetDeclaration(&d), nullptr);
    }
    EXPECT_EQ(s->GetDeclaration(nullptr), nullptr);
}

TEST_F(ShaderTest, EveryDescriptionMakesADeviceShader)
{
    // Each fragment must assemble with every other: register use, read
    // ports and the slot limit are checked by the assembler and the device.
    const uint32_t transforms[] = {1, 2, 4, 8};
    const uint32_t colors[] = {0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000};
    const uint32_t fogs[] = {0x10000000, 0x20000000, 0x40000000};
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    int made = 0;
    for (uint32_t t : transforms) {
        for (uint32_t c : colors) {
            for (uint32_t tex = 0x10000; tex <= 0x4000000; tex <<= 1) {
                for (uint32_t f : fogs) {
                    OrvaShaderDesc d{t, c, tex, f, 0};
                    ASSERT_TRUE(s->CreateFromDesc(&d)) << std::hex << t << " " << c << " " << tex << " " << f;
                    ++made;
                }
            }
        }
    }
    EXPECT_EQ(made, 4 * 6 * 11 * 3);
    // Remaking on one object deletes the shader before: only one is alive,
    // so its slot comes back each time.
    const uint32_t last = s->GetHandle();
    OrvaShaderDesc d{1, 0x100, 0x10000, 0x10000000, 0};
    ASSERT_TRUE(s->CreateFromDesc(&d));
    EXPECT_EQ(s->GetHandle(), last);
}

TEST_F(ShaderTest, BadDescriptionsAndTextsCreateNothing)
{
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    OrvaShaderDesc d{3, 0x400, 0x10000, 0x10000000, 0};
    EXPECT_FALSE(s->CreateFromDesc(&d));
    EXPECT_EQ(d.flags, 0x10010403u);
    EXPECT_EQ(s->GetHandle(), OrvaShader::kNoHandle);
    EXPECT_EQ(s->GetBuffer(), nullptr);
    EXPECT_FALSE(s->CreateFromDesc(nullptr));
    EXPECT_FALSE(s->CreateFromText(nullptr, s->GetDeclaration(&d)));
    EXPECT_FALSE(s->CreateFromText("vs.1.1\nmov oPos, v9\n", nullptr));   // no declaration
    OrvaShaderDesc one{1, 0, 0, 0, 0};
    // Assembled, but v9 is not declared: the device refuses, the code stays.
    EXPECT_FALSE(s->CreateFromText("vs.1.1\nmov oPos, v9\n", s->GetDeclaration(&one)));
    EXPECT_NE(s->GetBuffer(), nullptr);
    EXPECT_EQ(s->GetHandle(), OrvaShader::kNoHandle);
    EXPECT_FALSE(s->CreateFromText("vs.1.1\nmov oPos, v0\nbogus r0\n", s->GetDeclaration(&one)));
    EXPECT_EQ(s->GetBuffer(), nullptr);
    EXPECT_FALSE(s->CreateFromText("ps.1.1\nmov r0, v0\n", s->GetDeclaration(&one)));
    EXPECT_FALSE(s->CreateFromFile("/nonexistent/shader.vsh", s->GetDeclaration(&one)));
}

TEST_F(ShaderTest, FragmentsAreCutToTheBufferSize)
{
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    OrvaShaderDesc d{1, 0x400, 0x10000, 0x20000000, 0};
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    s->GetTransformText(buffer, 16, &d);
    EXPECT_EQ(std::string(buffer), std::string("vs.1.1\nmov r2, v1\n").substr(0, 15));
    EXPECT_EQ(buffer[16], 'x');   // nothing past the size
    std::memset(buffer, 'x', sizeof buffer);
    s->GetFogText(buffer, 0, &d);
    EXPECT_EQ(buffer[0], 'x');
    OrvaShaderDesc unknown{1, 0x300, 0x30000, 0x30000000, 0};
    s->GetColorText(buffer, sizeof buffer, &unknown);
    EXPECT_EQ(buffer[0], 0);
    s->GetTextureText(buffer, sizeof buffer, &unknown);
    EXPECT_EQ(buffer[0], 0);
    s->GetFogText(buffer, sizeof buffer, &unknown);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(ShaderTest, FileAndTextShadersAndReleasingDeletesTheDeviceShader)
{
    // Named as the engine names files: from the program's folder, with a
    // backslash between folders, in Shift-JIS (ソ, whose second byte is a
    // backslash too).
    const std::string folder = "orva_shader_test_" + std::to_string(::getpid());
    const std::string hostFolder = platform::GetProgramFolder() + "/" + folder;
    const std::string hostFile = hostFolder + "/\u30bd.vsh";
    ASSERT_EQ(::mkdir(hostFolder.c_str(), 0755), 0);
    std::FILE* f = std::fopen(hostFile.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("; transform only\nvs.1.1\nm4x4 oPos, v0, c20\nmov oD0, v6\n", f);
    std::fclose(f);
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    OrvaShaderDesc d{1, 0, 0, 0, 0};
    const bool made = s->CreateFromFile((folder + "\\\x83\x5C.vsh").c_str(), s->GetDeclaration(&d));
    std::remove(hostFile.c_str());
    ::rmdir(hostFolder.c_str());
    ASSERT_TRUE(made);
    const uint32_t handle = s->GetHandle();
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    EXPECT_EQ(device->SetVertexShader(handle), platform::kGfxOk);
    EXPECT_EQ(device->SetVertexShader(0x152), platform::kGfxOk);
    s->Release();
    EXPECT_NE(device->SetVertexShader(handle), platform::kGfxOk);

    OrvaPixelShader* p = OrvaShader::CreatePixelShader();
    EXPECT_TRUE(p->CreateFromText("ps.1.1\ntex t0\nmul r0, t0, v0\n"));
    EXPECT_NE(p->GetHandle(), OrvaShader::kNoHandle);
    OrvaPixelShader* bad = OrvaShader::CreatePixelShader();
    EXPECT_FALSE(bad->CreateFromText("ps.1.1\nmov r0, t7\n"));
    EXPECT_FALSE(bad->CreateFromText("vs.1.1\nmov oPos, v0\n"));   // assembles, but not a pixel shader
    EXPECT_EQ(bad->GetHandle(), OrvaShader::kNoHandle);
    EXPECT_EQ(OrvaShader::GetCount(), 2);
    // Destroy releases both.
}

// The generated static transform draws what the fixed-function pipeline
// draws for the same world x view x projection.
TEST_F(ShaderTest, GeneratedTransformMatchesFixedFunction)
{
    struct Vertex {
        float x, y, z, nx, ny, nz;
        uint32_t color;
        float u, v;
    };
    static_assert(sizeof(Vertex) == 36);
    const uint32_t kColor = 0xFF40C080u;
    // One triangle inside, one crossing the left edge and the near plane.
    const Vertex tris[6] = {
        {-0.5f, -0.4f, 2.0f, 0, 0, 1, kColor, 0, 0}, {0.2f, 0.6f, 3.0f, 0, 0, 1, kColor, 0, 0},
        {0.7f, -0.5f, 2.5f, 0, 0, 1, kColor, 0, 0},  {-3.0f, 0.0f, 0.05f, 0, 0, 1, kColor, 0, 0},
        {-0.2f, 0.9f, 4.0f, 0, 0, 1, kColor, 0, 0},  {0.1f, -0.8f, 1.5f, 0, 0, 1, kColor, 0, 0},
    };
    OrvaMatrix world, view, proj, wvp;
    world.RotationY(2000);
    view.Translation(0.1f, -0.05f, 0.5f);
    proj.Identity();
    // A perspective projection with near 0.5 and far 10 (z in 0..w).
    const float zn = 0.5f, zf = 10.0f;
    proj.SetElement(1, 1, 1.2f);
    proj.SetElement(2, 2, 1.6f);
    proj.SetElement(3, 3, zf / (zf - zn));
    proj.SetElement(3, 4, 1.0f);
    proj.SetElement(4, 3, -zn * zf / (zf - zn));
    proj.SetElement(4, 4, 0.0f);
    wvp.Multiply(world, view);
    wvp.Multiply(wvp, proj);

    platform::SoftDevice* device = OrvaDevice::GetDevice();
    auto frame = [&](bool shader, OrvaVertexShader* s) {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::Clear(0xFF000000u);
        OrvaDevice::SetRenderState(platform::RsLighting, 0);
        OrvaDevice::SetRenderState(platform::RsCullMode, platform::CullNone);
        OrvaDevice::SetRenderState(platform::RsZEnable, 0);
        OrvaDevice::SetTextureStageState(0, platform::TssColorOp, platform::TopSelectArg1);
        OrvaDevice::SetTextureStageState(0, platform::TssColorArg1, platform::TaDiffuse);
        OrvaDevice::SetTextureStageState(0, platform::TssAlphaOp, platform::TopSelectArg1);
        OrvaDevice::SetTextureStageState(0, platform::TssAlphaArg1, platform::TaDiffuse);
        OrvaDevice::SetTexture(nullptr, 0);
        if (shader) {
            OrvaMatrix t;
            t.Transpose(wvp);
            device->SetVertexShaderConstant(20, t.GetData(), 4);
            const float zero[8] = {};
            device->SetVertexShaderConstant(12, zero, 1);
            device->SetVertexShaderConstant(1, zero, 1);
            EXPECT_EQ(OrvaDevice::SetVertexShader(s->GetHandle()), 1);
        } else {
            platform::Matrix4 m;
            std::memcpy(&m, world.GetData(), 64);
            device->SetTransform(platform::TsWorld, m);
            std::memcpy(&m, view.GetData(), 64);
            device->SetTransform(platform::TsView, m);
            std::memcpy(&m, proj.GetData(), 64);
            device->SetTransform(platform::TsProjection, m);
            EXPECT_EQ(OrvaDevice::SetVertexShader(0x152), 1);
        }
        EXPECT_EQ(device->DrawPrimitiveUP(platform::PrimTriangleList, 2, tris, sizeof(Vertex)), platform::kGfxOk);
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        return g_frame;
    };
    const std::vector<uint32_t> fixed = frame(false, nullptr);
    OrvaVertexShader* s = OrvaShader::CreateVertexShader();
    OrvaShaderDesc d{1, 0x200, 0x10000, 0x10000000, 0};
    ASSERT_TRUE(s->CreateFromDesc(&d));
    const std::vector<uint32_t> shaded = frame(true, s);
    ASSERT_EQ(fixed.size(), shaded.size());
    int lit = 0;
    for (size_t i = 0; i < fixed.size(); ++i) {
        EXPECT_EQ(shaded[i], fixed[i]) << "pixel " << i % 32 << "," << i / 32;
        lit += fixed[i] == kColor ? 1 : 0;
    }
    EXPECT_GT(lit, 40);   // both triangles drew something
    OrvaDevice::SetVertexShader(0);
}

}  // namespace
