#pragma once
#include <windows.h>

#include <atomic>
#include <string_view>

#include "common/log_sink.h"
#include "link/connection_watcher.h"

namespace telvane::win32 {

// The log pane as the layers' log: every text reaches the pane on the window's thread. From
// another thread the text travels as a sent message, so the caller waits until it is taken.
// Before the window exists, and after it is gone, texts are dropped.
class WindowLog final : public LogSink {
public:
    void attach(HWND window) { window_.store(window); }
    void detach() { window_.store(nullptr); }
    void appendLog(std::string_view text) override;

private:
    std::atomic<HWND> window_{nullptr};
};

// Tells the window about link changes with WM_LINKSTATE, sent: the watcher waits until the
// window has finished handling the change.
class WindowLinkNotifier final : public LinkStateListener {
public:
    void attach(HWND window) { window_.store(window); }
    void detach() { window_.store(nullptr); }
    void onLinkState(int state) override;

private:
    std::atomic<HWND> window_{nullptr};
};

} // namespace telvane::win32
