#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/fault_plan.h"

namespace telvane::sim {

// Opcodes the phone understands.
namespace opcode {
constexpr std::uint16_t kSeemRead = 0x20;
constexpr std::uint16_t kRestart = 0x22;
constexpr std::uint16_t kSeemWrite = 0x2F;
constexpr std::uint16_t kSuspend = 0x36;
constexpr std::uint16_t kFileSystem = 0x4A;
} // namespace opcode

// Phone status codes of a reply (the high 4 bits of reply byte 8).
namespace status {
constexpr std::uint8_t kInvalidDataLength = 0;
constexpr std::uint8_t kUnsupportedOpcode = 4;
constexpr std::uint8_t kInvalidParameter = 5;
constexpr std::uint8_t kDoneNoData = 6;
constexpr std::uint8_t kGenericFailure = 7;
constexpr std::uint8_t kDoneWithData = 8;
} // namespace status

// The most reply data one read can carry: the transaction's 4096-byte read area less the 14
// bytes before the data.
constexpr std::size_t kMaxReplyData = 4096 - 14;

// What the phone answers to one command.
struct PhoneReply {
    std::uint8_t status = status::kDoneNoData;
    std::vector<std::uint8_t> data; // sent with status 8
};

// The phone behind the driver: it takes one command at a time and answers it.
// Not thread-safe by itself; the driver model serialises every call.
class VirtualPhone {
public:
    // Answers one command. `fault` is a phone-level fault that hits this command, if any.
    PhoneReply handleCommand(std::uint16_t opcode, std::span<const std::uint8_t> payload,
                             const std::optional<FaultRule>& fault);

    std::uint32_t suspendCount() const { return suspendCount_; }
    std::uint32_t restartCount() const { return restartCount_; }

private:
    std::uint32_t suspendCount_ = 0;
    std::uint32_t restartCount_ = 0;
};

} // namespace telvane::sim
