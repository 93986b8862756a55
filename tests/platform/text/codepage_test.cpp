#include "platform/text/codepage.h"

#include <gtest/gtest.h>

TEST(Codepage, DecodesWindowsCodePage932) {
    ASSERT_TRUE(platform::Cp932Available());
    uint32_t cp = 0;
    ASSERT_TRUE(platform::Cp932ToUnicode(0x82A0, &cp));
    EXPECT_EQ(cp, 0x3042u);  // あ
    ASSERT_TRUE(platform::Cp932ToUnicode(0x41, &cp));
    EXPECT_EQ(cp, 0x41u);
    ASSERT_TRUE(platform::Cp932ToUnicode(0xB1, &cp));
    EXPECT_EQ(cp, 0xFF71u);  // half-width ｱ
    // Where code page 932 and JIS Shift-JIS part ways.
    ASSERT_TRUE(platform::Cp932ToUnicode(0x5C, &cp));
    EXPECT_EQ(cp, 0x5Cu);
    ASSERT_TRUE(platform::Cp932ToUnicode(0x8160, &cp));
    EXPECT_EQ(cp, 0xFF5Eu);
    ASSERT_TRUE(platform::Cp932ToUnicode(0x817C, &cp));
    EXPECT_EQ(cp, 0xFF0Du);
    // NEC and IBM extensions exist.
    ASSERT_TRUE(platform::Cp932ToUnicode(0x8740, &cp));
    EXPECT_EQ(cp, 0x2460u);  // ①
    EXPECT_FALSE(platform::Cp932ToUnicode(0x80, &cp));
    EXPECT_FALSE(platform::Cp932ToUnicode(0x82, &cp));    // a lead byte alone
    EXPECT_FALSE(platform::Cp932ToUnicode(0x8200, &cp));  // no trail byte
}

TEST(Codepage, EncodesAsWindowsDoes) {
    EXPECT_EQ(platform::UnicodeToCp932(0x3042), 0x82A0);
    EXPECT_EQ(platform::UnicodeToCp932(0xFF02), 0xFA57);  // the IBM code, not NEC's duplicate
    EXPECT_EQ(platform::UnicodeToCp932(0xFF3C), 0x815F);
    EXPECT_EQ(platform::UnicodeToCp932(0x41), 0x41);
    EXPECT_EQ(platform::UnicodeToCp932(0x1F600), 0);
    EXPECT_EQ(platform::UnicodeToCp932(0), 0);
}

TEST(Codepage, ConvertsTextBothWays) {
    std::string sjis;
    ASSERT_TRUE(platform::Utf8ToCp932("日本語 ｱ\\", &sjis));
    EXPECT_EQ(sjis, "\x93\xfa\x96\x7b\x8c\xea \xb1\\");
    EXPECT_EQ(platform::Cp932ToUtf8(sjis.c_str()), "日本語 ｱ\\");
    EXPECT_FALSE(platform::Utf8ToCp932("emoji \xf0\x9f\x98\x80", &sjis));
    EXPECT_FALSE(platform::Utf8ToCp932("bad \xe3\x81", &sjis));
    // Bytes with no character become "?"; a lead byte at the end is dropped.
    EXPECT_EQ(platform::Cp932ToUtf8("a\x80" "b\x82"), "a?b");
    EXPECT_EQ(platform::Cp932ToUtf8(nullptr), "");
}
