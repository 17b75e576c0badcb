// A backup folder's manifest.json is read back from disk by verify and restore: whatever it
// holds, parsing ends in a manifest whose paths stay inside the folder, or in a refusal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backup/manifest.h"
#include "backup/pc_names.h"
#include "common/sha256.h"
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace telvane::backup;
    Manifest manifest;
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!parseManifest(text, manifest, error)) return 0;
    // Paths stay inside the folder; no PC file serves two entries (ignoring case); a manifest that
    // keeps hashes has one for every entry.
    std::set<std::string> paths;
    auto check = [&](const std::string& pc, const std::string& sha256) {
        if (pc.empty() || pc.front() == '/' || pc.find('\\') != std::string::npos) __builtin_trap();
        const std::string padded = "/" + pc + "/";
        if (padded.find("/../") != std::string::npos || padded.find("/./") != std::string::npos) __builtin_trap();
        if (!paths.insert(foldCase(pc)).second) __builtin_trap();
        if (manifest.format != 1 && !telvane::isSha256Hex(sha256)) __builtin_trap();
    };
    for (const Manifest::File& f : manifest.files) check(f.pc, f.sha256);
    for (const Manifest::Seem& s : manifest.seems) check(s.pc, s.sha256);
    // What was read is written again and read back the same.
    Manifest again;
    // (A first-format manifest is written again in the current format, which needs hashes.)
    if (manifest.format == 1) return 0;
    if (!parseManifest(manifestText(manifest), again, error) || again.files.size() != manifest.files.size() ||
        again.seems.size() != manifest.seems.size() || again.seemRange != manifest.seemRange ||
        again.treeMode != manifest.treeMode)
        __builtin_trap();
    return 0;
}
