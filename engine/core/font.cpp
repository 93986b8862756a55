// GDI fonts: glyphs rendered through the platform's font and drawn
// character by character into a locked target with 17 alpha levels.
#include "engine/core/font.h"

#include <new>
#include <string>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "platform/gfx/soft_device.h"
#include "platform/text/codepage.h"
#include "platform/text/font.h"

namespace {

constexpr auto& Fonts = OrvaModuleList<OrvaModule::GdiFont>;

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

bool HasAlpha(uint32_t format) {
    return format == platform::FormatA8R8G8B8 || format == platform::FormatA1R5G5B5 ||
           format == platform::FormatA4R4G4B4;
}

// Source-over of a colour at coverage alpha `a` (0 to 255) on one pixel.
// A target without alpha counts as opaque.
uint32_t Blend(uint32_t dst, uint32_t colour, uint32_t a, bool targetAlpha) {
    const uint32_t da = targetAlpha ? dst >> 24 : 255;
    const uint32_t keep = da * (255 - a);  // destination weight x 255
    const uint32_t outA255 = a * 255 + keep;
    if (outA255 == 0) {
        return dst;
    }
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t s = (colour >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        const uint32_t v = (s * a * 255 + d * keep + outA255 / 2) / outA255;
        out |= v << shift;
    }
    return out | (((outA255 + 127) / 255) << 24);
}

}  // namespace

OrvaFont::OrvaFont() { Fonts().PushFront(this); }

OrvaFont::~OrvaFont() {
    ReleaseTarget();
    OrvaDebug::Log("● ReleaseGdiFont / ID [0x%08X]\n", Address(this));
}

void OrvaFont::Initialize() {
    OrvaDebug::Log("\n============================================== Initialize GdiFont\n");
    Fonts().Init();
}

void OrvaFont::Destroy() {
    OrvaDebug::Log("\n============================================== Destroy GdiFont\n");
    Fonts().ReleaseAll();
}

int32_t OrvaFont::GetCount() { return Fonts().GetCount(); }

OrvaFont* OrvaFont::Create(const char* face, int32_t height, bool italic, bool bold, OrvaProgress progress) {
    OrvaFont* f = new (std::nothrow) OrvaFont();
    if (f == nullptr) {
        OrvaDebug::Log("エラー : フォントのメモリを確保できません\n");
        return nullptr;
    }
    const std::string faceUtf8 = platform::Cp932ToUtf8(face);
    OrvaDebug::Log("○ CreateGdiFont / ID [0x%08X] / [%s] / Size %d / ", Address(f), faceUtf8.c_str(), height);
    std::string error;
    f->font = platform::Font::Open(faceUtf8.c_str(), height, italic, bold, &error);
    if (f->font) {
        OrvaDebug::Log("Complete!\n");
    } else {
        OrvaDebug::Log("エラー : フォントが作れません [%s]\n", error.c_str());
    }
    if (progress != nullptr) {
        progress(1);
    }
    return f;
}

void OrvaFont::ReleaseTarget() {
    if (target != nullptr) {
        target->Release();
        target = nullptr;
    }
    targetKind = kOrvaFontTargetBackBuffer;
}

bool OrvaFont::SetTarget(int32_t kind, OrvaObject* newTarget) {
    // Hold the new one before letting the old go: they may be the same.
    if (kind == kOrvaFontTargetTexture || kind == kOrvaFontTargetSurface) {
        const bool matches = kind == kOrvaFontTargetTexture ? dynamic_cast<OrvaTexture*>(newTarget) != nullptr
                                                            : dynamic_cast<OrvaSurface*>(newTarget) != nullptr;
        if (!matches) {
            OrvaDebug::Log("エラー : フォントの描画先 [%d] が正しくありません\n", kind);
            ReleaseTarget();
            return false;
        }
        newTarget->AddRef();
        ReleaseTarget();
        target = newTarget;
        targetKind = kind;
        return true;
    }
    ReleaseTarget();
    if (kind != kOrvaFontTargetBackBuffer) {
        OrvaDebug::Log("エラー : フォントの描画先 [%d] が正しくありません\n", kind);
        return false;
    }
    return true;
}

bool OrvaFont::BeginDC() {
    if (!font) {
        return false;
    }
    inDC = true;
    return true;
}

void OrvaFont::EndDC() { inDC = false; }

int32_t OrvaFont::GetAscent() const { return font ? font->GetMetrics().ascent : 0; }
int32_t OrvaFont::GetHeight() const { return font ? font->GetMetrics().height : 0; }

uint32_t OrvaFont::GetCharABC(uint16_t code, int32_t* a, int32_t* b, int32_t* c) {
    int32_t widths[3] = {0, 0, 0};
    uint32_t blackBox = 0;
    if (!font || !inDC) {
        OrvaDebug::Log("エラー : GetCharABC は BeginDC の後で呼んでください\n");
    } else {
        platform::AbcWidths abc;
        platform::GlyphBitmap glyph;
        if (font->GetAbcWidths(code, &abc) && font->GetGlyph(code, &glyph)) {
            blackBox = uint32_t(glyph.width);
            widths[0] = abc.a;
            widths[1] = abc.b < glyph.width ? glyph.width : abc.b;
            widths[2] = abc.c;
        }
    }
    if (a) *a = widths[0];
    if (b) *b = widths[1];
    if (c) *c = widths[2];
    return blackBox;
}

void OrvaFont::DrawChar(int32_t x, int32_t y, uint32_t colour, uint16_t code) {
    if (!font || code == 0x08 || code == 0x09 || code == 0x0A || code == 0x20 || code == 0x8140) {
        return;
    }
    platform::GlyphBitmap glyph;
    if (!font->GetGlyph(code, &glyph) || glyph.width == 0) {
        return;
    }
    // Lock the target.
    void* bits = nullptr;
    int32_t pitch = 0;
    int32_t width = 0, height = 0;
    uint32_t format = 0;
    platform::SoftSurface* backBuffer = nullptr;
    if (targetKind == kOrvaFontTargetTexture) {
        OrvaTexture* t = static_cast<OrvaTexture*>(target);
        if (t == nullptr || !t->Lock(&bits, &pitch)) {
            return;
        }
        width = t->GetWidth();
        height = t->GetHeight();
        format = t->GetFormat();
    } else if (targetKind == kOrvaFontTargetSurface) {
        OrvaSurface* s = static_cast<OrvaSurface*>(target);
        if (s == nullptr || !s->Lock(&bits, &pitch)) {
            return;
        }
        width = s->GetWidth();
        height = s->GetHeight();
        format = s->GetFormat();
    } else {
        platform::SoftDevice* device = OrvaDevice::GetDevice();
        backBuffer = device ? device->GetBackBuffer() : nullptr;
        platform::LockedRect locked;
        if (backBuffer == nullptr || backBuffer->LockRect(&locked, nullptr, 0) != platform::kGfxOk) {
            return;
        }
        bits = locked.bits;
        pitch = locked.pitch;
        width = backBuffer->GetWidth();
        height = backBuffer->GetHeight();
        format = backBuffer->GetFormat();
    }

    const int bytes = platform::FormatBytes(format);
    if (bits != nullptr && bytes != 0) {
        const bool targetAlpha = HasAlpha(format);
        const uint32_t colourAlpha = colour >> 24;
        // The cell's top is at y; the black box's top sits ascent - originY below it.
        const int32_t left = x;
        const int32_t top = y + font->GetMetrics().ascent - glyph.originY;
        for (int32_t gy = 0; gy < glyph.height; ++gy) {
            const int32_t py = top + gy;
            if (py < 0 || py >= height) {
                continue;
            }
            uint8_t* row = static_cast<uint8_t*>(bits) + size_t(py) * size_t(pitch);
            for (int32_t gx = 0; gx < glyph.width; ++gx) {
                const int32_t px = left + gx;
                const uint32_t level = glyph.coverage[size_t(gy) * size_t(glyph.width) + size_t(gx)];
                if (px < 0 || px >= width || level == 0) {
                    continue;
                }
                const uint32_t a = (level * colourAlpha + 8) / 16;
                uint8_t* pixel = row + size_t(px) * size_t(bytes);
                const uint32_t dst = platform::FormatToArgb(format, pixel);
                platform::ArgbToFormat(format, Blend(dst, colour, a, targetAlpha), pixel);
            }
        }
    }

    if (targetKind == kOrvaFontTargetTexture) {
        static_cast<OrvaTexture*>(target)->Unlock();
    } else if (targetKind == kOrvaFontTargetSurface) {
        static_cast<OrvaSurface*>(target)->Unlock();
    } else {
        backBuffer->UnlockRect();
    }
}
