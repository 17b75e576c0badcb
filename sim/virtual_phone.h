#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/phone_file_system.h"
#include "sim/phone_profile.h"
#include "sim/seem_store.h"

namespace telvane::sim {

// Opcodes the phone understands.
namespace opcode {
constexpr std::uint16_t kSeemRead = 0x20;
constexpr std::uint16_t kRestart = 0x22;
constexpr std::uint16_t kSeemWrite = 0x2F;
constexpr std::uint16_t kSuspend = 0x36;
constexpr std::uint16_t kFileSystem = 0x4A;
} // namespace opcode

// Subcommands of the file-system opcode (the payload's first 32 bits).
namespace fscmd {
constexpr std::uint32_t kOpen = 0;
constexpr std::uint32_t kRead = 1;
constexpr std::uint32_t kWrite = 2;
constexpr std::uint32_t kSeek = 3;
constexpr std::uint32_t kClose = 4;
constexpr std::uint32_t kDelete = 5;
constexpr std::uint32_t kCount = 7;
constexpr std::uint32_t kListChunk = 8;
constexpr std::uint32_t kVolumeName = 0x0A;
constexpr std::uint32_t kFreeSpace = 0x0B;
} // namespace fscmd

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

// The phone behind the driver: a file system, a seem store, a volume and free space, answering
// one command at a time. How it answers:
// - open: no data, or GENERIC FAILURE for a name it cannot hold; read: the bytes (none at the
//   end of the file), GENERIC FAILURE with no open file; write: the one byte 6, or the one byte
//   1 when refused; seek, close, delete: no data, or the one byte 1 when refused;
// - count: 16 bits; list chunk: record number, 2 zero bytes, records; after the last record a
//   chunk with none. A count starts the listing anew from a snapshot of the files;
// - volume name: UTF-16BE with a 0 unit; free space: 32 bits, or the one byte 1 for another volume;
// - seem read: result code 0 and the record, or the result code 1 for a record it does not have;
//   seem write: the one byte 0, or 1 when refused.
// Not thread-safe by itself; the driver model serialises every call.
class VirtualPhone {
public:
    VirtualPhone();                              // the "tree" phone
    explicit VirtualPhone(const PhoneProfile& profile); // the profile must pass checkProfile

    // Answers one command. `fault` is a phone-level fault that hits this command, if any.
    PhoneReply handleCommand(std::uint16_t opcode, std::span<const std::uint8_t> payload,
                             const std::optional<FaultRule>& fault);

    // True once after a restart on a phone whose restart drops it off the bus; the driver
    // then takes the phone away and brings it back once the restart's reply has been read.
    bool takeDropRequest() { return std::exchange(dropRequested_, false); }

    std::uint32_t suspendCount() const { return suspendCount_; }
    std::uint32_t restartCount() const { return restartCount_; }

    PhoneFileSystem& fileSystem() { return files_; }
    const PhoneFileSystem& fileSystem() const { return files_; }
    SeemStore& seems() { return seems_; }
    const SeemStore& seems() const { return seems_; }
    const std::string& volume() const { return volume_; }
    std::uint32_t entrySize() const { return entrySize_; }
    std::uint32_t recordsPerChunk() const { return recordsPerChunk_; }
    // Clamped to what one reply can carry.
    void setRecordsPerChunk(std::uint32_t n);

private:
    PhoneReply fileCommand(std::span<const std::uint8_t> payload, const std::optional<FaultRule>& fault);
    PhoneReply listCount(const std::optional<FaultRule>& fault);
    PhoneReply listChunk(const std::optional<FaultRule>& fault);
    PhoneReply volumeName() const;
    PhoneReply freeSpace(std::span<const std::uint8_t> names, const std::optional<FaultRule>& fault) const;
    PhoneReply seemRead(std::span<const std::uint8_t> payload) const;
    PhoneReply seemWrite(std::span<const std::uint8_t> payload, const std::optional<FaultRule>& fault);
    void snapshotList();
    std::vector<std::uint8_t> encodeRecord(const PhoneFile& file) const;

    PhoneFileSystem files_;
    SeemStore seems_;
    std::string volume_;
    std::uint32_t entrySize_;
    std::uint32_t recordsPerChunk_;
    std::vector<std::vector<std::uint8_t>> listing_; // records of the listing under way
    std::size_t listed_ = 0;                         // records of it already sent
    bool listingStarted_ = false;
    bool restartDrops_ = false;
    bool dropRequested_ = false;
    std::uint32_t suspendCount_ = 0;
    std::uint32_t restartCount_ = 0;
};

} // namespace telvane::sim
