#include "ui/win32/tray_icon.h"

#include <cstring>

#include "ui/win32/window_messages.h"

namespace telvane::win32 {

TrayIcon::TrayIcon(WindowShell& shell) : shell_(shell) {
    record_.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record_.uID = kId;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = WM_TRAYNOTIFY;
    static_assert(sizeof record_.szTip > 34, "the tip fits the first version's 64 characters");
    std::strcpy(record_.szTip, kTip);
}

} // namespace telvane::win32
