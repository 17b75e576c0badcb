#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/win32/win32_device_port.h"

namespace telvane {

namespace {
// The phone maker's interface class {4E1E1E15-52D7-11D4-852D-00105AA6F80B}.
const GUID kPhoneInterfaceClass = {0x4E1E1E15, 0x52D7, 0x11D4, {0x85, 0x2D, 0x00, 0x10, 0x5A, 0xA6, 0xF8, 0x0B}};

// A detail record larger than this is not a device path we could open.
constexpr DWORD kMaxDetailSize = 64 * 1024;

#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif

struct DeviceSetCloser {
    void operator()(void* set) const { SetupDiDestroyDeviceInfoList(static_cast<HDEVINFO>(set)); }
};
struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
} // namespace

std::vector<std::string> Win32DevicePort::listInterfaces() {
    std::vector<std::string> paths;
    HDEVINFO raw = SetupDiGetClassDevsA(&kPhoneInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (raw == INVALID_HANDLE_VALUE) return paths;
    std::unique_ptr<void, DeviceSetCloser> set(raw);

    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA item{};
        item.cbSize = sizeof(item);
        if (!SetupDiEnumDeviceInterfaces(raw, nullptr, &kPhoneInterfaceClass, index, &item)) break;

        DWORD required = 0;
        if (!SetupDiGetDeviceInterfaceDetailA(raw, &item, nullptr, 0, &required, nullptr) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) || required > kMaxDetailSize) continue;

        std::unique_ptr<void, FreeDeleter> block(std::calloc(1, required));
        if (!block) break;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.get());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(raw, &item, detail, required, nullptr, nullptr)) continue;

        const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        paths.emplace_back(detail->DevicePath, strnlen(detail->DevicePath, room));
    }
    return paths;
}

} // namespace telvane
