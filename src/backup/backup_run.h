#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "backup/backup_reporter.h"
#include "backup/phone_files.h"
#include "backup/phone_match.h"

namespace telvane::backup {

struct BackupOptions {
    bool withSeems = true;
    std::uint16_t seemFrom = 0x0000;
    std::uint16_t seemTo = 0x0300;
    bool otherPhone = false; // back up into a folder that holds another phone's backup
    std::size_t keep = 0;    // the newest snapshots kept after this one is made; 0 keeps all
};

// Backs the whole phone up into a new snapshot of folder. After Done the newest snapshot holds
// exactly the phone as it was during the run: every file and seem record read in full from the
// phone, each with its SHA-256 in the manifest. Anything less leaves the earlier snapshots as
// they were and the unfinished run in the tool's folder, where the next run for the same phone
// takes up what it fetched completely.
RunResult backupPhone(PhoneFiles& phone, const PhoneIdentity& identity, const std::filesystem::path& folder,
                      const BackupOptions& options, BackupReporter& reporter);

// Why backupPhone would refuse folder unless BackupOptions::otherPhone is set ("holds another
// phone's backup: ..." or "holds an unfinished backup of ..."), or nothing when it would not:
// for a caller that asks its user before anything is written. Reads the folder and a few of the
// phone's seem records; writes nothing.
std::optional<std::string> otherPhoneBackupIn(PhoneFiles& phone, const PhoneIdentity& identity,
                                              const std::filesystem::path& folder);

} // namespace telvane::backup
