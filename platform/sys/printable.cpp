// Bytes from outside shown safely in messages and log lines.
#include "platform/sys/printable.h"

#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

// The length of the well-formed UTF-8 character at bytes[i] that is not a
// control character; 0 when there is none.
size_t Utf8CharLength(std::string_view bytes, size_t i)
{
    const uint8_t lead = uint8_t(bytes[i]);
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
    if (i + length > bytes.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const uint8_t next = uint8_t(bytes[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1Control = code >= 0x80 && code <= 0x9F;
    if (code < least || code > 0x10FFFF || surrogate || c1Control) {
        return 0;
    }
    return length;
}

}  // namespace

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
        const size_t length = b >= 0x80 ? Utf8CharLength(bytes, i) : 0;
        if (length > 0) {
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
