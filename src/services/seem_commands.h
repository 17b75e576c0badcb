#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/command_transport.h"

namespace telvane {

namespace seem {
constexpr std::uint16_t kOpRead = 0x20;
constexpr std::uint16_t kOpRestart = 0x22;
constexpr std::uint16_t kOpWrite = 0x2F;
constexpr std::uint16_t kOpSuspend = 0x36;

constexpr std::size_t kHeaderSize = 8;       // seem, record, offset, length (all BE16)
constexpr std::size_t kAreaSize = 10000;     // seem read reply / seem write data
constexpr std::size_t kWriteReplySize = 4;
constexpr std::size_t kControlReplySize = 4096;
// The most data one seem write can carry: the frame area less its overhead and the header.
constexpr std::size_t kMaxWriteLength = frame::kMaxPayload - kHeaderSize;

// A seem is saved record by record from 1, up to this one or the first it lacks.
constexpr std::uint16_t kMaxSavedRecord = 128;

// Where the phone keeps its model name, as UTF-16BE text.
constexpr std::uint16_t kModelSeem = 0x0117;
constexpr std::uint16_t kModelRecord = 1;
} // namespace seem

// A seem record's address: seem number and record number (records count from 1).
struct SeemAddress {
    std::uint16_t seem = 0;
    std::uint16_t record = 0;
};

// Seem records and the phone-control commands. They log nothing themselves: the transaction
// logs the cause of a failed exchange. Window's thread only: the areas hold one command at a time.
class SeemCommands {
public:
    explicit SeemCommands(CommandTransport& transport) : transport_(transport) {}

    // Reads a whole record. On success size is the record's size (0 for a record without data)
    // and its first min(size, destination.size()) bytes are in destination. 0 or -1.
    int readSeem(std::uint16_t seem, std::uint16_t record, std::span<std::uint8_t> destination, std::uint32_t& size);
    // After readSeem: true when the phone answered, with data, a result code or a status (a -1
    // then means it has no such record to give), false when the exchange itself failed (nothing
    // came back, or nothing whole: the transaction has logged why).
    bool lastReadAnswered() const { return lastReadAnswered_; }
    // Writes `length` bytes of data at offset within a record. A length of 0 is sent as one byte
    // (0 when data is empty); a length the command frame cannot carry, or longer than data,
    // fails without sending. 0 or -1.
    int writeSeem(std::uint16_t seem, std::uint16_t record, std::uint16_t offset, std::uint32_t length,
                  std::span<const std::uint8_t> data);
    // The transaction's result; the phone's answer is not examined.
    int suspendPhone();
    int restartPhone();

private:
    CommandTransport& transport_;
    std::array<std::uint8_t, seem::kAreaSize> area_{};
    std::array<std::uint8_t, seem::kHeaderSize + seem::kAreaSize> writePayload_{};
    std::array<std::uint8_t, seem::kWriteReplySize> writeReply_{};
    std::array<std::uint8_t, seem::kControlReplySize> controlReply_{};
    bool lastReadAnswered_ = false;
};

} // namespace telvane
