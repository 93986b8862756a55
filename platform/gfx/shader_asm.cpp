// Shader assembly. The text is read line by line: a version line first,
// then one instruction per line, with ";" and "//" comments. Every operand
// is checked against what the shader version allows, so the device never
// sees code that names a register it does not have.
#include "platform/gfx/shader_asm.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "platform/gfx/pixel_shader.h"

namespace platform {

using namespace shader;

namespace {

enum Target : uint8_t { kVertex = 1, kPixel = 2 };

struct OpInfo {
    const char* name;
    uint32_t op;
    int params;         // the destination included
    uint8_t targets;    // kVertex | kPixel
    uint8_t psFirst;    // first pixel-shader minor version that has it
    uint8_t psLast;     // last one
    int slots;          // vertex instruction slots
    bool texture;       // a pixel shader texture instruction
};

// ps.1.0 to 1.3 texture instructions write t registers; 1.4 ones write r.
const OpInfo kOps[] = {
    {"nop", OpNop, 0, kVertex | kPixel, 0, 4, 1, false},
    {"mov", OpMov, 2, kVertex | kPixel, 0, 4, 1, false},
    {"add", OpAdd, 3, kVertex | kPixel, 0, 4, 1, false},
    {"sub", OpSub, 3, kVertex | kPixel, 0, 4, 1, false},
    {"mad", OpMad, 4, kVertex | kPixel, 0, 4, 1, false},
    {"mul", OpMul, 3, kVertex | kPixel, 0, 4, 1, false},
    {"rcp", OpRcp, 2, kVertex, 0, 0, 1, false},
    {"rsq", OpRsq, 2, kVertex, 0, 0, 1, false},
    {"dp3", OpDp3, 3, kVertex | kPixel, 0, 4, 1, false},
    {"dp4", OpDp4, 3, kVertex | kPixel, 2, 4, 1, false},
    {"min", OpMin, 3, kVertex, 0, 0, 1, false},
    {"max", OpMax, 3, kVertex, 0, 0, 1, false},
    {"slt", OpSlt, 3, kVertex, 0, 0, 1, false},
    {"sge", OpSge, 3, kVertex, 0, 0, 1, false},
    {"exp", OpExp, 2, kVertex, 0, 0, 12, false},
    {"log", OpLog, 2, kVertex, 0, 0, 12, false},
    {"lit", OpLit, 2, kVertex, 0, 0, 1, false},
    {"dst", OpDst, 3, kVertex, 0, 0, 1, false},
    {"lrp", OpLrp, 4, kPixel, 0, 4, 1, false},
    {"frc", OpFrc, 2, kVertex, 0, 0, 3, false},
    {"m4x4", OpM4x4, 3, kVertex, 0, 0, 4, false},
    {"m4x3", OpM4x3, 3, kVertex, 0, 0, 3, false},
    {"m3x4", OpM3x4, 3, kVertex, 0, 0, 4, false},
    {"m3x3", OpM3x3, 3, kVertex, 0, 0, 3, false},
    {"m3x2", OpM3x2, 3, kVertex, 0, 0, 2, false},
    {"expp", OpExpP, 2, kVertex, 0, 0, 1, false},
    {"logp", OpLogP, 2, kVertex, 0, 0, 1, false},
    {"cnd", OpCnd, 4, kPixel, 0, 4, 1, false},
    {"cmp", OpCmp, 4, kPixel, 2, 4, 1, false},
    {"bem", OpBem, 3, kPixel, 4, 4, 1, false},
    {"texcoord", OpTexCoord, 1, kPixel, 0, 3, 0, true},
    {"texcrd", OpTexCoord, 2, kPixel, 4, 4, 0, true},
    {"texkill", OpTexKill, 1, kPixel, 0, 4, 0, true},
    {"tex", OpTex, 1, kPixel, 0, 3, 0, true},
    {"texld", OpTex, 2, kPixel, 4, 4, 0, true},
    {"texbem", OpTexBem, 2, kPixel, 0, 3, 0, true},
    {"texbeml", OpTexBemL, 2, kPixel, 0, 3, 0, true},
    {"texreg2ar", OpTexReg2Ar, 2, kPixel, 0, 3, 0, true},
    {"texreg2gb", OpTexReg2Gb, 2, kPixel, 0, 3, 0, true},
    {"texreg2rgb", OpTexReg2Rgb, 2, kPixel, 2, 3, 0, true},
    {"texm3x2pad", OpTexM3x2Pad, 2, kPixel, 0, 3, 0, true},
    {"texm3x2tex", OpTexM3x2Tex, 2, kPixel, 0, 3, 0, true},
    {"texm3x3pad", OpTexM3x3Pad, 2, kPixel, 0, 3, 0, true},
    {"texm3x3tex", OpTexM3x3Tex, 2, kPixel, 0, 3, 0, true},
    {"texm3x3spec", OpTexM3x3Spec, 3, kPixel, 0, 3, 0, true},
    {"texm3x3vspec", OpTexM3x3VSpec, 2, kPixel, 0, 3, 0, true},
    {"texdp3tex", OpTexDp3Tex, 2, kPixel, 2, 3, 0, true},
    {"texm3x2depth", OpTexM3x2Depth, 2, kPixel, 3, 3, 0, true},
    {"texdp3", OpTexDp3, 2, kPixel, 2, 3, 0, true},
    {"texm3x3", OpTexM3x3, 2, kPixel, 2, 3, 0, true},
    {"texdepth", OpTexDepth, 1, kPixel, 4, 4, 0, true},
    {"phase", OpPhase, 0, kPixel, 4, 4, 0, false},
    {"def", OpDef, 5, kVertex | kPixel, 0, 4, 0, false},
};

// Rows of constants a matrix macro reads, and the components it writes.
int MatrixRows(uint32_t op)
{
    switch (op) {
    case OpM4x4: return 4;
    case OpM4x3: return 3;
    case OpM3x4: return 4;
    case OpM3x3: return 3;
    case OpM3x2: return 2;
    default: return 0;
    }
}

std::string Lower(const std::string& s)
{
    std::string r = s;
    for (char& ch : r) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return r;
}

std::string Trim(const std::string& s)
{
    size_t a = 0;
    size_t b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) {
        ++a;
    }
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) {
        --b;
    }
    return s.substr(a, b - a);
}

// A whole decimal number of at most five digits; false otherwise.
bool ParseIndex(const std::string& s, int* out)
{
    if (s.empty() || s.size() > 5) {
        return false;
    }
    int v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9') {
            return false;
        }
        v = v * 10 + (ch - '0');
    }
    *out = v;
    return true;
}

// Component letters as indices 0 to 3; the two alphabets may not mix.
bool ParseComponents(const std::string& s, int* comps, int* count)
{
    if (s.empty() || s.size() > 4) {
        return false;
    }
    int set = -1;
    for (size_t i = 0; i < s.size(); ++i) {
        const char* xyzw = std::strchr("xyzw", s[i]);
        const char* rgba = std::strchr("rgba", s[i]);
        const int thisSet = xyzw != nullptr && s[i] != 0 ? 0 : (rgba != nullptr && s[i] != 0 ? 1 : -1);
        if (thisSet < 0 || (set >= 0 && thisSet != set)) {
            return false;
        }
        set = thisSet;
        comps[i] = static_cast<int>(thisSet == 0 ? xyzw - "xyzw" : rgba - "rgba");
    }
    *count = static_cast<int>(s.size());
    return true;
}

struct Operand {
    uint32_t kind = 0;
    int index = 0;
    bool relative = false;
    uint32_t mask = 0xF;       // destination
    uint32_t swizzle = kIdentitySwizzle;
    uint32_t modifier = ModNone;
    bool hasSelector = false;
};

class Assembler {
public:
    explicit Assembler(ShaderAsmResult* r) : result(r) {}
    bool Run(const char* text, size_t length);

private:
    bool Fail(const char* format, const std::string& what = std::string());
    bool Line(const std::string& line);
    bool Version(const std::string& word);
    bool Register(const std::string& text, Operand* op);
    bool Destination(const std::string& text, Operand* op);
    bool Source(const std::string& text, Operand* op);
    bool CheckVertex(const OpInfo& info, const Operand& dst, const Operand* src, int sources);
    bool Statement(const std::string& line);
    bool Finish();

    ShaderAsmResult* result = nullptr;
    int lineNumber = 0;
    uint8_t target = 0;
    int minor = 0;
    int slots = 0;
    bool positionWritten = false;
    // Pixel shaders follow the rules the device loads them by, instruction
    // by instruction as they are written.
    std::optional<PixelRules> pixelRules;
};

bool Assembler::Fail(const char* format, const std::string& what)
{
    char text[256];
    std::snprintf(text, sizeof text, format, what.c_str());
    result->error = "line " + std::to_string(lineNumber) + ": " + text;
    result->errorLine = lineNumber;
    return false;
}

bool Assembler::Version(const std::string& word)
{
    const std::string w = Lower(word);
    if (w.size() == 6 && (w[2] == '.' || w[2] == '_') && w[3] == '1' && w[4] == w[2]) {
        const int m = w[5] - '0';
        if (w.compare(0, 2, "vs") == 0 && (m == 0 || m == 1)) {
            target = kVertex;
            minor = m;
            result->code.push_back(kVertexVersionBase | 0x100u | static_cast<uint32_t>(m));
            return true;
        }
        if (w.compare(0, 2, "ps") == 0 && m >= 0 && m <= 4) {
            target = kPixel;
            minor = m;
            result->code.push_back(kPixelVersionBase | 0x100u | static_cast<uint32_t>(m));
            pixelRules.emplace(result->code.back());
            return true;
        }
    }
    return Fail("the text must begin with a shader version (vs.1.1, ps.1.1 ...), not \"%s\"", word);
}

bool Assembler::Register(const std::string& text, Operand* op)
{
    const std::string t = Lower(text);
    int index = 0;
    if (t.size() >= 2 && t[0] == 'c' && t[1] == '[') {
        if (t.back() != ']') {
            return Fail("bad constant address \"%s\"", text);
        }
        // Terms of the form a0.x or a whole number, joined by + or -.
        const std::string inner = t.substr(2, t.size() - 3);
        int sum = 0;
        bool relative = false;
        bool any = false;
        size_t pos = 0;
        int sign = 1;
        while (pos <= inner.size()) {
            size_t next = inner.find_first_of("+-", pos);
            const size_t count = next == std::string::npos ? std::string::npos : next - pos;
            const std::string term = Trim(inner.substr(pos, count));
            if (term == "a0.x") {
                if (relative || sign < 0) {
                    return Fail("bad constant address \"%s\"", text);
                }
                relative = true;
            } else {
                int v = 0;
                if (!ParseIndex(term, &v)) {
                    return Fail("bad constant address \"%s\"", text);
                }
                sum += sign * v;
            }
            any = true;
            if (next == std::string::npos) {
                break;
            }
            sign = inner[next] == '-' ? -1 : 1;
            pos = next + 1;
        }
        if (!any || sum < 0 || sum >= kVertexConstants) {
            return Fail("constant address out of range in \"%s\"", text);
        }
        op->kind = RegConst;
        op->index = sum;
        op->relative = relative;
        return true;
    }
    struct Named {
        const char* prefix;
        uint32_t kind;
        int fixed;   // -1: an index follows
        uint8_t targets;
    };
    static const Named kNames[] = {
        {"opos", RegRasterOut, OutPosition, kVertex}, {"ofog", RegRasterOut, OutFog, kVertex},
        {"opts", RegRasterOut, OutPointSize, kVertex}, {"od", RegAttributeOut, -1, kVertex},
        {"ot", RegTexCoordOut, -1, kVertex},          {"a0", RegAddress, 0, kVertex},
        {"r", RegTemp, -1, kVertex | kPixel},         {"v", RegInput, -1, kVertex | kPixel},
        {"c", RegConst, -1, kVertex | kPixel},        {"t", RegTexture, -1, kPixel},
    };
    for (const Named& n : kNames) {
        const size_t len = std::strlen(n.prefix);
        if (t.compare(0, len, n.prefix) != 0 || (n.targets & target) == 0) {
            continue;
        }
        if (n.fixed >= 0) {
            if (t.size() != len) {
                continue;
            }
            index = n.fixed;
        } else if (!ParseIndex(t.substr(len), &index)) {
            continue;
        }
        op->kind = n.kind;
        op->index = index;
        return true;
    }
    return Fail("unknown register \"%s\"", text);
}

bool Assembler::Destination(const std::string& textIn, Operand* op)
{
    std::string text = Trim(textIn);
    const size_t dot = text.find('.');
    if (dot != std::string::npos) {
        int comps[4];
        int count = 0;
        if (!ParseComponents(Lower(text.substr(dot + 1)), comps, &count)) {
            return Fail("bad write mask in \"%s\"", text);
        }
        op->mask = 0;
        for (int i = 0; i < count; ++i) {
            if (i > 0 && comps[i] <= comps[i - 1]) {
                return Fail("write mask components out of order in \"%s\"", text);
            }
            op->mask |= 1u << comps[i];
        }
        op->hasSelector = true;
        text = text.substr(0, dot);
    }
    if (!text.empty() && (text[0] == '-' || text.find('_') != std::string::npos)) {
        return Fail("a destination takes no modifier: \"%s\"", text);
    }
    return Register(text, op);
}

bool Assembler::Source(const std::string& textIn, Operand* op)
{
    std::string text = Trim(textIn);
    bool negate = false;
    bool complement = false;
    if (!text.empty() && text[0] == '-') {
        negate = true;
        text = Trim(text.substr(1));
    }
    // The complement, written "1-t0" or "1 - t0".
    if (target == kPixel && text.size() > 1 && text[0] == '1') {
        const std::string rest = Trim(text.substr(1));
        if (!rest.empty() && rest[0] == '-') {
            complement = true;
            text = Trim(rest.substr(1));
        }
    }
    // A pixel modifier may stand before or after the selector.
    std::string suffix;
    std::string selector;
    const size_t bracket = text.find(']');
    const size_t dot = text.find('.', bracket == std::string::npos ? 0 : bracket);
    if (dot != std::string::npos) {
        selector = text.substr(dot + 1);
        text = text.substr(0, dot);
        const size_t us = selector.find('_');
        if (us != std::string::npos) {
            suffix = selector.substr(us + 1);
            selector = selector.substr(0, us);
        }
    }
    const size_t us = text.find('_');
    if (us != std::string::npos) {
        if (!suffix.empty()) {
            return Fail("two modifiers on \"%s\"", text);
        }
        suffix = text.substr(us + 1);
        text = text.substr(0, us);
    }
    uint32_t mod = ModNone;
    const std::string s = Lower(suffix);
    if (!s.empty()) {
        if (target != kPixel || complement) {
            return Fail("modifier \"%s\" is not allowed here", suffix);
        }
        if (s == "bias") {
            mod = negate ? ModBiasNegate : ModBias;
        } else if (s == "bx2") {
            mod = negate ? ModSignNegate : ModSign;
        } else if (s == "x2" && minor == 4) {
            mod = negate ? ModX2Negate : ModX2;
        } else if ((s == "dz" || s == "db") && minor == 4 && !negate) {
            mod = ModDivideZ;
        } else if ((s == "dw" || s == "da") && minor == 4 && !negate) {
            mod = ModDivideW;
        } else {
            return Fail("unknown source modifier \"%s\"", suffix);
        }
    } else if (complement) {
        if (negate) {
            return Fail("a complement cannot be negated: \"%s\"", textIn);
        }
        mod = ModComplement;
    } else if (negate) {
        mod = ModNegate;
    }
    op->modifier = mod;
    if (!selector.empty()) {
        int comps[4];
        int count = 0;
        if (!ParseComponents(Lower(selector), comps, &count)) {
            return Fail("bad swizzle in \"%s\"", textIn);
        }
        // Fewer than four letters: the last one is repeated.
        op->swizzle = 0;
        for (int i = 0; i < 4; ++i) {
            op->swizzle |= static_cast<uint32_t>(comps[i < count ? i : count - 1]) << (2 * i);
        }
        op->hasSelector = true;
    }
    return Register(text, op);
}

bool Assembler::CheckVertex(const OpInfo& info, const Operand& dst, const Operand* src, int sources)
{
    const int rows = MatrixRows(info.op);
    switch (dst.kind) {
    case RegTemp:
        if (dst.index >= kVertexTemps) {
            return Fail("r%s does not exist (r0 to r11)", std::to_string(dst.index));
        }
        break;
    case RegAddress:
        if (info.op != OpMov || dst.mask != 0x1) {
            return Fail("%s", "a0 is written only by mov a0.x");
        }
        break;
    case RegRasterOut:
        if (dst.index == OutPosition) {
            positionWritten = true;
        } else if (dst.hasSelector && dst.mask != 0x1) {
            return Fail("%s", "oFog and oPts take only the x component");
        }
        break;
    case RegAttributeOut:
        if (dst.index > 1) {
            return Fail("oD%s does not exist (oD0, oD1)", std::to_string(dst.index));
        }
        break;
    case RegTexCoordOut:
        if (dst.index >= kVertexTexCoords) {
            return Fail("oT%s does not exist (oT0 to oT7)", std::to_string(dst.index));
        }
        break;
    default:
        return Fail("%s", "input and constant registers cannot be written");
    }
    if (rows > 0 && dst.kind == RegAddress) {
        return Fail("%s", "a matrix cannot be written to a0");
    }
    if (info.op == OpFrc && dst.mask != 0x1 && dst.mask != 0x2 && dst.mask != 0x3) {
        return Fail("%s", "frc writes only x, y or xy");
    }
    int constRead = -1;
    bool constRelative = false;
    int inputRead = -1;
    for (int i = 0; i < sources; ++i) {
        const Operand& s = src[i];
        if (s.modifier != ModNone && s.modifier != ModNegate) {
            return Fail("%s", "vertex shader sources take only negation");
        }
        switch (s.kind) {
        case RegTemp:
            if (s.index >= kVertexTemps) {
                return Fail("r%s does not exist (r0 to r11)", std::to_string(s.index));
            }
            break;
        case RegInput:
            if (s.index >= kVertexInputs) {
                return Fail("v%s does not exist (v0 to v15)", std::to_string(s.index));
            }
            if (inputRead >= 0 && inputRead != s.index) {
                return Fail("%s", "an instruction reads at most one input register");
            }
            inputRead = s.index;
            break;
        case RegConst: {
            const int span = (i == 1 && rows > 0) ? rows : 1;
            if (!s.relative && s.index + span > kVertexConstants) {
                return Fail("c%s is past the last constant (c95)", std::to_string(s.index + span - 1));
            }
            if (constRead >= 0 && (constRead != s.index || constRelative != s.relative)) {
                return Fail("%s", "an instruction reads at most one constant register");
            }
            constRead = s.index;
            constRelative = s.relative;
            break;
        }
        default:
            return Fail("%s", "outputs and a0 cannot be read");
        }
        if (s.relative && s.kind != RegConst) {
            return Fail("%s", "only constants are addressed through a0.x");
        }
    }
    if (rows > 0 && src[1].kind != RegConst && src[1].kind != RegTemp && src[1].kind != RegInput) {
        return Fail("%s", "bad matrix operand");
    }
    slots += info.slots;
    if (slots > kMaxVertexSlots) {
        return Fail("%s", "more than 128 instruction slots");
    }
    return true;
}

bool Assembler::Line(const std::string& raw)
{
    const size_t start = result->code.size();
    const bool instruction = target != 0;
    if (!Statement(raw)) {
        return false;
    }
    if (instruction && target == kPixel && result->code.size() > start) {
        PixelInstruction in;
        size_t used = 0;
        std::string why;
        if (!DecodePixelInstruction(result->code[0], &result->code[start], result->code.size() - start, &in, &used,
                                    &why) ||
            !pixelRules->Add(in, &why)) {
            return Fail("%s", why);
        }
    }
    return true;
}

bool Assembler::Statement(const std::string& raw)
{
    std::string line = raw;
    const size_t semi = line.find(';');
    if (semi != std::string::npos) {
        line.resize(semi);
    }
    const size_t slashes = line.find("//");
    if (slashes != std::string::npos) {
        line.resize(slashes);
    }
    line = Trim(line);
    if (line.empty()) {
        return true;
    }
    if (line[0] == '#') {
        return Fail("%s", "preprocessor lines are not supported");
    }
    bool coIssue = false;
    if (line[0] == '+') {
        coIssue = true;
        line = Trim(line.substr(1));
    }
    size_t split = 0;
    while (split < line.size() && !std::isspace(static_cast<unsigned char>(line[split]))) {
        ++split;
    }
    const std::string word = line.substr(0, split);
    const std::string rest = Trim(line.substr(split));
    if (target == 0) {
        if (coIssue || !rest.empty()) {
            return Fail("%s", "the version stands alone on its line");
        }
        return Version(word);
    }
    if (coIssue && target != kPixel) {
        return Fail("%s", "co-issue exists only in pixel shaders");
    }
    // Instruction modifiers of pixel shaders follow the name: mul_x2_sat.
    std::string name = Lower(word);
    uint32_t shift = 0;
    bool saturate = false;
    const size_t us = name.find('_');
    if (us != std::string::npos) {
        std::string mods = name.substr(us);
        name.resize(us);
        if (target != kPixel) {
            return Fail("unknown instruction \"%s\"", word);
        }
        while (!mods.empty()) {
            const size_t next = mods.find('_', 1);
            const std::string m = mods.substr(1, next == std::string::npos ? std::string::npos : next - 1);
            mods = next == std::string::npos ? std::string() : mods.substr(next);
            if (m == "sat" && !saturate) {
                saturate = true;
            } else if (shift == 0 && (m == "x2" || m == "x4" || m == "d2" ||
                                      (minor == 4 && (m == "x8" || m == "d4" || m == "d8")))) {
                static const char* kShifts[] = {"x2", "x4", "x8", "d8", "d4", "d2"};
                static const uint32_t kValues[] = {1, 2, 3, 0xD, 0xE, 0xF};
                for (int i = 0; i < 6; ++i) {
                    if (m == kShifts[i]) {
                        shift = kValues[i];
                    }
                }
            } else {
                return Fail("unknown instruction modifier in \"%s\"", word);
            }
        }
    }
    const OpInfo* info = nullptr;
    for (const OpInfo& o : kOps) {
        if (name == o.name && (o.targets & target) != 0 &&
            (target == kVertex || (minor >= o.psFirst && minor <= o.psLast))) {
            info = &o;
            break;
        }
    }
    if (info == nullptr) {
        return Fail("unknown instruction \"%s\"", word);
    }
    if ((shift != 0 || saturate) && info->texture) {
        return Fail("texture instructions take no modifier: \"%s\"", word);
    }
    std::vector<std::string> operands;
    if (!rest.empty()) {
        size_t pos = 0;
        while (true) {
            const size_t comma = rest.find(',', pos);
            operands.push_back(Trim(rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)));
            if (comma == std::string::npos) {
                break;
            }
            pos = comma + 1;
        }
    }
    if (static_cast<int>(operands.size()) != info->params) {
        return Fail("\"%s\" takes a different number of operands", word);
    }
    for (const std::string& o : operands) {
        if (o.empty()) {
            return Fail("an empty operand after \"%s\"", word);
        }
    }
    const uint32_t coBit = coIssue ? kCoIssueBit : 0u;
    if (info->op == OpDef) {
        Operand dst;
        if (!Destination(operands[0], &dst)) {
            return false;
        }
        if (dst.kind != RegConst || dst.relative || dst.hasSelector ||
            dst.index >= (target == kVertex ? kVertexConstants : 8)) {
            return Fail("def needs a constant register: \"%s\"", operands[0]);
        }
        result->code.push_back(OpDef);
        result->code.push_back(kParamBit | (RegConst << kKindShift) | static_cast<uint32_t>(dst.index) |
                               (0xFu << kMaskShift));
        for (int i = 1; i < 5; ++i) {
            const char* begin = operands[i].c_str();
            char* end = nullptr;
            errno = 0;
            const float f = std::strtof(begin, &end);
            if (end == begin || *end != 0 || errno == ERANGE) {
                return Fail("def needs four numbers, not \"%s\"", operands[i]);
            }
            uint32_t bits = 0;
            std::memcpy(&bits, &f, 4);
            result->code.push_back(bits);
        }
        return true;
    }
    Operand dst;
    Operand src[3];
    const int sources = info->params > 0 ? info->params - 1 : 0;
    if (info->params > 0 && !Destination(operands[0], &dst)) {
        return false;
    }
    if (info->params > 0 && dst.modifier != ModNone) {
        return Fail("a destination takes no modifier: \"%s\"", operands[0]);
    }
    for (int i = 0; i < sources; ++i) {
        if (!Source(operands[1 + i], &src[i])) {
            return false;
        }
    }
    if (info->params > 0 && dst.relative) {
        return Fail("%s", "a destination cannot be addressed through a0.x");
    }
    if (target == kVertex) {
        if (info->params > 0 && !CheckVertex(*info, dst, src, sources)) {
            return false;
        }
        if (info->params == 0) {
            slots += info->slots;
        }
    }
    result->code.push_back(info->op | coBit);
    if (info->params > 0) {
        const int rows = MatrixRows(info->op);
        uint32_t mask = dst.mask;
        if (rows > 0 && !dst.hasSelector) {
            mask = info->op == OpM4x3 || info->op == OpM3x3 ? 0x7u : (info->op == OpM3x2 ? 0x3u : 0xFu);
        }
        // oFog and oPts hold one value: written whole unless the text
        // names its x.
        if (dst.kind == RegRasterOut && dst.index != OutPosition && !dst.hasSelector) {
            mask = 0xF;
        }
        result->code.push_back(kParamBit | (dst.kind << kKindShift) | static_cast<uint32_t>(dst.index) |
                               (mask << kMaskShift) | (saturate ? kSaturateBit : 0u) | (shift << kShiftShift));
    }
    for (int i = 0; i < sources; ++i) {
        const Operand& s = src[i];
        result->code.push_back(kParamBit | (s.kind << kKindShift) | static_cast<uint32_t>(s.index) |
                               (s.swizzle << kSwizzleShift) | (s.modifier << kModifierShift) |
                               (s.relative ? kRelativeBit : 0u));
    }
    return true;
}

bool Assembler::Finish()
{
    if (target == 0) {
        return Fail("%s", "no shader version");
    }
    if (target == kVertex && !positionWritten) {
        return Fail("%s", "oPos is never written");
    }
    std::string why;
    if (target == kPixel && !pixelRules->Finish(&why)) {
        return Fail("%s", why);
    }
    result->code.push_back(kEndToken);
    return true;
}

bool Assembler::Run(const char* text, size_t length)
{
    size_t begin = 0;
    while (begin < length && text[begin] != 0) {
        size_t end = begin;
        while (end < length && text[end] != 0 && text[end] != '\n') {
            ++end;
        }
        ++lineNumber;
        if (!Line(std::string(text + begin, end - begin))) {
            return false;
        }
        begin = end < length && text[end] == '\n' ? end + 1 : end;
    }
    ++lineNumber;
    return Finish();
}

}  // namespace

bool AssembleShader(const char* text, size_t length, ShaderAsmResult* result)
{
    if (result == nullptr) {
        return false;
    }
    result->code.clear();
    result->error.clear();
    result->errorLine = 0;
    if (text == nullptr) {
        result->error = "no text";
        return false;
    }
    try {
        Assembler assembler(result);
        if (!assembler.Run(text, length)) {
            result->code.clear();
            return false;
        }
    } catch (const std::bad_alloc&) {
        result->code.clear();
        result->error = "out of memory";
        return false;
    }
    return true;
}

bool LookUpInstruction(uint32_t version, uint32_t opcode, InstructionInfo* out)
{
    const uint32_t kind = version & 0xFFFF0000u;
    const uint8_t target = kind == kVertexVersionBase ? kVertex : (kind == kPixelVersionBase ? kPixel : 0);
    const uint32_t major = (version >> 8) & 0xFFu;
    const uint32_t minorVersion = version & 0xFFu;
    if (target == 0 || major != 1 || minorVersion > (target == kVertex ? 1u : 4u)) {
        return false;
    }
    for (const OpInfo& o : kOps) {
        if (o.op == opcode && (o.targets & target) != 0 &&
            (target == kVertex || (minorVersion >= o.psFirst && minorVersion <= o.psLast))) {
            if (out != nullptr) {
                out->params = o.params;
                out->slots = o.slots;
                out->texture = o.texture;
            }
            return true;
        }
    }
    return false;
}

int InstructionParams(uint32_t version, uint32_t opcode)
{
    InstructionInfo info;
    return LookUpInstruction(version, opcode, &info) ? info.params : -1;
}

bool ValidatePixelShaderCode(const uint32_t* code, size_t tokens, std::string* error)
{
    try {
        const auto program = std::make_unique<PixelProgram>();
        return program->Load(code, tokens, error);
    } catch (const std::bad_alloc&) {
        if (error != nullptr) {
            *error = "out of memory";
        }
        return false;
    }
}

}  // namespace platform
