// A backup folder's manifest.json is read back from disk by verify and restore: whatever it
// holds, parsing ends in a manifest whose paths stay inside the folder, or in a refusal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/cli/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace telvane::cli;
    Manifest manifest;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!parseManifest(text, manifest, error)) return 0;
    for (const Manifest::File& f : manifest.files) {
        if (f.pc.empty() || f.pc.front() == '/') __builtin_trap();
        const std::string padded = "/" + f.pc + "/";
        if (padded.find("/../") != std::string::npos || padded.find("/./") != std::string::npos) __builtin_trap();
    }
    // What was read is written again and read back the same.
    Manifest again;
    if (!parseManifest(manifestText(manifest), again, error) || again.files.size() != manifest.files.size() ||
        again.seems.size() != manifest.seems.size())
        __builtin_trap();
    return 0;
}
