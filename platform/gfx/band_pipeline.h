#pragma once
// The parts of a frame that the workers draw while the rest is still
// recorded. The drawing thread seals what it has recorded so far as a part;
// each band (tile) then runs the parts in the order they were sealed, the
// same entries in the same order as if the frame had been recorded whole,
// so where the frame is cut changes no pixel. Bands do not wait for one
// another: a band may run part k + 1 while another still runs part k, so
// the last part begins on every band as soon as that band is through the
// part before it, not when the whole part before it is done.
//
// A part may come with quads still to set up (RecordedFrame::deferred): the
// first thread to take it up sets them up, the whole part at once, and no
// band draws the part before that is done. Parts are set up in the order
// they were sealed, each once.
//
// Threads: Reset, FreePart, HasFreeSlot, Seal, Close, Pending and TakeCounts
// run on the drawing thread only; Drain runs on any thread, on many at once.
// Reset and TakeCounts need every Drain to have returned.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gfx/raster.h"

namespace platform {

class BandPipeline {
public:
    // Parts from FreePart sealed and not yet drawn on every band, at most.
    // A frame's last part, the caller's own frame, has a slot on top of
    // these: it is sealed as soon as recording ends, so that bands through
    // the parts before it go on with it at once rather than after the
    // oldest part is drawn everywhere. With threads keeping to their own
    // bands, the slowest band sets the pace: twelve parts let recording
    // run further ahead of it than eight, and sixteen gave no more.
    static constexpr int kParts = 12;
    // Slots parts sit in while bands draw them, at most kParts + 1 at once.
    // A power of two, so that when the count of parts sealed wraps around
    // its 32 bits, parts in flight still sit in slots of their own.
    static constexpr int kSlots = 16;
    static_assert((kSlots & (kSlots - 1)) == 0 && kSlots >= kParts + 1);

    // Sets the band count; nothing may be in flight.
    void Reset(int tileCount);
    int TileCount() const { return tiles; }

    // True when the next part can be sealed: the part sealed kParts before
    // it (kParts + 1 for a frame's `last` part) is drawn on every band.
    bool HasFreeSlot(bool last = false);
    // Storage for the next part, cleared, or null without a free slot.
    RecordedFrame* FreePart();
    // Hands `part` (the storage FreePart gave, or a frame that stays
    // untouched until nothing is Pending) to the bands, to be drawn into
    // `target`. Needs a free slot (HasFreeSlot(last)). The `last` part of a frame sets the
    // order threads take bands in once their own are done: its busiest
    // first, so that no thread starts a long band when the rest are about
    // to finish (sorting at every part would cost the drawing thread more
    // than it gives).
    // A part with quads to set up is changed by whoever sets them up.
    void Seal(RecordedFrame* part, const Target& target, int spanLevel, bool last);
    // Draws sealed parts on bands no other thread holds, until none is left
    // to take: first its own bands, `ownCount` of them from `ownFirst` (a
    // thread that draws the same bands part after part finds their pixels
    // in its cache). Until Close, a thread with bands of its own takes up
    // others' only when they are half the parts behind; after it, and on a
    // thread with none, any band more than a part behind, then the busiest
    // of the rest. With `waitMicros`, waits that long for another part
    // before it returns, unless Close is called.
    void Drain(int ownFirst, int ownCount, int waitMicros);
    // No part comes until the next Seal: drains waiting for one return.
    void Close() { closed.store(true, std::memory_order_release); }
    // True while some band has not drawn every sealed part.
    bool Pending();
    // Adds the primitives that set-up on other threads counted into the
    // parts from FreePart, and sets their counts back to zero.
    void TakeCounts(uint64_t* prims, uint64_t* fastPrims);

private:
    // A slot to a cache line (its part's readiness is written while the
    // bands read the slots of the parts before it).
    struct alignas(64) Slot {
        RecordedFrame* part = nullptr;
        Target target;
        int spanLevel = 0;
        bool last = false;
        // It came with quads to set up. Read before the part is taken up for
        // set-up, when the slot may already hold a later part.
        std::atomic<bool> deferred{false};
        // The part's number + 1 once its bins are whole; read by the bands
        // before they draw it.
        std::atomic<uint32_t> ready{0};
    };
    // Takes up, in order, the parts sealed before `limit` that nobody has
    // taken up for set-up yet, and sets up those with quads; true if it set
    // up any.
    bool SetUpBefore(uint32_t limit);
    // Orders the bands busiest first by the last part's bins.
    void SortBands(const RecordedFrame& part);
    // Draws every sealed part the band has not drawn; false if there was
    // none or another thread holds the band.
    bool DrainBand(int tile);
    // Parts drawn on every band, looked up afresh.
    uint32_t LeastDrawn();

    int tiles = 0;
    // Per band: the parts it has drawn (counted as `sealed` counts them,
    // moved on when its holder lets go of it), and whether a thread is
    // drawing it. Packed, so that a look for work over all bands reads a few
    // cache lines; a band's holder writes them once for all the parts it
    // draws in a row, not once a part.
    std::unique_ptr<std::atomic<uint32_t>[]> drawn;
    std::unique_ptr<std::atomic<uint32_t>[]> held;
    // The bands, busiest in the last part of the frame before first: the
    // order drains look in after their own bands. Rewritten at a last seal
    // while drains may read it; a drain that reads a mix of two orders
    // still finds every band on its look in plain order.
    std::unique_ptr<std::atomic<int32_t>[]> order;
    std::vector<int32_t> sortScratch;
    Slot slots[kSlots];
    // Each part on cache lines of its own: the thread that sets up a part
    // writes its vectors' ends for every primitive, while the bands read the
    // part before it.
    struct alignas(64) Storage {
        RecordedFrame part;
    };
    Storage storage[kParts];
    // Parts sealed since Reset; part n sits in slot n % kSlots and, if it
    // came from FreePart, in storage n % kParts.
    std::atomic<uint32_t> sealed{0};
    // What LeastDrawn gave last (drawing thread only).
    uint32_t leastDrawn = 0;
    std::atomic<bool> closed{false};
    // Parts taken up for set-up (the count runs as `sealed` does; parts
    // without quads are taken up as they are passed); set-ups under way;
    // set-ups done, which drains waiting for work look at beside `sealed`.
    std::atomic<uint32_t> setUpTaken{0};
    std::atomic<int32_t> settingUp{0};
    std::atomic<uint32_t> setUpDone{0};
};

}  // namespace platform
