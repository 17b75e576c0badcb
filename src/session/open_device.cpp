#include "session/open_device.h"

#include "bridge/bridge_client.h"
#include "sim/phone_factory.h"

#ifdef _WIN32
#include "platform/win32/win32_device_port.h"
#else
#include "platform/libusb/usb_device_choice.h"
#endif

namespace telvane {

std::unique_ptr<DevicePort> openDevicePort(const DeviceChoice& choice, const std::vector<std::string>& usbIds,
                                           [[maybe_unused]] LogSink& log, std::string& error) {
#ifdef _WIN32
    if (!usbIds.empty() && choice.kind != DeviceChoice::Kind::Usb) {
        error = "--usb-id is for phones reached through libusb, which this build does not have";
        return nullptr;
    }
#endif
    switch (choice.kind) {
    case DeviceChoice::Kind::Virtual: {
        auto profile = sim::selectPhoneProfile(choice.profile, "", error);
        if (!profile) return nullptr;
        return sim::makeVirtualDriver(*profile);
    }
    case DeviceChoice::Kind::Bridge:
        return std::make_unique<BridgeClient>(choice.host, choice.port);
    case DeviceChoice::Kind::Driver:
#ifdef _WIN32
        return std::make_unique<Win32DevicePort>();
#else
        error = "the phone maker's driver is a Windows one: use --device usb here";
        return nullptr;
#endif
    case DeviceChoice::Kind::Usb: {
#ifdef _WIN32
        error = "this build reaches USB phones through the maker's driver: use --device driver";
        return nullptr;
#else
        std::vector<UsbId> ids;
        for (const std::string& text : usbIds) {
            const auto id = parseUsbId(text);
            if (!id) {
                error = "not a USB id: \"" + text + "\"; use VID:PID in hexadecimal, such as 22b8:4902";
                return nullptr;
            }
            ids.push_back(*id);
        }
        return makeUsbDevicePort(choice.text, std::move(ids), log);
#endif
    }
    }
    error = "unknown device \"" + choice.text + "\"";
    return nullptr;
}

} // namespace telvane
