#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/manifest.h"

namespace telvane::backup {

// The tool's own folder in a backup folder: the unfinished run, its journals and the lock. No PC
// path of a phone file or seem record is ever in it.
inline constexpr const char* kToolFolderName = ".telvane";

// One complete backup in a backup folder.
struct Snapshot {
    std::string name;               // its folder's name; "" for a first-format backup at the top
    std::filesystem::path folder;   // where its files/, seems/ and manifest.json are
    Manifest manifest;
};

// A backup folder: dated snapshots side by side, each a plain folder with files/, seems/ and
// manifest.json that came into being whole by one rename, and the tool's folder with the run
// that has not finished yet. A snapshot is never changed after it is published, so a run that
// fails or is killed cannot damage one.
class BackupFolder {
public:
    explicit BackupFolder(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path toolFolder() const { return root_ / kToolFolderName; }
    std::filesystem::path stagingFolder() const { return toolFolder() / "staging"; }
    std::filesystem::path backupJournalPath() const { return toolFolder() / "backup-journal.jsonl"; }
    std::filesystem::path restoreJournalPath() const { return toolFolder() / "restore-journal.jsonl"; }

    // The complete snapshots, oldest first. Folders named as snapshots whose manifest cannot be
    // read are listed in unreadable, with why.
    std::vector<Snapshot> snapshots(std::vector<std::string>* unreadable = nullptr) const;
    // The snapshot a command works on: the one named, or the newest. Nothing, with the reason in
    // error, when there is none.
    std::optional<Snapshot> pick(const std::string& name, std::string& error) const;
    // A free name for a snapshot made now ("2026-12-10T013405Z", "-2" after it when taken).
    std::string newSnapshotName() const;
    // Makes the staging folder the snapshot of that name, by one rename that is then flushed.
    bool publish(const std::string& name);
    // Removes the oldest dated snapshots beyond the newest keep; the names removed.
    std::vector<std::string> prune(std::size_t keep);

private:
    std::filesystem::path root_;
};

// True for a name a snapshot folder has.
bool isSnapshotName(const std::string& name);

// Keeps a second run of the tool out of a backup folder while one works in it. The lock goes
// with the process, however it ends.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // False when another run holds the folder, or the lock file cannot be made.
    bool acquire(const std::filesystem::path& toolFolder);

private:
    int fd_ = -1;
};

// An append-only journal of JSON lines, each flushed to the disk before the call returns unless
// told otherwise. A line cut short by a crash is ignored when read.
class JournalWriter {
public:
    // Opens the journal to add to it (made when missing); false when it cannot be.
    bool open(const std::filesystem::path& path);
    // Adds a line; durable flushes it to the disk before returning. A line that need not be
    // durable is one whose loss only costs work again (what it vouches for is checked on reading).
    bool append(const std::string& jsonLine, bool durable = true);
    void close();
    ~JournalWriter() { close(); }

private:
    int fd_ = -1;
};

// The whole lines of a journal, in order (a journal that cannot be read has none).
std::vector<std::string> readJournalLines(const std::filesystem::path& path);

} // namespace telvane::backup
