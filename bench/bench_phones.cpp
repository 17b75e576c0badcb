#include "bench/bench_phones.h"

#include <cstdio>

namespace telvane::bench {

namespace {
std::string numbered(const char* format, std::size_t n) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(n));
    return text;
}

sim::PhoneProfile phone(std::string volume, std::uint32_t entrySize) {
    sim::PhoneProfile p;
    p.volume = std::move(volume);
    p.entrySize = entrySize;
    p.recordsPerChunk = sim::maxRecordsPerChunk(entrySize);
    p.model = "Sim B";
    p.freeSpace = 64u << 20;
    return p;
}
} // namespace

std::vector<std::uint8_t> patternBytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 10));
    return bytes;
}

sim::PhoneProfile transferPhone(const std::vector<std::uint8_t>& content) {
    sim::PhoneProfile p = phone("a", 44);
    p.files.push_back({kTransferName, 0, 0, content});
    return p;
}

sim::PhoneProfile treeFillPhone(std::size_t files, std::size_t folders) {
    sim::PhoneProfile p = phone("/a", 268);
    for (std::size_t i = 0; i < files; ++i) {
        p.files.push_back({numbered("/a/folder%03u/", i % folders) + numbered("file%05u.bin", i), 0, 0,
                           std::vector<std::uint8_t>(i % 7)});
    }
    return p;
}

sim::PhoneProfile flatFillPhone(std::size_t files) {
    sim::PhoneProfile p = phone("a", 44);
    for (std::size_t i = 0; i < files; ++i)
        p.files.push_back({numbered("file%05u.bin", i), 0, 0, std::vector<std::uint8_t>(i % 7)});
    return p;
}

std::string phoneDescription(const sim::PhoneProfile& profile) {
    std::string text = "volume " + profile.volume + "\nentry-size " + std::to_string(profile.entrySize) +
                       "\nmodel \"" + profile.model + "\"\nfree-space " + std::to_string(profile.freeSpace) + "\n";
    for (const auto& f : profile.files)
        text += "file " + f.name + " attr=" + std::to_string(f.attribute) + " size=" + std::to_string(f.bytes.size()) +
                "\n";
    return text;
}

} // namespace telvane::bench
