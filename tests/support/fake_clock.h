#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

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
        if (recording_) {
            std::lock_guard<std::mutex> lock(mutex_);
            recorded_.push_back(ms);
        }
        if (hook_) hook_(ms);
    }
    // Keeps every sleep's length (set before any thread uses the clock).
    void recordSleeps() { recording_ = true; }
    std::vector<std::uint32_t> recordedSleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return recorded_;
    }
    // Called after every sleep, on the sleeping thread (set before any thread uses the clock).
    void setSleepHook(std::function<void(std::uint32_t)> hook) { hook_ = std::move(hook); }
    void advance(std::uint32_t ms) { now_.fetch_add(ms); }
    void set(std::uint32_t ms) { now_.store(ms); }
    std::uint64_t sleepCount() const { return sleeps_.load(); }
    std::uint64_t sleptMs() const { return slept_.load(); }

private:
    std::atomic<std::uint32_t> now_{0};
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<std::uint64_t> slept_{0};
    bool recording_ = false;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> recorded_;
    std::function<void(std::uint32_t)> hook_;
};

} // namespace telvane::test
