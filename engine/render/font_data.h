#pragma once
// OFD font data: a font sprite's sheets, named as entries of a pack file,
// and its glyph records, as one little-endian file:
//
//   0   char[4]   "OFD" and a zero byte
//   4   i32       font size (character height in pixels)
//   8   i32       sheet count N (0 or less: none; at most 256)
//   12  i32       sheet width, pixels
//   16  i32       sheet height, pixels
//   20  char[32]  x N  sheet names, zero-terminated
//   20 + 32 N     10,530 glyph records of 32 bytes for slots 223 to 10,752
//
// Slots 0 to 222 and 10,753 are not stored and have no glyph. Main thread
// only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/graphics.h"

class OrvaTexture;

// One glyph slot: where its glyph lies and its A, B and C widths. The same
// 32 bytes in memory and in the file.
struct OfdGlyphRecord {
    int32_t sheet = -1;  // sheet index; -1: the slot has no glyph
    int32_t left = 0;    // cell on the sheet, pixels; right and bottom exclusive
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t a = 0;       // space before the black box, pixels
    uint32_t b = 0;      // black box, pixels
    int32_t c = 0;       // space after the black box, pixels
};
static_assert(sizeof(OfdGlyphRecord) == 32, "a glyph record is eight 32-bit fields");

// What OrvaFontData::Load made of a file.
enum class OrvaFontDataResult : int32_t {
    Loaded,     // read; sheets loaded (each as the pack gave it)
    NotOpened,  // no such file: no sheets, the font sprite is still finished
    Refused,    // not OFD data, or broken: logged, nothing kept
};

class OrvaFontData {
public:
    static constexpr int32_t kHeaderBytes = 20;
    static constexpr int32_t kSheetNameBytes = 32;
    static constexpr int32_t kRecordBytes = 32;
    static constexpr int32_t kMaxSheets = 256;
    static constexpr int32_t kFirstStoredSlot = 223;     // code 0xFF
    static constexpr int32_t kStoredRecords = 10530;     // slots 223 to 10,752
    // Bytes of a file with this many sheets (336,980 + 32 N).
    static size_t FileSize(int32_t sheetCount);

    OrvaFontData();
    ~OrvaFontData();
    OrvaFontData(const OrvaFontData&) = delete;
    OrvaFontData& operator=(const OrvaFontData&) = delete;

    // Checks and takes a whole file's bytes; false, with a log line and the
    // data left empty, when they are not OFD data or are broken (truncated,
    // too many sheets, a name without its zero, a record naming a sheet that
    // is not there). Bytes after the records are ignored.
    bool Parse(const uint8_t* bytes, size_t size);
    // Reads the file (an engine name, from the program's folder), then loads
    // each sheet as the named entry of the pack file (alpha: the Alpha
    // texture format) and holds it.
    OrvaFontDataResult Load(const char* fileName, const char* packFile, bool alpha, OrvaProgress progress);

    // The file's bytes; false (with a log line) when the data cannot be
    // stored: more than 256 sheets, a name count that differs from the
    // sheet count, a name of 32 bytes or more, or a record naming a sheet
    // that is not there.
    bool Serialize(std::vector<uint8_t>* out) const;
    // Writes the file (an engine name); false with a log line on failure.
    bool Save(const char* fileName) const;

    // Empties everything and releases the sheets held.
    void Reset();
    // Hands the sheet's texture over with its reference (null after).
    OrvaTexture* TakeSheetTexture(int32_t sheet);

    int32_t fontSize = 0;      // pixels
    int32_t sheetCount = 0;    // 0 to 256
    int32_t sheetWidth = 0;    // pixels, as the file says
    int32_t sheetHeight = 0;   // pixels, as the file says
    std::vector<std::string> sheetNames;
    std::vector<OrvaTexture*> sheetTextures;   // held; null once taken
    // Every glyph slot once data is parsed; empty before.
    std::vector<OfdGlyphRecord> glyphs;
};
