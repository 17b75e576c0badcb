#pragma once
#include <string>
#include <string_view>

namespace telvane {

// The settings file beside the program: its path with the extension replaced by ".ini"
// (prog.exe gives prog.ini). A name without an extension gets ".ini" added; a '.' in a folder
// name is not an extension.
std::string iniPathFor(std::string_view programPath);

} // namespace telvane
