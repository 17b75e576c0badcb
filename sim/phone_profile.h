#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/phone_file_system.h"

namespace telvane::sim {

// One seem record a phone starts with.
struct SeemRecordSpec {
    std::uint16_t seem = 0;
    std::uint16_t record = 1;
    std::vector<std::uint8_t> bytes;
};

// Everything that makes one virtual phone: its volume, its list records, its files and seems,
// its model and the faults it starts with.
struct PhoneProfile {
    std::string volume = "/a";          // 8-bit text; sent as UTF-16BE
    std::uint32_t entrySize = 268;      // list record size: 44 or 268
    std::uint32_t recordsPerChunk = 8;  // list records per chunk (at most maxRecordsPerChunk)
    std::uint32_t freeSpace = 1u << 20;
    std::string model = "Sim P1";  // written to seem 0x0117 record 1 unless a seem gives it
    std::vector<PhoneFile> files;
    std::vector<SeemRecordSpec> seems;
    std::vector<FaultRule> faults;
    bool restartDropsLink = false;      // a restart takes the phone off the bus and back
};

// The most list records one chunk reply can carry for an entry size.
std::uint32_t maxRecordsPerChunk(std::uint32_t entrySize);
// The longest volume name the phone answers with a terminator inside its 256-byte reply.
constexpr std::size_t kMaxVolumeLength = 127;

// A profile's own consistency: entry size, chunk size, names, seems. "" when sound, else why not.
std::string checkProfile(const PhoneProfile& profile);

// The built-in phones: "tree" (volume "/a", 268-byte records, files in nested folders) and
// "flat" (volume "a", 44-byte records, enough flat names for several chunks).
PhoneProfile treePhoneProfile();
PhoneProfile flatPhoneProfile();
std::optional<PhoneProfile> builtinPhoneProfile(std::string_view name);
std::vector<std::string> builtinPhoneProfileNames();

} // namespace telvane::sim
