#pragma once
#include <memory>
#include <string>
#include <vector>

#include "common/log_sink.h"
#include "link/device_port.h"
#include "session/device_choice.h"

namespace telvane {

// The device port for a choice: libusb, the maker's driver (Windows builds), either of them
// (auto), the virtual phone in this process, or the bridge client. usbIds are "VID:PID" texts of
// devices taken for phones besides the maker's (libusb only); the libusb port logs its open
// failures to log. Null, with the reason in error, for a device this build cannot reach (on
// Windows, usb without libusb-1.0.dll) or a bad USB id.
std::unique_ptr<DevicePort> openDevicePort(const DeviceChoice& choice, const std::vector<std::string>& usbIds,
                                           LogSink& log, std::string& error);

} // namespace telvane
