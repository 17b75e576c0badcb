#include "session/phone_identity.h"

#include <array>
#include <cstdint>

namespace telvane {

IdentityRead readPhoneIdentity(FsCommands& fs, SeemCommands& seems, PhoneInfo& info) {
    std::array<char16_t, fs::kMaxVolumeUnits> volume{};
    if (fs.FsVolumeName(volume) != 0) return IdentityRead::VolumeFailed;
    wideBeToHost(volume);
    info.volume = volume;

    std::array<char16_t, PhoneInfo::kTextUnits> model{};
    std::uint32_t modelSize = 0;
    const std::span<std::uint8_t> modelBytes(reinterpret_cast<std::uint8_t*>(model.data()), sizeof model);
    if (seems.readSeem(seem::kModelSeem, seem::kModelRecord, modelBytes, modelSize) != 0)
        return IdentityRead::ModelFailed;
    wideBeToHost(model);
    info.model = model;

    std::uint32_t freeSpace = 0;
    if (fs.FsFreeSpace(info.volume, freeSpace) != 0) return IdentityRead::FreeSpaceFailed;
    info.freeSpace = freeSpace;
    return IdentityRead::Complete;
}

bool volumeIsPath(std::span<const char16_t> volume) {
    for (char16_t unit : volume) {
        if ((unit & 0xFF) == 0) break;
        if ((unit & 0xFF) == '/') return true;
    }
    return false;
}

std::string volumePath(std::span<const char16_t> volume) {
    std::string path;
    for (char16_t unit : volume) {
        const auto low = static_cast<char>(unit & 0xFF);
        if (low == '\0') break;
        path.push_back(low);
    }
    return path;
}

std::string utf8Text(std::u16string_view text) {
    std::string out;
    auto put = [&out](std::uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            put(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return out;
}

} // namespace telvane
