#include "link/bridge_address.h"

#include <algorithm>

namespace telvane {

namespace {

std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v == 0 || v > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(v);
}

} // namespace

std::optional<BridgeAddress> parseBridgeAddress(std::string_view option) {
    constexpr std::string_view kScheme = "tcp:";
    if (option.substr(0, kScheme.size()) != kScheme) return std::nullopt;
    std::string_view rest = option.substr(kScheme.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    auto port = parsePort(rest.substr(colon + 1));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt; // a v6 address must be bracketed, or the port is ambiguous
    }
    if (host.empty() || !port) return std::nullopt;
    if (std::any_of(host.begin(), host.end(), [](char c) { return c == '[' || c == ']' || c == ' ' || c == '\0'; }))
        return std::nullopt;
    return BridgeAddress{std::string(host), *port};
}

} // namespace telvane
