#include "platform/sys/printable.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace std::string_view_literals;

TEST(PrintableText, EscapesWhatATerminalWouldActOnAndKeepsText)
{
    struct Case {
        std::string_view bytes;
        const char* shown;
    };
    const Case cases[] = {
        {"frames 12", "frames 12"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"a\0b"sv, "a\\0b"},
        {"\t\r\n\x7f", "\\t\\r\\n\\x7f"},
        {"C:\\dat", "C:\\\\dat"},
        // Japanese in UTF-8 stays; Shift-JIS bytes, cut or overlong UTF-8,
        // surrogates and C1 controls (U+009B opens a sequence) do not.
        {"2重起動", "2重起動"},
        {"\x82\xa0", "\\x82\\xa0"},
        {"\xe9\x87", "\\xe9\\x87"},
        {"\xc0\xaf", "\\xc0\\xaf"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"\xc2\x9b" "1m", "\\xc2\\x9b" "1m"},
        {"\xf0\x9f\x8e\xae", "\xf0\x9f\x8e\xae"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::PrintableText(c.bytes), c.shown);
    }
}
