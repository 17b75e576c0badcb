#pragma once
// What the phone-facing fuzzers share: a device port that plays back scripted answers the way
// the driver would deliver them, a clock that never waits, and the link on top of them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

#include "common/byte_order.h"
#include "common/clock.h"
#include "common/log_sink.h"
#include "common/phone_link.h"
#include "link/command_transport.h"
#include "link/device_port.h"
#include "link/usb_channel.h"

namespace telvane::fuzz {

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

// Time passes only by sleeping.
class StepClock final : public Clock {
public:
    std::uint32_t tickMs() override { return now_; }
    void sleepMs(std::uint32_t ms) override { now_ += ms; }

private:
    std::uint32_t now_ = 0;
};

// Takes every command write, finds a reply waiting at every poll and answers each reply read
// with the next scripted answer; once the script is spent, reads fail.
class ScriptPort final : public DevicePort {
public:
    // The read's data stage exactly as given (the driver's header is added).
    void pushRaw(std::span<const std::uint8_t> stage, bool matchSequence) {
        answers_.push_back({true, matchSequence, 0, {stage.begin(), stage.end()}});
    }
    // A well-formed reply to the command just written: status, then data (sent with status 8).
    void pushReply(std::uint8_t status, std::span<const std::uint8_t> data) {
        answers_.push_back({false, true, status, {data.begin(), data.end()}});
    }

    std::string modemPort() override { return {}; }
    bool writeModem(const std::string&, std::span<const std::uint8_t>) override { return false; }
    std::vector<std::string> listInterfaces() override { return {}; }
    DeviceHandle open(const std::string&) override { return 1; }
    void close(DeviceHandle) override {}
    void waitRemoval(const std::string&) override {}

    RequestResult request(DeviceHandle, std::uint32_t, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output, std::uint32_t) override {
        if (input.size() < 8) return {RequestOutcome::Failed, 0};
        if (input[0] == 0x41) {
            if (input.size() >= 10) sequence_ = readBe16(input.data() + 8) & 0x0FFF;
            return {RequestOutcome::Completed, 0};
        }
        if (input[1] == 0x00) { // poll: one packet waiting
            std::uint8_t poll[8] = {0, 1, 0x10, 0, 0, 0, 0, 0};
            return deliver(output, poll);
        }
        if (answers_.empty()) return {RequestOutcome::Failed, 0};
        Answer a = std::move(answers_.front());
        answers_.pop_front();
        std::vector<std::uint8_t> stage;
        if (a.raw) {
            stage = std::move(a.bytes);
            if (a.matchSequence && stage.size() >= 8) writeBe16(stage.data() + 6, std::uint16_t(0x8000 | sequence_));
        } else {
            const bool withData = a.status == kStatusDoneWithData;
            const std::size_t n = withData ? std::min<std::size_t>(a.bytes.size(), 4096 - 14) : 0;
            stage.assign(14, 0);
            stage[0] = 1;
            writeBe16(stage.data() + 4, static_cast<std::uint16_t>(8 + n));
            writeBe16(stage.data() + 6, static_cast<std::uint16_t>(0x8000 | sequence_));
            stage[8] = static_cast<std::uint8_t>(a.status << 4);
            writeBe16(stage.data() + 10, static_cast<std::uint16_t>(n));
            stage.insert(stage.end(), a.bytes.begin(), a.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        }
        return deliver(output, stage);
    }

private:
    struct Answer {
        bool raw;
        bool matchSequence;
        std::uint8_t status;
        std::vector<std::uint8_t> bytes;
    };

    static RequestResult deliver(std::span<std::uint8_t> output, std::span<const std::uint8_t> stage) {
        if (output.size() < 4) return {RequestOutcome::Completed, 0};
        const std::size_t n = std::min(stage.size(), output.size() - 4);
        writeLe32(output.data(), static_cast<std::uint32_t>(n));
        if (n > 0) std::memcpy(output.data() + 4, stage.data(), n);
        return {RequestOutcome::Completed, 4 + n};
    }

    std::deque<Answer> answers_;
    std::uint16_t sequence_ = 0;
};

// The link on a script port.
struct ScriptedLink {
    ScriptedLink() { link.setHandle(1); }

    ScriptPort port;
    PhoneLink link;
    NullLog log;
    StepClock clock;
    UsbChannel channel{port, link, log};
    CommandTransport transport{channel, clock, log};
};

// Takes bytes off the front of the fuzzer's input.
class Input {
public:
    explicit Input(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool empty() const { return bytes_.empty(); }
    std::uint8_t u8() {
        if (bytes_.empty()) return 0;
        const std::uint8_t v = bytes_[0];
        bytes_ = bytes_.subspan(1);
        return v;
    }
    std::uint16_t be16() { return static_cast<std::uint16_t>((u8() << 8) | u8()); }
    std::span<const std::uint8_t> take(std::size_t n) {
        n = std::min(n, bytes_.size());
        auto out = bytes_.first(n);
        bytes_ = bytes_.subspan(n);
        return out;
    }
    std::span<const std::uint8_t> rest() { return take(bytes_.size()); }

private:
    std::span<const std::uint8_t> bytes_;
};

} // namespace telvane::fuzz
