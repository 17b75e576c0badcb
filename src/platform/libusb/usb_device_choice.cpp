#include "platform/libusb/usb_device_choice.h"

namespace telvane {

namespace {
constexpr std::string_view kUsb = "usb";
}

bool isUsbDeviceChoice(std::string_view device) {
    constexpr std::string_view prefix = "usb:";
    return device == kUsb || (device.size() > prefix.size() && device.substr(0, prefix.size()) == prefix);
}

std::unique_ptr<LibusbDevicePort> makeUsbDevicePort(const std::string& device, std::vector<UsbId> extraIds,
                                                    LogSink& log) {
    if (!isUsbDeviceChoice(device)) return nullptr;
    LibusbDevicePort::Settings settings;
    settings.extraIds = std::move(extraIds);
    if (device != kUsb) settings.only = device;
    return std::make_unique<LibusbDevicePort>(std::move(settings), log);
}

} // namespace telvane
