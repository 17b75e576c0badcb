#include "support/scripted_port.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "common/byte_order.h"

namespace telvane::test {

ScriptedPort::~ScriptedPort() {
    EXPECT_TRUE(expected_.empty()) << expected_.size() << " expected driver request(s) never came";
}

ScriptedPort& ScriptedPort::expect(Expectation e) {
    expected_.push_back(std::move(e));
    return *this;
}

ScriptedPort& ScriptedPort::expectTimes(const Expectation& e, int n) {
    for (int i = 0; i < n; ++i) expected_.push_back(e);
    return *this;
}

RequestResult ScriptedPort::request(DeviceHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                                    std::span<std::uint8_t> output, std::uint32_t limitMs) {
    inputs_.emplace_back(input.begin(), input.end());
    handles_.push_back(handle);
    const RequestResult result = answer(code, input, output, limitMs);
    if (afterRequest_) afterRequest_();
    return result;
}

RequestResult ScriptedPort::answer(std::uint32_t code, std::span<const std::uint8_t> input,
                                   std::span<std::uint8_t> output, std::uint32_t limitMs) {
    if (expected_.empty()) {
        ADD_FAILURE() << "unexpected driver request, code " << std::hex << code;
        return {RequestOutcome::Failed, 0};
    }
    Expectation e = std::move(expected_.front());
    expected_.pop_front();
    EXPECT_EQ(e.code, code);
    if (e.input) {
        EXPECT_EQ(*e.input, std::vector<std::uint8_t>(input.begin(), input.end()));
    }
    if (e.limitMs) {
        EXPECT_EQ(*e.limitMs, limitMs);
    }
    if (e.outcome != RequestOutcome::Completed) return {e.outcome, 0};
    std::size_t n = std::min(e.output.size(), output.size());
    if (n > 0) std::memcpy(output.data(), e.output.data(), n);
    return {RequestOutcome::Completed, n};
}

std::vector<std::uint8_t> driverAnswer(const std::vector<std::uint8_t>& dataStage) {
    std::vector<std::uint8_t> out(4, 0);
    writeLe32(out.data(), static_cast<std::uint32_t>(dataStage.size()));
    out.insert(out.end(), dataStage.begin(), dataStage.end());
    return out;
}

std::vector<std::uint8_t> replyPacket(std::uint16_t sequence, std::uint8_t status,
                                      const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> p(14, 0);
    p[0] = 1;
    writeBe16(p.data() + 4, static_cast<std::uint16_t>(8 + data.size()));
    writeBe16(p.data() + 6, static_cast<std::uint16_t>(0x8000 | (sequence & 0x0FFF)));
    p[8] = static_cast<std::uint8_t>(status << 4);
    writeBe16(p.data() + 10, static_cast<std::uint16_t>(data.size()));
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

std::vector<std::uint8_t> pollReady(std::uint16_t byteCount, std::uint8_t waiting) {
    std::vector<std::uint8_t> d(8, 0);
    d[1] = waiting;
    writeBe16(d.data() + 2, byteCount);
    return d;
}

} // namespace telvane::test
