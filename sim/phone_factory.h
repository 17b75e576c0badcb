#pragma once
#include <memory>
#include <optional>
#include <string>

#include "sim/phone_profile.h"
#include "sim/virtual_driver.h"
#include "sim/virtual_phone.h"

namespace telvane::sim {

// A phone made from a profile (which must pass checkProfile). Its faults are the driver's
// affair: makeVirtualDriver puts them in force.
std::unique_ptr<VirtualPhone> makeVirtualPhone(const PhoneProfile& profile);
// A driver with the profile's phone behind it and the profile's faults in force.
std::unique_ptr<VirtualDriver> makeVirtualDriver(const PhoneProfile& profile);

// The phone a command line asks for: a description file when one is named, else the built-in
// profile of that name ("" means "tree"). Nothing on failure, with error saying why.
std::optional<PhoneProfile> selectPhoneProfile(const std::string& profileName, const std::string& descriptionPath,
                                               std::string& error);

} // namespace telvane::sim
