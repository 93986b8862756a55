#pragma once
// The message box the window library draws itself. A toolkit's box draws
// with the X server's core fonts, which often have no Japanese; this one
// draws with the engine's own fonts (FreeType, IPA Gothic), so that every
// text the engine shows can be read. Only the window library and its tests
// include this.
//
// Laying out and drawing are apart, so that where a box goes and what it
// shows can be checked for any screen without one: the layout needs the
// fonts but no display.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MessageBoxRect {
    int x = 0;  // pixels
    int y = 0;
    int width = 0;
    int height = 0;
};

struct MessageBoxButton {
    int x = 0;  // pixels, in the box
    int y = 0;
    int width = 0;
    int height = 0;
    int result = 0;  // IDOK, IDCANCEL, IDYES or IDNO
};

// The picture beside the text, picked by the type's second nibble.
enum class MessageBoxIcon { None, Error, Question, Warning, Information };

struct MessageBoxLayout {
    MessageBoxRect box;  // on the screen: its client area, without a frame
    MessageBoxIcon icon = MessageBoxIcon::None;
    MessageBoxRect iconRect;  // in the box; empty without an icon
    MessageBoxRect textRect;  // in the box: where the shown lines go
    // Every line of the text, wrapped to the text's width (UTF-8, with tabs
    // as spaces and what cannot be shown as '?'). When they are more than
    // the screen takes, the box shows `visibleLines` of them at a time and
    // scrolls.
    std::vector<std::string> lines;
    int visibleLines = 0;
    bool scrolls = false;       // the text is cut to visibleLines lines
    MessageBoxRect scrollBar;   // in the box; empty unless it scrolls
    int lineHeight = 0;         // pixels
    MessageBoxButton buttons[2];
    int buttonCount = 0;
    int escapeResult = 0;  // what Escape and closing the box answer
};

struct MessageBoxPicture {
    int width = 0;  // pixels
    int height = 0;
    std::vector<uint32_t> pixels;  // A8R8G8B8, rows top-down, tightly packed
};

// Lays out the box of a message-box type (the low nibble picks the buttons,
// the next one the icon) and a UTF-8 text on a screen's work area: lines
// break at '\n' and where they grow too wide, the box is centred and kept
// clear of the area's edges, so that a window frame's title and the
// buttons stay on the screen. False, with the reason in *error, when no font
// can be opened.
bool LayOutMessageBox(uint32_t type, const std::string& text, const MessageBoxRect& workArea,
                      MessageBoxLayout* out, std::string* error);

// The first shown line moved by `delta` lines, kept where the box stays full.
int ScrollMessageBox(const MessageBoxLayout& layout, int firstLine, int delta);

// Draws a laid-out box with its text from line `firstLine` on; button
// `focused` (0 or 1) is marked, and Return presses it. False, with the
// reason in *error, when no font can be opened.
bool DrawMessageBox(const MessageBoxLayout& layout, int focused, int firstLine, MessageBoxPicture* out,
                    std::string* error);

// The button under a point of the box; -1 for none.
int MessageBoxButtonAt(const MessageBoxLayout& layout, int x, int y);

}  // namespace platform
