#pragma once
// Animated text: a Shift-JIS text with inline tags turned into one object
// per character, laid out in a rectangle with wrapping at its right edge,
// each character animated on its own through three phases whose behaviour
// the user supplies as callbacks. Each character's clock runs a fixed delay
// behind the previous one's. Text characters are drawn as glyphs of a font
// sprite; a picture tag places a rectangle of one image texture, drawn
// through a sprite batch of the object's own.
//
// Tags, written in square brackets: [n] a line break (down the line height
// + 2 pixels); [t:N] picture rectangle N (0 to 15); [x:N] and [y:N] move the
// pen N pixels. A tag's number is read from its third byte on.
//
// Device loss is handled by the font sprite's and the picture batch's own
// modules. Main thread only; the callbacks run inside Update and StartAll.
#include <cstdint>
#include <memory>

#include "engine/core/graphics.h"
#include "engine/core/object.h"

class OrvaFontSprite;
class OrvaSprite;
class OrvaTexture;

// What a character's callbacks see and change.
struct OrvaFontFxCharData {
    float time = 0.0f;      // the character's time since it entered its phase
    float offsetX = 0.0f;   // pixels from the pen position
    float offsetY = 0.0f;   // pixels from the pen position
    float scaleX = 0.0f;    // about the box's centre; 0 until a callback sets it
    float scaleY = 0.0f;
    uint32_t angle = 0;     // 65,536 a full turn, about the box's centre
    uint32_t colour = 0xFFFFFFFFu;  // ARGB
    char text[4] = {};      // the character's two Shift-JIS bytes and a zero
    uint8_t user[64] = {};  // the callbacks' own
};

// Returns non-zero when the character's current phase is over.
using OrvaFontFxCallback = int32_t (*)(OrvaFontFxCharData* data);

// One laid-out character.
class OrvaFontFxChar : public OrvaObject {
public:
    static constexpr uint32_t kText = 0;
    static constexpr uint32_t kPicture = 1;
    static constexpr uint32_t kFinished = 3;

    OrvaFontFxChar() = default;

    uint32_t kind = kText;
    OrvaFontFxCharData data;
    uint32_t phase = 0;       // 0, 1, 2, or 3 = finished
    float phaseStart = 0.0f;  // the character's time when it entered its phase
    int32_t x = 0;            // pen position, pixels
    int32_t y = 0;
    int32_t image = -1;       // picture rectangle number; -1 for text
    int32_t height = 0;       // line height for text, rectangle height for a picture
    int32_t a = 0;            // glyph widths, pixels (0, rectangle width, 0 for a picture)
    int32_t b = 0;
    int32_t c = 0;
};

class OrvaFontFx : public OrvaObject {
public:
    static constexpr int32_t kImageRects = 16;
    static constexpr int32_t kImageQuads = 256;
    static constexpr int32_t kPhases = 3;
    static constexpr float kFirstDepth = 65535.0f;
    static constexpr float kDepthStep = 3.0f;
    // Bytes of a tag's text kept (the rest of a longer tag is skipped).
    static constexpr int32_t kTagBytes = 64;

    // ---- module
    static bool Initialize();
    static void Destroy();
    static int32_t GetCount();

    // ---- creation: null only when the object cannot be made. The font
    // sprite is held with a reference; a null callback ends its phase at
    // once.
    static OrvaFontFx* Create(OrvaFontSprite* font, OrvaFontFxCallback phase0, OrvaFontFxCallback phase1,
                              OrvaFontFxCallback phase2);

    // ---- methods
    virtual int32_t Reserved(uint32_t, uint32_t, uint32_t);
    // Drops the text and every character.
    virtual void Clear();
    // Lays the text out in the area (the whole screen when null), appending
    // characters.
    virtual void Layout(const char* text, const OrvaRect* area);
    // Sets a character up as text (two bytes) at the pen; returns A + B + C.
    virtual int32_t InitChar(OrvaFontFxChar* character, const char* twoBytes, int32_t x, int32_t y,
                             int32_t lineHeight);
    // Sets a character up as picture rectangle `number`, centred on the
    // line; returns the rectangle's width.
    virtual int32_t InitImageChar(OrvaFontFxChar* character, int32_t number, int32_t x, int32_t y,
                                  int32_t lineHeight);
    virtual void SetDelay(float delay);
    virtual void SetTime(float time);
    // Replaces the characters with those of the text laid out in the area.
    virtual void SetString(const char* text, const OrvaRect* area);
    // A new picture batch (256 quads, one stage, Normal blend) with the
    // texture on its stage.
    virtual void SetImageTexture(OrvaTexture* texture);
    // Picture rectangle 0 to 15, in texels.
    virtual void SetImageRect(int32_t number, const OrvaRect* rect);
    // Runs each started, unfinished character's phase callback.
    virtual void Update();
    // Queues every unfinished character.
    virtual void Draw();
    virtual void Render();
    // True when every character is in the phase (also when there are none).
    virtual bool IsAllInPhase(uint32_t phase) const;
    // Moves every character in the phase (0 to 2) on to the next.
    virtual void AdvancePhase(uint32_t phase);
    virtual void SetCharSpacing(int32_t pixels);
    virtual void SetLineSpacing(int32_t pixels);
    // Calls the function for every character in phase 0 and moves it to
    // phase 1.
    virtual void StartAll(OrvaFontFxCallback function);
    // Every character back to phase 0 with its motion zeroed (colour and
    // text kept).
    virtual bool Reset();
    virtual void SetClip(const OrvaRect* clip);

    // ---- inspection
    int32_t GetCharCount() const { return chars.GetCount(); }
    // The character at a 0-based position in text order, or null.
    OrvaFontFxChar* GetChar(int32_t index) const;
    OrvaSprite* GetImageSprite() const { return imageSprite; }
    OrvaFontSprite* GetFontSprite() const { return fontSprite; }
    float GetTime() const { return time; }
    float GetDelay() const { return delay; }

    ~OrvaFontFx() override;

private:
    OrvaFontFx();
    // A new character linked at the tail of the list, or null.
    OrvaFontFxChar* NewChar();
    // Lays out one text character at the pen; false when the layout ends.
    bool PlaceText(const char* twoBytes, const OrvaRect& area, int32_t lineHeight, int64_t* penX, int64_t* penY);
    void PlacePicture(int32_t number, const OrvaRect& area, int32_t lineHeight, int64_t* penX, int64_t* penY);

    OrvaFontFxCallback phaseCallbacks[kPhases] = {};
    OrvaFontSprite* fontSprite = nullptr;  // held
    OrvaSprite* imageSprite = nullptr;     // held; null until SetImageTexture
    OrvaRect imageRects[kImageRects] = {};  // texels
    std::unique_ptr<char[]> text;          // the last text given, zero-terminated
    float time = 0.0f;                     // the first character's time
    float delay = 0.0f;                    // how far each character runs behind the previous
    int32_t charSpacing = 0;               // pixels after every character
    int32_t lineSpacing = 0;               // pixels between wrapped lines
    OrvaObjectList chars;                  // OrvaFontFxChar in text order
};
