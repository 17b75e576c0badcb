#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_codec.h"
#include "link/device_port.h"
#include "platform/net_socket.h"

namespace telvane {

// Serves a device port to other processes over TCP (loopback unless told otherwise): a thread
// per connection, each connection's requests answered in order. The port itself is called by
// one connection at a time (only waits for removal run beside the others), so a handle is never
// closed under a request still running on it. Handles are the server's own u32 ids, valid on
// every connection until closed; the port's 64-bit handles never leave this process.
class BridgeServer {
public:
    // wakeWaiters is called by stop() so that connections blocked in the port's waitRemoval
    // return and can be joined (for the virtual driver: its shutdown()). Without it, stop()
    // waits for those removals to happen.
    explicit BridgeServer(DevicePort& port, std::function<void()> wakeWaiters = {});
    ~BridgeServer();
    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    static constexpr const char* kLoopback = "127.0.0.1";

    // Listens on address:port (a numeric address; 0 picks a free port) and starts accepting.
    // false when it cannot be listened on, or the server was started before.
    bool start(std::uint16_t port, const std::string& address = kLoopback);
    // The port listened on (0 before start()).
    std::uint16_t port() const { return listenPort_; }
    // Closes the listener and every connection, joins every thread and closes the handles still
    // open. Safe to call more than once.
    void stop();
    // Connections accepted so far.
    std::size_t acceptedCount() const { return accepted_.load(); }

private:
    struct Connection {
        net::Socket socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void reapFinished();
    void serve(Connection& connection);
    // The encoded answer to one request, or nothing when it cannot be carried.
    std::optional<std::vector<std::uint8_t>> answer(const bridge::Request& request);
    bridge::IoctlResponse ioctl(const bridge::IoctlRequest& request);

    std::uint32_t addHandle(DeviceHandle handle);
    std::optional<DeviceHandle> findHandle(std::uint32_t id);
    std::optional<DeviceHandle> takeHandle(std::uint32_t id);

    DevicePort& device_;
    std::function<void()> wakeWaiters_;
    net::Listener listener_;
    std::uint16_t listenPort_ = 0;
    std::string wakeAddress_; // where stop() connects to wake the accept loop
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> accepted_{0};

    std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;

    std::mutex portMutex_; // held for every call of the port but waitRemoval
    std::mutex handlesMutex_;
    std::map<std::uint32_t, DeviceHandle> handles_;
    std::uint32_t nextId_ = 1;
};

} // namespace telvane
