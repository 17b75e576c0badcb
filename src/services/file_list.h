#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/log_sink.h"
#include "services/fs_commands.h"
#include "services/progress.h"

namespace telvane {

namespace list {
constexpr std::uint32_t kSmallEntry = 44;
constexpr std::uint32_t kLargeEntry = 268;
constexpr std::size_t kChunkAreaSize = 4096;
constexpr std::size_t kChunkHeaderSize = 4; // record number (BE16), two bytes not examined
} // namespace list

// One record of the list: its address in the list's block and the entry size E it was laid out
// with. Layout: name (E - 8 bytes, zero-terminated inside the field unless it fills it),
// attribute word, second word, file size; numbers in host order once the list is complete.
// An entry with a null record stands for "no entry".
struct FileEntry {
    const std::uint8_t* record = nullptr;
    std::uint32_t entrySize = 0; // E: 44 or 268

    explicit operator bool() const {
        return record != nullptr && (entrySize == list::kSmallEntry || entrySize == list::kLargeEntry);
    }
};

// Accessors of a record; each gives an empty text or 0 for no entry.
// The name field's text, up to its terminator or the end of the field.
std::string_view entryName(FileEntry entry);
// The attribute word (low 16 bits of the 32-bit value at E - 8).
std::uint16_t entryAttribute(FileEntry entry);
// Attribute word in the low half, second word in the high half: the "Attributes" column.
std::uint32_t entryAttributes32(FileEntry entry);
// The file size in bytes.
std::uint32_t entrySize(FileEntry entry);
// The text after the last '.' of the name (a '.' in a folder counts too), or an empty text.
// The scan covers name offsets 0 to E - 8 and stops at the terminator; the result points into
// the record and ends where the scan ended.
std::string_view entryExtension(FileEntry entry);

// Turns a record as it came from the phone (big-endian numbers) into host order, in place.
void convertRecord(std::uint8_t* record, std::uint32_t entrySize);

// The phone's file list: one zeroed block of count × 268 bytes holding the records back to
// back with stride E. Records keep their addresses until the next read replaces the block, and
// that happens only once the next read's count is accepted and its block allocated.
class FileList final : public EntrySizeSource {
public:
    // Gives a zeroed block of the size asked for, or null. Replaceable for tests.
    using BlockAllocator = std::unique_ptr<std::uint8_t[]> (*)(std::size_t bytes);
    static std::unique_ptr<std::uint8_t[]> allocateZeroed(std::size_t bytes);

    explicit FileList(LogSink& log, BlockAllocator allocate = &FileList::allocateZeroed)
        : log_(log), allocate_(allocate) {}
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    // Reads the whole list (count, then chunks until every record arrived), showing progress
    // from 0 to count. 0 when complete and converted, -1 otherwise.
    int readFileList(FsCommands& fs, Progress& progress);

    // The count the phone gave for the current block (0 before any block).
    std::uint32_t count() const { return count_; }
    // E: 44 or 268, set by every chunk; 0 before any list and after a chunk of invalid size.
    std::uint32_t recordSize() const override { return entrySize_; }
    // True once a read has ended with 0: every one of count() records is converted.
    bool complete() const { return complete_; }
    // Records that may be read: all count() of a complete list; of a list whose read failed
    // part-way, those wholly received (still in the phone's byte order).
    std::uint32_t recordsReceived() const;
    // The i-th record, or no entry when i is not below recordsReceived().
    FileEntry entry(std::uint32_t i) const;
    // The entry at an address taken from entry(i).record (a list row's item data), or no entry
    // when the address is not the start of a readable record of this list.
    FileEntry entryAt(const void* address) const;

private:
    // Settles E for one chunk; 0 when the byte count fits neither size.
    static std::uint32_t chunkEntrySize(std::uint32_t recordBytes, std::uint16_t records);

    LogSink& log_;
    BlockAllocator allocate_;
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t blockBytes_ = 0;
    std::size_t filled_ = 0;       // record bytes received into the block
    std::uint32_t count_ = 0;
    std::uint32_t remaining_ = 0;
    std::uint32_t entrySize_ = 0;
    bool complete_ = false;
    std::array<std::uint8_t, list::kChunkAreaSize> chunk_{};
};

} // namespace telvane
