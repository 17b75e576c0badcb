#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/win32/win32_device_port.h"
#include "platform/win32/win32_modem.h"

namespace telvane {

namespace {
constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kModemValue = "\\Device\\USBSER000";
constexpr std::size_t kPortNameArea = 256;

// The port name ends up in a "\\.\" device path opened for writing: only a plain device name
// (letters and digits, as COM7) may get there, never a path or a drive.
bool isPlainDeviceName(const std::string& name) {
    if (name.empty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}
} // namespace

std::string findModemPort() {
    std::array<char, kPortNameArea> buffer{};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (RegQueryValueExA(key, kModemValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
            ERROR_SUCCESS) {
            buffer.fill(0); // a value too long for the area may have left part of itself behind
        }
        RegCloseKey(key);
    }
    // The stored text need not be terminated; the last byte of the area always ends it.
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size() - 1));
}

bool writeModemPort(const std::string& port, std::span<const std::uint8_t> bytes) {
    if (!isPlainDeviceName(port)) return false;
    // The device namespace reaches COM10 and above too; a device is opened, never created.
    const std::string path = "\\\\.\\" + port;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    return ok && written == bytes.size();
}

std::string Win32DevicePort::modemPort() { return findModemPort(); }

bool Win32DevicePort::writeModem(const std::string& port, std::span<const std::uint8_t> bytes) {
    return writeModemPort(port, bytes);
}

} // namespace telvane
