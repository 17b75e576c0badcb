#pragma once
#include <string>
#include <string_view>

namespace telvane {

// Where every layer reports: the window's log pane in the program, a capture in tests.
// Texts carry their own line ends; a text without "\r\n" is continued by the next one.
class LogSink {
public:
    virtual ~LogSink() = default;
    // Appends text at the log's caret. May be called from any thread; returns once the text is taken.
    virtual void appendLog(std::string_view text) = 0;
};

// Drops everything (for tools that have nowhere to log).
class NullLog final : public LogSink {
public:
    void appendLog(std::string_view) override {}
};

// Writes every text to standard output as it comes (command-line tools).
class StdoutLog final : public LogSink {
public:
    void appendLog(std::string_view text) override;
};

} // namespace telvane
