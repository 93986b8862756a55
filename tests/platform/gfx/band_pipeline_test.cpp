#include "platform/gfx/band_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "platform/gfx/soft_device.h"
#include "tests/platform/gfx/gfx_test_util.h"

namespace {

using platform::BandPipeline;
using platform::ClearCmd;
using platform::RecordedFrame;
using platform::Target;

constexpr int kW = 37, kH = 93;   // bands of 16 rows, the last one short

struct Fill {
    int32_t left, top, right, bottom;   // exclusive ends
    uint32_t color;
};

// Fills of random rectangles, each its own colour, cut into parts of one
// to four fills; a later fill covers an earlier one wherever they overlap,
// so the picture shows the order each band drew them in.
std::vector<std::vector<Fill>> RandomParts(uint32_t seed, int count)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<Fill>> parts(static_cast<size_t>(count));
    uint32_t color = 0xFF000001u;
    for (std::vector<Fill>& part : parts) {
        const int fills = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < fills; ++i) {
            Fill f;
            f.left = static_cast<int32_t>(rng() % kW);
            f.top = static_cast<int32_t>(rng() % kH);
            // Small enough that fills from most parts stay in sight.
            f.right = std::min(kW, f.left + 1 + static_cast<int32_t>(rng() % 12));
            f.bottom = std::min(kH, f.top + 1 + static_cast<int32_t>(rng() % 20));
            f.color = color++;
            part.push_back(f);
        }
    }
    return parts;
}

void Record(RecordedFrame& part, const std::vector<Fill>& fills)
{
    part.Reset(kW, kH, 16);
    for (const Fill& f : fills) {
        ClearCmd cmd{f.left, f.top, f.right, f.bottom, platform::ClearTarget, f.color, 1.0f};
        part.Bin(platform::kBinClear | static_cast<uint32_t>(part.clears.size()), f.left, f.top, f.right - 1,
                 f.bottom - 1);
        part.clears.push_back(cmd);
    }
}

// A pipeline over a kW x kH target with `drainers` threads drawing it,
// each `ownBands` bands of its own first, until Finish.
class DrawnPipeline {
public:
    DrawnPipeline(int drainers, int ownBands) : pixels(static_cast<size_t>(kW) * kH, 0)
    {
        target.color = pixels.data();
        target.width = kW;
        target.height = kH;
        RecordedFrame shape;
        shape.Reset(kW, kH, 16);
        pipeline.Reset(shape.tilesX * shape.tilesY);
        for (int i = 0; i < drainers; ++i) {
            threads.emplace_back([this, i, ownBands] {
                while (!stop.load()) {
                    pipeline.Drain(i * ownBands, ownBands, 100);
                }
            });
        }
    }
    ~DrawnPipeline() { Finish(); }

    // A free part, the calling thread drawing while the ring is full.
    RecordedFrame* NextPart()
    {
        RecordedFrame* part = pipeline.FreePart();
        while (part == nullptr) {
            pipeline.Drain(0, 0, 0);
            part = pipeline.FreePart();
        }
        return part;
    }
    // Closes the frame, draws what nobody holds and lets the threads go.
    void Finish()
    {
        if (threads.empty() && stop.load()) {
            return;
        }
        pipeline.Close();
        pipeline.Drain(0, 0, 0);
        stop.store(true);
        for (std::thread& t : threads) {
            t.join();
        }
        threads.clear();
    }

    std::vector<uint32_t> pixels;
    Target target;
    BandPipeline pipeline;

private:
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
};

// Seals the parts as fast as slots free up while `drainers` threads draw
// them, the sealing thread drawing too whenever the ring is full.
std::vector<uint32_t> DrawParts(const std::vector<std::vector<Fill>>& parts, int drainers)
{
    DrawnPipeline run(drainers, 2);
    for (size_t i = 0; i < parts.size(); ++i) {
        RecordedFrame* part = run.NextPart();
        Record(*part, parts[i]);
        // Now and then the order the threads look in changes under them.
        run.pipeline.Seal(part, run.target, platform::kSpansGeneral, i % 7 == 0);
    }
    run.Finish();
    EXPECT_FALSE(run.pipeline.Pending());
    return run.pixels;
}

TEST(BandPipeline, EachBandDrawsThePartsInTheOrderTheyWereSealed)
{
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        const std::vector<std::vector<Fill>> parts = RandomParts(seed, 300);
        // What drawing the fills one after the other gives.
        std::vector<uint32_t> want(static_cast<size_t>(kW) * kH, 0);
        for (const std::vector<Fill>& part : parts) {
            for (const Fill& f : part) {
                for (int32_t y = f.top; y < f.bottom; ++y) {
                    for (int32_t x = f.left; x < f.right; ++x) {
                        want[static_cast<size_t>(y) * kW + x] = f.color;
                    }
                }
            }
        }
        // Fills from more parts show than the ring holds (four fills each
        // at most), so that a part drawn out of turn or lost would show.
        std::vector<uint32_t> shown;
        for (const uint32_t p : want) {
            if (std::find(shown.begin(), shown.end(), p) == shown.end()) {
                shown.push_back(p);
            }
        }
        EXPECT_GT(shown.size(), 4u * BandPipeline::kParts + 16u);
        for (const int drainers : {0, 2, 7}) {
            EXPECT_EQ(DrawParts(parts, drainers), want) << "seed " << seed << ", " << drainers << " threads drawing";
        }
    }
}

// A pipeline over a kW x kH target that no thread draws but the test's.
struct BareTarget {
    BareTarget() : pixels(static_cast<size_t>(kW) * kH, 0)
    {
        RecordedFrame shape;
        shape.Reset(kW, kH, 16);
        tiles = shape.tilesX * shape.tilesY;
        pipeline.Reset(tiles);
        target.color = pixels.data();
        target.width = kW;
        target.height = kH;
    }

    std::vector<uint32_t> pixels;
    Target target;
    BandPipeline pipeline;
    int tiles = 0;
};

TEST(BandPipeline, SlotsFreeOnlyWhenEveryBandHasDrawnTheirPart)
{
    BareTarget bare;
    BandPipeline& pipeline = bare.pipeline;
    std::vector<uint32_t>& pixels = bare.pixels;
    const Target& target = bare.target;
    EXPECT_FALSE(pipeline.Pending());
    for (int i = 0; i < BandPipeline::kParts; ++i) {
        RecordedFrame* part = pipeline.FreePart();
        ASSERT_NE(part, nullptr) << "part " << i;
        Record(*part, {{0, 0, kW, kH, 0xFF000000u + static_cast<uint32_t>(i)}});
        pipeline.Seal(part, target, platform::kSpansGeneral, i == 0);
        EXPECT_TRUE(pipeline.Pending());
    }
    // The ring is full until the oldest part is drawn everywhere, but for
    // a frame's last part, which has a slot of its own.
    EXPECT_FALSE(pipeline.HasFreeSlot());
    EXPECT_EQ(pipeline.FreePart(), nullptr);
    ASSERT_TRUE(pipeline.HasFreeSlot(true));
    RecordedFrame last;
    Record(last, {{0, 0, kW, kH, 0xFF0000FFu}});
    pipeline.Seal(&last, target, platform::kSpansGeneral, true);
    EXPECT_FALSE(pipeline.HasFreeSlot());
    EXPECT_FALSE(pipeline.HasFreeSlot(true));
    EXPECT_EQ(pipeline.FreePart(), nullptr);
    pipeline.Drain(0, 0, 0);
    EXPECT_FALSE(pipeline.Pending());
    EXPECT_TRUE(pipeline.HasFreeSlot());
    EXPECT_EQ(pixels[0], 0xFF0000FFu);
    EXPECT_EQ(pixels.back(), 0xFF0000FFu);
    // Storage and slots go round again, the last part's slot too.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < BandPipeline::kParts; ++i) {
            RecordedFrame* part = pipeline.FreePart();
            ASSERT_NE(part, nullptr) << "round " << round << ", part " << i;
            Record(*part, {{0, 0, kW, kH, 0xFF000100u * static_cast<uint32_t>(round + 1) + static_cast<uint32_t>(i)}});
            pipeline.Seal(part, target, platform::kSpansGeneral, false);
        }
        ASSERT_TRUE(pipeline.HasFreeSlot(true));
        const uint32_t color = 0xFF00FF00u + static_cast<uint32_t>(round);
        Record(last, {{0, 0, kW, kH, color}});
        pipeline.Seal(&last, target, platform::kSpansGeneral, true);
        pipeline.Drain(0, 0, 0);
        EXPECT_FALSE(pipeline.Pending());
        EXPECT_EQ(pixels[0], color);
        EXPECT_EQ(pixels.back(), color);
    }
}

TEST(BandPipeline, ThreadsKeepToTheirOwnBandsUntilTheLastPartIsIn)
{
    // A thread with bands of its own draws only those while parts still
    // come, and the others' once the pipeline is closed; bands whose own
    // thread never comes are drawn all the same once they hold half the
    // slots, so that sealing goes on.
    BareTarget bare;
    BandPipeline& pipeline = bare.pipeline;
    std::vector<uint32_t>& pixels = bare.pixels;
    const Target& target = bare.target;
    const int tiles = bare.tiles;
    ASSERT_EQ(tiles, 6);
    auto at = [&](int band) { return pixels[static_cast<size_t>(band) * 16 * kW]; };
    auto sealWhole = [&](RecordedFrame* part, uint32_t color, bool last) {
        ASSERT_NE(part, nullptr);
        Record(*part, {{0, 0, kW, kH, color}});
        pipeline.Seal(part, target, platform::kSpansGeneral, last);
    };
    // Bands 0 to 2 are this thread's, 3 to 5 an absent one's.
    sealWhole(pipeline.FreePart(), 0xFF000001u, false);
    sealWhole(pipeline.FreePart(), 0xFF000002u, false);
    pipeline.Drain(0, 3, 0);
    EXPECT_EQ(at(0), 0xFF000002u);
    EXPECT_EQ(at(2), 0xFF000002u);
    EXPECT_EQ(at(3), 0u);
    EXPECT_EQ(at(5), 0u);
    // The absent thread's bands fall behind until they are taken up, and
    // the slots they hold free again.
    for (uint32_t i = 3; i < 3 + 2 * BandPipeline::kParts; ++i) {
        ASSERT_TRUE(pipeline.HasFreeSlot()) << "part " << i;
        sealWhole(pipeline.FreePart(), 0xFF000000u + i, false);
        pipeline.Drain(0, 3, 0);
    }
    EXPECT_NE(at(3), 0u);
    // A worker waiting for more parts when the pipeline is closed goes on
    // to the bands that are not its own, and returns once every band has
    // drawn every part.
    std::thread worker([&] { pipeline.Drain(0, 3, 2000000); });
    RecordedFrame last;
    sealWhole(&last, 0xFF0000FFu, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pipeline.Close();
    worker.join();
    EXPECT_FALSE(pipeline.Pending());
    for (int band = 0; band < tiles; ++band) {
        EXPECT_EQ(at(band), 0xFF0000FFu) << "band " << band;
    }
    EXPECT_EQ(pixels.back(), 0xFF0000FFu);
}

// A square device drawing vertex colours blended over what is there, so
// that any change in the order of draws shows.
void MakeBlendingDevice(platform::SoftDevice& dev, int size, int threads)
{
    EXPECT_TRUE(gfxtest::MakeDevice(dev, size, size, threads));
    dev.SetTextureStageState(0, platform::TssColorOp, platform::TopSelectArg2);
    dev.SetTextureStageState(0, platform::TssAlphaOp, platform::TopSelectArg2);
    dev.SetRenderState(platform::RsAlphaBlendEnable, 1);
    dev.SetRenderState(platform::RsSrcBlend, platform::BlendSrcAlpha);
    dev.SetRenderState(platform::RsDestBlend, platform::BlendInvSrcAlpha);
    dev.SetVertexShader(0x44);
}

// Translucent rectangles each big enough to be handed to the workers on its
// own, blended so that any change of order shows, many times the ring's
// length per frame.
std::vector<uint32_t> RenderManyParts(int threads)
{
    constexpr int kSize = 64;
    platform::SoftDevice dev;
    MakeBlendingDevice(dev, kSize, threads);
    std::vector<uint32_t> frame;
    std::mt19937 rng(7);
    for (int round = 0; round < 2; ++round) {
        dev.BeginScene();
        dev.Clear(0, nullptr, platform::ClearTarget, 0xFF102030u, 1.0f, 0);
        for (int i = 0; i < 200; ++i) {
            const float x = static_cast<float>(rng() % 40) - 8.0f, y = static_cast<float>(rng() % 40) - 8.0f;
            const float w = 24.0f + static_cast<float>(rng() % 16), h = 24.0f + static_cast<float>(rng() % 16);
            const uint32_t color = 0x40000000u + (static_cast<uint32_t>(rng()) & 0xBFFFFFFFu);
            const gfxtest::ColorVertex v[6] = {{x, y, 0, 1, color},         {x + w, y, 0, 1, color},
                                               {x, y + h, 0, 1, color},     {x + w, y, 0, 1, color},
                                               {x + w, y + h, 0, 1, color}, {x, y + h, 0, 1, color}};
            EXPECT_EQ(dev.DrawPrimitiveUP(platform::PrimTriangleList, 2, v, sizeof(gfxtest::ColorVertex)),
                      platform::kGfxOk);
        }
        dev.EndScene();
        frame = gfxtest::Frame(dev);
    }
    return frame;
}

TEST(BandPipeline, ManySmallPartsGiveOneThreadsBytesOnAnyThreadCount)
{
    const std::vector<uint32_t> one = RenderManyParts(1);
    size_t changed = 0;
    for (const uint32_t p : one) {
        changed += p != 0xFF102030u;
    }
    EXPECT_GT(changed, one.size() / 2);
    for (const int threads : {3, 8}) {
        EXPECT_EQ(RenderManyParts(threads), one) << threads << " threads";
    }
}

// Parts of fills and sprites still to set up: each part some fills, then
// opaque quads of their own colours left for whichever thread takes the
// part up. A quad set up late or twice, or a band drawn before its part's
// quads are set up, shows in the picture or in the count of primitives.
struct QuadPart {
    std::vector<Fill> fills;
    std::vector<Fill> quads;
};

std::vector<QuadPart> RandomQuadParts(uint32_t seed, int count)
{
    std::mt19937 rng(seed);
    std::vector<QuadPart> parts(static_cast<size_t>(count));
    const std::vector<std::vector<Fill>> fills = RandomParts(seed * 7 + 1, count);
    const std::vector<std::vector<Fill>> quads = RandomParts(seed * 7 + 2, count);
    for (size_t i = 0; i < parts.size(); ++i) {
        // Some parts without quads, some with nothing else.
        if (rng() % 4 != 0) {
            parts[i].fills = fills[i];
        }
        if (rng() % 4 != 0 || parts[i].fills.empty()) {
            parts[i].quads = quads[i];
            for (Fill& q : parts[i].quads) {
                q.color = 0xFF800000u + (q.color & 0xFFFFu);
            }
        }
    }
    return parts;
}

platform::EvenQuad QuadOf(const Fill& f)
{
    platform::EvenQuad q;
    const float l = static_cast<float>(f.left), t = static_cast<float>(f.top);
    const float r = static_cast<float>(f.right), b = static_cast<float>(f.bottom);
    q.corner[0] = {l, t, 0.0f, 1.0f, 0.0f, 0.0f};
    q.corner[1] = {r, t, 0.0f, 1.0f, 0.0f, 0.0f};
    q.corner[2] = {r, b, 0.0f, 1.0f, 0.0f, 0.0f};
    q.corner[3] = {l, b, 0.0f, 1.0f, 0.0f, 0.0f};
    q.diffuse = f.color;
    return q;
}

// Records a part's fills, then its quads: set up at once when `now`, else
// left in the part's deferred quads.
void RecordWithQuads(RecordedFrame& part, const QuadPart& fills, bool now, uint32_t draw)
{
    Record(part, fills.fills);
    part.states.emplace_back();   // untextured, opaque: the quad's colour
    const platform::ClipBox box{0, 0, kW - 1, kH - 1};
    for (const Fill& f : fills.quads) {
        const platform::EvenQuad q = QuadOf(f);
        ASSERT_TRUE(platform::EvenQuadFits(part.states[0], q, nullptr));
        if (now) {
            ASSERT_TRUE(platform::SetupEvenQuad(part, 0, q, platform::CullNone, false, box));
        } else {
            platform::DeferredQuad& d = part.deferred.emplace_back();
            d.quad = q;
            d.state = 0;
            d.cullMode = platform::CullNone;
            d.box = box;
            d.draw = draw;
            part.empty = false;
        }
    }
}

struct QuadResult {
    std::vector<uint32_t> pixels;
    uint64_t prims = 0;
};

QuadResult DrawQuadParts(const std::vector<QuadPart>& parts, int drainers)
{
    DrawnPipeline run(drainers, 1);
    BandPipeline& pipeline = run.pipeline;
    // The last part of each run of 40 is a frame of its own, as the
    // device's last part is, and is waited for before the next run.
    RecordedFrame last;
    uint64_t lastPrims = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool isLast = i % 40 == 39;
        RecordedFrame* part = isLast ? &last : run.NextPart();
        RecordWithQuads(*part, parts[i], false, static_cast<uint32_t>(i));
        if (isLast) {
            while (!pipeline.HasFreeSlot(true)) {
                pipeline.Drain(0, 0, 0);
            }
            last.primCount = 0;
        }
        pipeline.Seal(part, run.target, platform::kSpansGeneral, isLast);
        if (isLast) {
            pipeline.Close();
            while (pipeline.Pending()) {
                pipeline.Drain(0, 0, 0);
            }
            EXPECT_TRUE(last.deferred.empty());
            lastPrims += last.primCount;
        }
    }
    pipeline.Close();
    while (pipeline.Pending()) {
        pipeline.Drain(0, 0, 0);
    }
    run.Finish();
    QuadResult result;
    pipeline.TakeCounts(&result.prims, &result.prims);
    result.prims += lastPrims;
    result.pixels = run.pixels;
    return result;
}

TEST(BandPipeline, QuadsLeftForSetUpAreSetUpOnceAndDrawnInTurn)
{
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        const std::vector<QuadPart> parts = RandomQuadParts(seed, 400);
        // One thread: each part set up as it is recorded and drawn whole.
        RecordedFrame one;
        std::vector<uint32_t> want(static_cast<size_t>(kW) * kH, 0);
        Target target;
        target.color = want.data();
        target.width = kW;
        target.height = kH;
        uint64_t quads = 0;
        for (const QuadPart& part : parts) {
            RecordWithQuads(one, part, true, 0);
            quads += part.quads.size();
            for (int tile = 0; tile < one.tilesX * one.tilesY; ++tile) {
                platform::RunTile(one, target, tile, platform::kSpansGeneral);
            }
        }
        size_t quadPixels = 0;
        for (const uint32_t p : want) {
            quadPixels += (p & 0xFFFF0000u) == 0xFF800000u;
        }
        ASSERT_GT(quadPixels, want.size() / 8) << "quads in sight";
        for (const int drainers : {0, 2, 7}) {
            const QuadResult got = DrawQuadParts(parts, drainers);
            EXPECT_EQ(got.pixels, want) << "seed " << seed << ", " << drainers << " threads drawing";
            EXPECT_EQ(got.prims, quads) << "seed " << seed << ", " << drainers << " threads drawing";
        }
    }
}

// Sprite draws, where other threads set the sprites up, between other draws
// and clears that the drawing thread records itself: the same bytes on any
// thread count.
std::vector<uint32_t> RenderSpritesAmongOthers(int threads, uint64_t* prims)
{
    constexpr int kSize = 96;
    platform::SoftDevice dev;
    MakeBlendingDevice(dev, kSize, threads);
    std::mt19937 rng(11);
    std::vector<uint32_t> frame;
    for (int round = 0; round < 2; ++round) {
        dev.BeginScene();
        dev.Clear(0, nullptr, platform::ClearTarget, 0xFF203040u, 1.0f, 0);
        for (int batch = 0; batch < 30; ++batch) {
            // A draw of sprites, some not upright (a triangle pair that
            // makes no rectangle goes the general way mid-draw). Many are
            // handed to the workers during the draw and after it; a few too
            // small to be worth it stay in the frame for what comes next.
            std::vector<gfxtest::ColorVertex> v;
            const bool few = batch % 2 == 0;
            const int sprites = few ? 2 : 20 + static_cast<int>(rng() % 20);
            for (int i = 0; i < sprites; ++i) {
                const float x = static_cast<float>(rng() % 80) - 8.0f, y = static_cast<float>(rng() % 80) - 8.0f;
                const float size = few ? 16.0f : 32.0f;
                const float w = 8.0f + static_cast<float>(rng() % 8) * (size - 8.0f) / 8.0f;
                const float h = 8.0f + static_cast<float>(rng() % 8) * (size - 8.0f) / 8.0f;
                const float skew = rng() % 5 == 0 ? 3.0f : 0.0f;
                const uint32_t color = 0x50000000u + (static_cast<uint32_t>(rng()) & 0xAFFFFFFFu);
                const gfxtest::ColorVertex q[6] = {{x, y, 0, 1, color},         {x + w, y, 0, 1, color},
                                                   {x + w + skew, y + h, 0, 1, color}, {x + w + skew, y + h, 0, 1, color},
                                                   {x, y + h, 0, 1, color},     {x, y, 0, 1, color}};
                v.insert(v.end(), q, q + 6);
            }
            EXPECT_EQ(dev.DrawPrimitiveUP(platform::PrimTriangleList, static_cast<uint32_t>(v.size() / 3), v.data(),
                                          sizeof(gfxtest::ColorVertex)),
                      platform::kGfxOk);
            switch (batch % 4) {
            case 0: {
                // A fan the drawing thread sets up itself.
                const uint32_t c = 0x80FF8000u + batch;
                const gfxtest::ColorVertex fan[4] = {
                    {10, 10, 0, 1, c}, {80, 20, 0, 1, c}, {70, 85, 0, 1, c}, {15, 60, 0, 1, c}};
                EXPECT_EQ(dev.DrawPrimitiveUP(platform::PrimTriangleFan, 2, fan, sizeof(gfxtest::ColorVertex)),
                          platform::kGfxOk);
                break;
            }
            case 2: {
                const platform::Rect r{static_cast<int32_t>(rng() % 40), static_cast<int32_t>(rng() % 40),
                                       60 + static_cast<int32_t>(rng() % 30), 60 + static_cast<int32_t>(rng() % 30)};
                dev.Clear(1, &r, platform::ClearTarget, 0xFF000000u | rng(), 1.0f, 0);
                break;
            }
            default: break;
            }
        }
        dev.EndScene();
        frame = gfxtest::Frame(dev);
    }
    *prims = dev.GetStats().primitives;
    return frame;
}

TEST(BandPipeline, SpritesLeftForSetUpKeepTheirPlaceAmongOtherDraws)
{
    uint64_t onePrims = 0;
    const std::vector<uint32_t> one = RenderSpritesAmongOthers(1, &onePrims);
    EXPECT_GT(onePrims, 1000u);
    for (const int threads : {2, 8}) {
        uint64_t prims = 0;
        EXPECT_EQ(RenderSpritesAmongOthers(threads, &prims), one) << threads << " threads";
        EXPECT_EQ(prims, onePrims) << threads << " threads";
    }
}

}  // namespace
