// The bridge server between several client programs: what a program that goes leaves behind,
// and who may use an interface while another program has it.

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "bridge/bridge_server.h"
#include "bridge_peers.h"
#include "sim/virtual_driver.h"
#include "services/seem_commands.h"
#include "session/phone_session.h"
#include "support/fake_clock.h"
#include "support/forwarding_port.h"
#include "support/recording_listener.h"

namespace telvane {
namespace {

using namespace bridge;
using namespace std::chrono_literals;
using test::closedByPeer;
using test::readMessage;
using Steady = std::chrono::steady_clock;

constexpr std::uint32_t kInterfaceStringCode = 0x80002010;

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = Steady::now() + 5s;
    while (!condition()) {
        if (Steady::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

long long msSince(Steady::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

// The virtual driver, optionally slow to answer requests.
class SlowPort final : public test::ForwardingPort {
public:
    using ForwardingPort::ForwardingPort;
    std::atomic<int> delayMs{0};
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        return inner_.request(handle, code, input, output, limitMs);
    }
};

class BridgeProgramsTest : public ::testing::Test {
protected:
    BridgeProgramsTest() { EXPECT_TRUE(server.start(0)); }

    net::Socket connect() { return net::Socket::connectTo("127.0.0.1", server.port(), 2000); }
    std::optional<Response> ask(net::Socket& socket, const Request& request) {
        if (!socket.sendAll(*encodeRequest(request))) return std::nullopt;
        auto reply = readMessage(socket, 5000);
        if (!reply) return std::nullopt;
        return decodeResponse(request, reply->type, reply->body);
    }
    bool greet(net::Socket& socket, std::uint64_t id) { return ask(socket, HelloRequest{id, 5000}).has_value(); }
    std::uint32_t openPhone(net::Socket& socket) {
        auto r = ask(socket, OpenRequest{sim::kPhoneInterfacePath});
        return r ? std::get<OpenResponse>(*r).handle : 0;
    }
    IoctlOutcome nameOf(net::Socket& socket, std::uint32_t handle) {
        auto r = ask(socket, IoctlRequest{handle, kInterfaceStringCode, 261, 5000, {2, 0}});
        return r ? std::get<IoctlResponse>(*r).outcome : IoctlOutcome::Failed;
    }
    std::unique_ptr<BridgeClient> program(std::uint32_t responseMs = 5000) {
        BridgeClient::Timeouts timeouts;
        timeouts.responseMs = responseMs;
        timeouts.ioctlGraceMs = 0;
        return std::make_unique<BridgeClient>("127.0.0.1", server.port(), timeouts);
    }

    sim::VirtualDriver driver;
    SlowPort port{driver};
    BridgeServer server{port, [this] { driver.shutdown(); }};
};

TEST_F(BridgeProgramsTest, ClientsThatVanishMidWait_LeaveNeitherWaitsNorHandles) {
    // Far more than the server would ever serve at once, half of them saying hello.
    for (int i = 0; i < 200; ++i) {
        net::Socket socket = connect();
        ASSERT_TRUE(socket.valid()) << i;
        if (i % 2 == 1) {
            ASSERT_TRUE(greet(socket, 1000 + i));
        }
        ASSERT_NE(0u, openPhone(socket)) << i;
        ASSERT_TRUE(socket.sendAll(*encodeRequest(WaitRemovalRequest{sim::kPhoneInterfacePath})));
    } // each closed here, its wait still running

    net::Socket last = connect();
    const std::uint32_t handle = openPhone(last);
    ASSERT_NE(0u, handle);
    EXPECT_EQ(IoctlOutcome::Completed, nameOf(last, handle));
    EXPECT_TRUE(eventually([&] { return server.liveConnectionCount() == 1; }));
    EXPECT_EQ(1u, driver.openHandleCount());
    last.close();
    EXPECT_TRUE(eventually([&] { return driver.openHandleCount() == 0 && server.liveConnectionCount() == 0; }));
}

TEST_F(BridgeProgramsTest, HandlesOfAClient_OutliveOneOfItsConnectionsButNotTheLast) {
    net::Socket first = connect();
    net::Socket second = connect();
    ASSERT_TRUE(greet(first, 7));
    ASSERT_TRUE(greet(second, 7));
    const std::uint32_t handle = openPhone(first);
    ASSERT_NE(0u, handle);
    first.close();
    ASSERT_TRUE(eventually([&] { return server.liveConnectionCount() == 1; }));
    EXPECT_EQ(IoctlOutcome::Completed, nameOf(second, handle));
    second.close();
    EXPECT_TRUE(eventually([&] { return driver.openHandleCount() == 0; }));

    // Without hello a connection is a client of its own.
    net::Socket alone = connect();
    ASSERT_NE(0u, openPhone(alone));
    alone.close();
    EXPECT_TRUE(eventually([&] { return driver.openHandleCount() == 0; }));
}

TEST_F(BridgeProgramsTest, AnotherClientsHandle_CanBeNeitherUsedNorClosed) {
    net::Socket owner = connect();
    net::Socket other = connect();
    net::Socket unnamed = connect();
    ASSERT_TRUE(greet(owner, 1));
    ASSERT_TRUE(greet(other, 2));
    const std::uint32_t handle = openPhone(owner);
    ASSERT_NE(0u, handle);
    EXPECT_EQ(IoctlOutcome::Failed, nameOf(other, handle));
    EXPECT_EQ(IoctlOutcome::Failed, nameOf(unnamed, handle));
    EXPECT_EQ(Response(CloseResponse{}), ask(other, CloseRequest{handle}));
    EXPECT_EQ(IoctlOutcome::Completed, nameOf(owner, handle));
    EXPECT_EQ(1u, driver.openHandleCount());
}

TEST_F(BridgeProgramsTest, Hello_IsTakenOnlyAsAConnectionsFirstMessage) {
    for (bool spokeFirst : {true, false}) {
        net::Socket socket = connect();
        const bool spoke = spokeFirst ? ask(socket, ListInterfacesRequest{}).has_value() : greet(socket, 3);
        ASSERT_TRUE(spoke);
        ASSERT_TRUE(socket.sendAll(*encodeRequest(HelloRequest{4, 5000})));
        auto reply = readMessage(socket);
        ASSERT_TRUE(reply);
        EXPECT_EQ(kErrorType, reply->type);
        EXPECT_TRUE(closedByPeer(socket));
    }
}

TEST_F(BridgeProgramsTest, AnInterface_BelongsToOneProgramUntilItClosesOrGoes) {
    auto first = program();
    auto second = program(1000);
    const DeviceHandle held = first->open(sim::kPhoneInterfacePath);
    ASSERT_NE(0u, held);

    // Held: the other program waits half its answer time, then hears why.
    auto start = Steady::now();
    const OpenResult refused = second->tryOpen(sim::kPhoneInterfacePath);
    EXPECT_EQ(OpenOutcome::InUse, refused.outcome);
    EXPECT_EQ(0u, refused.handle);
    EXPECT_GE(msSince(start), 450);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(1u, second->listInterfaces().size()); // everything else is served meanwhile

    // Let go during the wait: the waiting Open gets it.
    auto waiting = std::async(std::launch::async, [&] { return second->tryOpen(sim::kPhoneInterfacePath); });
    std::this_thread::sleep_for(100ms);
    first->close(held);
    const OpenResult taken = waiting.get();
    ASSERT_EQ(OpenOutcome::Opened, taken.outcome);

    // The new holder goes away without closing: its interface is free again at once.
    EXPECT_EQ(OpenOutcome::InUse, program(200)->tryOpen(sim::kPhoneInterfacePath).outcome);
    second.reset();
    start = Steady::now();
    EXPECT_EQ(OpenOutcome::Opened, first->tryOpen(sim::kPhoneInterfacePath).outcome);
    EXPECT_LT(msSince(start), 1000);
}

TEST_F(BridgeProgramsTest, TimedOutRequest_KeepsTheProgramsHandle) {
    auto client = program();
    const DeviceHandle handle = client->open(sim::kPhoneInterfacePath);
    ASSERT_NE(0u, handle);
    std::vector<std::uint8_t> name(261);
    const std::vector<std::uint8_t> index{2, 0};
    port.delayMs = 300;
    EXPECT_EQ(RequestOutcome::TimedOut, client->request(handle, kInterfaceStringCode, index, name, 50).outcome);
    port.delayMs = 0;
    // Its connection was replaced, but the program never went away.
    EXPECT_EQ(RequestOutcome::Completed, client->request(handle, kInterfaceStringCode, index, name, 2000).outcome);
    EXPECT_EQ(OpenOutcome::InUse, program(200)->tryOpen(sim::kPhoneInterfacePath).outcome);
}

} // namespace
} // namespace telvane

namespace telvane {
namespace {

// Passes requests on until cut: then fails every one without passing it on, as a program killed
// right after it sent a command would leave the phone.
class CutPort final : public test::ForwardingPort {
public:
    using ForwardingPort::ForwardingPort;
    bool cutAfterNextWrite = false;
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        if (cut_) return {RequestOutcome::Failed, 0};
        const RequestResult result = inner_.request(handle, code, input, output, limitMs);
        // A control transfer longer than a read's setup is a command frame going out.
        if (cutAfterNextWrite && input.size() > UsbChannel::kReadInputLength) cut_ = true;
        return result;
    }

private:
    bool cut_ = false;
};

TEST_F(BridgeProgramsTest, AProgramGoneBetweenACommandAndItsReply_LeavesNoReplyForTheNext) {
    test::FakeClock clock;
    NullLog log;
    test::RecordingListener listener;
    {
        auto first = program();
        CutPort cut(*first);
        PhoneSession session(cut, clock, log, listener);
        ASSERT_TRUE(session.connect(1000) == ConnectOutcome::Connected);
        cut.cutAfterNextWrite = true;
        session.seems.suspendPhone(); // sent; its reply is never read
    } // the program is gone, its reply still in the phone

    auto second = program();
    PhoneSession session(*second, clock, log, listener);
    ASSERT_TRUE(session.connect(1000) == ConnectOutcome::Connected);
    std::vector<std::uint8_t> model(seem::kAreaSize);
    std::uint32_t size = 0;
    EXPECT_EQ(0, session.seems.readSeem(seem::kModelSeem, seem::kModelRecord, model, size))
        << "the first command after it is answered by its own reply";
    EXPECT_GT(size, 0u);
}

} // namespace
} // namespace telvane
