#pragma once
#include "ui/whole_phone/whole_phone_commands.h"
#include "ui/win32/main_window.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_transfer_cancel.h"
#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The window's back up, verify and restore: WholePhoneCommands over the real folder dialog,
// message boxes, progress bar and Esc, handed to the window for as long as this lives.
class WindowBackupCommands {
public:
    // The shell shows the questions. Dialogs other than the real ones are for tests.
    WindowBackupCommands(MainWindow& window, WindowShell& shell, DesktopDialogs* dialogs = nullptr);
    ~WindowBackupCommands();
    WindowBackupCommands(const WindowBackupCommands&) = delete;
    WindowBackupCommands& operator=(const WindowBackupCommands&) = delete;

private:
    MainWindow& window_;
    Win32Dialogs ownDialogs_;
    Win32TransferCancel cancel_;
    WholePhoneCommands commands_;
};

} // namespace telvane::win32
