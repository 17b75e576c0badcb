#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/log_sink.h"
#include "platform/libusb/libusb_device_port.h"
#include "platform/libusb/usb_names.h"

namespace telvane {

// True for "usb" and "usb:PATH".
bool isUsbDeviceChoice(std::string_view device);

// The libusb port for "usb" (every phone) or "usb:PATH" (only that interface, "usb:1-4:8", or
// that device's interfaces, "usb:1-4"); null for any other choice. extraIds are the `--usb-id`
// devices taken besides the maker's; the port logs its open failures to log.
std::unique_ptr<LibusbDevicePort> makeUsbDevicePort(const std::string& device, std::vector<UsbId> extraIds,
                                                    LogSink& log);

} // namespace telvane
