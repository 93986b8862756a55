#include "engine/render/list_sprite.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/texture.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

constexpr uint32_t kClear = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

int g_progressCalls = 0;
void CountProgress(int32_t step)
{
    EXPECT_EQ(step, 0);
    ++g_progressCalls;
}

// The arrays of one strip of up to eight points.
struct Strip {
    float x[8] = {};
    float y[8] = {};
    float z[8] = {};
    float w[8] = {};
    int32_t angle[8] = {};
    uint32_t color[8] = {};

    Strip(std::initializer_list<std::pair<float, float>> points, float halfWidth, int32_t turn, uint32_t c)
    {
        int i = 0;
        for (const auto& p : points) {
            x[i] = p.first;
            y[i] = p.second;
            w[i] = halfWidth;
            angle[i] = turn;
            color[i] = c;
            ++i;
        }
    }
    uint32_t AddTo(OrvaListSprite* s, const OrvaRect& source) const { return s->AddStrip(x, y, z, w, angle, color, source); }
};

class ListSpriteTest : public ::testing::Test {
protected:
    void Start(int w, int h)
    {
        StartDevice2D(w, h);
        ASSERT_TRUE(OrvaListSprite::Initialize());
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        OrvaTexture::SetFullColor(true);
    }
    void TearDown() override
    {
        OrvaListSprite::Destroy();
        StopDevice2D();
        OrvaTexture::SetFullColor(false);
        OrvaDebug::SetLogPath(nullptr);
    }
    // The colour of each pixel from a function of (x, y), or the clear
    // colour outside [left, right) x [top, bottom).
    static void ExpectPicture(int left, int top, int right, int bottom, const std::function<uint32_t(int, int)>& want)
    {
        for (int y = 0; y < g_frameHeight; ++y) {
            for (int x = 0; x < g_frameWidth; ++x) {
                const bool inside = x >= left && x < right && y >= top && y < bottom;
                EXPECT_EQ(Pixel(x, y), inside ? want(x, y) : kClear) << x << "," << y;
            }
        }
    }
};

}  // namespace

TEST_F(ListSpriteTest, StripAlongXRunsVAlongAndUAcross)
{
    Start(6, 4);
    // 2 texels across the strip (u), 4 along it (v).
    OrvaTexture* t = MakeTexture(2, 4);
    OrvaListSprite* s = OrvaListSprite::Create(2, 2, kOrvaBlendNone, nullptr);
    s->SetTexture(t);
    // Angle 0: the pair of a point lies at (x, y - w) with uL and (x, y + w)
    // with uR.
    EXPECT_EQ(Strip({{1.0f, 2.0f}, {5.0f, 2.0f}}, 1.0f, 0, kWhite).AddTo(s, {0, 0, 2, 4}), 1u);
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectPicture(1, 1, 5, 3, [](int x, int y) { return Texel(y - 1, x - 1); });

    // Three points on the same line: v steps along and ends where it did.
    OrvaListSprite* three = OrvaListSprite::Create(1, 3, kOrvaBlendNone, nullptr);
    three->SetTexture(t);
    EXPECT_EQ(Strip({{1.0f, 2.0f}, {3.0f, 2.0f}, {5.0f, 2.0f}}, 1.0f, 0, kWhite).AddTo(three, {0, 0, 2, 4}), 1u);
    const std::vector<uint32_t> twoPoints = g_frame;
    DrawFrame(kClear, [&] { three->Render(); });
    EXPECT_EQ(g_frame, twoPoints);
}

TEST_F(ListSpriteTest, QuarterTurnPutsThePairAcrossX)
{
    Start(4, 6);
    OrvaTexture* t = MakeTexture(2, 4);
    OrvaListSprite* s = OrvaListSprite::Create(1, 2, kOrvaBlendNone, nullptr);
    s->SetTexture(t);
    // Angle 16384: the pair lies at (x + w, y) with uL and (x - w, y) with uR,
    // so u runs right to left.
    Strip({{2.0f, 1.0f}, {2.0f, 5.0f}}, 1.0f, 16384, kWhite).AddTo(s, {0, 0, 2, 4});
    DrawFrame(kClear, [&] { s->Render(); });
    ExpectPicture(1, 1, 3, 5, [](int x, int y) { return Texel(2 - x, y - 1); });
}

TEST_F(ListSpriteTest, StripsAreDrawnInOrderUpToTheCapacity)
{
    Start(4, 2);
    OrvaListSprite* s = OrvaListSprite::Create(2, 2, kOrvaBlendNone, nullptr);
    const uint32_t red = 0xFFFF0000u, green = 0xFF00FF00u, blue = 0xFF0000FFu;
    EXPECT_EQ(Strip({{0.0f, 1.0f}, {3.0f, 1.0f}}, 1.0f, 0, red).AddTo(s, {}), 1u);
    EXPECT_EQ(Strip({{1.0f, 1.0f}, {4.0f, 1.0f}}, 1.0f, 0, green).AddTo(s, {}), 1u);
    EXPECT_EQ(Strip({{0.0f, 1.0f}, {4.0f, 1.0f}}, 1.0f, 0, blue).AddTo(s, {}), 0u);
    EXPECT_EQ(s->GetItemCount(), 2);
    DrawFrame(kClear, [&] { s->Render(); });
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(Pixel(0, y), red);
        EXPECT_EQ(Pixel(1, y), green);
        EXPECT_EQ(Pixel(3, y), green);
    }
    // Render keeps the strips; Clear drops them.
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(0, 0), red);
    s->Clear();
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(1, 1), kClear);
    EXPECT_EQ(Strip({{0.0f, 1.0f}, {4.0f, 1.0f}}, 1.0f, 0, blue).AddTo(s, {}), 1u);
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(3, 0), blue);
    // Missing arrays are refused.
    EXPECT_EQ(s->AddStrip(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}), 0u);
}

TEST_F(ListSpriteTest, BlendModesIncludingSub)
{
    Start(4, 2);
    struct Case {
        int mode;
        uint32_t want;
    };
    // Source 0x80402010 over 0x40C08020.
    const Case cases[] = {
        {kOrvaBlendNormal, 0x60805018u},
        {kOrvaBlendAdd, 0x80E09028u},
        {kOrvaBlendSub, 0x00A07018u},   // max(0, d - round(s a / 255))
        {kOrvaBlendMul, 0x20301002u},
    };
    for (const Case& c : cases) {
        OrvaListSprite* s = OrvaListSprite::Create(1, 2, c.mode, nullptr);
        Strip({{0.0f, 1.0f}, {2.0f, 1.0f}}, 1.0f, 0, 0x80402010u).AddTo(s, {});
        DrawFrame(0x40C08020u, [&] { s->Render(); });
        EXPECT_EQ(Pixel(0, 0), c.want) << "mode " << c.mode << std::hex << " got " << Pixel(0, 0);
        EXPECT_EQ(Pixel(1, 1), c.want) << "mode " << c.mode;
        EXPECT_EQ(Pixel(2, 0), 0x40C08020u) << "mode " << c.mode;
        s->Release();
    }
}

TEST_F(ListSpriteTest, LostDeviceDropsTheStripsAndAddingAgainGivesThePicture)
{
    Start(6, 4);
    OrvaTexture* t = MakeTexture(2, 4);
    OrvaListSprite* s = OrvaListSprite::Create(2, 3, kOrvaBlendNone, nullptr);
    s->SetTexture(t);
    const Strip strip({{1.0f, 2.0f}, {3.0f, 2.0f}, {5.0f, 2.0f}}, 1.0f, 0, kWhite);
    strip.AddTo(s, {0, 0, 2, 4});
    DrawFrame(kClear, [&] { s->Render(); });
    const std::vector<uint32_t> before = g_frame;

    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    EXPECT_TRUE(s->HasVertexBuffer());
    // The strips went with the old buffer: nothing is drawn from the new one.
    EXPECT_EQ(s->GetItemCount(), 0);
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(Pixel(2, 1), kClear);
    s->Clear();
    strip.AddTo(s, {0, 0, 2, 4});
    DrawFrame(kClear, [&] { s->Render(); });
    EXPECT_EQ(g_frame, before);

    // While the device is lost there is no buffer to write into.
    OrvaListSprite::OnLostDevice();
    EXPECT_EQ(strip.AddTo(s, {0, 0, 2, 4}), 0u);
    OrvaListSprite::OnResetDevice();
    EXPECT_EQ(strip.AddTo(s, {0, 0, 2, 4}), 1u);
}

TEST_F(ListSpriteTest, LogLinesAndProgress)
{
    const std::string path = ::testing::TempDir() + "list_sprite_test_log.txt";
    std::remove(path.c_str());
    OrvaDebug::SetLogPath(path.c_str());
    Start(2, 2);
    g_progressCalls = 0;
    OrvaListSprite* s = OrvaListSprite::Create(2, 3, kOrvaBlendAdd, &CountProgress);
    EXPECT_EQ(g_progressCalls, 2);
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(s)));
    s->Release();
    OrvaListSprite::Destroy();
    OrvaDebug::SetLogPath(nullptr);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string want = std::string("\n============================================== Initialize ListSprite\n") +
                             "○ CreateListSprite / ID [" + id +
                             "] / Add Blend / MaxPolygon 8 / MaxVertex 12 / 336 ByteUse / Complete!\n"
                             "● ReleaseSprite  / ID [" + id + "]\n"
                             "\n============================================== Destroy ListSprite\n";
    EXPECT_NE(text.str().find(want), std::string::npos) << text.str();
    std::remove(path.c_str());
}

TEST_F(ListSpriteTest, ImpossibleSizesGiveABatchThatTakesNothing)
{
    Start(2, 2);
    for (auto size : {std::pair<int, int>{0, 2}, {-1, 2}, {1, 1}, {1, -4}, {1 << 20, 1 << 12}}) {
        OrvaListSprite* s = OrvaListSprite::Create(size.first, size.second, kOrvaBlendNone, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->GetItemCapacity(), 0);
        EXPECT_FALSE(s->HasVertexBuffer());
        EXPECT_EQ(Strip({{0.0f, 0.0f}, {1.0f, 0.0f}}, 1.0f, 0, kWhite).AddTo(s, {}), 0u);
        s->Render();
    }
    EXPECT_EQ(OrvaListSprite::GetCount(), 5);
}

TEST_F(ListSpriteTest, TextureIsHeldWhenValid)
{
    Start(2, 2);
    OrvaTexture* t = MakeTexture(2, 2);
    OrvaTexture* broken = OrvaTexture::Create(0, 0, true, nullptr);
    OrvaListSprite* s = OrvaListSprite::Create(1, 2, kOrvaBlendNone, nullptr);
    s->SetTexture(t);
    EXPECT_EQ(t->GetRefCount(), 2);
    s->SetTexture(broken);
    EXPECT_EQ(s->GetTexture(), nullptr);
    EXPECT_EQ(t->GetRefCount(), 1);
    s->SetTexture(t);
    s->Release();
    EXPECT_EQ(t->GetRefCount(), 1);
}
