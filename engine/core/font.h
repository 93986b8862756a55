#pragma once
// GDI fonts: a font face at a pixel height that draws Shift-JIS characters
// one by one into a locked back buffer, texture or surface, anti-aliased in
// 17 levels. Main thread only.
#include <cstdint>
#include <memory>

#include "engine/core/graphics.h"
#include "engine/core/object.h"

namespace platform {
class Font;
struct TextMetrics;
}  // namespace platform

// What OrvaFont::DrawChar draws into.
enum OrvaFontTarget : int32_t {
    kOrvaFontTargetBackBuffer = 0,
    kOrvaFontTargetTexture = 1,
    kOrvaFontTargetSurface = 2,
};

class OrvaFont : public OrvaObject {
public:
    // ---- module
    static void Initialize();
    static void Destroy();

    // ---- creation: the object is returned also when no font file opens
    // (then it is not valid and draws nothing).
    // face: a face name in Shift-JIS ("ＭＳ ゴシック"); height as a GDI font
    // height (negative: character height, positive: cell height, pixels).
    static OrvaFont* Create(const char* face, int32_t height, bool italic, bool bold, OrvaProgress progress);
    static int32_t GetCount();

    // ---- methods
    bool IsValid() const { return font != nullptr; }
    // Releases the previous target and holds the new one with a reference.
    // kind 0 draws into the device's back buffer (target unused, may be
    // null); 1 takes an OrvaTexture (its system copy: call its Update to
    // show the result), 2 an OrvaSurface. False, with no target held, when
    // the kind and object do not agree.
    bool SetTarget(int32_t kind, OrvaObject* target);
    // Readies the font for measuring and reads its metrics; EndDC ends it.
    bool BeginDC();
    void EndDC();
    bool IsInDC() const { return inDC; }
    // The font's metrics (valid fonts only; zeros otherwise).
    int32_t GetAscent() const;
    int32_t GetHeight() const;
    // A, B and C widths of the code's glyph, B raised to the black-box width
    // when that is larger; returns the black-box width. Outside BeginDC and
    // EndDC nothing is measured: 0, and the outputs get 0.
    uint32_t GetCharABC(uint16_t code, int32_t* a, int32_t* b, int32_t* c);
    // Draws the code's glyph in the colour (A8R8G8B8; its alpha scales the
    // coverage) with the left edge of its black box at x and the character
    // cell's top at y; blends over what is there, clipped to the target.
    // Draws nothing for 0x08, 0x09, 0x0A, 0x20 and 0x8140, nor when the
    // target cannot be locked.
    void DrawChar(int32_t x, int32_t y, uint32_t colour, uint16_t code);

    ~OrvaFont() override;

private:
    OrvaFont();
    void ReleaseTarget();

    std::unique_ptr<platform::Font> font;
    int32_t targetKind = kOrvaFontTargetBackBuffer;
    OrvaObject* target = nullptr;  // held with a reference; null for the back buffer
    bool inDC = false;
};
