#pragma once
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/log_sink.h"

namespace telvane::test {

// Records every text appended to the log, in order, from any thread.
class CaptureLog final : public LogSink {
public:
    void appendLog(std::string_view text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.emplace_back(text);
    }
    // Everything appended so far, joined.
    std::string text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string all;
        for (const auto& e : entries_) all += e;
        return all;
    }
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

} // namespace telvane::test
