#pragma once
// The join handshake between a joiner and the host.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net/net.h"

namespace platform {

// The join handshake that rides on the transport's first channel: a joiner
// that has reached the host sends a JoinRequest; the host answers with a
// JoinReply and, on a refusal, drops the connection. Every packet starts
// with "ORVN", a version byte and a kind byte; numbers are little-endian,
// texts a u16 length and that many bytes.
struct JoinRequest {
    NetGuid application;
    std::string password;
    std::string playerName;
};

struct JoinReply {
    NetResult result = NetResult::Ok;
    uint32_t player = 0;  // the joiner's player id when accepted
};

constexpr uint8_t kProtocolVersion = 1;

// The longest packet of the protocol: a join request whose password and
// player name are both as long as they may be.
constexpr size_t kMaxJoinRequestBytes = 6 + 16 + 2 * (2 + Peer::kMaxTextBytes);
// Packets longer than this are neither sent nor taken in by either end: the
// longest packet with room to spare, so that a peer can make the other hold
// no more than this for one packet.
constexpr size_t kMaxPacketBytes = 8192;
static_assert(kMaxJoinRequestBytes <= kMaxPacketBytes);
// What a host's disconnect carries when it gives up a connection before
// judging its join, to make room under a flood: the joiner may try again.
// Any other disconnect before the reply ends the join.
constexpr uint32_t kDisconnectGivenUp = 1;

enum class PacketKind : uint8_t {
    JoinRequest = 1,
    JoinReply = 2,
};

// Empty on a text longer than Peer::kMaxTextBytes or when memory runs out.
std::vector<uint8_t> EncodeJoinRequest(const JoinRequest& request);
std::vector<uint8_t> EncodeJoinReply(const JoinReply& reply);

// False for anything that is not exactly one well-formed packet of that
// kind: short, long, wrong magic or version, a text running past the end, or
// a reply result outside the known values.
bool DecodeJoinRequest(const uint8_t* data, size_t size, JoinRequest* out);
bool DecodeJoinReply(const uint8_t* data, size_t size, JoinReply* out);

}  // namespace platform
