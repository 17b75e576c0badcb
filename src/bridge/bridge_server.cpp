#include "bridge/bridge_server.h"

#include <algorithm>
#include <array>

#include "link/reply_drain.h"

namespace telvane {

using namespace bridge;

namespace {

// How often the accept loop looks at the stop flag when nothing wakes it.
constexpr std::uint32_t kAcceptPollMs = 200;
// An idle connection looks at the stop flag this often, in case a shutdown does not wake it.
constexpr std::uint32_t kIdlePollMs = 250;
// Once a message has begun, the rest of it must follow within this.
constexpr std::uint32_t kMessageTimeoutMs = 5000;
// Connections served at once (a thread each); more are closed as they come. Only connections
// whose peers are still there count: a peer that goes frees its place at once, even from a
// removal wait.
constexpr std::size_t kMaxConnections = 512;

constexpr const char* kBadLength = "bad message length";
constexpr const char* kIncomplete = "incomplete message";
constexpr const char* kBadRequest = "malformed request";
constexpr const char* kTooLarge = "answer too large";
constexpr const char* kLateHello = "hello comes first, and once";

} // namespace

BridgeServer::BridgeServer(DevicePort& port, std::function<void()> wakeWaiters)
    : device_(port), wakeWaiters_(std::move(wakeWaiters)) {}

BridgeServer::~BridgeServer() { stop(); }

bool BridgeServer::start(std::uint16_t port, const std::string& address) {
    if (listener_.valid() || acceptThread_.joinable() || stopping_.load()) return false;
    listener_ = net::Listener::listenOn(address, port);
    if (!listener_.valid()) return false;
    listenPort_ = listener_.port();
    // Listening on every interface includes the loopback one.
    wakeAddress_ = address == "0.0.0.0" ? kLoopback : address == "::" ? "::1" : address;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void BridgeServer::stop() {
    if (!acceptThread_.joinable()) return;
    stopping_.store(true);
    // A connection of our own wakes the accept loop at once; the poll interval is the fallback.
    net::Socket::connectTo(wakeAddress_, listenPort_, 1000);
    acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        for (auto& c : connections_) c->socket.shutdown();
    }
    handles_.shutdown(); // Opens waiting for an interface give up
    if (wakeWaiters_) wakeWaiters_();
    // The accept loop is gone, so nothing adds to the list any more.
    for (auto& c : connections_) c->thread.join();
    connections_.clear();
    listener_.close();
    removals_.joinAll();

    // Every connection has closed its client's handles as it ended; this is for the rest.
    std::lock_guard<std::mutex> lock(portMutex_);
    for (const auto& entry : handles_.takeAll(nullptr)) closeLocked(entry);
}

void BridgeServer::acceptLoop() {
    while (!stopping_.load()) {
        net::Socket socket = listener_.accept(kAcceptPollMs);
        reapFinished();
        if (!socket.valid()) continue;
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        if (stopping_.load()) break;
        if (connections_.size() >= kMaxConnections) continue; // refused: the socket closes here
        accepted_.fetch_add(1);
        live_.fetch_add(1);
        auto c = std::make_unique<Connection>();
        c->socket = std::move(socket);
        Connection& ref = *c;
        connections_.push_back(std::move(c));
        ref.thread = std::thread([this, &ref] { serve(ref); });
    }
}

void BridgeServer::reapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->done.load()) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) c->thread.join(); // sockets close as the list goes
}

void BridgeServer::serve(Connection& connection) {
    net::Socket& socket = connection.socket;
    Session session;
    for (;;) {
        while (!socket.waitReadable(kIdlePollMs))
            if (stopping_.load()) break;
        if (stopping_.load()) break;
        std::array<std::uint8_t, kLengthFieldSize> field{};
        if (socket.recvExact(field, kMessageTimeoutMs) != net::RecvStatus::Ok) break;
        auto length = decodeLength(field);
        if (!length) {
            socket.sendAll(encodeError(kBadLength));
            break;
        }
        std::vector<std::uint8_t> rest(*length); // bounded by decodeLength
        if (socket.recvExact(rest, kMessageTimeoutMs) != net::RecvStatus::Ok) {
            socket.sendAll(encodeError(kIncomplete));
            break;
        }
        auto request = decodeRequest(rest[0], std::span<const std::uint8_t>(rest).subspan(1));
        if (!request) {
            socket.sendAll(encodeError(kBadRequest));
            break;
        }
        if (!handle(socket, session, *request)) break;
    }
    // Closing is left to whoever joins this thread, so stop() never shuts down a reused socket;
    // the peer sees the end at once all the same.
    socket.shutdown();
    if (clients_.leave(*session.client)) dismiss(*session.client);
    live_.fetch_sub(1);
    connection.done.store(true);
}

bool BridgeServer::handle(net::Socket& socket, Session& session, const Request& request) {
    if (auto* hello = std::get_if<HelloRequest>(&request)) return greet(socket, session, *hello);
    session.spoken = true;
    if (auto* wait = std::get_if<WaitRemovalRequest>(&request)) return awaitRemoval(socket, *wait);
    if (auto* open = std::get_if<OpenRequest>(&request)) return this->open(socket, session, *open);
    auto reply = encodeResponse(answer(*session.client, request));
    if (!reply) {
        socket.sendAll(encodeError(kTooLarge));
        return false;
    }
    return socket.sendAll(*reply);
}

bool BridgeServer::greet(net::Socket& socket, Session& session, const HelloRequest& hello) {
    // Said later, it would move handles opened so far from one client to another.
    if (session.spoken || session.greeted) {
        socket.sendAll(encodeError(kLateHello));
        return false;
    }
    session.client = clients_.join(hello.clientId);
    session.greeted = true;
    // The other half is for the port's open and the answer's way back.
    session.openWaitMs = std::min(kOpenWaitMs, hello.answerWithinMs / 2);
    return socket.sendAll(*encodeResponse(HelloResponse{}));
}

bool BridgeServer::awaitRemoval(net::Socket& socket, const WaitRemovalRequest& request) {
    // The peer sends nothing while it waits: anything readable is its end (or a peer breaking
    // the one-request-at-a-time rule), and ends the connection.
    const auto end = removals_.wait(request.path, [&](std::uint32_t ms) {
        return stopping_.load() || socket.waitReadable(ms);
    });
    if (end == RemovalWatches::WaitEnd::Abandoned) return false;
    return socket.sendAll(*encodeResponse(WaitRemovalResponse{}));
}

bool BridgeServer::open(net::Socket& socket, Session& session, const OpenRequest& request) {
    if (!handles_.reserve(request.path, session.client, session.openWaitMs))
        return socket.sendAll(*encodeResponse(OpenResponse{0, true}));
    OpenResult result;
    std::uint32_t id = 0;
    {
        std::lock_guard<std::mutex> lock(portMutex_);
        result = device_.tryOpen(request.path);
        if (result.handle != 0) id = handles_.add(request.path, result.handle, session.client);
    }
    if (id == 0) handles_.release(request.path);
    const bool sent =
        socket.sendAll(*encodeResponse(OpenResponse{id, id == 0 && result.outcome == OpenOutcome::InUse}));
    // A client that never hears of its handle would hold the interface for nothing.
    if (!sent && id != 0) closeHandle(id, *session.client);
    return sent;
}

Response BridgeServer::answer(const ServedClient& client, const Request& request) {
    if (auto* r = std::get_if<CloseRequest>(&request)) {
        closeHandle(r->handle, client);
        return CloseResponse{};
    }
    // One call of the port at a time; the handle looked up stays open until its request ends.
    std::lock_guard<std::mutex> lock(portMutex_);
    if (auto* r = std::get_if<ModemWriteRequest>(&request))
        return ModemWriteResponse{device_.writeModem(r->port, r->bytes)};
    if (std::holds_alternative<ListInterfacesRequest>(request)) return ListInterfacesResponse{device_.listInterfaces()};
    if (auto* r = std::get_if<IoctlRequest>(&request)) return ioctl(client, *r);
    return ModemPortResponse{device_.modemPort()}; // the one request left
}

IoctlResponse BridgeServer::ioctl(const ServedClient& client, const IoctlRequest& request) {
    // Called with portMutex_ held.
    auto handle = handles_.find(request.handle, client);
    if (!handle) return {IoctlOutcome::Failed, {}};
    // The capacity comes from the peer: never more room than an answer can carry.
    std::vector<std::uint8_t> output(std::min(request.capacity, kMaxIoctlOutput));
    const RequestResult result = device_.request(*handle, request.code, request.input, output, request.limitMs);
    switch (result.outcome) {
    case RequestOutcome::Completed:
        output.resize(std::min(result.outputLength, output.size()));
        return {IoctlOutcome::Completed, std::move(output)};
    case RequestOutcome::TimedOut:
    case RequestOutcome::CancelUnfinished:
        return {IoctlOutcome::TimedOut, {}};
    case RequestOutcome::Failed:
    case RequestOutcome::EventCreateFailed:
    case RequestOutcome::EventResetFailed:
        break;
    }
    return {IoctlOutcome::Failed, {}};
}

void BridgeServer::closeLocked(const HandleTable::Entry& entry) {
    device_.close(entry.handle);
    handles_.release(entry.path); // only once the port has let go of it
}

void BridgeServer::closeHandle(std::uint32_t id, const ServedClient& client) {
    std::lock_guard<std::mutex> lock(portMutex_);
    if (auto entry = handles_.take(id, client)) closeLocked(*entry);
}

void BridgeServer::dismiss(const ServedClient& client) {
    std::lock_guard<std::mutex> lock(portMutex_);
    for (const auto& entry : handles_.takeAll(&client)) {
        // A program that went while it held the phone may have gone between a command and its
        // reply: what it left unread must not answer the next program's first command.
        drainPendingReplies(device_, entry.handle);
        closeLocked(entry);
    }
}

} // namespace telvane
