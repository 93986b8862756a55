// Writes the seed corpora of the fuzz targets whose regression programs
// keep their seeds to themselves (X files and shaders): valid inputs made
// with the test X-file writer and the shader assembler.
//
//   fuzz_extra_seeds xfile|shader FOLDER
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/vertex_shader.h"
#include "platform/gfx/xfile.h"
#include "tests/platform/fuzz/fuzz_main_util.h"
#include "tests/platform/gfx/xfile_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Two frames, a mesh with every part a model reads, a skin, a shared
// material and an animation set with every key kind.
const char kModel[] = R"(
template Note { <0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9> DWORD n; array CHAR c[n]; }
Material Red { 1.0;0.0;0.0;1.0;; 8.0; 1.0;1.0;1.0;; 0.0;0.0;0.0;; }
Frame Body {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,2.0,0.0,1.0;; }
  Note { 2; 65, 66;; }
  Frame Gun { FrameTransformMatrix { 0.0,1.0,0.0,0.0, -1.0,0.0,0.0,0.0, 0.0,0.0,1.0,0.0, 1.0,0.0,0.0,1.0;; } }
  Mesh Hull {
    5; -1.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;, 0.0;0.0;1.0;, 0.0;-1.0;0.0;;
    4; 3;0,1,2;, 3;0,2,3;, 3;1,4,3;, 4;0,3,1,4;;
    MeshNormals { 1; 0.0;0.0;-1.0;; 4; 3;0,0,0;, 3;0,0,0;, 3;0,0,0;, 4;0,0,0,0;; }
    MeshTextureCoords { 5; 0.0;0.0;, 1.0;0.0;, 0.5;1.0;, 0.5;0.5;, 0.0;1.0;; }
    MeshMaterialList { 2; 4; 0,1,1,0;; {Red}
      Material { 0.5;0.5;0.5;1.0;; 1.0; 0.0;0.0;0.0;; 0.2;0.2;0.2;; TextureFilename { "ship.png"; } } }
    XSkinMeshHeader { 2; 6; 2; }
    SkinWeights { "Body"; 3; 0,1,2; 1.0,1.0,0.5;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,-2.0,0.0,1.0;; }
    SkinWeights { "Gun"; 3; 2,3,4; 0.5,1.0,1.0;
      1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -1.0,-2.0,0.0,1.0;; }
  }
}
AnimationSet Recoil {
  Animation { {Gun}
    AnimationKey { 0; 3; 0; 4; 1.0,0.0,0.0,0.0;;, 5; 4; 0.9,0.0,0.0,0.44;;, 10; 4; 1.0,0.0,0.0,0.0;;; }
    AnimationKey { 2; 2; 0; 3; 1.0,0.0,0.0;;, 5; 3; 0.5,0.0,0.0;;; }
    AnimationOptions { 1; 0; } }
  Animation { {Body} AnimationKey { 1; 1; 0; 3; 1.0,1.0,1.0;;; }
    AnimationKey { 4; 1; 3; 16; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,2.0,0.0,1.0;; } }
}
)";

// A frame with no mesh, and a mesh of one triangle without a frame.
const char kSmall[] = R"(
Frame Lone { FrameTransformMatrix { 2.0,0.0,0.0,0.0, 0.0,2.0,0.0,0.0, 0.0,0.0,2.0,0.0, 0.0,0.0,0.0,1.0;; } }
Mesh Tri { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; MeshVertexColors { 1; 2; 0.0;0.0;1.0;0.5;;; } }
)";

std::vector<Bytes> XFileSeeds()
{
    return {xtest::Text(kModel), xtest::Binary(kModel), xtest::Compressed(kModel, "tzip"),
            xtest::Compressed(kModel, "bzip"), xtest::Text(kSmall), xtest::Binary(kSmall)};
}

const char* const kShaderTexts[] = {
    "vs.1.1\n"
    "dp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\ndp4 oPos.z, v0, c2\ndp4 oPos.w, v0, c3\n"
    "mov oD0, v5\nmov oT0.xy, v7\n",
    "vs.1.1 ; skinned, with a table of matrices\n"
    "def c95, 3.0, 0.5, 1.0, 0.0\n"
    "mul r0.x, v1.x, c95.x\nmov a0.x, r0.x\n"
    "m4x3 r1.xyz, v0, c[a0.x + 10]\nmov r1.w, c95.z\nm4x4 oPos, r1, c0\n"
    "m3x3 r2.xyz, v3, c[a0.x + 10]\ndp3 r3.x, r2, r2\nrsq r3.x, r3.x\nmul r2.xyz, r2, r3.x\n"
    "dp3 r4.x, r2, -c4\nmax r4.x, r4.x, c95.w\nmul r10, r4.x, c5\nadd oD0, r10, c6\n"
    "sge r5, r4.x, c95.y\nslt r6, r4.x, c95.y\nlit r7, r4\nexpp r8.y, r4.x\nlogp r8.z, r5.x\n"
    "frc r9.xy, v7\nmov oT0.xy, r9\nmov oT1, v7\nmov oFog, r1.z\nmov oPts.x, c95.x\nnop\n",
    "vs.1.1\nnop\nnop\nm4x4 oPos, v0, c0\n",
    "ps.1.1\ntex t0\ntex t1\nmul r0, t0, v0\nadd_sat r0.rgb, r0, t1_bias\n+mul r0.a, t0.a, c0.a\n",
    "ps.1.2\ntex t0\ntexreg2ar t1, t0\nmad_x2 r0, t1, c1, -v1\ndp3 r1, t0_bx2, v0_bx2\nmul r0.rgb, r0, r1\n",
    "ps.1.4\ndef c0, 1.0, 0.5, 0.25, 0.0\ntexld r0, t0\ntexld r1, t1\nphase\ntexld r2, r0\n"
    "lrp r0, c0.y, r0, r2\n",
};

Bytes TextBytes(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes TokenBytes(const std::vector<uint32_t>& tokens)
{
    Bytes b(tokens.size() * 4);
    if (!tokens.empty()) {
        std::memcpy(b.data(), tokens.data(), b.size());
    }
    return b;
}

bool ShaderSeeds(std::vector<Bytes>* seeds)
{
    for (const char* text : kShaderTexts) {
        platform::ShaderAsmResult r;
        if (!platform::AssembleShader(text, std::strlen(text), &r)) {
            std::fprintf(stderr, "seed text does not assemble (line %d): %s\n", r.errorLine, r.error.c_str());
            return false;
        }
        seeds->push_back(TextBytes(text));
        seeds->push_back(TokenBytes(r.code));
    }
    using namespace platform;
    const std::vector<uint32_t> declarations[] = {
        {DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(3, DeclFloat3), DeclReg(7, DeclFloat2), kDeclEnd},
        {DeclStream(0), DeclReg(0, DeclFloat4), DeclReg(1, DeclUByte4), DeclSkip(1), DeclReg(5, DeclColor),
         DeclReg(6, DeclShort2), DeclReg(8, DeclShort4), DeclReg(9, DeclFloat1), DeclConst(10, 1), 0x3F800000u,
         0x3F000000u, 0, 0x3F800000u, kDeclEnd},
    };
    for (const std::vector<uint32_t>& d : declarations) {
        VertexDeclaration decl;
        std::string error;
        if (!ParseVertexDeclaration(d.data(), d.size(), &decl, &error)) {
            std::fprintf(stderr, "seed declaration does not read: %s\n", error.c_str());
            return false;
        }
        seeds->push_back(TokenBytes(d));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "xfile") != 0 && std::strcmp(argv[1], "shader") != 0)) {
        std::fprintf(stderr, "usage: %s xfile|shader FOLDER\n", argv[0]);
        return 2;
    }
    std::vector<Bytes> seeds;
    if (std::strcmp(argv[1], "xfile") == 0) {
        seeds = XFileSeeds();
        for (const Bytes& seed : seeds) {
            platform::XFile file;
            std::string error;
            if (!file.Parse(seed.data(), seed.size(), &error)) {
                std::fprintf(stderr, "seed does not read: %s\n", error.c_str());
                return 1;
            }
        }
    } else if (!ShaderSeeds(&seeds)) {
        return 1;
    }
    char* args[] = {argv[0], const_cast<char*>("--write-seeds"), argv[2]};
    int status = 1;
    fuzzmain::WriteSeedsIfAsked(3, args, seeds, &status);
    return status;
}
