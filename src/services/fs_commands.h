#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/command_transport.h"

namespace telvane {

// The file-system command (opcode 0x4A) and its subcommands, the first 32 bits of every payload.
namespace fs {
constexpr std::uint16_t kOpcode = 0x4A;
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

constexpr std::size_t kAreaSize = 4096;         // payload and reply areas
constexpr std::uint32_t kMaxTransfer = 1024;    // bytes per read or write command
constexpr std::size_t kVolumeNameBytes = 256;   // FsVolumeName's target
constexpr std::size_t kFreeSpacePayload = 512;  // subcommand, then up to 128 name units, zero-padded
constexpr std::size_t kMaxVolumeUnits = 128;
constexpr std::uint32_t kNameOverhead = 8;      // E - 8: the longest name a record can hold
} // namespace fs

// Where the file commands learn the current list entry size E (44 or 268; 0 before any list),
// which bounds the names they send. The file list is the one in the program.
class EntrySizeSource {
public:
    virtual ~EntrySizeSource() = default;
    virtual std::uint32_t recordSize() const = 0;
};

// A fixed entry size (tools and tests).
class FixedEntrySize final : public EntrySizeSource {
public:
    explicit FixedEntrySize(std::uint32_t size = 0) : size_(size) {}
    void set(std::uint32_t size) { size_ = size; }
    std::uint32_t recordSize() const override { return size_; }

private:
    std::uint32_t size_;
};

// The phone's file-system operations, each one or more command transactions. Every operation
// returns 0 for success and non-zero for failure; apart from FsFreeSpace's zero-space text they
// log nothing themselves (the transaction has logged the cause). The phone keeps the one open
// file between FsOpen and FsClose. Window's thread only: the areas hold one command at a time.
class FsCommands {
public:
    FsCommands(CommandTransport& transport, LogSink& log, const EntrySizeSource& entrySize)
        : transport_(transport), log_(log), entrySize_(entrySize) {}

    // Opens a phone file (the phone creates a missing one); a new attribute value sets the
    // file's attribute. Names are 8-bit, 1 to E - 8 bytes (no upper limit while E is 0).
    int FsOpen(std::string_view name, std::uint32_t attribute);
    // Reads destination.size() bytes of the open file, 1024 per command. Fails when the size is
    // 0 or a reply carries fewer bytes than its piece asked for; pieces read before stay read.
    int FsRead(std::span<std::uint8_t> destination);
    // Writes the bytes to the open file, 1024 per command; nothing to write is success.
    int FsWrite(std::span<const std::uint8_t> source);
    // Positions the open file (the program uses offset 0, mode 0).
    int FsSeek(std::uint32_t offset, std::uint8_t mode);
    int FsClose();
    int FsDelete(std::string_view name);
    // The number of files the phone will list. 0 and 0xFFFF come back as they are: the file
    // list judges them.
    int FsCount(std::uint16_t& count);
    // The next chunk of the list into chunk (capacity chunk.size()); length is its byte count.
    int FsListChunk(std::span<std::uint8_t> chunk, std::uint32_t& length);
    // The volume name as UTF-16BE units, in a zeroed 128-unit area.
    int FsVolumeName(std::span<char16_t, fs::kMaxVolumeUnits> target);
    // Free space of the named volume (host-order units up to a 0 unit, at most 128). freeSpace
    // is 0 on every failure; a phone answering 0 is logged and fails.
    int FsFreeSpace(std::span<const char16_t> volumeName, std::uint32_t& freeSpace);

private:
    bool nameAcceptable(std::string_view name, std::size_t overhead) const;
    // One file-system command with the payload area's first `length` bytes into the reply area.
    int send(std::size_t length, std::uint8_t* reply, std::size_t capacity);
    // The rule shared by seek, close and delete: no one-byte reply, first byte not 1.
    int sendPlain(std::size_t length);

    CommandTransport& transport_;
    LogSink& log_;
    const EntrySizeSource& entrySize_;
    std::array<std::uint8_t, fs::kAreaSize> payload_{};
    std::array<std::uint8_t, fs::kAreaSize> reply_{};
    std::uint32_t replyLength_ = 0;
};

} // namespace telvane
