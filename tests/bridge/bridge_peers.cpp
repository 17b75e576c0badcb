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

FakeServer::FakeServer(Script script)
    : script_(std::move(script)), listener_(net::Listener::listenLoopback(0)), port_(listener_.port()) {
    thread_ = std::thread([this] { run(); });
}

FakeServer::~FakeServer() {
    stopping_.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (current_ != nullptr) current_->shutdown();
    }
    thread_.join();
}

void FakeServer::run() {
    while (!stopping_.load()) {
        net::Socket socket = listener_.accept(20);
        if (!socket.valid()) continue;
        const int index = accepted_.fetch_add(1);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_.load()) return;
            current_ = &socket;
        }
        while (auto request = readMessage(socket, 60000)) {
            const Step step = script_(index, request->type);
            if (step.silent) continue; // the next read waits until the client gives up
            if (!socket.sendAll(step.bytes) || step.close) break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = nullptr;
    }
}

} // namespace telvane::test
