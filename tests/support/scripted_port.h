#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/device_port.h"

namespace telvane::test {

// A device port that expects a fixed list of driver requests and gives canned answers.
// Anything unexpected, and any expectation left over, fails the test (checked on destruction).
class ScriptedPort final : public DevicePort {
public:
    struct Expectation {
        std::uint32_t code = 0;
        std::optional<std::vector<std::uint8_t>> input; // checked byte for byte when given
        RequestOutcome outcome = RequestOutcome::Completed;
        std::vector<std::uint8_t> output;                // the driver's answer (header included)
        std::optional<std::uint32_t> limitMs;            // checked when given
    };

    ~ScriptedPort() override;

    ScriptedPort& expect(Expectation e);
    // Repeats the same expectation n times.
    ScriptedPort& expectTimes(const Expectation& e, int n);
    bool allUsed() const { return expected_.empty(); }
    std::size_t left() const { return expected_.size(); }
    const std::vector<std::vector<std::uint8_t>>& inputs() const { return inputs_; }
    // The handle each request came on, in order.
    const std::vector<DeviceHandle>& handles() const { return handles_; }
    // Runs after every answered request, while the link's request lock is still held (a stand-in
    // for what another thread does meanwhile).
    void setAfterRequest(std::function<void()> hook) { afterRequest_ = std::move(hook); }

    std::string modemPort() override { return {}; }
    bool writeModem(const std::string&, std::span<const std::uint8_t>) override { return false; }
    std::vector<std::string> listInterfaces() override { return {}; }
    DeviceHandle open(const std::string&) override { return 0; }
    RequestResult request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t limitMs) override;
    void close(DeviceHandle) override {}
    void waitRemoval(const std::string&) override {}

private:
    RequestResult answer(std::uint32_t code, std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                         std::uint32_t limitMs);

    std::deque<Expectation> expected_;
    std::vector<std::vector<std::uint8_t>> inputs_;
    std::vector<DeviceHandle> handles_;
    std::function<void()> afterRequest_;
};

// A driver answer: the 4-byte header, then the data stage.
std::vector<std::uint8_t> driverAnswer(const std::vector<std::uint8_t>& dataStage);
// A reply packet as the phone lays it out (packet count 1, length, reply bit and sequence, status, data).
std::vector<std::uint8_t> replyPacket(std::uint16_t sequence, std::uint8_t status,
                                      const std::vector<std::uint8_t>& data);
// The poll answer data stage for one waiting packet of the given length.
std::vector<std::uint8_t> pollReady(std::uint16_t byteCount, std::uint8_t waiting = 1);

} // namespace telvane::test
