// The message box the window library draws itself, with the engine's fonts.
#include "platform/window/message_box.h"

#include "platform/sys/printable.h"
#include "platform/text/codepage.h"
#include "platform/text/font.h"
#include "platform/window/window.h"

#include <algorithm>
#include <memory>

namespace platform {

namespace {

// The look of a box of the engine's day: white text area, grey button strip.
constexpr int kFontHeight = -14;  // pixels of character height
constexpr int kMargin = 16;
constexpr int kMaxTextWidth = 480;
constexpr int kMinWidth = 240;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr int kStripPadding = 12;
constexpr uint32_t kPaper = 0xFFFFFFFF;
constexpr uint32_t kStrip = 0xFFF0F0F0;
constexpr uint32_t kInk = 0xFF000000;
constexpr uint32_t kButtonFace = 0xFFE1E1E1;
constexpr uint32_t kButtonEdge = 0xFFADADAD;
constexpr uint32_t kFocusEdge = 0xFF0078D7;
constexpr uint16_t kSpace = 0x20;
constexpr uint16_t kUnknown = '?';

struct Char {
    uint16_t code = 0;  // Shift-JIS, as the font takes it
    int advance = 0;    // pixels
};
using Line = std::vector<Char>;

int LineWidth(const Line& line)
{
    int width = 0;
    for (const Char& c : line) {
        width += c.advance;
    }
    return width;
}

// The text as lines of the font's codes, broken at '\n' and, past the
// widest line a box may have, after the last space or else between two
// characters (Japanese has no spaces).
std::vector<Line> LayOut(Font& font, const std::string& text)
{
    std::vector<Line> lines(1);
    uint32_t point = 0;
    for (size_t at = 0; at < text.size();) {
        size_t length = ReadUtf8Char(text, at, &point);
        if (length == 0) {
            length = 1;
            point = kUnknown;
        }
        at += length;
        if (point == '\n') {
            lines.emplace_back();
            continue;
        }
        if (point == '\r') {
            continue;
        }
        uint16_t code = point == '\t' ? kSpace : UnicodeToCp932(point);
        if (code == 0 || code < kSpace || code == 0x7F) {
            code = kUnknown;
        }
        GlyphBitmap glyph;
        const Char c = {code, font.GetGlyph(code, &glyph) ? glyph.advance : 0};
        Line& line = lines.back();
        if (!line.empty() && LineWidth(line) + c.advance > kMaxTextWidth) {
            Line rest;
            const auto space = std::find_if(line.rbegin(), line.rend(), [](const Char& x) { return x.code == kSpace; });
            if (space != line.rend() && space != line.rend() - 1) {
                rest.assign(space.base(), line.end());
                line.erase(space.base(), line.end());
            }
            lines.push_back(std::move(rest));
        }
        lines.back().push_back(c);
    }
    return lines;
}

void FillRect(MessageBoxPicture* picture, int x, int y, int width, int height, uint32_t colour)
{
    for (int row = std::max(y, 0); row < std::min(y + height, picture->height); ++row) {
        for (int col = std::max(x, 0); col < std::min(x + width, picture->width); ++col) {
            picture->pixels[size_t(row) * size_t(picture->width) + size_t(col)] = colour;
        }
    }
}

// Ink over what is there, by the glyph's 17 coverage levels.
void DrawLine(Font& font, const Line& line, int x, int baseline, MessageBoxPicture* picture)
{
    for (const Char& c : line) {
        GlyphBitmap glyph;
        if (font.GetGlyph(c.code, &glyph)) {
            for (int gy = 0; gy < glyph.height; ++gy) {
                const int py = baseline - glyph.originY + gy;
                for (int gx = 0; gx < glyph.width; ++gx) {
                    const int px = x + glyph.originX + gx;
                    const uint32_t level = glyph.coverage[size_t(gy) * size_t(glyph.width) + size_t(gx)];
                    if (level == 0 || px < 0 || py < 0 || px >= picture->width || py >= picture->height) {
                        continue;
                    }
                    uint32_t& pixel = picture->pixels[size_t(py) * size_t(picture->width) + size_t(px)];
                    uint32_t blended = 0xFF000000;
                    for (int shift = 0; shift < 24; shift += 8) {
                        const uint32_t under = (pixel >> shift) & 0xFF;
                        const uint32_t ink = (kInk >> shift) & 0xFF;
                        blended |= ((under * (16 - level) + ink * level) / 16) << shift;
                    }
                    pixel = blended;
                }
            }
        }
        x += c.advance;
    }
}

}  // namespace

bool DrawMessageBox(uint32_t type, const std::string& text, int focused, MessageBoxPicture* out,
                    std::string* error)
{
    // The face of the boxes of the engine's day, which the fonts module
    // answers with IPA P Gothic.
    std::unique_ptr<Font> font = Font::Open("MS UI Gothic", kFontHeight, false, false, error);
    if (font == nullptr) {
        return false;
    }
    const TextMetrics& metrics = font->GetMetrics();
    const int lineHeight = metrics.height + 4;

    struct Label {
        const char* text;
        int result;
    };
    Label labels[2] = {{"OK", IDOK}, {"", 0}};
    int count = 1;
    out->escapeResult = IDOK;
    if ((type & 0x0F) == MB_OKCANCEL) {
        labels[1] = {"Cancel", IDCANCEL};
        count = 2;
        out->escapeResult = IDCANCEL;
    } else if ((type & 0x0F) == MB_YESNO) {
        labels[0] = {"Yes", IDYES};
        labels[1] = {"No", IDNO};
        count = 2;
        out->escapeResult = IDNO;
    }

    const std::vector<Line> lines = LayOut(*font, text);
    int textWidth = 0;
    for (const Line& line : lines) {
        textWidth = std::max(textWidth, LineWidth(line));
    }
    const int buttonsWidth = count * kButtonWidth + (count - 1) * kButtonGap;
    const int stripHeight = kButtonHeight + 2 * kStripPadding;
    const int textHeight = int(lines.size()) * lineHeight;
    out->width = std::max({kMinWidth, textWidth + 2 * kMargin, buttonsWidth + 2 * kStripPadding});
    out->height = kMargin + textHeight + kMargin + stripHeight;
    out->pixels.assign(size_t(out->width) * size_t(out->height), kPaper);
    const int stripTop = out->height - stripHeight;
    FillRect(out, 0, stripTop, out->width, stripHeight, kStrip);

    for (size_t i = 0; i < lines.size(); ++i) {
        DrawLine(*font, lines[i], kMargin, kMargin + int(i) * lineHeight + metrics.ascent + 2, out);
    }

    // Buttons at the right of the strip, in order.
    out->buttonCount = count;
    for (int i = 0; i < count; ++i) {
        MessageBoxButton& button = out->buttons[i];
        button.x = out->width - kStripPadding - buttonsWidth + i * (kButtonWidth + kButtonGap);
        button.y = stripTop + kStripPadding;
        button.width = kButtonWidth;
        button.height = kButtonHeight;
        button.result = labels[i].result;
        const int edge = i == focused ? 2 : 1;
        FillRect(out, button.x, button.y, button.width, button.height, i == focused ? kFocusEdge : kButtonEdge);
        FillRect(out, button.x + edge, button.y + edge, button.width - 2 * edge, button.height - 2 * edge,
                 kButtonFace);
        Line label;
        for (const char* p = labels[i].text; *p != '\0'; ++p) {
            GlyphBitmap glyph;
            label.push_back({uint16_t(uint8_t(*p)), font->GetGlyph(uint8_t(*p), &glyph) ? glyph.advance : 0});
        }
        const int labelX = button.x + (button.width - LineWidth(label)) / 2;
        const int baseline = button.y + (button.height - metrics.height) / 2 + metrics.ascent;
        DrawLine(*font, label, labelX, baseline, out);
    }
    return true;
}

int MessageBoxButtonAt(const MessageBoxPicture& picture, int x, int y)
{
    for (int i = 0; i < picture.buttonCount; ++i) {
        const MessageBoxButton& b = picture.buttons[i];
        if (x >= b.x && y >= b.y && x < b.x + b.width && y < b.y + b.height) {
            return i;
        }
    }
    return -1;
}

}  // namespace platform
