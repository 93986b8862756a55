#include "platform/gfx/xfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform/gfx/xfile_writer.h"

namespace {

using platform::XFile;
using platform::XObject;
using xtest::Bytes;

// A file-declared template with a WORD count, a fixed and a sized array;
// frames, a reference, an object of an unknown template and a string.
const char kBody[] = R"(
template Pair { <01020304-0506-0708-090A-0B0C0D0E0F10> WORD count; array DWORD fixed[2]; array FLOAT values[count]; }
Frame Root {
  FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 1.5,-2.0,3.0,1.0;; }
  Pair P { 3; 7, 8; 0.5, -1.0, 2.25;; }
  Unknown U { 1; { nested } "text"; }
  Frame Child { {Root} }
}
Material Mat { 1.0;0.5;0.25;1.0;; 5.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "dir\tex.png"; } }
)";

void ExpectSameTree(const XObject& a, const XObject& b)
{
    EXPECT_EQ(a.templateName, b.templateName);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.isReference, b.isReference);
    EXPECT_EQ(a.data, b.data);
    EXPECT_EQ(a.strings, b.strings);
    ASSERT_EQ(a.children.size(), b.children.size());
    for (size_t i = 0; i < a.children.size(); ++i) {
        ExpectSameTree(a.children[i], b.children[i]);
    }
}

TEST(XFile, ReadsTemplatesObjectsAndReferences)
{
    const Bytes bytes = xtest::Text(kBody);
    XFile file;
    std::string error;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
    ASSERT_EQ(file.GetObjects().size(), 2u);
    const XObject& root = file.GetObjects()[0];
    EXPECT_EQ(root.templateName, "Frame");
    EXPECT_EQ(root.name, "Root");
    // The unknown object is skipped; the reference is kept as one.
    ASSERT_EQ(root.children.size(), 3u);
    const XObject& matrix = root.children[0];
    ASSERT_EQ(matrix.data.size(), 64u);
    float f = 0.0f;
    ASSERT_TRUE(matrix.ReadF32(48, &f));
    EXPECT_EQ(f, 1.5f);
    ASSERT_TRUE(matrix.ReadF32(52, &f));
    EXPECT_EQ(f, -2.0f);
    EXPECT_FALSE(matrix.ReadF32(61, &f));

    const XObject& pair = root.children[1];
    EXPECT_EQ(pair.templateName, "Pair");
    ASSERT_EQ(pair.data.size(), 2u + 8u + 12u);
    uint16_t count = 0;
    uint32_t fixed = 0;
    ASSERT_TRUE(pair.ReadU16(0, &count));
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(pair.ReadU32(6, &fixed));
    EXPECT_EQ(fixed, 8u);
    ASSERT_TRUE(pair.ReadF32(18, &f));
    EXPECT_EQ(f, 2.25f);

    const XObject& child = root.children[2];
    ASSERT_EQ(child.children.size(), 1u);
    ASSERT_TRUE(child.children[0].isReference);
    EXPECT_EQ(file.Resolve(child.children[0]), &root);
    XObject nowhere;
    nowhere.isReference = true;
    nowhere.name = "Nowhere";
    EXPECT_EQ(file.Resolve(nowhere), nullptr);

    const XObject& mat = file.GetObjects()[1];
    ASSERT_EQ(mat.children.size(), 1u);
    std::string texture;
    ASSERT_TRUE(mat.children[0].ReadString(0, &texture));
    EXPECT_EQ(texture, "dir\\tex.png");
}

TEST(XFile, BinaryAndCompressedFormsReadAlike)
{
    const Bytes text = xtest::Text(kBody);
    XFile reference;
    ASSERT_TRUE(reference.Parse(text.data(), text.size(), nullptr));
    for (const Bytes& bytes : {xtest::Binary(kBody), xtest::Compressed(kBody, "tzip"), xtest::Compressed(kBody, "bzip")}) {
        XFile file;
        std::string error;
        ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
        ASSERT_EQ(file.GetObjects().size(), reference.GetObjects().size());
        for (size_t i = 0; i < file.GetObjects().size(); ++i) {
            ExpectSameTree(file.GetObjects()[i], reference.GetObjects()[i]);
        }
    }
}

TEST(XFile, CompressedBodyLongerThanOneBlock)
{
    // Blocks after the first are packed against the one before them.
    std::string body;
    for (int i = 0; i < 3000; ++i) {
        body += "Frame F" + std::to_string(i) + " { FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, "
                "0.0,0.0,1.0,0.0, " + std::to_string(i) + ".0,0.0,0.0,1.0;; } }\n";
    }
    ASSERT_GT(body.size(), 3u * 32768u);
    const Bytes bytes = xtest::Compressed(body, "tzip");
    XFile file;
    std::string error;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
    ASSERT_EQ(file.GetObjects().size(), 3000u);
    float x = 0.0f;
    ASSERT_TRUE(file.GetObjects()[2999].children[0].ReadF32(48, &x));
    EXPECT_EQ(x, 2999.0f);
}

TEST(XFile, EveryTruncationFailsCleanly)
{
    // A compressed file states its size: every shorter prefix fails.
    for (const Bytes& whole : {xtest::Compressed(kBody, "tzip"), xtest::Compressed(kBody, "bzip")}) {
        for (size_t n = 0; n < whole.size(); ++n) {
            XFile file;
            std::string error;
            EXPECT_FALSE(file.Parse(whole.data(), n, &error)) << "prefix of " << n << " bytes";
            EXPECT_TRUE(file.GetObjects().empty());
        }
    }
    // A plain file cut between two top-level objects is a shorter file;
    // cut anywhere else it fails and keeps nothing.
    const std::string body = kBody;
    for (const Bytes& whole : {xtest::Binary(kBody), xtest::Text(body.substr(0, body.rfind('}') + 1))}) {
        XFile full;
        ASSERT_TRUE(full.Parse(whole.data(), whole.size(), nullptr));
        for (size_t n = 0; n < whole.size(); ++n) {
            XFile file;
            std::string error;
            if (file.Parse(whole.data(), n, &error)) {
                EXPECT_LT(file.GetObjects().size(), full.GetObjects().size()) << "prefix of " << n << " bytes";
            } else {
                EXPECT_TRUE(file.GetObjects().empty());
                EXPECT_EQ(error.rfind("xfile: ", 0), 0u) << error;
            }
        }
    }
}

TEST(XFile, RejectsHostileCountsAndHeaders)
{
    const char* bad[] = {
        // A count far beyond the file.
        "Mesh M { 4000000000; 0.0;0.0;0.0;; 0; }",
        // A size naming a member that is not there, and a template inside itself.
        "template T { <00000000-0000-0000-0000-000000000000> array DWORD d[missing]; } T t { 1; }",
        "template L { <00000000-0000-0000-0000-000000000000> L inner; }",
        // An array of a template without data.
        "template E { <00000000-0000-0000-0000-000000000000> } template A { <00000000-0000-0000-0000-000000000001> DWORD n; array E e[n]; } A a { 100; }",
        // Wrong value kinds and broken structure.
        "Frame F { FrameTransformMatrix { \"x\"; } }",
        "Frame F { FrameTransformMatrix { 1.0; } ",
        "Frame F { { unterminated }",
    };
    for (const char* body : bad) {
        for (const Bytes& bytes : {xtest::Text(body), xtest::Binary(body)}) {
            XFile file;
            std::string error;
            EXPECT_FALSE(file.Parse(bytes.data(), bytes.size(), &error)) << body;
            EXPECT_EQ(error.rfind("xfile: ", 0), 0u) << error;
        }
    }
    // Binary lists and names whose counts run past the end.
    Bytes list = xtest::Binary("Frame F { }");
    list.resize(16 + 2 + 4 + 1);   // token and count of the name, one letter
    for (uint16_t token : {uint16_t(1), uint16_t(2), uint16_t(6), uint16_t(7)}) {
        Bytes b(list.begin(), list.begin() + 16);
        xtest::Put16(&b, token);
        xtest::Put32(&b, 0x7FFFFFFFu);
        b.push_back('x');
        XFile file;
        EXPECT_FALSE(file.Parse(b.data(), b.size(), nullptr));
    }
    // Headers: magic, format and float size.
    for (const char* header : {"xof 0303abc 0032", "xoff0303txt 0032", "xof 0303txt 0016"}) {
        Bytes b(header, header + 16);
        XFile file;
        EXPECT_FALSE(file.Parse(b.data(), b.size(), nullptr)) << header;
    }
    // Compressed: an unpacked size out of range, a block that lies.
    Bytes z = xtest::Compressed(kBody, "tzip");
    for (uint32_t size : {0u, 15u, 0xFFFFFFF0u, 0x7FFFFFFFu}) {
        Bytes b = z;
        std::memcpy(b.data() + 16, &size, 4);
        XFile file;
        EXPECT_FALSE(file.Parse(b.data(), b.size(), nullptr)) << size;
    }
    for (size_t at : {size_t(20), size_t(22), size_t(24)}) {
        Bytes b = z;
        b[at] ^= 0x5A;
        XFile file;
        EXPECT_FALSE(file.Parse(b.data(), b.size(), nullptr)) << at;
    }
}

TEST(XFile, DoublePrecisionBinaryFloats)
{
    // A 64-bit file stores its float lists as doubles.
    Bytes b;
    const std::string header = "xof 0303bin 0064";
    b.assign(header.begin(), header.end());
    xtest::Put16(&b, 1);
    xtest::Put32(&b, 20);
    const std::string name = "FrameTransformMatrix";
    b.insert(b.end(), name.begin(), name.end());
    xtest::Put16(&b, 10);
    xtest::Put16(&b, 7);
    xtest::Put32(&b, 16);
    for (int i = 0; i < 16; ++i) {
        const double d = i * 0.5;
        uint8_t raw[8];
        std::memcpy(raw, &d, 8);
        b.insert(b.end(), raw, raw + 8);
    }
    xtest::Put16(&b, 11);
    XFile file;
    std::string error;
    ASSERT_TRUE(file.Parse(b.data(), b.size(), &error)) << error;
    float f = 0.0f;
    ASSERT_TRUE(file.GetObjects()[0].ReadF32(60, &f));
    EXPECT_EQ(f, 7.5f);
}

// Strings in the middle of an object and of a list: each is followed by the
// separator that ends it.
const char kStrings[] = R"(
template Names { <0A0B0C0D-0000-0000-0000-000000000001> DWORD n; array STRING names[n]; DWORD after; }
Names List { 3; "first", "second", "third"; 77; }
SkinWeights { "Bone"; 1; 4; 0.5; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
Material M { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFilename { "maps\\wood.png"; } }
)";

TEST(XFile, BinaryStringsEndWithATwoByteTokenOrAFourByteValue)
{
    const Bytes text = xtest::Text(kStrings);
    XFile reference;
    std::string error;
    ASSERT_TRUE(reference.Parse(text.data(), text.size(), &error)) << error;
    ASSERT_EQ(reference.GetObjects().size(), 3u);
    const XObject& list = reference.GetObjects()[0];
    ASSERT_EQ(list.strings.size(), 3u);
    EXPECT_EQ(list.strings[2], "third");
    uint32_t after = 0;
    ASSERT_TRUE(list.ReadU32(16, &after));
    EXPECT_EQ(after, 77u);

    // The format's own writer stores the separator as a 2-byte token; the
    // 4-byte form is read too, in every binary container.
    for (const Bytes& bytes : {xtest::Binary(kStrings), xtest::Binary(kStrings, xtest::StringEnd::Wide),
                               xtest::Compressed(kStrings, "bzip"),
                               xtest::Compressed(kStrings, "bzip", xtest::StringEnd::Wide)}) {
        XFile file;
        ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
        ASSERT_EQ(file.GetObjects().size(), reference.GetObjects().size());
        for (size_t i = 0; i < file.GetObjects().size(); ++i) {
            ExpectSameTree(file.GetObjects()[i], reference.GetObjects()[i]);
        }
    }
    // The two forms really differ: two bytes more per string.
    EXPECT_EQ(xtest::Binary(kStrings, xtest::StringEnd::Wide).size(), xtest::Binary(kStrings).size() + 2 * 5);

    // A 2-byte token followed by another token, not by a zero word, is
    // taken as the next token (here the object's closing brace).
    Bytes b = xtest::Binary("TextureFilename { \"a.png\"; }");
    XFile file;
    ASSERT_TRUE(file.Parse(b.data(), b.size(), &error)) << error;
    ASSERT_EQ(file.GetObjects().size(), 1u);
    // A string followed by nothing at all ends the file early.
    ASSERT_GT(b.size(), 4u);
    b.erase(b.end() - 4, b.end());
    EXPECT_FALSE(file.Parse(b.data(), b.size(), &error));
    EXPECT_EQ(error.rfind("xfile: ", 0), 0u) << error;
}

TEST(XFile, StandardTemplatesInAnyLetterCaseUnknownOnesSkipped)
{
    // As exporters write them, undeclared; and one file declares its own
    // spelling of a standard template.
    const char body[] = R"(
FRAME Body {
  frameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 2.0,0.0,0.0,1.0;; }
  Material M { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; TextureFileName { "a\\b.png"; } }
  TextureFilenames { "not a standard template"; }
}
template meshnormals { <F6F23F43-7686-11cf-8F52-0040333594A3> DWORD nNormals; array VECTOR normals[nNormals];
  DWORD nFaceNormals; array MeshFace faceNormals[nFaceNormals]; }
MESHNORMALS N { 1; 0.0;0.0;1.0;; 1; 3;0,0,0;;; }
)";
    for (const Bytes& bytes : {xtest::Text(body), xtest::Binary(body)}) {
        XFile file;
        std::string error;
        ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
        ASSERT_EQ(file.GetObjects().size(), 2u);
        const XObject& frame = file.GetObjects()[0];
        EXPECT_EQ(frame.templateName, "Frame");
        ASSERT_EQ(frame.children.size(), 2u);
        EXPECT_EQ(frame.children[0].templateName, "FrameTransformMatrix");
        float x = 0.0f;
        ASSERT_TRUE(frame.children[0].ReadF32(48, &x));
        EXPECT_EQ(x, 2.0f);
        const XObject& material = frame.children[1];
        ASSERT_EQ(material.children.size(), 1u);
        EXPECT_EQ(material.children[0].templateName, "TextureFilename");
        std::string name;
        ASSERT_TRUE(material.children[0].ReadString(0, &name));
        EXPECT_EQ(name, "a\\\\b.png");   // as written: text files keep both backslashes
        EXPECT_EQ(file.GetObjects()[1].templateName, "MeshNormals");
        EXPECT_EQ(file.GetObjects()[1].data.size(), 4u + 12u + 4u + 16u);
    }
}

// A chain of frames `depth` deep, a matrix at the bottom.
std::string FrameChain(int depth)
{
    std::string s;
    for (int i = 0; i < depth; ++i) {
        s += "Frame F" + std::to_string(i) + " {\n";
    }
    s += "FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 9.0,0.0,0.0,1.0;; }\n";
    s += std::string(static_cast<size_t>(depth), '}');
    return s;
}

TEST(XFile, DeepNestingReadsWithoutRecursionAndHostileDepthIsRefused)
{
    // 1500 frames, the matrix one level below the last: well inside the
    // limit, and as deep as real skeletons and scene graphs go and more.
    for (const Bytes& bytes : {xtest::Text(FrameChain(1500)), xtest::Compressed(FrameChain(1500), "bzip")}) {
        XFile file;
        std::string error;
        ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
        const XObject* o = &file.GetObjects()[0];
        int depth = 1;
        while (!o->children.empty() && o->children[0].templateName == "Frame") {
            o = &o->children[0];
            ++depth;
        }
        EXPECT_EQ(depth, 1500);
        EXPECT_EQ(o->name, "F1499");
        ASSERT_EQ(o->children.size(), 1u);
        XObject reference;
        reference.isReference = true;
        reference.name = "F1499";
        EXPECT_EQ(file.Resolve(reference), o);
    }
    // The deepest allowed nesting reads; one level more is refused whole
    // with the reason, and so is a hostile depth far beyond it.
    const int limit = XFile::kMaxDepth;
    {
        const Bytes ok = xtest::Text(FrameChain(limit));
        XFile file;
        std::string error;
        EXPECT_TRUE(file.Parse(ok.data(), ok.size(), &error)) << error;
    }
    for (int depth : {limit + 1, 200000}) {
        const Bytes bytes = xtest::Binary(FrameChain(depth));
        XFile file;
        std::string error;
        EXPECT_FALSE(file.Parse(bytes.data(), bytes.size(), &error));
        EXPECT_TRUE(file.GetObjects().empty());
        EXPECT_EQ(error.rfind("xfile: data objects nested more than " + std::to_string(limit) + " deep at byte ", 0),
                  0u)
            << error;
    }
    // Objects of an unknown template are skipped at any depth.
    std::string unknown = "Frame Top { Strange S ";
    unknown += std::string(200000, '{') + std::string(200000, '}') + " }";
    const Bytes bytes = xtest::Text(unknown);
    XFile file;
    std::string error;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
    EXPECT_TRUE(file.GetObjects()[0].children.empty());
}

}  // namespace
