#pragma once
// Programmable shaders: vertex shader 1.1 programs with their vertex
// declarations and pixel shaders, assembled from a file or a text and made
// on the device, and vertex shaders generated from a shader description
// (one text fragment each for transform, colour, texture coordinates and
// fog). Meshes own a description and bind their shader through
// OrvaDevice::SetVertexShader with its handle. The module writes no log
// lines and has no device-loss step: the device keeps its shaders across a
// reset. Main thread only.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/core/object.h"

// Five selectors from which a vertex shader and its declaration are made.
struct OrvaShaderDesc {
    uint32_t transform = 0;   // 1 static, 2 morphing, 4 skinned, 8 morphing and skinned
    uint32_t color = 0;       // 0x100 .. 0x2000
    uint32_t texture = 0;     // 0x10000 .. 0x4000000
    uint32_t fog = 0;         // 0x10000000 none, 0x20000000 linear, 0x40000000 range
    uint32_t flags = 0;       // transform | color | texture | fog once generated
};

enum : uint32_t {
    kOrvaShaderStatic = 0x1,
    kOrvaShaderMorph = 0x2,
    kOrvaShaderSkin = 0x4,
    kOrvaShaderMorphSkin = 0x8,

    kOrvaShaderNoLight = 0x100,
    kOrvaShaderVertexColor = 0x200,
    kOrvaShaderDiffuse = 0x400,
    kOrvaShaderLights = 0x800,
    kOrvaShaderHemisphere = 0x1000,
    kOrvaShaderDepth = 0x2000,

    kOrvaShaderTexture = 0x10000,
    kOrvaShaderTextureToon = 0x20000,
    kOrvaShaderTextureStealth = 0x40000,
    kOrvaShaderTextureReflection = 0x80000,
    kOrvaShaderTextureShadow = 0x100000,
    kOrvaShaderToonTexture = 0x200000,
    kOrvaShaderStealthTexture = 0x400000,
    kOrvaShaderReflectionTexture = 0x800000,
    kOrvaShaderShadowTexture = 0x1000000,
    kOrvaShaderToonReflection = 0x2000000,
    kOrvaShaderReflectionToon = 0x4000000,

    kOrvaShaderNoFog = 0x10000000,
    kOrvaShaderLinearFog = 0x20000000,
    kOrvaShaderRangeFog = 0x40000000,
};

class OrvaVertexShader;
class OrvaPixelShader;

class OrvaShader : public OrvaObject {
public:
    static constexpr uint32_t kNoHandle = 0xFFFFFFFFu;

    // ---- module
    static bool Initialize();
    // Releases every shader still in the list.
    static void Destroy();
    // A new empty shader at the back of the list; null when it cannot be
    // allocated.
    static OrvaVertexShader* CreateVertexShader();
    static OrvaPixelShader* CreatePixelShader();
    static int32_t GetCount();

    // ---- methods
    // The device handle; kNoHandle while no device shader exists.
    virtual uint32_t GetHandle() const;
    // The assembled code (tokens), or null before a successful assembly.
    virtual const std::vector<uint32_t>* GetBuffer() const;

protected:
    OrvaShader() = default;
    // Assembles the text into the code; false (and no code) when refused.
    bool Assemble(const char* text, size_t length);
    // Reads and assembles a file, relative names from the program's folder.
    bool AssembleFile(const char* file);
    void DropCode();

    uint32_t handle = kNoHandle;
    std::vector<uint32_t> code;
    bool hasCode = false;
};

class OrvaVertexShader : public OrvaShader {
public:
    static constexpr uint32_t kFragmentBytes = 4096;
    static constexpr uint32_t kProgramBytes = 65536;

    // Deletes the device shader when there is one.
    ~OrvaVertexShader() override;

    // True when the device shader was made. A shader made before by this
    // object is deleted first. The declaration is a device token table
    // ended by its END token.
    virtual bool CreateFromFile(const char* file, const uint32_t* declaration);
    virtual bool CreateFromText(const char* text, const uint32_t* declaration);
    // Generates the program from the description (and writes its flags).
    virtual bool CreateFromDesc(OrvaShaderDesc* desc);
    // The declaration of the description's transform; null for another value.
    virtual const uint32_t* GetDeclaration(const OrvaShaderDesc* desc);
    virtual void Reserved(int32_t, int32_t);
    // Write the fragment the description selects into buffer: size zero
    // bytes, then at most size - 1 bytes of the fragment. An unknown value
    // selects the empty fragment.
    virtual void GetTransformText(char* buffer, uint32_t size, const OrvaShaderDesc* desc);
    virtual void GetColorText(char* buffer, uint32_t size, const OrvaShaderDesc* desc);
    virtual void GetTextureText(char* buffer, uint32_t size, const OrvaShaderDesc* desc);
    virtual void GetFogText(char* buffer, uint32_t size, const OrvaShaderDesc* desc);

private:
    friend class OrvaShader;
    OrvaVertexShader() = default;
    bool MakeDeviceShader(const uint32_t* declaration);
    void DeleteDeviceShader();
};

class OrvaPixelShader : public OrvaShader {
public:
    // Deletes the device shader when there is one.
    ~OrvaPixelShader() override;

    // True when the device shader was made. A program binds it through
    // the device (OrvaDevice::GetDevice()->SetPixelShader with the handle,
    // 0 to unbind); while bound it colours every pixel in place of the
    // texture stages. A device reset unbinds it; the shader stays.
    virtual bool CreateFromFile(const char* file);
    virtual bool CreateFromText(const char* text);

private:
    friend class OrvaShader;
    OrvaPixelShader() = default;
    bool MakeDeviceShader();
    void DeleteDeviceShader();
};
