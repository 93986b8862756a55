#include "engine/render/font_sprite.h"

#include "engine/core/debug.h"
#include "engine/core/object.h"

namespace {

OrvaObjectList g_fontObjects;

}  // namespace

bool OrvaFontSprite::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize FontSprite\n");
    g_fontObjects.Init();
    return true;
}

void OrvaFontSprite::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy FontSprite\n");
    g_fontObjects.ReleaseAll();
}

OrvaObjectList& OrvaFontSprite::GetObjectList()
{
    return g_fontObjects;
}

int32_t OrvaFontSprite::GetCount()
{
    return g_fontObjects.GetCount();
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
