#pragma once
#include <cstdint>
#include <string>

// Windows code page 932 (Shift-JIS as Windows has it) against Unicode. The
// tables are built once, on first use, from iconv's "CP932" converter
// ("SHIFT_JIS" differs on several codes, such as 0x5C, 0x815F and 0x8160).
namespace platform {

// A code as the engine writes it: one byte (0x00 to 0xFF) or lead byte x 256
// + trail byte. False when the code has no character.
bool Cp932ToUnicode(uint16_t code, uint32_t* codePoint);
// The code Windows would write for a Unicode character; 0 when there is none
// (and for U+0000).
uint16_t UnicodeToCp932(uint32_t codePoint);

// Shift-JIS text to UTF-8, up to the terminating zero. A byte sequence with
// no character becomes "?"; a lead byte at the very end is dropped.
std::string Cp932ToUtf8(const char* text);
// UTF-8 to Shift-JIS bytes; false when a character has no code page 932 form
// or the UTF-8 is malformed.
bool Utf8ToCp932(const char* text, std::string* out);

// False when iconv has no CP932 converter (nothing above then converts).
bool Cp932Available();

}  // namespace platform
