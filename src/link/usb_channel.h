#pragma once
#include <array>
#include <atomic>
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

    // No binding: requests go to whatever interface the link holds (tools and tests).
    static constexpr std::uint64_t kUnbound = ~std::uint64_t{0};

    UsbChannel(DevicePort& port, PhoneLink& link, LogSink& log) : port_(port), link_(link), log_(log) {}

    // Sends the setup packet and data stage held in transfer. 0 when the driver completed it, else -1.
    int controlWrite(std::span<const std::uint8_t> transfer);
    // buffer (zeroed, capacity >= 9) holds the setup packet; on success it is overwritten from its
    // start with the data stage (at most capacity bytes) and length is set. 0 or -1.
    int controlRead(std::uint8_t* buffer, std::size_t capacity, std::size_t& length);
    // Reads interface string `index` of an interface being probed (a handle of the caller's own,
    // not the link's) as 8-bit, zero-terminated text into buffer. 0 or -1.
    int readInterfaceString(DeviceHandle probe, std::uint16_t index,
                            std::array<char, kInterfaceStringBufferSize>& buffer);

    // Ties the transfers that follow to connection `generation` of the link: once the link has
    // moved on (taken down, or another interface opened) they fail at once, as on a link that is
    // down, and nothing reaches the device. kUnbound lifts the tie.
    void bindConnection(std::uint64_t generation) { bound_.store(generation); }
    std::uint64_t boundConnection() const { return bound_.load(); }
    // False once a transfer would fail at once: no interface open, or not the bound connection's.
    bool linkUsable() const;

    PhoneLink& link() { return link_; }

private:
    // One driver request on the link's current handle (or on `probe` when it is not 0), logging
    // its own failure. 0 or -1.
    int issue(DeviceHandle probe, std::uint32_t code, std::span<const std::uint8_t> input,
              std::span<std::uint8_t> output, std::uint32_t limitMs, std::size_t& received);

    DevicePort& port_;
    PhoneLink& link_;
    LogSink& log_;
    std::array<std::uint8_t, kOutputAreaSize> output_{};
    std::atomic<std::uint64_t> bound_{kUnbound};
};

// Binds the channel to the link's current connection for as long as it lives: one user
// operation. Inside another binding it keeps the outer one, so a nested step never re-captures a
// connection that arrived meanwhile.
class ConnectionBinding {
public:
    explicit ConnectionBinding(UsbChannel& channel) : channel_(channel), previous_(channel.boundConnection()) {
        if (previous_ == UsbChannel::kUnbound) channel.bindConnection(channel.link().generation());
    }
    ~ConnectionBinding() { channel_.bindConnection(previous_); }
    ConnectionBinding(const ConnectionBinding&) = delete;
    ConnectionBinding& operator=(const ConnectionBinding&) = delete;

private:
    UsbChannel& channel_;
    std::uint64_t previous_;
};

} // namespace telvane
