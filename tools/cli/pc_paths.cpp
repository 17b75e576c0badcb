#include "tools/cli/pc_paths.h"

#include <system_error>

#include "services/wide_text.h"
#include "session/pc_file_name.h"

namespace telvane::cli {

namespace stdfs = std::filesystem;

std::string latin1ToUtf8(std::string_view text) {
    std::u16string units;
    for (char c : text) units.push_back(static_cast<unsigned char>(c));
    return utf8Text(units);
}

std::optional<std::string> utf8ToLatin1(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            continue;
        }
        if ((byte & 0xFE) != 0xC2 || i + 1 >= text.size()) return std::nullopt;
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        out.push_back(static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}

stdfs::path pcPath(std::string_view utf8) {
    return stdfs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string pathText(const stdfs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string backupFilePath(std::string_view phoneName, std::string_view volume, bool treeMode) {
    std::string path = "files";
    if (!treeMode) {
        // A flat phone's name is one name, whatever it holds: no part of it is dropped.
        std::string name(phoneName);
        for (char& c : name)
            if (c == '/' || c == '\\') c = '_';
        return path + "/" + latin1ToUtf8(pcFileName(name));
    }
    std::string_view below = phoneName;
    if (!volume.empty() && below.starts_with(volume) && below.size() > volume.size() && below[volume.size()] == '/')
        below.remove_prefix(volume.size() + 1);
    while (!below.empty()) {
        const std::size_t slash = below.find('/');
        const std::string_view part = below.substr(0, slash);
        // Empty components ("//") add no folder; the rest become names the PC can hold.
        if (!part.empty()) path += "/" + latin1ToUtf8(pcFileName(part));
        if (slash == std::string_view::npos) break;
        below.remove_prefix(slash + 1);
    }
    return path == "files" ? path + "/_" : path;
}

PartialFile::PartialFile(stdfs::path target) : target_(std::move(target)) {
    stdfs::path name = target_.filename();
    name += ".telvane-part";
    temporary_ = target_.parent_path() / (stdfs::path(".") += name);
}

PartialFile::~PartialFile() {
    if (committed_) return;
    if (stream_.is_open()) stream_.close();
    std::error_code ignored;
    stdfs::remove(temporary_, ignored);
}

bool PartialFile::open() {
    // A part left by a run that was killed outright is this program's own: it is written anew.
    stream_.open(temporary_, std::ios::binary | std::ios::trunc);
    return stream_.is_open();
}

bool PartialFile::write(std::span<const std::uint8_t> bytes) {
    stream_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(stream_);
}

bool PartialFile::commit(bool replace) {
    stream_.close();
    if (stream_.fail()) return false;
    std::error_code error;
    if (stdfs::exists(stdfs::symlink_status(target_, error))) {
        if (!replace) return false;
        // Windows will not rename onto an existing file.
        if (!stdfs::remove(target_, error)) return false;
    }
    stdfs::rename(temporary_, target_, error);
    if (error) return false;
    committed_ = true;
    return true;
}

bool readPcFile(const stdfs::path& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    std::error_code error;
    if (!stdfs::is_regular_file(path, error)) return false;
    const std::uintmax_t size = stdfs::file_size(path, error);
    if (error || size > limit) return false;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return false;
    bytes.resize(static_cast<std::size_t>(size));
    stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<std::uint64_t>(stream.gcount()) == size;
}

bool pcPathExists(const stdfs::path& path) {
    std::error_code error;
    return stdfs::exists(stdfs::symlink_status(path, error));
}

} // namespace telvane::cli
