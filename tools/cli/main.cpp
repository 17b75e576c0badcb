// telvane-cli: the phone's files and seems from the command line (see `telvane-cli --help`).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>

#include "platform/win32/timer_resolution.h"
#else
#include <unistd.h>
#endif

#include "common/clock.h"
#include "session/open_device.h"
#include "tools/cli/cli.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    // A second Ctrl+C ends at once; the first lets the transfer close the phone file.
    if (interrupted.exchange(true)) std::_Exit(telvane::cli::kExitFailed);
}

bool isTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The transaction polls the phone every millisecond.
    telvane::TimerResolution timerResolution;
#endif
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    telvane::SteadyClock clock;
    telvane::cli::CliEnvironment environment{std::cout, std::cerr, clock, &telvane::openDevicePort};
    if (const char* device = std::getenv("TELVANE_DEVICE"); device != nullptr && *device != '\0')
        environment.defaultDevice = device;
    environment.errIsTerminal = isTerminal(stderr);
    const bool askable = isTerminal(stdin);
    environment.confirm = [askable](const std::string& question) {
        // Without a terminal to answer, nothing is replaced or deleted that was not asked for.
        if (!askable) return false;
        std::cerr << question << " [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        return answer == "y" || answer == "Y" || answer == "yes";
    };
    environment.interrupted = &interrupted;
    environment.endProcess = [](int status) {
        std::cout.flush();
        std::cerr.flush();
        std::_Exit(status);
    };
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = telvane::cli::runCli(args, environment);
    std::cout.flush();
    return status;
}
