#include "engine/sound/network.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/core/debug.h"
#include "engine/core/sjis.h"
#include "platform/net/address.h"
#include "platform/net/net.h"
#include "platform/sys/critical_section.h"
#include "platform/sys/event.h"
#include "platform/sys/thread.h"

namespace {

// The UDP transport, named as addresses name their provider.
const char kProviderUrl[] = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D";

// Every session this engine hosts or joins carries this application id, so
// that only engine programs find each other.
const platform::NetGuid kApplicationGuid = {
    0x02AE835D, 0x9179, 0x485F, {0x83, 0x43, 0x90, 0x1D, 0x32, 0x7C, 0xE7, 0x94}};

// How long ConnectSession waits for the host's answer: as long as the host
// lets a join take on a link it admits. A shorter wait gives up on slow
// links the host would let in, and reports a refusal as a failed
// connection.
constexpr int32_t kConnectTimeoutMs = platform::Peer::kLongestJoinMs;

const char kCreateError[] = "■ OrvaNetwork::CreateSession : ERROR\n";
const char kConnectError[] = "■ OrvaNetwork::ConnectSession : ERROR\n";
const char kDisconnectError[] = "■ OrvaNetwork::DisconnectSession : ERROR\n";

platform::Thread g_thread;
// 1 from Initialize until Destroy asks the network thread to end.
std::atomic<uint32_t> g_run{0};
// Wakes the idle network thread when g_run drops to 0.
platform::Event g_stopEvent;
// The network thread owns three locks for its lifetime; nothing takes them,
// as the handler carries no data.
std::unique_ptr<platform::CriticalSection> g_locks[3];

std::unique_ptr<platform::Peer> g_peer;
std::unique_ptr<platform::NetAddress> g_deviceAddress;
std::unique_ptr<platform::NetAddress> g_hostAddress;

// A program that exits without Destroy must not leave the network thread
// waiting on an event that is being destroyed: this guard, made after the
// thread and the event, is destroyed before them and ends the thread.
struct ExitGuard {
    ~ExitGuard()
    {
        if (g_thread.IsStarted()) {
            g_run.store(0);
            g_stopEvent.Set();
            g_thread.Join();
        }
    }
} g_exitGuard;

char g_lastError[OrvaNetwork::kLastErrorBytes] = {};
uint32_t g_sessionFlag = 0;
uint32_t g_finishedFlag = 0;

}  // namespace

// Accepts every message: the module keeps no player state.
static platform::NetResult OnPeerMessage(void*, platform::PeerMessageType, const platform::PeerMessage&)
{
    return platform::NetResult::Ok;
}

// Copies at most kMaxTextChars characters of the text (null reads as
// empty), never splitting a two-byte character, so an overlong name is cut
// instead of overrunning anything. False only when memory runs out.
static bool CutText(const char* text, std::string* out)
{
    out->clear();
    if (text == nullptr) {
        return true;
    }
    try {
        const char* at = text;
        for (int32_t chars = 0; chars < OrvaNetwork::kMaxTextChars && *at != '\0'; ++chars) {
            int32_t length = OrvaSjis::ReadChar(at, nullptr);
            out->append(at, static_cast<size_t>(length));
            at += length;
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return false;
    }
    return true;
}

// Keeps the failing step's message as the last error and logs the
// operation's error line; the operation goes on with its next step.
static void Fail(const char* message, const char* logLine)
{
    std::strncpy(g_lastError, message, sizeof(g_lastError) - 1);
    g_lastError[sizeof(g_lastError) - 1] = '\0';
    OrvaDebug::Log("%s", logLine);
}

// Creates and initialises the peer; shared by the network thread and
// CreatePeer.
static bool MakePeer()
{
    if (g_peer != nullptr) {
        OrvaNetwork::ReleasePeer();
    }
    std::unique_ptr<platform::Peer> peer;
    if (platform::Peer::Create(&peer) != platform::NetResult::Ok) {
        OrvaDebug::Log("  Error Can't Create DirectPlayPeer Object\n");
        OrvaDebug::Log("    [ DirectX8.1以降をインストールしてください。 ]\n");
        OrvaDebug::MsgBox(0x10, "Error", "%s", "DirectX8.1が正しくインストールされていない可能性があります");
        return false;
    }
    OrvaDebug::Log("  ■ Create DirectPlayPeer Object\n");
    g_peer = std::move(peer);
    if (g_peer->Initialize(OnPeerMessage, nullptr) != platform::NetResult::Ok) {
        OrvaDebug::Log("  Error Can't Initialize DirectPlayPeer Object\n");
        return false;
    }
    OrvaDebug::Log("  ■ Initialize DirectPlayPeer Object\n");
    return true;
}

static void NetworkThread(void* argument)
{
    platform::Event* started = static_cast<platform::Event*>(argument);
    for (auto& lock : g_locks) {
        lock.reset(new (std::nothrow) platform::CriticalSection());
    }
    MakePeer();
    started->Set();
    while (g_run.load() != 0) {
        g_stopEvent.Wait();
    }
    for (auto& lock : g_locks) {
        lock.reset();
    }
}

bool OrvaNetwork::Initialize()
{
    OrvaDebug::Log("\n============================================== Initialize DirectPlay\n");
    // A second start would orphan the running thread and its peer.
    if (g_thread.IsStarted()) {
        return true;
    }
    platform::Event started;
    g_stopEvent.Reset();
    g_run.store(1);
    if (!g_thread.Start("orva-network", NetworkThread, &started)) {
        g_run.store(0);
        OrvaDebug::Log("  Error Can't Start Network Thread\n");
        return false;
    }
    started.Wait();
    return true;
}

void OrvaNetwork::Destroy()
{
    OrvaDebug::Log("\n============================================== Destroy DirectPlay\n");
    if (g_thread.IsStarted()) {
        g_run.store(0);
        g_stopEvent.Set();
        g_thread.Join();
    }
    // Leave an open session cleanly (the others are told at once) and stop
    // the peer's service thread before the program goes on to exit.
    if (g_peer != nullptr) {
        ReleasePeer();
    }
    g_sessionFlag = 0;
}

void OrvaNetwork::CreateSession(const char* player, const char* session, uint32_t port, const char* password)
{
    g_finishedFlag = 0;
    g_lastError[0] = '\0';
    std::string playerText;
    std::string sessionText;
    std::string passwordText;
    bool textsFit = CutText(player, &playerText) && CutText(session, &sessionText) && CutText(password, &passwordText);

    if (!textsFit || g_peer == nullptr || g_peer->SetPlayerInfo(playerText.c_str()) != platform::NetResult::Ok) {
        Fail("プレイヤー情報の設定に失敗しました", kCreateError);
    }
    g_deviceAddress = platform::NetAddress::Create();
    if (g_deviceAddress == nullptr) {
        Fail("DirectPlay8Addressオブジェクトの生成に失敗しました", kCreateError);
    }
    if (g_deviceAddress == nullptr || g_deviceAddress->BuildFromUrl(kProviderUrl) != platform::NetResult::Ok) {
        Fail("サービスプロバイダーのURLの設定に失敗しました", kCreateError);
    }

    platform::SessionDesc desc;
    desc.application = kApplicationGuid;
    desc.flags = platform::kSessionMigrateHost;
    bool descFilled = true;
    try {
        desc.sessionName = sessionText;
        if (password != nullptr) {
            desc.flags |= platform::kSessionRequirePassword;
            desc.password = passwordText;
        }
    } catch (const std::bad_alloc&) {
        descFilled = false;
    }

    if (port != 0) {
        if (g_deviceAddress == nullptr || g_deviceAddress->SetDword("port", port) != platform::NetResult::Ok) {
            Fail("ポートの設定に失敗しました", kCreateError);
        }
    }

    bool hosting = descFilled && g_peer != nullptr && g_deviceAddress != nullptr &&
                   g_peer->Host(desc, *g_deviceAddress) == platform::NetResult::Ok;
    if (!hosting) {
        Fail("ホストの作成に失敗しました", kCreateError);
    }

    g_finishedFlag = 1;
    // Only a session that is really hosted counts; a refused Host leaves
    // the flag as it was (still 1 when an earlier session stays open).
    if (hosting) {
        g_sessionFlag = 1;
    }
}

void OrvaNetwork::ConnectSession(const char* player, const char*, uint32_t port, const char* host,
                                 const char* password)
{
    g_finishedFlag = 0;
    g_lastError[0] = '\0';
    std::string playerText;
    std::string hostText;
    std::string passwordText;
    bool textsFit = CutText(player, &playerText) && CutText(host, &hostText) && CutText(password, &passwordText);

    if (!textsFit || g_peer == nullptr || g_peer->SetPlayerInfo(playerText.c_str()) != platform::NetResult::Ok) {
        Fail("プレイヤー情報の設定に失敗しました", kConnectError);
    }
    g_deviceAddress = platform::NetAddress::Create();
    if (g_deviceAddress == nullptr) {
        Fail("DirectPlay8Addressオブジェクトの生成に失敗しました", kConnectError);
    }
    if (g_deviceAddress == nullptr || g_deviceAddress->BuildFromUrl(kProviderUrl) != platform::NetResult::Ok) {
        Fail("サービスプロバイダーのURLの設定に失敗しました", kConnectError);
    }

    g_hostAddress = g_deviceAddress != nullptr ? g_deviceAddress->Duplicate() : nullptr;
    if (g_hostAddress == nullptr) {
        Fail("HostAddressの生成に失敗しました", kConnectError);
    }
    if (g_hostAddress == nullptr || g_hostAddress->SetString("hostname", hostText.c_str()) != platform::NetResult::Ok) {
        Fail("IPアドレスの設定に失敗しました", kConnectError);
    }
    // The port is where the host listens, so it belongs to the host's
    // address; on the local side it would bind the joiner to the host's own
    // port and leave the host unreachable.
    if (port != 0) {
        if (g_hostAddress == nullptr || g_hostAddress->SetDword("port", port) != platform::NetResult::Ok) {
            Fail("ポートの設定に失敗しました", kConnectError);
        }
    }

    platform::SessionDesc desc;
    desc.application = kApplicationGuid;
    desc.flags = 0;
    bool descFilled = true;
    try {
        if (password != nullptr) {
            desc.flags = platform::kSessionRequirePassword;
            desc.password = passwordText;
        }
    } catch (const std::bad_alloc&) {
        descFilled = false;
    }

    platform::NetResult result = platform::NetResult::NotInitialized;
    if (descFilled && g_peer != nullptr && g_hostAddress != nullptr) {
        result = g_peer->Connect(desc, *g_hostAddress, g_deviceAddress.get(), kConnectTimeoutMs);
    }
    if (result == platform::NetResult::InvalidPassword) {
        Fail("パスワードが間違っていますしました", kConnectError);
    } else if (result != platform::NetResult::Ok) {
        Fail("接続に失敗しました", kConnectError);
    }

    g_finishedFlag = 1;
    // Only a join the host accepted counts as being in a session.
    if (result == platform::NetResult::Ok) {
        g_sessionFlag = 1;
    }
}

void OrvaNetwork::DisconnectSession()
{
    g_lastError[0] = '\0';
    g_sessionFlag = 0;
    g_finishedFlag = 0;
    if (g_peer == nullptr || g_peer->Close() != platform::NetResult::Ok) {
        Fail("DirectPlayのクローズに失敗しました", kDisconnectError);
    }
    if (g_peer == nullptr || g_peer->Initialize(OnPeerMessage, nullptr) != platform::NetResult::Ok) {
        Fail("DirectPlayの初期化に失敗しました", kDisconnectError);
    }
    g_deviceAddress.reset();
    g_hostAddress.reset();
    g_finishedFlag = 1;
}

int32_t OrvaNetwork::GetLastError(char* out)
{
    if (out != nullptr) {
        size_t length = strnlen(g_lastError, sizeof(g_lastError) - 1);
        std::memcpy(out, g_lastError, length);
        out[length] = '\0';
    }
    return static_cast<int32_t>(g_finishedFlag);
}

int32_t OrvaNetwork::IsInSession()
{
    return static_cast<int32_t>(g_sessionFlag);
}

bool OrvaNetwork::CreatePeer()
{
    return MakePeer();
}

void OrvaNetwork::ReleasePeer()
{
    if (g_peer != nullptr) {
        // A peer that was never initialised has nothing to close.
        g_peer->Close();
    }
    g_hostAddress.reset();
    g_deviceAddress.reset();
    g_peer.reset();
    g_sessionFlag = 0;
    OrvaDebug::Log("  ■ Release DirectPlayPeer Object\n");
}
