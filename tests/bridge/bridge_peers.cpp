#include "bridge_peers.h"

#include <array>

#include "common/byte_order.h"

namespace telvane::test {

std::vector<std::uint8_t> rawMessage(std::uint32_t length, std::uint8_t type, std::vector<std::uint8_t> body) {
    std::vector<std::uint8_t> out(5);
    writeBe32(out.data(), length);
    out[4] = type;
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::uint8_t> message(std::uint8_t type, std::vector<std::uint8_t> body) {
    const auto length = static_cast<std::uint32_t>(body.size() + 1);
    return rawMessage(length, type, std::move(body));
}

std::optional<Received> readMessage(net::Socket& socket, std::uint32_t timeoutMs) {
    std::array<std::uint8_t, 4> field{};
    if (socket.recvExact(field, timeoutMs) != net::RecvStatus::Ok) return std::nullopt;
    const std::uint32_t length = readBe32(field.data());
    if (length == 0 || length > bridge::kMaxMessageLength) return std::nullopt;
    std::vector<std::uint8_t> rest(length);
    if (socket.recvExact(rest, timeoutMs) != net::RecvStatus::Ok) return std::nullopt;
    return Received{rest[0], std::vector<std::uint8_t>(rest.begin() + 1, rest.end())};
}

bool closedByPeer(net::Socket& socket, std::uint32_t timeoutMs) {
    std::array<std::uint8_t, 1> byte{};
    return socket.recvExact(byte, timeoutMs) == net::RecvStatus::Closed;
}

FakeServer::FakeServer(Script script, Hello hello)
    : script_(std::move(script)), hello_(hello), listener_(net::Listener::listenLoopback(0)), port_(listener_.port()) {
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer() {
    stopping_.store(true);
    thread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& socket : sockets_) socket->shutdown();
    }
    for (auto& thread : threads_) thread.join(); // the accept loop is gone: nothing adds to them
}

std::vector<std::uint64_t> FakeServer::helloIds() {
    std::lock_guard<std::mutex> lock(mutex_);
    return helloIds_;
}

void FakeServer::run() {
    while (!stopping_.load()) {
        net::Socket accepted = listener_.accept(20);
        if (!accepted.valid()) continue;
        const int index = accepted_.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex_);
        sockets_.push_back(std::make_unique<net::Socket>(std::move(accepted)));
        net::Socket& socket = *sockets_.back();
        threads_.emplace_back([this, &socket, index] { serve(socket, index); });
    }
}

void FakeServer::serve(net::Socket& socket, int index) {
    while (auto request = readMessage(socket, 60000)) {
        if (request->type == static_cast<std::uint8_t>(bridge::MessageType::Hello)) {
            const auto hello = bridge::decodeRequest(request->type, request->body);
            if (hello_ == Hello::Refused || !hello) {
                socket.sendAll(bridge::encodeError("malformed request"));
                break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                helloIds_.push_back(std::get<bridge::HelloRequest>(*hello).clientId);
            }
            if (!socket.sendAll(*bridge::encodeResponse(bridge::HelloResponse{}))) break;
            continue;
        }
        const Step step = script_(index, request->type);
        if (step.silent) continue; // the next read waits until the client gives up
        if (!socket.sendAll(step.bytes) || step.close) break;
    }
    socket.shutdown(); // the client sees the end at once; closed with the server
}

} // namespace telvane::test
