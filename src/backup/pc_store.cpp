#include "backup/pc_store.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <random>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/sha256.h"
#include "services/wide_text.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;

namespace {

#ifdef _WIN32
int openNew(const stdfs::path& path) {
    return _wopen(osPath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int openExisting(const stdfs::path& path) { return _wopen(osPath(path).c_str(), _O_RDONLY | _O_BINARY); }
long long writeSome(int fd, const std::uint8_t* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
long long readSome(int fd, std::uint8_t* data, std::size_t n) {
    return _read(fd, data, static_cast<unsigned>(std::min<std::size_t>(n, 1u << 30)));
}
bool flushToDisk(int fd) { return _commit(fd) == 0; }
int closeFile(int fd) { return _close(fd); }
#else
int openNew(const stdfs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}
int openExisting(const stdfs::path& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
long long writeSome(int fd, const std::uint8_t* data, std::size_t n) { return ::write(fd, data, n); }
long long readSome(int fd, std::uint8_t* data, std::size_t n) { return ::read(fd, data, n); }
bool flushToDisk(int fd) { return ::fsync(fd) == 0; }
int closeFile(int fd) { return ::close(fd); }
#endif

} // namespace

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

stdfs::path osPath(const stdfs::path& path) {
#ifdef _WIN32
    const std::wstring& native = path.native();
    if (native.starts_with(L"\\\\")) return path; // already long, or a share
    std::error_code error;
    stdfs::path whole = stdfs::absolute(path, error);
    if (error) return path;
    whole.make_preferred();
    if (whole.native().size() < 240) return path;
    return stdfs::path(L"\\\\?\\" + whole.native());
#else
    return path;
#endif
}

PcFileWriter::~PcFileWriter() {
    if (fd_ >= 0) closeFile(fd_);
}

bool PcFileWriter::create(const stdfs::path& path) {
    if (fd_ >= 0) return false;
    fd_ = openNew(path);
    failed_ = fd_ < 0;
    return fd_ >= 0;
}

bool PcFileWriter::write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || failed_) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long long n = writeSome(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool PcFileWriter::finish(bool durable) {
    if (fd_ < 0) return false;
    bool ok = !failed_ && (!durable || flushToDisk(fd_));
    if (closeFile(fd_) != 0) ok = false;
    fd_ = -1;
    return ok;
}

PcFileReader::~PcFileReader() {
    if (fd_ >= 0) closeFile(fd_);
}

bool PcFileReader::open(const stdfs::path& path) {
    if (fd_ >= 0) return false;
    std::error_code error;
    if (!stdfs::is_regular_file(osPath(path), error)) return false;
    const std::uintmax_t size = stdfs::file_size(osPath(path), error);
    if (error) return false;
    fd_ = openExisting(path);
    size_ = size;
    return fd_ >= 0;
}

std::optional<std::size_t> PcFileReader::read(std::span<std::uint8_t> bytes) {
    if (fd_ < 0) return std::nullopt;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long long n = readSome(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<PcFileDigest> digestPcFile(const stdfs::path& path) {
    PcFileReader reader;
    if (!reader.open(path)) return std::nullopt;
    Sha256 hash;
    std::vector<std::uint8_t> piece(64 * 1024);
    PcFileDigest digest;
    for (;;) {
        const auto n = reader.read(piece);
        if (!n) return std::nullopt;
        if (*n == 0) break;
        hash.update({piece.data(), *n});
        digest.size += *n;
    }
    if (digest.size != reader.size()) return std::nullopt; // changed while it was read
    digest.sha256 = hash.hexDigest();
    return digest;
}

bool flushPcFiles(const stdfs::path& folder, const std::vector<stdfs::path>& files) {
#ifdef __linux__
    // One call for the whole file system beats hundreds of flushes of small files.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        const bool ok = ::syncfs(fd) == 0;
        ::close(fd);
        if (ok) return true;
    }
#endif
    bool ok = true;
    for (const stdfs::path& file : files) {
#ifdef _WIN32
        // Flushing takes a handle that may write.
        const int fd = _wopen(osPath(folder / file).c_str(), _O_RDWR | _O_BINARY);
#else
        const int fd = ::open((folder / file).c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd < 0) {
            ok = false;
            continue;
        }
        ok = flushToDisk(fd) && ok;
        closeFile(fd);
    }
    return ok;
}

bool syncFolder(const stdfs::path& folder) {
#ifdef _WIN32
    (void)folder; // a rename is on the disk once the call returns
    return true;
#else
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
#endif
}

std::optional<std::string> readTextFile(const stdfs::path& path, std::uint64_t limit) {
    PcFileReader reader;
    if (!reader.open(path) || reader.size() > limit) return std::nullopt;
    std::string text(static_cast<std::size_t>(reader.size()), '\0');
    const auto n = reader.read({reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
    if (!n || *n != text.size()) return std::nullopt;
    return text;
}

bool publishTextFile(const stdfs::path& path, std::string_view text) {
    if (pcPathExists(path)) return false;
    const stdfs::path temporary = path.parent_path() / uniqueTemporaryName(".telvane-new-");
    PcFileWriter writer;
    const bool written = writer.create(temporary) &&
                         writer.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) &&
                         writer.finish();
    std::error_code error;
    if (written && !pcPathExists(path)) {
        stdfs::rename(osPath(temporary), osPath(path), error);
        if (!error) return syncFolder(path.parent_path().empty() ? stdfs::path(".") : path.parent_path());
    }
    stdfs::remove(osPath(temporary), error);
    return false;
}

#ifdef _WIN32
std::optional<std::vector<PcFolderEntry>> listPcFolder(const stdfs::path& folder) {
    // The system's own search takes the long form; _wopendir, below std::filesystem's iterator,
    // cuts the path at 260 characters.
    std::wstring pattern = osPath(folder).native();
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    _wfinddata64_t found{};
    const intptr_t search = _wfindfirst64(pattern.c_str(), &found);
    if (search == -1) return std::nullopt; // even an empty folder holds "." and ".."
    constexpr unsigned kReparsePoint = 0x400; // a link or junction
    std::vector<PcFolderEntry> entries;
    do {
        const std::wstring_view name = found.name;
        if (name == L"." || name == L"..") continue;
        const PcFolderEntry::Kind kind = (found.attrib & kReparsePoint) != 0 ? PcFolderEntry::Kind::Other
                                         : (found.attrib & _A_SUBDIR) != 0   ? PcFolderEntry::Kind::Folder
                                                                             : PcFolderEntry::Kind::File;
        entries.push_back({stdfs::path(found.name), kind});
    } while (_wfindnext64(search, &found) == 0);
    const bool whole = errno == ENOENT; // the end of the list, not a failure part-way
    _findclose(search);
    if (!whole) return std::nullopt;
    return entries;
}
#else
std::optional<std::vector<PcFolderEntry>> listPcFolder(const stdfs::path& folder) {
    std::vector<PcFolderEntry> entries;
    std::error_code error;
    for (stdfs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const stdfs::file_type type = it->symlink_status(error).type();
        entries.push_back({it->path().filename(), type == stdfs::file_type::regular     ? PcFolderEntry::Kind::File
                                                  : type == stdfs::file_type::directory ? PcFolderEntry::Kind::Folder
                                                                                        : PcFolderEntry::Kind::Other});
    }
    if (error) return std::nullopt;
    return entries;
}
#endif

namespace {

bool collectFiles(const stdfs::path& folder, const stdfs::path& relative, std::vector<stdfs::path>& files) {
    const auto entries = listPcFolder(folder);
    if (!entries) return false;
    for (const PcFolderEntry& entry : *entries) {
        if (entry.kind == PcFolderEntry::Kind::File) files.push_back(relative / entry.name);
        if (entry.kind == PcFolderEntry::Kind::Folder &&
            !collectFiles(folder / entry.name, relative / entry.name, files))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::vector<stdfs::path>> pcFilesBelow(const stdfs::path& folder) {
    std::vector<stdfs::path> files;
    if (!collectFiles(folder, {}, files)) return std::nullopt;
    return files;
}

bool removePcTree(const stdfs::path& folder) {
    std::error_code error;
    const stdfs::file_type type = stdfs::symlink_status(osPath(folder), error).type();
    if (type == stdfs::file_type::not_found) return true;
    if (type == stdfs::file_type::directory) {
        if (const auto entries = listPcFolder(folder)) {
            for (const PcFolderEntry& entry : *entries) {
                if (entry.kind == PcFolderEntry::Kind::Folder) removePcTree(folder / entry.name);
                else stdfs::remove(osPath(folder / entry.name), error);
            }
        }
    }
    stdfs::remove(osPath(folder), error);
    return !pcPathExists(folder);
}

bool pcPathExists(const stdfs::path& path) {
    std::error_code error;
    return stdfs::exists(stdfs::symlink_status(osPath(path), error));
}

bool isPcFolder(const stdfs::path& path) {
    std::error_code error;
    return stdfs::is_directory(osPath(path), error);
}

std::string uniqueTemporaryName(std::string_view prefix) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    std::uint64_t value = seed + counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    value ^= value >> 29;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name(prefix);
    for (int i = 0; i < 16; ++i, value >>= 4) name.push_back(kDigits[value & 0xF]);
    return name;
}

} // namespace telvane::backup
