// The host's admission review: deadlines, the per-address allowance and
// the free-slot reserve.
#include "platform/net/admission.h"

#include <algorithm>

namespace platform {

void Admission::Review(const Slot* slots, size_t count, Clock::time_point now, SlotVerdict* out)
{
    count = std::min(count, kSlots);
    // Slots still kept that have not joined, for the two rules that rank them.
    size_t open[kSlots];
    size_t openCount = 0;
    size_t free = 0;
    for (size_t i = 0; i < count; ++i) {
        out[i] = SlotVerdict::Keep;
        if (slots[i].state != SlotState::Joining && slots[i].state != SlotState::Leaving) {
            seen[i].seen = false;
            free += slots[i].state == SlotState::Free ? 1 : 0;
            continue;
        }
        Seen& slot = seen[i];
        if (!slot.seen || slot.connection != slots[i].connection) {
            slot = Seen{true, false, false, slots[i].connection, now, {}, {}};
        }
        if (slots[i].linked && !slot.linked) {
            slot.linked = true;
            slot.linkedSince = now;
        }
        const Clock::duration roundTrip =
            std::min<Clock::duration>(std::chrono::milliseconds(slots[i].roundTripMs), kMaxRoundTrip);
        // A refused connection has sent its join request: only how long
        // its answer takes to be delivered counts.
        if (slots[i].state == SlotState::Leaving) {
            if (!slot.refused) {
                slot.refused = true;
                slot.refusedSince = now;
            }
            if (now - slot.refusedSince >= kJoinDeadline + kRefusalRoundTrips * roundTrip) {
                out[i] = SlotVerdict::Refused;
                continue;
            }
            open[openCount++] = i;
            continue;
        }
        if (!slot.linked && now - slot.since >= kHandshakeDeadline) {
            out[i] = SlotVerdict::Stalled;
            continue;
        }
        if (slot.linked && now - slot.linkedSince >= kJoinDeadline + roundTrip) {
            out[i] = SlotVerdict::Late;
            continue;
        }
        open[openCount++] = i;
    }

    // Newer first; of two seen at once, the later slot counts as newer.
    auto newer = [this](size_t a, size_t b) {
        return seen[a].since != seen[b].since ? seen[a].since > seen[b].since : a > b;
    };

    // Per address, the newest stay: a real joiner is the newest connection
    // from its address until it has been judged, whatever else that
    // address sends.
    size_t pending[kSlots];
    size_t pendingCount = 0;
    for (size_t k = 0; k < openCount; ++k) {
        if (slots[open[k]].state == SlotState::Joining) {
            pending[pendingCount++] = open[k];
        }
    }
    std::sort(pending, pending + pendingCount, [&](size_t a, size_t b) {
        return slots[a].address != slots[b].address ? slots[a].address < slots[b].address : newer(a, b);
    });
    for (size_t k = 0, run = 0; k < pendingCount; ++k) {
        run = (k > 0 && slots[pending[k]].address == slots[pending[k - 1]].address) ? run + 1 : 0;
        if (run >= kMaxPendingPerAddress) {
            out[pending[k]] = SlotVerdict::Crowded;
        }
    }

    // Every slot given up above is free again for the next newcomer.
    for (size_t i = 0; i < count; ++i) {
        free += out[i] != SlotVerdict::Keep ? 1 : 0;
    }
    if (free >= kFreeReserve) {
        return;
    }
    // Those already refused go first, then the oldest.
    size_t victims[kSlots];
    size_t victimCount = 0;
    for (size_t k = 0; k < openCount; ++k) {
        if (out[open[k]] == SlotVerdict::Keep) {
            victims[victimCount++] = open[k];
        }
    }
    std::sort(victims, victims + victimCount, [&](size_t a, size_t b) {
        bool leavingA = slots[a].state == SlotState::Leaving;
        bool leavingB = slots[b].state == SlotState::Leaving;
        return leavingA != leavingB ? leavingA : newer(b, a);
    });
    for (size_t k = 0; k < victimCount && free < kFreeReserve; ++k, ++free) {
        out[victims[k]] = SlotVerdict::Room;
    }
}

void Admission::Reset()
{
    for (Seen& slot : seen) {
        slot = Seen{};
    }
}

}  // namespace platform
