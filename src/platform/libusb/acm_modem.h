#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/libusb/usb_names.h"

namespace telvane {

// A phone in modem mode is a CDC-ACM tty. These find such ttys in sysfs and write to them.

// The device nodes ("/dev/ttyACM0", ...) of the ACM ttys whose USB device the filter accepts,
// in the order of their numbers.
std::vector<std::string> findAcmModems(const UsbDeviceFilter& filter);

// Writes bytes to a tty in raw mode, so they reach the device exactly as given (no "\n" to
// "\r\n"). True when all of them were written within limitMs.
bool writeRawTty(const std::string& device, std::span<const std::uint8_t> bytes, std::uint32_t limitMs);

} // namespace telvane
