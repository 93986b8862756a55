#pragma once
#include <cstddef>
#include <cstdint>

// Shift-JIS text helpers over the engine's strings (code page 932 bytes,
// zero-terminated). A character code is one byte, or lead byte x 256 +
// trail byte. Every routine stops at the terminating zero, also when a lead
// byte is the text's last byte, and takes a null text as empty.
class OrvaSjis {
public:
    // 0x81 to 0x9F and 0xE0 to 0xFE.
    static bool IsLeadByte(uint8_t byte);

    // Length (2 for a lead byte followed by a trail byte, else 1; 0 at the
    // end of the text) of the character at `text`; its code goes to `code`
    // (may be null). A lead byte right before the terminating zero counts as
    // one byte.
    static int32_t ReadChar(const char* text, uint16_t* code);

    // First byte x 256 + second byte (0 when the first byte ends the text).
    static uint16_t StringToCode(const char* twoBytes);

    // From the first `start` character in the text, copies what follows (a
    // lead byte with its trail byte as a pair) into `out` up to, not
    // including, the next `end` character, zero-terminates `out`, and returns
    // the bytes consumed from the text's beginning through the end byte.
    // When `start` or `end` is missing the scan stops at the terminating
    // zero and returns the text's length. Characters are compared whole, so
    // a trail byte never matches `start` or `end`. `out` must hold the
    // text's length + 1 bytes; the second form copies at most outSize - 1
    // bytes (never half a pair) and still returns what it consumed.
    static int32_t GetBetween(uint8_t start, uint8_t end, const char* text, char* out);
    static int32_t GetBetween(uint8_t start, uint8_t end, const char* text, char* out, size_t outSize);

    // Skips to the first "-", decimal digit or hexadecimal letter (a to f, A
    // to F); when the byte after it is "x" or "X" reads the hexadecimal digits
    // after that, else an optional "-" and decimal digits. Writes the value
    // (wrapping modulo 2^32 like a 32-bit register) to `out` and returns the
    // position after the number. Without such a byte `out` gets 0 and the
    // text's length is returned.
    static int32_t ParseNumber(const char* text, int32_t* out);

    // Maps the byte at `text` to its full-width character (ASCII to its
    // full-width form, but the straight quotes " and ' to the quotation
    // marks ” and ’; half-width katakana to katakana; control and unassigned
    // bytes and the space to the ideographic space 0x8140). When the byte
    // is a katakana that takes a voiced (0xDE) or semi-voiced (0xDF)
    // mark and the next byte is that mark, the marked form is given and 2
    // returned; else 1 (0 for an empty text). `out` gets the two bytes, high
    // first, and a zero.
    static int32_t HalfToFullChar(const char* text, char* out);
    // The table behind HalfToFullChar: the full-width code of a byte.
    static uint16_t FullWidthCode(uint8_t byte);
};
