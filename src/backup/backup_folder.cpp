#include "backup/backup_folder.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <sys/locking.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "backup/pc_store.h"

namespace telvane::backup {

namespace stdfs = std::filesystem;

namespace {

bool digits(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// Snapshots in the order they were made: by time, then by the number after a taken name.
std::pair<std::string, unsigned long> snapshotOrder(const std::string& name) {
    if (name.size() <= 18) return {name, 1};
    return {name.substr(0, 18), std::stoul(name.substr(19))};
}

#ifdef _WIN32
int openForAppend(const stdfs::path& path) {
    return _wopen(osPath(path).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
}
#else
int openForAppend(const stdfs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}
#endif

} // namespace

bool isSnapshotName(const std::string& name) {
    // YYYY-MM-DDTHHMMSSZ, then -N when that time was taken.
    if (name.size() < 18 || !digits(name, 0, 4) || name[4] != '-' || !digits(name, 5, 2) || name[7] != '-' ||
        !digits(name, 8, 2) || name[10] != 'T' || !digits(name, 11, 6) || name[17] != 'Z')
        return false;
    if (name.size() == 18) return true;
    return name[18] == '-' && name.size() <= 25 && digits(name, 19, name.size() - 19);
}

std::vector<Snapshot> BackupFolder::snapshots(std::vector<std::string>* unreadable) const {
    std::vector<Snapshot> found;
    auto take = [&](const std::string& name, const stdfs::path& folder) {
        const stdfs::path file = folder / kManifestName;
        if (!pcPathExists(file)) return;
        const auto text = readTextFile(file, kManifestLimit);
        Snapshot snapshot{name, folder, {}};
        std::string error = "cannot be read";
        if (text && parseManifest(*text, snapshot.manifest, error)) {
            found.push_back(std::move(snapshot));
        } else if (unreadable != nullptr) {
            unreadable->push_back(pathText(file) + ": " + error);
        }
    };
    // A backup of the first format lies at the top of the folder: the oldest there is.
    take("", root_);
    std::vector<std::string> names;
    for (const PcFolderEntry& entry : listPcFolder(root_).value_or(std::vector<PcFolderEntry>{})) {
        const std::string name = pathText(entry.name);
        if (isSnapshotName(name) && (entry.kind == PcFolderEntry::Kind::Folder ||
                                     (entry.kind == PcFolderEntry::Kind::Other && isPcFolder(root_ / entry.name))))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return snapshotOrder(a) < snapshotOrder(b); });
    for (const std::string& name : names) take(name, root_ / pcPath(name));
    return found;
}

std::optional<Snapshot> BackupFolder::pick(const std::string& name, std::string& error) const {
    std::vector<std::string> unreadable;
    std::vector<Snapshot> all = snapshots(&unreadable);
    if (!name.empty()) {
        for (Snapshot& s : all)
            if (s.name == name) return std::move(s);
        error = "no complete backup named " + name + " in " + pathText(root_);
        return std::nullopt;
    }
    if (all.empty()) {
        error = unreadable.empty() ? "no complete backup in " + pathText(root_) : unreadable.back();
        return std::nullopt;
    }
    return std::move(all.back());
}

std::string BackupFolder::newSnapshotName() const {
    const std::string time = utcNow("%Y-%m-%dT%H%M%SZ");
    std::string name = time;
    for (int n = 2; pcPathExists(root_ / pcPath(name)); ++n) name = time + "-" + std::to_string(n);
    return name;
}

bool BackupFolder::publish(const std::string& name) {
    const stdfs::path target = root_ / pcPath(name);
    if (pcPathExists(target)) return false;
    std::error_code error;
    stdfs::rename(osPath(stagingFolder()), osPath(target), error);
    return !error && syncFolder(root_);
}

std::vector<std::string> BackupFolder::prune(std::size_t keep) {
    std::vector<std::string> removed;
    std::vector<Snapshot> all = snapshots();
    std::erase_if(all, [](const Snapshot& s) { return s.name.empty(); });
    if (keep == 0 || all.size() <= keep) return removed;
    for (std::size_t i = 0; i + keep < all.size(); ++i) {
        std::error_code error;
        // Its manifest goes first: what is left of a removal cut short is no longer a backup.
        stdfs::remove(osPath(all[i].folder / kManifestName), error);
        removePcTree(all[i].folder);
        removed.push_back(all[i].name);
    }
    return removed;
}

FolderLock::~FolderLock() {
#ifdef _WIN32
    if (fd_ >= 0) _close(fd_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
}

bool FolderLock::acquire(const stdfs::path& toolFolder) {
    if (fd_ >= 0) return true;
    const int fd = openForAppend(toolFolder / "lock");
    if (fd < 0) return false;
#ifdef _WIN32
    if (_locking(fd, _LK_NBLCK, 1) != 0) {
        _close(fd);
        return false;
    }
#else
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
#endif
    fd_ = fd;
    return true;
}

bool JournalWriter::open(const stdfs::path& path) {
    if (fd_ >= 0) return true;
    fd_ = openForAppend(path);
    return fd_ >= 0 && syncFolder(path.parent_path());
}

bool JournalWriter::append(const std::string& jsonLine, bool durable) {
    if (fd_ < 0) return false;
    const std::string line = jsonLine + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
#ifdef _WIN32
        const int n = _write(fd_, line.data() + done, static_cast<unsigned>(line.size() - done));
#else
        const auto n = ::write(fd_, line.data() + done, line.size() - done);
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    if (!durable) return true;
#ifdef _WIN32
    return _commit(fd_) == 0;
#else
    return ::fsync(fd_) == 0;
#endif
}

void JournalWriter::close() {
    if (fd_ < 0) return;
#ifdef _WIN32
    _close(fd_);
#else
    ::close(fd_);
#endif
    fd_ = -1;
}

std::vector<std::string> readJournalLines(const stdfs::path& path) {
    std::vector<std::string> lines;
    const auto text = readTextFile(path, kManifestLimit);
    if (!text) return lines;
    std::size_t start = 0;
    for (std::size_t end = text->find('\n'); end != std::string::npos; end = text->find('\n', start)) {
        lines.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return lines; // the part after the last line end was cut short
}

} // namespace telvane::backup
