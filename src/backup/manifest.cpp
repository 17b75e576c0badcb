#include "backup/manifest.h"

#include <ctime>
#include <set>

#include <nlohmann/json.hpp>

#include "backup/pc_names.h"
#include "common/sha256.h"

namespace telvane::backup {

using nlohmann::json;

namespace {

bool unsignedMember(const json& object, const char* key, std::uint64_t limit, std::uint64_t& value) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) return false;
    value = it->get<std::uint64_t>();
    return value <= limit;
}

bool textMember(const json& object, const char* key, std::string& value) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return false;
    value = it->get<std::string>();
    return true;
}

// A hash where the format keeps one; none where it does not.
bool hashMember(const json& object, int format, std::string& value) {
    if (format == 1) return true;
    return textMember(object, "sha256", value) && isSha256Hex(value);
}

std::string shown(const json& item) { return item.dump(-1, ' ', false, json::error_handler_t::replace); }

} // namespace

bool staysInside(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string manifestText(const Manifest& manifest) {
    json files = json::array();
    for (const Manifest::File& f : manifest.files)
        files.push_back(
            {{"phone", f.phone}, {"pc", f.pc}, {"size", f.size}, {"attribute", f.attribute}, {"sha256", f.sha256}});
    json seems = json::array();
    for (const Manifest::Seem& s : manifest.seems)
        seems.push_back(
            {{"seem", s.seem}, {"record", s.record}, {"size", s.size}, {"pc", s.pc}, {"sha256", s.sha256}});
    json j = {{"format", kManifestFormat}, {"model", manifest.model}, {"volume", manifest.volume},
              {"time", manifest.time},     {"tree", manifest.treeMode}};
    if (manifest.seemRange) j["seemRange"] = {manifest.seemRange->first, manifest.seemRange->second};
    j["files"] = files;
    j["seems"] = seems;
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool parseManifest(const std::string& text, Manifest& manifest, std::string& error) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not JSON";
        return false;
    }
    std::uint64_t format = 0;
    if (!unsignedMember(j, "format", 1000, format) || (format != 1 && format != kManifestFormat)) {
        error = "not a manifest of format 1 or " + std::to_string(kManifestFormat);
        return false;
    }
    Manifest m;
    m.format = static_cast<int>(format);
    if (!textMember(j, "model", m.model) || !textMember(j, "volume", m.volume) || !textMember(j, "time", m.time)) {
        error = "model, volume or time missing";
        return false;
    }
    if (const auto tree = j.find("tree"); tree != j.end()) {
        if (!tree->is_boolean()) {
            error = "tree is not true or false";
            return false;
        }
        m.treeMode = tree->get<bool>();
    }
    if (const auto range = j.find("seemRange"); range != j.end()) {
        if (!range->is_array() || range->size() != 2 || !(*range)[0].is_number_unsigned() ||
            !(*range)[1].is_number_unsigned() || (*range)[0].get<std::uint64_t>() > 0xFFFF ||
            (*range)[1].get<std::uint64_t>() > 0xFFFF) {
            error = "seemRange is not two seem numbers";
            return false;
        }
        m.seemRange = {static_cast<std::uint16_t>((*range)[0].get<std::uint64_t>()),
                       static_cast<std::uint16_t>((*range)[1].get<std::uint64_t>())};
    }
    const auto files = j.find("files");
    const auto seems = j.find("seems");
    if (files == j.end() || !files->is_array() || seems == j.end() || !seems->is_array()) {
        error = "files or seems missing";
        return false;
    }
    // Two entries for one phone name, or one PC file for two entries, would make a restore
    // write one file's bytes under another's name.
    std::set<std::string> phones;
    std::set<std::string> paths;
    for (const json& item : *files) {
        Manifest::File f;
        std::uint64_t size = 0;
        std::uint64_t attribute = 0;
        if (!item.is_object() || !textMember(item, "phone", f.phone) || !textMember(item, "pc", f.pc) ||
            !unsignedMember(item, "size", 0xFFFFFFFE, size) || !unsignedMember(item, "attribute", 0xFFFF, attribute) ||
            !hashMember(item, m.format, f.sha256) || f.phone.empty() || !staysInside(f.pc)) {
            error = "a file entry is not whole: " + shown(item);
            return false;
        }
        if (!phones.insert(f.phone).second || !paths.insert(foldCase(f.pc)).second) {
            error = "a file is listed twice: " + shown(item);
            return false;
        }
        f.size = static_cast<std::uint32_t>(size);
        f.attribute = static_cast<std::uint16_t>(attribute);
        m.files.push_back(std::move(f));
    }
    std::set<std::pair<std::uint64_t, std::uint64_t>> records;
    for (const json& item : *seems) {
        Manifest::Seem s;
        std::uint64_t seem = 0;
        std::uint64_t record = 0;
        std::uint64_t size = 0;
        if (!item.is_object() || !unsignedMember(item, "seem", 0xFFFF, seem) ||
            !unsignedMember(item, "record", 0xFFFF, record) || record == 0 ||
            !unsignedMember(item, "size", 0xFFFFFFFF, size) || !textMember(item, "pc", s.pc) || !staysInside(s.pc) ||
            !hashMember(item, m.format, s.sha256)) {
            error = "a seem entry is not whole: " + shown(item);
            return false;
        }
        if (!records.insert({seem, record}).second || !paths.insert(foldCase(s.pc)).second) {
            error = "a seem record is listed twice: " + shown(item);
            return false;
        }
        s.seem = static_cast<std::uint16_t>(seem);
        s.record = static_cast<std::uint16_t>(record);
        s.size = static_cast<std::uint32_t>(size);
        m.seems.push_back(std::move(s));
    }
    manifest = std::move(m);
    return true;
}

std::string utcNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[64];
    if (std::strftime(text, sizeof text, format, &parts) == 0) return {};
    return text;
}

} // namespace telvane::backup
