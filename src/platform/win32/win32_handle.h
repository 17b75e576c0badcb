#pragma once
#include <windows.h>

#include <cstdint>

#include "common/phone_link.h"

namespace telvane::win32 {

// A device handle is the HANDLE's value; an invalid HANDLE is 0.
inline DeviceHandle toDeviceHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return 0;
    return static_cast<DeviceHandle>(reinterpret_cast<std::uintptr_t>(handle));
}

inline HANDLE toHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}

} // namespace telvane::win32
