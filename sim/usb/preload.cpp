#include "sim/usb/preload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace telvane::sim {

namespace {
constexpr const char* kPreload = "libumockdev-preload.so.0";
}

bool runUnderUmockdevPreload(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    if (current != nullptr && std::strstr(current, kPreload) != nullptr) return true;
    const std::string preload =
        current != nullptr && *current != '\0' ? std::string(kPreload) + ":" + current : std::string(kPreload);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "cannot run %s again: %s\n", argv[0], std::strerror(errno));
    return false;
}

} // namespace telvane::sim
