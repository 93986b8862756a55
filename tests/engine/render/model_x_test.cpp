// X files shaped as exporters write them, loaded through the model's X-file
// generator from files on disk, drawn with a camera and a light, and checked
// on pixels, counts and animation: a textured crate in every form of the
// format, a skinned character with two bones and two animation sets, a mesh
// without materials, and a deep chain of frames.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/math.h"
#include "engine/core/texture.h"
#include "engine/render/animation.h"
#include "engine/render/frame.h"
#include "engine/render/light.h"
#include "engine/render/material.h"
#include "engine/render/model.h"
#include "engine/render/skinned_mesh.h"
#include "platform/window/window.h"
#include "tests/engine/render/mesh_fixture.h"

namespace {

using xtest::Bytes;

constexpr int kWidth = 64;
constexpr int kHeight = 64;
constexpr uint32_t kBlack = 0xFF000000u;

std::vector<uint32_t> g_pixels;

void Capture(const uint32_t* argb, int width, int height, int pitchBytes)
{
    g_pixels.assign(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&g_pixels[static_cast<size_t>(y) * width],
                    reinterpret_cast<const uint8_t*>(argb) + static_cast<size_t>(y) * pitchBytes,
                    static_cast<size_t>(width) * 4);
    }
}

// A 2 x 2 24-bit BMP of one colour.
void WriteBmp(const std::string& path, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t bytes[70] = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0};
    bytes[34] = 16;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 2; ++x) {
            uint8_t* p = bytes + 54 + row * 8 + x * 3;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string Num(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", static_cast<double>(v));
    return text;
}

std::string Translation(float x, float y, float z)
{
    return "FrameTransformMatrix { 1.000000,0.000000,0.000000,0.000000, 0.000000,1.000000,0.000000,0.000000, "
           "0.000000,0.000000,1.000000,0.000000, " +
           Num(x) + "," + Num(y) + "," + Num(z) + ",1.000000;; }\n";
}

// A cube of side 2 with a normal and texture corners per face, one textured
// material, as an exporter writes it: a header, standard templates declared
// again, nested frames, quads wound clockwise seen from outside, and
// "TextureFileName" spelt in its own letter case with folders before the
// file's name.
std::string CrateBody()
{
    std::string s =
        "template Vector { <3D82AB5E-62DA-11cf-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }\n"
        "template MeshFace { <3D82AB5F-62DA-11cf-AB39-0020AF71E433> DWORD nFaceVertexIndices;"
        " array DWORD faceVertexIndices[nFaceVertexIndices]; }\n"
        "Header { 1; 0; 1; }\n"
        "Frame Scene_Root {\n" +
        Translation(0, 0, 0) + "  Frame Crate {\n  " + Translation(0, 0, 0) + "  Mesh CrateMesh {\n    24;\n";
    const float normals[6][3] = {{0, 0, -1}, {0, 0, 1}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    std::string positions, uvs, faces, normalText, faceNormals;
    for (int f = 0; f < 6; ++f) {
        const float* n = normals[f];
        const float up[3] = {0.0f, n[1] != 0.0f ? 0.0f : 1.0f, n[1] != 0.0f ? 1.0f : 0.0f};
        // Seen from outside, looking along -n: right = up x (-n).
        const float right[3] = {-(up[1] * n[2] - up[2] * n[1]), -(up[2] * n[0] - up[0] * n[2]),
                                -(up[0] * n[1] - up[1] * n[0])};
        const float corner[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
        const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < 3; ++c) {
                positions += Num(n[c] + corner[k][0] * right[c] + corner[k][1] * up[c]) + ";";
            }
            positions += f == 5 && k == 3 ? ";\n" : ",\n";
            uvs += Num(uv[k][0]) + ";" + Num(uv[k][1]) + (f == 5 && k == 3 ? ";;\n" : ";,\n");
        }
        const int b = 4 * f;
        faces += "4;" + std::to_string(b) + "," + std::to_string(b + 1) + "," + std::to_string(b + 2) + "," +
                 std::to_string(b + 3) + (f == 5 ? ";;\n" : ";,\n");
        normalText += Num(n[0]) + ";" + Num(n[1]) + ";" + Num(n[2]) + (f == 5 ? ";;\n" : ";,\n");
        faceNormals += "4;" + std::to_string(f) + "," + std::to_string(f) + "," + std::to_string(f) + "," +
                       std::to_string(f) + (f == 5 ? ";;\n" : ";,\n");
    }
    s += positions + "    6;\n" + faces;
    s += "    MeshNormals { 6;\n" + normalText + "      6;\n" + faceNormals + "    }\n";
    s += "    MeshTextureCoords { 24;\n" + uvs + "    }\n";
    s += R"(    MeshMaterialList { 1; 6; 0,0,0,0,0,0;;
      Material CrateMat { 1.000000;1.000000;1.000000;1.000000;; 12.800000; 0.500000;0.500000;0.500000;;
        0.000000;0.000000;0.000000;;
        TextureFileName { "textures\\crate\\x_model_crate.bmp"; }
      }
    }
  }
  }
}
)";
    return s;
}

// A character: legs and torso in one skin over two bones, Hip and Spine
// (the middle row weighed half by each), and a hat that no bone weighs, so
// it follows the frame the mesh sits in (Body, eight units to the right).
// The torso's texture comes with an absolute Windows path. Two animation
// sets: Idle holds every bone still, Wave (the last, which drives the
// frames both name) turns Spine a quarter from time 0 to 100 and lifts Body
// by two units.
const char kCharacter[] = R"(
Frame Hero_Root {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
  Frame Hip {
    FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,-4.0,0.0,1.0;; }
    Frame Spine {
      FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,4.0,0.0,1.0;; }
    }
  }
  Frame Body {
    FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 8.0,0.0,0.0,1.0;; }
    Mesh HeroMesh {
      10;
      -1.0;-4.0;0.0;, 1.0;-4.0;0.0;, -1.0;0.0;0.0;, 1.0;0.0;0.0;, -1.0;4.0;0.0;, 1.0;4.0;0.0;,
      -1.0;5.0;0.0;, 1.0;5.0;0.0;, -1.0;6.0;0.0;, 1.0;6.0;0.0;;
      3;
      4;2,3,1,0;, 4;4,5,3,2;, 4;8,9,7,6;;
      MeshNormals { 10; 0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;,
        0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;, 0.0;0.0;-1.0;;
        3; 4;2,3,1,0;, 4;4,5,3,2;, 4;8,9,7,6;; }
      MeshTextureCoords { 10; 0.0;1.0;, 1.0;1.0;, 0.0;0.5;, 1.0;0.5;, 0.0;0.0;, 1.0;0.0;,
        0.0;1.0;, 1.0;1.0;, 0.0;0.0;, 1.0;0.0;; }
      MeshMaterialList { 3; 3; 0,1,2;;
        Material Trousers { 0.0;0.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
        Material Shirt { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;
          TextureFilename { "C:\Work\hero\maps\x_model_shirt.bmp"; } }
        Material Hat { 1.0;1.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }
      }
      XSkinMeshHeader { 2; 2; 2; }
      SkinWeights { "Hip"; 4; 0,1,2,3; 1.0,1.0,0.5,0.5;
        1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,4.0,0.0,1.0;; }
      SkinWeights { "Spine"; 4; 2,3,4,5; 0.5,0.5,1.0,1.0;
        1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
    }
  }
}
AnimationSet Idle {
  Animation { {Spine} AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 100; 4; 1.0,0.0,0.0,0.0;;; } }
  Animation { {Hip} AnimationKey { 2; 2; 0; 3; 0.0,-4.0,0.0;;, 100; 3; 0.0,-4.0,0.0;;; } }
}
AnimationSet Wave {
  Animation { {Spine}
    AnimationKey { 0; 2; 0; 4; 1.0,0.0,0.0,0.0;;, 100; 4; 0.70710678,0.0,0.0,-0.70710678;;; }
  }
  Animation { AnimationOptions { 1; 0; } {Body}
    AnimationKey { 2; 2; 0; 3; 8.0,0.0,0.0;;, 100; 3; 8.0,2.0,0.0;;; }
  }
}
)";

// A rock as a modeller leaves it without a material: a quad with normals.
const char kRock[] = R"(
Mesh Rock {
  4; -2.0;-2.0;0.0;, 2.0;-2.0;0.0;, -2.0;2.0;0.0;, 2.0;2.0;0.0;;
  2; 3;2,3,1;, 3;2,1,0;;
  MeshNormals { 1; 0.0;0.0;-1.0;; 2; 3;0,0,0;, 3;0,0,0;; }
}
)";

// `depth` frames, each 1/128 to the right of its parent, a quad in the last.
std::string Chain(int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i) {
        s += "Frame Bone" + std::to_string(i) + " {\n" + Translation(1.0f / 128.0f, 0, 0);
    }
    s += "Mesh Tip { 4; -1.0;-1.0;0.0;, 1.0;-1.0;0.0;, -1.0;1.0;0.0;, 1.0;1.0;0.0;; 2; 3;2,3,1;, 3;2,1,0;;\n"
         "  MeshNormals { 1; 0.0;0.0;-1.0;; 2; 3;0,0,0;, 3;0,0,0;; }\n"
         "  MeshMaterialList { 1; 2; 0,0;; Material { 0.0;1.0;0.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; } } }\n";
    s += std::string(static_cast<size_t>(depth), '}');
    return s;
}

struct Form {
    const char* name;
    Bytes (*make)(const std::string&);
};

const Form kForms[] = {
    {"text", [](const std::string& b) { return xtest::Text(b); }},
    {"binary", [](const std::string& b) { return xtest::Binary(b); }},
    {"binary, 4-byte string ends", [](const std::string& b) { return xtest::Binary(b, xtest::StringEnd::Wide); }},
    {"compressed text", [](const std::string& b) { return xtest::Compressed(b, "tzip"); }},
    {"compressed binary", [](const std::string& b) { return xtest::Compressed(b, "bzip"); }},
};

struct Rgb {
    int r, g, b;
};

Rgb ColorOf(uint32_t argb)
{
    return {int(argb >> 16 & 0xFF), int(argb >> 8 & 0xFF), int(argb & 0xFF)};
}

void ExpectColor(uint32_t argb, float r, float g, float b, const std::string& what)
{
    const Rgb c = ColorOf(argb);
    EXPECT_NEAR(c.r, r, 2.0f) << what;
    EXPECT_NEAR(c.g, g, 2.0f) << what;
    EXPECT_NEAR(c.b, b, 2.0f) << what;
}

// Tests run side by side in several processes: every file name a test
// writes (models, textures, the log) carries the process's number.
std::string Unique(const std::string& text)
{
    const std::string tag = "x_model_";
    const std::string unique = tag + std::to_string(getpid()) + "_";
    std::string out = text;
    for (size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + unique.size())) {
        out.replace(at, tag.size(), unique);
    }
    return out;
}

std::string LogPath()
{
    return ::testing::TempDir() + Unique("x_model_test.log");
}

std::string ReadLog()
{
    std::ifstream in(LogPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OrvaModelXTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        std::remove(LogPath().c_str());
        OrvaDebug::SetLogPath(LogPath().c_str());
        OrvaDevice::Configure(kWidth, kHeight, true, &Capture);
        ASSERT_TRUE(OrvaDevice::Initialize());
        OrvaTexture::Initialize();
        OrvaEffect::Initialize();
        OrvaCamera::Initialize();
        ASSERT_TRUE(OrvaShader::Initialize());
        OrvaMesh::Initialize();
        OrvaMath::Initialize();
        ASSERT_TRUE(OrvaModel::Initialize());
        camera = OrvaCamera::Create();
        // Textures are looked up beside the program, by the file's name.
        folder = platform::GetProgramFolder();
        // Colours that the 16-bit texture format keeps exactly.
        WriteBmp(folder + "/" + Unique("x_model_crate.bmp"), 206, 162, 99);
        WriteBmp(folder + "/" + Unique("x_model_shirt.bmp"), 66, 195, 66);
    }
    void TearDown() override
    {
        for (int i = 0; i < OrvaLight::kLightCount; ++i) OrvaLight::Reset(i);
        OrvaLight::SetAmbient(0.0f);
        OrvaModel::Destroy();
        OrvaShader::Destroy();
        OrvaCamera::Destroy();
        OrvaEffect::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove((folder + "/" + Unique("x_model_crate.bmp")).c_str());
        std::remove((folder + "/" + Unique("x_model_shirt.bmp")).c_str());
        for (const std::string& f : written) std::remove(f.c_str());
        std::remove(LogPath().c_str());
        EXPECT_EQ(chdir(previous), 0);
    }
    // The bytes as a file in the test's folder, loaded by the generator.
    OrvaModel* Load(const std::string& name, const Bytes& bytes)
    {
        const std::string path = ::testing::TempDir() + Unique(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        written.push_back(path);
        OrvaModel* model = OrvaModel::CreateFromX(path.c_str(), nullptr);
        EXPECT_NE(model, nullptr);
        return model;
    }
    std::vector<uint32_t> Draw(OrvaModel* model, const char* dumpName)
    {
        EXPECT_TRUE(OrvaDevice::BeginScene());
        OrvaDevice::SetRenderState(platform::RsZEnable, 1);
        OrvaDevice::Clear(kBlack);
        model->Render();
        OrvaDevice::EndScene();
        EXPECT_TRUE(OrvaDevice::Present());
        Dump(dumpName);
        return g_pixels;
    }
    // With ORVA_TEST_DUMP naming a folder, each frame is written there as a
    // PPM file to be looked at.
    static void Dump(const char* name)
    {
        const char* dir = std::getenv("ORVA_TEST_DUMP");
        if (dir == nullptr || name == nullptr) return;
        std::ofstream out(std::string(dir) + "/" + name + ".ppm", std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        for (uint32_t p : g_pixels) {
            const char rgb[3] = {char(p >> 16), char(p >> 8), char(p)};
            out.write(rgb, 3);
        }
    }
    // The pixel where a world point lands with the current camera.
    static uint32_t At(float x, float y, float z)
    {
        OrvaMatrix vp;
        OrvaCamera::GetViewProjection(&vp);
        const float* m = vp.GetData();
        const float cx = x * m[0] + y * m[4] + z * m[8] + m[12];
        const float cy = x * m[1] + y * m[5] + z * m[9] + m[13];
        const float cw = x * m[3] + y * m[7] + z * m[11] + m[15];
        const int px = int(std::lround((cx / cw + 1.0f) * kWidth * 0.5f));
        const int py = int(std::lround((1.0f - cy / cw) * kHeight * 0.5f));
        EXPECT_TRUE(px >= 0 && px < kWidth && py >= 0 && py < kHeight) << x << ", " << y << ", " << z;
        if (px < 0 || px >= kWidth || py < 0 || py >= kHeight) return 0;
        return g_pixels[size_t(py) * kWidth + size_t(px)];
    }
    // Orthographic, 32 world units across the frame (two pixels a unit),
    // looking along +z from z = -10.
    void Ortho()
    {
        camera->Reset();
        camera->SetOrtho(32.0f, 32.0f, 1.0f, 100.0f);
        camera->Translate(0.0f, 0.0f, -10.0f);
        camera->UpdateView();
        camera->Apply();
    }
    // A white light shining along `direction`, with the ambient term.
    static void Light(float x, float y, float z, float ambient)
    {
        OrvaVector d(x, y, z);
        OrvaLight::SetDirection(0, &d);
        OrvaLight::SetDiffuse(0, 1.0f, 1.0f, 1.0f);
        OrvaLight::SetAmbient(ambient);
    }
    static int32_t Count(const std::vector<uint32_t>& frame)
    {
        int32_t n = 0;
        for (uint32_t p : frame) n += p != kBlack ? 1 : 0;
        return n;
    }

    char previous[4096] = {};
    std::string folder;
    std::vector<std::string> written;
    OrvaCamera* camera = nullptr;
};

TEST_F(OrvaModelXTest, TexturedCrateReadsAlikeInEveryFormAndShowsItsDarkSide)
{
    // Seen from above, right and in front; the light falls on the right and
    // top faces and away from the front one.
    const OrvaVector eye(3.0f, 4.0f, -6.0f), target(0.0f, 0.0f, 0.0f);
    camera->SetPerspective(45.0f, 1.0f, 100.0f, 0.0f);
    camera->LookAt(&eye, &target, nullptr);
    camera->UpdateView();
    camera->Apply();
    Light(-0.6f, -0.48f, -0.64f, 0.2f);
    // Toward the light: (0.6, 0.48, 0.64), of length 1.
    const float right = 0.6f, top = 0.48f;

    std::vector<uint32_t> reference;
    const std::string body = CrateBody();
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        OrvaModel* model = Load("x_model_crate.x", form.make(Unique(body)));
        ASSERT_EQ(model->GetMeshCount(), 1);
        EXPECT_EQ(model->GetFrames()->GetCount(), 3);
        EXPECT_EQ(model->FindFrame("Crate"), 2);
        OrvaMesh* mesh = model->GetMesh(0);
        EXPECT_EQ(mesh->GetVertexCount(), 24);
        EXPECT_EQ(mesh->GetIndexCount(), 36);
        ASSERT_EQ(mesh->GetMaterials()->GetCount(), 1);
        // The texture's name after its folders, found beside the program.
        const OrvaTexture* texture = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(0))->GetTexture(0);
        ASSERT_NE(texture, nullptr);
        EXPECT_TRUE(texture->IsValid());
        model->Update(0.0f);
        const std::vector<uint32_t> frame = Draw(model, form.make == kForms[0].make ? "crate" : nullptr);
        if (reference.empty()) {
            reference = frame;
            // The texel colour times the light: full on the right face,
            // partial on top, and the ambient term alone, not black, on
            // the face turned away.
            ExpectColor(At(1.0f, 0.0f, 0.0f), 206 * (right + 0.2f), 162 * (right + 0.2f), 99 * (right + 0.2f),
                        "right face");
            ExpectColor(At(0.0f, 1.0f, 0.0f), 206 * (top + 0.2f), 162 * (top + 0.2f), 99 * (top + 0.2f), "top");
            ExpectColor(At(0.0f, 0.0f, -1.0f), 206 * 0.2f, 162 * 0.2f, 99 * 0.2f, "front face, turned away");
            ExpectColor(At(-2.0f, 0.0f, -1.0f), 0, 0, 0, "beside the crate");
            EXPECT_GT(Count(frame), 200);
        } else {
            EXPECT_EQ(frame, reference);
        }
        model->Release();
    }

    // A toon ramp beside the four lights leaves light 0 where it was. The
    // crate's texture is of one colour, so wherever the ramp coordinate
    // sends the texture stage, the picture stays the same.
    OrvaModel* model = Load("x_model_crate.x", xtest::Text(Unique(body)));
    model->Update(0.0f);
    for (uint32_t toon : {kOrvaShaderTextureToon, kOrvaShaderToonTexture}) {
        model->SetTextureMode(toon, -1);
        model->RebuildShader(-1);
        EXPECT_EQ(Draw(model, toon == kOrvaShaderToonTexture ? "crate_toon" : nullptr), reference) << toon;
    }

    // Hemisphere lighting: light 0 (clamped at zero, plus the ambient term)
    // times a blend from light 1's colour (black here) below to light 0's
    // above, along the world's up: half way on the sides, all of it on top.
    // The face turned away keeps its share of the ambient term.
    model->SetTextureMode(kOrvaShaderTexture, -1);
    model->SetColorMode(kOrvaShaderHemisphere, -1);
    model->RebuildShader(-1);
    Draw(model, "crate_hemisphere");
    const float side = (right + 0.2f) * 0.5f, above = top + 0.2f, away = 0.2f * 0.5f;
    ExpectColor(At(1.0f, 0.0f, 0.0f), 206 * side, 162 * side, 99 * side, "hemisphere, right face");
    ExpectColor(At(0.0f, 1.0f, 0.0f), 206 * above, 162 * above, 99 * above, "hemisphere, top");
    ExpectColor(At(0.0f, 0.0f, -1.0f), 206 * away, 162 * away, 99 * away, "hemisphere, front face");
}

TEST_F(OrvaModelXTest, SkinnedCharacterPosesByTheLastAnimationSetAndHatFollowsItsFrame)
{
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    std::vector<uint32_t> reference[2];
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        OrvaModel* model = Load("x_model_hero.x", form.make(Unique(kCharacter)));
        ASSERT_EQ(model->GetMeshCount(), 1);
        // MASTER_FRAME, Hero_Root, Hip, Spine, Body.
        EXPECT_EQ(model->GetFrames()->GetCount(), 5);
        EXPECT_EQ(model->FindFrame("Body"), 4);
        SkinnedMesh* mesh = dynamic_cast<SkinnedMesh*>(model->GetMesh(0));
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->GetBoneCount(), 2u);
        EXPECT_EQ(mesh->GetPaletteSize(), 3u);
        ASSERT_EQ(mesh->GetMaterials()->GetCount(), 3);
        const OrvaTexture* shirt = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(1))->GetTexture(0);
        ASSERT_NE(shirt, nullptr);
        EXPECT_TRUE(shirt->IsValid());
        const std::string log = ReadLog();
        EXPECT_NE(log.find("    SkinnedMesh [2 BONE]\n"), std::string::npos) << log;

        // Time 0: the bind pose; the hat above the body's frame, eight
        // units right of the skin.
        model->Update(0.0f);
        const std::vector<uint32_t> rest = Draw(model, form.make == kForms[0].make ? "hero_0" : nullptr);
        ExpectColor(At(0.0f, -2.0f, 0.0f), 0, 0, 255, "trousers");
        ExpectColor(At(0.0f, 2.0f, 0.0f), 66, 195, 66, "shirt");
        ExpectColor(At(0.0f, 3.5f, 0.0f), 66, 195, 66, "shoulders");
        ExpectColor(At(-3.0f, 0.0f, 0.0f), 0, 0, 0, "left of the torso");
        ExpectColor(At(8.0f, 5.5f, 0.0f), 255, 255, 0, "hat");
        ExpectColor(At(0.0f, 5.5f, 0.0f), 0, 0, 0, "no hat on the skin's own origin");

        // Time 100: Spine has turned a quarter (the torso swings to the
        // left, a shoulder vertex (x, 4) going to (-4, x)); the middle row
        // blends both bones; the hat has risen two units with Body.
        model->Update(100.0f);
        const std::vector<uint32_t> waved = Draw(model, form.make == kForms[0].make ? "hero_100" : nullptr);
        EXPECT_NE(waved, rest);
        ExpectColor(At(-3.0f, 0.0f, 0.0f), 66, 195, 66, "torso turned left");
        ExpectColor(At(0.0f, 3.5f, 0.0f), 0, 0, 0, "shoulders gone");
        ExpectColor(At(0.0f, -2.5f, 0.0f), 0, 0, 255, "trousers stay");
        ExpectColor(At(8.0f, 7.5f, 0.0f), 255, 255, 0, "hat raised");
        ExpectColor(At(8.0f, 5.2f, 0.0f), 0, 0, 0, "hat left its old place");

        // Half way the torso is at an eighth of a turn: neither pose.
        model->Update(50.0f);
        const std::vector<uint32_t> half = Draw(model, nullptr);
        EXPECT_NE(half, rest);
        EXPECT_NE(half, waved);
        if (reference[0].empty()) {
            reference[0] = rest;
            reference[1] = waved;
        } else {
            EXPECT_EQ(rest, reference[0]);
            EXPECT_EQ(waved, reference[1]);
        }
        model->Release();
    }
}

TEST_F(OrvaModelXTest, AnimationSetsWrittenBeforeTheirFramesAnimateAlike)
{
    // Exporters write the animation sets before the frame hierarchy as
    // often as after it: both orders give the same poses, Wave (the later
    // set) driving Spine and Body in both.
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    const std::string character = Unique(kCharacter);
    const size_t sets = character.find("AnimationSet Idle");
    ASSERT_NE(sets, std::string::npos);
    const std::string setsFirst = character.substr(sets) + character.substr(0, sets);
    for (const Form& form : {kForms[0], kForms[4]}) {
        SCOPED_TRACE(form.name);
        OrvaModel* framesFirst = Load("x_model_hero.x", form.make(character));
        OrvaModel* animationsFirst = Load("x_model_hero_sets_first.x", form.make(setsFirst));
        ASSERT_EQ(animationsFirst->GetMeshCount(), 1);
        ASSERT_EQ(animationsFirst->GetFrames()->GetCount(), 5);
        for (const char* name : {"Spine", "Body"}) {
            const OrvaFrame* frame = animationsFirst->GetFrame(animationsFirst->FindFrame(name));
            ASSERT_NE(frame->GetAnimation(), nullptr) << name;
            // Wave's, the later of the two sets that name Spine.
            const OrvaObject* wave = animationsFirst->GetAnimations()->GetAt(name[0] == 'S' ? 2 : 3);
            EXPECT_EQ(static_cast<const OrvaObject*>(frame->GetAnimation()), wave) << name;
        }
        for (float time : {0.0f, 30.0f, 62.5f, 100.0f, 140.0f}) {
            framesFirst->Update(time);
            animationsFirst->Update(time);
            const std::vector<uint32_t> expected = Draw(framesFirst, nullptr);
            EXPECT_EQ(Draw(animationsFirst, form.make == kForms[0].make && time == 62.5f ? "hero_sets_first" : nullptr),
                      expected)
                << "time " << time;
            for (int32_t f = 0; f < 5; ++f) {
                EXPECT_EQ(0, std::memcmp(framesFirst->GetFrame(f)->GetCombinedMatrix()->GetData(),
                                         animationsFirst->GetFrame(f)->GetCombinedMatrix()->GetData(),
                                         16 * sizeof(float)))
                    << "time " << time << ", frame " << f;
            }
        }
        framesFirst->Release();
        animationsFirst->Release();
    }
}

TEST_F(OrvaModelXTest, MeshWithoutMaterialsDrawsWhite)
{
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    OrvaModel* model = Load("x_model_rock.x", xtest::Binary(kRock));
    ASSERT_EQ(model->GetMeshCount(), 1);
    OrvaMesh* mesh = model->GetMesh(0);
    ASSERT_EQ(mesh->GetMaterials()->GetCount(), 1);
    const OrvaMaterial* material = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(0));
    EXPECT_EQ(material->GetTexture(0), nullptr);
    EXPECT_EQ(material->GetMaterialPointer()->diffuse.r, 1.0f);
    EXPECT_EQ(material->GetPrimitiveCount(), 2u);
    model->Update(0.0f);
    const std::vector<uint32_t> frame = Draw(model, "rock");
    ExpectColor(At(0.0f, 0.0f, 0.0f), 255, 255, 255, "lit rock");
    ExpectColor(At(-1.5f, 1.5f, 0.0f), 255, 255, 255, "upper left");
    ExpectColor(At(3.0f, 0.0f, 0.0f), 0, 0, 0, "beside the rock");
    // Four units square at two pixels a unit.
    EXPECT_EQ(Count(frame), 64);
}

TEST_F(OrvaModelXTest, DeepChainOfFramesLoadsAndHostileDepthIsRefused)
{
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    // 1024 frames, each 1/128 right of its parent: the tip sits at x = 8.
    OrvaModel* model = Load("x_model_chain.x", xtest::Compressed(Chain(1024), "bzip"));
    ASSERT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(model->GetFrames()->GetCount(), 1025);
    EXPECT_EQ(model->GetMesh(0)->GetFrame(), model->GetFrame(1024));
    EXPECT_NE(ReadLog().find("} Frame 1025 / Mesh 1 / "), std::string::npos);
    model->Update(0.0f);
    const std::vector<uint32_t> frame = Draw(model, "chain");
    ExpectColor(At(8.0f, 0.0f, 0.0f), 0, 255, 0, "tip");
    ExpectColor(At(0.0f, 0.0f, 0.0f), 0, 0, 0, "origin");
    EXPECT_EQ(Count(frame), 16);
    model->Release();

    // Far deeper than any skeleton: refused whole with the reason.
    OrvaModel* hostile = Load("x_model_hostile.x", xtest::Binary(Chain(5000)));
    EXPECT_EQ(hostile->GetMeshCount(), 0);
    EXPECT_EQ(hostile->GetFrames()->GetCount(), 1);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("ERROR 列挙オブジェクトの作成に失敗\nファイルがないか無効な可能性があります [xfile: data "
                       "objects nested more than 2048 deep at byte "),
              std::string::npos)
        << log;
}

// A terrain of n x n vertices over 16 x 16 world units around the origin,
// one textured material, as a large binary scene carries it.
std::string Terrain(int n)
{
    std::string s = "Mesh Terrain {\n" + std::to_string(n * n) + ";\n";
    const float step = 16.0f / float(n - 1);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            s += Num(-8.0f + float(x) * step) + ";" + Num(8.0f - float(y) * step) + ";0.000000;" +
                 (y == n - 1 && x == n - 1 ? ";\n" : ",");
        }
    }
    const int quads = (n - 1) * (n - 1);
    s += std::to_string(2 * quads) + ";\n";
    for (int y = 0; y + 1 < n; ++y) {
        for (int x = 0; x + 1 < n; ++x) {
            const int a = y * n + x, b = a + 1, c = a + n, d = c + 1;
            const bool last = y + 2 == n && x + 2 == n;
            s += "3;" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(d) + ";,3;" +
                 std::to_string(a) + "," + std::to_string(d) + "," + std::to_string(c) + (last ? ";;\n" : ";,");
        }
    }
    s += "MeshNormals { 1; 0.0;0.0;-1.0;; " + std::to_string(2 * quads) + ";";
    for (int f = 0; f < 2 * quads; ++f) s += f + 1 == 2 * quads ? "3;0,0,0;;" : "3;0,0,0;,";
    s += " }\nMeshTextureCoords { " + std::to_string(n * n) + ";";
    for (int i = 0; i < n * n; ++i) s += i + 1 == n * n ? "0.5;0.5;;" : "0.5;0.5;,";
    s += R"( }
MeshMaterialList { 1; 1; 0;; Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;
  TextureFilename { "..\\terrain\\x_model_crate.bmp"; } } }
}
)";
    return s;
}

// A car as a modelling tool exports it in text: a wheel in frame Wheel and
// a body of `vertices` vertices in frame Body, a strip of triangles along
// x, named or not; with `flat` every face has its own normal, so that each
// vertex is split once for every face around it.
std::string Car(const char* bodyName, int vertices, bool flat)
{
    std::string s = "Frame Wheel {\n" + Translation(-4.0f, 0.0f, 0.0f) +
                    "Mesh Wheel { 3; -1.0;-1.0;0.0;, 0.0;1.0;0.0;, 1.0;-1.0;0.0;; 1; 3;0,1,2;;\n"
                    "  MeshNormals { 1; 0.0;0.0;-1.0;; 1; 3;0,0,0;; } } }\n"
                    "Frame Body {\n" + Translation(0.0f, 0.0f, 0.0f) + "Mesh " + bodyName + " {\n" +
                    std::to_string(vertices) + ";\n";
    for (int i = 0; i < vertices; ++i) {
        s += Num(float(i / 2) * 0.001f) + ";" + (i % 2 ? "1.0" : "0.0") + ";0.0;" + (i + 1 == vertices ? ";\n" : ",\n");
    }
    const int faces = vertices - 2;
    std::string indices;
    for (int f = 0; f < faces; ++f) {
        const int a = f, b = f % 2 ? f + 2 : f + 1, c = f % 2 ? f + 1 : f + 2;
        indices += "3;" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) +
                   (f + 1 == faces ? ";;\n" : ";,\n");
    }
    s += std::to_string(faces) + ";\n" + indices + "MeshNormals { ";
    if (flat) {
        s += std::to_string(faces) + ";\n";
        for (int f = 0; f < faces; ++f) s += f + 1 == faces ? "0.0;0.0;-1.0;;\n" : "0.0;0.0;-1.0;,\n";
        s += std::to_string(faces) + ";\n";
        for (int f = 0; f < faces; ++f) {
            const std::string n = std::to_string(f);
            s += "3;" + n + "," + n + "," + n + (f + 1 == faces ? ";;\n" : ";,\n");
        }
    } else {
        s += "1; 0.0;0.0;-1.0;;\n" + std::to_string(faces) + ";\n";
        for (int f = 0; f < faces; ++f) s += f + 1 == faces ? "3;0,0,0;;\n" : "3;0,0,0;,\n";
    }
    return s + "} } }\n";
}

TEST_F(OrvaModelXTest, MeshesBeyondSixteenBitIndicesAreLeftOutWithTheirNameAndCount)
{
    // The body is refused beyond 65,535 vertices, also when the split by
    // normals takes it there; the log names it, or its frame when it has
    // no name, and the count; the wheel still loads and draws.
    struct Case {
        const char* name;
        int vertices;
        bool flat;
        const char* logged;   // null: the body loads
    };
    const Case cases[] = {
        {"CarBody", 65535, false, nullptr},
        {"CarBody", 65536, false, "[CarBody] (フレーム [Body]) を外しました : mesh: 65536 vertices, more than the 65535"},
        {"", 70000, false, "[] (フレーム [Body]) を外しました : mesh: 70000 vertices, more than the 65535"},
        {"Hull", 30000, true,
         "[Hull] (フレーム [Body]) を外しました : mesh: 89994 vertices (30000 positions, split where their normals "
         "differ), more than the 65535 that 16-bit indices reach\n"},
    };
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.vertices);
        std::remove(LogPath().c_str());
        OrvaModel* model = Load("x_model_car.x", xtest::Text(Car(k.name, k.vertices, k.flat)));
        const std::string log = ReadLog();
        ASSERT_EQ(model->GetMeshCount(), k.logged == nullptr ? 2 : 1) << log;
        EXPECT_STREQ(model->GetMesh(0)->GetName(), "Wheel");
        if (k.logged == nullptr) {
            EXPECT_EQ(model->GetMesh(1)->GetVertexCount(), k.vertices);
            EXPECT_EQ(log.find("を外しました"), std::string::npos) << log;
        } else {
            EXPECT_NE(log.find("    Error : メッシュ [" + std::string(k.name) + "] の読み込みに失敗\n    Error : メッシュ " +
                               k.logged),
                      std::string::npos)
                << log;
        }
        model->Update(0.0f);
        Draw(model, nullptr);
        ExpectColor(At(-4.0f, -0.5f, 0.0f), 255, 255, 255, "wheel");
        model->Release();
    }
}

TEST_F(OrvaModelXTest, LargeBinaryScenesWithStringsLoad)
{
    // 22,500 vertices and 44,402 faces, with a texture name among them.
    Ortho();
    Light(0.0f, 0.0f, 1.0f, 0.0f);
    const std::string body = Unique(Terrain(150));
    for (const Bytes& bytes : {xtest::Binary(body), xtest::Compressed(body, "bzip")}) {
        OrvaModel* model = Load("x_model_terrain.x", bytes);
        ASSERT_EQ(model->GetMeshCount(), 1);
        OrvaMesh* mesh = model->GetMesh(0);
        EXPECT_EQ(mesh->GetVertexCount(), 22500);
        EXPECT_EQ(mesh->GetIndexCount(), 3 * 44402);
        const OrvaTexture* texture = static_cast<OrvaMaterial*>(mesh->GetMaterials()->GetAt(0))->GetTexture(0);
        ASSERT_NE(texture, nullptr);
        model->Update(0.0f);
        const std::vector<uint32_t> frame = Draw(model, nullptr);
        ExpectColor(At(-5.0f, 5.0f, 0.0f), 206, 162, 99, "terrain");
        // Sixteen units square at two pixels a unit.
        EXPECT_EQ(Count(frame), 32 * 32);
        model->Release();
    }
}

TEST_F(OrvaModelXTest, FilesLargerThanTheCapAreRefusedBeforeTheyAreRead)
{
    // A sparse file: 64 MB and one byte, all zeros.
    const std::string path = ::testing::TempDir() + Unique("x_model_huge.x");
    {
        std::ofstream(path, std::ios::binary).put('x');
    }
    written.push_back(path);
    std::filesystem::resize_file(path, (std::uintmax_t(64) << 20) + 1);
    OrvaModel* model = OrvaModel::CreateFromX(path.c_str(), nullptr);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->GetMeshCount(), 0);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("ERROR : Xファイルが大きすぎます [" + path + "] (上限 67108864 Byte)\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[file larger than 67108864 bytes]"), std::string::npos) << log;
    // A folder is no file.
    OrvaModel* folderModel = OrvaModel::CreateFromX(::testing::TempDir().c_str(), nullptr);
    EXPECT_EQ(folderModel->GetMeshCount(), 0);
}

}  // namespace
