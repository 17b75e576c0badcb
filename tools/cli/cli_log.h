#pragma once
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "common/log_sink.h"

namespace telvane::cli {

// The link's log for a command-line run: echoed to stderr as it comes with -v, and kept line by
// line so a failure can say what the link saw (the last line logged since the operation began).
class CliLog final : public LogSink {
public:
    CliLog(std::ostream& err, bool echo) : err_(err), echo_(echo) {}

    void appendLog(std::string_view text) override;

    // Lines completed so far; an operation notes this before it begins.
    std::size_t mark() const;
    // The last line completed since mark (without its line end), or "" when none was.
    std::string causeSince(std::size_t mark) const;

private:
    std::ostream& err_;
    bool echo_;
    mutable std::mutex mutex_;
    std::string pending_;  // the line not yet ended
    std::string lastLine_; // the last line completed
    std::size_t lines_ = 0;
};

} // namespace telvane::cli
