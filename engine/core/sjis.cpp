// Shift-JIS text helpers: character reading, delimited copies, numbers and
// the half-width to full-width table.
#include "engine/core/sjis.h"

#include <mutex>

#include "platform/text/codepage.h"

namespace {

constexpr uint16_t kIdeographicSpace = 0x8140;

// Half-width katakana U+FF61 to U+FF9F and their full-width characters.
constexpr uint16_t kFullKatakana[63] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

struct FullWidthTable {
    uint16_t code[256];
};

// Built once from the code page: each byte's character, widened, and
// written back as code page 932.
const FullWidthTable& Table() {
    static FullWidthTable table;
    static std::once_flag once;
    std::call_once(once, [] {
        for (int b = 0; b < 256; ++b) {
            table.code[b] = kIdeographicSpace;
            uint32_t cp = 0;
            if (OrvaSjis::IsLeadByte(uint8_t(b)) || !platform::Cp932ToUnicode(uint16_t(b), &cp)) {
                continue;
            }
            uint32_t wide = 0;
            if (cp == '"' || cp == '\'') {
                // The full-width straight quotes exist in the code page only
                // among the vendor extensions, past the last glyph slot, so
                // no font sprite could draw them: take the quotation marks
                // of JIS X 0208 instead (” and ’, the apostrophe).
                wide = cp == '"' ? 0x201D : 0x2019;
            } else if (cp >= 0x21 && cp <= 0x7E) {
                wide = cp + 0xFEE0;
            } else if (cp >= 0xFF61 && cp <= 0xFF9F) {
                wide = kFullKatakana[cp - 0xFF61];
            }
            const uint16_t code = wide ? platform::UnicodeToCp932(wide) : 0;
            if (code > 0xFF) {
                table.code[b] = code;
            }
        }
    });
    return table;
}

// Half-width ｶ to ﾄ and ﾊ to ﾎ take the voiced mark (full-width code + 1),
// ｳ takes it as ヴ; ﾊ to ﾎ take the semi-voiced mark (code + 2).
bool TakesVoicedMark(uint8_t b) { return (b >= 0xB6 && b <= 0xC4) || (b >= 0xCA && b <= 0xCE) || b == 0xB3; }
bool TakesSemiVoicedMark(uint8_t b) { return b >= 0xCA && b <= 0xCE; }

bool IsHexLetter(uint8_t c) { return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int HexValue(uint8_t c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool OrvaSjis::IsLeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFE); }

int32_t OrvaSjis::ReadChar(const char* text, uint16_t* code) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    if (!p || p[0] == 0) {
        if (code) *code = 0;
        return 0;
    }
    if (IsLeadByte(p[0]) && p[1] != 0) {
        if (code) *code = uint16_t((p[0] << 8) | p[1]);
        return 2;
    }
    if (code) *code = p[0];
    return 1;
}

uint16_t OrvaSjis::StringToCode(const char* twoBytes) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(twoBytes);
    if (!p || p[0] == 0) {
        return 0;
    }
    return uint16_t((p[0] << 8) | p[1]);
}

int32_t OrvaSjis::GetBetween(uint8_t start, uint8_t end, const char* text, char* out) {
    return GetBetween(start, end, text, out, SIZE_MAX);
}

int32_t OrvaSjis::GetBetween(uint8_t start, uint8_t end, const char* text, char* out, size_t outSize) {
    if (out && outSize > 0) {
        out[0] = 0;
    }
    if (!text) {
        return 0;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    size_t i = 0;
    // Find the start character.
    for (;;) {
        if (p[i] == 0) {
            return int32_t(i);
        }
        const int32_t length = ReadChar(text + i, nullptr);
        if (length == 1 && p[i] == start) {
            ++i;
            break;
        }
        i += size_t(length);
    }
    size_t written = 0;
    bool full = !out || outSize == 0;
    for (;;) {
        if (p[i] == 0) {
            break;
        }
        const int32_t length = ReadChar(text + i, nullptr);
        if (length == 1 && p[i] == end) {
            ++i;
            break;
        }
        if (!full && written + size_t(length) < outSize) {
            for (int32_t k = 0; k < length; ++k) {
                out[written++] = char(p[i + size_t(k)]);
            }
        } else {
            full = true;
        }
        i += size_t(length);
    }
    if (out && outSize > 0) {
        out[written] = 0;
    }
    return int32_t(i);
}

int32_t OrvaSjis::ParseNumber(const char* text, int32_t* out) {
    if (out) *out = 0;
    if (!text) {
        return 0;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    size_t i = 0;
    while (p[i] != 0 && p[i] != '-' && !IsDigit(p[i]) && !IsHexLetter(p[i])) {
        ++i;
    }
    if (p[i] == 0) {
        return int32_t(i);
    }
    uint32_t value = 0;
    if (p[i + 1] == 'x' || p[i + 1] == 'X') {
        i += 2;
        for (int digit; (digit = HexValue(p[i])) >= 0; ++i) {
            value = value * 16 + uint32_t(digit);
        }
    } else {
        bool negative = false;
        if (p[i] == '-') {
            negative = true;
            ++i;
        }
        for (; IsDigit(p[i]); ++i) {
            value = value * 10 + uint32_t(p[i] - '0');
        }
        if (negative) {
            value = 0u - value;
        }
    }
    if (out) *out = int32_t(value);
    return int32_t(i);
}

uint16_t OrvaSjis::FullWidthCode(uint8_t byte) { return Table().code[byte]; }

int32_t OrvaSjis::HalfToFullChar(const char* text, char* out) {
    if (out) {
        out[0] = 0;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    if (!p || !out || p[0] == 0) {
        return 0;
    }
    uint16_t code = FullWidthCode(p[0]);
    int32_t used = 1;
    if (p[1] == 0xDE && TakesVoicedMark(p[0])) {
        code = code == 0x8345 ? 0x8394 : uint16_t(code + 1);
        used = 2;
    } else if (p[1] == 0xDF && TakesSemiVoicedMark(p[0])) {
        code = uint16_t(code + 2);
        used = 2;
    }
    out[0] = char(code >> 8);
    out[1] = char(code & 0xFF);
    out[2] = 0;
    return used;
}
