#include "platform/win32/win32_device_port.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/win32_handle.h"

namespace telvane {

using win32::toDeviceHandle;
using win32::toHandle;

struct Win32DevicePort::RequestState {
    OVERLAPPED overlapped{};
};

Win32DevicePort::Win32DevicePort() : state_(std::make_unique<RequestState>()) {}

Win32DevicePort::~Win32DevicePort() = default;

DeviceHandle Win32DevicePort::open(const std::string& path) {
    // Overlapped, so the time limits bound the whole request and CancelIo can stop it.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return toDeviceHandle(handle);
}

void Win32DevicePort::close(DeviceHandle handle) {
    if (handle != 0) CloseHandle(toHandle(handle));
}

RequestResult Win32DevicePort::request(DeviceHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                                       std::span<std::uint8_t> output, std::uint32_t limitMs) {
    HANDLE handle = toHandle(device);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return {RequestOutcome::EventCreateFailed, 0};
    if (!ResetEvent(event)) {
        CloseHandle(event);
        return {RequestOutcome::EventResetFailed, 0};
    }

    OVERLAPPED& overlapped = state_->overlapped;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    // Completion is judged by the event and GetOverlappedResult alone; the immediate result only
    // tells whether a request was left in flight, which a cancellation must then wait out.
    BOOL issued = DeviceIoControl(handle, code, const_cast<std::uint8_t*>(input.data()),
                                  static_cast<DWORD>(input.size()), output.data(), static_cast<DWORD>(output.size()),
                                  nullptr, &overlapped);
    const bool inFlight = issued || GetLastError() == ERROR_IO_PENDING;

    if (WaitForSingleObject(event, limitMs) != WAIT_OBJECT_0) {
        CancelIo(handle);
        if (inFlight) {
            // CancelIo only asks; the cancelled request still writes the shared OVERLAPPED and
            // the output when it ends, so it must end before either is reused.
            DWORD ignored = 0;
            GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
        }
        CloseHandle(event);
        return {RequestOutcome::TimedOut, 0};
    }

    DWORD bytes = 0;
    if (!GetOverlappedResult(handle, &overlapped, &bytes, FALSE)) {
        CancelIo(handle);
        CloseHandle(event);
        return {RequestOutcome::Failed, 0};
    }
    CloseHandle(event);
    return {RequestOutcome::Completed, std::min<std::size_t>(bytes, output.size())};
}

} // namespace telvane
