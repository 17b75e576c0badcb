#pragma once
#include <string>
#include <vector>

#include "link/device_port.h"

namespace telvane::test {

// Passes every call on to another port; a test port derives from it and overrides only the calls
// it watches or changes.
class ForwardingPort : public DevicePort {
public:
    explicit ForwardingPort(DevicePort& inner) : inner_(inner) {}

    std::string modemPort() override { return inner_.modemPort(); }
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override {
        return inner_.writeModem(port, bytes);
    }
    std::vector<std::string> listInterfaces() override { return inner_.listInterfaces(); }
    DeviceHandle open(const std::string& path) override { return inner_.open(path); }
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        return inner_.request(handle, code, input, output, limitMs);
    }
    void close(DeviceHandle handle) override { inner_.close(handle); }
    void waitRemoval(const std::string& path) override { inner_.waitRemoval(path); }

protected:
    DevicePort& inner_;
};

} // namespace telvane::test
