#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/either_device_port.h"
#include "support/capture_log.h"

namespace telvane {
namespace {

// A port whose interfaces, open outcome and modem are set by the test, and which records what
// reached it. Its own handles start at 1, as every port's do.
class StubPort final : public DevicePort {
public:
    std::vector<std::string> paths;
    OpenOutcome openAs = OpenOutcome::Opened;
    std::string modem;
    std::vector<std::string> opened, removalWaits, modemWrites;
    std::vector<DeviceHandle> requested, closed;

    std::string modemPort() override { return modem; }
    bool writeModem(const std::string& port, std::span<const std::uint8_t>) override {
        modemWrites.push_back(port);
        return true;
    }
    std::vector<std::string> listInterfaces() override { return paths; }
    DeviceHandle open(const std::string& path) override { return tryOpen(path).handle; }
    OpenResult tryOpen(const std::string& path) override {
        opened.push_back(path);
        if (openAs != OpenOutcome::Opened) return {0, openAs};
        return {++next_, OpenOutcome::Opened};
    }
    RequestResult request(DeviceHandle handle, std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>,
                          std::uint32_t) override {
        requested.push_back(handle);
        return {RequestOutcome::Completed, 0};
    }
    void close(DeviceHandle handle) override { closed.push_back(handle); }
    void waitRemoval(const std::string& path) override { removalWaits.push_back(path); }

private:
    DeviceHandle next_ = 0;
};

struct Either {
    test::CaptureLog log;
    StubPort* driver;
    StubPort* usb;
    std::unique_ptr<EitherDevicePort> port;

    explicit Either(std::string usbUnavailable = "") {
        auto d = std::make_unique<StubPort>();
        auto u = std::make_unique<StubPort>();
        driver = d.get();
        usb = u.get();
        port = std::make_unique<EitherDevicePort>(std::move(d), "the driver", std::move(u), "USB",
                                                  std::move(usbUnavailable), log);
    }
    RequestOutcome ask(DeviceHandle handle) { return port->request(handle, 1, {}, {}, 100).outcome; }
};

TEST(EitherDevicePortTest, TheDriverWhereItListsAPhoneUsbOtherwiseAndEachChangeLoggedOnce) {
    Either either;
    either.usb->paths = {"usb:1-4:8"};
    EXPECT_EQ(std::vector<std::string>{"usb:1-4:8"}, either.port->listInterfaces());
    EXPECT_EQ(std::vector<std::string>{"usb:1-4:8"}, either.port->listInterfaces());
    EXPECT_EQ("Device: no phone on the driver; looking on USB\r\n", either.log.text());

    either.driver->paths = {"\\\\?\\usb#vid_22b8"};
    EXPECT_EQ(std::vector<std::string>{"\\\\?\\usb#vid_22b8"}, either.port->listInterfaces());
    either.driver->paths.clear();
    either.usb->paths.clear();
    EXPECT_TRUE(either.port->listInterfaces().empty());
    EXPECT_EQ(3u, either.log.entries().size());
    EXPECT_EQ("Device: a phone on the driver\r\n", either.log.entries()[1]);
}

TEST(EitherDevicePortTest, WhyUsbCannotLookIsSaidWhenTheDriverListsNothing) {
    Either either("libusb-1.0.dll is not beside the program");
    EXPECT_TRUE(either.port->listInterfaces().empty());
    EXPECT_EQ("Device: no phone on the driver; USB unavailable: libusb-1.0.dll is not beside the program\r\n",
              either.log.text());
}

TEST(EitherDevicePortTest, HandlesStayWithThePortThatListedThePathThoughBothNumberTheirsFromOne) {
    Either either;
    either.driver->paths = {"drv"};
    either.port->listInterfaces();
    const DeviceHandle onDriver = either.port->open("drv");
    either.driver->paths.clear();
    either.usb->paths = {"usb:1-4:8"};
    either.port->listInterfaces();
    const DeviceHandle onUsb = either.port->open("usb:1-4:8");
    ASSERT_NE(0u, onDriver);
    ASSERT_NE(0u, onUsb);
    ASSERT_NE(onDriver, onUsb);

    EXPECT_EQ(RequestOutcome::Completed, either.ask(onUsb));
    EXPECT_EQ(RequestOutcome::Completed, either.ask(onDriver));
    EXPECT_EQ(std::vector<DeviceHandle>{1}, either.usb->requested);
    EXPECT_EQ(std::vector<DeviceHandle>{1}, either.driver->requested);

    either.port->close(onUsb);
    either.port->close(onUsb); // no longer open: ignored
    EXPECT_EQ(std::vector<DeviceHandle>{1}, either.usb->closed);
    EXPECT_TRUE(either.driver->closed.empty());
    EXPECT_EQ(RequestOutcome::Failed, either.ask(onUsb));
    EXPECT_EQ(RequestOutcome::Failed, either.ask(0));

    // The phone has gone from the list; its removal is still watched where it was opened.
    either.usb->paths.clear();
    either.port->listInterfaces();
    either.port->waitRemoval("usb:1-4:8");
    either.port->waitRemoval("drv");
    EXPECT_EQ(std::vector<std::string>{"usb:1-4:8"}, either.usb->removalWaits);
    EXPECT_EQ(std::vector<std::string>{"drv"}, either.driver->removalWaits);
}

TEST(EitherDevicePortTest, AnInterfaceHeldElsewhereIsToldApart) {
    Either either;
    either.usb->paths = {"usb:1-4:8"};
    either.usb->openAs = OpenOutcome::InUse;
    either.port->listInterfaces();
    const OpenResult result = either.port->tryOpen("usb:1-4:8");
    EXPECT_EQ(OpenOutcome::InUse, result.outcome);
    EXPECT_EQ(0u, result.handle);
    EXPECT_TRUE(either.driver->opened.empty());
}

TEST(EitherDevicePortTest, TheModemIsWrittenOnlyThroughThePortThatReportsIt) {
    Either either;
    const std::vector<std::uint8_t> bytes{'A', 'T'};
    EXPECT_EQ("", either.port->modemPort());
    EXPECT_FALSE(either.port->writeModem("", bytes));
    either.usb->modem = "COM7";
    EXPECT_EQ("COM7", either.port->modemPort());
    EXPECT_FALSE(either.port->writeModem("COM1", bytes));
    EXPECT_TRUE(either.port->writeModem("COM7", bytes));
    EXPECT_EQ(std::vector<std::string>{"COM7"}, either.usb->modemWrites);
    EXPECT_TRUE(either.driver->modemWrites.empty());
}

} // namespace
} // namespace telvane
