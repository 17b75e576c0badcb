#include "platform/libusb/usb_names.h"

#include <charconv>

namespace telvane {

namespace {

constexpr std::string_view kPathPrefix = "usb:";
constexpr std::size_t kMaxPortDepth = 7; // the USB hub tier limit

// A whole number of the given base in [0, max]; nothing when text is not exactly that.
std::optional<unsigned> parseNumber(std::string_view text, int base, unsigned max) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
    return value;
}

} // namespace

std::optional<UsbId> parseUsbId(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto vendor = parseNumber(text.substr(0, colon), 16, 0xFFFF);
    const auto product = parseNumber(text.substr(colon + 1), 16, 0xFFFF);
    if (!vendor || !product) return std::nullopt;
    return UsbId{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

bool UsbDeviceFilter::accepts(std::uint16_t vendor, std::uint16_t product) const {
    if (vendor == kPhoneVendorId) return true;
    for (const UsbId& id : extra_)
        if (id.vendor == vendor && id.product == product) return true;
    return false;
}

std::string formatUsbPath(const UsbInterfacePath& path) {
    std::string text(kPathPrefix);
    text += std::to_string(path.bus) + "-";
    for (std::size_t i = 0; i < path.ports.size(); ++i) {
        if (i > 0) text += ".";
        text += std::to_string(path.ports[i]);
    }
    text += ":" + std::to_string(path.interfaceNumber);
    return text;
}

std::optional<UsbInterfacePath> parseUsbPath(std::string_view text) {
    if (text.substr(0, kPathPrefix.size()) != kPathPrefix) return std::nullopt;
    text.remove_prefix(kPathPrefix.size());
    const auto dash = text.find('-');
    const auto colon = text.rfind(':');
    if (dash == std::string_view::npos || colon == std::string_view::npos || colon < dash) return std::nullopt;

    UsbInterfacePath path;
    const auto bus = parseNumber(text.substr(0, dash), 10, 0xFF);
    const auto interfaceNumber = parseNumber(text.substr(colon + 1), 10, 0xFF);
    if (!bus || !interfaceNumber) return std::nullopt;
    path.bus = static_cast<std::uint8_t>(*bus);
    path.interfaceNumber = static_cast<std::uint8_t>(*interfaceNumber);

    std::string_view chain = text.substr(dash + 1, colon - dash - 1);
    while (true) {
        const auto dot = chain.find('.');
        const auto port = parseNumber(chain.substr(0, dot), 10, 0xFF);
        if (!port || path.ports.size() == kMaxPortDepth) return std::nullopt;
        path.ports.push_back(static_cast<std::uint8_t>(*port));
        if (dot == std::string_view::npos) break;
        chain.remove_prefix(dot + 1);
    }
    return path;
}

} // namespace telvane
