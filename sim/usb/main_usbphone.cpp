// telvane-usbphone: the virtual phone on an emulated USB bus, for trying the programs that
// reach real phones through libusb without one:
//   telvane-usbphone [--profile NAME | --phone FILE] [--modem] -- COMMAND [ARGS...]
// runs COMMAND with umockdev's preload library, so that its libusb finds the phone (as
// usb:1-4:8; with --modem it first shows up as /dev/ttyACM0). Standard input steers the phone:
// plug, unplug, quit. SIGTERM and SIGINT are passed on to COMMAND. Exits with COMMAND's status
// once it ends.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/phone_factory.h"
#include "sim/usb/emulated_usb_phone.h"
#include "sim/usb/preload.h"

extern char** environ;

namespace {

constexpr int kConsolePollMs = 200;

volatile sig_atomic_t commandPid = 0;

// Asked to end (a script ending what it started): the command ends first, then we do.
void passOn(int signal) {
    if (commandPid > 0) kill(commandPid, signal);
}

int usage() {
    std::fprintf(stderr, "usage: telvane-usbphone [--profile NAME | --phone FILE] [--modem] -- COMMAND [ARGS...]\n"
                         "commands on standard input: plug, unplug, quit\n");
    return 2;
}

// The child's exit status once it has ended, -1 while it runs.
int exitStatus(pid_t child, bool wait) {
    int status = 0;
    if (waitpid(child, &status, wait ? 0 : WNOHANG) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv) {
    // The testbed's uevents reach libusb only through the preload library, in this process too.
    if (!telvane::sim::runUnderUmockdevPreload(argv)) return 1;
    std::string profileName;
    std::string phoneFile;
    bool modem = false;
    int command = 1;
    for (; command < argc && std::strcmp(argv[command], "--") != 0; ++command) {
        const std::string arg = argv[command];
        if (arg == "--modem") {
            modem = true;
        } else if ((arg == "--profile" || arg == "--phone") && command + 1 < argc) {
            (arg == "--profile" ? profileName : phoneFile) = argv[++command];
        } else {
            return usage();
        }
    }
    if (++command >= argc) return usage();

    std::string error;
    const auto profile = telvane::sim::selectPhoneProfile(profileName, phoneFile, error);
    if (!profile) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    auto driver = telvane::sim::makeVirtualDriver(*profile);
    if (modem) driver->setModemPort(telvane::sim::EmulatedUsbPhone::kModemNode);
    telvane::sim::EmulatedUsbPhone bus(*driver);
    if (!bus.ready()) {
        std::fprintf(stderr, "cannot make the emulated USB bus\n");
        return 1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0); // the console is ours
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, argv[command], &actions, nullptr, argv + command, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot run %s: %s\n", argv[command], std::strerror(spawned));
        return 127;
    }

    commandPid = child;
    struct sigaction forward{};
    forward.sa_handler = passOn;
    sigaction(SIGTERM, &forward, nullptr);
    sigaction(SIGINT, &forward, nullptr);

    bool console = true;
    for (;;) {
        const int status = exitStatus(child, false);
        if (status >= 0) return status;
        pollfd input{0, POLLIN, 0};
        if (!console || ::poll(&input, 1, kConsolePollMs) <= 0) {
            if (!console) ::poll(nullptr, 0, kConsolePollMs);
            continue;
        }
        std::string line;
        if (!std::getline(std::cin, line)) {
            console = false;
            continue;
        }
        if (line == "plug") {
            bus.plug();
        } else if (line == "unplug") {
            bus.unplug();
        } else if (line == "quit") {
            kill(child, SIGTERM);
            return exitStatus(child, true);
        } else if (!line.empty()) {
            std::fprintf(stderr, "unknown command: %s\n", line.c_str());
        }
    }
}
