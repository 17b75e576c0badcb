#pragma once
#include <cstdint>

namespace telvane {

// Time as the link sees it: a millisecond tick and a sleep. Injected so that the 40-second
// limits and the watcher's pauses can be tested without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; wraps like a 32-bit tick count.
    virtual std::uint32_t tickMs() = 0;
    // Blocks the calling thread for about ms milliseconds.
    virtual void sleepMs(std::uint32_t ms) = 0;
};

// The real clock (steady, monotonic).
class SteadyClock final : public Clock {
public:
    std::uint32_t tickMs() override;
    void sleepMs(std::uint32_t ms) override;
};

} // namespace telvane
