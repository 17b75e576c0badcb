#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "services/progress.h"

namespace telvane::test {

// Records every call as text: "range 0-5", "pos 2".
class RecordingProgress final : public Progress {
public:
    void setRange(std::uint32_t low, std::uint32_t high) override {
        calls.push_back("range " + std::to_string(low) + "-" + std::to_string(high));
    }
    void setPosition(std::uint32_t position) override { calls.push_back("pos " + std::to_string(position)); }

    std::vector<std::string> calls;
};

} // namespace telvane::test
