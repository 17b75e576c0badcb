#include "bridge/bridge_server.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "bridge_peers.h"
#include "common/byte_order.h"
#include "sim/virtual_driver.h"
#include "support/forwarding_port.h"

namespace telvane {
namespace {

using namespace bridge;
using test::closedByPeer;
using test::message;
using test::rawMessage;
using test::readMessage;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kInterfaceStringCode = 0x80002010;

// The server in front of the virtual driver, spoken to with raw bytes.
class BridgeServerTest : public ::testing::Test {
protected:
    BridgeServerTest() { EXPECT_TRUE(server.start(0)); }

    net::Socket connect() { return net::Socket::connectTo("127.0.0.1", server.port(), 2000); }
    // Sends a request and decodes its answer; nothing when there is none or it is malformed.
    std::optional<Response> ask(net::Socket& socket, const Request& request) {
        if (!socket.sendAll(*encodeRequest(request))) return std::nullopt;
        auto reply = readMessage(socket);
        if (!reply) return std::nullopt;
        return decodeResponse(request, reply->type, reply->body);
    }
    std::optional<IoctlResponse> interfaceString(net::Socket& socket, std::uint32_t handle,
                                                 std::uint32_t capacity = 261) {
        auto r = ask(socket, IoctlRequest{handle, kInterfaceStringCode, capacity, 5000, {2, 0}});
        if (!r) return std::nullopt;
        return std::get<IoctlResponse>(*r);
    }

    sim::VirtualDriver driver;
    BridgeServer server{driver, [this] { driver.shutdown(); }};
};

TEST_F(BridgeServerTest, MalformedRequest_IsRefusedWithErrorThenClosed) {
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"trailing bytes", message(0x06, {0, 0, 0, 1, 0})},
        {"missing bytes", message(0x06, {0, 0, 0})},
        {"str past the end", message(0x04, {0, 9, 'x'})},
        {"LENGTH 0", Bytes{0, 0, 0, 0}},
        {"LENGTH above 1 MiB", Bytes{0x00, 0x10, 0x00, 0x01}},
        {"unknown TYPE", message(0x09)},
        {"a response TYPE", message(0x81)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        net::Socket socket = connect();
        ASSERT_TRUE(socket.sendAll(bytes));
        auto reply = readMessage(socket);
        ASSERT_TRUE(reply);
        EXPECT_EQ(kErrorType, reply->type);
        auto text = decodeError(reply->type, reply->body);
        ASSERT_TRUE(text);
        EXPECT_FALSE(text->empty());
        EXPECT_TRUE(closedByPeer(socket));
    }
    // Refusing one peer leaves the server serving the others.
    net::Socket socket = connect();
    EXPECT_TRUE(ask(socket, ListInterfacesRequest{}));
}

TEST_F(BridgeServerTest, Handles_AreSharedByConnectionsUntilClosed) {
    net::Socket a = connect();
    net::Socket b = connect();
    auto opened = ask(a, OpenRequest{sim::kPhoneInterfacePath});
    ASSERT_TRUE(opened);
    const std::uint32_t handle = std::get<OpenResponse>(*opened).handle;
    ASSERT_NE(0u, handle);

    auto answer = interfaceString(b, handle);
    ASSERT_TRUE(answer);
    ASSERT_EQ(IoctlOutcome::Completed, answer->outcome);
    ASSERT_EQ(4u + 2 * 21, answer->output.size()); // count, then "Motorola Test Command" in UTF-16LE
    EXPECT_EQ(21u, readLe32(answer->output.data()));
    EXPECT_EQ('M', answer->output[4]);
    EXPECT_EQ(0, answer->output[5]);

    // Closing a handle nobody has is answered and changes nothing.
    EXPECT_EQ(Response(CloseResponse{}), ask(b, CloseRequest{handle + 100}));
    EXPECT_EQ(IoctlOutcome::Completed, interfaceString(b, handle)->outcome);

    EXPECT_EQ(Response(CloseResponse{}), ask(a, CloseRequest{handle}));
    EXPECT_EQ(0u, driver.openHandleCount());
    EXPECT_EQ(IoctlOutcome::Failed, interfaceString(b, handle)->outcome);
    EXPECT_EQ(Response(OpenResponse{0}), ask(a, OpenRequest{"\\\\?\\no such interface"}));
}

TEST_F(BridgeServerTest, HugeCapacity_IsHeldToWhatAnAnswerCarries) {
    net::Socket socket = connect();
    auto opened = ask(socket, OpenRequest{sim::kPhoneInterfacePath});
    ASSERT_TRUE(opened);
    auto answer = interfaceString(socket, std::get<OpenResponse>(*opened).handle, 0xFFFFFFFF);
    ASSERT_TRUE(answer);
    EXPECT_EQ(IoctlOutcome::Completed, answer->outcome);
    EXPECT_EQ(4u + 2 * 21, answer->output.size());
}

TEST_F(BridgeServerTest, Stop_EndsConnectionsWaitingForRemoval) {
    driver.open(sim::kPhoneInterfacePath);
    net::Socket waiting = connect();
    ASSERT_TRUE(waiting.sendAll(*encodeRequest(WaitRemovalRequest{sim::kPhoneInterfacePath})));
    EXPECT_FALSE(readMessage(waiting, 100)); // the phone is still there

    // A wait holds up only its own connection.
    net::Socket other = connect();
    EXPECT_TRUE(ask(other, ListInterfacesRequest{}));

    server.stop();
    EXPECT_TRUE(closedByPeer(waiting));
    EXPECT_TRUE(closedByPeer(other));
    EXPECT_FALSE(connect().valid());
}

TEST_F(BridgeServerTest, Stop_ClosesHandlesLeftOpen) {
    net::Socket socket = connect();
    ASSERT_TRUE(ask(socket, OpenRequest{sim::kPhoneInterfacePath}));
    ASSERT_EQ(1u, driver.openHandleCount());
    server.stop();
    EXPECT_EQ(0u, driver.openHandleCount());
}

// The virtual driver with a slow request, noting which calls overlapped.
class OverlapWatchPort final : public test::ForwardingPort {
public:
    explicit OverlapWatchPort(DevicePort& inner) : ForwardingPort(inner) {}
    std::atomic<int> mostAtOnce{0};
    std::atomic<bool> requestRunning{false};
    std::atomic<bool> closedDuringRequest{false};

    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        Call call(*this);
        requestRunning.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        RequestResult result = inner_.request(handle, code, input, output, limitMs);
        requestRunning.store(false);
        return result;
    }
    void close(DeviceHandle handle) override {
        Call call(*this);
        if (requestRunning.load()) closedDuringRequest.store(true);
        inner_.close(handle);
    }

private:
    struct Call {
        explicit Call(OverlapWatchPort& port) : port_(port) {
            const int now = port.atOnce_.fetch_add(1) + 1;
            int most = port.mostAtOnce.load();
            while (now > most && !port.mostAtOnce.compare_exchange_weak(most, now)) {
            }
        }
        ~Call() { port_.atOnce_.fetch_sub(1); }
        OverlapWatchPort& port_;
    };
    std::atomic<int> atOnce_{0};
};

TEST(BridgeServerPortTest, CloseFromAnotherConnection_WaitsForTheRequestRunningOnItsHandle) {
    sim::VirtualDriver driver;
    OverlapWatchPort port(driver);
    BridgeServer server(port, [&driver] { driver.shutdown(); });
    ASSERT_TRUE(server.start(0));
    net::Socket a = net::Socket::connectTo("127.0.0.1", server.port(), 2000);
    net::Socket b = net::Socket::connectTo("127.0.0.1", server.port(), 2000);
    ASSERT_TRUE(a.sendAll(*encodeRequest(OpenRequest{sim::kPhoneInterfacePath})));
    auto opened = readMessage(a);
    ASSERT_TRUE(opened);
    const auto openResponse = decodeResponse(OpenRequest{}, opened->type, opened->body);
    ASSERT_TRUE(openResponse);
    const std::uint32_t handle = std::get<OpenResponse>(*openResponse).handle;

    const IoctlRequest request{handle, kInterfaceStringCode, 261, 5000, {2, 0}};
    ASSERT_TRUE(a.sendAll(*encodeRequest(request)));
    while (!port.requestRunning.load()) std::this_thread::yield();
    ASSERT_TRUE(b.sendAll(*encodeRequest(CloseRequest{handle})));

    auto answered = readMessage(a);
    ASSERT_TRUE(answered);
    auto ioctl = decodeResponse(request, answered->type, answered->body);
    ASSERT_TRUE(ioctl);
    EXPECT_EQ(IoctlOutcome::Completed, std::get<IoctlResponse>(*ioctl).outcome);
    EXPECT_TRUE(readMessage(b));
    EXPECT_FALSE(port.closedDuringRequest.load());
    EXPECT_EQ(1, port.mostAtOnce.load());
    EXPECT_EQ(0u, driver.openHandleCount());
}

TEST(BridgeServerPortTest, ListenAddress_IsTheOnlyOneServed) {
    sim::VirtualDriver driver;
    BridgeServer named(driver, [&driver] { driver.shutdown(); });
    EXPECT_FALSE(named.start(0, "localhost")); // an address, not a name to look up
    BridgeServer server(driver, [&driver] { driver.shutdown(); });
    ASSERT_TRUE(server.start(0, "127.0.0.2"));
    EXPECT_TRUE(net::Socket::connectTo("127.0.0.2", server.port(), 2000).valid());
    EXPECT_FALSE(net::Socket::connectTo("127.0.0.1", server.port(), 2000).valid());
    server.stop();
}

} // namespace
} // namespace telvane
