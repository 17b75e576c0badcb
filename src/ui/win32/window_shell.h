#pragma once
#include <windows.h>
#include <shellapi.h>

namespace telvane::win32 {

// The shell and user calls of the window that show something modal or outside the window: the
// tray icon, message boxes and the context menu. Tests put a recorder in their place.
class WindowShell {
public:
    virtual ~WindowShell() = default;
    virtual BOOL notifyIcon(DWORD message, NOTIFYICONDATAA& data) = 0;
    virtual int messageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
    // Shows a popup menu at a screen position and runs it; the chosen item arrives as WM_COMMAND.
    virtual BOOL trackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) = 0;
};

// The real calls.
class SystemShell final : public WindowShell {
public:
    BOOL notifyIcon(DWORD message, NOTIFYICONDATAA& data) override;
    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override;
    BOOL trackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;
};

} // namespace telvane::win32
