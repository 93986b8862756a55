#pragma once
// OAG image archive: many images in one file, named by the game.
//
// Layout (every number little-endian):
//
//   offset 0   4 bytes  magic "OAG" and a zero byte (4F 41 47 00)
//   offset 4   u32      entry count N (at most kMaxEntries)
//   offset 8   N entry records of 32 bytes each:
//     +0   16 bytes  name: Shift-JIS bytes, zero-padded; a name of exactly
//                    16 bytes has no terminating zero
//     +16  u32       offset of the entry's data from the start of the file
//     +20  u32       size of the entry's data in bytes (as stored)
//     +24  u16       width in pixels (1 to 16384)
//     +26  u16       height in pixels (1 to 16384)
//     +28  u8        pixel format, below
//     +29  3 bytes   reserved, zero
//   then the entries' data, anywhere after the records.
//
// Pixel formats: rows top-down, no padding between rows or pixels.
//   0  A8R8G8B8  4 bytes per pixel, a little-endian 0xAARRGGBB (B, G, R, A)
//   1  R8G8B8    3 bytes per pixel (B, G, R); alpha reads as 0xFF
//   2  R5G6B5    2 bytes per pixel; alpha reads as 0xFF
//   3  A4R4G4B4  2 bytes per pixel
//   4 to 7       formats 0 to 3 packed with LZSS; the stored size is the
//                packed size, the unpacked size is width x height x bytes
//                per pixel of the unpacked format.
// Channels narrower than 8 bits widen by repeating their top bits
// (5 bits: v << 3 | v >> 2; 6 bits: v << 2 | v >> 4; 4 bits: v x 17).
// Raw entries (0 to 3) store at least width x height x bytes per pixel.
//
// LZSS: a 4096-byte ring window filled with zero bytes at the start, the
// first byte written at ring position 4078 (4096 - 18). The stream is groups
// of a flag byte and up to eight items; the flag's bits are read from the
// lowest (bit 0) up: 1 is a literal byte copied to the output and the ring;
// 0 is a two-byte match b0, b1 copying (b1 & 0x0F) + 3 bytes (3 to 18) from
// ring position b0 | (b1 & 0xF0) << 4, byte by byte (a match may overlap the
// bytes it writes). Decoding stops when the unpacked size is reached; a
// stream that ends before is corrupt.
//
// Names are looked up as the engine's Shift-JIS bytes, ASCII letters matched
// without regard to case (never the second byte of a double-byte
// character); the first matching record wins.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/image.h"

struct OrvaImagePackEntry {
    std::string name;  // Shift-JIS bytes, at most 16
    uint32_t offset = 0;
    uint32_t size = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t format = 0;
};

// One image for the writer: stored under `name` in `format` (0 to 7).
struct OrvaImagePackSource {
    std::string name;
    const platform::Image* image = nullptr;
    uint8_t format = 0;
};

class OrvaImagePack {
public:
    static constexpr uint32_t kHeaderSize = 8;
    static constexpr uint32_t kRecordSize = 32;
    static constexpr uint32_t kNameSize = 16;
    static constexpr uint32_t kMaxEntries = 65536;
    static constexpr uint8_t kFormatCount = 8;

    // Decodes the named entry of an archive file (an engine file name:
    // Shift-JIS, backslashes). False, with a log line, when the archive or
    // the entry is missing or damaged; `out` is then empty.
    static bool LoadEntry(const char* packFile, const char* entryName, platform::Image* out);
    // The same over an archive held in memory.
    static bool LoadEntryFromMemory(const uint8_t* data, size_t size, const char* entryName,
                                    platform::Image* out);

    // Every record of an archive, checked.
    static bool ReadDirectory(const char* packFile, std::vector<OrvaImagePackEntry>* entries);
    static bool ReadDirectoryFromMemory(const uint8_t* data, size_t size, std::vector<OrvaImagePackEntry>* entries);

    // Turns one entry's stored bytes into pixels.
    static bool DecodeEntryData(const OrvaImagePackEntry& entry, const uint8_t* data, size_t size,
                                platform::Image* out);

    // Builds an archive from images (each stored in its format, 0 to 7).
    static bool Build(const std::vector<OrvaImagePackSource>& sources, std::vector<uint8_t>* out);
    // Builds and writes it to a host path.
    static bool Write(const char* hostPath, const std::vector<OrvaImagePackSource>& sources);

    // LZSS as described above. Encode never fails but for memory; Decode
    // fills exactly `outSize` bytes or fails, never reading past `inSize` nor
    // writing past `outSize`.
    static bool LzssEncode(const uint8_t* in, size_t inSize, std::vector<uint8_t>* out);
    static bool LzssDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

    // Bytes per pixel of a format (4, 3, 2, 2; packed formats as their
    // unpacked kind), 0 for a format outside 0 to 7.
    static uint32_t BytesPerPixel(uint8_t format);
    // True when an entry name (Shift-JIS) matches a record's name bytes.
    static bool NameMatches(const char* entryName, const char* recordName, size_t recordNameSize);
};
