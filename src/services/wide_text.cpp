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

std::string utf8Text(std::u16string_view text) {
    std::string out;
    auto put = [&out](std::uint32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            put(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return out;
}

} // namespace telvane
