#pragma once

namespace telvane {

// Sets the console's output code page to UTF-8 while it lives, so phone and PC names outside
// the ANSI code page show as they are; gives the previous one back at the end. Does nothing
// for output that is not a console.
class Utf8ConsoleOutput {
public:
    Utf8ConsoleOutput();
    ~Utf8ConsoleOutput();
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

private:
    unsigned previous_ = 0;
};

} // namespace telvane
