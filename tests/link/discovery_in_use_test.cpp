// An interface held by another program: discovery and the tools' connect say so instead of
// taking it for a missing phone.

#include <set>

#include <gtest/gtest.h>

#include "link/discovery.h"
#include "session/phone_session.h"
#include "sim/virtual_driver.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/forwarding_port.h"

namespace telvane {
namespace {

// The virtual driver, with some interfaces held by another program.
class HeldPort final : public test::ForwardingPort {
public:
    using ForwardingPort::ForwardingPort;
    std::set<std::string> held;
    OpenResult tryOpen(const std::string& path) override {
        if (held.count(path) != 0) return {0, OpenOutcome::InUse};
        const DeviceHandle handle = inner_.open(path);
        return {handle, handle != 0 ? OpenOutcome::Opened : OpenOutcome::Failed};
    }
};

class NoListener final : public LinkStateListener {
public:
    void onLinkState(int) override {}
};

TEST(DiscoveryInUse, HeldInterface_IsReportedOnlyWhenNoPhoneWasFound) {
    struct Case {
        const char* what;
        std::set<std::string> held;
        bool plugged;
        InterfaceSearch expected;
    };
    const Case cases[] = {
        {"the phone's own held", {sim::kPhoneInterfacePath}, true, InterfaceSearch::InUse},
        {"only the foreign one held", {sim::kForeignInterfacePath}, true, InterfaceSearch::Found},
        {"nothing held, no phone", {}, false, InterfaceSearch::Absent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::VirtualDriver driver;
        driver.setForeignInterface(true);
        if (!c.plugged) driver.unplug();
        HeldPort port(driver);
        port.held = c.held;
        PhoneLink link;
        test::CaptureLog log;
        UsbChannel channel(port, link, log);
        EXPECT_EQ(c.expected, findPhoneInterface(port, link, channel));
        EXPECT_EQ(c.expected == InterfaceSearch::Found, link.handle() != 0);
        EXPECT_EQ(c.expected == InterfaceSearch::Found ? 1u : 0u, driver.openHandleCount());
    }
}

TEST(DiscoveryInUse, Connect_SaysInUseAtOnceAndNoPhoneOnlyAfterTheWait) {
    sim::VirtualDriver driver;
    HeldPort port(driver);
    port.held = {sim::kPhoneInterfacePath};
    test::FakeClock clock;
    test::CaptureLog log;
    NoListener listener;
    PhoneSession session(port, clock, log, listener);
    EXPECT_EQ(ConnectOutcome::InUse, session.connect(30000));
    EXPECT_EQ(0u, clock.sleptMs());

    driver.unplug();
    EXPECT_EQ(ConnectOutcome::NoPhone, session.connect(30000));
    EXPECT_GE(clock.sleptMs(), 30000u);

    driver.plug();
    port.held.clear();
    EXPECT_EQ(ConnectOutcome::Connected, session.connect(30000));
    session.disconnect();
}

} // namespace
} // namespace telvane
