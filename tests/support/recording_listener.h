#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "link/connection_watcher.h"

namespace telvane::test {

// Records link changes as the window would receive them, and lets a test wait for them.
class RecordingListener final : public LinkStateListener {
public:
    void onLinkState(int state) override {
        std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(state);
        changed_.notify_all();
    }
    // Waits (real time, bounded) until n changes have arrived.
    bool waitFor(std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return states_.size() >= n; });
    }
    std::vector<int> states() {
        std::lock_guard<std::mutex> lock(mutex_);
        return states_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> states_;
};

} // namespace telvane::test
