#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/device_port.h"

namespace telvane {

// The device port of the real program: the phone maker's driver through DeviceIoControl, the
// modem port and the removal key through the registry, the interfaces through SetupAPI.
// Logs nothing; the link logs what the outcomes mean.
class Win32DevicePort final : public DevicePort {
public:
    Win32DevicePort();
    ~Win32DevicePort() override;
    Win32DevicePort(const Win32DevicePort&) = delete;
    Win32DevicePort& operator=(const Win32DevicePort&) = delete;

    std::string modemPort() override;
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override;
    std::vector<std::string> listInterfaces() override;
    DeviceHandle open(const std::string& path) override;
    // A request the driver refuses at once fails at once; one still pending at its limit is
    // cancelled, and the wait for the cancel is bounded too.
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle handle) override;
    void waitRemoval(const std::string& path) override;
};

} // namespace telvane
