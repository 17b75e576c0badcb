#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/clock.h"
#include "platform/libusb/libusb_device_port.h"
#include "sim/phone_factory.h"
#include "sim/usb/emulated_usb_phone.h"
#include "support/capture_log.h"

namespace telvane::test {

// The driver, switched to start as a modem on that port when one is named.
inline sim::VirtualDriver& startingAsModem(sim::VirtualDriver& driver, const std::string& modemPort) {
    if (!modemPort.empty()) driver.setModemPort(modemPort);
    return driver;
}

// A virtual phone on the emulated bus and the libusb port that sees it, made in that order:
// libusb has to start after the testbed exists, and end before it goes.
struct EmulatedPhone {
    explicit EmulatedPhone(LibusbDevicePort::Settings settings = {}, const std::string& modemPort = "",
                           const char* profile = "tree")
        : driver(sim::makeVirtualDriver(*sim::builtinPhoneProfile(profile))),
          bus(startingAsModem(*driver, modemPort)),
          port(std::move(settings), log) {}

    std::unique_ptr<sim::VirtualDriver> driver;
    sim::EmulatedUsbPhone bus;
    CaptureLog log;
    LibusbDevicePort port;
};

// Real time, with the watcher's pauses cut short: its seconds last 20 ms.
class ShortPauseClock final : public Clock {
public:
    std::uint32_t tickMs() override { return steady_.tickMs(); }
    void sleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 50 + 1)); }

private:
    SteadyClock steady_;
};

// Polls until done() holds, for at most timeoutMs of real time.
inline bool eventually(const std::function<bool()>& done, int timeoutMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace telvane::test
