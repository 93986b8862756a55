#include "engine/render/font_fx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/application.h"
#include "engine/core/debug.h"
#include "engine/core/device.h"
#include "engine/core/effect.h"
#include "engine/core/font.h"
#include "engine/core/sjis.h"
#include "engine/core/texture.h"
#include "engine/render/font_buffer.h"
#include "engine/render/font_sprite.h"
#include "engine/render/sprite.h"
#include "tests/engine/headless_frame.h"

using namespace orvatest;

namespace {

// Full-width Ａ, Ｂ, Ｃ: what the bytes A, B and C are laid out as.
#define SJ_FULL_A "\x82\x60"
#define SJ_FULL_B "\x82\x61"
#define SJ_FULL_C "\x82\x62"
// "ＭＳ ゴシック": the face the engine's programs name (IPA Gothic here).
const char* const kGothic = "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e";
constexpr int32_t kSize = 8;

constexpr uint32_t kClear = 0xFF000000u;

// What the callbacks saw: per character (found by its first text byte and
// its pen x) the times of its calls.
struct Call {
    int32_t x;
    float time;
};
std::vector<Call> g_calls[3];
int32_t g_finish = 0;     // what the phase callbacks return
float g_setScale = 0.0f;  // the scale the phase 0 callback gives

// The pen x of a character is stored in its user bytes by the tests, so a
// call can be told apart.
int32_t UserX(const OrvaFontFxCharData* d)
{
    int32_t x = 0;
    std::memcpy(&x, d->user, sizeof x);
    return x;
}

int32_t Phase0(OrvaFontFxCharData* d)
{
    g_calls[0].push_back({UserX(d), d->time});
    d->scaleX = g_setScale;
    d->scaleY = g_setScale;
    return g_finish;
}
int32_t Phase1(OrvaFontFxCharData* d)
{
    g_calls[1].push_back({UserX(d), d->time});
    return g_finish;
}
int32_t Phase2(OrvaFontFxCharData* d)
{
    g_calls[2].push_back({UserX(d), d->time});
    return g_finish;
}
std::vector<float> g_started;
int32_t Start(OrvaFontFxCharData* d)
{
    g_started.push_back(d->time);
    d->colour = 0xFF00FF00u;
    d->scaleX = 1.0f;
    d->offsetX = 3.0f;
    d->user[8] = 7;
    return 0;
}

class OrvaFontFxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logPath = ::testing::TempDir() + "font_fx_log.txt";
        std::remove(logPath.c_str());
        for (auto& c : g_calls) {
            c.clear();
        }
        g_started.clear();
        g_finish = 0;
        g_setScale = 0.0f;
    }
    void Open(int w, int h)
    {
        StartDevice2D(w, h);
        ASSERT_TRUE(OrvaSprite::Initialize());
        OrvaFont::Initialize();
        ASSERT_TRUE(OrvaFontSprite::Initialize());
        ASSERT_TRUE(OrvaFontFx::Initialize());
        OrvaDevice::SetRenderState(platform::RsAlphaBlendEnable, 1);
        OrvaTexture::SetFullColor(true);
        OrvaDebug::SetLogPath(logPath.c_str());
        OrvaFontBuffer* buffer = OrvaFontBuffer::CreateFromString(SJ_FULL_A SJ_FULL_B SJ_FULL_C);
        font = OrvaFontSprite::CreateFromBuffer(buffer, 64, true, kGothic, kSize, false, nullptr);
        buffer->Release();
        ASSERT_EQ(font->GetSheetCount(), 1);
        ASSERT_TRUE(font->GetCharSize(SJ_FULL_A, &a.a, &a.b, &a.c));
        ASSERT_TRUE(font->GetCharSize(SJ_FULL_B, &b.a, &b.b, &b.c));
        ASSERT_GT(a.b, 0);
    }
    void TearDown() override
    {
        OrvaFontFx::Destroy();
        OrvaFontSprite::Destroy();
        OrvaFont::Destroy();
        OrvaSprite::Destroy();
        StopDevice2D();
        OrvaTexture::SetFullColor(false);
        OrvaDebug::SetLogPath(nullptr);
    }
    std::string Log() const { return ReadFile(logPath); }
    OrvaFontFx* Make() { return OrvaFontFx::Create(font, &Phase0, &Phase1, &Phase2); }
    // Tags every character's user bytes with its pen x.
    static void TagCharacters(OrvaFontFx* fx)
    {
        for (int32_t i = 0; i < fx->GetCharCount(); ++i) {
            std::memcpy(fx->GetChar(i)->data.user, &fx->GetChar(i)->x, sizeof(int32_t));
        }
    }
    struct Widths {
        int32_t a = 0, b = 0, c = 0;
        int32_t Advance() const { return a + b + c; }
    };

    std::string logPath;
    OrvaFontSprite* font = nullptr;
    Widths a;
    Widths b;
};

}  // namespace

// Each character's clock runs `delay` behind the previous one's; a negative
// clock has not started. A phase ends when its callback says so, and the
// next phase's time counts from there.
TEST_F(OrvaFontFxTest, ClocksRunADelayBehindEachOther)
{
    Open(8, 8);
    OrvaFontFx* fx = Make();
    const OrvaRect area{0, 0, 400, 100};
    fx->SetString("ABCA", &area);
    ASSERT_EQ(fx->GetCharCount(), 4);
    TagCharacters(fx);
    const int32_t x[4] = {fx->GetChar(0)->x, fx->GetChar(1)->x, fx->GetChar(2)->x, fx->GetChar(3)->x};
    fx->SetDelay(10.0f);
    fx->SetTime(25.0f);
    fx->Update();
    ASSERT_EQ(g_calls[0].size(), 3u);
    EXPECT_EQ(g_calls[0][0].x, x[0]);
    EXPECT_FLOAT_EQ(g_calls[0][0].time, 25.0f);
    EXPECT_EQ(g_calls[0][1].x, x[1]);
    EXPECT_FLOAT_EQ(g_calls[0][1].time, 15.0f);
    EXPECT_EQ(g_calls[0][2].x, x[2]);
    EXPECT_FLOAT_EQ(g_calls[0][2].time, 5.0f);
    EXPECT_TRUE(fx->IsAllInPhase(0));

    // Finishing at t = 30, 20, 10 and 0 (a clock of 0 has started).
    g_finish = 1;
    fx->SetTime(30.0f);
    fx->Update();
    EXPECT_EQ(g_calls[0].size(), 7u);
    EXPECT_TRUE(fx->IsAllInPhase(1));
    EXPECT_FLOAT_EQ(fx->GetChar(3)->phaseStart, 0.0f);
    EXPECT_FLOAT_EQ(fx->GetChar(1)->phaseStart, 20.0f);
    // Phase 1 times count from each character's own phase start.
    g_finish = 0;
    fx->SetTime(32.0f);
    fx->Update();
    ASSERT_EQ(g_calls[1].size(), 4u);
    for (const Call& c : g_calls[1]) {
        EXPECT_FLOAT_EQ(c.time, 2.0f) << c.x;
    }

    // Callbacks that end their phase at once take a character through one
    // phase per update; a finished character is left alone and not drawn.
    g_finish = 1;
    fx->Update();
    EXPECT_TRUE(fx->IsAllInPhase(2));
    fx->Update();
    EXPECT_TRUE(fx->IsAllInPhase(3));
    const size_t calls = g_calls[2].size();
    fx->Update();
    EXPECT_EQ(g_calls[2].size(), calls);
    fx->Draw();
    EXPECT_EQ(font->GetSheetSprite(0)->GetPolygonCount(), 0u);

    // Without callbacks the phases end at once.
    OrvaFontFx* bare = OrvaFontFx::Create(font, nullptr, nullptr, nullptr);
    bare->SetString("AB", &area);
    for (int i = 0; i < 3; ++i) {
        bare->Update();
    }
    EXPECT_TRUE(bare->IsAllInPhase(3));
}

TEST_F(OrvaFontFxTest, StartAllAdvancePhaseAndReset)
{
    Open(8, 8);
    OrvaFontFx* fx = Make();
    EXPECT_TRUE(fx->IsAllInPhase(0));
    EXPECT_TRUE(fx->IsAllInPhase(2));
    const OrvaRect area{0, 0, 400, 100};
    fx->SetString("ABCA", &area);
    fx->SetDelay(10.0f);
    fx->SetTime(25.0f);
    // Every character in phase 0, started or not.
    fx->StartAll(&Start);
    ASSERT_EQ(g_started.size(), 4u);
    EXPECT_FLOAT_EQ(g_started[3], -5.0f);
    EXPECT_TRUE(fx->IsAllInPhase(1));
    EXPECT_FLOAT_EQ(fx->GetChar(2)->phaseStart, 5.0f);
    fx->StartAll(&Start);
    EXPECT_EQ(g_started.size(), 4u);

    fx->SetTime(40.0f);
    fx->AdvancePhase(1);
    EXPECT_TRUE(fx->IsAllInPhase(2));
    EXPECT_FLOAT_EQ(fx->GetChar(1)->phaseStart, 30.0f);
    EXPECT_FLOAT_EQ(fx->GetChar(1)->data.time, 30.0f - 15.0f);
    fx->AdvancePhase(0);
    fx->AdvancePhase(3);
    EXPECT_TRUE(fx->IsAllInPhase(2));
    fx->AdvancePhase(2);
    EXPECT_TRUE(fx->IsAllInPhase(3));

    EXPECT_TRUE(fx->Reset());
    EXPECT_TRUE(fx->IsAllInPhase(0));
    const OrvaFontFxChar* c = fx->GetChar(0);
    EXPECT_FLOAT_EQ(c->phaseStart, 0.0f);
    EXPECT_FLOAT_EQ(c->data.scaleX, 0.0f);
    EXPECT_FLOAT_EQ(c->data.offsetX, 0.0f);
    EXPECT_FLOAT_EQ(c->data.time, 0.0f);
    EXPECT_EQ(c->data.user[8], 0);
    EXPECT_EQ(c->data.colour, 0xFF00FF00u);
    EXPECT_STREQ(c->data.text, SJ_FULL_A);
    EXPECT_EQ(fx->Reserved(1, 2, 3), 0);
}

// Characters go where the pen is; half-width bytes become full-width
// characters; tags break lines, move the pen and place pictures; a line
// wraps once the pen reaches the right edge, and the text ends below the
// bottom.
TEST_F(OrvaFontFxTest, LaysOutCharactersTagsAndWraps)
{
    Open(8, 8);
    OrvaFontFx* fx = Make();
    const OrvaRect area{10, 20, 200, 100};
    auto at = [&](int32_t i) {
        const OrvaFontFxChar* c = fx->GetChar(i);
        return c != nullptr ? std::pair<int32_t, int32_t>{c->x, c->y} : std::pair<int32_t, int32_t>{-1, -1};
    };
    using P = std::pair<int32_t, int32_t>;

    fx->SetString("AB", &area);
    ASSERT_EQ(fx->GetCharCount(), 2);
    EXPECT_STREQ(fx->GetChar(0)->data.text, SJ_FULL_A);
    EXPECT_STREQ(fx->GetChar(1)->data.text, SJ_FULL_B);
    EXPECT_EQ(at(0), P(10, 20));
    EXPECT_EQ(at(1), P(10 + a.Advance(), 20));
    EXPECT_EQ(fx->GetChar(1)->b, b.b);
    EXPECT_EQ(fx->GetChar(1)->height, kSize);
    EXPECT_EQ(fx->GetChar(0)->data.colour, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(fx->GetChar(0)->data.scaleX, 0.0f);
    EXPECT_EQ(fx->GetChar(0)->image, -1);
    char line[96];
    std::snprintf(line, sizeof line, "○ OrvaFontFx [SetString] : CharCount 2 / %.3lf KByteUse\n",
                  2.0 * sizeof(OrvaFontFxChar) / 1024.0);
    EXPECT_NE(Log().find(line), std::string::npos);

    fx->SetCharSpacing(3);
    fx->SetString(SJ_FULL_A "[n]B[x:12]A[x12]B[y:-5]C[q:40]A", &area);
    ASSERT_EQ(fx->GetCharCount(), 6);
    const int32_t line2 = 20 + kSize + 2;
    EXPECT_EQ(at(0), P(10, 20));
    EXPECT_EQ(at(1), P(10, line2));
    EXPECT_EQ(at(2), P(10 + b.Advance() + 3 + 12, line2));
    EXPECT_EQ(at(3), P(at(2).first + a.Advance() + 3 + 2, line2));
    EXPECT_EQ(at(4), P(at(3).first + b.Advance() + 3, line2 - 5));
    fx->SetCharSpacing(0);

    // A voiced mark joins its katakana; a character without a glyph takes a
    // line height; a lead byte that ends the text is dropped, and so is an
    // unclosed tag with all after it.
    fx->SetString("\xB6\xDE" "A\x85\x40" "A\x82", &area);
    ASSERT_EQ(fx->GetCharCount(), 4);
    EXPECT_STREQ(fx->GetChar(0)->data.text, "\x83\x4B");
    EXPECT_EQ(at(3).first - at(2).first, kSize);
    fx->SetString("A[x:5 B", &area);
    EXPECT_EQ(fx->GetCharCount(), 1);

    // Reaching the right edge exactly wraps, the character moving down.
    fx->SetLineSpacing(4);
    const OrvaRect tight{10, 20, 10 + a.Advance() + b.Advance(), 100};
    fx->SetString("ABA", &tight);
    ASSERT_EQ(fx->GetCharCount(), 3);
    EXPECT_EQ(at(1), P(10, 20 + 4 + kSize));
    // The third, ending at the edge behind the second, wraps again.
    EXPECT_EQ(at(2), P(10, 20 + 2 * (4 + kSize)));
    // Below the bottom the text ends with the character that overran, left
    // at the end of its line.
    const OrvaRect low{10, 20, 10 + a.Advance() + b.Advance(), 30};
    fx->SetString("ABAB", &low);
    ASSERT_EQ(fx->GetCharCount(), 2);
    EXPECT_EQ(at(1), P(10 + a.Advance(), 20));
    fx->SetLineSpacing(0);

    // Pictures: centred on the line, as wide as their rectangle; numbers
    // outside 0 to 15 place nothing.
    const OrvaRect pic{0, 0, 6, 4};
    fx->SetImageRect(2, &pic);
    fx->SetImageRect(16, &pic);
    fx->SetImageRect(-1, &pic);
    fx->SetString("[t:2]A[t:99]B", &area);
    ASSERT_EQ(fx->GetCharCount(), 3);
    const OrvaFontFxChar* p = fx->GetChar(0);
    EXPECT_EQ(p->kind, OrvaFontFxChar::kPicture);
    EXPECT_EQ(p->image, 2);
    EXPECT_EQ(at(0), P(10, 20 + (kSize - 4) / 2));
    EXPECT_EQ(p->height, 4);
    EXPECT_EQ(p->b, 6);
    EXPECT_STREQ(p->data.text, "");
    EXPECT_EQ(at(1), P(16, 20));
    EXPECT_EQ(at(2), P(16 + a.Advance(), 20));
    EXPECT_NE(Log().find("エラー : OrvaFontFx の画像番号が範囲外です [99]\n"), std::string::npos);

    // Without an area the screen is the area.
    OrvaApplication::SetScreenSize(64, 48);
    fx->SetString("[x:7]A", nullptr);
    EXPECT_EQ(at(0), P(7, 0));

    fx->Clear();
    EXPECT_EQ(fx->GetCharCount(), 0);
    fx->SetString(nullptr, &area);
    EXPECT_EQ(fx->GetCharCount(), 0);
}

// Every printable ASCII byte becomes a full-width character that a font of
// the codes led by 0x81 and 0x82 (rows 1 to 4 of JIS X 0208: punctuation,
// symbols, digits, Latin letters, hiragana) holds, and its glyph reaches the
// frame: quotes too, whose full-width forms the code page keeps only among
// its extensions.
TEST_F(OrvaFontFxTest, EveryPrintableAsciiByteDrawsAGlyph)
{
    constexpr int32_t kLarge = 16;
    Open(256, 160);
    std::string codes;
    for (int lead = 0x81; lead <= 0x82; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail != 0x7F) {
                codes += static_cast<char>(lead);
                codes += static_cast<char>(trail);
            }
        }
    }
    OrvaFontBuffer* buffer = OrvaFontBuffer::CreateFromString(codes.c_str());
    OrvaFontSprite* large = OrvaFontSprite::CreateFromBuffer(buffer, 128, true, kGothic, kLarge, false, nullptr);
    buffer->Release();
    OrvaFontFx* fx = OrvaFontFx::Create(large, &Phase0, &Phase1, &Phase2);
    large->Release();
    // All but "[", which opens a tag.
    std::string ascii;
    for (char c = 0x21; c <= 0x7E; ++c) {
        if (c != '[') {
            ascii += c;
        }
    }
    const OrvaRect area{0, 0, 256, 160};
    fx->SetString(ascii.c_str(), &area);
    ASSERT_EQ(fx->GetCharCount(), static_cast<int32_t>(ascii.size()));
    g_setScale = 1.0f;
    fx->Update();
    DrawFrame(kClear, [&] {
        fx->Draw();
        fx->Render();
    });
    for (int32_t i = 0; i < fx->GetCharCount(); ++i) {
        const OrvaFontFxChar* c = fx->GetChar(i);
        const int32_t slot = OrvaFontSprite::GetCharIndex(OrvaSjis::StringToCode(c->data.text));
        ASSERT_NE(slot, -1) << ascii[i];
        EXPECT_NE(large->GetGlyph(slot)->sheet, -1) << ascii[i];
        ASSERT_LE(c->y + kLarge, g_frameHeight);
        int32_t ink = 0;
        for (int32_t y = c->y; y < c->y + kLarge; ++y) {
            for (int32_t x = c->x; x < c->x + c->b && x < g_frameWidth; ++x) {
                ink += Pixel(x, y) != kClear ? 1 : 0;
            }
        }
        EXPECT_GT(ink, 0) << ascii[i] << " at " << c->x << "," << c->y;
    }
}

// A character at scale 1 fills (x, y) to (x + B, y + font size); other scales
// grow its box about the centre; a character no callback has scaled yet
// shows nothing.
TEST_F(OrvaFontFxTest, DrawsCharactersIntoTheirBoxes)
{
    Open(48, 24);
    OrvaFontFx* fx = Make();
    const OrvaRect area{6, 5, 48, 24};
    fx->SetString("AB", &area);
    auto frameOf = [&](const std::function<void()>& body) {
        DrawFrame(kClear, body);
        return g_frame;
    };
    const std::vector<uint32_t> empty = frameOf([&] {
        fx->Draw();
        fx->Render();
    });
    EXPECT_EQ(empty, std::vector<uint32_t>(empty.size(), kClear));

    g_setScale = 1.0f;
    fx->Update();
    const std::vector<uint32_t> unit = frameOf([&] {
        fx->Draw();
        fx->Render();
    });
    const OrvaRect boxA{6, 5, 6 + a.b, 5 + kSize};
    const OrvaRect boxB{6 + a.Advance(), 5, 6 + a.Advance() + b.b, 5 + kSize};
    const std::vector<uint32_t> direct = frameOf([&] {
        font->Clear();
        font->DrawChar(SJ_FULL_A, &boxA, 0.0f, 0xFFFFFFFFu);
        font->DrawChar(SJ_FULL_B, &boxB, 0.0f, 0xFFFFFFFFu);
        font->Render();
    });
    EXPECT_EQ(unit, direct);
    EXPECT_NE(unit, empty);

    // Scale 2 about the box's centre, moved by the offsets (truncated).
    OrvaFontFxChar* first = fx->GetChar(0);
    first->data.scaleX = 2.0f;
    first->data.scaleY = 2.0f;
    first->data.offsetX = 1.9f;
    first->data.offsetY = -1.5f;
    fx->GetChar(1)->phase = OrvaFontFxChar::kFinished;
    const std::vector<uint32_t> grown = frameOf([&] {
        fx->Draw();
        fx->Render();
    });
    const int32_t cx = 1 + a.b / 2;
    const int32_t cy = -1 + kSize / 2;
    const OrvaRect big{6 + cx + (1 - cx) * 2, 5 + cy + (-1 - cy) * 2, 6 + cx + (1 + a.b - cx) * 2,
                       5 + cy + (-1 + kSize - cy) * 2};
    EXPECT_EQ(grown, frameOf([&] {
                  font->Clear();
                  font->DrawChar(SJ_FULL_A, &big, 0.0f, 0xFFFFFFFFu);
                  font->Render();
              }));

    // The colour and a turn about the box's (unscaled) centre.
    first->data.scaleX = 1.0f;
    first->data.scaleY = 1.0f;
    first->data.offsetX = 0.0f;
    first->data.offsetY = 0.0f;
    first->data.angle = 16384;
    first->data.colour = 0xFF00FF00u;
    const std::vector<uint32_t> turned = frameOf([&] {
        fx->Draw();
        fx->Render();
    });
    EXPECT_EQ(turned, frameOf([&] {
                  font->Clear();
                  font->DrawCharRotate(SJ_FULL_A, &boxA, 0.0f, 0xFF00FF00u, 16384, a.b / 2, kSize / 2);
                  font->Render();
              }));

    // A clip rectangle reaches the font sprite.
    first->data.angle = 0;
    const OrvaRect clip{0, 0, 0, 0};
    fx->SetClip(&clip);
    EXPECT_EQ(frameOf([&] {
                  fx->Draw();
                  fx->Render();
              }),
              empty);
    fx->SetClip(nullptr);
}

TEST_F(OrvaFontFxTest, PicturesDrawFromTheImageTexture)
{
    Open(20, 12);
    OrvaTexture* t = OrvaTexture::Create(4, 4, true, nullptr);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_EQ(t->Lock(&bits, &pitch), 1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const uint32_t texel = Texel(x, y);
            std::memcpy(static_cast<uint8_t*>(bits) + y * pitch + x * 4, &texel, 4);
        }
    }
    t->Unlock();
    t->Update();

    OrvaFontFx* fx = Make();
    const OrvaRect source{1, 0, 4, 3};
    fx->SetImageRect(0, &source);
    // Without an image batch pictures are laid out and skipped.
    const OrvaRect area{5, 2, 20, 12};
    fx->SetString("[t:0]", &area);
    g_setScale = 1.0f;
    fx->Update();
    fx->Draw();
    fx->Render();

    fx->SetImageTexture(t);
    ASSERT_NE(fx->GetImageSprite(), nullptr);
    EXPECT_EQ(fx->GetImageSprite()->GetTexture(0), t);
    DrawFrame(kClear, [&] {
        fx->Draw();
        fx->Render();
    });
    // A 3 x 3 picture on a line of 8: at (5, 2 + 2).
    for (int y = 0; y < g_frameHeight; ++y) {
        for (int x = 0; x < g_frameWidth; ++x) {
            const bool inside = x >= 5 && x < 8 && y >= 4 && y < 7;
            EXPECT_EQ(g_frame[static_cast<size_t>(y) * g_frameWidth + x], inside ? Texel(x - 5 + 1, y - 4) : kClear)
                << x << "," << y;
        }
    }

    // The picture batch holds 256 quads; more are dropped.
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += "[t:0]";
    }
    const OrvaRect wide{0, 0, 100000, 100};
    fx->SetString(many.c_str(), &wide);
    EXPECT_EQ(fx->GetCharCount(), 300);
    fx->Update();
    fx->Draw();
    EXPECT_EQ(fx->GetImageSprite()->GetPolygonCount(), 2u * OrvaFontFx::kImageQuads);
    // Replacing the texture replaces the batch.
    fx->SetImageTexture(t);
    EXPECT_EQ(OrvaSprite::GetCount(), 2);
    t->Release();
}

TEST_F(OrvaFontFxTest, LostDeviceAndResetKeepTheText)
{
    Open(32, 12);
    OrvaFontFx* fx = Make();
    const OrvaRect area{1, 1, 32, 12};
    fx->SetString("ABC", &area);
    g_setScale = 1.0f;
    fx->Update();
    auto draw = [&] {
        DrawFrame(kClear, [&] {
            fx->Draw();
            fx->Render();
        });
    };
    draw();
    const std::vector<uint32_t> before = g_frame;
    OrvaDevice::GetDevice()->SimulateLoss();
    ASSERT_TRUE(OrvaDevice::Reset());
    draw();
    EXPECT_EQ(g_frame, before);
    EXPECT_NE(before, std::vector<uint32_t>(before.size(), kClear));
}

TEST_F(OrvaFontFxTest, HoldsItsFontSpriteAndLogs)
{
    Open(4, 4);
    EXPECT_EQ(font->GetRefCount(), 1);
    OrvaFontFx* fx = Make();
    EXPECT_EQ(fx->GetFontSprite(), font);
    EXPECT_EQ(font->GetRefCount(), 2);
    char line[200];
    std::snprintf(line, sizeof line,
                  "○ Create OrvaFontFx / ID [%s] / FunctionAddress [%s] [%s] [%s] / UseMemory %dByte\n",
                  Hex(fx).c_str(), Hex(reinterpret_cast<const void*>(&Phase0)).c_str(),
                  Hex(reinterpret_cast<const void*>(&Phase1)).c_str(),
                  Hex(reinterpret_cast<const void*>(&Phase2)).c_str(), static_cast<int32_t>(sizeof(OrvaFontFx)));
    EXPECT_NE(Log().find(line), std::string::npos) << Log();
    const OrvaRect area{0, 0, 100, 100};
    fx->SetString("AB", &area);
    EXPECT_EQ(fx->Release(), 0);
    EXPECT_EQ(font->GetRefCount(), 1);
    EXPECT_NE(Log().find("● Release OrvaFontFx / ID [" + Hex(fx) + "]\n"), std::string::npos);

    // Without a font sprite nothing is laid out or drawn.
    OrvaFontFx* bare = OrvaFontFx::Create(nullptr, &Phase0, &Phase1, &Phase2);
    bare->SetString("AB", &area);
    EXPECT_EQ(bare->GetCharCount(), 0);
    bare->Draw();
    bare->Render();

    Make();
    EXPECT_EQ(OrvaFontFx::GetCount(), 2);
    OrvaFontFx::Destroy();
    EXPECT_EQ(OrvaFontFx::GetCount(), 0);
    EXPECT_EQ(font->GetRefCount(), 1);
    const std::string log = Log();
    EXPECT_NE(log.find("\n============================================== Destroy FontFx\n"), std::string::npos);
}
