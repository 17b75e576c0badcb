#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "bridge/bridge_codec.h"
#include "link/bridge_address.h"
#include "link/device_port.h"
#include "platform/net_socket.h"

namespace telvane {


// A device port whose driver and phone live in another process, reached over TCP.
// Each calling thread has its own connection, opened on its first request and again on the
// request after one dropped, so the watcher's WaitRemoval never holds up the window's commands.
// Every connection first says hello with this client's random id, so the server takes them all
// for one program: the interface it opens is its own, and another program's Open of it is
// answered "in use" (tryOpen's InUse). A server from before hello refuses it; the client then
// goes on without.
// Every other failure (no server, a dropped connection, a malformed answer) reads as the port's
// plain failure: a failed request, no modem port, no interfaces, no handle.
class BridgeClient final : public DevicePort {
public:
    struct Timeouts {
        std::uint32_t connectMs = 5000;
        std::uint32_t responseMs = 5000;   // for every request but Ioctl and WaitRemoval
        std::uint32_t ioctlGraceMs = 2000; // an Ioctl's answer may come this long after its limit
    };

    BridgeClient(std::string host, std::uint16_t port, Timeouts timeouts);
    BridgeClient(std::string host, std::uint16_t port) : BridgeClient(std::move(host), port, Timeouts{}) {}
    ~BridgeClient() override;
    BridgeClient(const BridgeClient&) = delete;
    BridgeClient& operator=(const BridgeClient&) = delete;

    std::string modemPort() override;
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override;
    std::vector<std::string> listInterfaces() override;
    DeviceHandle open(const std::string& path) override;
    // The server holds an Open of an interface another program has for a while (half the
    // response wait at most) before it answers InUse.
    OpenResult tryOpen(const std::string& path) override;
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle handle) override;
    void waitRemoval(const std::string& path) override;

    // The id this client says hello with.
    std::uint64_t clientId() const { return id_; }

private:
    enum class Exchange { Answered, TimedOut, Failed };
    enum class Greeting { Welcomed, Refused, Failed };
    // A thread's connection. One that failed is kept open (retired, never read again) until its
    // replacement has said hello: the server counts a program gone once it has no connection
    // left, and a program still running must never seem to have none.
    struct Line {
        std::unique_ptr<net::Socket> live;
        std::unique_ptr<net::Socket> retired;
    };

    // One request and its answer on this thread's connection. No deadline waits until the
    // answer comes or the connection drops. Anything but Answered drops the connection.
    Exchange exchange(const bridge::Request& request, std::optional<std::uint64_t> deadlineMs,
                      bridge::Response& response);
    net::Socket* connection();
    // A new connection that has said hello where the server knows hello; null when none.
    std::unique_ptr<net::Socket> connectGreeted();
    Greeting greet(net::Socket& socket);
    void dropConnection();

    const std::string host_;
    const std::uint16_t port_;
    const Timeouts timeouts_;
    const std::uint64_t id_;
    std::atomic<bool> serverKnowsHello_{true};
    std::mutex mutex_; // guards the map only; each line is used by its own thread
    std::map<std::thread::id, Line> lines_;
};

} // namespace telvane
