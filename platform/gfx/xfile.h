#pragma once
// X files: the text, binary and compressed (MSZIP over deflate) forms of the
// DirectX retained-mode file format, read into a tree of data objects.
//
// Data objects are read through their templates: the standard ones (Frame,
// FrameTransformMatrix, Mesh and its children, Material, TextureFilename,
// SkinWeights, XSkinMeshHeader, AnimationSet, Animation, AnimationKey, ...)
// are known in advance, and templates declared in a file are added to them.
// A standard template's name is recognised in any letter case (exporters
// write "TextureFileName"), and its objects carry the standard spelling.
// An object of a template that is neither is skipped. Every count, size and
// offset is checked against what is left of the input before it is used:
// a truncated or hostile file fails with a reason, never with a read past
// the end or an allocation larger than the input can justify. Nesting is
// read with a stack of our own, not by recursion, so a deep skeleton costs
// heap, not native stack.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One data object or one reference to a data object.
struct XObject {
    std::string templateName;   // "Frame", "Mesh", ...; empty for a reference
    std::string name;           // may be empty; for a reference the name it refers to
    bool isReference = false;
    // The members in template order, packed: WORD 2 bytes, DWORD and FLOAT 4,
    // CHAR, UCHAR and BYTE 1, DOUBLE 8 (as the file gives it), STRING a
    // 4-byte index into `strings`. Little-endian.
    std::vector<uint8_t> data;
    std::vector<std::string> strings;
    // Child data objects and references, in file order.
    std::vector<XObject> children;

    // Bounds-checked readers of the packed data: false (and out untouched)
    // when the value does not lie inside it.
    bool ReadU32(size_t offset, uint32_t* out) const;
    bool ReadU16(size_t offset, uint16_t* out) const;
    bool ReadF32(size_t offset, float* out) const;
    // The string whose index is stored at offset.
    bool ReadString(size_t offset, std::string* out) const;
};

class XFile {
public:
    XFile() = default;
    XFile(const XFile&) = default;
    XFile& operator=(const XFile&) = default;
    XFile(XFile&&) = default;
    XFile& operator=(XFile&&) = default;
    // Takes the object tree apart level by level: a deep tree is not
    // destroyed by recursion.
    ~XFile();

    // Deepest nesting of data objects: a file whose objects nest deeper is
    // refused. Real skeletons and scene graphs reach hundreds of levels.
    static constexpr int kMaxDepth = 2048;
    // Deepest nesting of templates inside templates.
    static constexpr int kMaxTemplateDepth = 64;
    // Most bytes a compressed file may unpack to.
    static constexpr size_t kMaxUnpackedBytes = 256u << 20;

    // Reads a whole file from memory. False with a reason ("xfile: ...");
    // the objects read before the failure are dropped.
    bool Parse(const uint8_t* bytes, size_t size, std::string* error);

    const std::vector<XObject>& GetObjects() const { return objects; }
    // The data object a reference names: the first object of that name in
    // the file, searched depth first in file order; null when there is none.
    const XObject* Resolve(const XObject& reference) const;
    // The format word of the header: "txt ", "bin ", "tzip" or "bzip".
    const std::string& GetFormat() const { return format; }

private:
    std::vector<XObject> objects;
    std::string format;
};

// Packs the body of an X file (what follows the 16-byte header) as the
// compressed forms store it: the unpacked size, then blocks of at most
// 32768 bytes, each deflated with the block before it as its dictionary.
// The header itself is not written. False when zlib refuses.
bool XFileCompress(const uint8_t* body, size_t size, std::vector<uint8_t>* out);

}  // namespace platform
