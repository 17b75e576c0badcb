#include "session/device_choice.h"

#include "link/bridge_address.h"

namespace telvane {

std::optional<DeviceChoice> parseDeviceChoice(std::string_view text, std::string& error) {
    DeviceChoice choice;
    choice.text = std::string(text);
    if (text == "virtual" || (text.starts_with("virtual:") && text.size() > 8)) {
        choice.kind = DeviceChoice::Kind::Virtual;
        choice.profile = text == "virtual" ? kDefaultVirtualProfile : std::string(text.substr(8));
        return choice;
    }
    if (text.starts_with("tcp:")) {
        const auto address = parseBridgeAddress(text);
        if (!address) {
            error = "not a bridge address: \"" + choice.text + "\"; use tcp:HOST:PORT";
            return std::nullopt;
        }
        choice.kind = DeviceChoice::Kind::Bridge;
        choice.host = address->host;
        choice.port = address->port;
        return choice;
    }
    if (text == "auto") {
        choice.kind = DeviceChoice::Kind::Auto;
        return choice;
    }
    if (text == "driver") {
        choice.kind = DeviceChoice::Kind::Driver;
        return choice;
    }
    if (text == "usb" || (text.starts_with("usb:") && text.size() > 4)) {
        choice.kind = DeviceChoice::Kind::Usb;
        choice.usbPath = text == "usb" ? "" : std::string(text.substr(4));
        return choice;
    }
    error = "unknown device \"" + choice.text + "\": use auto, usb[:PATH], driver, virtual[:PROFILE] or tcp:HOST:PORT";
    return std::nullopt;
}

} // namespace telvane
