#include "ui/win32/window_backup_commands.h"

namespace telvane::win32 {

WindowBackupCommands::WindowBackupCommands(MainWindow& window, WindowShell& shell, DesktopDialogs* dialogs)
    : window_(window),
      ownDialogs_([&window] { return window.handle(); }, shell),
      commands_(window.session(), window.log(), dialogs != nullptr ? *dialogs : ownDialogs_, window.progress(),
                cancel_) {
    window.setBackupCommands(&commands_);
}

WindowBackupCommands::~WindowBackupCommands() {
    window_.setBackupCommands(nullptr);
}

} // namespace telvane::win32
