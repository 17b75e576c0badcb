// telvane-phonesim: the virtual phone as a separate process, served over the device bridge.
// The program reaches it with `--device tcp:127.0.0.1:PORT`; standard input steers the phone.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_server.h"
#include "sim/fault_plan.h"
#include "sim/phone_factory.h"
#include "sim/virtual_driver.h"

namespace {

using telvane::sim::FaultRule;
using telvane::sim::VirtualDriver;

struct Options {
    std::uint16_t port = 0;
    std::string listen = telvane::BridgeServer::kLoopback;
    std::vector<FaultRule> faults;
    std::string modemPort;
    bool foreign = false;
    bool unplugged = false;
    std::string profile;   // built-in phone ("" = tree)
    std::string phoneFile; // phone description file, preferred over the profile
};

std::optional<std::uint16_t> parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(v);
}

// Every command-line option in one table: name, whether it takes a value, what it does.
// A handler returns false when its value is unusable.
struct OptionRule {
    const char* name;
    const char* value; // the value's name in the usage text; "" for a flag
    std::function<bool(Options&, const std::string&)> apply;
    const char* help;
    bool takesValue() const { return *value != '\0'; }
};

const std::vector<OptionRule>& optionRules() {
    static const std::vector<OptionRule> rules = {
        {"--port", "N",
         [](Options& o, const std::string& v) {
             auto port = parsePort(v);
             if (port) o.port = *port;
             return port.has_value();
         },
         "listen on port N (0 picks a free port; it is printed first)"},
        {"--listen", "ADDRESS", [](Options& o, const std::string& v) { o.listen = v; return !v.empty(); },
         "listen on this numeric address instead of 127.0.0.1 (0.0.0.0: every interface)"},
        {"--fault", "RULE",
         [](Options& o, const std::string& v) {
             auto rule = telvane::sim::parseFaultRule(v);
             if (rule) o.faults.push_back(*rule);
             return rule.has_value();
         },
         "add a fault (repeatable), e.g. status=7@0x36 or noreply#3"},
        {"--modem", "COMx",
         [](Options& o, const std::string& v) {
             o.modemPort = v;
             return !v.empty();
         },
         "the phone starts as a USB modem on that port"},
        {"--foreign", "", [](Options& o, const std::string&) { o.foreign = true; return true; },
         "list a foreign interface before the phone's own"},
        {"--profile", "NAME", [](Options& o, const std::string& v) { o.profile = v; return !v.empty(); },
         "the built-in phone to serve: tree (default) or flat"},
        {"--phone", "FILE", [](Options& o, const std::string& v) { o.phoneFile = v; return !v.empty(); },
         "serve the phone described in FILE"},
        {"--unplugged", "", [](Options& o, const std::string&) { o.unplugged = true; return true; },
         "start with the phone unplugged"},
    };
    return rules;
}

void printUsage(std::FILE* to) {
    std::fprintf(to, "usage: telvane-phonesim [options]\n");
    for (const auto& rule : optionRules()) {
        const std::string synopsis = std::string(rule.name) + " " + rule.value;
        std::fprintf(to, "  %-16s %s\n", synopsis.c_str(), rule.help);
    }
    std::fprintf(to, "commands on standard input: plug, unplug, fault RULE, clearfaults, status, quit\n"
                         "(after the end of standard input it serves on until quit or a signal)\n");
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const OptionRule* found = nullptr;
        for (const auto& rule : optionRules())
            if (arg == rule.name) found = &rule;
        if (found == nullptr) {
            std::fprintf(stderr, "unknown option: %s\n", arg.c_str());
            return std::nullopt;
        }
        std::string value;
        if (found->takesValue()) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", found->name);
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (!found->apply(options, value)) {
            std::fprintf(stderr, "bad value for %s: %s\n", found->name, value.c_str());
            return std::nullopt;
        }
    }
    return options;
}

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Set by SIGINT and SIGTERM, and by the console's "quit".
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int) { stopRequested.store(true); }

// Runs console commands until "quit" (which asks the program to end) or the end of input (which
// does not: started in the background, the simulator goes on serving).
void console(VirtualDriver& driver) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (word.empty()) continue;
        if (word == "quit") {
            stopRequested.store(true);
            return;
        }
        if (word == "plug") {
            driver.plug();
        } else if (word == "unplug") {
            driver.unplug();
        } else if (word == "fault") {
            if (auto rule = telvane::sim::parseFaultRule(arg)) {
                driver.addFault(*rule);
            } else {
                std::fprintf(stderr, "bad fault rule: %s\n", arg.c_str());
            }
        } else if (word == "clearfaults") {
            driver.clearFaults();
        } else if (word == "status") {
            say("plugged=" + std::to_string(driver.isPlugged() ? 1 : 0) +
                " commands=" + std::to_string(driver.commandCount()));
        } else {
            std::fprintf(stderr, "unknown command: %s\n", word.c_str());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") {
        printUsage(stdout);
        return 0;
    }
    auto options = parseOptions(argc, argv);
    if (!options) {
        printUsage(stderr);
        return 2;
    }

    std::string error;
    auto profile = telvane::sim::selectPhoneProfile(options->profile, options->phoneFile, error);
    if (!profile) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    auto phoneDriver = telvane::sim::makeVirtualDriver(*profile);
    VirtualDriver& driver = *phoneDriver;
    if (!options->modemPort.empty()) driver.setModemPort(options->modemPort);
    driver.setForeignInterface(options->foreign);
    for (const auto& rule : options->faults) driver.addFault(rule);
    if (options->unplugged) driver.unplug();

    telvane::BridgeServer server(driver, [&driver] { driver.shutdown(); });
    if (!server.start(options->port, options->listen)) {
        std::fprintf(stderr, "cannot listen on %s port %u\n", options->listen.c_str(),
                     static_cast<unsigned>(options->port));
        return 1;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    say(std::to_string(server.port()));

    // The console reads on a thread of its own, so a signal ends the program even while it waits
    // for a line.
    std::thread(console, std::ref(driver)).detach();
    while (!stopRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.stop();
    std::fflush(stdout);
    // Not a return: the console thread may still be blocked reading standard input, and the
    // normal exit would wait for the stream it holds.
    std::_Exit(0);
}
