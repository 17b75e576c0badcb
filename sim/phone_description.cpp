#include "sim/phone_description.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace telvane::sim {

namespace {

// A generated file may not be larger than this (a description is not a disk image).
constexpr std::uint64_t kMaxGeneratedFile = 16u << 20;
constexpr std::size_t kMaxDescriptionBytes = 8u << 20;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Splits a line into words, honouring quotes and escapes.
std::optional<std::vector<std::string>> splitWords(std::string_view line, std::string& why) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == '\\' && quoted) {
            if (++i >= line.size()) break;
            switch (line[i]) {
            case 'r': word.push_back('\r'); break;
            case 'n': word.push_back('\n'); break;
            case 't': word.push_back('\t'); break;
            case '"': word.push_back('"'); break;
            case '\\': word.push_back('\\'); break;
            case 'x': {
                const int hi = i + 1 < line.size() ? hexDigit(line[i + 1]) : -1;
                const int lo = i + 2 < line.size() ? hexDigit(line[i + 2]) : -1;
                if (hi < 0 || lo < 0) {
                    why = "bad \\x escape";
                    return std::nullopt;
                }
                word.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                break;
            }
            default:
                why = std::string("unknown escape \\") + line[i];
                return std::nullopt;
            }
            continue;
        }
        word.push_back(c);
    }
    if (quoted) {
        why = "unterminated quote";
        return std::nullopt;
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::optional<std::uint64_t> number(const std::string& text, std::uint64_t max) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v > max) return std::nullopt;
    return v;
}

std::optional<std::vector<std::uint8_t>> hexBytes(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

// key=value options after the positional words.
std::optional<std::map<std::string, std::string>> options(const std::vector<std::string>& words, std::size_t from,
                                                          std::string& why) {
    std::map<std::string, std::string> out;
    for (std::size_t i = from; i < words.size(); ++i) {
        const auto eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0) {
            why = "expected key=value, got '" + words[i] + "'";
            return std::nullopt;
        }
        const std::string key = words[i].substr(0, eq);
        if (!out.emplace(key, words[i].substr(eq + 1)).second) {
            why = "'" + key + "' given twice";
            return std::nullopt;
        }
    }
    return out;
}

// The bytes given by exactly one of text=, hex=, size= (with fill=), or utf16= where allowed.
std::optional<std::vector<std::uint8_t>> contents(std::map<std::string, std::string>& opts, bool allowUtf16,
                                                  bool allowSize, std::string& why) {
    int sources = 0;
    std::vector<std::uint8_t> bytes;
    if (auto it = opts.find("text"); it != opts.end()) {
        ++sources;
        bytes.assign(it->second.begin(), it->second.end());
        opts.erase(it);
    }
    if (auto it = opts.find("hex"); it != opts.end()) {
        ++sources;
        auto v = hexBytes(it->second);
        if (!v) {
            why = "hex needs pairs of hexadecimal digits";
            return std::nullopt;
        }
        bytes = std::move(*v);
        opts.erase(it);
    }
    if (auto it = opts.find("utf16"); allowUtf16 && it != opts.end()) {
        ++sources;
        bytes.clear();
        for (unsigned char c : it->second) bytes.insert(bytes.end(), {0, c});
        bytes.insert(bytes.end(), {0, 0});
        opts.erase(it);
    }
    if (auto it = opts.find("size"); allowSize && it != opts.end()) {
        ++sources;
        auto size = number(it->second, kMaxGeneratedFile);
        if (!size) {
            why = "size must be a number up to " + std::to_string(kMaxGeneratedFile);
            return std::nullopt;
        }
        std::uint8_t fill = 0;
        if (auto f = opts.find("fill"); f != opts.end()) {
            auto v = number(f->second, 0xFF);
            if (!v) {
                why = "fill must be a byte value";
                return std::nullopt;
            }
            fill = static_cast<std::uint8_t>(*v);
            opts.erase(f);
        }
        bytes.assign(static_cast<std::size_t>(*size), fill);
        opts.erase(it);
    }
    if (sources > 1) {
        why = "give the contents one way only";
        return std::nullopt;
    }
    if (sources == 0 && !allowSize) {
        why = "no contents given";
        return std::nullopt;
    }
    return bytes;
}

bool parseLine(const std::vector<std::string>& w, PhoneProfile& p, bool& recordsGiven, std::string& why) {
    const std::string& key = w[0];
    auto needArgs = [&](std::size_t n) {
        if (w.size() != n + 1) {
            why = key + " takes " + std::to_string(n) + " value" + (n == 1 ? "" : "s");
            return false;
        }
        return true;
    };
    if (key == "volume") {
        if (!needArgs(1)) return false;
        p.volume = w[1];
    } else if (key == "model") {
        if (!needArgs(1)) return false;
        p.model = w[1];
    } else if (key == "entry-size" || key == "records-per-chunk" || key == "free-space") {
        if (!needArgs(1)) return false;
        auto v = number(w[1], 0xFFFFFFFFu);
        if (!v) {
            why = "bad number '" + w[1] + "'";
            return false;
        }
        if (key == "entry-size") p.entrySize = static_cast<std::uint32_t>(*v);
        if (key == "free-space") p.freeSpace = static_cast<std::uint32_t>(*v);
        if (key == "records-per-chunk") {
            p.recordsPerChunk = static_cast<std::uint32_t>(*v);
            recordsGiven = true;
        }
    } else if (key == "restart-drops") {
        if (!needArgs(0)) return false;
        p.restartDropsLink = true;
    } else if (key == "fault") {
        if (!needArgs(1)) return false;
        auto rule = parseFaultRule(w[1]);
        if (!rule) {
            why = "bad fault rule '" + w[1] + "'";
            return false;
        }
        p.faults.push_back(*rule);
    } else if (key == "file") {
        if (w.size() < 2) {
            why = "file needs a name";
            return false;
        }
        auto opts = options(w, 2, why);
        if (!opts) return false;
        PhoneFile f;
        f.name = w[1];
        for (const char* word : {"attr", "second"}) {
            if (auto it = opts->find(word); it != opts->end()) {
                auto v = number(it->second, 0xFFFF);
                if (!v) {
                    why = std::string(word) + " must be a 16-bit number";
                    return false;
                }
                (std::string(word) == "attr" ? f.attribute : f.second) = static_cast<std::uint16_t>(*v);
                opts->erase(it);
            }
        }
        auto bytes = contents(*opts, false, true, why);
        if (!bytes) return false;
        f.bytes = std::move(*bytes);
        if (!opts->empty()) {
            why = "unknown file option '" + opts->begin()->first + "'";
            return false;
        }
        p.files.push_back(std::move(f));
    } else if (key == "seem") {
        if (w.size() < 4) {
            why = "seem takes a seem number, a record number and its contents";
            return false;
        }
        auto seem = number(w[1], 0xFFFF);
        auto record = number(w[2], 0xFFFF);
        if (!seem || !record) {
            why = "seem and record must be 16-bit numbers";
            return false;
        }
        auto opts = options(w, 3, why);
        if (!opts) return false;
        auto bytes = contents(*opts, true, false, why);
        if (!bytes) return false;
        if (!opts->empty()) {
            why = "unknown seem option '" + opts->begin()->first + "'";
            return false;
        }
        p.seems.push_back({static_cast<std::uint16_t>(*seem), static_cast<std::uint16_t>(*record), std::move(*bytes)});
    } else {
        why = "unknown statement '" + key + "'";
        return false;
    }
    return true;
}

} // namespace

std::optional<PhoneProfile> parsePhoneDescription(std::string_view text, std::string& error) {
    PhoneProfile p;
    p.volume.clear();
    p.files.clear();
    p.seems.clear();
    p.freeSpace = 1u << 20;
    p.model = "Sim P1";
    bool recordsGiven = false;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        std::string why;
        auto words = splitWords(line, why);
        if (!words || !parseLine(*words, p, recordsGiven, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        }
    }
    if (p.volume.empty()) {
        error = "no volume given";
        return std::nullopt;
    }
    if (!recordsGiven) p.recordsPerChunk = maxRecordsPerChunk(p.entrySize);
    if (std::string why = checkProfile(p); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    return p;
}

std::optional<PhoneProfile> loadPhoneDescription(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxDescriptionBytes) {
            error = path + ": too large for a phone description";
            return std::nullopt;
        }
    }
    auto profile = parsePhoneDescription(text, error);
    if (!profile) error = path + ": " + error;
    return profile;
}

} // namespace telvane::sim
