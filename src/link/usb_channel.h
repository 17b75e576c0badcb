#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/device_port.h"

namespace telvane {

// The only code that talks to the driver: vendor control transfers and the interface string,
// each one driver request on the handle held in PhoneLink, with a fixed time limit.
class UsbChannel {
public:
    static constexpr std::uint32_t kControlCode = 0x80002014;
    static constexpr std::uint32_t kInterfaceStringCode = 0x80002010;
    static constexpr std::uint32_t kWriteLimitMs = 1000;
    static constexpr std::uint32_t kReadLimitMs = 40000;
    static constexpr std::uint32_t kInterfaceStringLimitMs = 5000;
    static constexpr std::size_t kOutputAreaSize = 4101;
    static constexpr std::size_t kWriteOutputOffered = 5;
    static constexpr std::size_t kReadInputLength = 9; // setup packet and one zero byte
    static constexpr std::size_t kDriverHeaderSize = 4;
    static constexpr std::size_t kInterfaceStringBufferSize = 261;
    static constexpr std::size_t kInterfaceStringMaxUnits = 128;

    UsbChannel(DevicePort& port, PhoneLink& link, LogSink& log) : port_(port), link_(link), log_(log) {}

    // Sends the setup packet and data stage held in transfer. 0 when the driver completed it, else -1.
    int controlWrite(std::span<const std::uint8_t> transfer);
    // buffer (zeroed, capacity >= 9) holds the setup packet; on success it is overwritten from its
    // start with the data stage (at most capacity bytes) and length is set. 0 or -1.
    int controlRead(std::uint8_t* buffer, std::size_t capacity, std::size_t& length);
    // Reads interface string `index` as 8-bit, zero-terminated text into buffer. 0 or -1.
    int readInterfaceString(std::uint16_t index, std::array<char, kInterfaceStringBufferSize>& buffer);
    // False once the link has been taken down: every request would fail at once.
    bool deviceOpen() const { return link_.handle() != 0; }

private:
    // One driver request on the link's current handle, logging its own failure. 0 or -1.
    int issue(std::uint32_t code, std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
              std::uint32_t limitMs, std::size_t& received);

    DevicePort& port_;
    PhoneLink& link_;
    LogSink& log_;
    std::array<std::uint8_t, kOutputAreaSize> output_{};
};

} // namespace telvane
