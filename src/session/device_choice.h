#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace telvane {

// The device a program talks to, as its --device option names it:
//   auto                    on Windows the maker's driver where it lists a phone, USB
//                           otherwise; elsewhere the same as usb
//   usb | usb:PATH          a phone on this machine's USB, through libusb (on Windows one
//                           bound to WinUSB)
//   driver                  the phone maker's driver (Windows)
//   virtual[:PROFILE]       the virtual phone, in this process
//   tcp:HOST:PORT           a phone served over the device bridge
struct DeviceChoice {
    enum class Kind { Auto, Usb, Driver, Virtual, Bridge };
    Kind kind = Kind::Driver;
    std::string text;    // as given, for messages
    std::string usbPath; // Usb: "" for every phone, else the interface or device path
    std::string profile; // Virtual: the profile's name
    std::string host;    // Bridge
    std::uint16_t port = 0;
};

inline constexpr const char* kDefaultVirtualProfile = "tree";

// What a program uses when no device is named: on Windows whichever of the maker's driver and
// WinUSB reaches the phone, libusb elsewhere.
#ifdef _WIN32
inline constexpr const char* kDefaultDevice = "auto";
#else
inline constexpr const char* kDefaultDevice = "usb";
#endif

// Nothing, with the reason in error, for a text that names no device. Whether this build can
// reach the device named is openDevicePort's affair.
std::optional<DeviceChoice> parseDeviceChoice(std::string_view text, std::string& error);

} // namespace telvane
