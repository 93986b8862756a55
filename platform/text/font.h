#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// GDI-style fonts over FreeType: faces found by family name through
// fontconfig (the Japanese Windows faces stand as IPA Gothic), sized like a
// GDI font height, with synthetic italic and bold, measured and rendered
// glyph by glyph for Shift-JIS codes.
namespace platform {

struct TextMetrics {
    int ascent = 0;           // pixels above the baseline
    int descent = 0;          // pixels below it
    int height = 0;           // ascent + descent (the cell height)
    int internalLeading = 0;  // height - the character (em) height
    int externalLeading = 0;
    int averageCharWidth = 0;
    int maxCharWidth = 0;
};

// A, B, C widths: the space before the black box, its width, and the space
// after it up to the next pen position; A + B + C is the advance.
struct AbcWidths {
    int a = 0;
    int b = 0;
    int c = 0;
};

// One glyph rendered in 17 coverage levels (0 to 16), cut to its black box.
struct GlyphBitmap {
    int width = 0;   // black box, pixels; 0 x 0 for a glyph without ink
    int height = 0;
    int originX = 0; // black box's left edge, right of the pen position
    int originY = 0; // black box's top edge, above the baseline
    int advance = 0; // pen movement to the next character
    std::vector<uint8_t> coverage;  // width x height levels, rows top-down
};

class Font {
public:
    // `face` is a family name in UTF-8 ("ＭＳ ゴシック", "MS Gothic", "IPAGothic";
    // empty for the default). `height` as a GDI font height: negative for
    // the character height in pixels, positive for the cell height, 0 for
    // the default (a 12-pixel character height). Null with `error` set when
    // no font file can be opened.
    static std::unique_ptr<Font> Open(const char* face, int height, bool italic, bool bold, std::string* error);
    ~Font();

    // The family fontconfig is asked for in place of a Windows face name
    // (the name itself when it is not one of them).
    static std::string ResolveFamily(const char* face);

    const TextMetrics& GetMetrics() const;
    const std::string& GetFamilyName() const;  // of the opened file
    const std::string& GetFilePath() const;
    // Pixel size of the em square after mapping the height.
    double GetEmPixels() const;

    // For a Shift-JIS code (one byte, or lead byte x 256 + trail byte);
    // codes without a character use the font's missing-glyph shape. A glyph
    // whose outline has ink keeps at least one pixel of it, also at sizes
    // where hinting would round its strokes away. False only when FreeType
    // fails.
    bool GetAbcWidths(uint16_t code, AbcWidths* out);
    bool GetGlyph(uint16_t code, GlyphBitmap* out);

    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

private:
    struct Impl;
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
