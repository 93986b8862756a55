#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <thread>
#include <vector>

namespace net_test {

// Sessions in tests listen on loopback only.
inline void UseLoopbackOnly()
{
    setenv("ORVA_NET_BIND", "127.0.0.1", 1);
}

// A UDP port on 127.0.0.1 that nothing listened on a moment ago: the
// system picks it for a socket that is closed again at once.
inline uint16_t FreeLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// Polls until the condition holds or two seconds pass; returns the
// condition's last value.
template <typename Condition>
bool WaitFor(Condition condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A slow link: a UDP relay on 127.0.0.1 that holds every datagram for the
// same time each way. It serves one client, the sender of the first
// datagram it gets, and passes that client's datagrams to the host from a
// socket of its own. It may lose the first datagram toward the client that
// carries a packet of the join protocol (they start with "ORVN"), as a
// lossy link does.
class DelayRelay {
public:
    DelayRelay(uint16_t hostPort, std::chrono::milliseconds oneWay, bool loseFirstAnswer = false)
        : oneWay(oneWay), loseFirstAnswer(loseFirstAnswer)
    {
        host.sin_family = AF_INET;
        host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        host.sin_port = htons(hostPort);
        for (int* fd : {&front, &back}) {
            *fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in any = host;
            any.sin_port = 0;
            if (*fd < 0 || bind(*fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0) {
                return;
            }
        }
        sockaddr_in bound{};
        socklen_t length = sizeof(bound);
        if (getsockname(front, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
            port = ntohs(bound.sin_port);
            relay = std::thread([this] { Run(); });
        }
    }
    ~DelayRelay()
    {
        stop = true;
        if (relay.joinable()) {
            relay.join();
        }
        for (int fd : {front, back}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    // The port a client sends to instead of the host's; 0 when the relay
    // could not start.
    uint16_t Port() const { return port; }
    // True once it has lost an answer.
    bool AnswerLost() const { return answerLost.load(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Held {
        Clock::time_point due;
        bool toHost;
        std::vector<uint8_t> bytes;
    };

    void Run()
    {
        // Every datagram waits equally long, so they leave in arrival order.
        std::deque<Held> held;
        uint8_t buffer[65536];
        while (!stop.load()) {
            int waitMs = 10;
            if (!held.empty()) {
                const auto due = std::chrono::ceil<std::chrono::milliseconds>(held.front().due - Clock::now());
                waitMs = static_cast<int>(std::clamp<int64_t>(due.count(), 0, waitMs));
            }
            pollfd fds[2] = {{front, POLLIN, 0}, {back, POLLIN, 0}};
            poll(fds, 2, waitMs);
            for (int side = 0; side < 2; ++side) {
                sockaddr_in from{};
                socklen_t length = sizeof(from);
                ssize_t size = 0;
                while ((size = recvfrom(fds[side].fd, buffer, sizeof(buffer), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &length)) >= 0) {
                    if (side == 0 && !hasClient) {
                        client = from;
                        hasClient = true;
                    }
                    if (side == 1 && loseFirstAnswer && !answerLost.load() &&
                        std::search(buffer, buffer + size, kMagic, std::end(kMagic)) != buffer + size) {
                        answerLost = true;
                        continue;
                    }
                    held.push_back({Clock::now() + oneWay, side == 0, std::vector<uint8_t>(buffer, buffer + size)});
                    length = sizeof(from);
                }
            }
            while (!held.empty() && held.front().due <= Clock::now()) {
                const Held& next = held.front();
                const sockaddr_in& to = next.toHost ? host : client;
                sendto(next.toHost ? back : front, next.bytes.data(), next.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof(to));
                held.pop_front();
            }
        }
    }

    static constexpr uint8_t kMagic[] = {'O', 'R', 'V', 'N'};
    std::chrono::milliseconds oneWay;
    bool loseFirstAnswer;
    std::atomic<bool> answerLost{false};
    int front = -1;  // faces the client
    int back = -1;   // faces the host
    uint16_t port = 0;
    sockaddr_in host{};
    sockaddr_in client{};
    bool hasClient = false;
    std::atomic<bool> stop{false};
    std::thread relay;
};

}  // namespace net_test
