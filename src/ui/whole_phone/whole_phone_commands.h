#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "backup/phone_files.h"
#include "backup/phone_match.h"
#include "common/log_sink.h"
#include "services/progress.h"
#include "session/phone_session.h"
#include "ui/backup_commands.h"
#include "ui/desktop.h"

namespace telvane {

// Back up, verify and restore the whole phone from the window: a folder chosen in the folder
// dialog, then the same backup layer telvane-cli uses (the default seem range, the same folder
// layout and promises), told in the window's log: an opening line, a line per failure or
// difference, and a closing line with the counts. The progress bar follows the bytes and records,
// and Esc stops between two pieces. Nothing is written before the user has said yes to writing
// into another phone's backup folder, or to a restore's plan. Window's thread only.
class WholePhoneCommands final : public BackupCommands {
public:
    WholePhoneCommands(PhoneSession& session, LogSink& log, DesktopDialogs& dialogs, Progress& progress,
                       TransferCancel& cancel);

    void backUpPhone() override;
    void verifyBackup() override;
    void restoreBackup() override;

private:
    // Who the phone is (and its free space, which a restore plans with), read anew; nothing,
    // after a line saying so, when it cannot be read.
    std::optional<backup::PhoneIdentity> readIdentity(std::string_view operation);
    // The folder dialog, opened in the folder chosen last.
    bool chooseFolder(std::string_view title, bool mayBeNew, std::string& folder);

    PhoneSession& session_;
    LogSink& log_;
    DesktopDialogs& dialogs_;
    Progress& progress_;
    TransferCancel& cancel_;
    backup::PhoneFiles phone_;
    std::string lastFolder_;
};

} // namespace telvane
