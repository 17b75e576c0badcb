#pragma once
#include <cstdint>
#include <vector>

#include "common/byte_order.h"
#include "link/command_transport.h"
#include "support/capture_log.h"
#include "support/fake_clock.h"
#include "support/scripted_port.h"

namespace telvane::test {

// The link on a scripted port, answering commands one by one as told. What the commands carried
// is read back from the port afterwards.
struct ScriptedPhone {
    struct Sent {
        std::uint16_t opcode;
        std::vector<std::uint8_t> payload;
    };

    ScriptedPhone() { link.setHandle(7); }

    // The next command is answered with this status and data.
    void answer(std::uint8_t status, const std::vector<std::uint8_t>& data = {}) {
        ++sequence;
        const auto packet = replyPacket(sequence, status, data);
        port.expect({UsbChannel::kControlCode, {}, RequestOutcome::Completed, {}, {}});
        port.expect({UsbChannel::kControlCode, {}, RequestOutcome::Completed,
                     driverAnswer(pollReady(static_cast<std::uint16_t>(packet.size() - 6))), {}});
        port.expect({UsbChannel::kControlCode, {}, RequestOutcome::Completed, driverAnswer(packet), {}});
    }
    void answerData(const std::vector<std::uint8_t>& data) { answer(8, data); }
    void answerNoData() { answer(6); }

    // Every command written so far, in order.
    std::vector<Sent> sent() const {
        std::vector<Sent> out;
        for (const auto& in : port.inputs()) {
            if (in.size() < 18 || in[0] != 0x41) continue;
            const std::size_t length = readBe16(in.data() + 12);
            out.push_back({readBe16(in.data() + 10),
                           std::vector<std::uint8_t>(in.begin() + 16, in.begin() + 16 + static_cast<long>(length))});
        }
        return out;
    }
    std::vector<std::uint8_t> lastPayload() const {
        auto all = sent();
        return all.empty() ? std::vector<std::uint8_t>{} : all.back().payload;
    }

    ScriptedPort port;
    PhoneLink link;
    CaptureLog log;
    FakeClock clock;
    UsbChannel channel{port, link, log};
    CommandTransport transport{channel, clock, log};
    std::uint16_t sequence = 0;
};

inline std::vector<std::uint8_t> be32Bytes(std::uint32_t v) {
    std::vector<std::uint8_t> b(4);
    writeBe32(b.data(), v);
    return b;
}

inline std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace telvane::test
