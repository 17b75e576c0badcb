#include "backup/pc_names.h"

#include <span>
#include <vector>

#include "backup/pc_store.h"
#include "common/sha256.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace {

std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Where a suffix goes: before the extension of a name that has one.
std::size_t stemEnd(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

// UTF-8 text cut to at most n bytes, never inside a character.
std::string cutUtf8(std::string_view text, std::size_t n) {
    if (text.size() <= n) return std::string(text);
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n));
}

} // namespace

std::string foldCase(std::string_view utf8) {
    std::string out(utf8);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < out.size()) {
            // U+00C0-U+00DE but U+00D7 (the multiplication sign) have lower-case forms 0x20 above.
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return out;
}

std::string pcComponent(std::string_view phoneComponent, std::string_view wholeName) {
    const std::string name = latin1ToUtf8(pcFileName(phoneComponent));
    if (name.size() <= kMaxPcComponent) return name;
    // A short hash of the whole phone name keeps two long names that share a beginning apart.
    const std::string tag =
        "~" + sha256Hex({reinterpret_cast<const std::uint8_t*>(wholeName.data()), wholeName.size()}).substr(0, 8);
    std::string extension = name.substr(stemEnd(name));
    if (extension.size() > 16) extension.clear();
    return cutUtf8(name, kMaxPcComponent - tag.size() - extension.size()) + tag + extension;
}

bool PcNameMap::taken(const std::string& pcPath) const { return fileKeys_.count(foldCase(pcPath)) != 0; }

bool PcNameMap::fits(const std::string& path) const {
    const std::string key = foldCase(path);
    if (fileKeys_.count(key) != 0 || folderSpelling_.count(key) != 0) return false;
    // Its folders must be spelled as before (one folder on Windows is one folder on Linux) and
    // must not be files.
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        const std::string folderKey = foldCase(folder);
        if (fileKeys_.count(folderKey) != 0) return false;
        const auto spelled = folderSpelling_.find(folderKey);
        if (spelled != folderSpelling_.end() && spelled->second != folder) return false;
    }
    return true;
}

void PcNameMap::take(const std::string& phoneUtf8, const std::string& path) {
    byPhone_[phoneUtf8] = path;
    fileKeys_.insert(foldCase(path));
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        folderSpelling_.emplace(foldCase(folder), folder);
    }
}

bool PcNameMap::reserve(const std::string& phoneUtf8, const std::string& pcPath) {
    if (phoneUtf8.empty() || byPhone_.count(phoneUtf8) != 0) return false;
    const std::vector<std::string> parts = splitPath(pcPath);
    const std::vector<std::string> rootParts = root_.empty() ? std::vector<std::string>{} : splitPath(root_);
    if (parts.size() <= rootParts.size()) return false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (i < rootParts.size()) {
            if (part != rootParts[i]) return false;
            continue;
        }
        // Only a name this map could have given: one the PC holds as it is, of a bounded length.
        const auto latin1 = utf8ToLatin1(part);
        if (!latin1 || part.size() > kMaxPcComponent + 8 || pcFileName(*latin1) != *latin1) return false;
    }
    if (!fits(pcPath)) return false;
    take(phoneUtf8, pcPath);
    return true;
}

std::string PcNameMap::pathFor(std::string_view phoneName, std::string_view volume, bool treeMode) {
    const std::string phoneUtf8 = latin1ToUtf8(phoneName);
    if (const auto known = byPhone_.find(phoneUtf8); known != byPhone_.end()) return known->second;

    std::vector<std::string> parts;
    if (!treeMode) {
        // A flat phone's name is one name, whatever it holds: no part of it is dropped.
        std::string name(phoneName);
        for (char& c : name)
            if (c == '/' || c == '\\') c = '_';
        parts.push_back(pcComponent(name, phoneName));
    } else {
        std::string_view below = phoneName;
        if (!volume.empty() && below.starts_with(volume) && below.size() > volume.size() &&
            below[volume.size()] == '/')
            below.remove_prefix(volume.size() + 1);
        for (const std::string& part : splitPath(below))
            if (!part.empty()) parts.push_back(pcComponent(part, phoneName)); // "//" adds no folder
        if (parts.empty()) parts.push_back("_");
    }
    std::string folder = root_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string natural = (folder.empty() ? "" : folder + "/") + parts[i];
        const std::string key = foldCase(natural);
        if (const auto alias = folderAlias_.find(key); alias != folderAlias_.end()) {
            folder = alias->second;
            continue;
        }
        // A folder takes the spelling it was first given, whatever case this name has it in.
        if (const auto spelled = folderSpelling_.find(key); spelled != folderSpelling_.end()) {
            folder = spelled->second;
            continue;
        }
        // A folder cannot share its path with a file: it becomes "name~2".
        std::string chosen = natural;
        for (int n = 2; fileKeys_.count(foldCase(chosen)) != 0; ++n) chosen = natural + "~" + std::to_string(n);
        folderAlias_[key] = chosen;
        folder = chosen;
    }
    const std::string name = parts.back();
    const std::string prefix = folder.empty() ? "" : folder + "/";
    std::string candidate = prefix + name;
    for (int n = 2; !fits(candidate); ++n) {
        // Another phone name has this path (ignoring case), or a folder of it is a file: "~2".
        const std::string suffix = "~" + std::to_string(n);
        const std::size_t cut = stemEnd(name);
        std::string stem = name.substr(0, cut);
        const std::string extension = name.substr(cut);
        if (stem.size() + suffix.size() + extension.size() > kMaxPcComponent + 8)
            stem = cutUtf8(stem, kMaxPcComponent - suffix.size() - extension.size());
        candidate = prefix + stem + suffix + extension;
    }
    take(phoneUtf8, candidate);
    return candidate;
}

} // namespace telvane::backup
