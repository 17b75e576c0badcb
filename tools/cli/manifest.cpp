#include "tools/cli/manifest.h"

#include <ctime>

#include <nlohmann/json.hpp>

namespace telvane::cli {

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

// A restore reads these paths: none may reach outside the backup folder.
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

} // namespace

std::string manifestText(const Manifest& manifest) {
    json files = json::array();
    for (const Manifest::File& f : manifest.files)
        files.push_back({{"phone", f.phone}, {"pc", f.pc}, {"size", f.size}, {"attribute", f.attribute}});
    json seems = json::array();
    for (const Manifest::Seem& s : manifest.seems)
        seems.push_back({{"seem", s.seem}, {"record", s.record}, {"size", s.size}, {"pc", s.pc}});
    const json j = {{"format", kManifestFormat}, {"model", manifest.model}, {"volume", manifest.volume},
                    {"time", manifest.time},     {"files", files},          {"seems", seems}};
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool parseManifest(const std::string& text, Manifest& manifest, std::string& error) {
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        error = "not JSON";
        return false;
    }
    std::uint64_t format = 0;
    if (!unsignedMember(j, "format", 1000, format) || format != kManifestFormat) {
        error = "not a manifest of format " + std::to_string(kManifestFormat);
        return false;
    }
    Manifest m;
    if (!textMember(j, "model", m.model) || !textMember(j, "volume", m.volume) || !textMember(j, "time", m.time)) {
        error = "model, volume or time missing";
        return false;
    }
    const auto files = j.find("files");
    const auto seems = j.find("seems");
    if (files == j.end() || !files->is_array() || seems == j.end() || !seems->is_array()) {
        error = "files or seems missing";
        return false;
    }
    for (const json& item : *files) {
        Manifest::File f;
        std::uint64_t size = 0;
        std::uint64_t attribute = 0;
        if (!item.is_object() || !textMember(item, "phone", f.phone) || !textMember(item, "pc", f.pc) ||
            !unsignedMember(item, "size", 0xFFFFFFFE, size) || !unsignedMember(item, "attribute", 0xFFFF, attribute) ||
            f.phone.empty() || !staysInside(f.pc)) {
            error = "a file entry is not whole: " + item.dump(-1, ' ', false, json::error_handler_t::replace);
            return false;
        }
        f.size = static_cast<std::uint32_t>(size);
        f.attribute = static_cast<std::uint16_t>(attribute);
        m.files.push_back(std::move(f));
    }
    for (const json& item : *seems) {
        Manifest::Seem s;
        std::uint64_t seem = 0;
        std::uint64_t record = 0;
        std::uint64_t size = 0;
        if (!item.is_object() || !unsignedMember(item, "seem", 0xFFFF, seem) ||
            !unsignedMember(item, "record", 0xFFFF, record) || record == 0 ||
            !unsignedMember(item, "size", 0xFFFFFFFF, size) || !textMember(item, "pc", s.pc) || !staysInside(s.pc)) {
            error = "a seem entry is not whole: " + item.dump(-1, ' ', false, json::error_handler_t::replace);
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

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace telvane::cli
