#include "platform/win32/win32_device_port.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/win32/win32_handle.h"

namespace telvane {

using win32::toDeviceHandle;
using win32::toHandle;

namespace {
// How long a cancelled request may take to end before it is given up.
constexpr DWORD kCancelWaitMs = 3000;

// What the driver writes while a request is in flight: its completion record and its answer.
// Owned by the request, so a request the driver never lets go of can keep it.
struct PendingIo {
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> answer;
};
} // namespace

Win32DevicePort::Win32DevicePort() = default;

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

    auto io = std::make_unique<PendingIo>();
    io->answer.resize(output.size());
    io->overlapped.hEvent = event;
    const BOOL issued = DeviceIoControl(handle, code, const_cast<std::uint8_t*>(input.data()),
                                        static_cast<DWORD>(input.size()), io->answer.data(),
                                        static_cast<DWORD>(io->answer.size()), nullptr, &io->overlapped);
    if (!issued && GetLastError() != ERROR_IO_PENDING) {
        // Refused at once (the device is gone, or the handle is no driver's): nothing is in
        // flight, so waiting out the limit would only freeze the caller.
        CloseHandle(event);
        return {RequestOutcome::Failed, 0};
    }

    if (WaitForSingleObject(event, limitMs) != WAIT_OBJECT_0) {
        CancelIo(handle);
        // CancelIo only asks. Until the request has ended the driver may still write its record
        // and answer; should it not end in time they are left to it, never reused.
        if (WaitForSingleObject(event, kCancelWaitMs) != WAIT_OBJECT_0) {
            io.release();
            CloseHandle(event); // the kernel keeps its own reference while the request lives
            return {RequestOutcome::CancelUnfinished, 0};
        }
        CloseHandle(event);
        return {RequestOutcome::TimedOut, 0};
    }

    DWORD bytes = 0;
    if (!GetOverlappedResult(handle, &io->overlapped, &bytes, FALSE)) {
        CancelIo(handle);
        CloseHandle(event);
        return {RequestOutcome::Failed, 0};
    }
    CloseHandle(event);
    const std::size_t n = std::min<std::size_t>(bytes, output.size());
    if (n > 0) std::memcpy(output.data(), io->answer.data(), n);
    return {RequestOutcome::Completed, n};
}

} // namespace telvane
