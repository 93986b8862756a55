#pragma once
// Sheets: an image larger than one texture may be (a full-screen
// background), loaded into a surface, cut into a grid of 256 x 256 textures
// and drawn as one picture, placed, rotated and scaled as a whole, with a
// depth, a colour and a blend mode. Each piece is one small immediate draw
// clipped to the viewport or to a clip rectangle. The pieces' textures
// restore themselves after a device loss, so the module has no device
// walkers. Main thread only.
#include <cstdint>

#include "engine/core/graphics.h"
#include "engine/core/object.h"
#include "engine/render/sprite.h"

class OrvaSurface;
class OrvaTexture;

struct OrvaSheetCell {
    int32_t x = 0;        // the piece's top-left pixel in the image
    int32_t y = 0;
    int32_t width = 0;    // pixels, at most 256 (0 for the extra column or row)
    int32_t height = 0;
    OrvaTexture* texture = nullptr;   // 256 x 256, the piece at its top-left
    // Top-left, top-right, bottom-right, bottom-left; only the first (u, v)
    // pair is filled.
    OrvaSpriteVertex vertices[4];
};

class OrvaSheet : public OrvaObject {
public:
    static constexpr int32_t kCellSize = 256;   // pixels
    static constexpr int32_t kMaxCells = 16;    // per row and per column
    static constexpr uint32_t kVertexFormat = 0x444;
    // The most a quad becomes after clipping: eight corners, six triangles.
    static constexpr int32_t kScratchVertices = 18;

    // ---- module
    static bool Initialize();
    // Logs the banner and releases every sheet.
    static void Destroy();
    static int32_t GetCount();

    // ---- creation: the sheet is returned also when the image did not load
    // (its pieces are those of the size the surface reports); null only when
    // memory is short. alpha picks the alpha texture format.
    static OrvaSheet* Create(const char* imageFile, uint32_t colorKey, bool alpha);
    static OrvaSheet* CreateFromPack(const char* packFile, const char* entryName, bool alpha);
    // Our image loader reads every format itself, so the plug-in folder is
    // not used; the file is read as Create reads it, with no colour key.
    static OrvaSheet* CreateFromPluginFile(const char* imageFile, const char* pluginFolder, bool alpha);

    // ---- methods (positions in pixels, depth 0 to 65535, colour ARGB,
    // angle 65536 to a full turn, blend an OrvaBlendMode)
    // Fills every piece's vertices for the image's top-left corner at (x, y).
    virtual void SetVertices(int32_t x, int32_t y, float depth, uint32_t color);
    // Draws every piece with its current vertices.
    virtual void Render(int32_t blend);
    virtual void Draw(int32_t x, int32_t y, float depth, uint32_t color, int32_t blend);
    // Rotated about (x + centerX, y + centerY).
    virtual void DrawRotate(int32_t x, int32_t y, float depth, int32_t angle, int32_t centerX, int32_t centerY,
                            uint32_t color, int32_t blend);
    // Scaled about the image's centre.
    virtual void DrawScale(int32_t x, int32_t y, float depth, float scale, uint32_t color, int32_t blend);
    // Rotated and scaled about (x + centerX, y + centerY).
    virtual void DrawRotateScale(int32_t x, int32_t y, float depth, int32_t angle, float scale, int32_t centerX,
                                 int32_t centerY, uint32_t color, int32_t blend);
    // A rectangle clips the pieces to it; null clips them to the viewport.
    virtual void SetClip(const OrvaRect* clip);

    int32_t GetColumns() const { return columns; }
    int32_t GetRows() const { return rows; }
    int32_t GetImageWidth() const { return imageWidth; }    // pixels
    int32_t GetImageHeight() const { return imageHeight; }  // pixels
    bool IsClipOn() const { return clipOn != 0; }
    const OrvaRect& GetClipRect() const { return clipRect; }
    // The piece at (row, column); null outside the grid in use.
    const OrvaSheetCell* GetCell(int32_t row, int32_t column) const;

    ~OrvaSheet() override;

private:
    OrvaSheet() = default;
    // Cuts the surface (held from now on) into pieces.
    static OrvaSheet* Build(OrvaSheet* sheet, OrvaSurface* surface, bool alpha);
    static OrvaSheet* Begin();
    // Every used piece in row order.
    template <typename F>
    void ForEachCell(F f);

    OrvaSurface* surface = nullptr;
    OrvaSheetCell cells[kMaxCells][kMaxCells];
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t imageWidth = 0;    // pixels
    int32_t imageHeight = 0;   // pixels
    uint32_t clipOn = 0;
    OrvaRect clipRect;
};
