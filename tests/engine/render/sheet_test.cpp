#include "engine/render/sheet.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/surface.h"
#include "engine/core/texture.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

// A frame pixel without its alpha.
uint32_t Rgb(int x, int y)
{
    return Pixel(x, y) & 0xFFFFFFu;
}

// An opaque colour from image pixel (x, y), different across every seam.
uint32_t ImageColor(int x, int y)
{
    return static_cast<uint32_t>((x * 7) & 0xFF) << 16 | static_cast<uint32_t>((y * 13) & 0xFF) << 8 |
           static_cast<uint32_t>((x / 256) * 0x40 + 0x20);
}

class SheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OrvaTexture::SetFullColor(true);
        StartDevice(32, 24);
        OrvaTexture::Initialize();
        OrvaSurface::Initialize();
        OrvaEffect::Initialize();
        ASSERT_TRUE(OrvaSheet::Initialize());
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
    }
    void TearDown() override
    {
        OrvaSheet::Destroy();
        OrvaEffect::Destroy();
        OrvaSurface::Destroy();
        OrvaTexture::Destroy();
        OrvaDevice::Destroy();
        OrvaTexture::SetFullColor(false);
        OrvaDebug::SetLogPath(nullptr);
        for (const std::string& f : files) {
            std::remove(f.c_str());
        }
    }
    // A binary colour map of ImageColor, or of one colour when given.
    std::string WriteImage(int w, int h, uint32_t color = 0)
    {
        // Named by process: ctest runs the tests of this file side by side.
        const std::string path =
            "/tmp/orva_sheet_test_" + std::to_string(::getpid()) + "_" + std::to_string(files.size()) + ".ppm";
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << w << " " << h << "\n255\n";
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t c = color != 0 ? color : ImageColor(x, y);
                const char rgb[3] = {static_cast<char>(c >> 16), static_cast<char>(c >> 8), static_cast<char>(c)};
                out.write(rgb, 3);
            }
        }
        files.push_back(path);
        return path;
    }
    static void ExpectCorners(const OrvaSheetCell* cell, const float (*xy)[2])
    {
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(cell->vertices[i].x, xy[i][0]) << "corner " << i;
            EXPECT_FLOAT_EQ(cell->vertices[i].y, xy[i][1]) << "corner " << i;
        }
    }
    std::vector<std::string> files;
};

TEST_F(SheetTest, CutsAnImageIntoPiecesAndLogsThem)
{
    const std::string log = "/tmp/orva_sheet_test_" + std::to_string(::getpid()) + ".log";
    std::remove(log.c_str());
    OrvaDebug::SetLogPath(log.c_str());
    OrvaSheet* s = OrvaSheet::Create(WriteImage(640, 480).c_str(), 0, false);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetColumns(), 3);
    EXPECT_EQ(s->GetRows(), 2);
    const int expected[6][4] = {{0, 0, 256, 256},   {256, 0, 256, 256},   {512, 0, 128, 256},
                                {0, 256, 256, 224}, {256, 256, 256, 224}, {512, 256, 128, 224}};
    for (int k = 0; k < 6; ++k) {
        const OrvaSheetCell* c = s->GetCell(k / 3, k % 3);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->x, expected[k][0]);
        EXPECT_EQ(c->y, expected[k][1]);
        EXPECT_EQ(c->width, expected[k][2]);
        EXPECT_EQ(c->height, expected[k][3]);
        ASSERT_NE(c->texture, nullptr);
        EXPECT_EQ(c->texture->GetWidth(), 256);
    }
    EXPECT_EQ(s->GetCell(2, 0), nullptr);
    EXPECT_EQ(s->GetCell(0, 3), nullptr);
    EXPECT_EQ(s->GetCell(-1, 0), nullptr);
    const std::string id = Hex(s);
    s->Release();
    OrvaSheet::Destroy();
    const std::string text = ReadFile(log);
    const size_t start = text.find("○ CreateSheet / ID [" + id + "] / {\n\t");
    ASSERT_NE(start, std::string::npos) << text;
    const size_t data = text.find("} Create Sheet Data {\n", start);
    ASSERT_NE(data, std::string::npos);
    size_t at = data;
    for (int k = 0; k < 6; ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "\tSheetNo.%02d : (%d, %d) - (%d, %d)\n", k, expected[k][0], expected[k][1],
                      expected[k][2], expected[k][3]);
        at = text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line;
    }
    // Six 256 x 256 32-bit textures with their copies, and the sheet.
    const std::string total = "} " + std::to_string((6 * 256 * 256 * 2 * 4 + sizeof(OrvaSheet)) / 1024) +
                              " KBytesUse / Complete!\n";
    EXPECT_NE(text.find(total, at), std::string::npos) << total;
    EXPECT_NE(text.find("● ReleaseSheet / ID [" + id + "]\n", at), std::string::npos);
    EXPECT_NE(text.find("\n============================================== Destroy Sheet\n"), std::string::npos);
    std::remove(log.c_str());
}

TEST_F(SheetTest, SizesThatAreMultiplesOfThePieceGiveEmptyEdges)
{
    OrvaSheet* s = OrvaSheet::Create(WriteImage(512, 256).c_str(), 0, true);
    ASSERT_EQ(s->GetColumns(), 3);
    ASSERT_EQ(s->GetRows(), 2);
    EXPECT_EQ(s->GetCell(0, 2)->width, 0);
    EXPECT_EQ(s->GetCell(1, 0)->height, 0);
    EXPECT_EQ(s->GetCell(0, 1)->width, 256);
    // A missing image still gives a sheet: one empty piece.
    OrvaSheet* missing = OrvaSheet::Create("/nonexistent/image.ppm", 0, false);
    ASSERT_NE(missing, nullptr);
    ASSERT_EQ(missing->GetColumns(), 1);
    EXPECT_EQ(missing->GetCell(0, 0)->width, 0);
    DrawFrame(0xFF000000u, [&] {
        s->Draw(0, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone);
        missing->Draw(0, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone);
    });
    EXPECT_EQ(OrvaSheet::GetCount(), 2);
}

TEST_F(SheetTest, ATruncatedImageGivesASafeSheet)
{
    const std::string path = "/tmp/orva_sheet_test_truncated_" + std::to_string(::getpid()) + ".ppm";
    files.push_back(path);
    {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n512 256\n255\n" << std::string(100, '\x7F');
    }
    OrvaSheet* s = OrvaSheet::Create(path.c_str(), 0, false);
    ASSERT_NE(s, nullptr);
    DrawFrame(0xFF000000u, [&] { s->Draw(0, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone); });
    s->Release();
}

TEST_F(SheetTest, ImagesPastTheGridAreCutToIt)
{
    // 4096 pixels would take a 17th, empty column; the grid has 16.
    OrvaSheet* s = OrvaSheet::Create(WriteImage(4096, 2, 0x00FF00u).c_str(), 0, false);
    ASSERT_EQ(s->GetColumns(), 16);
    ASSERT_EQ(s->GetRows(), 1);
    EXPECT_EQ(s->GetCell(0, 15)->width, 256);
    DrawFrame(0xFF000000u, [&] { s->Draw(-4090, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone); });
    // Image columns 4090 to 4095 show; the rest of the image is not drawn.
    for (int x = 0; x < 32; ++x) {
        EXPECT_EQ(Rgb(x, 0), x < 6 ? 0x00FF00u : 0u) << x;
    }
}

TEST_F(SheetTest, DrawingOperationsPlaceTheCorners)
{
    OrvaSheet* s = OrvaSheet::Create(WriteImage(640, 480, 0x808080u).c_str(), 0, false);
    ASSERT_EQ(s->GetColumns(), 3);
    DrawFrame(0xFF000000u, [&] {
        s->Draw(100, 50, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone);
        const float draw[4][2] = {{99.5f, 49.5f}, {355.5f, 49.5f}, {355.5f, 305.5f}, {99.5f, 305.5f}};
        ExpectCorners(s->GetCell(0, 0), draw);
        s->DrawRotate(100, 50, 0.0f, 0, 17, 23, 0xFFFFFFFFu, kOrvaBlendNone);
        ExpectCorners(s->GetCell(0, 0), draw);
        s->DrawScale(0, 0, 0.0f, 2.0f, 0xFFFFFFFFu, kOrvaBlendNone);
        EXPECT_FLOAT_EQ(s->GetCell(0, 0)->vertices[0].x, -320.5f);
        EXPECT_FLOAT_EQ(s->GetCell(0, 0)->vertices[0].y, -240.5f);
        // A quarter turn about (10, 20): image (0, 0) -> (30, 10), (256, 0) -> (30, 266).
        s->DrawRotate(0, 0, 0.0f, 16384, 10, 20, 0xFFFFFFFFu, kOrvaBlendNone);
        const OrvaSheetCell* c = s->GetCell(0, 0);
        EXPECT_NEAR(c->vertices[0].x, 29.5f, 1e-3f);
        EXPECT_NEAR(c->vertices[0].y, 9.5f, 1e-3f);
        EXPECT_NEAR(c->vertices[1].x, 29.5f, 1e-3f);
        EXPECT_NEAR(c->vertices[1].y, 265.5f, 1e-3f);
        // Half size about (10, 20) after a half turn: (0, 0) -> (15, 30).
        s->DrawRotateScale(0, 0, 0.0f, 32768, 0.5f, 10, 20, 0xFFFFFFFFu, kOrvaBlendNone);
        EXPECT_NEAR(c->vertices[0].x, 14.5f, 1e-3f);
        EXPECT_NEAR(c->vertices[0].y, 29.5f, 1e-3f);
        s->SetVertices(3, 4, 32768.0f, 0x12345678u);
        EXPECT_EQ(c->vertices[2].x, 259.0f);
        EXPECT_EQ(c->vertices[2].z, 0.5f);
        EXPECT_EQ(c->vertices[2].color, 0x12345678u);
        // The texel offset shrinks the piece's source rectangle.
        EXPECT_FLOAT_EQ(c->vertices[0].uv[0][0], 0.5f / 256.0f);
        EXPECT_FLOAT_EQ(s->GetCell(0, 2)->vertices[2].uv[0][0], 127.5f / 256.0f);
    });
}

TEST_F(SheetTest, PiecesMeetWithoutASeam)
{
    OrvaSheet* s = OrvaSheet::Create(WriteImage(300, 280).c_str(), 0, false);
    // Image (240 .. 271, 250 .. 273) fills the frame: both seams inside it.
    DrawFrame(0xFF000000u, [&] { s->Draw(-240, -250, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone); });
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 32; ++x) {
            ASSERT_EQ(Rgb(x, y), ImageColor(x + 240, y + 250)) << x << "," << y;
        }
    }
}

TEST_F(SheetTest, ClipRectangleCutsThePieces)
{
    OrvaSheet* s = OrvaSheet::Create(WriteImage(64, 64, 0x00C0FFu).c_str(), 0, false);
    OrvaRect clip;
    clip.left = 4;
    clip.top = 5;
    clip.right = 20;
    clip.bottom = 12;
    s->SetClip(&clip);
    EXPECT_TRUE(s->IsClipOn());
    DrawFrame(0xFF000000u, [&] { s->Draw(0, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone); });
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool inside = x >= 4 && x < 20 && y >= 5 && y < 12;
            ASSERT_EQ(Rgb(x, y), inside ? 0x00C0FFu : 0u) << x << "," << y;
        }
    }
    s->SetClip(nullptr);
    EXPECT_FALSE(s->IsClipOn());
    EXPECT_EQ(s->GetClipRect().right, 0);
    // Back to the viewport: the whole frame.
    DrawFrame(0xFF000000u, [&] { s->Draw(0, 0, 0.0f, 0xFFFFFFFFu, kOrvaBlendNone); });
    EXPECT_EQ(Rgb(31, 23), 0x00C0FFu);
}

TEST_F(SheetTest, SubtractBlendDarkensTheFrame)
{
    OrvaSheet* s = OrvaSheet::Create(WriteImage(8, 8, 0x402010u).c_str(), 0, false);
    DrawFrame(0xFF808080u, [&] { s->Draw(2, 2, 0.0f, 0xFFFFFFFFu, kOrvaBlendSub); });
    EXPECT_EQ(Rgb(3, 3), 0x406070u);   // 0x80 - (0x40, 0x20, 0x10)
    EXPECT_EQ(Rgb(1, 1), 0x808080u);   // outside: inverted twice
    EXPECT_EQ(Rgb(10, 10), 0x808080u);
}

}  // namespace
