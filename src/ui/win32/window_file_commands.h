#pragma once
#include "ui/file_operations.h"
#include "ui/win32/main_window.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_transfer_cancel.h"
#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The window's file and seem commands: FileOperations over the real desktop, handed
// to the window for as long as this lives.
class WindowFileCommands {
public:
    // The shell shows the Yes/No question. Dialogs and files other than the real ones are for tests.
    WindowFileCommands(MainWindow& window, WindowShell& shell, DesktopDialogs* dialogs = nullptr,
                       PcFiles* files = nullptr);
    ~WindowFileCommands();
    WindowFileCommands(const WindowFileCommands&) = delete;
    WindowFileCommands& operator=(const WindowFileCommands&) = delete;

    Win32Dialogs& dialogs() { return ownDialogs_; }

private:
    MainWindow& window_;
    Win32Dialogs ownDialogs_;
    Win32PcFiles ownFiles_;
    Win32OperationControls controls_;
    Win32TransferCancel cancel_;
    FileOperations operations_;
};

} // namespace telvane::win32
