#include "ui/view_controls.h"

namespace telvane {

std::string latin1Text(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t unit : text) out.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    return out;
}

} // namespace telvane
