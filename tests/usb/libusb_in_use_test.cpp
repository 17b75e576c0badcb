// The libusb port on an interface another program has claimed.
#include <gtest/gtest.h>

#include "link/discovery.h"
#include "usb/emulated_phone.h"

namespace telvane {
namespace {

using sim::EmulatedUsbPhone;

TEST(LibusbPortInUse, InterfaceClaimedElsewhere_IsInUseAndOtherFailuresAreNot) {
    test::EmulatedPhone phone;
    ASSERT_TRUE(phone.bus.ready());
    PhoneLink link;
    UsbChannel channel(phone.port, link, phone.log);

    phone.bus.setInterfaceBusy(true);
    const OpenResult busy = phone.port.tryOpen(EmulatedUsbPhone::kCommandPath);
    EXPECT_EQ(OpenOutcome::InUse, busy.outcome);
    EXPECT_EQ(0u, busy.handle);
    EXPECT_EQ(InterfaceSearch::InUse, findPhoneInterface(phone.port, link, channel));
    EXPECT_EQ(0u, link.handle());

    phone.bus.setInterfaceBusy(false);
    EXPECT_EQ(InterfaceSearch::Found, findPhoneInterface(phone.port, link, channel));
    phone.port.close(link.handle());

    phone.bus.unplug();
    EXPECT_EQ(OpenOutcome::Failed, phone.port.tryOpen(EmulatedUsbPhone::kCommandPath).outcome);
}

} // namespace
} // namespace telvane
