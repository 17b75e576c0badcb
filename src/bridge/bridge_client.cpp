#include "bridge/bridge_client.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <random>

namespace telvane {

using namespace bridge;

namespace {

std::uint32_t clampMs(std::uint64_t ms) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, 0xFFFFFFFFu));
}

// Ids only need to differ between the programs on one server at one time.
std::uint64_t newClientId(const void* self) {
    std::random_device random;
    std::uint64_t id = (std::uint64_t{random()} << 32) ^ random();
    // Mixed with the time and this object's address, in case the device is less random than it looks.
    id ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    id ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(self)) << 16;
    return id;
}

// One whole message off the socket, LENGTH taken off (TYPE first), within deadlineMs of now
// (none: without limit). Ok, or why not.
net::RecvStatus receiveMessage(net::Socket& socket, std::optional<std::uint64_t> deadlineMs,
                               std::vector<std::uint8_t>& message) {
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(deadlineMs.value_or(0));
    auto left = [&]() -> std::optional<std::uint32_t> {
        if (!deadlineMs) return std::nullopt;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
        return clampMs(static_cast<std::uint64_t>(std::max<std::int64_t>(ms, 0)));
    };
    std::array<std::uint8_t, kLengthFieldSize> field{};
    if (auto status = socket.recvExact(field, left()); status != net::RecvStatus::Ok) return status;
    auto length = decodeLength(field);
    if (!length) return net::RecvStatus::Failed;
    message.assign(*length, 0); // bounded by decodeLength
    return socket.recvExact(message, left());
}

} // namespace

BridgeClient::BridgeClient(std::string host, std::uint16_t port, Timeouts timeouts)
    : host_(std::move(host)), port_(port), timeouts_(timeouts), id_(newClientId(this)) {}

BridgeClient::~BridgeClient() = default;

net::Socket* BridgeClient::connection() {
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = lines_.find(self);
        if (it != lines_.end() && it->second.live) return it->second.live.get();
    }
    // Connect outside the lock: other threads' requests must not wait for this one.
    auto socket = connectGreeted();
    if (!socket) return nullptr;
    std::unique_ptr<net::Socket> retired;
    std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[self];
    line.live = std::move(socket);
    retired = std::move(line.retired); // replaced: it may close now (after the lock is let go)
    return line.live.get();
}

std::unique_ptr<net::Socket> BridgeClient::connectGreeted() {
    auto socket = std::make_unique<net::Socket>(net::Socket::connectTo(host_, port_, timeouts_.connectMs));
    if (!socket->valid()) return nullptr;
    if (!serverKnowsHello_.load()) return socket;
    switch (greet(*socket)) {
    case Greeting::Welcomed:
        return socket;
    case Greeting::Refused:
        // A server from before hello, which closes a connection it refuses: a plain one then.
        serverKnowsHello_.store(false);
        socket = std::make_unique<net::Socket>(net::Socket::connectTo(host_, port_, timeouts_.connectMs));
        return socket->valid() ? std::move(socket) : nullptr;
    case Greeting::Failed:
        break;
    }
    return nullptr;
}

BridgeClient::Greeting BridgeClient::greet(net::Socket& socket) {
    const HelloRequest hello{id_, timeouts_.responseMs};
    if (!socket.sendAll(*encodeRequest(hello))) return Greeting::Failed;
    std::vector<std::uint8_t> message;
    if (receiveMessage(socket, timeouts_.responseMs, message) != net::RecvStatus::Ok) return Greeting::Failed;
    const auto body = std::span<const std::uint8_t>(message).subspan(1);
    if (decodeResponse(hello, message[0], body)) return Greeting::Welcomed;
    return decodeError(message[0], body) ? Greeting::Refused : Greeting::Failed;
}

void BridgeClient::dropConnection() {
    std::unique_ptr<net::Socket> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = lines_.find(std::this_thread::get_id());
        if (it == lines_.end() || !it->second.live) return;
        gone = std::move(it->second.retired); // an older one, should there be one
        it->second.retired = std::move(it->second.live);
    }
} // closed here, outside the lock

BridgeClient::Exchange BridgeClient::exchange(const Request& request, std::optional<std::uint64_t> deadlineMs,
                                              Response& response) {
    auto message = encodeRequest(request);
    if (!message) return Exchange::Failed; // cannot be carried; the connection is still sound
    net::Socket* socket = connection();
    if (socket == nullptr) return Exchange::Failed;

    auto fail = [&](net::RecvStatus status) {
        dropConnection();
        return status == net::RecvStatus::TimedOut ? Exchange::TimedOut : Exchange::Failed;
    };

    if (!socket->sendAll(*message)) return fail(net::RecvStatus::Failed);
    std::vector<std::uint8_t> answer;
    if (auto status = receiveMessage(*socket, deadlineMs, answer); status != net::RecvStatus::Ok) return fail(status);
    auto decoded = decodeResponse(request, answer[0], std::span<const std::uint8_t>(answer).subspan(1));
    if (!decoded) return fail(net::RecvStatus::Failed); // also the server's 0xFF refusal
    response = std::move(*decoded);
    return Exchange::Answered;
}

std::string BridgeClient::modemPort() {
    Response response;
    if (exchange(ModemPortRequest{}, timeouts_.responseMs, response) != Exchange::Answered) return {};
    return std::get<ModemPortResponse>(response).port;
}

bool BridgeClient::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    Response response;
    ModemWriteRequest request{port, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
    if (exchange(request, timeouts_.responseMs, response) != Exchange::Answered) return false;
    return std::get<ModemWriteResponse>(response).ok;
}

std::vector<std::string> BridgeClient::listInterfaces() {
    Response response;
    if (exchange(ListInterfacesRequest{}, timeouts_.responseMs, response) != Exchange::Answered) return {};
    return std::move(std::get<ListInterfacesResponse>(response).paths);
}

DeviceHandle BridgeClient::open(const std::string& path) { return tryOpen(path).handle; }

OpenResult BridgeClient::tryOpen(const std::string& path) {
    Response response;
    if (exchange(OpenRequest{path}, timeouts_.responseMs, response) != Exchange::Answered)
        return {0, OpenOutcome::Failed};
    const auto& answer = std::get<OpenResponse>(response);
    if (answer.handle != 0) return {answer.handle, OpenOutcome::Opened};
    return {0, answer.inUse ? OpenOutcome::InUse : OpenOutcome::Failed};
}

RequestResult BridgeClient::request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                    std::span<std::uint8_t> output, std::uint32_t limitMs) {
    if (handle == 0 || handle > 0xFFFFFFFFu) return {RequestOutcome::Failed, 0}; // never one of the server's
    IoctlRequest ioctl;
    ioctl.handle = static_cast<std::uint32_t>(handle);
    ioctl.code = code;
    ioctl.capacity = static_cast<std::uint32_t>(std::min<std::size_t>(output.size(), kMaxIoctlOutput));
    ioctl.limitMs = limitMs;
    ioctl.input.assign(input.begin(), input.end());
    Response response;
    switch (exchange(ioctl, std::uint64_t{limitMs} + timeouts_.ioctlGraceMs, response)) {
    case Exchange::Answered:
        break;
    case Exchange::TimedOut:
        return {RequestOutcome::TimedOut, 0};
    case Exchange::Failed:
        return {RequestOutcome::Failed, 0};
    }
    auto& answer = std::get<IoctlResponse>(response);
    switch (answer.outcome) {
    case IoctlOutcome::Completed:
        break;
    case IoctlOutcome::TimedOut:
        return {RequestOutcome::TimedOut, 0};
    case IoctlOutcome::Failed:
        return {RequestOutcome::Failed, 0};
    }
    // The decoder has held the output to the capacity asked for, which fits the caller's span.
    if (!answer.output.empty()) std::memcpy(output.data(), answer.output.data(), answer.output.size());
    return {RequestOutcome::Completed, answer.output.size()};
}

void BridgeClient::close(DeviceHandle handle) {
    if (handle == 0 || handle > 0xFFFFFFFFu) return;
    Response response;
    exchange(CloseRequest{static_cast<std::uint32_t>(handle)}, timeouts_.responseMs, response);
}

void BridgeClient::waitRemoval(const std::string& path) {
    Response response;
    exchange(WaitRemovalRequest{path}, std::nullopt, response); // answered, or the connection is gone
}

} // namespace telvane
