#pragma once
#include <string>

namespace telvane {

// Registry key (under HKEY_LOCAL_MACHINE) that changes when the interface at devicePath goes
// away: the interface class's key for the path, with the path's "\\?\" spelt "##?#".
std::string removalKeyPath(const std::string& devicePath);

} // namespace telvane
