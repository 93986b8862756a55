// Bytes from outside shown safely in messages and log lines.
#include "platform/sys/printable.h"

#include <cstdint>
#include <cstdio>

namespace platform {

size_t ReadUtf8Char(std::string_view text, size_t at, uint32_t* codePoint)
{
    if (at >= text.size()) {
        return 0;
    }
    const uint8_t lead = uint8_t(text[at]);
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const uint8_t next = uint8_t(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    *codePoint = code;
    return length;
}

std::string PrintableText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t b = uint8_t(bytes[i]);
        if (b >= 0x20 && b < 0x7F) {
            if (b == '\\') {
                out += '\\';
            }
            out += char(b);
            ++i;
            continue;
        }
        // C1 controls (U+0080 to U+009F) act on terminals as ESC does.
        uint32_t code = 0;
        const size_t length = b >= 0x80 ? ReadUtf8Char(bytes, i, &code) : 0;
        if (length > 0 && code > 0x9F) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        switch (b) {
        case 0:
            out += "\\0";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default: {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", b);
            out += escape;
        }
        }
        ++i;
    }
    return out;
}

}  // namespace platform
