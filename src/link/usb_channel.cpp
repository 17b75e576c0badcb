#include "link/usb_channel.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "common/byte_order.h"

namespace telvane {

namespace {
constexpr const char* kEventCreateFailed = "USB: Event create failed!\r\n";
constexpr const char* kEventResetFailed = "USB: Event reset failed!\r\n";
constexpr const char* kTimeOut = "USB: IO Time-out!\r\n";
constexpr const char* kCancelUnfinished = "USB: IO Time-out, cancel unfinished!\r\n";
constexpr const char* kFailed = "USB: IO Failed!\r\n";
constexpr const char* kAnswerSizeInvalid = "USB: Answer size invlid!\r\n";
} // namespace

bool UsbChannel::linkUsable() const {
    const std::uint64_t bound = bound_.load();
    return link_.handle() != 0 && (bound == kUnbound || bound == link_.generation());
}

int UsbChannel::issue(DeviceHandle probe, std::uint32_t code, std::span<const std::uint8_t> input,
                      std::span<std::uint8_t> output, std::uint32_t limitMs, std::size_t& received) {
    RequestResult result;
    {
        // The handle is read and used under the lock the watcher takes before closing it, so a
        // request never runs on a closed handle, nor on an interface opened after the operation
        // began. The log is written after the lock is dropped.
        std::lock_guard<std::mutex> lock(link_.requestMutex());
        const DeviceHandle handle = probe != 0 ? probe : (linkUsable() ? link_.handle() : 0);
        if (handle == 0) {
            result.outcome = RequestOutcome::Failed; // no usable device: fail at once, don't wait out the limit
        } else {
            result = port_.request(handle, code, input, output, limitMs);
        }
    }
    switch (result.outcome) {
    case RequestOutcome::Completed:
        received = std::min(result.outputLength, output.size());
        return 0;
    case RequestOutcome::EventCreateFailed:
        log_.appendLog(kEventCreateFailed);
        return -1;
    case RequestOutcome::EventResetFailed:
        log_.appendLog(kEventResetFailed);
        return -1;
    case RequestOutcome::TimedOut:
        log_.appendLog(kTimeOut);
        return -1;
    case RequestOutcome::CancelUnfinished:
        log_.appendLog(kCancelUnfinished);
        return -1;
    case RequestOutcome::Failed:
        break;
    }
    log_.appendLog(kFailed);
    return -1;
}

int UsbChannel::controlWrite(std::span<const std::uint8_t> transfer) {
    std::size_t received = 0;
    return issue(0, kControlCode, transfer, std::span<std::uint8_t>(output_.data(), kWriteOutputOffered),
                 kWriteLimitMs, received);
}

int UsbChannel::controlRead(std::uint8_t* buffer, std::size_t capacity, std::size_t& length) {
    std::size_t received = 0;
    std::span<const std::uint8_t> input(buffer, std::min(capacity, kReadInputLength));
    if (issue(0, kControlCode, input, std::span<std::uint8_t>(output_), kReadLimitMs, received) != 0) return -1;
    if (received < kDriverHeaderSize) {
        log_.appendLog(kAnswerSizeInvalid);
        return -1;
    }
    std::size_t copied = std::min(received - kDriverHeaderSize, capacity);
    std::memcpy(buffer, output_.data() + kDriverHeaderSize, copied);
    length = copied;
    return 0;
}

int UsbChannel::readInterfaceString(DeviceHandle probe, std::uint16_t index,
                                    std::array<char, kInterfaceStringBufferSize>& buffer) {
    if (probe == 0) {
        log_.appendLog(kFailed);
        return -1;
    }
    std::uint8_t indexBytes[2];
    writeLe16(indexBytes, index);
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
    std::size_t received = 0;
    if (issue(probe, kInterfaceStringCode, indexBytes, std::span<std::uint8_t>(bytes, buffer.size()),
              kInterfaceStringLimitMs, received) != 0)
        return -1;
    if (received < kDriverHeaderSize) {
        log_.appendLog(kAnswerSizeInvalid);
        return -1;
    }
    // A 32-bit count, then UTF-16LE units; keep each unit's low byte, in place from the start.
    std::size_t count = readLe32(bytes);
    count = std::min({count, (received - kDriverHeaderSize) / 2, kInterfaceStringMaxUnits});
    for (std::size_t i = 0; i < count; ++i) bytes[i] = bytes[kDriverHeaderSize + 2 * i];
    bytes[count] = 0;
    return 0;
}

} // namespace telvane
