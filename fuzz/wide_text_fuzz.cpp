// wideBeToHost on arbitrary units: it stays inside its area and leaves everything after the
// first terminator as it was.

#include <memory>
#include <vector>

#include "fuzz_port.h"
#include "services/wide_text.h"

using namespace telvane;
using namespace telvane::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t units = size / 2;
    auto area = std::make_unique<char16_t[]>(units + 1); // +1: a zero-unit area still has an address
    std::memcpy(area.get(), data, units * 2);
    const std::vector<char16_t> before(area.get(), area.get() + units);

    wideBeToHost(std::span(area.get(), units));

    const std::u16string text = wideText(std::span<const char16_t>(area.get(), units));
    check(text.size() <= units);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint8_t b[2];
        std::memcpy(b, &before[i], 2);
        check(text[i] == readBe16(b));
    }
    if (text.size() < units) {
        check(area[text.size()] == 0);
        for (std::size_t i = text.size() + 1; i < units; ++i) check(area[i] == before[i]);
    }
    return 0;
}
