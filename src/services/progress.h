#pragma once
#include <cstdint>

namespace telvane {

// Where a long operation shows how far it has come: the window's progress bar in the program,
// a recorder in tests. Positions lie within the last range set.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void setRange(std::uint32_t low, std::uint32_t high) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
};

// Shows nothing (for callers without a progress bar).
class NullProgress final : public Progress {
public:
    void setRange(std::uint32_t, std::uint32_t) override {}
    void setPosition(std::uint32_t) override {}
};

} // namespace telvane
