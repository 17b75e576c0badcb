#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_folder.h"
#include "backup/backup_reporter.h"
#include "backup/phone_files.h"
#include "backup/phone_match.h"

namespace telvane::backup {

struct RestoreOptions {
    std::string snapshot;    // "" for the newest
    bool filesOnly = false;
    bool seemsOnly = false;
    bool dryRun = false;     // plan only: nothing is written
    bool force = false;      // replace phone files without asking
    bool otherPhone = false; // restore another phone's backup onto this one
    bool canAsk = false;     // a person is there to answer whether a phone file is replaced
};

// What a restore does with one file of the backup.
enum class FileAction {
    Upload,       // not on the phone
    Replace,      // on the phone with other bytes; replaced without asking (--force)
    AskReplace,   // on the phone with other bytes; replaced when the user says yes
    Keep,         // on the phone with other bytes; left, as nobody can be asked
    Rewrite,      // cut short by an earlier restore: written again, whatever it holds now
    SetAttribute, // the same bytes, another attribute word
    Unchanged,    // the same bytes and attribute
    Refuse,       // cannot be restored (why says why)
};
enum class SeemAction { Write, Unchanged, Refuse };

struct RestorePlan {
    struct File {
        Manifest::File entry;
        std::string phoneName; // 8-bit
        FileAction action = FileAction::Unchanged;
        std::uint32_t sizeOnPhone = 0;
        std::string expectedSha256; // of the backup's copy, as read while planning
        std::string why;
    };
    struct Seem {
        Manifest::Seem entry;
        SeemAction action = SeemAction::Unchanged;
        std::vector<std::uint8_t> bytes; // the backup's record
        std::string why;
    };
    Snapshot snapshot;
    std::vector<File> files;
    std::vector<Seem> seems;
    std::uint32_t freeBefore = 0;
    std::uint64_t freeAfter = 0; // if every upload and replacement is made
    bool seemsFailed = false;    // a seem read's exchange failed: the seems were not all planned
};

// Decides, reading the phone and the backup, what a restore writes: the one plan that both the
// dry run and the restore print and follow. Nothing, after a failure said through reporter, when
// there is no backup to restore or it is not this phone's.
std::optional<RestorePlan> planRestore(PhoneFiles& phone, const PhoneIdentity& identity,
                                       const std::filesystem::path& folder, const RestoreOptions& options,
                                       BackupReporter& reporter);

// The plan as lines: one per file or record that changes or is refused, then the counts and the
// free space before and after.
std::vector<std::string> describePlan(const RestorePlan& plan);

// Carries a plan out. Each phone file is journaled before it is written and once it is whole, so
// a file cut short by a stop, an unplug or a failure is named as incomplete and rewritten by the
// next restore; a phone file is never deleted.
RunResult carryOutRestore(PhoneFiles& phone, const PhoneIdentity& identity, const std::filesystem::path& folder,
                          const RestorePlan& plan, BackupReporter& reporter);

// Plans, prints the plan, and (unless a dry run) carries it out.
RunResult restoreBackup(PhoneFiles& phone, const PhoneIdentity& identity, const std::filesystem::path& folder,
                        const RestoreOptions& options, BackupReporter& reporter);

} // namespace telvane::backup
