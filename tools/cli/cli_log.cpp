#include "tools/cli/cli_log.h"

namespace telvane::cli {

void CliLog::appendLog(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (char c : text) {
        if (c == '\r') continue;
        if (c != '\n') {
            pending_.push_back(c);
            continue;
        }
        if (echo_) err_ << pending_ << '\n' << std::flush;
        const std::size_t first = pending_.find_first_not_of(' ');
        if (first != std::string::npos) {
            lastLine_ = pending_.substr(first);
            ++lines_;
        }
        pending_.clear();
    }
}

std::size_t CliLog::mark() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string CliLog::causeSince(std::size_t mark) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_ > mark ? lastLine_ : std::string();
}

} // namespace telvane::cli
