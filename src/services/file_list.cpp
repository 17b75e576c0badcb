#include "services/file_list.h"

#include <cstring>
#include <new>

#include "common/byte_order.h"
#include "common/byte_reader.h"

namespace telvane {

namespace {
constexpr const char* kInvalidCount = "Invalid files count!\r\n";
constexpr const char* kAllocationFail = " Memory allocation fail\r\n";
constexpr const char* kEntrySizeInvalid = "FileList entry size invalid!\r\n";

std::uint16_t hostWord(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
} // namespace

// --- Records

std::string_view entryName(FileEntry entry) {
    if (!entry) return {};
    const auto* name = reinterpret_cast<const char*>(entry.record);
    const std::size_t field = entry.entrySize - fs::kNameOverhead;
    const void* end = std::memchr(name, 0, field);
    return {name, end ? static_cast<std::size_t>(static_cast<const char*>(end) - name) : field};
}

std::uint16_t entryAttribute(FileEntry entry) {
    return entry ? hostWord(entry.record + entry.entrySize - 8) : 0;
}

std::uint32_t entryAttributes32(FileEntry entry) {
    if (!entry) return 0;
    const std::uint8_t* p = entry.record + entry.entrySize - 8;
    return std::uint32_t{hostWord(p)} | (std::uint32_t{hostWord(p + 2)} << 16);
}

std::uint32_t entrySize(FileEntry entry) {
    if (!entry) return 0;
    std::uint32_t v;
    std::memcpy(&v, entry.record + entry.entrySize - 4, sizeof v);
    return v;
}

std::string_view entryExtension(FileEntry entry) {
    if (!entry) return {};
    const auto* name = reinterpret_cast<const char*>(entry.record);
    // The scan may see the attribute word's first byte when the name fills its field.
    const std::size_t last = entry.entrySize - fs::kNameOverhead;
    std::size_t end = 0;
    std::size_t dot = 0;
    bool found = false;
    for (; end <= last && name[end] != '\0'; ++end) {
        if (name[end] == '.') {
            dot = end;
            found = true;
        }
    }
    if (!found) return {};
    return {name + dot + 1, end - dot - 1};
}

void convertRecord(std::uint8_t* record, std::uint32_t entrySize) {
    std::uint8_t* p = record + entrySize - 8;
    const std::uint16_t attribute = readBe16(p);
    const std::uint16_t second = readBe16(p + 2);
    const std::uint32_t size = readBe32(p + 4);
    std::memcpy(p, &attribute, sizeof attribute);
    std::memcpy(p + 2, &second, sizeof second);
    std::memcpy(p + 4, &size, sizeof size);
}

// --- The list

std::unique_ptr<std::uint8_t[]> FileList::allocateZeroed(std::size_t bytes) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[bytes]());
}

std::uint32_t FileList::chunkEntrySize(std::uint32_t recordBytes, std::uint16_t records) {
    // The chunk's own record number settles the size wherever it can: 11 records of 268 bytes
    // are also a multiple of 44, and must not be cut into 67 records of 44.
    if (records > 0) {
        if (recordBytes == std::uint32_t{records} * list::kSmallEntry) return list::kSmallEntry;
        if (recordBytes == std::uint32_t{records} * list::kLargeEntry) return list::kLargeEntry;
    }
    if (recordBytes % list::kSmallEntry == 0) return list::kSmallEntry;
    if (recordBytes % list::kLargeEntry == 0) return list::kLargeEntry;
    return 0;
}

int FileList::readFileList(FsCommands& fs, Progress& progress) {
    std::uint16_t count = 0;
    if (fs.FsCount(count) != 0) return -1;
    if (count == 0 || count == 0xFFFF) {
        log_.appendLog(kInvalidCount);
        return -1;
    }
    const std::size_t bytes = std::size_t{count} * list::kLargeEntry;
    std::unique_ptr<std::uint8_t[]> block = allocate_(bytes);
    if (!block) {
        log_.appendLog(kAllocationFail);
        return -1;
    }
    // Only now is the previous list given up.
    block_ = std::move(block);
    blockBytes_ = bytes;
    filled_ = 0;
    count_ = count;
    remaining_ = count;
    complete_ = false;

    progress.setRange(0, count_);
    progress.setPosition(0);

    while (remaining_ > 0) {
        std::uint32_t length = 0;
        if (fs.FsListChunk(chunk_, length) != 0) return -1;
        // Only the bytes that arrived count; a reply too short for the header has no records.
        ByteReader reader(std::span<const std::uint8_t>(chunk_.data(), std::min<std::size_t>(length, chunk_.size())));
        std::uint16_t records = reader.be16();
        reader.be16();
        if (!reader.ok()) records = 0;
        const std::uint32_t recordBytes = static_cast<std::uint32_t>(reader.remaining());

        entrySize_ = chunkEntrySize(recordBytes, records);
        if (entrySize_ == 0) {
            log_.appendLog(kEntrySizeInvalid);
            return -1;
        }
        if (records == 0 || records > remaining_ || recordBytes > blockBytes_ - filled_) return -1;
        remaining_ -= records;
        progress.setPosition(count_ - remaining_);

        std::span<const std::uint8_t> data = reader.bytes(recordBytes);
        if (!data.empty()) std::memcpy(block_.get() + filled_, data.data(), data.size());
        filled_ += data.size();
    }

    for (std::uint32_t i = 0; i < count_; ++i) convertRecord(block_.get() + std::size_t{i} * entrySize_, entrySize_);
    complete_ = true;
    return 0;
}

std::uint32_t FileList::recordsReceived() const {
    if (!block_ || entrySize_ == 0) return 0;
    if (complete_) return count_;
    const std::size_t whole = filled_ / entrySize_;
    return static_cast<std::uint32_t>(std::min<std::size_t>(whole, count_ - remaining_));
}

FileEntry FileList::entry(std::uint32_t i) const {
    if (i >= recordsReceived()) return {};
    return {block_.get() + std::size_t{i} * entrySize_, entrySize_};
}

FileEntry FileList::entryAt(const void* address) const {
    if (!block_ || entrySize_ == 0 || address == nullptr) return {};
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    const auto base = reinterpret_cast<std::uintptr_t>(block_.get());
    if (a < base) return {};
    const std::uintptr_t offset = a - base;
    if (offset % entrySize_ != 0) return {};
    return entry(static_cast<std::uint32_t>(std::min<std::uintptr_t>(offset / entrySize_, 0xFFFFFFFFu)));
}

} // namespace telvane
