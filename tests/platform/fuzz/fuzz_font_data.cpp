// Fuzz target: the OFD font-data reader, and font-buffer compaction over the
// same bytes taken as text. Built as a libFuzzer program with clang
// (ORVA_LIBFUZZER); every build also runs it as a regression program over
// seeds it makes itself and deterministic mutations aimed at the fields the
// reader checks:
//
//   fuzz_font_data_regression [MUTATIONS]
//   fuzz_font_data_regression --write-seeds FOLDER
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/render/font_buffer.h"
#include "engine/render/font_data.h"
#include "engine/render/font_sprite.h"
#include "tests/platform/fuzz/fuzz_main_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OrvaFontData font;
    if (font.Parse(data, size)) {
        if (font.sheetCount < 0 || font.sheetCount > OrvaFontData::kMaxSheets ||
            font.sheetNames.size() != size_t(font.sheetCount) ||
            font.glyphs.size() != size_t(OrvaFontSprite::kGlyphSlots) ||
            size < OrvaFontData::FileSize(font.sheetCount)) {
            __builtin_trap();
        }
        for (const OfdGlyphRecord& g : font.glyphs) {
            if (g.sheet < -1 || g.sheet >= font.sheetCount) __builtin_trap();
        }
        // What was read writes back and reads again to the same records.
        std::vector<uint8_t> again;
        if (!font.Serialize(&again) || again.size() != OrvaFontData::FileSize(font.sheetCount)) __builtin_trap();
        const size_t records = again.size() - size_t(OrvaFontData::kStoredRecords) * OrvaFontData::kRecordBytes;
        if (std::memcmp(again.data() + records, data + records, again.size() - records) != 0) __builtin_trap();
        OrvaFontData reread;
        if (!reread.Parse(again.data(), again.size()) || reread.sheetNames != font.sheetNames) __builtin_trap();
    } else if (!font.glyphs.empty() || font.sheetCount != 0 || !font.sheetNames.empty()) {
        __builtin_trap();
    }

    // The same bytes as a font buffer's text (at most a few pages of them).
    const uint32_t textBytes = uint32_t(size < 8192 ? size : 8192);
    OrvaFontBuffer* buffer = OrvaFontBuffer::CreateFromString(nullptr);
    if (buffer != nullptr) {
        buffer->Append(reinterpret_cast<const char*>(data), textBytes);
        buffer->Compact();
        if (buffer->GetLength() > textBytes) __builtin_trap();
        if (buffer->GetLength() > 0 && buffer->GetText(buffer->GetLength() - 1)[1] != '\0') __builtin_trap();
        buffer->Release();
    }
    return 0;
}

#if !defined(ORVA_LIBFUZZER)
#include "tests/platform/fuzz/fuzz_regression.h"

namespace {

using Bytes = std::vector<uint8_t>;

using fuzzrun::Random;

Bytes Seed(int32_t sheets, int32_t sheetOfRecords) {
    OrvaFontData font;
    font.fontSize = 14;
    font.sheetCount = sheets;
    font.sheetWidth = 512;
    font.sheetHeight = 256;
    for (int32_t s = 0; s < sheets; ++s) {
        font.sheetNames.push_back(std::string("sheet") + char('a' + s % 26));
    }
    font.glyphs.assign(OrvaFontSprite::kGlyphSlots, OfdGlyphRecord{});
    for (int32_t slot = OrvaFontData::kFirstStoredSlot; slot < OrvaFontSprite::kGlyphSlots - 1; slot += 7) {
        OfdGlyphRecord& g = font.glyphs[size_t(slot)];
        g.sheet = sheetOfRecords < sheets ? sheetOfRecords : -1;
        g.left = slot % 500;
        g.right = g.left + 12;
        g.bottom = 16;
        g.b = 10;
    }
    Bytes bytes;
    font.Serialize(&bytes);
    return bytes;
}

void PutI32(Bytes* b, size_t at, uint32_t v) {
    if (at + 4 > b->size()) return;
    for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Mutations where the reader has something to check: the magic, the
// counts, the names and the records' sheet fields, and the file's length.
void Mutate(Bytes* b, Random* r) {
    static const uint32_t kInteresting[] = {0,    1,    2,    255,        256,        257,        0x7FFF,
                                            0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    const uint32_t value = kInteresting[r->Below(13)];
    const uint32_t sheets = b->size() >= 12 ? uint32_t((*b)[8] | ((*b)[9] << 8)) : 0;
    const size_t records = 20 + 32 * size_t(sheets <= 256 ? sheets : 0);
    switch (r->Below(7)) {
    case 0: if (!b->empty()) (*b)[r->Below(4)] ^= uint8_t(1u << r->Below(8)); break;
    case 1: PutI32(b, 4 + 4 * r->Below(4), value); break;
    case 2: {
        const size_t at = 20 + r->Below(8) * 32;
        if (at + 32 <= b->size()) std::memset(b->data() + at, int(r->Next()), 32);
        break;
    }
    case 3: PutI32(b, records + 32 * r->Below(OrvaFontData::kStoredRecords), value); break;
    case 4: b->resize(r->Below(b->size() + 1)); break;
    case 5: b->resize(b->size() + 1 + r->Below(64), uint8_t(r->Next())); break;
    default: if (!b->empty()) (*b)[r->Below(b->size())] = uint8_t(r->Next()); break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long mutations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 2000;
    const std::vector<Bytes> seeds = {Seed(0, -1), Seed(1, 0), Seed(3, 2), Seed(256, 255), Bytes{'O', 'F', 'D', 0}};
    int status = 0;
    if (fuzzmain::WriteSeedsIfAsked(argc, argv, seeds, &status)) {
        return status;
    }
    fuzzrun::Random random(0x2545F4914F6CDD1Dull);
    fuzzrun::Run(seeds, mutations, &random, &Mutate, 3);
    std::printf("%zu seeds and %ld mutations ran\n", seeds.size(), mutations);
    return 0;
}
#endif
