#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "platform/net/address.h"
#include "platform/net/net.h"
#include "tests/platform/net/net_test_util.h"

using namespace platform;
using net_test::WaitFor;

static const char kUdpUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";
static const NetGuid kApp = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
static constexpr int32_t kTimeoutMs = 2000;

// Counts what a peer's handler hears; the handler may run on any thread.
struct Heard {
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> terminated{0};
};

static NetResult Count(void* context, PeerMessageType type, const PeerMessage&)
{
    Heard* heard = static_cast<Heard*>(context);
    if (type == PeerMessageType::CreatePlayer) {
        heard->created++;
    } else if (type == PeerMessageType::DestroyPlayer) {
        heard->destroyed++;
    } else if (type == PeerMessageType::TerminateSession) {
        heard->terminated++;
    }
    return NetResult::Ok;
}

class PeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        net_test::UseLoopbackOnly();
        port = net_test::FreeLoopbackPort();
        ASSERT_NE(port, 0);
        ASSERT_EQ(Peer::Create(&host), NetResult::Ok);
        ASSERT_EQ(Peer::Create(&joiner), NetResult::Ok);
        ASSERT_EQ(host->Initialize(Count, &hostHeard), NetResult::Ok);
        ASSERT_EQ(joiner->Initialize(Count, &joinerHeard), NetResult::Ok);
        ASSERT_EQ(joiner->SetPlayerInfo("joiner"), NetResult::Ok);
    }

    static std::unique_ptr<NetAddress> Address(uint32_t portNumber, const char* hostName)
    {
        auto address = NetAddress::Create();
        EXPECT_EQ(address->BuildFromUrl(kUdpUrl), NetResult::Ok);
        if (portNumber != 0) {
            EXPECT_EQ(address->SetDword("port", portNumber), NetResult::Ok);
        }
        if (hostName != nullptr) {
            EXPECT_EQ(address->SetString("hostname", hostName), NetResult::Ok);
        }
        return address;
    }

    static SessionDesc Desc(uint32_t flags = kSessionMigrateHost, const char* password = "")
    {
        SessionDesc desc;
        desc.flags = flags;
        desc.application = kApp;
        desc.sessionName = "room";
        desc.password = password;
        return desc;
    }

    NetResult HostOnPort(const SessionDesc& desc) { return host->Host(desc, *Address(port, nullptr)); }
    NetResult Join(const SessionDesc& desc) { return joiner->Connect(desc, *Address(port, "127.0.0.1"), nullptr, kTimeoutMs); }

    uint16_t port = 0;
    Heard hostHeard;
    Heard joinerHeard;
    std::unique_ptr<Peer> host;
    std::unique_ptr<Peer> joiner;
};

TEST_F(PeerTest, HostsAndJoinsOnLoopback)
{
    ASSERT_EQ(HostOnPort(Desc()), NetResult::Ok);
    EXPECT_TRUE(host->IsHost());
    EXPECT_EQ(host->GetLocalPort(), port);
    EXPECT_EQ(host->GetPlayerCount(), 1);
    ASSERT_EQ(Join(Desc(0)), NetResult::Ok);
    EXPECT_TRUE(joiner->IsInSession());
    EXPECT_FALSE(joiner->IsHost());
    EXPECT_EQ(joiner->GetPlayerCount(), 2);
    EXPECT_NE(joiner->GetLocalPort(), 0);
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));
    // The host hears itself and the joiner; the joiner hears both players.
    EXPECT_TRUE(WaitFor([&] { return hostHeard.created.load() == 2; }));
    EXPECT_EQ(joinerHeard.created.load(), 2);
}

TEST_F(PeerTest, LeavingIsSeenByTheOtherEnd)
{
    ASSERT_EQ(HostOnPort(Desc()), NetResult::Ok);
    ASSERT_EQ(Join(Desc(0)), NetResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));
    ASSERT_EQ(joiner->Close(), NetResult::Ok);
    EXPECT_FALSE(joiner->IsInitialized());
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 1 && hostHeard.destroyed.load() == 1; }));

    // A closed peer joins again once initialised; then the host ends it all.
    ASSERT_EQ(joiner->Initialize(Count, &joinerHeard), NetResult::Ok);
    ASSERT_EQ(Join(Desc(0)), NetResult::Ok);
    ASSERT_EQ(host->Close(), NetResult::Ok);
    // The session's state changes before its handler hears of the end, on
    // the network thread: both are waited for.
    EXPECT_TRUE(WaitFor([&] { return !joiner->IsInSession() && joinerHeard.terminated.load() >= 1; }));
    EXPECT_EQ(joinerHeard.terminated.load(), 1);
    EXPECT_EQ(joiner->GetPlayerCount(), 0);
    // Still joined in name until closed, so another join is refused.
    EXPECT_EQ(Join(Desc(0)), NetResult::AlreadyInSession);
}

TEST_F(PeerTest, PasswordIsCheckedOnlyWhenRequired)
{
    ASSERT_EQ(HostOnPort(Desc(kSessionMigrateHost | kSessionRequirePassword, "secret")), NetResult::Ok);
    EXPECT_EQ(Join(Desc(kSessionRequirePassword, "wrong")), NetResult::InvalidPassword);
    EXPECT_FALSE(joiner->IsInSession());
    EXPECT_EQ(Join(Desc(0, "")), NetResult::InvalidPassword);
    EXPECT_EQ(Join(Desc(kSessionRequirePassword, "secret")), NetResult::Ok);
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));

    std::unique_ptr<Peer> open;
    ASSERT_EQ(Peer::Create(&open), NetResult::Ok);
    ASSERT_EQ(open->Initialize(nullptr, nullptr), NetResult::Ok);
    uint16_t openPort = net_test::FreeLoopbackPort();
    ASSERT_EQ(open->Host(Desc(), *Address(openPort, nullptr)), NetResult::Ok);
    ASSERT_EQ(joiner->Close(), NetResult::Ok);
    ASSERT_EQ(joiner->Initialize(nullptr, nullptr), NetResult::Ok);
    // The longest password and name make the longest packet there is.
    const std::string longest(Peer::kMaxTextBytes, 'x');
    ASSERT_EQ(joiner->SetPlayerInfo(longest.c_str()), NetResult::Ok);
    EXPECT_EQ(joiner->Connect(Desc(kSessionRequirePassword, longest.c_str()), *Address(openPort, "127.0.0.1"), nullptr,
                              kTimeoutMs),
              NetResult::Ok);
}

TEST_F(PeerTest, RefusesOtherApplicationsAndFullSessions)
{
    SessionDesc desc = Desc();
    desc.maxPlayers = 2;
    ASSERT_EQ(HostOnPort(desc), NetResult::Ok);
    SessionDesc other = Desc(0);
    other.application.data1 ^= 1;
    EXPECT_EQ(Join(other), NetResult::InvalidApplication);
    ASSERT_EQ(Join(Desc(0)), NetResult::Ok);

    std::unique_ptr<Peer> third;
    ASSERT_EQ(Peer::Create(&third), NetResult::Ok);
    ASSERT_EQ(third->Initialize(nullptr, nullptr), NetResult::Ok);
    EXPECT_EQ(third->Connect(Desc(0), *Address(port, "127.0.0.1"), nullptr, kTimeoutMs), NetResult::SessionFull);
    EXPECT_EQ(host->GetPlayerCount(), 2);
}

TEST_F(PeerTest, ClosedPortIsRefusedWithoutWaitingOutTheTimeout)
{
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Join(Desc(0)), NetResult::Refused);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs));
    EXPECT_FALSE(joiner->IsInSession());
    // The failed join left nothing behind: the peer can still host.
    EXPECT_EQ(joiner->Host(Desc(), *Address(port, nullptr)), NetResult::Ok);
}

TEST_F(PeerTest, CallsOutOfOrderFail)
{
    std::unique_ptr<Peer> fresh;
    ASSERT_EQ(Peer::Create(&fresh), NetResult::Ok);
    EXPECT_EQ(fresh->SetPlayerInfo("x"), NetResult::NotInitialized);
    EXPECT_EQ(fresh->Host(Desc(), *Address(port, nullptr)), NetResult::NotInitialized);
    EXPECT_EQ(fresh->Connect(Desc(), *Address(port, "127.0.0.1"), nullptr, kTimeoutMs), NetResult::NotInitialized);
    EXPECT_EQ(fresh->Close(), NetResult::NotInitialized);
    EXPECT_EQ(host->Initialize(nullptr, nullptr), NetResult::AlreadyInitialized);

    ASSERT_EQ(HostOnPort(Desc()), NetResult::Ok);
    EXPECT_EQ(HostOnPort(Desc()), NetResult::AlreadyInSession);
    EXPECT_EQ(host->Connect(Desc(), *Address(port, "127.0.0.1"), nullptr, kTimeoutMs), NetResult::AlreadyInSession);
    // Another peer cannot take a port in use.
    EXPECT_EQ(joiner->Host(Desc(), *Address(port, nullptr)), NetResult::AddressInUse);
    EXPECT_FALSE(joiner->IsInSession());
}

TEST_F(PeerTest, ChecksAddressesBeforeTouchingTheNetwork)
{
    auto noProvider = NetAddress::Create();
    ASSERT_EQ(noProvider->SetString("hostname", "127.0.0.1"), NetResult::Ok);
    EXPECT_EQ(host->Host(Desc(), *noProvider), NetResult::MissingComponent);
    EXPECT_EQ(joiner->Connect(Desc(), *noProvider, nullptr, kTimeoutMs), NetResult::MissingComponent);
    EXPECT_EQ(joiner->Connect(Desc(), *Address(port, nullptr), nullptr, kTimeoutMs), NetResult::MissingComponent);
    EXPECT_EQ(host->Host(Desc(), *Address(70000, nullptr)), NetResult::InvalidParam);
    EXPECT_EQ(joiner->Connect(Desc(), *Address(70000, "127.0.0.1"), nullptr, kTimeoutMs), NetResult::InvalidParam);
    EXPECT_EQ(joiner->Connect(Desc(), *Address(port, "127.0.0.1"), nullptr, 0), NetResult::InvalidParam);
    // Texts that are no host name are refused without any lookup, and the
    // log shows them escaped: a terminal sequence in one would act on the
    // terminal that reads the log.
    const std::string notNames[] = {"", std::string(254, 'a'), std::string(64, 'a') + ".b", "a b", "host;x",
                                    "\x1b]2;owned\x07"};
    ::testing::internal::CaptureStderr();
    for (const std::string& name : notNames) {
        EXPECT_EQ(joiner->Connect(Desc(), *Address(port, name.c_str()), nullptr, kTimeoutMs), NetResult::HostNotFound)
            << name;
    }
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("net: \"\\x1b]2;owned\\x07\" is not a host name"), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    std::string longName(Peer::kMaxTextBytes + 1, 'n');
    EXPECT_EQ(joiner->SetPlayerInfo(longName.c_str()), NetResult::InvalidParam);
    EXPECT_EQ(joiner->SetPlayerInfo(nullptr), NetResult::InvalidParam);
    EXPECT_FALSE(host->IsInSession());
    EXPECT_FALSE(joiner->IsInSession());
}

TEST_F(PeerTest, HostWithoutPortTakesOneFromTheDefaultRange)
{
    ASSERT_EQ(host->Host(Desc(), *Address(0, nullptr)), NetResult::Ok);
    EXPECT_GE(host->GetLocalPort(), Peer::kDefaultPort);
    EXPECT_LE(host->GetLocalPort(), Peer::kDefaultPortLast);
    // Joining that port by number works as with any other.
    EXPECT_EQ(joiner->Connect(Desc(0), *Address(host->GetLocalPort(), "127.0.0.1"), nullptr, kTimeoutMs),
              NetResult::Ok);
}

TEST_F(PeerTest, DestroyingAPeerInASessionTellsTheOthers)
{
    ASSERT_EQ(HostOnPort(Desc()), NetResult::Ok);
    ASSERT_EQ(Join(Desc(0)), NetResult::Ok);
    ASSERT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));
    joiner.reset();
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 1; }));
}
