#include "bridge/removal_watches.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "sim/virtual_driver.h"
#include "support/forwarding_port.h"

namespace telvane {
namespace {

using namespace std::chrono_literals;
using WaitEnd = RemovalWatches::WaitEnd;

// Counts the port's removal waits.
class CountingPort final : public test::ForwardingPort {
public:
    using ForwardingPort::ForwardingPort;
    std::atomic<int> calls{0};
    void waitRemoval(const std::string& path) override {
        calls.fetch_add(1);
        inner_.waitRemoval(path);
    }
};

// A waiter whose peer stays until told to leave.
auto peerLeavingOn(const std::atomic<bool>& flag) {
    return [&flag](std::uint32_t ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return flag.load();
    };
}

TEST(RemovalWatches, WaitersOfOnePath_ShareOneWatchAndMayLeaveIt) {
    sim::VirtualDriver driver;
    CountingPort port(driver);
    driver.open(sim::kPhoneInterfacePath);
    RemovalWatches watches(port);
    std::atomic<bool> never{false};
    std::atomic<bool> leave{false};

    auto waitUntil = [&](const std::atomic<bool>& left) {
        return std::async(std::launch::async,
                          [&watches, &left] { return watches.wait(sim::kPhoneInterfacePath, peerLeavingOn(left)); });
    };
    auto staying = waitUntil(never);
    auto leaving = waitUntil(leave);
    std::this_thread::sleep_for(100ms);
    leave = true;
    EXPECT_EQ(WaitEnd::Abandoned, leaving.get());
    EXPECT_EQ(std::future_status::timeout, staying.wait_for(100ms)); // the phone is still there
    EXPECT_EQ(1u, watches.runningCount());

    driver.unplug();
    EXPECT_EQ(WaitEnd::Removed, staying.get());
    EXPECT_EQ(1, port.calls.load()); // one watch of the port for both
    EXPECT_EQ(0u, watches.runningCount());
    // A wait from now on watches anew: the interface is absent, so it ends at once.
    EXPECT_EQ(WaitEnd::Removed, watches.wait(sim::kPhoneInterfacePath, peerLeavingOn(never)));
    EXPECT_EQ(2, port.calls.load());
}

} // namespace
} // namespace telvane
