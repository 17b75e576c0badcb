#include "link/connection_watcher.h"

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/command_transport.h"
#include "link/discovery.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/forwarding_port.h"
#include "support/recording_listener.h"

namespace telvane {
namespace {

using sim::VirtualDriver;
using test::CaptureLog;
using test::FakeClock;
using test::RecordingListener;

class ConnectionWatcherTest : public ::testing::Test {
protected:
    ConnectionWatcherTest() { clock.recordSleeps(); }
    ~ConnectionWatcherTest() override { stop(); }

    void start() {
        thread = std::thread([this] { watcher.run(); });
    }
    void stop() {
        if (!thread.joinable()) return;
        watcher.requestStop();
        driver.shutdown(); // releases a watcher waiting for removal
        thread.join();
    }

    VirtualDriver driver;
    PhoneLink link;
    CaptureLog log;
    FakeClock clock;
    UsbChannel channel{driver, link, log};
    RecordingListener listener;
    ConnectionWatcher watcher{driver, link, channel, clock, listener};
    std::thread thread;
};

TEST_F(ConnectionWatcherTest, NoPhone_WakesOnceASecondAndStaysSilent) {
    driver.unplug();
    clock.setSleepHook([this](std::uint32_t) {
        if (clock.sleepCount() >= 5) watcher.requestStop();
    });
    watcher.run(); // returns once stopped; on this thread, no waiting involved
    EXPECT_EQ(std::vector<std::uint32_t>(5, 1000), clock.recordedSleeps());
    EXPECT_TRUE(listener.states().empty());
    EXPECT_EQ(0u, link.handle());
    EXPECT_EQ("", log.text());
    EXPECT_EQ(0u, driver.openHandleCount());
}

TEST_F(ConnectionWatcherTest, ModemFirstPhone_SwitchedOnceThenFoundFiveSecondsLater) {
    driver.setModemPort("COM7");
    start();
    ASSERT_TRUE(listener.waitFor(1));
    EXPECT_EQ(std::vector<int>{1}, listener.states());
    EXPECT_EQ(std::vector<std::string>{"at+mode=8\r\n"}, driver.modemWrites());
    EXPECT_EQ((std::vector<std::uint32_t>{1000, 5000}), clock.recordedSleeps());
    EXPECT_TRUE(link.isConnected());
    EXPECT_NE(0u, link.handle());
    EXPECT_EQ(sim::kPhoneInterfacePath, link.devicePath());
    EXPECT_EQ("", log.text());
}

TEST_F(ConnectionWatcherTest, ForeignInterfaceFirst_IsClosedAndTheSecondKept) {
    driver.setForeignInterface(true);
    start();
    ASSERT_TRUE(listener.waitFor(1));
    EXPECT_EQ(1u, driver.openHandleCount()); // the foreign one was closed again
    EXPECT_EQ(sim::kPhoneInterfacePath, link.devicePath());
    EXPECT_EQ("", log.text());
}

TEST_F(ConnectionWatcherTest, Unplug_TakesLinkDownThenSearchesAgainAfterCoolDown) {
    start();
    ASSERT_TRUE(listener.waitFor(1));
    EXPECT_EQ(1u, link.generation());
    driver.unplug();
    ASSERT_TRUE(listener.waitFor(2));
    EXPECT_FALSE(link.isConnected());
    EXPECT_EQ(0u, link.handle());
    EXPECT_EQ("", link.devicePath());
    EXPECT_EQ(0u, driver.openHandleCount());
    EXPECT_EQ(2u, link.generation()); // a take-down is a change of connection too

    driver.plug();
    ASSERT_TRUE(listener.waitFor(3));
    EXPECT_EQ(3u, link.generation());
    EXPECT_EQ((std::vector<int>{1, 0, 1}), listener.states());
    auto sleeps = clock.recordedSleeps();
    ASSERT_GE(sleeps.size(), 3u);
    EXPECT_EQ(1000u, sleeps[0]);
    EXPECT_EQ(5000u, sleeps[1]); // cooling down after the removal
    EXPECT_EQ(1000u, sleeps[2]); // then searching again
}

TEST_F(ConnectionWatcherTest, RemovalThatCannotBeWatched_CountsAsRemovedAndIsRediscovered) {
    driver.setRemovalWatchBroken(true);
    start();
    ASSERT_TRUE(listener.waitFor(3));
    auto states = listener.states();
    EXPECT_EQ((std::vector<int>{1, 0, 1}), std::vector<int>(states.begin(), states.begin() + 3));
}

TEST_F(ConnectionWatcherTest, UnplugDuringCommands_CommandsFailAndClosedHandleIsNeverUsed) {
    FakeClock windowClock; // the window thread's polls must not wait in real time
    CommandTransport transport(channel, windowClock, log);
    start();
    ASSERT_TRUE(listener.waitFor(1));

    std::atomic<int> ok{0};
    std::atomic<int> failed{0};
    std::atomic<bool> unplugged{false};
    std::thread window([&] {
        // Keep sending until well after the unplug, like a long transfer would.
        for (int i = 0; i < 20000 && failed.load() < 50; ++i) {
            const std::uint8_t payload[1] = {0};
            std::uint32_t length = 0;
            // Only a command begun after the link went down is bound to fail; one
            // already under way may finish just before the watcher closes the handle.
            const bool linkWasDown = unplugged.load() && !link.isConnected();
            if (transport.sendCommand(0x36, payload, 1, nullptr, 0, length) == 0) {
                ok.fetch_add(1);
                if (linkWasDown) ADD_FAILURE() << "command succeeded without a link";
            } else {
                failed.fetch_add(1);
            }
        }
    });
    while (ok.load() < 20) std::this_thread::yield();
    unplugged.store(true);
    driver.unplug();
    window.join();
    ASSERT_TRUE(listener.waitFor(2));

    EXPECT_GT(failed.load(), 0);
    EXPECT_EQ(0u, driver.closedHandleUses());
    // Once the link is down, commands fail at once on their write.
    auto entries = log.entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ("USB: IO Failed!\r\n", entries[entries.size() - 2]);
    EXPECT_EQ("CMD: Data write fail!\r\n", entries.back());
}

// Records what the link held while each interface string was being read.
class ProbeWatchPort final : public test::ForwardingPort {
public:
    ProbeWatchPort(DevicePort& inner, PhoneLink& link) : ForwardingPort(inner), link_(link) {}
    std::vector<DeviceHandle> linkHandlesSeen;
    std::vector<DeviceHandle> probed;

    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        if (code == UsbChannel::kInterfaceStringCode) {
            linkHandlesSeen.push_back(link_.handle());
            probed.push_back(handle);
        }
        return inner_.request(handle, code, input, output, limitMs);
    }

private:
    PhoneLink& link_;
};

TEST(Discovery, ProbesOnHandlesOfItsOwn_PublishesOnlyTheCommandInterface) {
    VirtualDriver driver;
    driver.setForeignInterface(true);
    PhoneLink link;
    CaptureLog log;
    ProbeWatchPort port(driver, link);
    UsbChannel channel(port, link, log);
    findPhoneInterface(port, link, channel);

    ASSERT_EQ(2u, port.probed.size());
    EXPECT_EQ((std::vector<DeviceHandle>{0, 0}), port.linkHandlesSeen); // nothing in the link while probing
    EXPECT_EQ(port.probed[1], link.handle());
    EXPECT_EQ(sim::kPhoneInterfacePath, link.devicePath());
    EXPECT_EQ(1u, link.generation());
    EXPECT_EQ(1u, driver.openHandleCount()); // the foreign one was closed again
    EXPECT_EQ("", log.text());
}

TEST(Discovery, ModemPortMustStartWithCom) {
    VirtualDriver driver;
    std::string name = "unchanged";
    driver.setModemPort("USB1");
    EXPECT_EQ(-1, queryModemPort(driver, name));
    EXPECT_EQ("unchanged", name);
    driver.setModemPort("COM12");
    EXPECT_EQ(0, queryModemPort(driver, name));
    EXPECT_EQ("COM12", name);
    driver.setModemPort("");
    EXPECT_EQ(-1, queryModemPort(driver, name));
}

TEST(Discovery, LinuxTtyNode_IsAModemPortToo) {
    VirtualDriver driver;
    std::string name;
    driver.setModemPort("/dev/ttyACM0");
    EXPECT_EQ(0, queryModemPort(driver, name));
    EXPECT_EQ("/dev/ttyACM0", name);
    driver.setModemPort("dev/ttyACM0");
    EXPECT_EQ(-1, queryModemPort(driver, name));
}

TEST(Discovery, NoInterfaces_LeavesTheLinkDownSilently) {
    VirtualDriver driver;
    driver.unplug();
    PhoneLink link;
    CaptureLog log;
    UsbChannel channel(driver, link, log);
    findPhoneInterface(driver, link, channel);
    EXPECT_EQ(0u, link.handle());
    EXPECT_EQ(0u, link.generation());
    EXPECT_EQ("", log.text());
}

} // namespace
} // namespace telvane
