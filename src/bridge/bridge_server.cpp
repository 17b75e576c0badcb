#include "bridge/bridge_server.h"

#include <algorithm>
#include <array>

namespace telvane {

using namespace bridge;

namespace {

// How often the accept loop looks at the stop flag when nothing wakes it.
constexpr std::uint32_t kAcceptPollMs = 200;
// An idle connection looks at the stop flag this often, in case a shutdown does not wake it.
constexpr std::uint32_t kIdlePollMs = 250;
// Once a message has begun, the rest of it must follow within this.
constexpr std::uint32_t kMessageTimeoutMs = 5000;
// Connections served at once; more are closed as they come.
constexpr std::size_t kMaxConnections = 64;

constexpr const char* kBadLength = "bad message length";
constexpr const char* kIncomplete = "incomplete message";
constexpr const char* kBadRequest = "malformed request";
constexpr const char* kTooLarge = "answer too large";

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
    if (wakeWaiters_) wakeWaiters_();
    // The accept loop is gone, so nothing adds to the list any more.
    for (auto& c : connections_) c->thread.join();
    connections_.clear();
    listener_.close();

    std::map<std::uint32_t, DeviceHandle> left;
    {
        std::lock_guard<std::mutex> lock(handlesMutex_);
        left.swap(handles_);
    }
    std::lock_guard<std::mutex> lock(portMutex_);
    for (const auto& [id, handle] : left) device_.close(handle);
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
        auto reply = answer(*request);
        if (!reply) {
            socket.sendAll(encodeError(kTooLarge));
            break;
        }
        if (!socket.sendAll(*reply)) break;
    }
    // Closing is left to whoever joins this thread, so stop() never shuts down a reused socket;
    // the peer sees the end at once all the same.
    socket.shutdown();
    connection.done.store(true);
}

std::optional<std::vector<std::uint8_t>> BridgeServer::answer(const Request& request) {
    Response response;
    if (auto* r = std::get_if<WaitRemovalRequest>(&request)) {
        // Blocks until the phone goes: never while holding the port from the other connections.
        device_.waitRemoval(r->path);
        return encodeResponse(WaitRemovalResponse{});
    }
    {
        // One call of the port at a time; the handle looked up stays open until its request ends.
        std::lock_guard<std::mutex> lock(portMutex_);
        if (std::holds_alternative<ModemPortRequest>(request)) {
            response = ModemPortResponse{device_.modemPort()};
        } else if (auto* r = std::get_if<ModemWriteRequest>(&request)) {
            response = ModemWriteResponse{device_.writeModem(r->port, r->bytes)};
        } else if (std::holds_alternative<ListInterfacesRequest>(request)) {
            response = ListInterfacesResponse{device_.listInterfaces()};
        } else if (auto* r = std::get_if<OpenRequest>(&request)) {
            const DeviceHandle handle = device_.open(r->path);
            response = OpenResponse{handle != 0 ? addHandle(handle) : 0};
        } else if (auto* r = std::get_if<IoctlRequest>(&request)) {
            response = ioctl(*r);
        } else if (auto* r = std::get_if<CloseRequest>(&request)) {
            if (auto handle = takeHandle(r->handle)) device_.close(*handle);
            response = CloseResponse{};
        }
    }
    return encodeResponse(response);
}

IoctlResponse BridgeServer::ioctl(const IoctlRequest& request) {
    // Called with portMutex_ held.
    auto handle = findHandle(request.handle);
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

std::uint32_t BridgeServer::addHandle(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    // Ids are not reused while open; 0 is never an id.
    while (nextId_ == 0 || handles_.count(nextId_) != 0) ++nextId_;
    const std::uint32_t id = nextId_++;
    handles_[id] = handle;
    return id;
}

std::optional<DeviceHandle> BridgeServer::findHandle(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) return std::nullopt;
    return it->second;
}

std::optional<DeviceHandle> BridgeServer::takeHandle(std::uint32_t id) {
    std::lock_guard<std::mutex> lock(handlesMutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) return std::nullopt;
    DeviceHandle handle = it->second;
    handles_.erase(it);
    return handle;
}

} // namespace telvane
