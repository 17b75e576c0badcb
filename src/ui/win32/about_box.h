#pragma once
#include <windows.h>

#include <string>

#include "ui/win32/window_shell.h"

namespace telvane::win32 {

// The About box's four lines: the program, the phones it is for, its authors, its build date.
std::string aboutText();

// Shows the About box, owned by the window.
void showAboutBox(WindowShell& shell, HWND owner);

} // namespace telvane::win32
