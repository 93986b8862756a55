// GDI-style fonts over FreeType and fontconfig: faces, metrics, ABC widths
// and rendered glyphs.
#include "platform/text/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstdio>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/text/codepage.h"

namespace platform {

namespace {

// Slant of synthetic italic: x += 0.2126 y, the shear FreeType's own
// oblique uses.
constexpr FT_Fixed kItalicShear = 0x0366A;
constexpr int kDefaultEmPixels = 12;
constexpr size_t kGlyphCacheLimit = 4096;

// Lower-case ASCII with full-width forms folded and spaces dropped, so that
// "ＭＳ Ｐゴシック" and "ms pゴシック" compare equal.
std::string NormalizeFace(const std::string& face) {
    std::string out;
    size_t i = 0;
    while (i < face.size()) {
        const uint8_t c = uint8_t(face[i]);
        // U+FF01..U+FF5E are EF BC 81..EF BD 9E; U+3000 is E3 80 80.
        if (c == 0xEF && i + 2 < face.size() && (uint8_t(face[i + 1]) == 0xBC || uint8_t(face[i + 1]) == 0xBD)) {
            const uint32_t cp = 0xFF00 + ((uint8_t(face[i + 1]) & 0x01) << 6) + (uint8_t(face[i + 2]) & 0x3F);
            if (cp >= 0xFF01 && cp <= 0xFF5E) {
                char ascii = char(cp - 0xFEE0);
                if (ascii >= 'A' && ascii <= 'Z') ascii = char(ascii - 'A' + 'a');
                out.push_back(ascii);
                i += 3;
                continue;
            }
        }
        if (c == 0xE3 && i + 2 < face.size() && uint8_t(face[i + 1]) == 0x80 && uint8_t(face[i + 2]) == 0x80) {
            i += 3;
            continue;
        }
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        out.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c));
        ++i;
    }
    return out;
}

struct FaceAlias {
    const char* windowsName;  // normalized
    const char* family;
};

// Japanese Windows faces and what stands for them here. Mincho faces fall
// to Gothic when no IPA Mincho is installed (fontconfig's fallback).
const FaceAlias kAliases[] = {
    {"msゴシック", "IPAGothic"},     {"msgothic", "IPAGothic"},
    {"mspゴシック", "IPAPGothic"},   {"mspgothic", "IPAPGothic"},
    {"msuigothic", "IPAPGothic"},    {"ms明朝", "IPAMincho"},
    {"msmincho", "IPAMincho"},       {"msp明朝", "IPAPMincho"},
    {"mspmincho", "IPAPMincho"},     {"メイリオ", "IPAPGothic"},
    {"meiryo", "IPAPGothic"},        {"meiryoui", "IPAPGothic"},
    {"system", "IPAGothic"},         {"fixedsys", "IPAGothic"},
    {"terminal", "IPAGothic"},       {"", "IPAGothic"},
};

void InitFontconfig() {
    static std::once_flag once;
    std::call_once(once, [] { FcInit(); });
}

// The font file fontconfig chooses for a family, preferring Japanese
// coverage.
bool MatchFile(const std::string& family, std::string* path, int* index, std::string* matchedFamily) {
    InitFontconfig();
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) {
        return false;
    }
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) {
        return false;
    }
    FcChar8* file = nullptr;
    FcChar8* name = nullptr;
    int faceIndex = 0;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    if (ok) {
        *path = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &faceIndex) != FcResultMatch) {
            faceIndex = 0;
        }
        *index = faceIndex;
        if (FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch && name) {
            *matchedFamily = reinterpret_cast<const char*>(name);
        }
    }
    FcPatternDestroy(match);
    return ok;
}

int RoundToInt(double v) { return int(std::lround(v)); }

// Stretches an outline that spans less than one pixel across (26.6 units)
// over the whole pixel its middle lies in, on each axis apart, so that it
// covers that pixel fully.
void WidenToOnePixel(FT_Outline* outline) {
    FT_BBox box;
    FT_Outline_Get_CBox(outline, &box);
    auto widen = [&](FT_Pos low, FT_Pos high, FT_Pos FT_Vector::*axis) {
        const FT_Pos span = high - low;
        if (span <= 0 || span >= 64) {
            return;
        }
        const FT_Pos pixel = ((low + high) / 2) & ~FT_Pos(63);
        for (short i = 0; i < outline->n_points; ++i) {
            FT_Pos& v = outline->points[i].*axis;
            v = pixel + ((v - low) * 64 + span / 2) / span;
        }
    };
    widen(box.xMin, box.xMax, &FT_Vector::x);
    widen(box.yMin, box.yMax, &FT_Vector::y);
}

}  // namespace

// Fontconfig loses a few hundred bytes parsing its configuration once per
// process; that is not ours to fix, and without this every program that
// opens a font fails the leak check of the sanitizer build. Weak, so a
// program with its own list keeps it.
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

struct Font::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    bool italic = false;
    bool bold = false;
    double emPixels = 0;
    FT_Pos boldStrength = 0;  // 26.6
    int boldExtra = 0;        // pixels added to each advance
    TextMetrics metrics;
    std::string family;
    std::string path;
    std::unordered_map<uint16_t, GlyphBitmap> cache;

    ~Impl() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }

    bool Render(uint16_t code, GlyphBitmap* out);
    // The loaded outline, slanted and emboldened, rendered and cut to its
    // black box. `keepFaintInk` keeps coverage too faint for the lowest
    // level as that level.
    bool Rasterize(uint16_t code, bool keepFaintInk, GlyphBitmap* out);
};

Font::Font(std::unique_ptr<Impl> implIn) : impl(std::move(implIn)) {}
Font::~Font() = default;

std::string Font::ResolveFamily(const char* face) {
    const std::string normalized = NormalizeFace(face ? face : "");
    for (const FaceAlias& alias : kAliases) {
        if (normalized == alias.windowsName) {
            return alias.family;
        }
    }
    return face;
}

std::unique_ptr<Font> Font::Open(const char* face, int height, bool italic, bool bold, std::string* error) {
    try {
        const std::string family = ResolveFamily(face ? face : "");
        std::string path, matched;
        int index = 0;
        if (!MatchFile(family, &path, &index, &matched)) {
            if (error) *error = "no font file matches \"" + family + "\"";
            fprintf(stderr, "text: no font file matches \"%s\"\n", family.c_str());
            return nullptr;
        }
        auto impl = std::make_unique<Impl>();
        impl->italic = italic;
        impl->bold = bold;
        impl->family = matched;
        impl->path = path;
        if (FT_Init_FreeType(&impl->library) != 0) {
            if (error) *error = "FreeType does not start";
            fprintf(stderr, "text: FreeType does not start\n");
            return nullptr;
        }
        if (FT_New_Face(impl->library, path.c_str(), index, &impl->face) != 0) {
            if (error) *error = "cannot open font file " + path;
            fprintf(stderr, "text: cannot open font file %s\n", path.c_str());
            return nullptr;
        }
        FT_Face f = impl->face;
        if (!FT_IS_SCALABLE(f)) {
            if (error) *error = "font file is not scalable: " + path;
            fprintf(stderr, "text: font file is not scalable: %s\n", path.c_str());
            return nullptr;
        }
        FT_Select_Charmap(f, FT_ENCODING_UNICODE);
        const double upem = f->units_per_EM;
        double winAscent = f->ascender, winDescent = -f->descender;
        double lineGap = 0;
        if (const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2))) {
            if (os2->usWinAscent + os2->usWinDescent > 0) {
                winAscent = os2->usWinAscent;
                winDescent = os2->usWinDescent;
            }
        }
        if (const TT_HoriHeader* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(f, FT_SFNT_HHEA))) {
            // Windows' external leading: the line gap beyond what the
            // Windows ascent and descent already cover.
            lineGap = hhea->Line_Gap - ((winAscent + winDescent) - (hhea->Ascender - hhea->Descender));
            if (lineGap < 0) lineGap = 0;
        }
        // Negative: the em square is that many pixels; positive: the cell
        // (Windows ascent + descent) is.
        if (height < 0) {
            impl->emPixels = -double(height);
        } else if (height > 0) {
            impl->emPixels = double(height) * upem / (winAscent + winDescent);
        } else {
            impl->emPixels = kDefaultEmPixels;
        }
        if (impl->emPixels > 4096) {
            if (error) *error = "font height out of range";
            fprintf(stderr, "text: font height %d out of range\n", height);
            return nullptr;
        }
        if (FT_Set_Char_Size(f, 0, FT_F26Dot6(std::lround(impl->emPixels * 64)), 72, 72) != 0) {
            if (error) *error = "cannot size the font";
            fprintf(stderr, "text: cannot size %s to %d\n", path.c_str(), height);
            return nullptr;
        }
        const double scale = impl->emPixels / upem;
        TextMetrics& m = impl->metrics;
        m.ascent = RoundToInt(winAscent * scale);
        m.descent = height > 0 ? height - m.ascent : RoundToInt(winDescent * scale);
        m.height = m.ascent + m.descent;
        m.internalLeading = m.height - RoundToInt(impl->emPixels);
        m.externalLeading = RoundToInt(lineGap * scale);
        int average = 0;
        if (const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2))) {
            average = RoundToInt(os2->xAvgCharWidth * scale);
        }
        if (bold) {
            // The stroke grows by 1/24 of the em, as FreeType's own
            // emboldening does; the advance grows by as much.
            impl->boldStrength = FT_Pos(std::lround(impl->emPixels * 64 / 24));
            if (impl->boldStrength < 64) impl->boldStrength = 64;
            impl->boldExtra = int((impl->boldStrength + 32) >> 6);
        }
        m.averageCharWidth = average + impl->boldExtra;
        m.maxCharWidth = RoundToInt(f->max_advance_width * scale) + impl->boldExtra;
        return std::unique_ptr<Font>(new Font(std::move(impl)));
    } catch (const std::bad_alloc&) {
        if (error) *error = "out of memory";
        fprintf(stderr, "text: out of memory opening a font\n");
        return nullptr;
    }
}

const TextMetrics& Font::GetMetrics() const { return impl->metrics; }
const std::string& Font::GetFamilyName() const { return impl->family; }
const std::string& Font::GetFilePath() const { return impl->path; }
double Font::GetEmPixels() const { return impl->emPixels; }

bool Font::Impl::Render(uint16_t code, GlyphBitmap* out) {
    *out = GlyphBitmap();
    uint32_t cp = 0;
    FT_UInt index = 0;
    if (Cp932ToUnicode(code, &cp)) {
        index = FT_Get_Char_Index(face, cp);
    }
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0) {
        fprintf(stderr, "text: cannot load the glyph of code 0x%04X\n", code);
        return false;
    }
    FT_GlyphSlot slot = face->glyph;
    out->advance = int((slot->advance.x + 32) >> 6) + boldExtra;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE || slot->outline.n_points == 0) {
        return true;
    }
    if (!Rasterize(code, false, out)) {
        return false;
    }
    if (out->width > 0) {
        return true;
    }
    // Hinting rounds a stroke thinner than a pixel (the low line, the
    // overline) to nothing at some sizes, and the glyph would lose its ink
    // and its width. Draw such a glyph from its unhinted outline, its thin
    // side widened to the one pixel that hinting would otherwise keep; the
    // advance stays the hinted one.
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0) {
        fprintf(stderr, "text: cannot load the glyph of code 0x%04X\n", code);
        return false;
    }
    WidenToOnePixel(&face->glyph->outline);
    return Rasterize(code, true, out);
}

bool Font::Impl::Rasterize(uint16_t code, bool keepFaintInk, GlyphBitmap* out) {
    FT_GlyphSlot slot = face->glyph;
    if (italic) {
        FT_Matrix shear = {0x10000, kItalicShear, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
    }
    if (bold) {
        FT_Outline_EmboldenXY(&slot->outline, boldStrength, boldStrength);
    }
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) {
        fprintf(stderr, "text: cannot render the glyph of code 0x%04X\n", code);
        return false;
    }
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || bm.width == 0 || bm.rows == 0) {
        return true;
    }
    const int w = int(bm.width), h = int(bm.rows);
    const int maxGray = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
    auto level = [&](int x, int y) -> uint8_t {
        const uint8_t* row = bm.pitch >= 0 ? bm.buffer + size_t(y) * size_t(bm.pitch)
                                           : bm.buffer + size_t(h - 1 - y) * size_t(-bm.pitch);
        const uint8_t v = uint8_t((row[x] * 16 + maxGray / 2) / maxGray);
        return v == 0 && keepFaintInk && row[x] != 0 ? 1 : v;
    };
    // The black box: the rows and columns that keep ink after quantizing.
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (level(x, y)) {
                if (x < x0) x0 = x;
                if (x > x1) x1 = x;
                if (y < y0) y0 = y;
                if (y > y1) y1 = y;
            }
        }
    }
    if (x1 < 0) {
        return true;
    }
    out->width = x1 - x0 + 1;
    out->height = y1 - y0 + 1;
    out->originX = slot->bitmap_left + x0;
    out->originY = slot->bitmap_top - y0;
    out->coverage.resize(size_t(out->width) * size_t(out->height));
    for (int y = 0; y < out->height; ++y) {
        for (int x = 0; x < out->width; ++x) {
            out->coverage[size_t(y) * size_t(out->width) + size_t(x)] = level(x0 + x, y0 + y);
        }
    }
    return true;
}

bool Font::GetGlyph(uint16_t code, GlyphBitmap* out) {
    if (!out) {
        return false;
    }
    try {
        const auto it = impl->cache.find(code);
        if (it != impl->cache.end()) {
            *out = it->second;
            return true;
        }
        if (!impl->Render(code, out)) {
            return false;
        }
        if (impl->cache.size() >= kGlyphCacheLimit) {
            impl->cache.clear();
        }
        impl->cache.emplace(code, *out);
        return true;
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "text: out of memory rendering code 0x%04X\n", code);
        *out = GlyphBitmap();
        return false;
    }
}

bool Font::GetAbcWidths(uint16_t code, AbcWidths* out) {
    if (!out) {
        return false;
    }
    GlyphBitmap glyph;
    if (!GetGlyph(code, &glyph)) {
        *out = AbcWidths();
        return false;
    }
    if (glyph.width == 0) {
        out->a = 0;
        out->b = 0;
        out->c = glyph.advance;
    } else {
        out->a = glyph.originX;
        out->b = glyph.width;
        out->c = glyph.advance - glyph.originX - glyph.width;
    }
    return true;
}

}  // namespace platform
