#pragma once
// Bytes from outside shown safely in messages and log lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Words read from files or given on the command line, made fit to print:
// printable ASCII and well-formed UTF-8 (Japanese names, say) stay as they
// are; control characters (C0, DEL and C1), a NUL and bytes that are not
// UTF-8 become C-style escapes (\0, \t, \n, \r, \x1b, \xc2\x9b), and a
// backslash is doubled, so that no terminal sequence passes and nothing cuts
// the line short.
std::string PrintableText(std::string_view bytes);

// The well-formed UTF-8 character at text[at]: its length in bytes, with the
// code point in *codePoint; 0 when the bytes there are no such character
// (cut short, overlong, a surrogate or past U+10FFFF).
size_t ReadUtf8Char(std::string_view text, size_t at, uint32_t* codePoint);

}  // namespace platform
