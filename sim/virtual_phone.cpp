#include "sim/virtual_phone.h"

namespace telvane::sim {

PhoneReply VirtualPhone::handleCommand(std::uint16_t op, std::span<const std::uint8_t> payload,
                                       const std::optional<FaultRule>& fault) {
    (void)fault;
    switch (op) {
    case opcode::kSuspend:
        if (payload.size() != 1) return {status::kInvalidDataLength, {}};
        ++suspendCount_;
        return {status::kDoneNoData, {}};
    case opcode::kRestart:
        if (!payload.empty()) return {status::kInvalidDataLength, {}};
        ++restartCount_;
        return {status::kDoneNoData, {}};
    default:
        return {status::kUnsupportedOpcode, {}};
    }
}

} // namespace telvane::sim
