#include "bridge/bridge_client.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "bridge_peers.h"

namespace telvane {
namespace {

using namespace bridge;
using test::FakeServer;
using test::message;
using test::rawMessage;
using Bytes = std::vector<std::uint8_t>;
using Step = FakeServer::Step;
using Steady = std::chrono::steady_clock;

constexpr std::uint32_t kCode = 0x80002014;

// A correct answer to a request of this TYPE.
Bytes goodAnswer(std::uint8_t type) {
    switch (static_cast<MessageType>(type)) {
    case MessageType::ModemPort: return *encodeResponse(ModemPortResponse{"COM3"});
    case MessageType::ModemWrite: return *encodeResponse(ModemWriteResponse{true});
    case MessageType::ListInterfaces: return *encodeResponse(ListInterfacesResponse{{"path"}});
    case MessageType::Open: return *encodeResponse(OpenResponse{5});
    case MessageType::Ioctl: return *encodeResponse(IoctlResponse{IoctlOutcome::Completed, {1, 2, 3}});
    case MessageType::Close: return *encodeResponse(CloseResponse{});
    case MessageType::WaitRemoval: return *encodeResponse(WaitRemovalResponse{});
    case MessageType::Hello: return *encodeResponse(HelloResponse{});
    }
    return {};
}

BridgeClient clientOf(const FakeServer& server, BridgeClient::Timeouts timeouts = {}) {
    return BridgeClient("127.0.0.1", server.port(), timeouts);
}

// Every call of the client against a server, each expected to fail in its own plain way.
void expectEveryCallFails(BridgeClient& client) {
    EXPECT_EQ("", client.modemPort());
    EXPECT_FALSE(client.writeModem("COM3", Bytes{'a', 't'}));
    EXPECT_TRUE(client.listInterfaces().empty());
    EXPECT_EQ(0u, client.open("path"));
    Bytes output(16, 0xEE);
    EXPECT_EQ(RequestOutcome::Failed, client.request(5, kCode, Bytes{1}, output, 100).outcome);
    EXPECT_EQ(Bytes(16, 0xEE), output);
    client.close(5);
    client.waitRemoval("path"); // returns: a wrong answer ends the wait
}

TEST(BridgeClient, GarbageAnswers_FailEveryCallCleanly) {
    const std::vector<std::pair<const char*, std::function<Step(std::uint8_t)>>> garbage = {
        {"wrong TYPE", [](std::uint8_t t) { return Step{message(static_cast<std::uint8_t>((t | 0x80) ^ 0x01))}; }},
        {"trailing byte",
         [](std::uint8_t t) {
             Bytes b = goodAnswer(t);
             b.push_back(0);
             ++b[3]; // LENGTH covers it
             return Step{b};
         }},
        {"truncated body, then closed", [](std::uint8_t t) { return Step{rawMessage(100, t | 0x80, {0, 1}), true}; }},
        {"huge LENGTH", [](std::uint8_t) { return Step{Bytes{0xFF, 0xFF, 0xFF, 0xF0, 0x85}}; }},
        {"LENGTH 0", [](std::uint8_t) { return Step{Bytes{0, 0, 0, 0}}; }},
        {"closed inside LENGTH", [](std::uint8_t) { return Step{Bytes{0, 0}, true}; }},
        {"refused with 0xFF", [](std::uint8_t) { return Step{encodeError("no"), true}; }},
    };
    for (const auto& [what, answer] : garbage) {
        SCOPED_TRACE(what);
        FakeServer server([&answer = answer](int, std::uint8_t type) { return answer(type); });
        BridgeClient client = clientOf(server);
        expectEveryCallFails(client);
    }
}

TEST(BridgeClient, IoctlOutputBeyondCapacity_IsRefusedWithoutTouchingTheBuffer) {
    FakeServer server([](int, std::uint8_t) {
        return Step{*encodeResponse(IoctlResponse{IoctlOutcome::Completed, Bytes(9, 0x11)})};
    });
    BridgeClient client = clientOf(server);
    Bytes area(12, 0xEE); // 8 bytes offered, 4 sentinels behind them
    auto result = client.request(1, kCode, Bytes{0}, std::span<std::uint8_t>(area.data(), 8), 100);
    EXPECT_EQ(RequestOutcome::Failed, result.outcome);
    EXPECT_EQ(Bytes(12, 0xEE), area);
}

TEST(BridgeClient, IoctlOutcomes_MapToRequestOutcomes) {
    std::atomic<int> answer{0};
    FakeServer server([&](int, std::uint8_t) {
        const IoctlResponse responses[] = {{IoctlOutcome::Completed, {7, 8}}, {IoctlOutcome::TimedOut, {}},
                                           {IoctlOutcome::Failed, {}}};
        return Step{*encodeResponse(responses[answer.load()])};
    });
    BridgeClient client = clientOf(server);
    Bytes output(4, 0);
    auto done = client.request(1, kCode, Bytes{}, output, 100);
    EXPECT_EQ(RequestOutcome::Completed, done.outcome);
    EXPECT_EQ(2u, done.outputLength);
    EXPECT_EQ(Bytes({7, 8, 0, 0}), output);
    answer = 1;
    EXPECT_EQ(RequestOutcome::TimedOut, client.request(1, kCode, Bytes{}, output, 100).outcome);
    answer = 2;
    EXPECT_EQ(RequestOutcome::Failed, client.request(1, kCode, Bytes{}, output, 100).outcome);
    EXPECT_EQ(1, server.accepted()); // answers keep the connection
}

TEST(BridgeClient, DroppedConnection_FailsThatRequestAndReconnectsOnTheNext) {
    FakeServer server([](int connection, std::uint8_t type) {
        // The first connection answers once and is then dropped.
        return Step{goodAnswer(type), connection == 0};
    });
    BridgeClient client = clientOf(server);
    EXPECT_EQ(std::vector<std::string>{"path"}, client.listInterfaces());
    EXPECT_TRUE(client.listInterfaces().empty()); // finds the connection gone
    EXPECT_EQ(std::vector<std::string>{"path"}, client.listInterfaces());
    EXPECT_EQ(2, server.accepted());
}

TEST(BridgeClient, UnansweredIoctl_TimesOutAtLimitPlusGraceAndDropsTheConnection) {
    FakeServer server([](int connection, std::uint8_t type) {
        if (connection == 0) return Step{{}, false, true};
        return Step{goodAnswer(type)};
    });
    BridgeClient client = clientOf(server);
    Bytes output(8, 0);
    const auto start = Steady::now();
    EXPECT_EQ(RequestOutcome::TimedOut, client.request(1, kCode, Bytes{}, output, 20).outcome);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
    EXPECT_GE(waited, 2020);
    EXPECT_LT(waited, 3500);
    EXPECT_EQ(RequestOutcome::Completed, client.request(1, kCode, Bytes{}, output, 20).outcome);
    EXPECT_EQ(2, server.accepted());
}

TEST(BridgeClient, OtherUnansweredRequests_GiveUpAtTheirDeadline) {
    FakeServer server([](int, std::uint8_t) { return Step{{}, false, true}; });
    BridgeClient::Timeouts timeouts;
    timeouts.responseMs = 50;
    BridgeClient client = clientOf(server, timeouts);
    const auto start = Steady::now();
    EXPECT_EQ(0u, client.open("path"));
    EXPECT_TRUE(client.listInterfaces().empty());
    EXPECT_LT(Steady::now() - start, std::chrono::milliseconds(1500));
}

TEST(BridgeClient, NoServer_FailsAtOnce) {
    std::uint16_t port = 0;
    {
        auto listener = net::Listener::listenLoopback(0);
        port = listener.port();
    } // closed: nothing listens there now
    BridgeClient client("127.0.0.1", port);
    expectEveryCallFails(client);
}

TEST(BridgeClient, HandlesBeyond32Bits_AreNeverSent) {
    FakeServer server([](int, std::uint8_t type) { return Step{goodAnswer(type)}; });
    BridgeClient client = clientOf(server);
    Bytes output(8, 0);
    EXPECT_EQ(RequestOutcome::Failed, client.request(0x100000001ull, kCode, Bytes{}, output, 10).outcome);
    client.close(0x100000001ull);
    EXPECT_EQ(0, server.accepted());
}

TEST(BridgeClient, EveryConnection_SaysHelloWithItsProgramsId) {
    FakeServer server([](int, std::uint8_t type) { return Step{goodAnswer(type)}; });
    BridgeClient first = clientOf(server);
    BridgeClient second = clientOf(server);
    first.listInterfaces();
    std::thread([&first] { first.listInterfaces(); }).join(); // a connection of its own
    second.listInterfaces();
    EXPECT_EQ(std::vector<std::uint64_t>({first.clientId(), first.clientId(), second.clientId()}), server.helloIds());
    EXPECT_NE(first.clientId(), second.clientId());
}

TEST(BridgeClient, ServerFromBeforeHello_IsSpokenToWithout) {
    FakeServer server([](int, std::uint8_t type) { return Step{goodAnswer(type)}; }, FakeServer::Hello::Refused);
    BridgeClient client = clientOf(server);
    EXPECT_EQ(std::vector<std::string>{"path"}, client.listInterfaces());
    std::thread([&client] { EXPECT_EQ(std::vector<std::string>{"path"}, client.listInterfaces()); }).join();
    EXPECT_EQ(3, server.accepted()); // the refused one, then one plain connection per thread
}

TEST(BridgeAddress, ParsesTcpHostAndPortOnly) {
    auto a = parseBridgeAddress("tcp:127.0.0.1:5555");
    ASSERT_TRUE(a);
    EXPECT_EQ("127.0.0.1", a->host);
    EXPECT_EQ(5555, a->port);
    auto named = parseBridgeAddress("tcp:phone-host:1");
    ASSERT_TRUE(named);
    EXPECT_EQ("phone-host", named->host);
    auto v6 = parseBridgeAddress("tcp:[::1]:65535");
    ASSERT_TRUE(v6);
    EXPECT_EQ("::1", v6->host);
    for (const char* junk : {"", "tcp:", "tcp:host", "tcp::80", "tcp:host:", "tcp:host:0", "tcp:host:65536",
                             "tcp:host:12a", "tcp:host:-1", "udp:host:80", "host:80", "tcp:::1:80", "virtual",
                             "tcp:host:000080"}) {
        EXPECT_FALSE(parseBridgeAddress(junk)) << junk;
    }
}

} // namespace
} // namespace telvane
