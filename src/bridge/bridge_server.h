#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_codec.h"
#include "bridge/client_directory.h"
#include "bridge/handle_table.h"
#include "bridge/removal_watches.h"
#include "link/device_port.h"
#include "platform/net_socket.h"

namespace telvane {

// Serves a device port to other processes over TCP (loopback unless told otherwise): a thread
// per connection, each connection's requests answered in order.
//
// Clients: a client program says hello with its own random id first on each of its connections
// (BridgeClient has one per thread), and all connections with one id are one client; a
// connection that never says hello is a client of its own. A client is gone once its last
// connection has closed: the handles it opened are closed then, and a removal wait on a
// connection ends as soon as its peer goes, so nothing of a departed client lingers.
//
// Interfaces: an interface belongs to one client from its Open until its last handle is
// closed. Another client's Open of it waits for it to be given up, up to bridge::kOpenWaitMs
// and never beyond half the answer wait the client said hello with, then is answered "in use".
// Handles are the server's own u32 ids, used by the client that opened them (clients without
// hello also by each other); the port's 64-bit handles never leave this process.
//
// The port itself is called by one connection at a time (only waits for removal run beside the
// others), so a handle is never closed under a request still running on it.
class BridgeServer {
public:
    // wakeWaiters is called by stop() so that the port's waitRemoval calls return and their
    // threads can be joined (for the virtual driver: its shutdown()). Without it, stop() waits
    // for those removals to happen.
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
    // Connections being served now (a departed peer's, once its thread has seen it go, no more).
    std::size_t liveConnectionCount() const { return live_.load(); }

private:
    struct Connection {
        net::Socket socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    // What one connection has said so far; its thread's alone.
    struct Session {
        std::shared_ptr<ServedClient> client = ClientDirectory::unnamed();
        bool greeted = false;   // said hello
        bool spoken = false;    // any request so far
        std::uint32_t openWaitMs = bridge::kOpenWaitMs;
    };

    void acceptLoop();
    void reapFinished();
    void serve(Connection& connection);
    // Answers one request; false when the connection is to end (after whatever was sent).
    bool handle(net::Socket& socket, Session& session, const bridge::Request& request);
    bool greet(net::Socket& socket, Session& session, const bridge::HelloRequest& hello);
    bool awaitRemoval(net::Socket& socket, const bridge::WaitRemovalRequest& request);
    // Sends the answer to an Open; a handle the client never hears of is closed again.
    bool open(net::Socket& socket, Session& session, const bridge::OpenRequest& request);
    // The answer to a request that needs only the port.
    bridge::Response answer(const ServedClient& client, const bridge::Request& request);
    bridge::IoctlResponse ioctl(const ServedClient& client, const bridge::IoctlRequest& request);
    // Closes a handle and frees its interface (portMutex_ held).
    void closeLocked(const HandleTable::Entry& entry);
    void closeHandle(std::uint32_t id, const ServedClient& client);
    // The client's last connection has closed.
    void dismiss(const ServedClient& client);

    DevicePort& device_;
    std::function<void()> wakeWaiters_;
    net::Listener listener_;
    std::uint16_t listenPort_ = 0;
    std::string wakeAddress_; // where stop() connects to wake the accept loop
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> live_{0};

    std::mutex connectionsMutex_;
    std::list<std::unique_ptr<Connection>> connections_;

    std::mutex portMutex_; // held for every call of the port but waitRemoval; taken before the tables' locks
    ClientDirectory clients_;
    HandleTable handles_;
    RemovalWatches removals_{device_};
};

} // namespace telvane
