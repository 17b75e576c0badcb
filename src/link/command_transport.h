#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/clock.h"
#include "common/log_sink.h"
#include "link/usb_channel.h"

namespace telvane {

// Layout of a command frame and of a reply packet, as offsets into their areas.
namespace frame {
constexpr std::size_t kAreaSize = 4096;
constexpr std::size_t kSetupSize = 8;
constexpr std::size_t kHeaderSize = 16;   // setup packet and command header
constexpr std::size_t kTrailerSize = 2;   // two zero bytes after the payload
constexpr std::size_t kOverhead = kHeaderSize + kTrailerSize;
constexpr std::size_t kMaxPayload = kAreaSize - kOverhead;
constexpr std::size_t kSequenceOffset = 8;
constexpr std::size_t kOpcodeOffset = 10;
constexpr std::size_t kPayloadLengthOffset = 12;
constexpr std::size_t kPayloadOffset = 16;
constexpr std::uint8_t kWriteRequestType = 0x41;
constexpr std::uint8_t kReadRequestType = 0xC1;
constexpr std::uint8_t kCommandRequest = 0x02;
constexpr std::uint8_t kPollRequest = 0x00;
constexpr std::uint8_t kReadRequest = 0x01;
constexpr std::uint16_t kInterfaceIndex = 8;
constexpr std::size_t kPollAreaSize = 12;
constexpr std::uint16_t kPollLength = 8;
} // namespace frame

namespace reply {
constexpr std::size_t kPacketCountOffset = 0;
constexpr std::size_t kPacketLengthOffset = 4;
constexpr std::size_t kPacketOffset = 6; // the packet of length L: its 8-byte header, then the data
constexpr std::size_t kSequenceWordOffset = 6;
constexpr std::size_t kStatusOffset = 8;
constexpr std::size_t kDataLengthOffset = 10;
constexpr std::size_t kDataOffset = 14;
constexpr std::size_t kPacketHeaderSize = 8; // counted in the packet length L
constexpr std::uint16_t kReplyBit = 0x8000;
} // namespace reply

// Phone status (high 4 bits of reply byte 8).
enum CommandStatus : std::uint8_t { kStatusDoneNoData = 6, kStatusDoneWithData = 8 };

// Log text for a phone status, "CMD:"-free upper-case texts indexed by status (0-15).
const char* commandStatusText(unsigned status);

// One phone command as one complete exchange: frame, write, poll, read, check.
// Window's thread only; the counter and areas are reused and take no lock.
class CommandTransport {
public:
    static constexpr std::uint32_t kAnswerWaitLimitMs = 40000;

    CommandTransport(UsbChannel& channel, Clock& clock, LogSink& log) : channel_(channel), clock_(clock), log_(log) {}

    // 0 when the phone answered with status 6 or 8, 1 for a malformed reply, -1 otherwise.
    // replyLength is set only when the phone answered with data, so callers preset it.
    int sendCommand(std::uint16_t opcode, const std::uint8_t* payload, std::size_t payloadLength,
                    std::uint8_t* reply, std::size_t replyCapacity, std::uint32_t& replyLength);

    // After sendCommand: true when a whole reply to the command arrived, whatever status it
    // carried; false when the exchange itself failed (nothing sent, no answer, a malformed one).
    bool lastAnswered() const { return lastAnswered_; }

    // The sequence counter as it stands (the number the last command carried, before masking).
    std::uint16_t sequence() const { return sequence_; }

private:
    UsbChannel& channel_;
    Clock& clock_;
    LogSink& log_;
    std::uint16_t sequence_ = 0;
    bool lastAnswered_ = false;
    std::array<std::uint8_t, frame::kAreaSize> frame_{};
    std::array<std::uint8_t, frame::kPollAreaSize> poll_{};
    std::array<std::uint8_t, frame::kAreaSize> read_{};
};

} // namespace telvane
