#pragma once
#include <atomic>
#include <cstdint>

#include "common/clock.h"

namespace telvane::test {

// Time that passes only when someone sleeps: a sleep advances the tick at once.
class FakeClock final : public Clock {
public:
    std::uint32_t tickMs() override { return now_.load(); }
    void sleepMs(std::uint32_t ms) override {
        now_.fetch_add(ms);
        sleeps_.fetch_add(1);
        slept_.fetch_add(ms);
    }
    void advance(std::uint32_t ms) { now_.fetch_add(ms); }
    void set(std::uint32_t ms) { now_.store(ms); }
    std::uint64_t sleepCount() const { return sleeps_.load(); }
    std::uint64_t sleptMs() const { return slept_.load(); }

private:
    std::atomic<std::uint32_t> now_{0};
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<std::uint64_t> slept_{0};
};

} // namespace telvane::test
