#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "services/wide_text.h"

namespace telvane {

// What the window shows of the connected phone. The names arrive as UTF-16BE and are turned
// into host order in place (wideBeToHost); each area holds 128 units (256 bytes).
struct PhoneInfo {
    static constexpr std::size_t kTextUnits = 128;

    std::array<char16_t, kTextUnits> model{};
    std::array<char16_t, kTextUnits> volume{};
    std::uint32_t freeSpace = 0;

    // The model area as bytes, for readSeem to fill.
    std::span<std::uint8_t> modelBytes() {
        return {reinterpret_cast<std::uint8_t*>(model.data()), model.size() * sizeof(char16_t)};
    }
    std::u16string modelText() const { return wideText(model); }
    std::u16string volumeText() const { return wideText(volume); }
};

} // namespace telvane
