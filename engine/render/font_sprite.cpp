// Font sprites: packing glyphs onto sheets, reading OFD files, drawing and
// measuring text.
#include "engine/render/font_sprite.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/font.h"
#include "engine/core/object.h"
#include "engine/core/sjis.h"
#include "engine/core/texture.h"
#include "engine/render/font_buffer.h"

namespace {

constexpr auto& FontObjects = OrvaModuleList<OrvaModule::FontSprite>;

constexpr uint16_t kLineFeed = 0x0A;
constexpr uint16_t kTab = 0x09;
constexpr uint16_t kBackspace = 0x08;
constexpr uint16_t kSpace = 0x20;
constexpr uint16_t kIdeographicSpace = 0x8140;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

void Step(OrvaProgress progress)
{
    if (progress != nullptr) {
        progress(0);
    }
}

// Pens run in 64 bits so that long texts and far positions cannot overflow;
// what reaches a batch or a caller is brought back into 32 bits.
int32_t Clamp32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

bool Fits32(int64_t v)
{
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// The code at the pointer as the single-character draws read it, and its
// length (0 for a null or empty text).
int32_t ReadCode(const char* character, uint16_t* code)
{
    *code = 0;
    return OrvaSjis::ReadChar(character, code);
}

// A glyph read from a file is kept only when its cell and widths are
// plausible: the draws do integer arithmetic on them.
bool PlausibleGlyph(const OfdGlyphRecord& g)
{
    const int32_t limit = OrvaFontSprite::kMaxGlyphExtent;
    return g.left >= 0 && g.top >= 0 && g.left <= g.right && g.top <= g.bottom && g.right <= limit &&
           g.bottom <= limit && g.b <= static_cast<uint32_t>(limit) && g.a >= -limit && g.a <= limit &&
           g.c >= -limit && g.c <= limit;
}

// The smallest power of two not below the value (at least 1), stopping
// once it passes the cap.
int64_t PowerOfTwoAbove(int64_t value, int64_t cap)
{
    int64_t edge = 1;
    while (edge < value && edge <= cap) {
        edge *= 2;
    }
    return edge;
}

}  // namespace

// ---------------------------------------------------------------------------
// Module

bool OrvaFontSprite::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize FontSprite\n");
    FontObjects().Init();
    return true;
}

void OrvaFontSprite::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy FontSprite\n");
    FontObjects().ReleaseAll();
}

OrvaObjectList& OrvaFontSprite::GetObjectList()
{
    return FontObjects();
}

int32_t OrvaFontSprite::GetCount()
{
    return FontObjects().GetCount();
}

int32_t OrvaFontSprite::GetCharIndex(uint16_t code)
{
    // Three bands of codes packed end to end; a code between the bands
    // shares a slot with one inside them, as the glyph files expect.
    if (code < 0x20 || code > 0xEAA2) {
        return -1;
    }
    if (code <= 0xFF) {
        return code - 0x20;
    }
    if (code <= 0x9FFD) {
        return code >= 0x8060 ? code - 0x8060 : -1;
    }
    return code >= 0xC0A1 ? code - 0xC0A1 : -1;
}

// ---------------------------------------------------------------------------
// Creation

OrvaFontSprite::OrvaFontSprite() = default;

OrvaFontSprite* OrvaFontSprite::Construct()
{
    OrvaFontSprite* f = new (std::nothrow) OrvaFontSprite();
    if (f == nullptr) {
        OrvaDebug::Log("エラー : フォントスプライトを作成するメモリが足りません\n");
        return nullptr;
    }
    FontObjects().PushBack(f);
    OrvaDebug::Log("○ CreateFontSprite  / ID [0x%08X] / ", Address(f));
    return f;
}

OrvaFontSprite* OrvaFontSprite::CreateFromBuffer(OrvaFontBuffer* buffer, int32_t capacity, bool alpha,
                                                 const char* face, int32_t fontSize, bool bold, OrvaProgress progress)
{
    OrvaFontSprite* f = Construct();
    if (f == nullptr) {
        return nullptr;
    }
    OrvaFont* font = nullptr;
    if (!f->Pack(buffer, alpha, face, fontSize, bold, progress, &font)) {
        if (font != nullptr) {
            font->Release();
        }
        return f;
    }
    f->Finish(capacity, progress, font);
    return f;
}

bool OrvaFontSprite::Pack(OrvaFontBuffer* buffer, bool alpha, const char* face, int32_t size, bool bold,
                          OrvaProgress progress, OrvaFont** fontOut)
{
    if (buffer == nullptr || buffer->GetLength() == 0) {
        OrvaDebug::Log("エラー : バッファが存在しません\n");
        return false;
    }
    // The size is the character height; a cell of no height cannot be
    // packed (and would divide by zero below).
    if (size <= 0 || size > kMaxFontSize) {
        OrvaDebug::Log("エラー : フォントサイズが正しくありません [%d]\n", size);
        return false;
    }
    const int64_t n = buffer->GetLength() / 2;
    const int64_t cell = static_cast<int64_t>(size) + 2;
    const int64_t side = (static_cast<int64_t>(std::sqrt(static_cast<double>(n))) + 1) * cell;
    const int64_t edge = PowerOfTwoAbove(side, kMaxSheetSize);
    sheetWidth = static_cast<int32_t>(std::min<int64_t>({edge, OrvaDevice::GetMaxTextureWidth(), kMaxSheetSize}));
    sheetHeight = static_cast<int32_t>(std::min<int64_t>({edge, OrvaDevice::GetMaxTextureHeight(), kMaxSheetSize}));
    OrvaDebug::Log("シートサイズ [%dx%d] / ", sheetWidth, sheetHeight);
    rowsPerSheet = cell > 0 ? static_cast<int32_t>(sheetHeight / cell) : 0;
    fontSize = size;
    if (cell > sheetWidth || cell > sheetHeight) {
        OrvaDebug::Log("エラー : フォントが大きすぎてシートに乗りません\n");
        return false;
    }
    const int32_t cellHeight = static_cast<int32_t>(cell);

    OrvaDebug::Log(" {\n");
    Step(progress);
    OrvaDebug::Log("\t");
    OrvaFont* font = OrvaFont::Create(face, size, false, bold, nullptr);
    *fontOut = font;
    if (font == nullptr || !font->IsValid()) {
        // Packing without a font would record empty glyphs for every
        // character: leave the font sprite without sheets instead.
        OrvaDebug::Log("エラー : フォントを作成できません\n");
        return true;
    }

    // The next free x of every row of every sheet, while packing only.
    std::vector<std::vector<int32_t>> rowPens;
    auto openSheet = [&]() -> bool {
        OrvaDebug::Log("\t");
        OrvaTexture* t = OrvaTexture::Create(sheetWidth, sheetHeight, alpha, nullptr);
        if (t == nullptr || t->IsValid() == 0) {
            OrvaDebug::Log("エラー : シートのテクスチャを作成できません [シート %d]\n", sheetCount);
            if (t != nullptr) {
                t->Release();
            }
            return false;
        }
        try {
            rowPens.emplace_back(static_cast<size_t>(rowsPerSheet), 0);
        } catch (const std::bad_alloc&) {
            t->Release();
            OrvaDebug::Log("エラー : フォントスプライトを作成するメモリが足りません\n");
            return false;
        }
        sheetTextures[sheetCount] = t;
        ++sheetCount;
        return font->SetTarget(kOrvaFontTargetTexture, t);
    };
    if (!openSheet()) {
        return true;
    }

    uint32_t position = 0;
    while (position < buffer->GetLength()) {
        uint16_t code = 0;
        const int32_t length = OrvaSjis::ReadChar(buffer->GetText(position), &code);
        // A zero byte inside the text is stepped over like any other byte.
        position += length > 0 ? static_cast<uint32_t>(length) : 1u;
        if (code == kSpace || code == kIdeographicSpace) {
            continue;
        }
        const int32_t slot = GetCharIndex(code);
        if (slot < 0) {
            Step(progress);
            continue;
        }
        int32_t a = 0;
        int32_t b = 0;
        int32_t c = 0;
        font->BeginDC();
        font->GetCharABC(code, &a, &b, &c);
        font->EndDC();
        const int64_t width = static_cast<int64_t>(b) + 2;
        // A glyph as wide as a sheet fits on no sheet, however empty.
        if (width >= sheetWidth) {
            OrvaDebug::Log("エラー : 文字がシートに乗りません [0x%04X / 幅 %d]\n", code, b);
            Step(progress);
            continue;
        }
        bool placed = false;
        int32_t row = 0;
        while (!placed) {
            const int32_t sheet = sheetCount - 1;
            int32_t& pen = rowPens[static_cast<size_t>(sheet)][static_cast<size_t>(row)];
            if (pen + width < sheetWidth) {
                const int32_t top = row * cellHeight;
                font->DrawChar(pen + 1, top + 1, 0xFFFFFFFFu, code);
                glyphs[slot] = {sheet, pen, top, pen + static_cast<int32_t>(width), top + cellHeight, a,
                                static_cast<uint32_t>(b), c};
                pen += static_cast<int32_t>(width);
                placed = true;
            }
            Step(progress);
            if (placed) {
                Step(progress);
                break;
            }
            if (++row < rowsPerSheet) {
                continue;
            }
            // Every row of the last sheet is full.
            if (sheetCount == kMaxSheets) {
                OrvaDebug::Log("エラー : シートが%d枚を超えるため残りの文字を作成しません\n", kMaxSheets);
                return true;
            }
            if (!openSheet()) {
                return true;
            }
            row = 0;
        }
    }
    return true;
}

OrvaFontSprite* OrvaFontSprite::CreateFromFile(const char* fileName, const char* packFile, bool alpha,
                                               int32_t capacity, OrvaProgress progress)
{
    OrvaFontSprite* f = Construct();
    if (f == nullptr) {
        return nullptr;
    }
    OrvaFontData data;
    const OrvaFontDataResult result = data.Load(fileName, packFile, alpha, progress);
    if (result == OrvaFontDataResult::Refused) {
        return f;
    }
    if (result == OrvaFontDataResult::Loaded) {
        if (data.fontSize < 0 || data.fontSize > kMaxFontSize) {
            OrvaDebug::Log("エラー : OFDファイルのフォントサイズが正しくありません [%d]\n", data.fontSize);
            return f;
        }
        f->fontSize = data.fontSize;
        f->sheetCount = std::clamp(data.sheetCount, 0, kMaxSheets);
        for (int32_t s = 0; s < f->sheetCount; ++s) {
            f->sheetTextures[s] = data.TakeSheetTexture(s);
        }
        // Cells that could not lie on a sheet are dropped rather than drawn.
        int32_t dropped = 0;
        const size_t slots = std::min<size_t>(data.glyphs.size(), static_cast<size_t>(kGlyphSlots));
        for (size_t slot = 0; slot < slots; ++slot) {
            const OfdGlyphRecord& g = data.glyphs[slot];
            if (g.sheet >= 0 && (g.sheet >= f->sheetCount || !PlausibleGlyph(g))) {
                ++dropped;
                continue;
            }
            f->glyphs[slot] = g;
        }
        if (dropped > 0) {
            OrvaDebug::Log("エラー : OFDファイルの文字の範囲が正しくないため %d 文字を除きました\n", dropped);
        }
    }
    f->Finish(capacity, progress, nullptr);
    return f;
}

void OrvaFontSprite::Finish(int32_t capacity, OrvaProgress progress, OrvaFont* font)
{
    for (int32_t s = 0; s < sheetCount; ++s) {
        OrvaDebug::Log("\t");
        OrvaTexture* t = sheetTextures[s];
        if (t != nullptr && t->IsValid() != 0) {
            t->Update();
        }
        sheetSprites[s] = OrvaSprite::Create(capacity, 2, kOrvaBlendNormal, nullptr);
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->SetTexture(t, 0);
        }
        Step(progress);
    }
    if (font != nullptr) {
        font->Release();
    }
    uint32_t total = 0;  // bytes
    for (int32_t s = 0; s < sheetCount; ++s) {
        if (sheetTextures[s] != nullptr) {
            total += sheetTextures[s]->GetMemorySize();
            sheetTextures[s]->Release();
            sheetTextures[s] = nullptr;
        }
        Step(progress);
    }
    OrvaDebug::Log("} シート数 %u / %u KB UseTexture / %u ByteUse / Complete!\n", static_cast<uint32_t>(sheetCount),
                   total / 1024u, static_cast<uint32_t>(sizeof(OrvaFontSprite)));
}

OrvaFontSprite::~OrvaFontSprite()
{
    OrvaDebug::Log("● ReleaseFontSprite  / ID [0x%08X]\n", Address(this));
    for (int32_t s = 0; s < kMaxSheets; ++s) {
        if (sheetTextures[s] != nullptr) {
            sheetTextures[s]->Release();
            sheetTextures[s] = nullptr;
        }
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->Release();
            sheetSprites[s] = nullptr;
        }
    }
    if (patternTexture != nullptr) {
        patternTexture->Release();
        patternTexture = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Lookups

OrvaSprite* OrvaFontSprite::GetSheetSprite(int32_t sheet) const
{
    return (sheet >= 0 && sheet < sheetCount) ? sheetSprites[sheet] : nullptr;
}

const OfdGlyphRecord* OrvaFontSprite::GetGlyph(int32_t slot) const
{
    return (slot >= 0 && slot < kGlyphSlots) ? &glyphs[slot] : nullptr;
}

bool OrvaFontSprite::ExportFontData(OrvaFontData* out) const
{
    if (out == nullptr) {
        return false;
    }
    out->Reset();
    try {
        out->glyphs.assign(glyphs, glyphs + kGlyphSlots);
    } catch (const std::bad_alloc&) {
        OrvaDebug::Log("エラー : フォントデータのメモリを確保できません\n");
        return false;
    }
    out->fontSize = fontSize;
    out->sheetCount = sheetCount;
    out->sheetWidth = sheetWidth;
    out->sheetHeight = sheetHeight;
    return true;
}

bool OrvaFontSprite::GetCharSize(const char* character, int32_t* a, int32_t* b, int32_t* c) const
{
    uint16_t code = 0;
    ReadCode(character, &code);
    const int32_t slot = GetCharIndex(code);
    if (slot < 0) {
        return false;
    }
    const OfdGlyphRecord& g = glyphs[slot];
    const bool hasGlyph = g.sheet >= 0;
    if (a != nullptr) {
        *a = hasGlyph ? g.a : 0;
    }
    if (b != nullptr) {
        *b = hasGlyph ? static_cast<int32_t>(g.b) : fontSize;
    }
    if (c != nullptr) {
        *c = hasGlyph ? g.c : 0;
    }
    return true;
}

void OrvaFontSprite::GetFontSize(int32_t* out) const
{
    if (out != nullptr) {
        *out = fontSize;
    }
}

const OfdGlyphRecord* OrvaFontSprite::DrawableGlyph(uint16_t code) const
{
    const int32_t slot = GetCharIndex(code);
    if (slot < 0) {
        return nullptr;
    }
    const OfdGlyphRecord& g = glyphs[slot];
    if (g.sheet < 0 || g.sheet >= sheetCount || sheetSprites[g.sheet] == nullptr) {
        return nullptr;
    }
    // A sheet whose image never loaded draws nothing (its batch would
    // otherwise fill every cell with the plain colour).
    if (sheetSprites[g.sheet]->GetTexture(0) == nullptr) {
        return nullptr;
    }
    return &g;
}

int32_t OrvaFontSprite::Sources(const OfdGlyphRecord& glyph, OrvaRect* src) const
{
    src[0] = {glyph.left, glyph.top, glyph.right, glyph.bottom};
    if (patternTexture == nullptr) {
        return 1;
    }
    src[1] = {0, 0, patternWidth, patternHeight};
    return 2;
}

// ---------------------------------------------------------------------------
// Drawing

void OrvaFontSprite::SetPatternTexture(OrvaTexture* texture)
{
    if (patternTexture != nullptr) {
        patternTexture->Release();
        patternTexture = nullptr;
    }
    const bool usable = texture != nullptr && texture->IsValid() != 0;
    if (usable) {
        patternTexture = texture;
        texture->AddRef();
        patternWidth = texture->GetWidth();
        patternHeight = texture->GetHeight();
    } else {
        patternWidth = 0;
        patternHeight = 0;
    }
    // Without a pattern the batches must not keep the old one on stage 1:
    // they bind every stage they were made with, so the old texture would
    // still be laid over the glyphs at stale coordinates.
    for (int32_t s = 0; s < sheetCount; ++s) {
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->SetTexture(usable ? texture : nullptr, 1);
        }
    }
}

void OrvaFontSprite::DrawText(const char* text, int32_t x, int32_t y, float depth, uint32_t colour)
{
    DrawTextPitch(text, x, y, depth, colour, false);
}

void OrvaFontSprite::DrawTextProportional(const char* text, int32_t x, int32_t y, float depth, uint32_t colour)
{
    DrawTextPitch(text, x, y, depth, colour, true);
}

void OrvaFontSprite::DrawTextPitch(const char* text, int32_t x, int32_t y, float depth, uint32_t colour,
                                   bool proportional)
{
    if (text == nullptr) {
        return;
    }
    int64_t penX = x;
    int64_t penY = y;
    for (const char* p = text;;) {
        uint16_t code = 0;
        const int32_t length = OrvaSjis::ReadChar(p, &code);
        if (length == 0) {
            break;
        }
        p += length;
        switch (code) {
        case kLineFeed:
            penY += fontSize;
            penX = x;
            continue;
        case kTab:
            penX += 4 * static_cast<int64_t>(fontSize);
            continue;
        case kBackspace:
            penX -= fontSize;
            continue;
        case kSpace:
            penX += fontSize / 2;
            continue;
        default:
            break;
        }
        const int32_t slot = GetCharIndex(code);
        if (slot < 0 || glyphs[slot].sheet < 0) {
            penX += fontSize;
            continue;
        }
        const OfdGlyphRecord& g = glyphs[slot];
        const OfdGlyphRecord* drawable = DrawableGlyph(code);
        const int64_t left = proportional ? penX : penX + g.a;
        const int64_t right = left + (g.right - g.left);
        const int64_t bottom = penY + (g.bottom - g.top);
        if (drawable != nullptr && Fits32(left) && Fits32(right) && Fits32(penY) && Fits32(bottom)) {
            OrvaRect src[2];
            const int32_t stages = Sources(g, src);
            const OrvaRect dst{static_cast<int32_t>(left), static_cast<int32_t>(penY), static_cast<int32_t>(right),
                               static_cast<int32_t>(bottom)};
            sheetSprites[g.sheet]->DrawRect(dst, depth, src, colour, stages);
        }
        penX += proportional ? static_cast<int64_t>(g.b) + 1 : fontSize;
    }
}

int32_t OrvaFontSprite::DrawChar(const char* character, const OrvaRect* destination, float depth, uint32_t colour)
{
    uint16_t code = 0;
    const int32_t length = ReadCode(character, &code);
    if (GetCharIndex(code) < 0) {
        return 0;
    }
    const OfdGlyphRecord* g = DrawableGlyph(code);
    if (g != nullptr && destination != nullptr) {
        OrvaRect src[2];
        const int32_t stages = Sources(*g, src);
        sheetSprites[g->sheet]->DrawRect(*destination, depth, src, colour, stages);
    }
    return length;
}

int32_t OrvaFontSprite::DrawCharRotate(const char* character, const OrvaRect* destination, float depth,
                                       uint32_t colour, int32_t angle, int32_t centreX, int32_t centreY)
{
    uint16_t code = 0;
    const int32_t length = ReadCode(character, &code);
    if (GetCharIndex(code) < 0) {
        return 0;
    }
    const OfdGlyphRecord* g = DrawableGlyph(code);
    if (g != nullptr && destination != nullptr) {
        OrvaRect src[2];
        const int32_t stages = Sources(*g, src);
        sheetSprites[g->sheet]->DrawRectRotate(*destination, depth, src, colour, angle, centreX, centreY, stages);
    }
    return length;
}

int32_t OrvaFontSprite::DrawCharRotate2(const char* character, const OrvaRect* destination, float depth,
                                        uint32_t colour, int32_t angle, int32_t centreX, int32_t centreY)
{
    return DrawCharRotate(character, destination, depth, colour, angle, centreX, centreY);
}

int32_t OrvaFontSprite::DrawCharQuad(const char* character, const OrvaPoint* corners, float depth, uint32_t colour)
{
    uint16_t code = 0;
    const int32_t length = ReadCode(character, &code);
    if (GetCharIndex(code) < 0) {
        return 0;
    }
    const OfdGlyphRecord* g = DrawableGlyph(code);
    if (g != nullptr && corners != nullptr) {
        OrvaRect src[2];
        const int32_t stages = Sources(*g, src);
        sheetSprites[g->sheet]->DrawQuad(corners, depth, src, colour, stages);
    }
    return length;
}

void OrvaFontSprite::Render()
{
    for (int32_t s = 0; s < sheetCount; ++s) {
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->Render();
        }
    }
}

void OrvaFontSprite::Clear()
{
    for (int32_t s = 0; s < sheetCount; ++s) {
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->Clear();
        }
    }
}

void OrvaFontSprite::SetClip(const OrvaRect* clip)
{
    for (int32_t s = 0; s < sheetCount; ++s) {
        if (sheetSprites[s] != nullptr) {
            sheetSprites[s]->SetClip(clip);
        }
    }
}

// ---------------------------------------------------------------------------
// Measuring

int32_t OrvaFontSprite::GetTextWidth(const char* text) const
{
    return TextWidth(text, false);
}

int32_t OrvaFontSprite::GetTextWidthProportional(const char* text) const
{
    return TextWidth(text, true);
}

int32_t OrvaFontSprite::TextWidth(const char* text, bool proportional) const
{
    int64_t widest = 0;
    int64_t width = 0;
    for (const char* p = text;;) {
        uint16_t code = 0;
        const int32_t length = OrvaSjis::ReadChar(p, &code);
        if (length == 0) {
            break;
        }
        p += length;
        switch (code) {
        case kLineFeed:
            widest = std::max(widest, width);
            width = 0;
            break;
        case kTab:
            width += 4 * static_cast<int64_t>(fontSize);
            break;
        case kBackspace:
            width -= fontSize;
            break;
        case kSpace:
            width += fontSize / 2;
            break;
        default: {
            const int32_t slot = GetCharIndex(code);
            if (proportional && slot >= 0 && glyphs[slot].sheet >= 0) {
                width += static_cast<int64_t>(glyphs[slot].b) + 1;
            } else {
                width += fontSize;
            }
            break;
        }
        }
    }
    return Clamp32(std::max(widest, width));
}
