// The USB port as Windows builds have it, on a Wine with no USB devices: libusb-1.0.dll beside
// this suite is loaded, lists nothing, and the watcher keeps looking without using up handles
// or threads. Wine's winusb.dll ends the process from any of its functions, so every test here
// also shows that nothing calls them.
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "common/clock.h"
#include "platform/libusb/libusb_runtime.h"
#include "platform/libusb/usb_device_choice.h"
#include "session/open_device.h"
#include "session/phone_session.h"
#include "support/capture_log.h"
#include "support/recording_listener.h"

namespace telvane {
namespace {

DWORD handleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

int threadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// What a few more looks may cost at most: Wine allocates some handles lazily.
constexpr DWORD kHandleSlack = 8;

TEST(UsbPortWineTest, TheDllBesideTheProgramIsLoadedAndFindsNoPhone) {
    std::string why;
    ASSERT_TRUE(libusbAvailable(why)) << why;
    test::CaptureLog log;
    auto port = makeUsbDevicePort("usb", {}, log);
    ASSERT_TRUE(port);
    ASSERT_TRUE(port->started()) << port->unavailableReason();
    EXPECT_TRUE(port->listInterfaces().empty());
    EXPECT_EQ("", port->modemPort());
    EXPECT_FALSE(port->writeModem("COM1", std::vector<std::uint8_t>{'A', 'T'}));

    // A phone that is not there: told once, at once, and its removal not waited for.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenOutcome::Failed, port->tryOpen("usb:1-4:8").outcome);
    EXPECT_EQ(OpenOutcome::Failed, port->tryOpen("usb:1-4:8").outcome);
    port->waitRemoval("usb:1-4:8");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ("USB: cannot open usb:1-4:8: device gone\r\n", log.text());
}

TEST(UsbPortWineTest, LookingAgainAndAgainCostsNoHandlesOrThreads) {
    test::CaptureLog log;
    auto port = makeUsbDevicePort("usb", {}, log);
    ASSERT_TRUE(port && port->started());
    for (int i = 0; i < 5; ++i) port->listInterfaces();
    const DWORD handles = handleCount();
    const int threads = threadCount();
    for (int i = 0; i < 100; ++i) {
        port->listInterfaces();
        port->tryOpen("usb:1-4:8");
        port->waitRemoval("usb:1-4:8");
    }
    EXPECT_LE(handleCount(), handles + kHandleSlack);
    EXPECT_EQ(threads, threadCount());
}

TEST(UsbPortWineTest, TheWatcherOnAutoKeepsLookingWithoutLeaking) {
    test::CaptureLog log;
    std::string error;
    DeviceChoice automatic;
    automatic.kind = DeviceChoice::Kind::Auto;
    automatic.text = "auto";
    auto port = openDevicePort(automatic, {}, log, error);
    ASSERT_TRUE(port) << error;
    SteadyClock clock;
    test::RecordingListener listener;
    PhoneSession session(*port, clock, log, listener);
    session.startWatcher();
    // Two searches a second apart: the second one's handles are the measure for the rest.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const DWORD handles = handleCount();
    const int threads = threadCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    EXPECT_TRUE(session.watcherRunning());
    EXPECT_LE(handleCount(), handles + kHandleSlack);
    EXPECT_EQ(threads, threadCount());
    session.stopWatcher([] {});
    EXPECT_EQ("Device: no phone on the maker's driver; looking on USB (WinUSB)\r\n", log.text());
}

} // namespace
} // namespace telvane
