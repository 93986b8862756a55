// Shaders: vertex and pixel programs assembled from files and texts, and
// the vertex-shader texts written from a mesh's description.
#include "engine/render/shader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/device.h"
#include "platform/gfx/shader_asm.h"
#include "platform/gfx/vertex_shader.h"
#include "platform/sys/file.h"

static constexpr auto& Shaders = OrvaModuleList<OrvaModule::Shader>;

// A shader file larger than this is not a shader.
static constexpr long kMaxShaderFileBytes = 1 << 20;

// ---------------------------------------------------------------------------
// Declarations and fragments

using platform::DeclColor;
using platform::DeclFloat2;
using platform::DeclFloat3;
using platform::DeclReg;
using platform::DeclStream;
using platform::kDeclEnd;

// 36 bytes: position, normal, diffuse, texture coordinates.
static const uint32_t kDeclStatic[] = {
    DeclStream(0), DeclReg(0, DeclFloat3), DeclReg(1, DeclFloat3), DeclReg(6, DeclColor), DeclReg(7, DeclFloat2),
    kDeclEnd,
};
// 60 bytes: a second position and normal to morph towards.
static const uint32_t kDeclMorph[] = {
    DeclStream(0),          DeclReg(0, DeclFloat3), DeclReg(1, DeclFloat3), DeclReg(2, DeclFloat3),
    DeclReg(3, DeclFloat3), DeclReg(6, DeclColor),  DeclReg(7, DeclFloat2), kDeclEnd,
};
// 52 bytes: three bone weights and four bone-index bytes.
static const uint32_t kDeclSkin[] = {
    DeclStream(0),         DeclReg(0, DeclFloat3), DeclReg(1, DeclFloat3), DeclReg(4, DeclFloat3),
    DeclReg(5, DeclColor), DeclReg(6, DeclColor),  DeclReg(7, DeclFloat2), kDeclEnd,
};
// 76 bytes: both.
static const uint32_t kDeclMorphSkin[] = {
    DeclStream(0),          DeclReg(0, DeclFloat3), DeclReg(1, DeclFloat3), DeclReg(2, DeclFloat3),
    DeclReg(3, DeclFloat3), DeclReg(4, DeclFloat3), DeclReg(5, DeclColor),  DeclReg(6, DeclColor),
    DeclReg(7, DeclFloat2), kDeclEnd,
};

// After every transform fragment: r0 the position, r2 the normal, r1 the
// clip-space position.
static const char kTransformStatic[] =
    "vs.1.1\n"
    "mov r2, v1\n"
    "mad r0, r2, c[12].yyyw, v0\n"
    "m4x4 r1, r0, c[20]\n"
    "mov oPos, r1\n";

static const char kMorphToR0R2[] =
    "mov r0.xyzw, v2.xyzw\n"
    "sub r0.xyzw, r0.xyzw, v0.xyzw\n"
    "mad r0.xyzw, r0.xyzw, c[12].zzzz, v0.xyzw\n"
    "mov r2.xyzw, v3.xyzw\n"
    "sub r2.xyzw, r2.xyzw, v1.xyzw\n"
    "mad r2.xyzw, r2.xyzw, c[12].zzzz, v1.xyzw\n";

static const char kMorphToR6R7[] =
    "mov r6.xyzw, v2.xyzw\n"
    "sub r6.xyzw, r6.xyzw, v0.xyzw\n"
    "mad r6.xyzw, r6.xyzw, c[12].zzzz, v0.xyzw\n"
    "mov r7.xyzw, v3.xyzw\n"
    "sub r7.xyzw, r7.xyzw, v1.xyzw\n"
    "mad r7.xyzw, r7.xyzw, c[12].zzzz, v1.xyzw\n";

static const char kTransformTail[] =
    "mad r0, r2, c[12].yyyw, r0\n"
    "m4x4 r1, r0, c[20]\n"
    "mov oPos, r1\n";

// Three bones from the position and normal registers given. The index
// bytes arrive reversed in the colour, and each weight is used as it is.
static std::string SkinText(const char* position, const char* normal)
{
    std::string s = "; index bytes arrive reversed in the colour\n"
                    "mul r3.xyzw, v5.zyxw, c[0].wwww\n";
    static const char* kIndex[] = {"x", "y", "z"};
    for (int bone = 0; bone < 3; ++bone) {
        const std::string w = std::string(3, kIndex[bone][0]);
        s += std::string("mov a0.x, r3.") + kIndex[bone] + "\n";
        s += std::string("m4x3 r4, ") + position + ", c[a0.x + 26]\n";
        s += std::string("m3x3 r5, ") + normal + ", c[a0.x + 26]\n";
        if (bone == 0) {
            s += "mul r0.xyz, r4.xyz, v4." + w + "\n";
            s += "mul r2.xyz, r5.xyz, v4." + w + "\n";
        } else {
            s += "mad r0.xyz, r4.xyz, v4." + w + ", r0.xyz\n";
            s += "mad r2.xyz, r5.xyz, v4." + w + ", r2.xyz\n";
        }
    }
    s += "mov r0.w, c[0].z\n"
         "mov r2.w, c[0].z\n";
    return s;
}

static std::string TransformText(uint32_t transform)
{
    switch (transform) {
    case kOrvaShaderStatic: return kTransformStatic;
    case kOrvaShaderMorph: return std::string("vs.1.1\n") + kMorphToR0R2 + kTransformTail;
    case kOrvaShaderSkin: return "vs.1.1\n" + SkinText("v0", "v1") + kTransformTail;
    case kOrvaShaderMorphSkin: return std::string("vs.1.1\n") + kMorphToR6R7 + SkinText("r6", "r7") + kTransformTail;
    default: return std::string();
    }
}

static std::string ColorText(uint32_t color)
{
    switch (color) {
    case kOrvaShaderNoLight: return "mov oD0.rgba, c[0].zzzz\n";
    case kOrvaShaderVertexColor: return "mov oD0.rgba, v6.rgba\n";
    case kOrvaShaderDiffuse: return "mov oD0.rgba, c[11].rgba\n";
    case kOrvaShaderLights:
        return "; four directional lights and the ambient term\n"
               "dp3 r3.x, r2.xyz, c[3].xyz\n"
               "dp3 r3.y, r2.xyz, c[4].xyz\n"
               "dp3 r3.z, r2.xyz, c[5].xyz\n"
               "dp3 r3.w, r2.xyz, c[6].xyz\n"
               "; a face turned away from a light gets none of it, not less:\n"
               "; the ambient term still shows on its dark side (0.5 - 0.5 = 0)\n"
               "add r5.x, c[0].x, c[0].y\n"
               "max r3.xyzw, r3.xyzw, r5.xxxx\n"
               "add r3.xyzw, r3.xyzw, c[2].wwww\n"
               "mul r4.rgb, r3.xxx, c[7].rgb\n"
               "mad r4.rgb, r3.yyy, c[8].rgb, r4.rgb\n"
               "mad r4.rgb, r3.zzz, c[9].rgb, r4.rgb\n"
               "mad r4.rgb, r3.www, c[10].rgb, r4.rgb\n"
               "mov r4.a, c[0].z\n"
               "mul r4.rgba, r4.rgba, c[11].rgba\n"
               "min oD0.rgba, r4.rgba, c[0].zzzz\n";
    case kOrvaShaderHemisphere:
        return "; one directional light, hemisphere colours along c[4]\n"
               "dp3 r3.x, r2.xyz, c[3].xyz\n"
               "; no less than none of the light on the dark side (0.5 - 0.5 = 0)\n"
               "add r5.x, c[0].x, c[0].y\n"
               "max r3.x, r3.x, r5.x\n"
               "add r3.x, r3.x, c[2].w\n"
               "mul r6.rgb, r3.xxx, c[7].rgb\n"
               "dp3 r3.x, r2.xyz, c[4].xyz\n"
               "mov r4.x, c[0].x\n"
               "mad r3.x, r3.x, r4.x, r4.x\n"
               "mov r5.rgb, c[8].rgb\n"
               "sub r5.rgb, c[7].rgb, r5.rgb\n"
               "mad r7.rgb, r5.rgb, r3.xxx, c[8].rgb\n"
               "mul r9.rgb, r6.rgb, r7.rgb\n"
               "min r9.rgb, r9.rgb, c[0].zzz\n"
               "mov r9.a, c[0].z\n"
               "mul oD0.rgba, r9.rgba, c[11].rgba\n";
    case kOrvaShaderDepth:
        return "; depth as grey\n"
               "rcp r4.x, r1.w\n"
               "mul r4.x, r1.z, r4.x\n"
               "mov oD0.rgb, r4.xxx\n"
               "mov oD0.a, c[0].z\n";
    default: return std::string();
    }
}

enum TextureBlock { kBlockTexture, kBlockToon, kBlockReflection, kBlockStealth, kBlockShadow };

static std::string BlockText(TextureBlock block, int stage)
{
    const std::string out = "oT" + std::to_string(stage);
    switch (block) {
    case kBlockTexture: return "add " + out + ".xy, v7.xy, c[1].xy\n";
    case kBlockToon:
        // c[3] points toward light 0, as the light fragments read it; the
        // ramp coordinate is (1 - N.L) / 2, 0 where the light falls full.
        return "dp3 r11.w, r2.xyz, -c[3].xyz\n"
               "add r11.w, r11.w, c[0].z\n"
               "mul " + out + ".xy, r11.w, c[0].x\n";
    case kBlockReflection:
        return "m4x4 r8, r0, c[16]\n"
               "m3x3 r9, r2, c[16]\n"
               "sub r10.xyz, c[2].xyz, r8.xyz\n"
               "dp3 r10.w, r10.xyz, r10.xyz\n"
               "rsq r10.w, r10.w\n"
               "mul r10.xyz, r10.xyz, r10.w\n"
               "dp3 r9.w, r10, r9\n"
               "add r9.w, r9.w, r9.w\n"
               "mad r11.xyz, r9.www, r9.xyz, -r10.xyz\n"
               "mul r11.xy, r11.xy, c[0].xy\n"
               "add " + out + ".xy, r11.xy, c[0].xx\n";
    case kBlockStealth:
        return "; screen position pushed along the normal\n"
               "rcp r11.w, r1.w\n"
               "mul r11.xy, r1.xy, r11.w\n"
               "mul r11.xy, r11.xy, c[0].xy\n"
               "add r11.xy, r11.xy, c[0].xx\n"
               "m3x2 r10, r2, c[16]\n"
               "mad " + out + ".xy, r10.xy, c[12].xx, r11.xy\n";
    default:
        return "m4x4 r10, r0, c[16]\n"
               "rcp r10.w, r10.w\n"
               "mul r10.xy, r10.xy, r10.w\n"
               "mul r10.xy, r10.xy, c[0].xy\n"
               "add " + out + ".xy, r10.xy, c[0].xx\n";
    }
}

static std::string TextureText(uint32_t texture)
{
    struct Entry {
        uint32_t value;
        TextureBlock first;
        int firstStage;
        TextureBlock second;
        int secondStage;
        bool two;
    };
    static const Entry kTable[] = {
        {kOrvaShaderTexture, kBlockTexture, 0, kBlockTexture, 0, false},
        {kOrvaShaderTextureToon, kBlockTexture, 1, kBlockToon, 0, true},
        {kOrvaShaderTextureStealth, kBlockTexture, 1, kBlockStealth, 0, true},
        {kOrvaShaderTextureReflection, kBlockTexture, 1, kBlockReflection, 0, true},
        {kOrvaShaderTextureShadow, kBlockTexture, 1, kBlockShadow, 0, true},
        {kOrvaShaderToonTexture, kBlockTexture, 0, kBlockToon, 1, true},
        {kOrvaShaderStealthTexture, kBlockTexture, 0, kBlockStealth, 1, true},
        {kOrvaShaderReflectionTexture, kBlockTexture, 0, kBlockReflection, 1, true},
        {kOrvaShaderShadowTexture, kBlockTexture, 0, kBlockShadow, 1, true},
        {kOrvaShaderToonReflection, kBlockToon, 0, kBlockReflection, 1, true},
        {kOrvaShaderReflectionToon, kBlockReflection, 0, kBlockToon, 1, true},
    };
    for (const Entry& e : kTable) {
        if (e.value == texture) {
            return BlockText(e.first, e.firstStage) + (e.two ? BlockText(e.second, e.secondStage) : std::string());
        }
    }
    return std::string();
}

static std::string FogText(uint32_t fog)
{
    switch (fog) {
    case kOrvaShaderLinearFog:
        return "dp4 r9.x, r0, c[15]\n"
               "mad oFog.x, r9.x, c[1].z, c[1].w\n";
    case kOrvaShaderRangeFog:
        // The fog factor takes the distance (r6.z), not its square, so the
        // fog scale and offset stay linear in distance as for linear fog.
        return "dp4 r5.x, r0, c[13]\n"
               "dp4 r5.y, r0, c[14]\n"
               "dp4 r5.z, r0, c[15]\n"
               "dp3 r6.x, r5, r5\n"
               "rsq r6.y, r6.x\n"
               "mul r6.z, r6.x, r6.y\n"
               "mad oFog.x, r6.z, c[1].z, c[1].w\n";
    default: return std::string();
    }
}

// size zero bytes, then at most size - 1 bytes of the text.
static void WriteFragment(char* buffer, uint32_t size, const std::string& text)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::memset(buffer, 0, size);
    std::memcpy(buffer, text.data(), std::min<size_t>(text.size(), size - 1));
}

// A token table's length, END included; 0 when no END comes within the
// longest table the device reads.
static size_t DeclarationTokens(const uint32_t* declaration)
{
    for (size_t i = 0; declaration != nullptr && i < platform::kMaxDeclTokens; ++i) {
        if (declaration[i] == kDeclEnd) {
            return i + 1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Module

bool OrvaShader::Initialize()
{
    Shaders().Init();
    return true;
}

void OrvaShader::Destroy()
{
    Shaders().ReleaseAll();
}

OrvaVertexShader* OrvaShader::CreateVertexShader()
{
    OrvaVertexShader* shader = new (std::nothrow) OrvaVertexShader();
    if (shader != nullptr) {
        Shaders().PushBack(shader);
    }
    return shader;
}

OrvaPixelShader* OrvaShader::CreatePixelShader()
{
    OrvaPixelShader* shader = new (std::nothrow) OrvaPixelShader();
    if (shader != nullptr) {
        Shaders().PushBack(shader);
    }
    return shader;
}

int32_t OrvaShader::GetCount()
{
    return Shaders().GetCount();
}

uint32_t OrvaShader::GetHandle() const
{
    return handle;
}

const std::vector<uint32_t>* OrvaShader::GetBuffer() const
{
    return hasCode ? &code : nullptr;
}

bool OrvaShader::Assemble(const char* text, size_t length)
{
    DropCode();
    if (text == nullptr) {
        return false;
    }
    platform::ShaderAsmResult result;
    if (!platform::AssembleShader(text, length, &result)) {
        return false;
    }
    code = std::move(result.code);
    hasCode = true;
    return true;
}

bool OrvaShader::AssembleFile(const char* file)
{
    DropCode();
    if (file == nullptr) {
        return false;
    }
    OrvaApplication::SetCurrentDirectory();
    std::FILE* f = platform::OpenEngineFileStream(file);
    if (f == nullptr) {
        return false;
    }
    std::string text;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0 && size <= kMaxShaderFileBytes && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        try {
            text.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    ok = ok && std::fread(text.data(), 1, text.size(), f) == text.size();
    std::fclose(f);
    return ok && Assemble(text.data(), text.size());
}

void OrvaShader::DropCode()
{
    code.clear();
    code.shrink_to_fit();
    hasCode = false;
}

// ---------------------------------------------------------------------------
// Vertex shaders

OrvaVertexShader::~OrvaVertexShader()
{
    DeleteDeviceShader();
    DropCode();
}

void OrvaVertexShader::DeleteDeviceShader()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (handle != kNoHandle && device != nullptr) {
        device->DeleteVertexShader(handle);
    }
    handle = kNoHandle;
}

bool OrvaVertexShader::MakeDeviceShader(const uint32_t* declaration)
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (device == nullptr || DeclarationTokens(declaration) == 0) {
        return false;
    }
    const uint32_t usage = OrvaDevice::IsSoftwareVertexProcessing() != 0 ? 0x10u : 0u;
    uint32_t made = 0;
    if (device->CreateVertexShader(declaration, code.data(), static_cast<uint32_t>(code.size()), &made, usage) !=
        platform::kGfxOk) {
        return false;
    }
    handle = made;
    return true;
}

// A second create replaces the first: the earlier device shader is deleted
// rather than left behind with no handle to free it by.
bool OrvaVertexShader::CreateFromFile(const char* file, const uint32_t* declaration)
{
    DeleteDeviceShader();
    return AssembleFile(file) && MakeDeviceShader(declaration);
}

bool OrvaVertexShader::CreateFromText(const char* text, const uint32_t* declaration)
{
    DeleteDeviceShader();
    return text != nullptr && Assemble(text, std::strlen(text)) && MakeDeviceShader(declaration);
}

bool OrvaVertexShader::CreateFromDesc(OrvaShaderDesc* desc)
{
    if (desc == nullptr) {
        return false;
    }
    const uint32_t* declaration = GetDeclaration(desc);
    std::string program;
    std::string fragment;
    try {
        program.assign(kProgramBytes, '\0');
        fragment.assign(kFragmentBytes, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t used = 0;
    auto append = [&]() {
        const size_t length = std::min(std::strlen(fragment.c_str()), kProgramBytes - 1 - used);
        std::memcpy(&program[used], fragment.data(), length);
        used += length;
    };
    GetTransformText(fragment.data(), kFragmentBytes, desc);
    append();
    GetColorText(fragment.data(), kFragmentBytes, desc);
    append();
    GetTextureText(fragment.data(), kFragmentBytes, desc);
    append();
    GetFogText(fragment.data(), kFragmentBytes, desc);
    append();
    desc->flags = desc->transform | desc->color | desc->texture | desc->fog;
    return CreateFromText(program.c_str(), declaration);
}

const uint32_t* OrvaVertexShader::GetDeclaration(const OrvaShaderDesc* desc)
{
    if (desc == nullptr) {
        return nullptr;
    }
    switch (desc->transform) {
    case kOrvaShaderStatic: return kDeclStatic;
    case kOrvaShaderMorph: return kDeclMorph;
    case kOrvaShaderSkin: return kDeclSkin;
    case kOrvaShaderMorphSkin: return kDeclMorphSkin;
    default: return nullptr;
    }
}

void OrvaVertexShader::Reserved(int32_t, int32_t)
{
}

void OrvaVertexShader::GetTransformText(char* buffer, uint32_t size, const OrvaShaderDesc* desc)
{
    WriteFragment(buffer, size, desc != nullptr ? TransformText(desc->transform) : std::string());
}

void OrvaVertexShader::GetColorText(char* buffer, uint32_t size, const OrvaShaderDesc* desc)
{
    WriteFragment(buffer, size, desc != nullptr ? ColorText(desc->color) : std::string());
}

void OrvaVertexShader::GetTextureText(char* buffer, uint32_t size, const OrvaShaderDesc* desc)
{
    WriteFragment(buffer, size, desc != nullptr ? TextureText(desc->texture) : std::string());
}

void OrvaVertexShader::GetFogText(char* buffer, uint32_t size, const OrvaShaderDesc* desc)
{
    WriteFragment(buffer, size, desc != nullptr ? FogText(desc->fog) : std::string());
}

// ---------------------------------------------------------------------------
// Pixel shaders

OrvaPixelShader::~OrvaPixelShader()
{
    DeleteDeviceShader();
    DropCode();
}

void OrvaPixelShader::DeleteDeviceShader()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    if (handle != kNoHandle && device != nullptr) {
        device->DeletePixelShader(handle);
    }
    handle = kNoHandle;
}

bool OrvaPixelShader::MakeDeviceShader()
{
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    uint32_t made = 0;
    if (device == nullptr ||
        device->CreatePixelShader(code.data(), static_cast<uint32_t>(code.size()), &made) != platform::kGfxOk) {
        return false;
    }
    handle = made;
    return true;
}

bool OrvaPixelShader::CreateFromFile(const char* file)
{
    DeleteDeviceShader();
    return AssembleFile(file) && MakeDeviceShader();
}

bool OrvaPixelShader::CreateFromText(const char* text)
{
    DeleteDeviceShader();
    return text != nullptr && Assemble(text, std::strlen(text)) && MakeDeviceShader();
}
