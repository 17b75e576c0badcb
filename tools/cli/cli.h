#pragma once
#include <atomic>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/log_sink.h"
#include "link/device_port.h"
#include "session/device_choice.h"

namespace telvane::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;   // an operation failed (the others went on)
inline constexpr int kExitUsage = 2;    // nothing was sent to the phone
inline constexpr int kExitNoPhone = 3;  // no phone within --wait seconds

// What a run of the tool works with: the process's streams and terminal, its clock, how a
// device is opened, and where the user's answers and interruptions come from. main() gives the
// real ones; tests give a shared virtual phone, a fake clock and captured streams.
struct CliEnvironment {
    using PortOpener = std::function<std::unique_ptr<DevicePort>(const DeviceChoice&, const std::vector<std::string>&,
                                                                 LogSink&, std::string&)>;
    CliEnvironment(std::ostream& out, std::ostream& err, Clock& clock, PortOpener openPort)
        : out(out), err(err), clock(clock), openPort(std::move(openPort)) {}

    std::ostream& out;
    std::ostream& err;
    Clock& clock;
    PortOpener openPort;
    // The device when --device is not given (TELVANE_DEVICE or the build's default).
    std::string defaultDevice = kDefaultDevice;
    // Whether stderr shows progress (a terminal), and how a question is answered (false: no).
    bool errIsTerminal = false;
    std::function<bool(const std::string& question)> confirm;
    // Whether a person is there to answer (a terminal): without one nothing is asked.
    bool canAsk = false;
    // Where seem set saves each record before it changes it ("" for the user's state folder).
    std::filesystem::path undoFolder;
    // Set once the user has interrupted the program (Ctrl+C).
    const std::atomic<bool>* interrupted = nullptr;
    // Ends the process with a status (`watch` ends so: its watcher may wait on a phone that
    // stays). Unset in tests, whose ports let the watcher go.
    std::function<void(int)> endProcess;
};

// One run of telvane-cli with these arguments (without the program's name); its exit status.
int runCli(const std::vector<std::string>& args, CliEnvironment& environment);

} // namespace telvane::cli
