// A host's slots under attack: connect datagrams that are never followed
// up (their sources may be forged) and connections that complete the
// transport's handshake and then stay silent. Real joins must still get in,
// and still be judged. The attackers here speak the transport's wire format
// themselves, or use the transport library directly, as an attacker would.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/address.h"
#include "platform/net/net.h"
#include "tests/platform/net/net_test_util.h"

using namespace platform;

namespace {

const char kUdpUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";
const NetGuid kApp = {0x5EC0A11Du, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
// Generous: a join may have to wait for the host to clear its slots and
// for the transport to send its connect again.
constexpr int32_t kJoinTimeoutMs = 8000;
// The host's slots, all of which the attacks below can fill.
constexpr int kHostSlots = 64;

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

// A transport endpoint that completes the handshake with the host and then
// never sends a join request.
class SilentPeer {
public:
    SilentPeer(const char* from, uint16_t port)
    {
        ENetAddress local{};
        enet_address_set_host_ip(&local, from);
        host = enet_host_create(&local, 1, 1, 0, 0);
        if (host == nullptr) {
            return;
        }
        ENetAddress remote{};
        enet_address_set_host_ip(&remote, "127.0.0.1");
        remote.port = port;
        link = enet_host_connect(host, &remote, 1, 0);
    }
    ~SilentPeer()
    {
        if (host != nullptr) {
            enet_host_destroy(host);
        }
    }
    bool Ok() const { return link != nullptr; }
    bool Connected() const { return connected; }
    bool Dropped() const { return dropped; }

    // Acknowledges what the host sends, as a transport does; nothing else.
    void Serve()
    {
        ENetEvent event;
        while (host != nullptr && enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_CONNECT) {
                connected = true;
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                dropped = true;
            } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                enet_packet_destroy(event.packet);
            }
        }
    }

private:
    ENetHost* host = nullptr;
    ENetPeer* link = nullptr;
    bool connected = false;
    bool dropped = false;
};

class PeerAdmissionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        net_test::UseLoopbackOnly();
        ASSERT_EQ(enet_initialize(), 0);
        port = net_test::FreeLoopbackPort();
        ASSERT_NE(port, 0);
        ASSERT_EQ(Peer::Create(&host), NetResult::Ok);
        ASSERT_EQ(host->Initialize(nullptr, nullptr), NetResult::Ok);
        SessionDesc desc = Desc(kSessionMigrateHost | kSessionRequirePassword, "secret");
        ASSERT_EQ(host->Host(desc, *Address(port, nullptr)), NetResult::Ok);
    }
    void TearDown() override { enet_deinitialize(); }

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

TEST_F(PeerAdmissionTest, OngoingFloodFromAnotherAddress)
{
    RawSender flooder("127.0.0.2");
    ASSERT_TRUE(flooder.Ok());
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> sent{0};
    std::thread flood([&] {
        uint32_t connectId = 1;
        while (!stop.load()) {
            for (int i = 0; i < 50; ++i) {
                if (flooder.SendConnect(port, connectId++)) {
                    sent++;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // The flood is under way before the joins start, and lasts through them.
    EXPECT_TRUE(net_test::WaitFor([&] { return sent.load() >= 1000; }));
    ExpectJoinsJudgedAsUsual();
    stop = true;
    flood.join();
    EXPECT_GT(sent.load(), 1000u);
}

TEST_F(PeerAdmissionTest, SlotsFullOfSilentAndHalfOpenConnectionsAreCleared)
{
    // Half the slots: connects from as many addresses that never go further;
    // the other half: peers that finish the handshake and say nothing.
    std::vector<std::unique_ptr<RawSender>> forged;
    for (int i = 0; i < kHostSlots / 2; ++i) {
        const std::string from = "127.0.2." + std::to_string(i + 1);
        forged.push_back(std::make_unique<RawSender>(from.c_str()));
        ASSERT_TRUE(forged.back()->Ok());
        ASSERT_TRUE(forged.back()->SendConnect(port, 7000u + uint32_t(i)));
    }
    std::vector<std::unique_ptr<SilentPeer>> silent;
    for (int i = 0; i < kHostSlots / 2; ++i) {
        const std::string from = "127.0.1." + std::to_string(i + 1);
        silent.push_back(std::make_unique<SilentPeer>(from.c_str(), port));
        ASSERT_TRUE(silent.back()->Ok());
    }
    auto serveAll = [&] {
        for (auto& peer : silent) {
            peer->Serve();
        }
    };
    auto countIf = [&](bool (SilentPeer::*state)() const) {
        int n = 0;
        for (auto& peer : silent) {
            n += (peer.get()->*state)() ? 1 : 0;
        }
        return n;
    };
    EXPECT_TRUE(net_test::WaitFor([&] {
        serveAll();
        return countIf(&SilentPeer::Connected) == kHostSlots / 2;
    }));

    // Every slot is taken now; the join waits until the host clears them.
    std::atomic<NetResult> joined{NetResult::TimedOut};
    std::thread join([&] { joined = Join(Desc(kSessionRequirePassword, "secret")); });
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kJoinTimeoutMs + 2000);
    while (countIf(&SilentPeer::Dropped) < kHostSlots / 2 && std::chrono::steady_clock::now() < until) {
        serveAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    join.join();
    EXPECT_EQ(countIf(&SilentPeer::Dropped), kHostSlots / 2) << "the host tells silent peers it dropped them";
    EXPECT_EQ(joined.load(), NetResult::Ok);
    EXPECT_EQ(Join(Desc(kSessionRequirePassword, "wrong")), NetResult::InvalidPassword);
    EXPECT_TRUE(net_test::WaitFor([&] { return host->GetPlayerCount() == 2; }));
}
