// OFD font data: the file read with every record checked, its sheets loaded
// from the pack, and the file written.
#include "engine/render/font_data.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/texture.h"
#include "engine/render/font_sprite.h"
#include "platform/sys/file.h"
#include "platform/sys/path.h"

namespace {

const char kMagic[4] = {'O', 'F', 'D', '\0'};

int32_t ReadI32(const uint8_t* p)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

void WriteI32(uint8_t* p, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void Step(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

}  // namespace

size_t OrvaFontData::FileSize(int32_t sheetCount)
{
    const size_t sheets = sheetCount > 0 ? static_cast<size_t>(sheetCount) : 0;
    return kHeaderBytes + sheets * kSheetNameBytes + static_cast<size_t>(kStoredRecords) * kRecordBytes;
}

OrvaFontData::OrvaFontData() = default;

OrvaFontData::~OrvaFontData()
{
    Reset();
}

void OrvaFontData::Reset()
{
    for (OrvaTexture*& t : sheetTextures) {
        if (t != nullptr) {
            t->Release();
            t = nullptr;
        }
    }
    sheetTextures.clear();
    sheetNames.clear();
    glyphs.clear();
    fontSize = 0;
    sheetCount = 0;
    sheetWidth = 0;
    sheetHeight = 0;
}

OrvaTexture* OrvaFontData::TakeSheetTexture(int32_t sheet)
{
    if (sheet < 0 || static_cast<size_t>(sheet) >= sheetTextures.size()) {
        return nullptr;
    }
    OrvaTexture* t = sheetTextures[static_cast<size_t>(sheet)];
    sheetTextures[static_cast<size_t>(sheet)] = nullptr;
    return t;
}

bool OrvaFontData::Parse(const uint8_t* bytes, size_t size)
{
    Reset();
    if (bytes == nullptr || size < sizeof(kMagic) || std::memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
        OrvaDebug::Log("Error : OFDファイルではありません\n");
        return false;
    }
    if (size < static_cast<size_t>(kHeaderBytes)) {
        OrvaDebug::Log("Error : OFDファイルが途中で切れています [%zu / %zu バイト]\n", size, FileSize(0));
        return false;
    }
    const int32_t sheets = ReadI32(bytes + 8);
    if (sheets > kMaxSheets) {
        OrvaDebug::Log("Error : OFDファイルのシート数が多すぎます [%d / 最大 %d]\n", sheets, kMaxSheets);
        return false;
    }
    const int32_t count = sheets > 0 ? sheets : 0;
    const size_t needed = FileSize(count);
    if (size < needed) {
        OrvaDebug::Log("Error : OFDファイルが途中で切れています [%zu / %zu バイト]\n", size, needed);
        return false;
    }
    // Every name ends inside its field, and every record names a sheet that
    // the file has (or none): the font sprite indexes its sheets by it.
    const uint8_t* names = bytes + kHeaderBytes;
    for (int32_t s = 0; s < count; ++s) {
        if (std::memchr(names + static_cast<size_t>(s) * kSheetNameBytes, 0, kSheetNameBytes) == nullptr) {
            OrvaDebug::Log("Error : OFDファイルのシート名が終わっていません [シート %d]\n", s);
            return false;
        }
    }
    const uint8_t* records = names + static_cast<size_t>(count) * kSheetNameBytes;
    for (int32_t k = 0; k < kStoredRecords; ++k) {
        const int32_t sheet = ReadI32(records + static_cast<size_t>(k) * kRecordBytes);
        if (sheet < -1 || sheet >= count) {
            OrvaDebug::Log("Error : OFDファイルの文字のシート番号が正しくありません [スロット %d / シート %d]\n",
                           kFirstStoredSlot + k, sheet);
            return false;
        }
    }

    try {
        glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
        sheetNames.reserve(static_cast<size_t>(count));
        for (int32_t s = 0; s < count; ++s) {
            sheetNames.emplace_back(reinterpret_cast<const char*>(names + static_cast<size_t>(s) * kSheetNameBytes));
        }
    } catch (const std::bad_alloc&) {
        Reset();
        OrvaDebug::Log("エラー : フォントデータのメモリを確保できません\n");
        return false;
    }
    for (int32_t k = 0; k < kStoredRecords; ++k) {
        const uint8_t* r = records + static_cast<size_t>(k) * kRecordBytes;
        OfdGlyphRecord& g = glyphs[static_cast<size_t>(kFirstStoredSlot + k)];
        g.sheet = ReadI32(r);
        g.left = ReadI32(r + 4);
        g.top = ReadI32(r + 8);
        g.right = ReadI32(r + 12);
        g.bottom = ReadI32(r + 16);
        g.a = ReadI32(r + 20);
        g.b = static_cast<uint32_t>(ReadI32(r + 24));
        g.c = ReadI32(r + 28);
    }
    fontSize = ReadI32(bytes + 4);
    sheetCount = count;
    sheetWidth = ReadI32(bytes + 12);
    sheetHeight = ReadI32(bytes + 16);
    return true;
}

OrvaFontDataResult OrvaFontData::Load(const char* fileName, const char* packFile, bool alpha, OrvaProgress progress)
{
    Reset();
    OrvaApplication::SetCurrentDirectory();
    FILE* file = platform::OpenEngineFileStream(fileName);
    if (file == nullptr) {
        OrvaDebug::Log("エラー : ファイルを開けません [%s]\n", fileName != nullptr ? fileName : "(null)");
        return OrvaFontDataResult::NotOpened;
    }
    // Nothing past the largest file that can be valid is ever read.
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(FileSize(kMaxSheets));
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        OrvaDebug::Log("エラー : フォントデータのメモリを確保できません\n");
        return OrvaFontDataResult::Refused;
    }
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (!Parse(bytes.data(), got)) {
        return OrvaFontDataResult::Refused;
    }

    OrvaDebug::Log("シートサイズ [%dx%d] {\n", sheetWidth, sheetHeight);
    sheetTextures.assign(static_cast<size_t>(sheetCount), nullptr);
    for (int32_t s = 0; s < sheetCount; ++s) {
        OrvaDebug::Log("\t");
        sheetTextures[static_cast<size_t>(s)] =
            OrvaTexture::CreateFromPack(packFile, sheetNames[static_cast<size_t>(s)].c_str(), alpha, progress);
        Step(progress);
    }
    return OrvaFontDataResult::Loaded;
}

bool OrvaFontData::Serialize(std::vector<uint8_t>* out) const
{
    if (out == nullptr) {
        return false;
    }
    if (sheetCount < 0 || sheetCount > kMaxSheets || sheetNames.size() != static_cast<size_t>(sheetCount)) {
        OrvaDebug::Log("エラー : OFDファイルに書けないシート数です [%d / 名前 %zu]\n", sheetCount, sheetNames.size());
        return false;
    }
    for (const std::string& name : sheetNames) {
        if (name.size() >= static_cast<size_t>(kSheetNameBytes)) {
            OrvaDebug::Log("エラー : シート名が長すぎます [%s]\n", name.c_str());
            return false;
        }
    }
    for (size_t slot = 0; slot < glyphs.size(); ++slot) {
        if (glyphs[slot].sheet < -1 || glyphs[slot].sheet >= sheetCount) {
            OrvaDebug::Log("エラー : 文字のシート番号が正しくありません [スロット %zu / シート %d]\n", slot,
                           glyphs[slot].sheet);
            return false;
        }
    }
    try {
        out->assign(FileSize(sheetCount), 0);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("エラー : フォントデータのメモリを確保できません\n");
        return false;
    }
    uint8_t* p = out->data();
    std::memcpy(p, kMagic, sizeof(kMagic));
    WriteI32(p + 4, fontSize);
    WriteI32(p + 8, sheetCount);
    WriteI32(p + 12, sheetWidth);
    WriteI32(p + 16, sheetHeight);
    p += kHeaderBytes;
    for (const std::string& name : sheetNames) {
        std::memcpy(p, name.data(), name.size());
        p += kSheetNameBytes;
    }
    for (int32_t k = 0; k < kStoredRecords; ++k, p += kRecordBytes) {
        // Slots the data does not hold are stored without a glyph.
        const size_t slot = static_cast<size_t>(kFirstStoredSlot + k);
        const OfdGlyphRecord g = slot < glyphs.size() ? glyphs[slot] : OfdGlyphRecord{};
        WriteI32(p, g.sheet);
        WriteI32(p + 4, g.left);
        WriteI32(p + 8, g.top);
        WriteI32(p + 12, g.right);
        WriteI32(p + 16, g.bottom);
        WriteI32(p + 20, g.a);
        WriteI32(p + 24, static_cast<int32_t>(g.b));
        WriteI32(p + 28, g.c);
    }
    return true;
}

bool OrvaFontData::Save(const char* fileName) const
{
    std::vector<uint8_t> bytes;
    if (!Serialize(&bytes)) {
        return false;
    }
    const std::string path = platform::HostPath(fileName);
    FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        OrvaDebug::Log("エラー : ファイルを作成できません [%s]\n", fileName != nullptr ? fileName : "(null)");
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        OrvaDebug::Log("エラー : ファイルに書き込めません [%s]\n", fileName);
        return false;
    }
    return true;
}
