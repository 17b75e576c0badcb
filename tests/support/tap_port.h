#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "support/forwarding_port.h"

namespace telvane::test {

// Passes every call to another port and keeps a copy of each driver request's input.
class TapPort final : public ForwardingPort {
public:
    explicit TapPort(DevicePort& inner) : ForwardingPort(inner) {}

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

private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> requests_;
};

} // namespace telvane::test
