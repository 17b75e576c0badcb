#include "ui/whole_phone/whole_phone_commands.h"

#include "backup/backup_folder.h"
#include "backup/backup_run.h"
#include "backup/pc_store.h"
#include "backup/restore_run.h"
#include "backup/verify_run.h"
#include "services/wide_text.h"
#include "session/phone_identity.h"
#include "ui/whole_phone/restore_question.h"
#include "ui/whole_phone/window_reporter.h"

namespace telvane {

namespace {

using backup::RunResult;

constexpr std::string_view kBackUpTitle = "Back up phone";
constexpr std::string_view kVerifyTitle = "Verify backup";
constexpr std::string_view kRestoreTitle = "Restore from backup";

std::string counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "incomplete: 3 failed (see above)", for a run whose failures have their own lines.
std::string incomplete(const WindowReporter& reporter) {
    return " incomplete: " + std::to_string(reporter.failures()) + " failed (see above)\r\n";
}

// The snapshot a verify or restore takes (the newest), to count what it holds; nothing when
// there is none (the run itself says why).
std::optional<backup::Snapshot> newestSnapshot(const std::filesystem::path& folder) {
    std::string error;
    return backup::BackupFolder(folder).pick("", error);
}

} // namespace

WholePhoneCommands::WholePhoneCommands(PhoneSession& session, LogSink& log, DesktopDialogs& dialogs,
                                       Progress& progress, TransferCancel& cancel)
    : session_(session), log_(log), dialogs_(dialogs), progress_(progress), cancel_(cancel), phone_(session) {}

std::optional<backup::PhoneIdentity> WholePhoneCommands::readIdentity(std::string_view operation) {
    if (readPhoneIdentity(session_.fs, session_.seems, session_.info) != IdentityRead::Complete) {
        log_.appendLog(std::string(operation) + " not started: cannot read the phone's model, volume and free space\r\n");
        return std::nullopt;
    }
    return backup::PhoneIdentity{utf8Text(session_.info.modelText()), volumePath(session_.info.volume),
                                 volumeIsPath(session_.info.volume)};
}

bool WholePhoneCommands::chooseFolder(std::string_view title, bool mayBeNew, std::string& folder) {
    folder = lastFolder_;
    if (!dialogs_.pickFolder(title, folder, mayBeNew) || folder.empty()) return false;
    lastFolder_ = folder;
    return true;
}

void WholePhoneCommands::backUpPhone() {
    // The phone is asked first: one that cannot say who it is costs the user no dialog.
    const auto identity = readIdentity("Backup");
    std::string folder;
    if (!identity || !chooseFolder(kBackUpTitle, true, folder)) return;
    const std::filesystem::path root = backup::pcPath(folder);
    const std::string subject = "Backup of " + identity->model + " in " + folder;

    backup::BackupOptions options; // the default seem range, as telvane-cli backs up
    if (const auto other = backup::otherPhoneBackupIn(phone_, *identity, root)) {
        if (!dialogs_.confirm(kBackUpTitle, folder + " " + *other + ".\r\n\r\nBack up " + identity->model +
                                                " there all the same?")) {
            log_.appendLog(subject + " not made: the folder " + *other + "\r\n");
            return;
        }
        options.otherPhone = true;
    }

    log_.appendLog("Backing up " + identity->model + " into " + folder + "...\r\n");
    WindowReporter reporter(log_, progress_, cancel_, WindowReporter::Findings::Failures);
    switch (backup::backupPhone(phone_, *identity, root, options, reporter)) {
    case RunResult::Done: {
        const auto made = newestSnapshot(root);
        const std::size_t files = made ? made->manifest.files.size() : 0;
        const std::size_t records = made ? made->manifest.seems.size() : 0;
        log_.appendLog(subject + ": " + counted(files, "file", "files") + ", " +
                       counted(records, "seem record", "seem records") + " ok\r\n");
        break;
    }
    case RunResult::Interrupted:
        log_.appendLog(subject + " stopped: the backups made before are as they were\r\n");
        break;
    case RunResult::Failed:
        log_.appendLog(subject + incomplete(reporter));
        break;
    case RunResult::Refused:
        log_.appendLog(subject + " not made (see above)\r\n");
        break;
    }
}

void WholePhoneCommands::verifyBackup() {
    const auto identity = readIdentity("Verify");
    std::string folder;
    if (!identity || !chooseFolder(kVerifyTitle, false, folder)) return;
    const std::filesystem::path root = backup::pcPath(folder);
    const std::string subject = "Verify of " + folder;

    log_.appendLog("Verifying " + folder + " against " + identity->model + "...\r\n");
    WindowReporter reporter(log_, progress_, cancel_, WindowReporter::Findings::Differences);
    const auto snapshot = newestSnapshot(root);
    std::size_t emptyFiles = 0;
    if (snapshot) {
        for (const backup::Manifest::File& f : snapshot->manifest.files) emptyFiles += f.size == 0 ? 1 : 0;
        reporter.expectItems(emptyFiles + snapshot->manifest.seems.size());
    }
    const RunResult result = backup::verifyBackup(phone_, *identity, root, "", reporter);
    if (result == RunResult::Done && snapshot) {
        log_.appendLog(subject + ": " + counted(snapshot->manifest.files.size(), "file", "files") + ", " +
                       counted(snapshot->manifest.seems.size(), "seem record", "seem records") +
                       " equal the phone ok\r\n");
    } else if (result == RunResult::Interrupted) {
        log_.appendLog(subject + " stopped\r\n");
    } else if (result == RunResult::Failed && !reporter.said().empty()) {
        // The comparison ran to its end and counted what differs.
        const std::string differences = counted(reporter.failures(), "difference", "differences");
        log_.appendLog(subject + ": " + differences + "\r\n");
        dialogs_.warn(kVerifyTitle, "The phone differs from the backup in " +
                                        snapshotText(folder, snapshot ? snapshot->name : "") + ": " + differences +
                                        ", each named in the log.");
    } else {
        log_.appendLog(subject + " not finished (see above)\r\n");
    }
}

void WholePhoneCommands::restoreBackup() {
    const auto identity = readIdentity("Restore");
    std::string folder;
    if (!identity || !chooseFolder(kRestoreTitle, false, folder)) return;
    const std::filesystem::path root = backup::pcPath(folder);
    const std::string subject = "Restore of " + identity->model + " from " + folder;

    log_.appendLog("Planning the restore of " + identity->model + " from " + folder + "...\r\n");
    WindowReporter reporter(log_, progress_, cancel_, WindowReporter::Findings::Failures);
    // The plan the user confirms replaces phone files itself: no question per file.
    backup::RestoreOptions options;
    options.force = true;
    const auto plan = backup::planRestore(phone_, *identity, root, options, reporter);
    if (!plan) {
        log_.appendLog(subject + (reporter.stopped() ? " stopped: nothing written\r\n" : " not started (see above)\r\n"));
        return;
    }
    const PlanCounts counts = countPlan(*plan);
    if (!counts.anything()) {
        log_.appendLog(plan->seemsFailed ? subject + " not finished (see above)\r\n"
                                         : subject + ": the phone already equals the backup ok\r\n");
        return;
    }
    if (!dialogs_.confirm(kRestoreTitle, restoreQuestion(*plan, folder, identity->model))) {
        log_.appendLog(subject + " not made: nothing written\r\n");
        return;
    }

    std::size_t emptyFiles = 0;
    for (const backup::RestorePlan::File& f : plan->files) {
        const bool written = f.action == backup::FileAction::Upload || f.action == backup::FileAction::Replace ||
                             f.action == backup::FileAction::Rewrite;
        emptyFiles += written && f.entry.size == 0 ? 1 : 0;
    }
    reporter.expectItems(emptyFiles + counts.attributes + counts.seems);
    switch (backup::carryOutRestore(phone_, *identity, root, *plan, reporter)) {
    case RunResult::Done:
        log_.appendLog(subject + ": " + counted(counts.files(), "file", "files") + ", " +
                       (counts.attributes > 0 ? counted(counts.attributes, "attribute", "attributes") + ", " : "") +
                       counted(counts.seems, "seem record", "seem records") + " written ok\r\n");
        break;
    case RunResult::Interrupted:
        // The phone cannot rename: a file cut short stays so until a restore writes it again.
        log_.appendLog(subject + " stopped: " +
                       (reporter.stoppedIn().empty() ? std::string("the rest is not written")
                                                      : reporter.stoppedIn() + " is incomplete on the phone") +
                       "; Restore from backup again completes it\r\n");
        break;
    case RunResult::Failed:
        log_.appendLog(subject + incomplete(reporter));
        break;
    case RunResult::Refused:
        log_.appendLog(subject + " not made (see above)\r\n");
        break;
    }
}

} // namespace telvane
