#pragma once
// Font buffers: a Shift-JIS text that names the characters a font sprite is
// to get glyphs for, read from a file or given as a string, with four
// built-in character sets, and compacted into the set of its distinct
// characters. Font buffers live in the font-sprite module's list. Main
// thread only: compaction uses one module-wide code set.
#include <cstdint>
#include <memory>

#include "engine/core/graphics.h"
#include "engine/core/object.h"

class OrvaFontBuffer : public OrvaObject {
public:
    static constexpr uint32_t kBlockBytes = 4096;
    // The text's size limit: its block must stay within 32-bit sizes.
    static constexpr uint32_t kMaxLength = 0x7FFFE000u;

    // ---- creation: the buffer is returned also when the file cannot be read
    // (it is then empty); null only when the object cannot be made.
    // fileName: an engine file name, taken from the program's folder.
    static OrvaFontBuffer* Create(const char* fileName, OrvaProgress progress);
    // A null text gives an empty buffer.
    static OrvaFontBuffer* CreateFromString(const char* text);

    // ---- the code set behind Compact (module-wide scratch)
    static void ResetCodeSet();
    // The code's position in the set; appended when it is new.
    static int32_t AddCode(uint16_t code);
    // Writes the set as bytes (a code above 0xFF high byte first) into out,
    // which holds at least outSize bytes; returns the bytes written, or the
    // bytes needed without writing when they do not fit.
    static uint32_t WriteCodeSet(char* out, uint32_t outSize);
    static uint32_t GetCodeSetCount();

    // ---- methods
    // The byte at the position, or null when it is not below the length.
    // The text is always followed by a zero byte.
    virtual const char* GetText(uint32_t position) const;
    virtual uint32_t GetLength() const;
    // Rewrites the text as its distinct characters in order of first
    // appearance, comments (/* */ and // to the line feed) left out.
    virtual void Compact();
    // Appends count bytes of text (none for a null text); false, with the
    // text unchanged, when memory is short or the text would grow too long.
    virtual bool Append(const char* text, uint32_t count);
    // The built-in sets: kana (hiragana, katakana, half-width katakana),
    // the Latin alphabet in full and half width, digits and the kanji
    // numerals, and every JIS X 0208 character from 0x814F to 0xEA9E.
    virtual bool AddKana();
    virtual bool AddAlphabet();
    virtual bool AddDigits();
    virtual bool AddJisCharacters();

    ~OrvaFontBuffer() override;

private:
    OrvaFontBuffer();

    std::unique_ptr<char[]> data;  // zero-filled block, larger than the text
    uint32_t length = 0;           // bytes of text
};
