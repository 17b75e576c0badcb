#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/phone_link.h"

namespace telvane {

// How one driver request ended.
enum class RequestOutcome {
    Completed,         // the driver finished; outputLength bytes were written to the output
    TimedOut,          // not finished within the limit; the request was cancelled
    Failed,            // the driver or the device refused it (or the device is gone)
    EventCreateFailed, // the completion event could not be created (Win32 only)
    EventResetFailed,  // the completion event could not be reset (Win32 only)
    CancelUnfinished,  // not finished within the limit, and still not ended a while after its cancel
};

struct RequestResult {
    RequestOutcome outcome = RequestOutcome::Failed;
    std::size_t outputLength = 0; // meaningful only when Completed; never above the output's size
};

// How an attempt to open an interface ended.
enum class OpenOutcome {
    Opened,
    Failed, // absent, refused, or for a reason the port cannot tell
    InUse,  // another program holds the interface
};

struct OpenResult {
    DeviceHandle handle = 0; // 0 unless Opened
    OpenOutcome outcome = OpenOutcome::Failed;
};

// Everything the link needs of the platform and the phone maker's driver. One implementation
// per platform (Win32), one for the in-process virtual phone and one for the TCP bridge.
// Unless said otherwise an operation may be called from any thread; the link serialises
// driver requests itself (PhoneLink::requestMutex).
class DevicePort {
public:
    virtual ~DevicePort() = default;

    // The modem port the phone shows while it is a USB modem ("COM7"), or "" when none is listed.
    virtual std::string modemPort() = 0;
    // Writes bytes to the named modem port (as modemPort() reported it); true when all were written.
    virtual bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) = 0;
    // Device paths of the present interfaces of the phone's interface class, in enumeration order.
    virtual std::vector<std::string> listInterfaces() = 0;
    // Opens an interface by its device path; 0 when it cannot be opened.
    virtual DeviceHandle open(const std::string& path) = 0;
    // open() that also tells an interface held by another program from other failures. Ports
    // that cannot tell them apart keep this one, which calls open().
    virtual OpenResult tryOpen(const std::string& path) {
        const DeviceHandle handle = open(path);
        return {handle, handle != 0 ? OpenOutcome::Opened : OpenOutcome::Failed};
    }
    // One driver request: code, input bytes, room for the answer, time limit.
    virtual RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output, std::uint32_t limitMs) = 0;
    // Closes a handle from open(); a handle that is not open is ignored.
    virtual void close(DeviceHandle handle) = 0;
    // Blocks until the interface at path has gone away since it was last opened (at once when
    // it is absent or cannot be watched). Called by the watcher thread only.
    virtual void waitRemoval(const std::string& path) = 0;
};

// A port with nothing attached: every operation fails cleanly and at once.
class NoDevicePort final : public DevicePort {
public:
    std::string modemPort() override { return {}; }
    bool writeModem(const std::string&, std::span<const std::uint8_t>) override { return false; }
    std::vector<std::string> listInterfaces() override { return {}; }
    DeviceHandle open(const std::string&) override { return 0; }
    RequestResult request(DeviceHandle, std::uint32_t, std::span<const std::uint8_t>, std::span<std::uint8_t>,
                          std::uint32_t) override {
        return {RequestOutcome::Failed, 0};
    }
    void close(DeviceHandle) override {}
    void waitRemoval(const std::string&) override {}
};

} // namespace telvane
