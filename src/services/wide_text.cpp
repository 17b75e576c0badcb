#include "services/wide_text.h"

#include <cstring>

#include "common/byte_order.h"

namespace telvane {

void wideBeToHost(std::span<char16_t> text) {
    for (char16_t& unit : text) {
        std::uint8_t bytes[2];
        std::memcpy(bytes, &unit, sizeof bytes);
        const std::uint16_t value = readBe16(bytes);
        // The phone ends its texts with any of these; what follows is not text.
        if (value == 0x0000 || value == 0xFFFF || value == 0xFF00 || value == 0x00FF) {
            unit = 0;
            return;
        }
        unit = static_cast<char16_t>(value);
    }
}

std::u16string wideText(std::span<const char16_t> area) {
    std::size_t n = 0;
    while (n < area.size() && area[n] != 0) ++n;
    return std::u16string(area.data(), n);
}

} // namespace telvane
