#pragma once
#include <windows.h>
#include <shellapi.h>

#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The window's tray icon: present only while the window is hidden. The record is the first
// version of the shell's layout, whose size the platform gives for the program's own build.
class TrayIcon {
public:
    static constexpr UINT kId = 0x204B3250;
    static constexpr const char* kTip = "Left click to open service window.";

    explicit TrayIcon(WindowShell& shell);

    void setWindow(HWND window) { record_.hWnd = window; }
    void setIcon(HICON icon) { record_.hIcon = icon; }
    void add() { shell_.notifyIcon(NIM_ADD, record_); }
    void remove() { shell_.notifyIcon(NIM_DELETE, record_); }
    const NOTIFYICONDATAA& record() const { return record_; }

private:
    WindowShell& shell_;
    NOTIFYICONDATAA record_{};
};

} // namespace telvane::win32
