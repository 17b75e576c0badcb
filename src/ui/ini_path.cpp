#include "ui/ini_path.h"

namespace telvane {

std::string iniPathFor(std::string_view programPath) {
    const std::size_t nameStart = programPath.find_last_of("\\/");
    const std::size_t dot = programPath.rfind('.');
    const bool dotInName = dot != std::string_view::npos && (nameStart == std::string_view::npos || dot > nameStart);
    std::string path(dotInName ? programPath.substr(0, dot) : programPath);
    return path + ".ini";
}

} // namespace telvane
