#include "ui/win32/win32_transfer_cancel.h"

#include <shellapi.h>

namespace telvane::win32 {

namespace {
// A window whose painting does not validate it would otherwise keep this loop going.
constexpr int kMostPaintsAtOnce = 64;

// Removes the waiting messages of one range, showing each to seen.
template <class Seen>
void dropMessages(UINT first, UINT last, Seen seen) {
    MSG message;
    while (PeekMessageA(&message, nullptr, first, last, PM_REMOVE)) seen(message);
}
} // namespace

bool Win32TransferCancel::cancelRequested() {
    bool stop = false;
    dropMessages(WM_KEYFIRST, WM_KEYLAST, [&](const MSG& message) {
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) stop = true;
    });
    dropMessages(WM_MOUSEFIRST, WM_MOUSELAST, [](const MSG&) {});
    dropMessages(WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, [](const MSG&) {});
    // A drop owns its memory until it is finished.
    dropMessages(WM_DROPFILES, WM_DROPFILES,
                 [](const MSG& message) { DragFinish(reinterpret_cast<HDROP>(message.wParam)); });

    MSG message;
    for (int n = 0; n < kMostPaintsAtOnce && PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++n)
        DispatchMessageA(&message);
    for (int n = 0; n < kMostPaintsAtOnce && PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE); ++n)
        DispatchMessageA(&message);
    return stop;
}

} // namespace telvane::win32
