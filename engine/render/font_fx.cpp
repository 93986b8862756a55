// Animated text: tag parsing, layout with wrapping, the three phase
// callbacks and drawing through a font sprite.
#include "engine/render/font_fx.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/sjis.h"
#include "engine/render/font_sprite.h"
#include "engine/render/sprite.h"

namespace {

constexpr auto& FontEffects = OrvaModuleList<OrvaModule::FontEffects>;

constexpr size_t kBlockBytes = 4096;

uint32_t Address(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

uint32_t FunctionAddress(OrvaFontFxCallback f)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(f));
}

int32_t Clamp32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Truncation toward zero that stays defined for any float a callback may
// leave behind (not a number gives 0, the far ends clamp).
int64_t Trunc(float v)
{
    if (std::isnan(v)) {
        return 0;
    }
    constexpr float kLimit = 4.0e18f;
    return static_cast<int64_t>(std::clamp(v, -kLimit, kLimit));
}

// The numbers of the data that a phase change and a reset zero.
void ZeroMotion(OrvaFontFxCharData* d)
{
    d->time = 0.0f;
    d->offsetX = 0.0f;
    d->offsetY = 0.0f;
    d->scaleX = 0.0f;
    d->scaleY = 0.0f;
    d->angle = 0;
    std::memset(d->user, 0, sizeof d->user);
}

bool ValidImage(int32_t number)
{
    return number >= 0 && number < OrvaFontFx::kImageRects;
}

}  // namespace

// ---------------------------------------------------------------------------
// Module

bool OrvaFontFx::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize FontFx\n");
    FontEffects().Init();
    return true;
}

void OrvaFontFx::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy FontFx\n");
    FontEffects().ReleaseAll();
}

int32_t OrvaFontFx::GetCount()
{
    return FontEffects().GetCount();
}

// ---------------------------------------------------------------------------
// Creation and release

OrvaFontFx::OrvaFontFx() = default;

OrvaFontFx* OrvaFontFx::Create(OrvaFontSprite* font, OrvaFontFxCallback phase0, OrvaFontFxCallback phase1,
                               OrvaFontFxCallback phase2)
{
    OrvaFontFx* fx = new (std::nothrow) OrvaFontFx();
    if (fx == nullptr) {
        OrvaDebug::Log("エラー : OrvaFontFx を作成するメモリが足りません\n");
        return nullptr;
    }
    FontEffects().PushBack(fx);
    fx->fontSprite = font;
    if (font != nullptr) {
        font->AddRef();
    }
    fx->phaseCallbacks[0] = phase0;
    fx->phaseCallbacks[1] = phase1;
    fx->phaseCallbacks[2] = phase2;
    OrvaDebug::Log(
        "○ Create OrvaFontFx / ID [0x%08X] / FunctionAddress [0x%08X] [0x%08X] [0x%08X] / UseMemory %dByte\n",
        Address(fx), FunctionAddress(phase0), FunctionAddress(phase1), FunctionAddress(phase2),
        static_cast<int32_t>(sizeof(OrvaFontFx)));
    if (font == nullptr) {
        OrvaDebug::Log("エラー : OrvaFontFx にフォントスプライトがありません / ID [0x%08X]\n", Address(fx));
    }
    return fx;
}

OrvaFontFx::~OrvaFontFx()
{
    if (imageSprite != nullptr) {
        imageSprite->Release();
        imageSprite = nullptr;
    }
    if (fontSprite != nullptr) {
        fontSprite->Release();
        fontSprite = nullptr;
    }
    text.reset();
    chars.ReleaseAll();
    OrvaDebug::Log("● Release OrvaFontFx / ID [0x%08X]\n", Address(this));
}

int32_t OrvaFontFx::Reserved(uint32_t, uint32_t, uint32_t)
{
    return 0;
}

OrvaFontFxChar* OrvaFontFx::GetChar(int32_t index) const
{
    return static_cast<OrvaFontFxChar*>(chars.GetAt(index));
}

// ---------------------------------------------------------------------------
// Text and layout

void OrvaFontFx::Clear()
{
    text.reset();
    chars.ReleaseAll();
}

void OrvaFontFx::SetString(const char* newText, const OrvaRect* area)
{
    Clear();
    if (newText != nullptr) {
        const size_t length = std::strlen(newText);
        const size_t bytes = (length + 1 + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
        text.reset(new (std::nothrow) char[bytes]);
        if (text == nullptr) {
            OrvaDebug::Log("エラー : OrvaFontFx の文字列を確保できません [%zu バイト]\n", length);
        } else {
            std::memcpy(text.get(), newText, length + 1);
            Layout(text.get(), area);
        }
    }
    const int32_t count = chars.GetCount();
    OrvaDebug::Log("○ OrvaFontFx [SetString] : CharCount %d / %.3lf KByteUse\n", count,
                   static_cast<double>(static_cast<size_t>(count) * sizeof(OrvaFontFxChar)) / 1024.0);
}

OrvaFontFxChar* OrvaFontFx::NewChar()
{
    OrvaFontFxChar* ch = new (std::nothrow) OrvaFontFxChar();
    if (ch == nullptr) {
        OrvaDebug::Log("エラー : OrvaFontFx の文字を作成するメモリが足りません\n");
        return nullptr;
    }
    chars.PushBack(ch);
    return ch;
}

bool OrvaFontFx::PlaceText(const char* twoBytes, const OrvaRect& area, int32_t lineHeight, int64_t* penX,
                           int64_t* penY)
{
    OrvaFontFxChar* ch = NewChar();
    if (ch == nullptr) {
        return false;
    }
    *penX += InitChar(ch, twoBytes, Clamp32(*penX), Clamp32(*penY), lineHeight) + static_cast<int64_t>(charSpacing);
    if (*penX < area.right) {
        return true;
    }
    *penY += static_cast<int64_t>(lineSpacing) + lineHeight;
    *penX = area.left;
    // Below the area the text ends; the character stays at the end of the
    // line it overran.
    if (*penY >= area.bottom) {
        return false;
    }
    *penX += InitChar(ch, twoBytes, Clamp32(*penX), Clamp32(*penY), lineHeight) + static_cast<int64_t>(charSpacing);
    return true;
}

void OrvaFontFx::PlacePicture(int32_t number, const OrvaRect& area, int32_t lineHeight, int64_t* penX,
                              int64_t* penY)
{
    OrvaFontFxChar* ch = NewChar();
    if (ch == nullptr) {
        return;
    }
    *penX += InitImageChar(ch, number, Clamp32(*penX), Clamp32(*penY), lineHeight) +
             static_cast<int64_t>(charSpacing);
    if (*penX < area.right) {
        return;
    }
    *penY += static_cast<int64_t>(lineSpacing) + lineHeight;
    *penX = area.left;
    // A picture below the area keeps its place and the text goes on.
    if (*penY >= area.bottom) {
        return;
    }
    *penX += InitImageChar(ch, number, Clamp32(*penX), Clamp32(*penY), lineHeight) +
             static_cast<int64_t>(charSpacing);
}

void OrvaFontFx::Layout(const char* source, const OrvaRect* area)
{
    if (source == nullptr || fontSprite == nullptr) {
        return;
    }
    OrvaRect box;
    if (area != nullptr) {
        box = *area;
    } else {
        int32_t width = 0;
        int32_t height = 0;
        OrvaApplication::GetScreenSize(&width, &height);
        box = {0, 0, width, height};
    }
    int32_t lineHeight = 0;
    fontSprite->GetFontSize(&lineHeight);
    int64_t penX = box.left;
    int64_t penY = box.top;

    const char* p = source;
    while (*p != '\0') {
        const uint8_t byte = static_cast<uint8_t>(*p);
        if (OrvaSjis::IsLeadByte(byte)) {
            // A lead byte that ends the text has no character to finish.
            if (p[1] == '\0') {
                break;
            }
            if (!PlaceText(p, box, lineHeight, &penX, &penY)) {
                break;
            }
            p += 2;
        } else if (*p == '[') {
            // The tag runs to the next "]", or to the end of the text when
            // none follows; only its first bytes are kept.
            char tag[kTagBytes] = {};
            const int32_t used = OrvaSjis::GetBetween('[', ']', p, tag, sizeof tag);
            p += used > 0 ? used : 1;
            int32_t number = 0;
            if (tag[0] != '\0' && tag[1] != '\0') {
                OrvaSjis::ParseNumber(tag + 2, &number);
            }
            switch (tag[0]) {
            case 'n':
                penX = box.left;
                penY += static_cast<int64_t>(lineHeight) + 2;
                break;
            case 't':
                if (ValidImage(number)) {
                    PlacePicture(number, box, lineHeight, &penX, &penY);
                } else {
                    OrvaDebug::Log("エラー : OrvaFontFx の画像番号が範囲外です [%d]\n", number);
                }
                break;
            case 'x':
                penX += number;
                break;
            case 'y':
                penY += number;
                break;
            default:
                break;
            }
        } else {
            char full[3] = {};
            const int32_t used = OrvaSjis::HalfToFullChar(p, full);
            if (!PlaceText(full, box, lineHeight, &penX, &penY)) {
                break;
            }
            p += used > 0 ? used : 1;
        }
    }
}

int32_t OrvaFontFx::InitChar(OrvaFontFxChar* character, const char* twoBytes, int32_t x, int32_t y,
                             int32_t lineHeight)
{
    if (character == nullptr || twoBytes == nullptr) {
        return 0;
    }
    character->phaseStart = 0.0f;
    character->phase = 0;
    character->x = x;
    character->y = y;
    character->image = -1;
    character->height = lineHeight;
    // A code the font has no slot for still takes the place of a glyphless
    // character: a line height wide.
    int32_t a = 0;
    int32_t b = lineHeight;
    int32_t c = 0;
    if (fontSprite != nullptr) {
        fontSprite->GetCharSize(twoBytes, &a, &b, &c);
    }
    character->a = a;
    character->b = b;
    character->c = c;
    character->kind = OrvaFontFxChar::kText;
    character->data = OrvaFontFxCharData{};
    character->data.colour = 0xFFFFFFFFu;
    character->data.text[0] = twoBytes[0];
    character->data.text[1] = twoBytes[0] != '\0' ? twoBytes[1] : '\0';
    character->data.text[2] = '\0';
    return Clamp32(static_cast<int64_t>(a) + b + c);
}

int32_t OrvaFontFx::InitImageChar(OrvaFontFxChar* character, int32_t number, int32_t x, int32_t y,
                                  int32_t lineHeight)
{
    if (character == nullptr) {
        return 0;
    }
    // Only sixteen rectangles exist: another number gives an empty picture.
    const OrvaRect r = ValidImage(number) ? imageRects[number] : OrvaRect{};
    const int64_t height = static_cast<int64_t>(r.bottom) - r.top;
    const int64_t width = static_cast<int64_t>(r.right) - r.left;
    character->image = ValidImage(number) ? number : -1;
    character->phase = 0;
    character->phaseStart = 0.0f;
    character->x = x;
    character->y = Clamp32(y + (static_cast<int64_t>(lineHeight) - height) / 2);
    character->height = Clamp32(height);
    character->a = 0;
    character->b = Clamp32(width);
    character->c = 0;
    character->kind = OrvaFontFxChar::kPicture;
    character->data = OrvaFontFxCharData{};
    character->data.colour = 0xFFFFFFFFu;
    return character->b;
}

// ---------------------------------------------------------------------------
// Settings

void OrvaFontFx::SetDelay(float value)
{
    delay = value;
}

void OrvaFontFx::SetTime(float value)
{
    time = value;
}

void OrvaFontFx::SetCharSpacing(int32_t pixels)
{
    charSpacing = pixels;
}

void OrvaFontFx::SetLineSpacing(int32_t pixels)
{
    lineSpacing = pixels;
}

void OrvaFontFx::SetImageTexture(OrvaTexture* texture)
{
    if (imageSprite != nullptr) {
        imageSprite->Release();
        imageSprite = nullptr;
    }
    imageSprite = OrvaSprite::Create(kImageQuads, 1, kOrvaBlendNormal, nullptr);
    if (imageSprite != nullptr) {
        imageSprite->SetTexture(texture, 0);
    }
}

void OrvaFontFx::SetImageRect(int32_t number, const OrvaRect* rect)
{
    if (!ValidImage(number) || rect == nullptr) {
        OrvaDebug::Log("エラー : OrvaFontFx の画像番号が範囲外です [%d]\n", number);
        return;
    }
    imageRects[number] = *rect;
}

void OrvaFontFx::SetClip(const OrvaRect* clip)
{
    if (fontSprite != nullptr) {
        fontSprite->SetClip(clip);
    }
    if (imageSprite != nullptr) {
        imageSprite->SetClip(clip);
    }
}

// ---------------------------------------------------------------------------
// Animation

void OrvaFontFx::Update()
{
    float t = time;
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext(), t -= delay) {
        OrvaFontFxChar* ch = static_cast<OrvaFontFxChar*>(o);
        // A negative clock: the character has not started yet.
        if (ch->phase >= OrvaFontFxChar::kFinished || t < 0.0f) {
            continue;
        }
        ch->data.time = t - ch->phaseStart;
        const OrvaFontFxCallback callback = phaseCallbacks[ch->phase];
        if (callback == nullptr || callback(&ch->data) != 0) {
            ++ch->phase;
            ch->phaseStart = t;
        }
    }
}

bool OrvaFontFx::IsAllInPhase(uint32_t phase) const
{
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext()) {
        if (static_cast<OrvaFontFxChar*>(o)->phase != phase) {
            return false;
        }
    }
    return true;
}

void OrvaFontFx::AdvancePhase(uint32_t phase)
{
    if (phase >= OrvaFontFxChar::kFinished) {
        return;
    }
    float t = time;
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext(), t -= delay) {
        OrvaFontFxChar* ch = static_cast<OrvaFontFxChar*>(o);
        if (ch->phase == phase) {
            ch->data.time = t - ch->phaseStart;
            ch->phase = phase + 1;
            ch->phaseStart = t;
        }
    }
}

void OrvaFontFx::StartAll(OrvaFontFxCallback function)
{
    float t = time;
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext(), t -= delay) {
        OrvaFontFxChar* ch = static_cast<OrvaFontFxChar*>(o);
        if (ch->phase != 0) {
            continue;
        }
        ch->data.time = t - ch->phaseStart;
        if (function != nullptr) {
            function(&ch->data);
        }
        ch->phase = 1;
        ch->phaseStart = t;
    }
}

bool OrvaFontFx::Reset()
{
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext()) {
        OrvaFontFxChar* ch = static_cast<OrvaFontFxChar*>(o);
        ch->phase = 0;
        ch->phaseStart = 0.0f;
        ZeroMotion(&ch->data);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Drawing

void OrvaFontFx::Draw()
{
    if (fontSprite != nullptr) {
        fontSprite->Clear();
    }
    if (imageSprite != nullptr) {
        imageSprite->Clear();
    }
    float depth = kFirstDepth;
    for (OrvaObject* o = chars.GetHead(); o != nullptr; o = o->GetNext(), depth -= kDepthStep) {
        OrvaFontFxChar* ch = static_cast<OrvaFontFxChar*>(o);
        if (ch->phase >= OrvaFontFxChar::kFinished) {
            continue;
        }
        const OrvaFontFxCharData& d = ch->data;
        // The box about the pen, scaled about its centre.
        const int64_t dx = Trunc(d.offsetX);
        const int64_t dy = Trunc(d.offsetY);
        const int64_t cx = dx + ch->b / 2;
        const int64_t cy = dy + ch->height / 2;
        const auto scaled = [](int64_t centre, int64_t edge, float scale) {
            return Trunc(static_cast<float>(centre) + static_cast<float>(edge - centre) * scale);
        };
        const OrvaRect rect{Clamp32(ch->x + scaled(cx, dx, d.scaleX)), Clamp32(ch->y + scaled(cy, dy, d.scaleY)),
                            Clamp32(ch->x + scaled(cx, dx + ch->b, d.scaleX)),
                            Clamp32(ch->y + scaled(cy, dy + ch->height, d.scaleY))};
        const int32_t angle = static_cast<int32_t>(d.angle);
        if (ch->kind == OrvaFontFxChar::kText) {
            if (fontSprite != nullptr) {
                fontSprite->DrawCharRotate(d.text, &rect, depth, d.colour, angle, ch->b / 2, ch->height / 2);
            }
        } else if (imageSprite != nullptr && ValidImage(ch->image)) {
            imageSprite->DrawRectRotate(rect, depth, &imageRects[ch->image], d.colour, angle, ch->b / 2,
                                        ch->height / 2, 1);
        }
    }
}

void OrvaFontFx::Render()
{
    if (fontSprite != nullptr) {
        fontSprite->Render();
    }
    if (imageSprite != nullptr) {
        imageSprite->Render();
    }
}
