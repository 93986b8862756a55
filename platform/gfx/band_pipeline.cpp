#include "platform/gfx/band_pipeline.h"

#include <algorithm>
#include <chrono>
#include <emmintrin.h>
#include <thread>

namespace platform {

void BandPipeline::Reset(int tileCount)
{
    tiles = tileCount > 0 ? tileCount : 0;
    drawn = std::make_unique<std::atomic<uint32_t>[]>(static_cast<size_t>(tiles));
    held = std::make_unique<std::atomic<uint32_t>[]>(static_cast<size_t>(tiles));
    order = std::make_unique<std::atomic<int32_t>[]>(static_cast<size_t>(tiles));
    for (int t = 0; t < tiles; ++t) {
        drawn[t].store(0);
        held[t].store(0);
        order[t].store(t);
    }
    for (int s = 0; s < kSlots; ++s) {
        // As if the part before the first in each slot were ready.
        slots[s].part = nullptr;
        slots[s].ready.store(static_cast<uint32_t>(s - kSlots + 1));
    }
    setUpTaken.store(0);
    settingUp.store(0);
    setUpDone.store(0);
    for (Storage& kept : storage) {
        kept.part.Clear();
    }
    sealed.store(0);
    leastDrawn = 0;
    closed.store(false);
}

uint32_t BandPipeline::LeastDrawn()
{
    // Counts are compared by how far each is behind `sealed`, which no
    // band passes, so that they may wrap.
    const uint32_t n = sealed.load(std::memory_order_relaxed);
    uint32_t behind = 0;
    for (int t = 0; t < tiles; ++t) {
        // Acquire: a band counted as through a part is done reading it.
        behind = std::max(behind, n - drawn[t].load(std::memory_order_acquire));
    }
    leastDrawn = n - behind;
    return leastDrawn;
}

bool BandPipeline::HasFreeSlot(bool last)
{
    // The next part's storage held part n - kParts at the latest; a last
    // part takes no storage, and one more part may be in flight with it.
    const uint32_t n = sealed.load(std::memory_order_relaxed);
    const uint32_t limit = last ? kParts + 1 : kParts;
    return tiles > 0 && (n - leastDrawn < limit || n - LeastDrawn() < limit);
}

RecordedFrame* BandPipeline::FreePart()
{
    if (!HasFreeSlot()) {
        return nullptr;
    }
    RecordedFrame& part = storage[sealed.load(std::memory_order_relaxed) % kParts].part;
    part.Clear();
    return &part;
}

void BandPipeline::SortBands(const RecordedFrame& part)
{
    // One last part is in flight at a time: the scratch is its own.
    sortScratch.resize(static_cast<size_t>(tiles));
    for (int t = 0; t < tiles; ++t) {
        sortScratch[static_cast<size_t>(t)] = t;
    }
    std::stable_sort(sortScratch.begin(), sortScratch.end(), [&part](int32_t a, int32_t b) {
        return part.bins[static_cast<size_t>(a)].size() > part.bins[static_cast<size_t>(b)].size();
    });
    for (int t = 0; t < tiles; ++t) {
        order[t].store(sortScratch[static_cast<size_t>(t)], std::memory_order_relaxed);
    }
}

void BandPipeline::Seal(RecordedFrame* part, const Target& target, int spanLevel, bool last)
{
    const bool deferred = !part->deferred.empty();
    if (last && !deferred) {
        SortBands(*part);
    }
    const uint32_t n = sealed.load(std::memory_order_relaxed);
    // The part last in this slot is drawn on every band; if it had no
    // quads, nobody may have taken it up for set-up yet. Taken up here (no
    // work), so that nobody who takes it up later finds this part in its
    // slot instead.
    const uint32_t previous = n - kSlots;
    while (static_cast<int32_t>(previous + 1 - setUpTaken.load(std::memory_order_acquire)) > 0) {
        SetUpBefore(previous + 1);
    }
    Slot& slot = slots[n % kSlots];
    slot.part = part;
    slot.target = target;
    slot.spanLevel = spanLevel;
    slot.last = last;
    slot.deferred.store(deferred, std::memory_order_relaxed);
    if (!deferred) {
        slot.ready.store(n + 1, std::memory_order_relaxed);
    }
    closed.store(false, std::memory_order_relaxed);
    // Publishes the slot: a thread that sees the new count sees its fields.
    sealed.store(n + 1, std::memory_order_release);
}

bool BandPipeline::Pending()
{
    return tiles > 0 && LeastDrawn() != sealed.load(std::memory_order_relaxed);
}

void BandPipeline::TakeCounts(uint64_t* prims, uint64_t* fastPrims)
{
    for (Storage& kept : storage) {
        *prims += kept.part.primCount;
        *fastPrims += kept.part.fastPrimCount;
        kept.part.primCount = 0;
        kept.part.fastPrimCount = 0;
    }
}

bool BandPipeline::SetUpBefore(uint32_t limit)
{
    bool any = false;
    uint32_t n = setUpTaken.load(std::memory_order_acquire);
    // Counted as under way before the part is taken, so that a drain that
    // finds none under way and no set-up done since its look has not missed
    // one about to start.
    settingUp.fetch_add(1, std::memory_order_acq_rel);
    while (static_cast<int32_t>(limit - n) > 0) {
        // Whether part n has quads, read before it is taken: once it is
        // taken, the drawing thread may seal another part into its slot
        // (Seal) unless it has quads, which keep it there until drawn.
        Slot& slot = slots[n % kSlots];
        const bool deferred = slot.deferred.load(std::memory_order_relaxed);
        if (!setUpTaken.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
            continue;
        }
        if (deferred) {
            SetUpDeferred(*slot.part);
            if (slot.last) {
                SortBands(*slot.part);
            }
            // Release: a band that sees the part ready sees its bins.
            slot.ready.store(n + 1, std::memory_order_release);
            setUpDone.fetch_add(1, std::memory_order_release);
            any = true;
        }
        ++n;
    }
    settingUp.fetch_sub(1, std::memory_order_release);
    return any;
}

bool BandPipeline::DrainBand(int tile)
{
    if (drawn[tile].load(std::memory_order_relaxed) == sealed.load(std::memory_order_acquire) ||
        held[tile].exchange(1, std::memory_order_acquire) != 0) {
        return false;
    }
    bool any = false;
    for (;;) {
        // Only the holder moves the count on.
        uint32_t d = drawn[tile].load(std::memory_order_relaxed);
        bool waiting = false;
        for (; d != sealed.load(std::memory_order_acquire); ++d) {
            const Slot& slot = slots[d % kSlots];
            // Acquire: the part's set-up is seen whole.
            if (slot.ready.load(std::memory_order_acquire) != d + 1) {
                // Its set-up is still to do (done here, with any before
                // it) or under way on another thread, which draws on after
                // it; the band is let go rather than waited on.
                any = SetUpBefore(d + 1) || any;
                if (slot.ready.load(std::memory_order_acquire) != d + 1) {
                    waiting = true;
                    break;
                }
            }
            RunTile(*slot.part, slot.target, tile, slot.spanLevel);
            any = true;
        }
        // Release: the drawing thread reuses a slot only after every band
        // is through reading it, and the next holder sees this band's
        // pixels as left here.
        drawn[tile].store(d, std::memory_order_release);
        held[tile].store(0, std::memory_order_release);
        // A part sealed after the last look, by a thread that then found the
        // band held, would be left for nobody: look once more.
        // One waiting for a set-up is taken up again when that is done.
        if (waiting || d == sealed.load(std::memory_order_acquire) ||
            held[tile].exchange(1, std::memory_order_acquire) != 0) {
            return any;
        }
    }
}

void BandPipeline::Drain(int ownFirst, int ownCount, int waitMicros)
{
    if (tiles == 0) {
        return;
    }
    const int first = std::clamp(ownFirst, 0, tiles);
    const int last = std::clamp(ownFirst + ownCount, first, tiles);
    for (;;) {
        const uint32_t seen = sealed.load(std::memory_order_acquire);
        const uint32_t seenDone = setUpDone.load(std::memory_order_acquire);
        // Set-up first: every band waits for it.
        bool any = static_cast<int32_t>(seen - setUpTaken.load(std::memory_order_relaxed)) > 0 && SetUpBefore(seen);
        for (int tile = first; tile < last; ++tile) {
            any = DrainBand(tile) || any;
        }
        // While recording goes on, a thread with bands of its own draws only
        // those: a band drawn by another thread brings its pixels over from
        // the core that drew it last, which can cost more than drawing the
        // part there.
        // A band more than half the parts behind is taken up all the same,
        // between a thread's own bands: its own thread is slow or was put
        // aside by the system, and left alone the band would hold every
        // slot and draw its backlog only after recording ends. Once the
        // last part is in (Close), and on a thread without bands of its
        // own, any band more than a part behind is, and idle threads take
        // up any band. Threads look from different bands on, so that they
        // seldom reach for the same one.
        const bool ownOnly = last > first && !closed.load(std::memory_order_acquire);
        const int32_t farBehind = ownOnly ? kParts / 2 : 1;
        for (int i = 0; i < tiles; ++i) {
            const int tile = last + i < tiles ? last + i : last + i - tiles;
            if (static_cast<int32_t>(seen - drawn[tile].load(std::memory_order_relaxed)) > farBehind) {
                any = DrainBand(tile) || any;
            }
        }
        if (!any && !ownOnly) {
            for (int i = 0; i < tiles; ++i) {
                any = DrainBand(order[i].load(std::memory_order_relaxed)) || any;
            }
        }
        if (!any && !ownOnly) {
            for (int tile = 0; tile < tiles; ++tile) {
                any = DrainBand(tile) || any;
            }
        }
        if (any) {
            continue;
        }
        if (waitMicros <= 0) {
            return;
        }
        // Recording goes on: the next part is likely a few tens of
        // microseconds away, cheaper to wait for than to be woken for. A
        // worker that left now could not come back before the job ends, and
        // one left behind would draw the rest of the frame alone. After the
        // first stretch the wait gives the core away between looks, for the
        // recording thread or anyone else who wants it.
        const auto start = std::chrono::steady_clock::now();
        const auto limit = std::chrono::microseconds(waitMicros);
        const auto spinOnly = std::chrono::microseconds(std::min(waitMicros, 50));
        for (;;) {
            auto news = [&] {
                return sealed.load(std::memory_order_relaxed) != seen ||
                       setUpDone.load(std::memory_order_relaxed) != seenDone;
            };
            for (int i = 0; i < 64; ++i) {
                if (news() || closed.load(std::memory_order_relaxed)) {
                    break;
                }
                _mm_pause();
            }
            if (news()) {
                break;
            }
            const auto waited = std::chrono::steady_clock::now() - start;
            if (waited > limit) {
                return;
            }
            // Closed: a thread that kept to its own bands looks at the
            // others' once more. After that, only a set-up under way can
            // bring more to draw.
            if (ownOnly && closed.load(std::memory_order_acquire)) {
                break;
            }
            if (closed.load(std::memory_order_acquire) && settingUp.load(std::memory_order_acquire) == 0) {
                if (news()) {
                    break;
                }
                return;
            }
            if (waited > spinOnly) {
                std::this_thread::yield();
            }
        }
    }
}

}  // namespace platform
