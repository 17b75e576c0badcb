#pragma once
// What the benchmarks share: a clock that measures the time its sleeps take, and the line each
// figure is printed as. scripts/bench.sh collects the lines of every benchmark into one table.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/clock.h"

namespace telvane::bench {

using Seconds = std::chrono::duration<double>;
using Moment = std::chrono::steady_clock::time_point;

inline Moment now() { return std::chrono::steady_clock::now(); }
inline double msSince(Moment start) { return std::chrono::duration<double, std::milli>(now() - start).count(); }

// Passes everything to the real clock and adds up the time spent asleep: the protocol's own
// pauses, which no implementation can make shorter.
class SleepMeasuringClock final : public Clock {
public:
    explicit SleepMeasuringClock(Clock& inner) : inner_(inner) {}
    std::uint32_t tickMs() override { return inner_.tickMs(); }
    void sleepMs(std::uint32_t ms) override {
        const Moment start = now();
        inner_.sleepMs(ms);
        const double took = msSince(start);
        sleptMs_ += took;
        if (ms == 1) {
            ++pollSleeps_;
            pollSleptMs_ += took;
        }
    }
    double sleptMs() const { return sleptMs_; }
    // What one 1 ms sleep (the transaction's) really takes here: about 1.7 ms under Wine.
    double pollSleepMs() const { return pollSleeps_ == 0 ? 1.0 : pollSleptMs_ / static_cast<double>(pollSleeps_); }
    // The sleeps that were not the transaction's 1 ms ones (a download's pauses).
    double pauseMs() const { return sleptMs_ - pollSleptMs_; }
    void reset() {
        sleptMs_ = 0;
        pollSleptMs_ = 0;
        pollSleeps_ = 0;
    }

private:
    Clock& inner_;
    double sleptMs_ = 0;
    double pollSleptMs_ = 0;
    std::uint64_t pollSleeps_ = 0;
};

inline std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// One figure: what was measured, against what, and whether the goal is met.
inline void figure(const std::string& name, const std::string& measured, const std::string& goal, bool met) {
    std::printf("row\t%s\t%s\t%s\t%s\n", name.c_str(), measured.c_str(), goal.c_str(), met ? "met" : "MISSED");
    std::fflush(stdout);
}

// A figure shown for comparison only, with no goal of its own.
inline void comparison(const std::string& name, const std::string& measured, const std::string& note) {
    std::printf("row\t%s\t%s\t%s\t-\n", name.c_str(), measured.c_str(), note.c_str());
    std::fflush(stdout);
}

// A figure that could not be measured at all.
inline void failedFigure(const std::string& name, const std::string& why, const std::string& goal) {
    figure(name, "failed: " + why, goal, false);
}

// A transfer against its floor: the share of its time that went to the protocol's sleeps.
// goalShare 0.7: at least 70% of the speed the sleeps allow.
inline void transferFigure(const std::string& name, double kib, double totalMs, double sleptMs, double goalShare) {
    const double share = totalMs > 0 ? sleptMs / totalMs : 0;
    figure(name,
           fixed(totalMs / kib, 2) + " ms/KiB (sleeps " + fixed(sleptMs / kib, 2) + " ms/KiB, " +
               fixed(share * 100, 0) + "%)",
           ">= " + fixed(goalShare * 100, 0) + "% of what the sleeps allow", share >= goalShare);
}

// A run against its floor, the time the protocol's sleeps took in it: how many times the floor
// its wall time is, with what else the run measured after it.
inline void floorFigure(const std::string& name, double wallMs, double floorMs, const std::string& more,
                        double goalRatio) {
    const double ratio = floorMs > 0 ? wallMs / floorMs : 0;
    figure(name,
           fixed(wallMs / 1000, 1) + " s, " + fixed(ratio, 3) + " x its floor (sleeps " + fixed(floorMs / 1000, 1) +
               " s)" + (more.empty() ? "" : "; " + more),
           "<= " + fixed(goalRatio, 2) + " x the floor", ratio > 0 && ratio <= goalRatio);
}

} // namespace telvane::bench
