#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace telvane {

// The phone's modem port as Windows lists it ("COM7"), whichever driver reaches the phone
// otherwise; "" when none is listed.
std::string findModemPort();
// Writes bytes to a COM port named as findModemPort() names one (a plain device name, never a
// path); true when all were written.
bool writeModemPort(const std::string& port, std::span<const std::uint8_t> bytes);

} // namespace telvane
