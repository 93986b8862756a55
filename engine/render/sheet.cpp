// Sheets: a large image cut into 256 x 256 textures and drawn as a grid of
// quads.
#include "engine/render/sheet.h"

#include <algorithm>
#include <new>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/math.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"

static constexpr auto& Sheets = OrvaModuleList<OrvaModule::Sheet>;
// Refreshed by every Render.
static OrvaRect g_viewport;
// The triangles of one clipped piece.
static OrvaSpriteVertex g_scratch[OrvaSheet::kScratchVertices];

static uint32_t Id(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

template <typename F>
void OrvaSheet::ForEachCell(F f)
{
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            f(cells[r][c]);
        }
    }
}

bool OrvaSheet::Initialize()
{
    Sheets().Init();
    return true;
}

void OrvaSheet::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy Sheet\n");
    Sheets().ReleaseAll();
}

int32_t OrvaSheet::GetCount()
{
    return Sheets().GetCount();
}

OrvaSheet* OrvaSheet::Begin()
{
    OrvaSheet* sheet = new (std::nothrow) OrvaSheet();
    if (sheet == nullptr) {
        return nullptr;
    }
    Sheets().PushFront(sheet);
    OrvaDebug::Log("○ CreateSheet / ID [0x%08X] / ", Id(sheet));
    OrvaApplication::SetCurrentDirectory();
    OrvaDebug::Log("{\n\t");
    return sheet;
}

OrvaSheet* OrvaSheet::Create(const char* imageFile, uint32_t colorKey, bool alpha)
{
    OrvaSheet* sheet = Begin();
    if (sheet == nullptr) {
        return nullptr;
    }
    const int32_t format = alpha ? kOrvaSurfaceAlphaTexture : kOrvaSurfaceTexture;
    return Build(sheet, OrvaSurface::CreateFromFile(imageFile, format, colorKey, nullptr), alpha);
}

OrvaSheet* OrvaSheet::CreateFromPack(const char* packFile, const char* entryName, bool alpha)
{
    OrvaSheet* sheet = Begin();
    if (sheet == nullptr) {
        return nullptr;
    }
    const int32_t format = alpha ? kOrvaSurfaceAlphaTexture : kOrvaSurfaceTexture;
    return Build(sheet, OrvaSurface::CreateFromPack(packFile, entryName, format, nullptr), alpha);
}

OrvaSheet* OrvaSheet::CreateFromPluginFile(const char* imageFile, const char*, bool alpha)
{
    OrvaSheet* sheet = Begin();
    if (sheet == nullptr) {
        return nullptr;
    }
    const int32_t format = alpha ? kOrvaSurfaceAlphaTexture : kOrvaSurfaceTexture;
    return Build(sheet, OrvaSurface::CreateFromFile(imageFile, format, 0, nullptr), alpha);
}

OrvaSheet* OrvaSheet::Build(OrvaSheet* sheet, OrvaSurface* surface, bool alpha)
{
    sheet->surface = surface;
    if (surface != nullptr) {
        sheet->imageWidth = std::max(surface->GetWidth(), 0);
        sheet->imageHeight = std::max(surface->GetHeight(), 0);
    }
    sheet->columns = sheet->imageWidth / kCellSize + 1;
    sheet->rows = sheet->imageHeight / kCellSize + 1;
    // The grid holds 16 x 16 pieces: a larger image is shown up to 4096
    // pixels each way rather than written past the table.
    if (sheet->columns > kMaxCells || sheet->rows > kMaxCells) {
        OrvaDebug::Log("\t画像が大きすぎます (%d x %d) : 4096 x 4096 までを使います\n",
                       sheet->imageWidth, sheet->imageHeight);
        sheet->columns = std::min(sheet->columns, kMaxCells);
        sheet->rows = std::min(sheet->rows, kMaxCells);
    }
    OrvaDebug::Log("} Create Sheet Data {\n");
    uint64_t total = 0;
    int32_t k = 0;
    for (int32_t r = 0; r < sheet->rows; ++r) {
        for (int32_t c = 0; c < sheet->columns; ++c, ++k) {
            OrvaSheetCell& cell = sheet->cells[r][c];
            OrvaDebug::Log("\t");
            cell.texture = OrvaTexture::Create(kCellSize, kCellSize, alpha, nullptr);
            if (cell.texture != nullptr) {
                total += cell.texture->GetMemorySize();
            }
            cell.x = c * kCellSize;
            cell.y = r * kCellSize;
            cell.width = std::min(sheet->imageWidth - cell.x, kCellSize);
            cell.height = std::min(sheet->imageHeight - cell.y, kCellSize);
            if (cell.texture != nullptr && surface != nullptr && cell.width > 0 && cell.height > 0) {
                cell.texture->CopyRectFromSurface(0, 0, cell.x, cell.y, cell.x + cell.width, cell.y + cell.height,
                                                  surface);
                cell.texture->Update();
            }
            OrvaDebug::Log("\tSheetNo.%02d : (%d, %d) - (%d, %d)\n", k, cell.x, cell.y, cell.width, cell.height);
        }
    }
    OrvaDebug::Log("} %d KBytesUse / Complete!\n", static_cast<int32_t>((total + sizeof(OrvaSheet)) / 1024));
    return sheet;
}

OrvaSheet::~OrvaSheet()
{
    if (surface != nullptr) {
        surface->Release();
        surface = nullptr;
    }
    // Every texture that was made, whatever part of the grid is in use.
    for (auto& row : cells) {
        for (OrvaSheetCell& cell : row) {
            if (cell.texture != nullptr) {
                cell.texture->Release();
                cell.texture = nullptr;
            }
        }
    }
    OrvaDebug::Log("● ReleaseSheet / ID [0x%08X]\n", Id(this));
}

const OrvaSheetCell* OrvaSheet::GetCell(int32_t row, int32_t column) const
{
    if (row < 0 || row >= rows || column < 0 || column >= columns) {
        return nullptr;
    }
    return &cells[row][column];
}

void OrvaSheet::SetVertices(int32_t x, int32_t y, float depth, uint32_t color)
{
    const float z = depth / 65536.0f;
    const float o = OrvaTexture::GetTexelOffset();
    ForEachCell([&](OrvaSheetCell& cell) {
        const float su = cell.texture != nullptr ? cell.texture->GetScaleU() : 0.0f;
        const float sv = cell.texture != nullptr ? cell.texture->GetScaleV() : 0.0f;
        const float uL = o * su;
        const float vT = o * sv;
        const float uR = (static_cast<float>(cell.width) - o) * su;
        const float vB = (static_cast<float>(cell.height) - o) * sv;
        const float xL = static_cast<float>(x + cell.x);
        const float yT = static_cast<float>(y + cell.y);
        const float xR = xL + static_cast<float>(cell.width);
        const float yB = yT + static_cast<float>(cell.height);
        const float corners[4][4] = {{xL, yT, uL, vT}, {xR, yT, uR, vT}, {xR, yB, uR, vB}, {xL, yB, uL, vB}};
        for (int i = 0; i < 4; ++i) {
            OrvaSpriteVertex& v = cell.vertices[i];
            v = OrvaSpriteVertex();
            v.x = corners[i][0];
            v.y = corners[i][1];
            v.z = z;
            v.rhw = 1.0f;
            v.color = color;
            v.uv[0][0] = corners[i][2];
            v.uv[0][1] = corners[i][3];
        }
    });
}

void OrvaSheet::Render(int32_t blend)
{
    OrvaDevice::GetViewport(&g_viewport);
    for (int32_t stage = 1; stage <= 3; ++stage) {
        OrvaDevice::SetTextureStageState(stage, platform::TssColorOp, platform::TopDisable);
        OrvaDevice::SetTextureStageState(stage, platform::TssAlphaOp, platform::TopDisable);
    }
    if (blend == kOrvaBlendSub) {
        OrvaEffect::Begin(kOrvaBlendSub);
        OrvaDevice::SetVertexShader(kVertexFormat);
        OrvaDevice::SetBlendMode(kOrvaBlendAdd);
    } else {
        OrvaDevice::SetVertexShader(kVertexFormat);
        OrvaDevice::SetBlendMode(blend);
    }
    platform::SoftDevice* device = OrvaDevice::GetDevice();
    const OrvaRect& rect = clipOn != 0 ? clipRect : g_viewport;
    ForEachCell([&](OrvaSheetCell& cell) {
        OrvaDevice::SetTexture(cell.texture, 0);
        const int32_t n = OrvaGraphics::ClipPolygon(reinterpret_cast<const uint32_t*>(cell.vertices),
                                                    reinterpret_cast<uint32_t*>(g_scratch), rect, 4);
        if (n > 0 && device != nullptr) {
            device->DrawPrimitiveUP(platform::PrimTriangleList, static_cast<uint32_t>(n), g_scratch,
                                    sizeof(OrvaSpriteVertex));
            OrvaApplication::AddPolygonCount(n);
        }
    });
    if (blend == kOrvaBlendSub) {
        OrvaEffect::End();
    }
}

void OrvaSheet::Draw(int32_t x, int32_t y, float depth, uint32_t color, int32_t blend)
{
    SetVertices(x, y, depth, color);
    const float p = OrvaTexture::GetPixelOffset();
    ForEachCell([&](OrvaSheetCell& cell) {
        for (OrvaSpriteVertex& v : cell.vertices) {
            v.x += p;
            v.y += p;
        }
    });
    Render(blend);
}

void OrvaSheet::DrawRotate(int32_t x, int32_t y, float depth, int32_t angle, int32_t centerX, int32_t centerY,
                           uint32_t color, int32_t blend)
{
    DrawRotateScale(x, y, depth, angle, 1.0f, centerX, centerY, color, blend);
}

void OrvaSheet::DrawScale(int32_t x, int32_t y, float depth, float scale, uint32_t color, int32_t blend)
{
    SetVertices(x, y, depth, color);
    const float p = OrvaTexture::GetPixelOffset();
    const float cx = static_cast<float>(x + imageWidth / 2);
    const float cy = static_cast<float>(y + imageHeight / 2);
    ForEachCell([&](OrvaSheetCell& cell) {
        for (OrvaSpriteVertex& v : cell.vertices) {
            v.x = cx + (v.x - cx) * scale + p;
            v.y = cy + (v.y - cy) * scale + p;
        }
    });
    Render(blend);
}

void OrvaSheet::DrawRotateScale(int32_t x, int32_t y, float depth, int32_t angle, float scale, int32_t centerX,
                                int32_t centerY, uint32_t color, int32_t blend)
{
    SetVertices(x, y, depth, color);
    const float p = OrvaTexture::GetPixelOffset();
    const float cx = static_cast<float>(x + centerX);
    const float cy = static_cast<float>(y + centerY);
    ForEachCell([&](OrvaSheetCell& cell) {
        for (OrvaSpriteVertex& v : cell.vertices) {
            float dx = v.x - cx;
            float dy = v.y - cy;
            OrvaMath::RotatePoint(dx, dy, angle);
            v.x = cx + dx * scale + p;
            v.y = cy + dy * scale + p;
        }
    });
    Render(blend);
}

void OrvaSheet::SetClip(const OrvaRect* clip)
{
    if (clip != nullptr) {
        clipRect = *clip;
        clipOn = 1;
    } else {
        clipRect = OrvaRect();
        clipOn = 0;
    }
}
