#include "engine/render/font_sprite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/font.h"
#include "engine/core/image_pack.h"
#include "engine/core/sjis.h"
#include "engine/core/texture.h"
#include "engine/render/font_buffer.h"
#include "engine/render/font_data.h"
#include "engine/render/sprite.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

// Shift-JIS spellings used below.
#define SJ_BAR "\x84\x9F"     // ─ (fills its cell's width)
#define SJ_A_KAN "\x88\x9F"   // 亜
#define SJ_SQUARE "\x81\xA1"  // ■
#define SJ_KAN "\x8A\xBF"     // 漢
#define SJ_JI "\x8E\x9A"      // 字
#define SJ_HA "\x82\xA0"      // あ
#define SJ_IDEO_SPACE "\x81\x40"
// "ＭＳ ゴシック": the face the engine's programs name (IPA Gothic here).
const char* const kGothic = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";

constexpr uint32_t kClear = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

uint16_t Code(const char* text)
{
    uint16_t code = 0;
    OrvaSjis::ReadChar(text, &code);
    return code;
}

// The A8R8G8B8 texels of a texture's system copy.
std::vector<uint32_t> Texels(OrvaTexture* t)
{
    std::vector<uint32_t> out;
    void* bits = nullptr;
    int32_t pitch = 0;
    if (t == nullptr || t->Lock(&bits, &pitch) != 1) {
        return out;
    }
    out.resize(static_cast<size_t>(t->GetWidth()) * t->GetHeight());
    for (int y = 0; y < t->GetHeight(); ++y) {
        std::memcpy(&out[static_cast<size_t>(y) * t->GetWidth()], static_cast<uint8_t*>(bits) + y * pitch,
                    static_cast<size_t>(t->GetWidth()) * 4);
    }
    t->Unlock();
    return out;
}

// One glyph expected on the frame: its cell copied 1:1 to (left, top).
struct Placed {
    const OfdGlyphRecord* glyph;
    int left;
    int top;
};

class OrvaFontSpriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = ::testing::TempDir() + "font_sprite_log.txt";
        std::remove(logPath.c_str());
    }
    void Start(int w, int h)
    {
        StartDevice2D(w, h);
        ASSERT_TRUE(OrvaSprite::Initialize());
        OrvaFont::Initialize();
        ASSERT_TRUE(OrvaFontSprite::Initialize());
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        OrvaTexture::SetFullColor(true);
        OrvaDebug::SetLogPath(logPath.c_str());
    }
    void TearDown() override
    {
        OrvaFontSprite::Destroy();
        OrvaFont::Destroy();
        OrvaSprite::Destroy();
        StopDevice2D();
        OrvaTexture::SetFullColor(false);
        OrvaDebug::SetLogPath(nullptr);
    }
    std::string Log() const { return ReadFile(logPath); }

    static OrvaFontSprite* Pack(const char* text, int32_t size, int32_t capacity = 64)
    {
        OrvaFontBuffer* b = OrvaFontBuffer::CreateFromString(text);
        OrvaFontSprite* f = OrvaFontSprite::CreateFromBuffer(b, capacity, true, kGothic, size, false, nullptr);
        b->Release();
        return f;
    }
    static const OfdGlyphRecord& Glyph(const OrvaFontSprite* f, const char* character)
    {
        return *f->GetGlyph(OrvaFontSprite::GetCharIndex(Code(character)));
    }
    // White glyphs drawn 1:1 over black: every pixel inside a placed cell
    // shows the cell's coverage as grey, every other pixel stays clear.
    static void ExpectGlyphs(const OrvaFontSprite* f, const std::vector<Placed>& placed)
    {
        std::vector<std::vector<uint32_t>> sheets;
        for (int32_t s = 0; s < f->GetSheetCount(); ++s) {
            sheets.push_back(Texels(f->GetSheetSprite(s)->GetTexture(0)));
        }
        int inked = 0;
        for (int y = 0; y < g_frameHeight; ++y) {
            for (int x = 0; x < g_frameWidth; ++x) {
                uint32_t alpha = 0;
                for (const Placed& p : placed) {
                    const OfdGlyphRecord& g = *p.glyph;
                    const int w = g.right - g.left;
                    const int h = g.bottom - g.top;
                    if (x >= p.left && x < p.left + w && y >= p.top && y < p.top + h) {
                        const int sheetWidth = f->GetSheetSprite(g.sheet)->GetTexture(0)->GetWidth();
                        alpha = sheets[g.sheet][static_cast<size_t>(g.top + y - p.top) * sheetWidth + g.left + x -
                                                p.left] >> 24;
                    }
                }
                const uint32_t pixel = g_frame[static_cast<size_t>(y) * g_frameWidth + x];
                if (alpha == 0) {
                    EXPECT_EQ(pixel, kClear) << x << "," << y;
                } else {
                    ++inked;
                    EXPECT_EQ(pixel & 0x00FFFFFFu, alpha * 0x010101u) << x << "," << y;
                }
            }
        }
        EXPECT_GT(inked, 0);
    }

    // A font of size 8 read from an OFD file whose one 16 x 8 sheet holds
    // an opaque white 4 x 4 cell per glyph at (8 k, 0) for the k-th of the
    // given two-byte characters (the file keeps no others), each with its
    // own A width and B 4, C 1.
    static OrvaFontSprite* Cells(const std::vector<std::pair<const char*, int32_t>>& glyphs)
    {
        OrvaFontData data;
        data.fontSize = 8;
        data.sheetCount = 1;
        data.sheetWidth = 16;
        data.sheetHeight = 8;
        data.sheetNames = {"cells"};
        data.glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
        platform::Image sheet;
        sheet.width = 16;
        sheet.height = 8;
        sheet.argb.assign(16 * 8, 0u);
        for (size_t k = 0; k < glyphs.size(); ++k) {
            const int32_t left = 8 * static_cast<int32_t>(k);
            data.glyphs[static_cast<size_t>(OrvaFontSprite::GetCharIndex(Code(glyphs[k].first)))] = {
                0, left, 0, left + 4, 4, glyphs[k].second, 4, 1};
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 4; ++x) {
                    sheet.argb[static_cast<size_t>(y) * 16 + static_cast<size_t>(left + x)] = kWhite;
                }
            }
        }
        const std::string pack = ::testing::TempDir() + "font_sprite_cells.oag";
        const std::string ofd = ::testing::TempDir() + "font_sprite_cells.ofd";
        EXPECT_TRUE(OrvaImagePack::Write(pack.c_str(), {{"cells", &sheet, 4}}));
        EXPECT_TRUE(data.Save(ofd.c_str()));
        return OrvaFontSprite::CreateFromFile(ofd.c_str(), pack.c_str(), true, 8, nullptr);
    }

    std::string logPath;
};

}  // namespace

// Cells are B + 2 wide and a font size + 2 tall, packed row by row; a cell
// that would end exactly at the sheet's right edge goes to the next row, and
// a full sheet opens a new one.
TEST_F(OrvaFontSpriteTest, PacksCellsRowByRowOntoSheets)
{
    Start(8, 8);
    // Three full-width glyphs 6 pixels wide at size 6: n = 3, so the sheets
    // are 16 x 16 with two rows of 8, and one 8-pixel cell per row.
    OrvaFontSprite* f = Pack(SJ_BAR SJ_A_KAN SJ_SQUARE, 6);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetSheetWidth(), 16);
    EXPECT_EQ(f->GetSheetHeight(), 16);
    EXPECT_EQ(f->GetRowsPerSheet(), 2);
    ASSERT_EQ(f->GetSheetCount(), 2);
    int32_t size = 0;
    f->GetFontSize(&size);
    EXPECT_EQ(size, 6);
    struct Expect {
        const char* character;
        int32_t sheet, left, top, right, bottom;
    };
    for (const Expect& e : {Expect{SJ_BAR, 0, 0, 0, 8, 8}, Expect{SJ_A_KAN, 0, 0, 8, 8, 16},
                            Expect{SJ_SQUARE, 1, 0, 0, 8, 8}}) {
        const OfdGlyphRecord& g = Glyph(f, e.character);
        EXPECT_EQ(g.sheet, e.sheet) << e.character;
        EXPECT_EQ(g.left, e.left);
        EXPECT_EQ(g.top, e.top);
        EXPECT_EQ(g.right, e.right);
        EXPECT_EQ(g.bottom, e.bottom);
        EXPECT_EQ(g.b, 6u);
        int32_t a = -1, b = -1, c = -1;
        ASSERT_TRUE(f->GetCharSize(e.character, &a, &b, &c));
        EXPECT_EQ(a, g.a);
        EXPECT_EQ(b, 6);
        EXPECT_EQ(c, g.c);
    }
    // Ink only inside the cells, one pixel in from the left and top.
    for (int32_t s = 0; s < 2; ++s) {
        OrvaTexture* t = f->GetSheetSprite(s)->GetTexture(0);
        ASSERT_NE(t, nullptr);
        const std::vector<uint32_t> texels = Texels(t);
        int ink = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                if ((texels[static_cast<size_t>(y) * 16 + x] >> 24) == 0) {
                    continue;
                }
                ++ink;
                EXPECT_TRUE(x >= 1 && x < 7) << s << ": " << x << "," << y;
                EXPECT_TRUE((y >= 1 && y < 8) || (s == 0 && y >= 9)) << s << ": " << x << "," << y;
            }
        }
        EXPECT_GT(ink, 0) << s;
    }
    // Each sheet texture 16 x 16 x 2 x 4 bytes: 4 KB for the two.
    char summary[128];
    std::snprintf(summary, sizeof summary, "} シート数 2 / 4 KB UseTexture / %u ByteUse / Complete!\n",
                  static_cast<uint32_t>(sizeof(OrvaFontSprite)));
    const std::string log = Log();
    EXPECT_NE(log.find("○ CreateFontSprite  / ID [" + Hex(f) + "] / シートサイズ [16x16] /  {\n\t○ CreateGdiFont"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(summary), std::string::npos) << log;
    // The sheets' textures now belong to their batches alone.
    EXPECT_EQ(f->GetSheetSprite(0)->GetTexture(0)->GetRefCount(), 1);
    // The GDI font lived only while packing.
    EXPECT_EQ(OrvaFont::GetCount(), 0);
}

TEST_F(OrvaFontSpriteTest, SheetSizeFollowsTheTextAndRefusesWhatCannotPack)
{
    Start(4, 4);
    OrvaFontSprite* small = Pack("AB", 14);
    EXPECT_EQ(small->GetSheetWidth(), 32);
    EXPECT_EQ(small->GetRowsPerSheet(), 2);
    EXPECT_EQ(small->GetSheetCount(), 1);

    // 20,000 bytes at size 16: sides of 101 x 18 pixels, capped at 1,024.
    // Spaces take no glyph.
    const std::string spaces(20000, ' ');
    OrvaFontSprite* big = Pack(spaces.c_str(), 16);
    EXPECT_EQ(big->GetSheetWidth(), 1024);
    EXPECT_EQ(big->GetSheetHeight(), 1024);
    EXPECT_EQ(big->GetRowsPerSheet(), 56);
    EXPECT_EQ(big->GetSheetCount(), 1);
    EXPECT_EQ(big->GetGlyph(0)->sheet, -1);

    // A cell of 1,025 pixels fits no 1,024-pixel sheet.
    OrvaFontSprite* huge = Pack("A", 1023);
    EXPECT_EQ(huge->GetSheetCount(), 0);
    EXPECT_NE(Log().find("シートサイズ [1024x1024] / エラー : フォントが大きすぎてシートに乗りません\n"),
              std::string::npos);

    // No text, or a font size with no cell, packs nothing.
    OrvaFontSprite* none = OrvaFontSprite::CreateFromBuffer(nullptr, 8, true, kGothic, 16, false, nullptr);
    EXPECT_EQ(none->GetSheetCount(), 0);
    EXPECT_NE(Log().find("○ CreateFontSprite  / ID [" + Hex(none) + "] / エラー : バッファが存在しません\n"),
              std::string::npos);
    EXPECT_EQ(Pack("", 16)->GetSheetCount(), 0);
    EXPECT_EQ(Pack("A", -2)->GetSheetCount(), 0);
    EXPECT_EQ(Pack("A", 0)->GetSheetCount(), 0);

    // A font sprite without sheets draws nothing and measures by its size.
    none->DrawText("AB", 0, 0, 0.0f, kWhite);
    none->Render();
    EXPECT_EQ(none->GetTextWidth("AB"), 0);
    EXPECT_EQ(huge->GetTextWidthProportional("AB"), 2 * 1023);
    EXPECT_EQ(OrvaFontSprite::GetCount(), 7);
}

// Text at fixed and proportional pitch with line feeds, tabs, spaces and
// backspaces, drawn 1:1 into a tiny frame.
TEST_F(OrvaFontSpriteTest, DrawsTextIntoItsCells)
{
    Start(48, 28);
    OrvaFontSprite* f = Pack("AgB" SJ_KAN, 8);
    ASSERT_EQ(f->GetSheetCount(), 1);
    const OfdGlyphRecord* a = &Glyph(f, "A");
    const OfdGlyphRecord* g = &Glyph(f, "g");
    const OfdGlyphRecord* b = &Glyph(f, "B");
    const OfdGlyphRecord* kan = &Glyph(f, SJ_KAN);

    // Fixed pitch: each cell at pen + A, the pen moving 8; a line feed goes
    // back to x, 8 down.
    DrawFrame(kClear, [&] {
        f->Clear();
        f->DrawText("A\ng" SJ_KAN, 3, 2, 0.0f, kWhite);
        f->Render();
    });
    ExpectGlyphs(f, {{a, 3 + a->a, 2}, {g, 3 + g->a, 10}, {kan, 11 + kan->a, 10}});

    // A tab moves four sizes, a space half a size, a backspace one back.
    DrawFrame(kClear, [&] {
        f->Clear();
        f->DrawText("\tA", 0, 0, 0.0f, kWhite);
        f->DrawText("B  \bA", 1, 12, 0.0f, kWhite);
        f->Render();
    });
    ExpectGlyphs(f, {{a, 32 + a->a, 0}, {b, 1 + b->a, 12}, {a, 1 + 8 + 4 + 4 - 8 + a->a, 12}});

    // Proportional: cells at the pen, the pen moving B + 1; a character
    // without a glyph moves a whole size.
    DrawFrame(kClear, [&] {
        f->Clear();
        f->DrawTextProportional("gB" SJ_IDEO_SPACE "A", 2, 5, 0.0f, kWhite);
        f->Render();
    });
    const int afterB = 2 + static_cast<int>(g->b) + 1 + static_cast<int>(b->b) + 1;
    ExpectGlyphs(f, {{g, 2, 5}, {b, 2 + static_cast<int>(g->b) + 1, 5}, {a, afterB + 8, 5}});

    // The queue holds until Clear: rendering again draws the same.
    const std::vector<uint32_t> before = g_frame;
    DrawFrame(kClear, [&] { f->Render(); });
    EXPECT_EQ(g_frame, before);
}

TEST_F(OrvaFontSpriteTest, MeasuresTheWidestLine)
{
    Start(4, 4);
    OrvaFontSprite* f = Pack("ABCDEFGH" SJ_KAN, 16);
    EXPECT_EQ(f->GetTextWidth("ABC\nDEFGH"), 5 * 16);
    EXPECT_EQ(f->GetTextWidth("AB\n"), 2 * 16);
    EXPECT_EQ(f->GetTextWidth("\tA \b"), 4 * 16 + 16 + 8 - 16);
    EXPECT_EQ(f->GetTextWidth(SJ_KAN SJ_HA), 2 * 16);
    EXPECT_EQ(f->GetTextWidth(""), 0);
    EXPECT_EQ(f->GetTextWidth(nullptr), 0);
    // Proportional: B + 1 for a glyph, a size for a character without one.
    const int32_t bA = static_cast<int32_t>(Glyph(f, "A").b);
    const int32_t bKan = static_cast<int32_t>(Glyph(f, SJ_KAN).b);
    EXPECT_EQ(f->GetTextWidthProportional("A" SJ_KAN "\nA"), bA + 1 + bKan + 1);
    EXPECT_EQ(f->GetTextWidthProportional("A" SJ_HA " "), bA + 1 + 16 + 8);
}

TEST_F(OrvaFontSpriteTest, SingleCharacterDraws)
{
    Start(40, 24);
    OrvaFontSprite* f = Pack("A" SJ_KAN "\xB1", 8, 8);
    OrvaSprite* sheet = f->GetSheetSprite(0);
    ASSERT_NE(sheet, nullptr);
    const OrvaRect dst{4, 3, 4 + 10, 3 + 10};

    // Lengths: 1 for a one-byte code (a half-width katakana is slot byte -
    // 32), 2 for a two-byte one, 0 for a code without a slot; a slot without
    // a glyph queues nothing.
    EXPECT_EQ(f->GetGlyph(0xB1 - 32)->sheet, 0);
    EXPECT_EQ(f->DrawChar("\xB1", &dst, 0.0f, kWhite), 1);
    EXPECT_EQ(sheet->GetPolygonCount(), 2u);
    EXPECT_EQ(f->DrawChar(SJ_HA, &dst, 0.0f, kWhite), 2);
    EXPECT_EQ(f->DrawChar("\x1F", &dst, 0.0f, kWhite), 0);
    EXPECT_EQ(f->DrawChar("", &dst, 0.0f, kWhite), 0);
    EXPECT_EQ(f->DrawChar(nullptr, &dst, 0.0f, kWhite), 0);
    EXPECT_EQ(f->DrawCharQuad(SJ_HA, nullptr, 0.0f, kWhite), 2);
    EXPECT_EQ(sheet->GetPolygonCount(), 2u);
    int32_t a = 0, b = 0, c = 0;
    EXPECT_FALSE(f->GetCharSize("\x1F", &a, &b, &c));
    // A glyphless slot reports the pitch the text draws give it.
    ASSERT_TRUE(f->GetCharSize(SJ_HA, &a, &b, &c));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 8);
    EXPECT_EQ(c, 0);

    // The same rectangle drawn stretched, turned by nothing and on its own
    // four corners gives the same picture.
    const OfdGlyphRecord& kan = Glyph(f, SJ_KAN);
    const OrvaRect exact{5, 2, 5 + kan.right - kan.left, 2 + kan.bottom - kan.top};
    auto frameOf = [&](const std::function<int32_t()>& draw) {
        DrawFrame(kClear, [&] {
            f->Clear();
            EXPECT_EQ(draw(), 2);
            f->Render();
        });
        return g_frame;
    };
    const std::vector<uint32_t> plain = frameOf([&] { return f->DrawChar(SJ_KAN, &exact, 0.0f, kWhite); });
    ExpectGlyphs(f, {{&kan, 5, 2}});
    EXPECT_EQ(frameOf([&] { return f->DrawCharRotate(SJ_KAN, &exact, 0.0f, kWhite, 0, 3, 4); }), plain);
    EXPECT_EQ(frameOf([&] { return f->DrawCharRotate2(SJ_KAN, &exact, 0.0f, kWhite, 65536, 0, 0); }), plain);
    const OrvaPoint corners[4] = {{exact.left, exact.top},
                                  {exact.right, exact.top},
                                  {exact.right, exact.bottom},
                                  {exact.left, exact.bottom}};
    EXPECT_EQ(frameOf([&] { return f->DrawCharQuad(SJ_KAN, corners, 0.0f, kWhite); }), plain);
    // A quarter turn about the top-left corner lays the glyph on its side.
    const std::vector<uint32_t> turned =
        frameOf([&] { return f->DrawCharRotate(SJ_KAN, &exact, 0.0f, kWhite, 16384, 0, 0); });
    EXPECT_NE(turned, plain);

    // A clip rectangle keeps the glyph inside it.
    const OrvaRect clip{0, 0, exact.left + 3, 24};
    f->SetClip(&clip);
    frameOf([&] { return f->DrawChar(SJ_KAN, &exact, 0.0f, kWhite); });
    for (int y = 0; y < g_frameHeight; ++y) {
        for (int x = 0; x < g_frameWidth; ++x) {
            const uint32_t expected = x < clip.right ? plain[static_cast<size_t>(y) * g_frameWidth + x] : kClear;
            EXPECT_EQ(g_frame[static_cast<size_t>(y) * g_frameWidth + x], expected) << x << "," << y;
        }
    }
    f->SetClip(nullptr);
}

// The pattern lies on stage 1 of every sheet; removing it must also take it
// off the sheets, or the old one would still tint the glyphs.
TEST_F(OrvaFontSpriteTest, PatternTextureTintsAndLeavesAgain)
{
    Start(24, 12);
    OrvaDevice::SetTextureStageState(1, platform::TssColorOp, platform::TopModulate);
    OrvaDevice::SetTextureStageState(1, platform::TssColorArg1, platform::TaTexture);
    OrvaDevice::SetTextureStageState(1, platform::TssColorArg2, platform::TaCurrent);
    OrvaDevice::SetTextureStageState(1, platform::TssAlphaOp, platform::TopSelectArg2);
    OrvaDevice::SetTextureStageState(1, platform::TssAlphaArg2, platform::TaCurrent);
    OrvaFontSprite* f = Pack(SJ_KAN, 8);
    OrvaTexture* red = OrvaTexture::Create(2, 2, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(red->Lock(&bits, &pitch), 1);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            const uint32_t texel = 0xFFFF0000u;
            std::memcpy(static_cast<uint8_t*>(bits) + y * pitch + x * 4, &texel, 4);
        }
    }
    red->Unlock();
    red->Update();

    auto draw = [&] {
        DrawFrame(kClear, [&] {
            f->Clear();
            f->DrawText(SJ_KAN, 2, 1, 0.0f, kWhite);
            f->Render();
        });
    };
    draw();
    const std::vector<uint32_t> white = g_frame;

    f->SetPatternTexture(red);
    EXPECT_EQ(f->GetPatternTexture(), red);
    EXPECT_EQ(f->GetSheetSprite(0)->GetTexture(1), red);
    EXPECT_EQ(red->GetRefCount(), 3);
    draw();
    int tinted = 0;
    for (size_t i = 0; i < g_frame.size(); ++i) {
        if (white[i] != kClear) {
            ++tinted;
            EXPECT_EQ(g_frame[i] & 0x0000FFFFu, 0u) << i;
            EXPECT_EQ(g_frame[i] & 0x00FF0000u, white[i] & 0x00FF0000u) << i;
        } else {
            EXPECT_EQ(g_frame[i], kClear) << i;
        }
    }
    EXPECT_GT(tinted, 0);

    f->SetPatternTexture(nullptr);
    EXPECT_EQ(f->GetPatternTexture(), nullptr);
    EXPECT_EQ(f->GetSheetSprite(0)->GetTexture(1), nullptr);
    EXPECT_EQ(red->GetRefCount(), 1);
    draw();
    EXPECT_EQ(g_frame, white);
    red->Release();
}

// Fixed pitch places each cell at the pen plus the glyph's own A width;
// proportional pitch places it at the pen and moves B + 1.
TEST_F(OrvaFontSpriteTest, FixedPitchPlacesEachCellAfterItsAWidth)
{
    Start(32, 8);
    OrvaFontSprite* f = Cells({{SJ_KAN, 3}, {SJ_JI, 1}});
    ASSERT_EQ(f->GetSheetCount(), 1);
    auto expectCells = [](std::initializer_list<int> lefts) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 32; ++x) {
                bool inside = false;
                for (int left : lefts) {
                    inside = inside || (x >= left && x < left + 4 && y >= 2 && y < 6);
                }
                EXPECT_EQ(Pixel(x, y), inside ? kWhite : kClear) << x << "," << y;
            }
        }
    };
    DrawFrame(kClear, [&] {
        f->DrawText(SJ_KAN SJ_JI, 10, 2, 0.0f, kWhite);
        f->Render();
    });
    // 漢 at 10 + 3; 字 one size on, at 18 + 1.
    expectCells({13, 19});
    DrawFrame(kClear, [&] {
        f->Clear();
        f->DrawTextProportional(SJ_KAN SJ_JI, 10, 2, 0.0f, kWhite);
        f->Render();
    });
    // 漢 at 10; 字 at 10 + 4 + 1.
    expectCells({10, 15});
}

// The whole pattern texture lies over every glyph's cell, each cell
// starting again at the pattern's first texel.
TEST_F(OrvaFontSpriteTest, PatternTextureSpansEachGlyphCell)
{
    Start(16, 8);
    OrvaDevice::SetTextureStageState(1, platform::TssColorOp, platform::TopModulate);
    OrvaDevice::SetTextureStageState(1, platform::TssColorArg1, platform::TaTexture);
    OrvaDevice::SetTextureStageState(1, platform::TssColorArg2, platform::TaCurrent);
    OrvaDevice::SetTextureStageState(1, platform::TssAlphaOp, platform::TopSelectArg2);
    OrvaDevice::SetTextureStageState(1, platform::TssAlphaArg2, platform::TaCurrent);
    OrvaFontSprite* f = Cells({{SJ_KAN, 3}, {SJ_JI, 1}});
    const uint32_t colors[2][2] = {{0xFFFF0000u, 0xFF00FF00u}, {0xFF0000FFu, 0xFFFFFFFFu}};
    OrvaTexture* pattern = OrvaTexture::Create(2, 2, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(pattern->Lock(&bits, &pitch), 1);
    for (int y = 0; y < 2; ++y) {
        std::memcpy(static_cast<uint8_t*>(bits) + y * pitch, colors[y], 8);
    }
    pattern->Unlock();
    pattern->Update();
    f->SetPatternTexture(pattern);
    DrawFrame(kClear, [&] {
        f->DrawText(SJ_KAN SJ_JI, 0, 2, 0.0f, kWhite);
        f->Render();
    });
    // The 2 x 2 pattern, shrunk by half a texel on each side, over the 4 x 4
    // cells at x 3 and x 9: each texel covers a 2 x 2 block of each cell.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint32_t want = kClear;
            for (int left : {3, 9}) {
                if (x >= left && x < left + 4 && y >= 2 && y < 6) {
                    want = colors[(y - 2) / 2][(x - left) / 2];
                }
            }
            EXPECT_EQ(Pixel(x, y), want) << x << "," << y;
        }
    }
    pattern->Release();
}

// Packed glyphs written out as an OFD file with their sheets in a pack, read
// back, and drawn the same.
TEST_F(OrvaFontSpriteTest, PackedFontRoundTripsThroughAnOfdFile)
{
    Start(40, 12);
    const char* text = SJ_KAN SJ_JI SJ_HA SJ_BAR;
    OrvaFontSprite* packed = Pack(text, 8);
    ASSERT_EQ(packed->GetSheetCount(), 1);

    OrvaFontData data;
    ASSERT_TRUE(packed->ExportFontData(&data));
    data.sheetNames = {"sheet0"};
    platform::Image sheet;
    OrvaTexture* t = packed->GetSheetSprite(0)->GetTexture(0);
    sheet.width = t->GetWidth();
    sheet.height = t->GetHeight();
    sheet.argb = Texels(t);
    const std::string pack = ::testing::TempDir() + "font_sprite_sheets.oag";
    const std::string ofd = ::testing::TempDir() + "font_sprite.ofd";
    ASSERT_TRUE(OrvaImagePack::Write(pack.c_str(), {{"sheet0", &sheet, 4}}));
    ASSERT_TRUE(data.Save(ofd.c_str()));

    OrvaFontSprite* loaded = OrvaFontSprite::CreateFromFile(ofd.c_str(), pack.c_str(), true, 16, nullptr);
    ASSERT_EQ(loaded->GetSheetCount(), 1);
    EXPECT_EQ(loaded->GetSheetWidth(), 0);
    int32_t size = 0;
    loaded->GetFontSize(&size);
    EXPECT_EQ(size, 8);
    for (int32_t slot = OrvaFontData::kFirstStoredSlot; slot < OrvaFontSprite::kGlyphSlots - 1; ++slot) {
        const OfdGlyphRecord& p = *packed->GetGlyph(slot);
        const OfdGlyphRecord& l = *loaded->GetGlyph(slot);
        ASSERT_EQ(std::memcmp(&p, &l, sizeof p), 0) << slot;
    }
    EXPECT_EQ(Texels(loaded->GetSheetSprite(0)->GetTexture(0)), sheet.argb);

    auto frameOf = [&](OrvaFontSprite* f) {
        DrawFrame(kClear, [&] {
            f->Clear();
            f->DrawText(text, 1, 2, 0.0f, kWhite);
            f->Render();
        });
        return g_frame;
    };
    const std::vector<uint32_t> fromFile = frameOf(loaded);
    EXPECT_EQ(frameOf(packed), fromFile);
    ExpectGlyphs(loaded, {{loaded->GetGlyph(OrvaFontSprite::GetCharIndex(Code(SJ_KAN))),
                           1 + Glyph(loaded, SJ_KAN).a, 2},
                          {&Glyph(loaded, SJ_JI), 9 + Glyph(loaded, SJ_JI).a, 2},
                          {&Glyph(loaded, SJ_HA), 17 + Glyph(loaded, SJ_HA).a, 2},
                          {&Glyph(loaded, SJ_BAR), 25 + Glyph(loaded, SJ_BAR).a, 2}});
    char summary[160];
    std::snprintf(summary, sizeof summary, "シートサイズ [%dx%d] {\n\t○ CreateTexture", data.sheetWidth,
                  data.sheetHeight);
    EXPECT_NE(Log().find("○ CreateFontSprite  / ID [" + Hex(loaded) + "] / " + summary), std::string::npos)
        << Log();
}

TEST_F(OrvaFontSpriteTest, BrokenOrMissingFontFilesGiveFontSpritesWithoutSheets)
{
    Start(16, 12);
    OrvaFontData data;
    data.fontSize = 8;
    data.sheetCount = 1;
    data.sheetNames = {"gone"};
    data.glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
    const int32_t kan = OrvaFontSprite::GetCharIndex(Code(SJ_KAN));
    const int32_t ji = OrvaFontSprite::GetCharIndex(Code(SJ_JI));
    data.glyphs[static_cast<size_t>(kan)] = {0, 0, 0, 8, 10, 0, 6, 2};
    // A cell no sheet can hold.
    data.glyphs[static_cast<size_t>(ji)] = {0, 0, 0, 0x7FFFFFFF, 10, 0, 6, 2};
    const std::string ofd = ::testing::TempDir() + "font_sprite_broken.ofd";
    ASSERT_TRUE(data.Save(ofd.c_str()));

    // The sheet's image is not in the pack: the glyphs are known but draw
    // nothing (not a solid box), and the implausible cell is dropped.
    OrvaFontSprite* f = OrvaFontSprite::CreateFromFile(ofd.c_str(), "no_such_pack.oag", true, 8, nullptr);
    ASSERT_EQ(f->GetSheetCount(), 1);
    EXPECT_EQ(f->GetGlyph(kan)->sheet, 0);
    EXPECT_EQ(f->GetGlyph(ji)->sheet, -1);
    EXPECT_NE(Log().find("エラー : OFDファイルの文字の範囲が正しくないため 1 文字を除きました\n"), std::string::npos);
    EXPECT_EQ(f->DrawChar(SJ_KAN, nullptr, 0.0f, kWhite), 2);
    f->DrawText(SJ_KAN SJ_JI, 0, 0, 0.0f, kWhite);
    EXPECT_EQ(f->GetSheetSprite(0)->GetPolygonCount(), 0u);
    EXPECT_EQ(f->GetTextWidth(SJ_KAN SJ_JI), 16);

    // No file: no sheets, finished with its summary.
    const std::string before = Log();
    OrvaFontSprite* missing = OrvaFontSprite::CreateFromFile("no_such_font.ofd", "pack", true, 8, nullptr);
    EXPECT_EQ(missing->GetSheetCount(), 0);
    EXPECT_NE(Log().find("} シート数 0 / 0 KB UseTexture", before.size()), std::string::npos);

    // Not OFD data: the message, and no summary.
    std::string bytes = ReadFile(ofd);
    bytes[3] = '!';
    WriteAll(ofd, bytes);
    const std::string beforeMagic = Log();
    OrvaFontSprite* wrong = OrvaFontSprite::CreateFromFile(ofd.c_str(), "pack", true, 8, nullptr);
    EXPECT_EQ(wrong->GetSheetCount(), 0);
    EXPECT_EQ(Log().substr(beforeMagic.size()),
              "○ CreateFontSprite  / ID [" + Hex(wrong) + "] / Error : OFDファイルではありません\n");

    // A font size no pitch can use.
    data.fontSize = -5;
    ASSERT_TRUE(data.Save(ofd.c_str()));
    EXPECT_EQ(OrvaFontSprite::CreateFromFile(ofd.c_str(), "pack", true, 8, nullptr)->GetSheetCount(), 0);
    EXPECT_EQ(OrvaFontSprite::GetCount(), 4);
}

// Each sheet queues at most its capacity of quads a frame; the rest is
// dropped, not drawn over other memory.
TEST_F(OrvaFontSpriteTest, SheetsQueueUpToTheirCapacity)
{
    Start(48, 10);
    OrvaFontSprite* f = Pack(SJ_KAN, 8, 3);
    f->DrawText(SJ_KAN SJ_KAN SJ_KAN SJ_KAN SJ_KAN, 0, 0, 0.0f, kWhite);
    EXPECT_EQ(f->GetSheetSprite(0)->GetPolygonCount(), 6u);
    DrawFrame(kClear, [&] { f->Render(); });
    const OfdGlyphRecord* kan = &Glyph(f, SJ_KAN);
    ExpectGlyphs(f, {{kan, kan->a, 0}, {kan, 8 + kan->a, 0}, {kan, 16 + kan->a, 0}});
    f->Clear();
    EXPECT_EQ(f->GetSheetSprite(0)->GetPolygonCount(), 0u);
}

TEST_F(OrvaFontSpriteTest, LostDeviceAndResetKeepTheText)
{
    Start(24, 12);
    OrvaFontSprite* f = Pack("Ag" SJ_KAN, 8);
    auto draw = [&] {
        DrawFrame(kClear, [&] {
            f->Clear();
            f->DrawText("gA" SJ_KAN, 1, 1, 0.0f, kWhite);
            f->Render();
        });
    };
    draw();
    const std::vector<uint32_t> before = g_frame;
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(f->GetSheetSprite(0)->HasVertexBuffer());
    draw();
    EXPECT_EQ(g_frame, before);
}

TEST_F(OrvaFontSpriteTest, DestroyReleasesFontSpritesAndTheirSheets)
{
    Start(4, 4);
    OrvaFontSprite* f = Pack("AB", 8);
    const int32_t sprites = OrvaSprite::GetCount();
    EXPECT_EQ(sprites, 1);
    OrvaFontSprite::Destroy();
    EXPECT_EQ(OrvaFontSprite::GetCount(), 0);
    EXPECT_EQ(OrvaSprite::GetCount(), 0);
    EXPECT_NE(Log().find("● ReleaseFontSprite  / ID [" + Hex(f) + "]\n"), std::string::npos);
    EXPECT_NE(Log().find("\n============================================== Destroy FontSprite\n"), std::string::npos);
}
