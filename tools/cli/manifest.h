#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace telvane::cli {

// What a backup folder holds, as its manifest.json says. Names and paths are UTF-8; a phone
// name's bytes are kept as Latin-1 characters (see latin1ToUtf8).
struct Manifest {
    struct File {
        std::string phone;   // the phone's name
        std::string pc;      // relative to the backup folder, '/' between folders
        std::uint32_t size = 0;
        std::uint16_t attribute = 0;
    };
    struct Seem {
        std::uint16_t seem = 0;
        std::uint16_t record = 0;
        std::uint32_t size = 0;
        std::string pc;
    };
    std::string model;
    std::string volume;
    std::string time; // UTC, ISO 8601
    std::vector<File> files;
    std::vector<Seem> seems;
};

inline constexpr const char* kManifestName = "manifest.json";
inline constexpr int kManifestFormat = 1;

std::string manifestText(const Manifest& manifest);
// False, with the reason in error, for a text that is no manifest of ours (not JSON, another
// format, a member missing or of the wrong kind, a PC path leaving the folder).
bool parseManifest(const std::string& text, Manifest& manifest, std::string& error);

// The current time as the manifest keeps it.
std::string utcNow();

} // namespace telvane::cli
