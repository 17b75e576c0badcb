#pragma once
#include <span>
#include <string>
#include <string_view>

#include "services/fs_commands.h"
#include "services/phone_info.h"
#include "services/seem_commands.h"
#include "services/wide_text.h"

namespace telvane {

// How far reading a phone's identity came: volume name, then model, then free space.
enum class IdentityRead { VolumeFailed, ModelFailed, FreeSpaceFailed, Complete };

// Reads the volume name, the model (seem 0117 record 1) and the volume's free space into info,
// each into an area of its own first, so a part that cannot be read leaves info's previous
// value of it (and of every later part) as it was. Logs nothing itself.
IdentityRead readPhoneIdentity(FsCommands& fs, SeemCommands& seems, PhoneInfo& info);

// True when the volume name holds a '/' (low bytes of its units, up to the first zero): the
// phone's file names are then paths below the volume, shown as a folder tree.
bool volumeIsPath(std::span<const char16_t> volume);

// The volume name's low bytes up to the first zero, as the phone's path names begin with it.
std::string volumePath(std::span<const char16_t> volume);

} // namespace telvane
