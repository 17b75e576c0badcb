#include "ui/win32/window_file_commands.h"

namespace telvane::win32 {

WindowFileCommands::WindowFileCommands(MainWindow& window, WindowShell& shell, DesktopDialogs* dialogs,
                                       PcFiles* files)
    : window_(window),
      ownDialogs_([&window] { return window.handle(); }, shell),
      controls_([&window] { return window.handle(); }),
      operations_(window.session(), window.views(),
                  Desktop{dialogs != nullptr ? *dialogs : ownDialogs_, files != nullptr ? *files : ownFiles_,
                          controls_, window.progress(), cancel_},
                  [&window] { return window.autoUpdate(); }) {
    window.setFileCommands(&operations_);
}

WindowFileCommands::~WindowFileCommands() {
    window_.setFileCommands(nullptr);
}

} // namespace telvane::win32
