// Pixel shader 1.0 to 1.4 programs: decoding, the rules, and the
// interpreter. The code is checked once when it is loaded, so running it
// needs no test beyond what the data decides (texkill, divisions).
#include "platform/gfx/pixel_shader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gfx/shader_asm.h"
#include "platform/gfx/soft_device.h"

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

constexpr uint8_t kIdentity[4] = {0, 1, 2, 3};

bool IsIdentity(const PixelSource& s)
{
    return std::memcmp(s.swizzle, kIdentity, 4) == 0;
}

// The instructions that end a texm3x2 or texm3x3 run, and those that start one.
bool EndsMatrix2(uint32_t op)
{
    return op == OpTexM3x2Tex || op == OpTexM3x2Depth;
}

bool EndsMatrix3(uint32_t op)
{
    return op == OpTexM3x3Tex || op == OpTexM3x3Spec || op == OpTexM3x3VSpec || op == OpTexM3x3;
}

// Texture instructions of 1.0 to 1.3 that read another t register.
bool ReadsTexture(uint32_t op)
{
    switch (op) {
    case OpTexBem: case OpTexBemL: case OpTexReg2Ar: case OpTexReg2Gb: case OpTexReg2Rgb:
    case OpTexM3x2Pad: case OpTexM3x2Tex: case OpTexM3x2Depth: case OpTexM3x3Pad: case OpTexM3x3Tex:
    case OpTexM3x3Spec: case OpTexM3x3VSpec: case OpTexM3x3: case OpTexDp3Tex: case OpTexDp3:
        return true;
    default:
        return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Decoding

bool DecodePixelInstruction(uint32_t version, const uint32_t* code, size_t available, PixelInstruction* out,
                            size_t* used, std::string* why)
{
    if (code == nullptr || available == 0 || out == nullptr || used == nullptr) {
        return SetError(why, "no instruction");
    }
    const uint32_t t = code[0];
    const uint32_t op = t & 0xFFFFu;
    InstructionInfo info;
    if ((version & 0xFFFF0000u) != kPixelVersionBase || !LookUpInstruction(version, op, &info) ||
        (t & kInstructionReservedBits) != 0) {
        return SetError(why, "unknown instruction");
    }
    const size_t params = static_cast<size_t>(info.params);
    if (1 + params > available) {
        return SetError(why, "the code ends inside an instruction");
    }
    PixelInstruction in;
    in.op = op;
    in.texture = info.texture;
    in.coIssue = (t & kCoIssueBit) != 0;
    const uint32_t* p = code + 1;
    if (params > 0) {
        const uint32_t d = p[0];
        in.hasDest = true;
        in.destKind = static_cast<uint8_t>((d >> kKindShift) & 7u);
        in.destIndex = static_cast<uint8_t>(d & 0x7FFu);
        in.mask = static_cast<uint8_t>((d >> kMaskShift) & 0xFu);
        in.saturate = (d & kSaturateBit) != 0;
        const uint32_t shift = (d >> kShiftShift) & 0xFu;
        // Bits 11-15 and 21-23 are not used by version 1 code.
        if ((d & kParamBit) == 0 || (d & 0x0000F800u) != 0 || (d & 0x00E00000u) != 0 || (d & 0x7FFu) > 7 ||
            in.mask == 0 || (shift > 3 && shift < 0xD)) {
            return SetError(why, "bad destination parameter");
        }
        in.shift = static_cast<int8_t>(shift <= 3 ? static_cast<int>(shift) : static_cast<int>(shift) - 16);
    }
    if (op == OpDef) {
        if (in.destKind != RegConst || in.mask != 0xF || in.saturate || in.shift != 0) {
            return SetError(why, "def needs a constant register");
        }
        for (int k = 0; k < 4; ++k) {
            std::memcpy(&in.value[k], &p[1 + k], 4);
            // A constant that is not a number reads as zero.
            if (!std::isfinite(in.value[k])) {
                in.value[k] = 0.0f;
            }
        }
        *out = in;
        *used = 1 + params;
        return true;
    }
    in.sourceCount = static_cast<uint8_t>(params > 1 ? params - 1 : 0);
    for (int k = 0; k < in.sourceCount; ++k) {
        const uint32_t s = p[1 + k];
        PixelSource& src = in.src[k];
        src.kind = static_cast<uint8_t>((s >> kKindShift) & 7u);
        src.index = static_cast<uint8_t>(s & 0x7FFu);
        src.modifier = static_cast<uint8_t>((s >> kModifierShift) & 0xFu);
        if ((s & kParamBit) == 0 || (s & 0x0000F800u) != 0 || (s & 0x7FFu) > 7 || src.modifier > ModDivideW) {
            return SetError(why, "bad source parameter");
        }
        for (int c = 0; c < 4; ++c) {
            src.swizzle[c] = static_cast<uint8_t>((s >> (kSwizzleShift + 2 * c)) & 3u);
        }
    }
    *out = in;
    *used = 1 + params;
    return true;
}

// ---------------------------------------------------------------------------
// Rules

PixelRules::PixelRules(uint32_t version) : minor(static_cast<int>(version & 0xFFu)) {}

bool PixelRules::Add(const PixelInstruction& in, std::string* why)
{
    if (in.op == OpPhase) {
        if (phaseSeen) {
            return SetError(why, "only one phase");
        }
        phaseSeen = true;
        arithmeticSeen = false;
        lastArithmetic = false;
        textureCount = 0;
        arithmeticCount = 0;
        return true;
    }
    if (in.op == OpDef) {
        if (in.coIssue || in.destIndex >= kPixelConstants) {
            return SetError(why, "def needs one of c0 to c7");
        }
        return true;
    }
    if (in.op == OpNop) {
        if (in.coIssue) {
            return SetError(why, "nop cannot be co-issued");
        }
        lastArithmetic = false;
        return true;
    }
    return in.texture ? Texture(in, why) : Arithmetic(in, why);
}

bool PixelRules::Texture(const PixelInstruction& in, std::string* why)
{
    if (in.coIssue || in.saturate || in.shift != 0) {
        return SetError(why, "texture instructions take no modifier and are not co-issued");
    }
    if (arithmeticSeen) {
        return SetError(why, minor == 4 ? "texture instructions come before arithmetic in each phase"
                                        : "texture instructions come before arithmetic");
    }
    if (++textureCount > (minor == 4 ? kMaxPixelTexture14 : kMaxPixelTexture)) {
        return SetError(why, "too many texture instructions");
    }
    lastArithmetic = false;
    if (minor == 4) {
        const int stage = in.destIndex;
        switch (in.op) {
        case OpTexKill:
            if ((in.destKind != RegTemp && in.destKind != RegTexture) || in.destIndex >= 6) {
                return SetError(why, "texkill takes r0 to r5 or t0 to t5");
            }
            return true;
        case OpTexDepth:
            if (in.destKind != RegTemp || in.destIndex != 5 || !phaseSeen) {
                return SetError(why, "texdepth takes r5, after the phase");
            }
            return true;
        default:
            break;
        }
        if (in.destKind != RegTemp || stage >= 6) {
            return SetError(why, "texld and texcrd write r0 to r5");
        }
        const PixelSource& s = in.src[0];
        const bool coordinates = s.kind == RegTexture && s.index < 6;
        const bool dependent = in.op == OpTex && s.kind == RegTemp && s.index < 6 && phaseSeen;
        if (!coordinates && !dependent) {
            return SetError(why, in.op == OpTex ? "texld reads t0 to t5, or r0 to r5 after the phase"
                                                : "texcrd reads t0 to t5");
        }
        if (s.modifier != ModNone && s.modifier != ModDivideZ && s.modifier != ModDivideW) {
            return SetError(why, "texld and texcrd take only _dz and _dw");
        }
        if (in.op == OpTexCoord && in.mask == 0x8) {
            return SetError(why, "texcrd writes colour components");
        }
        if (in.destIndex == 0) {
            r0Written = true;
        }
        return true;
    }
    // Versions 1.0 to 1.3: each instruction writes its own t register, once,
    // and the stage and coordinate set of that number.
    const int m = in.destIndex;
    if (in.destKind != RegTexture || m >= 4 || in.mask != 0xF) {
        return SetError(why, "texture instructions write a whole t register (t0 to t3)");
    }
    if (in.op != OpTexKill && (textureWritten >> m & 1u)) {
        return SetError(why, "a t register is written once");
    }
    if (ReadsTexture(in.op)) {
        const PixelSource& s = in.src[0];
        if (s.kind != RegTexture || s.index >= m || !(textureWritten >> s.index & 1u)) {
            return SetError(why, "the source is a t register written before, numbered below the destination");
        }
        const bool matrix = in.op != OpTexBem && in.op != OpTexBemL && in.op != OpTexReg2Ar &&
                            in.op != OpTexReg2Gb && in.op != OpTexReg2Rgb;
        if (!IsIdentity(s) || (s.modifier != ModNone && !(matrix && s.modifier == ModSign))) {
            return SetError(why, "texture instruction sources take no swizzle, and only matrix rows _bx2");
        }
        if (in.op == OpTexM3x3Spec) {
            const PixelSource& e = in.src[1];
            if (e.kind != RegConst || e.index >= kPixelConstants || e.modifier != ModNone || !IsIdentity(e)) {
                return SetError(why, "texm3x3spec reads its eye vector from c0 to c7");
            }
        }
    }
    // The matrix rows come in runs: pad, then tex or depth (3x2); pad, pad,
    // then one of the four (3x3), on consecutive registers with one source.
    const bool pad = in.op == OpTexM3x2Pad || in.op == OpTexM3x3Pad;
    if (matrixRows > 0) {
        const bool fits = matrixOp == OpTexM3x2Pad ? EndsMatrix2(in.op)
                                                   : (matrixRows == 2 ? in.op == OpTexM3x3Pad : EndsMatrix3(in.op));
        if (!fits || m != matrixNext || in.src[0].index != matrixSource) {
            return SetError(why, "a texm3x2 or texm3x3 run goes on with its next row");
        }
        --matrixRows;
        ++matrixNext;
    } else if (pad) {
        matrixOp = in.op;
        matrixRows = in.op == OpTexM3x2Pad ? 1 : 2;
        matrixNext = m + 1;
        matrixSource = in.src[0].index;
        if (m + matrixRows >= 4) {
            return SetError(why, "the matrix rows run past t3");
        }
    } else if (EndsMatrix2(in.op) || EndsMatrix3(in.op)) {
        return SetError(why, "a texm3x2 or texm3x3 row without its pad rows");
    }
    if (in.op != OpTexKill) {
        textureWritten |= 1u << m;
    }
    return true;
}

bool PixelRules::Arithmetic(const PixelInstruction& in, std::string* why)
{
    const int temps = minor == 4 ? 6 : 2;
    if (matrixRows > 0) {
        return SetError(why, "a texm3x2 or texm3x3 run ends before arithmetic");
    }
    // Versions 1.1 to 1.3 read and write the t registers as r registers
    // once the texture instructions are done (programs keep values there).
    const bool writable = in.destKind == RegTemp
                              ? in.destIndex < temps
                              : in.destKind == RegTexture && minor >= 1 && minor <= 3 && in.destIndex < 4;
    if (!writable) {
        return SetError(why, minor == 4   ? "only r0 to r5 can be written"
                             : minor == 0 ? "only r0 and r1 can be written"
                                          : "only r0, r1 and t0 to t3 can be written");
    }
    if (minor < 4 && (in.shift == 3 || in.shift < -1)) {
        return SetError(why, "_x8, _d4 and _d8 need version 1.4");
    }
    for (int k = 0; k < in.sourceCount; ++k) {
        const PixelSource& s = in.src[k];
        bool ok = false;
        switch (s.kind) {
        case RegTemp: ok = s.index < temps; break;
        case RegTexture: ok = minor < 4 && s.index < 4; break;
        case RegInput: ok = s.index < 2; break;
        case RegConst: ok = s.index < kPixelConstants; break;
        default: break;
        }
        if (!ok) {
            return SetError(why, minor == 4 && s.kind == RegTexture
                                     ? "t registers are read only by texld and texcrd"
                                     : "a source names a register this pixel shader version does not have");
        }
        if (s.modifier == ModDivideZ || s.modifier == ModDivideW ||
            (minor < 4 && (s.modifier == ModX2 || s.modifier == ModX2Negate))) {
            return SetError(why, "a source modifier this instruction or version does not take");
        }
    }
    if (in.op == OpBem) {
        if (phaseSeen || in.mask != 0x3 || in.src[1].kind != RegTemp || in.src[0].kind == RegInput) {
            return SetError(why, "bem writes .rg of r0 to r5 before the phase, from r or c and r");
        }
    }
    arithmeticSeen = true;
    if (in.destKind == RegTemp && in.destIndex == 0) {
        r0Written = true;
    }
    if (in.coIssue) {
        if (!lastArithmetic || !((lastMask == 0x7 && in.mask == 0x8) || (lastMask == 0x8 && in.mask == 0x7))) {
            return SetError(why, "a co-issued pair writes colour in one half and alpha in the other");
        }
        lastArithmetic = false;
        return true;
    }
    if (++arithmeticCount > kMaxPixelArithmetic) {
        return SetError(why, "more than 8 arithmetic instructions");
    }
    lastArithmetic = true;
    lastMask = in.mask;
    return true;
}

bool PixelRules::Finish(std::string* why)
{
    if (matrixRows > 0) {
        return SetError(why, "a texm3x2 or texm3x3 run is cut short");
    }
    if (!r0Written) {
        return SetError(why, "r0 is never written");
    }
    return true;
}

// ---------------------------------------------------------------------------
// Loading

bool PixelProgram::Load(const uint32_t* code, size_t tokens, std::string* error)
{
    loaded = false;
    count = 0;
    coordMask = stageMask = 0;
    writesDepth = false;
    defMask = 0;
    std::fill(stageCoord, stageCoord + kPixelStages, static_cast<int8_t>(-1));
    if (code == nullptr || tokens < 2) {
        return SetError(error, "no code");
    }
    const uint32_t version = code[0];
    if ((version & 0xFFFFFF00u) != (kPixelVersionBase | 0x100u) || (version & 0xFFu) > 4) {
        return SetError(error, "not pixel shader 1.x code");
    }
    const int m = static_cast<int>(version & 0xFFu);
    PixelRules rules(version);
    const size_t limit = std::min(tokens, kMaxCodeTokens);
    size_t stored = 0;
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
            i += 1 + ((t >> 16) & 0x7FFFu);
            continue;
        }
        PixelInstruction in;
        size_t used = 0;
        std::string why;
        if (!DecodePixelInstruction(version, code + i, limit - i, &in, &used, &why) || !rules.Add(in, &why)) {
            return SetError(error, why + " at token " + std::to_string(i));
        }
        i += used;
        if (in.op == OpDef) {
            // A later def of the same register wins.
            std::memcpy(defValues[in.destIndex], in.value, sizeof in.value);
            defMask |= 1u << in.destIndex;
            continue;
        }
        if (in.op == OpNop) {
            continue;
        }
        if (stored >= kMaxInstructions) {
            return SetError(error, "too many instructions");
        }
        program[stored++] = in;
        // What the program reads of the interpolated coordinates and which
        // stages it samples (the stage's coordinate set when it reads one
        // directly, for choosing its filter).
        const int d = in.destIndex;
        if (m < 4) {
            if (in.texture) {
                coordMask |= (in.op == OpTexReg2Ar || in.op == OpTexReg2Gb || in.op == OpTexReg2Rgb) ? 0u : 1u << d;
                if (in.op == OpTex || in.op == OpTexBem || in.op == OpTexBemL) {
                    stageMask |= 1u << d;
                    stageCoord[d] = static_cast<int8_t>(d);
                } else if (in.op == OpTexReg2Ar || in.op == OpTexReg2Gb || in.op == OpTexReg2Rgb ||
                           in.op == OpTexM3x2Tex || in.op == OpTexM3x3Tex || in.op == OpTexM3x3Spec ||
                           in.op == OpTexM3x3VSpec || in.op == OpTexDp3Tex) {
                    stageMask |= 1u << d;
                }
                writesDepth = writesDepth || in.op == OpTexM3x2Depth;
            }
        } else {
            const PixelSource& s = in.src[0];
            if ((in.op == OpTex || in.op == OpTexCoord) && s.kind == RegTexture) {
                coordMask |= 1u << s.index;
            }
            if (in.op == OpTexKill && in.destKind == RegTexture) {
                coordMask |= 1u << d;
            }
            if (in.op == OpTex) {
                stageMask |= 1u << d;
                if (s.kind == RegTexture && stageCoord[d] < 0) {
                    stageCoord[d] = static_cast<int8_t>(s.index);
                }
            }
            writesDepth = writesDepth || in.op == OpTexDepth;
        }
    }
    std::string why;
    if (!rules.Finish(&why)) {
        return SetError(error, why);
    }
    count = stored;
    minor = m;
    loaded = true;
    return true;
}

void PixelProgram::ApplyDefinitions(float (*constants)[4]) const
{
    for (int k = 0; k < kPixelConstants; ++k) {
        if (defMask >> k & 1u) {
            std::memcpy(constants[k], defValues[k], sizeof defValues[k]);
        }
    }
}

// ---------------------------------------------------------------------------
// Running

namespace {

inline float Saturate(float v)
{
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;   // NaN gives 0
}

inline float Keep(float v, float limit)
{
    return v > -limit ? (v < limit ? v : limit) : (v == v ? -limit : 0.0f);
}

inline float Dot3(const float* a, const float* b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

struct Machine {
    const PixelProgram* program = nullptr;
    PixelContext* ctx = nullptr;
    int minor = 0;
    float range = 1.0f;
    float r[6][4] = {};
    float t[4][4] = {};   // versions 1.0 to 1.3
    float pad[2] = {};    // the matrix rows done so far
    int padRows = 0;

    // A texture sample at (u, v) in texture coordinates, as 0 to 1 floats.
    void Sample(int stage, float u, float v, float* out) const
    {
        const StageSnap& st = ctx->snap->stage[stage];
        uint32_t texel = 0xFFFFFFFFu;
        if (st.tex.texels != nullptr) {
            texel = SampleStage(st, ToFixed(static_cast<double>(u) * st.tex.width),
                                ToFixed(static_cast<double>(v) * st.tex.height), (ctx->linearStages >> stage) & 1);
        }
        out[0] = static_cast<float>((texel >> 16) & 0xFF) / 255.0f;
        out[1] = static_cast<float>((texel >> 8) & 0xFF) / 255.0f;
        out[2] = static_cast<float>(texel & 0xFF) / 255.0f;
        out[3] = static_cast<float>(texel >> 24) / 255.0f;
    }

    const float* Register(uint8_t kind, uint8_t index) const
    {
        switch (kind) {
        case RegTemp: return r[index];
        case RegInput: return ctx->color[index];
        case RegConst: return ctx->snap->constants[index];
        default: return minor == 4 ? ctx->coord[index] : t[index];
        }
    }

    void Read(const PixelSource& s, float* v) const
    {
        const float* reg = Register(s.kind, s.index);
        for (int c = 0; c < 4; ++c) {
            const float x = reg[s.swizzle[c]];
            switch (s.modifier) {
            case ModNegate: v[c] = -x; break;
            case ModBias: v[c] = x - 0.5f; break;
            case ModBiasNegate: v[c] = 0.5f - x; break;
            case ModSign: v[c] = 2.0f * (x - 0.5f); break;
            case ModSignNegate: v[c] = -2.0f * (x - 0.5f); break;
            case ModComplement: v[c] = 1.0f - x; break;
            case ModX2: v[c] = 2.0f * x; break;
            case ModX2Negate: v[c] = -2.0f * x; break;
            default: v[c] = x; break;
            }
        }
    }

    // texld and texcrd: the source, divided by its z or w for _dz and _dw
    // (a zero divisor leaves x and y as they are).
    void ReadCoordinates(const PixelSource& s, float* v) const
    {
        PixelSource plain = s;
        plain.modifier = ModNone;
        Read(plain, v);
        if (s.modifier == ModDivideZ || s.modifier == ModDivideW) {
            const float d = v[s.modifier == ModDivideZ ? 2 : 3];
            if (d != 0.0f) {
                v[0] /= d;
                v[1] /= d;
            }
        }
    }

    // Shift, saturate, keep to the range, write the masked components.
    void Write(const PixelInstruction& in, const float* value, float limit)
    {
        float* dest = in.destKind == RegTemp ? r[in.destIndex] : t[in.destIndex];
        const float scale = in.shift >= 0 ? static_cast<float>(1 << in.shift) : 1.0f / static_cast<float>(1 << -in.shift);
        for (int c = 0; c < 4; ++c) {
            if (!(in.mask >> c & 1u)) {
                continue;
            }
            float v = value[c] * scale;
            if (in.saturate) {
                v = Saturate(v);
            }
            dest[c] = Keep(v, limit);
        }
    }

    void Arithmetic(const PixelInstruction& in, float* out) const
    {
        float s[3][4] = {};
        for (int k = 0; k < in.sourceCount; ++k) {
            Read(in.src[k], s[k]);
        }
        switch (in.op) {
        case OpMov: std::copy(s[0], s[0] + 4, out); break;
        case OpAdd: for (int c = 0; c < 4; ++c) out[c] = s[0][c] + s[1][c]; break;
        case OpSub: for (int c = 0; c < 4; ++c) out[c] = s[0][c] - s[1][c]; break;
        case OpMul: for (int c = 0; c < 4; ++c) out[c] = s[0][c] * s[1][c]; break;
        case OpMad: for (int c = 0; c < 4; ++c) out[c] = s[0][c] * s[1][c] + s[2][c]; break;
        case OpLrp:
            for (int c = 0; c < 4; ++c) out[c] = s[0][c] * s[1][c] + (1.0f - s[0][c]) * s[2][c];
            break;
        case OpDp3: std::fill(out, out + 4, Dot3(s[0], s[1])); break;
        case OpDp4: std::fill(out, out + 4, Dot3(s[0], s[1]) + s[0][3] * s[1][3]); break;
        case OpCnd: for (int c = 0; c < 4; ++c) out[c] = s[0][c] > 0.5f ? s[1][c] : s[2][c]; break;
        case OpCmp: for (int c = 0; c < 4; ++c) out[c] = s[0][c] >= 0.0f ? s[1][c] : s[2][c]; break;
        case OpBem: {
            const BumpSnap& b = ctx->snap->bump[in.destIndex];
            out[0] = s[0][0] + b.matrix[0] * s[1][0] + b.matrix[2] * s[1][1];
            out[1] = s[0][1] + b.matrix[1] * s[1][0] + b.matrix[3] * s[1][1];
            out[2] = out[3] = 0.0f;
            break;
        }
        default: std::fill(out, out + 4, 0.0f); break;
        }
    }

    // Version 1.4 texture instructions; false when the pixel is dropped.
    bool Texture14(const PixelInstruction& in)
    {
        float v[4];
        switch (in.op) {
        case OpTexCoord:
            ReadCoordinates(in.src[0], v);
            Write(in, v, kMaxTextureRepeat);
            return true;
        case OpTex: {
            ReadCoordinates(in.src[0], v);
            float texel[4];
            Sample(in.destIndex, v[0], v[1], texel);
            Write(in, texel, range);
            return true;
        }
        case OpTexKill: {
            const float* k = in.destKind == RegTemp ? r[in.destIndex] : ctx->coord[in.destIndex];
            return !(k[0] < 0.0f || k[1] < 0.0f || k[2] < 0.0f);
        }
        default: {   // texdepth
            const float* d = r[5];
            ctx->depth = d[1] == 0.0f ? 1.0f : Saturate(d[0] / d[1]);
            return true;
        }
        }
    }

    // Versions 1.0 to 1.3: instruction writes t(m) from coordinate set m.
    bool Texture(const PixelInstruction& in)
    {
        const int m = in.destIndex;
        const float* c = ctx->coord[m];
        float src[4] = {};
        if (ReadsTexture(in.op)) {
            Read(in.src[0], src);
        }
        float out[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        switch (in.op) {
        case OpTexKill: return !(c[0] < 0.0f || c[1] < 0.0f || c[2] < 0.0f);
        case OpTexCoord:
            out[0] = Saturate(c[0]);
            out[1] = Saturate(c[1]);
            out[2] = Saturate(c[2]);
            out[3] = 1.0f;
            break;
        case OpTex: Sample(m, c[0], c[1], out); break;
        case OpTexBem:
        case OpTexBemL: {
            const BumpSnap& b = ctx->snap->bump[m];
            Sample(m, c[0] + b.matrix[0] * src[0] + b.matrix[2] * src[1],
                   c[1] + b.matrix[1] * src[0] + b.matrix[3] * src[1], out);
            if (in.op == OpTexBemL) {
                const float l = Saturate(src[2] * b.scale + b.offset);
                out[0] *= l;
                out[1] *= l;
                out[2] *= l;
            }
            break;
        }
        case OpTexReg2Ar: Sample(m, src[3], src[0], out); break;
        case OpTexReg2Gb: Sample(m, src[1], src[2], out); break;
        case OpTexReg2Rgb: Sample(m, src[0], src[1], out); break;
        case OpTexM3x2Pad:
        case OpTexM3x3Pad:
            pad[padRows++ & 1] = Dot3(c, src);
            break;
        case OpTexM3x2Tex: Sample(m, pad[0], Dot3(c, src), out); padRows = 0; break;
        case OpTexM3x2Depth: {
            const float w = Dot3(c, src);
            ctx->depth = w == 0.0f ? 1.0f : Saturate(pad[0] / w);
            padRows = 0;
            break;
        }
        case OpTexDp3Tex: Sample(m, Dot3(c, src), 0.0f, out); break;
        case OpTexDp3: std::fill(out, out + 4, Keep(Dot3(c, src), range)); break;
        default: {
            // The 3x3 rows: a normal N, then a texture read at N, N itself,
            // or at the eye vector E reflected about N.
            const float n[3] = {pad[0], pad[1], Dot3(c, src)};
            padRows = 0;
            if (in.op == OpTexM3x3Tex) {
                Sample(m, n[0], n[1], out);
            } else if (in.op == OpTexM3x3) {
                for (int k = 0; k < 3; ++k) out[k] = Keep(n[k], range);
                out[3] = 1.0f;
            } else {
                float e[3];
                if (in.op == OpTexM3x3Spec) {
                    const float* k = ctx->snap->constants[in.src[1].index];
                    e[0] = k[0], e[1] = k[1], e[2] = k[2];
                } else {
                    e[0] = ctx->coord[m - 2][3], e[1] = ctx->coord[m - 1][3], e[2] = c[3];
                }
                const float nn = Dot3(n, n);
                const float f = nn != 0.0f ? 2.0f * Dot3(n, e) / nn : 0.0f;
                Sample(m, f * n[0] - e[0], f * n[1] - e[1], out);
            }
            break;
        }
        }
        std::copy(out, out + 4, t[m]);
        return true;
    }
};

}  // namespace

bool PixelProgram::Run(PixelContext& ctx, float* out) const
{
    Machine mc;
    mc.program = this;
    mc.ctx = &ctx;
    mc.minor = minor;
    mc.range = minor == 4 ? 8.0f : 1.0f;
    for (size_t i = 0; i < count; ++i) {
        const PixelInstruction& in = program[i];
        if (in.op == OpPhase) {
            continue;
        }
        if (in.texture) {
            if (!(minor == 4 ? mc.Texture14(in) : mc.Texture(in))) {
                return false;
            }
            continue;
        }
        // A co-issued pair reads the registers as they were before either.
        float value[4];
        mc.Arithmetic(in, value);
        if (i + 1 < count && program[i + 1].coIssue) {
            float second[4];
            mc.Arithmetic(program[i + 1], second);
            mc.Write(in, value, mc.range);
            mc.Write(program[i + 1], second, mc.range);
            ++i;
        } else {
            mc.Write(in, value, mc.range);
        }
    }
    for (int c = 0; c < 4; ++c) {
        out[c] = Saturate(mc.r[0][c]);
    }
    return true;
}

// ---------------------------------------------------------------------------
// The raster hook

bool ShadePixel(const PixelState& ps, const Prim& prim, const Plane* planes, int32_t px, int32_t py,
                uint32_t* color, int32_t* fog, float* depth)
{
    const PixelShaderSnap& snap = *ps.shader;
    const PixelProgram& program = *snap.program;
    const double fx = px, fy = py;
    const double w = prim.perspective ? 1.0 / planes[SlotQ].At(fx, fy) : 1.0;
    PixelContext ctx;
    ctx.snap = &snap;
    ctx.linearStages = prim.linearStages;
    ctx.depth = *depth;
    // The colours as the 8-bit iterators give them; the planes hold b, g, r, a.
    int32_t channels[2][4];
    for (int k = 0; k < 2; ++k) {
        for (int c = 0; c < 4; ++c) {
            const double v = std::floor(planes[ShaderSlotDiffuse + 4 * k + c].At(fx, fy) * w + 0.5);
            channels[k][c] = !(v > 0.0) ? 0 : (v >= 255.0 ? 255 : static_cast<int32_t>(v));
        }
        ctx.color[k][0] = static_cast<float>(channels[k][2]) / 255.0f;
        ctx.color[k][1] = static_cast<float>(channels[k][1]) / 255.0f;
        ctx.color[k][2] = static_cast<float>(channels[k][0]) / 255.0f;
        ctx.color[k][3] = static_cast<float>(channels[k][3]) / 255.0f;
    }
    const uint32_t sets = program.GetCoordMask();
    for (int set = 0; set < kTexCoordSets; ++set) {
        if (sets >> set & 1u) {
            for (int c = 0; c < 4; ++c) {
                ctx.coord[set][c] = static_cast<float>(planes[ShaderSlotCoords + 4 * set + c].At(fx, fy) * w);
            }
        }
    }
    float out[4];
    if (!program.Run(ctx, out)) {
        return false;
    }
    auto level = [](float v) { return static_cast<uint32_t>(v * 255.0f + 0.5f); };
    *color = level(out[3]) << 24 | level(out[0]) << 16 | level(out[1]) << 8 | level(out[2]);
    *fog = channels[1][3];
    *depth = ctx.depth;
    return true;
}

}  // namespace platform
