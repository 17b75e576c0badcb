#pragma once
#include <filesystem>
#include <string>

#include "backup/backup_reporter.h"
#include "backup/phone_files.h"
#include "backup/phone_match.h"

namespace telvane::backup {

// Reads the phone again and compares it with a snapshot of folder (the named one, or the
// newest): each file and seem record that differs is reported once, with everything that
// differs about it. Done when the phone and the backup are equal.
RunResult verifyBackup(PhoneFiles& phone, const PhoneIdentity& identity, const std::filesystem::path& folder,
                       const std::string& snapshotName, BackupReporter& reporter);

// Checks a snapshot's files against its manifest's hashes, with no phone: each file missing or
// damaged is reported. Done when every file is as the backup recorded it.
RunResult verifyOffline(const std::filesystem::path& folder, const std::string& snapshotName, BackupReporter& reporter);

} // namespace telvane::backup
