#include "sim/phone_profile.h"

#include <set>
#include <utility>

#include "sim/seem_store.h"
#include "sim/virtual_phone.h"

namespace telvane::sim {

namespace {

constexpr std::size_t kChunkHeaderSize = 4;

// Deterministic contents that differ from file to file and from byte to byte.
std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 131 + (i >> 8));
    return bytes;
}

std::vector<std::uint8_t> text(std::string_view s) { return {s.begin(), s.end()}; }

PhoneFile file(std::string name, std::uint16_t attribute, std::uint16_t second, std::vector<std::uint8_t> bytes) {
    return PhoneFile{std::move(name), attribute, second, std::move(bytes)};
}

// Seems every built-in phone has besides its model: a few records of a few seems.
void addCommonSeems(PhoneProfile& p) {
    p.seems.push_back({0x0032, 1, {0x01, 0x02, 0x03, 0x04}});
    p.seems.push_back({0x0032, 2, pattern(64, 0x32)});
    p.seems.push_back({0x0032, 3, {}});
    p.seems.push_back({0x0105, 1, pattern(16, 0x05)});
    p.seems.push_back({0x0200, 1, pattern(1000, 0x20)});
}

} // namespace

std::uint32_t maxRecordsPerChunk(std::uint32_t entrySize) {
    if (entrySize == 0) return 0;
    return static_cast<std::uint32_t>((kMaxReplyData - kChunkHeaderSize) / entrySize);
}

std::string checkProfile(const PhoneProfile& p) {
    if (p.entrySize != 44 && p.entrySize != 268) return "entry size must be 44 or 268";
    if (p.volume.empty() || p.volume.size() > kMaxVolumeLength)
        return "volume name must be 1 to " + std::to_string(kMaxVolumeLength) + " bytes";
    const std::uint32_t maxChunk = maxRecordsPerChunk(p.entrySize);
    if (p.recordsPerChunk == 0 || p.recordsPerChunk > maxChunk)
        return "records per chunk must be 1 to " + std::to_string(maxChunk) + " for " +
               std::to_string(p.entrySize) + "-byte records";
    std::set<std::string> names;
    for (const auto& f : p.files) {
        if (f.name.empty() || f.name.size() > p.entrySize - 8 || f.name.find('\0') != std::string::npos)
            return "file name '" + f.name + "' must be 1 to " + std::to_string(p.entrySize - 8) + " bytes";
        if (!names.insert(f.name).second) return "file name '" + f.name + "' given twice";
    }
    if (p.files.size() >= 0xFFFF) return "too many files";
    for (const auto& s : p.seems) {
        if (s.record == 0) return "seem records count from 1";
        if (s.bytes.size() > SeemStore::kMaxRecordBytes)
            return "seem record longer than " + std::to_string(SeemStore::kMaxRecordBytes) + " bytes";
    }
    return {};
}

PhoneProfile treePhoneProfile() {
    PhoneProfile p;
    p.volume = "/a";
    p.entrySize = 268;
    p.recordsPerChunk = 4;
    p.freeSpace = 3u << 20;
    p.model = "Sim T1";
    p.files = {
        file("/a/mobile/audio/ring.mp3", 0x0000, 0x0000, pattern(2 * 1024 + 452, 1)),
        file("/a/mobile/audio/alarm.mid", 0x0001, 0x0000, pattern(700, 2)),
        file("/a/mobile/audio/tones/beep.wav", 0x0000, 0x0000, pattern(1024, 3)),
        file("/a/mobile/picture/wallpaper.jpg", 0x0000, 0x0102, pattern(4096, 4)),
        file("/a/mobile/picture/photos/beach.jpg", 0x0004, 0x0000, pattern(3000, 5)),
        file("/a/mobile/video/clip.3gp", 0x0000, 0x0000, pattern(1500, 6)),
        file("/a/mobile/my.folder/readme", 0x0000, 0x0000, text("A folder with a dot in its name.\r\n")),
        file("/a/mobile/system/config.txt", 0x0002, 0x0000, text("volume=3\r\nbacklight=on\r\n")),
        file("/a/mobile/backup/old.tar.gz", 0x0000, 0x0000, pattern(333, 7)),
        file("/a/notes.txt", 0x0000, 0x0000, text("Virtual phone notes.\r\n")),
    };
    addCommonSeems(p);
    return p;
}

PhoneProfile flatPhoneProfile() {
    PhoneProfile p;
    p.volume = "a";
    p.entrySize = 44;
    p.recordsPerChunk = 16;
    p.freeSpace = 1u << 20;
    p.model = "Sim F1";
    for (int i = 1; i <= 20; ++i) {
        std::string n = std::to_string(i);
        if (n.size() < 2) n = "0" + n;
        p.files.push_back(file("ring" + n + ".mid", 0, 0, pattern(100 + 37 * i, static_cast<std::uint8_t>(i))));
    }
    for (int i = 1; i <= 15; ++i) {
        std::string n = std::to_string(i);
        if (n.size() < 2) n = "0" + n;
        p.files.push_back(file("pic" + n + ".jpg", 0x0004, 0x0001,
                               pattern(900 + 211 * i, static_cast<std::uint8_t>(0x40 + i))));
    }
    p.files.push_back(file("notes.txt", 0, 0, text("Flat phone notes.\r\n")));
    p.files.push_back(file("readme", 0, 0, text("No extension.\r\n")));
    p.files.push_back(file("archive.tar.gz", 0, 0, pattern(2 * 1024 + 452, 0x77)));
    // Fills its whole name field: no terminator inside the record.
    p.files.push_back(file("a-name-that-fills-the-whole-field.xy", 0x0008, 0, pattern(10, 0x99)));
    p.files.push_back(file("empty.dat", 0, 0, {}));
    addCommonSeems(p);
    return p;
}

std::optional<PhoneProfile> builtinPhoneProfile(std::string_view name) {
    if (name == "tree") return treePhoneProfile();
    if (name == "flat") return flatPhoneProfile();
    return std::nullopt;
}

std::vector<std::string> builtinPhoneProfileNames() { return {"tree", "flat"}; }

} // namespace telvane::sim
