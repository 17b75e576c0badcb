#pragma once
#include <windows.h>

namespace telvane::win32 {

// The tray icon's callback message; lParam carries the mouse message.
constexpr UINT WM_TRAYNOTIFY = WM_USER;
// From the connection watcher, sent synchronously: wParam 1 connected, 0 removed.
constexpr UINT WM_LINKSTATE = WM_USER + 2;
// A log text (lParam: zero-terminated 8-bit text) to put into the log pane on the window's thread.
constexpr UINT WM_APPENDLOG = WM_APP + 1;
// Saves the picture of the window asked for on the command line.
constexpr UINT WM_SAVESCREENSHOT = WM_APP + 2;

} // namespace telvane::win32
