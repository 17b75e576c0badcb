#include "link/removal_key.h"

#include <cstddef>

namespace telvane {

namespace {
constexpr const char* kClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";
constexpr const char* kControlSuffix = "\\#\\Control";
// Characters of the device path that the registry spells '#': those of its leading "\\?\"
// except the question mark.
constexpr std::size_t kHashedOffsets[] = {0, 1, 3};
} // namespace

std::string removalKeyPath(const std::string& devicePath) {
    std::string key = kClassKey;
    const std::size_t pathStart = key.size();
    key += devicePath;
    // A path shorter than four characters only has its own characters replaced, never the suffix's.
    for (std::size_t offset : kHashedOffsets) {
        if (offset < devicePath.size()) key[pathStart + offset] = '#';
    }
    key += kControlSuffix;
    return key;
}

} // namespace telvane
