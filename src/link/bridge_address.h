#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace telvane {

// Where `--device tcp:HOST:PORT` points.
struct BridgeAddress {
    std::string host;
    std::uint16_t port = 0;
};
// Parses "tcp:HOST:PORT" (HOST may be "[v6 address]"); nothing for anything else.
std::optional<BridgeAddress> parseBridgeAddress(std::string_view option);

} // namespace telvane
