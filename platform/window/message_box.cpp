// The message box the window library draws itself, with the engine's fonts.
#include "platform/window/message_box.h"

#include "platform/sys/printable.h"
#include "platform/text/codepage.h"
#include "platform/text/font.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace platform {

namespace {

// The look of a box of the engine's day: white text area, grey button strip.
constexpr int kFontHeight = -14;  // pixels of character height
constexpr int kIconFontHeight = -22;
constexpr int kMargin = 16;
constexpr int kMaxTextWidth = 480;
constexpr int kMinTextWidth = 64;
constexpr int kMinWidth = 240;
constexpr int kLineGap = 4;  // pixels between two lines' cells
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kScrollBarWidth = 12;
constexpr int kScrollBarGap = 8;
constexpr int kMinThumb = 16;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 8;
constexpr int kStripPadding = 12;
// Kept free at each edge of the work area: a window manager puts its frame
// and title bar around the box, and those must stay on the screen too.
constexpr int kScreenMargin = 32;
constexpr uint32_t kPaper = 0xFFFFFFFF;
constexpr uint32_t kStrip = 0xFFF0F0F0;
constexpr uint32_t kInk = 0xFF000000;
constexpr uint32_t kButtonFace = 0xFFE1E1E1;
constexpr uint32_t kButtonEdge = 0xFFADADAD;
constexpr uint32_t kFocusEdge = 0xFF0078D7;
constexpr uint32_t kTrack = 0xFFF0F0F0;
constexpr uint32_t kThumb = 0xFFA6A6A6;
constexpr uint32_t kErrorRed = 0xFFE81123;
constexpr uint32_t kNoteBlue = 0xFF0063B1;
constexpr uint32_t kWarningYellow = 0xFFFFB900;
constexpr uint32_t kIconMark = 0xFFFFFFFF;
constexpr uint16_t kSpace = 0x20;
constexpr uint16_t kUnknown = '?';

struct Char {
    std::string bytes;  // UTF-8, as the line keeps it
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

// A line may break after a space, and after a slash so that a long path
// breaks between its folders.
bool BreaksAfter(const Char& c)
{
    return c.code == kSpace || c.code == '/';
}

// The character at text[at] as the box shows it: its bytes, with tabs as
// spaces and anything the fonts have no code for (a control character,
// bytes that are no UTF-8, a character outside code page 932) as '?'. Its
// length in the text is in *length; '\n' and '\r' come back as themselves.
Char ReadChar(Font& font, const std::string& text, size_t at, size_t* length)
{
    uint32_t point = 0;
    *length = ReadUtf8Char(text, at, &point);
    Char c;
    if (*length == 0) {
        *length = 1;
        point = kUnknown;
    }
    c.code = point == '\t' ? kSpace : UnicodeToCp932(point);
    if (point == '\n' || point == '\r') {
        c.code = uint16_t(point);
    } else if (c.code == 0 || c.code < kSpace || c.code == 0x7F) {
        c.code = kUnknown;
    }
    c.bytes = c.code == kSpace || c.code == kUnknown ? std::string(1, char(c.code)) : text.substr(at, *length);
    GlyphBitmap glyph;
    c.advance = font.GetGlyph(c.code, &glyph) ? glyph.advance : 0;
    return c;
}

// The text as lines no wider than maxWidth, broken at '\n' and, past that
// width, after the last space or slash or else between two characters
// (Japanese has no spaces, a path may have no slash for long).
std::vector<Line> Wrap(Font& font, const std::string& text, int maxWidth)
{
    std::vector<Line> lines(1);
    for (size_t at = 0; at < text.size();) {
        size_t length = 0;
        Char c = ReadChar(font, text, at, &length);
        at += length;
        if (c.code == '\n') {
            lines.emplace_back();
            continue;
        }
        if (c.code == '\r') {
            continue;
        }
        Line& line = lines.back();
        if (!line.empty() && LineWidth(line) + c.advance > maxWidth) {
            Line rest;
            // Not at the line's first character: that would leave it alone.
            const auto after = std::find_if(line.rbegin(), line.rend() - 1, BreaksAfter);
            if (after != line.rend() - 1) {
                rest.assign(std::make_move_iterator(after.base()), std::make_move_iterator(line.end()));
                line.erase(after.base(), line.end());
            }
            lines.push_back(std::move(rest));
        }
        lines.back().push_back(std::move(c));
    }
    return lines;
}

MessageBoxIcon IconOf(uint32_t type)
{
    switch (type & 0xF0) {
    case MB_ICONERROR: return MessageBoxIcon::Error;
    case MB_ICONQUESTION: return MessageBoxIcon::Question;
    case MB_ICONWARNING: return MessageBoxIcon::Warning;
    case MB_ICONINFORMATION: return MessageBoxIcon::Information;
    default: return MessageBoxIcon::None;
    }
}

const char* ButtonLabel(int result)
{
    switch (result) {
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    default: return "OK";
    }
}

std::unique_ptr<Font> OpenBoxFont(int height, bool bold, std::string* error)
{
    // The face of the boxes of the engine's day, which the fonts module
    // answers with IPA P Gothic.
    return Font::Open("MS UI Gothic", height, false, bold, error);
}

uint32_t Blend(uint32_t under, uint32_t colour, uint32_t level)
{
    uint32_t blended = 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t a = (under >> shift) & 0xFF;
        const uint32_t b = (colour >> shift) & 0xFF;
        blended |= ((a * (16 - level) + b * level) / 16) << shift;
    }
    return blended;
}

void FillRect(MessageBoxPicture* picture, int x, int y, int width, int height, uint32_t colour)
{
    for (int row = std::max(y, 0); row < std::min(y + height, picture->height); ++row) {
        for (int col = std::max(x, 0); col < std::min(x + width, picture->width); ++col) {
            picture->pixels[size_t(row) * size_t(picture->width) + size_t(col)] = colour;
        }
    }
}

// Colour over what is there, by the glyph's 17 coverage levels; the black
// box's top left at x, y.
void DrawGlyph(const GlyphBitmap& glyph, int x, int y, uint32_t colour, MessageBoxPicture* picture)
{
    for (int gy = 0; gy < glyph.height; ++gy) {
        for (int gx = 0; gx < glyph.width; ++gx) {
            const int px = x + gx;
            const int py = y + gy;
            const uint32_t level = glyph.coverage[size_t(gy) * size_t(glyph.width) + size_t(gx)];
            if (level == 0 || px < 0 || py < 0 || px >= picture->width || py >= picture->height) {
                continue;
            }
            uint32_t& pixel = picture->pixels[size_t(py) * size_t(picture->width) + size_t(px)];
            pixel = Blend(pixel, colour, level);
        }
    }
}

// A line of the layout's UTF-8, pen at x on the baseline.
void DrawText(Font& font, const std::string& text, int x, int baseline, MessageBoxPicture* picture)
{
    for (size_t at = 0; at < text.size();) {
        size_t length = 0;
        const Char c = ReadChar(font, text, at, &length);
        at += length;
        GlyphBitmap glyph;
        if (font.GetGlyph(c.code, &glyph)) {
            DrawGlyph(glyph, x + glyph.originX, baseline - glyph.originY, kInk, picture);
        }
        x += c.advance;
    }
}

// Paints the part of an icon's square where `inside` holds, smoothed
// by 4 x 4 samples a pixel: coordinates are in the square's pixels.
template <typename Inside>
void PaintShape(const MessageBoxRect& square, uint32_t colour, Inside inside, MessageBoxPicture* picture)
{
    for (int y = 0; y < square.height; ++y) {
        for (int x = 0; x < square.width; ++x) {
            uint32_t level = 0;
            for (int sy = 0; sy < 4; ++sy) {
                for (int sx = 0; sx < 4; ++sx) {
                    level += inside(float(x) + (float(sx) + 0.5f) / 4.0f, float(y) + (float(sy) + 0.5f) / 4.0f) ? 1 : 0;
                }
            }
            const int px = square.x + x;
            const int py = square.y + y;
            if (level == 0 || px < 0 || py < 0 || px >= picture->width || py >= picture->height) {
                continue;
            }
            uint32_t& pixel = picture->pixels[size_t(py) * size_t(picture->width) + size_t(px)];
            pixel = Blend(pixel, colour, level);
        }
    }
}

float SegmentDistance(float x, float y, float x0, float y0, float x1, float y1)
{
    const float dx = x1 - x0;
    const float dy = y1 - y0;
    const float t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0f, 1.0f);
    return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
}

// A character of the bold icon font, its ink centred on cx, cy.
void DrawMark(Font* font, uint16_t code, float cx, float cy, uint32_t colour, MessageBoxPicture* picture)
{
    GlyphBitmap glyph;
    if (font == nullptr || !font->GetGlyph(code, &glyph)) {
        return;
    }
    const int left = int(std::lround(cx - float(glyph.width) / 2.0f));
    const int top = int(std::lround(cy - float(glyph.height) / 2.0f));
    DrawGlyph(glyph, left, top, colour, picture);
}

void DrawIcon(MessageBoxIcon icon, const MessageBoxRect& square, MessageBoxPicture* picture)
{
    const float size = float(square.width);
    const float middle = size / 2.0f;
    const auto disc = [middle](float x, float y) { return std::hypot(x - middle, y - middle) <= middle - 0.5f; };
    if (icon == MessageBoxIcon::Error) {
        // A white X in a red disc, drawn without the fonts' help.
        const float arm = size * 0.19f;
        const float half = size * 0.055f;
        PaintShape(square, kErrorRed, disc, picture);
        PaintShape(square, kIconMark, [=](float x, float y) {
            return SegmentDistance(x, y, middle - arm, middle - arm, middle + arm, middle + arm) <= half ||
                   SegmentDistance(x, y, middle - arm, middle + arm, middle + arm, middle - arm) <= half;
        }, picture);
        return;
    }
    std::string ignored;
    const std::unique_ptr<Font> font = OpenBoxFont(kIconFontHeight, true, &ignored);
    const float cx = float(square.x) + middle;
    const float cy = float(square.y) + middle;
    if (icon == MessageBoxIcon::Warning) {
        // A black '!' in a yellow triangle standing on its base.
        const float top = 1.5f;
        const float bottom = size - 3.5f;
        PaintShape(square, kWarningYellow, [=](float x, float y) {
            return y >= top && y <= bottom && std::fabs(x - middle) <= (y - top) * (middle - 0.5f) / (bottom - top);
        }, picture);
        DrawMark(font.get(), '!', cx, cy + 3.0f, kInk, picture);
        return;
    }
    PaintShape(square, kNoteBlue, disc, picture);
    DrawMark(font.get(), icon == MessageBoxIcon::Question ? '?' : 'i', cx, cy, kIconMark, picture);
}

}  // namespace

bool LayOutMessageBox(uint32_t type, const std::string& text, const MessageBoxRect& workArea,
                      MessageBoxLayout* out, std::string* error)
{
    const std::unique_ptr<Font> font = OpenBoxFont(kFontHeight, false, error);
    if (font == nullptr) {
        return false;
    }
    MessageBoxLayout layout;
    layout.lineHeight = font->GetMetrics().height + kLineGap;

    layout.buttonCount = 1;
    layout.buttons[0].result = IDOK;
    layout.escapeResult = IDOK;
    if ((type & 0x0F) == MB_OKCANCEL) {
        layout.buttons[1].result = IDCANCEL;
        layout.buttonCount = 2;
        layout.escapeResult = IDCANCEL;
    } else if ((type & 0x0F) == MB_YESNO) {
        layout.buttons[0].result = IDYES;
        layout.buttons[1].result = IDNO;
        layout.buttonCount = 2;
        layout.escapeResult = IDNO;
    }
    const int buttonsWidth = layout.buttonCount * kButtonWidth + (layout.buttonCount - 1) * kButtonGap;
    const int stripHeight = kButtonHeight + 2 * kStripPadding;

    layout.icon = IconOf(type);
    const int iconSpace = layout.icon != MessageBoxIcon::None ? kIconSize + kIconGap : 0;
    const int textLeft = kMargin + iconSpace;

    // What the work area leaves the text: a box no wider than the area, and
    // no taller, so that the buttons stay reachable; the rest scrolls.
    const int roomWidth = std::max(workArea.width - 2 * kScreenMargin, 0);
    const int roomHeight = std::max(workArea.height - 2 * kScreenMargin, 0);
    int wrapWidth = std::clamp(roomWidth - textLeft - kMargin, kMinTextWidth, kMaxTextWidth);
    std::vector<Line> lines = Wrap(*font, text, wrapWidth);
    const int fitLines = std::max((roomHeight - 2 * kMargin - stripHeight) / layout.lineHeight, 1);
    if (int(lines.size()) > fitLines) {
        layout.scrolls = true;
        wrapWidth = std::max(wrapWidth - kScrollBarGap - kScrollBarWidth, kMinTextWidth);
        lines = Wrap(*font, text, wrapWidth);
    }
    layout.visibleLines = std::min(int(lines.size()), fitLines);
    int textWidth = 0;
    layout.lines.reserve(lines.size());
    for (const Line& line : lines) {
        textWidth = std::max(textWidth, LineWidth(line));
        std::string bytes;
        for (const Char& c : line) {
            bytes += c.bytes;
        }
        layout.lines.push_back(std::move(bytes));
    }
    const int textHeight = layout.visibleLines * layout.lineHeight;
    const int bodyHeight = std::max(textHeight, iconSpace > 0 ? kIconSize : 0);
    const int barSpace = layout.scrolls ? kScrollBarGap + kScrollBarWidth : 0;

    MessageBoxRect& box = layout.box;
    // The least width of a box of the engine's day, where the area has room.
    box.width = std::max({std::min(kMinWidth, roomWidth), textLeft + textWidth + barSpace + kMargin,
                          buttonsWidth + 2 * kStripPadding});
    box.height = kMargin + bodyHeight + kMargin + stripHeight;
    box.x = workArea.x + (workArea.width - box.width) / 2;
    box.y = workArea.y + (workArea.height - box.height) / 2;

    // A text shorter than the icon stands beside its middle.
    layout.textRect = {textLeft, kMargin + (bodyHeight - textHeight) / 2, textWidth, textHeight};
    if (layout.icon != MessageBoxIcon::None) {
        layout.iconRect = {kMargin, kMargin, kIconSize, kIconSize};
    }
    if (layout.scrolls) {
        layout.scrollBar = {box.width - kMargin - kScrollBarWidth, layout.textRect.y, kScrollBarWidth, textHeight};
    }
    // Buttons at the right of the strip, in order.
    const int stripTop = box.height - stripHeight;
    for (int i = 0; i < layout.buttonCount; ++i) {
        MessageBoxButton& button = layout.buttons[i];
        button.x = box.width - kStripPadding - buttonsWidth + i * (kButtonWidth + kButtonGap);
        button.y = stripTop + kStripPadding;
        button.width = kButtonWidth;
        button.height = kButtonHeight;
    }
    *out = std::move(layout);
    return true;
}

int ScrollMessageBox(const MessageBoxLayout& layout, int firstLine, int delta)
{
    const int last = std::max(int(layout.lines.size()) - layout.visibleLines, 0);
    const long moved = long(firstLine) + long(delta);
    return int(std::clamp(moved, 0L, long(last)));
}

bool DrawMessageBox(const MessageBoxLayout& layout, int focused, int firstLine, MessageBoxPicture* out,
                    std::string* error)
{
    const std::unique_ptr<Font> font = OpenBoxFont(kFontHeight, false, error);
    if (font == nullptr) {
        return false;
    }
    const TextMetrics& metrics = font->GetMetrics();
    out->width = layout.box.width;
    out->height = layout.box.height;
    out->pixels.assign(size_t(out->width) * size_t(out->height), kPaper);
    const int stripTop = layout.buttons[0].y - kStripPadding;
    FillRect(out, 0, stripTop, out->width, out->height - stripTop, kStrip);

    if (layout.icon != MessageBoxIcon::None) {
        DrawIcon(layout.icon, layout.iconRect, out);
    }
    const int first = ScrollMessageBox(layout, firstLine, 0);
    for (int i = 0; i < layout.visibleLines && first + i < int(layout.lines.size()); ++i) {
        const int baseline = layout.textRect.y + i * layout.lineHeight + metrics.ascent + kLineGap / 2;
        DrawText(*font, layout.lines[size_t(first + i)], layout.textRect.x, baseline, out);
    }
    // The thumb shows how much of the text is in view, and where.
    if (layout.scrolls) {
        const MessageBoxRect& track = layout.scrollBar;
        FillRect(out, track.x, track.y, track.width, track.height, kTrack);
        const int total = std::max(int(layout.lines.size()), 1);
        const int thumb = std::clamp(track.height * layout.visibleLines / total, kMinThumb, track.height);
        const int last = std::max(total - layout.visibleLines, 1);
        const int top = track.y + (track.height - thumb) * first / last;
        FillRect(out, track.x + 2, top, track.width - 4, thumb, kThumb);
    }

    for (int i = 0; i < layout.buttonCount; ++i) {
        const MessageBoxButton& button = layout.buttons[i];
        const int edge = i == focused ? 2 : 1;
        FillRect(out, button.x, button.y, button.width, button.height, i == focused ? kFocusEdge : kButtonEdge);
        FillRect(out, button.x + edge, button.y + edge, button.width - 2 * edge, button.height - 2 * edge,
                 kButtonFace);
        const std::string label = ButtonLabel(button.result);
        int labelWidth = 0;
        for (char c : label) {
            GlyphBitmap glyph;
            labelWidth += font->GetGlyph(uint8_t(c), &glyph) ? glyph.advance : 0;
        }
        const int labelX = button.x + (button.width - labelWidth) / 2;
        const int baseline = button.y + (button.height - metrics.height) / 2 + metrics.ascent;
        DrawText(*font, label, labelX, baseline, out);
    }
    return true;
}

int MessageBoxButtonAt(const MessageBoxLayout& layout, int x, int y)
{
    for (int i = 0; i < layout.buttonCount; ++i) {
        const MessageBoxButton& b = layout.buttons[i];
        if (x >= b.x && y >= b.y && x < b.x + b.width && y < b.y + b.height) {
            return i;
        }
    }
    return -1;
}

}  // namespace platform
