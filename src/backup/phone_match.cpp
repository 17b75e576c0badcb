#include "backup/phone_match.h"

#include <vector>

#include "backup/pc_store.h"
#include "session/pc_file_name.h"

namespace telvane::backup {

namespace {
// Records read to compare layouts: enough to tell firmwares apart, few enough to cost a second.
constexpr std::size_t kSampledRecords = 8;
} // namespace

std::string phoneLabel(const std::string& model, const std::string& volumeUtf8) {
    return model + " (" + volumeUtf8 + ")";
}

PhoneMatch matchPhone(const Manifest& manifest, const PhoneIdentity& phone, PhoneFiles& files, bool sampleSeems,
                      std::string& why) {
    const std::string volume = latin1ToUtf8(phone.volume);
    if (manifest.model != phone.model || manifest.volume != volume) {
        why = "its backup is of " + phoneLabel(manifest.model, manifest.volume) + ", the phone is " +
              phoneLabel(phone.model, volume);
        return PhoneMatch::Other;
    }
    const std::size_t count = sampleSeems ? manifest.seems.size() : 0;
    const std::size_t step = count <= kSampledRecords ? 1 : count / kSampledRecords;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < count; i += step) {
        const Manifest::Seem& s = manifest.seems[i];
        const SeemRead read = files.readSeem(s.seem, s.record, bytes);
        const std::string name = seemFileName(s.seem, s.record).substr(0, 9);
        if (read == SeemRead::Failed) {
            why = "cannot read seem record " + name + " to tell which phone this is";
            return PhoneMatch::Unknown;
        }
        const std::size_t size = read == SeemRead::Read ? bytes.size() : 0;
        if (size != s.size) {
            why = "its backup is of another " + manifest.model + ": seem record " + name + " is " +
                  std::to_string(s.size) + " bytes there, " + std::to_string(size) +
                  " on this phone (a phone flashed since may look so too)";
            return PhoneMatch::Other;
        }
    }
    return PhoneMatch::Same;
}

} // namespace telvane::backup
