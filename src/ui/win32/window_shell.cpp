#include "ui/win32/window_shell.h"

namespace telvane::win32 {

BOOL SystemShell::notifyIcon(DWORD message, NOTIFYICONDATAA& data) {
    return Shell_NotifyIconA(message, &data);
}

int SystemShell::messageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return MessageBoxA(owner, text, caption, type);
}

BOOL SystemShell::trackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
    return TrackPopupMenu(menu, flags, x, y, 0, owner, nullptr);
}

} // namespace telvane::win32
