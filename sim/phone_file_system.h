#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace telvane::sim {

// One file on the virtual phone.
struct PhoneFile {
    std::string name;             // 8-bit; a full path on a phone whose volume is a path
    std::uint16_t attribute = 0;  // the attribute word
    std::uint16_t second = 0;     // the word shown beside it, not interpreted
    std::vector<std::uint8_t> bytes;
};

// How a file-system request ended.
enum class FsOutcome { Ok, NotFound, NotOpen, NoSpace, BadName, BadPosition, Busy };

// The phone's files in listing order (new files at the end), with one open file at a time.
// Opening a missing file creates it empty; every open sets the file's attribute word. The first
// write after an open cuts the file at the write position, so writing a file anew replaces it,
// while opening only to read leaves it whole. Growth takes free space, shrinking gives it back.
class PhoneFileSystem {
public:
    PhoneFileSystem(std::uint32_t freeSpace, std::size_t maxNameLength)
        : freeSpace_(freeSpace), maxNameLength_(maxNameLength) {}

    // Adds a file as it stands (setting a phone up); false for a bad or taken name. Takes no
    // free space: the free space given is what remains beside the files.
    bool add(PhoneFile file);

    FsOutcome open(std::string_view name, std::uint32_t attribute);
    // Up to count bytes from the position on (fewer at the end of the file).
    FsOutcome read(std::uint32_t count, std::vector<std::uint8_t>& out);
    FsOutcome write(std::span<const std::uint8_t> bytes);
    // mode 0: from the start, 1: from the position, 2: from the end. The position stays within
    // the file.
    FsOutcome seek(std::uint32_t offset, std::uint8_t mode);
    FsOutcome close();
    // The open file cannot be deleted.
    FsOutcome remove(std::string_view name);

    const std::vector<PhoneFile>& files() const { return files_; }
    const PhoneFile* find(std::string_view name) const;
    std::uint32_t freeSpace() const { return freeSpace_; }
    void setFreeSpace(std::uint32_t bytes) { freeSpace_ = bytes; }
    std::size_t maxNameLength() const { return maxNameLength_; }
    // The open file's name, if one is open.
    std::optional<std::string> openName() const;
    std::uint32_t position() const { return position_; }
    // Forgets the open file (the phone restarted).
    void reset();

private:
    PhoneFile* findMutable(std::string_view name);
    bool nameValid(std::string_view name) const;
    void append(PhoneFile file);

    // Looked up by a name's view without copying it.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };

    std::vector<PhoneFile> files_;
    // Where each name stands in files_: a phone of thousands of files is set up and searched
    // without walking them all for every name.
    std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index_;
    std::uint32_t freeSpace_;
    std::size_t maxNameLength_;
    std::optional<std::string> open_;
    std::uint32_t position_ = 0;
    bool written_ = false; // a write happened since the open
};

} // namespace telvane::sim
