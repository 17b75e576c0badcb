#include "tools/cli/pc_paths.h"

#include <system_error>

namespace telvane::cli {

namespace stdfs = std::filesystem;

PartialFile::~PartialFile() {
    if (committed_ || temporary_.empty()) return;
    writer_.finish();
    std::error_code ignored;
    stdfs::remove(backup::osPath(temporary_), ignored);
}

bool PartialFile::open() {
    // A name of its own each time: nothing that stands beside the target is ever opened.
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary_ = target_.parent_path() / backup::uniqueTemporaryName(".telvane-part-");
        if (writer_.create(temporary_)) return true;
        if (pcPathExists(temporary_)) continue;
        break;
    }
    temporary_.clear();
    return false;
}

bool PartialFile::write(std::span<const std::uint8_t> bytes) { return writer_.write(bytes); }

bool PartialFile::commit(bool replace) {
    if (temporary_.empty() || !writer_.finish()) return false;
    std::error_code error;
    if (pcPathExists(target_)) {
        if (!replace) return false;
        // Windows will not rename onto an existing file.
        if (!stdfs::remove(backup::osPath(target_), error)) return false;
    }
    stdfs::rename(backup::osPath(temporary_), backup::osPath(target_), error);
    if (error) return false;
    committed_ = true;
    return true;
}

bool readPcFile(const stdfs::path& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    backup::PcFileReader reader;
    if (!reader.open(path) || reader.size() > limit) return false;
    bytes.resize(static_cast<std::size_t>(reader.size()));
    const auto n = reader.read(bytes);
    return n && *n == bytes.size();
}

} // namespace telvane::cli
