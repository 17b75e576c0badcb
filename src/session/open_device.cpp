#include "session/open_device.h"

#include "bridge/bridge_client.h"
#include "platform/libusb/usb_device_choice.h"
#include "sim/phone_factory.h"

#ifdef _WIN32
#include "link/either_device_port.h"
#include "platform/win32/win32_device_port.h"
#endif

namespace telvane {

namespace {

std::unique_ptr<LibusbDevicePort> openUsbPort(const std::string& device, const std::vector<std::string>& usbIds,
                                              LogSink& log, std::string& error) {
    std::vector<UsbId> ids;
    for (const std::string& text : usbIds) {
        const auto id = parseUsbId(text);
        if (!id) {
            error = "not a USB id: \"" + text + "\"; use VID:PID in hexadecimal, such as 22b8:4902";
            return nullptr;
        }
        ids.push_back(*id);
    }
    return makeUsbDevicePort(device, std::move(ids), log);
}

} // namespace

std::unique_ptr<DevicePort> openDevicePort(const DeviceChoice& choice, const std::vector<std::string>& usbIds,
                                           LogSink& log, std::string& error) {
#ifdef _WIN32
    if (!usbIds.empty() && choice.kind != DeviceChoice::Kind::Usb && choice.kind != DeviceChoice::Kind::Auto) {
        error = "--usb-id is for phones reached through USB (--device usb or auto)";
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
    case DeviceChoice::Kind::Auto: {
#ifdef _WIN32
        auto usb = openUsbPort("usb", usbIds, log, error);
        if (!usb) return nullptr;
        std::string unavailable = usb->unavailableReason();
        return std::make_unique<EitherDevicePort>(std::make_unique<Win32DevicePort>(), "the maker's driver",
                                                  std::move(usb), "USB (WinUSB)", std::move(unavailable), log);
#else
        return openUsbPort("usb", usbIds, log, error);
#endif
    }
    case DeviceChoice::Kind::Usb: {
        auto usb = openUsbPort(choice.text, usbIds, log, error);
#ifdef _WIN32
        // Forced on the user's word: better said now than a wait for a phone that cannot come.
        if (usb && !usb->started()) {
            error = "USB is unavailable: " + usb->unavailableReason() + "; use --device driver for the maker's driver";
            return nullptr;
        }
#endif
        return usb;
    }
    }
    error = "unknown device \"" + choice.text + "\"";
    return nullptr;
}

} // namespace telvane
