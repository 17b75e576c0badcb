#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/log_sink.h"
#include "link/device_port.h"

namespace telvane {

// Two ports as one: the preferred one (the maker's driver) wherever it lists a phone, the other
// one (USB) otherwise. Asked afresh at every listing, so a phone plugged in later is found on
// whichever reaches it; each path and handle stays with the port it came from. Logs a line
// when the port it lists from changes.
class EitherDevicePort final : public DevicePort {
public:
    // otherUnavailable: why the other port cannot find anything ("" when it can), said once
    // when the preferred port lists nothing.
    EitherDevicePort(std::unique_ptr<DevicePort> preferred, std::string preferredName, std::unique_ptr<DevicePort> other,
                     std::string otherName, std::string otherUnavailable, LogSink& log);

    std::string modemPort() override;
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override;
    std::vector<std::string> listInterfaces() override;
    DeviceHandle open(const std::string& path) override;
    OpenResult tryOpen(const std::string& path) override;
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle handle) override;
    void waitRemoval(const std::string& path) override;

private:
    struct Opened {
        DevicePort* port = nullptr;
        DeviceHandle handle = 0;
    };
    // The port a path was listed by; the preferred one for a path neither listed.
    DevicePort& portFor(const std::string& path);

    const std::unique_ptr<DevicePort> preferred_;
    const std::string preferredName_;
    const std::unique_ptr<DevicePort> other_;
    const std::string otherName_;
    const std::string otherUnavailable_;
    LogSink& log_;

    std::mutex mutex_; // guards the members below
    std::map<std::string, DevicePort*> listedBy_;
    std::map<DeviceHandle, Opened> handles_;
    DeviceHandle nextHandle_ = 1;
    DevicePort* listing_ = nullptr; // the port the last listing came from
};

} // namespace telvane
