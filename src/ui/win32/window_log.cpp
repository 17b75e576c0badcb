#include "ui/win32/window_log.h"

#include <string>

#include "ui/win32/window_messages.h"

namespace telvane::win32 {

void WindowLog::appendLog(std::string_view text) {
    const HWND window = window_.load();
    if (window == nullptr) return;
    // Zero-terminated for the edit control; on the window's own thread this is a direct call.
    const std::string copy(text);
    SendMessageA(window, WM_APPENDLOG, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

void WindowLinkNotifier::onLinkState(int state) {
    const HWND window = window_.load();
    if (window == nullptr) return;
    SendMessageA(window, WM_LINKSTATE, static_cast<WPARAM>(state), 0);
}

} // namespace telvane::win32
