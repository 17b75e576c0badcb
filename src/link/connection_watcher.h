#pragma once
#include <atomic>
#include <cstdint>

#include "common/clock.h"
#include "common/phone_link.h"
#include "link/device_port.h"
#include "link/usb_channel.h"

namespace telvane {

// Who hears about link changes: the window, which handles them synchronously (the watcher
// waits until the window has finished with a change before it goes on).
class LinkStateListener {
public:
    virtual ~LinkStateListener() = default;
    // 1 when the phone's command interface has just been opened, 0 when it has gone.
    virtual void onLinkState(int state) = 0;
};

// The background thread's work: find the phone, mark the link connected, wait for its
// removal, take the link down, and start again. Logs nothing of its own.
class ConnectionWatcher {
public:
    static constexpr std::uint32_t kSearchPauseMs = 1000;
    static constexpr std::uint32_t kModeSwitchPauseMs = 5000;
    static constexpr std::uint32_t kCoolDownMs = 5000;

    ConnectionWatcher(DevicePort& port, PhoneLink& link, UsbChannel& channel, Clock& clock,
                      LinkStateListener& listener)
        : port_(port), link_(link), channel_(channel), clock_(clock), listener_(listener) {}

    // The thread procedure. In the program it never returns; it returns only after requestStop().
    void run();
    // Asks run() to return at its next step (tests and orderly shutdown only).
    void requestStop() { stop_.store(true); }

private:
    // Sleeps, then tells whether the loop should end.
    bool pause(std::uint32_t ms);
    // Closes the interface and marks the link down; the close waits for a request in flight.
    void takeLinkDown();

    DevicePort& port_;
    PhoneLink& link_;
    UsbChannel& channel_;
    Clock& clock_;
    LinkStateListener& listener_;
    std::atomic<bool> stop_{false};
};

} // namespace telvane
