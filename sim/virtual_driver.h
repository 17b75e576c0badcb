#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/device_port.h"
#include "sim/fault_plan.h"
#include "sim/virtual_phone.h"

namespace telvane::sim {

// Device paths the virtual driver publishes. Both begin "\\?\" like a real interface path.
extern const char* const kPhoneInterfacePath;
extern const char* const kForeignInterfacePath;
// Interface string of the phone's command interface, and of the foreign one.
extern const char* const kPhoneInterfaceName;
extern const char* const kForeignInterfaceName;
// The exact bytes that switch a modem-mode phone to its command interface.
extern const char* const kModeSwitchCommand;

// A model of the phone maker's driver with one phone behind it, at the level of driver
// requests. It implements the device port, so the link runs on it unchanged; the bridge
// server serves it to other processes. Thread-safe: every entry point takes one lock.
class VirtualDriver final : public DevicePort {
public:
    explicit VirtualDriver(std::unique_ptr<VirtualPhone> phone = std::make_unique<VirtualPhone>());

    // --- DevicePort
    std::string modemPort() override;
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override;
    std::vector<std::string> listInterfaces() override;
    DeviceHandle open(const std::string& path) override;
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle handle) override;
    void waitRemoval(const std::string& path) override;

    // --- The world around the phone (tests, telvane-phonesim's console)
    void plug();
    void unplug();
    bool isPlugged() const;
    // While set, a plugged phone first shows up as a modem on this port ("" = never); a phone
    // plugged in now becomes a modem again.
    void setModemPort(const std::string& port);
    // While set, a foreign interface of the same class is listed before the phone's own.
    void setForeignInterface(bool present);
    void addFault(const FaultRule& rule);
    void clearFaults();
    // While set, waitRemoval returns at once, as when the removal key cannot be opened.
    void setRemovalWatchBroken(bool broken);
    // Wakes every waitRemoval for good (so threads blocked in it can be joined).
    void shutdown();

    // --- Observations
    std::uint32_t commandCount() const;            // commands the phone has received
    std::uint32_t openHandleCount() const;         // handles opened and not yet closed
    std::uint32_t closedHandleUses() const;        // requests or closes on a handle already closed
    std::vector<std::string> modemWrites() const;  // every modem write, as text
    std::uint64_t plugCount() const;               // plug-ins so far, the first included (a restart is one)
    // Runs f on the phone under the driver's lock.
    template <class F>
    auto withPhone(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(*phone_);
    }

private:
    enum class Mode { Modem, Command };
    struct Handle {
        std::string path;
        std::uint64_t generation; // the plug-in this handle belongs to
    };
    struct PendingReply {
        std::vector<std::uint8_t> packet;
        bool failRead = false;    // the read request for it fails
        bool timeoutRead = false; // the read request for it times out
        bool dropAfterRead = false; // the phone restarts once this reply has been read
    };

    bool interfacePresentLocked(const std::string& path) const;
    bool handleLiveLocked(DeviceHandle handle) const;
    RequestResult controlTransferLocked(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);
    RequestResult commandWriteLocked(std::span<const std::uint8_t> input);
    RequestResult interfaceStringLocked(const std::string& path, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output);
    void unplugLocked();
    void plugLocked();

    mutable std::mutex mutex_;
    std::condition_variable removed_;
    std::unique_ptr<VirtualPhone> phone_;
    FaultPlan faults_;
    bool plugged_ = true;
    Mode mode_ = Mode::Command;
    std::string modemPortName_;
    bool foreign_ = false;
    bool shutdown_ = false;
    bool removalWatchBroken_ = false;
    std::map<DeviceHandle, std::string> closed_; // handles closed so far, to catch use after close
    std::uint32_t closedHandleUses_ = 0;
    std::uint64_t generation_ = 1;          // counts plug-ins
    std::map<std::string, std::uint64_t> openedAt_; // path -> generation of its latest open
    std::map<DeviceHandle, Handle> handles_;
    DeviceHandle nextHandle_ = 0x100;
    std::deque<PendingReply> pending_;
    std::uint32_t commands_ = 0;
    std::vector<std::string> modemWrites_;
};

} // namespace telvane::sim
