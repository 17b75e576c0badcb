#pragma once
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "backup/pc_store.h"
#include "session/pc_file_name.h"

namespace telvane::cli {

using backup::latin1ToUtf8;
using backup::pathText;
using backup::pcPath;
using backup::pcPathExists;
using backup::utf8ToLatin1;

// A PC file written under a temporary name of its own beside its final one, which it takes only
// once complete: no partial file ever stands under the final name, and the temporary name is
// made new, so it never replaces a file of the user's (or another run's part).
class PartialFile {
public:
    explicit PartialFile(std::filesystem::path target) : target_(std::move(target)) {}
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // False when the temporary file could not be created.
    bool open();
    bool write(std::span<const std::uint8_t> bytes);
    // Flushes the file and gives it the final name; an existing file there is replaced only when
    // asked. False (and the temporary file removed) when that did not happen.
    bool commit(bool replace);

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    backup::PcFileWriter writer_;
    bool committed_ = false;
};

// The whole of a PC file, at most limit bytes; false when it cannot be read or is larger.
bool readPcFile(const std::filesystem::path& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes);

} // namespace telvane::cli
