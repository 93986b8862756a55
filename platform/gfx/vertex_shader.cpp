// Vertex shader 1.1 interpreter. The code is checked once when it is
// loaded, so running it needs no test beyond the relative constant address,
// which depends on the data.
#include "platform/gfx/vertex_shader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/gfx/device_core.h"
#include "platform/gfx/vertex_stages.h"
#include "platform/gfx/pixel_shader.h"

namespace platform {

using namespace shader;

namespace {

bool SetError(std::string* error, const std::string& why)
{
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

float Bits(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Rows read by a matrix macro and whether each row is a 4-component dot.
int MatrixRows(uint32_t op, bool* four)
{
    *four = op == OpM4x4 || op == OpM4x3;
    switch (op) {
    case OpM4x4: return 4;
    case OpM4x3: return 3;
    case OpM3x4: return 4;
    case OpM3x3: return 3;
    case OpM3x2: return 2;
    default: return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Declarations

uint32_t DeclTypeBytes(uint32_t type)
{
    switch (type) {
    case DeclFloat1: return 4;
    case DeclFloat2: return 8;
    case DeclFloat3: return 12;
    case DeclFloat4: return 16;
    case DeclColor: return 4;
    case DeclUByte4: return 4;
    case DeclShort2: return 4;
    case DeclShort4: return 8;
    default: return 0;
    }
}

bool ParseVertexDeclaration(const uint32_t* tokens, size_t maxTokens, VertexDeclaration* out, std::string* error)
{
    if (tokens == nullptr || out == nullptr) {
        return SetError(error, "no declaration");
    }
    VertexDeclaration decl;
    bool inStream = false;
    uint32_t usedRegs = 0;
    const size_t limit = std::min(maxTokens, kMaxDeclTokens);
    for (size_t i = 0; i < limit; ++i) {
        const uint32_t t = tokens[i];
        if (t == kDeclEnd) {
            *out = std::move(decl);
            return true;
        }
        switch (t >> 29) {
        case 0:   // nop
            if (t != kDeclNop) {
                return SetError(error, "bad declaration token");
            }
            break;
        case 1:
            if ((t & 0x1FFFFFFFu) != 0) {
                return SetError(error, "only stream 0 can be declared");
            }
            inStream = true;
            break;
        case 2: {
            if (!inStream) {
                return SetError(error, "vertex data declared before a stream");
            }
            if (t & (1u << 28)) {
                decl.stride += 4 * ((t >> 16) & 0xFu);
                break;
            }
            const uint32_t type = (t >> 16) & 0xFu;
            const uint32_t reg = t & 0x1Fu;
            if (DeclTypeBytes(type) == 0 || reg >= kVertexInputs || (t & 0x0FF0FFE0u) != 0) {
                return SetError(error, "bad register in the declaration");
            }
            if (usedRegs & (1u << reg)) {
                return SetError(error, "a register is declared twice");
            }
            usedRegs |= 1u << reg;
            VertexDeclaration::Element e;
            e.offset = decl.stride;
            e.reg = reg;
            e.type = type;
            decl.elements.push_back(e);
            decl.stride += DeclTypeBytes(type);
            break;
        }
        case 4: {
            const uint32_t count = (t >> 25) & 0xFu;
            const uint32_t address = t & 0x7Fu;
            if (count == 0 || address + count > kVertexConstants || i + 4ull * count >= limit) {
                return SetError(error, "bad constants in the declaration");
            }
            for (uint32_t k = 0; k < count; ++k) {
                VertexDeclaration::Constant c;
                c.reg = address + k;
                for (int j = 0; j < 4; ++j) {
                    c.value[j] = Bits(tokens[i + 1 + 4 * k + j]);
                }
                decl.constants.push_back(c);
            }
            i += 4ull * count;
            break;
        }
        default:
            return SetError(error, "unsupported declaration token");
        }
    }
    return SetError(error, "the declaration has no end");
}

void FetchVertexInputs(const VertexDeclaration& decl, const uint8_t* vertex, float (*inputs)[4])
{
    for (int r = 0; r < kVertexInputs; ++r) {
        inputs[r][0] = inputs[r][1] = inputs[r][2] = 0.0f;
        inputs[r][3] = 1.0f;
    }
    for (const VertexDeclaration::Element& e : decl.elements) {
        const uint8_t* p = vertex + e.offset;
        float* v = inputs[e.reg];
        switch (e.type) {
        case DeclFloat1:
        case DeclFloat2:
        case DeclFloat3:
        case DeclFloat4:
            std::memcpy(v, p, DeclTypeBytes(e.type));
            break;
        case DeclColor: {
            uint32_t c;
            std::memcpy(&c, p, 4);
            v[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
            v[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
            v[2] = static_cast<float>(c & 0xFF) / 255.0f;
            v[3] = static_cast<float>(c >> 24) / 255.0f;
            break;
        }
        case DeclUByte4:
            for (int k = 0; k < 4; ++k) {
                v[k] = static_cast<float>(p[k]);
            }
            break;
        case DeclShort2:
        case DeclShort4:
            for (int k = 0; k < (e.type == DeclShort2 ? 2 : 4); ++k) {
                int16_t s;
                std::memcpy(&s, p + 2 * k, 2);
                v[k] = static_cast<float>(s);
            }
            break;
        default:
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// Loading

bool VertexProgram::Load(const uint32_t* code, size_t tokens, std::string* error)
{
    instructions.clear();
    definitions.clear();
    inputMask = 0;
    loaded = false;
    if (code == nullptr || tokens < 2) {
        return SetError(error, "no code");
    }
    if ((code[0] & 0xFFFFFF00u) != (kVertexVersionBase | 0x100u) || (code[0] & 0xFFu) > 1) {
        return SetError(error, "not vertex shader 1.x code");
    }
    std::vector<Instruction> program;
    std::vector<Definition> defs;
    uint32_t inputs = 0;
    bool position = false;
    int slots = 0;
    // Nothing past the longest stream a program can be is read.
    const size_t limit = std::min(tokens, kMaxCodeTokens);
    try {
        size_t i = 1;
        while (true) {
            if (i >= limit) {
                return SetError(error, tokens > kMaxCodeTokens
                                           ? "no end token within " + std::to_string(kMaxCodeTokens) + " tokens"
                                           : std::string("no end token"));
            }
            const uint32_t t = code[i];
            if (t == kEndToken) {
                break;
            }
            if ((t & 0xFFFFu) == kCommentToken && (t & kParamBit) == 0) {
                // A comment block: its length follows in the high half.
                i += 1 + ((t >> 16) & 0x7FFFu);
                continue;
            }
            const uint32_t op = t & 0xFFFFu;
            InstructionInfo info;
            if (!LookUpInstruction(code[0], op, &info) || (t & (kInstructionReservedBits | kCoIssueBit)) != 0) {
                return SetError(error, "unknown instruction token at " + std::to_string(i));
            }
            const int params = info.params;
            if (i + 1 + static_cast<size_t>(params) > limit) {
                return SetError(error, "code ends inside an instruction");
            }
            slots += info.slots;
            if (slots > kMaxVertexSlots) {
                return SetError(error, "more than " + std::to_string(kMaxVertexSlots) + " instruction slots");
            }
            const uint32_t* p = code + i + 1;
            i += 1 + static_cast<size_t>(params);
            if (op == OpDef) {
                const uint32_t reg = p[0] & 0x7FFu;
                if ((p[0] & kParamBit) == 0 || ((p[0] >> kKindShift) & 7u) != RegConst || reg >= kVertexConstants) {
                    return SetError(error, "def needs a constant register");
                }
                Definition d;
                d.reg = reg;
                for (int k = 0; k < 4; ++k) {
                    d.value[k] = Bits(p[1 + k]);
                }
                defs.push_back(d);
                continue;
            }
            Instruction in;
            in.op = op;
            if (params > 0) {
                const uint32_t d = p[0];
                const uint32_t kind = (d >> kKindShift) & 7u;
                const uint32_t index = d & 0x7FFu;
                const uint32_t mask = (d >> kMaskShift) & 0xFu;
                bool ok = (d & kParamBit) != 0 && mask != 0 && (d & (kRelativeBit | kSaturateBit | 0x0F000000u)) == 0;
                switch (kind) {
                case RegTemp: ok = ok && index < kVertexTemps; break;
                case RegAddress: ok = ok && index == 0 && op == OpMov && mask == 0x1; break;
                case RegRasterOut:
                    // Fog and point size are one value, written whole or as x.
                    ok = ok && index <= OutPointSize && (index == OutPosition || mask == 0x1 || mask == 0xF);
                    position = position || index == OutPosition;
                    break;
                case RegAttributeOut: ok = ok && index < 2; break;
                case RegTexCoordOut: ok = ok && index < kVertexTexCoords; break;
                default: ok = false; break;
                }
                if (!ok) {
                    return SetError(error, "bad destination token at " + std::to_string(i - params));
                }
                in.destKind = static_cast<uint8_t>(kind);
                in.destIndex = static_cast<uint8_t>(index);
                in.mask = static_cast<uint8_t>(mask);
            }
            in.sourceCount = static_cast<uint8_t>(params > 1 ? params - 1 : 0);
            for (int k = 0; k < in.sourceCount; ++k) {
                const uint32_t s = p[1 + k];
                const uint32_t kind = (s >> kKindShift) & 7u;
                const uint32_t index = s & 0x7FFu;
                const uint32_t mod = (s >> kModifierShift) & 0xFu;
                const bool relative = (s & kRelativeBit) != 0;
                bool ok = (s & kParamBit) != 0 && mod <= ModNegate && (s & 0x0000C000u) == 0 &&
                          (!relative || kind == RegConst);
                switch (kind) {
                case RegTemp: ok = ok && index < kVertexTemps; break;
                case RegInput: ok = ok && index < kVertexInputs; break;
                case RegConst: ok = ok && index < kVertexConstants; break;
                default: ok = false; break;
                }
                if (!ok) {
                    return SetError(error, "bad source token");
                }
                // A matrix's rows read on from its register: refused when
                // they run past the constants (a0 moves the others, and is
                // checked as they are read), as the assembler refuses them.
                bool four = false;
                const int span = k == 1 && kind == RegConst && !relative ? std::max(MatrixRows(op, &four), 1) : 1;
                if (kind == RegConst && index + span > kVertexConstants) {
                    char why[64];
                    std::snprintf(why, sizeof why, "c%u is past the last constant (c95)",
                                  static_cast<unsigned>(index + span - 1));
                    return SetError(error, why);
                }
                Source& src = in.src[k];
                src.kind = static_cast<uint8_t>(kind);
                src.index = static_cast<uint8_t>(index);
                src.relative = relative;
                src.negate = mod == ModNegate;
                for (int c = 0; c < 4; ++c) {
                    src.swizzle[c] = static_cast<uint8_t>((s >> (kSwizzleShift + 2 * c)) & 3u);
                }
                if (kind == RegInput) {
                    inputs |= 1u << index;
                    // A matrix read from inputs spans several registers.
                    bool four = false;
                    const int rows = k == 1 ? MatrixRows(op, &four) : 0;
                    for (int r = 1; r < rows && index + r < kVertexInputs; ++r) {
                        inputs |= 1u << (index + r);
                    }
                }
            }
            program.push_back(in);
        }
        if (!position) {
            return SetError(error, "oPos is never written");
        }
        instructions = std::move(program);
        definitions = std::move(defs);
    } catch (const std::bad_alloc&) {
        return SetError(error, "out of memory");
    }
    if (!Lower()) {
        instructions.clear();
        definitions.clear();
        return SetError(error, "out of memory");
    }
    inputMask = inputs;
    loaded = true;
    return true;
}

void VertexProgram::ApplyDefinitions(float (*constants)[4]) const
{
    for (const Definition& d : definitions) {
        std::memcpy(constants[d.reg], d.value, sizeof d.value);
    }
}

// ---------------------------------------------------------------------------
// Running

void VertexProgram::ScalarStep(uint32_t op, const float (*s)[4], float* r)
{
    const float scalar = s[0][3];
    switch (op) {
        case OpExp: std::fill(r, r + 4, std::exp2(scalar)); break;
        case OpLog: {
            const float a = std::fabs(scalar);
            std::fill(r, r + 4, a == 0.0f ? -std::numeric_limits<float>::infinity() : std::log2(a));
            break;
        }
        case OpExpP: {
            const float whole = std::floor(scalar);
            r[0] = std::exp2(whole);
            r[1] = scalar - whole;
            r[2] = std::exp2(scalar);
            r[3] = 1.0f;
            break;
        }
        case OpLogP: {
            const float a = std::fabs(scalar);
            if (a == 0.0f) {
                r[0] = r[2] = -std::numeric_limits<float>::infinity();
                r[1] = 1.0f;
            } else {
                int e = 0;
                const float m = std::frexp(a, &e);   // a = m x 2^e, m in [0.5, 1)
                r[0] = static_cast<float>(e - 1);
                r[1] = m * 2.0f;
                r[2] = std::log2(a);
            }
            r[3] = 1.0f;
            break;
        }
        case OpLit: {
            // x: N.L, y: N.H, w: the specular power, clamped as the hardware does.
            const float power = std::clamp(s[0][3], -127.9961f, 127.9961f);
            r[0] = 1.0f;
            r[3] = 1.0f;
            if (s[0][0] > 0.0f) {
                r[1] = s[0][0];
                if (s[0][1] > 0.0f) {
                    r[2] = std::pow(s[0][1], power);
                }
            }
            break;
        }
        case OpDst:
            r[0] = 1.0f;
            r[1] = s[0][1] * s[1][1];
            r[2] = s[0][2];
            r[3] = s[1][3];
            break;
        default: break;
    }
}

void VertexProgram::Run(const float (*constants)[4], const float (*inputs)[4], VertexShaderOutput* out) const
{
    static const float kZero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float temps[kVertexTemps][4] = {};
    int a0 = 0;
    *out = VertexShaderOutput();

    // The register a source names, row `row` further on (matrix rows);
    // anything past the end of its file reads as zero.
    auto registerOf = [&](const Source& s, int row) -> const float* {
        const int64_t base = static_cast<int64_t>(s.index) + row + (s.relative ? a0 : 0);
        switch (s.kind) {
        case RegTemp: return base < kVertexTemps ? temps[base] : kZero;
        case RegInput: return base < kVertexInputs ? inputs[base] : kZero;
        default: return base >= 0 && base < kVertexConstants ? constants[base] : kZero;
        }
    };
    auto read = [&](const Source& s, int row, float* v) {
        const float* r = registerOf(s, row);
        for (int c = 0; c < 4; ++c) {
            v[c] = s.negate ? -r[s.swizzle[c]] : r[s.swizzle[c]];
        }
    };

    for (const Instruction& in : instructions) {
        float s[3][4] = {};
        for (int k = 0; k < in.sourceCount; ++k) {
            read(in.src[k], 0, s[k]);
        }
        float r[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        const float scalar = s[0][3];
        switch (in.op) {
        case OpNop: continue;
        case OpMov: std::copy(s[0], s[0] + 4, r); break;
        case OpAdd: for (int c = 0; c < 4; ++c) r[c] = s[0][c] + s[1][c]; break;
        case OpSub: for (int c = 0; c < 4; ++c) r[c] = s[0][c] - s[1][c]; break;
        case OpMul: for (int c = 0; c < 4; ++c) r[c] = s[0][c] * s[1][c]; break;
        case OpMad: for (int c = 0; c < 4; ++c) r[c] = s[0][c] * s[1][c] + s[2][c]; break;
        case OpMin: for (int c = 0; c < 4; ++c) r[c] = s[0][c] < s[1][c] ? s[0][c] : s[1][c]; break;
        case OpMax: for (int c = 0; c < 4; ++c) r[c] = s[0][c] >= s[1][c] ? s[0][c] : s[1][c]; break;
        case OpSlt: for (int c = 0; c < 4; ++c) r[c] = s[0][c] < s[1][c] ? 1.0f : 0.0f; break;
        case OpSge: for (int c = 0; c < 4; ++c) r[c] = s[0][c] >= s[1][c] ? 1.0f : 0.0f; break;
        case OpDp3: std::fill(r, r + 4, s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2]); break;
        case OpDp4:
            std::fill(r, r + 4, s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2] + s[0][3] * s[1][3]);
            break;
        case OpRcp: {
            const float f = scalar == 1.0f ? 1.0f
                            : scalar == 0.0f ? std::numeric_limits<float>::infinity()
                                             : 1.0f / scalar;
            std::fill(r, r + 4, f);
            break;
        }
        case OpRsq: {
            const float a = std::fabs(scalar);
            const float f = a == 1.0f ? 1.0f
                            : a == 0.0f ? std::numeric_limits<float>::infinity()
                                        : 1.0f / std::sqrt(a);
            std::fill(r, r + 4, f);
            break;
        }
        case OpExp:
        case OpLog:
        case OpExpP:
        case OpLogP:
        case OpLit:
        case OpDst: ScalarStep(in.op, s, r); break;
        case OpFrc: for (int c = 0; c < 4; ++c) r[c] = s[0][c] - std::floor(s[0][c]); break;
        default: {
            bool four = false;
            const int rows = MatrixRows(in.op, &four);
            for (int row = 0; row < rows; ++row) {
                float m[4];
                read(in.src[1], row, m);
                r[row] = s[0][0] * m[0] + s[0][1] * m[1] + s[0][2] * m[2] + (four ? s[0][3] * m[3] : 0.0f);
            }
            break;
        }
        }
        float* dest = nullptr;
        switch (in.destKind) {
        case RegTemp: dest = temps[in.destIndex]; break;
        case RegAddress:
            // Floor, bounded so that an absurd value still addresses nothing.
            a0 = std::isfinite(r[0]) ? static_cast<int>(std::clamp(std::floor(r[0]), -4096.0f, 4096.0f)) : 4096;
            continue;
        case RegRasterOut:
            if (in.destIndex == OutPosition) {
                dest = out->position;
            } else {
                (in.destIndex == OutFog ? out->fog : out->pointSize) = r[0];
                continue;
            }
            break;
        case RegAttributeOut: dest = in.destIndex == 0 ? out->diffuse : out->specular; break;
        default: dest = out->texCoord[in.destIndex]; break;
        }
        for (int c = 0; c < 4; ++c) {
            if (in.mask & (1u << c)) {
                dest[c] = r[c];
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The device's programmable stage

namespace {

// Reads element e of n vertices, stride bytes apart from `vertices`, into
// input reg of the run's lanes, as FetchVertexInputs reads one vertex.
void FetchLanes(const VertexDeclaration::Element& e, const uint8_t* vertices, uint32_t stride, int n, VertexRun* run,
                uint32_t reg)
{
    float* v[4];
    for (int c = 0; c < 4; ++c) {
        v[c] = run->Input(static_cast<int>(reg), c);
    }
    if (e.type <= DeclFloat4) {
        // The common case, floats as they are, without a choice per vertex.
        const int count = static_cast<int>(e.type) + 1;
        for (int c = count; c < 4; ++c) {
            std::fill(v[c], v[c] + n, c == 3 ? 1.0f : 0.0f);
        }
        for (int c = 0; c < count; ++c) {
            const uint8_t* p = vertices + e.offset + 4 * c;
            for (int l = 0; l < n; ++l) {
                std::memcpy(&v[c][l], p + static_cast<size_t>(l) * stride, 4);
            }
        }
        return;
    }
    for (int l = 0; l < n; ++l) {
        float in[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        const uint8_t* p = vertices + static_cast<size_t>(l) * stride + e.offset;
        switch (e.type) {
        case DeclFloat1:
        case DeclFloat2:
        case DeclFloat3:
        case DeclFloat4:
            std::memcpy(in, p, DeclTypeBytes(e.type));
            break;
        case DeclColor: {
            uint32_t c;
            std::memcpy(&c, p, 4);
            in[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
            in[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
            in[2] = static_cast<float>(c & 0xFF) / 255.0f;
            in[3] = static_cast<float>(c >> 24) / 255.0f;
            break;
        }
        case DeclUByte4:
            for (int k = 0; k < 4; ++k) {
                in[k] = static_cast<float>(p[k]);
            }
            break;
        default:
            for (int k = 0; k < (e.type == DeclShort2 ? 2 : 4); ++k) {
                int16_t s;
                std::memcpy(&s, p + 2 * k, 2);
                in[k] = static_cast<float>(s);
            }
            break;
        }
        for (int c = 0; c < 4; ++c) {
            v[c][l] = in[c];
        }
    }
}

// One shaded vertex as the clipper sees it.
struct Shaded {
    float p[4];                               // clip space
    float d[4];                               // diffuse, 0 to 1
    float s[4];                               // specular, 0 to 1
    float t[kVertexTexCoords][4];             // oT0 to oT7
    float fog;
    float user[SoftDevice::kMaxClipPlanes];   // distances to the user clip planes
};

// What the vertex stage is handed: pre-transformed position, diffuse,
// specular (its alpha the fog factor) and the eight coordinate sets whole.
constexpr uint32_t kEmitFvf = FvfXyzRhw | FvfDiffuse | FvfSpecular | FvfTex8 | FvfTexCoordSize4(0) |
                              FvfTexCoordSize4(1) | FvfTexCoordSize4(2) | FvfTexCoordSize4(3) | FvfTexCoordSize4(4) |
                              FvfTexCoordSize4(5) | FvfTexCoordSize4(6) | FvfTexCoordSize4(7);
constexpr uint32_t kEmitStride = 24 + 16 * kVertexTexCoords;

Shaded Lerp(const Shaded& a, const Shaded& b, float t)
{
    Shaded r;
    const float* pa = &a.p[0];
    const float* pb = &b.p[0];
    float* pr = &r.p[0];
    for (size_t i = 0; i < sizeof(Shaded) / sizeof(float); ++i) {
        pr[i] = pa[i] + (pb[i] - pa[i]) * t;
    }
    return r;
}

// Distance to clip plane `plane` as ClipPlanes numbers them (the user
// clip planes' distances worked out with the position).
inline float PlaneDistance(const Shaded& v, int plane)
{
    return plane < kViewPlanes ? ViewPlaneDistance(v.p, plane) : v.user[plane - kViewPlanes];
}

// A colour or fog output as it leaves the program: within 0 to 1, an
// infinity at the end it points to, what is not a number 0. Each step is
// one the processor does without a branch (maximum, minimum): lighting
// makes colours that no branch predictor guesses.
inline float ClampOutput(float f)
{
    const float v = f > 0.0f ? f : 0.0f;   // NaN and below 0: 0
    return v < 1.0f ? v : 1.0f;            // above 1: 1
}

uint32_t PackColor(const float* c)
{
    auto channel = [](float f) { return static_cast<uint32_t>(ClampOutput(f) * 255.0f + 0.5f); };
    return channel(c[3]) << 24 | channel(c[0]) << 16 | channel(c[1]) << 8 | channel(c[2]);
}

// A shaded vertex as the vertex stage takes it: mapped to the viewport,
// colours packed, kEmitStride bytes.
void EmitBytes(const Shaded& s, const ViewportMap& viewport, uint8_t* bytes)
{
    float head[4];
    viewport.Map(s.p, head);
    std::memcpy(bytes, head, 16);
    const uint32_t diffuse = PackColor(s.d);
    const float spec[4] = {s.s[0], s.s[1], s.s[2], s.fog};
    const uint32_t specular = PackColor(spec);
    std::memcpy(bytes + 16, &diffuse, 4);
    std::memcpy(bytes + 20, &specular, 4);
    std::memcpy(bytes + 24, s.t, sizeof s.t);
}

}  // namespace

int32_t ShaderUnit::CreateVertexShader(const uint32_t* declaration, const uint32_t* code, uint32_t codeTokens,
                                       uint32_t* handle)
{
    if (handle == nullptr || declaration == nullptr || code == nullptr) {
        return kGfxInvalidCall;
    }
    try {
        auto entry = std::make_unique<VertexShaderEntry>();
        std::string why;
        if (!ParseVertexDeclaration(declaration, kMaxDeclTokens, &entry->declaration, &why) ||
            !entry->program.Load(code, codeTokens, &why)) {
            std::fprintf(stderr, "gfx: vertex shader refused: %s\n", why.c_str());
            return kGfxInvalidCall;
        }
        // Every input the program reads must be declared.
        uint32_t declared = 0;
        for (const VertexDeclaration::Element& e : entry->declaration.elements) {
            declared |= 1u << e.reg;
        }
        if ((entry->program.GetInputMask() & ~declared) != 0) {
            std::fprintf(stderr, "gfx: vertex shader reads undeclared inputs (mask 0x%X)\n",
                         entry->program.GetInputMask() & ~declared);
            return kGfxInvalidCall;
        }
        size_t slot = 0;
        while (slot < vertexShaders.size() && vertexShaders[slot] != nullptr) {
            ++slot;
        }
        if (slot >= kMaxShaders) {
            std::fprintf(stderr, "gfx: more than %u vertex shaders\n", kMaxShaders);
            return kGfxOutOfMemory;
        }
        if (slot == vertexShaders.size()) {
            vertexShaders.push_back(nullptr);
        }
        vertexShaders[slot] = std::move(entry);
        *handle = static_cast<uint32_t>(slot) << 1 | 1u;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: out of memory for a vertex shader\n");
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

int32_t ShaderUnit::DeleteVertexShader(uint32_t handle)
{
    const size_t slot = handle >> 1;
    if ((handle & 1u) == 0 || slot >= vertexShaders.size() || vertexShaders[slot] == nullptr) {
        return kGfxInvalidCall;
    }
    vertexShaders[slot].reset();
    if (bound == handle) {
        bound = 0;
    }
    return kGfxOk;
}

int32_t ShaderUnit::CreatePixelShader(const uint32_t* code, uint32_t codeTokens, uint32_t* handle)
{
    if (handle == nullptr || code == nullptr) {
        return kGfxInvalidCall;
    }
    try {
        auto program = std::make_shared<PixelProgram>();
        std::string why;
        if (!program->Load(code, codeTokens, &why)) {
            std::fprintf(stderr, "gfx: pixel shader refused: %s\n", why.c_str());
            return kGfxInvalidCall;
        }
        size_t slot = 0;
        while (slot < pixelShaders.size() && pixelShaders[slot] != nullptr) {
            ++slot;
        }
        if (slot >= kMaxShaders) {
            std::fprintf(stderr, "gfx: more than %u pixel shaders\n", kMaxShaders);
            return kGfxOutOfMemory;
        }
        if (slot == pixelShaders.size()) {
            pixelShaders.push_back(nullptr);
        }
        pixelShaders[slot] = std::move(program);
        *handle = static_cast<uint32_t>(slot) << 1 | 1u;
    } catch (const std::bad_alloc&) {
        return kGfxOutOfMemory;
    }
    return kGfxOk;
}

int32_t ShaderUnit::DeletePixelShader(uint32_t handle)
{
    const size_t slot = handle >> 1;
    if ((handle & 1u) == 0 || slot >= pixelShaders.size() || pixelShaders[slot] == nullptr) {
        return kGfxInvalidCall;
    }
    pixelShaders[slot].reset();
    return kGfxOk;
}

std::shared_ptr<const PixelProgram> ShaderUnit::FindPixelShader(uint32_t handle) const
{
    const size_t slot = handle >> 1;
    if ((handle & 1u) == 0 || slot >= pixelShaders.size()) {
        return nullptr;
    }
    return pixelShaders[slot];
}

int32_t ShaderUnit::SetConstant(uint32_t reg, const void* data, uint32_t count)
{
    if (data == nullptr || reg >= kVertexConstants || count > kVertexConstants - reg) {
        return kGfxInvalidCall;
    }
    std::memcpy(constants[reg], data, static_cast<size_t>(count) * 16);
    return kGfxOk;
}

int32_t ShaderUnit::GetConstant(uint32_t reg, void* data, uint32_t count) const
{
    if (data == nullptr || reg >= kVertexConstants || count > kVertexConstants - reg) {
        return kGfxInvalidCall;
    }
    std::memcpy(data, constants[reg], static_cast<size_t>(count) * 16);
    return kGfxOk;
}

int32_t ShaderUnit::Bind(uint32_t handle)
{
    if (handle == 0) {
        bound = 0;
        return kGfxOk;
    }
    const size_t slot = handle >> 1;
    if ((handle & 1u) == 0 || slot >= vertexShaders.size() || vertexShaders[slot] == nullptr) {
        std::fprintf(stderr, "gfx: no vertex shader 0x%X\n", handle);
        return kGfxInvalidCall;
    }
    for (const VertexDeclaration::Constant& c : vertexShaders[slot]->declaration.constants) {
        std::memcpy(constants[c.reg], c.value, sizeof c.value);
    }
    bound = handle;
    return kGfxOk;
}

void ShaderUnit::ResetStates()
{
    bound = 0;
    std::memset(constants, 0, sizeof constants);
}

namespace {

// The scratch a shader draw fills, kept by the shader unit between draws.
struct ShaderScratch {
    std::vector<float>& shaded;      // per vertex: kShadedFloats
    std::vector<uint8_t>& screen;    // pre-transformed vertices for the vertex stage
    std::vector<uint32_t>& emitted;  // the primitives' corners in screen
    std::vector<uint8_t>& whole;     // per shaded vertex: 1 when no plane clips it
};

constexpr size_t kShadedFloats = sizeof(Shaded) / sizeof(float);

// One shader draw on its way through the stages: its vertices shaded (the
// program is their transform), its primitives clipped and mapped to the
// viewport, then handed to the vertex stage's set-up as pre-transformed
// vertices.
class ShaderDraw {
public:
    ShaderDraw(DeviceCore& dc, const VertexDeclaration& declaration, const VertexProgram& program,
               const float (*constants)[4], const DrawSource& src, uint64_t first, uint64_t last,
               const ShaderScratch& scratch)
        : dc(dc), declaration(declaration), program(program), constants(constants), src(src), first(first),
          last(last), scratch(scratch),
          userPlanes(dc.rs[RsClipPlaneEnable] & ((1u << SoftDevice::kMaxClipPlanes) - 1u)), planes(userPlanes),
          viewport(dc.viewport), flat(dc.rs[RsShadeMode] == ShadeFlat),
          screenBytes(static_cast<size_t>(last - first + 1) * kEmitStride)
    {
    }

    // --- shade (the transform) ---
    // Shades vertices [from, to) a batch at a time, and maps those no
    // plane clips to the viewport. Each vertex depends on nothing but its
    // own inputs, so runs can be shaded on several threads at once.
    bool ShadeRange(uint64_t from, uint64_t to, VertexRun& run) const;

    // --- clip and map to the viewport ---
    // The primitives' vertices for the vertex stage (as outType, outCount
    // primitives of them).
    void Points();
    void Lines();
    void Triangles();

    // --- set up and bin ---
    // Records what the stages above made through the vertex stage.
    GfxResult Record();

    // Set when primitives were skipped for indices past the vertices.
    bool badIndex = false;

private:
    // Shaded vertex i of the draw; false when its index lies outside the
    // shaded run.
    bool Fetch(uint64_t i, Shaded* s) const
    {
        const uint64_t v = src.VertexOf(i);
        if (v < first || v > last) {
            return false;
        }
        std::memcpy(s, &scratch.shaded[static_cast<size_t>(v - first) * kShadedFloats], sizeof *s);
        return true;
    }
    // Adds a vertex the clipper made after the shaded ones, as the next
    // corner. The buffer only grows, so most draws write into room an
    // earlier draw made.
    void Emit(const Shaded& s)
    {
        std::vector<uint8_t>& screen = scratch.screen;
        if (screenBytes + kEmitStride > screen.size()) {
            screen.resize(std::max<size_t>(2 * screen.size(), screenBytes + 64 * kEmitStride));
        }
        EmitBytes(s, viewport, &screen[screenBytes]);
        scratch.emitted.push_back(static_cast<uint32_t>(screenBytes / kEmitStride));
        screenBytes += kEmitStride;
    }
    static float Distance(const Shaded& v, int plane) { return PlaneDistance(v, plane); }
    // The vertex stage takes a flat triangle's or line's colours from its
    // first corner: a clipped primitive's corners take those of the vertex
    // it was drawn with (each keeping its own fog).
    static void TakeColors(Shaded& to, const Shaded& from)
    {
        std::copy(from.d, from.d + 4, to.d);
        std::copy(from.s, from.s + 3, to.s);
    }

    DeviceCore& dc;
    const VertexDeclaration& declaration;
    const VertexProgram& program;
    const float (*constants)[4];
    const DrawSource& src;
    const uint64_t first, last;   // the run of vertices shaded
    const ShaderScratch scratch;
    // Planes a primitive is clipped against: the view volume's, then the
    // enabled user planes.
    const uint32_t userPlanes;
    const ClipPlanes planes;
    const ViewportMap viewport;
    const bool flat;
    // What the vertex stage is handed: the whole vertices where they were
    // shaded, then every vertex the clipper makes after them, and the
    // primitives' corners as indices into those, in order.
    size_t screenBytes;
    uint32_t outType = PrimTriangleList;
    uint32_t outCount = 0;
};

bool ShaderDraw::ShadeRange(uint64_t from, uint64_t to, VertexRun& run) const
{
    constexpr int kLanes = VertexRun::kLanes;
    if (!run.Begin(program, constants)) {
        return false;
    }
    const uint32_t used = program.GetInputMask();
    // A Shaded vertex starts with the outputs in VertexRun's order, up to
    // the fog: those the program never writes are the same for every
    // vertex, the others are read from their lanes.
    static_assert(offsetof(Shaded, fog) == 44 * sizeof(float), "outputs and Shaded agree up to the fog");
    const VertexShaderOutput defaults;
    Shaded start{};
    std::memcpy(&start, &defaults, offsetof(Shaded, fog) + sizeof(float));
    // Colours and fog (outputs 4 to 11 and 44) are clamped where they
    // leave the program, before clipping blends them; those the program
    // leaves alone start within 0 to 1.
    constexpr int kClamped = 9;
    int written = 0, clamped = 0;
    int writtenIndex[VertexRun::kOutputs], clampedIndex[kClamped];
    const uint64_t mask = program.GetOutputMask();
    for (int k = 0; k <= 44; ++k) {
        if (!(mask >> k & 1u)) {
            continue;
        }
        if ((k >= 4 && k < 12) || k == 44) {
            clampedIndex[clamped++] = k;
        } else {
            writtenIndex[written++] = k;
        }
    }
    for (uint64_t v = from; v < to; v += kLanes) {
        const int n = static_cast<int>(std::min<uint64_t>(kLanes, to - v));
        for (const VertexDeclaration::Element& e : declaration.elements) {
            if ((used >> e.reg & 1u) != 0) {
                FetchLanes(e, src.vertexData + v * src.stride, src.stride, n, &run, e.reg);
            }
        }
        run.Run();
        // Every lane of a clamped output at once.
        float clampedLanes[kClamped][kLanes];
        for (int k = 0; k < clamped; ++k) {
            const float* out = run.Output(clampedIndex[k]);
            for (int l = 0; l < kLanes; ++l) {
                clampedLanes[k][l] = ClampOutput(out[l]);
            }
        }
        for (int l = 0; l < n; ++l) {
            float f[kShadedFloats];
            std::memcpy(f, &start, sizeof f);
            for (int k = 0; k < written; ++k) {
                f[writtenIndex[k]] = run.Output(writtenIndex[k])[l];
            }
            for (int k = 0; k < clamped; ++k) {
                f[clampedIndex[k]] = clampedLanes[k][l];
            }
            Shaded s;
            std::memcpy(&s, f, sizeof s);
            // The user clip planes are given in clip space, where oPos lies.
            for (uint32_t k = 0; k < SoftDevice::kMaxClipPlanes; ++k) {
                const float* pl = dc.clipPlanes[k];
                s.user[k] =
                    (userPlanes >> k & 1u) ? pl[0] * s.p[0] + pl[1] * s.p[1] + pl[2] * s.p[2] + pl[3] * s.p[3] : 0.0f;
            }
            const size_t at = static_cast<size_t>(v + l - first);
            std::memcpy(&scratch.shaded[at * kShadedFloats], &s, sizeof s);
            // A vertex no plane clips goes to the vertex stage as it is
            // whenever its primitive's other corners are whole too.
            bool in = s.p[3] > 0.0f && std::isfinite(s.p[0]) && std::isfinite(s.p[1]);
            for (int i = 0; i < planes.count && in; ++i) {
                in = PlaneDistance(s, planes.plane[i]) >= 0.0f;
            }
            scratch.whole[at] = in;
            if (in) {
                EmitBytes(s, viewport, &scratch.screen[at * kEmitStride]);
            }
        }
    }
    return true;
}

void ShaderDraw::Points()
{
    outType = PrimPointList;
    Shaded a;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        if (!Fetch(i, &a)) {
            badIndex = true;
            continue;
        }
        bool in = a.p[3] > 0.0f;
        for (int k = 0; k < planes.count && in; ++k) {
            in = PlaneDistance(a, planes.plane[k]) >= 0.0f;
        }
        if (in) {
            Emit(a);
            ++outCount;
        }
    }
}

void ShaderDraw::Lines()
{
    outType = PrimLineList;
    Shaded a, b;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        const uint64_t i0 = src.type == PrimLineList ? 2ull * i : i;
        if (!Fetch(i0, &a) || !Fetch(i0 + 1, &b)) {
            badIndex = true;
            continue;
        }
        const Shaded drawn = a;
        if (ClipLine(a, b, planes, Distance) && a.p[3] > 0.0f && b.p[3] > 0.0f) {
            if (flat) {
                TakeColors(a, drawn);
            }
            Emit(a);
            Emit(b);
            ++outCount;
        }
    }
}

void ShaderDraw::Triangles()
{
    outType = PrimTriangleList;
    for (uint32_t i = 0; i < src.primitiveCount; ++i) {
        uint64_t i0 = 0, i1 = 0, i2 = 0;
        src.Corners(i, &i0, &i1, &i2);
        // Whole triangles pass as they are, as the clipper below would hand
        // them on; a flat fan's triangle starts at its first vertex, i + 1
        // (the same corners turned round).
        const uint64_t v0 = src.VertexOf(i0), v1 = src.VertexOf(i1), v2 = src.VertexOf(i2);
        if (v0 >= first && v0 <= last && v1 >= first && v1 <= last && v2 >= first && v2 <= last &&
            scratch.whole[v0 - first] && scratch.whole[v1 - first] && scratch.whole[v2 - first]) {
            const bool turn = flat && src.type == PrimTriangleFan;
            for (const uint64_t v : {turn ? v1 : v0, turn ? v2 : v1, turn ? v0 : v2}) {
                scratch.emitted.push_back(static_cast<uint32_t>(v - first));
            }
            ++outCount;
            continue;
        }
        // Each plane adds at most one corner: 3 + 12.
        Shaded poly[2][kViewPlanes + SoftDevice::kMaxClipPlanes + 3];
        if (!Fetch(i0, &poly[0][0]) || !Fetch(i1, &poly[0][1]) || !Fetch(i2, &poly[0][2])) {
            badIndex = true;
            continue;
        }
        const Shaded drawn = poly[0][src.FlatCorner()];
        Shaded* out = poly[0];
        Shaded* other = poly[1];
        const int n = ClipPolygon(out, other, 3, planes, Distance);
        bool usable = n >= 3;
        for (int k = 0; k < n && usable; ++k) {
            usable = out[k].p[3] > 0.0f && std::isfinite(out[k].p[0]) && std::isfinite(out[k].p[1]);
        }
        for (int k = 0; usable && flat && k < n; ++k) {
            TakeColors(out[k], drawn);
        }
        for (int k = 1; usable && k + 1 < n; ++k) {
            Emit(out[0]);
            Emit(out[k]);
            Emit(out[k + 1]);
            ++outCount;
        }
    }
}

GfxResult ShaderDraw::Record()
{
    if (outCount == 0) {
        return kGfxOk;
    }
    if (screenBytes > UINT32_MAX || scratch.emitted.size() > UINT32_MAX / 4) {
        std::fprintf(stderr, "gfx: shader draw of %llu vertices is too large to record\n",
                     static_cast<unsigned long long>(last - first + 1));
        return kGfxOutOfMemory;
    }
    // The vertex stage reads the format from the device state; lend it ours.
    const uint32_t savedFvf = dc.fvf;
    dc.fvf = kEmitFvf;
    const GfxResult r = DrawCore(dc, outType, outCount, scratch.screen.data(), static_cast<uint32_t>(screenBytes),
                                 kEmitStride, reinterpret_cast<const uint8_t*>(scratch.emitted.data()),
                                 static_cast<uint32_t>(scratch.emitted.size() * 4), FormatIndex32, 0);
    dc.fvf = savedFvf;
    return r;
}

}  // namespace

int32_t ShaderUnit::Draw(DeviceCore& dc, uint32_t type, uint32_t primitiveCount, const uint8_t* vertexData,
                         uint32_t vertexBytes, uint32_t stride, const uint8_t* indexData, uint32_t indexBytes,
                         uint32_t indexFormat, uint32_t baseVertex)
{
    const size_t slot = bound >> 1;
    if (!dc.inScene || slot >= vertexShaders.size() || vertexShaders[slot] == nullptr) {
        return kGfxInvalidCall;
    }
    const VertexShaderEntry& shader = *vertexShaders[slot];
    if (stride < shader.declaration.stride) {
        std::fprintf(stderr, "gfx: shader draw with stride %u under the declared %u\n", stride,
                     shader.declaration.stride);
        return kGfxInvalidCall;
    }
    DrawSource src;
    const GfxResult checked =
        CheckDraw(type, primitiveCount, vertexData, vertexBytes, std::max<uint32_t>(shader.declaration.stride, 1),
                  stride, indexData, indexBytes, indexFormat, baseVertex, "shader draw", &src);
    if (checked != kGfxOk || dc.lost) {
        return checked;
    }
    // Shade only the run of vertices the draw touches.
    uint64_t first = 0, last = 0;
    if (!src.TouchedRange(&first, &last)) {
        std::fprintf(stderr, "gfx: shader draw skipped primitives whose indices lie outside the vertices\n");
        return kGfxOk;
    }
    const uint64_t total = last - first + 1;
    float c[kVertexConstants][4];
    std::memcpy(c, constants, sizeof c);
    shader.program.ApplyDefinitions(c);
    try {
        shaded.resize(static_cast<size_t>(total) * kShadedFloats);
        screen.resize(static_cast<size_t>(total) * kEmitStride);
        whole.resize(static_cast<size_t>(total));
        emitted.clear();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: out of memory shading %llu vertices\n", static_cast<unsigned long long>(total));
        return kGfxOutOfMemory;
    }
    ShaderDraw draw(dc, shader.declaration, shader.program, c, src, first, last,
                    ShaderScratch{shaded, screen, emitted, whole});
    // Large meshes are shaded on every thread, in runs of this many
    // vertices, unless the workers are drawing an earlier part of the frame:
    // then this thread shades while they draw rather than wait for them.
    constexpr uint64_t kShadeRun = 1024;
    bool shadedAll = true;
    if (total >= 2 * kShadeRun && dc.pool.GetThreadCount() > 1 && dc.pool.Idle()) {
        const int runs = static_cast<int>((total + kShadeRun - 1) / kShadeRun);
        std::atomic<bool> ok{true};
        dc.pool.Run(runs, [&](int k) {
            const uint64_t from = first + static_cast<uint64_t>(k) * kShadeRun;
            VertexRun lanes;
            if (!draw.ShadeRange(from, std::min(from + kShadeRun, last + 1), lanes)) {
                ok = false;
            }
        });
        shadedAll = ok;
    } else {
        shadedAll = draw.ShadeRange(first, last + 1, run);
    }
    if (!shadedAll) {
        std::fprintf(stderr, "gfx: out of memory shading %llu vertices\n", static_cast<unsigned long long>(total));
        return kGfxOutOfMemory;
    }
    try {
        switch (type) {
        case PrimPointList: draw.Points(); break;
        case PrimLineList:
        case PrimLineStrip: draw.Lines(); break;
        default: draw.Triangles(); break;
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "gfx: out of memory recording a shader draw\n");
        return kGfxOutOfMemory;
    }
    if (draw.badIndex) {
        std::fprintf(stderr, "gfx: shader draw skipped primitives whose indices lie outside the vertices\n");
    }
    return draw.Record();
}

}  // namespace platform
