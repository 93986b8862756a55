#pragma once
// The message box the window library draws itself. A toolkit's box draws
// with the X server's core fonts, which often have no Japanese; this one
// draws with the engine's own fonts (FreeType, IPA Gothic), so that every
// text the engine shows can be read. Only the window library and its tests
// include this.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MessageBoxButton {
    int x = 0;  // pixels, in the picture
    int y = 0;
    int width = 0;
    int height = 0;
    int result = 0;  // IDOK, IDCANCEL, IDYES or IDNO
};

struct MessageBoxPicture {
    int width = 0;  // pixels
    int height = 0;
    std::vector<uint32_t> pixels;  // A8R8G8B8, rows top-down, tightly packed
    MessageBoxButton buttons[2];
    int buttonCount = 0;
    int escapeResult = 0;  // what Escape and closing the box answer
};

// Lays out and draws the box of a message-box type (the low nibble picks the
// buttons) and a UTF-8 text: lines break at '\n' and where they grow too
// wide; button `focused` (0 or 1) is marked, and Return presses it. False,
// with the reason in *error, when no font can be opened.
bool DrawMessageBox(uint32_t type, const std::string& text, int focused, MessageBoxPicture* out,
                    std::string* error);

// The button under a point of the picture; -1 for none.
int MessageBoxButtonAt(const MessageBoxPicture& picture, int x, int y);

}  // namespace platform
