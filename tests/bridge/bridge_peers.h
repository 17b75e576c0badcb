#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_codec.h"
#include "platform/net_socket.h"

namespace telvane::test {

// Raw bytes of a message with any LENGTH, TYPE and body, right or wrong.
std::vector<std::uint8_t> rawMessage(std::uint32_t length, std::uint8_t type, std::vector<std::uint8_t> body = {});
// A well-formed message of this TYPE and body.
std::vector<std::uint8_t> message(std::uint8_t type, std::vector<std::uint8_t> body = {});

// One message as read off a socket.
struct Received {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;
};
// Reads one message within timeoutMs; nothing when the connection ends or the time runs out first.
std::optional<Received> readMessage(net::Socket& socket, std::uint32_t timeoutMs = 2000);
// True when the peer closes the connection within timeoutMs.
bool closedByPeer(net::Socket& socket, std::uint32_t timeoutMs = 2000);

// A bridge server that answers from a script, to put the client in front of wrong answers.
// Each connection is served on a thread of its own. A hello is answered by the server itself
// (or refused and the connection closed, as by a server from before hello), never scripted.
class FakeServer {
public:
    struct Step {
        std::vector<std::uint8_t> bytes; // sent as they are
        bool close = false;              // then the connection is closed
        bool silent = false;             // nothing is sent; the connection stays open
    };
    // connection: 0 for the first accepted, 1 for the next...; type: the request's TYPE.
    using Script = std::function<Step(int connection, std::uint8_t type)>;
    enum class Hello { Welcomed, Refused };

    explicit FakeServer(Script script, Hello hello = Hello::Welcomed);
    ~FakeServer();
    std::uint16_t port() const { return port_; }
    int accepted() const { return accepted_.load(); }
    // The client ids said hello with, in the order they came.
    std::vector<std::uint64_t> helloIds();

private:
    void run();
    void serve(net::Socket& socket, int index);

    Script script_;
    const Hello hello_;
    net::Listener listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::vector<std::unique_ptr<net::Socket>> sockets_; // shut down by the destructor to end silent waits
    std::vector<std::thread> threads_;
    std::vector<std::uint64_t> helloIds_;
    std::thread thread_;
};

} // namespace telvane::test
