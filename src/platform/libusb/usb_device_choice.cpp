#include "platform/libusb/usb_device_choice.h"

namespace telvane {

namespace {
constexpr std::string_view kUsb = "usb";
}

bool isUsbDeviceSpec(std::string_view spec) {
    constexpr std::string_view prefix = "usb:";
    return spec == kUsb || (spec.size() > prefix.size() && spec.substr(0, prefix.size()) == prefix);
}

std::unique_ptr<LibusbDevicePort> makeUsbDevicePort(const std::string& spec, std::vector<UsbId> extraIds,
                                                    LogSink& log) {
    if (!isUsbDeviceSpec(spec)) return nullptr;
    LibusbDevicePort::Settings settings;
    settings.extraIds = std::move(extraIds);
    if (spec != kUsb) settings.only = spec;
    return std::make_unique<LibusbDevicePort>(std::move(settings), log);
}

} // namespace telvane
