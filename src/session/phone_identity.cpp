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

} // namespace telvane
