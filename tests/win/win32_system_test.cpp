#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "common/clock.h"
#include "platform/win32/timer_resolution.h"
#include "platform/win32/win32_device_port.h"

namespace telvane {
namespace {

const std::uint8_t kModeSwitch[] = {'a', 't', '+', 'm', 'o', 'd', 'e', '=', '8', '\r', '\n'};

TEST(Win32SystemTest, NoPhonePresent_ListsNothingAndOpensNothing) {
    Win32DevicePort port;
    EXPECT_TRUE(port.listInterfaces().empty());
    EXPECT_EQ(0u, port.open("\\\\?\\usb#vid_fffe&pid_0000#none#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}"));
    port.close(0); // no handle: ignored
}

TEST(Win32SystemTest, ModemPortThatDoesNotExist_IsNotWritten) {
    Win32DevicePort port;
    EXPECT_FALSE(port.writeModem("COM250", kModeSwitch));
    EXPECT_FALSE(port.writeModem("", kModeSwitch));
}

TEST(Win32SystemTest, PortNameThatIsAPath_IsRefusedAndTheFileLeftAlone) {
    char folder[MAX_PATH] = {};
    char name[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, folder));
    ASSERT_NE(0u, GetTempFileNameA(folder, "tvn", 0, name)); // an existing, empty file
    const std::string file = name;

    Win32DevicePort port;
    // "\\.\" followed by a full path reaches the file itself; a port name never may.
    EXPECT_FALSE(port.writeModem(file, kModeSwitch));
    EXPECT_FALSE(port.writeModem("COM1\\..\\" + file.substr(3), kModeSwitch));
    EXPECT_FALSE(port.writeModem("C:", kModeSwitch));

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(0u, data.nFileSizeLow);
    DeleteFileA(file.c_str());
}

TEST(Win32SystemTest, OneMillisecondSleepsOfThePortableClock_AreShortWhileTheResolutionIsHeld) {
    // The transaction polls every millisecond; at the default tick each poll would cost ~16 ms.
    TimerResolution resolution;
    EXPECT_TRUE(resolution.active());
    SteadyClock clock;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) clock.sleepMs(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250)); // 20 default ticks: over 300
}

} // namespace
} // namespace telvane
