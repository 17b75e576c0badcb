#include "ui/win32/about_box.h"

namespace telvane::win32 {

std::string aboutText() {
    return "Telvane phone file manager\r\n"
           "designed for Motorola P2K phones\r\n"
           "written by the Telvane developers\r\n"
           "built " __DATE__;
}

void showAboutBox(WindowShell& shell, HWND owner) {
    const std::string text = aboutText();
    shell.messageBox(owner, text.c_str(), "About", MB_OK);
}

} // namespace telvane::win32
