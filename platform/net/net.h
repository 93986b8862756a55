#pragma once
// Network results and the peer of a session.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/net/admission.h"

namespace platform {

class NetAddress;

// What a network operation came to. Ok is 0; every failure is its own value
// so a caller can tell a wrong password from a host that never answered.
enum class NetResult : int32_t {
    Ok = 0,
    InvalidParam,          // a null, empty or oversized argument
    OutOfMemory,
    NoTransport,           // the transport library could not start
    NotInitialized,        // the peer was not initialised (or was closed)
    AlreadyInitialized,
    AlreadyInSession,      // the peer already hosts or has joined a session
    UnsupportedProvider,   // an address URL names a provider we do not have
    MissingComponent,      // an address lacks a component the call needs
    WrongType,             // a component exists with another data type
    AddressInUse,          // the local port could not be opened
    HostNotFound,          // the host name does not resolve
    Refused,               // nothing listens at the host's port
    TimedOut,              // the host did not answer in time
    InvalidPassword,
    InvalidApplication,    // the host runs another application
    SessionFull,
    ConnectionLost,        // the host went away during the join
};

// Short English name of a result for diagnostics ("InvalidPassword").
const char* NetResultName(NetResult result);

// A 128-bit application identifier, fields as they are usually written.
struct NetGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    bool operator==(const NetGuid& other) const = default;
};

// Session flags; the numbers are those the engine passes through.
constexpr uint32_t kSessionMigrateHost = 0x04;
constexpr uint32_t kSessionRequirePassword = 0x80;

// What a host offers or a joiner asks for. Texts are byte strings passed on
// unchanged (the engine's are Shift-JIS).
struct SessionDesc {
    uint32_t flags = 0;
    NetGuid application;
    std::string sessionName;
    std::string password;  // checked only when kSessionRequirePassword is set
    uint32_t maxPlayers = 0;  // 0: the host and up to 64 joiners
};

// Messages a peer hands to its handler.
enum class PeerMessageType : uint32_t {
    CreatePlayer = 1,      // a player joined (the local one included)
    DestroyPlayer = 2,     // a player left
    TerminateSession = 3,  // the session ended under a joiner (host gone)
};

struct PeerMessage {
    uint32_t player = 0;  // player id; the host is 1, the local player's id when joined
    NetResult reason = NetResult::Ok;  // why a session ended
};

// Called on the peer's service thread (or, during Connect and Host, on the
// caller's thread) for every message. It must return promptly and must not
// call the peer's methods. Ok accepts; other results are not yet acted on.
using PeerMessageHandler = NetResult (*)(void* context, PeerMessageType type, const PeerMessage& message);

// One end of a peer-to-peer session over UDP. Players reach each other
// through the host; nothing but the join and leave traffic crosses the wire.
//
// Threads: every method may be called from any thread except the handler's
// (calls are serialised by the peer's own lock); the service thread, started
// by Initialize and stopped by Close, receives the traffic and calls the
// handler.
class Peer {
public:
    // Port a host listens on when its address names none, and the first of
    // the range tried (kDefaultPort to kDefaultPortLast); a joiner whose host
    // address has no port connects to kDefaultPort.
    static constexpr uint16_t kDefaultPort = 2302;
    static constexpr uint16_t kDefaultPortLast = 2400;
    // Longest player, session name or password carried in a join, in bytes.
    static constexpr size_t kMaxTextBytes = 2048;
    // The longest a join takes on a link a host admits, answer included: a
    // Connect given less may give up on a join that the host still
    // judges, and so may fail on a slow link that would have got in.
    static constexpr int32_t kLongestJoinMs = static_cast<int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Admission::kLongestJoin).count());

    // A new peer, not yet initialised. NoTransport when the transport
    // library cannot start, OutOfMemory when memory runs out.
    static NetResult Create(std::unique_ptr<Peer>* out);
    ~Peer();

    // Starts the service thread; the handler (may be null) gets every message.
    NetResult Initialize(PeerMessageHandler handler, void* context);
    // Ends the session (joined players and the host are told at once), stops
    // the service thread and returns the peer to the uninitialised state.
    NetResult Close();

    // Name the local player goes by in the next join.
    NetResult SetPlayerInfo(const char* name);

    // Hosts a session on the device address's "port" (or the first free one
    // from kDefaultPort), listening on its "hostname" when it has one, else
    // on ORVA_NET_BIND when that is set, else on every interface.
    NetResult Host(const SessionDesc& desc, const NetAddress& device);
    // Joins the session at the host address's "hostname" and "port"; the
    // device address (may be null) chooses the local side as for Host, on
    // any free port when it names none. Returns once the host accepted or
    // refused, or when timeoutMs ran out.
    NetResult Connect(const SessionDesc& desc, const NetAddress& host, const NetAddress* device, int32_t timeoutMs);

    bool IsInitialized() const;
    // True while hosting, or while joined and the host is still there.
    bool IsInSession() const;
    bool IsHost() const;
    // Players in the session, the local one included; 0 outside one.
    int32_t GetPlayerCount() const;
    // The local UDP port of the session; 0 outside one.
    uint16_t GetLocalPort() const;

    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

private:
    Peer();
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
