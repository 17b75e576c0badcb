#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "link/device_port.h"

namespace telvane::test {

// Passes every call to another port and keeps a copy of each driver request's input.
class TapPort final : public DevicePort {
public:
    explicit TapPort(DevicePort& inner) : inner_(inner) {}

    // Runs after every request, on the requesting thread; set it before the port is in use.
    std::function<void()> afterRequest;

    std::vector<std::vector<std::uint8_t>> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

    std::string modemPort() override { return inner_.modemPort(); }
    bool writeModem(const std::string& port, std::span<const std::uint8_t> bytes) override {
        return inner_.writeModem(port, bytes);
    }
    std::vector<std::string> listInterfaces() override { return inner_.listInterfaces(); }
    DeviceHandle open(const std::string& path) override { return inner_.open(path); }
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.emplace_back(input.begin(), input.end());
        }
        const RequestResult result = inner_.request(handle, code, input, output, limitMs);
        if (afterRequest) afterRequest();
        return result;
    }
    void close(DeviceHandle handle) override { inner_.close(handle); }
    void waitRemoval(const std::string& path) override { inner_.waitRemoval(path); }

private:
    DevicePort& inner_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> requests_;
};

} // namespace telvane::test
