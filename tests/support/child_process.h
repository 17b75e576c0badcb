#pragma once
#include <string>
#include <vector>

#include <sys/types.h>

namespace telvane::test {

// A program run as a child process with pipes on its standard input and output (its stderr is
// the test's). Killed when the test ends without having waited for it.
class ChildProcess {
public:
    // argv[0] is the program's path.
    explicit ChildProcess(std::vector<std::string> argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return pid_ > 0; }
    void closeInput();
    void signal(int number);
    // Writes a line to its standard input; false when it could not.
    bool send(const std::string& line);
    // The next line of its output, waiting at most timeoutMs ("" when none came).
    std::string readLine(int timeoutMs = 5000);
    // Its exit status once it has ended within timeoutMs, else -1 (also when a signal ended it).
    // 0 asks without waiting.
    int waitExit(int timeoutMs = 5000);

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
};

// A program run to its end with nothing on its standard input: exit status (-1 when killed
// after timeoutMs, or when it died of a signal) and everything it wrote on stdout and stderr.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};
ProgramRun runProgram(const std::vector<std::string>& argv, int timeoutMs = 30000);

} // namespace telvane::test
