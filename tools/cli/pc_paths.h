#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "session/pc_file_name.h"

namespace telvane::cli {

// Phone names are 8-bit texts; on the PC and in the manifest they are UTF-8, each byte read as
// the Latin-1 character of its value, so every name has one PC spelling and back.
std::string latin1ToUtf8(std::string_view text);
// Nothing for a text that is not UTF-8 of characters up to U+00FF.
std::optional<std::string> utf8ToLatin1(std::string_view text);

// A PC path from UTF-8 text, and back (with '/' between folders, as the manifest keeps it).
std::filesystem::path pcPath(std::string_view utf8);
std::string pathText(const std::filesystem::path& path);

// Where a phone file goes in a backup folder, relative to it: "files/" and, on a tree phone,
// the folders below the volume kept; every component made a name the PC can hold (as the window
// names its downloads).
std::string backupFilePath(std::string_view phoneName, std::string_view volume, bool treeMode);

// A PC file written under a temporary name beside its final one, which it takes only once
// complete: no partial file ever stands under the final name. Removed when not committed.
class PartialFile {
public:
    explicit PartialFile(std::filesystem::path target);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // False when the temporary file could not be created.
    bool open();
    bool write(std::span<const std::uint8_t> bytes);
    // Closes the file and gives it the final name; an existing file there is replaced only when
    // asked. False (and the temporary file removed) when that did not happen.
    bool commit(bool replace);

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::ofstream stream_;
    bool committed_ = false;
};

// The whole of a PC file, at most limit bytes; false when it cannot be read or is larger.
bool readPcFile(const std::filesystem::path& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes);

// True for a path that names an existing file (or anything else) on the PC.
bool pcPathExists(const std::filesystem::path& path);

} // namespace telvane::cli
