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

#include "platform/win32/console_code_page.h"
#include "platform/win32/timer_resolution.h"
#else
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "common/clock.h"
#include "session/open_device.h"
#include "services/wide_text.h"
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

// One line typed at a question. False at its end, or once Ctrl+C was pressed: the question then
// ends at once, answered no.
bool readAnswer(std::string& answer) {
#ifdef _WIN32
    // Ctrl+C ends a console read with nothing read.
    return static_cast<bool>(std::getline(std::cin, answer)) && !interrupted.load();
#else
    answer.clear();
    for (;;) {
        if (interrupted.load()) return false;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (c == '\n') return !interrupted.load();
        answer.push_back(c);
    }
#endif
}

#ifdef _WIN32
// Windows's UTF-16 as the UTF-8 the tool takes PC names in.
std::string utf8FromWide(const wchar_t* text) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    std::u16string units;
    for (; *text != 0; ++text) units.push_back(static_cast<char16_t>(*text));
    return telvane::utf8Text(units);
}
#endif

int run(const std::vector<std::string>& args) {
#ifdef _WIN32
    // The transaction polls the phone every millisecond.
    telvane::TimerResolution timerResolution;
    // The tool writes UTF-8.
    telvane::Utf8ConsoleOutput utf8Console;
#endif
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    telvane::SteadyClock clock;
    telvane::cli::CliEnvironment environment{std::cout, std::cerr, clock, &telvane::openDevicePort};
    if (const char* device = std::getenv("TELVANE_DEVICE"); device != nullptr && *device != '\0')
        environment.defaultDevice = device;
    environment.errIsTerminal = isTerminal(stderr);
    const bool askable = isTerminal(stdin);
    environment.canAsk = askable;
    environment.confirm = [askable](const std::string& question) {
        // Without a terminal to answer, nothing is replaced or deleted that was not asked for.
        if (!askable) return false;
        std::cerr << question << " [y/N] " << std::flush;
        std::string answer;
        if (!readAnswer(answer)) {
            std::cerr << "\n";
            return false;
        }
        return answer == "y" || answer == "Y" || answer == "yes";
    };
    environment.interrupted = &interrupted;
    environment.endProcess = [](int status) {
        std::cout.flush();
        std::cerr.flush();
        std::_Exit(status);
    };
    const int status = telvane::cli::runCli(args, environment);
    std::cout.flush();
    return status;
}

} // namespace

#ifdef _WIN32
// The wide command line (linked with -municode): the 8-bit one is in the ANSI code page, which
// cannot hold every PC name.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(utf8FromWide(argv[i]));
    return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
