#pragma once
#include <cstdint>

// Peer-to-peer sessions: one peer, hosted or joined from the caller's
// thread, with the outcome of the last session operation kept as a text.
// The peer's handler accepts every message and keeps nothing, so no data
// passes between players.
//
// Threads: Initialize and Destroy run on the main thread; the network
// thread they start and stop creates and initialises the peer, then idles
// until Destroy. CreateSession, ConnectSession, DisconnectSession,
// GetLastError, IsInSession, CreatePeer and ReleasePeer run on the caller's
// (main) thread, only while the network thread idles. The handler runs on
// the peer's service thread and touches nothing.
class OrvaNetwork {
public:
    // Size of the last-error text, terminator included.
    static constexpr int32_t kLastErrorBytes = 512;
    // Longest player, session or host name and password, in characters
    // (a Shift-JIS lead byte with its trail byte is one).
    static constexpr int32_t kMaxTextChars = 511;

    // Starts the network thread and returns once the peer exists (true), or
    // false when the thread cannot start.
    static bool Initialize();
    // Stops the network thread and releases the peer with its session.
    static void Destroy();

    // Hosts a session; password may be null, port 0 means the default
    // ports. Success or failure shows in GetLastError.
    static void CreateSession(const char* player, const char* session, uint32_t port, const char* password);
    // Joins the session at host (a name or dotted address) on port (0: the
    // default port); the session name is not used; password may be null.
    static void ConnectSession(const char* player, const char* session, uint32_t port, const char* host,
                               const char* password);
    // Leaves or ends the session and readies the peer for the next one.
    static void DisconnectSession();

    // Copies the last error text (empty after a clean operation; at most
    // kLastErrorBytes with its terminator) into out when out is not null,
    // and returns 1 once the last session operation has finished, else 0.
    static int32_t GetLastError(char* out);
    // 1 while hosting or joined, else 0.
    static int32_t IsInSession();

    // Creates and initialises the peer on the caller's thread (releasing a
    // peer made before); true when both steps worked.
    static bool CreatePeer();
    // Closes and releases the peer and the addresses.
    static void ReleasePeer();
};
