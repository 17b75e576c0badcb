#include "platform/win32/console_code_page.h"

#include <windows.h>

namespace telvane {

Utf8ConsoleOutput::Utf8ConsoleOutput() {
    previous_ = GetConsoleOutputCP();
    if (previous_ != 0 && previous_ != CP_UTF8 && !SetConsoleOutputCP(CP_UTF8)) previous_ = 0;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
    if (previous_ != 0 && previous_ != CP_UTF8) SetConsoleOutputCP(previous_);
}

} // namespace telvane
