#include "engine/core/sjis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Texts below are Shift-JIS bytes: "\x82\xa0" is あ, "\x83\x5c" is ソ (its
// second byte is a backslash), "\x95\x5c" is 表.

TEST(OrvaSjis, LeadBytesAreTheTwoRanges) {
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFE);
        EXPECT_EQ(OrvaSjis::IsLeadByte(uint8_t(b)), expected) << b;
    }
}

TEST(OrvaSjis, ReadCharGivesLengthAndCode) {
    uint16_t code = 0xFFFF;
    EXPECT_EQ(OrvaSjis::ReadChar("A", &code), 1);
    EXPECT_EQ(code, 0x41);
    EXPECT_EQ(OrvaSjis::ReadChar("\x82\xa0x", &code), 2);
    EXPECT_EQ(code, 0x82A0);
    EXPECT_EQ(OrvaSjis::ReadChar("\xb1", &code), 1);  // half-width ｱ
    EXPECT_EQ(code, 0xB1);
    EXPECT_EQ(OrvaSjis::ReadChar("", &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(OrvaSjis::ReadChar(nullptr, &code), 0);
    EXPECT_EQ(OrvaSjis::ReadChar("\x82\xa0", nullptr), 2);
}

TEST(OrvaSjis, ReadCharDoesNotPairALeadByteWithTheTerminator) {
    const char text[3] = {'\x82', '\0', 'Z'};
    uint16_t code = 0;
    EXPECT_EQ(OrvaSjis::ReadChar(text, &code), 1);
    EXPECT_EQ(code, 0x82);
}

TEST(OrvaSjis, StringToCodeJoinsTwoBytes) {
    EXPECT_EQ(OrvaSjis::StringToCode("\x82\xa0"), 0x82A0);
    EXPECT_EQ(OrvaSjis::StringToCode("AB"), 0x4142);
    EXPECT_EQ(OrvaSjis::StringToCode("A"), 0x4100);
    EXPECT_EQ(OrvaSjis::StringToCode(""), 0);
    EXPECT_EQ(OrvaSjis::StringToCode(nullptr), 0);
}

TEST(OrvaSjis, GetBetweenCopiesBetweenMarksAndCountsThroughTheEnd) {
    char out[64];
    const char* text = "ab[\x82\xa0x]cd";
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', text, out), 7);
    EXPECT_STREQ(out, "\x82\xa0x");
    // The count lets a caller walk on to the next field.
    const char* fields = "<1><22>";
    int32_t used = OrvaSjis::GetBetween('<', '>', fields, out);
    EXPECT_STREQ(out, "1");
    EXPECT_EQ(OrvaSjis::GetBetween('<', '>', fields + used, out), 4);
    EXPECT_STREQ(out, "22");
}

TEST(OrvaSjis, GetBetweenKeepsDoubleByteCharactersWhole) {
    char out[64];
    // ソ's second byte is a backslash: it must not end the field.
    EXPECT_EQ(OrvaSjis::GetBetween('"', '\\', "\"\x83\x5c\x95\x5c\\z", out), 6);
    EXPECT_STREQ(out, "\x83\x5c\x95\x5c");
    // Nor start one.
    EXPECT_EQ(OrvaSjis::GetBetween('\\', '!', "\x83\x5c-\\q!", out), 6);
    EXPECT_STREQ(out, "q");
}

TEST(OrvaSjis, GetBetweenStopsAtTheTerminator) {
    char out[64];
    strcpy(out, "junk");
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', "no mark", out), 7);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', "x[open", out), 6);
    EXPECT_STREQ(out, "open");
    // A lead byte as the last byte is copied alone, nothing past the zero.
    const char text[6] = {'[', 'a', '\x82', '\0', ']', '\0'};
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', text, out), 3);
    EXPECT_STREQ(out, "a\x82");
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', nullptr, out), 0);
    EXPECT_STREQ(out, "");
}

TEST(OrvaSjis, GetBetweenBoundedNeverSplitsAPairOrOverflows) {
    char out[4];
    memset(out, 'X', sizeof(out));
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', "[a\x82\xa0\x82\xa2]!", out, sizeof(out)), 7);
    EXPECT_STREQ(out, "a\x82\xa0");
    EXPECT_EQ(OrvaSjis::GetBetween('[', ']', "[\x82\xa0\x82\xa2]", out, 2), 6);
    EXPECT_STREQ(out, "");
}

TEST(OrvaSjis, ParseNumberReadsDecimalNegativeAndHex) {
    int32_t v = 0;
    EXPECT_EQ(OrvaSjis::ParseNumber("  123 rest", &v), 5);
    EXPECT_EQ(v, 123);
    EXPECT_EQ(OrvaSjis::ParseNumber("hp:-45,", &v), 6);
    EXPECT_EQ(v, -45);
    EXPECT_EQ(OrvaSjis::ParseNumber("0x1F;", &v), 4);
    EXPECT_EQ(v, 0x1F);
    EXPECT_EQ(OrvaSjis::ParseNumber("=0XffFF", &v), 7);
    EXPECT_EQ(v, 0xFFFF);
    // Hexadecimal letters also stop the skip: "b" then decimal digits: none.
    EXPECT_EQ(OrvaSjis::ParseNumber("number 7", &v), 3);
    EXPECT_EQ(v, 0);
    // A walk with the returned positions reads every number.
    const char* list = "10,-2,0x30";
    int32_t values[3] = {0, 0, 0};
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        at += size_t(OrvaSjis::ParseNumber(list + at, &values[i]));
    }
    EXPECT_EQ(values[0], 10);
    EXPECT_EQ(values[1], -2);
    EXPECT_EQ(values[2], 0x30);
    EXPECT_EQ(at, strlen(list));
}

TEST(OrvaSjis, ParseNumberWithoutNumberGivesZeroAndStopsAtTheEnd) {
    int32_t v = 99;
    EXPECT_EQ(OrvaSjis::ParseNumber("zzz ...", &v), 7);
    EXPECT_EQ(v, 0);
    v = 99;
    EXPECT_EQ(OrvaSjis::ParseNumber("", &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(OrvaSjis::ParseNumber(nullptr, &v), 0);
    EXPECT_EQ(OrvaSjis::ParseNumber("0x", &v), 2);
    EXPECT_EQ(v, 0);
    // Overflow wraps like a 32-bit register instead of being undefined.
    EXPECT_EQ(OrvaSjis::ParseNumber("4294967297", &v), 10);
    EXPECT_EQ(v, 1);
}

static std::string Full(const char* text, int32_t* used) {
    char out[3] = {'?', '?', '?'};
    *used = OrvaSjis::HalfToFullChar(text, out);
    EXPECT_EQ(out[2], 0);
    return std::string(out, 2);
}

TEST(OrvaSjis, HalfToFullCharWidensAsciiAndKatakana) {
    int32_t used = 0;
    EXPECT_EQ(Full("A", &used), "\x82\x60");  // Ａ
    EXPECT_EQ(used, 1);
    EXPECT_EQ(Full("z", &used), "\x82\x9a");   // ｚ
    EXPECT_EQ(Full("0", &used), "\x82\x4f");   // ０
    EXPECT_EQ(Full(" ", &used), "\x81\x40");   // ideographic space
    EXPECT_EQ(Full("!", &used), "\x81\x49");   // ！
    // Code page 932 (not JIS X 0208 Shift-JIS) forms for these three.
    EXPECT_EQ(Full("\\", &used), "\x81\x5f");  // ＼
    EXPECT_EQ(Full("~", &used), "\x81\x60");   // ～
    EXPECT_EQ(Full("-", &used), "\x81\x7c");   // －
    // The quotes become quotation marks a font sprite has slots for.
    EXPECT_EQ(Full("\"", &used), "\x81\x68");  // ”
    EXPECT_EQ(Full("'", &used), "\x81\x66");   // ’
    EXPECT_EQ(Full("\xb1", &used), "\x83\x41");  // ｱ -> ア
    EXPECT_EQ(Full("\xa6", &used), "\x83\x92");  // ｦ -> ヲ
    EXPECT_EQ(Full("\xa1", &used), "\x81\x42");  // ｡ -> 。
    EXPECT_EQ(Full("\xb0", &used), "\x81\x5b");  // ｰ -> ー
    EXPECT_EQ(Full("\xdd", &used), "\x83\x93");  // ﾝ -> ン
    EXPECT_EQ(Full("\xde", &used), "\x81\x4a");  // ﾞ -> ゛
}

TEST(OrvaSjis, HalfToFullCharControlAndUnassignedGiveIdeographicSpace) {
    for (int b : {0x01, 0x09, 0x0A, 0x1F, 0x7F, 0x80, 0xA0, 0xFD, 0xFE, 0xFF, 0x82}) {
        EXPECT_EQ(OrvaSjis::FullWidthCode(uint8_t(b)), 0x8140) << b;
    }
    for (int b = 0x21; b <= 0x7E; ++b) {
        EXPECT_NE(OrvaSjis::FullWidthCode(uint8_t(b)), 0x8140) << b;
    }
    for (int b = 0xA1; b <= 0xDF; ++b) {
        EXPECT_NE(OrvaSjis::FullWidthCode(uint8_t(b)), 0x8140) << b;
    }
}

TEST(OrvaSjis, HalfToFullCharJoinsVoicedAndSemiVoicedMarks) {
    int32_t used = 0;
    EXPECT_EQ(Full("\xb6\xde", &used), "\x83\x4b");  // ｶﾞ -> ガ
    EXPECT_EQ(used, 2);
    EXPECT_EQ(Full("\xc4\xde", &used), "\x83\x68");  // ﾄﾞ -> ド
    EXPECT_EQ(used, 2);
    EXPECT_EQ(Full("\xca\xdf", &used), "\x83\x70");  // ﾊﾟ -> パ
    EXPECT_EQ(used, 2);
    EXPECT_EQ(Full("\xce\xde", &used), "\x83\x7b");  // ﾎﾞ -> ボ
    EXPECT_EQ(used, 2);
    EXPECT_EQ(Full("\xb3\xde", &used), "\x83\x94");  // ｳﾞ -> ヴ
    EXPECT_EQ(used, 2);
    // A mark after a character without a marked form stays a character of
    // its own.
    EXPECT_EQ(Full("\xb1\xde", &used), "\x83\x41");
    EXPECT_EQ(used, 1);
    EXPECT_EQ(Full("\xb6\xdf", &used), "\x83\x4a");
    EXPECT_EQ(used, 1);
    EXPECT_EQ(Full("A\xde", &used), "\x82\x60");
    EXPECT_EQ(used, 1);
}

TEST(OrvaSjis, HalfToFullCharOnEmptyText) {
    char out[3] = {'x', 'x', 'x'};
    EXPECT_EQ(OrvaSjis::HalfToFullChar("", out), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(OrvaSjis::HalfToFullChar(nullptr, out), 0);
}
