#include <windows.h>

#include "link/removal_key.h"
#include "platform/win32/win32_device_port.h"

namespace telvane {

void Win32DevicePort::waitRemoval(const std::string& path) {
    HKEY key = nullptr;
    // A key that cannot be opened reads as the interface being gone already.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, removalKeyPath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    // Synchronous: returns when anything under the key is added, removed or rewritten.
    RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE);
    RegCloseKey(key);
}

} // namespace telvane
