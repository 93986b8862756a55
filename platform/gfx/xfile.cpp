#include "platform/gfx/xfile.h"

#include <zlib.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace platform {

// ---------------------------------------------------------------- objects

bool XObject::ReadU32(size_t offset, uint32_t* out) const
{
    if (offset > data.size() || data.size() - offset < 4) {
        return false;
    }
    std::memcpy(out, data.data() + offset, 4);
    return true;
}

bool XObject::ReadU16(size_t offset, uint16_t* out) const
{
    if (offset > data.size() || data.size() - offset < 2) {
        return false;
    }
    std::memcpy(out, data.data() + offset, 2);
    return true;
}

bool XObject::ReadF32(size_t offset, float* out) const
{
    if (offset > data.size() || data.size() - offset < 4) {
        return false;
    }
    std::memcpy(out, data.data() + offset, 4);
    return true;
}

bool XObject::ReadString(size_t offset, std::string* out) const
{
    uint32_t index = 0;
    if (!ReadU32(offset, &index) || index >= strings.size()) {
        return false;
    }
    *out = strings[index];
    return true;
}

// ---------------------------------------------------------------- tokens

namespace {

enum class Tok { End, Name, String, Integer, Float, Guid, OBrace, CBrace, OBracket, CBracket, Comma, Semicolon, Dot,
                 Error };

struct Token {
    Tok kind = Tok::End;
    std::string text;     // Name, String
    uint32_t integer = 0; // Integer
    double number = 0.0;  // Float (and Integer)
};

// Binary token numbers of the format.
enum : uint16_t {
    kTokName = 1, kTokString = 2, kTokInteger = 3, kTokGuid = 5, kTokIntegerList = 6, kTokFloatList = 7,
    kTokOBrace = 10, kTokCBrace = 11, kTokOParen = 12, kTokCParen = 13, kTokOBracket = 14, kTokCBracket = 15,
    kTokOAngle = 16, kTokCAngle = 17, kTokDot = 18, kTokComma = 19, kTokSemicolon = 20, kTokTemplate = 31,
    kTokWord = 40, kTokDword = 41, kTokFloat = 42, kTokDouble = 43, kTokChar = 44, kTokUchar = 45, kTokSword = 46,
    kTokSdword = 47, kTokVoid = 48, kTokLpstr = 49, kTokUnicode = 50, kTokCstring = 51, kTokArray = 52,
};

class Lexer {
public:
    Lexer(const uint8_t* bytes, size_t size, bool binary, bool doubles)
        : p(bytes), n(size), isBinary(binary), isDouble(doubles) {}

    bool Next(Token* t)
    {
        if (hasPeek) {
            *t = peeked;
            hasPeek = false;
            return t->kind != Tok::Error;
        }
        ++consumed;
        const bool ok = isBinary ? NextBinary(t) : NextText(t);
        if (!ok) {
            t->kind = Tok::Error;
        }
        return ok;
    }
    bool Peek(Token* t)
    {
        if (!hasPeek) {
            hasPeek = true;
            ++consumed;
            const bool ok = isBinary ? NextBinary(&peeked) : NextText(&peeked);
            if (!ok) {
                peeked.kind = Tok::Error;
            }
        }
        *t = peeked;
        return t->kind != Tok::Error;
    }
    size_t Remaining() const { return n - pos; }
    size_t Position() const { return pos; }
    // Tokens taken so far: tells a read that took nothing.
    uint64_t Consumed() const { return consumed - (hasPeek ? 1 : 0); }
    const std::string& Why() const { return why; }

private:
    bool Fail(const char* reason)
    {
        if (why.empty()) {
            why = std::string(reason) + " at byte " + std::to_string(pos);
        }
        return false;
    }

    // ---- text
    static bool IsDelimiter(uint8_t c)
    {
        return c <= ' ' || c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ';' || c == '"' ||
               c == '<' || c == '>' || c == '(' || c == ')';
    }

    bool NextText(Token* t)
    {
        for (;;) {
            while (pos < n && p[pos] <= ' ') {
                ++pos;
            }
            if (pos < n && (p[pos] == '#' || (p[pos] == '/' && pos + 1 < n && p[pos + 1] == '/'))) {
                while (pos < n && p[pos] != '\n') {
                    ++pos;
                }
                continue;
            }
            break;
        }
        *t = Token();
        if (pos >= n) {
            t->kind = Tok::End;
            return true;
        }
        const uint8_t c = p[pos];
        switch (c) {
        case '{': ++pos; t->kind = Tok::OBrace; return true;
        case '}': ++pos; t->kind = Tok::CBrace; return true;
        case '[': ++pos; t->kind = Tok::OBracket; return true;
        case ']': ++pos; t->kind = Tok::CBracket; return true;
        case ',': ++pos; t->kind = Tok::Comma; return true;
        case ';': ++pos; t->kind = Tok::Semicolon; return true;
        case '(': case ')': ++pos; return NextText(t);
        default: break;
        }
        if (c == '"') {
            size_t end = pos + 1;
            while (end < n && p[end] != '"') {
                ++end;
            }
            if (end >= n) {
                return Fail("unterminated string");
            }
            t->kind = Tok::String;
            t->text.assign(reinterpret_cast<const char*>(p + pos + 1), end - pos - 1);
            pos = end + 1;
            return true;
        }
        if (c == '<') {
            size_t end = pos + 1;
            while (end < n && p[end] != '>' && end - pos < 64) {
                ++end;
            }
            if (end >= n || p[end] != '>') {
                return Fail("unterminated GUID");
            }
            pos = end + 1;
            t->kind = Tok::Guid;
            return true;
        }
        auto digitAt = [this](size_t at) { return at < n && p[at] >= '0' && p[at] <= '9'; };
        const bool numeric = digitAt(pos) || ((c == '-' || c == '+' || c == '.') && digitAt(pos + 1)) ||
                             ((c == '-' || c == '+') && pos + 1 < n && p[pos + 1] == '.' && digitAt(pos + 2));
        if (c == '.' && !numeric) {
            ++pos;
            t->kind = Tok::Dot;
            return true;
        }
        size_t end = pos;
        while (end < n && !IsDelimiter(p[end])) {
            ++end;
        }
        if (end == pos) {
            return Fail("unexpected character");
        }
        const std::string word(reinterpret_cast<const char*>(p + pos), end - pos);
        pos = end;
        if (!numeric) {
            t->kind = Tok::Name;
            t->text = word;
            return true;
        }
        bool isFloat = false;
        for (char ch : word) {
            if (ch == '.' || ch == 'e' || ch == 'E') {
                isFloat = true;
            } else if (!((ch >= '0' && ch <= '9') || ch == '-' || ch == '+')) {
                // A name that starts with a digit, such as "1st_joint".
                t->kind = Tok::Name;
                t->text = word;
                return true;
            }
        }
        char* stop = nullptr;
        const double value = std::strtod(word.c_str(), &stop);
        if (stop == nullptr || *stop != 0) {
            t->kind = Tok::Name;
            t->text = word;
            return true;
        }
        t->number = value;
        if (isFloat) {
            t->kind = Tok::Float;
        } else {
            t->kind = Tok::Integer;
            const long long v = std::strtoll(word.c_str(), nullptr, 10);
            t->integer = static_cast<uint32_t>(v);
        }
        return true;
    }

    // ---- binary
    bool Take(void* out, size_t bytes)
    {
        if (n - pos < bytes) {
            return Fail("truncated token");
        }
        std::memcpy(out, p + pos, bytes);
        pos += bytes;
        return true;
    }

    // A string is followed by the separator that ends it, ";" or ",". The
    // format's own writer puts it there as an ordinary 2-byte token, which
    // the next read takes like any other; some writers store it as a 4-byte
    // value instead. That form is told apart by the zero word after the
    // token (no token has the number 0), and both words are skipped.
    void SkipWideTerminator()
    {
        if (n - pos < 4) {
            return;
        }
        uint16_t first = 0;
        uint16_t second = 0;
        std::memcpy(&first, p + pos, 2);
        std::memcpy(&second, p + pos + 2, 2);
        if (second == 0 && (first == kTokSemicolon || first == kTokComma || first == 0)) {
            pos += 4;
        }
    }

    bool NextBinary(Token* t)
    {
        *t = Token();
        if (listLeft > 0) {
            --listLeft;
            if (listIsFloat) {
                t->kind = Tok::Float;
                if (isDouble) {
                    return Take(&t->number, 8);
                }
                float f = 0.0f;
                if (!Take(&f, 4)) {
                    return false;
                }
                t->number = f;
                return true;
            }
            t->kind = Tok::Integer;
            if (!Take(&t->integer, 4)) {
                return false;
            }
            t->number = t->integer;
            return true;
        }
        if (pos >= n) {
            t->kind = Tok::End;
            return true;
        }
        uint16_t token = 0;
        if (!Take(&token, 2)) {
            return false;
        }
        uint32_t count = 0;
        switch (token) {
        case kTokName:
        case kTokString: {
            if (!Take(&count, 4)) {
                return false;
            }
            if (count > n - pos) {
                return Fail("name or string longer than the file");
            }
            t->kind = token == kTokName ? Tok::Name : Tok::String;
            t->text.assign(reinterpret_cast<const char*>(p + pos), count);
            pos += count;
            if (token == kTokString) {
                SkipWideTerminator();
            }
            return true;
        }
        case kTokInteger:
            t->kind = Tok::Integer;
            if (!Take(&t->integer, 4)) {
                return false;
            }
            t->number = t->integer;
            return true;
        case kTokGuid: {
            uint8_t guid[16];
            t->kind = Tok::Guid;
            return Take(guid, 16);
        }
        case kTokIntegerList:
        case kTokFloatList: {
            if (!Take(&count, 4)) {
                return false;
            }
            const size_t each = token == kTokIntegerList ? 4 : (isDouble ? 8 : 4);
            if (count > (n - pos) / each) {
                return Fail("list longer than the file");
            }
            listLeft = count;
            listIsFloat = token == kTokFloatList;
            return NextBinary(t);
        }
        case kTokOBrace: t->kind = Tok::OBrace; return true;
        case kTokCBrace: t->kind = Tok::CBrace; return true;
        case kTokOBracket: t->kind = Tok::OBracket; return true;
        case kTokCBracket: t->kind = Tok::CBracket; return true;
        case kTokComma: t->kind = Tok::Comma; return true;
        case kTokSemicolon: t->kind = Tok::Semicolon; return true;
        case kTokDot: t->kind = Tok::Dot; return true;
        case kTokOParen: case kTokCParen: case kTokOAngle: case kTokCAngle: return NextBinary(t);
        default: break;
        }
        static const struct {
            uint16_t token;
            const char* word;
        } kWords[] = {{kTokTemplate, "template"}, {kTokWord, "WORD"},   {kTokDword, "DWORD"},
                      {kTokFloat, "FLOAT"},       {kTokDouble, "DOUBLE"}, {kTokChar, "CHAR"},
                      {kTokUchar, "UCHAR"},       {kTokSword, "SWORD"},   {kTokSdword, "SDWORD"},
                      {kTokVoid, "VOID"},         {kTokLpstr, "LPSTR"},   {kTokUnicode, "UNICODE"},
                      {kTokCstring, "CSTRING"},   {kTokArray, "array"}};
        for (const auto& w : kWords) {
            if (w.token == token) {
                t->kind = Tok::Name;
                t->text = w.word;
                return true;
            }
        }
        return Fail("unknown token");
    }

    const uint8_t* p = nullptr;
    size_t n = 0;
    size_t pos = 0;
    bool isBinary = false;
    bool isDouble = false;
    uint32_t listLeft = 0;
    bool listIsFloat = false;
    bool hasPeek = false;
    Token peeked;
    uint64_t consumed = 0;
    std::string why;
};

// ---------------------------------------------------------------- templates

enum class Prim { None, Word, Dword, Float, Double, Char, Uchar, Byte, Sword, Sdword, String };

struct Dim {
    uint32_t fixed = 0;
    std::string member;   // empty: fixed
};

struct Member {
    Prim prim = Prim::None;
    std::string typeName;   // a template when prim is None
    std::string name;
    std::vector<Dim> dims;
    bool isArray = false;
};

struct Template {
    std::vector<Member> members;
};

std::string Lower(const std::string& word)
{
    std::string lower = word;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

Prim PrimOf(const std::string& word)
{
    static const struct {
        const char* word;
        Prim prim;
    } kPrims[] = {{"WORD", Prim::Word},   {"DWORD", Prim::Dword},   {"FLOAT", Prim::Float},  {"DOUBLE", Prim::Double},
                  {"CHAR", Prim::Char},   {"UCHAR", Prim::Uchar},   {"BYTE", Prim::Byte},    {"SWORD", Prim::Sword},
                  {"SDWORD", Prim::Sdword}, {"STRING", Prim::String}, {"LPSTR", Prim::String}, {"CSTRING", Prim::String},
                  {"UNICODE", Prim::String}};
    for (const auto& k : kPrims) {
        if (word == k.word) {
            return k.prim;
        }
    }
    return Prim::None;
}

// The standard templates, read by the same code as a file's.
const char kStandardTemplates[] =
    "template Header { <3D82AB43-62DA-11cf-AB39-0020AF71E433> WORD major; WORD minor; DWORD flags; }\n"
    "template Vector { <3D82AB5E-62DA-11cf-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }\n"
    "template Coords2d { <F6F23F44-7686-11cf-8F52-0040333594A3> FLOAT u; FLOAT v; }\n"
    "template Matrix4x4 { <F6F23F45-7686-11cf-8F52-0040333594A3> array FLOAT matrix[16]; }\n"
    "template ColorRGBA { <35FF44E0-6C7C-11cf-8F52-0040333594A3> FLOAT red; FLOAT green; FLOAT blue; FLOAT alpha; }\n"
    "template ColorRGB { <D3E16E81-7835-11cf-8F52-0040333594A3> FLOAT red; FLOAT green; FLOAT blue; }\n"
    "template IndexedColor { <1630B820-7842-11cf-8F52-0040333594A3> DWORD index; ColorRGBA indexColor; }\n"
    "template Boolean { <4885AE61-78E8-11cf-8F52-0040333594A3> WORD truefalse; }\n"
    "template Boolean2d { <4885AE63-78E8-11cf-8F52-0040333594A3> Boolean u; Boolean v; }\n"
    "template MaterialWrap { <4885AE60-78E8-11cf-8F52-0040333594A3> Boolean u; Boolean v; }\n"
    "template TextureFilename { <A42790E1-7810-11cf-8F52-0040333594A3> STRING filename; }\n"
    "template Material { <3D82AB4D-62DA-11cf-AB39-0020AF71E433> ColorRGBA faceColor; FLOAT power;"
    " ColorRGB specularColor; ColorRGB emissiveColor; [...] }\n"
    "template MeshFace { <3D82AB5F-62DA-11cf-AB39-0020AF71E433> DWORD nFaceVertexIndices;"
    " array DWORD faceVertexIndices[nFaceVertexIndices]; }\n"
    "template MeshFaceWraps { <4885AE62-78E8-11cf-8F52-0040333594A3> DWORD nFaceWrapValues;"
    " array Boolean2d faceWrapValues[nFaceWrapValues]; }\n"
    "template MeshTextureCoords { <F6F23F40-7686-11cf-8F52-0040333594A3> DWORD nTextureCoords;"
    " array Coords2d textureCoords[nTextureCoords]; }\n"
    "template MeshMaterialList { <F6F23F42-7686-11cf-8F52-0040333594A3> DWORD nMaterials; DWORD nFaceIndexes;"
    " array DWORD faceIndexes[nFaceIndexes]; [Material] }\n"
    "template MeshNormals { <F6F23F43-7686-11cf-8F52-0040333594A3> DWORD nNormals; array Vector normals[nNormals];"
    " DWORD nFaceNormals; array MeshFace faceNormals[nFaceNormals]; }\n"
    "template MeshVertexColors { <1630B821-7842-11cf-8F52-0040333594A3> DWORD nVertexColors;"
    " array IndexedColor vertexColors[nVertexColors]; }\n"
    "template Mesh { <3D82AB44-62DA-11cf-AB39-0020AF71E433> DWORD nVertices; array Vector vertices[nVertices];"
    " DWORD nFaces; array MeshFace faces[nFaces]; [...] }\n"
    "template FrameTransformMatrix { <F6F23F41-7686-11cf-8F52-0040333594A3> Matrix4x4 frameMatrix; }\n"
    "template Frame { <3D82AB46-62DA-11cf-AB39-0020AF71E433> [...] }\n"
    "template FloatKeys { <10DD46A9-775B-11cf-8F52-0040333594A3> DWORD nValues; array FLOAT values[nValues]; }\n"
    "template TimedFloatKeys { <F406B180-7B3B-11cf-8F52-0040333594A3> DWORD time; FloatKeys tfkeys; }\n"
    "template AnimationKey { <10DD46A8-775B-11cf-8F52-0040333594A3> DWORD keyType; DWORD nKeys;"
    " array TimedFloatKeys keys[nKeys]; }\n"
    "template AnimationOptions { <E2BF56C0-840F-11cf-8F52-0040333594A3> DWORD openclosed; DWORD positionquality; }\n"
    "template Animation { <3D82AB4F-62DA-11cf-AB39-0020AF71E433> [...] }\n"
    "template AnimationSet { <3D82AB50-62DA-11cf-AB39-0020AF71E433> [Animation] }\n"
    "template XSkinMeshHeader { <3CF169CE-FF7C-44ab-93C0-F78F62D172E2> WORD nMaxSkinWeightsPerVertex;"
    " WORD nMaxSkinWeightsPerFace; WORD nBones; }\n"
    "template VertexDuplicationIndices { <B8D65549-D7C9-4995-89CF-53A9A8B031E3> DWORD nIndices;"
    " DWORD nOriginalVertices; array DWORD indices[nIndices]; }\n"
    "template SkinWeights { <6F0D123B-BAD2-4167-A0D0-80224F25FABB> STRING transformNodeName; DWORD nWeights;"
    " array DWORD vertexIndices[nWeights]; array FLOAT weights[nWeights]; Matrix4x4 matrixOffset; }\n";

// ---------------------------------------------------------------- parser

class Parser {
public:
    // standard: the standard templates' names by their lower-case form;
    // null while the standard templates themselves are read.
    Parser(Lexer& lexer, std::map<std::string, Template>& templates,
           const std::map<std::string, std::string>* standard)
        : lex(lexer), tpls(templates), standardNames(standard)
    {
    }

    bool ParseFile(std::vector<XObject>* out)
    {
        Token t;
        for (;;) {
            if (!lex.Next(&t)) {
                return Fail("");
            }
            if (t.kind == Tok::End) {
                return true;
            }
            if (t.kind == Tok::Semicolon || t.kind == Tok::Comma) {
                continue;
            }
            if (t.kind != Tok::Name) {
                return Fail("expected a template or a data object");
            }
            if (t.text == "template") {
                if (!ParseTemplate()) {
                    return false;
                }
                continue;
            }
            XObject object;
            bool kept = false;
            if (!ParseObject(t.text, &object, &kept)) {
                return false;
            }
            if (kept) {
                out->push_back(std::move(object));
            }
        }
    }

    std::string error;

private:
    bool Fail(const char* reason)
    {
        if (error.empty()) {
            error = lex.Why().empty() ? std::string(reason) + " at byte " + std::to_string(lex.Position()) : lex.Why();
        }
        return false;
    }

    bool Expect(Tok kind, const char* reason)
    {
        Token t;
        if (!lex.Next(&t) || t.kind != kind) {
            return Fail(reason);
        }
        return true;
    }

    bool ParseTemplate()
    {
        Token t;
        if (!lex.Next(&t) || t.kind != Tok::Name) {
            return Fail("template without a name");
        }
        const std::string name = CanonicalName(t.text);
        if (!Expect(Tok::OBrace, "template without a body")) {
            return false;
        }
        Template tpl;
        for (;;) {
            if (!lex.Next(&t)) {
                return Fail("");
            }
            if (t.kind == Tok::CBrace) {
                break;
            }
            if (t.kind == Tok::Guid || t.kind == Tok::Semicolon || t.kind == Tok::Comma) {
                continue;
            }
            if (t.kind == Tok::OBracket) {
                // Restrictions name the children a data object may hold; we
                // read any child, so they are only skipped.
                do {
                    if (!lex.Next(&t) || t.kind == Tok::End) {
                        return Fail("unterminated restriction");
                    }
                } while (t.kind != Tok::CBracket);
                continue;
            }
            if (t.kind != Tok::Name) {
                return Fail("malformed template member");
            }
            Member m;
            if (t.text == "array") {
                m.isArray = true;
                if (!lex.Next(&t) || t.kind != Tok::Name) {
                    return Fail("array without a type");
                }
            }
            m.prim = PrimOf(t.text);
            m.typeName = m.prim == Prim::None ? CanonicalName(t.text) : t.text;
            if (m.prim == Prim::None && m.typeName == name) {
                return Fail("template contains itself");
            }
            if (m.prim == Prim::None && tpls.find(m.typeName) == tpls.end()) {
                return Fail("member of an unknown type");
            }
            if (!lex.Next(&t) || t.kind != Tok::Name) {
                return Fail("member without a name");
            }
            m.name = t.text;
            while (m.isArray) {
                Token peek;
                if (!lex.Peek(&peek)) {
                    return Fail("");
                }
                if (peek.kind != Tok::OBracket) {
                    break;
                }
                lex.Next(&t);
                if (!lex.Next(&t)) {
                    return Fail("");
                }
                Dim d;
                if (t.kind == Tok::Integer) {
                    d.fixed = t.integer;
                } else if (t.kind == Tok::Name) {
                    d.member = t.text;
                } else {
                    return Fail("malformed array size");
                }
                m.dims.push_back(d);
                if (!Expect(Tok::CBracket, "unterminated array size")) {
                    return false;
                }
            }
            if (m.isArray && m.dims.empty()) {
                return Fail("array without a size");
            }
            tpl.members.push_back(std::move(m));
        }
        tpls[name] = std::move(tpl);
        return true;
    }

    // Skips a data object of a template we do not know: its optional name
    // and GUID, then its balanced braces.
    bool SkipObject()
    {
        Token t;
        int depth = 0;
        bool opened = false;
        do {
            if (!lex.Next(&t) || t.kind == Tok::End) {
                return Fail("unterminated data object");
            }
            if (t.kind == Tok::OBrace) {
                ++depth;
                opened = true;
            } else if (t.kind == Tok::CBrace) {
                if (!opened) {
                    return Fail("unexpected closing brace");
                }
                --depth;
            }
        } while (!opened || depth > 0);
        return true;
    }

    // A standard template's name in the standard spelling whatever letter
    // case the file writes it in; any other name as it is. Templates are
    // stored and looked up under this name, so a file that declares
    // "TextureFileName" again declares the standard template, and the
    // loaders find its objects under the standard spelling.
    std::string CanonicalName(const std::string& typeName) const
    {
        if (standardNames != nullptr) {
            const auto it = standardNames->find(Lower(typeName));
            if (it != standardNames->end()) {
                return it->second;
            }
        }
        return typeName;
    }

    // The template of a data object's or member's type, and its canonical
    // name; null when it is neither declared nor standard.
    const Template* FindTemplate(const std::string& typeName, std::string* canonical) const
    {
        *canonical = CanonicalName(typeName);
        const auto found = tpls.find(*canonical);
        return found != tpls.end() ? &found->second : nullptr;
    }

    // A data object's optional name and GUID, its brace and its members,
    // up to its children. obj->templateName is set by the caller.
    bool OpenObject(const Template& tpl, XObject* obj)
    {
        Token t;
        if (!lex.Next(&t)) {
            return Fail("");
        }
        if (t.kind == Tok::Name) {
            obj->name = t.text;
            if (!lex.Next(&t)) {
                return Fail("");
            }
        }
        if (t.kind == Tok::Guid && !lex.Next(&t)) {
            return Fail("");
        }
        if (t.kind != Tok::OBrace) {
            return Fail("data object without a body");
        }
        std::vector<std::pair<std::string, uint32_t>> scope;
        return ReadMembers(tpl, 0, obj, &scope);
    }

    // Reads a reference's name and GUID up to its closing brace (the
    // opening one is taken).
    bool ReadReference(XObject* ref)
    {
        ref->isReference = true;
        Token t;
        for (;;) {
            if (!lex.Next(&t)) {
                return Fail("");
            }
            if (t.kind == Tok::CBrace) {
                return true;
            }
            if (t.kind == Tok::Name) {
                ref->name = t.text;
            } else if (t.kind != Tok::Guid) {
                return Fail("malformed reference");
            }
        }
    }

    // One top-level data object with everything inside it. The objects
    // still open are kept on a stack of our own, innermost last, so the
    // nesting a file may use is bounded by kMaxDepth and the heap, never by
    // the native stack. *kept is false for an object of an unknown
    // template, which is skipped.
    bool ParseObject(const std::string& typeName, XObject* out, bool* kept)
    {
        *kept = false;
        std::string canonical;
        const Template* tpl = FindTemplate(typeName, &canonical);
        if (tpl == nullptr) {
            return SkipObject();
        }
        std::vector<XObject> open(1);
        open.back().templateName = canonical;
        if (!OpenObject(*tpl, &open.back())) {
            return false;
        }
        Token t;
        for (;;) {
            if (!lex.Next(&t)) {
                return Fail("");
            }
            if (t.kind == Tok::CBrace) {
                XObject done = std::move(open.back());
                open.pop_back();
                if (open.empty()) {
                    *out = std::move(done);
                    *kept = true;
                    return true;
                }
                open.back().children.push_back(std::move(done));
                continue;
            }
            if (t.kind == Tok::Semicolon || t.kind == Tok::Comma) {
                continue;
            }
            if (t.kind == Tok::OBrace) {
                XObject ref;
                if (!ReadReference(&ref)) {
                    return false;
                }
                open.back().children.push_back(std::move(ref));
                continue;
            }
            if (t.kind != Tok::Name) {
                return Fail("unexpected data after the members");
            }
            // The child would sit open.size() levels below the top.
            if (open.size() > static_cast<size_t>(XFile::kMaxDepth)) {
                const std::string why =
                    "data objects nested more than " + std::to_string(XFile::kMaxDepth) + " deep";
                return Fail(why.c_str());
            }
            tpl = FindTemplate(t.text, &canonical);
            if (tpl == nullptr) {
                if (!SkipObject()) {
                    return false;
                }
                continue;
            }
            open.emplace_back();
            open.back().templateName = canonical;
            if (!OpenObject(*tpl, &open.back())) {
                return false;
            }
        }
    }

    bool NextValue(Token* t)
    {
        do {
            if (!lex.Next(t)) {
                return Fail("");
            }
        } while (t->kind == Tok::Semicolon || t->kind == Tok::Comma);
        return true;
    }

    void Put(XObject* obj, const void* bytes, size_t size)
    {
        const uint8_t* b = static_cast<const uint8_t*>(bytes);
        obj->data.insert(obj->data.end(), b, b + size);
    }

    bool ReadPrim(Prim prim, XObject* obj, uint32_t* asInteger)
    {
        Token t;
        if (!NextValue(&t)) {
            return false;
        }
        if (prim == Prim::String) {
            if (t.kind != Tok::String) {
                return Fail("expected a string");
            }
            const uint32_t index = static_cast<uint32_t>(obj->strings.size());
            obj->strings.push_back(t.text);
            Put(obj, &index, 4);
            return true;
        }
        if (prim == Prim::Float || prim == Prim::Double) {
            if (t.kind != Tok::Float && t.kind != Tok::Integer) {
                return Fail("expected a number");
            }
            // A text integer such as "-1" keeps its sign.
            const double value = t.number;
            if (prim == Prim::Float) {
                const float f = static_cast<float>(value);
                Put(obj, &f, 4);
            } else {
                Put(obj, &value, 8);
            }
            return true;
        }
        if (t.kind != Tok::Integer) {
            return Fail("expected an integer");
        }
        *asInteger = t.integer;
        switch (prim) {
        case Prim::Word:
        case Prim::Sword: {
            const uint16_t w = static_cast<uint16_t>(t.integer);
            Put(obj, &w, 2);
            *asInteger = w;
            return true;
        }
        case Prim::Char:
        case Prim::Uchar:
        case Prim::Byte: {
            const uint8_t b = static_cast<uint8_t>(t.integer);
            Put(obj, &b, 1);
            *asInteger = b;
            return true;
        }
        default: Put(obj, &t.integer, 4); return true;
        }
    }

    bool ReadMembers(const Template& tpl, int depth, XObject* obj, std::vector<std::pair<std::string, uint32_t>>* scope)
    {
        if (depth > XFile::kMaxTemplateDepth) {
            return Fail("templates nested too deeply");
        }
        for (const Member& m : tpl.members) {
            uint64_t count = 1;
            for (const Dim& d : m.dims) {
                uint64_t size = d.fixed;
                if (!d.member.empty()) {
                    bool known = false;
                    for (const auto& s : *scope) {
                        if (s.first == d.member) {
                            size = s.second;
                            known = true;
                        }
                    }
                    if (!known) {
                        return Fail("array size names no member read before it");
                    }
                }
                count *= size;
                // Every element takes at least one byte of the input.
                if (count > lex.Remaining() + 1) {
                    return Fail("array longer than the file");
                }
            }
            const Template* sub = nullptr;
            if (m.prim == Prim::None) {
                const auto it = tpls.find(m.typeName);
                if (it == tpls.end()) {
                    return Fail("member of an unknown type");
                }
                sub = &it->second;
            }
            for (uint64_t i = 0; i < count; ++i) {
                if (sub != nullptr) {
                    const uint64_t before = lex.Consumed();
                    std::vector<std::pair<std::string, uint32_t>> inner;
                    if (!ReadMembers(*sub, depth + 1, obj, &inner)) {
                        return false;
                    }
                    if (lex.Consumed() == before) {
                        return Fail("member of a template without data");
                    }
                    continue;
                }
                uint32_t integer = 0;
                if (!ReadPrim(m.prim, obj, &integer)) {
                    return false;
                }
                if (!m.isArray) {
                    scope->emplace_back(m.name, integer);
                }
            }
            if (obj->data.size() > (size_t(1) << 31)) {
                return Fail("data object too large");
            }
        }
        return true;
    }

    Lexer& lex;
    std::map<std::string, Template>& tpls;
    const std::map<std::string, std::string>* standardNames = nullptr;
};

uint32_t U32At(const uint8_t* p)
{
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t U16At(const uint8_t* p)
{
    uint16_t v = 0;
    std::memcpy(&v, p, 2);
    return v;
}

constexpr size_t kHeaderBytes = 16;
constexpr size_t kBlockBytes = 32768;

// Unpacks the body of a compressed file; false with a reason.
bool Unpack(const uint8_t* p, size_t n, std::vector<uint8_t>* out, std::string* error)
{
    if (n < 4) {
        *error = "xfile: compressed file without its size";
        return false;
    }
    const uint32_t total = U32At(p);
    if (total < kHeaderBytes || total - kHeaderBytes > XFile::kMaxUnpackedBytes) {
        *error = "xfile: unpacked size " + std::to_string(total) + " out of range";
        return false;
    }
    const size_t want = total - kHeaderBytes;
    // Each block of up to 32768 bytes needs at least five bytes of input.
    if (want / kBlockBytes > n / 5 + 1) {
        *error = "xfile: unpacked size larger than the file can hold";
        return false;
    }
    out->clear();
    out->reserve(want);
    size_t pos = 4;
    std::vector<uint8_t> block(kBlockBytes);
    while (out->size() < want) {
        if (n - pos < 6) {
            *error = "xfile: compressed block header truncated at byte " + std::to_string(pos);
            return false;
        }
        const size_t unpacked = U16At(p + pos);
        const size_t packed = U16At(p + pos + 2);
        if (unpacked == 0 || unpacked > kBlockBytes || unpacked > want - out->size() || packed < 3 ||
            packed > n - pos - 4 || p[pos + 4] != 'C' || p[pos + 5] != 'K') {
            *error = "xfile: bad compressed block at byte " + std::to_string(pos);
            return false;
        }
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
            *error = "xfile: zlib refused to start";
            return false;
        }
        if (!out->empty()) {
            const size_t dict = out->size() < kBlockBytes ? out->size() : kBlockBytes;
            inflateSetDictionary(&z, out->data() + out->size() - dict, static_cast<uInt>(dict));
        }
        z.next_in = const_cast<Bytef*>(p + pos + 6);
        z.avail_in = static_cast<uInt>(packed - 2);
        z.next_out = block.data();
        z.avail_out = static_cast<uInt>(unpacked);
        const int r = inflate(&z, Z_FINISH);
        const size_t got = unpacked - z.avail_out;
        inflateEnd(&z);
        if ((r != Z_STREAM_END && r != Z_OK && r != Z_BUF_ERROR) || got != unpacked) {
            *error = "xfile: compressed block at byte " + std::to_string(pos) + " does not unpack";
            return false;
        }
        out->insert(out->end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(got));
        pos += 4 + packed;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- file

// Empties the list without destroying a deep tree by recursion: each level's
// children are moved out and kept until their parents are gone. When memory
// runs short the rest is destroyed by recursion, whose depth the reader
// bounds (kMaxDepth).
static void Dismantle(std::vector<XObject>* list) noexcept
{
    try {
        std::vector<std::vector<XObject>> pending;
        pending.push_back(std::move(*list));
        list->clear();
        while (!pending.empty()) {
            std::vector<XObject> level = std::move(pending.back());
            pending.pop_back();
            for (XObject& o : level) {
                if (!o.children.empty()) {
                    pending.push_back(std::move(o.children));
                    o.children.clear();
                }
            }
        }
    } catch (const std::bad_alloc&) {
    }
    list->clear();
}

XFile::~XFile()
{
    Dismantle(&objects);
}

bool XFile::Parse(const uint8_t* bytes, size_t size, std::string* error)
{
    Dismantle(&objects);
    format.clear();
    std::string why;
    if (bytes == nullptr || size < kHeaderBytes || std::memcmp(bytes, "xof ", 4) != 0) {
        why = "xfile: not an X file";
    } else {
        format.assign(reinterpret_cast<const char*>(bytes + 8), 4);
        const std::string floats(reinterpret_cast<const char*>(bytes + 12), 4);
        const bool doubles = floats == "0064";
        if (!doubles && floats != "0032") {
            why = "xfile: float size \"" + floats + "\" not supported";
        } else if (format != "txt " && format != "bin " && format != "tzip" && format != "bzip") {
            why = "xfile: format \"" + format + "\" not supported";
        } else {
            try {
                std::vector<uint8_t> unpacked;
                const uint8_t* body = bytes + kHeaderBytes;
                size_t bodySize = size - kHeaderBytes;
                if (format == "tzip" || format == "bzip") {
                    if (!Unpack(body, bodySize, &unpacked, &why)) {
                        body = nullptr;
                    } else {
                        body = unpacked.data();
                        bodySize = unpacked.size();
                    }
                }
                if (why.empty()) {
                    std::map<std::string, Template> templates;
                    Lexer stdLex(reinterpret_cast<const uint8_t*>(kStandardTemplates), sizeof kStandardTemplates - 1,
                                 false, false);
                    std::vector<XObject> none;
                    Parser stdParser(stdLex, templates, nullptr);
                    stdParser.ParseFile(&none);
                    std::map<std::string, std::string> standardNames;
                    for (const auto& entry : templates) {
                        standardNames[Lower(entry.first)] = entry.first;
                    }
                    const bool binary = format == "bin " || format == "bzip";
                    Lexer lex(body, bodySize, binary, doubles);
                    Parser parser(lex, templates, &standardNames);
                    if (!parser.ParseFile(&objects)) {
                        why = "xfile: " + parser.error;
                    }
                }
            } catch (const std::bad_alloc&) {
                why = "xfile: out of memory";
            }
        }
    }
    if (!why.empty()) {
        Dismantle(&objects);
        if (error != nullptr) {
            *error = why;
        }
        return false;
    }
    return true;
}

// Depth first in file order, with a stack of our own: a deep tree needs no
// deep recursion.
static const XObject* FindNamed(const std::vector<XObject>& list, const std::string& name)
{
    std::vector<std::pair<const std::vector<XObject>*, size_t>> stack;
    try {
        stack.emplace_back(&list, 0);
        while (!stack.empty()) {
            auto& [level, next] = stack.back();
            if (next >= level->size()) {
                stack.pop_back();
                continue;
            }
            const XObject& o = (*level)[next++];
            if (o.isReference) {
                continue;
            }
            if (o.name == name) {
                return &o;
            }
            if (!o.children.empty()) {
                stack.emplace_back(&o.children, 0);
            }
        }
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

const XObject* XFile::Resolve(const XObject& reference) const
{
    if (!reference.isReference || reference.name.empty()) {
        return nullptr;
    }
    return FindNamed(objects, reference.name);
}

static void AppendBytes(std::vector<uint8_t>* out, const void* bytes, size_t size)
{
    const size_t at = out->size();
    out->resize(at + size);
    std::memcpy(out->data() + at, bytes, size);
}

bool XFileCompress(const uint8_t* body, size_t size, std::vector<uint8_t>* out)
{
    out->clear();
    const uint32_t total = static_cast<uint32_t>(size + kHeaderBytes);
    AppendBytes(out, &total, 4);
    std::vector<uint8_t> packed(compressBound(kBlockBytes) + 64);
    for (size_t at = 0; at < size; at += kBlockBytes) {
        const size_t len = size - at < kBlockBytes ? size - at : kBlockBytes;
        z_stream z{};
        if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return false;
        }
        if (at > 0) {
            deflateSetDictionary(&z, body + at - kBlockBytes, static_cast<uInt>(kBlockBytes));
        }
        z.next_in = const_cast<Bytef*>(body + at);
        z.avail_in = static_cast<uInt>(len);
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        const int r = deflate(&z, Z_FINISH);
        const size_t got = packed.size() - z.avail_out;
        deflateEnd(&z);
        if (r != Z_STREAM_END || got + 2 > 0xFFFF) {
            return false;
        }
        const uint16_t header[2] = {static_cast<uint16_t>(len), static_cast<uint16_t>(got + 2)};
        AppendBytes(out, header, 4);
        AppendBytes(out, "CK", 2);
        AppendBytes(out, packed.data(), got);
    }
    return true;
}

}  // namespace platform
