#include "platform/text/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using platform::AbcWidths;
using platform::Font;
using platform::GlyphBitmap;

namespace {

constexpr uint16_t kHiraganaA = 0x82A0;   // あ
constexpr uint16_t kKatakanaA = 0x8341;   // ア
constexpr uint16_t kKanji = 0x8ABF;       // 漢
constexpr uint16_t kHalfKana = 0xB1;      // ｱ
constexpr uint16_t kBlackSquare = 0x81A1; // ■
constexpr uint16_t kFullSpace = 0x8140;

std::unique_ptr<Font> OpenOrFail(const char* face, int height, bool italic = false, bool bold = false) {
    std::string error;
    auto font = Font::Open(face, height, italic, bold, &error);
    EXPECT_TRUE(font) << error;
    return font;
}

int Ink(const GlyphBitmap& g) { return std::accumulate(g.coverage.begin(), g.coverage.end(), 0); }

}  // namespace

TEST(Font, WindowsFaceNamesOpenIpaGothic) {
    EXPECT_EQ(Font::ResolveFamily("ＭＳ ゴシック"), "IPAGothic");
    EXPECT_EQ(Font::ResolveFamily("MS Gothic"), "IPAGothic");
    EXPECT_EQ(Font::ResolveFamily("ＭＳ Ｐゴシック"), "IPAPGothic");
    EXPECT_EQ(Font::ResolveFamily("ms pgothic"), "IPAPGothic");
    EXPECT_EQ(Font::ResolveFamily("DejaVu Sans"), "DejaVu Sans");
    auto gothic = OpenOrFail("ＭＳ ゴシック", -16);
    ASSERT_TRUE(gothic);
    EXPECT_EQ(gothic->GetFamilyName(), "IPAGothic");
    auto proportional = OpenOrFail("ＭＳ Ｐゴシック", -16);
    ASSERT_TRUE(proportional);
    EXPECT_EQ(proportional->GetFamilyName(), "IPAPGothic");
}

TEST(Font, HeightMeansCharacterHeightWhenNegativeAndCellHeightWhenPositive) {
    auto byChar = OpenOrFail("MS Gothic", -20);
    ASSERT_TRUE(byChar);
    const platform::TextMetrics& m = byChar->GetMetrics();
    EXPECT_DOUBLE_EQ(byChar->GetEmPixels(), 20.0);
    EXPECT_EQ(m.height - m.internalLeading, 20);
    EXPECT_EQ(m.height, m.ascent + m.descent);
    EXPECT_GT(m.ascent, m.descent);
    auto byCell = OpenOrFail("MS Gothic", 20);
    ASSERT_TRUE(byCell);
    EXPECT_EQ(byCell->GetMetrics().height, 20);
    EXPECT_LT(byCell->GetEmPixels(), 20.0);
    EXPECT_GE(m.maxCharWidth, 20);
    EXPECT_GT(m.averageCharWidth, 0);
    EXPECT_LE(m.averageCharWidth, m.maxCharWidth);
}

TEST(Font, AbcWidthsAddUpToTheAdvanceAndBIsTheBlackBox) {
    auto font = OpenOrFail("MS Gothic", -16);
    ASSERT_TRUE(font);
    for (uint16_t code : {uint16_t('A'), uint16_t('g'), uint16_t('i'), kHiraganaA, kKanji, kHalfKana, kBlackSquare,
                          uint16_t(' '), kFullSpace}) {
        AbcWidths abc;
        GlyphBitmap glyph;
        ASSERT_TRUE(font->GetAbcWidths(code, &abc)) << code;
        ASSERT_TRUE(font->GetGlyph(code, &glyph)) << code;
        EXPECT_EQ(abc.a + abc.b + abc.c, glyph.advance) << code;
        EXPECT_EQ(abc.b, glyph.width) << code;
        if (glyph.width > 0) {
            EXPECT_EQ(abc.a, glyph.originX) << code;
        }
    }
    // A fixed-pitch face: half-width characters take half the em, full-width
    // ones all of it.
    GlyphBitmap narrow, wide;
    ASSERT_TRUE(font->GetGlyph('W', &narrow));
    ASSERT_TRUE(font->GetGlyph(kKanji, &wide));
    EXPECT_EQ(narrow.advance, 8);
    EXPECT_EQ(wide.advance, 16);
}

TEST(Font, GlyphsHaveSeventeenCoverageLevels) {
    auto font = OpenOrFail("MS Gothic", -24);
    ASSERT_TRUE(font);
    GlyphBitmap glyph;
    ASSERT_TRUE(font->GetGlyph(kHiraganaA, &glyph));
    ASSERT_EQ(glyph.coverage.size(), size_t(glyph.width) * size_t(glyph.height));
    bool full = false, partial = false;
    for (uint8_t v : glyph.coverage) {
        ASSERT_LE(v, 16);
        full |= v == 16;
        partial |= v > 0 && v < 16;
    }
    EXPECT_TRUE(full);
    EXPECT_TRUE(partial);
    // The black box is tight: ink on every edge row and column.
    auto at = [&](int x, int y) { return glyph.coverage[size_t(y) * glyph.width + x]; };
    int top = 0, bottom = 0, left = 0, right = 0;
    for (int x = 0; x < glyph.width; ++x) {
        top += at(x, 0);
        bottom += at(x, glyph.height - 1);
    }
    for (int y = 0; y < glyph.height; ++y) {
        left += at(0, y);
        right += at(glyph.width - 1, y);
    }
    EXPECT_GT(top, 0);
    EXPECT_GT(bottom, 0);
    EXPECT_GT(left, 0);
    EXPECT_GT(right, 0);
}

TEST(Font, BlackSquareSitsInsideTheCell) {
    auto font = OpenOrFail("MS Gothic", -16);
    ASSERT_TRUE(font);
    const platform::TextMetrics& m = font->GetMetrics();
    GlyphBitmap glyph;
    ASSERT_TRUE(font->GetGlyph(kBlackSquare, &glyph));
    // ■ fills most of the em square and is nearly solid.
    EXPECT_GE(glyph.width, 10);
    EXPECT_LE(glyph.width, 16);
    EXPECT_GE(glyph.height, 10);
    EXPECT_LE(glyph.height, 16);
    EXPECT_GE(glyph.originX, 0);
    EXPECT_LE(glyph.originX + glyph.width, glyph.advance);
    EXPECT_LE(glyph.originY, m.ascent);
    EXPECT_GE(glyph.originY - glyph.height, -m.descent);
    EXPECT_GT(Ink(glyph), glyph.width * glyph.height * 16 * 3 / 4);
}

TEST(Font, KanaAndKanjiRenderAndSpacesDoNot) {
    auto font = OpenOrFail("ＭＳ ゴシック", -16);
    ASSERT_TRUE(font);
    for (uint16_t code : {kHiraganaA, kKatakanaA, kKanji, kHalfKana, uint16_t('A')}) {
        GlyphBitmap glyph;
        ASSERT_TRUE(font->GetGlyph(code, &glyph));
        EXPECT_GT(glyph.width, 0) << code;
        EXPECT_GT(Ink(glyph), 0) << code;
    }
    for (uint16_t code : {uint16_t(' '), kFullSpace}) {
        GlyphBitmap glyph;
        ASSERT_TRUE(font->GetGlyph(code, &glyph));
        EXPECT_EQ(glyph.width, 0);
        EXPECT_EQ(glyph.height, 0);
        EXPECT_TRUE(glyph.coverage.empty());
        EXPECT_EQ(glyph.advance, code == kFullSpace ? 16 : 8);
    }
}

// Hinting rounds strokes thinner than a pixel to whole pixels, down to none
// at some sizes; every such glyph must still keep ink and a black box, and
// the ink must stay in the character cell (but for IPA Gothic's overline,
// which rises above the ascent at any size). Sizes are tried as character
// heights and as cell heights, as font sprites ask for them.
TEST(Font, ThinGlyphsKeepInkAtEverySize) {
    struct Thin {
        uint16_t code;
        bool inCell;
    };
    const Thin thin[] = {{'_', true},    {'-', true},    {'.', true},    {',', true},
                         {'\'', true},   {0x815B, true}, {0x815C, true}, {0x8150, false}};  // ー ― ￣
    for (int sign : {-1, 1}) {
        for (int size = 8; size <= 64; ++size) {
            auto font = OpenOrFail("ＭＳ ゴシック", sign * size);
            ASSERT_TRUE(font);
            const platform::TextMetrics& m = font->GetMetrics();
            for (const Thin& t : thin) {
                SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << t.code << std::dec << " height "
                                                << sign * size);
                GlyphBitmap glyph;
                AbcWidths abc;
                ASSERT_TRUE(font->GetGlyph(t.code, &glyph));
                ASSERT_TRUE(font->GetAbcWidths(t.code, &abc));
                EXPECT_GT(glyph.width, 0);
                EXPECT_GT(glyph.height, 0);
                EXPECT_GT(Ink(glyph), 0);
                EXPECT_EQ(abc.b, glyph.width);
                if (t.inCell) {
                    EXPECT_LE(glyph.originY, m.ascent);
                    EXPECT_GE(glyph.originY - glyph.height, -m.descent);
                }
            }
        }
    }
}

TEST(Font, BoldWidensAndItalicLeans) {
    auto regular = OpenOrFail("MS Gothic", -32);
    auto bold = OpenOrFail("MS Gothic", -32, false, true);
    auto italic = OpenOrFail("MS Gothic", -32, true, false);
    ASSERT_TRUE(regular && bold && italic);
    GlyphBitmap r, b, i;
    ASSERT_TRUE(regular->GetGlyph('|', &r));
    ASSERT_TRUE(bold->GetGlyph('|', &b));
    ASSERT_TRUE(italic->GetGlyph('|', &i));
    EXPECT_GT(b.advance, r.advance);
    EXPECT_GT(Ink(b), Ink(r));
    EXPECT_GT(bold->GetMetrics().averageCharWidth, regular->GetMetrics().averageCharWidth);
    // The upright bar "|" moves right from its foot to its top.
    auto centre = [](const GlyphBitmap& g, int y) {
        int sum = 0, weight = 0;
        for (int x = 0; x < g.width; ++x) {
            sum += x * g.coverage[size_t(y) * g.width + x];
            weight += g.coverage[size_t(y) * g.width + x];
        }
        return weight ? double(sum) / weight + g.originX : 0.0;
    };
    EXPECT_GT(centre(i, 1) - centre(i, i.height - 2), 2.0);
    EXPECT_LT(std::abs(centre(r, 1) - centre(r, r.height - 2)), 2.0);
    EXPECT_EQ(i.advance, r.advance);
}

TEST(Font, UnknownCodesStillMeasure) {
    auto font = OpenOrFail("MS Gothic", -16);
    ASSERT_TRUE(font);
    GlyphBitmap glyph;
    AbcWidths abc;
    EXPECT_TRUE(font->GetGlyph(0x80, &glyph));
    EXPECT_TRUE(font->GetAbcWidths(0xFFFF, &abc));
    EXPECT_FALSE(font->GetGlyph(0x41, nullptr));
}
