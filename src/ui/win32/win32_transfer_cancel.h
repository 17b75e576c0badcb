#pragma once
#include <windows.h>

#include "ui/desktop.h"

namespace telvane::win32 {

// Between two pieces of a transfer, on the window's thread: the windows are painted, the
// controls' timers run and messages sent from other threads are handled, while every key, click
// and drop meant for another command is thrown away. Esc asks the transfer to stop; it never
// reaches the dialog, which would take it for IDCANCEL.
class Win32TransferCancel final : public TransferCancel {
public:
    bool cancelRequested() override;
};

} // namespace telvane::win32
