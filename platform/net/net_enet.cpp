// The peer on ENet: one ENet host per session, serviced by the peer's own
// thread once the session is up. The only file that includes enet.h.
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/net/address.h"
#include "platform/net/admission.h"
#include "platform/net/net.h"
#include "platform/net/protocol.h"
#include "platform/sys/printable.h"

namespace platform {

// How long the service thread sleeps between polls of the transport.
static constexpr auto kServicePoll = std::chrono::milliseconds(5);
// Events served before the handler is called, so a flood cannot starve it.
static constexpr int kEventsPerPoll = 64;
static constexpr uint32_t kHostPlayer = 1;
// How long a joiner that does not get in waits for its link to close,
// beyond the round trips closing takes, before dropping it.
static constexpr auto kLeaveWait = std::chrono::milliseconds(500);
// Links a joiner opens at most for one join: a host that is making room
// under a flood of connections may give up a joiner's link before it has
// judged the join, and says so (kDisconnectGivenUp); the joiner then tries
// again at once.
static constexpr int kJoinAttempts = 4;
// Bytes of packets one connection may have waiting at either end, its
// packets in reassembly included: two of the largest packets. Beyond it the
// transport takes nothing more from that connection until it has been read.
static constexpr size_t kMaxWaitingBytes = 2 * kMaxPacketBytes;
// Packets one connection may have waiting, read or not, however small: the
// byte limit does not count empty packets, yet each costs the transport
// some hundred bytes to hold. The protocol never has more than one in
// flight.
static constexpr size_t kMaxWaitingPackets = 64;
// Connections of any kind from one address, refused by the transport before
// a slot is taken, so that a flood from one address cannot fill the slots
// between two admission reviews (players behind one router share an
// address).
static constexpr size_t kMaxPeersPerAddress = 16;
// Given-up connections and datagrams dropped unread are reported at most
// this often, so that a flood does not flood the log as well.
static constexpr auto kReportEvery = std::chrono::seconds(1);
// Datagrams dropped unread by every host of this process (the transport
// gives its callback no context); the service loops report them.
static std::atomic<size_t> g_unreadDatagrams{0};

static NetResult StartTransport()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        if (enet_initialize() != 0) {
            std::fprintf(stderr, "net: the ENet library could not start\n");
            return;
        }
        std::atexit(enet_deinitialize);
        started = true;
    });
    return started ? NetResult::Ok : NetResult::NoTransport;
}

// A name the resolver can take: at most 253 bytes of letters, digits,
// hyphens and dots, no label over 63 bytes. Anything else is refused here so
// that it never reaches a name lookup.
static bool IsHostName(const std::string& name)
{
    if (name.empty() || name.size() > 253) {
        return false;
    }
    size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            label = 0;
            continue;
        }
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!allowed || ++label > 63) {
            return false;
        }
    }
    return true;
}

// Turns a host name or dotted address into an ENet host (network order).
static NetResult Resolve(const std::string& name, enet_uint32* out)
{
    // The name comes from the caller's address or the environment: shown
    // cut short and escaped, so that it cannot drive the terminal.
    if (!IsHostName(name)) {
        std::fprintf(stderr, "net: \"%s\" is not a host name\n",
                     PrintableText(std::string_view(name).substr(0, 64)).c_str());
        return NetResult::HostNotFound;
    }
    ENetAddress address{};
    if (enet_address_set_host(&address, name.c_str()) != 0) {
        std::fprintf(stderr, "net: cannot resolve host \"%s\"\n", PrintableText(name).c_str());
        return NetResult::HostNotFound;
    }
    *out = address.host;
    return NetResult::Ok;
}

// The local side of a session: the device address's "hostname" when it has
// one, else ORVA_NET_BIND when set (tests keep to loopback with it), else
// every interface; the port from "port", 0 when it names none.
static NetResult LocalAddress(const NetAddress* device, ENetAddress* out, bool* hasPort)
{
    out->host = ENET_HOST_ANY;
    out->port = 0;
    *hasPort = false;
    std::string name;
    if (device != nullptr) {
        if (!device->HasUdpProvider()) {
            return NetResult::MissingComponent;
        }
        NetResult result = device->GetString("hostname", &name);
        if (result != NetResult::Ok && result != NetResult::MissingComponent) {
            return result;
        }
        uint32_t port = 0;
        result = device->GetDword("port", &port);
        if (result == NetResult::Ok) {
            if (port > 0xFFFF) {
                return NetResult::InvalidParam;
            }
            out->port = static_cast<enet_uint16>(port);
            *hasPort = port != 0;
        } else if (result != NetResult::MissingComponent) {
            return result;
        }
    }
    if (name.empty()) {
        const char* bind = std::getenv("ORVA_NET_BIND");
        if (bind != nullptr) {
            name = bind;
        }
    }
    if (!name.empty()) {
        return Resolve(name, &out->host);
    }
    return NetResult::Ok;
}

static uint16_t BoundPort(ENetHost* host)
{
    ENetAddress address{};
    if (enet_socket_get_address(host->socket, &address) != 0) {
        return 0;
    }
    return address.port;
}

// While joining, let the socket report ICMP errors, so that a port nobody
// listens on is refused at once instead of waiting out the timeout.
static void ReportRefusals(ENetHost* host, bool on)
{
    int value = on ? 1 : 0;
    setsockopt(host->socket, IPPROTO_IP, IP_RECVERR, &value, sizeof(value));
}

// Counts the packets the transport holds from one connection, those
// waiting for an earlier one included, up to limit.
static size_t WaitingPackets(ENetPeer& peer, size_t limit)
{
    size_t count = 0;
    auto add = [&](ENetList& list) {
        for (ENetListIterator at = enet_list_begin(&list); at != enet_list_end(&list) && count < limit;
             at = enet_list_next(at)) {
            ++count;
        }
    };
    add(peer.dispatchedCommands);
    for (size_t i = 0; i < peer.channelCount; ++i) {
        add(peer.channels[i].incomingReliableCommands);
        add(peer.channels[i].incomingUnreliableCommands);
    }
    return count;
}

// Sees every datagram before the transport reads it, and drops it unread
// when it comes from a connection that has kMaxWaitingPackets waiting
// already. Its sender resends what it must once the host has caught up.
static int DropFromCrowdedConnections(ENetHost* host, ENetEvent*)
{
    enet_uint16 field = 0;
    if (host->receivedDataLength < sizeof(field)) {
        return 0;
    }
    std::memcpy(&field, host->receivedData, sizeof(field));
    const size_t id = ENET_NET_TO_HOST_16(field) &
                      ~static_cast<unsigned>(ENET_PROTOCOL_HEADER_FLAG_MASK | ENET_PROTOCOL_HEADER_SESSION_MASK);
    if (id >= host->peerCount) {
        return 0;
    }
    ENetPeer& peer = host->peers[id];
    if (peer.state == ENET_PEER_STATE_DISCONNECTED || peer.address.host != host->receivedAddress.host ||
        peer.address.port != host->receivedAddress.port) {
        return 0;
    }
    if (WaitingPackets(peer, kMaxWaitingPackets) < kMaxWaitingPackets) {
        return 0;
    }
    g_unreadDatagrams.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

// Both ends refuse packets over the protocol's longest and stop taking
// packets from a connection that has too many waiting: the transport's own
// limits would let one peer make the other hold megabytes.
static void LimitWaiting(ENetHost* host)
{
    host->maximumPacketSize = kMaxPacketBytes;
    host->maximumWaitingData = kMaxWaitingBytes;
    host->intercept = DropFromCrowdedConnections;
}

// False when the packet cannot be queued; one over the size limit is
// refused whole, never cut, and logged.
static bool SendPacket(ENetPeer* peer, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty()) {
        return false;
    }
    if (bytes.size() > kMaxPacketBytes) {
        std::fprintf(stderr, "net: not sending a packet of %zu bytes, over the limit of %zu\n", bytes.size(),
                     kMaxPacketBytes);
        return false;
    }
    ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE);
    if (packet == nullptr) {
        return false;
    }
    if (enet_peer_send(peer, 0, packet) != 0) {
        enet_packet_destroy(packet);
        return false;
    }
    return true;
}

// Closes the link of a joiner that does not get in, so that both ends
// forget it: a link merely reset would live on at the host until it timed
// out, holding a slot, or a player when the host had let it in, and could
// be taken for a later join from the same local port.
//
// A refused joiner lets the host close the link, as the host does once the
// answer and whatever else it has in flight are acknowledged: within two
// round trips. Were the joiner to disconnect as well, the two disconnects
// would cross at the host and neither be acknowledged. A joiner that gives
// up disconnects, and the host frees it when the disconnect arrives, half a
// round trip later; a link not yet up is dropped at once, its disconnect
// sent once. Either waits as long as that takes, with round trips of up to
// the longest allowed for, and kLeaveWait for a lost datagram, then drops
// the link with a last disconnect.
static void CloseLink(ENetHost* host, ENetPeer* link, bool refused)
{
    if (!refused) {
        enet_peer_disconnect(link, 0);
        if (link->state == ENET_PEER_STATE_DISCONNECTED) {
            return;
        }
    }
    const auto roundTrip = std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(link->roundTripTime), Admission::kMaxRoundTrip);
    const auto deadline = std::chrono::steady_clock::now() + (refused ? 2 : 1) * roundTrip + kLeaveWait;
    ENetEvent event;
    while (std::chrono::steady_clock::now() < deadline) {
        int served = enet_host_service(host, &event, 10);
        if (served < 0) {
            break;
        }
        if (served > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
            enet_packet_destroy(event.packet);
        } else if (served > 0 && event.type == ENET_EVENT_TYPE_DISCONNECT) {
            return;
        }
    }
    enet_peer_disconnect_now(link, 0);
}

static uint32_t PlayerOf(const ENetPeer* peer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(peer->data));
}

// A host's slot as admission sees it.
static SlotState StateOf(const ENetPeer& peer)
{
    if (peer.state == ENET_PEER_STATE_DISCONNECTED) {
        return SlotState::Free;
    }
    if (peer.state == ENET_PEER_STATE_ZOMBIE || PlayerOf(&peer) != 0) {
        return SlotState::Busy;
    }
    switch (peer.state) {
    case ENET_PEER_STATE_DISCONNECT_LATER:
    case ENET_PEER_STATE_DISCONNECTING:
    case ENET_PEER_STATE_ACKNOWLEDGING_DISCONNECT:
        return SlotState::Leaving;
    default:
        return SlotState::Joining;
    }
}

// True once the transport's handshake is finished at the host: the
// joiner has acknowledged the host's answer to its connect, and its join
// request comes in the same datagram.
static bool IsLinked(const ENetPeer& peer)
{
    switch (peer.state) {
    case ENET_PEER_STATE_CONNECTING:
    case ENET_PEER_STATE_ACKNOWLEDGING_CONNECT:
    case ENET_PEER_STATE_CONNECTION_PENDING:
        return false;
    default:
        return true;
    }
}

struct Peer::Impl {
    using Clock = std::chrono::steady_clock;
    struct Pending {
        PeerMessageType type;
        PeerMessage message;
    };
    enum class Role { None, Hosting, Joined };

    // Serialises the public calls, so that Close, Host and Connect never
    // overlap; taken before `state`.
    std::mutex calls;
    // Guards everything below against the service thread.
    mutable std::mutex state;
    std::condition_variable wake;
    std::thread service;
    bool initialized = false;
    bool stopping = false;
    PeerMessageHandler handler = nullptr;
    void* context = nullptr;
    std::string playerName;

    ENetHost* host = nullptr;
    Role role = Role::None;
    SessionDesc session;           // what a host offers
    ENetPeer* hostPeer = nullptr;  // a joiner's link to its host; null once lost
    uint32_t localPlayer = 0;
    uint32_t nextPlayer = kHostPlayer + 1;
    int32_t playerCount = 0;
    uint16_t localPort = 0;
    Admission admission;
    // Connections given up and not yet reported, by verdict (Keep unused).
    size_t dropped[static_cast<size_t>(SlotVerdict::Refused) + 1] = {};
    Clock::time_point lastAdmissionReport{};
    Clock::time_point lastUnreadReport{};

    ~Impl() { Stop(); }

    void Dispatch(const std::vector<Pending>& pending)
    {
        PeerMessageHandler target = nullptr;
        void* targetContext = nullptr;
        {
            std::lock_guard<std::mutex> lock(state);
            target = handler;
            targetContext = context;
        }
        if (target == nullptr) {
            return;
        }
        for (const Pending& item : pending) {
            target(targetContext, item.type, item.message);
        }
    }

    // Host side: a joiner's first packet must be a well-formed join request
    // for this application, with the password when one is required.
    NetResult Judge(const ENetPacket* packet, JoinRequest* request) const
    {
        if (!DecodeJoinRequest(packet->data, packet->dataLength, request)) {
            return NetResult::InvalidParam;
        }
        if (!(request->application == session.application)) {
            return NetResult::InvalidApplication;
        }
        if ((session.flags & kSessionRequirePassword) != 0 && request->password != session.password) {
            return NetResult::InvalidPassword;
        }
        // Never more joiners than admission leaves slots for, so that some
        // stay free for newcomers.
        if ((session.maxPlayers != 0 && static_cast<uint32_t>(playerCount) >= session.maxPlayers) ||
            static_cast<size_t>(playerCount) > Admission::kMaxJoined) {
            return NetResult::SessionFull;
        }
        return NetResult::Ok;
    }

    void OnReceive(ENetPeer* peer, const ENetPacket* packet, std::vector<Pending>& pending)
    {
        // Joined players send nothing further; a joiner hears only its reply.
        if (role != Role::Hosting || PlayerOf(peer) != 0) {
            return;
        }
        JoinRequest request;
        JoinReply reply;
        reply.result = Judge(packet, &request);
        if (reply.result == NetResult::InvalidParam) {
            std::fprintf(stderr, "net: dropping a joiner that sent no valid join request\n");
            enet_peer_disconnect(peer, 0);
            return;
        }
        if (reply.result == NetResult::Ok) {
            reply.player = nextPlayer++;
            peer->data = reinterpret_cast<void*>(static_cast<uintptr_t>(reply.player));
            ++playerCount;
            pending.push_back({PeerMessageType::CreatePlayer, PeerMessage{reply.player, NetResult::Ok}});
        }
        SendPacket(peer, EncodeJoinReply(reply));
        if (reply.result != NetResult::Ok) {
            // Leave after the reply so the joiner learns why.
            enet_peer_disconnect_later(peer, 0);
        }
    }

    void OnDisconnect(ENetPeer* peer, std::vector<Pending>& pending)
    {
        if (role == Role::Hosting) {
            uint32_t player = PlayerOf(peer);
            if (player != 0) {
                peer->data = nullptr;
                --playerCount;
                pending.push_back({PeerMessageType::DestroyPlayer, PeerMessage{player, NetResult::Ok}});
            }
        } else if (role == Role::Joined && peer == hostPeer) {
            hostPeer = nullptr;
            playerCount = 0;
            pending.push_back({PeerMessageType::TerminateSession, PeerMessage{kHostPlayer, NetResult::ConnectionLost}});
        }
    }

    // Host side, every poll: gives up the connections that admission
    // picks, and says so in the log now and then.
    void AdmitConnections(Clock::time_point now)
    {
        Admission::Slot slots[Admission::kSlots];
        SlotVerdict verdicts[Admission::kSlots];
        const size_t count = std::min(host->peerCount, Admission::kSlots);
        for (size_t i = 0; i < count; ++i) {
            const ENetPeer& peer = host->peers[i];
            slots[i] = Admission::Slot{StateOf(peer), peer.address.host, peer.connectID, IsLinked(peer),
                                       peer.roundTripTime};
        }
        admission.Review(slots, count, now, verdicts);
        // Each connection given up is told, so that a real joiner among them
        // tries again at once rather than wait for an answer that never
        // comes. Telling a forged address costs one datagram smaller than
        // the answer it was already sent.
        for (size_t i = 0; i < count; ++i) {
            if (verdicts[i] != SlotVerdict::Keep) {
                enet_peer_disconnect_now(&host->peers[i], kDisconnectGivenUp);
                ++dropped[static_cast<size_t>(verdicts[i])];
            }
        }
        const size_t late = dropped[static_cast<size_t>(SlotVerdict::Late)];
        const size_t crowded = dropped[static_cast<size_t>(SlotVerdict::Crowded)];
        const size_t room = dropped[static_cast<size_t>(SlotVerdict::Room)];
        const size_t stalled = dropped[static_cast<size_t>(SlotVerdict::Stalled)];
        const size_t refused = dropped[static_cast<size_t>(SlotVerdict::Refused)];
        if (late + crowded + room + stalled + refused == 0 || now - lastAdmissionReport < kReportEvery) {
            return;
        }
        auto ms = [](Clock::duration d) {
            return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
        };
        if (stalled != 0) {
            std::fprintf(stderr, "net: dropped %zu connections that did not finish their handshake within %lld ms\n",
                         stalled, ms(Admission::kHandshakeDeadline));
        }
        if (late != 0) {
            std::fprintf(stderr,
                         "net: dropped %zu connections that sent no join request within %lld ms of their handshake, "
                         "round trip added\n",
                         late, ms(Admission::kJoinDeadline));
        }
        if (refused != 0) {
            std::fprintf(stderr,
                         "net: dropped %zu refused connections that had not taken their answer within %lld ms and "
                         "%d round trips\n",
                         refused, ms(Admission::kJoinDeadline), Admission::kRefusalRoundTrips);
        }
        if (crowded != 0) {
            std::fprintf(stderr, "net: dropped %zu connections over %zu not yet joined from one address\n", crowded,
                         Admission::kMaxPendingPerAddress);
        }
        if (room != 0) {
            std::fprintf(stderr, "net: dropped the %zu oldest connections not yet joined to keep %zu slots free\n",
                         room, Admission::kFreeReserve);
        }
        std::fill(std::begin(dropped), std::end(dropped), 0);
        lastAdmissionReport = now;
    }

    // Says now and then how many datagrams were dropped unread.
    void ReportUnreadDatagrams(Clock::time_point now)
    {
        if (now - lastUnreadReport < kReportEvery) {
            return;
        }
        const size_t unread = g_unreadDatagrams.exchange(0, std::memory_order_relaxed);
        if (unread != 0) {
            std::fprintf(stderr, "net: dropped %zu datagrams unread from connections with %zu packets waiting\n",
                         unread, kMaxWaitingPackets);
            lastUnreadReport = now;
        }
    }

    void ServiceLoop()
    {
        std::unique_lock<std::mutex> lock(state);
        bool reported = false;
        while (!stopping) {
            std::vector<Pending> pending;
            if (host != nullptr) {
                ENetEvent event;
                for (int served = 0; served < kEventsPerPoll; ++served) {
                    int result = enet_host_service(host, &event, 0);
                    if (result < 0) {
                        if (!reported) {
                            std::fprintf(stderr, "net: the session's socket reported an error\n");
                            reported = true;
                        }
                        break;
                    }
                    if (result == 0) {
                        break;
                    }
                    if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                        OnReceive(event.peer, event.packet, pending);
                        enet_packet_destroy(event.packet);
                    } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                        OnDisconnect(event.peer, pending);
                    } else if (event.type == ENET_EVENT_TYPE_CONNECT) {
                        event.peer->data = nullptr;
                    }
                }
                const Clock::time_point now = Clock::now();
                if (role == Role::Hosting) {
                    AdmitConnections(now);
                }
                ReportUnreadDatagrams(now);
            }
            if (!pending.empty()) {
                lock.unlock();
                Dispatch(pending);
                lock.lock();
                continue;
            }
            wake.wait_for(lock, kServicePoll, [this] { return stopping; });
        }
    }

    // Ends the service thread and the session; the peer is uninitialised
    // afterwards.
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(state);
            stopping = true;
        }
        wake.notify_all();
        if (service.joinable()) {
            service.join();
        }
        std::lock_guard<std::mutex> lock(state);
        if (host != nullptr) {
            // Tell every connected end at once rather than let it time out.
            for (size_t i = 0; i < host->peerCount; ++i) {
                ENetPeer* peer = &host->peers[i];
                if (peer->state != ENET_PEER_STATE_DISCONNECTED) {
                    enet_peer_disconnect_now(peer, 0);
                }
            }
            enet_host_flush(host);
            enet_host_destroy(host);
            host = nullptr;
        }
        admission.Reset();
        std::fill(std::begin(dropped), std::end(dropped), 0);
        role = Role::None;
        hostPeer = nullptr;
        localPlayer = 0;
        nextPlayer = kHostPlayer + 1;
        playerCount = 0;
        localPort = 0;
        initialized = false;
        stopping = false;
    }
};

Peer::Peer() = default;

Peer::~Peer() = default;

NetResult Peer::Create(std::unique_ptr<Peer>* out)
{
    if (out == nullptr) {
        return NetResult::InvalidParam;
    }
    NetResult result = StartTransport();
    if (result != NetResult::Ok) {
        return result;
    }
    std::unique_ptr<Peer> peer(new (std::nothrow) Peer());
    if (peer == nullptr) {
        return NetResult::OutOfMemory;
    }
    peer->impl.reset(new (std::nothrow) Impl());
    if (peer->impl == nullptr) {
        return NetResult::OutOfMemory;
    }
    *out = std::move(peer);
    return NetResult::Ok;
}

NetResult Peer::Initialize(PeerMessageHandler handler, void* context)
{
    std::lock_guard<std::mutex> calls(impl->calls);
    {
        std::lock_guard<std::mutex> lock(impl->state);
        if (impl->initialized) {
            return NetResult::AlreadyInitialized;
        }
        impl->handler = handler;
        impl->context = context;
        impl->stopping = false;
    }
    try {
        Impl* self = impl.get();
        impl->service = std::thread([self] { self->ServiceLoop(); });
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "net: cannot start the service thread: %s\n", error.what());
        return NetResult::OutOfMemory;
    }
    std::lock_guard<std::mutex> lock(impl->state);
    impl->initialized = true;
    return NetResult::Ok;
}

NetResult Peer::Close()
{
    std::lock_guard<std::mutex> calls(impl->calls);
    {
        std::lock_guard<std::mutex> lock(impl->state);
        if (!impl->initialized) {
            return NetResult::NotInitialized;
        }
    }
    impl->Stop();
    return NetResult::Ok;
}

NetResult Peer::SetPlayerInfo(const char* name)
{
    if (name == nullptr) {
        return NetResult::InvalidParam;
    }
    size_t length = strnlen(name, kMaxTextBytes + 1);
    if (length > kMaxTextBytes) {
        return NetResult::InvalidParam;
    }
    std::lock_guard<std::mutex> calls(impl->calls);
    std::lock_guard<std::mutex> lock(impl->state);
    if (!impl->initialized) {
        return NetResult::NotInitialized;
    }
    try {
        impl->playerName.assign(name, length);
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
    return NetResult::Ok;
}

NetResult Peer::Host(const SessionDesc& desc, const NetAddress& device)
{
    if (desc.sessionName.size() > kMaxTextBytes || desc.password.size() > kMaxTextBytes) {
        return NetResult::InvalidParam;
    }
    std::lock_guard<std::mutex> calls(impl->calls);
    {
        std::lock_guard<std::mutex> lock(impl->state);
        if (!impl->initialized) {
            return NetResult::NotInitialized;
        }
        if (impl->role != Impl::Role::None) {
            return NetResult::AlreadyInSession;
        }
    }
    ENetAddress local{};
    bool hasPort = false;
    NetResult result = LocalAddress(&device, &local, &hasPort);
    if (result != NetResult::Ok) {
        return result;
    }
    ENetHost* host = nullptr;
    if (hasPort) {
        host = enet_host_create(&local, Admission::kSlots, 1, 0, 0);
    } else {
        for (uint32_t port = kDefaultPort; port <= kDefaultPortLast && host == nullptr; ++port) {
            local.port = static_cast<enet_uint16>(port);
            host = enet_host_create(&local, Admission::kSlots, 1, 0, 0);
        }
    }
    if (host == nullptr) {
        std::fprintf(stderr, "net: cannot open a UDP port to host on (port %u)\n", hasPort ? local.port : 0u);
        return NetResult::AddressInUse;
    }
    LimitWaiting(host);
    host->duplicatePeers = kMaxPeersPerAddress;
    std::vector<Impl::Pending> pending;
    {
        std::lock_guard<std::mutex> lock(impl->state);
        try {
            impl->session = desc;
        } catch (const std::bad_alloc&) {
            enet_host_destroy(host);
            return NetResult::OutOfMemory;
        }
        impl->host = host;
        impl->role = Impl::Role::Hosting;
        impl->localPlayer = kHostPlayer;
        impl->nextPlayer = kHostPlayer + 1;
        impl->playerCount = 1;
        impl->localPort = BoundPort(host);
    }
    impl->wake.notify_all();
    pending.push_back({PeerMessageType::CreatePlayer, PeerMessage{kHostPlayer, NetResult::Ok}});
    impl->Dispatch(pending);
    return NetResult::Ok;
}

NetResult Peer::Connect(const SessionDesc& desc, const NetAddress& hostAddress, const NetAddress* device,
                        int32_t timeoutMs)
{
    if (timeoutMs <= 0) {
        return NetResult::InvalidParam;
    }
    std::lock_guard<std::mutex> calls(impl->calls);
    JoinRequest request;
    {
        std::lock_guard<std::mutex> lock(impl->state);
        if (!impl->initialized) {
            return NetResult::NotInitialized;
        }
        if (impl->role != Impl::Role::None) {
            return NetResult::AlreadyInSession;
        }
        try {
            request.playerName = impl->playerName;
        } catch (const std::bad_alloc&) {
            return NetResult::OutOfMemory;
        }
    }
    if (!hostAddress.HasUdpProvider()) {
        return NetResult::MissingComponent;
    }
    std::string hostName;
    NetResult result = hostAddress.GetString("hostname", &hostName);
    if (result != NetResult::Ok) {
        return result;
    }
    uint32_t hostPort = kDefaultPort;
    result = hostAddress.GetDword("port", &hostPort);
    if (result == NetResult::MissingComponent) {
        hostPort = kDefaultPort;
    } else if (result != NetResult::Ok) {
        return result;
    }
    if (hostPort == 0 || hostPort > 0xFFFF) {
        return NetResult::InvalidParam;
    }
    ENetAddress remote{};
    result = Resolve(hostName, &remote.host);
    if (result != NetResult::Ok) {
        return result;
    }
    remote.port = static_cast<enet_uint16>(hostPort);
    ENetAddress local{};
    bool hasPort = false;
    result = LocalAddress(device, &local, &hasPort);
    if (result != NetResult::Ok) {
        return result;
    }
    request.application = desc.application;
    try {
        request.password = desc.password;
    } catch (const std::bad_alloc&) {
        return NetResult::OutOfMemory;
    }
    std::vector<uint8_t> requestBytes = EncodeJoinRequest(request);
    if (requestBytes.empty()) {
        return NetResult::InvalidParam;
    }

    ENetHost* client = enet_host_create(&local, 1, 1, 0, 0);
    if (client == nullptr) {
        std::fprintf(stderr, "net: cannot open a local UDP port to join from (port %u)\n", local.port);
        return NetResult::AddressInUse;
    }
    LimitWaiting(client);
    ReportRefusals(client, true);
    auto openLink = [&] {
        ENetPeer* opened = enet_host_connect(client, &remote, 1, 0);
        if (opened != nullptr) {
            enet_peer_timeout(opened, 0, static_cast<enet_uint32>(timeoutMs), static_cast<enet_uint32>(timeoutMs));
        }
        return opened;
    };
    ENetPeer* link = openLink();
    if (link == nullptr) {
        enet_host_destroy(client);
        return NetResult::OutOfMemory;
    }

    // The join runs here on the caller's thread; the service thread takes
    // the host over only once the session is up.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    result = NetResult::TimedOut;
    JoinReply reply;
    bool answered = false;  // the host judged the join and said so
    bool linked = false;
    bool givenUp = false;  // the host gave up a link of this join
    int attempts = 1;
    bool done = false;
    while (!done) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        ENetEvent event;
        int served = enet_host_service(client, &event, static_cast<enet_uint32>(std::min<long long>(left, 20)));
        if (served < 0) {
            result = givenUp ? NetResult::ConnectionLost : NetResult::Refused;
            break;
        }
        if (served == 0) {
            continue;
        }
        switch (event.type) {
        case ENET_EVENT_TYPE_CONNECT:
            linked = true;
            if (!SendPacket(link, requestBytes)) {
                result = NetResult::OutOfMemory;
                done = true;
            }
            break;
        case ENET_EVENT_TYPE_RECEIVE: {
            bool valid = DecodeJoinReply(event.packet->data, event.packet->dataLength, &reply);
            enet_packet_destroy(event.packet);
            if (valid) {
                result = reply.result;
                answered = true;
                done = true;
            }
            break;
        }
        case ENET_EVENT_TYPE_DISCONNECT:
            link = nullptr;
            givenUp = givenUp || event.data == kDisconnectGivenUp;
            if (event.data == kDisconnectGivenUp && attempts < kJoinAttempts) {
                ++attempts;
                linked = false;
                link = openLink();
                if (link != nullptr) {
                    break;
                }
            }
            result = linked || givenUp ? NetResult::ConnectionLost : NetResult::TimedOut;
            done = true;
            break;
        default:
            break;
        }
    }
    if (result != NetResult::Ok) {
        if (link != nullptr) {
            CloseLink(client, link, answered);
        }
        enet_host_destroy(client);
        std::fprintf(stderr, "net: joining %s port %u failed: %s\n", PrintableText(hostName).c_str(), hostPort,
                     NetResultName(result));
        return result;
    }
    ReportRefusals(client, false);
    std::vector<Impl::Pending> pending;
    {
        std::lock_guard<std::mutex> lock(impl->state);
        impl->host = client;
        impl->role = Impl::Role::Joined;
        impl->hostPeer = link;
        impl->localPlayer = reply.player;
        impl->playerCount = 2;
        impl->localPort = BoundPort(client);
    }
    impl->wake.notify_all();
    pending.push_back({PeerMessageType::CreatePlayer, PeerMessage{kHostPlayer, NetResult::Ok}});
    pending.push_back({PeerMessageType::CreatePlayer, PeerMessage{reply.player, NetResult::Ok}});
    impl->Dispatch(pending);
    return NetResult::Ok;
}

bool Peer::IsInitialized() const
{
    std::lock_guard<std::mutex> lock(impl->state);
    return impl->initialized;
}

bool Peer::IsInSession() const
{
    std::lock_guard<std::mutex> lock(impl->state);
    return impl->role == Impl::Role::Hosting || (impl->role == Impl::Role::Joined && impl->hostPeer != nullptr);
}

bool Peer::IsHost() const
{
    std::lock_guard<std::mutex> lock(impl->state);
    return impl->role == Impl::Role::Hosting;
}

int32_t Peer::GetPlayerCount() const
{
    std::lock_guard<std::mutex> lock(impl->state);
    return impl->playerCount;
}

uint16_t Peer::GetLocalPort() const
{
    std::lock_guard<std::mutex> lock(impl->state);
    return impl->localPort;
}

}  // namespace platform
