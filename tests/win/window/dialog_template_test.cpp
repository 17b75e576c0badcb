#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/byte_reader.h"
#include "ui/win32/resource.h"

namespace telvane::test {
namespace {

// One control of an extended dialog template, as the resource compiler laid it down.
struct TemplateControl {
    int id = 0;
    std::string kind; // "push", "check", "group", "edit", "static", or the window class in lower case
    std::string caption;
    int x = 0, y = 0, cx = 0, cy = 0;
};

std::uint16_t le16(ByteReader& in) {
    const std::uint8_t lo = in.u8();
    return static_cast<std::uint16_t>(lo | (in.u8() << 8));
}
std::uint32_t le32(ByteReader& in) {
    const std::uint32_t lo = le16(in);
    return lo | (std::uint32_t{le16(in)} << 16);
}
// A zero-terminated UTF-16 text (ASCII here), or an ordinal after 0xFFFF (given as "#n").
std::string textOrOrdinal(ByteReader& in) {
    std::uint16_t unit = le16(in);
    if (unit == 0xFFFF) return "#" + std::to_string(le16(in));
    std::string text;
    for (; unit != 0 && in.ok(); unit = le16(in)) text.push_back(static_cast<char>(unit));
    return text;
}
void alignTo4(ByteReader& in, std::size_t size) {
    while (in.ok() && (size - in.remaining()) % 4 != 0) in.u8();
}

std::string kindOf(const std::string& windowClass, std::uint32_t style) {
    if (windowClass == "#128") {
        switch (style & 0x0F) {
        case BS_AUTOCHECKBOX:
            return "check";
        case BS_GROUPBOX:
            return "group";
        default:
            return "push";
        }
    }
    if (windowClass == "#129") return "edit";
    if (windowClass == "#130") return "static";
    // Class names are case-blind (the resource compiler writes them in capitals).
    std::string lower = windowClass;
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower;
}

std::vector<TemplateControl> mainDialogControls() {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (found == nullptr) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
    const std::size_t size = SizeofResource(module, found);
    ByteReader in(std::span<const std::uint8_t>(bytes, size));

    le16(in); // version
    if (le16(in) != 0xFFFF) return {}; // not an extended template
    le32(in); // help id
    le32(in); // extended style
    const std::uint32_t style = le32(in);
    const std::uint16_t count = le16(in);
    for (int i = 0; i < 4; ++i) le16(in); // position and size
    textOrOrdinal(in);                    // menu
    textOrOrdinal(in);                    // class
    textOrOrdinal(in);                    // caption
    if (style & DS_SETFONT) {
        le16(in);
        le16(in);
        in.u8();
        in.u8();
        textOrOrdinal(in);
    }
    std::vector<TemplateControl> controls;
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
        alignTo4(in, size);
        le32(in); // help id
        le32(in); // extended style
        const std::uint32_t controlStyle = le32(in);
        TemplateControl c;
        c.x = static_cast<std::int16_t>(le16(in));
        c.y = static_cast<std::int16_t>(le16(in));
        c.cx = static_cast<std::int16_t>(le16(in));
        c.cy = static_cast<std::int16_t>(le16(in));
        c.id = static_cast<int>(le32(in));
        c.kind = kindOf(textOrOrdinal(in), controlStyle);
        c.caption = textOrOrdinal(in);
        in.bytes(le16(in)); // creation data
        if (in.ok()) controls.push_back(c);
    }
    return controls;
}

bool operator==(const TemplateControl& a, const TemplateControl& b) {
    return a.id == b.id && a.kind == b.kind && a.caption == b.caption && a.x == b.x && a.y == b.y && a.cx == b.cx &&
           a.cy == b.cy;
}
std::ostream& operator<<(std::ostream& out, const TemplateControl& c) {
    return out << c.id << " " << c.kind << " \"" << c.caption << "\" " << c.x << "," << c.y << " " << c.cx << "x"
               << c.cy;
}

TEST(DialogTemplateTest, MainDialog_HoldsItsTwentyNineControlsInTabOrder) {
    const std::vector<TemplateControl> expected = {
        {1008, "syslistview32", "", 180, 2, 332, 164},
        {1001, "push", "Update list", 7, 176, 66, 17},
        {1002, "push", "PC >>> Phone", 7, 195, 66, 12},
        {1005, "push", "Phone >>> PC", 7, 208, 66, 12},
        {1003, "push", "Restart phone", 207, 190, 88, 12},
        {1006, "push", "Delete file(s)", 7, 222, 66, 12},
        {1011, "push", "Download seem", 104, 190, 88, 12},
        {1007, "push", "Suspend phone", 207, 176, 88, 12},
        {1000, "edit", "", 4, 240, 510, 40},
        {1010, "edit", "", 156, 176, 36, 12},
        {1009, "edit", "", 104, 176, 36, 12},
        {-1, "static", "From", 82, 176, 22, 12},
        {-1, "static", "to", 144, 176, 8, 12},
        {-1, "group", "Seem", 79, 167, 120, 70},
        {1012, "push", "Upload seem", 104, 221, 88, 12},
        {1014, "edit", "", 156, 206, 36, 12},
        {1013, "edit", "", 104, 206, 36, 12},
        {-1, "static", "Seem", 82, 206, 22, 12},
        {-1, "static", "rec", 144, 206, 12, 12},
        {-1, "group", "Phone control", 203, 167, 96, 54},
        {-1, "group", "Files", 4, 167, 72, 70},
        {1015, "edit", "", 308, 197, 36, 12},
        {1016, "push", "Change", 348, 197, 50, 12},
        {-1, "group", "Attributes", 302, 181, 100, 40},
        {1018, "msctls_progress32", "", 302, 171, 210, 8},
        {1020, "check", "Autoupdate filelist", 203, 227, 92, 10},
        {1021, "push", "Update ringtones", 207, 204, 88, 12},
        {1004, "systreeview32", "", 6, 2, 168, 164},
        {1017, "push", "About", 463, 225, 50, 12},
    };
    EXPECT_EQ(expected, mainDialogControls());
}

} // namespace
} // namespace telvane::test
