// Code page 932 against Unicode through iconv.
#include "platform/text/codepage.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

struct Tables {
    bool available = false;
    std::vector<uint32_t> toUnicode;            // 65536 codes; 0xFFFFFFFF: none
    std::unordered_map<uint32_t, uint16_t> fromUnicode;
};

bool IsLead(unsigned byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// One UTF-32 value from a converter set to "UTF-32LE"; false when iconv
// refuses the bytes or yields other than one character.
bool ConvertOne(iconv_t converter, const char* bytes, size_t length, uint32_t* codePoint) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char in[2];
    memcpy(in, bytes, length);
    char* inPtr = in;
    size_t inLeft = length;
    unsigned char out[8];
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0 ||
        sizeof(out) - outLeft != 4) {
        return false;
    }
    *codePoint = uint32_t(out[0]) | (uint32_t(out[1]) << 8) | (uint32_t(out[2]) << 16) | (uint32_t(out[3]) << 24);
    return true;
}

bool EncodeOne(iconv_t converter, uint32_t codePoint, uint16_t* code) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    unsigned char in[4] = {uint8_t(codePoint), uint8_t(codePoint >> 8), uint8_t(codePoint >> 16),
                           uint8_t(codePoint >> 24)};
    char* inPtr = reinterpret_cast<char*>(in);
    size_t inLeft = 4;
    unsigned char out[4];
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof(out);
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0) {
        return false;
    }
    const size_t written = sizeof(out) - outLeft;
    if (written == 1) {
        *code = out[0];
        return true;
    }
    if (written == 2) {
        *code = uint16_t((out[0] << 8) | out[1]);
        return true;
    }
    return false;
}

void Build(Tables* t) {
    iconv_t decoder = iconv_open("UTF-32LE", "CP932");
    iconv_t encoder = iconv_open("CP932", "UTF-32LE");
    if (decoder == iconv_t(-1) || encoder == iconv_t(-1)) {
        fprintf(stderr, "text: iconv has no CP932 converter; Shift-JIS text cannot be converted\n");
        if (decoder != iconv_t(-1)) iconv_close(decoder);
        if (encoder != iconv_t(-1)) iconv_close(encoder);
        return;
    }
    try {
        t->toUnicode.assign(65536, 0xFFFFFFFFu);
        for (unsigned b = 0; b < 256; ++b) {
            if (IsLead(b)) {
                continue;
            }
            const char byte = char(b);
            uint32_t cp;
            if (ConvertOne(decoder, &byte, 1, &cp)) {
                t->toUnicode[b] = cp;
            }
        }
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLead(lead)) {
                continue;
            }
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (trail == 0x7F) {
                    continue;
                }
                const char bytes[2] = {char(lead), char(trail)};
                uint32_t cp;
                if (ConvertOne(decoder, bytes, 2, &cp)) {
                    t->toUnicode[(lead << 8) | trail] = cp;
                }
            }
        }
        // The reverse table asks iconv for each character met, so that of
        // codes sharing a character the one Windows writes is chosen.
        for (uint32_t code = 1; code < 65536; ++code) {
            const uint32_t cp = t->toUnicode[code];
            if (cp == 0xFFFFFFFFu || t->fromUnicode.count(cp)) {
                continue;
            }
            uint16_t back;
            t->fromUnicode[cp] = EncodeOne(encoder, cp, &back) ? back : uint16_t(code);
        }
        t->available = true;
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "text: out of memory building the code page tables\n");
        t->toUnicode.clear();
        t->fromUnicode.clear();
    }
    iconv_close(decoder);
    iconv_close(encoder);
}

const Tables& GetTables() {
    static Tables tables;
    static std::once_flag once;
    std::call_once(once, [] { Build(&tables); });
    return tables;
}

void AppendUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        out->push_back(char(cp));
    } else if (cp < 0x800) {
        out->push_back(char(0xC0 | (cp >> 6)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(char(0xE0 | (cp >> 12)));
        out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (cp >> 18)));
        out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(char(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

bool Cp932Available() { return GetTables().available; }

bool Cp932ToUnicode(uint16_t code, uint32_t* codePoint) {
    const Tables& t = GetTables();
    if (!t.available || !codePoint) {
        return false;
    }
    const uint32_t cp = t.toUnicode[code];
    if (cp == 0xFFFFFFFFu) {
        return false;
    }
    *codePoint = cp;
    return true;
}

uint16_t UnicodeToCp932(uint32_t codePoint) {
    const Tables& t = GetTables();
    if (!t.available || codePoint == 0) {
        return 0;
    }
    const auto it = t.fromUnicode.find(codePoint);
    return it == t.fromUnicode.end() ? 0 : it->second;
}

std::string Cp932ToUtf8(const char* text) {
    std::string out;
    if (!text) {
        return out;
    }
    try {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
        while (*p) {
            uint16_t code = *p;
            if (IsLead(*p)) {
                if (p[1] == 0) {
                    break;
                }
                code = uint16_t((p[0] << 8) | p[1]);
                p += 2;
            } else {
                ++p;
            }
            uint32_t cp;
            if (Cp932ToUnicode(code, &cp)) {
                AppendUtf8(cp, &out);
            } else {
                out.push_back('?');
            }
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
    return out;
}

bool Utf8ToCp932(const char* text, std::string* out) {
    if (!text || !out) {
        return false;
    }
    out->clear();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    try {
        while (*p) {
            uint32_t cp;
            int extra;
            if (*p < 0x80) {
                cp = *p;
                extra = 0;
            } else if ((*p & 0xE0) == 0xC0) {
                cp = *p & 0x1F;
                extra = 1;
            } else if ((*p & 0xF0) == 0xE0) {
                cp = *p & 0x0F;
                extra = 2;
            } else if ((*p & 0xF8) == 0xF0) {
                cp = *p & 0x07;
                extra = 3;
            } else {
                return false;
            }
            ++p;
            for (int i = 0; i < extra; ++i, ++p) {
                if ((*p & 0xC0) != 0x80) {
                    return false;
                }
                cp = (cp << 6) | (*p & 0x3F);
            }
            const uint16_t code = UnicodeToCp932(cp);
            if (code == 0) {
                return false;
            }
            if (code > 0xFF) {
                out->push_back(char(code >> 8));
            }
            out->push_back(char(code & 0xFF));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace platform
