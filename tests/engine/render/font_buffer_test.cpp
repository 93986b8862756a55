#include "engine/render/font_buffer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/font.h"
#include "engine/core/sjis.h"
#include "engine/core/texture.h"
#include "engine/render/font_data.h"
#include "engine/render/font_sprite.h"

namespace {

// Shift-JIS spellings used below.
#define SJ_A "\x82\xA0"     // あ
#define SJ_I "\x82\xA2"     // い
#define SJ_U "\x82\xA4"     // う
#define SJ_E "\x82\xA6"     // え
#define SJ_O "\x82\xA8"     // お
#define SJ_KA "\x82\xA9"    // か
#define SJ_SO "\x83\x5C"    // ソ: its trail byte is a backslash
#define SJ_KAN "\x8A\xBF"   // 漢
// "ＭＳ ゴシック", the face the engine's programs name.
const char* const kGothic = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TextOf(const OrvaFontBuffer* buffer)
{
    const char* text = buffer->GetText(0);
    return text != nullptr ? std::string(text, buffer->GetLength()) : std::string();
}

uint32_t Id(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

class OrvaFontBufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = ::testing::TempDir() + "font_buffer_log.txt";
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        ASSERT_TRUE(OrvaFontSprite::Initialize());
    }
    void TearDown() override
    {
        OrvaFontSprite::Destroy();
        OrvaDebug::SetLogPath(nullptr);
    }
    std::string Log() const { return ReadAll(logPath); }
    // Compacts a text and gives what is left.
    static std::string Compacted(const std::string& text)
    {
        OrvaFontBuffer* b = OrvaFontBuffer::CreateFromString(nullptr);
        EXPECT_TRUE(b->Append(text.data(), static_cast<uint32_t>(text.size())));
        b->Compact();
        const std::string out = TextOf(b);
        // The text stays zero-terminated after it shrinks.
        EXPECT_EQ(b->GetLength() == 0 ? 0 : std::strlen(b->GetText(0)), std::strlen(out.c_str()));
        b->Release();
        return out;
    }

    std::string logPath;
};

// An OFD file's bytes with the given sheets and every stored record set by
// the callback (slot -> record).
template <typename MakeRecord>
std::vector<uint8_t> OfdBytes(int32_t sheetCount, const std::vector<std::string>& names, MakeRecord make)
{
    OrvaFontData data;
    data.fontSize = 16;
    data.sheetCount = sheetCount;
    data.sheetWidth = 256;
    data.sheetHeight = 128;
    data.sheetNames = names;
    data.glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
    for (int32_t slot = OrvaFontData::kFirstStoredSlot; slot < OrvaFontSprite::kGlyphSlots - 1; ++slot) {
        data.glyphs[static_cast<size_t>(slot)] = make(slot);
    }
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(data.Serialize(&bytes));
    return bytes;
}

OfdGlyphRecord Record(int32_t slot, int32_t sheets)
{
    OfdGlyphRecord r;
    r.sheet = sheets > 0 && slot % 3 != 0 ? slot % sheets : -1;
    r.left = slot;
    r.top = -slot;
    r.right = slot + 7;
    r.bottom = 18;
    r.a = slot % 5 - 2;
    r.b = static_cast<uint32_t>(slot) * 3u;
    r.c = -(slot % 4);
    return r;
}

void PutI32(std::vector<uint8_t>* bytes, size_t at, int32_t value)
{
    for (int i = 0; i < 4; ++i) {
        (*bytes)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    }
}

}  // namespace

TEST_F(OrvaFontBufferTest, CompactKeepsDistinctCharactersOutsideComments)
{
    EXPECT_EQ(Compacted(SJ_A SJ_I SJ_A "/*" SJ_I SJ_U "*/" SJ_E "//" SJ_O "\n" SJ_KA), SJ_A SJ_I SJ_E SJ_KA);
    EXPECT_EQ(Compacted("a/b"), "a/b");
    EXPECT_EQ(Compacted("ab//no line feed"), "ab");
    EXPECT_EQ(Compacted("a/*never closed"), "a");
    // A line feed outside comments is a character like any other.
    EXPECT_EQ(Compacted("a\nb\n\ta b"), "a\nb\t ");
    // Two-byte characters are stepped over whole inside comments.
    EXPECT_EQ(Compacted("/*" SJ_SO "*/x//" SJ_SO "\ny"), "xy");
    // A lead byte at the very end stands alone; it takes no trail byte
    // from beyond the text.
    EXPECT_EQ(Compacted("z\x82"), "z\x82");
    EXPECT_EQ(Compacted(std::string("a\0b\0a", 5)), std::string("a\0b", 3));
    EXPECT_EQ(Compacted(""), "");
}

TEST_F(OrvaFontBufferTest, BuiltInSetsHaveTheirCharacters)
{
    OrvaFontBuffer* b = OrvaFontBuffer::CreateFromString(nullptr);
    ASSERT_TRUE(b->AddDigits());
    const std::string digits = TextOf(b);
    ASSERT_EQ(digits.size(), 50u);
    EXPECT_EQ(digits.substr(0, 2), "\x82\x4F");        // ０
    EXPECT_EQ(digits.substr(20, 10), "0123456789");
    EXPECT_EQ(digits.substr(30, 2), "\x97\xEB");       // 零
    EXPECT_EQ(digits.substr(48, 2), "\x8B\xE3");       // 九
    // All 30 are distinct: compaction keeps them in their order.
    b->Compact();
    EXPECT_EQ(TextOf(b), digits);

    OrvaFontBuffer* kana = OrvaFontBuffer::CreateFromString(nullptr);
    ASSERT_TRUE(kana->AddKana());
    EXPECT_EQ(kana->GetLength(), 386u);
    EXPECT_EQ(TextOf(kana).substr(0, 2), SJ_A);
    EXPECT_EQ(TextOf(kana).substr(384), "\xDE\xDF");
    OrvaFontBuffer* alphabet = OrvaFontBuffer::CreateFromString(nullptr);
    ASSERT_TRUE(alphabet->AddAlphabet());
    EXPECT_EQ(alphabet->GetLength(), 156u);
    EXPECT_EQ(TextOf(alphabet).substr(104), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");

    OrvaFontBuffer* jis = OrvaFontBuffer::CreateFromString(nullptr);
    ASSERT_TRUE(jis->AddJisCharacters());
    ASSERT_EQ(jis->GetLength(), 13716u);
    const std::string all = TextOf(jis);
    EXPECT_EQ(all.substr(0, 2), "\x81\x4F");
    EXPECT_EQ(all.substr(all.size() - 2), "\xEA\x9E");
    // Ascending two-byte codes, every one a JIS X 0208 position: no trail
    // byte 0x7F, none outside 0x40 to 0xFC.
    uint16_t previous = 0;
    for (size_t i = 0; i < all.size(); i += 2) {
        const uint16_t code = OrvaSjis::StringToCode(all.c_str() + i);
        ASSERT_GT(code, previous) << i;
        const uint8_t trail = static_cast<uint8_t>(code);
        ASSERT_TRUE(trail >= 0x40 && trail <= 0xFC && trail != 0x7F) << std::hex << code;
        ASSERT_NE(OrvaFontSprite::GetCharIndex(code), -1) << std::hex << code;
        previous = code;
    }
    jis->Compact();
    EXPECT_EQ(jis->GetLength(), 13716u);
    EXPECT_EQ(OrvaFontBuffer::GetCodeSetCount(), 6858u);
}

TEST_F(OrvaFontBufferTest, TextBoundsAndAppend)
{
    OrvaFontBuffer* empty = OrvaFontBuffer::CreateFromString(nullptr);
    EXPECT_EQ(empty->GetLength(), 0u);
    EXPECT_EQ(empty->GetText(0), nullptr);
    OrvaFontBuffer* b = OrvaFontBuffer::CreateFromString("abc");
    EXPECT_EQ(b->GetText(3), nullptr);
    EXPECT_EQ(b->GetText(0xFFFFFFFFu), nullptr);
    ASSERT_NE(b->GetText(2), nullptr);
    EXPECT_EQ(*b->GetText(2), 'c');
    // Across a block boundary, and a null text appends nothing.
    const std::string long1(4095, 'x');
    ASSERT_TRUE(b->Append(long1.data(), 4095));
    ASSERT_TRUE(b->Append(nullptr, 0));
    EXPECT_EQ(b->GetLength(), 4098u);
    EXPECT_EQ(b->GetText(4097)[1], '\0');
    EXPECT_FALSE(b->Append("y", 0xFFFFFFFFu));
    EXPECT_EQ(b->GetLength(), 4098u);
}

TEST_F(OrvaFontBufferTest, CreateReadsTextFiles)
{
    const std::string path = ::testing::TempDir() + "font_buffer_text.txt";
    // Windows line ends arrive as line feeds; the text ends at a zero byte.
    static const char kFile[] = "//" SJ_KAN "\r\n" SJ_A "b\r\n" SJ_A "\0tail";
    WriteAll(path, std::string(kFile, sizeof(kFile) - 1));
    int calls = 0;
    static int* s_calls = nullptr;
    s_calls = &calls;
    OrvaFontBuffer* b = OrvaFontBuffer::Create(path.c_str(), [](int32_t) { ++*s_calls; });
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(TextOf(b), "//" SJ_KAN "\n" SJ_A "b\n" SJ_A);
    EXPECT_EQ(calls, 2);
    b->Compact();
    EXPECT_EQ(TextOf(b), SJ_A "b\n");

    OrvaFontBuffer* missing = OrvaFontBuffer::Create("no_such_font_buffer_file.txt", nullptr);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->GetLength(), 0u);
    EXPECT_NE(Log().find("エラー : ファイルを開けません [no_such_font_buffer_file.txt]\n"), std::string::npos);
}

TEST_F(OrvaFontBufferTest, ModuleListHoldsBuffersAndLogs)
{
    OrvaFontBuffer* first = OrvaFontBuffer::CreateFromString("a");
    OrvaFontBuffer* second = OrvaFontBuffer::CreateFromString("b");
    // Linked at the tail.
    EXPECT_EQ(OrvaFontSprite::GetObjectList().GetAt(0), first);
    EXPECT_EQ(OrvaFontSprite::GetObjectList().GetAt(1), second);
    first->Release();
    EXPECT_EQ(OrvaFontSprite::GetCount(), 1);
    OrvaFontSprite::Destroy();
    EXPECT_EQ(OrvaFontSprite::GetCount(), 0);
    char want[512];
    std::snprintf(want, sizeof(want),
                  "\n============================================== Initialize FontSprite\n"
                  "○ CreateFontBuffer  / ID [0x%08X] / ○ CreateFontBuffer  / ID [0x%08X] / "
                  "● ReleaseFontBuffer  / ID [0x%08X]\n"
                  "\n============================================== Destroy FontSprite\n"
                  "● ReleaseFontBuffer  / ID [0x%08X]\n",
                  Id(first), Id(second), Id(first), Id(second));
    EXPECT_EQ(Log(), want);
}

TEST_F(OrvaFontBufferTest, GlyphIndexBands)
{
    const struct {
        uint16_t code;
        int32_t slot;
    } cases[] = {
        {0x1F, -1},     {0x20, 0},      {0x41, 33},     {0xFF, 223},    {0x100, -1},   {0x805F, -1},
        {0x8060, 0},    {0x8100, 160},  {0x813F, 223},  {0x8140, 224},  {0x889F, 2111}, {0x9FFC, 8092},
        {0x9FFE, -1},   {0xC0A0, -1},   {0xC0A1, 0},    {0xE040, 8095}, {0xEAA2, 10753}, {0xEAA3, -1},
        {0xFFFF, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OrvaFontSprite::GetCharIndex(c.code), c.slot) << std::hex << c.code;
    }
}

TEST_F(OrvaFontBufferTest, OfdRoundTrip)
{
    const std::vector<std::string> names = {"sheet0", "\x83\x56\x81\x5B\x83\x67" "1", std::string(31, 'n')};
    const auto bytes = OfdBytes(3, names, [](int32_t slot) { return Record(slot, 3); });
    ASSERT_EQ(bytes.size(), 336980u + 3 * 32);
    EXPECT_EQ(std::memcmp(bytes.data(), "OFD\0", 4), 0);
    // Slot 223 is the first record, right after the names.
    EXPECT_EQ(bytes[20 + 96 + 4], 223);

    const std::string path = ::testing::TempDir() + "round_trip.ofd";
    WriteAll(path, std::string(bytes.begin(), bytes.end()));
    OrvaFontData data;
    ASSERT_EQ(data.Load(path.c_str(), "no_such_pack.oag", true, nullptr), OrvaFontDataResult::Loaded);
    EXPECT_EQ(data.fontSize, 16);
    EXPECT_EQ(data.sheetCount, 3);
    EXPECT_EQ(data.sheetWidth, 256);
    EXPECT_EQ(data.sheetHeight, 128);
    EXPECT_EQ(data.sheetNames, names);
    ASSERT_EQ(data.glyphs.size(), static_cast<size_t>(OrvaFontSprite::kGlyphSlots));
    // Slots below 223 and the last one are not stored: no glyph.
    EXPECT_EQ(data.glyphs[0].sheet, -1);
    EXPECT_EQ(data.glyphs[222].sheet, -1);
    EXPECT_EQ(data.glyphs[10753].sheet, -1);
    for (int32_t slot = 223; slot < 10753; ++slot) {
        const OfdGlyphRecord want = Record(slot, 3);
        ASSERT_EQ(std::memcmp(&data.glyphs[static_cast<size_t>(slot)], &want, sizeof(want)), 0) << slot;
    }
    // Each sheet is asked of the pack; a missing pack gives textures that
    // are not valid, held until taken.
    ASSERT_EQ(data.sheetTextures.size(), 3u);
    EXPECT_NE(data.sheetTextures[1], nullptr);
    EXPECT_EQ(data.sheetTextures[1]->IsValid(), 0);
    OrvaTexture* taken = data.TakeSheetTexture(1);
    EXPECT_EQ(data.TakeSheetTexture(1), nullptr);
    EXPECT_EQ(data.TakeSheetTexture(3), nullptr);
    taken->Release();
    EXPECT_NE(Log().find("シートサイズ [256x128] {\n\t"), std::string::npos);

    std::vector<uint8_t> again;
    ASSERT_TRUE(data.Serialize(&again));
    EXPECT_EQ(again, bytes);
}

TEST_F(OrvaFontBufferTest, OfdWithoutSheetsKeepsItsRecords)
{
    auto bytes = OfdBytes(0, {}, [](int32_t slot) { return Record(slot, 0); });
    // A negative sheet count is read as none.
    PutI32(&bytes, 8, -4);
    OrvaFontData data;
    ASSERT_TRUE(data.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(data.sheetCount, 0);
    EXPECT_EQ(data.glyphs[500].left, 500);
    EXPECT_EQ(data.glyphs[10752].b, 10752u * 3u);
    // Bytes after the records are not read.
    bytes.resize(bytes.size() + 100, 0xEE);
    EXPECT_TRUE(data.Parse(bytes.data(), bytes.size()));
}

TEST_F(OrvaFontBufferTest, OfdRefusesBrokenFiles)
{
    const auto good = OfdBytes(2, {"a", "b"}, [](int32_t slot) { return Record(slot, 2); });
    OrvaFontData data;
    ASSERT_TRUE(data.Parse(good.data(), good.size()));

    auto wrongMagic = good;
    wrongMagic[3] = 1;
    EXPECT_FALSE(data.Parse(wrongMagic.data(), wrongMagic.size()));
    EXPECT_TRUE(data.glyphs.empty());
    EXPECT_FALSE(data.Parse(good.data(), 3));
    EXPECT_FALSE(data.Parse(good.data(), 19));
    EXPECT_FALSE(data.Parse(good.data(), good.size() - 1));
    EXPECT_FALSE(data.Parse(good.data(), 20 + 64));

    auto tooMany = good;
    PutI32(&tooMany, 8, 257);
    EXPECT_FALSE(data.Parse(tooMany.data(), tooMany.size()));
    // More sheets than the file has names and records for: truncated.
    auto more = good;
    PutI32(&more, 8, 200);
    EXPECT_FALSE(data.Parse(more.data(), more.size()));
    PutI32(&more, 8, 0x7FFFFFFF);
    EXPECT_FALSE(data.Parse(more.data(), more.size()));

    auto unterminated = good;
    std::memset(unterminated.data() + 20 + 32, 'x', 32);
    EXPECT_FALSE(data.Parse(unterminated.data(), unterminated.size()));

    // Records naming sheets that are not there.
    for (const int32_t sheet : {2, -2, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u)}) {
        auto badSheet = good;
        PutI32(&badSheet, 20 + 64 + 32 * 4000, sheet);
        EXPECT_FALSE(data.Parse(badSheet.data(), badSheet.size())) << sheet;
    }

    const std::string log = Log();
    EXPECT_NE(log.find("Error : OFDファイルではありません\n"), std::string::npos);
    EXPECT_NE(log.find("Error : OFDファイルが途中で切れています [337043 / 337044 バイト]\n"), std::string::npos);
    EXPECT_NE(log.find("Error : OFDファイルのシート数が多すぎます [257 / 最大 256]\n"), std::string::npos);
    EXPECT_NE(log.find("Error : OFDファイルのシート名が終わっていません [シート 1]\n"), std::string::npos);
    EXPECT_NE(log.find("Error : OFDファイルの文字のシート番号が正しくありません [スロット 4223 / シート 2]\n"),
              std::string::npos);

    // From files: a wrong magic is refused before anything is loaded; a
    // missing file is not opened.
    const std::string path = ::testing::TempDir() + "wrong_magic.ofd";
    WriteAll(path, std::string(wrongMagic.begin(), wrongMagic.end()));
    EXPECT_EQ(data.Load(path.c_str(), "pack", false, nullptr), OrvaFontDataResult::Refused);
    EXPECT_TRUE(data.sheetTextures.empty());
    EXPECT_EQ(data.Load("no_such_file.ofd", "pack", false, nullptr), OrvaFontDataResult::NotOpened);

    // The writer refuses what the reader would.
    OrvaFontData bad;
    bad.sheetCount = 1;
    bad.sheetNames = {std::string(32, 'n')};
    std::vector<uint8_t> out;
    EXPECT_FALSE(bad.Serialize(&out));
    bad.sheetNames = {"ok"};
    bad.glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
    bad.glyphs[300].sheet = 1;
    EXPECT_FALSE(bad.Serialize(&out));
    bad.glyphs[300].sheet = 0;
    EXPECT_TRUE(bad.Serialize(&out));
}

// The characters of a compacted buffer laid out in a row of cells as glyphs
// are packed onto a sheet: each cell B + 2 wide, the glyph one pixel in.
TEST_F(OrvaFontBufferTest, CompactedTextLaysOutInCells)
{
    OrvaDevice::Configure(64, 48, true, nullptr);
    ASSERT_TRUE(OrvaDevice::Initialize());
    OrvaTexture::Initialize();
    OrvaFont::Initialize();

    OrvaFontBuffer* b = OrvaFontBuffer::CreateFromString(SJ_KAN SJ_A "A" SJ_KAN "/*" SJ_I "*/" SJ_A "g");
    b->Compact();
    ASSERT_EQ(TextOf(b), SJ_KAN SJ_A "Ag");
    constexpr int32_t kSize = 16;
    OrvaFont* font = OrvaFont::Create(kGothic, kSize, false, false, nullptr);
    ASSERT_TRUE(font->IsValid());
    OrvaTexture* sheet = OrvaTexture::Create(128, kSize + 2, true, nullptr);
    ASSERT_TRUE(font->SetTarget(kOrvaFontTargetTexture, sheet));

    struct Cell {
        int32_t left, right;
    };
    std::vector<Cell> cells;
    int32_t pen = 0;
    for (uint32_t at = 0; at < b->GetLength();) {
        uint16_t code = 0;
        const int32_t step = OrvaSjis::ReadChar(b->GetText(at), &code);
        ASSERT_GT(step, 0);
        at += static_cast<uint32_t>(step);
        ASSERT_NE(OrvaFontSprite::GetCharIndex(code), -1);
        ASSERT_TRUE(font->BeginDC());
        int32_t a = 0, bw = 0, c = 0;
        font->GetCharABC(code, &a, &bw, &c);
        EXPECT_GT(bw, 0) << std::hex << code;
        font->DrawChar(pen + 1, 1, 0xFFFFFFFFu, code);
        font->EndDC();
        cells.push_back({pen, pen + bw + 2});
        pen += bw + 2;
    }
    ASSERT_EQ(cells.size(), 4u);
    // The full-width characters are wider than the Latin ones.
    EXPECT_GT(cells[0].right - cells[0].left, cells[2].right - cells[2].left);

    // Every inked pixel lies inside its own cell, one pixel in from its
    // left edge, and every cell has ink.
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(sheet->Lock(&bits, &pitch), 1);
    const int bytes = platform::FormatBytes(sheet->GetFormat());
    std::vector<int> inkPerCell(cells.size(), 0);
    for (int y = 0; y < sheet->GetHeight(); ++y) {
        for (int x = 0; x < sheet->GetWidth(); ++x) {
            const uint32_t argb =
                platform::FormatToArgb(sheet->GetFormat(), static_cast<uint8_t*>(bits) + y * pitch + x * bytes);
            if ((argb >> 24) == 0) {
                continue;
            }
            bool inside = false;
            for (size_t i = 0; i < cells.size(); ++i) {
                if (x >= cells[i].left + 1 && x < cells[i].right - 1) {
                    ++inkPerCell[i];
                    inside = true;
                }
            }
            EXPECT_TRUE(inside) << "ink at " << x << "," << y;
        }
    }
    sheet->Unlock();
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_GT(inkPerCell[i], 0) << i;
    }
    font->Release();
    sheet->Release();
    OrvaFont::Destroy();
    OrvaTexture::Destroy();
    OrvaDevice::Destroy();
}
