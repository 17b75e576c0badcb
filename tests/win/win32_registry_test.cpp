#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "link/removal_key.h"
#include "platform/win32/win32_device_port.h"

namespace telvane {
namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kModemValue = "\\Device\\USBSER000";

// Sets the modem value in this prefix's registry for one test and removes it afterwards.
// HARDWARE is volatile, so the key is made volatile where it is missing.
class ModemValue {
public:
    explicit ModemValue(const std::string& text) {
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        ok_ = RegSetValueExA(key_, kModemValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    }
    // Stores raw bytes, without a terminator of their own.
    ModemValue(const void* bytes, DWORD size) : ModemValue(std::string()) {
        if (ok_)
            ok_ = RegSetValueExA(key_, kModemValue, 0, REG_SZ, static_cast<const BYTE*>(bytes), size) == ERROR_SUCCESS;
    }
    ~ModemValue() {
        if (key_ == nullptr) return;
        RegDeleteValueA(key_, kModemValue);
        RegCloseKey(key_);
    }
    bool ok() const { return ok_; }

private:
    HKEY key_ = nullptr;
    bool ok_ = false;
};

TEST(Win32RegistryTest, ModemValue_IsReadBackRawForTheLinkToJudge) {
    Win32DevicePort port;
    {
        ModemValue value("COM7");
        ASSERT_TRUE(value.ok());
        EXPECT_EQ("COM7", port.modemPort());
    }
    {
        ModemValue value("USB1");
        ASSERT_TRUE(value.ok());
        EXPECT_EQ("USB1", port.modemPort());
    }
    EXPECT_EQ("", port.modemPort());
}

TEST(Win32RegistryTest, ModemValueFillingOrOverflowingTheArea_StaysWithinIt) {
    Win32DevicePort port;
    {
        // 255 characters and the terminator fill the area exactly.
        ModemValue value(std::string(255, 'C'));
        ASSERT_TRUE(value.ok());
        EXPECT_EQ(std::string(255, 'C'), port.modemPort());
    }
    {
        // 256 bytes without a terminator: whether the system hands them over varies; what comes
        // back never runs past the area.
        const std::string full(256, 'C');
        ModemValue value(full.data(), static_cast<DWORD>(full.size()));
        ASSERT_TRUE(value.ok());
        EXPECT_EQ(std::string::npos, port.modemPort().find_first_not_of('C'));
        EXPECT_LE(port.modemPort().size(), 255u);
    }
    {
        // Longer than the area: unreadable, so no port.
        const std::string tooLong(400, 'C');
        ModemValue value(tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));
        ASSERT_TRUE(value.ok());
        EXPECT_EQ("", port.modemPort());
    }
}

TEST(Win32RegistryTest, RemovalWatchOnAMissingKey_ReturnsAtOnce) {
    Win32DevicePort port;
    const auto start = std::chrono::steady_clock::now();
    port.waitRemoval("\\\\?\\usb#vid_fffe&pid_0000#telvane-absent#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Win32RegistryTest, RemovalWatch_ReturnsWhenSomethingUnderTheKeyChanges) {
    const std::string path = "\\\\?\\usb#vid_fffe&pid_0000#telvane-watch#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    const std::string key = removalKeyPath(path);
    HKEY control = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &control, nullptr));

    Win32DevicePort port;
    std::atomic<bool> returned{false};
    std::thread watcher([&] {
        port.waitRemoval(path);
        returned = true;
    });
    // The watch may start after a change, so keep changing until it has seen one.
    DWORD tick = 0;
    for (int i = 0; i < 500 && !returned; ++i) {
        ++tick;
        RegSetValueExA(control, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&tick), sizeof tick);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(returned);
    if (returned) {
        watcher.join();
    } else {
        watcher.detach(); // stuck for good; the process ends it
    }

    RegCloseKey(control);
    // Remove the interface's key (…\##?#usb#…), the Control key and the "#" key under it.
    const std::string interfaceKey = key.substr(0, key.size() - std::string("\\#\\Control").size());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, interfaceKey.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, interfaceKey.c_str());
}

} // namespace
} // namespace telvane
