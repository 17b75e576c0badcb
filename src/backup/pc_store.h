#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::backup {

// Phone names are 8-bit texts; on the PC and in manifests they are UTF-8, each byte read as the
// Latin-1 character of its value, so every name has one PC spelling and back.
std::string latin1ToUtf8(std::string_view text);
// Nothing for a text that is not UTF-8 of characters up to U+00FF.
std::optional<std::string> utf8ToLatin1(std::string_view text);

// A PC path from UTF-8 text, and back (with '/' between folders).
std::filesystem::path pcPath(std::string_view utf8);
std::string pathText(const std::filesystem::path& path);

// The form of a path the file functions take: on Windows an absolute path in the long form, so
// a backup's deep folders are not cut off at 260 characters; elsewhere the path itself.
std::filesystem::path osPath(const std::filesystem::path& path);

// A PC file created new and written; finish() puts its bytes on the disk before anyone relies
// on them. Closed (and left as it is) when dropped unfinished.
class PcFileWriter {
public:
    PcFileWriter() = default;
    ~PcFileWriter();
    PcFileWriter(const PcFileWriter&) = delete;
    PcFileWriter& operator=(const PcFileWriter&) = delete;

    // Creates the file; false when a file of that name exists or it cannot be created.
    bool create(const std::filesystem::path& path);
    bool write(std::span<const std::uint8_t> bytes);
    // Closes the file, first flushing it to the disk unless told it need not be yet (a caller
    // that flushes many files at once later); false when anything failed since create().
    bool finish(bool durable = true);

private:
    int fd_ = -1;
    bool failed_ = false;
};

// An existing PC file read piece by piece.
class PcFileReader {
public:
    PcFileReader() = default;
    ~PcFileReader();
    PcFileReader(const PcFileReader&) = delete;
    PcFileReader& operator=(const PcFileReader&) = delete;

    // Opens a regular file for reading; false when it is not one or cannot be opened.
    bool open(const std::filesystem::path& path);
    std::uint64_t size() const { return size_; }
    // Fills as much of bytes as the file has left; the count read, or nothing on a read error.
    std::optional<std::size_t> read(std::span<std::uint8_t> bytes);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// A PC file's size and SHA-256, read piece by piece. Nothing when it cannot be read whole.
struct PcFileDigest {
    std::uint64_t size = 0;
    std::string sha256;
};
std::optional<PcFileDigest> digestPcFile(const std::filesystem::path& path);

// Puts the bytes of files (relative to folder) on the disk: on Linux all of the folder's file
// system at once, elsewhere file by file. False when one could not be.
bool flushPcFiles(const std::filesystem::path& folder, const std::vector<std::filesystem::path>& files);

// Puts a folder's entries (a rename into it, a new file) on the disk. True where the system
// has no such step.
bool syncFolder(const std::filesystem::path& folder);

// A whole small file (manifests, journals) as text, at most limit bytes.
std::optional<std::string> readTextFile(const std::filesystem::path& path, std::uint64_t limit);

// Writes text as a new file at path through a temporary name beside it, flushed and then renamed,
// so the path holds the whole text or nothing. Fails when path exists.
bool publishTextFile(const std::filesystem::path& path, std::string_view text);

// One entry of a PC folder. A link (or junction) is Other, never a folder to descend into.
struct PcFolderEntry {
    enum class Kind { File, Folder, Other };
    std::filesystem::path name;
    Kind kind = Kind::Other;
};
// The entries of a folder, or nothing when it cannot be read. Every walk and removal below a
// backup folder lists through this: MinGW's directory iterator cannot open a folder whose path
// passes 260 characters, and lists another folder instead.
std::optional<std::vector<PcFolderEntry>> listPcFolder(const std::filesystem::path& folder);
// The regular files anywhere below folder, relative to it; nothing when a folder in it cannot
// be read. Links are not followed.
std::optional<std::vector<std::filesystem::path>> pcFilesBelow(const std::filesystem::path& folder);
// Removes folder and everything in it (a link in it goes, not what it leads to). True when
// nothing is left of it, or it was not there.
bool removePcTree(const std::filesystem::path& folder);

// True when something (a file, a folder, a link) stands at path.
bool pcPathExists(const std::filesystem::path& path);
bool isPcFolder(const std::filesystem::path& path);

// A name no file of this process or another has used in folder: for a temporary file that must
// never be mistaken for, or overwrite, anything else.
std::string uniqueTemporaryName(std::string_view prefix);

} // namespace telvane::backup
