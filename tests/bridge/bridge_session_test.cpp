// The link, unchanged, on a virtual phone in front of the bridge: what the program sees of a
// phone served by telvane-phonesim, here with both ends in one process.

#include <array>
#include <chrono>
#include <cstring>
#include <future>

#include <gtest/gtest.h>

#include "bridge/bridge_client.h"
#include "bridge/bridge_server.h"
#include "link/command_transport.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"

namespace telvane {
namespace {

using namespace std::chrono_literals;
using test::CaptureLog;
using test::FakeClock;

class BridgeSessionTest : public ::testing::Test {
protected:
    // Opens the interfaces in turn and keeps the one naming itself the command interface.
    bool findPhone() {
        for (const auto& path : client.listInterfaces()) {
            const DeviceHandle handle = client.open(path);
            std::array<char, UsbChannel::kInterfaceStringBufferSize> name{};
            if (channel.readInterfaceString(handle, 2, name) == 0 &&
                std::strcmp(name.data(), sim::kPhoneInterfaceName) == 0) {
                link.setHandle(handle);
                return true;
            }
            client.close(handle);
        }
        link.setHandle(0);
        return false;
    }
    int suspend() {
        const std::uint8_t payload[1] = {0};
        return transport.sendCommand(0x36, payload, 1, nullptr, 0, replyLength);
    }
    int restart() { return transport.sendCommand(0x22, nullptr, 0, nullptr, 0, replyLength); }
    void fault(const char* rule) {
        driver.clearFaults();
        driver.addFault(*sim::parseFaultRule(rule));
    }

    struct Started {
        explicit Started(BridgeServer& server) { EXPECT_TRUE(server.start(0)); }
    };

    sim::VirtualDriver driver;
    BridgeServer server{driver, [this] { driver.shutdown(); }};
    Started started{server};
    BridgeClient client{"127.0.0.1", server.port()};
    PhoneLink link;
    CaptureLog log;
    FakeClock clock;
    UsbChannel channel{client, link, log};
    CommandTransport transport{channel, clock, log};
    std::uint32_t replyLength = 0;
};

TEST_F(BridgeSessionTest, SuspendAndRestart_RoundTripOverLoopback) {
    driver.setForeignInterface(true);
    ASSERT_TRUE(findPhone());
    EXPECT_EQ(1u, driver.openHandleCount()); // the foreign interface was closed again
    EXPECT_EQ(0, suspend());
    EXPECT_EQ(0, restart());
    EXPECT_EQ("", log.text());
    EXPECT_EQ(1u, driver.withPhone([](sim::VirtualPhone& p) { return p.suspendCount(); }));
    EXPECT_EQ(1u, driver.withPhone([](sim::VirtualPhone& p) { return p.restartCount(); }));
}

TEST_F(BridgeSessionTest, PhoneAndDriverFailures_ReachTheLinkAsTheirLogTexts) {
    ASSERT_TRUE(findPhone());
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"status=7", "GENERIC FAILURE\r\n"},
        {"readtimeout", "USB: IO Time-out!\r\nCMD: Data read fail!\r\n"},
        {"writefail", "USB: IO Failed!\r\nCMD: Data write fail!\r\n"},
    };
    for (const auto& [rule, text] : cases) {
        SCOPED_TRACE(rule);
        fault(rule);
        log.clear();
        EXPECT_EQ(-1, suspend());
        EXPECT_EQ(text, log.text());
    }
    driver.clearFaults();
    driver.unplug();
    log.clear();
    EXPECT_EQ(-1, suspend());
    EXPECT_EQ("USB: IO Failed!\r\nCMD: Data write fail!\r\n", log.text());
}

TEST_F(BridgeSessionTest, ModemPhone_IsSwitchedOverTheBridge) {
    driver.setModemPort("COM5");
    EXPECT_EQ("COM5", client.modemPort());
    EXPECT_TRUE(client.listInterfaces().empty());
    const std::string command = sim::kModeSwitchCommand;
    const std::vector<std::uint8_t> bytes(command.begin(), command.end());
    EXPECT_FALSE(client.writeModem("COM6", bytes));
    EXPECT_TRUE(client.writeModem("COM5", bytes));
    EXPECT_EQ("", client.modemPort());
    EXPECT_TRUE(findPhone());
}

TEST_F(BridgeSessionTest, WaitRemoval_AnsweredOnceTheInterfaceHasGone) {
    auto waitFor = [this](const std::string& path) {
        return std::async(std::launch::async, [this, path] { client.waitRemoval(path); });
    };
    // Absent: at once.
    EXPECT_EQ(std::future_status::ready, waitFor("\\\\?\\absent").wait_for(2s));

    // Present: only after the unplug, and meanwhile the link's own commands go on.
    ASSERT_TRUE(findPhone());
    auto waiting = waitFor(sim::kPhoneInterfacePath);
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(100ms));
    EXPECT_EQ(0, suspend());
    driver.unplug();
    EXPECT_EQ(std::future_status::ready, waiting.wait_for(2s));

    // Unplugged and plugged again before the request came: gone all the same.
    driver.plug();
    ASSERT_TRUE(findPhone());
    driver.unplug();
    driver.plug();
    EXPECT_EQ(std::future_status::ready, waitFor(sim::kPhoneInterfacePath).wait_for(2s));
}

TEST_F(BridgeSessionTest, EachThread_HasItsOwnConnection) {
    ASSERT_TRUE(findPhone());
    EXPECT_EQ(0, suspend());
    EXPECT_EQ(1u, server.acceptedCount()); // one thread so far, however many requests

    // The handle opened here is good on the other thread's connection too.
    std::uint32_t otherReplyLength = 0;
    int otherResult = 1;
    std::thread other([&] {
        CommandTransport otherTransport(channel, clock, log);
        otherResult = otherTransport.sendCommand(0x22, nullptr, 0, nullptr, 0, otherReplyLength);
    });
    other.join();
    EXPECT_EQ(0, otherResult);
    EXPECT_EQ(2u, server.acceptedCount());
    EXPECT_EQ(0, restart());
    EXPECT_EQ(2u, server.acceptedCount());
    EXPECT_EQ("", log.text());
}

} // namespace
} // namespace telvane
