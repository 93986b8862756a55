#pragma once
// Font sprites: Shift-JIS text drawn fast as one textured quad per character.
// The glyphs lie on up to 256 textures (sheets), each drawn through one
// sprite batch, and each of the 10,754 glyph slots has a record saying on
// which sheet and where its glyph lies. A font sprite is made by packing the
// glyphs of a font buffer's characters, rendered by a GDI font, onto new
// sheets, or by reading OFD font data whose sheets are images in a pack.
//
// The module's start and stop, the object list that font buffers and font
// sprites share, and the glyph index live here too. Device loss is handled
// by the sheets' textures and sprite batches themselves: a font sprite owns
// no device resource of its own. Main thread only.
#include <cstdint>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "engine/render/font_data.h"
#include "engine/render/sprite.h"

class OrvaFont;
class OrvaFontBuffer;
class OrvaTexture;

class OrvaFontSprite : public OrvaObject {
public:
    // Glyph slots: 0 to 223 for the one-byte codes 0x20 to 0xFF, 224 to
    // 8,092 for 0x8140 to 0x9FFC, 8,095 to 10,753 for 0xE040 to 0xEAA2.
    static constexpr int32_t kGlyphSlots = 10754;
    static constexpr int32_t kMaxSheets = 256;
    // Packed sheets are square powers of two of at most this many pixels.
    static constexpr int32_t kMaxSheetSize = 1024;
    // Font sizes a font sprite works with (pixels); a file outside the
    // range is refused so that pen arithmetic stays small.
    static constexpr int32_t kMaxFontSize = 65535;
    // A file's glyph cells and widths lie within this many pixels.
    static constexpr int32_t kMaxGlyphExtent = 65536;

    // ---- module
    static bool Initialize();
    // Releases every font buffer and font sprite still in the list.
    static void Destroy();
    // Font buffers and font sprites are linked at its tail when made.
    static OrvaObjectList& GetObjectList();
    static int32_t GetCount();

    // The glyph slot of a character code, or -1 when it has none.
    static int32_t GetCharIndex(uint16_t code);

    // ---- creation: the font sprite is returned also when a step failed
    // (it then has no sheets, draws nothing and measures by its font size);
    // null only when the object itself cannot be made.
    // Packs the glyphs of the buffer's characters (compact it first) drawn
    // by the face at fontSize pixels. capacity: quads each sheet batch can
    // queue per frame; alpha: sheets in the Alpha texture format.
    static OrvaFontSprite* CreateFromBuffer(OrvaFontBuffer* buffer, int32_t capacity, bool alpha, const char* face,
                                            int32_t fontSize, bool bold, OrvaProgress progress);
    // Reads OFD font data (an engine file name); the sheets are the named
    // entries of the pack file.
    static OrvaFontSprite* CreateFromFile(const char* fileName, const char* packFile, bool alpha, int32_t capacity,
                                          OrvaProgress progress);

    // ---- methods
    // Lays the texture over every glyph on stage 1 (the whole texture over
    // each cell). A null or invalid texture removes the pattern.
    virtual void SetPatternTexture(OrvaTexture* texture);
    // A, B and C widths of the character at the pointer (two bytes when the
    // first is a lead byte). False when the code has no slot. A slot without
    // a glyph reports A 0, B the font size, C 0: the pitch the text draws
    // give it.
    virtual bool GetCharSize(const char* character, int32_t* a, int32_t* b, int32_t* c) const;
    virtual void GetFontSize(int32_t* out) const;
    // Text with line feeds (down one font size, back to x), tabs (four font
    // sizes right), backspaces (one left) and spaces (half a font size).
    // Fixed pitch: each glyph's cell at pen + A, the pen moves a font size.
    virtual void DrawText(const char* text, int32_t x, int32_t y, float depth, uint32_t colour);
    // Proportional: each cell at the pen, the pen moves B + 1.
    virtual void DrawTextProportional(const char* text, int32_t x, int32_t y, float depth, uint32_t colour);
    // One character: stretched over the rectangle, turned by angle (65,536 a
    // full turn) about (left + centreX, top + centreY), or mapped onto four
    // corners (top-left, top-right, bottom-right, bottom-left). Each returns
    // the character's length in bytes, 0 when its code has no slot.
    virtual int32_t DrawChar(const char* character, const OrvaRect* destination, float depth, uint32_t colour);
    virtual int32_t DrawCharRotate(const char* character, const OrvaRect* destination, float depth, uint32_t colour,
                                   int32_t angle, int32_t centreX, int32_t centreY);
    virtual int32_t DrawCharRotate2(const char* character, const OrvaRect* destination, float depth,
                                    uint32_t colour, int32_t angle, int32_t centreX, int32_t centreY);
    virtual int32_t DrawCharQuad(const char* character, const OrvaPoint* corners, float depth, uint32_t colour);
    // Draws every sheet's queue in sheet order.
    virtual void Render();
    virtual void Clear();
    // Clips later quads of every sheet to the rectangle; null stops it.
    virtual void SetClip(const OrvaRect* clip);
    // Width in pixels of the widest line of the text.
    virtual int32_t GetTextWidth(const char* text) const;
    virtual int32_t GetTextWidthProportional(const char* text) const;

    // ---- inspection
    int32_t GetSheetCount() const { return sheetCount; }
    int32_t GetSheetWidth() const { return sheetWidth; }     // pixels; 0 when read from a file
    int32_t GetSheetHeight() const { return sheetHeight; }   // pixels; 0 when read from a file
    int32_t GetRowsPerSheet() const { return rowsPerSheet; }
    OrvaSprite* GetSheetSprite(int32_t sheet) const;
    // The slot's record, or null for a slot outside 0 to 10,753.
    const OfdGlyphRecord* GetGlyph(int32_t slot) const;
    OrvaTexture* GetPatternTexture() const { return patternTexture; }
    // Copies the font size, sheet size and count and every glyph record
    // into the data, for writing OFD files; the sheet names are left to the
    // caller. False when memory is short.
    bool ExportFontData(OrvaFontData* out) const;

    ~OrvaFontSprite() override;

private:
    OrvaFontSprite();
    static OrvaFontSprite* Construct();
    // Packs the buffer's glyphs onto new sheets; false when nothing more
    // should be done (the creation ends without the finishing steps).
    bool Pack(OrvaFontBuffer* buffer, bool alpha, const char* face, int32_t size, bool bold, OrvaProgress progress,
              OrvaFont** font);
    // The sheet batches, the hand-over of the textures and the summary.
    void Finish(int32_t capacity, OrvaProgress progress, OrvaFont* font);
    // The record of a code that has a glyph on a sheet that can draw, else
    // null.
    const OfdGlyphRecord* DrawableGlyph(uint16_t code) const;
    void DrawTextPitch(const char* text, int32_t x, int32_t y, float depth, uint32_t colour, bool proportional);
    int32_t TextWidth(const char* text, bool proportional) const;
    // The source rectangles of a glyph (stage 0 the cell, stage 1 the whole
    // pattern) and the number of stages to draw.
    int32_t Sources(const OfdGlyphRecord& glyph, OrvaRect* src) const;

    OrvaTexture* sheetTextures[kMaxSheets] = {};  // held while creating only
    OrvaSprite* sheetSprites[kMaxSheets] = {};    // held; null beyond sheetCount
    OrvaTexture* patternTexture = nullptr;        // held
    int32_t sheetWidth = 0;                       // pixels
    int32_t sheetHeight = 0;                      // pixels
    int32_t sheetCount = 0;                       // 0 to 256
    int32_t rowsPerSheet = 0;
    int32_t fontSize = 0;                         // pixels
    int32_t patternWidth = 0;                     // texels
    int32_t patternHeight = 0;                    // texels
    OfdGlyphRecord glyphs[kGlyphSlots];           // sheet -1 until a glyph is placed
};
