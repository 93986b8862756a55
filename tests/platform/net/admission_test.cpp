#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

#include "platform/net/admission.h"

using namespace platform;
using std::chrono::milliseconds;

namespace {

using Clock = Admission::Clock;
const Clock::time_point kStart{};

// A host's slots, and the reviews the host makes of them every few
// milliseconds.
class Slots {
public:
    Slots() : slots(Admission::kSlots) {}

    // Puts a new connection into slot i, its handshake finished unless it
    // says otherwise.
    void Put(size_t i, SlotState state, uint32_t address, bool linked = true, uint32_t roundTripMs = 0)
    {
        slots[i] = Admission::Slot{state, address, ++connections, linked, roundTripMs};
    }
    // Puts a new connection into slot i and reviews at start + atMs.
    std::vector<SlotVerdict> Add(size_t i, SlotState state, uint32_t address, int atMs)
    {
        Put(i, state, address);
        return Review(atMs);
    }
    std::vector<SlotVerdict> Review(int atMs)
    {
        std::vector<SlotVerdict> verdicts(slots.size());
        admission.Review(slots.data(), slots.size(), kStart + milliseconds(atMs), verdicts.data());
        // The host gives up what it is told to.
        for (size_t i = 0; i < slots.size(); ++i) {
            if (verdicts[i] != SlotVerdict::Keep) {
                slots[i] = Admission::Slot{};
            }
        }
        return verdicts;
    }

    std::vector<Admission::Slot> slots;

private:
    Admission admission;
    uint32_t connections = 0;
};

}  // namespace

TEST(Admission, KeepsTheNewestFewFromEachAddress)
{
    Slots host;
    const uint32_t busy = 0x7F000002;
    // Seven connections from one address, a millisecond apart, with one from
    // another address and one from the same address that is being refused.
    host.Add(20, SlotState::Leaving, busy, 0);
    host.Add(21, SlotState::Joining, 0x7F000003, 0);
    std::vector<SlotVerdict> verdicts;
    for (int n = 0; n < 7; ++n) {
        verdicts = host.Add(static_cast<size_t>(n), SlotState::Joining, busy, n + 1);
    }
    // Only the newest four of that address stay: the last review gave up
    // slot 2, those before it slots 0 and 1.
    EXPECT_EQ(verdicts[2], SlotVerdict::Crowded);
    for (size_t i = 3; i < 7; ++i) {
        EXPECT_EQ(verdicts[i], SlotVerdict::Keep) << i;
    }
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(host.slots[i].state, SlotState::Free) << i;
    }
    EXPECT_EQ(verdicts[20], SlotVerdict::Keep);
    EXPECT_EQ(verdicts[21], SlotVerdict::Keep);
}

TEST(Admission, GivesUpConnectionsThatHaveNotJoinedByTheDeadline)
{
    auto ms = [](Clock::duration d) { return static_cast<int>(std::chrono::duration_cast<milliseconds>(d).count()); };
    const int deadlineMs = ms(Admission::kJoinDeadline);
    const int handshakeMs = ms(Admission::kHandshakeDeadline);
    const int maxRoundTripMs = ms(Admission::kMaxRoundTrip);
    constexpr uint32_t kRoundTripMs = 600;
    const int refusalMs = deadlineMs + Admission::kRefusalRoundTrips * static_cast<int>(kRoundTripMs);
    const int longestRefusalMs = deadlineMs + Admission::kRefusalRoundTrips * maxRoundTripMs;
    // Seen at 0, linked (when it is) at linkedMs, refused (when it is) at
    // refusedMs; the join deadline runs from the handshake, with the link's
    // round trip (up to the most allowed for) added, and a refused
    // connection's from its refusal, with a few round trips added.
    struct Case {
        SlotState state;
        int linkedMs;   // -1: never linked
        int refusedMs;  // -1: not turned Leaving later
        uint32_t roundTripMs;
        int reviewMs;
        SlotVerdict expected;
    } cases[] = {
        {SlotState::Joining, 0, -1, 0, deadlineMs - 1, SlotVerdict::Keep},
        {SlotState::Joining, 0, -1, 0, deadlineMs, SlotVerdict::Late},
        {SlotState::Busy, 0, -1, 0, 10 * handshakeMs, SlotVerdict::Keep},
        {SlotState::Joining, 1200, -1, 1200, 1200 + deadlineMs + 1199, SlotVerdict::Keep},
        {SlotState::Joining, 1200, -1, 1200, 1200 + deadlineMs + 1200, SlotVerdict::Late},
        {SlotState::Joining, 0, -1, 60000, deadlineMs + maxRoundTripMs, SlotVerdict::Late},
        {SlotState::Joining, -1, -1, 0, handshakeMs - 1, SlotVerdict::Keep},
        {SlotState::Joining, -1, -1, 0, handshakeMs, SlotVerdict::Stalled},
        {SlotState::Joining, 0, 900, kRoundTripMs, 900 + refusalMs - 1, SlotVerdict::Keep},
        {SlotState::Joining, 0, 900, kRoundTripMs, 900 + refusalMs, SlotVerdict::Refused},
        {SlotState::Leaving, 0, -1, 60000, longestRefusalMs - 1, SlotVerdict::Keep},
        {SlotState::Leaving, 0, -1, 60000, longestRefusalMs, SlotVerdict::Refused},
    };
    for (const Case& c : cases) {
        Slots host;
        host.Put(0, c.state, 1, c.linkedMs == 0, c.roundTripMs);
        EXPECT_EQ(host.Review(0)[0], SlotVerdict::Keep);
        auto turn = [&](int atMs, auto change) {
            EXPECT_EQ(host.Review(atMs - 1)[0], SlotVerdict::Keep);
            change();
            EXPECT_EQ(host.Review(atMs)[0], SlotVerdict::Keep);
        };
        if (c.linkedMs > 0) {
            turn(c.linkedMs, [&] { host.slots[0].linked = true; });
        }
        if (c.refusedMs > 0) {
            turn(c.refusedMs, [&] { host.slots[0].state = SlotState::Leaving; });
        }
        EXPECT_EQ(host.Review(c.reviewMs)[0], c.expected) << static_cast<int>(c.state) << " linked at " << c.linkedMs
                                                          << ", refused at " << c.refusedMs << ", reviewed at "
                                                          << c.reviewMs;
    }
    // A new connection in the slot starts its own deadline.
    Slots host;
    host.Add(0, SlotState::Joining, 1, 0);
    host.Add(0, SlotState::Joining, 1, deadlineMs / 2);
    EXPECT_EQ(host.Review(deadlineMs)[0], SlotVerdict::Keep);
    EXPECT_EQ(host.Review(deadlineMs / 2 + deadlineMs)[0], SlotVerdict::Late);
}

TEST(Admission, KeepsSlotsFreeByGivingUpTheOldest)
{
    // Ten players, then one connection from each of as many addresses as
    // there are slots left: the upper half first, then the lower half, of
    // which three are being refused.
    Slots host;
    const size_t players = 10;
    const size_t half = Admission::kSlots / 2;
    for (size_t i = 0; i < players; ++i) {
        host.Put(i, SlotState::Busy, 1);
    }
    for (size_t i = half; i < Admission::kSlots; ++i) {
        host.Put(i, SlotState::Joining, static_cast<uint32_t>(100 + i));
    }
    for (SlotVerdict verdict : host.Review(0)) {
        EXPECT_EQ(verdict, SlotVerdict::Keep);
    }
    const size_t refused[] = {20, 50, 90};
    for (size_t i = players; i < half; ++i) {
        bool leaving = std::find(std::begin(refused), std::end(refused), i) != std::end(refused);
        host.Put(i, leaving ? SlotState::Leaving : SlotState::Joining, static_cast<uint32_t>(100 + i));
    }
    std::vector<SlotVerdict> verdicts = host.Review(10);

    // The refused go first, then the oldest (of those seen at once, the
    // lower slots), until the reserve is free again.
    size_t given = 0;
    for (size_t i = 0; i < Admission::kSlots; ++i) {
        bool refusedSlot = std::find(std::begin(refused), std::end(refused), i) != std::end(refused);
        bool oldest = i >= half && i < half + Admission::kFreeReserve - std::size(refused);
        EXPECT_EQ(verdicts[i], refusedSlot || oldest ? SlotVerdict::Room : SlotVerdict::Keep) << i;
        given += verdicts[i] == SlotVerdict::Room ? 1 : 0;
    }
    EXPECT_EQ(given, Admission::kFreeReserve);
}
