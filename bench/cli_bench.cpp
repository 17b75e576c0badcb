// telvane-cli's backup of a phone with 500 files (2 MiB) and the default seem range: how much of
// its wall time goes to host code. Once with the protocol's pauses and polls taking real time,
// once on a clock whose sleeps take none (what is left is the host's own work, the in-process
// phone's included).
#include <atomic>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "bench/bench_phones.h"
#include "sim/phone_factory.h"
#include "tools/cli/cli.h"

namespace telvane::bench {
namespace {

constexpr std::size_t kFiles = 500;
constexpr std::size_t kFolders = 20;
constexpr std::size_t kTotalBytes = 2u << 20;
constexpr double kHostShareGoal = 0.05;

// Time moves only by the sleeps, which return at once.
class InstantClock final : public Clock {
public:
    std::uint32_t tickMs() override { return now_.load(); }
    void sleepMs(std::uint32_t ms) override { now_.fetch_add(ms); }

private:
    std::atomic<std::uint32_t> now_{0};
};

sim::PhoneProfile backupPhone() {
    sim::PhoneProfile p = treeFillPhone(kFiles, kFolders);
    p.freeSpace = 16u << 20;
    const std::vector<std::uint8_t> bytes = patternBytes(kTotalBytes / kFiles);
    for (auto& f : p.files) f.bytes = bytes;
    p.seems = sim::treePhoneProfile().seems;
    return p;
}

double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Run {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0;
};

Run backupOnce(Clock& clock, const std::filesystem::path& folder) {
    std::filesystem::remove_all(folder);
    const sim::PhoneProfile profile = backupPhone();
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
    Run run;
    run.ok = cli::runCli({"-q", "backup", folder.string()}, environment) == cli::kExitDone;
    run.cpuMs = cpuMs() - cpuStart;
    run.wallMs = msSince(start);
    std::filesystem::remove_all(folder);
    return run;
}

} // namespace
} // namespace telvane::bench

int main() {
    using namespace telvane::bench;
    const auto folder = std::filesystem::temp_directory_path() / "telvane-bench-cli";
    const std::string name = "telvane-cli backup, 500 files (2 MiB), seems 0000-0300";
    const std::string goal = "<= 5% of the wall time in host code";

    telvane::SteadyClock steady;
    const Run paced = backupOnce(steady, folder);
    InstantClock instant;
    const Run unpaced = backupOnce(instant, folder);
    if (!paced.ok || !unpaced.ok) {
        failedFigure(name, "the backup failed", goal);
        return 0;
    }
    const double cpuShare = paced.cpuMs / paced.wallMs;
    figure(name + ": CPU of the run",
           fixed(paced.cpuMs, 0) + " ms CPU in " + fixed(paced.wallMs / 1000, 1) + " s (" + fixed(cpuShare * 100, 1) +
               "%)",
           goal, cpuShare <= kHostShareGoal);
    const double unpacedShare = unpaced.wallMs / paced.wallMs;
    figure(name + ": without the protocol's pauses",
           fixed(unpaced.wallMs, 0) + " ms (" + fixed(unpacedShare * 100, 1) + "% of the paced run)", goal,
           unpacedShare <= kHostShareGoal);
    return 0;
}
