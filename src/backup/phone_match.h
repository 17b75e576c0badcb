#pragma once
#include <string>

#include "backup/manifest.h"
#include "backup/phone_files.h"

namespace telvane::backup {

// Who the attached phone says it is.
struct PhoneIdentity {
    std::string model;  // UTF-8
    std::string volume; // as the phone spells it (8-bit)
    bool treeMode = false;
};

enum class PhoneMatch { Same, Other, Unknown };

// Whether a backup was made of the attached phone: the same model and volume, and, where the
// backup holds seem records, a sample of them present on the phone at the same sizes (two phones
// of one model whose records differ in layout are told apart; two alike in every record cannot be).
// why says what differs (Other) or what could not be read (Unknown).
// The sample is taken only where asked: a phone flashed since its backup may have records of
// other sizes, and a restore is what such a phone needs.
PhoneMatch matchPhone(const Manifest& manifest, const PhoneIdentity& phone, PhoneFiles& files, bool sampleSeems,
                      std::string& why);

// "ZX-7 (/a)": how a phone is named in messages.
std::string phoneLabel(const std::string& model, const std::string& volumeUtf8);

} // namespace telvane::backup
