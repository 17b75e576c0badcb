#pragma once

namespace telvane {

// The window's whole-phone commands, called on the window's thread once the window has checked
// that the phone is connected. Each chooses its folder, runs to its end (or the user's Esc) and
// reports in the log itself. WholePhoneCommands is the one real implementation; the window's
// tests put stand-ins here.
class BackupCommands {
public:
    virtual ~BackupCommands() = default;
    virtual void backUpPhone() = 0;   // "Back up phone...", Ctrl+B
    virtual void verifyBackup() = 0;  // "Verify backup..."
    virtual void restoreBackup() = 0; // "Restore from backup...", Ctrl+R
};

} // namespace telvane
