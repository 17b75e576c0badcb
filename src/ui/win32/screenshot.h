#pragma once
#include <windows.h>

#include <string>

namespace telvane::win32 {

// Saves what the screen shows of the window, frame included, as a 24-bit BMP file. The file
// appears under its name only once complete. True when it was written.
bool saveWindowPicture(HWND window, const std::string& path);

} // namespace telvane::win32
