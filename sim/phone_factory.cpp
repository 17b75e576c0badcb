#include "sim/phone_factory.h"

#include "sim/phone_description.h"

namespace telvane::sim {

std::unique_ptr<VirtualPhone> makeVirtualPhone(const PhoneProfile& profile) {
    return std::make_unique<VirtualPhone>(profile);
}

std::unique_ptr<VirtualDriver> makeVirtualDriver(const PhoneProfile& profile) {
    auto driver = std::make_unique<VirtualDriver>(makeVirtualPhone(profile));
    for (const auto& rule : profile.faults) driver->addFault(rule);
    return driver;
}

std::optional<PhoneProfile> selectPhoneProfile(const std::string& profileName, const std::string& descriptionPath,
                                               std::string& error) {
    if (!descriptionPath.empty()) return loadPhoneDescription(descriptionPath, error);
    const std::string name = profileName.empty() ? "tree" : profileName;
    auto profile = builtinPhoneProfile(name);
    if (!profile) {
        error = "unknown phone profile '" + name + "' (built in: ";
        const auto names = builtinPhoneProfileNames();
        for (std::size_t i = 0; i < names.size(); ++i) error += (i ? ", " : "") + names[i];
        error += ")";
    }
    return profile;
}

} // namespace telvane::sim
