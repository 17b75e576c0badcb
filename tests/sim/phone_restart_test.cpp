#include <gtest/gtest.h>

#include "link/command_transport.h"
#include "sim/phone_description.h"
#include "sim/phone_factory.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"

namespace telvane::sim {
namespace {

TEST(PhoneRestart, DroppingPhone_AnswersThenComesBackAsANewDevice) {
    std::string error;
    auto profile = parsePhoneDescription("volume a\nentry-size 44\nrestart-drops\n", error);
    ASSERT_TRUE(profile) << error;
    auto driver = makeVirtualDriver(*profile);
    PhoneLink link;
    test::CaptureLog log;
    test::FakeClock clock;
    UsbChannel channel(*driver, link, log);
    CommandTransport transport(channel, clock, log);
    link.setHandle(driver->open(kPhoneInterfacePath));

    std::uint32_t length = 0;
    EXPECT_EQ(0, transport.sendCommand(opcode::kRestart, nullptr, 0, nullptr, 0, length));
    EXPECT_EQ("", log.text());
    EXPECT_TRUE(driver->isPlugged());
    driver->waitRemoval(kPhoneInterfacePath); // returns: the interface went away since it was opened

    // The old handle is dead; the phone answers on a new one.
    const std::uint8_t payload[1] = {0};
    EXPECT_NE(0, driver->open(kPhoneInterfacePath));
    link.setHandle(driver->open(kPhoneInterfacePath));
    EXPECT_EQ(0, transport.sendCommand(opcode::kSuspend, payload, 1, nullptr, 0, length));
}

TEST(PhoneRestart, BuiltInPhones_StayOnTheBus) {
    auto driver = makeVirtualDriver(treePhoneProfile());
    PhoneLink link;
    test::CaptureLog log;
    test::FakeClock clock;
    UsbChannel channel(*driver, link, log);
    CommandTransport transport(channel, clock, log);
    link.setHandle(driver->open(kPhoneInterfacePath));
    std::uint32_t length = 0;
    EXPECT_EQ(0, transport.sendCommand(opcode::kRestart, nullptr, 0, nullptr, 0, length));
    const std::uint8_t payload[1] = {0};
    EXPECT_EQ(0, transport.sendCommand(opcode::kSuspend, payload, 1, nullptr, 0, length));
    EXPECT_EQ("", log.text());
}

} // namespace
} // namespace telvane::sim
