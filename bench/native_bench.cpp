// The native figures: transfers and the file list on the in-process virtual phone, the host's
// CPU per MiB moved, and telvane-phonesim's start with a phone of 10,000 files.
//   telvane-bench-native [PATH-OF-TELVANE-PHONESIM]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_phones.h"
#include "link/discovery.h"
#include "services/progress.h"
#include "sim/virtual_driver.h"
#include "session/phone_session.h"

extern char** environ;

namespace telvane::bench {
namespace {

constexpr double kSleepShareGoal = 0.7;
constexpr double kCpuPerMibGoalMs = 100;
constexpr double kPhonesimStartGoalMs = 200;
constexpr std::size_t kTransferBytes = 1u << 20;

class IgnoreLinkState final : public LinkStateListener {
public:
    void onLinkState(int) override {}
};

class NoProgress final : public Progress {
public:
    void setRange(std::uint32_t, std::uint32_t) override {}
    void setPosition(std::uint32_t) override {}
};

double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// A connected session on an in-process virtual phone, with the real clock.
struct Bench {
    explicit Bench(const sim::PhoneProfile& profile)
        : driver(std::make_unique<sim::VirtualPhone>(profile)), clock(steady),
          session(driver, clock, log, listener) {
        findPhoneInterface(driver, session.link, session.channel);
        session.link.setConnected(session.link.handle() != 0);
    }
    bool connected() const { return session.link.isConnected(); }

    sim::VirtualDriver driver;
    SteadyClock steady;
    SleepMeasuringClock clock;
    NullLog log;
    IgnoreLinkState listener;
    PhoneSession session;
};

void transfers() {
    const std::string down = "Download 1 MiB, in-process virtual phone";
    const std::string up = "Upload 1 MiB, in-process virtual phone";
    const std::string cpu = "Host CPU per MiB moved (download and upload)";
    const std::string goal = ">= 70% of what the sleeps allow";
    const std::vector<std::uint8_t> content = patternBytes(kTransferBytes);
    Bench bench(transferPhone(content));
    if (!bench.connected()) {
        failedFigure(down, "no phone", goal);
        return;
    }
    FsCommands& fs = bench.session.fs;
    const double kib = kTransferBytes / 1024.0;
    const double cpuStart = cpuMs();

    std::vector<std::uint8_t> read(kTransferBytes);
    bench.clock.reset();
    Moment start = now();
    const bool downloaded = fs.FsOpen(kTransferName, 0) == 0 && fs.FsSeek(0, 0) == 0 && fs.FsRead(read) == 0 &&
                            fs.FsClose() == 0 && read == content;
    const double downMs = msSince(start);
    const double downSlept = bench.clock.sleptMs();
    if (downloaded) {
        transferFigure(down, kib, downMs, downSlept, kSleepShareGoal);
    } else {
        failedFigure(down, "the bytes read are not the file's", goal);
    }

    bench.clock.reset();
    start = now();
    const bool uploaded = fs.FsOpen("up.bin", 0) == 0 && fs.FsWrite(content) == 0 && fs.FsClose() == 0;
    const double upMs = msSince(start);
    const double upSlept = bench.clock.sleptMs();
    const bool arrived = bench.driver.withPhone([&](sim::VirtualPhone& p) {
        const sim::PhoneFile* f = p.fileSystem().find("up.bin");
        return f != nullptr && f->bytes == content;
    });
    if (uploaded && arrived) {
        transferFigure(up, kib, upMs, upSlept, kSleepShareGoal);
    } else {
        failedFigure(up, "the phone's file is not the bytes sent", goal);
    }

    const double perMib = (cpuMs() - cpuStart) / 2;
    figure(cpu, fixed(perMib, 1) + " ms CPU/MiB", "<= " + fixed(kCpuPerMibGoalMs, 0) + " ms CPU/MiB",
           downloaded && uploaded && perMib <= kCpuPerMibGoalMs);
}

void listRead(const std::string& name, const sim::PhoneProfile& profile) {
    const std::string goal = ">= 70% of what the sleeps allow";
    Bench bench(profile);
    NoProgress progress;
    bench.clock.reset();
    const Moment start = now();
    const int result = bench.connected() ? bench.session.files.readFileList(bench.session.fs, progress) : -1;
    const double ms = msSince(start);
    if (result != 0 || bench.session.files.count() != profile.files.size()) {
        failedFigure(name, "the list was not read whole", goal);
        return;
    }
    const double share = bench.clock.sleptMs() / ms;
    figure(name, fixed(ms, 0) + " ms (sleeps " + fixed(bench.clock.sleptMs(), 0) + " ms, " + fixed(share * 100, 0) + "%)",
           goal, share >= kSleepShareGoal);
}

// From starting telvane-phonesim to the port it prints once the phone is loaded and served.
void phonesimStart(const std::string& program) {
    const std::string name = "telvane-phonesim start, 10,000 files in 100 folders";
    const std::string goal = "<= " + fixed(kPhonesimStartGoalMs, 0) + " ms";
    char folder[] = "/tmp/telvane-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        failedFigure(name, "no temporary folder", goal);
        return;
    }
    const std::string path = std::string(folder) + "/large.phone";
    {
        std::ofstream out(path);
        out << phoneDescription(treeFillPhone(10000, 100));
    }
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        failedFigure(name, "no pipes", goal);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::vector<std::string> args = {program, "--port", "0", "--phone", path};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const Moment start = now();
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    std::string line;
    char c = 0;
    while (spawned == 0 && read(fromChild[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    const double ms = msSince(start);
    if (spawned == 0) {
        const char quit[] = "quit\n";
        if (write(toChild[1], quit, sizeof quit - 1) < 0) kill(child, SIGTERM);
    }
    close(toChild[1]);
    close(fromChild[0]);
    if (spawned == 0) waitpid(child, nullptr, 0);
    std::remove(path.c_str());
    rmdir(folder);
    if (spawned != 0 || line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
        failedFigure(name, "it printed no port", goal);
        return;
    }
    figure(name, fixed(ms, 0) + " ms", goal, ms <= kPhonesimStartGoalMs);
}

} // namespace
} // namespace telvane::bench

int main(int argc, char** argv) {
    using namespace telvane::bench;
    transfers();
    listRead("Read a 10,000-record list, 268-byte records", treeFillPhone(10000, 100));
    listRead("Read a 10,000-record list, 44-byte records", flatFillPhone(10000));
    if (argc > 1) phonesimStart(argv[1]);
    return 0;
}
