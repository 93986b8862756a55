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
    Late,     // has not joined within its join deadline
    Crowded,  // more connections wait from its address than one address may have
    Room,     // among the oldest not joined, given up to keep slots free
    Stalled,  // has not finished the transport's handshake within Admission::kHandshakeDeadline
    Refused,  // refused, and still there past its refusal deadline (the last)
};

// Decides which connections a host gives up before they join: those past
// their deadline, those refused that do not go, those beyond the newest
// few from one address, and, when free slots run low, the oldest. A
// newcomer's connect therefore always finds a free slot, and a real
// joiner, which sends its join request one round trip after its first
// datagram, is the newest connection until it has been judged, so a flood
// from any number of addresses gives up older connections before it.
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
    // A joiner sends its join request as soon as its link is up, in the
    // datagram that finishes the handshake at the host, however slow the
    // link. A connection that has not joined this long after its handshake,
    // plus its round trip for one lost datagram, will not. Counted from the
    // host's first sight instead, a link whose round trip is longer than
    // the deadline could never join.
    static constexpr Clock::duration kJoinDeadline = std::chrono::milliseconds(1000);
    // The longest round trip allowed for: slower links are no use for play,
    // and a sender that delays its acknowledgements must not buy itself a
    // longer stay.
    static constexpr Clock::duration kMaxRoundTrip = std::chrono::milliseconds(2000);
    // A handshake takes one round trip from the host's first sight of a
    // connection, and a lost datagram costs the host's resend; a connection
    // that has not finished it this long after will not (its source is
    // likely forged).
    static constexpr Clock::duration kHandshakeDeadline = kMaxRoundTrip + kJoinDeadline;
    // The longest a join takes on a link the host admits, from the
    // joiner's first datagram to the host's answer: half a round trip to
    // the host, the handshake deadline, the join deadline with its round
    // trip, and half a round trip for the answer to come back. By then the
    // host has judged the join or given the link up, so a joiner that
    // waits less may give up on a join the host still judges.
    static constexpr Clock::duration kLongestJoin = kHandshakeDeadline + kJoinDeadline + 2 * kMaxRoundTrip;
    // A refused connection is kept until the transport closes it, once the
    // answer has been delivered: given up earlier, a joiner whose answer
    // was lost would never learn why. The transport resends a lost answer
    // only about three round trips after the first, half a round trip more
    // brings it and another its acknowledgement, and closing takes one
    // more. A refused connection still there this many round trips (up to
    // kMaxRoundTrip each) and kJoinDeadline after its refusal will not
    // take its answer, and gives up its slot; when slots run short, the
    // refused go first anyway.
    static constexpr int kRefusalRoundTrips = 5;

    struct Slot {
        SlotState state = SlotState::Free;
        uint32_t address = 0;      // the remote IPv4 address
        uint32_t connection = 0;   // tells a new connection in a slot from the one before
        bool linked = false;       // the transport's handshake is finished
        uint32_t roundTripMs = 0;  // as the transport measured it; read once linked
    };

    // Reviews every slot (count at most kSlots, slot i at index i) as of
    // now and writes a verdict for each into out; the caller gives up every
    // slot whose verdict is not Keep. The first review that sees a
    // connection starts its handshake deadline, the first that sees it
    // linked its join deadline, the first that sees it refused (Leaving)
    // its refusal deadline.
    void Review(const Slot* slots, size_t count, Clock::time_point now, SlotVerdict* out);
    // Forgets every connection, as when the session ends.
    void Reset();

private:
    struct Seen {
        bool seen = false;
        bool linked = false;
        bool refused = false;
        uint32_t connection = 0;
        Clock::time_point since{};         // first seen: ranks connections by age
        Clock::time_point linkedSince{};   // first seen linked: starts the join deadline
        Clock::time_point refusedSince{};  // first seen refused: starts the refusal deadline
    };
    Seen seen[kSlots];
};

}  // namespace platform
