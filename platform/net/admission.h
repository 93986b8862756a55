#pragma once
// Which connections a host gives up before they have joined, so that
// connections that will never join cannot keep a real joiner out.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace platform {

// What a host's slot holds, as far as admission is concerned.
enum class SlotState : uint8_t {
    Free,     // nothing: a newcomer's connect can take it
    Busy,     // a joined player, or a connection the transport is finishing
    Joining,  // connecting or connected, its join request not judged yet
    Leaving,  // judged and refused; it is being told so
};

// Why a slot is given up.
enum class SlotVerdict : uint8_t {
    Keep,
    Late,     // has not joined within Admission::kJoinDeadline
    Crowded,  // more connections wait from its address than one address may have
    Room,     // among the oldest not joined, given up to keep slots free
};

// Decides which connections a host gives up before they join: those past
// their deadline, those beyond the newest few from one address, and, when
// free slots run low, the oldest. A newcomer's connect therefore always
// finds a free slot, and a real joiner, which sends its join request one
// round trip after its first datagram, is the newest connection until it
// has been judged, so a flood from any number of addresses gives up older
// connections before it.
class Admission {
public:
    using Clock = std::chrono::steady_clock;

    // Slots the host has: its joined players and room for three times as
    // many connections that have not joined.
    static constexpr size_t kSlots = 256;
    // Joined players at most (the host's own player aside).
    static constexpr size_t kMaxJoined = 64;
    // Free slots the host keeps for newcomers: to shut a newcomer out, a
    // flood must bring more new connections than this between two reviews,
    // a few milliseconds apart.
    static constexpr size_t kFreeReserve = 64;
    // Joining connections kept from one address: more would let one sender
    // crowd out everybody else, and an address flooded with forged
    // connects must stay below what the transport takes from one address,
    // so that a real joiner from it is still let in.
    static constexpr size_t kMaxPendingPerAddress = 4;
    // A joiner sends its join request as soon as its link is up, one round
    // trip after its first datagram; a connection that has not joined this
    // long after the host first saw it will not.
    static constexpr Clock::duration kJoinDeadline = std::chrono::milliseconds(1000);

    struct Slot {
        SlotState state = SlotState::Free;
        uint32_t address = 0;     // the remote IPv4 address
        uint32_t connection = 0;  // tells a new connection in a slot from the one before
    };

    // Reviews every slot (count at most kSlots, slot i at index i) as of
    // now and writes a verdict for each into out; the caller gives up every
    // slot whose verdict is not Keep. The first review that sees a
    // connection starts its deadline.
    void Review(const Slot* slots, size_t count, Clock::time_point now, SlotVerdict* out);
    // Forgets every connection, as when the session ends.
    void Reset();

private:
    struct Seen {
        bool seen = false;
        uint32_t connection = 0;
        Clock::time_point since{};
    };
    Seen seen[kSlots];
};

}  // namespace platform
