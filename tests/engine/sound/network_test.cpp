#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "engine/core/debug.h"
#include "engine/sound/network.h"
#include "platform/net/address.h"
#include "platform/net/net.h"
#include "tests/platform/net/net_test_util.h"

using net_test::WaitFor;
using platform::NetResult;

// The application id that engine sessions carry; a peer must present it to
// join one.
static const platform::NetGuid kEngineApp = {
    0x02AE835D, 0x9179, 0x485F, {0x83, 0x43, 0x90, 0x1D, 0x32, 0x7C, 0xE7, 0x94}};
static const char kUdpUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";

static const char kInitBanner[] = "\n============================================== Initialize DirectPlay\n";
static const char kDestroyBanner[] = "\n============================================== Destroy DirectPlay\n";
static const char kCreated[] = "  ■ Create DirectPlayPeer Object\n  ■ Initialize DirectPlayPeer Object\n";
static const char kReleased[] = "  ■ Release DirectPlayPeer Object\n";
static const char kCreateError[] = "■ OrvaNetwork::CreateSession : ERROR\n";
static const char kConnectError[] = "■ OrvaNetwork::ConnectSession : ERROR\n";
static const char kDisconnectError[] = "■ OrvaNetwork::DisconnectSession : ERROR\n";

static std::string LastError()
{
    char text[OrvaNetwork::kLastErrorBytes];
    std::memset(text, 'x', sizeof(text));
    OrvaNetwork::GetLastError(text);
    return text;
}

static int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Runs first, while this process has run no session operation.
TEST(OrvaNetworkFresh, ReportsNothingBeforeAnySessionOperation)
{
    char text[OrvaNetwork::kLastErrorBytes] = "stale";
    EXPECT_EQ(OrvaNetwork::GetLastError(text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 0);
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
}

class OrvaNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        net_test::UseLoopbackOnly();
        logPath = ::testing::TempDir() + "network_" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
        OrvaDebug::SetLogPath(logPath.c_str());
        port = net_test::FreeLoopbackPort();
        ASSERT_NE(port, 0);
    }
    void TearDown() override
    {
        OrvaNetwork::Destroy();
        OrvaDebug::SetLogPath(nullptr);
        std::remove(logPath.c_str());
    }
    std::string Log() const
    {
        std::ifstream file(logPath, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // A peer of our own, standing for another program on this machine.
    static std::unique_ptr<platform::Peer> OtherPeer()
    {
        std::unique_ptr<platform::Peer> peer;
        EXPECT_EQ(platform::Peer::Create(&peer), NetResult::Ok);
        if (peer != nullptr) {
            EXPECT_EQ(peer->Initialize(nullptr, nullptr), NetResult::Ok);
        }
        return peer;
    }
    static std::unique_ptr<platform::NetAddress> Address(uint16_t portNumber, const char* hostName)
    {
        auto address = platform::NetAddress::Create();
        EXPECT_EQ(address->BuildFromUrl(kUdpUrl), NetResult::Ok);
        EXPECT_EQ(address->SetDword("port", portNumber), NetResult::Ok);
        if (hostName != nullptr) {
            EXPECT_EQ(address->SetString("hostname", hostName), NetResult::Ok);
        }
        return address;
    }
    static platform::SessionDesc Desc(const char* password)
    {
        platform::SessionDesc desc;
        desc.application = kEngineApp;
        if (password != nullptr) {
            desc.flags = platform::kSessionRequirePassword;
            desc.password = password;
        }
        return desc;
    }
    // Another program hosting the engine's session on the test's port, as
    // the engine hosts it (the host may migrate).
    std::unique_ptr<platform::Peer> OtherHost(const char* password)
    {
        auto host = OtherPeer();
        platform::SessionDesc offer = Desc(password);
        offer.flags |= platform::kSessionMigrateHost;
        EXPECT_EQ(host->Host(offer, *Address(port, nullptr)), NetResult::Ok);
        return host;
    }
    NetResult JoinEngine(platform::Peer& peer, const char* password)
    {
        return peer.Connect(Desc(password), *Address(port, "127.0.0.1"), nullptr, 2000);
    }

    std::string logPath;
    uint16_t port = 0;
};

TEST_F(OrvaNetworkTest, StartAndShutDownLogTheirLines)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    EXPECT_EQ(Log(), std::string(kInitBanner) + kCreated);
    auto start = std::chrono::steady_clock::now();
    OrvaNetwork::Destroy();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Log(), std::string(kInitBanner) + kCreated + kDestroyBanner + kReleased);
    // A second start keeps the running module rather than orphaning it.
    ASSERT_TRUE(OrvaNetwork::Initialize());
    ASSERT_TRUE(OrvaNetwork::Initialize());
    EXPECT_EQ(Occurrences(Log(), kCreated), 2);
}

TEST_F(OrvaNetworkTest, JoinsASessionOnLoopback)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    auto host = OtherHost(nullptr);

    OrvaNetwork::ConnectSession("player", "ignored", port, "127.0.0.1", nullptr);
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));
    EXPECT_EQ(Occurrences(Log(), kConnectError), 0);

    // Leaving is seen by the host, and the module can join again.
    OrvaNetwork::DisconnectSession();
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 1; }));
    OrvaNetwork::ConnectSession("player", nullptr, port, "127.0.0.1", nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
}

TEST_F(OrvaNetworkTest, HostsASessionThatPeersJoin)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);

    auto joiner = OtherPeer();
    // Without a password asked for, any password is let in.
    EXPECT_EQ(JoinEngine(*joiner, "anything"), NetResult::Ok);
    auto stranger = OtherPeer();
    platform::SessionDesc other = Desc(nullptr);
    other.application.data1 += 1;
    EXPECT_EQ(stranger->Connect(other, *Address(port, "127.0.0.1"), nullptr, 2000), NetResult::InvalidApplication);
}

TEST_F(OrvaNetworkTest, HostedPasswordIsRequired)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", port, "pw");
    ASSERT_EQ(LastError(), "");
    auto joiner = OtherPeer();
    EXPECT_EQ(JoinEngine(*joiner, "nope"), NetResult::InvalidPassword);
    EXPECT_EQ(JoinEngine(*joiner, nullptr), NetResult::InvalidPassword);
    EXPECT_EQ(JoinEngine(*joiner, "pw"), NetResult::Ok);
}

TEST_F(OrvaNetworkTest, WrongPasswordKeepsItsMessageAndNoSession)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    auto host = OtherHost("secret");

    OrvaNetwork::ConnectSession("player", "room", port, "127.0.0.1", "wrong");
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "パスワードが間違っていますしました");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    EXPECT_EQ(Occurrences(Log(), kConnectError), 1);

    // The next operation starts from an empty error.
    OrvaNetwork::ConnectSession("player", "room", port, "127.0.0.1", "secret");
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
}

TEST_F(OrvaNetworkTest, JoinsOverASlowLink)
{
    // At 1 s each way the host's answer comes 4 s after the joiner's first
    // datagram: two round trips, the handshake and the join request.
    ASSERT_TRUE(OrvaNetwork::Initialize());
    auto host = OtherHost("secret");
    net_test::DelayRelay relay(port, std::chrono::milliseconds(1000));
    ASSERT_NE(relay.Port(), 0);

    OrvaNetwork::ConnectSession("player", "room", relay.Port(), "127.0.0.1", "secret");
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
    EXPECT_TRUE(WaitFor([&] { return host->GetPlayerCount() == 2; }));
}

TEST_F(OrvaNetworkTest, JoiningAClosedPortFails)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::ConnectSession("player", "room", port, "127.0.0.1", nullptr);
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "接続に失敗しました");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    EXPECT_EQ(Occurrences(Log(), kConnectError), 1);
}

TEST_F(OrvaNetworkTest, DisconnectEndsTheSessionAndFreesThePort)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    auto joiner = OtherPeer();
    ASSERT_EQ(JoinEngine(*joiner, nullptr), NetResult::Ok);

    OrvaNetwork::DisconnectSession();
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    EXPECT_TRUE(WaitFor([&] { return !joiner->IsInSession(); }));

    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
    EXPECT_EQ(Occurrences(Log(), kDisconnectError) + Occurrences(Log(), kCreateError), 0);
}

TEST_F(OrvaNetworkTest, DisconnectWithoutASessionReadiesThePeer)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::DisconnectSession();
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    EXPECT_EQ(LastError(), "");
}

TEST_F(OrvaNetworkTest, SecondCreateFailsAndKeepsTheFirstSession)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    ASSERT_EQ(LastError(), "");
    OrvaNetwork::CreateSession("host", "room", net_test::FreeLoopbackPort(), nullptr);
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "ホストの作成に失敗しました");
    EXPECT_EQ(Occurrences(Log(), kCreateError), 1);
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
    auto joiner = OtherPeer();
    EXPECT_EQ(JoinEngine(*joiner, nullptr), NetResult::Ok);
}

TEST_F(OrvaNetworkTest, PortZeroHostsOnADefaultPort)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", 0, nullptr);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 1);
}

TEST_F(OrvaNetworkTest, SessionCallsWithoutAPeerFailWithTheirMessages)
{
    // Before Initialize there is no peer: every step that needs it fails,
    // and the last failure's message is kept.
    OrvaNetwork::CreateSession("host", "room", port, "pw");
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "ホストの作成に失敗しました");
    EXPECT_EQ(Occurrences(Log(), kCreateError), 2);  // player information, then hosting
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);

    OrvaNetwork::ConnectSession("player", "room", port, "127.0.0.1", nullptr);
    EXPECT_EQ(LastError(), "接続に失敗しました");
    EXPECT_EQ(Occurrences(Log(), kConnectError), 2);

    OrvaNetwork::DisconnectSession();
    EXPECT_EQ(OrvaNetwork::GetLastError(nullptr), 1);
    EXPECT_EQ(LastError(), "DirectPlayの初期化に失敗しました");
    EXPECT_EQ(Occurrences(Log(), kDisconnectError), 2);

    // A released peer behaves the same until it is made again.
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::ReleasePeer();
    EXPECT_EQ(Occurrences(Log(), kReleased), 1);
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    EXPECT_EQ(LastError(), "ホストの作成に失敗しました");
    ASSERT_TRUE(OrvaNetwork::CreatePeer());
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    EXPECT_EQ(LastError(), "");
}

TEST_F(OrvaNetworkTest, ShutDownWithASessionOpenTellsThePlayers)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    OrvaNetwork::CreateSession("host", "room", port, nullptr);
    auto joiner = OtherPeer();
    ASSERT_EQ(JoinEngine(*joiner, nullptr), NetResult::Ok);

    OrvaNetwork::Destroy();
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
    EXPECT_TRUE(WaitFor([&] { return !joiner->IsInSession(); }));
    std::string log = Log();
    ASSERT_GE(log.size(), std::string(kDestroyBanner).size());
    EXPECT_EQ(log.substr(log.size() - std::string(kDestroyBanner).size() - std::string(kReleased).size()),
              std::string(kDestroyBanner) + kReleased);
    // The port is free again.
    auto other = OtherPeer();
    EXPECT_EQ(other->Host(Desc(nullptr), *Address(port, nullptr)), NetResult::Ok);
}

TEST_F(OrvaNetworkTest, OverlongTextsAreCutToTheirLimit)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    // 600 two-byte characters: the password keeps 511 of them whole.
    std::string wide;
    for (int i = 0; i < 600; ++i) {
        wide += "\x82\xA0";
    }
    OrvaNetwork::CreateSession(std::string(5000, 'p').c_str(), std::string(5000, 's').c_str(), port, wide.c_str());
    ASSERT_EQ(LastError(), "");
    auto joiner = OtherPeer();
    EXPECT_EQ(JoinEngine(*joiner, wide.c_str()), NetResult::InvalidPassword);
    EXPECT_EQ(JoinEngine(*joiner, wide.substr(0, 1021).c_str()), NetResult::InvalidPassword);
    EXPECT_EQ(JoinEngine(*joiner, wide.substr(0, 1022).c_str()), NetResult::Ok);

    // A long host text is cut, then refused as no host name.
    OrvaNetwork::DisconnectSession();
    OrvaNetwork::ConnectSession("player", "room", port, std::string(5000, 'h').c_str(), nullptr);
    EXPECT_EQ(LastError(), "接続に失敗しました");
    EXPECT_EQ(OrvaNetwork::IsInSession(), 0);
}

TEST_F(OrvaNetworkTest, SingleByteTextsAreCutAt511)
{
    ASSERT_TRUE(OrvaNetwork::Initialize());
    std::string password(600, 'a');
    OrvaNetwork::CreateSession("host", "room", port, password.c_str());
    auto joiner = OtherPeer();
    EXPECT_EQ(JoinEngine(*joiner, password.c_str()), NetResult::InvalidPassword);
    EXPECT_EQ(JoinEngine(*joiner, password.substr(0, 511).c_str()), NetResult::Ok);
}
