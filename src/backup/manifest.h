#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telvane::backup {

// What one backup holds, as its manifest.json says. Names and paths are UTF-8; a phone name's
// bytes are kept as Latin-1 characters (see latin1ToUtf8). Paths are relative to the backup's own
// folder, with '/' between folders.
struct Manifest {
    struct File {
        std::string phone; // the phone's name
        std::string pc;
        std::uint32_t size = 0;
        std::uint16_t attribute = 0;
        std::string sha256; // "" only in a backup of the first format, which kept no hashes
    };
    struct Seem {
        std::uint16_t seem = 0;
        std::uint16_t record = 0;
        std::uint32_t size = 0;
        std::string pc;
        std::string sha256;
    };
    int format = 0;
    std::string model;
    std::string volume;
    std::string time; // UTC, ISO 8601
    bool treeMode = false;
    // The seems read, when the backup holds seems at all.
    std::optional<std::pair<std::uint16_t, std::uint16_t>> seemRange;
    std::vector<File> files;
    std::vector<Seem> seems;
};

inline constexpr const char* kManifestName = "manifest.json";
// Format 1 kept no hashes and lay at the top of the folder; it is still read.
inline constexpr int kManifestFormat = 2;
// No manifest of ours comes near this.
inline constexpr std::uint64_t kManifestLimit = 256u << 20;

std::string manifestText(const Manifest& manifest);
// False, with the reason in error, for a text that is no manifest of ours (not JSON, another
// format, a member missing or of the wrong kind, a PC path leaving the folder, a hash missing
// from a format that keeps them, a phone name or PC path listed twice).
bool parseManifest(const std::string& text, Manifest& manifest, std::string& error);

// True for a relative path of plain names below its folder: nothing absolute, no "..", ".",
// empty name, backslash or drive colon.
bool staysInside(const std::string& path);

// The current time in UTC, by strftime's format: by default as the manifest keeps it.
std::string utcNow(const char* format = "%Y-%m-%dT%H:%M:%SZ");

} // namespace telvane::backup
