#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvane {

// The phone maker's USB vendor id: every device of this vendor is looked at.
inline constexpr std::uint16_t kPhoneVendorId = 0x22B8;

// A device the user names besides the maker's (`--usb-id 22b8:4902`).
struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbId&) const = default;
};
// Parses "VVVV:PPPP" (one to four hexadecimal digits each); nothing for anything else.
std::optional<UsbId> parseUsbId(std::string_view text);

// Which devices are the phone's: the maker's vendor id, or one of the ids the user added.
class UsbDeviceFilter {
public:
    explicit UsbDeviceFilter(std::vector<UsbId> extra = {}) : extra_(std::move(extra)) {}
    bool accepts(std::uint16_t vendor, std::uint16_t product) const;

private:
    std::vector<UsbId> extra_;
};

// Where an interface sits: bus number, the chain of hub ports from the root, interface number.
// Stable while the phone stays in the same socket, unlike the device's address.
struct UsbInterfacePath {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports; // at least one
    std::uint8_t interfaceNumber = 0;
    bool operator==(const UsbInterfacePath&) const = default;
};
// "usb:BUS-PORT[.PORT...]:INTERFACE", e.g. "usb:1-4.2:8".
std::string formatUsbPath(const UsbInterfacePath& path);
// The reverse of formatUsbPath; nothing for a text it cannot have made.
std::optional<UsbInterfacePath> parseUsbPath(std::string_view text);

} // namespace telvane
