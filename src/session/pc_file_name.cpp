#include "session/pc_file_name.h"

#include <array>
#include <cstdio>

namespace telvane {

namespace {

bool refusedCharacter(unsigned char c) {
    static constexpr std::string_view kRefused = "\\/:*?\"<>|";
    return c < 0x20 || c == 0x7F || kRefused.find(static_cast<char>(c)) != std::string_view::npos;
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// Windows opens these as devices whatever extension follows, and ignores blanks before it.
bool deviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 4> kFixed = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view device : kFixed)
        if (equalsIgnoringCase(base, device)) return true;
    if (base.size() != 4) return false;
    const std::string_view stem = base.substr(0, 3);
    if (!equalsIgnoringCase(stem, "COM") && !equalsIgnoringCase(stem, "LPT")) return false;
    // COM1-COM9 and LPT1-LPT9, and the superscript digits 1, 2 and 3 of the 8-bit code page.
    const auto digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

} // namespace

std::string pcFileName(std::string_view phoneName) {
    const std::size_t slash = phoneName.rfind('/');
    std::string name(slash == std::string_view::npos ? phoneName : phoneName.substr(slash + 1));
    for (char& c : name)
        if (refusedCharacter(static_cast<unsigned char>(c))) c = '_';
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    if (name.empty()) return "_";
    if (deviceName(name)) name.insert(name.begin(), '_');
    return name;
}

std::string seemFileName(std::uint16_t seem, std::uint16_t record) {
    char name[16];
    std::snprintf(name, sizeof name, "%.4x_%.4x.seem", static_cast<unsigned>(seem), static_cast<unsigned>(record));
    return name;
}

} // namespace telvane
