// A host under attack: connect datagrams that are never followed up (their
// sources may be forged), connections that complete the transport's
// handshake and then stay silent or ask too late, and floods of packets.
// Real joins must still get in, and still be judged, and the host must hold
// little. The attackers here speak the transport's wire format themselves,
// or use the transport library directly, as an attacker would.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/address.h"
#include "platform/net/net.h"
#include "platform/net/protocol.h"
#include "tests/platform/net/net_test_util.h"

using namespace platform;
using net_test::DelayRelay;

namespace {

const char kUdpUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";
const NetGuid kApp = {0x5EC0A11Du, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
// Under every attack here a join on loopback must get in, or be refused,
// within this, well inside what a join may take on a slow link.
constexpr int32_t kJoinTimeoutMs = 3000;
// Connections that never join, in the test that fills as many slots as a
// host used to have.
constexpr int kSquatters = 64;

// A UDP socket bound to a loopback address (the whole of 127.0.0.0/8 is
// local), so that one test can play many senders.
class RawSender {
public:
    explicit RawSender(const char* from)
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, from, &address.sin_addr);
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~RawSender()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
    bool Ok() const { return fd >= 0; }

    // One transport connect command, as a joiner's first datagram, that
    // nobody will ever acknowledge.
    bool SendConnect(uint16_t port, uint32_t connectId)
    {
        struct {
            ENetProtocolHeader header;
            ENetProtocolConnect connect;
        } ENET_PACKED datagram;
        std::memset(&datagram, 0, sizeof(datagram));
        datagram.header.peerID =
            htons(uint16_t(unsigned(ENET_PROTOCOL_MAXIMUM_PEER_ID) | unsigned(ENET_PROTOCOL_HEADER_FLAG_SENT_TIME)));
        datagram.header.sentTime = htons(static_cast<uint16_t>(connectId));
        datagram.connect.header.command =
            uint8_t(unsigned(ENET_PROTOCOL_COMMAND_CONNECT) | unsigned(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
        datagram.connect.header.channelID = 0xFF;
        datagram.connect.header.reliableSequenceNumber = htons(1);
        datagram.connect.outgoingPeerID = htons(0);
        datagram.connect.incomingSessionID = 0xFF;
        datagram.connect.outgoingSessionID = 0xFF;
        datagram.connect.mtu = htonl(1400);
        datagram.connect.windowSize = htonl(ENET_PROTOCOL_MAXIMUM_WINDOW_SIZE);
        datagram.connect.channelCount = htonl(1);
        datagram.connect.packetThrottleInterval = htonl(ENET_PEER_PACKET_THROTTLE_INTERVAL);
        datagram.connect.packetThrottleAcceleration = htonl(ENET_PEER_PACKET_THROTTLE_ACCELERATION);
        datagram.connect.packetThrottleDeceleration = htonl(ENET_PEER_PACKET_THROTTLE_DECELERATION);
        datagram.connect.connectID = htonl(connectId);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        return sendto(fd, &datagram, sizeof(datagram), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
               static_cast<ssize_t>(sizeof(datagram));
    }

private:
    int fd = -1;
};

// An ordinary client of the transport on a loopback address of its own,
// which attacks the host as its plan says.
class Attacker {
public:
    struct Plan {
        std::vector<uint8_t> join;               // a join request to send, none when empty
        std::chrono::milliseconds joinAfter{0};  // how long to say nothing before sending it
        size_t packetBytes = 0;                  // a packet this long to send once (after joining, if it asks)
        int heldPackets = 0;                     // empty packets the host must hold, sent likewise
        bool reconnect = false;                  // connects again when the host drops it
    };

    Attacker(const char* from, uint16_t port, Plan plan) : plan(std::move(plan))
    {
        ENetAddress local{};
        enet_address_set_host_ip(&local, from);
        host = enet_host_create(&local, 1, 1, 0, 0);
        enet_address_set_host_ip(&remote, "127.0.0.1");
        remote.port = port;
        if (host != nullptr) {
            // Its own limit must not keep it from sending what it likes.
            host->maximumPacketSize = kPayloadBytes;
            Connect();
        }
    }
    ~Attacker()
    {
        if (host != nullptr) {
            enet_host_destroy(host);
        }
    }
    bool Ok() const { return link != nullptr; }
    bool Connected() const { return connected; }
    bool Joined() const { return joined; }
    int Drops() const { return drops; }

    // Serves the transport, as a client does, and goes on with the plan.
    void Serve()
    {
        const auto now = std::chrono::steady_clock::now();
        if (link == nullptr && plan.reconnect) {
            Connect();
        }
        ENetEvent event;
        while (link != nullptr && enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT) {
                connected = true;
                connectedAt = now;
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                link = nullptr;
                connected = false;
                ++drops;
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                JoinReply reply;
                joined = DecodeJoinReply(event.packet->data, event.packet->dataLength, &reply) &&
                         reply.result == NetResult::Ok;
                enet_packet_destroy(event.packet);
            }
        }
        if (!connected) {
            return;
        }
        if (!asked && !plan.join.empty() && now - connectedAt >= plan.joinAfter) {
            Send(plan.join.data(), plan.join.size(), ENET_PACKET_FLAG_RELIABLE);
            asked = true;
        }
        const bool mayFlood = plan.join.empty() || joined;
        if (mayFlood && !sentPacket && plan.packetBytes != 0) {
            Send(Payload(), plan.packetBytes, ENET_PACKET_FLAG_RELIABLE | ENET_PACKET_FLAG_NO_ALLOCATE);
            sentPacket = true;
        }
        if (mayFlood && held < plan.heldPackets) {
            SendHeld(plan.heldPackets);
        }
    }

private:
    static constexpr size_t kPayloadBytes = 8u << 20;
    static const uint8_t* Payload()
    {
        static const std::vector<uint8_t> payload(kPayloadBytes, 0x5A);
        return payload.data();
    }

    void Connect()
    {
        link = enet_host_connect(host, &remote, 1, 0);
        connected = joined = asked = sentPacket = false;
        held = 0;
    }
    // Empty reliable packets that all come after one never sent: the host's
    // transport keeps each of them until that one comes, and no byte limit
    // counts them. Sent in datagrams of the link's own, ten a call, so
    // that the host's socket takes them all.
    void SendHeld(int count)
    {
        const uint16_t first = static_cast<uint16_t>(link->channels[0].outgoingReliableSequenceNumber + 2);
        ENetProtocolHeader header{};
        header.peerID = htons(static_cast<uint16_t>(link->outgoingPeerID | ENET_PROTOCOL_HEADER_FLAG_SENT_TIME |
                                                    (link->outgoingSessionID << ENET_PROTOCOL_HEADER_SESSION_SHIFT)));
        std::vector<uint8_t> datagram;
        for (int d = 0; d < 10 && held < count; ++d) {
            datagram.resize(sizeof(header));
            std::memcpy(datagram.data(), &header, sizeof(header));
            for (int k = 0; k < 100 && held < count; ++k, ++held) {
                ENetProtocolSendReliable command{};
                command.header.command =
                    uint8_t(unsigned(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) | unsigned(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
                command.header.reliableSequenceNumber = htons(static_cast<uint16_t>(first + held));
                const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&command);
                datagram.insert(datagram.end(), bytes, bytes + sizeof(command));
            }
            ENetBuffer buffer{datagram.data(), datagram.size()};
            enet_socket_send(host->socket, &link->address, &buffer, 1);
        }
    }
    void Send(const void* data, size_t size, enet_uint32 flags)
    {
        ENetPacket* packet = enet_packet_create(data, size, flags);
        if (packet != nullptr && enet_peer_send(link, 0, packet) != 0) {
            enet_packet_destroy(packet);
        }
    }

    Plan plan;
    ENetHost* host = nullptr;
    ENetAddress remote{};
    ENetPeer* link = nullptr;
    bool connected = false;
    bool joined = false;
    bool asked = false;
    bool sentPacket = false;
    int held = 0;
    int drops = 0;
    std::chrono::steady_clock::time_point connectedAt{};
};

// Bytes the transport holds in this process, counted through the
// allocation hooks it offers.
std::atomic<int64_t> g_transportBytes{0};

void* CountedMalloc(size_t size)
{
    void* memory = std::malloc(size);
    if (memory != nullptr) {
        g_transportBytes += static_cast<int64_t>(malloc_usable_size(memory));
    }
    return memory;
}

void CountedFree(void* memory)
{
    if (memory != nullptr) {
        g_transportBytes -= static_cast<int64_t>(malloc_usable_size(memory));
        std::free(memory);
    }
}

std::vector<std::string> Addresses(const char* prefix, int count)
{
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i) {
        out.push_back(prefix + std::to_string(i));
    }
    return out;
}

class PeerAdmissionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        net_test::UseLoopbackOnly();
        ENetCallbacks counted{CountedMalloc, CountedFree, nullptr};
        ASSERT_EQ(enet_initialize_with_callbacks(ENET_VERSION, &counted), 0);
        port = net_test::FreeLoopbackPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override { enet_deinitialize(); }

    // The host under attack, with a password. Tests that fork start it
    // afterwards, so that the child has no threads to lose.
    void StartHost()
    {
        ASSERT_EQ(Peer::Create(&host), NetResult::Ok);
        ASSERT_EQ(host->Initialize(nullptr, nullptr), NetResult::Ok);
        SessionDesc desc = Desc(kSessionMigrateHost | kSessionRequirePassword, "secret");
        ASSERT_EQ(host->Host(desc, *Address(port, nullptr)), NetResult::Ok);
    }

    static std::vector<uint8_t> JoinRequestWith(const char* password)
    {
        JoinRequest request;
        request.application = kApp;
        request.password = password;
        request.playerName = "attacker";
        return EncodeJoinRequest(request);
    }

    static std::unique_ptr<NetAddress> Address(uint32_t portNumber, const char* hostName)
    {
        auto address = NetAddress::Create();
        EXPECT_EQ(address->BuildFromUrl(kUdpUrl), NetResult::Ok);
        EXPECT_EQ(address->SetDword("port", portNumber), NetResult::Ok);
        if (hostName != nullptr) {
            EXPECT_EQ(address->SetString("hostname", hostName), NetResult::Ok);
        }
        return address;
    }

    static SessionDesc Desc(uint32_t flags, const char* password)
    {
        SessionDesc desc;
        desc.flags = flags;
        desc.application = kApp;
        desc.sessionName = "room";
        desc.password = password;
        return desc;
    }

    // A join by a fresh peer from 127.0.0.1.
    NetResult Join(const SessionDesc& desc)
    {
        std::unique_ptr<Peer> joiner;
        if (Peer::Create(&joiner) != NetResult::Ok || joiner->Initialize(nullptr, nullptr) != NetResult::Ok) {
            return NetResult::NoTransport;
        }
        NetResult result = joiner->Connect(desc, *Address(port, "127.0.0.1"), nullptr, kJoinTimeoutMs);
        if (result == NetResult::Ok) {
            joiners.push_back(std::move(joiner));
        }
        return result;
    }

    // The three joins every attack must leave working as before.
    void ExpectJoinsJudgedAsUsual()
    {
        EXPECT_EQ(Join(Desc(kSessionRequirePassword, "secret")), NetResult::Ok);
        EXPECT_EQ(Join(Desc(kSessionRequirePassword, "wrong")), NetResult::InvalidPassword);
        SessionDesc other = Desc(kSessionRequirePassword, "secret");
        other.application.data4[7] ^= 0xFF;
        EXPECT_EQ(Join(other), NetResult::InvalidApplication);
        EXPECT_TRUE(net_test::WaitFor([&] { return host->GetPlayerCount() == 2; }));
    }

    uint16_t port = 0;
    std::unique_ptr<Peer> host;
    std::vector<std::unique_ptr<Peer>> joiners;
};

}  // namespace

TEST_F(PeerAdmissionTest, BurstOfConnectsFromTheJoinersOwnAddress)
{
    StartHost();
    // 320 connects (about 15 KB) from eight ports of 127.0.0.1, each with a
    // connection id of its own, sent before the real joiner from the same
    // address starts.
    std::vector<std::unique_ptr<RawSender>> senders;
    for (int s = 0; s < 8; ++s) {
        senders.push_back(std::make_unique<RawSender>("127.0.0.1"));
        ASSERT_TRUE(senders.back()->Ok());
    }
    uint32_t connectId = 1;
    for (int round = 0; round < 40; ++round) {
        for (auto& sender : senders) {
            ASSERT_TRUE(sender->SendConnect(port, connectId++));
        }
    }
    ExpectJoinsJudgedAsUsual();
}

TEST_F(PeerAdmissionTest, OngoingFloodsOfConnects)
{
    // From one port of another address as fast as it goes, and from 8 ports
    // of the joiners' own address 50 a second each.
    struct Flood {
        const char* from;
        int ports;
        int perRound;
        std::chrono::milliseconds round;
    } floods[] = {
        {"127.0.0.2", 1, 50, std::chrono::milliseconds(1)},
        {"127.0.0.1", 8, 1, std::chrono::milliseconds(20)},
    };
    for (const Flood& f : floods) {
        SCOPED_TRACE(f.from);
        joiners.clear();
        host.reset();
        StartHost();
        std::vector<std::unique_ptr<RawSender>> flooders;
        for (int i = 0; i < f.ports; ++i) {
            flooders.push_back(std::make_unique<RawSender>(f.from));
            ASSERT_TRUE(flooders.back()->Ok());
        }
        std::atomic<bool> stop{false};
        std::atomic<uint32_t> sent{0};
        std::thread flood([&] {
            uint32_t connectId = 1;
            while (!stop.load()) {
                for (auto& flooder : flooders) {
                    for (int i = 0; i < f.perRound; ++i) {
                        sent += flooder->SendConnect(port, connectId++) ? 1 : 0;
                    }
                }
                std::this_thread::sleep_for(f.round);
            }
        });
        // The flood is under way before the joins start, and lasts through
        // them.
        EXPECT_TRUE(net_test::WaitFor([&] { return sent.load() >= 40u; }));
        ExpectJoinsJudgedAsUsual();
        stop = true;
        flood.join();
    }
}

TEST_F(PeerAdmissionTest, SlotsFullOfSilentAndHalfOpenConnectionsAreCleared)
{
    StartHost();
    // Half of them: connects from as many addresses that never go further;
    // the other half: peers that finish the handshake and say nothing.
    std::vector<std::unique_ptr<RawSender>> forged;
    for (int i = 0; i < kSquatters / 2; ++i) {
        const std::string from = "127.0.2." + std::to_string(i + 1);
        forged.push_back(std::make_unique<RawSender>(from.c_str()));
        ASSERT_TRUE(forged.back()->Ok());
        ASSERT_TRUE(forged.back()->SendConnect(port, 7000u + uint32_t(i)));
    }
    std::vector<std::unique_ptr<Attacker>> silent;
    for (int i = 0; i < kSquatters / 2; ++i) {
        const std::string from = "127.0.1." + std::to_string(i + 1);
        silent.push_back(std::make_unique<Attacker>(from.c_str(), port, Attacker::Plan{}));
        ASSERT_TRUE(silent.back()->Ok());
    }
    auto serveAll = [&] {
        for (auto& peer : silent) {
            peer->Serve();
        }
    };
    auto countIf = [&](auto state) {
        int n = 0;
        for (auto& peer : silent) {
            n += state(*peer) ? 1 : 0;
        }
        return n;
    };
    auto connected = [](const Attacker& peer) { return peer.Connected(); };
    auto dropped = [](const Attacker& peer) { return peer.Drops() > 0; };
    EXPECT_TRUE(net_test::WaitFor([&] {
        serveAll();
        return countIf(connected) == kSquatters / 2;
    }));

    // A join meanwhile gets in; the silent ones are dropped by their deadline.
    std::atomic<NetResult> joined{NetResult::TimedOut};
    std::thread join([&] { joined = Join(Desc(kSessionRequirePassword, "secret")); });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kJoinTimeoutMs + 2000);
    while (countIf(dropped) < kSquatters / 2 && std::chrono::steady_clock::now() < until) {
        serveAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    join.join();
    EXPECT_EQ(countIf(dropped), kSquatters / 2) << "the host tells silent peers it dropped them";
    EXPECT_EQ(joined.load(), NetResult::Ok);
    EXPECT_EQ(Join(Desc(kSessionRequirePassword, "wrong")), NetResult::InvalidPassword);
    EXPECT_TRUE(net_test::WaitFor([&] { return host->GetPlayerCount() == 2; }));
}

TEST_F(PeerAdmissionTest, RealJoinsGetInThroughASustainedAttackFromManyAddresses)
{
    StartHost();
    // Forged connects, 50 a second from each of 16 addresses, and from 16
    // more addresses 4 ordinary clients each that say nothing for 950 ms,
    // then ask with a wrong password and come back once refused: together
    // more than a host used to have slots.
    std::vector<std::unique_ptr<RawSender>> forged;
    for (const std::string& from : Addresses("127.0.3.", 16)) {
        forged.push_back(std::make_unique<RawSender>(from.c_str()));
        ASSERT_TRUE(forged.back()->Ok());
    }
    Attacker::Plan squat;
    squat.join = JoinRequestWith("wrong");
    squat.joinAfter = std::chrono::milliseconds(950);
    squat.reconnect = true;
    std::vector<std::unique_ptr<Attacker>> squatters;
    for (const std::string& from : Addresses("127.0.4.", 16)) {
        for (int i = 0; i < 4; ++i) {
            squatters.push_back(std::make_unique<Attacker>(from.c_str(), port, squat));
            ASSERT_TRUE(squatters.back()->Ok());
        }
    }
    std::atomic<bool> stop{false};
    std::atomic<int> cameBack{0};  // squatters refused at least once
    std::thread attack([&] {
        uint32_t connectId = 1;
        auto next = std::chrono::steady_clock::now();
        while (!stop.load()) {
            for (auto& sender : forged) {
                sender->SendConnect(port, connectId++);
            }
            next += std::chrono::milliseconds(20);
            while (std::chrono::steady_clock::now() < next) {
                int refused = 0;
                for (auto& squatter : squatters) {
                    squatter->Serve();
                    refused += squatter->Drops() > 0 ? 1 : 0;
                }
                cameBack = refused;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    // Every squatter has held its slot to its end and come back before the
    // first join, and the attack goes on through all of them.
    const auto warmUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (cameBack.load() < static_cast<int>(squatters.size()) && std::chrono::steady_clock::now() < warmUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(cameBack.load(), static_cast<int>(squatters.size()));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Join(Desc(kSessionRequirePassword, "secret")), NetResult::Ok);
        EXPECT_EQ(Join(Desc(kSessionRequirePassword, "wrong")), NetResult::InvalidPassword);
    }
    stop = true;
    attack.join();
    EXPECT_TRUE(net_test::WaitFor([&] { return host->GetPlayerCount() == 4; }));
}

TEST_F(PeerAdmissionTest, JoinsOverASlowLinkAreJudgedWithinTheirTimeout)
{
    // At 1 s each way the join request reaches the host 3 s after the
    // link's first datagram, and the answer comes back 4 s after it. A lost
    // answer comes again about three round trips after the first; the host
    // keeps the refused connection until it has taken it.
    StartHost();
    struct Case {
        int oneWayMs;
        bool loseFirstAnswer;
        const char* password;
        NetResult expected;
    } cases[] = {
        {600, false, "secret", NetResult::Ok},
        {1000, false, "secret", NetResult::Ok},
        {1000, false, "wrong", NetResult::InvalidPassword},
        {300, true, "wrong", NetResult::InvalidPassword},
    };
    constexpr size_t kCases = std::size(cases);
    // All from 127.0.0.1: any more at once would crowd one another out.
    static_assert(kCases <= Admission::kMaxPendingPerAddress);
    // The joins run at once, each over a relay of its own, to keep the
    // test short.
    std::unique_ptr<DelayRelay> relays[kCases];
    std::unique_ptr<Peer> peers[kCases];
    std::unique_ptr<NetAddress> addresses[kCases];
    NetResult results[kCases] = {};
    std::chrono::steady_clock::duration took[kCases] = {};
    std::vector<std::thread> joins;
    for (size_t k = 0; k < kCases; ++k) {
        relays[k] = std::make_unique<DelayRelay>(port, std::chrono::milliseconds(cases[k].oneWayMs),
                                                 cases[k].loseFirstAnswer);
        ASSERT_NE(relays[k]->Port(), 0);
        ASSERT_EQ(Peer::Create(&peers[k]), NetResult::Ok);
        ASSERT_EQ(peers[k]->Initialize(nullptr, nullptr), NetResult::Ok);
        addresses[k] = Address(relays[k]->Port(), "127.0.0.1");
    }
    ::testing::internal::CaptureStderr();
    for (size_t k = 0; k < kCases; ++k) {
        joins.emplace_back([&, k] {
            const auto start = std::chrono::steady_clock::now();
            results[k] = peers[k]->Connect(Desc(kSessionRequirePassword, cases[k].password), *addresses[k], nullptr,
                                           Peer::kLongestJoinMs);
            took[k] = std::chrono::steady_clock::now() - start;
        });
    }
    for (std::thread& join : joins) {
        join.join();
    }
    EXPECT_TRUE(net_test::WaitFor([&] { return host->GetPlayerCount() == 3; }));
    const std::string log = ::testing::internal::GetCapturedStderr();
    for (size_t k = 0; k < kCases; ++k) {
        EXPECT_EQ(results[k], cases[k].expected) << cases[k].oneWayMs << " ms, " << cases[k].password;
        EXPECT_GE(took[k], 4 * std::chrono::milliseconds(cases[k].oneWayMs)) << "the relay holds every datagram";
    }
    EXPECT_EQ(log.find("net: dropped"), std::string::npos) << "the host gave none of them up\n" << log;
}

TEST_F(PeerAdmissionTest, AJoinerThatGivesUpLeavesTheHost)
{
    // The host lets the joiner in 0.9 s after its first datagram, but the
    // answer is lost and comes again only after some 3 s: the joiner gives
    // up before, its link up. Connect returns a round trip later, by when
    // the host has heard it leave.
    StartHost();
    DelayRelay relay(port, std::chrono::milliseconds(300), true);
    ASSERT_NE(relay.Port(), 0);
    std::unique_ptr<Peer> joiner;
    ASSERT_EQ(Peer::Create(&joiner), NetResult::Ok);
    ASSERT_EQ(joiner->Initialize(nullptr, nullptr), NetResult::Ok);
    EXPECT_EQ(joiner->Connect(Desc(kSessionRequirePassword, "secret"), *Address(relay.Port(), "127.0.0.1"), nullptr,
                              2000),
              NetResult::TimedOut);
    EXPECT_TRUE(relay.AnswerLost()) << "the host let the joiner in";
    EXPECT_EQ(host->GetPlayerCount(), 1);
}

TEST_F(PeerAdmissionTest, FloodsOfPacketsLeaveTheHostHoldingLittle)
{
    // The attack runs in a child process, so that what the transport holds
    // here is the host's alone. It starts once the host is up.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(go[1]);
        char byte = 0;
        if (read(go[0], &byte, 1) != 1) {
            _exit(1);
        }
        // Players that join and then send a 5 MB packet, or 20 000 empty
        // packets the host would have to hold; once they are in,
        // connections that send a 5 MB packet without joining.
        Attacker::Plan joinedBig;
        joinedBig.join = JoinRequestWith("secret");
        joinedBig.packetBytes = 5u << 20;
        Attacker::Plan joinedEmpty;
        joinedEmpty.join = JoinRequestWith("secret");
        joinedEmpty.heldPackets = 20000;
        Attacker::Plan big;
        big.packetBytes = 5u << 20;
        big.reconnect = true;
        std::vector<std::unique_ptr<Attacker>> attackers;
        for (int i = 1; i <= 8; ++i) {
            const std::string from = "127.0.6." + std::to_string(i);
            attackers.push_back(std::make_unique<Attacker>(from.c_str(), port, i <= 4 ? joinedBig : joinedEmpty));
        }
        auto serveFor = [&](auto until) {
            for (auto start = std::chrono::steady_clock::now(); !until(); ) {
                if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) {
                    _exit(2);
                }
                for (auto& attacker : attackers) {
                    attacker->Serve();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
        serveFor([&] {
            return std::all_of(attackers.begin(), attackers.end(), [](auto& attacker) { return attacker->Joined(); });
        });
        for (const std::string& from : Addresses("127.0.5.", 16)) {
            attackers.push_back(std::make_unique<Attacker>(from.c_str(), port, big));
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        serveFor([&] { return std::chrono::steady_clock::now() >= end; });
        _exit(0);
    }
    close(go[0]);
    StartHost();
    const int64_t idle = g_transportBytes.load();
    ASSERT_EQ(write(go[1], "g", 1), 1);
    close(go[1]);

    int64_t peak = idle;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        peak = std::max(peak, g_transportBytes.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(host->GetPlayerCount(), 9) << "the flooding players are still in";
    // Each connection holds a few dozen packets at most; once the attack is
    // over the host has read what was left.
    EXPECT_LT(peak - idle, int64_t{2} << 20) << "bytes over idle at the peak";
    EXPECT_TRUE(net_test::WaitFor([&] { return g_transportBytes.load() - idle < (int64_t{256} << 10); }))
        << g_transportBytes.load() - idle;
}

TEST_F(PeerAdmissionTest, AJoinerTriesAgainOnlyWhenTheHostGaveItsLinkUp)
{
    // A host of the transport alone that drops the first link at once, as a
    // host making room does or as one that goes away, and accepts the next.
    struct Case {
        enet_uint32 disconnect;
        NetResult expected;
        int links;
    } cases[] = {
        {kDisconnectGivenUp, NetResult::Ok, 2},
        {0, NetResult::ConnectionLost, 1},
    };
    for (const Case& c : cases) {
        ENetAddress local{};
        enet_address_set_host_ip(&local, "127.0.0.1");
        local.port = port;
        ENetHost* fake = enet_host_create(&local, 4, 1, 0, 0);
        ASSERT_NE(fake, nullptr);
        std::atomic<bool> stop{false};
        std::atomic<int> links{0};
        std::thread serve([&] {
            ENetEvent event;
            while (!stop.load()) {
                if (enet_host_service(fake, &event, 5) <= 0) {
                    continue;
                }
                if (event.type == ENET_EVENT_TYPE_CONNECT && ++links == 1) {
                    enet_peer_disconnect_now(event.peer, c.disconnect);
                } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    JoinReply reply;
                    reply.player = 2;
                    std::vector<uint8_t> bytes = EncodeJoinReply(reply);
                    enet_peer_send(event.peer, 0,
                                   enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
                    enet_packet_destroy(event.packet);
                }
            }
        });
        EXPECT_EQ(Join(Desc(kSessionRequirePassword, "secret")), c.expected) << c.disconnect;
        stop = true;
        serve.join();
        enet_host_destroy(fake);
        EXPECT_EQ(links.load(), c.links) << c.disconnect;
    }
}
