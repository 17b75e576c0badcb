// telvane-cli's whole-phone commands on a phone with 500 files (2 MiB) in 20 folders and the
// default seem range: a first backup into an empty folder and a restore of it onto a fresh phone,
// each against its floor (the time the protocol's sleeps took: a download's pauses and the
// transaction's 1 ms polls), with the backup layer's hashing, journals and flushes to the disk in
// place. Then each again on a clock whose sleeps take none (what is left is the host's own
// work, the in-process phone's included), and a second backup into the same folder that way.
//
// Each run is a child process of its own, so that its peak resident set (getrusage's ru_maxrss
// at its end) is its own; the in-process phone and its 2 MiB of files are part of it.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_figures.h"
#include "bench/bench_phones.h"
#include "sim/phone_factory.h"
#include "tools/cli/cli.h"

namespace telvane::bench {
namespace {

namespace stdfs = std::filesystem;

constexpr std::size_t kFiles = 500;
constexpr std::size_t kFolders = 20;
constexpr std::size_t kTotalBytes = 2u << 20;
// Within 5% of the time the protocol's own sleeps take.
constexpr double kFloorRatioGoal = 1.05;
const char* const kFloorGoal = "<= 1.05 x the floor";
const char* const kHostGoal = "<= 5% of the wall time in host code";

// Time moves only by the sleeps, which return at once; it adds up what they asked for.
class InstantClock final : public Clock {
public:
    std::uint32_t tickMs() override { return now_.load(); }
    void sleepMs(std::uint32_t ms) override { now_.fetch_add(ms); }
    double askedMs() const { return now_.load(); }

private:
    std::atomic<std::uint32_t> now_{0};
};

sim::PhoneProfile fullPhone() {
    sim::PhoneProfile p = treeFillPhone(kFiles, kFolders);
    p.freeSpace = 16u << 20;
    const std::vector<std::uint8_t> bytes = patternBytes(kTotalBytes / kFiles);
    for (auto& f : p.files) f.bytes = bytes;
    p.seems = sim::treePhoneProfile().seems;
    return p;
}

// The same model with one file of its own (a phone with none cannot be listed): where the
// restore goes.
sim::PhoneProfile freshPhone() {
    sim::PhoneProfile p = fullPhone();
    p.files.resize(1);
    p.files.front().name = "/a/fresh.txt";
    return p;
}

double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss); // KiB on Linux
}

// What one run measured, handed from its child process to the benchmark.
struct Run {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0;
    double floorMs = 0;     // paced: what the sleeps took; unpaced: what they asked for
    double startRssKiB = 0; // the child as it began (a copy of the benchmark's own pages)
    double peakRssKiB = 0;
};

// Runs telvane-cli once in a child process on a phone made from the profile: paced (the
// protocol's sleeps take real time, and are measured) or on the instant clock.
Run runInChild(const std::vector<std::string>& args, const sim::PhoneProfile& profile, bool paced) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t child = fork();
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return {};
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        Run run;
        run.startRssKiB = peakRssKiB();
        SteadyClock steady;
        SleepMeasuringClock measured(steady);
        InstantClock instant;
        Clock& clock = paced ? static_cast<Clock&>(measured) : static_cast<Clock&>(instant);
        std::ostringstream out;
        std::ostringstream err;
        cli::CliEnvironment environment(out, err, clock,
                                        [&profile](const DeviceChoice&, const std::vector<std::string>&, LogSink&,
                                                   std::string&) -> std::unique_ptr<DevicePort> {
                                            return sim::makeVirtualDriver(profile);
                                        });
        environment.defaultDevice = "virtual";
        const Moment start = now();
        const double cpuStart = cpuMs();
        run.ok = cli::runCli(args, environment) == cli::kExitDone;
        run.cpuMs = cpuMs() - cpuStart;
        run.wallMs = msSince(start);
        run.floorMs = paced ? measured.sleptMs() : instant.askedMs();
        run.peakRssKiB = peakRssKiB();
        // The tool's own words on why it failed, for whoever runs the benchmark.
        if (!run.ok) std::fputs(err.str().c_str(), stderr);
        const bool sent = ::write(pipeEnds[1], &run, sizeof run) == static_cast<ssize_t>(sizeof run);
        _exit(sent ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    Run run;
    const bool got = ::read(pipeEnds[0], &run, sizeof run) == static_cast<ssize_t>(sizeof run);
    ::close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return run;
}

std::string mib(double kib) { return fixed(kib / 1024, 1) + " MiB"; }

std::string memoryText(const Run& run) {
    return "peak RSS " + mib(run.peakRssKiB) + " (+" + mib(run.peakRssKiB - run.startRssKiB) + " over its start)";
}

// A paced run against its floor, with its CPU and memory.
void pacedFigure(const std::string& name, const Run& run) {
    floorFigure(name, run.wallMs, run.floorMs, "CPU " + fixed(run.cpuMs / 1000, 2) + " s; " + memoryText(run),
                kFloorRatioGoal);
}

// An unpaced run: its host time as a share of the paced run's.
void hostFigure(const std::string& name, const Run& run, const Run& paced) {
    const double share = paced.wallMs > 0 ? run.wallMs / paced.wallMs : 0;
    figure(name, fixed(run.wallMs, 0) + " ms (" + fixed(share * 100, 1) + "% of the paced run); " + memoryText(run),
           kHostGoal, share > 0 && share <= kFloorRatioGoal - 1);
}

// An unpaced run with no paced one beside it: its host time added to the sleeps it asked for,
// against those sleeps.
void estimatedFigure(const std::string& name, const Run& run) {
    const double ratio = run.floorMs > 0 ? (run.wallMs + run.floorMs) / run.floorMs : 0;
    figure(name,
           "host " + fixed(run.wallMs / 1000, 2) + " s; with the " + fixed(run.floorMs / 1000, 1) +
               " s of sleeps it asks for, " + fixed(ratio, 3) + " x its floor; " + memoryText(run),
           kFloorGoal, ratio > 0 && ratio <= kFloorRatioGoal);
}

} // namespace
} // namespace telvane::bench

int main() {
    using namespace telvane::bench;
    const auto work = stdfs::temp_directory_path() / "telvane-bench-cli";
    const std::string folder = (work / "backup").string();
    const std::string backupName = "telvane-cli backup, 500 files (2 MiB), seems 0000-0300";
    const std::string restoreName = "telvane-cli restore of that backup onto a fresh phone";
    const telvane::sim::PhoneProfile full = fullPhone();
    const telvane::sim::PhoneProfile fresh = freshPhone();
    const std::vector<std::string> backup = {"-q", "backup", folder};
    const std::vector<std::string> restore = {"-q", "restore", folder, "--force"};

    // The restores and the second backup work on the first backup's folder.
    stdfs::remove_all(work);
    const Run pacedBackup = runInChild(backup, full, true);
    const Run pacedRestore = pacedBackup.ok ? runInChild(restore, fresh, true) : Run{};
    const Run unpacedRestore = pacedBackup.ok ? runInChild(restore, fresh, false) : Run{};
    const Run secondBackup = pacedBackup.ok ? runInChild(backup, full, false) : Run{};
    stdfs::remove_all(work);
    const Run unpacedBackup = runInChild(backup, full, false);
    stdfs::remove_all(work);

    const std::string failed = "failed (its errors are on stderr)";
    if (pacedBackup.ok) pacedFigure(backupName + ", into an empty folder", pacedBackup);
    else failedFigure(backupName + ", into an empty folder", failed, kFloorGoal);
    if (unpacedBackup.ok) hostFigure(backupName + ": without the protocol's pauses", unpacedBackup, pacedBackup);
    else failedFigure(backupName + ": without the protocol's pauses", failed, kHostGoal);
    // A second backup reads every file again and links those that did not change: paced it would
    // take as long again as the first, so its host time is added to the sleeps it asks for.
    if (secondBackup.ok) estimatedFigure(backupName + ": a second one into the same folder", secondBackup);
    else failedFigure(backupName + ": a second one into the same folder", failed, kFloorGoal);
    if (pacedRestore.ok) pacedFigure(restoreName, pacedRestore);
    else failedFigure(restoreName, failed, kFloorGoal);
    if (unpacedRestore.ok) hostFigure(restoreName + ": without the protocol's pauses", unpacedRestore, pacedRestore);
    else failedFigure(restoreName + ": without the protocol's pauses", failed, kHostGoal);
    return 0;
}
