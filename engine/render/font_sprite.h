#pragma once
// The font-sprite module: its start and stop, the object list that font
// buffers and font sprites share, and the glyph index that maps a Shift-JIS
// character code to one of the 10,754 glyph slots. Main thread only.
#include <cstdint>

class OrvaObjectList;

class OrvaFontSprite {
public:
    // Glyph slots: 0 to 223 for the one-byte codes 0x20 to 0xFF, 224 to
    // 8,092 for 0x8140 to 0x9FFC, 8,095 to 10,753 for 0xE040 to 0xEAA2.
    static constexpr int32_t kGlyphSlots = 10754;

    // ---- module
    static bool Initialize();
    // Releases every font buffer and font sprite still in the list.
    static void Destroy();
    // Font buffers and font sprites are linked at its tail when made.
    static OrvaObjectList& GetObjectList();
    static int32_t GetCount();

    // The glyph slot of a character code, or -1 when it has none.
    static int32_t GetCharIndex(uint16_t code);
};
