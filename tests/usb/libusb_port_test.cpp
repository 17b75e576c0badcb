// The libusb port against the virtual phone emulated at the USB level (umockdev).
#include "platform/libusb/libusb_device_port.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/byte_order.h"
#include "link/discovery.h"
#include "sim/fault_plan.h"
#include "usb/emulated_phone.h"

namespace telvane {
namespace {

using sim::EmulatedUsbPhone;
using test::EmulatedPhone;
using Bytes = std::vector<std::uint8_t>;

const Bytes kPollSetup = {0xC1, 0x00, 0, 0, 8, 0, 8, 0};
// A command frame with no payload: setup packet, header (sequence 1, opcode 0x36), two zero bytes.
const Bytes kCommandFrame = {0x41, 0x02, 0, 0, 8, 0, 8, 0, 0, 1, 0, 0x36, 0, 0, 0, 0, 0, 0};

long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Runs f on a thread of its own without the capabilities that let root ignore file modes, so
// a device node's mode counts as it does for a logged-in user.
template <class F>
void withoutFileAccessOverride(F f) {
    std::thread([&f] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        if (syscall(SYS_capget, &header, caps) == 0) {
            caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            syscall(SYS_capset, &header, caps); // this thread only
        }
        f();
    }).join();
}

TEST(LibusbPort, Discovery_PicksTheCommandInterfaceNeverTheForeignOne) {
    EmulatedPhone phone;
    ASSERT_TRUE(phone.bus.ready());
    ASSERT_TRUE(phone.port.started());
    EXPECT_EQ((std::vector<std::string>{EmulatedUsbPhone::kForeignPath, EmulatedUsbPhone::kCommandPath}),
              phone.port.listInterfaces());

    PhoneLink link;
    UsbChannel channel(phone.port, link, phone.log);
    findPhoneInterface(phone.port, link, channel);
    EXPECT_NE(0u, link.handle());
    EXPECT_EQ(EmulatedUsbPhone::kCommandPath, link.devicePath());
    // The foreign interface was opened, found to be another one, and let go.
    EXPECT_EQ((std::vector<std::string>{"claim 0", "release 0", "claim 8"}), phone.bus.interfaceRequests());
    EXPECT_EQ("", phone.log.text());
    phone.port.close(link.handle());

    // Another maker's device only when asked for; only the interfaces asked for.
    phone.bus.addOtherMakersDevice();
    LibusbDevicePort plain({}, phone.log);
    LibusbDevicePort asked({{{EmulatedUsbPhone::kOtherVendorId, EmulatedUsbPhone::kOtherProductId}}, ""}, phone.log);
    LibusbDevicePort only({{}, "usb:1-4:8"}, phone.log);
    EXPECT_EQ(2u, plain.listInterfaces().size());
    const auto all = asked.listInterfaces();
    EXPECT_EQ(3u, all.size());
    EXPECT_EQ(1, std::count(all.begin(), all.end(), EmulatedUsbPhone::kOtherMakerPath));
    EXPECT_EQ(std::vector<std::string>{EmulatedUsbPhone::kCommandPath}, only.listInterfaces());
    EXPECT_EQ(0u, only.open(EmulatedUsbPhone::kForeignPath));
    EXPECT_EQ("", phone.log.text()); // not one of its interfaces: nothing to report
}

TEST(LibusbPort, OpenFailures_SayWhyInOneLine_OncePerCause) {
    EmulatedPhone phone;
    const std::string path = EmulatedUsbPhone::kCommandPath;

    ASSERT_EQ(0, ::chmod(phone.bus.nodeFile().c_str(), 0));
    DeviceHandle first = 1;
    DeviceHandle again = 1;
    withoutFileAccessOverride([&] {
        first = phone.port.open(path);
        again = phone.port.open(path);
    });
    EXPECT_EQ(0u, first);
    EXPECT_EQ(0u, again);
    EXPECT_EQ("USB: cannot open usb:1-4:8: no permission (install packaging/linux/70-telvane-p2k.rules)\r\n",
              phone.log.text());
    ASSERT_EQ(0, ::chmod(phone.bus.nodeFile().c_str(), 0644));

    phone.log.clear();
    phone.bus.setInterfaceBusy(true);
    EXPECT_EQ(0u, phone.port.open(path));
    EXPECT_EQ("USB: cannot open usb:1-4:8: interface busy (another program holds it)\r\n", phone.log.text());
    phone.bus.setInterfaceBusy(false);
    const DeviceHandle handle = phone.port.open(path);
    EXPECT_NE(0u, handle);
    phone.port.close(handle);

    phone.log.clear();
    const auto listed = phone.port.listInterfaces();
    phone.bus.unplug();
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(0u, phone.port.open(listed.back()));
    EXPECT_EQ("USB: cannot open usb:1-4:8: device gone\r\n", phone.log.text());
    EXPECT_EQ((std::vector<std::string>{"claim 8", "release 8"}), phone.bus.interfaceRequests());
}

TEST(LibusbPort, KernelDriver_DetachedOnlyWhenBound_AndGivenBackOnClose) {
    EmulatedPhone phone;
    phone.port.close(phone.port.open(EmulatedUsbPhone::kCommandPath));
    EXPECT_EQ((std::vector<std::string>{"claim 8", "release 8"}), phone.bus.interfaceRequests());

    phone.bus.setKernelDriver("usbserial_generic");
    phone.port.close(phone.port.open(EmulatedUsbPhone::kCommandPath));
    EXPECT_EQ((std::vector<std::string>{"claim 8", "release 8", "detach 8", "claim 8", "release 8", "attach 8"}),
              phone.bus.interfaceRequests());
}

TEST(LibusbPort, MalformedRequests_FailWithoutSendingAnything) {
    EmulatedPhone phone;
    const DeviceHandle handle = phone.port.open(EmulatedUsbPhone::kCommandPath);
    ASSERT_NE(0u, handle);
    const std::uint32_t sent = phone.bus.submittedTransfers();
    std::array<std::uint8_t, UsbChannel::kOutputAreaSize> out{};
    auto outcome = [&](DeviceHandle h, std::uint32_t code, const Bytes& input, std::size_t room) {
        return phone.port.request(h, code, input, std::span<std::uint8_t>(out.data(), room), 1000).outcome;
    };
    const Bytes shortSetup(kPollSetup.begin(), kPollSetup.end() - 1);
    const Bytes shortDataStage(kCommandFrame.begin(), kCommandFrame.begin() + 12);

    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, 0x80002018, kPollSetup, 12));
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kControlCode, shortSetup, 12));
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kControlCode, shortDataStage, 5));
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kControlCode, kPollSetup, 11)); // wLength 8 > 11 - 4
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kInterfaceStringCode, {2}, 261));
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kInterfaceStringCode, {2, 0}, 3));
    EXPECT_EQ(RequestOutcome::Failed, outcome(0, UsbChannel::kControlCode, kPollSetup, 12));
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle + 1, UsbChannel::kControlCode, kPollSetup, 12));
    EXPECT_EQ(sent, phone.bus.submittedTransfers());

    // Just enough room: the header (the data stage's length) and the 8 bytes.
    const RequestResult poll = phone.port.request(handle, UsbChannel::kControlCode, kPollSetup,
                                                  std::span<std::uint8_t>(out.data(), 12), 1000);
    EXPECT_EQ(RequestOutcome::Completed, poll.outcome);
    EXPECT_EQ(12u, poll.outputLength);
    EXPECT_EQ(8u, readLe32(out.data()));
    phone.port.close(handle);
    EXPECT_EQ(RequestOutcome::Failed, outcome(handle, UsbChannel::kControlCode, kPollSetup, 12));
}

TEST(LibusbPort, InterfaceString_InTheDriversLayout_CutToTheRoom) {
    EmulatedPhone phone;
    const DeviceHandle handle = phone.port.open(EmulatedUsbPhone::kCommandPath);
    std::array<std::uint8_t, UsbChannel::kInterfaceStringBufferSize> out{};
    const Bytes index = {2, 0};

    RequestResult result = phone.port.request(handle, UsbChannel::kInterfaceStringCode, index, out, 5000);
    ASSERT_EQ(RequestOutcome::Completed, result.outcome);
    const std::string name = sim::kPhoneInterfaceName;
    ASSERT_EQ(4 + 2 * name.size(), result.outputLength);
    EXPECT_EQ(name.size(), readLe32(out.data()));
    for (std::size_t i = 0; i < name.size(); ++i) EXPECT_EQ(name[i], static_cast<char>(readLe16(out.data() + 4 + 2 * i)));

    result = phone.port.request(handle, UsbChannel::kInterfaceStringCode, index, std::span<std::uint8_t>(out.data(), 11), 5000);
    ASSERT_EQ(RequestOutcome::Completed, result.outcome);
    EXPECT_EQ(10u, result.outputLength);
    EXPECT_EQ(3u, readLe32(out.data()));
    phone.port.close(handle);
}

TEST(LibusbPort, UnansweredTransfer_TimesOutAtItsLimit) {
    EmulatedPhone phone;
    phone.driver->addFault(*sim::parseFaultRule("writetimeout"));
    const DeviceHandle handle = phone.port.open(EmulatedUsbPhone::kCommandPath);
    std::array<std::uint8_t, UsbChannel::kWriteOutputOffered> out{};

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RequestOutcome::TimedOut, phone.port.request(handle, UsbChannel::kControlCode, kCommandFrame, out, 300).outcome);
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 1000);

    // libusb reads 0 as "no limit": the port never passes it on.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(RequestOutcome::TimedOut, phone.port.request(handle, UsbChannel::kControlCode, kCommandFrame, out, 0).outcome);
    EXPECT_LT(msSince(start), 1000);
    phone.port.close(handle);
}

TEST(LibusbPort, WaitRemoval_AtOnceWhenAbsentOrReplaced_AndEndedByShutdown) {
    EmulatedPhone phone;
    auto start = std::chrono::steady_clock::now();
    phone.port.waitRemoval("usb:1-7:8");
    EXPECT_LT(msSince(start), 200);

    // Unplugged and plugged again before the wait: the device there now is another one.
    const DeviceHandle handle = phone.port.open(EmulatedUsbPhone::kCommandPath);
    phone.bus.unplug();
    phone.bus.plug();
    ASSERT_TRUE(test::eventually([&] { return phone.port.listInterfaces().size() == 2; }));
    start = std::chrono::steady_clock::now();
    phone.port.waitRemoval(EmulatedUsbPhone::kCommandPath);
    EXPECT_LT(msSince(start), 200);
    phone.port.close(handle);

    // A phone that stays: the wait lasts until shutdown.
    phone.port.close(phone.port.open(EmulatedUsbPhone::kCommandPath));
    std::thread waiter([&] { phone.port.waitRemoval(EmulatedUsbPhone::kCommandPath); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    start = std::chrono::steady_clock::now();
    phone.port.shutdown();
    waiter.join();
    EXPECT_LT(msSince(start), 200);
}

TEST(LibusbPort, ModemModePhone_GetsExactlyTheSwitchCommand_ThenShowsItsCommandInterface) {
    EmulatedPhone phone({}, EmulatedUsbPhone::kModemNode);
    EXPECT_TRUE(phone.port.listInterfaces().empty());
    std::string modem;
    ASSERT_EQ(0, queryModemPort(phone.port, modem));
    EXPECT_EQ(EmulatedUsbPhone::kModemNode, modem);

    // Only a phone's tty is written to.
    const std::uint8_t text[] = {'x'};
    EXPECT_FALSE(phone.port.writeModem("/dev/null", text));

    EXPECT_EQ(0, switchModemToP2k(phone.port, modem));
    ASSERT_TRUE(test::eventually([&] { return !phone.driver->modemWrites().empty(); }));
    EXPECT_EQ(std::vector<std::string>{"at+mode=8\r\n"}, phone.driver->modemWrites()); // raw: no "\r" added
    ASSERT_TRUE(test::eventually([&] { return phone.port.listInterfaces().size() == 2; }));
    EXPECT_EQ("", phone.port.modemPort());
    EXPECT_EQ("", phone.log.text());
}

} // namespace
} // namespace telvane
