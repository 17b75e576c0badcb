#pragma once
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace telvane {

// Turns the phone's UTF-16BE text into host order, in place. The walk ends at the first unit
// that reads 0x0000, 0xFFFF, 0xFF00 or 0x00FF (replaced by a 0 unit), and never goes past the
// end of the area, so a text that fills its area without a terminator stays unterminated.
void wideBeToHost(std::span<char16_t> text);

// The host-order text in an area: its units up to the first 0 unit, or up to the area's end.
std::u16string wideText(std::span<const char16_t> area);

// UTF-8 of a host-order UTF-16 text (units that are no valid UTF-16 become U+FFFD).
std::string utf8Text(std::u16string_view text);

} // namespace telvane
